// Settings and recent files: the INI layout, defaults, the recent-files
// rules, a restart of the window, and the console's reader of the same file.
#include <QAction>
#include <QComboBox>
#include <QSettings>
#include <QLineEdit>
#include <QtTest>

#include "desktop_fixtures.h"
#include "engine/catalogue.h"
#include "formats/lan900.h"
#include "formats/packet_file.h"
#include "formats/pcap.h"
#include "formats/pcapng.h"
#include "formats/snoop.h"
#include "formats/text_dump.h"
#include "ui/cli/settings_file.h"

using namespace morph;
using namespace morph::testing;

class SettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void recentFilesKeepEightPlacesMostRecentFirst();
  void settingsRoundTripAsStrings();
  void missingOrBadValuesTakeDefaults();
  void storedTargetNumbersNameTheSameFormats();
  void windowKeepsItsChoicesAcrossARestart();
  void firstRunOffersOstrawindAndAnEmptyReopenMenu();
  void savedFormatTheSourceCannotTakeGivesWay();
  void consoleReadsTheSavedLibpcapOptions();
};

void SettingsTest::recentFilesKeepEightPlacesMostRecentFirst() {
  QStringList recent;
  AddRecentFile(recent, "/t/a.cap");
  AddRecentFile(recent, "/t/b.cap");
  AddRecentFile(recent, "/t/a.cap");
  QCOMPARE(recent.size(), kRecentFileCount);
  QCOMPARE(recent.mid(0, 3), (QStringList{"/t/a.cap", "/t/b.cap", ""}));
  QCOMPARE(recent.count("/t/a.cap"), 1);

  // Letter case counts: two entries.
  AddRecentFile(recent, "/t/A.cap");
  QCOMPARE(recent.mid(0, 3), (QStringList{"/t/A.cap", "/t/a.cap", "/t/b.cap"}));

  // The oldest falls out after eight; a full list stays at eight.
  QStringList full;
  for (int i = 1; i <= 9; ++i) AddRecentFile(full, QString("/t/%1.cap").arg(i));
  QCOMPARE(full.size(), kRecentFileCount);
  QCOMPARE(full.front(), QString("/t/9.cap"));
  QCOMPARE(full.back(), QString("/t/2.cap"));
  // Moving the last entry to the top keeps each path once.
  AddRecentFile(full, "/t/2.cap");
  QCOMPARE(full.size(), kRecentFileCount);
  QCOMPARE(full.count("/t/2.cap"), 1);
  QCOMPARE(full.back(), QString("/t/3.cap"));
}

void SettingsTest::settingsRoundTripAsStrings() {
  QTemporaryDir dir;
  QString file = dir.filePath("m.ini");
  DesktopSettings s;
  s.recentFiles = QStringList{"/x y/a&b.cap", "", "/c;d=e.pcap", "", "", "", "", ""};
  s.lastDirectory = "/x y";
  s.tcpdumpSwapped = false;
  s.tcpdumpModified = true;
  s.lastTargetAnalyzer = Number(Analyzer::Snoop);
  s.lastTargetClass = 3;
  s.lastDestinationDirectory = "/out put;x";
  s.windowGeometry = "AdnQywADAAA=";
  SaveSettings(file, s);

  DesktopSettings back = LoadSettings(file);
  QCOMPARE(back.recentFiles, s.recentFiles);
  QCOMPARE(back.lastDirectory, s.lastDirectory);
  QCOMPARE(back.tcpdumpSwapped, false);
  QCOMPARE(back.tcpdumpModified, true);
  QCOMPARE(back.lastTargetAnalyzer, int(Analyzer::Snoop));
  QCOMPARE(back.lastTargetClass, 3);
  QCOMPARE(back.lastDestinationDirectory, s.lastDestinationDirectory);
  QCOMPARE(back.windowGeometry, s.windowGeometry);

  // The layout: a group named by major.minor, the two sections, strings only.
  QSettings raw(file, QSettings::IniFormat);
  raw.beginGroup(MORPHALITE_VERSION_MAJOR_MINOR);
  QCOMPARE(raw.value("Recent Files/0").toString(), QString("/x y/a&b.cap"));
  QCOMPARE(raw.value("Recent Files/Last Directory").toString(), QString("/x y"));
  QCOMPARE(raw.value("Restore/tcpdumpSwapped").toString(), QString("0"));
  QCOMPARE(raw.value("Restore/tcpdumpModified").toString(), QString("1"));
  QCOMPARE(raw.value("Restore/Last Destination Analyzer Format").toString(), QString("28"));
  QCOMPARE(raw.value("Restore/Last Destination Analyzer Topology").toString(), QString("3"));
  for (const QString& key : raw.allKeys())
    QCOMPARE(raw.value(key).typeId(), QMetaType::QString);
}

void SettingsTest::missingOrBadValuesTakeDefaults() {
  QTemporaryDir dir;
  DesktopSettings none = LoadSettings(dir.filePath("absent.ini"));
  QCOMPARE(none.recentFiles, QStringList(QVector<QString>(kRecentFileCount).toList()));
  QVERIFY(none.lastDirectory.isEmpty());
  QCOMPARE(none.tcpdumpSwapped, true);
  QCOMPARE(none.tcpdumpModified, false);
  QCOMPARE(none.lastTargetAnalyzer, int(Analyzer::Ostrawind));
  QCOMPARE(none.lastTargetClass, 0);

  QString file = dir.filePath("bad.ini");
  {
    QSettings raw(file, QSettings::IniFormat);
    raw.beginGroup(MORPHALITE_VERSION_MAJOR_MINOR);
    raw.setValue("Restore/tcpdumpSwapped", "yes");  // not an integer: default
    raw.setValue("Restore/tcpdumpModified", "7");   // any non-zero integer is true
    raw.setValue("Restore/Last Destination Analyzer Format", "x1");
    raw.endGroup();
    raw.setValue("2.9/Restore/Last Destination Analyzer Topology", "1");  // another version
  }
  DesktopSettings bad = LoadSettings(file);
  QCOMPARE(bad.tcpdumpSwapped, true);
  QCOMPARE(bad.tcpdumpModified, true);
  QCOMPARE(bad.lastTargetAnalyzer, int(Analyzer::Ostrawind));
  QCOMPARE(bad.lastTargetClass, 0);
}

// Settings an older version wrote keep naming the same target formats: the
// stored numbers are the families' own.
void SettingsTest::storedTargetNumbersNameTheSameFormats() {
  const std::pair<const char*, AnalyzerType> rows[] = {
      {"2", Analyzer::Ascii},   {"7", Analyzer::Ostrawind}, {"12", Analyzer::Lan900},
      {"28", Analyzer::Snoop},  {"30", Analyzer::Tcpdump},  {"36", Analyzer::Pcapng},
  };
  QTemporaryDir dir;
  for (const auto& [stored, type] : rows) {
    const QString file = dir.filePath(QString("old%1.ini").arg(stored));
    {
      QSettings raw(file, QSettings::IniFormat);
      raw.setValue(QString(MORPHALITE_VERSION_MAJOR_MINOR) +
                       "/Restore/Last Destination Analyzer Format",
                   stored);
    }
    const int loaded = LoadSettings(file).lastTargetAnalyzer;
    QCOMPARE(AnalyzerFromNumber(loaded), type);
    QVERIFY(WriterFormat(AnalyzerFromNumber(loaded)) != nullptr);
  }
}

void SettingsTest::windowKeepsItsChoicesAcrossARestart() {
  WindowFixture f;
  WritePcap(f.path("a.cap"), {});
  WritePcap(f.path("b.cap"), {});
  auto convert = [&](const QString& path) {
    f.window->chooseSources({path});
    ChooseFormat(*f.window, QString::fromStdString(AnalyzerName(Analyzer::Tcpdump)));
    f.prompter.answers = {Answer::Yes};
    ConvertPressingOk(*f.window);
  };
  convert(f.path("a.cap"));
  convert(f.path("b.cap"));
  convert(f.path("a.cap"));
  f.reopenWindow();

  MainWindow& w = *f.window;
  QCOMPARE(w.recentFiles().mid(0, 3), (QStringList{f.path("a.cap"), f.path("b.cap"), ""}));
  auto* first = Child<QAction>(w, "RecentItem1");
  QCOMPARE(first->text(), "&1 " + f.path("a.cap"));
  QVERIFY(first->isVisible());
  QVERIFY(Child<QAction>(w, "RecentItem2")->isVisible());
  QVERIFY(!Child<QAction>(w, "RecentItem3")->isVisible());
  QCOMPARE(w.targetAnalyzer(), Analyzer::Tcpdump);
  QCOMPARE(w.currentSettings().lastDirectory, f.dir.path());
  // The libpcap order the last source brought is what was saved.
  QCOMPARE(w.tcpdumpSwapBytes(), false);

  // The window's size and the folder several files were written to last.
  QDir(f.dir.path()).mkdir("out");
  w.chooseSources({f.path("a.cap"), f.path("b.cap")});
  Child<QLineEdit>(w, "DestinationField")->setText(f.path("out/"));
  ConvertPressingOk(w);
  w.resize(w.width() + 123, w.height() + 45);
  const QSize size = w.size();
  f.reopenWindow();
  QCOMPARE(f.window->size(), size);
  f.window->chooseSources({f.path("a.cap"), f.path("b.cap")});
  QCOMPARE(Child<QLineEdit>(*f.window, "DestinationField")->text(), f.path("out/"));
}

void SettingsTest::firstRunOffersOstrawindAndAnEmptyReopenMenu() {
  WindowFixture f;
  MainWindow& w = *f.window;
  for (const char* name : {"RecentItem1", "RecentItem2", "RecentItem8"}) QVERIFY(!Child<QAction>(w, name)->isVisible());
  WritePcap(f.path("first.pcap"), {});
  w.chooseSources({f.path("first.pcap")});
  QCOMPARE(Child<QComboBox>(w, "FormatBox")->currentText(),
           QString::fromStdString(AnalyzerName(Analyzer::Ostrawind)));
}

void SettingsTest::savedFormatTheSourceCannotTakeGivesWay() {
  WindowFixture f;
  f.window.reset();
  DesktopSettings s;
  s.lastTargetAnalyzer = Number(Analyzer::Ringstave);  // not offered for Ethernet sources
  SaveSettings(f.settingsFile, s);
  f.reopenWindow();
  WritePcap(f.path("e.pcap"), {});
  f.window->chooseSources({f.path("e.pcap")});
  QString first = FormatItems(*f.window).value(0);
  QCOMPARE(Child<QComboBox>(*f.window, "FormatBox")->currentText(), first);
  f.window.reset();
  QCOMPARE(LoadSettings(f.settingsFile).lastTargetAnalyzer,
           int(TargetFromListText(first.toStdString())));
}

void SettingsTest::consoleReadsTheSavedLibpcapOptions() {
  QTemporaryDir dir;
  QString file = dir.filePath("Morphalite.ini");
  QCOMPARE(ReadSavedTcpdumpOptions(file.toStdString()).swapBytes, true);  // no file: defaults
  QCOMPARE(ReadSavedTcpdumpOptions(file.toStdString()).modified, false);

  for (bool swap : {false, true})
    for (bool modified : {false, true}) {
      DesktopSettings s;
      s.tcpdumpSwapped = swap;
      s.tcpdumpModified = modified;
      SaveSettings(file, s);
      SavedTcpdumpOptions read = ReadSavedTcpdumpOptions(file.toStdString());
      QCOMPARE(read.swapBytes, swap);
      QCOMPARE(read.modified, modified);
    }

  // Only this version's group counts; quoted and bad values.
  WriteText(file,
            "[2.9]\nRestore\\tcpdumpSwapped=0\n"
            "[" MORPHALITE_VERSION_MAJOR_MINOR "]\nRestore\\tcpdumpModified=\"1\"\n"
            "Restore\\tcpdumpSwapped=maybe\n");
  SavedTcpdumpOptions mixed = ReadSavedTcpdumpOptions(file.toStdString());
  QCOMPARE(mixed.swapBytes, true);
  QCOMPARE(mixed.modified, true);

  // The file name follows XDG_CONFIG_HOME.
  qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
  QCOMPARE(QString::fromStdString(SettingsFilePath()), dir.filePath("Corvantique/Morphalite.ini"));
  QCOMPARE(QString::fromStdString(SettingsFilePath()), DefaultSettingsFile());
}

QTEST_MAIN(SettingsTest)
#include "desktop_settings_test.moc"
