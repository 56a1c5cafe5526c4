// The target list, source acceptance, media boxes, hidden switch, default
// destination names, and the temporary a target is written under.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/file_date.h"
#include "engine/replacement_file.h"
#include "engine/targets.h"
#include "engine/timebase.h"
#include "formats/advisor.h"
#include "formats/domino.h"
#include "formats/fireberd_dna323.h"
#include "formats/internet_advisor.h"
#include "formats/netmetrix.h"
#include "formats/netscout.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/recognised.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "formats/text_dump.h"
#include "tests/testkit.h"

namespace morph {
namespace {

std::set<int> Members(const std::vector<AnalyzerType>& list) {
  std::set<int> numbers;
  for (AnalyzerType t : list) numbers.insert(Number(t));
  return numbers;
}

std::vector<std::string> Names(const std::vector<AnalyzerType>& list) {
  std::vector<std::string> names;
  for (AnalyzerType t : list) names.push_back(AnalyzerName(t));
  return names;
}

// pcapng is offered wherever libpcap is.
const std::set<int> kEthernetWithoutRingstave = {0,  2,  4,  5,  6,  7,  8,  9,  11, 12, 13, 14,
                                                 17, 20, 21, 23, 24, 25, 26, 27, 28, 29, 30,
                                                 Number(Analyzer::Pcapng)};

TEST(TargetList, OfferedSetsByClassAndTopology) {
  const CapabilitySets caps = DefaultCapabilities();
  using TC = TargetClass;
  struct Case {
    TC targetClass;
    Topology topology;
    bool toEthernet, toWireless;
    std::set<int> offered;
  } cases[] = {
      {TC::Lan, Topo::Ethernet, false, false, kEthernetWithoutRingstave},
      // ASCII left out.
      {TC::Wireless, Topo::Ethernet, false, true, {1, 24, 26, 30, Number(Analyzer::Pcapng)}},
      {TC::Lan, Topo::TokenRing, false, false,
       {0, 2, 4, 5, 6, 8, 9, 11, 12, 13, 14, 17, 20, 21, 23, 24, 25, 26, 27, 28, 29, 30, 31,
        Number(Analyzer::Pcapng)}},
      {TC::Lan, Topo::Fddi, false, false,
       {0, 6, 9, 13, 20, 21, 24, 25, 26, 27, 28, 29, 30, Number(Analyzer::Pcapng)}},
      {TC::Wireless, Topo::Wireless, false, false, {1, 2, 24, 26, 30, Number(Analyzer::Pcapng)}},
      {TC::Lan, Topo::Wireless, true, false,
       {0, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 17, 20, 21, 23, 24, 25, 26, 27, 28, 29, 30,
        Number(Analyzer::Pcapng)}},
      {TC::Lan, Topo::TSeries, false, false, {}},
      {TC::Wan, Topo::TSeries, false, false, {0, 6, 23, 26, 27, 33}},
      {TC::Wan, Topo::Wan19, false, false, {0, 6, 23, 26, 27, 33}},
      {TC::Atm, Topo::AtmOc3, false, false, {}},
  };
  for (const Case& c : cases) {
    auto offered = OfferedTargets(caps, c.targetClass, c.topology, c.toEthernet, c.toWireless);
    EXPECT_EQ(Members(offered), c.offered) << int(c.targetClass) << "/" << int(c.topology);
    EXPECT_EQ(std::count(offered.begin(), offered.end(), Analyzer::NetMetrix), 0);
    EXPECT_EQ(std::count(offered.begin(), offered.end(), Analyzer::NetScout), 0);
  }
}

TEST(TargetList, BoxesCountOnlyWhereTheyAreShown) {
  const CapabilitySets caps = DefaultCapabilities();
  // A "Convert to Ethernet" box left checked from an 802.11 source does not
  // take ASCII away from a Token Ring source.
  auto ring = OfferedTargets(caps, TargetClass::Lan, Topo::TokenRing, true, false);
  EXPECT_EQ(std::count(ring.begin(), ring.end(), Analyzer::Ascii), 1);
  auto ethernet = OfferedTargets(caps, TargetClass::Lan, Topo::Ethernet, true, false);
  EXPECT_EQ(Members(ethernet), kEthernetWithoutRingstave);
}

TEST(TargetList, SortedAsTheListShowsItIgnoringCase) {
  const CapabilitySets caps = DefaultCapabilities();
  auto names = Names(OfferedTargets(caps, TargetClass::Wireless, Topo::Wireless, false, false));
  EXPECT_EQ(names, (std::vector<std::string>{"ASCII (text file with options)",
                                             "Observer (Network Instruments)", "pcapng",
                                             "Skavelin (Corvantique)", "SnifferPro/NetXRay (NAI)",
                                             "tcpdump/libpcap"}));
  auto ethernet = Names(OfferedTargets(caps, TargetClass::Lan, Topo::Ethernet, false, false));
  ASSERT_GE(ethernet.size(), 2u);
  EXPECT_EQ(ethernet[0], "Advisor (Agilent)");
  EXPECT_EQ(ethernet[1], "ASCII (text file with options)");
  EXPECT_EQ(ethernet.back(), "tcpdump/libpcap");
}

TEST(TargetList, FillKeepsTheCurrentTargetOrTakesTheFirst) {
  const CapabilitySets caps = DefaultCapabilities();
  TargetList kept = FillTargetList(caps, TargetClass::Lan, Topo::Ethernet, false, false,
                                   Analyzer::Tcpdump);
  EXPECT_EQ(kept.selected, Analyzer::Tcpdump);
  EXPECT_TRUE(kept.optionsVisible);
  EXPECT_TRUE(kept.convertToWirelessVisible);
  EXPECT_FALSE(kept.convertToEthernetVisible);
  // Ostrawind cannot carry 802.11 frames: the first entry is chosen instead.
  TargetList replaced = FillTargetList(caps, TargetClass::Wireless, Topo::Wireless, false, false,
                                       Analyzer::Ostrawind);
  EXPECT_EQ(replaced.selected, Analyzer::Ascii);
  EXPECT_TRUE(replaced.optionsVisible);
  EXPECT_TRUE(replaced.convertToEthernetVisible);
  TargetList ring = FillTargetList(caps, TargetClass::Lan, Topo::TokenRing, false, false,
                                   Analyzer::Ostrawind);
  EXPECT_EQ(ring.selected, Analyzer::Advisor);
  EXPECT_FALSE(ring.optionsVisible);
  TargetList atm = FillTargetList(caps, TargetClass::Atm, Topo::Atm, false, false,
                                  Analyzer::Ostrawind);
  EXPECT_TRUE(atm.offered.empty());
  EXPECT_EQ(atm.selected, Analyzer::Unknown);
  EXPECT_EQ(TargetFromListText("Snoop (Sun)"), Analyzer::Snoop);
  EXPECT_EQ(TargetFromListText("snoop (sun)"), Analyzer::Unknown);
  EXPECT_EQ(TargetFromListText(""), Analyzer::Unknown);
}

TEST(TargetList, SourceAcceptanceByTopologyAndWanProtocol) {
  const CapabilitySets caps = DefaultCapabilities();
  EXPECT_TRUE(SourceSupported(caps, Analyzer::NetMetrix, Topo::Ethernet, Wan::NotKnown));
  EXPECT_TRUE(SourceSupported(caps, Analyzer::NetScout, Topo::Ethernet, Wan::NotKnown));
  EXPECT_FALSE(SourceSupported(caps, Analyzer::NetScout, Topo::TokenRing, Wan::NotKnown));
  EXPECT_FALSE(SourceSupported(caps, Analyzer::LanDesk, Topo::Ethernet, Wan::NotKnown));
  EXPECT_TRUE(SourceSupported(caps, Analyzer::Skavelin, Topo::Wireless, Wan::NotKnown));
  EXPECT_FALSE(SourceSupported(caps, Analyzer::Ostrawind, Topo::Wireless, Wan::NotKnown));
  for (uint32_t p : {Wan::Hdlc, Wan::X25, Wan::Isdn, Wan::Ppp, Wan::FrameRelay})
    EXPECT_TRUE(SourceSupported(caps, Analyzer::Domino, Topo::TSeries, p)) << p;
  for (uint32_t p : {Wan::Sdlc, Wan::Lapb, Wan::Lapd, Wan::NotKnown, 40u})
    EXPECT_FALSE(SourceSupported(caps, Analyzer::Domino, Topo::E1, p)) << p;
  EXPECT_TRUE(SourceSupported(caps, Analyzer::Domino, Topo::AtmDs3, Wan::NotKnown));
  EXPECT_TRUE(SourceSupported(caps, Analyzer::Domino, Topo::Wan19, Wan::NotKnown));
}

TEST(TargetList, TargetClassFollowsTopologyAndBoxes) {
  EXPECT_EQ(TargetClassFor(Topo::AtmE1, false, false), TargetClass::Atm);
  EXPECT_EQ(TargetClassFor(Topo::Wan19, false, false), TargetClass::Wan);
  EXPECT_EQ(TargetClassFor(Topo::Ds3, false, false), TargetClass::Wan);
  EXPECT_EQ(TargetClassFor(Topo::Wireless, false, false), TargetClass::Wireless);
  EXPECT_EQ(TargetClassFor(Topo::Wireless, true, false), TargetClass::Lan);
  EXPECT_EQ(TargetClassFor(Topo::Ethernet, false, true), TargetClass::Wireless);
  EXPECT_EQ(TargetClassFor(Topo::Fddi, false, true), TargetClass::Lan);
}

TEST(MediaBoxesModel, CheckingOneUnchecksTheOtherAndSetsTheClass) {
  MediaBoxes boxes;
  boxes.clickConvertToWireless(true);
  EXPECT_TRUE(boxes.convertToWireless);
  EXPECT_EQ(boxes.targetClass, TargetClass::Wireless);
  boxes.clickConvertToEthernet(true);
  EXPECT_TRUE(boxes.convertToEthernet);
  EXPECT_FALSE(boxes.convertToWireless);
  EXPECT_EQ(boxes.targetClass, TargetClass::Lan);
  boxes.clickConvertToEthernet(false);
  EXPECT_FALSE(boxes.convertToEthernet);
  EXPECT_EQ(boxes.targetClass, TargetClass::Wireless);
  boxes.clickConvertToWireless(true);
  boxes.clickConvertToWireless(false);
  EXPECT_EQ(boxes.targetClass, TargetClass::Lan);
}

TEST(HiddenSwitch, TogglesFireBerdDna323InTheEthernetList) {
  CapabilitySets caps = DefaultCapabilities();
  auto has = [&](Topology topology) {
    auto list = OfferedTargets(caps, TargetClass::Lan, topology, false, false);
    return std::count(list.begin(), list.end(), Analyzer::FireBerdDna323) == 1;
  };
  EXPECT_FALSE(has(Topo::Ethernet));
  EXPECT_EQ(ToggleHiddenAnalyzers(caps), "Additional unsupported features/analyzers ENABLED.");
  EXPECT_TRUE(has(Topo::Ethernet));
  EXPECT_FALSE(has(Topo::TokenRing));
  EXPECT_TRUE(SourceSupported(caps, Analyzer::FireBerdDna323, Topo::Ethernet, Wan::NotKnown));
  EXPECT_EQ(ToggleHiddenAnalyzers(caps), "Additional unsupported features/analyzers DISABLED.");
  EXPECT_FALSE(has(Topo::Ethernet));
}

DestinationRequest Request(const std::string& source, const std::string& field,
                           AnalyzerType from, AnalyzerType to, Topology topology) {
  DestinationRequest r;
  r.sourcePath = source;
  r.destinationField = field;
  r.sourceAnalyzer = from;
  r.targetAnalyzer = to;
  r.topology = topology;
  return r;
}

TEST(DestinationName, SuffixOfTheTargetForTheTopology) {
  struct Case {
    std::string source, field;
    AnalyzerType target;
    Topology topology;
    std::string expected;
  } cases[] = {
      {"/d/trace.enc", "", Analyzer::Tcpdump, Topo::Ethernet, "/d/trace.dmp"},
      {"/d/trace.enc", "/out/x.cap", Analyzer::Tcpdump, Topo::Ethernet, "/out/trace.dmp"},
      {"/d/a.b.c", "", Analyzer::SnifferDos, Topo::TokenRing, "/d/a.b.trc"},
      {"/d/.hidden", "", Analyzer::SnifferDos, Topo::Fddi, "/d/.hidden.fdc"},
      {"/d/plain", "", Analyzer::SnifferDos, Topo::T1, "/d/plain.syc"},
      {"/d/x.cap", "", Analyzer::InternetAdvisor, Topo::TokenRing, "/d/x.trn"},
      {"/d/x.cap", "", Analyzer::Ostrawind, Topo::Wireless, "/d/x.skc"},
      {"", "", Analyzer::Tcpdump, Topo::Ethernet, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DefaultTargetName(Request(c.source, c.field, Analyzer::Tcpdump, c.target,
                                        c.topology)),
              c.expected)
        << c.source;
  EXPECT_EQ(DefaultTargetName(Request("/d/g.pkt", "", Analyzer::Glimmerhollow, Analyzer::Ostrawind, Topo::Ethernet)), "");
}

TEST(DestinationName, MediaConversionTagIsAddedOnce) {
  DestinationRequest r = Request("/d/trace.skc", "", Analyzer::Skavelin, Analyzer::Ostrawind,
                                 Topo::Wireless);
  r.convertToEthernet = true;
  EXPECT_EQ(DefaultTargetName(r), "/d/trace_skc.pkt");
  r.sourcePath = "/d/trace_skc.skc";
  EXPECT_EQ(DefaultTargetName(r), "/d/trace_skc.pkt");
  // With a destination field the tag itself must end the name.
  r.destinationField = "/out/trace_skc.pkt";
  EXPECT_EQ(DefaultTargetName(r), "/out/trace_skc.pkt");
  r.sourcePath = "/d/trace_abc.skc";
  EXPECT_EQ(DefaultTargetName(r), "/out/trace_abc_skc.pkt");
  r.destinationField = "";
  EXPECT_EQ(DefaultTargetName(r), "/d/trace_skc.pkt");  // any "_xyz" ending goes
  // The box means nothing for a source it is not shown for.
  r.topology = Topo::Ethernet;
  EXPECT_EQ(DefaultTargetName(r), "/d/trace_abc.pkt");

  DestinationRequest w = Request("/d/cap.enc", "", Analyzer::SnifferDos, Analyzer::Skavelin,
                                 Topo::Ethernet);
  w.convertToWireless = true;
  EXPECT_EQ(DefaultTargetName(w), "/d/cap_enc.skc");
}

TEST(DestinationName, ChangingTheFormatChangesOnlyTheSuffix) {
  DestinationRequest r = Request("/d/in.enc", "/elsewhere/chosen.cap", Analyzer::SnifferDos,
                                 Analyzer::Snoop, Topo::Ethernet);
  EXPECT_EQ(DestinationAfterSelect(r, false, false), "/elsewhere/chosen.snoop");
  EXPECT_EQ(DestinationAfterSelect(r, true, false), "/elsewhere/in.snoop");
  EXPECT_EQ(DestinationAfterSelect(r, false, true), "/elsewhere/chosen.cap");
  r.targetAnalyzer = Analyzer::Unknown;
  EXPECT_EQ(DestinationAfterSelect(r, true, false), "/elsewhere/chosen.cap");
  r.targetAnalyzer = Analyzer::Snoop;
  r.sourcePath.clear();
  EXPECT_EQ(DestinationAfterSelect(r, true, false), "/elsewhere/chosen.cap");
}

TEST(SourceFactTexts, DateAndSizeAsTheWindowShowsThem) {
  EXPECT_EQ(FormatFileDate(EncodeDateTime(2026, 12, 8, 13, 51, 20)), "TUE, DEC 08, 2026 1:51 PM");
  EXPECT_EQ(FormatFileDate(EncodeDateTime(2024, 2, 29, 0, 5, 0)), "THU, FEB 29, 2024 12:05 AM");
  EXPECT_EQ(FormatFileDate(EncodeDateTime(1999, 7, 4, 12, 0, 0)), "SUN, JUL 04, 1999 12:00 PM");
  EXPECT_EQ(FileSizeText(0), "0 bytes");
  EXPECT_EQ(FileSizeText(999), "999 bytes");
  EXPECT_EQ(FileSizeText(1000), "1,000 bytes");
  EXPECT_EQ(FileSizeText(1234567890123), "1,234,567,890,123 bytes");
  EXPECT_EQ(FileDateText("/nonexistent/file"), "");
}

// ------------------------------------------------ the temporary of a target

using testkit::ReadFileBytes;
using testkit::TempDir;
using testkit::WriteFileBytes;

const std::vector<uint8_t> kOld = {'o', 'l', 'd'}, kNew = {'n', 'e', 'w', '!'};

using testkit::Listing;

bool WriteBytes(int fd, const std::vector<uint8_t>& bytes) {
  return write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Unnamed and named alike: nothing shows at the target until it is
// published; then it has the new bytes and the old file's permissions, and
// nothing else is left. Dropped unpublished, the old file stays as it was.
TEST(ReplacementFile, ReplacesTheTargetOnlyWhenPublished) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    TempDir dir;
    const std::string target = dir.path("t.pcap");
    WriteFileBytes(target, kOld);
    chmod(target.c_str(), 0640);
    std::string error;
    for (bool publish : {false, true}) {
      auto file = ReplacementFile::Create(target, error, {unnamed, {}});
      ASSERT_TRUE(file) << error;
      ASSERT_TRUE(WriteBytes(file->fd(), kNew));
      EXPECT_EQ(file->temporaryName().empty(), unnamed);
      EXPECT_EQ(Listing(dir.dir()).size(), unnamed ? 1u : 2u);
      EXPECT_EQ(ReadFileBytes(target), kOld);
      if (publish) {
        ASSERT_TRUE(file->publish(error)) << error;
      }
    }
    EXPECT_EQ(ReadFileBytes(target), kNew);
    EXPECT_EQ(ModeOf(target) & 07777, 0640u);
    EXPECT_EQ(Listing(dir.dir()), std::vector<std::string>{"t.pcap"});
  }
  // A folder that cannot be written to: the reason, nothing made.
  std::string error;
  EXPECT_FALSE(ReplacementFile::Create("/proc/no-such-folder/t.pcap", error));
  EXPECT_NE(error, "");
}

// Whatever stands at a name the temporary may take (a link to a victim, a
// dangling link, a link to a folder, a second name of a victim, a pipe) is
// never followed nor
// replaced: another name is taken, the victim keeps its bytes and the target
// becomes a regular file.
TEST(ReplacementFile, NeverFollowsWhatIsPlantedAtItsNames) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    TempDir dir;
    const std::string victim = dir.path("victim"), target = dir.path("t.cap");
    WriteFileBytes(victim, kOld);
    mkdir(dir.path("folder").c_str(), 0755);
    const std::vector<std::string> planted = {".morphalite-1", ".morphalite-2", ".morphalite-3",
                                              ".morphalite-4", ".morphalite-5"};
    ASSERT_EQ(symlink(victim.c_str(), dir.path(planted[0]).c_str()), 0);
    ASSERT_EQ(symlink(dir.path("made-through-link").c_str(), dir.path(planted[1]).c_str()), 0);
    ASSERT_EQ(symlink(dir.path("folder").c_str(), dir.path(planted[2]).c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), dir.path(planted[3]).c_str()), 0);
    ASSERT_EQ(mkfifo(dir.path(planted[4]).c_str(), 0600), 0);
    size_t next = 0;
    ReplacementFile::Choices choices{unnamed, [&] { return next < planted.size() ? planted[next++] : ""; }};
    std::string error;
    auto file = ReplacementFile::Create(target, error, choices);
    ASSERT_TRUE(file) << error;
    ASSERT_TRUE(WriteBytes(file->fd(), kNew));
    ASSERT_TRUE(file->publish(error)) << error;
    EXPECT_EQ(next, planted.size());  // every planted name was tried
    EXPECT_EQ(ReadFileBytes(victim), kOld);
    EXPECT_EQ(ReadFileBytes(target), kNew);
    EXPECT_TRUE(S_ISREG(ModeOf(target)));
    EXPECT_NE(access(dir.path("made-through-link").c_str(), F_OK), 0);
    EXPECT_EQ(Listing(dir.dir() + "/folder"), std::vector<std::string>{});
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(S_ISLNK(ModeOf(dir.path(planted[i])))) << planted[i];
    EXPECT_EQ(ReadFileBytes(dir.path(planted[3])), kOld);
    EXPECT_TRUE(S_ISFIFO(ModeOf(dir.path(planted[4]))));
  }
}

// A named temporary whose writer was killed (no lock on it) goes when the
// next run writes in that folder; one still being written (locked), or
// anything that is not a plain file of ours, stays.
TEST(ReplacementFile, AKilledRunsTemporaryIsRemovedByTheNextRunInItsFolder) {
  TempDir dir;
  const std::string target = dir.path("t.dmp");
  WriteFileBytes(target, kOld);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    auto file = ReplacementFile::Create(target, error, {false, {}});
    if (file && WriteBytes(file->fd(), kNew)) (void)!write(ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  std::vector<std::string> left = Listing(dir.dir());
  ASSERT_EQ(left.size(), 2u);  // the target and the killed run's temporary
  EXPECT_EQ(left[0].rfind(kTemporaryPrefix, 0), 0u);
  EXPECT_EQ(ReadFileBytes(target), kOld);

  // Still written by someone: locked. A link of that name: not ours to remove.
  const int held = open(dir.path(".morphalite-held").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  ASSERT_EQ(symlink(target.c_str(), dir.path(".morphalite-link").c_str()), 0);
  std::string error;
  auto next = ReplacementFile::Create(dir.path("other.dmp"), error);
  ASSERT_TRUE(next) << error;
  EXPECT_EQ(Listing(dir.dir()),
            (std::vector<std::string>{".morphalite-held", ".morphalite-link", "t.dmp"}));
  EXPECT_EQ(ReadFileBytes(target), kOld);
  close(held);
}

}  // namespace
}  // namespace morph
