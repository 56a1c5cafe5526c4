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
  void failedHelpRequestReachesTheErrorDialog();
  void errorDialogDetails();
  void finalStateIsNamed();
};

void DialogsTest::errorDialogLines() {
  QCOMPARE(ErrorMessageLine("Cannot open the file"), QString("Cannot open the file."));
  QCOMPARE(ErrorMessageLine("Already ends."), QString("Already ends."));
  QCOMPARE(ErrorMessageLine(""), QString(""));
  QCOMPARE(ErrorMessageLine(QString(300, 'a')).size(), 255);

  TErrorInformationForm form(nullptr);
  QCOMPARE(form.windowTitle(), QString("Error Information"));
  QCOMPARE(Child<QLabel>(form, "Label1")->text(), QString("Morphalite has encountered an error:"));
  form.fill("morph::HelpError", "morphalite", "An HTML Help error occurred");
  QCOMPARE(Child<QLabel>(form, "ErrorInfo1")->text(),
           QString("Exception morph::HelpError in Module morphalite."));
  QCOMPARE(Child<QLabel>(form, "ErrorInfo2")->text(), QString("An HTML Help error occurred."));
}

void DialogsTest::errorDialogButtonEndsTheProgram() {
  int ended = 0;
  TErrorInformationForm form([&] { ++ended; });
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
  TtcpdumpOptions d;
  QCOMPARE(d.windowTitle(), QString("tcpdump/libpcap Output Options"));
  auto* standard = Child<QRadioButton>(d, "tcpdumpTypeStandard");
  auto* modified = Child<QRadioButton>(d, "tcpdumpTypeModified");
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
  TtcpdumpOptions d;
  bool swap = true, modified = false;
  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "tcpdumpTypeModified"));
    Child<QPushButton>(d, "OkayButton")->click();
  });
  QVERIFY(d.edit(swap, modified));
  QCOMPARE(swap, false);
  QCOMPARE(modified, true);

  QTimer::singleShot(0, [&] {
    ClickBox(Child<QRadioButton>(d, "tcpdumpTypeStandard"));
    Child<QPushButton>(d, "CancelButton")->click();
  });
  QVERIFY(!d.edit(swap, modified));
  QCOMPARE(swap, false);
  QCOMPARE(modified, true);
}

void DialogsTest::textOptionsDefaultsAndCancel() {
  TTextOptionsForm d;
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
  TProcessTraceFileForm p;
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
  QCOMPARE(Child<QLabel>(p, "PctComplete")->text(), QString("42% Complete"));
  QCOMPARE(Child<QProgressBar>(p, "PctProgressBar")->value(), 42);
  QCOMPARE(Child<QPushButton>(p, "CancelButton")->text(), QString("&Stop"));

  // The next conversion starts from zero again.
  p.finish();
  p.reset();
  QCOMPARE(Child<QLineEdit>(p, "FrameCountTextBox")->text(), QString("0"));
  QCOMPARE(Child<QLineEdit>(p, "TraceDurationTextBox")->text(), QString("<00:00:01"));
  QCOMPARE(Child<QProgressBar>(p, "PctProgressBar")->value(), 0);
}

void DialogsTest::stopThenOkShortensTheHold() {
  TProcessTraceFileForm p;
  p.reset();
  p.render(Running(10));
  auto* button = Child<QPushButton>(p, "CancelButton");
  QCOMPARE(button->toolTip(), QString("Stop read operation"));
  button->click();
  QVERIFY(p.stopPressed());
  QCOMPARE(button->text(), QString("&OK"));

  ProgressView stopped = Finished("FILE PARTIALLY CONVERTED");
  p.render(stopped);
  QCOMPARE(button->text(), QString("&OK"));
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
  TProcessTraceFileForm p;
  p.reset();
  p.render(Running(40));
  ProgressView failed = Finished("FILE ERROR", true);
  failed.buttonCaption = "&Stop";
  p.render(failed);
  QCOMPARE(Child<QLabel>(p, "PctComplete")->text(), QString("FILE ERROR"));
  QCOMPARE(Child<QProgressBar>(p, "PctProgressBar")->value(), 40);
  QElapsedTimer clock;
  clock.start();
  p.hold(500);
  QVERIFY(clock.elapsed() < 3000);
}

void DialogsTest::closingTheWindowStopsTheConversion() {
  TProcessTraceFileForm p;
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

void DialogsTest::failedHelpRequestReachesTheErrorDialog() {
  WindowFixture f;
  TMainForm& w = *f.window;
  w.setProgramDirectory(f.dir.path());  // no help document there
  QList<QUrl> opened;
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  w.show();
  QString line1, line2;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    QVERIFY(box);
    QCOMPARE(box->objectName(), QString("TErrorInformationForm"));
    line1 = Child<QLabel>(*box, "ErrorInfo1")->text();
    line2 = Child<QLabel>(*box, "ErrorInfo2")->text();
    box->close();  // the frame closes only the dialog; the program goes on
  });
  Child<QAction>(w, "HelpTopicsItem")->trigger();
  QVERIFY2(line1.startsWith("Exception morph::HelpError in Module "), qPrintable(line1));
  QVERIFY2(line2.contains("help/index.html") && line2.endsWith("."), qPrintable(line2));
  QVERIFY(opened.isEmpty());

  // With the document in place but no viewer, the help shows in our own
  // window and nothing ends the program.
  QDir(f.dir.path()).mkdir("help");
  WriteText(f.path("help/index.html"),
            "<html><head><title>Morphalite Help</title></head><body>Converting traces</body></html>");
  w.setUrlOpener([](const QUrl&) { return false; });
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QWidget* modal = nullptr;
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
}

void DialogsTest::errorDialogDetails() {
  TErrorInformationForm form(nullptr);
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
  TProcessTraceFileForm p;
  auto* heading = Child<QLabel>(p, "Label1");
  struct Case {
    const char* outcome;
    bool stop, failed;
    const char* label;
    const char* title;
  } cases[] = {{"Done.", false, false, "Finished.", "Finished - t.pcap"},
               {"NO FRAMES WERE CONVERTED.", false, false, "Nothing converted.", "Nothing converted - t.pcap"},
               {"FILE ERROR", false, true, "Failed.", "Failed - t.pcap"},
               {"Done.", false, true, "Failed.", "Failed - t.pcap"},  // a read error after frames
               {"FILE PARTIALLY CONVERTED", true, false, "Stopped.", "Stopped - t.pcap"}};
  for (const Case& c : cases) {
    p.reset();
    p.render(Running(30));
    QCOMPARE(heading->text(), QString("Converting..."));
    if (c.stop) p.pressStop();
    ProgressView v = Finished(c.outcome);
    v.failed = c.failed;
    v.percent = c.stop || c.failed ? 30 : 100;
    p.render(v);
    QCOMPARE(heading->text(), QString(c.label));
    QCOMPARE(p.windowTitle(), QString(c.title));
    QCOMPARE(Child<QProgressBar>(p, "PctProgressBar")->value(), v.percent);
    p.finish();
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
