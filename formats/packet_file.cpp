// Native packet files: the header summary, the shared reader (classic and
// tagged layouts) and the classic writer.
#include "formats/packet_file.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"
#include "formats/tagged_packet_file.h"

namespace morph {
namespace {

constexpr int kV6RecordSize = 26;
constexpr int kV7RecordSize = 16;
constexpr int kRadioBytes = 4;

bool IsClassicVersion(uint8_t versionByte) {
  const uint8_t layout = versionByte & 0x7F;
  return layout == 6 || layout == 7;
}

void SummaryFromClassicHeader(const uint8_t* h, PacketFileSummary& out) {
  out.tagged = false;
  out.versionByte = h[0];
  out.packetCount = GetBE32(h + 6);
  out.timeDate = GetBE32(h + 10);
  out.mediaType = int(GetBE32(h + 22) & 0x7FFFFFFF);
  out.physicalMedium = int(GetBE32(h + 26) & 0x7FFFFFFF);
  out.appMajorVersion = h[33];
  out.linkSpeed = GetBE32(h + 34);
}

double Epoch1904() { return EncodeDate(1904, 1, 1); }

// ---------------------------------------------------------------- reader

struct PacketFileReader : FormatContext {
  PacketFileSummary header;
  int64_t packetsEnd = -1;  // tagged: end of a packets section of stated length
  TaggedCarry tagged;
  bool begun = false;       // the records are being read
  bool started = false;     // classic: the first record of the pass has been read
  int64_t recordAt = 0;     // where the record being read starts
  uint64_t firstRaw = 0;    // its raw timestamp
  int64_t firstFrameTime = 0;
};

void ReadFileHeader(Conversion& c) {
  ConversionState& s = c.state;
  PacketFileReader& r = c.ReaderContext<PacketFileReader>();
  SourceStream& in = *c.source;
  uint8_t bytes[kClassicHeaderSize];
  if (!in.seek(0) || !in.readExact(bytes, 1)) {
    FailRead(s, "file header cut short");
  } else if (bytes[0] == 6 || bytes[0] == 7) {
    if (!in.readExact(bytes + 1, kClassicHeaderSize - 1))
      FailRead(s, "file header cut short: 50 bytes needed");
    else
      SummaryFromClassicHeader(bytes, r.header);
  } else if (bytes[0] == kTaggedFirstByte) {
    // A tagged file whose application version cannot be read is refused.
    if (!ReadTaggedHeader(in, r.header, r.packetsEnd))
      FailRead(s, "tagged header sections damaged or cut short");
    else if (r.header.appMajorVersion < 0)
      FailRead(s, "tagged header: no readable application version");
  } else {
    FailRead(s, "offset 0: version byte " + Grouped(bytes[0]) + " is neither 6, 7 nor tagged");
  }
}

// Local microseconds since 1904 of the first frame fix the trace date; the
// frame time counts from local midnight of that day.
void StartTraceAt1904Micros(ConversionState& s, uint64_t micros) {
  const int64_t seconds = int64_t(micros / kMicrosPerSecond);
  const int64_t days = seconds / kSecondsPerDay;
  const int64_t secondOfDay = seconds % kSecondsPerDay;
  s.time.traceDate = Epoch1904() + double(days) + double(secondOfDay) / double(kSecondsPerDay);
  s.time.headerTimeOfDay = secondOfDay * kMicrosPerSecond;
  ComputeTimeZoneBias(s, false);
  s.frame.frameTime = secondOfDay * kMicrosPerSecond + int64_t(micros % kMicrosPerSecond);
}

// Times of later frames are the first frame's plus the raw difference, so a
// trace that runs past midnight keeps counting. Version 6 stamps are a 32-bit
// millisecond counter that cannot hold a date: the header's time-date of the
// first packet places the trace when it has one. False for a frame further
// from the first than any trace spans (the frame pipeline's own limit).
bool SetClassicFrameTime(ConversionState& s, PacketFileReader& r, uint64_t raw, bool millis) {
  constexpr int64_t kMaxSpan = int64_t(INT32_MAX) * 1000;
  const uint64_t micros = millis ? raw * 1000 : raw;
  if (!r.started) {
    r.started = true;
    r.firstRaw = micros;
    const bool dated = millis && r.header.timeDate != 0;
    StartTraceAt1904Micros(s, dated ? uint64_t(r.header.timeDate) * kMicrosPerSecond : micros);
    r.firstFrameTime = s.frame.frameTime;
    return true;
  }
  const int64_t span = int64_t(micros - r.firstRaw);
  if (span > kMaxSpan || span < -kMaxSpan) return false;
  s.frame.frameTime = r.firstFrameTime + span;
  return true;
}

// Reads n bytes; a record that ends early is an error, nothing at all is the clean end.
inline RecordOutcome ReadPart(SourceStream& in, void* into, size_t n, bool recordStart) {
  const size_t got = in.fetch(into, n);
  if (got == n) return RecordOutcome::Frame;
  if (got == 0 && recordStart && !in.failed()) return RecordOutcome::End;
  return RecordOutcome::Error;
}

// ReadPart for bytes that are only looked at: taken where they lie when the
// block in hand holds them, else copied into `spare`; `at` points at them.
inline RecordOutcome TakePart(SourceStream& in, const uint8_t*& at, uint8_t* spare, size_t n,
                              bool recordStart) {
  if (in.inHandSize() >= n) {
    at = in.inHand();
    in.consume(n);
    return RecordOutcome::Frame;
  }
  at = spare;
  return ReadPart(in, spare, n, recordStart);
}

RecordOutcome ReadClassicRecord(Conversion& c, PacketFileReader& r) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  const bool v6 = r.header.versionByte == 6;
  const bool wireless = s.traceTopology == Topo::Wireless;
  const int headerBytes = v6 ? kV6RecordSize : kV7RecordSize;
  const FrameRecord where{s.counters.framesRead + 1, r.recordAt, -1};
  const auto fail = [&](const std::string& what) {
    FailRead(s, in.failed() ? in.errorText() : AtFrame(where.frame, where.offset) + what);
    return RecordOutcome::Error;
  };
  uint8_t spare[kV6RecordSize];
  const uint8_t* h = nullptr;
  RecordOutcome got = TakePart(in, h, spare, size_t(headerBytes), true);
  if (got == RecordOutcome::End) return got;
  if (got != RecordOutcome::Frame) return fail("record header cut short");

  int32_t length, slice;
  uint8_t flags, status = 0;
  uint64_t raw;
  if (v6) {
    length = GetBE16(h);
    slice = GetBE16(h + 2);
    flags = h[4];
    raw = GetBE32(h + 6);
  } else {
    length = GetBE16(h + 2);
    slice = GetBE16(h + 4);
    flags = h[6];
    status = h[7];
    raw = uint64_t(GetBE32(h + 8)) << 32 | GetBE32(h + 12);
  }
  const bool wholeFrame = slice == 0;
  if (wireless && !v6) {  // the lengths count the radio bytes
    if (length < kRadioBytes || (!wholeFrame && slice < kRadioBytes))
      return fail("length " + Grouped(length) + " or slice " + Grouped(slice) +
                  " below the 4 radio bytes");
    length -= kRadioBytes;
    slice -= wholeFrame ? 0 : kRadioBytes;
  }
  if (wholeFrame) slice = length;

  s.frame.frameFlags = 0;
  if (flags & 0x02) s.frame.frameFlags |= Flag::CrcError;
  if (flags & 0x04) s.frame.frameFlags |= Flag::AlignmentError;
  if (status & 0x04) s.frame.frameFlags |= Flag::PacketFileStatus;
  if (!SetClassicFrameTime(s, r, raw, v6))
    return fail("time stamp further from the first frame's than a trace spans");

  if (wireless) {
    uint8_t radioSpare[kRadioBytes];
    const uint8_t* radio = nullptr;
    if (TakePart(in, radio, radioSpare, kRadioBytes, false) != RecordOutcome::Frame)
      return fail("radio bytes cut short");
    s.frame.wirelessDataRate = radio[0];
    s.frame.wirelessChannel = radio[1];
    s.frame.wirelessSignal = radio[2];
    s.frame.wirelessNoise = radio[3];
  }
  if (!ReadFrameBytes(c, where, slice)) return RecordOutcome::Error;
  // Records start at even offsets: an odd slice is followed by a pad byte.
  const int pad = slice % 2;
  if (pad) {
    uint8_t padByte;
    const uint8_t* taken = nullptr;
    if (TakePart(in, taken, &padByte, 1, false) != RecordOutcome::Frame)
      return fail("the pad byte after its " + Grouped(slice) + " bytes is missing");
  }
  r.recordAt += headerBytes + (wireless ? kRadioBytes : 0) + slice + pad;
  // A slice longer than the frame it is of keeps its bytes: the frame is at
  // least as long as what was stored of it. Beyond the largest frame the
  // pipeline refuses it.
  s.frame.frameLength = slice <= MaxFrameBytes ? std::max(length, slice) : length;
  s.frame.storedLength = slice;
  ClampFrameLength(s);
  return RecordOutcome::Frame;
}

// At the end of the records: a header that states more frames than were read
// was cut short, and fails naming the first frame missing.
ReadStatus EndOfRecords(Conversion& c, const PacketFileReader& r) {
  ConversionState& s = c.state;
  const uint32_t stated = r.header.packetCount;
  if (stated == 0 || uint32_t(s.counters.framesRead) >= stated) return ReadStatus::End;
  const int64_t at = r.header.tagged ? r.tagged.recordAt : r.recordAt;
  FailRead(s, AtFrame(s.counters.framesRead + 1, at) + "the header states " + Grouped(stated) +
                  " frames, the file ends after " + Grouped(s.counters.framesRead));
  return ReadStatus::Failed;
}

// Records up to the stated count, or to the records' end (which fails when
// the count is not reached).
ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  PacketFileReader& r = c.ReaderContext<PacketFileReader>();
  if (!r.begun) {
    r.begun = true;
    r.recordAt = r.tagged.recordAt = c.source->position();
  } else {
    if (r.header.packetCount != 0 && uint32_t(s.counters.framesRead) >= r.header.packetCount)
      return ReadStatus::End;
    if ((r.packetsEnd >= 0 && c.source->position() >= r.packetsEnd) || c.SourceAtEnd())
      return EndOfRecords(c, r);
  }
  const RecordOutcome got =
      r.header.tagged ? ReadTaggedRecord(c, r.tagged) : ReadClassicRecord(c, r);
  if (got == RecordOutcome::End) return EndOfRecords(c, r);
  if (got == RecordOutcome::Error || c.source->failed()) {
    FailRead(s, c.source->failed() ? c.source->errorText()
                                   : AtFrame(s.counters.framesRead + 1, c.source->position()) +
                                         "record damaged or cut short");
    return ReadStatus::Failed;
  }
  return ReadStatus::Record;
}

// ---------------------------------------------------------------- writer

struct PacketFileWriter : FormatContext {
  // Microseconds from 1904-01-01 to local midnight of the trace date. Unsigned:
  // a date beyond the 64-bit field wraps instead of overflowing.
  uint64_t epoch1904Base = 0;
  uint64_t end = 0;  // where the target ends: the header and the records so far
  bool wireless = false;  // the medium, fixed at the header step
  PacketFlagRules flagRules;
  // A record laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  std::vector<uint8_t> aside = std::vector<uint8_t>(kV7RecordSize + kRadioBytes + FrameBufferBytes + 1);
};

int64_t DaysSince1904(double traceDate) {
  return DaysFrom1970(traceDate) - DaysFrom1970(Epoch1904());
}

}  // namespace

bool ReadPacketFileSummary(SourceStream& in, PacketFileSummary& out) {
  out = PacketFileSummary{};
  uint8_t header[kClassicHeaderSize];
  if (!in.seek(0) || !in.readExact(header, 1)) return false;
  if (header[0] == kTaggedFirstByte) {
    int64_t packetsEnd = -1;
    return ReadTaggedHeader(in, out, packetsEnd);
  }
  if (!IsClassicVersion(header[0])) return false;
  if (!in.readExact(header + 1, kClassicHeaderSize - 1)) return false;
  SummaryFromClassicHeader(header, out);
  return true;
}

PacketFlagRules PacketFlagRulesFor(Topology topology) {
  return PacketFlagRules{topology == Topo::Ethernet,
                         topology == Topo::Ethernet || topology == Topo::Wireless};
}

void WritePacketFileHeader(Conversion& c, int32_t count) {
  ConversionState& s = c.state;
  const bool wireless = s.traceTopology == Topo::Wireless;
  const int64_t days = DaysSince1904(s.writerTime.traceDate);
  PacketFileWriter& w = c.WriterContext<PacketFileWriter>();
  w.epoch1904Base = uint64_t(days) * uint64_t(kSecondsPerDay * kMicrosPerSecond);

  uint8_t h[kClassicHeaderSize] = {};
  h[0] = 7;
  PutBE32(h + 2, uint32_t(c.target->position()));
  PutBE32(h + 6, uint32_t(std::max(0, count - s.counters.nonDataFrames)));
  PutBE32(h + 10, uint32_t(days * kSecondsPerDay + s.writerTime.firstFrameTime / kMicrosPerSecond));
  PutBE32(h + 14, 0xFFFFFFFF);
  PutBE32(h + 18, 0xFFFFFFFF);
  PutBE32(h + 22, s.traceTopology == Topo::TokenRing ? 1 : 0);
  PutBE32(h + 26, wireless ? 1 : 0);
  h[32] = h[33] = wireless ? 1 : 0;  // version 1.1: the lowest accepted for wireless files
  PutBE32(h + 34, s.lineSpeed);
  if (c.target->seek(0)) c.target->write(h, sizeof h);
  w.end = uint64_t(c.target->position());
  w.wireless = wireless;
  w.flagRules = PacketFlagRulesFor(s.traceTopology);
}

void WritePacketFileFrame(Conversion& c) {
  if (c.state.targetAnalyzer == Analyzer::Farrowe) {
    WriteTaggedRecord(c);
    return;
  }
  ConversionState& s = c.state;
  PacketFileWriter& w = c.WriterContext<PacketFileWriter>();
  const int32_t radio = w.wireless ? kRadioBytes : 0;
  // Never more than the source stored, nor more than the slice allows.
  int32_t count = s.frame.storedLength + radio;
  if (s.options.sliceFrames) count = std::min(count, s.options.sliceLength);
  count = std::max(count, radio);
  // A slice of 0 means "the whole frame": a frame with no stored bytes can
  // only be written as an empty one.
  const int32_t length = count == 0 ? 0 : s.frame.frameLength + radio;
  int32_t slice = count;
  if (length <= count) {
    slice = 0;
    count = length;
  }

  // The header states where the records end in 32 bits; only a record
  // beyond the limit goes on to be refused.
  const int32_t pad = count % 2;
  const uint64_t end = w.end + kV7RecordSize + uint64_t(count) + uint64_t(pad);
  if (!c.RoomForFrame(end)) return;
  const uint8_t flags = PacketFlagsByte(s, w.flagRules);
  const uint64_t base = w.epoch1904Base;
  const int64_t frameTime = WriterFrameTime(s);
  if (frameTime < 0 && uint64_t(-frameTime) > base) {  // before 1904: no such stamp
    FailWrite(s, "frame " + Grouped(s.counters.framesWritten) + ": time before 1904 cannot be stored");
    return;
  }
  const uint64_t stamp = uint64_t(frameTime) + base;
  // The record header, for wireless frames the radio bytes, the frame bytes
  // and a pad byte that keeps the next record at an even offset.
  WriteRecord(*c.target, size_t(kV7RecordSize + count + pad), w.aside.data(), [&](uint8_t* p) {
    PutBE16(p, 0);
    PutBE16(p + 2, uint16_t(length));
    PutBE16(p + 4, uint16_t(slice));
    p[6] = flags;
    p[7] = 0;
    PutBE64(p + 8, stamp);
    uint8_t* body = p + kV7RecordSize;
    if (radio) {
      body[0] = s.frame.wirelessDataRate;
      body[1] = s.frame.wirelessChannel;
      body[2] = s.frame.wirelessSignal;
      body[3] = s.frame.wirelessNoise;
    }
    std::memcpy(body + radio, s.frame.frameData.data(), size_t(count - radio));
    if (pad) body[count] = 0;
  });
  w.end = end;
}

void FinishPacketFile(Conversion& c, int32_t framesWritten) {
  if (framesWritten > 0) WritePacketFileHeader(c, framesWritten);
}

// ---------------------------------------------------------------- registry

namespace {

bool HasSuffix(const IdentifyInput& input, const char* suffix) {
  return input.upperPath.find(suffix) != std::string::npos;
}

// The analyzer a native packet file belongs to, from its media words.
AnalyzerType PacketFileAnalyzer(const PacketFileSummary& summary) {
  AnalyzerType type = Analyzer::Unknown;
  switch (summary.mediaType) {
    case 0: type = Analyzer::Ostrawind; break;
    case 1: type = Analyzer::Ringstave; break;
    case 3:
    case 12: type = Analyzer::Farrowe; break;
    default: break;
  }
  const int medium = summary.physicalMedium;
  if (medium >= 1 && medium <= 3) type = Analyzer::Skavelin;
  if ((medium >= 4 && medium <= 6) || medium == 8 || medium == 9) type = Analyzer::Farrowe;
  return type;
}

std::optional<AnalyzerType> IdentifyCompressedPacketFile(IdentifyInput& input) {
  if (!HasSuffix(input, ".KVZ")) return std::nullopt;
  auto gz = OpenGzipSource(input.path);
  if (!gz) return Analyzer::Unknown;
  uint8_t first[4] = {};
  if (!gz->readExact(first, sizeof first)) return Analyzer::Unknown;
  if (first[0] != 6 && first[0] != 7 && first[0] != kTaggedFirstByte) return Analyzer::Unknown;
  PacketFileSummary summary;
  if (!gz->seek(0) || !ReadPacketFileSummary(*gz, summary)) return Analyzer::Unknown;
  input.compressed = true;
  return PacketFileAnalyzer(summary);
}

std::optional<AnalyzerType> IdentifyClassicPacketFile(IdentifyInput& input) {
  const int64_t version = input.head.u8(0) & 0x7F;
  if (!(HasSuffix(input, ".PKT") || HasSuffix(input, ".RGC") || HasSuffix(input, ".SKC")) ||
      (version != 6 && version != 7))
    return std::nullopt;
  if (input.head.u8(0) & 0x80) return Analyzer::Glimmerhollow;
  if (HasSuffix(input, ".SKC")) return Analyzer::Skavelin;
  if (HasSuffix(input, ".RGC")) return Analyzer::Ringstave;
  return Analyzer::Ostrawind;
}

std::optional<AnalyzerType> IdentifyTaggedPacketFile(IdentifyInput& input) {
  if (!input.head.startsWith("\x7Fver")) return std::nullopt;
  PacketFileSummary summary;
  if (!input.in.seek(0) || !ReadPacketFileSummary(input.in, summary)) return Analyzer::Unknown;
  return PacketFileAnalyzer(summary);
}

Topology PacketFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  SourceStream* stream = &t.in;
  if (t.s.sourceCompressed) {
    gz = OpenGzipSource(t.fileName);
    if (!gz) return Topo::Unknown;
    stream = gz.get();
  }
  PacketFileSummary summary;
  if (!stream->seek(0) || !ReadPacketFileSummary(*stream, summary)) return Topo::Unknown;
  t.speed = summary.linkSpeed;
  Topology topology = Topo::Unknown;
  if (t.type == Analyzer::Skavelin) {
    topology = Topo::Wireless;
  } else if (t.type == Analyzer::Ostrawind) {
    topology = Topo::Ethernet;
  } else if (t.type == Analyzer::Ringstave) {
    topology = Topo::TokenRing;
  } else {
    const int medium = summary.physicalMedium < 0 ? -1 : summary.physicalMedium & 0x7F;
    if (medium == 5 || medium == 6 || medium == 10) {
      t.s.wanProtocol = medium == 5 ? Wan::FrameRelay : medium == 6 ? Wan::X25 : Wan::Isdn;
      topology = Topo::TSeries;
    } else if (medium == 0 || medium == 4) {
      topology = Topo::TSeries;
      ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, topology);
      if (probe.delivered) t.s.wanProtocol = probe.wanProtocol;
    }
  }
  // Wireless captures of analyzer versions before 1.1 cannot be read.
  if (topology == Topo::Wireless && summary.appMajorVersion == 0) topology = Topo::Unknown;
  return topology;
}

const char* OstrawindSuffix(AnalyzerType type, Topology topology) {
  return type == Analyzer::Ostrawind && topology == Topo::Wireless ? ".skc" : nullptr;
}

constexpr IdentifyRule kPacketFileRules[] = {
    // A .kvz file shows only gzip bytes: the suffix decides before any magic.
    {"packet-file-gzip", IdentifyCompressedPacketFile, 30},
    // A version byte and a suffix: weak, so after every magic.
    {"packet-file", IdentifyClassicPacketFile, 180},
    // Text magic at offset 0.
    {"tagged-packet-file", IdentifyTaggedPacketFile, 190},
};
constexpr FriendlyName kPacketFileNames[] = {{Analyzer::Skavelin, "skavelin"},
                                             {Analyzer::Ostrawind, "ostrawind"},
                                             {Analyzer::Ringstave, "ringstave"}};

}  // namespace

// The classic layout, read with the tagged one (the reader tells them apart).
constexpr AnalyzerInfo kPacketFileAnalyzers[] = {
    {Analyzer::Skavelin, "Skavelin (Corvantique)", "SK", ".skc", Media::Wireless, 0, nullptr,
     "Skavelin files created prior to Skavelin 1.1 are not supported."},
    {Analyzer::Ostrawind, "Ostrawind (Corvantique)", "OW", ".pkt", Media::Ethernet},
    {Analyzer::Ringstave, "Ringstave (Corvantique)", "RS", ".rgc",
     Media::Ethernet | Media::TokenRing, Offer::NoEthernetTarget},
    {Analyzer::Glimmerhollow, "Glimmerhollow (Corvantique)", nullptr, "", 0, Offer::NoDefaultName,
     " must be opened by Ostrawind first."},
};

extern const FormatDescriptor kPacketFileFormat = {
    .family = "native packet file",
    .analyzers = kPacketFileAnalyzers,
    .reads = MaskOf({Analyzer::Skavelin, Analyzer::Ostrawind, Analyzer::Ringstave,
                     Analyzer::Farrowe}),
    .writes = MaskOf({Analyzer::Skavelin, Analyzer::Ostrawind, Analyzer::Ringstave}),
    .recognises = MaskOf({Analyzer::Glimmerhollow}),
    .aliases = kPacketFileNames,
    .sourcePatterns = "*.pkt;*.skc;*.rgc;*.kvc;*.kvz",
    // The classic layout it writes is recognised by its suffix.
    .capabilities = Capability::GzipSource | Capability::KnownBySuffix,
    .suffix = OstrawindSuffix,
    .identify = kPacketFileRules,
    .topology = PacketFileTopology,
    .readHeader = ReadFileHeader,
    .nextRecord = NextRecord,
    .writeHeader = WritePacketFileHeader,
    .writeFrame = WritePacketFileFrame,
    .finish = FinishPacketFile,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes},
};

}  // namespace morph
