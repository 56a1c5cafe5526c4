// The record through which identification, driver, readers, pipeline and
// writers exchange everything of one conversion. A plain struct: each
// Conversion owns one, so several conversions can live in one process.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/format_options.h"
#include "engine/frame_filter.h"
#include "engine/losses.h"
#include "engine/types.h"

namespace morph {

class Conversion;
struct ConversionState;
struct TimeZoneRules;

// Per-conversion scratch of one reader or writer. Formats derive from it and
// reach theirs through Conversion::ReaderContext<T>() / WriterContext<T>().
struct FormatContext {
  virtual ~FormatContext() = default;
  // Called once when the conversion is over, also after a failure or Stop,
  // for what a format holds beyond the conversion's streams (a file of its
  // own); a write lost doing so is reported through FailWrite.
  virtual void Close(Conversion&) {}
  // How far a reader that opens its source itself has come, as a byte
  // position in a file of sourceFileSize bytes (the progress display); -1
  // when it cannot tell.
  virtual int64_t SourcePosition(const ConversionState&) const { return -1; }
};

// What a salvaging reader passed over to reach its next sound record
// (engine/salvage.h).
struct SkippedDamage {
  int64_t bytes = 0;
  int64_t records = 0;      // damaged spans, each begun by a record that failed
  std::string firstReason;  // where and why, as the read error would have said it
  bool any() const { return records > 0; }
};

// The current frame's bytes, FrameBufferBytes of them, zeroed when made. In
// pages of their own, as a frame may run to 256 KB and a state often lives
// on a stack: the system hands them out zeroed and only when first touched,
// so a state whose frames are short (or that reads none) costs a page or
// two, not 64 page faults for a buffer zeroed by hand. Page-aligned, so that
// a short frame lies in one cache line and no copy into or out of it splits
// its loads and stores across two.
class FrameBuffer {
 public:
  FrameBuffer();
  FrameBuffer(const FrameBuffer& other) : FrameBuffer() { *this = other; }
  FrameBuffer& operator=(const FrameBuffer& other) {
    std::memcpy(data(), other.data(), FrameBufferBytes);
    return *this;
  }
  ~FrameBuffer();

  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  uint8_t& operator[](size_t i) { return bytes_[i]; }
  const uint8_t& operator[](size_t i) const { return bytes_[i]; }
  static constexpr size_t size() { return FrameBufferBytes; }
  uint8_t* begin() { return data(); }
  uint8_t* end() { return data() + FrameBufferBytes; }
  const uint8_t* begin() const { return data(); }
  const uint8_t* end() const { return data() + FrameBufferBytes; }
  void fill(uint8_t value) { std::memset(data(), value, FrameBufferBytes); }
  // Every byte zero again: the pages touched are given back, and come back
  // zeroed when next touched.
  void clear();

 private:
  uint8_t* bytes_;
};

// An interface of the source as its file describes it (in the file header,
// or in an interface's own record), numbered from 0 as frameInterface counts.
struct SourceInterface {
  uint32_t linkType = 0;
  Topology topology = Topo::Unknown;  // the medium, where the link type is one of them
  uint32_t snapLength = 0;            // 0: not stated
  uint8_t timeResolution = 6;         // 10^-n, or 2^-n with the top bit set
  int32_t fcsLength = -1;             // FCS bytes ending each frame; -1: not stated
  uint64_t speed = 0;                 // bits per second; 0: not stated
  std::string name, description;
};

// Options of the job, copied in when the conversion starts.
struct JobOptions {
  bool convertToEthernet = false, convertToWireless = false;
  bool sliceFrames = false;
  // Short Ethernet frames are padded to 60 bytes as read (counted in
  // counters.lost.framesPadded); off, they keep their own lengths.
  bool padShortFrames = true;
  int32_t sliceLength = 100;
  bool convertAll = true;  // frame range
  int32_t startFrame = 1, endFrame = 999999;
  // Frame numbers, time window, duplicates and time shift (engine/frame_filter.h).
  FrameSelection selection;
  // Only this interface's frames are converted (--interface); -1: all.
  int32_t onlyInterface = -1;
  // Readers that can find their next record past damage go on from there;
  // what they pass over is counted in counters.skipped.
  bool salvage = false;
  // A target that could not hold everything is not kept (--strict); the
  // job, or a writer that creates its own target, drops it.
  bool refuseLosses = false;
  // The target goes on in a next file after this many frames, at each step
  // of this span from the first frame, or where it reaches a limit of its
  // format (0 / false: never); the driver's nextTarget opens that file.
  int32_t splitFrames = 0;
  int64_t splitMicroseconds = 0;
  bool splitAtLimits = false;
  // The target family's own options (its header defines them).
  FormatOptions formatOptions;
  // The target's layout where its format has several, as the version the
  // format gives it; 0: the format's default.
  int32_t targetLayout = 0;
  // The target is a pipe (standard output): writers must not seek back.
  bool targetIsPipe = false;
  // The target never writes an Ethernet FCS: readers may skip computing it.
  bool ethernetFcsUnused = false;
  // The largest offset or size a 32-bit field of the target can state
  // (tests lower it to reach the limit with small files).
  uint64_t targetOffsetLimit = 0xFFFFFFFFu;
  // Lowers the frame count a target family can hold (tests; 0: the family's
  // own, and never above it).
  int32_t targetFrameLimit = 0;
  // Readers may hand records the target would write byte for byte straight
  // to it (tests turn this off to compare with the frame-by-frame path).
  bool copyUnchangedRecords = true;
  // The trace date a source that stores none is given instead of its file's
  // modification time (a copy from standard input has today's).
  std::optional<double> sourceDate;
};

// The frame being converted, as its reader left it.
struct CurrentFrame {
  int64_t frameTime = 0;  // microseconds since local midnight of time.traceDate's day
  // Nanoseconds below frameTime's microsecond (0-999), from sources that
  // stamp frames more finely; writers of such resolutions add them.
  int32_t frameNanoseconds = 0;
  int32_t frameLength = 0;
  int32_t storedLength = 0;
  uint16_t frameFlags = 0;
  uint8_t wirelessDataRate = 0, wirelessChannel = 0, wirelessSignal = 0, wirelessNoise = 0;
  uint32_t frameFcs = 0;
  // The frame's link type by the common link type numbers (1 Ethernet,
  // 113 Linux cooked...); 0 when the source states none and the topology
  // tells the medium. Its interface, numbered from 0 as identify lists them.
  uint32_t frameLinkType = 0;
  int32_t frameInterface = 0;
  // The frame's packet flags as its record stores them (0: none stated), for a target
  // that stores them as they are.
  uint32_t framePacketFlags = 0;
  // The frame has no time of its own (its record stores none): its
  // reader gives it a neighbour's frameTime, which no writer takes for its
  // own and from which no date or time base is derived.
  bool frameWithoutTime = false;
  // The frame's comment, empty when it has none.
  std::string frameComment;
  // Bytes of FCS that end the current 802.11 frame: 4 only where its source
  // says the frame keeps one (a format's flag, radiotap, an interface's FCS length);
  // readers that set it set it for every frame.
  int32_t wirelessFcsBytes = 0;
  FrameBuffer frameData;
};

// Counts of one conversion, kept by the engine's frame loop: readers and
// writers only read them.
struct Counters {
  int32_t framesRead = 0;
  int32_t framesWritten = 0;
  int32_t nonDataFrames = 0;
  uint32_t frameBytes = 0;
  uint64_t frameBytesTotal = 0;  // frameBytes without the 32-bit wrap, for display
  int32_t runtFrames = 0, oversizeFrames = 0, alignmentErrorFrames = 0, crcErrorFrames = 0;
  int32_t maxFrameLength = 0, maxTruncatedLength = 0;
  int32_t framesReadTotal = 0;
  // What a salvaging reader passed over.
  SkippedDamage skipped;
  // What the target could not hold of the frames it was given.
  FrameLosses lost;
  // Frames dropped as equal to one read shortly before (options.selection).
  int64_t duplicateFrames = 0;
};

// Where the conversion stands, and why it failed (set through FailRead /
// FailWrite, engine/failure.h).
struct JobStatus {
  bool readError = false;
  bool writeFailed = false;
  // The target was not kept (a write failed): the destination is as it stood.
  bool targetDiscarded = false;
  std::string readErrorDetail, writeErrorDetail;
  bool stopRequested = false;
  bool endOfSource = false;
  bool probeOnly = false;
  bool headerPending = false;
  bool conversionFinished = false;
  bool writingIndex = false;
  bool wrappedSource = false;
  bool badCompression = false;
  // The file being finished is a step of a split in time without frames:
  // kept all the same, as editcap -i keeps it.
  bool emptySplitStep = false;
};

// The trace's date, zones and the times frames are measured from.
struct TimeBase {
  double traceDate = 0;  // days since 1899-12-30, local time, time of day as fraction
  int32_t timeZoneBias = 0;  // seconds to add to local time to get UTC
  int64_t headerTimeOfDay = 0;
  int64_t firstFrameTime = 0;
  int64_t traceDuration = 0;
  int64_t previousFrameTime = 0;
  bool sourceHasNanoseconds = false;  // the source's resolution is finer than 1 us
  // The source names the zone it was recorded in (standard-time bias in
  // minutes, UTC = local + bias); unset: the machine's zone.
  std::optional<int32_t> sourceZoneBiasMinutes;
  // The zone in which a source that stores local times was recorded, and
  // the zone a target that stores local times is written in; null: the
  // machine's. Readers work in the source's zone; writers read writerTime.
  std::shared_ptr<const TimeZoneRules> sourceZone, targetZone;
};

// The trace's times as writers tell them, in the target's zone: fixed from
// `time` where each file's header is written (ComputeWriterTimeBase). Without
// a zone chosen it equals the source's and the shift is 0. Readers never read
// it; writers take no time of the source but through it (WriterFrameTime).
struct WriterTime {
  double traceDate = 0;
  int32_t timeZoneBias = 0;
  // Added to a frameTime to count it from the target's local midnight:
  // the two midnights' UTC instants differ by it.
  int64_t frameTimeShift = 0;
  int64_t firstFrameTime = 0;
  int64_t firstFrameSeconds = 0;
  int64_t firstFrameMicroseconds = 0;
  int64_t firstFrameUnixTime = 0;  // each writer checks that its own fields hold it
  int64_t timeBaseSeconds = 0;
  double timeBaseFraction = 0;
  // The source's date, bias and the target zone the zone's part above was
  // worked out for: a chosen zone is looked up again only when they change.
  struct ZoneKey {
    const TimeZoneRules* zone = nullptr;
    double traceDate = 0;
    int32_t bias = 0;
    bool operator==(const ZoneKey&) const = default;
  };
  std::optional<ZoneKey> zoneKey;
};

struct ConversionState {
  // Identity and files.
  AnalyzerType sourceAnalyzer = Analyzer::Unknown;
  AnalyzerType targetAnalyzer = Analyzer::Unknown;
  Topology traceTopology = Topo::Unknown;
  int32_t sourceFrameCount = 0;
  bool sourceHasNoFrames = false;
  uint32_t wanProtocol = Wan::NotKnown;
  uint32_t lineSpeed = 0;
  uint32_t fileLineSpeed = 0;
  std::string fileComment;  // at most 300 characters
  std::string sourceFileName, targetFileName;
  std::string sourceFileDateText;  // the file date as the main window shows it
  bool sourceCompressed = false;
  int64_t sourceFileSize = 0;
  // What identification learnt of the source's layout, for its reader: bits
  // the format defines (such as its byte order and record layout).
  uint32_t sourceVariant = 0;
  // The largest frame the source's header says it holds (a snapshot
  // length); 0 when the format states none.
  uint32_t sourceSnapshotLength = 0;
  // The source's interfaces (empty for formats without link types): the
  // topology step lists those described before the first frame, the reader
  // adds those described later.
  std::vector<SourceInterface> sourceInterfaces;

  JobOptions options;
  CurrentFrame frame;
  Counters counters;
  JobStatus status;
  TimeBase time;
  WriterTime writerTime;
};

// The current frame's time in the target's zone, for writers.
inline int64_t WriterFrameTime(const ConversionState& s) {
  return s.frame.frameTime + s.writerTime.frameTimeShift;
}

// Time-unit constants used by formats with PC-timer or fixed-rate ticks.
namespace TimeUnits {
constexpr double BiosTickMicroseconds = 54925.41649846272;
constexpr double PcTimerTickMicroseconds = 0.83809534452;
}  // namespace TimeUnits

}  // namespace morph
