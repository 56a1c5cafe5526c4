// How a format family describes itself to the engine: the analyzer types it
// stands for (names, codes, suffixes, media), the types it reads and writes,
// friendly names, capabilities, its identification rules with their places in
// the order, its topology hook, reader and writer steps, options dialog and
// progress text. Each family defines one descriptor in its own file;
// formats/registry.cpp lists them. The engine reaches a format only through
// its descriptor.
#pragma once
#include <cstdint>
#include <functional>
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
class FormatOptions;
struct ConversionState;

// Reader steps: `open` reads the header and states the source's facts;
// `next` fills the current frame from the next record, or tells the end, or
// a failure (its reason set through FailRead / FailWrite), or a record that
// carries no frame (counted as one, not passed on). The engine runs the loop
// and keeps every counter; a reader keeps where it is in its context.
enum class ReadStatus { Record, End, Failed, NonData };
using ReadHeaderFn = void (*)(Conversion&);
using NextRecordFn = ReadStatus (*)(Conversion&);
// A reader of the caller's own in place of the source's (merge, tests): its
// header step (optional) and its `next`.
struct CustomReader {
  std::function<void(Conversion&)> open;
  std::function<ReadStatus(Conversion&)> next;
};
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

// A rule and its place among every family's rules: the engine tries them by
// rising `order`, the first that matches deciding. Places are unique; the
// reason for a place is written beside it.
struct IdentifyRule {
  const char* name;
  IdentifyFn match;
  int order;
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
  ConversionState& s;  // identity fields in; wanProtocol, fileComment, sourceFrameCount out
  AnalyzerType type;
  const std::string& fileName;
  SourceStream& in;      // the source file as stored
  const FileBlock& head;  // its first 140 bytes
  uint32_t& speed;       // the line speed the file states, 0 if none
};
using TopologyFn = Topology (*)(TopologyInput&);

// A name users may give for a type on the command line, in any letter case:
// a short name of the type or of its family.
struct FriendlyName {
  AnalyzerType type;
  const char* name;
};

// Capability flags of a family.
namespace Capability {
constexpr uint32_t GzipSource = 1u << 0;        // a compressed source is read through gzip
constexpr uint32_t DropsEthernetFcs = 1u << 1;  // the writer never stores an Ethernet FCS
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

// The media an analyzer type's files carry: sources of these are accepted,
// and the type is offered as a target for them.
namespace Media {
constexpr uint8_t Ethernet = 1u << 0, TokenRing = 1u << 1, Fddi = 1u << 2, Wireless = 1u << 3,
    Wan = 1u << 4;
// Its files state a link type of their own: sources of any link type, and the
// only targets for one that is no medium above.
constexpr uint8_t LinkTypes = 1u << 5;
}  // namespace Media

// How a type is offered beside its media.
namespace Offer {
constexpr uint8_t SourceOnly = 1u << 0;        // read only: never offered as a target
constexpr uint8_t NoEthernetTarget = 1u << 1;  // Ethernet sources read, never written
constexpr uint8_t NoMediaConversion = 1u << 2;  // not offered when the media are converted
constexpr uint8_t HiddenSwitch = 1u << 3;  // Ethernet only once the hidden switch is pressed
constexpr uint8_t NoDefaultName = 1u << 4;  // a live source: no target name derives from it
constexpr uint8_t DefaultTarget = 1u << 5;  // the target of a job that names none (one row)
}  // namespace Offer

// One analyzer type as users see it. Its number is what settings and files
// store: never renumbered.
struct AnalyzerInfo {
  AnalyzerType type;
  const char* name;         // display name
  const char* code = nullptr;  // two-letter command-line code, or nullptr
  const char* suffix = "";  // default file suffix (with its dot), or ""
  uint8_t media = 0;        // Media::
  uint8_t offer = 0;        // Offer::
  // Recognised but never read: why, after the file's name.
  const char* notRead = nullptr;
  // The refusal of a file whose media cannot be told, in place of the
  // general one; such a file is never taken as Ethernet for its line speed.
  const char* unstatedMedia = nullptr;
};

// The settings dialog a target of the family has: the fields of each line,
// or the byte order and record layout.
enum class OptionsDialog : uint8_t { None, LineFields, ByteOrderAndLayout };

// What a writer's files can hold of a frame. The pipeline compares every
// frame with these and counts what does not fit (ConversionState::counters.lost):
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
  const char* family;           // the name messages and tests give it
  // The analyzer types the family stands for, each listed by one family only.
  std::span<const AnalyzerInfo> analyzers = {};
  AnalyzerMask reads = 0;       // analyzer types this family reads
  AnalyzerMask writes = 0;      // analyzer types this family writes
  AnalyzerMask recognises = 0;  // types whose files it identifies without reading them
  std::span<const FriendlyName> aliases = {};  // names users may give for its types
  OptionsDialog optionsDialog = OptionsDialog::None;  // of a target of the family
  // Settles the family's target options for a conversion (in
  // s.options.formatOptions) from those the user gave and the source's
  // facts, before it starts; optional.
  void (*settleOptions)(ConversionState& s) = nullptr;
  // Why the family's options among those given cannot be run, or ""; asked
  // of every family whatever the target. Optional.
  std::string (*optionsProblem)(const FormatOptions&) = nullptr;
  // What the progress display says while the finishing step completes a
  // target (an index, a library's last blocks); nullptr: the general text.
  const char* finishingText = nullptr;
  const char* sourcePatterns = "";  // open-dialog patterns, e.g. "*.trc;*.trc.gz"
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
  NextRecordFn nextRecord = nullptr;  // null: the family has no reader
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
// Every family's identification rules, by rising order.
struct OrderedRule {
  const IdentifyRule* rule;
  const FormatDescriptor* family;
};
std::span<const OrderedRule> IdentificationOrder();
// The identification rule of this name, or nullptr; `family`, when given, is
// set to the family that holds it.
const IdentifyRule* FindIdentifyRule(const char* name, const FormatDescriptor** family = nullptr);
// The family that determines the topology of an analyzer's files: one that
// reads or recognises the type and has a topology hook.
const FormatDescriptor* TopologyFormat(AnalyzerType type);

}  // namespace morph
