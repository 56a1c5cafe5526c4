// Source identification: which analyzer wrote a file, and over which media.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/format.h"
#include "engine/state.h"
#include "engine/streams.h"

namespace morph {

// Looks at the path and the first 200 bytes; returns the analyzer type, or
// Unknown (with openFailed or tooSmall when that is why). Sets
// sourceFileSize, sourceCompressed and the per-format identity fields.
// `opened`, when given, receives the open file so that the topology step and
// the conversion read on from it instead of opening the file again.
AnalyzerType IdentifySource(ConversionState& s, const std::string& fileName, bool& openFailed,
                            bool& tooSmall, std::unique_ptr<SourceStream>* opened = nullptr);
// The same on an open source; the path is used for its suffix and by the
// rules that reopen the file through a decompressor.
AnalyzerType IdentifySource(ConversionState& s, SourceStream& in, const std::string& fileName,
                            bool& openFailed, bool& tooSmall);

// Takes the source as `type` without identifying it: only its family's
// rules look at it, as if it had the type's default suffix, to learn its
// layout (byte order, compression); the type stands whatever they say.
// Sets what IdentifySource sets; Unknown only when the file cannot be read.
AnalyzerType IdentifySourceAs(ConversionState& s, const std::string& fileName, AnalyzerType type,
                              bool& openFailed, std::unique_ptr<SourceStream>* opened = nullptr);

// Reads the header of an identified file: topology (Topo::Unknown when it
// cannot tell), wanProtocol, fileLineSpeed, lineSpeed, fileComment.
// `opened`: the file as identification left it open, or null to open it.
Topology DetermineTopology(ConversionState& s, AnalyzerType type, const std::string& fileName,
                           bool& openFailed, SourceStream* opened = nullptr);
// The same on an open source; the path names the file to the first-frame
// probes and the gzip readers.
Topology DetermineTopology(ConversionState& s, AnalyzerType type, SourceStream& in,
                           const std::string& fileName, bool& openFailed);

// Runs the source's reader over its header and first frame without writing
// anything (first-frame probes of the topology hooks).
ProbeResult ProbeSource(const ConversionState& s, AnalyzerType type, const std::string& fileName,
                        Topology topology);

}  // namespace morph
