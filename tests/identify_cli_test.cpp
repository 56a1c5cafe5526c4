// `morphalite identify` end to end: the facts it prints, the refusals, and
// files written by Debian's editcap named correctly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/file_date.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

const std::string kBinary = MORPHALITE_BINARY;

// A little-endian standard libpcap file with three frames of the link type.
std::vector<uint8_t> PcapFile(uint32_t linkType) {
  std::vector<uint8_t> f;
  auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
  };
  auto le16 = [&](uint16_t v) {
    f.push_back(uint8_t(v));
    f.push_back(uint8_t(v >> 8));
  };
  le32(0xA1B2C3D4);
  le16(2);
  le16(4);
  le32(0);
  le32(0);
  le32(65535);
  le32(linkType);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint32_t length = 60 + 10 * i;
    le32(1700000000 + i);
    le32(1000 * i);
    le32(length);
    le32(length);
    for (uint32_t b = 0; b < length; ++b)
      f.push_back(linkType == 6 && b == 0 ? 0x10 : uint8_t(b < 6 ? 0xFF : b + i));
  }
  return f;
}

CommandResult Identify(const std::string& args) { return RunCommand(kBinary + " identify " + args); }

std::string Line(const std::string& out, const std::string& label) {
  size_t at = out.find("\n" + label);
  if (out.compare(0, label.size(), label) == 0) at = 0;
  else if (at == std::string::npos) return "<missing " + label + ">";
  else ++at;
  size_t end = out.find('\n', at);
  return out.substr(at + label.size(), end - at - label.size());
}

TEST(IdentifyCommand, PrintsEveryFactOfAnAcceptedFile) {
  TempDir dir;
  const std::string path = dir.path("eth.pcap");
  WriteFileBytes(path, PcapFile(1));
  CommandResult r = Identify(path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Line(r.out, "File: "), path);
  EXPECT_EQ(Line(r.out, "Analyzer: "), "tcpdump/libpcap");
  EXPECT_EQ(Line(r.out, "Interface: "), "Ethernet");
  EXPECT_EQ(Line(r.out, "File Date: "), FileDateText(path));
  EXPECT_EQ(Line(r.out, "File Size: "), std::to_string(24 + 3 * 16 + 60 + 70 + 80) + " bytes");
  EXPECT_EQ(Line(r.out, "Comment: "), "");
  EXPECT_EQ(Line(r.out, "Line Speed: "), "unknown");  // libpcap states none
  EXPECT_EQ(r.out.find("Frames: "), std::string::npos);  // libpcap states no count
  const std::string targets = Line(r.out, "Targets: ");
  EXPECT_EQ(targets.rfind("Advisor (Agilent); ASCII (text file with options); ", 0), 0u) << targets;
  EXPECT_NE(targets.find("; Ostrawind (Corvantique); "), std::string::npos);
  EXPECT_EQ(targets.find("Ringstave"), std::string::npos);
  EXPECT_EQ(targets.find("NetMetrix"), std::string::npos);
  EXPECT_EQ(Line(r.out, "Destination: "), dir.path("eth.pkt"));
}

TEST(IdentifyCommand, JsonGivesOneObjectPerFile) {
  TempDir dir;
  WriteFileBytes(dir.path("ring.pcap"), PcapFile(6));
  WriteFileBytes(dir.path("small.pcap"), std::vector<uint8_t>(39, 0));
  CommandResult r = Identify("--json " + dir.path("ring.pcap") + " " + dir.path("small.pcap"));
  EXPECT_EQ(r.status, 2);
  size_t newline = r.out.find('\n');
  ASSERT_NE(newline, std::string::npos);
  const std::string first = r.out.substr(0, newline), second = r.out.substr(newline + 1);
  EXPECT_NE(first.find("\"accepted\": true"), std::string::npos) << first;
  EXPECT_NE(first.find("\"interface\": \"Token Ring\""), std::string::npos) << first;
  EXPECT_NE(first.find("\"lineSpeed\": null"), std::string::npos) << first;
  EXPECT_NE(first.find("\"Ringstave (Corvantique)\""), std::string::npos) << first;
  EXPECT_NE(first.find("\"destination\": \"" + dir.path("ring.dat") + "\""), std::string::npos)
      << first;  // Ostrawind does not take Token Ring: the first entry, Advisor, is proposed
  EXPECT_NE(second.find("\"accepted\": false"), std::string::npos) << second;
  EXPECT_NE(second.find("\"message\": \"small.pcap is too small.\", \"detail\": null}"),
            std::string::npos)
      << second;
  // A file that cannot be opened keeps the system's reason.
  r = Identify("--json " + dir.path("none.pcap"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\"detail\": \"" + dir.path("none.pcap") + ": No such file or directory\"}"),
            std::string::npos)
      << r.out;
}

TEST(IdentifyCommand, JsonEscapesWhatTheFileSays) {
  TempDir dir;
  // A NetMon 1.x header on Ethernet whose comment holds quotes, a backslash,
  // a line feed and a Latin-1 letter.
  const std::string comment = "say \"hi\"\\\n\xE9";
  std::string header(128, '\0');
  header.replace(0, 7, "RTSS\1\1\1");
  header[40] = char(128);
  header[44] = char(comment.size());
  const std::string file = header + comment;
  WriteFileBytes(dir.path("c.cap"), std::vector<uint8_t>(file.begin(), file.end()));
  CommandResult r = Identify("--json " + dir.path("c.cap"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("comment": "say \"hi\"\\\n\u00e9")"), std::string::npos) << r.out;
  CommandResult text = Identify(dir.path("c.cap"));
  EXPECT_NE(text.out.find("Comment: " + comment + "\n"), std::string::npos);
}

TEST(IdentifyCommand, RefusalsShowTheirMessagesAndFail) {
  TempDir dir;
  WriteFileBytes(dir.path("tiny.cap"), std::vector<uint8_t>(39, 1));
  WriteFileBytes(dir.path("noise.cap"), std::vector<uint8_t>(400, 0x5A));
  std::vector<uint8_t> grabber(100, 0);
  grabber[0] = 0x87;
  WriteFileBytes(dir.path("grab.pkt"), grabber);
  // A snoop file of a data link type no medium is.
  std::vector<uint8_t> unknownLink = {'s', 'n', 'o', 'o', 'p', 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 7};
  unknownLink.resize(64, 0);
  WriteFileBytes(dir.path("link.snoop"), unknownLink);
  struct Case {
    std::string path, message;
  } cases[] = {
      {dir.path("tiny.cap"), "tiny.cap is too small."},
      {dir.path("noise.cap"), "noise.cap is obsolete, not supported, or not a trace file."},
      {dir.path("grab.pkt"), "grab.pkt must be opened by Ostrawind first."},
      {dir.path("link.snoop"), "link.snoop contains an unsupported format or interface."},
      {dir.dir(), "Unable to open Source file.  File is in use or name is bad.\n  " + dir.dir() +
                      ": Is a directory"},
      {dir.path("absent.cap"), "Unable to open Source file.  File is in use or name is bad.\n  " +
                                   dir.path("absent.cap") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    CommandResult r = Identify(c.path);
    EXPECT_EQ(r.status, 2) << c.path;
    EXPECT_EQ(r.out, "") << c.path;
    EXPECT_EQ(r.err, "Open Trace File: " + c.message + "\n") << c.path;
  }
  // A libpcap file states its own link type: read whatever it is, and named.
  WriteFileBytes(dir.path("user.pcap"), PcapFile(147));
  CommandResult user = Identify(dir.path("user.pcap"));
  EXPECT_EQ(user.status, 0) << user.err;
  EXPECT_NE(user.out.find("Interface 0: link type 147 (user 0)\n"), std::string::npos) << user.out;
  // One refused file among good ones still fails the run; the good ones are shown.
  WriteFileBytes(dir.path("good.pcap"), PcapFile(1));
  CommandResult mixed = Identify(dir.path("good.pcap") + " " + dir.path("noise.cap"));
  EXPECT_EQ(mixed.status, 2);
  EXPECT_NE(mixed.out.find("Analyzer: tcpdump/libpcap"), std::string::npos);
  EXPECT_EQ(Identify("").status, 1);
}

TEST(IdentifyCommand, ConversionRunsTheSameChecksBeforeWriting) {
  TempDir dir;
  WriteFileBytes(dir.path("noise.cap"), std::vector<uint8_t>(400, 0x5A));
  CommandResult r = RunCommand(kBinary + " convert " + dir.path("noise.cap") + " --to TD -o " +
                               dir.path("out.dmp"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("noise.cap is obsolete, not supported, or not a trace file."),
            std::string::npos)
      << r.err;
  struct stat st {};
  EXPECT_NE(stat(dir.path("out.dmp").c_str(), &st), 0);
}

// What editcap writes in the formats it shares with us, and the names we give them.
TEST(IdentifyCommand, EditcapOutputIsNamedCorrectly) {
  if (!HaveTool("editcap")) GTEST_SKIP() << "editcap is not installed";
  TempDir dir;
  struct Case {
    const char* format;
    const char* analyzer;
  } cases[] = {
      {"pcap", "tcpdump/libpcap"},
      {"modpcap", "tcpdump/libpcap (modified)"},
      {"rh6_1pcap", "tcpdump/libpcap (modified)"},
      {"nokiapcap", "tcpdump/libpcap (Nokia modified)"},
      {"snoop", "Snoop (Sun)"},
      {"ngsniffer", "Sniffer DOS (NAI)"},
      {"ngwsniffer_1_1", "SnifferPro/NetXRay (NAI)"},
      {"ngwsniffer_2_0", "SnifferPro/NetXRay (NAI)"},
      {"netmon1", "NetMon (Microsoft, SMS 1.2)"},
      {"netmon2", "NetMon (Microsoft, SMS 2.0)"},
      {"lanalyzer", "LANalyzer (Novell)"},
      {"observer", "Observer (Network Instruments)"},
  };
  for (uint32_t linkType : {1u, 6u}) {
    const std::string source = dir.path("source.pcap");
    WriteFileBytes(source, PcapFile(linkType));
    for (const Case& c : cases) {
      const std::string out = dir.path(std::string("out.") + c.format);
      CommandResult made =
          RunCommand("editcap -F " + std::string(c.format) + " " + source + " " + out);
      ASSERT_EQ(made.status, 0) << c.format << ": " << made.err;
      CommandResult r = Identify(out);
      ASSERT_EQ(r.status, 0) << c.format << ": " << r.err;
      EXPECT_EQ(Line(r.out, "Analyzer: "), c.analyzer) << c.format;
      EXPECT_EQ(Line(r.out, "Interface: "), linkType == 1 ? "Ethernet" : "Token Ring")
          << c.format;
    }
  }
}

TEST(IdentifyCommand, FactsForEveryFileWithBlankLinesBetween) {
  TempDir dir;
  WriteFileBytes(dir.path("a.pcap"), PcapFile(1));
  WriteFileBytes(dir.path("b.pcap"), PcapFile(10));
  CommandResult r = Identify(dir.path("a.pcap") + " " + dir.path("b.pcap"));
  ASSERT_EQ(r.status, 0) << r.err;
  size_t second = r.out.find("\n\nFile: " + dir.path("b.pcap") + "\n");
  ASSERT_NE(second, std::string::npos) << r.out;
  const std::string b = r.out.substr(second + 2);
  EXPECT_EQ(Line(b, "Interface: "), "FDDI");
  EXPECT_EQ(Line(b, "Line Speed: "), "unknown");
  EXPECT_EQ(Line(b, "Destination: "), dir.path("b.dat"));
}

}  // namespace
}  // namespace morph
