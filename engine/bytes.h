// Byte and arithmetic helpers shared by every format: little- and big-endian
// field access, floor division, letter case, time-unit constants.
#pragma once
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace morph {

// Fields are moved as whole words (memcpy) and turned round where the
// machine's order differs: a load or store and at most a byte swap each.
namespace bytes_detail {
constexpr bool kLittleHost = std::endian::native == std::endian::little;
template <typename T>
inline T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
inline void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}
inline uint16_t Swap(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t Swap(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t Swap(uint64_t v) { return __builtin_bswap64(v); }
template <typename T>
inline T FromLE(T v) { return kLittleHost ? v : Swap(v); }
template <typename T>
inline T FromBE(T v) { return kLittleHost ? Swap(v) : v; }
}  // namespace bytes_detail

inline uint16_t GetLE16(const uint8_t* p) { return bytes_detail::FromLE(bytes_detail::Load<uint16_t>(p)); }
inline uint32_t GetLE32(const uint8_t* p) { return bytes_detail::FromLE(bytes_detail::Load<uint32_t>(p)); }
inline uint64_t GetLE64(const uint8_t* p) { return bytes_detail::FromLE(bytes_detail::Load<uint64_t>(p)); }
inline uint16_t GetBE16(const uint8_t* p) { return bytes_detail::FromBE(bytes_detail::Load<uint16_t>(p)); }
inline uint32_t GetBE32(const uint8_t* p) { return bytes_detail::FromBE(bytes_detail::Load<uint32_t>(p)); }
inline uint64_t GetBE64(const uint8_t* p) { return bytes_detail::FromBE(bytes_detail::Load<uint64_t>(p)); }
inline void PutLE16(uint8_t* p, uint16_t v) { bytes_detail::Store(p, bytes_detail::FromLE(v)); }
inline void PutLE32(uint8_t* p, uint32_t v) { bytes_detail::Store(p, bytes_detail::FromLE(v)); }
inline void PutLE64(uint8_t* p, uint64_t v) { bytes_detail::Store(p, bytes_detail::FromLE(v)); }
inline void PutBE16(uint8_t* p, uint16_t v) { bytes_detail::Store(p, bytes_detail::FromBE(v)); }
inline void PutBE32(uint8_t* p, uint32_t v) { bytes_detail::Store(p, bytes_detail::FromBE(v)); }
inline void PutBE64(uint8_t* p, uint64_t v) { bytes_detail::Store(p, bytes_detail::FromBE(v)); }
// A field in either byte order.
inline uint16_t Get16(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE16(p) : GetLE16(p); }
inline uint32_t Get32(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE32(p) : GetLE32(p); }
inline uint64_t Get64(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE64(p) : GetLE64(p); }
inline void Put16(uint8_t* p, uint16_t v, bool bigEndian) { bigEndian ? PutBE16(p, v) : PutLE16(p, v); }
inline void Put32(uint8_t* p, uint32_t v, bool bigEndian) { bigEndian ? PutBE32(p, v) : PutLE32(p, v); }

// memcpy of n bytes without the call for the short runs most frames are
// (16 to 64 bytes: two overlapping moves); longer runs go to memcpy.
inline void CopyBytes(uint8_t* to, const uint8_t* from, size_t n) {
  if (n >= 32 && n <= 64) {
    __builtin_memcpy(to, from, 32);
    __builtin_memcpy(to + n - 32, from + n - 32, 32);
  } else if (n >= 16 && n < 32) {
    __builtin_memcpy(to, from, 16);
    __builtin_memcpy(to + n - 16, from + n - 16, 16);
  } else if (n != 0) {
    std::memcpy(to, from, n);
  }
}

// memmove of n bytes, without the call for runs of 16 to 64 bytes: every
// byte is loaded before any is stored, so the runs may overlap.
inline void MoveBytes(uint8_t* to, const uint8_t* from, size_t n) {
  uint8_t head[32], tail[32];
  if (n >= 32 && n <= 64) {
    __builtin_memcpy(head, from, 32);
    __builtin_memcpy(tail, from + n - 32, 32);
    __builtin_memcpy(to, head, 32);
    __builtin_memcpy(to + n - 32, tail, 32);
  } else if (n >= 16 && n < 32) {
    __builtin_memcpy(head, from, 16);
    __builtin_memcpy(tail, from + n - 16, 16);
    __builtin_memcpy(to, head, 16);
    __builtin_memcpy(to + n - 16, tail, 16);
  } else if (n != 0) {
    std::memmove(to, from, n);
  }
}

// Division rounding towards minus infinity.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// a / b (b > 0) rounded to the nearest whole number, halves away from zero:
// llround of the quotient, in integers, for every a without overflow.
constexpr int64_t RoundedDiv(int64_t a, int64_t b) {
  const int64_t half = (b + 1) / 2;
  return a >= 0 ? a / b + (a % b >= half) : a / b - (-(a % b) >= half);
}

// std::llround and std::floor without a library call, for every double
// (values beyond the 64-bit range saturate): the per-frame path of the
// readers and writers that count time in units of a fraction of a microsecond.
inline int64_t RoundHalfAway(double x) {
  if (!(x < 0x1p63)) return INT64_MAX;
  if (x < -0x1p63) return INT64_MIN;
  const int64_t whole = int64_t(x);  // towards zero, exact
  const double rest = x - double(whole);  // exact: the fraction of x
  return rest >= 0.5 ? whole + 1 : rest <= -0.5 ? whole - 1 : whole;
}
inline int64_t FloorToInt(double x) {
  if (!(x < 0x1p63)) return INT64_MAX;
  if (x < -0x1p63) return INT64_MIN;
  const int64_t whole = int64_t(x);
  return double(whole) > x ? whole - 1 : whole;
}

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMicrosPerDay = kSecondsPerDay * kMicrosPerSecond;

inline std::string Upper(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace morph
