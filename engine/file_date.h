// The texts the main window shows for a source file's date and size.
#pragma once
#include <cstdint>
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

}  // namespace morph
