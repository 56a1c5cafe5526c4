// DataGLANce trace files: a 512-byte header and 128-byte blocks, each frame a
// first block and zero or more continuation blocks of 88 frame bytes.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType DataGlance = AnalyzerType(5);
}  // namespace Analyzer

namespace DataGlance {
constexpr int kHeaderSize = 512;
constexpr int kBlockSize = 128;
constexpr int kBlockData = 88;  // frame bytes a block carries, from offset 40
constexpr uint8_t kMediaFddi = 1, kMediaTokenRing = 2, kMediaEthernet = 3;
// Continuation blocks the writer puts after a first block, and the most the
// reader takes (it stops early at a block that starts a frame).
constexpr int ContinuationBlocks(int32_t storedLength) { return storedLength / kBlockData; }
}  // namespace DataGlance

std::optional<AnalyzerType> IdentifyDataGlance(IdentifyInput& in);
Topology DataGlanceTopology(TopologyInput& t);

void WriteDataGlanceHeader(Conversion& c, int32_t frameNumber);
void WriteDataGlanceFrame(Conversion& c);

extern const FormatDescriptor kDataGlanceFormat;

}  // namespace morph
