// libpcap: byte-exact files of every byte order and record variant, the
// record-layout probe, lengths and FCS, times across midnight and daylight
// changes, damaged files, and Debian's tshark as a second reader.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "engine/identify.h"
#include "engine/job.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/netmon.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

// Builds a libpcap file field by field, in the builder's byte order.
struct PcapFile : Bytes {
  enum { Standard, Modified, Nokia, SuSE } variant = Standard;
  uint32_t accuracy = 0;
  uint32_t snapLength = 65535;
  uint32_t linkType = 1;

  void header(uint32_t magic) {
    u32(magic).u16(2).u16(4).u32(0).u32(accuracy).u32(snapLength).u32(linkType);
  }
  void record(uint32_t seconds, uint32_t fraction, const std::vector<uint8_t>& data,
              uint32_t original) {
    u32(seconds).u32(fraction).u32(uint32_t(data.size())).u32(original);
    if (variant == Modified) v.insert(v.end(), 8, 0xEE);
    if (variant == Nokia) v.insert(v.end(), 4, 0xEE);
    if (variant == SuSE) v.insert(v.end(), 12, 0xEE);
    this->data(data);
  }
};

std::vector<uint8_t> Payload(size_t n, uint8_t seed) { return Pattern(n, seed, 3); }

uint32_t MagicFor(const PcapFile& f) {
  // SuSE 6.3's longer records share the modified magic.
  return f.variant == PcapFile::Modified || f.variant == PcapFile::SuSE ? 0xA1B2CD34 : 0xA1B2C3D4;
}

struct VariantCase {
  const char* name;
  bool big;
  int variant;
  bool expectModified, expectNokia;
};

class PcapVariants : public ::testing::TestWithParam<VariantCase> {};

TEST_P(PcapVariants, EveryFrameComesBackWithLengthsBytesAndTimes) {
  ScopedTimeZone tz("UTC");
  const VariantCase& vc = GetParam();
  PcapFile f;
  f.big = vc.big;
  f.variant = decltype(f.variant)(vc.variant);
  f.header(MagicFor(f));
  const uint32_t t0 = 1700000000;  // 2023-11-14 22:13:20 UTC
  f.record(t0, 1, Payload(100, 1), 100);
  f.record(t0, 999999, Payload(1514, 2), 1514);
  f.record(t0 + 1, 0, Payload(68, 3), 1514);  // sliced capture
  f.record(t0 + 2, 5, Payload(42, 4), 42);    // short frame
  TempDir dir;
  WriteFileBytes(dir.path("v.pcap"), f.v);
  ReadResult r = ReadTrace(dir.path("v.pcap"));
  ASSERT_EQ(r.analyzer, Analyzer::Tcpdump);
  EXPECT_EQ((r.state.sourceVariant & PcapVariant::BigEndian) != 0, vc.big);
  EXPECT_EQ((r.state.sourceVariant & PcapVariant::Modified) != 0, vc.expectModified);
  EXPECT_EQ((r.state.sourceVariant & PcapVariant::Nokia) != 0, vc.expectNokia);
  EXPECT_EQ((r.state.sourceVariant & kPcapVariantSuSE) != 0, vc.variant == PcapFile::SuSE);
  // Whole frames get their FCS counted and stored, the short one after
  // zeros to 60 bytes; a sliced frame gets none.
  const int64_t t = int64_t(t0 % 86400) * 1000000;
  std::vector<uint8_t> shortFrame = Payload(42, 4);
  shortFrame.resize(60);
  ExpectFrames({FrameOf(t + 1, 104, WithFcs(Payload(100, 1))),
                FrameOf(t + 999999, 1518, WithFcs(Payload(1514, 2))),
                FrameOf(t + 1000000, 1518, Payload(68, 3)),
                FrameOf(t + 2000005, 64, WithFcs(shortFrame))},
               r.trace);
  EXPECT_TRUE(r.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ByteOrdersAndRecordHeaders, PcapVariants,
    ::testing::Values(VariantCase{"LittleStandard", false, PcapFile::Standard, false, false},
                      VariantCase{"BigStandard", true, PcapFile::Standard, false, false},
                      VariantCase{"LittleModified", false, PcapFile::Modified, true, false},
                      VariantCase{"BigModified", true, PcapFile::Modified, true, false},
                      VariantCase{"LittleNokia", false, PcapFile::Nokia, false, true},
                      VariantCase{"LittleSuSE", false, PcapFile::SuSE, false, false},
                      VariantCase{"BigSuSE", true, PcapFile::SuSE, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PcapProbe, ModifiedRecordsBehindTheStandardMagic) {
  // Little-endian files carry the standard magic even with the longer records.
  PcapFile f;
  f.variant = PcapFile::Modified;
  f.snapLength = 1600;
  f.header(0xA1B2C3D4);
  f.record(1700000000, 0, Payload(60, 1), 60);
  f.record(1700000001, 0, Payload(70, 2), 70);
  auto in = OpenMemorySource(f.v);
  ASSERT_EQ(PcapVariantFromMagic(0xA1B2C3D4), 0u);
  EXPECT_EQ(ProbePcapRecordLayout(*in), PcapProbe::Modified);
}

TEST(PcapProbe, GarbageAfterTheFirstRecordIsUnknown) {
  PcapFile f;
  f.snapLength = 100;
  f.header(0xA1B2C3D4);
  f.record(1700000000, 0, Payload(60, 1), 60);
  std::vector<uint8_t> junk(40, 0xFF);
  f.v.insert(f.v.end(), junk.begin(), junk.end());
  auto in = OpenMemorySource(f.v);
  EXPECT_EQ(ProbePcapRecordLayout(*in), PcapProbe::Unknown);
}

TEST(PcapIdentify, VersionOneIsNotLibpcap) {
  PcapFile f;
  f.header(0xA1B2C3D4);
  f.v[4] = 1;  // major version 1
  f.record(10, 0, Payload(60, 1), 60);
  TempDir dir;
  WriteFileBytes(dir.path("old.pcap"), f.v);
  ConversionState s;
  bool openFailed, tooSmall;
  EXPECT_EQ(IdentifySource(s, dir.path("old.pcap"), openFailed, tooSmall), Analyzer::Unknown);
}

TEST(PcapRead, NanosecondFractionsAndLinkTypes) {
  ScopedTimeZone tz("UTC");
  PcapFile f;
  f.accuracy = 3;
  f.linkType = 105;
  f.header(0xA1B2C3D4);
  f.record(1000, 123456789, Payload(30, 1), 30);
  TempDir dir;
  WriteFileBytes(dir.path("n.pcap"), f.v);
  ReadResult r = ReadTrace(dir.path("n.pcap"));
  ASSERT_EQ(r.topology, Topo::Wireless);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.frames[0].time, 1000LL * 1000000 + 123456);
  EXPECT_EQ(r.trace.frames[0].frameLength, 30);  // no FCS outside Ethernet
  EXPECT_EQ(r.trace.frames[0].rate, 22);
  EXPECT_EQ(r.trace.frames[0].channel, 1);
  EXPECT_EQ(r.trace.frames[0].signal, 100);
  EXPECT_EQ(r.state.lineSpeed, 1000000u);
}

TEST(PcapRead, FractionOfAFullSecondCarriesIntoTheSeconds) {
  ScopedTimeZone tz("UTC");
  PcapFile f;
  f.header(0xA1B2C3D4);
  f.record(1000, 1500000, Payload(60, 1), 60);
  TempDir dir;
  WriteFileBytes(dir.path("c.pcap"), f.v);
  ReadResult r = ReadTrace(dir.path("c.pcap"));
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.frames[0].time, 1001LL * 1000000 + 500000);
}

TEST(PcapRead, DamagedFilesEndWithAReadError) {
  TempDir dir;
  PcapFile f;
  f.header(0xA1B2C3D4);
  f.record(1000, 0, Payload(60, 1), 60);
  f.record(1001, 0, Payload(60, 2), 60);
  std::vector<uint8_t> cut(f.v.begin(), f.v.end() - 10);  // second record cut short
  WriteFileBytes(dir.path("cut.pcap"), cut);
  ReadResult r = ReadTrace(dir.path("cut.pcap"));
  EXPECT_EQ(r.trace.frames.size(), 1u);
  EXPECT_TRUE(r.state.status.readError);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.back(), "File Error: Error reading from source file.  File may be corrupt.");

  PcapFile g;
  g.header(0xA1B2C3D4);
  g.record(1000, 0, Payload(60, 1), 60);
  g.v.resize(g.v.size() + 16, 0);
  PutLE32(g.v.data() + g.v.size() - 16 + 8, 0xFFFFFFF0);  // negative captured length
  WriteFileBytes(dir.path("neg.pcap"), g.v);
  r = ReadTraceAs(dir.path("neg.pcap"), Analyzer::Tcpdump, Topo::Ethernet,
                  [](ConversionState& s) { s.sourceVariant = 0; });
  EXPECT_EQ(r.trace.frames.size(), 1u);
  EXPECT_TRUE(r.state.status.readError);
}

TEST(PcapWrite, HeaderMagicSnapLengthAndRecordForms) {
  ScopedTimeZone tz("UTC");
  TempDir dir;
  Trace t;
  t.frames.push_back(MakeFrame(1000, 64));
  t.frames.push_back(MakeFrame(2000, 1518));
  // Little-endian, Modified chosen: the modified magic (34 cd b2 a1 in the
  // file, as editcap writes it), 24-byte records.
  WriteTrace(t, Analyzer::Tcpdump, dir.path("lm.pcap"), [](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
    s.options.formatOptions.get<PcapOutputOptions>().modified = true;
  });
  auto b = ReadFileBytes(dir.path("lm.pcap"));
  ASSERT_EQ(b.size(), 24u + 24 + 60 + 24 + 1514);
  // The snap length is the largest frame without its FCS.
  ExpectFields(b, {{0, 4, 0xA1B2CD34}, {16, 4, 1514}, {24 + 8, 4, 60}});
  // Big-endian Modified: its own magic; sliced: snap length is the slice.
  WriteTrace(t, Analyzer::Tcpdump, dir.path("bm.pcap"), [](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>().bigEndian = true;
    s.options.formatOptions.get<PcapOutputOptions>().modified = true;
    s.options.sliceFrames = true;
    s.options.sliceLength = 100;
  });
  b = ReadFileBytes(dir.path("bm.pcap"));
  ExpectFields(b, {{0, 4, 0xA1B2CD34}, {4, 2, 2}, {6, 2, 4}, {16, 4, 100}, {20, 4, 1}}, true);
}

// A truncated frame keeps every byte it holds: only whole frames end in an FCS.
TEST(PcapWrite, FortyTwoBytesReadAsSixtyFourWrittenAsSixty) {
  ScopedTimeZone tz("UTC");
  TempDir dir;
  PcapFile f;
  f.header(0xA1B2C3D4);
  f.record(1000, 0, Payload(42, 1), 42);
  f.record(1000, 10, Payload(68, 2), 1514);
  WriteFileBytes(dir.path("in.pcap"), f.v);
  ReadResult r = ReadTrace(dir.path("in.pcap"));
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.trace.frames[1].frameLength, 1518);
  EXPECT_EQ(r.trace.frames[1].bytes.size(), 68u);
  WriteTrace(r.trace, Analyzer::Tcpdump, dir.path("out.pcap"), [](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
  });
  auto b = ReadFileBytes(dir.path("out.pcap"));
  // The snap length comes from the truncated frame.
  const size_t second = 24 + 16 + 60;
  ExpectFields(b, {{16, 4, 68}, {24 + 8, 4, 60}, {24 + 12, 4, 60}, {second + 8, 4, 68},
                   {second + 12, 4, 1514}});
  ExpectBytesAt(b, second + 16, Payload(68, 2));
}

// A trace that runs past local midnight keeps its true UTC times, in zones
// east and west of Greenwich and across a daylight change.
class PcapMidnight : public ::testing::TestWithParam<const char*> {};

TEST_P(PcapMidnight, TimesSurviveARoundTripExactly) {
  ScopedTimeZone tz(GetParam());
  TempDir dir;
  PcapFile f;
  f.header(0xA1B2C3D4);
  // 2024-03-30 22:00 UTC to 2024-03-31 04:00 UTC: local midnight and the
  // European daylight change lie inside.
  const uint32_t start = 1711836000;
  std::vector<std::pair<uint32_t, uint32_t>> times;
  for (uint32_t k = 0; k < 13; ++k) times.push_back({start + k * 1800, k * 76543 % 1000000});
  for (auto [sec, usec] : times) f.record(sec, usec, Payload(60, uint8_t(sec)), 60);
  WriteFileBytes(dir.path("m.pcap"), f.v);
  ReadResult r = ReadTrace(dir.path("m.pcap"));
  ASSERT_EQ(r.trace.frames.size(), times.size());
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_GT(r.trace.frames[i].time, r.trace.frames[i - 1].time) << i;
  // Written on the date the reader gave the trace.
  WriteTrace(r.trace, Analyzer::Tcpdump, dir.path("m3.pcap"), [&](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
  });
  auto b = ReadFileBytes(dir.path("m3.pcap"));
  size_t at = 24;
  for (auto [sec, usec] : times) {
    ASSERT_LE(at + 16, b.size());
    EXPECT_EQ(GetLE32(b.data() + at), sec);
    EXPECT_EQ(GetLE32(b.data() + at + 4), usec);
    at += 16 + GetLE32(b.data() + at + 8);
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, PcapMidnight,
                         ::testing::Values("UTC", "Europe/Berlin", "America/New_York",
                                           "Australia/Sydney", "Asia/Kolkata"));

// A libpcap target starts from a libpcap source's byte order and record
// layout, from the saved defaults for other sources, and the user's choice
// overrides either; nanoseconds asked for take the standard layout.
TEST(PcapOutput, TheTargetStartsFromTheSourceUnlessTheUserChose) {
  TempDir dir;
  const Trace t = MakeTrace(Topo::Ethernet, 4);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("little.pcap"), [](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
  });
  WriteTrace(t, Analyzer::Tcpdump, dir.path("bigmod.pcap"), [](ConversionState& s) {
    s.options.formatOptions.get<PcapOutputOptions>() = {.bigEndian = true, .modified = true};
  });
  WriteTrace(t, Analyzer::NetMon2, dir.path("other.cap"));
  constexpr uint32_t kStandard = 0xA1B2C3D4, kModified = 0xA1B2CD34, kNano = 0xA1B23C4D;
  struct Row {
    const char* source;
    PcapOutputChoice choice;
    uint32_t magic;
    bool big;
  };
  const Row rows[] = {
      {"little.pcap", {}, kStandard, false},
      {"bigmod.pcap", {}, kModified, true},
      {"bigmod.pcap", {.bigEndianDefault = false, .modifiedDefault = false}, kModified, true},
      {"bigmod.pcap", {.bigEndian = false}, kModified, false},
      {"bigmod.pcap", {.nanoseconds = true}, kNano, true},
      {"little.pcap", {.modified = true}, kModified, false},
      {"other.cap", {}, kStandard, true},
      {"other.cap", {.bigEndianDefault = false, .modifiedDefault = true}, kModified, false},
      {"other.cap", {.bigEndian = true, .bigEndianDefault = false}, kStandard, true},
  };
  int n = 0;
  for (const Row& row : rows) {
    JobRequest job;
    job.sourcePath = dir.path(row.source);
    job.targetPath = dir.path("out" + std::to_string(n++) + ".pcap");
    job.target = Analyzer::Tcpdump;
    job.formatOptions.get<PcapOutputChoice>() = row.choice;
    MessageRecorder host;
    ASSERT_EQ(RunConversionJob(job, DefaultCapabilities(), host).outcome, Outcome::Converted)
        << row.source;
    const std::vector<uint8_t> head = ReadFileBytes(job.targetPath);
    ASSERT_GE(head.size(), 4u);
    EXPECT_EQ(row.big ? GetBE32(head.data()) : GetLE32(head.data()), row.magic)
        << "row " << n - 1 << " from " << row.source;
  }
  // Nanoseconds in the modified layout cannot be written, whatever the target.
  JobRequest both;
  both.formatOptions.get<PcapOutputChoice>() = {.modified = true, .nanoseconds = true};
  EXPECT_EQ(OptionsProblem(both),
            "Nanosecond libpcap files have the standard record layout, not the modified one.");
  both.target = Analyzer::NetMon2;
  EXPECT_FALSE(OptionsProblem(both).empty());
  both.formatOptions.get<PcapOutputChoice>().modified = false;
  EXPECT_EQ(OptionsProblem(both), "");
}

TEST(PcapInterop, TsharkReadsWhatWeWriteWithTheSameFrames) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "tshark not installed";
  ScopedTimeZone tz("Europe/Berlin");
  TempDir dir;
  PcapFile f;
  f.header(0xA1B2C3D4);
  const uint32_t t0 = 1711839000;
  for (uint32_t k = 0; k < 20; ++k)
    f.record(t0 + k * 997, k * 50021 % 1000000, Payload(60 + k * 70, uint8_t(k)), 60 + k * 70);
  WriteFileBytes(dir.path("in.pcap"), f.v);
  for (const char* order : {"little", "big"}) {
    std::string out = dir.path(std::string("out-") + order + ".pcap");
    CommandResult c = RunCommand(std::string(MORPHALITE_BINARY) + " convert " +
                                 dir.path("in.pcap") + " --to TD --pcap-order " + order +
                                 " -o " + out + " --quiet");
    ASSERT_EQ(c.status, 0) << c.err;
    const std::string expected = TsharkFrameText(dir.path("in.pcap"));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(TsharkFrameText(out), expected) << order;
  }
}

TEST(PcapInterop, FilesEditcapWritesConvertIntact) {
  if (!HaveTool("editcap")) GTEST_SKIP() << "editcap not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 30);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("base.pcap"),
             [](ConversionState& s) {
               s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
             });
  const std::string expected = TsharkFrameText(dir.path("base.pcap"));
  for (const char* format : {"nsecpcap", "modpcap", "nokiapcap", "pcap"}) {
    std::string variant = dir.path(std::string(format) + ".pcap");
    ASSERT_EQ(RunCommand("editcap -F " + std::string(format) + " " + dir.path("base.pcap") + " " +
                         variant)
                  .status,
              0);
    std::string out = dir.path(std::string(format) + ".dmp");
    CommandResult c = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + variant +
                                 " --to TD --pcap-order little --pcap-variant standard -o " +
                                 out + " --quiet");
    ASSERT_EQ(c.status, 0) << format << ": " << c.err;
    EXPECT_EQ(TsharkFrameText(out), expected) << format;
  }
}

}  // namespace
}  // namespace morph

namespace morph {
namespace {

using namespace testkit;

// What a conversion counted, and how it ended.
auto Counts(const ConversionState& s) {
  return std::make_tuple(s.counters.framesRead, s.counters.framesWritten, s.counters.frameBytes, s.counters.frameBytesTotal,
                         s.counters.maxFrameLength, s.counters.maxTruncatedLength, s.counters.runtFrames, s.counters.oversizeFrames,
                         s.time.traceDuration, s.frame.frameTime, s.status.readError, s.status.readErrorDetail,
                         s.status.writeFailed);
}

// libpcap to libpcap copies the records that need no change as they stand,
// a batch at a time. Whatever the records, the file and every count must be
// what the frame-by-frame path makes of them: runs of whole frames longer
// than a batch, then each kind of record the copy must leave to that path,
// in both byte orders, whole and cut short at many points.
TEST(PcapWrite, RecordsCopiedAsStoredMatchTheFrameByFramePath) {
  ScopedTimeZone tz("Europe/Berlin");
  TempDir dir;
  struct Record {
    int64_t secondsStep;
    uint32_t fraction, captured, original;
  };
  std::vector<Record> records;
  for (int i = 0; i < 140; ++i)  // more than two batches of whole frames
    records.push_back({i % 3, uint32_t(i * 7919 % 1000000), uint32_t(60 + i * 37 % 1455),
                       uint32_t(60 + i * 37 % 1455)});
  const Record odd[] = {
      {0, 10, 42, 42},                   // padded to 60 bytes
      {0, 11, 68, 1514},                 // cut frame
      {0, 1500000, 100, 100},            // fraction beyond a second
      {-5, 12, 64, 64},                  // back in time
      {0, 13, 1600, 1600},               // oversize
      {0, 14, 32764, 32764},             // largest frame kept whole
      {0, 15, 32765, 32765},             // longer: the length clamp's
      {0, 16, 0, 0},                     // empty record
      {20 * 86400, 17, 70, 70},          // far, but within the span
      {0, 18, 90, 80},                   // more bytes than the wire length
      {0, 19, 61, 61},
      {10 * 86400, 20, 60, 60},          // beyond the span: the read ends here
      {0, 21, 60, 60},
  };
  for (const Record& r : odd) {
    records.push_back(r);
    for (int i = 0; i < 3; ++i) records.push_back({0, 30 + uint32_t(i), 64, 64});
  }
  for (const bool big : {false, true}) {
    PcapFile f;
    f.big = big;
    f.header(0xA1B2C3D4);
    int64_t seconds = 1700000000;
    std::vector<size_t> recordEnds;
    for (const Record& r : records) {
      seconds += r.secondsStep;
      f.record(uint32_t(seconds), r.fraction, Payload(r.captured, uint8_t(recordEnds.size())),
               r.original);
      recordEnds.push_back(f.v.size());
    }
    for (size_t cut = 0; cut <= recordEnds.size(); cut += 9) {
      SCOPED_TRACE(std::string(big ? "big-endian" : "little-endian") + ", cut after record " +
                   std::to_string(cut));
      std::vector<uint8_t> bytes = f.v;
      if (cut < recordEnds.size()) bytes.resize(recordEnds[cut] - 7);
      WriteFileBytes(dir.path("in.pcap"), bytes);
      std::vector<uint8_t> outputs[2];
      ConversionState states[2];
      for (const bool copy : {false, true}) {
        MessageRecorder host;
        Conversion c(host);
        ConversionState& s = c.state;
        s.sourceFileName = dir.path("in.pcap");
        s.sourceAnalyzer = s.targetAnalyzer = Analyzer::Tcpdump;
        s.sourceVariant = big ? PcapVariant::BigEndian : 0;
        s.traceTopology = Topo::Ethernet;
        s.options.formatOptions.get<PcapOutputOptions>().bigEndian = big;
        s.options.copyUnchangedRecords = copy;
        c.target = CreateFileTarget(dir.path("out.pcap"));
        c.ConvertTrace(false);
        outputs[copy] = ReadFileBytes(dir.path("out.pcap"));
        states[copy] = s;
      }
      EXPECT_EQ(outputs[true], outputs[false]);
      EXPECT_EQ(Counts(states[true]), Counts(states[false]));
    }
  }
}

// The same comparison with each edit a conversion may make: frames chosen
// by number or time, duplicates dropped, times moved, the target split. The
// copy takes records the edit keeps or drops as the frame path would, and
// stops where a file ends; every file and count must come out the same.
TEST(PcapWrite, RecordsCopiedWithEditsMatchTheFrameByFramePath) {
  ScopedTimeZone tz("Europe/Berlin");
  TempDir dir;
  constexpr int64_t kSecond = 1000000000;
  constexpr int64_t kStart = 1700000000;
  // 300 records, 0 to 2 seconds apart: some repeat one 1 to 5 records
  // before them (dropped as duplicates up to 4 back), one goes back in time,
  // one is short, one cut, one has a fraction beyond a second.
  std::vector<std::vector<uint8_t>> payloads;
  PcapFile f;
  f.header(0xA1B2C3D4);
  int64_t seconds = kStart;
  for (int i = 0; i < 300; ++i) {
    seconds += i == 150 ? -3 : i % 3;
    std::vector<uint8_t> bytes = Payload(size_t(60 + i * 37 % 1455), uint8_t(i));
    if (i % 11 == 5) bytes = payloads[size_t(i - 1 - i % 5)];
    if (i == 200) bytes.resize(40);
    payloads.push_back(bytes);
    const uint32_t original = i == 210 ? uint32_t(bytes.size() + 100) : uint32_t(bytes.size());
    f.record(uint32_t(seconds), i == 220 ? 1200000 : uint32_t(i * 7919 % 1000000), bytes, original);
  }
  WriteFileBytes(dir.path("in.pcap"), f.v);

  struct Edit {
    const char* name;
    std::function<void(ConversionState&)> set;
  };
  const auto range = [](ConversionState& s, std::vector<FrameRange> ranges) {
    s.options.selection.ranges = ranges;
    s.options.convertAll = false;  // as the job sets the bounds of a selection by number
    s.options.startFrame = ranges.front().first;
    s.options.endFrame = ranges.back().last;
  };
  const Edit edits[] = {
      {"time shift", [](ConversionState& s) { s.options.selection.timeShift = 3600 * kSecond; }},
      {"time shift back", [](ConversionState& s) { s.options.selection.timeShift = -kSecond / 4; }},
      {"time shift of nanoseconds", [](ConversionState& s) { s.options.selection.timeShift = 1234; }},
      {"time shift past 2106",
       [](ConversionState& s) { s.options.selection.timeShift = (INT64_C(1) << 32) * kSecond - kStart * kSecond - 200 * kSecond; }},
      {"start time", [](ConversionState& s) { s.options.selection.startTime = 1800000000 * kSecond; }},
      {"after and before",
       [](ConversionState& s) {
         s.options.selection.after = (kStart + 40) * kSecond + 500000000;
         s.options.selection.before = (kStart + 250) * kSecond;
       }},
      {"range", [&](ConversionState& s) { range(s, {{30, 180}}); }},
      {"open range", [&](ConversionState& s) { range(s, {{100, kOpenRangeEnd}}); }},
      {"listed ranges", [&](ConversionState& s) { range(s, {{1, 1}, {5, 5}, {9, 120}, {200, 260}}); }},
      {"start time after a range", [&](ConversionState& s) {
         range(s, {{3, 3}, {70, 90}});
         s.options.selection.startTime = 1800000000 * kSecond;
       }},
      {"duplicates", [](ConversionState& s) { s.options.selection.dropDuplicates = true; }},
      {"split by frames", [](ConversionState& s) { s.options.splitFrames = 64; }},
      {"split by seconds", [](ConversionState& s) { s.options.splitMicroseconds = 7000000; }},
      {"all at once",
       [&](ConversionState& s) {
         range(s, {{2, 40}, {60, 290}});
         s.options.selection.dropDuplicates = true;
         s.options.selection.timeShift = -86400 * kSecond;
         s.options.splitMicroseconds = 30000000;
       }},
  };
  for (const Edit& edit : edits) {
    SCOPED_TRACE(edit.name);
    std::vector<std::vector<uint8_t>> outputs[2];
    ConversionState states[2];
    for (const bool copy : {false, true}) {
      MessageRecorder host;
      Conversion c(host);
      ConversionState& s = c.state;
      s.sourceFileName = dir.path("in.pcap");
      s.sourceAnalyzer = s.targetAnalyzer = Analyzer::Tcpdump;
      s.traceTopology = Topo::Ethernet;
      s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
      edit.set(s);
      s.options.copyUnchangedRecords = copy;
      const std::string out = dir.path(copy ? "copy.pcap" : "frames.pcap");
      int32_t files = 0;
      c.nextTarget = [&](Conversion& conv) {
        conv.target = CreateFileTarget(NumberedTargetName(out, ++files));
        return conv.target != nullptr;
      };
      c.target = CreateFileTarget(NumberedTargetName(out, 0));
      c.ConvertTrace(false);
      for (int32_t i = 0; i <= files; ++i) outputs[copy].push_back(ReadFileBytes(NumberedTargetName(out, i)));
      states[copy] = s;
    }
    EXPECT_EQ(outputs[true], outputs[false]);
    EXPECT_EQ(Counts(states[true]), Counts(states[false]));
    EXPECT_EQ(states[true].counters.duplicateFrames, states[false].counters.duplicateFrames);
    EXPECT_EQ(states[true].status.writeErrorDetail, states[false].status.writeErrorDetail);
  }
}

}  // namespace
}  // namespace morph
