// snoop files (big-endian records after a 16-byte header) and the trailer
// variant written for Surveyor, FireBerd 500 PC, LAN Analyzer and Protocol
// Inspector: the same record followed by a 16-byte trailer.
#include "formats/snoop.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/salvage.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kEthernetFcs = 4;
constexpr uint32_t kSurveyorRecordOverhead = kSnoopRecordHeaderSize + kSurveyorTrailerSize;
constexpr uint16_t kTrailerCrcError = 0x0002;
constexpr uint16_t kTrailerRunt = 0x0008;
constexpr uint16_t kTrailerOversize = 0x0010;
constexpr uint16_t kTrailerLength12 = 0x0020;
constexpr uint16_t kTrailerGood = 0x0040;
constexpr uint32_t kFirstTrailerMark = 0x80000000u;

struct SnoopReaderContext : FormatContext {
  bool started = false;  // the first record fixed the trace date
  bool resumed = false;  // salvage found the next record past damage
  int64_t firstSeconds = 0;  // of the first record, once started
  int64_t record = 0;    // records read, for failure details
  int64_t offset = 0;    // of the next record
  UnixFrameClock clock;
};

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  uint8_t h[kSnoopFileHeaderSize];
  if (!c.source->readExact(h, sizeof h))
    FailRead(s, "file header cut short: 16 bytes needed");
  else if (std::memcmp(h, "snoop\0\0\0", 8) != 0)
    FailRead(s, "offset 0: no snoop signature");
  c.ReaderContext<SnoopReaderContext>().offset = c.source->position();
}

// Whether a record header at p could be one of this file's: its lengths,
// stated twice, agree (the record holds its header, the included bytes and
// at most a little padding; no more included than on the wire), the
// fraction is below a second and the time within the trace's span.
bool PlausibleRecordHeader(const SnoopReaderContext& r, const uint8_t* h, uint32_t overhead) {
  const uint32_t original = GetBE32(h), included = GetBE32(h + 4), recordLength = GetBE32(h + 8);
  constexpr uint32_t kMostPadding = 7;
  return recordLength >= overhead + included && recordLength - overhead - included <= kMostPadding &&
         included <= uint32_t(FrameBufferBytes) && included <= original &&
         original <= uint32_t(FrameBufferBytes) && GetBE32(h + 20) < 1000000 &&
         WithinSpanOfFirst(r.started ? std::optional<int64_t>(r.firstSeconds) : std::nullopt,
                           GetBE32(h + 16));
}

// Damage at the record that begins at `offset`: a read error, or with
// salvage the next place where a plausible record header is followed by
// another or by the end of the file. Kept out of the frame loop.
[[gnu::noinline]] bool Damaged(Conversion& c, SnoopReaderContext& r, bool surveyor, int64_t offset,
                               const std::string& reason) {
  const uint32_t overhead = surveyor ? kSurveyorRecordOverhead : kSnoopRecordHeaderSize;
  const RecordTest recognises = [&](const uint8_t* p, size_t n) {
    if (n < kSnoopRecordHeaderSize || !PlausibleRecordHeader(r, p, overhead)) return false;
    const size_t end = GetBE32(p + 8);
    return n == end ||
           (n >= end + kSnoopRecordHeaderSize && PlausibleRecordHeader(r, p + end, overhead));
  };
  r.resumed = SkipDamaged(c, offset, reason,
                          2 * size_t(kSurveyorRecordOverhead) + FrameBufferBytes + 8, recognises);
  if (r.resumed) r.offset = c.source->position();
  return false;
}

// Reads one record into the current frame. False at a clean end of file or
// on a read error. Inline in the frame loop: no call and no saving of
// registers per record.
[[gnu::always_inline]] inline bool ReadRecord(Conversion& c, SnoopReaderContext& r, bool surveyor) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  // The place of a failure, put into words only when one happens.
  const int64_t number = ++r.record, offset = r.offset;
  const auto at = [&] { return AtRecord(number, offset); };
  // The header is looked at in place when the block in hand holds it, and
  // so is the rest of the record when it holds that too.
  uint8_t copy[kSnoopRecordHeaderSize];
  const bool inPlace = in.inHandSize() >= sizeof copy;
  const uint8_t* h = inPlace ? in.inHand() : copy;
  if (!inPlace) {
    const size_t got = in.fetch(copy, sizeof copy);
    if (got == 0 && !in.failed()) return false;
    if (got != sizeof copy) {
      return Damaged(c, r, surveyor, offset,
                     in.failed() ? in.errorText() : at() + "record header cut short");
    }
  }
  const uint32_t original = GetBE32(h), included = GetBE32(h + 4), recordLength = GetBE32(h + 8);
  int64_t seconds = GetBE32(h + 16), micros = GetBE32(h + 20);
  const uint32_t overhead = surveyor ? kSurveyorRecordOverhead : kSnoopRecordHeaderSize;
  // A record must hold its header and fit the frame buffer; its frame part
  // must hold the bytes it claims.
  if (recordLength < overhead || recordLength - overhead > uint32_t(FrameBufferBytes)) {
    return Damaged(c, r, surveyor, offset,
                   at() + "record length " + Grouped(recordLength) + " outside " +
                       Grouped(overhead) + " to " + Grouped(FrameBufferBytes + overhead));
  }
  if (included > recordLength - overhead) {
    return Damaged(c, r, surveyor, offset,
                   at() + "included length " + Grouped(included) + " exceeds the record's " +
                       Grouped(recordLength - overhead) + " bytes");
  }
  const uint32_t body = recordLength - overhead;
  uint16_t trailerStatus = 0;
  if (inPlace && recordLength <= in.inHandSize()) {
    CopyBytes(s.frame.frameData.data(), h + kSnoopRecordHeaderSize, body);
    if (surveyor) trailerStatus = GetBE16(h + kSnoopRecordHeaderSize + body + 2);
    in.consume(recordLength);
  } else {
    if (inPlace) in.consume(sizeof copy);  // h is not looked at again
    if (!in.readExact(s.frame.frameData.data(), body)) {
      return Damaged(c, r, surveyor, offset,
                     in.failed() ? in.errorText() : at() + "record cut short");
    }
    uint8_t trailer[kSurveyorTrailerSize] = {};
    if (surveyor && !in.readExact(trailer, sizeof trailer)) {
      return Damaged(c, r, surveyor, offset,
                     in.failed() ? in.errorText() : at() + "trailer cut short");
    }
    trailerStatus = GetBE16(trailer + 2);
  }
  r.offset += recordLength;
  if (!r.started) {
    StartTraceAtUnixTime(s, seconds);
    r.firstSeconds = seconds;
    r.started = true;
  }
  if (micros >= 1000000) {  // an out-of-range fraction carries into the seconds
    seconds += micros / 1000000;
    micros %= 1000000;
  }
  s.frame.frameFlags = (trailerStatus & kTrailerCrcError) ? Flag::CrcError : 0;
  s.frame.frameTime = r.clock(s, seconds, micros);
  // A time the pipeline would refuse is damage salvage passes over.
  if (s.options.salvage && FrameTimeBeyondSpan(s))
    return Damaged(c, r, surveyor, offset, at() + FrameTimeSpanText(s));

  // included is bounded by the record length above; the original length is
  // bounded here so the additions below stay in range (the clamp lowers it).
  s.frame.storedLength = int32_t(included);
  s.frame.frameLength = int32_t(std::min(std::max(original, included), uint32_t(MaxFrameBytes) + 1));
  const bool ethernet = s.traceTopology == Topo::Ethernet;
  if (surveyor) {
    if (s.frame.frameLength - s.frame.storedLength == kEthernetFcs) s.frame.frameLength = s.frame.storedLength;
    if (ethernet && s.frame.frameLength < 64 && s.options.padShortFrames) {
      ZeroFrameBytes(s, s.frame.storedLength, 64);
      s.frame.frameLength = s.frame.storedLength = 64;
      ++s.counters.lost.framesPadded;
    }
  }
  if (ethernet) {
    if (s.frame.frameLength == s.frame.storedLength) {
      if (s.frame.frameLength < 60 && s.options.padShortFrames) {
        ZeroFrameBytes(s, s.frame.storedLength, 60);
        s.frame.frameLength = s.frame.storedLength = 60;
        ++s.counters.lost.framesPadded;
      }
      if (!surveyor) s.frame.storedLength += kEthernetFcs;
    }
    if (!surveyor) s.frame.frameLength += kEthernetFcs;
  }
  ClampFrameLength(s);
  // Surveyor frames carry their FCS; snoop frames get it computed.
  if (ethernet && !surveyor && s.frame.storedLength == s.frame.frameLength) StoreEthernetFcs(s);
  return true;
}

ReadStatus NextRecord(Conversion& c) {
  const bool surveyor = c.state.sourceAnalyzer == Analyzer::Surveyor;
  SnoopReaderContext& r = c.ReaderContext<SnoopReaderContext>();
  // After damage that salvage passed over, reading goes on where it resumed.
  return NextInTurn(c, [&]() __attribute__((always_inline)) {
    do {
      if (ReadRecord(c, r, surveyor)) return true;
    } while (std::exchange(r.resumed, false));
    return false;
  });
}

uint32_t DatalinkType(Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return 4;
    case Topo::TokenRing: return 2;
    case Topo::Fddi: return 8;
    default: return 0;
  }
}

// What stays the same for every frame of a conversion, fixed at the header.
struct SnoopWriterContext : FormatContext {
  bool trailer = false;   // the Surveyor layout: a trailer after each record
  bool ethernet = false;
  int32_t fcs = 0;        // bytes of FCS that snoop proper leaves out
  SteppedUnixClock clock;  // UTC times, from the header step on
  // A record laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  uint8_t aside[kSnoopRecordHeaderSize + FrameBufferBytes + 3 + kSurveyorTrailerSize];
};

uint16_t TrailerStatus(const ConversionState& s, bool ethernet) {
  uint16_t status = 0;
  if (s.frame.frameLength >= 12) status |= kTrailerLength12;
  if (ethernet) {
    if (s.frame.frameLength < 64) status |= kTrailerRunt;
    if (s.frame.frameLength > 1518) status |= kTrailerOversize;
  }
  status |= (s.frame.frameFlags & Flag::CrcError) ? kTrailerCrcError : kTrailerGood;
  return status;
}

}  // namespace

AnalyzerType SnoopOrSurveyor(SourceStream& in) {
  uint8_t h[kSnoopFileHeaderSize + kSnoopRecordHeaderSize];
  if (!in.seek(0) || !in.readExact(h, sizeof h)) return Analyzer::Unknown;
  const uint8_t* record = h + kSnoopFileHeaderSize;
  const int64_t beyondFrame = int64_t(GetBE32(record + 8)) - int64_t(GetBE32(record + 4));
  return beyondFrame < int64_t(kSurveyorRecordOverhead) ? Analyzer::Snoop : Analyzer::Surveyor;
}

Topology SnoopTopology(uint8_t datalink, uint32_t& lineSpeed) {
  lineSpeed = 0;
  switch (datalink) {
    case 0:
    case 4: lineSpeed = 10000000; return Topo::Ethernet;
    case 2: return Topo::TokenRing;
    case 8: return Topo::Fddi;
    case 10: lineSpeed = 100000000; return Topo::Ethernet;
    case 12: lineSpeed = 1000000000; return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

void WriteSnoopHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  uint8_t h[kSnoopFileHeaderSize] = {'s', 'n', 'o', 'o', 'p', 0, 0, 0};
  PutBE32(h + 8, 2);
  PutBE32(h + 12, DatalinkType(s.traceTopology));
  // Written once, before the first record, and never gone back to: a pipe
  // takes the file as well.
  c.target->write(h, sizeof h);
  ComputeWriterTimeBase(s);
  SnoopWriterContext& w = c.WriterContext<SnoopWriterContext>();
  w.trailer = s.targetAnalyzer != Analyzer::Snoop;
  w.ethernet = s.traceTopology == Topo::Ethernet;
  w.fcs = w.ethernet ? kEthernetFcs : 0;
  w.clock.start(s);
}

void WriteSnoopFrame(Conversion& c) {
  ConversionState& s = c.state;
  SnoopWriterContext& w = c.WriterContext<SnoopWriterContext>();
  const bool whole = s.frame.storedLength >= s.frame.frameLength;
  // Only captured bytes are written: a truncated or sliced frame keeps its
  // original length and every byte that was stored of it (the FCS, at its
  // end, is never among them).
  int32_t original, included;
  if (w.trailer) {
    original = s.frame.frameLength;
    included = whole ? s.frame.frameLength : std::max(0, s.frame.storedLength);
  } else {
    original = std::max(0, s.frame.frameLength - w.fcs);
    included = whole ? original : std::clamp(s.frame.storedLength, 0, original);
  }
  const uint32_t padded = (uint32_t(included) + kSnoopRecordHeaderSize + 3) & ~3u;
  const uint32_t recordLength = padded + (w.trailer ? kSurveyorTrailerSize : 0);
  const int64_t frameTime = WriterFrameTime(s);
  const UnixTime when = w.clock(frameTime);
  if (!TimeFitsTarget(s, when.seconds, 0, kLatestUnsigned32Seconds)) return;
  // Laid out inline at both places WriteRecord lays it out.
  WriteRecord(*c.target, recordLength, w.aside, [&](uint8_t* p) __attribute__((always_inline)) {
    // The padding's zeros first: the header or the frame bytes cover those
    // of its last word that are not padding.
    PutBE32(p + padded - 4, 0);
    PutBE32(p, uint32_t(original));
    PutBE32(p + 4, uint32_t(included));
    PutBE32(p + 8, recordLength);
    PutBE32(p + 12, 0);
    PutBE32(p + 16, uint32_t(when.seconds));
    PutBE32(p + 20, uint32_t(when.microseconds));
    CopyBytes(p + kSnoopRecordHeaderSize, s.frame.frameData.data(), size_t(included));
    if (!w.trailer) return;
    uint8_t* t = p + padded;
    const int32_t frameNumber = s.counters.framesWritten - s.counters.nonDataFrames;
    const uint64_t sinceFirst = uint64_t(frameTime - s.writerTime.firstFrameTime) * 25;  // 40 ns units
    PutBE32(t, TrailerStatus(s, w.ethernet));
    PutBE32(t + 4, uint32_t(sinceFirst));
    PutBE32(t + 8, uint32_t(sinceFirst >> 32));
    PutBE32(t + 12, frameNumber == 1 ? (kSnoopFileHeaderSize + recordLength) | kFirstTrailerMark
                                     : uint32_t(frameNumber - 1));
  });
}

// ---------------------------------------------------------------- registry

namespace {

std::optional<AnalyzerType> IdentifySnoop(IdentifyInput& input) {
  if (!input.head.startsWith("snoop\0\0\0", 8)) return std::nullopt;
  return SnoopOrSurveyor(input.in);
}

Topology SnoopFileTopology(TopologyInput& t) {
  return SnoopTopology(uint8_t(t.head.u8(15)), t.speed);
}

// Tried at 200: text magic at offset 0.
constexpr IdentifyRule kSnoopRules[] = {{"snoop", IdentifySnoop, 200}};
constexpr FriendlyName kSnoopNames[] = {{Analyzer::Snoop, "snoop"}};
constexpr FriendlyName kTrailerNames[] = {{Analyzer::Surveyor, "surveyor"}};

}  // namespace

// snoop proper: read (both layouts) and written without the Ethernet FCS.
constexpr AnalyzerInfo kSnoopAnalyzers[] = {
    {Analyzer::Snoop, "Snoop (Sun)", "SO", ".snoop",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
};

extern const FormatDescriptor kSnoopFormat = {
    .family = "snoop",
    .analyzers = kSnoopAnalyzers,
    .reads = MaskOf({Analyzer::Snoop, Analyzer::Surveyor}),
    .writes = MaskOf({Analyzer::Snoop}),
    .aliases = kSnoopNames,
    .sourcePatterns = "*.snoop;*.cap",
    .capabilities = Capability::DropsEthernetFcs | Capability::StreamTarget,
    .identify = kSnoopRules,
    .topology = SnoopFileTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteSnoopHeader,
    .writeFrame = WriteSnoopFrame,
    .limits = {},
};

// The same records with a trailer, for the analyzers that read that variant.
constexpr AnalyzerInfo kSnoopTrailerAnalyzers[] = {
    {Analyzer::Surveyor, "Surveyor (Finisar/Shomiti)", "SH", ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
    {Analyzer::FireBerd500Pc, "FireBerd 500 PC (Acterna/TTC)", nullptr, ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
    {Analyzer::LanAnalyzer, "LAN Analyzer (Agilent)", nullptr, ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
    {Analyzer::ProtocolInspector, "Protocol Inspector (Fluke)", nullptr, ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
};

extern const FormatDescriptor kSnoopTrailerFormat = {
    .family = "snoop with trailer",
    .analyzers = kSnoopTrailerAnalyzers,
    .writes = MaskOf({Analyzer::Surveyor, Analyzer::FireBerd500Pc, Analyzer::LanAnalyzer,
                      Analyzer::ProtocolInspector}),
    .aliases = kTrailerNames,
    .capabilities = Capability::StreamTarget,
    .writeHeader = WriteSnoopHeader,
    .writeFrame = WriteSnoopFrame,
    .limits = {.keptFlags = Flag::CrcError},
};

}  // namespace morph
