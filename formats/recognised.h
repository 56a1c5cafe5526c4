// Analyzer types whose files are recognised, or known by name, but not read.
#pragma once

#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer types' numbers, stored in settings and shown by identify.
inline constexpr AnalyzerType LanDesk = AnalyzerType(15);
inline constexpr AnalyzerType Bsts = AnalyzerType(3);
inline constexpr AnalyzerType LanWatch = AnalyzerType(16);
inline constexpr AnalyzerType NetLens = AnalyzerType(18);
}  // namespace Analyzer

}  // namespace morph
