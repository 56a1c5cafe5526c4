// Which analyzers can carry which media: the capability sets behind the
// target list, the acceptance of a source, and default destination names.
// Shared by the command line and the desktop window.
#pragma once
#include <bitset>
#include <initializer_list>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/types.h"

namespace morph {

// A set of analyzer types.
class AnalyzerSet {
 public:
  AnalyzerSet() = default;
  AnalyzerSet(std::initializer_list<AnalyzerType> members) {
    for (AnalyzerType a : members) set(a);
  }
  bool test(AnalyzerType a) const { return bits_.test(size_t(a)); }
  void set(AnalyzerType a) { bits_.set(size_t(a)); }
  void reset(AnalyzerType a) { bits_.reset(size_t(a)); }
  void flip(AnalyzerType a) { bits_.flip(size_t(a)); }
  bool any() const { return bits_.any(); }
  AnalyzerSet operator|(const AnalyzerSet& o) const { return AnalyzerSet(bits_ | o.bits_); }
  AnalyzerSet& operator&=(const AnalyzerSet& o) { bits_ &= o.bits_; return *this; }
  AnalyzerSet operator~() const { return AnalyzerSet(~bits_); }
  bool operator==(const AnalyzerSet&) const = default;

 private:
  explicit AnalyzerSet(std::bitset<64> bits) : bits_(bits) {}
  std::bitset<64> bits_;
};

// 0 LAN (by topology), 1 WAN, 2 ATM, 3 wireless.
enum class TargetClass : uint8_t { Lan = 0, Wan = 1, Atm = 2, Wireless = 3 };

struct CapabilitySets {
  AnalyzerSet ethernet, tokenRing, fddi, wireless, wan, atm, hidden;
  // Formats whose files state a link type of their own: sources of any link
  // type, and the only targets for one that is no medium above.
  AnalyzerSet linkTypes;
  uint16_t supportedWanProtocols = 0;
  AnalyzerSet openDialog() const { return tokenRing | wireless | atm | ethernet | wan; }
};

// The sets as a fresh window builds them, from the media and offers of the
// catalogue's rows.
CapabilitySets DefaultCapabilities();

// Whether a source of this analyzer and topology can be converted.
bool SourceSupported(const CapabilitySets& caps, AnalyzerType source, Topology topology,
                     uint32_t wanProtocol);

// The target class a source's facts select.
TargetClass TargetClassFor(Topology topology, bool convertToEthernet, bool convertToWireless);

// The analyzers offered as targets, sorted by display name as the window's
// list sorts them (letter case ignored). A media box counts only where it is
// shown: "Convert to Ethernet" for 802.11 sources, "Convert to Wireless" for
// Ethernet sources.
std::vector<AnalyzerType> OfferedTargets(const CapabilitySets& caps, TargetClass targetClass,
                                         Topology topology, bool convertToEthernet,
                                         bool convertToWireless);

// The window's format list and what goes with it.
struct TargetList {
  std::vector<AnalyzerType> offered;          // in list order
  AnalyzerType selected = Analyzer::Unknown;  // Unknown when the list is empty
  bool convertToEthernetVisible = false;      // 802.11 sources
  bool convertToWirelessVisible = false;      // Ethernet sources
  bool optionsVisible = false;                // the selected target has a settings dialog
};
// Rebuilds the list; keeps `current` selected when it is offered, else the
// first entry.
TargetList FillTargetList(const CapabilitySets& caps, TargetClass targetClass, Topology topology,
                          bool convertToEthernet, bool convertToWireless, AnalyzerType current);

// The analyzer whose display name is the list's text; Unknown when none.
AnalyzerType TargetFromListText(const std::string& text);

// The two media-conversion boxes and the target class they imply. Checking
// one unchecks the other; the class follows the click.
struct MediaBoxes {
  bool convertToEthernet = false;
  bool convertToWireless = false;
  TargetClass targetClass = TargetClass::Lan;
  void clickConvertToEthernet(bool checked);
  void clickConvertToWireless(bool checked);
};

// The hidden switch (Shift with a left click on "Analyzer:"): toggles the
// types offered by it (Offer::HiddenSwitch) in the Ethernet set for the rest
// of the run. Returns the
// text of the message box that follows (caption "Morphalite").
std::string ToggleHiddenAnalyzers(CapabilitySets& caps);

// What a default destination name depends on.
struct DestinationRequest {
  std::string sourcePath;
  std::string destinationField;  // what the destination field holds (may be empty)
  AnalyzerType sourceAnalyzer = Analyzer::Unknown;
  AnalyzerType targetAnalyzer = Analyzer::Unknown;
  Topology topology = Topo::Ethernet;
  bool convertToEthernet = false;
  bool convertToWireless = false;
};

// The default destination for a source path. Empty for a packet grabber source or an empty source path. With a media
// conversion the name carries the source's own suffix as a tag
// ("trace.skc" -> "trace_skc.pkt"), which is not doubled on a second pass.
std::string DefaultTargetName(const DestinationRequest& request);

// The destination field after a target was chosen. fromSource: the default
// name for the source. Otherwise, with one source, the field's own name with
// the new target's suffix; with several sources the field stays as it is.
// Nothing changes without a source or a target.
std::string DestinationAfterSelect(const DestinationRequest& request, bool fromSource,
                                   bool severalSources);

}  // namespace morph
