// FireBerd DNA-323 capture files: a 42-byte header and frame records up to
// the end of the file, stamped with absolute UTC times in 100-ns units
// since 1601-01-01 (the Windows FILETIME convention). Ethernet only.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType FireBerdDna323 = AnalyzerType(10);
}  // namespace Analyzer

constexpr int kDna323HeaderSize = 42;

// Files whose first bytes contain "pktcapKahala Systems     ".
std::optional<AnalyzerType> IdentifyFireBerdDna323(IdentifyInput& in);
Topology FireBerdDna323Topology(TopologyInput& t);

void WriteFireBerdDna323Header(Conversion& c, int32_t frameNumber);
void WriteFireBerdDna323Frame(Conversion& c);
void FinishFireBerdDna323(Conversion& c, int32_t framesWritten);

}  // namespace morph
