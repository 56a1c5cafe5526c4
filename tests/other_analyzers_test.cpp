// Observer, LANalyzer, DataGLANce, LAN900 and NetScout: files built byte by
// byte from the format tables, round trips through every writer, damaged and
// hostile input, and Debian's editcap. Truncations, absurd values, times
// across midnight and tshark reading our files are rows of
// tests/format_tables_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <cmath>
#include <functional>
#include <iterator>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/identify.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/dataglance.h"
#include "formats/lan900.h"
#include "formats/lanalyzer.h"
#include "formats/netscout.h"
#include "formats/observer.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

// ------------------------------------------------------------------ LANalyzer

void LzRecord(Bytes& f, uint16_t type, const std::vector<uint8_t>& body) {
  f.u16(type).u16(uint16_t(body.size())).data(body);
}

std::vector<uint8_t> LzSummary(int hours, int minutes, int seconds, uint16_t media) {
  Bytes b;
  b.u8(14).u8(11).u16(2023).zeros(4).u8(uint8_t(seconds)).u8(uint8_t(minutes)).u8(uint8_t(hours));
  b.padTo(188).u16(media).padTo(Lanalyzer::kSummarySize);
  return b.v;
}

// `stored` is the stored-length field; -1 for the size of `data`.
std::vector<uint8_t> LzFrame(uint16_t status, uint16_t wire, const std::vector<uint8_t>& data,
                             uint64_t counter, int stored = -1) {
  Bytes b;
  b.u16(1).u16(status).u16(wire).u16(uint16_t(stored >= 0 ? stored : int(data.size())));
  b.u16(uint16_t(counter)).u16(uint16_t(counter >> 16)).u16(uint16_t(counter >> 32));
  b.u32(1).u16(0).zeros(12).data(data);
  return b.v;
}

TEST(LanalyzerReader, RecordsOutOfOrderAndUnknownOnesAreFoundByType) {
  TempDir dir;
  const auto a = Pattern(60, 1), b = Pattern(200, 2);
  Bytes f;
  LzRecord(f, Lanalyzer::kFileHeader, std::vector<uint8_t>(76, 0));
  LzRecord(f, Lanalyzer::kSummary, LzSummary(10, 20, 30, Lanalyzer::kMediaEthernet));
  LzRecord(f, 0x1099, Pattern(33, 9));  // a record we do not know
  LzRecord(f, Lanalyzer::kReceiveNames, std::vector<uint8_t>(128, 0));
  LzRecord(f, Lanalyzer::kIndex, std::vector<uint8_t>(2014, 0));
  LzRecord(f, Lanalyzer::kFrame, LzFrame(8, 64, a, 3));       // 1.5 us, FCS not stored
  LzRecord(f, Lanalyzer::kFrame, LzFrame(1, 1518, b, 4000));  // CRC error, cut frame
  WriteFileBytes(dir.path("order.tr1"), f.v);

  ReadResult r = ReadTrace(dir.path("order.tr1"));
  EXPECT_EQ(r.analyzer, Analyzer::LanAlyzer);
  EXPECT_EQ(r.topology, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2023, 11, 14));
  // 3 half-microseconds round to 2; the whole frame gets its FCS.
  const int64_t start = (10 * 3600 + 20 * 60 + 30) * 1000000LL;
  ExpectFrames({FrameOf(start + 2, 64, WithFcs(a)), FrameOf(start + 2000, 1518, b, Flag::Bad)},
               r.trace);
}

// The stored-length field says how much of the record is frame: bytes
// after it are not taken, and one beyond the record is a read error; Token
// Ring writers may count the FCS they do not store.
TEST(LanalyzerReader, TheStoredLengthFieldBoundsTheFrame) {
  const auto a = Pattern(64, 1), b = Pattern(40, 2);
  auto file = [](uint16_t media, const std::vector<std::vector<uint8_t>>& frames) {
    Bytes f;
    LzRecord(f, Lanalyzer::kFileHeader, std::vector<uint8_t>(76, 0));
    LzRecord(f, Lanalyzer::kSummary, LzSummary(0, 0, 0, media));
    for (const auto& frame : frames) LzRecord(f, Lanalyzer::kFrame, frame);
    return f.v;
  };
  ReadResult ethernet = ReadTraceFrom(
      file(Lanalyzer::kMediaEthernet, {LzFrame(8, 64, a, 2, 60), LzFrame(8, 64, b, 4, 41)}),
      "e.tr1");
  ASSERT_EQ(ethernet.trace.frames.size(), 1u);
  EXPECT_EQ(ethernet.trace.frames[0].bytes, WithFcs(Pattern(60, 1)));
  EXPECT_EQ(ethernet.state.status.readErrorDetail,
            "record 2 at offset 394: stored length 41 exceeds the 40 bytes its record holds");

  ReadResult tokenRing = ReadTraceFrom(
      file(Lanalyzer::kMediaTokenRing, {LzFrame(8, 44, b, 2, 44), LzFrame(8, 44, b, 4, 45)}),
      "t.tr1");
  ASSERT_EQ(tokenRing.trace.frames.size(), 1u);
  EXPECT_EQ(tokenRing.trace.frames[0].bytes, b);
  EXPECT_EQ(tokenRing.trace.frames[0].frameLength, 44);
  EXPECT_NE(tokenRing.state.status.readErrorDetail.find("stored length 45 exceeds the 40 bytes"),
            std::string::npos);
}

// A cyclic trace of a three-frame ring: F1 F2 F3, the oldest frame F2, the
// wrap point after F3, going on at F1.
std::vector<uint8_t> CyclicFile(uint32_t stated) {
  Bytes f;
  LzRecord(f, Lanalyzer::kCyclicFileHeader, std::vector<uint8_t>(76, 0));
  LzRecord(f, Lanalyzer::kSummary, LzSummary(0, 0, 0, Lanalyzer::kMediaTokenRing));
  const size_t infoAt = f.size() + 4;
  LzRecord(f, Lanalyzer::kCyclicInfo, std::vector<uint8_t>(26, 0));
  std::vector<uint32_t> at;
  for (int i = 0; i < 3; ++i) {
    at.push_back(uint32_t(f.size()));
    LzRecord(f, Lanalyzer::kFrame, LzFrame(8, 40, Pattern(40, uint8_t(i)), uint64_t(i + 1) * 2000));
  }
  PutLE32(&f.v[infoAt], stated);
  PutLE32(&f.v[infoAt + 4], at[1]);
  PutLE32(&f.v[infoAt + 12], at[0]);
  PutLE32(&f.v[infoAt + 16], uint32_t(f.size()));
  return f.v;
}

TEST(LanalyzerReader, CyclicTraceReadsTheRingOnceWhateverCountItStates) {
  for (uint32_t stated : {3u, 0u, 100u}) {
    SCOPED_TRACE(stated);
    ReadResult r = ReadTraceFrom(CyclicFile(stated), "ring.tr1");
    EXPECT_EQ(r.topology, Topo::TokenRing);
    ASSERT_EQ(r.trace.frames.size(), 3u);
    EXPECT_TRUE(r.messages.empty());
    const int order[3] = {1, 2, 0};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(r.trace.frames[size_t(i)].bytes, Pattern(40, uint8_t(order[i])));
      EXPECT_EQ(r.trace.frames[size_t(i)].time, (order[i] + 1) * 1000);
    }
  }
}

TEST(LanalyzerWriter, HeaderRecordsAndFrameRecordsByteForByte) {
  TempDir dir;
  Trace t;
  t.topology = Topo::Ethernet;
  t.traceDate = EncodeDate(2024, 3, 15);
  t.frames.push_back(MakeFrame(3600000000LL + 5, 64, Topo::Ethernet, 1));
  Frame cut = MakeFrame(3600000000LL + 900, 1518, Topo::Ethernet, 2);
  cut.bytes.resize(100);
  cut.flags = Flag::CrcError;
  t.frames.push_back(cut);
  WriteTrace(t, Analyzer::LanAlyzer, dir.path("out.tr1"));
  const auto f = ReadFileBytes(dir.path("out.tr1"));

  const uint16_t types[] = {0x1001, 0x1006, 0x100B, 0x1035, 0x1036, 0x100A,
                            0x1002, 0x1003, 0x1009, 0x1004, 0x1005, 0x1005};
  const uint16_t lengths[] = {76, 128, 54, 144, 54, 266, 210, 6, 26, 2014, 92, 132};
  size_t at = 0, summary = 0, frames = 0;
  for (size_t i = 0; i < std::size(types); ++i) {
    ASSERT_LE(at + 4, f.size());
    EXPECT_EQ(GetLE16(&f[at]), types[i]) << i;
    EXPECT_EQ(GetLE16(&f[at + 2]), lengths[i]) << i;
    if (types[i] == 0x1002) summary = at + 4;
    if (types[i] == 0x1005 && frames == 0) frames = at;
    at += 4 + GetLE16(&f[at + 2]);
  }
  EXPECT_EQ(at, f.size());
  EXPECT_EQ(Text(f, 6, 24), "Trace Display Trace File");
  EXPECT_EQ(Text(f, 84, 8), "Channel1");
  // The summary: date, counters from midnight, sizes, counts, media; the
  // sub-file summary after it.
  ExpectFields(f, {{0, 1, 15}, {1, 1, 3}, {2, 2, 2024}, {30, 2, 1518}, {32, 4, 2}, {48, 4, 2},
                   {188, 2, 226}, {210 + 4 + 2, 4, 2}}, false, summary);
  ExpectZeros(f, summary + 8, summary + 20);
  // Frame records: status, wire and stored length, half-microsecond counter
  // in three words, frame number, and the length of the previous record.
  const uint64_t counter = (3600000000ULL + 5) * 2;
  ExpectFields(f, {{2, 2, 8 | 0x10}, {4, 2, 64}, {6, 2, 60}, {8, 2, uint16_t(counter)},
                   {10, 2, uint16_t(counter >> 16)}, {12, 2, uint16_t(counter >> 32)},
                   {14, 4, 1}, {18, 2, 0}}, false, frames + 4);
  // A cut frame keeps every stored byte.
  ExpectFields(f, {{2, 2, 1}, {4, 2, 1518}, {6, 2, 100}, {14, 4, 2}, {18, 2, 92}}, false,
               frames + 4 + 92 + 4);
}

// ------------------------------------------------------------------- Observer

std::vector<uint8_t> ObserverHeader(const char* version) {
  Bytes f;
  f.text("ObserverPktBufferVersion=").text(version).padTo(Observer::kFileHeaderSize);
  return f.v;
}

void ObserverRecord(Bytes& f, uint32_t index, uint32_t previous, uint32_t next, uint32_t media,
                    uint32_t original, uint32_t errors, uint32_t millis,
                    const std::vector<uint8_t>& data, const uint8_t* radio = nullptr) {
  f.u32(Observer::kMarker).u32(index).u32(previous).u32(next).u32(0).u32(media).u32(0);
  f.u32(original).u32(errors).u32(millis).u32(uint32_t(data.size()));
  if (radio) f.v.insert(f.v.end(), radio, radio + 8);
  f.data(data).u32(0);
}

TEST(ObserverReader, Version4ChainWithRadioHeaders) {
  const auto a = Pattern(100, 3), b = Pattern(30, 4);
  const uint8_t radioA[8] = {0, 0, 108, 6, 0, 77, 0, 0}, radioB[8] = {0, 0, 2, 11, 20, 50, 0, 0};
  Bytes f;
  f.data(ObserverHeader("4.00LocalAddressTable"));
  const uint32_t second = 113 + 44 + 8 + 100 + 4;
  ObserverRecord(f, 0, 0, second, 9, 104, 0, 1000, a, radioA);
  ObserverRecord(f, 1, 113, 0, 9, 30, 0, 86399999, b, radioB);
  ReadResult r = ReadTraceFrom(f.v, "wifi.bfr");
  EXPECT_EQ(r.analyzer, Analyzer::Observer);
  EXPECT_EQ(r.topology, Topo::Wireless);
  // The wire length stays, with every stored byte; the radio header gives
  // rate, channel, noise and signal.
  Frame x = FrameOf(1000000, 104, a), y = FrameOf(86399999000LL, 30, b);
  x.rate = 108, x.channel = 6, x.noise = 0, x.signal = 77;
  y.rate = 2, y.channel = 11, y.noise = 20, y.signal = 50;
  ExpectFrames({x, y}, r.trace, {.compareWireless = true});
}

// Each record names the next one's offset: bytes between records are passed over.
TEST(ObserverReader, ChainPassesOverBytesBetweenRecords) {
  const auto a = Pattern(70, 5), b = Pattern(90, 6);
  Bytes f;
  f.data(ObserverHeader("9.00"));
  const uint32_t second = 113 + 44 + 70 + 4 + 12;
  ObserverRecord(f, 0, 0, second, 1, 70, 0, 5000, a);
  f.data(std::vector<uint8_t>(12, 0xEE));
  ObserverRecord(f, 1, 113, 0, 1, 90, 0, 6000, b);
  ReadResult r = ReadTraceFrom(f.v, "gap.bfr");
  EXPECT_EQ(r.topology, Topo::TokenRing);
  ExpectFrames({FrameOf(5000000, 70, a), FrameOf(6000000, 90, b)}, r.trace);
}

TEST(ObserverReader, VersionIsReadWholeAndLaterLayoutsAreRefused) {
  const auto header = [](const char* v) { return ObserverHeader(v); };
  EXPECT_EQ(ObserverVersionText(header("4.00Local").data(), 113), "4.00");
  EXPECT_EQ(ObserverVersionText(header("15.00").data(), 113), "15.00");
  EXPECT_EQ(ObserverMajorVersion("15.00"), 15);
  EXPECT_EQ(ObserverMajorVersion("3.1"), 3);
  EXPECT_FALSE(ObserverMajorVersion(".5"));
  const auto layout = [](std::vector<uint8_t> bytes) {
    return ObserverLayoutOf(*OpenMemorySource(std::move(bytes)));
  };
  const auto chained = [&](const char* v) {
    Bytes f;
    f.data(header(v)).u32(Observer::kMarker);
    return layout(f.v);
  };
  EXPECT_EQ(chained("9.00"), ObserverLayout::Chained);
  EXPECT_EQ(chained("15.00"), ObserverLayout::Unread);
  EXPECT_EQ(layout(header("x")), ObserverLayout::Unread);
  // Version 9 in the tagged layout: the first packet offset names a marker.
  Bytes tagged;
  tagged.text("ObserverPktBufferVersion=9.00").padTo(32).le16(36).u8(0).u8(0).u32(Observer::kMarker);
  EXPECT_EQ(layout(tagged.v), ObserverLayout::Tagged);

  TempDir dir;
  Bytes f;
  f.data(header("15.00"));
  ObserverRecord(f, 0, 0, 0, 0, 64, 0, 1, Pattern(60, 1));
  WriteFileBytes(dir.path("v15.bfr"), f.v);
  EXPECT_EQ(UnreadObserverVersion(dir.path("v15.bfr")), "15.00");
  // The reader refuses it too, before anything is written.
  ReadResult r = ReadTraceAs(dir.path("v15.bfr"), Analyzer::Observer, Topo::Ethernet);
  EXPECT_TRUE(r.trace.frames.empty());
  EXPECT_TRUE(HasReadErrorMessage(r));
  EXPECT_NE(r.state.status.readErrorDetail.find("version 15.00"), std::string::npos);
}

// The tagged layout as the analyzer writes it: header entries (a comment,
// a time entry whose last word says local time), records with an element
// before the frame and bytes after it, error bits, Token Ring lengths.
TEST(ObserverReader, TaggedLayoutEntriesElementsAndLocalTimes) {
  ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  const auto a = Pattern(70, 5), b = Pattern(90, 6);
  // 2024-07-01 10:00:00.000001234 local, in nanoseconds since 2000.
  const uint64_t start = uint64_t(DaysFrom1970(EncodeDate(2024, 7, 1)) * 86400 + 36000 -
                                  946684800) * 1000000000 + 1234;
  Bytes f;
  f.text("ObserverPktBufferVersion=15.00").padTo(32).le16(36 + 9 + 12).u8(0).u8(2);
  f.le16(2).le16(9).text("hello");       // a comment entry
  f.le16(4).le16(12).le32(0xDEAD).le32(0);  // time entry: local time
  const size_t first = f.v.size();
  // Record 1: an 8-byte element before the frame, 6 bytes after it.
  f.le32(Observer::kMarker).le32(1000000).le16(70).le16(74).le16(56).le16(56 + 70 + 6);
  f.u8(1).u8(0).u8(1).u8(0).zeros(4).le64(0).le64(0).le64(start);
  f.zeros(8).data(a).zeros(6);
  // Record 2: an error bit, cut on the wire.
  f.le32(Observer::kMarker).le32(1000000).le16(90).le16(1504).le16(48).le16(48 + 90);
  f.u8(1).u8(0).u8(0).u8(2).zeros(4).le64(1).le64(1).le64(start + 2000000000);
  f.data(b);
  ASSERT_EQ(first, 57u);
  ReadResult r = ReadTraceFrom(f.v, "tagged.bfr");
  EXPECT_EQ(r.analyzer, Analyzer::Observer);
  ASSERT_EQ(r.topology, Topo::TokenRing);
  EXPECT_FALSE(r.state.status.readError) << r.state.status.readErrorDetail;
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2024, 7, 1));
  EXPECT_EQ(r.state.time.timeZoneBias, -7200);
  EXPECT_EQ(r.state.fileComment, "hello");
  ExpectFrames({FrameOf(36000000000LL + 1, 70, a), FrameOf(36002000001LL, 1500, b, Flag::CrcError)},
               r.trace);
}

TEST(ObserverWriter, ChainOffsetsIndexAndEndOffsetByteForByte) {
  TempDir dir;
  Trace t;
  t.topology = Topo::Ethernet;
  t.frames.push_back(MakeFrame(1000400, 64, Topo::Ethernet, 1));
  Frame runt = MakeFrame(2000600, 50, Topo::Ethernet, 2);
  runt.flags = Flag::CrcError;
  t.frames.push_back(runt);
  Frame cut = MakeFrame(3000000, 1518, Topo::Ethernet, 3);
  cut.bytes.resize(200);
  t.frames.push_back(cut);
  WriteTrace(t, Analyzer::Observer, dir.path("out.bfr"));
  const auto f = ReadFileBytes(dir.path("out.bfr"));
  EXPECT_EQ(std::string(f.begin(), f.begin() + 70),
            "ObserverPktBufferVersion=4.00LocalAddressTable\\Local Address Table.adr");
  const size_t r1 = 113, r2 = r1 + 44 + 60 + 4, r3 = r2 + 44 + 46 + 4;
  ASSERT_EQ(r3 + 44 + 200 + 4, f.size());
  // Per record: number, previous and next record, wire length, errors,
  // milliseconds, stored length; the last record ends the chain.
  ExpectFields(f, {{109, 4, f.size()},
                   {r1 + 4, 4, 0}, {r1 + 8, 4, 0}, {r1 + 12, 4, r2}, {r1 + 28, 4, 64},
                   {r1 + 36, 4, 1000},  // 1,000.4 ms rounded
                   {r1 + 40, 4, 60},
                   {r2 + 4, 4, 1}, {r2 + 8, 4, r1}, {r2 + 12, 4, r3}, {r2 + 28, 4, 50},
                   {r2 + 32, 4, 0x2u | 0x4u}, {r2 + 36, 4, 2001}, {r2 + 40, 4, 46},
                   {r3 + 8, 4, r2}, {r3 + 12, 4, 0}, {r3 + 40, 4, 200}});

  // A second conversion starts a fresh chain.
  Trace one;
  one.topology = Topo::Wireless;
  one.frames.push_back(MakeFrame(5000, 80, Topo::Wireless, 4));
  one.frames[0].bytes[0] = 0x80;  // a beacon first
  WriteTrace(one, Analyzer::Observer, dir.path("one.bfr"));
  const auto g = ReadFileBytes(dir.path("one.bfr"));
  ASSERT_EQ(g.size(), 113u + 44 + 8 + 80 + 4);
  ExpectFields(g, {{113 + 8, 4, 0}, {113 + 12, 4, 0}});
}

// ----------------------------------------------------------------- DataGLANce

TEST(DataGlanceWriter, ContinuationBlocksAgreeWithTheReader) {
  TempDir dir;
  Trace t;
  t.topology = Topo::TokenRing;
  const int32_t sizes[] = {87, 88, 175, 176, 20};
  for (int i = 0; i < 5; ++i)
    t.frames.push_back(MakeFrame(1000000 + i * 1000, sizes[i], Topo::TokenRing, uint8_t(i)));
  WriteTrace(t, Analyzer::DataGlance, dir.path("cont.dgc"));
  const auto f = ReadFileBytes(dir.path("cont.dgc"));
  // First blocks plus 0, 1, 1, 2 and 0 continuation blocks.
  ASSERT_EQ(f.size(), 512u + 128 * (5 + 0 + 1 + 1 + 2 + 0));
  const size_t firsts[] = {512, 640, 896, 1152, 1536};
  for (size_t i = 0; i < 5; ++i)
    ExpectFields(f, {{0, 1, 0xE0}, {2, 2, uint64_t(sizes[i])}, {12, 4, i}}, false, firsts[i]);
  ExpectFields(f, {{130, 1, 2}, {128, 2, 517}, {27, 1, 0x1A}});
  EXPECT_EQ(Text(f, 0, 27), "Converted From Any Analyzer");
  ReadResult r = ReadTrace(dir.path("cont.dgc"));
  EXPECT_EQ(r.analyzer, Analyzer::DataGlance);
  ExpectSameFrames(t, r.trace, Tolerance{1});

  // A file that uses only the blocks a frame needs (176 bytes in one
  // continuation block): the next frame's first block is not swallowed.
  auto tight = f;
  tight.erase(tight.begin() + 1152 + 256, tight.begin() + 1152 + 384);
  ReadResult r2 = ReadTraceFrom(tight, "tight.dgc");
  ASSERT_EQ(r2.trace.frames.size(), 5u);
  EXPECT_EQ(r2.trace.frames[4].bytes, t.frames[4].bytes);
}

TEST(DataGlanceReader, TimestampUnitsAndHeaderStart) {
  Bytes f;
  f.text("x").padTo(130).u8(3).u8(0).padTo(144).u32(1700000000).padTo(512);
  const auto block = [&](uint8_t kind, uint64_t stamp) {
    Bytes b;
    b.u8(kind).u8(0x02).u16(60).u16(64).u16(uint16_t(stamp >> 32)).u16(uint16_t(stamp));
    b.u16(uint16_t(stamp >> 16)).padTo(40).data(Pattern(60, 5)).padTo(128);
    f.data(b.v);
  };
  block(0xC0, 2700000);  // units of 32 ms
  f.zeros(128);          // a block of no frame
  block(0xC0, 2700001);  // PC-timer ticks
  block(0xE0, 1000);     // ticks by the flag
  ReadResult r = ReadTraceFrom(f.v, "units.dgc");
  ASSERT_EQ(r.trace.frames.size(), 3u);
  const int64_t start = (1700000000LL % 86400) * 1000000;
  EXPECT_EQ(r.trace.frames[0].time, start + 2700000LL * 32000);
  EXPECT_EQ(r.trace.frames[1].time, start + std::llround(2700001 * 0.83809534452));
  EXPECT_EQ(r.trace.frames[2].time, start + 838);
  EXPECT_EQ(r.trace.frames[0].flags, Flag::CrcError);
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2023, 11, 14));
}

TEST(DataGlanceRoundTrip, TraceDatedAfter2038) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 6);
  t.traceDate = EncodeDate(2040, 6, 1);
  WriteTrace(t, Analyzer::DataGlance, dir.path("late.dgc"));
  ReadResult r = ReadTrace(dir.path("late.dgc"));
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2040, 6, 1));
  ExpectSameFrames(t, r.trace, Tolerance{1});
}

// --------------------------------------------------------------------- LAN900

std::vector<uint8_t> Lan900Page0(uint16_t pages, uint16_t first, uint16_t last,
                                 const std::vector<uint16_t>& table) {
  Bytes f;
  f.u8(3).u8(148).u8(8).u8(2).padTo(40).u16(pages).u16(first).u16(last).padTo(8238);
  for (uint16_t n : table) f.u16(n);
  f.padTo(size_t(Lan900::kPageSize));
  return f.v;
}

void Lan900Record(Bytes& f, uint8_t media, uint64_t ticks, uint16_t wire,
                  const std::vector<uint8_t>& data) {
  f.u8(0x82).u8(media).u16(uint16_t(data.size() + 2)).u8(0).u32(uint32_t(ticks >> 16));
  f.u16(uint16_t(ticks)).u8(0).u16(wire).data(data);
}

TEST(Lan900Reader, WrappedCaptureReadsFromItsFirstPageAndRoundTheTable) {
  Bytes f;
  f.data(Lan900Page0(2, 2, 2, {1, 2}));
  Lan900Record(f, 5, 3000000, 64, Pattern(60, 1));  // page 1: newest
  f.padTo(2 * size_t(Lan900::kPageSize));
  Lan900Record(f, 5, 1000000, 64, Pattern(60, 2));  // page 2: oldest
  Lan900Record(f, 4, 1500000, 64, Pattern(60, 3));  // unknown media: skipped
  f.padTo(3 * size_t(Lan900::kPageSize));
  ReadResult r = ReadTraceFrom(f.v, "wrap.dat");
  EXPECT_EQ(r.analyzer, Analyzer::Lan900);
  EXPECT_EQ(r.topology, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  // The oldest page first; the FCS is rebuilt.
  const auto ticks = [](int64_t n) { return std::llround(double(n) * Lan900::kTickMicroseconds); };
  ExpectFrames({FrameOf(ticks(1000000), 64, WithFcs(Pattern(60, 2))),
                FrameOf(ticks(3000000), 64, WithFcs(Pattern(60, 1)))},
               r.trace);

  // Page 3 of a table of 2 pages is refused.
  auto bad = f.v;
  PutLE16(&bad[42], 3);
  ReadResult b = ReadTraceFromAs(bad, "badpage.dat", Analyzer::Lan900, Topo::Ethernet);
  EXPECT_TRUE(HasReadErrorMessage(b));
  EXPECT_FALSE(b.state.status.readErrorDetail.empty());
}

TEST(Lan900Writer, TwoPagesWithTheirTableAndNoBytesPastATokenRingFrame) {
  TempDir dir;
  Trace t;
  t.topology = Topo::TokenRing;
  for (int i = 0; i < 70; ++i) t.frames.push_back(MakeFrame(5000000 + i * 100, 1000, Topo::TokenRing, uint8_t(i)));
  WriteTrace(t, Analyzer::Lan900, dir.path("two.dat"));
  const auto f = ReadFileBytes(dir.path("two.dat"));
  ASSERT_EQ(f.size(), 3u * 65536);
  // Pages, first and last page; 64 records of 12 + 1002 bytes fill page 1,
  // the next would not fit.
  ExpectFields(f, {{40, 2, 2}, {42, 2, 1}, {44, 2, 2}, {8238, 2, 64}, {8240, 2, 6},
                   {65536, 1, 0x82}, {65537, 1, 6}, {65536 + 2, 2, 1002}});
  ReadResult r = ReadTrace(dir.path("two.dat"));
  EXPECT_EQ(r.topology, Topo::TokenRing);
  ExpectSameFrames(t, r.trace, Tolerance{1});
}

// ------------------------------------------------------------------- NetScout

std::vector<uint8_t> NetScoutFile(uint32_t count, uint16_t maxStored,
                                  const std::vector<std::vector<uint32_t>>& entries,
                                  const std::vector<uint8_t>& frameBytes) {
  Bytes f;
  f.big = true;
  f.text("NetScout Frame File\n").padTo(64).u32(count).padTo(76).u16(maxStored).u16(0);
  f.u32(1700000000).padTo(size_t(NetScout::kTableAt));
  for (const auto& e : entries)  // wire, millis, status, position
    f.zeros(8).u32(e[0]).u32(e[1]).u32(e[2]).zeros(4).u32(e[3]);
  f.data(frameBytes);
  return f.v;
}

TEST(NetScoutReader, TableOrderTruncationAndCrcFlag) {
  const uint32_t data = 4224 + 2 * 28;
  const auto bytes = Pattern(300, 7);
  // The second entry's frame lies before the first's in the file.
  auto f = NetScoutFile(2, 96, {{200, 5000, 0, data + 100}, {60, 7000, 4, data}}, bytes);
  ReadResult r = ReadTraceFrom(f, "ns.dat");
  EXPECT_EQ(r.analyzer, Analyzer::NetScout);
  EXPECT_EQ(r.topology, Topo::Ethernet);
  ExpectFrames({FrameOf(5000000, 200, {bytes.begin() + 100, bytes.begin() + 196}),
                FrameOf(7000000, 60, {bytes.begin(), bytes.begin() + 60}, Flag::CrcError)},
               r.trace);
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2023, 11, 14));

  // A tiny file claiming 70 million frames is refused in the header step.
  auto huge = NetScoutFile(70000000, 96, {{60, 1, 0, data}}, bytes);
  ReadResult h = ReadTraceFrom(huge, "huge.dat");
  EXPECT_TRUE(h.trace.frames.empty());
  EXPECT_TRUE(HasReadErrorMessage(h));
  EXPECT_NE(h.state.status.readErrorDetail.find("70,000,000"), std::string::npos);

  auto none = NetScoutFile(0, 96, {}, {});
  none.resize(4300);
  ReadResult n = ReadTraceFrom(none, "none.dat");
  EXPECT_TRUE(n.trace.frames.empty());
  EXPECT_FALSE(HasReadErrorMessage(n));
}

// --------------------------------------------------------- shared tables

struct Writer {
  AnalyzerType type;
  const char* file;
  std::vector<Topology> topologies;
  int64_t timeTolerance;
};
const Writer kWriters[] = {
    {Analyzer::LanAlyzer, "rt.tr1", {Topo::Ethernet, Topo::TokenRing}, 0},
    {Analyzer::Observer, "rt.bfr", {Topo::Ethernet, Topo::TokenRing, Topo::Fddi, Topo::Wireless}, 500},
    {Analyzer::DataGlance, "rt.dgc", {Topo::Ethernet, Topo::TokenRing}, 1},
    {Analyzer::Lan900, "rt.dat", {Topo::Ethernet, Topo::TokenRing}, 1},
};

// Frames of every kind a writer must keep: sizes, a cut frame, bad frames.
Trace RoundTripTrace(Topology topology) {
  Trace t = MakeTrace(topology, 30, 13 * 3600LL * 1000000 + 250000, 2500);
  t.frames[4].bytes.resize(100);  // cut
  t.frames[7].flags = Flag::CrcError;
  if (topology == Topo::Ethernet) t.frames[9].flags = Flag::Bad;
  for (size_t i = 0; i < t.frames.size(); ++i) t.frames[i].noise = uint8_t(i % 3);
  return t;
}

TEST(OtherAnalyzersRoundTrip, EveryWriterKeepsFramesLengthsFlagsAndTimes) {
  for (const Writer& w : kWriters) {
    for (Topology topology : w.topologies) {
      SCOPED_TRACE(testing::Message() << AnalyzerName(w.type) << " / " << TopologyName(topology));
      TempDir dir;
      Trace t = RoundTripTrace(topology);
      WriteTrace(t, w.type, dir.path(w.file));
      ReadResult r = ReadTrace(dir.path(w.file));
      EXPECT_EQ(r.analyzer, w.type);
      EXPECT_EQ(r.topology, topology);
      EXPECT_TRUE(r.messages.empty());
      // Bad Ethernet frames carry a zero FCS after reading; the writers keep
      // no FCS of whole frames.
      Tolerance tolerance{w.timeTolerance};
      tolerance.ignoreFcsBytes = topology == Topo::Ethernet && w.type != Analyzer::DataGlance;
      tolerance.compareWireless = topology == Topo::Wireless;
      for (Frame& f : t.frames) {
        // One radio byte holds the noise, or the signal when there is none.
        if (tolerance.compareWireless && f.noise == 0) f.noise = f.signal;
        // LANalyzer keeps one error bit; DataGLANce keeps status on Ethernet only.
        if (w.type == Analyzer::LanAlyzer && f.flags) f.flags = Flag::Bad;
        if (w.type == Analyzer::DataGlance && topology != Topo::Ethernet) f.flags = 0;
      }
      ExpectSameFrames(t, r.trace, tolerance);
    }
  }
}

TEST(OtherAnalyzersDamagedInput, ReadErrorInTheMiddleStillFinishesTheTarget) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 5);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("src.pcap"));
  auto src = ReadFileBytes(dir.path("src.pcap"));
  src.resize(src.size() - 10);  // the last record is cut short
  WriteFileBytes(dir.path("cut.pcap"), src);
  // Into an Observer file: the chain and header are completed.
  bool openFailed = false, tooSmall = false;
  SilentHost quiet;
  Conversion c(quiet);
  c.state.sourceFileName = dir.path("cut.pcap");
  c.state.sourceAnalyzer = IdentifySource(c.state, dir.path("cut.pcap"), openFailed, tooSmall);
  c.state.traceTopology = Topo::Ethernet;
  c.state.targetAnalyzer = Analyzer::Observer;
  c.target = CreateFileTarget(dir.path("out.bfr"));
  c.ConvertTrace(false, 0);
  EXPECT_TRUE(c.state.status.readError);
  const auto f = ReadFileBytes(dir.path("out.bfr"));
  ASSERT_GT(f.size(), 113u);
  EXPECT_EQ(GetLE32(&f[109]), f.size());
  ReadResult r = ReadTrace(dir.path("out.bfr"));
  EXPECT_EQ(r.trace.frames.size(), 4u);
  EXPECT_TRUE(r.messages.empty());
}

// ------------------------------------------------ editcap

TEST(OtherAnalyzersInterop, EditcapLanalyzerFilesConvertWithEveryFrame) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "editcap/tshark not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 30, 13 * 3600LL * 1000000 + 250000, 2500);
  t.frames[4].bytes.resize(100);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("src.pcap"));
  const auto expected = TsharkFrames(dir.path("src.pcap"));
  CommandResult e = RunCommand("editcap -F lanalyzer " + dir.path("src.pcap") + " " +
                               dir.path("e.tr1"));
  ASSERT_EQ(e.status, 0) << e.err;
  ReadResult r = ReadTrace(dir.path("e.tr1"));
  EXPECT_EQ(r.analyzer, Analyzer::LanAlyzer);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_EQ(r.trace.frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(r.trace.frames[i].frameLength, expected[i].length + 4) << i;
    // editcap counts from the first frame's whole second, which the summary states.
    const double first = std::floor(expected[0].epoch) + (expected[i].epoch - expected[0].epoch);
    EXPECT_NEAR(double(AbsoluteMicros(r.state, r.trace.frames[i].time)) / 1e6, first, 1e-6) << i;
  }
  Tolerance tolerance{kMicrosPerDay};  // times checked above
  ExpectSameFrames(t, r.trace, tolerance);
}

// editcap writes Observer version 15: every frame converts with its bytes,
// lengths and time (nanoseconds since 2000 in UTC).
TEST(OtherAnalyzersInterop, EditcapObserverFilesConvertWhole) {
  if (!HaveTool("editcap")) GTEST_SKIP() << "editcap not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 5);
  t.frames[2].bytes.resize(50);  // cut: every stored byte kept
  WriteTrace(t, Analyzer::Tcpdump, dir.path("src.pcap"));
  CommandResult e = RunCommand("editcap -F observer " + dir.path("src.pcap") + " " +
                               dir.path("e.bfr"));
  ASSERT_EQ(e.status, 0) << e.err;
  CommandResult run = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("e.bfr") +
                                 " --to TD -o " + dir.path("out.pcap"));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ReadResult r = ReadTrace(dir.path("out.pcap"));
  EXPECT_FALSE(r.state.status.readError) << r.state.status.readErrorDetail;
  ExpectSameFrames(t, r.trace);
}

}  // namespace
}  // namespace morph
