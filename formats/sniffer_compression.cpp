#include "formats/sniffer_compression.h"

#include <algorithm>
#include <cstring>

namespace morph {
namespace {

constexpr uint16_t kStoredBlock = 0x8000;
constexpr uint32_t kMinimumOffset = 3;

}  // namespace

void SnifferDecompressor::Reset(SourceStream& in, int64_t consumedStart) {
  in_ = &in;
  consumed_ = consumedStart;
  blockOpen_ = false;
  compressed_ = true;
  remaining_ = offset_ = produced_ = 0;
}

bool SnifferDecompressor::TakeInput(uint8_t* out, size_t n) {
  if (!in_ || !in_->readExact(out, n)) return false;
  consumed_ += int64_t(n);
  return true;
}

bool SnifferDecompressor::OpenBlock() {
  uint8_t header[2];
  if (!TakeInput(header, sizeof header)) return false;
  const uint16_t h = GetLE16(header);
  compressed_ = (h & kStoredBlock) == 0;
  remaining_ = h & 0x7FFFu;
  offset_ = produced_ = 0;
  blockOpen_ = true;
  return true;
}

bool SnifferDecompressor::TakeBlockByte(uint8_t& b) {
  if (remaining_ == 0 || !TakeInput(&b, 1)) return false;
  --remaining_;
  return true;
}

bool SnifferDecompressor::Run(uint8_t value, uint32_t count) {
  if (count > kBlockBytes - produced_) return false;
  std::memset(block_.data() + produced_, value, count);
  produced_ += count;
  return true;
}

// Byte by byte: when the offset is smaller than the count, the copy repeats
// the pattern it is producing, as LZ-style references do.
bool SnifferDecompressor::Copy(uint32_t offset, uint32_t count) {
  if (offset > produced_ || count > kBlockBytes - produced_) return false;
  uint8_t* out = block_.data() + produced_;
  const uint8_t* from = out - offset;
  for (uint32_t i = 0; i < count; ++i) out[i] = from[i];
  produced_ += count;
  return true;
}

// One flag word and up to 16 items; false on bad or truncated data or when
// the group adds nothing.
bool SnifferDecompressor::DecodeGroup() {
  const uint32_t start = produced_;
  uint8_t flags[2];
  if (remaining_ < 2 || !TakeInput(flags, 2)) return false;
  remaining_ -= 2;
  const uint16_t f = GetLE16(flags);
  for (int k = 0; k < 16 && remaining_ > 0; ++k) {
    uint8_t c;
    if (!TakeBlockByte(c)) return false;
    if ((f & (0x8000u >> k)) == 0) {
      if (!Run(c, 1)) return false;
      continue;
    }
    uint8_t n, third;
    if (!TakeBlockByte(n)) return false;
    const uint32_t low = c & 0x0Fu;
    const uint32_t offset = low + uint32_t(n) * 16 + kMinimumOffset;
    bool ok;
    switch (c >> 4) {
      case 0: ok = Run(n, low + 3); break;
      case 1: ok = TakeBlockByte(third) && Run(third, low + uint32_t(n) * 16 + 19); break;
      case 2: ok = TakeBlockByte(third) && Copy(offset, uint32_t(third) + 16); break;
      default: ok = Copy(offset, uint32_t(c >> 4)); break;
    }
    if (!ok) return false;
  }
  if (remaining_ == 0) blockOpen_ = false;  // the next request opens the next block
  return produced_ > start;
}

bool SnifferDecompressor::Read(uint8_t* out, size_t count) {
  while (count > 0) {
    if (offset_ < produced_) {
      const size_t n = std::min<size_t>(count, produced_ - offset_);
      std::memcpy(out, block_.data() + offset_, n);
      offset_ += uint32_t(n);
      out += n;
      count -= n;
      continue;
    }
    if (!blockOpen_) {
      if (!OpenBlock()) return false;
      continue;
    }
    if (compressed_) {
      // Groups of a block share its buffer: back references reach any
      // earlier byte of the same block.
      if (!DecodeGroup()) return false;
      continue;
    }
    if (remaining_ == 0) {
      blockOpen_ = false;
      continue;
    }
    const size_t n = std::min<size_t>(count, remaining_);
    if (!TakeInput(out, n)) return false;
    remaining_ -= uint32_t(n);
    if (remaining_ == 0) blockOpen_ = false;
    out += n;
    count -= n;
  }
  return true;
}

}  // namespace morph
