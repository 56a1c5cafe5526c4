#include "ui/cli/console_host.h"

#include <unistd.h>

#include <csignal>
#include <string>

namespace morph {
namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
  if (gInterrupted.exchange(true)) _exit(130);
}

}  // namespace

std::atomic<bool>& InterruptFlag() { return gInterrupted; }

void InstallStopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // reads and writes go on; the pipeline stops at the next frame
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

ConsoleHost::ConsoleHost(bool showProgress, std::FILE* out)
    : out_(out), showProgress_(showProgress && isatty(fileno(out))) {}

ConsoleHost::~ConsoleHost() { clearLine(); }

void ConsoleHost::clearLine() {
  if (!lineDrawn_) return;
  std::fputs("\n", out_);
  lineDrawn_ = false;
}

void ConsoleHost::message(const std::string& caption, const std::string& text, MessageIcon) {
  clearLine();
  std::fprintf(out_, "%s%s: %s\n", prefix_.c_str(), caption.c_str(), text.c_str());
  std::fflush(out_);
  ++messages_;
}

void ConsoleHost::failure(const std::string& caption, const std::string& text,
                          const std::string& detail, MessageIcon icon) {
  message(caption, text, icon);
  if (detail.empty()) return;
  // Reasons from the system name their file; a reader's names a record.
  const bool aboutSource = text.find("source file") != std::string::npos;
  const bool named = detail.compare(0, source_.size(), source_) == 0;
  const std::string line = aboutSource && !named && !source_.empty() ? source_ + ": " + detail : detail;
  std::fprintf(out_, "%s  %s\n", prefix_.c_str(), line.c_str());
  std::fflush(out_);
}

void ConsoleHost::setSource(const std::string& path, bool prefixLines) {
  source_ = path;
  prefix_ = prefixLines ? path + ": " : "";
}

Answer ConsoleHost::ask(const std::string& caption, const std::string& text, bool) {
  // Nothing waits for a user here: the console always overwrites, and says so.
  message(caption, text + " Yes", MessageIcon::Question);
  return Answer::Yes;
}

bool ConsoleHost::stopRequested() { return gInterrupted.load(std::memory_order_relaxed); }

void ConsoleHost::progress(const ProgressView& v) {
  if (!showProgress_) return;
  std::string line = "\r" + v.pctComplete + "  Frames Written: " + v.framesWritten +
                     "  Non-data Frames: " + v.nonDataFrames + "  Frame Bytes: " + v.frameBytes +
                     "  Trace Duration: " + v.traceDuration + "\x1b[K";
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  lineDrawn_ = true;
  if (v.finished) clearLine();
}

}  // namespace morph
