// morphalite identify [--json] [--frames] FILE...: for each file the facts
// the main window would show, or the message that refuses it; with --frames
// also what reading every frame tells.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/failure.h"
#include "engine/file_date.h"
#include "engine/job.h"
#include "formats/registry.h"
#include "engine/link_types.h"
#include "engine/salvage.h"
#include "engine/targets.h"
#include "ui/cli/command_line.h"
#include "ui/cli/commands.h"
#include "ui/cli/console_host.h"
#include "ui/cli/json.h"
#include "ui/cli/options.h"

namespace morph {
namespace {

// Keeps the refusal message and its reason for the JSON output instead of
// printing them.
class RecordingHost : public Host {
 public:
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    this->caption = caption;
    this->text = text;
  }
  void failure(const std::string& caption, const std::string& text, const std::string& detail,
               MessageIcon icon) override {
    message(caption, text, icon);
    this->detail = detail;
  }
  std::string caption, text, detail;
};

// Everything shown for an accepted source.
struct IdentifyView {
  std::string analyzer, interface, fileDate, fileSize, comment, destination;
  std::optional<int64_t> fileTime;  // last modified, UTC microseconds since 1970
  uint32_t lineSpeed = 0;  // 0: the file states none
  int64_t sizeBytes = 0;
  int32_t frames = 0;  // 0: the file states no count
  std::vector<std::string> targets;
  std::vector<SourceInterface> interfaces;
  std::vector<int64_t> interfaceFrames;  // counted by a pass over the frames; empty: none ran
};

IdentifyView ViewOf(const ConversionState& s, const CapabilitySets& caps) {
  IdentifyView f;
  f.analyzer = SourceDisplayName(s.sourceAnalyzer, s.sourceVariant, s.sourceCompressed);
  const Topology topology = s.traceTopology;
  const TargetClass targetClass = TargetClassFor(topology, false, false);
  f.interface = FactsOf(s).interfaceName();
  f.interfaces = s.sourceInterfaces;
  f.fileDate = s.sourceFileDateText;
  if (struct stat st {}; stat(s.sourceFileName.c_str(), &st) == 0)
    f.fileTime = int64_t(st.st_mtim.tv_sec) * kMicrosPerSecond + st.st_mtim.tv_nsec / 1000;
  f.sizeBytes = s.sourceFileSize;
  f.fileSize = FileSizeText(s.sourceFileSize);
  f.comment = s.fileComment;
  // Only a speed the file states: the medium's usual one would be made up.
  f.lineSpeed = s.fileLineSpeed;
  f.frames = s.sourceFrameCount;
  // The list as a first run shows it: the saved format defaults to Ostrawind.
  TargetList list = FillTargetList(caps, targetClass, topology, false, false, Analyzer::Ostrawind);
  for (AnalyzerType type : list.offered) f.targets.push_back(AnalyzerName(type));
  if (list.selected != Analyzer::Unknown) {
    DestinationRequest d{s.sourceFileName, "", s.sourceAnalyzer, list.selected, topology, false,
                         false};
    f.destination = DefaultTargetName(d);
  }
  return f;
}

void PrintText(std::FILE* out, const std::string& path, const IdentifyView& f) {
  std::fprintf(out, "File: %s\n", path.c_str());
  std::fprintf(out, "Analyzer: %s\n", f.analyzer.c_str());
  std::fprintf(out, "Interface: %s\n", f.interface.c_str());
  std::fprintf(out, "File Date: %s\n", f.fileDate.c_str());
  std::fprintf(out, "File Size: %s\n", f.fileSize.c_str());
  std::fprintf(out, "Comment: %s\n", f.comment.c_str());
  if (f.lineSpeed > 0) std::fprintf(out, "Line Speed: %u bits per second\n", f.lineSpeed);
  else std::fprintf(out, "Line Speed: unknown\n");
  if (f.frames > 0) std::fprintf(out, "Frames: %d\n", f.frames);
  for (size_t n = 0; n < f.interfaces.size(); ++n) {
    std::string line = LinkTypeText(f.interfaces[n].linkType);
    if (!f.interfaces[n].name.empty()) line += ", " + f.interfaces[n].name;
    if (!f.interfaceFrames.empty())
      line += ", " + Grouped(n < f.interfaceFrames.size() ? f.interfaceFrames[n] : 0) + " frames";
    std::fprintf(out, "Interface %zu: %s\n", n, line.c_str());
  }
  std::string targets;
  for (const std::string& name : f.targets) targets += (targets.empty() ? "" : "; ") + name;
  std::fprintf(out, "Targets: %s\n", targets.c_str());
  std::fprintf(out, "Destination: %s\n", f.destination.c_str());
}

std::optional<double> DurationSeconds(const FrameSurvey& survey) {
  if (!survey.firstFrameTime || !survey.lastFrameTime) return std::nullopt;
  return double(*survey.lastFrameTime - *survey.firstFrameTime) / double(kMicrosPerSecond);
}

// What reading every frame told, as capinfos tells it.
void PrintSurveyText(std::FILE* out, const FrameSurvey& survey) {
  std::fprintf(out, "Frames Read: %s\n", Grouped(survey.frames).c_str());
  std::fprintf(out, "First Frame: %s\n", IsoTime(survey.firstFrameTime).c_str());
  std::fprintf(out, "Last Frame: %s\n", IsoTime(survey.lastFrameTime).c_str());
  if (auto duration = DurationSeconds(survey))
    std::fprintf(out, "Duration: %.6f seconds\n", *duration);
  std::fprintf(out, "Cut Frames: %s\n", Grouped(survey.cutFrames).c_str());
  std::fprintf(out, "Largest Frame: %s bytes\n", Grouped(survey.largestFrame).c_str());
  if (survey.skipped.any())
    std::fprintf(out, "Skipped: %s\n", SkippedText(survey.skipped).c_str());
  else if (!survey.failureDetail.empty())
    std::fprintf(out, "Read Error: %s\n", survey.failureDetail.c_str());
}

std::string SurveyJson(const FrameSurvey& survey) {
  char duration[32] = "null";
  if (auto seconds = DurationSeconds(survey)) std::snprintf(duration, sizeof duration, "%.6f", *seconds);
  return ", \"framesRead\": " + std::to_string(survey.frames) +
         ", \"firstFrame\": " + JsonTime(survey.firstFrameTime) +
         ", \"lastFrame\": " + JsonTime(survey.lastFrameTime) + ", \"duration\": " + duration +
         ", \"cutFrames\": " + std::to_string(survey.cutFrames) +
         ", \"largestFrame\": " + std::to_string(survey.largestFrame) +
         ", \"losses\": " + JsonLosses(survey.skipped.bytes, survey.skipped.records) +
         ", \"readError\": " +
         (survey.failureDetail.empty() ? "null" : JsonString(survey.failureDetail));
}

std::string IdentifyJson(const std::string& path, const IdentifyView& f,
                         const std::optional<FrameSurvey>& survey) {
  std::string targets;
  for (const std::string& name : f.targets) targets += (targets.empty() ? "" : ", ") + JsonString(name);
  std::string json = "{\"file\": " + JsonString(path) + ", \"accepted\": true" +
                     ", \"analyzer\": " + JsonString(f.analyzer) +
                     ", \"interface\": " + JsonString(f.interface) +
                     ", \"fileDate\": " + JsonString(f.fileDate) +
                     ", \"fileTime\": " + JsonTime(f.fileTime) +
                     ", \"fileSize\": " + std::to_string(f.sizeBytes) +
                     ", \"comment\": " + JsonLatin1(f.comment) +
                     ", \"lineSpeed\": " +
                     (f.lineSpeed > 0 ? std::to_string(f.lineSpeed) : std::string("null"));
  if (f.frames > 0) json += ", \"frames\": " + std::to_string(f.frames);
  std::string interfaces;
  for (size_t n = 0; n < f.interfaces.size(); ++n) {
    const SourceInterface& i = f.interfaces[n];
    const char* name = LinkTypeName(i.linkType);
    interfaces += std::string(n ? ", " : "") + "{\"number\": " + std::to_string(n) +
                  ", \"linkType\": " + std::to_string(i.linkType) +
                  ", \"linkTypeName\": " + (name ? JsonString(name) : "null") +
                  ", \"name\": " + JsonLatin1(i.name) +
                  ", \"description\": " + JsonLatin1(i.description) + ", \"frames\": " +
                  (f.interfaceFrames.empty()
                       ? std::string("null")
                       : std::to_string(n < f.interfaceFrames.size() ? f.interfaceFrames[n] : 0)) +
                  "}";
  }
  json += ", \"interfaces\": [" + interfaces + "]";
  json += ", \"targets\": [" + targets + "], \"destination\": " + JsonString(f.destination);
  if (survey) json += SurveyJson(*survey);
  return json + "}";
}

void PrintJson(std::FILE* out, const std::string& path, const IdentifyView& f,
               const std::optional<FrameSurvey>& survey) {
  std::fprintf(out, "%s\n", IdentifyJson(path, f, survey).c_str());
}

std::string RefusalJson(const std::string& path, const RecordingHost& host) {
  return "{\"file\": " + JsonString(path) + ", \"accepted\": false, \"caption\": " +
         JsonString(host.caption) + ", \"message\": " + JsonString(host.text) +
         ", \"detail\": " + (host.detail.empty() ? "null" : JsonString(host.detail)) + "}";
}

void PrintRefusalJson(std::FILE* out, const std::string& path, const RecordingHost& host) {
  std::fprintf(out, "%s\n", RefusalJson(path, host).c_str());
}

// With --frames, what reading every frame tells; without it, the frames of
// each of several interfaces are counted by reading them.
std::optional<FrameSurvey> ReadFrames(const std::string& path, const CapabilitySets& caps,
                                      Host& host, bool frames, bool salvage, IdentifyView& facts) {
  if (frames) {
    FrameSurvey survey = SurveyFrames(path, caps, host, salvage);
    facts.interfaceFrames = survey.interfaceFrames;
    return survey;
  }
  if (facts.interfaces.size() > 1) {
    SilentHost quiet;
    facts.interfaceFrames = SurveyFrames(path, caps, quiet).interfaceFrames;
  }
  return std::nullopt;
}

// What identify's options ask for.
struct IdentifyOptions {
  bool json = false, frames = false, salvage = false;
};

IdentifyOptions OptionsGiven(const CommandLine& line) {
  IdentifyOptions o;
  for (const GivenOption& given : line.options) {
    o.json |= given.option == Option::Json;
    o.frames |= given.option == Option::Frames;
    o.salvage |= given.option == Option::Salvage;
  }
  return o;
}

}  // namespace

IdentifiedFile IdentifyQuietly(const std::string& path) {
  IdentifiedFile done;
  auto state = std::make_unique<ConversionState>();  // 64 KB of frame buffer: not on the stack
  RecordingHost recorder;
  const CapabilitySets caps = DefaultCapabilities();
  if (!CheckSource(*state, caps, path, recorder).accepted) {
    done.status = Exit::SourceRefused;
    done.message = recorder.caption + ": " + recorder.text;
    done.detail = recorder.detail;
    done.json = RefusalJson(path, recorder);
    return done;
  }
  const IdentifyView view = ViewOf(*state, caps);
  done.analyzer = view.analyzer;
  done.interface = view.interface;
  done.fileSize = view.sizeBytes;
  done.frames = view.frames;
  done.json = IdentifyJson(path, view, std::nullopt);
  return done;
}

int RunIdentifyCommand(const std::vector<std::string>& args, std::FILE* out) {
  CommandLine line;
  if (std::string error = SplitCommandLine(args, Command::Identify, line); !error.empty())
    return UsageError(error);
  const auto [json, frames, salvage] = OptionsGiven(line);
  const std::vector<std::string>& files = line.operands;
  if (std::string error = FileListProblem(files, "identify"); !error.empty()) return UsageError(error);
  SourceSpool spool;
  const CapabilitySets caps = DefaultCapabilities();
  int status = Exit::Ok;
  bool first = true;
  for (const std::string& given : files) {
    const auto [path, name, spooled] = spool.take(given);
    auto state = std::make_unique<ConversionState>();
    RecordingHost recorder;
    ConsoleHost console(false);
    Host& host = json ? static_cast<Host&>(recorder) : static_cast<Host&>(console);
    if (path.empty()) {
      host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                   SystemErrorDetail(name), MessageIcon::Warning);
      if (status == Exit::Ok) status = Exit::SourceRefused;
      if (json) PrintRefusalJson(out, given, recorder);
      continue;
    }
    SourceCheck check = CheckSource(*state, caps, path, host, nullptr, spooled ? name : "");
    if (!check.accepted) {
      if (status == Exit::Ok) status = Exit::SourceRefused;
      if (json) PrintRefusalJson(out, given, recorder);
      continue;
    }
    IdentifyView facts = ViewOf(*state, caps);
    if (spooled) {
      // The copy's date and a target beside it would be made up.
      facts.fileDate.clear();
      facts.fileTime.reset();
      facts.destination.clear();
    }
    if (frames) console.setSource(name, false);
    const std::optional<FrameSurvey> survey = ReadFrames(path, caps, host, frames, salvage, facts);
    if (survey && survey->outcome == Outcome::ReadError && status == Exit::Ok) status = Exit::ReadError;
    if (survey && survey->outcome == Outcome::Stopped && status == Exit::Ok) status = Exit::Stopped;
    if (json) {
      PrintJson(out, given, facts, survey);
    } else {
      if (!first) std::fputc('\n', out);
      PrintText(out, name, facts);
      if (survey) PrintSurveyText(out, *survey);
    }
    first = false;
  }
  return status;
}

}  // namespace morph
