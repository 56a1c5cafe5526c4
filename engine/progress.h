// What the progress display shows, computed from the conversion state. The
// console line and the desktop progress window both render this.
#pragma once
#include <cstdint>
#include <string>

#include "engine/state.h"

namespace morph {

struct ProgressView {
  std::string caption;          // "Converting " + source file name
  std::string framesWritten;    // with thousands separators
  std::string nonDataFrames;
  std::string frameBytes;
  std::string traceDuration;    // "hh:mm:ss" or "<00:00:01"
  int percent = 0;              // progress bar
  std::string pctComplete;      // "N% Complete" or the outcome text
  std::string buttonCaption;    // "&Stop" or "&OK"
  bool buttonEnabled = true;
  bool finished = false;
  bool failed = false;  // the source could not be read or the target written
};

std::string WithThousands(uint64_t value);
std::string DurationText(int64_t seconds);  // at least two digits each, hours unbounded

// The update of the progress display. sourcePosition is the byte position in
// the source file (compressed position for gzip sources); stopPressed is
// whether the user asked to stop. While the target's writer finishes its
// file (writingIndex, or completingAside: a writer whose file is completed
// outside the target stream) the display shows the writer's finishing text.
ProgressView ComputeProgress(const ConversionState& s, int64_t sourcePosition, bool stopPressed,
                             bool completingAside = false);

}  // namespace morph
