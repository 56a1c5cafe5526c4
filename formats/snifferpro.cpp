// SnifferPro/NetXRay reader (plain or through gzip) and writer.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"
#include "formats/sniffer.h"

namespace morph {
namespace {

using namespace SnifferPro;

constexpr double kTicksPerMicrosecond = 1.193181666;
constexpr double kGigabitTickMicroseconds = 0.032;  // 32 ns
constexpr uint32_t kPcTimerUnit = 2;
constexpr char kWrittenVersion[] = "002.001";
constexpr char kExtendedVersion[] = "002.000";
constexpr uint32_t kSecondDirection = 0x800000;
constexpr uint32_t kMediaPpp = 0x0108, kMediaIsdn = 0x1818;

// Header offsets.
constexpr size_t kVersionAt = 4, kStartTimeAt = 12, kRecordCountAt = 16, kEndOffsetAt = 20,
                 kFirstRecordAt = 24, kOtherEndAt = 28, kEndCopyAt = 40, kNetworkAt = 44, kTimeUnitAt = 48,
                 kStartStampAt = 52, kLineSpeedAt = 60, kLengthModeAt = 68, kProtocolAt = 84,
                 kCopiedFrom = 86, kTimeZoneAt = 126;

struct SnifferProReader : FormatContext {
  bool ended = false;  // the record data ended where the file says it may
  uint8_t header[kHeaderBytes] = {};
  std::string version;  // "002.001"
  bool extended = false;
  bool pcTimer = false;
  bool lengthsAsStated = false;
  int64_t startOffset = 0;  // microseconds subtracted from every record time
  uint32_t recordCount = 0;
  int64_t endOffset = 0;    // 0: the end of the file
  int64_t firstRecord = kHeaderBytes;
  bool wrapped = false;     // reading on from the start of the data area
  bool signalLatch = false;
};

// Times beyond about 35 years say nothing about a trace; keeping every time
// inside that range keeps all later arithmetic on them safe.
constexpr int64_t kTimeLimit = int64_t(1) << 50;

int64_t RoundClamped(double value) {
  return std::llround(std::clamp(value, -double(kTimeLimit), double(kTimeLimit)));
}


void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  SnifferProReader& r = c.ReaderContext<SnifferProReader>();
  SourceStream& in = *c.source;
  const uint8_t* h = r.header;
  if (!in.readExact(r.header, kHeaderBytes)) {
    FailRead(s, in.failed() ? in.errorText() : "file header cut short: 128 bytes needed");
    return;
  }
  const char* text = reinterpret_cast<const char*>(h + kVersionAt);
  r.version.assign(text, strnlen(text, 7));
  r.extended = r.version >= kExtendedVersion;
  // From version 2.1 on a file may name the zone it was recorded in.
  const int16_t zoneHours = int16_t(GetLE16(h + kTimeZoneAt));
  if (r.version >= "002.001" && zoneHours != 0) s.time.sourceZoneBiasMinutes = zoneHours * 60;

  int64_t start = GetLE32(h + kStartTimeAt);
  SetTraceDateFromUnix(s, start, 0);
  ComputeTimeZoneBias(s, false);
  // Without a zone of its own the stored time is the local time of the
  // capture, unless it goes back into a file of the same kind.
  if (zoneHours == 0 && s.targetAnalyzer != Analyzer::SnifferPro)
    start += s.time.timeZoneBias;
  SetTraceDateFromUnix(s, start, s.time.timeZoneBias);

  r.pcTimer = GetLE32(h + kTimeUnitAt) == kPcTimerUnit;
  const double startStamp = double(GetLE64(h + kStartStampAt));
  const double timeOfDay = double(s.time.headerTimeOfDay);
  if (r.pcTimer)
    r.startOffset = s.lineSpeed == kGigabit ? RoundClamped(-timeOfDay)
                                            : RoundClamped(startStamp / kTicksPerMicrosecond -
                                                           timeOfDay);
  else
    r.startOffset = RoundClamped(startStamp - timeOfDay);

  r.lengthsAsStated = GetLE32(h + kLengthModeAt) != 0;
  r.recordCount = GetLE32(h + kRecordCountAt);
  r.endOffset = GetLE32(h + kEndOffsetAt);
  // A first record inside the file header cannot be; read from the data area.
  r.firstRecord = std::max<int64_t>(GetLE32(h + kFirstRecordAt), kHeaderBytes);
  r.signalLatch = false;
  r.wrapped = false;
  if (!in.seek(r.firstRecord))
    FailRead(s, "offset 24: first record at " + Grouped(r.firstRecord) + " cannot be reached");
}

void SetWirelessMedia(ConversionState& s, SnifferProReader& r, const uint8_t* record) {
  s.frame.wirelessChannel = record[24];
  s.frame.wirelessDataRate = record[25];
  const uint8_t signal = record[26];
  // Some versions give the signal in percent, others on a scale of 128: once
  // a value above 100 shows the scale, it holds for the rest of the file.
  if (r.signalLatch || signal > 100) {
    s.frame.wirelessSignal = uint8_t(std::lround(signal / 128.0 * 100.0));
    r.signalLatch = true;
  } else {
    s.frame.wirelessSignal = signal;
  }
  s.frame.wirelessNoise = 0;
}

void SetStatusFlags(ConversionState& s, SnifferProReader& r, const uint8_t* record) {
  const uint32_t code = GetLE32(record + 20) & 0x0F;
  if (s.traceTopology == Topo::Wireless) {
    SetWirelessMedia(s, r, record);
    if (code == 1 || code == 4) s.frame.frameFlags |= Flag::CrcError;
  }
  if (s.wanProtocol != Wan::NotKnown) {
    const uint32_t media = GetLE32(record + 24);
    if ((media & ~1u) == kMediaPpp) s.wanProtocol = Wan::Ppp;
    else if ((media & ~1u) == kMediaIsdn) s.wanProtocol = Wan::Isdn;
    s.frame.frameFlags |= (media & 1) ? Flag::Direction2 : Flag::Direction1;
    if (code == 1) s.frame.frameFlags |= Flag::CrcError;
    else if (code == 2) s.frame.frameFlags |= Flag::SnifferProStatus2;
  }
  if (s.traceTopology == Topo::Ethernet) {
    if (code == 1 || code == 4 || code == 6) s.frame.frameFlags |= Flag::CrcError;
    else if (code == 7) s.frame.frameFlags |= Flag::AlignmentError;
  }
}

int64_t FrameTimeOf(const ConversionState& s, const SnifferProReader& r, uint64_t stamp) {
  if (r.pcTimer || s.lineSpeed == kGigabit) {
    const double t = s.lineSpeed == kGigabit ? double(stamp) * kGigabitTickMicroseconds
                                             : double(stamp) / kTicksPerMicrosecond;
    const int64_t time = RoundClamped(t - double(r.startOffset));
    return time < 0 ? RoundClamped(t) : time;
  }
  const int64_t micros = int64_t(std::min<uint64_t>(stamp, uint64_t(kTimeLimit)));
  const int64_t time = std::min(micros - r.startOffset, kTimeLimit);
  return time < 0 ? micros : time;
}

void SetLengths(ConversionState& s, const SnifferProReader& r, int32_t original, int32_t captured) {
  if (r.lengthsAsStated) {
    // The lengths are the frame's own: a record holding fewer bytes than the
    // frame had is a frame cut at capture, kept with its wire length.
    s.frame.frameLength = std::max(original, captured);
    s.frame.storedLength = captured;
  } else {
    original = std::max(original, captured);  // never more stored than on the wire
    if (s.wanProtocol == Wan::NotKnown) {
      // Only Ethernet frames get their FCS rebuilt; other LAN frames keep
      // what was stored, never four invented bytes.
      const int32_t fcs = s.traceTopology == Topo::Ethernet ? 4 : 0;
      s.frame.frameLength = original + fcs;
      s.frame.storedLength = captured < original ? captured : captured + fcs;
    } else {
      const bool noCrc = s.frame.frameFlags & Flag::SnifferProStatus2;
      s.frame.frameLength = noCrc ? original : original + 2;
      s.frame.storedLength = captured + (captured >= original && !noCrc ? 2 : 0);
    }
  }
  ClampFrameLength(s);
}

void StoreChecksum(ConversionState& s) {
  s.frame.frameFcs = 0;
  if (s.frame.frameLength != s.frame.storedLength) return;
  if (s.traceTopology == Topo::Ethernet) {
    StoreEthernetFcs(s);
  } else if (s.wanProtocol != Wan::NotKnown && !(s.frame.frameFlags & Flag::SnifferProStatus2) &&
             s.frame.frameLength >= 2) {
    const uint16_t crc = (s.frame.frameFlags & Flag::CrcError)
                             ? 0
                             : FrameCrc16(s.frame.frameData.data(), s.frame.frameLength - 2);
    PutLE16(s.frame.frameData.data() + s.frame.frameLength - 2, crc);
  }
}

// The file has ended at a record boundary. A capture that did not wrap
// ends cleanly only with every record its header states and not before
// its stated end offset; a shortfall is a file cut short.
void EndOfFile(ConversionState& s, SnifferProReader& r, int64_t position) {
  const bool countShort = r.recordCount != 0 && uint32_t(s.counters.framesRead) < r.recordCount;
  const bool offsetShort = r.endOffset != 0 && position < r.endOffset;
  if (r.wrapped || r.firstRecord != int64_t(kHeaderBytes) || !(countShort || offsetShort)) {
    r.ended = true;
    return;
  }
  const std::string at = AtRecord(s.counters.framesRead + 1, position) + "the file ends ";
  if (countShort)
    FailRead(s, at + "after " + Grouped(s.counters.framesRead) + " of the " + Grouped(r.recordCount) +
                    " records its header states");
  else
    FailRead(s, at + "before the end offset " + Grouped(r.endOffset) + " its header states");
}

// Reads one record into the current frame; false when the reading ends.
bool ReadRecord(Conversion& c, SnifferProReader& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  uint8_t record[kRecordHeaderBytes + kExtendedExtraBytes];
  const size_t headerBytes = kRecordHeaderBytes + (r.extended ? kExtendedExtraBytes : 0);
  const size_t got = in.fetch(record, headerBytes);
  if (got == 0 && !in.failed()) {
    EndOfFile(s, r, in.position());
    return false;
  }
  // Where the record began, put into words only when it is cut short.
  const auto at = [&](size_t read) {
    return AtRecord(s.counters.framesRead + 1, in.position() - int64_t(read));
  };
  // A record cut short is a read error; the frames before it stay written.
  if (got != headerBytes) {
    FailRead(s, in.failed() ? in.errorText() : at(got) + "record header cut short");
    return false;
  }
  s.frame.frameFlags = 0;
  SetStatusFlags(s, r, record);
  s.frame.frameTime = FrameTimeOf(s, r, GetLE64(record));
  const int32_t captured = GetLE16(record + 10);
  SetLengths(s, r, GetLE16(record + 8), captured);
  const size_t gotFrame = in.fetch(s.frame.frameData.data(), size_t(captured));
  if (gotFrame != size_t(captured)) {
    FailRead(s, in.failed() ? in.errorText()
                            : at(headerBytes + gotFrame) + "frame cut short: " +
                                  Grouped(captured) + " bytes stated");
    return false;
  }
  ZeroFrameTail(s, captured, s.frame.storedLength);  // FCS or CRC slots are computed, not stale
  if (s.wanProtocol != Wan::NotKnown && captured > 0 && s.frame.frameData[0] == 0xFF)
    s.wanProtocol = Wan::Ppp;
  StoreChecksum(s);
  return true;
}

// End of the record data: the end offset or the end of the file. A wrapped
// capture then continues at the start of the data area and ends where its
// oldest record began.
void CheckEnd(Conversion& c, SnifferProReader& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const int64_t position = in.position();
  if (r.wrapped) {
    if (position >= r.firstRecord || c.SourceAtEnd()) r.ended = true;
    return;
  }
  const bool atEndOffset = r.endOffset != 0 && position >= r.endOffset;
  if (!atEndOffset && !c.SourceAtEnd()) return;
  if (r.firstRecord == int64_t(kHeaderBytes) || !in.seek(kHeaderBytes)) {
    if (atEndOffset)
      r.ended = true;
    else
      EndOfFile(s, r, position);
    return;
  }
  r.wrapped = true;
}

ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  SnifferProReader& r = c.ReaderContext<SnifferProReader>();
  if (s.counters.framesRead > 0) {  // after a record: the stated count, or the data's end
    if (uint32_t(s.counters.framesRead) == r.recordCount) return ReadStatus::End;
    CheckEnd(c, r);
    if (r.ended || s.status.readError) return RecordOrEnd(s, false);
  }
  return RecordOrEnd(s, ReadRecord(c, r));
}

uint32_t NetworkCode(Topology topology) {
  if (topology == Topo::TokenRing) return kNetTokenRing;
  if (topology == Topo::Fddi) return kNetFddi;
  if (topology >= Topo::Wan && topology <= Topo::TSeries) return kNetSerial;
  if (topology == Topo::Wireless) return kNetWireless;
  return kNetEthernet;
}

uint16_t ProtocolCode(uint32_t wanProtocol) {
  switch (wanProtocol) {
    case Wan::Hdlc: case Wan::Isdn: case Wan::Ppp: return 6;
    case Wan::Sdlc: return 7;
    case Wan::X25: return 8;
    case Wan::FrameRelay: return 4;
    default: return 0;
  }
}

}  // namespace

SnifferTopologyInfo SnifferProTopology(const uint8_t* header, size_t size) {
  SnifferTopologyInfo info;
  if (size < kHeaderBytes) return info;
  switch (GetLE32(header + kNetworkAt)) {
    case kNetEthernet: info.topology = Topo::Ethernet; break;
    case kNetTokenRing: info.topology = Topo::TokenRing; break;
    case kNetFddi: info.topology = Topo::Fddi; break;
    case kNetWireless: info.topology = Topo::Wireless; break;
    case kNetSerial:
      info.topology = Topo::Wan;
      switch (GetLE16(header + kProtocolAt)) {
        case 0: info.wanProtocol = Wan::Ppp; break;
        case 4: info.wanProtocol = Wan::FrameRelay; break;
        case 7: info.wanProtocol = Wan::Sdlc; break;
        case 8: info.wanProtocol = Wan::X25; break;
        case 6: info.wanProtocol = Wan::Isdn, info.probeFirstFrame = true; break;
        default: break;
      }
      break;
    default: info.topology = Topo::Unknown; break;
  }
  const uint64_t stated = GetLE32(header + kLineSpeedAt);
  uint64_t speed = stated;
  if (stated > kGigabit) speed = 10000000;
  else if (stated < 10000 && stated % 12 != 0) speed = stated * 1000000;  // megabits
  if (speed > kGigabit) speed = 10000000;  // megabits beyond any line
  info.fileLineSpeed = uint32_t(speed);
  return info;
}

namespace {
struct SnifferProWriter : FormatContext {
  uint64_t end = 0;  // where the target ends: the header and the records so far
};
}  // namespace

void WriteSnifferProHeader(Conversion& c, int32_t count) {
  ConversionState& s = c.state;
  ComputeWriterTimeBase(s);
  const uint32_t length = uint32_t(c.target->position());
  uint8_t h[kHeaderBytes] = {};
  std::memcpy(h, "XCP", 4);
  std::memcpy(h + kVersionAt, kWrittenVersion, sizeof kWrittenVersion);
  PutLE32(h + kStartTimeAt, StartTimeField32(s));
  PutLE32(h + kRecordCountAt, uint32_t(count - s.counters.nonDataFrames));
  PutLE32(h + kEndOffsetAt, length);
  PutLE32(h + kFirstRecordAt, kHeaderBytes);
  // Other readers take the end of the records from offset 28 and, finding
  // 0 there, read the records a second time.
  PutLE32(h + kOtherEndAt, length);
  PutLE32(h + kEndCopyAt, length);
  PutLE32(h + kNetworkAt, NetworkCode(s.traceTopology));
  PutLE32(h + kLineSpeedAt, s.lineSpeed);
  PutLE16(h + kProtocolAt, ProtocolCode(s.wanProtocol));
  if (s.sourceAnalyzer == Analyzer::SnifferPro) {
    const SnifferProReader& source = c.ReaderContext<SnifferProReader>();
    std::memcpy(h + kCopiedFrom, source.header + kCopiedFrom, kHeaderBytes - kCopiedFrom);
  } else if (const int minutes = TargetZoneOf(s).standardBiasMinutes; minutes % 60 == 0) {
    // The start time is UTC. A file without a zone is read as local time,
    // so the file names the zone whenever the field can hold it.
    PutLE16(h + kTimeZoneAt, uint16_t(int16_t(minutes / 60)));
  }
  c.target->seek(0);
  c.target->write(h, sizeof h);
  c.WriterContext<SnifferProWriter>().end = uint64_t(c.target->position());
}

void WriteSnifferProFrame(Conversion& c) {
  const ConversionState& s = c.state;
  SnifferProWriter& w = c.WriterContext<SnifferProWriter>();
  const bool lanWithFcs = s.traceTopology == Topo::Ethernet;
  int32_t trailer = 0;  // FCS or CRC bytes the format does not count
  if (lanWithFcs) trailer = 4;
  else if (s.wanProtocol != Wan::NotKnown && s.frame.frameLength >= 3 &&
           !(s.frame.frameFlags & Flag::SnifferProStatus2))
    trailer = 2;
  const int32_t original = std::max(0, s.frame.frameLength - trailer);
  // The stored bytes of a sliced frame hold no FCS: all of them are data.
  const int32_t captured = std::clamp(s.frame.storedLength, 0, original);

  // Microseconds since the whole second of the start time; 32 ns units on
  // gigabit lines, where readers expect them.
  const int64_t micros =
      std::max<int64_t>(0, WriterFrameTime(s) - s.writerTime.firstFrameTime + s.writerTime.firstFrameMicroseconds);
  const uint64_t stamp = s.lineSpeed == kGigabit
                             ? uint64_t(std::llround(double(micros) / kGigabitTickMicroseconds))
                             : uint64_t(micros);

  // The header states where the records end in 32 bits.
  const uint64_t end = w.end + kRecordHeaderBytes + kExtendedExtraBytes + uint64_t(captured);
  if (!c.RoomForFrame(end)) return;
  uint8_t record[kRecordHeaderBytes + kExtendedExtraBytes] = {};
  PutLE64(record, stamp);
  PutLE16(record + 8, uint16_t(original));
  PutLE16(record + 10, uint16_t(captured));
  uint32_t status = 0;
  if (s.frame.frameFlags & Flag::CrcError) status |= 1;
  if (s.frame.frameFlags & Flag::SnifferProStatus2) status |= 2;
  if (s.frame.frameFlags & Flag::Direction2) status |= kSecondDirection;
  PutLE32(record + 20, status);
  if (s.traceTopology == Topo::Wireless) {
    record[24] = s.frame.wirelessChannel;
    record[25] = s.frame.wirelessDataRate;
    record[26] = uint8_t(std::min(255L, std::lround(s.frame.wirelessSignal * 1.28)));
  } else {
    uint32_t media = (s.frame.frameFlags & Flag::Direction2) ? 1 : 0;
    if (s.wanProtocol == Wan::Isdn) media |= kMediaIsdn;
    PutLE32(record + 24, media);
  }
  c.target->writeHeadAndBody(record, sizeof record, s.frame.frameData.data(), size_t(captured));
  w.end = end;
}

void FinishSnifferPro(Conversion& c, int32_t framesWritten) {
  if (framesWritten > 0) WriteSnifferProHeader(c, framesWritten);
}

// ---------------------------------------------------------------- registry

namespace {

bool IsCompressedSnifferPro(const std::string& fileName) {
  auto gz = OpenGzipSource(fileName);
  if (!gz) return false;
  FileBlock header = ReadFileBlock(*gz, 0, 128);
  return header.startsWith("XCP");
}

std::optional<AnalyzerType> IdentifyCompressedSnifferPro(IdentifyInput& input) {
  if (input.upperPath.find(".CAZ") == std::string::npos || !IsCompressedSnifferPro(input.path))
    return std::nullopt;
  input.compressed = true;
  return Analyzer::SnifferPro;
}

std::optional<AnalyzerType> IdentifySnifferPro(IdentifyInput& input) {
  if (!input.head.startsWith("XCP")) return std::nullopt;
  return Analyzer::SnifferPro;
}

Topology SnifferProFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  SourceStream* stream = &t.in;
  if (t.s.sourceCompressed) {
    gz = OpenGzipSource(t.fileName);
    if (!gz) return Topo::Unknown;
    stream = gz.get();
  }
  FileBlock header = ReadFileBlock(*stream, 0, kHeaderBytes);
  const SnifferTopologyInfo info = SnifferProTopology(header.data(), header.size());
  t.speed = info.fileLineSpeed;
  t.s.wanProtocol = info.wanProtocol;
  if (info.probeFirstFrame) {
    // Only the reader can tell from the first frame; without a frame the
    // header's protocol stands.
    ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, info.topology);
    t.s.wanProtocol = !probe.ran       ? Wan::NotKnown
                      : probe.delivered ? probe.wanProtocol
                                        : info.wanProtocol;
  }
  return info.topology;
}

std::string SnifferProSourceName(AnalyzerType type, uint32_t, bool compressed) {
  return compressed ? "NAI SnifferPro (compressed)" : AnalyzerName(type);
}

constexpr IdentifyRule kSnifferProRules[] = {
    // A .caz file shows only gzip bytes: the suffix decides, before any magic;
    // the decompressed header is checked too.
    {"snifferpro-gzip", IdentifyCompressedSnifferPro, 40},
    // Text magic at offset 0; the plain form of the .caz rule.
    {"snifferpro", IdentifySnifferPro, 230},
};
constexpr FriendlyName kSnifferProNames[] = {{Analyzer::SnifferPro, "snifferpro"},
                                             {Analyzer::SnifferPro, "netxray"}};

}  // namespace

constexpr AnalyzerInfo kSnifferProAnalyzers[] = {
    {Analyzer::SnifferPro, "SnifferPro/NetXRay (NAI)", "XR", ".cap",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wireless | Media::Wan},
};

extern const FormatDescriptor kSnifferProFormat = {
    .family = "SnifferPro/NetXRay",
    .analyzers = kSnifferProAnalyzers,
    .reads = MaskOf({Analyzer::SnifferPro}),
    .writes = MaskOf({Analyzer::SnifferPro}),
    .aliases = kSnifferProNames,
    .sourcePatterns = "*.cap;*.caz",
    .capabilities = Capability::GzipSource | Capability::DropsEthernetFcs,
    .identify = kSnifferProRules,
    .topology = SnifferProFileTopology,
    .sourceName = SnifferProSourceName,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteSnifferProHeader,
    .writeFrame = WriteSnifferProFrame,
    .finish = FinishSnifferPro,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes,
                .keptFlags = Flag::CrcError | Flag::Direction2 | Flag::SnifferProStatus2},
};

}  // namespace morph
