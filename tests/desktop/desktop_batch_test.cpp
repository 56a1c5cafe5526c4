// Runs of several files and what the window tells of them: the list of
// sources, one Stop for the whole run, the result view and the lasting
// status line, errors that name their file, and a busy window that takes
// nothing new while it converts.
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <csignal>

#include "desktop_fixtures.h"
#include "engine/catalogue.h"
#include "engine/replacement_file.h"
#include "formats/pcap.h"
#include "formats/snoop.h"
#include "formats/text_dump.h"
#include "ui/desktop/progress_window.h"

using namespace morph;
using namespace morph::testing;

namespace {

const QString kTcpdump = QString::fromStdString(AnalyzerName(Analyzer::Tcpdump));

void DropOn(QWidget& window, QWidget& target, const QStringList& paths) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  mime.setUrls(urls);
  const QPointF at = target.mapTo(&window, target.rect().center());
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
}

QStringList Outcomes(const MainWindow& w) {
  QStringList words;
  for (const BatchEntry& e : w.lastRun()) words << OutcomeWord(e);
  return words;
}

// Cuts a file to its first `bytes` bytes.
void Truncate(const QString& path, qint64 bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadWrite));
  QVERIFY(file.resize(bytes));
}

// Runs `step` once, the first time the progress window is on screen.
void WhileConverting(MainWindow& w, QTimer& timer, std::function<void()> step) {
  QObject::connect(&timer, &QTimer::timeout, [&w, &timer, step] {
    if (!w.progressWindow().isVisible()) return;
    timer.stop();
    step();
  });
  timer.start(10);
}

class StopOnFirstShow : public QObject {
 public:
  explicit StopOnFirstShow(ProgressWindow& p) : progress_(p) { p.installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && !done_) {
      done_ = true;
      progress_.pressStop();
    }
    return false;
  }

 private:
  ProgressWindow& progress_;
  bool done_ = false;
};

}  // namespace

class BatchTest : public QObject {
  Q_OBJECT
 private slots:
  void severalSourcesAreAListToAddToAndRemoveFrom();
  void refusedSourcesChangeNeitherTargetNorSettings();
  void resultViewNamesEachFileAndItsReason();
  void oneStopEndsTheWholeRun();
  void busyWindowRefusesDropsEditsAndReopen();
  void fullDiskNamesTheTargetAndKeepsNothing();
  void existingFolderTakesTheDefaultName();
  void windowIconShortcutsAndSharpIcons();
};

void BatchTest::severalSourcesAreAListToAddToAndRemoveFrom() {
  WindowFixture f;
  MainWindow& w = *f.window;
  w.show();
  // A ';' in a name is a character like any other.
  const QStringList files{f.path("a.pcap"), f.path("b;c.pcap"), f.path("d.pcap")};
  for (const QString& p : files) WritePcap(p, {});
  w.chooseSources({files[0]});
  QApplication::processEvents();
  const int width = w.width();
  w.chooseSources({files[0], files[1]});
  QApplication::processEvents();
  QCOMPARE(w.width(), width);  // the window keeps its width
  auto* list = Child<QListWidget>(w, "SourceList");
  QVERIFY(list->isVisible());
  QVERIFY(!Child<QLineEdit>(w, "SourceField")->isVisible());
  QCOMPARE(w.sources(), (QStringList{files[0], files[1]}));
  QCOMPARE(list->count(), 2);

  DropOn(w, *list, {files[2], files[0]});  // onto the list: added, once each
  QCOMPARE(w.sources(), files);

  list->setCurrentRow(1);
  Child<QPushButton>(w, "RemoveSourceButton")->click();
  QCOMPARE(w.sources(), (QStringList{files[0], files[2]}));
  list->setCurrentRow(0);
  Child<QPushButton>(w, "RemoveSourceButton")->click();
  // One left: the single field again.
  QVERIFY(!w.severalSources());
  QCOMPARE(Child<QLineEdit>(w, "SourceField")->text(), files[2]);
  QVERIFY(!list->isVisible());

  // Dropped outside the list, several files replace the sources.
  w.chooseSources({files[0], files[2]});
  DropOn(w, *Child<QLineEdit>(w, "DestinationField"), {files[1], files[2]});
  QCOMPARE(w.sources(), (QStringList{files[1], files[2]}));
  QVERIFY(f.prompter.shown.empty());
}

void BatchTest::refusedSourcesChangeNeitherTargetNorSettings() {
  WindowFixture f;
  WritePcap(f.path("a.pcap"), {});
  WritePcap(f.path("b.pcap"), {});
  WriteText(f.path("junk.pcap"), QByteArray(400, 'x'));
  f.window->chooseSources({f.path("a.pcap")});
  QVERIFY(ChooseFormat(*f.window, kTcpdump));
  const QStringList formats = FormatItems(*f.window);

  // Among several files: named in one box, left out of the list.
  f.window->chooseSources({f.path("a.pcap"), f.path("junk.pcap"), f.path("b.pcap")});
  QCOMPARE(f.prompter.texts(),
           QStringList{"junk.pcap is obsolete, not supported, or not a trace file."});
  QCOMPARE(f.window->sources(), (QStringList{f.path("a.pcap"), f.path("b.pcap")}));
  QCOMPARE(f.window->targetAnalyzer(), Analyzer::Tcpdump);

  // Alone: the fact boxes and the status line say why; the list stays.
  f.window->chooseSources({f.path("junk.pcap")});
  QVERIFY(Child<QLineEdit>(*f.window, "AnalyzerType")->text().contains("not a trace file"));
  QVERIFY(f.window->resultLine().contains("junk.pcap"));
  QCOMPARE(FormatItems(*f.window), formats);
  QCOMPARE(f.window->targetAnalyzer(), Analyzer::Tcpdump);
  f.reopenWindow();
  QCOMPARE(f.window->targetAnalyzer(), Analyzer::Tcpdump);
  QCOMPARE(LoadSettings(f.settingsFile).lastTargetAnalyzer, Number(Analyzer::Tcpdump));
}

void BatchTest::resultViewNamesEachFileAndItsReason() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QList<QUrl> opened;
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  WritePcap(f.path("good.pcap"), {1, 20, 60, false});
  WritePcap(f.path("cut.pcap"), {1, 20, 60, false});
  w.chooseSources({f.path("good.pcap"), f.path("cut.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  QDir(f.dir.path()).mkdir("out");
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("out/"));
  // Cut in the middle of the tenth record, after it was accepted.
  Truncate(f.path("cut.pcap"), 24 + 9 * 76 + 30);
  ConvertPressingOk(w);

  QCOMPARE(Outcomes(w), (QStringList{"Converted", "Failed"}));
  // The read error's box names the file it is about.
  QStringList errors;
  for (const ShownMessage& m : f.prompter.shown)
    if (m.icon == MessageIcon::Error) errors << m.text;
  QCOMPARE(errors.size(), 1);
  QVERIFY2(errors[0].contains(f.path("cut.pcap")), qPrintable(errors[0]));
  const QString reason = EntryReason(w.lastRun()[1]);
  QVERIFY2(reason.contains("offset"), qPrintable(reason));

  // The status line lasts: a menu's tip does not erase it.
  QCOMPARE(w.resultLine(), QString("1 of 2 converted"));
  w.statusBar()->showMessage("Open a new analyzer trace file");
  QCOMPARE(w.resultLine(), QString("1 of 2 converted"));
  QVERIFY(Child<QLabel>(w, "ResultLabel")->isVisibleTo(&w));

  ResultsDialog* view = w.resultsDialog();
  QVERIFY(view && view->isVisible());
  QTreeWidget& table = view->table();
  QCOMPARE(table.topLevelItemCount(), 2);
  QCOMPARE(table.topLevelItem(0)->text(0), QString("good.pcap"));
  QCOMPARE(table.topLevelItem(0)->text(2), QString("20"));
  QCOMPARE(table.topLevelItem(1)->text(1), QString("Failed"));
  QCOMPARE(table.topLevelItem(1)->text(4), reason);

  Child<QPushButton>(*view, "CopyReportButton")->click();
  const QStringList report = QApplication::clipboard()->text().split('\n');
  QCOMPARE(report.value(0), QString("1 of 2 converted"));
  QVERIFY(report.value(1).startsWith(f.path("good.pcap") + "\tConverted\t20\t" + f.path("out/")));
  QVERIFY(report.value(2).startsWith(f.path("cut.pcap") + "\tFailed\t9\t"));

  table.setCurrentItem(table.topLevelItem(0));
  Child<QPushButton>(*view, "ShowInFolderButton")->click();
  QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(f.path("out"))});

  // A long line is cut with an ellipsis and shown whole in the tooltip.
  auto* label = Child<QLabel>(w, "ResultLabel");
  w.show();
  w.resize(300, w.height());
  QApplication::processEvents();
  const QString longName = QString(200, 'n') + ".pcap";
  WriteText(f.path(longName), QByteArray(100, 'x'));
  w.chooseSources({f.path(longName)});
  QVERIFY(label->toolTip().contains(longName));
  QVERIFY2(label->text().endsWith(QChar(0x2026)), qPrintable(label->text()));
}

void BatchTest::oneStopEndsTheWholeRun() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QStringList files;
  for (const char* name : {"1.pcap", "2.pcap", "3.pcap"}) {
    files << f.path(name);
    WritePcap(files.back(), {1, 400000, 60, false});
  }
  w.chooseSources(files);
  // A target written frame by frame, so the first file takes long enough to stop.
  QVERIFY(ChooseFormat(w, QString::fromStdString(AnalyzerName(Analyzer::Snoop))));
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("out/"));
  QDir(f.dir.path()).mkdir("out");
  // Stop the moment the progress window first shows.
  StopOnFirstShow stopper(w.progressWindow());
  ConvertPressingOk(w);
  if (w.lastRun().front().result.outcome == Outcome::Converted)
    QSKIP("the first file was converted before the progress window showed");
  QCOMPARE(Outcomes(w), (QStringList{"Stopped", "Not started", "Not started"}));
  QCOMPARE(w.resultLine(), QString("0 of 3 converted, stopped"));
  QCOMPARE(QDir(f.path("out")).entryList(QDir::Files).size(), 1);  // the part of the first
}

void BatchTest::busyWindowRefusesDropsEditsAndReopen() {
  WindowFixture f;
  WritePcap(f.path("other.pcap"), {});
  DesktopSettings saved = LoadSettings(f.settingsFile);
  saved.recentFiles = QStringList{f.path("other.pcap"), "", "", "", "", "", "", ""};
  SaveSettings(f.settingsFile, saved);
  f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
  MainWindow& w = *f.window;
  w.show();
  WritePcap(f.path("big.pcap"), {1, 400000, 60, false});
  w.chooseSources({f.path("big.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  auto* field = Child<QLineEdit>(w, "SourceField");
  bool readOnly = false, busy = false;
  QTimer meddler;
  WhileConverting(w, meddler, [&] {
    busy = w.busy();
    readOnly = field->isReadOnly();
    DropOn(w, *field, {f.path("other.pcap")});
    w.openRecent(0);
    w.chooseSources({f.path("other.pcap")});
  });
  ConvertPressingOk(w);
  QVERIFY(busy);
  QVERIFY(readOnly);
  QCOMPARE(field->text(), f.path("big.pcap"));
  QCOMPARE(w.lastRun().size(), size_t(1));
  QCOMPARE(w.lastRun()[0].source, f.path("big.pcap"));
  // Reopen lists what was converted, once.
  QCOMPARE(w.recentFiles().value(0), f.path("big.pcap"));
  QCOMPARE(w.recentFiles().count(f.path("other.pcap")), 1);
  QVERIFY(!field->isReadOnly());
}

void BatchTest::fullDiskNamesTheTargetAndKeepsNothing() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("capture.pcap"), {1, 3000, 100, false});
  w.chooseSources({f.path("capture.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  QDir(f.dir.path()).mkdir("out");
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("out/capture.dmp"));
  // The file-size limit stands in for a full disk: writes past it fail.
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  ConvertPressingOk(w);
  setrlimit(RLIMIT_FSIZE, &before);

  QCOMPARE(w.lastOutcome(), Outcome::WriteFailed);
  QVERIFY(QDir(f.path("out")).entryList(QDir::Files | QDir::Hidden).isEmpty());
  QVERIFY2(w.resultLine().startsWith("Write error: capture.dmp not written"),
           qPrintable(w.resultLine()));
  const QString said = f.prompter.texts().join('\n');
  QVERIFY2(said.contains("capture.dmp") && !said.contains(kTemporaryPrefix) &&
               !said.contains("/proc/self/fd"),
           qPrintable(said));
  QCOMPARE(Child<QLabel>(w.progressWindow(), "StateLabel")->text(), QString("Failed"));
  QCOMPARE(Child<QPushButton>(w.progressWindow(), "StopButton")->text(), QString("&Close"));
}

void BatchTest::existingFolderTakesTheDefaultName() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("data.pcap"), {1, 5, 60, false});
  QDir(f.dir.path()).mkdir("data");
  w.chooseSources({f.path("data.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  const QString name = QFileInfo(Child<QLineEdit>(w, "DestinationField")->text()).fileName();
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("data"));
  ConvertPressingOk(w);
  QStringList asked;
  for (const ShownMessage& q : f.prompter.questions) asked << q.text;
  QVERIFY2(asked.isEmpty(), qPrintable(asked.join('\n')));
  QCOMPARE(w.lastOutcome(), Outcome::Converted);
  QCOMPARE(CountPcapRecords(f.path("data/") + name), 5);
}

void BatchTest::windowIconShortcutsAndSharpIcons() {
  WindowFixture f;
  MainWindow& w = *f.window;
  // Drawn icons render at any size: sharp at 150 % and above.
  QCOMPARE(w.windowIcon().pixmap(QSize(96, 96)).size(), QSize(96, 96));
  auto* browse = w.findChild<QWidget*>("BrowseSourceButton");
  QCOMPARE(static_cast<QAbstractButton*>(browse)->icon().pixmap(QSize(48, 48)).size(),
           QSize(48, 48));
  QCOMPARE(Child<QAction>(w, "ExitItem")->shortcut(), QKeySequence("Ctrl+Q"));
  QCOMPARE(OptionsDialogFor(Analyzer::Tcpdump), OptionsDialog::ByteOrderAndLayout);
  QCOMPARE(OptionsDialogFor(Analyzer::Ascii), OptionsDialog::LineFields);
  QCOMPARE(OptionsDialogFor(Analyzer::Snoop), OptionsDialog::None);

  // Qt's own file dialog, widened once shown: names and dates fit.
  QFileDialog dialog(&w, "Open Trace File", f.dir.path());
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setViewMode(QFileDialog::Detail);
  dialog.show();
  WidenFileDialogColumns(dialog);
  auto* view = dialog.findChild<QTreeView*>("treeView");
  QVERIFY(view);
  const int x = dialog.fontMetrics().horizontalAdvance('x');
  QVERIFY(view->header()->sectionSize(0) >= 45 * x);
  QVERIFY(view->header()->sectionSize(3) >=
          dialog.fontMetrics().horizontalAdvance("99/99/9999 99:99 XM"));
}

QTEST_MAIN(BatchTest)
#include "desktop_batch_test.moc"
