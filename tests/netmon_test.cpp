// NetMon 1.x and 2.x: records, frame table, comment and start time built
// byte by byte; round trips; refused hostile files; editcap and tshark.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "engine/bytes.h"
#include "engine/checksum.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/netmon.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

struct FixtureRecord {
  uint64_t time;  // milliseconds (1.1) or microseconds (2.0) since the start time
  uint32_t frameLength, captured;
  std::vector<uint8_t> bytes;
};

// A NetMon file: header, records, frame table, comment.
std::vector<uint8_t> NetMonFile(bool v2, uint16_t macType, const std::vector<FixtureRecord>& records,
                                const char* comment = "hello") {
  Bytes f;
  f.text(v2 ? "GMBU" : "RTSS").u8(v2 ? 0 : 1).u8(v2 ? 2 : 1).u16(macType);
  f.u16(2024).u16(3).u16(2).u16(15).u16(10).u16(20).u16(30).u16(250);  // SYSTEMTIME
  f.zeros(128 - f.size());
  std::vector<uint32_t> offsets;
  for (const FixtureRecord& r : records) {
    offsets.push_back(uint32_t(f.size()));
    if (v2) f.u64(r.time).u32(r.frameLength).u32(r.captured);
    else f.u32(uint32_t(r.time)).u16(uint16_t(r.frameLength)).u16(uint16_t(r.captured));
    f.data(r.bytes);
  }
  f.put32(24, uint32_t(f.size()));
  f.put32(28, uint32_t(offsets.size() * 4));
  for (uint32_t o : offsets) f.u32(o);
  f.put32(40, uint32_t(f.size()));
  f.put32(44, uint32_t(std::strlen(comment) + 1));
  f.text(comment).u8(0);
  return f.v;
}

constexpr int64_t kFixtureStart = ((10 * 3600 + 20 * 60 + 30) * 1000LL + 250) * 1000;

TEST(NetMonReader, Version1EthernetRecordsFromTheTables) {
  const auto whole = Pattern(60, 1), sliced = Pattern(96, 2);
  ReadResult r =
      ReadTraceFromAs(NetMonFile(false, 1, {{0, 60, 60, whole}, {1500, 1514, 96, sliced}}),
                      "v1.cap", Analyzer::NetMon1, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2024, 3, 15));
  // A whole frame gets its FCS; a sliced one keeps its stored bytes.
  ExpectFrames({FrameOf(kFixtureStart, 64, WithFcs(whole)),
                FrameOf(kFixtureStart + 1500000, 1518, sliced)},
               r.trace);
}

TEST(NetMonReader, Version2TokenRingKeepsLengthsAndMicroseconds) {
  const auto first = Pattern(40, 3), second = Pattern(200, 4);
  // Frames of 4 bytes or less are not written, whether the pipeline hands
  // them to a frame observer or, as in a plain conversion, to a writer.
  const auto file = NetMonFile(true, 2,
                               {{7, 40, 40, first}, {9, 4, 4, Pattern(4, 9)},
                                {86400000123ULL, 300, 200, second}, {86400000200ULL, 3, 3, Pattern(3, 8)}});
  ReadResult r = ReadTraceFromAs(file, "v2.cap", Analyzer::NetMon2, Topo::TokenRing);
  // A day later: relative times keep counting past midnight.
  const std::vector<Frame> expected = {FrameOf(kFixtureStart + 7, 40, first),
                                       FrameOf(kFixtureStart + 86400000123LL, 300, second)};
  ExpectFrames(expected, r.trace);

  TempDir dir;
  WriteFileBytes(dir.path("v2.cap"), file);
  ConvertByJob(dir.path("v2.cap"), dir.path("v2.pcap"), Analyzer::Tcpdump);
  ExpectFrames(expected, ReadTrace(dir.path("v2.pcap")).trace);
}

TEST(NetMonReader, ShortEthernetFramesArePaddedAndEmptyTableIsNoFrames) {
  ReadResult r = ReadTraceFromAs(NetMonFile(false, 1, {{0, 42, 42, Pattern(42, 5)}}), "runt.cap",
                                 Analyzer::NetMon1, Topo::Ethernet);
  std::vector<uint8_t> padded = Pattern(42, 5);
  padded.resize(60);  // zeros, then the FCS
  ExpectFrames({FrameOf(kFixtureStart, 64, WithFcs(padded))}, r.trace);

  ReadResult empty =
      ReadTraceFromAs(NetMonFile(true, 1, {}), "empty.cap", Analyzer::NetMon2, Topo::Ethernet);
  EXPECT_TRUE(empty.trace.frames.empty());
  ASSERT_EQ(empty.messages.size(), 1u);
  EXPECT_EQ(empty.messages[0], "Output: Target file contains no frames!");
}

// Table entries are unsigned 32-bit offsets: a record beyond 2 GiB (in a
// sparse file, so the test stays small on disk) is read like any other.
TEST(NetMonReader, ReadsRecordsBeyondTwoGibibytes) {
  TempDir dir;
  const Trace trace = MakeTrace(Topo::Ethernet, 2);
  WriteTrace(trace, Analyzer::NetMon2, dir.path("small.cap"));
  const std::vector<uint8_t> small = ReadFileBytes(dir.path("small.cap"));
  const uint32_t table = GetLE32(small.data() + 24), second = GetLE32(small.data() + table + 4);
  const uint32_t comment = GetLE32(small.data() + 40);
  constexpr uint64_t kFar = 0x80000000u;  // the second record moves here
  const uint64_t moved = kFar - second;
  std::vector<uint8_t> head(small.begin(), small.begin() + second);
  PutLE32(head.data() + 24, uint32_t(table + moved));
  PutLE32(head.data() + 40, uint32_t(comment + moved));
  std::vector<uint8_t> tail(small.begin() + second, small.end());
  PutLE32(tail.data() + (table - second) + 4, uint32_t(kFar));
  const std::string path = dir.path("far.cap");
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), f), head.size());
  ASSERT_EQ(fseeko(f, off_t(kFar), SEEK_SET), 0);
  ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), f), tail.size());
  std::fclose(f);
  ReadResult back = ReadTrace(path);
  EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
  ExpectSameFrames(trace, back.trace, Tolerance{0, false, false, true});
}

TEST(NetMonReader, RefusesHostileTablesAndLengths) {
  struct Case {
    const char* name;
    bool v2;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<FixtureRecord> records = {{0, 100, 100, Pattern(100, 6)},
                                              {5, 100, 100, Pattern(100, 7)}};
  const size_t secondAt = 128 + 108;
  const Case cases[] = {
      {"table longer than the file", false, [](auto& f) { PutLE32(f.data() + 28, 4000); }},
      {"table offset beyond the file", false, [](auto& f) { PutLE32(f.data() + 24, 1u << 30); }},
      {"entry outside the file", false,
       [&](auto& f) { PutLE32(f.data() + secondAt + 108, 900000); }},
      {"negative entry", false, [&](auto& f) { PutLE32(f.data() + secondAt + 108, 0x80000010u); }},
      {"captured length beyond the buffer", true,
       [](auto& f) { PutLE32(f.data() + 128 + 12, 300000); }},
      {"time offset of centuries", true,
       [](auto& f) { PutLE32(f.data() + 128 + 4, 0x7FFFFFFF); }},
      {"record cut short", false,
       [&](auto& f) { PutLE16(f.data() + secondAt + 4, 60000), PutLE16(f.data() + secondAt + 6, 60000); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = NetMonFile(c.v2, 1, records);
    c.damage(file);
    ReadResult r = ReadTraceFromAs(file, "bad.cap", c.v2 ? Analyzer::NetMon2 : Analyzer::NetMon1,
                                   Topo::Ethernet);
    EXPECT_TRUE(HasReadErrorMessage(r));
  }
}

TEST(NetMonComment, ReadUpToItsZeroByteAndAtMost300Characters) {
  auto file = NetMonFile(false, 1, {{0, 60, 60, Pattern(60, 8)}}, "Converted From Snoop (Sun)");
  auto in = OpenMemorySource(file);
  EXPECT_EQ(ReadNetMonComment(*in), "Converted From Snoop (Sun)");

  std::string longText(400, 'c');
  auto longFile = NetMonFile(false, 1, {}, longText.c_str());
  auto longIn = OpenMemorySource(longFile);
  EXPECT_EQ(ReadNetMonComment(*longIn), std::string(300, 'c'));

  PutLE32(longFile.data() + 40, 1u << 30);  // comment offset beyond the file
  auto badIn = OpenMemorySource(longFile);
  EXPECT_EQ(ReadNetMonComment(*badIn), "");
  PutLE32(longFile.data() + 40, 0);  // offset 0 would be the header itself
  auto noneIn = OpenMemorySource(longFile);
  EXPECT_EQ(ReadNetMonComment(*noneIn), "");

  EXPECT_EQ(NetMonTopology(1), Topo::Ethernet);
  EXPECT_EQ(NetMonTopology(2), Topo::TokenRing);
  EXPECT_EQ(NetMonTopology(3), Topo::Fddi);
  EXPECT_EQ(NetMonTopology(4), Topo::Unknown);
}

// The 64-byte frame and the frame sliced from 1518 to 100 bytes.
Trace WriterEdgeTrace() {
  Trace t;
  t.topology = Topo::Ethernet;
  t.traceDate = EncodeDate(2024, 3, 15);  // a Friday
  t.frames.push_back(MakeFrame(kFixtureStart + 999, 64, Topo::Ethernet, 1));
  Frame big = MakeFrame(kFixtureStart + 1500999, 1518, Topo::Ethernet, 2);
  big.bytes.resize(100);
  t.frames.push_back(big);
  return t;
}

TEST(NetMonWriter, Version1HeaderRecordsTableAndCommentByteForByte) {
  TempDir dir;
  const Trace trace = WriterEdgeTrace();
  WriteTrace(trace, Analyzer::NetMon1, dir.path("out.cap"));
  const auto f = ReadFileBytes(dir.path("out.cap"));
  // The second frame is stored cut short: all 100 stored bytes are written.
  const size_t second = 128 + 8 + 60, table = second + 8 + 100;
  const std::string comment = "Converted From Any Analyzer";
  ASSERT_EQ(f.size(), table + 8 + comment.size() + 1);
  EXPECT_EQ(Text(f, 0, 4), "RTSS");
  ExpectFields(f, {{4, 1, 1}, {5, 1, 1}, {6, 2, 1},
                   // the start time; its day of week is always 2
                   {8, 2, 2024}, {10, 2, 3}, {12, 2, 2}, {14, 2, 15}, {16, 2, 10}, {18, 2, 20},
                   {20, 2, 30}, {22, 2, 250},
                   {24, 4, table}, {28, 4, 8}, {40, 4, table + 8}, {44, 4, comment.size() + 1},
                   // 999 us after the whole millisecond written as start time
                   {128, 4, 1}, {128 + 4, 2, 60}, {128 + 6, 2, 60},
                   {second, 4, 1501}, {second + 4, 2, 1514}, {second + 6, 2, 100},
                   {table, 4, 128}, {table + 4, 4, second}});
  ExpectBytesAt(f, 128 + 8, {trace.frames[0].bytes.begin(), trace.frames[0].bytes.begin() + 60});
  ExpectBytesAt(f, second + 8, trace.frames[1].bytes);
  EXPECT_EQ(Text(f, table + 8, comment.size()), comment);
  EXPECT_EQ(f.back(), 0);
  ExpectZeros(f, 32, 40);
  ExpectZeros(f, 48, 128);
}

TEST(NetMonWriter, Version2RecordsCarryMicrosecondsAndReadBackWithFcs) {
  TempDir dir;
  const Trace trace = WriterEdgeTrace();
  WriteTrace(trace, Analyzer::NetMon2, dir.path("out.cap"));
  const auto f = ReadFileBytes(dir.path("out.cap"));
  ASSERT_GE(f.size(), 128u + 16 + 60 + 16);
  EXPECT_EQ(Text(f, 0, 4), "GMBU");
  const size_t second = 128 + 16 + 60;
  // Times in microseconds after the whole millisecond written as start time.
  ExpectFields(f, {{4, 1, 0}, {5, 1, 2}, {128, 8, 999}, {128 + 8, 4, 60}, {second, 8, 1500999},
                   {second + 8, 4, 1514}, {second + 12, 4, 100}});

  // Read back: the 64-byte frame gets its FCS rebuilt; the sliced frame keeps
  // its length of 1518 and the 100 bytes written.
  Trace expected = trace;
  expected.frames[1].bytes.resize(100);
  ReadResult back = ReadTraceAs(dir.path("out.cap"), Analyzer::NetMon2, Topo::Ethernet);
  ExpectSameFrames(expected, back.trace);
}

TEST(NetMonRoundTrip, BothVersionsOnEthernetTokenRingAndFddiAreIdentifiedAndReadBack) {
  for (AnalyzerType type : {Analyzer::NetMon1, Analyzer::NetMon2}) {
    for (Topology topology : {Topo::Ethernet, Topo::TokenRing, Topo::Fddi}) {
      SCOPED_TRACE(testing::Message() << int(type) << "/" << int(topology));
      TempDir dir;
      Trace trace = MakeTrace(topology, 40, 3600LL * 1000000 + 123456, 1777);
      WriteTrace(trace, type, dir.path("rt.cap"));
      auto bytes = ReadFileBytes(dir.path("rt.cap"));
      ASSERT_GE(bytes.size(), 8u);
      EXPECT_EQ(NetMonTopology(bytes[6]), topology);
      ReadResult back = ReadTrace(dir.path("rt.cap"));
      EXPECT_EQ(back.analyzer, type);
      EXPECT_EQ(back.topology, topology);
      EXPECT_EQ(back.state.fileComment, "Converted From Any Analyzer");
      EXPECT_TRUE(back.messages.empty());
      ExpectSameFrames(trace, back.trace, Tolerance{type == Analyzer::NetMon1 ? 500 : 0});
    }
  }
}

TEST(NetMonWriter, StartTimeNeverRoundsToAThousandMilliseconds) {
  TempDir dir;
  Trace trace;
  trace.topology = Topo::TokenRing;
  trace.traceDate = EncodeDate(2023, 12, 31);
  // 23:59:59.9996, then a frame after midnight.
  trace.frames.push_back(MakeFrame(86399999600LL, 100, Topo::TokenRing, 1));
  trace.frames.push_back(MakeFrame(86400000500LL, 100, Topo::TokenRing, 2));
  WriteTrace(trace, Analyzer::NetMon2, dir.path("edge.cap"));
  const auto f = ReadFileBytes(dir.path("edge.cap"));
  const uint16_t expected[8] = {2023, 12, 2, 31, 23, 59, 59, 999};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Le16(f, 8 + 2 * size_t(i)), expected[i]) << i;
  ReadResult back = ReadTraceAs(dir.path("edge.cap"), Analyzer::NetMon2, Topo::TokenRing);
  ExpectSameFrames(trace, back.trace);

  // A first frame past midnight of the trace date is dated the next day.
  Trace later = trace;
  later.frames.erase(later.frames.begin());
  WriteTrace(later, Analyzer::NetMon1, dir.path("later.cap"));
  const auto g = ReadFileBytes(dir.path("later.cap"));
  const uint16_t nextDay[8] = {2024, 1, 2, 1, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(Le16(g, 8 + 2 * size_t(i)), nextDay[i]) << i;
}

TEST(NetMonWriter, FrameTableCountsLeaveOutNonDataFrames) {
  TempDir dir;
  Trace trace;
  trace.topology = Topo::Wireless;
  for (int i = 0; i < 1000; ++i) {
    Frame f = MakeFrame(1000000 + i * 100, 100, Topo::Wireless, uint8_t(i));
    if (i == 10 || i == 500 || i == 999) f.bytes[0] = 0x80;  // beacon: not a data frame
    trace.frames.push_back(f);
  }
  ConversionState s = WriteTrace(trace, Analyzer::NetMon2, dir.path("nd.cap"),
                                 [](ConversionState& st) { st.options.convertToEthernet = true; });
  EXPECT_EQ(s.counters.nonDataFrames, 3);
  const auto f = ReadFileBytes(dir.path("nd.cap"));
  EXPECT_EQ(Le32(f, 28), 3988u);
  EXPECT_EQ(Le16(f, 6), 1);  // the frames written are Ethernet frames
  ReadResult back = ReadTraceAs(dir.path("nd.cap"), Analyzer::NetMon2, Topo::Ethernet);
  EXPECT_EQ(back.trace.frames.size(), 997u);
}

// Records the progress texts shown while a conversion runs.
class ProgressHost : public Host {
 public:
  std::vector<std::string> texts;
  void message(const std::string&, const std::string&, MessageIcon) override {}
  void progress(const ProgressView& view) override { texts.push_back(view.pctComplete); }
};

TEST(NetMonWriter, IndexMessageShowsWhileTheTableIsWritten) {
  TempDir dir;
  ProgressHost host;
  Conversion c(host);
  c.state.sourceAnalyzer = Analyzer::AnyAnalyzer;
  c.state.targetAnalyzer = Analyzer::NetMon1;
  c.state.traceTopology = Topo::TokenRing;
  const int kFrames = 20000;
  int next = 0;
  c.customReader.next = [&](Conversion& conv) {
    if (next == kFrames) return ReadStatus::End;
    ConversionState& st = conv.state;
    st.frame.frameTime = next++;
    st.frame.frameLength = st.frame.storedLength = 20;
    return ReadStatus::Record;
  };
  c.target = CreateFileTarget(dir.path("many.cap"));
  c.ConvertTrace(false, 0);
  EXPECT_FALSE(c.state.status.writingIndex);
  EXPECT_NE(std::find(host.texts.begin(), host.texts.end(), "Writing index data; please wait..."),
            host.texts.end());
  const auto f = ReadFileBytes(dir.path("many.cap"));
  EXPECT_EQ(Le32(f, 28), uint32_t(kFrames) * 4);
  EXPECT_EQ(Le32(f, Le32(f, 24) + 4 * (kFrames - 1)), 128u + (kFrames - 1) * 28u);
}

// ---- Interoperation with Debian's editcap (tshark reading our files is a row of
// tests/format_tables_test.cpp) ----

TEST(NetMonInterop, EditcapOutputReadsWithTheFramesAndTimesOfTheSource) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "editcap/tshark not installed";
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 30, 13 * 3600LL * 1000000 + 250000, 2500);
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("src.pcap"));
  const auto expected = TsharkFrames(dir.path("src.pcap"));
  ASSERT_EQ(expected.size(), trace.frames.size());
  for (auto [format, type] : {std::pair{"netmon1", Analyzer::NetMon1},
                              std::pair{"netmon2", Analyzer::NetMon2}}) {
    SCOPED_TRACE(format);
    const std::string cap = dir.path(std::string(format) + ".cap");
    CommandResult e = RunCommand("editcap -F " + std::string(format) + " " + dir.path("src.pcap") +
                                 " " + cap);
    ASSERT_EQ(e.status, 0) << e.err;
    ReadResult back = ReadTraceAs(cap, type, Topo::Ethernet);
    EXPECT_TRUE(back.messages.empty());
    ASSERT_EQ(back.trace.frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      const Frame& f = back.trace.frames[i];
      EXPECT_EQ(f.frameLength, expected[i].length + 4) << i;
      EXPECT_EQ(int(f.bytes.size()), expected[i].captured + 4) << i;
      const double epoch = double(AbsoluteMicros(back.state, f.time)) / 1e6;
      EXPECT_NEAR(epoch, expected[i].epoch, type == Analyzer::NetMon1 ? 0.0006 : 0.000001) << i;
    }
    ExpectSameFrames(trace, back.trace, Tolerance{type == Analyzer::NetMon1 ? 600 : 1});
  }
}

}  // namespace
}  // namespace morph
