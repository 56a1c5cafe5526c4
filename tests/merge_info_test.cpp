// Merging traces in time order, what info tells of a trace, and the SHA-256
// info reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/morphalite.h"
#include "engine/sha256.h"
#include "formats/pcap.h"
#include "formats/sniffer.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

TEST(Sha256, KnownVectorsWholeAndInPieces) {
  const struct {
    std::string message;
    const char* digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // 55, 56 and 64 bytes: the length goes into this block or the next.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.message.size());
    Sha256 whole;
    whole.add(v.message.data(), v.message.size());
    EXPECT_EQ(whole.finishHex(), v.digest);
    // Pieces of 1, 2, 3... bytes cross every block boundary.
    Sha256 pieces;
    for (size_t at = 0, n = 1; at < v.message.size(); at += n, ++n)
      pieces.add(v.message.data() + at, std::min(n, v.message.size() - at));
    EXPECT_EQ(pieces.finishHex(), v.digest);
  }
  TempDir dir;
  WriteFileBytes(dir.path("abc"), {'a', 'b', 'c'});
  std::string error;
  EXPECT_EQ(FileSha256(dir.path("abc"), error), vectors[1].digest);
  EXPECT_EQ(FileSha256(dir.path("missing"), error), "");
  EXPECT_NE(error.find(dir.path("missing")), std::string::npos) << error;
}

// Three sources whose frames interleave, with a time all three share: the
// merge gives every frame once, in time order, the later source first at
// equal times; in one round or in rounds of two.
TEST(Merge, TimeOrderAndEqualTimesInOneRoundOrSeveral) {
  TempDir dir;
  const int64_t hour = 3600LL * 1000000;
  // Each frame's length tells its source (hundreds) and place (units).
  const std::vector<std::vector<int64_t>> times = {{0, 10, 20, 40}, {5, 10, 25}, {10, 30}};
  std::vector<std::string> sources;
  for (size_t source = 0; source < times.size(); ++source) {
    Trace t;
    for (size_t i = 0; i < times[source].size(); ++i)
      t.frames.push_back(MakeFrame(hour + times[source][i], int32_t(100 * (source + 1) + i)));
    sources.push_back(dir.path("s" + std::to_string(source) + ".pcap"));
    WriteTrace(t, Analyzer::Tcpdump, sources.back());
  }
  const std::vector<int32_t> expected = {100, 200, 300, 201, 101, 102, 202, 301, 103};
  for (size_t most : {size_t(0), size_t(2)}) {
    SCOPED_TRACE(most);
    MergeRequest request;
    request.sources = sources;
    request.target.target = Analyzer::Tcpdump;
    request.target.targetPath = dir.path("merged.pcap");
    request.target.overwrite = true;
    request.mostAtOnce = most;
    const ConvertReport report = MergeFiles(request);
    ASSERT_EQ(report.outcome, Outcome::Converted) << report.failureDetail;
    EXPECT_EQ(report.framesWritten, 9);
    const ReadResult back = ReadTrace(request.target.targetPath);
    std::vector<int32_t> lengths;
    for (const Frame& f : back.trace.frames) lengths.push_back(f.frameLength);
    EXPECT_EQ(lengths, expected);
    for (size_t i = 1; i < back.trace.frames.size(); ++i)
      EXPECT_LE(back.trace.frames[i - 1].time, back.trace.frames[i].time);
  }
}

// Media one target cannot hold together, and an unreadable source, stop
// the merge before anything is written; a source cut short is merged up to
// the cut and makes the merge a read error that names it.
TEST(Merge, RefusalsAndDamagedSources) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 6), Analyzer::Tcpdump, dir.path("e.pcap"));
  WriteTrace(MakeTrace(Topo::TokenRing, 6), Analyzer::Tcpdump, dir.path("t.pcap"));
  WriteFileBytes(dir.path("junk.pcap"), std::vector<uint8_t>(200, 0x55));
  std::vector<uint8_t> cut = ReadFileBytes(dir.path("e.pcap"));
  cut.resize(cut.size() - 10);
  WriteFileBytes(dir.path("cut.pcap"), cut);
  const auto merge = [&](std::vector<std::string> names) {
    MergeRequest request;
    for (const std::string& name : names) request.sources.push_back(dir.path(name));
    request.target.target = Analyzer::Tcpdump;
    request.target.targetPath = dir.path("out.pcap");
    request.target.overwrite = true;
    return MergeFiles(request);
  };
  ConvertReport mixed = merge({"e.pcap", "t.pcap"});
  EXPECT_EQ(mixed.outcome, Outcome::NoWriter);
  ASSERT_EQ(mixed.messages.size(), 1u);
  EXPECT_NE(mixed.messages[0].find("e.pcap (Ethernet) and t.pcap (Token Ring)"), std::string::npos)
      << mixed.messages[0];
  EXPECT_EQ(merge({"e.pcap", "junk.pcap"}).outcome, Outcome::SourceRefused);
  EXPECT_NE(access(dir.path("out.pcap").c_str(), F_OK), 0);
  EXPECT_EQ(merge({"e.pcap", "missing.pcap"}).outcome, Outcome::SourceRefused);

  ConvertReport damaged = merge({"e.pcap", "cut.pcap"});
  EXPECT_EQ(damaged.outcome, Outcome::ReadError);
  EXPECT_EQ(damaged.framesWritten, 11);
  EXPECT_EQ(damaged.failureDetail.rfind("cut.pcap: record 6", 0), 0u) << damaged.failureDetail;
  EXPECT_EQ(ReadTrace(dir.path("out.pcap")).trace.frames.size(), 11u);
}

// Every field a frame carries through the pipeline (flags, wire and stored
// lengths, bytes, times) crosses the merge's queues as the source's reader
// gave it: two Sniffer files whose frames interleave, one with a CRC error
// and one frame cut, merged into a Sniffer file, read back whole.
TEST(Merge, EveryFieldOfAFrameCrossesTheMerge) {
  TempDir dir;
  const int64_t hour = 3600LL * 1000000;
  Trace a = MakeTrace(Topo::Ethernet, 40, hour, 2000);
  Trace b = MakeTrace(Topo::Ethernet, 35, hour + 700, 2300);
  a.frames[3].flags = Flag::CrcError;
  b.frames[5].bytes.resize(200);
  WriteTrace(a, Analyzer::SnifferPro, dir.path("a.cap"));
  WriteTrace(b, Analyzer::SnifferPro, dir.path("b.cap"));
  // Of equal times (frames 25 and 68), the later source's comes first.
  Trace expected = ReadTrace(dir.path("b.cap")).trace;
  for (const Frame& f : ReadTrace(dir.path("a.cap")).trace.frames) expected.frames.push_back(f);
  std::stable_sort(expected.frames.begin(), expected.frames.end(),
                   [](const Frame& x, const Frame& y) { return x.time < y.time; });
  MergeRequest request;
  request.sources = {dir.path("a.cap"), dir.path("b.cap")};
  request.target.target = Analyzer::SnifferPro;
  request.target.targetPath = dir.path("ab.cap");
  const ConvertReport report = MergeFiles(request);
  ASSERT_EQ(report.outcome, Outcome::Converted) << report.failureDetail;
  EXPECT_EQ(report.framesWritten, 75);
  EXPECT_EQ(ExpectSameFrames(expected, ReadTrace(dir.path("ab.cap")).trace), 0);
}

TEST(Info, FiguresOfATrace) {
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 12);
  // The ninth frame stored cut: 100 of its bytes.
  t.frames[8].bytes.resize(100);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("t.pcap"));
  const TraceSummary summary = SummarizeFile(dir.path("t.pcap"));
  ASSERT_EQ(summary.outcome, Outcome::Converted) << summary.failureDetail;
  EXPECT_EQ(summary.frames, 12);
  int64_t data = 0;
  for (const Frame& f : t.frames) data += int64_t(f.bytes.size()) - (f.bytes.size() == size_t(f.frameLength) ? 4 : 0);
  EXPECT_EQ(summary.dataBytes, data);
  EXPECT_EQ(summary.cutFrames, 1);
  EXPECT_EQ(summary.smallestFrame, 60);
  EXPECT_EQ(summary.largestFrame, 1514);
  ASSERT_EQ(summary.interfaces.size(), 1u);
  EXPECT_EQ(summary.interfaces[0].frames, 12);
  ASSERT_TRUE(summary.earliest && summary.latest);
  EXPECT_DOUBLE_EQ(summary.durationSeconds(), 11 * 1500 / 1e6);
  EXPECT_TRUE(summary.timeOrdered);
  EXPECT_FALSE(summary.nanoseconds);
  EXPECT_GT(summary.snapshotLength, 0u);
  std::string error;
  EXPECT_EQ(summary.sha256, FileSha256(dir.path("t.pcap"), error));
}

}  // namespace
}  // namespace morph
