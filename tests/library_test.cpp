// The library interface: several conversions in one process, progress and stop.
#include <gtest/gtest.h>

#include <thread>

#include "engine/morphalite.h"
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

}  // namespace
}  // namespace morph
