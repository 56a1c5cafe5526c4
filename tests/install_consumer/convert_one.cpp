// convert_one SOURCE TARGET: converts SOURCE to libpcap through the library
// and prints how many frames were written.
#include <cstdio>

#include "engine/morphalite.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: convert_one SOURCE TARGET\n");
    return 2;
  }
  morph::JobRequest request;
  request.sourcePath = argv[1];
  request.targetPath = argv[2];
  request.target = morph::Analyzer::Tcpdump;
  request.overwrite = true;
  const morph::ConvertReport report = morph::ConvertFile(request);
  for (const std::string& message : report.messages) std::fprintf(stderr, "%s\n", message.c_str());
  std::printf("%d frames\n", report.framesWritten);
  return report.outcome == morph::Outcome::Converted ? 0 : 1;
}
