#include "engine/merge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/format.h"
#include "engine/frame_instant.h"
#include "engine/spill.h"
#include "engine/targets.h"

namespace morph {
namespace {

constexpr const char* kCaption = "Merge";

// A spooled frame: this header, then its stored bytes and its comment. The
// spool is ours and read back on the same machine: native layout.
struct SpooledFrame {
  int64_t seconds;
  int32_t nanoseconds;
  int32_t frameLength, storedLength;
  uint32_t linkType, fcs;
  int32_t interface;
  uint32_t commentBytes;
  uint16_t flags;
  uint8_t wireless[4];
  uint8_t withoutTime;
  uint8_t unused[5];
};
static_assert(sizeof(SpooledFrame) == 48);

// A stretch of a spool file holding one time-ordered stream of frames.
struct Run {
  int64_t begin, end;
};

// An unnamed temporary file written through a buffer.
class SpoolFile {
 public:
  SpoolFile() : buffer_(kBuffer) {}
  ~SpoolFile() {
    if (fd_ >= 0) close(fd_);
  }
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  bool open() {
    const std::string folder = TemporaryFolder();
    fd_ = OpenUnnamedFile(folder);
    if (fd_ < 0) error_ = "a temporary file in " + folder + ": " + SystemErrorText(errno);
    return fd_ >= 0;
  }
  bool append(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      if (used_ == buffer_.size() && !flush()) return false;
      const size_t take = std::min(n, buffer_.size() - used_);
      std::memcpy(buffer_.data() + used_, p, take);
      used_ += take;
      p += take;
      n -= take;
    }
    return true;
  }
  bool flush() {
    for (size_t done = 0; done < used_;) {
      const ssize_t put = write(fd_, buffer_.data() + done, used_ - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        error_ = "the merge's temporary file in " + TemporaryFolder() + ": " +
                 SystemErrorText(put < 0 ? errno : ENOSPC);
        return false;
      }
      done += size_t(put);
      written_ += put;
    }
    used_ = 0;
    return true;
  }
  int64_t size() const { return written_ + int64_t(used_); }
  int fd() const { return fd_; }
  const std::string& errorText() const { return error_; }

 private:
  static constexpr size_t kBuffer = 1 << 20;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  int64_t written_ = 0;
  std::string error_;
};

// Reads the records of one run, each whole in the buffer when handed out.
class RunReader {
 public:
  RunReader(int fd, Run run) : fd_(fd), next_(run.begin), end_(run.end), buffer_(kBuffer) {}

  // The next record (valid until the following call), or null at the run's
  // end or when the spool could not be read (failed()).
  const uint8_t* next() {
    if (at_ == held_ && next_ == end_) return nullptr;
    if (!hold(sizeof(SpooledFrame))) return nullptr;
    SpooledFrame h;
    std::memcpy(&h, buffer_.data() + at_, sizeof h);
    const size_t size = sizeof h + size_t(h.storedLength) + h.commentBytes;
    if (!hold(size)) return nullptr;
    const uint8_t* record = buffer_.data() + at_;
    at_ += size;
    return record;
  }
  bool failed() const { return failed_; }
  int64_t consumed() const { return next_ - int64_t(held_ - at_); }

 private:
  static constexpr size_t kBuffer = 256 * 1024;
  // Makes n bytes from at_ on lie in the buffer.
  bool hold(size_t n) {
    if (held_ - at_ >= n) return true;
    std::memmove(buffer_.data(), buffer_.data() + at_, held_ - at_);
    held_ -= at_;
    at_ = 0;
    if (buffer_.size() < n) buffer_.resize(n);
    while (held_ < n && next_ < end_) {
      const size_t want = size_t(std::min<int64_t>(int64_t(buffer_.size() - held_), end_ - next_));
      const ssize_t got = pread(fd_, buffer_.data() + held_, want, next_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      held_ += size_t(got);
      next_ += got;
    }
    failed_ = held_ < n;
    return !failed_;
  }

  int fd_;
  int64_t next_, end_;  // the file's bytes not yet in the buffer
  std::vector<uint8_t> buffer_;
  size_t at_ = 0, held_ = 0;
  bool failed_ = false;
};

FrameInstant InstantOf(const uint8_t* record) {
  SpooledFrame h;
  std::memcpy(&h, record, sizeof h);
  return {h.seconds, h.nanoseconds};
}

size_t RecordSize(const uint8_t* record) {
  SpooledFrame h;
  std::memcpy(&h, record, sizeof h);
  return sizeof h + size_t(h.storedLength) + h.commentBytes;
}

std::string ShownName(const MergeRequest& request, size_t i) {
  if (i < request.shownNames.size() && !request.shownNames[i].empty()) return request.shownNames[i];
  return FileNamePart(request.sources[i]);
}

// The records of several runs, earliest first; of equal times, the one of
// the later run first, as mergecap orders them.
// Reader: next() (the next record, valid until its following call, or null
// at the end), failed(), consumed().
template <class Reader>
class RunMerger {
 public:
  explicit RunMerger(std::vector<Reader> readers) : readers_(std::move(readers)) {
    for (size_t i = 0; i < readers_.size(); ++i) advance(i);
    std::make_heap(heap_.begin(), heap_.end(), Later);
  }

  // The next record, or null when every run is done.
  const uint8_t* next() {
    if (heap_.empty()) return nullptr;
    std::pop_heap(heap_.begin(), heap_.end(), Later);
    lastRun_ = heap_.back().run;
    const uint8_t* record = heap_.back().record;
    heap_.pop_back();
    pending_ = true;
    return record;
  }
  // The run of the record handed out last.
  size_t lastRun() const { return lastRun_; }
  // Called before the following next(): the run handed out last reads on
  // (its record stays valid until then).
  void release() {
    if (!pending_) return;
    pending_ = false;
    if (advance(lastRun_)) std::push_heap(heap_.begin(), heap_.end(), Later);
  }
  bool failed() const {
    return std::any_of(readers_.begin(), readers_.end(), [](const Reader& r) { return r.failed(); });
  }
  int64_t consumed() const {
    int64_t total = 0;
    for (const Reader& r : readers_) total += r.consumed();
    return total;
  }

 private:
  struct Head {
    FrameInstant time;
    size_t run;
    const uint8_t* record;
  };
  static bool Later(const Head& a, const Head& b) {
    return a.time != b.time ? a.time > b.time : a.run < b.run;
  }
  bool advance(size_t run) {
    const uint8_t* record = readers_[run].next();
    if (!record) return false;
    heap_.push_back({InstantOf(record), run, record});
    return true;
  }

  std::vector<Reader> readers_;
  std::vector<Head> heap_;
  size_t lastRun_ = 0;
  bool pending_ = false;
};

// Interfaces numbered anew across runs, in the order frames first show them.
class InterfaceNumbers {
 public:
  explicit InterfaceNumbers(size_t runs) : numbers_(runs) {}
  int32_t of(size_t run, int32_t interface) {
    std::vector<int32_t>& numbers = numbers_[run];
    const size_t at = size_t(std::max(interface, 0));
    if (at >= numbers.size()) numbers.resize(at + 1, -1);
    if (numbers[at] < 0) numbers[at] = next_++;
    return numbers[at];
  }

 private:
  std::vector<std::vector<int32_t>> numbers_;  // per run: the new number of each interface
  int32_t next_ = 0;
};

// A run of records in memory, handed from a source's reader to the merge.
struct Chunk {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0, used = 0;
};

// The chunks of one source on their way to the merge: at most kMostQueued
// wait, so memory stays flat whatever the sources hold. Spent chunks go back
// to the reader for reuse.
class FrameQueue {
 public:
  static constexpr size_t kChunkBytes = 128 * 1024, kMostQueued = 3;

  // Reader side: a chunk to fill with at least `room` bytes.
  Chunk take(size_t room) {
    Chunk chunk;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (chunk.capacity < room) {
      chunk.capacity = std::max(room, kChunkBytes);
      chunk.bytes = std::make_unique<uint8_t[]>(chunk.capacity);
    }
    chunk.used = 0;
    return chunk;
  }
  // Waits while the queue is full; false when the merge no longer wants frames.
  bool push(Chunk&& chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return full_.size() < kMostQueued || cancelled_; });
    if (cancelled_) return false;
    full_.push_back(std::move(chunk));
    changed_.notify_all();
    return true;
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  void cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }
  bool cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
  }
  // Merge side: the next chunk, the spent one going back; false at the end.
  bool next(Chunk& chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (chunk.bytes) spare_.push_back(std::move(chunk));
    chunk = Chunk();
    changed_.wait(lock, [&] { return !full_.empty() || closed_ || cancelled_; });
    if (full_.empty()) return false;
    chunk = std::move(full_.front());
    full_.pop_front();
    changed_.notify_all();
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> full_;
  std::vector<Chunk> spare_;
  bool closed_ = false, cancelled_ = false;
};

// Reads the records of one queue, each whole when handed out.
class QueueReader {
 public:
  explicit QueueReader(FrameQueue& queue) : queue_(queue) {}
  const uint8_t* next() {
    while (at_ == chunk_.used) {
      if (!queue_.next(chunk_)) return nullptr;
      at_ = 0;
    }
    const uint8_t* record = chunk_.bytes.get() + at_;
    const size_t size = RecordSize(record);
    at_ += size;
    consumed_ += int64_t(size);
    return record;
  }
  bool failed() const { return false; }
  int64_t consumed() const { return consumed_; }

 private:
  FrameQueue& queue_;
  Chunk chunk_;
  size_t at_ = 0;
  int64_t consumed_ = 0;
};

// What a message of a reader's thread said, shown once the merge is over.
struct HeldMessage {
  bool failure;
  std::string caption, text, detail;
  MessageIcon icon;
};

// The host of a reader's thread: keeps its messages, stops when the merge does.
class ReaderThreadHost : public Host {
 public:
  explicit ReaderThreadHost(const FrameQueue& queue) : queue_(queue) {}
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override {
    held.push_back({false, caption, text, "", icon});
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    held.push_back({true, caption, text, detail, icon});
  }
  bool stopRequested() override { return queue_.cancelled(); }
  std::vector<HeldMessage> held;

 private:
  const FrameQueue& queue_;
};

// One source read on a thread of its own into its queue.
struct SourceReader {
  std::string path, name;
  FrameQueue queue;
  FrameSurvey survey;
  std::vector<HeldMessage> messages;
  // Frames timed finer than microseconds: known from the first frame on,
  // read by the merge while this reader goes on.
  std::atomic<bool> nanoseconds{false};
  std::thread thread;
};

void ReadIntoQueue(SourceReader& r, const CapabilitySets& caps, const JobRequest& options,
                   bool fcsUnused) {
  ReaderThreadHost host(r.queue);
  Chunk chunk = r.queue.take(FrameQueue::kChunkBytes);
  bool open = true;
  FrameInstant previous;
  FrameObservation how;
  how.shownName = r.name;
  how.fcsUnused = fcsUnused;
  how.salvage = options.salvage;
  how.sourceZone = options.sourceZone;
  how.observe = [&](const ConversionState& s) {
    if (!open) return;
    SpooledFrame h{};
    // A frame without a time keeps its place behind the frame before it.
    const FrameInstant time = s.frame.frameWithoutTime ? previous : CurrentFrameInstant(s);
    previous = time;
    h.seconds = time.seconds;
    h.nanoseconds = time.nanoseconds;
    h.frameLength = s.frame.frameLength;
    h.storedLength = s.frame.storedLength;
    h.linkType = s.frame.frameLinkType;
    h.fcs = s.frame.frameFcs;
    h.interface = s.frame.frameInterface;
    h.commentBytes = uint32_t(s.frame.frameComment.size());
    h.flags = s.frame.frameFlags;
    h.wireless[0] = s.frame.wirelessDataRate;
    h.wireless[1] = s.frame.wirelessChannel;
    h.wireless[2] = s.frame.wirelessSignal;
    h.wireless[3] = s.frame.wirelessNoise;
    h.withoutTime = s.frame.frameWithoutTime;
    if (s.time.sourceHasNanoseconds && !r.nanoseconds.load(std::memory_order_relaxed))
      r.nanoseconds = true;
    const size_t size = sizeof h + size_t(s.frame.storedLength) + s.frame.frameComment.size();
    if (chunk.capacity - chunk.used < size) {
      if (chunk.used > 0) open = r.queue.push(std::move(chunk));
      chunk = r.queue.take(size);
      if (!open) return;
    }
    uint8_t* p = chunk.bytes.get() + chunk.used;
    std::memcpy(p, &h, sizeof h);
    CopyBytes(p + sizeof h, s.frame.frameData.data(), size_t(s.frame.storedLength));
    std::memcpy(p + sizeof h + size_t(s.frame.storedLength), s.frame.frameComment.data(), s.frame.frameComment.size());
    chunk.used += size;
  };
  r.survey = ObserveFrames(r.path, caps, host, how);
  if (open && chunk.used > 0) r.queue.push(std::move(chunk));
  r.queue.close();
  r.messages = std::move(host.held);
}

// Passes messages on, naming the source they are about.
void ShowHeld(Host& host, const SourceReader& r) {
  for (const HeldMessage& m : r.messages) {
    if (m.failure)
      host.failure(m.caption, m.text,
                   m.detail.rfind(r.name, 0) == 0 ? m.detail : r.name + ": " + m.detail, m.icon);
    else
      host.message(m.caption, r.name + ": " + m.text, m.icon);
  }
}

// Sources read at once on threads of their own, each into its queue; joined
// (and stopped, when the merge ended early) when it goes.
class SourceGroup {
 public:
  SourceGroup(const MergeRequest& request, size_t first, size_t count, const CapabilitySets& caps,
              bool fcsUnused)
      : readers_(count) {
    for (size_t i = 0; i < count; ++i) {
      SourceReader& r = readers_[i];
      r.path = request.sources[first + i];
      r.name = ShownName(request, first + i);
    }
    for (SourceReader& r : readers_)
      r.thread = std::thread(ReadIntoQueue, std::ref(r), std::cref(caps), std::cref(request.target),
                             fcsUnused);
    for (SourceReader& r : readers_) queues_.push_back(&r.queue);
  }
  ~SourceGroup() { join(); }
  const std::vector<FrameQueue*>& queues() const { return queues_; }
  const std::deque<SourceReader>& readers() const { return readers_; }
  // Waits for every reader, stopping those the merge no longer reads.
  std::deque<SourceReader>& join() {
    for (SourceReader& r : readers_) r.queue.cancel();
    for (SourceReader& r : readers_)
      if (r.thread.joinable()) r.thread.join();
    return readers_;
  }

 private:
  std::deque<SourceReader> readers_;
  std::vector<FrameQueue*> queues_;
};

// What the readers of every source told, gathered for the result.
struct SourcesRead {
  int64_t frames = 0;
  bool nanoseconds = false;
  std::string readFailure;  // the first source that could not be read to its end, and why
  SkippedDamage skipped;
  bool stopped = false;
};

void Gather(std::deque<SourceReader>& readers, Host& host, SourcesRead& read) {
  for (SourceReader& r : readers) {
    ShowHeld(host, r);
    const FrameSurvey& survey = r.survey;
    read.frames += survey.frames;
    read.nanoseconds = read.nanoseconds || r.nanoseconds;
    read.skipped.bytes += survey.skipped.bytes;
    read.skipped.records += survey.skipped.records;
    if (read.skipped.firstReason.empty() && survey.skipped.any())
      read.skipped.firstReason = r.name + ": " + survey.skipped.firstReason;
    if (survey.outcome == Outcome::Stopped) read.stopped = true;
    if ((survey.outcome == Outcome::ReadError || survey.outcome == Outcome::BadCompression) &&
        read.readFailure.empty())
      read.readFailure =
          r.name + ": " + (survey.failureDetail.empty() ? "bad compressed data" : survey.failureDetail);
  }
}

// Merges the records `merger` hands out into a run of `spool`, their
// interfaces numbered anew across the merged runs. False when the spool
// fails (the reason in `error`) or the user stops the merge (`stopped`).
template <class Merger>
bool MergeIntoSpool(Merger& merger, size_t runCount, SpoolFile& spool, std::vector<Run>& runs,
                    Host& host, bool& stopped, std::string& error) {
  const int64_t begin = spool.size();
  InterfaceNumbers interfaces(runCount);
  uint32_t sinceAsked = 0;
  for (const uint8_t* record; (record = merger.next()); merger.release()) {
    if (++sinceAsked == 4096) {
      sinceAsked = 0;
      if ((stopped = host.stopRequested())) return false;
    }
    SpooledFrame h;
    std::memcpy(&h, record, sizeof h);
    h.interface = interfaces.of(merger.lastRun(), h.interface);
    if (!spool.append(&h, sizeof h) || !spool.append(record + sizeof h, RecordSize(record) - sizeof h))
      return error = spool.errorText(), false;
  }
  if (merger.failed()) return error = "the merge's temporary file could not be read back", false;
  if (!spool.flush()) return error = spool.errorText(), false;
  runs.push_back({begin, spool.size()});
  return true;
}

// Merges the runs, `most` at a time, into fewer runs of a new spool until at
// most `most` are left. False with the reason when a spool fails.
bool MergeInRounds(std::unique_ptr<SpoolFile>& spool, std::vector<Run>& runs, size_t most,
                   Host& host, bool& stopped, std::string& error) {
  while (runs.size() > most) {
    auto merged = std::make_unique<SpoolFile>();
    if (!merged->open()) return error = merged->errorText(), false;
    std::vector<Run> fewer;
    for (size_t first = 0; first < runs.size(); first += most) {
      std::vector<RunReader> readers;
      for (size_t i = first; i < std::min(runs.size(), first + most); ++i)
        readers.emplace_back(spool->fd(), runs[i]);
      const size_t count = readers.size();
      RunMerger<RunReader> merger(std::move(readers));
      if (!MergeIntoSpool(merger, count, *merged, fewer, host, stopped, error)) return false;
    }
    spool = std::move(merged);
    runs = std::move(fewer);
  }
  return true;
}

// How far the merge has come, for the progress display.
struct MergeReaderContext : FormatContext {
  std::function<int64_t()> consumed;
  int64_t SourcePosition(const ConversionState&) const override {
    return consumed ? consumed() : -1;
  }
};

// The conversion's reader: the merged frames, as a source's reader hands
// frames to the pipeline. Interfaces are numbered anew, in the order the
// merged frames first show them; frames that state a link type must all
// state the same.
template <class Merger>
class MergedFrameReader {
 public:
  MergedFrameReader(Merger& merger, bool nanoseconds, std::vector<std::string> names)
      : merger_(merger), nanoseconds_(nanoseconds), names_(std::move(names)),
        interfaces_(names_.size()) {}

  // The header step: what the merged sources' frames are.
  void open(Conversion& c) {
    c.ReaderContext<MergeReaderContext>().consumed = [this] { return merger_.consumed(); };
    c.state.time.sourceHasNanoseconds = nanoseconds_;
  }

  // The next merged frame; the one before is released first.
  ReadStatus next(Conversion& c) {
    ConversionState& s = c.state;
    merger_.release();
    const uint8_t* record = merger_.next();
    if (!record) {
      if (!merger_.failed()) return ReadStatus::End;
      FailRead(s, "the merge's temporary file could not be read back");
      return ReadStatus::Failed;
    }
    return take(s, record, merger_.lastRun()) ? ReadStatus::Record : ReadStatus::Failed;
  }

  CustomReader asReader() {
    return {[this](Conversion& c) { open(c); }, [this](Conversion& c) { return next(c); }};
  }

 private:
  bool take(ConversionState& s, const uint8_t* record, size_t run) {
    SpooledFrame h;
    std::memcpy(&h, record, sizeof h);
    if (h.linkType != 0 && linkType_ == 0) {
      linkType_ = h.linkType;
      linkSource_ = run;
    } else if (h.linkType != 0 && h.linkType != linkType_) {
      FailWrite(s, names_[linkSource_] + " (link type " + std::to_string(linkType_) + ") and " +
                       names_[run] + " (link type " + std::to_string(h.linkType) +
                       ") would mix link types in one file; the frames before are written");
      return false;
    }
    if (s.counters.framesRead == 0) StartTraceAtUnixTime(s, h.seconds);
    s.frame.frameTime = clock_(s, h.seconds, h.nanoseconds / 1000);
    s.frame.frameNanoseconds = h.nanoseconds % 1000;
    s.frame.frameLength = h.frameLength;
    s.frame.storedLength = h.storedLength;
    s.frame.frameLinkType = h.linkType;
    s.frame.frameFcs = h.fcs;
    s.frame.frameInterface = interfaces_.of(run, h.interface);
    s.frame.frameFlags = h.flags;
    s.frame.wirelessDataRate = h.wireless[0];
    s.frame.wirelessChannel = h.wireless[1];
    s.frame.wirelessSignal = h.wireless[2];
    s.frame.wirelessNoise = h.wireless[3];
    s.frame.frameWithoutTime = h.withoutTime;
    CopyBytes(s.frame.frameData.data(), record + sizeof h, size_t(h.storedLength));
    s.frame.frameComment.assign(reinterpret_cast<const char*>(record + sizeof h + size_t(h.storedLength)),
                          h.commentBytes);
    return true;
  }
  Merger& merger_;
  bool nanoseconds_;
  std::vector<std::string> names_;  // of each run, for messages
  InterfaceNumbers interfaces_;
  uint32_t linkType_ = 0;
  size_t linkSource_ = 0;
  UnixFrameClock clock_;
};

JobResult Refused(Outcome outcome, Host& host, const std::string& text) {
  host.message(kCaption, text, MessageIcon::Error);
  JobResult result;
  result.outcome = outcome;
  return result;
}

}  // namespace

JobResult RunMergeJob(const MergeRequest& request, const CapabilitySets& caps, Host& host) {
  const JobRequest& target = request.target;
  if (request.sources.empty()) return Refused(Outcome::BadOptions, host, "Name the traces to merge.");
  if (target.targetPath.empty())
    return Refused(Outcome::BadOptions, host, "Name the file the merged trace goes to.");
  if (!HasWriter(target.target))
    return Refused(Outcome::NoWriter, host,
                   "Writing " + AnalyzerName(target.target) + " files is not supported.");
  // Every source is identified before anything is read: a refused one, or
  // media that one target cannot hold together, stops the merge at once.
  std::vector<SourceFacts> facts;
  for (size_t i = 0; i < request.sources.size(); ++i) {
    ConversionState s;
    SourceCheck check = CheckSource(s, caps, request.sources[i], host, nullptr, ShownName(request, i));
    if (!check.accepted) {
      JobResult result;
      result.source = check.facts;
      return result;
    }
    if (target.targetPath != "-" && (target.targetPath == request.sources[i] ||
                                     SameFile(target.targetPath, request.sources[i])))
      return Refused(Outcome::SameFile, host, "Destination cannot be one of the sources.");
    if (!facts.empty() && check.topology != facts.front().topology)
      return Refused(Outcome::NoWriter, host,
                     ShownName(request, 0) + " (" + TopologyName(facts.front().topology) + ") and " +
                         ShownName(request, i) + " (" + TopologyName(check.topology) +
                         ") would mix link types in one " + AnalyzerName(target.target) +
                         " file, which holds one.");
    facts.push_back(check.facts);
  }

  const FormatDescriptor* writer = WriterFormat(target.target);
  const bool fcsUnused = writer && writer->has(Capability::DropsEthernetFcs);
  const size_t most = request.mostAtOnce ? std::max<size_t>(2, request.mostAtOnce) : kMostMergedAtOnce;
  // The target is written as a conversion of the first source would be,
  // its frames coming from the merge.
  JobRequest job = target;
  SourceFacts merged = facts.front();
  for (const SourceFacts& f : facts) {
    if (f.analyzer != merged.analyzer) merged.analyzer = Analyzer::Unknown;
    if (&f != &facts.front()) merged.fileSize += f.fileSize;
  }
  merged.frameCount = 0;
  job.sourcePath = merged.path;
  job.sourceName = ShownName(request, 0);
  job.checkedSource = merged;

  SourcesRead read;
  JobResult written;
  if (request.sources.size() <= most) {
    // Every source read at once, straight into the target.
    SourceGroup group(request, 0, request.sources.size(), caps, fcsUnused);
    std::vector<QueueReader> readers;
    for (FrameQueue* queue : group.queues()) readers.emplace_back(*queue);
    RunMerger<QueueReader> merger(std::move(readers));
    // Each reader has given its first frames or ended: its resolution is known.
    bool nanoseconds = false;
    for (const SourceReader& r : group.readers()) nanoseconds = nanoseconds || r.nanoseconds;
    std::vector<std::string> names;
    for (size_t i = 0; i < request.sources.size(); ++i) names.push_back(ShownName(request, i));
    MergedFrameReader<RunMerger<QueueReader>> reader(merger, nanoseconds, std::move(names));
    job.customReader = reader.asReader();
    written = RunConversionJob(job, caps, host);
    Gather(group.join(), host, read);
  } else {
    // Groups of sources merged into runs of a spool, the runs merged in
    // rounds, the last round into the target.
    auto spool = std::make_unique<SpoolFile>();
    if (!spool->open()) return Refused(Outcome::WriteFailed, host, spool->errorText());
    std::vector<Run> runs;
    std::vector<std::string> names;
    std::string error;
    for (size_t first = 0; first < request.sources.size() && error.empty() && !read.stopped;
         first += most) {
      const size_t count = std::min(most, request.sources.size() - first);
      SourceGroup group(request, first, count, caps, fcsUnused);
      std::vector<QueueReader> readers;
      for (FrameQueue* queue : group.queues()) readers.emplace_back(*queue);
      RunMerger<QueueReader> merger(std::move(readers));
      bool stopped = false;
      MergeIntoSpool(merger, count, *spool, runs, host, stopped, error);
      Gather(group.join(), host, read);
      read.stopped = read.stopped || stopped;
      names.push_back("the sources " + ShownName(request, first) + " to " +
                      ShownName(request, first + count - 1));
    }
    if (error.empty() && !read.stopped) MergeInRounds(spool, runs, most, host, read.stopped, error);
    if (!error.empty()) {
      host.failure("File Error", "Unable to merge the traces.", error, MessageIcon::Error);
      written.outcome = Outcome::WriteFailed;
      written.failureDetail = error;
      return written;
    }
    if (read.stopped) {
      written.outcome = Outcome::Stopped;
      return written;
    }
    std::vector<RunReader> readers;
    for (const Run& run : runs) readers.emplace_back(spool->fd(), run);
    if (runs.size() != names.size()) names.assign(runs.size(), "the sources");
    RunMerger<RunReader> merger(std::move(readers));
    MergedFrameReader<RunMerger<RunReader>> reader(merger, read.nanoseconds, std::move(names));
    job.customReader = reader.asReader();
    written = RunConversionJob(job, caps, host);
  }
  written.framesRead = int32_t(std::min<int64_t>(read.frames, INT32_MAX));
  written.skipped = read.skipped;
  // A source read only in part is a read error of the merge, whatever the target.
  const std::string& sourceFailure =
      !read.readFailure.empty() ? read.readFailure : read.skipped.firstReason;
  if (!sourceFailure.empty() &&
      (written.outcome == Outcome::Converted || written.outcome == Outcome::BadCompression ||
       written.outcome == Outcome::NoFrames)) {
    written.outcome = Outcome::ReadError;
    written.failureDetail = sourceFailure;
  }
  return written;
}

}  // namespace morph
