#include "engine/job.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/format.h"
#include "engine/identify.h"
#include "engine/link_types.h"
#include "engine/replacement_file.h"
#include "engine/streams.h"
#include "engine/timebase.h"

namespace morph {
namespace {

constexpr const char* kOpenCaption = "Open Trace File";
constexpr const char* kStandardOutput = "-";

// Why a source cannot be opened, asked of the system afresh.
std::string OpenFailureDetail(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return SystemErrorDetail(path);
  if (S_ISDIR(st.st_mode)) return path + ": Is a directory";
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return SystemErrorDetail(path);
  fclose(f);
  return path + ": cannot be read";
}

bool Refuse(Host& host, const std::string& text) {
  host.message(kOpenCaption, text, MessageIcon::Warning);
  return false;
}

Outcome OutcomeOf(const ConversionState& s) {
  // A layout the reader does not take (a wrapped capture) is refused, not read.
  if (s.status.wrappedSource) return Outcome::SourceRefused;
  if (s.status.readError) return Outcome::ReadError;
  if (s.status.writeFailed) return Outcome::WriteFailed;
  if (s.counters.framesWritten - s.counters.nonDataFrames < 1) return Outcome::NoFrames;
  // Damage passed over is a read error, whatever else happened after it.
  if (s.counters.skipped.any()) return Outcome::ReadError;
  if (s.status.stopRequested) return Outcome::Stopped;
  if (s.status.badCompression) return Outcome::BadCompression;
  return Outcome::Converted;
}

}  // namespace

std::string SourceFacts::displayName() const {
  return SourceDisplayName(analyzer, variant, compressed);
}

std::string SourceFacts::interfaceName() const {
  // A link type of no medium of ours is named as it stands.
  if (topology == Topo::Unknown && !interfaces.empty()) {
    const char* known = LinkTypeName(interfaces.front().linkType);
    return known ? known : LinkTypeText(interfaces.front().linkType);
  }
  std::string name = TopologyName(topology);
  if (IsWanTopology(topology)) name += WanProtocolName(wanProtocol);
  return name;
}

SourceFacts FactsOf(const ConversionState& s) {
  SourceFacts f;
  f.path = s.sourceFileName;
  f.analyzer = s.sourceAnalyzer;
  f.topology = s.traceTopology;
  f.wanProtocol = s.wanProtocol;
  f.lineSpeed = s.lineSpeed;
  f.fileLineSpeed = s.fileLineSpeed;
  f.comment = s.fileComment;
  f.frameCount = s.sourceFrameCount;
  f.compressed = s.sourceCompressed;
  f.variant = s.sourceVariant;
  f.fileSize = s.sourceFileSize;
  f.dateText = s.sourceFileDateText;
  f.interfaces = s.sourceInterfaces;
  return f;
}

void ApplyFacts(const SourceFacts& f, ConversionState& s) {
  s.sourceFileName = f.path;
  s.sourceAnalyzer = f.analyzer;
  s.traceTopology = f.topology;
  s.wanProtocol = f.wanProtocol;
  s.lineSpeed = f.lineSpeed;
  s.fileLineSpeed = f.fileLineSpeed;
  s.fileComment = f.comment;
  s.sourceFrameCount = f.frameCount;
  s.sourceCompressed = f.compressed;
  s.sourceVariant = f.variant;
  s.sourceFileSize = f.fileSize;
  s.sourceFileDateText = f.dateText;
  s.sourceInterfaces = f.interfaces;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

SourceCheck CheckSource(ConversionState& s, const CapabilitySets& caps, const std::string& path,
                        Host& host, std::unique_ptr<SourceStream>* opened,
                        const std::string& shownName, std::optional<AnalyzerType> readAs) {
  SourceCheck check;
  const std::string name = shownName.empty() ? FileNamePart(path) : shownName;
  bool openFailed = false, tooSmall = false;
  s.sourceFileName = path;
  s.sourceFrameCount = 0;
  std::unique_ptr<SourceStream> in;
  check.analyzer = s.sourceAnalyzer =
      readAs ? IdentifySourceAs(s, path, *readAs, openFailed, &in)
             : IdentifySource(s, path, openFailed, tooSmall, &in);
  s.sourceFileDateText = FileDateText(path);
  if (tooSmall) return Refuse(host, name + " is too small."), check;
  if (openFailed) {
    host.failure(kOpenCaption, "Unable to open Source file.  File is in use or name is bad.",
                 OpenFailureDetail(path), MessageIcon::Warning);
    return check;
  }
  if (const char* notRead = Analyzers(check.analyzer).notRead)
    return Refuse(host, name + notRead), check;
  if (check.analyzer == Analyzer::Unknown)
    return Refuse(host, name + " is obsolete, not supported, or not a trace file."), check;

  s.sourceHasNoFrames = false;
  s.sourceInterfaces.clear();
  check.topology = s.traceTopology = DetermineTopology(s, check.analyzer, path, openFailed, in.get());
  check.facts = FactsOf(s);
  // A file that states its own link type is read whatever medium that is.
  const bool ownLinkType = check.topology == Topo::Unknown && caps.linkTypes.test(check.analyzer);
  if (!ownLinkType &&
      (check.topology == Topo::Unused2 || Number(check.topology) >= Number(Topo::Unknown))) {
    if (const char* refusal = Analyzers(check.analyzer).unstatedMedia)
      return Refuse(host, refusal), check;
    if (const FormatDescriptor* family = TopologyFormat(check.analyzer);
        family && family->unreadLayout)
      if (std::string refusal = family->unreadLayout(path, name); !refusal.empty())
        return Refuse(host, refusal), check;
    return Refuse(host, name + " contains an unsupported format or interface."), check;
  }
  if (!HasReader(check.analyzer) ||
      !SourceSupported(caps, check.analyzer, check.topology, s.wanProtocol))
    return Refuse(host, name + " contains an unsupported analyzer or topology."), check;
  if (s.sourceHasNoFrames) return Refuse(host, name + " contains no frames."), check;
  check.accepted = true;
  if (opened) *opened = std::move(in);
  return check;
}

namespace {

std::string TargetPathFor(const JobRequest& request, const SourceCheck& check,
                          const ConversionState& s) {
  if (!request.targetPath.empty()) return request.targetPath;
  std::string field = request.outputDirectory;
  if (!field.empty() && field.back() != '/') field += '/';
  DestinationRequest d{request.sourcePath, field, check.analyzer, request.target, check.topology,
                       s.options.convertToEthernet, s.options.convertToWireless};
  return DefaultTargetName(d);
}

bool SeveralLinkTypes(const std::vector<SourceInterface>& interfaces) {
  for (const SourceInterface& i : interfaces)
    if (i.linkType != interfaces.front().linkType) return true;
  return false;
}

// "\n  interface 0: link type 1 (Ethernet), eth0" for each interface.
std::string InterfaceList(const std::vector<SourceInterface>& interfaces) {
  std::string list;
  for (size_t n = 0; n < interfaces.size(); ++n) {
    list += "\n  interface " + std::to_string(n) + ": " + LinkTypeText(interfaces[n].linkType);
    if (!interfaces[n].name.empty()) list += ", " + interfaces[n].name;
  }
  return list;
}

// Narrows the conversion to the interface the request chose: its frames
// alone, of its medium. False, said, when the source has no such interface.
bool ChooseInterface(const JobRequest& request, ConversionState& s, SourceCheck& check,
                     const std::string& shownName, Host& host) {
  if (!request.interfaceNumber) return true;
  const int32_t n = *request.interfaceNumber;
  // A format without interface descriptions has its one, interface 0.
  if (s.sourceInterfaces.empty() && n == 0) return true;
  if (n < 0 || size_t(n) >= s.sourceInterfaces.size()) {
    host.message("Options",
                 shownName + " has no interface " + std::to_string(n) +
                     (s.sourceInterfaces.empty() ? "." : "; its interfaces:" +
                                                             InterfaceList(s.sourceInterfaces)),
                 MessageIcon::Error);
    return false;
  }
  s.options.onlyInterface = n;
  check.topology = s.traceTopology = s.sourceInterfaces[size_t(n)].topology;
  return true;
}

// Interfaces of several link types go to a target that holds one only
// through a choice: refused, naming both ways out, before anything is written.
bool RefuseSeveralLinkTypes(const JobRequest& request, const ConversionState& s,
                            const std::string& shownName, Host& host) {
  const FormatDescriptor* writer = WriterFormat(request.target);
  const bool media = request.convertToEthernet || request.convertToWireless;
  if (s.options.onlyInterface >= 0 || !SeveralLinkTypes(s.sourceInterfaces) ||
      (writer && writer->has(Capability::SeveralInterfaces) && !media))
    return false;
  host.message("Output",
               shownName + " holds interfaces of more than one link type, which " +
                   (media ? "a media conversion cannot take" : "a " + AnalyzerName(request.target) +
                                                                   " file cannot hold") +
                   ":" + InterfaceList(s.sourceInterfaces) +
                   "\nConvert one interface with --interface N, or each to a file of its own "
                   "with --split-interfaces.",
               MessageIcon::Error);
  return true;
}

}  // namespace

std::string InterfaceTargetName(const std::string& targetPath, int32_t n) {
  const size_t slash = targetPath.find_last_of('/');
  const size_t dot = targetPath.find_last_of('.');
  const std::string tag = ".if" + std::to_string(n);
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return targetPath + tag;
  return targetPath.substr(0, dot) + tag + targetPath.substr(dot);
}

std::string PlannedTargetPath(const JobRequest& request, const CapabilitySets& caps) {
  SilentHost silent;
  Conversion conversion(silent);
  ConversionState& s = conversion.state;
  SourceCheck check =
      CheckSource(s, caps, request.sourcePath, silent, nullptr, {}, request.sourceType);
  if (!check.accepted) return "";
  s.options.convertToEthernet = request.convertToEthernet && check.topology == Topo::Wireless;
  s.options.convertToWireless = request.convertToWireless && check.topology == Topo::Ethernet;
  return TargetPathFor(request, check, s);
}

namespace {

void ApplyOptions(const JobRequest& request, ConversionState& s) {
  s.options.sliceFrames = request.sliceFrames;
  s.options.sliceLength = request.sliceLength;
  s.options.convertAll = request.convertAll;
  s.options.startFrame = request.startFrame;
  s.options.endFrame = request.endFrame;
  s.options.selection = request.selection;
  if (const auto& ranges = request.selection.ranges; !ranges.empty()) {
    s.options.convertAll = false;
    s.options.startFrame =
        std::min_element(ranges.begin(), ranges.end(),
                         [](auto& a, auto& b) { return a.first < b.first; })->first;
    s.options.endFrame =
        std::max_element(ranges.begin(), ranges.end(),
                         [](auto& a, auto& b) { return a.last < b.last; })->last;
  }
  s.options.splitFrames = request.splitFrames;
  s.options.splitMicroseconds = request.splitMicroseconds;
  s.options.splitAtLimits = request.splitAtLimits;
  s.options.salvage = request.salvage;
  s.options.refuseLosses = request.strict;
  // Families that store short frames as they are copy them so between each other.
  const FormatDescriptor* reader = ReaderFormat(s.sourceAnalyzer);
  const FormatDescriptor* writer = WriterFormat(request.target);
  const bool unpaddedBothWays = reader && writer && reader->has(Capability::UnpaddedFrames) &&
                                writer->has(Capability::UnpaddedFrames);
  s.options.padShortFrames = !request.noPad && !unpaddedBothWays;
  s.options.targetLayout = request.targetLayout;
  if (request.sourceDate) s.options.sourceDate = LocalDateTimeOf(*request.sourceDate, SourceZoneOf(s));
  // The target's family settles its own options for this source.
  s.options.formatOptions = request.formatOptions;
  if (writer && writer->settleOptions) writer->settleOptions(s);
}

int64_t UnixMicros(const ConversionState& s, int64_t frameTime) {
  const UnixTime t = SourceFrameUnixTime(s, frameTime);
  return t.seconds * kMicrosPerSecond + t.microseconds;
}

void ResultOf(const ConversionState& s, JobResult& result) {
  result.outcome = OutcomeOf(s);
  result.framesRead = s.counters.framesRead;
  result.failureDetail = s.status.readError     ? s.status.readErrorDetail
                         : s.status.writeFailed ? s.status.writeErrorDetail
                                         : s.counters.skipped.firstReason;
  result.skipped = s.counters.skipped;
  result.losses = s.counters.lost;
  // A strict conversion that lost anything keeps no target; read and write
  // failures keep their own outcome.
  if (s.options.refuseLosses && s.counters.lost.any() && (result.outcome == Outcome::Converted ||
                                         result.outcome == Outcome::Stopped ||
                                         result.outcome == Outcome::BadCompression))
    result.outcome = Outcome::WouldLoseData;
  result.duplicateFrames = s.counters.duplicateFrames;
  // Frames of a target that was not kept were never written anywhere.
  if (s.status.targetDiscarded) return;
  result.framesWritten = s.counters.framesWritten - s.counters.nonDataFrames;
  result.nonDataFrames = s.counters.nonDataFrames;
  result.frameBytes = s.counters.frameBytesTotal;
  if (s.counters.framesWritten > 0) {
    // The pipeline keeps the first frame's time and the latest one's.
    result.firstFrameTime = UnixMicros(s, s.time.firstFrameTime);
    result.lastFrameTime = UnixMicros(s, s.time.previousFrameTime);
  }
}

JobResult::WrittenFile WrittenFileOf(const ConversionState& s, const std::string& path) {
  return {path, s.counters.framesWritten - s.counters.nonDataFrames, s.counters.frameBytesTotal};
}

// Whether `path` may be written: not the source itself, not refused by -n,
// an existing file replaced only when agreed. Converted when it may.
Outcome CheckDestination(const JobRequest& request, const std::string& path, Host& host,
                         JobResult& result) {
  struct stat st {};
  const bool exists = stat(path.c_str(), &st) == 0;
  if (path == request.sourcePath || (exists && SameFile(path, request.sourcePath))) {
    host.message("Alert", "Destination cannot be the same as the source file.",
                 MessageIcon::Warning);
    return Outcome::SameFile;
  }
  if (exists && request.noClobber) {
    host.message("Alert", "Destination file '" + path + "' already exists; not overwritten.",
                 MessageIcon::Warning);
    return Outcome::NotOverwritten;
  }
  if (exists && !request.overwrite && !result.yesToAll) {
    Answer answer = host.ask("Confirm",
                             "Destination file '" + FileNamePart(path) +
                                 "' already exists.  Overwrite?",
                             request.yesToAllOffered);
    if (answer == Answer::No || answer == Answer::Cancel) return Outcome::NotOverwritten;
    result.yesToAll = answer == Answer::YesToAll;
  }
  return Outcome::Converted;
}

// "-o -", or a pipe or device named as the target: written in one pass,
// straight into it, which only writers that never seek back can do.
JobResult WriteToStream(Conversion& conversion, const JobRequest& request,
                        const std::string& targetPath, Host& host) {
  JobResult result;
  result.targetPath = targetPath;
  ConversionState& s = conversion.state;
  const bool standardOutput = targetPath == kStandardOutput;
  const std::string name = standardOutput ? "standard output" : targetPath;
  const FormatDescriptor* writer = WriterFormat(request.target);
  if (request.splits()) {
    host.message("Output", "A split target needs a file name, not " + name + ".",
                 MessageIcon::Error);
    result.outcome = Outcome::NoWriter;
    return result;
  }
  if (!writer || !writer->has(Capability::StreamTarget)) {
    host.message("Output",
                 AnalyzerName(request.target) + " files cannot be written to " +
                     (standardOutput ? name : "a pipe or device (" + name + ")") +
                     ": the writer goes back to complete them. Name a target file instead.",
                 MessageIcon::Error);
    result.outcome = Outcome::NoWriter;
    return result;
  }
  const int fd = standardOutput ? dup(STDOUT_FILENO)
                                : open(targetPath.c_str(), O_WRONLY | O_CLOEXEC);
  conversion.target = DescriptorTarget(fd, name);
  if (!conversion.target) {
    host.failure("Error", "Unable to open Destination File.  Check the path and file Name.",
                 SystemErrorDetail(name), MessageIcon::Warning);
    result.outcome = Outcome::DestinationError;
    return result;
  }
  s.options.targetIsPipe = true;
  ApplyOptions(request, s);
  conversion.ConvertTrace(false, request.holdMilliseconds);
  ResultOf(s, result);
  return result;
}

std::string ShownSourceName(const JobRequest& request) {
  return request.sourceName.empty() ? FileNamePart(request.sourcePath) : request.sourceName;
}

// The target stream: on a temporary that replaces a regular file, or on the
// device or pipe the path names. False when it cannot be opened (said).
bool OpenTarget(Conversion& conversion, const std::string& targetPath,
                std::unique_ptr<ReplacementFile>& replacement, Host& host) {
  std::string reason;
  if (WrittenInPlace(targetPath)) {
    conversion.target = CreateFileTarget(targetPath);
    if (!conversion.target) reason = SystemErrorText(errno);
  } else if ((replacement = ReplacementFile::Create(ResolvedDestination(targetPath), reason))) {
    conversion.target = DescriptorTarget(dup(replacement->fd()), targetPath);
    if (!conversion.target) reason = SystemErrorText(errno);
  }
  if (conversion.target) return true;
  host.failure("Error", "Unable to open Destination File.  Check the path and file Name.",
               targetPath + ": " + reason, MessageIcon::Warning);
  return false;
}

// A format that stores times of day only is dated by its file's modification
// time: the complete target gets its first frame's before it takes the
// destination's place (renaming keeps it), so it never stands there undated.
void DateByFirstFrame(const ConversionState& s, int fd, const std::string& targetPath, Host& host) {
  const FormatDescriptor* writer = WriterFormat(s.targetAnalyzer);
  if (!writer || !writer->has(Capability::DatedByFileTime)) return;
  const int64_t micros = UnixMicros(s, s.time.firstFrameTime);
  const int64_t seconds = FloorDiv(micros, kMicrosPerSecond);
  const timespec times[2] = {{0, UTIME_OMIT},
                             {time_t(seconds), long((micros - seconds * kMicrosPerSecond) * 1000)}};
  if (futimens(fd, times) != 0)
    host.failure("File Error", "The date of " + FileNamePart(targetPath) + " could not be set.",
                 targetPath + ": " + SystemErrorText(errno), MessageIcon::Warning);
}

// The temporary replaces the target when it is a valid file: frames written
// and every byte of it on disk (a Stop, a read error or a field limit still
// finish one). Otherwise it goes, and the target stays as it stood.
void KeepIfComplete(Conversion& conversion, ReplacementFile& replacement,
                    const std::string& targetPath, Host& host) {
  ConversionState& s = conversion.state;
  const bool complete = (s.counters.framesWritten - s.counters.nonDataFrames >= 1 || s.status.emptySplitStep) &&
                        !conversion.target->failed() && !s.status.wrappedSource;
  std::string reason;
  if (s.options.refuseLosses && s.counters.lost.any()) {
    s.status.targetDiscarded = true;
    return;
  }
  if (complete) DateByFirstFrame(s, replacement.fd(), targetPath, host);
  if (complete && replacement.publish(reason)) return;
  s.status.targetDiscarded = true;
  if (!complete) return;
  const std::string detail = targetPath + ": " + reason;
  FailWrite(s, detail);
  host.failure("File Error", "Unable to write to destination file " + FileNamePart(targetPath),
               detail, MessageIcon::Error);
}

// Each interface to a target of its own: one job per interface, from the
// facts already learnt, their results added up. An interface without
// frames writes no file.
JobResult RunSplitInterfaces(const JobRequest& request, const CapabilitySets& caps, Host& host,
                             const SourceCheck& check, ConversionState& s) {
  JobResult total;
  total.source = FactsOf(s);
  s.options.convertToEthernet = request.convertToEthernet && check.topology == Topo::Wireless;
  s.options.convertToWireless = request.convertToWireless && check.topology == Topo::Ethernet;
  const std::string base = TargetPathFor(request, check, s);
  if (base == kStandardOutput || IsStreamPath(base)) {
    host.message("Options",
                 "--split-interfaces writes a file per interface: name a target file or directory.",
                 MessageIcon::Error);
    total.outcome = Outcome::BadOptions;
    return total;
  }
  const int32_t count = std::max(1, int32_t(s.sourceInterfaces.size()));
  bool converted = false;
  std::optional<Outcome> failure;
  for (int32_t n = 0; n < count; ++n) {
    JobRequest part = request;
    part.splitInterfaces = false;
    part.interfaceNumber = n;
    part.checkedSource = total.source;
    part.targetPath = InterfaceTargetName(base, n);
    part.outputDirectory.clear();
    const JobResult r = RunConversionJob(part, caps, host);
    if (r.framesWritten > 0)
      total.targetPath += (total.targetPath.empty() ? "" : ", ") + r.targetPath;
    total.framesRead += r.framesRead;
    total.framesWritten += r.framesWritten;
    total.nonDataFrames += r.nonDataFrames;
    total.frameBytes += r.frameBytes;
    if (r.firstFrameTime && (!total.firstFrameTime || *r.firstFrameTime < *total.firstFrameTime))
      total.firstFrameTime = r.firstFrameTime;
    if (r.lastFrameTime && (!total.lastFrameTime || *r.lastFrameTime > *total.lastFrameTime))
      total.lastFrameTime = r.lastFrameTime;
    converted = converted || r.outcome == Outcome::Converted;
    if (r.outcome != Outcome::Converted && r.outcome != Outcome::NoFrames && !failure) {
      failure = r.outcome;
      total.failureDetail = r.failureDetail;
      total.skipped = r.skipped;
    }
    if (r.outcome == Outcome::Stopped) break;
  }
  total.outcome = failure ? *failure : converted ? Outcome::Converted : Outcome::NoFrames;
  return total;
}

// A format recognised by its suffix alone, written under another one, is not
// recognised when read back: the user is told how to read it.
void WarnOfUnrecognisedSuffix(const ConversionState& s, Topology written,
                              const std::string& targetPath, Host& host) {
  const FormatDescriptor* writer = WriterFormat(s.targetAnalyzer);
  if (!writer || !writer->has(Capability::KnownBySuffix) || s.status.targetDiscarded ||
      s.counters.framesWritten - s.counters.nonDataFrames < 1)
    return;
  const std::string shownSuffix = DefaultSuffix(s.targetAnalyzer, written);
  const std::string suffix = Upper(shownSuffix);
  const std::string name = Upper(FileNamePart(targetPath));
  if (suffix.empty() ||
      (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0))
    return;
  const char* code = Analyzers(s.targetAnalyzer).code;
  host.message("Output",
               FileNamePart(targetPath) + " is written as " + AnalyzerName(s.targetAnalyzer) +
                   " without its suffix " + shownSuffix +
                   ": such files are recognised by their suffix alone, so it reads back only "
                   "with --from " + (code ? code : "") + ".",
               MessageIcon::Warning);
}

}  // namespace

namespace {

std::string RangeProblem(int32_t first, int32_t last) {
  if (first < 1 || last < 1 || first > kLastFrameNumber ||
      (last > kLastFrameNumber && last != kOpenRangeEnd))
    return "Frame numbers run from 1 to " + Grouped(kLastFrameNumber) + ".";
  if (last < first)
    return "Starting frame number must be less than or equal to the ending frame number.";
  return "";
}

}  // namespace

std::string OptionsProblem(const JobRequest& request) {
  if (!request.convertAll)
    if (std::string problem = RangeProblem(request.startFrame, request.endFrame); !problem.empty())
      return problem;
  for (const FrameRange& range : request.selection.ranges)
    if (std::string problem = RangeProblem(range.first, range.last); !problem.empty())
      return problem;
  const FrameSelection& chosen = request.selection;
  constexpr int64_t kLargestShift = kLargestTimeShiftSeconds * 1'000'000'000;
  if (chosen.timeShift < -kLargestShift || chosen.timeShift > kLargestShift)
    return "A time shift reaches at most " + Grouped(kLargestTimeShiftSeconds) + " seconds.";
  if (chosen.timeShift != 0 && chosen.startTime)
    return "A time shift and a start time exclude each other.";
  if (chosen.startTime && (*chosen.startTime < 0 || *chosen.startTime > kLargestShift))
    return "A start time lies from 1970 on, within a hundred years.";
  if (request.splitFrames < 0 || request.splitMicroseconds < 0)
    return "A split takes a positive number of frames or seconds.";
  if (request.sliceFrames &&
      (request.sliceLength < kSmallestSlice || request.sliceLength > kLargestSlice))
    return "The slice length must be from " + std::to_string(kSmallestSlice) + " to " +
           std::to_string(kLargestSlice) + " bytes.";
  for (const FormatDescriptor* family : RegisteredFormats())
    if (family->optionsProblem)
      if (std::string problem = family->optionsProblem(request.formatOptions); !problem.empty())
        return problem;
  return "";
}

std::string NumberedTargetName(const std::string& path, int32_t number) {
  char sequence[16];
  std::snprintf(sequence, sizeof sequence, "_%05d", number);
  const size_t nameAt = path.find_last_of('/') + 1;  // npos + 1 is 0
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= nameAt) return path + sequence;
  return path.substr(0, dot) + sequence + path.substr(dot);
}

bool IsStreamPath(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
}

JobResult RunConversionJob(const JobRequest& request, const CapabilitySets& caps, Host& host) {
  JobResult result;
  if (std::string problem = OptionsProblem(request); !problem.empty()) {
    host.message("Options", problem, MessageIcon::Error);
    result.outcome = Outcome::BadOptions;
    return result;
  }
  // A file-size limit is a write failure like any other, not the end of the program.
  IgnoreFileSizeSignal();
  Conversion conversion(host);
  conversion.customReader = request.customReader;
  ConversionState& s = conversion.state;
  s.options.convertToEthernet = request.convertToEthernet;
  s.options.convertToWireless = request.convertToWireless;
  // Before identification: dates it reads are the source zone's local times.
  s.time.sourceZone = request.sourceZone;
  s.time.targetZone = request.targetZone;

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
    check.analyzer = s.sourceAnalyzer;
    check.topology = s.traceTopology;
  } else {
    check = CheckSource(s, caps, request.sourcePath, host, &opened, ShownSourceName(request),
                        request.sourceType);
  }
  result.source = FactsOf(s);
  if (!check.accepted) return result;
  if (request.splitInterfaces) return RunSplitInterfaces(request, caps, host, check, s);
  if (!ChooseInterface(request, s, check, ShownSourceName(request), host)) {
    result.outcome = Outcome::BadOptions;
    return result;
  }
  if (RefuseSeveralLinkTypes(request, s, ShownSourceName(request), host)) {
    result.outcome = Outcome::NoWriter;
    return result;
  }

  // The media conversions apply only where their box would be shown.
  s.options.convertToEthernet = request.convertToEthernet && check.topology == Topo::Wireless;
  s.options.convertToWireless = request.convertToWireless && check.topology == Topo::Ethernet;
  // Only the targets the window would offer for this source: others write
  // files their own readers refuse.
  const std::vector<AnalyzerType> offered =
      OfferedTargets(caps, TargetClassFor(check.topology, s.options.convertToEthernet, s.options.convertToWireless),
                     check.topology, s.options.convertToEthernet, s.options.convertToWireless);
  if (std::find(offered.begin(), offered.end(), request.target) == offered.end()) {
    // A link type of no medium of ours is named by its number.
    const std::string what =
        check.topology == Topo::Unknown && !s.sourceInterfaces.empty()
            ? ": " + LinkTypeText(s.sourceInterfaces[size_t(std::max(0, s.options.onlyInterface))].linkType)
            : " (" + TopologyName(check.topology) + ")";
    host.message("Output",
                 ShownSourceName(request) + what + " cannot be written as " +
                     AnalyzerName(request.target) + ".",
                 MessageIcon::Error);
    result.outcome = Outcome::NoWriter;
    return result;
  }
  s.targetAnalyzer = request.target;
  const std::string targetPath = TargetPathFor(request, check, s);
  result.targetPath = s.targetFileName = targetPath;

  if (targetPath == kStandardOutput || IsStreamPath(targetPath))
    return WriteToStream(conversion, request, targetPath, host);
  if (request.splits() && WriterOwnsTarget(request.target)) {
    host.message("Output", AnalyzerName(request.target) + " targets cannot be split.",
                 MessageIcon::Error);
    result.outcome = Outcome::NoWriter;
    return result;
  }
  // The files of a split target are numbered from the first.
  std::string filePath = request.splits() ? NumberedTargetName(targetPath, 0) : targetPath;
  if (Outcome refused = CheckDestination(request, filePath, host, result);
      refused != Outcome::Converted) {
    result.outcome = refused;
    return result;
  }
  // Regular files (and new ones) are written to a temporary beside the
  // destination that replaces it once complete; devices and pipes are written
  // directly. A writer that creates its target itself (through a library)
  // follows the same rule when the first frame comes.
  std::unique_ptr<ReplacementFile> replacement;
  if (!WriterOwnsTarget(request.target) &&
      !OpenTarget(conversion, filePath, replacement, host)) {
    result.outcome = Outcome::DestinationError;
    return result;
  }
  s.targetFileName = filePath;
  int32_t fileNumber = 0;
  if (request.splits())
    conversion.nextTarget = [&](Conversion& c) {
      KeepIfComplete(c, *replacement, filePath, host);
      if (c.state.status.targetDiscarded) return false;
      result.files.push_back(WrittenFileOf(c.state, filePath));
      if (fileNumber == 0) result.firstFrameTime = UnixMicros(c.state, c.state.time.firstFrameTime);
      filePath = NumberedTargetName(targetPath, ++fileNumber);
      c.state.targetFileName = filePath;
      if (CheckDestination(request, filePath, host, result) != Outcome::Converted) {
        FailWrite(c.state, filePath + ": not overwritten; the files before it are written");
        return false;
      }
      if (OpenTarget(c, filePath, replacement, host)) return true;
      FailWrite(c.state, filePath + ": cannot be created");
      return false;
    };

  ApplyOptions(request, s);

  // The plain file identification opened is read on; a gzip source or a
  // reader that opens its own files starts afresh.
  const FormatDescriptor* reader = ReaderFormat(check.analyzer);
  if (opened && !s.sourceCompressed && reader && !reader->has(Capability::OwnSource))
    conversion.source = std::move(opened);
  opened.reset();
  conversion.ConvertTrace(false, request.holdMilliseconds);
  if (replacement) {
    KeepIfComplete(conversion, *replacement, filePath, host);
    const Topology written = s.options.convertToWireless   ? Topo::Wireless
                             : s.options.convertToEthernet ? Topo::Ethernet
                                                   : check.topology;
    WarnOfUnrecognisedSuffix(s, written, filePath, host);
  }
  if (!request.splits()) {
    ResultOf(s, result);
    return result;
  }
  // The counts of a split target are those of every file kept.
  const std::optional<int64_t> firstFrameTime = result.firstFrameTime;
  ResultOf(s, result);
  if (!s.status.targetDiscarded && s.counters.framesWritten - s.counters.nonDataFrames > 0)
    result.files.push_back(WrittenFileOf(s, filePath));
  if (firstFrameTime) result.firstFrameTime = firstFrameTime;
  result.framesWritten = 0;
  result.frameBytes = 0;
  for (const JobResult::WrittenFile& file : result.files) {
    result.framesWritten += file.frames;
    result.frameBytes += file.bytes;
  }
  return result;
}

namespace {

// Reads an accepted source's frames into the observer set on `conversion`
// and states what came of it; `lastFrameTime` is kept by that observer.
void ReadSurveyedFrames(Conversion& conversion, const SourceCheck& check,
                        std::unique_ptr<SourceStream> opened, const int64_t& lastFrameTime,
                        FrameSurvey& survey) {
  ConversionState& s = conversion.state;
  // The plain file identification opened is read on; a gzip source or a
  // reader that opens its own files starts afresh.
  const FormatDescriptor* reader = ReaderFormat(check.analyzer);
  if (opened && !s.sourceCompressed && reader && !reader->has(Capability::OwnSource))
    conversion.source = std::move(opened);
  opened.reset();
  conversion.ConvertTrace(false);
  survey.outcome = OutcomeOf(s);
  survey.frames = s.counters.framesWritten - s.counters.nonDataFrames;
  survey.largestFrame = s.counters.maxFrameLength;
  if (s.counters.framesWritten > 0) {
    survey.firstFrameTime = UnixMicros(s, s.time.firstFrameTime);
    survey.lastFrameTime = UnixMicros(s, lastFrameTime);
  }
  survey.failureDetail = s.status.readError ? s.status.readErrorDetail : s.counters.skipped.firstReason;
  survey.skipped = s.counters.skipped;
}

}  // namespace

FrameSurvey SurveyFrames(const std::string& path, const CapabilitySets& caps, Host& host,
                         bool salvage, const std::function<void(Conversion&)>& eachFrame,
                         std::shared_ptr<const TimeZoneRules> sourceZone) {
  FrameSurvey survey;
  Conversion conversion(host);
  ConversionState& s = conversion.state;
  // Before identification: dates it reads are the source zone's local times.
  s.time.sourceZone = std::move(sourceZone);
  std::unique_ptr<SourceStream> opened;
  SourceCheck check = CheckSource(s, caps, path, host, &opened);
  survey.source = FactsOf(s);
  if (!check.accepted) return survey;
  s.targetAnalyzer = Analyzer::Unknown;  // no writer: the observer below takes every frame
  s.options.salvage = salvage;
  int64_t lastFrameTime = 0;
  conversion.frameObserver = [&](Conversion& c) {
    if (c.state.frame.storedLength < c.state.frame.frameLength) ++survey.cutFrames;
    lastFrameTime = c.state.frame.frameTime;
    const size_t interface = size_t(std::max(0, c.state.frame.frameInterface));
    if (interface >= survey.interfaceFrames.size()) survey.interfaceFrames.resize(interface + 1);
    ++survey.interfaceFrames[interface];
    if (eachFrame) eachFrame(c);
  };
  ReadSurveyedFrames(conversion, check, std::move(opened), lastFrameTime, survey);
  return survey;
}

FrameSurvey ObserveFrames(const std::string& path, const CapabilitySets& caps, Host& host,
                          const FrameObservation& how) {
  FrameSurvey survey;
  Conversion conversion(host);
  ConversionState& s = conversion.state;
  s.time.sourceZone = how.sourceZone;
  std::unique_ptr<SourceStream> opened;
  SourceCheck check = CheckSource(s, caps, path, host, &opened, how.shownName);
  survey.source = FactsOf(s);
  if (!check.accepted) return survey;
  s.targetAnalyzer = Analyzer::Unknown;  // no writer: the observer takes every frame
  s.options.salvage = how.salvage;
  int64_t lastFrameTime = 0;
  conversion.observerIgnoresFcs = how.fcsUnused;
  conversion.frameObserver = [&](Conversion& c) {
    how.observe(c.state);
    lastFrameTime = c.state.frame.frameTime;
  };
  ReadSurveyedFrames(conversion, check, std::move(opened), lastFrameTime, survey);
  return survey;
}

}  // namespace morph
