// convert_one SOURCE TARGET: converts SOURCE to libpcap through the library
// and prints how many frames were written.
#include <morphalite/morphalite.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: convert_one SOURCE TARGET\n");
    return 2;
  }
  const morphalite::ConversionReport report = morphalite::Convert(argv[1], "TD", argv[2]);
  for (const std::string& message : report.messages) std::fprintf(stderr, "%s\n", message.c_str());
  if (!report.detail.empty()) std::fprintf(stderr, "  %s\n", report.detail.c_str());
  std::printf("%lld frames\n", static_cast<long long>(report.framesWritten));
  return report.status;
}
