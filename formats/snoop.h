// snoop files and the trailer variant used for Surveyor: the facts source
// identification needs. The identification code uses SnoopOrSurveyor to tell
// the two apart by the first record and SnoopTopology for the datalink type.
#pragma once
#include <cstdint>

#include "engine/streams.h"
#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType Snoop = AnalyzerType(28);
inline constexpr AnalyzerType Surveyor = AnalyzerType(29);
inline constexpr AnalyzerType FireBerd500Pc = AnalyzerType(9);
inline constexpr AnalyzerType LanAnalyzer = AnalyzerType(13);
inline constexpr AnalyzerType ProtocolInspector = AnalyzerType(25);
}  // namespace Analyzer

constexpr int kSnoopFileHeaderSize = 16;
constexpr int kSnoopRecordHeaderSize = 24;
constexpr int kSurveyorTrailerSize = 16;

// Snoop or Surveyor: a first record that spends 40 or more bytes beyond its
// frame bytes carries a trailer. Unknown when the first record cannot be read.
AnalyzerType SnoopOrSurveyor(SourceStream& in);

// Topology of a datalink type (the low byte of the header's last field) and
// the line speed it implies (0: the topology's default).
Topology SnoopTopology(uint8_t datalink, uint32_t& lineSpeed);

}  // namespace morph
