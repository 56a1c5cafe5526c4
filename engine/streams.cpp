#include "engine/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/failure.h"

namespace morph {
namespace {

constexpr size_t kBlock = 1 << 17;

constexpr std::align_val_t kPageAlignment{kPageBytes};

std::string SystemError(const std::string& path, int error) {
  return path + ": " + SystemErrorText(error);
}

// A plain file read in blocks, by position, into a buffer of our own. After
// a seek the first block is small, and blocks grow while reading goes on in
// order: a reader that moves between an index and its frames reads little
// more than it uses.
class FileSource : public SourceStream {
 public:
  FileSource(int fd, int64_t size, std::string path)
      : fd_(fd), size_(size), buffer_(NewPageBlock(kLargestBlock)), path_(std::move(path)) {
    window_ = windowEnd_ = buffer_.get();
  }
  ~FileSource() override { ::close(fd_); }

  size_t read(void* out, size_t n) override {
    return copyFromBlocks(out, n, [this] { return refill(); });
  }

  // A position past the end of the file is refused, and the stream then
  // stands at its end: nothing more is read until a seek that succeeds.
  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    if (pos > size_) {
      startBlockAt(size_);
      return false;
    }
    // Among the bytes read into the block: just move the cursor.
    if (pos >= blockStart_ && pos <= blockStart_ + int64_t(blockBytes_)) {
      window_ = buffer_.get() + (pos - blockStart_);
      windowEnd_ = buffer_.get() + blockBytes_;
      return true;
    }
    startBlockAt(pos);
    blockSize_ = kFirstBlock;
    return true;
  }

  int64_t position() const override { return blockStart_ + (window_ - buffer_.get()); }
  int64_t size() const override { return size_; }
  bool atEnd() override { return window_ == windowEnd_ && !refill(); }
  bool failed() const override { return failed_; }

 private:
  static constexpr size_t kFirstBlock = 64 << 10, kLargestBlock = 512 << 10;

  // Reads the block that starts at the current position; false at the end
  // of the file or on a failure. A file that ends before the size it had
  // when opened was cut short while being read: a failure, not an end.
  bool refill() {
    const int64_t pos = position();
    startBlockAt(pos);
    if (failed_) return false;
    ssize_t got;
    do {
      got = ::pread(fd_, buffer_.get(), blockSize_, off_t(blockStart_));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return fail(SystemError(path_, errno));
    if (got <= pos - blockStart_) {
      if (pos < size_) return fail(path_ + ": the file was cut short while being read");
      return false;
    }
    blockSize_ = std::min(2 * blockSize_, kLargestBlock);
    blockBytes_ = size_t(got);
    windowEnd_ = buffer_.get() + got;
    return true;
  }
  // An empty block whose next byte is file offset `pos`, read from the start
  // of its page so that the bytes sit at their own places within a page.
  // It holds no bytes until one is read into it.
  void startBlockAt(int64_t pos) {
    blockStart_ = pos & ~int64_t(kPageBytes - 1);
    blockBytes_ = 0;
    window_ = windowEnd_ = buffer_.get() + (pos - blockStart_);
  }
  bool fail(std::string reason) {
    failed_ = true;
    error_ = std::move(reason);
    return false;
  }

  int fd_;
  int64_t size_;  // when opened
  PageBlock buffer_;
  int64_t blockStart_ = 0;          // file offset of buffer_[0]
  size_t blockBytes_ = 0;           // bytes read into the block from there
  size_t blockSize_ = kFirstBlock;  // of the next block read
  bool failed_ = false;
  std::string path_;
};

// A gzip file through zlib, which checks each member's trailer (the CRC-32
// and size of its data) as it reaches it: a file cut short, trailer
// included, or a trailer that does not match is a failure, never an end.
// A failure stays noted after a seek back, which decompresses afresh.
class GzipSource : public SourceStream {
 public:
  GzipSource(gzFile gz, int64_t size, std::string path)
      : gz_(gz), size_(size), path_(std::move(path)) {}
  ~GzipSource() override { gzclose(gz_); }

  size_t read(void* out, size_t n) override {
    size_t done = 0;
    auto* dst = static_cast<uint8_t*>(out);
    while (done < n) {
      unsigned chunk = unsigned(std::min<size_t>(n - done, 1u << 30));
      int got = gzread(gz_, dst + done, chunk);
      if (got <= 0) {
        noteEnd();
        break;
      }
      done += size_t(got);
      pos_ += got;
    }
    return done;
  }

  // Forward seeks decompress and discard; backward ones rewind first.
  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    if (pos < pos_) {
      if (gzrewind(gz_) != 0) return false;
      pos_ = 0;
    }
    uint8_t sink[8192];
    while (pos_ < pos) {
      size_t want = size_t(std::min<int64_t>(pos - pos_, sizeof sink));
      if (read(sink, want) != want) return false;
    }
    return true;
  }

  int64_t position() const override { return pos_; }
  int64_t size() const override { return size_; }
  int64_t filePosition() const override { return gzoffset(gz_); }
  bool atEnd() override {
    if (!gzeof(gz_)) {
      int c = gzgetc(gz_);
      if (c >= 0) {
        gzungetc(c, gz_);
        return false;
      }
    }
    noteEnd();
    return true;
  }
  bool failed() const override { return failed_; }
  void readToEnd() override {
    uint8_t sink[8192];
    while (read(sink, sizeof sink) == sizeof sink) {
    }
  }

 private:
  // Decompression stopped: a clean end, or a failure with zlib's reason.
  void noteEnd() {
    int err = Z_OK;
    const char* text = gzerror(gz_, &err);
    if (err == Z_OK || failed_) return;
    failed_ = true;
    const std::string why = text ? text : "";
    if (err == Z_ERRNO)
      error_ = SystemError(path_, errno);
    else if (err == Z_BUF_ERROR)
      error_ = path_ + ": gzip trailer missing: the file ends before the CRC-32 and size of its data";
    else if (why.ends_with("incorrect data check"))
      error_ = path_ + ": gzip trailer: the CRC-32 does not match the data";
    else if (why.ends_with("incorrect length check"))
      error_ = path_ + ": gzip trailer: the size does not match the data";
    else  // zlib's text starts with its own name for the file
      error_ = path_ + ": gzip data damaged: " + why.substr(why.find(": ") == std::string::npos
                                                                ? 0
                                                                : why.find(": ") + 2);
  }

  gzFile gz_;
  int64_t size_;
  int64_t pos_ = 0;
  bool failed_ = false;
  std::string path_;
};

// Bytes in memory, served as a file source serves its blocks: in windows
// of the given sizes in turn (the rest in one when none are given), so that
// a reader's in-place path meets records cut at any place a block may end.
class MemorySource : public SourceStream {
 public:
  MemorySource(std::vector<uint8_t> bytes, std::vector<size_t> blockSizes)
      : bytes_(std::move(bytes)), blockSizes_(std::move(blockSizes)) {
    window_ = windowEnd_ = bytes_.data();
  }
  size_t read(void* out, size_t n) override {
    return copyFromBlocks(out, n, [this] { return nextBlock(); });
  }
  // As a file source: a position past the end is refused, and the stream
  // then stands at its end.
  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    const bool within = pos <= size();
    window_ = windowEnd_ = bytes_.data() + (within ? size_t(pos) : bytes_.size());
    return within;
  }
  int64_t position() const override { return window_ - bytes_.data(); }
  int64_t size() const override { return int64_t(bytes_.size()); }
  bool atEnd() override { return window_ == windowEnd_ && !nextBlock(); }
  bool failed() const override { return false; }

 private:
  // The next window, when the one in hand is used up; false at the end.
  bool nextBlock() {
    const size_t left = size_t(bytes_.data() + bytes_.size() - window_);
    if (left == 0) return false;
    size_t n = left;
    if (!blockSizes_.empty())
      n = std::min(left, std::max<size_t>(1, blockSizes_[turn_++ % blockSizes_.size()]));
    windowEnd_ = window_ + n;
    return true;
  }

  std::vector<uint8_t> bytes_;
  std::vector<size_t> blockSizes_;
  size_t turn_ = 0;
};

// A file written through a block of our own. Each byte sits in the block at
// the same place within a page as in the file, so the system's copy into
// its pages runs between congruent addresses even after a seek (up to twice
// as fast as between some that differ). A seek back into the bytes still
// in the block, as a writer's patch of a count it has just learnt, changes
// them there and costs no system call.
class FileTarget : public TargetStream {
 public:
  FileTarget(int fd, std::string path)
      : fd_(fd),
        path_(std::move(path)),
        buffer_(NewPageBlock(kBlock)),
        seekable_(::lseek(fd, 0, SEEK_CUR) >= 0) {
    startBlockAt(0);
  }
  ~FileTarget() override { close(); }

  bool seek(int64_t pos) override {
    if (failed_ || fd_ < 0 || pos < 0) return false;
    if (seekable_ && pos >= filePos_ && pos <= filePos_ + int64_t(extent() - start_)) {
      written_ = extent();
      room_ = start_ + (pos - filePos_);
      return true;
    }
    if (!flush()) return false;
    if (::lseek(fd_, pos, SEEK_SET) < 0) return fail();
    startBlockAt(pos);
    return true;
  }

  int64_t position() const override { return filePos_ + (room_ ? room_ - start_ : 0); }

  // Bytes already written to the file are put there by position.
  bool patch(int64_t at, const void* data, size_t n) override {
    if (!seekable_ || failed_ || fd_ < 0 || at < 0 || at + int64_t(n) > filePos_)
      return TargetStream::patch(at, data, n);
    return writeAll(data, n, at);
  }

  // Writes the block's bytes; the file then stands at the position, which
  // lies before their end after a seek back into them.
  bool flush() override {
    if (failed_ || fd_ < 0) return false;
    const int64_t pos = position();
    const uint8_t* end = extent();
    if (end == start_) return true;
    if (!writeAll(start_, size_t(end - start_))) return false;
    if (pos != filePos_ && ::lseek(fd_, pos, SEEK_SET) < 0) return fail();
    startBlockAt(pos);
    return true;
  }

  bool close() override {
    if (fd_ < 0) return !failed_;
    bool ok = flush();
    if (::close(fd_) != 0) ok = fail();
    fd_ = -1;
    room_ = roomEnd_ = nullptr;  // every later write fails
    return ok && !failed_;
  }

  bool failed() const override { return failed_; }

 protected:
  // More than the room left: the block goes out first. A run larger than a
  // block goes straight to the file from memory placed as the file's pages
  // are, and through the block from any other.
  bool writeBlock(const void* data, size_t n) override {
    if (failed_ || fd_ < 0) return false;
    if (!flush()) return false;
    auto* p = static_cast<const uint8_t*>(data);
    if (n > size_t(roomEnd_ - room_) &&
        reinterpret_cast<uintptr_t>(p) % kPageBytes == uint64_t(filePos_) % kPageBytes) {
      if (!writeAll(p, n)) return false;
      startBlockAt(filePos_);
      return true;
    }
    for (;;) {
      const size_t take = std::min(n, size_t(roomEnd_ - room_));
      std::memcpy(room_, p, take);
      room_ += take;
      p += take;
      n -= take;
      if (n == 0) return true;
      if (!flush()) return false;
    }
  }

 private:
  // The next byte goes to file offset `pos`, at its own place within a page.
  void startBlockAt(int64_t pos) {
    filePos_ = pos;
    start_ = room_ = written_ = buffer_.get() + (pos & int64_t(kPageBytes - 1));
    roomEnd_ = buffer_.get() + kBlock;
  }
  // The end of the bytes in the block: a seek back leaves some beyond the position.
  uint8_t* extent() const { return std::max(room_, written_); }
  // Writes n bytes where the file stands (filePos_, which moves on by them),
  // or by position at file offset `at`.
  bool writeAll(const void* data, size_t n, int64_t at = -1) {
    auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const ssize_t put = at < 0 ? ::write(fd_, p, n) : ::pwrite(fd_, p, n, off_t(at));
      if (put < 0 && errno == EINTR) continue;
      if (put == 0) errno = ENOSPC;
      if (put <= 0) return fail();
      p += put;
      n -= size_t(put);
      (at < 0 ? filePos_ : at) += put;
    }
    return true;
  }
  bool fail() {
    if (!failed_) error_ = SystemError(path_, errno);
    failed_ = true;
    start_ = written_ = room_ = roomEnd_ = nullptr;  // every later write fails
    return false;
  }

  int fd_;
  std::string path_;
  PageBlock buffer_;
  bool seekable_;           // a pipe cannot take back bytes once they are written
  int64_t filePos_ = 0;     // file offset of start_
  uint8_t* start_ = nullptr;    // the block's first byte
  uint8_t* written_ = nullptr;  // its end before a seek back into it
  bool failed_ = false;
};

int64_t FileSizeOf(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

}  // namespace

void FreePageBlock::operator()(uint8_t* p) const { ::operator delete(p, kPageAlignment); }

PageBlock NewPageBlock(size_t bytes) {
  return PageBlock(static_cast<uint8_t*>(::operator new(bytes, kPageAlignment)));
}

bool TargetStream::writeZeros(size_t n) {
  static const uint8_t zeros[4096] = {};
  while (n > 0) {
    size_t take = std::min(n, sizeof zeros);
    if (!write(zeros, take)) return false;
    n -= take;
  }
  return true;
}

std::unique_ptr<SourceStream> OpenFileSource(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, int64_t(st.st_size), path);
}

std::unique_ptr<SourceStream> OpenGzipSource(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  int64_t size = FileSizeOf(fd);
  gzFile gz = gzdopen(fd, "rb");
  if (!gz) {
    ::close(fd);
    return nullptr;
  }
  gzbuffer(gz, 256 * 1024);
  return std::make_unique<GzipSource>(gz, size, path);
}

std::unique_ptr<SourceStream> OpenMemorySource(std::vector<uint8_t> bytes,
                                               std::vector<size_t> blockSizes) {
  return std::make_unique<MemorySource>(std::move(bytes), std::move(blockSizes));
}

std::unique_ptr<TargetStream> DescriptorTarget(int fd, const std::string& name) {
  if (fd < 0) return nullptr;
  return std::make_unique<FileTarget>(fd, name);
}

std::unique_ptr<TargetStream> CreateFileTarget(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<FileTarget>(fd, path);
}

MemoryTarget::MemoryTarget(std::vector<size_t> blockSizes) : blockSizes_(std::move(blockSizes)) {
  startBlock();
}

int64_t MemoryTarget::position() const { return pos_ + (room_ - block_.data()); }

bool MemoryTarget::writeBlock(const void* data, size_t n) {
  auto* p = static_cast<const uint8_t*>(data);
  if (blockSizes_.empty()) {
    put(p, n);
    return true;
  }
  for (;;) {
    const size_t take = std::min(n, size_t(roomEnd_ - room_));
    if (take) std::memcpy(room_, p, take);
    room_ += take;
    p += take;
    n -= take;
    if (n == 0) return true;
    flush();
  }
}

bool MemoryTarget::flush() {
  if (blockSizes_.empty()) return true;
  put(block_.data(), size_t(room_ - block_.data()));
  startBlock();
  return true;
}

bool MemoryTarget::seek(int64_t pos) {
  if (pos < 0) return false;
  flush();
  pos_ = pos;
  if (size_t(pos_) > data_.size()) data_.resize(size_t(pos_));
  return true;
}

void MemoryTarget::put(const uint8_t* p, size_t n) {
  if (n == 0) return;
  if (size_t(pos_) + n > data_.size()) data_.resize(size_t(pos_) + n);
  std::memcpy(data_.data() + pos_, p, n);
  pos_ += int64_t(n);
}

void MemoryTarget::startBlock() {
  if (blockSizes_.empty()) return;
  block_.resize(std::max<size_t>(1, blockSizes_[turn_++ % blockSizes_.size()]));
  room_ = block_.data();
  roomEnd_ = room_ + block_.size();
}

}  // namespace morph
