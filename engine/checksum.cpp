#include "engine/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace morph {

uint32_t FrameCrc32(const uint8_t* data, int32_t length) {
  if (length < 60 || length >= MaxFrameBytes) return 0;
  // zlib's crc32 is the same reflected 0xEDB88320 CRC with the same pre- and
  // post-inversion, and much faster than a byte table.
  return uint32_t(crc32(0L, data, uInt(length)));
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
