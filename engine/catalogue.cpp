#include "engine/catalogue.h"

#include <array>

#include "engine/bytes.h"

namespace morph {
namespace {

// One row per analyzer type, in type order: the value is what settings and
// files store, so rows are never reordered.
constexpr std::array<AnalyzerInfo, Analyzer::Count> kAnalyzers = {{
    {Analyzer::Advisor, "Advisor (Agilent)", "IA", ".dat"},
    {Analyzer::Skavelin, "Skavelin (Corvantique)", "SK", ".skc"},
    {Analyzer::Ascii, "ASCII (text file with options)", nullptr, ".txt"},
    {Analyzer::Bsts, "BSTS (Agilent)", "BT", ".data_recording"},
    {Analyzer::Da30, "DA-30 (Acterna/WWG)", "DA", ".an1"},
    {Analyzer::DataGlance, "DataGLANce (IBM)", "DG", ".dgc"},
    {Analyzer::Domino, "Domino (Acterna/WWG)", "DM", ".cap"},
    {Analyzer::Ostrawind, "Ostrawind (Corvantique)", "OW", ".pkt"},
    {Analyzer::FireBerd500, "FireBerd 500 (Acterna/TTC)", "FB", ".pkt"},
    {Analyzer::FireBerd500Pc, "FireBerd 500 PC (Acterna/TTC)", nullptr, ".cap"},
    {Analyzer::FireBerdDna323, "FireBerd DNA-323 (Acterna/TTC)", nullptr, ".trc"},
    {Analyzer::InternetAdvisor, "Internet Advisor (Agilent, pre-Win95)", "HP", ""},
    {Analyzer::Lan900, "LAN900 (Digitech)", "L9", ".dat"},
    {Analyzer::LanAnalyzer, "LAN Analyzer (Agilent)", nullptr, ".cap"},
    {Analyzer::LanAlyzer, "LANalyzer (Novell)", "LZ", ".tr1"},
    {Analyzer::LanDesk, "LANDesk/NetSight (Intel)", nullptr, ".cap"},
    {Analyzer::LanWatch, "LANWatch (Precision Guesswork)", nullptr, ""},
    {Analyzer::LinkViewPro, "LinkView PRO (Acterna/WWG)", "LV", ".cap"},
    {Analyzer::NetLens, "NetLens/Spider (Acterna/TTC)", nullptr, ""},
    {Analyzer::NetMetrix, "NetMetrix (Agilent)", nullptr, ".trc"},
    {Analyzer::NetMon1, "NetMon (Microsoft, SMS 1.2)", "NM", ".cap"},
    {Analyzer::NetMon2, "NetMon (Microsoft, SMS 2.0)", "N2", ".cap"},
    {Analyzer::NetScout, "NetScout (NetScout Systems)", "NS", ".dat"},
    {Analyzer::NetworkAnalyzer, "Network Analyzer (Agilent)", "AN", ".dat"},
    {Analyzer::Observer, "Observer (Network Instruments)", "OB", ".bfr"},
    {Analyzer::ProtocolInspector, "Protocol Inspector (Fluke)", nullptr, ".cap"},
    {Analyzer::SnifferPro, "SnifferPro/NetXRay (NAI)", "XR", ".cap"},
    {Analyzer::SnifferDos, "Sniffer DOS (NAI)", "SN", ""},
    {Analyzer::Snoop, "Snoop (Sun)", "SO", ".snoop"},
    {Analyzer::Surveyor, "Surveyor (Finisar/Shomiti)", "SH", ".cap"},
    {Analyzer::Tcpdump, "tcpdump/libpcap", "TD", ".dmp"},
    {Analyzer::Ringstave, "Ringstave (Corvantique)", "RS", ".rgc"},
    {Analyzer::Glimmerhollow, "Glimmerhollow (Corvantique)", nullptr, ""},
    {Analyzer::Farrowe, "Farrowe (Corvantique)", "KV", ".kvc"},
    {Analyzer::AnyAnalyzer, "Any Analyzer", nullptr, ""},
    {Analyzer::Unknown, "Unknown", nullptr, ""},
    {Analyzer::Pcapng, "pcapng", "PN", ".pcapng"},
}};

// Command-line codes in the order they are tested (the order users have
// always seen in the code list).
constexpr std::array<AnalyzerType, 25> kCodeOrder = {
    Analyzer::NetworkAnalyzer, Analyzer::NetScout, Analyzer::Bsts,    Analyzer::LinkViewPro,
    Analyzer::LanAlyzer,       Analyzer::Da30,     Analyzer::SnifferDos, Analyzer::InternetAdvisor,
    Analyzer::Advisor,         Analyzer::DataGlance, Analyzer::FireBerd500, Analyzer::Lan900,
    Analyzer::NetMon1,         Analyzer::NetMon2,  Analyzer::Observer, Analyzer::Ostrawind,
    Analyzer::Skavelin,        Analyzer::Farrowe,  Analyzer::Tcpdump,  Analyzer::Ringstave,
    Analyzer::Surveyor,        Analyzer::Snoop,    Analyzer::Domino,   Analyzer::SnifferPro,
    Analyzer::Pcapng,
};

}  // namespace

const AnalyzerInfo& Analyzers(AnalyzerType type) {
  return kAnalyzers[unsigned(type) < kAnalyzers.size() ? unsigned(type) : Number(Analyzer::Unknown)];
}

bool HasReader(AnalyzerType type) { return ReaderFormat(type) != nullptr; }
bool HasWriter(AnalyzerType type) { return WriterFormat(type) != nullptr; }

std::string AnalyzerName(AnalyzerType type) { return Analyzers(type).name; }

std::string SourceDisplayName(AnalyzerType type, uint32_t variant, bool compressed) {
  const FormatDescriptor* f = TopologyFormat(type);
  if (!f) f = ReaderFormat(type);
  if (f && f->sourceName) return f->sourceName(type, variant, compressed);
  std::string name = AnalyzerName(type);
  return compressed ? name + " (compressed)" : name;
}

std::string DefaultSuffix(AnalyzerType type, Topology topology) {
  for (const FormatDescriptor* f : {WriterFormat(type), TopologyFormat(type)})
    if (f && f->suffix)
      if (const char* suffix = f->suffix(type, topology)) return suffix;
  return Analyzers(type).suffix;
}

std::string TopologyName(Topology topology) {
  static const std::array<const char*, 21> kNames = {
      "Ethernet", "Token Ring", "", "FDDI", "WAN", "DS3", "E3", "T1", "E1", "V Series",
      "E Series", "T Series", "ATM", "ATM OC3", "ATM T1", "ATM E1", "ATM E3", "ATM DS1",
      "ATM DS3", "", "802.11 Wireless"};
  return unsigned(topology) < kNames.size() ? kNames[unsigned(topology)] : "";
}

std::string WanProtocolName(uint32_t protocol) {
  static const std::array<const char*, 8> kNames = {
      " HDLC", " SDLC", " X.25", " ISDN", " PPP", " LAPB", " LAPD", " Frame Relay"};
  return protocol < kNames.size() ? kNames[protocol] : "";
}

std::optional<AnalyzerType> AnalyzerFromCode(const std::string& code) {
  const std::string upper = Upper(code);
  for (AnalyzerType type : kCodeOrder)
    if (upper == Analyzers(type).code) return type;
  return std::nullopt;
}

std::vector<std::string> FriendlyNames(AnalyzerType type) {
  std::vector<std::string> names;
  for (const FormatDescriptor* f : RegisteredFormats())
    for (const FriendlyName& alias : f->aliases)
      if (alias.type == type) names.push_back(alias.name);
  return names;
}

std::optional<AnalyzerType> AnalyzerFromCodeOrName(const std::string& text) {
  if (auto byCode = AnalyzerFromCode(text)) return byCode;
  const std::string upper = Upper(text);
  for (const AnalyzerInfo& info : kAnalyzers)
    if (Upper(info.name) == upper) return info.type;
  for (const AnalyzerInfo& info : kAnalyzers)
    for (const std::string& alias : FriendlyNames(info.type))
      if (Upper(alias) == upper) return info.type;
  return std::nullopt;
}

}  // namespace morph
