// morphalite identify FILE... [--json]: for each file the facts the main
// window would show, or the message that refuses it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/catalogue.h"
#include "engine/file_date.h"
#include "engine/job.h"
#include "engine/targets.h"
#include "ui/cli/command_line.h"
#include "ui/cli/console_host.h"

namespace morph {
namespace {

// Keeps the refusal message for the JSON output instead of printing it.
class RecordingHost : public Host {
 public:
  void message(const std::string& caption, const std::string& text, MessageIcon) override {
    this->caption = caption;
    this->text = text;
  }
  std::string caption, text;
};

// Everything shown for an accepted source.
struct IdentifyView {
  std::string analyzer, interface, fileDate, fileSize, comment, destination;
  uint32_t lineSpeed = 0;
  int64_t sizeBytes = 0;
  int32_t frames = 0;  // 0: the file states no count
  std::vector<std::string> targets;
};

IdentifyView ViewOf(const ConversionState& s, const CapabilitySets& caps) {
  IdentifyView f;
  f.analyzer = SourceDisplayName(s.SourceAnalyzer, s.SourceVariant, s.SourceCompressed);
  const Topology topology = s.TraceTopology;
  const TargetClass targetClass = TargetClassFor(topology, false, false);
  f.interface = TopologyName(topology);
  if (targetClass == TargetClass::Wan) f.interface += WanProtocolName(s.WanProtocol);
  f.fileDate = s.SourceFileDateText;
  f.sizeBytes = s.SourceFileSize;
  f.fileSize = FileSizeText(s.SourceFileSize);
  f.comment = s.FileComment;
  f.lineSpeed = s.LineSpeed;
  f.frames = s.SourceFrameCount;
  // The list as a first run shows it: the saved format defaults to Ostrawind.
  TargetList list = FillTargetList(caps, targetClass, topology, false, false, s.TargetAnalyzer);
  for (AnalyzerType type : list.offered) f.targets.push_back(AnalyzerName(type));
  if (list.selected != Analyzer::Unknown) {
    DestinationRequest d{s.SourceFileName, "", s.SourceAnalyzer, list.selected, topology, false,
                         false};
    f.destination = DefaultTargetName(d);
  }
  return f;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          // Comments come from the files: bytes outside ASCII are passed on
          // as Latin-1 code points so the output stays valid JSON.
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

void PrintText(std::FILE* out, const std::string& path, const IdentifyView& f) {
  std::fprintf(out, "File: %s\n", path.c_str());
  std::fprintf(out, "Analyzer: %s\n", f.analyzer.c_str());
  std::fprintf(out, "Interface: %s\n", f.interface.c_str());
  std::fprintf(out, "File Date: %s\n", f.fileDate.c_str());
  std::fprintf(out, "File Size: %s\n", f.fileSize.c_str());
  std::fprintf(out, "Comment: %s\n", f.comment.c_str());
  std::fprintf(out, "Line Speed: %u bits per second\n", f.lineSpeed);
  if (f.frames > 0) std::fprintf(out, "Frames: %d\n", f.frames);
  std::string targets;
  for (const std::string& name : f.targets) targets += (targets.empty() ? "" : "; ") + name;
  std::fprintf(out, "Targets: %s\n", targets.c_str());
  std::fprintf(out, "Destination: %s\n", f.destination.c_str());
}

void PrintJson(std::FILE* out, const std::string& path, const IdentifyView& f) {
  std::string targets;
  for (const std::string& name : f.targets) targets += (targets.empty() ? "" : ", ") + JsonString(name);
  std::string json = "{\"file\": " + JsonString(path) + ", \"accepted\": true" +
                     ", \"analyzer\": " + JsonString(f.analyzer) +
                     ", \"interface\": " + JsonString(f.interface) +
                     ", \"fileDate\": " + JsonString(f.fileDate) +
                     ", \"fileSize\": " + std::to_string(f.sizeBytes) +
                     ", \"comment\": " + JsonString(f.comment) +
                     ", \"lineSpeed\": " + std::to_string(f.lineSpeed);
  if (f.frames > 0) json += ", \"frames\": " + std::to_string(f.frames);
  json += ", \"targets\": [" + targets + "], \"destination\": " + JsonString(f.destination) + "}";
  std::fprintf(out, "%s\n", json.c_str());
}

void PrintRefusalJson(std::FILE* out, const std::string& path, const RecordingHost& host) {
  std::fprintf(out, "{\"file\": %s, \"accepted\": false, \"caption\": %s, \"message\": %s}\n",
               JsonString(path).c_str(), JsonString(host.caption).c_str(),
               JsonString(host.text).c_str());
}

}  // namespace

int RunIdentifyCommand(const std::vector<std::string>& args, std::FILE* out) {
  bool json = false;
  std::vector<std::string> files;
  for (const std::string& arg : args) {
    if (arg == "--json")
      json = true;
    else
      files.push_back(arg);
  }
  if (files.empty()) {
    std::fprintf(stderr, "Parameter Error: identify needs at least one file\n%s",
                 UsageText().c_str());
    return Exit::Usage;
  }
  const CapabilitySets caps = DefaultCapabilities();
  int status = Exit::Ok;
  bool first = true;
  for (const std::string& path : files) {
    auto state = std::make_unique<ConversionState>();
    RecordingHost recorder;
    ConsoleHost console(false);
    Host& host = json ? static_cast<Host&>(recorder) : static_cast<Host&>(console);
    SourceCheck check = CheckSource(*state, caps, path, host);
    if (!check.accepted) {
      status = Exit::SourceRefused;
      if (json) PrintRefusalJson(out, path, recorder);
      continue;
    }
    IdentifyView facts = ViewOf(*state, caps);
    if (json) {
      PrintJson(out, path, facts);
    } else {
      if (!first) std::fputc('\n', out);
      PrintText(out, path, facts);
    }
    first = false;
  }
  return status;
}

}  // namespace morph
