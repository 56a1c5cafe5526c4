// Analyzer families whose files are recognised, and whose media can be told
// from their headers, but which this build does not read yet. A family moves
// out of here into its own file pair when it gains a reader.
#include <optional>

#include "engine/bytes.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/state.h"
#include "formats/recognised.h"

namespace morph {
namespace {

bool HasSuffix(const IdentifyInput& input, const char* suffix) {
  return input.upperPath.find(suffix) != std::string::npos;
}

// ---- LANDesk/NetSight
std::optional<AnalyzerType> IdentifyLanDesk(IdentifyInput& input) {
  static const uint8_t kEofZero[2] = {0x1A, 0x00};
  if (input.head.contains(kEofZero, 2) && (input.head.u8(40) == 1 || input.head.u8(40) == 3) &&
      HasSuffix(input, ".CAP"))
    return Analyzer::LanDesk;
  return std::nullopt;
}
Topology LanDeskTopology(TopologyInput& t) {
  switch (t.head.le16(40)) {
    case 1: return Topo::Ethernet;
    case 3: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

}  // namespace

namespace {
// Tried at 90, before the text searches: needs the .cap suffix and one byte.
constexpr IdentifyRule kLanDeskRules[] = {{"landesk", IdentifyLanDesk, 90}};
}  // namespace

constexpr AnalyzerInfo kLanDeskAnalyzers[] = {
    {Analyzer::LanDesk, "LANDesk/NetSight (Intel)", nullptr, ".cap", 0},
};

extern const FormatDescriptor kLanDeskFormat = {
    .family = "LANDesk/NetSight",
    .analyzers = kLanDeskAnalyzers,
    .recognises = MaskOf({Analyzer::LanDesk}),
    .identify = kLanDeskRules,
    .topology = LanDeskTopology,
};

// Analyzers known by name only: their files are neither recognised nor read;
// their names and codes stay as users have always seen them.
constexpr AnalyzerInfo kNamedOnlyAnalyzers[] = {
    {Analyzer::Bsts, "BSTS (Agilent)", "BT", ".data_recording", 0},
    {Analyzer::LanWatch, "LANWatch (Precision Guesswork)", nullptr, "", 0},
    {Analyzer::NetLens, "NetLens/Spider (Acterna/TTC)", nullptr, "", 0},
};

extern const FormatDescriptor kNamedOnlyFormat = {
    .family = "named only",
    .analyzers = kNamedOnlyAnalyzers,
};

}  // namespace morph
