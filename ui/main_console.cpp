// The program without a desktop window: every command line runs on the console.
#include <string>
#include <vector>

#include "ui/cli/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return morph::RunCommandLine(args);
}
