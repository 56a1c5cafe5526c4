// Source identification and topology determination on headers built byte by
// byte from the file layouts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/identify.h"
#include "formats/da30.h"
#include "formats/dataglance.h"
#include "formats/domino.h"
#include "formats/fireberd500.h"
#include "formats/fireberd_dna323.h"
#include "formats/internet_advisor.h"
#include "formats/lan900.h"
#include "formats/lanalyzer.h"
#include "formats/netmetrix.h"
#include "formats/netmon.h"
#include "formats/netscout.h"
#include "formats/observer.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/recognised.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "formats/tagged_packet_file.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

struct Result {
  AnalyzerType type = Analyzer::Unknown;
  bool openFailed = false, tooSmall = false;
  Topology topology = Topo::Unknown;
  ConversionState state;
};

// Identification, then topology determination when a type was found.
Result Examine(const std::string& path, ConversionState state = {}) {
  Result r;
  r.state = state;
  r.type = IdentifySource(r.state, path, r.openFailed, r.tooSmall);
  if (r.type != Analyzer::Unknown && r.type != Analyzer::Glimmerhollow) {
    bool failed = false;
    r.topology = DetermineTopology(r.state, r.type, path, failed);
    EXPECT_FALSE(failed) << path;
  }
  return r;
}

Result ExamineBytes(const TempDir& dir, const std::string& name, const Bytes& f) {
  WriteFileBytes(dir.path(name), f.v);
  return Examine(dir.path(name));
}

// Compresses the bytes followed by noise, so that the compressed file is not
// itself too small to be looked at.
void WriteGzip(const std::string& path, std::vector<uint8_t> bytes) {
  const std::vector<uint8_t> noise = Noise(256);
  bytes.insert(bytes.end(), noise.begin(), noise.end());
  WriteGzipFile(path, bytes);
}

// ---- fixtures of the formats ----

// Classic packet file header (big-endian), 50 bytes, then one version 7 record.
Bytes ClassicPacketFile(uint8_t version, uint32_t mediaType, uint32_t medium, uint8_t appMajor,
                          uint32_t linkSpeed) {
  Bytes f = Bytes().zeros(50);
  f.at(0).u8(version).at(2).be32(50 + 16 + 60).at(6).be32(1);
  f.at(22).be32(mediaType).at(26).be32(medium);
  f.at(33).u8(appMajor).at(34).be32(linkSpeed);
  f.at(52).be16(60).at(54).be16(60);  // one record: length and slice length
  return f.resize(50 + 16 + 60);
}

Bytes Pcap(uint32_t magicLe, uint16_t major, uint32_t linkType) {
  Bytes f = Bytes().zeros(24);
  f.at(0).le32(magicLe).at(4).le16(major).at(6).le16(4).at(16).le32(65535).at(20).le32(linkType);
  return f;
}

// Appends a little-endian record with `extra` bytes of variant header.
void PcapRecord(Bytes& f, uint32_t length, size_t extra) {
  size_t at = f.v.size();
  f.at(at).le32(1700000000).at(at + 4).le32(0).at(at + 8).le32(length).at(at + 12).le32(length);
  f.resize(at + 16 + extra + length);
}

Bytes Snoop(uint8_t datalink, uint32_t recordPadding) {
  Bytes f;
  f.at(0).text(std::string("snoop\0\0\0", 8)).at(8).be32(2).at(12).be32(datalink);
  const uint32_t included = 60;
  f.at(16).be32(60).at(20).be32(included).at(24).be32(24 + included + recordPadding);
  return f.resize(16 + 24 + included + recordPadding);
}

Bytes SnifferPro(uint32_t network, uint32_t speed, uint16_t wanSubtype = 0) {
  Bytes f = Bytes().zeros(128);
  f.at(0).text("XCP").at(4).text("002.001").at(24).le32(128).at(44).le32(network).at(60).le32(
      speed);
  return f.at(84).le16(wanSubtype);
}

// Sniffer DOS: signature, version record, a record that is passed over,
// then optional line record.
Bytes SnifferDos(uint8_t network, bool lineRecord, uint32_t speed, uint32_t protocol,
                   uint16_t passedOver = 4) {
  Bytes f;
  f.at(0).text("TRSNIFF data    \x1A").at(17).le16(1).at(19).le16(18);
  f.at(23).le16(1).at(25).le16(16).at(32).u8(network).at(33).u8(1).at(34).u8(4);
  size_t at = 41;
  f.at(at).le16(6).at(at + 2).le16(passedOver).resize(at + 6 + passedOver);
  at += 6 + passedOver;
  if (lineRecord) {
    f.at(at).le16(7).at(at + 2).le16(8).at(at + 6).le32(speed).at(at + 10).le32(protocol);
    at += 14;
  }
  f.at(at).le16(3).at(at + 2).le16(0);  // end of file
  return f.resize(at + 6);
}

// ---------------------------------------------------------------- tests

TEST(IdentifySize, ThirtyNineBytesAreTooSmallFortyAreExamined) {
  TempDir dir;
  Result small = ExamineBytes(dir, "a.cap", Bytes().zeros(39));
  EXPECT_TRUE(small.tooSmall);
  EXPECT_EQ(small.type, Analyzer::Unknown);
  EXPECT_EQ(small.state.sourceFileSize, 39);
  Result forty = ExamineBytes(dir, "b.cap", Bytes().zeros(40));
  EXPECT_FALSE(forty.tooSmall);
  EXPECT_FALSE(forty.openFailed);
  EXPECT_EQ(forty.type, Analyzer::Unknown);
  Result empty = ExamineBytes(dir, "c.cap", Bytes().zeros(0));
  EXPECT_TRUE(empty.tooSmall);
}

TEST(IdentifySize, DirectoriesAndMissingFilesFailToOpen) {
  TempDir dir;
  for (const std::string& path : {dir.dir(), dir.path("missing.cap")}) {
    ConversionState s;
    bool openFailed = false, tooSmall = false;
    EXPECT_EQ(IdentifySource(s, path, openFailed, tooSmall), Analyzer::Unknown);
    EXPECT_TRUE(openFailed) << path;
    EXPECT_FALSE(tooSmall);
    openFailed = false;
    EXPECT_EQ(DetermineTopology(s, Analyzer::Tcpdump, path, openFailed), Topo::Unknown);
    EXPECT_TRUE(openFailed) << path;
  }
}

TEST(IdentifyPcap, MagicsSetTheVariantFlagsEveryTime) {
  TempDir dir;
  struct Case {
    uint32_t magic;
    bool swapped, modified;
  } cases[] = {{0xD4C3B2A1, true, false}, {0xA1B2CD34, false, true}, {0x34CDB2A1, true, true}};
  for (const Case& c : cases) {
    Bytes f = Pcap(c.magic, 2, 1);
    if (c.swapped) f.at(4).be16(2).at(20).be32(1);
    ConversionState earlier;
    earlier.sourceVariant = PcapVariant::Nokia;  // left over from an earlier file
    if (!c.modified) earlier.sourceVariant |= PcapVariant::Modified;
    if (!c.swapped) earlier.sourceVariant |= PcapVariant::BigEndian;
    WriteFileBytes(dir.path("t.dmp"), f.resize(100).v);
    Result r = Examine(dir.path("t.dmp"), earlier);
    ASSERT_EQ(r.type, Analyzer::Tcpdump) << std::hex << c.magic;
    EXPECT_EQ((r.state.sourceVariant & PcapVariant::BigEndian) != 0, c.swapped);
    EXPECT_EQ((r.state.sourceVariant & PcapVariant::Modified) != 0, c.modified);
    EXPECT_FALSE(r.state.sourceVariant & PcapVariant::Nokia);
    EXPECT_EQ(r.topology, Topo::Ethernet);
  }
  // Major version 1 fails the version check, and no later rule is tried.
  EXPECT_EQ(ExamineBytes(dir, "v.dmp", Pcap(0xA1B2C3D4, 1, 1).resize(100)).type, Analyzer::Unknown);
}

TEST(IdentifyPcap, RecordProbeChoosesStandardModifiedNokiaOrUnknown) {
  TempDir dir;
  // Records with 0, 8 (modified) or 4 (Nokia) bytes of variant header.
  for (auto [extra, variant] : {std::pair<size_t, uint32_t>{0, 0}, {8, PcapVariant::Modified},
                                {4, PcapVariant::Nokia}}) {
    Bytes f = Pcap(0xA1B2C3D4, 2, 1);
    PcapRecord(f, 60, extra);
    PcapRecord(f, 70, extra);
    Result r = ExamineBytes(dir, "s.dmp", f);
    EXPECT_EQ(r.type, Analyzer::Tcpdump) << extra;
    EXPECT_EQ(r.state.sourceVariant & (PcapVariant::Modified | PcapVariant::Nokia), variant)
        << extra;
    if (variant == PcapVariant::Nokia) {
      EXPECT_EQ(SourceDisplayName(r.type, r.state.sourceVariant, false),
                "tcpdump/libpcap (Nokia modified)");
    }
  }

  // Neither layout gives a plausible second record.
  Bytes garbage = Pcap(0xA1B2C3D4, 2, 1);
  PcapRecord(garbage, 60, 0);
  garbage.at(108).le32(70000).at(112).le32(70000).resize(300);
  EXPECT_EQ(ExamineBytes(dir, "g.dmp", garbage).type, Analyzer::Unknown);
}

// The same file with its own compression: everything after the version
// record becomes one compressed block of literals (groups of a zero flag
// word and 16 bytes).
Bytes CompressedSnifferDos(const Bytes& plain) {
  Bytes f;
  f.v.assign(plain.v.begin(), plain.v.begin() + 41);
  f.at(35).u8(uint8_t(plain.v[35] | 1));
  std::vector<uint8_t> block;
  for (size_t at = 41; at < plain.v.size(); at += 16) {
    block.insert(block.end(), {0, 0});
    block.insert(block.end(), plain.v.begin() + long(at),
                 plain.v.begin() + long(std::min(at + 16, plain.v.size())));
  }
  f.at(41).le16(uint16_t(block.size()));
  f.v.insert(f.v.end(), block.begin(), block.end());
  return f;
}

// A WAN trace whose line record names no protocol, with one frame record.
Bytes SnifferDosWanFrame(std::vector<uint8_t> data) {
  Bytes f = SnifferDos(7, true, 64000, 3);
  size_t at = f.v.size() - 6;  // over the end record
  f.at(at).le16(4).at(at + 2).le16(uint16_t(14 + data.size()));
  f.at(at + 6 + 6).le16(uint16_t(data.size()));
  for (size_t i = 0; i < data.size(); ++i) f.at(at + 6 + 14 + i).u8(data[i]);
  at += 6 + 14 + data.size();
  f.at(at).le16(3).at(at + 2).le16(0);
  return f.resize(at + 6);
}

// An ISDN capture (WAN subtype 6) whose first frame has the given media word
// and first byte.
Bytes SnifferProIsdn(uint32_t media, uint8_t first = 0x0F) {
  Bytes f = SnifferPro(3, 64000, 6);
  const size_t record = 128;
  f.at(16).le32(1).at(record + 8).le16(20).at(record + 10).le16(20).at(record + 24).le32(media);
  return f.at(record + 40).u8(first).resize(record + 40 + 20);
}

// The bytes compressed as WriteGzip does.
Bytes Gzipped(const Bytes& plain) {
  TempDir dir;
  WriteGzip(dir.path("z"), plain.v);
  Bytes b;
  b.v = ReadFileBytes(dir.path("z"));
  return b;
}

// A tagged packet file: version and session sections, an empty packets section.
Bytes TaggedPacketFile(int mediaType, int mediaSubType, uint32_t linkSpeed) {
  const std::string version =
      "<VersionInfo><FileVersion>9</FileVersion><AppVersion>5.4.0.1</AppVersion>"
      "<ProdVersion>1.0.0.0</ProdVersion></VersionInfo>\r\n";
  const std::string session =
      "<Session><RawTime> </RawTime><Time> </Time><MediaType>" + std::to_string(mediaType) +
      "</MediaType><MediaSubType>" + std::to_string(mediaSubType) +
      "</MediaSubType><TimeZoneBias>0</TimeZoneBias><LinkSpeed>" + std::to_string(linkSpeed) +
      "</LinkSpeed><PacketCount>       0</PacketCount></Session>\r\n";
  Bytes f;
  size_t at = 0;
  f.at(at).text("\x7Fver").at(at + 4).le32(uint32_t(version.size())).at(at + 8).le32(512);
  f.at(at + 12).text(version);
  at += 12 + version.size();
  f.at(at).text("sess").at(at + 4).le32(uint32_t(session.size())).at(at + 8).le32(512);
  f.at(at + 12).text(session);
  at += 12 + session.size();
  f.at(at).text("pkts").at(at + 4).le32(0).at(at + 8).le32(0);
  return f.resize(at + 12);
}

// A LAN900 file: the header page and one page of frame records.
Bytes Lan900(uint8_t mediaCode, size_t size) {
  Bytes f;
  f.at(0).u8(3).at(1).u8(0x94).at(2).u8(8).at(3).u8(2).at(40).le16(1).at(42).le16(1).at(44).le16(1);
  f.at(8238).le16(1);
  const size_t page = 65536;
  f.at(page).u8(0x82).at(page + 1).u8(mediaCode).at(page + 2).le16(62).at(page + 12).le16(64);
  return f.resize(size);
}

// ---- header fields to type, topology, speed and protocol ----

Bytes InternetAdvisorHeader(uint32_t media) {
  return Bytes().zeros(128).at(0).text("HPDATA0\x1A").at(8).le32(1).at(20).le32(32768).at(24)
      .le32(media).end();
}

Bytes ObserverHeader(uint8_t media) {
  return Bytes().at(0).text("ObserverPktBufferVersion=4.00").at(113).le32(0x88888888).at(133)
      .le32(media).resize(200);
}

Bytes NetMetrixHeader(uint32_t media) {
  return Bytes().at(0).be32(0x6476).at(4).be32(4).at(16).be32(64).at(64 + 92).be32(media)
      .resize(64 + 144);
}

// Six records, then the seventh: the summary with its media code.
Bytes LanAlyzerHeader(uint16_t code) {
  Bytes f;
  const uint16_t types[] = {0x1001, 0x1006, 0x100B, 0x1035, 0x1036, 0x100A};
  const uint16_t lengths[] = {76, 128, 54, 144, 54, 266};
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    f.at(at).le16(types[i]).at(at + 2).le16(lengths[i]).resize(at + 4 + lengths[i]);
    at += 4 + lengths[i];
  }
  return f.at(at).le16(0x1002).at(at + 2).le16(210).at(at + 4 + 188).le16(code).resize(at + 214);
}

Bytes Da30Header(uint32_t code) {
  return Bytes().at(0).text("EXRS").at(22).le32(78).at(78 + 4).le32(code).resize(300);
}

Bytes DataGlanceHeader(uint8_t media) {
  return Bytes().at(0).text("Converted From x\x1A").at(128).le16(517).at(130).u8(media)
      .resize(512);
}

Bytes FireBerdHeader(std::vector<uint8_t> data) {
  Bytes f;
  f.at(2).text(std::string("ProbeApps\0", 10)).at(72).le32(1).at(76).le16(60);
  for (size_t i = 0; i < data.size(); ++i) f.at(86 + i).u8(data[i]);
  return f.resize(146);
}

Bytes DominoHeader(uint16_t code, uint16_t subCode) {
  Bytes f;
  f.at(0).text("WINC").at(4).text("\nDomino capture").at(44).u8(1);
  f.at(62).le16(code).at(64).le16(subCode);
  return f.at(78).text("FRAM").at(82).le32(0).at(86).text("STOP").resize(238);
}

// A header and what identification must learn from it; an empty field is
// not looked at.
struct HeaderRow {
  const char* name;  // its suffix takes part
  Bytes file;
  std::optional<AnalyzerType> type;
  std::optional<Topology> topology = {};
  std::optional<uint32_t> speed = {}, fileSpeed = {}, wan = {};
  std::optional<bool> compressed = {};
  std::optional<std::string> comment = {};
};

void ExpectHeaderRows(const std::vector<HeaderRow>& rows) {
  TempDir dir;
  for (size_t i = 0; i < rows.size(); ++i) {
    const HeaderRow& row = rows[i];
    SCOPED_TRACE(testing::Message() << "row " << i << ", " << row.name);
    Result r = ExamineBytes(dir, row.name, row.file);
    if (row.type) { EXPECT_EQ(r.type, *row.type); }
    if (row.topology) { EXPECT_EQ(r.topology, *row.topology); }
    if (row.speed) { EXPECT_EQ(r.state.lineSpeed, *row.speed); }
    if (row.fileSpeed) { EXPECT_EQ(r.state.fileLineSpeed, *row.fileSpeed); }
    if (row.wan) { EXPECT_EQ(r.state.wanProtocol, *row.wan); }
    if (row.compressed) { EXPECT_EQ(r.state.sourceCompressed, *row.compressed); }
    if (row.comment) { EXPECT_EQ(r.state.fileComment, *row.comment); }
  }
}

constexpr uint32_t k10M = 10000000, k100M = 100000000, k1G = 1000000000;

TEST(IdentifyHeaders, SnifferProNetworkSpeedAndWanSubtype) {
  const AnalyzerType pro = Analyzer::SnifferPro;
  const bool reader = HasReader(pro);
  const auto landesk = [](uint8_t mark) {
    return SnifferPro(0, k10M).at(100).u8(0x1A).at(101).u8(0).at(40).u8(mark).end();
  };
  ExpectHeaderRows({
      {"s.cap", SnifferPro(0, 100), pro, Topo::Ethernet, k100M, k100M},  // megabits
      {"s.cap", SnifferPro(0, 24), pro, Topo::Ethernet, 24, 24},  // a multiple of 12 stays
      {"s.cap", SnifferPro(0, 10000), pro, Topo::Ethernet, 10000, 10000},  // bits from 10,000 on
      {"s.cap", SnifferPro(0, k1G), pro, Topo::Ethernet, k1G, k1G},
      {"s.cap", SnifferPro(0, k1G + 1), pro, Topo::Ethernet, k10M, k10M},  // absurd: 10 Mbit/s
      {"s.cap", SnifferPro(0, 5000), pro, Topo::Ethernet, k10M, k10M},  // 5,000 Mbit/s: absurd too
      {"s.cap", SnifferPro(1, 0), pro, Topo::TokenRing, 16000000, 0},
      {"s.cap", SnifferPro(2, 0), pro, Topo::Fddi, k100M, 0},
      {"s.cap", SnifferPro(9, 0), pro, Topo::Wireless, 11000000, 0},
      {"s.cap", SnifferPro(5, 0), pro, Topo::Unknown, 0, 0},
      {"s.cap", SnifferPro(5, 100), pro, Topo::Ethernet, k100M, k100M},  // unknown at 100 Mbit/s
      {"w.cap", SnifferPro(3, 1544000, 0), pro, Topo::Wan, {}, {}, Wan::Ppp},
      {"w.cap", SnifferPro(3, 1544000, 4), pro, Topo::Wan, {}, {}, Wan::FrameRelay},
      {"w.cap", SnifferPro(3, 1544000, 7), pro, Topo::Wan, {}, {}, Wan::Sdlc},
      {"w.cap", SnifferPro(3, 1544000, 8), pro, Topo::Wan, {}, {}, Wan::X25},
      {"w.cap", SnifferPro(3, 1544000, 99), pro, Topo::Wan, {}, {}, Wan::NotKnown},
      // Subtype 6 needs the first frame, read by the SnifferPro reader: PPP
      // when its media word says so.
      {"i.cap", SnifferPro(3, 64000, 6), pro, {}, {}, {}, reader ? Wan::Isdn : Wan::NotKnown},
      {"i.cap", SnifferProIsdn(0x0108), pro, Topo::Wan, {}, {}, reader ? Wan::Ppp : Wan::NotKnown},
      {"i.cap", SnifferProIsdn(0x0109), pro, Topo::Wan, {}, {}, reader ? Wan::Ppp : Wan::NotKnown},
      {"i.cap", SnifferProIsdn(0x1818), pro, Topo::Wan, {}, {}, reader ? Wan::Isdn : Wan::NotKnown},
      {"i.cap", SnifferProIsdn(0), pro, Topo::Wan, {}, {}, reader ? Wan::Isdn : Wan::NotKnown},
      {"i.cap", SnifferProIsdn(0, 0xFF), pro, Topo::Wan, {}, {}, reader ? Wan::Ppp : Wan::NotKnown},
      // An XCP file named .cap is SnifferPro unless LANDesk's marks are there.
      {"TRACE.CAP", SnifferPro(0, k10M), pro},
      {"TRACE2.CAP", landesk(1), Analyzer::LanDesk},
      {"trace3.cap", landesk(3), Analyzer::LanDesk},
      {"trace4.cap", landesk(2), pro},
      {"trace5.bfr", landesk(1), pro},
  });
}

// Compressed sources are read through gzip where the suffix says so. The
// packet file's compressed suffix takes the type from the media words or
// the session, and ends the search as unknown for anything else, even when
// a later rule would have matched the plain bytes.
TEST(IdentifyHeaders, CompressedSources) {
  const auto kvz = [](uint32_t media, uint32_t medium) {
    return Gzipped(ClassicPacketFile(7, media, medium, 1, 0));
  };
  ExpectHeaderRows({
      {"t.caz", Gzipped(SnifferPro(1, 4)), Analyzer::SnifferPro, Topo::TokenRing, 4000000, {}, {},
       true},
      {"u.caz", Gzipped(Bytes().zeros(200).at(0).text("GMBU").end()), Analyzer::Unknown},
      {"t.kvz", kvz(0, 0), Analyzer::Ostrawind, {}, {}, {}, {}, true},
      {"t.kvz", kvz(1, 0), Analyzer::Ringstave, {}, {}, {}, {}, true},
      {"t.kvz", kvz(0, 1), Analyzer::Skavelin, {}, {}, {}, {}, true},
      {"t.kvz", kvz(5, 0), Analyzer::Unknown},
      {"t.kvz", kvz(5, 2), Analyzer::Skavelin, {}, {}, {}, {}, true},
      {"g.kvz", Gzipped(ClassicPacketFile(0x87, 0, 0, 1, 0)), Analyzer::Unknown},
      {"p.kvz", SnifferPro(0, 0), Analyzer::Unknown},
      {"t.kvz", Gzipped(TaggedPacketFile(12, 10, 0)), Analyzer::Farrowe, Topo::TSeries, {}, {},
       Wan::Isdn, true},
  });
  EXPECT_EQ(SourceDisplayName(Analyzer::SnifferPro, 0, true), "NAI SnifferPro (compressed)");
}

// Record padding makes snoop, a trailer makes Surveyor; the datalink type
// gives topology and speed.
TEST(IdentifyHeaders, SnoopPaddingAndDatalinkType) {
  const AnalyzerType snoop = Analyzer::Snoop;
  ExpectHeaderRows({
      {"a.snoop", Snoop(4, 0), snoop},
      {"b.snoop", Snoop(4, 15), snoop},
      {"c.cap", Snoop(4, 16), Analyzer::Surveyor},
      {"d.cap", Snoop(4, 19), Analyzer::Surveyor},
      {"t.snoop", Snoop(0, 0), {}, Topo::Ethernet, k10M},
      {"t.snoop", Snoop(4, 0), {}, Topo::Ethernet, k10M},
      {"t.snoop", Snoop(2, 0), {}, Topo::TokenRing, 16000000},
      {"t.snoop", Snoop(8, 0), {}, Topo::Fddi, k100M},
      {"t.snoop", Snoop(10, 0), {}, Topo::Ethernet, k100M},
      {"t.snoop", Snoop(12, 0), {}, Topo::Ethernet, k1G},
      {"t.snoop", Snoop(7, 0), {}, Topo::Unknown, 0},
  });
}

// The network code, the line record (plain or behind the file's own
// compression and leading records of any length) and the compression bit.
TEST(IdentifyHeaders, SnifferDosNetworkLineRecordAndCompression) {
  const AnalyzerType dos = Analyzer::SnifferDos;
  const bool reader = HasReader(dos);
  Bytes compressed = SnifferDos(1, false, 0, 0);
  compressed.at(35).u8(1);
  Bytes nse = SnifferDos(1, false, 0, 0);
  nse.at(0).text("NSE");
  ExpectHeaderRows({
      {"a.enc", SnifferDos(1, true, k100M, 3), dos, Topo::Ethernet, k100M, {}, {}, false},
      {"b.enc", SnifferDos(3, true, 12345, 3), {}, {}, k10M},
      {"c.trc", SnifferDos(0, true, 0, 3), {}, Topo::TokenRing, 4000000},
      {"d.trc", SnifferDos(0, true, 1, 3), {}, {}, 16000000},
      {"e.fdc", SnifferDos(9, false, 0, 0), {}, Topo::Fddi},
      {"f.enc", SnifferDos(2, false, 0, 0), {}, Topo::Unused2},
      // An unknown network at 100 Mbit/s is taken as Ethernet.
      {"g.enc", SnifferDos(5, true, k100M, 3), {}, Topo::Ethernet},
      {"h.enc", SnifferDos(5, true, 64000, 3), {}, Topo::Unknown},
      {"i.enc", compressed, {}, {}, {}, {}, {}, true},
      {"j.enc", nse, dos},
      {"w.syc", SnifferDos(7, true, 1544000, 0), {}, Topo::Wan, 1544000, {}, Wan::Sdlc},
      {"w.syc", SnifferDos(7, true, 1544000, 1), {}, Topo::Wan, 1544000, {}, Wan::X25},
      {"w.syc", SnifferDos(7, true, 1544000, 2), {}, Topo::Wan, 1544000, {}, Wan::FrameRelay},
      {"w.syc", CompressedSnifferDos(SnifferDos(7, true, 1544000, 2)), {}, Topo::Wan, 1544000, {},
       Wan::FrameRelay, true},
      {"e.enc", CompressedSnifferDos(SnifferDos(1, true, k100M, 3)), {}, Topo::Ethernet, {}, k100M},
      {"f.enc", SnifferDos(1, true, k100M, 3, 9000), {}, {}, k100M},
      {"g.enc", CompressedSnifferDos(SnifferDos(0, true, 0, 3, 9000)), {}, Topo::TokenRing,
       4000000},
      // A line record naming no protocol: the first frame tells, when there is a reader.
      {"w.syc", SnifferDosWanFrame({0xFF, 0x03, 0xC0, 0x21, 1, 2, 3, 4}), {}, Topo::Wan, {}, {},
       reader ? Wan::Ppp : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0x02, 0x01, 0x03, 0x08, 1, 2, 3, 4}), {}, Topo::Wan, {}, {},
       reader ? Wan::Isdn : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0x03, 0x03, 0x03, 0x08, 1, 2, 3, 4}), {}, Topo::Wan, {}, {},
       reader ? Wan::Hdlc : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0x02, 0x02, 0x03, 0x08, 1, 2, 3, 4}), {}, Topo::Wan, {}, {},
       reader ? Wan::Hdlc : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0xFF, 0x03, 0x00}), {}, Topo::Wan, {}, {},
       reader ? Wan::Ppp : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0x02, 0x01, 0x00}), {}, Topo::Wan, {}, {},
       reader ? Wan::Isdn : Wan::NotKnown},
      {"w.syc", SnifferDosWanFrame({0x03, 0x01, 0x00}), {}, Topo::Wan, {}, {},
       reader ? Wan::Hdlc : Wan::NotKnown},
  });
}

TEST(IdentifyHeaders, PacketFileVersionSuffixTopologyAndSpeed) {
  const AnalyzerType fw = Analyzer::Farrowe;
  ExpectHeaderRows({
      {"x.skc", ClassicPacketFile(7, 0, 1, 1, 0), Analyzer::Skavelin},
      {"x.pkt", ClassicPacketFile(7, 0, 1, 1, 0), Analyzer::Ostrawind},
      {"x.rgc", ClassicPacketFile(6, 0, 1, 1, 0), Analyzer::Ringstave},
      {"x.pkt", ClassicPacketFile(0x87, 0, 1, 1, 0), Analyzer::Glimmerhollow},
      {"x.skc", ClassicPacketFile(0x86, 0, 1, 1, 0), Analyzer::Glimmerhollow},
      {"x.pkt", ClassicPacketFile(5, 0, 1, 1, 0), Analyzer::Unknown},
      {"x.dat", ClassicPacketFile(7, 0, 1, 1, 0), Analyzer::Unknown},
      {"e.pkt", ClassicPacketFile(7, 0, 0, 0, k100M), {}, Topo::Ethernet, {}, k100M},
      {"r.rgc", ClassicPacketFile(7, 1, 0, 0, 0), {}, Topo::TokenRing, 16000000},
      {"w.skc", ClassicPacketFile(7, 0, 1, 1, 0), {}, Topo::Wireless, 11000000},
      // Captures of the wireless analyzer before version 1.1 are refused,
      // also when the header states a typical Ethernet speed.
      {"o.skc", ClassicPacketFile(7, 0, 1, 0, 0), {}, Topo::Unknown},
      {"t.skc", ClassicPacketFile(7, 0, 1, 0, k10M), {}, Topo::Unknown},
      // Tagged files take analyzer and link from the session.
      {"t.kvc", TaggedPacketFile(0, 0, 1544000), Analyzer::Ostrawind, Topo::Ethernet, {}, 1544000,
       Wan::NotKnown},
      {"t.kvc", TaggedPacketFile(1, 0, 1544000), Analyzer::Ringstave, Topo::TokenRing, {}, 1544000,
       Wan::NotKnown},
      {"t.kvc", TaggedPacketFile(9, 3, 1544000), Analyzer::Skavelin, Topo::Wireless, {}, 1544000,
       Wan::NotKnown},
      {"t.kvc", TaggedPacketFile(12, 5, 1544000), fw, Topo::TSeries, {}, 1544000, Wan::FrameRelay},
      {"t.kvc", TaggedPacketFile(12, 6, 1544000), fw, Topo::TSeries, {}, 1544000, Wan::X25},
      {"t.kvc", TaggedPacketFile(12, 10, 1544000), fw, Topo::TSeries, {}, 1544000, Wan::Isdn},
      {"t.kvc", TaggedPacketFile(3, 7, 1544000), fw, Topo::Unknown, {}, 1544000, Wan::NotKnown},
      {"t.kvc", TaggedPacketFile(0, 9, 1544000), fw, Topo::Unknown, {}, 1544000, Wan::NotKnown},
      {"t.kvc", TaggedPacketFile(2, 0, 1544000), Analyzer::Unknown},
  });
}

TEST(IdentifyHeaders, MediaCodesOfTheOtherAnalyzers) {
  const AnalyzerType ia = Analyzer::InternetAdvisor, obs = Analyzer::Observer;
  const AnalyzerType nmx = Analyzer::NetMetrix, lz = Analyzer::LanAlyzer;
  const AnalyzerType da30 = Analyzer::Da30, dg = Analyzer::DataGlance, fb = Analyzer::FireBerd500;
  Bytes lzCyclic = Bytes().zeros(100).at(0).le16(0x1007).at(2).le16(60000);  // length past the end
  Bytes dgWrapped = Bytes().at(130).u8(3).at(131).u8(2).resize(512);
  Bytes dgPlain = Bytes().at(130).u8(3).resize(512);
  ExpectHeaderRows({
      {"t.eth", InternetAdvisorHeader(1), ia, Topo::Ethernet, k10M, k10M},
      {"t.eth", InternetAdvisorHeader(8), ia, Topo::Ethernet, k10M, k10M},
      {"t.eth", InternetAdvisorHeader(7), ia, Topo::Ethernet, k100M, k100M},
      {"t.eth", InternetAdvisorHeader(3), ia, Topo::TokenRing, 4000000, 4000000},
      {"t.eth", InternetAdvisorHeader(4), ia, Topo::TokenRing, 16000000, 16000000},
      {"t.eth", InternetAdvisorHeader(6), ia, Topo::Unknown, 0, 0},
      {"t.bfr", ObserverHeader(0), obs, Topo::Ethernet, k10M},
      {"t.bfr", ObserverHeader(1), obs, Topo::TokenRing, 16000000},
      {"t.bfr", ObserverHeader(2), obs, Topo::Fddi, k100M},
      {"t.bfr", ObserverHeader(9), obs, Topo::Wireless, 11000000},
      {"t.bfr", ObserverHeader(3), obs, Topo::Unknown, 0},
      // A header cut before the media byte tells nothing.
      {"c.bfr", Bytes().at(0).text("ObserverPktBufferVersion=4.00").resize(120), {}, Topo::Unknown},
      {"t.trc", NetMetrixHeader(0), nmx, Topo::Ethernet},
      {"t.trc", NetMetrixHeader(44), nmx, Topo::Ethernet},
      {"t.trc", NetMetrixHeader(1), nmx, Topo::TokenRing},
      {"t.trc", NetMetrixHeader(2), nmx, Topo::Fddi},
      {"t.trc", NetMetrixHeader(3), nmx, Topo::Unknown},
      {"o.trc", Bytes().at(0).be32(0x6476).at(4).be32(3).at(8).text("HPDATA0").resize(100),
       Analyzer::Unknown},
      {"t.tr1", LanAlyzerHeader(226), lz, Topo::Ethernet},
      {"t.tr1", LanAlyzerHeader(227), lz, Topo::TokenRing},
      {"t.tr1", LanAlyzerHeader(228), lz, Topo::TokenRing},
      {"t.tr1", LanAlyzerHeader(229), lz, Topo::Unknown},
      {"c.tr1", lzCyclic, lz, Topo::Unknown},
      {"t.an1", Da30Header(30), da30, Topo::TokenRing},
      {"t.an1", Da30Header(40), da30, Topo::Ethernet},
      {"t.an1", Da30Header(41), da30, Topo::Unknown},
      {"t.dgc", DataGlanceHeader(1), dg, Topo::Fddi},
      {"t.dgc", DataGlanceHeader(2), dg, Topo::TokenRing},
      {"t.dgc", DataGlanceHeader(3), dg, Topo::Ethernet},
      {"w.dgc", dgWrapped, Analyzer::Unknown},
      {"w.dat", dgPlain, Analyzer::Unknown},
      {"t.pkt", FireBerdHeader({0x00, 0x20, 0x30}), fb, Topo::Ethernet},
      {"t.pkt", FireBerdHeader({0xFF, 0xFF, 0xFF}), fb, Topo::Ethernet},
      {"t.pkt", FireBerdHeader({0x10, 0x00, 90}), fb, Topo::Ethernet},
      {"t.pkt", FireBerdHeader({0x10, 0x00, 93}), fb, Topo::Ethernet},
      {"t.pkt", FireBerdHeader({0x10, 0x00, 0xE0}), fb, Topo::Ethernet},
      {"t.pkt", FireBerdHeader({0x10, 0x00, 91}), fb, Topo::TokenRing},
      {"t.pkt", FireBerdHeader({0x10, 0x40, 90}), fb, Topo::TokenRing},
      {"t.pkt", FireBerdHeader({0x18, 0x00, 90}), fb, Topo::TokenRing},
      {"t.trc", Bytes().zeros(200).at(20).text("pktcapKahala Systems     ").end(),
       Analyzer::FireBerdDna323, Topo::Ethernet},
      {"t.dat", Bytes().zeros(200).at(0).text("NetScout Frame File\n").at(78).be16(2).end(),
       Analyzer::NetScout, Topo::Fddi},
      {"t.cap", Bytes().zeros(200).at(10).u8(0x1A).at(11).u8(0).at(40).le16(3).end(),
       Analyzer::LanDesk, Topo::TokenRing},
  });
}

// The media and sub-media codes name topology, speed and protocol when
// there is a reader to convert with; the text names LinkView PRO.
TEST(IdentifyHeaders, DominoCodesAndLinkViewText) {
  const bool reader = HasReader(Analyzer::Domino);
  const auto domino = [&](uint16_t code, uint16_t subCode, Topology topology, uint32_t speed,
                          uint32_t wan) {
    const auto known = [&](uint32_t v) { return reader ? std::optional(v) : std::nullopt; };
    return HeaderRow{"t.cap", DominoHeader(code, subCode), Analyzer::Domino,
                     reader ? topology : Topo::Unknown, known(speed), {}, known(wan), {},
                     "Domino capture"};
  };
  Bytes linkView = Bytes().at(0).text("WINC").at(4).text("XLinkView PRO trace").end();
  linkView.at(62).le16(4).resize(238);
  ExpectHeaderRows({
      domino(4, 0, Topo::Ethernet, k10M, Wan::NotKnown),
      domino(880, 0, Topo::Ethernet, k100M, Wan::NotKnown),
      domino(936, 0, Topo::Ethernet, k1G, Wan::NotKnown),
      domino(739, 4, Topo::Ethernet, k10M, Wan::NotKnown),
      domino(739, 6, Topo::TokenRing, 16000000, Wan::NotKnown),
      domino(739, 5, Topo::Unknown, 0, Wan::NotKnown),
      domino(313, 0, Topo::Fddi, k100M, Wan::NotKnown),
      domino(361, 278, Topo::TSeries, 0, Wan::FrameRelay),
      domino(360, 333, Topo::ESeries, 0, Wan::Isdn),
      domino(359, 14, Topo::VSeries, 0, Wan::Sdlc),
      domino(939, 0, Topo::AtmDs3, 0, Wan::NotKnown),
      domino(941, 240, Topo::Wan19, 0, Wan::NotKnown),
      domino(1000, 0, Topo::Unknown, 0, Wan::NotKnown),
      {"l.cap", linkView, Analyzer::LinkViewPro, {}, {}, {}, {}, {}, "LinkView PRO trace"},
  });
}

// The MAC type and the comment of NetMon files (a comment longer than the
// window's box is cut, not refused); LAN900's size, suffix and signature.
TEST(IdentifyHeaders, NetMonCommentAndLan900Size) {
  Bytes netmon = Bytes().zeros(128).at(0).text("GMBU").at(4).u8(0).at(5).u8(2).at(6).u8(2).end();
  netmon.at(40).le32(128).at(44).le32(14).at(128).text("weekly capture");
  Bytes longer = Bytes().zeros(128).at(0).text("RTSS").at(6).u8(1).at(40).le32(128).end();
  longer.at(44).le32(1000).at(128).text(std::string(1000, 'x'));
  const Topology lan900 = HasReader(Analyzer::Lan900) ? Topo::TokenRing : Topo::Unknown;
  ExpectHeaderRows({
      {"t.cap", netmon, Analyzer::NetMon2, Topo::TokenRing, {}, {}, {}, {}, "weekly capture"},
      {"l.cap", longer, Analyzer::NetMon1, Topo::Ethernet, {}, {}, {}, {}, std::string(300, 'x')},
      {"t.dat", Lan900(6, 131071), Analyzer::Unknown},
      {"t.dat", Lan900(6, 131072), Analyzer::Lan900, lan900},
      {"t.cap", Lan900(6, 131072), Analyzer::Unknown},
  });
}

TEST(IdentifyRobustness, EveryPrefixOfEveryFixtureGetsAnAnswer) {
  TempDir dir;
  Bytes pcap = Pcap(0xA1B2C3D4, 2, 1);
  PcapRecord(pcap, 60, 0);
  PcapRecord(pcap, 60, 0);
  const std::pair<std::string, Bytes> fixtures[] = {
      {"a.dmp", pcap},
      {"b.snoop", Snoop(4, 16)},
      {"c.cap", SnifferPro(3, 64, 6)},
      {"d.enc", SnifferDos(7, true, 0, 3)},
      {"e.pkt", ClassicPacketFile(7, 0, 0, 1, 0)},
      {"f.cap",
       Bytes().zeros(200).at(0).text("GMBU").at(40).le32(0xFFFFFFF0).at(44).le32(0xFFFFFFFF)},
      {"g.tr1", Bytes().zeros(64).at(0).le16(0x1001).at(2).le16(0)},
  };
  for (const auto& [name, fixture] : fixtures) {
    for (size_t n = 0; n <= fixture.v.size(); ++n) {
      Bytes cut = fixture;
      cut.resize(n);
      Result r = ExamineBytes(dir, name, cut);
      // A libpcap header alone is a libpcap file: only a shorter prefix is too small.
      EXPECT_EQ(r.tooSmall, n < (name == "a.dmp" ? 24u : 40u)) << name << " " << n;
      EXPECT_FALSE(r.openFailed) << name << " " << n;
    }
  }
}

TEST(IdentifyRobustness, IdentificationLeavesTheFileUntouched) {
  TempDir dir;
  const std::string path = dir.path("t.caz");
  WriteGzip(path, SnifferPro(3, 64, 6).v);
  const std::vector<uint8_t> before = ReadFileBytes(path);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const auto modified = st.st_mtim;
  Examine(path);
  EXPECT_EQ(ReadFileBytes(path), before);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, modified.tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, modified.tv_nsec);
}

}  // namespace
}  // namespace morph
