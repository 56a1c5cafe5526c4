// Tagged packet files: the analyzer type their descriptor stands for.
#pragma once

#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Farrowe = AnalyzerType(33);
}  // namespace Analyzer

}  // namespace morph
