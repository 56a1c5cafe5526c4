// The command line as a user runs it: positional form, convert and its
// options, exit statuses, and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/bytes.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "tests/testkit.h"
#include "ui/cli/command_line.h"

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

namespace morph {
namespace {

using namespace testkit;

// One command line: its arguments ({d} is the test's directory), the exit
// status, lines expected on standard error, and what it leaves behind.
struct CommandRow {
  const char* what;
  std::string args;
  int status;
  std::vector<std::string> lines = {};   // each must appear in standard error
  std::vector<std::string> made = {};    // files that must exist, with frames in them
  std::vector<std::string> absent = {};  // files that must not exist
  std::vector<std::string> kept = {};    // files that must be as they were before
  std::string environment = {};          // set for the command, e.g. "TZ=Europe/Berlin"
};

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, dir);
  return text;
}

TEST(CommandTable, EachCommandLineEndsAsDocumented) {
  TempDir dir;
  const std::string d = dir.dir();
  WriteTrace(MakeTrace(Topo::Ethernet, 22), Analyzer::Tcpdump, dir.path("s.pcap"));
  mkdir(dir.path("a").c_str(), 0755);
  mkdir(dir.path("b").c_str(), 0755);
  mkdir(dir.path("out").c_str(), 0755);
  WriteFileBytes(dir.path("a/x.pcap"), ReadFileBytes(dir.path("s.pcap")));
  WriteFileBytes(dir.path("b/x.pcap"), ReadFileBytes(dir.path("s.pcap")));
  WriteFileBytes(dir.path("-dash.pcap"), ReadFileBytes(dir.path("s.pcap")));
  // An older file standing where targets go.
  const std::vector<uint8_t> older = {'o', 'l', 'd'};
  WriteFileBytes(dir.path("old.pcap"), older);
  // A SnifferPro file cut inside its last record.
  WriteTrace(MakeTrace(Topo::Ethernet, 5), Analyzer::SnifferPro, dir.path("xr.cap"));
  std::vector<uint8_t> xr = ReadFileBytes(dir.path("xr.cap"));
  xr.resize(xr.size() - 10);
  WriteFileBytes(dir.path("xrcut.cap"), xr);
  // A file of a family that is recognised but not read (LANDesk).
  std::vector<uint8_t> landesk(512, 0);
  landesk[10] = 0x1A;
  landesk[40] = 1;
  WriteFileBytes(dir.path("landesk.cap"), landesk);
  // A Sniffer DOS trace of local times.
  WriteTrace(MakeTrace(Topo::Ethernet, 4), Analyzer::SnifferDos, dir.path("ny.enc"));

  const CommandRow rows[] = {
      {"GNU value form", "convert {d}/s.pcap --to=TD -o {d}/eq.pcap --quiet", 0, {}, {"eq.pcap"}},
      {"friendly name", "convert {d}/s.pcap --to netmon2 -o {d}/nm.cap --quiet", 0, {}, {"nm.cap"}},
      {"-- before a name starting with -", "convert --to snoop -o {d}/dash.snoop -- {d}/-dash.pcap",
       0, {}, {"dash.snoop"}},
      {"defect 2: target not offered for the medium", "convert {d}/s.pcap --to SK -o {d}/sk.skc",
       1, {"cannot be written as Skavelin"}, {}, {"sk.skc"}},
      {"defect 3: recognised, not read", "convert {d}/landesk.cap --to TD -o {d}/ld.pcap", 2,
       {"landesk.cap contains an unsupported analyzer or topology."}, {}, {"ld.pcap"}},
      {"defect 5: range past the end keeps the older file",
       "convert {d}/s.pcap --to TD --range 100-200 -o {d}/old.pcap", 5,
       {"Output: Target file contains no frames!"}, {}, {}, {"old.pcap"}},
      {"defect 7: a cut SnifferPro record", "convert {d}/xrcut.cap --to TD -o {d}/xrcut.pcap", 3,
       {"Error reading from source file.  File may be corrupt.", "  {d}/xrcut.cap: record 5"},
       {"xrcut.pcap"}},
      {"no-clobber", "convert -n {d}/s.pcap --to TD -o {d}/old.pcap", 4,
       {"Destination file 'old.pcap' already exists; not overwritten."}, {}, {}, {"old.pcap"}},
      {"missing folder names the path and reason", "convert {d}/s.pcap --to TD -o {d}/no/t.pcap", 4,
       {"Unable to open Destination File.", "  {d}/no/t.pcap: No such file or directory"}},
      {"missing source names the path and reason", "convert {d}/none.pcap --to TD -o {d}/n.pcap", 2,
       {"  {d}/none.pcap: No such file or directory"}, {}, {"n.pcap"}},
      {"duplicate targets refused before anything starts",
       "convert {d}/a/x.pcap {d}/b/x.pcap --to TD -o {d}/out", 1,
       {"would both be written to {d}/out/x.dmp"}, {}, {"out/x.dmp"}},
      {"batch: a line per file and a summary",
       "convert {d}/a/x.pcap {d}/none.pcap {d}/s.pcap --to TD -o {d}/out", 2,
       {"{d}/a/x.pcap -> {d}/out/x.dmp: converted, 22 frames", "{d}/none.pcap: refused",
        "Converted 2 of 3 files; failed: {d}/none.pcap (refused)."},
       {"out/x.dmp", "out/s.dmp"}},
      {"mistyped code names the nearest", "convert {d}/s.pcap --to tcpdmp", 1,
       {"Bad destination analyzer type of tcpdmp.", "Nearest: tcpdump (tcpdump/libpcap).",
        "morphalite --formats"}},
      {"-o - refused for a writer that seeks back", "convert {d}/s.pcap --to XR -o -", 1,
       {"cannot be written to standard output"}},
      {"- as source needs -o", "convert - --to TD", 1, {"needs -o FILE or -o -"}},
      {"option with a stray value", "convert {d}/s.pcap --quiet=yes --to TD", 1,
       {"--quiet takes no value"}},
      {"unknown source zone", "convert {d}/s.pcap --to TD --source-tz Mars/Olympus -o {d}/tz.pcap", 1,
       {"--source-tz: unknown time zone Mars/Olympus"}, {}, {"tz.pcap"}},
      {"unknown target zone", "convert {d}/s.pcap --to SN --target-tz=EST5EDT,M13.1.0 -o {d}/tz.enc", 1,
       {"--target-tz: unknown time zone EST5EDT,M13.1.0"}, {}, {"tz.enc"}},
      {"Sniffer DOS recorded in New York, converted in Berlin",
       "convert {d}/ny.enc --source-tz America/New_York --target-tz UTC --to TD -o {d}/ny.pcap", 0,
       {}, {"ny.pcap"}, {}, {}, "TZ=Europe/Berlin"},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::vector<uint8_t>> before;
    for (const std::string& f : row.kept) before.push_back(ReadFileBytes(dir.path(f)));
    CommandResult r = RunCommand(row.environment + " " + MORPHALITE_BINARY + " " + Expand(row.args, d));
    EXPECT_EQ(r.status, row.status) << r.err;
    for (const std::string& line : row.lines)
      EXPECT_NE(r.err.find(Expand(line, d)), std::string::npos) << Expand(line, d) << "\n" << r.err;
    for (const std::string& f : row.made)
      EXPECT_GT(ReadTrace(dir.path(f)).trace.frames.size(), 0u) << f;
    for (const std::string& f : row.absent)
      EXPECT_NE(access(dir.path(f).c_str(), F_OK), 0) << f << " was left behind";
    for (size_t i = 0; i < row.kept.size(); ++i)
      EXPECT_EQ(ReadFileBytes(dir.path(row.kept[i])), before[i]) << row.kept[i] << " changed";
  }
  // No temporary file is left anywhere.
  CommandResult left = RunCommand("find " + d + " -name '*.part'");
  EXPECT_EQ(left.out, "");
}

// The UTC seconds of each record of a libpcap file, in either byte order.
std::vector<uint32_t> PcapSeconds(const std::string& path) {
  const std::vector<uint8_t> f = ReadFileBytes(path);
  std::vector<uint32_t> seconds;
  if (f.size() < 24) return seconds;
  const bool big = GetBE32(f.data()) == 0xA1B2C3D4;
  auto u32 = [&](size_t at) { return big ? GetBE32(f.data() + at) : GetLE32(f.data() + at); };
  for (size_t at = 24; at + 16 <= f.size(); at += 16 + u32(at + 8)) seconds.push_back(u32(at));
  return seconds;
}

// A Sniffer DOS trace stores local times: recorded in New York at 01:00 on
// 15 January (EST) and 15 July (EDT), it converts on a machine in Berlin to
// the UTC times of New York, and back into a New York Sniffer DOS file.
TEST(CommandTable, SourceAndTargetZonesGiveTheRightUtcTimes) {
  TempDir dir;
  const std::string bin = std::string("TZ=Europe/Berlin ") + MORPHALITE_BINARY;
  struct Case {
    double date;
    uint32_t newYorkUtc, berlinUtc;  // 01:00 local as UTC seconds
  } const cases[] = {
      {EncodeDate(2024, 1, 15), 1705298400, 1705276800},  // 06:00 and 00:00 UTC
      {EncodeDate(2024, 7, 15), 1721019600, 1720998000},  // 05:00 and 23:00 (14 July) UTC
  };
  for (const Case& c : cases) {
    Trace trace = MakeTrace(Topo::Ethernet, 3, 3600LL * 1000000, 1000000);
    trace.traceDate = c.date;
    {
      ScopedTimeZone utc("UTC");  // the file's local times are 01:00:00, 01:00:01, ...
      WriteTrace(trace, Analyzer::SnifferDos, dir.path("ny.enc"));
    }
    CommandResult r = RunCommand(bin + " convert " + dir.path("ny.enc") +
                                 " --source-tz America/New_York --to TD -o " + dir.path("ny.pcap") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(PcapSeconds(dir.path("ny.pcap")),
              (std::vector<uint32_t>{c.newYorkUtc, c.newYorkUtc + 1, c.newYorkUtc + 2}));
    // Without the option the machine's zone holds, as before.
    r = RunCommand(bin + " convert " + dir.path("ny.enc") + " --to TD -o " + dir.path("berlin.pcap") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(PcapSeconds(dir.path("berlin.pcap")).at(0), c.berlinUtc);
    // Back into New York local times: the same Sniffer DOS frames.
    r = RunCommand(bin + " convert " + dir.path("ny.pcap") + " --target-tz America/New_York --to SN -o " +
                   dir.path("again.enc") + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    ScopedTimeZone utc("UTC");
    ExpectSameFrames(trace, ReadTrace(dir.path("again.enc")).trace, Tolerance{1});
  }
}

// Defect 1: after a media conversion the libpcap header states the medium
// of the frames written, and our identify and tshark agree.
TEST(CommandTable, MediaConversionsWriteTheRightLinkType) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 6), Analyzer::Tcpdump, dir.path("e.pcap"));
  CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("e.pcap") +
                               " --to TD --to-wireless -o " + dir.path("w.pcap") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  auto w = ReadFileBytes(dir.path("w.pcap"));
  ASSERT_GE(w.size(), 24u);
  EXPECT_EQ(GetBE32(w.data() + 20) == 105 || GetLE32(w.data() + 20) == 105, true);
  EXPECT_EQ(ReadTrace(dir.path("w.pcap")).topology, Topo::Wireless);
  r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("w.pcap") +
                 " --to TD --to-ethernet -o " + dir.path("back.pcap") + " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadTrace(dir.path("back.pcap")).topology, Topo::Ethernet);
}

// SIGTERM and SIGHUP stop like Ctrl-C: a finished target of the frames so
// far, status 6, and the partial-conversion line off a terminal. The signal
// arrives while the source is still being read from the pipe.
TEST(CommandTable, TerminationSignalsStopLikeCtrlC) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 30), Analyzer::Tcpdump, dir.path("s.pcap"));
  for (const char* signal : {"TERM", "HUP"}) {
    SCOPED_TRACE(signal);
    const std::string target = dir.path(std::string("t_") + signal + ".cap");
    CommandResult r = RunCommand(
        "((cat " + dir.path("s.pcap") + "; sleep 1) | " + MORPHALITE_BINARY +
        " convert - --to N2 -o " + target + " & pid=$!; sleep 0.3; kill -" + signal +
        " $pid; wait $pid)");
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_NE(r.err.find("standard input: FILE PARTIALLY CONVERTED"), std::string::npos) << r.err;
    ReadResult back = ReadTrace(target);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    EXPECT_GE(back.trace.frames.size(), 1u);
    EXPECT_LT(back.trace.frames.size(), 30u);
  }
}

// Conversions writing the same target at once leave one complete file of
// one of them, never a mixture.
TEST(CommandTable, ConcurrentWritersLeaveOneCompleteFile) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 300), Analyzer::Tcpdump, dir.path("a.pcap"));
  WriteTrace(MakeTrace(Topo::Ethernet, 200, 7200LL * 1000000), Analyzer::Tcpdump, dir.path("b.pcap"));
  const std::string bin = MORPHALITE_BINARY, target = dir.path("same.cap");
  for (const char* source : {"a.pcap", "b.pcap"})
    RunCommand(bin + " convert " + dir.path(source) + " --to N2 -o " + dir.path(std::string(source) + ".cap") + " --quiet");
  const auto a = ReadFileBytes(dir.path("a.pcap.cap")), b = ReadFileBytes(dir.path("b.pcap.cap"));
  for (int round = 0; round < 4; ++round) {
    std::string script = "(";
    for (int i = 0; i < 6; ++i)
      script += bin + " convert " + dir.path(i % 2 ? "a.pcap" : "b.pcap") + " --to N2 -o " + target +
                " --quiet & ";
    CommandResult r = RunCommand(script + "wait)");
    const auto got = ReadFileBytes(target);
    EXPECT_TRUE(got == a || got == b) << "round " << round << ": " << got.size() << " bytes";
  }
  EXPECT_EQ(RunCommand("find " + dir.dir() + " -name '*.part'").out, "");
}

// The help text, the completion and the manual page describe the same
// options: each option of the table is in the manual page and the completion,
// and the completion is valid bash.
TEST(CommandTable, HelpCompletionAndManualPageAgree) {
  const auto page = ReadFileBytes(std::string(MORPHALITE_SOURCE_DIR) + "/docs/morphalite.1");
  const std::string man(page.begin(), page.end());
  const std::string completion = BashCompletion(), help = ConvertHelpText();
  for (const std::string& name : ConvertOptionNames()) {
    std::string escaped;
    for (char ch : name) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
    EXPECT_NE(man.find(escaped), std::string::npos) << name << " is not in docs/morphalite.1";
    EXPECT_NE(completion.find(" " + name), std::string::npos) << name;
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
  TempDir dir;
  WriteFileBytes(dir.path("c.bash"), std::vector<uint8_t>(completion.begin(), completion.end()));
  if (HaveTool("bash")) {
    EXPECT_EQ(RunCommand("bash -n " + dir.path("c.bash")).status, 0);
  }
  CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " --completion bash");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, completion);
}

// A read error in the middle still leaves a finished target: the frames
// before it, read back by our readers and by tshark, each once.
TEST(CommandTable, AReadErrorInTheMiddleLeavesAFinishedTarget) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 12), Analyzer::Tcpdump, dir.path("s.pcap"));
  std::vector<uint8_t> cut = ReadFileBytes(dir.path("s.pcap"));
  cut.resize(cut.size() - 7);
  WriteFileBytes(dir.path("cut.pcap"), cut);
  for (const char* code : {"N2", "NM", "XR", "SO", "SN"}) {
    SCOPED_TRACE(code);
    const std::string target = dir.path(std::string("t.") + code);
    CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("cut.pcap") +
                                 " --to " + code + " -o " + target + " --quiet");
    EXPECT_EQ(r.status, 3) << r.err;
    ReadResult back = ReadTrace(target);
    EXPECT_FALSE(back.state.ReadError) << back.state.ReadErrorDetail;
    EXPECT_EQ(back.trace.frames.size(), 11u);
    if (HaveTool("tshark")) {
      EXPECT_EQ(TsharkFrames(target).size(), 11u);
    }
  }
}

// Pipes through real processes: every frame reaches the far end.
TEST(CommandTable, StandardStreamsCarryEveryFrame) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 40), Analyzer::Tcpdump, dir.path("s.pcap"));
  const std::string bin = MORPHALITE_BINARY;
  CommandResult r = RunCommand("(cat " + dir.path("s.pcap") + " | " + bin +
                               " convert - --to pcap -o - > " + dir.path("piped.pcap") + ")");
  ASSERT_EQ(r.status, 0) << r.err;
  ReadResult back = ReadTrace(dir.path("piped.pcap"));
  EXPECT_EQ(back.trace.frames.size(), 40u);
  EXPECT_FALSE(back.state.ReadError);
  if (HaveTool("tshark")) {
    r = RunCommand("(cat " + dir.path("s.pcap") + " | " + bin +
                   " convert - --to pcap -o - | tshark -r - 2>/dev/null | wc -l)");
    EXPECT_EQ(std::stoi(r.out), 40);
  }
}

}  // namespace
}  // namespace morph
