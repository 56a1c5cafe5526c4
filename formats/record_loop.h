// The frame loop the readers share.
#pragma once
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/timebase.h"

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

// For a reader whose header step records that it read the header whole:
// the frame step goes on only then, and fails otherwise.
inline bool HeaderWasRead(ConversionState& s, bool headerRead) {
  if (!headerRead) FailRead(s, "the header could not be read");
  return headerRead;
}

}  // namespace morph

namespace morph {

// Times of day that restart at midnight, made to keep counting from the
// trace date's midnight: a step back of more than half a day is the next day.
class TimeOfDayClock {
 public:
  int64_t operator()(int64_t timeOfDay) {
    constexpr int64_t kHalfDay = 43200LL * 1000000;
    if (started_ && timeOfDay + kHalfDay < previous_) days_ += 1;
    started_ = true;
    previous_ = timeOfDay;
    return days_ * 86400LL * 1000000 + timeOfDay;
  }

 private:
  bool started_ = false;
  int64_t previous_ = 0;
  int64_t days_ = 0;
};

}  // namespace morph

namespace morph {

// For readers whose header states the trace start in UTC seconds: TraceDate
// and TimeZoneBias from it. A start below the bias (before 1970 in local
// time) is no date: the file date stays, and false is returned.
inline bool StartTraceAtKnownUnixTime(ConversionState& s, int64_t seconds) {
  const double fileDate = s.TraceDate;
  StartTraceAtUnixTime(s, seconds);
  if (seconds >= s.TimeZoneBias) return true;
  s.TraceDate = fileDate;
  s.HeaderTimeOfDay = 0;
  ComputeTimeZoneBias(s, false);
  return false;
}

}  // namespace morph
