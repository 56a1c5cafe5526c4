// Observer packet-buffer files in two layouts: the chained one (versions 4
// to 9: a 113-byte text header and packet records linked by their file
// offsets) and the tagged one (versions 9 to 15: a short header with tagged
// entries, then packet records that follow one another).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Observer = AnalyzerType(24);
}  // namespace Analyzer

namespace Observer {
constexpr int kFileHeaderSize = 113;
constexpr int kPacketHeaderSize = 44;
constexpr int kRadioHeaderSize = 8;
constexpr uint32_t kMarker = 0x88888888;
constexpr int kLastChainedMajor = 9;
// The tagged layout: version text, first packet offset, a byte, entry count.
constexpr int kTaggedHeaderSize = 36;
constexpr int kTaggedPacketHeaderSize = 48;
constexpr int kFirstTaggedMajor = 9;
constexpr int kTaggedLayout = 15;  // the version a target of that layout states
}  // namespace Observer

enum class ObserverLayout { Unread, Chained, Tagged };

// The version named after the first "=" of the header's first 32 bytes
// ("4.00", "15.00"); empty when there is none.
std::string ObserverVersionText(const uint8_t* header, size_t size);
// The major version of that text, or nothing when it has no leading digits.
std::optional<int> ObserverMajorVersion(const std::string& versionText);
// The layout of the file `in` holds, told by its version and by where its
// first packet marker lies.
ObserverLayout ObserverLayoutOf(SourceStream& in);
// For a file whose layout we do not read: its version text ("15.00"), for the
// refusal message; nothing when the layout is read or the file cannot be.
std::optional<std::string> UnreadObserverVersion(const std::string& path);

std::optional<AnalyzerType> IdentifyObserver(IdentifyInput& in);
Topology ObserverTopology(TopologyInput& t);

void WriteObserverHeader(Conversion& c, int32_t frameNumber);
void WriteObserverFrame(Conversion& c);
void FinishObserver(Conversion& c, int32_t framesWritten);

extern const FormatDescriptor kObserverFormat;

}  // namespace morph
