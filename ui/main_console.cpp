// The program. Command lines run on the console; where this build has a
// window and a display answers, a window is the window program beside this
// one, so that console work never loads the window's libraries.
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ui/cli/command_line.h"
#include "ui/cli/display.h"

namespace {

#ifdef MORPHALITE_WINDOW_PROGRAM
// Replaces this process by the window program in this program's folder;
// returns only when that cannot be done.
void OpenWindowProgram(char** argv) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  std::string path(self, size_t(n));
  path = path.substr(0, path.rfind('/') + 1) + MORPHALITE_WINDOW_PROGRAM;
  execv(path.c_str(), argv);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#ifdef MORPHALITE_WINDOW_PROGRAM
  if (morph::ClassifyCommandLine(args) == morph::LaunchMode::Desktop && morph::DisplayAvailable())
    OpenWindowProgram(argv);
#endif
  // A closed output pipe (-o - | head) and a file-size limit (ulimit -f,
  // also while standard input is spooled) are write failures with a message
  // and a status, not a silent end that skips every clean-up.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  return morph::RunCommandLine(args);
}
