// What the window keeps between runs: an INI file in the user's
// configuration directory (organisation "Corvantique", application
// "Morphalite"), one group per major.minor version, every value a string.
#pragma once
#include <QString>
#include <QStringList>

#include "engine/types.h"
#include "formats/packet_file.h"

namespace morph {

constexpr int kRecentFileCount = 8;

struct DesktopSettings {
  QStringList recentFiles;  // most recent first; empty strings are unused places
  QString lastDirectory;
  bool tcpdumpSwapped = true;
  bool tcpdumpModified = false;
  int lastTargetAnalyzer = Number(Analyzer::Ostrawind);
  int lastTargetClass = 0;
  QString lastDestinationDirectory;  // where several sources were last written
  QString windowGeometry;            // the window's size and place, base64
};

// The INI file the program uses for the current user.
QString DefaultSettingsFile();

// Missing values and integers that do not parse take their defaults.
DesktopSettings LoadSettings(const QString& iniFile);
void SaveSettings(const QString& iniFile, const DesktopSettings& settings);

// Puts `path` first; drops older entries equal to it (letter case counts)
// and keeps eight places.
void AddRecentFile(QStringList& recent, const QString& path);

}  // namespace morph
