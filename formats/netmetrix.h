// NetMetrix capture files (read only): big-endian, a trace-information
// record, a chain of block descriptors and the frame records they point at.
#pragma once
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType NetMetrix = AnalyzerType(19);
}  // namespace Analyzer

constexpr uint32_t kNetMetrixMagic = 0x6476;

// Identification by the first 8 bytes; no further rule is tried for a file
// that starts with the magic.
std::optional<AnalyzerType> IdentifyNetMetrix(IdentifyInput& in);
// Topology from the media field of the trace-information record.
Topology NetMetrixTopology(TopologyInput& in);

}  // namespace morph
