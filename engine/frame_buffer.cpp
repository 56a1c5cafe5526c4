// The frame buffer's pages: mapped, not allocated, so that the system zeroes
// them lazily and takes back those touched when the buffer is cleared.
#include <sys/mman.h>

#include <new>

#include "engine/state.h"

namespace morph {
namespace {

constexpr size_t kMappedBytes = (FrameBufferBytes + 4095) & ~size_t(4095);

}  // namespace

FrameBuffer::FrameBuffer() {
  void* pages = mmap(nullptr, kMappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  bytes_ = static_cast<uint8_t*>(pages);
}

FrameBuffer::~FrameBuffer() { munmap(bytes_, kMappedBytes); }

void FrameBuffer::clear() {
  // Private anonymous pages read as zeros once dropped; should the system
  // refuse, they are zeroed by hand.
  if (madvise(bytes_, kMappedBytes, MADV_DONTNEED) != 0) std::memset(bytes_, 0, kMappedBytes);
}

}  // namespace morph
