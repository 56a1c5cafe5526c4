// Identification and topology determination on arbitrary file contents, in
// memory. The first input byte picks the file name's suffix (the rules look
// at it) and whether the rest is stored gzip-compressed; the rest is the file.
// Only compressed inputs go to disk, as the gzip rules reopen the file by its
// path through the decompressor; those run the whole acceptance check.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/identify.h"
#include "engine/job.h"
#include "engine/state.h"
#include "engine/streams.h"
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

bool WriteCompressed(const std::string& path, const uint8_t* data, size_t size) {
  gzFile gz = gzopen(path.c_str(), "wb");
  if (!gz) return false;
  bool ok = size == 0 || gzwrite(gz, data, unsigned(size)) == int(size);
  return gzclose(gz) == Z_OK && ok;
}

void CheckCompressed(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = ScratchDirectory() + "/" + name;
  if (!WriteCompressed(path, data, size)) std::abort();
  static const morph::CapabilitySets caps = morph::DefaultCapabilities();
  auto state = std::make_unique<morph::ConversionState>();
  morph::SilentHost host;
  morph::CheckSource(*state, caps, path, host);
  unlink(path.c_str());
}

void CheckInMemory(const std::string& name, const uint8_t* data, size_t size) {
  auto state = std::make_unique<morph::ConversionState>();
  auto in = morph::OpenMemorySource(std::vector<uint8_t>(data, data + size));
  bool openFailed = false, tooSmall = false;
  const morph::AnalyzerType type = morph::IdentifySource(*state, *in, name, openFailed, tooSmall);
  if (type == morph::Analyzer::Unknown) return;
  morph::DetermineTopology(*state, type, *in, name, openFailed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned selector = data[0];
  const size_t suffixCount = sizeof kSuffixes / sizeof kSuffixes[0];
  const std::string name = std::string("input") + kSuffixes[selector % suffixCount];
  if (selector & kCompressedBit)
    CheckCompressed(name, data + 1, size - 1);
  else
    CheckInMemory(name, data + 1, size - 1);
  return 0;
}
