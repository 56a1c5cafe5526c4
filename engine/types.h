// Vocabulary shared by every part of the converter: analyzer types, media
// (topologies), WAN protocols and the frame status bits.
#pragma once
#include <cstdint>

namespace morph {

using AnalyzerType = uint8_t;

// Analyzer types index the analyzer name table (catalogue.cpp).
namespace Analyzer {
constexpr AnalyzerType Advisor = 0, Skavelin = 1, Ascii = 2, Bsts = 3, Da30 = 4, DataGlance = 5,
    Domino = 6, Ostrawind = 7, FireBerd500 = 8, FireBerd500Pc = 9, FireBerdDna323 = 10,
    InternetAdvisor = 11, Lan900 = 12, LanAnalyzer = 13, LanAlyzer = 14, LanDesk = 15,
    LanWatch = 16, LinkViewPro = 17, NetLens = 18, NetMetrix = 19, NetMon1 = 20, NetMon2 = 21,
    NetScout = 22, NetworkAnalyzer = 23, Observer = 24, ProtocolInspector = 25, SnifferPro = 26,
    SnifferDos = 27, Snoop = 28, Surveyor = 29, Tcpdump = 30, Ringstave = 31,
    Glimmerhollow = 32, Farrowe = 33, AnyAnalyzer = 34, Unknown = 35, Pcapng = 36;
// Entries of the table; pcapng came after "Unknown", whose value files keep.
constexpr int Count = 37;
}  // namespace Analyzer

using Topology = uint8_t;

namespace Topo {
constexpr Topology Ethernet = 0, TokenRing = 1, Fddi = 3, Wan = 4, Ds3 = 5, E3 = 6, T1 = 7, E1 = 8,
    VSeries = 9, ESeries = 10, TSeries = 11, Atm = 12, AtmOc3 = 13, AtmT1 = 14, AtmE1 = 15,
    AtmE3 = 16, AtmDs1 = 17, AtmDs3 = 18, Wan19 = 19, Wireless = 20, Unknown = 21;
}  // namespace Topo

inline bool IsLanTopology(Topology t) { return t == 0 || t == 1 || t == 3 || t == 20; }
inline bool IsWanTopology(Topology t) { return t >= 4 && t <= 19; }
inline bool IsAtmTopology(Topology t) { return t >= 12 && t <= 18; }

namespace Wan {
constexpr uint32_t Hdlc = 0, Sdlc = 1, X25 = 2, Isdn = 3, Ppp = 4, Lapb = 5, Lapd = 6,
    FrameRelay = 7, NotKnown = 8;
}  // namespace Wan

namespace Flag {
constexpr uint16_t CrcError = 0x8000, AlignmentError = 0x4000, SnifferProStatus2 = 0x2000,
    PacketFileStatus = 0x0800, Direction1 = 0x0001, Direction2 = 0x0002;
constexpr uint16_t Bad = CrcError | AlignmentError;
}  // namespace Flag

constexpr int MaxFrameBytes = 32768;      // largest frame passed to a writer
constexpr int FrameBufferBytes = 65536;   // a reader may read a record up to 65,535 bytes

}  // namespace morph
