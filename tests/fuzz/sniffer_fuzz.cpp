// Runs the Sniffer decompressor and the Sniffer topology helpers on arbitrary
// bytes. The readers themselves are fuzzed by format_fuzz. The first input
// byte is skipped, so the corpus stays shared in shape with format_fuzz's
// Sniffer seeds; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/streams.h"
#include "formats/sniffer.h"
#include "formats/sniffer_compression.h"

namespace {

void Decompress(const std::vector<uint8_t>& bytes) {
  auto in = morph::OpenMemorySource(bytes);
  morph::SnifferDecompressor d;
  d.Reset(*in, 0);
  std::vector<uint8_t> out(40000);
  for (size_t n : {1, 6, 1000, 32768, 7})
    if (!d.Read(out.data(), n)) return;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::vector<uint8_t> file(data + 1, data + size);
  Decompress(file);
  morph::SnifferDosTopology(file.data(), file.size());
  morph::SnifferProTopology(file.data(), file.size());
  return 0;
}
