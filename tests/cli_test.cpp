// The command line as a user runs it: positional form, convert and its
// options, exit statuses, and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/streams.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

std::string Bin() { return MORPHALITE_BINARY; }

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    Trace t = MakeTrace(Topo::Ethernet, 12);
    WriteTrace(t, Analyzer::Tcpdump, dir.path("trace.pcap"));
    original = ReadFileBytes(dir.path("trace.pcap"));
  }
  CommandResult run(const std::string& args) { return RunCommand(Bin() + " " + args); }
  void expectSourceUnchanged() { EXPECT_EQ(ReadFileBytes(dir.path("trace.pcap")), original); }
  TempDir dir;
  std::vector<uint8_t> original;
};

TEST_F(Cli, PositionalFormWritesBesideTheSourceAndOverwrites) {
  WriteFileBytes(dir.path("trace.dmp"), {1, 2, 3});
  CommandResult r = run(dir.path("trace.pcap") + " td /ns");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto out = ReadFileBytes(dir.path("trace.dmp"));
  EXPECT_GT(out.size(), 100u);
  ReadResult back = ReadTrace(dir.path("trace.dmp"));
  EXPECT_EQ(back.trace.frames.size(), 12u);
  expectSourceUnchanged();
}

TEST_F(Cli, UnknownCodeIsAParameterError) {
  CommandResult r = run(dir.path("trace.pcap") + " XX /NS");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Parameter Error: Bad destination analyzer type of XX.\n");
  r = run(dir.path("trace.pcap") + " /NS /NS");  // /NS in the second place is a code
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Bad destination analyzer type of /NS."), std::string::npos);
}

TEST_F(Cli, RefusedSourcesSayWhyAndFail) {
  WriteFileBytes(dir.path("empty.pcap"), {});
  WriteFileBytes(dir.path("tiny.pcap"), std::vector<uint8_t>(39, 0xD4));
  WriteFileBytes(dir.path("junk.bin"), std::vector<uint8_t>(400, 0x5A));
  mkdir(dir.path("folder").c_str(), 0755);
  struct Case {
    std::string file, message;
  } cases[] = {
      {"empty.pcap", "Open Trace File: empty.pcap is too small.\n"},
      {"tiny.pcap", "Open Trace File: tiny.pcap is too small.\n"},
      {"junk.bin", "Open Trace File: junk.bin is obsolete, not supported, or not a trace file.\n"},
      {"missing.pcap",
       "Open Trace File: Unable to open Source file.  File is in use or name is bad.\n  " +
           dir.path("missing.pcap") + ": No such file or directory\n"},
      {"folder", "Open Trace File: Unable to open Source file.  File is in use or name is bad.\n  " +
                     dir.path("folder") + ": Is a directory\n"},
  };
  for (const Case& c : cases) {
    CommandResult r = run(dir.path(c.file) + " TD /NS");
    EXPECT_EQ(r.status, 2) << c.file;
    EXPECT_EQ(r.err, c.message);
  }
}

TEST_F(Cli, TruncatedSourcesAreReadErrorsAndKeepTheFramesBefore) {
  std::vector<uint8_t> cut(original.begin(), original.end() - 7);
  WriteFileBytes(dir.path("cut.pcap"), cut);
  CommandResult r = run(dir.path("cut.pcap") + " TD /NS");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "File Error: Error reading from source file.  File may be corrupt.\n  " +
                       dir.path("cut.pcap") +
                       ": record 12 at offset 6,736: frame cut short: 124 bytes stated\n");
  // Cut inside the first record header: nothing but the file header is left.
  std::vector<uint8_t> early(original.begin(), original.begin() + 40);
  WriteFileBytes(dir.path("early.pcap"), early);
  r = run(dir.path("early.pcap") + " TD /NS");
  EXPECT_NE(r.status, 0);
}

TEST_F(Cli, AFileNeverBecomesItsOwnTarget) {
  std::string src = dir.path("trace.pcap");
  // Through ./name, a symbolic link and a hard link.
  ASSERT_EQ(symlink(src.c_str(), dir.path("link.dmp").c_str()), 0);
  ASSERT_EQ(link(src.c_str(), dir.path("hard.dmp").c_str()), 0);
  for (const std::string& target : {dir.dir() + "/./trace.pcap", dir.path("link.dmp"),
                                    dir.path("hard.dmp"), src}) {
    CommandResult r = run("convert " + src + " --to TD -o " + target + " --quiet");
    EXPECT_EQ(r.status, 4) << target;
    EXPECT_EQ(r.err, "Alert: Destination cannot be the same as the source file.\n") << target;
    expectSourceUnchanged();
  }
}

TEST_F(Cli, UnwritableDestinationIsAWriteFailure) {
  CommandResult r = run("convert " + dir.path("trace.pcap") + " --to TD -o " +
                        dir.path("no/such/dir/out.pcap") + " --quiet");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Error: Unable to open Destination File.  Check the path and file Name.\n  " +
                       dir.path("no/such/dir/out.pcap") + ": No such file or directory\n");
  if (access("/dev/full", W_OK) == 0) {
    r = run("convert " + dir.path("trace.pcap") + " --to TD -o /dev/full --quiet");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Unable to write to destination file full"), std::string::npos) << r.err;
  }
}

TEST_F(Cli, ConvertOptionsRangeSliceOrderAndNames) {
  CommandResult r = run("convert " + dir.path("trace.pcap") +
                        " --to tcpdump/LIBPCAP --range 3-5 --slice 40 --pcap-order little "
                        "--pcap-variant modified -o " + dir.path("r.pcap") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  auto b = ReadFileBytes(dir.path("r.pcap"));
  ASSERT_GE(b.size(), 24u + 24);
  EXPECT_EQ(GetLE32(b.data()), 0xA1B2C3D4u);
  EXPECT_EQ(GetLE32(b.data() + 16), 40u);
  EXPECT_EQ(b.size(), 24u + 3 * (24 + 40));  // three frames, each sliced to 40 bytes
  EXPECT_EQ(run("convert " + dir.path("trace.pcap") + " --to TD --range 5-3").status, 1);
  EXPECT_EQ(run("convert " + dir.path("trace.pcap") + " --to nonsense").status, 1);
  EXPECT_EQ(run("convert --to TD").status, 1);
}

TEST_F(Cli, SeveralSourcesIntoADirectory) {
  WriteFileBytes(dir.path("second.pcap"), original);
  mkdir(dir.path("out").c_str(), 0755);
  CommandResult r = run("convert " + dir.path("trace.pcap") + " " + dir.path("second.pcap") +
                        " --to TD -o " + dir.path("out") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadTrace(dir.path("out/trace.dmp")).trace.frames.size(), 12u);
  EXPECT_EQ(ReadTrace(dir.path("out/second.dmp")).trace.frames.size(), 12u);
}

TEST_F(Cli, NoFramesIsAFailure) {
  // Every frame lies before the range: nothing written, said so, status 5,
  // and no empty target left behind.
  CommandResult r = run("convert " + dir.path("trace.pcap") + " --to TD --range 20-30 -o " +
                        dir.path("none.pcap") + " --quiet");
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "Output: Target file contains no frames!\n");
  EXPECT_NE(access(dir.path("none.pcap").c_str(), F_OK), 0);
  // A file header, one empty record (padded to a minimal frame), then a cut one.
  std::vector<uint8_t> headerOnly(original.begin(), original.begin() + 24);
  headerOnly.resize(50, 0);
  WriteFileBytes(dir.path("cut.pcap"), headerOnly);
  r = run(dir.path("cut.pcap") + " TD /NS");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "File Error: Error reading from source file.  File may be corrupt.\n  " +
                       dir.path("cut.pcap") + ": record 2 at offset 40: record header cut short\n");
}

TEST_F(Cli, TargetsWithoutAWriterAreRefusedBeforeAnythingIsWritten) {
  CommandResult r = run(dir.path("trace.pcap") + " BT /NS");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Output: Writing BSTS (Agilent) files is not supported.\n");
  EXPECT_TRUE(ReadFileBytes(dir.path("trace.data_recording")).empty());
}

TEST_F(Cli, TheReadmeListsTheFormatsThisBuildConverts) {
  auto readme = ReadFileBytes(std::string(MORPHALITE_SOURCE_DIR) + "/README.md");
  CommandResult r = run("--formats");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(std::string(readme.begin(), readme.end()).find(r.out), std::string::npos)
      << "README.md: paste the output of morphalite --formats into its formats table";
}

TEST_F(Cli, HelpAndVersion) {
  CommandResult r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("morphalite convert"), std::string::npos);
  r = run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Morphalite ", 0), 0u);
}

}  // namespace
}  // namespace morph
