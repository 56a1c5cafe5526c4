#include "engine/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/bytes.h"

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

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length) {
  const Crc32Tables& t = kCrc32;
  uint32_t crc = 0xFFFFFFFFu;
  for (; length >= 8; data += 8, length -= 8) {
    const uint32_t one = GetLE32(data) ^ crc, two = GetLE32(data + 4);
    crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
          t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
  }
  for (; length > 0; ++data, --length) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t FrameCrc32(const uint8_t* data, int32_t length) {
  if (length < 60 || length >= MaxFrameBytes) return 0;
  // zlib's crc32 (the same CRC) wins on long frames, the tables on short ones.
  if (length > 256) return uint32_t(crc32(0L, data, uInt(length)));
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
  if (length >= MaxFrameBytes || length < 0) return 0;
  uint16_t crc = 0xFFFF;
  for (int32_t i = 0; i < length; ++i) crc = uint16_t((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
  return uint16_t(~crc);
}

void ClampFrameLength(ConversionState& s) {
  // Only ever lowers: a frame never gains bytes its record did not hold.
  if (s.FrameLength > MaxFrameBytes) {
    s.FrameLength = MaxFrameBytes;
    s.StoredLength = std::min(s.StoredLength, int32_t(MaxFrameBytes));
  }
}

void StoreEthernetFcs(ConversionState& s) {
  if (s.FrameLength < 4 || s.FrameLength > FrameBufferBytes) return;
  if (s.EthernetFcsUnused && !s.ConvertToWireless) {
    s.FrameFcs = 0;  // nothing downstream reads it; the CRC is the costliest step per frame
    return;
  }
  s.FrameFcs = (s.FrameFlags & Flag::Bad) ? 0 : FrameCrc32(s.FrameData.data(), s.FrameLength - 4);
  uint8_t* fcs = s.FrameData.data() + s.FrameLength - 4;
  fcs[0] = uint8_t(s.FrameFcs);
  fcs[1] = uint8_t(s.FrameFcs >> 8);
  fcs[2] = uint8_t(s.FrameFcs >> 16);
  fcs[3] = uint8_t(s.FrameFcs >> 24);
}

void ZeroFrameBytes(ConversionState& s, int32_t from, int32_t to) {
  from = std::clamp(from, 0, FrameBufferBytes);
  to = std::clamp(to, 0, FrameBufferBytes);
  if (to > from) std::memset(s.FrameData.data() + from, 0, size_t(to - from));
}

void SetDefaultWirelessMedia(ConversionState& s) {
  s.WirelessDataRate = 22;
  s.WirelessChannel = 1;
  s.WirelessSignal = 100;
  s.WirelessNoise = 0;
}

}  // namespace morph
