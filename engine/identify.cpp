#include "engine/identify.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/streams.h"
#include "formats/pcap.h"

namespace morph {
namespace {

constexpr size_t kHeadBytes = 200;
constexpr int64_t kMinimumFileSize = 40;

std::string Upper(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The first bytes of the file, searchable as text.
struct Head {
  uint8_t bytes[kHeadBytes] = {};
  size_t size = 0;
  bool startsWith(const char* text) const {
    size_t n = std::strlen(text);
    return n <= size && std::memcmp(bytes, text, n) == 0;
  }
  bool contains(const void* needle, size_t n) const {
    if (n > size) return false;
    return std::search(bytes, bytes + size, static_cast<const uint8_t*>(needle),
                       static_cast<const uint8_t*>(needle) + n) != bytes + size;
  }
  bool contains(const char* text) const { return contains(text, std::strlen(text)); }
  uint8_t at(size_t i) const { return i < size ? bytes[i] : 0; }
};

AnalyzerType IdentifyPcap(ConversionState& s, SourceStream& in, uint32_t magic) {
  if (!PcapFlagsFromMagic(magic, s)) return Analyzer::Unknown;
  if (!PcapVersionOk(in, s.TcpdumpSwapBytes)) return Analyzer::Unknown;
  if (magic != kPcapMagicStandard) return Analyzer::Tcpdump;
  switch (ProbePcapRecordLayout(in)) {
    case PcapProbe::Standard: return Analyzer::Tcpdump;
    case PcapProbe::Modified: s.TcpdumpModified = true; return Analyzer::Tcpdump;
    case PcapProbe::Nokia: s.TcpdumpNokia = true; return Analyzer::Tcpdump;
    default: return Analyzer::Unknown;
  }
}

}  // namespace

AnalyzerType IdentifySource(ConversionState& s, const std::string& fileName, bool& openFailed,
                            bool& tooSmall) {
  openFailed = tooSmall = false;
  s.SourceCompressed = false;
  auto in = OpenFileSource(fileName);
  if (!in) {
    openFailed = true;
    return Analyzer::Unknown;
  }
  s.SourceFileSize = in->size();
  if (s.SourceFileSize < kMinimumFileSize) {
    tooSmall = true;
    return Analyzer::Unknown;
  }
  Head head;
  head.size = in->read(head.bytes, kHeadBytes);
  if (in->failed() || head.size < size_t(kMinimumFileSize)) {
    openFailed = true;
    return Analyzer::Unknown;
  }
  const std::string path = Upper(fileName);
  (void)path;

  // libpcap, by its magic number.
  const uint32_t magic = GetLE32(head.bytes);
  if (magic == kPcapMagicStandard || magic == kPcapMagicSwapped || magic == kPcapMagicModified ||
      magic == kPcapMagicModifiedSwapped) {
    AnalyzerType type = IdentifyPcap(s, *in, magic);
    if (in->failed()) openFailed = true;
    return type;
  }
  return Analyzer::Unknown;
}

Topology DetermineTopology(ConversionState& s, AnalyzerType type, const std::string& fileName,
                           bool& openFailed) {
  openFailed = false;
  s.FileComment.clear();
  s.WanProtocol = Wan::NotKnown;
  s.FileLineSpeed = 0;
  auto in = OpenFileSource(fileName);
  if (!in) {
    openFailed = true;
    return Topo::Unknown;
  }
  if (in->size() < 50) return Topo::Unknown;
  Topology topology = Topo::Unknown;
  uint32_t speed = 0;
  switch (type) {
    case Analyzer::Tcpdump: {
      uint32_t linkType = 0;
      if (!PcapLinkType(*in, s.TcpdumpSwapBytes, linkType)) {
        openFailed = true;
        return Topo::Unknown;
      }
      topology = PcapTopology(linkType, speed);
      break;
    }
    default:
      break;
  }
  s.FileLineSpeed = speed;
  if (speed == 0) {
    switch (topology) {
      case Topo::Ethernet: speed = 10000000; break;
      case Topo::TokenRing: speed = 16000000; break;
      case Topo::Fddi: speed = 100000000; break;
      case Topo::Wireless: speed = 11000000; break;
      default: break;
    }
  }
  if (topology == Topo::Unknown && (speed == 10000000 || speed == 100000000))
    topology = Topo::Ethernet;
  s.LineSpeed = speed;
  return topology;
}

}  // namespace morph
