// Tagged packet files: sections and records built byte by byte, hostile
// files, the writer's header and records, round trips plain and compressed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "engine/conversion.h"
#include "engine/identify.h"
#include "engine/timebase.h"
#include "formats/packet_file.h"
#include "formats/tagged_packet_file.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using namespace std::chrono;

constexpr int64_t kSecond = 1000000;

void Section(Bytes& b, const std::string& tag, const std::string& contents, uint32_t mark = 512) {
  b.text(tag).le32(uint32_t(contents.size())).le32(mark).text(contents);
}

std::string VersionXml(const std::string& app = "5.4.0.1") {
  return "<VersionInfo><FileVersion>9</FileVersion><AppVersion>" + app +
         "</AppVersion><ProdVersion>1.0.0.0</ProdVersion></VersionInfo>\r\n";
}

std::string SessionXml(const std::string& count, const std::string& media = "0",
                       const std::string& subType = "0", const std::string& speed = "100000000") {
  return "<Session><RawTime> </RawTime><Time> </Time><MediaType>" + media +
         "</MediaType><MediaSubType>" + subType + "</MediaSubType><TimeZoneBias>0</TimeZoneBias>" +
         "<LinkSpeed>" + speed + "</LinkSpeed><PacketCount>" + count +
         "</PacketCount></Session>\r\n";
}

Bytes Header(const std::string& count, const std::string& media = "0",
             const std::string& subType = "0") {
  Bytes b;
  Section(b, "\177ver", VersionXml());
  Section(b, "sess", SessionXml(count, media, subType));
  Section(b, "pkts", "", 0);
  return b;
}

using Tags = std::vector<std::pair<uint16_t, uint32_t>>;

void Record(Bytes& b, const Tags& tags, uint32_t slice, const std::vector<uint8_t>& stored) {
  for (auto [tag, value] : tags) b.le16(tag).le32(value);
  b.le16(0xFFFF).le32(slice).data(stored);
}

// Nanoseconds since 1601-01-01 UTC of a UTC date and time of day.
uint64_t Nanos1601(year_month_day date, int64_t microsOfDay) {
  const int64_t days = (sys_days(date) - sys_days(1601y / January / 1)).count();
  return uint64_t(days * 86400 * kSecond + microsOfDay) * 1000;
}

Tags TimeTags(uint64_t nanos) {
  return {{1, uint32_t(nanos)}, {2, uint32_t(nanos >> 32)}};
}

Tags Join(Tags a, const Tags& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const year_month_day kDay = 2024y / March / 15;

// ---------------------------------------------------------------- reading

TEST(TaggedRead, RecordsWithFlagsStatusDirectionAndTimes) {
  const uint64_t n0 = Nanos1601(kDay, 10 * 3600 * kSecond + 17);
  Bytes b = Header("3");
  Record(b, Join({{0, 64}, {3, 0x02}, {12, 1}}, TimeTags(n0)), 0, Pattern(64, 1, 11));
  Record(b, Join({{0, 1000}, {3, 0x00040004}, {12, 2}}, TimeTags(n0 + 2500000)), 77,
         Pattern(77, 2, 11));
  Record(b, Join({{0, 65}, {3, 0}, {12, 7}}, TimeTags(n0 + 3000999)), 0, Pattern(65, 3, 11));
  ReadResult r = ReadTraceFromAs(b.v, "a.kvc", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  // No padding between records; nanoseconds are floored to microseconds.
  const int64_t start = 10 * 3600 * kSecond + 17;
  ExpectFrames({FrameOf(start, 64, Pattern(64, 1, 11), Flag::CrcError | Flag::Direction1),
                FrameOf(start + 2500, 1000, Pattern(77, 2, 11),
                        Flag::AlignmentError | Flag::CrcError | Flag::PacketFileStatus |
                            Flag::Direction2),
                FrameOf(start + 3000, 65, Pattern(65, 3, 11))},
               r.trace);
  EXPECT_EQ(YearMonthDay(r.state.time.traceDate), 20240315);
}

TEST(TaggedRead, UnrepeatedTagsKeepThePreviousRecordsValues) {
  const uint64_t n0 = Nanos1601(kDay, 5 * kSecond);
  Bytes b = Header("3");
  Record(b, Join({{0, 80}, {3, 0x02}, {12, 1}, {11, 35}}, TimeTags(n0)), 0, Pattern(80, 1, 11));
  // Only the low half of the time changes; length and flags are not repeated.
  Record(b, {{1, uint32_t(n0 + 1000000)}}, 0, Pattern(80, 2, 11));
  Record(b, {{0, 20}, {3, 0}}, 0, Pattern(20, 3, 11));
  ReadResult r = ReadTraceFromAs(b.v, "a.kvc", Analyzer::Farrowe, Topo::TSeries);
  // The direction is not carried.
  const int64_t start = 5 * kSecond;
  ExpectFrames({FrameOf(start, 80, Pattern(80, 1, 11), Flag::CrcError | Flag::Direction1),
                FrameOf(start + 1000, 80, Pattern(80, 2, 11), Flag::CrcError),
                FrameOf(start + 1000, 20, Pattern(20, 3, 11))},
               r.trace);
  EXPECT_EQ(r.trace.wanProtocol, Wan::FrameRelay);
}

TEST(TaggedRead, OnlyTheLowSevenBitsOfATagCountAndUnknownTagsAreSkipped) {
  const uint64_t n0 = Nanos1601(kDay, kSecond);
  Bytes b = Header("1", "9", "3");
  Record(b,
         Join({{0x0080, 40}, {0x0083, 0x04}, {0x000D, 0xFFFFFFFF}, {0x007E, 1}, {0x8004, 6},
               {0x0005, 108}, {0x0006, 71}, {0x0007, 9}, {0x000A, 4}},
              TimeTags(n0)),
         0, Pattern(40, 9, 11));
  ReadResult r = ReadTraceFromAs(b.v, "a.kvc", Analyzer::Skavelin, Topo::Wireless);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_EQ(r.trace.frames.size(), 1u);
  const Frame& f = r.trace.frames[0];
  EXPECT_EQ(f.frameLength, 40);
  EXPECT_EQ(f.bytes, Pattern(40, 9, 11));
  EXPECT_EQ(f.flags, Flag::AlignmentError);
  EXPECT_EQ(f.channel, 6);
  EXPECT_EQ(f.rate, 108);
  EXPECT_EQ(f.signal, 71);
}

TEST(TaggedRead, SectionsOutOfOrderAndExtraSections) {
  const uint64_t n0 = Nanos1601(kDay, 7 * kSecond);
  Bytes records;
  Record(records, Join({{0, 64}}, TimeTags(n0)), 0, Pattern(64, 1, 11));
  Record(records, Join({{0, 66}}, TimeTags(n0 + 1000)), 0, Pattern(66, 2, 11));

  // Version, packets (with the records inside its stated length), session.
  Bytes b;
  Section(b, "\177ver", VersionXml());
  b.text("pkts").le32(uint32_t(records.v.size())).le32(0).data(records.v);
  Section(b, "sess", SessionXml("2"));
  ReadResult r = ReadTraceFromAs(b.v, "a.kvc", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.trace.frames[1].bytes, Pattern(66, 2, 11));

  // The same with no packet count: the packets section's length ends the records.
  b = Bytes();
  Section(b, "\177ver", VersionXml());
  b.text("pkts").le32(uint32_t(records.v.size())).le32(0).data(records.v);
  Section(b, "sess", SessionXml("x"));
  r = ReadTraceFromAs(b.v, "b.kvc", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.frames.size(), 2u);

  // Unknown sections before the session and before the packets are passed over;
  // the session tag is found in any letter case.
  b = Bytes();
  Section(b, "\177ver", VersionXml());
  Section(b, "note", "<Comment>hello</Comment>");
  Section(b, "SeSs", SessionXml("2"));
  Section(b, "PKTS", "abc");  // not exactly "pkts": skipped
  Section(b, "pkts", "", 0);
  b.data(records.v);
  r = ReadTraceFromAs(b.v, "c.kvc", Analyzer::Ostrawind, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.trace.frames.size(), 2u);
}

TEST(TaggedRead, BrokenHeadersEndWithReadError) {
  auto expectRefused = [&](const Bytes& b, const char* what) {
    ReadResult r = ReadTraceFromAs(b.v, "x.kvc", Analyzer::Farrowe, Topo::TSeries);
    EXPECT_TRUE(r.trace.frames.empty()) << what;
    EXPECT_TRUE(HasReadErrorMessage(r)) << what;
  };
  Bytes records;
  Record(records, Join({{0, 64}}, TimeTags(Nanos1601(kDay, 0))), 0, Pattern(64, 1, 11));

  for (const char* app : {"", "5.4.0", "5.4.0.256", "5.4.0.1.2", "5.x.0.1", "5..0.1"}) {
    Bytes b;
    Section(b, "\177ver", VersionXml(app));
    Section(b, "sess", SessionXml("1"));
    Section(b, "pkts", "", 0);
    b.data(records.v);
    expectRefused(b, app);
  }
  Bytes noAppVersion;
  Section(noAppVersion, "\177ver", "<VersionInfo><FileVersion>9</FileVersion></VersionInfo>");
  Section(noAppVersion, "sess", SessionXml("1"));
  Section(noAppVersion, "pkts", "", 0);
  noAppVersion.data(records.v);
  expectRefused(noAppVersion, "no AppVersion");

  Bytes noSession;
  Section(noSession, "\177ver", VersionXml());
  Section(noSession, "pkts", "", 0);
  noSession.data(records.v);
  expectRefused(noSession, "no session");

  Bytes negative;
  Section(negative, "\177ver", VersionXml());
  negative.text("sess").le32(0xFFFFFFF0).le32(512).text(SessionXml("1"));
  expectRefused(negative, "negative length");

  Bytes huge;
  Section(huge, "\177ver", VersionXml());
  huge.text("sess").le32(0x7FFFFFFF).le32(512).text(SessionXml("1"));
  expectRefused(huge, "huge length");
}

// A file that states its packet count fails every cut, the frames before
// the cut kept; one that states none ends cleanly at a record boundary.
TEST(TaggedRead, TruncatedAnywhereEndsWithReadErrorOrCleanly) {
  const uint64_t n0 = Nanos1601(kDay, 0);
  for (const char* count : {"3", "0"}) {
    Bytes b = Header(count);
    const size_t header = b.size();
    Record(b, Join({{0, 64}}, TimeTags(n0)), 0, Pattern(64, 1, 11));
    const size_t first = b.size();
    Record(b, Join({{0, 90}, {3, 2}}, TimeTags(n0 + 5000)), 31, Pattern(31, 2, 11));
    const size_t second = b.size();
    Record(b, {{0, 64}}, 0, Pattern(64, 3, 11));
    const bool stated = count[0] != '0';
    ExpectEveryCut(b.v, {first, second, b.size()},
                   stated ? std::vector<size_t>{} : std::vector<size_t>{header, first, second},
                   [](const std::vector<uint8_t>& part) {
                     return ReadTraceFromAs(part, "t.kvc", Analyzer::Ostrawind, Topo::Ethernet);
                   });
  }
}

TEST(TaggedRead, LinkProtocolCodes) {
  TempDir dir;
  struct Expect {
    uint32_t code;
    uint8_t firstByte;
    uint32_t protocol;
  };
  for (Expect e : {Expect{16, 0xFF, Wan::Ppp}, Expect{16, 0x0F, Wan::Hdlc},
                   Expect{35, 0, Wan::FrameRelay}, Expect{37, 0, Wan::X25},
                   Expect{49, 0, Wan::Isdn}, Expect{99, 0, Wan::NotKnown}}) {
    Bytes b = Header("1", "12", "0");
    std::vector<uint8_t> frame = Pattern(20, 4, 11);
    frame[0] = e.firstByte;
    Record(b, Join({{0, 20}, {11, e.code}}, TimeTags(Nanos1601(kDay, 0))), 0, frame);
    WriteFileBytes(dir.path("w.kvc"), b.v);
    ReadResult r = ReadTraceAs(dir.path("w.kvc"), Analyzer::Farrowe, Topo::TSeries,
                               [](ConversionState& s) { s.wanProtocol = Wan::NotKnown; });
    ASSERT_EQ(r.trace.frames.size(), 1u);
    EXPECT_EQ(r.trace.wanProtocol, e.protocol) << "code " << e.code;
  }
}

TEST(TaggedIdentify, WanFileTakesItsProtocolFromTheFirstFrame) {
  Bytes b = Header("2", "12", "0");
  std::vector<uint8_t> ppp = {0xFF, 0x03, 0x00, 0x21, 0x45, 0x00};
  Record(b, Join({{0, 6}, {11, 16}}, TimeTags(Nanos1601(kDay, 0))), 0, ppp);
  Record(b, {{0, 6}}, 0, ppp);
  ReadResult r = ReadTraceFrom(b.v, "w.kvc");
  EXPECT_EQ(r.analyzer, Analyzer::Farrowe);
  EXPECT_TRUE(IsWanTopology(r.topology));
  EXPECT_EQ(r.state.wanProtocol, Wan::Ppp);
  EXPECT_EQ(r.trace.frames.size(), 2u);
}

TEST(TaggedRead, TimesFollowTheMachineZoneAtTheTraceDate) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  struct Case {
    year_month_day utcDay;
    int64_t utcMicros;
    int localDay;
    int64_t localMicros;
  };
  for (Case c : {Case{2024y / July / 1, (22 * 3600 + 30 * 60) * kSecond + 5, 20240702,
                      30 * 60 * kSecond + 5},
                 Case{2024y / January / 10, (23 * 3600 + 30 * 60) * kSecond, 20240111,
                      30 * 60 * kSecond}}) {
    const uint64_t n0 = Nanos1601(c.utcDay, c.utcMicros);
    Bytes b = Header("2");
    Record(b, Join({{0, 64}}, TimeTags(n0)), 0, Pattern(64, 1, 11));
    Record(b, TimeTags(n0 + uint64_t(86400) * 1000000000), 0, Pattern(64, 2, 11));
    ReadResult r = ReadTraceFromAs(b.v, "z.kvc", Analyzer::Ostrawind, Topo::Ethernet);
    ASSERT_EQ(r.trace.frames.size(), 2u);
    EXPECT_EQ(YearMonthDay(r.state.time.traceDate), c.localDay);
    EXPECT_EQ(r.trace.frames[0].time, c.localMicros);
    EXPECT_EQ(r.trace.frames[1].time, c.localMicros + 86400 * kSecond);
  }
}

// ---------------------------------------------------------------- summary

TEST(TaggedSummary, SessionValuesAndApplicationVersion) {
  struct Case {
    const char* count;
    uint32_t expected;
  };
  for (Case c : {Case{"      42", 42}, Case{"x", 0}, Case{"-5", 0}, Case{"", 0}, Case{"4x2", 0},
                 Case{"12345678", 12345678}, Case{"99999999999", 0}}) {
    Bytes b = Header(c.count, "12", "5");
    auto in = OpenMemorySource(b.v);
    PacketFileSummary s;
    ASSERT_TRUE(ReadPacketFileSummary(*in, s)) << c.count;
    EXPECT_EQ(s.packetCount, c.expected) << "'" << c.count << "'";
    EXPECT_TRUE(s.tagged);
    EXPECT_EQ(s.mediaType, 12);
    EXPECT_EQ(s.physicalMedium, 5);
    EXPECT_EQ(s.linkSpeed, 100000000u);
    EXPECT_EQ(s.appMajorVersion, 5);
  }
  Bytes b;
  Section(b, "\177ver", VersionXml("0.9.3.200"));
  b.text("sess").le32(25).le32(512).text("<Session></Session>\r\n    ");
  Section(b, "pkts", "", 0);
  auto in = OpenMemorySource(b.v);
  PacketFileSummary s;
  ASSERT_TRUE(ReadPacketFileSummary(*in, s));
  EXPECT_EQ(s.appMajorVersion, 0);
  EXPECT_EQ(s.mediaType, 0);  // a missing element gives 0
  EXPECT_EQ(s.physicalMedium, 0);
  EXPECT_EQ(s.packetCount, 0u);

  Bytes noVersion;
  Section(noVersion, "\177ver", "<VersionInfo></VersionInfo>");
  Section(noVersion, "sess", SessionXml("1"));
  Section(noVersion, "pkts", "", 0);
  in = OpenMemorySource(noVersion.v);
  ASSERT_TRUE(ReadPacketFileSummary(*in, s));
  EXPECT_EQ(s.appMajorVersion, -1);
}

// ---------------------------------------------------------------- writing

// Runs the tagged header step on a memory target.
std::string TaggedHeaderText(Topology topology, uint32_t wan, int32_t count,
                             Conversion* reuse = nullptr) {
  static SilentHost host;
  Conversion local(host);
  Conversion& c = reuse ? *reuse : local;
  c.state.traceTopology = topology;
  c.state.wanProtocol = wan;
  c.state.lineSpeed = 1544000;
  if (!c.target) c.target = std::make_unique<MemoryTarget>();
  WriteTaggedFileHeader(c, count);
  const auto& bytes = static_cast<MemoryTarget&>(*c.target).bytes();
  return std::string(bytes.begin(), bytes.end());
}

std::string Element(const std::string& xml, const std::string& name) {
  const size_t at = xml.find("<" + name + ">");
  if (at == std::string::npos) return "(missing)";
  const size_t from = at + name.size() + 2;
  return xml.substr(from, xml.find('<', from) - from);
}

TEST(TaggedWrite, HeaderSectionsAndFixedWidthPacketCount) {
  SilentHost host;
  Conversion c(host);
  const std::string first = TaggedHeaderText(Topo::Ethernet, Wan::NotKnown, 5, &c);
  Bytes expected;
  Section(expected, "\177ver", VersionXml());
  ASSERT_GE(first.size(), expected.v.size());
  EXPECT_EQ(first.substr(0, expected.v.size()), std::string(expected.v.begin(), expected.v.end()));
  EXPECT_EQ(VersionXml().size(), 123u);
  const size_t sessAt = expected.v.size();
  EXPECT_EQ(first.substr(sessAt, 4), "sess");
  const std::vector<uint8_t> raw(first.begin(), first.end());
  const uint32_t sessLength = GetLE32(raw.data() + sessAt + 4);
  EXPECT_EQ(GetLE32(raw.data() + sessAt + 8), 512u);
  const std::string session = first.substr(sessAt + 12, sessLength);
  EXPECT_EQ(Element(session, "PacketCount"), "       5");
  EXPECT_EQ(session.substr(session.size() - 2), "\r\n");
  const size_t pktsAt = sessAt + 12 + sessLength;
  EXPECT_EQ(first.substr(pktsAt), std::string("pkts") + std::string(8, '\0'));

  // Rewriting with the final count keeps every length; a count too wide for
  // the field is written as 0, which means "to the end of the file".
  for (int32_t count : {12345678, 99999999, 100000000, 2147483647}) {
    const std::string again = TaggedHeaderText(Topo::Ethernet, Wan::NotKnown, count, &c);
    EXPECT_EQ(again.size(), first.size()) << count;
    const std::string text = again.substr(sessAt + 12, sessLength);
    const std::string expect = count <= 99999999 ? std::to_string(count) : "0";
    EXPECT_EQ(Element(text, "PacketCount"), std::string(8 - expect.size(), ' ') + expect);
    EXPECT_EQ(again.substr(pktsAt, 4), "pkts");
  }
}

TEST(TaggedWrite, MediaElementsFromTopologyAndProtocol) {
  struct Case {
    Topology topology;
    uint32_t wan;
    const char* media;
    const char* subType;
  };
  for (Case c : {Case{Topo::Ethernet, Wan::NotKnown, "0", "0"},
                 Case{Topo::TokenRing, Wan::NotKnown, "1", "0"},
                 Case{Topo::Fddi, Wan::NotKnown, "2", "0"},
                 Case{Topo::Wireless, Wan::NotKnown, "9", "3"},
                 Case{Topo::TSeries, Wan::FrameRelay, "12", "5"},
                 Case{Topo::Wan, Wan::Ppp, "12", "6"}, Case{Topo::E1, Wan::Isdn, "12", "10"},
                 Case{Topo::VSeries, Wan::Lapb, "12", "0"},
                 Case{Topo::Atm, Wan::NotKnown, "", "0"}}) {
    const std::string text = TaggedHeaderText(c.topology, c.wan, 1);
    EXPECT_EQ(Element(text, "MediaType"), c.media) << int(c.topology);
    EXPECT_EQ(Element(text, "MediaSubType"), c.subType) << int(c.topology);
    EXPECT_EQ(Element(text, "LinkSpeed"), "1544000");
  }
}

TEST(TaggedWrite, RecordTagsByteExact) {
  TempDir dir;
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  Trace t;
  t.topology = Topo::TSeries;
  t.wanProtocol = Wan::X25;
  t.traceDate = EncodeDate(2024, 7, 1);
  Frame f = MakeFrame((14 * 3600 + 5) * kSecond + 321, 45, Topo::TSeries, 3);
  f.flags = Flag::CrcError | Flag::Direction1;
  t.frames.push_back(f);
  WriteTrace(t, Analyzer::Farrowe, dir.path("a.kvc"));
  const std::vector<uint8_t> file = ReadFileBytes(dir.path("a.kvc"));
  const std::string text(file.begin(), file.end());
  const size_t records = text.find("pkts") + 12;
  ASSERT_LT(records, file.size());
  EXPECT_EQ(Element(text, "TimeZoneBias"), "-120");
  EXPECT_EQ(Element(text, "PacketCount"), "       1");

  // 14:00:05 CEST is 12:00:05 UTC.
  const uint64_t nanos = Nanos1601(2024y / July / 1, (12 * 3600 + 5) * kSecond + 321);
  Bytes expected;
  Record(expected,
         {{0, 45}, {1, uint32_t(nanos)}, {2, uint32_t(nanos >> 32)}, {3, 0x02}, {10, 4},
          {11, 37}, {12, 1}},
         45, f.bytes);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + long(records), file.end()), expected.v);
}

// ---------------------------------------------------------------- round trips

struct Case {
  Topology topology;
  uint32_t wan;
  AnalyzerType identifiedAs;
};

class TaggedRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(TaggedRoundTrip, PlainAndCompressedKeepEveryFrameFlagAndTime) {
  const Case c = GetParam();
  TempDir dir;
  Trace t = MakeTrace(c.topology, 40, (23 * 3600 + 59 * 60) * kSecond, 1700001);
  t.wanProtocol = c.wan;
  t.frames[3].flags = Flag::CrcError;
  t.frames[5].flags = Flag::Direction1;
  t.frames[7].bytes.resize(33);
  for (size_t i = 0; i < t.frames.size(); ++i) {
    t.frames[i].rate = uint8_t(2 + i), t.frames[i].channel = uint8_t(i % 14 + 1);
    t.frames[i].signal = uint8_t(i * 2), t.frames[i].noise = 0;
    if (c.topology == Topo::TSeries) t.frames[i].bytes[0] = 0x0F;  // HDLC, not PPP
  }
  WriteTrace(t, Analyzer::Farrowe, dir.path("a.kvc"));

  // Every record carries a direction: frames without one read back as the second.
  Trace expected = t;
  for (Frame& f : expected.frames) {
    if (!(f.flags & Flag::Direction1)) f.flags |= Flag::Direction2;
    if (c.topology == Topo::Ethernet && (f.flags & Flag::AlignmentError)) f.flags |= Flag::CrcError;
  }
  Tolerance tol;
  tol.compareWireless = c.topology == Topo::Wireless;
  for (const char* name : {"a.kvc", "a.kvz"}) {
    if (std::string(name) == "a.kvz")
      WriteGzipFile(dir.path(name), ReadFileBytes(dir.path("a.kvc")));
    ReadResult r = ReadTrace(dir.path(name));
    EXPECT_EQ(r.analyzer, c.identifiedAs) << name;
    EXPECT_EQ(r.topology, c.topology) << name;
    EXPECT_TRUE(r.messages.empty()) << name;
    if (c.wan != Wan::NotKnown) {
      EXPECT_EQ(r.state.wanProtocol, c.wan) << name;
    }
    ExpectSameFrames(expected, r.trace, tol);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, TaggedRoundTrip,
    ::testing::Values(Case{Topo::Ethernet, Wan::NotKnown, Analyzer::Ostrawind},
                      Case{Topo::Wireless, Wan::NotKnown, Analyzer::Skavelin},
                      Case{Topo::TokenRing, Wan::NotKnown, Analyzer::Ringstave},
                      Case{Topo::TSeries, Wan::FrameRelay, Analyzer::Farrowe},
                      Case{Topo::TSeries, Wan::Hdlc, Analyzer::Farrowe}));

TEST(TaggedRoundTrip, ClassicToTaggedAndBackKeepsTimesAcrossZones) {
  TempDir dir;
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  Trace t = MakeTrace(Topo::Ethernet, 20, 12 * 3600 * kSecond + 999999, 333333);
  t.traceDate = EncodeDate(2024, 11, 2);
  WriteTrace(t, Analyzer::Farrowe, dir.path("a.kvc"));
  ReadResult tagged = ReadTrace(dir.path("a.kvc"));
  ASSERT_EQ(tagged.trace.frames.size(), 20u);
  EXPECT_EQ(YearMonthDay(tagged.state.time.traceDate), 20241102);
  WriteTrace(tagged.trace, Analyzer::Ostrawind, dir.path("b.pkt"));
  ReadResult classic = ReadTrace(dir.path("b.pkt"));
  Tolerance tol;
  tol.compareFlags = false;
  ExpectSameFrames(t, classic.trace, tol);
}

TEST(TaggedOracle, TsharkReadsTheWrittenFile) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 12, 10 * 3600 * kSecond + 5, 250001);
  WriteTrace(t, Analyzer::Farrowe, dir.path("a.kvc"));
  const std::vector<TsharkFrame> got = TsharkFrames(dir.path("a.kvc"));
  ReadResult r = ReadTrace(dir.path("a.kvc"));
  ASSERT_EQ(got.size(), t.frames.size());
  ASSERT_EQ(r.trace.frames.size(), t.frames.size());
  for (size_t i = 0; i < got.size(); ++i) {
    // tshark shows tagged Ethernet frames without their 4-byte FCS.
    EXPECT_EQ(got[i].length, t.frames[i].frameLength - 4) << i;
    EXPECT_NEAR(got[i].epoch, double(AbsoluteMicros(r.state, r.trace.frames[i].time)) / 1e6, 2e-6)
        << i;
  }
}

}  // namespace
}  // namespace morph
