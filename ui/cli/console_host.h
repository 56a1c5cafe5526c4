// The console front end's host: messages to standard error as
// "Caption: text", a one-line progress display on a terminal, Ctrl-C as Stop.
#pragma once
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/progress.h"

namespace morph {

class ConsoleHost : public Host {
 public:
  // showProgress: draw the progress line (only when stderr is a terminal).
  explicit ConsoleHost(bool showProgress, std::FILE* out = stderr);
  ~ConsoleHost() override;

  void message(const std::string& caption, const std::string& text, MessageIcon icon) override;
  // The fixed message, then the reason on a line of its own.
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override;
  // The source the next messages are about: read-failure details name it,
  // and in a batch (prefixLines) every line starts with it.
  void setSource(const std::string& path, bool prefixLines);
  Answer ask(const std::string& caption, const std::string& text, bool yesToAll) override;
  bool stopRequested() override;
  void progress(const ProgressView& view) override;

  int messagesShown() const { return messages_; }

 private:
  void clearLine();
  std::FILE* out_;
  bool showProgress_;
  bool lineDrawn_ = false;
  int messages_ = 0;
  std::string source_;
  std::string prefix_;
};

// One message a conversion showed: "Caption: text" and, for a failed read
// or write, the reason on its own line.
struct ShownMessage {
  std::string line;
  std::string detail;
};

// The host of one source when several convert at once, or when --json
// gathers the messages: keeps every message and, when printing, writes each
// one as whole lines that start with the source, never mixed with another
// thread's. No progress display.
class GatheringHost : public Host {
 public:
  GatheringHost(std::string source, bool print, std::FILE* out = stderr);
  void message(const std::string& caption, const std::string& text, MessageIcon icon) override;
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override;
  Answer ask(const std::string& caption, const std::string& text, bool yesToAll) override;
  bool stopRequested() override;

  std::vector<ShownMessage> shown;

 private:
  std::string source_;
  bool print_;
  std::FILE* out_;
};

// Writes text (whole lines) to `out` while no other thread writes there.
void PrintLines(const std::string& text, std::FILE* out = stderr);

// Installs the handler that turns Ctrl-C, SIGTERM and SIGHUP into a Stop (a
// finished target with the frames so far); a second signal ends the program.
void InstallStopOnInterrupt();
std::atomic<bool>& InterruptFlag();

}  // namespace morph
