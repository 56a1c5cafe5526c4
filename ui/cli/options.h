// The options of the subcommands: one table that the parser, the help texts,
// the shell completion and the manual page all read.
#pragma once
#include <span>
#include <string>
#include <vector>

namespace morph {

// Every option of a subcommand; the table in options.cpp spells them.
enum class Option {
  To, Output, NoClobber, Range, After, Before, Dedup, TimeShift, StartTime, SplitFrames,
  SplitSeconds, SplitAtLimits, Slice, ToEthernet, ToWireless, PcapOrder, PcapVariant,
  PcapResolution, AsciiFields, AsciiDelimiter, AsciiNoHeader, AsciiNoFieldHeaders, SourceTz,
  TargetTz, Interface, SplitInterfaces, From, SourceDate, ObserverLayout, Jobs, Frames, Salvage,
  Strict, NoPad, Json, Quiet, Help,
};

// The subcommands that take options (merge takes convert's).
enum class Command { Convert, Identify, Info };

struct OptionRow {
  Option option;
  const char* names;  // "-o, --output": the short form, if any, first
  const char* value;  // what the option takes ("FILE|DIR|-"), empty for a switch
  // The help line of each command that takes the option, null where it does not.
  const char* convertHelp;
  const char* identifyHelp = nullptr;
  const char* infoHelp = nullptr;
  // What a value left out or empty is told, null where the value's own check tells it.
  const char* missing = nullptr;

  const char* helpFor(Command command) const;
  bool takesValue() const { return *value != '\0'; }
};

const OptionRow& RowOf(Option option);
// "-o, --output" as {"-o", "--output"}.
std::vector<std::string> NamesOf(const OptionRow& row);
// The options a command takes, in the table's order.
std::vector<const OptionRow*> OptionsOf(Command command);
// The option's first name with its value: "--to CODE|NAME".
std::string Spelled(Option option);

// The positional form's switch for running unattended; convert takes it for --quiet.
constexpr const char* kUnattended = "/NS";

// One option as given on a command line.
struct GivenOption {
  Option option;
  std::string name;   // as given: "-j" or "--jobs"
  std::string value;  // empty for a switch
};
struct CommandLine {
  std::vector<GivenOption> options;
  std::vector<std::string> operands;  // sources and files, "-" among them
};

// Splits the arguments after a command's name into options and operands:
// --name VALUE, --name=VALUE, a short name's value attached (-j2, -oFILE) or
// following, "--" ending the options. Returns the error text, or empty; on
// an error `out` holds what came before it.
std::string SplitCommandLine(std::span<const std::string> args, Command command,
                             CommandLine& out);
// Whether an argument names the help option.
bool IsHelpOption(const std::string& arg);

}  // namespace morph
