// pcapng: files built byte by byte in both byte orders with several sections,
// interfaces, resolutions and every packet block; damaged files and every
// truncation of a good one; the writer's layout and round trips; sources
// that cannot seek and targets that must not; gzip sources; and editcap,
// mergecap, tshark and capinfos as the other side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/failure.h"
#include "engine/identify.h"
#include "engine/streams.h"
#include "engine/targets.h"
#include "formats/da30.h"
#include "formats/domino.h"
#include "formats/fireberd500.h"
#include "formats/lan900.h"
#include "formats/netmon.h"
#include "formats/observer.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

constexpr uint32_t kT0 = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kT0TimeOfDay = int64_t(kT0 % 86400) * 1000000;
const char* const kReadError = "File Error: Error reading from source file.  File may be corrupt.";

// An option of a block: its value is padded to 32 bits.
struct Option {
  uint16_t code;
  std::vector<uint8_t> value;
};

// A block's options in the file's byte order, with the end of options.
Bytes Options(bool big, const std::vector<Option>& options) {
  Bytes b(big);
  for (const Option& o : options)
    b.u16(o.code).u16(uint16_t(o.value.size())).data(o.value).align(4);
  return b.u32(0);
}

std::vector<uint8_t> Chars(const std::string& text) { return {text.begin(), text.end()}; }

// A pcapng file, block by block.
struct PcapngFile {
  bool big = false;
  std::vector<uint8_t> bytes;
  std::vector<size_t> boundaries;  // offsets where a block ends

  Bytes fields() const { return Bytes(big); }
  void append(const Bytes& b) { bytes.insert(bytes.end(), b.v.begin(), b.v.end()); }
  void block(uint32_t type, const Bytes& body) {
    const uint32_t total = uint32_t(12 + body.size());
    append(fields().u32(type).u32(total).data(body.v).u32(total));
    boundaries.push_back(bytes.size());
  }
  void section(const std::string& comment = "", uint16_t major = 1) {
    Bytes body = fields();
    body.u32(kPcapngByteOrderMagic).u16(major).u16(0).u64(~uint64_t(0));
    if (!comment.empty()) body.data(Options(big, {{1, Chars(comment)}}).v);
    block(kPcapngSectionHeader, body);
  }
  void interface(uint16_t linkType, const Bytes& options = {}, uint32_t snap = 0) {
    block(1, fields().u16(linkType).u16(0).u32(snap).data(options.v));
  }
  void packet(uint32_t iface, uint64_t ts, const std::vector<uint8_t>& data, uint32_t original,
              const Bytes& options = {}) {
    Bytes body = fields();
    body.u32(iface).u32(uint32_t(ts >> 32)).u32(uint32_t(ts)).u32(uint32_t(data.size()));
    block(6, body.u32(original).data(data).align(4).data(options.v));
  }
  void simple(const std::vector<uint8_t>& data, uint32_t original) {
    block(3, fields().u32(original).data(data).align(4));
  }
  void obsolete(uint16_t iface, uint64_t ts, const std::vector<uint8_t>& data) {
    Bytes body = fields();
    body.u16(iface).u16(0).u32(uint32_t(ts >> 32)).u32(uint32_t(ts));
    block(2, body.u32(uint32_t(data.size())).u32(uint32_t(data.size())).data(data).align(4));
  }
  void other(uint32_t type, size_t n) {
    block(type, fields().data(std::vector<uint8_t>(n, 0x5A)).align(4));
  }
};

std::vector<uint8_t> Payload(size_t n, uint8_t seed) {
  std::vector<uint8_t> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(seed + i * 5);
  if (n >= 14) p[12] = 0x08, p[13] = 0x00;
  return p;
}

// A source that reads forward only, as a pipe does.
class ForwardOnlySource : public SourceStream {
 public:
  explicit ForwardOnlySource(std::vector<uint8_t> bytes) : inner_(OpenMemorySource(std::move(bytes))) {}
  size_t read(void* b, size_t n) override { return inner_->read(b, n); }
  bool seek(int64_t position) override { return position == inner_->position(); }
  int64_t position() const override { return inner_->position(); }
  int64_t size() const override { return -1; }
  bool atEnd() override { return inner_->atEnd(); }
  bool failed() const override { return false; }

 private:
  std::unique_ptr<SourceStream> inner_;
};

// A target that takes no seek at all, as a pipe does.
class ForwardOnlyTarget : public MemoryTarget {
 public:
  bool seek(int64_t) override {
    ++seeks;
    return false;
  }
  int seeks = 0;
};

// Reads bytes through the pcapng reader from a forward-only source.
ReadResult ReadBytes(const std::vector<uint8_t>& bytes, Topology topology = Topo::Ethernet) {
  ReadResult r;
  MessageRecorder host;
  Conversion c(host);
  c.state.sourceAnalyzer = r.analyzer = Analyzer::Pcapng;
  c.state.targetAnalyzer = Analyzer::AnyAnalyzer;
  c.state.traceTopology = r.topology = topology;
  c.source = std::make_unique<ForwardOnlySource>(bytes);
  c.frameObserver = [&](Conversion& conv) { r.trace.frames.push_back(FrameFromState(conv.state)); };
  c.ConvertTrace(false, 0);
  r.state = c.state;
  r.messages = host.messages;
  return r;
}

// ------------------------------------------------------------ reading

class PcapngByteOrders : public ::testing::TestWithParam<bool> {};

TEST_P(PcapngByteOrders, SectionsInterfacesAndEveryPacketBlock) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.big = GetParam();
  f.section("first section's comment");
  f.interface(1, Options(f.big, {{9, {9}}}));  // nanoseconds
  f.interface(1, Options(f.big, {{9, {0x80 | 10}}}));  // 1/1024 s
  f.other(4, 20);                                                  // name resolution
  f.packet(0, uint64_t(kT0) * 1000000000 + 123456789, Payload(100, 1), 100);
  f.other(0x40000BAD, 7);                                          // custom block
  f.packet(1, uint64_t(kT0 + 1) * 1024 + 512, Payload(60, 2), 60);  // half a second
  f.obsolete(0, uint64_t(kT0 + 2) * 1000000000, Payload(70, 3));
  f.simple(Payload(80, 4), 80);                                    // no time: the last one's
  f.other(5, 24);                                                  // interface statistics
  // A second section in the other byte order starts with no interfaces.
  PcapngFile g;
  g.big = !f.big;
  g.section("second section's comment");
  g.interface(1, Options(g.big, {{14, Bytes(g.big).u64(3600).v}}));  // +1 h
  g.packet(0, uint64_t(kT0) * 1000000 + 7, Payload(90, 5), 1514);
  f.bytes.insert(f.bytes.end(), g.bytes.begin(), g.bytes.end());

  ReadResult r = ReadTraceFrom(f.bytes, "t.pcapng");
  ASSERT_EQ(r.analyzer, Analyzer::Pcapng);
  EXPECT_EQ(r.topology, Topo::Ethernet);
  EXPECT_EQ(r.state.fileComment, "first section's comment");
  EXPECT_TRUE(r.messages.empty());
  EXPECT_FALSE(r.state.status.readError) << r.state.status.readErrorDetail;
  // Whole frames get their FCS counted and rebuilt; the simple packet takes
  // the last time; the truncated frame gets no FCS.
  const int64_t t = kT0TimeOfDay;
  ExpectFrames({FrameOf(t + 123456, 104, WithFcs(Payload(100, 1))),
                FrameOf(t + 1500000, 64, WithFcs(Payload(60, 2))),
                FrameOf(t + 2000000, 74, WithFcs(Payload(70, 3))),
                FrameOf(t + 2000000, 84, WithFcs(Payload(80, 4))),
                FrameOf(t + 3600000000LL + 7, 1518, Payload(90, 5))},
               r.trace);
  EXPECT_TRUE(r.state.time.sourceHasNanoseconds);
}

INSTANTIATE_TEST_SUITE_P(LittleAndBig, PcapngByteOrders, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Big" : "Little"; });

TEST(PcapngRead, TimeResolutionsAndOffsets) {
  ScopedTimeZone tz("UTC");
  struct Case {
    std::vector<uint8_t> resolution;  // empty: the default, microseconds
    int64_t offset;
    uint64_t timestamp;
    int64_t micros;  // from kT0
    int32_t nanos;
  } cases[] = {
      {{}, 0, uint64_t(kT0) * 1000000 + 999999, 999999, 0},
      {{6}, 0, uint64_t(kT0) * 1000000 + 1, 1, 0},
      {{9}, 0, uint64_t(kT0) * 1000000000 + 1234567, 1234, 567},
      {{3}, 0, uint64_t(kT0) * 1000 + 250, 250000, 0},
      {{0}, 0, kT0, 0, 0},
      {{0x80 | 20}, 0, (uint64_t(kT0) << 20) + (1 << 19), 500000, 0},
      {{0x80 | 30}, 0, (uint64_t(kT0) << 30) + 1, 0, 0},  // below a nanosecond
      {{10}, -100, uint64_t(kT0 + 100) * 10000000000ULL + 5000000, 500, 0},
  };
  for (const Case& c : cases) {
    PcapngFile f;
    f.section();
    std::vector<Option> options;
    if (!c.resolution.empty()) options.push_back({9, c.resolution});
    if (c.offset) options.push_back({14, Bytes().u64(uint64_t(c.offset)).v});
    f.interface(1, Options(false, options));
    f.packet(0, c.timestamp, Payload(60, 1), 60);
    ReadResult r = ReadBytes(f.bytes);
    ASSERT_EQ(r.trace.frames.size(), 1u) << r.state.status.readErrorDetail;
    EXPECT_EQ(r.trace.frames[0].time, kT0TimeOfDay + c.micros) << int(c.resolution.size());
    EXPECT_EQ(r.state.frame.frameNanoseconds, c.nanos);
  }
}

TEST(PcapngRead, FcsLengthsDirectionAndErrorFlags) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.section();
  f.interface(1, Options(false, {{13, {4}}}));  // frames end in their FCS
  f.interface(1);
  std::vector<uint8_t> withFcs = Payload(60, 1);
  const uint32_t fcs = FrameCrc32(withFcs.data(), 60) ^ 0xFFFF;  // not what a CRC gives
  for (int k = 0; k < 4; ++k) withFcs.push_back(uint8_t(fcs >> (8 * k)));
  f.packet(0, uint64_t(kT0) * 1000000, withFcs, 64);
  // The packet's own FCS length overrides its interface's.
  f.packet(1, uint64_t(kT0) * 1000000, withFcs, 64,
           Options(false, {{2, Bytes().u32(4 << 5 | 1).v}}));
  f.packet(1, uint64_t(kT0) * 1000000, Payload(60, 3), 60,
           Options(false, {{2, Bytes().u32(2 | 1u << 24).v}}));  // outbound, CRC error
  f.packet(1, uint64_t(kT0) * 1000000, Payload(60, 4), 60,
           Options(false, {{2, Bytes().u32(1u << 28).v}}));  // unaligned
  ReadResult r = ReadBytes(f.bytes);
  ASSERT_EQ(r.trace.frames.size(), 4u) << r.state.status.readErrorDetail;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(r.trace.frames[i].frameLength, 64);
    EXPECT_EQ(r.trace.frames[i].bytes, withFcs) << "the FCS as captured, not rebuilt";
  }
  EXPECT_EQ(r.trace.frames[0].flags, 0);
  EXPECT_EQ(r.trace.frames[1].flags, Flag::Direction1);
  EXPECT_EQ(r.trace.frames[2].flags, Flag::Direction2 | Flag::CrcError);
  EXPECT_EQ(r.trace.frames[3].flags, Flag::AlignmentError | Flag::CrcError);

  // On other media an FCS is dropped, as libpcap records carry none.
  PcapngFile ring;
  ring.section();
  ring.interface(6, Options(false, {{13, {4}}}));
  ring.packet(0, uint64_t(kT0) * 1000000, Payload(40, 5), 40);
  r = ReadBytes(ring.bytes, Topo::TokenRing);
  ASSERT_EQ(r.trace.frames.size(), 1u);
  EXPECT_EQ(r.trace.frames[0].frameLength, 36);
  EXPECT_EQ(r.trace.frames[0].bytes, Payload(36, 5));
}

TEST(PcapngRead, FramesOfEveryInterfaceComeWithTheirOwnLinkType) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.section();
  f.interface(1);
  f.interface(113);
  for (uint32_t k = 0; k < 5; ++k) f.packet(k % 2, uint64_t(kT0 + k) * 1000000, Payload(60, 1), 60);
  ReadResult r = ReadTraceFrom(f.bytes, "mixed.pcapng");
  EXPECT_EQ(r.topology, Topo::Ethernet);
  EXPECT_EQ(r.trace.frames.size(), 5u);
  EXPECT_TRUE(r.messages.empty());
  ASSERT_EQ(r.state.sourceInterfaces.size(), 2u);
  EXPECT_EQ(r.state.sourceInterfaces[1].linkType, 113u);
  EXPECT_EQ(r.state.sourceInterfaces[1].topology, Topo::Unknown);
  // The Linux cooked frames are not Ethernet frames: no FCS is added to them.
  EXPECT_EQ(r.trace.frames[0].frameLength, 64);
  EXPECT_EQ(r.trace.frames[1].frameLength, 60);
}

// A file as our writer lays it out: little-endian, options in the order it
// writes them. Every interface, with name, description, time resolution,
// FCS length and snapshot length, and every packet's interface, flags and
// comment come out of a pcapng target byte for byte after the section header.
PcapngFile InterfacesAsWeWriteThem() {
  PcapngFile f;
  f.section();
  // Ethernet that keeps its FCS, in nanoseconds; Linux cooked in microseconds.
  f.interface(1, Options(false, {{2, Chars("eth0")}, {3, Chars("uplink")}, {9, {9}}, {13, {4}}}),
              1514);
  f.interface(113, Options(false, {{2, Chars("any")}, {9, {6}}}), 9000);
  const auto flags = [](uint32_t value) {
    return std::vector<uint8_t>{uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                uint8_t(value >> 24)};
  };
  f.packet(0, uint64_t(kT0) * 1000000000 + 123456789, WithFcs(Payload(96, 1)), 100);
  f.packet(1, uint64_t(kT0) * 1000000 + 5, Payload(41, 2), 41,
           Options(false, {{1, Chars("first comment")}, {2, flags(1)}}));
  f.packet(1, uint64_t(kT0 + 1) * 1000000 + 7, Payload(30, 3), 70, Options(false, {{2, flags(2)}}));
  f.packet(0, uint64_t(kT0 + 2) * 1000000000 + 999, WithFcs(Payload(60, 4)), 64,
           Options(false, {{1, Chars("second")}, {2, flags(1 | 1u << 24)}}));
  return f;
}

// The bytes of a pcapng file after its first block, the section header.
std::vector<uint8_t> AfterSectionHeader(const std::vector<uint8_t>& file) {
  const size_t first = file.size() >= 8 ? GetLE32(file.data() + 4) : file.size();
  return {file.begin() + long(std::min(first, file.size())), file.end()};
}

TEST(PcapngWrite, InterfacesFlagsAndCommentsPassByteForByte) {
  ScopedTimeZone tz("UTC");
  TempDir dir;
  const PcapngFile f = InterfacesAsWeWriteThem();
  WriteFileBytes(dir.path("in.pcapng"), f.bytes);
  ASSERT_EQ(ConvertByJob(dir.path("in.pcapng"), dir.path("out.pcapng"), Analyzer::Pcapng),
            Outcome::Converted);
  EXPECT_EQ(AfterSectionHeader(ReadFileBytes(dir.path("out.pcapng"))), AfterSectionHeader(f.bytes));
}

// One link type, two interfaces, comments: a libpcap target holds one
// interface and no comment, and says what it could not hold.
TEST(PcapngWrite, InterfacesAndCommentsATargetCannotHoldAreCounted) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.section();
  f.interface(1);
  f.interface(1);
  f.packet(0, uint64_t(kT0) * 1000000, Payload(60, 1), 60, Options(false, {{1, Chars("a")}}));
  f.packet(1, uint64_t(kT0 + 1) * 1000000, Payload(60, 2), 60, Options(false, {{1, Chars("b")}}));
  f.packet(1, uint64_t(kT0 + 2) * 1000000, Payload(60, 3), 60);
  for (AnalyzerType target : {Analyzer::Tcpdump, Analyzer::Pcapng}) {
    SCOPED_TRACE(AnalyzerName(target));
    MessageRecorder host;
    Conversion c(host);
    c.state.sourceAnalyzer = Analyzer::Pcapng;
    c.state.targetAnalyzer = target;
    c.state.traceTopology = Topo::Ethernet;
    c.source = std::make_unique<ForwardOnlySource>(f.bytes);
    c.target = std::make_unique<MemoryTarget>();
    c.ConvertTrace(false, 0);
    EXPECT_EQ(c.state.counters.framesWritten, 3);
    const bool keeps = target == Analyzer::Pcapng;
    EXPECT_EQ(c.state.counters.lost.commentsNotStored, keeps ? 0 : 2);
    EXPECT_EQ(c.state.counters.lost.interfacesNotStored, keeps ? 0 : 1);
  }
}

// An interface of another link type described after frames were written to
// a target of one link type: the conversion stops there with the reason,
// the frames before it written.
TEST(PcapngWrite, ALateInterfaceOfAnotherLinkTypeStopsALibpcapTarget) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.section();
  f.interface(1);
  f.packet(0, uint64_t(kT0) * 1000000, Payload(60, 1), 60);
  f.interface(113);
  f.packet(1, uint64_t(kT0 + 1) * 1000000, Payload(40, 2), 40);
  MessageRecorder host;
  Conversion c(host);
  c.state.sourceAnalyzer = Analyzer::Pcapng;
  c.state.targetAnalyzer = Analyzer::Tcpdump;
  c.state.traceTopology = Topo::Ethernet;
  c.source = std::make_unique<ForwardOnlySource>(f.bytes);
  c.target = std::make_unique<MemoryTarget>();
  c.ConvertTrace(false, 0);
  EXPECT_EQ(c.state.counters.framesWritten, 1);
  EXPECT_TRUE(c.state.status.writeFailed);
  EXPECT_NE(c.state.status.writeErrorDetail.find("interface 1 has link type 113 (Linux cooked)"),
            std::string::npos)
      << c.state.status.writeErrorDetail;
  EXPECT_NE(c.state.status.writeErrorDetail.find("--interface N"), std::string::npos);
}

// A section header alone is a file without frames, not an unknown one.
TEST(PcapngRead, ASectionHeaderAloneHasNoFrames) {
  TempDir dir;
  PcapngFile f;
  f.section("nothing captured");
  WriteFileBytes(dir.path("empty.pcapng"), f.bytes);
  EXPECT_EQ(ConvertByJob(dir.path("empty.pcapng"), dir.path("out.pcap"), Analyzer::Tcpdump),
            Outcome::NoFrames);
  EXPECT_NE(access(dir.path("out.pcap").c_str(), F_OK), 0);
}

// ------------------------------------------------------------ damaged input

PcapngFile OneGoodFrame() {
  PcapngFile f;
  f.section();
  f.interface(1);
  f.packet(0, uint64_t(kT0) * 1000000, Payload(60, 1), 60);
  return f;
}

void AppendHead(PcapngFile& f, uint32_t type, uint32_t length) {
  f.append(f.fields().u32(type).u32(length));
}

TEST(PcapngDamaged, EachEndsWithTheReadErrorAndADetailKeepingFramesBefore) {
  struct Case {
    const char* name;
    std::function<void(PcapngFile&)> damage;
    const char* detail;
  } cases[] = {
      {"block length below the minimum", [](PcapngFile& f) { AppendHead(f, 6, 8); },
       "block length 8 is below the minimum of 12"},
      {"block length not a multiple of 4", [](PcapngFile& f) { AppendHead(f, 4, 30); },
       "block length 30 is not a multiple of 4"},
      {"absurd block length", [](PcapngFile& f) { AppendHead(f, 4, 0xFFFFFFF0); },
       "block length 4,294,967,280 exceeds 16,777,216"},
      {"block past the file end",
       [](PcapngFile& f) {
         f.packet(0, 0, Payload(200, 2), 200);
         f.bytes.resize(f.bytes.size() - 100);
       },
       "record 2 at offset 140: the block of 232 bytes runs past the end of the file"},
      {"option past its block",
       [](PcapngFile& f) {
         f.packet(0, 0, Payload(60, 2), 60, f.fields().u16(2).u16(100).u32(0));
       },
       "option 2 of 100 bytes runs past its block"},
      {"trailing length differs",
       [](PcapngFile& f) {
         f.packet(0, 0, Payload(60, 2), 60);
         f.bytes.back() ^= 0x40;
       },
       "trailing length"},
      {"interface never described", [](PcapngFile& f) { f.packet(5, 0, Payload(60, 2), 60); },
       "a packet of interface 5,"},
      {"captured length above 262,144",
       [](PcapngFile& f) {
         AppendHead(f, 6, 300100);
         f.append(f.fields().u32(0).u32(0).u32(0).u32(300000).u32(300000));
       },
       "captured length 300,000 exceeds 262,144"},
      {"captured length beyond its block",
       [](PcapngFile& f) {
         AppendHead(f, 6, 48);
         f.append(f.fields().u32(0).u32(0).u32(0).u32(100).u32(100).u32(0).u32(0).u32(48));
       },
       "captured length 100 does not fit a block of 48 bytes"},
      {"time resolution out of range",
       [](PcapngFile& f) { f.interface(1, Options(f.big, {{9, {20}}})); },
       "interface time resolution 20 cannot be read"},
      {"absurd interface count",
       [](PcapngFile& f) {
         for (int i = 0; i < 65536; ++i) f.interface(1);
       },
       "more than 65,536 interfaces in one section"},
      {"section without its byte-order magic",
       [](PcapngFile& f) {
         AppendHead(f, kPcapngSectionHeader, 28);
         f.bytes.insert(f.bytes.end(), {1, 2, 3, 4});
       },
       "a section header block without the byte-order magic"},
      {"section of another major version", [](PcapngFile& f) { f.section("", 2); },
       "section version 2.0 cannot be read"},
      {"time beyond the year 9999",
       [](PcapngFile& f) { f.packet(0, ~uint64_t(0), Payload(60, 2), 60); },
       "the time lies outside the years 1970 to 9999"},
      {"time in the first microsecond of the year 10000",
       [](PcapngFile& f) { f.packet(0, 253402300800ULL * 1000000, Payload(60, 2), 60); },
       "the time lies outside the years 1970 to 9999"},
  };
  for (const Case& c : cases) {
    PcapngFile f = OneGoodFrame();
    c.damage(f);
    ReadResult r = ReadBytes(f.bytes);
    EXPECT_EQ(r.trace.frames.size(), 1u) << c.name;
    EXPECT_TRUE(r.state.status.readError) << c.name;
    ASSERT_FALSE(r.messages.empty()) << c.name;
    EXPECT_EQ(r.messages.back(), kReadError) << c.name;
    EXPECT_NE(r.state.status.readErrorDetail.find(c.detail), std::string::npos)
        << c.name << ": " << r.state.status.readErrorDetail;
  }
}

TEST(PcapngDamaged, EveryTruncationOfAGoodFile) {
  ScopedTimeZone tz("UTC");
  PcapngFile f;
  f.section("a comment");
  f.interface(1, Options(f.big, {{9, {9}}, {2, Chars("eth0")}}));
  f.other(4, 16);
  const size_t frames = 4;
  for (uint32_t k = 0; k < frames; ++k)
    f.packet(0, uint64_t(kT0 + k) * 1000000000, Payload(61 + k, uint8_t(k)), 61 + k,
             Options(f.big, {{2, Bytes(f.big).u32(1).v}}));
  f.other(5, 24);
  const std::vector<size_t> packetEnds(f.boundaries.begin() + 3, f.boundaries.begin() + 3 + frames);
  ExpectEveryCut(f.bytes, packetEnds, f.boundaries,
                 [](const std::vector<uint8_t>& part) { return ReadBytes(part); });
}

// ------------------------------------------------------------ writing

struct ParsedBlock {
  uint32_t type;
  std::vector<uint8_t> body;  // between the length and the trailing length
};

std::vector<ParsedBlock> Blocks(const std::vector<uint8_t>& b) {
  std::vector<ParsedBlock> blocks;
  for (size_t at = 0; at + 12 <= b.size();) {
    const uint32_t length = GetLE32(b.data() + at + 4);
    EXPECT_EQ(length % 4, 0u);
    EXPECT_LE(at + length, b.size());
    if (length < 12 || at + length > b.size()) break;
    EXPECT_EQ(GetLE32(b.data() + at + length - 4), length);
    blocks.push_back({GetLE32(b.data() + at), {b.begin() + long(at) + 8, b.begin() + long(at + length) - 4}});
    at += length;
  }
  return blocks;
}

std::map<uint16_t, std::vector<uint8_t>> OptionsOf(const std::vector<uint8_t>& body, size_t from) {
  std::map<uint16_t, std::vector<uint8_t>> options;
  for (size_t at = from; at + 4 <= body.size();) {
    const uint16_t code = GetLE16(body.data() + at), n = GetLE16(body.data() + at + 2);
    if (code == 0) break;
    options[code].assign(body.begin() + long(at) + 4, body.begin() + long(at) + 4 + n);
    at += 4 + ((n + 3u) & ~3u);
  }
  return options;
}

TEST(PcapngWrite, OneSectionOneInterfaceAndEnhancedPackets) {
  ScopedTimeZone tz("UTC");
  TempDir dir;
  Trace t;
  t.frames.push_back(MakeFrame(1000, 64));
  t.frames.push_back(MakeFrame(2000, 1518));
  t.frames.back().flags = Flag::Direction2 | Flag::CrcError;
  t.frames.push_back(MakeFrame(3000, 1518));
  t.frames.back().bytes.resize(100);  // truncated
  WriteTrace(t, Analyzer::Pcapng, dir.path("w.pcapng"),
             [](ConversionState& s) { s.fileComment = "written by a test"; });
  auto blocks = Blocks(ReadFileBytes(dir.path("w.pcapng")));
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0].type, kPcapngSectionHeader);
  EXPECT_EQ(GetLE32(blocks[0].body.data()), kPcapngByteOrderMagic);
  EXPECT_EQ(GetLE16(blocks[0].body.data() + 4), 1);
  auto shb = OptionsOf(blocks[0].body, 16);
  EXPECT_EQ(std::string(shb[1].begin(), shb[1].end()), "written by a test");
  EXPECT_EQ(std::string(shb[4].begin(), shb[4].end()), "Morphalite " MORPHALITE_VERSION);
  EXPECT_EQ(blocks[1].type, 1u);
  EXPECT_EQ(GetLE16(blocks[1].body.data()), 1);  // Ethernet
  auto idb = OptionsOf(blocks[1].body, 8);
  EXPECT_EQ(idb[9], std::vector<uint8_t>{6});
  EXPECT_EQ(idb[13], std::vector<uint8_t>{0});  // written without FCS
  const uint32_t lengths[3][2] = {{60, 60}, {1514, 1514}, {100, 1514}};
  for (int i = 0; i < 3; ++i) {
    const auto& epb = blocks[size_t(2 + i)];
    EXPECT_EQ(epb.type, 6u);
    EXPECT_EQ(GetLE32(epb.body.data() + 12), lengths[i][0]) << i;
    EXPECT_EQ(GetLE32(epb.body.data() + 16), lengths[i][1]) << i;
    auto options = OptionsOf(epb.body, 20 + ((lengths[i][0] + 3) & ~3u));
    if (i == 1) {
      EXPECT_EQ(GetLE32(options[2].data()), 2u | 1u << 24);
    } else {
      EXPECT_TRUE(options.empty()) << i;
    }
  }
}

class PcapngRoundTrip : public ::testing::TestWithParam<Topology> {};

TEST_P(PcapngRoundTrip, FramesComeBackWithTimesFlagsAndBytes) {
  ScopedTimeZone tz("Europe/Berlin");
  TempDir dir;
  Trace t = MakeTrace(GetParam(), 24, 86400LL * 1000000 - 20 * 1500, 1500);  // past midnight
  if (GetParam() != Topo::Ethernet)
    for (size_t i = 0; i < t.frames.size(); i += 3) t.frames[i].flags = uint16_t(1 + i % 2);
  WriteTrace(t, Analyzer::Pcapng, dir.path("rt.pcapng"));
  ReadResult r = ReadTrace(dir.path("rt.pcapng"));
  ASSERT_EQ(r.analyzer, Analyzer::Pcapng);
  EXPECT_EQ(r.topology, GetParam());
  Tolerance tolerance;
  tolerance.compareWireless = GetParam() == Topo::Wireless;
  // The writer dates the trace 2024-03-15; the reader counts from that day.
  EXPECT_EQ(ExpectSameFrames(t, r.trace, tolerance), 0);
}

INSTANTIATE_TEST_SUITE_P(Media, PcapngRoundTrip,
                         ::testing::Values(Topo::Ethernet, Topo::TokenRing, Topo::Fddi,
                                           Topo::Wireless));

TEST(PcapngStreams, ReaderNeverSeeksBackAndWriterNeverSeeks) {
  ScopedTimeZone tz("UTC");
  PcapngFile f = OneGoodFrame();
  f.other(4, 40000);  // passed over by reading, not seeking
  f.packet(0, uint64_t(kT0 + 1) * 1000000, Payload(1500, 2), 1500);
  MessageRecorder host;
  Conversion c(host);
  c.state.sourceAnalyzer = Analyzer::Pcapng;
  c.state.targetAnalyzer = Analyzer::Pcapng;
  c.state.traceTopology = Topo::Ethernet;
  c.source = std::make_unique<ForwardOnlySource>(f.bytes);
  auto target = std::make_unique<ForwardOnlyTarget>();
  ForwardOnlyTarget& out = *target;
  c.target = std::move(target);
  c.ConvertTrace(false, 0);
  EXPECT_FALSE(c.state.status.readError) << c.state.status.readErrorDetail;
  EXPECT_FALSE(c.state.status.writeFailed);
  EXPECT_EQ(c.state.counters.framesWritten, 2);
  EXPECT_EQ(out.seeks, 0);
  EXPECT_EQ(Blocks(out.bytes()).size(), 4u);
}

// ------------------------------------------------------------ gzip

TEST(PcapngGzip, CompressedLibpcapAndPcapngSourcesConvert) {
  ScopedTimeZone tz("UTC");
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 40);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("plain.pcap"));
  WriteTrace(t, Analyzer::Pcapng, dir.path("plain.pcapng"));
  struct Case {
    std::string plain, compressed;
    AnalyzerType analyzer;
    const char* name;
  } cases[] = {
      {"plain.pcap", "a.pcap.gz", Analyzer::Tcpdump, "tcpdump/libpcap (compressed)"},
      {"plain.pcapng", "b.pcapng.gz", Analyzer::Pcapng, "pcapng (compressed)"},
      {"plain.pcapng", "any-name.bin", Analyzer::Pcapng, "pcapng (compressed)"},
  };
  for (const Case& c : cases) {
    WriteGzipFile(dir.path(c.compressed), ReadFileBytes(dir.path(c.plain)));
    ReadResult r = ReadTrace(dir.path(c.compressed));
    EXPECT_EQ(r.analyzer, c.analyzer) << c.compressed;
    EXPECT_TRUE(r.state.sourceCompressed) << c.compressed;
    EXPECT_EQ(SourceDisplayName(r.analyzer, r.state.sourceVariant, r.state.sourceCompressed),
              c.name);
    EXPECT_EQ(ExpectSameFrames(t, r.trace), 0) << c.compressed;
  }
  // A plain file whose name ends in .gz is read as it is.
  ReadResult r = ReadTraceFrom(ReadFileBytes(dir.path("plain.pcapng")), "not-compressed.pcapng.gz");
  EXPECT_EQ(r.analyzer, Analyzer::Pcapng);
  EXPECT_FALSE(r.state.sourceCompressed);
  // Other compressed content is left to the rules that were there.
  WriteGzipFile(dir.path("other.gz"), Noise(4000));
  ConversionState s;
  bool openFailed, tooSmall;
  EXPECT_EQ(IdentifySource(s, dir.path("other.gz"), openFailed, tooSmall), Analyzer::Unknown);
}

// ------------------------------------------------------------ other tools

std::string Convert(const std::string& source, const std::string& code, const std::string& out) {
  CommandResult c = RunCommand(std::string(MORPHALITE_BINARY) + " convert " + source + " --to " +
                               code + " --pcap-order little -o " + out + " --quiet");
  EXPECT_EQ(c.status, 0) << source << " -> " << code << ": " << c.err;
  return out;
}

// tshark's times with the nanoseconds cut to microseconds.
std::string Microseconds(std::string fields) {
  std::string out;
  std::istringstream in(fields);
  for (std::string line; std::getline(in, line);) {
    const size_t dot = line.find('.');
    if (dot != std::string::npos && line.size() > dot + 10) line.replace(dot + 7, 3, "000");
    out += line + "\n";
  }
  return out;
}

TEST(PcapngInterop, EditcapAndMergecapFilesConvertIntact) {
  if (!HaveTool("editcap") || !HaveTool("tshark") || !HaveTool("mergecap"))
    GTEST_SKIP() << "editcap, mergecap or tshark not installed";
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 30);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("base.pcap"),
             [](ConversionState& s) {
               s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
             });
  ASSERT_EQ(RunCommand("editcap -F nsecpcap " + dir.path("base.pcap") + " " + dir.path("ns.pcap")).status, 0);
  Trace later = MakeTrace(Topo::Ethernet, 10, 7200LL * 1000000);
  WriteTrace(later, Analyzer::Tcpdump, dir.path("later.pcap"),
             [](ConversionState& s) {
               s.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
             });
  struct Case {
    const char* name;
    std::string command;
    const char* comment;
  } cases[] = {
      {"microseconds", "editcap -F pcapng " + dir.path("base.pcap"), ""},
      {"nanoseconds", "editcap -F pcapng " + dir.path("ns.pcap"), ""},
      {"comment", "editcap -F pcapng --capture-comment 'from editcap' " + dir.path("base.pcap"),
       "from editcap"},
      // Two interfaces kept apart; the target comes last, as $0.
      {"interfaces", "sh -c 'mergecap -I none -F pcapng -w \"$0\" " + dir.path("base.pcap") +
                         " " + dir.path("later.pcap") + "'",
       ""},
  };
  for (const Case& c : cases) {
    const std::string source = dir.path(std::string(c.name) + ".pcapng");
    ASSERT_EQ(RunCommand(c.command + " " + source).status, 0) << c.name;
    const std::string expected = TsharkFrameText(source);
    ASSERT_FALSE(expected.empty()) << c.name;
    ReadResult r = ReadTrace(source);
    EXPECT_EQ(r.state.fileComment, c.comment) << c.name;
    // To libpcap and to pcapng, tshark sees the same frames.
    const std::string pcap = dir.path(std::string(c.name) + ".pcap");
    EXPECT_EQ(TsharkFrameText(Convert(source, "TD", pcap)), expected) << c.name;
    const std::string ours = Convert(source, "PN", dir.path(std::string(c.name) + "-ours.pcapng"));
    EXPECT_EQ(TsharkFrameText(ours), expected) << c.name;
    if (*c.comment) {
      EXPECT_NE(RunCommand("capinfos " + ours).out.find("from editcap"), std::string::npos);
    }
  }
}

// Big-endian, nanoseconds, several sections: what tshark sees of the file
// built byte by byte is what it sees of our pcapng (to the nanosecond) and
// of our libpcap (to the microsecond).
TEST(PcapngInterop, BigEndianNanosecondsToTheNanosecond) {
  if (!HaveTool("tshark") || !HaveTool("capinfos")) GTEST_SKIP() << "tshark not installed";
  TempDir dir;
  PcapngFile f;
  f.big = true;
  f.section("big-endian comment");
  f.interface(1, Options(true, {{9, {9}}}));
  for (uint32_t k = 0; k < 12; ++k)
    f.packet(0, uint64_t(kT0 + k * 97) * 1000000000 + k * 123456789ULL % 1000000000,
             Payload(64 + k * 50, uint8_t(k)), 64 + k * 50);
  WriteFileBytes(dir.path("big.pcapng"), f.bytes);
  const std::string expected = TsharkFrameText(dir.path("big.pcapng"));
  ASSERT_FALSE(expected.empty());
  const std::string ours = Convert(dir.path("big.pcapng"), "PN", dir.path("ours.pcapng"));
  EXPECT_EQ(TsharkFrameText(ours), expected);
  EXPECT_NE(RunCommand("capinfos " + ours).out.find("big-endian comment"), std::string::npos);
  EXPECT_EQ(TsharkFrameText(Convert(dir.path("big.pcapng"), "TD", dir.path("ours.pcap"))),
            Microseconds(expected));
}

// How finely a target keeps times, and whether its files hold a date (those
// that do not are dated by the file itself: only times relative to the
// first frame compare).
struct TimeKeeping {
  int64_t resolution = 1;  // microseconds
  bool dated = true;
};
TimeKeeping TimeKeptBy(AnalyzerType target) {
  if (target == Analyzer::Lan900) return {2, false};
  if (target == Analyzer::NetMon1) return {1000, true};
  if (target == Analyzer::FireBerd500 || target == Analyzer::Observer) return {1000, false};
  if (target == Analyzer::Da30) return {32, false};
  if (target == Analyzer::Domino || target == Analyzer::LinkViewPro) return {32, true};
  return {};
}

// An editcap pcapng converts to every writer whose files we read back, with
// every frame, length and byte, and times to the target's resolution.
TEST(PcapngInterop, EditcapPcapngToEveryWriter) {
  if (!HaveTool("editcap")) GTEST_SKIP() << "editcap not installed";
  ScopedTimeZone tz("UTC");
  TempDir dir;
  Trace t = MakeTrace(Topo::Ethernet, 30);
  WriteTrace(t, Analyzer::Tcpdump, dir.path("base.pcap"));
  ASSERT_EQ(RunCommand("editcap -F pcapng " + dir.path("base.pcap") + " " + dir.path("s.pcapng")).status, 0);
  ReadResult source = ReadTrace(dir.path("s.pcapng"));
  ASSERT_EQ(source.trace.frames.size(), t.frames.size());
  for (AnalyzerType target :
       OfferedTargets(DefaultCapabilities(), TargetClass::Lan, Topo::Ethernet, false, false)) {
    if (!HasWriter(target) || !HasReader(target)) continue;
    const std::string out =
        dir.path("to-" + std::to_string(Number(target)) + DefaultSuffix(target, Topo::Ethernet));
    RunCommand(std::string(MORPHALITE_BINARY) + " convert " + dir.path("s.pcapng") + " --to '" +
               AnalyzerName(target) + "' -o " + out + " --quiet");
    ReadResult back = ReadTrace(out);
    const TimeKeeping kept = TimeKeptBy(target);
    const int64_t resolution = kept.resolution;
    const bool dated = kept.dated;
    // A LinkView PRO file made from another analyzer's trace names that
    // analyzer in its comment, and so reads as Domino.
    EXPECT_EQ(back.analyzer, target == Analyzer::LinkViewPro ? Analyzer::Domino : target)
        << AnalyzerName(target);
    ASSERT_EQ(back.trace.frames.size(), source.trace.frames.size()) << AnalyzerName(target);
    for (size_t i = 0; i < back.trace.frames.size(); ++i) {
      const Frame &a = source.trace.frames[i], &b = back.trace.frames[i];
      EXPECT_EQ(b.frameLength, a.frameLength) << AnalyzerName(target) << " " << i;
      EXPECT_EQ(b.bytes, a.bytes) << AnalyzerName(target) << " " << i;
      const Frame &a0 = source.trace.frames[0], &b0 = back.trace.frames[0];
      if (dated)
        EXPECT_NEAR(double(AbsoluteMicros(back.state, b.time)),
                    double(AbsoluteMicros(source.state, a.time)), resolution / 2.0)
            << AnalyzerName(target) << " " << i;
      else
        EXPECT_NEAR(double(b.time - b0.time), double(a.time - a0.time), resolution / 2.0)
            << AnalyzerName(target) << " " << i;
    }
  }
}

}  // namespace
}  // namespace morph
