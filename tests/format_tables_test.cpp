// The tables every format family adds a row to: round trips through each
// writer and its reader, files Debian's editcap writes, and damaged input
// over every reader. A new family adds rows here, not a new file of cases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/job.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/advisor.h"
#include "formats/da30.h"
#include "formats/dataglance.h"
#include "formats/domino.h"
#include "formats/fireberd500.h"
#include "formats/fireberd_dna323.h"
#include "formats/internet_advisor.h"
#include "formats/lan900.h"
#include "formats/lanalyzer.h"
#include "formats/netmon.h"
#include "formats/observer.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "formats/tagged_packet_file.h"
#include "formats/text_dump.h"
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
  int32_t targetLayout = 0;  // the writer's layout where it has several
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
    {Analyzer::Observer, Topo::Ethernet, 0, true, Wan::NotKnown, 0, true, Analyzer::Unknown, 15},
    {Analyzer::Observer, Topo::TokenRing, 0, false, Wan::NotKnown, 0, true, Analyzer::Unknown, 15},
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
  const ConversionState written = WriteTrace(trace, row.target, path, [&](ConversionState& s) {
    s.options.targetLayout = row.targetLayout;
    if (setup) setup(s);
  });
  EXPECT_FALSE(written.status.writeFailed) << written.status.writeErrorDetail;
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
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
      s.options.convertToWireless = toWireless;
    });
    const ConversionState b = WriteTrace(trace, row.target, range, [&](ConversionState& s) {
      s.options.convertToWireless = toWireless;
      s.options.convertAll = false;
      s.options.startFrame = 1;
      s.options.endFrame = 12;
    });
    EXPECT_EQ(ReadFileBytes(whole), ReadFileBytes(range));
    EXPECT_EQ(std::tuple(a.counters.framesWritten, a.counters.frameBytesTotal, a.time.traceDuration, a.counters.maxFrameLength,
                         a.counters.maxTruncatedLength, a.counters.runtFrames, a.counters.crcErrorFrames,
                         a.counters.lost.timesRounded),
              std::tuple(b.counters.framesWritten, b.counters.frameBytesTotal, b.time.traceDuration, b.counters.maxFrameLength,
                         b.counters.maxTruncatedLength, b.counters.runtFrames, b.counters.crcErrorFrames,
                         b.counters.lost.timesRounded));
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
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
            st.time.sourceZone = utc;
            st.time.targetZone = newYork;
          });
      ReadResult back = ReadRow(row, path, [&](ConversionState& st) { st.time.sourceZone = newYork; });
      ASSERT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
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
    ASSERT_EQ(back.trace.frames.size(), 3u) << back.state.status.readErrorDetail;
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

// Frames of 9,000, 65,535 and 200,000 bytes (FCS included) through every
// writer: kept whole where its records hold them, otherwise cut at the limit
// of its fields, each cut counted, and never a byte that was not in the frame.
struct FrameSizeRow {
  AnalyzerType target;
  int32_t largestWhole;   // the longest of the three sizes the file keeps whole
  int32_t storedWhenCut;  // bytes a longer one comes back with
};

const FrameSizeRow kFrameSizes[] = {
    {Analyzer::Tcpdump, 200000, 0},
    {Analyzer::Pcapng, 200000, 0},
    {Analyzer::Snoop, 200000, 0},
    {Analyzer::NetMon2, 9000, 32768},
    {Analyzer::Surveyor, 200000, 0},
    // Wire lengths of at most 32,768: a cut frame keeps 4 bytes less than
    // that, so that it does not look whole with an FCS to rebuild.
    {Analyzer::SnifferPro, 9000, 32764},
    {Analyzer::SnifferDos, 9000, 32764},
    {Analyzer::Ostrawind, 9000, 32764},
    {Analyzer::LanAlyzer, 9000, 32768},
    {Analyzer::Observer, 9000, 32764},
    {Analyzer::DataGlance, 9000, 32768},
    {Analyzer::Lan900, 9000, 32768},
    {Analyzer::Domino, 9000, 32768},
    {Analyzer::Da30, 9000, 32768},
    {Analyzer::FireBerd500, 9000, 32764},
    {Analyzer::FireBerdDna323, 9000, 32764},
    {Analyzer::Advisor, 9000, 32768},
    {Analyzer::InternetAdvisor, 9000, 32692},
};

TEST(FormatTables, LongFramesAreKeptWholeOrCutAndCounted) {
  TempDir dir;
  for (const FrameSizeRow& row : kFrameSizes) {
    for (const int32_t size : {9000, 65535, 200000}) {
      SCOPED_TRACE(AnalyzerName(row.target) + ", " + std::to_string(size) + " bytes");
      Trace trace = MakeTrace(Topo::Ethernet, 3);
      trace.frames[1] = MakeFrame(trace.frames[1].time, size, Topo::Ethernet, 7);
      const std::string path = dir.path("size" + DefaultSuffix(row.target, Topo::Ethernet));
      const ConversionState s = WriteTrace(trace, row.target, path);
      EXPECT_FALSE(s.status.writeFailed) << s.status.writeErrorDetail;
      ReadResult back = ReadTrace(path);
      EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
      ASSERT_EQ(back.trace.frames.size(), 3u);
      const Frame& sent = trace.frames[1];
      const Frame& got = back.trace.frames[1];
      if (size <= row.largestWhole) {
        EXPECT_EQ(s.counters.lost.framesCut, 0);
        EXPECT_EQ(got.frameLength, size);
        ASSERT_EQ(got.bytes.size(), sent.bytes.size());
        // The FCS is the reader's to compute again.
        EXPECT_TRUE(std::equal(sent.bytes.begin(), sent.bytes.end() - 4, got.bytes.begin()));
        continue;
      }
      EXPECT_EQ(s.counters.lost.framesCut, 1);
      EXPECT_GE(s.counters.lost.bytesCut, size - row.storedWhenCut);
      ASSERT_GE(got.bytes.size(), size_t(row.storedWhenCut));
      EXPECT_TRUE(std::equal(sent.bytes.begin(), sent.bytes.begin() + row.storedWhenCut,
                             got.bytes.begin()));
      EXPECT_LE(got.frameLength, size);
    }
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
               [](ConversionState& s) { s.options.convertToWireless = true; });
    ReadResult back = ReadTrace(wireless);
    EXPECT_EQ(back.topology, Topo::Wireless);
    EXPECT_EQ(back.trace.frames.size(), 4u);
    bool writesEthernet = false;
    for (const RoundTripRow& other : kRoundTrips)
      writesEthernet |= other.target == row.target && other.topology == Topo::Ethernet;
    if (!writesEthernet) continue;
    const std::string ethernet = dir.path("e" + DefaultSuffix(row.target, Topo::Ethernet));
    WriteTrace(MakeTrace(Topo::Wireless, 4), row.target, ethernet,
               [](ConversionState& s) { s.options.convertToEthernet = true; });
    EXPECT_EQ(ReadTrace(ethernet).topology, Topo::Ethernet);
  }
}

// Made 802.11, the largest Ethernet frames grow past what any target holds:
// each record is cut to its target's limit, counted, and laid out whole, also
// where the target's block has no room left for it (six of them overrun a block).
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
        trace, row.target, path, [](ConversionState& s) { s.options.convertToWireless = true; });
    EXPECT_FALSE(written.status.writeFailed) << written.status.writeErrorDetail;
    ReadResult back = ReadTrace(path);
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
    ASSERT_EQ(back.trace.frames.size(), 6u);
    // The 802.11 header and payload as converted, up to what the target's
    // records hold: libpcap's largest record, 32,768 bytes in the others.
    const bool pcapFamily = row.target == Analyzer::Tcpdump || row.target == Analyzer::Pcapng;
    for (const Frame& f : back.trace.frames)
      EXPECT_EQ(f.frameLength, pcapFamily ? MaxRecordBytes : ClassicFrameBytes);
    EXPECT_EQ(written.counters.lost.framesCut, 6);
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
    EXPECT_TRUE(back.messages.empty());
    Tolerance tolerance{row.timeMicros};
    tolerance.compareFlags = row.comparesFlags;
    ExpectSameFrames(trace, back.trace, tolerance);
    if (row.dated) {
      EXPECT_EQ(back.trace.traceDate, trace.traceDate);
      EXPECT_EQ(back.state.time.timeZoneBias, -7200);
    }
  }
}

// Writers whose files state offsets or sizes in 32 bits, or count frames in
// a field of their own, with a lowered limit so that small files reach it.
struct LimitRow {
  AnalyzerType target;
  Topology topology;
  uint64_t offsetLimit;  // lowered targetOffsetLimit, 0: left alone
  int32_t frameLimit;    // lowered targetFrameLimit, 0: left alone
  int frames;            // frames offered: more than fit
  int64_t step = 10000;  // microseconds from one frame to the next
};

// The time a DA-30 or Domino file covers: 2^32 units of 32 us, rounded.
constexpr int64_t kThirtyEightHours = (int64_t(1) << 37) - 17;
constexpr int64_t kFiveHours = 5 * 3600 * int64_t(1000000);

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
    // 40 frames 5 hours apart: 8 to a file of 38 hours.
    {Analyzer::Domino, Topo::Ethernet, 0, 0, 40, kFiveHours},
    {Analyzer::Da30, Topo::Ethernet, 0, 0, 40, kFiveHours},
    // The second frame on the span's last microsecond, the third past it.
    {Analyzer::Domino, Topo::Ethernet, 0, 0, 3, kThirtyEightHours},
};

// What a file of a limit row holds at most.
size_t MostFramesOfFile(const LimitRow& row) {
  if (row.frameLimit) return size_t(row.frameLimit);
  return row.offsetLimit ? SIZE_MAX : size_t(kThirtyEightHours / row.step + 1);
}

// A target that would pass a limit of its format stops at the last frame
// that fits, says why, and is still a valid file of those frames.
TEST(FormatTables, TargetsStopAtTheirLimits) {
  TempDir dir;
  for (const LimitRow& row : kLimits) {
    SCOPED_TRACE(AnalyzerName(row.target) + std::string(row.frameLimit ? " frames" : " bytes"));
    const std::string path = dir.path("limit" + DefaultSuffix(row.target, row.topology));
    const Trace trace = MakeTrace(row.topology, row.frames, 3600LL * 1000000, row.step);
    ConversionState s = WriteTrace(trace, row.target, path, [&](ConversionState& st) {
      if (row.offsetLimit) st.options.targetOffsetLimit = row.offsetLimit;
      st.options.targetFrameLimit = row.frameLimit;
    });
    EXPECT_TRUE(s.status.writeFailed);
    EXPECT_NE(s.status.writeErrorDetail.find("are written"), std::string::npos) << s.status.writeErrorDetail;
    if (row.offsetLimit) {
      EXPECT_LE(ReadFileBytes(path).size(), row.offsetLimit);
    }
    ReadResult back = ReadTrace(path);
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
    ASSERT_GT(back.trace.frames.size(), 0u);
    EXPECT_LT(back.trace.frames.size(), trace.frames.size());
    if (!row.offsetLimit) {
      EXPECT_EQ(back.trace.frames.size(), MostFramesOfFile(row));
    }
    EXPECT_EQ(int64_t(back.trace.frames.size()), s.counters.framesWritten - s.counters.nonDataFrames);
    for (size_t i = 0; i < back.trace.frames.size(); ++i)
      EXPECT_EQ(back.trace.frames[i].frameLength, trace.frames[i].frameLength) << "frame " << i + 1;
  }
}

// With splitAtLimits the same targets go on in numbered files instead: each
// within the limit and valid on its own, together every frame in order.
TEST(FormatTables, TargetsSplitAtTheirLimits) {
  TempDir dir;
  for (const LimitRow& row : kLimits) {
    SCOPED_TRACE(AnalyzerName(row.target) + std::string(row.frameLimit ? " frames" : " bytes"));
    const std::string path = dir.path("split" + DefaultSuffix(row.target, row.topology));
    const Trace trace = MakeTrace(row.topology, row.frames, 3600LL * 1000000, row.step);
    MessageRecorder host;
    Conversion c(host);
    ConversionState& s = c.state;
    s.sourceAnalyzer = Analyzer::AnyAnalyzer;
    s.targetAnalyzer = row.target;
    s.traceTopology = row.topology;
    if (row.offsetLimit) s.options.targetOffsetLimit = row.offsetLimit;
    s.options.targetFrameLimit = row.frameLimit;
    s.options.splitAtLimits = true;
    size_t next = 0;
    c.customReader.open = [](Conversion& conv) { conv.state.time.traceDate = EncodeDate(2024, 3, 15); };
    c.customReader.next = [&](Conversion& conv) {
      if (next == trace.frames.size()) return ReadStatus::End;
      PutFrame(conv.state, trace.frames[next++]);
      return ReadStatus::Record;
    };
    int32_t files = 0;
    c.nextTarget = [&](Conversion& conv) {
      conv.target = CreateFileTarget(NumberedTargetName(path, ++files));
      return conv.target != nullptr;
    };
    c.target = CreateFileTarget(NumberedTargetName(path, 0));
    c.ConvertTrace(false, 0);
    EXPECT_FALSE(s.status.writeFailed) << s.status.writeErrorDetail;
    ASSERT_GE(files, 1);
    std::vector<Frame> frames;
    for (int32_t i = 0; i <= files; ++i) {
      const std::string file = NumberedTargetName(path, i);
      if (row.offsetLimit) {
        EXPECT_LE(ReadFileBytes(file).size(), row.offsetLimit) << file;
      }
      // Read as the medium written: FireBerd 500 files tell it by their first frame.
      ReadResult back = ReadTraceAs(file, row.target, row.topology);
      EXPECT_FALSE(back.state.status.readError) << file << ": " << back.state.status.readErrorDetail;
      EXPECT_LE(back.trace.frames.size(), MostFramesOfFile(row)) << file;
      // Each file's times as the trace had them, counted from its first frame
      // (a DA-30 file is dated by its modification time, which only the job sets).
      const size_t first = frames.size();
      for (size_t i = 0; i < back.trace.frames.size() && first + i < trace.frames.size(); ++i)
        EXPECT_NEAR(back.trace.frames[i].time - back.trace.frames[0].time,
                    trace.frames[first + i].time - trace.frames[first].time, 32)
            << file << " frame " << i + 1;
      frames.insert(frames.end(), back.trace.frames.begin(), back.trace.frames.end());
    }
    ASSERT_EQ(frames.size(), trace.frames.size());
    for (size_t i = 0; i < frames.size(); ++i)
      EXPECT_EQ(frames[i].frameLength, trace.frames[i].frameLength) << "frame " << i + 1;
  }
}

// A target that holds exactly as many frames as its field allows is complete,
// not a failure.
TEST(FormatTables, ATargetFilledToItsFrameLimitSucceeds) {
  TempDir dir;
  const std::string path = dir.path("full.pkt");
  ConversionState s = WriteTrace(MakeTrace(Topo::Ethernet, 7), Analyzer::FireBerd500, path,
                                 [](ConversionState& st) { st.options.targetFrameLimit = 7; });
  EXPECT_FALSE(s.status.writeFailed) << s.status.writeErrorDetail;
  EXPECT_EQ(ReadTrace(path).trace.frames.size(), 7u);
}

// Every type a family says it writes has a writer, and every writer is in
// the round-trip table.
// ------------------------------------------------------------ the record interface

// A family's reader run by the engine's loop, each status its `next` returns
// recorded: the frames it hands over and how it ends.
struct RecordRun {
  std::vector<ReadStatus> statuses;
  Trace trace;
  ConversionState state;
};

// What identification learns of a file the row wrote (or the row's type
// and topology where it cannot tell them).
ConversionState Identified(const RoundTripRow& row, const std::string& path) {
  ConversionState s;
  s.sourceFileName = path;
  s.sourceAnalyzer = row.target;
  s.traceTopology = row.topology;
  if (row.identifiesTopology) {
    bool openFailed = false, tooSmall = false;
    s.sourceAnalyzer = IdentifySource(s, path, openFailed, tooSmall);
    s.traceTopology = DetermineTopology(s, s.sourceAnalyzer, path, openFailed);
  }
  s.targetAnalyzer = Analyzer::AnyAnalyzer;
  return s;
}

RecordRun RunRecords(const ConversionState& identified) {
  RecordRun run;
  MessageRecorder host;
  Conversion c(host);
  ConversionState& s = c.state;
  s = identified;
  run.trace.topology = s.traceTopology;
  const std::string& path = s.sourceFileName;
  const FormatDescriptor* reader = ReaderFormat(s.sourceAnalyzer);
  if (!reader || !reader->nextRecord) {
    ADD_FAILURE() << "no reader for " << AnalyzerName(s.sourceAnalyzer);
    return run;
  }
  if (!reader->has(Capability::OwnSource)) c.source = OpenFileSource(path);
  c.customReader.open = [reader](Conversion& conv) {
    if (reader->readHeader) reader->readHeader(conv);
  };
  c.customReader.next = [&](Conversion& conv) {
    const ReadStatus status = reader->nextRecord(conv);
    run.statuses.push_back(status);
    return status;
  };
  c.frameObserver = [&](Conversion& conv) { run.trace.frames.push_back(FrameFromState(conv.state)); };
  c.ConvertTrace(false, 0);
  run.state = s;
  return run;
}

// Each reader's `next` hands over the records of a file its family's writer
// made, one by one and each once, then tells the end once.
TEST(FormatTables, NextHandsOverEachRecordThenTheEnd) {
  TempDir dir;
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(RowName(row.target, row.topology));
    const std::string path = dir.path("next" + DefaultSuffix(row.target, row.topology));
    const Trace trace = WriteRowTrace(row, path, 5);
    const RecordRun run = RunRecords(Identified(row, path));
    EXPECT_FALSE(run.state.status.readError) << run.state.status.readErrorDetail;
    std::vector<ReadStatus> expected(trace.frames.size(), ReadStatus::Record);
    expected.push_back(ReadStatus::End);
    EXPECT_EQ(run.statuses, expected);
    ExpectRowFrames(row, trace, run.trace);
  }
}

// A file cut inside its last frame's bytes: `next` hands over the records
// before it, then fails once with a reason that names the record cut short
// (or the file is refused at its header, where an index or trailer went
// with the cut), and is not asked again.
TEST(FormatTables, NextFailsAtARecordCutShortNamingIt) {
  TempDir dir;
  int cutInARecord = 0, rows = 0;
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(RowName(row.target, row.topology));
    ++rows;
    const std::string path = dir.path("cut" + DefaultSuffix(row.target, row.topology));
    const Trace trace = WriteRowTrace(row, path, 5);
    const ConversionState whole = Identified(row, path);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    // The last frame's bytes as stored: 16 of them from its middle.
    const std::vector<uint8_t>& last = trace.frames.back().bytes;
    ASSERT_GE(last.size(), 40u);
    const auto mark = last.begin() + long(last.size() / 2);
    const auto at = std::search(bytes.begin(), bytes.end(), mark, mark + 16);
    if (at == bytes.end()) continue;  // stored in another form (cells, compressed)
    bytes.erase(at + 8, bytes.end());
    WriteFileBytes(path, bytes);
    const RecordRun run = RunRecords(whole);
    EXPECT_TRUE(run.state.status.readError);
    EXPECT_FALSE(run.state.status.readErrorDetail.empty());
    if (run.statuses.empty()) continue;  // refused at the header step
    ++cutInARecord;
    std::vector<ReadStatus> expected(run.statuses.size() - 1, ReadStatus::Record);
    expected.push_back(ReadStatus::Failed);
    EXPECT_EQ(run.statuses, expected);
    EXPECT_LT(run.trace.frames.size(), trace.frames.size());
    const std::string record = Grouped(int64_t(run.trace.frames.size()) + 1);
    EXPECT_TRUE(run.state.status.readErrorDetail.find("frame " + record) != std::string::npos ||
                run.state.status.readErrorDetail.find("record " + record) != std::string::npos)
        << run.state.status.readErrorDetail;
  }
  // Most families fail in the record itself.
  EXPECT_GE(cutInARecord, rows / 2);
}

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

// ------------------------------------------------------------ link types

// Link types of no medium of ours, as libpcap files state them: libpcap and
// pcapng targets keep the link type and every byte of every record (a short
// frame is not padded, a cut one stays cut); every other writer refuses the
// source before writing anything, naming the link type.
struct LinkTypeRow {
  uint32_t linkType;
  const char* named;  // as refusals name it
};
const LinkTypeRow kLinkTypeRows[] = {
    {9, "link type 9 (PPP)"},          {101, "link type 101 (raw IP)"},
    {113, "link type 113 (Linux cooked)"}, {127, "link type 127 (802.11 radiotap)"},
    {228, "link type 228 (raw IPv4)"}, {229, "link type 229 (raw IPv6)"},
    {276, "link type 276 (Linux cooked v2)"}, {4000, "link type 4000"},
};

// A little-endian libpcap file of the link type: frames of 10 to 1,400
// bytes, one stored cut short.
std::vector<uint8_t> PcapOfLinkType(uint32_t linkType) {
  Bytes f;
  f.le32(0xA1B2C3D4).le16(2).le16(4).le32(0).le32(0).le32(65535).le32(linkType);
  const uint32_t lengths[] = {10, 41, 60, 1400, 333};
  for (uint32_t k = 0; k < 5; ++k) {
    const uint32_t stored = k == 4 ? 100 : lengths[k];
    f.le32(1700000000 + k).le32(k * 1001).le32(stored).le32(lengths[k]);
    f.data(Pattern(stored, uint8_t(k + linkType)));
  }
  return f.v;
}

JobResult ConvertForRow(const std::string& source, const std::string& target, AnalyzerType type,
                        MessageRecorder& host) {
  JobRequest job;
  job.sourcePath = source;
  job.targetPath = target;
  job.target = type;
  job.overwrite = true;
  job.formatOptions.get<PcapOutputChoice>().bigEndian = false;  // little-endian, as the source
  return RunConversionJob(job, DefaultCapabilities(), host);
}

// A libpcap link type past the 16 bits a pcapng interface states is a
// write failure naming it, never a link type cut to another.
TEST(FormatTables, ALinkTypePcapngCannotStateIsAWriteFailure) {
  TempDir dir;
  WriteFileBytes(dir.path("wide.pcap"), PcapOfLinkType(70000));
  MessageRecorder host;
  const JobResult r = ConvertForRow(dir.path("wide.pcap"), dir.path("wide.pcapng"),
                                    Analyzer::Pcapng, host);
  EXPECT_EQ(r.outcome, Outcome::WriteFailed);
  EXPECT_EQ(r.failureDetail, "interface 0: link type 70000 exceeds 65,535, the largest a pcapng "
                             "interface states");
}

TEST(FormatTables, LinkTypesPassThroughLibpcapAndPcapngAndAreRefusedElsewhere) {
  TempDir dir;
  for (const LinkTypeRow& row : kLinkTypeRows) {
    SCOPED_TRACE(row.named);
    const std::string source = dir.path("lt.pcap"), pcapng = dir.path("lt.pcapng");
    const std::vector<uint8_t> bytes = PcapOfLinkType(row.linkType);
    WriteFileBytes(source, bytes);
    MessageRecorder host;
    ASSERT_EQ(ConvertForRow(source, pcapng, Analyzer::Pcapng, host).outcome, Outcome::Converted);
    ASSERT_EQ(ConvertForRow(pcapng, dir.path("back.pcap"), Analyzer::Tcpdump, host).outcome,
              Outcome::Converted);
    const std::vector<uint8_t> back = ReadFileBytes(dir.path("back.pcap"));
    ASSERT_EQ(back.size(), bytes.size());
    EXPECT_EQ(Le32(back, 20), row.linkType);
    EXPECT_TRUE(std::equal(bytes.begin() + 24, bytes.end(), back.begin() + 24));
    EXPECT_TRUE(host.messages.empty());
    for (int type = 0; type < Analyzer::Count; ++type) {
      const auto target = AnalyzerType(type);
      if (!HasWriter(target) || target == Analyzer::Tcpdump || target == Analyzer::Pcapng) continue;
      SCOPED_TRACE(AnalyzerName(target));
      MessageRecorder refused;
      const std::string path = dir.path("refused" + DefaultSuffix(target, Topo::Ethernet));
      EXPECT_EQ(ConvertForRow(source, path, target, refused).outcome, Outcome::NoWriter);
      ASSERT_EQ(refused.messages.size(), 1u);
      EXPECT_EQ(refused.messages[0], "Output: lt.pcap: " + std::string(row.named) +
                                         " cannot be written as " + AnalyzerName(target) + ".");
      EXPECT_NE(access(path.c_str(), F_OK), 0);
    }
  }
}

// ------------------------------------------------------------ damaged input

struct DamagedRow {
  AnalyzerType writer;  // writes the good file the damage starts from
  Topology topology;
  bool needsItsEnd = false;  // every cut is a read error (the file ends with its index)
  // The file states its frame count, its end record or its block layout: no
  // cut reads cleanly to frames (a read error, or no frame at all).
  bool statesItsEnd = false;
  int32_t targetLayout = 0;  // the writer's layout where it has several
};

const DamagedRow kDamaged[] = {
    {Analyzer::Tcpdump, Topo::Ethernet},      {Analyzer::NetMon1, Topo::Ethernet},
    {Analyzer::NetMon2, Topo::TokenRing},     {Analyzer::Snoop, Topo::Ethernet},
    {Analyzer::Surveyor, Topo::Ethernet},     {Analyzer::SnifferPro, Topo::Ethernet},
    {Analyzer::SnifferDos, Topo::Ethernet, false, true},
    {Analyzer::Ostrawind, Topo::Ethernet, false, true},
    {Analyzer::Farrowe, Topo::Ethernet, false, true},
    {Analyzer::Pcapng, Topo::Ethernet},
    {Analyzer::LanAlyzer, Topo::Ethernet},    {Analyzer::Observer, Topo::Ethernet},
    {Analyzer::Observer, Topo::Ethernet, false, false, 15},
    {Analyzer::DataGlance, Topo::Ethernet},   {Analyzer::Lan900, Topo::Ethernet},
    {Analyzer::Domino, Topo::Ethernet, true},     {Analyzer::Da30, Topo::Ethernet},
    {Analyzer::FireBerd500, Topo::Ethernet},  {Analyzer::FireBerdDna323, Topo::Ethernet},
    {Analyzer::Skavelin, Topo::Wireless, false, true},
    {Analyzer::Advisor, Topo::Ethernet},      {Analyzer::Advisor, Topo::T1},
    {Analyzer::Advisor, Topo::AtmOc3},        {Analyzer::NetworkAnalyzer, Topo::TokenRing},
    {Analyzer::InternetAdvisor, Topo::Ethernet, false, true},
};

// A damaged file is either refused, read to a clean end, or ends with the
// read error and a reason; never a crash, a hang or more frames than it has.
// What comes out of a cut file is what the whole file holds, frame for frame.
ReadResult ExpectCleanEnd(const std::string& path, AnalyzerType reader, Topology topology,
                    size_t framesWritten, const std::string& what, const Trace* whole = nullptr,
                    uint32_t variant = 0) {
  ReadResult r = ReadTraceAs(path, reader, topology,
                             [variant](ConversionState& s) { s.sourceVariant = variant; });
  EXPECT_LE(r.trace.frames.size(), framesWritten) << what;
  if (r.state.status.readError) {
    EXPECT_FALSE(r.state.status.readErrorDetail.empty()) << what << ": a read error without a reason";
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
    WriteTrace(trace, row.writer, goodPath,
               [&](ConversionState& s) { s.options.targetLayout = row.targetLayout; });
    // What identification learns of the good file (the libpcap byte order)
    // is handed to the reader of each cut, as the program does.
    const ReadResult good = ReadTrace(goodPath);
    ASSERT_EQ(good.trace.frames.size(), trace.frames.size());
    const uint32_t variant = good.state.sourceVariant;
    const std::vector<uint8_t> bytes = ReadFileBytes(goodPath);
    const std::string cut = dir.path("cut" + DefaultSuffix(row.writer, row.topology));
    // Every cut through the headers and the first records (the first 1,600
    // bytes of a file that states its end), then a sample of cuts through
    // the frame bytes and what follows them.
    const size_t stride = std::max<size_t>(7, bytes.size() / 500);
    const size_t everyByteTo = row.statesItsEnd ? 1600 : 400;
    for (size_t n = 0; n < bytes.size(); n += n < everyByteTo ? 1 : stride) {
      WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
      const std::string what = "cut at " + std::to_string(n);
      const ReadResult r = ExpectCleanEnd(cut, row.writer, row.topology, trace.frames.size(), what,
                                          &good.trace, variant);
      if (row.needsItsEnd) {
        EXPECT_TRUE(r.state.status.readError) << what;
      }
      if (row.statesItsEnd) {
        EXPECT_TRUE(r.state.status.readError || r.trace.frames.empty())
            << what << ": " << r.trace.frames.size() << " frames and no read error";
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
        EXPECT_TRUE(r.state.status.readError) << "cut by " << less << (gzip ? " (gzip)" : "");
        EXPECT_FALSE(r.state.status.readErrorDetail.empty());
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
      if (r.analyzer == Analyzer::Unknown || (!r.state.status.readError && r.trace.frames.empty()))
        continue;  // refused, or no frames
      EXPECT_TRUE(r.state.status.readError) << what;
      EXPECT_FALSE(r.state.status.readErrorDetail.empty()) << what;
      if (n + 1 == bytes.size()) {
        EXPECT_NE(r.state.status.readErrorDetail.find(row.lastByteCut), std::string::npos)
            << r.state.status.readErrorDetail;
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
  int framesKept = -1;  // frames read before the error; -1 where not checked
  int32_t targetLayout = 0;  // the writer's layout where it has several
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
std::function<void(std::vector<uint8_t>&)> Be16At(size_t at, uint16_t v) {
  return [=](std::vector<uint8_t>& f) { PutBE16(f.data() + at, v); };
}
std::function<void(std::vector<uint8_t>&)> Be32At(size_t at, uint32_t v) {
  return [=](std::vector<uint8_t>& f) { PutBE32(f.data() + at, v); };
}
std::function<void(std::vector<uint8_t>&)> CutTo(size_t size) {
  return [=](std::vector<uint8_t>& f) { f.resize(size); };
}
// Replaces the first occurrence of `from` (of the same length as `to`).
std::function<void(std::vector<uint8_t>&)> TextFor(std::string from, std::string to) {
  return [=](std::vector<uint8_t>& f) {
    const auto at = std::search(f.begin(), f.end(), from.begin(), from.end());
    ASSERT_NE(at, f.end()) << from;
    std::copy(to.begin(), to.end(), at);
  };
}

constexpr size_t kDominoIndex = 238 + 64 + 40 + 100;
const DamagedFieldRow kDamagedFields[] = {
    {"Domino index count beyond the file", Analyzer::Domino, Le32At(kDominoIndex + 4, 0xFFFFFFF0u),
     "record 4 at offset 510: the index at offset 446 states 4,294,967,280 entries, but the file "
     "holds 3", 3},
    {"Domino index count one beyond its entries", Analyzer::Domino, Le32At(kDominoIndex + 4, 4),
     "states 4 entries, but the file holds 3", 3},
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
    // Frame records at 3018 and 3114, holding 60 and 40 bytes.
    {"LANalyzer stored length beyond its record", Analyzer::LanAlyzer, Le16At(3018 + 10, 61),
     "record 1 at offset 3,018: stored length 61 exceeds the 60 bytes its record holds", 0},
    {"LANalyzer second stored length beyond its record", Analyzer::LanAlyzer,
     Le16At(3114 + 10, 1000), "record 2 at offset 3,114: stored length 1,000 exceeds the 40", 1},
    {"Observer data length of 4 GB", Analyzer::Observer, Le32At(113 + 40, 0xFFFFFFF0u), ""},
    {"Observer next record pointing at itself", Analyzer::Observer, Le32At(113 + 12, 113), ""},
    {"Observer next record pointing back", Analyzer::Observer, Le32At(113 + 44 + 64 + 12, 113), ""},
    {"Observer without a marker", Analyzer::Observer, Le32At(113, 0), ""},
    // Observer layout 15: a 44-byte header, records of 48 + 60, 48 + 40 and 48 + 96 bytes.
    {"Observer 15 header entry past the first packet", Analyzer::Observer, Le16At(38, 200),
     "Observer header entry 1 at offset 36: length 200 runs past the first packet at offset 44",
     0, 15},
    {"Observer 15 frame offset inside the record header", Analyzer::Observer, Le16At(44 + 12, 10),
     "record 1 at offset 44: frame offset 10 and next offset 108 do not hold its 60 bytes", 0, 15},
    {"Observer 15 next offset short of the frame", Analyzer::Observer, Le16At(152 + 14, 60),
     "record 2 at offset 152: frame offset 48 and next offset 60 do not hold its 40 bytes", 1, 15},
    {"Observer 15 second record without a marker", Analyzer::Observer, Le32At(152, 0),
     "record 2 at offset 152: no packet marker", 1, 15},
    {"Observer 15 network type changing", Analyzer::Observer,
     [](std::vector<uint8_t>& f) { f[240 + 16] = 9; },
     "record 3 at offset 240: network type 9 differs from the trace's first", 2, 15},
    {"Observer 15 cut inside the last frame", Analyzer::Observer, CutTo(240 + 48 + 50),
     "frame 3 at offset 240: stored length 96, but the file ends after 50 of them", 2, 15},
    {"DataGLANce stored length 65,535", Analyzer::DataGlance, Le16At(512 + 2, 65535),
     "record 1 at offset 512: stored length 65,535 exceeds 32,768"},
    {"DataGLANce second frame's stored length 65,535", Analyzer::DataGlance,
     Le16At(512 + 128 + 2, 65535), "record 2 at offset 640: stored length 65,535"},
    {"DataGLANce file cut inside a continuation block", Analyzer::DataGlance,
     [](std::vector<uint8_t>& f) { f.resize(512 + 3 * 128 + 50); },
     "record 3 at offset 768: continuation block cut short"},
    {"DataGLANce file cut at the block before a continuation", Analyzer::DataGlance,
     CutTo(512 + 3 * 128), "frame 3 at offset 768: stored length 100 exceeds the 88 bytes"},
    {"DataGLANce first block where a continuation belongs", Analyzer::DataGlance,
     Le16At(512 + 128 + 2, 100), "frame 2 at offset 640: stored length 100 exceeds the 88 bytes"},
    // Ostrawind: the 50-byte header, then records of 16 + 64, 16 + 40 and 16 + 100 bytes.
    {"Ostrawind header count beyond its records", Analyzer::Ostrawind, Be32At(6, 300),
     "frame 4 at offset 302: the header states 300 frames, the file ends after 3"},
    {"Ostrawind cut at a record boundary", Analyzer::Ostrawind, CutTo(186),
     "frame 3 at offset 186: the header states 3 frames, the file ends after 2"},
    {"Ostrawind slice beyond the file", Analyzer::Ostrawind, Be16At(186 + 4, 2000),
     "frame 3 at offset 186: stored length 2,000, but the file ends after 100 of them"},
    {"Ostrawind odd slice without its pad byte", Analyzer::Ostrawind,
     [](std::vector<uint8_t>& f) {
       PutBE16(f.data() + 186 + 4, 99);
       f.resize(f.size() - 1);
     },
     "frame 3 at offset 186: the pad byte after its 99 bytes is missing"},
    {"Farrowe PacketCount beyond its records", Analyzer::Farrowe,
     TextFor("<PacketCount>       3<", "<PacketCount>     300<"),
     "the header states 300 frames, the file ends after 3"},
    {"Sniffer DOS without its end-of-file record", Analyzer::SnifferDos,
     [](std::vector<uint8_t>& f) { f.resize(f.size() - 6); },
     "frame 4 at offset 311: the file ends without its end-of-file record"},
    // Internet Advisor: the 128-byte header, a group record of 28 bytes, frame
    // records of 36 + 64 and 36 + 40 bytes.
    {"Internet Advisor cut at a record boundary", Analyzer::InternetAdvisor, CutTo(332),
     "frame 3 at offset 332: the file ends 204 bytes into a block of 32,768"},
    {"Internet Advisor padding record cut short", Analyzer::InternetAdvisor,
     [](std::vector<uint8_t>& f) { f.resize(f.size() - 4); }, "runs past the end"},
    {"LAN900 body length 65,535", Analyzer::Lan900, Le16At(65536 + 2, 65535), ""},
    {"LAN900 body length 1", Analyzer::Lan900, Le16At(65536 + 2, 1), ""},
    // The second record (at 65,610) would reach into a page that follows.
    {"LAN900 body running into the next page", Analyzer::Lan900,
     [](std::vector<uint8_t>& f) {
       PutLE16(f.data() + 65610 + 2, 65535);
       f.resize(f.size() + 65536, 0xAB);
     },
     "record 2 at offset 65,610: record of 65,535 bytes runs past the end of its page at offset "
     "131,072", 1},
    // SnifferPro: records at 128, 228 and 308, ending at 444.
    {"SnifferPro cut at a record boundary before its record count", Analyzer::SnifferPro,
     [](std::vector<uint8_t>& f) { f.resize(308); },
     "record 3 at offset 308: the file ends after 2 of the 3 records its header states", 2},
    {"SnifferPro cut at a record boundary before its end offset", Analyzer::SnifferPro,
     [](std::vector<uint8_t>& f) {
       PutLE32(f.data() + 16, 0);  // no record count
       f.resize(228);
     },
     "record 2 at offset 228: the file ends before the end offset 444 its header states", 1},
    // Sniffer DOS: a line record at 41, the first frame record at 55.
    {"Sniffer DOS end of file before any frame", Analyzer::SnifferDos, Le16At(55, 3),
     "offset 55: end-of-file record before any frame"},
    {"Sniffer DOS record length 40,000", Analyzer::SnifferDos, Le16At(55 + 2, 40000),
     "frame 1: record length 40,000 exceeds 32,782"},
    {"Sniffer DOS record shorter than its frame header", Analyzer::SnifferDos, Le16At(55 + 2, 10),
     "frame 1: record of 10 bytes, shorter than its 14-byte frame header"},
    {"Sniffer DOS stored length beyond its record", Analyzer::SnifferDos, Le16At(55 + 6 + 6, 2000),
     "frame 1: stored length 2,000 exceeds the 60 bytes its record holds"},
    {"Advisor header still saying open", Analyzer::Advisor, Le32At(16, 0),
     "the file was never completed: its header still says it is being written"},
};

TEST(FormatTables, DamagedFieldsEndWithTheReadErrorAndTheirReason) {
  TempDir dir;
  for (const DamagedFieldRow& row : kDamagedFields) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.path("bad" + DefaultSuffix(row.writer, Topo::Ethernet));
    WriteTrace(SmallTrace(), row.writer, path,
               [&](ConversionState& s) { s.options.targetLayout = row.targetLayout; });
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    row.damage(bytes);
    WriteFileBytes(path, bytes);
    ReadResult r = ReadTraceAs(path, row.writer, Topo::Ethernet);
    EXPECT_TRUE(HasReadErrorMessage(r));
    EXPECT_FALSE(r.state.status.readErrorDetail.empty());
    EXPECT_NE(r.state.status.readErrorDetail.find(row.detail), std::string::npos)
        << r.state.status.readErrorDetail;
    if (row.framesKept >= 0) {
      EXPECT_EQ(r.trace.frames.size(), size_t(row.framesKept));
    }
  }
}

TEST(FormatTables, AbsurdFieldValuesEndCleanly) {
  TempDir dir;
  const uint32_t kValues[] = {0, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 0xFFFFFFF0};
  for (const DamagedRow& row : kDamaged) {
    SCOPED_TRACE(RowName(row.writer, row.topology));
    const std::string good = dir.path("good" + DefaultSuffix(row.writer, row.topology));
    Trace trace = MakeTrace(row.topology, 3);
    WriteTrace(trace, row.writer, good,
               [&](ConversionState& s) { s.options.targetLayout = row.targetLayout; });
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

// ------------------------------------------------------------ salvage

// Where the k-th record (from 0) of a file begins, walking records whose
// length `recordBytes` reads from their first bytes, from `first` on.
size_t RecordAt(const std::vector<uint8_t>& f, size_t first, int k,
                const std::function<size_t(const uint8_t*)>& recordBytes) {
  size_t at = first;
  for (int i = 0; i < k; ++i) at += recordBytes(f.data() + at);
  return at;
}
size_t PcapRecord(const std::vector<uint8_t>& f, int k) {
  const bool big = GetBE32(f.data()) == 0xA1B2C3D4;
  return RecordAt(f, 24, k, [big](const uint8_t* p) { return 16 + Get32(p + 8, big); });
}
size_t SnoopRecord(const std::vector<uint8_t>& f, int k) {
  return RecordAt(f, 16, k, [](const uint8_t* p) { return GetBE32(p + 8); });
}
// Packet blocks follow the section header and the interface description.
size_t PcapngPacketBlock(const std::vector<uint8_t>& f, int k) {
  return RecordAt(f, 0, k + 2, [](const uint8_t* p) { return GetLE32(p + 4); });
}

using RecordFinder = size_t (*)(const std::vector<uint8_t>&, int);
// n bytes of `fill` put before the k-th record.
std::function<void(std::vector<uint8_t>&)> GarbageBefore(RecordFinder record, int k, size_t n,
                                                         uint8_t fill) {
  return [=](std::vector<uint8_t>& f) {
    f.insert(f.begin() + long(record(f, k)), n, fill);
  };
}

// Damage a salvaging reader passes over. Read without salvage it is the
// read error it always was; with salvage the frames listed come out as the
// good file holds them, and the span passed over is counted with its reason.
struct SalvageRow {
  const char* name;
  AnalyzerType writer;  // writes the good file: SmallTrace() on Ethernet
  std::function<void(std::vector<uint8_t>&)> damage;
  std::vector<size_t> kept;  // frames of the good file that come out with salvage
  int64_t skippedBytes;      // 0: the format does not resynchronise
  const char* detail;        // the reason, both ways
  int64_t spans = 1;         // damaged spans passed over
};

const SalvageRow kSalvaged[] = {
    {"libpcap garbage before record 2", Analyzer::Tcpdump, GarbageBefore(PcapRecord, 1, 37, 0xFF),
     {0, 1, 2}, 37, "record 2 at offset 100: captured length 4,294,967,295 exceeds 262,144"},
    {"libpcap three bytes before record 2, the last one cut", Analyzer::Tcpdump,
     [](std::vector<uint8_t>& f) {
       f.resize(f.size() - 10);
       GarbageBefore(PcapRecord, 1, 3, 0x00)(f);
     },
     {0, 1}, 3 + 102, "record 2 at offset 100: ", 2},
    // Seconds are unsigned: a record dated 2106 lies too far from the others
    // to belong to their trace.
    {"libpcap record 2 dated 2106", Analyzer::Tcpdump, Le32At(100, 0xFFFFFFFFu), {0, 2}, 56,
     "time lies 2,584,469,265 s from the first frame's"},
    {"libpcap garbage inside record 2's header", Analyzer::Tcpdump,
     [](std::vector<uint8_t>& f) { f.insert(f.begin() + 100 + 8, 300, 0xEE); }, {0, 2}, 356,
     "record 2 at offset 100: captured length 4,008,636,142 exceeds 262,144"},
    {"libpcap cut inside its last record", Analyzer::Tcpdump,
     [](std::vector<uint8_t>& f) { f.resize(f.size() - 10); }, {0, 1}, 102,
     "record 3 at offset 156: frame cut short: 96 bytes stated"},
    {"pcapng garbage between packet blocks", Analyzer::Pcapng,
     GarbageBefore(PcapngPacketBlock, 1, 37, 0xAB), {0, 1, 2}, 37,
     "block length 2,880,154,539 is not a multiple of 4"},
    {"pcapng trailing length differs", Analyzer::Pcapng,
     [](std::vector<uint8_t>& f) {
       const size_t at = PcapngPacketBlock(f, 1);
       PutLE32(f.data() + at + GetLE32(f.data() + at + 4) - 4, 12);
     },
     {0, 2}, 72, "record 2 at offset 184: trailing length 12 differs from the leading length 72"},
    {"snoop garbage before record 2", Analyzer::Snoop, GarbageBefore(SnoopRecord, 1, 41, 0xFF),
     {0, 1, 2}, 41, "record 2 at offset 100: record length 4,294,967,295 outside 24 to"},
    {"snoop included length beyond its record", Analyzer::Snoop,
     [](std::vector<uint8_t>& f) { PutBE32(f.data() + SnoopRecord(f, 1) + 4, 2000); }, {0, 2}, 64,
     "record 2 at offset 100: included length 2,000 exceeds the record's 40 bytes"},
    {"Surveyor garbage before record 3", Analyzer::Surveyor, GarbageBefore(SnoopRecord, 2, 5, 0),
     {0, 1, 2}, 5, "record 3 at offset"},
    {"SnifferPro cut: no resynchronising", Analyzer::SnifferPro,
     [](std::vector<uint8_t>& f) { f.resize(f.size() - 10); }, {0, 1}, 0, "record 3"},
};

TEST(FormatTables, SalvagePassesOverDamageOnRequestOnly) {
  TempDir dir;
  for (const SalvageRow& row : kSalvaged) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.path("good" + DefaultSuffix(row.writer, Topo::Ethernet));
    WriteTrace(SmallTrace(), row.writer, path);
    const ReadResult good = ReadTrace(path);  // identification learns the libpcap byte order
    ASSERT_EQ(good.trace.frames.size(), 3u);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    row.damage(bytes);
    const std::string bad = dir.path("bad" + DefaultSuffix(row.writer, Topo::Ethernet));
    WriteFileBytes(bad, bytes);
    const uint32_t variant = good.state.sourceVariant;
    const ReadResult plain = ReadTraceAs(bad, row.writer, Topo::Ethernet,
                                         [&](ConversionState& s) { s.sourceVariant = variant; });
    EXPECT_TRUE(plain.state.status.readError);
    EXPECT_NE(plain.state.status.readErrorDetail.find(row.detail), std::string::npos)
        << plain.state.status.readErrorDetail;
    EXPECT_FALSE(plain.state.counters.skipped.any());
    const ReadResult salvaged =
        ReadTraceAs(bad, row.writer, Topo::Ethernet, [&](ConversionState& s) {
          s.sourceVariant = variant;
          s.options.salvage = true;
        });
    Trace expected;
    for (size_t i : row.kept) expected.frames.push_back(good.trace.frames.at(i));
    ExpectSameFrames(expected, salvaged.trace);
    if (row.skippedBytes == 0) {  // as without salvage
      EXPECT_TRUE(salvaged.state.status.readError);
      EXPECT_EQ(salvaged.state.status.readErrorDetail, plain.state.status.readErrorDetail);
      EXPECT_FALSE(salvaged.state.counters.skipped.any());
      continue;
    }
    EXPECT_FALSE(salvaged.state.status.readError) << salvaged.state.status.readErrorDetail;
    EXPECT_EQ(salvaged.state.counters.skipped.bytes, row.skippedBytes);
    EXPECT_EQ(salvaged.state.counters.skipped.records, row.spans);
    EXPECT_NE(salvaged.state.counters.skipped.firstReason.find(row.detail), std::string::npos)
        << salvaged.state.counters.skipped.firstReason;
  }
}

// ------------------------------------------------------------ third party

struct InteropRow {
  AnalyzerType analyzer;
  const char* editcapType;  // editcap -F
  const char* suffix;
  double seconds = 0.000001;  // time tolerance: the coarser of the two formats' resolutions
  const char* options = "";   // for writing ours
  bool throughPipe = false;   // ours written to standard output, into a pipe
  bool longFrames = false;    // frames of 9,000, 32,768, 65,535 and 200,000 bytes, byte for byte
};

const InteropRow kInterop[] = {
    {Analyzer::Tcpdump, "pcap", ".dmp"},
    {Analyzer::Tcpdump, "nsecpcap", ".dmp"},
    {Analyzer::Tcpdump, "modpcap", ".dmp"},
    {Analyzer::Tcpdump, "rh6_1pcap", ".dmp"},    // modified records behind the standard magic
    {Analyzer::Tcpdump, "suse6_3pcap", ".dmp"},  // longer records behind the modified magic
    {Analyzer::Tcpdump, "nokiapcap", ".dmp"},
    // Ours in the modified layout, little-endian: the magic 34 cd b2 a1 as editcap writes.
    {Analyzer::Tcpdump, "modpcap", ".dmp", 0.000001, "--pcap-variant modified --pcap-order little"},
    {Analyzer::NetMon1, "netmon1", ".cap", 0.0006},
    {Analyzer::NetMon2, "netmon2", ".cap"},
    {Analyzer::Snoop, "snoop", ".snoop"},
    {Analyzer::Snoop, "snoop", ".snoop", 0.000001, "", true},
    {Analyzer::LanAlyzer, "lanalyzer", ".tr1"},
    // editcap's PC-timer unit differs from the analyzer's in the seventh
    // digit: 2.8 ms over an hour since midnight.
    {Analyzer::SnifferDos, "ngsniffer", ".enc", 0.005},
    {Analyzer::SnifferPro, "ngwsniffer_2_0", ".cap"},
    {Analyzer::Tcpdump, "pcap", ".dmp", 0.000001, "", false, true},
    {Analyzer::Pcapng, "pcapng", ".pcapng", 0.000001, "", false, true},
    // editcap writes Observer version 15; ours in that layout reads in tshark.
    {Analyzer::Observer, "observer", ".bfr", 0.000001, "--observer-layout 15"},
};

// Files editcap writes convert to libpcap with the frames tshark sees in them;
// what we write in each format tshark reads back with the same frames.
TEST(FormatTables, EditcapFilesConvertAndOurFilesReadInTshark) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  const std::string shortSource = dir.path("src.dmp");
  // From a whole second (editcap's LANalyzer files count from the first
  // frame's), in steps of odd microseconds.
  Trace trace = MakeTrace(Topo::Ethernet, 30, 3600LL * 1000000, 1777);
  trace.frames[4].bytes.resize(100);  // cut short: every stored byte is kept, no FCS among them
  WriteTrace(trace, Analyzer::Tcpdump, shortSource);
  const std::vector<TsharkFrame> expectedShort = TsharkFrames(shortSource);
  ASSERT_EQ(expectedShort.size(), 30u);
  const std::string longSource = dir.path("long.dmp");
  Trace longTrace = MakeTrace(Topo::Ethernet, 4, 3600LL * 1000000, 1777);
  for (int i = 0; i < 4; ++i)  // with the FCS the reader adds
    longTrace.frames[size_t(i)] = MakeFrame(longTrace.frames[size_t(i)].time,
                                            std::array{9000, 32768, 65535, 200000}[size_t(i)] + 4,
                                            Topo::Ethernet, uint8_t(i));
  WriteTrace(longTrace, Analyzer::Tcpdump, longSource);
  const std::vector<TsharkFrame> expectedLong = TsharkFrames(longSource);
  ASSERT_EQ(expectedLong.size(), 4u);
  EXPECT_EQ(expectedLong[3].captured, 200000);
  for (const InteropRow& row : kInterop) {
    const std::string& source = row.longFrames ? longSource : shortSource;
    const std::vector<TsharkFrame>& expected = row.longFrames ? expectedLong : expectedShort;
    SCOPED_TRACE(std::string(row.editcapType) + " " + row.options +
                 (row.throughPipe ? " through a pipe" : "") + (row.longFrames ? " long frames" : ""));
    // Theirs to ours.
    const std::string prefix = row.longFrames ? "long_" : "";
    const std::string theirs = dir.path(prefix + "theirs_" + row.editcapType + row.suffix);
    ASSERT_EQ(RunCommand("editcap -F " + std::string(row.editcapType) + " " + source + " " + theirs)
                  .status,
              0);
    const std::string converted = dir.path(prefix + "conv_" + row.editcapType + ".dmp");
    CommandResult run = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + theirs +
                                   " --to TD -o " + converted + " --quiet");
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectSameTsharkFrames(expected, TsharkFrames(converted), row.seconds);
    // Ours to theirs.
    const std::string ours = dir.path(prefix + "ours_" + row.editcapType + row.suffix);
    // Grouped, so that the pipe's end writes the file, not the runner's output.
    run = RunCommand("{ " + std::string(MORPHALITE_BINARY) + " convert " + source + " --to \"" +
                     AnalyzerName(row.analyzer) + "\" " + row.options +
                     (row.throughPipe ? " -o - --quiet | cat > " + ours : " -o " + ours + " --quiet") +
                     "; }");
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectSameTsharkFrames(expected, TsharkFrames(ours), row.seconds);
    if (row.longFrames) {
      EXPECT_EQ(TsharkFrameText(converted), TsharkFrameText(source));
      EXPECT_EQ(TsharkFrameText(ours), TsharkFrameText(source));
    }
    // Asked for editcap's layout, ours starts with the magic editcap wrote.
    const std::vector<uint8_t> ourBytes = ReadFileBytes(ours), theirBytes = ReadFileBytes(theirs);
    if (*row.options) {
      EXPECT_TRUE(ourBytes.size() >= 4 && theirBytes.size() >= 4 &&
                  std::equal(ourBytes.begin(), ourBytes.begin() + 4, theirBytes.begin()));
    }
  }
}

// Link types editcap sets, through libpcap -> pcapng -> libpcap: the same
// link type and records; refused for snoop, naming the number.
TEST(FormatTables, EditcapLinkTypesSurvivePcapngAndAreRefusedForSnoop) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 12), Analyzer::Tcpdump, dir.path("eth.pcap"));
  const struct {
    const char* editcapType;
    uint32_t linkType;
  } rows[] = {{"rawip", 101}, {"linux-sll", 113}, {"ieee-802-11-radiotap", 127},
              {"rawip4", 228}, {"linux-sll2", 276}};
  const std::string tool = MORPHALITE_BINARY;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.editcapType);
    const std::string theirs = dir.path(std::string(row.editcapType) + ".pcap");
    ASSERT_EQ(RunCommand("editcap -F pcap -T " + std::string(row.editcapType) + " " +
                         dir.path("eth.pcap") + " " + theirs).status, 0);
    const std::vector<uint8_t> source = ReadFileBytes(theirs);
    ASSERT_EQ(Le32(source, 20), row.linkType);
    const std::string pcapng = dir.path("lt.pcapng"), back = dir.path("back.pcap");
    CommandResult r = RunCommand(tool + " convert " + theirs + " --to PN -o " + pcapng + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectSameTsharkFrames(TsharkFrames(theirs), TsharkFrames(pcapng), 0.000001);
    r = RunCommand(tool + " convert " + pcapng + " --to TD --pcap-order little -o " + back + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> again = ReadFileBytes(back);
    ASSERT_EQ(again.size(), source.size());
    EXPECT_EQ(Le32(again, 20), row.linkType);
    EXPECT_TRUE(std::equal(source.begin() + 24, source.end(), again.begin() + 24));
    EXPECT_EQ(TsharkFrameText(back), TsharkFrameText(theirs));
    r = RunCommand(tool + " convert " + theirs + " --to snoop -o " + dir.path("x.snoop"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("link type " + std::to_string(row.linkType)), std::string::npos) << r.err;
    EXPECT_NE(access(dir.path("x.snoop").c_str(), F_OK), 0);
  }
}

// Frames tshark counts on each interface of a file.
std::map<int, int> TsharkInterfaceFrames(const std::string& path) {
  std::map<int, int> counts;
  const std::string out =
      RunCommand("tshark -r " + path + " -T fields -e frame.interface_id 2>/dev/null").out;
  size_t at = 0;
  for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    ++counts[std::atoi(out.substr(at, end - at).c_str())];
  return counts;
}

// Ethernet and Linux cooked captures merged by mergecap: pcapng keeps both
// interfaces and a packet comment editcap adds; libpcap refuses the mix,
// pointing to --interface; --interface 1 and --split-interfaces write the
// right frames.
TEST(FormatTables, MergecapInterfacesAndEditcapCommentsSurvive) {
  if (!HaveTool("mergecap") || !HaveTool("editcap") || !HaveTool("tshark"))
    GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  const std::string tool = MORPHALITE_BINARY;
  WriteTrace(MakeTrace(Topo::Ethernet, 30), Analyzer::Tcpdump, dir.path("eth.pcap"));
  WriteTrace(MakeTrace(Topo::Ethernet, 30, 3600LL * 1000000 + 500), Analyzer::Tcpdump,
             dir.path("other.pcap"));
  ASSERT_EQ(RunCommand("editcap -T linux-sll " + dir.path("other.pcap") + " " + dir.path("sll.pcap"))
                .status, 0);
  const std::string two = dir.path("two.pcapng"), commented = dir.path("commented.pcapng");
  ASSERT_EQ(RunCommand("mergecap -w " + two + " " + dir.path("eth.pcap") + " " + dir.path("sll.pcap"))
                .status, 0);
  ASSERT_EQ(RunCommand("editcap -a '3:a packet comment' " + two + " " + commented).status, 0);

  CommandResult r = RunCommand(tool + " convert " + commented + " --to PN -o " +
                               dir.path("kept.pcapng") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TsharkInterfaceFrames(dir.path("kept.pcapng")), (std::map<int, int>{{0, 30}, {1, 30}}));
  EXPECT_EQ(TsharkFrameText(dir.path("kept.pcapng")), TsharkFrameText(commented));
  const std::string comments = " -Y frame.comment -T fields -e frame.number -e frame.comment 2>/dev/null";
  EXPECT_EQ(RunCommand("tshark -r " + dir.path("kept.pcapng") + comments).out, "3\ta packet comment\n");

  r = RunCommand(tool + " convert " + two + " --to TD -o " + dir.path("mixed.pcap"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--interface"), std::string::npos) << r.err;
  EXPECT_NE(access(dir.path("mixed.pcap").c_str(), F_OK), 0);

  r = RunCommand(tool + " convert " + two + " --to TD --interface 1 --pcap-order little -o " +
                 dir.path("one.pcap") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TsharkFrameText(dir.path("one.pcap")), TsharkFrameText(dir.path("sll.pcap")));
  r = RunCommand(tool + " convert " + two + " --to TD --split-interfaces -o " +
                 dir.path("split.pcap") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TsharkFrameText(dir.path("split.if0.pcap")), TsharkFrameText(dir.path("eth.pcap")));
  EXPECT_EQ(TsharkFrameText(dir.path("split.if1.pcap")), TsharkFrameText(dir.path("sll.pcap")));
}

// ------------------------------------------------------- times, exactly

// A little-endian libpcap file of Ethernet records {seconds, fraction, length}.
std::vector<uint8_t> PcapFile(uint32_t magic, const std::vector<std::array<uint32_t, 3>>& records) {
  Bytes f;
  f.le32(magic).le16(2).le16(4).le32(0).le32(0).le32(65535).le32(1);
  uint8_t seed = 1;
  for (const auto& [seconds, fraction, length] : records)
    f.le32(seconds).le32(fraction).le32(length).le32(length).pattern(length, seed++);
  return f.v;
}

// A pcapng section of one Ethernet interface in microseconds, then packets:
// enhanced packet blocks at the times given, simple packet blocks for nullopt.
std::vector<uint8_t> PcapngFile(const std::vector<std::optional<uint64_t>>& micros) {
  Bytes f;
  f.le32(0x0A0D0D0A).le32(28).le32(0x1A2B3C4D).le16(1).le16(0).le64(~uint64_t(0)).le32(28);
  f.le32(1).le32(20).le16(1).le16(0).le32(65535).le32(20);
  uint8_t seed = 1;
  for (const auto& time : micros) {
    const uint32_t length = 60 + seed * 4;
    if (time) {
      f.le32(6).le32(32 + length).le32(0).le32(uint32_t(*time >> 32)).le32(uint32_t(*time));
      f.le32(length).le32(length).pattern(length, seed++).le32(32 + length);
    } else {
      f.le32(3).le32(16 + length).le32(length).pattern(length, seed++).le32(16 + length);
    }
  }
  return f.v;
}

struct ExactTimeRow {
  const char* what;
  const char* source;
  const char* options;
  const char* suffix;
  // The times tshark shows in the target; empty: every frame as tshark
  // shows the source's, time and bytes.
  std::vector<std::string> epochs = {};
};

const ExactTimeRow kExactTimes[] = {
    {"nanoseconds through pcapng", "ns.pcap", "--to pcapng", ".pcapng"},
    {"nanoseconds through libpcap asked for them", "ns.pcap", "--to TD --pcap-resolution ns", ".pcap"},
    {"microseconds by default", "ns.pcap", "--to TD", ".pcap",
     {"1700000000.123456000", "1700000000.123456000", "1700000001.999999000"}},
    {"2065 from libpcap to pcapng", "y2065.pcap", "--to pcapng", ".pcapng"},
    {"2065 from libpcap to libpcap", "y2065.pcap", "--to TD", ".pcap"},
    {"2065 in nanoseconds through pcapng to libpcap", "y2065ns.pcapng", "--to TD --pcap-resolution ns",
     ".pcap"},
    {"a first packet without a time stays without one", "spb.pcapng", "--to pcapng", ".pcapng"},
    {"a first packet without a time takes the next one's", "spb.pcapng", "--to TD", ".pcap",
     {"1336125600.000001000", "1336125600.000001000", "1336125601.999999000"}},
    {"a later packet without a time takes the one's before", "spbmid.pcapng", "--to TD", ".pcap",
     {"1336125600.000001000", "1336125600.000001000", "1336125601.999999000"}},
    {"packets without a time only, every one kept", "spbonly.pcapng", "--to pcapng", ".pcapng"},
};

// The time column of tshark's frame text.
std::vector<std::string> Epochs(const std::string& frameText) {
  std::vector<std::string> epochs;
  std::istringstream lines(frameText);
  for (std::string line; std::getline(lines, line);) epochs.push_back(line.substr(0, line.find('\t')));
  return epochs;
}

// What tshark shows of each frame but its time.
std::string WithoutTimes(const std::string& frameText) {
  std::string rest;
  std::istringstream lines(frameText);
  for (std::string line; std::getline(lines, line);) rest += line.substr(line.find('\t')) + "\n";
  return rest;
}

// Times reach tshark to the nanosecond where source and target hold them,
// also past 2038, and a frame without a time never dates another.
TEST(FormatTables, TimesReachTsharkExactly) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "tshark is not installed";
  TempDir dir;
  WriteFileBytes(dir.path("ns.pcap"), PcapFile(kPcapMagicNanosecond, {{1700000000, 123456789, 60},
                                                                      {1700000000, 123456790, 64},
                                                                      {1700000001, 999999999, 100}}));
  WriteFileBytes(dir.path("y2065.pcap"),
                 PcapFile(kPcapMagicStandard, {{3011083200u, 1, 60}, {3011083201u, 999999, 80}}));
  WriteFileBytes(dir.path("y2065ns.pcap"), PcapFile(kPcapMagicNanosecond, {{3011083200u, 7, 60}}));
  ASSERT_EQ(RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("y2065ns.pcap") +
                       " --to pcapng -o " + dir.path("y2065ns.pcapng") + " --quiet")
                .status,
            0);
  const uint64_t start = 1336125600ULL * 1000000;
  WriteFileBytes(dir.path("spb.pcapng"), PcapngFile({std::nullopt, start + 1, start + 1999999}));
  WriteFileBytes(dir.path("spbmid.pcapng"), PcapngFile({start + 1, std::nullopt, start + 1999999}));
  WriteFileBytes(dir.path("spbonly.pcapng"), PcapngFile({std::nullopt, std::nullopt, std::nullopt}));
  for (const ExactTimeRow& row : kExactTimes) {
    SCOPED_TRACE(row.what);
    const std::string source = dir.path(row.source);
    const std::string target = dir.path(std::string("out") + row.suffix);
    const CommandResult run = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source +
                                         " " + row.options + " -o " + target + " --quiet");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string expected = TsharkFrameText(source), got = TsharkFrameText(target);
    ASSERT_FALSE(expected.empty());
    if (row.epochs.empty()) {
      EXPECT_EQ(got, expected);
    } else {
      EXPECT_EQ(Epochs(got), row.epochs);
      EXPECT_EQ(WithoutTimes(got), WithoutTimes(expected));
    }
  }
}

}  // namespace
}  // namespace morph
