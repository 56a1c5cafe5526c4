#include "engine/timebase.h"
#include "engine/bytes.h"
#include "engine/failure.h"

#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>

namespace morph {

// ---- Calendar ----
namespace {

constexpr int64_t kUnixEpochDay = 25569;  // 1970-01-01 as days since 1899-12-30


// Days since 1970-01-01 of a Gregorian date (proleptic), and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(int64_t(yoe) + era * 400 + (month <= 2));
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

double EncodeDate(int year, int month, int day) {
  return double(DaysFromCivil(year, unsigned(month), unsigned(day)) + kUnixEpochDay);
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  return EncodeDate(year, month, day) + double(hour * 3600 + minute * 60 + second) / 86400.0;
}

// Dates come from files: keep them within years 0 to 9999 so no
// conversion to an integer can overflow.
double SaneDate(double dateTime) {
  constexpr double kEarliest = -693593, kLatest = 2958465;  // 0001-01-01, 9999-12-31
  if (!(dateTime >= kEarliest)) return kEarliest;  // also catches NaN
  return dateTime > kLatest ? kLatest : dateTime;
}

void DecodeDate(double dateTime, int& year, int& month, int& day) {
  CivilFromDays(int64_t(std::floor(SaneDate(dateTime))) - kUnixEpochDay, year, month, day);
}

void DecodeTime(double dateTime, int& hour, int& minute, int& second) {
  dateTime = SaneDate(dateTime);
  int64_t secs = std::llround((dateTime - std::floor(dateTime)) * 86400.0);
  if (secs >= kSecondsPerDay) secs = kSecondsPerDay - 1;
  hour = int(secs / 3600);
  minute = int(secs / 60 % 60);
  second = int(secs % 60);
}

int64_t DaysFrom1970(double dateTime) {
  return int64_t(std::floor(SaneDate(dateTime))) - kUnixEpochDay;
}

int DayOfWeek(double dateTime) {
  int64_t days = DaysFrom1970(dateTime);  // 1970-01-01 was a Thursday
  return int(((days % 7) + 7 + 4) % 7);
}

// ---- Time zone rules ----
namespace {

struct Cursor {
  const std::string& text;
  size_t pos = 0;
  bool done() const { return pos >= text.size(); }
  char peek() const { return done() ? '\0' : text[pos]; }
  bool eat(char c) {
    if (peek() != c) return false;
    ++pos;
    return true;
  }
};

bool ParseZoneName(Cursor& c) {
  if (c.eat('<')) {
    while (!c.done() && c.peek() != '>') ++c.pos;
    return c.eat('>');
  }
  size_t start = c.pos;
  while (std::isalpha(static_cast<unsigned char>(c.peek()))) ++c.pos;
  return c.pos - start >= 3;
}

std::optional<long> ParseNumber(Cursor& c) {
  size_t start = c.pos;
  while (std::isdigit(static_cast<unsigned char>(c.peek()))) ++c.pos;
  if (c.pos == start) return std::nullopt;
  return std::strtol(c.text.c_str() + start, nullptr, 10);
}

// [+-]hh[:mm[:ss]] in seconds.
std::optional<long> ParseClock(Cursor& c) {
  long sign = 1;
  if (c.eat('-'))
    sign = -1;
  else
    c.eat('+');
  auto hours = ParseNumber(c);
  if (!hours) return std::nullopt;
  long seconds = *hours * 3600;
  if (c.eat(':')) {
    auto minutes = ParseNumber(c);
    if (!minutes) return std::nullopt;
    seconds += *minutes * 60;
    if (c.eat(':')) {
      auto secs = ParseNumber(c);
      if (!secs) return std::nullopt;
      seconds += *secs;
    }
  }
  return sign * seconds;
}

bool ParseRule(Cursor& c, ZoneTransition& t) {
  if (c.eat('M')) {
    auto month = ParseNumber(c);
    if (!month || !c.eat('.')) return false;
    auto week = ParseNumber(c);
    if (!week || !c.eat('.')) return false;
    auto weekday = ParseNumber(c);
    if (!weekday || *month < 1 || *month > 12 || *week < 1 || *week > 5 || *weekday > 6)
      return false;
    t.month = int(*month);
    t.week = int(*week);
    t.weekday = int(*weekday);
  } else {
    bool julian = c.eat('J');
    auto day = ParseNumber(c);
    if (!day || (julian && (*day < 1 || *day > 365)) || *day > 365) return false;
    t.month = 1;  // marks the zone as having daylight saving
    t.dayOfYear = int(*day);
    t.julianNoLeap = julian;
  }
  t.seconds = 7200;
  if (c.eat('/')) {
    auto clock = ParseClock(c);
    if (!clock) return false;
    t.seconds = int(*clock);
  }
  return true;
}

// A zone file: a regular file of modest size (a name may lead to a folder,
// and TZ to a device that never ends).
std::optional<std::string> ReadFile(const std::string& path) {
  constexpr off_t kMostZoneFileBytes = 1 << 20;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMostZoneFileBytes)
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data(size_t(st.st_size), '\0');
  in.read(data.data(), std::streamsize(data.size()));
  data.resize(size_t(in.gcount()));
  return data;
}

// The POSIX rule at the end of a TZif file of version 2 or later.
std::optional<std::string> TzifFooter(const std::string& data) {
  if (data.size() < 44 || data.compare(0, 4, "TZif") != 0 || data[4] < '2') return std::nullopt;
  if (data.back() != '\n') return std::nullopt;
  size_t start = data.rfind('\n', data.size() - 2);
  if (start == std::string::npos) return std::nullopt;
  return data.substr(start + 1, data.size() - start - 2);
}

std::optional<TimeZoneRules> RulesFromZoneFile(const std::string& path) {
  auto data = ReadFile(path);
  if (!data) return std::nullopt;
  auto footer = TzifFooter(*data);
  TimeZoneRules rules;
  if (!footer || !ParsePosixTimeZone(*footer, rules)) return std::nullopt;
  return rules;
}

TimeZoneRules LoadMachineTimeZone() {
  const char* env = std::getenv("TZ");
  if (!env) return RulesFromZoneFile("/etc/localtime").value_or(TimeZoneRules{});
  std::string tz = env;
  if (!tz.empty() && tz[0] == ':') tz.erase(0, 1);
  if (tz.empty()) return TimeZoneRules{};
  if (tz[0] == '/') return RulesFromZoneFile(tz).value_or(TimeZoneRules{});
  if (tz.find("..") == std::string::npos) {
    if (auto rules = RulesFromZoneFile("/usr/share/zoneinfo/" + tz)) return *rules;
  }
  TimeZoneRules rules;
  return ParsePosixTimeZone(tz, rules) ? rules : TimeZoneRules{};
}

// Every zone the machine's has been, so that a reference handed out stays
// valid after a reload; only tests reload.
struct ZoneCache {
  std::deque<TimeZoneRules> loaded;
  const TimeZoneRules* current = nullptr;
  void set(TimeZoneRules rules) {
    loaded.push_back(std::move(rules));
    current = &loaded.back();
  }
};

ZoneCache& CachedZone() {
  static ZoneCache cache;
  return cache;
}

// An IANA name: letters, digits and "/_-+", no "..", not absolute.
bool IsZoneName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) return false;
  for (unsigned char ch : name)
    if (!std::isalnum(ch) && ch != '/' && ch != '_' && ch != '-' && ch != '+') return false;
  return true;
}

}  // namespace

bool ParsePosixTimeZone(const std::string& text, TimeZoneRules& rules) {
  Cursor c{text};
  TimeZoneRules parsed;
  parsed.description = text;
  if (!ParseZoneName(c)) return false;
  auto standard = ParseClock(c);
  if (!standard) return false;
  parsed.standardBiasMinutes = int(*standard / 60);
  if (!c.done()) {
    if (!ParseZoneName(c)) return false;
    long daylight = *standard - 3600;
    if (!c.done() && c.peek() != ',') {
      auto offset = ParseClock(c);
      if (!offset) return false;
      daylight = *offset;
    }
    parsed.daylightBiasMinutes = int((daylight - *standard) / 60);
    if (c.eat(',')) {
      if (!ParseRule(c, parsed.daylightStart) || !c.eat(',') ||
          !ParseRule(c, parsed.daylightEnd) || !c.done())
        return false;
    } else {
      // No rule given: the long-standing United States default.
      parsed.daylightStart = ZoneTransition{3, 2, 0, -1, false, 7200};
      parsed.daylightEnd = ZoneTransition{11, 1, 0, -1, false, 7200};
    }
  }
  rules = parsed;
  return true;
}

// Conversions may run on several threads; the zone is read once and shared.
std::mutex& ZoneMutex() {
  static std::mutex mutex;
  return mutex;
}

const TimeZoneRules& MachineTimeZone() {
  std::lock_guard<std::mutex> lock(ZoneMutex());
  ZoneCache& cache = CachedZone();
  if (!cache.current) cache.set(LoadMachineTimeZone());
  return *cache.current;
}

void ReloadMachineTimeZone() {
  std::lock_guard<std::mutex> lock(ZoneMutex());
  CachedZone().set(LoadMachineTimeZone());
}

std::shared_ptr<const TimeZoneRules> LoadTimeZone(const std::string& name) {
  if (name == "UTC" || name == "Z") {
    TimeZoneRules utc;
    utc.description = "UTC0";
    return std::make_shared<const TimeZoneRules>(utc);
  }
  if (IsZoneName(name))
    if (auto rules = RulesFromZoneFile("/usr/share/zoneinfo/" + name))
      return std::make_shared<const TimeZoneRules>(*rules);
  TimeZoneRules rules;
  if (ParsePosixTimeZone(name, rules)) return std::make_shared<const TimeZoneRules>(rules);
  return nullptr;
}

const TimeZoneRules& SourceZoneOf(const ConversionState& s) {
  return s.time.sourceZone ? *s.time.sourceZone : MachineTimeZone();
}

const TimeZoneRules& TargetZoneOf(const ConversionState& s) {
  return s.time.targetZone ? *s.time.targetZone : MachineTimeZone();
}

double TransitionDay(int year, const ZoneTransition& t) {
  if (t.dayOfYear >= 0) {
    int day = t.dayOfYear;
    if (t.julianNoLeap) day = day - 1 + (IsLeapYear(year) && day >= 60 ? 1 : 0);
    return EncodeDate(year, 1, 1) + day;
  }
  if (t.month < 1 || t.month > 12) return 0;
  double first = EncodeDate(year, t.month, 1);
  int firstMatch = (t.weekday - DayOfWeek(first) + 7) % 7 + 1;
  if (t.week >= 1 && t.week <= 4) return first + firstMatch - 1 + 7 * (t.week - 1);
  if (t.week == 5) {
    int day = firstMatch + 28;
    while (day > DaysInMonth(year, t.month)) day -= 7;
    return first + day - 1;
  }
  return 0;
}

bool IsDaylightTime(double value) { return IsDaylightTime(MachineTimeZone(), value); }

bool IsDaylightTime(const TimeZoneRules& zone, double value) {
  if (zone.daylightStart.month == 0) return false;
  int year, month, day;
  DecodeDate(value, year, month, day);
  double startDay = TransitionDay(year, zone.daylightStart);
  double endDay = TransitionDay(year, zone.daylightEnd);
  if (startDay == 0 || endDay == 0) return false;
  double start = startDay + zone.daylightStart.seconds / 86400.0;
  double end = endDay + zone.daylightEnd.seconds / 86400.0;
  if (start <= end) return start <= value && value <= end;
  // Southern hemisphere: daylight time spans the new year.
  return value >= start || value <= end;
}

// ---- Helpers on the conversion state ----

void ComputeTimeZoneBias(ConversionState& s, bool atConversionStart) {
  const TimeZoneRules& zone = SourceZoneOf(s);
  bool daylight = IsDaylightTime(zone, s.time.traceDate);
  int minutes = zone.standardBiasMinutes + (daylight ? zone.daylightBiasMinutes : 0);
  // A source that names its own zone keeps the source zone's daylight rule.
  if (!atConversionStart && s.time.sourceZoneBiasMinutes)
    minutes = *s.time.sourceZoneBiasMinutes + (daylight ? zone.daylightBiasMinutes : 0);
  s.time.timeZoneBias = minutes * 60;
}

namespace {
// The local date and time (a day count with its fraction) of a UTC instant
// in a zone `bias` seconds west of UTC.
double LocalDateFromUnix(int64_t seconds, int32_t bias) {
  const int64_t local = seconds - bias;
  const int64_t days = FloorDiv(local, kSecondsPerDay);
  return double(days + kUnixEpochDay) + double(local - days * kSecondsPerDay) / 86400.0;
}
}  // namespace

void SetTraceDateFromUnix(ConversionState& s, int64_t seconds, int32_t bias) {
  const int64_t local = seconds - bias;
  s.time.headerTimeOfDay = (local - FloorDiv(local, kSecondsPerDay) * kSecondsPerDay) * kMicrosPerSecond;
  s.time.traceDate = LocalDateFromUnix(seconds, bias);
}

void StartTraceAtUnixTime(ConversionState& s, int64_t seconds) {
  SetTraceDateFromUnix(s, seconds, 0);
  ComputeTimeZoneBias(s, false);
  SetTraceDateFromUnix(s, seconds, s.time.timeZoneBias);
}

bool StartTraceAtHeaderTime(ConversionState& s, int64_t seconds) {
  if (seconds <= 0) return false;
  const double traceDate = s.time.traceDate;
  const int32_t bias = s.time.timeZoneBias;
  const int64_t timeOfDay = s.time.headerTimeOfDay;
  StartTraceAtUnixTime(s, seconds);
  if (seconds >= s.time.timeZoneBias) return true;
  s.time.traceDate = traceDate;
  s.time.timeZoneBias = bias;
  s.time.headerTimeOfDay = timeOfDay;
  return false;
}

int64_t FrameTimeFromUnix(const ConversionState& s, int64_t seconds, int64_t microseconds) {
  int64_t localMidnight = DaysFrom1970(s.time.traceDate) * kSecondsPerDay;
  return (seconds - s.time.timeZoneBias - localMidnight) * kMicrosPerSecond + microseconds;
}

namespace {

// The writers' trace date, bias and shift: the source's own unless a zone
// is chosen for either side.
void SetWriterZone(ConversionState& s) {
  WriterTime& w = s.writerTime;
  if (!s.time.sourceZone && !s.time.targetZone) {
    w.traceDate = s.time.traceDate;
    w.timeZoneBias = s.time.timeZoneBias;
    w.frameTimeShift = 0;
    w.zoneKey.reset();
    return;
  }
  const TimeZoneRules& zone = TargetZoneOf(s);
  const WriterTime::ZoneKey key{&zone, s.time.traceDate, s.time.timeZoneBias};
  if (w.zoneKey == key) return;
  const ZoneView view = ViewInZone(s, zone);
  w.traceDate = view.traceDate;
  w.timeZoneBias = view.timeZoneBias;
  w.frameTimeShift = view.frameTimeShift;
  w.zoneKey = key;
}

}  // namespace

void ComputeWriterTimeBase(ConversionState& s) {
  SetWriterZone(s);
  WriterTime& w = s.writerTime;
  w.firstFrameTime = s.time.firstFrameTime + w.frameTimeShift;
  w.firstFrameSeconds = w.firstFrameTime / kMicrosPerSecond;
  w.firstFrameMicroseconds = w.firstFrameTime - w.firstFrameSeconds * kMicrosPerSecond;
  w.timeBaseSeconds = FloorDiv(w.firstFrameTime, kMicrosPerSecond);
  w.timeBaseFraction = double(w.firstFrameTime - w.timeBaseSeconds * kMicrosPerSecond);
  w.firstFrameUnixTime = DaysFrom1970(w.traceDate) * kSecondsPerDay + w.timeBaseSeconds + w.timeZoneBias;
}

std::string UtcTimeText(int64_t seconds) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t timeOfDay = seconds - days * kSecondsPerDay;
  int year = 0, month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", year, month, day,
                int(timeOfDay / 3600), int(timeOfDay / 60 % 60), int(timeOfDay % 60));
  return text;
}

bool FailTimeOutOfRange(ConversionState& s, int64_t seconds, int64_t earliest, int64_t latest) {
  FailWrite(s, "frame " + Grouped(s.counters.framesWritten - s.counters.nonDataFrames) + ": time " +
                   UtcTimeText(seconds) + " lies outside the times the target can store, " +
                   UtcTimeText(earliest) + " to " + UtcTimeText(latest));
  return false;
}

double PcTimerMicroseconds(uint16_t ticksHigh, uint16_t ticksLow, uint16_t timerCount) {
  constexpr double kDay = 86400000000.0;
  double micros = timerCount * TimeUnits::PcTimerTickMicroseconds +
                  (double(ticksHigh) * 65536.0 + ticksLow) * TimeUnits::BiosTickMicroseconds;
  if (micros > kDay) micros -= std::trunc(micros / kDay) * kDay;
  return micros;
}

}  // namespace morph

namespace morph {

int32_t ZoneBiasAtUnix(const TimeZoneRules& zone, int64_t utcSeconds) {
  const bool daylight =
      IsDaylightTime(zone, LocalDateFromUnix(utcSeconds, zone.standardBiasMinutes * 60));
  return (zone.standardBiasMinutes + (daylight ? zone.daylightBiasMinutes : 0)) * 60;
}

double LocalDateTimeFromUnix(const TimeZoneRules& zone, int64_t utcSeconds) {
  return LocalDateFromUnix(utcSeconds, ZoneBiasAtUnix(zone, utcSeconds));
}

double LocalDateTimeFromUnix(int64_t utcSeconds) {
  return LocalDateTimeFromUnix(MachineTimeZone(), utcSeconds);
}

ZoneView ViewInZone(const ConversionState& s, const TimeZoneRules& zone) {
  const double date = SaneDate(s.time.traceDate);
  const int64_t days = DaysFrom1970(date);
  const int64_t timeOfDay = std::llround((date - std::floor(date)) * 86400.0);
  // The instant of the trace date, then the same instant in the zone.
  const int64_t utc = days * kSecondsPerDay + timeOfDay + s.time.timeZoneBias;
  ZoneView view;
  view.timeZoneBias = ZoneBiasAtUnix(zone, utc);
  view.traceDate = LocalDateFromUnix(utc, view.timeZoneBias);
  // frameTime counts from local midnight of the trace date: the two
  // midnights' UTC instants differ by the shift.
  const int64_t midnight = days * kSecondsPerDay + s.time.timeZoneBias;
  const int64_t viewMidnight = DaysFrom1970(view.traceDate) * kSecondsPerDay + view.timeZoneBias;
  view.frameTimeShift = (midnight - viewMidnight) * kMicrosPerSecond;
  return view;
}

}  // namespace morph
