// Analyzer families whose files are recognised, and whose media can be told
// from their headers, but which this build does not read yet. A family moves
// out of here into its own file pair when it gains a reader.
#include <optional>

#include "engine/bytes.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/state.h"

namespace morph {
namespace {

bool HasSuffix(const IdentifyInput& input, const char* suffix) {
  return input.upperPath.find(suffix) != std::string::npos;
}

constexpr int64_t kLan900MinimumSize = 131072;

// ---- LANDesk/NetSight
std::optional<AnalyzerType> IdentifyLanDesk(IdentifyInput& input) {
  static const uint8_t kEofZero[2] = {0x1A, 0x00};
  if (input.head.contains(kEofZero, 2) && (input.head.u8(40) == 1 || input.head.u8(40) == 3) &&
      HasSuffix(input, ".CAP"))
    return Analyzer::LanDesk;
  return std::nullopt;
}
Topology LanDeskTopology(TopologyInput& t) {
  switch (t.head.le16(40)) {
    case 1: return Topo::Ethernet;
    case 3: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

// ---- LANalyzer
std::optional<AnalyzerType> IdentifyLanAlyzer(IdentifyInput& input) {
  if (input.head.le16(0) == 0x1001 || input.head.le16(0) == 0x1007) return Analyzer::LanAlyzer;
  return std::nullopt;
}
Topology LanAlyzerTopology(TopologyInput& t) {
  // The trace summary is the seventh record; the six before it are passed over.
  int64_t position = 0;
  for (int record = 0; record < 6; ++record) {
    FileBlock header = ReadFileBlock(t.in, position, 4);
    if (header.size() < 4) return Topo::Unknown;
    position += 4 + header.le16(2);
  }
  FileBlock summary = ReadFileBlock(t.in, position + 4, 210);
  switch (summary.le16(188)) {
    case 226: return Topo::Ethernet;
    case 227:
    case 228: return Topo::TokenRing;
    default: return Topo::Unknown;
  }
}

// ---- DA-30
std::optional<AnalyzerType> IdentifyDa30(IdentifyInput& input) {
  return input.head.startsWith("EXRS") ? std::optional(Analyzer::Da30) : std::nullopt;
}
Topology Da30Topology(TopologyInput& t) {
  FileBlock stats = ReadFileBlock(t.in, t.head.le32(22), 16);
  switch (stats.le32(4)) {
    case 30: return Topo::TokenRing;
    case 40: return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

// ---- FireBerd DNA-323
std::optional<AnalyzerType> IdentifyDna323(IdentifyInput& input) {
  if (input.head.contains("pktcapKahala Systems     ")) return Analyzer::FireBerdDna323;
  return std::nullopt;
}
Topology Dna323Topology(TopologyInput&) { return Topo::Ethernet; }

// ---- DataGLANce
std::optional<AnalyzerType> IdentifyDataGlance(IdentifyInput& input) {
  const FileBlock& h = input.head;
  if (h.u8(130) >= 1 && h.u8(130) <= 3 && h.u8(131) >= 0 && !(h.u8(131) & 2) &&
      HasSuffix(input, ".DGC"))
    return Analyzer::DataGlance;
  return std::nullopt;
}
Topology DataGlanceTopology(TopologyInput& t) {
  switch (t.head.u8(130)) {
    case 1: return Topo::Fddi;
    case 2: return Topo::TokenRing;
    case 3: return Topo::Ethernet;
    default: return Topo::Unknown;
  }
}

// ---- FireBerd 500
std::optional<AnalyzerType> IdentifyFireBerd500(IdentifyInput& input) {
  if (input.head.contains("ProbeApps")) return Analyzer::FireBerd500;
  return std::nullopt;
}
Topology FireBerd500Topology(TopologyInput& t) {
  constexpr size_t kFirstData = 76 + 10;  // file header, record head
  const int64_t first = t.head.u8(kFirstData);
  if (first < 0) return Topo::Unknown;
  if (!(first & 0x10) || first == 0xFF) return Topo::Ethernet;
  const int64_t third = t.head.u8(kFirstData + 2);
  if (first == 0x10 && t.head.u8(kFirstData + 1) == 0 &&
      (third == 90 || third == 93 || third == 0xE0))
    return Topo::Ethernet;
  return Topo::TokenRing;
}

// ---- LAN900
std::optional<AnalyzerType> IdentifyLan900(IdentifyInput& input) {
  if (HasSuffix(input, ".DAT") && input.fileSize >= kLan900MinimumSize &&
      input.head.u8(0) == 3 && input.head.u8(1) == 0x94)
    return Analyzer::Lan900;
  return std::nullopt;
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

// ---- Observer
std::optional<AnalyzerType> IdentifyObserver(IdentifyInput& input) {
  if (input.head.contains("Observer")) return Analyzer::Observer;
  return std::nullopt;
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

// ---- NetScout
std::optional<AnalyzerType> IdentifyNetScout(IdentifyInput& input) {
  if (input.head.startsWith("NetScout Frame File\n")) return Analyzer::NetScout;
  return std::nullopt;
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

// ---- Domino and LinkView PRO
std::optional<AnalyzerType> IdentifyDomino(IdentifyInput& input) {
  if (!input.head.startsWith("WINC")) return std::nullopt;
  return input.head.contains("LinkView PRO") ? Analyzer::LinkViewPro : Analyzer::Domino;
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
  if (topology == Topo::E3 || (Number(topology) >= Number(Topo::E1) &&
                               Number(topology) <= Number(Topo::TSeries)))
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

}  // namespace

namespace {
constexpr IdentifyRule kLanDeskRules[] = {{"landesk", IdentifyLanDesk}};
constexpr IdentifyRule kLanAlyzerRules[] = {{"lanalyzer", IdentifyLanAlyzer}};
constexpr IdentifyRule kDa30Rules[] = {{"da30", IdentifyDa30}};
constexpr IdentifyRule kDna323Rules[] = {{"fireberd-dna323", IdentifyDna323}};
constexpr IdentifyRule kDataGlanceRules[] = {{"dataglance", IdentifyDataGlance}};
constexpr IdentifyRule kFireBerd500Rules[] = {{"fireberd500", IdentifyFireBerd500}};
constexpr IdentifyRule kLan900Rules[] = {{"lan900", IdentifyLan900}};
constexpr IdentifyRule kObserverRules[] = {{"observer", IdentifyObserver}};
constexpr IdentifyRule kNetScoutRules[] = {{"netscout", IdentifyNetScout}};
constexpr IdentifyRule kDominoRules[] = {{"domino", IdentifyDomino}};
}  // namespace

extern const FormatDescriptor kLanDeskFormat = {
    .family = "LANDesk/NetSight",
    .recognises = MaskOf({Analyzer::LanDesk}),
    .identify = kLanDeskRules,
    .topology = LanDeskTopology,
};
extern const FormatDescriptor kLanAlyzerFormat = {
    .family = "LANalyzer",
    .recognises = MaskOf({Analyzer::LanAlyzer}),
    .identify = kLanAlyzerRules,
    .topology = LanAlyzerTopology,
};
extern const FormatDescriptor kDa30Format = {
    .family = "DA-30",
    .recognises = MaskOf({Analyzer::Da30}),
    .identify = kDa30Rules,
    .topology = Da30Topology,
};
extern const FormatDescriptor kDna323Format = {
    .family = "FireBerd DNA-323",
    .recognises = MaskOf({Analyzer::FireBerdDna323}),
    .identify = kDna323Rules,
    .topology = Dna323Topology,
};
extern const FormatDescriptor kDataGlanceFormat = {
    .family = "DataGLANce",
    .recognises = MaskOf({Analyzer::DataGlance}),
    .identify = kDataGlanceRules,
    .topology = DataGlanceTopology,
};
extern const FormatDescriptor kFireBerd500Format = {
    .family = "FireBerd 500",
    .recognises = MaskOf({Analyzer::FireBerd500}),
    .identify = kFireBerd500Rules,
    .topology = FireBerd500Topology,
};
extern const FormatDescriptor kLan900Format = {
    .family = "LAN900",
    .recognises = MaskOf({Analyzer::Lan900}),
    .identify = kLan900Rules,
    .topology = Lan900Topology,
};
extern const FormatDescriptor kObserverFormat = {
    .family = "Observer",
    .recognises = MaskOf({Analyzer::Observer}),
    .identify = kObserverRules,
    .topology = ObserverTopology,
};
extern const FormatDescriptor kNetScoutFormat = {
    .family = "NetScout",
    .recognises = MaskOf({Analyzer::NetScout}),
    .identify = kNetScoutRules,
    .topology = NetScoutTopology,
};
extern const FormatDescriptor kDominoFormat = {
    .family = "Domino/LinkView PRO",
    .recognises = MaskOf({Analyzer::Domino, Analyzer::LinkViewPro}),
    .identify = kDominoRules,
    .topology = DominoTopology,
};
}  // namespace morph
