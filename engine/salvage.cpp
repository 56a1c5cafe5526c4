#include "engine/salvage.h"

#include <algorithm>
#include <vector>

#include "engine/conversion.h"
#include "engine/failure.h"

namespace morph {
namespace {

// Bytes read past the look-ahead at each step of a scan: few at first, as
// the next record mostly lies near the damage, doubling up to a megabyte.
constexpr size_t kFirstScanBlock = 4096, kLargestScanBlock = 1 << 20;

struct ScanEnd {
  bool found = false;
  int64_t offset = 0;  // of the record found, or of the source's end
};

// The first offset from `from` on whose bytes `recognises` accepts. The
// bytes are held in a window that always keeps `lookAhead` of them past the
// place tested, where the source has them.
ScanEnd ScanFor(SourceStream& in, int64_t from, size_t lookAhead, const RecordTest& recognises) {
  std::vector<uint8_t> window;
  int64_t base = from;  // source offset of window[0]
  size_t at = 0, block = kFirstScanBlock;
  bool atEnd = !in.seek(from);
  for (;;) {
    if (!atEnd && window.size() - at < lookAhead) {
      window.erase(window.begin(), window.begin() + long(at));
      base += int64_t(at);
      at = 0;
      const size_t held = window.size(), wanted = lookAhead + block;
      window.resize(wanted);
      size_t filled = held;
      for (size_t got; filled < wanted && (got = in.read(window.data() + filled, wanted - filled)) > 0;)
        filled += got;
      window.resize(filled);
      atEnd = filled < wanted;
      block = std::min(2 * block, kLargestScanBlock);
    }
    if (at >= window.size()) return {false, base + int64_t(at)};
    if (recognises(window.data() + at, window.size() - at)) {
      const int64_t offset = base + int64_t(at);
      return {in.seek(offset), offset};
    }
    ++at;
  }
}

}  // namespace

void CountSkipped(ConversionState& s, int64_t bytes, const std::string& reason) {
  if (s.counters.skipped.records == 0) s.counters.skipped.firstReason = reason;
  s.counters.skipped.records += 1;
  s.counters.skipped.bytes += bytes;
}

bool SkipDamaged(Conversion& c, int64_t offset, const std::string& reason, size_t lookAhead,
                 const RecordTest& recognises) {
  ConversionState& s = c.state;
  SourceStream& in = *c.source;
  if (!s.options.salvage || in.failed()) return FailRead(s, reason);
  const ScanEnd end = ScanFor(in, offset + 1, lookAhead, recognises);
  if (in.failed()) return FailRead(s, in.errorText());
  CountSkipped(s, end.offset - offset, reason);
  if (end.found) return true;
  s.status.endOfSource = true;
  return false;
}

std::string SkippedText(const SkippedDamage& skipped) {
  return Grouped(skipped.bytes) + " bytes in " + Grouped(skipped.records) + " damaged " +
         (skipped.records == 1 ? "span" : "spans") + " passed over; the first: " +
         skipped.firstReason;
}

bool WithinSpanOfFirst(std::optional<int64_t> firstSeconds, int64_t seconds) {
  constexpr int64_t kSpanSeconds = 2147483;  // the trace span's 2^31 milliseconds
  if (!firstSeconds) return seconds >= 0;
  return seconds > *firstSeconds - kSpanSeconds && seconds < *firstSeconds + kSpanSeconds;
}

}  // namespace morph
