// Observer packet-buffer files. The reader follows the chain of packet records
// forwards only; the writer links each record to the one before and completes
// the chain and the header's end offset when the conversion finishes.
#include "formats/observer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

struct ReaderContext : FormatContext {
  int major = 4;
  TimeOfDayClock clock;
};

struct WriterContext : FormatContext {
  int64_t end = 0;  // where the target ends: the header and the records so far
  bool haveLast = false;
  int64_t lastOffset = 0;
  // Fixed at the header: the same for every frame of a conversion.
  bool ethernet = false, wireless = false;
  uint32_t mediaType = 0;
  // A record laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  uint8_t aside[kPacketHeaderSize + kRadioHeaderSize + FrameBufferBytes + 4];
};

void ReadHeaderStep(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  s.FramesRead = 0;
  uint8_t h[kFileHeaderSize];
  if (!c.source->readExact(h, sizeof h)) {
    FailRead(s, "the Observer file header is cut short");
    return;
  }
  const std::string version = ObserverVersionText(h, sizeof h);
  if (!ObserverLayoutRead(h, sizeof h)) {
    FailRead(s, "Observer version " + (version.empty() ? "(none)" : version) +
                    " is a layout this program does not read");
    return;
  }
  r.major = *ObserverMajorVersion(version);
}

// Stored and wire lengths of a record with data length d and original length o.
void SetLengths(ConversionState& s, int major, int32_t d, int32_t o) {
  const bool ethernet = s.TraceTopology == Topo::Ethernet;
  if (major < 4) {
    s.FrameLength = s.StoredLength = d + (ethernet ? kEthernetFcs : 0);
  } else if (o == d) {
    s.FrameLength = s.StoredLength = o;
  } else if (ethernet) {
    s.FrameLength = std::max(o, d);
    s.StoredLength = o - d == kEthernetFcs ? d + kEthernetFcs : d;
  } else {
    // Cut frames and 802.11 frames keep the wire length and every stored byte.
    s.FrameLength = std::max(o, d);
    s.StoredLength = d;
  }
}

// Fills the current frame from the record at the stream position `at` and
// returns the next record's offset through `next`, where the record's bytes
// end through `end`. False at the end or on a failure.
bool ReadRecord(Conversion& c, ReaderContext& r, int64_t at, int64_t& next, int64_t& end) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t record = s.FramesRead + 1;
  uint8_t h[kPacketHeaderSize];
  const size_t got = in.fetch(h, sizeof h);
  if (got == 0 && !in.failed()) {
    s.EndOfSource = true;
    return false;
  }
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
  if (s.TraceTopology == Topo::Wireless) {
    uint8_t radio[kRadioHeaderSize];
    if (!in.readExact(radio, sizeof radio)) {
      FailRead(s, AtRecord(record, at) + "radio header cut short");
      return false;
    }
    s.WirelessDataRate = radio[2];
    s.WirelessChannel = radio[3];
    s.WirelessNoise = radio[4];
    s.WirelessSignal = radio[5];
  }
  if (data > kMaxDataLength || original > uint32_t(INT32_MAX)) {
    FailRead(s, AtRecord(record, at) + "data length " + Grouped(data) + " exceeds " +
                    Grouped(kMaxDataLength));
    return false;
  }
  if (!in.readExact(s.FrameData.data(), data)) {
    FailRead(s, AtRecord(record, at) + "frame data cut short");
    return false;
  }
  end = at + int64_t(sizeof h + data) + (s.TraceTopology == Topo::Wireless ? kRadioHeaderSize : 0);
  s.FrameFlags = 0;
  if (errors & kErrorCrc) s.FrameFlags |= Flag::CrcError;
  if (errors & kErrorAlignment) s.FrameFlags |= Flag::AlignmentError;
  s.FrameTime = r.clock(int64_t(millis) * 1000);
  SetLengths(s, r.major, int32_t(data), int32_t(original));
  ClampFrameLength(s);
  if (s.TraceTopology == Topo::Ethernet) {
    const bool bad = (s.FrameFlags & Flag::Bad) != 0;
    if (s.FrameLength < 64 && !bad && s.StoredLength == s.FrameLength) {
      ZeroFrameBytes(s, s.StoredLength, 64);
      s.FrameLength = s.StoredLength = 64;
    }
    // Only a frame held whole ends in its FCS.
    if (s.StoredLength == s.FrameLength) StoreEthernetFcs(s);
  }
  return true;
}

void ReadFrames(Conversion& c, bool singleFrame) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  SourceStream& in = *c.source;
  const int64_t fileSize = in.size();
  int64_t at = in.position();
  do {
    int64_t next = 0, end = 0;
    if (!ReadRecord(c, r, at, next, end)) break;
    s.WriteFailed = c.ProcessFrame();
    if (s.WriteFailed || s.ReadError) break;
    if (next == 0 || (fileSize >= 0 && next >= fileSize)) {
      s.EndOfSource = true;
    } else if (next <= at) {
      FailRead(s, AtRecord(s.FramesRead, at) + "next record offset " + Grouped(next) +
                      " does not lie after the record");
    } else if (next >= end && uint64_t(next - end) <= in.inHandSize()) {
      in.consume(size_t(next - end));  // the next record follows in the block in hand
      at = next;
    } else if (!in.seek(next)) {
      FailRead(s, AtRecord(s.FramesRead, at) + "next record offset " + Grouped(next) +
                      " cannot be reached");
    } else {
      at = next;
    }
  } while (ReadOn(s, singleFrame));
  s.FramesReadTotal = s.FramesRead;
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

bool ObserverLayoutRead(const uint8_t* header, size_t size) {
  const std::optional<int> major = ObserverMajorVersion(ObserverVersionText(header, size));
  return major && *major <= kLastMajorRead;
}

std::optional<std::string> UnreadObserverVersion(const std::string& path) {
  auto in = OpenFileSource(path);
  if (!in) return std::nullopt;
  FileBlock head = ReadFileBlock(*in, 0, 32);
  if (ObserverLayoutRead(head.data(), head.size())) return std::nullopt;
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
  if (!ObserverLayoutRead(t.head.data(), t.head.size())) return Topo::Unknown;
  // The media type of the first packet record.
  switch (t.head.u8(kFileHeaderSize + 20)) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    case 9: return Topo::Wireless;
    default: return Topo::Unknown;
  }
}

void WriteObserverHeader(Conversion& c, int32_t /*frameNumber*/) {
  WriteFileHeader(c, 0);
  WriterContext& w = c.WriterContext<WriterContext>();
  w.end = c.target->position();
  const Topology topology = c.state.TraceTopology;
  w.ethernet = topology == Topo::Ethernet;
  w.wireless = topology == Topo::Wireless;
  w.mediaType = MediaType(topology);
}

void WriteObserverFrame(Conversion& c) {
  ConversionState& s = c.state;
  WriterContext& w = c.WriterContext<WriterContext>();
  const int32_t number = s.FramesWritten - s.NonDataFrames;
  const int64_t millis = RoundedDiv(s.FrameTime, 1000);
  if (millis < 0 || millis > INT32_MAX) {
    FailWrite(s, "frame " + Grouped(number) + ": time " + Grouped(s.FrameTime) +
                     " microseconds cannot be stored as an Observer time of day");
    return;
  }
  // A whole Ethernet frame leaves its FCS out; every other frame keeps every
  // stored byte.
  const int32_t data = w.ethernet
                           ? std::max(0, std::min(s.StoredLength, s.FrameLength - kEthernetFcs))
                           : std::max(0, s.StoredLength);
  const int64_t offset = w.end;
  const int64_t next = offset + kPacketHeaderSize + data + 4 + (w.wireless ? kRadioHeaderSize : 0);
  // Records are chained by 32-bit offsets and the header states the end
  // (the call only near the limit).
  if (uint64_t(next) > s.TargetOffsetLimit && !c.RoomForFrame(uint64_t(next))) return;
  uint32_t errors = 0;
  if (s.FrameFlags & Flag::CrcError) errors |= kErrorCrc;
  if (s.FrameFlags & Flag::AlignmentError) errors |= kErrorAlignment;
  if (w.ethernet && s.FrameLength < 64) errors |= kErrorShort;

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
    PutLE32(p + 28, uint32_t(s.FrameLength));
    PutLE32(p + 32, errors);
    PutLE32(p + 36, uint32_t(millis));
    PutLE32(p + 40, uint32_t(data));
    uint8_t* body = p + kPacketHeaderSize;
    if (w.wireless) {
      const uint8_t radio[kRadioHeaderSize] = {
          0, 0, s.WirelessDataRate, s.WirelessChannel,
          s.WirelessNoise != 0 ? s.WirelessNoise : s.WirelessSignal, s.WirelessSignal, 0, 0};
      std::memcpy(body, radio, sizeof radio);
      body += kRadioHeaderSize;
    }
    CopyBytes(body, s.FrameData.data(), size_t(data));
    PutLE32(body + data, 0);
  });
  w.lastOffset = offset;
  w.haveLast = true;
  w.end = next;
}

void FinishObserver(Conversion& c, int32_t /*framesWritten*/) {
  WriterContext& w = c.WriterContext<WriterContext>();
  if (c.state.HeaderPending) return;  // nothing was written
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
constexpr IdentifyRule kObserverRules[] = {{"observer", IdentifyObserver}};
}  // namespace

const FormatDescriptor kObserverFormat = {
    .family = "Observer",
    .reads = MaskOf({Analyzer::Observer}),
    .writes = MaskOf({Analyzer::Observer}),
    .aliases = kObserverNames,
    .sourcePatterns = "*.bfr",
    .capabilities = Capability::DropsEthernetFcs,
    .identify = kObserverRules,
    .topology = ObserverTopology,
    .unreadLayout = ObserverRefusal,
    .readHeader = ReadHeaderStep,
    .readFrames = ReadFrames,
    .writeHeader = WriteObserverHeader,
    .writeFrame = WriteObserverFrame,
    .finish = FinishObserver,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes, .timeUnitNanoseconds = 1000000,
                .keepsDate = false, .keptFlags = Flag::Bad},
};

}  // namespace morph
