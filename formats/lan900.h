// LAN900 trace files: 65,536-byte pages; page 0 holds the header and the page
// table, pages 1 to N frame records. A circular capture starts at a later page
// and wraps from the last page to page 1.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Lan900 = AnalyzerType(12);
}  // namespace Analyzer

namespace Lan900 {
constexpr int64_t kPageSize = 65536;
constexpr int kMaxPages = 4096;
constexpr int kPageTableAt = 8238;
constexpr int kRecordHeaderSize = 12;
constexpr uint8_t kFrameRecord = 0x82;
constexpr uint8_t kMediaEthernet = 5, kMediaEthernet2 = 7, kMediaTokenRing = 6;
constexpr double kTickMicroseconds = 0.838096536007;
constexpr int64_t kMinimumFileSize = 2 * kPageSize;
}  // namespace Lan900

std::optional<AnalyzerType> IdentifyLan900(IdentifyInput& in);
Topology Lan900Topology(TopologyInput& t);

void WriteLan900Header(Conversion& c, int32_t frameNumber);
void WriteLan900Frame(Conversion& c);
void FinishLan900(Conversion& c, int32_t framesWritten);

extern const FormatDescriptor kLan900Format;

}  // namespace morph
