// Domino / LinkView PRO, DA-30, FireBerd 500 and FireBerd DNA-323: headers,
// records and indexes built byte by byte from the layouts; round trips on
// every topology each format carries; libpcap -> each -> libpcap. Every
// truncation, absurd lengths, cut frames, a read error midway and a trace
// across midnight in a daylight saving zone are rows of
// tests/format_tables_test.cpp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/job.h"
#include "engine/streams.h"
#include "engine/targets.h"
#include "engine/timebase.h"
#include "formats/da30.h"
#include "formats/domino.h"
#include "formats/fireberd500.h"
#include "formats/fireberd_dna323.h"
#include "formats/internet_advisor.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

void RefreshFcs(Frame& f) {
  if (f.bytes.size() < 64 || f.bytes.size() != size_t(f.frameLength)) return;
  const uint32_t fcs = FrameCrc32(f.bytes.data(), f.frameLength - 4);
  PutLE32(f.bytes.data() + f.frameLength - 4, fcs);
}


// 10:20:30.000100 on the default trace date, 2024-03-15 (UTC under ctest).
constexpr int64_t kStart = (10 * 3600 + 20 * 60 + 30) * 1000000LL + 100;
constexpr uint32_t kStartUnix = 1710498030;

// A whole 64-byte frame in direction 1, a 1518-byte frame sliced to 40 bytes
// in direction 2, and a 100-byte frame with a CRC error.
Trace EdgeTrace(Topology topology = Topo::Ethernet) {
  Trace t;
  t.topology = topology;
  Frame a = MakeFrame(kStart, 64, topology, 1);
  a.flags = Flag::Direction1;
  Frame b = MakeFrame(kStart + 1000, 1518, topology, 2);
  b.bytes.resize(40);
  b.flags = Flag::Direction2;
  Frame c = MakeFrame(kStart + 64, 100, topology, 3);
  c.flags = Flag::CrcError;
  t.frames = {a, b, c};
  return t;
}

// ------------------------------------------------------------ Domino writer

TEST(DominoWriter, HeaderDirectoryFramesAndIndexByteForByte) {
  TempDir dir;
  const Trace trace = EdgeTrace();
  WriteTrace(trace, Analyzer::Domino, dir.path("out.cap"));
  const auto f = ReadFileBytes(dir.path("out.cap"));
  const size_t index = 238 + 64 + 40 + 100;
  ASSERT_EQ(f.size(), index + 8 + 3 * 20);
  EXPECT_EQ(Text(f, 0, 4), "WINC");
  const std::string text = "Converted From Any Analyzer";
  EXPECT_EQ(Text(f, 4, text.size()), text);
  ExpectZeros(f, 4 + text.size(), 44);
  ExpectFields(f, {{44, 1, 1}, {45, 1, 0}, {54, 4, kStartUnix}, {58, 1, 10}, {59, 1, 20},
                   {60, 1, 30}, {62, 2, 358}, {64, 2, 4}, {82, 4, index}});
  const char* tags[] = {"FRAM", "NWST", "PRCL", "STAT", "DWIN", "STRC", "PTRL", "STOP"};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Text(f, 78 + 8 * i, 4), tags[i]);
  ExpectZeros(f, 78 + 64, 238);
  ExpectBytesAt(f, 238, trace.frames[0].bytes);
  ExpectBytesAt(f, 302, trace.frames[1].bytes);
  // The index: its own position, the count, then per frame position, stored
  // and full length, number, time in units of 32 us, status.
  ExpectFields(f, {{0, 4, index + 4}, {4, 4, 3}}, false, index);
  // 100 us: 3 units of 32; good, direction 1
  ExpectFields(f, {{0, 4, 238}, {4, 2, 64}, {6, 2, 0}, {8, 4, 0}, {12, 4, 3}, {16, 4, 0x58}}, false,
               index + 8);
  // cut: every stored byte kept, full length; direction 2
  ExpectFields(f, {{0, 4, 302}, {4, 2, 40}, {6, 2, 1518}, {8, 4, 1}, {12, 4, 34}, {16, 4, 0x98}},
               false, index + 28);
  // CRC error: neither 0x08 nor 0x10
  ExpectFields(f, {{0, 4, 342}, {4, 2, 100}, {6, 2, 0}, {8, 4, 2}, {12, 4, 5}, {16, 4, 0x00}},
               false, index + 48);
  // Read back: identified, dated by the start time, flags and lengths kept.
  ReadResult back = ReadTrace(dir.path("out.cap"));
  EXPECT_EQ(back.analyzer, Analyzer::Domino);
  EXPECT_EQ(back.topology, Topo::Ethernet);
  EXPECT_EQ(back.state.sourceFrameCount, 3);
  EXPECT_EQ(back.state.fileComment, text);
  EXPECT_EQ(back.trace.traceDate, EncodeDate(2024, 3, 15));
  ExpectSameFrames(trace, back.trace, Tolerance{16});
}

TEST(DominoWriter, TextMediaAndProtocolCodesByTopologyAndSource) {
  struct Case {
    AnalyzerType source;
    Topology topology;
    uint32_t wan;
    std::string text;
    uint16_t media, protocol;
  } cases[] = {
      {Analyzer::LinkViewPro, Topo::Ethernet, Wan::NotKnown, "\nLinkView PRO Cap", 739, 4},
      {Analyzer::LinkViewPro, Topo::TokenRing, Wan::NotKnown, "\nLinkView PRO Cap", 739, 6},
      {Analyzer::InternetAdvisor, Topo::TokenRing, Wan::NotKnown,
       "Converted From Internet Advisor (Agilent", 363, 6},
      {Analyzer::AnyAnalyzer, Topo::Fddi, Wan::NotKnown, "Converted From Any Analyzer", 313, 0},
      {Analyzer::AnyAnalyzer, Topo::TSeries, Wan::Ppp, "Converted From Any Analyzer", 361, 305},
      {Analyzer::AnyAnalyzer, Topo::E1, Wan::FrameRelay, "Converted From Any Analyzer", 360, 278},
      {Analyzer::AnyAnalyzer, Topo::VSeries, Wan::Sdlc, "Converted From Any Analyzer", 359, 14},
      {Analyzer::AnyAnalyzer, Topo::AtmOc3, Wan::NotKnown, "Converted From Any Analyzer", 747, 322},
      {Analyzer::AnyAnalyzer, Topo::Atm, Wan::NotKnown, "Converted From Any Analyzer", 943, 322},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.media);
    Trace t;
    t.topology = c.topology;
    t.wanProtocol = c.wan;
    t.frames = {MakeFrame(kStart, 53, c.topology, 1)};
    WriteTrace(t, Analyzer::Domino, dir.path("m.cap"), [&](ConversionState& s) {
      s.sourceAnalyzer = c.source;
    });
    const auto f = ReadFileBytes(dir.path("m.cap"));
    ASSERT_GE(f.size(), 238u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data() + 4)).substr(0, 40), c.text);
    EXPECT_EQ(Le16(f, 62), c.media);
    EXPECT_EQ(Le16(f, 64), c.protocol);
  }
}

// ------------------------------------------------------------ Domino reader

// A Domino file with the given media and records; entries carry their own
// status and lengths.
struct DominoRecord {
  std::vector<uint8_t> bytes;
  uint16_t full;
  uint32_t time, status;
};
std::vector<uint8_t> DominoFile(const std::string& text, uint32_t start, uint8_t h, uint8_t m,
                                uint8_t sec, uint16_t media, uint16_t protocol,
                                const std::vector<DominoRecord>& records) {
  Bytes f;
  f.text("WINC").text(text).padTo(44).u8(1).zeros(9).u32(start).u8(h).u8(m).u8(sec).u8(0);
  f.u16(media).u16(protocol).zeros(12);
  size_t frames = 238;
  for (const auto& r : records) frames += r.bytes.size();
  f.text("FRAM").u32(uint32_t(frames)).text("STOP").u32(0).padTo(238);
  std::vector<uint32_t> positions;
  for (const auto& r : records) {
    positions.push_back(uint32_t(f.v.size()));
    f.data(r.bytes);
  }
  f.u32(uint32_t(frames + 4)).u32(uint32_t(records.size()));
  for (size_t i = 0; i < records.size(); ++i)
    f.u32(positions[i]).u16(uint16_t(records[i].bytes.size())).u16(records[i].full)
        .u32(uint32_t(i)).u32(records[i].time).u32(records[i].status);
  return f.v;
}

TEST(DominoReader, FilesWithoutFcsStatusBitsAndMidnightStart) {
  TempDir dir;
  // Media 739 on Ethernet: the file keeps no FCS; a LinkView PRO text.
  const auto whole = Pattern(60, 1), cut = Pattern(30, 2);
  WriteFileBytes(dir.path("lv.cap"),
                 DominoFile("\nLinkView PRO Cap", 1710460800, 0, 0, 0, 739, 4,
                            {{whole, 0, 0, 0x18}, {cut, 60, 100, 0x50}, {whole, 0, 200, 0x80},
                             {whole, 0, 300, 0x08}, {whole, 0, 400, 0x10000000}}));
  ReadResult r = ReadTrace(dir.path("lv.cap"));
  ASSERT_EQ(r.analyzer, Analyzer::LinkViewPro);
  EXPECT_EQ(r.topology, Topo::Ethernet);
  EXPECT_EQ(r.state.fileComment, "LinkView PRO Cap");
  // Start time 00:00:00: the date is the file's, not its modification date.
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2024, 3, 15));
  // Times in units of 32 us. Good frames get their FCS, bad ones FCS 0;
  // 0x08 alone says no FCS error is known.
  std::vector<uint8_t> bad = whole;
  bad.resize(64);
  ExpectFrames({FrameOf(0, 64, WithFcs(whole)), FrameOf(3200, 64, cut, Flag::Direction1),
                FrameOf(6400, 64, bad, Flag::CrcError | Flag::Direction2),
                FrameOf(9600, 64, WithFcs(whole)),
                FrameOf(12800, 64, bad, Flag::CrcError | Flag::Direction2)},
               r.trace);
}

// A start time before 1970 in the source's zone dates nothing: the file's
// date stays, and the header's time of day still starts the frames.
TEST(DominoReader, AStartBeforeTheZoneBiasKeepsTheFileDate) {
  ScopedTimeZone newYork("America/New_York");
  TempDir dir;
  const std::string path = dir.path("early.cap");
  // 01:00 UTC on 1 January 1970: 20:00 the day before in New York.
  WriteFileBytes(path,
                 DominoFile("Domino", 3600, 20, 0, 0, 358, 4, {{Pattern(60, 1), 0, 10, 0x18}}));
  const timespec fileTime[2] = {{1620302400, 0}, {1620302400, 0}};  // 2021-05-06 12:00 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), fileTime, 0), 0);
  ReadResult r = ReadTrace(path);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2021, 5, 6));
  EXPECT_EQ(r.trace.frames[0].time, 20 * 3600 * 1000000LL + 320);
}

// The second record ends 19 bytes into its third cell's payload: that cell
// is stored cut short, never filled up.
TEST(DominoReader, AtmRecordsAreCutIntoCells) {
  TempDir dir;
  std::vector<uint8_t> whole = Pattern(149, 5), cut = Pattern(120, 6);
  whole[3] |= 0x02;
  WriteFileBytes(dir.path("atm.cap"),
                 DominoFile("Domino ATM", 1710498030, 10, 20, 30, 747, 322,
                            {{whole, 0, 10, 0x10}, {cut, 0, 10, 0x10}}));
  ReadResult r = ReadTrace(dir.path("atm.cap"));
  ASSERT_EQ(r.topology, Topo::AtmOc3);
  ASSERT_EQ(r.trace.frames.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    const Frame& cell = r.trace.frames[i];
    const std::vector<uint8_t>& record = i < 3 ? whole : cut;
    SCOPED_TRACE(i);
    ASSERT_EQ(cell.bytes.size(), i == 5 ? 24u : 53u);
    EXPECT_EQ(cell.frameLength, 53);
    EXPECT_TRUE(std::equal(record.begin(), record.begin() + 3, cell.bytes.begin()));
    EXPECT_EQ(cell.bytes[3] & 0x02, i % 3 == 2 ? 0x02 : 0);
    EXPECT_EQ(cell.bytes[4], record[4]);
    const size_t payload = i % 3 == 0 ? 5 : 53 + 48 * (i % 3 - 1);
    EXPECT_TRUE(std::equal(cell.bytes.begin() + 5, cell.bytes.end(), record.begin() + long(payload)));
    EXPECT_EQ(cell.time, kStart - 100 + 320);
  }
}

TEST(LinkViewPro, RoundTripsFromLinkViewDoNotGrowFrames) {
  TempDir dir;
  Trace trace = EdgeTrace();
  trace.frames[2].flags = 0;  // the FCS of a bad frame is not kept by these files
  WriteTrace(trace, Analyzer::LinkViewPro, dir.path("a.cap"),
             [](ConversionState& s) { s.sourceAnalyzer = Analyzer::LinkViewPro; });
  const auto f = ReadFileBytes(dir.path("a.cap"));
  EXPECT_EQ(Le16(f, 62), 739);
  EXPECT_EQ(Le16(f, Le32(f, 82) + 8 + 4), 60);  // stored without its FCS
  ReadResult once = ReadTrace(dir.path("a.cap"));
  ASSERT_EQ(once.analyzer, Analyzer::LinkViewPro);
  ExpectSameFrames(trace, once.trace, Tolerance{16});
  // LinkView PRO -> LinkView PRO -> read: still the same lengths.
  WriteTrace(once.trace, Analyzer::LinkViewPro, dir.path("b.cap"),
             [](ConversionState& s) { s.sourceAnalyzer = Analyzer::LinkViewPro; });
  ReadResult twice = ReadTrace(dir.path("b.cap"));
  ExpectSameFrames(trace, twice.trace, Tolerance{32});
}

// ------------------------------------------------------------ DA-30

TEST(Da30Writer, HeaderStatisticsAndRecordsByteForByte) {
  TempDir dir;
  const Trace trace = EdgeTrace();
  WriteTrace(trace, Analyzer::Da30, dir.path("out.an1"));
  const auto f = ReadFileBytes(dir.path("out.an1"));
  const size_t first = 248, second = first + 108, third = second + 84;
  ASSERT_EQ(f.size(), third + 144);
  EXPECT_EQ(Text(f, 0, 4), "EXRS");
  EXPECT_EQ(Text(f, 6, 8), "UNKNOWN?");
  const size_t body = 94;  // the statistics: head at 78, counters from 94
  ExpectFields(f, {{14, 1, 0x41}, {22, 4, 78}, {26, 4, 168}, {30, 4, 248}, {34, 4, 108 + 84 + 144},
                   {46, 4, 246}, {50, 4, 2}, {78, 4, 0}, {82, 4, 40}, {86, 4, 27}, {90, 4, 4},
                   {body, 4, 35}, {body + 4, 4, 3}, {body + 36, 4, 3}, {body + 44, 4, 3},
                   {body + 124, 4, 3}, {body + 132, 4, 3}, {body + 136, 4, 3},
                   {body + 68, 4, 1},  // CRC errors
                   {body + 144, 4, 40}, {246, 2, 0}});
  // 64 bytes whole: S = 27, 23 at offset 28, 108 bytes in all.
  ExpectFields(f, {{0, 4, 0}, {4, 4, 27}, {8, 4, 8}, {16, 4, 0x2000218}, {20, 4, 0},
                   {24, 4, uint64_t(std::llround(kStart / 32.0))}, {28, 4, 23}, {32, 4, 64},
                   {100, 2, 64}, {102, 2, 4}}, false, first);
  // Cut to 40 bytes: all 40 kept (S = 21), the trailer keeps 1518.
  ExpectFields(f, {{0, 4, 27}, {4, 4, 21}, {32, 4, 40}, {76, 2, 1518}}, false, second);
  ExpectFields(f, {{16, 4, 0x2000208}}, false, third);

  ReadResult back = ReadTrace(dir.path("out.an1"));
  EXPECT_EQ(back.analyzer, Analyzer::Da30);
  EXPECT_EQ(back.topology, Topo::Ethernet);
  Trace expected = trace;
  for (Frame& fr : expected.frames) fr.flags &= Flag::CrcError;  // no directions in DA-30
  ExpectSameFrames(expected, back.trace, Tolerance{16});
}

TEST(Da30Reader, UnsignedTimesAndTokenRingLayout) {
  Bytes f;
  f.text("EXRS").zeros(2).text("UNKNOWN?").u8(0x41).padTo(22).u32(78).u32(128).u32(208).u32(0)
      .padTo(46).u32(206).u32(2).padTo(78);
  f.u32(0).u32(30).u32(27).u32(6).zeros(112).u16(0);
  const auto frame = Pattern(30, 9);
  f.u32(0).u32(19).u32(8).u32(0).u32(0x219).u32(0).u32(0xFFFFFFE0).u32(15).u32(30).data(frame)
      .zeros(2).u16(30).u16(6).u32(0);
  ReadResult r = ReadTraceFrom(f.v, "tr.an1");
  ASSERT_EQ(r.topology, Topo::TokenRing);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.frames[0].time, 137438952448LL);
  EXPECT_EQ(r.trace.frames[0].bytes, frame);
  EXPECT_TRUE(r.messages.empty());
}

// ------------------------------------------------------------ FireBerd 500

TEST(FireBerd500Writer, RecordsStatusAndPositionTable) {
  TempDir dir;
  Trace t;
  t.frames = {MakeFrame(1000, 60, Topo::Ethernet, 0), MakeFrame(2000, 60, Topo::Ethernet, 1),
              MakeFrame(2600, 100, Topo::Ethernet, 2), MakeFrame(3000, 1600, Topo::Ethernet, 3),
              MakeFrame(4000, 50, Topo::Ethernet, 4)};
  t.frames[1].flags = Flag::CrcError;
  WriteTrace(t, Analyzer::FireBerd500, dir.path("out.pkt"));
  const auto f = ReadFileBytes(dir.path("out.pkt"));
  EXPECT_EQ(Le16(f, 0), 0);
  EXPECT_EQ(Text(f, 2, 10), std::string("ProbeApps\0", 10));
  EXPECT_EQ(Text(f, 12, 16), "Captured Packets");
  EXPECT_EQ(Text(f, 52, 10), "Packet Log");
  EXPECT_EQ(Le32(f, 72), 5u);
  // Per record: stored length, status, number, milliseconds; then the table
  // of record positions.
  const size_t records[] = {76, 142, 208, 314, 1920};
  const uint16_t lengths[] = {56, 56, 96, 1596, 46};
  const uint16_t status[] = {0x0080, 0x0880, 0, 0x0200, 0x0080};
  const size_t table = 1920 + 10 + 46;
  ASSERT_EQ(f.size(), table + 20);
  for (size_t i = 0; i < 5; ++i) {
    ExpectFields(f, {{0, 2, lengths[i]}, {2, 2, status[i]}, {4, 2, i},
                     {6, 4, uint64_t(std::llround(t.frames[i].time / 1000.0))}}, false, records[i]);
    ExpectFields(f, {{table + 4 * i, 4, records[i]}});
  }

  // Read back: the 1600-byte frame whole, with a rebuilt FCS; the runt as 50.
  ReadResult back = ReadTrace(dir.path("out.pkt"));
  EXPECT_EQ(back.analyzer, Analyzer::FireBerd500);
  EXPECT_EQ(back.topology, Topo::Ethernet);
  Tolerance tolerance{500};
  tolerance.ignoreFcsBytes = true;  // a bad frame's FCS is not stored
  ExpectSameFrames(t, back.trace, tolerance);
  EXPECT_EQ(back.trace.frames[3].bytes, t.frames[3].bytes);
}

TEST(FireBerd500Writer, ALongTokenRingFrameKeepsEveryByte) {
  TempDir dir;
  Trace t;
  t.topology = Topo::TokenRing;
  t.frames = {MakeFrame(kStart, 4000, Topo::TokenRing, 7)};
  t.frames[0].bytes[0] = 0x10;
  t.frames[0].bytes[1] = 0x40;
  WriteTrace(t, Analyzer::FireBerd500, dir.path("long.pkt"));
  const auto f = ReadFileBytes(dir.path("long.pkt"));
  EXPECT_EQ(Le16(f, 76), 4000);
  EXPECT_EQ(Le16(f, 78), 0x0200);
  ReadResult back = ReadTrace(dir.path("long.pkt"));
  EXPECT_EQ(back.topology, Topo::TokenRing);
  ExpectSameFrames(t, back.trace, Tolerance{500});
}

TEST(FireBerd500Writer, StopsAt65535FramesWithACompleteFile) {
  TempDir dir;
  std::vector<std::string> messages;
  const ConversionState s = ConvertFromFeed(
      Analyzer::FireBerd500, Topo::TokenRing, dir.path("limit.pkt"),
      [](ConversionState& st, size_t i) {
        if (i == 70000) return false;
        st.frame.frameTime = int64_t(i) * 1000;
        st.frame.frameLength = st.frame.storedLength = 20;
        st.frame.frameData[0] = 0x10;
        st.frame.frameData[1] = 0x40;
        return true;
      },
      &messages);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "File Error: Unable to write to destination file limit.pkt");
  EXPECT_NE(s.status.writeErrorDetail.find("65,535"), std::string::npos);
  const auto f = ReadFileBytes(dir.path("limit.pkt"));
  EXPECT_EQ(Le32(f, 72), 65535u);
  ASSERT_EQ(f.size(), 76 + 65535 * 30 + 65535 * 4u);
  EXPECT_EQ(Le32(f, f.size() - 4), 76 + 65534 * 30u);
  ReadResult back = ReadTrace(dir.path("limit.pkt"));
  EXPECT_EQ(back.topology, Topo::TokenRing);
  EXPECT_EQ(back.trace.frames.size(), 65535u);
  EXPECT_TRUE(back.messages.empty());
}

// ------------------------------------------------------------ DNA-323

TEST(Dna323Writer, HeaderRecordsAndFiletimes) {
  TempDir dir;
  Trace t;
  t.traceDate = EncodeDate(1970, 1, 1);
  t.frames = {MakeFrame(0, 64, Topo::Ethernet, 1), MakeFrame(1234567, 100, Topo::Ethernet, 2)};
  WriteTrace(t, Analyzer::FireBerdDna323, dir.path("out.trc"));
  const auto f = ReadFileBytes(dir.path("out.trc"));
  ASSERT_EQ(f.size(), 42 + 24 + 64 + 4 + 24 + 100 + 4u);
  EXPECT_EQ(Text(f, 0, 26), std::string("pktcapKahala Systems     \0", 26));
  EXPECT_EQ(Text(f, 26, 12), std::string("wav3       \0", 12));
  ExpectFields(f, {{38, 4, 2}, {42, 4, 1}, {50, 8, 116444736000000000ULL}, {62, 4, 64}, {130, 4, 0},
                   {134, 4, 2}, {142, 8, 116444736000000000ULL + 12345670}});
  ExpectBytesAt(f, 66, t.frames[0].bytes);
  ReadResult back = ReadTrace(dir.path("out.trc"));
  EXPECT_EQ(back.analyzer, Analyzer::FireBerdDna323);
  EXPECT_EQ(back.trace.traceDate, EncodeDate(1970, 1, 1));
  ExpectSameFrames(t, back.trace);
}

TEST(Dna323Writer, AFirstNonDataFrameStillDatesTheTraceAndNumbersKeepGaps) {
  TempDir dir;
  Trace t;
  t.topology = Topo::Wireless;
  t.traceDate = EncodeDate(2024, 3, 15);
  Frame beacon = MakeFrame(kStart, 100, Topo::Wireless, 1);
  beacon.bytes[0] = 0x80;
  t.frames = {beacon, MakeFrame(kStart + 10, 100, Topo::Wireless, 2)};
  WriteTrace(t, Analyzer::FireBerdDna323, dir.path("w.trc"),
             [](ConversionState& s) { s.options.convertToEthernet = true; });
  const auto f = ReadFileBytes(dir.path("w.trc"));
  EXPECT_EQ(Le32(f, 38), 2u);  // frames handed on, the non-data one included
  EXPECT_EQ(Le32(f, 42), 2u);  // the frame written is the second one
  ReadResult back = ReadTrace(dir.path("w.trc"));
  EXPECT_EQ(back.trace.traceDate, EncodeDate(2024, 3, 15));
  ASSERT_EQ(back.trace.frames.size(), 1u);
  EXPECT_EQ(back.trace.frames[0].time, kStart + 10);
}

TEST(Dna323Reader, ASlicedFrameKeepsItsOwnLastBytes) {
  TempDir dir;
  Trace t;
  Frame sliced = MakeFrame(kStart, 1518, Topo::Ethernet, 4);
  sliced.bytes.resize(100);
  t.frames = {sliced};
  WriteTrace(t, Analyzer::FireBerdDna323, dir.path("s.trc"));
  ReadResult back = ReadTrace(dir.path("s.trc"));
  ASSERT_EQ(back.trace.frames.size(), 1u);
  // No wire length in these records: the frame is its 100 stored bytes.
  EXPECT_EQ(back.trace.frames[0].bytes, sliced.bytes);
}

// ------------------------------------------------------------ round trips

struct RoundTripRow {
  const char* name;
  AnalyzerType target;
  Topology topology;
  AnalyzerType identifiedAs;
  uint16_t flagsKept;
  bool keepsWireLength;
  int64_t timeResolution;  // microseconds either way
  bool fcsRebuilt;         // a bad frame's FCS comes back as 0
};

const RoundTripRow kRoundTrips[] = {
    {"Domino Ethernet", Analyzer::Domino, Topo::Ethernet, Analyzer::Domino, 0x8003, true, 16, false},
    {"Domino Token Ring", Analyzer::Domino, Topo::TokenRing, Analyzer::Domino, 0x8003, true, 16, false},
    {"Domino FDDI", Analyzer::Domino, Topo::Fddi, Analyzer::Domino, 0x8003, true, 16, false},
    {"Domino WAN", Analyzer::Domino, Topo::TSeries, Analyzer::Domino, 0x8003, true, 16, false},
    {"Domino ATM", Analyzer::Domino, Topo::AtmOc3, Analyzer::Domino, 0x8003, true, 16, false},
    {"LinkView PRO Ethernet", Analyzer::LinkViewPro, Topo::Ethernet, Analyzer::Domino, 0x8003, true,
     16, false},
    {"LinkView PRO Token Ring", Analyzer::LinkViewPro, Topo::TokenRing, Analyzer::Domino, 0x8003,
     true, 16, false},
    {"DA-30 Ethernet", Analyzer::Da30, Topo::Ethernet, Analyzer::Da30, 0x8000, true, 16, false},
    {"DA-30 Token Ring", Analyzer::Da30, Topo::TokenRing, Analyzer::Da30, 0, true, 16, false},
    {"FireBerd 500 Ethernet", Analyzer::FireBerd500, Topo::Ethernet, Analyzer::FireBerd500,
     0xC000, false, 500, true},
    {"FireBerd 500 Token Ring", Analyzer::FireBerd500, Topo::TokenRing, Analyzer::FireBerd500,
     0xC000, false, 500, false},
    {"DNA-323 Ethernet", Analyzer::FireBerdDna323, Topo::Ethernet, Analyzer::FireBerdDna323, 0,
     false, 0, false},
};

// Mixed sizes, a CRC error, both directions, a frame cut short (where the
// format keeps wire lengths); the first bytes chosen so the media probe of
// FireBerd 500 names the topology.
Trace RoundTripTrace(const RoundTripRow& row) {
  const bool atm = IsAtmTopology(row.topology);
  Trace t = MakeTrace(row.topology, 24, 23 * 3600LL * 1000000 + 123457, 1777);
  t.wanProtocol = row.topology == Topo::TSeries ? Wan::Ppp : Wan::NotKnown;
  for (size_t i = 0; i < t.frames.size(); ++i) {
    Frame& f = t.frames[i];
    if (atm) f = MakeFrame(f.time, 53, row.topology, uint8_t(i));
    f.bytes[0] = row.topology == Topo::TokenRing ? 0x10 : 0x00;
    f.bytes[1] = 0x40;
    RefreshFcs(f);
    if (i % 5 == 1) f.flags |= Flag::CrcError;
    if (i % 3 == 1) f.flags |= Flag::Direction1;
    if (i % 3 == 2) f.flags |= Flag::Direction2;
    f.flags &= row.flagsKept;
    if (i == 7 && row.keepsWireLength && !atm) f.bytes.resize(33);
  }
  return t;
}

TEST(ActernaRoundTrip, EveryTopologyEachFormatCarries) {
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const Trace trace = RoundTripTrace(row);
    WriteTrace(trace, row.target, dir.path("rt" + DefaultSuffix(row.target, row.topology)));
    ReadResult back = ReadTrace(dir.path("rt" + DefaultSuffix(row.target, row.topology)));
    EXPECT_EQ(back.analyzer, row.identifiedAs);
    EXPECT_EQ(back.topology, row.topology);
    if (row.topology == Topo::TSeries) {
      EXPECT_EQ(back.state.wanProtocol, Wan::Ppp);
    }
    EXPECT_TRUE(back.messages.empty()) << back.messages.front();
    Tolerance tolerance{row.timeResolution};
    tolerance.ignoreFcsBytes = row.fcsRebuilt;
    ExpectSameFrames(trace, back.trace, tolerance);
  }
}

// libpcap -> each format -> libpcap through the whole job, identification included.
TEST(ActernaRoundTrip, LibpcapThroughEachFormatAndBack) {
  struct Row {
    AnalyzerType target;
    Topology topology;
    bool keepsWireLength;
  } rows[] = {
      {Analyzer::Domino, Topo::Ethernet, true},      {Analyzer::Domino, Topo::TokenRing, true},
      {Analyzer::Domino, Topo::Fddi, true},          {Analyzer::LinkViewPro, Topo::Ethernet, true},
      {Analyzer::LinkViewPro, Topo::TokenRing, true}, {Analyzer::Da30, Topo::Ethernet, true},
      {Analyzer::Da30, Topo::TokenRing, true},       {Analyzer::FireBerd500, Topo::Ethernet, false},
      {Analyzer::FireBerd500, Topo::TokenRing, false}, {Analyzer::FireBerdDna323, Topo::Ethernet, false},
  };
  CapabilitySets caps = DefaultCapabilities();
  caps.ethernet.set(Analyzer::FireBerdDna323);
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << int(row.target) << "/" << int(row.topology));
    TempDir dir;
    RoundTripRow tr{"", row.target, row.topology, row.target, 0, row.keepsWireLength, 0, false};
    const Trace trace = RoundTripTrace(tr);
    WriteTrace(trace, Analyzer::Tcpdump, dir.path("src.pcap"));
    const ReadResult original = ReadTrace(dir.path("src.pcap"));
    const std::string mid = dir.path("mid" + DefaultSuffix(row.target, row.topology));
    ASSERT_EQ(ConvertByJob(dir.path("src.pcap"), mid, row.target, caps), Outcome::Converted);
    ASSERT_EQ(ConvertByJob(mid, dir.path("back.pcap"), Analyzer::Tcpdump, caps),
              Outcome::Converted);
    const ReadResult result = ReadTrace(dir.path("back.pcap"));
    EXPECT_EQ(result.topology, row.topology);
    ExpectSameFrames(original.trace, result.trace, Tolerance{row.target == Analyzer::FireBerd500 ? 500 : 16});
    // The same instants, whatever day each format dates its frames by.
    const bool dated = row.target == Analyzer::Domino || row.target == Analyzer::FireBerdDna323;
    for (size_t i = 0; dated && i < std::min(original.trace.frames.size(), result.trace.frames.size());
         ++i) {
      EXPECT_NEAR(double(AbsoluteMicros(result.state, result.trace.frames[i].time)),
                  double(AbsoluteMicros(original.state, original.trace.frames[i].time)), 16)
          << i;
    }
  }
}

TEST(ActernaWriters, TimesAFormatCannotHoldAreWriteFailuresNotWrappedValues) {
  struct Case {
    AnalyzerType type;
    std::vector<int64_t> times;
  } cases[] = {
      {Analyzer::Domino, {kStart, kStart - 2000000}},             // before the start second
      {Analyzer::Domino, {kStart, kStart + 40LL * 3600 * 1000000}},  // past 38 hours of 32 us
      {Analyzer::Da30, {0, 39LL * 3600 * 1000000}},                 // past 38 hours of 32 us
      {Analyzer::FireBerd500, {-5000}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(int(k.type));
    TempDir dir;
    const ConversionState s =
        ConvertFromFeed(k.type, Topo::TokenRing, dir.path("t.x"), [&](ConversionState& st, size_t i) {
          if (i == k.times.size()) return false;
          st.frame.frameTime = k.times[i];
          st.frame.frameLength = st.frame.storedLength = 30;
          st.frame.frameData[0] = 0x10;
          return true;
        });
    EXPECT_TRUE(s.status.writeFailed);
    EXPECT_NE(s.status.writeErrorDetail.find("time"), std::string::npos) << s.status.writeErrorDetail;
    // What was written before stays readable.
    ReadResult back = ReadTraceAs(dir.path("t.x"), k.type, Topo::TokenRing);
    EXPECT_EQ(back.trace.frames.size(), k.times.size() - 1);
  }
}

// ------------------------------------------------------------ damaged input

TEST(ActernaDamaged, AHeaderFailureIsNotClearedByTheFrameLoop) {
  // The driver clears the failure flag before each step: the frame loop
  // must still refuse to run on a header it could not read.
  for (AnalyzerType type :
       {Analyzer::Domino, Analyzer::Da30, Analyzer::FireBerd500, Analyzer::FireBerdDna323}) {
    SCOPED_TRACE(int(type));
    SilentHost host;
    Conversion c(host);
    c.state.sourceAnalyzer = type;
    c.state.traceTopology = Topo::Ethernet;
    c.source = OpenMemorySource(std::vector<uint8_t>(20, 0));
    ASSERT_TRUE(c.ResetConversion());
    c.OpenSource();
    EXPECT_TRUE(c.state.status.readError);
    c.ReadFrames(false);
    EXPECT_TRUE(c.state.status.readError);
    EXPECT_EQ(c.state.counters.framesRead, 0);
  }
}

}  // namespace
}  // namespace morph
