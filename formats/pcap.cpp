// tcpdump/libpcap reader and writer.
#include "formats/pcap.h"

#include <cmath>
#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/salvage.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {

extern const FormatDescriptor kPcapFormat;

namespace {

constexpr int kFileHeaderSize = 24;
constexpr int kRecordHeaderSize = 16;
constexpr int32_t kMaxCapturedLength = MaxRecordBytes;

struct PcapReaderContext : FormatContext {
  bool nanoseconds = false;
  bool plainRecords = false;  // a record is its 16-byte header and the frame
  bool started = false;       // the first record fixed the trace date
  bool copiesRecords = false;  // runs of records go to the target as stored
  int64_t firstSeconds = 0;   // of the first record, once started
  uint32_t snapLength = 0;    // as the file header states it
  int64_t record = 0;    // records read, for failure details
  UnixFrameClock clock;
};

struct PcapWriterContext : FormatContext {
  int32_t largestCaptured = 0;
  int32_t fcs = 0;  // bytes of Ethernet FCS left out of each frame, fixed at the header
  bool nanoseconds = false;  // fractions in nanoseconds, fixed at the header
  PcapOutputOptions output;  // byte order and layout, fixed at the header
  SteppedUnixClock clock;  // frame times in UTC, from the header step on
};

uint32_t Field32(const uint8_t* p, bool bigEndian) { return Get32(p, bigEndian); }
uint16_t Field16(const uint8_t* p, bool bigEndian) { return Get16(p, bigEndian); }

bool BigEndianSource(const ConversionState& s) { return s.sourceVariant & PcapVariant::BigEndian; }

// Variants whose record headers hold more than the standard 16 bytes.
constexpr uint32_t kLongerRecords = PcapVariant::Nokia | PcapVariant::Modified | kPcapVariantSuSE;

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  uint8_t header[kFileHeaderSize];
  if (!c.source->readExact(header, sizeof header)) {
    FailRead(s, "file header cut short: " + Grouped(kFileHeaderSize) + " bytes needed");
    return;
  }
  const uint32_t magic = GetLE32(header);
  const bool nanoseconds = Field32(header + 12, BigEndianSource(s)) == 3 ||
                           magic == kPcapMagicNanosecond || magic == kPcapMagicNanosecondSwapped;
  PcapReaderContext& r = c.ReaderContext<PcapReaderContext>();
  r.nanoseconds = nanoseconds;
  r.snapLength = Field32(header + 16, BigEndianSource(s));
  s.sourceSnapshotLength = r.snapLength;
  // One interface, of the header's link type, for every frame.
  s.frame.frameLinkType = Field32(header + 20, BigEndianSource(s));
  s.frame.frameInterface = 0;
  // Salvage looks at every record's time, which only the stream path does.
  r.plainRecords = !(s.sourceVariant & kLongerRecords) && !s.options.salvage;
  s.time.sourceHasNanoseconds = nanoseconds;
}

// ShapePcapFrame, inline in this reader's own frame path.
[[gnu::always_inline]] inline void ShapeFrame(ConversionState& s, int32_t captured,
                                              int32_t original, Topology topology) {
  // An absurd wire length (beyond any frame, or past 2 GiB and so negative
  // here) is the length clamp's to lower; bounding it first keeps the
  // arithmetic below in range.
  if (original < 0 || original > MaxRecordBytes) original = MaxRecordBytes;
  s.frame.storedLength = captured;
  s.frame.frameLength = original;
  // A record holding more bytes than its wire length keeps them all.
  if (s.frame.frameLength < s.frame.storedLength) s.frame.frameLength = s.frame.storedLength;

  if (topology == Topo::Ethernet) {
    if (s.frame.frameLength < 60 && s.options.padShortFrames) {
      ZeroFrameBytes(s, s.frame.storedLength, 60);
      s.frame.frameLength = s.frame.storedLength = 60;
      ++s.counters.lost.framesPadded;
    }
    if (s.frame.storedLength >= s.frame.frameLength) s.frame.storedLength += 4;
    s.frame.frameLength += 4;
  } else if (topology == Topo::Wireless) {
    SetDefaultWirelessMedia(s);
  }
  ClampFrameLength(s);
  if (topology == Topo::Ethernet) StoreEthernetFcs(s);
}

struct RecordHeader {
  int64_t seconds;
  uint32_t fraction, captured, original;
};

// The seconds field is unsigned: times run to 2106.
inline RecordHeader DecodeRecordHeader(const uint8_t* p, bool big) {
  RecordHeader h{int64_t(Field32(p, big)), Field32(p + 4, big), Field32(p + 8, big),
                 Field32(p + 12, big)};
  if (big && h.original < h.captured) std::swap(h.original, h.captured);
  return h;
}

// The current frame's flags, time and lengths from its record header, the
// captured bytes being in place.
[[gnu::always_inline]] inline void ShapeRecord(ConversionState& s, PcapReaderContext& r,
                                               RecordHeader h) {
  s.frame.frameFlags = 0;
  const bool nanoseconds = r.nanoseconds;
  int64_t micros = nanoseconds ? h.fraction / 1000 : h.fraction;
  s.frame.frameNanoseconds = nanoseconds ? int32_t(h.fraction % 1000) : 0;
  if (micros >= 1000000) {  // an out-of-range fraction carries into the seconds
    h.seconds += int64_t(micros / 1000000);
    micros %= 1000000;
  }
  s.frame.frameTime = r.clock(s, h.seconds, micros);
  // An absurd original length beside sane captured bytes is the length
  // clamp's to lower.
  ShapeFrame(s, int32_t(h.captured), int32_t(std::min(h.original, uint32_t(MaxRecordBytes))),
             s.traceTopology);
}

// After the first record, one whose header and bytes are all in the
// source's window is taken from there without a call to the stream. False
// (nothing taken) when it is not, or when its length is to be refused.
bool TakeRecordInHand(ConversionState& s, SourceStream& in, PcapReaderContext& r) {
  if (!r.started || !r.plainRecords || in.inHandSize() < size_t(kRecordHeaderSize)) return false;
  const uint8_t* p = in.inHand();
  const RecordHeader h = DecodeRecordHeader(p, BigEndianSource(s));
  if (h.captured > uint32_t(kMaxCapturedLength) ||
      in.inHandSize() - kRecordHeaderSize < size_t(h.captured))
    return false;
  CopyBytes(s.frame.frameData.data(), p + kRecordHeaderSize, h.captured);
  in.consume(kRecordHeaderSize + size_t(h.captured));
  ++r.record;
  ShapeRecord(s, r, h);
  return true;
}

// The bytes of a record header and what follows it in this file's layout.
size_t RecordHeaderBytes(const ConversionState& s) {
  return kRecordHeaderSize + ((s.sourceVariant & PcapVariant::Nokia) ? 4 : 0) +
         ((s.sourceVariant & PcapVariant::Modified) ? 8 : 0) +
         ((s.sourceVariant & kPcapVariantSuSE) ? 12 : 0);
}

// Whether a record header at p could be one of this file's: a fraction
// below a second, a captured length within the snapshot length and the
// wire length, a wire length a frame can have, a time within the trace's span.
bool PlausibleRecordHeader(const ConversionState& s, const PcapReaderContext& r, const uint8_t* p) {
  const bool big = BigEndianSource(s);
  const int64_t seconds = Field32(p, big);
  const uint32_t fraction = Field32(p + 4, big), captured = Field32(p + 8, big),
                 original = Field32(p + 12, big);
  const uint32_t snap = r.snapLength > 0 && r.snapLength < uint32_t(kMaxCapturedLength)
                            ? r.snapLength
                            : uint32_t(kMaxCapturedLength);
  return fraction < (r.nanoseconds ? 1000000000u : 1000000u) && captured <= snap &&
         captured <= original && original > 0 && original <= uint32_t(FrameBufferBytes) &&
         WithinSpanOfFirst(r.started ? std::optional<int64_t>(r.firstSeconds) : std::nullopt,
                           seconds);
}

// With salvage, the next place after damage where a record begins whose
// header is plausible and is followed by another such header, or by the
// end of the file.
bool SkipToNextRecord(Conversion& c, PcapReaderContext& r, int64_t offset,
                      const std::string& reason) {
  const ConversionState& s = c.state;
  const size_t header = RecordHeaderBytes(s);
  const RecordTest recognises = [&](const uint8_t* p, size_t n) {
    if (n < header || !PlausibleRecordHeader(s, r, p)) return false;
    const size_t end = header + Field32(p + 8, BigEndianSource(s));
    return n == end || (n >= end + header && PlausibleRecordHeader(s, r, p + end));
  };
  return SkipDamaged(c, offset, reason, 2 * header + kMaxCapturedLength, recognises);
}

// Reads one record through the stream into the current frame. False at a
// clean end of file. Kept apart so the common way needs none of its set-up.
[[gnu::noinline]] bool ReadRecordFromStream(Conversion& c, PcapReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  for (;;) {
    const int64_t offset = in.position();
    // The place of a failure, put into words only when one happens.
    const int64_t number = ++r.record;
    const auto at = [&] { return AtRecord(number, offset); };
    // Damage: a read error, or with salvage the next record found past it.
    const auto damaged = [&](const std::string& reason) {
      return SkipToNextRecord(c, r, offset, in.failed() ? in.errorText() : at() + reason);
    };
    uint8_t record[kRecordHeaderSize];
    size_t got = in.fetch(record, sizeof record);
    if (got == 0 && !in.failed()) return false;
    if (got != sizeof record) {
      if (damaged("record header cut short")) continue;
      return false;
    }
    const RecordHeader h = DecodeRecordHeader(record, BigEndianSource(s));
    if ((s.sourceVariant & PcapVariant::Nokia) && !in.skip(4)) {
      if (damaged("record header cut short")) continue;
      return false;
    }
    if ((s.sourceVariant & PcapVariant::Modified) && !in.skip(8)) {
      if (damaged("record header cut short")) continue;
      return false;
    }
    if ((s.sourceVariant & kPcapVariantSuSE) && !in.skip(12)) {
      if (damaged("record header cut short")) continue;
      return false;
    }
    if (h.captured > uint32_t(kMaxCapturedLength)) {
      if (damaged("captured length " + Grouped(h.captured) + " exceeds " +
                  Grouped(kMaxCapturedLength)))
        continue;
      return false;
    }
    if (!in.readExact(s.frame.frameData.data(), size_t(h.captured))) {
      if (damaged("frame cut short: " + Grouped(h.captured) + " bytes stated")) continue;
      return false;
    }
    if (!r.started) {  // first record of the conversion
      StartTraceAtUnixTime(s, h.seconds);
      r.firstSeconds = h.seconds;
      r.started = true;
    }
    ShapeRecord(s, r, h);
    // A time the pipeline would refuse is damage salvage passes over.
    if (s.options.salvage && FrameTimeBeyondSpan(s)) {
      if (damaged(FrameTimeSpanText(s))) continue;
      return false;
    }
    return true;
  }
}

// Reads one record into the current frame. False at a clean end of file.
[[gnu::always_inline]] inline bool ReadRecord(Conversion& c, PcapReaderContext& r) {
  return TakeRecordInHand(c.state, *c.source, r) || ReadRecordFromStream(c, r);
}

// A libpcap target in the source's own record layout writes every record
// that needs no change exactly as it is stored.
bool TargetTakesRecordsAsStored(const Conversion& c, const PcapReaderContext& r) {
  const ConversionState& s = c.state;
  const PcapOutputOptions output = s.options.formatOptions.value<PcapOutputOptions>();
  return c.writerFormat() == &kPcapFormat && c.FramesPassUnchanged() && !s.options.salvage &&
         s.traceTopology == Topo::Ethernet && !r.nanoseconds && !output.nanoseconds &&
         !(s.sourceVariant & kLongerRecords) &&
         BigEndianSource(s) == output.bigEndian && !output.modified;
}

// Copies the records in hand, as stored, for as long as each is one the
// writer would write again byte for byte: an Ethernet frame (of 60 bytes or
// more when short ones are padded) with a fraction below a second, its time
// moved by the conversion's shift where there is one. Records the selection
// drops are left out. The pipeline counts them a batch at a time; the first
// record it cannot take is left for the frame-by-frame path.
void CopyUnchangedRecords(Conversion& c, PcapReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  TargetStream& out = *c.target;
  // The writer gives back each record's own time when its time base and the
  // reader's clock agree to the microsecond on the first frame's second.
  const int64_t base = r.clock(s, 0, 0);
  const WriterTime& view = s.writerTime;
  const int64_t offset = base + view.frameTimeShift - view.firstFrameTime + int64_t(view.timeBaseFraction);
  if (offset != view.firstFrameUnixTime * -1000000) return;
  const bool big = BigEndianSource(s);
  const uint8_t* const end = in.inHand() + in.inHandSize();
  const uint8_t* p = in.inHand();
  const uint8_t* run = p;  // the records copied as they stand, not yet written
  const uint32_t shortest = s.options.padShortFrames ? 60 : 0;
  constexpr int64_t kLatestMicros = (int64_t(UINT32_MAX) + 1) * 1000000 - 1;
  int32_t largest = 0;
  bool more = true;
  while (more && !s.status.stopRequested && !s.status.writeFailed) {
    UnchangedFrames batch(c);
    const int64_t shift = batch.shiftMicroseconds();
    while (!batch.full()) {
      if (end - p < kRecordHeaderSize) {
        more = false;
        break;
      }
      const uint32_t seconds = Field32(p, big), fraction = Field32(p + 4, big);
      const uint32_t captured = Field32(p + 8, big), original = Field32(p + 12, big);
      const int64_t frameTime = base + int64_t(seconds) * 1000000 + fraction;
      const int64_t written = int64_t(seconds) * 1000000 + fraction + shift;
      // The wire length is bounded before it is taken as a signed length.
      if (fraction >= 1000000 || captured > original || original < shortest ||
          original > uint32_t(MaxRecordBytes) || size_t(end - p - kRecordHeaderSize) < captured ||
          written < 0 || written > kLatestMicros) {
        more = false;
        break;
      }
      const uint8_t* const next = p + kRecordHeaderSize + captured;
      const UnchangedFrames::Take take =
          batch.add(int32_t(original) + 4, int32_t(captured == original ? captured + 4 : captured),
                    frameTime, p + kRecordHeaderSize, int32_t(captured));
      if (take == UnchangedFrames::Take::Refused) {
        more = false;
        break;
      }
      if (take == UnchangedFrames::Take::Copied) {
        largest = std::max(largest, int32_t(captured));
        if (shift != 0) {
          // A record of its own: the header with the time moved, then the bytes.
          uint8_t header[kRecordHeaderSize];
          Put32(header, uint32_t(written / 1000000), big);
          Put32(header + 4, uint32_t(written % 1000000), big);
          std::memcpy(header + 8, p + 8, 8);
          out.writeHeadAndBody(header, kRecordHeaderSize, p + kRecordHeaderSize, captured);
          run = next;
        }
      } else {
        if (p != run) out.write(run, size_t(p - run));
        run = next;
      }
      p = next;
    }
    // The run goes on into the next batch: it is written when a record
    // breaks it or the bytes in hand end, so a whole block read goes to the
    // target in one write, straight from where it was read.
    in.consume(size_t(p - in.inHand()));  // the progress display follows
    c.PassUnchangedFrames(batch);
    r.record += batch.count();
  }
  if (p != run) out.write(run, size_t(p - run));
  int32_t& writerLargest = c.WriterContext<PcapWriterContext>().largestCaptured;
  writerLargest = std::max(writerLargest, largest);
  if (out.failed()) FailWrite(s, out.errorText());
}

ReadStatus NextRecord(Conversion& c) {
  const ConversionState& s = c.state;
  PcapReaderContext& r = c.ReaderContext<PcapReaderContext>();
  // Decided before the first record, once the engine has fixed its way.
  if (!r.started) r.copiesRecords = TargetTakesRecordsAsStored(c, r);
  return NextInTurn(c, [&] {
    // The first record, and each one the copy stops at, takes the whole path.
    if (r.copiesRecords && r.started) {
      CopyUnchangedRecords(c, r);
      if (s.status.stopRequested || s.status.writeFailed) return false;
    }
    return ReadRecord(c, r);
  });
}

}  // namespace

void ShapePcapFrame(ConversionState& s, int32_t captured, int32_t original, Topology topology) {
  ShapeFrame(s, captured, original, topology);
}

uint32_t WrittenLinkType(const ConversionState& s) {
  // A media conversion made the frame another medium's: its link type with it.
  if (s.frame.frameLinkType != 0 && !s.options.convertToEthernet && !s.options.convertToWireless) return s.frame.frameLinkType;
  return PcapLinkTypeFor(s.traceTopology);
}

Topology WrittenTopology(const ConversionState& s) {
  if (s.frame.frameLinkType == 0 || s.options.convertToEthernet || s.options.convertToWireless) return s.traceTopology;
  uint32_t speed = 0;
  return PcapTopology(s.frame.frameLinkType, speed);
}

uint32_t PcapLinkTypeFor(Topology topology) {
  switch (topology) {
    case Topo::TokenRing: return 6;
    case Topo::Fddi: return 10;
    case Topo::Wireless: return 105;
    default: return 1;
  }
}

std::optional<uint32_t> PcapVariantFromMagic(uint32_t magic) {
  using namespace PcapVariant;
  switch (magic) {
    case kPcapMagicStandard:
    case kPcapMagicNanosecond: return 0;
    case kPcapMagicSwapped:
    case kPcapMagicNanosecondSwapped: return BigEndian;
    case kPcapMagicModified: return Modified;
    case kPcapMagicModifiedSwapped: return BigEndian | Modified;
    default: return std::nullopt;
  }
}

bool PcapVersionOk(SourceStream& in, bool swapped) {
  uint8_t header[kFileHeaderSize];
  if (!in.seek(0) || !in.readExact(header, sizeof header)) return false;
  return Field16(header + 4, swapped) > 1;
}

bool PcapLinkType(SourceStream& in, bool swapped, uint32_t& linkType) {
  uint8_t header[kFileHeaderSize];
  if (!in.seek(0) || !in.readExact(header, sizeof header)) return false;
  linkType = Field32(header + 20, swapped);
  return true;
}

PcapProbe ProbePcapRecordLayout(SourceStream& in) {
  uint8_t header[kFileHeaderSize], r1[kRecordHeaderSize], r2[kRecordHeaderSize];
  auto readAt = [&](int64_t offset, uint8_t* out) {
    return in.seek(offset) && in.readExact(out, kRecordHeaderSize);
  };
  if (!in.seek(0) || !in.readExact(header, sizeof header)) return PcapProbe::IoError;
  // A file without a whole first record has nothing to tell the layouts
  // apart either: its reader finds no frame, or the record cut short.
  if (!in.readExact(r1, sizeof r1)) return in.failed() ? PcapProbe::IoError : PcapProbe::Standard;
  const uint32_t snapLength = GetLE32(header + 16);
  const int64_t firstCaptured = GetLE32(r1 + 8);
  const int64_t firstSeconds = GetLE32(r1);
  // A record header must have sane lengths and a time near the first
  // record's: a misaligned read takes a fraction or frame bytes for them.
  auto nearFirst = [&](const uint8_t* r) {
    const int64_t seconds = GetLE32(r);
    return seconds >= firstSeconds - 86400 && seconds <= firstSeconds + 366 * 86400LL;
  };
  // A file with a single record has nothing to tell the layouts apart: standard.
  if (!readAt(40 + firstCaptured, r2)) return PcapProbe::Standard;
  uint32_t captured = GetLE32(r2 + 8), original = GetLE32(r2 + 12);
  bool rejected = (snapLength != 0 && snapLength < captured) || (captured == 0 && original == 0) ||
                  captured > original || !nearFirst(r2);
  if (!rejected) return PcapProbe::Standard;
  auto plausible = [&](int64_t offset) {
    if (!readAt(offset, r2)) return false;
    captured = GetLE32(r2 + 8);
    original = GetLE32(r2 + 12);
    return captured < 8096 && original < 8096 && captured <= original && nearFirst(r2);
  };
  if (plausible(48 + firstCaptured)) return PcapProbe::Modified;
  if (plausible(44 + firstCaptured)) return PcapProbe::Nokia;
  return PcapProbe::Unknown;
}

PcapProbe ProbeModifiedRecordLayout(SourceStream& in, bool big) {
  uint8_t header[kFileHeaderSize], r1[kRecordHeaderSize], r2[kRecordHeaderSize];
  if (!in.seek(0) || !in.readExact(header, sizeof header) || !in.readExact(r1, sizeof r1))
    return PcapProbe::IoError;
  const uint32_t snapLength = Field32(header + 16, big);
  const int64_t firstSeconds = Field32(r1, big);
  const int64_t firstEnd = kFileHeaderSize + kRecordHeaderSize + int64_t(Field32(r1 + 8, big));
  // The second record's header where a layout puts it: sane lengths and a
  // time near the first record's, or frame bytes and extra fields taken for it.
  auto recordAt = [&](int64_t offset) {
    if (!in.seek(offset) || !in.readExact(r2, sizeof r2)) return false;
    const int64_t seconds = Field32(r2, big);
    const uint32_t captured = Field32(r2 + 8, big), original = Field32(r2 + 12, big);
    return captured <= uint32_t(kMaxCapturedLength) && (snapLength == 0 || captured <= snapLength) &&
           (captured > 0 || original > 0) && seconds >= firstSeconds - 86400 &&
           seconds <= firstSeconds + 366 * 86400LL;
  };
  if (recordAt(firstEnd + 8)) return PcapProbe::Modified;
  if (recordAt(firstEnd + 12)) return PcapProbe::SuSE;
  return PcapProbe::Modified;
}

Topology PcapTopology(uint32_t linkType, uint32_t& lineSpeed) {
  lineSpeed = 0;
  switch (linkType) {
    case 1: return Topo::Ethernet;
    case 6: return Topo::TokenRing;
    case 10: return Topo::Fddi;
    case 100: lineSpeed = 100000000; return Topo::Ethernet;
    case 105: lineSpeed = 1000000; return Topo::Wireless;
    default: return Topo::Unknown;
  }
}

void WritePcapHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  PcapWriterContext& w = c.WriterContext<PcapWriterContext>();
  w.output = s.options.formatOptions.value<PcapOutputOptions>();
  const bool big = w.output.bigEndian;
  uint8_t header[kFileHeaderSize] = {};
  // The modified layout has a magic of its own in either byte order, so that
  // readers need not guess the record layout; so have nanosecond fractions.
  w.nanoseconds = w.output.nanoseconds && !w.output.modified;
  Put32(header,
        w.output.modified ? kPcapMagicModified
        : w.nanoseconds       ? kPcapMagicNanosecond
                              : kPcapMagicStandard,
        big);
  Put16(header + 4, 2, big);
  Put16(header + 6, 4, big);
  // Truncated frames hold no FCS, so their stored length is the snap length
  // as it stands; never below what a record of the file actually holds.
  const int32_t fcs = w.fcs = WrittenTopology(s) == Topo::Ethernet ? 4 : 0;
  int32_t snapLength = s.options.sliceFrames             ? s.options.sliceLength
                       : s.counters.maxTruncatedLength > 0 ? s.counters.maxTruncatedLength
                                                  : s.counters.maxFrameLength - fcs;
  snapLength = std::max(snapLength, w.largestCaptured);
  // A pipe keeps the header as first written: it states the largest length
  // any record can hold, as later frames may be longer than the first.
  if (s.options.targetIsPipe) snapLength = kMaxCapturedLength;
  Put32(header + 16, uint32_t(std::max(snapLength, 0)), big);
  Put32(header + 20, WrittenLinkType(s), big);
  ComputeWriterTimeBase(s);
  w.clock.start(s);
  if (s.options.targetIsPipe || c.target->seek(0)) c.target->write(header, sizeof header);
}

void WritePcapFrame(Conversion& c) {
  ConversionState& s = c.state;
  PcapWriterContext& w = c.WriterContext<PcapWriterContext>();
  const bool big = w.output.bigEndian;
  // Only a whole Ethernet frame ends in its FCS; a truncated one keeps every
  // byte it holds.
  const int32_t original = std::max(0, s.frame.frameLength - w.fcs);
  const int32_t captured = std::max(0, std::min(s.frame.storedLength, original));
  w.largestCaptured = std::max(w.largestCaptured, captured);
  const UnixTime when = w.clock(WriterFrameTime(s));
  if (!TimeFitsTarget(s, when.seconds, 0, kLatestUnsigned32Seconds)) return;
  uint32_t fraction = uint32_t(when.microseconds);
  if (w.nanoseconds)
    fraction = uint32_t(FrameSubsecondNanos(s, when));
  else if (s.frame.frameNanoseconds != 0)
    ++s.counters.lost.timesRounded;  // microseconds kept, the nanoseconds below them not
  const size_t headerSize = w.output.modified ? kRecordHeaderSize + 8 : kRecordHeaderSize;
  // The record is built in the target's block when it has room.
  uint8_t local[kRecordHeaderSize + 8];
  uint8_t* const room = c.target->roomFor(headerSize + size_t(captured));
  uint8_t* const record = room ? room : local;
  Put32(record, uint32_t(when.seconds), big);
  Put32(record + 4, fraction, big);
  Put32(record + 8, uint32_t(captured), big);
  Put32(record + 12, uint32_t(original), big);
  if (w.output.modified) std::memset(record + kRecordHeaderSize, 0, 8);
  if (room) {
    CopyBytes(room + headerSize, s.frame.frameData.data(), size_t(captured));
    c.target->advance(headerSize + size_t(captured));
    return;
  }
  c.target->write(local, headerSize);
  c.target->write(s.frame.frameData.data(), size_t(captured));
}

void FinishPcap(Conversion& c, int32_t /*framesWritten*/) {
  if (c.state.counters.framesWritten - c.state.counters.nonDataFrames > 0 && !c.state.options.targetIsPipe)
    WritePcapHeader(c, 0);
}

// ---------------------------------------------------------------- registry

namespace {

std::optional<AnalyzerType> IdentifyPcap(IdentifyInput& input) {
  const std::optional<uint32_t> variant = PcapVariantFromMagic(GetLE32(input.head.data()));
  if (!variant) return std::nullopt;
  input.variant = *variant;
  const bool big = *variant & PcapVariant::BigEndian;
  if (!PcapVersionOk(input.in, big)) return Analyzer::Unknown;
  if (*variant & PcapVariant::Modified) {
    switch (ProbeModifiedRecordLayout(input.in, big)) {
      case PcapProbe::SuSE:
        input.variant = (*variant & ~PcapVariant::Modified) | kPcapVariantSuSE;
        break;
      case PcapProbe::IoError: input.openFailed = true; return Analyzer::Unknown;
      default: break;
    }
  }
  if (GetLE32(input.head.data()) != kPcapMagicStandard) return Analyzer::Tcpdump;
  switch (ProbePcapRecordLayout(input.in)) {
    case PcapProbe::Standard: return Analyzer::Tcpdump;
    case PcapProbe::Modified: input.variant |= PcapVariant::Modified; return Analyzer::Tcpdump;
    case PcapProbe::Nokia: input.variant |= PcapVariant::Nokia; return Analyzer::Tcpdump;
    case PcapProbe::IoError: input.openFailed = true; return Analyzer::Unknown;
    case PcapProbe::SuSE:  // never behind the standard magic
    case PcapProbe::Unknown: break;
  }
  return Analyzer::Unknown;
}

Topology PcapFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  if (t.s.sourceCompressed) gz = OpenGzipSource(t.fileName);
  SourceStream* in = t.s.sourceCompressed ? gz.get() : &t.in;
  const bool big = t.s.sourceVariant & PcapVariant::BigEndian;
  uint32_t linkType = 0;
  uint8_t header[kFileHeaderSize];
  if (!in || !PcapLinkType(*in, big, linkType) || !in->seek(0) ||
      !in->readExact(header, sizeof header))
    return Topo::Unknown;
  SourceInterface one;
  one.linkType = linkType;
  one.topology = PcapTopology(linkType, t.speed);
  one.snapLength = Field32(header + 16, big);
  const uint32_t magic = GetLE32(header);
  if (magic == kPcapMagicNanosecond || magic == kPcapMagicNanosecondSwapped ||
      Field32(header + 12, big) == 3)
    one.timeResolution = 9;
  t.s.sourceInterfaces = {one};
  return one.topology;
}

std::string PcapSourceName(AnalyzerType type, uint32_t variant, bool compressed) {
  std::string name = AnalyzerName(type);
  if (variant & PcapVariant::Nokia)
    name += " (Nokia modified)";
  else if (variant & PcapVariant::Modified)
    name += " (modified)";
  else if (variant & kPcapVariantSuSE)
    name += " (SuSE modified)";
  return compressed ? name + " (compressed)" : name;
}

// A libpcap source proposes its own byte order and record layout unless the
// user chose; nanoseconds asked for take the standard layout over a proposed
// modified one.
void SettlePcapOutput(ConversionState& s) {
  const PcapOutputChoice choice = s.options.formatOptions.value<PcapOutputChoice>();
  const bool pcapSource = s.sourceAnalyzer == Analyzer::Tcpdump;
  PcapOutputOptions& output = s.options.formatOptions.get<PcapOutputOptions>();
  output.bigEndian = choice.bigEndian.value_or(
      pcapSource ? (s.sourceVariant & PcapVariant::BigEndian) != 0 : choice.bigEndianDefault);
  output.modified = choice.modified.value_or(
      pcapSource ? (s.sourceVariant & PcapVariant::Modified) != 0 : choice.modifiedDefault);
  output.nanoseconds = choice.nanoseconds;
  if (choice.nanoseconds && !choice.modified) output.modified = false;
}

std::string PcapOptionsProblem(const FormatOptions& options) {
  const PcapOutputChoice* choice = options.find<PcapOutputChoice>();
  if (choice && choice->nanoseconds && choice->modified.value_or(false))
    return "Nanosecond libpcap files have the standard record layout, not the modified one.";
  return "";
}

// Tried at 70: 32-bit magic at offset 0; before the 16-bit magics, which its bytes could match.
constexpr IdentifyRule kPcapRules[] = {{"pcap", IdentifyPcap, 70}};
constexpr FriendlyName kPcapNames[] = {
    {Analyzer::Tcpdump, "pcap"}, {Analyzer::Tcpdump, "libpcap"}, {Analyzer::Tcpdump, "tcpdump"}};

}  // namespace

constexpr AnalyzerInfo kPcapAnalyzers[] = {
    {Analyzer::Tcpdump, "tcpdump/libpcap", "TD", ".dmp",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wireless | Media::LinkTypes,
     Offer::DefaultTarget},
};

extern const FormatDescriptor kPcapFormat = {
    .family = "libpcap",
    .analyzers = kPcapAnalyzers,
    .reads = MaskOf({Analyzer::Tcpdump}),
    .writes = MaskOf({Analyzer::Tcpdump}),
    .aliases = kPcapNames,
    .optionsDialog = OptionsDialog::ByteOrderAndLayout,
    .settleOptions = SettlePcapOutput,
    .optionsProblem = PcapOptionsProblem,
    .sourcePatterns = "*.dmp;*.pcap;*.cap;*.pcap.gz",
    .capabilities =
        Capability::DropsEthernetFcs | Capability::GzipSource | Capability::StreamTarget |
        Capability::UnpaddedFrames | Capability::KeepsWirelessFcs,
    .identify = kPcapRules,
    .topology = PcapFileTopology,
    .sourceName = PcapSourceName,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WritePcapHeader,
    .writeFrame = WritePcapFrame,
    .finish = FinishPcap,
    // Nanoseconds when asked for (--pcap-resolution ns); the writer counts
    // what microseconds round away.
    .limits = {.largestStored = MaxRecordBytes, .timeUnitNanoseconds = 1},
    .smallestFile = kFileHeaderSize,
};

}  // namespace morph
