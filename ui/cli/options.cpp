#include "ui/cli/options.h"

#include <algorithm>
#include <optional>

#include "engine/bytes.h"

namespace morph {
namespace {

constexpr const char* kPerFileJson = "one JSON object per file, with ISO 8601 times";
constexpr const char* kThisText = "this text";

const OptionRow kOptions[] = {
    {Option::To, "--to", "CODE|NAME",
     "target format: a code, display name or friendly name (--formats)", nullptr, nullptr,
     "a target code or analyzer name"},
    {Option::Output, "-o, --output", "FILE|DIR|-",
     "target file, directory, or - for standard output", nullptr, nullptr, "a file or directory"},
    {Option::NoClobber, "-n, --no-clobber", "", "never replace an existing target"},
    {Option::Range, "--range", "LIST",
     "these frames only: A-B, A-, -B, N, or a list such as 1,5,9-12"},
    {Option::After, "--after", "TIME",
     "frames at or after TIME (ISO 8601 with Z or +hh:mm, or epoch seconds)"},
    {Option::Before, "--before", "TIME", "frames before TIME only (as --after)"},
    {Option::Dedup, "--dedup", "",
     "drop a frame whose bytes equal one of the 4 frames read before it"},
    {Option::TimeShift, "--time-shift", "SECONDS",
     "move every frame's time, e.g. 3600 or -0.5 (to the nanosecond)"},
    {Option::StartTime, "--start-time", "TIME",
     "the first frame gets TIME, the others keep their distance"},
    {Option::SplitFrames, "--split-frames", "N",
     "write files NAME_00000.SUF, NAME_00001.SUF... of N frames each"},
    {Option::SplitSeconds, "--split-seconds", "S",
     "split the target (as --split-frames) every S seconds of frames"},
    {Option::SplitAtLimits, "--split-at-limits", "",
     "go on in a next file (as --split-frames) at a format's limit"},
    {Option::Slice, "--slice", "N", "store at most N bytes of each frame (32 to 65535)", nullptr,
     nullptr, "a length"},
    {Option::ToEthernet, "--to-ethernet", "", "802.11 frames become Ethernet frames"},
    {Option::ToWireless, "--to-wireless", "", "Ethernet frames become 802.11 frames"},
    {Option::PcapOrder, "--pcap-order", "big|little", "byte order of libpcap targets"},
    {Option::PcapVariant, "--pcap-variant", "standard|modified", "record layout of libpcap targets"},
    {Option::PcapResolution, "--pcap-resolution", "us|ns",
     "time resolution of libpcap targets (default us)"},
    {Option::AsciiFields, "--ascii-fields", "LIST",
     "text targets: number,length,date,usecs,hex,ascii"},
    {Option::AsciiDelimiter, "--ascii-delimiter", "tab|comma|fixed",
     "text targets: field delimiter"},
    {Option::AsciiNoHeader, "--ascii-no-header", "", "text targets: no descriptive header"},
    {Option::AsciiNoFieldHeaders, "--ascii-no-field-headers", "", "text targets: no field headers"},
    {Option::SourceTz, "--source-tz", "ZONE",
     "zone of the source's local times (default: this machine's)", nullptr, nullptr,
     "a zone: an IANA name, a POSIX rule or UTC"},
    {Option::TargetTz, "--target-tz", "ZONE",
     "zone of the target's local times (default: this machine's)", nullptr, nullptr,
     "a zone: an IANA name, a POSIX rule or UTC"},
    {Option::Interface, "--interface", "N",
     "only the frames of interface N (from 0, as identify lists them)", nullptr, nullptr,
     "an interface number"},
    {Option::SplitInterfaces, "--split-interfaces", "",
     "one target per interface, named with .ifN before the suffix"},
    {Option::From, "--from", "CODE|NAME",
     "read the sources as this format, without identifying them", nullptr, nullptr,
     "a source code or analyzer name"},
    {Option::SourceDate, "--source-date", "DATE",
     "date of sources whose format stores times of day only "
     "(ISO 8601; default: the file's modification time)"},
    {Option::ObserverLayout, "--observer-layout", "4|15",
     "layout of Observer targets (default 4; 15 as current analyzers write)"},
    {Option::Jobs, "-j, --jobs", "N", "convert N sources at once (0: one per core; default 1)",
     nullptr, nullptr, "a number"},
    {Option::Frames, "--frames", "", nullptr,
     "read every frame: count, first and last time, cut frames, largest"},
    {Option::Salvage, "--salvage", "",
     "pass over damage to the next sound record where the format allows",
     "with --frames: pass over damage as convert --salvage does"},
    {Option::Strict, "--strict", "",
     "fail (status 8) and keep no target when anything would be lost"},
    {Option::NoPad, "--no-pad", "",
     "keep short Ethernet frames as stored (default libpcap/pcapng to either)"},
    {Option::Json, "--json", "", "one JSON object per source on standard output, messages in it",
     kPerFileJson, kPerFileJson},
    {Option::Quiet, "--quiet", "", "no progress line, no per-file lines"},
    {Option::Help, "-h, --help", "", kThisText, kThisText, kThisText},
};

// The table's row of a name as given ("-j", "--jobs"), or null.
const OptionRow* Find(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    const std::vector<std::string> names = NamesOf(row);
    if (std::find(names.begin(), names.end(), name) != names.end()) return &row;
  }
  return nullptr;
}

const char* CommandName(Command command) {
  switch (command) {
    case Command::Convert: return "convert";
    case Command::Identify: return "identify";
    case Command::Info: return "info";
  }
  return "";
}

std::string UnknownOption(const std::string& name, Command command) {
  // convert's message names no command: merge shares it.
  if (command == Command::Convert) return "unknown option " + name;
  return "unknown option " + name + " of " + CommandName(command);
}

// One argument that starts with "-": its name and any value attached to it.
struct Spelling {
  std::string name;
  std::optional<std::string> attached;
};

Spelling SpellingOf(const std::string& arg) {
  if (arg.rfind("--", 0) == 0) {
    const size_t equals = arg.find('=');
    if (equals == std::string::npos) return {arg, std::nullopt};
    return {arg.substr(0, equals), arg.substr(equals + 1)};
  }
  // -j2, -oFILE: a short option that takes a value may have it attached.
  const OptionRow* shortForm = Find(arg.substr(0, 2));
  if (arg.size() > 2 && shortForm && shortForm->takesValue()) return {arg.substr(0, 2), arg.substr(2)};
  return {arg, std::nullopt};
}

// Takes the option at args[i] (moving i past a value that follows it).
std::string TakeOption(std::span<const std::string> args, size_t& i, Command command,
                       CommandLine& out) {
  const Spelling spelling = SpellingOf(args[i]);
  const OptionRow* row = Find(spelling.name);
  if (!row || !row->helpFor(command)) return UnknownOption(spelling.name, command);
  GivenOption given{row->option, spelling.name, spelling.attached.value_or("")};
  if (!row->takesValue() && spelling.attached) return spelling.name + " takes no value";
  if (row->takesValue() && !spelling.attached && i + 1 < args.size()) given.value = args[++i];
  if (row->takesValue() && given.value.empty() && row->missing)
    return spelling.name + " needs " + row->missing;
  out.options.push_back(std::move(given));
  return "";
}

}  // namespace

const char* OptionRow::helpFor(Command command) const {
  switch (command) {
    case Command::Convert: return convertHelp;
    case Command::Identify: return identifyHelp;
    case Command::Info: return infoHelp;
  }
  return nullptr;
}

const OptionRow& RowOf(Option option) {
  return *std::find_if(std::begin(kOptions), std::end(kOptions),
                       [option](const OptionRow& row) { return row.option == option; });
}

std::vector<std::string> NamesOf(const OptionRow& row) {
  std::vector<std::string> names;
  const std::string list = row.names;
  for (size_t start = 0;;) {
    const size_t comma = list.find(", ", start);
    names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 2;
  }
}

std::vector<const OptionRow*> OptionsOf(Command command) {
  std::vector<const OptionRow*> rows;
  for (const OptionRow& row : kOptions)
    if (row.helpFor(command)) rows.push_back(&row);
  return rows;
}

std::string Spelled(Option option) {
  const OptionRow& row = RowOf(option);
  return NamesOf(row).front() + (row.takesValue() ? std::string(" ") + row.value : "");
}

bool IsHelpOption(const std::string& arg) {
  const std::vector<std::string> names = NamesOf(RowOf(Option::Help));
  return std::find(names.begin(), names.end(), arg) != names.end();
}

std::string SplitCommandLine(std::span<const std::string> args, Command command,
                             CommandLine& out) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      if (!optionsEnded && command == Command::Convert && Upper(arg) == kUnattended)
        out.options.push_back({Option::Quiet, arg, ""});
      else
        out.operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (std::string error = TakeOption(args, i, command, out); !error.empty()) {
      return error;
    }
  }
  return "";
}

}  // namespace morph
