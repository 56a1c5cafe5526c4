// Domino and LinkView PRO (one layout). The writer collects the index
// (spilled to a temporary file beyond a block) while it writes the frames and
// appends it when the conversion finishes; the header's "FRAM" directory
// entry then points at it.
#include "formats/domino.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/identify.h"
#include "engine/spill.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

constexpr int kTextOffset = 4, kTextBytes = 40;
constexpr int kFramesStart = kDominoHeaderSize + kDominoDirectorySize;  // 238
constexpr int64_t kTimeUnit = 32;  // microseconds per index time unit
constexpr int kTimeUnitBits = 5;
// The latest time after the first frame's second an index entry's 32-bit
// count of units holds, rounded to the nearest unit: about 38.2 hours.
constexpr int64_t kLargestSpan = (int64_t(UINT32_MAX) + 1) * kTimeUnit - kTimeUnit / 2 - 1;
// Index entries the reader holds at a time (1.3 MB). Each new block moves the
// source from the frames to the index and back, and after each move the
// source starts again from a small block: fewer, larger blocks of entries
// keep it reading large blocks of frames.
constexpr size_t kEntriesPerBlock = 65536;

// Status bits of an index entry.
constexpr uint32_t kStatusNotAtm = 0x08, kStatusFcsGood = 0x10, kStatusDirection1 = 0x40,
                   kStatusDirection2 = 0x80, kStatusAtmDirection2 = 0x10000000;
constexpr int32_t kAtmCell = 53, kAtmPayload = 48, kAtmHeaderEnd = 5;

// ATM topologies whose index entries carry the direction in the high bit.
bool UsesAtmStatus(Topology t) { return IsAtmTopology(t) && t != Topo::AtmE3; }
// ATM topologies whose stored records are one cell header with its payloads.
bool SplitsCells(Topology t) { return IsAtmTopology(t) && t != Topo::AtmT1; }

// ------------------------------------------------------------------ reader

struct DominoReaderContext : FormatContext {
  bool headerRead = false;
  uint16_t mediaCode = 0, protocolCode = 0;
  bool linkView = false;
  int64_t nextEntryAt = 0;  // file position of the next index entry not yet fetched
  int64_t countAt = 0;      // where the index states its count
  uint32_t entriesStated = 0;
  uint32_t entriesLeft = 0;  // of those the file holds
  uint32_t entryNumber = 0;  // of the entry being delivered, from 1
  std::vector<uint8_t> entries;  // a block of index entries
  size_t entryNext = 0;
  int64_t sourceAt = -1;  // where the source stands after the last frame's bytes; -1 = not known
  std::vector<uint8_t> record;  // a stored ATM record while it is cut into cells
  int32_t cellAt = 0;           // where the record's next cell payload starts
};

bool ReadHeader(Conversion& c, DominoReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  uint8_t h[kDominoHeaderSize];
  if (!in.readExact(h, sizeof h)) return FailRead(s, AtOffset(0) + "the 78-byte header is cut short");
  if (std::memcmp(h, "WINC", 4) != 0) return FailRead(s, AtOffset(0) + "no \"WINC\" signature");
  const uint32_t start = GetLE32(h + 54);
  const int hour = h[58], minute = h[59], second = h[60];
  if (hour > 23 || minute > 59 || second > 59)
    return FailRead(s, AtOffset(58) + "start time " + std::to_string(hour) + ":" +
                       std::to_string(minute) + ":" + std::to_string(second) +
                       " is no time of day");
  // The start time dates the trace whenever it is there, even for a trace
  // that starts in the first second after midnight; one before 1970 in the
  // source's zone is none, and the file's date stays.
  if (start != 0)
    StartTraceAtKnownUnixTime(s, start);
  else
    ComputeTimeZoneBias(s, false);
  const int64_t timeOfDay = int64_t(hour) * 3600 + minute * 60 + second;
  s.time.traceDate = std::floor(s.time.traceDate) + double(timeOfDay) / 86400.0;
  s.time.headerTimeOfDay = timeOfDay * kMicrosPerSecond;
  r.mediaCode = GetLE16(h + 62);
  r.protocolCode = GetLE16(h + 64);
  r.linkView = s.sourceAnalyzer == Analyzer::LinkViewPro;

  // The directory: tagged entries up to "FRAM" (the index) or "STOP".
  int64_t at = kDominoHeaderSize;
  uint32_t indexAt = 0;
  for (;; at += 8) {
    uint8_t e[8];
    if (!in.seek(at) || !in.readExact(e, sizeof e))
      return FailRead(s, AtOffset(at) + "the directory ends before its \"FRAM\" entry");
    if (std::memcmp(e, "STOP", 4) == 0)
      return FailRead(s, AtOffset(at) + "the directory has no \"FRAM\" entry: no frame index");
    if (std::memcmp(e, "FRAM", 4) == 0) {
      indexAt = GetLE32(e + 4);
      break;
    }
  }
  uint8_t word[4];
  if (!in.seek(indexAt) || !in.readExact(word, 4))
    return FailRead(s, AtOffset(indexAt) + "the frame index lies beyond the end of the file");
  const int64_t countAt = GetLE32(word);
  if (!in.seek(countAt) || !in.readExact(word, 4))
    return FailRead(s, AtOffset(countAt) + "the index count lies beyond the end of the file");
  const uint32_t count = GetLE32(word);
  // A count beyond the entries the file holds is found out after the frames
  // of those that are there.
  const int64_t room =
      in.size() >= 0 ? std::max<int64_t>(0, (in.size() - (countAt + 4)) / kDominoIndexEntrySize)
                     : int64_t(UINT32_MAX);
  r.countAt = countAt;
  r.nextEntryAt = countAt + 4;
  r.entriesStated = count;
  r.entriesLeft = uint32_t(std::min<int64_t>(count, room));
  s.sourceFrameCount = int32_t(std::min<uint32_t>(r.entriesLeft, INT32_MAX));
  r.headerRead = true;
  return true;
}

// The next index entry, fetched a block at a time so that the frames, which
// lie before the index, are read in order between two seeks.
const uint8_t* NextEntry(Conversion& c, DominoReaderContext& r) {
  if (r.entryNext == r.entries.size()) {
    const size_t n = std::min<size_t>(r.entriesLeft, kEntriesPerBlock);
    r.entries.resize(n * kDominoIndexEntrySize);
    r.entryNext = 0;
    if (!c.source->seek(r.nextEntryAt) || !c.source->readExact(r.entries.data(), r.entries.size())) {
      FailRead(c.state, AtRecord(r.entryNumber + 1, r.nextEntryAt) + "index entry cut short");
      return nullptr;
    }
    r.nextEntryAt += int64_t(r.entries.size());
    r.sourceAt = -1;
  }
  const uint8_t* entry = r.entries.data() + r.entryNext;
  r.entryNext += kDominoIndexEntrySize;
  --r.entriesLeft;
  ++r.entryNumber;
  return entry;
}

// Fills the current frame from an index entry and the bytes it points at.
// Inline in the frame loop: no call and no saving of registers per frame.
[[gnu::always_inline]] inline bool ReadFrame(Conversion& c, DominoReaderContext& r,
                                             const uint8_t* e) {
  ConversionState& s = c.state;
  const uint32_t position = GetLE32(e);
  const int32_t stored = GetLE16(e + 4), full = GetLE16(e + 6);
  const uint32_t time = GetLE32(e + 12), status = GetLE32(e + 16);
  const int64_t entryAt = r.nextEntryAt - int64_t(r.entries.size() - r.entryNext) -
                          kDominoIndexEntrySize;
  s.frame.frameFlags = 0;
  if (!(status & (kStatusNotAtm | kStatusFcsGood))) s.frame.frameFlags |= Flag::CrcError;
  if (status & kStatusDirection1) s.frame.frameFlags |= Flag::Direction1;
  if (status & (kStatusDirection2 | kStatusAtmDirection2)) s.frame.frameFlags |= Flag::Direction2;
  s.frame.frameTime = int64_t(time) * kTimeUnit + s.time.headerTimeOfDay;
  s.frame.storedLength = stored;
  s.frame.frameLength = full != 0 ? full : stored;
  if (stored > s.frame.frameLength)
    return FailRead(s, AtRecord(r.entryNumber, entryAt) + "bytes stored " + Grouped(stored) +
                       " exceed the frame length " + Grouped(full));
  // These files keep no FCS: the frame had 4 more bytes on the wire.
  const bool fcsAdded = s.traceTopology == Topo::Ethernet && r.mediaCode == kDominoMediaWithoutFcs;
  if (fcsAdded) {
    if (s.frame.storedLength >= s.frame.frameLength) s.frame.storedLength += 4;
    s.frame.frameLength += 4;
  }
  ClampFrameLength(s);
  const int32_t fromFile = std::min(stored, s.frame.storedLength);
  // Frames usually follow one another: the source is moved only when this
  // one lies elsewhere.
  const bool there = r.sourceAt == int64_t(position) || c.source->seek(position);
  r.sourceAt = -1;
  if (!there || !c.source->readExact(s.frame.frameData.data(), size_t(fromFile)))
    return FailRead(s, AtRecord(r.entryNumber, entryAt) + "frame bytes at offset " +
                       Grouped(position) + " run past the end of the file");
  r.sourceAt = int64_t(position) + fromFile;
  if (fromFile < s.frame.storedLength) ZeroFrameBytes(s, fromFile, s.frame.storedLength);
  const bool whole = s.frame.storedLength == s.frame.frameLength;
  const bool linkViewFcs =
      r.linkView && s.traceTopology == Topo::Ethernet && r.protocolCode == 4;
  if (whole && (fcsAdded || linkViewFcs)) StoreEthernetFcs(s);
  return true;
}

// Once every entry the file holds is read: the end of the frames, or a read
// error when the index stated more.
ReadStatus EndOfIndex(ConversionState& s, const DominoReaderContext& r) {
  if (r.entryNumber >= r.entriesStated) return ReadStatus::End;
  FailRead(s, AtRecord(r.entryNumber + 1, r.nextEntryAt) + "the index at offset " +
                  Grouped(r.countAt) + " states " + Grouped(r.entriesStated) +
                  " entries, but the file holds " + Grouped(r.entryNumber));
  return ReadStatus::Failed;
}

// A stored ATM record is one cell header and its payloads: each payload is
// handed on as a cell of its own, the last one marked in bit 0x02 of byte 3.
// A record ending inside a payload gives a last cell stored cut short.
// The record is kept aside; the current frame becomes its first cell.
void FirstCell(ConversionState& s, DominoReaderContext& r) {
  r.record.assign(s.frame.frameData.begin(), s.frame.frameData.begin() + s.frame.storedLength);
  r.cellAt = kAtmCell;
  s.frame.frameLength = s.frame.storedLength = kAtmCell;
  s.frame.frameData[3] &= uint8_t(~0x02);
}

// The current frame becomes the record's next cell.
void NextCell(ConversionState& s, DominoReaderContext& r) {
  const int32_t stored = int32_t(r.record.size()), at = r.cellAt;
  const int32_t n = std::min(kAtmPayload, stored - at);
  std::memcpy(s.frame.frameData.data(), r.record.data(), kAtmHeaderEnd);
  std::memcpy(s.frame.frameData.data() + kAtmHeaderEnd, r.record.data() + at, size_t(n));
  s.frame.frameData[3] = uint8_t((s.frame.frameData[3] & ~0x02) | (at + n >= stored ? 0x02 : 0));
  s.frame.frameLength = kAtmCell;
  s.frame.storedLength = kAtmHeaderEnd + n;
  r.cellAt = at + kAtmPayload;
}

void ReadHeaderStep(Conversion& c) { ReadHeader(c, c.ReaderContext<DominoReaderContext>()); }

// The frames in the order of the index; an ATM record's cells one by one.
ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  DominoReaderContext& r = c.ReaderContext<DominoReaderContext>();
  if (!HeaderWasRead(s, r.headerRead)) return ReadStatus::Failed;
  if (size_t(r.cellAt) < r.record.size()) {
    NextCell(s, r);
    return ReadStatus::Record;
  }
  if (r.entriesLeft == 0) return EndOfIndex(s, r);
  const uint8_t* entry = NextEntry(c, r);
  if (!entry || !ReadFrame(c, r, entry)) return RecordOrEnd(s, false);
  if (SplitsCells(s.traceTopology) && s.frame.storedLength > kAtmCell) FirstCell(s, r);
  return ReadStatus::Record;
}

// ------------------------------------------------------------------ writer

struct DominoWriterContext : FormatContext {
  bool fixed = false;  // header fields chosen at the first frame
  uint16_t mediaCode = 0, protocolCode = 0;
  bool withoutFcs = false;  // the media code says Ethernet frames are kept without FCS
  Topology topology = Topo::Unknown;
  // Index status bits of a good frame and of each direction, by the topology.
  uint32_t goodStatus = 0, direction2Status = 0;
  int64_t nextFrameAt = kFramesStart;  // the target's position: frames follow one another
  SpillBuffer index;  // Domino_frame_index_entry, 20 bytes each
};

uint16_t MediaCode(Topology t, bool fromLinkView) {
  switch (t) {
    case Topo::Ethernet: return fromLinkView ? kDominoMediaWithoutFcs : 358;
    case Topo::TokenRing: return fromLinkView ? kDominoMediaWithoutFcs : 363;
    case Topo::Fddi: return 313;
    case Topo::E3:
    case Topo::E1:
    case Topo::ESeries: return 360;
    case Topo::Wan:  // a serial link of no named kind: written as a T-carrier link
    case Topo::Ds3:
    case Topo::T1:
    case Topo::TSeries: return 361;
    case Topo::VSeries: return 359;
    case Topo::Atm: return 943;
    default: return t >= Topo::AtmOc3 && t <= Topo::Wan19 ? 747 : 0;
  }
}

uint16_t ProtocolCode(Topology t, uint32_t wanProtocol) {
  if (t == Topo::Ethernet) return 4;
  if (t == Topo::TokenRing) return 6;
  if (UsesAtmStatus(t) || t == Topo::Wan19) return 322;
  if (t >= Topo::Wan && t <= Topo::TSeries) {
    switch (wanProtocol) {
      case Wan::Hdlc: return 240;
      case Wan::Sdlc: return 14;
      case Wan::X25: return 15;
      case Wan::Isdn: return 333;
      case Wan::Ppp: return 305;
      case Wan::Lapb: return 11;
      case Wan::Lapd: return 12;
      case Wan::FrameRelay: return 278;
      default: return 0;
    }
  }
  return 0;
}

void WriteHeaderAndDirectory(Conversion& c, uint32_t indexAt) {
  ConversionState& s = c.state;
  DominoWriterContext& w = c.WriterContext<DominoWriterContext>();
  uint8_t h[kFramesStart] = {};
  std::memcpy(h, "WINC", 4);
  const std::string text =
      s.sourceAnalyzer == Analyzer::LinkViewPro
          ? std::string("\nLinkView PRO Cap")
          : "Converted From " + SourceDisplayName(s.sourceAnalyzer, s.sourceVariant,
                                                   s.sourceCompressed);
  std::memcpy(h + kTextOffset, text.data(), std::min<size_t>(text.size(), kTextBytes));
  h[44] = 1;
  PutLE32(h + 54, StartTimeField32(s));
  const int64_t base = s.writerTime.timeBaseSeconds;
  const int64_t secondOfDay = base - FloorDiv(base, kSecondsPerDay) * kSecondsPerDay;
  h[58] = uint8_t(secondOfDay / 3600);
  h[59] = uint8_t(secondOfDay % 3600 / 60);
  h[60] = uint8_t(secondOfDay % 60);
  PutLE16(h + 62, w.mediaCode);
  PutLE16(h + 64, w.protocolCode);
  static const char* const kTags[] = {"FRAM", "NWST", "PRCL", "STAT", "DWIN", "STRC", "PTRL", "STOP"};
  uint8_t* entry = h + kDominoHeaderSize;
  for (const char* tag : kTags) {
    std::memcpy(entry, tag, 4);
    entry += 8;
  }
  PutLE32(h + kDominoHeaderSize + 4, indexAt);
  c.target->seek(0);
  c.target->write(h, sizeof h);
}

}  // namespace

std::optional<AnalyzerType> IdentifyDomino(IdentifyInput& in) {
  if (!in.head.startsWith("WINC")) return std::nullopt;
  return in.head.contains("LinkView PRO") ? Analyzer::LinkViewPro : Analyzer::Domino;
}

namespace {

// The Domino media code (with its sub-code) as a topology.
Topology DominoMedia(int64_t code, int64_t subCode, uint32_t& speed) {
  switch (code) {
    case 4:
    case 358: speed = 10000000; return Topo::Ethernet;
    case 313: return Topo::Fddi;
    case 335: return Topo::AtmDs3;
    case 359: return Topo::VSeries;
    case 360: return Topo::ESeries;
    case 361: return Topo::TSeries;
    case 363: return Topo::TokenRing;
    case 378: return Topo::AtmE3;
    case kDominoMediaWithoutFcs:
      if (subCode == 4) {
        speed = 10000000;
        return Topo::Ethernet;
      }
      return subCode == 6 ? Topo::TokenRing : Topo::Unknown;
    case 747: return Topo::AtmOc3;
    case 855: return Topo::AtmE1;
    case 880:
    case 984: speed = 100000000; return Topo::Ethernet;
    case 936: speed = 1000000000; return Topo::Ethernet;
    case 938: return Topo::AtmE3;
    case 939: return Topo::AtmDs3;
    case 940: return Topo::AtmDs1;
    case 941: return Topo::Wan19;
    default: return Topo::Unknown;
  }
}

uint32_t DominoWanProtocol(int64_t subCode) {
  switch (subCode) {
    case 0:
    case 14: return Wan::Sdlc;
    case 11: return Wan::Lapb;
    case 12: return Wan::Lapd;
    case 15: return Wan::X25;
    case 240: return Wan::Hdlc;
    case 278: return Wan::FrameRelay;
    case 305: return Wan::Ppp;
    case 333: return Wan::Isdn;
    default: return Wan::NotKnown;
  }
}

}  // namespace

Topology DominoTopology(TopologyInput& t) {
  const bool shortComment = t.type == Analyzer::LinkViewPro || t.head.u8(4) == '\n';
  t.s.fileComment = shortComment ? t.head.text(5, 39) : t.head.text(4, 40);
  const int64_t subCode = t.head.le16(64);
  Topology topology = DominoMedia(t.head.le16(62), subCode, t.speed);
  if (topology == Topo::E3 || (topology >= Topo::E1 && topology <= Topo::TSeries))
    t.s.wanProtocol = DominoWanProtocol(subCode);
  // The reader's header step states the frame count.
  ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, topology);
  if (!probe.ran) {
    t.speed = 0;
    return Topo::Unknown;
  }
  t.s.sourceFrameCount = probe.frameCount;
  return topology;
}

void WriteDominoHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  DominoWriterContext& w = c.WriterContext<DominoWriterContext>();
  if (!w.fixed) {
    // The topology may change per frame (802.11 conversion): fixed here.
    w.fixed = true;
    w.topology = s.traceTopology;
    w.mediaCode = MediaCode(w.topology, s.sourceAnalyzer == Analyzer::LinkViewPro);
    w.protocolCode = ProtocolCode(w.topology, s.wanProtocol);
    w.withoutFcs = w.topology == Topo::Ethernet && w.mediaCode == kDominoMediaWithoutFcs;
    const bool atm = UsesAtmStatus(w.topology);
    w.goodStatus = atm ? kStatusFcsGood : kStatusNotAtm | kStatusFcsGood;
    w.direction2Status = atm ? kStatusAtmDirection2 : kStatusDirection2;
  }
  WriteHeaderAndDirectory(c, 0);
}

void WriteDominoFrame(Conversion& c) {
  ConversionState& s = c.state;
  DominoWriterContext& w = c.WriterContext<DominoWriterContext>();
  const int32_t frameNumber = s.counters.framesWritten - 1 - s.counters.nonDataFrames;
  const int64_t position = w.nextFrameAt;
  // Floored, as a shift: the unit is a power of two.
  static_assert(kTimeUnit == int64_t(1) << kTimeUnitBits);
  const int64_t units =
      (WriterFrameTime(s) - s.writerTime.timeBaseSeconds * kMicrosPerSecond + kTimeUnit / 2) >> kTimeUnitBits;
  if (units < 0 || units > int64_t(UINT32_MAX)) {
    FailWrite(s, AtRecord(frameNumber + 1, position) +
                     "frame time lies outside the 38 hours after the first frame that a Domino "
                     "index entry holds");
    return;
  }
  // A frame stored cut short keeps all its bytes; a whole one keeps its FCS
  // unless the media code says the file has none.
  const bool whole = s.frame.storedLength >= s.frame.frameLength;
  int32_t stored = s.frame.storedLength, full = whole ? 0 : s.frame.frameLength;
  if (w.withoutFcs) {
    if (whole)
      stored = std::max(0, stored - 4);
    else
      full = std::max(stored, full - 4);
  }
  // Index entries and the directory state 32-bit offsets: the whole file,
  // index included, stays within their reach.
  const uint64_t end = uint64_t(position) + uint64_t(stored) + 8 +
                       uint64_t(w.index.size()) + kDominoIndexEntrySize;
  if (!c.RoomForFrame(end)) return;
  const bool good = !(s.frame.frameFlags & Flag::Bad);
  uint32_t status = good ? w.goodStatus : 0;
  if (s.frame.frameFlags & Flag::Direction1) status |= kStatusDirection1;
  if (s.frame.frameFlags & Flag::Direction2) status |= w.direction2Status;
  const bool appended = w.index.appendLaidOut<kDominoIndexEntrySize>([&](uint8_t* e) {
    PutLE32(e, uint32_t(position));
    PutLE16(e + 4, uint16_t(stored));
    PutLE16(e + 6, uint16_t(full));
    PutLE32(e + 8, uint32_t(frameNumber));
    PutLE32(e + 12, uint32_t(units));
    PutLE32(e + 16, status);
  });
  if (!appended) {
    FailWrite(s, w.index.errorText());
    return;
  }
  c.target->write(s.frame.frameData.data(), size_t(stored));
  w.nextFrameAt += stored;
}

void FinishDomino(Conversion& c, int32_t /*framesWritten*/) {
  ConversionState& s = c.state;
  if (s.status.headerPending) return;  // no frame reached the target
  DominoWriterContext& w = c.WriterContext<DominoWriterContext>();
  const int64_t indexAt = c.target->position();  // within reach: see WriteDominoFrame
  uint8_t head[8];
  PutLE32(head, uint32_t(indexAt + 4));
  PutLE32(head + 4, uint32_t(w.index.size() / kDominoIndexEntrySize));
  c.target->write(head, sizeof head);
  s.status.writingIndex = true;
  c.host.progress(c.Progress());
  const bool indexRead = w.index.forEachBlock([&](const uint8_t* bytes, size_t n) {
    if (!c.target->write(bytes, n)) return false;
    c.host.pumpEvents();
    c.host.progress(c.Progress());
    return true;
  });
  s.status.writingIndex = false;
  w.index.clear();
  if (!indexRead) {
    FailWrite(s, w.index.errorText());
    return;
  }
  WriteHeaderAndDirectory(c, uint32_t(indexAt));
}

namespace {
// Tried at 220: text magic at offset 0.
constexpr IdentifyRule kDominoRules[] = {{"domino", IdentifyDomino, 220}};
constexpr FriendlyName kDominoNames[] = {
    {Analyzer::Domino, "domino"}, {Analyzer::LinkViewPro, "linkview"}};
}  // namespace

constexpr AnalyzerInfo kDominoAnalyzers[] = {
    {Analyzer::Domino, "Domino (Acterna/WWG)", "DM", ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wan},
    {Analyzer::LinkViewPro, "LinkView PRO (Acterna/WWG)", "LV", ".cap",
     Media::Ethernet | Media::TokenRing},
};

extern const FormatDescriptor kDominoFormat = {
    .family = "Domino",
    .analyzers = kDominoAnalyzers,
    .reads = MaskOf({Analyzer::Domino, Analyzer::LinkViewPro}),
    .writes = MaskOf({Analyzer::Domino, Analyzer::LinkViewPro}),
    .aliases = kDominoNames,
    .finishingText = "Writing Domino index data; please wait...",
    .sourcePatterns = "*.cap",
    .identify = kDominoRules,
    .topology = DominoTopology,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
    .writeHeader = WriteDominoHeader,
    .writeFrame = WriteDominoFrame,
    .finish = FinishDomino,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535, .timeUnitNanoseconds = kTimeUnit * 1000,
                .keptFlags = Flag::Bad | Flag::Direction1 | Flag::Direction2,
                .largestSpanMicroseconds = kLargestSpan, .spanCountedFromMicroseconds = kMicrosPerSecond},
};

}  // namespace morph
