// Vocabulary shared by every part of the converter: analyzer types, media
// (topologies), WAN protocols and the frame status bits.
#pragma once
#include <cstdint>

namespace morph {

// Analyzer types by number: the values are the ones stored in settings and
// shown by identify; never renumber. Each family defines its types' numbers
// in its own header (inside namespace Analyzer) and its descriptor lists
// their rows; only the types that stand for no family are named here.
enum class AnalyzerType : uint8_t { AnyAnalyzer = 34, Unknown = 35 };
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
constexpr uint16_t CrcError = 0x8000, AlignmentError = 0x4000, Direction1 = 0x0001,
    Direction2 = 0x0002;
// 0x0800 to 0x2000 are left to the families, which name their own bits in
// their headers (inside namespace Flag).
constexpr uint16_t Bad = CrcError | AlignmentError;
}  // namespace Flag

// The longest record a reader takes: the largest snapshot length capture
// files state.
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
