// Byte and arithmetic helpers shared by every format: little- and big-endian
// field access, floor division, letter case, time-unit constants.
#pragma once
#include <cctype>
#include <cstdint>
#include <string>

namespace morph {

inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t GetLE64(const uint8_t* p) {
  return uint64_t(GetLE32(p)) | uint64_t(GetLE32(p + 4)) << 32;
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t GetBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t GetBE64(const uint8_t* p) {
  return uint64_t(GetBE32(p)) << 32 | uint64_t(GetBE32(p + 4));
}
inline void PutLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  PutLE32(p, uint32_t(v));
  PutLE32(p + 4, uint32_t(v >> 32));
}
inline void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void PutBE64(uint8_t* p, uint64_t v) {
  PutBE32(p, uint32_t(v >> 32));
  PutBE32(p + 4, uint32_t(v));
}
// A field in either byte order.
inline uint16_t Get16(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE16(p) : GetLE16(p); }
inline uint32_t Get32(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE32(p) : GetLE32(p); }
inline uint64_t Get64(const uint8_t* p, bool bigEndian) { return bigEndian ? GetBE64(p) : GetLE64(p); }
inline void Put16(uint8_t* p, uint16_t v, bool bigEndian) { bigEndian ? PutBE16(p, v) : PutLE16(p, v); }
inline void Put32(uint8_t* p, uint32_t v, bool bigEndian) { bigEndian ? PutBE32(p, v) : PutLE32(p, v); }

// Division rounding towards minus infinity.
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMicrosPerDay = kSecondsPerDay * kMicrosPerSecond;

inline std::string Upper(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace morph
