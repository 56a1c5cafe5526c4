// The texts the main window shows for a source file's date and size.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace morph {

// A local date-time (days since 1899-12-30) as the window shows it: the long
// date with abbreviated day and month names and the short time, in upper
// case, e.g. "TUE, DEC 08, 2026 1:51 PM". The pattern is fixed
// ("DDD, MMM DD, YYYY H:MM AM/PM") so the text is the same on every machine.
std::string FormatFileDate(double localDateTime);

// The file's last-modified time in the machine's time zone, formatted as
// above; empty when the file cannot be examined.
std::string FileDateText(const std::string& path);

// A byte count with thousands separators and " bytes", e.g. "1,234 bytes".
std::string FileSizeText(int64_t bytes);

// A date given for a trace whose file stores none: ISO 8601, a date
// ("2023-05-04") or a date-time ("2023-05-04T10:20:30", a space in place of
// the T, seconds optional), with an optional zone ("Z", "+02:00", "-0500").
struct GivenDate {
  int64_t wallSeconds = 0;  // seconds since 1970 of the date and time as written
  std::optional<int32_t> utcOffsetSeconds;  // the zone it names, if any
};
std::optional<GivenDate> ParseGivenDate(const std::string& text);

struct TimeZoneRules;
// The local date-time in `zone` a given date stands for: as written when it
// names no zone, otherwise its instant told in `zone`.
double LocalDateTimeOf(const GivenDate& date, const TimeZoneRules& zone);

}  // namespace morph
