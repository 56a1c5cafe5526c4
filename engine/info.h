// What `info` tells of a trace, as capinfos tells it: the frames read through
// the source's own reader, counted per interface, their sizes and times, and
// the file's SHA-256.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "engine/frame_instant.h"
#include "engine/job.h"

namespace morph {

struct InterfaceFrames {
  int32_t interface = 0;  // numbered from 0
  uint32_t linkType = 0;  // the link type number; 0 when the source states none
  int64_t frames = 0;
};

struct TraceSummary {
  Outcome outcome = Outcome::SourceRefused;  // Converted when read to its end
  SourceFacts source;
  std::vector<InterfaceFrames> interfaces;  // by interface, then link type
  int64_t frames = 0;
  // Frame sizes are the bytes the file stores (an Ethernet FCS the pipeline
  // adds where the file holds none is not counted).
  int64_t dataBytes = 0;
  int64_t cutFrames = 0;  // stored shorter than they were on the wire
  int32_t smallestFrame = 0, largestFrame = 0;
  std::optional<FrameInstant> earliest, latest;
  bool timeOrdered = true;  // no frame earlier than the one before it
  uint32_t snapshotLength = 0;  // 0: the format states none
  bool nanoseconds = false;     // frames timed finer than microseconds
  std::string sha256;           // of the whole file, as stored
  std::string failureDetail;
  SkippedDamage skipped;

  double durationSeconds() const {
    return earliest && latest ? SecondsBetween(*earliest, *latest) : 0;
  }
};

// Reads `path` to its end; messages name it by `shownName` when given.
TraceSummary SummarizeTrace(const std::string& path, const CapabilitySets& caps, Host& host,
                            const std::string& shownName = {});

}  // namespace morph
