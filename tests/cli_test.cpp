// The command line as a user runs it: positional form, convert and its
// options, exit statuses, and every kind of bad input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/morphalite.h"
#include "engine/streams.h"
#include "engine/timebase.h"
#include "formats/advisor.h"
#include "formats/dataglance.h"
#include "formats/domino.h"
#include "formats/lan900.h"
#include "formats/netmon.h"
#include "formats/observer.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "formats/text_dump.h"
#include "tests/testkit.h"
#include "ui/cli/command_line.h"
#include "ui/cli/json.h"
#include "ui/cli/options.h"

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
  EXPECT_EQ(GetLE32(b.data()), 0xA1B2CD34u);
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
  std::vector<std::string> output = {};  // each must appear in standard output
  std::string environment = {};          // before the command, e.g. "TZ=Europe/Berlin"
  std::string input = {};                // a file piped into the command's standard input
};

// Temporary files of ours (and of older versions) under a folder.
std::string TemporariesIn(const std::string& folder) {
  return RunCommand("find " + folder + " -name '.morphalite-*' -o -name '*.part'").out;
}

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("{d}")) != std::string::npos;) text.replace(at, 3, dir);
  return text;
}

// A copy of a file our writer wrote with `n` bytes of 0xFF put before its
// eighth record: libpcap and snoop records, pcapng blocks after the section
// header and the interface description.
void WriteDamagedCopy(const std::string& good, const std::string& bad, size_t n) {
  std::vector<uint8_t> f = ReadFileBytes(good);
  size_t at = 0;
  if (GetLE32(f.data()) == 0x0A0D0D0A) {
    for (int i = 0; i < 2 + 7; ++i) at += GetLE32(f.data() + at + 4);
  } else if (std::memcmp(f.data(), "snoop", 5) == 0) {
    at = 16;
    for (int i = 0; i < 7; ++i) at += GetBE32(f.data() + at + 8);
  } else {
    const bool big = GetBE32(f.data()) == 0xA1B2C3D4;
    at = 24;
    for (int i = 0; i < 7; ++i) at += 16 + (big ? GetBE32(f.data() + at + 8) : GetLE32(f.data() + at + 8));
  }
  f.insert(f.begin() + long(at), n, 0xFF);
  WriteFileBytes(bad, f);
}

// A little-endian pcapng block of `type` around `body`.
void AppendBlock(Bytes& file, uint32_t type, const Bytes& body) {
  const uint32_t total = uint32_t(12 + body.size());
  file.le32(type).le32(total).data(body.v).le32(total);
}

// A pcapng section header alone, and one with two interfaces, Ethernet and
// Linux cooked, whose frames alternate (three each).
std::vector<uint8_t> PcapngOfInterfaces(bool withInterfaces) {
  Bytes f;
  AppendBlock(f, 0x0A0D0D0A, Bytes().le32(0x1A2B3C4D).le16(1).le16(0).le64(~uint64_t(0)));
  if (!withInterfaces) return f.v;
  AppendBlock(f, 1, Bytes().le16(1).le16(0).le32(0));
  AppendBlock(f, 1, Bytes().le16(113).le16(0).le32(0));
  for (uint32_t k = 0; k < 6; ++k) {
    const uint64_t micros = (1700000000ull + k) * 1000000;
    const std::vector<uint8_t> data = Pattern(64 + k, uint8_t(k));
    AppendBlock(f, 6, Bytes().le32(k % 2).le32(uint32_t(micros >> 32)).le32(uint32_t(micros))
                          .le32(uint32_t(data.size())).le32(uint32_t(data.size())).data(data).align(4));
  }
  return f.v;
}

// A little-endian libpcap file of the link type with three frames.
std::vector<uint8_t> PcapOfLinkType(uint32_t linkType) {
  Bytes f;
  f.le32(0xA1B2C3D4).le16(2).le16(4).le32(0).le32(0).le32(65535).le32(linkType);
  for (uint32_t k = 0; k < 3; ++k)
    f.le32(1700000000 + k).le32(k).le32(20 + k).le32(20 + k).data(Pattern(20 + k, uint8_t(k)));
  return f.v;
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
  WriteFileBytes(dir.path("older.cap"), older);
  // A frame of 200,000 bytes among short ones; frames of 42 bytes as hosts
  // capture them before their card pads them.
  Trace jumbo = MakeTrace(Topo::Ethernet, 3);
  jumbo.frames[1] = MakeFrame(jumbo.frames[1].time, 200000 + 4);
  WriteTrace(jumbo, Analyzer::Tcpdump, dir.path("jumbo.pcap"));
  Trace small = MakeTrace(Topo::Ethernet, 5);
  for (Frame& f : small.frames) f = MakeFrame(f.time, 42 + 4);
  WriteTrace(small, Analyzer::Tcpdump, dir.path("short.pcap"));
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
  // A libpcap file header alone; one cut inside its first record; a gzip
  // file cut inside its trailer.
  const std::vector<uint8_t> pcap = ReadFileBytes(dir.path("s.pcap"));
  WriteFileBytes(dir.path("header.pcap"), {pcap.begin(), pcap.begin() + 24});
  WriteFileBytes(dir.path("first.pcap"), {pcap.begin(), pcap.begin() + 60});
  WriteGzipFile(dir.path("packed.pcap.gz"), pcap);
  std::vector<uint8_t> packed = ReadFileBytes(dir.path("packed.pcap.gz"));
  packed.resize(packed.size() - 4);
  WriteFileBytes(dir.path("trailer.pcap.gz"), packed);
  // A Sniffer DOS trace of local times.
  WriteTrace(MakeTrace(Topo::Ethernet, 4), Analyzer::SnifferDos, dir.path("ny.enc"));
  // A Domino index stating two entries more than the five it holds.
  WriteTrace(MakeTrace(Topo::Ethernet, 5), Analyzer::Domino, dir.path("dom.cap"));
  std::vector<uint8_t> dom = ReadFileBytes(dir.path("dom.cap"));
  const size_t countAt = GetLE32(&dom[82]) + 4;
  PutLE32(&dom[countAt], GetLE32(&dom[countAt]) + 2);
  WriteFileBytes(dir.path("dom.cap"), dom);
  // A LAN900 trace whose second record claims a body reaching into a page after it.
  WriteTrace(MakeTrace(Topo::Ethernet, 5), Analyzer::Lan900, dir.path("l9.dat"));
  std::vector<uint8_t> l9 = ReadFileBytes(dir.path("l9.dat"));
  PutLE16(&l9[65536 + 12 + GetLE16(&l9[65536 + 2]) + 2], 65535);
  l9.resize(l9.size() + 65536, 0xAB);
  WriteFileBytes(dir.path("l9.dat"), l9);
  // An Ostrawind file of 5 frames cut after its third record (a 50-byte
  // header, records of 16 + 64, 16 + 580 and 16 + 1,518 bytes).
  WriteTrace(MakeTrace(Topo::Ethernet, 5), Analyzer::Ostrawind, dir.path("os.pkt"));
  std::vector<uint8_t> os = ReadFileBytes(dir.path("os.pkt"));
  os.resize(50 + 80 + 596 + 1534);
  WriteFileBytes(dir.path("oscut.pkt"), os);
  // A wrapped DataGLANce capture.
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::DataGlance, dir.path("w.dgc"));
  std::vector<uint8_t> wrapped = ReadFileBytes(dir.path("w.dgc"));
  wrapped[131] |= 1;
  WriteFileBytes(dir.path("w.dgc"), wrapped);
  // A source larger than a file-size limit of 40 blocks (20 KB), older files
  // where its targets go, and an Advisor file whose writer never closed it.
  WriteTrace(MakeTrace(Topo::Ethernet, 2000), Analyzer::Tcpdump, dir.path("big.pcap"));
  for (const char* name : {"old.dat", "old.cap"}) WriteFileBytes(dir.path(name), older);
  WriteTrace(MakeTrace(Topo::Ethernet, 4), Analyzer::Advisor, dir.path("open.dat"));
  std::vector<uint8_t> open = ReadFileBytes(dir.path("open.dat"));
  PutLE32(&open[16], 0);  // the header's state: open
  WriteFileBytes(dir.path("open.dat"), open);
  // libpcap, pcapng and snoop files of 22 frames, 0xFF bytes before the eighth.
  WriteTrace(MakeTrace(Topo::Ethernet, 22), Analyzer::Pcapng, dir.path("s.pcapng"));
  WriteTrace(MakeTrace(Topo::Ethernet, 22), Analyzer::Snoop, dir.path("s.snoop"));
  WriteDamagedCopy(dir.path("s.pcap"), dir.path("dmg.pcap"), 37);
  WriteDamagedCopy(dir.path("s.pcapng"), dir.path("dmg.pcapng"), 36);
  WriteDamagedCopy(dir.path("s.snoop"), dir.path("dmg.snoop"), 41);
  // Interfaces of two link types, a section header alone, Linux cooked libpcap.
  WriteFileBytes(dir.path("two.pcapng"), PcapngOfInterfaces(true));
  WriteFileBytes(dir.path("shb.pcapng"), PcapngOfInterfaces(false));
  WriteFileBytes(dir.path("sll.pcap"), PcapOfLinkType(113));
  // A pcapng packet of 2107, in microseconds: past libpcap's unsigned seconds.
  const uint64_t y2107 = 4323283200ULL * 1000000;
  Bytes late;
  late.le32(0x0A0D0D0A).le32(28).le32(0x1A2B3C4D).le16(1).le16(0).le64(~uint64_t(0)).le32(28);
  late.le32(1).le32(20).le16(1).le16(0).le32(65535).le32(20);
  late.le32(6).le32(92).le32(0).le32(uint32_t(y2107 >> 32)).le32(uint32_t(y2107));
  late.le32(60).le32(60).pattern(60, 7).le32(92);
  WriteFileBytes(dir.path("y2107.pcapng"), late.v);
  // A DataGLANce file under another suffix; an Observer file of times of day
  // (01:00:00 on), piped in below.
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::DataGlance, dir.path("dg.bin"));
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::Observer, dir.path("ob.bfr"));
  WriteFileBytes(dir.path("packed.bin"), ReadFileBytes(dir.path("packed.pcap.gz")));
  // 22 frames, 4 of them repeating the bytes of one 1, 3, 4 and 5 frames before.
  Trace dups = MakeTrace(Topo::Ethernet, 22);
  for (const auto& [at, back] : {std::pair{5, 1}, {10, 3}, {16, 4}, {20, 5}}) {
    dups.frames[size_t(at)].bytes = dups.frames[size_t(at - back)].bytes;
    dups.frames[size_t(at)].frameLength = dups.frames[size_t(at - back)].frameLength;
  }
  WriteTrace(dups, Analyzer::Tcpdump, dir.path("dups.pcap"));
  WriteFileBytes(dir.path("nc_00001.pcap"), older);

  const CommandRow rows[] = {
      {"--pcap-resolution takes us or ns",
       "convert {d}/s.pcap --to TD --pcap-resolution ms -o {d}/ms.pcap", 1,
       {"--pcap-resolution takes us or ns"}, {}, {"ms.pcap"}},
      {"nanosecond libpcap has no modified layout",
       "convert {d}/s.pcap --to TD --pcap-resolution ns --pcap-variant modified -o {d}/nsm.pcap", 1,
       {"Nanosecond libpcap files have the standard record layout"}, {}, {"nsm.pcap"}},
      {"a time libpcap cannot hold fails the write, naming frame and time",
       "convert {d}/y2107.pcapng --to TD -o {d}/y2107.pcap", 4,
       {"frame 1: time 2107-01-01 00:00:00 UTC lies outside the times the target can store, "
        "1970-01-01 00:00:00 UTC to 2106-02-07 06:28:15 UTC"}},
      {"pcapng holds the same time", "convert {d}/y2107.pcapng --to pcapng -o {d}/y2107b.pcapng", 0,
       {}, {"y2107b.pcapng"}},
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
      {"a Domino index stating more entries: its frames, then the read error",
       "convert {d}/dom.cap --to TD -o {d}/dom.pcap --json", 3, {}, {"dom.pcap"}, {}, {},
       {"\"framesRead\": 5,", "\"framesWritten\": 5,",
        "\"detail\": \"record 6 at offset ", "states 7 entries, but the file holds 5\""}},
      {"a LAN900 record reaching past its page", "convert {d}/l9.dat --to TD -o {d}/l9.pcap", 3,
       {"Error reading from source file.  File may be corrupt.",
        "  {d}/l9.dat: record 2 at offset ", "runs past the end of its page"},
       {"l9.pcap"}},
      {"a file cut short of the frame count its header states",
       "convert {d}/oscut.pkt --to TD -o {d}/oscut.pcap", 3,
       {"Error reading from source file.  File may be corrupt.",
        "frame 4 at offset 2,260: the header states 5 frames, the file ends after 3"},
       {"oscut.pcap"}},
      {"a wrapped DataGLANce capture is refused", "convert {d}/w.dgc --to TD -o {d}/w.pcap", 2,
       {"Wrapped format not supported."}, {}, {"w.pcap"}},
      {"a wrapped DataGLANce capture is refused with its reason", "identify --frames {d}/w.dgc", 2,
       {"w.dgc: the capture ran round its buffer (bit 0 of byte 131)"}},
      {"info of a wrapped DataGLANce capture: refused", "info --json {d}/w.dgc", 2, {}, {}, {}, {},
       {"\"accepted\": false", "Wrapped format not supported."}},
      {"merge: a wrapped DataGLANce source refuses the merge, nothing written",
       "merge {d}/s.pcap {d}/w.dgc --to TD -o {d}/mw.pcap", 2, {"Wrapped format not supported."},
       {}, {"mw.pcap"}},
      {"no-clobber", "convert -n {d}/s.pcap --to TD -o {d}/old.pcap", 4,
       {"Destination file '{d}/old.pcap' already exists; not overwritten."}, {}, {}, {"old.pcap"}},
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
      {"snoop to standard output, through a pipe", "convert {d}/s.pcap --to snoop -o - | cat > {d}/pipe.snoop",
       0, {}, {"pipe.snoop"}},
      {"/dev/stdout into a pipe is written as -o -",
       "convert {d}/s.pcap --to TD -o /dev/stdout | cat > {d}/devout.pcap", 0, {}, {"devout.pcap"}},
      {"a device refuses a writer that seeks back", "convert {d}/s.pcap --to XR -o /dev/null", 1,
       {"cannot be written to a pipe or device (/dev/null)"}},
      {"a pipe named as the source is spooled as - is",
       "convert /dev/stdin --to snoop -o {d}/stdin.snoop", 0, {}, {"stdin.snoop"}, {}, {}, {}, {},
       "{d}/s.pcap"},
      {"a pipe named as the source needs -o", "convert /dev/stdin --to TD", 1,
       {"a source read from a pipe or device (/dev/stdin) needs -o FILE or -o -"}, {}, {}, {}, {},
       {}, "{d}/s.pcap"},
      {"identify - reads standard input", "identify -", 0, {}, {}, {}, {},
       {"File: standard input\nAnalyzer: tcpdump/libpcap\n", "File Date: \n", "Destination: \n"},
       {}, "{d}/s.pcap"},
      {"GNU attached short values: -oFILE, -j2", "convert {d}/s.pcap --to TD -o{d}/attached.pcap -j2",
       0, {}, {"attached.pcap"}},
      {"an unknown option of identify is no file name", "identify --frame {d}/s.pcap", 1,
       {"Parameter Error: unknown option --frame of identify"}},
      {"help on no such topic", "help bogus", 1,
       {"Parameter Error: help takes convert, merge, identify or info, not bogus"}},
      {"libpcap states no line speed", "identify --json {d}/s.pcap", 0, {}, {}, {}, {},
       {"\"lineSpeed\": null"}},
      {"completion: values behind --to=, friendly names, help topics",
       "--completion bash > {d}/comp.bash; bash -c '. {d}/comp.bash; "
       "COMP_WORDS=(morphalite convert x --to = netm); COMP_CWORD=5; _morphalite; echo \"${COMPREPLY[*]}\"; "
       "COMP_WORDS=(morphalite convert --to=sn); COMP_CWORD=2; _morphalite; echo \"${COMPREPLY[*]}\"; "
       "COMP_WORDS=(morphalite help i); COMP_CWORD=2; _morphalite; echo \"${COMPREPLY[*]}\"'",
       0, {}, {}, {}, {}, {"netmon1 netmon2 netmon\n", "\n--to=snifferpro --to=sniffer --to=snifferdos --to=snoop\n",
        "\nidentify info\n"}},
      {"an option of convert given to identify is refused", "identify --to TD {d}/s.pcap", 1,
       {"Parameter Error: unknown option --to of identify"}},
      {"... and to info, in its attached form too", "info --salvage=1 {d}/s.pcap", 1,
       {"Parameter Error: unknown option --salvage of info"}},
      {"identify's --frames is no option of convert", "convert {d}/s.pcap --to TD --frames", 1,
       {"Parameter Error: unknown option --frames\n"}},
      {"nor of merge, which writes nothing", "merge {d}/s.pcap --frames --to TD -o {d}/mf.pcap", 1,
       {"unknown option --frames"}, {}, {"mf.pcap"}},
      {"an unknown option is named without its value", "convert {d}/s.pcap --to TD --bogus=1", 1,
       {"Parameter Error: unknown option --bogus\n"}},
      {"a short switch takes nothing attached", "convert {d}/s.pcap --to TD -nx", 1,
       {"Parameter Error: unknown option -nx\n"}},
      {"--output= is refused, not taken for no -o: nothing beside the source",
       "convert {d}/s.pcap --to N2 --output=", 1, {"Parameter Error: --output needs a file or directory"},
       {}, {"s.cap"}},
      {"-o with an empty argument likewise", "convert {d}/s.pcap --to N2 -o ''", 1,
       {"Parameter Error: -o needs a file or directory"}, {}, {"s.cap"}},
      {"--to= with an empty value", "convert {d}/s.pcap --to=", 1,
       {"Parameter Error: --to needs a target code or analyzer name"}},
      {"--jobs= with an empty value", "convert {d}/s.pcap --to TD --jobs= -o {d}/je.pcap", 1,
       {"Parameter Error: --jobs needs a number"}, {}, {"je.pcap"}},
      {"--range= with an empty value", "convert {d}/s.pcap --to TD --range= -o {d}/re2.pcap", 1,
       {"Parameter Error: --range takes A-B"}, {}, {"re2.pcap"}},
      {"a switch of identify with an empty value", "identify --json= {d}/s.pcap", 1,
       {"Parameter Error: --json takes no value"}},
      {"identify's help whatever else the line holds", "identify --bogus --help", 0, {}, {}, {}, {},
       {"Usage: morphalite identify"}},
      {"/NS after -- is a source, not --quiet", "convert --to TD -o {d}/ns.pcap -- /NS", 2,
       {"Open Trace File: Unable to open Source file."}, {}, {"ns.pcap"}},
      {"option with a stray value", "convert {d}/s.pcap --quiet=yes --to TD", 1,
       {"--quiet takes no value"}},
      {"unknown source zone", "convert {d}/s.pcap --to TD --source-tz Mars/Olympus -o {d}/tz.pcap", 1,
       {"--source-tz: unknown time zone Mars/Olympus"}, {}, {"tz.pcap"}},
      {"unknown target zone", "convert {d}/s.pcap --to SN --target-tz=EST5EDT,M13.1.0 -o {d}/tz.enc", 1,
       {"--target-tz: unknown time zone EST5EDT,M13.1.0"}, {}, {"tz.enc"}},
      {"Sniffer DOS recorded in New York, converted in Berlin",
       "convert {d}/ny.enc --source-tz America/New_York --target-tz UTC --to TD -o {d}/ny.pcap", 0,
       {}, {"ny.pcap"}, {}, {}, {}, "TZ=Europe/Berlin"},
      {"--jobs 2: whole lines naming each file, summary and status in the order given",
       "convert {d}/a/x.pcap {d}/xrcut.cap {d}/none.pcap {d}/s.pcap --to TD -o {d}/out --jobs 2",
       3,
       {"{d}/xrcut.cap: File Error: Error reading from source file.  File may be corrupt.\n"
        "{d}/xrcut.cap:   {d}/xrcut.cap: record 5",
        "{d}/none.pcap: Open Trace File: Unable to open Source file.",
        "{d}/a/x.pcap -> {d}/out/x.dmp: converted, 22 frames, kept everything\n",
        "{d}/xrcut.cap -> {d}/out/xrcut.dmp: read error, 4 frames, kept everything\n",
        "Converted 2 of 4 files; failed: {d}/xrcut.cap (read error), {d}/none.pcap (refused)."},
       {"out/x.dmp", "out/xrcut.dmp", "out/s.dmp"}},
      {"--jobs 0 is one worker per core", "convert {d}/s.pcap --to N2 -o {d}/j0.cap --jobs=0", 0,
       {}, {"j0.cap"}},
      {"--jobs takes a count", "convert {d}/s.pcap --to TD --jobs -1", 1,
       {"--jobs takes a number from 0 (one per core) to 256"}},
      {"--json: one object per source, messages in it", "convert {d}/s.pcap {d}/none.pcap --to snoop -o {d}/out --json",
       2, {}, {"out/s.snoop"}, {}, {},
       {"{\"source\": \"{d}/s.pcap\", \"target\": \"{d}/out/s.snoop\", \"sourceAnalyzer\": "
        "\"tcpdump/libpcap\", \"targetAnalyzer\": \"Snoop (Sun)\", \"framesRead\": 22, "
        "\"framesWritten\": 22, \"nonDataFrames\": 0, \"bytes\": ",
        "\"outcome\": \"converted\", \"exitStatus\": 0, \"messages\": [], \"detail\": null}\n"
        "{\"source\": \"{d}/none.pcap\", \"target\": null, \"sourceAnalyzer\": null",
        "\"firstFrame\": null, \"lastFrame\": null, \"losses\": {}, \"outcome\": \"refused\", \"exitStatus\": 2, "
        "\"messages\": [\"Open Trace File: Unable to open Source file.  File is in use or name is "
        "bad.\"], \"detail\": \"{d}/none.pcap: No such file or directory\"}\n"}},
      {"--json and -o - exclude each other", "convert {d}/s.pcap --to TD -o - --json", 1,
       {"--json and -o - would both write to standard output"}},
      {"the library's bounds: a range numbering no frame", "convert {d}/s.pcap --to TD --range 0-10 -o {d}/r0.pcap",
       1, {"Frame numbers run from 1 to 9,999,999."}, {}, {"r0.pcap"}},
      {"the library's bounds: a range ending before it starts",
       "convert {d}/s.pcap --to TD --range 50-10 -o {d}/r50.pcap", 1,
       {"Starting frame number must be less than or equal to the ending frame number."}, {}, {"r50.pcap"}},
      {"the library's bounds: a slice below 32", "convert {d}/s.pcap --to TD --slice 0 -o {d}/sl.pcap", 1,
       {"The slice length must be from 32 to 65535 bytes."}, {}, {"sl.pcap"}},
      {"ulimit -f: a libpcap target fails with the reason, the older file kept",
       "convert {d}/big.pcap --to TD -o {d}/old.pcap", 4,
       {"Unable to write to destination file old.pcap", "  {d}/old.pcap: File too large"}, {}, {},
       {"old.pcap"}, {}, "ulimit -f 40;"},
      {"ulimit -f: an Advisor target fails with the reason, the older file kept",
       "convert {d}/big.pcap --to advisor -o {d}/old.dat", 4,
       {"Unable to write to destination file old.dat", "{d}/old.dat: File too large"}, {}, {},
       {"old.dat"}, {}, "ulimit -f 40;"},
      {"ulimit -f --json: no frames claimed for a file that was not kept",
       "convert {d}/big.pcap --to N2 -o {d}/old.cap --json", 4, {}, {}, {}, {"old.cap"},
       {"\"framesWritten\": 0, ", "\"outcome\": \"write failed\", \"exitStatus\": 4",
        "\"detail\": \"{d}/old.cap: File too large\"}"},
       "ulimit -f 40;"},
      {"an Advisor file whose header still says open is a read error",
       "convert {d}/open.dat --to TD -o {d}/open.pcap", 3,
       {"Error reading from source file.", "the file was never completed"}, {}, {"open.pcap"}},
      {"identify --frames reads every frame", "identify --frames {d}/s.pcap", 0, {}, {}, {}, {},
       {"Frames Read: 22\nFirst Frame: ", "Cut Frames: 0\nLargest Frame: "}},
      {"a libpcap file header alone has no frames", "convert {d}/header.pcap --to TD -o {d}/h.pcap",
       5, {"Output: Target file contains no frames!"}, {}, {"h.pcap"}},
      {"a libpcap header alone from standard input has no frames",
       "convert - --to pcapng -o {d}/hin.pcapng --json", 5, {}, {}, {"hin.pcapng"}, {},
       {"\"sourceAnalyzer\": \"tcpdump/libpcap\"", "\"outcome\": \"no frames\""}, "",
       "{d}/header.pcap"},
      {"identify --frames of a libpcap header alone: no frames, no failure",
       "identify --frames {d}/header.pcap", 0, {}, {}, {}, {}, {"Frames Read: 0\n"}},
      {"a libpcap file cut inside its first record: no frame",
       "convert {d}/first.pcap --to TD -o {d}/first-out.pcap", 3,
       {"  {d}/first.pcap: record 1 at offset 24: frame cut short"}, {}, {"first-out.pcap"}},
      {"identify --frames on a libpcap file cut inside its first record",
       "identify --frames {d}/first.pcap", 3, {}, {}, {}, {},
       {"Frames Read: 0\n", "Read Error: record 1 at offset 24: frame cut short"}},
      {"a gzip file cut inside its trailer: every frame, then the read error",
       "convert {d}/trailer.pcap.gz --to TD -o {d}/trailer.pcap", 3,
       {"  {d}/trailer.pcap.gz: gzip trailer missing: the file ends before the CRC-32 and size"},
       {"trailer.pcap"}},
      {"identify --frames on a cut file: the frames before, a read error",
       "identify --json --frames {d}/xrcut.cap", 3, {}, {}, {}, {},
       {"\"framesRead\": 4,", "\"losses\": {}, \"readError\": \"record 5"}},
      {"damaged libpcap: the read error, the 7 frames before it",
       "convert {d}/dmg.pcap --to TD -o {d}/dmg0.pcap --json", 3, {}, {"dmg0.pcap"}, {}, {},
       {"\"framesWritten\": 7,", "\"losses\": {}, \"outcome\": \"read error\"",
        "\"detail\": \"record 8 at offset"}},
      {"damaged libpcap with --salvage: all 22 frames, the span counted",
       "convert {d}/dmg.pcap --to TD -o {d}/dmg1.pcap --salvage --json", 3, {}, {"dmg1.pcap"}, {},
       {}, {"\"framesWritten\": 22,",
            "\"losses\": {\"skippedBytes\": 37, \"skippedRecords\": 1}, \"outcome\": \"read error\", "
            "\"exitStatus\": 3, \"messages\": [\"Damage Skipped: 37 bytes in 1 damaged span passed "
            "over; the first: record 8 at offset"}},
      {"damaged pcapng: the read error, the 7 frames before it",
       "convert {d}/dmg.pcapng --to TD -o {d}/dmg0.pcapng.pcap --json", 3, {}, {"dmg0.pcapng.pcap"},
       {}, {}, {"\"framesWritten\": 7,", "\"losses\": {}", "block length 4,294,967,295"}},
      {"damaged pcapng with --salvage: all 22 frames",
       "convert {d}/dmg.pcapng --to TD -o {d}/dmg1.pcapng.pcap --salvage --json", 3, {},
       {"dmg1.pcapng.pcap"}, {}, {},
       {"\"framesWritten\": 22,", "\"losses\": {\"skippedBytes\": 36, \"skippedRecords\": 1}"}},
      {"damaged snoop: the read error, the 7 frames before it",
       "convert {d}/dmg.snoop --to TD -o {d}/dmg0.snoop.pcap", 3,
       {"Error reading from source file.  File may be corrupt.", "record 8 at offset"},
       {"dmg0.snoop.pcap"}},
      {"damaged snoop with --salvage: one line names what was passed over",
       "convert {d}/dmg.snoop --to TD -o {d}/dmg1.snoop.pcap --salvage", 3,
       {"Damage Skipped: 41 bytes in 1 damaged span passed over; the first: record 8 at offset"},
       {"dmg1.snoop.pcap"}},
      {"a clean file with --salvage converts as ever", "convert {d}/s.pcap --to N2 -o {d}/clean.cap --salvage --json",
       0, {}, {"clean.cap"}, {}, {}, {"\"losses\": {}, \"outcome\": \"converted\", \"exitStatus\": 0"}},
      {"a 200,000-byte frame goes whole into pcapng: nothing lost, --strict passes",
       "convert {d}/jumbo.pcap --to pcapng -o {d}/jumbo.pcapng --json --strict", 0, {},
       {"jumbo.pcapng"}, {}, {}, {"\"losses\": {}, \"outcome\": \"converted\""}},
      {"the console line of a conversion that kept everything",
       "convert {d}/jumbo.pcap --to pcapng -o {d}/jumbo2.pcapng", 0, {"{d}/jumbo.pcap: kept everything"},
       {"jumbo2.pcapng"}},
      {"a 200,000-byte frame NetMon cannot hold is cut at 32,768 bytes and counted",
       "convert {d}/jumbo.pcap --to N2 -o {d}/jumbo.cap --json", 0, {}, {"jumbo.cap"}, {}, {},
       {"\"losses\": {\"framesCut\": 1, \"bytesCut\": 167236, \"wireLengthsNotStored\": 1}, "
        "\"outcome\": \"converted\""}},
      {"the console line counts what was lost", "convert {d}/jumbo.pcap --to N2 -o {d}/jumbo3.cap",
       0, {"{d}/jumbo.pcap: lost 1 frame cut by 167,236 bytes in all, 1 wire length not stored"},
       {"jumbo3.cap"}},
      {"--strict: what NetMon cannot hold is status 8, and no file is left",
       "convert {d}/jumbo.pcap --to N2 -o {d}/strict.cap --strict --json", 8, {}, {}, {"strict.cap"},
       {}, {"\"framesCut\": 1, ", "\"outcome\": \"would lose data\", \"exitStatus\": 8"}},
      {"--strict leaves an existing target as it was",
       "convert {d}/jumbo.pcap --to N2 -o {d}/older.cap --strict", 8, {"lost 1 frame cut"}, {}, {},
       {"older.cap"}},
      {"--strict on an Advisor target, which writes its own file: none is left",
       "convert {d}/jumbo.pcap --to advisor -o {d}/strict.dat --strict", 8, {}, {}, {"strict.dat"}},
      {"short frames copied libpcap to libpcap keep their lengths",
       "convert {d}/short.pcap --to TD -o {d}/short-copy.pcap --json --strict", 0, {},
       {"short-copy.pcap"}, {}, {}, {"\"losses\": {}"}},
      {"short frames padded for snoop are counted",
       "convert {d}/short.pcap --to snoop -o {d}/short.snoop --json", 0, {}, {"short.snoop"}, {}, {},
       {"\"losses\": {\"framesPadded\": 5}"}},
      {"--no-pad: short frames kept as stored for snoop too",
       "convert {d}/short.pcap --to snoop -o {d}/short-np.snoop --json --no-pad --strict", 0, {},
       {"short-np.snoop"}, {}, {}, {"\"losses\": {}"}},
      {"--range: a list; reading ends after its last frame",
       "convert {d}/s.pcap --to TD --range 9-12,1,5 -o {d}/rl.pcap --json", 0, {}, {"rl.pcap"}, {},
       {}, {"\"framesRead\": 12,", "\"framesWritten\": 6,"}},
      {"--range: open forms", "convert {d}/s.pcap --to TD --range=-2,21- -o {d}/ro.pcap --json", 0,
       {}, {"ro.pcap"}, {}, {}, {"\"framesRead\": 22,", "\"framesWritten\": 4,"}},
      {"--range: one frame", "convert {d}/s.pcap --to TD --range 7 -o {d}/r7.pcap --json", 0, {},
       {"r7.pcap"}, {}, {}, {"\"framesRead\": 7,", "\"framesWritten\": 1,"}},
      {"--range: an empty item", "convert {d}/s.pcap --to TD --range 3,,5 -o {d}/re.pcap", 1,
       {"--range takes A-B, A-, -B, N or a list of them such as 1,5,9-12"}, {}, {"re.pcap"}},
      {"--range: a list numbering no frame", "convert {d}/s.pcap --to TD --range 1,0-3 -o {d}/re.pcap",
       1, {"Frame numbers run from 1 to 9,999,999."}, {}, {"re.pcap"}},
      {"--dedup: the frames equal to one of the 4 before are counted",
       "convert {d}/dups.pcap --to TD --dedup -o {d}/dd.pcap --json", 0, {}, {"dd.pcap"}, {}, {},
       {"\"framesRead\": 22,", "\"framesWritten\": 19,", "\"detail\": null, \"duplicateFrames\": 3}"}},
      {"--dedup: the console says so", "convert {d}/dups.pcap --to TD --dedup -o {d}/dd2.pcap", 0,
       {"Duplicates: 3 frames dropped as equal to one of the 4 frames read before them\n"}},
      {"--dedup with --range: the window holds the frames chosen",
       "convert {d}/dups.pcap --to TD --dedup --range 6- -o {d}/dd3.pcap --json", 0, {}, {"dd3.pcap"},
       {}, {}, {"\"framesWritten\": 15,", "\"duplicateFrames\": 2}"}},
      {"--split-frames: numbered files, --json lists them",
       "convert {d}/s.pcap --to snoop --split-frames 10 -o {d}/sp.snoop --json", 0, {},
       {"sp_00000.snoop", "sp_00001.snoop", "sp_00002.snoop"}, {"sp.snoop", "sp_00003.snoop"}, {},
       {"\"framesWritten\": 22,", "\"files\": [{\"path\": \"{d}/sp_00000.snoop\", \"frames\": 10, "
        "\"bytes\": ", "{\"path\": \"{d}/sp_00002.snoop\", \"frames\": 2, \"bytes\": "}},
      {"--split-seconds: a file for each 10 ms, a frame on a step's end in it",
       "convert {d}/s.pcap --to N2 --split-seconds 0.01 -o {d}/ss.cap", 0,
       {"Written: {d}/ss_00000.cap: 7 frames\n", "Written: {d}/ss_00002.cap: 7 frames\n",
        "Written: {d}/ss_00003.cap: 1 frames\n"},
       {"ss_00000.cap", "ss_00001.cap", "ss_00002.cap", "ss_00003.cap"}, {"ss_00004.cap"}},
      {"a split target needs a file", "convert {d}/s.pcap --to TD --split-frames 5 -o -", 1,
       {"A split target needs a file name, not standard output."}},
      {"-n refuses a numbered file that exists; the files before it are kept",
       "convert -n {d}/s.pcap --to TD --split-frames 10 -o {d}/nc.pcap", 4,
       {"already exists; not overwritten", "{d}/nc_00001.pcap: not overwritten"}, {"nc_00000.pcap"},
       {}, {"nc_00001.pcap"}},
      {"--split-frames takes a count", "convert {d}/s.pcap --to TD --split-frames 0 -o {d}/z.pcap", 1,
       {"--split-frames takes a number of frames from 1"}},
      {"--start-time: the first frame's time",
       "convert {d}/s.pcap --to TD --start-time 2030-01-01T01:00:00.5+01:00 -o {d}/st.pcap --json", 0,
       {}, {"st.pcap"}, {}, {}, {"\"firstFrame\": \"2030-01-01T00:00:00.500000Z\""}},
      {"--start-time needs a zone", "convert {d}/s.pcap --to TD --start-time 2030-01-01T00:00:00", 1,
       {"--start-time takes an ISO 8601 time with its zone"}},
      {"--time-shift takes seconds", "convert {d}/s.pcap --to TD --time-shift 1h", 1,
       {"--time-shift takes seconds such as 3600, -0.5 or 0.000000001"}},
      {"--time-shift and --start-time exclude each other",
       "convert {d}/s.pcap --to TD --time-shift 1 --start-time 1700000000", 1,
       {"--time-shift and --start-time exclude each other"}},
      {"--time-shift before 1970 fails, saying so",
       "convert {d}/s.pcap --to TD --time-shift -2000000000 -o {d}/b70.pcap", 4,
       {"frame 1: the time shift moves it before 1970"}, {}, {"b70.pcap"}},
      {"--after past every frame keeps the older file",
       "convert {d}/s.pcap --to TD --after 2100-01-01T00:00:00Z -o {d}/old.pcap", 5,
       {"Output: Target file contains no frames!"}, {}, {}, {"old.pcap"}},
      {"identify --frames --salvage counts what it passed over",
       "identify --json --frames --salvage {d}/dmg.snoop", 3, {}, {}, {}, {},
       {"\"framesRead\": 22,", "\"losses\": {\"skippedBytes\": 41, \"skippedRecords\": 1}"}},
      {"merge: two sources of different formats in one target",
       "merge {d}/s.pcap {d}/s.pcapng --to TD -o {d}/merged.pcap --json", 0, {}, {"merged.pcap"}, {},
       {}, {"\"framesRead\": 44, \"framesWritten\": 44,", "\"outcome\": \"converted\""}},
      {"merge: a source it cannot read refuses the merge, nothing written",
       "merge {d}/s.pcap {d}/landesk.cap --to TD -o {d}/mland.pcap", 2,
       {"landesk.cap contains an unsupported analyzer or topology."}, {}, {"mland.pcap"}},
      {"merge: a damaged source gives its frames before the damage and a read error naming it",
       "merge {d}/s.pcap {d}/dmg.pcap --to TD -o {d}/mdmg.pcap --json", 3, {}, {"mdmg.pcap"}, {}, {},
       {"\"framesWritten\": 29,", "\"detail\": \"{d}/dmg.pcap: record 8 at offset"}},
      {"merge -n keeps an existing target", "merge {d}/s.pcap {d}/s.snoop --to TD -n -o {d}/old.pcap",
       4, {"already exists; not overwritten"}, {}, {}, {"old.pcap"}},
      {"merge needs a target file", "merge {d}/s.pcap {d}/s.snoop --to TD", 1,
       {"merge needs -o TARGET"}},
      {"merge into a directory is refused", "merge {d}/s.pcap --to TD -o {d}/out", 1,
       {"is a directory"}},
      {"merge from standard input", "merge - {d}/s.snoop --to pcapng -o {d}/mstdin.pcapng", 0, {},
       {"mstdin.pcapng"}, {}, {}, {}, "", "{d}/s.pcap"},
      {"info --json: frames, data size, resolution, digest", "info --json {d}/s.pcap", 0, {}, {}, {},
       {}, {"\"frames\": 22,", "\"timeResolution\": \"microseconds\"", "\"sha256\": \""}},
      {"info of a damaged file: the frames before, identify's read error status",
       "info --json {d}/dmg.pcap", 3, {}, {}, {}, {},
       {"\"frames\": 7,", "\"readError\": \"record 8 at offset"}},
      {"info of a file it cannot read: refused", "info {d}/landesk.cap", 2,
       {"landesk.cap contains an unsupported analyzer or topology."}},
      {"info - reads standard input", "info -", 0, {}, {}, {}, {},
       {"File:                 standard input\n", "Frames:               22\n"}, "", "{d}/s.pcap"},
      {"info: an unknown option is a usage error", "info --frames {d}/s.pcap", 1,
       {"unknown option --frames of info"}},
      {"help info", "help info", 0, {}, {}, {}, {}, {"Usage: morphalite info"}},
      {"interfaces of two link types are refused for libpcap, naming both ways out",
       "convert {d}/two.pcapng --to TD -o {d}/two.pcap", 1,
       {"interface 1: link type 113 (Linux cooked)", "--interface N", "--split-interfaces"}, {},
       {"two.pcap"}},
      {"... and for snoop", "convert {d}/two.pcapng --to snoop -o {d}/two.snoop", 1,
       {"interface 0: link type 1 (Ethernet)"}, {}, {"two.snoop"}},
      {"--interface 1 writes the Linux cooked frames",
       "convert {d}/two.pcapng --to TD --interface 1 -o {d}/one.pcap --json", 0, {}, {"one.pcap"},
       {}, {}, {"\"framesWritten\": 3,"}},
      {"--interface past the last names the interfaces there are",
       "convert {d}/two.pcapng --to TD --interface 2 -o {d}/none.pcap", 1,
       {"has no interface 2; its interfaces:", "interface 1: link type 113"}, {}, {"none.pcap"}},
      {"--interface and --split-interfaces exclude each other",
       "convert {d}/two.pcapng --to TD --interface 1 --split-interfaces -o {d}/x.pcap", 1,
       {"--interface and --split-interfaces exclude each other"}},
      {"--split-interfaces writes a file per interface",
       "convert {d}/two.pcapng --to TD --split-interfaces -o {d}/sp.pcap --json", 0, {},
       {"sp.if0.pcap", "sp.if1.pcap"}, {"sp.pcap"}, {}, {"\"framesWritten\": 6,"}},
      {"pcapng keeps both interfaces", "convert {d}/two.pcapng --to PN -o {d}/both.pcapng --json",
       0, {}, {"both.pcapng"}, {}, {}, {"\"framesWritten\": 6,"}},
      {"identify lists the interfaces with their frames", "identify {d}/two.pcapng", 0, {}, {},
       {}, {},
       {"Interface 0: link type 1 (Ethernet), 3 frames",
        "Interface 1: link type 113 (Linux cooked), 3 frames"}},
      {"identify --json too", "identify --json {d}/two.pcapng", 0, {}, {}, {}, {},
       {"{\"number\": 1, \"linkType\": 113, \"linkTypeName\": \"Linux cooked\", \"name\": \"\", "
        "\"description\": \"\", \"frames\": 3}"}},
      {"identify names a link type no other target takes", "identify {d}/sll.pcap", 0, {}, {}, {},
       {}, {"Interface: Linux cooked", "Interface 0: link type 113 (Linux cooked)",
            "Targets: pcapng; tcpdump/libpcap"}},
      {"Linux cooked goes to libpcap", "convert {d}/sll.pcap --to PN -o {d}/sll.pcapng", 0, {},
       {"sll.pcapng"}},
      {"... and is refused for snoop, naming its number",
       "convert {d}/sll.pcap --to snoop -o {d}/sll.snoop", 1,
       {"sll.pcap: link type 113 (Linux cooked) cannot be written as Snoop (Sun)."}, {},
       {"sll.snoop"}},
      {"a pcapng section header alone has no frames", "convert {d}/shb.pcapng --to TD -o {d}/shb.pcap",
       5, {"Target file contains no frames!"}, {}, {"shb.pcap"}},
      {"a DataGLANce file under another suffix is not recognised",
       "convert {d}/dg.bin --to TD -o {d}/dg0.pcap", 2,
       {"dg.bin is obsolete, not supported, or not a trace file."}, {}, {"dg0.pcap"}},
      {"--from DG reads it", "convert {d}/dg.bin --from DG --to TD -o {d}/dg1.pcap", 0, {},
       {"dg1.pcap"}},
      {"--from TD learns a renamed gzip libpcap file's layout",
       "convert {d}/packed.bin --from TD --to PN -o {d}/packed.pcapng", 0, {}, {"packed.pcapng"}},
      {"--from a code this program does not read", "convert {d}/dg.bin --from ZZ --to TD", 1,
       {"--from ZZ: not a format this program reads"}},
      {"DataGLANce written under another suffix: a warning, the file kept",
       "convert {d}/s.pcap --to DG -o {d}/dg2.bin", 0,
       {"Output: dg2.bin is written as DataGLANce (IBM) without its suffix .dgc: such files are "
        "recognised by their suffix alone, so it reads back only with --from DG."}},
      {"LAN900 under another suffix: the warning among the --json messages",
       "convert {d}/s.pcap --to L9 -o {d}/l9.bin --json", 0, {}, {}, {}, {},
       {"\"messages\": [\"Output: l9.bin is written as LAN900 (Digitech) without its suffix .dat"}},
      {"under its own suffix, in any letter case, no warning",
       "convert {d}/s.pcap --to DG -o {d}/dg3.DGC --json", 0, {}, {"dg3.DGC"}, {}, {},
       {"\"messages\": [], "}},
      {"an Observer file from standard input dated by --source-date",
       "convert - --source-date 2023-11-14 --to TD -o {d}/sd.pcap --json", 0, {}, {"sd.pcap"},
       {}, {}, {"\"firstFrame\": \"2023-11-14T01:00:00"}, {}, "{d}/ob.bfr"},
      {"--source-date with a zone names the instant, told in the source's zone",
       "convert - --source-date 2023-11-14T00:30+02:00 --to TD -o {d}/sdz.pcap --json", 0, {},
       {"sdz.pcap"}, {}, {}, {"\"firstFrame\": \"2023-11-13T01:00:00"}, {}, "{d}/ob.bfr"},
      {"--source-date refuses a day that is none", "convert {d}/ob.bfr --source-date 2023-02-30 --to TD", 1,
       {"--source-date takes an ISO 8601 date or date-time"}},
      {"--observer-layout takes 4 or 15", "convert {d}/s.pcap --to OB --observer-layout 9", 1,
       {"--observer-layout takes 4 or 15"}},
  };
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::vector<uint8_t>> before;
    for (const std::string& f : row.kept) before.push_back(ReadFileBytes(dir.path(f)));
    const std::string command = row.environment + " " + MORPHALITE_BINARY + " " + Expand(row.args, d);
    // Grouped, so that the runner's redirections apply to the whole line: a
    // pipe into the command, or out of it into a file, stays as written.
    CommandResult r = RunCommand("{ " + (row.input.empty() ? "" : "cat " + Expand(row.input, d) + " | ") +
                                 command + "; }");
    EXPECT_EQ(r.status, row.status) << r.err;
    for (const std::string& line : row.lines)
      EXPECT_NE(r.err.find(Expand(line, d)), std::string::npos) << Expand(line, d) << "\n" << r.err;
    for (const std::string& line : row.output)
      EXPECT_NE(r.out.find(Expand(line, d)), std::string::npos) << Expand(line, d) << "\n" << r.out;
    for (const std::string& f : row.made)
      EXPECT_GT(ReadTrace(dir.path(f)).trace.frames.size(), 0u) << f;
    for (const std::string& f : row.absent)
      EXPECT_NE(access(dir.path(f).c_str(), F_OK), 0) << f << " was left behind";
    for (size_t i = 0; i < row.kept.size(); ++i)
      EXPECT_EQ(ReadFileBytes(dir.path(row.kept[i])), before[i]) << row.kept[i] << " changed";
  }
  // A copy between libpcap files is exact, short frames and all.
  EXPECT_EQ(ReadFileBytes(dir.path("short-copy.pcap")), ReadFileBytes(dir.path("short.pcap")));
  // No temporary file is left anywhere.
  EXPECT_EQ(TemporariesIn(d), "");
}

// Formats that store times of day only keep a trace's date in their file's
// modification time: libpcap to each of them and back gives the same times.
TEST(CommandLine, DatelessTargetsKeepTheDateInTheirFileTime) {
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 3);
  trace.traceDate = EncodeDate(2023, 5, 4);
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("s.pcap"));
  for (const char* code : {"OB", "DA", "FB", "L9"}) {
    SCOPED_TRACE(code);
    const std::string middle = dir.path(std::string("m.") + code);
    ASSERT_EQ(RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("s.pcap") +
                         " --to " + code + " -o " + middle + " --quiet 2>/dev/null")
                  .status,
              0);
    CommandResult back = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + middle +
                                    " --from " + code + " --to TD -o " + middle + ".pcap --json");
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_NE(back.out.find("\"firstFrame\": \"2023-05-04T01:00:00"), std::string::npos) << back.out;
  }
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

// Targets written in a chosen zone, split, merged or in a zone other than
// the source's: every file, read back in the zone it was written in, holds
// its frames' UTC seconds. The January frames cross midnight in New York
// (04:59:58 to 05:00:03 UTC is 23:59:58 to 00:00:03 there), the July ones
// cross it in daylight time; Kolkata lies 5:30 east of UTC.
TEST(CommandTable, TargetZonesKeepEveryFrameUtcTime) {
  TempDir dir;
  constexpr uint32_t jan = 1705294798;  // 2024-01-15T04:59:58Z
  constexpr uint32_t jul = 1721015998;  // 2024-07-15T03:59:58Z
  {
    ScopedTimeZone utc("UTC");
    const auto write = [&](uint32_t first, int count, int64_t step, const char* name) {
      const int64_t midnight = first - first % 86400;
      Trace t = MakeTrace(Topo::Ethernet, count, (first - midnight) * 1000000LL, step * 1000000);
      t.traceDate = EncodeDate(1970, 1, 1) + double(midnight / 86400);
      WriteTrace(t, Analyzer::Tcpdump, dir.path(name));
    };
    write(jan, 6, 1, "jan.pcap");
    write(jan + 1, 3, 2, "more.pcap");  // jan + 1, + 3, + 5
    write(jul, 6, 1, "jul.pcap");
  }
  struct Row {
    const char* what;
    std::string command;  // writes the files below into {f}
    const char* zone;     // the zone they are read back in, the machine's
    std::vector<std::pair<std::string, std::vector<uint32_t>>> files;
  };
  const Row rows[] = {
      {"split in frames, Sniffer DOS in New York",
       "convert {d}/jan.pcap --to SN --target-tz America/New_York --split-frames 2 -o {f}/t.enc",
       "America/New_York",
       {{"t_00000.enc", {jan, jan + 1}}, {"t_00001.enc", {jan + 2, jan + 3}}, {"t_00002.enc", {jan + 4, jan + 5}}}},
      {"split in frames in daylight time, Sniffer DOS in New York",
       "convert {d}/jul.pcap --to SN --target-tz America/New_York --split-frames 4 -o {f}/t.enc",
       "America/New_York",
       {{"t_00000.enc", {jul, jul + 1, jul + 2, jul + 3}}, {"t_00001.enc", {jul + 4, jul + 5}}}},
      {"split in seconds, Domino in Kolkata",
       "convert {d}/jan.pcap --to DM --target-tz Asia/Kolkata --split-seconds 2 -o {f}/t.cap",
       "Asia/Kolkata",
       {{"t_00000.cap", {jan, jan + 1, jan + 2}}, {"t_00001.cap", {jan + 3, jan + 4}}, {"t_00002.cap", {jan + 5}}}},
      {"merged, DA-30 in New York",
       "merge {d}/jan.pcap {d}/more.pcap --to DA --target-tz America/New_York -o {f}/t.an1",
       "America/New_York",
       {{"t.an1", {jan, jan + 1, jan + 1, jan + 2, jan + 3, jan + 3, jan + 4, jan + 5, jan + 5}}}},
      {"source read in Kolkata, Sniffer DOS written in New York",
       "convert {d}/jan.pcap --source-tz Asia/Kolkata --target-tz America/New_York --to SN -o {f}/t.enc",
       "America/New_York",
       {{"t.enc", {jan, jan + 1, jan + 2, jan + 3, jan + 4, jan + 5}}}},
      {"source read in New York, Domino written in Kolkata",
       "convert {d}/jul.pcap --source-tz America/New_York --target-tz Asia/Kolkata --to DM -o {f}/t.cap",
       "Asia/Kolkata",
       {{"t.cap", {jul, jul + 1, jul + 2, jul + 3, jul + 4, jul + 5}}}},
  };
  const std::string bin = std::string("TZ=Europe/Berlin ") + MORPHALITE_BINARY;
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string folder = dir.path("zone" + std::to_string(n++));
    mkdir(folder.c_str(), 0755);
    std::string command = Expand(row.command, dir.dir());
    command.replace(command.find("{f}"), 3, folder);
    CommandResult r = RunCommand(bin + " " + command + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    for (const auto& file : row.files) names.push_back(file.first);
    ASSERT_EQ(Listing(folder), names);
    for (const auto& [name, seconds] : row.files) {
      const std::string back = folder + "/" + name + ".pcap";
      // Read on a machine in that zone, no zone chosen: nothing is moved.
      r = RunCommand("TZ=" + std::string(row.zone) + " " + MORPHALITE_BINARY + " convert " + folder + "/" +
                     name + " --to TD -o " + back + " --quiet");
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(PcapSeconds(back), seconds) << name;
    }
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
  if (!HaveTool("tshark")) return;
  // tshark, told to take an 802.11 FCS and check it, finds each one good.
  r = RunCommand("tshark -r " + dir.path("w.pcap") +
                 " -o wlan.check_fcs:TRUE -o wlan.check_checksum:TRUE -T fields -e wlan.fcs.status");
  EXPECT_EQ(r.out, "1\n1\n1\n1\n1\n1\n") << r.err;
  // Through pcapng, which states the FCS, every frame comes back as it was.
  const char* const steps[][3] = {{"e.pcap", "--to-wireless", "w.pcapng"},
                                  {"w.pcapng", "--to-ethernet", "back.pcapng"}};
  for (const auto& [from, option, to] : steps) {
    r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path(from) + " --to pcapng " +
                   option + " -o " + dir.path(to) + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(TsharkFrameText(dir.path("back.pcapng")), TsharkFrameText(dir.path("e.pcap")));
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
    EXPECT_GE(back.trace.frames.size(), 1u);
    EXPECT_LT(back.trace.frames.size(), 30u);
  }
}

// Conversions writing the same target at once leave one complete file of
// one of them, never a mixture: a stream target and the Advisor library's.
TEST(CommandTable, ConcurrentWritersLeaveOneCompleteFile) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 300), Analyzer::Tcpdump, dir.path("a.pcap"));
  WriteTrace(MakeTrace(Topo::Ethernet, 200, 7200LL * 1000000), Analyzer::Tcpdump, dir.path("b.pcap"));
  const std::string bin = MORPHALITE_BINARY;
  for (const std::string to : {"N2", "advisor"}) {
    SCOPED_TRACE(to);
    const std::string target = dir.path("same." + to);
    for (const char* source : {"a.pcap", "b.pcap"})
      RunCommand(bin + " convert " + dir.path(source) + " --to " + to + " -o " +
                 dir.path(std::string(source) + "." + to) + " --quiet");
    const auto a = ReadFileBytes(dir.path("a.pcap." + to)), b = ReadFileBytes(dir.path("b.pcap." + to));
    ASSERT_FALSE(a.empty());
    for (int round = 0; round < 4; ++round) {
      std::string script = "(";
      for (int i = 0; i < 6; ++i)
        script += bin + " convert " + dir.path(i % 2 ? "a.pcap" : "b.pcap") + " --to " + to +
                  " -o " + target + " --quiet & ";
      CommandResult r = RunCommand(script + "wait)");
      const auto got = ReadFileBytes(target);
      EXPECT_TRUE(got == a || got == b) << "round " << round << ": " << got.size() << " bytes";
    }
    // It reads back whole.
    ReadResult back = ReadTrace(target);
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
    EXPECT_TRUE(back.trace.frames.size() == 300 || back.trace.frames.size() == 200);
  }
  EXPECT_EQ(TemporariesIn(dir.dir()), "");
}

// A target that is a link to a file replaces that file and the link stays; a
// dangling link is replaced by the file. Nothing is written through a link
// anywhere else.
TEST(CommandTable, ATargetThatIsALink) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 5), Analyzer::Tcpdump, dir.path("s.pcap"));
  mkdir(dir.path("real").c_str(), 0755);
  WriteFileBytes(dir.path("real/file.cap"), {'o', 'l', 'd'});
  ASSERT_EQ(symlink(dir.path("real/file.cap").c_str(), dir.path("link.cap").c_str()), 0);
  ASSERT_EQ(symlink(dir.path("real/none.cap").c_str(), dir.path("dangling.cap").c_str()), 0);
  for (const char* target : {"link.cap", "dangling.cap"}) {
    CommandResult r = RunCommand(Bin() + " convert " + dir.path("s.pcap") + " --to advisor -o " +
                                 dir.path(target) + " --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
  }
  struct stat st {};
  ASSERT_EQ(lstat(dir.path("link.cap").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadTrace(dir.path("real/file.cap")).trace.frames.size(), 5u);
  ASSERT_EQ(lstat(dir.path("dangling.cap").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadTrace(dir.path("dangling.cap")).trace.frames.size(), 5u);
  EXPECT_NE(access(dir.path("real/none.cap").c_str(), F_OK), 0);
  EXPECT_EQ(TemporariesIn(dir.dir()), "");
}

// An output pipe closed early (-o - | head) is a write failure with its
// reason, status 4, and the copy of standard input spooled in TMPDIR is gone;
// so is it after a file-size limit while spooling (a reason, not a signal).
// Messages name standard input so, not by its spooled copy.
TEST(CommandTable, StandardInputLeavesTmpdirEmpty) {
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 5000), Analyzer::Tcpdump, dir.path("s.pcap"));
  mkdir(dir.path("tmp").c_str(), 0755);
  CommandResult r = RunCommand("((TMPDIR=" + dir.path("tmp") + " " + Bin() + " convert - --to TD -o - < " +
                               dir.path("s.pcap") + "; echo status $? >&2) | head -c 10 > /dev/null)");
  EXPECT_NE(r.err.find("standard output: Broken pipe"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("status 4"), std::string::npos) << r.err;
  EXPECT_EQ(RunCommand("ls -A " + dir.path("tmp")).out, "");

  r = RunCommand("(ulimit -f 40; TMPDIR=" + dir.path("tmp") + " " + Bin() + " convert - --to TD -o " +
                 dir.path("sp.pcap") + " < " + dir.path("s.pcap") + ")");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("  standard input: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(RunCommand("ls -A " + dir.path("tmp")).out, "");

  WriteFileBytes(dir.path("tiny"), {1, 2, 3});
  r = RunCommand("(" + Bin() + " convert - --to TD -o " + dir.path("si.pcap") + " < " + dir.path("tiny") + ")");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("Open Trace File: standard input is too small."), std::string::npos) << r.err;
}

// A full disk: the reason names the target, not a temporary; --json claims
// no frames; the older file stays and nothing is left. Needs a small file
// system of its own (a tmpfs mount, where this user may mount one).
TEST(CommandTable, AFullDiskNamesTheTargetAndLeavesTheOlderFile) {
  TempDir dir;
  const std::string disk = dir.path("disk");
  mkdir(disk.c_str(), 0755);
  if (RunCommand("mount -t tmpfs -o size=64k tmpfs " + disk + " 2>/dev/null").status != 0)
    GTEST_SKIP() << "no tmpfs mount for this user";
  struct Unmount {
    std::string path;
    ~Unmount() { RunCommand("umount " + path); }
  } unmount{disk};
  WriteTrace(MakeTrace(Topo::Ethernet, 3000), Analyzer::Tcpdump, dir.path("big.pcap"));
  const std::vector<uint8_t> older = {'o', 'l', 'd'};
  WriteFileBytes(disk + "/old.cap", older);
  for (const std::string to : {"TD", "advisor", "N2"}) {
    SCOPED_TRACE(to);
    CommandResult r = RunCommand(Bin() + " convert " + dir.path("big.pcap") + " --to " + to +
                                 " -o " + disk + "/old.cap --json");
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_NE(r.out.find("\"framesWritten\": 0, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(disk + "/old.cap: No space left on device\"}"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFileBytes(disk + "/old.cap"), older);
    EXPECT_EQ(RunCommand("ls -A " + disk).out, "old.cap\n");
  }
}

// The help text, the completion and the manual page describe the same
// options: each option of the table is in the manual page and the completion,
// and the completion is valid bash.
TEST(CommandTable, HelpCompletionAndManualPageAgree) {
  const auto page = ReadFileBytes(std::string(MORPHALITE_SOURCE_DIR) + "/docs/morphalite.1");
  const std::string man(page.begin(), page.end());
  EXPECT_TRUE(man == ManualPage()) << "docs/morphalite.1 is out of date: morphalite --man > docs/morphalite.1";
  EXPECT_EQ(RunCommand(std::string(MORPHALITE_BINARY) + " --man").out, man);
  const std::string completion = BashCompletion();
  auto inManual = [&](const std::string& name) {
    std::string escaped;
    for (char ch : name) escaped += ch == '-' ? std::string("\\-") : std::string(1, ch);
    return man.find("\\fB" + escaped + "\\fR") != std::string::npos;
  };
  for (const auto& [names, help] : {std::pair{ConvertOptionNames(), ConvertHelpText()},
                                    std::pair{IdentifyOptionNames(), IdentifyHelpText()},
                                    std::pair{InfoOptionNames(), InfoHelpText()}}) {
    for (const std::string& name : names) {
      EXPECT_TRUE(inManual(name)) << name << " is not in the manual page";
      EXPECT_NE(completion.find(" " + name), std::string::npos) << name;
      EXPECT_NE(help.find(name), std::string::npos) << name;
    }
  }
  // Values of fixed words are completed with them.
  EXPECT_NE(completion.find("--pcap-order) COMPREPLY=($(compgen -P \"$prefix\" -W 'big little'"),
            std::string::npos);
  TempDir dir;
  WriteFileBytes(dir.path("c.bash"), std::vector<uint8_t>(completion.begin(), completion.end()));
  if (HaveTool("bash")) {
    EXPECT_EQ(RunCommand("bash -n " + dir.path("c.bash")).status, 0);
    // What the shell offers after "morphalite identify --f".
    CommandResult r = RunCommand("bash -c 'source " + dir.path("c.bash") +
                                 "; COMP_WORDS=(morphalite identify --f); COMP_CWORD=2; _morphalite; "
                                 "echo ${COMPREPLY[@]}'");
    EXPECT_EQ(r.out, "--frames\n");
  }
  if (HaveTool("man")) {
    CommandResult r = RunCommand("(MANWIDTH=80 man --warnings -l " + std::string(MORPHALITE_SOURCE_DIR) +
                                 "/docs/morphalite.1 > /dev/null)");
    EXPECT_EQ(r.err, "") << "man reports problems in the page";
  }
  CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " --completion bash");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, completion);
}

// The frame edits give what editcap gives on the same file: tshark's text of
// both outputs (time to the nanosecond, lengths, MD5 of the bytes) is equal.
TEST(CommandTable, FrameEditsMatchEditcap) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "no editcap";
  TempDir dir;
  // 400 frames from 2024-03-15T01:00:00Z, 1.5 ms apart; some repeat the bytes
  // of a frame 1 to 6 before them (editcap -d looks 4 back).
  Trace trace = MakeTrace(Topo::Ethernet, 400);
  for (const auto& [at, back] : {std::pair{30, 1}, {31, 2}, {100, 4}, {200, 5}, {250, 6}, {251, 1},
                                 {252, 1}, {253, 3}}) {
    trace.frames[size_t(at)].bytes = trace.frames[size_t(at - back)].bytes;
    trace.frames[size_t(at)].frameLength = trace.frames[size_t(at - back)].frameLength;
  }
  const std::string source = dir.path("s.pcap");
  WriteTrace(trace, Analyzer::Tcpdump, source);
  struct Row {
    const char* ours;
    std::string editcap;  // its options; "{in} {out}" where its frame numbers follow them
  };
  const Row rows[] = {
      {"--time-shift -3600.5", "-t -3600.5 {in} {out}"},
      {"--time-shift 0.000001", "-t 0.000001 {in} {out}"},
      {"--time-shift 86400.000123", "-t 86400.000123 {in} {out}"},
      // 2030-01-01T00:00:00.25Z less the first frame's 2024-03-15T01:00:00Z.
      {"--start-time 2030-01-01T00:00:00.25Z", "-t 182991600.25 {in} {out}"},
      {"--after 2024-03-15T01:00:00.150Z --before 2024-03-15T02:00:00.3+01:00",
       "-A 2024-03-15T01:00:00.150Z -B 2024-03-15T01:00:00.3Z {in} {out}"},
      {"--after 1710464400.15", "-A 1710464400.15 {in} {out}"},
      {"--range 390-", "-r {in} {out} 390-400"},
      {"--range 1,5,9-12", "-r {in} {out} 1 5 9-12"},
      {"--range -3,398-", "-r {in} {out} 1-3 398-400"},
      {"--dedup", "-d {in} {out}"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ours);
    const std::string ours = dir.path("ours" + std::to_string(n) + ".pcap");
    const std::string theirs = dir.path("theirs" + std::to_string(n++) + ".pcap");
    std::string editcap = row.editcap;
    editcap.replace(editcap.find("{in}"), 4, source);
    editcap.replace(editcap.find("{out}"), 5, theirs);
    ASSERT_EQ(RunCommand("editcap " + editcap).status, 0);
    CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source +
                                 " --to TD --quiet -o " + ours + " " + row.ours);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string expected = TsharkFrameText(theirs);
    EXPECT_GT(expected.size(), 0u);
    EXPECT_EQ(TsharkFrameText(ours), expected);
  }
  // Split in files of 150 frames: 150, 150 and 100, named in editcap's order.
  mkdir(dir.path("ours").c_str(), 0755);
  mkdir(dir.path("theirs").c_str(), 0755);
  ASSERT_EQ(RunCommand("editcap -c 150 " + source + " " + dir.path("theirs/t.pcap")).status, 0);
  CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source +
                               " --to TD --split-frames 150 -o " + dir.path("ours/t.pcap"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Written: " + dir.path("ours/t_00000.pcap") + ": 150 frames\nWritten: " +
                       dir.path("ours/t_00001.pcap") + ": 150 frames\nWritten: " +
                       dir.path("ours/t_00002.pcap") + ": 100 frames\n" + source +
                       ": kept everything\n");
  const std::vector<std::string> ourFiles = Listing(dir.path("ours"));
  const std::vector<std::string> theirFiles = Listing(dir.path("theirs"));
  ASSERT_EQ(ourFiles, (std::vector<std::string>{"t_00000.pcap", "t_00001.pcap", "t_00002.pcap"}));
  ASSERT_EQ(theirFiles.size(), 3u);
  for (size_t i = 0; i < ourFiles.size(); ++i)
    EXPECT_EQ(TsharkFrameText(dir.path("ours/" + ourFiles[i])),
              TsharkFrameText(dir.path("theirs/" + theirFiles[i])))
        << ourFiles[i];
}

// Splits in time as editcap -i makes them: a frame on a step's end stays in
// its file, a step without frames is a file without frames, a frame that goes
// back in time stays where it is; the same files, each with the same frames.
TEST(CommandTable, SplitsInTimeMatchEditcap) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "no editcap";
  struct Row {
    const char* name;
    std::vector<double> seconds;  // frame times after 2024-03-15T01:00:00Z
    const char* step;
  };
  const Row rows[] = {
      {"gaps longer than the step", {0.5, 0.7, 1.5, 7.2, 7.3, 9.5}, "2"},
      {"frames on the steps' ends", {0, 1, 2, 2, 3.999999, 4, 6, 6.000001}, "2"},
      {"a first frame within a second", {0.5, 2.5, 2.500001, 4.5, 4.500001, 6.4}, "2"},
      {"times that go back", {5.5, 6.2, 3.1, 7.0, 2.0, 8.9, 1.0, 9.6}, "2"},
      {"a step of a part of a second", {0.1, 0.35, 0.6, 0.85, 2.0}, "0.25"},
  };
  TempDir dir;
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Trace trace = MakeTrace(Topo::Ethernet, int(row.seconds.size()));
    for (size_t i = 0; i < row.seconds.size(); ++i)
      trace.frames[i].time = 3600LL * 1000000 + std::llround(row.seconds[i] * 1e6);
    const std::string folder = dir.path("split" + std::to_string(n++));
    const std::string source = folder + ".pcap";
    WriteTrace(trace, Analyzer::Tcpdump, source);
    mkdir(folder.c_str(), 0755);
    mkdir((folder + "/ours").c_str(), 0755);
    mkdir((folder + "/theirs").c_str(), 0755);
    ASSERT_EQ(RunCommand("editcap -i " + std::string(row.step) + " " + source + " " + folder +
                         "/theirs/t.pcap")
                  .status,
              0);
    CommandResult r = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source +
                                 " --to TD --quiet --split-seconds " + row.step + " -o " + folder +
                                 "/ours/t.pcap");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> ours = Listing(folder + "/ours");
    const std::vector<std::string> theirs = Listing(folder + "/theirs");
    ASSERT_EQ(ours.size(), theirs.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      EXPECT_EQ(ours[i], "t_" + std::string(5 - std::to_string(i).size(), '0') + std::to_string(i) + ".pcap");
      EXPECT_EQ(TsharkFrameText(folder + "/ours/" + ours[i]),
                TsharkFrameText(folder + "/theirs/" + theirs[i]))
          << ours[i];
    }
  }
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
    EXPECT_FALSE(back.state.status.readError) << back.state.status.readErrorDetail;
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
  EXPECT_FALSE(back.state.status.readError);
  if (HaveTool("tshark")) {
    r = RunCommand("(cat " + dir.path("s.pcap") + " | " + bin +
                   " convert - --to pcap -o - | tshark -r - 2>/dev/null | wc -l)");
    EXPECT_EQ(std::stoi(r.out), 40);
  }
}

// Several workers give what one gives: the same targets byte for byte, the
// same lines (messages may come in another order), summary and status.
TEST(CommandTable, JobsGiveWhatOneWorkerGives) {
  TempDir dir;
  const std::string bin = MORPHALITE_BINARY;
  std::string sources;
  for (int i = 0; i < 7; ++i) {
    const std::string name = dir.path("s" + std::to_string(i) + ".pcap");
    WriteTrace(MakeTrace(Topo::Ethernet, 300 + 50 * i, (3600LL + i) * 1000000), Analyzer::Tcpdump, name);
    sources += " " + name;
  }
  std::vector<uint8_t> cut = ReadFileBytes(dir.path("s3.pcap"));
  cut.resize(cut.size() - 9);
  WriteFileBytes(dir.path("s3.pcap"), cut);
  WriteFileBytes(dir.path("s5.pcap"), std::vector<uint8_t>(300, 0x5A));
  auto lines = [](const std::string& text) {
    std::vector<std::string> list;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      list.push_back(text.substr(start, end - start));
    return list;
  };
  std::vector<std::string> reference;
  for (const char* jobs : {"1", "2", "0", "5"}) {
    SCOPED_TRACE(jobs);
    const std::string out = dir.path(std::string("out") + jobs);
    mkdir(out.c_str(), 0755);
    CommandResult r = RunCommand(bin + " convert" + sources + " --to N2 -o " + out + " --jobs " + jobs);
    EXPECT_EQ(r.status, 3) << r.err;  // s3 is cut short (3) before s5 is refused (2)
    std::string err = r.err;
    for (size_t at; (at = err.find(out)) != std::string::npos;) err.replace(at, out.size(), "OUT");
    std::vector<std::string> got = lines(err);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(),
              "Converted 5 of 7 files; failed: " + dir.path("s3.pcap") + " (read error), " +
                  dir.path("s5.pcap") + " (refused).");
    std::sort(got.begin(), got.end());
    if (reference.empty()) reference = got;
    EXPECT_EQ(got, reference);
    for (int i = 0; i < 7; ++i) {
      if (i == 5) continue;
      const std::string name = "/s" + std::to_string(i) + ".cap";
      EXPECT_EQ(ReadFileBytes(out + name), ReadFileBytes(dir.path("out1") + name)) << name;
    }
  }
  // JSON objects come in the order given whatever order the workers end in.
  CommandResult r = RunCommand(bin + " convert" + sources + " --to N2 -o " + dir.path("out2") +
                               " --jobs 3 --json");
  EXPECT_EQ(r.err, "");
  std::vector<std::string> objects = lines(r.out);
  ASSERT_EQ(objects.size(), 7u);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(objects[i].rfind("{\"source\": \"" + dir.path("s" + std::to_string(i) + ".pcap") + "\"", 0), 0u);
}

// What identify --frames reads agrees with tshark: count, first and last
// time, frames stored cut short, the longest frame (ours counts the FCS).
TEST(CommandTable, IdentifyFramesAgreesWithTshark) {
  if (!HaveTool("tshark")) GTEST_SKIP() << "no tshark";
  TempDir dir;
  WriteTrace(MakeTrace(Topo::Ethernet, 40), Analyzer::Tcpdump,
             dir.path("whole.pcap"));
  const std::string bin = MORPHALITE_BINARY;
  ASSERT_EQ(RunCommand(bin + " convert " + dir.path("whole.pcap") + " --to TD --slice 64 -o " +
                       dir.path("sliced.pcap") + " --quiet").status, 0);
  for (const char* file : {"whole.pcap", "sliced.pcap"}) {
    SCOPED_TRACE(file);
    const std::vector<TsharkFrame> frames = TsharkFrames(dir.path(file));
    ASSERT_EQ(frames.size(), 40u);
    int cut = 0, largest = 0;
    for (const TsharkFrame& f : frames) {
      cut += f.captured < f.length;
      largest = std::max(largest, f.length);
    }
    CommandResult r = RunCommand(bin + " identify --frames --json " + dir.path(file));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"framesRead\": 40, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"cutFrames\": " + std::to_string(cut) + ","), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"largestFrame\": " + std::to_string(largest + 4) + ","), std::string::npos) << r.out;
    char first[64], last[64];
    const auto iso = [](double epoch, char* text) {
      const time_t seconds = time_t(epoch);
      struct tm tm {};
      gmtime_r(&seconds, &tm);
      const int micros = int(std::lround((epoch - double(seconds)) * 1e6));
      std::snprintf(text, 64, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                    tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micros);
    };
    iso(frames.front().epoch, first);
    iso(frames.back().epoch, last);
    EXPECT_NE(r.out.find(std::string("\"firstFrame\": \"") + first + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("\"lastFrame\": \"") + last + "\""), std::string::npos) << r.out;
  }
}

// Two traces whose frames interleave, some at equal times: merge writes
// the frames mergecap writes, in its order, as libpcap and as pcapng; info
// states capinfos' frame count and data size of files tshark writes.
TEST(CommandTable, MergeAndInfoAgreeWithMergecapAndCapinfos) {
  for (const char* tool : {"tshark", "mergecap", "capinfos"})
    if (!HaveTool(tool)) GTEST_SKIP() << "no " << tool;
  TempDir dir;
  const int64_t hour = 3600LL * 1000000;
  WriteTrace(MakeTrace(Topo::Ethernet, 30, hour, 1500), Analyzer::Tcpdump, dir.path("a.pcap"));
  WriteTrace(MakeTrace(Topo::Ethernet, 20, hour, 2250), Analyzer::Tcpdump, dir.path("b.pcap"));
  const std::string bin = MORPHALITE_BINARY;
  for (const char* format : {"pcap", "pcapng"}) {
    SCOPED_TRACE(format);
    const std::string ours = dir.path(std::string("ours.") + format);
    const std::string theirs = dir.path(std::string("theirs.") + format);
    ASSERT_EQ(RunCommand("mergecap -F " + std::string(format) + " -w " + theirs + " " +
                         dir.path("a.pcap") + " " + dir.path("b.pcap")).status, 0);
    CommandResult r = RunCommand(bin + " merge " + dir.path("a.pcap") + " " + dir.path("b.pcap") +
                                 " --to " + (format == std::string("pcap") ? "TD" : "pcapng") +
                                 " -o " + ours + " --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string frames = TsharkFrameText(ours);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 50);
    EXPECT_EQ(frames, TsharkFrameText(theirs));
  }
  ASSERT_EQ(RunCommand("tshark -r " + dir.path("theirs.pcap") + " -F pcap -w " + dir.path("t.pcap")).status, 0);
  ASSERT_EQ(RunCommand("tshark -r " + dir.path("theirs.pcap") + " -w " + dir.path("t.pcapng")).status, 0);
  for (const char* file : {"t.pcap", "t.pcapng"}) {
    SCOPED_TRACE(file);
    // "t.pcap\t50\t32350": the file, its frames and its data size.
    CommandResult capinfos = RunCommand("capinfos -M -T -r -c -d " + dir.path(file));
    ASSERT_EQ(capinfos.status, 0) << capinfos.err;
    std::istringstream fields(capinfos.out);
    std::string name;
    int64_t count = 0, data = 0;
    ASSERT_TRUE(fields >> name >> count >> data) << capinfos.out;
    CommandResult info = RunCommand(bin + " info --json " + dir.path(file));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"frames\": " + std::to_string(count) + ","), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"dataSize\": " + std::to_string(data) + ","), std::string::npos) << info.out;
  }
}

// What --salvage keeps of a damaged file is every frame of the good file it
// was made from: by our reader, by tshark, and through the library.
TEST(CommandTable, SalvageKeepsEveryGoodFrame) {
  TempDir dir;
  const std::string bin = MORPHALITE_BINARY;
  for (AnalyzerType type : {Analyzer::Tcpdump, Analyzer::Pcapng, Analyzer::Snoop}) {
    SCOPED_TRACE(AnalyzerName(type));
    const std::string good = dir.path("good" + DefaultSuffix(type, Topo::Ethernet));
    const std::string bad = dir.path("bad" + DefaultSuffix(type, Topo::Ethernet));
    WriteTrace(MakeTrace(Topo::Ethernet, 40), type, good);
    WriteDamagedCopy(good, bad, 300);
    const std::string kept = dir.path("kept.pcap"), whole = dir.path("whole.pcap");
    CommandResult r = RunCommand(bin + " convert " + bad + " --to TD --salvage -o " + kept + " --quiet");
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(ExpectSameFrames(ReadTrace(good).trace, ReadTrace(kept).trace), 0);
    if (HaveTool("tshark")) {
      ASSERT_EQ(RunCommand(bin + " convert " + good + " --to TD -o " + whole + " --quiet").status, 0);
      EXPECT_EQ(TsharkFrameText(kept), TsharkFrameText(whole));
      EXPECT_EQ(TsharkFrames(kept).size(), TsharkFrames(good).size());
    }
    JobRequest request;
    request.sourcePath = bad;
    request.targetPath = dir.path("library.cap");
    request.target = Analyzer::NetMon2;
    request.overwrite = true;
    request.salvage = true;
    const ConvertReport report = ConvertFile(request);
    EXPECT_EQ(report.outcome, Outcome::ReadError);
    EXPECT_EQ(report.framesWritten, 40);
    EXPECT_EQ(report.skipped.bytes, 300);
    EXPECT_EQ(report.skipped.records, 1);
    EXPECT_NE(report.skipped.firstReason.find("offset"), std::string::npos) << report.skipped.firstReason;
    request.salvage = false;
    EXPECT_EQ(ConvertFile(request).framesWritten, 7);
  }
}

// What the parser makes of convert's options, as text: every field an option sets.
std::string Parsed(const ConvertArgs& a) {
  const JobRequest& o = a.options;
  const FrameSelection& f = o.selection;
  const TextDumpOptions t = o.formatOptions.value<TextDumpOptions>();
  const PcapOutputChoice pcap = o.formatOptions.value<PcapOutputChoice>();
  std::ostringstream s;
  s << a.output << "|" << (a.target ? int(*a.target) : -1) << "|" << a.quiet << a.help << a.json
    << "|" << a.jobs << "|" << o.noClobber << "|" << f.ranges.size() << f.after.value_or(0) << ","
    << f.before.value_or(0) << "," << f.dropDuplicates << "," << f.timeShift << ","
    << f.startTime.value_or(0) << "|" << o.splitFrames << "," << o.splitMicroseconds << ","
    << o.splitAtLimits << "," << o.splitInterfaces << "|" << o.sliceFrames << o.sliceLength << "|"
    << o.convertToEthernet << o.convertToWireless << o.noPad << "|" << pcap.bigEndian.value_or(0)
    << pcap.modified.value_or(0) << pcap.nanoseconds << "|" << t.descriptiveHeader
    << t.fieldHeaders << int(t.delimiter) << t.frameNumber << t.dataHex << "|" << !!o.sourceZone
    << !!o.targetZone << "|" << (o.sourceType ? int(*o.sourceType) : -1) << "|"
    << (o.sourceDate ? o.sourceDate->wallSeconds : 0) << "|" << o.targetLayout << "|" << o.salvage
    << o.strict << "|" << o.interfaceNumber.value_or(-1);
  return s.str();
}

// Every option of the table in each of its forms (--name VALUE, --name=VALUE,
// -xVALUE, -x VALUE) parses alike and changes what is parsed; an empty value
// or a value given to a switch is refused naming the option; a command that
// does not take an option refuses it.
TEST(OptionTable, EveryOptionInEachFormParsesAlike) {
  const std::map<std::string, std::string> valid = {
      {"--to", "N2"}, {"--output", "o.pcap"}, {"--range", "2-3"}, {"--after", "1700000000"},
      {"--before", "1700000000"}, {"--time-shift", "1.5"}, {"--start-time", "1700000000"},
      {"--split-frames", "5"}, {"--split-seconds", "2"}, {"--slice", "40"},
      {"--pcap-order", "big"}, {"--pcap-variant", "modified"}, {"--pcap-resolution", "ns"},
      {"--ascii-fields", "hex"}, {"--ascii-delimiter", "comma"}, {"--source-tz", "UTC"},
      {"--target-tz", "UTC"}, {"--interface", "1"}, {"--from", "DG"},
      {"--source-date", "2023-05-04"}, {"--observer-layout", "15"}, {"--jobs", "2"}};
  const std::vector<std::string> base = {"convert", "s.pcap", "--to", "TD"};
  ConvertArgs plain;
  ASSERT_EQ(ParseConversionOptions(base, plain), "");
  for (const OptionRow* row : OptionsOf(Command::Convert)) {
    const std::vector<std::string> names = NamesOf(*row);
    const std::string& longName = names.back();
    SCOPED_TRACE(longName);
    std::vector<std::vector<std::string>> forms;
    if (!row->takesValue()) {
      for (const std::string& name : names) forms.push_back({name});
    } else {
      ASSERT_TRUE(valid.count(longName)) << "give the test a value this option takes";
      const std::string& v = valid.at(longName);
      forms.push_back({longName, v});
      forms.push_back({longName + "=" + v});
      if (names.size() > 1) forms.insert(forms.end(), {{names[0], v}, {names[0] + v}});
    }
    std::set<std::string> results;
    for (const std::vector<std::string>& form : forms) {
      std::vector<std::string> args = base;
      args.insert(args.end(), form.begin(), form.end());
      ConvertArgs parsed;
      EXPECT_EQ(ParseConversionOptions(args, parsed), "") << form[0];
      results.insert(Parsed(parsed));
    }
    EXPECT_EQ(results.size(), 1u) << "the forms parse differently";
    EXPECT_NE(*results.begin(), Parsed(plain)) << "the option changed nothing";
    std::vector<std::string> args = base;
    args.push_back(longName + (row->takesValue() ? "=" : "=x"));
    ConvertArgs refused;
    const std::string error = ParseConversionOptions(args, refused);
    EXPECT_EQ(error.rfind(longName + " ", 0), 0u) << error;
    for (Command other : {Command::Identify, Command::Info}) {
      CommandLine line;
      const std::string unknown = SplitCommandLine(std::vector<std::string>{names[0], "f"}, other, line);
      if (!row->helpFor(other)) EXPECT_EQ(unknown.rfind("unknown option " + names[0] + " of ", 0), 0u);
      else EXPECT_EQ(unknown, "");
    }
  }
}

// Strings and times of the JSON output, at the edges of UTF-8 and of the calendar.
TEST(Json, StringsAndTimes) {
  const struct {
    std::string in, out;
  } strings[] = {
      {"plain \"q\" \\ \t\n\x01\x7F", "\"plain \\\"q\\\" \\\\ \\t\\n\\u0001\\u007f\""},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},  // 2, 3, 4 bytes
      {"\xE9", "\"\\udce9\""},                        // Latin-1
      {"\xC0\x80", "\"\\udcc0\\udc80\""},              // overlong
      {"\xED\xA0\x80", "\"\\udced\\udca0\\udc80\""},    // a surrogate
      {"\xF4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // past U+10FFFF
      {"\xE2\x82", "\"\\udce2\\udc82\""},              // cut short at the end
      {"\xE2\x82x", "\"\\udce2\\udc82x\""},            // cut short before ASCII
  };
  for (const auto& s : strings) EXPECT_EQ(JsonString(s.in), s.out);
  EXPECT_EQ(JsonLatin1("caf\xE9"), "\"caf\\u00e9\"");
  EXPECT_EQ(JsonTime(std::nullopt), "null");
  EXPECT_EQ(IsoTime(0), "1970-01-01T00:00:00.000000Z");
  EXPECT_EQ(IsoTime(-1), "1969-12-31T23:59:59.999999Z");
  EXPECT_EQ(IsoTime(951782400LL * 1000000 + 5), "2000-02-29T00:00:00.000005Z");
  EXPECT_EQ(IsoTime(4107542399LL * 1000000 + 999999), "2100-02-28T23:59:59.999999Z");
  EXPECT_EQ(IsoTime(-2208988800LL * 1000000), "1900-01-01T00:00:00.000000Z");
}

// File names that are not UTF-8 round-trip through the JSON of both
// commands; UTF-8 names pass as they are.
TEST(CommandTable, JsonKeepsFileNamesThatAreNotUtf8) {
  TempDir dir;
  const std::string latin1 = dir.path("caf\xE9.pcap"), utf8 = dir.path("caf\xC3\xA9.pcap");
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::Tcpdump, latin1);
  WriteTrace(MakeTrace(Topo::Ethernet, 3), Analyzer::Tcpdump, utf8);
  const std::string bin = MORPHALITE_BINARY;
  for (const std::string command : {" identify --json ", " convert --to snoop --json "}) {
    CommandResult r = RunCommand(bin + command + "'" + latin1 + "' '" + utf8 + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("caf\\udce9.pcap\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("caf\xC3\xA9.pcap\""), std::string::npos) << r.out;
    if (HaveTool("python3")) {
      // Each line is JSON, and Python's surrogateescape gives the bytes back.
      const std::string script = dir.path("check.py");
      const std::string code =
          "import json, os, sys\n"
          "for line in open(sys.argv[1], encoding='utf-8'):\n"
          "    o = json.loads(line)\n"
          "    name = os.fsencode(o.get('file') or o.get('source'))\n"
          "    sys.stdout.write('ok\\n' if os.path.exists(name) else 'missing\\n')\n";
      WriteFileBytes(script, std::vector<uint8_t>(code.begin(), code.end()));
      WriteFileBytes(dir.path("out.json"), std::vector<uint8_t>(r.out.begin(), r.out.end()));
      CommandResult check = RunCommand("python3 " + script + " " + dir.path("out.json"));
      EXPECT_EQ(check.out, "ok\nok\n") << check.err;
    }
  }
}

}  // namespace
}  // namespace morph
