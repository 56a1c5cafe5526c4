// Renders the windows of the README into PNG files: the main window with a
// source loaded, the two option dialogs, the help window and the progress
// window of a finished conversion. Run under a display (Xvfb):
//   morphalite_screenshots SOURCE OUTPUT_DIR HELP_DIR [POINT_SIZE]
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "engine/progress.h"
#include "ui/desktop/main_window.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/prompter.h"
#include "ui/desktop/tcpdump_options.h"
#include "ui/desktop/text_options.h"

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
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  bool ok = widget.window()->grab().save(path);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
  widget.hide();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: morphalite_screenshots SOURCE OUTPUT_DIR HELP_DIR [POINT_SIZE]\n");
    return 1;
  }
  if (argc > 4) {
    QFont font = QApplication::font();
    font.setPointSize(QString(argv[4]).toInt());
    QApplication::setFont(font);
  }
  QString source = QString::fromLocal8Bit(argv[1]);
  QDir output(QString::fromLocal8Bit(argv[2]));
  QTemporaryDir settings;
  QuietPrompter prompter;
  morph::MainWindow window(prompter, settings.filePath("settings.ini"));
  window.show();
  window.chooseSources({source});
  bool ok = Save(window, output.filePath("main-window.png"));

  morph::TcpdumpOptionsDialog& pcap = window.tcpdumpOptionsDialog();
  pcap.load(true, false);
  ok = Save(pcap, output.filePath("libpcap-options.png")) && ok;
  ok = Save(window.textOptionsDialog(), output.filePath("text-options.png")) && ok;

  // The help as it shows where no browser opens it.
  window.setProgramDirectory(QString::fromLocal8Bit(argv[3]));
  window.setUrlOpener([](const QUrl&) { return false; });
  window.helpTopics();
  if (QWidget* help = window.documentWindow()) ok = Save(*help, output.filePath("help-window.png")) && ok;

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
  morph::ProgressWindow& progress = window.progressWindow();
  progress.reset();
  progress.render(view);
  ok = Save(progress, output.filePath("progress-window.png")) && ok;
  return ok ? 0 : 1;
}
