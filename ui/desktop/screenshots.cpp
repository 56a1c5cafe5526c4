// Renders the windows of the README into PNG files: the main window with a
// source loaded, the two option dialogs, the help window and the progress
// window of a finished conversion. Run under a display (Xvfb):
//   morphalite_screenshots SOURCE OUTPUT_DIR HELP_DIR [POINT_SIZE]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
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

// Screenshots show no message boxes; the last failure is kept to be shown
// on its own.
class QuietPrompter : public morph::Prompter {
 public:
  void message(QWidget*, const QString& caption, const QString& text, morph::MessageIcon) override {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
  }
  void failure(QWidget* parent, const QString& caption, const QString& text, const QString& detail,
               morph::MessageIcon icon) override {
    lastCaption = caption;
    lastText = text;
    lastDetail = detail;
    message(parent, caption, text + " " + detail, icon);
  }
  QString lastCaption, lastText, lastDetail;
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

  // Several sources, one of them cut short: the list, the results of the
  // run and the read error's box, which names the file.
  const QDir folder = QFileInfo(source).dir();
  QStringList batch;
  for (const char* name : {"monday.pcap", "tuesday.pcap", "damaged.pcap"}) {
    batch << folder.filePath(name);
    QFile::remove(batch.back());
    QFile::copy(source, batch.back());
  }
  QFile cut(batch.back());
  if (cut.open(QIODevice::ReadWrite)) cut.resize(cut.size() / 2 + 7);
  cut.close();
  window.show();
  window.chooseSources(batch);
  ok = Save(window, output.filePath("batch-window.png")) && ok;
  window.show();
  window.convertClicked();
  if (morph::ResultsDialog* results = window.resultsDialog())
    ok = Save(*results, output.filePath("results-window.png")) && ok;
  ok = Save(window, output.filePath("main-window-after-batch.png")) && ok;
  QMessageBox error(QMessageBox::Critical, prompter.lastCaption, prompter.lastText, QMessageBox::Ok,
                    &window);
  error.setInformativeText(prompter.lastDetail);
  ok = Save(error, output.filePath("error-names-file.png")) && ok;
  for (const QString& file : QDir(folder).entryList(QDir::Files))
    if (file != QFileInfo(source).fileName()) QFile::remove(folder.filePath(file));

  morph::ProgressView view;
  view.caption = "Converting " + QFileInfo(source).fileName().toStdString();
  view.framesWritten = morph::WithThousands(1000000);
  view.nonDataFrames = "0";
  view.frameBytes = morph::WithThousands(96000000);
  view.traceDuration = morph::DurationText(3723);
  view.percent = 100;
  view.pctComplete = "Done.";
  view.buttonCaption = "&Close";
  view.finished = true;
  morph::ProgressWindow& progress = window.progressWindow();
  progress.reset();
  progress.render(view);
  ok = Save(progress, output.filePath("progress-window.png")) && ok;
  return ok ? 0 : 1;
}
