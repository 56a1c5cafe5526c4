#include "ui/cli/json.h"

#include <cstdio>

#include "engine/bytes.h"

namespace morph {
namespace {

void Escape(std::string& out, unsigned code) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
  out += escaped;
}

// Appends a character below 0x80, escaped where JSON requires it.
void AppendAscii(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (c < 0x20 || c == 0x7F) Escape(out, c);
      else out += char(c);
  }
}

// Length of the valid UTF-8 sequence at text[at], 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are invalid).
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length;
  unsigned code;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
  else return 0;
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      AppendAscii(out, c);
      ++at;
    } else if (size_t length = Utf8Length(text, at)) {
      out.append(text, at, length);
      at += length;
    } else {
      Escape(out, 0xDC00 + c);
      ++at;
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string JsonLatin1(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c < 0x80) AppendAscii(out, c);
    else Escape(out, c);
  }
  return out + "\"";
}

std::string IsoTime(std::optional<int64_t> unixMicros) {
  if (!unixMicros) return "";
  const int64_t seconds = FloorDiv(*unixMicros, kMicrosPerSecond);
  const int64_t micros = *unixMicros - seconds * kMicrosPerSecond;
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  // Civil date of a day count since 1970-01-01 (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2);
  char text[128];  // room for any value the compiler can imagine: no truncation warning
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(secondOfDay / 3600),
                static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60), static_cast<long long>(micros));
  return text;
}

std::string JsonTime(std::optional<int64_t> unixMicros) {
  return unixMicros ? "\"" + IsoTime(unixMicros) + "\"" : "null";
}

std::string JsonLosses(int64_t skippedBytes, int64_t skippedRecords, const FrameLosses& l) {
  std::string fields;
  const auto add = [&](const char* key, int64_t n) {
    if (n != 0) fields += std::string(fields.empty() ? "" : ", ") + "\"" + key + "\": " + std::to_string(n);
  };
  if (skippedBytes != 0 || skippedRecords != 0) {
    fields = "\"skippedBytes\": " + std::to_string(skippedBytes) +
             ", \"skippedRecords\": " + std::to_string(skippedRecords);
  }
  add("framesNotWritten", l.framesNotWritten);
  if (!l.firstNotWrittenReason.empty())
    fields += std::string(fields.empty() ? "" : ", ") + "\"firstNotWrittenReason\": " +
              JsonString(l.firstNotWrittenReason);
  add("framesCut", l.framesCut);
  add("bytesCut", l.bytesCut);
  add("wireLengthsNotStored", l.wireLengthsNotStored);
  add("framesPadded", l.framesPadded);
  add("timesRounded", l.timesRounded);
  add("timesNotStored", l.timesNotStored);
  add("datesNotStored", l.datesNotStored);
  add("flagsNotStored", l.flagsNotStored);
  add("commentsNotStored", l.commentsNotStored);
  add("interfacesNotStored", l.interfacesNotStored);
  return "{" + fields + "}";
}

}  // namespace morph
