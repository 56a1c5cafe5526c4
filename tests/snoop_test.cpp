// snoop and the trailer variant (Surveyor and the other trailer targets):
// records built byte by byte, writer layouts, round trips, hostile files,
// editcap and tshark.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "engine/checksum.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/pcap.h"
#include "formats/snoop.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

Bytes SnoopHeader(uint32_t datalink) {
  Bytes b(true);
  b.v = {'s', 'n', 'o', 'o', 'p', 0, 0, 0};
  b.u32(2).u32(datalink);
  return b;
}

// One record: header, frame bytes, padding to 4 and, for Surveyor, a trailer.
void AddRecord(Bytes& b, uint32_t original, const std::vector<uint8_t>& frame, uint32_t seconds,
               uint32_t micros, bool trailer = false, uint16_t status = 0x0040) {
  const uint32_t padded = (uint32_t(frame.size()) + 24 + 3) & ~3u;
  b.u32(original).u32(uint32_t(frame.size())).u32(padded + (trailer ? 16 : 0)).u32(0);
  b.u32(seconds).u32(micros).data(frame).zeros(padded - 24 - frame.size());
  if (trailer) b.u16(0).u16(status).u32(0).u32(0).u32(0);
}

constexpr uint32_t kSeconds = 1710498000;  // 2024-03-15 10:20:00 UTC

TEST(SnoopReader, EthernetRecordsGetTheirFcsAndKeepTruncation) {
  TempDir dir;
  Bytes f = SnoopHeader(4);
  const auto whole = Pattern(60, 1, 11), cut = Pattern(97, 2, 11);
  AddRecord(f, 60, whole, kSeconds, 250000);
  AddRecord(f, 1514, cut, kSeconds + 2, 5);
  AddRecord(f, 42, Pattern(42, 3, 11), kSeconds + 3, 0);
  WriteFileBytes(dir.path("a.snoop"), f.v);
  ReadResult r = ReadTraceAs(dir.path("a.snoop"), Analyzer::Snoop, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2024, 3, 15));
  const int64_t tenTwenty = (10 * 3600 + 20 * 60) * 1000000LL;
  // Whole frames get their FCS, short ones are padded to 60 first; a cut
  // frame keeps its stored bytes.
  std::vector<uint8_t> padded = Pattern(42, 3, 11);
  padded.resize(60);
  ExpectFrames({FrameOf(tenTwenty + 250000, 64, WithFcs(whole)),
                FrameOf(tenTwenty + 2000005, 1518, cut),
                FrameOf(tenTwenty + 3000000, 64, WithFcs(padded))},
               r.trace);
}

TEST(SurveyorReader, TrailerRecordsWithPaddingFcsAndCrcErrors) {
  TempDir dir;
  Bytes f = SnoopHeader(4);
  const auto withFcs = MakeFrame(0, 70, Topo::Ethernet, 4).bytes;
  AddRecord(f, 74, withFcs, kSeconds, 1, true);            // original 4 more than included
  AddRecord(f, 70, withFcs, kSeconds, 2, true, 0x0062);    // CRC error
  AddRecord(f, 50, Pattern(50, 5, 11), kSeconds, 3, true);     // runt
  AddRecord(f, 1518, Pattern(101, 6, 11), kSeconds, 4, true);  // truncated, padded
  WriteFileBytes(dir.path("s.cap"), f.v);
  ReadResult r = ReadTraceAs(dir.path("s.cap"), Analyzer::Surveyor, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  // The stored FCS is kept, good or bad; the runt is padded to 64 bytes.
  ASSERT_EQ(r.trace.frames.size(), 4u);
  const int64_t t0 = r.trace.frames[0].time;
  const std::vector<uint8_t>& runt = r.trace.frames[2].bytes;
  EXPECT_EQ(runt.size(), 64u);
  ExpectFrames({FrameOf(t0, 70, withFcs), FrameOf(t0 + 1, 70, withFcs, Flag::CrcError),
                FrameOf(t0 + 2, 64, runt), FrameOf(t0 + 3, 1518, Pattern(101, 6, 11))},
               r.trace);
}

TEST(SnoopReader, RefusesHostileRecords) {
  struct Case {
    const char* name;
    AnalyzerType type;
    uint32_t recordLength, included;
  };
  const Case cases[] = {
      {"record shorter than its header", Analyzer::Snoop, 20, 0},
      {"trailer record shorter than header and trailer", Analyzer::Surveyor, 36, 0},
      {"frame part beyond the buffer", Analyzer::Snoop, 24 + 70000, 100},
      {"included beyond the frame part", Analyzer::Snoop, 24 + 40, 200},
      {"record cut short", Analyzer::Snoop, 24 + 4000, 4000},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes f = SnoopHeader(4);
    AddRecord(f, 80, Pattern(80, 7, 11), kSeconds, 0, c.type == Analyzer::Surveyor);
    f.u32(1000).u32(c.included).u32(c.recordLength).u32(0).u32(kSeconds).u32(0);
    f.data(Pattern(100, 8, 11));
    WriteFileBytes(dir.path("bad.snoop"), f.v);
    ReadResult r = ReadTraceAs(dir.path("bad.snoop"), c.type, Topo::Ethernet);
    EXPECT_EQ(r.trace.frames.size(), 1u);
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages.back(), "File Error: Error reading from source file.  File may be corrupt.");
  }
}

TEST(SnoopIdentification, FirstRecordTellsSnoopFromSurveyorAndDatalinkGivesTopology) {
  Bytes snoop = SnoopHeader(4);
  AddRecord(snoop, 60, Pattern(60, 1, 11), kSeconds, 0);
  EXPECT_EQ(SnoopOrSurveyor(*OpenMemorySource(snoop.v)), Analyzer::Snoop);
  Bytes padded = SnoopHeader(4);  // 15 bytes beyond the frame: still snoop
  padded.u32(61).u32(61).u32(24 + 61 + 15).u32(0).u32(kSeconds).u32(0).zeros(76);
  EXPECT_EQ(SnoopOrSurveyor(*OpenMemorySource(padded.v)), Analyzer::Snoop);
  Bytes surveyor = SnoopHeader(4);
  AddRecord(surveyor, 64, Pattern(64, 1, 11), kSeconds, 0, true);
  EXPECT_EQ(SnoopOrSurveyor(*OpenMemorySource(surveyor.v)), Analyzer::Surveyor);
  EXPECT_EQ(SnoopOrSurveyor(*OpenMemorySource(SnoopHeader(4).v)), Analyzer::Unknown);

  struct Link {
    uint8_t datalink;
    Topology topology;
    uint32_t speed;
  };
  for (Link l : {Link{0, Topo::Ethernet, 10000000}, Link{4, Topo::Ethernet, 10000000},
                 Link{2, Topo::TokenRing, 0}, Link{8, Topo::Fddi, 0},
                 Link{10, Topo::Ethernet, 100000000}, Link{12, Topo::Ethernet, 1000000000},
                 Link{18, Topo::Unknown, 0}}) {
    uint32_t speed = 99;
    EXPECT_EQ(SnoopTopology(l.datalink, speed), l.topology) << int(l.datalink);
    EXPECT_EQ(speed, l.speed) << int(l.datalink);
  }
}

Trace OneFrame(Topology topology, int32_t length, uint16_t flags = 0) {
  Trace t;
  t.topology = topology;
  t.frames.push_back(MakeFrame(3600LL * 1000000 + 500, length, topology, 9));
  t.frames.back().flags = flags;
  return t;
}

TEST(SnoopWriter, SnoopRecordDropsTheFcsAndPads) {
  TempDir dir;
  Trace t = OneFrame(Topo::Ethernet, 64);
  WriteTrace(t, Analyzer::Snoop, dir.path("o.snoop"));
  const auto f = ReadFileBytes(dir.path("o.snoop"));
  ASSERT_EQ(f.size(), 16u + 84);
  EXPECT_EQ(std::memcmp(f.data(), "snoop\0\0\0", 8), 0);
  ExpectFields(f, {{8, 4, 2}, {12, 4, 4}, {16, 4, 60}, {20, 4, 60}, {24, 4, 84}, {28, 4, 0},
                   {32, 4, uint64_t(DaysFrom1970(EncodeDate(2024, 3, 15)) * 86400 + 3600)},
                   {36, 4, 500}}, true);
  ExpectBytesAt(f, 40, {t.frames[0].bytes.begin(), t.frames[0].bytes.begin() + 60});
}

TEST(SnoopWriter, SlicedFramesIncludeOnlyStoredBytes) {
  TempDir dir;
  Trace t = OneFrame(Topo::Ethernet, 1518);
  WriteTrace(t, Analyzer::Snoop, dir.path("o.snoop"), [](ConversionState& s) {
    s.options.sliceFrames = true;
    s.options.sliceLength = 101;
  });
  const auto f = ReadFileBytes(dir.path("o.snoop"));
  ASSERT_EQ(f.size(), 16u + 128);
  // The original length is the frame's; included are every stored byte (no
  // FCS among them), then zeros to a multiple of 4.
  ExpectFields(f, {{16, 4, 1514}, {20, 4, 101}, {24, 4, 128}}, true);
  ExpectBytesAt(f, 40, {t.frames[0].bytes.begin(), t.frames[0].bytes.begin() + 101});
  ExpectZeros(f, 40 + 101, f.size());
}

TEST(SurveyorWriter, TrailersCarryStatusTimeAndFrameNumbers) {
  TempDir dir;
  Trace t = OneFrame(Topo::Ethernet, 64);
  t.frames.push_back(MakeFrame(t.frames[0].time + 1000, 1518, Topo::Ethernet, 3));
  t.frames.back().flags = Flag::CrcError;
  t.frames.push_back(MakeFrame(t.frames[0].time + 2000, 1600, Topo::Ethernet, 4));
  t.frames.back().bytes.resize(200);
  WriteTrace(t, Analyzer::Surveyor, dir.path("o.cap"));
  const auto f = ReadFileBytes(dir.path("o.cap"));
  const size_t trailer1 = 16 + 104 - 16, second = 16 + 104, trailer2 = second + 24 + 1520;
  const size_t third = trailer2 + 16, trailer3 = third + 24 + 200;
  ASSERT_EQ(f.size(), trailer3 + 16);
  // Trailers: status word, time in 40 ns units since the first frame, frame number.
  ExpectFields(f, {{16, 4, 64}, {20, 4, 64}, {24, 4, 104},
                   {trailer1, 2, 0}, {trailer1 + 2, 2, 0x0060}, {trailer1 + 4, 4, 0},
                   {trailer1 + 12, 4, 0x80000000u | 120u},
                   {second, 4, 1518}, {second + 8, 4, 24 + 1520 + 16},
                   {trailer2 + 2, 2, 0x0022},  // CRC error, length of 12 or more
                   {trailer2 + 4, 4, 25000},   // 1000 us in 40 ns units
                   {trailer2 + 8, 4, 0}, {trailer2 + 12, 4, 1},
                   {third, 4, 1600}, {third + 4, 4, 200},  // truncated: every stored byte
                   {trailer3 + 2, 2, 0x0070},  // oversize, length >= 12, no error
                   {trailer3 + 12, 4, 2}}, true);

  // Read back: lengths, bytes and the CRC error survive.
  Trace expected = t;  // every stored byte of the cut frame comes back
  ReadResult back = ReadTraceAs(dir.path("o.cap"), Analyzer::Surveyor, Topo::Ethernet);
  ExpectSameFrames(expected, back.trace);
}

TEST(SnoopLayoutWriters, AllFiveTargetsShareTheHeaderAndWireless802Has0) {
  for (AnalyzerType type : {Analyzer::FireBerd500Pc, Analyzer::LanAnalyzer,
                            Analyzer::ProtocolInspector, Analyzer::Snoop, Analyzer::Surveyor}) {
    SCOPED_TRACE(int(type));
    for (auto [topology, datalink] : {std::pair{Topo::Ethernet, 4u}, std::pair{Topo::TokenRing, 2u},
                                      std::pair{Topo::Fddi, 8u}, std::pair{Topo::Wireless, 0u}}) {
      TempDir dir;
      WriteTrace(OneFrame(topology, 100), type, dir.path("o"));
      const auto f = ReadFileBytes(dir.path("o"));
      ASSERT_GE(f.size(), 40u);
      EXPECT_EQ(std::memcmp(f.data(), "snoop\0\0\0", 8), 0);
      EXPECT_EQ(Be32(f, 12), datalink);
      const bool trailer = type != Analyzer::Snoop;
      EXPECT_EQ(Be32(f, 24), (trailer ? 140u : 124u) - (topology == Topo::Ethernet && !trailer ? 4 : 0));
      EXPECT_EQ(f.size(), 16 + Be32(f, 24));
    }
  }
}

// Every writer of the layout: identified back as snoop or as the trailer
// variant, with every frame, time and flag.
TEST(SnoopRoundTrip, EveryWriterIsIdentifiedAndKeepsFramesTimesAndFlags) {
  struct Case {
    AnalyzerType written, identified;
  };
  for (Case c : {Case{Analyzer::Snoop, Analyzer::Snoop}, Case{Analyzer::Surveyor, Analyzer::Surveyor},
                 Case{Analyzer::FireBerd500Pc, Analyzer::Surveyor},
                 Case{Analyzer::LanAnalyzer, Analyzer::Surveyor},
                 Case{Analyzer::ProtocolInspector, Analyzer::Surveyor}}) {
    for (Topology topology : {Topo::Ethernet, Topo::TokenRing, Topo::Fddi}) {
      SCOPED_TRACE(testing::Message() << int(c.written) << "/" << int(topology));
      TempDir dir;
      Trace trace = MakeTrace(topology, 40, 22 * 3600LL * 1000000 + 987654, 333333);
      if (c.identified == Analyzer::Surveyor) trace.frames[5].flags = Flag::CrcError;
      if (topology == Topo::Ethernet && c.identified == Analyzer::Surveyor)
        trace.frames[5].bytes.back() ^= 0xFF;  // a bad frame keeps its bad FCS
      WriteTrace(trace, c.written, dir.path("rt"));
      ReadResult back = ReadTrace(dir.path("rt"));
      EXPECT_EQ(back.analyzer, c.identified);
      EXPECT_EQ(back.topology, topology);
      EXPECT_TRUE(back.messages.empty());
      ExpectSameFrames(trace, back.trace);
    }
  }
}

// ---- Interoperation with Debian's editcap and tshark ----

TEST(SnoopInterop, EditcapSnoopConvertsWithTheSourceFramesAndTimes) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "editcap/tshark not installed";
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 30, 23 * 3600LL * 1000000 + 999000, 50000);
  trace.frames[4].bytes.resize(80);
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("src.pcap"));
  const auto expected = TsharkFrames(dir.path("src.pcap"));
  CommandResult e = RunCommand("editcap -F snoop " + dir.path("src.pcap") + " " + dir.path("e.snoop"));
  ASSERT_EQ(e.status, 0) << e.err;
  ReadResult back = ReadTraceAs(dir.path("e.snoop"), Analyzer::Snoop, Topo::Ethernet);
  EXPECT_TRUE(back.messages.empty());
  ASSERT_EQ(back.trace.frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(back.trace.frames[i].frameLength, expected[i].length + 4) << i;
    const double epoch = double(AbsoluteMicros(back.state, back.trace.frames[i].time)) / 1e6;
    EXPECT_NEAR(epoch, expected[i].epoch, 0.000001) << i;
  }
  ExpectSameFrames(trace, back.trace);  // the truncated frame keeps all its 80 bytes
}

// tshark reading our snoop files is a row of tests/format_tables_test.cpp.
TEST(SnoopInterop, TsharkReadsOurSurveyorOutput) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "tshark not installed";
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 30, 23 * 3600LL * 1000000 + 999000, 50000);
  trace.frames[4].bytes.resize(80);
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("src.pcap"));
  auto expected = TsharkFrames(dir.path("src.pcap"));
  WriteTrace(trace, Analyzer::Surveyor, dir.path("ours"));
  // The trailer variant keeps the FCS in its lengths; a cut frame has none.
  for (size_t i = 0; i < expected.size(); ++i) {
    expected[i].length += 4;
    if (i != 4) expected[i].captured += 4;
  }
  ExpectSameTsharkFrames(expected, TsharkFrames(dir.path("ours")), 0.000001);
}

}  // namespace
}  // namespace morph
