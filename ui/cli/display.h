// Whether a window can open at all: the display the environment names must
// answer. A stale DISPLAY (no server behind it) makes Qt end the program
// before it can fall back, so this is checked first.
#pragma once
#include <string>

namespace morph {

// Something accepts connections on the X display named like DISPLAY
// ("[host]:number[.screen]").
bool XServerAnswers(const std::string& display);
// The Wayland compositor socket named like WAYLAND_DISPLAY answers.
bool WaylandAnswers(const std::string& name, const std::string& runtimeDirectory);
// For the current environment and Qt platform choice.
bool DisplayAvailable();

}  // namespace morph
