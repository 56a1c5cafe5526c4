// Identification and the acceptance checks on arbitrary file contents. The
// first input byte picks the file name's suffix (the rules look at it) and
// whether the rest is stored gzip-compressed; the rest is the file.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/host.h"
#include "engine/job.h"
#include "engine/state.h"
#include "engine/targets.h"

namespace {

const char* const kSuffixes[] = {".cap", ".kvz", ".caz", ".dgc", ".dat", ".pkt",
                                 ".rgc", ".skc", ".enc", ".trc", ".dmp", ".bin"};
constexpr unsigned kCompressedBit = 0x80;

const std::string& ScratchDirectory() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/identify_fuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return dir;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size, bool compressed) {
  if (compressed) {
    gzFile gz = gzopen(path.c_str(), "wb");
    if (!gz) return false;
    bool ok = size == 0 || gzwrite(gz, data, unsigned(size)) == int(size);
    return gzclose(gz) == Z_OK && ok;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned selector = data[0];
  const size_t suffixCount = sizeof kSuffixes / sizeof kSuffixes[0];
  const std::string path = ScratchDirectory() + "/input" + kSuffixes[selector % suffixCount];
  if (!WriteInput(path, data + 1, size - 1, (selector & kCompressedBit) != 0)) std::abort();

  static const morph::CapabilitySets caps = morph::DefaultCapabilities();
  auto state = std::make_unique<morph::ConversionState>();
  morph::SilentHost host;
  morph::CheckSource(*state, caps, path, host);
  unlink(path.c_str());
  return 0;
}
