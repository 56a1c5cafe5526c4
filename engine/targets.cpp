#include "engine/targets.h"

#include <algorithm>
#include <cctype>

#include "engine/catalogue.h"

namespace morph {
namespace {

// The types whose rows carry one of these Offer:: flags.
AnalyzerSet OfferedAs(uint8_t flags) {
  AnalyzerSet set;
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (info->offer & flags) set.set(info->type);
  return set;
}

std::vector<AnalyzerType> SortedByName(const AnalyzerSet& set) {
  std::vector<AnalyzerType> list;
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (set.test(info->type)) list.push_back(info->type);
  // The window's list sorts without regard to letter case.
  auto folded = [](AnalyzerType type) {
    std::string name = AnalyzerName(type);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  std::sort(list.begin(), list.end(),
            [&](AnalyzerType a, AnalyzerType b) { return folded(a) < folded(b); });
  return list;
}

std::string DirectoryPart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A compressed file loses both suffixes: "cap.pcap.gz" is "cap".
  for (int suffixes = 0; suffixes < 2; ++suffixes) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) break;
    const bool compressed = name.compare(dot, std::string::npos, ".gz") == 0;
    name.erase(dot);
    if (!compressed) break;
  }
  return name;
}

std::string Underscored(std::string suffix) {
  std::replace(suffix.begin(), suffix.end(), '.', '_');
  return suffix;
}

}  // namespace

CapabilitySets DefaultCapabilities() {
  CapabilitySets c;
  for (const AnalyzerInfo* info : AnalyzerRows()) {
    const AnalyzerType type = info->type;
    const uint8_t media = info->media;
    if (media & Media::Ethernet) c.ethernet.set(type);
    if (media & Media::TokenRing) c.tokenRing.set(type);
    if (media & Media::Fddi) c.fddi.set(type);
    if (media & Media::Wireless) c.wireless.set(type);
    if (media & Media::Wan) c.wan.set(type);
    if (media & Media::LinkTypes) c.linkTypes.set(type);
    if (info->offer & Offer::SourceOnly) c.hidden.set(type);
  }
  c.supportedWanProtocols = uint16_t(1u << Wan::Hdlc | 1u << Wan::X25 | 1u << Wan::Isdn |
                                     1u << Wan::Ppp | 1u << Wan::FrameRelay);
  return c;
}

bool SourceSupported(const CapabilitySets& caps, AnalyzerType source, Topology topology,
                     uint32_t wanProtocol) {
  if (Number(topology) >= Number(Topo::Wan) && Number(topology) <= Number(Topo::TSeries))
    return wanProtocol < 16 && (caps.supportedWanProtocols >> wanProtocol & 1u);
  switch (topology) {
    case Topo::Ethernet: return caps.ethernet.test(source);
    case Topo::TokenRing: return caps.tokenRing.test(source);
    case Topo::Fddi: return caps.fddi.test(source);
    case Topo::Wireless: return caps.wireless.test(source);
    case Topo::Unknown: return caps.linkTypes.test(source);  // a link type of no medium of ours
    default: return Number(topology) >= Number(Topo::Atm) && Number(topology) <= Number(Topo::Wan19);
  }
}

TargetClass TargetClassFor(Topology topology, bool convertToEthernet, bool convertToWireless) {
  if (IsAtmTopology(topology)) return TargetClass::Atm;
  if (IsLanTopology(topology)) {
    bool wireless = (topology == Topo::Wireless && !convertToEthernet) ||
                    (topology == Topo::Ethernet && convertToWireless);
    return wireless ? TargetClass::Wireless : TargetClass::Lan;
  }
  return TargetClass::Wan;
}

std::vector<AnalyzerType> OfferedTargets(const CapabilitySets& caps, TargetClass targetClass,
                                         Topology topology, bool convertToEthernet,
                                         bool convertToWireless) {
  // The boxes only count where they are shown.
  convertToEthernet = convertToEthernet && topology == Topo::Wireless;
  convertToWireless = convertToWireless && topology == Topo::Ethernet;
  // A source's own link type, of no medium above, goes where link types are stated.
  if (topology == Topo::Unknown) return SortedByName(caps.linkTypes);
  AnalyzerSet ethernetTargets = caps.ethernet;
  ethernetTargets &= ~OfferedAs(Offer::NoEthernetTarget);
  AnalyzerSet offered;
  switch (targetClass) {
    case TargetClass::Lan:
      if (topology == Topo::Ethernet)
        offered = convertToWireless ? caps.wireless : ethernetTargets;
      else if (topology == Topo::TokenRing)
        offered = caps.tokenRing;
      else if (topology == Topo::Fddi)
        offered = caps.fddi;
      else if (topology == Topo::Wireless)
        offered = convertToEthernet ? ethernetTargets : caps.wireless;
      break;
    case TargetClass::Wan: offered = caps.wan; break;
    case TargetClass::Atm: offered = caps.atm; break;
    case TargetClass::Wireless:
      offered = convertToEthernet ? ethernetTargets : caps.wireless;
      break;
  }
  offered &= ~caps.hidden;
  if (convertToEthernet || convertToWireless) offered &= ~OfferedAs(Offer::NoMediaConversion);
  return SortedByName(offered);
}

TargetList FillTargetList(const CapabilitySets& caps, TargetClass targetClass, Topology topology,
                          bool convertToEthernet, bool convertToWireless, AnalyzerType current) {
  TargetList list;
  list.convertToEthernetVisible = topology == Topo::Wireless;
  list.convertToWirelessVisible = topology == Topo::Ethernet;
  list.offered =
      OfferedTargets(caps, targetClass, topology, convertToEthernet, convertToWireless);
  if (std::find(list.offered.begin(), list.offered.end(), current) != list.offered.end())
    list.selected = current;
  else if (!list.offered.empty())
    list.selected = list.offered.front();
  const FormatDescriptor* writer = WriterFormat(list.selected);
  list.optionsVisible = writer && writer->optionsDialog != OptionsDialog::None;
  return list;
}

AnalyzerType TargetFromListText(const std::string& text) {
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (text == info->name) return info->type;
  return Analyzer::Unknown;
}

void MediaBoxes::clickConvertToEthernet(bool checked) {
  convertToEthernet = checked;
  if (checked) convertToWireless = false;
  targetClass = checked ? TargetClass::Lan : TargetClass::Wireless;
}

void MediaBoxes::clickConvertToWireless(bool checked) {
  convertToWireless = checked;
  if (checked) convertToEthernet = false;
  targetClass = checked ? TargetClass::Wireless : TargetClass::Lan;
}

std::string ToggleHiddenAnalyzers(CapabilitySets& caps) {
  bool enabled = false;
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (info->offer & Offer::HiddenSwitch) {
      caps.ethernet.flip(info->type);
      enabled = caps.ethernet.test(info->type);
    }
  return enabled ? "Additional unsupported features/analyzers ENABLED."
                 : "Additional unsupported features/analyzers DISABLED.";
}

std::string DestinationAfterSelect(const DestinationRequest& r, bool fromSource,
                                   bool severalSources) {
  if (r.sourcePath.empty() || r.targetAnalyzer == Analyzer::Unknown) return r.destinationField;
  if (fromSource) return DefaultTargetName(r);
  if (severalSources) return r.destinationField;
  DestinationRequest own = r;
  own.sourcePath = r.destinationField;
  return DefaultTargetName(own);
}

std::string DefaultTargetName(const DestinationRequest& r) {
  if ((Analyzers(r.sourceAnalyzer).offer & Offer::NoDefaultName) || r.sourcePath.empty())
    return "";
  std::string base = BaseName(r.sourcePath);
  std::string directory =
      r.destinationField.empty() ? DirectoryPart(r.sourcePath) : DirectoryPart(r.destinationField);
  bool toEthernet = r.convertToEthernet && r.topology == Topo::Wireless;
  bool toWireless = r.convertToWireless && r.topology == Topo::Ethernet;
  if (toEthernet || toWireless) {
    Topology from = toEthernet ? Topo::Wireless : Topo::Ethernet;
    Topology to = toEthernet ? Topo::Ethernet : Topo::Wireless;
    std::string tag = Underscored(DefaultSuffix(r.sourceAnalyzer, from));
    if (!tag.empty()) {
      if (!r.destinationField.empty()) {
        if (base.size() > 3 && base.size() >= tag.size() && base.find(tag) == base.size() - tag.size())
          base.erase(base.size() - tag.size());
      } else if (base.size() >= 4 && base.find('_') == base.size() - 4) {
        base.erase(base.size() - 4);
      }
    }
    return directory + base + tag + DefaultSuffix(r.targetAnalyzer, to);
  }
  return directory + base + DefaultSuffix(r.targetAnalyzer, r.topology);
}

}  // namespace morph
