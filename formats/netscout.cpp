// NetScout frame files. Frames are read in table order, wherever their bytes
// lie; the table is bounded by what the file can hold before it is read.
#include "formats/netscout.h"

#include <algorithm>
#include <vector>

#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

using namespace NetScout;

constexpr uint32_t kStatusCrc = 0x04;

struct ReaderContext : FormatContext {
  uint32_t frames = 0;
  uint16_t maxStored = 0;
  std::vector<uint8_t> table;
  size_t next = 0;  // entry under the cursor
};

void ReadHeaderStep(Conversion& c) {
  ConversionState& s = c.state;
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  uint8_t h[kHeaderSize];
  if (!c.source->readExact(h, sizeof h)) {
    FailRead(s, "the NetScout header is cut short");
    return;
  }
  r.frames = GetBE32(h + 64);
  r.maxStored = GetBE16(h + 76);
  StartTraceAtKnownUnixTime(s, GetBE32(h + 80));
  const int64_t tableBytes = int64_t(r.frames) * kEntrySize;
  const int64_t room = c.source->size() - kTableAt;
  if (tableBytes > std::max<int64_t>(room, 0)) {
    FailRead(s, "frame count " + Grouped(r.frames) + " needs a table of " + Grouped(tableBytes) +
                    " bytes; the file holds " + Grouped(std::max<int64_t>(room, 0)) +
                    " after offset 4,224");
    return;
  }
  r.table.resize(size_t(tableBytes));
  if (!c.source->seek(kTableAt) || !c.source->readExact(r.table.data(), r.table.size()))
    FailRead(s, AtOffset(kTableAt) + "the frame table cannot be read");
}

// Fills the current frame from the entry under the cursor.
bool ReadEntry(Conversion& c, ReaderContext& r) {
  ConversionState& s = c.state;
  const uint8_t* e = r.table.data() + r.next * kEntrySize;
  ++r.next;
  const int64_t record = s.counters.framesRead + 1;
  const uint32_t wire = GetBE32(e + 8), millis = GetBE32(e + 12), status = GetBE32(e + 16);
  const uint32_t position = GetBE32(e + 24);
  s.frame.frameTime = int64_t(millis) * 1000;
  s.frame.frameFlags = (status & kStatusCrc) ? Flag::CrcError : 0;
  // Lengths beyond the largest frame are clamped before anything is read.
  s.frame.frameLength = int32_t(std::min<uint32_t>(wire, ClassicFrameBytes));
  s.frame.storedLength = std::min<int32_t>(r.maxStored, s.frame.frameLength);
  if (!c.source->seek(position) ||
      !c.source->readExact(s.frame.frameData.data(), size_t(s.frame.storedLength))) {
    FailRead(s, AtRecord(record, position) + "the frame's " + Grouped(s.frame.storedLength) +
                    " stored bytes cannot be read");
    return false;
  }
  return true;
}

ReadStatus NextRecord(Conversion& c) {
  ReaderContext& r = c.ReaderContext<ReaderContext>();
  const bool more = r.next < r.frames && r.next < r.table.size() / kEntrySize;
  const ReadStatus status = RecordOrEnd(c.state, more && ReadEntry(c, r));
  // The table is let go once the frames are read.
  if (status != ReadStatus::Record) std::vector<uint8_t>().swap(r.table);
  return status;
}

}  // namespace

std::optional<AnalyzerType> IdentifyNetScout(IdentifyInput& in) {
  if (in.head.startsWith("NetScout Frame File\n")) return Analyzer::NetScout;
  return std::nullopt;
}

Topology NetScoutTopology(TopologyInput& t) {
  switch (t.head.be16(78)) {
    case 0: return Topo::Ethernet;
    case 1: return Topo::TokenRing;
    case 2: return Topo::Fddi;
    case 3: return Topo::Wan;
    default: return Topo::Unknown;
  }
}

namespace {
constexpr FriendlyName kNetScoutNames[] = {{Analyzer::NetScout, "netscout"}};
// Tried at 210: text magic at offset 0.
constexpr IdentifyRule kNetScoutRules[] = {{"netscout", IdentifyNetScout, 210}};
}  // namespace

constexpr AnalyzerInfo kNetScoutAnalyzers[] = {
    {Analyzer::NetScout, "NetScout (NetScout Systems)", "NS", ".dat",
     Media::Ethernet, Offer::SourceOnly},
};

const FormatDescriptor kNetScoutFormat = {
    .family = "NetScout",
    .analyzers = kNetScoutAnalyzers,
    .reads = MaskOf({Analyzer::NetScout}),
    .aliases = kNetScoutNames,
    .sourcePatterns = "*.dat",
    .identify = kNetScoutRules,
    .topology = NetScoutTopology,
    .readHeader = ReadHeaderStep,
    .nextRecord = NextRecord,
};

}  // namespace morph
