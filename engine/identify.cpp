#include "engine/identify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/streams.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "formats/advisor.h"
#include "formats/internet_advisor.h"
#include "formats/netmetrix.h"
#include "formats/netmon.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"

namespace morph {
namespace {

constexpr size_t kHeadBytes = 200;          // what identification looks at
constexpr int64_t kMinimumFileSize = 40;    // smaller files are "too small"
constexpr size_t kTopologyHeadBytes = 140;  // what topology determination looks at
constexpr int64_t kMinimumTopologySize = 50;
constexpr int64_t kLan900MinimumSize = 131072;
constexpr size_t kCommentLimit = 300;

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

using Block = FileBlock;

Block ReadBlock(SourceStream& in, int64_t position, size_t n) {
  return ReadFileBlock(in, position, n);
}

// Only regular files are looked at: opening a FIFO or device could block or
// consume data.
bool IsRegularFile(const std::string& path, bool& accessDenied) {
  struct stat st {};
  accessDenied = false;
  if (stat(path.c_str(), &st) != 0) {
    accessDenied = errno == EACCES;
    return false;
  }
  return S_ISREG(st.st_mode);
}

// ------------------------------------------------------------ identification

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

AnalyzerType IdentifyCompressedPacketFile(ConversionState& s, const std::string& fileName) {
  auto gz = OpenGzipSource(fileName);
  if (!gz) return Analyzer::Unknown;
  uint8_t first[4] = {};
  if (!gz->readExact(first, sizeof first)) return Analyzer::Unknown;
  if (first[0] != 6 && first[0] != 7 && first[0] != kTaggedFirstByte) return Analyzer::Unknown;
  PacketFileSummary summary;
  if (!gz->seek(0) || !ReadPacketFileSummary(*gz, summary)) return Analyzer::Unknown;
  s.SourceCompressed = true;
  return PacketFileAnalyzer(summary);
}

AnalyzerType IdentifyTaggedPacketFile(SourceStream& in) {
  PacketFileSummary summary;
  if (!in.seek(0) || !ReadPacketFileSummary(in, summary)) return Analyzer::Unknown;
  return PacketFileAnalyzer(summary);
}

bool IsCompressedSnifferPro(const std::string& fileName) {
  auto gz = OpenGzipSource(fileName);
  if (!gz) return false;
  Block header = ReadBlock(*gz, 0, 128);
  return header.startsWith("XCP");
}

AnalyzerType IdentifyPcap(ConversionState& s, SourceStream& in, uint32_t magic,
                          bool& openFailed) {
  PcapFlagsFromMagic(magic, s);
  if (!PcapVersionOk(in, s.TcpdumpSwapBytes)) return Analyzer::Unknown;
  if (magic != kPcapMagicStandard) return Analyzer::Tcpdump;
  switch (ProbePcapRecordLayout(in)) {
    case PcapProbe::Standard: return Analyzer::Tcpdump;
    case PcapProbe::Modified: s.TcpdumpModified = true; return Analyzer::Tcpdump;
    case PcapProbe::Nokia: s.TcpdumpNokia = true; return Analyzer::Tcpdump;
    case PcapProbe::IoError: openFailed = true; return Analyzer::Unknown;
    case PcapProbe::Unknown: break;
  }
  return Analyzer::Unknown;
}

// The rules in the order they are tried; the first that matches decides.
AnalyzerType IdentifyByContent(ConversionState& s, SourceStream& in, const Block& head,
                               const std::string& fileName, bool& openFailed) {
  const std::string path = Upper(fileName);

  if (Contains(path, ".KVZ")) return IdentifyCompressedPacketFile(s, fileName);
  if (Contains(path, ".CAZ") && IsCompressedSnifferPro(fileName)) {
    s.SourceCompressed = true;
    return Analyzer::SnifferPro;
  }
  if (head.startsWith("TRS") || head.startsWith("NSE")) {
    s.SourceCompressed = IsSnifferDosCompressed(head.bytes.data(), head.size());
    return Analyzer::SnifferDos;
  }
  bool compressed = false;
  uint32_t variant = 0;
  IdentifyInput input{in, head, fileName, path, s.SourceFileSize, compressed, variant, openFailed};
  if (auto type = IdentifyNetMetrix(input)) return *type;
  if (const uint32_t magic = GetLE32(head.bytes.data()); IsPcapMagic(magic))
    return IdentifyPcap(s, in, magic, openFailed);
  if (head.le16(0) == 0x1001 || head.le16(0) == 0x1007) return Analyzer::LanAlyzer;
  static const uint8_t kEofZero[2] = {0x1A, 0x00};
  if (head.contains(kEofZero, 2) && (head.u8(40) == 1 || head.u8(40) == 3) &&
      Contains(path, ".CAP"))
    return Analyzer::LanDesk;
  if (head.startsWith("EXRS")) return Analyzer::Da30;
  if (head.contains("pktcapKahala Systems     ")) return Analyzer::FireBerdDna323;
  if (auto type = IdentifyInternetAdvisor(input)) return *type;
  if (head.u8(130) >= 1 && head.u8(130) <= 3 && head.u8(131) >= 0 && !(head.u8(131) & 2) &&
      Contains(path, ".DGC"))
    return Analyzer::DataGlance;
  if (head.contains("ProbeApps")) return Analyzer::FireBerd500;
  if (head.startsWith("RTSS")) return Analyzer::NetMon1;
  if (head.startsWith("GMBU")) return Analyzer::NetMon2;
  if (Contains(path, ".DAT") && s.SourceFileSize >= kLan900MinimumSize && head.u8(0) == 3 &&
      head.u8(1) == 0x94)
    return Analyzer::Lan900;
  if (head.contains("Observer")) return Analyzer::Observer;
  const int64_t version = head.u8(0) & 0x7F;
  if ((Contains(path, ".PKT") || Contains(path, ".RGC") || Contains(path, ".SKC")) &&
      (version == 6 || version == 7)) {
    if (head.u8(0) & 0x80) return Analyzer::Glimmerhollow;
    if (Contains(path, ".SKC")) return Analyzer::Skavelin;
    if (Contains(path, ".RGC")) return Analyzer::Ringstave;
    return Analyzer::Ostrawind;
  }
  if (head.startsWith("\x7Fver")) return IdentifyTaggedPacketFile(in);
  if (head.startsWith("snoop\0\0\0", 8)) return SnoopOrSurveyor(in);
  if (head.startsWith("NetScout Frame File\n")) return Analyzer::NetScout;
  if (head.startsWith("WINC"))
    return head.contains("LinkView PRO") ? Analyzer::LinkViewPro : Analyzer::Domino;
  if (head.startsWith("XCP")) return Analyzer::SnifferPro;
  // Advisor and Network Analyzer files are recognised only by their library.
  return IdentifyAdvisorFile(input).value_or(Analyzer::Unknown);
}

// ------------------------------------------------------ topology determination

ProbeResult ProbeSource(const ConversionState& s, AnalyzerType type, const std::string& fileName,
                        Topology topology) {
  ProbeResult result;
  if (!HasReader(type)) return result;
  SilentHost quiet;
  auto conversion = std::make_unique<Conversion>(quiet);
  ConversionState& p = conversion->state;
  p.SourceAnalyzer = type;
  p.TargetAnalyzer = s.TargetAnalyzer;
  p.SourceFileName = fileName;
  p.SourceCompressed = s.SourceCompressed;
  p.SourceFileSize = s.SourceFileSize;
  p.TraceTopology = topology;
  p.WanProtocol = s.WanProtocol;
  p.TcpdumpSwapBytes = s.TcpdumpSwapBytes;
  p.TcpdumpModified = s.TcpdumpModified;
  p.TcpdumpNokia = s.TcpdumpNokia;
  result.ran = true;
  result.delivered = conversion->ProbeFirstFrame();
  result.topology = p.TraceTopology;
  result.wanProtocol = p.WanProtocol;
  result.noFrames = p.SourceHasNoFrames;
  result.frameCount = p.SourceFrameCount;
  if (result.delivered) {
    const int32_t n = std::clamp(p.StoredLength, 0, 2);
    result.firstBytes.assign(p.FrameData.begin(), p.FrameData.begin() + n);
  }
  return result;
}

Topology PacketFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  SourceStream* stream = &t.in;
  if (t.s.SourceCompressed) {
    gz = OpenGzipSource(t.fileName);
    if (!gz) return Topo::Unknown;
    stream = gz.get();
  }
  PacketFileSummary summary;
  if (!stream->seek(0) || !ReadPacketFileSummary(*stream, summary)) return Topo::Unknown;
  t.speed = summary.linkSpeed;
  Topology topology = Topo::Unknown;
  switch (t.type) {
    case Analyzer::Skavelin: topology = Topo::Wireless; break;
    case Analyzer::Ostrawind: topology = Topo::Ethernet; break;
    case Analyzer::Ringstave: topology = Topo::TokenRing; break;
    default: {
      const int medium = summary.physicalMedium < 0 ? -1 : summary.physicalMedium & 0x7F;
      if (medium == 5 || medium == 6 || medium == 10) {
        t.s.WanProtocol = medium == 5 ? Wan::FrameRelay : medium == 6 ? Wan::X25 : Wan::Isdn;
        topology = Topo::TSeries;
      } else if (medium == 0 || medium == 4) {
        topology = Topo::TSeries;
        ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, topology);
        if (probe.delivered) t.s.WanProtocol = probe.wanProtocol;
      }
      break;
    }
  }
  // Wireless captures of analyzer versions before 1.1 cannot be read.
  if (topology == Topo::Wireless && summary.appMajorVersion == 0) topology = Topo::Unknown;
  return topology;
}

Topology Da30Topology(TopologyInput& t) {
  Block stats = ReadBlock(t.in, t.head.le32(22), 16);
  switch (stats.le32(4)) {
    case 30: return Topo::TokenRing;
    case 40: return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

Topology DataGlanceTopology(TopologyInput& t) {
  switch (t.head.u8(130)) {
    case 1: return Topo::Fddi;
    case 2: return Topo::TokenRing;
    case 3: return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

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
    case 739:
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

Topology DominoTopology(TopologyInput& t) {
  const bool shortComment = t.type == Analyzer::LinkViewPro || t.head.u8(4) == '\n';
  t.s.FileComment = shortComment ? t.head.text(5, 39) : t.head.text(4, 40);
  const int64_t subCode = t.head.le16(64);
  Topology topology = DominoMedia(t.head.le16(62), subCode, t.speed);
  if (topology == Topo::E3 || (topology >= Topo::E1 && topology <= Topo::TSeries))
    t.s.WanProtocol = DominoWanProtocol(subCode);
  // The reader's header step states the frame count; without a reader the
  // file cannot be converted at all.
  ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, topology);
  if (!probe.ran) {
    t.speed = 0;
    return Topo::Unknown;
  }
  t.s.SourceFrameCount = probe.frameCount;
  return topology;
}

Topology FireBerd500Topology(TopologyInput& t) {
  constexpr size_t kFirstData = 76 + 10;  // file header, record head
  const int64_t first = t.head.u8(kFirstData);
  if (first < 0) return Topo::Unknown;
  if (!(first & 0x10) || first == 0xFF) return Topo::Ethernet;
  const int64_t third = t.head.u8(kFirstData + 2);
  if (first == 0x10 && t.head.u8(kFirstData + 1) == 0 && (third == 90 || third == 93 || third == 0xE0))
    return Topo::Ethernet;
  return Topo::TokenRing;
}

Topology Lan900Topology(TopologyInput& t) {
  ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, Topo::Unknown);
  if (!probe.ran) return Topo::Unknown;
  if (probe.noFrames) {
    // An empty trace has no frame to decide the media by; it is reported as
    // having no frames rather than as an unknown interface.
    t.s.SourceHasNoFrames = true;
    return Topo::Ethernet;
  }
  return probe.delivered ? probe.topology : Topo::Unknown;
}

Topology LanAlyzerTopology(TopologyInput& t) {
  // The trace summary is the seventh record; the six before it are passed over.
  int64_t position = 0;
  for (int record = 0; record < 6; ++record) {
    Block header = ReadBlock(t.in, position, 4);
    if (header.size() < 4) return Topo::Unknown;
    position += 4 + header.le16(2);
  }
  Block summary = ReadBlock(t.in, position + 4, 210);
  switch (summary.le16(188)) {
    case 226: return Topo::Ethernet;
    case 227:
    case 228: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

Topology LanDeskTopology(TopologyInput& t) {
  switch (t.head.le16(40)) {
    case 1: return Topo::Ethernet;
    case 3: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

Topology NetMonFileTopology(TopologyInput& t) {
  t.s.FileComment = ReadNetMonComment(t.in);
  return NetMonTopology(uint8_t(t.head.u8(6)));
}

Topology NetScoutTopology(TopologyInput& t) {
  switch (t.head.be16(78)) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    case 3: return Topo::Wan;
    default: return Topo::Unknown;
  }
}

Topology ObserverTopology(TopologyInput& t) {
  switch (t.head.u8(133)) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    case 9: return Topo::Wireless;
    default: return Topo::Unknown;
  }
}

Topology SnifferProFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  SourceStream* stream = &t.in;
  if (t.s.SourceCompressed) {
    gz = OpenGzipSource(t.fileName);
    if (!gz) return Topo::Unknown;
    stream = gz.get();
  }
  Block header = ReadBlock(*stream, 0, SnifferPro::kHeaderBytes);
  const SnifferTopologyInfo info = SnifferProTopology(header.bytes.data(), header.size());
  t.speed = info.fileLineSpeed;
  t.s.WanProtocol = info.wanProtocol;
  if (info.probeFirstFrame) {
    // Only the reader can tell from the first frame; without a frame the
    // header's protocol stands.
    ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, info.topology);
    t.s.WanProtocol = !probe.ran       ? Wan::NotKnown
                      : probe.delivered ? probe.wanProtocol
                                        : info.wanProtocol;
  }
  return info.topology;
}

Topology SnifferDosFileTopology(TopologyInput& t) {
  const SnifferTopologyInfo info = SnifferDosTopology(t.in);
  t.speed = info.fileLineSpeed;
  t.s.WanProtocol = info.wanProtocol;
  if (info.probeFirstFrame) {
    ProbeResult probe = ProbeSource(t.s, t.type, t.fileName, info.topology);
    if (probe.ran)
      t.s.WanProtocol =
          SnifferDosProtocolFromFrame(probe.firstBytes.data(), int32_t(probe.firstBytes.size()));
  }
  return info.topology;
}

Topology PcapFileTopology(TopologyInput& t) {
  uint32_t linkType = 0;
  if (!PcapLinkType(t.in, t.s.TcpdumpSwapBytes, linkType)) return Topo::Unknown;
  return PcapTopology(linkType, t.speed);
}

Topology TopologyByRule(TopologyInput& t) {
  switch (t.type) {
    case Analyzer::Advisor:
    case Analyzer::NetworkAnalyzer: return AdvisorFileTopology(t);
    case Analyzer::Skavelin:
    case Analyzer::Ostrawind:
    case Analyzer::Ringstave:
    case Analyzer::Farrowe: return PacketFileTopology(t);
    case Analyzer::Da30: return Da30Topology(t);
    case Analyzer::DataGlance: return DataGlanceTopology(t);
    case Analyzer::Domino:
    case Analyzer::LinkViewPro: return DominoTopology(t);
    case Analyzer::FireBerd500: return FireBerd500Topology(t);
    case Analyzer::FireBerdDna323: return Topo::Ethernet;
    case Analyzer::InternetAdvisor: return InternetAdvisorTopology(t);
    case Analyzer::Lan900: return Lan900Topology(t);
    case Analyzer::LanAlyzer: return LanAlyzerTopology(t);
    case Analyzer::LanDesk: return LanDeskTopology(t);
    case Analyzer::NetMetrix: return NetMetrixTopology(t);
    case Analyzer::NetMon1:
    case Analyzer::NetMon2: return NetMonFileTopology(t);
    case Analyzer::NetScout: return NetScoutTopology(t);
    case Analyzer::Observer: return ObserverTopology(t);
    case Analyzer::SnifferPro: return SnifferProFileTopology(t);
    case Analyzer::SnifferDos: return SnifferDosFileTopology(t);
    case Analyzer::Snoop:
    case Analyzer::Surveyor: return SnoopTopology(uint8_t(t.head.u8(15)), t.speed);
    case Analyzer::Tcpdump: return PcapFileTopology(t);
    default: return Topo::Unknown;
  }
}

uint32_t DefaultSpeed(Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return 10000000;
    case Topo::TokenRing: return 16000000;
    case Topo::Fddi: return 100000000;
    case Topo::Wireless: return 11000000;
    default: return 0;
  }
}

}  // namespace

AnalyzerType IdentifySource(ConversionState& s, const std::string& fileName, bool& openFailed,
                            bool& tooSmall) {
  openFailed = tooSmall = false;
  s.SourceCompressed = false;
  s.SourceFileSize = 0;
  bool accessDenied = false;
  std::unique_ptr<SourceStream> in;
  if (IsRegularFile(fileName, accessDenied)) in = OpenFileSource(fileName);
  if (!in) {
    openFailed = true;
    return Analyzer::Unknown;
  }
  s.SourceFileSize = in->size();
  if (s.SourceFileSize < kMinimumFileSize) {
    tooSmall = true;
    return Analyzer::Unknown;
  }
  Block head = ReadBlock(*in, 0, kHeadBytes);
  if (in->failed() || head.size() < size_t(kMinimumFileSize)) {
    openFailed = true;
    return Analyzer::Unknown;
  }
  AnalyzerType type = IdentifyByContent(s, *in, head, fileName, openFailed);
  if (in->failed()) openFailed = true;
  return openFailed ? Analyzer::Unknown : type;
}

Topology DetermineTopology(ConversionState& s, AnalyzerType type, const std::string& fileName,
                           bool& openFailed) {
  openFailed = false;
  s.FileComment.clear();
  s.WanProtocol = Wan::NotKnown;
  s.FileLineSpeed = 0;
  s.LineSpeed = 0;
  bool accessDenied = false;
  std::unique_ptr<SourceStream> in;
  if (IsRegularFile(fileName, accessDenied)) {
    in = OpenFileSource(fileName);
    if (!in) accessDenied = errno == EACCES;
  }
  if (!in) {
    openFailed = !accessDenied;  // a plain refusal of access is no open failure
    return Topo::Unknown;
  }
  if (in->size() < kMinimumTopologySize) return Topo::Unknown;
  Block head = ReadBlock(*in, 0, kTopologyHeadBytes);
  if (in->failed()) {
    openFailed = true;
    return Topo::Unknown;
  }

  uint32_t speed = 0;
  TopologyInput input{s, type, fileName, *in, head, speed};
  Topology topology = TopologyByRule(input);
  if (s.FileComment.size() > kCommentLimit) s.FileComment.resize(kCommentLimit);

  s.FileLineSpeed = speed;
  if (speed == 0) speed = DefaultSpeed(topology);
  // Media nobody named, at a typical Ethernet speed, is taken as Ethernet. Not
  // a wireless capture refused for its analyzer version: that refusal stands.
  if (topology == Topo::Unknown && type != Analyzer::Skavelin &&
      (speed == 10000000 || speed == 100000000))
    topology = Topo::Ethernet;
  s.LineSpeed = speed;
  return topology;
}

}  // namespace morph
