// Reads the libpcap output choice the desktop window saved, so the console's
// positional mode writes libpcap targets the way the window would.
#pragma once
#include <string>

namespace morph {

struct SavedTcpdumpOptions {
  bool swapBytes = true;   // big-endian output
  bool modified = false;   // records with the 8 extra bytes
};

// The settings file of the current user: $XDG_CONFIG_HOME (or ~/.config)
// followed by Corvantique/Morphalite.ini.
std::string SettingsFilePath();

// The "Restore" values of this version's group; a missing file or value, or
// one that does not parse, gives the default.
SavedTcpdumpOptions ReadSavedTcpdumpOptions(const std::string& iniPath);

}  // namespace morph
