// Sniffer DOS reader (plain and compressed) and writer (plain).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"
#include "formats/sniffer.h"
#include "formats/sniffer_compression.h"

namespace morph {
namespace {

using namespace SnifferDos;

constexpr uint16_t kLargestFrameBody = 32782;       // 14-byte header and 32,768 frame bytes
constexpr uint16_t kLargestCompressedBody = 32768;  // what one decoded block can hold
constexpr int64_t kMicrosPerDay = 86400000000LL;
constexpr int kWrittenTimeUnit = 4;                 // two microseconds
constexpr int kMaxLeadingRecords = 4096;  // looked at for the line record before giving up

// Version record body offsets.
constexpr size_t kVerDateTime = 4, kVerRecordType = 8, kVerNetwork = 9, kVerFormat = 10,
                 kVerTimeUnit = 11, kVerCompression = 12;

struct SnifferDosReader : FormatContext {
  uint8_t version[kVersionBytes] = {};
  int timeUnit = 0;
  bool compressed = false;
  SnifferDecompressor decompressor;
  std::vector<uint8_t> body = std::vector<uint8_t>(FrameBufferBytes);
};

bool IsFrameRecord(uint16_t type) {
  const uint8_t low = uint8_t(type);
  return low == kFrame4 || low == kFrame5 || low == kFrame12;
}

// Records that may stand between the version record and the first frame.
bool IsLeadingRecord(uint16_t type) { return (type >= 6 && type <= 11) || (type >= 13 && type <= 17); }

// Stated unit 0 (and units this reader does not know): Token Ring traces
// count PC-timer ticks, all others 15-microsecond steps.
int EffectiveTimeUnit(int unit, Topology topology) {
  if (unit >= 1 && unit <= 5) return unit;
  return topology == Topo::TokenRing ? 1 : 2;
}

// traceDate from the DOS date and time; false when the fields are no date.
bool DecodeDosDateTime(uint32_t value, double& dateTime) {
  const uint16_t time = uint16_t(value), date = uint16_t(value >> 16);
  const int twoSeconds = std::min(time & 0x1F, 29);
  const int minute = (time >> 5) & 0x3F, hour = time >> 11;
  const int day = date & 0x1F, month = (date >> 5) & 0x0F, year = 1980 + (date >> 9);
  static const int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59) return false;
  if (day > kDaysInMonth[month - 1] || (month == 2 && day == 29 && !IsLeapYear(year))) return false;
  dateTime = EncodeDateTime(year, month, day, hour, minute, twoSeconds * 2);
  return true;
}

uint32_t EncodeDosDateTime(double dateTime) {
  int year, month, day, hour, minute, second;
  DecodeDate(dateTime, year, month, day);
  DecodeTime(dateTime, hour, minute, second);
  year = std::clamp(year, 1980, 2107);
  const uint32_t date = uint32_t((year - 1980) << 9 | month << 5 | day);
  const uint32_t time = uint32_t(hour << 11 | minute << 5 | second / 2);
  return date << 16 | time;
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  SnifferDosReader& r = c.ReaderContext<SnifferDosReader>();
  SourceStream& in = *c.source;
  uint8_t head[kFramesStart];
  if (!in.readExact(head, sizeof head)) {
    FailRead(s, in.failed() ? in.errorText()
                            : "file header cut short: " + Grouped(kFramesStart) + " bytes needed");
    return;
  }
  std::memcpy(r.version, head + kSignatureBytes + kRecordHeaderBytes, kVersionBytes);
  r.compressed = (r.version[kVerCompression] & 1) != 0;
  r.timeUnit = EffectiveTimeUnit(r.version[kVerTimeUnit], s.traceTopology);
  double date;
  if (const uint32_t stamp = GetLE32(r.version + kVerDateTime); stamp != 0 &&
                                                                DecodeDosDateTime(stamp, date))
    s.time.traceDate = date;
  ComputeTimeZoneBias(s, false);

  if (r.compressed) {
    // Everything after the version record is compressed, leading records
    // included: the frame pass finds them in the decoded stream.
    r.decompressor.Reset(in, int64_t(kFramesStart));
  } else {
    for (;;) {
      const int64_t at = in.position();
      uint8_t header[kRecordHeaderBytes];
      if (!in.readExact(header, sizeof header)) {
        FailRead(s, in.failed() ? in.errorText() : AtOffset(at) + "record header cut short");
        return;
      }
      const uint16_t type = GetLE16(header);
      if (type == kEndOfFile) {
        FailRead(s, AtOffset(at) + "end-of-file record before any frame");
        return;
      }
      if (!IsLeadingRecord(type)) {
        in.seek(at);
        break;
      }
      if (!in.skip(GetLE16(header + 2))) {
        FailRead(s, AtOffset(at) + "record of " + Grouped(GetLE16(header + 2)) +
                        " bytes cannot be skipped");
        return;
      }
    }
  }
  s.status.badCompression = false;
}

// Reads n bytes of the record stream: false sets badCompression (compressed)
// or readError (plain).
bool ReadRecordBytes(Conversion& c, SnifferDosReader& r, uint8_t* out, size_t n) {
  ConversionState& s = c.state;
  if (r.compressed) {
    if (!r.decompressor.Read(out, n) || r.decompressor.Consumed() > s.sourceFileSize)
      s.status.badCompression = true;
    return !s.status.badCompression;
  }
  if (!c.source->readExact(out, n))
    FailRead(s, c.source->failed() ? c.source->errorText()
                                   : "frame " + Grouped(s.counters.framesRead + 1) + ": record cut short: " +
                                         Grouped(int64_t(n)) + " bytes stated");
  return !s.status.readError;
}

bool SkipRecordBody(Conversion& c, SnifferDosReader& r, uint16_t length) {
  if (!r.compressed) {
    if (!c.source->skip(length))
      FailRead(c.state, "after frame " + Grouped(c.state.counters.framesRead) + ": record of " +
                            Grouped(length) + " bytes cannot be skipped");
    return !c.state.status.readError;
  }
  if (length > kLargestCompressedBody) {
    c.state.status.badCompression = true;
    return false;
  }
  return ReadRecordBytes(c, r, r.body.data(), length);
}

// False on a failure. The records end only with the end-of-file record: a
// file that stops before it was cut short.
bool ReadRecordHeader(Conversion& c, SnifferDosReader& r, uint16_t& type, uint16_t& length) {
  ConversionState& s = c.state;
  uint8_t header[kRecordHeaderBytes];
  if (r.compressed) {
    if (!ReadRecordBytes(c, r, header, sizeof header)) return false;
  } else {
    const size_t got = c.source->fetch(header, sizeof header);
    if (got != sizeof header) {
      const std::string at = AtFrame(s.counters.framesRead + 1, c.source->position() - int64_t(got));
      return FailRead(s, c.source->failed() ? c.source->errorText()
                         : got == 0 ? at + "the file ends without its end-of-file record"
                                    : at + "record header cut short");
    }
  }
  type = GetLE16(header);
  length = GetLE16(header + 2);
  return true;
}

void SetFrameFlags(ConversionState& s, uint8_t status) {
  s.frame.frameFlags = 0;
  if (s.traceTopology == Topo::Ethernet) {
    if ((status & 0x7F) == 0) return;  // the error bits count only with a low bit set
    if (status & 0x80) s.frame.frameFlags |= Flag::CrcError;
    if (status & 0x40) s.frame.frameFlags |= Flag::AlignmentError;
  } else if (IsWanTopology(s.traceTopology)) {
    s.frame.frameFlags |= (status & 0x80) ? Flag::Direction2 : Flag::Direction1;
    if (status & 0x04) s.frame.frameFlags |= Flag::SnifferProStatus2;
    else if (status & 0x02) s.frame.frameFlags |= Flag::CrcError;
  }
}

int64_t FrameTimeOf(const uint8_t* h, int unit) {
  const uint16_t low = GetLE16(h), middle = GetLE16(h + 2);
  const uint8_t high = h[4];
  const int64_t t = int64_t(high) << 32 | int64_t(middle) << 16 | low;
  int64_t micros;
  switch (unit) {
    case 1: micros = std::llround(PcTimerMicroseconds(high, middle, low)); break;
    case 3: micros = RoundedDiv(int64_t(t), 2); break;
    case 4: micros = t * 2; break;
    case 5: micros = t; break;
    default: micros = t * 15; break;
  }
  return micros + int64_t(h[5]) * kMicrosPerDay;
}

// Fills the current frame from a frame record body. False: the record is
// malformed (a read failure with its reason).
bool DecodeFrame(ConversionState& s, uint16_t type, const uint8_t* body, uint16_t length,
                 int timeUnit) {
  const size_t dataStart = uint8_t(type) == kFrame12 ? kFrameHeaderBytes + kType12ExtraBytes
                                                     : kFrameHeaderBytes;
  const auto at = [&] { return "frame " + Grouped(s.counters.framesRead + 1) + ": "; };
  if (length < dataStart)
    return FailRead(s, at() + "record of " + Grouped(length) + " bytes, shorter than its " +
                           Grouped(int64_t(dataStart)) + "-byte frame header");
  const uint8_t* h = body;
  const int32_t stored = GetLE16(h + 6);
  const uint8_t status = h[8];
  const int32_t trueSize = GetLE16(h + 10);
  if (size_t(stored) > length - dataStart)
    return FailRead(s, at() + "stored length " + Grouped(stored) + " exceeds the " +
                           Grouped(int64_t(length - dataStart)) + " bytes its record holds");

  SetFrameFlags(s, status);
  s.frame.frameTime = FrameTimeOf(h, timeUnit);

  const bool lan = s.wanProtocol == Wan::NotKnown;
  const bool ethernet = s.traceTopology == Topo::Ethernet;
  // FCS or CRC bytes not stored. Only Ethernet frames get an FCS rebuilt;
  // other LAN frames keep what was stored, never four invented bytes.
  const int32_t trailer = lan ? (ethernet ? 4 : 0) : (status & 0x04) ? 0 : 2;
  if (trueSize == 0) {
    s.frame.frameLength = s.frame.storedLength = stored + trailer;
  } else {
    // A sliced frame: only the stored bytes, never invented ones.
    s.frame.storedLength = stored;
    s.frame.frameLength = ethernet ? trueSize + 4 : lan ? trueSize : trueSize + trailer;
  }
  s.frame.frameLength = std::max(s.frame.frameLength, s.frame.storedLength);
  ClampFrameLength(s);

  const int32_t copied = std::min(stored, s.frame.storedLength);
  std::memcpy(s.frame.frameData.data(), body + dataStart, size_t(copied));
  ZeroFrameTail(s, copied, s.frame.storedLength);

  const bool whole = s.frame.storedLength >= s.frame.frameLength;
  s.frame.frameFcs = 0;
  if (ethernet && whole) {
    StoreEthernetFcs(s);
  } else if (!lan && whole && !(s.frame.frameFlags & Flag::SnifferProStatus2) && s.frame.frameLength >= 2) {
    const uint16_t crc = (s.frame.frameFlags & Flag::CrcError)
                             ? 0
                             : FrameCrc16(s.frame.frameData.data(), s.frame.frameLength - 2);
    PutLE16(s.frame.frameData.data() + s.frame.frameLength - 2, crc);
  }
  return true;
}

// The next frame record; other records are passed over, and an end-of-file
// record (or a zero type) ends the frames.
ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  SnifferDosReader& r = c.ReaderContext<SnifferDosReader>();
  uint16_t type = 0, length = 0;
  for (;;) {
    if (!ReadRecordHeader(c, r, type, length)) return RecordOrEnd(s, false);
    if (IsFrameRecord(type)) break;
    if (type == 0 || type == kEndOfFile) return ReadStatus::End;
    SkipRecordBody(c, r, length);
    if (s.status.readError || s.status.badCompression) return RecordOrEnd(s, false);
  }
  if (length > kLargestFrameBody) {
    FailRead(s, "frame " + Grouped(s.counters.framesRead + 1) + ": record length " + Grouped(length) +
                    " exceeds " + Grouped(kLargestFrameBody));
    return ReadStatus::Failed;
  }
  // Reported apart; the frames before it stand.
  if (r.compressed && length > kLargestCompressedBody) {
    s.status.badCompression = true;
    return ReadStatus::End;
  }
  // A plain record already in hand is decoded where it lies.
  const uint8_t* body = r.body.data();
  if (!r.compressed && c.source->inHandSize() >= length) {
    body = c.source->inHand();
    c.source->consume(length);
  } else if (!ReadRecordBytes(c, r, r.body.data(), length)) {
    return RecordOrEnd(s, false);
  }
  if (!DecodeFrame(s, type, body, length, r.timeUnit)) return ReadStatus::Failed;
  if (s.status.probeOnly && IsWanTopology(s.traceTopology) && s.wanProtocol == Wan::NotKnown)
    s.wanProtocol = SnifferDosProtocolFromFrame(s.frame.frameData.data(), s.frame.storedLength);
  return ReadStatus::Record;
}

uint8_t NetworkCode(Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return kNetEthernet;
    case Topo::TokenRing: return kNetTokenRing;
    case Topo::Fddi: return kNetFddi;
    default: return kNetSerial;
  }
}

uint32_t ProtocolCode(uint32_t wanProtocol) {
  switch (wanProtocol) {
    case Wan::Sdlc: return 0;
    case Wan::X25: return 1;
    case Wan::FrameRelay: return 2;
    default: return 3;
  }
}

void PutRecordHeader(uint8_t* p, uint16_t type, uint16_t length) {
  PutLE16(p, type);
  PutLE16(p + 2, length);
  PutLE16(p + 4, 0);
}

}  // namespace

uint32_t SnifferDosProtocolFromFrame(const uint8_t* frame, int32_t length) {
  if (length >= 1 && frame[0] == 0xFF) return Wan::Ppp;
  if (length >= 2 && frame[0] % 2 == 0 && frame[1] % 2 == 1) return Wan::Isdn;
  return Wan::Hdlc;
}

bool IsSnifferDosCompressed(const uint8_t* head, size_t size) {
  return size > kFramesStart - kVersionBytes + kVerCompression &&
         (head[kFramesStart - kVersionBytes + kVerCompression] & 1) != 0;
}

SnifferTopologyInfo SnifferDosTopology(SourceStream& in) {
  SnifferTopologyInfo info;
  uint8_t head[kFramesStart];
  if (!in.seek(0) || !in.readExact(head, sizeof head)) return info;
  switch (head[kFramesStart - kVersionBytes + kVerNetwork]) {
    case 0: info.topology = Topo::TokenRing; break;
    case 1: case 3: info.topology = Topo::Ethernet; break;
    case 2: info.topology = Topo::Unused2; break;  // a network code without a topology of its own
    case 7: info.topology = Topo::Wan; break;
    case 9: info.topology = Topo::Fddi; break;
    default: info.topology = Topo::Unknown; break;
  }

  // The leading records, decoded first when the file is compressed.
  SnifferDecompressor decompressor;
  decompressor.Reset(in, int64_t(kFramesStart));
  const bool compressed = IsSnifferDosCompressed(head, sizeof head);
  std::vector<uint8_t> skipped;
  auto take = [&](uint8_t* out, size_t n) {
    return compressed ? decompressor.Read(out, n) : in.readExact(out, n);
  };
  for (int record = 0; record < kMaxLeadingRecords; ++record) {
    uint8_t header[kRecordHeaderBytes];
    if (!take(header, sizeof header)) break;
    const uint16_t type = GetLE16(header), length = GetLE16(header + 2);
    if (type == kEndOfFile) {
      info.noFrames = true;
      break;
    }
    if (type == kLineRecord) {
      uint8_t line[8];
      if (length < sizeof line || !take(line, sizeof line)) break;
      const uint32_t speed = GetLE32(line), protocol = GetLE32(line + 4);
      if (info.topology == Topo::Ethernet)
        info.fileLineSpeed = speed == 100000000 ? 100000000 : 10000000;
      else if (info.topology == Topo::TokenRing)
        info.fileLineSpeed = speed == 0 ? 4000000 : 16000000;
      else
        info.fileLineSpeed = speed;
      if (protocol == 0) info.wanProtocol = Wan::Sdlc;
      else if (protocol == 1) info.wanProtocol = Wan::X25;
      else if (protocol == 2) info.wanProtocol = Wan::FrameRelay;
      break;
    }
    if (!IsLeadingRecord(type)) break;
    skipped.resize(length);
    if (!take(skipped.data(), length)) break;
  }
  info.probeFirstFrame = info.topology == Topo::Wan && info.wanProtocol == Wan::NotKnown;
  return info;
}

SnifferTopologyInfo SnifferDosTopology(const uint8_t* head, size_t size) {
  auto in = OpenMemorySource(std::vector<uint8_t>(head, head + size));
  return SnifferDosTopology(*in);
}

void WriteSnifferDosHeader(Conversion& c, int32_t /*frameNumber*/) {
  const ConversionState& s = c.state;
  uint8_t out[kFramesStart + kRecordHeaderBytes + 8] = {};
  std::memcpy(out, kSignature, kSignatureBytes);
  PutRecordHeader(out + kSignatureBytes, kVersionRecord, kVersionBytes);
  uint8_t* v = out + kSignatureBytes + kRecordHeaderBytes;
  PutLE16(v, 1);
  PutLE16(v + 2, 16);
  PutLE32(v + kVerDateTime, EncodeDosDateTime(s.writerTime.traceDate));
  v[kVerRecordType] = kFrame4;
  v[kVerNetwork] = NetworkCode(s.traceTopology);
  v[kVerFormat] = 1;
  v[kVerTimeUnit] = kWrittenTimeUnit;
  uint8_t* line = out + kFramesStart;
  PutRecordHeader(line, kLineRecord, 8);
  const uint32_t speed = s.traceTopology == Topo::TokenRing ? (s.lineSpeed == 4000000 ? 0 : 1)
                                                            : s.lineSpeed;
  PutLE32(line + kRecordHeaderBytes, speed);
  PutLE32(line + kRecordHeaderBytes + 4, ProtocolCode(s.wanProtocol));
  c.target->seek(0);
  c.target->write(out, sizeof out);
}

void WriteSnifferDosFrame(Conversion& c) {
  const ConversionState& s = c.state;
  const bool lan = s.wanProtocol == Wan::NotKnown;
  int32_t trailer = 0;  // FCS or CRC bytes the format does not store
  if (s.traceTopology == Topo::Ethernet) trailer = 4;
  else if (!lan && s.frame.frameLength >= 3 && !(s.frame.frameFlags & Flag::SnifferProStatus2)) trailer = 2;
  const int32_t wire = std::max(0, s.frame.frameLength - trailer);
  // The stored bytes of a sliced frame hold no FCS: all of them are data.
  const int32_t count = std::clamp(s.frame.storedLength, 0, wire);
  const int32_t trueSize = count < wire ? wire : 0;

  uint8_t record[kRecordHeaderBytes + kFrameHeaderBytes] = {};
  PutRecordHeader(record, kFrame4, uint16_t(count + kFrameHeaderBytes));
  uint8_t* h = record + kRecordHeaderBytes;
  const int64_t t = RoundedDiv(std::max<int64_t>(WriterFrameTime(s), 0), 2);
  PutLE16(h, uint16_t(t));
  PutLE16(h + 2, uint16_t(t >> 16));
  h[4] = uint8_t(t >> 32);
  h[5] = 0;
  PutLE16(h + 6, uint16_t(count));
  uint8_t status = 0;
  if (lan) {
    if (s.frame.frameFlags & Flag::CrcError) status |= 0x80;
    if (s.frame.frameFlags & Flag::AlignmentError) status |= 0x40;
  } else {
    if (s.frame.frameFlags & Flag::Direction2) status |= 0x80;
    if (s.frame.frameFlags & Flag::CrcError) status |= 0x02;
    if (s.frame.frameFlags & Flag::SnifferProStatus2) status |= 0x04;
  }
  h[8] = status;
  PutLE16(h + 10, uint16_t(trueSize));
  c.target->writeHeadAndBody(record, sizeof record, s.frame.frameData.data(), size_t(count));
}

void FinishSnifferDos(Conversion& c, int32_t framesWritten) {
  if (framesWritten <= 0) return;  // no header was written either
  uint8_t record[kRecordHeaderBytes];
  PutRecordHeader(record, kEndOfFile, 0);
  c.target->write(record, sizeof record);
}

// ---------------------------------------------------------------- registry

namespace {

std::optional<AnalyzerType> IdentifySnifferDos(IdentifyInput& input) {
  if (!input.head.startsWith("TRS") && !input.head.startsWith("NSE")) return std::nullopt;
  input.compressed = IsSnifferDosCompressed(input.head.data(), input.head.size());
  return Analyzer::SnifferDos;
}

Topology SnifferDosFileTopology(TopologyInput& t) {
  const SnifferTopologyInfo info = SnifferDosTopology(t.in);
  t.speed = info.fileLineSpeed;
  t.s.wanProtocol = info.wanProtocol;
  if (info.probeFirstFrame) {
    ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, info.topology);
    if (probe.ran)
      t.s.wanProtocol =
          SnifferDosProtocolFromFrame(probe.firstBytes.data(), int32_t(probe.firstBytes.size()));
  }
  return info.topology;
}

const char* SnifferDosSuffix(AnalyzerType, Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return ".enc";
    case Topo::TokenRing: return ".trc";
    case Topo::Fddi: return ".fdc";
    case Topo::Wireless: return "";
    default: return ".syc";
  }
}

// Tried at 50: text magic at offset 0, longer than any magic tested after it.
constexpr IdentifyRule kSnifferDosRules[] = {{"sniffer-dos", IdentifySnifferDos, 50}};
constexpr FriendlyName kSnifferDosNames[] = {{Analyzer::SnifferDos, "sniffer"},
                                             {Analyzer::SnifferDos, "snifferdos"}};

}  // namespace

constexpr AnalyzerInfo kSnifferDosAnalyzers[] = {
    {Analyzer::SnifferDos, "Sniffer DOS (NAI)", "SN", "",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wan},
};

extern const FormatDescriptor kSnifferDosFormat = {
    .family = "Sniffer DOS",
    .analyzers = kSnifferDosAnalyzers,
    .reads = MaskOf({Analyzer::SnifferDos}),
    .writes = MaskOf({Analyzer::SnifferDos}),
    .aliases = kSnifferDosNames,
    .sourcePatterns = "*.enc;*.trc;*.fdc;*.syc",
    .capabilities = Capability::DropsEthernetFcs,  // records count the frame without it
    .suffix = SnifferDosSuffix,
    .identify = kSnifferDosRules,
    .topology = SnifferDosFileTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteSnifferDosHeader,
    .writeFrame = WriteSnifferDosFrame,
    .finish = FinishSnifferDos,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes, .timeUnitNanoseconds = 2000,
                .keptFlags = Flag::Bad | Flag::Direction2 | Flag::SnifferProStatus2},
};

}  // namespace morph
