// Decompressor for compressed Sniffer DOS files: after the version record
// the file is a stream of blocks, each stored as it is or compressed with
// literals, runs and back references into the same block.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/streams.h"

namespace morph {

class SnifferDecompressor {
 public:
  static constexpr size_t kBlockBytes = 32768;  // decoded output of one block

  // Starts afresh on `in` at its current position; `consumedStart` is the
  // file position of that point (the consumed count starts there).
  void Reset(SourceStream& in, int64_t consumedStart);

  // Delivers exactly `count` decoded bytes into `out`. False when the data
  // is bad or ends early; nothing is ever read or written outside the
  // buffers, whatever the input.
  bool Read(uint8_t* out, size_t count);

  // File position of the next compressed byte.
  int64_t Consumed() const { return consumed_; }

 private:
  bool TakeInput(uint8_t* out, size_t n);
  bool OpenBlock();
  bool DecodeGroup();
  bool TakeBlockByte(uint8_t& b);
  bool Run(uint8_t value, uint32_t count);
  bool Copy(uint32_t offset, uint32_t count);

  SourceStream* in_ = nullptr;
  int64_t consumed_ = 0;
  bool blockOpen_ = false;
  bool compressed_ = true;
  uint32_t remaining_ = 0;  // compressed (or stored) bytes of the block not yet taken
  uint32_t offset_ = 0;     // next decoded byte to deliver
  uint32_t produced_ = 0;   // decoded bytes of the block so far
  std::array<uint8_t, kBlockBytes> block_{};
};

}  // namespace morph
