// A frame's UTC instant to the nanosecond, from the pipeline's view of the
// current frame: what merge orders by and info reports.
#pragma once
#include <cstdint>

#include "engine/state.h"
#include "engine/timebase.h"

namespace morph {

struct FrameInstant {
  int64_t seconds = 0;      // since 1970
  int32_t nanoseconds = 0;  // 0 to 999,999,999
  friend bool operator==(const FrameInstant&, const FrameInstant&) = default;
  friend auto operator<=>(const FrameInstant&, const FrameInstant&) = default;
};

// The current frame's instant: valid once the pipeline has taken the first
// frame (frame observers).
inline FrameInstant CurrentFrameInstant(const ConversionState& s) {
  const UnixTime t = FrameUnixTime(s);
  return {t.seconds, int32_t(t.microseconds * 1000 + s.frame.frameNanoseconds)};
}

// b - a in seconds.
inline double SecondsBetween(const FrameInstant& a, const FrameInstant& b) {
  return double(b.seconds - a.seconds) + double(b.nanoseconds - a.nanoseconds) / 1e9;
}

}  // namespace morph
