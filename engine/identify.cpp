#include "engine/identify.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/file_block.h"
#include "engine/streams.h"

namespace morph {
namespace {

constexpr size_t kHeadBytes = 200;          // what identification looks at
constexpr int64_t kMinimumFileSize = 40;    // smaller files are "too small"
constexpr size_t kTopologyHeadBytes = 140;  // what topology determination looks at
constexpr int64_t kMinimumTopologySize = 50;
constexpr size_t kCommentLimit = 300;

// Only regular files are looked at: opening a FIFO or device could block or
// consume data.
bool IsRegularFile(const std::string& path, bool& accessDenied) {
  struct stat st {};
  accessDenied = false;
  if (stat(path.c_str(), &st) != 0) {
    accessDenied = errno == EACCES;
    return false;
  }
  return S_ISREG(st.st_mode);
}

// ------------------------------------------------------------ identification

// Whether a file of this size may be one of the family's: below the size
// every file must have, only a family whose header alone is smaller says so.
bool LargeEnoughFor(const FormatDescriptor* family, int64_t fileSize) {
  return fileSize >= kMinimumFileSize ||
         (family && family->smallestFile > 0 && fileSize >= family->smallestFile);
}

AnalyzerType IdentifyByContent(IdentifyInput& input) {
  // The first rule that matches decides: each family places its rules.
  for (const OrderedRule& step : IdentificationOrder()) {
    if (!LargeEnoughFor(step.family, input.fileSize)) continue;
    if (std::optional<AnalyzerType> type = step.rule->match(input)) return *type;
  }
  return Analyzer::Unknown;
}

// ------------------------------------------------------ topology determination

}  // namespace

ProbeResult ProbeSource(const ConversionState& s, AnalyzerType type, const std::string& fileName,
                        Topology topology) {
  ProbeResult result;
  if (!HasReader(type)) return result;
  SilentHost quiet;
  auto conversion = std::make_unique<Conversion>(quiet);
  ConversionState& p = conversion->state;
  p.sourceAnalyzer = type;
  p.targetAnalyzer = s.targetAnalyzer;
  p.sourceFileName = fileName;
  p.sourceCompressed = s.sourceCompressed;
  p.sourceFileSize = s.sourceFileSize;
  p.traceTopology = topology;
  p.wanProtocol = s.wanProtocol;
  p.sourceVariant = s.sourceVariant;
  result.ran = true;
  result.delivered = conversion->ProbeFirstFrame();
  result.topology = p.traceTopology;
  result.wanProtocol = p.wanProtocol;
  result.noFrames = p.sourceHasNoFrames;
  result.frameCount = p.sourceFrameCount;
  if (result.delivered) {
    const int32_t n = std::clamp(p.frame.storedLength, 0, 2);
    result.firstBytes.assign(p.frame.frameData.begin(), p.frame.frameData.begin() + n);
  }
  return result;
}

namespace {

uint32_t DefaultSpeed(Topology topology) {
  switch (topology) {
    case Topo::Ethernet: return 10000000;
    case Topo::TokenRing: return 16000000;
    case Topo::Fddi: return 100000000;
    case Topo::Wireless: return 11000000;
    default: return 0;
  }
}

}  // namespace

AnalyzerType IdentifySource(ConversionState& s, const std::string& fileName, bool& openFailed,
                            bool& tooSmall, std::unique_ptr<SourceStream>* opened) {
  bool accessDenied = false;
  std::unique_ptr<SourceStream> in;
  if (IsRegularFile(fileName, accessDenied)) in = OpenFileSource(fileName);
  if (!in) {
    s.sourceCompressed = false;
    s.sourceFileSize = 0;
    openFailed = true;
    tooSmall = false;
    return Analyzer::Unknown;
  }
  const AnalyzerType type = IdentifySource(s, *in, fileName, openFailed, tooSmall);
  if (opened && type != Analyzer::Unknown) *opened = std::move(in);
  return type;
}

AnalyzerType IdentifySource(ConversionState& s, SourceStream& in, const std::string& fileName,
                            bool& openFailed, bool& tooSmall) {
  openFailed = tooSmall = false;
  s.sourceCompressed = false;
  s.sourceFileSize = in.size();
  FileBlock head = ReadFileBlock(in, 0, kHeadBytes);
  if (in.failed() || int64_t(head.size()) < std::min(s.sourceFileSize, kMinimumFileSize)) {
    openFailed = true;
    return Analyzer::Unknown;
  }
  s.sourceVariant = 0;
  const std::string upperPath = Upper(fileName);
  IdentifyInput input{in,            head, fileName, upperPath, s.sourceFileSize, s.sourceCompressed,
                      s.sourceVariant, openFailed};
  AnalyzerType type = IdentifyByContent(input);
  if (in.failed()) openFailed = true;
  // A small file no family claims is too small to be a trace file.
  if (!openFailed && type == Analyzer::Unknown && s.sourceFileSize < kMinimumFileSize)
    tooSmall = true;
  return openFailed ? Analyzer::Unknown : type;
}

AnalyzerType IdentifySourceAs(ConversionState& s, const std::string& fileName, AnalyzerType type,
                              bool& openFailed, std::unique_ptr<SourceStream>* opened) {
  bool accessDenied = false;
  std::unique_ptr<SourceStream> in;
  if (IsRegularFile(fileName, accessDenied)) in = OpenFileSource(fileName);
  s.sourceCompressed = false;
  s.sourceVariant = 0;
  s.sourceFileSize = in ? in->size() : 0;
  FileBlock head;
  if (in) head = ReadFileBlock(*in, 0, kHeadBytes);
  openFailed = !in || in->failed();
  if (openFailed) return Analyzer::Unknown;
  const std::string upperPath = Upper(fileName + DefaultSuffix(type, Topo::Ethernet));
  for (const OrderedRule& step : IdentificationOrder()) {
    const IdentifyRule* rule = step.rule;
    bool compressed = false, failed = false;
    uint32_t variant = 0;
    IdentifyInput input{*in, head, fileName, upperPath, s.sourceFileSize, compressed, variant, failed};
    if (rule->match(input) == type && !failed) {
      s.sourceCompressed = compressed;
      s.sourceVariant = variant;
      break;
    }
  }
  if (opened) *opened = std::move(in);
  return type;
}

Topology DetermineTopology(ConversionState& s, AnalyzerType type, const std::string& fileName,
                           bool& openFailed, SourceStream* opened) {
  bool accessDenied = false;
  std::unique_ptr<SourceStream> own;
  if (!opened && IsRegularFile(fileName, accessDenied)) {
    own = OpenFileSource(fileName);
    if (!own) accessDenied = errno == EACCES;
  }
  SourceStream* in = opened ? opened : own.get();
  if (!in) {
    s.fileComment.clear();
    s.wanProtocol = Wan::NotKnown;
    s.fileLineSpeed = 0;
    s.lineSpeed = 0;
    openFailed = !accessDenied;  // a plain refusal of access is no open failure
    return Topo::Unknown;
  }
  return DetermineTopology(s, type, *in, fileName, openFailed);
}

Topology DetermineTopology(ConversionState& s, AnalyzerType type, SourceStream& in,
                           const std::string& fileName, bool& openFailed) {
  openFailed = false;
  s.fileComment.clear();
  s.wanProtocol = Wan::NotKnown;
  s.fileLineSpeed = 0;
  s.lineSpeed = 0;
  const FormatDescriptor* family = TopologyFormat(type);
  if (in.size() < kMinimumTopologySize &&
      !(family && family->smallestFile > 0 && in.size() >= family->smallestFile))
    return Topo::Unknown;
  FileBlock head = ReadFileBlock(in, 0, kTopologyHeadBytes);
  if (in.failed()) {
    openFailed = true;
    return Topo::Unknown;
  }

  uint32_t speed = 0;
  TopologyInput input{s, type, fileName, in, head, speed};
  Topology topology = family ? family->topology(input) : Topo::Unknown;
  if (s.fileComment.size() > kCommentLimit) s.fileComment.resize(kCommentLimit);

  s.fileLineSpeed = speed;
  if (speed == 0) speed = DefaultSpeed(topology);
  // Media nobody named, at a typical Ethernet speed, is taken as Ethernet. Not
  // a wireless capture refused for its analyzer version: that refusal stands.
  if (topology == Topo::Unknown && !Analyzers(type).unstatedMedia &&
      (speed == 10000000 || speed == 100000000))
    topology = Topo::Ethernet;
  s.lineSpeed = speed;
  return topology;
}

}  // namespace morph
