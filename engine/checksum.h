// Frame checksums and small frame helpers shared by readers and writers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/state.h"

namespace morph {

// IEEE 802.3 CRC-32 (the same as zlib's crc32) of any length: tables, and on
// processors that have it carry-less multiplication for runs of 64 bytes and more.
uint32_t Crc32(const uint8_t* data, size_t length);
// IEEE 802.3 CRC-32; 0 for lengths below 60 or of 32,768 and more.
uint32_t FrameCrc32(const uint8_t* data, int32_t length);
// HDLC/X.25 CRC-16; 0 for lengths of 32,768 and more.
uint16_t FrameCrc16(const uint8_t* data, int32_t length);

// A frameLength beyond 32,768 becomes 32,768, and storedLength no more than
// that; storedLength is never raised (a frame never gains bytes its record
// did not hold).
inline void ClampFrameLength(ConversionState& s) {
  if (s.frame.frameLength > MaxFrameBytes) {
    s.frame.frameLength = MaxFrameBytes;
    if (s.frame.storedLength > MaxFrameBytes) s.frame.storedLength = MaxFrameBytes;
  }
}
// frameFcs = CRC-32 of the frame without its FCS (0 for a bad frame), stored
// little-endian into the last 4 bytes of the frame. Inline: every Ethernet
// frame passes here, and most targets keep no FCS.
void ComputeEthernetFcs(ConversionState& s);
inline void StoreEthernetFcs(ConversionState& s) {
  if (s.frame.frameLength < 4 || s.frame.frameLength > FrameBufferBytes) return;
  if (s.options.ethernetFcsUnused)
    s.frame.frameFcs = 0;  // nothing downstream reads it; the CRC is the costliest step per frame
  else
    ComputeEthernetFcs(s);
}
// Zeroes frameData[from, to): padding never carries bytes of earlier frames.
void ZeroFrameBytes(ConversionState& s, int32_t from, int32_t to);
// ZeroFrameBytes without a call for what readers clear in nearly every frame:
// nothing, or the four bytes of an FCS slot.
inline void ZeroFrameTail(ConversionState& s, int32_t from, int32_t to) {
  if (to - from == 4 && from >= 0 && to <= FrameBufferBytes)
    std::memset(s.frame.frameData.data() + from, 0, 4);
  else if (to > from)
    ZeroFrameBytes(s, from, to);
}
// The media bytes of an 802.11 frame whose source carries none.
void SetDefaultWirelessMedia(ConversionState& s);

}  // namespace morph
