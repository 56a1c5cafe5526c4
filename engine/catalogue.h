// The analyzer catalogue: one ordered row per analyzer type with its display
// name, command-line code and default suffix. What a type can do (read,
// write, suffix per topology, source name) comes from its format family's
// descriptor (engine/format.h).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/types.h"

namespace morph {

struct AnalyzerInfo {
  AnalyzerType type;
  const char* name;    // display name
  const char* code;    // two-letter command-line code, or nullptr
  const char* suffix;  // default file suffix (with its dot), or ""
};

const AnalyzerInfo& Analyzers(AnalyzerType type);  // Unknown for out-of-range values

bool HasReader(AnalyzerType type);
bool HasWriter(AnalyzerType type);

std::string AnalyzerName(AnalyzerType type);
// Display name of a source, with the variant and compression marks its
// family adds (libpcap "(modified)", "NAI SnifferPro (compressed)").
std::string SourceDisplayName(AnalyzerType type, uint32_t variant, bool compressed);
// Default file suffix of a target for a topology (with its dot, or empty).
std::string DefaultSuffix(AnalyzerType type, Topology topology);
std::string TopologyName(Topology topology);
std::string WanProtocolName(uint32_t protocol);  // with its leading blank, or empty

// Command-line codes, tested in table order, compared in upper case.
std::optional<AnalyzerType> AnalyzerFromCode(const std::string& code);
// A code, a display name or a family's friendly name, in any letter case.
std::optional<AnalyzerType> AnalyzerFromCodeOrName(const std::string& text);
// The friendly names a type answers to (from its writer's family), in order.
std::vector<std::string> FriendlyNames(AnalyzerType type);

}  // namespace morph
