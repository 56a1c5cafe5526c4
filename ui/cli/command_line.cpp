// The console program's entry: the positional form, the subcommands and the
// program's own options; what the commands share.
#include "ui/cli/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/job.h"
#include "formats/registry.h"
#include "ui/cli/commands.h"
#include "ui/cli/console_host.h"
#include "ui/cli/options.h"
#include "ui/cli/settings_file.h"

namespace morph {

int ExitFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return Exit::Ok;
    case Outcome::BadOptions: return Exit::Usage;
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
    case Outcome::WouldLoseData: return Exit::WouldLoseData;
  }
  return Exit::WriteFailed;
}

const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted: return "converted";
    case Outcome::BadOptions: return "options refused";
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
    case Outcome::WouldLoseData: return "would lose data";
  }
  return "failed";
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FileListProblem(const std::vector<std::string>& files, const std::string& command) {
  if (files.empty()) return command + " needs at least one file";
  if (std::count(files.begin(), files.end(), "-") > 1)
    return "standard input (-) can be a source only once";
  return {};
}

int UsageError(const std::string& text) {
  std::fprintf(stderr, "Parameter Error: %s\n%s", text.c_str(), UsageText().c_str());
  return Exit::Usage;
}

namespace {

// The positional form: SOURCE CODE [/NS]. Runs unattended on the console.
int RunPositional(const std::vector<std::string>& args) {
  const std::string& source = args[0];
  const std::string& code = args[1];
  bool quiet = args.size() > 2 && Upper(args[2]) == kUnattended;
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
  PcapOutputChoice& pcap = request.formatOptions.get<PcapOutputChoice>();
  pcap.bigEndianDefault = saved.swapBytes;
  pcap.modifiedDefault = saved.modified;
  JobResult result = RunConversionJob(request, DefaultCapabilities(), host);
  return ExitFor(result.outcome);
}

// Copies everything `in` gives to `out`; false on a failure of either.
bool CopyAll(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(out, buffer + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

}  // namespace

SourceSpool::~SourceSpool() {
  for (int fd : spooled_) close(fd);
}

bool SourceSpool::NeedsSpool(const std::string& source) {
  return source == "-" || IsStreamPath(source);
}

// The copy has no name (or loses it at once), so that however the run ends,
// killed or its output pipe closed, nothing stays in TMPDIR; it is read
// through its descriptor's name in /proc.
SourceSpool::Given SourceSpool::take(const std::string& source) {
  const bool spooled = NeedsSpool(source);
  return {spooled ? spool(source) : source, source == "-" ? "standard input" : source, spooled};
}

std::string SourceSpool::spool(const std::string& source) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp && *tmp ? tmp : "/tmp";
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::string pattern = folder + "/morphalite-XXXXXX";
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) unlink(pattern.c_str());
  }
  if (fd < 0) return "";
  spooled_.push_back(fd);
  const int in = source == "-" ? STDIN_FILENO : open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return "";
  const bool copied = CopyAll(in, fd);
  if (in != STDIN_FILENO) close(in);
  return copied ? "/proc/self/fd/" + std::to_string(fd) : "";
}

std::vector<FormatRow> FormatRows() {
  std::vector<FormatRow> rows;
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    const bool read = HasReader(info.type), write = HasWriter(info.type);
    if (!read && !write) continue;
    std::string suffix = DefaultSuffix(info.type, Topo::Ethernet);
    if (suffix.empty()) suffix = DefaultSuffix(info.type, Topo::Wan);
    rows.push_back({info.name, info.code ? info.code : "", FriendlyNames(info.type), suffix, read,
                    write});
  }
  return rows;
}

std::string FormatsTable() {
  std::string table =
      "| Analyzer | Code | Names | Read | Write | Default suffix |\n|---|---|---|---|---|---|\n";
  for (const FormatRow& row : FormatRows()) {
    std::string names;
    for (const std::string& name : row.names) names += (names.empty() ? "" : ", ") + name;
    table += "| " + row.name + " | " + row.code + " | " + names + " | " +
             (row.read ? "yes" : "no") + " | " + (row.write ? "yes" : "no") + " | " + row.suffix +
             " |\n";
  }
  return table;
}

LaunchMode ClassifyCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return LaunchMode::Desktop;
  const std::string& first = args[0];
  if (first == "convert" || first == "merge" || first == "identify" || first == "info" ||
      first == "help" || (!first.empty() && first[0] == '-'))
    return LaunchMode::Console;
  if (args.size() >= 3 && Upper(args[2]) == kUnattended) return LaunchMode::Console;
  return LaunchMode::Desktop;
}

namespace {

int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return Exit::Ok;
}

// morphalite help [convert|merge|identify|info]
int RunHelp(const std::vector<std::string>& args) {
  const std::string topic = args.size() > 1 ? args[1] : "";
  if (args.size() > 2 || (!topic.empty() && topic != "convert" && topic != "identify" &&
                           topic != "merge" && topic != "info"))
    return UsageError("help takes convert, merge, identify or info, not " + args.back());
  return Print(topic == "convert"    ? ConvertHelpText()
               : topic == "identify" ? IdentifyHelpText()
               : topic == "merge"    ? MergeHelpText()
               : topic == "info"     ? InfoHelpText()
                                     : UsageText());
}

// The program's own options (--man, --formats...); -1 for anything else.
int RunProgramOption(const std::vector<std::string>& args) {
  const std::string& first = args[0];
  if (first == "--completion") {
    if (args.size() != 2 || args[1] != "bash") return UsageError("--completion takes bash");
    return Print(BashCompletion());
  }
  if (first == "--man") return Print(ManualPage());
  if (first == "--formats") return Print(FormatsTable());
  if (first == "--version") return Print("Morphalite " MORPHALITE_VERSION "\n");
  return -1;
}

// identify and info show their help whatever else the line holds.
bool AsksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin() + 1, args.end(), IsHelpOption);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args) {
  if (args.empty() || IsHelpOption(args[0])) {
    std::fputs(UsageText().c_str(), args.empty() ? stderr : stdout);
    return args.empty() ? Exit::Usage : Exit::Ok;
  }
  const std::string& command = args[0];
  if (command == "help") return RunHelp(args);
  if (command == "info" && AsksForHelp(args)) return Print(InfoHelpText());
  if (command == "identify" && AsksForHelp(args)) return Print(IdentifyHelpText());
  if (const int status = RunProgramOption(args); status >= 0) return status;
  InstallStopOnInterrupt();
  const std::vector<std::string> operands(args.begin() + 1, args.end());
  if (command == "convert") return RunConvertCommand(args);
  if (command == "merge") return RunMergeCommand(args);
  if (command == "info") return RunInfoCommand(operands, stdout);
  if (command == "identify") return RunIdentifyCommand(operands, stdout);
  if (command[0] == '-') return UsageError("unknown option " + command);
  if (args.size() == 1) return RunIdentifyCommand(args, stdout);  // a source alone, without a window
  return RunPositional(args);
}

}  // namespace morph
