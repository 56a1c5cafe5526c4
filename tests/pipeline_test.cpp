// The frame pipeline and the driver: frame range, counters, the media
// conversions, slicing, stop, the closing messages and the progress texts.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/progress.h"
#include "engine/timebase.h"
#include "formats/netmon.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

class RecordingHost : public Host {
 public:
  std::vector<std::string> messages;
  int stopAfterFrames = -1;
  int framesSeen = 0;
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    messages.push_back(caption + ": " + text);
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    details.push_back(detail);
    Host::failure(caption, text, detail, icon);
  }
  std::vector<std::string> details;
  bool stopRequested() override { return stopAfterFrames >= 0 && framesSeen >= stopAfterFrames; }
};

// Feeds frames to the pipeline and records what reaches the writer.
struct Harness {
  RecordingHost host;
  Conversion c{host};
  std::vector<Frame> written;

  Harness(Topology topology, const std::vector<Frame>& frames) {
    c.state.sourceAnalyzer = Analyzer::AnyAnalyzer;
    c.state.targetAnalyzer = Analyzer::AnyAnalyzer;
    c.state.traceTopology = topology;
    c.customReader.open = [](Conversion& conv) { conv.state.time.traceDate = EncodeDate(2024, 3, 15); };
    c.customReader.next = [this, frames, next = size_t(0)](Conversion& conv) mutable {
      if (next == frames.size()) return ReadStatus::End;
      PutFrame(conv.state, frames[next++]);
      ++host.framesSeen;
      return ReadStatus::Record;
    };
    c.frameObserver = [this](Conversion& conv) { written.push_back(FrameFromState(conv.state)); };
  }
  ConversionState& run() {
    c.ConvertTrace(false, 0);
    return c.state;
  }
};

std::vector<Frame> Frames(int n, int32_t length = 64) {
  std::vector<Frame> v;
  for (int i = 0; i < n; ++i) v.push_back(MakeFrame(1000000LL * i, length, Topo::Ethernet, uint8_t(i)));
  return v;
}

TEST(FrameRange, FramesOutsideTheRangeAreSkippedUncounted) {
  Harness h(Topo::Ethernet, Frames(10));
  h.c.state.options.convertAll = false;
  h.c.state.options.startFrame = 5;
  h.c.state.options.endFrame = 7;
  ConversionState& s = h.run();
  ASSERT_EQ(h.written.size(), 3u);
  EXPECT_EQ(h.written[0].time, 4000000);
  EXPECT_EQ(s.counters.framesWritten, 3);
  EXPECT_EQ(s.counters.framesRead, 7);  // reading ends after the last frame of the range
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_EQ(s.time.traceDuration, 2000000);
}

TEST(FrameRange, EndBelowStartReadsAllAndWritesNothing) {
  Harness h(Topo::Ethernet, Frames(4));
  h.c.state.options.convertAll = false;
  h.c.state.options.startFrame = 5;
  h.c.state.options.endFrame = 2;
  ConversionState& s = h.run();
  EXPECT_TRUE(h.written.empty());
  EXPECT_EQ(s.counters.framesRead, 4);
  EXPECT_TRUE(h.host.messages.empty());  // frames were read: no "no frames" box
  EXPECT_EQ(h.c.Progress().pctComplete, "NO FRAMES WERE CONVERTED.");
}

TEST(Counters, RuntsOversizeAlignmentAndCrcErrors) {
  std::vector<Frame> frames = Frames(1, 64);
  frames.push_back(MakeFrame(1, 60));      // below 64: a runt
  frames.push_back(MakeFrame(2, 1522));    // above 1518
  frames.push_back(MakeFrame(3, 64));
  frames.back().flags = Flag::AlignmentError;
  Harness h(Topo::Ethernet, frames);
  ConversionState& s = h.run();
  EXPECT_EQ(s.counters.runtFrames, 1);
  EXPECT_EQ(s.counters.oversizeFrames, 1);
  EXPECT_EQ(s.counters.alignmentErrorFrames, 1);
  EXPECT_EQ(s.counters.crcErrorFrames, 1);
  EXPECT_EQ(h.written.back().flags, Flag::AlignmentError | Flag::CrcError);
  EXPECT_EQ(s.counters.frameBytesTotal, uint64_t(64 + 60 + 1522 + 64));
}

TEST(Counters, NetMonRecordsOfFourBytesOrLessAreDropped) {
  std::vector<Frame> frames = {MakeFrame(0, 4, Topo::TokenRing), MakeFrame(1, 40, Topo::TokenRing)};
  Harness h(Topo::TokenRing, frames);
  h.c.state.sourceAnalyzer = Analyzer::NetMon2;
  ConversionState& s = h.run();
  EXPECT_EQ(h.written.size(), 1u);
  EXPECT_EQ(s.counters.framesWritten, 1);
  EXPECT_EQ(s.counters.framesRead, 2);
}

TEST(Limits, OversizedFramesAndTimeJumpsAreReadErrors) {
  std::vector<Frame> frames = Frames(2);
  Frame huge = MakeFrame(3, 64);
  huge.frameLength = MaxFrameBytes + 1;
  frames.push_back(huge);
  Harness h(Topo::Ethernet, frames);
  ConversionState& s = h.run();
  EXPECT_TRUE(s.status.readError);
  EXPECT_EQ(h.written.size(), 2u);
  ASSERT_FALSE(h.host.messages.empty());
  EXPECT_EQ(h.host.messages.back(),
            "File Error: Error reading from source file.  File may be corrupt.");

  // The reader's reason travels beside the fixed message.
  Harness r(Topo::Ethernet, Frames(1));
  r.c.customReader.next = [](Conversion& conv) {
    FailRead(conv.state, AtRecord(1, 24) + "captured length 70,000 exceeds 65,535");
    return ReadStatus::Failed;
  };
  r.run();
  ASSERT_EQ(r.host.details.size(), 1u);
  EXPECT_EQ(r.host.details[0], "record 1 at offset 24: captured length 70,000 exceeds 65,535");
  EXPECT_EQ(r.host.messages.back(),
            "File Error: Error reading from source file.  File may be in use by another "
            "application.");

  std::vector<Frame> jump = Frames(1);
  jump.push_back(MakeFrame(25LL * 86400 * 1000000, 64));  // 25 days later
  Harness j(Topo::Ethernet, jump);
  EXPECT_TRUE(j.run().status.readError);
}

// A frame may lie up to 2,147,483,647 whole milliseconds from the first one,
// either way; a microsecond more is a damaged time.
TEST(Limits, TheSpanLimitFallsOnTheLastWholeMillisecond) {
  constexpr int64_t kLastMicro = 2147483647LL * 1000 + 999;
  const int64_t first = 30LL * 86400 * 1000000;
  for (int64_t sign : {1, -1}) {
    for (int64_t extra : {0, 1}) {
      std::vector<Frame> frames{MakeFrame(first, 64), MakeFrame(first + sign * (kLastMicro + extra), 64)};
      Harness h(Topo::Ethernet, frames);
      EXPECT_EQ(h.run().status.readError, extra == 1) << sign << " " << extra;
      EXPECT_EQ(h.written.size(), extra == 1 ? 1u : 2u);
    }
  }
}

TEST(Driver, NothingToReadSaysSo) {
  Harness h(Topo::Ethernet, {});
  h.run();
  ASSERT_EQ(h.host.messages.size(), 1u);
  EXPECT_EQ(h.host.messages[0], "Output: Target file contains no frames!");
}

// A source that fails where a reader only asks whether it has ended (an I/O
// error on the last block, a file cut short while read): the conversion is a
// read failure with the stream's reason, not a clean end.
TEST(Driver, ASourceFailingAtItsEndIsAReadError) {
  class FailingAtEnd : public SourceStream {
   public:
    size_t read(void*, size_t) override { return 0; }
    bool seek(int64_t) override { return true; }
    int64_t position() const override { return 0; }
    int64_t size() const override { return 0; }
    bool atEnd() override {
      failed_ = true;
      error_ = "trace.cap: Input/output error";
      return true;
    }
    bool failed() const override { return failed_; }

   private:
    bool failed_ = false;
  };
  Harness h(Topo::Ethernet, Frames(3));
  h.c.source = std::make_unique<FailingAtEnd>();
  // The reader looks for the source's end after its last frame.
  const auto frames = h.c.customReader.next;
  h.c.customReader.next = [&frames](Conversion& conv) {
    const ReadStatus status = frames(conv);
    if (status == ReadStatus::End) conv.SourceAtEnd();
    return status;
  };
  ConversionState& s = h.run();
  EXPECT_EQ(h.written.size(), 3u);
  EXPECT_TRUE(s.status.readError);
  ASSERT_EQ(h.host.details.size(), 1u);
  EXPECT_EQ(h.host.details[0], "trace.cap: Input/output error");
}

TEST(Driver, StopEndsQuietlyAndSaysPartiallyConverted) {
  Harness h(Topo::Ethernet, Frames(100));
  h.host.stopAfterFrames = 10;
  ConversionState& s = h.run();
  EXPECT_TRUE(s.status.stopRequested);
  EXPECT_EQ(h.written.size(), 10u);
  EXPECT_TRUE(h.host.messages.empty());
  ProgressView v = h.c.Progress();
  EXPECT_EQ(v.pctComplete, "FILE PARTIALLY CONVERTED");
  EXPECT_EQ(v.buttonCaption, "&OK");
}

TEST(Slicing, TheHeaderSeesTheWholeFirstFrame) {
  TempDir dir;
  Trace t;
  t.frames.push_back(MakeFrame(0, 1000));
  t.frames.push_back(MakeFrame(1, 1000));
  ConversionState s = WriteTrace(t, Analyzer::Tcpdump, dir.path("s.pcap"), [](ConversionState& st) {
    st.options.sliceFrames = true;
    st.options.sliceLength = 100;
    st.options.formatOptions.get<PcapOutputOptions>().bigEndian = false;
  });
  EXPECT_EQ(s.counters.maxFrameLength, 1000);
  auto b = ReadFileBytes(dir.path("s.pcap"));
  ASSERT_GE(b.size(), 24u + 16);
  EXPECT_EQ(GetLE32(b.data() + 16), 100u);       // snap length: the slice
  EXPECT_EQ(GetLE32(b.data() + 24 + 8), 100u);   // every sliced byte is frame data
  EXPECT_EQ(GetLE32(b.data() + 24 + 12), 996u);  // the frame's own length
}

TEST(EthernetToWireless, EtherTypeFramesGetAnLlcSnapHeader) {
  Frame f = MakeFrame(0, 64);
  f.bytes[12] = 0x08;
  f.bytes[13] = 0x00;
  Harness h(Topo::Ethernet, {f});
  h.c.state.options.convertToWireless = true;
  h.run();
  ASSERT_EQ(h.written.size(), 1u);
  const Frame& w = h.written[0];
  // The Ethernet FCS is left behind: it is no 802.11 FCS.
  EXPECT_EQ(w.frameLength, 78);
  ASSERT_EQ(w.bytes.size(), 78u);
  EXPECT_EQ(w.bytes[0], 0x08);
  EXPECT_TRUE(std::equal(f.bytes.begin(), f.bytes.begin() + 6, w.bytes.begin() + 4));
  EXPECT_TRUE(std::equal(f.bytes.begin() + 6, f.bytes.begin() + 12, w.bytes.begin() + 10));
  EXPECT_TRUE(std::equal(f.bytes.begin() + 6, f.bytes.begin() + 12, w.bytes.begin() + 16));
  const uint8_t snap[8] = {0xAA, 0xAA, 0x03, 0, 0, 0, 0x08, 0x00};
  EXPECT_EQ(std::memcmp(w.bytes.data() + 24, snap, 8), 0);
  EXPECT_TRUE(std::equal(f.bytes.begin() + 14, f.bytes.end() - 4, w.bytes.begin() + 32));
  EXPECT_EQ(h.c.state.traceTopology, Topo::Ethernet);  // restored after each frame
}

TEST(EthernetToWireless, NovellRawAndLlcFrames) {
  Frame raw = MakeFrame(0, 64);
  raw.bytes[12] = 0x00;
  raw.bytes[13] = 0x2E;
  raw.bytes[14] = 0xFF;
  raw.bytes[15] = 0xFF;
  Frame llc = MakeFrame(1, 64);
  llc.bytes[12] = 0x00;
  llc.bytes[13] = 0x2E;
  llc.bytes[14] = 0x42;
  Harness h(Topo::Ethernet, {raw, llc});
  h.c.state.options.convertToWireless = true;
  h.run();
  ASSERT_EQ(h.written.size(), 2u);
  EXPECT_EQ(h.written[0].frameLength, 73);
  EXPECT_EQ(h.written[0].bytes[24], 0xE0);
  EXPECT_EQ(h.written[0].bytes[25], 0xE0);
  EXPECT_EQ(h.written[0].bytes[26], 0x03);
  EXPECT_EQ(h.written[0].bytes[27], 0xFF);
  EXPECT_EQ(h.written[1].frameLength, 70);
  EXPECT_EQ(h.written[1].bytes[24], 0x42);
}

Frame WirelessFrame(uint8_t fc0, uint8_t fc1, int32_t length) {
  Frame f;
  f.frameLength = length;
  f.bytes.resize(size_t(length));
  for (int32_t i = 0; i < length; ++i) f.bytes[size_t(i)] = uint8_t(i);
  f.bytes[0] = fc0;
  f.bytes[1] = fc1;
  return f;
}

TEST(WirelessToEthernet, DataFramesBecomeEthernetOthersAreNonData) {
  Frame management = WirelessFrame(0x80, 0, 100);  // a beacon
  Frame toDs = WirelessFrame(0x08, 0x01, 100);
  Frame small = WirelessFrame(0x08, 0x00, 60);      // 50 bytes once converted
  Frame large = WirelessFrame(0x08, 0x00, 1610);
  Frame withFcs = WirelessFrame(0x08, 0x00, 104);  // its source says it ends in an FCS
  withFcs.wirelessFcsBytes = 4;
  Harness h(Topo::Wireless, {management, toDs, small, large, withFcs});
  h.c.state.options.convertToEthernet = true;
  ConversionState& s = h.run();
  EXPECT_EQ(s.counters.nonDataFrames, 1);
  EXPECT_EQ(s.counters.framesWritten, 5);  // the beacon counts as accepted, but is not written
  ASSERT_EQ(h.written.size(), 4u);
  // Every payload byte follows the new header, and the Ethernet FCS is the
  // CRC-32 of the new frame.
  const auto expectPayloadAndFcs = [](const Frame& from, const Frame& to, size_t fcs) {
    ASSERT_EQ(to.bytes.size(), 14 + from.bytes.size() - 24 - fcs + 4);
    EXPECT_EQ(to.frameLength, int32_t(to.bytes.size()));
    EXPECT_TRUE(std::equal(from.bytes.begin() + 24, from.bytes.end() - long(fcs), to.bytes.begin() + 14));
    EXPECT_EQ(GetLE32(to.bytes.data() + to.bytes.size() - 4), Crc32(to.bytes.data(), to.bytes.size() - 4));
  };
  // ToDS: destination from the third address, source from the second.
  EXPECT_TRUE(std::equal(toDs.bytes.begin() + 16, toDs.bytes.begin() + 22, h.written[0].bytes.begin()));
  EXPECT_TRUE(std::equal(toDs.bytes.begin() + 10, toDs.bytes.begin() + 16, h.written[0].bytes.begin() + 6));
  expectPayloadAndFcs(toDs, h.written[0], 0);
  // Short: padded with zeros to 64, length field 46; the bytes in hand stay.
  EXPECT_EQ(h.written[1].frameLength, 64);
  EXPECT_EQ(h.written[1].bytes.size(), 50u);
  EXPECT_EQ(h.written[1].bytes[12], 0);
  EXPECT_EQ(h.written[1].bytes[13], 46);
  // Long: length field 1500, every byte kept.
  expectPayloadAndFcs(large, h.written[2], 0);
  EXPECT_EQ(h.written[2].bytes[12], 0x05);
  EXPECT_EQ(h.written[2].bytes[13], 0xDC);
  // Only a stated 802.11 FCS is dropped.
  expectPayloadAndFcs(withFcs, h.written[3], 4);
  EXPECT_EQ(h.written[3].bytes[13], 90 - 14);
}

// An EtherType frame made 802.11 (LLC/SNAP) comes back as it was, FCS
// included, whatever its size: every payload byte, no length field.
TEST(WirelessToEthernet, SnapFramesComeBackAsTheEthernetFramesTheyWere) {
  for (const int32_t length : {64, 1518, 9018}) {
    SCOPED_TRACE(length);
    const Frame ethernet = MakeFrame(0, length);  // IPv4, its FCS at the end
    Harness toWireless(Topo::Ethernet, {ethernet});
    toWireless.c.state.options.convertToWireless = true;
    toWireless.run();
    ASSERT_EQ(toWireless.written.size(), 1u);
    Harness back(Topo::Wireless, toWireless.written);
    back.c.state.options.convertToEthernet = true;
    back.run();
    ASSERT_EQ(back.written.size(), 1u);
    EXPECT_EQ(back.written[0].frameLength, length);
    EXPECT_EQ(back.written[0].bytes, ethernet.bytes);
  }
}

TEST(WirelessToEthernet, TinyFramesVanishWithoutTouchingOtherBytes) {
  Frame tiny = WirelessFrame(0x08, 0x00, 8);
  Harness h(Topo::Wireless, {tiny});
  h.c.state.options.convertToEthernet = true;
  ConversionState& s = h.run();
  EXPECT_TRUE(h.written.empty());
  EXPECT_EQ(s.counters.nonDataFrames, 1);
  ASSERT_EQ(h.host.messages.size(), 1u);
  EXPECT_EQ(h.host.messages[0], "Output: Target file contains no frames!");
}

TEST(Progress, TextsAndNumbers) {
  EXPECT_EQ(WithThousands(1234567), "1,234,567");
  EXPECT_EQ(WithThousands(999), "999");
  EXPECT_EQ(DurationText(3 * 3600 + 4 * 60 + 5), "03:04:05");
  EXPECT_EQ(DurationText(100 * 3600), "100:00:00");
  ConversionState s;
  s.sourceFileName = "/data/trace.enc";
  s.sourceFileSize = 1000;
  s.counters.framesWritten = 1500;
  s.counters.nonDataFrames = 500;
  s.counters.frameBytesTotal = 1234567;
  s.time.traceDuration = 400000;  // under half a second
  ProgressView v = ComputeProgress(s, 250, false);
  EXPECT_EQ(v.caption, "Converting trace.enc");
  EXPECT_EQ(v.framesWritten, "1,000");
  EXPECT_EQ(v.nonDataFrames, "500");
  EXPECT_EQ(v.frameBytes, "1,234,567");
  EXPECT_EQ(v.pctComplete, "25% Complete");
  EXPECT_EQ(v.traceDuration, "<00:00:01");
  s.status.conversionFinished = true;
  v = ComputeProgress(s, 1000, false);
  EXPECT_EQ(v.pctComplete, "Done.");
  EXPECT_EQ(v.percent, 100);
  s.status.writeFailed = true;
  v = ComputeProgress(s, 250, false);
  EXPECT_EQ(v.pctComplete, "FILE ERROR");
  EXPECT_EQ(v.percent, 25);  // the bar stays where it was
  EXPECT_TRUE(v.failed);
  // Stopped partway: the bar shows how much was read, not a full bar.
  s.status.writeFailed = false;
  v = ComputeProgress(s, 858, true);
  EXPECT_EQ(v.pctComplete, "FILE PARTIALLY CONVERTED");
  EXPECT_EQ(v.percent, 86);
  EXPECT_FALSE(v.failed);
  s.status.readError = true;
  v = ComputeProgress(s, 300, false);
  EXPECT_EQ(v.percent, 30);
  EXPECT_TRUE(v.failed);
  s.status.readError = false;
  v = ComputeProgress(s, 1000, false);
  EXPECT_EQ(v.percent, 100);
  EXPECT_FALSE(v.failed);
  s.status.writeFailed = false;
  s.status.writingIndex = true;
  v = ComputeProgress(s, 250, false);
  EXPECT_EQ(v.pctComplete, "Writing index data; please wait...");
  EXPECT_FALSE(v.buttonEnabled);
}

}  // namespace
}  // namespace morph
