// The library interface: several conversions in one process, progress and
// stop, the options it refuses, and targets that survive any end of a run.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <stdexcept>
#include <thread>

#include "engine/catalogue.h"
#include "engine/morphalite.h"
#include "formats/advisor.h"
#include "formats/netmon.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/sniffer.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

TEST(Library, IdentifiesAndConvertsWithProgressAndStop) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 200000, 0, 10);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("big.pcap"));
  FileFacts facts = IdentifyFile(dir.path("big.pcap"));
  EXPECT_TRUE(facts.accepted);
  EXPECT_EQ(facts.analyzerName, "tcpdump/libpcap");
  EXPECT_EQ(facts.interfaceName, "Ethernet");

  JobRequest request;
  request.sourcePath = dir.path("big.pcap");
  request.targetPath = dir.path("out.pcap");
  request.target = Analyzer::Tcpdump;
  int updates = 0;
  ConvertReport done = ConvertFile(request, [&](const ProgressView&) { ++updates; });
  EXPECT_EQ(done.outcome, Outcome::Converted);
  EXPECT_EQ(done.framesWritten, 200000);
  EXPECT_GE(updates, 1);  // at least the final state

  // A stop already requested ends the conversion after its first frame.
  std::atomic<bool> stop{true};
  request.targetPath = dir.path("stopped.pcap");
  ConvertReport stopped = ConvertFile(request, {}, &stop);
  EXPECT_EQ(stopped.outcome, Outcome::Stopped);
  EXPECT_EQ(stopped.framesWritten, 1);
  // What was written so far is a finished, readable file.
  ReadResult back = ReadTrace(dir.path("stopped.pcap"));
  EXPECT_EQ(int32_t(back.trace.frames.size()), stopped.framesWritten);
  EXPECT_TRUE(back.messages.empty());
}

// The report carries what the target could not hold; strict, that is a
// failure and no target is kept.
TEST(Library, ReportsLossesAndKeepsNoTargetWhenStrict) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 3);
  t.frames[1] = MakeFrame(t.frames[1].time, 200000 + 4);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("jumbo.pcap"));
  JobRequest request;
  request.sourcePath = dir.path("jumbo.pcap");
  request.targetPath = dir.path("whole.pcapng");
  request.target = Analyzer::Pcapng;
  request.strict = true;
  ConvertReport whole = ConvertFile(request);
  EXPECT_EQ(whole.outcome, Outcome::Converted);
  EXPECT_FALSE(whole.losses.any());

  request.target = Analyzer::NetMon2;
  request.targetPath = dir.path("cut.cap");
  request.strict = false;
  ConvertReport cut = ConvertFile(request);
  EXPECT_EQ(cut.outcome, Outcome::Converted);
  EXPECT_EQ(cut.losses.framesCut, 1);
  EXPECT_EQ(cut.losses.bytesCut, 200004 - 32768);
  EXPECT_EQ(LossesText(cut.losses),
            "lost 1 frame cut by 167,236 bytes in all, 1 wire length not stored");

  request.targetPath = dir.path("strict.cap");
  request.strict = true;
  ConvertReport refused = ConvertFile(request);
  EXPECT_EQ(refused.outcome, Outcome::WouldLoseData);
  EXPECT_EQ(refused.losses.framesCut, 1);
  EXPECT_NE(access(dir.path("strict.cap").c_str(), F_OK), 0);
}

// The library takes the command line's zones: a Sniffer DOS trace of New
// York local times gives the same libpcap file whatever the machine's zone.
TEST(Library, ConvertsWithTheSourcesZone) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::SnifferDos, dir.path("ny.enc"));
  JobRequest request;
  request.sourcePath = dir.path("ny.enc");
  request.target = Analyzer::Tcpdump;
  request.sourceZone = LoadTimeZone("America/New_York");
  ASSERT_TRUE(request.sourceZone);
  std::vector<std::vector<uint8_t>> files;
  for (const char* machine : {"Europe/Berlin", "Asia/Tokyo"}) {
    ScopedTimeZone zone(machine);
    request.targetPath = dir.path(std::string("out") + std::to_string(files.size()) + ".pcap");
    ASSERT_EQ(ConvertFile(request).outcome, Outcome::Converted);
    files.push_back(ReadFileBytes(request.targetPath));
  }
  EXPECT_EQ(files[0], files[1]);
  // Read in the machine's zone instead, the times differ.
  ScopedTimeZone berlin("Europe/Berlin");
  request.sourceZone.reset();
  request.targetPath = dir.path("machine.pcap");
  ASSERT_EQ(ConvertFile(request).outcome, Outcome::Converted);
  EXPECT_NE(ReadFileBytes(request.targetPath), files[0]);
}

TEST(Library, IndependentConversionsRunSideBySide) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 3000), Analyzer::Tcpdump, dir.path("a.pcap"));
  WriteTrace(MakeTrace(Topo::TokenRing, 2000), Analyzer::Tcpdump, dir.path("b.pcap"));
  ConvertReport ra, rb;
  std::thread first([&] {
    JobRequest r;
    r.sourcePath = dir.path("a.pcap");
    r.targetPath = dir.path("a.out");
    r.target = Analyzer::Tcpdump;
    ra = ConvertFile(r);
  });
  std::thread second([&] {
    JobRequest r;
    r.sourcePath = dir.path("b.pcap");
    r.targetPath = dir.path("b.out");
    r.target = Analyzer::Tcpdump;
    rb = ConvertFile(r);
  });
  first.join();
  second.join();
  EXPECT_EQ(ra.framesWritten, 3000);
  EXPECT_EQ(rb.framesWritten, 2000);
  EXPECT_EQ(ReadTrace(dir.path("b.out")).topology, Topo::TokenRing);
}

// What the command line refuses, the library refuses: a range that ends
// before it starts or numbers no frame, a slice outside 32 to 65,535 bytes.
TEST(Library, RefusesTheOptionsTheCommandLineRefuses) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 300), Analyzer::Tcpdump, dir.path("s.pcap"));
  auto range = [](int32_t from, int32_t to) {
    return [=](JobRequest& r) {
      r.convertAll = false;
      r.startFrame = from;
      r.endFrame = to;
    };
  };
  auto slice = [](int32_t length) {
    return [=](JobRequest& r) {
      r.sliceFrames = true;
      r.sliceLength = length;
    };
  };
  auto ranges = [](std::vector<FrameRange> list) {
    return [=](JobRequest& r) { r.selection.ranges = list; };
  };
  auto shift = [](int64_t nanoseconds, std::optional<int64_t> start = {}) {
    return [=](JobRequest& r) {
      r.selection.timeShift = nanoseconds;
      r.selection.startTime = start;
    };
  };
  const std::string kShift = "Options: A time shift reaches at most 3,155,760,000 seconds.";
  const std::string kOrder = "Options: Starting frame number must be less than or equal to the ending frame number.";
  const std::string kNumbers = "Options: Frame numbers run from 1 to 9,999,999.";
  const std::string kSlice = "Options: The slice length must be from 32 to 65535 bytes.";
  const struct {
    std::function<void(JobRequest&)> set;
    std::string message;  // empty: converted
    int32_t frames = 0;
  } cases[] = {
      {range(50, 10), kOrder},     {range(0, 10), kNumbers},     {range(-5, 10), kNumbers},
      {range(1, 10000000), kNumbers}, {slice(-1), kSlice},       {slice(0), kSlice},
      {slice(31), kSlice},         {slice(65536), kSlice},       {slice(1 << 30), kSlice},
      {ranges({{1, 5}, {0, 3}}), kNumbers}, {ranges({{9, 8}}), kOrder},
      {ranges({{1, kOpenRangeEnd - 1}}), kNumbers},
      {shift(kLargestTimeShiftSeconds * 1'000'000'000 + 1), kShift},
      {shift(-kLargestTimeShiftSeconds * 1'000'000'000 - 1), kShift},
      {shift(1, 0), "Options: A time shift and a start time exclude each other."},
      {ranges({{290, kOpenRangeEnd}, {1, 5}, {3, 7}}), "", 18},
      {shift(-1'000'000'000'000'000'000), "", 300},  // 2024 to 1992
      {range(10, 50), "", 41},     {range(300, 9999999), "", 1}, {slice(32), "", 300},
      {slice(65535), "", 300},
  };
  for (const auto& c : cases) {
    JobRequest request;
    request.sourcePath = dir.path("s.pcap");
    request.targetPath = dir.path("out.pcap");
    request.target = Analyzer::Tcpdump;
    c.set(request);
    SCOPED_TRACE(std::to_string(request.startFrame) + "-" + std::to_string(request.endFrame) +
                 " slice " + std::to_string(request.sliceLength));
    const ConvertReport report = ConvertFile(request);
    if (c.message.empty()) {
      EXPECT_EQ(report.outcome, Outcome::Converted);
      EXPECT_EQ(report.framesWritten, c.frames);
      continue;
    }
    EXPECT_EQ(report.outcome, Outcome::BadOptions);
    EXPECT_EQ(report.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(Listing(dir.dir()), std::vector<std::string>{"s.pcap"});
  }
}

// A split target through the library: its files and their counts, and
// the duplicates dropped on the way.
TEST(Library, ReportsTheFilesOfASplitTargetAndTheDuplicates) {
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 250);
  trace.frames[7].bytes = trace.frames[6].bytes;
  trace.frames[7].frameLength = trace.frames[6].frameLength;
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("s.pcap"));
  JobRequest request;
  request.sourcePath = dir.path("s.pcap");
  request.targetPath = dir.path("out.cap");
  request.target = Analyzer::NetMon2;
  request.splitFrames = 100;
  request.selection.dropDuplicates = true;
  const ConvertReport report = ConvertFile(request);
  EXPECT_EQ(report.outcome, Outcome::Converted);
  EXPECT_EQ(report.duplicateFrames, 1);
  EXPECT_EQ(report.framesWritten, 249);
  ASSERT_EQ(report.files.size(), 3u);
  const int32_t counts[] = {100, 100, 49};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(report.files[i].path, dir.path("out_0000" + std::to_string(i) + ".cap"));
    EXPECT_EQ(report.files[i].frames, counts[i]);
    EXPECT_EQ(ReadTrace(report.files[i].path).trace.frames.size(), size_t(counts[i]));
  }
  EXPECT_EQ(Listing(dir.dir()),
            (std::vector<std::string>{"out_00000.cap", "out_00001.cap", "out_00002.cap", "s.pcap"}));
}

const std::vector<uint8_t> kOlder = {'o', 'l', 'd', 'e', 'r'};

// A progress callback that throws ends the conversion: the exception reaches
// the caller, the target keeps its bytes, nothing is left beside it. Thrown
// at the first update, and at the first that shows the end (the target
// complete, or the Advisor library completing it, but not yet in place).
TEST(Library, AThrowingCallbackLeavesTheTargetAsItStood) {
  for (AnalyzerType type : {Analyzer::Tcpdump, Analyzer::Advisor, Analyzer::NetMon2}) {
    for (bool atTheEnd : {false, true}) {
      SCOPED_TRACE(AnalyzerName(type) + (atTheEnd ? " at the end" : " at once"));
      TempDir dir;
      WriteTrace(MakeTrace(Topo::Ethernet, 20000), Analyzer::Tcpdump, dir.path("s.pcap"));
      WriteFileBytes(dir.path("t.out"), kOlder);
      JobRequest request;
      request.sourcePath = dir.path("s.pcap");
      request.targetPath = dir.path("t.out");
      request.target = type;
      request.overwrite = true;
      auto onProgress = [&](const ProgressView& view) {
        if (!atTheEnd || view.finished) throw std::runtime_error("enough");
      };
      EXPECT_THROW(ConvertFile(request, onProgress), std::runtime_error);
      EXPECT_EQ(ReadFileBytes(dir.path("t.out")), kOlder);
      EXPECT_EQ(Listing(dir.dir()), (std::vector<std::string>{"s.pcap", "t.out"}));
    }
  }
}

// kill -9 in the middle of writing a target over an existing file (or once
// it is complete but not yet in place): the file keeps its bytes and
// nothing is left in its folder.
TEST(Library, KillNineWhileWritingLeavesTheTargetAsItStood) {
  for (AnalyzerType type : {Analyzer::Tcpdump, Analyzer::Advisor, Analyzer::NetMon2}) {
    SCOPED_TRACE(AnalyzerName(type));
    TempDir dir;
    WriteTrace(MakeTrace(Topo::Ethernet, 50000), Analyzer::Tcpdump, dir.path("s.pcap"));
    WriteFileBytes(dir.path("t.out"), kOlder);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      JobRequest request;
      request.sourcePath = dir.path("s.pcap");
      request.targetPath = dir.path("t.out");
      request.target = type;
      request.overwrite = true;
      ConvertFile(request, [&](const ProgressView& view) {
        if (view.framesWritten == "0") return;
        (void)!write(ready[1], "x", 1);
        pause();
      });
      _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFileBytes(dir.path("t.out")), kOlder);
    EXPECT_EQ(Listing(dir.dir()), (std::vector<std::string>{"s.pcap", "t.out"}));
  }
}

}  // namespace
}  // namespace morph
