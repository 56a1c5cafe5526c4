#include "ui/cli/command_line.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "engine/catalogue.h"
#include "engine/job.h"
#include "ui/cli/console_host.h"
#include "ui/cli/settings_file.h"

namespace morph {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

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
};

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
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    if (a == "--to") {
      if (!value(v)) return "--to needs a target code or analyzer name";
      out.target = AnalyzerFromCodeOrName(v);
      if (!out.target) return "Bad destination analyzer type of " + v + ".";
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
    } else if (a == "--quiet" || Upper(a) == "/NS") {
      out.quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a;
    } else {
      out.sources.push_back(a);
    }
  }
  if (out.sources.empty()) return "convert needs at least one source";
  if (!out.target) return "convert needs --to CODE";
  if (o.convertToEthernet && o.convertToWireless)
    return "--to-ethernet and --to-wireless exclude each other";
  return "";
}

int RunConvert(const std::vector<std::string>& args) {
  ConvertArgs parsed;
  if (std::string error = ParseConvert(args, parsed); !error.empty()) return UsageError(error);
  bool intoDirectory = !parsed.output.empty() &&
                       (parsed.sources.size() > 1 || IsDirectory(parsed.output) ||
                        parsed.output.back() == '/');
  if (parsed.sources.size() > 1 && !parsed.output.empty() && !IsDirectory(parsed.output))
    return UsageError("with several sources, -o must name an existing directory");
  ConsoleHost host(!parsed.quiet);
  const CapabilitySets caps = DefaultCapabilities();
  int status = Exit::Ok;
  for (const std::string& source : parsed.sources) {
    JobRequest request = parsed.options;
    request.sourcePath = source;
    request.target = *parsed.target;
    request.overwrite = true;
    if (intoDirectory)
      request.outputDirectory = parsed.output;
    else
      request.targetPath = parsed.output;
    JobResult result = RunConversionJob(request, caps, host);
    int code = ExitFor(result.outcome);
    if (code != Exit::Ok && status == Exit::Ok) status = code;
    if (result.outcome == Outcome::Stopped) break;
  }
  return status;
}

}  // namespace

std::string FormatsTable() {
  std::string table = "| Analyzer | Code | Read | Write | Default suffix |\n|---|---|---|---|---|\n";
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    const bool read = HasReader(info.type), write = HasWriter(info.type);
    if (!read && !write) continue;
    std::string suffix = DefaultSuffix(info.type, Topo::Ethernet);
    if (suffix.empty()) suffix = DefaultSuffix(info.type, Topo::Wan);
    table += std::string("| ") + info.name + " | " + (info.code ? info.code : "") + " | " +
             (read ? "yes" : "no") + " | " + (write ? "yes" : "no") + " | " +
             suffix + " |\n";
  }
  return table;
}

std::string UsageText() {
  return "Usage:\n"
         "  morphalite SOURCE CODE [/NS]      convert SOURCE beside itself (codes: TD, SN, XR, ...)\n"
         "  morphalite convert SOURCE... --to CODE|NAME [-o FILE|DIR] [--range A-B]\n"
         "             [--slice N] [--to-ethernet|--to-wireless] [--pcap-order big|little]\n"
         "             [--pcap-variant standard|modified] [--ascii-fields LIST]\n"
         "             [--ascii-delimiter tab|comma|fixed] [--ascii-no-header]\n"
         "             [--ascii-no-field-headers] [--quiet]\n"
         "  morphalite identify FILE... [--json]\n"
         "  morphalite --help | --version | --formats\n";
}

LaunchMode ClassifyCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return LaunchMode::Desktop;
  const std::string& first = args[0];
  if (first == "convert" || first == "identify" || (!first.empty() && first[0] == '-'))
    return LaunchMode::Console;
  if (args.size() >= 3 && Upper(args[2]) == "/NS") return LaunchMode::Console;
  return LaunchMode::Desktop;
}

int RunCommandLine(const std::vector<std::string>& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(UsageText().c_str(), args.empty() ? stderr : stdout);
    return args.empty() ? Exit::Usage : Exit::Ok;
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
