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
  s.status.StopRequested = false;
  s.counters.MaxTruncatedLength = s.counters.MaxFrameLength = 0;
  s.counters.FramesWritten = 0;
  s.counters.FrameBytes = 0;
  s.counters.FrameBytesTotal = 0;
  s.status.WriteFailed = false;
  s.status.TargetDiscarded = false;
  s.counters.NonDataFrames = 0;
  s.time.TraceDuration = 0;
  s.status.ProbeOnly = false;
  s.status.ConversionFinished = false;
  s.status.BadCompression = false;
  s.counters.Skipped = {};
  s.counters.Lost = {};
  s.counters.DuplicateFrames = 0;
  s.time.SourceZoneBiasMinutes.reset();
  s.writerTime = {};
  s.counters.FramesRead = 0;
  s.frame.FrameNanoseconds = 0;
  s.time.SourceHasNanoseconds = false;
  s.SourceSnapshotLength = 0;
  s.frame.FrameWithoutTime = false;
  s.frame.WirelessFcsBytes = 0;

  struct stat st {};
  if (s.options.SourceDate)
    s.time.TraceDate = *s.options.SourceDate;
  else if (!s.SourceFileName.empty() && stat(s.SourceFileName.c_str(), &st) == 0)
    s.time.TraceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(st.st_mtime));
  else
    s.time.TraceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(std::time(nullptr)));
  ComputeTimeZoneBias(s, true);

  s.counters.FramesReadTotal = 0;
  std::memset(s.frame.FrameData.data(), 0, MaxFrameBytes);
  s.status.ReadError = false;
  s.status.ReadErrorDetail.clear();
  s.status.WriteErrorDetail.clear();
  lastSourcePosition_ = -1;
  s.status.WrappedSource = false;
  s.status.EndOfSource = false;
  s.counters.RuntFrames = s.counters.OversizeFrames = s.counters.AlignmentErrorFrames = s.counters.CrcErrorFrames = 0;

  reader_ = ReaderFormat(s.SourceAnalyzer);
  writer_ = WriterFormat(s.TargetAnalyzer);
  skipsTinyFrames_ = reader_ && reader_->has(Capability::SkipsTinyFrames);
  wirelessFcsKept_ = writer_ && writer_->has(Capability::KeepsWirelessFcs);
  s.options.EthernetFcsUnused = (writer_ && writer_->has(Capability::DropsEthernetFcs)) ||
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
    bool gzip = s.SourceCompressed && reader_ && reader_->has(Capability::GzipSource);
    source = gzip ? OpenGzipSource(s.SourceFileName) : OpenFileSource(s.SourceFileName);
    sourceOpenFailed_ = !source;
    if (sourceOpenFailed_) FailRead(s, SystemErrorDetail(s.SourceFileName));
  }
  if (source && source->size() >= 0) s.SourceFileSize = source->size();
  return !sourceOpenFailed_;
}

void Conversion::OpenSource() {
  ConversionState& s = state;
  s.frame.FrameFlags = 0;
  s.frame.FrameLength = 0;
  if (customReader.next) {
    if (customReader.open) customReader.open(*this);
    return;
  }
  if (!HasReader()) return;
  s.status.ReadError = false;
  s.status.EndOfSource = false;
  if (reader_->readHeader) reader_->readHeader(*this);
}

void Conversion::ReadFrames(bool singleFrame) {
  ConversionState& s = state;
  s.frame.FrameFlags = 0;
  s.frame.FrameLength = 0;
  if (!HasReader()) return;
  s.status.ReadError = false;
  s.status.EndOfSource = false;
  // A family's reader is called through its pointer: no std::function per frame.
  const NextRecordFn next = customReader.next ? nullptr : reader_->nextRecord;
  for (;;) {
    const ReadStatus status = next ? next(*this) : customReader.next(*this);
    if (status == ReadStatus::Record) [[likely]] {
      s.status.WriteFailed = ProcessFrame();
    } else if (status == ReadStatus::NonData) {
      ++s.counters.FramesRead;
      ++s.counters.FramesWritten;
      ++s.counters.NonDataFrames;
    } else {
      if (status == ReadStatus::End) s.status.EndOfSource = true;
      // A failure always has a reason: one the reader did not give is found at the end.
      else if (!s.status.ReadError && !s.status.WriteFailed) s.status.ReadError = true;
      break;
    }
    if (singleFrame || s.status.ReadError || s.status.WriteFailed || s.status.StopRequested || s.status.EndOfSource) break;
  }
  s.counters.FramesReadTotal = s.counters.FramesRead;
}

bool Conversion::ConvertTrace(bool probeOnly, unsigned holdMilliseconds) {
  ConversionState& s = state;
  bool opened = ResetConversion();
  s.status.HeaderPending = true;
  s.status.WritingIndex = false;
  s.status.ProbeOnly = probeOnly;

  if (!opened) {
    s.status.ReadError = true;  // reported as a read error of the first frame
  } else {
    OpenSource();
    filtering_ = !s.status.ProbeOnly && filter_.start(s);
    framesAsTheyStand_ = FramesGoAsTheyStand();
    frameLimit_ = FileFrameLimit();
    // A frame made 802.11 that a size limit sends into the next file takes the full way.
    framesMadeWireless_ = FramesGoUnaltered() && s.options.ConvertToWireless && !s.options.ConvertToEthernet &&
                          s.TraceTopology == Topo::Ethernet && !s.options.SplitAtLimits;
    TakeTargetLimits();
    // A header that failed to read leaves nothing to read frames from.
    if (!s.status.ReadError) ReadFrames(false);
    // A reader that stopped at its last frame has the source checked to its
    // end (a gzip trailer): only when the whole source was to be read.
    if (!s.status.ReadError && !s.status.WriteFailed && !s.status.StopRequested && !s.status.ProbeOnly && s.options.ConvertAll &&
        source)
      source->readToEnd();
    // A source that failed where a reader took it for its end (an I/O error
    // at the end test, a file cut short while read) failed the reading.
    if (!s.status.ReadError && source && source->failed()) {
      const std::string reason = source->errorText();
      FailRead(s, reason.empty() ? s.SourceFileName + ": the file could not be read to its end"
                                 : reason);
    }
  }

  if (!s.status.ProbeOnly && s.status.BadCompression)
    Report("File Read Error", "Bad compression encountered.  Data may be unreliable.",
           MessageIcon::Error);
  if (!s.status.ProbeOnly && s.status.WrappedSource) {
    Report("File Read Error", "Wrapped format not supported.", MessageIcon::Error);
    CloseSource();
    CloseTarget();
    return false;
  }

  Finish();
  s.status.ConversionFinished = true;
  if (!s.status.ProbeOnly) {
    host.progress(Progress());
    if (holdMilliseconds > 0) host.hold(holdMilliseconds);
  }
  return true;
}

void Conversion::Finish() {
  ConversionState& s = state;
  if (s.status.ProbeOnly) {
    CloseSource();
    return;
  }
  if (s.counters.FramesReadTotal - s.counters.NonDataFrames < 1)
    Report("Output", "Target file contains no frames!", MessageIcon::Information);
  if (s.status.ReadError && s.status.ReadErrorDetail.empty()) {
    // A reader that gave no reason: say at least where it stopped.
    const int64_t at = source ? source->position() : 0;
    s.status.ReadErrorDetail = source && source->failed()
                            ? source->errorText()
                            : "frame " + Grouped(s.counters.FramesRead + 1) + " near offset " + Grouped(at) +
                                  ": damaged or cut short";
  }
  if (s.status.ReadError)
    ReportFailure(s.counters.FramesRead > 0 ? "Error reading from source file.  File may be corrupt."
                                   : "Error reading from source file.  File may be in use by "
                                     "another application.",
                  s.status.ReadErrorDetail);
  if (s.counters.Skipped.any()) Report("Damage Skipped", SkippedText(s.counters.Skipped), MessageIcon::Warning);
  CompleteTarget();
  if (s.status.WriteFailed)
    ReportFailure("Unable to write to destination file " + FileNamePart(s.TargetFileName),
                  s.status.WriteErrorDetail);
  CloseSource();
}

void Conversion::CompleteTarget() {
  ConversionState& s = state;
  // A read error after frames were written still completes the target: the
  // frames before it make a valid file.
  if (writer_ && writer_->finish && CanWrite() && !(s.status.ReadError && s.status.HeaderPending)) {
    // The header the finish step completes describes the frames written,
    // which a media conversion changed from the source's.
    const Topology sourceTopology = s.TraceTopology;
    if (s.options.ConvertToWireless && s.TraceTopology == Topo::Ethernet) s.TraceTopology = Topo::Wireless;
    else if (s.options.ConvertToEthernet && s.TraceTopology == Topo::Wireless) s.TraceTopology = Topo::Ethernet;
    ComputeWriterTimeBase(s);
    writer_->finish(*this, s.counters.FramesWritten);
    s.TraceTopology = sourceTopology;
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
  state.status.ProbeOnly = true;
  OpenSource();
  if (!state.status.ReadError) ReadFrames(true);
  bool delivered = state.counters.FramesRead > 0 && !state.status.ReadError;
  CloseProbe();
  return delivered;
}

ProgressView Conversion::Progress() const {
  // A reader that opens its own source tells its position itself.
  int64_t position = lastSourcePosition_ >= 0 ? lastSourcePosition_ : state.SourceFileSize;
  if (source)
    position = source->filePosition();
  else if (const FormatContext* r = readerContext_.peek(); r && r->SourcePosition(state) >= 0)
    position = r->SourcePosition(state);
  return ComputeProgress(state, position, stopPressed_);
}

void Conversion::Report(const std::string& caption, const std::string& text, MessageIcon icon) {
  if (!state.status.ProbeOnly) host.message(caption, text, icon);
}

void Conversion::ReportFailure(const std::string& text, const std::string& detail) {
  if (!state.status.ProbeOnly) host.failure("File Error", text, detail, MessageIcon::Error);
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
  s.time.TraceDuration = __builtin_add_overflow(s.time.TraceDuration, step, &total) ? INT64_MAX : total;
}

// Adds the step from the frame before when it goes forward. Both frames lie
// within the trace span: the step cannot wrap.
inline void StepDuration(ConversionState& s) {
  if (s.frame.FrameTime >= s.time.PreviousFrameTime) AddToDuration(s, s.frame.FrameTime - s.time.PreviousFrameTime);
  s.time.PreviousFrameTime = s.frame.FrameTime;
}

}  // namespace

void Conversion::DurationBookkeeping() {
  ConversionState& s = state;
  if (s.counters.FramesWritten == kNoFramesYet) {
    s.time.FirstFrameTime = s.frame.FrameTime;
    s.time.TraceDuration = 0;
    s.time.PreviousFrameTime = s.frame.FrameTime;
    return;
  }
  if (!WithinTraceSpan(s.frame.FrameTime, s.time.FirstFrameTime)) {
    FailRead(s, "frame " + Grouped(s.counters.FramesRead) + ": " + FrameTimeSpanText(s));
    return;
  }
  StepDuration(s);
}

bool FrameTimeBeyondSpan(const ConversionState& s) {
  return s.counters.FramesWritten != kNoFramesYet && !WithinTraceSpan(s.frame.FrameTime, s.time.FirstFrameTime);
}

std::string FrameTimeSpanText(const ConversionState& s) {
  const __int128 wide = __int128(s.frame.FrameTime) - s.time.FirstFrameTime;
  return "time lies " + Grouped(int64_t(wide / 1000000)) + " s from the first frame's";
}

inline void Conversion::CountFrameRead() {
  ConversionState& s = state;
  // The clock is looked at every 64 frames only.
  if (++framesSincePump_ >= 64) PumpIfDue();
  ++s.counters.FramesRead;
  if (s.frame.StoredLength < s.frame.FrameLength && s.frame.StoredLength > s.counters.MaxTruncatedLength)
    s.counters.MaxTruncatedLength = s.frame.StoredLength;
  if (s.frame.FrameLength > s.counters.MaxFrameLength) s.counters.MaxFrameLength = s.frame.FrameLength;
}

inline void Conversion::CountFrameWritten() {
  ConversionState& s = state;
  ++s.counters.FramesWritten;
  s.counters.FrameBytes += uint32_t(s.frame.StoredLength);
  s.counters.FrameBytesTotal += uint64_t(s.frame.StoredLength);
  if (s.TraceTopology == Topo::Ethernet) {
    if (s.frame.FrameFlags & Flag::AlignmentError) {
      ++s.counters.AlignmentErrorFrames;
      s.frame.FrameFlags |= Flag::CrcError;
    }
    if (s.frame.FrameFlags & Flag::CrcError) ++s.counters.CrcErrorFrames;
    if (IsRuntFrame(s.frame.FrameLength)) ++s.counters.RuntFrames;
    if (IsOversizeFrame(s.frame.FrameLength)) ++s.counters.OversizeFrames;
  }
}

inline void Conversion::NoteStopRequest() {
  if (host.stopRequested()) stopPressed_ = true;
  if (stopPressed_) state.status.StopRequested = true;
}

bool Conversion::FramesGoUnaltered() const {
  const ConversionState& s = state;
  // The frame selection (filtering_) takes the place of the frame range.
  return !s.status.ProbeOnly && (s.options.ConvertAll || filtering_) && !s.options.SliceFrames && !s.time.SourceZone &&
         !s.time.TargetZone && writer_ && writer_->writeFrame && CanWrite();
}

bool Conversion::FramesGoAsTheyStand() const {
  return FramesGoUnaltered() && !state.options.ConvertToEthernet && !state.options.ConvertToWireless;
}


bool Conversion::FramesPassUnchanged() const {
  return state.options.CopyUnchangedRecords && framesAsTheyStand_ && target && !customReader.next &&
         !skipsTinyFrames_;
}

UnchangedFrames::UnchangedFrames(Conversion& c)
    : s_(c.state),
      filter_(c.filtering_ ? &c.filter_ : nullptr),
      ethernet_(s_.TraceTopology == Topo::Ethernet),
      shift_(filter_ ? filter_->shiftMicroseconds() : 0),
      firstTime_(s_.time.FirstFrameTime),
      previousTime_(s_.time.PreviousFrameTime),
      fileFirst_(c.fileFirst_),
      fileLast_(c.fileLast_),
      before_(s_.counters.FramesRead),
      read_(s_.counters.FramesRead),
      // A file begins with a frame that takes the whole pipeline.
      room_(s_.status.HeaderPending ? 0
            : c.frameLimit_ > 0 ? c.frameLimit_ - (s_.counters.FramesWritten - s_.counters.NonDataFrames)
                                : INT32_MAX) {}

void Conversion::PassUnchangedFrames(const UnchangedFrames& batch) {
  ConversionState& s = state;
  const int32_t read = batch.count();
  if (read == 0) return;
  // The records taken may go on in the reader's window no longer.
  if (batch.filter_) filter_.keepSeenBytes();
  s.counters.FramesRead = batch.read_;
  s.counters.MaxFrameLength = std::max(s.counters.MaxFrameLength, batch.maxFrame_);
  s.counters.MaxTruncatedLength = std::max(s.counters.MaxTruncatedLength, batch.maxTruncated_);
  framesSincePump_ += uint32_t(read);
  s.counters.FramesWritten += batch.count_;
  s.counters.FrameBytes += batch.bytes_;
  s.counters.FrameBytesTotal += batch.bytes_;
  s.counters.RuntFrames += batch.runts_;
  s.counters.OversizeFrames += batch.oversize_;
  AddToDuration(s, batch.forward_);
  s.time.PreviousFrameTime = batch.previousTime_;
  s.frame.FrameTime = batch.lastTime_;
  s.frame.FrameLength = batch.lastLength_;
  s.frame.StoredLength = batch.lastStored_;
  s.frame.FrameFlags = 0;
  if (framesSincePump_ >= 64) PumpIfDue();
  NoteStopRequest();
}

bool Conversion::ProcessFrame() {
  ConversionState& s = state;
  CountFrameRead();
  if (filtering_ && !filter_.pass(s)) return s.status.WriteFailed;
  // After the first frame, one that goes as it stands and needs no failure
  // of its own takes the short way.
  if ((framesAsTheyStand_ || framesMadeWireless_) && !s.status.HeaderPending && !s.status.ReadError &&
      FrameFitsTargetButTime(shortWayStoredLimit_, shortWayWireLimit_) && !SkippedAsTiny() &&
      WithinTraceSpan(s.frame.FrameTime, s.time.FirstFrameTime) && RoomForFrameCount() &&
      !s.frame.FrameWithoutTime && s.frame.FrameTime >= fileFirst_ && s.frame.FrameTime <= fileLast_) {
    StepDuration(s);
    CountFrameWritten();
    if (!TimeFitsTarget()) ++s.counters.Lost.timesRounded;
    if (framesMadeWireless_) {
      // As the full way does: the writer sees an 802.11 frame of a wireless trace.
      EthernetToWireless();
      s.TraceTopology = Topo::Wireless;
      writer_->writeFrame(*this);
      s.TraceTopology = Topo::Ethernet;
    } else {
      writer_->writeFrame(*this);
      // A size limit refused the frame: it opens the next file.
      if (splitPending_) WriteIntoNextFile(s.counters.FramesRead, true);
    }
    if (target && target->failed()) FailWrite(s, target->errorText());
    NoteStopRequest();
    return s.status.WriteFailed;
  }
  return ProcessCountedFrame();
}

[[gnu::noinline]] bool Conversion::ProcessCountedFrame() {
  ConversionState& s = state;
  const int32_t n = s.counters.FramesRead;
  if (s.status.ProbeOnly) return true;
  if (!s.options.ConvertAll && n < s.options.StartFrame) return false;

  DurationBookkeeping();
  if (!FrameLengthsInRange(s.frame.FrameLength, s.frame.StoredLength))
    FailRead(s, "frame " + Grouped(n) + ": length " + Grouped(s.frame.FrameLength) + " (stored " +
                    Grouped(s.frame.StoredLength) + ") outside 0 to " + Grouped(MaxFrameBytes));
  if (s.status.ReadError) return false;
  if (SkippedAsTiny()) return false;
  if (NextFileDue() && !StartNextFile()) return true;
  // A target full to its frame count, or to the time it covers, stops
  // before the frame that does not fit; the finish step completes a file of
  // those before it.
  const int32_t inFile = s.counters.FramesWritten - s.counters.NonDataFrames;
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
  if (s.TraceTopology == Topo::Ethernet && s.options.ConvertToWireless) {
    EthernetToWireless();
    s.TraceTopology = Topo::Wireless;
  }
  if (s.TraceTopology == Topo::Wireless && s.options.ConvertToEthernet) {
    write = WirelessToEthernet();
    s.TraceTopology = Topo::Ethernet;
  }

  WriteFrameOut(n, write);
  // A size limit refused the frame: it opens the next file.
  if (splitPending_) WriteIntoNextFile(n, write);
  // A writer fails by its target's I/O error or by setting WriteFailed itself
  // (a value its format cannot hold).
  if (target && target->failed()) FailWrite(s, target->errorText());
  if (s.status.WriteFailed) result = true;

  if (s.TraceTopology == Topo::Ethernet && s.options.ConvertToEthernet) s.TraceTopology = Topo::Wireless;
  else if (s.TraceTopology == Topo::Wireless && s.options.ConvertToWireless) s.TraceTopology = Topo::Ethernet;
  if (result) s.status.WriteFailed = true;
  NoteStopRequest();
  if (!s.options.ConvertAll && n == s.options.EndFrame) s.status.EndOfSource = true;
  return result;
}

void Conversion::TakeTargetLimits() {
  const bool writes = writer_ && CanWrite();
  const TargetLimits limits = writes ? writer_->limits : TargetLimits{};
  // A whole Ethernet frame travels with its FCS, which such a writer leaves out.
  fcsLeftOut_ = writes && writer_->has(Capability::DropsEthernetFcs) &&
                        state.TraceTopology == Topo::Ethernet && !state.options.ConvertToWireless
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
  if (writes && !limits.keepsDate) state.counters.Lost.datesNotStored = 1;
}

namespace {

// Stores a frame's stored bytes shorter, counting what goes.
void CutStoredBytes(ConversionState& s, int32_t keep) {
  const int32_t cut = s.frame.StoredLength - keep;
  s.counters.Lost.bytesCut += cut;
  s.counters.FrameBytes -= uint32_t(cut);
  s.counters.FrameBytesTotal -= uint64_t(cut);
  s.frame.StoredLength = keep;
}

}  // namespace

void Conversion::FitFrameToTarget() {
  ConversionState& s = state;
  FrameLosses& lost = s.counters.Lost;
  bool cut = s.frame.StoredLength < s.frame.FrameLength;
  if (!StoredBytesFit(storedLimit_)) {
    ++lost.framesCut;
    CutStoredBytes(s, int32_t(storedLimit_));
    cut = true;
  }
  if (uint32_t(s.frame.FrameLength) > wireLimit_) {
    ++lost.wireLengthsNotStored;
    s.frame.FrameLength = int32_t(wireLimit_);
    // A cut Ethernet frame must not come to look whole: its last 4 bytes
    // would be taken for an FCS and rebuilt.
    if (cut && s.TraceTopology == Topo::Ethernet && s.frame.StoredLength > s.frame.FrameLength - 4)
      CutStoredBytes(s, std::max(0, s.frame.FrameLength - 4));
  } else if (!wireLengthKept_ && s.frame.StoredLength < s.frame.FrameLength) {
    ++lost.wireLengthsNotStored;
  }
  if (s.frame.FrameFlags & flagsDropped_) ++lost.flagsNotStored;
  if (s.frame.FrameWithoutTime && !untimedFramesKept_) ++lost.timesNotStored;
  else if (!TimeFitsTarget()) ++lost.timesRounded;
  if (!s.frame.FrameComment.empty() && !commentsKept_) ++lost.commentsNotStored;
}

void Conversion::WriteFrameOut(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  if (s.counters.FramesWritten == 1 || s.status.HeaderPending) {
    s.status.HeaderPending = false;
    s.time.FirstFrameTime = s.frame.FrameTime;
    StartFileTimes();
    ComputeWriterTimeBase(s);
    if (writer_ && writer_->writeHeader && CanWrite()) writer_->writeHeader(*this, frameNumber);
  }
  if (s.options.SliceFrames && s.options.SliceLength < s.frame.StoredLength) s.frame.StoredLength = s.options.SliceLength;
  if (write && !FrameFitsTarget(storedLimit_, wireLimit_)) FitFrameToTarget();
  if (write) {
    if (frameObserver)
      frameObserver(*this);
    else if (writer_ && writer_->writeFrame && CanWrite())
      writer_->writeFrame(*this);
  }
}

int32_t Conversion::FileFrameLimit() const {
  const int32_t family = TargetFrameLimit(), split = state.options.SplitFrames;
  if (family == 0 || split == 0) return std::max(family, split);
  return std::min(family, split);
}

bool Conversion::NextFileDue() const {
  const ConversionState& s = state;
  const int32_t inFile = s.counters.FramesWritten - s.counters.NonDataFrames;
  if (inFile == 0 || !nextTarget) return false;
  // As editcap -i: a frame on the step's end still belongs to it; one that
  // goes back in time stays in the file at hand.
  if (s.frame.FrameTime > stepLast_) return true;
  if (s.options.SplitFrames > 0 && inFile >= s.options.SplitFrames) return true;
  const int32_t limit = TargetFrameLimit();
  return s.options.SplitAtLimits && ((limit > 0 && inFile >= limit) || BeyondFileSpan());
}

void Conversion::StartFileTimes() {
  const ConversionState& s = state;
  // The steps of a split in time count from the first frame written.
  if (s.options.SplitMicroseconds > 0 && fileStep_ == 0) {
    fileStep_ = s.options.SplitMicroseconds;
    stepLast_ = s.frame.FrameTime + fileStep_;
  }
  if (largestSpan_ > 0) {
    spanFirst_ = FloorDiv(s.frame.FrameTime, spanCountedFrom_) * spanCountedFrom_;
    spanLast_ = spanFirst_ + largestSpan_;
  }
  fileFirst_ = spanFirst_;
  fileLast_ = std::min(stepLast_, spanLast_);
}

void Conversion::WriteIntoNextFile(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  splitPending_ = false;
  if (!StartNextFile()) return;
  ++s.counters.FramesWritten;
  s.counters.FrameBytes += uint32_t(s.frame.StoredLength);
  s.counters.FrameBytesTotal += uint64_t(s.frame.StoredLength);
  WriteFrameOut(frameNumber, write);
}

bool Conversion::StartNextFile() {
  ConversionState& s = state;
  // A split in time moves on by whole steps; as editcap -i does, each step
  // passed without a frame is a file of its own, a header without frames.
  int64_t emptySteps = 0;
  if (fileStep_ > 0 && s.frame.FrameTime > stepLast_) {
    const int64_t steps = FloorDiv(s.frame.FrameTime - stepLast_ - 1, fileStep_) + 1;
    stepLast_ += steps * fileStep_;
    emptySteps = steps - 1;
  }
  constexpr int64_t kMostEmptyFiles = 10000;
  if (emptySteps > kMostEmptyFiles) {
    FailWrite(s, "frame " + Grouped(s.counters.FramesRead) + " lies " + Grouped(emptySteps) +
                     " steps of the split after the frame before it: more empty files than " +
                     Grouped(kMostEmptyFiles) + "; the frames before it are written");
    CompleteTarget();
    return false;
  }
  if (!OpenNextFile()) return false;
  for (; emptySteps > 0; --emptySteps) {
    s.time.FirstFrameTime = s.frame.FrameTime;
    ComputeWriterTimeBase(s);
    if (writer_->writeHeader) writer_->writeHeader(*this, s.counters.FramesRead);
    s.status.EmptySplitStep = true;
    const bool opened = OpenNextFile();
    s.status.EmptySplitStep = false;
    if (!opened) return false;
  }
  s.status.HeaderPending = true;
  return true;
}

bool Conversion::OpenNextFile() {
  ConversionState& s = state;
  CompleteTarget();
  if (s.status.WriteFailed || !nextTarget(*this)) {
    if (!s.status.WriteFailed) FailWrite(s, "the next file of the split target could not be opened");
    return false;
  }
  // Counters of one file start afresh; the trace's own go on.
  s.counters.FramesWritten = 0;
  s.counters.NonDataFrames = 0;
  s.counters.FrameBytes = 0;
  s.counters.FrameBytesTotal = 0;
  s.time.TraceDuration = 0;
  s.counters.MaxFrameLength = s.frame.FrameLength;
  s.counters.MaxTruncatedLength = s.frame.StoredLength < s.frame.FrameLength ? s.frame.StoredLength : 0;
  return true;
}

bool Conversion::RefuseFramePastLimit(uint64_t limit) {
  ConversionState& s = state;
  --s.counters.FramesWritten;
  s.counters.FrameBytes -= uint32_t(s.frame.StoredLength);
  s.counters.FrameBytesTotal -= uint64_t(s.frame.StoredLength);
  // Split at the limit: the frame goes into the next file, unless it would
  // not fit an empty one either.
  if (s.options.SplitAtLimits && nextTarget && s.counters.FramesWritten - s.counters.NonDataFrames > 0) {
    splitPending_ = true;
    return false;
  }
  FailWrite(s, "frame " + Grouped(s.counters.FramesRead) + " would carry the " +
                   (writer_ ? writer_->family : "") + " target past " + Grouped(int64_t(limit)) +
                   " bytes, the most it can address; the frames before it are written");
  return false;
}

// Not vectorised: the two lengths would be loaded as one word, which waits
// for the reader's two separate stores of them to leave the core.
[[gnu::optimize("no-tree-slp-vectorize")]] void Conversion::EthernetToWireless() {
  ConversionState& s = state;
  uint8_t* d = s.frame.FrameData.data();
  s.frame.WirelessDataRate = 22;
  s.frame.WirelessChannel = 1;
  s.frame.WirelessSignal = 100;
  s.frame.WirelessNoise = 0;
  // The Ethernet FCS is no 802.11 FCS: the frame goes on without one.
  s.frame.FrameLength = std::max(0, s.frame.FrameLength - 4);
  s.frame.StoredLength = std::min(s.frame.StoredLength, s.frame.FrameLength);
  s.frame.WirelessFcsBytes = 0;
  // The addresses are taken before the payload moves over them.
  uint8_t addresses[12];
  std::memcpy(addresses, d, 12);
  const uint16_t type = uint16_t(d[12] << 8 | d[13]);
  const size_t payload = size_t(std::max(0, s.frame.StoredLength - 14));
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
  s.frame.FrameLength += growth;
  s.frame.StoredLength += growth;
  if (!wirelessFcsKept_) return;
  // The 802.11 FCS of the new frame: the CRC-32 over its bytes, where they are all in hand.
  const bool whole = s.frame.StoredLength == s.frame.FrameLength;
  if (whole) PutLE32(d + s.frame.FrameLength, Crc32(d, size_t(s.frame.FrameLength)));
  s.frame.FrameLength += 4;
  if (whole) s.frame.StoredLength += 4;
  s.frame.WirelessFcsBytes = 4;
}

bool Conversion::WirelessToEthernet() {
  ConversionState& s = state;
  uint8_t* d = s.frame.FrameData.data();
  bool write = true;
  if ((d[0] & 0x0C) != 0x08) {
    write = false;
    ++s.counters.NonDataFrames;
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
  const int32_t fcs = std::clamp(s.frame.WirelessFcsBytes, 0, 4);
  int32_t length = s.frame.FrameLength - shrink - fcs;
  int32_t stored = std::clamp(s.frame.StoredLength - shrink, 0, std::max(0, length));
  std::memmove(d + 14, d + headerEnd, size_t(std::max(0, s.frame.StoredLength - headerEnd)));
  s.frame.WirelessFcsBytes = 0;
  if (length <= 0) {
    s.frame.FrameLength = s.frame.StoredLength = 0;
    if (write) ++s.counters.NonDataFrames;
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
  s.frame.FrameLength = length + 4;
  s.frame.StoredLength = whole ? s.frame.FrameLength : stored;
  if (whole) StoreEthernetFcs(s);
  return write;
}

}  // namespace morph
