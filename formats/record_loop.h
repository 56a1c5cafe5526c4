// The frame loop the readers share.
#pragma once
#include "engine/conversion.h"

namespace morph {

// Whether a reader's frame loop goes on to the next record: nothing went
// wrong, nobody asked to stop, the source has more, and more than one frame
// is wanted.
inline bool ReadOn(const ConversionState& s, bool singleFrame) {
  return !s.ReadError && !s.StopRequested && !s.WriteFailed && !s.EndOfSource && !singleFrame;
}

// The frame loop of a file whose records follow one another to its end:
// `readRecord()` fills the current frame, or returns false at a clean end
// (having set EndOfSource) or on a failure (having set ReadError).
template <typename ReadRecord>
void ReadRecordsInTurn(Conversion& c, bool singleFrame, ReadRecord readRecord) {
  ConversionState& s = c.state;
  do {
    if (!readRecord()) break;
    s.WriteFailed = c.ProcessFrame();
    if (!s.EndOfSource && c.SourceAtEnd()) s.EndOfSource = true;
  } while (ReadOn(s, singleFrame));
  s.FramesReadTotal = s.FramesRead;
}

}  // namespace morph
