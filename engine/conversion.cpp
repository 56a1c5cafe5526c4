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
  s.StopRequested = false;
  s.MaxTruncatedLength = s.MaxFrameLength = 0;
  s.FramesWritten = 0;
  s.FrameBytes = 0;
  s.FrameBytesTotal = 0;
  s.WriteFailed = false;
  s.TargetDiscarded = false;
  s.NonDataFrames = 0;
  s.TraceDuration = 0;
  s.ProbeOnly = false;
  s.ConversionFinished = false;
  s.BadCompression = false;
  s.Skipped = {};
  s.Lost = {};
  s.DuplicateFrames = 0;
  s.SourceZoneBiasMinutes.reset();
  zoneCache_ = {};
  s.FramesRead = 0;
  s.FrameNanoseconds = 0;
  s.SourceHasNanoseconds = false;
  s.SourceSnapshotLength = 0;
  s.FrameWithoutTime = false;
  s.WirelessFcsBytes = 0;

  struct stat st {};
  if (s.SourceDate)
    s.TraceDate = *s.SourceDate;
  else if (!s.SourceFileName.empty() && stat(s.SourceFileName.c_str(), &st) == 0)
    s.TraceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(st.st_mtime));
  else
    s.TraceDate = LocalDateTimeFromUnix(SourceZoneOf(s), int64_t(std::time(nullptr)));
  ComputeTimeZoneBias(s, true);

  s.FramesReadTotal = 0;
  std::memset(s.FrameData.data(), 0, MaxFrameBytes);
  s.ReadError = false;
  s.ReadErrorDetail.clear();
  s.WriteErrorDetail.clear();
  lastSourcePosition_ = -1;
  s.WrappedSource = false;
  s.EndOfSource = false;
  s.RuntFrames = s.OversizeFrames = s.AlignmentErrorFrames = s.CrcErrorFrames = 0;

  reader_ = ReaderFormat(s.SourceAnalyzer);
  writer_ = WriterFormat(s.TargetAnalyzer);
  skipsTinyFrames_ = reader_ && reader_->has(Capability::SkipsTinyFrames);
  wirelessFcsKept_ = writer_ && writer_->has(Capability::KeepsWirelessFcs);
  s.EthernetFcsUnused = (writer_ && writer_->has(Capability::DropsEthernetFcs)) ||
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
  s.FrameFlags = 0;
  s.FrameLength = 0;
  if (customReader.next) {
    if (customReader.open) customReader.open(*this);
    return;
  }
  if (!HasReader()) return;
  s.ReadError = false;
  s.EndOfSource = false;
  if (reader_->readHeader) reader_->readHeader(*this);
}

void Conversion::ReadFrames(bool singleFrame) {
  ConversionState& s = state;
  s.FrameFlags = 0;
  s.FrameLength = 0;
  if (!HasReader()) return;
  s.ReadError = false;
  s.EndOfSource = false;
  // A family's reader is called through its pointer: no std::function per frame.
  const NextRecordFn next = customReader.next ? nullptr : reader_->nextRecord;
  for (;;) {
    const ReadStatus status = next ? next(*this) : customReader.next(*this);
    if (status == ReadStatus::Record) [[likely]] {
      s.WriteFailed = ProcessFrame();
    } else if (status == ReadStatus::NonData) {
      ++s.FramesRead;
      ++s.FramesWritten;
      ++s.NonDataFrames;
    } else {
      if (status == ReadStatus::End) s.EndOfSource = true;
      // A failure always has a reason: one the reader did not give is found at the end.
      else if (!s.ReadError && !s.WriteFailed) s.ReadError = true;
      break;
    }
    if (singleFrame || s.ReadError || s.WriteFailed || s.StopRequested || s.EndOfSource) break;
  }
  s.FramesReadTotal = s.FramesRead;
}

bool Conversion::ConvertTrace(bool probeOnly, unsigned holdMilliseconds) {
  ConversionState& s = state;
  bool opened = ResetConversion();
  s.HeaderPending = true;
  s.WritingIndex = false;
  s.ProbeOnly = probeOnly;

  if (!opened) {
    s.ReadError = true;  // reported as a read error of the first frame
  } else {
    OpenSource();
    filtering_ = !s.ProbeOnly && filter_.start(s);
    framesAsTheyStand_ = FramesGoAsTheyStand();
    frameLimit_ = FileFrameLimit();
    // A frame made 802.11 that a size limit sends into the next file takes the full way.
    framesMadeWireless_ = FramesGoUnaltered() && s.ConvertToWireless && !s.ConvertToEthernet &&
                          s.TraceTopology == Topo::Ethernet && !s.SplitAtLimits;
    TakeTargetLimits();
    // A header that failed to read leaves nothing to read frames from.
    if (!s.ReadError) ReadFrames(false);
    // A reader that stopped at its last frame has the source checked to its
    // end (a gzip trailer): only when the whole source was to be read.
    if (!s.ReadError && !s.WriteFailed && !s.StopRequested && !s.ProbeOnly && s.ConvertAll &&
        source)
      source->readToEnd();
    // A source that failed where a reader took it for its end (an I/O error
    // at the end test, a file cut short while read) failed the reading.
    if (!s.ReadError && source && source->failed()) {
      const std::string reason = source->errorText();
      FailRead(s, reason.empty() ? s.SourceFileName + ": the file could not be read to its end"
                                 : reason);
    }
  }

  if (!s.ProbeOnly && s.BadCompression)
    Report("File Read Error", "Bad compression encountered.  Data may be unreliable.",
           MessageIcon::Error);
  if (!s.ProbeOnly && s.WrappedSource) {
    Report("File Read Error", "Wrapped format not supported.", MessageIcon::Error);
    CloseSource();
    CloseTarget();
    return false;
  }

  Finish();
  s.ConversionFinished = true;
  if (!s.ProbeOnly) {
    host.progress(Progress());
    if (holdMilliseconds > 0) host.hold(holdMilliseconds);
  }
  return true;
}

void Conversion::Finish() {
  ConversionState& s = state;
  if (s.ProbeOnly) {
    CloseSource();
    return;
  }
  if (s.FramesReadTotal - s.NonDataFrames < 1)
    Report("Output", "Target file contains no frames!", MessageIcon::Information);
  if (s.ReadError && s.ReadErrorDetail.empty()) {
    // A reader that gave no reason: say at least where it stopped.
    const int64_t at = source ? source->position() : 0;
    s.ReadErrorDetail = source && source->failed()
                            ? source->errorText()
                            : "frame " + Grouped(s.FramesRead + 1) + " near offset " + Grouped(at) +
                                  ": damaged or cut short";
  }
  if (s.ReadError)
    ReportFailure(s.FramesRead > 0 ? "Error reading from source file.  File may be corrupt."
                                   : "Error reading from source file.  File may be in use by "
                                     "another application.",
                  s.ReadErrorDetail);
  if (s.Skipped.any()) Report("Damage Skipped", SkippedText(s.Skipped), MessageIcon::Warning);
  CompleteTarget();
  if (s.WriteFailed)
    ReportFailure("Unable to write to destination file " + FileNamePart(s.TargetFileName),
                  s.WriteErrorDetail);
  CloseSource();
}

void Conversion::CompleteTarget() {
  ConversionState& s = state;
  // A read error after frames were written still completes the target: the
  // frames before it make a valid file.
  if (writer_ && writer_->finish && CanWrite() && !(s.ReadError && s.HeaderPending)) {
    // The header the finish step completes describes the frames written,
    // which a media conversion changed from the source's.
    const Topology sourceTopology = s.TraceTopology;
    if (s.ConvertToWireless && s.TraceTopology == Topo::Ethernet) s.TraceTopology = Topo::Wireless;
    else if (s.ConvertToEthernet && s.TraceTopology == Topo::Wireless) s.TraceTopology = Topo::Ethernet;
    TargetZoneScope zone(*this);
    writer_->finish(*this, s.FramesWritten);
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
  state.ProbeOnly = true;
  OpenSource();
  if (!state.ReadError) ReadFrames(true);
  bool delivered = state.FramesRead > 0 && !state.ReadError;
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
  if (!state.ProbeOnly) host.message(caption, text, icon);
}

void Conversion::ReportFailure(const std::string& text, const std::string& detail) {
  if (!state.ProbeOnly) host.failure("File Error", text, detail, MessageIcon::Error);
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
  s.TraceDuration = __builtin_add_overflow(s.TraceDuration, step, &total) ? INT64_MAX : total;
}

// Adds the step from the frame before when it goes forward. Both frames lie
// within the trace span: the step cannot wrap.
inline void StepDuration(ConversionState& s) {
  if (s.FrameTime >= s.PreviousFrameTime) AddToDuration(s, s.FrameTime - s.PreviousFrameTime);
  s.PreviousFrameTime = s.FrameTime;
}

}  // namespace

void Conversion::DurationBookkeeping() {
  ConversionState& s = state;
  if (s.FramesWritten == kNoFramesYet) {
    s.FirstFrameTime = s.FrameTime;
    s.TraceDuration = 0;
    s.PreviousFrameTime = s.FrameTime;
    return;
  }
  if (!WithinTraceSpan(s.FrameTime, s.FirstFrameTime)) {
    FailRead(s, "frame " + Grouped(s.FramesRead) + ": " + FrameTimeSpanText(s));
    return;
  }
  StepDuration(s);
}

bool FrameTimeBeyondSpan(const ConversionState& s) {
  return s.FramesWritten != kNoFramesYet && !WithinTraceSpan(s.FrameTime, s.FirstFrameTime);
}

std::string FrameTimeSpanText(const ConversionState& s) {
  const __int128 wide = __int128(s.FrameTime) - s.FirstFrameTime;
  return "time lies " + Grouped(int64_t(wide / 1000000)) + " s from the first frame's";
}

inline void Conversion::CountFrameRead() {
  ConversionState& s = state;
  // The clock is looked at every 64 frames only.
  if (++framesSincePump_ >= 64) PumpIfDue();
  ++s.FramesRead;
  if (s.StoredLength < s.FrameLength && s.StoredLength > s.MaxTruncatedLength)
    s.MaxTruncatedLength = s.StoredLength;
  if (s.FrameLength > s.MaxFrameLength) s.MaxFrameLength = s.FrameLength;
}

inline void Conversion::CountFrameWritten() {
  ConversionState& s = state;
  ++s.FramesWritten;
  s.FrameBytes += uint32_t(s.StoredLength);
  s.FrameBytesTotal += uint64_t(s.StoredLength);
  if (s.TraceTopology == Topo::Ethernet) {
    if (s.FrameFlags & Flag::AlignmentError) {
      ++s.AlignmentErrorFrames;
      s.FrameFlags |= Flag::CrcError;
    }
    if (s.FrameFlags & Flag::CrcError) ++s.CrcErrorFrames;
    if (IsRuntFrame(s.FrameLength)) ++s.RuntFrames;
    if (IsOversizeFrame(s.FrameLength)) ++s.OversizeFrames;
  }
}

inline void Conversion::NoteStopRequest() {
  if (host.stopRequested()) stopPressed_ = true;
  if (stopPressed_) state.StopRequested = true;
}

bool Conversion::FramesGoUnaltered() const {
  const ConversionState& s = state;
  // The frame selection (filtering_) takes the place of the frame range.
  return !s.ProbeOnly && (s.ConvertAll || filtering_) && !s.SliceFrames && !s.SourceZone &&
         !s.TargetZone && writer_ && writer_->writeFrame && CanWrite();
}

bool Conversion::FramesGoAsTheyStand() const {
  return FramesGoUnaltered() && !state.ConvertToEthernet && !state.ConvertToWireless;
}


bool Conversion::FramesPassUnchanged() const {
  return state.CopyUnchangedRecords && framesAsTheyStand_ && target && !customReader.next &&
         !skipsTinyFrames_;
}

UnchangedFrames::UnchangedFrames(Conversion& c)
    : s_(c.state),
      filter_(c.filtering_ ? &c.filter_ : nullptr),
      ethernet_(s_.TraceTopology == Topo::Ethernet),
      shift_(filter_ ? filter_->shiftMicroseconds() : 0),
      firstTime_(s_.FirstFrameTime),
      previousTime_(s_.PreviousFrameTime),
      fileFirst_(c.fileFirst_),
      fileLast_(c.fileLast_),
      before_(s_.FramesRead),
      read_(s_.FramesRead),
      // A file begins with a frame that takes the whole pipeline.
      room_(s_.HeaderPending ? 0
            : c.frameLimit_ > 0 ? c.frameLimit_ - (s_.FramesWritten - s_.NonDataFrames)
                                : INT32_MAX) {}

void Conversion::PassUnchangedFrames(const UnchangedFrames& batch) {
  ConversionState& s = state;
  const int32_t read = batch.count();
  if (read == 0) return;
  // The records taken may go on in the reader's window no longer.
  if (batch.filter_) filter_.keepSeenBytes();
  s.FramesRead = batch.read_;
  s.MaxFrameLength = std::max(s.MaxFrameLength, batch.maxFrame_);
  s.MaxTruncatedLength = std::max(s.MaxTruncatedLength, batch.maxTruncated_);
  framesSincePump_ += uint32_t(read);
  s.FramesWritten += batch.count_;
  s.FrameBytes += batch.bytes_;
  s.FrameBytesTotal += batch.bytes_;
  s.RuntFrames += batch.runts_;
  s.OversizeFrames += batch.oversize_;
  AddToDuration(s, batch.forward_);
  s.PreviousFrameTime = batch.previousTime_;
  s.FrameTime = batch.lastTime_;
  s.FrameLength = batch.lastLength_;
  s.StoredLength = batch.lastStored_;
  s.FrameFlags = 0;
  if (framesSincePump_ >= 64) PumpIfDue();
  NoteStopRequest();
}

bool Conversion::ProcessFrame() {
  ConversionState& s = state;
  CountFrameRead();
  if (filtering_ && !filter_.pass(s)) return s.WriteFailed;
  // After the first frame, one that goes as it stands and needs no failure
  // of its own takes the short way.
  if ((framesAsTheyStand_ || framesMadeWireless_) && !s.HeaderPending && !s.ReadError &&
      FrameFitsTarget(shortWayStoredLimit_, shortWayWireLimit_) && !SkippedAsTiny() &&
      WithinTraceSpan(s.FrameTime, s.FirstFrameTime) && RoomForFrameCount() &&
      !s.FrameWithoutTime && s.FrameTime >= fileFirst_ && s.FrameTime <= fileLast_) {
    StepDuration(s);
    CountFrameWritten();
    if (framesMadeWireless_) {
      // As the full way does: the writer sees an 802.11 frame of a wireless trace.
      EthernetToWireless();
      s.TraceTopology = Topo::Wireless;
      writer_->writeFrame(*this);
      s.TraceTopology = Topo::Ethernet;
    } else {
      writer_->writeFrame(*this);
      // A size limit refused the frame: it opens the next file.
      if (splitPending_) WriteIntoNextFile(s.FramesRead, true);
    }
    if (target && target->failed()) FailWrite(s, target->errorText());
    NoteStopRequest();
    return s.WriteFailed;
  }
  return ProcessCountedFrame();
}

[[gnu::noinline]] bool Conversion::ProcessCountedFrame() {
  ConversionState& s = state;
  const int32_t n = s.FramesRead;
  if (s.ProbeOnly) return true;
  if (!s.ConvertAll && n < s.StartFrame) return false;

  DurationBookkeeping();
  if (!FrameLengthsInRange(s.FrameLength, s.StoredLength))
    FailRead(s, "frame " + Grouped(n) + ": length " + Grouped(s.FrameLength) + " (stored " +
                    Grouped(s.StoredLength) + ") outside 0 to " + Grouped(MaxFrameBytes));
  if (s.ReadError) return false;
  if (SkippedAsTiny()) return false;
  if (NextFileDue() && !StartNextFile()) return true;
  // A target full to its frame count, or to the time it covers, stops
  // before the frame that does not fit; the finish step completes a file of
  // those before it.
  const int32_t inFile = s.FramesWritten - s.NonDataFrames;
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
  if (s.TraceTopology == Topo::Ethernet && s.ConvertToWireless) {
    EthernetToWireless();
    s.TraceTopology = Topo::Wireless;
  }
  if (s.TraceTopology == Topo::Wireless && s.ConvertToEthernet) {
    write = WirelessToEthernet();
    s.TraceTopology = Topo::Ethernet;
  }

  WriteFrameOut(n, write);
  // A size limit refused the frame: it opens the next file.
  if (splitPending_) WriteIntoNextFile(n, write);
  // A writer fails by its target's I/O error or by setting WriteFailed itself
  // (a value its format cannot hold).
  if (target && target->failed()) FailWrite(s, target->errorText());
  if (s.WriteFailed) result = true;

  if (s.TraceTopology == Topo::Ethernet && s.ConvertToEthernet) s.TraceTopology = Topo::Wireless;
  else if (s.TraceTopology == Topo::Wireless && s.ConvertToWireless) s.TraceTopology = Topo::Ethernet;
  if (result) s.WriteFailed = true;
  NoteStopRequest();
  if (!s.ConvertAll && n == s.EndFrame) s.EndOfSource = true;
  return result;
}

void Conversion::TakeTargetLimits() {
  const bool writes = writer_ && CanWrite();
  const TargetLimits limits = writes ? writer_->limits : TargetLimits{};
  // A whole Ethernet frame travels with its FCS, which such a writer leaves out.
  fcsLeftOut_ = writes && writer_->has(Capability::DropsEthernetFcs) &&
                        state.TraceTopology == Topo::Ethernet && !state.ConvertToWireless
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
  if (writes && !limits.keepsDate) state.Lost.datesNotStored = 1;
}

namespace {

// Stores a frame's stored bytes shorter, counting what goes.
void CutStoredBytes(ConversionState& s, int32_t keep) {
  const int32_t cut = s.StoredLength - keep;
  s.Lost.bytesCut += cut;
  s.FrameBytes -= uint32_t(cut);
  s.FrameBytesTotal -= uint64_t(cut);
  s.StoredLength = keep;
}

}  // namespace

void Conversion::FitFrameToTarget() {
  ConversionState& s = state;
  FrameLosses& lost = s.Lost;
  bool cut = s.StoredLength < s.FrameLength;
  if (!StoredBytesFit(storedLimit_)) {
    ++lost.framesCut;
    CutStoredBytes(s, int32_t(storedLimit_));
    cut = true;
  }
  if (uint32_t(s.FrameLength) > wireLimit_) {
    ++lost.wireLengthsNotStored;
    s.FrameLength = int32_t(wireLimit_);
    // A cut Ethernet frame must not come to look whole: its last 4 bytes
    // would be taken for an FCS and rebuilt.
    if (cut && s.TraceTopology == Topo::Ethernet && s.StoredLength > s.FrameLength - 4)
      CutStoredBytes(s, std::max(0, s.FrameLength - 4));
  } else if (!wireLengthKept_ && s.StoredLength < s.FrameLength) {
    ++lost.wireLengthsNotStored;
  }
  if (s.FrameFlags & flagsDropped_) ++lost.flagsNotStored;
  if (s.FrameWithoutTime && !untimedFramesKept_) ++lost.timesNotStored;
  else if (!TimeFitsTarget()) ++lost.timesRounded;
  if (!s.FrameComment.empty() && !commentsKept_) ++lost.commentsNotStored;
}

void Conversion::WriteFrameOut(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  if (s.FramesWritten == 1 || s.HeaderPending) {
    s.HeaderPending = false;
    s.FirstFrameTime = s.FrameTime;
    s.FirstFrameSeconds = s.FrameTime / 1000000;
    s.FirstFrameMicroseconds = s.FrameTime - s.FirstFrameSeconds * 1000000;
    StartFileTimes();
    TargetZoneScope zone(*this);
    ComputeWriterTimeBase(s);
    if (writer_ && writer_->writeHeader && CanWrite()) writer_->writeHeader(*this, frameNumber);
  }
  if (s.SliceFrames && s.SliceLength < s.StoredLength) s.StoredLength = s.SliceLength;
  if (write && !FrameFitsTarget(storedLimit_, wireLimit_)) FitFrameToTarget();
  if (write) {
    TargetZoneScope zone(*this);
    if (frameObserver)
      frameObserver(*this);
    else if (writer_ && writer_->writeFrame && CanWrite())
      writer_->writeFrame(*this);
  }
}

int32_t Conversion::FileFrameLimit() const {
  const int32_t family = TargetFrameLimit(), split = state.SplitFrames;
  if (family == 0 || split == 0) return std::max(family, split);
  return std::min(family, split);
}

bool Conversion::NextFileDue() const {
  const ConversionState& s = state;
  const int32_t inFile = s.FramesWritten - s.NonDataFrames;
  if (inFile == 0 || !nextTarget) return false;
  // As editcap -i: a frame on the step's end still belongs to it; one that
  // goes back in time stays in the file at hand.
  if (s.FrameTime > stepLast_) return true;
  if (s.SplitFrames > 0 && inFile >= s.SplitFrames) return true;
  const int32_t limit = TargetFrameLimit();
  return s.SplitAtLimits && ((limit > 0 && inFile >= limit) || BeyondFileSpan());
}

void Conversion::StartFileTimes() {
  const ConversionState& s = state;
  // The steps of a split in time count from the first frame written.
  if (s.SplitMicroseconds > 0 && fileStep_ == 0) {
    fileStep_ = s.SplitMicroseconds;
    stepLast_ = s.FrameTime + fileStep_;
  }
  if (largestSpan_ > 0) {
    spanFirst_ = FloorDiv(s.FrameTime, spanCountedFrom_) * spanCountedFrom_;
    spanLast_ = spanFirst_ + largestSpan_;
  }
  fileFirst_ = spanFirst_;
  fileLast_ = std::min(stepLast_, spanLast_);
}

void Conversion::WriteIntoNextFile(int32_t frameNumber, bool write) {
  ConversionState& s = state;
  splitPending_ = false;
  if (!StartNextFile()) return;
  ++s.FramesWritten;
  s.FrameBytes += uint32_t(s.StoredLength);
  s.FrameBytesTotal += uint64_t(s.StoredLength);
  WriteFrameOut(frameNumber, write);
}

bool Conversion::StartNextFile() {
  ConversionState& s = state;
  // A split in time moves on by whole steps; as editcap -i does, each step
  // passed without a frame is a file of its own, a header without frames.
  int64_t emptySteps = 0;
  if (fileStep_ > 0 && s.FrameTime > stepLast_) {
    const int64_t steps = FloorDiv(s.FrameTime - stepLast_ - 1, fileStep_) + 1;
    stepLast_ += steps * fileStep_;
    emptySteps = steps - 1;
  }
  constexpr int64_t kMostEmptyFiles = 10000;
  if (emptySteps > kMostEmptyFiles) {
    FailWrite(s, "frame " + Grouped(s.FramesRead) + " lies " + Grouped(emptySteps) +
                     " steps of the split after the frame before it: more empty files than " +
                     Grouped(kMostEmptyFiles) + "; the frames before it are written");
    CompleteTarget();
    return false;
  }
  if (!OpenNextFile()) return false;
  for (; emptySteps > 0; --emptySteps) {
    s.FirstFrameTime = s.FrameTime;
    s.FirstFrameSeconds = s.FrameTime / 1000000;
    s.FirstFrameMicroseconds = s.FrameTime - s.FirstFrameSeconds * 1000000;
    {
      TargetZoneScope zone(*this);
      ComputeWriterTimeBase(s);
      if (writer_->writeHeader) writer_->writeHeader(*this, s.FramesRead);
    }
    s.EmptySplitStep = true;
    const bool opened = OpenNextFile();
    s.EmptySplitStep = false;
    if (!opened) return false;
  }
  s.HeaderPending = true;
  return true;
}

bool Conversion::OpenNextFile() {
  ConversionState& s = state;
  CompleteTarget();
  if (s.WriteFailed || !nextTarget(*this)) {
    if (!s.WriteFailed) FailWrite(s, "the next file of the split target could not be opened");
    return false;
  }
  // Counters of one file start afresh; the trace's own go on.
  s.FramesWritten = 0;
  s.NonDataFrames = 0;
  s.FrameBytes = 0;
  s.FrameBytesTotal = 0;
  s.TraceDuration = 0;
  s.MaxFrameLength = s.FrameLength;
  s.MaxTruncatedLength = s.StoredLength < s.FrameLength ? s.StoredLength : 0;
  return true;
}

void Conversion::TargetZoneScope::Enter(Conversion& c) {
  ZoneCache& cache = c.zoneCache_;
  if (!cache.valid || !(cache.traceDate == s_.TraceDate) || cache.bias != s_.TimeZoneBias) {
    cache = {true, s_.TraceDate, s_.TimeZoneBias, ViewInZone(s_, TargetZoneOf(s_))};
  }
  active_ = true;
  saved_ = {s_.TraceDate, s_.TimeZoneBias, s_.FrameTime, s_.FirstFrameTime, s_.FirstFrameSeconds,
            s_.FirstFrameMicroseconds};
  const int64_t shift = cache.view.frameTimeShift;
  s_.TraceDate = cache.view.traceDate;
  s_.TimeZoneBias = cache.view.timeZoneBias;
  s_.FrameTime += shift;
  s_.FirstFrameTime += shift;
  s_.FirstFrameSeconds = s_.FirstFrameTime / 1000000;
  s_.FirstFrameMicroseconds = s_.FirstFrameTime - s_.FirstFrameSeconds * 1000000;
}

void Conversion::TargetZoneScope::Leave() {
  s_.TraceDate = saved_.traceDate;
  s_.TimeZoneBias = saved_.bias;
  s_.FrameTime = saved_.frameTime;
  s_.FirstFrameTime = saved_.firstFrameTime;
  s_.FirstFrameSeconds = saved_.firstFrameSeconds;
  s_.FirstFrameMicroseconds = saved_.firstFrameMicroseconds;
}

bool Conversion::RefuseFramePastLimit(uint64_t limit) {
  ConversionState& s = state;
  --s.FramesWritten;
  s.FrameBytes -= uint32_t(s.StoredLength);
  s.FrameBytesTotal -= uint64_t(s.StoredLength);
  // Split at the limit: the frame goes into the next file, unless it would
  // not fit an empty one either.
  if (s.SplitAtLimits && nextTarget && s.FramesWritten - s.NonDataFrames > 0) {
    splitPending_ = true;
    return false;
  }
  FailWrite(s, "frame " + Grouped(s.FramesRead) + " would carry the " +
                   (writer_ ? writer_->family : "") + " target past " + Grouped(int64_t(limit)) +
                   " bytes, the most it can address; the frames before it are written");
  return false;
}

// Not vectorised: the two lengths would be loaded as one word, which waits
// for the reader's two separate stores of them to leave the core.
[[gnu::optimize("no-tree-slp-vectorize")]] void Conversion::EthernetToWireless() {
  ConversionState& s = state;
  uint8_t* d = s.FrameData.data();
  s.WirelessDataRate = 22;
  s.WirelessChannel = 1;
  s.WirelessSignal = 100;
  s.WirelessNoise = 0;
  // The Ethernet FCS is no 802.11 FCS: the frame goes on without one.
  s.FrameLength = std::max(0, s.FrameLength - 4);
  s.StoredLength = std::min(s.StoredLength, s.FrameLength);
  s.WirelessFcsBytes = 0;
  // The addresses are taken before the payload moves over them.
  uint8_t addresses[12];
  std::memcpy(addresses, d, 12);
  const uint16_t type = uint16_t(d[12] << 8 | d[13]);
  const size_t payload = size_t(std::max(0, s.StoredLength - 14));
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
  s.FrameLength += growth;
  s.StoredLength += growth;
  if (!wirelessFcsKept_) return;
  // The 802.11 FCS of the new frame: the CRC-32 over its bytes, where they are all in hand.
  const bool whole = s.StoredLength == s.FrameLength;
  if (whole) PutLE32(d + s.FrameLength, Crc32(d, size_t(s.FrameLength)));
  s.FrameLength += 4;
  if (whole) s.StoredLength += 4;
  s.WirelessFcsBytes = 4;
}

bool Conversion::WirelessToEthernet() {
  ConversionState& s = state;
  uint8_t* d = s.FrameData.data();
  bool write = true;
  if ((d[0] & 0x0C) != 0x08) {
    write = false;
    ++s.NonDataFrames;
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
  const int32_t fcs = std::clamp(s.WirelessFcsBytes, 0, 4);
  int32_t length = s.FrameLength - shrink - fcs;
  int32_t stored = std::clamp(s.StoredLength - shrink, 0, std::max(0, length));
  std::memmove(d + 14, d + headerEnd, size_t(std::max(0, s.StoredLength - headerEnd)));
  s.WirelessFcsBytes = 0;
  if (length <= 0) {
    s.FrameLength = s.StoredLength = 0;
    if (write) ++s.NonDataFrames;
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
  s.FrameLength = length + 4;
  s.StoredLength = whole ? s.FrameLength : stored;
  if (whole) StoreEthernetFcs(s);
  return write;
}

}  // namespace morph
