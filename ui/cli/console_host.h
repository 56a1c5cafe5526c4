// The console front end's host: messages to standard error as
// "Caption: text", a one-line progress display on a terminal, Ctrl-C as Stop.
#pragma once
#include <atomic>
#include <cstdio>

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

// Installs the handler that turns Ctrl-C, SIGTERM and SIGHUP into a Stop (a
// finished target with the frames so far); a second signal ends the program.
void InstallStopOnInterrupt();
std::atomic<bool>& InterruptFlag();

}  // namespace morph
