// Morphalite as a library: identify a network-analyzer trace file, read its
// frames, convert it to another format, list the formats. The only header an
// outside program includes; link the CMake target Morphalite::core.
//
// Every call is safe from several threads at once (each works on its own
// files). Statuses are the exit statuses of the command line
// (Status below); reports are those `morphalite identify --json` and
// `morphalite convert --json` print, as JSON text and in the fields beside it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morphalite {

// The library's version, as `morphalite --version` prints it.
std::string Version();

// The command line's exit statuses.
enum Status : int {
  Ok = 0,
  Usage = 1,           // bad options, unknown target, target not offered for the source
  SourceRefused = 2,   // not a trace file, unreadable, missing, unsupported
  ReadError = 3,       // the source could not be read to its end
  WriteFailed = 4,     // the target could not be created or written, or a field of it is full
  NoFrames = 5,        // nothing was written
  Stopped = 6,         // stopped; the target holds the frames so far
  BadCompression = 7,  // converted, but compressed Sniffer data went bad
  WouldLoseData = 8,   // --strict: the target could not hold everything; not kept
};

// ---- Formats ----

struct Format {
  std::string code;                // the two-letter code of --to, empty for a few writers
  std::string name;                // the analyzer's display name
  std::vector<std::string> names;  // friendly names --to takes
  std::string suffix;              // the default suffix of its files
  bool read = false, write = false;
};
// Every format this build reads or writes, in the order of `morphalite --formats`.
std::vector<Format> Formats();

// ---- Identification ----

struct Identification {
  Status status = SourceRefused;  // Ok or SourceRefused
  // Accepted: "Sniffer DOS (NAI)", "Ethernet", the stated frame count (0: none)...
  std::string analyzer, interface;
  int64_t fileSize = 0;
  int32_t frames = 0;
  // Refused: "Caption: text" as the command line shows it, and the reason
  // behind it (the system's error with the path), empty when there is none.
  std::string message, detail;
  std::string json;  // the object `morphalite identify --json FILE` prints
};
Identification Identify(const std::string& path);

// ---- Frames ----

// Frame flags, as the formats state them.
namespace FrameFlag {
constexpr uint32_t Direction1 = 0x0001, Direction2 = 0x0002, AlignmentError = 0x4000,
                   CrcError = 0x8000;
}

// One frame as a libpcap or pcapng target would receive it: the bytes
// without the Ethernet FCS, short Ethernet frames padded to 60 bytes.
struct Frame {
  int64_t timeNs = 0;        // UTC nanoseconds since 1970
  uint32_t wireLength = 0;   // length on the wire
  std::span<const uint8_t> data;  // the bytes stored, at most wireLength
  uint32_t linkType = 0;     // libpcap/pcapng link type (1 Ethernet, 105 802.11...)
  int32_t interface = 0;     // from 0
  uint32_t flags = 0;        // FrameFlag bits
};

struct ReadOptions {
  bool salvage = false;         // pass over damage as `convert --salvage` does
  std::string sourceZone;       // --source-tz: zone of a source's local times; empty: this machine's
  // FrameReader: frames handed over at once (also at most 256 KB of them).
  // Small batches stay in the caches and reuse the memory of the one before.
  size_t batchFrames = 256;
};

// How a reading ended.
struct ReadReport {
  Status status = SourceRefused;  // Ok when read to its end
  int64_t frames = 0;
  std::string message, detail;    // why it ended early ("Caption: text", the reason)
  int64_t skippedBytes = 0, skippedRecords = 0;  // what salvage passed over
};

// Calls `onFrame` for each frame in file order; the frame's bytes are valid
// during the call only. Returning false stops the reading (status Stopped).
// An exception thrown by `onFrame` ends the reading and reaches the caller.
ReadReport ReadFrames(const std::string& path, const std::function<bool(const Frame&)>& onFrame,
                      const ReadOptions& options = {});

// The same, pulled: reads ahead on a thread of its own, batchFrames at a
// time. Destroying the reader stops the reading.
class FrameReader {
 public:
  explicit FrameReader(const std::string& path, const ReadOptions& options = {});
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  // The next frames in file order, empty at the end; valid until the next
  // call. Waits for the reading thread when it has none ready.
  std::span<const Frame> next();
  // Once next() gave nothing: how the reading ended.
  const ReadReport& report() const;

 private:
  struct Shared;
  std::unique_ptr<Shared> shared_;
};

// ---- Conversion ----

// An option of `morphalite convert` by its long name without the dashes and
// its value, empty for a flag: {"range", "1-100"}, {"salvage", ""},
// {"pcap-order", "little"}. Every option of the command line is taken, with
// its checks, but those of the console (json, quiet, jobs, help).
struct Option {
  std::string name, value;
};

struct ConversionReport {
  Status status = Usage;
  // Set when the options were refused before anything started (status Usage).
  std::string usageError;
  std::string target;  // the file written (empty when none was)
  int64_t framesRead = 0, framesWritten = 0;
  uint64_t bytes = 0;
  int64_t skippedBytes = 0, skippedRecords = 0;  // what salvage passed over
  std::vector<std::string> messages;  // "Caption: text", as the command line shows them
  std::string detail;                 // the reason behind a failure: record, offset, system error
  // The object `morphalite convert --json` prints for the source (empty
  // when the options were refused): every field above and the losses.
  std::string json;
};

// Converts `source` to the format `to` (a code or name, as --to takes),
// into `output` (a file or a directory; empty: beside the source). An
// existing target is replaced once the new one is complete, unless the
// option no-clobber is given. Nothing is printed.
ConversionReport Convert(const std::string& source, const std::string& to,
                         const std::string& output, const std::vector<Option>& options = {});

}  // namespace morphalite
