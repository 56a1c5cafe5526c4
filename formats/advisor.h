// Advisor and Network Analyzer traces, stored in files of the Advisor file
// library: what goes into its configuration and its four record layouts.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"
#include "formats/advisor_library.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType Advisor = AnalyzerType(0);
inline constexpr AnalyzerType NetworkAnalyzer = AnalyzerType(23);
}  // namespace Analyzer

// Identification: a file the library opens is an Advisor or a Network
// Analyzer trace by the kind it states; any other kind is no trace of ours.
std::optional<AnalyzerType> IdentifyAdvisorFile(IdentifyInput& in);
// Topology, WAN protocol, line speed, comment and frame count, from the
// configuration of the file.
Topology AdvisorFileTopology(TopologyInput& in);

// The configuration a writer stores for the conversion as it stands, and the
// topology (with the WAN protocol) a configuration reads back as.
// Writer steps.
void WriteAdvisorHeader(Conversion& c, int32_t frameNumber);
void WriteAdvisorFrame(Conversion& c);
void FinishAdvisor(Conversion& c, int32_t framesWritten);

BasicConfig AdvisorConfig(const ConversionState& s, ConfigExtension& extension);
Topology AdvisorTopologyOf(const BasicConfig& config, uint32_t& wanProtocol);

}  // namespace morph
