// The least time a conversion of SOURCE into a target of BYTES bytes can
// take on this machine: reads the source and writes that many bytes, in
// blocks of 128 KB from page-aligned memory, and does nothing else.
//   io_floor SOURCE TARGET BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: io_floor SOURCE TARGET BYTES\n");
    return 2;
  }
  const int in = ::open(argv[1], O_RDONLY);
  const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return 1;
  long long left = std::atoll(argv[3]);
  constexpr size_t kBlock = 128 << 10;
  auto* block = static_cast<char*>(::operator new(kBlock, std::align_val_t{4096}));
  bool reading = true;
  // The source's blocks are read and written out while both last; then the
  // rest of whichever is longer.
  while (reading || left > 0) {
    ssize_t got = reading ? ::read(in, block, kBlock) : ssize_t(kBlock);
    if (got < 0) return 1;
    if (got == 0) {
      reading = false;
      continue;
    }
    const size_t put = size_t(got < left ? got : left);
    if (put > 0 && ::write(out, block, put) != ssize_t(put)) return 1;
    left -= static_cast<long long>(put);
  }
  ::operator delete(block, std::align_val_t{4096});
  return ::close(out) == 0 ? 0 : 1;
}
