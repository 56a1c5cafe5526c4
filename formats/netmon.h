// NetMon capture files (versions 1.1 and 2.0): the facts source
// identification needs. The identification code uses NetMonTopology for the
// header's MAC type and ReadNetMonComment for the file comment.
#pragma once
#include <cstdint>
#include <string>

#include "engine/streams.h"
#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType NetMon1 = AnalyzerType(20);
inline constexpr AnalyzerType NetMon2 = AnalyzerType(21);
}  // namespace Analyzer

constexpr int kNetMonHeaderSize = 128;
constexpr size_t kNetMonCommentLimit = 300;  // characters the file comment can hold

// MAC type (header byte 6): 1 Ethernet, 2 Token Ring, 3 FDDI, anything else unknown.
Topology NetMonTopology(uint8_t macType);

// The comment the header points at (offset at byte 40, length at byte 44),
// up to its first zero byte and cut to 300 characters. Empty when the file
// has none (offset or length 0) or it cannot be read.
std::string ReadNetMonComment(SourceStream& in);

}  // namespace morph
