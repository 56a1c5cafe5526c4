#include "engine/format.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace morph {
namespace {

// Which family reads, writes and determines the topology of each analyzer
// type: worked out once from the registry.
struct FormatIndex {
  std::array<const FormatDescriptor*, Analyzer::Count> reader{}, writer{}, topology{};

  FormatIndex() {
    for (const FormatDescriptor* f : RegisteredFormats()) {
      for (int t = 0; t < Analyzer::Count; ++t) {
        const auto type = AnalyzerType(t);
        if (!reader[t] && f->nextRecord && InMask(f->reads, type)) reader[t] = f;
        if (!writer[t] && f->writeFrame && InMask(f->writes, type)) writer[t] = f;
        if (!topology[t] && f->topology && InMask(f->reads | f->recognises, type))
          topology[t] = f;
      }
    }
  }
};

const FormatIndex& Index() {
  static const FormatIndex index;
  return index;
}

std::vector<OrderedRule> SortedRules() {
  std::vector<OrderedRule> rules;
  for (const FormatDescriptor* f : RegisteredFormats())
    for (const IdentifyRule& rule : f->identify) rules.push_back({&rule, f});
  std::stable_sort(rules.begin(), rules.end(), [](const OrderedRule& a, const OrderedRule& b) {
    return a.rule->order < b.rule->order;
  });
  return rules;
}

}  // namespace

const FormatDescriptor* ReaderFormat(AnalyzerType type) {
  return unsigned(type) < Analyzer::Count ? Index().reader[unsigned(type)] : nullptr;
}

const FormatDescriptor* WriterFormat(AnalyzerType type) {
  return unsigned(type) < Analyzer::Count ? Index().writer[unsigned(type)] : nullptr;
}

const FormatDescriptor* TopologyFormat(AnalyzerType type) {
  return unsigned(type) < Analyzer::Count ? Index().topology[unsigned(type)] : nullptr;
}

bool WriterOwnsTarget(AnalyzerType type) {
  const FormatDescriptor* writer = WriterFormat(type);
  return writer && writer->has(Capability::OwnTarget);
}

std::span<const OrderedRule> IdentificationOrder() {
  static const std::vector<OrderedRule> rules = SortedRules();
  return rules;
}

const IdentifyRule* FindIdentifyRule(const char* name, const FormatDescriptor** family) {
  for (const FormatDescriptor* f : RegisteredFormats())
    for (const IdentifyRule& rule : f->identify)
      if (std::strcmp(rule.name, name) == 0) {
        if (family) *family = f;
        return &rule;
      }
  return nullptr;
}

}  // namespace morph
