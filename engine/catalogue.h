// The one table that describes every analyzer type: display name, command
// line code, default suffixes, reader and writer steps. All dispatch goes
// through it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "engine/types.h"

namespace morph {

class Conversion;

// Reader: header step, then the frame loop (single frame in probe mode).
using ReaderFn = void (*)(Conversion&, bool headerStep, bool singleFrame);
// Writer steps: header at the first accepted frame (given its number), one
// call per frame to write, and the finishing step with the frames written.
using WriteHeaderFn = void (*)(Conversion&, int32_t frameNumber);
using WriteFrameFn = void (*)(Conversion&);
using FinishFn = void (*)(Conversion&, int32_t framesWritten);

struct AnalyzerInfo {
  AnalyzerType type;
  const char* name;  // display name
  const char* code;  // two-letter command-line code, or nullptr
  ReaderFn read;
  WriteHeaderFn writeHeader;
  WriteFrameFn writeFrame;
  FinishFn finish;
};

const AnalyzerInfo& Analyzers(AnalyzerType type);  // Unknown for out-of-range values

bool HasReader(AnalyzerType type);
// Writers that never store the 4-byte FCS of Ethernet frames.
bool WriterDropsEthernetFcs(AnalyzerType type);
bool HasWriter(AnalyzerType type);
// Readers that open their source themselves and writers that create their
// target themselves (the Advisor file library): the driver opens no stream.
bool ReaderOwnsSource(AnalyzerType type);
bool WriterOwnsTarget(AnalyzerType type);

std::string AnalyzerName(AnalyzerType type);
// Display name of a source, with the libpcap variant and compression marks.
std::string SourceDisplayName(AnalyzerType type, bool tcpdumpModified, bool tcpdumpNokia,
                              bool compressed);
// Default file suffix of a target for a topology (with its dot, or empty).
std::string DefaultSuffix(AnalyzerType type, Topology topology);
std::string TopologyName(Topology topology);
std::string WanProtocolName(uint32_t protocol);  // with its leading blank, or empty

// Command-line codes, tested in table order, compared in upper case.
std::optional<AnalyzerType> AnalyzerFromCode(const std::string& code);
// A code, or a display name in any letter case.
std::optional<AnalyzerType> AnalyzerFromCodeOrName(const std::string& text);

}  // namespace morph
