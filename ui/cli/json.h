// The console's JSON output (identify --json, convert --json): one object
// per line, written with these few helpers.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "engine/losses.h"

namespace morph {

// A JSON string of a file name or other system text: valid UTF-8 passes as
// it is; every byte that is not part of valid UTF-8 becomes "\udcXX" (the
// surrogate escape of Python's os.fsdecode), so names that are not UTF-8
// round-trip: os.fsencode(json.loads(text)) gives the bytes back.
std::string JsonString(const std::string& text);
// The same, or null for an empty text.
std::string JsonOrNull(const std::string& text);
// A JSON string of text from inside a trace file (comments): the files
// store one byte per character, read as Latin-1.
std::string JsonLatin1(const std::string& text);
// "2026-12-09T03:37:06.123456Z" in quotes, or null when unknown.
std::string JsonTime(std::optional<int64_t> unixMicros);
// The same time without quotes ("" when unknown), for text output.
std::string IsoTime(std::optional<int64_t> unixMicros);
// What a conversion lost: {} when nothing, else the bytes and the damaged
// spans (records) salvage passed over and every count of what the target
// could not hold that is not 0, named as FrameLosses names it.
std::string JsonLosses(int64_t skippedBytes, int64_t skippedRecords,
                       const FrameLosses& target = {});

}  // namespace morph
