#include "ui/cli/settings_file.h"

#include <cstdlib>
#include <fstream>

namespace morph {
namespace {

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A boolean stored as an integer string, as the window writes it.
void ReadBool(const std::string& value, bool& into) {
  std::string text = Trimmed(value);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    text = text.substr(1, text.size() - 2);
  if (text.empty()) return;
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (*end == '\0') into = number != 0;
}

}  // namespace

std::string SettingsFilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "";
    base = std::string(home) + "/.config";
  }
  return base + "/Corvantique/Morphalite.ini";
}

SavedTcpdumpOptions ReadSavedTcpdumpOptions(const std::string& iniPath) {
  SavedTcpdumpOptions saved;
  std::ifstream in(iniPath);
  const std::string group = std::string("[") + MORPHALITE_VERSION_MAJOR_MINOR + "]";
  bool inGroup = false;
  std::string line;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (!line.empty() && line.front() == '[') {
      inGroup = line == group;
      continue;
    }
    size_t equals = line.find('=');
    if (!inGroup || equals == std::string::npos) continue;
    std::string key = Trimmed(line.substr(0, equals));
    std::string value = line.substr(equals + 1);
    if (key == "Restore\\tcpdumpSwapped" || key == "Restore/tcpdumpSwapped")
      ReadBool(value, saved.swapBytes);
    else if (key == "Restore\\tcpdumpModified" || key == "Restore/tcpdumpModified")
      ReadBool(value, saved.modified);
  }
  return saved;
}

}  // namespace morph
