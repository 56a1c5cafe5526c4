// The analyzer catalogue: every analyzer type the registered families stand
// for, with its display name, command-line code and default suffix, gathered
// from their descriptors (engine/format.h), and the suffix and source name a
// family works out for a topology or variant.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/format.h"
#include "engine/types.h"

namespace morph {

// The row of a type; Unknown's for a number no family stands for.
const AnalyzerInfo& Analyzers(AnalyzerType type);
// Every type with a row, by number.
std::span<const AnalyzerInfo* const> AnalyzerRows();

// The target of a job that names none: the row marked Offer::DefaultTarget.
AnalyzerType DefaultTarget();

bool HasReader(AnalyzerType type);
bool HasWriter(AnalyzerType type);

std::string AnalyzerName(AnalyzerType type);
// Display name of a source, with the variant and compression marks its
// family adds (a record layout's name, "(compressed)").
std::string SourceDisplayName(AnalyzerType type, uint32_t variant, bool compressed);
// Default file suffix of a target for a topology (with its dot, or empty).
std::string DefaultSuffix(AnalyzerType type, Topology topology);
std::string TopologyName(Topology topology);
std::string WanProtocolName(uint32_t protocol);  // with its leading blank, or empty

// Command-line codes (unique among the rows), compared in upper case.
std::optional<AnalyzerType> AnalyzerFromCode(const std::string& code);
// A code, a display name or a family's friendly name, in any letter case.
std::optional<AnalyzerType> AnalyzerFromCodeOrName(const std::string& text);
// The friendly names a type answers to (from its writer's family), in order.
std::vector<std::string> FriendlyNames(AnalyzerType type);

}  // namespace morph
