#include "engine/streams.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "engine/failure.h"

namespace morph {
namespace {

constexpr size_t kBlock = 1 << 17;

std::string SystemError(const std::string& path, int error) {
  return path + ": " + SystemErrorText(error);
}

class FileSource : public SourceStream {
 public:
  FileSource(int fd, int64_t size, std::string path)
      : fd_(fd), size_(size), buffer_(new uint8_t[kBlock]), path_(std::move(path)) {
    window_ = windowEnd_ = buffer_.get();
  }
  ~FileSource() override { ::close(fd_); }

  size_t read(void* out, size_t n) override {
    return copyFromBlocks(out, n, [this] { return refill(); });
  }

  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    // Inside the current block: just move the cursor.
    if (pos >= blockStart_ && pos <= blockStart_ + (windowEnd_ - buffer_.get())) {
      window_ = buffer_.get() + (pos - blockStart_);
      return true;
    }
    if (::lseek(fd_, pos, SEEK_SET) < 0) return false;
    blockStart_ = pos;
    window_ = windowEnd_ = buffer_.get();
    return true;
  }

  int64_t position() const override { return blockStart_ + (window_ - buffer_.get()); }
  int64_t size() const override { return size_; }
  bool atEnd() override { return window_ == windowEnd_ && !refill(); }
  bool failed() const override { return failed_; }

 private:
  bool refill() {
    blockStart_ += windowEnd_ - buffer_.get();
    window_ = windowEnd_ = buffer_.get();
    ssize_t got;
    do {
      got = ::read(fd_, buffer_.get(), kBlock);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      failed_ = true;
      error_ = SystemError(path_, errno);
    }
    if (got <= 0) return false;
    windowEnd_ = buffer_.get() + got;
    return true;
  }

  int fd_;
  int64_t size_;
  std::unique_ptr<uint8_t[]> buffer_;  // no zeroing: every byte is read before use
  int64_t blockStart_ = 0;             // file offset of buffer_[0]
  bool failed_ = false;
  std::string path_;
};

constexpr int64_t kPage = 4096;

// A file cut shorter while a window of it is mapped raises SIGBUS at the next
// access to the pages it lost. The handler puts zero pages in their place and
// marks the window, so the stream reports the cut at its next step instead of
// the process dying. One slot per mapped source; every field is atomic, as
// the handler may run in any thread.
struct GuardSlot {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> start{0}, end{0};  // the window mapped, empty when none
  std::atomic<bool> cut{false};
};
constexpr int kGuardSlots = 64;
GuardSlot gGuards[kGuardSlots];
struct sigaction gPreviousBusAction {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& g : gGuards) {
    const uintptr_t start = g.start.load(), end = g.end.load();
    if (at < start || at >= end) continue;
    const uintptr_t page = at & ~uintptr_t(kPage - 1);
    if (::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      g.cut = true;
      return;  // the access is made again and reads zeros
    }
  }
  // Not a window of ours: as the process would have handled it.
  if (gPreviousBusAction.sa_flags & SA_SIGINFO) {
    gPreviousBusAction.sa_sigaction(signal, info, context);
  } else if (gPreviousBusAction.sa_handler != SIG_DFL && gPreviousBusAction.sa_handler != SIG_IGN) {
    gPreviousBusAction.sa_handler(signal);
  } else {
    ::signal(SIGBUS, SIG_DFL);  // the access faults again and ends the process
  }
}

// A free guard slot, the handler installed with the first; -1 when none is
// free (the source then reads through a buffer instead).
int ClaimGuardSlot() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &gPreviousBusAction) == 0;
  }();
  if (!installed) return -1;
  for (int i = 0; i < kGuardSlots; ++i) {
    bool expected = false;
    if (gGuards[i].taken.compare_exchange_strong(expected, true)) {
      gGuards[i].cut = false;
      return i;
    }
  }
  return -1;
}

// A plain file read through windows of it mapped into memory: records come
// straight from the page cache, with no copy into a buffer of our own. Only
// one window is mapped at a time, so memory stays flat whatever the size.
class MappedFileSource : public SourceStream {
 public:
  MappedFileSource(int fd, int64_t size, std::string path, int slot)
      : fd_(fd), size_(size), path_(std::move(path)), guard_(gGuards[slot]) {}
  ~MappedFileSource() override {
    unmap();
    ::close(fd_);
    guard_.taken = false;
  }

  size_t read(void* out, size_t n) override {
    return copyFromBlocks(out, n, [this] { return advance(); });
  }

  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    if (map_ && pos >= mapStart_ && pos <= mapStart_ + (windowEnd_ - map_)) {
      window_ = map_ + (pos - mapStart_);
      return true;
    }
    unmap();
    mapStart_ = pos;  // mapped when next read
    windowSize_ = kFirstWindow;
    return true;
  }

  int64_t position() const override { return map_ ? mapStart_ + (window_ - map_) : mapStart_; }
  int64_t size() const override { return size_; }
  bool atEnd() override { return window_ == windowEnd_ && !advance(); }
  // A cut the guard noticed fails the stream at its next step (advance).
  bool failed() const override { return failed_; }

 private:
  // Windows grow from the first after a seek to the largest while reading
  // goes on in order: a reader that moves between an index and its frames
  // maps no more than it reads.
  static constexpr int64_t kFirstWindow = 256 << 10, kWindow = 4 << 20;

  // Maps the window that starts at the current position; false at the end
  // of the file or on a failure.
  bool advance() {
    const int64_t pos = position();
    unmap();
    mapStart_ = pos;
    if (failed_) return false;
    // The size as it is now: a file cut shorter since it was opened is
    // mapped no further than it reaches, and reaching its end is a failure.
    const int64_t size = CurrentSize();
    if (guard_.cut || (size >= 0 && pos >= size && size < size_)) {
      failed_ = true;
      error_ = path_ + ": the file was cut short while being read";
      return false;
    }
    if (size < 0 || pos >= size) return false;
    const int64_t start = pos & ~int64_t(kPage - 1);
    const size_t length = size_t(std::min(windowSize_, size - start));
    windowSize_ = std::min(2 * windowSize_, kWindow);
    void* p = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, start);
    if (p == MAP_FAILED) {
      failed_ = true;
      error_ = SystemError(path_, errno);
      return false;
    }
    map_ = static_cast<const uint8_t*>(p);
    mapStart_ = start;
    window_ = map_ + (pos - start);
    windowEnd_ = map_ + length;
    guard_.start = reinterpret_cast<uintptr_t>(map_);
    guard_.end = reinterpret_cast<uintptr_t>(windowEnd_);
    return true;
  }

  void unmap() {
    if (!map_) return;
    mapStart_ = position();
    guard_.start = guard_.end = 0;
    ::munmap(const_cast<uint8_t*>(map_), size_t(windowEnd_ - map_));
    map_ = window_ = windowEnd_ = nullptr;
  }

  int64_t CurrentSize() {
    struct stat st {};
    if (fstat(fd_, &st) == 0) return int64_t(st.st_size);
    failed_ = true;
    error_ = SystemError(path_, errno);
    return -1;
  }

  int fd_;
  int64_t size_;
  const uint8_t* map_ = nullptr;  // the window mapped, from file offset mapStart_
  int64_t mapStart_ = 0;          // with nothing mapped: the position
  int64_t windowSize_ = kFirstWindow;  // of the next window mapped
  bool failed_ = false;
  std::string path_;
  GuardSlot& guard_;
};

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
      if (got < 0) {
        noteGzipError();
        break;
      }
      if (got == 0) break;
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
    if (gzeof(gz_)) return true;
    int c = gzgetc(gz_);
    if (c < 0) {
      int err = 0;
      gzerror(gz_, &err);
      if (err != Z_OK && err != Z_BUF_ERROR) noteGzipError();
      return true;
    }
    gzungetc(c, gz_);
    return false;
  }
  bool failed() const override { return failed_; }

 private:
  void noteGzipError() {
    failed_ = true;
    int err = 0;
    const char* text = gzerror(gz_, &err);
    error_ = err == Z_ERRNO ? SystemError(path_, errno) : path_ + ": " + (text ? text : "gzip error");
  }

  gzFile gz_;
  int64_t size_;
  int64_t pos_ = 0;
  bool failed_ = false;
  std::string path_;
};

class MemorySource : public SourceStream {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  size_t read(void* out, size_t n) override {
    size_t take = pos_ < bytes_.size() ? std::min(n, bytes_.size() - pos_) : 0;
    if (take) std::memcpy(out, bytes_.data() + pos_, take);
    pos_ += take;
    return take;
  }
  bool seek(int64_t pos) override {
    if (pos < 0) return false;
    pos_ = size_t(pos);
    return true;
  }
  int64_t position() const override { return int64_t(pos_); }
  int64_t size() const override { return int64_t(bytes_.size()); }
  bool atEnd() override { return pos_ >= bytes_.size(); }
  bool failed() const override { return false; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

class FileTarget : public TargetStream {
 public:
  FileTarget(int fd, std::string path)
      : fd_(fd), path_(std::move(path)), buffer_(new uint8_t[kBlock]) {
    room_ = buffer_.get();
    roomEnd_ = buffer_.get() + kBlock;
  }
  ~FileTarget() override { close(); }

  bool seek(int64_t pos) override {
    if (!flush()) return false;
    if (::lseek(fd_, pos, SEEK_SET) < 0) return fail();
    filePos_ = pos;
    return true;
  }

  int64_t position() const override { return filePos_ + int64_t(buffered()); }

  bool flush() override {
    if (failed_ || fd_ < 0) return false;
    const size_t n = buffered();
    if (n == 0) return true;
    room_ = buffer_.get();
    return writeAll(buffer_.get(), n);
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
  bool writeBlock(const void* data, size_t n) override {
    if (failed_ || fd_ < 0) return false;
    if (buffered() + n > kBlock && !flush()) return false;
    if (n >= kBlock) return writeAll(data, n);
    std::memcpy(room_, data, n);
    room_ += n;
    return true;
  }

 private:
  size_t buffered() const { return room_ ? size_t(room_ - buffer_.get()) : 0; }
  bool writeAll(const void* data, size_t n) {
    auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      ssize_t put = ::write(fd_, p, n);
      if (put < 0 && errno == EINTR) continue;
      // Bytes the system could not read from our memory: a source window
      // whose file was cut short. Copied through the buffer, the source's
      // guard gives zeros for them and the source reports the cut.
      if (put < 0 && errno == EFAULT) return writeCopied(p, n);
      if (put == 0) errno = ENOSPC;
      if (put <= 0) return fail();
      p += put;
      n -= size_t(put);
      filePos_ += put;
    }
    return true;
  }
  bool writeCopied(const uint8_t* p, size_t n) {
    while (n > 0) {
      const size_t take = std::min(n, kBlock);
      std::memcpy(buffer_.get(), p, take);
      if (!writeAll(buffer_.get(), take)) return false;
      p += take;
      n -= take;
    }
    return true;
  }
  bool fail() {
    if (!failed_) error_ = SystemError(path_, errno);
    failed_ = true;
    room_ = roomEnd_ = nullptr;  // every later write fails
    return false;
  }

  int fd_;
  std::string path_;
  std::unique_ptr<uint8_t[]> buffer_;
  int64_t filePos_ = 0;  // file offset where buffer_ starts
  bool failed_ = false;
};

int64_t FileSizeOf(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

}  // namespace

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
  const int slot = ClaimGuardSlot();
  if (slot < 0) return std::make_unique<FileSource>(fd, int64_t(st.st_size), path);
  return std::make_unique<MappedFileSource>(fd, int64_t(st.st_size), path, slot);
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

std::unique_ptr<SourceStream> OpenMemorySource(std::vector<uint8_t> bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
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

bool MemoryTarget::writeBlock(const void* data, size_t n) {
  if (n == 0) return true;
  auto* p = static_cast<const uint8_t*>(data);
  if (size_t(pos_) + n > data_.size()) data_.resize(size_t(pos_) + n);
  std::memcpy(data_.data() + pos_, p, n);
  pos_ += int64_t(n);
  return true;
}

bool MemoryTarget::seek(int64_t pos) {
  if (pos < 0) return false;
  pos_ = pos;
  if (size_t(pos_) > data_.size()) data_.resize(size_t(pos_));
  return true;
}

}  // namespace morph
