#include "engine/losses.h"

#include "engine/failure.h"

namespace morph {
namespace {

// "3 frames cut", "1 frame cut"
std::string Counted(int64_t n, const char* one, const char* several, const char* what) {
  return Grouped(n) + " " + (n == 1 ? one : several) + " " + what;
}

}  // namespace

std::string LossesText(const FrameLosses& l) {
  if (!l.any()) return "kept everything";
  std::string text;
  const auto add = [&](int64_t n, const std::string& part) {
    if (n == 0) return;
    text += (text.empty() ? "" : ", ") + part;
  };
  add(l.framesNotWritten, Counted(l.framesNotWritten, "frame", "frames", "not written") +
                              (l.firstNotWrittenReason.empty()
                                   ? ""
                                   : " (" + l.firstNotWrittenReason + ")"));
  add(l.framesCut, Counted(l.framesCut, "frame", "frames", "cut") + " by " +
                       Counted(l.bytesCut, "byte", "bytes", "in all"));
  add(l.wireLengthsNotStored,
      Counted(l.wireLengthsNotStored, "wire length", "wire lengths", "not stored"));
  add(l.framesPadded, Counted(l.framesPadded, "frame", "frames", "padded to 60 bytes"));
  add(l.timesRounded, Counted(l.timesRounded, "time", "times", "rounded"));
  add(l.timesNotStored, Counted(l.timesNotStored, "time", "times", "not stored"));
  add(l.datesNotStored, "date not stored");
  add(l.flagsNotStored, Counted(l.flagsNotStored, "frame's", "frames'", "flags not stored"));
  add(l.commentsNotStored, Counted(l.commentsNotStored, "comment", "comments", "not stored"));
  add(l.interfacesNotStored,
      Counted(l.interfacesNotStored, "interface", "interfaces", "merged into one"));
  return "lost " + text;
}

}  // namespace morph
