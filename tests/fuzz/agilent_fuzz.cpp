// Runs the Advisor / Network Analyzer (through the Advisor file library),
// Internet Advisor and NetMetrix readers on arbitrary bytes, writing what they
// deliver as libpcap or Internet Advisor in memory. The first input byte
// picks reader, topology and writer; the rest is the file. Library files are
// opened by name, so those bytes go through a file in memory-backed storage.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/streams.h"
#include "formats/advisor.h"
#include "formats/internet_advisor.h"
#include "formats/netmetrix.h"
#include "formats/pcap.h"

namespace {

constexpr morph::AnalyzerType kReaders[] = {morph::Analyzer::Advisor,
                                            morph::Analyzer::NetworkAnalyzer,
                                            morph::Analyzer::InternetAdvisor,
                                            morph::Analyzer::NetMetrix};
constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::TokenRing,
                                           morph::Topo::T1, morph::Topo::AtmOc3};
constexpr morph::AnalyzerType kWriters[] = {morph::Analyzer::Tcpdump,
                                            morph::Analyzer::InternetAdvisor};

// The file the readers that open their own source read, one per process,
// removed when the fuzzer ends.
struct LibraryFile {
  std::string path;
  LibraryFile() {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path = std::string(dir) + "/agilent-fuzz-" + std::to_string(getpid()) + ".dat";
  }
  ~LibraryFile() { unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  morph::SilentHost host;
  morph::Conversion c(host);
  morph::ConversionState& s = c.state;
  s.sourceAnalyzer = kReaders[choice & 3];
  s.traceTopology = kTopologies[(choice >> 2) & 3];
  s.targetAnalyzer = kWriters[(choice >> 4) & 1];
  s.options.sliceFrames = (choice & 0x80) != 0;
  s.options.sliceLength = 50;
  std::vector<uint8_t> file(data + 1, data + size);
  static const LibraryFile library;
  const std::string& path = library.path;
  if (s.sourceAnalyzer == morph::Analyzer::Advisor ||
      s.sourceAnalyzer == morph::Analyzer::NetworkAnalyzer) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    s.sourceFileName = path;
  } else {
    c.source = morph::OpenMemorySource(std::move(file));
  }
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
  return 0;
}
