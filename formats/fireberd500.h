// FireBerd 500 capture files: a 76-byte header, 10-byte-headed frame records
// one after another, and a table of record positions at the end. A file
// holds at most 65,535 frames (the frame number is a 16-bit field).
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType FireBerd500 = AnalyzerType(8);
}  // namespace Analyzer

constexpr int kFireBerd500HeaderSize = 76;
constexpr int32_t kFireBerd500MaxFrames = 65535;

// Files whose first bytes contain "ProbeApps".
std::optional<AnalyzerType> IdentifyFireBerd500(IdentifyInput& in);
// From the first data byte of the first record: Ethernet or Token Ring.
Topology FireBerd500Topology(TopologyInput& t);

void WriteFireBerd500Header(Conversion& c, int32_t frameNumber);
void WriteFireBerd500Frame(Conversion& c);
void FinishFireBerd500(Conversion& c, int32_t framesWritten);

}  // namespace morph
