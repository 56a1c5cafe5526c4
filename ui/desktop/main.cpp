// The program: console command lines run on the console; everything else
// opens the window, or falls back to the console when there is no display.
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/cli/command_line.h"
#include "ui/desktop/application.h"
#include "ui/desktop/desktop_settings.h"
#include "ui/cli/display.h"
#include "ui/desktop/main_window.h"
#include "ui/desktop/prompter.h"

namespace {

int ExitStatus(morph::Outcome outcome) {
  using morph::Outcome;
  namespace Exit = morph::Exit;
  switch (outcome) {
    case Outcome::Converted: return Exit::Ok;
    case Outcome::SourceRefused: return Exit::SourceRefused;
    case Outcome::ReadError: return Exit::ReadError;
    case Outcome::NoFrames: return Exit::NoFrames;
    case Outcome::Stopped: return Exit::Stopped;
    case Outcome::BadCompression: return Exit::BadCompression;
    case Outcome::WouldLoseData: return Exit::WouldLoseData;
    default: return Exit::WriteFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (morph::ClassifyCommandLine(args) == morph::LaunchMode::Console || !morph::DisplayAvailable())
    return morph::RunCommandLine(args);

  morph::MorphaliteApplication app(argc, argv);
  morph::BoxPrompter prompter;
  morph::MainWindow window(prompter, morph::DefaultSettingsFile());
  window.show();

  QStringList startArgs;
  for (const std::string& a : args) startArgs << QString::fromLocal8Bit(a.c_str());
  int status = morph::Exit::Ok;
  // The start arguments are handled once the window is on screen.
  QTimer::singleShot(0, &window, [&] {
    try {
      morph::Outcome outcome{};
      if (window.handleStartArguments(startArgs, &outcome)) {
        status = ExitStatus(outcome);
        window.close();
      }
    } catch (...) {
      app.showCurrentError();
    }
  });
  int loopStatus = app.exec();
  return loopStatus != 0 ? loopStatus : status;
}
