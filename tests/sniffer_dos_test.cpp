// Sniffer DOS reader and writer: records built byte by byte from the record
// tables, round trips, compressed files made by a small test compressor,
// and files written and read by tshark's tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "engine/checksum.h"
#include "engine/timebase.h"
#include "formats/pcap.h"
#include "formats/sniffer.h"
#include "formats/sniffer_compression.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;
using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- fixtures

Bytes Record(uint16_t type, const Bytes& body) {
  return testkit::Bytes().le16(type).le16(uint16_t(body.size())).le16(0).data(body).v;
}

struct FrameFields {
  uint64_t time = 0;  // 40 bits
  uint8_t day = 0;
  uint8_t status = 0;
  uint16_t trueSize = 0;
  Bytes data;
  bool type12 = false;
  int sizeAdjust = 0;  // size field minus the bytes present
};

Bytes FrameRecord(const FrameFields& f) {
  testkit::Bytes body;
  body.le32(uint32_t(f.time)).u8(uint8_t(f.time >> 32)).u8(f.day);
  body.le16(uint16_t(int(f.data.size()) + f.sizeAdjust)).u8(f.status).u8(0);
  body.le16(f.trueSize).le16(0);
  if (f.type12) body.data(Bytes(20, 0xEE));
  body.data(f.data);
  return Record(f.type12 ? 12 : 4, body.v);
}

Bytes DosFile(uint8_t network, uint8_t unit, const std::vector<Bytes>& records,
              uint32_t dateTime = 0) {
  testkit::Bytes f;
  f.data(Bytes(SnifferDos::kSignature, SnifferDos::kSignature + SnifferDos::kSignatureBytes));
  f.data(Record(1, testkit::Bytes().le16(4).le16(0).le32(dateTime)
                       .data({4, network, 1, unit, 0, 0, 0, 0, 0, 0}).v));
  for (const Bytes& r : records) f.data(r);
  f.data(Record(3, {}));  // the end-of-file record
  return f.v;
}

Bytes Pattern(int n, int seed = 1) {
  Bytes b(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) b[size_t(i)] = uint8_t(seed * 13 + i * 5);
  return b;
}

ReadResult ReadDos(const Bytes& file, Topology topology, uint32_t wanProtocol = Wan::NotKnown) {
  TempDir dir;
  WriteFileBytes(dir.path("t.enc"), file);
  return ReadTraceAs(dir.path("t.enc"), Analyzer::SnifferDos, topology,
                     [&](ConversionState& s) { s.wanProtocol = wanProtocol; });
}

// ---------------------------------------------------------------- test compressor

// Emits every item form of the format: literals, short and long runs,
// short and long back references (overlapping ones included).
struct TestCompressor {
  int literals = 0, shortRuns = 0, longRuns = 0, shortCopies = 0, longCopies = 0;

  Bytes CompressBlock(const uint8_t* data, size_t n) {
    Bytes out;
    size_t flagAt = 0;
    int item = 16;
    auto startItem = [&](bool command) {
      if (item == 16) {
        flagAt = out.size();
        out.insert(out.end(), {0, 0});
        item = 0;
      }
      if (command) {
        uint16_t f = uint16_t(out[flagAt] | out[flagAt + 1] << 8) | uint16_t(0x8000 >> item);
        out[flagAt] = uint8_t(f), out[flagAt + 1] = uint8_t(f >> 8);
      }
      ++item;
    };
    size_t pos = 0;
    while (pos < n) {
      size_t run = 1;
      while (pos + run < n && run < 4114 && data[pos + run] == data[pos]) ++run;
      size_t bestLength = 0, bestOffset = 0;
      for (size_t offset = 3; offset <= std::min<size_t>(pos, 4098); ++offset) {
        size_t length = 0;
        while (pos + length < n && length < 271 && data[pos + length] == data[pos - offset + length])
          ++length;
        if (length > bestLength) bestLength = length, bestOffset = offset;
      }
      if (run >= 3 && run >= bestLength) {
        startItem(true);
        if (run <= 18) {
          out.insert(out.end(), {uint8_t(run - 3), data[pos]});
          ++shortRuns;
        } else {
          const size_t v = run - 19;
          out.insert(out.end(), {uint8_t(0x10 | (v & 0x0F)), uint8_t(v >> 4), data[pos]});
          ++longRuns;
        }
        pos += run;
      } else if (bestLength >= 3) {
        startItem(true);
        const size_t v = bestOffset - 3;
        if (bestLength <= 15) {
          out.insert(out.end(), {uint8_t(bestLength << 4 | (v & 0x0F)), uint8_t(v >> 4)});
          ++shortCopies;
        } else {
          out.insert(out.end(),
                     {uint8_t(0x20 | (v & 0x0F)), uint8_t(v >> 4), uint8_t(bestLength - 16)});
          ++longCopies;
        }
        pos += bestLength;
      } else {
        startItem(false);
        out.push_back(data[pos++]);
        ++literals;
      }
    }
    return out;
  }

  // Blocks of `blockBytes` decoded bytes; every third block is stored.
  Bytes Compress(const Bytes& data, size_t blockBytes = 3000) {
    Bytes out;
    for (size_t at = 0, index = 0; at < data.size(); at += blockBytes, ++index) {
      const size_t n = std::min(blockBytes, data.size() - at);
      Bytes contents = index % 3 == 2 ? Bytes(data.begin() + long(at), data.begin() + long(at + n))
                                      : CompressBlock(data.data() + at, n);
      const uint16_t size = uint16_t(contents.size() | (index % 3 == 2 ? 0x8000 : 0));
      out.insert(out.end(), {uint8_t(size), uint8_t(size >> 8)});
      out.insert(out.end(), contents.begin(), contents.end());
    }
    return out;
  }
};

// The same file with everything after the version record compressed.
Bytes CompressDosFile(const Bytes& plain, TestCompressor& compressor) {
  Bytes out(plain.begin(), plain.begin() + SnifferDos::kFramesStart);
  out[35] |= 1;
  Bytes rest(plain.begin() + SnifferDos::kFramesStart, plain.end());
  Bytes packed = compressor.Compress(rest);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

// ---------------------------------------------------------------- reader

TEST(SnifferDosReader, EthernetLengthsStatusAndFcs) {
  Bytes file = DosFile(1, 4,
                       {FrameRecord({.time = 500000, .data = Pattern(60)}),
                        FrameRecord({.time = 500001, .trueSize = 1500, .data = Pattern(100, 2)}),
                        FrameRecord({.status = 0x80, .data = Pattern(60, 3)}),
                        FrameRecord({.status = 0x81, .data = Pattern(60, 4)}),
                        FrameRecord({.status = 0x41, .data = Pattern(60, 5)}),
                        Record(3, {})});
  ReadResult r = ReadDos(file, Topo::Ethernet);
  // Good frames get their FCS (0x80 alone is no error), bad frames carry FCS
  // 0; a sliced frame keeps its stored bytes.
  const auto zeroFcs = [](Bytes b) { return b.resize(b.size() + 4), b; };
  ExpectFrames({FrameOf(1000000, 64, WithFcs(Pattern(60))), FrameOf(1000002, 1504, Pattern(100, 2)),
                FrameOf(0, 64, WithFcs(Pattern(60, 3))),
                FrameOf(0, 64, zeroFcs(Pattern(60, 4)), Flag::CrcError),
                FrameOf(0, 64, zeroFcs(Pattern(60, 5)), Flag::AlignmentError | Flag::CrcError)},
               r.trace);
  EXPECT_TRUE(r.messages.empty());
}

TEST(SnifferDosReader, TimeUnitsAndDayNumbers) {
  struct Case {
    uint8_t unit;
    Topology topology;
    uint64_t t;
    uint8_t day;
    int64_t expected;
  };
  const Case cases[] = {
      {4, Topo::Ethernet, 500000, 0, 1000000},
      {4, Topo::Ethernet, 500000, 1, 1000000 + 86400000000LL},
      {2, Topo::Ethernet, 1000, 0, 15000},
      {0, Topo::Ethernet, 1000, 0, 15000},  // stated 0: 15 us on Ethernet
      {3, Topo::Ethernet, 1001, 0, 501},
      {5, Topo::Ethernet, 0xAB12345678ULL, 2, 0xAB12345678LL + 2 * 86400000000LL},
      // PC timer: high byte = tick high, middle word = tick low, low word = timer count.
      {1, Topo::Ethernet, 0x0000B00000ULL | 100, 0,
       std::llround(PcTimerMicroseconds(0, 0xB0, 100))},
      {0, Topo::TokenRing, (uint64_t(0x18) << 32) | (0xB0 << 16), 0,
       std::llround(PcTimerMicroseconds(0x18, 0xB0, 0))},
  };
  for (const Case& c : cases) {
    Bytes file = DosFile(c.topology == Topo::TokenRing ? 0 : 1, c.unit,
                         {FrameRecord({.time = c.t, .day = c.day, .data = Pattern(60)})});
    ReadResult r = ReadDos(file, c.topology);
    ASSERT_EQ(r.trace.frames.size(), 1u) << "unit " << int(c.unit);
    EXPECT_EQ(r.trace.frames[0].time, c.expected) << "unit " << int(c.unit);
  }
}

TEST(SnifferDosReader, SerialDirectionStatusAndCrc16) {
  Bytes file = DosFile(7, 4,
                       {FrameRecord({.status = 0x80, .data = Pattern(20)}),
                        FrameRecord({.status = 0x04, .data = Pattern(20, 2)}),
                        FrameRecord({.status = 0x02, .data = Pattern(20, 3)}),
                        FrameRecord({.status = 0x04, .trueSize = 300, .data = Pattern(20, 4)}),
                        FrameRecord({.trueSize = 300, .data = Pattern(20, 5)})});
  ReadResult r = ReadDos(file, Topo::Wan, Wan::Hdlc);
  ASSERT_EQ(r.trace.frames.size(), 5u);
  const Frame& first = r.trace.frames[0];
  EXPECT_EQ(first.flags, Flag::Direction2);
  ASSERT_EQ(first.bytes.size(), 22u);
  EXPECT_EQ(first.frameLength, 22);
  EXPECT_EQ(GetLE16(first.bytes.data() + 20), FrameCrc16(Pattern(20).data(), 20));

  EXPECT_EQ(r.trace.frames[1].flags, Flag::Direction1 | Flag::SnifferProStatus2);
  EXPECT_EQ(r.trace.frames[1].bytes, Pattern(20, 2));
  EXPECT_EQ(r.trace.frames[2].flags, Flag::Direction1 | Flag::CrcError);
  EXPECT_EQ(GetLE16(r.trace.frames[2].bytes.data() + 20), 0);

  // Sliced: only the stored bytes, the wire length with (or without) its CRC.
  EXPECT_EQ(r.trace.frames[3].bytes, Pattern(20, 4));
  EXPECT_EQ(r.trace.frames[3].frameLength, 300);
  EXPECT_EQ(r.trace.frames[4].bytes, Pattern(20, 5));
  EXPECT_EQ(r.trace.frames[4].frameLength, 302);
}

TEST(SnifferDosReader, RecordBytesOnlyNeverStaleOnes) {
  // A long frame first, then frames whose FCS slot or sliced tail would lie
  // where the long frame's bytes still are.
  Bytes file = DosFile(0, 4,
                       {FrameRecord({.data = Pattern(200, 9)}),
                        FrameRecord({.data = Pattern(40, 2)}),
                        FrameRecord({.trueSize = 150, .data = Pattern(30, 3)}),
                        FrameRecord({.data = Pattern(50, 4), .type12 = true})});
  ReadResult r = ReadDos(file, Topo::TokenRing);
  ASSERT_EQ(r.trace.frames.size(), 4u);
  // A Token Ring frame keeps what was stored: no FCS slot of invented bytes.
  EXPECT_EQ(r.trace.frames[1].bytes, Pattern(40, 2));
  EXPECT_EQ(r.trace.frames[1].frameLength, 40);
  EXPECT_EQ(r.trace.frames[2].bytes, Pattern(30, 3));
  EXPECT_EQ(r.trace.frames[2].frameLength, 150);
  EXPECT_EQ(r.trace.frames[3].bytes, Pattern(50, 4));  // type 12: data after 20 more bytes
}

TEST(SnifferDosReader, HeaderDateLeadingRecordsAndBadFiles) {
  // 2021-06-30 13:45, two-second field 31 (taken as 29).
  const uint32_t date = (41u << 9 | 6u << 5 | 30u) << 16 | (13u << 11 | 45u << 5 | 31u);
  Bytes line = Record(7, {0, 0, 0, 0, 1, 0, 0, 0});
  Bytes other = Record(9, Pattern(33));
  ReadResult dated =
      ReadDos(DosFile(1, 4, {line, other, FrameRecord({.data = Pattern(60)})}, date),
              Topo::Ethernet);
  ASSERT_EQ(dated.trace.frames.size(), 1u);
  EXPECT_DOUBLE_EQ(dated.state.time.traceDate, EncodeDateTime(2021, 6, 30, 13, 45, 58));

  // A date that is none (month 13) leaves the file date.
  const uint32_t bad = (41u << 9 | 13u << 5 | 1u) << 16;
  ReadResult undated = ReadDos(DosFile(1, 4, {FrameRecord({.data = Pattern(60)})}, bad),
                               Topo::Ethernet);
  ASSERT_EQ(undated.trace.frames.size(), 1u);
  EXPECT_GT(undated.state.time.traceDate, EncodeDate(2024, 1, 1));

  auto failsToRead = [](const Bytes& file) {
    ReadResult r = ReadDos(file, Topo::Ethernet);
    return r.state.status.readError && r.trace.frames.empty();
  };
  EXPECT_TRUE(failsToRead(DosFile(1, 4, {line, Record(3, {})})));  // no frames at all
  EXPECT_TRUE(failsToRead(DosFile(1, 4, {FrameRecord({.data = Pattern(60), .sizeAdjust = 5})})));
  EXPECT_TRUE(failsToRead(DosFile(1, 4, {Record(4, Pattern(10))})));  // shorter than its header
  Bytes huge = Record(4, Bytes(32783, 0));
  EXPECT_TRUE(failsToRead(DosFile(1, 4, {huge})));
  Bytes cut = DosFile(1, 4, {FrameRecord({.data = Pattern(60)})});
  cut.resize(cut.size() - 10);
  EXPECT_TRUE(failsToRead(cut));
}

// What the first frame tells of the WAN protocol is a row of
// tests/identify_test.cpp (SnifferDosNetworkLineRecordAndCompression).

TEST(SnifferDosTopology, NetworkLineRecordAndCompressedHeaders) {
  Bytes line = Record(7, {0x00, 0xE1, 0xF5, 0x05, 2, 0, 0, 0});  // 100,000,000; Frame Relay
  const Bytes withLine = DosFile(1, 4, {Record(6, Pattern(5)), line});
  SnifferTopologyInfo ethernet = SnifferDosTopology(withLine.data(), withLine.size());
  EXPECT_EQ(ethernet.topology, Topo::Ethernet);
  EXPECT_EQ(ethernet.fileLineSpeed, 100000000u);
  Bytes tr = DosFile(0, 4, {Record(7, {1, 0, 0, 0, 3, 0, 0, 0})});
  SnifferTopologyInfo ring = SnifferDosTopology(tr.data(), tr.size());
  EXPECT_EQ(ring.topology, Topo::TokenRing);
  EXPECT_EQ(ring.fileLineSpeed, 16000000u);
  EXPECT_FALSE(ring.probeFirstFrame);

  Bytes serial = DosFile(7, 4, {line, FrameRecord({.data = Pattern(20)})});
  TestCompressor compressor;
  Bytes packed = CompressDosFile(serial, compressor);
  SnifferTopologyInfo wan = SnifferDosTopology(packed.data(), packed.size());
  EXPECT_TRUE(IsSnifferDosCompressed(packed.data(), packed.size()));
  EXPECT_EQ(wan.topology, Topo::Wan);
  EXPECT_EQ(wan.wanProtocol, Wan::FrameRelay);
  EXPECT_EQ(wan.fileLineSpeed, 100000000u);

  Bytes unknownProtocol = DosFile(7, 4, {FrameRecord({.data = Pattern(20)})});
  EXPECT_TRUE(SnifferDosTopology(unknownProtocol.data(), unknownProtocol.size()).probeFirstFrame);
  Bytes empty = DosFile(9, 4, {Record(3, {})});
  SnifferTopologyInfo fddi = SnifferDosTopology(empty.data(), empty.size());
  EXPECT_EQ(fddi.topology, Topo::Fddi);
  EXPECT_TRUE(fddi.noFrames);
}

TEST(SnifferDosTopology, LineRecordBehindLongLeadingRecordsOfAFile) {
  // The leading records span several compressed and stored blocks.
  Bytes line = Record(7, {0x40, 0x8D, 0x17, 0x00, 1, 0, 0, 0});  // 1,543,488; X.25
  Bytes plain = DosFile(7, 4, {Record(6, Pattern(7000)), Record(8, Pattern(5000, 2)), line,
                               FrameRecord({.data = Pattern(20)})});
  TestCompressor compressor;
  for (const Bytes& file : {plain, CompressDosFile(plain, compressor)}) {
    SnifferTopologyInfo info = SnifferDosTopology(*OpenMemorySource(file));
    EXPECT_EQ(info.topology, Topo::Wan);
    EXPECT_EQ(info.wanProtocol, Wan::X25);
    EXPECT_EQ(info.fileLineSpeed, 1543488u);
    EXPECT_FALSE(info.probeFirstFrame);
  }
  // A line record shorter than its two fields names nothing.
  Bytes shortLine =
      DosFile(7, 4, {Record(7, {0x40, 0x8D, 0x17, 0x00}), FrameRecord({.data = Pattern(20)})});
  SnifferTopologyInfo cut = SnifferDosTopology(shortLine.data(), shortLine.size());
  EXPECT_EQ(cut.fileLineSpeed, 0u);
  EXPECT_TRUE(cut.probeFirstFrame);
}

// ---------------------------------------------------------------- compressed files

TEST(SnifferDosCompressed, TestCompressorRoundTripUsesEveryForm) {
  Bytes data;
  for (int i = 0; i < 40; ++i) {
    Bytes p = Pattern(50 + i * 7, i % 5);
    data.insert(data.end(), p.begin(), p.end());
    data.insert(data.end(), size_t(i % 4 == 0 ? 300 : 7), uint8_t(i));
    for (int k = 0; k < 6; ++k) data.insert(data.end(), {0x51, 0x52, 0x53, 0x54, uint8_t(i * 6 + k)});
  }
  TestCompressor compressor;
  Bytes packed = compressor.Compress(data);
  EXPECT_GT(compressor.literals, 0);
  EXPECT_GT(compressor.shortRuns, 0);
  EXPECT_GT(compressor.longRuns, 0);
  EXPECT_GT(compressor.shortCopies, 0);
  EXPECT_GT(compressor.longCopies, 0);
  auto in = OpenMemorySource(packed);
  SnifferDecompressor d;
  d.Reset(*in, 0);
  Bytes out(data.size());
  for (size_t at = 0; at < out.size(); at += 777)
    ASSERT_TRUE(d.Read(out.data() + at, std::min<size_t>(777, out.size() - at)));
  EXPECT_EQ(out, data);
}

TEST(SnifferDosCompressed, ReadsLikeThePlainFile) {
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 40);
  WriteTrace(trace, Analyzer::SnifferDos, dir.path("plain.enc"));
  TestCompressor compressor;
  WriteFileBytes(dir.path("packed.enc"),
                 CompressDosFile(ReadFileBytes(dir.path("plain.enc")), compressor));
  ReadResult plain = ReadTraceAs(dir.path("plain.enc"), Analyzer::SnifferDos, Topo::Ethernet);
  ReadResult packed = ReadTraceAs(dir.path("packed.enc"), Analyzer::SnifferDos, Topo::Ethernet);
  EXPECT_TRUE(packed.messages.empty());
  EXPECT_EQ(packed.trace.frames.size(), trace.frames.size());
  ExpectSameFrames(plain.trace, packed.trace);

  ReadResult identified = ReadTrace(dir.path("packed.enc"));
  EXPECT_EQ(identified.analyzer, Analyzer::SnifferDos);
  EXPECT_TRUE(identified.state.sourceCompressed);
  ExpectSameFrames(plain.trace, identified.trace);
}

TEST(SnifferDosCompressed, BadDataKeepsTheFramesBeforeIt) {
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 60);
  WriteTrace(trace, Analyzer::SnifferDos, dir.path("plain.enc"));
  TestCompressor compressor;
  Bytes packed = CompressDosFile(ReadFileBytes(dir.path("plain.enc")), compressor);
  // The second block's header now claims a back reference soup.
  const size_t second = 41 + 2 + (GetLE16(packed.data() + 41) & 0x7FFF);
  std::fill(packed.begin() + long(second) + 2, packed.begin() + long(second) + 40, 0xFF);
  WriteFileBytes(dir.path("bad.enc"), packed);

  // Converted to libpcap: the frames before the bad block reach the target.
  SilentHost host;
  Conversion c(host);
  c.state.sourceFileName = dir.path("bad.enc");
  c.state.sourceAnalyzer = Analyzer::SnifferDos;
  c.state.traceTopology = Topo::Ethernet;
  c.state.targetAnalyzer = Analyzer::Tcpdump;
  c.target = CreateFileTarget(dir.path("out.pcap"));
  c.ConvertTrace(false, 0);
  EXPECT_TRUE(c.state.status.badCompression);
  EXPECT_FALSE(c.state.status.readError);
  const int32_t kept = c.state.counters.framesWritten;
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 60);
  ReadResult out = ReadTrace(dir.path("out.pcap"));
  EXPECT_EQ(int32_t(out.trace.frames.size()), kept);

  ReadResult r = ReadTraceAs(dir.path("bad.enc"), Analyzer::SnifferDos, Topo::Ethernet);
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0], "File Read Error: Bad compression encountered.  Data may be unreliable.");

  // Cut short inside a block: the same message, never a crash.
  packed.resize(packed.size() / 2);
  ReadResult cut = ReadTraceFromAs(packed, "cut.enc", Analyzer::SnifferDos, Topo::Ethernet);
  EXPECT_TRUE(cut.state.status.badCompression);
  EXPECT_GT(cut.trace.frames.size(), 0u);
}

// ---------------------------------------------------------------- writer

TEST(SnifferDosWriter, RoundTripsEthernetSlicedAndSerialTraces) {
  TempDir dir;
  Trace ethernet = MakeTrace(Topo::Ethernet, 30);
  ethernet.frames[3].flags = Flag::AlignmentError | Flag::CrcError;
  std::fill(ethernet.frames[3].bytes.end() - 4, ethernet.frames[3].bytes.end(), 0);
  WriteTrace(ethernet, Analyzer::SnifferDos, dir.path("e.enc"));
  ReadResult back = ReadTrace(dir.path("e.enc"));
  EXPECT_EQ(back.analyzer, Analyzer::SnifferDos);
  EXPECT_EQ(back.topology, Topo::Ethernet);
  ExpectSameFrames(ethernet, back.trace, {.timeMicros = 1});

  WriteTrace(ethernet, Analyzer::SnifferDos, dir.path("s.enc"), [](ConversionState& s) {
    s.options.sliceFrames = true;
    s.options.sliceLength = 100;
  });
  Trace sliced = ethernet;
  for (Frame& f : sliced.frames)
    if (f.bytes.size() > 100) f.bytes.resize(100);
  ExpectSameFrames(sliced, ReadTraceAs(dir.path("s.enc"), Analyzer::SnifferDos, Topo::Ethernet).trace,
                   {.timeMicros = 1});

  Trace serial = MakeTrace(Topo::Wan, 12);
  serial.wanProtocol = Wan::X25;
  for (size_t i = 0; i < serial.frames.size(); ++i) {
    Frame& f = serial.frames[i];
    f.flags = i % 2 ? Flag::Direction2 : Flag::Direction1;
    PutLE16(f.bytes.data() + f.bytes.size() - 2, FrameCrc16(f.bytes.data(), f.frameLength - 2));
  }
  WriteTrace(serial, Analyzer::SnifferDos, dir.path("w.syc"));
  ReadResult wan = ReadTraceAs(dir.path("w.syc"), Analyzer::SnifferDos, Topo::Wan,
                               [](ConversionState& s) { s.wanProtocol = Wan::X25; });
  ExpectSameFrames(serial, wan.trace, {.timeMicros = 1});
  const Bytes file = ReadFileBytes(dir.path("w.syc"));
  EXPECT_EQ(file[32], 7);                        // network: serial
  EXPECT_EQ(GetLE32(file.data() + 51), 1u);      // protocol code X.25
  EXPECT_EQ(GetLE16(file.data() + file.size() - 6), 3);  // end-of-file record
}

// ---------------------------------------------------------------- tshark

TEST(SnifferDosInterop, EditcapFilesAndOurFilesAgreeWithTshark) {
  if (!HaveTool("editcap") || !HaveTool("tshark")) GTEST_SKIP() << "no editcap/tshark";
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 25, 12 * 3600LL * 1000000 + 123457, 333331);
  trace.frames[4].bytes.resize(200);  // a sliced frame
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("a.pcap"));
  ASSERT_EQ(RunCommand("editcap -F ngsniffer '" + dir.path("a.pcap") + "' '" +
                       dir.path("a.enc") + "'").status, 0);

  ReadResult pcap = ReadTrace(dir.path("a.pcap"));
  ReadResult dos = ReadTrace(dir.path("a.enc"));
  ASSERT_EQ(dos.analyzer, Analyzer::SnifferDos);
  ASSERT_EQ(dos.trace.frames.size(), pcap.trace.frames.size());
  // editcap writes PC-timer units (0.838 us). tshark takes them as
  // 0.838096 us; this reader as 1/1.193181666 us, which is 0.8380953 us.
  const double kTickRatio = 0.83809534452 / 0.838096;
  for (size_t i = 0; i < pcap.trace.frames.size(); ++i) {
    EXPECT_NEAR(double(dos.trace.frames[i].time), double(pcap.trace.frames[i].time) * kTickRatio,
                2.0) << i;
    EXPECT_EQ(dos.trace.frames[i].frameLength, pcap.trace.frames[i].frameLength) << i;
    EXPECT_EQ(dos.trace.frames[i].bytes, pcap.trace.frames[i].bytes) << i;
  }

  // libpcap converted to Sniffer DOS: tshark sees the frames of the source.
  WriteTrace(pcap.trace, Analyzer::SnifferDos, dir.path("ours.enc"));
  ExpectSameTsharkFrames(TsharkFrames(dir.path("a.pcap")), TsharkFrames(dir.path("ours.enc")),
                         1.5e-6);
}

}  // namespace
}  // namespace morph
