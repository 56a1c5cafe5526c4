// morphalite convert SOURCE... --to CODE: each source converted on its own,
// on one worker or several, with a line or a JSON object for each.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "engine/catalogue.h"
#include "engine/failure.h"
#include "engine/job.h"
#include "ui/cli/command_line.h"
#include "ui/cli/commands.h"
#include "ui/cli/console_host.h"
#include "ui/cli/json.h"

namespace morph {
namespace {

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
    return run.name + " -> " + run.result.targetPath + ": " + OutcomeText(run.result.outcome) +
           ", " + Grouped(run.result.framesWritten) + " frames, " + LossesText(run.result.losses);
  return run.name + ": " + OutcomeText(run.result.outcome);
}

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
         ", \"outcome\": " + JsonString(OutcomeText(r.outcome)) +
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

// What the command line asks that cannot be done, before anything starts.
std::string BatchProblem(const ConvertArgs& parsed) {
  const bool toStandardOutput = parsed.output == "-";
  const bool batch = parsed.sources.size() > 1;
  if (batch && toStandardOutput) return "-o - takes a single source";
  if (parsed.json && toStandardOutput) return "--json and -o - would both write to standard output";
  if (batch && !parsed.output.empty() && !IsDirectory(parsed.output))
    return "with several sources, -o must name an existing directory";
  if (std::count(parsed.sources.begin(), parsed.sources.end(), "-") > 1)
    return "standard input (-) can be a source only once";
  // A source read in one pass leaves no name to put a target beside.
  for (const std::string& source : parsed.sources)
    if (SourceSpool::NeedsSpool(source) && (parsed.output.empty() || IntoDirectory(parsed)))
      return source == "-" ? "a source read from standard input (-) needs -o FILE or -o -"
                           : "a source read from a pipe or device (" + source +
                                 ") needs -o FILE or -o -";
  return "";
}

// Two sources of a batch that would write the same target.
std::string SharedTarget(const ConvertArgs& parsed) {
  if (parsed.sources.size() < 2) return "";
  const CapabilitySets caps = DefaultCapabilities();
  std::map<std::string, std::string> planned;
  for (const std::string& source : parsed.sources) {
    const std::string target = PlannedTargetPath(RequestFor(parsed, source), caps);
    if (target.empty()) continue;
    auto [at, fresh] = planned.emplace(target, source);
    if (!fresh)
      return at->second + " and " + source + " would both be written to " + target +
             "; convert them into different directories";
  }
  return "";
}

// A run for each source; sources read in one pass are copied into `spool`
// first. False when a copy could not be made (said on the console).
bool PrepareRuns(const ConvertArgs& parsed, SourceSpool& spool, std::vector<SourceRun>& runs) {
  for (const std::string& source : parsed.sources) {
    SourceRun run;
    run.source = source;
    run.name = source == "-" ? "standard input" : source;
    run.request = RequestFor(parsed, source);
    if (SourceSpool::NeedsSpool(source)) {
      run.request.sourcePath = spool.spool(source);
      run.request.sourceName = run.name;
      if (run.request.sourcePath.empty()) {
        ConsoleHost host(false);
        host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                     SystemErrorDetail(run.name), MessageIcon::Warning);
        return false;
      }
    }
    runs.push_back(std::move(run));
  }
  return true;
}

// The status and the summary follow the order given, whatever order the
// workers finished in.
int BatchStatus(const ConvertArgs& parsed, const std::vector<SourceRun>& runs) {
  int status = Exit::Ok;
  int converted = 0;
  std::vector<std::string> failures;
  for (const SourceRun& run : runs) {
    if (!run.started) continue;
    if (run.status != Exit::Ok && status == Exit::Ok) status = run.status;
    if (run.status == Exit::Ok) ++converted;
    else failures.push_back(run.source + " (" + OutcomeText(run.result.outcome) + ")");
  }
  if (runs.size() > 1 && !parsed.quiet && !parsed.json) {
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

int RunConvertCommand(const std::vector<std::string>& args) {
  ConvertArgs parsed;
  if (std::string error = ParseConversionOptions(args, parsed); !error.empty())
    return UsageError(error);
  if (parsed.help) {
    std::fputs(ConvertHelpText().c_str(), stdout);
    return Exit::Ok;
  }
  if (std::string error = BatchProblem(parsed); !error.empty()) return UsageError(error);
  if (std::string error = SharedTarget(parsed); !error.empty()) return UsageError(error);
  SourceSpool spool;
  std::vector<SourceRun> runs;
  if (!PrepareRuns(parsed, spool, runs)) return Exit::SourceRefused;
  unsigned workers = parsed.jobs ? parsed.jobs : std::max(1u, std::thread::hardware_concurrency());
  workers = unsigned(std::min<size_t>(workers, runs.size()));
  ConvertBatch(parsed, runs, workers).run();
  return BatchStatus(parsed, runs);
}

QuietConversion ConvertQuietly(const std::vector<std::string>& args) {
  QuietConversion done;
  ConvertArgs parsed;
  std::string error = ParseConversionOptions(args, parsed);
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

}  // namespace morph
