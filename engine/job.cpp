#include "engine/job.h"

#include <sys/stat.h>

#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/conversion.h"
#include "engine/file_date.h"
#include "engine/identify.h"
#include "engine/streams.h"

namespace morph {
namespace {

constexpr const char* kOpenCaption = "Open Trace File";

bool Refuse(Host& host, const std::string& text) {
  host.message(kOpenCaption, text, MessageIcon::Warning);
  return false;
}

Outcome OutcomeOf(const ConversionState& s) {
  if (s.ReadError) return Outcome::ReadError;
  if (s.WriteFailed) return Outcome::WriteFailed;
  if (s.FramesWritten - s.NonDataFrames < 1) return Outcome::NoFrames;
  if (s.StopRequested) return Outcome::Stopped;
  if (s.BadCompression) return Outcome::BadCompression;
  return Outcome::Converted;
}

}  // namespace

std::string SourceFacts::displayName() const {
  return SourceDisplayName(analyzer, variant, compressed);
}

std::string SourceFacts::interfaceName() const {
  std::string name = TopologyName(topology);
  if (IsWanTopology(topology)) name += WanProtocolName(wanProtocol);
  return name;
}

SourceFacts FactsOf(const ConversionState& s) {
  SourceFacts f;
  f.path = s.SourceFileName;
  f.analyzer = s.SourceAnalyzer;
  f.topology = s.TraceTopology;
  f.wanProtocol = s.WanProtocol;
  f.lineSpeed = s.LineSpeed;
  f.fileLineSpeed = s.FileLineSpeed;
  f.comment = s.FileComment;
  f.frameCount = s.SourceFrameCount;
  f.compressed = s.SourceCompressed;
  f.variant = s.SourceVariant;
  f.fileSize = s.SourceFileSize;
  f.dateText = s.SourceFileDateText;
  return f;
}

void ApplyFacts(const SourceFacts& f, ConversionState& s) {
  s.SourceFileName = f.path;
  s.SourceAnalyzer = f.analyzer;
  s.TraceTopology = f.topology;
  s.WanProtocol = f.wanProtocol;
  s.LineSpeed = f.lineSpeed;
  s.FileLineSpeed = f.fileLineSpeed;
  s.FileComment = f.comment;
  s.SourceFrameCount = f.frameCount;
  s.SourceCompressed = f.compressed;
  s.SourceVariant = f.variant;
  s.SourceFileSize = f.fileSize;
  s.SourceFileDateText = f.dateText;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

SourceCheck CheckSource(ConversionState& s, const CapabilitySets& caps, const std::string& path,
                        Host& host, std::unique_ptr<SourceStream>* opened) {
  SourceCheck check;
  const std::string name = FileNamePart(path);
  bool openFailed = false, tooSmall = false;
  s.SourceFileName = path;
  s.SourceFrameCount = 0;
  std::unique_ptr<SourceStream> in;
  check.analyzer = s.SourceAnalyzer = IdentifySource(s, path, openFailed, tooSmall, &in);
  s.SourceFileDateText = FileDateText(path);
  if (tooSmall) return Refuse(host, name + " is too small."), check;
  if (openFailed)
    return Refuse(host, "Unable to open Source file.  File is in use or name is bad."), check;
  if (check.analyzer == Analyzer::Glimmerhollow)
    return Refuse(host, name + " must be opened by Ostrawind first."), check;
  if (check.analyzer == Analyzer::Unknown)
    return Refuse(host, name + " is obsolete, not supported, or not a trace file."), check;

  s.SourceHasNoFrames = false;
  check.topology = s.TraceTopology = DetermineTopology(s, check.analyzer, path, openFailed, in.get());
  check.facts = FactsOf(s);
  if (check.topology == Topo::Unused2 || Number(check.topology) >= Number(Topo::Unknown)) {
    if (check.analyzer == Analyzer::Skavelin)
      return Refuse(host, "Skavelin files created prior to Skavelin 1.1 are not supported."), check;
    if (const FormatDescriptor* family = TopologyFormat(check.analyzer);
        family && family->unreadLayout)
      if (std::string refusal = family->unreadLayout(path, name); !refusal.empty())
        return Refuse(host, refusal), check;
    return Refuse(host, name + " contains an unsupported format or interface."), check;
  }
  if (!SourceSupported(caps, check.analyzer, check.topology, s.WanProtocol))
    return Refuse(host, name + " contains an unsupported analyzer or topology."), check;
  if (s.SourceHasNoFrames) return Refuse(host, name + " contains no frames."), check;
  check.accepted = true;
  if (opened) *opened = std::move(in);
  return check;
}

JobResult RunConversionJob(const JobRequest& request, const CapabilitySets& caps, Host& host) {
  JobResult result;
  Conversion conversion(host);
  ConversionState& s = conversion.state;
  s.ConvertToEthernet = request.convertToEthernet;
  s.ConvertToWireless = request.convertToWireless;

  if (!HasWriter(request.target)) {
    // Offered by the analyzer's capabilities, but no writer exists for it yet.
    host.message("Output", "Writing " + AnalyzerName(request.target) + " files is not supported.",
                 MessageIcon::Error);
    result.outcome = Outcome::NoWriter;
    return result;
  }
  SourceCheck check;
  std::unique_ptr<SourceStream> opened;
  if (request.checkedSource && request.checkedSource->path == request.sourcePath) {
    ApplyFacts(*request.checkedSource, s);
    check.accepted = true;
    check.analyzer = s.SourceAnalyzer;
    check.topology = s.TraceTopology;
  } else {
    check = CheckSource(s, caps, request.sourcePath, host, &opened);
  }
  if (!check.accepted) return result;

  // The media conversions apply only where their box would be shown.
  s.ConvertToEthernet = request.convertToEthernet && check.topology == Topo::Wireless;
  s.ConvertToWireless = request.convertToWireless && check.topology == Topo::Ethernet;
  s.TargetAnalyzer = request.target;
  std::string targetPath = request.targetPath;
  if (targetPath.empty()) {
    std::string field = request.outputDirectory;
    if (!field.empty() && field.back() != '/') field += '/';
    DestinationRequest d{request.sourcePath, field, check.analyzer, request.target, check.topology,
                         s.ConvertToEthernet, s.ConvertToWireless};
    targetPath = DefaultTargetName(d);
  }
  result.targetPath = s.TargetFileName = targetPath;

  struct stat st {};
  bool exists = stat(targetPath.c_str(), &st) == 0;
  if (targetPath == request.sourcePath || (exists && SameFile(targetPath, request.sourcePath))) {
    host.message("Alert", "Destination cannot be the same as the source file.",
                 MessageIcon::Warning);
    result.outcome = Outcome::SameFile;
    return result;
  }
  if (exists && !request.overwrite) {
    Answer answer = host.ask("Confirm",
                             "Destination file '" + FileNamePart(targetPath) +
                                 "' already exists.  Overwrite?",
                             request.yesToAllOffered);
    if (answer == Answer::No || answer == Answer::Cancel) {
      result.outcome = Outcome::NotOverwritten;
      return result;
    }
    result.yesToAll = answer == Answer::YesToAll;
  }
  // Advisor targets are created by their library when the first frame comes.
  if (!WriterOwnsTarget(request.target)) conversion.target = CreateFileTarget(targetPath);
  if (!conversion.target && !WriterOwnsTarget(request.target)) {
    host.message("Error", "Unable to open Destination File.  Check the path and file Name.",
                 MessageIcon::Warning);
    result.outcome = Outcome::DestinationError;
    return result;
  }

  s.SliceFrames = request.sliceFrames;
  s.SliceLength = request.sliceLength;
  s.ConvertAll = request.convertAll;
  s.StartFrame = request.startFrame;
  s.EndFrame = request.endFrame;
  s.TextOptions = request.textOptions;
  // A libpcap source proposes its own byte order and record variant.
  const bool pcapSource = check.analyzer == Analyzer::Tcpdump;
  s.PcapOutput.bigEndian = request.pcapSwapBytes.value_or(
      pcapSource ? (s.SourceVariant & PcapVariant::BigEndian) != 0 : request.pcapSwapDefault);
  s.PcapOutput.modified = request.pcapModified.value_or(
      pcapSource ? (s.SourceVariant & PcapVariant::Modified) != 0 : request.pcapModifiedDefault);

  // The plain file identification opened is read on; a gzip source or a
  // reader that opens its own files starts afresh.
  const FormatDescriptor* reader = ReaderFormat(check.analyzer);
  if (opened && !s.SourceCompressed && reader && !reader->has(Capability::OwnSource))
    conversion.source = std::move(opened);
  opened.reset();
  conversion.ConvertTrace(false, request.holdMilliseconds);
  result.outcome = OutcomeOf(s);
  result.framesWritten = s.FramesWritten - s.NonDataFrames;
  result.frameBytes = s.FrameBytesTotal;
  result.failureDetail = s.ReadError ? s.ReadErrorDetail : s.WriteFailed ? s.WriteErrorDetail : "";
  return result;
}

}  // namespace morph
