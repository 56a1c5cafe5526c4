// The public library: the command line's identify and convert --json
// without printing, and the frames of a source as a libpcap or pcapng target
// would receive them.
#include "morphalite/morphalite.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/conversion.h"
#include "engine/job.h"
#include "engine/timebase.h"
#include "formats/pcap.h"
#include "ui/cli/command_line.h"

namespace morphalite {
namespace {

Status StatusOf(int exitStatus) { return Status(exitStatus); }

// Keeps the first message and the reason behind it; stops when asked.
class ReadingHost : public morph::Host {
 public:
  void message(const std::string& caption, const std::string& text, morph::MessageIcon) override {
    if (message_.empty()) message_ = caption + ": " + text;
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               morph::MessageIcon icon) override {
    if (message_.empty()) detail_ = detail;
    message(caption, text, icon);
  }
  bool stopRequested() override { return stop; }

  bool stop = false;
  std::string message_, detail_;
};

// The one place the library reads the engine's frame fields: the time in UTC
// nanoseconds, the medium as a libpcap link type, the Ethernet FCS left out
// as the libpcap writer leaves it out.
Frame FrameOf(const morph::ConversionState& s) {
  const morph::UnixTime when = morph::FrameUnixTime(s);
  const int32_t fcs = s.traceTopology == morph::Topo::Ethernet ? 4 : 0;
  const int32_t wire = std::max(0, s.frame.frameLength - fcs);
  const int32_t stored = std::max(0, std::min(s.frame.storedLength, wire));
  Frame frame;
  frame.timeNs = (when.seconds * 1000000 + when.microseconds) * 1000 + s.frame.frameNanoseconds;
  frame.wireLength = uint32_t(wire);
  frame.data = std::span<const uint8_t>(s.frame.frameData.data(), size_t(stored));
  frame.linkType = s.frame.frameLinkType ? s.frame.frameLinkType : morph::PcapLinkTypeFor(s.traceTopology);
  frame.interface = s.frame.frameInterface;
  frame.flags = s.frame.frameFlags;
  return frame;
}

}  // namespace

std::string Version() { return MORPHALITE_VERSION; }

std::vector<Format> Formats() {
  std::vector<Format> formats;
  for (morph::FormatRow& row : morph::FormatRows())
    formats.push_back({std::move(row.code), std::move(row.name), std::move(row.names),
                       std::move(row.suffix), row.read, row.write});
  return formats;
}

Identification Identify(const std::string& path) {
  morph::IdentifiedFile file = morph::IdentifyQuietly(path);
  Identification done;
  done.status = StatusOf(file.status);
  done.analyzer = std::move(file.analyzer);
  done.interface = std::move(file.interface);
  done.fileSize = file.fileSize;
  done.frames = file.frames;
  done.message = std::move(file.message);
  done.detail = std::move(file.detail);
  done.json = std::move(file.json);
  return done;
}

ReadReport ReadFrames(const std::string& path, const std::function<bool(const Frame&)>& onFrame,
                      const ReadOptions& options) {
  ReadReport report;
  std::shared_ptr<const morph::TimeZoneRules> zone;
  if (!options.sourceZone.empty()) {
    zone = morph::LoadTimeZone(options.sourceZone);
    if (!zone) {
      report.status = Usage;
      report.message = "Parameter Error: unknown time zone " + options.sourceZone;
      return report;
    }
  }
  ReadingHost host;
  const morph::FrameSurvey survey = morph::SurveyFrames(
      path, morph::DefaultCapabilities(), host, options.salvage,
      [&](morph::Conversion& c) {
        // The stop is seen a few frames later: none reaches the caller after it.
        if (host.stop) return;
        ++report.frames;
        if (!onFrame(FrameOf(c.state))) host.stop = true;
      },
      std::move(zone));
  report.status = StatusOf(morph::ExitFor(survey.outcome));
  report.message = host.message_;
  report.detail = survey.failureDetail.empty() ? host.detail_ : survey.failureDetail;
  report.skippedBytes = survey.skipped.bytes;
  report.skippedRecords = survey.skipped.records;
  return report;
}

// ---- FrameReader: a reading thread hands over batches of frames ----

namespace {

struct Batch {
  std::vector<Frame> frames;
  std::vector<uint8_t> bytes;
  std::vector<size_t> offsets;  // of each frame's bytes, while `bytes` may still grow

  void clear() {
    frames.clear();
    bytes.clear();
    offsets.clear();
  }
  void add(const Frame& frame) {
    offsets.push_back(bytes.size());
    bytes.insert(bytes.end(), frame.data.begin(), frame.data.end());
    frames.push_back(frame);
  }
  // Points each frame at its bytes, now that they stay where they are.
  void seal() {
    for (size_t i = 0; i < frames.size(); ++i)
      frames[i].data = std::span<const uint8_t>(bytes.data() + offsets[i], frames[i].data.size());
  }
};

// Bytes a batch gathers before it is handed over, whatever its frame count.
constexpr size_t kBatchBytes = 256 << 10;

}  // namespace

struct FrameReader::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  Batch filling, ready, taken;  // the thread fills, the caller takes, `ready` between them
  bool readyFull = false, finished = false, stop = false;
  ReadReport report;
  std::exception_ptr error;
  std::thread thread;

  // Hands the filled batch over once the caller took the one before; false
  // when the caller is gone.
  bool handOver() {
    filling.seal();
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return !readyFull || stop; });
    if (stop) return false;
    std::swap(filling, ready);
    readyFull = true;
    changed.notify_all();
    lock.unlock();
    filling.clear();
    return true;
  }
};

FrameReader::FrameReader(const std::string& path, const ReadOptions& options)
    : shared_(std::make_unique<Shared>()) {
  Shared& shared = *shared_;
  const size_t batchFrames = std::max<size_t>(1, options.batchFrames);
  shared.thread = std::thread([&shared, path, options, batchFrames] {
    ReadReport report;
    try {
      report = ReadFrames(
          path,
          [&](const Frame& frame) {
            shared.filling.add(frame);
            return (shared.filling.frames.size() < batchFrames &&
                    shared.filling.bytes.size() < kBatchBytes) ||
                   shared.handOver();
          },
          options);
      if (!shared.filling.frames.empty()) shared.handOver();
    } catch (...) {
      std::lock_guard<std::mutex> lock(shared.mutex);
      shared.error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.report = std::move(report);
    shared.finished = true;
    shared.changed.notify_all();
  });
}

FrameReader::~FrameReader() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
  }
  shared_->changed.notify_all();
  shared_->thread.join();
}

std::span<const Frame> FrameReader::next() {
  Shared& shared = *shared_;
  std::unique_lock<std::mutex> lock(shared.mutex);
  shared.changed.wait(lock, [&] { return shared.readyFull || shared.finished; });
  if (!shared.readyFull) {
    if (shared.error) std::rethrow_exception(shared.error);
    return {};
  }
  std::swap(shared.taken, shared.ready);
  shared.readyFull = false;
  shared.changed.notify_all();
  return shared.taken.frames;
}

const ReadReport& FrameReader::report() const { return shared_->report; }

ConversionReport Convert(const std::string& source, const std::string& to,
                         const std::string& output, const std::vector<Option>& options) {
  std::vector<std::string> args = {"convert", "--to=" + to};
  if (!output.empty()) args.push_back("--output=" + output);
  // --name=value: a value that starts with "-" is never taken for an option.
  for (const Option& option : options)
    args.push_back("--" + option.name + (option.value.empty() ? "" : "=" + option.value));
  // After "--" the source is never taken for an option.
  args.insert(args.end(), {"--", source});
  morph::QuietConversion run = morph::ConvertQuietly(args);
  ConversionReport report;
  report.status = StatusOf(run.status);
  report.usageError = std::move(run.usageError);
  report.target = run.result.framesWritten > 0 ? run.result.targetPath : "";
  report.framesRead = run.result.framesRead;
  report.framesWritten = run.result.framesWritten;
  report.bytes = run.result.frameBytes;
  report.skippedBytes = run.result.skipped.bytes;
  report.skippedRecords = run.result.skipped.records;
  report.messages = std::move(run.messages);
  report.detail = std::move(run.detail);
  report.json = std::move(run.json);
  return report;
}

}  // namespace morphalite
