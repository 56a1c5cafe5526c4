// How the engine reaches the user. Each front end (console, desktop window,
// library caller, tests) implements this; the engine knows nothing else of it.
#pragma once
#include <string>

namespace morph {

enum class MessageIcon { None, Information, Warning, Error, Question };

// Buttons offered by a question; the answer is one of them.
enum class Answer { Ok, Yes, No, YesToAll, Cancel };

struct ProgressView;

class Host {
 public:
  virtual ~Host() = default;
  // A message box: caption, text and icon as the user would see them.
  virtual void message(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
  // A failed read or write: the fixed message and the reason behind it
  // (record, offset, value, or the system's error). Hosts that show no
  // reason show the message alone.
  virtual void failure(const std::string& caption, const std::string& text,
                       const std::string& detail, MessageIcon icon) {
    (void)detail;
    message(caption, text, icon);
  }
  // A yes/no question (yesToAll offers the third button). Unattended hosts
  // answer without waiting.
  virtual Answer ask(const std::string& caption, const std::string& text, bool yesToAll) {
    (void)caption, (void)text, (void)yesToAll;
    return Answer::Yes;
  }
  // One pass of event processing; called at most every few tens of ms.
  virtual void pumpEvents() {}
  // True once the user asked to stop (Stop button, Ctrl-C, window closed).
  virtual bool stopRequested() { return false; }
  // The progress display: called with the counters at the same cadence as
  // pumpEvents, and once more with the final state.
  virtual void progress(const ProgressView& view) { (void)view; }
  // Hold the final state on screen for the given time (desktop only).
  virtual void hold(unsigned milliseconds) { (void)milliseconds; }
};

// A host that shows nothing and never stops (probes, library default).
class SilentHost : public Host {
 public:
  void message(const std::string&, const std::string&, MessageIcon) override {}
};

}  // namespace morph
