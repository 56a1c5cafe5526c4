// The ASCII text dump: one line per frame with the chosen fields (frame
// number, length, local date and time, microseconds, hex and character data),
// separated by tab, comma or laid out in fixed-width columns. Lines end with
// CR LF; text is written as single bytes.
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/conversion.h"
#include "engine/format.h"
#include "engine/timebase.h"
#include "formats/text_dump.h"

namespace morph {
namespace {

using Delimiter = TextDumpOptions::Delimiter;

constexpr char kLineEnd[] = "\r\n";

struct FieldFormat {
  const char* header;
  bool headerRight;
  int width;  // column width in Fixed layout
};

constexpr FieldFormat kFrameNumber{"Frame", true, 8};
constexpr FieldFormat kFrameLength{"Length", true, 8};
constexpr FieldFormat kTimestampDate{"Timestamp (date)", false, 27};
constexpr FieldFormat kTimestampMicros{"Timestamp (usecs)", true, 20};
constexpr FieldFormat kDataHex{"Data (hex)", true, 0};
constexpr FieldFormat kDataAscii{"Data (ASCII)", true, 0};

// Builds one line field by field.
class Line {
 public:
  explicit Line(Delimiter delimiter) : delimiter_(delimiter) {}

  void add(std::string text, bool rightAligned, int width) {
    if (first_ && delimiter_ != Delimiter::Fixed) {
      text_ = std::move(text);
      first_ = false;
      return;
    }
    first_ = false;
    switch (delimiter_) {
      case Delimiter::Tab: text_ += '\t'; break;
      case Delimiter::Comma: text_ += ','; break;
      case Delimiter::Fixed:
        if (width == 0)
          text.insert(0, 1, ' ');
        else if (rightAligned && int(text.size()) < width)
          text.insert(0, size_t(width) - text.size(), ' ');
        else if (!rightAligned && int(text.size()) < width - 1)
          text.append(size_t(width - 1) - text.size(), ' ');
        if (!rightAligned) text_ += ' ';
        break;
    }
    text_ += text;
  }
  void addHeader(const FieldFormat& f) { add(f.header, f.headerRight, f.width); }
  void addValue(const FieldFormat& f, std::string text) { add(std::move(text), true, f.width); }
  // The data fields: an empty field places the separator, the data follows.
  void addData(const FieldFormat& f) { add("", true, f.width); }

  std::string& text() { return text_; }

 private:
  Delimiter delimiter_;
  bool first_ = true;
  std::string text_;
};

// "hh:mm:ss.uuuuuu MM/DD/YYYY" of the frame's local time.
std::string DateText(const ConversionState& s) {
  const int64_t frameTime = WriterFrameTime(s);
  const int64_t dayOffset = frameTime / kMicrosPerDay - (frameTime % kMicrosPerDay < 0 ? 1 : 0);
  const int64_t timeOfDay = frameTime - dayOffset * kMicrosPerDay;
  int year, month, day;
  DecodeDate(std::floor(s.writerTime.traceDate) + double(dayOffset), year, month, day);
  const int64_t seconds = timeOfDay / 1000000;
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d %02d/%02d/%04d", int(seconds / 3600),
                int(seconds / 60 % 60), int(seconds % 60), int(timeOfDay % 1000000), month, day,
                year);
  return text;
}

void AppendHex(std::string& out, const ConversionState& s) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int32_t i = 0; i < s.frame.frameLength; ++i) {
    if (i < s.frame.storedLength) {
      out += kDigits[s.frame.frameData[size_t(i)] >> 4];
      out += kDigits[s.frame.frameData[size_t(i)] & 15];
    } else {
      out += "XX";
    }
  }
}

void AppendCharacters(std::string& out, const ConversionState& s) {
  for (int32_t i = 0; i < s.frame.frameLength; ++i) {
    if (i >= s.frame.storedLength) {
      out += 'X';
      continue;
    }
    const uint8_t byte = s.frame.frameData[size_t(i)];
    if (byte >= 32 && byte <= 127)
      out += char(byte);
    else
      out += "<" + std::to_string(byte) + ">";
  }
}

// The fields chosen, taken once at the header.
struct TextDumpWriterContext : FormatContext {
  TextDumpOptions options;
};

}  // namespace

void WriteTextDumpHeader(Conversion& c, int32_t /*frameNumber*/) {
  const ConversionState& s = c.state;
  const TextDumpOptions& o = c.WriterContext<TextDumpWriterContext>().options =
      s.options.formatOptions.value<TextDumpOptions>();
  if (o.descriptiveHeader) {
    c.target->writeText("Frame dump from analyzer file " + s.sourceFileName + " (" +
                        s.sourceFileDateText + " " + std::to_string(s.sourceFileSize) +
                        " bytes)." + kLineEnd);
  }
  if (!o.fieldHeaders) return;
  Line line(o.delimiter);
  if (o.frameNumber) line.addHeader(kFrameNumber);
  if (o.frameLength) line.addHeader(kFrameLength);
  if (o.timestampDate) line.addHeader(kTimestampDate);
  if (o.timestampMicros) line.addHeader(kTimestampMicros);
  if (o.dataHex) line.addHeader(kDataHex);
  if (o.dataAscii) line.addHeader(kDataAscii);
  line.text() += kLineEnd;
  c.target->writeText(line.text());
}

void WriteTextDumpFrame(Conversion& c) {
  const ConversionState& s = c.state;
  const TextDumpOptions& o = c.WriterContext<TextDumpWriterContext>().options;
  Line line(o.delimiter);
  if (o.frameNumber) line.addValue(kFrameNumber, std::to_string(s.counters.framesWritten));
  if (o.frameLength) line.addValue(kFrameLength, std::to_string(s.frame.frameLength));
  if (o.timestampDate) line.addValue(kTimestampDate, DateText(s));
  if (o.timestampMicros) line.addValue(kTimestampMicros, std::to_string(WriterFrameTime(s)));
  if (o.dataHex) {
    line.addData(kDataHex);
    AppendHex(line.text(), s);
  }
  if (o.dataAscii) {
    line.addData(kDataAscii);
    AppendCharacters(line.text(), s);
  }
  line.text() += kLineEnd;
  c.target->writeText(line.text());
}

// ---------------------------------------------------------------- registry

namespace {
constexpr FriendlyName kTextDumpNames[] = {{Analyzer::Ascii, "text"}, {Analyzer::Ascii, "ascii"}};
}  // namespace

constexpr AnalyzerInfo kTextDumpAnalyzers[] = {
    {Analyzer::Ascii, "ASCII (text file with options)", nullptr, ".txt",
     Media::Ethernet | Media::TokenRing | Media::Wireless, Offer::NoMediaConversion},
};

extern const FormatDescriptor kTextDumpFormat = {
    .family = "ASCII text dump",
    .analyzers = kTextDumpAnalyzers,
    .writes = MaskOf({Analyzer::Ascii}),
    .aliases = kTextDumpNames,
    .optionsDialog = OptionsDialog::LineFields,
    .capabilities = Capability::StreamTarget,
    .writeHeader = WriteTextDumpHeader,
    .writeFrame = WriteTextDumpFrame,
    .limits = {},
};

}  // namespace morph
