// One source converted to one target with every check a user is shown
// first: acceptance of the source, the destination, the overwrite question.
// The command line, the desktop window and the library all run this.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/file_date.h"
#include "engine/format.h"
#include "engine/host.h"
#include "engine/state.h"
#include "engine/targets.h"

namespace morph {

class Conversion;
class SourceStream;
class Conversion;

// What became of a source or a conversion; front ends map it to exit codes.
enum class Outcome {
  Converted,         // ran to its end and wrote at least one frame
  BadOptions,        // a frame range or slice length out of bounds (message shown)
  SourceRefused,     // identification or topology refused it (message shown)
  NoWriter,          // this build cannot write the chosen target format
  SameFile,          // destination is the source itself
  NotOverwritten,    // the user declined to overwrite
  DestinationError,  // the destination could not be created
  ReadError,
  WriteFailed,
  NoFrames,
  Stopped,
  BadCompression,    // converted, but the source's compressed data went bad
  WouldLoseData,     // strict: the target could not hold everything, and was not kept
};

// What identification learnt of a source: what the window and `identify`
// show, and what a conversion of it starts from.
struct SourceFacts {
  std::string path;
  AnalyzerType analyzer = Analyzer::Unknown;
  Topology topology = Topo::Unknown;
  uint32_t wanProtocol = Wan::NotKnown;
  uint32_t lineSpeed = 0;      // effective, after the topology's default
  uint32_t fileLineSpeed = 0;  // as the file states it, 0 if none
  std::string comment;
  int32_t frameCount = 0;      // as the file states it, 0 if not known
  bool compressed = false;
  uint32_t variant = 0;        // the format's layout bits, for its reader
  int64_t fileSize = 0;
  std::string dateText;        // the file date as the window shows it
  std::vector<SourceInterface> interfaces;  // as the file describes them, from 0

  std::string displayName() const;    // with the variant and compression marks
  std::string interfaceName() const;  // topology, with the WAN protocol on serial links
};
SourceFacts FactsOf(const ConversionState& s);
void ApplyFacts(const SourceFacts& facts, ConversionState& s);

// Identification and the acceptance checks. On refusal the message has been
// shown through the host and the state holds what was learnt.
struct SourceCheck {
  bool accepted = false;
  AnalyzerType analyzer = Analyzer::Unknown;
  Topology topology = Topo::Unknown;
  SourceFacts facts;
};
// `opened`, when given, receives the file as identification opened it once
// the source is accepted, so that a conversion reads on from it. Messages
// name the source by `shownName`, or by its file name when that is empty.
// `readAs` reads the source as that type without identifying it (a file
// renamed away from the suffix its format is recognised by).
SourceCheck CheckSource(ConversionState& s, const CapabilitySets& caps, const std::string& path,
                        Host& host, std::unique_ptr<SourceStream>* opened = nullptr,
                        const std::string& shownName = {},
                        std::optional<AnalyzerType> readAs = std::nullopt);

struct JobRequest {
  std::string sourcePath;
  // How messages name the source ("standard input" for a spooled copy);
  // empty: by its file name.
  std::string sourceName;
  // An accepted check of this source made before (the window's): the job
  // starts from it instead of identifying the file again.
  std::optional<SourceFacts> checkedSource;
  std::string targetPath;  // empty: the default name beside the source
  std::string outputDirectory;  // with no targetPath: the default name, in this directory
  AnalyzerType target = DefaultTarget();
  bool overwrite = false;  // overwrite without asking
  bool noClobber = false;  // refuse an existing destination instead
  bool yesToAllOffered = false;
  // Options of the conversion.
  bool sliceFrames = false;
  int32_t sliceLength = 100;
  bool convertToEthernet = false;
  bool convertToWireless = false;
  bool convertAll = true;
  int32_t startFrame = 1, endFrame = 999999;
  // Frames chosen by number (ranges: with them convertAll and the frame
  // numbers above are set from their bounds), by time, duplicates dropped,
  // and the time shift or start time (engine/frame_filter.h).
  FrameSelection selection;
  // The target split into files named NAME_00000.SUFFIX, NAME_00001.SUFFIX...
  // (NumberedTargetName): after splitFrames frames, at each splitMicroseconds
  // from the first frame, or where a limit of the target format would end it.
  int32_t splitFrames = 0;
  int64_t splitMicroseconds = 0;
  bool splitAtLimits = false;
  bool splits() const { return splitFrames > 0 || splitMicroseconds > 0 || splitAtLimits; }
  bool unattended = true;
  // Options of the target's family, as its header defines them; the
  // family's descriptor settles them for the source and checks them.
  FormatOptions formatOptions;
  // The zone a source that stores local times was recorded in, and the
  // zone for targets that store local times (LoadTimeZone); null: the
  // machine's.
  std::shared_ptr<const TimeZoneRules> sourceZone, targetZone;
  unsigned holdMilliseconds = 0;
  // Read the source as this type, without identifying it (--from).
  std::optional<AnalyzerType> sourceType;
  // The date of a source whose format stores times of day only, in place of
  // its file's modification time (--source-date).
  std::optional<GivenDate> sourceDate;
  // The target's layout where its format has several (--observer-layout);
  // 0: the format's default.
  int32_t targetLayout = 0;
  // Go on past damage where the source's format lets its reader find the
  // next record; what is passed over is reported (JobResult::skipped) and
  // the conversion ends as a read error with every frame kept.
  bool salvage = false;
  // Frames from this reader of the caller's in place of the source's (a
  // merge): `checkedSource` then tells what they are.
  CustomReader customReader;
  // Short Ethernet frames keep their own lengths instead of being padded to
  // 60 bytes; always so when source and target both store short frames.
  bool noPad = false;
  // Any loss (JobResult::losses) fails the conversion: Outcome::WouldLoseData,
  // and the target is not kept (an existing one stays as it was).
  bool strict = false;
  // Only this interface's frames (numbered from 0 as identify lists them);
  // unset: every interface's.
  std::optional<int32_t> interfaceNumber;
  // One target per interface, named after the target with ".ifN" before its
  // suffix.
  bool splitInterfaces = false;
};

struct JobResult {
  Outcome outcome = Outcome::SourceRefused;
  std::string targetPath;
  SourceFacts source;  // what identification learnt, also of a refused source
  int32_t framesRead = 0;
  int32_t framesWritten = 0;  // without non-data frames
  int32_t nonDataFrames = 0;
  uint64_t frameBytes = 0;
  // UTC microseconds since 1970 of the first and last frame written; unset
  // when no frame was written.
  std::optional<int64_t> firstFrameTime, lastFrameTime;
  bool yesToAll = false;  // the user answered Yes to All
  std::string failureDetail;  // why reading or writing failed, when it did
  SkippedDamage skipped;      // what salvage passed over
  FrameLosses losses;         // what the target could not hold
  int64_t duplicateFrames = 0;  // dropped by selection.dropDuplicates
  // The files of a split target that were kept, in order; the counts above
  // are their sums.
  struct WrittenFile {
    std::string path;
    int32_t frames = 0;
    uint64_t bytes = 0;
  };
  std::vector<WrittenFile> files;
};

// The bounds of a request's options, the same for every front end.
inline constexpr int32_t kSmallestSlice = 32, kLargestSlice = 65535;
inline constexpr int32_t kLastFrameNumber = 9999999;
// Why the options of a request cannot be run, or empty: a frame range (with
// convertAll off) that ends before it starts or numbers a frame outside 1 to
// 9,999,999, a slice length (with sliceFrames on) outside 32 to 65,535.
std::string OptionsProblem(const JobRequest& request);

// The name of file `number` (from 0) of a split target: "out.pcap" gives
// "out_00000.pcap", "out" gives "out_00000", as editcap names its pieces.
std::string NumberedTargetName(const std::string& path, int32_t number);

// Refuses a request whose options OptionsProblem refuses (BadOptions).
JobResult RunConversionJob(const JobRequest& request, const CapabilitySets& caps, Host& host);

// A pipe, FIFO or character device (/dev/stdout into a pipe, a process
// substitution's /dev/fd/N): read and written in one pass, never by position.
bool IsStreamPath(const std::string& path);

// The path the job would write, from a silent identification of the source;
// empty when the source would be refused. Batches use it to refuse two
// sources that would write the same target before anything starts.
std::string PlannedTargetPath(const JobRequest& request, const CapabilitySets& caps);

// What a read-only pass over every frame of a source tells: the source's
// own reader runs through the pipeline and nothing is written.
struct FrameSurvey {
  Outcome outcome = Outcome::SourceRefused;  // Converted when read to its end
  SourceFacts source;
  int32_t frames = 0;        // data frames
  int32_t cutFrames = 0;     // stored shorter than they were on the wire
  int32_t largestFrame = 0;  // longest wire length (with the Ethernet FCS)
  std::optional<int64_t> firstFrameTime, lastFrameTime;  // UTC microseconds since 1970
  std::string failureDetail;
  SkippedDamage skipped;  // what salvage passed over
  std::vector<int64_t> interfaceFrames;  // data frames of each interface, from 0
};
// `eachFrame`, when given, sees every frame as the target would receive it,
// its time in UTC (FrameUnixTime); `sourceZone` as JobRequest::sourceZone.
FrameSurvey SurveyFrames(const std::string& path, const CapabilitySets& caps, Host& host,
                         bool salvage = false,
                         const std::function<void(Conversion&)>& eachFrame = {},
                         std::shared_ptr<const TimeZoneRules> sourceZone = {});

// Reads every frame of an accepted source through the pipeline, as
// SurveyFrames does, handing each to `observe`; nothing is written. With
// `fcsUnused` the observer never reads an Ethernet FCS and readers may skip
// computing it. Messages name the source by `shownName` when given.
struct FrameObservation {
  std::function<void(const ConversionState&)> observe;
  bool fcsUnused = false;
  bool salvage = false;
  std::string shownName;
  std::shared_ptr<const TimeZoneRules> sourceZone;  // as JobRequest::sourceZone
};
FrameSurvey ObserveFrames(const std::string& path, const CapabilitySets& caps, Host& host,
                          const FrameObservation& how);

// The target of interface n when each interface gets its own:
// "out/x.pcap" -> "out/x.if1.pcap".
std::string InterfaceTargetName(const std::string& targetPath, int32_t n);

// True when both paths name the same existing file (also through links).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace morph
