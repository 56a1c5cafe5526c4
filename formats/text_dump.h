// The ASCII text dump: its analyzer type and the fields a user chooses.
#pragma once

#include "engine/types.h"

namespace morph {

namespace Analyzer {
// The analyzer type's number, stored in settings and shown by identify.
inline constexpr AnalyzerType Ascii = AnalyzerType(2);
}  // namespace Analyzer

// The fields of a text dump target (a JobRequest's formatOptions); the
// window's dialog and the command line both edit this record.
struct TextDumpOptions {
  enum class Delimiter { Tab, Comma, Fixed };
  bool descriptiveHeader = true;
  bool fieldHeaders = true;
  Delimiter delimiter = Delimiter::Tab;
  bool frameNumber = true;
  bool frameLength = true;
  bool timestampDate = true;
  bool timestampMicros = false;
  bool dataHex = true;
  bool dataAscii = false;
};

}  // namespace morph
