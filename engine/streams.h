// Buffered byte streams for sources and targets. Readers and writers never
// issue a system call per field: everything goes through large blocks.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytes.h"

namespace morph {

// Memory for blocks the system copies file bytes into or out of. It is
// page-aligned, so that each byte can sit at its file offset's place within
// a page: the system's copies run up to twice as fast between addresses so
// placed as between others. Not zeroed.
constexpr size_t kPageBytes = 4096;
struct FreePageBlock {
  void operator()(uint8_t* p) const;
};
using PageBlock = std::unique_ptr<uint8_t, FreePageBlock>;
PageBlock NewPageBlock(size_t bytes);

class SourceStream {
 public:
  virtual ~SourceStream() = default;
  // Reads up to n bytes; returns the count read (short only at end or error).
  // Only those bytes of the buffer are the file's: the rest is left as it was.
  [[nodiscard]] virtual size_t read(void* buffer, size_t n) = 0;
  // Positions the stream; false when the position cannot be reached. A
  // position past the end of the source is refused, no I/O error: the
  // stream then stands at its end, so a reader that goes on reads nothing.
  virtual bool seek(int64_t position) = 0;
  virtual int64_t position() const = 0;
  // Bytes of the underlying file (compressed size for gzip), -1 if unknown.
  virtual int64_t size() const = 0;
  // Position in the underlying file, for the progress percentage.
  virtual int64_t filePosition() const { return position(); }
  virtual bool atEnd() = 0;
  virtual bool failed() const = 0;  // an I/O error happened (not plain end of file)
  // Reads what is left, for a source that checks something at its end (a
  // gzip trailer): a reader that stopped before it (at a stated count or an
  // end record) still has it checked, and failed() tells.
  virtual void readToEnd() {}
  // The system's reason for the last failure, with the path ("x.cap: Input/output error").
  const std::string& errorText() const { return error_; }

  // As read(), but copies straight from the block in hand when it holds n
  // bytes: the per-record path of a reader costs no virtual call.
  [[nodiscard]] size_t fetch(void* buffer, size_t n) {
    if (n <= size_t(windowEnd_ - window_)) {
      if (n == 0) return 0;  // an empty buffer may be null
      std::memcpy(buffer, window_, n);
      window_ += n;
      return n;
    }
    return read(buffer, n);
  }
  // Reads exactly n bytes; false on a short read.
  [[nodiscard]] bool readExact(void* buffer, size_t n) { return fetch(buffer, n) == n; }
  bool skip(int64_t n) { return seek(position() + n); }
  // Whether unread bytes are in hand (so the stream is not at its end).
  bool holdsBytes() const { return window_ != windowEnd_; }
  // The unread bytes of the block in hand (none for streams without blocks):
  // a reader may look at many records in place, then `consume` what it took.
  // They stay valid until the stream next reads, seeks or tests its end.
  const uint8_t* inHand() const { return window_; }
  size_t inHandSize() const { return size_t(windowEnd_ - window_); }
  void consume(size_t n) { window_ += std::min(n, inHandSize()); }

 protected:
  // Copies up to n bytes from the blocks in hand, asking `next` for the next
  // block (false at the end or on a failure) whenever one is used up.
  template <typename NextBlock>
  size_t copyFromBlocks(void* out, size_t n, NextBlock next) {
    auto* dst = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
      if (window_ == windowEnd_ && !next()) break;
      const size_t take = std::min(n - done, size_t(windowEnd_ - window_));
      std::memcpy(dst + done, window_, take);
      window_ += take;
      done += take;
    }
    return done;
  }

  std::string error_;
  // The unread part of the block in hand, for streams that read in blocks;
  // empty for the others. A stream that sets it keeps its position by it.
  const uint8_t* window_ = nullptr;
  const uint8_t* windowEnd_ = nullptr;
};

class TargetStream {
 public:
  virtual ~TargetStream() = default;
  // Appends n bytes at the position; copies straight into the block being
  // filled when it has room, so a writer's per-field writes cost no virtual call.
  bool write(const void* data, size_t n) {
    if (n <= size_t(roomEnd_ - room_)) {
      if (n) std::memcpy(room_, data, n);
      room_ += n;
      return true;
    }
    return writeBlock(data, n);
  }
  // Room for n bytes in the block being filled, for a writer to build a
  // whole record in place and then `advance(n)`; null when the block has
  // not that room (the writer then uses `write`).
  uint8_t* roomFor(size_t n) { return n <= size_t(roomEnd_ - room_) ? room_ : nullptr; }
  void advance(size_t n) { room_ += n; }
  virtual bool seek(int64_t position) = 0;
  virtual int64_t position() const = 0;
  // Puts n bytes at an earlier place (a count learnt later) and leaves the
  // position where it was.
  virtual bool patch(int64_t at, const void* data, size_t n) {
    const int64_t end = position();
    return seek(at) && write(data, n) && seek(end);
  }
  virtual bool flush() = 0;
  virtual bool close() = 0;
  virtual bool failed() const = 0;

  bool writeZeros(size_t n);
  bool writeText(const std::string& text) { return write(text.data(), text.size()); }
  // Appends a record's header and the bytes that follow it: one copy each
  // into the block being filled when it has room for both.
  bool writeHeadAndBody(const void* head, size_t headBytes, const void* body, size_t bodyBytes) {
    if (uint8_t* room = roomFor(headBytes + bodyBytes)) {
      std::memcpy(room, head, headBytes);
      CopyBytes(room + headBytes, static_cast<const uint8_t*>(body), bodyBytes);
      advance(headBytes + bodyBytes);
      return true;
    }
    return write(head, headBytes) && write(body, bodyBytes);
  }
  // The system's reason for the last failure, with the path ("x.cap: No space left on device").
  const std::string& errorText() const { return error_; }

 protected:
  // Writes what does not fit the room in hand (or everything, for streams
  // without a block).
  virtual bool writeBlock(const void* data, size_t n) = 0;
  std::string error_;
  // Free room of the block being filled, for streams that write in blocks;
  // empty for the others. A stream that sets it keeps its position by it.
  uint8_t* room_ = nullptr;
  uint8_t* roomEnd_ = nullptr;
};

// Writes a record of n bytes that `layOut(p)` fills, every byte of it: in
// place in the target's block when it has room, else in `aside` (room for n
// bytes), which is then written. False when the target fails.
template <typename LayOut>
bool WriteRecord(TargetStream& target, size_t n, uint8_t* aside, LayOut layOut) {
  if (uint8_t* p = target.roomFor(n)) {
    layOut(p);
    target.advance(n);
    return true;
  }
  layOut(aside);
  return target.write(aside, n);
}

// Plain file, read-only. Returns null when the file cannot be opened.
std::unique_ptr<SourceStream> OpenFileSource(const std::string& path);
// gzip-compressed file through zlib; seeks backwards rewind the stream.
std::unique_ptr<SourceStream> OpenGzipSource(const std::string& path);
// In-memory source (tests, probes of already-read bytes), served in blocks
// of the given sizes in turn (all at once when none are given).
std::unique_ptr<SourceStream> OpenMemorySource(std::vector<uint8_t> bytes,
                                               std::vector<size_t> blockSizes = {});

// Creates (truncates) a file for writing. Returns null on failure.
std::unique_ptr<TargetStream> CreateFileTarget(const std::string& path);
// Writes to an open descriptor (standard output), which it then owns; `name`
// stands for it in messages.
std::unique_ptr<TargetStream> DescriptorTarget(int fd, const std::string& name);
// In-memory target; bytes() gives what was written. Without block sizes
// every write goes straight to memory; with them, bytes are taken in blocks
// of those sizes in turn, as a file target takes them in its block, and
// reach bytes() when a block is full, flushed, sought from or closed.
class MemoryTarget : public TargetStream {
 public:
  MemoryTarget() = default;
  explicit MemoryTarget(std::vector<size_t> blockSizes);
  bool seek(int64_t position) override;
  int64_t position() const override;
  bool flush() override;
  bool close() override { return flush(); }
  bool failed() const override { return false; }
  const std::vector<uint8_t>& bytes() const { return data_; }

 protected:
  bool writeBlock(const void* data, size_t n) override;

 private:
  void put(const uint8_t* p, size_t n);
  void startBlock();

  std::vector<uint8_t> data_;
  int64_t pos_ = 0;  // where the block's first byte goes
  std::vector<size_t> blockSizes_;
  size_t turn_ = 0;
  std::vector<uint8_t> block_;
};

}  // namespace morph
