// Runs the Domino / LinkView PRO, DA-30, FireBerd 500 and FireBerd DNA-323
// readers on arbitrary bytes, writing what they deliver through one of the
// same family's writers in memory. The first input byte picks reader,
// topology, writer and slicing; the rest is the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/streams.h"

namespace {

constexpr morph::AnalyzerType kFormats[] = {morph::Analyzer::Domino, morph::Analyzer::LinkViewPro,
                                            morph::Analyzer::Da30, morph::Analyzer::FireBerd500,
                                            morph::Analyzer::FireBerdDna323};
constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::TokenRing,
                                           morph::Topo::AtmOc3, morph::Topo::TSeries};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  morph::SilentHost host;
  morph::Conversion c(host);
  c.state.SourceAnalyzer = kFormats[(choice & 7) % 5];
  c.state.TraceTopology = kTopologies[(choice >> 3) & 3];
  c.state.TargetAnalyzer = kFormats[(choice >> 5) % 5];
  c.state.SliceFrames = (choice & 0x80) != 0;
  c.state.SliceLength = 50;
  c.source = morph::OpenMemorySource(std::vector<uint8_t>(data + 1, data + size));
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
  return 0;
}
