// Novell LANalyzer trace files: a chain of typed records (file header, names,
// trace summary, cyclic information, index) followed by one record per frame.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"
#include "engine/streams.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType LanAlyzer = AnalyzerType(14);
}  // namespace Analyzer

namespace Lanalyzer {
constexpr uint16_t kFileHeader = 0x1001, kCyclicFileHeader = 0x1007, kSummary = 0x1002,
                   kSubFileSummary = 0x1003, kIndex = 0x1004, kFrame = 0x1005,
                   kReceiveNames = 0x1006, kCyclicInfo = 0x1009, kStructure100A = 0x100A,
                   kTransmitNames = 0x100B, kStructure1035 = 0x1035, kStructure1036 = 0x1036;
constexpr int kRecordHeaderSize = 4;
constexpr int kSummarySize = 210;
constexpr int kCyclicInfoSize = 26;
constexpr int kFrameHeaderSize = 32;
constexpr uint16_t kMediaEthernet = 226, kMediaTokenRing = 227, kMediaTokenRing2 = 228;
}  // namespace Lanalyzer

// What the records before the first frame say.
struct LanalyzerHeader {
  bool cyclic = false;
  bool haveSummary = false;
  uint8_t summary[Lanalyzer::kSummarySize] = {};
  uint8_t cyclicInfo[Lanalyzer::kCyclicInfoSize] = {};
  int64_t firstFrame = -1;  // position of the first frame record, -1 when there is none
};

// Reads the records up to the first frame record, by type: unknown records
// are passed over, and the usual fixed order reads as before. False when the
// file does not start with a LANalyzer file header or a record is cut short.
bool ReadLanalyzerHeader(SourceStream& in, LanalyzerHeader& header);

std::optional<AnalyzerType> IdentifyLanalyzer(IdentifyInput& in);
Topology LanalyzerTopology(TopologyInput& t);

void WriteLanalyzerHeader(Conversion& c, int32_t frameNumber);
void WriteLanalyzerFrame(Conversion& c);
void FinishLanalyzer(Conversion& c, int32_t framesWritten);

extern const FormatDescriptor kLanAlyzerFormat;

}  // namespace morph
