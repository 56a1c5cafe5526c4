// Several traces merged into one target in time order, as mergecap orders
// them: the frame next is the earliest of the frames each source has next;
// of equal times, the one of the source given later. Up to kMostMergedAtOnce
// sources are read at once, each by its own reader on a thread of its own,
// handing compact records through a bounded queue (memory stays flat),
// and the merged frames go through the target's writer as a conversion's
// frames do. Beyond that, groups of sources are merged into runs of a spool
// (an unnamed temporary file) and the runs merged in rounds.
#pragma once
#include <string>
#include <vector>

#include "engine/job.h"

namespace morph {

inline constexpr size_t kMostMergedAtOnce = 64;

struct MergeRequest {
  std::vector<std::string> sources;
  // How messages name each source (a spooled copy of standard input);
  // missing or empty: by its file name.
  std::vector<std::string> shownNames;
  // The target: targetPath (required), target, overwrite, noClobber and the
  // target family's options; sourcePath and the frame options are not used.
  JobRequest target;
  // Lowers the number of runs merged at once (tests reach the rounds with
  // few files); 0: kMostMergedAtOnce.
  size_t mostAtOnce = 0;
};

// The outcome is the target's, or readError when a source could not be read
// to its end (the frames read before are merged; failureDetail names the
// source); framesRead counts the frames read from every source.
JobResult RunMergeJob(const MergeRequest& request, const CapabilitySets& caps, Host& host);

}  // namespace morph
