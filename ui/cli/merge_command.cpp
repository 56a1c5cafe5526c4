// morphalite merge SOURCE... --to CODE -o TARGET: the frames of every source
// in one target, in time order, with convert's options applied to them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/failure.h"
#include "engine/merge.h"
#include "engine/targets.h"
#include "ui/cli/command_line.h"
#include "ui/cli/commands.h"
#include "ui/cli/console_host.h"
#include "ui/cli/json.h"

namespace morph {
namespace {

std::string MergeJson(const std::vector<std::string>& sources, const JobResult& r,
                      AnalyzerType target, int status, const std::vector<ShownMessage>& shown) {
  std::string names, messages, detail = r.failureDetail;
  for (const std::string& source : sources) names += (names.empty() ? "" : ", ") + JsonString(source);
  for (const ShownMessage& m : shown) {
    messages += (messages.empty() ? "" : ", ") + JsonString(m.line);
    if (detail.empty()) detail = m.detail;
  }
  return "{\"sources\": [" + names + "], \"target\": " + JsonOrNull(r.targetPath) +
         ", \"targetAnalyzer\": " + JsonString(AnalyzerName(target)) +
         ", \"framesRead\": " + std::to_string(r.framesRead) +
         ", \"framesWritten\": " + std::to_string(r.framesWritten) +
         ", \"bytes\": " + std::to_string(r.frameBytes) +
         ", \"firstFrame\": " + JsonTime(r.firstFrameTime) +
         ", \"lastFrame\": " + JsonTime(r.lastFrameTime) +
         ", \"losses\": " + JsonLosses(r.skipped.bytes, r.skipped.records) +
         ", \"outcome\": " + JsonString(OutcomeText(r.outcome)) +
         ", \"exitStatus\": " + std::to_string(status) + ", \"messages\": [" + messages +
         "], \"detail\": " + JsonOrNull(detail) + "}\n";
}

}  // namespace

int RunMergeCommand(const std::vector<std::string>& args) {
  ConvertArgs parsed;
  if (std::string error = ParseConversionOptions(args, parsed); !error.empty())
    return UsageError(error);
  if (parsed.help) {
    std::fputs(MergeHelpText().c_str(), stdout);
    return Exit::Ok;
  }
  if (parsed.output.empty()) return UsageError("merge needs -o TARGET (a file, or - for standard output)");
  if (IsDirectory(parsed.output)) return UsageError("merge writes one file: " + parsed.output + " is a directory");
  if (parsed.json && parsed.output == "-")
    return UsageError("--json and -o - would both write to standard output");
  if (parsed.jobs != 1) return UsageError("merge reads its sources one after another: --jobs does not apply");
  if (std::count(parsed.sources.begin(), parsed.sources.end(), "-") > 1)
    return UsageError("standard input (-) can be a source only once");

  SourceSpool spool;
  MergeRequest request;
  for (const std::string& source : parsed.sources) {
    const std::string name = source == "-" ? "standard input" : source;
    std::string path = source;
    if (SourceSpool::NeedsSpool(source) && (path = spool.spool(source)).empty()) {
      ConsoleHost host(false);
      host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                   SystemErrorDetail(name), MessageIcon::Warning);
      return Exit::SourceRefused;
    }
    request.sources.push_back(path);
    request.shownNames.push_back(name);
  }
  request.target = parsed.options;
  request.target.targetPath = parsed.output;
  request.target.target = *parsed.target;
  request.target.overwrite = true;

  ConsoleHost console(!parsed.quiet);
  GatheringHost gathering("merge", false);
  Host& host = parsed.json ? static_cast<Host&>(gathering) : static_cast<Host&>(console);
  const JobResult result = RunMergeJob(request, DefaultCapabilities(), host);
  const int status = ExitFor(result.outcome);
  if (parsed.json)
    PrintLines(MergeJson(parsed.sources, result, *parsed.target, status, gathering.shown), stdout);
  else if (!parsed.quiet && result.framesWritten > 0)
    PrintLines("Merged " + Grouped(result.framesWritten) + " frames of " +
               std::to_string(parsed.sources.size()) + " files into " +
               (result.targetPath == "-" ? "standard output" : result.targetPath) + ".\n");
  return status;
}

}  // namespace morph
