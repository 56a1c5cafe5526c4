// LAN900 trace files. The file carries no date: frame times are PC-timer
// ticks since midnight of the trace date and keep counting past it.
#include "formats/lan900.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/identify.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

using namespace Lan900;

constexpr int kEthernetFcs = 4;
constexpr int64_t kHoldBackMicros = 60LL * 1000000;  // backward steps held at the last time
constexpr uint8_t kMagic[4] = {3, 148, 8, 2};
constexpr uint8_t kErrorCrc = 0x01, kErrorAlignment = 0x02;

struct ReaderContext : FormatContext {
  int pages = 0;
  std::vector<uint16_t> table;  // frame records per page
  int64_t total = 0;            // frame records in all pages
  int64_t taken = 0;            // frame records taken from the pages
  int64_t boundary = 0;         // records up to the end of the current page
  int page = 0;
  bool started = false;
  int64_t previousTime = 0;
};

struct WriterContext : FormatContext {
  bool ethernet = false;  // fixed at the header
  int page = 1;
  int64_t used = 0;
  uint16_t inPage = 0;
  uint16_t table[kMaxPages] = {};
  // A record laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  uint8_t aside[kRecordHeaderSize + 2 + FrameBufferBytes];
};

void ReadHeaderStep(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  s.sourceHasNoFrames = true;
  FileBlock h = ReadFileBlock(*c.source, 0, size_t(kPageTableAt) + 2 * kMaxPages);
  if (h.size() < size_t(kPageTableAt)) {
    FailRead(s, "the LAN900 header page is cut short");
    return;
  }
  int pages = int(h.le16(40));
  const int first = int(h.le16(42)), last = int(h.le16(44));
  if (last == 0) return;  // an empty trace
  if (first == 1) pages = last;
  pages = std::min(pages, kMaxPages);
  if (pages == 0) return;
  if (first < 1 || first > pages) {
    FailRead(s, "first page " + Grouped(first) + " lies outside the page table of " +
                    Grouped(pages) + " pages");
    return;
  }
  if (!h.fits(kPageTableAt, size_t(pages) * 2)) {
    FailRead(s, "the page table of " + Grouped(pages) + " pages is cut short");
    return;
  }
  s.sourceHasNoFrames = false;
  r.pages = pages;
  r.table.resize(size_t(pages));
  for (int p = 0; p < pages; ++p) {
    r.table[size_t(p)] = uint16_t(h.le16(size_t(kPageTableAt) + 2 * size_t(p)));
    r.total += r.table[size_t(p)];
  }
  r.page = first;
  r.boundary = r.table[size_t(first - 1)];
  if (!c.source->seek(first * kPageSize))
    FailRead(s, "page " + Grouped(first) + " lies beyond the file");
}

// Moves on to the next page holding records when the current one is used up.
bool NextPageIfDone(Conversion& c, ReaderContext& r) {
  for (int turns = 0; r.taken >= r.boundary; ++turns) {
    if (turns > r.pages) return false;  // cannot happen while records remain
    r.page = r.page == r.pages ? 1 : r.page + 1;
    r.boundary += r.table[size_t(r.page - 1)];
    if (!c.source->seek(r.page * kPageSize)) {
      FailRead(c.state, "page " + Grouped(r.page) + " lies beyond the file");
      return false;
    }
  }
  return true;
}

int64_t TicksToMicros(uint64_t ticks) { return RoundHalfAway(double(ticks) * kTickMicroseconds); }

// Fills the current frame from the next frame record. False when the record
// is not to be delivered (`skipped`), at the end, or on a failure.
bool ReadRecord(Conversion& c, ReaderContext& r, bool& skipped) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  skipped = false;
  if (!NextPageIfDone(c, r)) return false;
  const int64_t at = in.position();
  const int64_t record = s.counters.framesRead + 1;
  uint8_t h[kRecordHeaderSize];
  uint8_t wireBytes[2];
  if (!in.readExact(h, sizeof h)) {
    FailRead(s, AtRecord(record, at) + "record header cut short");
    return false;
  }
  const int32_t body = GetLE16(h + 2);
  // Records never cross a page: what lies past its end belongs to the next.
  const int64_t pageEnd = int64_t(r.page + 1) * kPageSize;
  if (at + kRecordHeaderSize + body > pageEnd) {
    FailRead(s, AtRecord(record, at) + "record of " + Grouped(body) +
                    " bytes runs past the end of its page at offset " + Grouped(pageEnd));
    return false;
  }
  if (h[0] != kFrameRecord) {  // another kind of record is passed over
    skipped = true;
    if (!in.skip(body)) FailRead(s, AtRecord(record, at) + "record runs past the file");
    return false;
  }
  ++r.taken;
  const int32_t bytes = body - 2;
  if (bytes < 0 || !in.readExact(wireBytes, 2) ||
      !in.readExact(s.frame.frameData.data(), size_t(bytes))) {
    FailRead(s, AtRecord(record, at) + "frame record of " + Grouped(body) + " bytes cut short");
    return false;
  }
  const int media = h[1] & 0x1F;
  const bool ethernet = media == kMediaEthernet || media == kMediaEthernet2;
  const bool tokenRing = media == kMediaTokenRing;
  if (s.status.probeOnly) {
    s.traceTopology = ethernet ? Topo::Ethernet : tokenRing ? Topo::TokenRing : Topo::Unknown;
  } else if (!ethernet && !tokenRing) {
    skipped = true;
    return false;
  }
  s.frame.frameFlags = 0;
  if (h[4] & kErrorCrc) s.frame.frameFlags |= Flag::CrcError;
  if (h[4] & kErrorAlignment) s.frame.frameFlags |= Flag::AlignmentError;
  const uint64_t ticks = uint64_t(GetLE32(h + 5)) * 65536 + GetLE16(h + 9);
  int64_t time = TicksToMicros(ticks);
  if (r.started && time < r.previousTime && r.previousTime - time < kHoldBackMicros)
    time = r.previousTime;
  r.started = true;
  r.previousTime = time;
  s.frame.frameTime = time;

  const int32_t wire = GetLE16(wireBytes);
  // An Ethernet frame stored without its FCS gets it rebuilt.
  const bool rebuildFcs = ethernet && wire - bytes == kEthernetFcs;
  s.frame.storedLength = rebuildFcs ? wire : bytes;
  s.frame.frameLength = std::max(wire, s.frame.storedLength);
  ClampFrameLength(s);
  if (rebuildFcs) StoreEthernetFcs(s);
  return true;
}

// The next frame record of the pages, up to the frames the page table
// counts; other records are passed over.
ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  while (r.taken < r.total) {
    bool skipped = false;
    if (ReadRecord(c, r, skipped)) return ReadStatus::Record;
    if (!skipped || s.status.readError) return RecordOrEnd(s, false);
    if (r.taken < r.total && c.SourceAtEnd()) {
      FailRead(s, "the pages end before the " + Grouped(r.total) + " frames of the page table");
      return ReadStatus::Failed;
    }
  }
  return ReadStatus::End;
}

void WriteHeaderPage(Conversion& c) {
  WriterContext& w = c.WriterContext<WriterContext>();
  std::vector<uint8_t> page(kPageSize, 0);
  std::memcpy(page.data(), kMagic, sizeof kMagic);
  PutLE16(&page[40], uint16_t(w.page));
  PutLE16(&page[42], 1);
  PutLE16(&page[44], uint16_t(w.page));
  for (int p = 0; p < w.page; ++p) PutLE16(&page[kPageTableAt + 2 * size_t(p)], w.table[size_t(p)]);
  c.target->seek(0);
  c.target->write(page.data(), page.size());
}

}  // namespace

std::optional<AnalyzerType> IdentifyLan900(IdentifyInput& in) {
  if (in.upperPath.find(".DAT") != std::string::npos && in.fileSize >= kMinimumFileSize &&
      in.head.u8(0) == kMagic[0] && in.head.u8(1) == kMagic[1])
    return Analyzer::Lan900;
  return std::nullopt;
}

Topology Lan900Topology(TopologyInput& t) {
  ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, Topo::Unknown);
  if (!probe.ran) return Topo::Unknown;
  if (probe.noFrames) {
    // An empty trace has no frame to decide the media by; it is reported as
    // having no frames rather than as an unknown interface.
    t.s.sourceHasNoFrames = true;
    return Topo::Ethernet;
  }
  return probe.delivered ? probe.topology : Topo::Unknown;
}

void WriteLan900Header(Conversion& c, int32_t /*frameNumber*/) {
  c.WriterContext<WriterContext>().ethernet = c.state.traceTopology == Topo::Ethernet;
  WriteHeaderPage(c);
}

void WriteLan900Frame(Conversion& c) {
  ConversionState& s = c.state;
  WriterContext& w = c.WriterContext<WriterContext>();
  const bool ethernet = w.ethernet;
  // A whole Ethernet frame leaves its FCS out; every other frame keeps every
  // stored byte.
  const int32_t bytes = ethernet ? std::max(0, std::min(s.frame.storedLength, s.frame.frameLength - kEthernetFcs))
                                 : std::max(0, s.frame.storedLength);
  const int32_t body = bytes + 2;
  const int64_t frameTime = WriterFrameTime(s);
  const int64_t ticks = FloorToInt(double(frameTime) / kTickMicroseconds);
  if (ticks < 0 || ticks >= int64_t(65536) * 4294967296) {
    FailWrite(s, "frame " + Grouped(s.counters.framesWritten - s.counters.nonDataFrames) + ": time " +
                     Grouped(frameTime) + " microseconds lies outside a LAN900 tick count");
    return;
  }
  const bool nextPage = w.used + kRecordHeaderSize + s.frame.storedLength >= kPageSize ||
                        w.used + kRecordHeaderSize + body > kPageSize;
  // The file ends with the frame's page; the page table reaches 4,096 pages.
  const uint64_t end = uint64_t(w.page + (nextPage ? 2 : 1)) * kPageSize;
  constexpr uint64_t kTableReach = uint64_t(kMaxPages + 1) * kPageSize;
  if (!c.RoomForFrame(end, kTableReach)) return;
  if (nextPage) {
    c.target->writeZeros(size_t(kPageSize - w.used));
    ++w.page;
    w.used = 0;
    w.inPage = 0;
  }
  const uint64_t t = uint64_t(ticks);
  uint8_t errors = 0;
  if (s.frame.frameFlags & Flag::CrcError) errors |= kErrorCrc;
  if (s.frame.frameFlags & Flag::AlignmentError) errors |= kErrorAlignment;
  WriteRecord(*c.target, size_t(kRecordHeaderSize + 2 + bytes), w.aside, [&](uint8_t* h) {
    h[0] = kFrameRecord;
    h[1] = ethernet ? kMediaEthernet : kMediaTokenRing;
    PutLE16(h + 2, uint16_t(body));
    h[4] = errors;
    PutLE32(h + 5, uint32_t(t / 65536));
    PutLE16(h + 9, uint16_t(t % 65536));
    h[11] = 0;
    PutLE16(h + 12, uint16_t(s.frame.frameLength));
    CopyBytes(h + kRecordHeaderSize + 2, s.frame.frameData.data(), size_t(bytes));
  });
  w.used += kRecordHeaderSize + body;
  ++w.inPage;
  w.table[size_t(w.page - 1)] = w.inPage;
}

void FinishLan900(Conversion& c, int32_t /*framesWritten*/) {
  if (c.state.status.headerPending) return;  // nothing was written
  WriterContext& w = c.WriterContext<WriterContext>();
  c.target->writeZeros(size_t(kPageSize - w.used));
  WriteHeaderPage(c);
}

namespace {
constexpr FriendlyName kLan900Names[] = {{Analyzer::Lan900, "lan900"}};
// Tried at 160: needs the .dat suffix, a size of 128 KiB and two bytes.
constexpr IdentifyRule kLan900Rules[] = {{"lan900", IdentifyLan900, 160}};
}  // namespace

constexpr AnalyzerInfo kLan900Analyzers[] = {
    {Analyzer::Lan900, "LAN900 (Digitech)", "L9", ".dat", Media::Ethernet | Media::TokenRing},
};

const FormatDescriptor kLan900Format = {
    .family = "LAN900",
    .analyzers = kLan900Analyzers,
    .reads = MaskOf({Analyzer::Lan900}),
    .writes = MaskOf({Analyzer::Lan900}),
    .aliases = kLan900Names,
    .sourcePatterns = "*.dat",
    .capabilities =
        Capability::DropsEthernetFcs | Capability::DatedByFileTime | Capability::KnownBySuffix,
    .identify = kLan900Rules,
    .topology = Lan900Topology,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
    .writeHeader = WriteLan900Header,
    .writeFrame = WriteLan900Frame,
    .finish = FinishLan900,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535, .keptFlags = Flag::Bad},
};

}  // namespace morph
