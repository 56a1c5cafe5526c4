// The registry's families taken together: each analyzer type listed once with
// the number settings store, codes and names that tell types apart, and the
// identification rules in the order they are tried.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/job.h"
#include "engine/progress.h"
#include "engine/targets.h"
#include "formats/advisor.h"
#include "formats/domino.h"
#include "formats/fireberd_dna323.h"
#include "formats/lan900.h"
#include "formats/netmon.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

// Every analyzer type by the number settings and identify's reports keep.
constexpr std::pair<int, const char*> kStoredNumbers[] = {
    {0, "Advisor (Agilent)"},
    {1, "Skavelin (Corvantique)"},
    {2, "ASCII (text file with options)"},
    {3, "BSTS (Agilent)"},
    {4, "DA-30 (Acterna/WWG)"},
    {5, "DataGLANce (IBM)"},
    {6, "Domino (Acterna/WWG)"},
    {7, "Ostrawind (Corvantique)"},
    {8, "FireBerd 500 (Acterna/TTC)"},
    {9, "FireBerd 500 PC (Acterna/TTC)"},
    {10, "FireBerd DNA-323 (Acterna/TTC)"},
    {11, "Internet Advisor (Agilent, pre-Win95)"},
    {12, "LAN900 (Digitech)"},
    {13, "LAN Analyzer (Agilent)"},
    {14, "LANalyzer (Novell)"},
    {15, "LANDesk/NetSight (Intel)"},
    {16, "LANWatch (Precision Guesswork)"},
    {17, "LinkView PRO (Acterna/WWG)"},
    {18, "NetLens/Spider (Acterna/TTC)"},
    {19, "NetMetrix (Agilent)"},
    {20, "NetMon (Microsoft, SMS 1.2)"},
    {21, "NetMon (Microsoft, SMS 2.0)"},
    {22, "NetScout (NetScout Systems)"},
    {23, "Network Analyzer (Agilent)"},
    {24, "Observer (Network Instruments)"},
    {25, "Protocol Inspector (Fluke)"},
    {26, "SnifferPro/NetXRay (NAI)"},
    {27, "Sniffer DOS (NAI)"},
    {28, "Snoop (Sun)"},
    {29, "Surveyor (Finisar/Shomiti)"},
    {30, "tcpdump/libpcap"},
    {31, "Ringstave (Corvantique)"},
    {32, "Glimmerhollow (Corvantique)"},
    {33, "Farrowe (Corvantique)"},
    {34, "Any Analyzer"},
    {35, "Unknown"},
    {36, "pcapng"},
};

// The order identification tries the rules in: a new rule gets a row at the
// place its family's descriptor gives it.
constexpr const char* kIdentificationOrder[] = {
    "pcapng",           "capture-gzip", "packet-file-gzip", "snifferpro-gzip",
    "sniffer-dos",      "netmetrix",    "pcap",             "lanalyzer",
    "landesk",          "da30",         "fireberd-dna323",  "internet-advisor",
    "dataglance",       "fireberd500",  "netmon",           "lan900",
    "observer",         "packet-file",  "tagged-packet-file", "snoop",
    "netscout",         "domino",       "snifferpro",       "advisor-library",
};

// Each row of every family, with the family that lists it.
std::vector<std::pair<const AnalyzerInfo*, const FormatDescriptor*>> AllRows() {
  std::vector<std::pair<const AnalyzerInfo*, const FormatDescriptor*>> rows;
  for (const FormatDescriptor* f : RegisteredFormats())
    for (const AnalyzerInfo& info : f->analyzers) rows.push_back({&info, f});
  return rows;
}

TEST(Registry, EveryTypeHasOneRowAndKeepsItsStoredNumber) {
  std::map<int, int> listed;
  for (const auto& [info, family] : AllRows()) {
    SCOPED_TRACE(family->family);
    ASSERT_LT(Number(info->type), Analyzer::Count) << info->name;
    ++listed[Number(info->type)];
  }
  for (const auto& [number, times] : listed) EXPECT_EQ(times, 1) << "type " << number;
  // A type a family reads, writes or recognises is one some family lists.
  for (const FormatDescriptor* f : RegisteredFormats())
    for (int t = 0; t < Analyzer::Count; ++t)
      if (InMask(f->reads | f->writes | f->recognises, AnalyzerType(t))) {
        EXPECT_TRUE(listed.count(t)) << f->family << " names type " << t << " without a row";
      }
  for (const auto& [number, name] : kStoredNumbers) {
    EXPECT_EQ(AnalyzerName(AnalyzerType(number)), name);
    EXPECT_EQ(AnalyzerFromNumber(number), AnalyzerType(number));
  }
  EXPECT_EQ(AnalyzerRows().size(), std::size(kStoredNumbers));
  EXPECT_EQ(Analyzer::Lan900, AnalyzerType(12));
  // Numbers no family stands for read back as Unknown.
  for (int number : {-1, 37, 63, 64, 255}) EXPECT_EQ(AnalyzerFromNumber(number), Analyzer::Unknown);
}

TEST(Registry, CodesAndNamesTellTypesApart) {
  std::map<std::string, AnalyzerType> codes, names;
  for (const AnalyzerInfo* info : AnalyzerRows()) {
    SCOPED_TRACE(info->name);
    EXPECT_TRUE(names.emplace(Upper(info->name), info->type).second) << "name listed twice";
    if (!info->code) continue;
    EXPECT_EQ(std::string(info->code).size(), 2u);
    EXPECT_EQ(Upper(info->code), info->code);
    EXPECT_TRUE(codes.emplace(info->code, info->type).second) << "code listed twice";
    EXPECT_EQ(AnalyzerFromCode(Upper(info->code)), info->type);
    EXPECT_EQ(AnalyzerFromCodeOrName(info->name), info->type);
  }
  EXPECT_EQ(AnalyzerFromCode("l9"), Analyzer::Lan900);
  EXPECT_EQ(AnalyzerFromCode("ZZ"), std::nullopt);
  // A friendly name is no other type's code or display name.
  for (const FormatDescriptor* f : RegisteredFormats())
    for (const FriendlyName& alias : f->aliases) {
      SCOPED_TRACE(alias.name);
      const auto byCode = codes.find(Upper(alias.name));
      if (byCode != codes.end()) {
        EXPECT_EQ(byCode->second, alias.type);
      }
      const auto byName = names.find(Upper(alias.name));
      if (byName != names.end()) {
        EXPECT_EQ(byName->second, alias.type);
      }
    }
}

// Files of a family known by its suffix are told apart by the suffix alone.
TEST(Registry, SuffixesOfFamiliesKnownBySuffixAreTheirsAlone) {
  std::map<std::string, std::string> owner;
  for (const auto& [info, family] : AllRows()) {
    if (!family->has(Capability::KnownBySuffix) || !*info->suffix) continue;
    const auto [at, added] = owner.emplace(Upper(info->suffix), info->name);
    EXPECT_TRUE(added) << info->suffix << ": " << info->name << " and " << at->second;
  }
  EXPECT_GE(owner.size(), 3u);
}

TEST(Registry, EveryRuleAppearsOnceInTheIdentificationOrder) {
  std::vector<std::string> tried;
  int previous = 0;
  for (const OrderedRule& step : IdentificationOrder()) {
    EXPECT_GT(step.rule->order, previous) << step.rule->name << " shares its place";
    previous = step.rule->order;
    tried.push_back(step.rule->name);
    EXPECT_EQ(FindIdentifyRule(step.rule->name), step.rule);
  }
  const std::vector<std::string> expected(std::begin(kIdentificationOrder),
                                          std::end(kIdentificationOrder));
  EXPECT_EQ(tried, expected);
  size_t rules = 0;
  for (const FormatDescriptor* f : RegisteredFormats()) rules += f->identify.size();
  EXPECT_EQ(rules, expected.size());
}

// The media a row states make the sets the target list and source checks use;
// only the formats stating link types take sources of any link type.
TEST(Registry, MediaOfTheRowsMakeTheCapabilitySets) {
  const CapabilitySets caps = DefaultCapabilities();
  for (const AnalyzerInfo* info : AnalyzerRows()) {
    SCOPED_TRACE(info->name);
    const bool shown = !(info->offer & (Offer::SourceOnly | Offer::HiddenSwitch));
    EXPECT_EQ(caps.ethernet.test(info->type), (info->media & Media::Ethernet) != 0);
    EXPECT_EQ(caps.wan.test(info->type), (info->media & Media::Wan) != 0);
    EXPECT_EQ(caps.linkTypes.test(info->type), (info->media & Media::LinkTypes) != 0);
    if (info->media && shown) {
      EXPECT_TRUE(HasWriter(info->type)) << "offered as a target without a writer";
    }
  }
  CapabilitySets switched = caps;
  EXPECT_EQ(ToggleHiddenAnalyzers(switched), "Additional unsupported features/analyzers ENABLED.");
  EXPECT_TRUE(switched.ethernet.test(Analyzer::FireBerdDna323));
  EXPECT_EQ(ToggleHiddenAnalyzers(switched), "Additional unsupported features/analyzers DISABLED.");
  EXPECT_EQ(switched.ethernet, caps.ethernet);
}

// While a writer finishes its file the display shows that writer's text, or
// the general one: never another family's.
TEST(Registry, FinishingTextIsTheTargetsOwn) {
  struct Row {
    AnalyzerType target;
    bool stopped, aside;
    const char* text;
  };
  const Row rows[] = {
      {Analyzer::Domino, true, false, "Writing Domino index data; please wait..."},
      {Analyzer::LinkViewPro, false, false, "Writing Domino index data; please wait..."},
      {Analyzer::NetMon2, true, false, "Writing index data; please wait..."},
      {Analyzer::NetMon1, false, false, "Writing index data; please wait..."},
      {Analyzer::Advisor, false, true, "Creating Internet Advisor data file; please wait..."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(AnalyzerName(row.target));
    ConversionState s;
    s.targetAnalyzer = row.target;
    s.sourceFileSize = 100;
    s.status.writingIndex = !row.aside;
    const ProgressView v = ComputeProgress(s, 50, row.stopped, row.aside);
    EXPECT_EQ(v.pctComplete, row.text);
    EXPECT_FALSE(v.buttonEnabled);
    EXPECT_TRUE(v.finished);
  }
}

// A source a row refuses is refused in that row's words: a file a live
// capture left, and a file whose media cannot be told.
TEST(Registry, RowsRefuseTheirSourcesInTheirOwnWords) {
  TempDir dir;
  std::vector<uint8_t> grabbed(100, 0), early(100, 0);
  grabbed[0] = 0x87;
  early[0] = 0x06;
  WriteFileBytes(dir.path("grab.pkt"), grabbed);
  WriteFileBytes(dir.path("early.skc"), early);
  const std::pair<std::string, std::string> cases[] = {
      {"grab.pkt", "grab.pkt must be opened by Ostrawind first."},
      {"early.skc", "Skavelin files created prior to Skavelin 1.1 are not supported."},
  };
  for (const auto& [file, text] : cases) {
    SCOPED_TRACE(file);
    ConversionState s;
    MessageRecorder host;
    const SourceCheck check = CheckSource(s, DefaultCapabilities(), dir.path(file), host);
    EXPECT_FALSE(check.accepted);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find(": " + text), std::string::npos) << host.messages[0];
  }
}

TEST(Registry, OnlyTheFamiliesWithSettingsHaveAnOptionsDialog) {
  std::map<OptionsDialog, std::set<std::string>> dialogs;
  for (const FormatDescriptor* f : RegisteredFormats()) dialogs[f->optionsDialog].insert(f->family);
  EXPECT_EQ(dialogs[OptionsDialog::ByteOrderAndLayout], std::set<std::string>{"libpcap"});
  EXPECT_EQ(dialogs[OptionsDialog::LineFields], std::set<std::string>{"ASCII text dump"});
  const CapabilitySets caps = DefaultCapabilities();
  EXPECT_TRUE(FillTargetList(caps, TargetClass::Lan, Topo::Ethernet, false, false,
                             Analyzer::Tcpdump).optionsVisible);
  EXPECT_FALSE(FillTargetList(caps, TargetClass::Lan, Topo::Ethernet, false, false,
                              Analyzer::Lan900).optionsVisible);
}

TEST(Registry, OneRowIsTheTargetOfAJobThatNamesNone) {
  std::vector<AnalyzerType> marked;
  for (const AnalyzerInfo* info : AnalyzerRows())
    if (info->offer & Offer::DefaultTarget) marked.push_back(info->type);
  ASSERT_EQ(marked, std::vector<AnalyzerType>{Analyzer::Tcpdump});
  EXPECT_TRUE(HasWriter(DefaultTarget()));
  EXPECT_EQ(JobRequest{}.target, Analyzer::Tcpdump);
}

std::string ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What names a family: its name and each part of it, its types' display
// names (without the vendor) and codes, and every analyzer constant the
// formats define or use.
std::set<std::string> FamilyWords() {
  std::set<std::string> words;
  auto addParts = [&](std::string name) {
    if (const size_t vendor = name.find(" ("); vendor != std::string::npos) name.resize(vendor);
    words.insert(name);
    std::istringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) words.insert(part);
  };
  for (const FormatDescriptor* f : RegisteredFormats()) addParts(f->family);
  for (const AnalyzerInfo* info : AnalyzerRows()) {
    if (info->type == Analyzer::Unknown || info->type == Analyzer::AnyAnalyzer) continue;
    addParts(info->name);
    if (info->code) words.insert(info->code);
  }
  const std::regex constant(R"(Analyzer::(\w+)|constexpr AnalyzerType (\w+))");
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(MORPHALITE_SOURCE_DIR) + "/formats")) {
    const std::string text = ReadTextFile(entry.path());
    for (std::sregex_iterator m(text.begin(), text.end(), constant), end; m != end; ++m)
      words.insert((*m)[1].matched ? (*m)[1].str() : (*m)[2].str());
  }
  for (const char* engineWord : {"Unknown", "AnyAnalyzer", "Count"}) words.erase(engineWord);
  return words;
}

// "file:line: word" for each whole word of `words` in `text`, letter case kept.
std::vector<std::string> WordsNamed(const std::string& file, const std::string& text,
                                    const std::set<std::string>& words) {
  auto partOfWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::vector<std::string> found;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    for (const std::string& word : words)
      for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
        const size_t end = at + word.size();
        const bool whole =
            (at == 0 || !partOfWord(line[at - 1])) && (end == line.size() || !partOfWord(line[end]));
        if (whole)
          found.push_back(file + ":" + std::to_string(number) + ": " + word);
      }
  }
  return found;
}

// The engine is the core families plug into: none of its files names one, in
// code or in comments, so that a family is its own files and registry row.
TEST(Registry, NoEngineFileNamesAFamily) {
  const std::set<std::string> words = FamilyWords();
  ASSERT_TRUE(words.count("libpcap") && words.count("TD") && words.count("Tcpdump") &&
              words.count("Lan900") && words.count("SnifferPro"));
  // The scanner itself: whole words only, in their own letter case.
  EXPECT_EQ(WordsNamed("x.h", "// a\n  bool x = Analyzer::Tcpdump;  // as libpcap\n", words),
            (std::vector<std::string>{"x.h:2: Tcpdump", "x.h:2: libpcap"}));
  EXPECT_TRUE(WordsNamed("x.h", "// tcpdumps LIBPCAP kTD Lan9000\n", words).empty());

  std::vector<std::string> found;
  int files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(MORPHALITE_SOURCE_DIR) + "/engine")) {
    const std::string ext = entry.path().extension();
    if (ext != ".h" && ext != ".cpp") continue;
    ++files;
    const std::string file = "engine/" + entry.path().filename().string();
    for (std::string& hit : WordsNamed(file, ReadTextFile(entry.path()), words))
      found.push_back(std::move(hit));
  }
  EXPECT_GT(files, 40);
  std::sort(found.begin(), found.end());
  std::string list;
  for (const std::string& hit : found) list += hit + "\n";
  EXPECT_TRUE(found.empty()) << list;
}

}  // namespace
}  // namespace morph
