// libpcap reader and writer: byte-exact records, variants, byte orders, times.
#include <gtest/gtest.h>

#include "engine/timebase.h"
#include "formats/pcap.h"
#include "tests/testkit.h"

namespace morph {
namespace {

using namespace testkit;

TEST(PcapRoundTrip, EthernetFramesKeepBytesLengthsAndTimes) {
  TempDir dir;
  Trace trace = MakeTrace(Topo::Ethernet, 50);
  WriteTrace(trace, Analyzer::Tcpdump, dir.path("a.pcap"));
  ReadResult back = ReadTrace(dir.path("a.pcap"));
  ASSERT_EQ(back.analyzer, Analyzer::Tcpdump);
  EXPECT_EQ(back.topology, Topo::Ethernet);
  ExpectSameFrames(trace, back.trace);
  EXPECT_TRUE(back.messages.empty());
}

}  // namespace
}  // namespace morph
