// What a target could not hold of the frames it was given, counted frame by
// frame so that nothing is lost silently: the console, --json, the library
// report and the window all show these counts, and --strict refuses any.
#pragma once
#include <cstdint>
#include <string>

namespace morph {

struct FrameLosses {
  int64_t framesNotWritten = 0;      // frames the target could not take at all
  std::string firstNotWrittenReason;  // why the first of them was refused
  int64_t framesCut = 0;             // frames stored shorter than given
  int64_t bytesCut = 0;              // bytes those cuts removed
  int64_t wireLengthsNotStored = 0;  // the target stores no wire length apart from the bytes
  int64_t framesPadded = 0;          // short frames padded to the medium's minimum
  int64_t timesRounded = 0;          // times stored more coarsely than given
  int64_t timesNotStored = 0;        // frames given without a time, or whose time the target lacks
  int64_t datesNotStored = 0;        // 1 when the target keeps the time of day only
  int64_t flagsNotStored = 0;        // frames whose status flags the target cannot state
  int64_t commentsNotStored = 0;     // frame comments the target cannot hold
  int64_t interfacesNotStored = 0;   // interfaces merged into one because the target has one

  bool any() const {
    return framesNotWritten || framesCut || wireLengthsNotStored || framesPadded ||
           timesRounded || timesNotStored || datesNotStored || flagsNotStored ||
           commentsNotStored || interfacesNotStored;
  }
};

// "kept everything", or what was lost: "lost 2 frames cut by 400,000 bytes in
// all, 3 times rounded", one line for the console and the window.
std::string LossesText(const FrameLosses& losses);

}  // namespace morph
