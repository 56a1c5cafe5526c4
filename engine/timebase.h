// The time model shared by all readers and writers: dates as days since
// 1899-12-30, frame times as microseconds since local midnight of the trace
// date, the machine's time zone and the writers' time base.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/bytes.h"
#include "engine/state.h"

namespace morph {

// ---- Calendar ----
bool IsLeapYear(int year);
double EncodeDate(int year, int month, int day);  // midnight of that day
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
void DecodeDate(double dateTime, int& year, int& month, int& day);
void DecodeTime(double dateTime, int& hour, int& minute, int& second);
int64_t DaysFrom1970(double dateTime);  // whole days of the date part since 1970-01-01
int DayOfWeek(double dateTime);         // 0 = Sunday
double SaneDate(double dateTime);      // clamped to years 1 to 9999

// ---- The machine's time zone ----
// A daylight transition: for week 1-4 the week-th weekday of the month, for
// week 5 the last one; or, when dayOfYear >= 0, that day of the year (0-based).
struct ZoneTransition {
  int month = 0;  // 0 = no daylight saving
  int week = 0;
  int weekday = 0;
  int dayOfYear = -1;
  bool julianNoLeap = false;  // dayOfYear counts 1..365 without 29 February
  int seconds = 7200;  // local time of day of the change
};

struct TimeZoneRules {
  int standardBiasMinutes = 0;  // UTC = local + bias (positive west of Greenwich)
  int daylightBiasMinutes = 0;  // added during daylight time, normally -60
  ZoneTransition daylightStart;  // in local standard time
  ZoneTransition daylightEnd;    // in local daylight time
  std::string description;       // the rule text it came from
};

// Parses a POSIX TZ rule such as "CET-1CEST,M3.5.0,M10.5.0/3".
bool ParsePosixTimeZone(const std::string& text, TimeZoneRules& rules);
// A zone the user names: an IANA name ("America/New_York", read from the
// system's zone files), a POSIX rule ("EST5EDT,M3.2.0,M11.1.0") or "UTC".
// Null when it names no zone.
std::shared_ptr<const TimeZoneRules> LoadTimeZone(const std::string& name);
// The machine's zone: the TZ variable (a rule, a zone name or a file) or
// /etc/localtime; UTC when none can be read. Cached until reloaded; a
// reference once handed out stays valid, so threads may keep it.
const TimeZoneRules& MachineTimeZone();
void ReloadMachineTimeZone();  // after TZ changed (tests)
// The conversion's source and target zones (the machine's unless chosen).
const TimeZoneRules& SourceZoneOf(const ConversionState& s);
const TimeZoneRules& TargetZoneOf(const ConversionState& s);

double TransitionDay(int year, const ZoneTransition& t);  // midnight of that day, 0 if invalid
bool IsDaylightTime(double localDateTime);  // in the machine's zone
bool IsDaylightTime(const TimeZoneRules& zone, double localDateTime);
// Seconds to add to the zone's local time to get UTC, at a UTC instant.
int32_t ZoneBiasAtUnix(const TimeZoneRules& zone, int64_t utcSeconds);

// A trace told in another zone: its trace date, its bias and what to add to
// each frameTime so that every frame keeps its UTC instant.
struct ZoneView {
  double traceDate = 0;
  int32_t timeZoneBias = 0;
  int64_t frameTimeShift = 0;
};
ZoneView ViewInZone(const ConversionState& s, const TimeZoneRules& zone);

// ---- Helpers on the conversion state ----
// timeZoneBias for traceDate (seconds); some sources carry their own zone.
void ComputeTimeZoneBias(ConversionState& s, bool atConversionStart);
// traceDate and headerTimeOfDay from UTC seconds minus bias.
void SetTraceDateFromUnix(ConversionState& s, int64_t seconds, int32_t bias);
// For readers of absolute UTC times, at the first frame: fixes traceDate and
// timeZoneBias from the first frame's seconds.
void StartTraceAtUnixTime(ConversionState& s, int64_t seconds);
// StartTraceAtUnixTime for a start time a file header states. False, with
// nothing changed, when it cannot be one: 0, or below the zone's bias (a
// local time before 1970). The reader then dates the trace by its first frame.
bool StartTraceAtHeaderTime(ConversionState& s, int64_t seconds);
// frameTime of an absolute UTC time, measured from local midnight of
// traceDate's day (so traces that run past midnight keep counting).
int64_t FrameTimeFromUnix(const ConversionState& s, int64_t seconds, int64_t microseconds);

// FrameTimeFromUnix for a reader's every record: the trace's local midnight
// is worked out again only when the trace date or the zone bias changes.
class UnixFrameClock {
 public:
  int64_t operator()(const ConversionState& s, int64_t seconds, int64_t microseconds) {
    if (!started_ || !(s.time.traceDate == date_) || s.time.timeZoneBias != bias_) {
      started_ = true;
      date_ = s.time.traceDate;
      bias_ = s.time.timeZoneBias;
      base_ = FrameTimeFromUnix(s, 0, 0);
    }
    return base_ + seconds * 1000000 + microseconds;
  }

 private:
  double date_ = 0;
  int32_t bias_ = 0;
  int64_t base_ = 0;
  bool started_ = false;
};

// The writers' view of time (s.writerTime): the trace date, bias and first
// frame of `time` told in the target's zone, and the time base from them.
// The engine sets it where each file's header is written; a writer may set
// it again (the zone is looked up anew only when the source's date or bias
// moved).
void ComputeWriterTimeBase(ConversionState& s);
// UTC time of a frame time in the target's zone (WriterFrameTime), from the
// writers' time base; the fraction always lies in 0..999,999 (frames before
// the first one floor correctly).
struct UnixTime {
  int64_t seconds;
  int64_t microseconds;
};
// Inline: every writer of absolute times calls it for every frame.
inline UnixTime FrameUnixTime(const ConversionState& s, int64_t frameTime) {
  // The fraction holds whole microseconds: a plain conversion is exact.
  const WriterTime& w = s.writerTime;
  const int64_t offset = frameTime - w.firstFrameTime + int64_t(w.timeBaseFraction);
  const int64_t whole = FloorDiv(offset, kMicrosPerSecond);
  return UnixTime{w.firstFrameUnixTime + whole, offset - whole * kMicrosPerSecond};
}
inline UnixTime FrameUnixTime(const ConversionState& s) { return FrameUnixTime(s, WriterFrameTime(s)); }
// UTC time of a frame time as the reader gave it (in the source's zone).
inline UnixTime SourceFrameUnixTime(const ConversionState& s, int64_t frameTime) {
  return FrameUnixTime(s, frameTime + s.writerTime.frameTimeShift);
}
// The nanoseconds past the UTC second of the current frame, whose time from
// the writers' time base is `when`: its microseconds and the nanoseconds
// below them that finer sources give (frameNanoseconds).
inline int64_t FrameSubsecondNanos(const ConversionState& s, const UnixTime& when) {
  return when.microseconds * 1000 + s.frame.frameNanoseconds;
}

// "2106-02-07 06:28:15 UTC"
std::string UtcTimeText(int64_t seconds);
// Whether UTC seconds lie within [earliest, latest], the times a target's
// fields hold; otherwise the write fails naming the frame, its time and that
// span (never a wrapped value) and false is returned.
bool FailTimeOutOfRange(ConversionState& s, int64_t seconds, int64_t earliest, int64_t latest);
inline bool TimeFitsTarget(ConversionState& s, int64_t seconds, int64_t earliest, int64_t latest) {
  return (seconds >= earliest && seconds <= latest) ||
         FailTimeOutOfRange(s, seconds, earliest, latest);
}
// The latest time of an unsigned 32-bit seconds field: 2106-02-07 06:28:15 UTC.
constexpr int64_t kLatestUnsigned32Seconds = 0xFFFFFFFFLL;
// The first frame's UTC second for a target's unsigned 32-bit start-time
// field; a time outside it fails the write and gives 0.
inline uint32_t StartTimeField32(ConversionState& s) {
  const int64_t start = s.writerTime.firstFrameUnixTime;
  return TimeFitsTarget(s, start, 0, kLatestUnsigned32Seconds) ? uint32_t(start) : 0;
}

// Seconds and microseconds since 1970 of frame times, counted from a frame
// time at which a whole second begins. Frames mostly come in time order: the
// whole second is stepped from the previous frame's, and divided out anew
// only when a frame lies in another second.
class SteppedUnixClock {
 public:
  // `origin` is the frame time at which UTC second `originSeconds` begins.
  void start(int64_t origin, int64_t originSeconds) {
    origin_ = origin;
    originSeconds_ = originSeconds;
    secondStart_ = 0;
    seconds_ = originSeconds;
  }
  // From the writers' time base: for WriterFrameTime, gives what FrameUnixTime gives.
  void start(const ConversionState& s) {
    const WriterTime& w = s.writerTime;
    start(w.firstFrameTime - int64_t(w.timeBaseFraction), w.firstFrameUnixTime);
  }
  UnixTime operator()(int64_t frameTime) {
    const int64_t offset = frameTime - origin_;
    if (uint64_t(offset) - uint64_t(secondStart_) >= uint64_t(kMicrosPerSecond)) {
      const int64_t whole = FloorDiv(offset, kMicrosPerSecond);
      secondStart_ = whole * kMicrosPerSecond;
      seconds_ = originSeconds_ + whole;
    }
    return UnixTime{seconds_, offset - secondStart_};
  }

 private:
  int64_t origin_ = 0, originSeconds_ = 0;
  int64_t secondStart_ = 0;  // offset from the origin at which the current second begins
  int64_t seconds_ = 0;      // the current second
};

// RoundHalfAway(double(micros) / unit) for a unit that is not a whole number
// of microseconds, with a multiplication in place of the division wherever
// the two cannot differ: the product and the quotient lie within 2^-51 of
// each other, relative, so they round alike unless the fraction is that
// close to one half. Those few take the division.
class UnitRounder {
 public:
  constexpr explicit UnitRounder(double unit) : unit_(unit), perMicrosecond_(1.0 / unit) {}
  int64_t operator()(int64_t micros) const {
    if (micros >= 0 && micros < (int64_t(1) << 50)) {
      const double q = double(micros) * perMicrosecond_;
      const int64_t whole = int64_t(q);
      const double rest = q - double(whole);  // exact
      const double margin = q * 0x1p-50;
      if (rest - 0.5 > margin) return whole + 1;
      if (0.5 - rest > margin) return whole;
    }
    return RoundHalfAway(double(micros) / unit_);
  }

 private:
  double unit_, perMicrosecond_;
};

// PC timer: BIOS ticks since midnight plus interval-timer counts.
double PcTimerMicroseconds(uint16_t ticksHigh, uint16_t ticksLow, uint16_t timerCount);

}  // namespace morph

namespace morph {
// Local date-time (days since 1899-12-30) of a UTC instant, in the machine's zone.
double LocalDateTimeFromUnix(int64_t utcSeconds);
double LocalDateTimeFromUnix(const TimeZoneRules& zone, int64_t utcSeconds);
}  // namespace morph
