// Classic packet files: records built byte by byte, the header summary,
// hostile files, the version 7 writer and round trips for every target.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "engine/conversion.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/tagged_packet_file.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using namespace std::chrono;

constexpr int64_t kSecond = 1000000;

struct HeaderFields {
  uint8_t version = 7;
  uint32_t count = 0;
  uint32_t mediaType = 0, physicalMedium = 0;
  uint8_t appMajor = 0;
  uint32_t linkSpeed = 10000000;
  uint32_t timeDate = 0;  // seconds since 1904, local
};

Bytes ClassicHeader(const HeaderFields& f) {
  Bytes b;
  b.u8(f.version).u8(0).be32(0).be32(f.count).be32(f.timeDate).be32(0xFFFFFFFF).be32(0xFFFFFFFF);
  b.be32(f.mediaType).be32(f.physicalMedium).u8(0).u8(0).u8(0).u8(f.appMajor);
  b.be32(f.linkSpeed).zeros(12);
  return b;
}
void V7Record(Bytes& b, uint16_t length, uint16_t slice, uint8_t flags, uint8_t status,
              uint64_t micros1904, const std::vector<uint8_t>& stored) {
  b.be16(0).be16(length).be16(slice).u8(flags).u8(status).be64(micros1904).data(stored);
  if (stored.size() % 2) b.u8(0xEE);
}

void V6Record(Bytes& b, uint16_t length, uint16_t slice, uint8_t flags, uint32_t millis,
              const std::vector<uint8_t>& stored) {
  b.be16(length).be16(slice).u8(flags).u8(0).be32(millis).zeros(16).data(stored);
  if (stored.size() % 2) b.u8(0xEE);
}

// Local microseconds since 1904-01-01 of a local date and time, computed
// with the standard calendar rather than the converter's own.
uint64_t Micros1904(year_month_day date, int64_t microsOfDay) {
  const int64_t days = (sys_days(date) - sys_days(1904y / January / 1)).count();
  return uint64_t(days * 86400 * kSecond + microsOfDay);
}

const year_month_day kDay = 2024y / March / 15;

// ---------------------------------------------------------------- reading

TEST(ClassicRead, Version7OddSlicesPadBytesFlagsAndStatus) {
  const uint64_t t0 = Micros1904(kDay, 10 * 3600 * kSecond + 250);
  Bytes b = ClassicHeader({.count = 4});
  V7Record(b, 64, 0, 0x00, 0x00, t0, Pattern(64, 1));          // whole frame stored
  V7Record(b, 1000, 33, 0x02, 0x00, t0 + 1500, Pattern(33, 2));  // odd slice, pad byte
  V7Record(b, 61, 0, 0x04, 0x04, t0 + 3000, Pattern(61, 3));     // odd whole frame, pad byte
  V7Record(b, 70, 0, 0xB0, 0x00, t0 + 4001, Pattern(70, 4));     // writer-only flag bits
  ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty()) << r.messages.front();
  // The pipeline marks an alignment error on Ethernet as a CRC error as well.
  const int64_t start = 10 * 3600 * kSecond + 250;
  ExpectFrames({FrameOf(start, 64, Pattern(64, 1)),
                FrameOf(start + 1500, 1000, Pattern(33, 2), Flag::CrcError),
                FrameOf(start + 3000, 61, Pattern(61, 3),
                        Flag::AlignmentError | Flag::CrcError | Flag::PacketFileStatus),
                FrameOf(start + 4001, 70, Pattern(70, 4))},
               r.trace);
  EXPECT_EQ(YearMonthDay(r.state.time.traceDate), 20240315);
}

TEST(ClassicRead, Version6MillisecondCounterPlacedByTheHeaderTimeDate) {
  const uint32_t counter = 0xFFFFF000;  // a free-running counter about to wrap
  const uint32_t startSeconds = uint32_t(Micros1904(kDay, 8 * 3600 * kSecond) / kSecond);
  Bytes b = ClassicHeader({.version = 6, .count = 3, .timeDate = startSeconds});
  V6Record(b, 128, 0, 0x00, counter, Pattern(128, 5));
  V6Record(b, 1514, 65, 0x02, counter + 20, Pattern(65, 6));
  V6Record(b, 60, 0, 0x00, counter + 1021, Pattern(60, 7));
  ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  const int64_t start = 8 * 3600 * kSecond;
  ExpectFrames({FrameOf(start, 128, Pattern(128, 5)),
                FrameOf(start + 20000, 1514, Pattern(65, 6), Flag::CrcError),
                FrameOf(start + 1021000, 60, Pattern(60, 7))},
               r.trace);
  EXPECT_EQ(YearMonthDay(r.state.time.traceDate), 20240315);

  // Without a time-date the counter itself counts from 1904.
  b = ClassicHeader({.version = 6, .count = 1});
  V6Record(b, 64, 0, 0, 86400 * 1000 + 1500, Pattern(64, 1));
  r = ReadTraceFromAs(b.v, "b.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.frames[0].time, 1500000);
  EXPECT_EQ(YearMonthDay(r.state.time.traceDate), 19040102);
}

TEST(ClassicRead, WirelessLengthsCountTheRadioBytesInVersion7Only) {
  const uint64_t t0 = Micros1904(kDay, 3600 * kSecond);
  auto radio = [](uint8_t rate, uint8_t channel, uint8_t signal, uint8_t noise,
                  const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> v = {rate, channel, signal, noise};
    v.insert(v.end(), frame.begin(), frame.end());
    return v;
  };
  Bytes b = ClassicHeader({.count = 2, .physicalMedium = 1, .appMajor = 1});
  V7Record(b, 104, 0, 0, 0, t0, radio(108, 11, 87, 3, Pattern(100, 1)));
  V7Record(b, 304, 55, 0, 0, t0 + 10, radio(2, 6, 40, 9, Pattern(51, 2)));
  ReadResult r = ReadTraceFromAs(b.v, "a.skc", Analyzer::Skavelin, Topo::Wireless);
  EXPECT_TRUE(r.messages.empty());
  Frame a = FrameOf(3600 * kSecond, 100, Pattern(100, 1));
  Frame c = FrameOf(3600 * kSecond + 10, 300, Pattern(51, 2));
  a.rate = 108, a.channel = 11, a.signal = 87, a.noise = 3;
  c.rate = 2, c.channel = 6, c.signal = 40, c.noise = 9;
  ExpectFrames({a, c}, r.trace, {.compareWireless = true});

  // A slice of just the radio bytes stores no frame bytes.
  Bytes radioOnly = ClassicHeader({.count = 1, .physicalMedium = 1, .appMajor = 1});
  V7Record(radioOnly, 204, 4, 0, 0, t0, radio(4, 5, 6, 7, {}));
  ReadResult rr = ReadTraceFromAs(radioOnly.v, "d.skc", Analyzer::Skavelin, Topo::Wireless);
  EXPECT_TRUE(rr.messages.empty());
  ASSERT_EQ(rr.trace.frames.size(), 1u);
  EXPECT_EQ(rr.trace.frames[0].frameLength, 200);
  EXPECT_TRUE(rr.trace.frames[0].bytes.empty());
  EXPECT_EQ(rr.trace.frames[0].channel, 5);

  // Version 6: the lengths leave the radio bytes out.
  Bytes v6 = ClassicHeader({.version = 6, .count = 1, .physicalMedium = 1, .appMajor = 1});
  V6Record(v6, 100, 0, 0, 1000, radio(22, 1, 100, 0, Pattern(100, 3)));
  ReadResult r6 = ReadTraceFromAs(v6.v, "b.skc", Analyzer::Skavelin, Topo::Wireless);
  ASSERT_EQ(r6.trace.frames.size(), 1u);
  EXPECT_EQ(r6.trace.frames[0].frameLength, 100);
  EXPECT_EQ(r6.trace.frames[0].bytes, Pattern(100, 3));
  EXPECT_EQ(r6.trace.frames[0].rate, 22);

  // A version 7 wireless length below the radio bytes is no record.
  for (uint16_t slice : {uint16_t(2), uint16_t(0)}) {
    Bytes bad = ClassicHeader({.count = 1, .physicalMedium = 1, .appMajor = 1});
    V7Record(bad, slice == 0 ? 3 : 100, slice, 0, 0, t0, Pattern(4, 1));
    ReadResult rb = ReadTraceFromAs(bad.v, "c.skc", Analyzer::Skavelin, Topo::Wireless);
    EXPECT_TRUE(rb.trace.frames.empty());
    EXPECT_TRUE(HasReadErrorMessage(rb)) << "slice " << slice;
  }
}

TEST(ClassicRead, TraceCrossingMidnightKeepsCounting) {
  const uint64_t t0 = Micros1904(kDay, (23 * 3600 + 59 * 60 + 59) * kSecond);
  Bytes b = ClassicHeader({.count = 2});
  V7Record(b, 64, 0, 0, 0, t0, Pattern(64, 1));
  V7Record(b, 64, 0, 0, 0, t0 + 2 * kSecond, Pattern(64, 2));
  ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.trace.frames[0].time, 86399 * kSecond);
  EXPECT_EQ(r.trace.frames[1].time, 86401 * kSecond);
  EXPECT_EQ(YearMonthDay(r.state.time.traceDate) % 100, 15);

  // Version 6 counts in milliseconds the same way.
  Bytes v6 = ClassicHeader({.version = 6, .count = 2, .timeDate = uint32_t(t0 / kSecond)});
  V6Record(v6, 64, 0, 0, 5000, Pattern(64, 1));
  V6Record(v6, 64, 0, 0, 7000, Pattern(64, 2));
  ReadResult r6 = ReadTraceFromAs(v6.v, "b.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  ASSERT_EQ(r6.trace.frames.size(), 2u);
  EXPECT_EQ(r6.trace.frames[1].time, 86401 * kSecond);
}

TEST(ClassicRead, FrameRangeKeepsTheTimesOfTheFramesItTakes) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 8, 5 * kSecond, 1234567);
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"));
  ReadResult r = ReadTraceAs(dir.path("a.pkt"), Analyzer::Ostrawind, Topo::Ethernet,
                             [](ConversionState& s) {
                               s.options.convertAll = false;
                               s.options.startFrame = 3;
                               s.options.endFrame = 6;
                             });
  ASSERT_EQ(r.trace.frames.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(r.trace.frames[i].time, t.frames[i + 2].time) << i;
}

TEST(ClassicRead, PacketCountEndsTheLoopBeforeTrailingBytes) {
  TempDir dir;
  const uint64_t t0 = Micros1904(kDay, 0);
  Bytes b = ClassicHeader({.count = 2});
  for (int i = 0; i < 3; ++i) V7Record(b, 64, 0, 0, 0, t0 + uint64_t(i), Pattern(64, uint8_t(i)));
  ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_EQ(r.trace.frames.size(), 2u);
  EXPECT_TRUE(r.messages.empty());

  // A count of 0 reads to the end of the file.
  b = ClassicHeader({.count = 0});
  for (int i = 0; i < 3; ++i) V7Record(b, 64, 0, 0, 0, t0 + uint64_t(i), Pattern(64, uint8_t(i)));
  WriteFileBytes(dir.path("b.pkt"), b.v);
  EXPECT_EQ(ReadTraceAs(dir.path("b.pkt"), Analyzer::Ostrawind, Topo::Ethernet).trace.frames.size(),
            3u);
}

// A file that states its packet count fails every cut, the frames before
// the cut kept; one that states none ends cleanly at a record boundary. An
// odd slice's pad byte belongs to its record.
TEST(ClassicRead, TruncatedAnywhereEndsWithReadErrorOrCleanly) {
  const uint64_t t0 = Micros1904(kDay, 0);
  for (uint32_t count : {3u, 0u}) {
    Bytes b = ClassicHeader({.count = count});
    const size_t header = b.size();
    V7Record(b, 64, 0, 0, 0, t0, Pattern(64, 1));
    const size_t first = b.size();
    V7Record(b, 90, 33, 0, 0, t0 + 5, Pattern(33, 2));
    const size_t second = b.size();
    V7Record(b, 64, 0, 0, 0, t0 + 9, Pattern(64, 3));
    ExpectEveryCut(b.v, {first, second, b.size()},
                   count ? std::vector<size_t>{} : std::vector<size_t>{header, first, second},
                   [](const std::vector<uint8_t>& part) {
                     return ReadTraceFromAs(part, "t.pkt", Analyzer::Ostrawind, Topo::Ethernet);
                   });
  }
}

TEST(ClassicRead, AbsurdLengthsNeverOverrunTheFrameBuffer) {
  Bytes b = ClassicHeader({.count = 2});
  V7Record(b, 0xFFFF, 0xFFFF, 0, 0, 1, Pattern(0xFFFF, 1));
  V7Record(b, 10, 0xFFFF, 0, 0, 2, Pattern(0xFFFF, 2));
  ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
  // Every length a 16-bit field states fits the frame buffer: both frames
  // come back with all their bytes, a slice beyond its frame's length
  // lengthening the frame.
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.trace.frames[0].frameLength, 0xFFFF);
  EXPECT_EQ(r.trace.frames[1].frameLength, 0xFFFF);
  EXPECT_EQ(r.trace.frames[1].bytes.size(), 0xFFFFu);
  EXPECT_FALSE(HasReadErrorMessage(r));
}

TEST(ClassicRead, TimestampsFarFromTheFirstFrameEndWithReadError) {
  const uint64_t t0 = Micros1904(kDay, 0);
  for (uint64_t later : {uint64_t(0), t0 + 30 * 86400 * kSecond, ~uint64_t(0)}) {
    Bytes b = ClassicHeader({.count = 3});
    V7Record(b, 64, 0, 0, 0, t0, Pattern(64, 1));
    V7Record(b, 64, 0, 0, 0, t0 - 5, Pattern(64, 2));  // slightly earlier is fine
    V7Record(b, 64, 0, 0, 0, later, Pattern(64, 3));
    ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
    EXPECT_EQ(r.trace.frames.size(), 2u) << later;
    EXPECT_TRUE(HasReadErrorMessage(r)) << later;
  }
}

TEST(ClassicRead, RefusesFilesThatAreNotClassicOrTagged) {
  for (uint8_t version : {uint8_t(0x86), uint8_t(0x87), uint8_t(5), uint8_t(0)}) {
    Bytes b = ClassicHeader({.version = version, .count = 1});
    V7Record(b, 64, 0, 0, 0, 1, Pattern(64, 1));
    ReadResult r = ReadTraceFromAs(b.v, "a.pkt", Analyzer::Ostrawind, Topo::Ethernet);
    EXPECT_TRUE(r.trace.frames.empty()) << int(version);
    EXPECT_TRUE(HasReadErrorMessage(r)) << int(version);
  }
}

// ---------------------------------------------------------------- header summary

TEST(ClassicSummary, HeaderFieldsInHostOrder) {
  HeaderFields f{.version = 7, .count = 0x01020304, .mediaType = 1, .physicalMedium = 0,
                 .appMajor = 3, .linkSpeed = 16000000};
  auto in = OpenMemorySource(ClassicHeader(f).v);
  PacketFileSummary s;
  ASSERT_TRUE(ReadPacketFileSummary(*in, s));
  EXPECT_FALSE(s.tagged);
  EXPECT_EQ(s.versionByte, 7);
  EXPECT_EQ(s.packetCount, 0x01020304u);
  EXPECT_EQ(s.mediaType, 1);
  EXPECT_EQ(s.physicalMedium, 0);
  EXPECT_EQ(s.appMajorVersion, 3);
  EXPECT_EQ(s.linkSpeed, 16000000u);

  f.version = 0x87;  // the packet grabber's mark stays visible
  in = OpenMemorySource(ClassicHeader(f).v);
  ASSERT_TRUE(ReadPacketFileSummary(*in, s));
  EXPECT_EQ(s.versionByte, 0x87);

  std::vector<uint8_t> shortHeader = ClassicHeader(f).v;
  shortHeader.resize(49);
  in = OpenMemorySource(shortHeader);
  EXPECT_FALSE(ReadPacketFileSummary(*in, s));
  in = OpenMemorySource(std::vector<uint8_t>(50, 0x42));
  EXPECT_FALSE(ReadPacketFileSummary(*in, s));
}

TEST(ClassicIdentify, SuffixVersionAndWirelessAge) {
  TempDir dir;
  Bytes b = ClassicHeader({.count = 1});
  V7Record(b, 64, 0, 0, 0, Micros1904(kDay, 0), Pattern(64, 1));
  for (auto [name, type] : {std::pair{"x.pkt", Analyzer::Ostrawind},
                            std::pair{"x.rgc", Analyzer::Ringstave}}) {
    WriteFileBytes(dir.path(name), b.v);
    EXPECT_EQ(ReadTrace(dir.path(name)).analyzer, type) << name;
  }
  ConversionState s;
  bool openFailed = false, tooSmall = false;
  for (uint8_t grabber : {uint8_t(0x86), uint8_t(0x87)}) {
    b.v[0] = grabber;
    WriteFileBytes(dir.path("g.pkt"), b.v);
    EXPECT_EQ(IdentifySource(s, dir.path("g.pkt"), openFailed, tooSmall), Analyzer::Glimmerhollow);
  }

  // Wireless files from before version 1.1 are refused by topology.
  Bytes w = ClassicHeader({.count = 1, .physicalMedium = 1, .appMajor = 0, .linkSpeed = 11000000});
  V7Record(w, 104, 0, 0, 0, 1, Pattern(104, 1));
  WriteFileBytes(dir.path("old.skc"), w.v);
  EXPECT_EQ(DetermineTopology(s, Analyzer::Skavelin, dir.path("old.skc"), openFailed),
            Topo::Unknown);
  w.v[33] = 1;
  WriteFileBytes(dir.path("new.skc"), w.v);
  EXPECT_EQ(DetermineTopology(s, Analyzer::Skavelin, dir.path("new.skc"), openFailed),
            Topo::Wireless);
}

// ---------------------------------------------------------------- compressed sources

TEST(ClassicCompressed, ReadsThroughGzipAndEndsCleanlyAtTheEndOfTheStream) {
  TempDir dir;
  const uint64_t t0 = Micros1904(kDay, 12 * 3600 * kSecond);
  Bytes b = ClassicHeader({.count = 3});
  for (int i = 0; i < 3; ++i)
    V7Record(b, 101, 0, 0, 0, t0 + uint64_t(i) * 7, Pattern(101, uint8_t(i)));
  WriteFileBytes(dir.path("a.pkt"), b.v);
  WriteGzipFile(dir.path("a.kvz"), ReadFileBytes(dir.path("a.pkt")));
  ReadResult r = ReadTrace(dir.path("a.kvz"));
  EXPECT_EQ(r.analyzer, Analyzer::Ostrawind);
  EXPECT_TRUE(r.state.sourceCompressed);
  ASSERT_EQ(r.trace.frames.size(), 3u);
  EXPECT_EQ(r.trace.frames[2].bytes, Pattern(101, 2));
  EXPECT_EQ(r.trace.frames[2].time, 12 * 3600 * kSecond + 14);
  EXPECT_TRUE(r.messages.empty());

  // A header that promises more records than the stream holds: the three
  // are read, then the shortfall is the read error.
  PutBE32(b.v.data() + 6, 9);
  WriteGzipFile(dir.path("n.kvz"), b.v);
  r = ReadTrace(dir.path("n.kvz"));
  EXPECT_EQ(r.trace.frames.size(), 3u);
  EXPECT_NE(r.state.status.readErrorDetail.find("the header states 9 frames, the file ends after 3"),
            std::string::npos)
      << r.state.status.readErrorDetail;

  // Cut inside the last record: the read error is reported, never a hang.
  b.v.resize(b.v.size() - 10);
  WriteFileBytes(dir.path("b.pkt"), b.v);
  WriteGzipFile(dir.path("b.kvz"), ReadFileBytes(dir.path("b.pkt")));
  r = ReadTraceAs(dir.path("b.kvz"), Analyzer::Ostrawind, Topo::Ethernet,
                  [](ConversionState& s) { s.sourceCompressed = true; });
  EXPECT_EQ(r.trace.frames.size(), 2u);
  EXPECT_TRUE(HasReadErrorMessage(r));
}

TEST(ClassicCompressed, DamagedGzipDataEndsWithReadError) {
  TempDir dir;
  Bytes b = ClassicHeader({.count = 200});
  for (int i = 0; i < 200; ++i) V7Record(b, 301, 0, 0, 0, uint64_t(i), Pattern(301, uint8_t(i)));
  WriteFileBytes(dir.path("a.pkt"), b.v);
  WriteGzipFile(dir.path("a.kvz"), ReadFileBytes(dir.path("a.pkt")));
  std::vector<uint8_t> gz = ReadFileBytes(dir.path("a.kvz"));
  for (size_t at = gz.size() / 2; at < gz.size() / 2 + 40; ++at) gz[at] ^= 0x5A;
  WriteFileBytes(dir.path("b.kvz"), gz);
  ReadResult r = ReadTraceAs(dir.path("b.kvz"), Analyzer::Ostrawind, Topo::Ethernet,
                             [](ConversionState& s) { s.sourceCompressed = true; });
  EXPECT_LT(r.trace.frames.size(), 200u);
  EXPECT_TRUE(HasReadErrorMessage(r));

  // A gzip file cut short likewise.
  gz = ReadFileBytes(dir.path("a.kvz"));
  gz.resize(gz.size() / 2);
  WriteFileBytes(dir.path("c.kvz"), gz);
  r = ReadTraceAs(dir.path("c.kvz"), Analyzer::Ostrawind, Topo::Ethernet,
                  [](ConversionState& s) { s.sourceCompressed = true; });
  EXPECT_LT(r.trace.frames.size(), 200u);
  EXPECT_TRUE(HasReadErrorMessage(r));
}

// ---------------------------------------------------------------- writing

TEST(ClassicWrite, HeaderAndRecordsByteExact) {
  TempDir dir;
  Trace t;
  t.topology = Topo::Ethernet;
  t.frames.push_back(MakeFrame(9 * 3600 * kSecond + 123456, 1519, Topo::Ethernet, 1));
  t.frames.push_back(MakeFrame(9 * 3600 * kSecond + 223456, 63, Topo::Ethernet, 2));
  Frame snap = MakeFrame(9 * 3600 * kSecond + 323457, 101, Topo::Ethernet, 3);
  snap.bytes[12] = 0x00, snap.bytes[13] = 0x57, snap.bytes[14] = 0xAA, snap.bytes[15] = 0xAA;
  snap.flags = Flag::CrcError;
  t.frames.push_back(snap);
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"), [](ConversionState& s) {
    s.lineSpeed = 100000000;
  });
  const std::vector<uint8_t> f = ReadFileBytes(dir.path("a.pkt"));
  ASSERT_GE(f.size(), 50u);
  const int64_t days = (sys_days(kDay) - sys_days(1904y / January / 1)).count();
  // Version, file length, packet count, start second since 1904, media
  // words, link speed; then per record the length, slice 0 (the whole frame
  // stored), flags, status and microseconds since 1904.
  ExpectFields(f, {{0, 1, 7}, {1, 1, 0}, {2, 4, f.size()}, {6, 4, 3},
                   {10, 4, uint64_t(days * 86400 + 9 * 3600)}, {14, 4, 0xFFFFFFFF},
                   {18, 4, 0xFFFFFFFF}, {22, 4, 0}, {26, 4, 0}, {30, 4, 0}, {34, 4, 100000000}},
               true);
  ExpectZeros(f, 38, 50);
  size_t at = 50;
  const uint8_t expectedFlags[] = {0x10, 0x20, 0x82};
  for (size_t i = 0; i < t.frames.size(); ++i) {
    const Frame& fr = t.frames[i];
    ExpectFields(f, {{0, 2, 0}, {2, 2, uint64_t(fr.frameLength)}, {4, 2, 0},
                     {6, 1, expectedFlags[i]}, {7, 1, 0},
                     {8, 8, uint64_t(days * 86400 * kSecond + fr.time)}},
                 true, at);
    ExpectBytesAt(f, at + 16, fr.bytes);
    at += 16 + fr.bytes.size() + fr.bytes.size() % 2;
  }
  EXPECT_EQ(at, f.size());
}

TEST(ClassicWrite, WirelessAndTokenRingMediaWords) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Wireless, 2), Analyzer::Skavelin, dir.path("a.skc"));
  std::vector<uint8_t> f = ReadFileBytes(dir.path("a.skc"));
  ASSERT_GE(f.size(), 66u);
  EXPECT_EQ(Be32(f, 22), 0u);
  EXPECT_EQ(Be32(f, 26), 1u);
  EXPECT_EQ(std::vector<int>(f.begin() + 30, f.begin() + 34), std::vector<int>({0, 0, 1, 1}));
  EXPECT_EQ(Be16(f, 52), 64 + 4);  // the radio bytes count in the length
  EXPECT_EQ(std::vector<int>(f.begin() + 66, f.begin() + 70), std::vector<int>({22, 1, 100, 0}));

  WriteTrace(MakeTrace(Topo::TokenRing, 2), Analyzer::Ringstave, dir.path("a.rgc"));
  f = ReadFileBytes(dir.path("a.rgc"));
  ASSERT_GE(f.size(), 50u);
  EXPECT_EQ(Be32(f, 22), 1u);
  EXPECT_EQ(Be32(f, 26), 0u);
  EXPECT_EQ(Be32(f, 30), 0u);
}

TEST(ClassicWrite, SlicingNeverWritesMoreThanTheSourceStored) {
  TempDir dir;
  Trace t;
  t.topology = Topo::Ethernet;
  Frame cut = MakeFrame(1000, 1000, Topo::Ethernet, 4);
  cut.bytes.resize(61);  // the source kept 61 of 1000 bytes
  t.frames.push_back(cut);
  t.frames.push_back(MakeFrame(2000, 600, Topo::Ethernet, 5));
  t.frames.push_back(MakeFrame(3000, 150, Topo::Ethernet, 6));
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"), [](ConversionState& s) {
    s.options.sliceFrames = true;
    s.options.sliceLength = 200;
  });
  const std::vector<uint8_t> f = ReadFileBytes(dir.path("a.pkt"));
  ASSERT_GE(f.size(), 66u);
  EXPECT_EQ(Be16(f, 50 + 4), 61);
  const size_t second = 50 + 16 + 62;
  ASSERT_GE(f.size(), second + 16);
  EXPECT_EQ(Be16(f, second + 4), 200);
  const size_t third = second + 16 + 200;
  ASSERT_GE(f.size(), third + 16);
  EXPECT_EQ(Be16(f, third + 4), 0);  // shorter than the slice: whole frame
  EXPECT_EQ(f.size(), third + 16 + 150);

  ReadResult r = ReadTraceAs(dir.path("a.pkt"), Analyzer::Ostrawind, Topo::Ethernet);
  ASSERT_EQ(r.trace.frames.size(), 3u);
  EXPECT_EQ(r.trace.frames[0].bytes, cut.bytes);
  EXPECT_EQ(r.trace.frames[1].bytes.size(), 200u);
  EXPECT_EQ(r.trace.frames[1].frameLength, 600);
}

TEST(ClassicWrite, PacketCountLeavesOutNonDataFrames) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Wireless, 5);
  t.frames[1].bytes[0] = 0x80;  // a beacon: not a data frame
  t.frames[3].bytes[0] = 0x40;
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"), [](ConversionState& s) {
    s.options.convertToEthernet = true;
  });
  const std::vector<uint8_t> f = ReadFileBytes(dir.path("a.pkt"));
  ASSERT_GE(f.size(), 50u);
  EXPECT_EQ(Be32(f, 6), 3u);
  EXPECT_EQ(ReadTrace(dir.path("a.pkt")).trace.frames.size(), 3u);
}

// Classic and tagged files alike.
TEST(ClassicWrite, FrameWithoutStoredBytesKeepsTheFileReadable) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 3);
  t.frames[1].bytes.clear();  // the source kept none of this frame
  for (auto [type, name] :
       {std::pair{Analyzer::Ostrawind, "a.pkt"}, std::pair{Analyzer::Farrowe, "a.kvc"}}) {
    SCOPED_TRACE(name);
    WriteTrace(t, type, dir.path(name));
    ReadResult r = ReadTraceAs(dir.path(name), Analyzer::Ostrawind, Topo::Ethernet);
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.trace.frames.size(), 3u);
    EXPECT_TRUE(r.trace.frames[1].bytes.empty());
    EXPECT_EQ(r.trace.frames[2].bytes, t.frames[2].bytes);
    EXPECT_EQ(r.trace.frames[2].time, t.frames[2].time);
  }
}

TEST(ClassicWrite, FrameBefore1904IsAWriteFailure) {
  SilentHost host;
  Conversion c(host);
  ConversionState& s = c.state;
  s.targetAnalyzer = Analyzer::Ostrawind;
  s.traceTopology = Topo::Ethernet;
  s.time.traceDate = EncodeDate(1904, 1, 1);
  ComputeWriterTimeBase(s);  // as the engine does before a header
  c.target = std::make_unique<MemoryTarget>();
  WritePacketFileHeader(c, 1);
  s.frame.frameLength = s.frame.storedLength = 64;
  s.frame.frameTime = 5;
  WritePacketFileFrame(c);
  EXPECT_FALSE(s.status.writeFailed);
  const auto& bytes = static_cast<MemoryTarget&>(*c.target).bytes();
  ASSERT_EQ(bytes.size(), 50u + 16 + 64);
  EXPECT_EQ(int64_t(Be64(bytes, 50 + 8)), 5);
  s.frame.frameTime = -1;
  WritePacketFileFrame(c);
  EXPECT_TRUE(s.status.writeFailed);
  EXPECT_EQ(bytes.size(), 50u + 16 + 64);
}

// ---------------------------------------------------------------- round trips

struct Case {
  AnalyzerType target;
  Topology topology;
  const char* name;
};

class ClassicRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(ClassicRoundTrip, PlainAndCompressedKeepEveryFrameFlagAndTime) {
  const Case c = GetParam();
  TempDir dir;
  Trace t = MakeTrace(c.topology, 40, 23 * 3600 * kSecond + 59 * 60 * kSecond, 1700001);
  t.frames[3].flags = Flag::CrcError;
  t.frames[7].bytes.resize(33);  // stored short of the frame
  for (size_t i = 0; i < t.frames.size(); ++i) {
    t.frames[i].rate = uint8_t(2 + i), t.frames[i].channel = uint8_t(i % 14 + 1);
    t.frames[i].signal = uint8_t(i * 2), t.frames[i].noise = uint8_t(i);
  }
  const std::string plain = dir.path(std::string("a") + c.name);
  WriteTrace(t, c.target, plain);
  ReadResult r = ReadTrace(plain);
  EXPECT_EQ(r.analyzer, c.target);
  EXPECT_EQ(r.topology, c.topology);
  EXPECT_TRUE(r.messages.empty());
  Tolerance tol;
  tol.compareWireless = c.topology == Topo::Wireless;
  ExpectSameFrames(t, r.trace, tol);

  WriteGzipFile(dir.path("a.kvz"), ReadFileBytes(plain));
  ReadResult z = ReadTrace(dir.path("a.kvz"));
  EXPECT_EQ(z.analyzer, c.target);
  EXPECT_TRUE(z.state.sourceCompressed);
  EXPECT_TRUE(z.messages.empty());
  ExpectSameFrames(t, z.trace, tol);
}

INSTANTIATE_TEST_SUITE_P(Targets, ClassicRoundTrip,
                         ::testing::Values(Case{Analyzer::Ostrawind, Topo::Ethernet, ".pkt"},
                                           Case{Analyzer::Skavelin, Topo::Wireless, ".skc"},
                                           Case{Analyzer::Ringstave, Topo::TokenRing, ".rgc"}),
                         [](const auto& info) { return std::string(info.param.name + 1); });

TEST(ClassicRoundTrip, ThroughLibpcapAndBack) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 30);
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"));
  // Convert the classic file to libpcap through the driver, then read that.
  ReadResult classic = ReadTrace(dir.path("a.pkt"));
  ASSERT_EQ(classic.trace.frames.size(), 30u);
  WriteTrace(classic.trace, Analyzer::Tcpdump, dir.path("b.pcap"));
  ReadResult pcap = ReadTrace(dir.path("b.pcap"));
  ExpectSameFrames(t, pcap.trace);
}

TEST(ClassicOracle, TsharkReadsTheWrittenFile) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 12, 10 * 3600 * kSecond + 5, 250001);
  WriteTrace(t, Analyzer::Ostrawind, dir.path("a.pkt"));
  const std::vector<TsharkFrame> got = TsharkFrames(dir.path("a.pkt"));
  ASSERT_EQ(got.size(), t.frames.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].length, t.frames[i].frameLength) << i;
    EXPECT_NEAR(got[i].epoch - got[0].epoch,
                double(t.frames[i].time - t.frames[0].time) / 1e6, 1e-6)
        << i;
  }
}

}  // namespace
}  // namespace morph
