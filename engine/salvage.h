// Going on past damage. Without the job's salvage request damage ends the
// reading, as it always has. With it, a reader whose records can be told
// from other bytes scans forward to the next one it recognises and goes on
// from there; the engine counts what was passed over, and the conversion
// then ends as a read error with every frame it kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/state.h"

namespace morph {

class Conversion;

// Whether the bytes at p (n of them: at least the look-ahead the reader
// asked for, fewer only where the source ends) begin a record the reader
// would take.
using RecordTest = std::function<bool(const uint8_t* p, size_t n)>;

// Damage met at `offset` (where the record that failed begins), with the
// reason a read error would give. Without salvage, or after an I/O error,
// the read fails with that reason (false). With salvage the source is
// scanned from the byte after `offset` for the first place `recognises`
// accepts: the bytes before it count as skipped and the stream stands
// there (true). When no such place comes, the rest of the source counts as
// skipped and the reading ends at its end (endOfSource, false).
bool SkipDamaged(Conversion& c, int64_t offset, const std::string& reason, size_t lookAhead,
                 const RecordTest& recognises);

// Counts `bytes` passed over in one damaged span; the first reason stands.
void CountSkipped(ConversionState& s, int64_t bytes, const std::string& reason);

// The console line: "1,234 bytes in 2 damaged spans passed over; the first: ...".
std::string SkippedText(const SkippedDamage& skipped);

// Whether a record time (UTC seconds) lies within the span a trace may
// cover, about 24 days either side of the first record's; before the first
// record, any time from 1970 on.
bool WithinSpanOfFirst(std::optional<int64_t> firstSeconds, int64_t seconds);

}  // namespace morph
