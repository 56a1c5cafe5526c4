// The main window: choosing sources, facts, target lists, destination
// names, the checks before a conversion, a conversion with Stop, and the
// start arguments.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QStatusBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include "desktop_fixtures.h"
#include "engine/catalogue.h"
#include "engine/format.h"
#include "engine/progress.h"
#include "formats/fireberd_dna323.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/sniffer.h"
#include "formats/snoop.h"
#include "formats/tagged_packet_file.h"
#include "formats/text_dump.h"
#include "ui/cli/display.h"
#include "ui/desktop/help.h"
#include "ui/desktop/progress_window.h"
#include "ui/desktop/tcpdump_options.h"

using namespace morph;
using namespace morph::testing;

namespace {

QString Text(MainWindow& w, const char* name) { return Child<QLineEdit>(w, name)->text(); }

QString Suffix(AnalyzerType target, Topology topology) {
  return QString::fromStdString(DefaultSuffix(target, topology));
}

const QString kSnoop = QString::fromStdString(AnalyzerName(Analyzer::Snoop));
const QString kTcpdump = QString::fromStdString(AnalyzerName(Analyzer::Tcpdump));

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void eachWayOfChoosingASourceShowsItsFacts();
  void severalSourcesLeaveOutTheRefusedOnes();
  void severalAcceptedSourcesShareADestinationFolder();
  void refusedSourcesLeaveNoDestination();
  void targetListsFollowTheTopology();
  void wirelessSourcesAndTheMediaConversionBoxes();
  void wanAndAtmSources();
  void theHiddenSwitchTogglesFireBerdDna323();
  void destinationProposalsAndSuffixChanges();
  void frameRangeMustNotRunBackwards();
  void overwriteQuestionsForOneSource();
  void yesToAllHoldsForTheFilesOfOneClick();
  void destinationSameAsSourceIgnoringCase();
  void missingDestinationDirectoryIsCreatedOnRequest();
  void conversionRunsToDoneAndEntersRecentFiles();
  void stopEndsTheConversionPartway();
  void escapeStopsTheConversion();
  void layoutsMakeRoomForLargeFontsAndSizes();
  void keyboardMenusAndTexts();
  void resultLines();
  void staleDisplayFallsBackToTheConsole();
  void libpcapOptionsFollowTheSourceUnlessChanged();
  void startArguments();
  void helpDocumentsAndTheirAbsence();
  void helpOfAnInstalledProgramIsInTheDocumentationFolder();
  void openDialogFiltersListReadableSuffixes();
};

void WindowTest::eachWayOfChoosingASourceShowsItsFacts() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QString source = f.path("trace.pcap");
  WritePcap(source, {1, 1000, 100, false});
  const QString size = QString::fromStdString(WithThousands(24 + 1000 * 116)) + " bytes";

  auto expectFacts = [&](const char* how) {
    QVERIFY2(f.prompter.shown.empty(), how);
    QCOMPARE(Text(w, "AnalyzerType"), QString::fromStdString(AnalyzerName(Analyzer::Tcpdump)));
    QCOMPARE(Text(w, "SrcTopology"), QString::fromStdString(TopologyName(Topo::Ethernet)));
    QCOMPARE(Text(w, "FileSize"), size);
    QVERIFY2(!Text(w, "FileDate").isEmpty(), how);
    QVERIFY2(Text(w, "DestinationField").startsWith(f.path("trace.")), how);
    QVERIFY2(Child<QPushButton>(w, "ConvertButton")->isEnabled(), how);
  };

  // Open dialog.
  w.chooseSources({source});
  expectFacts("open dialog");

  // Typed path, taken with Enter.
  f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
  {
    MainWindow& typed = *f.window;
    auto* field = Child<QLineEdit>(typed, "SourceField");
    QTest::keyClicks(field, source);
    QCOMPARE(Text(typed, "DestinationField"), QString());  // emptied while typing
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(Text(typed, "AnalyzerType"), QString::fromStdString(AnalyzerName(Analyzer::Tcpdump)));
    QVERIFY(Text(typed, "DestinationField").startsWith(f.path("trace.")));
  }

  // Dropped from a file manager.
  f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
  {
    MainWindow& dropped = *f.window;
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(source)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dropped, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dropped, &drop);
    QCOMPARE(Text(dropped, "AnalyzerType"), QString::fromStdString(AnalyzerName(Analyzer::Tcpdump)));
    QCOMPARE(Text(dropped, "FileSize"), size);
  }
  // Dropped on the source field: the window takes it, not the field as text.
  f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
  {
    MainWindow& dropped = *f.window;
    dropped.show();
    auto* field = Child<QLineEdit>(dropped, "SourceField");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(source)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(field, &drop);
    QCOMPARE(field->text(), source);
    QCOMPARE(Text(dropped, "AnalyzerType"), kTcpdump);
  }

  // The recent-files list.
  f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
  {
    MainWindow& recent = *f.window;
    recent.openRecent(0);  // empty place: nothing happens
    QCOMPARE(Text(recent, "SourceField"), QString());
  }
  {
    DesktopSettings s = LoadSettings(f.settingsFile);
    s.recentFiles = QStringList{source, "", "", "", "", "", "", ""};
    SaveSettings(f.settingsFile, s);
    f.window = std::make_unique<MainWindow>(f.prompter, f.settingsFile);
    MainWindow& recent = *f.window;
    recent.openRecent(0);
    QCOMPARE(Text(recent, "SourceField"), source);
    QCOMPARE(Text(recent, "FileSize"), size);
  }
}

void WindowTest::severalSourcesLeaveOutTheRefusedOnes() {
  WindowFixture f;
  WritePcap(f.path("a.pcap"), {});
  WriteText(f.path("b.pcap"), QByteArray(400, 'x'));  // not a trace file
  WritePcap(f.path("c.pcap"), {});
  f.window->chooseSources({f.path("a.pcap"), f.path("b.pcap"), f.path("c.pcap")});
  QCOMPARE(f.prompter.shown.size(), size_t(1));
  QCOMPARE(f.prompter.shown[0].caption, QString("Open Trace File"));
  QCOMPARE(f.prompter.shown[0].text, QString("b.pcap is obsolete, not supported, or not a trace file."));
  QCOMPARE(f.prompter.shown[0].icon, MessageIcon::Warning);
  QVERIFY(f.window->severalSources());
  QCOMPARE(f.window->sources(), (QStringList{f.path("a.pcap"), f.path("c.pcap")}));
  QCOMPARE(Child<QLabel>(*f.window, "SourceLabel")->text(), QString("Source Files:"));
}

void WindowTest::severalAcceptedSourcesShareADestinationFolder() {
  WindowFixture f;
  WritePcap(f.path("a.pcap"), {});
  WritePcap(f.path("b.pcap"), {});
  f.window->chooseSources({f.path("a.pcap"), f.path("b.pcap")});
  MainWindow& w = *f.window;
  QVERIFY(f.prompter.shown.empty());
  QVERIFY(w.severalSources());
  QCOMPARE(w.sources(), (QStringList{f.path("a.pcap"), f.path("b.pcap")}));
  QCOMPARE(Text(w, "DestinationField"), f.dir.path() + "/");
  for (const char* box : {"AnalyzerType", "SrcTopology", "FileDate", "FileSize"})
    QCOMPARE(Text(w, box), QString("-"));
  QCOMPARE(Child<QLabel>(w, "SourceLabel")->text(), QString("Source Files:"));
  QCOMPARE(Child<QLabel>(w, "DestinationLabel")->text(), QString("Destination Folder:"));

  // A typed path is one file, ';' or not.
  WindowFixture typed;
  auto* field = Child<QLineEdit>(*typed.window, "SourceField");
  QTest::keyClicks(field, "/somewhere/x;y.pcap");
  QVERIFY(!typed.window->severalSources());
  QCOMPARE(Child<QLabel>(*typed.window, "DestinationLabel")->text(), QString("Destination:"));
}

void WindowTest::refusedSourcesLeaveNoDestination() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WriteText(f.path("tiny.pcap"), QByteArray("\xd4\xc3", 2));
  w.chooseSources({f.path("tiny.pcap")});
  QCOMPARE(f.prompter.texts().value(0), QString("tiny.pcap is too small."));
  QCOMPARE(Text(w, "DestinationField"), QString());
  QVERIFY(!Child<QPushButton>(w, "ConvertButton")->isEnabled());

  w.chooseSources({f.path("missing.pcap")});
  // The fixed text, then the system's reason with the path.
  QCOMPARE(f.prompter.texts().value(1),
           QString("Unable to open Source file.  File is in use or name is bad.\n") +
               f.path("missing.pcap") + ": No such file or directory");

  // Bytes of no trace format: refused.
  WriteText(f.path("odd.pcap"), QByteArray(300, '\x5a'));
  w.chooseSources({f.path("odd.pcap")});
  QCOMPARE(f.prompter.texts().value(2),
           QString("odd.pcap is obsolete, not supported, or not a trace file."));
  QCOMPARE(Text(w, "SourceField"), f.path("odd.pcap"));  // the source stays in its field
  QCOMPARE(Text(w, "DestinationField"), QString());

  // A header without frames: facts shown, destination kept.
  WritePcap(f.path("empty.pcap"), {1, 0, 60, false});
  WriteText(f.path("empty.pcap"), ReadAll(f.path("empty.pcap")) + QByteArray(16, '\0'));
  int before = int(f.prompter.shown.size());
  w.chooseSources({f.path("empty.pcap")});
  if (int(f.prompter.shown.size()) > before &&
      f.prompter.shown.back().text.endsWith("contains no frames.")) {
    QCOMPARE(Text(w, "AnalyzerType"), kTcpdump);
    QVERIFY(!Text(w, "DestinationField").isEmpty());
  }
}

void WindowTest::targetListsFollowTheTopology() {
  WindowFixture f;
  MainWindow& w = *f.window;
  const QStringList ethernet = WritableNames({0, 2, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 17, 20, 21, 23,
                                            24, 25, 26, 27, 28, 29, 30, 36});  // no 19, 22, 31
  const QStringList tokenRing = WritableNames({0, 2, 4, 5, 6, 8, 9, 11, 12, 13, 14, 17, 20, 21, 23,
                                             24, 25, 26, 27, 28, 29, 30, 31, 36});
  const QStringList fddi = WritableNames({0, 6, 9, 13, 20, 21, 24, 25, 26, 27, 28, 29, 30, 36});

  struct Case {
    uint32_t linkType;
    Topology topology;
    QStringList expected;
  } cases[] = {{1, Topo::Ethernet, ethernet}, {6, Topo::TokenRing, tokenRing}, {10, Topo::Fddi, fddi}};
  for (const Case& c : cases) {
    QString path = f.path(QString("link%1.pcap").arg(c.linkType));
    WritePcap(path, {c.linkType, 5, 60, false});
    w.chooseSources({path});
    QCOMPARE(Text(w, "SrcTopology"), QString::fromStdString(TopologyName(c.topology)));
    QCOMPARE(FormatItems(w), c.expected);
    QCOMPARE(w.targetClass(), TargetClass::Lan);
  }
  // The list keeps the chosen format when the next source can take it.
  QVERIFY(ChooseFormat(w, kSnoop));
  WritePcap(f.path("again.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("again.pcap")});
  QCOMPARE(Child<QComboBox>(w, "FormatBox")->currentText(), kSnoop);
  QVERIFY(Child<QCheckBox>(w, "ConvertToWirelessCheckBox")->isVisibleTo(&w));
  QVERIFY(!Child<QCheckBox>(w, "ConvertToEthernetCheckBox")->isVisibleTo(&w));

  // "Convert to Wireless" turns an Ethernet source's list into the 802.11 one.
  QTest::mouseClick(Child<QCheckBox>(w, "ConvertToWirelessCheckBox"), Qt::LeftButton);
  QCOMPARE(w.targetClass(), TargetClass::Wireless);
  QCOMPARE(FormatItems(w), WritableNames({1, 24, 26, 30, 36}));  // no ASCII while converting
}

void WindowTest::wirelessSourcesAndTheMediaConversionBoxes() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("air.pcap"), {105, 5, 60, false});
  w.chooseSources({f.path("air.pcap")});
  QCOMPARE(w.targetClass(), TargetClass::Wireless);
  QCOMPARE(FormatItems(w), WritableNames({1, 2, 24, 26, 30, 36}));
  auto* toEthernet = Child<QCheckBox>(w, "ConvertToEthernetCheckBox");
  QVERIFY(toEthernet->isVisibleTo(&w));
  QVERIFY(!Child<QCheckBox>(w, "ConvertToWirelessCheckBox")->isVisibleTo(&w));

  QTest::mouseClick(toEthernet, Qt::LeftButton);
  QCOMPARE(w.targetClass(), TargetClass::Lan);
  QCOMPARE(FormatItems(w), WritableNames({0, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 17, 20, 21, 23, 24, 36,
                                        25, 26, 27, 28, 29, 30}));  // no ASCII, no Ringstave
  // The destination carries the source's 802.11 suffix as a tag.
  QVERIFY(ChooseFormat(w, QString::fromStdString(AnalyzerName(Analyzer::Ostrawind))));
  QString tag = Suffix(Analyzer::Tcpdump, Topo::Wireless).replace('.', '_');
  QCOMPARE(Text(w, "DestinationField"),
           f.path("air" + tag + Suffix(Analyzer::Ostrawind, Topo::Ethernet)));

  QTest::mouseClick(toEthernet, Qt::LeftButton);
  QCOMPARE(w.targetClass(), TargetClass::Wireless);
  QCOMPARE(FormatItems(w), WritableNames({1, 2, 24, 26, 30, 36}));
  // The tag goes with the box that added it.
  QVERIFY2(!Text(w, "DestinationField").contains(tag), qPrintable(Text(w, "DestinationField")));
  QVERIFY(Text(w, "DestinationField").startsWith(f.path("air.")));

  // The same from an Ethernet source and Convert to Wireless.
  WritePcap(f.path("wire.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("wire.pcap")});
  auto* toWireless = Child<QCheckBox>(w, "ConvertToWirelessCheckBox");
  QTest::mouseClick(toWireless, Qt::LeftButton);
  const QString ethernetTag = Suffix(Analyzer::Tcpdump, Topo::Ethernet).replace('.', '_');
  QVERIFY2(Text(w, "DestinationField").contains("wire" + ethernetTag),
           qPrintable(Text(w, "DestinationField")));
  QTest::mouseClick(toWireless, Qt::LeftButton);
  QVERIFY2(!Text(w, "DestinationField").contains(ethernetTag),
           qPrintable(Text(w, "DestinationField")));
}

void WindowTest::wanAndAtmSources() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("line.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("line.pcap")});

  w.sourceFacts().traceTopology = Topo::Wan;
  w.sourceFacts().wanProtocol = Wan::Ppp;
  w.showSourceFacts(true);
  QCOMPARE(w.targetClass(), TargetClass::Wan);
  QCOMPARE(FormatItems(w), WritableNames({0, 6, 23, 26, 27, 33}));
  QCOMPARE(Text(w, "SrcTopology"), QString::fromStdString(TopologyName(Topo::Wan) +
                                                          WanProtocolName(Wan::Ppp)));
  QVERIFY(Child<QCheckBox>(w, "FrameSliceCheckBox")->isEnabled());

  w.sourceFacts().traceTopology = Topo::AtmOc3;
  w.showSourceFacts(true);
  QCOMPARE(w.targetClass(), TargetClass::Atm);
  QVERIFY(FormatItems(w).isEmpty());
  QVERIFY(!Child<QCheckBox>(w, "FrameSliceCheckBox")->isEnabled());
  QVERIFY(!Child<QPushButton>(w, "ConvertButton")->isEnabled());
}

void WindowTest::theHiddenSwitchTogglesFireBerdDna323() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("e.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("e.pcap")});
  const QString dna = QString::fromStdString(AnalyzerName(Analyzer::FireBerdDna323));
  auto* label = Child<QLabel>(w, "AnalyzerLabel");
  QVERIFY(!FormatItems(w).contains(dna));

  QTest::mouseClick(label, Qt::LeftButton);  // without Shift: nothing
  QVERIFY(f.prompter.shown.empty());

  QTest::mouseClick(label, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier);
  QVERIFY(w.capabilities().ethernet.test(Analyzer::FireBerdDna323));
  // Offered once this build can write it.
  QCOMPARE(FormatItems(w).contains(dna), HasWriter(Analyzer::FireBerdDna323));
  QCOMPARE(f.prompter.shown.back().caption, QString("Morphalite"));
  QCOMPARE(f.prompter.shown.back().text, QString("Additional unsupported features/analyzers ENABLED."));
  QCOMPARE(f.prompter.shown.back().icon, MessageIcon::None);

  QTest::mouseClick(label, Qt::LeftButton, Qt::ShiftModifier);
  QVERIFY(!w.capabilities().ethernet.test(Analyzer::FireBerdDna323));
  QVERIFY(!FormatItems(w).contains(dna));
  QCOMPARE(f.prompter.shown.back().text, QString("Additional unsupported features/analyzers DISABLED."));
}

void WindowTest::destinationProposalsAndSuffixChanges() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("trace.v1.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("trace.v1.pcap")});
  QVERIFY(ChooseFormat(w, kSnoop));
  // The base name loses only the text from its last dot.
  QCOMPARE(Text(w, "DestinationField"), f.path("trace.v1" + Suffix(Analyzer::Snoop, Topo::Ethernet)));

  // With one source, a new format changes only the suffix of what the user typed.
  auto* destination = Child<QLineEdit>(w, "DestinationField");
  destination->setText("/elsewhere/mine.xyz");
  QVERIFY(ChooseFormat(w, kTcpdump));
  QCOMPARE(destination->text(), "/elsewhere/mine" + Suffix(Analyzer::Tcpdump, Topo::Ethernet));

  // The settings button belongs to the ASCII and libpcap targets only.
  QVERIFY(Child<QPushButton>(w, "OptionsButton")->isVisibleTo(&w));
  QVERIFY(ChooseFormat(w, kSnoop));
  QVERIFY(!Child<QPushButton>(w, "OptionsButton")->isVisibleTo(&w));
  QVERIFY(ChooseFormat(w, QString::fromStdString(AnalyzerName(Analyzer::Ascii))));
  QVERIFY(Child<QPushButton>(w, "OptionsButton")->isVisibleTo(&w));

  // An emptied destination field is named from the source again.
  destination->clear();
  QVERIFY(ChooseFormat(w, kSnoop));
  QCOMPARE(destination->text(), f.path("trace.v1" + Suffix(Analyzer::Snoop, Topo::Ethernet)));

  // A compressed source loses both suffixes.
  WritePcap(f.path("cap.pcap"), {1, 5, 60, false});
  QProcess gzip;
  gzip.start("gzip", {"-f", f.path("cap.pcap")});
  if (!gzip.waitForFinished() || gzip.exitCode() != 0) QSKIP("no gzip here");
  w.chooseSources({f.path("cap.pcap.gz")});
  QCOMPARE(destination->text(), f.path("cap" + Suffix(Analyzer::Snoop, Topo::Ethernet)));
}

void WindowTest::frameRangeMustNotRunBackwards() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("r.pcap"), {1, 50, 60, false});
  w.chooseSources({f.path("r.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  QCOMPARE(Child<QSpinBox>(w, "EndFrame")->maximum(), 999999);  // libpcap states no count
  Child<QSpinBox>(w, "StartFrame")->setValue(20);
  Child<QSpinBox>(w, "EndFrame")->setValue(10);
  // Checked whichever range button is chosen.
  QVERIFY(Child<QRadioButton>(w, "ConvertAllRadioButton")->isChecked());
  w.convertClicked();
  QCOMPARE(f.prompter.shown.size(), size_t(1));
  QCOMPARE(f.prompter.shown[0].caption, QString("Convert Frame Range"));
  QCOMPARE(f.prompter.shown[0].text,
           QString("Starting frame number must be less than or equal to the ending frame number."));
  QCOMPARE(f.prompter.shown[0].icon, MessageIcon::Information);
  QVERIFY(!QFileInfo::exists(Text(w, "DestinationField")));

  // A valid range converts just those frames.
  Child<QSpinBox>(w, "EndFrame")->setValue(29);
  QTest::mouseClick(Child<QRadioButton>(w, "ConvertRangeRadioButton"), Qt::LeftButton);
  QVERIFY(Child<QSpinBox>(w, "StartFrame")->isEnabled());
  w.convertClicked();
  QCOMPARE(CountPcapRecords(Text(w, "DestinationField")), 10);
}

void WindowTest::overwriteQuestionsForOneSource() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("o.pcap"), {1, 20, 60, false});
  w.chooseSources({f.path("o.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  QString target = Text(w, "DestinationField");
  WriteText(target, "keep me");

  f.prompter.answers = {Answer::No};
  w.convertClicked();
  QCOMPARE(f.prompter.questions.size(), size_t(1));
  QCOMPARE(f.prompter.questions[0].text,
           "Destination file '" + QFileInfo(target).fileName() + "' already exists.  Overwrite?");
  QVERIFY(!f.prompter.questions[0].yesToAllOffered);
  QCOMPARE(ReadAll(target), QByteArray("keep me"));

  f.prompter.answers = {Answer::Yes};
  w.convertClicked();
  QCOMPARE(CountPcapRecords(target), 20);

  // A name of the user's own is written and stays in the field.
  auto* destination = Child<QLineEdit>(w, "DestinationField");
  destination->setText(f.path("mine.bin"));
  w.convertClicked();
  QCOMPARE(CountPcapRecords(f.path("mine.bin")), 20);
  QCOMPARE(destination->text(), f.path("mine.bin"));
}

void WindowTest::yesToAllHoldsForTheFilesOfOneClick() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QDir(f.dir.path()).mkdir("out");
  for (const char* name : {"a", "b", "c"}) WritePcap(f.path(QString(name) + ".pcap"), {1, 7, 60, false});
  w.chooseSources({f.path("a.pcap"), f.path("b.pcap"), f.path("c.pcap")});
  QVERIFY(ChooseFormat(w, kSnoop));
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("out/"));
  QString suffix = Suffix(Analyzer::Snoop, Topo::Ethernet);
  for (const char* name : {"a", "b", "c"}) WriteText(f.path("out/" + QString(name) + suffix), "old");

  // No skips a file and the next is still converted; Yes to All covers the rest.
  f.prompter.answers = {Answer::No, Answer::YesToAll};
  w.convertClicked();
  QCOMPARE(f.prompter.questions.size(), size_t(2));
  QVERIFY(f.prompter.questions[0].yesToAllOffered);
  QCOMPARE(ReadAll(f.path("out/a" + suffix)), QByteArray("old"));
  QVERIFY(ReadAll(f.path("out/b" + suffix)).size() > 100);
  QVERIFY(ReadAll(f.path("out/c" + suffix)).size() > 100);

  // The next click asks again.
  f.prompter.answers = {Answer::No, Answer::No, Answer::No};
  w.convertClicked();
  QCOMPARE(f.prompter.questions.size(), size_t(5));
}

void WindowTest::destinationSameAsSourceIgnoringCase() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("same.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("same.pcap")});
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("SAME.PCAP"));
  w.convertClicked();
  QCOMPARE(f.prompter.texts().value(0), QString("Destination cannot be the same as the source file."));
  QCOMPARE(f.prompter.shown[0].caption, QString("Alert"));
  QVERIFY(!QFileInfo::exists(f.path("SAME.PCAP")));
  QCOMPARE(CountPcapRecords(f.path("same.pcap")), 5);
}

void WindowTest::missingDestinationDirectoryIsCreatedOnRequest() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("d.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("d.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("new/d.out"));

  f.prompter.answers = {Answer::No};
  w.convertClicked();
  QCOMPARE(f.prompter.questions.back().text,
           "Destination directory  '" + f.path("new") + "' does not exist.  Create?");
  QVERIFY(!QFileInfo::exists(f.path("new")));

  f.prompter.answers = {Answer::Yes};
  w.convertClicked();
  QCOMPARE(CountPcapRecords(f.path("new/d.out")), 5);

  // Only one level is created; a deeper path fails with its own message.
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("x/y/d.out"));
  f.prompter.answers = {Answer::Yes};
  w.convertClicked();
  QCOMPARE(f.prompter.shown.back().caption, QString("Directory Creation Error"));
  QCOMPARE(f.prompter.shown.back().text, "Unable to create '" + f.path("x/y") + "'.");
  QCOMPARE(f.prompter.shown.back().icon, MessageIcon::Error);
}

void WindowTest::conversionRunsToDoneAndEntersRecentFiles() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("full.pcap"), {1, 300, 80, false});
  w.chooseSources({f.path("full.pcap")});
  QVERIFY(w.recentFiles().join("").isEmpty());  // opening alone does not enter it
  QVERIFY(ChooseFormat(w, kTcpdump));
  // Press OK as soon as the final state shows, to cut the hold short; the
  // main window refuses to close meanwhile.
  w.show();
  bool closedDuringConversion = false;
  QTimer ok;
  QObject::connect(&ok, &QTimer::timeout, [&] {
    if (w.progressWindow().isVisible() && w.close()) closedDuringConversion = true;
    auto* button = Child<QPushButton>(w.progressWindow(), "StopButton");
    if (w.progressWindow().isVisible() && button->text() == "&Close" &&
        Child<QLabel>(w.progressWindow(), "PercentLabel")->text() == "Done.")
      button->click();
  });
  ok.start(20);
  QElapsedTimer clock;
  clock.start();
  w.convertClicked();
  QVERIFY(clock.elapsed() < 1700);  // the hold was cut to what is left above 1.5 s
  QVERIFY(clock.elapsed() >= 200);
  QCOMPARE(w.lastOutcome(), Outcome::Converted);
  QCOMPARE(CountPcapRecords(Text(w, "DestinationField")), 300);
  QCOMPARE(Child<QLabel>(w.progressWindow(), "StateLabel")->text(), QString("Converted"));
  QVERIFY2(w.resultLine().startsWith(
               "Converted: 300 frames written to " + QFileInfo(Text(w, "DestinationField")).fileName() +
               " in "),
           qPrintable(w.resultLine()));
  QCOMPARE(Child<QLineEdit>(w.progressWindow(), "FrameCountTextBox")->text(), QString("300"));
  QCOMPARE(Child<QProgressBar>(w.progressWindow(), "ProgressBar")->value(), 100);
  QVERIFY(!w.progressWindow().isVisible());
  QCOMPARE(w.recentFiles().value(0), f.path("full.pcap"));
  QVERIFY(Child<QPushButton>(w, "ConvertButton")->isEnabled());  // enabled again
  QVERIFY(!closedDuringConversion);
  QVERIFY(w.isVisible());
  QVERIFY(w.close());
}

// Presses Stop the moment the progress window first appears.
class StopOnShow : public QObject {
 public:
  QString shownWith;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && shownWith.isEmpty()) {
      auto* form = static_cast<QWidget*>(watched);
      shownWith = Child<QLabel>(*form, "PercentLabel")->text();
      auto* button = Child<QPushButton>(*form, "StopButton");
      if (button->text() == "&Stop") button->click();
    }
    return false;
  }
};

void WindowTest::stopEndsTheConversionPartway() {
  WindowFixture f;
  MainWindow& w = *f.window;
  const int frames = 1000000;
  WritePcap(f.path("big.pcap"), {1, frames, 60, false});
  w.chooseSources({f.path("big.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  StopOnShow stopper;
  w.progressWindow().installEventFilter(&stopper);
  QString finalText, finalButton;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    ProgressWindow& p = w.progressWindow();
    auto* button = Child<QPushButton>(p, "StopButton");
    auto* pct = Child<QLabel>(p, "PercentLabel");
    if (p.isVisible() && pct->text() == "Partly converted") {
      finalText = pct->text();
      finalButton = button->text();
      button->click();  // OK ends the hold
    }
  });
  watcher.start(30);
  w.convertClicked();
  watcher.stop();
  // The window first shows after about 40 ms of converting; a machine that
  // converts the whole trace sooner leaves nothing to stop.
  if (stopper.shownWith == "Done.") QSKIP("the trace was converted before the first update");
  QVERIFY2(stopper.shownWith.endsWith("% Complete"), qPrintable(stopper.shownWith));
  QCOMPARE(finalText, QString("Partly converted"));
  QCOMPARE(finalButton, QString("&Close"));
  QCOMPARE(w.lastOutcome(), Outcome::Stopped);
  int written = CountPcapRecords(Text(w, "DestinationField"));
  QVERIFY2(written > 0 && written < frames, qPrintable(QString::number(written)));
  // The final state says what happened: the bar shows how far reading got.
  ProgressWindow& p = w.progressWindow();
  QVERIFY(Child<QProgressBar>(p, "ProgressBar")->value() < 100);
  QCOMPARE(Child<QLabel>(p, "StateLabel")->text(), QString("Stopped"));
  QCOMPARE(p.windowTitle(), QString("Stopped - big.pcap"));
  QString status = w.resultLine();
  QVERIFY2(status.startsWith("Stopped: " + QString::fromStdString(WithThousands(written)) +
                             " frames written to big"),
           qPrintable(status));
}

// Escape in the main window stops a conversion like the Stop button.
void WindowTest::escapeStopsTheConversion() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("big.pcap"), {1, 1000000, 60, false});
  w.chooseSources({f.path("big.pcap")});
  QVERIFY(ChooseFormat(w, kTcpdump));
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  bool escaped = false;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    ProgressWindow& p = w.progressWindow();
    auto* button = Child<QPushButton>(p, "StopButton");
    if (!p.isVisible()) return;
    if (!escaped && button->text() == "&Stop") {
      escaped = true;
      w.activateWindow();
      QTest::keyClick(Child<QLineEdit>(w, "DestinationField"), Qt::Key_Escape);
    } else if (button->text() == "&Close") {
      button->click();
    }
  });
  watcher.start(20);
  w.convertClicked();
  watcher.stop();
  if (!escaped) QSKIP("the trace was converted before the first update");
  QCOMPARE(w.lastOutcome(), Outcome::Stopped);
}

void WindowTest::libpcapOptionsFollowTheSourceUnlessChanged() {
  WindowFixture f;
  MainWindow& w = *f.window;
  WritePcap(f.path("little.pcap"), {1, 5, 60, false});
  WritePcap(f.path("big.pcap"), {1, 5, 60, true});
  w.chooseSources({f.path("big.pcap")});
  QVERIFY(w.tcpdumpSwapBytes());
  w.chooseSources({f.path("little.pcap")});
  QVERIFY(!w.tcpdumpSwapBytes());
  QVERIFY(ChooseFormat(w, kTcpdump));
  w.convertClicked();
  QCOMPARE(LeadingHex(Text(w, "DestinationField"), 4), QString("d4c3b2a1"));

  // The dialog's choice wins over the source's order.
  QTimer::singleShot(0, [&] {
    TcpdumpOptionsDialog& d = w.tcpdumpOptionsDialog();
    Child<QRadioButton>(d, "SwapBytesYes")->setChecked(true);
    Child<QPushButton>(d, "OkayButton")->click();
  });
  w.optionsClicked();
  QVERIFY(w.tcpdumpSwapBytes());
  f.prompter.answers = {Answer::Yes};
  w.convertClicked();
  QCOMPARE(LeadingHex(Text(w, "DestinationField"), 4), QString("a1b2c3d4"));
}

void WindowTest::startArguments() {
  WindowFixture f;
  WritePcap(f.path("cmd.pcap"), {1, 12, 60, false});

  // A source alone: loaded, with the destination proposed.
  Outcome outcome{};
  QVERIFY(!f.window->handleStartArguments({f.path("cmd.pcap")}, &outcome));
  QCOMPARE(Text(*f.window, "AnalyzerType"), kTcpdump);
  QVERIFY(Text(*f.window, "DestinationField").startsWith(f.path("cmd.")));

  // An unknown code: the box with the code as typed; the window stays.
  f.reopenWindow();
  QVERIFY(!f.window->handleStartArguments({f.path("cmd.pcap"), "xX"}, &outcome));
  QCOMPARE(f.prompter.shown.back().caption, QString("Parameter Error"));
  QCOMPARE(f.prompter.shown.back().text, QString("Bad destination analyzer type of xX."));
  QCOMPARE(f.prompter.shown.back().icon, MessageIcon::Error);
  QCOMPARE(Text(*f.window, "SourceField"), f.path("cmd.pcap"));
  QCOMPARE(Text(*f.window, "DestinationField"), QString());

  // A known code in any case converts beside the source, overwriting without a question.
  QString target = f.path("cmd" + Suffix(Analyzer::Snoop, Topo::Ethernet));
  WriteText(target, "old");
  f.reopenWindow();
  QTimer ok;
  QObject::connect(&ok, &QTimer::timeout, [&] {
    auto* b = Child<QPushButton>(f.window->progressWindow(), "StopButton");
    if (f.window->progressWindow().isVisible() && b->text() == "&Close") b->click();
  });
  ok.start(20);
  QVERIFY(f.window->handleStartArguments({f.path("cmd.pcap"), "so"}, &outcome));
  QCOMPARE(outcome, Outcome::Converted);
  QVERIFY(f.prompter.questions.empty());
  QVERIFY(ReadAll(target).size() > 100);
  QCOMPARE(f.window->targetAnalyzer(), Analyzer::Snoop);
}

void WindowTest::helpDocumentsAndTheirAbsence() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QList<QUrl> opened;
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  w.setProgramDirectory(f.dir.path());
  // Missing documents are said, for help and read-me alike.
  w.helpTopics();
  w.readme();
  QCOMPARE(f.prompter.shown.size(), size_t(2));
  QVERIFY(f.prompter.shown[0].text.contains(f.path("help/index.html")));
  QVERIFY(f.prompter.shown[1].text.contains(f.path("readme.htm")));
  QVERIFY(opened.isEmpty());

  QDir(f.dir.path()).mkdir("help");
  WriteText(f.path("help/index.html"), "<html></html>");
  WriteText(f.path("readme.htm"), "<html></html>");
  w.helpTopics();
  w.readme();
  QCOMPARE(opened.size(), 2);
  QCOMPARE(opened[0], QUrl::fromLocalFile(f.path("help/index.html")));
  QCOMPARE(opened[1], QUrl::fromLocalFile(f.path("readme.htm")));

  // Without a viewer the document shows in the program's own window.
  QVERIFY(!w.documentWindow());
  w.setUrlOpener([](const QUrl&) { return false; });
  w.readme();
  QVERIFY(w.documentWindow() && w.documentWindow()->isVisible());
}

void WindowTest::helpOfAnInstalledProgramIsInTheDocumentationFolder() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QList<QUrl> opened;
  w.setUrlOpener([&](const QUrl& url) {
    opened << url;
    return true;
  });
  // The program in PREFIX/bin, its documents where cmake --install puts them.
  QDir(f.dir.path()).mkpath("prefix/bin");
  const QString program = f.path("prefix/bin");
  const QString docs = QDir::cleanPath(program + "/" MORPHALITE_DOCS_FROM_PROGRAM);
  QVERIFY(docs.startsWith(f.dir.path()));
  QDir().mkpath(docs + "/help");
  WriteText(docs + "/help/index.html", "<html></html>");
  WriteText(docs + "/readme.htm", "<html></html>");
  w.setProgramDirectory(program);
  w.helpTopics();
  w.readme();
  QCOMPARE(opened.size(), 2);
  QCOMPARE(opened[0], QUrl::fromLocalFile(docs + "/help/index.html"));
  QCOMPARE(opened[1], QUrl::fromLocalFile(docs + "/readme.htm"));

  // A document beside the program, as in a build tree, comes first.
  WriteText(program + "/readme.htm", "<html></html>");
  w.readme();
  QCOMPARE(opened.value(2), QUrl::fromLocalFile(program + "/readme.htm"));
}

void WindowTest::openDialogFiltersListReadableSuffixes() {
  const QStringList filters = OpenDialogFilters(DefaultCapabilities());
  QCOMPARE(filters.value(0), QString("Any File (*)"));
  const QString anyTrace = filters.value(1);
  QVERIFY(anyTrace.startsWith("Any Trace File (by suffix) ("));

  auto filterOf = [&](AnalyzerType a) {
    QString name = QString::fromStdString(AnalyzerName(a)) + " (";
    for (const QString& f : filters)
      if (f.startsWith(name)) return f;
    return QString();
  };
  QVERIFY(filterOf(Analyzer::Ascii).isEmpty());  // written only
  // One filter per readable format, in the order of their names.
  const QStringList perFormat = filters.mid(2);
  QStringList sorted = perFormat;
  sorted.sort(Qt::CaseInsensitive);
  QCOMPARE(perFormat, sorted);
  for (int a = 0; a < Analyzer::Count; ++a)
    if (!filterOf(AnalyzerType(a)).isEmpty())
      QVERIFY2(ReaderFormat(AnalyzerType(a)), qPrintable(filterOf(AnalyzerType(a))));
  QString sniffer = filterOf(Analyzer::SnifferDos);
  for (Topology t : {Topo::Ethernet, Topo::TokenRing})
    QVERIFY2(sniffer.contains("*" + Suffix(Analyzer::SnifferDos, t)), qPrintable(sniffer));
  QVERIFY(sniffer.contains("*.syc") && sniffer.contains("*.fdc"));
  QVERIFY(filterOf(Analyzer::Snoop).contains("*.cap"));
  QVERIFY(filterOf(Analyzer::SnifferPro).contains("*.caz"));
  QVERIFY(filterOf(Analyzer::Farrowe).contains("*.kvz"));
  QVERIFY(filterOf(Analyzer::Tcpdump).contains("*" + Suffix(Analyzer::Tcpdump, Topo::Ethernet)));
  QVERIFY(filterOf(Analyzer::Tcpdump).contains("*.pcap"));
  QCOMPARE(SourcePatterns(Analyzer::Tcpdump).value(0), "*" + Suffix(Analyzer::Tcpdump, Topo::Ethernet));
  // Every pattern of an analyzer's filter is in the any-trace list.
  for (const QString& f : filters.mid(2)) {
    QString patterns = f.section('(', -1).chopped(1);
    for (const QString& p : patterns.split(' '))
      QVERIFY2(anyTrace.contains(p), qPrintable(p));
  }
}

void WindowTest::layoutsMakeRoomForLargeFontsAndSizes() {
  // A 13-point font and a source of 12.9 GB (sparse): nothing is clipped.
  const QFont before = QApplication::font();
  QFont large = before;
  large.setPointSize(13);
  QApplication::setFont(large);
  WindowFixture f;
  MainWindow& w = *f.window;
  w.show();
  QString path = f.path("huge.pcap");
  WritePcap(path, {1, 5, 60, false});
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(12884901888LL));
  }
  w.chooseSources({path});
  auto* size = Child<QLineEdit>(w, "FileSize");
  QCOMPARE(size->text(), QString("12,884,901,888 bytes"));
  QVERIFY(size->width() > size->fontMetrics().horizontalAdvance(size->text()));
  for (const char* name : {"SourceLabel", "DestinationLabel", "AnalyzerLabel"}) {
    auto* label = Child<QLabel>(w, name);
    QVERIFY2(label->width() >= label->sizeHint().width(), name);
  }
  for (const char* name : {"ConvertAllRadioButton", "FrameSliceCheckBox", "ConvertRangeRadioButton"}) {
    auto* box = Child<QAbstractButton>(w, name);
    QVERIFY2(box->width() >= box->sizeHint().width(), name);
  }
  // The window can be made wider, and the path fields take the room.
  auto* source = Child<QLineEdit>(w, "SourceField");
  int narrow = source->width();
  QVERIFY(w.maximumWidth() > w.width());
  w.resize(w.width() + 200, w.height());
  QApplication::processEvents();
  QVERIFY(source->width() > narrow + 100);
  QApplication::setFont(before);
}

void WindowTest::keyboardMenusAndTexts() {
  WindowFixture f;
  MainWindow& w = *f.window;
  QCOMPARE(Child<QMenu>(w, "WebMenu")->title(), QString("Corvantique on the &Web"));
  // Read-only facts are skipped by Tab; the browse buttons take it.
  for (const char* name : {"AnalyzerType", "SrcTopology", "FileDate", "FileSize", "FileComment"})
    QVERIFY2(!(Child<QLineEdit>(w, name)->focusPolicy() & Qt::TabFocus), name);
  QCOMPARE(Child<QLineEdit>(w, "SourceField")->nextInFocusChain(), Child<QWidget>(w, "BrowseSourceButton"));
  QVERIFY(Child<QWidget>(w, "BrowseDestinationButton")->focusPolicy() & Qt::TabFocus);
  // Reopen opens only when there is something to reopen.
  auto* reopen = Child<QMenu>(w, "ReopenMenu");
  QVERIFY(!reopen->isEnabled());
  WritePcap(f.path("a.pcap"), {1, 5, 60, false});
  w.chooseSources({f.path("a.pcap")});
  QVERIFY(ChooseFormat(w, kSnoop));
  ConvertPressingOk(w);
  QVERIFY(reopen->isEnabled());
  // Every offered format can be written.
  for (const QString& name : FormatItems(w))
    QVERIFY2(HasWriter(*AnalyzerFromCodeOrName(name.toStdString())), qPrintable(name));
  TcpdumpOptionsDialog& pcap = w.tcpdumpOptionsDialog();
  QCOMPARE(Child<QRadioButton>(pcap, "StandardLayout")->text(),
           QString("Standard libpcap (Most Implementations)"));
}

void WindowTest::resultLines() {
  JobResult r;
  r.targetPath = "/data/out/trace.pcap";
  r.outcome = Outcome::Converted;
  r.framesWritten = 800000;
  QCOMPARE(ConversionResultLine(r, 2.345), QString("Converted: 800,000 frames written to trace.pcap in 2.3 s"));
  r.outcome = Outcome::Stopped;
  r.framesWritten = 1;
  QCOMPARE(ConversionResultLine(r, 0.01), QString("Stopped: 1 frame written to trace.pcap in under 0.1 s"));
  r.outcome = Outcome::ReadError;
  r.failureDetail = "record 3 at offset 120: captured length 70,000 exceeds 65,535";
  QCOMPARE(ConversionResultLine(r, 0.5),
           QString("Read error: 1 frame written to trace.pcap in 0.5 s (record 3 at offset 120: "
                   "captured length 70,000 exceeds 65,535)"));
  r.outcome = Outcome::NotOverwritten;  // nothing ran: the box said why
  QVERIFY(ConversionResultLine(r, 0).isEmpty());
  // A target that was not kept: no count of frames that are nowhere.
  r.outcome = Outcome::WriteFailed;
  r.framesWritten = 626;
  r.targetPath = "/data/out/capture.dmp";
  r.failureDetail = "/data/out/capture.dmp: No space left on device";
  QCOMPARE(ConversionResultLine(r, 0.5),
           QString("Write error: capture.dmp not written (/data/out/capture.dmp: No space left "
                   "on device)"));

  // Failure messages name their file, and never a temporary one.
  struct Row {
    const char* message;
    const char* expected;
  } rows[] = {
      {"Error reading from source file.  File may be corrupt.\nframe 10 near offset 714",
       "Error reading from source file.  File may be corrupt.\nframe 10 near offset 714\n"
       "Source file: /in/a.pcap"},
      {"Unable to write to destination file .morphalite-0123456789abcdef\n"
       "/out/.morphalite-0123456789abcdef: No space left on device",
       "Unable to write to destination file /out/b.dmp\n/out/b.dmp: No space left on device"},
      {"Unable to write to destination file\n/proc/self/fd/7: File too large",
       "Unable to write to destination file\n/out/b.dmp: File too large"},
      {"Unable to open Destination File.\nPermission denied",
       "Unable to open Destination File.\nPermission denied\nTarget file: /out/b.dmp"},
      {"a.pcap: captured length 70,000 exceeds 65,535",
       "a.pcap: captured length 70,000 exceeds 65,535"},
  };
  for (const Row& row : rows)
    QCOMPARE(NamingTheFile(row.message, "/in/a.pcap", "/out/b.dmp"), QString(row.expected));
}

void WindowTest::staleDisplayFallsBackToTheConsole() {
  // Display 987 has no server behind it on any sane machine.
  if (QFileInfo::exists("/tmp/.X11-unix/X987")) QSKIP("display :987 exists here");
  QVERIFY(!XServerAnswers(":987"));
  QVERIFY(!XServerAnswers("nonsense"));
  QVERIFY(!WaylandAnswers("wayland-987", QDir::tempPath().toStdString()));
  QTemporaryDir dir;
  QString source = dir.filePath("f.pcap");
  WritePcap(source, {1, 20, 60, false});
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", ":987");
  env.remove("QT_QPA_PLATFORM");
  env.remove("WAYLAND_DISPLAY");
  program.setProcessEnvironment(env);
  // A good code converts on the console; a bad one is reported there and
  // nothing waits.
  program.start(MORPHALITE_PROGRAM, {source, "TD"});
  QVERIFY(program.waitForFinished(20000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 0);
  QCOMPARE(CountPcapRecords(dir.filePath("f" + Suffix(Analyzer::Tcpdump, Topo::Ethernet))), 20);
  program.start(MORPHALITE_PROGRAM, {source, "QQ"});
  QVERIFY(program.waitForFinished(20000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QVERIFY(program.exitCode() != 0);
}

QTEST_MAIN(WindowTest)
#include "desktop_window_test.moc"
