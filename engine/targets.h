// Which analyzers can carry which media: the capability sets behind the
// target list, the acceptance of a source, and default destination names.
// Shared by the command line and the desktop window.
#pragma once
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/types.h"

namespace morph {

using AnalyzerSet = std::bitset<40>;

// 0 LAN (by topology), 1 WAN, 2 ATM, 3 wireless.
enum class TargetClass : uint8_t { Lan = 0, Wan = 1, Atm = 2, Wireless = 3 };

struct CapabilitySets {
  AnalyzerSet ethernet, tokenRing, fddi, wireless, wan, atm, hidden;
  uint16_t supportedWanProtocols = 0;
  AnalyzerSet openDialog() const { return tokenRing | wireless | atm | ethernet | wan; }
};

// The sets as a fresh window builds them.
CapabilitySets DefaultCapabilities();

// Whether a source of this analyzer and topology can be converted.
bool SourceSupported(const CapabilitySets& caps, AnalyzerType source, Topology topology,
                     uint32_t wanProtocol);

// The target class a source's facts select.
TargetClass TargetClassFor(Topology topology, bool convertToEthernet, bool convertToWireless);

// The analyzers offered as targets, sorted by display name.
std::vector<AnalyzerType> OfferedTargets(const CapabilitySets& caps, TargetClass targetClass,
                                         Topology topology, bool convertToEthernet,
                                         bool convertToWireless);

// The default destination for a source path.
struct DestinationRequest {
  std::string sourcePath;
  std::string destinationField;  // what the destination field holds (may be empty)
  AnalyzerType sourceAnalyzer = 0;
  AnalyzerType targetAnalyzer = 0;
  Topology topology = 0;
  bool convertToEthernet = false;
  bool convertToWireless = false;
};
std::string DefaultTargetName(const DestinationRequest& request);

}  // namespace morph
