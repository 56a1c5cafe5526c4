#include "engine/failure.h"

#include <cerrno>
#include <cstring>

namespace morph {

bool FailRead(ConversionState& s, const std::string& detail) {
  if (s.status.readErrorDetail.empty()) s.status.readErrorDetail = detail;
  s.status.readError = true;
  return false;
}

void FailWrite(ConversionState& s, const std::string& detail) {
  if (s.status.writeErrorDetail.empty()) s.status.writeErrorDetail = detail;
  s.status.writeFailed = true;
}

std::string Grouped(int64_t n) {
  const bool negative = n < 0;
  uint64_t magnitude = negative ? 0 - uint64_t(n) : uint64_t(n);
  std::string digits = std::to_string(magnitude);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

std::string AtRecord(int64_t record, int64_t offset) {
  return "record " + Grouped(record) + " at offset " + Grouped(offset) + ": ";
}

std::string AtOffset(int64_t offset) { return "offset " + Grouped(offset) + ": "; }

std::string SystemErrorDetail(const std::string& path) {
  return path + ": " + SystemErrorText(errno);
}

std::string SystemErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r: returns the text, in the buffer or a static table.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace morph
