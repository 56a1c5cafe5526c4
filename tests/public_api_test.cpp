// The public library (include/morphalite/morphalite.h): frames as a libpcap
// target receives them, from every reader; pulled or pushed; stops, damage,
// refusals with their reasons; convert with the command line's options.
#include <gtest/gtest.h>
#include <morphalite/morphalite.h>

#include <tuple>

#include "engine/catalogue.h"
#include "formats/netmon.h"
#include "formats/observer.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using Fields = std::tuple<int64_t, uint32_t, std::vector<uint8_t>, uint32_t, int32_t, uint32_t>;

Fields FieldsOf(const morphalite::Frame& f) {
  return {f.timeNs, f.wireLength, std::vector<uint8_t>(f.data.begin(), f.data.end()), f.linkType,
          f.interface, f.flags};
}

std::vector<Fields> Pushed(const std::string& path, morphalite::ReadReport* report = nullptr) {
  std::vector<Fields> frames;
  morphalite::ReadReport done = morphalite::ReadFrames(path, [&](const morphalite::Frame& f) {
    frames.push_back(FieldsOf(f));
    return true;
  });
  if (report) *report = done;
  return frames;
}

morphalite::ReadOptions InBatchesOf(size_t frames) {
  morphalite::ReadOptions options;
  options.batchFrames = frames;
  return options;
}

std::vector<Fields> Pulled(const std::string& path, size_t batchFrames) {
  morphalite::FrameReader reader(path, InBatchesOf(batchFrames));
  std::vector<Fields> frames;
  for (auto batch = reader.next(); !batch.empty(); batch = reader.next()) {
    EXPECT_LE(batch.size(), batchFrames);
    for (const morphalite::Frame& f : batch) frames.push_back(FieldsOf(f));
  }
  EXPECT_EQ(reader.report().status, morphalite::Ok) << reader.report().detail;
  return frames;
}

// Each reader's frames are those of the libpcap and pcapng files converted
// from it: times in UTC nanoseconds, wire lengths and bytes without the FCS.
TEST(PublicApi, FramesOfEveryReaderAreThoseOfItsLibpcapAndPcapngConversions) {
  TempDir dir;
  const struct {
    AnalyzerType type;
    Topology topology;
    uint32_t linkType;
  } rows[] = {
      {Analyzer::Tcpdump, Topo::Ethernet, 1},   {Analyzer::SnifferDos, Topo::Ethernet, 1},
      {Analyzer::Pcapng, Topo::Ethernet, 1},    {Analyzer::NetMon2, Topo::Ethernet, 1},
      {Analyzer::Snoop, Topo::Ethernet, 1},     {Analyzer::Observer, Topo::Ethernet, 1},
      {Analyzer::SnifferPro, Topo::Ethernet, 1}, {Analyzer::Tcpdump, Topo::TokenRing, 6},
  };
  for (const auto& row : rows) {
    const std::string source = dir.path("source" + std::string(Analyzers(row.type).code));
    SCOPED_TRACE(source + " " + TopologyName(row.topology));
    WriteTrace(MakeTrace(row.topology, 40), row.type, source);
    morphalite::ReadReport report;
    const std::vector<Fields> frames = Pushed(source, &report);
    ASSERT_EQ(report.status, morphalite::Ok) << report.message << report.detail;
    ASSERT_EQ(frames.size(), 40u);
    EXPECT_EQ(report.frames, 40);
    EXPECT_EQ(std::get<3>(frames[0]), row.linkType);
    for (const char* code : {"TD", "PN"}) {
      const std::string target = dir.path(std::string("out.") + code);
      ASSERT_EQ(morphalite::Convert(source, code, target).status, morphalite::Ok);
      EXPECT_EQ(Pushed(target), frames) << code;
    }
    for (size_t batch : {1, 7, 256}) EXPECT_EQ(Pulled(source, batch), frames) << batch;
  }
}

TEST(PublicApi, ReadingStopsWhenAskedAndEndsAtDamageWithItsReason) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 5000), Analyzer::Tcpdump, dir.path("t.pcap"));
  int seen = 0;
  const morphalite::ReadReport stopped = morphalite::ReadFrames(
      dir.path("t.pcap"), [&](const morphalite::Frame&) { return ++seen < 3; });
  EXPECT_EQ(stopped.status, morphalite::Stopped);
  EXPECT_EQ(seen, 3);

  std::vector<uint8_t> bytes = ReadFileBytes(dir.path("t.pcap"));
  bytes.resize(bytes.size() - 7);
  WriteFileBytes(dir.path("cut.pcap"), bytes);
  morphalite::ReadReport cut;
  EXPECT_EQ(Pushed(dir.path("cut.pcap"), &cut).size(), 4999u);
  EXPECT_EQ(cut.status, morphalite::ReadError);
  EXPECT_NE(cut.detail.find("record 5,000"), std::string::npos) << cut.detail;

  // A reader left with batches still to come stops its thread.
  for (int i = 0; i < 20; ++i) {
    morphalite::FrameReader reader(dir.path("t.pcap"), InBatchesOf(1));
    EXPECT_EQ(reader.next().size(), 1u);
  }
}

TEST(PublicApi, RefusalsCarryTheSystemsReason) {
  TempDir dir;
  const morphalite::Identification missing = morphalite::Identify(dir.path("none.pcap"));
  EXPECT_EQ(missing.status, morphalite::SourceRefused);
  EXPECT_EQ(missing.detail, dir.path("none.pcap") + ": No such file or directory");
  EXPECT_NE(missing.json.find("\"detail\": \"" + missing.detail + "\""), std::string::npos);

  morphalite::ReadReport read;
  EXPECT_TRUE(Pushed(dir.path("none.pcap"), &read).empty());
  EXPECT_EQ(read.status, morphalite::SourceRefused);
  EXPECT_EQ(read.detail, missing.detail);

  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::Tcpdump, dir.path("t.pcap"));
  const morphalite::ConversionReport unwritable =
      morphalite::Convert(dir.path("t.pcap"), "TD", dir.path("no/such/dir/out.pcap"));
  EXPECT_EQ(unwritable.status, morphalite::WriteFailed);
  EXPECT_NE(unwritable.detail.find("No such file or directory"), std::string::npos)
      << unwritable.detail;
}

TEST(PublicApi, ConvertTakesTheCommandLinesOptions) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 30), Analyzer::Tcpdump, dir.path("t.pcap"));
  const struct {
    std::vector<morphalite::Option> options;
    morphalite::Status status;
    int64_t frames;
    std::string words;  // in the usage error, or in the JSON report
  } rows[] = {
      {{}, morphalite::Ok, 30, "\"framesWritten\": 30"},
      {{{"range", "2-5"}}, morphalite::Ok, 4, "\"framesRead\": 5"},
      {{{"slice", "40"}, {"pcap-order", "little"}}, morphalite::Ok, 30, "\"outcome\": \"converted\""},
      {{{"range", "40-50"}}, morphalite::NoFrames, 0, "\"exitStatus\": 5"},
      {{{"slice", "10"}}, morphalite::Usage, 0, "slice length"},
      {{{"bogus", ""}}, morphalite::Usage, 0, "unknown option --bogus"},
      {{{"salvage", "yes"}}, morphalite::Usage, 0, "--salvage takes no value"},
      {{{"jobs", "2"}}, morphalite::Usage, 0, "command line only"},
      {{{"strict", ""}, {"no-pad", ""}}, morphalite::Ok, 30, "\"losses\": {}"},
      {{{"strict", "yes"}}, morphalite::Usage, 0, "--strict takes no value"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words);
    const morphalite::ConversionReport report =
        morphalite::Convert(dir.path("t.pcap"), "pcap", dir.path("out.pcap"), row.options);
    EXPECT_EQ(report.status, row.status);
    EXPECT_EQ(report.framesWritten, row.frames);
    const std::string& text = report.status == morphalite::Usage ? report.usageError : report.json;
    EXPECT_NE(text.find(row.words), std::string::npos) << text;
  }
  EXPECT_EQ(morphalite::Convert(dir.path("t.pcap"), "ZZ", dir.path("out.pcap")).status,
            morphalite::Usage);
}

TEST(PublicApi, FormatsListEveryAnalyzerThatIsReadOrWritten) {
  size_t expected = 0;
  for (int type = 0; type < Analyzer::Count; ++type)
    expected += HasReader(AnalyzerType(type)) || HasWriter(AnalyzerType(type));
  const std::vector<morphalite::Format> formats = morphalite::Formats();
  EXPECT_EQ(formats.size(), expected);
  const auto sniffer = std::find_if(formats.begin(), formats.end(),
                                    [](const morphalite::Format& f) { return f.code == "SN"; });
  ASSERT_NE(sniffer, formats.end());
  EXPECT_TRUE(sniffer->read && sniffer->write);
  EXPECT_EQ(sniffer->suffix, ".enc");
}

}  // namespace
}  // namespace morph
