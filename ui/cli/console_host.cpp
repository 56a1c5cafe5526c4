#include "ui/cli/console_host.h"

#include <unistd.h>

#include <csignal>
#include <mutex>
#include <string>

namespace morph {
namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
  if (gInterrupted.exchange(true)) _exit(130);
}

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

// Reasons from the system name their file; a reader's names a record, so
// the source is put before it.
std::string DetailLine(const std::string& text, const std::string& detail,
                       const std::string& source) {
  const bool aboutSource = text.find("source file") != std::string::npos;
  const bool named = detail.compare(0, source.size(), source) == 0;
  return aboutSource && !named && !source.empty() ? source + ": " + detail : detail;
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
  std::fprintf(out_, "%s  %s\n", prefix_.c_str(), DetailLine(text, detail, source_).c_str());
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

void PrintLines(const std::string& text, std::FILE* out) {
  std::lock_guard<std::mutex> lock(OutputMutex());
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

GatheringHost::GatheringHost(std::string source, bool print, std::FILE* out)
    : source_(std::move(source)), print_(print), out_(out) {}

void GatheringHost::message(const std::string& caption, const std::string& text, MessageIcon icon) {
  failure(caption, text, "", icon);
}

void GatheringHost::failure(const std::string& caption, const std::string& text,
                            const std::string& detail, MessageIcon) {
  ShownMessage m{caption + ": " + text, detail.empty() ? "" : DetailLine(text, detail, source_)};
  if (print_)
    PrintLines(source_ + ": " + m.line + "\n" +
                   (m.detail.empty() ? "" : source_ + ":   " + m.detail + "\n"),
               out_);
  shown.push_back(std::move(m));
}

Answer GatheringHost::ask(const std::string& caption, const std::string& text, bool) {
  message(caption, text + " Yes", MessageIcon::Question);
  return Answer::Yes;
}

bool GatheringHost::stopRequested() { return gInterrupted.load(std::memory_order_relaxed); }

}  // namespace morph
