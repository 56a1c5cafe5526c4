// Internet Advisor files (records and blocks byte by byte, round trips,
// hostile files) and NetMetrix files built by hand.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/checksum.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/internet_advisor.h"
#include "formats/netmetrix.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

std::string Tag(const std::vector<uint8_t>& b, size_t at) {
  return std::string(b.begin() + long(at), b.begin() + long(at) + 4);
}

const double kDate = EncodeDate(2024, 3, 15);
const int64_t kDayStart = DaysFrom1970(kDate) * 86400;

// Walks the records of a written file and checks the block structure: every
// block 32,768 bytes, a group record first, a padding record last.
struct Walk {
  std::vector<std::string> tags;
  int blocks = 0;
};
Walk WalkBlocks(const std::vector<uint8_t>& f) {
  Walk w;
  EXPECT_EQ((f.size() - 128) % 32768, 0u);
  for (size_t block = 128; block + 32768 <= f.size(); block += 32768) {
    ++w.blocks;
    size_t at = block;
    EXPECT_EQ(Tag(f, at + 4), "GRP0");
    while (at < block + 32768) {
      const size_t bytes = size_t(Le16(f, at + 2)) * 4;
      EXPECT_GE(bytes, 12u);
      if (bytes < 12) return w;
      EXPECT_EQ(Le16(f, at + bytes - 2), bytes / 4) << "tail at " << at;
      w.tags.push_back(Tag(f, at + 4));
      at += bytes;
    }
    EXPECT_EQ(at, block + 32768);
    EXPECT_EQ(w.tags.back(), "PAD0");
  }
  return w;
}

TEST(InternetAdvisorWrite, HeaderGroupFrameAndPaddingRecordsByteByByte) {
  TempDir dir;
  Trace t;
  // 10:00:00.700000: the fraction goes into the frame's nanoseconds.
  t.frames.push_back(MakeFrame(36000700000LL, 64, Topo::Ethernet, 1));
  t.frames.push_back(MakeFrame(36001000000LL, 1518, Topo::Ethernet, 2));
  t.frames[1].bytes.resize(100);  // sliced to 100 bytes: all 100 are kept
  t.frames[1].flags = Flag::CrcError;
  WriteTrace(t, Analyzer::InternetAdvisor, dir.path("t.eth"));
  const auto f = ReadFileBytes(dir.path("t.eth"));
  ASSERT_EQ(f.size(), 128u + 32768u);
  EXPECT_EQ(Text(f, 0, 8), "HPDATA0\x1A");
  // Group record: 7 words, frames 1 to 2; frame records: size in words,
  // number, wire length, status, stored length twice, second, nanoseconds,
  // the bytes and the size again.
  const size_t fr = 156, s2 = fr + 100, pad = s2 + 136;
  ExpectFields(f, {{8, 4, 1}, {12, 4, uint64_t(kDayStart + 36000)}, {20, 4, 32768}, {24, 4, 1},
                   {32, 4, 0x600000}, {130, 2, 7}, {136, 4, 1}, {140, 4, 1}, {144, 4, 2},
                   // the 64-byte frame: 25 words at 156
                   {fr + 2, 2, 25}, {fr + 8, 4, 1}, {fr + 16, 2, 64}, {fr + 19, 1, 0},
                   {fr + 20, 2, 64}, {fr + 22, 2, 64}, {fr + 24, 4, uint64_t(kDayStart + 36000)},
                   {fr + 28, 4, 700000000}, {fr + 98, 2, 25},
                   // the sliced frame: 100 stored bytes of 1518, CRC status, next second
                   {s2 + 2, 2, 34}, {s2 + 16, 2, 1518}, {s2 + 19, 1, 0x10}, {s2 + 20, 2, 100},
                   {s2 + 24, 4, uint64_t(kDayStart + 36001)}, {s2 + 28, 4, 0},
                   // padding to the end of the block
                   {pad + 2, 2, (128 + 32768 - pad) / 4}});
  EXPECT_EQ(Tag(f, 132), "GRP0");
  EXPECT_EQ(Tag(f, fr + 4), "FR30");
  ExpectBytesAt(f, fr + 32, t.frames[0].bytes);
  EXPECT_EQ(Tag(f, pad + 4), "PAD0");
}

TEST(InternetAdvisorWrite, BlocksFillBelowTheLimitAndTokenRingUsesItsTag) {
  TempDir dir;
  Trace t = MakeTrace(Topo::TokenRing, 500);
  WriteTrace(t, Analyzer::InternetAdvisor, dir.path("t.trn"));
  const auto f = ReadFileBytes(dir.path("t.trn"));
  EXPECT_EQ(Le32(f, 24), 3u);
  Walk w = WalkBlocks(f);
  EXPECT_GT(w.blocks, 5);
  EXPECT_EQ(std::count(w.tags.begin(), w.tags.end(), "FR50"), 500);
  // Group numbers run on from block to block.
  uint32_t next = 1;
  for (size_t block = 128; block < f.size(); block += 32768) {
    EXPECT_EQ(Le32(f, block + 12), next);
    next = Le32(f, block + 16) + 1;
  }
  EXPECT_EQ(next, 501u);
}

TEST(InternetAdvisorRoundTrip, EthernetAndTokenRingKeepEveryByteLengthFlagAndTime) {
  TempDir dir;
  for (Topology topology : {Topo::Ethernet, Topo::TokenRing}) {
    Trace t = MakeTrace(topology, 700, 3600LL * 1000000 + 654321, 33333);
    for (size_t i = 0; i < t.frames.size(); ++i) {
      if (i % 4 == 1 && t.frames[i].bytes.size() > 100)
        t.frames[i].bytes.resize(97 + i % 3);  // sliced, odd lengths
      if (topology == Topo::Ethernet && i % 5 == 0) t.frames[i].flags = Flag::CrcError;
    }
    t.frames.push_back(MakeFrame(t.frames.back().time + 1, 32768, topology, 9));
    WriteTrace(t, Analyzer::InternetAdvisor, dir.path("rt.eth"));
    ReadResult r = ReadTrace(dir.path("rt.eth"));
    ASSERT_EQ(r.analyzer, Analyzer::InternetAdvisor);
    ASSERT_EQ(r.topology, topology);
    EXPECT_TRUE(r.messages.empty()) << r.messages[0];
    // A frame too large for a block is stored cut to what a block holds.
    t.frames.back().bytes.resize(32692);
    EXPECT_EQ(ExpectSameFrames(t, r.trace), 0) << int(topology);
  }
}

// A trace across midnight in a daylight-saving zone is a row of
// tests/format_tables_test.cpp (TracesAcrossMidnightInSummerTimeKeepCounting).

// A hand-built file: header, then the given records (head, content, tail).
std::vector<uint8_t> InternetAdvisorFile(uint32_t startTime,
                                         const std::vector<std::vector<uint8_t>>& records) {
  Bytes f;
  f.text("HPDATA0\x1A").padTo(12).le32(startTime).padTo(20).le32(32768).le32(1).padTo(128);
  for (const auto& r : records) f.data(r);
  return f.v;
}
std::vector<uint8_t> Record(const char* tag, uint16_t words, std::vector<uint8_t> content) {
  return Bytes().zeros(2).le16(words).text(std::string(tag, 4)).data(content).zeros(2).le16(words).v;
}
// The records of one block, a padding record filling it to its 32,768 bytes.
std::vector<std::vector<uint8_t>> WholeBlock(std::vector<std::vector<uint8_t>> records) {
  size_t used = 0;
  for (const auto& r : records) used += r.size();
  const size_t pad = 32768 - used;
  records.push_back(Record("PAD0", uint16_t(pad / 4), std::vector<uint8_t>(pad - 12)));
  return records;
}
std::vector<uint8_t> FrameRecord(uint32_t seconds, uint16_t stored, uint8_t status = 0) {
  Bytes c;
  c.padTo(8).le16(stored).u8(0).u8(status).le16(stored).padTo(16).le32(seconds).le32(250000);
  c.data(std::vector<uint8_t>((stored + 3) & ~3, 0x5A));
  return Record("FR30", uint16_t((c.size() + 12) / 4), c.v);
}

TEST(InternetAdvisorRead, UnknownStartTimeAndStatusFromTheFrames) {
  ScopedTimeZone zone("PST8PDT,M3.2.0,M11.1.0");
  TempDir dir;
  const uint32_t seconds = uint32_t(kDayStart + 19 * 3600);  // 12:00 local (PDT)
  // A start time below the zone's bias cannot be one: the first frame dates the trace.
  WriteFileBytes(dir.path("h.eth"),
                 InternetAdvisorFile(3600, WholeBlock({Record("GRP0", 7, std::vector<uint8_t>(16)),
                                                       FrameRecord(seconds, 64, 0x10),
                                                       FrameRecord(seconds + 1, 61)})));
  ReadResult r = ReadTrace(dir.path("h.eth"));
  EXPECT_TRUE(r.messages.empty()) << r.messages[0];
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.trace.traceDate, kDate);
  EXPECT_EQ(r.trace.frames[0].time, 12 * 3600000000LL + 250);
  EXPECT_EQ(r.trace.frames[0].flags, Flag::CrcError);
  EXPECT_EQ(r.trace.frames[1].bytes.size(), 61u);
  EXPECT_EQ(r.trace.frames[1].flags, 0);
}

TEST(InternetAdvisorRead, HostileFilesEndWithAReadErrorAndNeverHang) {
  TempDir dir;
  const uint32_t seconds = uint32_t(kDayStart + 3600);
  auto good = InternetAdvisorFile(seconds, WholeBlock({Record("GRP0", 7, std::vector<uint8_t>(16)),
                                                       FrameRecord(seconds, 64),
                                                       FrameRecord(seconds, 70)}));
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* detail;
  } cases[] = {
      {"size 0", InternetAdvisorFile(seconds, {Record("GRP0", 0, std::vector<uint8_t>(16))}),
       "below its head and tail"},
      {"stored 32765", InternetAdvisorFile(seconds, {FrameRecord(seconds, 32765)}),
       "stored length 32,765"},
      {"size against stored", InternetAdvisorFile(seconds, {Record("FR30", 30, std::vector<uint8_t>(24 + 64))}),
       "record of 120 bytes for 0 stored bytes"},
      {"group past the end", InternetAdvisorFile(seconds, {Record("GRP0", 900, {})}), "runs past the end"},
      // The offset named is that of the damaged record, after a group of 28 bytes and a frame of 100.
      {"offset after records", InternetAdvisorFile(seconds, {Record("GRP0", 7, std::vector<uint8_t>(16)),
                                                            FrameRecord(seconds, 64),
                                                            Record("FR30", 30, std::vector<uint8_t>(24 + 64))}),
       "offset 256: record of 120 bytes"},
  };
  for (const Case& c : cases) {
    ReadResult r = ReadTraceFromAs(c.file, "bad.eth", Analyzer::InternetAdvisor, Topo::Ethernet);
    EXPECT_TRUE(r.state.status.readError) << c.name;
    EXPECT_NE(r.state.status.readErrorDetail.find(c.detail), std::string::npos)
        << c.name << ": " << r.state.status.readErrorDetail;
  }
  // Every truncation through the records and the end of the padding is a
  // read error with a detail: only the header alone or the whole block end cleanly.
  for (size_t cut = 0; cut <= good.size(); cut += cut == 600 ? good.size() - 620 : 1) {
    WriteFileBytes(dir.path("cut.eth"), std::vector<uint8_t>(good.begin(), good.begin() + long(cut)));
    ReadResult r = ReadTraceAs(dir.path("cut.eth"), Analyzer::InternetAdvisor, Topo::Ethernet);
    EXPECT_EQ(r.state.status.readError, !r.state.status.readErrorDetail.empty()) << cut;
    EXPECT_LE(r.trace.frames.size(), 2u);
    EXPECT_EQ(r.state.status.readError, cut != 128 && cut != good.size())
        << cut << ": " << r.state.status.readErrorDetail;
  }
}

// ------------------------------------------------------------------ NetMetrix

struct MetrixFrame {
  uint32_t status, seconds, micros, frameLength, captured;
  std::vector<uint8_t> bytes;  // the record's frame bytes
};

// File start, trace information at 32, descriptors at 176, frame runs after.
std::vector<uint8_t> NetMetrixFile(uint32_t startTime, uint32_t media,
                                   const std::vector<std::vector<MetrixFrame>>& runs) {
  Bytes f(true);
  f.put32(0, 0x6476);
  f.put32(4, 4);
  f.put32(16, 32);
  f.put32(24, 176);
  uint32_t total = 0;
  for (const auto& run : runs) total += uint32_t(run.size());
  f.put32(32 + 60, total);
  f.put32(32 + 92, media);
  f.put32(32 + 128, startTime);
  size_t at = 176 + 16 * runs.size();
  uint32_t count = 0;
  for (size_t d = 0; d < runs.size(); ++d) {
    count += uint32_t(runs[d].size());
    f.put32(176 + 16 * d + 4, count);
    f.put32(176 + 16 * d + 8, uint32_t(at));
    for (const MetrixFrame& m : runs[d]) {
      f.put32(at, m.status);
      f.put32(at + 4, m.seconds);
      f.put32(at + 8, m.micros);
      f.put32(at + 16, uint32_t(32 + m.bytes.size()));
      f.put32(at + 20, m.frameLength);
      f.put32(at + 24, m.captured);
      f.v.resize(at + 32);
      f.v.insert(f.v.end(), m.bytes.begin(), m.bytes.end());
      at = f.v.size();
    }
  }
  return f.v;
}

TEST(NetMetrixRead, TwoDescriptorsFcsAndTimesFromAHandBuiltFile) {
  const uint32_t start = uint32_t(kDayStart + 8 * 3600);
  std::vector<MetrixFrame> first = {{0, start, 10, 64, 60, Pattern(60, 1, 3)},
                                    {1, start + 2, 20, 100, 96, Pattern(96, 2, 3)}};
  std::vector<MetrixFrame> second = {{0, start + 3, 30, 1518, 200, Pattern(204, 3, 3)}};
  ReadResult r = ReadTraceFrom(NetMetrixFile(start, 0, {first, second}), "n.trc");
  ASSERT_EQ(r.analyzer, Analyzer::NetMetrix);
  ASSERT_EQ(r.topology, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty()) << r.messages[0];
  EXPECT_EQ(r.trace.traceDate, kDate);
  // Captured 60 and the FCS; a bad frame's FCS is 0; a sliced frame gets none.
  const int64_t eight = 8 * 3600000000LL;
  std::vector<uint8_t> bad = Pattern(96, 2, 3);
  bad.resize(100);
  ExpectFrames({FrameOf(eight + 10, 64, WithFcs(Pattern(60, 1, 3))),
                FrameOf(eight + 2000020, 100, bad, Flag::CrcError),
                FrameOf(eight + 3000030, 1518, Pattern(204, 3, 3))},
               r.trace);
}

// A Token Ring frame gets no FCS made up: it keeps the bytes its record holds.
TEST(NetMetrixRead, UnknownStartTimeTakesTheFirstFrameAndOnlyTheBytesTheRecordHolds) {
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  const uint32_t seconds = uint32_t(kDayStart + 86400 + 2 * 3600);  // 22:00 on the 15th (EDT)
  std::vector<MetrixFrame> frames = {{0, seconds, 777, 100, 40, Pattern(40, 4, 3)}};
  ReadResult r = ReadTraceFrom(NetMetrixFile(0xFFFFFFFF, 1, {frames}), "u.trc");
  ASSERT_EQ(r.topology, Topo::TokenRing);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.traceDate, kDate);
  EXPECT_EQ(r.trace.frames[0].time, 22 * 3600000000LL + 777);
  EXPECT_EQ(r.trace.frames[0].frameLength, 100);
  EXPECT_EQ(r.trace.frames[0].bytes, Pattern(40, 4, 3));
}

TEST(NetMetrixRead, HostileFilesEndWithAReadErrorAndNeverHang) {
  TempDir dir;
  const uint32_t start = uint32_t(kDayStart);
  std::vector<MetrixFrame> run = {{0, start, 1, 64, 60, Pattern(60, 1, 3)}, {0, start, 2, 64, 60, Pattern(60, 2, 3)}};
  const auto good = NetMetrixFile(start, 0, {run});
  auto shortRecord = good;
  PutBE32(&shortRecord[192 + 16], 31);
  auto hugeRecord = good;
  PutBE32(&hugeRecord[192 + 16], 0xFFFFFFF0);
  // Twenty descriptors that all point back at the same two records.
  Bytes loopFile(true);
  loopFile.v = NetMetrixFile(start, 0, {run});
  const uint32_t records = 176 + 20 * 16;
  std::vector<uint8_t> recordBytes(good.begin() + 192, good.end());
  loopFile.v.resize(records);
  loopFile.v.insert(loopFile.v.end(), recordBytes.begin(), recordBytes.end());
  loopFile.put32(32 + 60, 40);
  for (uint32_t d = 0; d < 20; ++d) {
    loopFile.put32(176 + 16 * d + 4, 2 * (d + 1));
    loopFile.put32(176 + 16 * d + 8, records);
  }
  const auto loop = loopFile.v;
  // A record of 1,000 bytes whose lengths say 30,000.
  const auto claimsMore =
      NetMetrixFile(start, 0, {{{0, start, 1, 30000, 30000, Pattern(968, 1, 3)}}});
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* detail;
  } cases[] = {{"record length 31", shortRecord, "record length 31"},
               {"record length huge", hugeRecord, "record length 4,294,967,280"},
               {"descriptors pointing back", loop, "point back"},
               {"lengths beyond the record", claimsMore,
                "frame 1 at offset 192: stored length 30,000 exceeds the 968 bytes its record holds"}};
  for (const Case& c : cases) {
    ReadResult r = ReadTraceFromAs(c.file, "bad.trc", Analyzer::NetMetrix, Topo::Ethernet);
    EXPECT_TRUE(r.state.status.readError) << c.name;
    EXPECT_NE(r.state.status.readErrorDetail.find(c.detail), std::string::npos)
        << c.name << ": " << r.state.status.readErrorDetail;
  }
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    WriteFileBytes(dir.path("cut.trc"), std::vector<uint8_t>(good.begin(), good.begin() + long(cut)));
    ReadResult r = ReadTraceAs(dir.path("cut.trc"), Analyzer::NetMetrix, Topo::Ethernet);
    EXPECT_EQ(r.state.status.readError, cut < good.size()) << cut;
    EXPECT_FALSE(r.state.status.readError && r.state.status.readErrorDetail.empty()) << cut;
  }
}

}  // namespace
}  // namespace morph
