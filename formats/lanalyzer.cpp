// Novell LANalyzer trace files. Records are found by their type, so files
// whose structural records come in another order, or carry records we do not
// know, read as well as those in the usual order.
//
// Frame times: the 48-bit counter counts half-microseconds from the start
// time in the trace summary (LANalyzer files written by other tools state the
// first frame's second there and count from it). We write a summary start
// time of 00:00:00 and count from midnight, which reads the same whichever of
// the two meanings a reader gives the counter.
#include "formats/lanalyzer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

using namespace Lanalyzer;

constexpr int kEthernetFcs = 4;
constexpr int kMaxFrameRecord = 32800;  // body of the longest frame record we accept
constexpr uint16_t kStatusCrcError = 0x0001;
constexpr uint16_t kStatusGood = 0x0008, kStatusBad = 0x0001, kStatusFirstFrame = 0x0010;
constexpr uint64_t kCounterLimit = uint64_t(1) << 48;

struct ReaderContext : FormatContext {
  int64_t startOfDay = 0;  // microseconds: the summary's start time
  bool cyclic = false;
  uint32_t cyclicFrames = 0;  // frames the cyclic information states, 0 = not stated
  int64_t oldest = -1, continueAt = -1, wrapAt = -1;
  bool wrapped = false;
  bool noFrames = false;
  bool begun = false;  // the records are being read
  bool ended = false;  // no frame follows: none stated, or the ring read round
  int64_t at = 0;  // where the next record starts: the stream's position
};

struct WriterContext : FormatContext {
  uint16_t previousRecordLength = 0;
};

bool PlausibleDate(int year, int month, int day) {
  return year >= 1900 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// Takes the start date and time of the summary as traceDate; an impossible
// date leaves the file date.
void TakeStartTime(ConversionState& s, ReaderContext& r, const uint8_t* summary) {
  const int day = summary[0], month = summary[1], year = GetLE16(summary + 2);
  const int seconds = summary[8], minutes = summary[9], hours = summary[10];
  if (!PlausibleDate(year, month, day)) return;
  const bool timeValid = hours < 24 && minutes < 60 && seconds < 60;
  s.time.traceDate = timeValid ? EncodeDateTime(year, month, day, hours, minutes, seconds)
                          : EncodeDate(year, month, day);
  r.startOfDay = timeValid ? (int64_t(hours) * 3600 + minutes * 60 + seconds) * kMicrosPerSecond : 0;
  ComputeTimeZoneBias(s, false);
}

void ReadHeaderStep(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  LanalyzerHeader h;
  if (!ReadLanalyzerHeader(*c.source, h)) {
    FailRead(s, AtOffset(c.source->position()) + "the LANalyzer header records are cut short");
    return;
  }
  if (!h.haveSummary) {
    FailRead(s, "the file has no trace summary record before its frames");
    return;
  }
  TakeStartTime(s, r, h.summary);
  r.cyclic = h.cyclic;
  int64_t first = h.firstFrame;
  if (h.cyclic) {
    r.cyclicFrames = GetLE32(h.cyclicInfo);
    r.oldest = GetLE32(h.cyclicInfo + 4);
    r.continueAt = GetLE32(h.cyclicInfo + 12);
    r.wrapAt = GetLE32(h.cyclicInfo + 16);
    first = r.oldest;
  }
  r.noFrames = first < 0;
  if (!r.noFrames && !c.source->seek(first))
    FailRead(s, AtOffset(first) + "the first frame lies beyond the file");
}

// After a record: a cyclic trace goes on at the start of its ring once it
// reaches the wrap point, and only once.
void FollowRing(Conversion& c, ReaderContext& r) {
  if (!r.cyclic || r.at != r.wrapAt) return;
  if (r.wrapped) {
    r.ended = true;
    return;
  }
  r.wrapped = true;
  c.source->seek(r.continueAt);
  r.at = c.source->position();
}

// Fills the current frame from the next frame record; other records are
// passed over. False at the end of the frames or on a read error.
bool ReadFrameRecord(Conversion& c, ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  for (;;) {
    if (r.ended) return false;
    const int64_t at = r.at;
    // A ring read all the way round ends where it began.
    if (r.cyclic && r.wrapped && at == r.oldest) return false;
    uint8_t h[kRecordHeaderSize];
    const size_t got = in.fetch(h, sizeof h);
    if (got == 0 && !in.failed()) return false;
    if (got != sizeof h) {
      FailRead(s, AtOffset(at) + "record header cut short");
      return false;
    }
    const uint16_t type = GetLE16(h), length = GetLE16(h + 2);
    if (type != kFrame) {
      if (!in.skip(length)) {
        FailRead(s, AtOffset(at) + "record of " + Grouped(length) + " bytes runs past the file");
        return false;
      }
      r.at = at + kRecordHeaderSize + length;
      FollowRing(c, r);
      continue;
    }
    const int64_t record = s.counters.framesRead + 1;
    if (length < kFrameHeaderSize || length > kMaxFrameRecord) {
      FailRead(s, AtRecord(record, at) + "frame record of " + Grouped(length) +
                      " bytes (32 to 32,800 expected)");
      return false;
    }
    uint8_t b[kFrameHeaderSize];
    const int32_t room = length - kFrameHeaderSize;
    if (!in.readExact(b, sizeof b) || !in.readExact(s.frame.frameData.data(), size_t(room))) {
      FailRead(s, AtRecord(record, at) + "frame record cut short");
      return false;
    }
    r.at = at + kRecordHeaderSize + length;
    FollowRing(c, r);

    const bool ethernet = s.traceTopology == Topo::Ethernet;
    const uint16_t status = GetLE16(b + 2);
    const int32_t wire = GetLE16(b + 4), stored = GetLE16(b + 6);
    // Token Ring writers may count the 4 bytes of FCS they leave out.
    const int32_t fcsLeftOut = ethernet ? 0 : 4;
    if (stored > room + fcsLeftOut) {
      FailRead(s, AtRecord(record, at) + "stored length " + Grouped(stored) + " exceeds the " +
                      Grouped(room) + " bytes its record holds");
      return false;
    }
    const int32_t data = std::min(stored, room);
    const uint64_t counter = uint64_t(GetLE16(b + 8)) | uint64_t(GetLE16(b + 10)) << 16 |
                             uint64_t(GetLE16(b + 12)) << 32;
    // The one error bit the writer sets for any bad frame, on every medium.
    s.frame.frameFlags = (status & kStatusCrcError) ? Flag::Bad : 0;
    s.frame.frameTime = r.startOfDay + int64_t((counter + 1) / 2);
    // The record holds the stored bytes; an Ethernet frame stored without its
    // FCS gets it rebuilt.
    const bool rebuildFcs = ethernet && wire - data == kEthernetFcs;
    s.frame.storedLength = rebuildFcs ? data + kEthernetFcs : data;
    s.frame.frameLength = std::max(wire, s.frame.storedLength);
    ClampFrameLength(s);
    if (rebuildFcs) StoreEthernetFcs(s);
    return true;
  }
}

ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  if (!r.begun) {
    r.begun = true;
    r.ended = r.noFrames;
    r.at = c.source->position();
  } else if (r.cyclic && r.cyclicFrames > 0 && uint32_t(s.counters.framesRead) >= r.cyclicFrames) {
    return ReadStatus::End;  // a complete cyclic capture ends after the frames it states
  } else if (!r.cyclic && c.SourceAtEnd()) {
    return ReadStatus::End;
  }
  return RecordOrEnd(s, ReadFrameRecord(c, r));
}

// ---- writer ----

void PutRecord(std::vector<uint8_t>& out, uint16_t type, const std::vector<uint8_t>& body) {
  uint8_t h[kRecordHeaderSize];
  PutLE16(h, type);
  PutLE16(h + 2, uint16_t(body.size()));
  out.insert(out.end(), h, h + sizeof h);
  out.insert(out.end(), body.begin(), body.end());
}

std::vector<uint8_t> Names(const char* stem, int count, size_t nameSize, size_t total) {
  std::vector<uint8_t> body(total, 0);
  for (int i = 0; i < count; ++i) {
    const std::string name = stem + std::to_string(i + 1);
    std::memcpy(body.data() + size_t(i) * nameSize, name.data(), name.size());
  }
  return body;
}

std::vector<uint8_t> Summary(const ConversionState& s, uint32_t frames) {
  std::vector<uint8_t> b(kSummarySize, 0);
  int year, month, day;
  DecodeDate(s.writerTime.traceDate, year, month, day);
  b[0] = uint8_t(day);
  b[1] = uint8_t(month);
  PutLE16(&b[2], uint16_t(year));
  std::memcpy(&b[4], &b[0], 4);
  // Start time 00:00:00 (bytes 8..13 and their copy stay zero): the frame
  // counters count from midnight.
  for (int i = 0; i < 6; ++i) b[20 + size_t(i)] = uint8_t(i + 1);
  PutLE16(&b[26], 1);
  PutLE16(&b[30], s.traceTopology == Topo::Ethernet ? 1518 : 32768);
  PutLE32(&b[32], frames);
  PutLE32(&b[36], 0xFFFFFFFF);
  PutLE32(&b[40], 0xFFFFFFFF);
  PutLE32(&b[48], frames);
  if (s.traceTopology == Topo::Ethernet) PutLE16(&b[188], kMediaEthernet);
  if (s.traceTopology == Topo::TokenRing) PutLE16(&b[188], kMediaTokenRing);
  PutLE16(&b[190], 2);
  return b;
}

void WriteHeaderRecords(Conversion& c) {
  const ConversionState& s = c.state;
  const uint32_t frames = uint32_t(std::max(0, s.counters.framesWritten - s.counters.nonDataFrames));
  std::vector<uint8_t> out;
  std::vector<uint8_t> fileHeader(76, 0);
  PutLE16(fileHeader.data(), 0x0501);
  std::memcpy(fileHeader.data() + 2, "Trace Display Trace File", 24);
  PutRecord(out, kFileHeader, fileHeader);
  PutRecord(out, kReceiveNames, Names("Channel", 8, 9, 128));
  PutRecord(out, kTransmitNames, Names("Trans", 6, 9, 54));
  PutRecord(out, kStructure1035, std::vector<uint8_t>(144, 0));
  PutRecord(out, kStructure1036, std::vector<uint8_t>(54, 0));
  PutRecord(out, kStructure100A, std::vector<uint8_t>(266, 0));
  PutRecord(out, kSummary, Summary(s, frames));
  std::vector<uint8_t> subFile(6, 0);
  PutLE16(subFile.data(), 1);
  PutLE32(subFile.data() + 2, frames);
  PutRecord(out, kSubFileSummary, subFile);
  PutRecord(out, kCyclicInfo, std::vector<uint8_t>(kCyclicInfoSize, 0));
  std::vector<uint8_t> index(2014, 0);
  PutLE16(index.data(), 500);
  PutRecord(out, kIndex, index);
  c.target->seek(0);
  c.target->write(out.data(), out.size());
}

}  // namespace

bool ReadLanalyzerHeader(SourceStream& in, LanalyzerHeader& header) {
  header = LanalyzerHeader{};
  uint8_t h[kRecordHeaderSize];
  if (!in.seek(0) || !in.readExact(h, sizeof h)) return false;
  const uint16_t first = GetLE16(h);
  if (first != kFileHeader && first != kCyclicFileHeader) return false;
  header.cyclic = first == kCyclicFileHeader;
  if (!in.skip(GetLE16(h + 2))) return false;
  for (;;) {
    const int64_t at = in.position();
    const size_t got = in.read(h, sizeof h);
    if (got == 0 && !in.failed()) return true;  // no frames at all
    if (got != sizeof h) return false;
    const uint16_t type = GetLE16(h), length = GetLE16(h + 2);
    if (type == kFrame) {
      header.firstFrame = at;
      return in.seek(at);
    }
    uint8_t* keep = nullptr;
    size_t room = 0;
    if (type == kSummary) {
      keep = header.summary, room = sizeof header.summary, header.haveSummary = true;
    } else if (type == kCyclicInfo) {
      keep = header.cyclicInfo, room = sizeof header.cyclicInfo;
    }
    const size_t taken = std::min<size_t>(length, room);
    if (keep && !in.readExact(keep, taken)) return false;
    if (!in.skip(int64_t(length - taken))) return false;
  }
}

std::optional<AnalyzerType> IdentifyLanalyzer(IdentifyInput& in) {
  const int64_t type = in.head.le16(0);
  if (type == kFileHeader || type == kCyclicFileHeader) return Analyzer::LanAlyzer;
  return std::nullopt;
}

Topology LanalyzerTopology(TopologyInput& t) {
  LanalyzerHeader h;
  if (!ReadLanalyzerHeader(t.in, h) || !h.haveSummary) return Topo::Unknown;
  switch (GetLE16(h.summary + 188)) {
    case kMediaEthernet: return Topo::Ethernet;
    case kMediaTokenRing:
    case kMediaTokenRing2: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

void WriteLanalyzerHeader(Conversion& c, int32_t /*frameNumber*/) { WriteHeaderRecords(c); }

void WriteLanalyzerFrame(Conversion& c) {
  ConversionState& s = c.state;
  WriterContext& w = c.WriterContext<WriterContext>();
  const int32_t number = s.counters.framesWritten - s.counters.nonDataFrames;
  // A whole Ethernet frame leaves its FCS out; a cut one keeps every byte.
  const int32_t n = s.traceTopology == Topo::Ethernet
                        ? std::max(0, std::min(s.frame.storedLength, s.frame.frameLength - kEthernetFcs))
                        : std::max(0, s.frame.storedLength);
  const int64_t frameTime = WriterFrameTime(s);
  if (frameTime < 0 || uint64_t(frameTime) * 2 >= kCounterLimit) {
    FailWrite(s, "frame " + Grouped(number) + ": time " + Grouped(frameTime) +
                     " microseconds cannot be stored in a LANalyzer counter");
    return;
  }
  const uint64_t counter = uint64_t(frameTime) * 2;
  uint8_t r[kRecordHeaderSize + kFrameHeaderSize] = {};
  PutLE16(r, kFrame);
  PutLE16(r + 2, uint16_t(n + kFrameHeaderSize));
  uint8_t* b = r + kRecordHeaderSize;
  PutLE16(b, 1);
  uint16_t status = (s.frame.frameFlags & Flag::Bad) ? kStatusBad : kStatusGood;
  if (number == 1) status |= kStatusFirstFrame;
  PutLE16(b + 2, status);
  PutLE16(b + 4, uint16_t(s.frame.frameLength));
  PutLE16(b + 6, uint16_t(n));
  PutLE16(b + 8, uint16_t(counter));
  PutLE16(b + 10, uint16_t(counter >> 16));
  PutLE16(b + 12, uint16_t(counter >> 32));
  PutLE32(b + 14, uint32_t(number));
  PutLE16(b + 18, w.previousRecordLength);
  c.target->writeHeadAndBody(r, sizeof r, s.frame.frameData.data(), size_t(n));
  w.previousRecordLength = uint16_t(n + kFrameHeaderSize);
}

void FinishLanalyzer(Conversion& c, int32_t /*framesWritten*/) {
  if (!c.state.status.headerPending) WriteHeaderRecords(c);
}

namespace {
constexpr FriendlyName kLanAlyzerNames[] = {{Analyzer::LanAlyzer, "lanalyzer"}};
// Tried at 80: 16-bit record type at offset 0: weaker than the 32-bit magics before it.
constexpr IdentifyRule kLanalyzerRules[] = {{"lanalyzer", IdentifyLanalyzer, 80}};
}  // namespace

constexpr AnalyzerInfo kLanAlyzerAnalyzers[] = {
    {Analyzer::LanAlyzer, "LANalyzer (Novell)", "LZ", ".tr1", Media::Ethernet | Media::TokenRing},
};

const FormatDescriptor kLanAlyzerFormat = {
    .family = "LANalyzer",
    .analyzers = kLanAlyzerAnalyzers,
    .reads = MaskOf({Analyzer::LanAlyzer}),
    .writes = MaskOf({Analyzer::LanAlyzer}),
    .aliases = kLanAlyzerNames,
    .sourcePatterns = "*.tr1",
    .capabilities = Capability::DropsEthernetFcs,
    .identify = kLanalyzerRules,
    .topology = LanalyzerTopology,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
    .writeHeader = WriteLanalyzerHeader,
    .writeFrame = WriteLanalyzerFrame,
    .finish = FinishLanalyzer,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535, .timeUnitNanoseconds = 500,
                .keptFlags = Flag::Bad},
};

}  // namespace morph
