#include "engine/frame_filter.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/bytes.h"
#include "engine/failure.h"
#include "engine/state.h"
#include "engine/timebase.h"

namespace morph {
namespace {

constexpr int64_t kNanosPerSecond = 1'000'000'000;

// Reads the digits at `at` into `value`; the count read, 0 when none.
size_t Digits(const std::string& text, size_t at, int64_t& value, size_t most = 18) {
  size_t n = 0;
  value = 0;
  while (at + n < text.size() && n < most && std::isdigit(static_cast<unsigned char>(text[at + n])))
    value = value * 10 + (text[at + n++] - '0');
  return n;
}

// A fixed number of digits at `at`, or nothing.
std::optional<int64_t> Field(const std::string& text, size_t at, size_t width) {
  int64_t value = 0;
  if (Digits(text, at, value, width) != width) return std::nullopt;
  return value;
}

// ".nnnnnnnnn" at `at` as nanoseconds, with how far it reached; none is 0.
bool Fraction(const std::string& text, size_t& at, int64_t& nanos) {
  nanos = 0;
  if (at >= text.size() || text[at] != '.') return true;
  int64_t digits = 0;
  const size_t n = Digits(text, at + 1, digits, 10);
  if (n == 0 || n > 9) return false;
  for (size_t i = n; i < 9; ++i) digits *= 10;
  nanos = digits;
  at += 1 + n;
  return true;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int64_t year, int64_t month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(int(year)) ? 29 : kDays[month - 1];
}

// "Z", "+01:00", "-0530", "+01": seconds east of UTC.
std::optional<int64_t> ZoneOffset(const std::string& text, size_t at) {
  if (at >= text.size()) return std::nullopt;
  if (text[at] == 'Z' || text[at] == 'z') return at + 1 == text.size() ? std::optional<int64_t>(0) : std::nullopt;
  if (text[at] != '+' && text[at] != '-') return std::nullopt;
  const int64_t sign = text[at] == '-' ? -1 : 1;
  const auto hours = Field(text, at + 1, 2);
  if (!hours || *hours > 23) return std::nullopt;
  size_t next = at + 3;
  int64_t minutes = 0;
  if (next < text.size()) {
    if (text[next] == ':') ++next;
    const auto m = Field(text, next, 2);
    if (!m || *m > 59 || next + 2 != text.size()) return std::nullopt;
    minutes = *m;
  }
  return sign * (*hours * 3600 + minutes * 60);
}

}  // namespace

std::optional<int64_t> ParseSecondsAsNanoseconds(const std::string& text) {
  size_t at = 0;
  int64_t sign = 1;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) sign = text[at++] == '-' ? -1 : 1;
  int64_t whole = 0;
  const size_t n = Digits(text, at, whole, 11);
  at += n;
  const size_t fractionAt = at;
  int64_t nanos = 0;
  if (!Fraction(text, at, nanos) || at != text.size() || (n == 0 && at == fractionAt) ||
      whole > kLargestTimeShiftSeconds)
    return std::nullopt;
  return sign * (whole * kNanosPerSecond + nanos);
}

std::optional<int64_t> ParseUtcTime(const std::string& text) {
  // Seconds since 1970, as editcap takes them too.
  if (text.find('-', 1) == std::string::npos) {
    const auto nanos = ParseSecondsAsNanoseconds(text);
    return nanos && *nanos >= 0 ? nanos : std::nullopt;
  }
  const auto year = Field(text, 0, 4), month = Field(text, 5, 2), day = Field(text, 8, 2);
  const auto hour = Field(text, 11, 2), minute = Field(text, 14, 2), second = Field(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
      text[7] != '-' || (text[10] != 'T' && text[10] != 't' && text[10] != ' ') ||
      text[13] != ':' || text[16] != ':')
    return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 60)
    return std::nullopt;
  size_t at = 19;
  int64_t nanos = 0;
  if (!Fraction(text, at, nanos)) return std::nullopt;
  const auto offset = ZoneOffset(text, at);
  if (!offset) return std::nullopt;
  const int64_t seconds = DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 +
                          *minute * 60 + *second - *offset;
  return seconds * kNanosPerSecond + nanos;
}

std::optional<std::vector<FrameRange>> ParseFrameRanges(const std::string& text) {
  std::vector<FrameRange> ranges;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    const size_t dash = item.find('-');
    int64_t first = 1, last = 0;
    const std::string left = item.substr(0, dash);
    const std::string right = dash == std::string::npos ? left : item.substr(dash + 1);
    const bool openStart = dash != std::string::npos && left.empty();
    const bool openEnd = dash != std::string::npos && right.empty();
    if (item.empty() || (openStart && openEnd)) return std::nullopt;
    if (!openStart && (Digits(left, 0, first, 10) != left.size())) return std::nullopt;
    if (!openEnd && (Digits(right, 0, last, 10) != right.size())) return std::nullopt;
    if (first > INT32_MAX || last > INT32_MAX) return std::nullopt;
    ranges.push_back({int32_t(first), openEnd ? kOpenRangeEnd : int32_t(last)});
    if (comma == std::string::npos) return ranges;
    start = comma + 1;
  }
}

int64_t FrameUtcNanoseconds(const ConversionState& s) {
  const int64_t midnight = DaysFrom1970(s.time.traceDate) * kSecondsPerDay + s.time.timeZoneBias;
  return (midnight * kMicrosPerSecond + s.frame.frameTime) * 1000 + s.frame.frameNanoseconds;
}

void ShiftFrameTime(ConversionState& s, int64_t nanoseconds) {
  const int64_t total = int64_t(s.frame.frameNanoseconds) + nanoseconds;
  const int64_t micros = FloorDiv(total, 1000);
  s.frame.frameTime += micros;
  s.frame.frameNanoseconds = int32_t(total - micros * 1000);
}

bool FrameFilter::start(ConversionState& s) {
  const FrameSelection& chosen = s.options.selection;
  ranges_ = chosen.ranges;
  std::sort(ranges_.begin(), ranges_.end(),
            [](const FrameRange& a, const FrameRange& b) { return a.first < b.first; });
  // Overlapping or adjoining ranges become one; a single one is the
  // pipeline's own start and end frame.
  std::vector<FrameRange> merged;
  for (const FrameRange& r : ranges_) {
    if (!merged.empty() && int64_t(r.first) <= int64_t(merged.back().last) + 1)
      merged.back().last = std::max(merged.back().last, r.last);
    else
      merged.push_back(r);
  }
  ranges_ = std::move(merged);
  range_ = 0;
  byNumber_ = ranges_.size() > 1;
  byTime_ = chosen.after || chosen.before;
  shifts_ = chosen.timeShift != 0 || chosen.startTime;
  shiftKnown_ = !chosen.startTime;
  shift_ = chosen.timeShift;
  midnightDate_ = -1;
  for (Seen& seen : seen_) seen.length = -1;
  nextSeen_ = 0;
  // Times moved by less than a microsecond need a target of finer resolution.
  if (chosen.timeShift % 1000 != 0 || chosen.startTime) s.time.sourceHasNanoseconds = true;
  return !s.options.convertAll || byNumber_ || byTime_ || shifts_ || chosen.dropDuplicates;
}

bool FrameFilter::chosenByNumber(int32_t number) {
  while (range_ < ranges_.size() && number > ranges_[range_].last) ++range_;
  return range_ < ranges_.size() && number >= ranges_[range_].first;
}

bool FrameFilter::outsideTimes(const ConversionState& s, int64_t when) const {
  const FrameSelection& chosen = s.options.selection;
  return (chosen.after && when < *chosen.after) || (chosen.before && when >= *chosen.before);
}

bool FrameFilter::duplicate(const uint8_t* bytes, int32_t length, bool copy) {
  // Lengths first: frames of a window seldom share one, and those that do
  // mostly differ within their first bytes, where the compare stops.
  bool equal = false;
  for (const Seen& seen : seen_)
    if (seen.length == length && std::memcmp(seen.at, bytes, size_t(length)) == 0) {
      equal = true;
      break;
    }
  // Every frame read enters the window, dropped or not.
  Seen& slot = seen_[nextSeen_];
  slot.length = length;
  if (copy) {
    slot.bytes.assign(bytes, bytes + length);
    slot.at = slot.bytes.data();
  } else {
    slot.at = bytes;
  }
  nextSeen_ = (nextSeen_ + 1) % kDuplicateWindow;
  return equal;
}

void FrameFilter::keepSeenBytes() {
  for (Seen& seen : seen_)
    if (seen.length >= 0 && seen.at != seen.bytes.data()) {
      seen.bytes.assign(seen.at, seen.at + seen.length);
      seen.at = seen.bytes.data();
    }
}

bool FrameFilter::pass(ConversionState& s) {
  const FrameSelection& chosen = s.options.selection;
  if (!s.options.convertAll) {
    // An end below the start reads every frame and writes none.
    if (s.counters.framesRead >= s.options.endFrame && s.options.endFrame >= s.options.startFrame) s.status.endOfSource = true;
    if (s.counters.framesRead < s.options.startFrame || s.counters.framesRead > s.options.endFrame) return false;
  }
  if (byNumber_ && !chosenByNumber(s.counters.framesRead)) return false;
  if (byTime_ && outsideTimes(s, utc(s))) return false;
  if (chosen.dropDuplicates) {
    // The bytes the target gets: a whole Ethernet frame's FCS slot is the
    // reader's to fill or not, and counts for nothing.
    const bool fcsSlot = s.traceTopology == Topo::Ethernet && s.frame.storedLength >= s.frame.frameLength;
    const int32_t length = std::max(0, s.frame.storedLength - (fcsSlot ? 4 : 0));
    if (duplicate(s.frame.frameData.data(), length, true)) {
      ++s.counters.duplicateFrames;
      return false;
    }
  }
  if (shifts_) {
    if (!shiftKnown_) {
      shiftKnown_ = true;
      shift_ = *chosen.startTime - FrameUtcNanoseconds(s);
    }
    // Times before 1970 are beyond what targets state: said, never wrapped.
    if (shift_ < 0 && utc(s) + shift_ < 0) {
      FailWrite(s, "frame " + Grouped(s.counters.framesRead) +
                       ": the time shift moves it before 1970; the frames before it are written");
      return false;
    }
    ShiftFrameTime(s, shift_);
  }
  return true;
}

FrameFilter::Choice FrameFilter::choose(ConversionState& s, int32_t number, int64_t frameTime,
                                        const uint8_t* bytes, int32_t length) {
  if (!s.options.convertAll) {
    // The last frame wanted ends the reading, which the frame path does.
    if (number >= s.options.endFrame) return Choice::FramePath;
    if (number < s.options.startFrame) return Choice::Drop;
  }
  if (byNumber_ && !chosenByNumber(number)) return Choice::Drop;
  if (byTime_ || shifts_) {
    const int64_t when = utcAt(s, frameTime, 0);
    if (byTime_ && outsideTimes(s, when)) return Choice::Drop;
    // A shift yet to be fixed, of a part of a microsecond, or refused.
    if (shifts_ && (!shiftKnown_ || shift_ % 1000 != 0 || (shift_ < 0 && when + shift_ < 0)))
      return Choice::FramePath;
  }
  if (s.options.selection.dropDuplicates && duplicate(bytes, length, false)) {
    ++s.counters.duplicateFrames;
    return Choice::Drop;
  }
  return Choice::Keep;
}

int64_t FrameFilter::utc(const ConversionState& s) {
  return utcAt(s, s.frame.frameTime, s.frame.frameNanoseconds);
}

int64_t FrameFilter::utcAt(const ConversionState& s, int64_t frameTime, int32_t nanoseconds) {
  // The source's midnight is worked out again only when its date or zone moves.
  if (!(s.time.traceDate == midnightDate_) || s.time.timeZoneBias != midnightBias_) {
    midnightDate_ = s.time.traceDate;
    midnightBias_ = s.time.timeZoneBias;
    midnight_ = FrameUtcNanoseconds(s) - s.frame.frameTime * 1000 - s.frame.frameNanoseconds;
  }
  return midnight_ + frameTime * 1000 + nanoseconds;
}

}  // namespace morph
