#include "engine/checksum.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/bytes.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morph {

namespace {

// The reflected 0xEDB88320 CRC eight bytes at a time ("slicing by 8"):
// table k gives the CRC of a byte followed by k zero bytes. Frames are short,
// and on them this runs several times faster than zlib's crc32.
using Crc32Tables = std::array<std::array<uint32_t, 256>, 8>;

Crc32Tables MakeCrc32Tables() {
  Crc32Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    t[0][i] = v;
  }
  for (size_t k = 1; k < 8; ++k)
    for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

const Crc32Tables kCrc32 = MakeCrc32Tables();

// The running CRC (neither inverted on entry nor on exit) over `length` bytes.
uint32_t UpdateCrc32(uint32_t crc, const uint8_t* data, size_t length) {
  const Crc32Tables& t = kCrc32;
  for (; length >= 8; data += 8, length -= 8) {
    const uint32_t one = GetLE32(data) ^ crc, two = GetLE32(data + 4);
    crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
          t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
  }
  if (length >= 4) {
    const uint32_t one = GetLE32(data) ^ crc;
    crc = t[3][one & 0xFF] ^ t[2][(one >> 8) & 0xFF] ^ t[1][(one >> 16) & 0xFF] ^ t[0][one >> 24];
    data += 4;
    length -= 4;
  }
  for (; length > 0; ++data, --length) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
// The same running CRC folded with carry-less multiplication, 64 bytes at a
// time while 64 are left and then 16, then the last 1 to 15 bytes, and
// reduced to 32 bits (Barrett); length is at least 32. The constants are
// powers of x modulo the polynomial, in the bit-reflected order of the CRC.
#define MORPH_CARRYLESS __attribute__((target("pclmul,sse4.1")))
inline __m128i Load128(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
// 128 bits moved on by the distance the constant pair stands for.
MORPH_CARRYLESS inline __m128i Fold128(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}
// The constant pair that moves a 16-byte block on by `bytes` bytes: x to the
// powers 8 * bytes + 32 and 8 * bytes - 32 modulo the polynomial, bit-reflected
// and shifted left by one, as the folds take them.
struct FoldPair {
  uint64_t lo, hi;
};
constexpr uint64_t ReflectedPowerOfX(int power) {
  uint64_t r = 1;
  for (int i = 0; i < power; ++i) {
    r <<= 1;
    if (r >> 32) r ^= 0x104C11DB7;
  }
  uint64_t reflected = 0;
  for (int bit = 0; bit < 32; ++bit) reflected |= ((r >> bit) & 1) << (31 - bit);
  return reflected << 1;
}
constexpr FoldPair FoldBy(int bytes) {
  return {ReflectedPowerOfX(8 * bytes + 32), ReflectedPowerOfX(8 * bytes - 32)};
}
// Two of them as the literature gives them, to keep the derivation honest.
static_assert(FoldBy(16).lo == 0x1751997d0 && FoldBy(16).hi == 0x0ccaa009e);
static_assert(FoldBy(64).lo == 0x154442bd4 && FoldBy(64).hi == 0x1c6e41596);
// Those the folds below use, fixed when compiling.
constexpr FoldPair kBy16 = FoldBy(16), kBy32 = FoldBy(32), kBy48 = FoldBy(48), kBy64 = FoldBy(64),
                   kBy256 = FoldBy(256);
MORPH_CARRYLESS inline __m128i PairOf(FoldPair k) { return _mm_set_epi64x(int64_t(k.hi), int64_t(k.lo)); }

// The folded 128 bits to 64, then to 32, then the Barrett reduction.
MORPH_CARRYLESS inline uint32_t Reduce128(__m128i x1) {
  const __m128i k3k4 = PairOf(kBy16);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k3k4, 0x10), _mm_srli_si128(x1, 8));
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00),
                     _mm_srli_si128(x1, 4));
  const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(t, x1), 1));
}

// Byte shifts for pshufb: loaded at kShifts + r, bytes move up by 16 - r
// (zeros below); at kShifts + 16 + r, they move down by r (zeros above).
alignas(16) const uint8_t kShifts[48] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0,    1,    2,    3,    4,    5,    6,    7,
    8,    9,    10,   11,   12,   13,   14,   15,   0x80, 0x80, 0x80, 0x80,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};

// A run of 32 to 128 bytes (most frames of few bytes). Zero bytes put before
// a run whose CRC starts at zero leave it unchanged, so the run is read as
// 16-byte blocks ending at its end: the first r = length % 16 bytes (with the
// starting CRC folded into the first four) moved to the top of a block of
// their own, then n = length / 16 whole blocks. Each block is moved on to
// the end at once by the constants of its distance, so the folds run side by
// side instead of one after another.
MORPH_CARRYLESS inline uint32_t FoldShortRun(uint32_t crc, const uint8_t* p, size_t length) {
  // The constant pairs that move a block on by 16, 32, ... 128 bytes.
  alignas(16) static constexpr FoldPair kDistance[9] = {
      {0, 0},      FoldBy(16), FoldBy(32),  FoldBy(48), FoldBy(64),
      FoldBy(80), FoldBy(96), FoldBy(112), FoldBy(128)};
  const auto on = [](const __m128i block, size_t blocks) {
    return Fold128(block, _mm_load_si128(reinterpret_cast<const __m128i*>(&kDistance[blocks])));
  };
  const size_t r = length % 16, n = length / 16;
  const __m128i start = _mm_cvtsi32_si128(int(crc));
  // The first r bytes, and the starting CRC's bytes that fall in the first whole block.
  const __m128i first = _mm_shuffle_epi8(_mm_xor_si128(Load128(p), start), Load128(kShifts + r));
  p += r;
  const __m128i whole = _mm_xor_si128(Load128(p), _mm_shuffle_epi8(start, Load128(kShifts + 16 + r)));
  __m128i sum = _mm_xor_si128(on(first, n), on(whole, n - 1));
  // The whole blocks between, from the farthest from the end, which is the last block.
  const uint8_t* last = p + 16 * (n - 1);
  const auto add = [&](size_t blocks) {
    sum = _mm_xor_si128(sum, on(Load128(last - 16 * blocks), blocks));
  };
  switch (n) {
    case 8: add(6); [[fallthrough]];
    case 7: add(5); [[fallthrough]];
    case 6: add(4); [[fallthrough]];
    case 5: add(3); [[fallthrough]];
    case 4: add(2); [[fallthrough]];
    case 3: add(1); break;
    default: break;
  }
  return Reduce128(_mm_xor_si128(sum, Load128(last)));
}

// The folded bytes x1 moved on over the rest of the run (16 bytes at a time,
// then the last 0 to 15), and reduced to the CRC.
MORPH_CARRYLESS inline uint32_t FoldRest(__m128i x1, const uint8_t* p, size_t length) {
  const auto load = Load128;
  const __m128i k3k4 = PairOf(kBy16);
  for (; length >= 16; p += 16, length -= 16) x1 = _mm_xor_si128(Fold128(x1, k3k4), load(p));
  if (length > 0) {
    // The last 16 bytes of the run become one block: the folded bytes it
    // leaves out are moved on by 16 bytes onto it (byte shifts by `length`).
    const __m128i up = load(kShifts + length);         // bytes move up by 16 - length
    const __m128i down = load(kShifts + 16 + length);  // bytes move down by length
    const __m128i ahead = _mm_shuffle_epi8(x1, up);
    // The folded bytes that stay, then the run's last `length` bytes.
    const __m128i last = _mm_blendv_epi8(load(p + length - 16), _mm_shuffle_epi8(x1, down), up);
    x1 = _mm_xor_si128(Fold128(ahead, k3k4), last);
  }
  return Reduce128(x1);
}

// Runs of 256 bytes and more on processors with 512-bit carry-less
// multiplication: four 64-byte blocks side by side, each moved on by 256
// bytes per step (a 1,514-byte frame in 5 steps instead of 23), then folded
// into one, its four 16-byte lanes into one, and the rest as above.
#define MORPH_WIDE_CARRYLESS __attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1")))
// GCC 12's own 512-bit intrinsics fill unused lanes from a self-initialised
// value that its uninitialised-use check reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
MORPH_WIDE_CARRYLESS inline __m512i Fold512(__m512i x, __m512i k) {
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11));
}
MORPH_WIDE_CARRYLESS inline __m512i Load512(const uint8_t* at) { return _mm512_loadu_si512(at); }
MORPH_WIDE_CARRYLESS inline __m512i InEachLane(FoldPair k) {
  return _mm512_set_epi64(int64_t(k.hi), int64_t(k.lo), int64_t(k.hi), int64_t(k.lo),
                          int64_t(k.hi), int64_t(k.lo), int64_t(k.hi), int64_t(k.lo));
}
MORPH_WIDE_CARRYLESS uint32_t FoldCrc32Wide(uint32_t crc, const uint8_t* p, size_t length) {
  const __m512i by256 = InEachLane(kBy256), by64 = InEachLane(kBy64);
  __m512i x0 = _mm512_xor_si512(Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(crc))));
  __m512i x1 = Load512(p + 64), x2 = Load512(p + 128), x3 = Load512(p + 192);
  for (p += 256, length -= 256; length >= 256; p += 256, length -= 256) {
    x0 = _mm512_xor_si512(Fold512(x0, by256), Load512(p));
    x1 = _mm512_xor_si512(Fold512(x1, by256), Load512(p + 64));
    x2 = _mm512_xor_si512(Fold512(x2, by256), Load512(p + 128));
    x3 = _mm512_xor_si512(Fold512(x3, by256), Load512(p + 192));
  }
  __m512i x = _mm512_xor_si512(Fold512(x0, by64), x1);
  x = _mm512_xor_si512(Fold512(x, by64), x2);
  x = _mm512_xor_si512(Fold512(x, by64), x3);
  for (; length >= 64; p += 64, length -= 64) x = _mm512_xor_si512(Fold512(x, by64), Load512(p));
  // Lane 0 moved on by 48 bytes, lane 1 by 32, lane 2 by 16, onto lane 3.
  const __m512i lanes = _mm512_set_epi64(0, 0, int64_t(kBy16.hi), int64_t(kBy16.lo), int64_t(kBy32.hi),
                                         int64_t(kBy32.lo), int64_t(kBy48.hi), int64_t(kBy48.lo));
  // Lane 3's constants are zero: the lanes moved, with lane 3 as it stands,
  // then summed by swapping halves and pairs.
  const __m512i moved = Fold512(x, lanes);
  __m512i sum = _mm512_mask_xor_epi64(moved, 0xC0, moved, x);
  sum = _mm512_xor_si512(sum, _mm512_shuffle_i64x2(sum, sum, 0x4E));
  sum = _mm512_xor_si512(sum, _mm512_shuffle_i64x2(sum, sum, 0xB1));
  return FoldRest(_mm512_castsi512_si128(sum), p, length);
}
#pragma GCC diagnostic pop
#undef MORPH_WIDE_CARRYLESS

const bool kHaveWideCarrylessMultiply = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}();

MORPH_CARRYLESS uint32_t FoldCrc32(uint32_t crc, const uint8_t* p, size_t length) {
  if (length <= 128) return FoldShortRun(crc, p, length);
  if (length >= 256 && kHaveWideCarrylessMultiply) return FoldCrc32Wide(crc, p, length);
  const auto load = Load128;
  const auto fold = Fold128;
  const __m128i k3k4 = PairOf(kBy16);
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
  if (length >= 64) {
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    length -= 64;
    const __m128i k1k2 = PairOf(kBy64);
    for (; length >= 64; p += 64, length -= 64) {
      x1 = _mm_xor_si128(fold(x1, k1k2), load(p));
      x2 = _mm_xor_si128(fold(x2, k1k2), load(p + 16));
      x3 = _mm_xor_si128(fold(x3, k1k2), load(p + 32));
      x4 = _mm_xor_si128(fold(x4, k1k2), load(p + 48));
    }
    x1 = _mm_xor_si128(fold(x1, k3k4), x2);
    x1 = _mm_xor_si128(fold(x1, k3k4), x3);
    x1 = _mm_xor_si128(fold(x1, k3k4), x4);
  } else {
    p += 16;
    length -= 16;
  }
  return FoldRest(x1, p, length);
}

#undef MORPH_CARRYLESS

const bool kHaveCarrylessMultiply = [] {
  __builtin_cpu_init();  // this may run before the run-time library's own initialisers
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}();
#endif

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
#if defined(__x86_64__)
  // Runs of 32 bytes and more (every whole frame) fold 16 bytes per step.
  if (length >= 32 && kHaveCarrylessMultiply) return ~FoldCrc32(crc, data, length);
#endif
  return ~UpdateCrc32(crc, data, length);
}

uint32_t FrameCrc32(const uint8_t* data, int32_t length) {
  if (length < 60 || length >= ClassicFrameBytes) return 0;
  return Crc32(data, size_t(length));
}

uint16_t FrameCrc16(const uint8_t* data, int32_t length) {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      unsigned v = i;
      for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
      t[i] = uint16_t(v);
    }
    return t;
  }();
  if (length >= ClassicFrameBytes || length < 0) return 0;
  uint16_t crc = 0xFFFF;
  for (int32_t i = 0; i < length; ++i) crc = uint16_t((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
  return uint16_t(~crc);
}

void ComputeEthernetFcs(ConversionState& s) {
  // FrameCrc32 spelt out: this runs for nearly every frame a keeping target
  // gets, and the calls between cost a fifth of the CRC of a short frame.
  const int32_t length = s.frame.frameLength - 4;
  uint32_t fcs = 0;
  if (!(s.frame.frameFlags & Flag::Bad) && length >= 60 && length < ClassicFrameBytes) {
    const uint8_t* data = s.frame.frameData.data();
#if defined(__x86_64__)
    if (kHaveCarrylessMultiply)
      fcs = ~FoldCrc32(0xFFFFFFFFu, data, size_t(length));
    else
#endif
      fcs = ~UpdateCrc32(0xFFFFFFFFu, data, size_t(length));
  }
  s.frame.frameFcs = fcs;
  PutLE32(s.frame.frameData.data() + s.frame.frameLength - 4, fcs);
}

void ZeroFrameBytes(ConversionState& s, int32_t from, int32_t to) {
  from = std::clamp(from, 0, FrameBufferBytes);
  to = std::clamp(to, 0, FrameBufferBytes);
  if (to > from) std::memset(s.frame.frameData.data() + from, 0, size_t(to - from));
}

void SetDefaultWirelessMedia(ConversionState& s) {
  s.frame.wirelessDataRate = 22;
  s.frame.wirelessChannel = 1;
  s.frame.wirelessSignal = 100;
  s.frame.wirelessNoise = 0;
}

}  // namespace morph
