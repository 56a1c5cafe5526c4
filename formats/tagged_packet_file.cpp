// Tagged packet files: the sections of XML text at the start, the tagged
// packet records and the writer of both.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/format.h"
#include "engine/timebase.h"
#include "formats/packet_file.h"
#include "formats/record_loop.h"
#include "formats/tagged_packet_file.h"

namespace morph {
namespace {

constexpr int kSectionHeaderSize = 12;
constexpr int kTagEntrySize = 6;
constexpr uint16_t kEndOfTags = 0xFFFF;
// Nanoseconds since 1601-01-01 are Unix seconds plus this many.
constexpr int64_t kSeconds1601To1970 = 11644473600;
constexpr uint32_t kSectionMark = 512;
constexpr char kVersionXml[] =
    "<VersionInfo><FileVersion>9</FileVersion><AppVersion>5.4.0.1</AppVersion>"
    "<ProdVersion>1.0.0.0</ProdVersion></VersionInfo>\r\n";
// The packet count keeps eight characters so that the rewritten header has
// the same size; larger counts are written as 0, which readers take as
// "read to the end of the file".
constexpr int64_t kMaxWrittenCount = 99999999;

namespace Tag {
constexpr int Length = 0, TimeLow = 1, TimeHigh = 2, FlagsAndStatus = 3, Channel = 4, DataRate = 5,
    Signal = 6, MediaMark = 10, LinkProtocol = 11, Direction = 12;
}  // namespace Tag

namespace LinkCode {
constexpr uint32_t HdlcOrPpp = 16, FrameRelay = 35, X25 = 37, Isdn = 49;
}  // namespace LinkCode

// The version and session texts are a few hundred bytes; anything far larger
// is no such file, and is refused before memory is taken for it.
constexpr int32_t kMaxSectionText = 1 << 20;

struct SectionHeader {
  char tag[4];
  int32_t length;
};

bool ReadSectionHeader(SourceStream& in, SectionHeader& section) {
  uint8_t raw[kSectionHeaderSize];
  if (!in.readExact(raw, sizeof raw)) return false;
  std::memcpy(section.tag, raw, 4);
  section.length = int32_t(GetLE32(raw + 4));
  return section.length >= 0;
}

bool ReadSectionText(SourceStream& in, const SectionHeader& section, std::string& text) {
  if (section.length > kMaxSectionText) return false;
  text.resize(size_t(section.length));
  return in.readExact(text.data(), text.size());
}

bool TagIs(const SectionHeader& section, const char* name, bool ignoreCase) {
  for (int i = 0; i < 4; ++i) {
    char a = section.tag[i], b = name[i];
    if (ignoreCase && a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// The text after the first "<name>" up to the next "<"; false when the element is missing.
bool ElementText(std::string_view xml, std::string_view name, std::string_view& text) {
  const std::string open = "<" + std::string(name) + ">";
  const size_t start = xml.find(open);
  if (start == std::string_view::npos) return false;
  const size_t from = start + open.size();
  const size_t end = xml.find('<', from);
  text = xml.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
  return true;
}

// A decimal number with leading blanks; false for anything else or beyond 32 bits.
bool ParseCount(std::string_view text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + uint64_t(text[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  value = uint32_t(v);
  return true;
}

uint32_t SessionValue(std::string_view xml, std::string_view name) {
  std::string_view text;
  uint32_t value = 0;
  if (!ElementText(xml, name, text) || !ParseCount(text, value)) return 0;
  return value;
}

// Major version of "<AppVersion>a.b.c.d</AppVersion>", each part 0 to 255; -1 otherwise.
int AppMajorVersion(std::string_view xml) {
  std::string_view text;
  if (!ElementText(xml, "AppVersion", text)) return -1;
  int parts[4];
  size_t at = 0;
  for (int k = 0; k < 4; ++k) {
    size_t dot = k < 3 ? text.find('.', at) : text.size();
    if (dot == std::string_view::npos) return -1;
    std::string_view part = text.substr(at, dot - at);
    if (part.empty() || part.size() > 3) return -1;
    int v = 0;
    for (char ch : part) {
      if (ch < '0' || ch > '9') return -1;
      v = v * 10 + (ch - '0');
    }
    if (v > 255) return -1;
    parts[k] = v;
    at = dot + 1;
  }
  return parts[0];
}

void ApplyLinkProtocol(ConversionState& s, uint32_t code) {
  switch (code) {
    case LinkCode::HdlcOrPpp:
      s.wanProtocol = s.frame.storedLength > 0 && s.frame.frameData[0] == 0xFF ? Wan::Ppp : Wan::Hdlc;
      break;
    case LinkCode::FrameRelay: s.wanProtocol = Wan::FrameRelay; break;
    case LinkCode::X25: s.wanProtocol = Wan::X25; break;
    case LinkCode::Isdn: s.wanProtocol = Wan::Isdn; break;
    default: break;
  }
}

uint32_t LinkCodeOf(uint32_t wanProtocol) {
  switch (wanProtocol) {
    case Wan::Hdlc:
    case Wan::Ppp: return LinkCode::HdlcOrPpp;
    case Wan::X25: return LinkCode::X25;
    case Wan::Isdn: return LinkCode::Isdn;
    case Wan::FrameRelay: return LinkCode::FrameRelay;
    default: return 0;
  }
}

// Media type and sub-type elements; an empty text where the medium has none.
std::pair<std::string, int> MediaOf(Topology topology, uint32_t wanProtocol) {
  if (topology == Topo::Ethernet) return {"0", 0};
  if (topology == Topo::TokenRing) return {"1", 0};
  if (topology == Topo::Fddi) return {"2", 0};
  if (topology == Topo::Wireless) return {"9", 3};
  if (topology >= Topo::Wan && topology <= Topo::TSeries) {
    switch (wanProtocol) {
      case Wan::Hdlc:
      case Wan::X25:
      case Wan::Ppp: return {"12", 6};
      case Wan::Isdn: return {"12", 10};
      case Wan::FrameRelay: return {"12", 5};
      default: return {"12", 0};
    }
  }
  return {"", 0};
}

std::string SessionXml(const ConversionState& s, int64_t count) {
  if (count < 0 || count > kMaxWrittenCount) count = 0;
  char countText[16];
  std::snprintf(countText, sizeof countText, "%8d", int(count));
  const auto [mediaType, mediaSubType] = MediaOf(s.traceTopology, s.wanProtocol);
  return "<Session><RawTime> </RawTime><Time> </Time><MediaType>" + mediaType +
         "</MediaType><MediaSubType>" + std::to_string(mediaSubType) + "</MediaSubType>" +
         "<TimeZoneBias>" + std::to_string(s.writerTime.timeZoneBias / 60) + "</TimeZoneBias><LinkSpeed>" +
         std::to_string(s.lineSpeed) + "</LinkSpeed>" + "<PacketCount>" + countText +
         "</PacketCount></Session>\r\n";
}

void WriteSection(TargetStream& out, const char* tag, const std::string& text, uint32_t mark) {
  uint8_t h[kSectionHeaderSize];
  std::memcpy(h, tag, 4);
  PutLE32(h + 4, uint32_t(text.size()));
  PutLE32(h + 8, mark);
  out.write(h, sizeof h);
  out.writeText(text);
}

void PutTag(uint8_t*& p, uint16_t tag, uint32_t value) {
  PutLE16(p, tag);
  PutLE32(p + 2, value);
  p += kTagEntrySize;
}

// Times come as nanoseconds since 1601 UTC; the first record fixes the trace date.
void SetTaggedFrameTime(ConversionState& s, TaggedCarry& carry) {
  const uint64_t nanos = uint64_t(carry.timeHigh) << 32 | carry.timeLow;
  const int64_t micros = int64_t(nanos / 1000);
  const int64_t seconds = micros / 1000000 - kSeconds1601To1970;
  if (!carry.started) {
    carry.started = true;
    StartTraceAtUnixTime(s, seconds);
  }
  s.frame.frameTime = carry.clock(s, seconds, micros % 1000000);
}

}  // namespace

bool ReadTaggedHeader(SourceStream& in, PacketFileSummary& out, int64_t& packetsEnd) {
  out = PacketFileSummary{};
  out.tagged = true;
  out.versionByte = 9;
  packetsEnd = -1;
  SectionHeader section;
  std::string text;
  if (!in.seek(0) || !ReadSectionHeader(in, section) || !ReadSectionText(in, section, text))
    return false;
  out.appMajorVersion = AppMajorVersion(text);

  // Find the session, remembering where a packets section came first.
  int64_t packetsAt = -1;
  if (!ReadSectionHeader(in, section)) return false;
  while (!TagIs(section, "sess", true)) {
    if (packetsAt < 0 && TagIs(section, "pkts", true)) packetsAt = in.position() - kSectionHeaderSize;
    if (!in.skip(section.length) || !ReadSectionHeader(in, section)) return false;
  }
  if (!ReadSectionText(in, section, text)) return false;
  out.packetCount = SessionValue(text, "PacketCount");
  out.timeDate = SessionValue(text, "RawTime");
  out.linkSpeed = SessionValue(text, "LinkSpeed");
  out.mediaType = int(SessionValue(text, "MediaType") & 0x7FFFFFFF);
  out.physicalMedium = int(SessionValue(text, "MediaSubType") & 0x7FFFFFFF);

  if (packetsAt >= 0 && !in.seek(packetsAt)) return false;
  if (!ReadSectionHeader(in, section)) return false;
  while (!TagIs(section, "pkts", false)) {
    if (!in.skip(section.length) || !ReadSectionHeader(in, section)) return false;
  }
  if (section.length > 0) packetsEnd = in.position() + section.length;
  return true;
}

RecordOutcome ReadTaggedRecord(Conversion& c, TaggedCarry& carry) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  bool haveLink = false;
  uint32_t linkCode = 0, direction = 0;
  const FrameRecord where{s.counters.framesRead + 1, carry.recordAt, -1};
  int64_t tagBytes = 0;
  uint8_t entry[kTagEntrySize];
  for (bool first = true;; first = false) {
    const size_t got = in.fetch(entry, sizeof entry);
    if (got == 0 && first && !in.failed()) return RecordOutcome::End;
    if (got != sizeof entry) {
      FailRead(s, in.failed() ? in.errorText()
                              : AtFrame(where.frame, where.offset) + "tag entry at offset " +
                                    Grouped(where.offset + tagBytes) + " cut short");
      return RecordOutcome::Error;
    }
    tagBytes += kTagEntrySize;
    const uint16_t tag = GetLE16(entry);
    const uint32_t value = GetLE32(entry + 2);
    if (tag == kEndOfTags) break;
    switch (tag & 0x7F) {
      case Tag::Length: carry.length = value; break;
      case Tag::TimeLow: carry.timeLow = value; break;
      case Tag::TimeHigh: carry.timeHigh = value; break;
      case Tag::FlagsAndStatus: carry.flagsAndStatus = value; break;
      case Tag::Channel: s.frame.wirelessChannel = uint8_t(value); break;
      case Tag::DataRate: s.frame.wirelessDataRate = uint8_t(value); break;
      case Tag::Signal: s.frame.wirelessSignal = uint8_t(value); break;
      case Tag::LinkProtocol: haveLink = true, linkCode = value; break;
      case Tag::Direction: direction = value; break;
      default: break;  // not interpreted, or unknown and skipped with its value
    }
  }
  const int32_t length = int32_t(carry.length & 0xFFFF);
  int32_t slice = int32_t(GetLE32(entry + 2) & 0xFFFF);
  if (slice == 0) slice = length;

  s.frame.frameFlags = 0;
  if (carry.flagsAndStatus & 0x02) s.frame.frameFlags |= Flag::CrcError;
  if (carry.flagsAndStatus & 0x04) s.frame.frameFlags |= Flag::AlignmentError;
  if ((carry.flagsAndStatus >> 16) & 0x04) s.frame.frameFlags |= Flag::PacketFileStatus;
  if (direction == 1) s.frame.frameFlags |= Flag::Direction1;
  if (direction == 2) s.frame.frameFlags |= Flag::Direction2;

  if (!ReadFrameBytes(c, where, slice)) return RecordOutcome::Error;
  carry.recordAt += tagBytes + slice;
  // A slice longer than its frame's length keeps its bytes.
  s.frame.frameLength = slice <= MaxFrameBytes ? std::max(length, slice) : length;
  s.frame.storedLength = slice;
  if (haveLink) ApplyLinkProtocol(s, linkCode);
  SetTaggedFrameTime(s, carry);
  ClampFrameLength(s);
  return RecordOutcome::Frame;
}

void WriteTaggedRecord(Conversion& c) {
  ConversionState& s = c.state;
  const UnixTime when = FrameUnixTime(s);
  // Nanoseconds since 1601 in 64 bits: to the year 2185.
  constexpr int64_t kLatest = int64_t(UINT64_MAX / 1000000000) - 1 - kSeconds1601To1970;
  if (!TimeFitsTarget(s, when.seconds, -kSeconds1601To1970, kLatest)) return;
  const uint64_t nanos =
      (uint64_t(when.seconds + kSeconds1601To1970) * 1000000 + uint64_t(when.microseconds)) * 1000;
  const int32_t stored = std::max(0, s.frame.storedLength);
  // A slice of 0 means "the whole frame": a frame with no stored bytes can
  // only be written as an empty one.
  const int32_t length = stored == 0 ? 0 : s.frame.frameLength;

  uint8_t record[12 * kTagEntrySize];
  uint8_t* p = record;
  PutTag(p, Tag::Length, uint32_t(length));
  PutTag(p, Tag::TimeLow, uint32_t(nanos));
  PutTag(p, Tag::TimeHigh, uint32_t(nanos >> 32));
  PutTag(p, Tag::FlagsAndStatus, PacketFlagsByte(s, PacketFlagRulesFor(s.traceTopology)));
  if (s.traceTopology == Topo::Wireless) {
    PutTag(p, Tag::Channel, s.frame.wirelessChannel);
    PutTag(p, Tag::DataRate, s.frame.wirelessDataRate);
    PutTag(p, Tag::Signal, s.frame.wirelessSignal);
  }
  PutTag(p, Tag::MediaMark, 4);
  PutTag(p, Tag::LinkProtocol, LinkCodeOf(s.wanProtocol));
  PutTag(p, Tag::Direction, (s.frame.frameFlags & Flag::Direction1) ? 1 : 2);
  PutTag(p, kEndOfTags, uint32_t(stored));
  c.target->writeHeadAndBody(record, size_t(p - record), s.frame.frameData.data(), size_t(stored));
}

void WriteTaggedFileHeader(Conversion& c, int32_t count) {
  ConversionState& s = c.state;
  TargetStream& out = *c.target;
  if (!out.seek(0)) return;
  WriteSection(out, "\177ver", kVersionXml, kSectionMark);
  WriteSection(out, "sess", SessionXml(s, int64_t(count) - s.counters.nonDataFrames), kSectionMark);
  WriteSection(out, "pkts", "", 0);
}

void FinishTaggedFile(Conversion& c, int32_t framesWritten) {
  if (framesWritten > 0) WriteTaggedFileHeader(c, framesWritten);
}

// ---------------------------------------------------------------- registry

namespace {
constexpr FriendlyName kTaggedNames[] = {{Analyzer::Farrowe, "farrowe"}};
}  // namespace

// The tagged layout as a target; its files are read by the packet-file reader.
constexpr AnalyzerInfo kTaggedPacketFileAnalyzers[] = {
    {Analyzer::Farrowe, "Farrowe (Corvantique)", "KV", ".kvc", Media::Wan},
};

extern const FormatDescriptor kTaggedPacketFileFormat = {
    .family = "tagged packet file",
    .analyzers = kTaggedPacketFileAnalyzers,
    .writes = MaskOf({Analyzer::Farrowe}),
    .aliases = kTaggedNames,
    .writeHeader = WriteTaggedFileHeader,
    .writeFrame = WritePacketFileFrame,
    .finish = FinishTaggedFile,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = ClassicFrameBytes,
                .keptFlags = Flag::Direction1 | Flag::Direction2},
};

}  // namespace morph
