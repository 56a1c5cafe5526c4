// Test kit: build a trace in memory, write it through any writer, read any
// file back through its reader, and compare frame by frame.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/job.h"
#include "engine/state.h"
#include "engine/types.h"

namespace morph::testkit {

struct Frame {
  int64_t time = 0;         // frameTime, microseconds since local midnight of the trace date
  int32_t frameLength = 0;  // on the wire (Ethernet: with its FCS)
  std::vector<uint8_t> bytes;  // stored bytes
  uint16_t flags = 0;
  uint8_t rate = 22, channel = 1, signal = 100, noise = 0;
  int32_t wirelessFcsBytes = 0;  // an 802.11 frame's source states it ends in an FCS
};

struct Trace {
  Topology topology = Topo::Ethernet;
  uint32_t wanProtocol = Wan::NotKnown;
  double traceDate = 0;  // local date (days since 1899-12-30); 0: 2024-03-15
  std::vector<Frame> frames;
  std::string readError;  // when set, WriteTrace's source fails so after its frames
};

// A frame of n bytes with a recognisable pattern; Ethernet frames get a valid FCS.
Frame MakeFrame(int64_t time, int32_t length, Topology topology = Topo::Ethernet,
                uint8_t seed = 1);
// A trace of mixed frame sizes.
Trace MakeTrace(Topology topology, int count, int64_t startTime = 3600LL * 1000000,
                int64_t step = 1500);

// Puts a frame into the state as a reader does; takes the frame a reader
// handed on from the state.
void PutFrame(ConversionState& s, const Frame& f);
Frame FrameFromState(const ConversionState& s);

// Writes the trace through the target's writer. `setup` may adjust the state
// (options) before the conversion runs. Returns the final state.
ConversionState WriteTrace(const Trace& trace, AnalyzerType target, const std::string& path,
                           const std::function<void(ConversionState&)>& setup = {});

// Frame `i` (from 0) of a feed: sets the frame fields, or returns false
// after the last frame.
using FrameFeed = std::function<bool(ConversionState&, size_t i)>;
// Converts into `path` through the target's writer, the frames coming from
// `feed` as a reader's records. Returns the final state; the host's messages
// go to `messages`.
ConversionState ConvertFromFeed(AnalyzerType target, Topology topology, const std::string& path,
                                const FrameFeed& feed, std::vector<std::string>* messages = nullptr);

// Converts a file through the whole job (identification and every check of
// the program), overwriting the target; returns the outcome.
Outcome ConvertByJob(const std::string& source, const std::string& target, AnalyzerType type,
                     const CapabilitySets& caps = DefaultCapabilities());

// A host that keeps every message as "Caption: text".
class MessageRecorder : public Host {
 public:
  std::vector<std::string> messages;
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    messages.push_back(caption + ": " + text);
  }
};

// Identifies the file and reads every frame through its reader.
struct ReadResult {
  AnalyzerType analyzer = Analyzer::Unknown;
  Topology topology = Topo::Unknown;
  Trace trace;
  ConversionState state;  // after the read
  std::vector<std::string> messages;  // "Caption: text"
};
ReadResult ReadTrace(const std::string& path,
                     const std::function<void(ConversionState&)>& setup = {});
// Writes the bytes to `name` in a fresh temporary directory, then reads
// them as ReadTrace does, or as ReadTraceAs does.
ReadResult ReadTraceFrom(const std::vector<uint8_t>& bytes, const std::string& name);
ReadResult ReadTraceFromAs(const std::vector<uint8_t>& bytes, const std::string& name,
                           AnalyzerType analyzer, Topology topology,
                           const std::function<void(ConversionState&)>& setup = {});
// Whether the read ended with the read-error message.
bool HasReadErrorMessage(const ReadResult& r);
// Reads every cut of a file through `read`: the frames of the records ending
// at or before the cut come out, and the read fails, with a reason and the
// read-error message, exactly where the cut is not one of `clean`.
void ExpectEveryCut(const std::vector<uint8_t>& file, const std::vector<size_t>& recordEnds,
                    const std::vector<size_t>& clean,
                    const std::function<ReadResult(const std::vector<uint8_t>&)>& read);
// Reads a file through the reader of the given analyzer and topology,
// without identification (for formats whose identification is not there yet).
ReadResult ReadTraceAs(const std::string& path, AnalyzerType analyzer, Topology topology,
                       const std::function<void(ConversionState&)>& setup = {});

struct Tolerance {
  int64_t timeMicros = 0;        // allowed time difference
  bool compareFlags = true;
  bool compareWireless = false;
  bool ignoreFcsBytes = false;   // formats that store no FCS rebuild it
};
// Compares frames as gtest expectations; returns the number of mismatches.
int ExpectSameFrames(const Trace& expected, const Trace& actual, const Tolerance& tolerance = {});
// The same for frames listed one per row: time, wire length, stored bytes, flags.
int ExpectFrames(const std::vector<Frame>& expected, const Trace& actual,
                 const Tolerance& tolerance = {});
Frame FrameOf(int64_t time, int32_t length, std::vector<uint8_t> bytes, uint16_t flags = 0);
// The bytes followed by their Ethernet FCS, as a reader rebuilds it.
std::vector<uint8_t> WithFcs(std::vector<uint8_t> bytes);

// A date (days since 1899-12-30) as the number yyyymmdd.
int YearMonthDay(double date);

// Absolute times of frames in microseconds since 1970 (UTC), from the state
// after a read: comparable across formats that place the day differently.
int64_t AbsoluteMicros(const ConversionState& s, int64_t frameTime);

// A fresh temporary directory for one test; removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// Byte builder for fixtures laid out field by field from a format's tables.
// Fields go in the builder's byte order (little-endian unless `big`); le*/be*
// force one. Fields are appended, unless at(offset) has been given: then they
// overwrite from there on (patching a laid-out file) until end().
struct Bytes {
  std::vector<uint8_t> v;
  bool big = false;

  Bytes() = default;
  explicit Bytes(bool bigEndian) : big(bigEndian) {}

  Bytes& u8(uint8_t x) { return put(&x, 1); }
  Bytes& u16(uint16_t x) { return big ? be16(x) : le16(x); }
  Bytes& u32(uint32_t x) { return big ? be32(x) : le32(x); }
  Bytes& u64(uint64_t x) { return big ? be64(x) : le64(x); }
  Bytes& le16(uint16_t x) { return u8(uint8_t(x)).u8(uint8_t(x >> 8)); }
  Bytes& le32(uint32_t x) { return le16(uint16_t(x)).le16(uint16_t(x >> 16)); }
  Bytes& le64(uint64_t x) { return le32(uint32_t(x)).le32(uint32_t(x >> 32)); }
  Bytes& be16(uint16_t x) { return u8(uint8_t(x >> 8)).u8(uint8_t(x)); }
  Bytes& be32(uint32_t x) { return be16(uint16_t(x >> 16)).be16(uint16_t(x)); }
  Bytes& be64(uint64_t x) { return be32(uint32_t(x >> 32)).be32(uint32_t(x)); }
  Bytes& text(const std::string& t) { return put(t.data(), t.size()); }
  Bytes& data(const std::vector<uint8_t>& d) { return put(d.data(), d.size()); }
  Bytes& zeros(size_t n) { return data(std::vector<uint8_t>(n, 0)); }
  Bytes& pattern(size_t n, uint8_t seed, uint8_t step = 13);
  // Zeros up to the next multiple of n.
  Bytes& align(size_t n) { return zeros((n - where() % n) % n); }
  // Zeros up to offset n (nothing when already there).
  Bytes& padTo(size_t n) { return zeros(n > where() ? n - where() : 0); }
  Bytes& at(size_t offset) {
    patchAt_ = offset;
    return *this;
  }
  Bytes& end() {
    patchAt_.reset();
    return *this;
  }
  // Grows with zeros, or cuts, to n bytes.
  Bytes& resize(size_t n) {
    v.resize(n, 0);
    return *this;
  }
  // Patches a 32-bit field in the builder's order and goes on appending.
  void put32(size_t offset, uint32_t x) { at(offset).u32(x).end(); }
  size_t size() const { return v.size(); }

 private:
  Bytes& put(const void* p, size_t n);
  size_t where() const { return patchAt_.value_or(v.size()); }
  std::optional<size_t> patchAt_;
};

// n bytes counting from seed by step: recognisable in a diff.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed, uint8_t step = 13);

// Fields of a file read back, for byte-exact layout checks.
inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return GetLE16(b.data() + at); }
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return GetLE32(b.data() + at); }
inline uint16_t Be16(const std::vector<uint8_t>& b, size_t at) { return GetBE16(b.data() + at); }
inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) { return GetBE32(b.data() + at); }
inline uint64_t Be64(const std::vector<uint8_t>& b, size_t at) { return GetBE64(b.data() + at); }
inline std::string Text(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return std::string(b.begin() + long(at), b.begin() + long(at + n));
}

// One field of a byte-exact layout check: its offset, width in bytes (1, 2,
// 4 or 8) and the value it must hold.
struct Field {
  size_t at;
  uint8_t width;
  uint64_t value;
};
// Expects every field, in the file's byte order, at `base` + its offset; a
// field past the end of the bytes is a failure too.
void ExpectFields(const std::vector<uint8_t>& bytes, const std::vector<Field>& fields,
                  bool big = false, size_t base = 0);
// Expects `expected` at offset `at`; expects zeros over [from, to).
void ExpectBytesAt(const std::vector<uint8_t>& bytes, size_t at,
                   const std::vector<uint8_t>& expected);
void ExpectZeros(const std::vector<uint8_t>& bytes, size_t from, size_t to);

// The names in a folder, sorted (without "." and "..").
std::vector<std::string> Listing(const std::string& folder);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes the bytes compressed with gzip.
void WriteGzipFile(const std::string& path, const std::vector<uint8_t>& bytes);
// n bytes of a fixed pseudo-random sequence: nothing a format would recognise.
std::vector<uint8_t> Noise(size_t n);

// Runs a command; returns its exit status and captures standard output/error.
struct CommandResult {
  int status = -1;
  std::string out, err;
};
CommandResult RunCommand(const std::string& command);
bool HaveTool(const std::string& name);

// Frames as Debian's tshark reads a file: time, length on the wire, captured length.
struct TsharkFrame {
  double epoch = 0;
  int length = 0, captured = 0;
};
std::vector<TsharkFrame> TsharkFrames(const std::string& path);
// tshark's text of the frames: time, length, captured length and the MD5 of
// the bytes, a line each.
std::string TsharkFrameText(const std::string& path);
// The same frames: lengths, captured lengths, and times within `seconds`.
void ExpectSameTsharkFrames(const std::vector<TsharkFrame>& expected,
                            const std::vector<TsharkFrame>& actual, double seconds);

// Sets TZ for the scope and reloads the time-zone layer.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& tz);
  ~ScopedTimeZone();

 private:
  std::string previous_;
  bool hadPrevious_;
};

}  // namespace morph::testkit
