// Why a read or a write failed. Readers and writers still end on the
// readError / writeFailed flags; beside them they keep a detail a person can
// act on ("record 1,204 at offset 96,331: captured length 70,000 exceeds
// 65,535"), which front ends show after the fixed message.
#pragma once
#include <cstdint>
#include <string>

#include "engine/state.h"

namespace morph {

// Marks the read / write as failed with its reason; the first reason of a
// conversion stands. FailRead returns false so a reader's step can end with
// `return FailRead(...)`.
bool FailRead(ConversionState& s, const std::string& detail);
void FailWrite(ConversionState& s, const std::string& detail);

// A number with thousands separators: 96331 -> "96,331".
std::string Grouped(int64_t n);
// "record 1,204 at offset 96,331: "
std::string AtRecord(int64_t record, int64_t offset);
// "offset 96,331: "
std::string AtOffset(int64_t offset);
// The path with the system's reason for the last failure (errno).
std::string SystemErrorDetail(const std::string& path);
// The system's text for an error number; safe while other threads convert.
std::string SystemErrorText(int error);

}  // namespace morph
