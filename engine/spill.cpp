#include "engine/spill.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace morph {

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

// An open temporary file that no name reaches, so nothing is left behind.
int OpenUnnamedFile(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = folder + "/morphalite-index-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

SpillBuffer::~SpillBuffer() { clear(); }

void SpillBuffer::clear() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  spilled_ = 0;
  used_ = 0;
  block_.reset();
}

bool SpillBuffer::spillAndAppend(const void* data, size_t n) {
  if (!error_.empty() || n > kBlock) {
    if (error_.empty()) error_ = "an index entry larger than a block";
    return false;
  }
  if (!block_) block_ = NewPageBlock(kBlock);
  // The block is filled to its end before it goes, so the temporary file's
  // pages and the block's stay placed alike.
  auto* p = static_cast<const uint8_t*>(data);
  const size_t fits = std::min(n, kBlock - used_);
  std::memcpy(block_.get() + used_, p, fits);
  used_ += fits;
  if (fits == n) return true;
  if (!spillBlock()) return false;
  std::memcpy(block_.get(), p + fits, n - fits);
  used_ = n - fits;
  return true;
}

bool SpillBuffer::spillBlock() {
  const std::string folder = TemporaryFolder();
  if (fd_ < 0 && (fd_ = OpenUnnamedFile(folder)) < 0) {
    error_ = folder + ": no temporary file for the frame index: " + std::strerror(errno);
    return false;
  }
  for (size_t done = 0; done < used_;) {
    const ssize_t put = ::write(fd_, block_.get() + done, used_ - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error_ = folder + ": the frame index's temporary file: " +
               std::strerror(put == 0 ? ENOSPC : errno);
      return false;
    }
    done += size_t(put);
  }
  spilled_ += used_;
  used_ = 0;
  return true;
}

bool SpillBuffer::forEachBlock(const std::function<bool(const uint8_t*, size_t)>& take) {
  if (spilled_ > 0) {
    const PageBlock chunk = NewPageBlock(kBlock);
    for (uint64_t at = 0; at < spilled_;) {
      const size_t want = size_t(std::min<uint64_t>(kBlock, spilled_ - at));
      const ssize_t got = ::pread(fd_, chunk.get(), want, off_t(at));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        error_ = std::string("the frame index's temporary file: ") +
                 (got == 0 ? "cut short" : std::strerror(errno));
        return false;
      }
      if (!take(chunk.get(), size_t(got))) return true;
      at += uint64_t(got);
    }
  }
  if (used_ > 0) take(block_.get(), used_);
  return true;
}

}  // namespace morph
