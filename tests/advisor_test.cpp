// The Advisor file library and the Advisor / Network Analyzer traces kept in
// it: the library's layout and its hostile files, the four record layouts
// byte by byte, the configuration, identification of every topology, round
// trips and damaged records.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/catalogue.h"
#include "engine/identify.h"
#include "engine/job.h"
#include "engine/timebase.h"
#include "formats/advisor.h"
#include "formats/advisor_library.h"
#include "formats/internet_advisor.h"
#include "formats/observer.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

// Every record of a library file, as ReadFramesFromFile gives them back.
struct LibraryContents {
  bool opened = false;
  uint32_t frameCount = 0;
  BasicConfig config;
  ConfigExtension extension;
  std::vector<std::vector<uint8_t>> blocks;  // the bytes of each block
  std::vector<uint32_t> recordCounts;
};

LibraryContents ReadLibraryFile(const std::string& path) {
  LibraryContents c;
  LibraryHandle h = OpenCalyxenFile(path.c_str(), &c.frameCount, &c.config);
  if (!h) return c;
  c.opened = true;
  if (c.config.extension) c.extension = *c.config.extension;
  uint32_t count = 0, bytes = 0;
  for (uint32_t b = 0; const uint8_t* p = ReadFramesFromFile(h, b, &count, &bytes); ++b) {
    c.blocks.emplace_back(p, p + bytes);
    c.recordCounts.push_back(count);
  }
  EXPECT_EQ(CloseCalyxenFile(h), 1u);
  return c;
}

// Writes records through the library, as a writer would.
void WriteLibraryFile(const std::string& path, uint32_t kind, uint32_t media, uint32_t line,
                      const std::vector<std::vector<uint8_t>>& records, uint32_t startTime = 0) {
  BasicConfig config;
  config.fileKind = kind;
  config.mediaCode = media;
  config.lineCode = line;
  config.startTime = startTime;
  LibraryHandle h = CreateCalyxenFile(path.c_str(), 0, &config);
  ASSERT_NE(h, 0u);
  for (const auto& r : records) ASSERT_EQ(AddFrameToFile(h, r.data(), uint32_t(r.size())), 1u);
  ASSERT_EQ(CloseCalyxenFile(h), 1u);
}

// ------------------------------------------------------------------ library

TEST(AdvisorLibrary, StoresRecordsInBlocksAndGivesBackTheConfiguration) {
  TempDir dir;
  const std::string path = dir.path("lib.dat");
  ConfigExtension ext{{1, 2, 3, 4, 5, 6, 7, 8}};
  BasicConfig config;
  config.wanProtocolCode = 5;
  config.fileKind = 3;
  config.mediaCode = 20;
  config.lineCode = 304;
  config.lineSpeed = 64000;
  config.startTime = 1710460800;
  std::strcpy(config.comment, "first");
  config.extensionSize = 32;
  config.extension = &ext;
  LibraryHandle h = CreateCalyxenFile(path.c_str(), 0, &config);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(AddFrameToFile(h, Pattern(1, 1, 11).data(), 0), 0u);  // lengths are 1 to 65,535
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t size : {1u, 65535u, 40000u, 30000u, 100u, 65535u, 7u}) {
    records.push_back(Pattern(size, uint8_t(size), 11));
    ASSERT_EQ(AddFrameToFile(h, records.back().data(), size), 1u);
  }
  config.lineSpeed = 128000;
  std::strcpy(config.comment, "updated");
  config.extension = nullptr;
  UpdateBasicConfig(h, &config);
  ASSERT_EQ(CloseCalyxenFile(h), 1u);

  LibraryContents c = ReadLibraryFile(path);
  ASSERT_TRUE(c.opened);
  EXPECT_EQ(c.frameCount, 7u);
  EXPECT_EQ(c.config.wanProtocolCode, 5u);
  EXPECT_EQ(c.config.fileKind, 3u);
  EXPECT_EQ(c.config.mediaCode, 20u);
  EXPECT_EQ(c.config.lineCode, 304u);
  EXPECT_EQ(c.config.lineSpeed, 128000u);
  EXPECT_EQ(c.config.startTime, 1710460800u);
  EXPECT_STREQ(c.config.comment, "updated");
  EXPECT_EQ(c.extension.value[7], 0u);  // the update carried no extension
  // Blocks hold up to 65,536 bytes: 1 + 65535 | 40000 | 30000 + 100 | 65535 | 7.
  ASSERT_EQ(c.recordCounts, (std::vector<uint32_t>{2, 1, 2, 1, 1}));
  std::vector<uint8_t> all, expected;
  for (const auto& b : c.blocks) all.insert(all.end(), b.begin(), b.end());
  for (const auto& r : records) expected.insert(expected.end(), r.begin(), r.end());
  EXPECT_EQ(all, expected);

  // The layout of docs/advisor-library.md: layout version, header size,
  // closed, records, blocks, line speed, extension size; the first block's
  // records, bytes and number.
  const auto bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 512 + 5 * 16 + all.size());
  EXPECT_EQ(Text(bytes, 0, 8), "ADVLIB\r\n");
  ExpectFields(bytes, {{8, 4, 1}, {12, 4, 512}, {16, 4, 1}, {20, 4, 7}, {24, 4, 5},
                       {64 + 16, 4, 128000}, {96, 4, 32}, {516, 4, 2}, {520, 4, 65536},
                       {524, 4, 0}});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[256])), "updated");
  EXPECT_EQ(Text(bytes, 512, 4), "ADVB");
}

TEST(AdvisorLibrary, RefusesWhatIsNotOneOfItsFilesAndKeepsTheWholeBlocksOfACutFile) {
  TempDir dir;
  const std::string path = dir.path("lib.dat");
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < 5; ++i) records.push_back(Pattern(30000, uint8_t(i), 11));
  WriteLibraryFile(path, 3, 10, 0, records);
  const auto whole = ReadFileBytes(path);
  uint32_t count = 0;
  BasicConfig config;
  EXPECT_EQ(OpenCalyxenFile(dir.path("none.dat").c_str(), &count, &config), 0u);
  EXPECT_EQ(OpenCalyxenFile(dir.dir().c_str(), &count, &config), 0u);
  auto damaged = whole;
  damaged[8] = 2;  // a layout version we do not know
  WriteFileBytes(dir.path("v2.dat"), damaged);
  EXPECT_FALSE(ReadLibraryFile(dir.path("v2.dat")).opened);

  // Every cut: the header or nothing, then only whole blocks (two records each).
  for (size_t cut = 0; cut < whole.size(); cut += (cut < 600 ? 1 : 997)) {
    WriteFileBytes(dir.path("cut.dat"), std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
    LibraryContents c = ReadLibraryFile(dir.path("cut.dat"));
    ASSERT_EQ(c.opened, cut >= 512) << cut;
    if (!c.opened) continue;
    EXPECT_EQ(c.frameCount, 5u) << cut;  // what the closed file states
    const size_t wholeBlocks = cut < 512 + 16 + 60000 ? 0 : cut < 512 + 2 * (16 + 60000) ? 1 : 2;
    EXPECT_EQ(c.blocks.size(), wholeBlocks) << cut;
  }
  // Absurd byte size and count in a block head: that block and the rest are gone.
  damaged = whole;
  PutLE32(&damaged[520], 0xFFFFFFF0);
  WriteFileBytes(dir.path("absurd.dat"), damaged);
  EXPECT_TRUE(ReadLibraryFile(dir.path("absurd.dat")).blocks.empty());
  damaged = whole;
  PutLE32(&damaged[516], 70000);  // more records than bytes
  WriteFileBytes(dir.path("count.dat"), damaged);
  EXPECT_TRUE(ReadLibraryFile(dir.path("count.dat")).blocks.empty());
}

// ------------------------------------------------------------------ records

Trace WanTrace(Topology topology, uint32_t protocol, int count) {
  Trace t = MakeTrace(topology, count);
  t.wanProtocol = protocol;
  for (size_t i = 0; i < t.frames.size(); ++i)
    t.frames[i].flags = i % 2 ? Flag::Direction2 : Flag::Direction1 | Flag::CrcError;
  return t;
}

TEST(AdvisorRecords, LanRecordsByteByByte) {
  TempDir dir;
  for (Topology topology : {Topo::Ethernet, Topo::TokenRing}) {
    Trace t;
    t.topology = topology;
    t.frames.push_back(MakeFrame(12 * 3600000000LL + 900000, 64, topology, 1));
    t.frames.push_back(MakeFrame(12 * 3600000000LL + 1100000, 1518, topology, 2));
    t.frames[1].bytes.resize(200);  // sliced
    t.frames[1].flags = Flag::CrcError;
    WriteTrace(t, Analyzer::Advisor, dir.path("lan.dat"));
    LibraryContents c = ReadLibraryFile(dir.path("lan.dat"));
    ASSERT_EQ(c.blocks.size(), 1u);
    const auto& b = c.blocks[0];
    ASSERT_EQ(b.size(), 100u + 236u);
    const uint32_t start = uint32_t((DaysFrom1970(EncodeDate(2024, 3, 15)) * 86400) + 12 * 3600);
    // Number, wire and stored length, status, second and nanoseconds; both
    // frames lie in the first frame's second, the fraction is not carried.
    ExpectFields(b, {{4, 4, 1}, {12, 2, 64}, {14, 2, 64},
                     {18, 1, topology == Topo::Ethernet ? 0x40u : 0u}, {20, 4, start},
                     {24, 4, 900000000},
                     {100 + 4, 4, 2}, {100 + 12, 2, 1518}, {100 + 14, 2, 200},
                     {100 + 17, 1, 0x10},  // CRC error, no WAN protocol
                     {100 + 20, 4, start}, {100 + 24, 4, 1100000000}});
    ExpectBytesAt(b, 36, t.frames[0].bytes);
    EXPECT_EQ(c.config.startTime, start);
    EXPECT_EQ(c.config.fileKind, 3u);
    EXPECT_EQ(c.config.mediaCode, topology == Topo::Ethernet ? 10u : 13u);
    EXPECT_EQ(c.config.wanProtocolCode, 8u);
    EXPECT_EQ(c.config.lineCode, 0u);
    EXPECT_STREQ(c.config.comment, "Converted From Any Analyzer");
    const uint32_t ext[8] = {1, 12 * 3600, 900000000, 32768, topology == Topo::Ethernet ? 2u : 3u,
                             200, 0x2000000, 1};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c.extension.value[i], ext[i]) << i;
  }
}

TEST(AdvisorRecords, WanCellAndNetworkAnalyzerRecordsByteByByte) {
  TempDir dir;
  // WAN: length, status, 100-ns time stamp, bytes, length and status again.
  Trace wan;
  wan.topology = Topo::AtmDs1;  // ATM DS1 takes WAN records, not cells
  wan.wanProtocol = Wan::Ppp;
  wan.frames.push_back(MakeFrame(5000000 + 250, 20, Topo::AtmDs1, 3));
  wan.frames[0].flags = 0xA002;
  wan.frames.push_back(MakeFrame(5000000 + 1250, 30, Topo::AtmDs1, 4));
  wan.frames[1].flags = Flag::CrcError | Flag::Direction1;
  WriteTrace(wan, Analyzer::Advisor, dir.path("wan.dat"));
  LibraryContents w = ReadLibraryFile(dir.path("wan.dat"));
  ASSERT_EQ(w.blocks.size(), 1u);
  const auto& b = w.blocks[0];
  ASSERT_EQ(b.size(), 33u + 43u);
  ExpectFields(b, {{0, 2, 33}, {2, 1, 0x12}, {4, 4, 2500}, {8, 2, 0},  // 250 us
                   {30, 2, 33}, {32, 1, 0x12}, {33 + 2, 1, 0x01}, {33 + 4, 4, 12500}});
  ExpectBytesAt(b, 10, wan.frames[0].bytes);
  EXPECT_EQ(w.config.wanProtocolCode, 5u);
  EXPECT_EQ(w.config.lineCode, 200u);  // ATM keeps its line code beside the protocol

  // Cells: 53 bytes, time stamp at 53, direction at 61.
  Trace cells;
  cells.topology = Topo::AtmOc3;
  cells.frames.push_back(MakeFrame(7000000, 53, Topo::AtmOc3, 5));
  cells.frames[0].flags = Flag::Direction1;
  cells.frames.push_back(MakeFrame(7000010, 53, Topo::AtmOc3, 6));
  cells.frames[1].flags = Flag::Direction2;
  WriteTrace(cells, Analyzer::Advisor, dir.path("cell.dat"));
  LibraryContents cl = ReadLibraryFile(dir.path("cell.dat"));
  ASSERT_EQ(cl.blocks.size(), 1u);
  const auto& cb = cl.blocks[0];
  ASSERT_EQ(cb.size(), 128u);
  ExpectBytesAt(cb, 0, cells.frames[0].bytes);
  ExpectFields(cb, {{61, 1, 0x80}, {64 + 61, 1, 0}, {64 + 53, 4, 100}});
  EXPECT_EQ(cl.config.mediaCode, 7u);

  // Network Analyzer: type, direction, number, time, lengths, status, ATM mark.
  Trace na = WanTrace(Topo::T1, Wan::FrameRelay, 2);
  WriteTrace(na, Analyzer::NetworkAnalyzer, dir.path("na.dat"));
  LibraryContents n = ReadLibraryFile(dir.path("na.dat"));
  ASSERT_EQ(n.blocks.size(), 1u);
  const auto& nb = n.blocks[0];
  ASSERT_EQ(nb.size(), 80u + 64 + 580);
  ExpectFields(nb, {{0, 1, 1}, {1, 1, 1}, {4, 4, 1}, {16, 4, 64}, {20, 4, 64},
                    {24, 4, 0x02},  // CRC error on a line with a protocol
                    {36, 1, 0}, {104 + 1, 1, 2}});
  EXPECT_EQ(n.config.fileKind, 0u);
  EXPECT_EQ(n.config.wanProtocolCode, 1u);
  EXPECT_EQ(n.config.lineCode, 400u);
  EXPECT_EQ(n.config.mediaCode, 3u);
}

// ------------------------------------------------------------- identification

TEST(AdvisorIdentify, EveryTopologyWrittenIsIdentifiedBack) {
  TempDir dir;
  const Topology topologies[] = {Topo::Ethernet, Topo::TokenRing, Topo::Fddi, Topo::Wan,
                                 Topo::Ds3, Topo::E3, Topo::T1, Topo::E1, Topo::VSeries,
                                 Topo::ESeries, Topo::TSeries, Topo::Atm, Topo::AtmOc3,
                                 Topo::AtmT1, Topo::AtmE1, Topo::AtmE3, Topo::AtmDs1,
                                 Topo::AtmDs3, Topo::Wan19};
  for (AnalyzerType type : {Analyzer::Advisor, Analyzer::NetworkAnalyzer}) {
    for (Topology topology : topologies) {
      for (uint32_t protocol : {Wan::NotKnown, Wan::Hdlc, Wan::Lapb}) {
        if (IsLanTopology(topology) && protocol != Wan::NotKnown) continue;
        // An ATM line's code is its own: the protocol code alone cannot say LAPB.
        if (topology >= Topo::Atm && topology <= Topo::Wan19 && protocol == Wan::Lapb) continue;
        Trace t = WanTrace(topology, protocol, 2);
        if (IsAtmTopology(topology) && topology != Topo::AtmDs1) t = MakeTrace(topology, 0);
        if (t.frames.empty()) {
          t.wanProtocol = protocol;
          t.frames.push_back(MakeFrame(1000, 53, topology));
        }
        const std::string path = dir.path("t.dat");
        WriteTrace(t, type, path, [](ConversionState& s) { s.lineSpeed = 1544000; });
        ConversionState s;
        bool openFailed = false, tooSmall = false;
        ASSERT_EQ(IdentifySource(s, path, openFailed, tooSmall), type);
        EXPECT_EQ(DetermineTopology(s, type, path, openFailed), topology)
            << int(type) << " " << int(topology) << " " << protocol;
        EXPECT_EQ(s.wanProtocol, protocol) << int(topology);
        EXPECT_EQ(s.sourceFrameCount, int32_t(t.frames.size()));
        EXPECT_EQ(s.fileLineSpeed, 1544000u);
        EXPECT_EQ(s.fileComment, "Converted From Any Analyzer");
      }
    }
  }
}

TEST(AdvisorIdentify, ACommentNamingAnotherAnalyzerDoesNotMisleadIdentification) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 3);
  WriteTrace(t, Analyzer::Advisor, dir.path("x.cap"),
             [](ConversionState& s) { s.sourceAnalyzer = Analyzer::Observer; });
  ReadResult r = ReadTrace(dir.path("x.cap"));
  EXPECT_EQ(r.analyzer, Analyzer::Advisor);
  EXPECT_EQ(r.state.fileComment, "Converted From Observer (Network Instruments)");
}

// ------------------------------------------------------------------ round trips

TEST(AdvisorRoundTrip, EveryLayoutKeepsFramesLengthsFlagsAndTimes) {
  TempDir dir;
  struct Case {
    AnalyzerType type;
    Topology topology;
    uint32_t protocol;
  } cases[] = {{Analyzer::Advisor, Topo::Ethernet, Wan::NotKnown},
               {Analyzer::Advisor, Topo::TokenRing, Wan::NotKnown},
               {Analyzer::Advisor, Topo::Fddi, Wan::NotKnown},
               {Analyzer::Advisor, Topo::Wan, Wan::Hdlc},
               {Analyzer::Advisor, Topo::TSeries, Wan::Ppp},
               {Analyzer::Advisor, Topo::E1, Wan::FrameRelay},
               {Analyzer::Advisor, Topo::VSeries, Wan::X25},
               {Analyzer::NetworkAnalyzer, Topo::Ethernet, Wan::NotKnown},
               {Analyzer::NetworkAnalyzer, Topo::TokenRing, Wan::NotKnown},
               {Analyzer::NetworkAnalyzer, Topo::Wan, Wan::Hdlc},
               {Analyzer::NetworkAnalyzer, Topo::T1, Wan::Ppp},
               {Analyzer::NetworkAnalyzer, Topo::ESeries, Wan::FrameRelay},
               {Analyzer::NetworkAnalyzer, Topo::Ds3, Wan::X25}};
  for (const Case& c : cases) {
    Trace t = MakeTrace(c.topology, 600, 3600LL * 1000000 + 123457, 77777);
    t.wanProtocol = c.protocol;
    const bool lan = IsLanTopology(c.topology);
    for (size_t i = 0; i < t.frames.size(); ++i) {
      Frame& f = t.frames[i];
      if (c.type == Analyzer::NetworkAnalyzer || !lan)
        f.flags = i % 3 ? Flag::Direction2 : Flag::Direction1;
      if (i % 5 == 0) f.flags |= Flag::CrcError;
      if (lan && i % 7 == 0 && f.bytes.size() > 100) f.bytes.resize(100);  // sliced
    }
    WriteTrace(t, c.type, dir.path("rt.dat"));
    ReadResult r = ReadTrace(dir.path("rt.dat"));
    ASSERT_EQ(r.analyzer, c.type);
    ASSERT_EQ(r.topology, c.topology);
    EXPECT_TRUE(r.messages.empty()) << r.messages[0];
    EXPECT_EQ(ExpectSameFrames(t, r.trace), 0) << int(c.type) << " " << int(c.topology);
  }
}

TEST(AdvisorRoundTrip, AtmCellsKeepBytesDirectionAndTime) {
  TempDir dir;
  for (Topology topology : {Topo::Atm, Topo::AtmOc3, Topo::AtmT1, Topo::AtmE1, Topo::AtmE3,
                            Topo::AtmDs3}) {
    Trace t;
    t.topology = topology;
    for (int i = 0; i < 3000; ++i) {
      t.frames.push_back(MakeFrame(20 * 3600000000LL + 999999 + i * 3, 53, topology, uint8_t(i)));
      t.frames.back().flags = i % 2 ? Flag::Direction1 : Flag::Direction2;
    }
    WriteTrace(t, Analyzer::Advisor, dir.path("c.dat"));
    ReadResult r = ReadTrace(dir.path("c.dat"));
    ASSERT_EQ(r.topology, topology);
    EXPECT_EQ(ExpectSameFrames(t, r.trace), 0) << int(topology);
  }
}

TEST(AdvisorRoundTrip, LibpcapToNetworkAnalyzerToLibpcapThroughTheJob) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 300, 3600LL * 1000000 + 5, 123457);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("in.pcap"));
  for (AnalyzerType type : {Analyzer::NetworkAnalyzer, Analyzer::Advisor}) {
    ASSERT_EQ(ConvertByJob(dir.path("in.pcap"), dir.path("mid.dat"), type), Outcome::Converted);
    ASSERT_EQ(ConvertByJob(dir.path("mid.dat"), dir.path("out.pcap"), Analyzer::Tcpdump),
              Outcome::Converted);
    EXPECT_EQ(ReadFileBytes(dir.path("out.pcap")), ReadFileBytes(dir.path("in.pcap")));
  }
}

// A trace across midnight in a daylight-saving zone is a row of
// tests/format_tables_test.cpp (TracesAcrossMidnightInSummerTimeKeepCounting).

// ------------------------------------------------------------------ reading

TEST(AdvisorRead, NonDataRecordsAndAStartTimeOfZero) {
  ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
  TempDir dir;
  // Network Analyzer records built by hand: a type-0 record with byte 36 = 0
  // is passed over by 40 bytes whatever its stored length.
  auto record = [](uint8_t type, uint8_t mark36, uint32_t stored, uint32_t seconds) {
    std::vector<uint8_t> r(40 + (type == 1 || mark36 == 1 ? stored : 0), 0);
    r[0] = type;
    r[1] = 1;
    PutLE32(&r[8], seconds);
    PutLE32(&r[12], 5000);
    PutLE32(&r[16], stored);
    PutLE32(&r[20], stored);
    r[36] = mark36;
    return r;
  };
  const uint32_t noon = uint32_t(DaysFrom1970(EncodeDate(2024, 3, 1)) * 86400 + 17 * 3600);
  WriteLibraryFile(dir.path("na.dat"), 0, 10, 401,
                   {record(0, 0, 9999, noon), record(1, 0, 20, noon), record(2, 1, 8, noon),
                    record(1, 0, 30, noon + 1)});
  ReadResult r = ReadTraceAs(dir.path("na.dat"), Analyzer::NetworkAnalyzer, Topo::Ethernet);
  EXPECT_TRUE(r.messages.empty()) << r.messages[0];
  ASSERT_EQ(r.trace.frames.size(), 2u);
  EXPECT_EQ(r.state.counters.nonDataFrames, 2);
  EXPECT_EQ(r.state.counters.framesRead, 4);
  // Start time 0 west of UTC: the date comes from the first frame.
  EXPECT_EQ(r.trace.traceDate, EncodeDate(2024, 3, 1));
  EXPECT_EQ(r.trace.frames[0].time, 12 * 3600000000LL + 5);
  EXPECT_EQ(r.trace.frames[1].time, 12 * 3600000000LL + 1000005);
  EXPECT_EQ(r.trace.frames[0].flags, Flag::Direction1);

  // WAN records with a status of 0x40 or more are no frames.
  std::vector<uint8_t> wan(13 + 4, 0), marker(13, 0);
  PutLE16(&wan[0], 17);
  PutLE16(&marker[0], 13);
  marker[2] = 0x40;
  WriteLibraryFile(dir.path("wan.dat"), 3, 3, 204, {marker, wan, marker}, noon);
  ReadResult w = ReadTraceAs(dir.path("wan.dat"), Analyzer::Advisor, Topo::T1);
  ASSERT_EQ(w.trace.frames.size(), 1u);
  EXPECT_EQ(w.trace.frames[0].frameLength, 4);
  EXPECT_EQ(w.trace.frames[0].flags, Flag::Direction1);
  EXPECT_EQ(w.state.counters.nonDataFrames, 2);
}

TEST(AdvisorRead, DamagedRecordsEndWithAReadErrorAndADetail) {
  TempDir dir;
  auto wan = [](uint16_t length, size_t size) {
    std::vector<uint8_t> r(size, 0);
    PutLE16(&r[0], length);
    return r;
  };
  std::vector<uint8_t> lanTooLong(36, 0);
  PutLE16(&lanTooLong[14], 100);
  std::vector<uint8_t> naHuge(40, 0);
  naHuge[0] = 1;
  PutLE32(&naHuge[16], 0xFFFFFFF0);
  PutLE32(&naHuge[20], 0xFFFFFFF0);
  struct Case {
    const char* name;
    AnalyzerType type;
    Topology topology;
    std::vector<std::vector<uint8_t>> records;
    const char* detail;
  } cases[] = {
      {"WAN length 0", Analyzer::Advisor, Topo::T1, {wan(13, 13), wan(0, 13)}, "WAN record length 0"},
      {"WAN length 12", Analyzer::Advisor, Topo::T1, {wan(13, 13), wan(12, 13)}, "WAN record length 12"},
      {"WAN past block", Analyzer::Advisor, Topo::T1, {wan(13, 13), wan(900, 13)}, "WAN record length 900"},
      {"LAN past block", Analyzer::Advisor, Topo::Ethernet, {lanTooLong}, "LAN record of 136 bytes"},
      {"NA 32-bit length", Analyzer::NetworkAnalyzer, Topo::Ethernet, {naHuge}, "Network Analyzer record"},
      {"cell cut", Analyzer::Advisor, Topo::Atm, {std::vector<uint8_t>(64), std::vector<uint8_t>(63)}, "cell record"},
  };
  for (const Case& c : cases) {
    WriteLibraryFile(dir.path("bad.dat"), c.type == Analyzer::Advisor ? 3 : 0, 3, 0, c.records);
    ReadResult r = ReadTraceAs(dir.path("bad.dat"), c.type, c.topology);
    EXPECT_TRUE(r.state.status.readError) << c.name;
    EXPECT_NE(r.state.status.readErrorDetail.find(c.detail), std::string::npos)
        << c.name << ": " << r.state.status.readErrorDetail;
  }
  // Not a file of the library at all.
  ReadResult junk =
      ReadTraceFromAs(Pattern(1000, 3, 11), "junk.dat", Analyzer::Advisor, Topo::Ethernet);
  EXPECT_EQ(junk.state.status.readErrorDetail, "not a file of the Advisor library");
}

TEST(AdvisorRead, AHeaderStatingNoFramesNeverDividesTheProgressByZero) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 5);
  WriteTrace(t, Analyzer::Advisor, dir.path("a.dat"));
  auto bytes = ReadFileBytes(dir.path("a.dat"));
  PutLE32(&bytes[20], 0);  // a closed file that states 0 records
  WriteFileBytes(dir.path("zero.dat"), bytes);
  ReadResult r = ReadTraceAs(dir.path("zero.dat"), Analyzer::Advisor, Topo::Ethernet,
                             [](ConversionState& s) { s.sourceFileSize = 1000; });
  EXPECT_FALSE(r.state.status.readError) << r.state.status.readErrorDetail;
  EXPECT_EQ(r.trace.frames.size(), 5u);
}

TEST(AdvisorRead, AFileCutShortGivesItsWholeBlocksAndTheTargetIsStillCompleted) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 400);
  WriteTrace(t, Analyzer::Advisor, dir.path("a.dat"));
  auto bytes = ReadFileBytes(dir.path("a.dat"));
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(dir.path("cut.dat"), bytes);
  ReadResult r = ReadTrace(dir.path("cut.dat"));
  ASSERT_TRUE(r.state.status.readError);
  const size_t got = r.trace.frames.size();
  EXPECT_GT(got, 50u);
  EXPECT_LT(got, 400u);
  EXPECT_NE(r.state.status.readErrorDetail.find("of 400 frames"), std::string::npos);

  // Converted to Internet Advisor, the frames before the error make a valid file.
  EXPECT_EQ(ConvertByJob(dir.path("cut.dat"), dir.path("cut.eth"), Analyzer::InternetAdvisor),
            Outcome::ReadError);
  EXPECT_EQ(ReadFileBytes(dir.path("cut.eth")).size() % 32768, 128u);
  ReadResult back = ReadTrace(dir.path("cut.eth"));
  EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
  EXPECT_EQ(back.trace.frames.size(), got);
}

}  // namespace
}  // namespace morph
