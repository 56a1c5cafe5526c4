#include "engine/info.h"

#include <algorithm>
#include <map>

#include "engine/sha256.h"

namespace morph {

TraceSummary SummarizeTrace(const std::string& path, const CapabilitySets& caps, Host& host,
                            const std::string& shownName) {
  TraceSummary summary;
  std::map<std::pair<int32_t, uint32_t>, int64_t> perInterface;
  std::optional<FrameInstant> previous;
  FrameObservation how;
  how.shownName = shownName;
  how.fcsUnused = true;
  how.observe = [&](const ConversionState& s) {
    if (summary.frames++ == 0) {
      summary.snapshotLength = s.sourceSnapshotLength;
      summary.nanoseconds = s.time.sourceHasNanoseconds;
    }
    ++perInterface[{s.frame.frameInterface, s.frame.frameLinkType}];
    // Ethernet frames reach the pipeline with an FCS counted in both
    // lengths; a whole frame's is one its reader added.
    int32_t stored = s.frame.storedLength, wire = s.frame.frameLength;
    if (s.traceTopology == Topo::Ethernet && wire >= 4) {
      if (stored >= wire) stored -= 4;
      wire -= 4;
    }
    summary.dataBytes += stored;
    summary.cutFrames += stored < wire;
    summary.smallestFrame = summary.frames == 1 ? stored : std::min(summary.smallestFrame, stored);
    summary.largestFrame = std::max(summary.largestFrame, stored);
    if (s.frame.frameWithoutTime) return;
    const FrameInstant time = CurrentFrameInstant(s);
    if (previous && time < *previous) summary.timeOrdered = false;
    previous = time;
    if (!summary.earliest || time < *summary.earliest) summary.earliest = time;
    if (!summary.latest || time > *summary.latest) summary.latest = time;
  };
  const FrameSurvey survey = ObserveFrames(path, caps, host, how);
  summary.outcome = survey.outcome;
  summary.source = survey.source;
  summary.failureDetail = survey.failureDetail;
  summary.skipped = survey.skipped;
  for (const auto& [key, frames] : perInterface)
    summary.interfaces.push_back({key.first, key.second, frames});
  if (summary.outcome != Outcome::SourceRefused) {
    std::string error;
    summary.sha256 = FileSha256(path, error);
    if (summary.sha256.empty() && summary.failureDetail.empty()) {
      summary.outcome = Outcome::ReadError;
      summary.failureDetail = error;
    }
  }
  return summary;
}

}  // namespace morph
