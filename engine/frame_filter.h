// Which frames of a source go on to the target, and how their times move:
// frame numbers, a time window, duplicates dropped, a time shift. Unused, it
// costs the pipeline one test of a flag per frame.
#pragma once
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morph {

struct ConversionState;

// Frames `first` to `last`, numbered from 1 in the order read; an open end
// is kOpenRangeEnd.
struct FrameRange {
  int32_t first = 1, last = 1;
};
inline constexpr int32_t kOpenRangeEnd = INT32_MAX;

// What the user chose; the job copies it into the conversion.
struct FrameSelection {
  std::vector<FrameRange> ranges;        // empty: every frame
  std::optional<int64_t> after, before;  // UTC nanoseconds since 1970: at or after, strictly before
  bool dropDuplicates = false;           // a frame equal to one of the 4 read before it (editcap -d)
  int64_t timeShift = 0;                 // nanoseconds added to every frame's time
  std::optional<int64_t> startTime;      // the first frame written gets this UTC time (ns)
};

// The largest time shift taken: about a hundred years either way.
inline constexpr int64_t kLargestTimeShiftSeconds = 3'155'760'000;

// "12", "-3600.5", "0.000000001": decimal seconds, to the nanosecond.
std::optional<int64_t> ParseSecondsAsNanoseconds(const std::string& text);
// "2023-11-14T22:13:20.5Z", "2023-11-14 23:13:20+01:00", or seconds since
// 1970 ("1700000000.5"): UTC nanoseconds. A date without a zone is refused,
// as the machine's zone would make it mean different instants.
std::optional<int64_t> ParseUtcTime(const std::string& text);
// "9-12", "390-", "-20", "7", "1,5,9-12". Numbers as written: the job checks
// their bounds.
std::optional<std::vector<FrameRange>> ParseFrameRanges(const std::string& text);

// Moves the current frame's time by a number of nanoseconds. The one place
// that knows how a frame's time is held.
void ShiftFrameTime(ConversionState& s, int64_t nanoseconds);
// The current frame's UTC time in nanoseconds since 1970, as the source tells it.
int64_t FrameUtcNanoseconds(const ConversionState& s);

// The frame step of one conversion.
class FrameFilter {
 public:
  // Fixed when the frame loop starts; false when nothing is asked for.
  bool start(ConversionState& s);
  // False when the current frame is dropped; otherwise its time is shifted.
  bool pass(ConversionState& s);

  // For records a reader copies as they are stored, without making a frame
  // of them: the choice pass() would make, from the record's number, its
  // time (the source's, to the microsecond) and the bytes the target gets.
  // FramePath leaves the record, and every one after it, to pass().
  enum class Choice { Keep, Drop, FramePath };
  Choice choose(ConversionState& s, int32_t number, int64_t frameTime, const uint8_t* bytes,
                int32_t length);
  // The whole microseconds every kept record's time moves by; fixed once
  // choose() kept a record.
  int64_t shiftMicroseconds() const { return shifts_ ? shift_ / 1000 : 0; }
  // Copies the bytes of the records choose() looked at in the reader's
  // window, which is about to move on.
  void keepSeenBytes();

 private:
  bool chosenByNumber(int32_t number);
  // Whether bytes equal one of the frames before; either way they enter the
  // window, as `copy` says: copied, or (a record's) left in place for now.
  bool duplicate(const uint8_t* bytes, int32_t length, bool copy);
  int64_t utc(const ConversionState& s);  // of the current frame
  // FrameUtcNanoseconds of a frame time, the source's midnight kept.
  int64_t utcAt(const ConversionState& s, int64_t frameTime, int32_t nanoseconds);
  // The frame at this UTC time falls outside the window of --after/--before.
  bool outsideTimes(const ConversionState& s, int64_t when) const;

  std::vector<FrameRange> ranges_;  // sorted, apart from one another
  size_t range_ = 0;                // the first that does not end before the current frame
  bool byNumber_ = false, byTime_ = false, shifts_ = false;
  bool shiftKnown_ = false;
  double midnightDate_ = -1;  // the source's trace date and bias for which
  int32_t midnightBias_ = 0;  // midnight_ holds its midnight in UTC nanoseconds
  int64_t midnight_ = 0;
  int64_t shift_ = 0;
  // The frames read before, their bytes as the target would get them: in
  // `bytes`, or still in the reader's window at `at`.
  struct Seen {
    int32_t length = -1;
    const uint8_t* at = nullptr;
    std::vector<uint8_t> bytes;
  };
  static constexpr size_t kDuplicateWindow = 4;
  std::array<Seen, kDuplicateWindow> seen_;
  size_t nextSeen_ = 0;
};

}  // namespace morph
