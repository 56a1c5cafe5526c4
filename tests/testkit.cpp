#include "tests/testkit.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/checksum.h"
#include "engine/failure.h"
#include "engine/identify.h"
#include "engine/job.h"
#include "engine/timebase.h"

namespace morph::testkit {

Frame MakeFrame(int64_t time, int32_t length, Topology topology, uint8_t seed) {
  Frame f;
  f.time = time;
  f.frameLength = length;
  f.bytes.resize(size_t(length));
  for (int32_t i = 0; i < length; ++i) f.bytes[size_t(i)] = uint8_t(seed * 31 + i * 7);
  if (topology == Topo::Ethernet && length >= 64) {
    f.bytes[12] = 0x08;  // IPv4
    f.bytes[13] = 0x00;
    uint32_t fcs = FrameCrc32(f.bytes.data(), length - 4);
    for (int k = 0; k < 4; ++k) f.bytes[size_t(length - 4 + k)] = uint8_t(fcs >> (8 * k));
  }
  if (topology == Topo::Wireless && length >= 24) {
    f.bytes[0] = 0x08;
    f.bytes[1] = 0x00;
  }
  return f;
}

Trace MakeTrace(Topology topology, int count, int64_t startTime, int64_t step) {
  static const int32_t kSizes[] = {64, 580, 1518, 64, 1000, 128};
  Trace t;
  t.topology = topology;
  for (int i = 0; i < count; ++i)
    t.frames.push_back(MakeFrame(startTime + i * step, kSizes[i % 6], topology, uint8_t(i)));
  return t;
}

void PutFrame(ConversionState& s, const Frame& f) {
  s.frame.frameFlags = f.flags;
  s.frame.frameTime = f.time;
  s.frame.frameLength = f.frameLength;
  s.frame.storedLength = int32_t(f.bytes.size());
  std::copy(f.bytes.begin(), f.bytes.end(), s.frame.frameData.begin());
  s.frame.wirelessDataRate = f.rate;
  s.frame.wirelessChannel = f.channel;
  s.frame.wirelessSignal = f.signal;
  s.frame.wirelessNoise = f.noise;
  s.frame.wirelessFcsBytes = f.wirelessFcsBytes;
}

Frame FrameFromState(const ConversionState& s) {
  Frame f;
  f.time = WriterFrameTime(s);  // as a writer takes it, in the target's zone
  f.frameLength = s.frame.frameLength;
  f.bytes.assign(s.frame.frameData.begin(), s.frame.frameData.begin() + s.frame.storedLength);
  f.flags = s.frame.frameFlags;
  f.rate = s.frame.wirelessDataRate;
  f.channel = s.frame.wirelessChannel;
  f.signal = s.frame.wirelessSignal;
  f.noise = s.frame.wirelessNoise;
  return f;
}

ConversionState WriteTrace(const Trace& trace, AnalyzerType target, const std::string& path,
                           const std::function<void(ConversionState&)>& setup) {
  MessageRecorder host;
  Conversion c(host);
  ConversionState& s = c.state;
  s.sourceAnalyzer = Analyzer::AnyAnalyzer;
  s.targetAnalyzer = target;
  s.traceTopology = trace.topology;
  s.wanProtocol = trace.wanProtocol;
  s.targetFileName = path;
  if (setup) setup(s);
  const double traceDate = trace.traceDate != 0 ? trace.traceDate : EncodeDate(2024, 3, 15);
  size_t next = 0;
  c.customReader.open = [&](Conversion& conv) {
    conv.state.time.traceDate = traceDate;
    ComputeTimeZoneBias(conv.state, false);
  };
  c.customReader.next = [&](Conversion& conv) {
    if (next < trace.frames.size()) {
      PutFrame(conv.state, trace.frames[next++]);
      return ReadStatus::Record;
    }
    if (trace.readError.empty()) return ReadStatus::End;
    FailRead(conv.state, trace.readError);
    return ReadStatus::Failed;
  };
  if (!WriterOwnsTarget(target)) {
    c.target = CreateFileTarget(path);
    EXPECT_TRUE(c.target) << "cannot create " << path;
  }
  c.ConvertTrace(false, 0);
  // A lowered offset limit is there to be reached, with its message; so is
  // the time a target's file covers by a trace that lasts longer.
  const FormatDescriptor* writer = WriterFormat(target);
  const int64_t span = writer ? writer->limits.largestSpanMicroseconds : 0;
  const bool limitLowered =
      s.options.targetOffsetLimit != ConversionState().options.targetOffsetLimit || s.options.targetFrameLimit != 0 ||
      (span > 0 && !trace.frames.empty() &&
       trace.frames.back().time - trace.frames.front().time > span);
  EXPECT_TRUE(host.messages.empty() || limitLowered || !trace.readError.empty())
      << host.messages.front();
  return s;
}

ConversionState ConvertFromFeed(AnalyzerType target, Topology topology, const std::string& path,
                                const FrameFeed& feed, std::vector<std::string>* messages) {
  MessageRecorder host;
  Conversion c(host);
  c.state.sourceAnalyzer = Analyzer::AnyAnalyzer;
  c.state.targetAnalyzer = target;
  c.state.traceTopology = topology;
  c.state.targetFileName = path;
  size_t next = 0;
  c.customReader.next = [&](Conversion& conv) {
    return feed(conv.state, next++) ? ReadStatus::Record : ReadStatus::End;
  };
  c.target = CreateFileTarget(path);
  c.ConvertTrace(false, 0);
  if (messages) *messages = host.messages;
  return c.state;
}

Outcome ConvertByJob(const std::string& source, const std::string& target, AnalyzerType type,
                     const CapabilitySets& caps) {
  SilentHost host;
  JobRequest job;
  job.sourcePath = source;
  job.targetPath = target;
  job.target = type;
  job.overwrite = true;
  return RunConversionJob(job, caps, host).outcome;
}

namespace {

ReadResult ReadIdentified(const std::string& path, AnalyzerType analyzer, Topology topology,
                          const std::function<void(ConversionState&)>& setup,
                          ConversionState* identified) {
  ReadResult r;
  MessageRecorder host;
  Conversion c(host);
  ConversionState& s = c.state;
  if (identified) s = *identified;
  s.sourceFileName = path;
  r.analyzer = s.sourceAnalyzer = analyzer;
  r.topology = s.traceTopology = topology;
  r.trace.topology = topology;
  s.targetAnalyzer = Analyzer::AnyAnalyzer;
  if (setup) setup(s);
  c.frameObserver = [&](Conversion& conv) { r.trace.frames.push_back(FrameFromState(conv.state)); };
  c.ConvertTrace(false, 0);
  r.trace.wanProtocol = s.wanProtocol;
  r.trace.traceDate = std::floor(s.time.traceDate);
  r.messages = host.messages;
  r.state = s;
  return r;
}

}  // namespace

ReadResult ReadTrace(const std::string& path, const std::function<void(ConversionState&)>& setup) {
  ConversionState s;
  bool openFailed = false, tooSmall = false;
  s.sourceFileName = path;
  AnalyzerType analyzer = IdentifySource(s, path, openFailed, tooSmall);
  if (analyzer == Analyzer::Unknown) return ReadResult{};
  Topology topology = DetermineTopology(s, analyzer, path, openFailed);
  return ReadIdentified(path, analyzer, topology, setup, &s);
}

ReadResult ReadTraceAs(const std::string& path, AnalyzerType analyzer, Topology topology,
                       const std::function<void(ConversionState&)>& setup) {
  return ReadIdentified(path, analyzer, topology, setup, nullptr);
}

int ExpectSameFrames(const Trace& expected, const Trace& actual, const Tolerance& tol) {
  int mismatches = 0;
  EXPECT_EQ(expected.frames.size(), actual.frames.size());
  size_t n = std::min(expected.frames.size(), actual.frames.size());
  for (size_t i = 0; i < n && mismatches < 5; ++i) {
    const Frame& e = expected.frames[i];
    const Frame& a = actual.frames[i];
    bool ok = true;
    if (std::llabs(e.time - a.time) > tol.timeMicros) {
      ADD_FAILURE() << "frame " << i + 1 << " time " << a.time << " expected " << e.time;
      ok = false;
    }
    if (e.frameLength != a.frameLength) {
      ADD_FAILURE() << "frame " << i + 1 << " length " << a.frameLength << " expected "
                    << e.frameLength;
      ok = false;
    }
    size_t compare = e.bytes.size();
    if (tol.ignoreFcsBytes && e.bytes.size() == size_t(e.frameLength) && compare >= 4) compare -= 4;
    if (a.bytes.size() != e.bytes.size() ||
        !std::equal(e.bytes.begin(), e.bytes.begin() + long(compare), a.bytes.begin())) {
      ADD_FAILURE() << "frame " << i + 1 << " bytes differ (stored " << a.bytes.size()
                    << " expected " << e.bytes.size() << ")";
      ok = false;
    }
    if (tol.compareFlags && e.flags != a.flags) {
      ADD_FAILURE() << "frame " << i + 1 << " flags " << a.flags << " expected " << e.flags;
      ok = false;
    }
    if (tol.compareWireless && (e.rate != a.rate || e.channel != a.channel ||
                                e.signal != a.signal || e.noise != a.noise)) {
      ADD_FAILURE() << "frame " << i + 1 << " wireless media bytes differ";
      ok = false;
    }
    if (!ok) ++mismatches;
  }
  return mismatches;
}

int ExpectFrames(const std::vector<Frame>& expected, const Trace& actual, const Tolerance& tol) {
  Trace trace;
  trace.frames = expected;
  return ExpectSameFrames(trace, actual, tol);
}

Frame FrameOf(int64_t time, int32_t length, std::vector<uint8_t> bytes, uint16_t flags) {
  Frame f;
  f.time = time;
  f.frameLength = length;
  f.bytes = std::move(bytes);
  f.flags = flags;
  return f;
}

std::vector<uint8_t> WithFcs(std::vector<uint8_t> bytes) {
  const uint32_t fcs = FrameCrc32(bytes.data(), int32_t(bytes.size()));
  for (int k = 0; k < 4; ++k) bytes.push_back(uint8_t(fcs >> (8 * k)));
  return bytes;
}

int64_t AbsoluteMicros(const ConversionState& s, int64_t frameTime) {
  return (DaysFrom1970(s.time.traceDate) * 86400 + s.time.timeZoneBias) * 1000000 + frameTime;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/morphalite-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  dir_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (std::getenv("MORPHALITE_KEEP_TEMP")) return;  // for looking at a failing test's files
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteGzipFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  gzFile gz = gzopen(path.c_str(), "wb");
  ASSERT_NE(gz, nullptr) << path;
  ASSERT_EQ(gzwrite(gz, bytes.data(), unsigned(bytes.size())), int(bytes.size()));
  gzclose(gz);
}

std::vector<uint8_t> Noise(size_t n) {
  std::vector<uint8_t> d(n);
  uint32_t x = 12345;
  for (uint8_t& b : d) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
  return d;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  TempDir dir;
  std::string full = command + " >" + dir.path("out") + " 2>" + dir.path("err") + " </dev/null";
  int raw = std::system(full.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto text = [](const std::string& p) {
    auto b = ReadFileBytes(p);
    return std::string(b.begin(), b.end());
  };
  r.out = text(dir.path("out"));
  r.err = text(dir.path("err"));
  return r;
}

std::vector<TsharkFrame> TsharkFrames(const std::string& path) {
  CommandResult r = RunCommand("tshark -r '" + path +
                               "' -T fields -e frame.time_epoch -e frame.len -e frame.cap_len");
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<TsharkFrame> frames;
  std::istringstream in(r.out);
  for (TsharkFrame f; in >> f.epoch >> f.length >> f.captured;) frames.push_back(f);
  return frames;
}

std::string TsharkFrameText(const std::string& path) {
  return RunCommand("tshark -r '" + path +
                    "' -T fields -e frame.time_epoch -e frame.len -e frame.cap_len -e "
                    "frame.md5_hash 2>/dev/null")
      .out;
}

void ExpectSameTsharkFrames(const std::vector<TsharkFrame>& expected,
                            const std::vector<TsharkFrame>& actual, double seconds) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(expected[i].epoch, actual[i].epoch, seconds) << "frame " << i + 1;
    EXPECT_EQ(expected[i].length, actual[i].length) << "frame " << i + 1;
    EXPECT_EQ(expected[i].captured, actual[i].captured) << "frame " << i + 1;
  }
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  const char* old = std::getenv("TZ");
  hadPrevious_ = old != nullptr;
  if (old) previous_ = old;
  setenv("TZ", tz.c_str(), 1);
  ReloadMachineTimeZone();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (hadPrevious_) setenv("TZ", previous_.c_str(), 1);
  else unsetenv("TZ");
  ReloadMachineTimeZone();
}

ReadResult ReadTraceFrom(const std::vector<uint8_t>& bytes, const std::string& name) {
  TempDir dir;
  WriteFileBytes(dir.path(name), bytes);
  return ReadTrace(dir.path(name));
}

ReadResult ReadTraceFromAs(const std::vector<uint8_t>& bytes, const std::string& name,
                           AnalyzerType analyzer, Topology topology,
                           const std::function<void(ConversionState&)>& setup) {
  TempDir dir;
  WriteFileBytes(dir.path(name), bytes);
  return ReadTraceAs(dir.path(name), analyzer, topology, setup);
}

int YearMonthDay(double date) {
  int year, month, day;
  DecodeDate(date, year, month, day);
  return year * 10000 + month * 100 + day;
}

bool HasReadErrorMessage(const ReadResult& r) {
  for (const std::string& m : r.messages)
    if (m.rfind("File Error: Error reading from source file.", 0) == 0) return true;
  return false;
}

void ExpectEveryCut(const std::vector<uint8_t>& file, const std::vector<size_t>& recordEnds,
                    const std::vector<size_t>& clean,
                    const std::function<ReadResult(const std::vector<uint8_t>&)>& read) {
  for (size_t cut = 0; cut < file.size(); ++cut) {
    const ReadResult r = read({file.begin(), file.begin() + long(cut)});
    const auto whole = std::count_if(recordEnds.begin(), recordEnds.end(),
                                     [&](size_t end) { return end <= cut; });
    EXPECT_EQ(r.trace.frames.size(), size_t(whole)) << "cut at " << cut;
    const bool atClean = std::find(clean.begin(), clean.end(), cut) != clean.end();
    EXPECT_EQ(r.state.status.readError, !atClean) << "cut at " << cut;
    EXPECT_EQ(HasReadErrorMessage(r), r.state.status.readError) << "cut at " << cut;
    EXPECT_EQ(r.state.status.readErrorDetail.empty(), !r.state.status.readError) << "cut at " << cut;
  }
}

Bytes& Bytes::put(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  if (!patchAt_) {
    v.insert(v.end(), b, b + n);
    return *this;
  }
  const size_t at = *patchAt_;
  if (at > v.size()) v.resize(at, 0);
  const size_t overlap = std::min(n, v.size() - at);
  std::copy(b, b + overlap, v.begin() + long(at));
  v.insert(v.end(), b + overlap, b + n);
  patchAt_ = at + n;
  return *this;
}

void ExpectFields(const std::vector<uint8_t>& bytes, const std::vector<Field>& fields, bool big,
                  size_t base) {
  for (const Field& field : fields) {
    const size_t at = base + field.at;
    if (at + field.width > bytes.size()) {
      ADD_FAILURE() << "field at offset " << at << " lies past the end (" << bytes.size() << ")";
      continue;
    }
    uint64_t value = 0;
    for (size_t k = 0; k < field.width; ++k) {
      const size_t byte = big ? k : field.width - 1 - k;
      value = value << 8 | bytes[at + byte];
    }
    EXPECT_EQ(value, field.value) << "field of " << int(field.width) << " bytes at offset " << at;
  }
}

void ExpectBytesAt(const std::vector<uint8_t>& bytes, size_t at,
                   const std::vector<uint8_t>& expected) {
  ASSERT_LE(at + expected.size(), bytes.size()) << "bytes at offset " << at;
  const auto from = bytes.begin() + long(at);
  EXPECT_EQ(std::vector<uint8_t>(from, from + long(expected.size())), expected)
      << "bytes at offset " << at;
}

void ExpectZeros(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  ASSERT_LE(to, bytes.size());
  for (size_t i = from; i < to; ++i) EXPECT_EQ(bytes[i], 0) << "byte at offset " << i;
}

Bytes& Bytes::pattern(size_t n, uint8_t seed, uint8_t step) { return data(Pattern(n, seed, step)); }

std::vector<uint8_t> Pattern(size_t n, uint8_t seed, uint8_t step) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = uint8_t(seed + i * step);
  return d;
}

}  // namespace morph::testkit
