// FireBerd DNA-323 reader and writer. Records carry no length on the wire
// and no status: a frame is its stored bytes, an Ethernet frame stored
// whole with its FCS.
#include "formats/fireberd_dna323.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kRecordHead = 24, kRecordTail = 4;
constexpr int64_t kTicksPerMicrosecond = 10;  // 100-ns units
constexpr int64_t kDays1601To1970 = 134774;
constexpr int64_t kSeconds1601To1970 = kDays1601To1970 * kSecondsPerDay;
// Times past 9999-12-31 are no dates of this model.
constexpr int64_t kSeconds1601To10000 = 3067671 * kSecondsPerDay;

struct Dna323ReaderContext : FormatContext {
  bool headerRead = false;
  bool dated = false;  // the first record fixed the trace date
};

struct Dna323WriterContext : FormatContext {
  bool dated = false;
  int64_t dayBase = 0;  // days from 1601-01-01 to the trace date
};

bool ReadRecord(Conversion& c, Dna323ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t at = in.position();
  const int64_t number = s.counters.framesRead + 1;
  // A last byte alone is no record.
  if (in.size() >= 0 && at + 1 >= in.size()) return false;
  uint8_t head[kRecordHead];
  const size_t got = in.read(head, sizeof head);
  if (got == 0 && !in.failed()) return false;
  if (got != sizeof head) return FailRead(s, AtRecord(number, at) + "record head cut short");
  const uint64_t ticks = GetLE64(head + 8);
  const uint32_t length = GetLE32(head + 20);
  if (length > uint32_t(ClassicFrameBytes))
    return FailRead(s, AtRecord(number, at) + "frame length " + Grouped(length) + " exceeds " +
                       Grouped(ClassicFrameBytes));
  const int64_t micros = int64_t(ticks / kTicksPerMicrosecond);
  const int64_t seconds = micros / kMicrosPerSecond;
  if (seconds >= kSeconds1601To10000)
    return FailRead(s, AtRecord(number, at) + "time lies after the year 9999");
  uint8_t tail[kRecordTail];
  if (!in.readExact(s.frame.frameData.data(), length) || !in.readExact(tail, sizeof tail))
    return FailRead(s, AtRecord(number, at) + "record cut short");
  const int64_t unixSeconds = seconds - kSeconds1601To1970;
  if (!r.dated) {
    r.dated = true;
    StartTraceAtUnixTime(s, unixSeconds);
  }
  // Counted from local midnight of the trace date, also past midnight.
  s.frame.frameTime = FrameTimeFromUnix(s, unixSeconds, micros % kMicrosPerSecond);
  s.frame.frameLength = s.frame.storedLength = int32_t(length);
  s.frame.frameFlags = 0;
  // The stored bytes stand as they are: the FCS of a whole frame is in the
  // file, and the last bytes of a frame stored cut short are frame bytes.
  return true;
}

// The header says nothing the reader needs; the file date stands until
// the first record dates the trace.
void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  uint8_t h[kDna323HeaderSize];
  if (!c.source->readExact(h, sizeof h)) {
    FailRead(s, AtOffset(0) + "the 42-byte header is cut short");
    return;
  }
  c.ReaderContext<Dna323ReaderContext>().headerRead = true;
}

ReadStatus NextRecord(Conversion& c) {
  Dna323ReaderContext& r = c.ReaderContext<Dna323ReaderContext>();
  if (!HeaderWasRead(c.state, r.headerRead)) return ReadStatus::Failed;
  return NextInTurn(c, [&] { return ReadRecord(c, r); });
}

void WriteHeader(Conversion& c, int32_t count) {
  uint8_t h[kDna323HeaderSize] = {};
  std::memcpy(h, "pktcap", 6);
  std::memcpy(h + 6, "Kahala Systems     ", 19);
  std::memcpy(h + 26, "wav3       ", 11);
  PutLE32(h + 38, uint32_t(std::max(0, count)));
  c.target->seek(0);
  c.target->write(h, sizeof h);
}

}  // namespace

std::optional<AnalyzerType> IdentifyFireBerdDna323(IdentifyInput& in) {
  if (!in.head.contains("pktcapKahala Systems     ")) return std::nullopt;
  return Analyzer::FireBerdDna323;
}

Topology FireBerdDna323Topology(TopologyInput&) { return Topo::Ethernet; }

void WriteFireBerdDna323Header(Conversion& c, int32_t frameNumber) {
  ConversionState& s = c.state;
  Dna323WriterContext& w = c.WriterContext<Dna323WriterContext>();
  if (!w.dated) {
    // Here rather than at the first frame written: a first frame that is
    // not written (802.11 non-data) must not leave the trace undated.
    w.dated = true;
    w.dayBase = DaysFrom1970(s.writerTime.traceDate) + kDays1601To1970;
  }
  WriteHeader(c, frameNumber);
}

void WriteFireBerdDna323Frame(Conversion& c) {
  ConversionState& s = c.state;
  Dna323WriterContext& w = c.WriterContext<Dna323WriterContext>();
  const int64_t ticks = (w.dayBase * kSecondsPerDay + s.writerTime.timeZoneBias) * kMicrosPerSecond *
                            kTicksPerMicrosecond +
                        WriterFrameTime(s) * kTicksPerMicrosecond;
  if (ticks < 0) {
    FailWrite(s, AtRecord(s.counters.framesWritten, c.target->position()) +
                     "frame time lies before 1601-01-01");
    return;
  }
  uint8_t head[kRecordHead] = {};
  PutLE32(head, uint32_t(s.counters.framesWritten));
  PutLE64(head + 8, uint64_t(ticks));
  PutLE32(head + 20, uint32_t(s.frame.storedLength));
  const uint8_t tail[kRecordTail] = {};
  c.target->write(head, sizeof head);
  c.target->write(s.frame.frameData.data(), size_t(s.frame.storedLength));
  c.target->write(tail, sizeof tail);
}

void FinishFireBerdDna323(Conversion& c, int32_t framesWritten) {
  if (c.state.status.headerPending) return;  // no frame reached the target
  WriteHeader(c, framesWritten);
}

namespace {
// Tried at 110: text anywhere in the first bytes.
constexpr IdentifyRule kDna323Rules[] = {{"fireberd-dna323", IdentifyFireBerdDna323, 110}};
constexpr FriendlyName kDna323Names[] = {{Analyzer::FireBerdDna323, "dna323"}};
}  // namespace

constexpr AnalyzerInfo kDna323Analyzers[] = {
    {Analyzer::FireBerdDna323, "FireBerd DNA-323 (Acterna/TTC)", nullptr, ".trc", 0,
     Offer::HiddenSwitch},
};

extern const FormatDescriptor kDna323Format = {
    .family = "FireBerd DNA-323",
    .analyzers = kDna323Analyzers,
    .reads = MaskOf({Analyzer::FireBerdDna323}),
    .writes = MaskOf({Analyzer::FireBerdDna323}),
    .aliases = kDna323Names,
    .sourcePatterns = "*.trc",
    .identify = kDna323Rules,
    .topology = FireBerdDna323Topology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteFireBerdDna323Header,
    .writeFrame = WriteFireBerdDna323Frame,
    .finish = FinishFireBerdDna323,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes, .keepsWireLength = false,
                .timeUnitNanoseconds = 100},
};

}  // namespace morph
