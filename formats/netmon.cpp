// NetMon capture files, versions 1.1 ("RTSS") and 2.0 ("GMBU"): a 128-byte
// header, the frame records, a table of 32-bit record offsets and a comment.
// Frames are reached only through the table.
#include "formats/netmon.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/spill.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kRecordHeaderV1 = 8;
constexpr int kRecordHeaderV2 = 16;
constexpr int kEthernetFcs = 4;
// Room for the FCS that Ethernet frames get on top of their captured bytes.
constexpr uint32_t kMaxCapturedLength = FrameBufferBytes - kEthernetFcs;



struct SystemTime {
  int year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

SystemTime DecodeSystemTime(const uint8_t* p) {
  return {GetLE16(p),      GetLE16(p + 2),  GetLE16(p + 4),  GetLE16(p + 6),
          GetLE16(p + 8),  GetLE16(p + 10), GetLE16(p + 12), GetLE16(p + 14)};
}

bool IsPlausibleDate(const SystemTime& t) {
  return t.year >= 1601 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 &&
         t.hour < 24 && t.minute < 60 && t.second < 60 && t.milliseconds < 1000;
}

struct NetMonReaderContext : FormatContext {
  bool version2 = false;
  int64_t startMillis = 0;  // time of day of the header's start time
  uint32_t tableOffset = 0;
  std::vector<uint32_t> table;
  size_t next = 0;
  int64_t fileSize = -1;
  int64_t recordEnd = -1;  // where the stream stands after the last record read; -1 unknown
};

// Moves the stream to a record: records mostly follow one another, so the
// bytes in hand are passed over rather than sought past.
bool MoveTo(SourceStream& in, int64_t position, uint32_t entry) {
  if (position >= 0 && entry >= position && uint64_t(entry - position) <= in.inHandSize()) {
    in.consume(size_t(entry - position));
    return true;
  }
  return in.seek(entry);
}

struct NetMonWriterContext : FormatContext {
  SpillBuffer offsets;  // NetMon_frame_index_entry: one record offset per frame, little-endian
  int64_t startTime = 0;          // frameTime of the start time written in the header
  uint16_t macType = 0;           // fixed at the first frame (the topology may change per frame)
  uint32_t tableOffset = 0, commentOffset = 0, commentLength = 0;
  uint64_t end = 0;  // where the target ends: the header and the records so far
};

bool IsVersion2Target(AnalyzerType type) { return type == Analyzer::NetMon2; }

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  NetMonReaderContext& r = c.ReaderContext<NetMonReaderContext>();
  r.fileSize = c.source->size();
  uint8_t h[kNetMonHeaderSize];
  if (!c.source->readExact(h, sizeof h)) {
    FailRead(s, "file header cut short: 128 bytes needed");
    return;
  }
  if (std::memcmp(h, "GMBU", 4) == 0) {
    r.version2 = true;
  } else if (std::memcmp(h, "RTSS", 4) == 0) {
    r.version2 = false;
  } else {
    FailRead(s, "offset 0: no NetMon signature");
    return;
  }
  const SystemTime start = DecodeSystemTime(h + 8);
  // An impossible date is ignored; the file date then stands.
  if (start.year != 0 && IsPlausibleDate(start)) {
    s.time.traceDate = EncodeDateTime(start.year, start.month, start.day, start.hour, start.minute,
                                 start.second) +
                  start.milliseconds / 86400000.0;
    ComputeTimeZoneBias(s, false);
  }
  r.startMillis =
      (int64_t(start.hour) * 3600 + start.minute * 60 + start.second) * 1000 + start.milliseconds;

  r.tableOffset = GetLE32(h + 24);
  const uint32_t tableBytes = GetLE32(h + 28);
  const int64_t fileSize = c.source->size();
  if (fileSize >= 0 && int64_t(r.tableOffset) + tableBytes > fileSize) {
    FailRead(s, "offset 24: frame table of " + Grouped(tableBytes) + " bytes at " +
                    Grouped(r.tableOffset) + " runs past the end of the file (" +
                    Grouped(fileSize) + " bytes)");
    return;
  }
  r.table.resize(tableBytes / 4);
  auto* raw = reinterpret_cast<uint8_t*>(r.table.data());
  if (!c.source->seek(r.tableOffset) || !c.source->readExact(raw, r.table.size() * 4)) {
    FailRead(s, c.source->failed() ? c.source->errorText()
                                   : AtOffset(r.tableOffset) + "frame table cut short");
    return;
  }
  for (size_t i = 0; i < r.table.size(); ++i) r.table[i] = GetLE32(raw + 4 * i);
}

// Reads the record of the next table entry into the current frame.
bool ReadRecord(Conversion& c, NetMonReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const uint32_t entry = r.table[r.next++];
  // The place of a failure, put into words only when one happens.
  const auto at = [&] { return AtRecord(int64_t(r.next), entry); };
  const int headerSize = r.version2 ? kRecordHeaderV2 : kRecordHeaderV1;
  // Entries are unsigned: files of 2 to 4 GiB place records beyond 2^31.
  if (r.fileSize >= 0 && int64_t(entry) + headerSize > r.fileSize) {
    FailRead(s, at() + "frame table entry points outside the file");
    return false;
  }
  const int64_t position = r.recordEnd;
  r.recordEnd = -1;
  uint8_t h[kRecordHeaderV2];
  // Either size is a constant: the copy needs no call.
  const auto readHeader = [&] {
    return r.version2 ? in.readExact(h, kRecordHeaderV2) : in.readExact(h, kRecordHeaderV1);
  };
  if (!MoveTo(in, position, entry) || !readHeader()) {
    FailRead(s, in.failed() ? in.errorText() : at() + "record header cut short");
    return false;
  }
  int64_t time;
  uint32_t frameLength, captured;
  if (r.version2) {
    time = int64_t(GetLE64(h));
    frameLength = GetLE32(h + 8) & 0xFFFF;
    captured = GetLE32(h + 12);
  } else {
    time = GetLE32(h);
    frameLength = GetLE16(h + 4);
    captured = GetLE16(h + 6);
  }
  if (captured > kMaxCapturedLength) {
    FailRead(s, at() + "captured length " + Grouped(captured) + " exceeds " +
                    Grouped(kMaxCapturedLength));
    return false;
  }
  // An offset of centuries is a damaged record, not a time to add up.
  constexpr int64_t kLargestOffset = int64_t(1) << 50;
  if (time < 0 || time > kLargestOffset) {
    FailRead(s, at() + "time offset " + Grouped(time) + " out of range");
    return false;
  }
  captured = std::min(captured, frameLength);  // never more stored than on the wire
  if (!in.readExact(s.frame.frameData.data(), captured)) {
    FailRead(s, in.failed() ? in.errorText() : at() + "frame cut short");
    return false;
  }
  r.recordEnd = int64_t(entry) + headerSize + captured;
  s.frame.frameFlags = 0;
  s.frame.frameTime = r.version2 ? r.startMillis * 1000 + time : (time + r.startMillis) * 1000;

  const bool ethernet = s.traceTopology == Topo::Ethernet;
  s.frame.frameLength = int32_t(frameLength);
  s.frame.storedLength = int32_t(captured);
  if (ethernet) {
    if (captured == frameLength) s.frame.storedLength += kEthernetFcs;
    s.frame.frameLength += kEthernetFcs;
    if (s.frame.frameLength < 64) {
      ZeroFrameBytes(s, int32_t(captured), 64);
      s.frame.frameLength = s.frame.storedLength = 64;
    }
  }
  ClampFrameLength(s);
  if (ethernet && s.frame.storedLength == s.frame.frameLength) StoreEthernetFcs(s);
  return true;
}

// The records of the frame table in its order, up to its end or the file's.
ReadStatus NextRecord(Conversion& c) {
  NetMonReaderContext& r = c.ReaderContext<NetMonReaderContext>();
  ReadStatus status = ReadStatus::End;
  if (r.next < r.table.size() && !(r.fileSize >= 0 && r.recordEnd >= r.fileSize)) {
    status = RecordOrEnd(c.state, ReadRecord(c, r));
    // A record that runs into the frame table is counted but not passed on.
    if (status == ReadStatus::Record && r.recordEnd > int64_t(r.tableOffset) + 4)
      status = ReadStatus::NonData;
  }
  // The table is let go once the frames are read.
  if (status == ReadStatus::End || status == ReadStatus::Failed) std::vector<uint32_t>().swap(r.table);
  return status;
}

// The start time as SYSTEMTIME: the first frame's time, whole milliseconds
// (truncated, so the field never reaches 1000), on the day it falls on.
void PutStartTime(uint8_t* p, const ConversionState& s, int64_t startTime) {
  const int64_t dayOffset = FloorDiv(startTime, kMicrosPerDay);
  const int64_t timeOfDay = startTime - dayOffset * kMicrosPerDay;
  int year, month, day;
  DecodeDate(std::floor(s.writerTime.traceDate) + double(dayOffset), year, month, day);
  const int64_t seconds = timeOfDay / 1000000;
  const uint16_t fields[8] = {uint16_t(year),
                              uint16_t(month),
                              2,  // day of week, always written as 2
                              uint16_t(day),
                              uint16_t(seconds / 3600),
                              uint16_t(seconds % 3600 / 60),
                              uint16_t(seconds % 60),
                              uint16_t(timeOfDay % 1000000 / 1000)};
  for (int i = 0; i < 8; ++i) PutLE16(p + 2 * i, fields[i]);
}

uint16_t MacType(Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return 1;
    case Topo::TokenRing: return 2;
    case Topo::Fddi: return 3;
    default: return 0;  // no NetMon MAC type of ours
  }
}

void WriteHeader(Conversion& c, int32_t framesInFile) {
  ConversionState& s = c.state;
  NetMonWriterContext& w = c.WriterContext<NetMonWriterContext>();
  const bool v2 = IsVersion2Target(s.targetAnalyzer);
  uint8_t h[kNetMonHeaderSize] = {};
  std::memcpy(h, v2 ? "GMBU" : "RTSS", 4);
  h[4] = v2 ? 0 : 1;  // minor version
  h[5] = v2 ? 2 : 1;  // major version
  PutLE16(h + 6, w.macType);
  PutStartTime(h + 8, s, w.startTime);
  PutLE32(h + 24, w.tableOffset);
  PutLE32(h + 28, uint32_t(std::max(0, framesInFile)) * 4);
  PutLE32(h + 40, w.commentOffset);
  PutLE32(h + 44, w.commentLength);
  c.target->seek(0);
  c.target->write(h, sizeof h);
}

// False when the table could not be read back from its temporary file.
bool WriteFrameTable(Conversion& c, SpillBuffer& offsets) {
  ConversionState& s = c.state;
  s.status.writingIndex = true;
  c.host.progress(c.Progress());
  const bool read = offsets.forEachBlock([&](const uint8_t* bytes, size_t n) {
    if (!c.target->write(bytes, n)) return false;
    c.host.pumpEvents();
    c.host.progress(c.Progress());
    return true;
  });
  s.status.writingIndex = false;
  return read;
}

}  // namespace

Topology NetMonTopology(uint8_t macType) {
  switch (macType) {
    case 1: return Topo::Ethernet;
    case 2: return Topo::TokenRing;
    case 3: return Topo::Fddi;
    default: return Topo::Unknown;
  }
}

std::string ReadNetMonComment(SourceStream& in) {
  uint8_t h[48];
  if (!in.seek(0) || !in.readExact(h, sizeof h)) return "";
  const uint32_t offset = GetLE32(h + 40);
  const size_t length = std::min<size_t>(GetLE32(h + 44), kNetMonCommentLimit);
  std::string text(length, '\0');
  // Offset 0 is the header itself: the file has no comment.
  if (length == 0 || offset == 0 || !in.seek(offset)) return "";
  text.resize(in.read(text.data(), length));
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

void WriteNetMonHeader(Conversion& c, int32_t /*frameNumber*/) {
  NetMonWriterContext& w = c.WriterContext<NetMonWriterContext>();
  w.startTime = FloorDiv(c.state.writerTime.firstFrameTime, 1000) * 1000;
  w.macType = MacType(c.state.traceTopology);
  WriteHeader(c, c.state.counters.framesWritten - c.state.counters.nonDataFrames);
  w.end = uint64_t(c.target->position());
}

void WriteNetMonFrame(Conversion& c) {
  ConversionState& s = c.state;
  NetMonWriterContext& w = c.WriterContext<NetMonWriterContext>();
  const int32_t fcs = s.traceTopology == Topo::Ethernet ? kEthernetFcs : 0;
  const int32_t frameLength = std::max(0, s.frame.frameLength - fcs);
  // A frame stored cut short keeps every stored byte (its FCS is not among them).
  const int32_t captured = s.frame.storedLength >= s.frame.frameLength
                               ? frameLength
                               : std::clamp(s.frame.storedLength, 0, frameLength);
  // The frame table and comment follow the records, all at 32-bit offsets.
  constexpr uint64_t kCommentRoom = 256;
  const uint64_t end = w.end + kRecordHeaderV2 + uint64_t(captured) + w.offsets.size() + 4 +
                       kCommentRoom;
  if (!c.RoomForFrame(end)) return;
  uint8_t offset[4];
  PutLE32(offset, uint32_t(w.end));
  if (!w.offsets.append(offset, sizeof offset)) {
    FailWrite(s, w.offsets.errorText());
    return;
  }
  const int64_t sinceStart = WriterFrameTime(s) - w.startTime;
  uint8_t h[kRecordHeaderV2];
  if (IsVersion2Target(s.targetAnalyzer)) {
    PutLE64(h, uint64_t(sinceStart));
    PutLE32(h + 8, uint32_t(frameLength));
    PutLE32(h + 12, uint32_t(captured));
    c.target->writeHeadAndBody(h, kRecordHeaderV2, s.frame.frameData.data(), size_t(captured));
    w.end += kRecordHeaderV2;
  } else {
    PutLE32(h, uint32_t(RoundedDiv(sinceStart, 1000)));
    PutLE16(h + 4, uint16_t(frameLength));
    PutLE16(h + 6, uint16_t(captured));
    c.target->writeHeadAndBody(h, kRecordHeaderV1, s.frame.frameData.data(), size_t(captured));
    w.end += kRecordHeaderV1;
  }
  w.end += uint64_t(captured);
}

void FinishNetMon(Conversion& c, int32_t framesWritten) {
  ConversionState& s = c.state;
  if (s.status.headerPending) return;  // no frame reached the target: nothing to complete
  NetMonWriterContext& w = c.WriterContext<NetMonWriterContext>();
  w.tableOffset = uint32_t(c.target->position());
  const bool tableRead = WriteFrameTable(c, w.offsets);
  if (!tableRead) FailWrite(s, w.offsets.errorText());
  w.offsets.clear();

  w.commentOffset = uint32_t(c.target->position());
  const std::string comment =
      "Converted From " + SourceDisplayName(s.sourceAnalyzer, s.sourceVariant, s.sourceCompressed);
  c.target->write(comment.c_str(), comment.size() + 1);  // with its zero byte
  w.commentLength = uint32_t(comment.size() + 1);
  WriteHeader(c, framesWritten - s.counters.nonDataFrames);
}

// ---------------------------------------------------------------- registry

namespace {

std::optional<AnalyzerType> IdentifyNetMon(IdentifyInput& input) {
  if (input.head.startsWith("RTSS")) return Analyzer::NetMon1;
  if (input.head.startsWith("GMBU")) return Analyzer::NetMon2;
  return std::nullopt;
}

Topology NetMonFileTopology(TopologyInput& t) {
  t.s.fileComment = ReadNetMonComment(t.in);
  return NetMonTopology(uint8_t(t.head.u8(6)));
}

// Tried at 150: text magic at offset 0.
constexpr IdentifyRule kNetMonRules[] = {{"netmon", IdentifyNetMon, 150}};
constexpr FriendlyName kNetMonNames[] = {{Analyzer::NetMon1, "netmon1"},
                                         {Analyzer::NetMon2, "netmon2"},
                                         {Analyzer::NetMon2, "netmon"}};

}  // namespace

constexpr AnalyzerInfo kNetMonAnalyzers[] = {
    {Analyzer::NetMon1, "NetMon (Microsoft, SMS 1.2)", "NM", ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
    {Analyzer::NetMon2, "NetMon (Microsoft, SMS 2.0)", "N2", ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi},
};

extern const FormatDescriptor kNetMonFormat = {
    .family = "NetMon",
    .analyzers = kNetMonAnalyzers,
    .reads = MaskOf({Analyzer::NetMon1, Analyzer::NetMon2}),
    .writes = MaskOf({Analyzer::NetMon1, Analyzer::NetMon2}),
    .aliases = kNetMonNames,
    .sourcePatterns = "*.cap",
    .capabilities = Capability::DropsEthernetFcs | Capability::SkipsTinyFrames,
    .identify = kNetMonRules,
    .topology = NetMonFileTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteNetMonHeader,
    .writeFrame = WriteNetMonFrame,
    .finish = FinishNetMon,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535},
};

}  // namespace morph
