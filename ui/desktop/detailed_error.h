// An error that carries, beside its message, the reason behind it (a path,
// the system's error); the error dialog shows the reason under "Details".
#pragma once
#include <stdexcept>
#include <string>

namespace morph {

class DetailedError : public std::runtime_error {
 public:
  DetailedError(const std::string& message, std::string detail = {})
      : std::runtime_error(message), detail_(std::move(detail)) {}
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};

}  // namespace morph
