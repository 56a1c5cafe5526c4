// DA-30 capture files: a 78-byte header, a statistics area whose size
// depends on the topology, a 2-byte terminator, and frame records chained by
// their sizes in 32-bit words. Ethernet and Token Ring.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Da30 = AnalyzerType(4);
}  // namespace Analyzer

constexpr int kDa30HeaderSize = 78;

// Files that begin with "EXRS".
std::optional<AnalyzerType> IdentifyDa30(IdentifyInput& in);
// The interface code of the statistics area: 30 Token Ring, 40 Ethernet.
Topology Da30Topology(TopologyInput& t);

void WriteDa30Header(Conversion& c, int32_t frameNumber);
void WriteDa30Frame(Conversion& c);
void FinishDa30(Conversion& c, int32_t framesWritten);

}  // namespace morph
