// Advisor and Network Analyzer traces. Both live in files of the Advisor file
// library; this file fixes what goes into the library's configuration and
// which of four record layouts a frame takes: ATM cells, WAN frames and LAN
// frames for Advisor, one layout for Network Analyzer.
#include "formats/advisor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/progress.h"
#include "engine/timebase.h"
#include "formats/record_loop.h"
#include "formats/sniffer.h"

namespace morph {
namespace {

enum class Layout { Cell, Wan, Lan, NetworkAnalyzer };

constexpr uint32_t kCellRecordBytes = 64;
constexpr uint32_t kCellBytes = 53;
constexpr uint32_t kWanOverhead = 13;  // length, status, time stamp; length and status again
constexpr uint32_t kLanHeadBytes = 36;
constexpr uint32_t kNetworkAnalyzerHeadBytes = 40;
constexpr uint32_t kLineCodeAtm = 200;
constexpr uint32_t kLineCodeNetworkAnalyzerLan = 401;
constexpr uint32_t kNoWanProtocolCode = 8;
constexpr size_t kCommentBytes = sizeof(BasicConfig::comment);

// Codes of the WAN protocols 0 (HDLC) to 7 (Frame Relay) in the configuration.
constexpr uint32_t kWanProtocolCodes[8] = {3, 3, 2, 4, 5, 4, 4, 1};
constexpr uint32_t kLineCodes[8] = {204, 205, 303, 305, 304, 202, 203, 400};

bool IsAtmLine(Topology t) { return t >= Topo::Atm && t <= Topo::Wan19; }
bool IsLan(Topology t) { return t == Topo::Ethernet || t == Topo::TokenRing || t == Topo::Fddi; }

Layout LayoutFor(AnalyzerType type, Topology t) {
  if (type == Analyzer::NetworkAnalyzer) return Layout::NetworkAnalyzer;
  if ((t >= Topo::Atm && t <= Topo::AtmE3) || t == Topo::AtmDs3) return Layout::Cell;
  return IsLan(t) ? Layout::Lan : Layout::Wan;
}

// Media codes. Every topology a writer takes gets a code of its own that
// reads back as that topology; the codes from 20 up are ours.
uint32_t MediaCode(Topology t) {
  switch (t) {
    case Topo::Ethernet: return 10;
    case Topo::TokenRing: return 13;
    case Topo::Fddi: return 15;
    case Topo::Wan: return 20;
    case Topo::Ds3:
    case Topo::AtmDs3: return 1;
    case Topo::E3:
    case Topo::AtmE3: return 2;
    case Topo::T1:
    case Topo::AtmT1: return 3;
    case Topo::E1:
    case Topo::AtmE1: return 4;
    case Topo::VSeries: return 5;
    case Topo::ESeries: return 21;
    case Topo::TSeries: return 22;
    case Topo::Atm: return 23;
    case Topo::AtmOc3: return 7;
    case Topo::AtmDs1: return 24;
    case Topo::Wan19: return 25;
    default: return 0;
  }
}

uint32_t WanProtocolCode(AnalyzerType type, Topology t, uint32_t protocol) {
  if (protocol < 8) return kWanProtocolCodes[protocol];
  if (type == Analyzer::NetworkAnalyzer || IsLan(t)) return kNoWanProtocolCode;
  return IsAtmLine(t) ? 7 : 0;
}

// ATM lines keep their line code whatever the protocol: it is what tells
// them from the other lines of the same media code.
uint32_t LineCode(AnalyzerType type, Topology t, uint32_t protocol) {
  if (IsAtmLine(t)) return kLineCodeAtm;
  if (protocol < 8) return kLineCodes[protocol];
  return type == Analyzer::NetworkAnalyzer && IsLan(t) ? kLineCodeNetworkAnalyzerLan : 0;
}

uint32_t MediaDetail(Topology t, uint32_t lineSpeed) {
  switch (t) {
    case Topo::Ethernet: return lineSpeed == 100000000 ? 7 : 2;
    case Topo::TokenRing: return lineSpeed == 16000000 ? 4 : 3;
    case Topo::Fddi: return 6;
    default: return 0;
  }
}

// 0x02 SnifferPro status 2, 0x01 CRC error (unless status 2), 0x10 second direction.
uint8_t WanStatus(uint16_t flags) {
  uint8_t status = 0;
  if (flags & Flag::SnifferProStatus2) status = 0x02;
  else if (flags & Flag::CrcError) status = 0x01;
  if (flags & Flag::Direction2) status |= 0x10;
  return status;
}

uint8_t LanStatus(uint16_t flags, uint32_t protocol) {
  if (flags & Flag::SnifferProStatus2) return 0x04;
  if (flags & Flag::CrcError) return protocol == Wan::NotKnown ? 0x10 : 0x02;
  return 0;
}

// 48-bit time stamps in 100-ns units; the count is signed so that a frame
// before the first one keeps its place.
void PutTicks48(uint8_t* p, int64_t ticks) {
  for (int i = 0; i < 6; ++i) p[i] = uint8_t(uint64_t(ticks) >> (8 * i));
}
int64_t GetTicks48(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 5; i >= 0; --i) v = v << 8 | p[i];
  if (v & (uint64_t(1) << 47)) v |= ~((uint64_t(1) << 48) - 1);
  return int64_t(v);
}

// ---------------------------------------------------------------- writer

// The target and the system's reason for the library's last failure.
std::string LibraryFailure(const ConversionState& s, const std::string& otherwise) {
  const std::string& reason = LibraryFailureReason();
  return s.targetFileName + ": " + (reason.empty() ? otherwise : reason);
}

struct AdvisorWriterContext : FormatContext {
  LibraryHandle handle = 0;
  LibraryFile* file = nullptr;  // the handle's file, resolved once
  // What stays the same for every frame of a conversion, fixed at the header step.
  Layout layout = Layout::Lan;
  uint8_t lanMedium = 0;  // byte 18 of a LAN record
  uint8_t atmLine = 0;    // byte 36 of a Network Analyzer record
  // The first frame's fraction of a second in whole microseconds (it holds no more).
  int64_t firstFraction = 0;
  int64_t firstFrameTime = 0;
  // Seconds since 1970 from the first frame's whole second.
  SteppedUnixClock clock;

  void Close(Conversion& c) override {
    if (!handle) return;
    if (c.state.options.refuseLosses && c.state.counters.lost.any()) {
      // Not kept: the target is as it stood.
      AbandonCalyxenFile(handle);
      c.state.status.targetDiscarded = true;
      handle = 0;
      file = nullptr;
      return;
    }
    // The library writes its last block and its header now.
    c.host.progress(ComputeProgress(c.state, c.state.sourceFileSize, false, true));
    if (CloseCalyxenFile(handle) != 1) {
      // The library dropped the file: the target is as it stood.
      FailWrite(c.state, LibraryFailure(c.state, "the Advisor library could not complete it"));
      c.state.status.targetDiscarded = true;
    }
    handle = 0;
    file = nullptr;
  }
  // Not closed: the conversion ended by an exception, and its file goes.
  ~AdvisorWriterContext() override {
    if (handle) AbandonCalyxenFile(handle);
  }
};

// The record's size in the file for a frame of `stored` bytes.
uint32_t RecordBytes(Layout layout, uint32_t stored) {
  switch (layout) {
    case Layout::Cell: return kCellRecordBytes;
    case Layout::Wan: return stored + kWanOverhead;
    case Layout::Lan: return kLanHeadBytes + stored;
    case Layout::NetworkAnalyzer: return kNetworkAnalyzerHeadBytes + stored;
  }
  return 0;
}

// Seconds since 1970 and nanoseconds of the current frame. The nanoseconds
// carry the first frame's fraction and are not carried into the seconds, so
// they reach up to 1,999,999,000.
bool LanTime(const ConversionState& s, AdvisorWriterContext& w, uint32_t& seconds,
             uint32_t& nanoseconds) {
  const UnixTime when = w.clock(WriterFrameTime(s));
  if (when.seconds < 0 || when.seconds > int64_t(UINT32_MAX)) return false;
  seconds = uint32_t(when.seconds);
  nanoseconds = uint32_t((when.microseconds + w.firstFraction) * 1000);
  return true;
}

// 100-ns units since the whole second of the first frame.
int64_t TicksSinceStart(const ConversionState& s, const AdvisorWriterContext& w) {
  return (WriterFrameTime(s) - w.firstFrameTime + w.firstFraction) * 10;
}

// Lays out the record of `length` bytes, every byte of it, at r.
void LayOutRecord(const ConversionState& s, const AdvisorWriterContext& w, uint8_t* r,
                  uint32_t length, uint32_t stored, uint32_t seconds, uint32_t nanoseconds) {
  const uint16_t flags = s.frame.frameFlags;
  const uint32_t frameNumber = uint32_t(s.counters.framesWritten - s.counters.nonDataFrames);
  switch (w.layout) {
    case Layout::Cell: {
      std::memset(r, 0, kCellRecordBytes);
      std::memcpy(r, s.frame.frameData.data(), std::min(stored, kCellBytes));
      PutTicks48(r + 53, TicksSinceStart(s, w));
      r[61] = (flags & Flag::Direction1) ? 0x80 : 0;
      return;
    }
    case Layout::Wan: {
      const uint8_t status = WanStatus(flags);
      PutLE16(r, uint16_t(length));
      r[2] = status;
      r[3] = 0;
      PutTicks48(r + 4, TicksSinceStart(s, w));
      std::memcpy(r + 10, s.frame.frameData.data(), stored);
      PutLE16(r + length - 3, uint16_t(length));
      r[length - 1] = status;
      return;
    }
    case Layout::Lan: {
      std::memset(r, 0, kLanHeadBytes);
      PutLE32(r + 4, frameNumber);
      PutLE16(r + 12, uint16_t(s.frame.frameLength));
      PutLE16(r + 14, uint16_t(stored));
      r[17] = LanStatus(flags, s.wanProtocol);
      r[18] = w.lanMedium;
      PutLE32(r + 20, seconds);
      PutLE32(r + 24, nanoseconds);
      std::memcpy(r + kLanHeadBytes, s.frame.frameData.data(), stored);
      return;
    }
    case Layout::NetworkAnalyzer: {
      std::memset(r, 0, kNetworkAnalyzerHeadBytes);
      r[0] = 1;
      r[1] = (flags & Flag::Direction1) ? 1 : 2;
      PutLE32(r + 4, frameNumber);
      PutLE32(r + 8, seconds);
      PutLE32(r + 12, nanoseconds);
      PutLE32(r + 16, stored);
      PutLE32(r + 20, uint32_t(s.frame.frameLength));
      PutLE32(r + 24, LanStatus(flags, s.wanProtocol));
      r[36] = w.atmLine;
      std::memcpy(r + kNetworkAnalyzerHeadBytes, s.frame.frameData.data(), stored);
      return;
    }
  }
}

// ---------------------------------------------------------------- reader

struct AdvisorReaderContext : FormatContext {
  LibraryHandle handle = 0;
  uint32_t frameCount = 0;
  uint32_t nextBlock = 0;
  bool dated = false;  // traceDate is fixed (by the header or the first timed record)
  UnixFrameClock clock;
  Layout layout = Layout::Lan;
  bool nonData = false;  // the record just read carries no frame
  // The block being read.
  const uint8_t* records = nullptr;
  uint32_t recordsLeft = 0, bytes = 0, at = 0;

  void Close(Conversion&) override {
    if (handle) CloseCalyxenFile(handle);
    handle = 0;
  }
  // The share of the stated frames read, as a position in the file.
  int64_t SourcePosition(const ConversionState& s) const override {
    if (frameCount == 0) return 0;
    return int64_t(double(s.counters.framesRead) / frameCount * double(s.sourceFileSize));
  }
  ~AdvisorReaderContext() override {
    if (handle) CloseCalyxenFile(handle);
  }
};

std::string Where(const ConversionState& s, const AdvisorReaderContext& r) {
  return "record " + Grouped(s.counters.framesRead + 1) + " (block " + Grouped(r.nextBlock - 1) +
         ", byte " + Grouped(r.at) + "): ";
}

// A record that carries no frame: counted, not passed on.
void SkipNonData(AdvisorReaderContext& r) { r.nonData = true; }

void DateByFirstRecord(ConversionState& s, AdvisorReaderContext& r, uint32_t seconds) {
  if (r.dated) return;
  StartTraceAtUnixTime(s, seconds);
  r.dated = true;
}

// Lengths of a record with a frame: never more stored than on the wire, and
// the wire length within the frame limit.
void SetLengths(ConversionState& s, uint32_t frameLength, uint32_t stored) {
  s.frame.storedLength = int32_t(stored);
  s.frame.frameLength = int32_t(std::min<uint32_t>(frameLength, FrameBufferBytes));
  s.frame.storedLength = std::min(s.frame.storedLength, s.frame.frameLength);
  ClampFrameLength(s);
}

// Each Read*Record takes the record at r.at; false: not passed on (no frame,
// or a read error).
bool ReadCellRecord(ConversionState& s, AdvisorReaderContext& r, const uint8_t* p, uint32_t left) {
  if (left < kCellRecordBytes) {
    FailRead(s, Where(s, r) + "cell record of 64 bytes with " + Grouped(left) + " left");
    return false;
  }
  std::memcpy(s.frame.frameData.data(), p, kCellBytes);
  s.frame.frameLength = s.frame.storedLength = int32_t(kCellBytes);
  s.frame.frameTime = s.time.headerTimeOfDay + FloorDiv(GetTicks48(p + 53) + 5, 10);
  s.frame.frameFlags = (p[61] & 0x80) ? Flag::Direction1 : Flag::Direction2;
  r.at += kCellRecordBytes;
  return true;
}

bool ReadWanRecord(ConversionState& s, AdvisorReaderContext& r, const uint8_t* p, uint32_t left) {
  const uint32_t length = left >= 2 ? GetLE16(p) : 0;
  if (left < kWanOverhead || length < kWanOverhead || length > left) {
    FailRead(s, Where(s, r) + "WAN record length " + Grouped(length) + " outside 13 to " +
                    Grouped(left));
    return false;
  }
  r.at += length;
  const uint8_t status = p[2];
  if (status >= 0x40) {
    SkipNonData(r);
    return false;
  }
  s.frame.frameFlags = (status & 0x10) ? Flag::Direction2 : Flag::Direction1;
  if (status & 0x02) s.frame.frameFlags |= Flag::SnifferProStatus2;
  if (status & 0x01) s.frame.frameFlags |= Flag::CrcError;
  s.frame.frameTime = s.time.headerTimeOfDay + FloorDiv(GetTicks48(p + 4) + 5, 10);
  const uint32_t stored = length - kWanOverhead;
  std::memcpy(s.frame.frameData.data(), p + 10, stored);
  s.frame.frameLength = s.frame.storedLength = int32_t(stored);
  ClampFrameLength(s);
  return true;
}

bool ReadLanRecord(ConversionState& s, AdvisorReaderContext& r, const uint8_t* p, uint32_t left) {
  const uint32_t stored = left >= kLanHeadBytes ? GetLE16(p + 14) : 0;
  if (left < kLanHeadBytes || stored > left - kLanHeadBytes) {
    FailRead(s, Where(s, r) + "LAN record of " + Grouped(kLanHeadBytes + stored) +
                    " bytes with " + Grouped(left) + " left");
    return false;
  }
  r.at += kLanHeadBytes + stored;
  const uint32_t seconds = GetLE32(p + 20), nanoseconds = GetLE32(p + 24);
  DateByFirstRecord(s, r, seconds);
  s.frame.frameFlags = (p[17] & 0x10) ? Flag::CrcError : 0;
  s.frame.frameTime = r.clock(s, seconds, nanoseconds / 1000);
  std::memcpy(s.frame.frameData.data(), p + kLanHeadBytes, stored);
  SetLengths(s, GetLE16(p + 12), stored);
  return true;
}

bool ReadNetworkAnalyzerRecord(ConversionState& s, AdvisorReaderContext& r, const uint8_t* p,
                               uint32_t left) {
  const uint32_t stored = left >= kNetworkAnalyzerHeadBytes ? GetLE32(p + 16) : 0;
  const bool frame = left >= kNetworkAnalyzerHeadBytes && p[0] == 1 && p[37] == 0;
  // A record without a frame holds its stored bytes only when byte 36 says so.
  const bool holdsBytes = frame || (left >= kNetworkAnalyzerHeadBytes && p[36] == 1);
  const uint32_t room = left >= kNetworkAnalyzerHeadBytes ? left - kNetworkAnalyzerHeadBytes : 0;
  if (left < kNetworkAnalyzerHeadBytes || (holdsBytes && stored > room)) {
    FailRead(s, Where(s, r) + "Network Analyzer record of 40 + " + Grouped(stored) +
                    " bytes with " + Grouped(left) + " left");
    return false;
  }
  r.at += kNetworkAnalyzerHeadBytes + (holdsBytes ? stored : 0);
  if (!frame) {
    SkipNonData(r);
    return false;
  }
  const uint32_t seconds = GetLE32(p + 8), nanoseconds = GetLE32(p + 12);
  const uint32_t status = GetLE32(p + 24);
  DateByFirstRecord(s, r, seconds);
  s.frame.frameFlags = 0;
  const bool ringOrEthernet = s.traceTopology == Topo::Ethernet || s.traceTopology == Topo::TokenRing;
  if (ringOrEthernet && (status & 0x10)) s.frame.frameFlags |= Flag::CrcError;
  if (s.wanProtocol != Wan::NotKnown) {
    if (status & 0x02) s.frame.frameFlags |= Flag::CrcError;
    if (status & 0x04) s.frame.frameFlags |= Flag::SnifferProStatus2;
  }
  s.frame.frameFlags |= p[1] == 1 ? Flag::Direction1 : Flag::Direction2;
  s.frame.frameTime = r.clock(s, seconds, nanoseconds / 1000);
  std::memcpy(s.frame.frameData.data(), p + kNetworkAnalyzerHeadBytes, stored);
  SetLengths(s, GetLE32(p + 20), stored);
  return true;
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  AdvisorReaderContext& r = c.ReaderContext<AdvisorReaderContext>();
  BasicConfig config;
  r.handle = OpenCalyxenFile(s.sourceFileName.c_str(), &r.frameCount, &config);
  if (!r.handle) {
    FailRead(s, "not a file of the Advisor library");
    return;
  }
  if (!CalyxenFileClosedByWriter(r.handle)) {
    FailRead(s, "the file was never completed: its header still says it is being written");
    return;
  }
  r.layout = LayoutFor(s.sourceAnalyzer, s.traceTopology);
  r.dated = StartTraceAtHeaderTime(s, config.startTime);
}

// Fetches the next block; false at the end of the file (the end, or a
// read error when the file holds fewer records than it states).
bool NextBlock(ConversionState& s, AdvisorReaderContext& r) {
  if (r.records && r.at != r.bytes) {
    FailRead(s, "block " + Grouped(r.nextBlock - 1) + ": " + Grouped(r.bytes - r.at) +
                    " bytes after its last record");
    return false;
  }
  uint32_t count = 0, bytes = 0;
  r.records = ReadFramesFromFile(r.handle, r.nextBlock++, &count, &bytes);
  if (!r.records) {
    if (uint32_t(s.counters.framesRead) < r.frameCount)
      FailRead(s, "record " + Grouped(s.counters.framesRead + 1) + ": the file ends after " +
                      Grouped(s.counters.framesRead) + " of " +
                      Grouped(r.frameCount) + " frames");
    return false;
  }
  r.recordsLeft = count;
  r.bytes = bytes;
  r.at = 0;
  return true;
}

bool ReadRecord(ConversionState& s, AdvisorReaderContext& r) {
  const uint8_t* p = r.records + r.at;
  const uint32_t left = r.bytes - r.at;
  --r.recordsLeft;
  switch (r.layout) {
    case Layout::Cell: return ReadCellRecord(s, r, p, left);
    case Layout::Wan: return ReadWanRecord(s, r, p, left);
    case Layout::Lan: return ReadLanRecord(s, r, p, left);
    case Layout::NetworkAnalyzer: return ReadNetworkAnalyzerRecord(s, r, p, left);
  }
  return false;
}

// The records block by block, up to the frame count the file states.
ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  AdvisorReaderContext& r = c.ReaderContext<AdvisorReaderContext>();
  if (!r.handle || (r.frameCount != 0 && uint32_t(s.counters.framesRead) >= r.frameCount))
    return ReadStatus::End;
  if ((!r.records || r.recordsLeft == 0) && !NextBlock(s, r)) return RecordOrEnd(s, false);
  r.nonData = false;
  if (ReadRecord(s, r)) return ReadStatus::Record;
  return r.nonData ? ReadStatus::NonData : RecordOrEnd(s, false);
}

}  // namespace

BasicConfig AdvisorConfig(const ConversionState& s, ConfigExtension& extension) {
  const AnalyzerType type = s.targetAnalyzer;
  const Topology t = s.traceTopology;
  BasicConfig c;
  c.wanProtocolCode = WanProtocolCode(type, t, s.wanProtocol);
  c.fileKind = type == Analyzer::NetworkAnalyzer ? kLibraryFileKindNetworkAnalyzer
                                                 : kLibraryFileKindAdvisor;
  c.mediaCode = MediaCode(t);
  c.lineCode = LineCode(type, t, s.wanProtocol);
  c.lineSpeed = s.lineSpeed;
  // A start the field cannot hold is no start; each frame's time fails on its own.
  const WriterTime& view = s.writerTime;
  const bool startFits = view.firstFrameUnixTime >= 0 && view.firstFrameUnixTime <= kLatestUnsigned32Seconds;
  c.startTime = startFits ? uint32_t(view.firstFrameUnixTime) : 0;
  const std::string comment =
      "Converted From " +
      SourceDisplayName(s.sourceAnalyzer, s.sourceVariant, s.sourceCompressed);
  std::memcpy(c.comment, comment.data(), std::min(comment.size(), kCommentBytes));
  extension = ConfigExtension{{1, uint32_t(view.firstFrameSeconds),
                               uint32_t(view.firstFrameMicroseconds * 1000), 32768,
                               MediaDetail(t, s.lineSpeed),
                               uint32_t(s.options.sliceFrames ? s.options.sliceLength : s.counters.maxTruncatedLength),
                               0x2000000, 1}};
  c.extensionSize = sizeof extension;
  c.extension = &extension;
  return c;
}

Topology AdvisorTopologyOf(const BasicConfig& config, uint32_t& wanProtocol) {
  const uint32_t media = config.mediaCode;
  const bool atmCode = config.wanProtocolCode == 7;
  Topology topology = Topo::Unknown;
  if (config.lineCode == kLineCodeAtm) {
    switch (media) {
      case 1: topology = Topo::AtmDs3; break;
      case 2: topology = Topo::AtmE3; break;
      case 3: topology = Topo::AtmT1; break;
      case 4: topology = Topo::AtmE1; break;
      case 7: topology = Topo::AtmOc3; break;
      case 24: topology = Topo::AtmDs1; break;
      case 25: topology = Topo::Wan19; break;
      default: topology = Topo::Atm; break;
    }
  } else {
    switch (media) {
      case 1: topology = atmCode ? Topo::AtmDs3 : Topo::Ds3; break;
      case 2: topology = atmCode ? Topo::AtmE3 : Topo::E3; break;
      case 3: topology = Topo::T1; break;
      case 4: topology = atmCode ? Topo::AtmE1 : Topo::E1; break;
      case 5: topology = Topo::VSeries; break;
      case 7: topology = Topo::AtmOc3; break;
      case 10:
      case 11:
      case 12: topology = Topo::Ethernet; break;
      case 13: topology = Topo::TokenRing; break;
      case 15: topology = Topo::Fddi; break;
      case 20: topology = Topo::Wan; break;
      case 21: topology = Topo::ESeries; break;
      case 22: topology = Topo::TSeries; break;
      default: break;
    }
  }
  switch (config.wanProtocolCode) {
    case 1: wanProtocol = Wan::FrameRelay; break;
    case 2: wanProtocol = Wan::X25; break;
    case 3: wanProtocol = Wan::Hdlc; break;
    case 4: wanProtocol = Wan::Isdn; break;
    case 5: wanProtocol = Wan::Ppp; break;
    default: wanProtocol = Wan::NotKnown; break;
  }
  for (uint32_t p = 0; p < 8; ++p)
    if (config.lineCode == kLineCodes[p]) wanProtocol = p;
  return topology;
}

std::optional<AnalyzerType> IdentifyAdvisorFile(IdentifyInput& in) {
  BasicConfig config;
  uint32_t count = 0;
  const LibraryHandle handle = OpenCalyxenFile(in.path.c_str(), &count, &config);
  if (!handle) return std::nullopt;
  CloseCalyxenFile(handle);
  if (config.fileKind == kLibraryFileKindNetworkAnalyzer) return Analyzer::NetworkAnalyzer;
  if (config.fileKind == kLibraryFileKindAdvisor) return Analyzer::Advisor;
  return Analyzer::Unknown;
}

Topology AdvisorFileTopology(TopologyInput& t) {
  BasicConfig config;
  uint32_t count = 0;
  const LibraryHandle handle = OpenCalyxenFile(t.fileName.c_str(), &count, &config);
  if (!handle) return Topo::Unknown;
  CloseCalyxenFile(handle);
  uint32_t protocol = Wan::NotKnown;
  const Topology topology = AdvisorTopologyOf(config, protocol);
  t.s.wanProtocol = protocol;
  t.s.fileComment = std::string(config.comment, strnlen(config.comment, kCommentBytes));
  t.s.sourceFrameCount = int32_t(std::min<uint32_t>(count, INT32_MAX));
  t.speed = config.lineSpeed;
  return topology;
}

void WriteAdvisorHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  AdvisorWriterContext& w = c.WriterContext<AdvisorWriterContext>();
  ConfigExtension extension;
  const BasicConfig config = AdvisorConfig(s, extension);
  w.handle = CreateCalyxenFile(s.targetFileName.c_str(), 0, &config);
  w.file = LibraryFileOf(w.handle);
  if (!w.handle) FailWrite(s, LibraryFailure(s, "the Advisor library cannot create it"));
  w.layout = LayoutFor(s.targetAnalyzer, s.traceTopology);
  w.lanMedium = s.traceTopology == Topo::Ethernet ? 0x40 : 0;
  w.atmLine = IsAtmLine(s.traceTopology) ? 1 : 0;
  w.firstFraction = int64_t(s.writerTime.timeBaseFraction);
  w.firstFrameTime = s.writerTime.firstFrameTime;
  w.clock.start(s.writerTime.firstFrameTime, s.writerTime.firstFrameUnixTime);
}

void WriteAdvisorFrame(Conversion& c) {
  ConversionState& s = c.state;
  AdvisorWriterContext& w = c.WriterContext<AdvisorWriterContext>();
  const int32_t frame = s.counters.framesWritten - s.counters.nonDataFrames;
  const uint32_t stored = uint32_t(std::clamp(s.frame.storedLength, 0, ClassicFrameBytes));
  uint32_t seconds = 0, nanoseconds = 0;
  if ((w.layout == Layout::Lan || w.layout == Layout::NetworkAnalyzer) &&
      !LanTime(s, w, seconds, nanoseconds)) {
    FailWrite(s, "frame " + Grouped(frame) + ": its time lies outside 1970 to 2106");
    return;
  }
  const uint32_t length = RecordBytes(w.layout, stored);
  uint8_t* record = AppendRecord(w.file, length);
  if (!record) {
    FailWrite(s, "frame " + Grouped(frame) + ": " +
                     LibraryFailure(s, "the Advisor library did not store it"));
    return;
  }
  LayOutRecord(s, w, record, length, stored, seconds, nanoseconds);
}

void FinishAdvisor(Conversion& c, int32_t /*framesWritten*/) {
  ConversionState& s = c.state;
  AdvisorWriterContext& w = c.WriterContext<AdvisorWriterContext>();
  if (!w.handle) return;
  ComputeWriterTimeBase(s);
  ConfigExtension extension;
  const BasicConfig config = AdvisorConfig(s, extension);
  UpdateBasicConfig(w.handle, &config);
}

namespace {
// Tried at 240: the Advisor file library opens the file: last, as it reads more.
constexpr IdentifyRule kAdvisorRules[] = {{"advisor-library", IdentifyAdvisorFile, 240}};
constexpr FriendlyName kAdvisorNames[] = {{Analyzer::Advisor, "advisor"},
                                          {Analyzer::NetworkAnalyzer, "network-analyzer"}};
}  // namespace

constexpr AnalyzerInfo kAdvisorAnalyzers[] = {
    {Analyzer::Advisor, "Advisor (Agilent)", "IA", ".dat",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wan},
    {Analyzer::NetworkAnalyzer, "Network Analyzer (Agilent)", "AN", ".dat",
     Media::Ethernet | Media::TokenRing | Media::Wan},
};

extern const FormatDescriptor kAdvisorFormat = {
    .family = "Advisor",
    .analyzers = kAdvisorAnalyzers,
    .reads = MaskOf({Analyzer::Advisor, Analyzer::NetworkAnalyzer}),
    .writes = MaskOf({Analyzer::Advisor, Analyzer::NetworkAnalyzer}),
    .aliases = kAdvisorNames,
    .finishingText = "Creating Internet Advisor data file; please wait...",
    .sourcePatterns = "*.dat",
    .capabilities = Capability::OwnSource | Capability::OwnTarget,
    .identify = kAdvisorRules,
    .topology = AdvisorFileTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WriteAdvisorHeader,
    .writeFrame = WriteAdvisorFrame,
    .finish = FinishAdvisor,
    .limits = {.largestStored = ClassicFrameBytes, .largestWire = 65535,
                .keptFlags = Flag::Direction1 | Flag::Direction2},
};

}  // namespace morph
