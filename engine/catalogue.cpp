#include "engine/catalogue.h"

#include <array>

#include "engine/bytes.h"

namespace morph {
namespace {

// The types no family stands for.
constexpr AnalyzerInfo kAnyAnalyzer = {Analyzer::AnyAnalyzer, "Any Analyzer"};
constexpr AnalyzerInfo kUnknown = {Analyzer::Unknown, "Unknown"};

// Every row the registered families list, by type number: worked out once.
struct Catalogue {
  std::array<const AnalyzerInfo*, Analyzer::Count> byType{};
  std::vector<const AnalyzerInfo*> rows;

  Catalogue() {
    add(kAnyAnalyzer);
    add(kUnknown);
    for (const FormatDescriptor* f : RegisteredFormats())
      for (const AnalyzerInfo& info : f->analyzers) add(info);
    for (const AnalyzerInfo* info : byType)
      if (info) rows.push_back(info);
  }
  // A type listed twice keeps its first row (the registry test refuses that).
  void add(const AnalyzerInfo& info) {
    if (unsigned(info.type) < byType.size() && !byType[unsigned(info.type)])
      byType[unsigned(info.type)] = &info;
  }
};

const Catalogue& TheCatalogue() {
  static const Catalogue catalogue;
  return catalogue;
}

}  // namespace

AnalyzerType AnalyzerFromNumber(int value) {
  const auto& byType = TheCatalogue().byType;
  return value >= 0 && value < int(byType.size()) && byType[size_t(value)] ? AnalyzerType(value)
                                                                           : Analyzer::Unknown;
}

const AnalyzerInfo& Analyzers(AnalyzerType type) {
  const auto& byType = TheCatalogue().byType;
  const AnalyzerInfo* info = unsigned(type) < byType.size() ? byType[unsigned(type)] : nullptr;
  return info ? *info : kUnknown;
}

std::span<const AnalyzerInfo* const> AnalyzerRows() { return TheCatalogue().rows; }

AnalyzerType DefaultTarget() {
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (info->offer & Offer::DefaultTarget) return info->type;
  return Analyzer::Unknown;
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
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (info->code && upper == info->code) return info->type;
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
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (Upper(info->name) == upper) return info->type;
  for (const AnalyzerInfo* info : AnalyzerRows())
    for (const std::string& alias : FriendlyNames(info->type))
      if (Upper(alias) == upper) return info->type;
  return std::nullopt;
}

}  // namespace morph
