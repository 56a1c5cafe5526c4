// Internet Advisor (pre-Win95) capture files: a 128-byte header, then blocks
// of 32,768 bytes holding a group record, frame records and a padding record.
#pragma once
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType InternetAdvisor = AnalyzerType(11);
}  // namespace Analyzer

constexpr int kInternetAdvisorHeaderBytes = 128;
constexpr int kInternetAdvisorBlockBytes = 32768;

// Identification: "HPDATA0" anywhere in the first bytes.
std::optional<AnalyzerType> IdentifyInternetAdvisor(IdentifyInput& in);
// Topology and line speed from the header's media code.
Topology InternetAdvisorTopology(TopologyInput& in);

// Writer steps.
void WriteInternetAdvisorHeader(Conversion& c, int32_t frameNumber);
void WriteInternetAdvisorFrame(Conversion& c);
void FinishInternetAdvisor(Conversion& c, int32_t framesWritten);

}  // namespace morph
