#include "engine/file_date.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>

#include "engine/timebase.h"

namespace morph {

std::string FormatFileDate(double localDateTime) {
  static const std::array<const char*, 7> kDays = {"SUN", "MON", "TUE", "WED",
                                                   "THU", "FRI", "SAT"};
  static const std::array<const char*, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  DecodeDate(localDateTime, year, month, day);
  DecodeTime(localDateTime, hour, minute, second);
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %s %02d, %04d %d:%02d %s", kDays[size_t(DayOfWeek(localDateTime))],
                kMonths[size_t(month - 1) % 12], day, year, hour12, minute, hour < 12 ? "AM" : "PM");
  return text;
}

std::string FileDateText(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "";
  return FormatFileDate(LocalDateTimeFromUnix(int64_t(st.st_mtime)));
}

namespace {

// Reads `digits` decimal digits at `at`; false when they are not there.
bool Digits(const std::string& text, size_t& at, size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  at += digits;
  return true;
}

bool RealDay(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  int y = 0, m = 0, d = 0;
  DecodeDate(EncodeDate(year, month, day), y, m, d);
  return y == year && m == month && d == day;
}

bool Literal(const std::string& text, size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// "Z", "+hh:mm", "+hhmm" or "+hh" at `at`, to the end of the text.
std::optional<int32_t> ZoneOffset(const std::string& text, size_t at) {
  if (text.compare(at, std::string::npos, "Z") == 0) return 0;
  if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return std::nullopt;
  const int sign = text[at++] == '-' ? -1 : 1;
  int hours = 0, minutes = 0;
  if (!Digits(text, at, 2, hours)) return std::nullopt;
  if (at < text.size()) {
    Literal(text, at, ':');
    if (!Digits(text, at, 2, minutes)) return std::nullopt;
  }
  if (at != text.size() || hours > 14 || minutes > 59) return std::nullopt;
  return sign * (hours * 3600 + minutes * 60);
}

}  // namespace

std::optional<GivenDate> ParseGivenDate(const std::string& text) {
  size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, at, 4, year) || !Literal(text, at, '-') || !Digits(text, at, 2, month) ||
      !Literal(text, at, '-') || !Digits(text, at, 2, day))
    return std::nullopt;
  if (year < 1970 || !RealDay(year, month, day)) return std::nullopt;
  GivenDate date;
  if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
    ++at;
    if (!Digits(text, at, 2, hour) || !Literal(text, at, ':') || !Digits(text, at, 2, minute))
      return std::nullopt;
    if (Literal(text, at, ':') && !Digits(text, at, 2, second)) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    if (at < text.size()) {
      date.utcOffsetSeconds = ZoneOffset(text, at);
      if (!date.utcOffsetSeconds) return std::nullopt;
    }
  } else if (at != text.size()) {
    return std::nullopt;
  }
  date.wallSeconds =
      DaysFrom1970(EncodeDate(year, month, day)) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return date;
}

double LocalDateTimeOf(const GivenDate& date, const TimeZoneRules& zone) {
  if (!date.utcOffsetSeconds) {
    const int64_t days = FloorDiv(date.wallSeconds, kSecondsPerDay);
    return EncodeDate(1970, 1, 1) + double(days) +
           double(date.wallSeconds - days * kSecondsPerDay) / double(kSecondsPerDay);
  }
  return LocalDateTimeFromUnix(zone, date.wallSeconds - *date.utcOffsetSeconds);
}

std::string FileSizeText(int64_t bytes) {
  std::string digits = std::to_string(bytes < 0 ? -bytes : bytes);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return (bytes < 0 ? "-" : "") + grouped + " bytes";
}

}  // namespace morph
