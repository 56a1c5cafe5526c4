#include "ui/cli/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <mutex>
#include <thread>

#include "engine/catalogue.h"
#include "engine/conversion.h"
#include "engine/failure.h"
#include "engine/frame_filter.h"
#include "engine/job.h"
#include "engine/timebase.h"
#include "ui/cli/console_host.h"
#include "ui/cli/json.h"
#include "ui/cli/settings_file.h"

namespace morph {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

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

namespace {

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

constexpr long kMostJobs = 256;

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
    } else if (!optionsEnded && a.size() > 2 && (a.rfind("-o", 0) == 0 || a.rfind("-j", 0) == 0)) {
      // -oFILE, -j2: a short option's value attached to it.
      attached = a.substr(2);
      a = a.substr(0, 2);
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
      const auto ranges = value(v) ? ParseFrameRanges(v) : std::nullopt;
      if (!ranges) return "--range takes A-B, A-, -B, N or a list of them such as 1,5,9-12";
      o.selection.ranges.insert(o.selection.ranges.end(), ranges->begin(), ranges->end());
    } else if (a == "--after" || a == "--before" || a == "--start-time") {
      const auto when = value(v) ? ParseUtcTime(v) : std::nullopt;
      if (!when)
        return a + " takes an ISO 8601 time with its zone (2023-11-14T22:13:20.5Z, "
                   "2023-11-14 23:13:20+01:00) or seconds since 1970";
      (a == "--after" ? o.selection.after : a == "--before" ? o.selection.before
                                                            : o.selection.startTime) = *when;
    } else if (a == "--time-shift") {
      const auto shift = value(v) ? ParseSecondsAsNanoseconds(v) : std::nullopt;
      if (!shift)
        return "--time-shift takes seconds such as 3600, -0.5 or 0.000000001, at most " +
               Grouped(kLargestTimeShiftSeconds);
      o.selection.timeShift = *shift;
    } else if (a == "--dedup") {
      o.selection.dropDuplicates = true;
    } else if (a == "--split-frames") {
      char* end = nullptr;
      const long n = value(v) ? std::strtol(v.c_str(), &end, 10) : 0;
      if (v.empty() || *end != '\0' || n < 1 || n > INT32_MAX)
        return "--split-frames takes a number of frames from 1";
      o.splitFrames = int32_t(n);
    } else if (a == "--split-seconds") {
      const auto span = value(v) ? ParseSecondsAsNanoseconds(v) : std::nullopt;
      if (!span || *span < 1000) return "--split-seconds takes seconds from 0.000001, such as 60 or 0.5";
      o.splitMicroseconds = *span / 1000;
    } else if (a == "--split-at-limits") {
      o.splitAtLimits = true;
    } else if (a == "--slice") {
      if (!value(v)) return "--slice needs a length";
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < INT32_MIN || n > INT32_MAX)
        return "--slice takes a length from " + std::to_string(kSmallestSlice) + " to " +
               std::to_string(kLargestSlice);
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
    } else if (a == "--pcap-resolution") {
      if (!value(v) || (v != "us" && v != "ns")) return "--pcap-resolution takes us or ns";
      o.pcapNanoseconds = v == "ns";
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
    } else if (a == "--from") {
      if (!value(v)) return "--from needs a source code or analyzer name";
      o.sourceType = AnalyzerFromCodeOrName(v);
      if (!o.sourceType || !HasReader(*o.sourceType))
        return "--from " + v + ": not a format this program reads (morphalite --formats lists them)";
    } else if (a == "--source-date") {
      if (!value(v) || !(o.sourceDate = ParseGivenDate(v)))
        return "--source-date takes an ISO 8601 date or date-time, e.g. 2023-05-04 or "
               "2023-05-04T10:20:30Z";
    } else if (a == "--observer-layout") {
      if (!value(v) || (v != "4" && v != "15")) return "--observer-layout takes 4 or 15";
      o.targetLayout = v == "15" ? 15 : 0;
    } else if (a == "--jobs" || a == "-j") {
      if (!value(v)) return a + " needs a number";
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 0 || n > kMostJobs)
        return "--jobs takes a number from 0 (one per core) to " + std::to_string(kMostJobs);
      out.jobs = unsigned(n);
    } else if (a == "--json") {
      out.json = true;
    } else if (a == "--salvage") {
      o.salvage = true;
    } else if (a == "--strict") {
      o.strict = true;
    } else if (a == "--no-pad") {
      o.noPad = true;
    } else if (a == "--interface") {
      if (!value(v)) return "--interface needs an interface number";
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 0 || n > INT32_MAX)
        return "--interface takes an interface number from 0, as identify lists them";
      o.interfaceNumber = int32_t(n);
    } else if (a == "--split-interfaces") {
      o.splitInterfaces = true;
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
  if (out.sources.empty()) return args[0] + " needs at least one source";
  if (!out.target) return args[0] + " needs --to CODE";
  if (o.convertToEthernet && o.convertToWireless)
    return "--to-ethernet and --to-wireless exclude each other";
  if (o.interfaceNumber && o.splitInterfaces)
    return "--interface and --split-interfaces exclude each other";
  if (o.selection.timeShift != 0 && o.selection.startTime)
    return "--time-shift and --start-time exclude each other";
  return OptionsProblem(o);
}

const char* OutcomeName(Outcome outcome) {
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

// What became of one source of a convert command.
struct SourceRun {
  std::string source;  // as given; "-" is standard input
  std::string name;    // as messages name it
  JobRequest request;
  bool started = false;
  JobResult result;
  int status = Exit::Ok;
  std::vector<ShownMessage> shown;  // gathered for --json
};

// Whether a conversion came far enough to tell what its target kept.
bool WroteFrames(const JobResult& result) {
  return result.framesWritten > 0 || result.outcome == Outcome::WouldLoseData;
}

// The line a batch shows when a source is done.
std::string DoneLine(const SourceRun& run) {
  if (WroteFrames(run.result))
    return run.name + " -> " + run.result.targetPath + ": " + OutcomeName(run.result.outcome) +
           ", " + Grouped(run.result.framesWritten) + " frames, " + LossesText(run.result.losses);
  return run.name + ": " + OutcomeName(run.result.outcome);
}

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

// What --dedup dropped and the files a split target became, for --json.
std::string EditJson(const SourceRun& run) {
  std::string text;
  if (run.request.selection.dropDuplicates)
    text += ", \"duplicateFrames\": " + std::to_string(run.result.duplicateFrames);
  if (run.request.splits()) {
    std::string files;
    for (const JobResult::WrittenFile& f : run.result.files)
      files += std::string(files.empty() ? "" : ", ") + "{\"path\": " + JsonString(f.path) +
               ", \"frames\": " + std::to_string(f.frames) +
               ", \"bytes\": " + std::to_string(f.bytes) + "}";
    text += ", \"files\": [" + files + "]";
  }
  return text;
}

// The lines the console shows of the same, unless --quiet.
void ShowEdits(const SourceRun& run, Host& host) {
  for (const JobResult::WrittenFile& f : run.result.files)
    host.message("Written", f.path + ": " + Grouped(f.frames) + " frames", MessageIcon::Information);
  if (run.request.selection.dropDuplicates)
    host.message("Duplicates",
                 Grouped(run.result.duplicateFrames) +
                     " frames dropped as equal to one of the 4 frames read before them",
                 MessageIcon::Information);
}

// One line of --json output: everything a script needs of one source.
std::string SourceJson(const SourceRun& run, AnalyzerType target) {
  const JobResult& r = run.result;
  std::string messages, detail = r.failureDetail;
  for (const ShownMessage& m : run.shown) {
    messages += (messages.empty() ? "" : ", ") + JsonString(m.line);
    if (detail.empty()) detail = m.detail;
  }
  const bool identified = r.source.analyzer != Analyzer::Unknown;
  return "{\"source\": " + JsonString(run.source) + ", \"target\": " + JsonOrNull(r.targetPath) +
         ", \"sourceAnalyzer\": " + (identified ? JsonString(r.source.displayName()) : "null") +
         ", \"targetAnalyzer\": " + JsonString(AnalyzerName(target)) +
         ", \"framesRead\": " + std::to_string(r.framesRead) +
         ", \"framesWritten\": " + std::to_string(r.framesWritten) +
         ", \"nonDataFrames\": " + std::to_string(r.nonDataFrames) +
         ", \"bytes\": " + std::to_string(r.frameBytes) +
         ", \"firstFrame\": " + JsonTime(r.firstFrameTime) +
         ", \"lastFrame\": " + JsonTime(r.lastFrameTime) +
         ", \"losses\": " + JsonLosses(r.skipped.bytes, r.skipped.records, r.losses) +
         ", \"outcome\": " + JsonString(OutcomeName(r.outcome)) +
         ", \"exitStatus\": " + std::to_string(run.status) + ", \"messages\": [" + messages +
         "], \"detail\": " + JsonOrNull(detail) + EditJson(run) + "}\n";
}

// Converts the sources of one convert command, on one worker or several.
class ConvertBatch {
 public:
  // With --json, the lines go to `jsonLines` when given, else to standard output.
  ConvertBatch(const ConvertArgs& args, std::vector<SourceRun>& runs, unsigned workers,
               std::string* jsonLines = nullptr)
      : args_(args), runs_(runs), workers_(workers), batch_(runs.size() > 1),
        done_(runs.size(), false), jsonLines_(jsonLines) {}

  void run() {
    if (workers_ <= 1) {
      // After a Stop no further source starts.
      for (size_t i = 0; i < runs_.size() && !(i > 0 && InterruptFlag().load()); ++i) {
        convert(i);
        if (runs_[i].result.outcome == Outcome::Stopped) break;
      }
      return;
    }
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers_; ++w)
      threads.emplace_back([this] {
        for (size_t i; (i = next_.fetch_add(1)) < runs_.size() && !(i > 0 && InterruptFlag().load());)
          convert(i);
      });
    for (std::thread& thread : threads) thread.join();
  }

 private:
  void convert(size_t index) {
    convertWithHost(runs_[index]);
    finished(index);
  }

  void convertWithHost(SourceRun& run) {
    run.started = true;
    // One worker draws the progress line; several, or --json, gather whole lines.
    const bool console = !args_.json && workers_ == 1;
    ConsoleHost consoleHost(!args_.quiet);
    GatheringHost gatheringHost(run.name, !args_.json);
    consoleHost.setSource(run.name, batch_);
    Host& host = console ? static_cast<Host&>(consoleHost) : static_cast<Host&>(gatheringHost);
    const int shownBefore = console ? consoleHost.messagesShown() : 0;
    run.result = RunConversionJob(run.request, caps_, host);
    // Frames read but none chosen (a range past the end): the window shows
    // it in its progress display; the console says it.
    const int shownNow = console ? consoleHost.messagesShown() : int(gatheringHost.shown.size());
    if (run.result.outcome == Outcome::NoFrames && shownNow == shownBefore)
      host.message("Output", "Target file contains no frames!", MessageIcon::Information);
    if (!args_.json && !args_.quiet) ShowEdits(run, host);
    if (run.result.outcome == Outcome::Stopped && (args_.json || !isatty(fileno(stderr)))) {
      if (args_.json) gatheringHost.shown.push_back({"FILE PARTIALLY CONVERTED", ""});
      else PrintLines(run.name + ": FILE PARTIALLY CONVERTED\n");
    }
    run.status = ExitFor(run.result.outcome);
    run.shown = std::move(gatheringHost.shown);
  }

  // Shows what each source ends with in the order given, as soon as every
  // source before it has ended.
  void finished(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_[index] = true;
    for (; shownUpTo_ < runs_.size() && done_[shownUpTo_]; ++shownUpTo_) {
      const SourceRun& run = runs_[shownUpTo_];
      if (args_.json && jsonLines_)
        *jsonLines_ += SourceJson(run, *args_.target);
      else if (args_.json)
        PrintLines(SourceJson(run, *args_.target), stdout);
      else if (batch_ && !args_.quiet)
        PrintLines(DoneLine(run) + "\n");
      else if (!args_.quiet && WroteFrames(run.result))
        PrintLines(run.name + ": " + LossesText(run.result.losses) + "\n");
    }
  }

  const ConvertArgs& args_;
  std::vector<SourceRun>& runs_;
  const unsigned workers_;
  const CapabilitySets caps_ = DefaultCapabilities();
  const bool batch_;
  std::atomic<size_t> next_{0};
  std::mutex mutex_;
  std::vector<bool> done_;
  size_t shownUpTo_ = 0;
  std::string* const jsonLines_;
};

bool IntoDirectory(const ConvertArgs& parsed) {
  return !parsed.output.empty() && parsed.output != "-" &&
         (parsed.sources.size() > 1 || IsDirectory(parsed.output) || parsed.output.back() == '/');
}

JobRequest RequestFor(const ConvertArgs& parsed, const std::string& source) {
  JobRequest request = parsed.options;
  request.sourcePath = source;
  request.target = *parsed.target;
  request.overwrite = true;
  if (IntoDirectory(parsed))
    request.outputDirectory = parsed.output;
  else
    request.targetPath = parsed.output;
  return request;
}

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
  if (parsed.json && toStandardOutput)
    return UsageError("--json and -o - would both write to standard output");
  const bool intoDirectory = IntoDirectory(parsed);
  if (batch && !parsed.output.empty() && !IsDirectory(parsed.output))
    return UsageError("with several sources, -o must name an existing directory");
  const size_t fromStdin = size_t(std::count(parsed.sources.begin(), parsed.sources.end(), "-"));
  if (fromStdin > 1) return UsageError("standard input (-) can be a source only once");
  // A source read in one pass leaves no name to put a target beside.
  for (const std::string& source : parsed.sources)
    if (SourceSpool::NeedsSpool(source) && (parsed.output.empty() || intoDirectory))
      return UsageError(source == "-"
                            ? "a source read from standard input (-) needs -o FILE or -o -"
                            : "a source read from a pipe or device (" + source +
                                  ") needs -o FILE or -o -");

  const CapabilitySets caps = DefaultCapabilities();
  auto requestFor = [&](const std::string& source) { return RequestFor(parsed, source); };
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

  SourceSpool spool;
  std::vector<SourceRun> runs;
  for (const std::string& source : parsed.sources) {
    SourceRun run;
    run.source = source;
    run.name = source == "-" ? "standard input" : source;
    run.request = requestFor(source);
    if (SourceSpool::NeedsSpool(source)) {
      run.request.sourcePath = spool.spool(source);
      run.request.sourceName = run.name;
      if (run.request.sourcePath.empty()) {
        ConsoleHost host(false);
        host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                     SystemErrorDetail(run.name), MessageIcon::Warning);
        return Exit::SourceRefused;
      }
    }
    runs.push_back(std::move(run));
  }

  unsigned workers = parsed.jobs ? parsed.jobs : std::max(1u, std::thread::hardware_concurrency());
  workers = unsigned(std::min<size_t>(workers, runs.size()));
  ConvertBatch(parsed, runs, workers).run();

  // The status and the summary follow the order given, whatever order the
  // workers finished in.
  int status = Exit::Ok;
  int converted = 0;
  std::vector<std::string> failures;
  for (const SourceRun& run : runs) {
    if (!run.started) continue;
    if (run.status != Exit::Ok && status == Exit::Ok) status = run.status;
    if (run.status == Exit::Ok) ++converted;
    else failures.push_back(run.source + " (" + OutcomeName(run.result.outcome) + ")");
  }
  if (batch && !parsed.quiet && !parsed.json) {
    std::string summary = "Converted " + std::to_string(converted) + " of " +
                          std::to_string(parsed.sources.size()) + " files";
    if (!failures.empty()) {
      summary += "; failed: ";
      for (size_t i = 0; i < failures.size(); ++i) summary += (i ? ", " : "") + failures[i];
    }
    PrintLines(summary + ".\n");
  }
  return status;
}

}  // namespace

std::string ParseConversionOptions(const std::vector<std::string>& args, ConvertArgs& out) {
  return ParseConvert(args, out);
}

int ExitStatusOf(Outcome outcome) { return ExitFor(outcome); }

const char* OutcomeText(Outcome outcome) { return OutcomeName(outcome); }

QuietConversion ConvertQuietly(const std::vector<std::string>& args) {
  QuietConversion done;
  ConvertArgs parsed;
  std::string error = ParseConvert(args, parsed);
  if (error.empty() && (parsed.help || parsed.json || parsed.quiet || parsed.jobs != 1))
    error = "--help, --json, --quiet and --jobs are options of the command line only";
  else if (error.empty() && parsed.sources.size() != 1)
    error = "one source at a time";
  else if (error.empty() && (parsed.output == "-" || SourceSpool::NeedsSpool(parsed.sources[0])))
    error = "standard input and output, pipes and devices are for the command line only";
  if (!error.empty()) {
    done.status = Exit::Usage;
    done.usageError = error;
    return done;
  }
  parsed.json = parsed.quiet = true;
  std::vector<SourceRun> runs(1);
  runs[0].source = runs[0].name = parsed.sources[0];
  runs[0].request = RequestFor(parsed, parsed.sources[0]);
  ConvertBatch(parsed, runs, 1, &done.json).run();
  if (!done.json.empty() && done.json.back() == '\n') done.json.pop_back();
  done.status = runs[0].status;
  done.result = std::move(runs[0].result);
  for (ShownMessage& m : runs[0].shown) {
    done.messages.push_back(std::move(m.line));
    if (done.detail.empty()) done.detail = std::move(m.detail);
  }
  if (!done.result.failureDetail.empty()) done.detail = done.result.failureDetail;
  return done;
}

SourceSpool::~SourceSpool() {
  for (int fd : spooled_) close(fd);
}

bool SourceSpool::NeedsSpool(const std::string& source) {
  return source == "-" || IsStreamPath(source);
}

// The copy has no name (or loses it at once), so that however the run ends,
// killed or its output pipe closed, nothing stays in TMPDIR; it is read
// through its descriptor's name in /proc.
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

namespace {

// The options of each command: one description for the help texts, the
// shell completion and the manual page.
struct OptionText {
  const char* names;
  const char* value;
  const char* help;
};
const OptionText kConvertOptions[] = {
    {"--to", "CODE|NAME", "target format: a code, display name or friendly name (--formats)"},
    {"-o, --output", "FILE|DIR|-", "target file, directory, or - for standard output"},
    {"-n, --no-clobber", "", "never replace an existing target"},
    {"--range", "LIST", "these frames only: A-B, A-, -B, N, or a list such as 1,5,9-12"},
    {"--after", "TIME", "frames at or after TIME (ISO 8601 with Z or +hh:mm, or epoch seconds)"},
    {"--before", "TIME", "frames before TIME only (as --after)"},
    {"--dedup", "", "drop a frame whose bytes equal one of the 4 frames read before it"},
    {"--time-shift", "SECONDS", "move every frame's time, e.g. 3600 or -0.5 (to the nanosecond)"},
    {"--start-time", "TIME", "the first frame gets TIME, the others keep their distance"},
    {"--split-frames", "N", "write files NAME_00000.SUF, NAME_00001.SUF... of N frames each"},
    {"--split-seconds", "S", "split the target (as --split-frames) every S seconds of frames"},
    {"--split-at-limits", "", "go on in a next file (as --split-frames) at a format's limit"},
    {"--slice", "N", "store at most N bytes of each frame (32 to 65535)"},
    {"--to-ethernet", "", "802.11 frames become Ethernet frames"},
    {"--to-wireless", "", "Ethernet frames become 802.11 frames"},
    {"--pcap-order", "big|little", "byte order of libpcap targets"},
    {"--pcap-variant", "standard|modified", "record layout of libpcap targets"},
    {"--pcap-resolution", "us|ns", "time resolution of libpcap targets (default us)"},
    {"--ascii-fields", "LIST", "text targets: number,length,date,usecs,hex,ascii"},
    {"--ascii-delimiter", "tab|comma|fixed", "text targets: field delimiter"},
    {"--ascii-no-header", "", "text targets: no descriptive header"},
    {"--ascii-no-field-headers", "", "text targets: no field headers"},
    {"--source-tz", "ZONE", "zone of the source's local times (default: this machine's)"},
    {"--target-tz", "ZONE", "zone of the target's local times (default: this machine's)"},
    {"--interface", "N", "only the frames of interface N (from 0, as identify lists them)"},
    {"--split-interfaces", "", "one target per interface, named with .ifN before the suffix"},
    {"--from", "CODE|NAME", "read the sources as this format, without identifying them"},
    {"--source-date", "DATE", "date of sources whose format stores times of day only "
                              "(ISO 8601; default: the file's modification time)"},
    {"--observer-layout", "4|15", "layout of Observer targets (default 4; 15 as current "
                                  "analyzers write)"},
    {"-j, --jobs", "N", "convert N sources at once (0: one per core; default 1)"},
    {"--salvage", "", "pass over damage to the next sound record where the format allows"},
    {"--strict", "", "fail (status 8) and keep no target when anything would be lost"},
    {"--no-pad", "", "keep short Ethernet frames as stored (default libpcap/pcapng to either)"},
    {"--json", "", "one JSON object per source on standard output, messages in it"},
    {"--quiet", "", "no progress line, no per-file lines"},
    {"-h, --help", "", "this text"},
};
const OptionText kIdentifyOptions[] = {
    {"--frames", "", "read every frame: count, first and last time, cut frames, largest"},
    {"--salvage", "", "with --frames: pass over damage as convert --salvage does"},
    {"--json", "", "one JSON object per file, with ISO 8601 times"},
    {"-h, --help", "", "this text"},
};
const OptionText kInfoOptions[] = {
    {"--json", "", "one JSON object per file, with ISO 8601 times"},
    {"-h, --help", "", "this text"},
};

// Exit statuses: the short form for the help text, the long one for the manual.
struct ExitText {
  int status;
  const char* brief;
  const char* meaning;
};
const ExitText kExitStatuses[] = {
    {Exit::Ok, "converted", "Converted to the end, at least one frame written."},
    {Exit::Usage, "usage",
     "Bad arguments, an unknown target code, or a target not offered for the source "
     "(\"Parameter Error\")."},
    {Exit::SourceRefused, "source refused",
     "Source refused: too small, unreadable, not a trace file, unsupported analyzer or topology."},
    {Exit::ReadError, "read error",
     "Read error: the source is damaged or cut short (the frames before it are written); "
     "with --salvage, damage was passed over (every frame found after it is written too)."},
    {Exit::WriteFailed, "write failed",
     "Destination: cannot be created or written, exists with -n, is the source itself, or a "
     "field of the target format is full (the frames before it are written)."},
    {Exit::NoFrames, "no frames", "No frames were written; an existing target is left as it was."},
    {Exit::Stopped, "stopped", "Stopped by Ctrl-C, SIGTERM or SIGHUP; the target is finished."},
    {Exit::BadCompression, "bad compression",
     "Converted, but compressed Sniffer data went bad on the way."},
    {Exit::WouldLoseData, "would lose data",
     "With --strict: the target could not hold everything of the source (losses); it is not "
     "kept, and an existing file stays as it was."},
};
constexpr const char* kBatchStatus =
    "a batch returns the status of its first failed source, in the order given";

std::vector<std::string> NamesOf(const OptionText& o) {
  std::vector<std::string> names;
  const std::string list = o.names;
  for (size_t start = 0;;) {
    const size_t comma = list.find(", ", start);
    names.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 2;
  }
}

// A value of fixed words ("big|little") is completed with them.
bool IsWordChoice(const std::string& value) {
  return value.find('|') != std::string::npos &&
         std::all_of(value.begin(), value.end(), [](char c) { return std::islower(c) || c == '|'; });
}

std::string OptionLines(const std::string& header, const OptionText* begin, const OptionText* end) {
  std::string text = header;
  for (const OptionText* o = begin; o != end; ++o) {
    std::string left = std::string("  ") + o->names + (*o->value ? std::string(" ") + o->value : "");
    if (left.size() < 34) left.resize(34, ' ');
    else left += "\n" + std::string(34, ' ');
    text += left + o->help + "\n";
  }
  return text;
}

// "[-o FILE|DIR|-] [-n] ..." wrapped to the usage text's width.
std::string OptionSynopsis(const std::string& indent, size_t firstColumn) {
  std::string text;
  size_t column = firstColumn;
  for (const OptionText& o : kConvertOptions) {
    const std::string name = NamesOf(o).front();
    if (name == "--to" || name == "-h") continue;
    const std::string item = "[" + name + (*o.value ? std::string(" ") + o.value : "") + "]";
    if (column + 1 + item.size() > 79) {
      text += "\n" + indent;
      column = indent.size();
    } else {
      text += " ";
      ++column;
    }
    text += item;
    column += item.size();
  }
  return text;
}

// Text for the manual page: minus signs and backslashes escaped.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '-') out += "\\-";
    else if (c == '\\') out += "\\e";
    else out += c;
  }
  return out;
}

std::string Capitalised(std::string text) {
  if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

std::string ManualOptions(const OptionText* begin, const OptionText* end) {
  std::string text;
  for (const OptionText* o = begin; o != end; ++o) {
    std::string names;
    for (const std::string& name : NamesOf(*o))
      names += (names.empty() ? "" : ", ") + std::string("\\fB") + Roff(name) + "\\fR";
    if (*o->value) names += " \\fI" + Roff(o->value) + "\\fR";
    text += ".TP\n" + names + "\n" + Capitalised(Roff(o->help)) + ".\n";
  }
  return text;
}

}  // namespace

std::string ConvertHelpText() {
  std::string text = OptionLines(
      "Usage: morphalite convert [OPTION]... SOURCE... --to CODE\n"
      "Converts each SOURCE (- reads standard input) into the target format. Each target\n"
      "is written to a temporary file in its folder and replaces an existing file only\n"
      "when it holds frames. -- ends the options.\n\n",
      std::begin(kConvertOptions), std::end(kConvertOptions));
  std::string statuses;
  for (const ExitText& e : kExitStatuses)
    statuses += (statuses.empty() ? "" : ", ") + std::to_string(e.status) + " " + e.brief;
  text += "\nExit status: " + statuses + "; " + kBatchStatus + ".\n";
  // Wrapped at the last space before 80 columns.
  for (size_t lineStart = text.rfind("\nExit status") + 1; text.size() - lineStart > 80;) {
    const size_t space = text.rfind(' ', lineStart + 79);
    text[space] = '\n';
    lineStart = space + 1;
  }
  return text;
}

std::string IdentifyHelpText() {
  return OptionLines(
      "Usage: morphalite identify [OPTION]... FILE...\n"
      "Tells what each FILE is (- reads standard input): analyzer, interface, file date,\n"
      "frame count, comment, and the targets it can be converted to. -- ends the options.\n\n",
      std::begin(kIdentifyOptions), std::end(kIdentifyOptions));
}

std::string MergeHelpText() {
  return "Usage: morphalite merge [OPTION]... SOURCE... --to CODE -o TARGET\n"
         "Writes the frames of every SOURCE (- reads standard input) into TARGET in time\n"
         "order as mergecap does (of frames of equal times, the later source's first).\n"
         "Sources of any readable format; their media must be the same. convert's\n"
         "options apply to the merged frames (morphalite help convert); -o - writes\n"
         "standard output. TARGET is written to a temporary file and replaces an existing\n"
         "file only when complete.\n";
}

std::string InfoHelpText() {
  return OptionLines(
      "Usage: morphalite info [OPTION]... FILE...\n"
      "Reads every frame of each FILE (- reads standard input) and tells, as capinfos\n"
      "does: format, interfaces with link types and frame counts, frames, data size,\n"
      "earliest and latest time, duration, data and frame rates, smallest and largest\n"
      "frame, cut frames, snapshot length, time resolution and the file's SHA-256.\n"
      "-- ends the options.\n\n",
      std::begin(kInfoOptions), std::end(kInfoOptions));
}

std::vector<std::string> InfoOptionNames() {
  std::vector<std::string> names;
  for (const OptionText& o : kInfoOptions)
    for (const std::string& name : NamesOf(o)) names.push_back(name);
  return names;
}

std::string BashCompletion() {
  std::string convertWords, identifyWords, infoWords, choices;
  for (const OptionText& o : kConvertOptions) {
    for (const std::string& name : NamesOf(o)) convertWords += " " + name;
    if (IsWordChoice(o.value)) {
      std::string words = o.value;
      std::replace(words.begin(), words.end(), '|', ' ');
      std::string patterns;
      for (const std::string& name : NamesOf(o)) patterns += (patterns.empty() ? "" : "|") + name;
      choices += "    " + patterns + ") COMPREPLY=($(compgen -P \"$prefix\" -W '" + words +
                 "' -- \"$cur\")); return ;;\n";
    }
  }
  for (const OptionText& o : kIdentifyOptions)
    for (const std::string& name : NamesOf(o)) identifyWords += " " + name;
  for (const OptionText& o : kInfoOptions)
    for (const std::string& name : NamesOf(o)) infoWords += " " + name;
  std::string codes;
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    if (!HasWriter(info.type)) continue;
    if (info.code && *info.code) codes += std::string(codes.empty() ? "" : " ") + info.code;
    for (const std::string& name : FriendlyNames(info.type)) codes += " " + name;
  }
  return "# bash completion for morphalite (morphalite --completion bash)\n"
         "_morphalite() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} prefix=\n"
         "  # --to=TD: bash splits it into --to, = and TD; without = among its word\n"
         "  # breaks the word stays whole and the value is completed behind --to=.\n"
         "  if [ \"$cur\" = = ]; then cur=\n"
         "  elif [ \"$prev\" = = ]; then prev=${COMP_WORDS[COMP_CWORD-2]}\n"
         "  elif [[ $cur == --*=* ]]; then prev=${cur%%=*}; prefix=$prev=; cur=${cur#*=}\n"
         "  fi\n"
         "  if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
         "    COMPREPLY=($(compgen -W 'convert merge identify info help --help --version --formats --man --completion' -- \"$cur\"))\n"
         "    [ ${#COMPREPLY[@]} -eq 0 ] && COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "    return\n"
         "  fi\n"
         "  if [ \"$COMP_CWORD\" -eq 2 ]; then\n"
         "    case ${COMP_WORDS[1]} in\n"
         "      help) COMPREPLY=($(compgen -W 'convert merge identify info' -- \"$cur\")); return ;;\n"
         "      --completion) COMPREPLY=($(compgen -W 'bash' -- \"$cur\")); return ;;\n"
         "    esac\n"
         "  fi\n"
         "  case $prev in\n"
         "    --to) COMPREPLY=($(compgen -P \"$prefix\" -W '" + codes + "' -- \"$cur\")); return ;;\n" +
         choices +
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    if [ \"${COMP_WORDS[1]}\" = identify ]; then\n"
         "      COMPREPLY=($(compgen -W '" + identifyWords + "' -- \"$cur\"))\n"
         "    elif [ \"${COMP_WORDS[1]}\" = info ]; then\n"
         "      COMPREPLY=($(compgen -W '" + infoWords + "' -- \"$cur\"))\n"
         "    else\n"
         "      COMPREPLY=($(compgen -W '" + convertWords + "' -- \"$cur\"))\n"
         "    fi\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -F _morphalite morphalite\n";
}

std::vector<std::string> ConvertOptionNames() {
  std::vector<std::string> names;
  for (const OptionText& o : kConvertOptions)
    for (const std::string& name : NamesOf(o)) names.push_back(name);
  return names;
}

std::vector<std::string> IdentifyOptionNames() {
  std::vector<std::string> names;
  for (const OptionText& o : kIdentifyOptions)
    for (const std::string& name : NamesOf(o)) names.push_back(name);
  return names;
}

std::string UsageText() {
  return "Usage:\n"
         "  morphalite SOURCE CODE [/NS]      convert SOURCE beside itself (codes: TD, PN, SN, XR, ...)\n"
         "  morphalite convert SOURCE... --to CODE|NAME" +
         OptionSynopsis("             ", 45) + " [--]\n" +
         "  morphalite merge SOURCE... --to CODE|NAME -o TARGET [convert's options]\n"
         "  morphalite identify [--json] [--frames] [--salvage] FILE...\n"
         "  morphalite info [--json] FILE...\n"
         "  morphalite help [convert|merge|identify|info] | --help | --version | --formats\n"
         "  morphalite --completion bash | --man\n";
}

std::string ManualPage() {
  std::string synopsis;
  for (const OptionText& o : kConvertOptions) {
    const std::string name = NamesOf(o).front();
    if (name == "--to" || name == "-h") continue;
    synopsis += ".RB [ \"" + Roff(name) + (*o.value ? " \\fI" + Roff(o.value) + "\\fR" : "") + "\" ]\n";
  }
  std::string statuses;
  for (const ExitText& e : kExitStatuses)
    statuses += ".TP\n.B " + std::to_string(e.status) + "\n" + Roff(e.meaning) + "\n";
  return std::string(
             ".\\\" Manual page of morphalite, written by `morphalite --man` from the option\n"
             ".\\\" tables of ui/cli/command_line.cpp: change them, then regenerate this file.\n"
             ".TH MORPHALITE 1 \"2026\" \"Morphalite " MORPHALITE_VERSION_MAJOR_MINOR
             "\" \"User Commands\"\n"
             ".SH NAME\n"
             "morphalite \\- convert network-analyzer trace files between formats\n"
             ".SH SYNOPSIS\n"
             ".B morphalite\n.RI [ SOURCE ]\n.br\n"
             ".B morphalite\n.I SOURCE CODE\n.RB [ /NS ]\n.br\n"
             ".B morphalite convert\n.IR SOURCE ...\n.B \\-\\-to\n.IR CODE | NAME\n") +
         synopsis +
         ".br\n"
         ".B morphalite identify\n.RB [ \\-\\-json ]\n.RB [ \\-\\-frames ]\n.RB [ \\-\\-salvage ]\n"
         ".IR FILE ...\n.br\n"
         ".B morphalite merge\n.IR SOURCE ...\n.B \\-\\-to\n.IR CODE | NAME\n.B \\-o\n.I TARGET\n"
         ".RI [ \"convert options\" ]\n.br\n"
         ".B morphalite info\n.RB [ \\-\\-json ]\n.IR FILE ...\n.br\n"
         ".B morphalite help\n.RB [ convert | merge | identify | info ]\n.br\n"
         ".B morphalite\n.BR \\-\\-help \" | \" \\-\\-version \" | \" \\-\\-formats \" | \" \\-\\-man\n"
         ".br\n.B morphalite \\-\\-completion bash\n"
         ".SH DESCRIPTION\n"
         ".B morphalite\n"
         "recognises which network analyzer wrote a trace file and over which media, and\n"
         "writes the same frames \\(em every length, flag and timestamp \\(em in another\n"
         "analyzer's format or as a text dump. Short Ethernet frames come out padded to\n"
         "60 bytes, except between libpcap and pcapng files or with\n.BR \\-\\-no\\-pad .\n"
         "What a target cannot hold (a frame longer than its records, a finer time, a\n"
         "flag) is cut or rounded, counted, and shown as one line per file.\n"
         ".PP\n"
         "Without arguments it opens the desktop window (where the window is built and a\n"
         "display is available; otherwise it prints the usage). With a\n"
         ".I SOURCE\n"
         "alone it opens the window with that file loaded, or, without a window, prints\n"
         "what\n.B identify\nsays of it.\n"
         ".SH COMMANDS\n"
         ".TP\n.I SOURCE CODE \\fR[\\fP/NS\\fR]\\fP\n"
         "Converts\n.I SOURCE\nbeside itself, under the default suffix of the target\n.IR CODE .\n"
         "With\n.B /NS\n(any letter case) it runs unattended on the console, without a window;\n"
         "libpcap targets then take the byte order and variant saved in the settings.\n"
         ".TP\n.B convert\n"
         "Converts each\n.I SOURCE\nto the target given by\n.BR \\-\\-to .\n"
         "An existing target is overwritten unless\n.B \\-n\nis given.\n"
         ".TP\n.B identify\n"
         "Prints the analyzer, interface, file date, size, comment, line speed, stated\n"
         "frame count and the offered targets of each\n.IR FILE .\n"
         ".TP\n.B merge\n"
         "Writes the frames of every\n.I SOURCE\ninto\n.I TARGET\n"
         "in time order as\n.BR mergecap (1)\n"
         "does: of frames of equal times, the later source's first. At most 64 sources\n"
         "are read at once; beyond that, groups of them are merged through a temporary\n"
         "spool and the groups merged in rounds. The sources must share one\n"
         "medium and link type; the convert options apply to the merged frames. A source\n"
         "read only in part gives exit status 3 after the frames read are merged.\n"
         ".TP\n.B info\n"
         "Reads every frame of each\n.I FILE\nand prints, as\n.BR capinfos (1)\n"
         "does: format, interfaces with link types and frame counts, frames, data size (the\n"
         "bytes stored), earliest and latest time (UTC), duration, data and frame rates,\n"
         "smallest and largest frame, cut frames, snapshot length, time resolution and the\n"
         "file's SHA-256. The exit status of each file is as for\n.BR identify .\n"
         ".TP\n.BR help \" [\" convert | merge | identify | info ]\n"
         "Prints the usage, or the options of the command named.\n"
         ".TP\n.B \\-\\-formats\n"
         "Prints the table of analyzers with their codes and names, whether each is read\n"
         "and written, and its default suffix.\n"
         ".TP\n.BR \\-\\-completion \" bash\"\n"
         "Prints the bash completion script.\n"
         ".TP\n.B \\-\\-man\nPrints this manual page.\n"
         ".TP\n.B \\-\\-version\nPrints the version.\n"
         ".SH CONVERT OPTIONS\n" +
         ManualOptions(std::begin(kConvertOptions), std::end(kConvertOptions)) +
         ".TP\n.B \\-\\-\n"
         "Ends the options: later arguments are sources even when they start with\n.BR \\- .\n"
         ".PP\n"
         "Options take their values as\n.B \\-\\-to TD\nor\n.BR \\-\\-to=TD .\n"
         "Every message goes to standard error as\n.RI \\(dq Caption : \" text\" \\(dq;\n"
         "nothing waits for a user. On a terminal, unless\n.BR /NS ,\n.B \\-\\-quiet\nor\n"
         ".B \\-\\-jobs\nabove 1 is given, a one-line progress display runs on standard error.\n"
         "Ctrl-C, SIGTERM and SIGHUP stop every conversion under way; each target stays a\n"
         "valid, finished file, and off a terminal \\(dqFILE PARTIALLY CONVERTED\\(dq is printed.\n"
         "A failed read or write adds a second line with the file and the reason. In a\n"
         "batch every message starts with its source, each source ends with one line, and\n"
         "a summary closes it.\n"
         ".PP\n"
         "Each target is written to a temporary file in its folder (unnamed where the file\n"
         "system allows it, else a random name that is never followed through a link) and\n"
         "renamed over the destination only when frames were written; a conversion that\n"
         "writes none, fails or is killed leaves an existing file as it was. The source\n"
         ".B \\-\nreads standard input (it needs\n"
         ".BR \\-o );\n.B \\-o \\-\nwrites standard output for writers that never seek back\n"
         "(libpcap, pcapng, snoop, text). A source or target that is a pipe or a device\n"
         "(\\fI/dev/stdout\\fR into a pipe, a shell's \\fI<(...)\\fR) is taken as\n.B \\-\nis.\n"
         "Two sources of a batch that would write the same\n"
         "target are refused before anything starts.\n"
         ".PP\n"
         "With\n.BR \\-\\-json ,\n"
         "each source gives one line of standard output holding a JSON object: source,\n"
         "target, sourceAnalyzer, targetAnalyzer, framesRead, framesWritten,\n"
         "nonDataFrames, bytes, firstFrame and lastFrame (ISO 8601 UTC, null when no frame\n"
         "was written), losses, outcome, exitStatus, messages and detail. A byte of a file name\n"
         "that is not part of valid UTF-8 is written as the escape \\e\\fBudcXX\\fR, as\n"
         "Python's surrogateescape does. The losses object is empty, or with\n"
         ".B \\-\\-salvage\n"
         "holds skippedBytes and skippedRecords: the bytes and the damaged spans passed over;\n"
         "what the target could not hold is counted beside, each count that is not 0:\n"
         "framesNotWritten, framesCut, bytesCut, wireLengthsNotStored, framesPadded,\n"
         "timesRounded, timesNotStored, datesNotStored, flagsNotStored, commentsNotStored,\n"
         "interfacesNotStored.\n"
         ".PP\n"
         "With\n.BR \\-\\-salvage ,\n"
         "damage in a libpcap, pcapng or snoop source (a record or block whose lengths or\n"
         "time cannot be, or that the file's end cuts) no longer ends the reading: the\n"
         "source is searched byte by byte for the next sound record (libpcap and snoop: one\n"
         "followed by another; pcapng: a block of a known type whose two lengths agree)\n"
         "and the conversion goes on from there. A line \\(lqDamage Skipped: ...\\(rq names\n"
         "the bytes and spans passed over and the first damaged record; the exit status is\n"
         "3 when anything was passed over, 0 only when nothing was. Formats whose records\n"
         "are found through an index or a chain end at damage as without the option.\n"
         ".PP\n"
         "The frame edits work as editcap's:\n.B \\-\\-range\nnumbers frames from 1 in the\n"
         "order read;\n.B \\-\\-after\nand\n.B \\-\\-before\n"
         "compare the source's times, before any shift;\n.B \\-\\-dedup\n"
         "compares the stored bytes (without an Ethernet FCS) with those of the 4 frames read\n"
         "before, dropped or not, and counts what it drops (\\(lqDuplicates: ...\\(rq, or\n"
         "duplicateFrames in the JSON). A split target is written as numbered files,\n"
         ".I out_00000.pcap\n"
         "and on, each complete on its own and renamed into place when finished; a line\n"
         "\\(lqWritten: FILE: N frames\\(rq tells each (files in the JSON). Split in time,\n"
         "each file holds the frames of one step of S seconds from the first frame, and a\n"
         "step without frames gives no file.\n"
         ".SH IDENTIFY OPTIONS\n" +
         ManualOptions(std::begin(kIdentifyOptions), std::end(kIdentifyOptions)) +
         ".PP\n"
         "The frame lengths\n.B \\-\\-frames\n"
         "reports are wire lengths, with the 4-byte FCS on Ethernet.\n"
         ".SH INFO OPTIONS\n" +
         ManualOptions(std::begin(kInfoOptions), std::end(kInfoOptions)) +
         ".SH EXIT STATUS\n" +
         statuses + ".PP\n" + Capitalised(Roff(kBatchStatus)) + ".\n" +
         ".SH FILES\n"
         ".TP\n.I ~/.config/Corvantique/Morphalite.ini\n"
         "Settings of the window and of\n.BR /NS :\n"
         "recent files, last directory, last target format, libpcap byte order and\n"
         "variant (group 3.0).\n"
         ".TP\n.I /usr/share/doc/morphalite/help/index.html\n"
         "The help the window opens on F1 (under the installation prefix).\n"
         ".SH EXAMPLES\n"
         ".TP\n.B morphalite trace.enc TD /NS\n"
         "Converts a Sniffer DOS trace to libpcap as\n.IR trace.dmp .\n"
         ".TP\n.B morphalite convert *.cap \\-\\-to pcap \\-o out/ \\-\\-jobs 0 \\-\\-quiet\n"
         "Converts several traces into the directory\n.IR out ,\none per core at a time.\n"
         ".TP\n.B morphalite convert *.cap \\-\\-to snoop \\-o out/ \\-\\-json\n"
         "The same, with one JSON object per trace for a script.\n"
         ".TP\n.B cat trace.pcap | morphalite convert \\- \\-\\-to pcap \\-o \\- | tshark \\-r \\-\n"
         "Through pipes.\n"
         ".TP\n.B morphalite identify \\-\\-frames trace.cap\n"
         "Tells which analyzer wrote a file, and reads every frame.\n"
         ".SH SEE ALSO\n"
         ".BR tcpdump (8),\n"
         ".BR pcap\\-savefile (5)\n";
}

LaunchMode ClassifyCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return LaunchMode::Desktop;
  const std::string& first = args[0];
  if (first == "convert" || first == "merge" || first == "identify" || first == "info" ||
      first == "help" ||
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
    if (args.size() > 2 || (!topic.empty() && topic != "convert" && topic != "identify" &&
                             topic != "merge" && topic != "info"))
      return UsageError("help takes convert, merge, identify or info, not " + args.back());
    std::fputs(topic == "convert"    ? ConvertHelpText().c_str()
               : topic == "identify" ? IdentifyHelpText().c_str()
               : topic == "merge"    ? MergeHelpText().c_str()
               : topic == "info"     ? InfoHelpText().c_str()
                                     : UsageText().c_str(),
               stdout);
    return Exit::Ok;
  }
  if (args[0] == "info" &&
      std::find_if(args.begin() + 1, args.end(),
                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != args.end()) {
    std::fputs(InfoHelpText().c_str(), stdout);
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
  if (args[0] == "--man") {
    std::fputs(ManualPage().c_str(), stdout);
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
  if (args[0] == "merge") return RunMergeCommand(args);
  if (args[0] == "info")
    return RunInfoCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout);
  if (args[0] == "identify")
    return RunIdentifyCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout);
  if (args[0][0] == '-') return UsageError("unknown option " + args[0]);
  if (args.size() == 1)
    return RunIdentifyCommand(args, stdout);  // a source alone, without a window
  return RunPositional(args);
}

}  // namespace morph
