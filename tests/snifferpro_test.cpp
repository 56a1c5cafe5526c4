// SnifferPro/NetXRay reader and writer: headers and records built byte by
// byte from the layout tables, round trips (plain, gzip, gigabit), and
// files written and read by tshark's tools.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "engine/checksum.h"
#include "engine/timebase.h"
#include "formats/pcap.h"
#include "formats/sniffer.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kStart = 1710504000;  // 2024-03-15 12:00:00 UTC

struct Header {
  std::string version = "002.001";
  uint32_t start = kStart, count = 0, endOffset = 0, firstRecord = 128;
  uint32_t network = 0, timeUnit = 0;
  uint64_t startStamp = 0;
  uint32_t lineSpeed = 0, lengthMode = 0;
  uint16_t protocol = 0;
  int16_t timeZone = 0;
};

Bytes HeaderBytes(const Header& h) {
  testkit::Bytes b;
  b.text(std::string("XCP", 4)).text(h.version.substr(0, 7)).padTo(12).le32(h.start).le32(h.count);
  b.le32(h.endOffset).le32(h.firstRecord).padTo(44).le32(h.network).le32(h.timeUnit);
  b.le64(h.startStamp).le32(h.lineSpeed).padTo(68).le32(h.lengthMode).padTo(84).le16(h.protocol);
  return b.padTo(126).le16(uint16_t(h.timeZone)).v;
}

struct Rec {
  uint64_t stamp = 0;
  uint16_t original = 0;  // 0: the data size
  Bytes data;
  uint32_t status = 0;
  uint32_t media = 0;
};

Bytes RecordBytes(const Rec& r, bool extended = true) {
  testkit::Bytes b;
  b.le64(r.stamp).le16(r.original ? r.original : uint16_t(r.data.size()));
  b.le16(uint16_t(r.data.size())).padTo(20).le32(r.status).le32(r.media);
  return b.padTo(extended ? 40 : 28).data(r.data).v;
}

Bytes ProFile(const Header& h, const std::vector<Rec>& records) {
  Bytes f = HeaderBytes(h);
  const bool extended = h.version >= "002.000";
  for (const Rec& r : records) {
    Bytes b = RecordBytes(r, extended);
    f.insert(f.end(), b.begin(), b.end());
  }
  return f;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Pattern(int n, int seed = 1) {
  Bytes b(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) b[size_t(i)] = uint8_t(seed * 11 + i * 3);
  return b;
}

ReadResult ReadPro(const Bytes& file, Topology topology,
                   const std::function<void(ConversionState&)>& setup = {}) {
  TempDir dir;
  WriteFileBytes(dir.path("t.cap"), file);
  return ReadTraceAs(dir.path("t.cap"), Analyzer::SnifferPro, topology, setup);
}

// ---------------------------------------------------------------- reader

TEST(SnifferProReader, VersionTextSelectsRecordHeaderSize) {
  const std::vector<Rec> records = {{.stamp = 10, .data = Pattern(60)},
                                    {.stamp = 20, .data = Pattern(70, 2)}};
  for (const char* version : {"001.100", "001.999", "002.000", "002.001"}) {
    Header h;
    h.version = version;
    ReadResult r = ReadPro(ProFile(h, records), Topo::Ethernet);
    ASSERT_EQ(r.trace.frames.size(), 2u) << version;
    EXPECT_EQ(r.trace.frames[1].frameLength, 74) << version;
    EXPECT_TRUE(std::equal(r.trace.frames[1].bytes.begin(), r.trace.frames[1].bytes.begin() + 70,
                           Pattern(70, 2).begin())) << version;
  }
}

TEST(SnifferProReader, EthernetLengthsErrorCodesAndFcs) {
  Header h;
  ReadResult r = ReadPro(ProFile(h, {{.data = Pattern(60)},
                                     {.original = 60, .data = Pattern(40, 2)},
                                     {.data = Pattern(60, 3), .status = 0x11},
                                     {.data = Pattern(60, 4), .status = 4},
                                     {.data = Pattern(60, 5), .status = 6},
                                     {.data = Pattern(60, 6), .status = 7},
                                     {.data = Pattern(60, 7), .status = 2}}),
                         Topo::Ethernet);
  ASSERT_EQ(r.trace.frames.size(), 7u);
  EXPECT_EQ(r.trace.frames[0].frameLength, 64);
  ASSERT_EQ(r.trace.frames[0].bytes.size(), 64u);
  EXPECT_EQ(GetLE32(r.trace.frames[0].bytes.data() + 60), FrameCrc32(Pattern(60).data(), 60));
  EXPECT_EQ(r.trace.frames[1].frameLength, 64);
  EXPECT_EQ(r.trace.frames[1].bytes, Pattern(40, 2));
  for (int i : {2, 3, 4}) EXPECT_EQ(r.trace.frames[size_t(i)].flags, Flag::CrcError) << i;
  EXPECT_EQ(r.trace.frames[5].flags, Flag::AlignmentError | Flag::CrcError);
  EXPECT_EQ(r.trace.frames[6].flags, 0);

  // Length mode: the stated length is taken as it is. A frame cut at
  // capture keeps its wire length and only the bytes its record holds; one
  // holding more than its stated length loses none of them.
  h.lengthMode = 1;
  ReadResult asStated = ReadPro(ProFile(h, {{.data = Pattern(60)},
                                            {.original = 1510, .data = Pattern(68, 2)},
                                            {.original = 50, .data = Pattern(70, 3)}}),
                                Topo::Ethernet);
  ASSERT_EQ(asStated.trace.frames.size(), 3u);
  EXPECT_FALSE(asStated.state.status.readError);
  EXPECT_EQ(asStated.trace.frames[0].frameLength, 60);
  EXPECT_EQ(asStated.trace.frames[0].bytes.size(), 60u);
  EXPECT_EQ(asStated.trace.frames[1].frameLength, 1510);
  EXPECT_EQ(asStated.trace.frames[1].bytes, Pattern(68, 2));
  EXPECT_EQ(asStated.trace.frames[2].frameLength, 70);
  ASSERT_EQ(asStated.trace.frames[2].bytes.size(), 70u);
  const Bytes third = Pattern(66, 3);  // the last four bytes hold the FCS
  EXPECT_TRUE(std::equal(third.begin(), third.end(), asStated.trace.frames[2].bytes.begin()));
}

TEST(SnifferProReader, WirelessSignalScaleLatches) {
  Header h;
  h.network = 9;
  auto rec = [](uint8_t signal) {
    return Rec{.data = Pattern(40), .media = uint32_t(6 | 22 << 8 | signal << 16)};
  };
  ReadResult scaled = ReadPro(ProFile(h, {rec(100), rec(128), rec(100), rec(64)}), Topo::Wireless);
  ASSERT_EQ(scaled.trace.frames.size(), 4u);
  const uint8_t expected[] = {100, 100, 78, 50};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(scaled.trace.frames[i].signal, expected[i]) << i;
    EXPECT_EQ(scaled.trace.frames[i].channel, 6);
    EXPECT_EQ(scaled.trace.frames[i].rate, 22);
  }
}

TEST(SnifferProReader, TimestampsInEveryUnit) {
  const int64_t noon = 12 * 3600LL * 1000000;
  Header h;
  h.startStamp = 50000000000;  // more than the time of day: earlier stamps go negative
  ReadResult micros = ReadPro(ProFile(h, {{.stamp = 50000250000, .data = Pattern(60)},
                                          {.stamp = 400, .data = Pattern(60)}}),
                              Topo::Ethernet);
  ASSERT_EQ(micros.trace.frames.size(), 2u);
  EXPECT_EQ(micros.trace.frames[0].time, noon + 250000);
  EXPECT_EQ(micros.trace.frames[1].time, 400);  // before the start: its own timestamp

  h.timeUnit = 2;
  h.startStamp = 1193182;  // about one second of PC-timer counts
  ReadResult ticks = ReadPro(ProFile(h, {{.stamp = 1193182 * 3, .data = Pattern(60)}}),
                             Topo::Ethernet);
  ASSERT_EQ(ticks.trace.frames.size(), 1u);
  EXPECT_NEAR(double(ticks.trace.frames[0].time), double(noon + 2000000), 1.0);

  Header g;
  g.lineSpeed = SnifferPro::kGigabit;
  ReadResult gigabit = ReadPro(ProFile(g, {{.stamp = 31250000, .data = Pattern(60)}}),
                               Topo::Ethernet,
                               [](ConversionState& s) { s.lineSpeed = SnifferPro::kGigabit; });
  ASSERT_EQ(gigabit.trace.frames.size(), 1u);
  EXPECT_EQ(gigabit.trace.frames[0].time, noon + 1000000);  // 32 ns units
}

TEST(SnifferProReader, OwnTimeZoneFromVersion002001) {
  ScopedTimeZone utc("UTC0");
  struct Case {
    const char* version;
    int16_t zone;
    int32_t bias;
  };
  for (const Case& c : {Case{"002.001", 5, 5 * 3600}, Case{"002.000", 5, 0},
                        Case{"002.001", 0, 0}, Case{"002.001", -2, -2 * 3600}}) {
    Header h;
    h.version = c.version;
    h.timeZone = c.zone;
    ReadResult r = ReadPro(ProFile(h, {{.stamp = 0, .data = Pattern(60)}}), Topo::Ethernet);
    ASSERT_EQ(r.trace.frames.size(), 1u);
    EXPECT_EQ(r.state.time.timeZoneBias, c.bias) << c.version << " " << c.zone;
    // The stored start time is UTC whenever the file names its zone.
    EXPECT_EQ(AbsoluteMicros(r.state, r.trace.frames[0].time), int64_t(kStart) * 1000000);
  }
}

TEST(SnifferProReader, WrappedCaptureContinuesAtTheDataStart) {
  // Newest records C, D at 128; oldest A, B from the first-record offset.
  const Bytes newer = Concat({RecordBytes({.stamp = 30, .data = Pattern(60, 3)}),
                              RecordBytes({.stamp = 40, .data = Pattern(60, 4)})});
  const Bytes older = Concat({RecordBytes({.stamp = 10, .data = Pattern(60, 1)}),
                              RecordBytes({.stamp = 20, .data = Pattern(60, 2)})});
  for (uint32_t count : {4u, 0u}) {
    Header h;
    h.count = count;
    h.firstRecord = uint32_t(128 + newer.size());
    h.endOffset = uint32_t(128 + newer.size() + older.size());
    Bytes file = Concat({HeaderBytes(h), newer, older, Bytes(100, 0xEE)});  // data area ends early
    ReadResult r = ReadPro(file, Topo::Ethernet);
    ASSERT_EQ(r.trace.frames.size(), 4u) << count;
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(r.trace.frames[i].time, 12 * 3600LL * 1000000 + int64_t(10 * (i + 1)));
  }
}

TEST(SnifferProReader, SerialMediaStatusAndCrc16) {
  Header h;
  h.network = 3;
  h.protocol = 6;
  const Bytes file = ProFile(h, {{.data = Pattern(30), .media = 0x1818},
                                 {.data = Pattern(30, 2), .status = 1, .media = 0x0109},
                                 {.data = Pattern(30, 3), .status = 2},
                                 {.original = 300, .data = Pattern(30, 4)}});
  ReadResult r = ReadPro(file, Topo::Wan, [](ConversionState& s) { s.wanProtocol = Wan::Isdn; });
  ASSERT_EQ(r.trace.frames.size(), 4u);
  EXPECT_EQ(r.state.wanProtocol, Wan::Ppp);  // media 0x0108 named the link
  EXPECT_EQ(r.trace.frames[0].flags, Flag::Direction1);
  ASSERT_EQ(r.trace.frames[0].bytes.size(), 32u);
  EXPECT_EQ(GetLE16(r.trace.frames[0].bytes.data() + 30), FrameCrc16(Pattern(30).data(), 30));
  EXPECT_EQ(r.trace.frames[1].flags, Flag::Direction2 | Flag::CrcError);
  EXPECT_EQ(GetLE16(r.trace.frames[1].bytes.data() + 30), 0);
  EXPECT_EQ(r.trace.frames[2].flags, Flag::Direction1 | Flag::SnifferProStatus2);
  EXPECT_EQ(r.trace.frames[2].bytes, Pattern(30, 3));
  EXPECT_EQ(r.trace.frames[3].frameLength, 302);
  EXPECT_EQ(r.trace.frames[3].bytes, Pattern(30, 4));
  // An ISDN-typed file whose first frame starts with 0xFF is PPP: a row of
  // tests/identify_test.cpp.
}

TEST(SnifferProTopology, NetworkProtocolAndSpeed) {
  struct Case {
    uint32_t network;
    uint16_t protocol;
    uint32_t speed;
    Topology topology;
    uint32_t wan;
    uint32_t fileSpeed;
    bool probe;
  };
  const Case cases[] = {
      {0, 0, 100000000, Topo::Ethernet, Wan::NotKnown, 100000000, false},
      {1, 0, 16, Topo::TokenRing, Wan::NotKnown, 16000000, false},
      {2, 0, 24, Topo::Fddi, Wan::NotKnown, 24, false},  // a multiple of 12 stays
      {9, 0, 2000000000, Topo::Wireless, Wan::NotKnown, 10000000, false},
      {3, 4, 64000, Topo::Wan, Wan::FrameRelay, 64000, false},
      {3, 6, 0, Topo::Wan, Wan::Isdn, 0, true},
      {3, 0, 0, Topo::Wan, Wan::Ppp, 0, false},
      {0, 0, 5000, Topo::Ethernet, Wan::NotKnown, 10000000, false},  // 5,000 Mbit/s is none
      {5, 0, 0, Topo::Unknown, Wan::NotKnown, 0, false},
  };
  for (const Case& c : cases) {
    Header h;
    h.network = c.network;
    h.protocol = c.protocol;
    h.lineSpeed = c.speed;
    const Bytes b = HeaderBytes(h);
    SnifferTopologyInfo info = SnifferProTopology(b.data(), b.size());
    EXPECT_EQ(info.topology, c.topology) << c.network;
    EXPECT_EQ(info.wanProtocol, c.wan) << c.network;
    EXPECT_EQ(info.fileLineSpeed, c.fileSpeed) << c.speed;
    EXPECT_EQ(info.probeFirstFrame, c.probe);
    // A header cut short tells nothing.
    SnifferTopologyInfo cut = SnifferProTopology(b.data(), b.size() - 1);
    EXPECT_EQ(cut.topology, Topo::Unknown);
    EXPECT_EQ(cut.fileLineSpeed, 0u);
  }
}

// ---------------------------------------------------------------- writer

TEST(SnifferProWriter, HeaderAndRecordFields) {
  TempDir dir;
  Trace serial = MakeTrace(Topo::Wan, 3);
  serial.wanProtocol = Wan::Isdn;
  serial.frames[1].flags = Flag::Direction2 | Flag::CrcError;
  WriteTrace(serial, Analyzer::SnifferPro, dir.path("w.cap"));
  const Bytes f = ReadFileBytes(dir.path("w.cap"));
  ASSERT_GT(f.size(), 128u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 12), std::string("XCP\0" "002.001\0", 12));
  const size_t second = 128 + 40 + size_t(serial.frames[0].frameLength - 2);
  // The file size also at 28, where other readers look.
  ExpectFields(f, {{16, 4, 3}, {20, 4, f.size()}, {24, 4, 128}, {28, 4, f.size()}, {44, 4, 3},
                   {84, 2, 6}, {second + 8, 2, uint64_t(serial.frames[1].frameLength - 2)},
                   {second + 20, 4, 0x800001}, {second + 24, 4, 0x1819}});
}

TEST(SnifferProWriter, RoundTripsPlainGzipWirelessSerialAndGigabit) {
  TempDir dir;
  Trace ethernet = MakeTrace(Topo::Ethernet, 40, 9 * 3600LL * 1000000 + 17, 250001);
  WriteTrace(ethernet, Analyzer::SnifferPro, dir.path("e.cap"));
  ReadResult back = ReadTrace(dir.path("e.cap"));
  EXPECT_EQ(back.analyzer, Analyzer::SnifferPro);
  ExpectSameFrames(ethernet, back.trace);

  WriteGzipFile(dir.path("e.caz"), ReadFileBytes(dir.path("e.cap")));
  ReadResult gz = ReadTraceAs(dir.path("e.caz"), Analyzer::SnifferPro, Topo::Ethernet,
                              [](ConversionState& s) { s.sourceCompressed = true; });
  ExpectSameFrames(ethernet, gz.trace);

  WriteTrace(ethernet, Analyzer::SnifferPro, dir.path("s.cap"), [](ConversionState& s) {
    s.options.sliceFrames = true;
    s.options.sliceLength = 90;
  });
  Trace sliced = ethernet;
  for (Frame& f : sliced.frames)
    if (f.bytes.size() > 90) f.bytes.resize(90);
  ExpectSameFrames(sliced, ReadTraceAs(dir.path("s.cap"), Analyzer::SnifferPro, Topo::Ethernet).trace);

  Trace wireless = MakeTrace(Topo::Wireless, 10);
  for (Frame& f : wireless.frames) {
    f.rate = 108, f.channel = 11, f.signal = 100;
    std::fill(f.bytes.end() - 4, f.bytes.end(), 0);  // the FCS slot comes back empty
  }
  WriteTrace(wireless, Analyzer::SnifferPro, dir.path("w.cap"));
  ExpectSameFrames(wireless,
                   ReadTraceAs(dir.path("w.cap"), Analyzer::SnifferPro, Topo::Wireless).trace,
                   {.compareWireless = true});

  Trace serial = MakeTrace(Topo::Wan, 10);
  serial.wanProtocol = Wan::FrameRelay;
  for (size_t i = 0; i < serial.frames.size(); ++i) {
    Frame& f = serial.frames[i];
    f.flags = i % 3 ? Flag::Direction1 : Flag::Direction2;
    PutLE16(f.bytes.data() + f.bytes.size() - 2, FrameCrc16(f.bytes.data(), f.frameLength - 2));
  }
  WriteTrace(serial, Analyzer::SnifferPro, dir.path("f.cap"));
  ExpectSameFrames(serial, ReadTraceAs(dir.path("f.cap"), Analyzer::SnifferPro, Topo::Wan,
                                       [](ConversionState& s) { s.wanProtocol = Wan::FrameRelay; })
                               .trace);

  // In a zone with daylight saving: the file names the zone, the times stay.
  {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    Trace summer = ethernet;
    summer.traceDate = EncodeDate(2024, 7, 1);
    WriteTrace(summer, Analyzer::SnifferPro, dir.path("z.cap"));
    EXPECT_EQ(int16_t(GetLE16(ReadFileBytes(dir.path("z.cap")).data() + 126)), -1);
    ReadResult zoned = ReadTrace(dir.path("z.cap"));
    EXPECT_EQ(std::floor(zoned.state.time.traceDate), summer.traceDate);
    EXPECT_EQ(zoned.state.time.timeZoneBias, -7200);
    ExpectSameFrames(summer, zoned.trace);
  }

  // Gigabit lines count 32 ns units; times survive to the microsecond.
  auto gigabit = [](ConversionState& s) { s.lineSpeed = SnifferPro::kGigabit; };
  WriteTrace(ethernet, Analyzer::SnifferPro, dir.path("g.cap"), gigabit);
  ExpectSameFrames(ethernet,
                   ReadTraceAs(dir.path("g.cap"), Analyzer::SnifferPro, Topo::Ethernet, gigabit).trace);
}

// ---------------------------------------------------------------- tshark

TEST(SnifferProInterop, EditcapFilesReadWithTheFramesOfTheSource) {
  if (!HaveTool("editcap")) GTEST_SKIP() << "no editcap";
  // editcap leaves the zone field 0; such files hold local time here and UTC
  // for tshark, so the two agree only where local time is UTC.
  ScopedTimeZone utc("UTC0");
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 25, 12 * 3600LL * 1000000 + 123457, 333331);
  trace.frames[4].bytes.resize(200);  // a sliced frame
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("a.pcap"));
  ReadResult pcap = ReadTrace(dir.path("a.pcap"));

  for (const char* variant : {"ngwsniffer_1_1", "ngwsniffer_2_0"}) {
    const std::string cap = dir.path(std::string(variant) + ".cap");
    ASSERT_EQ(RunCommand(std::string("editcap -F ") + variant + " '" + dir.path("a.pcap") + "' '" +
                         cap + "'").status, 0);
    WriteGzipFile(dir.path(std::string(variant) + ".caz"), ReadFileBytes(cap));
    for (const std::string& path : {cap, dir.path(std::string(variant) + ".caz")}) {
      ReadResult r = ReadTrace(path);
      ASSERT_EQ(r.analyzer, Analyzer::SnifferPro) << path;
      ASSERT_EQ(r.trace.frames.size(), pcap.trace.frames.size()) << path;
      for (size_t i = 0; i < pcap.trace.frames.size(); ++i) {
        EXPECT_EQ(AbsoluteMicros(r.state, r.trace.frames[i].time),
                  AbsoluteMicros(pcap.state, pcap.trace.frames[i].time)) << path << " " << i;
        EXPECT_EQ(r.trace.frames[i].frameLength, pcap.trace.frames[i].frameLength);
        EXPECT_EQ(r.trace.frames[i].bytes, pcap.trace.frames[i].bytes);
      }
    }
  }

  // tshark reading our files is a row of tests/format_tables_test.cpp.
}

}  // namespace
}  // namespace morph
