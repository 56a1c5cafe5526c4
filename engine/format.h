// How a format family describes itself to the engine: the analyzer types it
// reads and writes, friendly names, suffixes, capabilities, its
// identification rules and topology hook, and its reader and writer steps.
// Each family defines one descriptor in its own file; formats/registry.cpp
// lists them. The engine reaches a format only through its descriptor.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/types.h"

namespace morph {

class Conversion;
class SourceStream;
class FileBlock;
struct ConversionState;

// Reader steps: the header, then the frame loop (a single frame in probe
// mode). The driver clears ReadError and EndOfSource before each.
using ReadHeaderFn = void (*)(Conversion&);
using ReadFramesFn = void (*)(Conversion&, bool singleFrame);
// Writer steps: header at the first accepted frame (given its number), one
// call per frame to write, and the finishing step with the frames written.
using WriteHeaderFn = void (*)(Conversion&, int32_t frameNumber);
using WriteFrameFn = void (*)(Conversion&);
using FinishFn = void (*)(Conversion&, int32_t framesWritten);

// A set of analyzer types, one bit per type.
using AnalyzerMask = uint64_t;
constexpr AnalyzerMask MaskOf(std::initializer_list<AnalyzerType> types) {
  AnalyzerMask mask = 0;
  for (AnalyzerType t : types) mask |= AnalyzerMask(1) << unsigned(t);
  return mask;
}
constexpr bool InMask(AnalyzerMask mask, AnalyzerType t) {
  return (mask >> unsigned(t)) & 1;
}

// What an identification rule sees, and what it may learn.
struct IdentifyInput {
  SourceStream& in;              // the source file as stored (plain bytes)
  const FileBlock& head;         // its first 200 bytes (fewer for a short file)
  const std::string& path;       // as given
  const std::string& upperPath;  // in upper case, for the suffix tests
  int64_t fileSize;
  bool& compressed;              // set when the source is read through a decompressor
  uint32_t& variant;             // format-defined bits handed to the reader
  bool& openFailed;              // an I/O error while looking
};
// The analyzer a rule recognises, or nothing to let the next rule try.
using IdentifyFn = std::optional<AnalyzerType> (*)(IdentifyInput&);

struct IdentifyRule {
  const char* name;  // the name the engine's ordered rule table uses
  IdentifyFn match;
};

// What a run of the source's reader over its header and first frame learnt.
struct ProbeResult {
  bool ran = false;        // the source has a reader
  bool delivered = false;  // a first frame came out
  Topology topology = Topo::Unknown;
  uint32_t wanProtocol = Wan::NotKnown;
  bool noFrames = false;
  int32_t frameCount = 0;
  std::vector<uint8_t> firstBytes;  // up to 2 bytes of the first frame
};

// What a topology hook sees and learns.
struct TopologyInput {
  ConversionState& s;  // identity fields in; WanProtocol, FileComment, SourceFrameCount out
  AnalyzerType type;
  const std::string& fileName;
  SourceStream& in;      // the source file as stored
  const FileBlock& head;  // its first 140 bytes
  uint32_t& speed;       // the line speed the file states, 0 if none
};
using TopologyFn = Topology (*)(TopologyInput&);

// A name users may give for a type on the command line, any letter case
// ("pcap", "netmon2").
struct FriendlyName {
  AnalyzerType type;
  const char* name;
};

// Capability flags of a family.
namespace Capability {
constexpr uint32_t GzipSource = 1u << 0;        // a compressed source is read through gzip
constexpr uint32_t DropsEthernetFcs = 1u << 1;  // the writer never stores an Ethernet FCS
constexpr uint32_t KeepsIndex = 1u << 2;        // the writer keeps an entry per frame in memory
constexpr uint32_t OptionsDialog = 1u << 3;     // the target has a settings dialog
constexpr uint32_t OwnSource = 1u << 4;         // the reader opens its source itself
constexpr uint32_t StreamTarget = 1u << 5;      // the writer never seeks back (pipes)
constexpr uint32_t SkipsTinyFrames = 1u << 6;   // frames of 4 bytes or less are not written
constexpr uint32_t OwnTarget = 1u << 7;         // the writer creates its target itself
// Frames are stored at their captured length, however short: a copy between
// two such families keeps short Ethernet frames unpadded.
constexpr uint32_t UnpaddedFrames = 1u << 8;
// The writer keeps several interfaces of any link types, with their frames'
// flags and comments.
constexpr uint32_t SeveralInterfaces = 1u << 9;
// Frames made 802.11 are stored with an 802.11 FCS.
constexpr uint32_t KeepsWirelessFcs = 1u << 10;
// The format stores times of day only: its files are dated by their
// modification time, which a written target is given (its first frame's).
constexpr uint32_t DatedByFileTime = 1u << 11;
// Its files are recognised by their suffix alone: written under another
// one, they are read back only when the format is named (--from).
constexpr uint32_t KnownBySuffix = 1u << 12;
}  // namespace Capability

// What a writer's files can hold of a frame. The pipeline compares every
// frame with these and counts what does not fit (ConversionState::Lost):
// lengths beyond the fields are cut to them there, before the writer sees
// the frame. Lengths are as the file states them: where the writer drops the
// Ethernet FCS (Capability::DropsEthernetFcs) a whole frame may carry 4
// bytes more through the pipeline.
struct TargetLimits {
  int32_t largestStored = MaxFrameBytes;  // frame bytes a record holds
  int32_t largestWire = MaxFrameBytes;    // wire length a record states
  bool keepsWireLength = true;  // a record states the wire length beside its bytes
  int32_t timeUnitNanoseconds = 1000;  // the finest time step a record states
  bool keepsDate = true;        // false: times of day only
  uint16_t keptFlags = 0;       // the frame flags (Flag::) a record states
  bool keepsComments = false;   // frame comments
  bool keepsUntimedFrames = false;  // frames without a time stay so
  bool severalInterfaces = false;   // frames of several interfaces, each its own
  // The time one file covers (0: no limit), counted from its first frame's
  // time rounded down to a multiple of spanCountedFromMicroseconds (its
  // second, its midnight): what the records' time field reaches.
  int64_t largestSpanMicroseconds = 0;
  int64_t spanCountedFromMicroseconds = 1;
};

struct FormatDescriptor {
  const char* family;           // e.g. "libpcap"
  AnalyzerMask reads = 0;       // analyzer types this family reads
  AnalyzerMask writes = 0;      // analyzer types this family writes
  AnalyzerMask recognises = 0;  // types whose files it identifies without reading them
  std::span<const FriendlyName> aliases = {};  // names users may give for its types
  const char* sourcePatterns = "";  // open-dialog patterns, e.g. "*.dmp;*.pcap"
  uint32_t capabilities = 0;
  // Default suffix where it depends on the topology; nullptr, or a null
  // result, leaves the catalogue's suffix.
  const char* (*suffix)(AnalyzerType, Topology) = nullptr;
  std::span<const IdentifyRule> identify = {};
  TopologyFn topology = nullptr;
  // For a file of the family whose topology could not be told: the message
  // that refuses it when its layout is one this build does not read (given
  // the file's path and name), or "" for the general refusal.
  std::string (*unreadLayout)(const std::string& path, const std::string& name) = nullptr;
  // Display name of a source when the variant or compression changes it;
  // nullptr: the catalogue name with " (compressed)" when compressed.
  std::string (*sourceName)(AnalyzerType, uint32_t variant, bool compressed) = nullptr;
  ReadHeaderFn readHeader = nullptr;  // null: nothing to do before the frames
  ReadFramesFn readFrames = nullptr;  // null: the family has no reader
  WriteHeaderFn writeHeader = nullptr;
  WriteFrameFn writeFrame = nullptr;
  FinishFn finish = nullptr;
  int32_t maxFrames = 0;  // frames a target of this family can hold; 0 = no limit
  TargetLimits limits = {};  // what its files hold of a frame
  // The size of the family's smallest file (a header alone) when that is
  // below the size every file must have to be looked at; 0 otherwise.
  int64_t smallestFile = 0;

  bool has(uint32_t capability) const { return (capabilities & capability) != 0; }
};

// Every family, as formats/registry.cpp lists them.
std::span<const FormatDescriptor* const> RegisteredFormats();

// The family that reads / writes an analyzer type, or nullptr.
const FormatDescriptor* ReaderFormat(AnalyzerType type);
const FormatDescriptor* WriterFormat(AnalyzerType type);
// Whether the writer of a type creates its target itself (no stream is opened for it).
bool WriterOwnsTarget(AnalyzerType type);
// The identification rule of this name, or nullptr; `family`, when given, is
// set to the family that holds it.
const IdentifyRule* FindIdentifyRule(const char* name, const FormatDescriptor** family = nullptr);
// The family that determines the topology of an analyzer's files: one that
// reads or recognises the type and has a topology hook.
const FormatDescriptor* TopologyFormat(AnalyzerType type);

}  // namespace morph
