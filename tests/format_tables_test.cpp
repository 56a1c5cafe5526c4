// The tables every format family adds a row to: round trips through each
// writer and its reader, files Debian's editcap writes, and damaged input
// over every reader. A new family adds rows here, not a new file of cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/timebase.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;


// ------------------------------------------------------------ round trips

struct RoundTripRow {
  AnalyzerType target;
  Topology topology;
  int64_t timeMicros;  // the format's time resolution
  bool rebuildsFcs;    // the format stores no FCS: the reader computes it again
  uint32_t wanProtocol = Wan::NotKnown;
  uint16_t flagsRead = 0;  // what the reader reports for frames written without flags
  // Identification tells this topology from the file; otherwise it guesses
  // from the first frame's bytes and the file is read as the topology it has.
  bool identifiesTopology = true;
  AnalyzerType identifiedAs = Analyzer::Unknown;  // when not the writer's own type
};

const RoundTripRow kRoundTrips[] = {
    {Analyzer::Tcpdump, Topo::Ethernet, 0, true},
    {Analyzer::Tcpdump, Topo::TokenRing, 0, false},
    {Analyzer::Tcpdump, Topo::Fddi, 0, false},
    {Analyzer::Tcpdump, Topo::Wireless, 0, false},
    {Analyzer::NetMon1, Topo::Ethernet, 1000, true},
    {Analyzer::NetMon2, Topo::Ethernet, 0, true},
    {Analyzer::NetMon2, Topo::TokenRing, 0, false},
    {Analyzer::NetMon2, Topo::Fddi, 0, false},
    {Analyzer::Snoop, Topo::Ethernet, 0, true},
    {Analyzer::Snoop, Topo::TokenRing, 0, false},
    {Analyzer::Surveyor, Topo::Ethernet, 0, false},
    {Analyzer::SnifferPro, Topo::Ethernet, 1, false},
    {Analyzer::SnifferPro, Topo::TokenRing, 1, false},
    {Analyzer::SnifferPro, Topo::Wireless, 1, false},
    {Analyzer::SnifferDos, Topo::Ethernet, 1, false},
    {Analyzer::SnifferDos, Topo::TokenRing, 1, false},
    {Analyzer::SnifferDos, Topo::Fddi, 1, false},
    {Analyzer::Ostrawind, Topo::Ethernet, 1, false},
    {Analyzer::Ringstave, Topo::TokenRing, 1, false},
    {Analyzer::Skavelin, Topo::Wireless, 1, false},
    {Analyzer::Pcapng, Topo::Ethernet, 0, true},
    {Analyzer::Pcapng, Topo::TokenRing, 0, false},
    {Analyzer::Pcapng, Topo::Fddi, 0, false},
    {Analyzer::Pcapng, Topo::Wireless, 0, false},
    {Analyzer::LanAlyzer, Topo::Ethernet, 0, true},
    {Analyzer::LanAlyzer, Topo::TokenRing, 0, false},
    {Analyzer::Observer, Topo::Ethernet, 500, true},
    {Analyzer::Observer, Topo::TokenRing, 500, false},
    {Analyzer::Observer, Topo::Fddi, 500, false},
    {Analyzer::Observer, Topo::Wireless, 500, false},
    {Analyzer::DataGlance, Topo::Ethernet, 1, false},
    {Analyzer::DataGlance, Topo::TokenRing, 1, false},
    {Analyzer::Lan900, Topo::Ethernet, 1, true},
    {Analyzer::Lan900, Topo::TokenRing, 1, false},
    {Analyzer::Domino, Topo::Ethernet, 16, false},
    {Analyzer::Domino, Topo::TokenRing, 16, false},
    {Analyzer::Domino, Topo::Fddi, 16, false},
    {Analyzer::LinkViewPro, Topo::Ethernet, 16, false, Wan::NotKnown, 0, true, Analyzer::Domino},
    {Analyzer::Da30, Topo::Ethernet, 16, false},
    {Analyzer::Da30, Topo::TokenRing, 16, false},
    {Analyzer::FireBerd500, Topo::Ethernet, 500, false},
    {Analyzer::FireBerdDna323, Topo::Ethernet, 0, false},
    {Analyzer::Advisor, Topo::Ethernet, 0, false},
    {Analyzer::Advisor, Topo::TokenRing, 0, false},
    {Analyzer::Advisor, Topo::Fddi, 0, false},
    {Analyzer::Advisor, Topo::Wan, 0, false, Wan::Hdlc, Flag::Direction1},
    {Analyzer::Advisor, Topo::T1, 0, false, Wan::Ppp, Flag::Direction1},
    {Analyzer::Advisor, Topo::E1, 0, false, Wan::FrameRelay, Flag::Direction1},
    {Analyzer::Advisor, Topo::VSeries, 0, false, Wan::X25, Flag::Direction1},
    {Analyzer::NetworkAnalyzer, Topo::Ethernet, 0, false, Wan::NotKnown, Flag::Direction2},
    {Analyzer::NetworkAnalyzer, Topo::TokenRing, 0, false, Wan::NotKnown, Flag::Direction2},
    {Analyzer::NetworkAnalyzer, Topo::Wan, 0, false, Wan::Hdlc, Flag::Direction2},
    {Analyzer::NetworkAnalyzer, Topo::T1, 0, false, Wan::Ppp, Flag::Direction2},
    {Analyzer::NetworkAnalyzer, Topo::E1, 0, false, Wan::FrameRelay, Flag::Direction2},
    {Analyzer::NetworkAnalyzer, Topo::Ds3, 0, false, Wan::X25, Flag::Direction2},
    {Analyzer::InternetAdvisor, Topo::Ethernet, 0, false},
    {Analyzer::InternetAdvisor, Topo::TokenRing, 0, false},
};

std::string RowName(AnalyzerType target, Topology topology) {
  return AnalyzerName(target) + " on " + TopologyName(topology);
}

// The row's trace of n frames, written to `path` without a write failure.
Trace WriteRowTrace(const RoundTripRow& row, const std::string& path, int n,
                    const std::function<void(Trace&)>& adjust = {},
                    const std::function<void(ConversionState&)>& setup = {}) {
  Trace trace = MakeTrace(row.topology, n);
  trace.wanProtocol = row.wanProtocol;
  if (adjust) adjust(trace);
  const ConversionState written = WriteTrace(trace, row.target, path, setup);
  EXPECT_FALSE(written.WriteFailed) << written.WriteErrorDetail;
  return trace;
}

// Reads a file the row wrote, identified or as the row's type.
ReadResult ReadRow(const RoundTripRow& row, const std::string& path,
                   const std::function<void(ConversionState&)>& setup = {}) {
  return row.identifiesTopology ? ReadTrace(path, setup)
                                : ReadTraceAs(path, row.target, row.topology, setup);
}

// Compares what the row's reader gives back with the frames written.
void ExpectRowFrames(const RoundTripRow& row, Trace written, const Trace& back) {
  for (Frame& f : written.frames) f.flags |= row.flagsRead;
  Tolerance tolerance;
  tolerance.timeMicros = row.timeMicros;
  tolerance.ignoreFcsBytes = row.rebuildsFcs;
  tolerance.compareFlags = !row.rebuildsFcs;
  ExpectSameFrames(written, back, tolerance);
}

TEST(FormatTables, EveryWriterRoundTripsThroughItsReader) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(RowName(row.target, row.topology));
    ASSERT_TRUE(HasWriter(row.target));
    const std::string path = dir.path("rt" + DefaultSuffix(row.target, row.topology));
    const Trace trace = WriteRowTrace(row, path, 40);
    ReadResult back = ReadRow(row, path);
    EXPECT_EQ(back.analyzer,
              row.identifiedAs == Analyzer::Unknown ? row.target : row.identifiedAs);
    EXPECT_EQ(back.topology, row.topology);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    ExpectRowFrames(row, trace, back.trace);
  }
}

// A long trace crosses every block, page and index chunk a writer or reader
// works in (the largest: 65,536 index entries read at a time): every frame
// comes back. One row per writer; FireBerd 500 holds 65,535 frames at most.
TEST(FormatTables, ALongTraceRoundTripsThroughEveryWriter) {
  TempDir dir;
  std::vector<AnalyzerType> done;
  for (const RoundTripRow& row : kRoundTrips) {
    if (std::count(done.begin(), done.end(), row.target) || row.target == Analyzer::FireBerd500)
      continue;
    done.push_back(row.target);
    SCOPED_TRACE(RowName(row.target, row.topology));
    const std::string path = dir.path("long" + DefaultSuffix(row.target, row.topology));
    const Trace trace = WriteRowTrace(row, path, 70000, [&](Trace& t) {
      for (size_t i = 0; i < t.frames.size(); ++i)
        t.frames[i] = MakeFrame(t.frames[i].time, int32_t(64 + i % 3 * 8), row.topology, uint8_t(i));
    });
    ReadResult back = ReadRow(row, path);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    ASSERT_EQ(back.trace.frames.size(), trace.frames.size());
    ExpectRowFrames(row, trace, back.trace);
  }
}

// A range of every frame takes the pipeline's full way for each one; the
// whole trace takes its short way after the first frame. Both write the same,
// also where Ethernet frames are made 802.11 on their way to a wireless target.
TEST(FormatTables, AWholeRangeWritesWhatTheWholeTraceDoes) {
  TempDir dir;
  const auto compare = [&](const RoundTripRow& row, const Trace& trace, bool toWireless) {
    const std::string whole = dir.path("wh" + DefaultSuffix(row.target, row.topology));
    const std::string range = dir.path("ra" + DefaultSuffix(row.target, row.topology));
    const ConversionState a = WriteTrace(trace, row.target, whole, [&](ConversionState& s) {
      s.ConvertToWireless = toWireless;
    });
    const ConversionState b = WriteTrace(trace, row.target, range, [&](ConversionState& s) {
      s.ConvertToWireless = toWireless;
      s.ConvertAll = false;
      s.StartFrame = 1;
      s.EndFrame = 12;
    });
    EXPECT_EQ(ReadFileBytes(whole), ReadFileBytes(range));
    EXPECT_EQ(std::tuple(a.FramesWritten, a.FrameBytesTotal, a.TraceDuration, a.MaxFrameLength,
                         a.MaxTruncatedLength, a.RuntFrames, a.CrcErrorFrames),
              std::tuple(b.FramesWritten, b.FrameBytesTotal, b.TraceDuration, b.MaxFrameLength,
                         b.MaxTruncatedLength, b.RuntFrames, b.CrcErrorFrames));
  };
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(RowName(row.target, row.topology));
    Trace trace = MakeTrace(row.topology, 12);
    trace.wanProtocol = row.wanProtocol;
    compare(row, trace, false);
    if (row.topology != Topo::Wireless) continue;
    SCOPED_TRACE("Ethernet frames made 802.11");
    compare(row, MakeTrace(Topo::Ethernet, 12), true);
  }
}

// A source that fails after some frames still leaves a complete target of
// the frames before the failure.
TEST(FormatTables, AReadErrorMidwayStillFinishesTheTarget) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(RowName(row.target, row.topology));
    const std::string path = dir.path("re" + DefaultSuffix(row.target, row.topology));
    const Trace trace =
        WriteRowTrace(row, path, 3, [](Trace& t) { t.readError = "damaged fourth record"; });
    ReadResult back = ReadRow(row, path);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    EXPECT_TRUE(back.messages.empty());
    ExpectRowFrames(row, trace, back.trace);
  }
}

// The UTC instant of local midnight of the trace date, in the zone the
// frames were handed on in (the target's, or the machine's).
int64_t MidnightUtcMicros(const ConversionState& s) {
  const ZoneView view = ViewInZone(s, TargetZoneOf(s));
  return (DaysFrom1970(view.traceDate) * kSecondsPerDay + view.timeZoneBias) * kMicrosPerSecond;
}

// A trace recorded in New York and converted on a machine in Berlin: written
// with New York as the target zone and read with it as the source zone, every
// frame keeps its UTC instant, in standard and in daylight time.
TEST(FormatTables, LocalTimesFollowTheChosenZones) {
  ScopedTimeZone berlin("Europe/Berlin");
  const auto utc = LoadTimeZone("UTC"), newYork = LoadTimeZone("America/New_York");
  ASSERT_TRUE(utc && newYork);
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    // Times of day without a date in the file: a zone moves them, but no
    // reader can tell the day they belong to.
    if (row.target == Analyzer::Lan900 || row.target == Analyzer::FireBerd500 ||
        row.target == Analyzer::Da30 || row.target == Analyzer::Observer)
      continue;
    for (const double date : {EncodeDate(2024, 1, 15), EncodeDate(2024, 7, 15)}) {
      SCOPED_TRACE(RowName(row.target, row.topology) + (date < EncodeDate(2024, 6, 1) ? " in January" : " in July"));
      const std::string path = dir.path("tz" + DefaultSuffix(row.target, row.topology));
      const Trace trace = WriteRowTrace(
          row, path, 6, [&](Trace& t) { t.traceDate = date; },
          [&](ConversionState& st) {
            st.SourceZone = utc;
            st.TargetZone = newYork;
          });
      ReadResult back = ReadRow(row, path, [&](ConversionState& st) { st.SourceZone = newYork; });
      ASSERT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
      // The trace was handed to the writer in UTC.
      const int64_t shift = MidnightUtcMicros(back.state) - DaysFrom1970(date) * kSecondsPerDay * kMicrosPerSecond;
      for (Frame& f : back.trace.frames) f.time += shift;
      ExpectRowFrames(row, trace, back.trace);
    }
  }
}

// A frame stored cut short keeps every stored byte in every writer: its FCS
// is not among them, so nothing is to be dropped.
TEST(FormatTables, CutFramesKeepEveryStoredByte) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    if (row.topology != Topo::Ethernet) continue;
    SCOPED_TRACE(RowName(row.target, row.topology));
    Trace trace = MakeTrace(Topo::Ethernet, 3);
    Frame& cut = trace.frames[1];
    cut = MakeFrame(cut.time, 1518);
    cut.bytes.resize(68);
    const std::string path = dir.path("cut" + DefaultSuffix(row.target, row.topology));
    WriteTrace(trace, row.target, path);
    ReadResult back = ReadTrace(path);
    ASSERT_EQ(back.trace.frames.size(), 3u) << back.state.ReadErrorDetail;
    const Frame& got = back.trace.frames[1];
    // FireBerd 500 and DNA-323 records state no wire length: the cut frame
    // is all they hold, and it comes back with the stored bytes first.
    if (row.target == Analyzer::FireBerd500 || row.target == Analyzer::FireBerdDna323) {
      ASSERT_GE(got.bytes.size(), 68u);
      EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), got.bytes.begin()));
      continue;
    }
    EXPECT_EQ(got.frameLength, 1518);
    EXPECT_EQ(got.bytes, cut.bytes);
  }
}

// After a media conversion every header states the medium of the frames
// written, not the source's.
TEST(FormatTables, MediaConversionsStateTheWrittenMedium) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    if (row.topology != Topo::Wireless) continue;
    SCOPED_TRACE(AnalyzerName(row.target));
    const std::string wireless = dir.path("w" + DefaultSuffix(row.target, Topo::Wireless));
    WriteTrace(MakeTrace(Topo::Ethernet, 4), row.target, wireless,
               [](ConversionState& s) { s.ConvertToWireless = true; });
    ReadResult back = ReadTrace(wireless);
    EXPECT_EQ(back.topology, Topo::Wireless);
    EXPECT_EQ(back.trace.frames.size(), 4u);
    bool writesEthernet = false;
    for (const RoundTripRow& other : kRoundTrips)
      writesEthernet |= other.target == row.target && other.topology == Topo::Ethernet;
    if (!writesEthernet) continue;
    const std::string ethernet = dir.path("e" + DefaultSuffix(row.target, Topo::Ethernet));
    WriteTrace(MakeTrace(Topo::Wireless, 4), row.target, ethernet,
               [](ConversionState& s) { s.ConvertToEthernet = true; });
    EXPECT_EQ(ReadTrace(ethernet).topology, Topo::Ethernet);
  }
}

// Made 802.11, the largest Ethernet frames grow past 32,768 bytes: each
// record is still laid out whole, also where the target's block has no room
// left for it (six of them overrun a block).
TEST(FormatTables, FramesAMediaConversionLengthensAreWrittenWhole) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    if (row.topology != Topo::Wireless) continue;
    SCOPED_TRACE(AnalyzerName(row.target));
    Trace trace;
    trace.topology = Topo::Ethernet;
    for (int i = 0; i < 6; ++i)
      trace.frames.push_back(
          MakeFrame(1000000 + i * 1000, MaxFrameBytes, Topo::Ethernet, uint8_t(i)));
    const std::string path = dir.path("long" + DefaultSuffix(row.target, Topo::Wireless));
    const ConversionState written = WriteTrace(
        trace, row.target, path, [](ConversionState& s) { s.ConvertToWireless = true; });
    EXPECT_FALSE(written.WriteFailed) << written.WriteErrorDetail;
    ReadResult back = ReadTrace(path);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    ASSERT_EQ(back.trace.frames.size(), 6u);
    // The 802.11 header and payload as converted, up to what a frame holds.
    for (const Frame& f : back.trace.frames) EXPECT_EQ(f.frameLength, MaxFrameBytes);
    EXPECT_EQ(back.trace.frames[5].bytes[24 + 8], trace.frames[5].bytes[14]);
  }
}

// Frames either side of local midnight in a daylight-saving zone keep
// counting past midnight; formats that hold a date keep the trace date and
// the summer bias.
struct MidnightRow {
  AnalyzerType target;
  int64_t timeMicros;  // the format's time resolution
  bool dated;          // the file holds a date, not only times of day
  bool comparesFlags = true;  // false: the reader marks a direction of its own
};

const MidnightRow kMidnight[] = {
    {Analyzer::Domino, 16, true},        {Analyzer::LinkViewPro, 16, true},
    {Analyzer::Da30, 16, false},         {Analyzer::FireBerd500, 500, false},
    {Analyzer::FireBerdDna323, 16, true}, {Analyzer::LanAlyzer, 0, true},
    {Analyzer::Observer, 500, false},    {Analyzer::DataGlance, 1, true},
    {Analyzer::Lan900, 1, false},        {Analyzer::InternetAdvisor, 0, true},
    {Analyzer::Advisor, 0, true, false}, {Analyzer::NetworkAnalyzer, 0, true, false},
};

TEST(FormatTables, TracesAcrossMidnightInSummerTimeKeepCounting) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  TempDir dir;
  Trace trace;
  trace.traceDate = EncodeDate(2024, 7, 1);
  for (int64_t offset : {-2000000LL, -1500000LL, -300000LL, 200000LL, 700000LL, 3600000000LL}) {
    // Seed 0 starts the frame with a zero byte: FireBerd 500 reads Ethernet in it.
    trace.frames.push_back(MakeFrame(kMicrosPerDay + offset, 64, Topo::Ethernet, 0));
  }
  for (const MidnightRow& row : kMidnight) {
    SCOPED_TRACE(AnalyzerName(row.target));
    const std::string path = dir.path("m" + DefaultSuffix(row.target, Topo::Ethernet));
    WriteTrace(trace, row.target, path);
    ReadResult back = ReadTrace(path);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    EXPECT_TRUE(back.messages.empty());
    Tolerance tolerance{row.timeMicros};
    tolerance.compareFlags = row.comparesFlags;
    ExpectSameFrames(trace, back.trace, tolerance);
    if (row.dated) {
      EXPECT_EQ(back.trace.traceDate, trace.traceDate);
      EXPECT_EQ(back.state.TimeZoneBias, -7200);
    }
  }
}

// Writers whose files state offsets or sizes in 32 bits, or count frames in
// a field of their own, with a lowered limit so that small files reach it.
struct LimitRow {
  AnalyzerType target;
  Topology topology;
  uint64_t offsetLimit;  // lowered TargetOffsetLimit, 0: left alone
  int32_t frameLimit;    // lowered TargetFrameLimit, 0: left alone
  int frames;            // frames offered: more than fit
};

const LimitRow kLimits[] = {
    {Analyzer::NetMon1, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::NetMon2, Topo::TokenRing, 6000, 0, 40},
    {Analyzer::SnifferPro, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::Ostrawind, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::Skavelin, Topo::Wireless, 6000, 0, 40},
    {Analyzer::Domino, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::Da30, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::FireBerd500, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::FireBerd500, Topo::Ethernet, 0, 7, 40},  // its 16-bit frame numbers
    {Analyzer::Observer, Topo::Ethernet, 6000, 0, 40},
    {Analyzer::Lan900, Topo::Ethernet, 3 * 65536, 0, 400},  // whole pages
};

// A target that would pass a limit of its format stops at the last frame
// that fits, says why, and is still a valid file of those frames.
TEST(FormatTables, TargetsStopAtTheirLimits) {
  TempDir dir;
  for (const LimitRow& row : kLimits) {
    SCOPED_TRACE(AnalyzerName(row.target) + std::string(row.frameLimit ? " frames" : " bytes"));
    const std::string path = dir.path("limit" + DefaultSuffix(row.target, row.topology));
    const Trace trace = MakeTrace(row.topology, row.frames);
    ConversionState s = WriteTrace(trace, row.target, path, [&](ConversionState& st) {
      if (row.offsetLimit) st.TargetOffsetLimit = row.offsetLimit;
      st.TargetFrameLimit = row.frameLimit;
    });
    EXPECT_TRUE(s.WriteFailed);
    EXPECT_NE(s.WriteErrorDetail.find("are written"), std::string::npos) << s.WriteErrorDetail;
    if (row.offsetLimit) {
      EXPECT_LE(ReadFileBytes(path).size(), row.offsetLimit);
    }
    ReadResult back = ReadTrace(path);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    ASSERT_GT(back.trace.frames.size(), 0u);
    EXPECT_LT(back.trace.frames.size(), trace.frames.size());
    if (row.frameLimit) {
      EXPECT_EQ(back.trace.frames.size(), size_t(row.frameLimit));
    }
    EXPECT_EQ(int64_t(back.trace.frames.size()), s.FramesWritten - s.NonDataFrames);
    for (size_t i = 0; i < back.trace.frames.size(); ++i)
      EXPECT_EQ(back.trace.frames[i].frameLength, trace.frames[i].frameLength) << "frame " << i + 1;
  }
}

// A target that holds exactly as many frames as its field allows is complete,
// not a failure.
TEST(FormatTables, ATargetFilledToItsFrameLimitSucceeds) {
  TempDir dir;
  const std::string path = dir.path("full.pkt");
  ConversionState s = WriteTrace(MakeTrace(Topo::Ethernet, 7), Analyzer::FireBerd500, path,
                                 [](ConversionState& st) { st.TargetFrameLimit = 7; });
  EXPECT_FALSE(s.WriteFailed) << s.WriteErrorDetail;
  EXPECT_EQ(ReadTrace(path).trace.frames.size(), 7u);
}

// Every type a family says it writes has a writer, and every writer is in
// the round-trip table.
TEST(FormatTables, EveryWriterHasARoundTripRow) {
  for (int t = 0; t < Analyzer::Count; ++t) {
    const auto type = AnalyzerType(t);
    if (!HasWriter(type) || type == Analyzer::Ascii) continue;
    bool listed = false;
    for (const RoundTripRow& row : kRoundTrips) listed = listed || row.target == type;
    // Writers that share a layout with a listed one are covered by its row.
    const bool sharesLayout = type == Analyzer::FireBerd500Pc || type == Analyzer::LanAnalyzer ||
                              type == Analyzer::ProtocolInspector || type == Analyzer::Farrowe ||
                              type == Analyzer::LinkViewPro;
    EXPECT_TRUE(listed || sharesLayout) << AnalyzerName(type) << " has no round-trip row";
  }
}

// ------------------------------------------------------------ damaged input

struct DamagedRow {
  AnalyzerType writer;  // writes the good file the damage starts from
  Topology topology;
  bool needsItsEnd = false;  // every cut is a read error (the file ends with its index)
};

const DamagedRow kDamaged[] = {
    {Analyzer::Tcpdump, Topo::Ethernet},      {Analyzer::NetMon1, Topo::Ethernet},
    {Analyzer::NetMon2, Topo::TokenRing},     {Analyzer::Snoop, Topo::Ethernet},
    {Analyzer::Surveyor, Topo::Ethernet},     {Analyzer::SnifferPro, Topo::Ethernet},
    {Analyzer::SnifferDos, Topo::Ethernet},   {Analyzer::Ostrawind, Topo::Ethernet},
    {Analyzer::Farrowe, Topo::Ethernet},      {Analyzer::Pcapng, Topo::Ethernet},
    {Analyzer::LanAlyzer, Topo::Ethernet},    {Analyzer::Observer, Topo::Ethernet},
    {Analyzer::DataGlance, Topo::Ethernet},   {Analyzer::Lan900, Topo::Ethernet},
    {Analyzer::Domino, Topo::Ethernet, true},     {Analyzer::Da30, Topo::Ethernet},
    {Analyzer::FireBerd500, Topo::Ethernet},  {Analyzer::FireBerdDna323, Topo::Ethernet},
    {Analyzer::Skavelin, Topo::Wireless},
    {Analyzer::Advisor, Topo::Ethernet},      {Analyzer::Advisor, Topo::T1},
    {Analyzer::Advisor, Topo::AtmOc3},        {Analyzer::NetworkAnalyzer, Topo::TokenRing},
    {Analyzer::InternetAdvisor, Topo::Ethernet},
};

// A damaged file is either refused, read to a clean end, or ends with the
// read error and a reason; never a crash, a hang or more frames than it has.
// What comes out of a cut file is what the whole file holds, frame for frame.
ReadResult ExpectCleanEnd(const std::string& path, AnalyzerType reader, Topology topology,
                    size_t framesWritten, const std::string& what, const Trace* whole = nullptr,
                    uint32_t variant = 0) {
  ReadResult r = ReadTraceAs(path, reader, topology,
                             [variant](ConversionState& s) { s.SourceVariant = variant; });
  EXPECT_LE(r.trace.frames.size(), framesWritten) << what;
  if (r.state.ReadError) {
    EXPECT_FALSE(r.state.ReadErrorDetail.empty()) << what << ": a read error without a reason";
    EXPECT_TRUE(HasReadErrorMessage(r)) << what;
  }
  for (const Frame& f : r.trace.frames) {
    EXPECT_LE(f.bytes.size(), size_t(MaxFrameBytes)) << what;
    EXPECT_LE(int64_t(f.bytes.size()), int64_t(f.frameLength)) << what;
  }
  if (whole && !r.trace.frames.empty() && r.trace.frames.size() <= whole->frames.size()) {
    // The last frame may come out sliced where the cut runs through it, but
    // never with a byte the file does not hold.
    Trace prefix = *whole, got = r.trace;
    prefix.frames.resize(got.frames.size());
    Frame& last = got.frames.back();
    const Frame& full = prefix.frames.back();
    if (last.bytes.size() < full.bytes.size() &&
        std::equal(last.bytes.begin(), last.bytes.end(), full.bytes.begin()))
      last.bytes = full.bytes;
    EXPECT_EQ(ExpectSameFrames(prefix, got), 0) << what;
  }
  return r;
}

TEST(FormatTables, EveryTruncationEndsCleanly) {
  TempDir dir;
  for (const DamagedRow& row : kDamaged) {
    SCOPED_TRACE(RowName(row.writer, row.topology));
    const std::string goodPath = dir.path("good" + DefaultSuffix(row.writer, row.topology));
    Trace trace = MakeTrace(row.topology, 3);
    trace.frames[1].bytes.resize(40);  // a cut frame
    WriteTrace(trace, row.writer, goodPath);
    // What identification learns of the good file (the libpcap byte order)
    // is handed to the reader of each cut, as the program does.
    const ReadResult good = ReadTrace(goodPath);
    ASSERT_EQ(good.trace.frames.size(), trace.frames.size());
    const uint32_t variant = good.state.SourceVariant;
    const std::vector<uint8_t> bytes = ReadFileBytes(goodPath);
    const std::string cut = dir.path("cut" + DefaultSuffix(row.writer, row.topology));
    // Every cut through the headers and the first records, then a sample of
    // cuts through the frame bytes and what follows them.
    const size_t stride = std::max<size_t>(7, bytes.size() / 500);
    for (size_t n = 0; n < bytes.size(); n += n < 400 ? 1 : stride) {
      WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
      const std::string what = "cut at " + std::to_string(n);
      const ReadResult r = ExpectCleanEnd(cut, row.writer, row.topology, trace.frames.size(), what,
                                          &good.trace, variant);
      if (row.needsItsEnd) {
        EXPECT_TRUE(r.state.ReadError) << what;
      }
    }
  }
}

// Formats with no end marker of their own still fail a record cut short:
// the frames before it are kept and the cut is a read error, not an end.
TEST(FormatTables, ARecordCutShortIsAReadError) {
  TempDir dir;
  for (AnalyzerType type : {Analyzer::SnifferPro, Analyzer::Tcpdump, Analyzer::Snoop}) {
    SCOPED_TRACE(AnalyzerName(type));
    const std::string good = dir.path("good" + DefaultSuffix(type, Topo::Ethernet));
    WriteTrace(MakeTrace(Topo::Ethernet, 3), type, good);
    const std::vector<uint8_t> bytes = ReadFileBytes(good);
    for (size_t less : {size_t(1), size_t(20), size_t(70)}) {
      const std::string cut = dir.path("cut" + std::to_string(less));
      WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - long(less)));
      for (bool gzip : {false, true}) {
        // compressed sources are read for libpcap
        if (gzip && (type != Analyzer::Tcpdump || !HaveTool("gzip"))) continue;
        if (gzip) {
          ASSERT_EQ(RunCommand("gzip -kf " + cut).status, 0);
        }
        ReadResult r = ReadTrace(gzip ? cut + ".gz" : cut);
        EXPECT_TRUE(r.state.ReadError) << "cut by " << less << (gzip ? " (gzip)" : "");
        EXPECT_FALSE(r.state.ReadErrorDetail.empty());
        EXPECT_GE(r.trace.frames.size(), 1u);
      }
    }
  }
}

// Sources cut at every byte, met as the program meets them: identified
// first (its probes seek to offsets the file states, past the cut), then
// read. Each cut is refused, gives no frame (a file header alone), or ends
// with the read error and a reason; never a frame from a first record cut
// short. A
// gzip file cut inside its trailer gives every frame, then the trailer's
// reason; `lastByteCut` is the reason when only the last byte is missing.
struct CutSourceRow {
  AnalyzerType writer;
  const char* compressedSuffix;  // the file gzip-compressed under this suffix; "" when plain
  const char* lastByteCut;
};

const CutSourceRow kCutSources[] = {
    {Analyzer::Tcpdump, "", "record 1 at offset 24: frame cut short: 296 bytes stated"},
    {Analyzer::Snoop, "", "record 1 at offset 16: record cut short"},
    {Analyzer::Pcapng, "", ""},
    {Analyzer::Tcpdump, ".pcap.gz", "gzip trailer missing: the file ends before the CRC-32"},
    {Analyzer::Pcapng, ".pcapng.gz", "gzip trailer missing"},
    {Analyzer::SnifferPro, ".caz", "gzip trailer missing"},
    {Analyzer::Ostrawind, ".kvz", "gzip trailer missing"},
};

TEST(FormatTables, ASourceCutAnywhereNeverEndsCleanly) {
  TempDir dir;
  Trace trace;
  trace.frames = {MakeFrame(3600LL * 1000000, 300, Topo::Ethernet, 1)};
  for (const CutSourceRow& row : kCutSources) {
    const bool gzip = *row.compressedSuffix != 0;
    SCOPED_TRACE(RowName(row.writer, Topo::Ethernet) + row.compressedSuffix);
    const std::string plain = dir.path("good" + DefaultSuffix(row.writer, Topo::Ethernet));
    WriteTrace(trace, row.writer, plain);
    const std::string suffix = gzip ? row.compressedSuffix : DefaultSuffix(row.writer, Topo::Ethernet);
    const std::string good = dir.path("good" + suffix), cut = dir.path("cut" + suffix);
    if (gzip) WriteGzipFile(good, ReadFileBytes(plain));
    const std::vector<uint8_t> bytes = ReadFileBytes(good);
    ASSERT_EQ(ReadTrace(good).trace.frames.size(), 1u);
    for (size_t n = 0; n < bytes.size(); ++n) {
      WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
      const ReadResult r = ReadTrace(cut);
      const std::string what = "cut at " + std::to_string(n);
      // Compressed data cut near its end may hold the whole frame already.
      const bool inTrailer = gzip && n + 8 >= bytes.size();
      if (!gzip || inTrailer) {
        EXPECT_EQ(r.trace.frames.size(), inTrailer ? 1u : 0u) << what;
      }
      if (r.analyzer == Analyzer::Unknown || (!r.state.ReadError && r.trace.frames.empty()))
        continue;  // refused, or no frames
      EXPECT_TRUE(r.state.ReadError) << what;
      EXPECT_FALSE(r.state.ReadErrorDetail.empty()) << what;
      if (n + 1 == bytes.size()) {
        EXPECT_NE(r.state.ReadErrorDetail.find(row.lastByteCut), std::string::npos)
            << r.state.ReadErrorDetail;
      }
    }
  }
}

// One damaged field of a good file: it must end with the read error and a
// reason naming what is wrong.
struct DamagedFieldRow {
  const char* name;
  AnalyzerType writer;  // writes the good file: SmallTrace() on Ethernet
  std::function<void(std::vector<uint8_t>&)> damage;
  const char* detail;  // part of the reason; "" where any reason will do
};

// Three frames of 64, 40 (of 1,518) and 100 bytes: the offsets below count on them.
Trace SmallTrace() {
  constexpr int64_t kStart = (10 * 3600 + 20 * 60 + 30) * 1000000LL + 100;
  Trace t;
  Frame b = MakeFrame(kStart + 1000, 1518, Topo::Ethernet, 2);
  b.bytes.resize(40);
  t.frames = {MakeFrame(kStart, 64, Topo::Ethernet, 1), b,
              MakeFrame(kStart + 64, 100, Topo::Ethernet, 3)};
  return t;
}

std::function<void(std::vector<uint8_t>&)> Le16At(size_t at, uint16_t v) {
  return [=](std::vector<uint8_t>& f) { PutLE16(f.data() + at, v); };
}
std::function<void(std::vector<uint8_t>&)> Le32At(size_t at, uint32_t v) {
  return [=](std::vector<uint8_t>& f) { PutLE32(f.data() + at, v); };
}

constexpr size_t kDominoIndex = 238 + 64 + 40 + 100;
const DamagedFieldRow kDamagedFields[] = {
    {"Domino index count beyond the file", Analyzer::Domino, Le32At(kDominoIndex + 4, 0xFFFFFFF0u),
     "entries, but the file holds"},
    {"Domino FRAM beyond the file", Analyzer::Domino, Le32At(82, 0x7FFFFFF0u),
     "beyond the end of the file"},
    {"Domino no FRAM entry", Analyzer::Domino,
     [](std::vector<uint8_t>& f) { std::memcpy(f.data() + 78, "STOP", 4); }, "no \"FRAM\" entry"},
    {"Domino frame position beyond the file", Analyzer::Domino,
     Le32At(kDominoIndex + 8 + 20, 0x40000000u), "run past the end"},
    {"Domino stored beyond the full length", Analyzer::Domino, Le16At(kDominoIndex + 8 + 20 + 4, 2000),
     "exceed the frame length"},
    {"Domino start hour 99", Analyzer::Domino, [](std::vector<uint8_t>& f) { f[58] = 99; },
     "no time of day"},
    {"DA-30 record size of one word", Analyzer::Da30, Le32At(248 + 4, 1), "lies outside 11 to"},
    {"DA-30 record size of 4 G words", Analyzer::Da30, Le32At(248 + 4, 0xFFFFFFFFu),
     "lies outside 11 to"},
    {"DA-30 stored length beyond its record", Analyzer::Da30, Le32At(248 + 32, 65),
     "exceeds the record's room"},
    {"DA-30 statistics beyond the file", Analyzer::Da30, Le32At(22, 0x10000000u), "statistics area"},
    {"FireBerd 500 length 40,000", Analyzer::FireBerd500, Le16At(76, 40000),
     "frame length 40,000 exceeds 32,768"},
    {"DNA-323 length 0xFFFFFFF0", Analyzer::FireBerdDna323, Le32At(42 + 20, 0xFFFFFFF0u),
     "frame length 4,294,967,280 exceeds"},
    {"DNA-323 time after 9999", Analyzer::FireBerdDna323,
     [](std::vector<uint8_t>& f) { PutLE64(f.data() + 42 + 8, 0xFFFFFFFFFFFFFFF0ULL); },
     "after the year 9999"},
    {"LANalyzer frame record of 65,535 bytes", Analyzer::LanAlyzer, Le16At(3018 + 2, 65535), ""},
    {"LANalyzer frame record shorter than its header", Analyzer::LanAlyzer, Le16At(3018 + 2, 8), ""},
    {"Observer data length of 4 GB", Analyzer::Observer, Le32At(113 + 40, 0xFFFFFFF0u), ""},
    {"Observer next record pointing at itself", Analyzer::Observer, Le32At(113 + 12, 113), ""},
    {"Observer next record pointing back", Analyzer::Observer, Le32At(113 + 44 + 64 + 12, 113), ""},
    {"Observer without a marker", Analyzer::Observer, Le32At(113, 0), ""},
    {"DataGLANce stored length 65,535", Analyzer::DataGlance, Le16At(512 + 2, 65535),
     "record 1 at offset 512: stored length 65,535 exceeds 32,768"},
    {"DataGLANce second frame's stored length 65,535", Analyzer::DataGlance,
     Le16At(512 + 128 + 2, 65535), "record 2 at offset 640: stored length 65,535"},
    {"DataGLANce file cut inside a continuation block", Analyzer::DataGlance,
     [](std::vector<uint8_t>& f) { f.resize(512 + 3 * 128 + 50); },
     "record 3 at offset 768: continuation block cut short"},
    {"LAN900 body length 65,535", Analyzer::Lan900, Le16At(65536 + 2, 65535), ""},
    {"LAN900 body length 1", Analyzer::Lan900, Le16At(65536 + 2, 1), ""},
    // Sniffer DOS: a line record at 41, the first frame record at 55.
    {"Sniffer DOS end of file before any frame", Analyzer::SnifferDos, Le16At(55, 3),
     "offset 55: end-of-file record before any frame"},
    {"Sniffer DOS record length 40,000", Analyzer::SnifferDos, Le16At(55 + 2, 40000),
     "frame 1: record length 40,000 exceeds 32,782"},
    {"Sniffer DOS record shorter than its frame header", Analyzer::SnifferDos, Le16At(55 + 2, 10),
     "frame 1: record of 10 bytes, shorter than its 14-byte frame header"},
    {"Sniffer DOS stored length beyond its record", Analyzer::SnifferDos, Le16At(55 + 6 + 6, 2000),
     "frame 1: stored length 2,000 exceeds the 60 bytes its record holds"},
};

TEST(FormatTables, DamagedFieldsEndWithTheReadErrorAndTheirReason) {
  TempDir dir;
  for (const DamagedFieldRow& row : kDamagedFields) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.path("bad" + DefaultSuffix(row.writer, Topo::Ethernet));
    WriteTrace(SmallTrace(), row.writer, path);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    row.damage(bytes);
    WriteFileBytes(path, bytes);
    ReadResult r = ReadTraceAs(path, row.writer, Topo::Ethernet);
    EXPECT_TRUE(HasReadErrorMessage(r));
    EXPECT_FALSE(r.state.ReadErrorDetail.empty());
    EXPECT_NE(r.state.ReadErrorDetail.find(row.detail), std::string::npos)
        << r.state.ReadErrorDetail;
  }
}

TEST(FormatTables, AbsurdFieldValuesEndCleanly) {
  TempDir dir;
  const uint32_t kValues[] = {0, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 0xFFFFFFF0};
  for (const DamagedRow& row : kDamaged) {
    SCOPED_TRACE(RowName(row.writer, row.topology));
    const std::string good = dir.path("good" + DefaultSuffix(row.writer, row.topology));
    Trace trace = MakeTrace(row.topology, 3);
    WriteTrace(trace, row.writer, good);
    const std::vector<uint8_t> bytes = ReadFileBytes(good);
    const std::string bad = dir.path("bad" + DefaultSuffix(row.writer, row.topology));
    // Every 16-bit and 32-bit field position of the headers and first records,
    // in both byte orders.
    const size_t span = std::min<size_t>(bytes.size(), 400);
    // Every 16-bit step through the first headers, every 32-bit step after.
    for (size_t at = 0; at + 4 <= span; at += at < 128 ? 2 : 4) {
      for (uint32_t value : kValues) {
        for (bool big : {false, true}) {
          if (big && (value == 0 || value == 0xFFFFFFFF)) continue;  // the same either way
          std::vector<uint8_t> damaged = bytes;
          Put32(damaged.data() + at, value, big);
          WriteFileBytes(bad, damaged);
          ExpectCleanEnd(bad, row.writer, row.topology, 1u << 20,
                         "value " + std::to_string(value) + " at " + std::to_string(at));
        }
      }
    }
  }
}

// ------------------------------------------------------------ third party

struct InteropRow {
  AnalyzerType analyzer;
  const char* editcapType;  // editcap -F
  const char* suffix;
  double seconds = 0.000001;  // time tolerance: the coarser of the two formats' resolutions
};

const InteropRow kInterop[] = {
    {Analyzer::Tcpdump, "pcap", ".dmp"},
    {Analyzer::Tcpdump, "nsecpcap", ".dmp"},
    {Analyzer::Tcpdump, "modpcap", ".dmp"},
    {Analyzer::NetMon1, "netmon1", ".cap", 0.0006},
    {Analyzer::NetMon2, "netmon2", ".cap"},
    {Analyzer::Snoop, "snoop", ".snoop"},
    {Analyzer::LanAlyzer, "lanalyzer", ".tr1"},
    // editcap's PC-timer unit differs from the analyzer's in the seventh
    // digit: 2.8 ms over an hour since midnight.
    {Analyzer::SnifferDos, "ngsniffer", ".enc", 0.005},
    {Analyzer::SnifferPro, "ngwsniffer_2_0", ".cap"},
};

// Files editcap writes convert to libpcap with the frames tshark sees in them;
// what we write in each format tshark reads back with the same frames.
TEST(FormatTables, EditcapFilesConvertAndOurFilesReadInTshark) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  const std::string source = dir.path("src.dmp");
  // From a whole second (editcap's LANalyzer files count from the first
  // frame's), in steps of odd microseconds.
  Trace trace = MakeTrace(Topo::Ethernet, 30, 3600LL * 1000000, 1777);
  trace.frames[4].bytes.resize(100);  // cut short: every stored byte is kept, no FCS among them
  WriteTrace(trace, Analyzer::Tcpdump, source);
  const std::vector<TsharkFrame> expected = TsharkFrames(source);
  ASSERT_EQ(expected.size(), 30u);
  for (const InteropRow& row : kInterop) {
    SCOPED_TRACE(row.editcapType);
    // Theirs to ours.
    const std::string theirs = dir.path(std::string("theirs_") + row.editcapType + row.suffix);
    ASSERT_EQ(RunCommand("editcap -F " + std::string(row.editcapType) + " " + source + " " + theirs)
                  .status,
              0);
    const std::string converted = dir.path(std::string("conv_") + row.editcapType + ".dmp");
    CommandResult run = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + theirs +
                                   " --to TD -o " + converted + " --quiet");
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectSameTsharkFrames(expected, TsharkFrames(converted), row.seconds);
    // Ours to theirs.
    const std::string ours = dir.path(std::string("ours_") + row.editcapType + row.suffix);
    run = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source + " --to \"" +
                     AnalyzerName(row.analyzer) + "\" -o " + ours + " --quiet");
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectSameTsharkFrames(expected, TsharkFrames(ours), row.seconds);
  }
}

}  // namespace
}  // namespace morph
