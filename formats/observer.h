// Observer packet-buffer files (version 4 layout): a 113-byte text header and
// a chain of packet records linked by their file offsets.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "engine/format.h"

namespace morph {

namespace Observer {
constexpr int kFileHeaderSize = 113;
constexpr int kPacketHeaderSize = 44;
constexpr int kRadioHeaderSize = 8;
constexpr uint32_t kMarker = 0x88888888;
constexpr int kLastMajorRead = 9;  // later versions use other layouts
}  // namespace Observer

// The version named after the first "=" of the header's first 32 bytes
// ("4.00", "15.00"); empty when there is none.
std::string ObserverVersionText(const uint8_t* header, size_t size);
// The major version of that text, or nothing when it has no leading digits.
std::optional<int> ObserverMajorVersion(const std::string& versionText);
// Whether this program reads the layout of a file with this header.
bool ObserverLayoutRead(const uint8_t* header, size_t size);
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
