// SHA-256 of a byte stream (FIPS 180-4), for `info`'s file digest: small,
// no dependency, fed in pieces of any size.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace morph {

class Sha256 {
 public:
  Sha256();
  void add(const void* data, size_t n);
  // The digest of everything added; the object is then spent.
  std::array<uint8_t, 32> finish();
  // finish() as 64 lower-case hex digits.
  std::string finishHex();

 private:
  void compress(const uint8_t* block);
  std::array<uint32_t, 8> state_;
  uint8_t pending_[64];
  size_t pendingBytes_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of a whole file as hex, or empty with `error` set to the
// system's reason (with the path) when it cannot be read.
std::string FileSha256(const std::string& path, std::string& error);

}  // namespace morph
