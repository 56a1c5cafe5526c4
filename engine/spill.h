// Bytes a writer collects while it writes the frames and appends when it
// finishes (a frame index): one block is held in memory, the rest goes to an
// unnamed temporary file, so memory stays flat whatever the frame count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "engine/streams.h"

namespace morph {

// TMPDIR, or /tmp.
std::string TemporaryFolder();
// An open temporary file in `folder` that no name reaches, so nothing is
// left behind however the program ends; -1 with errno when none can be made.
int OpenUnnamedFile(const std::string& folder);

class SpillBuffer {
 public:
  SpillBuffer() = default;
  ~SpillBuffer();
  SpillBuffer(const SpillBuffer&) = delete;
  SpillBuffer& operator=(const SpillBuffer&) = delete;

  // Appends n bytes (n at most a block); false, with the reason in
  // errorText(), when the temporary file cannot take them.
  bool append(const void* data, size_t n) {
    if (block_ && used_ + n <= kBlock) {
      std::memcpy(block_.get() + used_, data, n);
      used_ += n;
      return true;
    }
    return spillAndAppend(data, n);
  }
  // Appends N bytes that `layOut(p)` fills, every byte of them: in place in
  // the block when it has room, so an entry built field by field is not
  // stored once and then loaded again whole.
  template <size_t N, typename LayOut>
  bool appendLaidOut(LayOut layOut) {
    static_assert(N <= kBlock);
    if (block_ && used_ + N <= kBlock) {
      layOut(block_.get() + used_);
      used_ += N;
      return true;
    }
    uint8_t entry[N];
    layOut(entry);
    return spillAndAppend(entry, N);
  }
  // Bytes appended so far.
  uint64_t size() const { return spilled_ + used_; }
  // Hands every byte appended, in order, a block at a time, to `take` until
  // it returns false. False when the temporary file could not be read back.
  bool forEachBlock(const std::function<bool(const uint8_t*, size_t)>& take);
  // Drops everything appended, with the temporary file.
  void clear();
  const std::string& errorText() const { return error_; }

  static constexpr size_t kBlock = 256 * 1024;

 private:
  bool spillAndAppend(const void* data, size_t n);
  bool spillBlock();  // the full block to the temporary file

  PageBlock block_;  // the bytes not yet spilled
  size_t used_ = 0;
  int fd_ = -1;            // the temporary file, once a block was spilled
  uint64_t spilled_ = 0;   // bytes in it
  std::string error_;
};

}  // namespace morph
