// Renders the main window with a source loaded and the progress window
// with a finished conversion into PNG files. Run under a display (Xvfb):
//   morphalite_screenshots SOURCE OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "engine/progress.h"
#include "ui/desktop/main_window.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/prompter.h"

namespace {

// Screenshots show no message boxes.
class QuietPrompter : public morph::Prompter {
 public:
  void message(QWidget*, const QString& caption, const QString& text, morph::MessageIcon) override {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
  }
  morph::Answer ask(QWidget*, const QString&, const QString&, bool) override {
    return morph::Answer::No;
  }
};

bool Save(QWidget& widget, const QString& path) {
  widget.show();
  QApplication::processEvents();
  bool ok = widget.window()->grab().save(path);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: morphalite_screenshots SOURCE OUTPUT_DIR\n");
    return 1;
  }
  QString source = QString::fromLocal8Bit(argv[1]);
  QDir output(QString::fromLocal8Bit(argv[2]));
  QTemporaryDir settings;
  QuietPrompter prompter;
  morph::TMainForm window(prompter, settings.filePath("settings.ini"));
  window.show();
  window.chooseSources({source});
  bool ok = Save(window, output.filePath("main-window.png"));

  morph::ProgressView view;
  view.caption = "Converting " + QFileInfo(source).fileName().toStdString();
  view.framesWritten = morph::WithThousands(1000000);
  view.nonDataFrames = "0";
  view.frameBytes = morph::WithThousands(96000000);
  view.traceDuration = morph::DurationText(3723);
  view.percent = 100;
  view.pctComplete = "Done.";
  view.buttonCaption = "&OK";
  view.finished = true;
  morph::TProcessTraceFileForm& progress = window.progressWindow();
  progress.reset();
  progress.render(view);
  ok = Save(progress, output.filePath("progress-window.png")) && ok;
  return ok ? 0 : 1;
}
