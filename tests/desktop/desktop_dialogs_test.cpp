// The small windows: error information, the libpcap and text options, and
// the progress window's Stop, OK and hold.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTimer>
#include <QDir>
#include <QtTest>

#include "desktop_fixtures.h"
#include "engine/progress.h"
#include "ui/desktop/application.h"
#include "ui/desktop/error_dialog.h"
#include "ui/desktop/help.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/tcpdump_options.h"
#include "ui/desktop/text_options.h"

using namespace morph;
using namespace morph::testing;

namespace {

ProgressView Running(int percent) {
  ProgressView v;
  v.caption = "Converting t.pcap";
  v.framesWritten = WithThousands(1234567);
  v.nonDataFrames = "2";
  v.frameBytes = WithThousands(9876543210ULL);
  v.traceDuration = "01:02:03";
  v.percent = percent;
  v.pctComplete = std::to_string(percent) + "% Complete";
  v.buttonCaption = "&Stop";
  return v;
}

// Clicks a radio button or check box on its indicator, as a user would.
void ClickBox(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
}

ProgressView Finished(const char* outcome, bool writeFailed = false) {
  ProgressView v = Running(writeFailed ? 40 : 100);
  v.pctComplete = outcome;
  v.buttonCaption = "&OK";
  v.finished = true;
  return v;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void errorDialogLines();
  void errorDialogButtonEndsTheProgram();
  void uncaughtErrorsNameTheirClass();
  void tcpdumpOptionsRules();
  void tcpdumpOptionsOkAndCancel();
  void textOptionsDefaultsAndCancel();
  void progressShowsTheCounters();
  void stopThenOkShortensTheHold();
  void holdEndsAfterAWriteFailureToo();
  void closingTheWindowStopsTheConversion();
  void missingHelpIsAPlainMessage();
  void errorDialogDetails();
  void finalStateIsNamed();
};

void DialogsTest::errorDialogLines() {
  QCOMPARE(ErrorMessageLine("Cannot open the file"), QString("Cannot open the file."));
  QCOMPARE(ErrorMessageLine("Already ends."), QString("Already ends."));
  QCOMPARE(ErrorMessageLine(""), QString(""));
  QCOMPARE(ErrorMessageLine(QString(300, 'a')).size(), 255);

  ErrorDialog form(nullptr);
  QCOMPARE(form.windowTitle(), QString("Error Information"));
  QCOMPARE(Child<QLabel>(form, "HeadingLabel")->text(), QString("Morphalite has encountered an error:"));
  form.fill("morph::HelpError", "morphalite", "An HTML Help error occurred");
  QCOMPARE(Child<QLabel>(form, "ExceptionLabel")->text(),
           QString("Exception morph::HelpError in Module morphalite."));
  QCOMPARE(Child<QLabel>(form, "MessageLabel")->text(), QString("An HTML Help error occurred."));
}

void DialogsTest::errorDialogButtonEndsTheProgram() {
  int ended = 0;
  ErrorDialog form([&] { ++ended; });
  auto* button = Child<QPushButton>(form, "AbortButton");
  QCOMPARE(button->text(), QString("&Exit"));
  form.show();
  button->click();
  QCOMPARE(ended, 1);
  form.show();
  QTest::keyClick(&form, Qt::Key_Escape);
  QCOMPARE(ended, 2);
  form.show();
  form.close();  // the frame only closes the dialog
  QCOMPARE(ended, 2);
}

void DialogsTest::uncaughtErrorsNameTheirClass() {
  QString name;
  try {
    throw HelpError("x");
  } catch (...) {
    name = CurrentExceptionClass();
  }
  QCOMPARE(name, QString("morph::HelpError"));
  QCOMPARE(CurrentExceptionClass(), QString());
}

void DialogsTest::tcpdumpOptionsRules() {
  TcpdumpOptionsDialog d;
  QCOMPARE(d.windowTitle(), QString("tcpdump/libpcap Output Options"));
  auto* standard = Child<QRadioButton>(d, "StandardLayout");
  auto* modified = Child<QRadioButton>(d, "ModifiedLayout");
  auto* swapYes = Child<QRadioButton>(d, "SwapBytesYes");
  auto* swapNo = Child<QRadioButton>(d, "SwapBytesNo");

  struct Case {
    bool swap, modified;
  } cases[] = {{true, false}, {false, true}, {true, true}, {false, false}};
  for (const Case& c : cases) {
    d.load(c.swap, c.modified);
    QCOMPARE(modified->isChecked(), c.modified);
    QCOMPARE(standard->isChecked(), !c.modified);
    QCOMPARE(swapYes->isChecked(), c.swap);
    QCOMPARE(swapNo->isChecked(), !c.swap);
  }
  d.show();
  // Choosing a variant proposes its byte order; the user may change it after.
  d.load(false, false);
  ClickBox(standard);
  QVERIFY(swapYes->isChecked());
  ClickBox(modified);
  QVERIFY(swapNo->isChecked());
  ClickBox(swapYes);
  QVERIFY(modified->isChecked());
  QVERIFY(d.swapBytes());
  QVERIFY(d.modified());
}

void DialogsTest::tcpdumpOptionsOkAndCancel() {
  TcpdumpOptionsDialog d;
  bool swap = true, modified = false;
  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "ModifiedLayout"));
    Child<QPushButton>(d, "OkayButton")->click();
  });
  QVERIFY(d.edit(swap, modified));
  QCOMPARE(swap, false);
  QCOMPARE(modified, true);

  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "StandardLayout"));
    Child<QPushButton>(d, "CancelButton")->click();
  });
  QVERIFY(!d.edit(swap, modified));
  QCOMPARE(swap, false);
  QCOMPARE(modified, true);
}

void DialogsTest::textOptionsDefaultsAndCancel() {
  TextOptionsDialog d;
  QCOMPARE(d.windowTitle(), QString("ASCII Text Settings"));
  TextDumpOptions o = d.options();
  QVERIFY(o.descriptiveHeader && o.fieldHeaders);
  QCOMPARE(o.delimiter, TextDumpOptions::Delimiter::Tab);
  QVERIFY(o.frameNumber && o.frameLength && o.timestampDate && o.dataHex);
  QVERIFY(!o.timestampMicros && !o.dataAscii);

  // OK keeps what the user set for the rest of the run.
  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "OutputTypeFixed"));
    ClickBox(Child<QCheckBox>(d, "FrameDataASCIICheckBox"));
    ClickBox(Child<QCheckBox>(d, "IncludeHeaderCheckBox"));
    Child<QPushButton>(d, "OkayButton")->click();
  });
  QVERIFY(d.edit());
  o = d.options();
  QCOMPARE(o.delimiter, TextDumpOptions::Delimiter::Fixed);
  QVERIFY(o.dataAscii);
  QVERIFY(!o.descriptiveHeader);

  // Cancel puts back the choice made before.
  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "OutputTypeComma"));
    ClickBox(Child<QCheckBox>(d, "FrameNumberCheckBox"));
    Child<QPushButton>(d, "CancelButton")->click();
  });
  QVERIFY(!d.edit());
  o = d.options();
  QCOMPARE(o.delimiter, TextDumpOptions::Delimiter::Fixed);
  QVERIFY(o.frameNumber);
}

void DialogsTest::progressShowsTheCounters() {
  ProgressWindow p;
  p.reset();
  QVERIFY(!p.isVisible());  // appears with its first update
  p.render(Running(42));
  QVERIFY(p.isVisible());
  QVERIFY(p.windowFlags() & Qt::WindowStaysOnTopHint);
  QCOMPARE(p.windowTitle(), QString("Converting t.pcap"));
  QCOMPARE(Child<QLineEdit>(p, "FrameCountTextBox")->text(), QString("1,234,567"));
  QCOMPARE(Child<QLineEdit>(p, "NonFrameCountTextBox")->text(), QString("2"));
  QCOMPARE(Child<QLineEdit>(p, "FrameBytesTextBox")->text(), QString("9,876,543,210"));
  QCOMPARE(Child<QLineEdit>(p, "TraceDurationTextBox")->text(), QString("01:02:03"));
  QCOMPARE(Child<QLabel>(p, "PercentLabel")->text(), QString("42% Complete"));
  QCOMPARE(Child<QProgressBar>(p, "ProgressBar")->value(), 42);
  QCOMPARE(Child<QPushButton>(p, "StopButton")->text(), QString("&Stop"));

  // The next conversion starts from zero again.
  p.finish();
  p.reset();
  QCOMPARE(Child<QLineEdit>(p, "FrameCountTextBox")->text(), QString("0"));
  QCOMPARE(Child<QLineEdit>(p, "TraceDurationTextBox")->text(), QString("<00:00:01"));
  QCOMPARE(Child<QProgressBar>(p, "ProgressBar")->value(), 0);
}

void DialogsTest::stopThenOkShortensTheHold() {
  ProgressWindow p;
  p.reset();
  p.render(Running(10));
  auto* button = Child<QPushButton>(p, "StopButton");
  QCOMPARE(button->toolTip(), QString("Stop read operation"));
  button->click();
  QVERIFY(p.stopPressed());
  QCOMPARE(button->text(), QString("&Close"));

  ProgressView stopped = Finished("FILE PARTIALLY CONVERTED");
  p.render(stopped);
  QCOMPARE(button->text(), QString("&Close"));
  // OK cuts a hold of 1.75 s to what is left above 1.5 s.
  QTimer::singleShot(50, [&] { button->click(); });
  QElapsedTimer clock;
  clock.start();
  p.hold(1750);
  QVERIFY2(clock.elapsed() < 1600, qPrintable(QString::number(clock.elapsed())));
  QVERIFY(p.displayedMilliseconds() >= 1750);

  // Without OK, a hold of one second lasts about a second.
  p.reset();
  p.render(Finished("Done."));
  clock.restart();
  p.hold(1000);
  QVERIFY(clock.elapsed() >= 900);
  QVERIFY(clock.elapsed() < 3000);
}

void DialogsTest::holdEndsAfterAWriteFailureToo() {
  ProgressWindow p;
  p.reset();
  p.render(Running(40));
  ProgressView failed = Finished("FILE ERROR", true);
  failed.buttonCaption = "&Stop";
  failed.failed = true;
  p.render(failed);
  QCOMPARE(Child<QLabel>(p, "PercentLabel")->text(),
           QString("Write error: the target was not written"));
  QCOMPARE(Child<QProgressBar>(p, "ProgressBar")->value(), 40);
  QElapsedTimer clock;
  clock.start();
  p.hold(500);
  QVERIFY(clock.elapsed() < 3000);
}

void DialogsTest::closingTheWindowStopsTheConversion() {
  ProgressWindow p;
  p.reset();
  p.render(Running(5));
  p.close();
  QVERIFY(p.stopPressed());
  // Closed by the user, it stays away for the rest of that conversion.
  p.render(Finished("FILE PARTIALLY CONVERTED"));
  QVERIFY(!p.isVisible());
  QElapsedTimer clock;
  clock.start();
  p.hold(1750);
  QVERIFY(clock.elapsed() < 500);
}

void DialogsTest::missingHelpIsAPlainMessage() {
  WindowFixture f;
  MainWindow& w = *f.window;
  w.setProgramDirectory(f.dir.path());  // no help document there
  QList<QUrl> opened;
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  w.show();
  // Missing help is said in a plain box naming the file; the error dialog,
  // whose only way out ends the program, stays away.
  QWidget* modal = nullptr;
  QTimer::singleShot(0, [&] { modal = QApplication::activeModalWidget(); });
  Child<QAction>(w, "HelpTopicsItem")->trigger();
  QApplication::processEvents();
  QVERIFY(!modal);
  QCOMPARE(f.prompter.shown.size(), size_t(1));
  QCOMPARE(f.prompter.shown[0].caption, QString("Help"));
  QVERIFY2(f.prompter.shown[0].text.contains(f.path("help/index.html")),
           qPrintable(f.prompter.shown[0].text));
  QVERIFY(opened.isEmpty());
  QVERIFY(w.isVisible());

  // With the document in place but no viewer, the help shows in our own
  // window and nothing ends the program.
  QDir(f.dir.path()).mkdir("help");
  WriteText(f.path("help/index.html"),
            "<html><head><title>Morphalite Help</title></head><body>Converting traces</body></html>");
  w.setUrlOpener([](const QUrl&) { return false; });
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  modal = nullptr;
  QTimer::singleShot(0, [&] { modal = QApplication::activeModalWidget(); });
  QTest::keyClick(&w, Qt::Key_F1);
  QApplication::processEvents();
  QVERIFY(!modal);
  QVERIFY(w.documentWindow() && w.documentWindow()->isVisible());
  QVERIFY(w.documentWindow()->browser().toPlainText().contains("Converting traces"));
  QCOMPARE(w.documentWindow()->windowTitle(), QString("Morphalite Help"));
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });

  // The web items open their pages.
  Child<QAction>(w, "HomePageItem")->trigger();
  Child<QAction>(w, "TechnicalSupportItem")->trigger();
  QCOMPARE(opened, (QList<QUrl>{QUrl(WebPages::HomePage), QUrl(WebPages::TechnicalSupport)}));

  // Without a browser they say so instead of doing nothing.
  f.prompter.shown.clear();
  w.setUrlOpener([](const QUrl&) { return false; });
  Child<QAction>(w, "TrainingItem")->trigger();
  QCOMPARE(f.prompter.texts(),
           QStringList{QString("No web browser could open %1.").arg(WebPages::Training)});
}

void DialogsTest::errorDialogDetails() {
  ErrorDialog form(nullptr);
  auto* details = Child<QToolButton>(form, "DetailsButton");
  auto* text = Child<QPlainTextEdit>(form, "DetailText");
  form.fill("morph::HelpError", "morphalite", "Cannot open the file '/x/help/index.html'",
            "/x/help/index.html: No such file or directory");
  form.show();
  QCOMPARE(details->text(), QString("Details"));
  QVERIFY(details->isVisible() && !text->isVisible());
  int closedHeight = form.height();
  details->click();
  QVERIFY(text->isVisible());
  QCOMPARE(text->toPlainText(), QString("/x/help/index.html: No such file or directory"));
  QApplication::processEvents();
  QVERIFY(form.height() > closedHeight);  // the dialog grows to show it
  details->click();
  QVERIFY(!text->isVisible());
  // Without a reason there is nothing to expand.
  form.fill("std::bad_alloc", "morphalite", "");
  QVERIFY(!details->isVisible());
  // A detailed error carries its reason to the dialog.
  try {
    throw HelpError("message", "reason");
  } catch (const DetailedError& e) {
    QCOMPARE(e.detail(), std::string("reason"));
  }
}

void DialogsTest::finalStateIsNamed() {
  // One word for what happened, the same in the title, a detail that does
  // not contradict it, and a button that closes: whatever the display said
  // last, the job's outcome has the final word.
  ProgressWindow p;
  auto* heading = Child<QLabel>(p, "StateLabel");
  auto* detail = Child<QLabel>(p, "PercentLabel");
  auto* button = Child<QPushButton>(p, "StopButton");
  struct Case {
    const char* shown;  // the display's last text
    bool stop, failed;
    Outcome outcome;  // what the job returned
    const char* word;
    const char* detail;
  } cases[] = {
      {"Done.", false, false, Outcome::Converted, "Converted", "Done."},
      {"NO FRAMES WERE CONVERTED.", false, false, Outcome::NoFrames, "Failed",
       "No frames were converted"},
      {"FILE ERROR", false, true, Outcome::WriteFailed, "Failed",
       "Write error: the target was not written"},
      // A read error after frames: the display said "Done."
      {"Done.", false, true, Outcome::ReadError, "Failed", "Read error"},
      {"FILE PARTIALLY CONVERTED", true, false, Outcome::Stopped, "Stopped", "Partly converted"},
      // Done on the display, then the finished file could not be put in place.
      {"Done.", false, false, Outcome::WriteFailed, "Failed",
       "Write error: the target was not written"},
      {"Done.", false, false, Outcome::WouldLoseData, "Failed", "Not kept: it would lose data"},
  };
  for (const Case& c : cases) {
    const QString row = QString("%1 / %2").arg(c.shown, c.word);
    p.reset();
    p.render(Running(30));
    QCOMPARE(heading->text(), QString("Converting..."));
    if (c.stop) p.pressStop();
    ProgressView v = Finished(c.shown);
    v.failed = c.failed;
    v.buttonCaption = "&Stop";  // the display's caption after a write failure
    v.percent = c.stop || c.failed ? 30 : 100;
    p.render(v);
    p.finish(c.outcome);
    QVERIFY2(heading->text() == c.word, qPrintable(row + ": " + heading->text()));
    QVERIFY2(detail->text() == c.detail, qPrintable(row + ": " + detail->text()));
    QCOMPARE(p.windowTitle(), QString(c.word) + " - t.pcap");
    QCOMPARE(button->text(), QString("&Close"));
    QVERIFY(button->isEnabled());
    QCOMPARE(Child<QProgressBar>(p, "ProgressBar")->value(), v.percent);
  }
}

// The application object is the program's own, so unhandled errors take
// the program's route.
int main(int argc, char** argv) {
  MorphaliteApplication app(argc, argv);
  QTEST_SET_MAIN_SOURCE_PATH
  DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "desktop_dialogs_test.moc"
