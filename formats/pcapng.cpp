// pcapng reader and writer. Blocks are read strictly forward and written
// without going back, so that either end may be a pipe.
#include "formats/pcapng.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/bytes.h"
#include "engine/checksum.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/file_block.h"
#include "engine/format.h"
#include "engine/link_types.h"
#include "engine/salvage.h"
#include "engine/timebase.h"
#include "formats/pcap.h"
#include "formats/record_loop.h"

namespace morph {
namespace {

// Block types.
constexpr uint32_t kInterfaceDescription = 1, kPacket = 2, kSimplePacket = 3,
                   kNameResolution = 4, kInterfaceStatistics = 5, kEnhancedPacket = 6,
                   kDecryptionSecrets = 10;
// Option codes: those of every block, of section headers, interfaces and packets.
constexpr uint16_t kEndOfOptions = 0, kComment = 1, kUserApplication = 4, kPacketFlags = 2,
                   kIfName = 2, kIfDescription = 3, kIfSpeed = 8, kIfTimeResolution = 9,
                   kIfFcsLength = 13, kIfTimeOffset = 14;

constexpr uint32_t kBlockHeadBytes = 8;  // type and total length
constexpr uint32_t kMinimumBlock = 12;   // with the trailing length
constexpr uint32_t kSectionFixedBytes = 16;  // byte-order magic, version, section length
constexpr uint32_t kInterfaceFixedBytes = 8;
constexpr uint32_t kPacketFixedBytes = 20;   // enhanced and obsolete packet blocks
constexpr uint32_t kSimplePacketFixedBytes = 4;
// Far above any block a capture tool writes; bounds what a damaged length costs.
constexpr uint32_t kMaximumBlock = 16u << 20;
constexpr size_t kMaximumInterfaces = 65536;
constexpr uint32_t kMaximumCaptured = MaxRecordBytes;  // the longest record read
constexpr int64_t kLatestSeconds = 253402300799;  // 9999-12-31 23:59:59 UTC
// The latest second whose nanoseconds a 64-bit timestamp holds (2554).
constexpr int64_t kLatestNanosecondSeconds = int64_t(UINT64_MAX / 1000000000) - 1;
// Memory for packets without a time held back until a timed packet dates the trace.
constexpr size_t kMostHeldBytes = 2u << 20;
constexpr size_t kCommentLimit = 300;
constexpr size_t kHeadBytes = 200;  // what identification looks at
constexpr uint8_t kGzipMagic[2] = {0x1F, 0x8B};
constexpr int kSummaryBlocks = 64;  // blocks looked at for the first interface

// Packet flags: direction, FCS length, link-layer errors.
constexpr uint32_t kInbound = 1, kOutbound = 2, kDirectionMask = 3;
constexpr int kFcsLengthShift = 5;
constexpr uint32_t kFcsLengthMask = 0xF;
constexpr uint32_t kCrcErrorBit = 1u << 24, kUnalignedBit = 1u << 28;

constexpr uint32_t kMicrosecondResolution = 6, kNanosecondResolution = 9;
constexpr uint32_t kSnapLength = MaxRecordBytes;  // no frame written is longer
constexpr const char* kProgramName = "Morphalite " MORPHALITE_VERSION;

uint32_t Padded(uint32_t n) { return (n + 3) & ~3u; }

struct Interface {
  uint32_t linkType = 0;
  Topology topology = Topo::Unknown;  // the link type's medium, if it is one
  uint32_t snapLength = 0;
  uint64_t unitsPerSecond = kMicrosPerSecond;
  uint8_t resolution = kMicrosecondResolution;  // as stated
  int64_t offsetSeconds = 0;
  uint32_t fcsLength = 0;  // bytes of FCS that end each frame
  bool fcsStated = false;
  uint64_t speed = 0;
  std::string name, description;
};

// What the rest of the program learns of an interface.
SourceInterface Described(const Interface& i) {
  SourceInterface d;
  d.linkType = i.linkType;
  d.topology = i.topology;
  d.snapLength = i.snapLength;
  d.timeResolution = i.resolution;
  d.fcsLength = i.fcsStated ? int32_t(i.fcsLength) : -1;
  d.speed = i.speed;
  d.name = i.name;
  d.description = i.description;
  return d;
}

// One packet, as any of the three packet blocks gives it; its bytes are in
// the buffer handed to BlockReader::next.
struct Packet {
  uint32_t interface = 0;
  bool timed = false;
  uint64_t timestamp = 0;  // in the interface's units
  uint32_t captured = 0, original = 0;
  uint32_t flags = 0;
  // The first comment, where the block lies: good until the next block is read.
  const uint8_t* comment = nullptr;
  uint16_t commentLength = 0;
};

enum class BlockKind { Section, Interface, Packet, Other, End, Failed };

// Walks the options in [p, p + n), calling visit(code, value, length) for
// each. False, with the reason, when one runs past the end.
template <class Visit>
bool ForEachOption(const uint8_t* p, size_t n, bool big, std::string& error, Visit visit) {
  size_t at = 0;
  while (n - at >= 4) {
    const uint16_t code = Get16(p + at, big), length = Get16(p + at + 2, big);
    if (code == kEndOfOptions) break;
    if (Padded(length) > n - at - 4) {
      error = "option " + Grouped(code) + " of " + Grouped(length) + " bytes runs past its block";
      return false;
    }
    visit(code, p + at + 4, length);
    at += 4 + Padded(length);
  }
  return true;
}

// Reads the blocks of a file in turn, forward only: section headers and
// interface descriptions are taken in, packets handed out, anything else
// passed over by its length.
class BlockReader {
 public:
  explicit BlockReader(SourceStream& in) : in_(in) {}

  // The next block; a packet's bytes land in `data` (room for kMaximumCaptured bytes).
  BlockKind next(uint8_t* data, Packet& packet) {
    return takeSoundPacket(data, packet) ? BlockKind::Packet : nextBlock(data, packet);
  }
  // Sets `error` to what is wrong with the current block; returns false.
  bool fail(const std::string& what);
  // Where the current block begins.
  int64_t blockOffset() const { return blockOffset_; }
  // Whether the bytes at p (n of them) hold a whole block that could be one
  // of this file's: a known type, leading and trailing lengths that agree,
  // a packet of a described interface whose bytes fit its block.
  bool plausibleBlock(const uint8_t* p, size_t n) const;
  // Reading goes on at `offset`, where a block was found after damage.
  void resumeAt(int64_t offset) {
    offset_ = offset;
    inPacket_ = false;
  }

  bool big = false;                   // byte order of the current section
  std::vector<Interface> interfaces;  // of the current section
  std::string comment;                // of the current section
  int sections = 0;
  std::string error;  // why the last block failed, with where

 private:
  bool read(void* buffer, size_t n);
  // n bytes of the block: in place when the source holds them, else read
  // into `scratch` (room for n). Null, with the reason, on a short read.
  const uint8_t* take(size_t n, uint8_t* scratch);
  bool discard(uint64_t n);
  bool readBody(uint32_t alreadyRead);
  bool checkTrailer(const uint8_t* trailer) {
    return Get32(trailer, big) == length_ || trailerDiffers(trailer);
  }
  bool trailerDiffers(const uint8_t* trailer);
  bool readSection();
  bool readInterface();
  bool readPacket(uint32_t type, uint8_t* data, Packet& packet);
  // Inline in next(): the packet then goes to the frame in registers.
  [[gnu::always_inline]] bool takeSoundPacket(uint8_t* data, Packet& packet);
  BlockKind nextBlock(uint8_t* data, Packet& packet);

  SourceStream& in_;
  int64_t offset_ = 0;       // of the next byte
  int64_t blockOffset_ = 0;  // of the current block
  uint32_t length_ = 0;      // of the current block
  int64_t packets_ = 0;      // packet blocks so far
  bool inPacket_ = false;
  std::vector<uint8_t> body_;
};

bool BlockReader::fail(const std::string& what) {
  error = (inPacket_ ? AtRecord(packets_, blockOffset_) : AtOffset(blockOffset_)) + what;
  return false;
}

bool BlockReader::plausibleBlock(const uint8_t* p, size_t n) const {
  if (n < kMinimumBlock) return false;
  bool order = big;
  const uint32_t type = Get32(p, order);
  if (GetLE32(p) == kPcapngSectionHeader) {
    if (GetLE32(p + 8) == kPcapngByteOrderMagic) order = false;
    else if (GetBE32(p + 8) == kPcapngByteOrderMagic) order = true;
    else return false;
  } else if (sections == 0 || !(type == kInterfaceDescription || type == kPacket ||
                                type == kSimplePacket || type == kEnhancedPacket ||
                                type == kNameResolution || type == kInterfaceStatistics ||
                                type == kDecryptionSecrets)) {
    return false;
  }
  const uint32_t length = Get32(p + 4, order);
  if (length < kMinimumBlock || length % 4 != 0 || length > n || Get32(p + length - 4, order) != length)
    return false;
  if (type != kEnhancedPacket && type != kPacket) return true;
  if (length < kBlockHeadBytes + kPacketFixedBytes + 4) return false;
  const uint32_t interface = type == kPacket ? Get16(p + 8, order) : Get32(p + 8, order);
  const uint32_t captured = Get32(p + 20, order);
  return interface < interfaces.size() && captured <= kMaximumCaptured &&
         kBlockHeadBytes + kPacketFixedBytes + Padded(captured) + 4 <= length;
}

bool BlockReader::read(void* buffer, size_t n) {
  const size_t got = in_.fetch(buffer, n);
  offset_ += int64_t(got);
  if (got == n) return true;
  if (in_.failed()) return fail("the file cannot be read");
  return fail("the block of " + Grouped(length_) + " bytes runs past the end of the file");
}

const uint8_t* BlockReader::take(size_t n, uint8_t* scratch) {
  if (n == 0) return scratch;
  if (in_.inHandSize() >= n) {
    const uint8_t* p = in_.inHand();
    in_.consume(n);
    offset_ += int64_t(n);
    return p;
  }
  return read(scratch, n) ? scratch : nullptr;
}

// Reads and drops n bytes: a pipe cannot seek.
bool BlockReader::discard(uint64_t n) {
  uint8_t sink[8192];
  while (n > 0) {
    const size_t take = size_t(std::min<uint64_t>(n, sizeof sink));
    if (!read(sink, take)) return false;
    n -= take;
  }
  return true;
}

bool BlockReader::trailerDiffers(const uint8_t* trailer) {
  const uint32_t trailing = Get32(trailer, big);
  return fail("trailing length " + Grouped(trailing) + " differs from the leading length " +
              Grouped(length_));
}

// The rest of the block into body_, trailing length checked.
bool BlockReader::readBody(uint32_t alreadyRead) {
  body_.resize(length_ - alreadyRead);
  return read(body_.data(), body_.size()) && checkTrailer(body_.data() + body_.size() - 4);
}

// The common block, taken whole where it lies: a sound enhanced packet block
// of a little-endian section, in hand. Anything else, and any fault, is left
// to the block-by-block path, which states what is wrong.
inline bool BlockReader::takeSoundPacket(uint8_t* data, Packet& packet) {
  constexpr uint32_t kFixedEnd = kBlockHeadBytes + kPacketFixedBytes;
  const size_t inHand = in_.inHandSize();
  if (big || sections == 0 || inHand < kFixedEnd + 4) return false;
  const uint8_t* b = in_.inHand();
  const uint32_t length = GetLE32(b + 4), captured = GetLE32(b + 20);
  if (GetLE32(b) != kEnhancedPacket || length > inHand || length > kMaximumBlock ||
      length % 4 != 0 || captured > kMaximumCaptured ||
      kFixedEnd + Padded(captured) + 4 > length || GetLE32(b + length - 4) != length)
    return false;
  const uint32_t interface = GetLE32(b + 8);
  if (interface >= interfaces.size()) return false;
  uint32_t flags = 0;
  const uint32_t optionsAt = kFixedEnd + Padded(captured);
  const uint32_t optionBytes = length - optionsAt - 4;  // most packets have none
  const uint8_t* comment = nullptr;
  uint16_t commentLength = 0;
  const auto takeOptions = [&](uint16_t code, const uint8_t* value, uint16_t n) {
    if (code == kPacketFlags && n >= 4) flags = GetLE32(value);
    if (code == kComment && !comment) comment = value, commentLength = n;
  };
  if (optionBytes >= 4 && !ForEachOption(b + optionsAt, optionBytes, false, error, takeOptions))
    return false;
  packet = Packet{interface, true, uint64_t(GetLE32(b + 12)) << 32 | GetLE32(b + 16), captured,
                  GetLE32(b + 24), flags, comment, commentLength};
  CopyBytes(data, b + kFixedEnd, captured);
  in_.consume(length);
  blockOffset_ = offset_;
  offset_ += length;
  length_ = length;
  ++packets_;
  inPacket_ = true;
  return true;
}

BlockKind BlockReader::nextBlock(uint8_t* data, Packet& packet) {
  blockOffset_ = offset_;
  inPacket_ = false;
  uint8_t head[kBlockHeadBytes + 4];
  const size_t got = in_.fetch(head, kBlockHeadBytes);
  offset_ += int64_t(got);
  if (got == 0 && !in_.failed()) return BlockKind::End;
  if (got != kBlockHeadBytes) {
    fail(in_.failed() ? "the file cannot be read" : "the file ends inside a block header");
    return BlockKind::Failed;
  }
  const uint32_t type = Get32(head, big);
  if (sections == 0 && type != kPcapngSectionHeader) {
    fail("the file does not begin with a section header block");
    return BlockKind::Failed;
  }
  if (type == kPcapngSectionHeader) {
    // The type reads the same in both orders; the magic that follows tells
    // which one the section's lengths are in.
    if (!read(head + kBlockHeadBytes, 4)) return BlockKind::Failed;
    if (GetLE32(head + kBlockHeadBytes) == kPcapngByteOrderMagic) {
      big = false;
    } else if (GetBE32(head + kBlockHeadBytes) == kPcapngByteOrderMagic) {
      big = true;
    } else {
      fail("a section header block without the byte-order magic");
      return BlockKind::Failed;
    }
  }
  length_ = Get32(head + 4, big);
  if (length_ < kMinimumBlock) {
    fail("block length " + Grouped(length_) + " is below the minimum of 12");
    return BlockKind::Failed;
  }
  if (length_ % 4 != 0) {
    fail("block length " + Grouped(length_) + " is not a multiple of 4");
    return BlockKind::Failed;
  }
  if (length_ > kMaximumBlock) {
    fail("block length " + Grouped(length_) + " exceeds " + Grouped(kMaximumBlock));
    return BlockKind::Failed;
  }
  bool ok = false;
  BlockKind kind = BlockKind::Other;
  switch (type) {
    case kPcapngSectionHeader: ok = readSection(), kind = BlockKind::Section; break;
    case kInterfaceDescription: ok = readInterface(), kind = BlockKind::Interface; break;
    case kEnhancedPacket:
    case kPacket:
    case kSimplePacket: ok = readPacket(type, data, packet), kind = BlockKind::Packet; break;
    default: {
      uint8_t trailer[4];
      ok = discard(length_ - kMinimumBlock) && read(trailer, 4) && checkTrailer(trailer);
      break;
    }
  }
  return ok ? kind : BlockKind::Failed;
}

bool BlockReader::readSection() {
  if (length_ < kBlockHeadBytes + kSectionFixedBytes + 4)
    return fail("a section header block of " + Grouped(length_) + " bytes");
  if (!readBody(kBlockHeadBytes + 4)) return false;
  const uint16_t major = Get16(body_.data(), big), minor = Get16(body_.data() + 2, big);
  if (major != 1)
    return fail("section version " + Grouped(major) + "." + Grouped(minor) + " cannot be read");
  ++sections;
  interfaces.clear();
  comment.clear();
  const size_t options = kSectionFixedBytes - 4;
  return ForEachOption(body_.data() + options, body_.size() - options - 4, big, error,
                       [&](uint16_t code, const uint8_t* value, uint16_t n) {
                         if (code == kComment && comment.empty())
                           comment.assign(reinterpret_cast<const char*>(value), n);
                       }) ||
         fail(error);
}

bool BlockReader::readInterface() {
  if (length_ < kBlockHeadBytes + kInterfaceFixedBytes + 4)
    return fail("an interface description block of " + Grouped(length_) + " bytes");
  if (!readBody(kBlockHeadBytes)) return false;
  if (interfaces.size() >= kMaximumInterfaces)
    return fail("more than " + Grouped(kMaximumInterfaces) + " interfaces in one section");
  Interface i;
  i.linkType = Get16(body_.data(), big);
  uint32_t unusedSpeed = 0;
  i.topology = PcapTopology(i.linkType, unusedSpeed);
  i.snapLength = Get32(body_.data() + 4, big);
  bool resolutionOk = true;
  uint8_t resolution = 0;
  const bool optionsOk = ForEachOption(
      body_.data() + kInterfaceFixedBytes, body_.size() - kInterfaceFixedBytes - 4, big, error,
      [&](uint16_t code, const uint8_t* value, uint16_t n) {
        if (code == kIfTimeResolution && n >= 1) {
          // Negative powers of 10, or of 2 with the high bit set.
          resolution = i.resolution = value[0];
          const unsigned exponent = resolution & 0x7Fu;
          if (resolution & 0x80) {
            resolutionOk = exponent <= 63;
            if (resolutionOk) i.unitsPerSecond = uint64_t(1) << exponent;
          } else {
            resolutionOk = exponent <= 19;
            i.unitsPerSecond = 1;
            for (unsigned k = 0; resolutionOk && k < exponent; ++k) i.unitsPerSecond *= 10;
          }
        } else if (code == kIfTimeOffset && n >= 8) {
          i.offsetSeconds = int64_t(Get64(value, big));
        } else if (code == kIfFcsLength && n >= 1) {
          i.fcsLength = value[0];
          i.fcsStated = true;
        } else if (code == kIfName) {
          i.name.assign(reinterpret_cast<const char*>(value), n);
        } else if (code == kIfDescription) {
          i.description.assign(reinterpret_cast<const char*>(value), n);
        } else if (code == kIfSpeed && n >= 8) {
          i.speed = Get64(value, big);
        }
      });
  if (!optionsOk) return fail(error);
  if (!resolutionOk)
    return fail("interface time resolution " + Grouped(resolution) + " cannot be read");
  interfaces.push_back(i);
  return true;
}

bool BlockReader::readPacket(uint32_t type, uint8_t* data, Packet& packet) {
  ++packets_;
  inPacket_ = true;
  const bool simple = type == kSimplePacket;
  const uint32_t fixedBytes = simple ? kSimplePacketFixedBytes : kPacketFixedBytes;
  if (length_ < kBlockHeadBytes + fixedBytes + 4)
    return fail("a packet block of " + Grouped(length_) + " bytes is shorter than its fields");
  uint8_t fixedBuffer[kPacketFixedBytes];
  const uint8_t* fixed = take(fixedBytes, fixedBuffer);
  if (!fixed) return false;
  packet = Packet{};
  if (simple) {
    packet.original = Get32(fixed, big);
    const uint32_t room = length_ - kBlockHeadBytes - fixedBytes - 4;
    packet.captured = std::min(packet.original, room);
    if (!interfaces.empty() && interfaces[0].snapLength != 0)
      packet.captured = std::min(packet.captured, interfaces[0].snapLength);
  } else {
    packet.interface = type == kPacket ? Get16(fixed, big) : Get32(fixed, big);
    packet.timed = true;
    packet.timestamp = uint64_t(Get32(fixed + 4, big)) << 32 | Get32(fixed + 8, big);
    packet.captured = Get32(fixed + 12, big);
    packet.original = Get32(fixed + 16, big);
  }
  if (packet.interface >= interfaces.size())
    return fail("a packet of interface " + Grouped(packet.interface) +
                ", which no interface description block of its section describes");
  if (packet.captured > kMaximumCaptured)
    return fail("captured length " + Grouped(packet.captured) + " exceeds " +
                Grouped(kMaximumCaptured));
  if (kBlockHeadBytes + fixedBytes + Padded(packet.captured) + 4 > length_)
    return fail("captured length " + Grouped(packet.captured) + " does not fit a block of " +
                Grouped(length_) + " bytes");
  const uint8_t* bytes = take(packet.captured, data);
  if (!bytes) return false;
  if (bytes != data) std::memcpy(data, bytes, packet.captured);
  // Padding, options and the trailing length: a few bytes, mostly in place.
  const uint32_t rest = length_ - kBlockHeadBytes - fixedBytes - packet.captured;
  if (in_.inHandSize() < rest) body_.resize(rest);
  const uint8_t* tail = take(rest, body_.data());
  if (!tail || !checkTrailer(tail + rest - 4)) return false;
  if (simple) return true;
  const uint32_t padding = Padded(packet.captured) - packet.captured;
  return ForEachOption(tail + padding, rest - padding - 4, big, error,
                       [&](uint16_t code, const uint8_t* value, uint16_t n) {
                         if (code == kPacketFlags && n >= 4) packet.flags = Get32(value, big);
                         if (code == kComment && !packet.comment)
                           packet.comment = value, packet.commentLength = n;
                       }) ||
         fail(error);
}

// ------------------------------------------------------------------ reader

// A packet without a time read before any timed one, with what shapes it.
struct HeldPacket {
  Packet packet;
  Interface interface;
  std::vector<uint8_t> bytes;
};

struct PcapngReaderContext : FormatContext {
  std::unique_ptr<BlockReader> blocks;
  int32_t interfacesSeen = 0;  // in every section so far
  int32_t interfaceBase = 0;   // the number of the current section's first interface
  // The target holds frames of one link type (not pcapng): the first
  // converted interface's. Fixed at the header step.
  bool oneLinkType = false;
  bool haveLinkType = false;
  uint32_t linkType = 0;
  bool countsLosses = false;   // a target writer takes the frames
  bool keepsComments = false;  // ... and stores their comments
  bool started = false;      // the trace date is fixed
  int64_t lastFrameTime = 0;  // for packets without a time of their own
  int32_t lastNanoseconds = 0;
  UnixFrameClock clock;
  // Packets without a time ahead of the first timed one wait here, so that
  // the trace is dated by a real time and not by the file's; followed by
  // the timed packet that dates it. Handed on from `nextHeld`.
  std::vector<HeldPacket> held;
  size_t heldBytes = 0, nextHeld = 0;
  // Frames went on before any time was known: the trace stays dated at time 0.
  bool undatedFramesOut = false;
};

// A timestamp in units of 1/unitsPerSecond split into whole seconds,
// microseconds and the nanoseconds beyond them. Microsecond and nanosecond
// units, by far the most common, divide by constants.
struct SplitTime {
  uint64_t seconds;
  int64_t micros;
  int32_t nanos;
};
SplitTime SplitTimestamp(uint64_t timestamp, uint64_t units) {
  if (units == kMicrosPerSecond)
    return {timestamp / kMicrosPerSecond, int64_t(timestamp % kMicrosPerSecond), 0};
  if (units == 1000000000) {
    const uint64_t part = timestamp % 1000000000;
    return {timestamp / 1000000000, int64_t(part / 1000), int32_t(part % 1000)};
  }
  const unsigned __int128 part = timestamp % units;
  return {timestamp / units, int64_t(part * kMicrosPerSecond / units),
          int32_t(part * 1000000000 / units % 1000)};
}

// frameTime of a packet; false outside the years 1970 to 9999.
bool SetPacketTime(ConversionState& s, PcapngReaderContext& r, const Interface& i,
                   const Packet& p) {
  s.frame.frameWithoutTime = !p.timed;
  if (!p.timed) {  // the time of the frame before, for targets that need one
    s.frame.frameTime = r.lastFrameTime;
    s.frame.frameNanoseconds = r.lastNanoseconds;
    return true;
  }
  // Microseconds since 1970, by far the most common, after the first frame:
  // the clock takes them whole, with no division into seconds.
  constexpr uint64_t kLatestMicros = uint64_t(kLatestSeconds + 1) * kMicrosPerSecond;
  if (i.unitsPerSecond == kMicrosPerSecond && i.offsetSeconds == 0 && r.started &&
      p.timestamp < kLatestMicros) {
    s.frame.frameTime = r.lastFrameTime = r.clock(s, 0, int64_t(p.timestamp));
    s.frame.frameNanoseconds = r.lastNanoseconds = 0;
    return true;
  }
  const SplitTime t = SplitTimestamp(p.timestamp, i.unitsPerSecond);
  int64_t seconds = 0;  // the overflow test sees the exact sum
  if (__builtin_add_overflow(t.seconds, i.offsetSeconds, &seconds) || seconds < 0 ||
      seconds > kLatestSeconds)
    return false;
  if (!r.started) {
    if (!r.undatedFramesOut) StartTraceAtUnixTime(s, seconds);
    r.started = true;
  }
  s.frame.frameTime = r.lastFrameTime = r.clock(s, seconds, t.micros);
  s.frame.frameNanoseconds = r.lastNanoseconds = t.nanos;
  return true;
}

// Lengths, bytes and FCS of the current frame from a packet of interface i.
void ShapePacket(ConversionState& s, const Interface& i, const Packet& p) {
  s.frame.frameLinkType = i.linkType;
  s.frame.framePacketFlags = p.flags;
  if (p.comment)
    s.frame.frameComment.assign(reinterpret_cast<const char*>(p.comment), p.commentLength);
  else if (!s.frame.frameComment.empty())
    s.frame.frameComment.clear();
  s.frame.frameFlags = 0;
  if (p.flags != 0) {  // most packets state none
    if ((p.flags & kDirectionMask) == kInbound) s.frame.frameFlags |= Flag::Direction1;
    if ((p.flags & kDirectionMask) == kOutbound) s.frame.frameFlags |= Flag::Direction2;
    if (p.flags & kCrcErrorBit) s.frame.frameFlags |= Flag::CrcError;
    if (p.flags & kUnalignedBit) s.frame.frameFlags |= Flag::AlignmentError;
  }
  uint32_t fcs = p.flags >> kFcsLengthShift & kFcsLengthMask;
  if (fcs == 0) fcs = i.fcsLength;
  const uint32_t wire = std::max(p.captured, p.original);
  const uint32_t stored = std::min(p.captured, p.original);
  if (i.topology == Topo::Unknown) {
    // A link type of no medium of ours: its bytes go on as captured, any
    // FCS among them, for targets that state the link type.
    s.frame.storedLength = int32_t(p.captured);
    s.frame.frameLength = int32_t(wire);
    ClampFrameLength(s);
    return;
  }
  if (fcs == 4 && i.topology == Topo::Ethernet) {
    // The frame ends in its own FCS: kept as captured, not rebuilt.
    s.frame.storedLength = int32_t(stored);
    s.frame.frameLength = int32_t(wire);
    ClampFrameLength(s);
    const bool whole = s.frame.storedLength == s.frame.frameLength && s.frame.frameLength >= 4;
    s.frame.frameFcs = whole ? GetLE32(s.frame.frameData.data() + s.frame.frameLength - 4) : 0;
    return;
  }
  // Any other FCS is dropped: frames then travel as libpcap records do.
  const uint32_t withoutFcs = wire >= fcs ? wire - fcs : 0;
  ShapePcapFrame(s, int32_t(std::min(stored, withoutFcs)), int32_t(withoutFcs), i.topology);
}

// A new interface description, numbered on from the sections before.
void NoteInterface(Conversion& c, PcapngReaderContext& r, const Interface& i) {
  ConversionState& s = c.state;
  const int32_t number = r.interfacesSeen++;
  if (size_t(number) >= s.sourceInterfaces.size()) s.sourceInterfaces.resize(size_t(number) + 1);
  s.sourceInterfaces[size_t(number)] = Described(i);
  const bool converted = s.options.onlyInterface < 0 || s.options.onlyInterface == number;
  if (!converted) return;
  if (!r.haveLinkType) {
    r.haveLinkType = true;
    r.linkType = i.linkType;
    s.sourceSnapshotLength = i.snapLength;
  }
  if (i.unitsPerSecond > kMicrosPerSecond) s.time.sourceHasNanoseconds = true;
  // A target of one interface takes the frames of all of them as its one.
  if (number > 0 && s.options.onlyInterface < 0 && r.oneLinkType) ++s.counters.lost.interfacesNotStored;
}

// Blocks looked at after damage are taken whole, up to this size: twice
// the largest packet block.
constexpr size_t kSalvageLookAhead = 2 * (kMaximumCaptured + 64 * 1024);

// A block that failed: a read error, or with salvage reading goes on at the
// next block found past it.
bool SkipToNextBlock(Conversion& c, BlockReader& blocks) {
  const RecordTest recognises = [&](const uint8_t* p, size_t n) {
    return blocks.plausibleBlock(p, n);
  };
  if (!SkipDamaged(c, blocks.blockOffset(), blocks.error, kSalvageLookAhead, recognises))
    return false;
  blocks.resumeAt(c.source->position());
  return true;
}

// Keeps the current packet, read into frameData, for later.
void HoldPacket(ConversionState& s, PcapngReaderContext& r, const Interface& i, const Packet& p) {
  const uint8_t* bytes = s.frame.frameData.data();
  r.held.push_back(HeldPacket{p, i, std::vector<uint8_t>(bytes, bytes + p.captured)});
  r.heldBytes += p.captured + sizeof(HeldPacket);  // many small ones cost their records too
}

// Hands on the next held packet as the current frame: those without a time
// take the time of the packet that dated the trace, or, when none did, time 0.
void ReleaseHeldPacket(ConversionState& s, PcapngReaderContext& r) {
  const HeldPacket& h = r.held[r.nextHeld++];
  std::memcpy(s.frame.frameData.data(), h.bytes.data(), h.bytes.size());
  SetPacketTime(s, r, h.interface, h.packet);  // a time once accepted is accepted again
  s.frame.frameInterface = r.interfaceBase + int32_t(h.packet.interface);
  ShapePacket(s, h.interface, h.packet);
  if (r.nextHeld == r.held.size()) {
    r.held.clear();
    r.nextHeld = r.heldBytes = 0;
  }
}

// Held packets go on undated: no timed packet came within the bound, or none
// at all. No date is made up for them (neither today's nor the file's): they
// stand at time 0, 1970-01-01 UTC, and so does the trace.
bool ReleaseUndated(ConversionState& s, PcapngReaderContext& r) {
  r.undatedFramesOut = true;
  StartTraceAtUnixTime(s, 0);
  r.lastFrameTime = r.clock(s, 0, 0);
  r.lastNanoseconds = 0;
  ReleaseHeldPacket(s, r);
  return true;
}

// Reads blocks up to the next frame of the converted link type.
bool ReadFrame(Conversion& c, PcapngReaderContext& r) {
  ConversionState& s = c.state;
  BlockReader& blocks = *r.blocks;
  if (r.nextHeld < r.held.size()) {
    ReleaseHeldPacket(s, r);
    return true;
  }
  for (;;) {
    Packet p;
    switch (blocks.next(s.frame.frameData.data(), p)) {
      case BlockKind::End:
        if (!r.held.empty()) return ReleaseUndated(s, r);
        return false;
      case BlockKind::Failed:
        if (SkipToNextBlock(c, blocks)) continue;
        return false;
      case BlockKind::Section: r.interfaceBase = r.interfacesSeen; continue;
      case BlockKind::Other: continue;
      case BlockKind::Interface: NoteInterface(c, r, blocks.interfaces.back()); continue;
      case BlockKind::Packet: break;
    }
    const int32_t number = r.interfaceBase + int32_t(p.interface);
    if (s.options.onlyInterface >= 0 && number != s.options.onlyInterface) continue;
    const Interface& i = blocks.interfaces[p.interface];
    if (r.oneLinkType && i.linkType != r.linkType) {
      // Described after frames were written, so not refused before: stop here.
      FailWrite(s, AtRecord(s.counters.framesRead + 1, blocks.blockOffset()) + "interface " +
                       Grouped(number) + " has " + LinkTypeText(i.linkType) + ", the frames before " +
                       LinkTypeText(r.linkType) + "; a " + c.writerFormat()->family +
                       " file holds one: convert with --interface N or --split-interfaces");
      return false;
    }
    s.frame.frameInterface = number;
    if (!p.timed && !r.started && !r.undatedFramesOut) {
      HoldPacket(s, r, i, p);
      if (r.heldBytes <= kMostHeldBytes) continue;
      return ReleaseUndated(s, r);
    }
    if (!SetPacketTime(s, r, i, p)) {
      blocks.fail("the time lies outside the years 1970 to 9999");
      if (SkipToNextBlock(c, blocks)) continue;
      return false;
    }
    // A time the pipeline would refuse is damage salvage passes over.
    if (s.options.salvage && p.timed && FrameTimeBeyondSpan(s)) {
      blocks.fail(FrameTimeSpanText(s));
      if (SkipToNextBlock(c, blocks)) continue;
      return false;
    }
    if (!r.held.empty()) {  // the first timed packet: it dates those held before it
      HoldPacket(s, r, i, p);
      ReleaseHeldPacket(s, r);
      return true;
    }
    ShapePacket(s, i, p);
    return true;
  }
}

void ReadHeader(Conversion& c) {
  ConversionState& s = c.state;
  auto& r = c.ReaderContext<PcapngReaderContext>();
  r.blocks = std::make_unique<BlockReader>(*c.source);
  Packet none;
  if (r.blocks->next(s.frame.frameData.data(), none) != BlockKind::Section) {
    FailRead(s, r.blocks->error.empty() ? AtOffset(0) + "the file is empty" : r.blocks->error);
    return;
  }
  s.fileComment = r.blocks->comment.substr(0, kCommentLimit);
  const FormatDescriptor* writer = c.writerFormat();
  r.countsLosses = writer && !c.frameObserver && !s.status.probeOnly;
  r.keepsComments = writer && writer->has(Capability::SeveralInterfaces);
  r.oneLinkType = r.countsLosses && !r.keepsComments;
}

ReadStatus NextRecord(Conversion& c) {
  ConversionState& s = c.state;
  auto& r = c.ReaderContext<PcapngReaderContext>();
  if (!r.blocks) return ReadStatus::End;
  // The file's end is the source's only once no packet held back is left
  // to hand on.
  if (s.counters.framesRead > 0 && r.nextHeld == r.held.size() && c.SourceAtEnd()) return ReadStatus::End;
  return RecordOrEnd(s, ReadFrame(c, r));
}

}  // namespace

bool IsPcapngHead(const uint8_t* head, size_t n) {
  return n >= 12 && GetLE32(head) == kPcapngSectionHeader &&
         (GetLE32(head + 8) == kPcapngByteOrderMagic || GetBE32(head + 8) == kPcapngByteOrderMagic);
}

bool ReadPcapngSummary(SourceStream& in, PcapngSummary& summary) {
  if (!in.seek(0)) return false;
  BlockReader blocks(in);
  std::vector<uint8_t> data(kMaximumCaptured);
  for (int n = 0; n < kSummaryBlocks; ++n) {
    Packet p;
    switch (blocks.next(data.data(), p)) {
      case BlockKind::Section:
        if (blocks.sections == 1) summary.comment = blocks.comment;
        continue;
      case BlockKind::Other: continue;
      case BlockKind::Interface:
        summary.interfaces.push_back(Described(blocks.interfaces.back()));
        continue;
      case BlockKind::Packet:
      case BlockKind::End: return blocks.sections > 0;
      case BlockKind::Failed: return false;
    }
  }
  return !summary.interfaces.empty();
}

// ------------------------------------------------------------------ writer

namespace {

// A target interface: how its frames' times and bytes are written.
struct TargetInterface {
  uint64_t nanosPerUnit = 1000;  // its time resolution
  int32_t fcs = 0;               // bytes of Ethernet FCS left out of each frame
  uint32_t snapLength = 0;       // as its description states it
};

struct PcapngWriterContext : FormatContext {
  SteppedUnixClock clock;  // UTC times, from the header step on
  // Source interface number -> target interface number, -1 before its
  // description is written; and the target interfaces written.
  std::vector<int32_t> targetOf;
  std::vector<TargetInterface> interfaces;
  // A block laid out aside when the target's block has no room for it: a
  // frame a media conversion lengthened may pass MaxFrameBytes, never the buffer.
  uint8_t aside[kBlockHeadBytes + kPacketFixedBytes + FrameBufferBytes + 3 + 12 + 4];
};

// A block under construction, little-endian.
class BlockBuilder {
 public:
  explicit BlockBuilder(uint32_t type) {
    u32(type);
    u32(0);  // total length, set by finish()
  }
  void u16(uint16_t v) { uint8_t b[2]; PutLE16(b, v); add(b, 2); }
  void u32(uint32_t v) { uint8_t b[4]; PutLE32(b, v); add(b, 4); }
  void u64(uint64_t v) { uint8_t b[8]; PutLE64(b, v); add(b, 8); }
  void add(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  void option(uint16_t code, const void* value, size_t n) {
    n = std::min<size_t>(n, 0xFFFC);
    u16(code);
    u16(uint16_t(n));
    add(value, n);
    bytes_.resize(bytes_.size() + (Padded(uint32_t(n)) - n), 0);
  }
  const std::vector<uint8_t>& finish() {
    u32(kEndOfOptions);  // code and length of the end of options
    u32(uint32_t(bytes_.size() + 4));
    PutLE32(bytes_.data() + 4, uint32_t(bytes_.size()));
    return bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
};

uint32_t PacketFlags(uint16_t frameFlags) {
  uint32_t flags = 0;
  const uint16_t direction = frameFlags & (Flag::Direction1 | Flag::Direction2);
  if (direction == Flag::Direction1) flags |= kInbound;
  if (direction == Flag::Direction2) flags |= kOutbound;
  if (frameFlags & Flag::CrcError) flags |= kCrcErrorBit;
  if (frameFlags & Flag::AlignmentError) flags |= kUnalignedBit;
  return flags;
}

}  // namespace

namespace {

// How source interface n is described in the target: as the source describes
// it, or, for sources without descriptions and frames a media conversion
// made another medium's, by the frames' medium.
SourceInterface TargetDescription(const ConversionState& s, int32_t n) {
  const bool converted = s.options.convertToEthernet || s.options.convertToWireless;
  if (!converted && n >= 0 && size_t(n) < s.sourceInterfaces.size())
    return s.sourceInterfaces[size_t(n)];
  SourceInterface d;
  d.linkType = WrittenLinkType(s);
  d.topology = WrittenTopology(s);
  d.timeResolution = s.time.sourceHasNanoseconds ? kNanosecondResolution : kMicrosecondResolution;
  return d;
}

// Writes the description of source interface n as the next target
// interface; returns its number there, or -1 when it cannot be written.
int32_t WriteInterface(Conversion& c, PcapngWriterContext& w, int32_t n) {
  ConversionState& s = c.state;
  const SourceInterface d = TargetDescription(s, n);
  if (d.linkType > 0xFFFF) {  // libpcap states 32 bits
    FailWrite(s, "interface " + Grouped(n) + ": " + LinkTypeText(d.linkType) +
                     " exceeds 65,535, the largest a pcapng interface states");
    return -1;
  }
  TargetInterface t;
  // Decimal resolutions down to nanoseconds are kept; finer or binary
  // ones are written in nanoseconds, which the frame times hold.
  uint8_t resolution = d.timeResolution;
  if (resolution > kNanosecondResolution) resolution = kNanosecondResolution;
  t.nanosPerUnit = 1;
  for (uint8_t k = resolution; k < kNanosecondResolution; ++k) t.nanosPerUnit *= 10;
  // Ethernet frames travel with an FCS, written only where the source had it.
  const bool ethernet = d.topology == Topo::Ethernet;
  const bool keepsFcs = ethernet && d.fcsLength == 4;
  t.fcs = ethernet && !keepsFcs ? 4 : 0;

  BlockBuilder block(kInterfaceDescription);
  block.u16(uint16_t(d.linkType));
  block.u16(0);
  const uint32_t snap = d.snapLength ? d.snapLength : kSnapLength;
  t.snapLength = s.options.sliceFrames ? std::min(uint32_t(s.options.sliceLength), snap) : snap;
  block.u32(t.snapLength);
  if (!d.name.empty()) block.option(kIfName, d.name.data(), d.name.size());
  if (!d.description.empty()) block.option(kIfDescription, d.description.data(), d.description.size());
  if (d.speed > 0) {
    uint8_t speed[8];
    PutLE64(speed, d.speed);
    block.option(kIfSpeed, speed, sizeof speed);
  }
  block.option(kIfTimeResolution, &resolution, 1);
  // Frames of other media lost any FCS on the way; those of no medium of
  // ours kept theirs, as stated.
  // Frames made 802.11 end in the FCS of their new bytes.
  const int32_t fcsLength = keepsFcs ? 4 : ethernet ? 0 : d.topology == Topo::Unknown ? d.fcsLength
                          : s.options.convertToWireless && d.topology == Topo::Wireless ? 4
                          : d.fcsLength >= 0 ? 0 : -1;
  if (fcsLength >= 0) {
    const uint8_t value = uint8_t(fcsLength);
    block.option(kIfFcsLength, &value, 1);
  }
  const auto& bytes = block.finish();
  c.target->write(bytes.data(), bytes.size());

  if (n >= 0) {
    if (size_t(n) >= w.targetOf.size()) w.targetOf.resize(size_t(n) + 1, -1);
    w.targetOf[size_t(n)] = int32_t(w.interfaces.size());
  }
  w.interfaces.push_back(t);
  return int32_t(w.interfaces.size()) - 1;
}

// The target interface of the current frame, its description written
// when the frame is the first of its interface.
inline int32_t TargetInterfaceOf(Conversion& c, PcapngWriterContext& w) {
  const int32_t n = c.state.frame.frameInterface;
  if (n >= 0 && size_t(n) < w.targetOf.size() && w.targetOf[size_t(n)] >= 0)
    return w.targetOf[size_t(n)];
  return WriteInterface(c, w, n);
}

// A packet's flags: as the source stated them, or from the frame's.
uint32_t WrittenFlags(const ConversionState& s, int32_t fcsLeftOut) {
  if (s.frame.framePacketFlags == 0) return PacketFlags(s.frame.frameFlags);
  uint32_t flags = s.frame.framePacketFlags;
  // An FCS left out is no longer among the frame's bytes.
  if (fcsLeftOut > 0) flags &= ~(kFcsLengthMask << kFcsLengthShift);
  return flags;
}

}  // namespace

void WritePcapngHeader(Conversion& c, int32_t /*frameNumber*/) {
  ConversionState& s = c.state;
  auto& w = c.WriterContext<PcapngWriterContext>();
  w.clock.start(s);

  BlockBuilder section(kPcapngSectionHeader);
  section.u32(kPcapngByteOrderMagic);
  section.u16(1);  // version 1.0
  section.u16(0);
  section.u64(~uint64_t(0));  // section length not stated
  if (!s.fileComment.empty()) section.option(kComment, s.fileComment.data(), s.fileComment.size());
  section.option(kUserApplication, kProgramName, std::strlen(kProgramName));
  const auto& head = section.finish();
  c.target->write(head.data(), head.size());

  // Every interface the source described so far keeps its number; with one
  // chosen, it alone is written.
  if (s.options.onlyInterface >= 0 || s.sourceInterfaces.empty() || s.options.convertToEthernet ||
      s.options.convertToWireless) {
    TargetInterfaceOf(c, w);
    return;
  }
  for (size_t n = 0; n < s.sourceInterfaces.size(); ++n) WriteInterface(c, w, int32_t(n));
}

// A frame without a time as a simple packet block, which states no time (nor
// flags, nor a captured length other than the interface's snapshot length).
// False, with nothing written, when the frame needs more than it states.
bool WriteSimplePacket(Conversion& c, PcapngWriterContext& w, int32_t interface,
                       uint32_t original, uint32_t captured) {
  const ConversionState& s = c.state;
  // Its frames belong to the first interface.
  if (interface != 0 || PacketFlags(s.frame.frameFlags) != 0 || !s.frame.frameComment.empty() ||
      captured != std::min(original, w.interfaces[0].snapLength))
    return false;
  constexpr uint32_t kFixedEnd = kBlockHeadBytes + kSimplePacketFixedBytes;
  const uint32_t dataEnd = kFixedEnd + Padded(captured);
  const uint32_t total = dataEnd + 4;
  WriteRecord(*c.target, total, w.aside, [&](uint8_t* p) {
    PutLE32(p + dataEnd - 4, 0);  // padding
    PutLE32(p, kSimplePacket);
    PutLE32(p + 4, total);
    PutLE32(p + 8, original);
    CopyBytes(p + kFixedEnd, s.frame.frameData.data(), captured);
    PutLE32(p + dataEnd, total);
  });
  return true;
}

void WritePcapngFrame(Conversion& c) {
  ConversionState& s = c.state;
  auto& w = c.WriterContext<PcapngWriterContext>();
  const int32_t interface = TargetInterfaceOf(c, w);
  if (interface < 0) return;
  const TargetInterface& t = w.interfaces[size_t(interface)];
  // As in libpcap: a whole Ethernet frame is written without its FCS.
  const uint32_t original = uint32_t(std::max(0, s.frame.frameLength - t.fcs));
  const uint32_t captured = uint32_t(std::max(0, std::min(s.frame.storedLength, int32_t(original))));
  if (s.frame.frameWithoutTime) {
    if (WriteSimplePacket(c, w, interface, original, captured)) return;
    ++s.counters.lost.timesNotStored;  // written with the time of the frame before it
  }
  const UnixTime when = w.clock(WriterFrameTime(s));
  if (!TimeFitsTarget(s, when.seconds, 0,
                      t.nanosPerUnit < 1000 ? kLatestNanosecondSeconds : kLatestSeconds))
    return;
  uint64_t units = uint64_t(when.seconds) * kMicrosPerSecond + uint64_t(when.microseconds);
  if (t.nanosPerUnit != 1000) {
    const uint64_t nanos = uint64_t(when.seconds) * 1000000000 +
                           uint64_t(FrameSubsecondNanos(s, when));
    units = nanos / t.nanosPerUnit;
  }

  const uint32_t flags = WrittenFlags(s, t.fcs);
  if (!s.frame.frameComment.empty()) {
    // Rare: laid out through the builder, with the comment.
    BlockBuilder block(kEnhancedPacket);
    block.u32(uint32_t(interface));
    block.u32(uint32_t(units >> 32));
    block.u32(uint32_t(units));
    block.u32(captured);
    block.u32(original);
    block.add(s.frame.frameData.data(), captured);
    const uint32_t zeros = 0;
    block.add(&zeros, Padded(captured) - captured);
    block.option(kComment, s.frame.frameComment.data(), s.frame.frameComment.size());
    if (flags != 0) {
      uint8_t value[4];
      PutLE32(value, flags);
      block.option(kPacketFlags, value, sizeof value);
    }
    const auto& bytes = block.finish();
    c.target->write(bytes.data(), bytes.size());
    return;
  }
  const uint32_t dataEnd = kBlockHeadBytes + kPacketFixedBytes + Padded(captured);
  const uint32_t optionBytes = flags != 0 ? 12 : 0;  // packet flags and the end of options
  const uint32_t total = dataEnd + optionBytes + 4;
  WriteRecord(*c.target, total, w.aside, [&](uint8_t* p) {
    // The padding's zeros first: the head or the packet bytes cover those of
    // its word that are not padding.
    PutLE32(p + dataEnd - 4, 0);
    PutLE32(p, kEnhancedPacket);
    PutLE32(p + 4, total);
    PutLE32(p + 8, uint32_t(interface));
    PutLE32(p + 12, uint32_t(units >> 32));
    PutLE32(p + 16, uint32_t(units));
    PutLE32(p + 20, captured);
    PutLE32(p + 24, original);
    CopyBytes(p + kBlockHeadBytes + kPacketFixedBytes, s.frame.frameData.data(), captured);
    uint8_t* end = p + dataEnd;
    if (flags != 0) {
      PutLE16(end, kPacketFlags);
      PutLE16(end + 2, 4);
      PutLE32(end + 4, flags);
      PutLE32(end + 8, kEndOfOptions);
      end += 12;
    }
    PutLE32(end, total);
  });
}

// ---------------------------------------------------------------- registry

namespace {

std::optional<AnalyzerType> IdentifyPcapng(IdentifyInput& input) {
  if (!IsPcapngHead(input.head.data(), input.head.size())) return std::nullopt;
  return Analyzer::Pcapng;
}

// A gzip-compressed libpcap or pcapng file, told by the magic inside; other
// compressed content is left to the rules after this one.
std::optional<AnalyzerType> IdentifyCompressedCapture(IdentifyInput& input) {
  if (!input.head.startsWith(kGzipMagic, sizeof kGzipMagic)) return std::nullopt;
  auto gz = OpenGzipSource(input.path);
  if (!gz) return std::nullopt;
  const FileBlock inner = ReadFileBlock(*gz, 0, kHeadBytes);
  bool compressed = false;
  IdentifyInput within{*gz,           inner,      input.path,     input.upperPath,
                       input.fileSize, compressed, input.variant, input.openFailed};
  std::optional<AnalyzerType> type = IdentifyPcapng(within);
  if (!type)
    if (const IdentifyRule* pcap = FindIdentifyRule("pcap")) type = pcap->match(within);
  if (type && *type != Analyzer::Unknown) input.compressed = true;
  return type;
}

Topology PcapngFileTopology(TopologyInput& t) {
  std::unique_ptr<SourceStream> gz;
  if (t.s.sourceCompressed) gz = OpenGzipSource(t.fileName);
  SourceStream* in = t.s.sourceCompressed ? gz.get() : &t.in;
  PcapngSummary summary;
  t.s.sourceInterfaces.clear();
  if (!in || !ReadPcapngSummary(*in, summary)) return Topo::Unknown;
  t.s.fileComment = summary.comment;
  t.s.sourceInterfaces = summary.interfaces;
  if (summary.interfaces.empty()) return Topo::Unknown;  // a section without frames
  const SourceInterface& first = summary.interfaces.front();
  const Topology topology = PcapTopology(first.linkType, t.speed);
  // A stated speed never turns an unknown link type into Ethernet.
  if (topology != Topo::Unknown && first.speed > 0 && first.speed <= UINT32_MAX)
    t.speed = uint32_t(first.speed);
  return topology;
}

constexpr IdentifyRule kPcapngRules[] = {
    // First: block type and byte-order magic at offset 0, which no later rule
    // claims, so that no suffix rule takes a pcapng file.
    {"pcapng", IdentifyPcapng, 10},
    // Gzip magic at offset 0, claimed only with a libpcap or pcapng magic
    // inside; any other compressed content goes on to the later rules.
    {"capture-gzip", IdentifyCompressedCapture, 20},
};
constexpr FriendlyName kPcapngNames[] = {{Analyzer::Pcapng, "pcap-ng"}};

}  // namespace

constexpr AnalyzerInfo kPcapngAnalyzers[] = {
    {Analyzer::Pcapng, "pcapng", "PN", ".pcapng",
     Media::Ethernet | Media::TokenRing | Media::Fddi | Media::Wireless | Media::LinkTypes},
};

extern const FormatDescriptor kPcapngFormat = {
    .family = "pcapng",
    .analyzers = kPcapngAnalyzers,
    .reads = MaskOf({Analyzer::Pcapng}),
    .writes = MaskOf({Analyzer::Pcapng}),
    .aliases = kPcapngNames,
    .sourcePatterns = "*.pcapng;*.pcapng.gz",
    .capabilities = Capability::DropsEthernetFcs | Capability::GzipSource |
                    Capability::StreamTarget | Capability::UnpaddedFrames |
                    Capability::SeveralInterfaces | Capability::KeepsWirelessFcs,
    .identify = kPcapngRules,
    .topology = PcapngFileTopology,
    .readHeader = ReadHeader,
    .nextRecord = NextRecord,
    .writeHeader = WritePcapngHeader,
    .writeFrame = WritePcapngFrame,
    .limits = {.largestStored = MaxRecordBytes, .timeUnitNanoseconds = 1,
                .keptFlags = Flag::Direction1 | Flag::Direction2 | Flag::Bad,
                .keepsComments = true, .keepsUntimedFrames = true, .severalInterfaces = true},
    .smallestFile = kBlockHeadBytes + kSectionFixedBytes + 4,  // a section header alone
};

}  // namespace morph
