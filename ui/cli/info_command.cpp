// morphalite info [--json] FILE...: for each file what reading every frame
// tells, as capinfos tells it, or the message that refuses it.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytes.h"
#include "engine/catalogue.h"
#include "engine/failure.h"
#include "engine/info.h"
#include "engine/salvage.h"
#include "engine/targets.h"
#include "ui/cli/command_line.h"
#include "ui/cli/commands.h"
#include "ui/cli/console_host.h"
#include "ui/cli/json.h"
#include "ui/cli/options.h"

namespace morph {
namespace {

// Keeps the refusal message for the JSON output instead of printing it.
class RefusalHost : public Host {
 public:
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    this->caption = caption;
    this->text = text;
  }
  std::string caption, text;
};

// "2026-12-09T03:37:06.123456Z", with nine digits when the file keeps nanoseconds.
std::string IsoInstant(const FrameInstant& t, bool nanoseconds) {
  std::string text = IsoTime(t.seconds * kMicrosPerSecond + t.nanoseconds / 1000);
  if (!nanoseconds) return text;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%09d", t.nanoseconds);
  return text.substr(0, text.size() - 7) + digits + "Z";
}

// Rates are told only of a trace that lasts some time.
bool HasRates(const TraceSummary& t) { return t.durationSeconds() > 0; }
double PerSecond(double amount, const TraceSummary& t) { return amount / t.durationSeconds(); }

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string FixedOrNull(bool known, double value, int decimals) {
  return known ? Fixed(value, decimals) : "null";
}

std::string Medium(const TraceSummary& t) {
  std::string name = TopologyName(t.source.topology);
  if (IsWanTopology(t.source.topology)) name += WanProtocolName(t.source.wanProtocol);
  return name;
}

std::string InterfaceText(const InterfaceFrames& i, const std::string& medium) {
  return "#" + std::to_string(i.interface) + " " +
         (i.linkType ? "link type " + std::to_string(i.linkType) + ", " : medium + ", ") +
         Grouped(i.frames) + " frames";
}

void PrintText(std::FILE* out, const std::string& name, const TraceSummary& t) {
  const auto line = [&](const char* label, const std::string& value) {
    std::fprintf(out, "%-22s%s\n", label, value.c_str());
  };
  const int decimals = t.nanoseconds ? 9 : 6;
  line("File:", name);
  line("Format:", t.source.displayName());
  line("Medium:", Medium(t));
  for (const InterfaceFrames& i : t.interfaces) line("Interface:", InterfaceText(i, Medium(t)));
  line("Frames:", Grouped(t.frames));
  line("File size:", Grouped(t.source.fileSize) + " bytes");
  line("Data size:", Grouped(t.dataBytes) + " bytes");
  if (t.earliest) {
    line("Duration:", Fixed(t.durationSeconds(), decimals) + " seconds");
    line("Earliest frame:", IsoInstant(*t.earliest, t.nanoseconds));
    line("Latest frame:", IsoInstant(*t.latest, t.nanoseconds));
  }
  if (HasRates(t)) {
    const double rate = PerSecond(double(t.dataBytes), t);
    line("Data byte rate:", Fixed(rate, 2) + " bytes/s");
    line("Data bit rate:", Fixed(rate * 8, 2) + " bits/s");
    line("Frame rate:", Fixed(PerSecond(double(t.frames), t), 2) + " frames/s");
  }
  if (t.frames > 0) {
    line("Average frame size:", Fixed(double(t.dataBytes) / double(t.frames), 2) + " bytes");
    line("Smallest frame:", Grouped(t.smallestFrame) + " bytes");
    line("Largest frame:", Grouped(t.largestFrame) + " bytes");
  }
  line("Cut frames:", Grouped(t.cutFrames));
  line("Snapshot length:", t.snapshotLength ? Grouped(t.snapshotLength) + " bytes" : "not stated");
  line("Time resolution:", t.nanoseconds ? "nanoseconds" : "microseconds");
  line("Time order:", t.timeOrdered ? "strict" : "not strict");
  line("SHA-256:", t.sha256);
  if (t.skipped.any()) line("Skipped:", SkippedText(t.skipped));
  else if (!t.failureDetail.empty()) line("Read error:", t.failureDetail);
}

void PrintJson(std::FILE* out, const std::string& file, const TraceSummary& t) {
  const int decimals = t.nanoseconds ? 9 : 6;
  std::string interfaces;
  for (const InterfaceFrames& i : t.interfaces)
    interfaces += std::string(interfaces.empty() ? "" : ", ") + "{\"interface\": " +
                  std::to_string(i.interface) + ", \"linkType\": " +
                  (i.linkType ? std::to_string(i.linkType) : "null") +
                  ", \"frames\": " + std::to_string(i.frames) + "}";
  const auto time = [&](const std::optional<FrameInstant>& at) {
    return at ? "\"" + IsoInstant(*at, t.nanoseconds) + "\"" : std::string("null");
  };
  const bool rates = HasRates(t), any = t.frames > 0;
  const double byteRate = rates ? PerSecond(double(t.dataBytes), t) : 0;
  const std::string json =
      "{\"file\": " + JsonString(file) + ", \"accepted\": true, \"format\": " +
      JsonString(t.source.displayName()) + ", \"medium\": " + JsonString(Medium(t)) +
      ", \"interfaces\": [" + interfaces + "], \"frames\": " + std::to_string(t.frames) +
      ", \"fileSize\": " + std::to_string(t.source.fileSize) +
      ", \"dataSize\": " + std::to_string(t.dataBytes) + ", \"earliest\": " + time(t.earliest) +
      ", \"latest\": " + time(t.latest) + ", \"duration\": " + FixedOrNull(t.earliest.has_value(), t.durationSeconds(), decimals) +
      ", \"dataByteRate\": " + FixedOrNull(rates, byteRate, 3) +
      ", \"dataBitRate\": " + FixedOrNull(rates, byteRate * 8, 3) +
      ", \"frameRate\": " + FixedOrNull(rates, rates ? PerSecond(double(t.frames), t) : 0, 3) +
      ", \"averageFrameSize\": " +
      FixedOrNull(any, any ? double(t.dataBytes) / double(t.frames) : 0, 3) +
      ", \"smallestFrame\": " + (any ? std::to_string(t.smallestFrame) : "null") +
      ", \"largestFrame\": " + (any ? std::to_string(t.largestFrame) : "null") +
      ", \"cutFrames\": " + std::to_string(t.cutFrames) +
      ", \"snapshotLength\": " + (t.snapshotLength ? std::to_string(t.snapshotLength) : "null") +
      ", \"timeResolution\": " + (t.nanoseconds ? "\"nanoseconds\"" : "\"microseconds\"") +
      ", \"timeOrdered\": " + (t.timeOrdered ? "true" : "false") +
      ", \"sha256\": " + JsonString(t.sha256) +
      ", \"losses\": " + JsonLosses(t.skipped.bytes, t.skipped.records) +
      ", \"readError\": " + (t.failureDetail.empty() ? "null" : JsonString(t.failureDetail)) + "}";
  std::fprintf(out, "%s\n", json.c_str());
}

void PrintRefusalJson(std::FILE* out, const std::string& file, const RefusalHost& host) {
  std::fprintf(out, "{\"file\": %s, \"accepted\": false, \"caption\": %s, \"message\": %s}\n",
               JsonString(file).c_str(), JsonString(host.caption).c_str(),
               JsonString(host.text).c_str());
}

// As identify --frames: a refused source 2, one read in part 3, a stop 6.
int StatusOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::SourceRefused: return Exit::SourceRefused;
    case Outcome::ReadError: return Exit::ReadError;
    case Outcome::Stopped: return Exit::Stopped;
    default: return Exit::Ok;
  }
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& args, std::FILE* out) {
  CommandLine line;
  if (std::string error = SplitCommandLine(args, Command::Info, line); !error.empty())
    return UsageError(error);
  bool json = false;
  for (const GivenOption& given : line.options) json |= given.option == Option::Json;
  const std::vector<std::string>& files = line.operands;
  if (std::string error = FileListProblem(files, "info"); !error.empty()) return UsageError(error);
  SourceSpool spool;
  const CapabilitySets caps = DefaultCapabilities();
  int status = Exit::Ok;
  bool first = true;
  for (const std::string& given : files) {
    const auto [path, name, spooled] = spool.take(given);
    RefusalHost recorder;
    ConsoleHost console(false);
    console.setSource(name, false);
    Host& host = json ? static_cast<Host&>(recorder) : static_cast<Host&>(console);
    TraceSummary summary;
    if (path.empty())
      host.failure("Open Trace File", "Unable to open Source file.  File is in use or name is bad.",
                   SystemErrorDetail(name), MessageIcon::Warning);
    else
      summary = SummarizeTrace(path, caps, host, spooled ? name : "");
    const int fileStatus = StatusOf(summary.outcome);
    if (status == Exit::Ok) status = fileStatus;
    if (summary.outcome == Outcome::SourceRefused) {
      if (json) PrintRefusalJson(out, given, recorder);
      continue;
    }
    if (json) {
      PrintJson(out, given, summary);
    } else {
      if (!first) std::fputc('\n', out);
      PrintText(out, name, summary);
    }
    first = false;
  }
  return status;
}

}  // namespace morph
