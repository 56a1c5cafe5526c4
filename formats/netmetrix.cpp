// NetMetrix capture files, read only. Every value is big-endian. The file
// start points at the trace-information record (frame count, start time) and
// at the first of a row of 16-byte block descriptors; each descriptor gives
// the position of a run of frame records and the running frame count up to
// which that run serves.
#include "formats/netmetrix.h"

#include <algorithm>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr size_t kFileStartBytes = 32;
constexpr size_t kTraceInfoBytes = 144;
constexpr size_t kDescriptorBytes = 16;
constexpr uint32_t kRecordHeadBytes = 32;
constexpr uint32_t kUnknownStart = 0xFFFFFFFF;

struct NetMetrixReaderContext : FormatContext {
  uint32_t frameCount = 0;
  bool startKnown = false;
  int64_t startTime = 0;
  uint32_t servesUpTo = 0;        // running frame count of the current descriptor
  int64_t nextDescriptor = 0;     // position of the descriptor after it
  int64_t position = 0;           // of the next frame record
  int64_t bytesConsumed = 0;      // of all frame records read so far
};

bool ReadDescriptor(ConversionState& s, SourceStream& in, NetMetrixReaderContext& r,
                    int64_t at) {
  FileBlock d = ReadFileBlock(in, at, kDescriptorBytes);
  if (d.size() < kDescriptorBytes) {
    FailRead(s, AtOffset(at) + "block descriptor cut short");
    return false;
  }
  r.servesUpTo = uint32_t(d.be32(4));
  r.position = d.be32(8);
  r.nextDescriptor = at + int64_t(kDescriptorBytes);
  return true;
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  NetMetrixReaderContext& r = c.ReaderContext<NetMetrixReaderContext>();
  FileBlock start = ReadFileBlock(*c.source, 0, kFileStartBytes);
  if (start.size() < kFileStartBytes) {
    FailRead(s, "file start cut short");
    return;
  }
  const int64_t infoAt = start.be32(16);
  FileBlock info = ReadFileBlock(*c.source, infoAt, kTraceInfoBytes);
  if (info.size() < kTraceInfoBytes) {
    FailRead(s, AtOffset(infoAt) + "trace information record cut short");
    return;
  }
  r.frameCount = uint32_t(info.be32(60));
  const uint32_t startTime = uint32_t(info.be32(128));
  if (startTime != kUnknownStart && StartTraceAtHeaderTime(s, startTime)) {
    r.startKnown = true;
    r.startTime = startTime;
  }
  ReadDescriptor(s, *c.source, r, start.be32(24));
}

bool ReadRecord(Conversion& c, NetMetrixReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  if (uint32_t(s.counters.framesRead) >= r.frameCount) return false;
  if (uint32_t(s.counters.framesRead) == r.servesUpTo && !ReadDescriptor(s, in, r, r.nextDescriptor))
    return false;
  const int64_t at = r.position;
  const int64_t record = s.counters.framesRead + 1;
  FileBlock head = ReadFileBlock(in, at, kRecordHeadBytes);
  if (head.size() < kRecordHeadBytes) {
    FailRead(s, AtRecord(record, at) + "record head cut short");
    return false;
  }
  const uint32_t recordBytes = uint32_t(head.be32(16));
  const int64_t fileSize = in.size();
  if (recordBytes < kRecordHeadBytes || recordBytes - kRecordHeadBytes > uint32_t(FrameBufferBytes) ||
      (fileSize >= 0 && at + recordBytes > fileSize)) {
    FailRead(s, AtRecord(record, at) + "record length " + Grouped(recordBytes) +
                    " outside 32 to the file's end");
    return false;
  }
  // Records never share bytes: reading more than the file holds means the
  // descriptors point back at records already read.
  r.bytesConsumed += recordBytes;
  if (fileSize >= 0 && r.bytesConsumed > fileSize) {
    FailRead(s, AtRecord(record, at) + "the block descriptors point back at records already read");
    return false;
  }
  const int64_t dataBytes = recordBytes - kRecordHeadBytes;
  const int64_t frameLength = head.be32(20), captured = head.be32(24);
  const FrameRecord where{record, at, dataBytes};
  if (!RecordHolds(s, where, captured) || !ReadFrameBytes(c, where, dataBytes)) return false;
  r.position = at + recordBytes;

  const int64_t seconds = head.be32(4), micros = head.be32(8);
  if (!r.startKnown) {
    StartTraceAtUnixTime(s, seconds);
    r.startKnown = true;
    r.startTime = seconds;
  }
  s.frame.frameTime = (seconds - r.startTime) * kMicrosPerSecond + micros + s.time.headerTimeOfDay;
  s.frame.frameFlags = head.be32(0) != 0 ? Flag::CrcError : 0;
  // Stored: the captured bytes and the FCS after them, never more than on the
  // wire. An FCS the record does not hold is computed for a whole Ethernet
  // frame; any other frame keeps only the bytes its record holds.
  int64_t stored = std::min(captured + 4, frameLength);
  const bool fcsComputed = s.traceTopology == Topo::Ethernet && stored == frameLength &&
                           frameLength >= 4 && frameLength <= ClassicFrameBytes;
  if (!fcsComputed) stored = std::min(stored, dataBytes);
  s.frame.frameLength = int32_t(std::min<int64_t>(frameLength, FrameBufferBytes));
  s.frame.storedLength = int32_t(stored);
  ZeroFrameTail(s, int32_t(dataBytes), s.frame.storedLength);  // the FCS slot, until it is computed
  ClampFrameLength(s);
  if (fcsComputed) StoreEthernetFcs(s);
  return true;
}

// The frames end after the count the header states.
ReadStatus NextRecord(Conversion& c) {
  return RecordOrEnd(c.state, ReadRecord(c, c.ReaderContext<NetMetrixReaderContext>()));
}

}  // namespace

std::optional<AnalyzerType> IdentifyNetMetrix(IdentifyInput& in) {
  if (in.head.be32(0) != kNetMetrixMagic) return std::nullopt;
  return in.head.be32(4) == 4 ? Analyzer::NetMetrix : Analyzer::Unknown;
}

Topology NetMetrixTopology(TopologyInput& t) {
  FileBlock info = ReadFileBlock(t.in, t.head.be32(16), kTraceInfoBytes);
  switch (info.be32(92)) {
    case 0:
    case 44: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    default: return Topo::Unknown;
  }
}

namespace {
// Tried at 60: 32-bit magic at offset 0.
constexpr IdentifyRule kNetMetrixRules[] = {{"netmetrix", IdentifyNetMetrix, 60}};
}  // namespace

constexpr AnalyzerInfo kNetMetrixAnalyzers[] = {
    {Analyzer::NetMetrix, "NetMetrix (Agilent)", nullptr, ".trc",
     Media::Ethernet, Offer::SourceOnly},
};

extern const FormatDescriptor kNetMetrixFormat = {
    .family = "NetMetrix",
    .analyzers = kNetMetrixAnalyzers,
    .reads = MaskOf({Analyzer::NetMetrix}),
    .sourcePatterns = "*.trc",
    .identify = kNetMetrixRules,
    .topology = NetMetrixTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
};

}  // namespace morph
