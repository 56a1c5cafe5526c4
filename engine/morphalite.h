// The library interface: identify a trace file and convert it from another
// C++ program, with a progress callback and a stop flag. No Qt, no console.
#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/job.h"
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
  // the first one's reason (record and offset); the outcome is then ReadError.
  SkippedDamage skipped;
  std::string failureDetail;  // why reading or writing failed, when it did
};

// Zones for JobRequest::sourceZone / targetZone: LoadTimeZone("America/New_York")
// (engine/timebase.h) takes an IANA name, a POSIX rule or "UTC".

// Converts `request.sourcePath` (see JobRequest for every option). The
// callback sees the progress display every few tens of milliseconds; setting
// *stop ends the conversion like the Stop button, leaving a valid target.
ConvertReport ConvertFile(const JobRequest& request,
                          const std::function<void(const ProgressView&)>& onProgress = {},
                          const std::atomic<bool>* stop = nullptr);

}  // namespace morph
