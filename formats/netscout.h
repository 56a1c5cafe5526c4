// NetScout frame files (read only): a big-endian header, a table of 28-byte
// frame entries at 4224, and the stored frame bytes wherever the entries say.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType NetScout = AnalyzerType(22);
}  // namespace Analyzer

namespace NetScout {
constexpr int kHeaderSize = 92;
constexpr int64_t kTableAt = 4224;
constexpr int kEntrySize = 28;
}  // namespace NetScout

std::optional<AnalyzerType> IdentifyNetScout(IdentifyInput& in);
Topology NetScoutTopology(TopologyInput& t);

extern const FormatDescriptor kNetScoutFormat;

}  // namespace morph
