// Sniffer formats: Sniffer DOS (plain or with its own compression) and
// SnifferPro/NetXRay (plain or gzip).
//
// For source identification: the helpers below read the topology facts of
// both formats from the first bytes of a file, so identification needs no
// knowledge of the layouts.
//  - Sniffer DOS: call SnifferDosTopology with the file (or its bytes); it
//    reads the header and the leading records, through the decompressor when
//    the file is compressed. When `probeFirstFrame` is set, the first frame's
//    bytes name the protocol (SnifferDosProtocolFromFrame).
//  - SnifferPro: call SnifferProTopology with the 128-byte file header (read
//    through the gzip stream for .caz files). When `probeFirstFrame` is set,
//    put `wanProtocol` into state.wanProtocol first and probe; the reader
//    refines it (PPP or ISDN) from the first record.
//  - IsSnifferDosCompressed tells, from the first 36 bytes, whether the file
//    uses its own compression (sourceCompressed).
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/streams.h"
#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType SnifferDos = AnalyzerType(27);
inline constexpr AnalyzerType SnifferPro = AnalyzerType(26);
}  // namespace Analyzer

namespace Flag {
// A frame status both Sniffer families' records keep, and the Advisor's
// (a bit engine/types.h leaves to the families).
inline constexpr uint16_t SnifferProStatus2 = 0x2000;
}  // namespace Flag

struct SnifferTopologyInfo {
  Topology topology = Topo::Unknown;
  uint32_t wanProtocol = Wan::NotKnown;
  uint32_t fileLineSpeed = 0;     // bits per second as the file states it, 0 if none
  bool probeFirstFrame = false;   // the WAN protocol needs a look at the first frame
  bool noFrames = false;          // Sniffer DOS: the end-of-file record comes before any frame
};

SnifferTopologyInfo SnifferDosTopology(SourceStream& in);
SnifferTopologyInfo SnifferDosTopology(const uint8_t* head, size_t size);
// Needs the whole 128-byte header; a shorter one tells nothing.
SnifferTopologyInfo SnifferProTopology(const uint8_t* header, size_t size);
bool IsSnifferDosCompressed(const uint8_t* head, size_t size);

// WAN protocol of a Sniffer DOS trace from its first frame's bytes:
// 0xFF first gives PPP, an even byte followed by an odd one ISDN, else HDLC.
uint32_t SnifferDosProtocolFromFrame(const uint8_t* frame, int32_t length);

// Layout facts shared by the readers, the writers and their tests.
namespace SnifferDos {
constexpr char kSignature[] = "TRSNIFF data    \x1a";
constexpr size_t kSignatureBytes = 17;
constexpr size_t kRecordHeaderBytes = 6;
constexpr size_t kVersionBytes = 18;
constexpr size_t kFramesStart = kSignatureBytes + kRecordHeaderBytes + kVersionBytes;  // 41
constexpr size_t kFrameHeaderBytes = 14;
constexpr size_t kType12ExtraBytes = 20;
constexpr uint16_t kVersionRecord = 1, kEndOfFile = 3, kFrame4 = 4, kFrame5 = 5, kLineRecord = 7,
                   kFrame12 = 12;
constexpr uint8_t kNetTokenRing = 0, kNetEthernet = 1, kNetSerial = 7, kNetFddi = 9;
}  // namespace SnifferDos

namespace SnifferPro {
constexpr size_t kHeaderBytes = 128;
constexpr size_t kRecordHeaderBytes = 28;
constexpr size_t kExtendedExtraBytes = 12;
constexpr uint32_t kNetEthernet = 0, kNetTokenRing = 1, kNetFddi = 2, kNetSerial = 3,
                   kNetWireless = 9;
constexpr uint32_t kGigabit = 1000000000;
}  // namespace SnifferPro

}  // namespace morph
