#include "engine/progress.h"

#include <algorithm>
#include <cmath>

#include "engine/format.h"

namespace morph {

std::string WithThousands(uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string DurationText(int64_t seconds) {
  auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return two(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
}

namespace {

int PercentRead(int64_t position, int64_t size) {
  return int(std::clamp<long>(std::lround(100.0 * double(position) / double(size)), 0, 100));
}

// What the display says while the target's writer finishes its file.
const char* FinishingText(const ConversionState& s) {
  const FormatDescriptor* writer = WriterFormat(s.targetAnalyzer);
  return writer && writer->finishingText ? writer->finishingText
                                         : "Writing index data; please wait...";
}

}  // namespace

ProgressView ComputeProgress(const ConversionState& s, int64_t sourcePosition, bool stopPressed,
                             bool completingAside) {
  ProgressView v;
  std::string name = s.sourceFileName.substr(s.sourceFileName.find_last_of('/') + 1);
  v.caption = "Converting " + name;
  v.framesWritten = WithThousands(uint64_t(std::max(0, s.counters.framesWritten - s.counters.nonDataFrames)));
  v.nonDataFrames = WithThousands(uint64_t(std::max(0, s.counters.nonDataFrames)));
  v.frameBytes = WithThousands(s.counters.frameBytesTotal);
  int64_t seconds = std::llround(double(s.time.traceDuration) / 1e6);
  v.traceDuration = (!s.status.readError && seconds > 0) ? DurationText(seconds) : "<00:00:01";
  v.buttonCaption = stopPressed ? "&OK" : "&Stop";
  const bool finishing = completingAside || s.status.writingIndex;
  const bool finished = s.status.conversionFinished || finishing;
  if (finishing) {
    v.pctComplete = FinishingText(s);
    v.buttonEnabled = false;
  }
  v.finished = finished;
  if (finished) {
    if (finishing) {
      // A write that failed before the index is told at once.
      if (!completingAside && !stopPressed && s.status.writeFailed) v.pctComplete = "FILE ERROR";
    } else if (stopPressed) {
      v.buttonEnabled = true;
      v.pctComplete = "FILE PARTIALLY CONVERTED";
    } else if (s.status.writeFailed) {
      v.pctComplete = "FILE ERROR";
    } else {
      v.buttonEnabled = true;
      v.buttonCaption = "&OK";
      v.pctComplete = s.counters.framesWritten > 0 ? "Done." : "NO FRAMES WERE CONVERTED.";
    }
    v.failed = s.status.readError || s.status.writeFailed;
    // A conversion that read to the end fills the bar; one that was stopped
    // or failed leaves it where reading ended.
    if (!v.failed && !stopPressed) v.percent = 100;
    else if (s.sourceFileSize > 0)
      v.percent = PercentRead(sourcePosition, s.sourceFileSize);
    return v;
  }
  if (s.sourceFileSize > 0) {
    v.percent = PercentRead(sourcePosition, s.sourceFileSize);
    v.pctComplete = std::to_string(v.percent) + "% Complete";
  }
  return v;
}

}  // namespace morph
