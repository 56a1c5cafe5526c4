#include "engine/conversion.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "engine/catalogue.h"
#include "engine/checksum.h"
#include "engine/failure.h"
#include "engine/salvage.h"
#include "engine/timebase.h"

namespace morph {
namespace {

constexpr auto kPumpInterval = std::chrono::milliseconds(40);
constexpr int32_t kNoFramesYet = 0;

// "137,438 s (38 hours)"
std::string SpanText(int64_t micros) {
  return Grouped(micros / kMicrosPerSecond) + " s (" + std::to_string(micros / 3600000000) +
         " hours)";
}

}  // namespace

std::string FileNamePart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ---------------------------------------------------------------- driver

bool Conversion::ResetConversion() {
  ConversionState& s = state;
  s.status.stopRequested = false;
  s.counters.maxTruncatedLength = s.counters.maxFrameLength = 0;
  s.counters.framesWritten = 0;
  s.counters.frameBytes = 0;
  s.counters.frameBytesTotal = 0;
  s.status.writeFailed = false;
  s.status.targetDiscarded = false;
  s.counters.nonDataFrames = 0;
  s.time.traceDuration = 0;
  s.status.probeOnly = false;
  s.status.conversionFinished = false;
  s.status.badCompression = false;
  s.counters.skipped = {};
  s.counters.lost = {};
  s.counters.duplicateFrames = 0;
  s.time.sourceZoneBiasMinutes.reset();
  s.writerTime = {};
  s.counters.framesRead = 0;
  s.frame.frameNanoseconds = 0;
  s.time.sourceHasNanoseconds = false;
  s.sourceSnapshotLength = 0;
  s.frame.frameWithoutTime = false;
  s.frame.wirelessFcsBytes = 0;

  struct stat st {};
  if (s.options.sourceDate)
    s.time.traceDate = *s.options.sourceDate;
  else if (!s.sourceFileName.empty() && stat(s.sourceFileName.c_str(), &st) == 0)
    s.time.traceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(st.st_mtime));
  else
    s.time.traceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(std::time(nullptr)));
  ComputeTimeZoneBias(s, true);

  s.counters.framesReadTotal = 0;
  s.frame.frameData.clear();
  s.status.readError = false;
  s.status.readErrorDetail.clear();
  s.status.writeErrorDetail.clear();
  lastSourcePosition_ = -1;
  s.status.wrappedSource = false;
  s.status.endOfSource = false;
  s.counters.runtFrames = s.counters.oversizeFrames = s.counters.alignmentErrorFrames = s.counters.crcErrorFrames = 0;

  reader_ = ReaderFormat(s.sourceAnalyzer);
  writer_ = WriterFormat(s.targetAnalyzer);
  skipsTinyFrames_ = reader_ && reader_->has(Capability::SkipsTinyFrames);
  wirelessFcsKept_ = writer_ && writer_->has(Capability::KeepsWirelessFcs);
  s.options.ethernetFcsUnused = (writer_ && writer_->has(Capability::DropsEthernetFcs)) ||
                        (frameObserver && observerIgnoresFcs);

  readerContext_.reset();
  writerContext_.reset();
  stopPressed_ = false;
  framesAsTheyStand_ = false;
  filtering_ = false;
  splitPending_ = false;
  stepLast_ = fileLast_ = spanLast_ = INT64_MAX;
  fileFirst_ = spanFirst_ = INT64_MIN;
  fileStep_ = 0;
  framesSincePump_ = 0;
  lastPump_ = std::chrono::steady_clock::now();

  // A source handed in by the caller (library, tests) is used as it is.
  sourceOpenFailed_ = false;
  if (customReader.next) {
    // frames come from the caller
  } else if (source) {
    source->seek(0);
  } else if (!reader_ || !reader_->has(Capability::OwnSource)) {
    bool gzip = s.sourceCompressed && reader_ && reader_->has(Capability::GzipSource);
    source = gzip ? OpenGzipSource(s.sourceFileName) : OpenFileSource(s.sourceFileName);
    sourceOpenFailed_ = !source;
    if (sourceOpenFailed_) FailRead(s, SystemErrorDetail(s.sourceFileName));
  }
  if (source && source->size() >= 0) s.sourceFileSize = source->size();
  return !sourceOpenFailed_;
}

void Conversion::OpenSource() {
  ConversionState& s = state;
  s.frame.frameFlags = 0;
  s.frame.frameLength = 0;
  if (customReader.next) {
    if (customReader.open) customReader.open(*this);
    return;
  }
  if (!HasReader()) return;
  s.status.readError = false;
  s.status.endOfSource = false;
  if (reader_->readHeader) reader_->readHeader(*this);
}

void Conversion::ReadFrames(bool singleFrame) {
  ConversionState& s = state;
  s.frame.frameFlags = 0;
  s.frame.frameLength = 0;
  if (!HasReader()) return;
  s.status.readError = false;
  s.status.endOfSource = false;
  // A family's reader is called through its pointer: no std::function per frame.
  const NextRecordFn next = customReader.next ? nullptr : reader_->nextRecord;
  for (;;) {
    const ReadStatus status = next ? next(*this) : customReader.next(*this);
    if (status == ReadStatus::Record) [[likely]] {
      s.status.writeFailed = ProcessFrame();
    } else if (status == ReadStatus::NonData) {
      ++s.counters.framesRead;
      ++s.counters.framesWritten;
      ++s.counters.nonDataFrames;
    } else {
      if (status == ReadStatus::End) s.status.endOfSource = true;
      // A failure always has a reason: one the reader did not give is found at the end.
      else if (!s.status.readError && !s.status.writeFailed) s.status.readError = true;
      break;
    }
    if (singleFrame || s.status.readError || s.status.writeFailed || s.status.stopRequested || s.status.endOfSource) break;
  }
  s.counters.framesReadTotal = s.counters.framesRead;
}

bool Conversion::ConvertTrace(bool probeOnly, unsigned holdMilliseconds) {
  ConversionState& s = state;
  bool opened = ResetConversion();
  s.status.headerPending = true;
  s.status.writingIndex = false;
  s.status.probeOnly = probeOnly;

  if (!opened) {
    s.status.readError = true;  // reported as a read error of the first frame
  } else {
    OpenSource();
    filtering_ = !s.status.probeOnly && filter_.start(s);
    framesAsTheyStand_ = FramesGoAsTheyStand();
    frameLimit_ = FileFrameLimit();
    // A frame made 802.11 that a size limit sends into the next file takes the full way.
    framesMadeWireless_ = FramesGoUnaltered() && s.options.convertToWireless && !s.options.convertToEthernet &&
                          s.traceTopology == Topo::Ethernet && !s.options.splitAtLimits;
    TakeTargetLimits();
    // A header that failed to read leaves nothing to read frames from.
    if (!s.status.readError) ReadFrames(false);
    // A reader that stopped at its last frame has the source checked to its
    // end (a gzip trailer): only when the whole source was to be read.
    if (!s.status.readError && !s.status.writeFailed && !s.status.stopRequested && !s.status.probeOnly && s.options.convertAll &&
        source)
      source->readToEnd();
    // A source that failed where a reader took it for its end (an I/O error
    // at the end test, a file cut short while read) failed the reading.
    if (!s.status.readError && source && source->failed()) {
      const std::string reason = source->errorText();
      FailRead(s, reason.empty() ? s.sourceFileName + ": the file could not be read to its end"
                                 : reason);
    }
  }

  if (!s.status.probeOnly && s.status.badCompression)
    Report("File Read Error", "Bad compression encountered.  Data may be unreliable.",
           MessageIcon::Error);
  if (!s.status.probeOnly && s.status.wrappedSource) {
    Report("File Read Error", "Wrapped format not supported.", MessageIcon::Error);
    CloseSource();
    CloseTarget();
    return false;
  }

  Finish();
  s.status.conversionFinished = true;
  if (!s.status.probeOnly) {
    host.progress(Progress());
    if (holdMilliseconds > 0) host.hold(holdMilliseconds);
  }
  return true;
}

void Conversion::Finish() {
  ConversionState& s = state;
  if (s.status.probeOnly) {
    CloseSource();
    return;
  }
  if (s.counters.framesReadTotal - s.counters.nonDataFrames < 1)
    Report("Output", "Target file contains no frames!", MessageIcon::Information);
  if (s.status.readError && s.status.readErrorDetail.empty()) {
    // A reader that gave no reason: say at least where it stopped.
    const int64_t at = source ? source->position() : 0;
    s.status.readErrorDetail = source && source->failed()
                            ? source->errorText()
                            : "frame " + Grouped(s.counters.framesRead + 1) + " near offset " + Grouped(at) +
                                  ": damaged or cut short";
  }
  if (s.status.readError)
    ReportFailure(s.counters.framesRead > 0 ? "Error reading from source file.  File may be corrupt."
                                   : "Error reading from source file.  File may be in use by "
                                     "another application.",
                  s.status.readErrorDetail);
  if (s.counters.skipped.any()) Report("Damage Skipped", SkippedText(s.counters.skipped), MessageIcon::Warning);
  CompleteTarget();
  if (s.status.writeFailed)
    ReportFailure("Unable to write to destination file " + FileNamePart(s.targetFileName),
                  s.status.writeErrorDetail);
  CloseSource();
}

void Conversion::CompleteTarget() {
  ConversionState& s = state;
  // A read error after frames were written still completes the target: the
  // frames before it make a valid file.
  if (writer_ && writer_->finish && CanWrite() && !(s.status.readError && s.status.headerPending)) {
    // The header the finish step completes describes the frames written,
    // which a media conversion changed from the source's.
    const Topology sourceTopology = s.traceTopology;
    if (s.options.convertToWireless && s.traceTopology == Topo::Ethernet) s.traceTopology = Topo::Wireless;
    else if (s.options.convertToEthernet && s.traceTopology == Topo::Wireless) s.traceTopology = Topo::Ethernet;
    ComputeWriterTimeBase(s);
    writer_->finish(*this, s.counters.framesWritten);
    s.traceTopology = sourceTopology;
  }
  CloseTarget();
}

void Conversion::CloseSource() {
  if (source) lastSourcePosition_ = source->filePosition();
  readerContext_.close(*this);
  source.reset();
}

void Conversion::CloseTarget() {
  // A target that failed while flushing or closing failed as much as one
  // that failed in the middle.
  if (target && (!target->close() || target->failed())) FailWrite(state, target->errorText());
  writerContext_.close(*this);
}

void Conversion::CloseProbe() { CloseSource(); }

bool Conversion::ProbeFirstFrame() {
  if (!ResetConversion()) return false;
  state.status.probeOnly = true;
  OpenSource();
  if (!state.status.readError) ReadFrames(true);
  bool delivered = state.counters.framesRead > 0 && !state.status.readError;
  CloseProbe();
  return delivered;
}

ProgressView Conversion::Progress() const {
  // A reader that opens its own source tells its position itself.
  int64_t position = lastSourcePosition_ >= 0 ? lastSourcePosition_ : state.sourceFileSize;
  if (source)
    position = source->filePosition();
  else if (const FormatContext* r = readerContext_.peek(); r && r->SourcePosition(state) >= 0)
    position = r->SourcePosition(state);
  return ComputeProgress(state, position, stopPressed_);
}

void Conversion::Report(const std::string& caption, const std::string& text, MessageIcon icon) {
  if (!state.status.probeOnly) host.message(caption, text, icon);
}

void Conversion::ReportFailure(const std::string& text, const std::string& detail) {
  if (!state.status.probeOnly) host.failure("File Error", text, detail, MessageIcon::Error);
}

// ---------------------------------------------------------------- pipeline

void Conversion::PumpIfDue() {
  framesSincePump_ = 0;
  auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < kPumpInterval) return;
  lastPump_ = now;
  host.pumpEvents();
  host.progress(Progress());
}

namespace {

// Adds a step forward in time to the duration, which stops at its largest.
void AddToDuration(ConversionState& s, int64_t step) {
  int64_t total = 0;
  s.time.traceDuration = __builtin_add_overflow(s.time.traceDuration, step, &total) ? INT64_MAX : total;
}

// Adds the step from the frame before when it goes forward. Both frames lie
// within the trace span: the step cannot wrap.
inline void StepDuration(ConversionState& s) {
  if (s.frame.frameTime >= s.time.previousFrameTime) AddToDuration(s, s.frame.frameTime - s.time.previousFrameTime);
  s.time.previousFrameTime = s.frame.frameTime;
}

}  // namespace

void Conversion::DurationBookkeeping() {
  ConversionState& s = state;
  if (s.counters.framesWritten == kNoFramesYet) {
    s.time.firstFrameTime = s.frame.frameTime;
    s.time.traceDuration = 0;
    s.time.previousFrameTime = s.frame.frameTime;
    return;
  }
  if (!WithinTraceSpan(s.frame.frameTime, s.time.firstFrameTime)) {
    FailRead(s, "frame " + Grouped(s.counters.framesRead) + ": " + FrameTimeSpanText(s));
    return;
  }
  StepDuration(s);
}

bool FrameTimeBeyondSpan(const ConversionState& s) {
  return s.counters.framesWritten != kNoFramesYet && !WithinTraceSpan(s.frame.frameTime, s.time.firstFrameTime);
}

std::string FrameTimeSpanText(const ConversionState& s) {
  const __int128 wide = __int128(s.frame.frameTime) - s.time.firstFrameTime;
  return "time lies " + Grouped(int64_t(wide / 1000000)) + " s from the first frame's";
}

inline void Conversion::CountFrameRead() {
  ConversionState& s = state;
  // The clock is looked at every 64 frames only.
  if (++framesSincePump_ >= 64) PumpIfDue();
  ++s.counters.framesRead;
  if (s.frame.storedLength < s.frame.frameLength && s.frame.storedLength > s.counters.maxTruncatedLength)
    s.counters.maxTruncatedLength = s.frame.storedLength;
  if (s.frame.frameLength > s.counters.maxFrameLength) s.counters.maxFrameLength = s.frame.frameLength;
}

inline void Conversion::CountFrameWritten() {
  ConversionState& s = state;
  ++s.counters.framesWritten;
  s.counters.frameBytes += uint32_t(s.frame.storedLength);
  s.counters.frameBytesTotal += uint64_t(s.frame.storedLength);
  if (s.traceTopology == Topo::Ethernet) {
    if (s.frame.frameFlags & Flag::AlignmentError) {
      ++s.counters.alignmentErrorFrames;
      s.frame.frameFlags |= Flag::CrcError;
    }
    if (s.frame.frameFlags & Flag::CrcError) ++s.counters.crcErrorFrames;
    if (IsRuntFrame(s.frame.frameLength)) ++s.counters.runtFrames;
    if (IsOversizeFrame(s.frame.frameLength)) ++s.counters.oversizeFrames;
  }
}

inline void Conversion::NoteStopRequest() {
  if (host.stopRequested()) stopPressed_ = true;
  if (stopPressed_) state.status.stopRequested = true;
}

bool Conversion::FramesGoUnaltered() const {
  const ConversionState& s = state;
  // The frame selection (filtering_) takes the place of the frame range.
  return !s.status.probeOnly && (s.options.convertAll || filtering_) && !s.options.sliceFrames && !s.time.sourceZone &&
         !s.time.targetZone && writer_ && writer_->writeFrame && CanWrite();
}

bool Conversion::FramesGoAsTheyStand() const {
  return FramesGoUnaltered() && !state.options.convertToEthernet && !state.options.convertToWireless;
}


bool Conversion::FramesPassUnchanged() const {
  return state.options.copyUnchangedRecords && framesAsTheyStand_ && target && !customReader.next &&
         !skipsTinyFrames_;
}

UnchangedFrames::UnchangedFrames(Conversion& c)
    : s_(c.state),
      filter_(c.filtering_ ? &c.filter_ : nullptr),
      ethernet_(s_.traceTopology == Topo::Ethernet),
      shift_(filter_ ? filter_->shiftMicroseconds() : 0),
      previousTime_(s_.time.previousFrameTime),
      before_(s_.counters.framesRead),
      read_(s_.counters.framesRead),
      // A file begins with a frame that takes the whole pipeline.
      room_(s_.status.headerPending ? 0
            : c.frameLimit_ > 0 ? c.frameLimit_ - (s_.counters.framesWritten - s_.counters.nonDataFrames)
                                : INT32_MAX) {
  // WithinTraceSpan's bounds, saturated, within the file's.
  const int64_t first = s_.time.firstFrameTime, reach = kSpanLimitMicros - 1;
  int64_t low = 0, high = 0;
  if (__builtin_sub_overflow(first, reach, &low)) low = INT64_MIN;
  if (__builtin_add_overflow(first, reach, &high)) high = INT64_MAX;
  earliest_ = std::max(low, c.fileFirst_);
  latest_ = std::min(high, c.fileLast_);
  if (latest_ < earliest_) room_ = 0;
}

void Conversion::PassUnchangedFrames(const UnchangedFrames& batch) {
  ConversionState& s = state;
  const int32_t read = batch.count();
  if (read == 0) return;
  // The records taken may go on in the reader's window no longer.
  if (batch.filter_) filter_.keepSeenBytes();
  s.counters.framesRead = batch.read_;
  s.counters.maxFrameLength = std::max(s.counters.maxFrameLength, batch.maxFrame_);
  s.counters.maxTruncatedLength = std::max(s.counters.maxTruncatedLength, batch.maxTruncated_);
  framesSincePump_ += uint32_t(read);
  s.counters.framesWritten += batch.count_;
  s.counters.frameBytes += batch.bytes_;
  s.counters.frameBytesTotal += batch.bytes_;
  s.counters.runtFrames += batch.runts_;
  s.counters.oversizeFrames += batch.oversize_;
  AddToDuration(s, batch.forward_);
  s.time.previousFrameTime = batch.previousTime_;
  s.frame.frameTime = batch.lastTime_;
  s.frame.frameLength = batch.lastLength_;
  s.frame.storedLength = batch.lastStored_;
  s.frame.frameFlags = 0;
  if (framesSincePump_ >= 64) PumpIfDue();
  NoteStopRequest();
}

bool Conversion::ProcessFrame() {
  ConversionState& s = state;
  CountFrameRead();
  if (filtering_ && !filter_.pass(s)) return s.status.writeFailed;
  // After the first frame, one that goes as it stands and needs no failure
  // of its own takes the short way.
  if ((framesAsTheyStand_ || framesMadeWireless_) && !s.status.headerPending && !s.status.readError &&
      FrameFitsTargetButTime(shortWayStoredLimit_, shortWayWireLimit_) && !SkippedAsTiny() &&
      WithinTraceSpan(s.frame.frameTime, s.time.firstFrameTime) && RoomForFrameCount() &&
      !s.frame.frameWithoutTime && s.frame.frameTime >= fileFirst_ && s.frame.frameTime <= fileLast_) {
    StepDuration(s);
    CountFrameWritten();
    if (!TimeFitsTarget()) ++s.counters.lost.timesRounded;
    if (framesMadeWireless_) {
      // As the full way does: the writer sees an 802.11 frame of a wireless trace.
      EthernetToWireless();
      s.traceTopology = Topo::Wireless;
      writer_->writeFrame(*this);
      s.traceTopology = Topo::Ethernet;
    } else {
      writer_->writeFrame(*this);
      // A size limit refused the frame: it opens the next file.
      if (splitPending_) WriteIntoNextFile(s.counters.framesRead, true);
    }
    if (target && target->failed()) FailWrite(s, target->errorText());
    NoteStopRequest();
    return s.status.writeFailed;
  }
  return ProcessCountedFrame();
}

[[gnu::noinline]] bool Conversion::ProcessCountedFrame() {
  ConversionState& s = state;
  const int32_t n = s.counters.framesRead;
  if (s.status.probeOnly) return true;
  if (!s.options.convertAll && n < s.options.startFrame) return false;

  DurationBookkeeping();
  if (!FrameLengthsInRange(s.frame.frameLength, s.frame.storedLength))
    FailRead(s, "frame " + Grouped(n) + ": length " + Grouped(s.frame.frameLength) + " (stored " +
                    Grouped(s.frame.storedLength) + ") outside 0 to " + Grouped(MaxFrameBytes));
  if (s.status.readError) return false;
  if (SkippedAsTiny()) return false;
  if (NextFileDue() && !StartNextFile()) return true;
  // A target full to its frame count, or to the time it covers, stops
  // before the frame that does not fit; the finish step completes a file of
  // those before it.
  const int32_t inFile = s.counters.framesWritten - s.counters.nonDataFrames;
  if (const int32_t limit = TargetFrameLimit(); limit > 0 && inFile >= limit) {
    FailWrite(s, std::string("a ") + writer_->family + " file holds at most " + Grouped(limit) +
                     " frames; the frames before frame " + Grouped(n) + " are written");
    return true;
  }
  if (inFile > 0 && BeyondFileSpan()) {
    FailWrite(s, "frame " + Grouped(n) + ": its time lies beyond the " + SpanText(largestSpan_) +
                     " a " + writer_->family + " file covers; the frames before it are written");
    return true;
  }
  CountFrameWritten();

  bool write = true;
  bool result = false;
  if (s.traceTopology == Topo::Ethernet && s.options.convertToWireless) {
    EthernetToWireless();
    s.traceTopology = Topo::Wireless;
  }
  if (s.traceTopology == Topo::Wireless && s.options.convertToEthernet) {
    write = WirelessToEthernet();
    s.traceTopology = Topo::Ethernet;
  }

  WriteFrameOut(n, write);
  // A size limit refused the frame: it opens the next file.
  if (splitPending_) WriteIntoNextFile(n, write);
  // A writer fails by its target's I/O error or by setting writeFailed itself
  // (a value its format cannot hold).
  if (target && target->failed()) FailWrite(s, target->errorText());
  if (s.status.writeFailed) result = true;

  if (s.traceTopology == Topo::Ethernet && s.options.convertToEthernet) s.traceTopology = Topo::Wireless;
  else if (s.traceTopology == Topo::Wireless && s.options.convertToWireless) s.traceTopology = Topo::Ethernet;
  if (result) s.status.writeFailed = true;
  NoteStopRequest();
  if (!s.options.convertAll && n == s.options.endFrame) s.status.endOfSource = true;
  return result;
}

void Conversion::TakeTargetLimits() {
  const bool writes = writer_ && CanWrite();
  const TargetLimits limits = writes ? writer_->limits : TargetLimits{};
  // A whole Ethernet frame travels with its FCS, which such a writer leaves out.
  fcsLeftOut_ = writes && writer_->has(Capability::DropsEthernetFcs) &&
                        state.traceTopology == Topo::Ethernet && !state.options.convertToWireless
                    ? 4
                    : 0;
  storedLimit_ = uint32_t(std::clamp(limits.largestStored, 0, MaxFrameBytes - fcsLeftOut_));
  largestSpan_ = limits.largestSpanMicroseconds;
  spanCountedFrom_ = std::max<int64_t>(limits.spanCountedFromMicroseconds, 1);
  wireLimit_ = uint32_t(std::clamp(limits.largestWire, 0, MaxFrameBytes));
  constexpr uint32_t kWirelessGrowth = 18;
  const uint32_t room = framesMadeWireless_ ? kWirelessGrowth : 0;
  shortWayStoredLimit_ = storedLimit_ - std::min(storedLimit_, room);
  shortWayWireLimit_ = wireLimit_ - std::min(wireLimit_, room);
  wireLengthKept_ = !writes || limits.keepsWireLength;
  commentsKept_ = !writes || limits.keepsComments;
  untimedFramesKept_ = !writes || limits.keepsUntimedFrames;
  flagsDropped_ = writes ? uint16_t(~limits.keptFlags) : 0;
  const int32_t step = writes ? std::max(limits.timeUnitNanoseconds, 1) : 1;
  timeStepMicros_ = step >= 1000 ? step / 1000 : 1;
  timeStepNanos_ = step >= 1000 ? 1000 : step;
  // A target that keeps the time of day only loses the date once.
  if (writes && !limits.keepsDate) state.counters.lost.datesNotStored = 1;
}

namespace {

// Stores a frame's stored bytes shorter, counting what goes.
void CutStoredBytes(ConversionState& s, int32_t keep) {
  const int32_t cut = s.frame.storedLength - keep;
  s.counters.lost.bytesCut += cut;
  s.counters.frameBytes -= uint32_t(cut);
  s.counters.frameBytesTotal -= uint64_t(cut);
  s.frame.storedLength = keep;
}

}  // namespace

void Conversion::FitFrameToTarget() {
  ConversionState& s = state;
  FrameLosses& lost = s.counters.lost;
  bool cut = s.frame.storedLength < s.frame.frameLength;
  if (!StoredBytesFit(storedLimit_)) {
    ++lost.framesCut;
    CutStoredBytes(s, int32_t(storedLimit_));
    cut = true;
  }
  if (uint32_t(s.frame.frameLength) > wireLimit_) {
    ++lost.wireLengthsNotStored;
    s.frame.frameLength = int32_t(wireLimit_);
    // A cut Ethernet frame must not come to look whole: its last 4 bytes
    // would be taken for an FCS and rebuilt.
    if (cut && s.traceTopology == Topo::Ethernet && s.frame.storedLength > s.frame.frameLength - 4)
      CutStoredBytes(s, std::max(0, s.frame.frameLength - 4));
  } else if (!wireLengthKept_ && s.frame.storedLength < s.frame.frameLength) {
    ++lost.wireLengthsNotStored;
  }
  if (s.frame.frameFlags & flagsDropped_) ++lost.flagsNotStored;
  if (s.frame.frameWithoutTime && !untimedFramesKept_) ++lost.timesNotStored;
  else if (!TimeFitsTarget()) ++lost.timesRounded;
  if (!s.frame.frameComment.empty() && !commentsKept_) ++lost.commentsNotStored;
}

void Conversion::WriteFrameOut(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  if (s.counters.framesWritten == 1 || s.status.headerPending) {
    s.status.headerPending = false;
    s.time.firstFrameTime = s.frame.frameTime;
    StartFileTimes();
    ComputeWriterTimeBase(s);
    if (writer_ && writer_->writeHeader && CanWrite()) writer_->writeHeader(*this, frameNumber);
  }
  if (s.options.sliceFrames && s.options.sliceLength < s.frame.storedLength) s.frame.storedLength = s.options.sliceLength;
  if (write && !FrameFitsTarget(storedLimit_, wireLimit_)) FitFrameToTarget();
  if (write) {
    if (frameObserver)
      frameObserver(*this);
    else if (writer_ && writer_->writeFrame && CanWrite())
      writer_->writeFrame(*this);
  }
}

int32_t Conversion::FileFrameLimit() const {
  const int32_t family = TargetFrameLimit(), split = state.options.splitFrames;
  if (family == 0 || split == 0) return std::max(family, split);
  return std::min(family, split);
}

bool Conversion::NextFileDue() const {
  const ConversionState& s = state;
  const int32_t inFile = s.counters.framesWritten - s.counters.nonDataFrames;
  if (inFile == 0 || !nextTarget) return false;
  // As editcap -i: a frame on the step's end still belongs to it; one that
  // goes back in time stays in the file at hand.
  if (s.frame.frameTime > stepLast_) return true;
  if (s.options.splitFrames > 0 && inFile >= s.options.splitFrames) return true;
  const int32_t limit = TargetFrameLimit();
  return s.options.splitAtLimits && ((limit > 0 && inFile >= limit) || BeyondFileSpan());
}

void Conversion::StartFileTimes() {
  const ConversionState& s = state;
  // The steps of a split in time count from the first frame written.
  if (s.options.splitMicroseconds > 0 && fileStep_ == 0) {
    fileStep_ = s.options.splitMicroseconds;
    stepLast_ = s.frame.frameTime + fileStep_;
  }
  if (largestSpan_ > 0) {
    spanFirst_ = FloorDiv(s.frame.frameTime, spanCountedFrom_) * spanCountedFrom_;
    spanLast_ = spanFirst_ + largestSpan_;
  }
  fileFirst_ = spanFirst_;
  fileLast_ = std::min(stepLast_, spanLast_);
}

void Conversion::WriteIntoNextFile(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  splitPending_ = false;
  if (!StartNextFile()) return;
  ++s.counters.framesWritten;
  s.counters.frameBytes += uint32_t(s.frame.storedLength);
  s.counters.frameBytesTotal += uint64_t(s.frame.storedLength);
  WriteFrameOut(frameNumber, write);
}

bool Conversion::StartNextFile() {
  ConversionState& s = state;
  // A split in time moves on by whole steps; as editcap -i does, each step
  // passed without a frame is a file of its own, a header without frames.
  int64_t emptySteps = 0;
  if (fileStep_ > 0 && s.frame.frameTime > stepLast_) {
    const int64_t steps = FloorDiv(s.frame.frameTime - stepLast_ - 1, fileStep_) + 1;
    stepLast_ += steps * fileStep_;
    emptySteps = steps - 1;
  }
  constexpr int64_t kMostEmptyFiles = 10000;
  if (emptySteps > kMostEmptyFiles) {
    FailWrite(s, "frame " + Grouped(s.counters.framesRead) + " lies " + Grouped(emptySteps) +
                     " steps of the split after the frame before it: more empty files than " +
                     Grouped(kMostEmptyFiles) + "; the frames before it are written");
    CompleteTarget();
    return false;
  }
  if (!OpenNextFile()) return false;
  for (; emptySteps > 0; --emptySteps) {
    s.time.firstFrameTime = s.frame.frameTime;
    ComputeWriterTimeBase(s);
    if (writer_->writeHeader) writer_->writeHeader(*this, s.counters.framesRead);
    s.status.emptySplitStep = true;
    const bool opened = OpenNextFile();
    s.status.emptySplitStep = false;
    if (!opened) return false;
  }
  s.status.headerPending = true;
  return true;
}

bool Conversion::OpenNextFile() {
  ConversionState& s = state;
  CompleteTarget();
  if (s.status.writeFailed || !nextTarget(*this)) {
    if (!s.status.writeFailed) FailWrite(s, "the next file of the split target could not be opened");
    return false;
  }
  // Counters of one file start afresh; the trace's own go on.
  s.counters.framesWritten = 0;
  s.counters.nonDataFrames = 0;
  s.counters.frameBytes = 0;
  s.counters.frameBytesTotal = 0;
  s.time.traceDuration = 0;
  s.counters.maxFrameLength = s.frame.frameLength;
  s.counters.maxTruncatedLength = s.frame.storedLength < s.frame.frameLength ? s.frame.storedLength : 0;
  return true;
}

bool Conversion::RefuseFramePastLimit(uint64_t limit) {
  ConversionState& s = state;
  --s.counters.framesWritten;
  s.counters.frameBytes -= uint32_t(s.frame.storedLength);
  s.counters.frameBytesTotal -= uint64_t(s.frame.storedLength);
  // Split at the limit: the frame goes into the next file, unless it would
  // not fit an empty one either.
  if (s.options.splitAtLimits && nextTarget && s.counters.framesWritten - s.counters.nonDataFrames > 0) {
    splitPending_ = true;
    return false;
  }
  FailWrite(s, "frame " + Grouped(s.counters.framesRead) + " would carry the " +
                   (writer_ ? writer_->family : "") + " target past " + Grouped(int64_t(limit)) +
                   " bytes, the most it can address; the frames before it are written");
  return false;
}

// Not vectorised: the two lengths would be loaded as one word, which waits
// for the reader's two separate stores of them to leave the core.
[[gnu::optimize("no-tree-slp-vectorize")]] void Conversion::EthernetToWireless() {
  ConversionState& s = state;
  uint8_t* d = s.frame.frameData.data();
  s.frame.wirelessDataRate = 22;
  s.frame.wirelessChannel = 1;
  s.frame.wirelessSignal = 100;
  s.frame.wirelessNoise = 0;
  // The Ethernet FCS is no 802.11 FCS: the frame goes on without one.
  s.frame.frameLength = std::max(0, s.frame.frameLength - 4);
  s.frame.storedLength = std::min(s.frame.storedLength, s.frame.frameLength);
  s.frame.wirelessFcsBytes = 0;
  // The addresses are taken before the payload moves over them.
  uint8_t addresses[12];
  std::memcpy(addresses, d, 12);
  const uint16_t type = uint16_t(d[12] << 8 | d[13]);
  const size_t payload = size_t(std::max(0, s.frame.storedLength - 14));
  int32_t growth;
  if (type > 1500) {
    MoveBytes(d + 32, d + 14, payload);
    const uint8_t snap[8] = {0xAA, 0xAA, 0x03, 0, 0, 0, uint8_t(type >> 8), uint8_t(type)};
    std::memcpy(d + 24, snap, 8);
    growth = 18;
  } else if (d[14] == 0xFF && d[15] == 0xFF) {
    MoveBytes(d + 27, d + 14, payload);
    d[24] = 0xE0;
    d[25] = 0xE0;
    d[26] = 0x03;
    growth = 13;
  } else {
    MoveBytes(d + 24, d + 14, payload);
    growth = 10;
  }
  // The 802.11 data header: destination, source, and the source again as BSSID.
  const uint8_t control[4] = {0x08, 0, 0, 0};
  std::memcpy(d, control, 4);
  std::memcpy(d + 4, addresses, 12);
  std::memcpy(d + 16, addresses + 6, 6);
  d[22] = d[23] = 0;
  s.frame.frameLength += growth;
  s.frame.storedLength += growth;
  if (!wirelessFcsKept_) return;
  // The 802.11 FCS of the new frame: the CRC-32 over its bytes, where they are all in hand.
  const bool whole = s.frame.storedLength == s.frame.frameLength;
  if (whole) PutLE32(d + s.frame.frameLength, Crc32(d, size_t(s.frame.frameLength)));
  s.frame.frameLength += 4;
  if (whole) s.frame.storedLength += 4;
  s.frame.wirelessFcsBytes = 4;
}

bool Conversion::WirelessToEthernet() {
  ConversionState& s = state;
  uint8_t* d = s.frame.frameData.data();
  bool write = true;
  if ((d[0] & 0x0C) != 0x08) {
    write = false;
    ++s.counters.nonDataFrames;
  }
  const int ds = d[1] & 3;
  uint8_t dst[6], src[6];
  const int dstAt[4] = {4, 16, 4, 16};
  const int srcAt[4] = {10, 10, 16, 24};
  std::memcpy(dst, d + dstAt[ds], 6);
  std::memcpy(src, d + srcAt[ds], 6);
  const int headerEnd = ds == 3 ? 30 : 24;
  const int32_t shrink = ds == 3 ? 16 : 10;
  // Lengths of the Ethernet frame without an FCS: an 802.11 FCS is dropped
  // only where the source says the frame ends in one.
  const int32_t fcs = std::clamp(s.frame.wirelessFcsBytes, 0, 4);
  int32_t length = s.frame.frameLength - shrink - fcs;
  int32_t stored = std::clamp(s.frame.storedLength - shrink, 0, std::max(0, length));
  std::memmove(d + 14, d + headerEnd, size_t(std::max(0, s.frame.storedLength - headerEnd)));
  s.frame.wirelessFcsBytes = 0;
  if (length <= 0) {
    s.frame.frameLength = s.frame.storedLength = 0;
    if (write) ++s.counters.nonDataFrames;
    return false;
  }
  std::memcpy(d, dst, 6);
  std::memcpy(d + 6, src, 6);
  const auto pad = [&] {  // padded on the wire; the bytes in hand stay as they are
    if (length >= 60) return;
    std::memset(d + length, 0, size_t(60 - length));
    length = 60;
  };
  // A SNAP header that carries an EtherType (RFC 1042, or the bridge tunnel)
  // gives an Ethernet II frame of that type, as EthernetToWireless made it:
  // an 802.3 length field could not state a full-size IP packet with it.
  const uint8_t* snap = d + 14;
  if (stored >= 8 && snap[0] == 0xAA && snap[1] == 0xAA && snap[2] == 0x03 && snap[3] == 0 &&
      snap[4] == 0 && (snap[5] == 0 || snap[5] == 0xF8) && (snap[6] << 8 | snap[7]) > 1500) {
    d[12] = snap[6];
    d[13] = snap[7];
    std::memmove(d + 14, d + 22, size_t(stored - 8));
    length -= 8;
    stored -= 8;
    pad();
  } else if (length > 1514) {  // more than an 802.3 length field states: the bytes stay
    d[12] = 0x05;
    d[13] = 0xDC;
  } else {
    pad();
    d[12] = uint8_t((length - 14) >> 8);
    d[13] = uint8_t(length - 14);
  }
  // Ethernet frames count their FCS: a whole frame gets the one of its new
  // bytes; a padded one keeps only the bytes it had.
  const bool whole = stored == length;
  s.frame.frameLength = length + 4;
  s.frame.storedLength = whole ? s.frame.frameLength : stored;
  if (whole) StoreEthernetFcs(s);
  return write;
}

}  // namespace morph
