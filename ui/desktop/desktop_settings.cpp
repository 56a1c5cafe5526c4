#include "ui/desktop/desktop_settings.h"

#include <QSettings>

namespace morph {
namespace {

constexpr const char* kRecentSection = "Recent Files";
constexpr const char* kRestoreSection = "Restore";

int IntValue(const QSettings& ini, const QString& key, int fallback) {
  bool ok = false;
  int value = ini.value(key).toString().toInt(&ok);
  return ok ? value : fallback;
}

bool BoolValue(const QSettings& ini, const QString& key, bool fallback) {
  return IntValue(ini, key, fallback ? 1 : 0) != 0;
}

QString Key(const char* section, const QString& name) {
  return QString::fromLatin1(section) + '/' + name;
}

}  // namespace

QString DefaultSettingsFile() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, "Corvantique", "Morphalite")
      .fileName();
}

DesktopSettings LoadSettings(const QString& iniFile) {
  QSettings ini(iniFile, QSettings::IniFormat);
  ini.beginGroup(MORPHALITE_VERSION_MAJOR_MINOR);
  DesktopSettings s;
  for (int i = 0; i < kRecentFileCount; ++i)
    s.recentFiles.append(ini.value(Key(kRecentSection, QString::number(i))).toString());
  s.lastDirectory = ini.value(Key(kRecentSection, "Last Directory")).toString();
  s.tcpdumpSwapped = BoolValue(ini, Key(kRestoreSection, "tcpdumpSwapped"), true);
  s.tcpdumpModified = BoolValue(ini, Key(kRestoreSection, "tcpdumpModified"), false);
  s.lastTargetAnalyzer =
      IntValue(ini, Key(kRestoreSection, "Last Destination Analyzer Format"),
               Number(Analyzer::Ostrawind));
  s.lastTargetClass = IntValue(ini, Key(kRestoreSection, "Last Destination Analyzer Topology"), 0);
  s.lastDestinationDirectory = ini.value(Key(kRestoreSection, "Last Destination Directory")).toString();
  s.windowGeometry = ini.value(Key(kRestoreSection, "Window Geometry")).toString();
  return s;
}

void SaveSettings(const QString& iniFile, const DesktopSettings& s) {
  QSettings ini(iniFile, QSettings::IniFormat);
  ini.beginGroup(MORPHALITE_VERSION_MAJOR_MINOR);
  if (!s.recentFiles.isEmpty())
    for (int i = 0; i < kRecentFileCount; ++i)
      ini.setValue(Key(kRecentSection, QString::number(i)), s.recentFiles.value(i));
  ini.setValue(Key(kRecentSection, "Last Directory"), s.lastDirectory);
  ini.setValue(Key(kRestoreSection, "Last Destination Analyzer Format"),
               QString::number(s.lastTargetAnalyzer & 0xFF));
  ini.setValue(Key(kRestoreSection, "Last Destination Analyzer Topology"),
               QString::number(s.lastTargetClass));
  ini.setValue(Key(kRestoreSection, "Last Destination Directory"), s.lastDestinationDirectory);
  ini.setValue(Key(kRestoreSection, "Window Geometry"), s.windowGeometry);
  ini.setValue(Key(kRestoreSection, "tcpdumpSwapped"), QString(s.tcpdumpSwapped ? "1" : "0"));
  ini.setValue(Key(kRestoreSection, "tcpdumpModified"), QString(s.tcpdumpModified ? "1" : "0"));
  ini.endGroup();
  ini.sync();
}

void AddRecentFile(QStringList& recent, const QString& path) {
  recent.removeAll(path);
  while (recent.size() > kRecentFileCount - 1) recent.removeLast();
  while (recent.size() < kRecentFileCount - 1) recent.append(QString());
  recent.prepend(path);
}

}  // namespace morph
