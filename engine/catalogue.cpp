#include "engine/catalogue.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "engine/bytes.h"
#include "formats/formats.h"

namespace morph {
namespace {

// One row per analyzer type, in type order.
const std::array<AnalyzerInfo, Analyzer::Count> kAnalyzers = {{
    {0, "Advisor (Agilent)", "IA", ReadAdvisor, WriteAdvisorHeader, WriteAdvisorFrame,
     FinishAdvisor},
    {1, "Skavelin (Corvantique)", "SK", ReadPacketFile, WritePacketFileHeader,
     WritePacketFileFrame, FinishPacketFile},
    {2, "ASCII (text file with options)", nullptr, nullptr,
     WriteTextDumpHeader, WriteTextDumpFrame, nullptr},
    {3, "BSTS (Agilent)", "BT", nullptr, nullptr, nullptr, nullptr},
    {4, "DA-30 (Acterna/WWG)", "DA", nullptr, nullptr, nullptr, nullptr},
    {5, "DataGLANce (IBM)", "DG", nullptr, nullptr, nullptr, nullptr},
    {6, "Domino (Acterna/WWG)", "DM", nullptr, nullptr, nullptr, nullptr},
    {7, "Ostrawind (Corvantique)", "OW", ReadPacketFile, WritePacketFileHeader,
     WritePacketFileFrame, FinishPacketFile},
    {8, "FireBerd 500 (Acterna/TTC)", "FB", nullptr, nullptr, nullptr, nullptr},
    {9, "FireBerd 500 PC (Acterna/TTC)", nullptr, nullptr,
     WriteSnoopHeader, WriteSnoopFrame, nullptr},
    {10, "FireBerd DNA-323 (Acterna/TTC)", nullptr, nullptr, nullptr, nullptr, nullptr},
    {11, "Internet Advisor (Agilent, pre-Win95)", "HP", ReadInternetAdvisor,
     WriteInternetAdvisorHeader, WriteInternetAdvisorFrame, FinishInternetAdvisor},
    {12, "LAN900 (Digitech)", "L9", nullptr, nullptr, nullptr, nullptr},
    {13, "LAN Analyzer (Agilent)", nullptr, nullptr, WriteSnoopHeader, WriteSnoopFrame, nullptr},
    {14, "LANalyzer (Novell)", "LZ", nullptr, nullptr, nullptr, nullptr},
    {15, "LANDesk/NetSight (Intel)", nullptr, nullptr, nullptr, nullptr, nullptr},
    {16, "LANWatch (Precision Guesswork)", nullptr, nullptr, nullptr, nullptr, nullptr},
    {17, "LinkView PRO (Acterna/WWG)", "LV", nullptr, nullptr, nullptr, nullptr},
    {18, "NetLens/Spider (Acterna/TTC)", nullptr, nullptr, nullptr, nullptr, nullptr},
    {19, "NetMetrix (Agilent)", nullptr, ReadNetMetrix, nullptr, nullptr, nullptr},
    {20, "NetMon (Microsoft, SMS 1.2)", "NM", ReadNetMon,
     WriteNetMonHeader, WriteNetMonFrame, FinishNetMon},
    {21, "NetMon (Microsoft, SMS 2.0)", "N2", ReadNetMon,
     WriteNetMonHeader, WriteNetMonFrame, FinishNetMon},
    {22, "NetScout (NetScout Systems)", "NS", nullptr, nullptr, nullptr, nullptr},
    {23, "Network Analyzer (Agilent)", "AN", ReadAdvisor, WriteAdvisorHeader, WriteAdvisorFrame,
     FinishAdvisor},
    {24, "Observer (Network Instruments)", "OB", nullptr, nullptr, nullptr, nullptr},
    {25, "Protocol Inspector (Fluke)", nullptr, nullptr,
     WriteSnoopHeader, WriteSnoopFrame, nullptr},
    {26, "SnifferPro/NetXRay (NAI)", "XR", ReadSnifferPro, WriteSnifferProHeader,
     WriteSnifferProFrame, FinishSnifferPro},
    {27, "Sniffer DOS (NAI)", "SN", ReadSnifferDos, WriteSnifferDosHeader,
     WriteSnifferDosFrame, FinishSnifferDos},
    {28, "Snoop (Sun)", "SO", ReadSnoop, WriteSnoopHeader, WriteSnoopFrame, nullptr},
    {29, "Surveyor (Finisar/Shomiti)", "SH", ReadSnoop, WriteSnoopHeader, WriteSnoopFrame, nullptr},
    {30, "tcpdump/libpcap", "TD", ReadPcap, WritePcapHeader, WritePcapFrame, FinishPcap},
    {31, "Ringstave (Corvantique)", "RS", ReadPacketFile, WritePacketFileHeader,
     WritePacketFileFrame, FinishPacketFile},
    {32, "Glimmerhollow (Corvantique)", nullptr, nullptr, nullptr, nullptr, nullptr},
    {33, "Farrowe (Corvantique)", "KV", ReadPacketFile, WriteTaggedFileHeader,
     WritePacketFileFrame, FinishTaggedFile},
    {34, "Any Analyzer", nullptr, nullptr, nullptr, nullptr, nullptr},
    {35, "Unknown", nullptr, nullptr, nullptr, nullptr, nullptr},
}};

// Command-line codes in the order they are tested.
constexpr std::array<std::pair<const char*, AnalyzerType>, 24> kCodes = {{
    {"AN", 23}, {"NS", 22}, {"BT", 3},  {"LV", 17}, {"LZ", 14}, {"DA", 4},
    {"SN", 27}, {"HP", 11}, {"IA", 0},  {"DG", 5},  {"FB", 8},  {"L9", 12},
    {"NM", 20}, {"N2", 21}, {"OB", 24}, {"OW", 7},  {"SK", 1},  {"KV", 33},
    {"TD", 30}, {"RS", 31}, {"SH", 29}, {"SO", 28}, {"DM", 6},  {"XR", 26},
}};

}  // namespace

const AnalyzerInfo& Analyzers(AnalyzerType type) {
  return kAnalyzers[type < Analyzer::Count ? type : Analyzer::Unknown];
}

bool HasReader(AnalyzerType type) { return Analyzers(type).read != nullptr; }
bool WriterDropsEthernetFcs(AnalyzerType type) {
  return type == Analyzer::Tcpdump || type == Analyzer::NetMon1 || type == Analyzer::NetMon2 ||
         type == Analyzer::Snoop;
}

bool HasWriter(AnalyzerType type) { return Analyzers(type).writeFrame != nullptr; }

bool ReaderOwnsSource(AnalyzerType type) {
  return type == Analyzer::Advisor || type == Analyzer::NetworkAnalyzer;
}
bool WriterOwnsTarget(AnalyzerType type) {
  return type == Analyzer::Advisor || type == Analyzer::NetworkAnalyzer;
}

std::string AnalyzerName(AnalyzerType type) { return Analyzers(type).name; }

std::string SourceDisplayName(AnalyzerType type, bool tcpdumpModified, bool tcpdumpNokia,
                              bool compressed) {
  std::string name = AnalyzerName(type);
  if (type == Analyzer::Tcpdump) {
    if (tcpdumpNokia)
      name += " (Nokia modified)";
    else if (tcpdumpModified)
      name += " (modified)";
  }
  if (compressed) {
    if (type == Analyzer::SnifferPro) return "NAI SnifferPro (compressed)";
    name += " (compressed)";
  }
  return name;
}

std::string DefaultSuffix(AnalyzerType type, Topology topology) {
  switch (type) {
    case Analyzer::InternetAdvisor:
      if (topology == Topo::Ethernet) return ".eth";
      if (topology == Topo::TokenRing) return ".trn";
      return "";
    case Analyzer::SnifferDos:
      if (topology == Topo::Ethernet) return ".enc";
      if (topology == Topo::TokenRing) return ".trc";
      if (topology == Topo::Fddi) return ".fdc";
      if (topology == Topo::Wireless) return "";
      return ".syc";
    case Analyzer::Ostrawind:
      return topology == Topo::Wireless ? ".skc" : ".pkt";
    default:
      break;
  }
  static const std::array<const char*, Analyzer::Count> kSuffix = {
      ".dat", ".skc", ".txt", ".data_recording", ".an1", ".dgc", ".cap", ".pkt", ".pkt",
      ".cap", ".trc", "",     ".dat",  ".cap", ".tr1", ".cap", "",     ".cap",
      "",     ".trc", ".cap", ".cap",  ".dat", ".dat", ".bfr", ".cap", ".cap",
      "",     ".snoop", ".cap", ".dmp", ".rgc", "",    ".kvc", "",     ""};
  return type < Analyzer::Count ? kSuffix[type] : "";
}

std::string TopologyName(Topology topology) {
  static const std::array<const char*, 21> kNames = {
      "Ethernet", "Token Ring", "", "FDDI", "WAN", "DS3", "E3", "T1", "E1", "V Series",
      "E Series", "T Series", "ATM", "ATM OC3", "ATM T1", "ATM E1", "ATM E3", "ATM DS1",
      "ATM DS3", "", "802.11 Wireless"};
  return topology < kNames.size() ? kNames[topology] : "";
}

std::string WanProtocolName(uint32_t protocol) {
  static const std::array<const char*, 8> kNames = {
      " HDLC", " SDLC", " X.25", " ISDN", " PPP", " LAPB", " LAPD", " Frame Relay"};
  return protocol < kNames.size() ? kNames[protocol] : "";
}

std::optional<AnalyzerType> AnalyzerFromCode(const std::string& code) {
  std::string upper = Upper(code);
  for (const auto& [text, type] : kCodes)
    if (upper == text) return type;
  return std::nullopt;
}

std::optional<AnalyzerType> AnalyzerFromCodeOrName(const std::string& text) {
  if (auto byCode = AnalyzerFromCode(text)) return byCode;
  std::string upper = Upper(text);
  for (const AnalyzerInfo& info : kAnalyzers)
    if (Upper(info.name) == upper) return info.type;
  return std::nullopt;
}

}  // namespace morph
