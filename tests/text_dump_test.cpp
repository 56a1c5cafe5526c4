// ASCII text dump: header lines, delimiters and fixed columns, data fields
// for bytes not stored, dates across leap days and local midnight.
#include <gtest/gtest.h>

#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/snoop.h"
#include "formats/text_dump.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using Delimiter = TextDumpOptions::Delimiter;

std::vector<std::string> SplitLines(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
  return lines;
}

std::vector<std::string> Dump(const Trace& trace, const TextDumpOptions& options,
                              const std::function<void(ConversionState&)>& more = {}) {
  TempDir dir;
  WriteTrace(trace, Analyzer::Ascii, dir.path("dump.txt"), [&](ConversionState& s) {
    s.options.formatOptions.get<TextDumpOptions>() = options;
    if (more) more(s);
  });
  return SplitLines(ReadFileBytes(dir.path("dump.txt")));
}

TextDumpOptions Only(bool number, bool length, bool date, bool micros, bool hex, bool ascii,
                     Delimiter delimiter, bool headers = false) {
  TextDumpOptions o;
  o.descriptiveHeader = o.fieldHeaders = headers;
  o.delimiter = delimiter;
  o.frameNumber = number, o.frameLength = length, o.timestampDate = date;
  o.timestampMicros = micros, o.dataHex = hex, o.dataAscii = ascii;
  return o;
}

// A Token Ring frame (no FCS handling) of the given length with some bytes stored.
Trace OneFrame(int32_t length, std::vector<uint8_t> stored, int64_t time = 0,
               double date = EncodeDate(2024, 3, 15)) {
  Trace t;
  t.topology = Topo::TokenRing;
  t.traceDate = date;
  Frame f;
  f.time = time;
  f.frameLength = length;
  f.bytes = std::move(stored);
  t.frames.push_back(f);
  return t;
}

TEST(TextDumpHeader, DefaultsWriteDescriptiveAndTabbedFieldHeaders) {
  Trace t = OneFrame(3, {0xAB, 0x01, 0xFF}, 3723000004LL);  // 01:02:03.000004
  auto lines = Dump(t, TextDumpOptions{}, [](ConversionState& s) {
    s.sourceFileName = "/data/trace one.cap";
    s.sourceFileDateText = "3/15/2024 10:20:30 AM";
    s.sourceFileSize = 123456;
  });
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "Frame dump from analyzer file /data/trace one.cap (3/15/2024 10:20:30 AM 123456 "
            "bytes).");
  EXPECT_EQ(lines[1], "Frame\tLength\tTimestamp (date)\tData (hex)");
  EXPECT_EQ(lines[2], "1\t3\t01:02:03.000004 03/15/2024\tAB01FF");

  TextDumpOptions noDescription;
  noDescription.descriptiveHeader = false;
  lines = Dump(t, noDescription);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Frame\tLength\tTimestamp (date)\tData (hex)");

  TextDumpOptions none = noDescription;
  none.fieldHeaders = false;
  lines = Dump(t, none);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "1\t3\t01:02:03.000004 03/15/2024\tAB01FF");
}

TEST(TextDumpFields, FixedColumnsCommaAndAllFields) {
  Trace t;
  t.topology = Topo::TokenRing;
  for (int i = 0; i < 7; ++i) t.frames.push_back(OneFrame(2, {0x41, 0x42}, 5000001 + i).frames[0]);
  t.traceDate = EncodeDate(2024, 3, 15);
  auto fixed = Dump(t, Only(true, true, true, true, true, true, Delimiter::Fixed, true));
  ASSERT_EQ(fixed.size(), 9u);
  EXPECT_EQ(fixed[1],
            "   Frame  Length Timestamp (date)             Timestamp (usecs) Data (hex) Data (ASCII)");
  EXPECT_EQ(fixed[8],
            "       7       2 00:00:05.000007 03/15/2024             5000007 4142 AB");
  EXPECT_EQ(fixed[2].substr(0, 8), "       1");

  auto comma = Dump(t, Only(true, true, true, true, true, true, Delimiter::Comma, true));
  ASSERT_EQ(comma.size(), 9u);
  EXPECT_EQ(comma[1], "Frame,Length,Timestamp (date),Timestamp (usecs),Data (hex),Data (ASCII)");
  EXPECT_EQ(comma[8], "7,2,00:00:05.000007 03/15/2024,5000007,4142,AB");
}

TEST(TextDumpFields, BytesNotStoredAndDecimalEscapes) {
  Trace t = OneFrame(6, {0x00, 0x41, 0x0A, 0x7F});
  auto lines = Dump(t, Only(false, false, false, false, true, true, Delimiter::Comma));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "00410A7FXXXX,<0>A<10>\x7FXX");

  Trace high = OneFrame(3, {0x80, 0xFF, 0x20});
  lines = Dump(high, Only(false, false, false, false, false, true, Delimiter::Tab));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "<128><255> ");
}

TEST(TextDumpFields, HexAloneStartsTheLineExceptForFixedsBlank) {
  Trace t = OneFrame(2, {0x0F, 0xF0});
  EXPECT_EQ(Dump(t, Only(false, false, false, false, true, false, Delimiter::Tab))[0], "0FF0");
  EXPECT_EQ(Dump(t, Only(false, false, false, false, true, false, Delimiter::Comma))[0], "0FF0");
  EXPECT_EQ(Dump(t, Only(false, false, false, false, true, false, Delimiter::Fixed))[0], " 0FF0");
}

TEST(TextDumpDate, LeapDayAndFramesPastMidnight) {
  struct Case {
    double date;
    int64_t time;
    const char* text;
  };
  const Case cases[] = {
      {EncodeDate(2004, 2, 29), 5000001, "00:00:05.000001 02/29/2004"},
      {EncodeDate(2004, 2, 28), 86400000000LL + 1, "00:00:00.000001 02/29/2004"},
      {EncodeDate(2004, 2, 29), 86400000000LL + 59999999, "00:00:59.999999 03/01/2004"},
      {EncodeDate(2100, 2, 28), 86400000000LL, "00:00:00.000000 03/01/2100"},
      {EncodeDate(1999, 12, 31), 86399999999LL, "23:59:59.999999 12/31/1999"},
  };
  for (const Case& c : cases) {
    Trace t = OneFrame(1, {0x55}, c.time, c.date);
    auto lines = Dump(t, Only(false, false, true, true, false, false, Delimiter::Tab));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(c.text) + "\t" + std::to_string(c.time));
  }
}

// A snoop file with frames at the given UTC times, dumped as text in a zone
// with daylight saving.
std::vector<std::string> DumpSnoopAt(const std::vector<std::pair<uint32_t, uint32_t>>& times) {
  std::vector<uint8_t> file = {'s', 'n', 'o', 'o', 'p', 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4};
  for (auto [seconds, micros] : times) {
    uint8_t record[24] = {};
    PutBE32(record, 60);
    PutBE32(record + 4, 60);
    PutBE32(record + 8, 84);
    PutBE32(record + 16, seconds);
    PutBE32(record + 20, micros);
    file.insert(file.end(), record, record + 24);
    file.insert(file.end(), 60, 0x11);
  }
  TempDir dir;
  WriteFileBytes(dir.path("in.snoop"), file);
  SilentHost host;
  Conversion c(host);
  c.state.sourceFileName = dir.path("in.snoop");
  c.state.sourceAnalyzer = Analyzer::Snoop;
  c.state.traceTopology = Topo::Ethernet;
  c.state.targetAnalyzer = Analyzer::Ascii;
  c.state.options.formatOptions.get<TextDumpOptions>() =
      Only(false, false, true, false, false, false, Delimiter::Tab);
  c.target = CreateFileTarget(dir.path("out.txt"));
  c.ConvertTrace(false, 0);
  return SplitLines(ReadFileBytes(dir.path("out.txt")));
}

TEST(TextDumpDate, LocalMidnightInADaylightSavingZone) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  // Summer: local time is UTC + 2.
  const uint32_t july1 = 1688169600;  // 2023-07-01 00:00:00 UTC
  auto summer = DumpSnoopAt({{july1 + 79199, 500000}, {july1 + 79200, 250000}});
  ASSERT_EQ(summer.size(), 2u);
  EXPECT_EQ(summer[0], "23:59:59.500000 07/01/2023");
  EXPECT_EQ(summer[1], "00:00:00.250000 07/02/2023");
  // Winter, across the new year: local time is UTC + 1.
  const uint32_t dec31 = 1703980800;  // 2023-12-31 00:00:00 UTC
  auto winter = DumpSnoopAt({{dec31 + 82799, 999999}, {dec31 + 82800, 0}, {dec31 + 90000, 1}});
  ASSERT_EQ(winter.size(), 3u);
  EXPECT_EQ(winter[0], "23:59:59.999999 12/31/2023");
  EXPECT_EQ(winter[1], "00:00:00.000000 01/01/2024");
  EXPECT_EQ(winter[2], "02:00:00.000001 01/01/2024");
}

}  // namespace
}  // namespace morph
