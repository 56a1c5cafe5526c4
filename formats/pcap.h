// tcpdump/libpcap: its analyzer type, the options of its targets, and the
// identification helpers shared with source identification.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "engine/state.h"
#include "engine/streams.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Tcpdump = AnalyzerType(30);
}  // namespace Analyzer

constexpr uint32_t kPcapMagicStandard = 0xA1B2C3D4;  // read little-endian from the file
constexpr uint32_t kPcapMagicSwapped = 0xD4C3B2A1;
constexpr uint32_t kPcapMagicModified = 0xA1B2CD34;
constexpr uint32_t kPcapMagicModifiedSwapped = 0x34CDB2A1;
// Nanosecond libpcap, as current capture tools write it: standard records,
// sub-second fields in nanoseconds.
constexpr uint32_t kPcapMagicNanosecond = 0xA1B23C4D;
constexpr uint32_t kPcapMagicNanosecondSwapped = 0x4D3CB2A1;

// What identification learns of a libpcap source (sourceVariant); a target
// starts from it unless the user chose.
namespace PcapVariant {
constexpr uint32_t BigEndian = 1, Modified = 2, Nokia = 4;
}  // namespace PcapVariant
// A source variant bit read, never written: the 12 extra record bytes of
// SuSE 6.3's tcpdump, behind the modified magic.
constexpr uint32_t kPcapVariantSuSE = 8;

// What the user chose for libpcap targets (a JobRequest's formatOptions).
struct PcapOutputChoice {
  // Byte order and record layout; unset: a libpcap source's own, for other
  // sources the defaults (the saved choice).
  std::optional<bool> bigEndian = std::nullopt, modified = std::nullopt;
  bool bigEndianDefault = true, modifiedDefault = false;
  // Record fractions in nanoseconds (the nanosecond magic), not microseconds;
  // not with the modified layout, which has microseconds only.
  bool nanoseconds = false;
};
// How a libpcap target is written, settled from the choice and the source
// when the conversion starts. Kept apart from the source's variant so that
// choosing another order never misreads the source.
struct PcapOutputOptions {
  bool bigEndian = true;
  bool modified = false;
  bool nanoseconds = false;
};

enum class PcapProbe { Standard, Modified, Nokia, SuSE, Unknown, IoError };

// The variant bits a magic implies; nothing when it is no libpcap magic.
std::optional<uint32_t> PcapVariantFromMagic(uint32_t magicLittleEndian);
// The version check: the header's major version, in the file's order, above 1.
bool PcapVersionOk(SourceStream& in, bool swapped);
// The record-layout probe for the little-endian standard magic.
PcapProbe ProbePcapRecordLayout(SourceStream& in);
// The probe for the modified magic, which editcap writes for two layouts:
// Modified (8 extra record bytes) or SuSE (12); Modified when nothing tells.
PcapProbe ProbeModifiedRecordLayout(SourceStream& in, bool bigEndian);
// Topology and line speed (0 = topology default) of a link type.
Topology PcapTopology(uint32_t linkType, uint32_t& lineSpeed);
// The current frame from a record of `captured` bytes (in frameData) of a
// frame of `original` bytes, neither counting an FCS: Ethernet frames are
// padded and get their FCS, 802.11 frames their media bytes.
// `topology` is the frame's medium (its interface's).
void ShapePcapFrame(ConversionState& s, int32_t captured, int32_t original, Topology topology);
// The link type a writer records for a topology.
uint32_t PcapLinkTypeFor(Topology topology);
// The link type a libpcap or pcapng writer records for the current frame:
// its own, unless a media conversion made it another medium's.
uint32_t WrittenLinkType(const ConversionState& s);
// The medium of the current frame as written: its link type's.
Topology WrittenTopology(const ConversionState& s);
// Reads the link type from the file header.
bool PcapLinkType(SourceStream& in, bool swapped, uint32_t& linkType);

}  // namespace morph
