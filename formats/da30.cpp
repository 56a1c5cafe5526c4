// DA-30 reader and writer. The header and statistics are written at the
// first frame and rewritten in place at the end with the final counts.
#include "formats/da30.h"

#include <algorithm>
#include <cstring>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kStatsHeadSize = 16;
constexpr int kEthernetStatsBody = 152, kTokenRingStatsBody = 112;
constexpr int kTerminatorSize = 2;
constexpr int kSizeWords = 8;      // previous size, this size
constexpr int kRecordHead = 28;    // after the size words, before the frame bytes
constexpr int kTrailer = 8;
constexpr int kRecordOverhead = kSizeWords + kRecordHead + kTrailer;  // 44 = 11 words
// The largest record after its size words: the largest frame, padded.
constexpr int kLargestRest = kRecordHead + ClassicFrameBytes + kTrailer;
constexpr int64_t kTimeUnit = 32;  // microseconds
// The latest time after its midnight a record's 32-bit count of units holds,
// rounded to the nearest unit: about 38.2 hours.
constexpr int64_t kLargestSpan = (int64_t(UINT32_MAX) + 1) * kTimeUnit - kTimeUnit / 2 - 1;

constexpr uint32_t kStatusEthernetGood = 0x2000218, kStatusEthernetBad = 0x2000208,
                   kStatusTokenRing = 0x219;
constexpr uint32_t kStatusFcsChecked = 0x08, kStatusFcsGood = 0x10;

int32_t Padded(int32_t n) { return (n + 3) & ~3; }

int StatsBody(bool tokenRing) { return tokenRing ? kTokenRingStatsBody : kEthernetStatsBody; }

struct Da30ReaderContext : FormatContext {
  bool headerRead = false;
  std::vector<uint8_t> record;
};

struct Da30WriterContext : FormatContext {
  bool fixed = false;
  bool tokenRing = false;  // layout chosen at the first frame
  // Fields that follow from the layout, fixed with it.
  uint32_t goodStatus = 0, badStatus = 0;
  uint16_t trailerMark = 0;
  uint32_t previousWords = 0;
  uint32_t firstRecordAt = 0;  // where the records start: after the header and statistics
  uint32_t recordBytes = 0;  // running total of frame-record bytes
  // The midnight before the file's first frame, which its times count from:
  // the file is dated by it (through its modification time).
  int64_t midnight = 0;
  // A record laid out aside when the target's block has no room for it: sized
  // by the frame buffer, as the pipeline never hands on more than it holds.
  std::vector<uint8_t> aside = std::vector<uint8_t>(kRecordOverhead + FrameBufferBytes + 3);
};

bool ReadHeader(Conversion& c, Da30ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  uint8_t h[kDa30HeaderSize];
  if (!in.readExact(h, sizeof h)) return FailRead(s, AtOffset(0) + "the 78-byte header is cut short");
  if (std::memcmp(h, "EXRS", 4) != 0) return FailRead(s, AtOffset(0) + "no \"EXRS\" signature");
  const uint32_t statsAt = GetLE32(h + 22), firstRecordAt = GetLE32(h + 30);
  uint8_t stats[kStatsHeadSize + kEthernetStatsBody];
  const size_t statsSize = size_t(kStatsHeadSize + StatsBody(s.traceTopology == Topo::TokenRing));
  if (!in.seek(statsAt) || !in.readExact(stats, statsSize))
    return FailRead(s, AtOffset(statsAt) + "the statistics area runs past the end of the file");
  if (in.size() >= 0 && int64_t(firstRecordAt) > in.size())
    return FailRead(s, AtOffset(30) + "the first frame record at offset " + Grouped(firstRecordAt) +
                       " lies beyond the end of the file");
  if (!in.seek(firstRecordAt)) return FailRead(s, AtOffset(firstRecordAt) + "cannot be reached");
  r.record.resize(kLargestRest);
  r.headerRead = true;
  return true;
}

// Reads one record into the current frame. False at the end marker or the
// end of the file, or on a damaged record (readError).
bool ReadRecord(Conversion& c, Da30ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t at = in.position();
  const int64_t number = s.counters.framesRead + 1;
  uint8_t sizes[kSizeWords];
  const size_t got = in.fetch(sizes, sizeof sizes);
  if (got == 0 && !in.failed()) return false;
  if (got != sizeof sizes) return FailRead(s, AtRecord(number, at) + "record cut short");
  const uint32_t words = GetLE32(sizes + 4);
  if (words == 0) return false;
  if (words < kRecordOverhead / 4 || words > uint32_t(kSizeWords + kLargestRest) / 4)
    return FailRead(s, AtRecord(number, at) + "record size of " + Grouped(words) +
                       " words lies outside 11 to " + Grouped((kSizeWords + kLargestRest) / 4));
  const int32_t rest = int32_t(words) * 4 - kSizeWords;
  // The record is decoded where it lies when the block in hand holds it.
  const uint8_t* p = in.inHand();
  if (in.inHandSize() >= size_t(rest))
    in.consume(size_t(rest));
  else if (in.readExact(r.record.data(), size_t(rest)))
    p = r.record.data();
  else
    return FailRead(s, AtRecord(number, at) + "record cut short");
  const uint32_t status = GetLE32(p + 8);
  const uint32_t time = GetLE32(p + 16);
  const uint32_t stored = GetLE32(p + 24);
  if (stored > uint32_t(rest - kRecordHead - kTrailer))
    return FailRead(s, AtRecord(number, at) + "stored length " + Grouped(stored) +
                       " exceeds the record's room of " + Grouped(rest - kRecordHead - kTrailer));
  const int32_t storedLength = int32_t(stored);
  const int32_t wire = GetLE16(p + kRecordHead + Padded(storedLength));
  s.frame.frameFlags = 0;
  if (s.traceTopology == Topo::Ethernet && (status & kStatusFcsChecked) &&
      !(status & kStatusFcsGood))
    s.frame.frameFlags = Flag::CrcError;
  s.frame.frameTime = int64_t(time) * kTimeUnit;
  s.frame.storedLength = storedLength;
  // The trailer keeps the length on the wire of a frame stored cut short.
  s.frame.frameLength = std::max(wire, storedLength);
  std::memcpy(s.frame.frameData.data(), p + kRecordHead, size_t(storedLength));
  ClampFrameLength(s);
  return true;
}

void ReadHeaderStep(Conversion& c) { ReadHeader(c, c.ReaderContext<Da30ReaderContext>()); }

ReadStatus NextRecord(Conversion& c) {
  Da30ReaderContext& r = c.ReaderContext<Da30ReaderContext>();
  if (!HeaderWasRead(c.state, r.headerRead)) return ReadStatus::Failed;
  return NextInTurn(c, [&] { return ReadRecord(c, r); });
}

void PutStatistics(uint8_t* stats, const ConversionState& s, bool tokenRing, uint32_t frames) {
  PutLE32(stats + 4, tokenRing ? 30 : 40);
  PutLE32(stats + 8, 27);
  PutLE32(stats + 12, tokenRing ? 6 : 4);
  uint8_t* body = stats + kStatsHeadSize;
  if (tokenRing) {
    PutLE32(body + 0, 32);
    PutLE32(body + 4, frames);
    PutLE32(body + 16, frames);
    PutLE32(body + 104, 30);
    return;
  }
  PutLE32(body + 0, 35);
  PutLE32(body + 4, frames);
  PutLE32(body + 36, frames);
  PutLE64(body + 44, frames);
  PutLE32(body + 60, uint32_t(s.counters.runtFrames));
  PutLE32(body + 68, uint32_t(s.counters.crcErrorFrames));
  PutLE32(body + 72, uint32_t(s.counters.alignmentErrorFrames));
  PutLE32(body + 124, frames);
  PutLE32(body + 132, frames);
  PutLE32(body + 136, frames);
  PutLE32(body + 144, 40);
}

void WriteHeader(Conversion& c, int32_t count) {
  ConversionState& s = c.state;
  Da30WriterContext& w = c.WriterContext<Da30WriterContext>();
  const uint32_t statsSize = uint32_t(kStatsHeadSize + StatsBody(w.tokenRing));
  uint8_t h[kDa30HeaderSize + kStatsHeadSize + kEthernetStatsBody + kTerminatorSize] = {};
  std::memcpy(h, "EXRS", 4);
  std::memcpy(h + 6, "UNKNOWN?", 8);
  h[14] = 0x41;
  PutLE32(h + 22, kDa30HeaderSize);
  PutLE32(h + 26, statsSize);
  PutLE32(h + 30, kDa30HeaderSize + statsSize + kTerminatorSize);
  PutLE32(h + 34, w.recordBytes);
  PutLE32(h + 46, kDa30HeaderSize + statsSize);
  PutLE32(h + 50, 2);
  PutStatistics(h + kDa30HeaderSize, s, w.tokenRing, uint32_t(std::max(0, count - s.counters.nonDataFrames)));
  c.target->seek(0);
  c.target->write(h, kDa30HeaderSize + statsSize + kTerminatorSize);
  w.firstRecordAt = kDa30HeaderSize + statsSize + kTerminatorSize;
}

}  // namespace

std::optional<AnalyzerType> IdentifyDa30(IdentifyInput& in) {
  if (!in.head.startsWith("EXRS")) return std::nullopt;
  return Analyzer::Da30;
}

Topology Da30Topology(TopologyInput& t) {
  FileBlock stats = ReadFileBlock(t.in, t.head.le32(22), 16);
  switch (stats.le32(4)) {
    case 30: return Topo::TokenRing;
    case 40: return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

void WriteDa30Header(Conversion& c, int32_t frameNumber) {
  Da30WriterContext& w = c.WriterContext<Da30WriterContext>();
  if (!w.fixed) {
    w.fixed = true;
    w.tokenRing = c.state.traceTopology == Topo::TokenRing;
    w.goodStatus = w.tokenRing ? kStatusTokenRing : kStatusEthernetGood;
    w.badStatus = w.tokenRing ? kStatusTokenRing : kStatusEthernetBad;
    w.trailerMark = w.tokenRing ? 6 : 4;
  }
  w.midnight = FloorDiv(c.state.writerTime.firstFrameTime, kMicrosPerDay) * kMicrosPerDay;
  WriteHeader(c, frameNumber);
}

void WriteDa30Frame(Conversion& c) {
  ConversionState& s = c.state;
  Da30WriterContext& w = c.WriterContext<Da30WriterContext>();
  const int32_t frameNumber = s.counters.framesWritten - 1 - s.counters.nonDataFrames;
  const int64_t units = FloorDiv(WriterFrameTime(s) - w.midnight + kTimeUnit / 2, kTimeUnit);
  if (units < 0 || units > int64_t(UINT32_MAX)) {
    FailWrite(s, AtRecord(frameNumber + 1, c.target->position()) +
                     "frame time lies outside the 38 hours after midnight that a DA-30 record "
                     "holds");
    return;
  }
  // Every stored byte is kept; the trailer keeps the length on the wire.
  const uint32_t stored = uint32_t(s.frame.storedLength);
  const uint32_t padded = (stored + 3) & ~3u;
  const uint32_t words = padded / 4 + kRecordOverhead / 4;
  // The header states the bytes of all records in 32 bits; the file stays
  // within that reach as well. The records follow one another from the
  // header's end, so where this one would end is known without asking the
  // target.
  const uint64_t end = uint64_t(w.firstRecordAt) + w.recordBytes + uint64_t(words) * 4;
  if (!c.RoomForFrame(end)) return;
  const uint32_t status = (s.frame.frameFlags & Flag::Bad) ? w.badStatus : w.goodStatus;
  WriteRecord(*c.target, words * 4, w.aside.data(), [&](uint8_t* p) {
    PutLE32(p, w.previousWords);
    PutLE32(p + 4, words);
    PutLE32(p + 8, 8);
    PutLE32(p + 12, 0);
    PutLE32(p + 16, status);
    PutLE32(p + 20, uint32_t(frameNumber));
    PutLE32(p + 24, uint32_t(units));
    PutLE32(p + 28, (stored + kRecordHead + 3) / 4);
    PutLE32(p + 32, stored);
    // The padding is zero (cleared with the word it ends, before the frame
    // bytes fill the rest of that word), then the trailer.
    uint8_t* frame = p + kSizeWords + kRecordHead;
    if (padded > stored) PutLE32(frame + padded - 4, 0);
    std::memcpy(frame, s.frame.frameData.data(), stored);
    uint8_t* trailer = frame + padded;
    PutLE16(trailer, uint16_t(s.frame.frameLength));
    PutLE16(trailer + 2, w.trailerMark);
    PutLE32(trailer + 4, 0);
  });
  w.previousWords = words;
  w.recordBytes += words * 4;
}

void FinishDa30(Conversion& c, int32_t framesWritten) {
  if (c.state.status.headerPending) return;  // no frame reached the target
  WriteHeader(c, framesWritten);
}

namespace {
// Tried at 100: text magic at offset 0.
constexpr IdentifyRule kDa30Rules[] = {{"da30", IdentifyDa30, 100}};
constexpr FriendlyName kDa30Names[] = {{Analyzer::Da30, "da30"}};
}  // namespace

constexpr AnalyzerInfo kDa30Analyzers[] = {
    {Analyzer::Da30, "DA-30 (Acterna/WWG)", "DA", ".an1", Media::Ethernet | Media::TokenRing},
};

extern const FormatDescriptor kDa30Format = {
    .family = "DA-30",
    .analyzers = kDa30Analyzers,
    .reads = MaskOf({Analyzer::Da30}),
    .writes = MaskOf({Analyzer::Da30}),
    .aliases = kDa30Names,
    .sourcePatterns = "*.an1",
    .capabilities = Capability::DatedByFileTime,
    .identify = kDa30Rules,
    .topology = Da30Topology,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
    .writeHeader = WriteDa30Header,
    .writeFrame = WriteDa30Frame,
    .finish = FinishDa30,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535, .timeUnitNanoseconds = kTimeUnit * 1000,
                .keptFlags = Flag::Bad,
                .largestSpanMicroseconds = kLargestSpan, .spanCountedFromMicroseconds = kMicrosPerDay},
};

}  // namespace morph
