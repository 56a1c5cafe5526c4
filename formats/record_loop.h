// What the readers share: how a record step tells its outcome, and where a
// frame's bytes come from.
#pragma once
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/streams.h"
#include "engine/timebase.h"

namespace morph {

// What a reader's `next` tells from a record step that returned `read`:
// a record, or else a failure where the step gave a reason, or the end.
inline ReadStatus RecordOrEnd(const ConversionState& s, bool read) {
  if (read) return ReadStatus::Record;
  return s.status.readError || s.status.writeFailed ? ReadStatus::Failed : ReadStatus::End;
}

// The `next` of a file whose records follow one another to its end: the
// source's end after a record is a clean end; otherwise `readRecord()` fills
// the current frame, or returns false at a clean end or on a failure (having
// given its reason).
template <typename ReadRecord>
inline ReadStatus NextInTurn(Conversion& c, ReadRecord readRecord) {
  if (c.state.counters.framesRead > 0 && c.SourceAtEnd()) return ReadStatus::End;
  return RecordOrEnd(c.state, readRecord());
}

// "frame 3 at offset 1,234: "
inline std::string AtFrame(int64_t frame, int64_t offset) {
  return "frame " + Grouped(frame) + " at " + AtOffset(offset);
}

// Where a frame's bytes come from: its record, and how many frame bytes that
// record holds by its own length. A stored length is asked of the record, so
// that a length the record does not back is a read error, never bytes made up.
struct FrameRecord {
  int64_t frame;   // the frame's number, from 1
  int64_t offset;  // where its record starts
  int64_t holds;   // frame bytes the record holds; -1 where only the file's end bounds them
};

// Whether the record holds `stored` bytes and frameData has room for them;
// otherwise a read error naming the record and the values.
inline bool RecordHolds(ConversionState& s, const FrameRecord& r, int64_t stored) {
  if (stored >= 0 && (r.holds < 0 || stored <= r.holds) && stored <= FrameBufferBytes) return true;
  const std::string at = AtFrame(r.frame, r.offset) + "stored length " + Grouped(stored);
  if (stored < 0) return FailRead(s, at + " is negative");
  if (r.holds >= 0 && stored > r.holds)
    return FailRead(s, at + " exceeds the " + Grouped(r.holds) + " bytes its record holds");
  return FailRead(s, at + " exceeds the " + Grouped(FrameBufferBytes) + " bytes a frame can have");
}

// This record's bytes or an error: the `stored` bytes of the frame at the
// source's position, read into frameData when the record holds them and the
// file has them all; otherwise a read error with the reason.
inline bool ReadFrameBytes(Conversion& c, const FrameRecord& r, int64_t stored) {
  ConversionState& s = c.state;
  if (!RecordHolds(s, r, stored)) return false;
  SourceStream& in = *c.source;
  const size_t got = in.fetch(s.frame.frameData.data(), size_t(stored));
  if (got == size_t(stored)) return true;
  if (in.failed()) return FailRead(s, in.errorText());
  return FailRead(s, AtFrame(r.frame, r.offset) + "stored length " + Grouped(stored) +
                         ", but the file ends after " + Grouped(int64_t(got)) + " of them");
}

// For a reader whose header step records that it read the header whole:
// the record steps go on only then, and fail otherwise.
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

// For readers whose header states the trace start in UTC seconds: traceDate
// and timeZoneBias from it. A start below the bias (before 1970 in local
// time) is no date: the file date stays, and false is returned.
inline bool StartTraceAtKnownUnixTime(ConversionState& s, int64_t seconds) {
  const double fileDate = s.time.traceDate;
  StartTraceAtUnixTime(s, seconds);
  if (seconds >= s.time.timeZoneBias) return true;
  s.time.traceDate = fileDate;
  s.time.headerTimeOfDay = 0;
  ComputeTimeZoneBias(s, false);
  return false;
}

}  // namespace morph
