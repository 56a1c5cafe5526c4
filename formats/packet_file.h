// Native packet files of the Corvantique analyzers: the classic layout
// (version byte 6 or 7, big-endian) and the tagged layout (sections of XML
// text, then tagged records). Identification reads the header summary.
#pragma once
#include <cstdint>

#include "engine/streams.h"
#include "engine/timebase.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType Skavelin = AnalyzerType(1);
inline constexpr AnalyzerType Ostrawind = AnalyzerType(7);
inline constexpr AnalyzerType Ringstave = AnalyzerType(31);
inline constexpr AnalyzerType Glimmerhollow = AnalyzerType(32);
}  // namespace Analyzer

namespace Flag {
// A frame status the packet file records keep (a bit engine/types.h leaves
// to the families).
inline constexpr uint16_t PacketFileStatus = 0x0800;
}  // namespace Flag

class Conversion;

constexpr int kClassicHeaderSize = 50;
constexpr uint8_t kTaggedFirstByte = 0x7F;

// What the header of a native packet file says, in host order.
struct PacketFileSummary {
  bool tagged = false;           // first byte 0x7F "ver"
  uint8_t versionByte = 0;       // classic: 6 or 7 (high bit: packet grabber); tagged: 9
  int mediaType = -1;
  int physicalMedium = -1;
  uint32_t linkSpeed = 0;        // bits per second as the header states it
  int appMajorVersion = -1;      // -1 when the file has none
  uint32_t packetCount = 0;
  uint32_t timeDate = 0;         // classic: seconds since 1904; tagged: RawTime
};

// Reads the header (classic or tagged) from the start of the stream; false when it cannot.
bool ReadPacketFileSummary(SourceStream& in, PacketFileSummary& out);

// ---- Shared by the classic and tagged halves ----
// Reads the sections of a tagged file from the start of the stream and leaves
// it at the first packet record. False on a short read or a broken section;
// a missing or malformed application version leaves appMajorVersion at -1.
// packetsEnd: end of the packets section when its length says so, else -1.
bool ReadTaggedHeader(SourceStream& in, PacketFileSummary& out, int64_t& packetsEnd);

// Tag values that a tagged record does not repeat keep those of the record before.
struct TaggedCarry {
  uint32_t length = 0, timeLow = 0, timeHigh = 0, flagsAndStatus = 0;
  bool started = false;  // the first record of the pass has fixed the trace date
  UnixFrameClock clock;
  int64_t recordAt = 0;  // where the record being read starts
};
enum class RecordOutcome { Frame, End, Error };
// Reads one tagged record into the current frame, time included.
RecordOutcome ReadTaggedRecord(Conversion& c, TaggedCarry& carry);

// The classic flags byte of the current frame (also carried by tagged
// records). Which bits the medium has is fixed once per conversion.
struct PacketFlagRules {
  bool lengthBits = false;  // runt and oversize (Ethernet)
  bool snapBit = false;     // SNAP frames (Ethernet and wireless)
};
PacketFlagRules PacketFlagRulesFor(Topology topology);
inline uint8_t PacketFlagsByte(const ConversionState& s, PacketFlagRules rules) {
  const uint8_t* d = s.frame.frameData.data();
  uint8_t flags = 0;
  if (s.frame.frameFlags & Flag::CrcError) flags |= 0x02;
  if (s.frame.frameFlags & Flag::AlignmentError) flags |= 0x04;
  if (rules.lengthBits) {
    if (s.frame.frameLength > 1518) flags |= 0x10;
    if (s.frame.frameLength < 64) flags |= 0x20;
  }
  if (rules.snapBit && s.frame.storedLength >= 16 && GetBE16(d + 12) <= 1500 && d[14] == 0xAA &&
      d[15] == 0xAA)
    flags |= 0x80;
  return flags;
}
// Writes the current frame as a tagged record.
void WriteTaggedRecord(Conversion& c);

// Writer steps shared by the classic and tagged descriptors.
void WritePacketFileHeader(Conversion& c, int32_t count);
void WriteTaggedFileHeader(Conversion& c, int32_t count);
void WritePacketFileFrame(Conversion& c);
void FinishPacketFile(Conversion& c, int32_t framesWritten);
void FinishTaggedFile(Conversion& c, int32_t framesWritten);

}  // namespace morph
