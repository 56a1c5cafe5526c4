#include "ui/cli/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/job.h"
#include "engine/timebase.h"
#include "ui/cli/console_host.h"
#include "ui/cli/settings_file.h"

namespace morph {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int ExitFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return Exit::Ok;
    case Outcome::SourceRefused: return Exit::SourceRefused;
    case Outcome::NoWriter: return Exit::Usage;
    case Outcome::SameFile:
    case Outcome::NotOverwritten:
    case Outcome::DestinationError:
    case Outcome::WriteFailed: return Exit::WriteFailed;
    case Outcome::ReadError: return Exit::ReadError;
    case Outcome::NoFrames: return Exit::NoFrames;
    case Outcome::Stopped: return Exit::Stopped;
    case Outcome::BadCompression: return Exit::BadCompression;
  }
  return Exit::WriteFailed;
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "Parameter Error: %s\n%s", text.c_str(), UsageText().c_str());
  return Exit::Usage;
}

// The positional form: SOURCE CODE [/NS]. Runs unattended on the console.
int RunPositional(const std::vector<std::string>& args) {
  const std::string& source = args[0];
  const std::string& code = args[1];
  bool quiet = args.size() > 2 && Upper(args[2]) == "/NS";
  ConsoleHost host(!quiet);
  host.setSource(source, false);
  auto target = AnalyzerFromCode(code);
  if (!target) {
    host.message("Parameter Error", "Bad destination analyzer type of " + code + ".",
                 MessageIcon::Error);
    return Exit::Usage;
  }
  JobRequest request;
  request.sourcePath = source;
  request.target = *target;
  request.overwrite = true;
  // libpcap output as the window saved it (a libpcap source keeps its own).
  SavedTcpdumpOptions saved = ReadSavedTcpdumpOptions(SettingsFilePath());
  request.pcapSwapDefault = saved.swapBytes;
  request.pcapModifiedDefault = saved.modified;
  JobResult result = RunConversionJob(request, DefaultCapabilities(), host);
  return ExitFor(result.outcome);
}

struct ConvertArgs {
  std::vector<std::string> sources;
  std::string output;
  std::optional<AnalyzerType> target;
  JobRequest options;
  bool quiet = false;
  bool help = false;
};

// Edit distance, for naming the codes nearest to a mistyped one.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// "Bad destination analyzer type of X." and the codes and names nearest to it.
std::string UnknownTarget(const std::string& text) {
  std::multimap<size_t, std::string> near;
  const std::string upper = Upper(text);
  for (int type = 0; type < Analyzer::Count; ++type) {
    const auto analyzer = AnalyzerType(type);
    if (!HasWriter(analyzer)) continue;
    const AnalyzerInfo& info = Analyzers(analyzer);
    std::vector<std::string> names = FriendlyNames(analyzer);
    if (info.code && *info.code) names.insert(names.begin(), info.code);
    for (const std::string& name : names) {
      const size_t d = Distance(upper, Upper(name));
      if (d <= std::max<size_t>(1, upper.size() / 3))
        near.emplace(d, name + " (" + info.name + ")");
    }
  }
  std::string line = "Bad destination analyzer type of " + text + ".";
  std::string list;
  int shown = 0;
  for (const auto& [distance, name] : near) {
    if (shown++ == 3) break;
    list += (list.empty() ? "" : ", ") + name;
  }
  if (!list.empty()) line += "\n  Nearest: " + list + ".";
  return line + "\n  morphalite --formats lists every code and name.";
}

bool ParseRange(const std::string& text, int32_t& from, int32_t& to) {
  size_t dash = text.find('-');
  if (dash == std::string::npos) return false;
  char* end = nullptr;
  long a = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + dash) return false;
  long b = std::strtol(text.c_str() + dash + 1, &end, 10);
  if (*end != '\0' || a < 1 || b < 1 || a > 9999999 || b > 9999999) return false;
  from = int32_t(a);
  to = int32_t(b);
  return true;
}

bool ParseTextFields(const std::string& list, TextDumpOptions& o) {
  o.frameNumber = o.frameLength = o.timestampDate = o.timestampMicros = o.dataHex = o.dataAscii =
      false;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string field = list.substr(start, comma == std::string::npos ? std::string::npos
                                                                     : comma - start);
    if (field == "number") o.frameNumber = true;
    else if (field == "length") o.frameLength = true;
    else if (field == "date") o.timestampDate = true;
    else if (field == "usecs") o.timestampMicros = true;
    else if (field == "hex") o.dataHex = true;
    else if (field == "ascii") o.dataAscii = true;
    else return false;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

// Parses the options of "convert"; returns an error text or empty.
std::string ParseConvert(const std::vector<std::string>& args, ConvertArgs& out) {
  JobRequest& o = out.options;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string a = args[i];
    // GNU form: --name=value is --name value.
    std::optional<std::string> attached;
    if (!optionsEnded && a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      attached = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
    }
    auto value = [&](std::string& into) {
      if (attached) {
        into = *attached;
        attached.reset();
        return true;
      }
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (optionsEnded || a == "-") {
      out.sources.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
    } else if (a == "--help" || a == "-h") {
      out.help = true;
    } else if (a == "-n" || a == "--no-clobber") {
      o.noClobber = true;
    } else if (a == "--to") {
      if (!value(v)) return "--to needs a target code or analyzer name";
      out.target = AnalyzerFromCodeOrName(v);
      if (!out.target) return UnknownTarget(v);
    } else if (a == "-o" || a == "--output") {
      if (!value(out.output)) return a + " needs a file or directory";
    } else if (a == "--range") {
      if (!value(v) || !ParseRange(v, o.startFrame, o.endFrame)) return "--range takes A-B";
      if (o.endFrame < o.startFrame)
        return "Starting frame number must be less than or equal to the ending frame number.";
      o.convertAll = false;
    } else if (a == "--slice") {
      if (!value(v)) return "--slice needs a length";
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (*end != '\0' || n < 32 || n > 65535) return "--slice takes a length from 32 to 65535";
      o.sliceFrames = true;
      o.sliceLength = int32_t(n);
    } else if (a == "--to-ethernet") {
      o.convertToEthernet = true;
    } else if (a == "--to-wireless") {
      o.convertToWireless = true;
    } else if (a == "--pcap-order") {
      if (!value(v) || (v != "big" && v != "little")) return "--pcap-order takes big or little";
      o.pcapSwapBytes = v == "big";
    } else if (a == "--pcap-variant") {
      if (!value(v) || (v != "standard" && v != "modified"))
        return "--pcap-variant takes standard or modified";
      o.pcapModified = v == "modified";
    } else if (a == "--ascii-fields") {
      if (!value(v) || !ParseTextFields(v, o.textOptions))
        return "--ascii-fields takes a list of number,length,date,usecs,hex,ascii";
    } else if (a == "--ascii-delimiter") {
      if (!value(v)) return "--ascii-delimiter takes tab, comma or fixed";
      if (v == "tab") o.textOptions.delimiter = TextDumpOptions::Delimiter::Tab;
      else if (v == "comma") o.textOptions.delimiter = TextDumpOptions::Delimiter::Comma;
      else if (v == "fixed") o.textOptions.delimiter = TextDumpOptions::Delimiter::Fixed;
      else return "--ascii-delimiter takes tab, comma or fixed";
    } else if (a == "--ascii-no-header") {
      o.textOptions.descriptiveHeader = false;
    } else if (a == "--ascii-no-field-headers") {
      o.textOptions.fieldHeaders = false;
    } else if (a == "--source-tz" || a == "--target-tz") {
      if (!value(v)) return a + " needs a zone: an IANA name, a POSIX rule or UTC";
      auto zone = LoadTimeZone(v);
      if (!zone) return a + ": unknown time zone " + v;
      (a == "--source-tz" ? o.sourceZone : o.targetZone) = std::move(zone);
    } else if (a == "--quiet" || Upper(a) == "/NS") {
      out.quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else {
      out.sources.push_back(a);
    }
    if (attached) return a + " takes no value";
  }
  if (out.help) return "";
  if (out.sources.empty()) return "convert needs at least one source";
  if (!out.target) return "convert needs --to CODE";
  if (o.convertToEthernet && o.convertToWireless)
    return "--to-ethernet and --to-wireless exclude each other";
  return "";
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return "converted";
    case Outcome::SourceRefused: return "refused";
    case Outcome::NoWriter: return "target not offered";
    case Outcome::SameFile: return "target is the source";
    case Outcome::NotOverwritten: return "target exists";
    case Outcome::DestinationError: return "target cannot be created";
    case Outcome::ReadError: return "read error";
    case Outcome::WriteFailed: return "write failed";
    case Outcome::NoFrames: return "no frames";
    case Outcome::Stopped: return "stopped";
    case Outcome::BadCompression: return "bad compression";
  }
  return "failed";
}

// A source read from standard input is spooled to a private file first:
// identification and most readers look at the file more than once.
class StandardInputSpool {
 public:
  ~StandardInputSpool() {
    if (!path_.empty()) unlink(path_.c_str());
    if (!dir_.empty()) rmdir(dir_.c_str());
  }
  // The spooled file, or empty when it could not be made.
  std::string spool() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morphalite-XXXXXX";
    if (!mkdtemp(pattern.data())) return "";
    dir_ = pattern;
    path_ = dir_ + "/standard-input";
    std::ofstream out(path_, std::ios::binary);
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
      out.write(buffer, std::streamsize(got));
    return out && !std::ferror(stdin) ? path_ : "";
  }

 private:
  std::string dir_, path_;
};

int RunConvert(const std::vector<std::string>& args) {
  ConvertArgs parsed;
  if (std::string error = ParseConvert(args, parsed); !error.empty()) return UsageError(error);
  if (parsed.help) {
    std::fputs(ConvertHelpText().c_str(), stdout);
    return Exit::Ok;
  }
  const bool toStandardOutput = parsed.output == "-";
  const bool batch = parsed.sources.size() > 1;
  if (batch && toStandardOutput) return UsageError("-o - takes a single source");
  bool intoDirectory = !parsed.output.empty() && !toStandardOutput &&
                       (batch || IsDirectory(parsed.output) || parsed.output.back() == '/');
  if (batch && !parsed.output.empty() && !IsDirectory(parsed.output))
    return UsageError("with several sources, -o must name an existing directory");
  const size_t fromStdin = size_t(std::count(parsed.sources.begin(), parsed.sources.end(), "-"));
  if (fromStdin > 1) return UsageError("standard input (-) can be a source only once");
  if (fromStdin == 1 && (parsed.output.empty() || intoDirectory))
    return UsageError("a source read from standard input (-) needs -o FILE or -o -");

  const CapabilitySets caps = DefaultCapabilities();
  auto requestFor = [&](const std::string& source) {
    JobRequest request = parsed.options;
    request.sourcePath = source;
    request.target = *parsed.target;
    request.overwrite = true;
    if (intoDirectory)
      request.outputDirectory = parsed.output;
    else
      request.targetPath = parsed.output;
    return request;
  };
  // Two sources that would write the same target: refused before anything starts.
  if (batch) {
    std::map<std::string, std::string> planned;
    for (const std::string& source : parsed.sources) {
      const std::string target = PlannedTargetPath(requestFor(source), caps);
      if (target.empty()) continue;
      auto [at, fresh] = planned.emplace(target, source);
      if (!fresh)
        return UsageError(at->second + " and " + source + " would both be written to " + target +
                          "; convert them into different directories");
    }
  }

  ConsoleHost host(!parsed.quiet);
  StandardInputSpool spool;
  int status = Exit::Ok;
  int converted = 0;
  std::vector<std::string> failures;
  for (const std::string& source : parsed.sources) {
    JobRequest request = requestFor(source);
    if (source == "-") {
      request.sourcePath = spool.spool();
      if (request.sourcePath.empty()) {
        host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                     SystemErrorDetail("standard input"), MessageIcon::Warning);
        return Exit::SourceRefused;
      }
    }
    host.setSource(source == "-" ? "standard input" : source, batch);
    const int shownBefore = host.messagesShown();
    JobResult result = RunConversionJob(request, caps, host);
    // Frames read but none chosen (a range past the end): the window shows
    // it in its progress display; the console says it.
    if (result.outcome == Outcome::NoFrames && host.messagesShown() == shownBefore)
      host.message("Output", "Target file contains no frames!", MessageIcon::Information);
    const int code = ExitFor(result.outcome);
    if (code != Exit::Ok && status == Exit::Ok) status = code;
    const bool wroteFrames = result.framesWritten > 0;
    if (result.outcome == Outcome::Stopped && !isatty(fileno(stderr)))
      std::fprintf(stderr, "%s: FILE PARTIALLY CONVERTED\n",
                   source == "-" ? "standard input" : source.c_str());
    if (code == Exit::Ok) ++converted;
    else failures.push_back(source + " (" + OutcomeName(result.outcome) + ")");
    if (batch && !parsed.quiet) {
      if (wroteFrames)
        std::fprintf(stderr, "%s -> %s: %s, %s frames\n", source.c_str(), result.targetPath.c_str(),
                     OutcomeName(result.outcome), Grouped(result.framesWritten).c_str());
      else
        std::fprintf(stderr, "%s: %s\n", source.c_str(), OutcomeName(result.outcome));
    }
    if (result.outcome == Outcome::Stopped) break;
  }
  if (batch && !parsed.quiet) {
    std::string summary = "Converted " + std::to_string(converted) + " of " +
                          std::to_string(parsed.sources.size()) + " files";
    if (!failures.empty()) {
      summary += "; failed: ";
      for (size_t i = 0; i < failures.size(); ++i) summary += (i ? ", " : "") + failures[i];
    }
    std::fprintf(stderr, "%s.\n", summary.c_str());
  }
  return status;
}

}  // namespace

std::string FormatsTable() {
  std::string table =
      "| Analyzer | Code | Names | Read | Write | Default suffix |\n|---|---|---|---|---|---|\n";
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    const bool read = HasReader(info.type), write = HasWriter(info.type);
    if (!read && !write) continue;
    std::string suffix = DefaultSuffix(info.type, Topo::Ethernet);
    if (suffix.empty()) suffix = DefaultSuffix(info.type, Topo::Wan);
    std::string names;
    for (const std::string& name : FriendlyNames(info.type)) names += (names.empty() ? "" : ", ") + name;
    table += std::string("| ") + info.name + " | " + (info.code ? info.code : "") + " | " + names +
             " | " + (read ? "yes" : "no") + " | " + (write ? "yes" : "no") + " | " +
             suffix + " |\n";
  }
  return table;
}

namespace {

// The options of convert: one description for the help text and the shell
// completion.
struct OptionText {
  const char* names;
  const char* value;
  const char* help;
};
const OptionText kConvertOptions[] = {
    {"--to", "CODE|NAME", "target format: a code, display name or friendly name (--formats)"},
    {"-o, --output", "FILE|DIR|-", "target file, directory, or - for standard output"},
    {"-n, --no-clobber", "", "never replace an existing target"},
    {"--range", "A-B", "convert frames A to B only"},
    {"--slice", "N", "store at most N bytes of each frame (32 to 65535)"},
    {"--to-ethernet", "", "802.11 frames become Ethernet frames"},
    {"--to-wireless", "", "Ethernet frames become 802.11 frames"},
    {"--pcap-order", "big|little", "byte order of libpcap targets"},
    {"--pcap-variant", "standard|modified", "record layout of libpcap targets"},
    {"--ascii-fields", "LIST", "text targets: number,length,date,usecs,hex,ascii"},
    {"--ascii-delimiter", "tab|comma|fixed", "text targets: field delimiter"},
    {"--ascii-no-header", "", "text targets: no descriptive header"},
    {"--ascii-no-field-headers", "", "text targets: no field headers"},
    {"--source-tz", "ZONE", "zone of the source's local times (default: this machine's)"},
    {"--target-tz", "ZONE", "zone of the target's local times (default: this machine's)"},
    {"--quiet", "", "no progress line, no per-file lines"},
    {"-h, --help", "", "this text"},
};

}  // namespace

std::string ConvertHelpText() {
  std::string text =
      "Usage: morphalite convert [OPTION]... SOURCE... --to CODE\n"
      "Converts each SOURCE (- reads standard input) into the target format. Each target\n"
      "is written under a temporary name and replaces an existing file only when it\n"
      "holds frames. -- ends the options.\n\n";
  for (const OptionText& o : kConvertOptions) {
    std::string left = std::string("  ") + o.names + (*o.value ? std::string(" ") + o.value : "");
    if (left.size() < 34) left.resize(34, ' ');
    else left += "\n" + std::string(34, ' ');
    text += left + o.help + "\n";
  }
  return text + "\nExit status: 0 converted, 1 usage, 2 source refused, 3 read error,\n"
                "4 write failed, 5 no frames, 6 stopped, 7 bad compression; a batch\n"
                "returns the status of its first failed source.\n";
}

std::string BashCompletion() {
  std::string words;
  for (const OptionText& o : kConvertOptions) {
    std::string names = o.names;
    for (size_t at; (at = names.find(", ")) != std::string::npos;) names.replace(at, 2, " ");
    words += (words.empty() ? "" : " ") + names;
  }
  std::string codes;
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    if (!HasWriter(info.type)) continue;
    if (info.code && *info.code) codes += std::string(codes.empty() ? "" : " ") + info.code;
    for (const std::string& name : FriendlyNames(info.type)) codes += " " + name;
  }
  return "# bash completion for morphalite (morphalite --completion bash)\n"
         "_morphalite() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W 'convert identify help --help --version --formats' -- \"$cur\"))\n"
         "    [ ${#COMPREPLY[@]} -eq 0 ] && COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  case $prev in\n"
         "    --to) COMPREPLY=($(compgen -W '" + codes + "' -- \"$cur\")); return ;;\n"
         "    --pcap-order) COMPREPLY=($(compgen -W 'big little' -- \"$cur\")); return ;;\n"
         "    --pcap-variant) COMPREPLY=($(compgen -W 'standard modified' -- \"$cur\")); return ;;\n"
         "    --ascii-delimiter) COMPREPLY=($(compgen -W 'tab comma fixed' -- \"$cur\")); return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W '" + words + " --json' -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -F _morphalite morphalite\n";
}

std::vector<std::string> ConvertOptionNames() {
  std::vector<std::string> names;
  for (const OptionText& o : kConvertOptions) {
    std::string list = o.names;
    size_t start = 0;
    while (start < list.size()) {
      size_t comma = list.find(", ", start);
      names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 2;
    }
  }
  return names;
}

std::string IdentifyHelpText() {
  return "Usage: morphalite identify [--json] FILE...\n"
         "Tells what each FILE is: analyzer, interface, frame count, comment, and whether\n"
         "it can be converted. --json writes one object per file.\n";
}

std::string UsageText() {
  return "Usage:\n"
         "  morphalite SOURCE CODE [/NS]      convert SOURCE beside itself (codes: TD, PN, SN, XR, ...)\n"
         "  morphalite convert SOURCE... --to CODE|NAME [-o FILE|DIR] [--range A-B]\n"
         "             [--slice N] [--to-ethernet|--to-wireless] [--pcap-order big|little]\n"
         "             [--pcap-variant standard|modified] [--ascii-fields LIST]\n"
         "             [--ascii-delimiter tab|comma|fixed] [--ascii-no-header]\n"
         "             [--ascii-no-field-headers] [-n|--no-clobber] [--quiet] [--]\n"
         "  morphalite identify FILE... [--json]\n"
         "  morphalite help [convert|identify] | --help | --version | --formats\n"
         "  morphalite --completion bash\n";
}

LaunchMode ClassifyCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return LaunchMode::Desktop;
  const std::string& first = args[0];
  if (first == "convert" || first == "identify" || first == "help" ||
      (!first.empty() && first[0] == '-'))
    return LaunchMode::Console;
  if (args.size() >= 3 && Upper(args[2]) == "/NS") return LaunchMode::Console;
  return LaunchMode::Desktop;
}

int RunCommandLine(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(UsageText().c_str(), args.empty() ? stderr : stdout);
    return args.empty() ? Exit::Usage : Exit::Ok;
  }
  if (args[0] == "help") {
    const std::string topic = args.size() > 1 ? args[1] : "";
    std::fputs(topic == "convert"    ? ConvertHelpText().c_str()
               : topic == "identify" ? IdentifyHelpText().c_str()
                                     : UsageText().c_str(),
               stdout);
    return Exit::Ok;
  }
  if (args[0] == "identify" &&
      std::find_if(args.begin() + 1, args.end(),
                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != args.end()) {
    std::fputs(IdentifyHelpText().c_str(), stdout);
    return Exit::Ok;
  }
  if (args[0] == "--completion") {
    if (args.size() != 2 || args[1] != "bash") return UsageError("--completion takes bash");
    std::fputs(BashCompletion().c_str(), stdout);
    return Exit::Ok;
  }
  if (args[0] == "--formats") {
    std::fputs(FormatsTable().c_str(), stdout);
    return Exit::Ok;
  }
  if (args[0] == "--version") {
    std::printf("Morphalite %s\n", MORPHALITE_VERSION);
    return Exit::Ok;
  }
  InstallStopOnInterrupt();
  if (args[0] == "convert") return RunConvert(args);
  if (args[0] == "identify")
    return RunIdentifyCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout);
  if (args[0][0] == '-') return UsageError("unknown option " + args[0]);
  if (args.size() == 1)
    return RunIdentifyCommand(args, stdout);  // a source alone, without a window
  return RunPositional(args);
}

}  // namespace morph
