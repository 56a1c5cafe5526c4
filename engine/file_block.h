// A block of file bytes with bounded field access, for identification and
// header probes: a field that lies beyond the bytes read reads as -1, which
// matches no rule.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/streams.h"

namespace morph {

class FileBlock {
 public:
  std::vector<uint8_t> bytes;

  size_t size() const { return bytes.size(); }
  const uint8_t* data() const { return bytes.data(); }
  bool fits(size_t at, size_t n) const { return at <= bytes.size() && n <= bytes.size() - at; }
  int64_t u8(size_t at) const { return fits(at, 1) ? bytes[at] : -1; }
  int64_t le16(size_t at) const { return fits(at, 2) ? GetLE16(&bytes[at]) : -1; }
  int64_t le32(size_t at) const { return fits(at, 4) ? GetLE32(&bytes[at]) : -1; }
  int64_t be16(size_t at) const { return fits(at, 2) ? GetBE16(&bytes[at]) : -1; }
  int64_t be32(size_t at) const { return fits(at, 4) ? GetBE32(&bytes[at]) : -1; }

  bool startsWith(const void* prefix, size_t n) const {
    return fits(0, n) && std::memcmp(bytes.data(), prefix, n) == 0;
  }
  bool startsWith(const char* text) const { return startsWith(text, std::strlen(text)); }
  bool contains(const void* needle, size_t n) const {
    if (n == 0 || n > bytes.size()) return false;
    auto* first = static_cast<const uint8_t*>(needle);
    return std::search(bytes.begin(), bytes.end(), first, first + n) != bytes.end();
  }
  bool contains(const char* text) const { return contains(text, std::strlen(text)); }
  // Text from `at`, at most `n` bytes, ending at the first zero byte.
  std::string text(size_t at, size_t n) const {
    std::string out;
    for (size_t i = at; i < at + n && i < bytes.size() && bytes[i] != 0; ++i)
      out += char(bytes[i]);
    return out;
  }
};

// Up to n bytes from `position`; fewer at the end of the file, none when the
// position cannot be reached.
inline FileBlock ReadFileBlock(SourceStream& in, int64_t position, size_t n) {
  FileBlock block;
  if (position < 0 || !in.seek(position)) return block;
  block.bytes.resize(n);
  block.bytes.resize(in.read(block.bytes.data(), n));
  return block;
}

}  // namespace morph
