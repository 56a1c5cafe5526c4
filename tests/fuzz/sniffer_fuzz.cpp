// Runs the Sniffer decompressor, the Sniffer DOS and SnifferPro readers and
// the topology helpers on arbitrary bytes; what the readers deliver goes
// through the Sniffer writers in memory. The first input byte picks the
// target, topology and WAN protocol; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/streams.h"
#include "formats/sniffer.h"
#include "formats/sniffer_compression.h"

namespace {

constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::TokenRing,
                                           morph::Topo::Wan, morph::Topo::Wireless};

void Decompress(const std::vector<uint8_t>& bytes) {
  auto in = morph::OpenMemorySource(bytes);
  morph::SnifferDecompressor d;
  d.Reset(*in, 0);
  std::vector<uint8_t> out(40000);
  for (size_t n : {1, 6, 1000, 32768, 7})
    if (!d.Read(out.data(), n)) return;
}

void Convert(const std::vector<uint8_t>& bytes, morph::AnalyzerType source, uint8_t choice) {
  morph::SilentHost host;
  morph::Conversion c(host);
  c.state.SourceAnalyzer = source;
  c.state.TargetAnalyzer = (choice & 1) ? morph::Analyzer::SnifferDos : morph::Analyzer::SnifferPro;
  c.state.TraceTopology = kTopologies[(choice >> 1) & 3];
  c.state.WanProtocol = (choice & 0x08) ? morph::Wan::Hdlc : morph::Wan::NotKnown;
  c.state.LineSpeed = (choice & 0x10) ? 1000000000u : 10000000u;
  c.state.SliceFrames = (choice & 0x20) != 0;
  c.state.SliceLength = 50;
  c.source = morph::OpenMemorySource(bytes);
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const std::vector<uint8_t> file(data + 1, data + size);
  Decompress(file);
  morph::SnifferDosTopology(file.data(), file.size());
  morph::SnifferProTopology(file.data(), file.size());
  Convert(file, morph::Analyzer::SnifferDos, choice);
  Convert(file, morph::Analyzer::SnifferPro, choice);
  return 0;
}
