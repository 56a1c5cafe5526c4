// One conversion: the state record, the source and target streams, the host
// it reports to, and the driver and frame pipeline that run it.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/format.h"
#include "engine/host.h"
#include "engine/progress.h"
#include "engine/state.h"
#include "engine/streams.h"
#include "engine/timebase.h"

namespace morph {

class Conversion {
 public:
  explicit Conversion(Host& host) : host(host) {}

  ConversionState state;
  Host& host;
  std::unique_ptr<SourceStream> source;
  std::unique_ptr<TargetStream> target;

  // A reader of the caller's own in place of the source's (merge, tests).
  CustomReader customReader;
  // Receives every frame to be written in place of the target writer
  // (library, tests); the target then stays untouched.
  std::function<void(Conversion&)> frameObserver;
  // The frame observer never reads an Ethernet FCS: readers may skip computing it.
  bool observerIgnoresFcs = false;
  // Where a split target goes on (splitFrames, splitMicroseconds,
  // splitAtLimits): called with the current file finished and its stream
  // closed, it keeps that file and opens the next as `target`. False when
  // that failed (the reason set through FailWrite): the conversion ends.
  std::function<bool(Conversion&)> nextTarget;

  // ---- Driver ----
  // Runs the whole conversion. The caller has set the identity fields and
  // options and, unless probing, created `target`. Returns false only when
  // the source had to be given up after reading (a capture wrapped in a
  // layout its reader only finds out while reading).
  bool ConvertTrace(bool probeOnly, unsigned holdMilliseconds = 0);
  // Start-of-conversion reset; opens the source. False when it cannot be opened.
  bool ResetConversion();
  // The reader's header step: the caller's, or the source family's.
  void OpenSource();
  // The frame loop: takes the reader's records one by one (one alone in
  // probe mode) through the pipeline until the end, a failure or a stop,
  // keeping framesRead, framesReadTotal, endOfSource and writeFailed.
  void ReadFrames(bool singleFrame);
  // Runs the source's header step and first frame without writing anything
  // (topology probes). Returns true when a frame was delivered.
  bool ProbeFirstFrame();
  void CloseProbe();

  // ---- Frames that pass unchanged ----
  friend class UnchangedFrames;
  // Whether frames may pass unchanged in this conversion: every frame goes
  // to the target writer as it stands (see FramesGoAsTheyStand). A reader
  // that then finds records its own family's writer would write again byte
  // for byte may copy them itself, counted through an UnchangedFrames batch.
  bool FramesPassUnchanged() const;
  // The pipeline's work for a batch of such frames: counts them and their
  // trace duration as ProcessFrame would, keeps the progress display and
  // looks for a stop request. The last frame is left as the current one.
  void PassUnchangedFrames(const class UnchangedFrames& batch);

  // For writers whose files state 32-bit offsets or sizes: true when the
  // file still ends within the limit after the current frame, `end` being
  // where it would then end (with what the finish step adds). Otherwise the
  // frame is not counted, the write fails with the reason and the finish
  // step completes a valid file of the frames before it. `formatLimit` is
  // a smaller bound of the format's own (a page table's reach).
  bool RoomForFrame(uint64_t end, uint64_t formatLimit = UINT64_MAX) {
    const uint64_t limit = std::min(state.options.targetOffsetLimit, formatLimit);
    return end <= limit || RefuseFramePastLimit(limit);
  }
  // The most frames the target can hold (its family's count field); 0 = no limit.
  int32_t TargetFrameLimit() const {
    if (!writer_ || writer_->maxFrames <= 0) return 0;
    const int32_t lowered = state.options.targetFrameLimit;
    return lowered > 0 && lowered < writer_->maxFrames ? lowered : writer_->maxFrames;
  }

  // The progress display as it stands.
  ProgressView Progress() const;

  // ---- Per-format scratch ----
  // Fresh for every conversion; created at the first call. Readers and
  // writers take the reference once per step, not per frame.
  template <class T>
  T& ReaderContext() {
    return readerContext_.get<T>();
  }
  template <class T>
  T& WriterContext() {
    return writerContext_.get<T>();
  }

  // The family that writes the target (resolved once per conversion; null when
  // there is none).
  const FormatDescriptor* writerFormat() const { return writer_; }

  // Source helpers for readers: the stream, end test and position.
  bool SourceAtEnd() { return !source || (!source->holdsBytes() && source->atEnd()); }

 private:
  // One context slot, tagged with the type it holds, so finding it again
  // costs a pointer comparison instead of a cast.
  class ContextSlot {
   public:
    template <class T>
    T& get() {
      if (tag_ != &kTag<T>) {
        context_ = std::make_unique<T>();
        tag_ = &kTag<T>;
      }
      return static_cast<T&>(*context_);
    }
    void reset() {
      context_.reset();
      tag_ = nullptr;
    }
    // Lets the context release what it holds, then drops it.
    void close(Conversion& c) {
      if (context_) context_->Close(c);
      reset();
    }
    const FormatContext* peek() const { return context_.get(); }

   private:
    template <class T>
    static constexpr char kTag = 0;
    std::unique_ptr<FormatContext> context_;
    const char* tag_ = nullptr;
  };

  // ---- Frame pipeline ----
  // Hands the current frame on; true ends the reading.
  bool ProcessFrame();
  // Whether there is a reader to take records from.
  bool HasReader() const {
    return customReader.next ||
           (reader_ && reader_->nextRecord && (source || reader_->has(Capability::OwnSource)));
  }

  void Finish();
  void CloseSource();
  void CloseTarget();
  // The target writer runs: a target stream, or a writer that creates its own.
  bool CanWrite() const {
    return (target || (writer_ && writer_->has(Capability::OwnTarget))) && !frameObserver;
  }
  // Whether every frame goes to the target writer as it stands (no range,
  // slice, media conversion, chosen zone or frame observer), tiny frames
  // and a target full to its frame count aside: fixed once the source's
  // header is read.
  bool FramesGoAsTheyStand() const;
  // The same, media conversions aside.
  bool FramesGoUnaltered() const;
  // The target holds another frame (the frame count its family allows).
  bool RoomForFrameCount() const {
    return frameLimit_ == 0 || state.counters.framesWritten - state.counters.nonDataFrames < frameLimit_;
  }
  bool ProcessCountedFrame();
  // Fixes, from the writer's declared limits, what the pipeline compares
  // every frame with (no writer: nothing).
  void TakeTargetLimits();
  // The current frame fits the target as it stands: nothing of it is lost.
  // A few integer compares, for the short way.
  bool FrameFitsTarget(uint32_t storedLimit, uint32_t wireLimit) const {
    return FrameFitsTargetButTime(storedLimit, wireLimit) && TimeFitsTarget();
  }
  // The same, the time aside: the writer rounds it to its steps (counted
  // in Lost.timesRounded), which the short way takes too.
  bool FrameFitsTargetButTime(uint32_t storedLimit, uint32_t wireLimit) const {
    const ConversionState& s = state;
    return uint32_t(s.frame.frameLength) <= wireLimit && StoredBytesFit(storedLimit) &&
           (wireLengthKept_ || s.frame.storedLength >= s.frame.frameLength) &&
           !(s.frame.frameFlags & flagsDropped_) && !s.frame.frameWithoutTime && s.frame.frameComment.empty();
  }
  // The target holds the frame's stored bytes: a whole Ethernet frame's FCS
  // is not among them where the writer leaves it out.
  bool StoredBytesFit(uint32_t storedLimit) const {
    const ConversionState& s = state;
    const uint32_t fcs = s.frame.storedLength >= s.frame.frameLength ? uint32_t(fcsLeftOut_) : 0;
    return uint32_t(s.frame.storedLength) <= storedLimit + fcs;
  }
  // The frame's time is a whole number of the target's time steps.
  bool TimeFitsTarget() const {
    const ConversionState& s = state;
    return (timeStepMicros_ <= 1 || s.frame.frameTime % timeStepMicros_ == 0) &&
           (s.frame.frameNanoseconds == 0 || s.frame.frameNanoseconds % timeStepNanos_ == 0);
  }
  // Counts what the target cannot hold of the current frame, cutting its
  // lengths to the target's fields.
  void FitFrameToTarget();
  // The frames one file holds: its family's count, or fewer to split.
  int32_t FileFrameLimit() const;
  // The current frame starts the next file of a split target.
  bool NextFileDue() const;
  // The current frame lies beyond the time the current file covers.
  bool BeyondFileSpan() const {
    return state.frame.frameTime < spanFirst_ || state.frame.frameTime > spanLast_;
  }
  // Fixes the times the file begun by the current frame may hold.
  void StartFileTimes();
  // Finishes the current file and opens the next (with the empty files of
  // the steps of a split in time passed over); false when that failed.
  bool StartNextFile();
  bool OpenNextFile();
  // Opens the next file for the current frame, which the current one has
  // no room for, and writes it there.
  void WriteIntoNextFile(int32_t frameNumber, bool write);
  // The writer's finish step and the closing of the target.
  void CompleteTarget();
  // The header (for a file's first frame), slicing and the write.
  void WriteFrameOut(int32_t frameNumber, bool write);
  // RoomForFrame's refusal of the current frame; always false.
  [[gnu::noinline]] bool RefuseFramePastLimit(uint64_t limit);
  // A frame of 4 bytes or less from a reader whose family does not write them.
  bool SkippedAsTiny() const { return state.frame.frameLength <= 4 && skipsTinyFrames_; }
  void DurationBookkeeping();
  void CountFrameRead();
  void CountFrameWritten();
  void NoteStopRequest();
  void EthernetToWireless();
  bool WirelessToEthernet();  // false: the frame is not to be written
  void PumpIfDue();
  void Report(const std::string& caption, const std::string& text, MessageIcon icon);
  void ReportFailure(const std::string& text, const std::string& detail);

  ContextSlot readerContext_;
  ContextSlot writerContext_;
  const FormatDescriptor* reader_ = nullptr;
  const FormatDescriptor* writer_ = nullptr;
  bool stopPressed_ = false;
  bool framesAsTheyStand_ = false;
  // Every frame goes as it stands but for being made 802.11 (an Ethernet
  // source converted to wireless): the short way with that step.
  bool framesMadeWireless_ = false;
  int32_t frameLimit_ = 0;  // FileFrameLimit(), fixed with the two above
  FrameFilter filter_;
  bool filtering_ = false;  // the filter has work, fixed with the above
  // A split target in time: the last frame time of the current step (a
  // later frame starts the next file), and the step. The span a file of the
  // target covers (TargetLimits::largestSpanMicroseconds) from its first
  // frame: fixed at each file's first frame. The short way and records
  // copied as stored take frames within [fileFirst_, fileLast_], where all
  // of these hold.
  int64_t stepLast_ = INT64_MAX;
  int64_t fileStep_ = 0;
  int64_t spanFirst_ = INT64_MIN, spanLast_ = INT64_MAX;
  int64_t fileFirst_ = INT64_MIN, fileLast_ = INT64_MAX;
  int64_t largestSpan_ = 0, spanCountedFrom_ = 1;  // the writer's span limit
  // A frame a size limit refused, which goes into the next file.
  bool splitPending_ = false;
  // The writer's limits (TakeTargetLimits): lengths as unsigned bounds, so
  // that one compare refuses a negative length too; the short way's leave
  // room for the header a frame made 802.11 gains.
  uint32_t storedLimit_ = MaxFrameBytes, wireLimit_ = MaxFrameBytes;
  uint32_t shortWayStoredLimit_ = MaxFrameBytes, shortWayWireLimit_ = MaxFrameBytes;
  int32_t fcsLeftOut_ = 0;  // 4 where the writer leaves out an Ethernet frame's FCS
  bool wireLengthKept_ = true, commentsKept_ = true, untimedFramesKept_ = true;
  uint16_t flagsDropped_ = 0;
  // The target's time step: whole microseconds (1 or less: finer than one)
  // and, within a microsecond, nanoseconds (1: every nanosecond kept).
  int64_t timeStepMicros_ = 1;
  int32_t timeStepNanos_ = 1;
  bool skipsTinyFrames_ = false;
  bool wirelessFcsKept_ = false;  // the writer stores an FCS with frames made 802.11
  bool sourceOpenFailed_ = false;
  int64_t lastSourcePosition_ = -1;  // where reading ended, once the source is closed
  uint32_t framesSincePump_ = 0;
  std::chrono::steady_clock::time_point lastPump_{};
};

// Ethernet frames (FCS included) the conversion counts as runts and oversize.
constexpr bool IsRuntFrame(int32_t frameLength) { return frameLength < 64; }
constexpr bool IsOversizeFrame(int32_t frameLength) { return frameLength > 1518; }
// The lengths a frame may have on its way to a writer.
constexpr bool FrameLengthsInRange(int32_t frameLength, int32_t storedLength) {
  return frameLength >= 0 && frameLength <= MaxFrameBytes && storedLength >= 0 &&
         storedLength <= MaxFrameBytes;
}
// Whether a frame time lies within the span a trace may cover: its duration
// is kept in whole milliseconds that may not pass 2,147,483,647, about 24.8
// days either side of the first frame. Times come from files and may lie
// anywhere in 64 bits, so the difference is overflow-checked.
constexpr int64_t kSpanLimitMicros = (int64_t(2147483647) + 1) * 1000;
inline bool WithinTraceSpan(int64_t frameTime, int64_t firstFrameTime) {
  int64_t span = 0;
  return !__builtin_sub_overflow(frameTime, firstFrameTime, &span) && span < kSpanLimitMicros &&
         span > -kSpanLimitMicros;
}

// Whether the current frame's time lies beyond that span, counted from the
// first frame taken (before it: never). The pipeline refuses such a frame;
// a salvaging reader takes its record for damage.
bool FrameTimeBeyondSpan(const ConversionState& s);
// "time lies 291,695,820 s from the first frame's"
std::string FrameTimeSpanText(const ConversionState& s);

// Frames a reader hands on unchanged (see Conversion::FramesPassUnchanged),
// counted in batches of up to 64 so the pipeline's work is done once a batch.
// They carry no flags and come after the first frame. The conversion's frame
// selection drops records here as it would drop their frames.
class UnchangedFrames {
 public:
  static constexpr int kMost = 64;
  explicit UnchangedFrames(Conversion& c);

  enum class Take { Copied, Dropped, Refused };
  // Takes a record: Copied (counted; it goes to the target with its time
  // moved by shiftMicroseconds()), Dropped (read, not written) or Refused
  // (nothing counted: it must take the whole pipeline, and so must every
  // record after it). `bytes` are those the target gets, which stay in
  // place until the batch is handed to PassUnchangedFrames. Refused: lengths
  // out of range, a time too far from the first frame's or past the file's,
  // a file full to its frame count, or what the selection cannot decide here.
  Take add(int32_t frameLength, int32_t storedLength, int64_t frameTime, const uint8_t* bytes,
           int32_t byteCount) {
    // 0 <= storedLength <= frameLength <= MaxFrameBytes, compared unsigned.
    if (uint32_t(storedLength) > uint32_t(frameLength) || uint32_t(frameLength) > uint32_t(MaxFrameBytes) ||
        count_ >= room_)
      return Take::Refused;
    const int64_t shifted = frameTime + shift_;
    if (uint64_t(shifted) - uint64_t(earliest_) > uint64_t(latest_) - uint64_t(earliest_))
      return Take::Refused;
    if (filter_) {
      const FrameFilter::Choice choice = filter_->choose(s_, read_ + 1, frameTime, bytes, byteCount);
      if (choice == FrameFilter::Choice::FramePath) return Take::Refused;
      if (storedLength < frameLength) maxTruncated_ = std::max(maxTruncated_, storedLength);
      maxFrame_ = std::max(maxFrame_, frameLength);
      ++read_;
      if (choice == FrameFilter::Choice::Drop) {
        // Read, it is the current frame, its time as the source has it.
        lastTime_ = frameTime;
        lastLength_ = frameLength;
        lastStored_ = storedLength;
        return Take::Dropped;
      }
    } else {
      if (storedLength < frameLength) maxTruncated_ = std::max(maxTruncated_, storedLength);
      maxFrame_ = std::max(maxFrame_, frameLength);
      ++read_;
    }
    ++count_;
    bytes_ += uint32_t(storedLength);
    if (ethernet_) {
      runts_ += IsRuntFrame(frameLength);
      oversize_ += IsOversizeFrame(frameLength);
    }
    if (shifted >= previousTime_) forward_ += shifted - previousTime_;
    previousTime_ = lastTime_ = shifted;
    lastLength_ = frameLength;
    lastStored_ = storedLength;
    return Take::Copied;
  }
  bool full() const { return read_ - before_ == kMost; }
  // Records taken, copied or dropped.
  int32_t count() const { return read_ - before_; }
  // Whole microseconds the time of each record copied moves by.
  int64_t shiftMicroseconds() const { return shift_; }

 private:
  friend class Conversion;
  ConversionState& s_;
  FrameFilter* filter_;  // null when the conversion selects nothing
  bool ethernet_;
  int64_t shift_;
  int64_t previousTime_;
  // The times a record may have: within the trace's span of the first
  // frame and the target file's times. When none is left, room_ is 0.
  int64_t earliest_, latest_;
  int32_t before_;  // frames read before the batch
  int32_t read_;    // the number of the last record taken
  int32_t room_;  // frames the file still holds
  int32_t count_ = 0, maxFrame_ = 0, maxTruncated_ = 0, runts_ = 0, oversize_ = 0;
  int64_t lastTime_ = 0;  // the last record taken
  int32_t lastLength_ = 0, lastStored_ = 0;
  uint32_t bytes_ = 0;
  int64_t forward_ = 0;  // the steps forward in time, within one batch
};

// The file name part of a path.
std::string FileNamePart(const std::string& path);

}  // namespace morph
