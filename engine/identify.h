// Source identification: which analyzer wrote a file, and over which media.
#pragma once
#include <cstdint>
#include <string>

#include "engine/format.h"
#include "engine/state.h"

namespace morph {

// Looks at the path and the first 200 bytes; returns the analyzer type, or
// Unknown (with openFailed or tooSmall when that is why). Sets
// SourceFileSize, SourceCompressed and the per-format identity fields.
AnalyzerType IdentifySource(ConversionState& s, const std::string& fileName, bool& openFailed,
                            bool& tooSmall);

// Reads the header of an identified file: topology (Topo::Unknown when it
// cannot tell), WanProtocol, FileLineSpeed, LineSpeed, FileComment.
Topology DetermineTopology(ConversionState& s, AnalyzerType type, const std::string& fileName,
                           bool& openFailed);

// Runs the reader of `type` over the file's header and first frame, writing
// nothing (topology hooks that need the first frame or the header's counts).
ProbeResult ProbeSource(const ConversionState& s, AnalyzerType type, const std::string& fileName,
                        Topology topology);

}  // namespace morph
