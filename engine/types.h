// Vocabulary shared by every part of the converter: analyzer types, media
// (topologies), WAN protocols and the frame status bits.
#pragma once
#include <cstdint>

namespace morph {

// Analyzer types by number: the values are the ones stored in settings and
// shown by identify; never renumber. The enumerators name the types of the
// families that came first; a family added later defines its type's number
// in its own header (inside namespace Analyzer), and its descriptor lists the
// type's row, so that no enumerator is needed here.
enum class AnalyzerType : uint8_t {
  Advisor = 0, Skavelin = 1, Ascii = 2, Bsts = 3, Da30 = 4, DataGlance = 5, Domino = 6,
  Ostrawind = 7, FireBerd500 = 8, FireBerd500Pc = 9, FireBerdDna323 = 10, InternetAdvisor = 11,
  LanAnalyzer = 13, LanAlyzer = 14, LanDesk = 15, LanWatch = 16, LinkViewPro = 17,
  NetLens = 18, NetMetrix = 19, NetMon1 = 20, NetMon2 = 21, NetScout = 22, NetworkAnalyzer = 23,
  Observer = 24, ProtocolInspector = 25, SnifferPro = 26, SnifferDos = 27, Snoop = 28,
  Surveyor = 29, Tcpdump = 30, Ringstave = 31, Glimmerhollow = 32, Farrowe = 33,
  AnyAnalyzer = 34, Unknown = 35, Pcapng = 36,
};
namespace Analyzer {
using enum AnalyzerType;
// Type numbers run below this (the width of a set of types); the numbers in
// use are those of the catalogue's rows.
constexpr int Count = 64;
}  // namespace Analyzer

// The analyzer type of a stored number; Unknown for one no family stands for
// (engine/catalogue.cpp).
AnalyzerType AnalyzerFromNumber(int value);
constexpr int Number(AnalyzerType type) { return int(type); }

// Media of a trace. The values are those the file formats and settings use.
enum class Topology : uint8_t {
  Ethernet = 0, TokenRing = 1, Unused2 = 2, Fddi = 3, Wan = 4, Ds3 = 5, E3 = 6, T1 = 7, E1 = 8,
  VSeries = 9, ESeries = 10, TSeries = 11, Atm = 12, AtmOc3 = 13, AtmT1 = 14, AtmE1 = 15,
  AtmE3 = 16, AtmDs1 = 17, AtmDs3 = 18, Wan19 = 19, Wireless = 20, Unknown = 21,
};
namespace Topo {
using enum Topology;
}  // namespace Topo

constexpr int Number(Topology t) { return int(t); }
// The topology of a stored number; Unknown above the table.
constexpr Topology TopologyFromNumber(int value) {
  return value >= 0 && value <= 21 ? Topology(value) : Topology::Unknown;
}

constexpr bool IsLanTopology(Topology t) {
  return t == Topo::Ethernet || t == Topo::TokenRing || t == Topo::Fddi || t == Topo::Wireless;
}
constexpr bool IsWanTopology(Topology t) { return Number(t) >= 4 && Number(t) <= 19; }
constexpr bool IsAtmTopology(Topology t) { return Number(t) >= 12 && Number(t) <= 18; }

namespace Wan {
constexpr uint32_t Hdlc = 0, Sdlc = 1, X25 = 2, Isdn = 3, Ppp = 4, Lapb = 5, Lapd = 6,
    FrameRelay = 7, NotKnown = 8;
}  // namespace Wan

namespace Flag {
constexpr uint16_t CrcError = 0x8000, AlignmentError = 0x4000, SnifferProStatus2 = 0x2000,
    PacketFileStatus = 0x0800, Direction1 = 0x0001, Direction2 = 0x0002;
constexpr uint16_t Bad = CrcError | AlignmentError;
}  // namespace Flag

// The longest record a reader takes: libpcap's largest snapshot length.
constexpr int MaxRecordBytes = 262144;
// The longest frame passed to a writer: such a record with the Ethernet FCS
// the pipeline carries.
constexpr int MaxFrameBytes = MaxRecordBytes + 4;
// Room for the current frame: the longest one and the header a media
// conversion adds (Ethernet made 802.11 grows by up to 18 bytes).
constexpr int FrameBufferBytes = MaxFrameBytes + 64;
// The longest frame the classic analyzer formats take: their readers refuse
// or clamp longer ones, so their writers store no more.
constexpr int ClassicFrameBytes = 32768;

}  // namespace morph
