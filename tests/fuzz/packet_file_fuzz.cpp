// libFuzzer entry: native packet files, classic and tagged, through the
// header summary and the whole reader, with the writers as targets.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "formats/packet_file.h"

namespace {

constexpr morph::Topology kTopologies[] = {morph::Topo::Ethernet, morph::Topo::Wireless,
                                           morph::Topo::TokenRing, morph::Topo::TSeries};
constexpr morph::AnalyzerType kTargets[] = {morph::Analyzer::Ostrawind, morph::Analyzer::Farrowe,
                                            morph::Analyzer::Skavelin};

}  // namespace

// The first byte picks the medium and the target; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  std::vector<uint8_t> file(data + 1, data + size);

  morph::PacketFileSummary summary;
  auto probe = morph::OpenMemorySource(file);
  morph::ReadPacketFileSummary(*probe, summary);

  morph::SilentHost host;
  morph::Conversion c(host);
  morph::ConversionState& s = c.state;
  s.SourceAnalyzer = morph::Analyzer::Farrowe;
  s.TraceTopology = kTopologies[choice % 4];
  s.WanProtocol = morph::Wan::NotKnown;
  s.TargetAnalyzer = kTargets[(choice >> 2) % 3];
  s.SliceFrames = (choice & 0x20) != 0;
  s.SliceLength = 61;
  s.ConvertToEthernet = (choice & 0x40) != 0;
  c.source = morph::OpenMemorySource(std::move(file));
  c.target = std::make_unique<morph::MemoryTarget>();
  c.ConvertTrace(false, 0);
  return 0;
}
