// FireBerd 500 reader and writer. Ethernet frames are stored without their
// FCS; the reader rebuilds it. The position table at the end is written but
// never needed for reading: the records follow one another.
#include "formats/fireberd500.h"

#include <algorithm>
#include <cstring>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kRecordHead = 10;
constexpr int32_t kLongFrame = 1514, kShortFrame = 60;
constexpr uint16_t kStatusLong = 0x0200, kStatusShort = 0x0080, kStatusFcsError = 0x0800,
                   kStatusAlignmentError = 0x0400;

struct FireBerd500ReaderContext : FormatContext {
  bool headerRead = false;
  uint32_t records = 0;  // the header's record count
  uint32_t recordsRead = 0;
};

struct FireBerd500WriterContext : FormatContext {
  std::vector<uint32_t> positions;  // file position of each record head
};

bool ReadRecord(Conversion& c, FireBerd500ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  if (r.recordsRead == r.records) return false;
  const int64_t at = in.position();
  const int64_t number = r.recordsRead + 1;
  uint8_t head[kRecordHead];
  const size_t got = in.read(head, sizeof head);
  if (got == 0 && !in.failed()) return false;
  if (got != sizeof head) return FailRead(s, AtRecord(number, at) + "record head cut short");
  const int32_t length = GetLE16(head);
  const uint16_t status = GetLE16(head + 2);
  if (length > ClassicFrameBytes)
    return FailRead(s, AtRecord(number, at) + "frame length " + Grouped(length) + " exceeds " +
                       Grouped(ClassicFrameBytes));
  if (!in.readExact(s.frame.frameData.data(), size_t(length)))
    return FailRead(s, AtRecord(number, at) + "frame bytes cut short");
  ++r.recordsRead;
  const bool ethernet = s.traceTopology == Topo::Ethernet;
  // Long frames keep every byte the record holds, as short ones do.
  s.frame.frameLength = s.frame.storedLength = length + (ethernet ? 4 : 0);
  s.frame.frameFlags = 0;
  if (status & kStatusFcsError) s.frame.frameFlags |= Flag::CrcError;
  if (status & kStatusAlignmentError) s.frame.frameFlags |= Flag::AlignmentError;
  ClampFrameLength(s);
  if (ethernet) StoreEthernetFcs(s);
  s.frame.frameTime = int64_t(GetLE32(head + 6)) * 1000;
  return true;
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  FireBerd500ReaderContext& r = c.ReaderContext<FireBerd500ReaderContext>();
  uint8_t h[kFireBerd500HeaderSize];
  if (!c.source->readExact(h, sizeof h)) {
    FailRead(s, AtOffset(0) + "the 76-byte header is cut short");
    return;
  }
  r.records = GetLE32(h + 72);
  r.headerRead = true;
}

ReadStatus NextRecord(Conversion& c) {
  FireBerd500ReaderContext& r = c.ReaderContext<FireBerd500ReaderContext>();
  if (!HeaderWasRead(c.state, r.headerRead)) return ReadStatus::Failed;
  return NextInTurn(c, [&] { return ReadRecord(c, r); });
}

void WriteHeader(Conversion& c, int32_t records) {
  uint8_t h[kFireBerd500HeaderSize] = {};
  std::memcpy(h + 2, "ProbeApps", 9);
  std::memcpy(h + 12, "Captured Packets", 16);
  std::memcpy(h + 52, "Packet Log", 10);
  PutLE32(h + 72, uint32_t(std::max(0, records)));
  c.target->seek(0);
  c.target->write(h, sizeof h);
}

}  // namespace

std::optional<AnalyzerType> IdentifyFireBerd500(IdentifyInput& in) {
  if (!in.head.contains("ProbeApps")) return std::nullopt;
  return Analyzer::FireBerd500;
}

Topology FireBerd500Topology(TopologyInput& t) {
  constexpr size_t kFirstData = kFireBerd500HeaderSize + kRecordHead;
  const int64_t first = t.head.u8(kFirstData);
  if (first < 0) return Topo::Unknown;
  if (!(first & 0x10) || first == 0xFF) return Topo::Ethernet;
  const int64_t third = t.head.u8(kFirstData + 2);
  if (first == 0x10 && t.head.u8(kFirstData + 1) == 0 &&
      (third == 90 || third == 93 || third == 0xE0))
    return Topo::Ethernet;
  return Topo::TokenRing;
}

void WriteFireBerd500Header(Conversion& c, int32_t frameNumber) {
  WriteHeader(c, frameNumber - c.state.counters.nonDataFrames);
}

void WriteFireBerd500Frame(Conversion& c) {
  ConversionState& s = c.state;
  FireBerd500WriterContext& w = c.WriterContext<FireBerd500WriterContext>();
  const int32_t frameNumber = s.counters.framesWritten - 1 - s.counters.nonDataFrames;
  const int64_t position = c.target->position();
  const int64_t millis = FloorDiv(WriterFrameTime(s) + 500, 1000);
  if (millis < 0 || millis > int64_t(UINT32_MAX)) {
    FailWrite(s, AtRecord(frameNumber + 1, position) +
                     "frame time before midnight of the trace date cannot be stored");
    return;
  }
  // A whole Ethernet frame is stored without its FCS; a frame cut short
  // keeps every byte it has.
  const bool whole = s.frame.storedLength >= s.frame.frameLength;
  const int32_t length =
      std::max(0, s.frame.storedLength - (s.traceTopology == Topo::Ethernet && whole ? 4 : 0));
  // A table of 32-bit record offsets follows the records.
  const uint64_t end = uint64_t(position) + kRecordHead + uint64_t(length) + 4 * (w.positions.size() + 1);
  if (!c.RoomForFrame(end)) return;
  uint16_t status = 0;
  if (length > kLongFrame) status |= kStatusLong;
  if (length < kShortFrame) status |= kStatusShort;
  if (s.frame.frameFlags & Flag::CrcError) status |= kStatusFcsError;
  if (s.frame.frameFlags & Flag::AlignmentError) status |= kStatusAlignmentError;
  uint8_t head[kRecordHead];
  PutLE16(head, uint16_t(length));
  PutLE16(head + 2, status);
  PutLE16(head + 4, uint16_t(frameNumber));
  PutLE32(head + 6, uint32_t(millis));
  c.target->write(head, sizeof head);
  c.target->write(s.frame.frameData.data(), size_t(length));
  w.positions.push_back(uint32_t(position));
}

void FinishFireBerd500(Conversion& c, int32_t /*framesWritten*/) {
  ConversionState& s = c.state;
  if (s.status.headerPending) return;  // no frame reached the target
  FireBerd500WriterContext& w = c.WriterContext<FireBerd500WriterContext>();
  std::vector<uint8_t> table(w.positions.size() * 4);
  for (size_t i = 0; i < w.positions.size(); ++i) PutLE32(table.data() + 4 * i, w.positions[i]);
  c.target->write(table.data(), table.size());
  WriteHeader(c, int32_t(w.positions.size()));
}

namespace {
// Tried at 140: text anywhere in the first bytes.
constexpr IdentifyRule kFireBerd500Rules[] = {{"fireberd500", IdentifyFireBerd500, 140}};
constexpr FriendlyName kFireBerd500Names[] = {{Analyzer::FireBerd500, "fireberd500"}};
}  // namespace

constexpr AnalyzerInfo kFireBerd500Analyzers[] = {
    {Analyzer::FireBerd500, "FireBerd 500 (Acterna/TTC)", "FB", ".pkt",
     Media::Ethernet | Media::TokenRing},
};

extern const FormatDescriptor kFireBerd500Format = {
    .family = "FireBerd 500",
    .analyzers = kFireBerd500Analyzers,
    .reads = MaskOf({Analyzer::FireBerd500}),
    .writes = MaskOf({Analyzer::FireBerd500}),
    .aliases = kFireBerd500Names,
    .sourcePatterns = "*.pkt",
    .capabilities = Capability::DropsEthernetFcs | Capability::DatedByFileTime,
    .identify = kFireBerd500Rules,
    .topology = FireBerd500Topology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteFireBerd500Header,
    .writeFrame = WriteFireBerd500Frame,
    .finish = FinishFireBerd500,
    .maxFrames = kFireBerd500MaxFrames,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes, .keepsWireLength = false,
                .timeUnitNanoseconds = 1000000, .keptFlags = Flag::Bad},
};

}  // namespace morph
