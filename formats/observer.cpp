// Observer packet-buffer files. In the chained layout the reader follows the
// chain of packet records forwards only; the writer links each record to the
// one before and completes the chain and the header's end offset when the
// conversion finishes. In the tagged layout records simply follow one
// another and the header needs no going back.
#include "formats/observer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

using namespace Observer;

constexpr const char kVersionText[] =
    "ObserverPktBufferVersion=4.00LocalAddressTable\\Local Address Table.adr";
constexpr const char kTaggedVersionText[] = "ObserverPktBufferVersion=15.00";
constexpr int kEndOffsetAt = 109;
constexpr int kEthernetFcs = 4;
constexpr uint32_t kErrorCrc = 0x2, kErrorAlignment = 0x1, kErrorShort = 0x4;
// Data that still fits the frame buffer with an FCS added.
constexpr uint32_t kMaxDataLength = FrameBufferBytes - kEthernetFcs;

uint32_t MediaType(Topology topology) {
  switch (topology) {
    case Topo::TokenRing: return 1;
    case Topo::Fddi: return 2;
    case Topo::Wireless: return 9;
    default: return 0;
  }
}

// The tagged layout: header entries, and what a packet record holds.
constexpr uint16_t kCommentEntry = 2, kTimeEntry = 4;
constexpr uint32_t kUtcTimes = 1;  // time format of a time entry; 0 is local time
constexpr int kTaggedEntries = 1;  // written: the time entry
constexpr int kTimeEntrySize = 8;
constexpr size_t kLongestComment = 300;  // what a file comment holds
constexpr int kTaggedWrittenHeader = kTaggedHeaderSize + kTimeEntrySize;
// Records state 16-bit sizes; the wire size counts 4 bytes beyond the frame
// on every medium.
constexpr int32_t kLargestTaggedData = 0xFFFF - kTaggedPacketHeaderSize;
constexpr int32_t kTaggedWireExtra = 4;
// Written as the analyzer writes it; readers pass it over.
constexpr uint32_t kTaggedRecordWord = 1000000;
// Record times count nanoseconds from 2000-01-01 00:00.
constexpr int64_t kTaggedEpoch = 946684800;

std::optional<Topology> TaggedMedium(int64_t networkType) {
  switch (networkType) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    default: return std::nullopt;
  }
}

struct ReaderContext : FormatContext {
  int major = 4;
  ObserverLayout layout = ObserverLayout::Chained;
  bool localTimes = true;  // tagged: times are local unless a time entry says UTC
  bool started = false;    // tagged: the trace is dated from its first frame
  // Chained: where the record handed on last starts, where its bytes end and
  // the next record's offset it states.
  bool chainStarted = false;
  int64_t at = 0, endAt = 0, nextAt = 0;
  TimeOfDayClock clock;
  UnixFrameClock unixClock;
};

struct WriterContext : FormatContext {
  bool tagged = false;
  int64_t end = 0;  // where the target ends: the header and the records so far
  bool haveLast = false;
  int64_t lastOffset = 0;
  // Fixed at the header: the same for every frame of a conversion.
  bool ethernet = false, wireless = false;
  uint32_t mediaType = 0;
  SteppedUnixClock clock;  // tagged: UTC times, from the header step on
  // A record laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  uint8_t aside[kPacketHeaderSize + kRadioHeaderSize + FrameBufferBytes + 4];
};

// The tagged header's entries, between its fixed part and the first packet:
// the time entry tells whether times are local or UTC (its last four bytes;
// files with no time entry state local times); the comment is the file's.
bool ReadTaggedEntries(Conversion& c, ReaderContext& r, const uint8_t* fixed) {
  ConversionState& s = c.state;
  const int64_t firstPacket = GetLE16(fixed + 32);
  const int entries = fixed[35];
  r.localTimes = true;
  int64_t at = kTaggedHeaderSize;
  for (int i = 0; i < entries; ++i) {
    uint8_t e[4];
    if (at + 4 > firstPacket || !c.source->readExact(e, sizeof e))
      return FailRead(s, "Observer header entry " + Grouped(i + 1) + " at " + AtOffset(at) +
                             "lies beyond the first packet at offset " + Grouped(firstPacket));
    const uint16_t type = GetLE16(e), length = GetLE16(e + 2);
    if (length < 4 || at + length > firstPacket)
      return FailRead(s, "Observer header entry " + Grouped(i + 1) + " at " + AtOffset(at) +
                             "length " + Grouped(length) + " runs past the first packet at offset " +
                             Grouped(firstPacket));
    std::vector<uint8_t> value(length - 4u);
    if (!c.source->readExact(value.data(), value.size()))
      return FailRead(s, "Observer header entry " + Grouped(i + 1) + " at " + AtOffset(at) +
                             "is cut short");
    if (type == kTimeEntry && value.size() >= 4)
      r.localTimes = GetLE32(value.data() + value.size() - 4) == 0;
    if (type == kCommentEntry) {
      s.fileComment.assign(value.begin(), std::find(value.begin(), value.end(), uint8_t(0)));
      if (s.fileComment.size() > kLongestComment) s.fileComment.resize(kLongestComment);
    }
    at += length;
  }
  if (!c.source->seek(firstPacket))
    return FailRead(s, "the first Observer packet at offset " + Grouped(firstPacket) +
                           " cannot be reached");
  return true;
}

void ReadHeaderStep(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  r.layout = ObserverLayoutOf(*c.source);
  const size_t headerSize = r.layout == ObserverLayout::Tagged ? kTaggedHeaderSize : kFileHeaderSize;
  uint8_t h[kFileHeaderSize];
  if (!c.source->seek(0) || !c.source->readExact(h, headerSize)) {
    FailRead(s, "the Observer file header is cut short");
    return;
  }
  const std::string version = ObserverVersionText(h, headerSize);
  if (r.layout == ObserverLayout::Unread) {
    FailRead(s, "Observer version " + (version.empty() ? "(none)" : version) +
                    " is a layout this program does not read");
    return;
  }
  r.major = *ObserverMajorVersion(version);
  r.started = false;
  if (r.layout == ObserverLayout::Tagged) ReadTaggedEntries(c, r, h);
}

// Stored and wire lengths of a record with data length d and original length o.
void SetLengths(ConversionState& s, int major, int32_t d, int32_t o) {
  const bool ethernet = s.traceTopology == Topo::Ethernet;
  if (major < 4) {
    s.frame.frameLength = s.frame.storedLength = d + (ethernet ? kEthernetFcs : 0);
  } else if (o == d) {
    s.frame.frameLength = s.frame.storedLength = o;
  } else if (ethernet) {
    s.frame.frameLength = std::max(o, d);
    s.frame.storedLength = o - d == kEthernetFcs ? d + kEthernetFcs : d;
  } else {
    // Cut frames and 802.11 frames keep the wire length and every stored byte.
    s.frame.frameLength = std::max(o, d);
    s.frame.storedLength = d;
  }
}

// Fills the current frame from the record at the stream position `at` and
// returns the next record's offset through `next`, where the record's bytes
// end through `end`. False at the end or on a failure.
bool ReadRecord(Conversion& c, ReaderContext& r, int64_t at, int64_t& next, int64_t& end) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t record = s.counters.framesRead + 1;
  uint8_t h[kPacketHeaderSize];
  const size_t got = in.fetch(h, sizeof h);
  if (got == 0 && !in.failed()) return false;
  if (got != sizeof h) {
    FailRead(s, AtRecord(record, at) + "packet header cut short");
    return false;
  }
  if (GetLE32(h) != kMarker) {
    FailRead(s, AtRecord(record, at) + "no packet marker");
    return false;
  }
  const uint32_t original = GetLE32(h + 28), errors = GetLE32(h + 32);
  const uint32_t millis = GetLE32(h + 36), data = GetLE32(h + 40);
  next = GetLE32(h + 12);
  if (s.traceTopology == Topo::Wireless) {
    uint8_t radio[kRadioHeaderSize];
    if (!in.readExact(radio, sizeof radio)) {
      FailRead(s, AtRecord(record, at) + "radio header cut short");
      return false;
    }
    s.frame.wirelessDataRate = radio[2];
    s.frame.wirelessChannel = radio[3];
    s.frame.wirelessNoise = radio[4];
    s.frame.wirelessSignal = radio[5];
  }
  if (data > kMaxDataLength || original > uint32_t(INT32_MAX)) {
    FailRead(s, AtRecord(record, at) + "data length " + Grouped(data) + " exceeds " +
                    Grouped(kMaxDataLength));
    return false;
  }
  if (!in.readExact(s.frame.frameData.data(), data)) {
    FailRead(s, AtRecord(record, at) + "frame data cut short");
    return false;
  }
  end = at + int64_t(sizeof h + data) + (s.traceTopology == Topo::Wireless ? kRadioHeaderSize : 0);
  s.frame.frameFlags = 0;
  if (errors & kErrorCrc) s.frame.frameFlags |= Flag::CrcError;
  if (errors & kErrorAlignment) s.frame.frameFlags |= Flag::AlignmentError;
  s.frame.frameTime = r.clock(int64_t(millis) * 1000);
  SetLengths(s, r.major, int32_t(data), int32_t(original));
  ClampFrameLength(s);
  if (s.traceTopology == Topo::Ethernet) {
    const bool bad = (s.frame.frameFlags & Flag::Bad) != 0;
    if (s.frame.frameLength < 64 && !bad && s.frame.storedLength == s.frame.frameLength) {
      ZeroFrameBytes(s, s.frame.storedLength, 64);
      s.frame.frameLength = s.frame.storedLength = 64;
    }
    // Only a frame held whole ends in its FCS.
    if (s.frame.storedLength == s.frame.frameLength) StoreEthernetFcs(s);
  }
  return true;
}

// The time of a tagged record: nanoseconds since 2000, UTC or local.
void SetTaggedTime(ConversionState& s, ReaderContext& r, uint64_t nanoseconds) {
  const int64_t seconds = int64_t(nanoseconds / 1000000000) + kTaggedEpoch;
  const int64_t micros = int64_t(nanoseconds % 1000000000 / 1000);
  s.frame.frameNanoseconds = int32_t(nanoseconds % 1000);
  if (r.localTimes) {
    // A local time read as UTC gives the local date; the zone gives the bias.
    if (!r.started) {
      SetTraceDateFromUnix(s, seconds, 0);
      ComputeTimeZoneBias(s, false);
    }
    const int64_t midnight = DaysFrom1970(s.time.traceDate) * kSecondsPerDay;
    s.frame.frameTime = (seconds - midnight) * kMicrosPerSecond + micros;
  } else {
    if (!r.started) StartTraceAtUnixTime(s, seconds);
    s.frame.frameTime = r.unixClock(s, seconds, micros);
  }
  r.started = true;
}

// Skips n bytes, from the block in hand where it holds them.
bool PassOver(SourceStream& in, int64_t n) {
  if (uint64_t(n) <= in.inHandSize()) {
    in.consume(size_t(n));
    return true;
  }
  return in.skip(n);
}

// Fills the current frame from the tagged record at the stream's position.
// False at a clean end of the file or on a failure.
bool ReadTaggedRecord(Conversion& c, ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t at = in.position();
  const int64_t record = s.counters.framesRead + 1;
  uint8_t h[kTaggedPacketHeaderSize];
  const size_t got = in.fetch(h, sizeof h);
  if (got == 0 && !in.failed()) return false;
  if (got != sizeof h) return FailRead(s, AtRecord(record, at) + "packet header cut short");
  if (GetLE32(h) != kMarker) return FailRead(s, AtRecord(record, at) + "no packet marker");
  const int32_t captured = GetLE16(h + 8), wire = GetLE16(h + 10);
  const int32_t frameAt = GetLE16(h + 12), nextAt = GetLE16(h + 14);
  const std::optional<Topology> medium = TaggedMedium(h[16]);
  if (!medium || *medium != s.traceTopology)
    return FailRead(s, AtRecord(record, at) + "network type " + Grouped(h[16]) +
                           " differs from the trace's first");
  if (frameAt < kTaggedPacketHeaderSize || nextAt < frameAt + captured)
    return FailRead(s, AtRecord(record, at) + "frame offset " + Grouped(frameAt) +
                           " and next offset " + Grouped(nextAt) + " do not hold its " +
                           Grouped(captured) + " bytes");
  if (!PassOver(in, frameAt - kTaggedPacketHeaderSize))
    return FailRead(s, AtRecord(record, at) + "frame offset " + Grouped(frameAt) +
                           " lies beyond the end of the file");
  if (!ReadFrameBytes(c, FrameRecord{record, at, nextAt - frameAt}, captured)) return false;
  if (!PassOver(in, nextAt - frameAt - captured))
    return FailRead(s, AtRecord(record, at) + "next offset " + Grouped(nextAt) +
                           " lies beyond the end of the file");
  // Any error bit marks the frame bad: the layout does not tell which.
  s.frame.frameFlags = h[19] != 0 ? Flag::CrcError : 0;
  SetTaggedTime(s, r, GetLE64(h + 40));
  if (s.traceTopology == Topo::Ethernet) {
    // The wire size counts the FCS, as in the chained layout.
    SetLengths(s, r.major, captured, wire);
    ClampFrameLength(s);
    const bool bad = (s.frame.frameFlags & Flag::Bad) != 0;
    if (s.frame.frameLength < 64 && !bad && s.frame.storedLength == s.frame.frameLength) {
      ZeroFrameBytes(s, s.frame.storedLength, 64);
      s.frame.frameLength = s.frame.storedLength = 64;
    }
    if (s.frame.storedLength == s.frame.frameLength) StoreEthernetFcs(s);
  } else {
    s.frame.storedLength = captured;
    s.frame.frameLength = std::max(captured, wire - kTaggedWireExtra);
    ClampFrameLength(s);
  }
  return true;
}


// The chained layout's walk from the record handed on last to the one its
// header names next. False at the end of the chain or on a failure.
bool WalkToNextRecord(Conversion& c, ReaderContext& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t fileSize = in.size(), at = r.at, next = r.nextAt;
  if (next == 0 || (fileSize >= 0 && next >= fileSize)) return false;
  if (next <= at)
    return FailRead(s, AtRecord(s.counters.framesRead, at) + "next record offset " + Grouped(next) +
                           " does not lie after the record");
  if (next >= r.endAt && uint64_t(next - r.endAt) <= in.inHandSize()) {
    in.consume(size_t(next - r.endAt));  // the next record follows in the block in hand
  } else if (!in.seek(next)) {
    return FailRead(s, AtRecord(s.counters.framesRead, at) + "next record offset " + Grouped(next) +
                           " cannot be reached");
  }
  r.at = next;
  return true;
}

ReadStatus NextRecord(Conversion& c) {
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  if (r.layout == ObserverLayout::Tagged)
    return NextInTurn(c, [&] { return ReadTaggedRecord(c, r); });
  if (!r.chainStarted) {
    r.chainStarted = true;
    r.at = c.source->position();
  } else if (!WalkToNextRecord(c, r)) {
    return RecordOrEnd(c.state, false);
  }
  return RecordOrEnd(c.state, ReadRecord(c, r, r.at, r.nextAt, r.endAt));
}

void WriteFileHeader(Conversion& c, uint32_t endOffset) {
  uint8_t h[kFileHeaderSize] = {};
  std::memcpy(h, kVersionText, sizeof kVersionText - 1);
  PutLE32(h + kEndOffsetAt, endOffset);
  c.target->seek(0);
  c.target->write(h, sizeof h);
}

}  // namespace

std::string ObserverVersionText(const uint8_t* header, size_t size) {
  const size_t limit = std::min<size_t>(size, 32);
  const uint8_t* end = header + limit;
  const uint8_t* equals = std::find(header, end, uint8_t('='));
  std::string text;
  for (const uint8_t* p = equals == end ? end : equals + 1; p < end; ++p) {
    if (!std::isdigit(*p) && *p != '.') break;
    text += char(*p);
  }
  return text;
}

std::optional<int> ObserverMajorVersion(const std::string& versionText) {
  int major = 0;
  size_t digits = 0;
  for (; digits < versionText.size() && std::isdigit(uint8_t(versionText[digits])); ++digits) {
    if (digits >= 4) return std::nullopt;  // no version of ours has that many digits
    major = major * 10 + (versionText[digits] - '0');
  }
  if (digits == 0) return std::nullopt;
  return major;
}

ObserverLayout ObserverLayoutOf(SourceStream& in) {
  const FileBlock head = ReadFileBlock(in, 0, kTaggedHeaderSize);
  const std::optional<int> major = ObserverMajorVersion(ObserverVersionText(head.data(), head.size()));
  if (!major) return ObserverLayout::Unread;
  const auto markerAt = [&in](int64_t at) {
    return ReadFileBlock(in, at, 4).le32(0) == int64_t(kMarker);
  };
  // Version 9 was written in both: the first packet marker tells which.
  if (*major >= kFirstTaggedMajor && head.le16(32) >= kTaggedHeaderSize && markerAt(head.le16(32)))
    return ObserverLayout::Tagged;
  if (*major <= kLastChainedMajor) return ObserverLayout::Chained;
  return ObserverLayout::Unread;
}

std::optional<std::string> UnreadObserverVersion(const std::string& path) {
  auto in = OpenFileSource(path);
  if (!in) return std::nullopt;
  if (ObserverLayoutOf(*in) != ObserverLayout::Unread) return std::nullopt;
  FileBlock head = ReadFileBlock(*in, 0, 32);
  const std::string text = ObserverVersionText(head.data(), head.size());
  return text.empty() ? "(none)" : text;
}

std::string ObserverRefusal(const std::string& path, const std::string& name) {
  std::optional<std::string> version = UnreadObserverVersion(path);
  return version ? name + " is an Observer version " + *version +
                       " file, a layout this program does not read."
                 : "";
}

std::optional<AnalyzerType> IdentifyObserver(IdentifyInput& in) {
  if (in.head.contains("Observer")) return Analyzer::Observer;
  return std::nullopt;
}

Topology ObserverTopology(TopologyInput& t) {
  // The media type of the first packet record.
  switch (ObserverLayoutOf(t.in)) {
    case ObserverLayout::Unread: return Topo::Unknown;
    case ObserverLayout::Tagged:
      return TaggedMedium(ReadFileBlock(t.in, t.head.le16(32), kTaggedPacketHeaderSize).u8(16))
          .value_or(Topo::Unknown);
    case ObserverLayout::Chained: break;
  }
  switch (t.head.u8(kFileHeaderSize + 20)) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    case 9: return Topo::Wireless;
    default: return Topo::Unknown;
  }
}

void WriteTaggedHeader(Conversion& c) {
  ConversionState& s = c.state;
  if (s.traceTopology != Topo::Ethernet && s.traceTopology != Topo::TokenRing) {
    FailWrite(s, TopologyName(s.traceTopology) + " frames cannot be stored in Observer layout " +
                     std::to_string(kTaggedLayout) + " (Ethernet and Token Ring only)");
    return;
  }
  uint8_t h[kTaggedWrittenHeader] = {};
  std::memcpy(h, kTaggedVersionText, sizeof kTaggedVersionText - 1);
  PutLE16(h + 32, kTaggedWrittenHeader);
  h[35] = kTaggedEntries;
  PutLE16(h + 36, kTimeEntry);
  PutLE16(h + 38, kTimeEntrySize);
  PutLE32(h + 40, kUtcTimes);
  c.target->write(h, sizeof h);
  ComputeWriterTimeBase(s);
  c.WriterContext<WriterContext>().clock.start(s);
}

void WriteTaggedFrame(Conversion& c, WriterContext& w) {
  ConversionState& s = c.state;
  const int64_t number = s.counters.framesWritten - s.counters.nonDataFrames;
  const int32_t data = w.ethernet
                           ? std::max(0, std::min(s.frame.storedLength, s.frame.frameLength - kEthernetFcs))
                           : std::max(0, s.frame.storedLength);
  // Ethernet wire lengths count the FCS already; other media get its room.
  const int32_t wire = std::max(s.frame.frameLength, data) + (w.ethernet ? 0 : kTaggedWireExtra);
  if (data > kLargestTaggedData || wire > 0xFFFF) {
    FailWrite(s, AtRecord(number, c.target->position()) + "frame of " + Grouped(wire) +
                     " bytes exceeds the " + Grouped(kLargestTaggedData) +
                     " an Observer layout 15 record holds");
    return;
  }
  const UnixTime when = w.clock(WriterFrameTime(s));
  if (when.seconds < kTaggedEpoch) {
    FailWrite(s, AtRecord(number, c.target->position()) +
                     "a time before 2000 cannot be stored in Observer layout 15");
    return;
  }
  const uint64_t nanoseconds = uint64_t(when.seconds - kTaggedEpoch) * 1000000000 +
                               uint64_t(when.microseconds) * 1000 +
                               uint64_t(std::clamp(s.frame.frameNanoseconds, 0, 999));
  const size_t size = size_t(kTaggedPacketHeaderSize + data);
  WriteRecord(*c.target, size, w.aside, [&](uint8_t* p) {
    std::memset(p, 0, kTaggedPacketHeaderSize);
    PutLE32(p, kMarker);
    PutLE32(p + 4, kTaggedRecordWord);
    PutLE16(p + 8, uint16_t(data));
    PutLE16(p + 10, uint16_t(wire));
    PutLE16(p + 12, kTaggedPacketHeaderSize);
    PutLE16(p + 14, uint16_t(size));
    p[16] = uint8_t(w.mediaType);
    PutLE64(p + 24, uint64_t(number - 1));
    PutLE64(p + 32, uint64_t(number - 1));
    PutLE64(p + 40, nanoseconds);
    CopyBytes(p + kTaggedPacketHeaderSize, s.frame.frameData.data(), size_t(data));
  });
}

void WriteObserverHeader(Conversion& c, int32_t /*frameNumber*/) {
  WriterContext& w = c.WriterContext<WriterContext>();
  const Topology topology = c.state.traceTopology;
  w.ethernet = topology == Topo::Ethernet;
  w.wireless = topology == Topo::Wireless;
  w.mediaType = MediaType(topology);
  w.tagged = c.state.options.targetLayout == kTaggedLayout;
  if (w.tagged) return WriteTaggedHeader(c);
  WriteFileHeader(c, 0);
  w.end = c.target->position();
}

void WriteObserverFrame(Conversion& c) {
  ConversionState& s = c.state;
  WriterContext& w = c.WriterContext<WriterContext>();
  if (w.tagged) return WriteTaggedFrame(c, w);
  const int32_t number = s.counters.framesWritten - s.counters.nonDataFrames;
  const int64_t frameTime = WriterFrameTime(s);
  const int64_t millis = RoundedDiv(frameTime, 1000);
  if (millis < 0 || millis > INT32_MAX) {
    FailWrite(s, "frame " + Grouped(number) + ": time " + Grouped(frameTime) +
                     " microseconds cannot be stored as an Observer time of day");
    return;
  }
  // A whole Ethernet frame leaves its FCS out; every other frame keeps every
  // stored byte.
  const int32_t data = w.ethernet
                           ? std::max(0, std::min(s.frame.storedLength, s.frame.frameLength - kEthernetFcs))
                           : std::max(0, s.frame.storedLength);
  const int64_t offset = w.end;
  const int64_t next = offset + kPacketHeaderSize + data + 4 + (w.wireless ? kRadioHeaderSize : 0);
  // Records are chained by 32-bit offsets and the header states the end
  // (the call only near the limit).
  if (uint64_t(next) > s.options.targetOffsetLimit && !c.RoomForFrame(uint64_t(next))) return;
  uint32_t errors = 0;
  if (s.frame.frameFlags & Flag::CrcError) errors |= kErrorCrc;
  if (s.frame.frameFlags & Flag::AlignmentError) errors |= kErrorAlignment;
  if (w.ethernet && s.frame.frameLength < 64) errors |= kErrorShort;

  // The first record links back to none: lastOffset is still 0 then.
  const uint32_t previous = uint32_t(w.lastOffset);
  WriteRecord(*c.target, size_t(next - offset), w.aside, [&](uint8_t* p) {
    PutLE32(p, kMarker);
    PutLE32(p + 4, uint32_t(number - 1));
    PutLE32(p + 8, previous);
    PutLE32(p + 12, uint32_t(next));
    PutLE32(p + 16, 0);
    PutLE32(p + 20, w.mediaType);
    PutLE32(p + 24, 0);
    PutLE32(p + 28, uint32_t(s.frame.frameLength));
    PutLE32(p + 32, errors);
    PutLE32(p + 36, uint32_t(millis));
    PutLE32(p + 40, uint32_t(data));
    uint8_t* body = p + kPacketHeaderSize;
    if (w.wireless) {
      const uint8_t radio[kRadioHeaderSize] = {
          0, 0, s.frame.wirelessDataRate, s.frame.wirelessChannel,
          s.frame.wirelessNoise != 0 ? s.frame.wirelessNoise : s.frame.wirelessSignal, s.frame.wirelessSignal, 0, 0};
      std::memcpy(body, radio, sizeof radio);
      body += kRadioHeaderSize;
    }
    CopyBytes(body, s.frame.frameData.data(), size_t(data));
    PutLE32(body + data, 0);
  });
  w.lastOffset = offset;
  w.haveLast = true;
  w.end = next;
}

void FinishObserver(Conversion& c, int32_t /*framesWritten*/) {
  WriterContext& w = c.WriterContext<WriterContext>();
  if (c.state.status.headerPending || w.tagged) return;  // nothing was written, or nothing to complete
  const int64_t end = c.target->position();
  if (w.haveLast) {
    const uint8_t none[4] = {};  // the last record's next offset: it ends the chain
    c.target->seek(w.lastOffset + 12);
    c.target->write(none, sizeof none);
  }
  WriteFileHeader(c, uint32_t(end));
}

namespace {
constexpr FriendlyName kObserverNames[] = {{Analyzer::Observer, "observer"}};
// Tried at 170: text anywhere in the first bytes; after NetMon and the others that may embed it.
constexpr IdentifyRule kObserverRules[] = {{"observer", IdentifyObserver, 170}};
}  // namespace

constexpr AnalyzerInfo kObserverAnalyzers[] = {
    {Analyzer::Observer, "Observer (Network Instruments)", "OB", ".bfr",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wireless},
};

const FormatDescriptor kObserverFormat = {
    .family = "Observer",
    .analyzers = kObserverAnalyzers,
    .reads = MaskOf({Analyzer::Observer}),
    .writes = MaskOf({Analyzer::Observer}),
    .aliases = kObserverNames,
    .sourcePatterns = "*.bfr",
    .capabilities = Capability::DropsEthernetFcs | Capability::DatedByFileTime,
    .identify = kObserverRules,
    .topology = ObserverTopology,
    .unreadLayout = ObserverRefusal,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
    .writeHeader = WriteObserverHeader,
    .writeFrame = WriteObserverFrame,
    .finish = FinishObserver,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes, .timeUnitNanoseconds = 1000000,
                .keepsDate = false, .keptFlags = Flag::Bad},
};

}  // namespace morph
