// Internet Advisor (pre-Win95) capture files. After the 128-byte header come
// blocks of exactly 32,768 bytes; each is a sequence of tagged records (an
// 8-byte head with the size in 32-bit words and a tag, the content, a 4-byte
// tail repeating the size): "GRP0" with the block's frame numbers, one
// "FR30" (Ethernet) or "FR50" (Token Ring) per frame, and "PAD0" to the end.
#include "formats/internet_advisor.h"

#include <algorithm>
#include <cstring>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int64_t kBlockBytes = kInternetAdvisorBlockBytes;
constexpr int64_t kHeadBytes = 8, kTailBytes = 4;
constexpr int64_t kGroupRecordBytes = 28;
constexpr int64_t kFrameContentBytes = 24;
constexpr int64_t kFrameOverhead = kHeadBytes + kFrameContentBytes + kTailBytes;  // 36
// A block takes frames while its fill stays below this, leaving room for the
// smallest padding record.
constexpr int64_t kBlockFillLimit = 32756;
// The largest stored length that fits a block beside its group record.
constexpr int32_t kMaxStoredBytes = int32_t(kBlockFillLimit - kGroupRecordBytes - kFrameOverhead);
constexpr uint32_t kStoredLengthLimit = 32765;  // a stored length from this up is damage
constexpr uint32_t kMediaEthernet = 1, kMediaTokenRing = 3;
constexpr uint8_t kStatusCrcError = 0x10;

int64_t Padded(int64_t n) { return (n + 3) & ~int64_t(3); }

// ---------------------------------------------------------------- writer

struct InternetAdvisorWriterContext : FormatContext {
  int64_t fill = 0;         // bytes of the current block so far; 0 = no block yet
  int64_t groupContent = 0;  // file position of the open group's content; 0 = none
  SteppedUnixClock clock;    // frame times in UTC, from the header step on
  // A frame record laid out aside when the target's block has no room for it.
  uint8_t aside[kBlockBytes] = {};
};

void WriteRecordHead(uint8_t* p, int64_t bytes, const char* tag) {
  PutLE16(p, 0);
  PutLE16(p + 2, uint16_t(bytes / 4));
  std::memcpy(p + 4, tag, 4);
}

void WriteRecordTail(uint8_t* p, int64_t bytes) {
  PutLE16(p, 0);
  PutLE16(p + 2, uint16_t(bytes / 4));
}

// Sets the open group's last frame number.
void CloseGroup(Conversion& c, InternetAdvisorWriterContext& w, int32_t lastFrame) {
  if (!w.groupContent) return;
  uint8_t number[4];
  PutLE32(number, uint32_t(lastFrame));
  c.target->patch(w.groupContent + 8, number, sizeof number);
}

// Fills the block to its end.
void WritePadding(Conversion& c, InternetAdvisorWriterContext& w) {
  const int64_t bytes = kBlockBytes - w.fill;
  if (bytes < kHeadBytes + kTailBytes) return;
  uint8_t head[kHeadBytes], tail[kTailBytes];
  WriteRecordHead(head, bytes, "PAD0");
  WriteRecordTail(tail, bytes);
  c.target->write(head, sizeof head);
  c.target->writeZeros(size_t(bytes - kHeadBytes - kTailBytes));
  c.target->write(tail, sizeof tail);
}

void OpenBlock(Conversion& c, InternetAdvisorWriterContext& w, int32_t firstFrame) {
  uint8_t group[kGroupRecordBytes] = {};
  WriteRecordHead(group, kGroupRecordBytes, "GRP0");
  PutLE32(group + 8, 1);
  PutLE32(group + 12, uint32_t(firstFrame));
  WriteRecordTail(group + kGroupRecordBytes - kTailBytes, kGroupRecordBytes);
  w.groupContent = c.target->position() + kHeadBytes;
  c.target->write(group, sizeof group);
  w.fill = kGroupRecordBytes;
}

// ---------------------------------------------------------------- reader

struct InternetAdvisorReaderContext : FormatContext {
  bool dated = false;  // traceDate is fixed (by the header or the first frame)
  int64_t fileSize = -1;  // of the source, -1 when not known
  // Where the next record starts: every record read takes exactly its size
  // (checked), so the stream need not be asked for its position.
  int64_t next = 0;
  UnixFrameClock clock;
};

// The next n bytes, looked at where they lie when the block in hand holds
// them, else copied into `spare`; `got` tells how many could be had.
const uint8_t* Take(SourceStream& in, uint8_t* spare, size_t n, size_t& got) {
  if (in.inHandSize() >= n) {
    const uint8_t* at = in.inHand();
    in.consume(n);
    got = n;
    return at;
  }
  got = in.fetch(spare, n);
  return spare;
}

bool ReadFrameRecord(Conversion& c, InternetAdvisorReaderContext& r, int64_t at,
                     int64_t recordBytes) {
  ConversionState& s = c.state;
  uint8_t spare[kFrameContentBytes];
  size_t got = 0;
  const uint8_t* content = Take(*c.source, spare, sizeof spare, got);
  if (got != sizeof spare) {
    FailRead(s, AtOffset(at) + "frame record cut short");
    return false;
  }
  const uint32_t stored = GetLE16(content + 12);
  if (stored >= kStoredLengthLimit) {
    FailRead(s, AtOffset(at) + "stored length " + Grouped(stored) + " exceeds 32,764");
    return false;
  }
  if (recordBytes != kFrameOverhead + Padded(stored)) {
    FailRead(s, AtOffset(at) + "record of " + Grouped(recordBytes) + " bytes for " +
                    Grouped(stored) + " stored bytes");
    return false;
  }
  // Taken before the frame bytes: reading those may move the block in hand.
  const uint32_t seconds = GetLE32(content + 16), nanoseconds = GetLE32(content + 20);
  s.frame.frameFlags = s.traceTopology == Topo::Ethernet && content[11] >= 8 ? Flag::CrcError : 0;
  s.frame.frameLength = GetLE16(content + 8);
  // The stored bytes, then their padding and the tail.
  const FrameRecord where{s.counters.framesRead + 1, at, recordBytes - kFrameOverhead};
  if (!ReadFrameBytes(c, where, stored)) return false;
  uint8_t rest[3 + kTailBytes];
  const size_t restBytes = size_t(recordBytes - kFrameOverhead - stored + kTailBytes);
  Take(*c.source, rest, restBytes, got);
  if (got != restBytes) {
    FailRead(s, c.source->failed() ? c.source->errorText()
                                   : AtFrame(where.frame, at) + "record tail cut short");
    return false;
  }
  if (!r.dated) {
    StartTraceAtUnixTime(s, seconds);
    r.dated = true;
  }
  s.frame.frameTime = r.clock(s, seconds, nanoseconds / 1000);
  s.frame.storedLength = std::min(int32_t(stored), s.frame.frameLength);
  ClampFrameLength(s);
  return true;
}

// The file ends at `at`: cleanly only where a block ends, for the header
// states that every block has its 32,768 bytes.
bool EndOfBlocks(ConversionState& s, int64_t at) {
  const int64_t into = (at - kInternetAdvisorHeaderBytes) % kBlockBytes;
  if (into == 0) return false;
  return FailRead(s, AtFrame(s.counters.framesRead + 1, at) + "the file ends " + Grouped(into) +
                         " bytes into a block of " + Grouped(kBlockBytes));
}

// Reads records up to the next frame; false at the end or on damage.
bool ReadToFrame(Conversion& c, InternetAdvisorReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t fileSize = r.fileSize;
  for (;;) {
    const int64_t at = r.next;
    uint8_t spare[kHeadBytes];
    size_t got = 0;
    const uint8_t* head = Take(in, spare, sizeof spare, got);
    if (got == 0 && !in.failed()) return EndOfBlocks(s, at);
    if (got != sizeof spare) {
      FailRead(s, AtOffset(at) + "record head cut short");
      return false;
    }
    const int64_t recordBytes = int64_t(GetLE16(head + 2)) * 4;
    if (recordBytes < kHeadBytes + kTailBytes) {
      FailRead(s, AtOffset(at) + "record size " + Grouped(recordBytes / 4) +
                      " words is below its head and tail");
      return false;
    }
    const int64_t end = at + recordBytes;
    r.next = end;
    if (std::memcmp(head + 4, "FR30", 4) == 0 || std::memcmp(head + 4, "FR50", 4) == 0)
      return ReadFrameRecord(c, r, at, recordBytes);
    if ((fileSize >= 0 && end > fileSize) || !in.seek(end)) {
      FailRead(s, AtOffset(at) + "record of " + Grouped(recordBytes) + " bytes runs past the end");
      return false;
    }
  }
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  uint8_t h[kInternetAdvisorHeaderBytes];
  if (!c.source->readExact(h, sizeof h) || std::memcmp(h, "HPDATA0", 7) != 0) {
    FailRead(s, "no Internet Advisor header");
    return;
  }
  InternetAdvisorReaderContext& r = c.ReaderContext<InternetAdvisorReaderContext>();
  r.dated = StartTraceAtHeaderTime(s, GetLE32(h + 12));
  r.fileSize = c.source->size();
  r.next = c.source->position();
}

// The end is found by reading on to it: only the end of a block is one.
ReadStatus NextRecord(Conversion& c) {
  InternetAdvisorReaderContext& r = c.ReaderContext<InternetAdvisorReaderContext>();
  return RecordOrEnd(c.state, ReadToFrame(c, r));
}

}  // namespace

std::optional<AnalyzerType> IdentifyInternetAdvisor(IdentifyInput& in) {
  if (in.head.contains("HPDATA0")) return Analyzer::InternetAdvisor;
  return std::nullopt;
}

Topology InternetAdvisorTopology(TopologyInput& t) {
  switch (t.head.le32(24)) {
    case 1:
    case 2:
    case 5:
    case 8: t.speed = 10000000; return Topo::Ethernet;
    case 7: t.speed = 100000000; return Topo::Ethernet;
    case 3: t.speed = 4000000; return Topo::TokenRing;
    case 4: t.speed = 16000000; return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

void WriteInternetAdvisorHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  uint8_t h[kInternetAdvisorHeaderBytes] = {};
  std::memcpy(h, "HPDATA0\x1A", 8);
  PutLE32(h + 8, 1);
  PutLE32(h + 12, StartTimeField32(s));
  PutLE32(h + 20, uint32_t(kBlockBytes));
  PutLE32(h + 24, s.traceTopology == Topo::TokenRing ? kMediaTokenRing : kMediaEthernet);
  PutLE32(h + 32, 0x600000);
  c.target->seek(0);
  c.target->write(h, sizeof h);
  c.WriterContext<InternetAdvisorWriterContext>().clock.start(s);
}

void WriteInternetAdvisorFrame(Conversion& c) {
  ConversionState& s = c.state;
  InternetAdvisorWriterContext& w = c.WriterContext<InternetAdvisorWriterContext>();
  const int32_t frame = s.counters.framesWritten - s.counters.nonDataFrames;
  const bool ethernet = s.traceTopology == Topo::Ethernet;
  if (!ethernet && s.traceTopology != Topo::TokenRing) {
    FailWrite(s, "Internet Advisor files hold Ethernet and Token Ring frames only");
    return;
  }
  const UnixTime when = w.clock(WriterFrameTime(s));
  if (!TimeFitsTarget(s, when.seconds, 0, kLatestUnsigned32Seconds)) return;
  // Every stored byte is kept; only a frame too large for a block is cut.
  const int32_t stored = std::clamp(s.frame.storedLength, 0, kMaxStoredBytes);
  const int64_t padded = Padded(stored);
  if (w.fill == 0 || w.fill + padded + kFrameOverhead >= kBlockFillLimit) {
    if (w.groupContent) {
      CloseGroup(c, w, frame - 1);
      WritePadding(c, w);
    }
    OpenBlock(c, w, frame);
  }
  const int64_t recordBytes = kFrameOverhead + padded;
  WriteRecord(*c.target, size_t(recordBytes), w.aside, [&](uint8_t* p) {
    WriteRecordHead(p, recordBytes, ethernet ? "FR30" : "FR50");
    uint8_t* content = p + kHeadBytes;
    PutLE32(content, uint32_t(frame));
    PutLE32(content + 4, 0);
    PutLE16(content + 8, uint16_t(s.frame.frameLength));
    content[10] = 0;
    content[11] = (s.frame.frameFlags & Flag::CrcError) ? kStatusCrcError : 0;
    PutLE16(content + 12, uint16_t(stored));
    PutLE16(content + 14, ethernet ? 64 : 0);
    PutLE32(content + 16, uint32_t(when.seconds));
    PutLE32(content + 20, uint32_t(when.microseconds * 1000));
    // The stored bytes, zero padding up to a whole word, then the tail.
    uint8_t* frameBytes = content + kFrameContentBytes;
    if (padded > stored) PutLE32(frameBytes + padded - 4, 0);
    std::memcpy(frameBytes, s.frame.frameData.data(), size_t(stored));
    WriteRecordTail(frameBytes + padded, recordBytes);
  });
  w.fill += recordBytes;
}

void FinishInternetAdvisor(Conversion& c, int32_t framesWritten) {
  InternetAdvisorWriterContext& w = c.WriterContext<InternetAdvisorWriterContext>();
  if (!w.groupContent) return;  // no frame written: the file stays empty
  CloseGroup(c, w, framesWritten - c.state.counters.nonDataFrames);
  WritePadding(c, w);
}

namespace {
const char* InternetAdvisorSuffix(AnalyzerType, Topology topology) {
  if (topology == Topo::Ethernet) return ".eth";
  if (topology == Topo::TokenRing) return ".trn";
  return "";
}
// Tried at 120: text anywhere in the first bytes.
constexpr IdentifyRule kInternetAdvisorRules[] = {
    {"internet-advisor", IdentifyInternetAdvisor, 120}};
constexpr FriendlyName kInternetAdvisorNames[] = {{Analyzer::InternetAdvisor, "internet-advisor"}};
}  // namespace

constexpr AnalyzerInfo kInternetAdvisorAnalyzers[] = {
    {Analyzer::InternetAdvisor, "Internet Advisor (Agilent, pre-Win95)", "HP", "",
     Media::Ethernet | Media::TokenRing},
};

extern const FormatDescriptor kInternetAdvisorFormat = {
    .family = "Internet Advisor",
    .analyzers = kInternetAdvisorAnalyzers,
    .reads = MaskOf({Analyzer::InternetAdvisor}),
    .writes = MaskOf({Analyzer::InternetAdvisor}),
    .aliases = kInternetAdvisorNames,
    .sourcePatterns = "*.eth;*.trn",
    .suffix = InternetAdvisorSuffix,
    .identify = kInternetAdvisorRules,
    .topology = InternetAdvisorTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteInternetAdvisorHeader,
    .writeFrame = WriteInternetAdvisorFrame,
    .finish = FinishInternetAdvisor,
    .limits = {.largestStored = kMaxStoredBytes, .largestWire = 65535, .keptFlags = Flag::CrcError},
};

}  // namespace morph
