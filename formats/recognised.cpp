// Analyzer families whose files are recognised, and whose media can be told
// from their headers, but which this build does not read yet. A family moves
// out of here into its own file pair when it gains a reader.
#include <optional>

#include "engine/bytes.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/state.h"

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

// ---- NetMetrix
std::optional<AnalyzerType> IdentifyNetMetrix(IdentifyInput& input) {
  if (input.head.be32(0) != 0x6476) return std::nullopt;
  return input.head.be32(4) == 4 ? Analyzer::NetMetrix : Analyzer::Unknown;
}
Topology NetMetrixTopology(TopologyInput& t) {
  FileBlock info = ReadFileBlock(t.in, t.head.be32(16), 144);
  switch (info.be32(92)) {
    case 0:
    case 44: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    default: return Topo::Unknown;
  }
}

// ---- Internet Advisor
std::optional<AnalyzerType> IdentifyInternetAdvisor(IdentifyInput& input) {
  if (input.head.contains("HPDATA0")) return Analyzer::InternetAdvisor;
  return std::nullopt;
}
Topology InternetAdvisorTopology(TopologyInput& t) {
  switch (t.head.le32(24)) {
    case 1:
    case 2:
    case 5:
    case 8: t.speed = 10000000; return Topo::Ethernet;
    case 7: t.speed = 100000000; return Topo::Ethernet;
    case 3: t.speed = 4000000; return Topo::TokenRing;
    case 4: t.speed = 16000000; return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

const char* InternetAdvisorSuffix(AnalyzerType, Topology topology) {
  if (topology == Topo::Ethernet) return ".eth";
  if (topology == Topo::TokenRing) return ".trn";
  return "";
}

// ---- Advisor and Network Analyzer: only the Advisor file library tells.
Topology AdvisorTopology(TopologyInput&) { return Topo::Unknown; }

}  // namespace

namespace {
constexpr IdentifyRule kLanDeskRules[] = {{"landesk", IdentifyLanDesk}};
constexpr IdentifyRule kNetMetrixRules[] = {{"netmetrix", IdentifyNetMetrix}};
constexpr IdentifyRule kInternetAdvisorRules[] = {{"internet-advisor", IdentifyInternetAdvisor}};
}  // namespace

extern const FormatDescriptor kLanDeskFormat = {
    .family = "LANDesk/NetSight",
    .recognises = MaskOf({Analyzer::LanDesk}),
    .identify = kLanDeskRules,
    .topology = LanDeskTopology,
};
extern const FormatDescriptor kNetMetrixFormat = {
    .family = "NetMetrix",
    .recognises = MaskOf({Analyzer::NetMetrix}),
    .identify = kNetMetrixRules,
    .topology = NetMetrixTopology,
};
extern const FormatDescriptor kInternetAdvisorFormat = {
    .family = "Internet Advisor",
    .recognises = MaskOf({Analyzer::InternetAdvisor}),
    .suffix = InternetAdvisorSuffix,
    .identify = kInternetAdvisorRules,
    .topology = InternetAdvisorTopology,
};
extern const FormatDescriptor kAdvisorFormat = {
    .family = "Advisor",
    .recognises = MaskOf({Analyzer::Advisor, Analyzer::NetworkAnalyzer}),
    .topology = AdvisorTopology,
};

}  // namespace morph
