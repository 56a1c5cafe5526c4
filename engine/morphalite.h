// The library interface: identify a trace file and convert it from another
// C++ program, with a progress callback and a stop flag. No Qt, no console.
#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/info.h"
#include "engine/job.h"
#include "engine/merge.h"
#include "engine/progress.h"
#include "engine/timebase.h"
#include "engine/types.h"

namespace morph {

struct FileFacts {
  bool accepted = false;
  std::vector<std::string> messages;  // "Caption: text", as the user would be shown them
  AnalyzerType analyzer = Analyzer::Unknown;
  std::string analyzerName;  // display name with its variant and compression marks
  Topology topology = Topo::Unknown;
  std::string interfaceName;  // topology name, with the WAN protocol for serial links
  uint32_t lineSpeed = 0;
  std::string comment;
  int64_t fileSize = 0;
  int32_t frameCount = 0;  // 0 when the file does not state it
};

FileFacts IdentifyFile(const std::string& path);

struct ConvertReport {
  Outcome outcome = Outcome::SourceRefused;
  std::vector<std::string> messages;
  std::string targetPath;
  int32_t framesWritten = 0;
  uint64_t frameBytes = 0;
  // What JobRequest::salvage passed over: the bytes, the damaged spans and
  // the first one's reason (record and offset); the outcome is then readError.
  SkippedDamage skipped;
  // What the target could not hold (LossesText puts it in words); with
  // JobRequest::strict any of it is Outcome::WouldLoseData and no target.
  FrameLosses losses;
  std::string failureDetail;  // why reading or writing failed, when it did
  int64_t duplicateFrames = 0;  // dropped by JobRequest::selection.dropDuplicates
  // A split target's files (JobRequest::splitFrames and the like), in order.
  std::vector<JobResult::WrittenFile> files;
};

// Zones for JobRequest::sourceZone / targetZone: LoadTimeZone("America/New_York")
// (engine/timebase.h) takes an IANA name, a POSIX rule or "UTC".

// Converts `request.sourcePath` (see JobRequest for every option). The
// callback sees the progress display every few tens of milliseconds; setting
// *stop ends the conversion like the Stop button, leaving a valid target.
// Options the command line refuses (a range out of order or beyond
// 9,999,999, a slice outside 32 to 65,535) are refused: Outcome::BadOptions
// and the message. The target is written to a temporary in its folder and
// takes its name only when complete: an exception thrown by the callback
// ends the conversion and reaches the caller, with the target as it was and
// nothing left behind. SIGXFSZ is ignored from the first conversion on
// (unless the program handles it), so that a file-size limit is a write
// failure.
ConvertReport ConvertFile(const JobRequest& request,
                          const std::function<void(const ProgressView&)>& onProgress = {},
                          const std::atomic<bool>* stop = nullptr);

// Merges `request.sources` into `request.target.targetPath` in time order
// (see MergeRequest), with progress and stop as ConvertFile has them. A source
// refused, or link types the target cannot hold together, refuse the merge
// before anything is written; a source read only in part gives readError
// after the frames read are merged.
ConvertReport MergeFiles(const MergeRequest& request,
                         const std::function<void(const ProgressView&)>& onProgress = {},
                         const std::atomic<bool>* stop = nullptr);

// What `morphalite info` tells of a file (engine/info.h); `messages`, when
// given, receives what the user would be shown.
TraceSummary SummarizeFile(const std::string& path, std::vector<std::string>* messages = nullptr);

}  // namespace morph
