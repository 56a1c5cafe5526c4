// Every reader of the registry on arbitrary bytes, and its family's topology
// hook. What a reader delivers is
// written through every writer the program would offer for the trace's media
// (in memory) and the output read back by that writer's own reader.
// The first four input bytes pick the reader (the analyzer type's number),
// the media (the topology's number), the options and the sizes of the
// blocks the source serves and the target takes (so that records straddle
// blocks, and every reader's in-place path and every writer's in-block path
// run); the rest is the file.
// Numbers are the stored ones, so corpus files keep their meaning as the
// registry grows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/format.h"
#include "engine/host.h"
#include "engine/identify.h"
#include "engine/streams.h"
#include "engine/targets.h"
#include "formats/pcap.h"

namespace {

using morph::AnalyzerType;
using morph::Topology;

// Every analyzer type some family reads, in registry order.
const std::vector<AnalyzerType>& Readers() {
  static const std::vector<AnalyzerType> readers = [] {
    std::vector<AnalyzerType> list;
    for (const morph::FormatDescriptor* family : morph::RegisteredFormats())
      for (int t = 0; t < morph::Analyzer::Count; ++t)
        if (family->nextRecord && morph::InMask(family->reads, AnalyzerType(t)))
          list.push_back(AnalyzerType(t));
    return list;
  }();
  return readers;
}

// Every media a topology hook can report.
Topology PickTopology(uint8_t b) {
  Topology t = morph::TopologyFromNumber(b % 21);
  return t == Topology::Unused2 ? Topology::Wireless : t;
}

struct Choice {
  AnalyzerType reader;
  Topology topology;
  uint32_t variant;
  uint32_t wanProtocol;
  bool slice;
  bool toEthernet;
  uint32_t lineSpeed;
  bool salvage;  // readers that can go on past damage do
  std::vector<size_t> sourceBlocks, targetBlocks;
};

// Block sizes a selector byte picks from: 0 is a source's whole file in one
// window, a target's block of a file target's size.
constexpr size_t kBlockSizes[] = {0, 1, 3, 7, 16, 17, 33, 60, 64, 100, 128, 512, 1000, 1514, 2048, 4096};

void PickBlocks(uint8_t b, Choice& c) {
  const size_t first = kBlockSizes[b & 15], second = kBlockSizes[b >> 4];
  const auto source = [](size_t n) { return n ? n : SIZE_MAX; };
  const auto target = [](size_t n) { return n ? n : size_t(128) << 10; };
  c.sourceBlocks = {source(first), source(second)};
  c.targetBlocks = {target(second), target(first)};
}

// Runs one conversion of `bytes`. With a target type, returns what its
// writer wrote; without, only counts the frames the reader delivers.
struct Outcome {
  int32_t frames = 0;
  std::vector<uint8_t> written;
};
Outcome Convert(const Choice& c, std::optional<AnalyzerType> targetType,
                const std::vector<uint8_t>& bytes) {
  morph::SilentHost host;
  auto conversion = std::make_unique<morph::Conversion>(host);
  morph::ConversionState& s = conversion->state;
  s.sourceAnalyzer = c.reader;
  s.sourceVariant = c.variant;
  s.sourceFileSize = int64_t(bytes.size());
  s.traceTopology = c.topology;
  s.wanProtocol = c.wanProtocol;
  s.lineSpeed = c.lineSpeed;
  s.targetAnalyzer = targetType.value_or(morph::Analyzer::Tcpdump);
  s.options.sliceFrames = c.slice;
  s.options.sliceLength = 50;
  s.options.convertToEthernet = c.toEthernet;
  s.options.salvage = c.salvage;
  conversion->source = morph::OpenMemorySource(bytes, c.sourceBlocks);
  auto target = std::make_unique<morph::MemoryTarget>(c.targetBlocks);
  morph::MemoryTarget& out = *target;
  conversion->target = std::move(target);
  Outcome outcome;
  // Every frame delivered holds no more bytes than the frame buffer, nor than
  // the frame had on the wire.
  if (!targetType)
    conversion->frameObserver = [&outcome](morph::Conversion& conv) {
      const morph::ConversionState& f = conv.state;
      if (f.frame.storedLength < 0 || f.frame.storedLength > morph::MaxFrameBytes ||
          f.frame.storedLength > f.frame.frameLength) {
        std::fprintf(stderr, "analyzer %d frame %d: stored %d of %d bytes\n",
                     int(f.sourceAnalyzer), int(f.counters.framesRead), int(f.frame.storedLength),
                     int(f.frame.frameLength));
        std::abort();
      }
      ++outcome.frames;
    };
  conversion->ConvertTrace(false, 0);
  if (targetType) {
    outcome.frames = s.counters.framesWritten;
    outcome.written = out.bytes();
  }
  return outcome;
}

// Reads a written file back the way the program would meet it: identified
// and its media determined from its bytes, then read.
void ReadBack(const Choice& written, AnalyzerType writer, const std::vector<uint8_t>& bytes) {
  const std::string name = "written" + morph::DefaultSuffix(writer, written.topology);
  auto state = std::make_unique<morph::ConversionState>();
  bool openFailed = false, tooSmall = false;
  auto in = morph::OpenMemorySource(bytes, written.sourceBlocks);
  AnalyzerType type = morph::IdentifySource(*state, *in, name, openFailed, tooSmall);
  if (type == morph::Analyzer::Unknown) type = writer;
  if (!morph::HasReader(type)) return;
  Topology topology = morph::DetermineTopology(*state, type, *in, name, openFailed);
  Choice back = written;
  back.reader = type;
  back.variant = state->sourceVariant;
  back.topology = topology == Topology::Unknown ? written.topology : topology;
  back.wanProtocol = state->wanProtocol;
  back.slice = back.toEthernet = back.salvage = false;
  Convert(back, std::nullopt, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  Choice c;
  c.reader = morph::AnalyzerFromNumber(data[0] % morph::Analyzer::Count);
  if (!morph::HasReader(c.reader)) c.reader = Readers()[data[0] % Readers().size()];
  c.topology = PickTopology(data[1] & 0x1F);
  c.slice = (data[1] & 0x20) != 0;
  c.toEthernet = (data[1] & 0x40) != 0 && c.topology == Topology::Wireless;
  c.lineSpeed = (data[1] & 0x80) ? 1000000000u : 10000000u;
  c.variant = data[2] & 0x07;
  c.wanProtocol = (data[2] >> 3) % 9;
  c.salvage = (data[2] & 0x80) != 0;  // shares its bit with the WAN protocol's choice
  PickBlocks(data[3], c);
  const std::vector<uint8_t> file(data + 4, data + size);

  // The family's topology hook on the same bytes.
  {
    auto state = std::make_unique<morph::ConversionState>();
    auto in = morph::OpenMemorySource(file, c.sourceBlocks);
    bool openFailed = false;
    morph::DetermineTopology(*state, c.reader, *in, "input", openFailed);
  }

  if (Convert(c, std::nullopt, file).frames == 0) return 0;

  static const morph::CapabilitySets caps = morph::DefaultCapabilities();
  const auto writers =
      morph::OfferedTargets(caps, morph::TargetClassFor(c.topology, c.toEthernet, false),
                            c.topology, c.toEthernet, false);
  for (AnalyzerType writer : writers) {
    Outcome out = Convert(c, writer, file);
    if (out.written.empty()) continue;
    Choice written = c;
    if (c.toEthernet) written.topology = Topology::Ethernet;
    ReadBack(written, writer, out.written);
  }
  return 0;
}
