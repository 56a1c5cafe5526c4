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
