// The command line: the three positional parameters (source, target code,
// /NS) and the subcommands convert and identify.
#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/job.h"

namespace morph {

// Exit statuses of the command line.
namespace Exit {
constexpr int Ok = 0;
constexpr int Usage = 1;            // bad arguments or an unknown target code
constexpr int SourceRefused = 2;    // not a trace file, unsupported, too small, unreadable
constexpr int ReadError = 3;        // the source could not be read to its end
constexpr int WriteFailed = 4;      // destination could not be created or written
constexpr int NoFrames = 5;         // nothing was written
constexpr int Stopped = 6;          // stopped by the user; the target holds what was written
constexpr int BadCompression = 7;   // converted, but compressed data went bad
constexpr int WouldLoseData = 8;    // --strict: the target could not hold everything; not kept
// A batch returns the status of its first source that did not convert.
}  // namespace Exit

// The exit status of a conversion that ended so.
int ExitFor(Outcome outcome);

// What the first arguments ask for.
enum class LaunchMode { Desktop, Console };
// Desktop for no arguments, a source alone, or a source and code without /NS;
// everything else (subcommands, options, /NS) runs on the console.
LaunchMode ClassifyCommandLine(const std::vector<std::string>& args);

// Runs a console command line; returns the exit status.
int RunCommandLine(const std::vector<std::string>& args);

// morphalite identify [--json] [--frames] FILE...
int RunIdentifyCommand(const std::vector<std::string>& args, std::FILE* out);

// morphalite merge SOURCE... --to CODE -o TARGET [convert's options]
int RunMergeCommand(const std::vector<std::string>& args);
// morphalite info [--json] FILE...
int RunInfoCommand(const std::vector<std::string>& args, std::FILE* out);

// The options of convert, which merge takes too.
struct ConvertArgs {
  std::vector<std::string> sources;
  std::string output;
  std::optional<AnalyzerType> target;
  JobRequest options;
  bool quiet = false;
  bool help = false;
  bool json = false;
  unsigned jobs = 1;  // 0: one per core
};
// Parses args[1...] (args[0] names the command); the error text, or empty.
std::string ParseConversionOptions(const std::vector<std::string>& args, ConvertArgs& out);
// The name of an outcome in --json output.
const char* OutcomeText(Outcome outcome);
// One source converted as `convert SOURCE OPTIONS... --json` converts it,
// printing nothing (the library's conversion): `args` start with "convert".
struct QuietConversion {
  int status = Exit::Ok;
  std::string usageError;  // the options were refused (status Usage)
  JobResult result;
  std::string json;  // the object --json prints, without its newline
  std::vector<std::string> messages;  // "Caption: text"
  std::string detail;                 // the reason behind a failure
};
QuietConversion ConvertQuietly(const std::vector<std::string>& args);

// One file as `identify --json FILE` tells it, printing nothing.
struct IdentifiedFile {
  int status = Exit::Ok;  // Ok or SourceRefused
  std::string analyzer, interface;
  int64_t fileSize = 0;
  int32_t frames = 0;          // as the file states it, 0 if not
  std::string message, detail;  // the refusal and the reason behind it
  std::string json;             // the object --json prints, without its newline
};
IdentifiedFile IdentifyQuietly(const std::string& path);

// Sources read in one pass (standard input "-", a pipe, a process
// substitution's /dev/fd/N, a device) are copied to private files first:
// identification and most readers look at a file more than once. The copies
// go when the spool does.
class SourceSpool {
 public:
  SourceSpool() = default;
  SourceSpool(const SourceSpool&) = delete;
  SourceSpool& operator=(const SourceSpool&) = delete;
  ~SourceSpool();
  // Whether a source given on the command line is read in one pass.
  static bool NeedsSpool(const std::string& source);
  // The copy of `source`, or empty when it could not be made (errno tells why).
  std::string spool(const std::string& source);

  // A source as identify and info read it: the path to open (a copy where
  // the source is read in one pass; empty when that copy failed), the name
  // messages give it, and whether it was copied.
  struct Given {
    std::string path, name;
    bool spooled;
  };
  Given take(const std::string& source);

 private:
  std::vector<int> spooled_;  // the copies' descriptors
};

std::string UsageText();
std::string ConvertHelpText();
std::string IdentifyHelpText();
std::string MergeHelpText();
std::string InfoHelpText();
// The bash completion script, from the same option table as the help text.
std::string BashCompletion();
// Every name of every convert option ("-o", "--output", ...), and of identify's.
std::vector<std::string> ConvertOptionNames();
std::vector<std::string> IdentifyOptionNames();
std::vector<std::string> InfoOptionNames();
// The manual page (roff), from the same option tables (morphalite --man);
// docs/morphalite.1 is its output.
std::string ManualPage();
// The formats this build reads and writes: a row each, and as a Markdown table.
struct FormatRow {
  std::string name, code;
  std::vector<std::string> names;  // friendly names --to takes
  std::string suffix;
  bool read = false, write = false;
};
std::vector<FormatRow> FormatRows();
std::string FormatsTable();

}  // namespace morph
