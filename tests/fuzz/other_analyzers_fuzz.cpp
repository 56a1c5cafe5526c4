// Runs the Observer, LANalyzer, DataGLANce, LAN900 and NetScout readers on
// arbitrary bytes, writing what they deliver through the Observer, LANalyzer,
// DataGLANce or LAN900 writer in memory. The first input byte picks reader,
// topology and writer; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/streams.h"

namespace {

constexpr morph::AnalyzerType kReaders[] = {morph::Analyzer::Observer, morph::Analyzer::LanAlyzer,
                                            morph::Analyzer::DataGlance, morph::Analyzer::Lan900,
                                            morph::Analyzer::NetScout};
constexpr morph::AnalyzerType kWriters[] = {morph::Analyzer::Observer, morph::Analyzer::LanAlyzer,
                                            morph::Analyzer::DataGlance, morph::Analyzer::Lan900};
constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::TokenRing,
                                           morph::Topo::Fddi, morph::Topo::Wireless};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  morph::SilentHost host;
  morph::Conversion c(host);
  c.state.SourceAnalyzer = kReaders[(choice & 7) % 5];
  c.state.TraceTopology = kTopologies[(choice >> 3) & 3];
  c.state.TargetAnalyzer = kWriters[(choice >> 5) & 3];
  c.state.SliceFrames = (choice & 0x80) != 0;
  c.state.SliceLength = 50;
  c.source = morph::OpenMemorySource(std::vector<uint8_t>(data + 1, data + size));
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
  return 0;
}
