// Domino and LinkView PRO capture files: a 78-byte header, a directory of
// tagged 8-byte entries, the frame bytes one after another, and at the end
// an index of 20-byte entries that locates each frame and carries its
// lengths, time and status.
#pragma once
#include <cstdint>
#include <optional>

#include "engine/format.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType Domino = AnalyzerType(6);
inline constexpr AnalyzerType LinkViewPro = AnalyzerType(17);
}  // namespace Analyzer

constexpr int kDominoHeaderSize = 78;
constexpr int kDominoDirectorySize = 20 * 8;
constexpr int kDominoIndexEntrySize = 20;
// Media code of files that keep no Ethernet FCS (and, with sub-code 6, Token Ring).
constexpr uint16_t kDominoMediaWithoutFcs = 739;

// "WINC" files: LinkView PRO when the header text names it, else Domino.
std::optional<AnalyzerType> IdentifyDomino(IdentifyInput& in);
// Media code and sub-code of the header; the comment; the frame count
// through a run of the reader's header step.
Topology DominoTopology(TopologyInput& t);

void WriteDominoHeader(Conversion& c, int32_t frameNumber);
void WriteDominoFrame(Conversion& c);
void FinishDomino(Conversion& c, int32_t framesWritten);

}  // namespace morph
