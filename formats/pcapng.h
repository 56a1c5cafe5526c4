// pcapng: what source identification and topology determination need.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/state.h"
#include "engine/streams.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Pcapng = AnalyzerType(36);
}  // namespace Analyzer

constexpr uint32_t kPcapngSectionHeader = 0x0A0D0D0A;  // the same in both byte orders
constexpr uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;

// Whether the first bytes of a file are a section header block: its type and
// the byte-order magic, in either order.
bool IsPcapngHead(const uint8_t* head, size_t n);

// What the first section states before its first frame.
struct PcapngSummary {
  std::vector<SourceInterface> interfaces;  // described before the first frame
  std::string comment;                      // the first section's comment
};
// Reads from the start of `in` up to the first frame; false when the file
// is damaged before it.
bool ReadPcapngSummary(SourceStream& in, PcapngSummary& summary);

}  // namespace morph
