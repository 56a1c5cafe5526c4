// convert's options (merge takes them too): each value checked and applied
// to the request, then the combinations checked.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

#include "engine/catalogue.h"
#include "engine/failure.h"
#include "engine/frame_filter.h"
#include "engine/timebase.h"
#include "formats/registry.h"
#include "ui/cli/command_line.h"
#include "ui/cli/options.h"

namespace morph {
namespace {

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

// A whole decimal number from `lowest` to `highest`, or nothing.
std::optional<long> Number(const std::string& text, long lowest, long highest) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < lowest || n > highest) return std::nullopt;
  return n;
}

// The name of an option as its messages spell it.
std::string NameOf(Option option) { return NamesOf(RowOf(option)).back(); }

// Options of what is converted to what and where. Each Apply... returns the
// error text, empty when the value was taken; `handled` tells whether the
// option was one of its group.
std::string ApplyTargetOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  JobRequest& o = out.options;
  const std::string& v = given.value;
  switch (given.option) {
    case Option::To:
      out.target = AnalyzerFromCodeOrName(v);
      return out.target ? "" : UnknownTarget(v);
    case Option::Output: out.output = v; return "";
    case Option::NoClobber: o.noClobber = true; return "";
    case Option::From:
      o.sourceType = AnalyzerFromCodeOrName(v);
      if (o.sourceType && HasReader(*o.sourceType)) return "";
      return NameOf(Option::From) + " " + v +
             ": not a format this program reads (morphalite --formats lists them)";
    case Option::SourceTz:
    case Option::TargetTz: {
      auto zone = LoadTimeZone(v);
      if (!zone) return given.name + ": unknown time zone " + v;
      (given.option == Option::SourceTz ? o.sourceZone : o.targetZone) = std::move(zone);
      return "";
    }
    case Option::SourceDate:
      if ((o.sourceDate = ParseGivenDate(v))) return "";
      return NameOf(Option::SourceDate) +
             " takes an ISO 8601 date or date-time, e.g. 2023-05-04 or 2023-05-04T10:20:30Z";
    default: handled = false; return "";
  }
}

// Options that choose frames and change their times.
std::string ApplyEditOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  JobRequest& o = out.options;
  const std::string& v = given.value;
  switch (given.option) {
    case Option::Range: {
      const auto ranges = ParseFrameRanges(v);
      if (!ranges)
        return NameOf(Option::Range) + " takes A-B, A-, -B, N or a list of them such as 1,5,9-12";
      o.selection.ranges.insert(o.selection.ranges.end(), ranges->begin(), ranges->end());
      return "";
    }
    case Option::After:
    case Option::Before:
    case Option::StartTime: {
      const auto when = ParseUtcTime(v);
      if (!when)
        return given.name + " takes an ISO 8601 time with its zone (2023-11-14T22:13:20.5Z, "
                            "2023-11-14 23:13:20+01:00) or seconds since 1970";
      (given.option == Option::After    ? o.selection.after
       : given.option == Option::Before ? o.selection.before
                                        : o.selection.startTime) = *when;
      return "";
    }
    case Option::TimeShift: {
      const auto shift = ParseSecondsAsNanoseconds(v);
      if (!shift)
        return NameOf(Option::TimeShift) + " takes seconds such as 3600, -0.5 or 0.000000001, at most " +
               Grouped(kLargestTimeShiftSeconds);
      o.selection.timeShift = *shift;
      return "";
    }
    case Option::Dedup: o.selection.dropDuplicates = true; return "";
    case Option::Interface: {
      const auto n = Number(v, 0, INT32_MAX);
      if (!n)
        return NameOf(Option::Interface) +
               " takes an interface number from 0, as identify lists them";
      o.interfaceNumber = int32_t(*n);
      return "";
    }
    default: handled = false; return "";
  }
}

// Options that split the target into several files.
std::string ApplySplitOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  JobRequest& o = out.options;
  switch (given.option) {
    case Option::SplitFrames: {
      const auto n = Number(given.value, 1, INT32_MAX);
      if (!n) return NameOf(Option::SplitFrames) + " takes a number of frames from 1";
      o.splitFrames = int32_t(*n);
      return "";
    }
    case Option::SplitSeconds: {
      const auto span = ParseSecondsAsNanoseconds(given.value);
      if (!span || *span < 1000)
        return NameOf(Option::SplitSeconds) + " takes seconds from 0.000001, such as 60 or 0.5";
      o.splitMicroseconds = *span / 1000;
      return "";
    }
    case Option::SplitAtLimits: o.splitAtLimits = true; return "";
    case Option::SplitInterfaces: o.splitInterfaces = true; return "";
    default: handled = false; return "";
  }
}

// "--pcap-order takes big or little": the words of the table's value ("big|little").
std::string ChoiceError(Option option) {
  const std::string words = RowOf(option).value;
  std::string text;
  for (size_t start = 0;;) {
    const size_t bar = words.find('|', start);
    const std::string word = words.substr(start, bar == std::string::npos ? bar : bar - start);
    if (bar == std::string::npos) return NameOf(option) + " takes " + text + " or " + word;
    text += (start ? ", " : "") + word;
    start = bar + 1;
  }
}

// Options of how a target format stores frames.
std::string ApplyLayoutOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  JobRequest& o = out.options;
  const std::string& v = given.value;
  switch (given.option) {
    case Option::Slice: {
      const auto n = Number(v, INT32_MIN, INT32_MAX);
      if (!n)
        return NameOf(Option::Slice) + " takes a length from " + std::to_string(kSmallestSlice) +
               " to " + std::to_string(kLargestSlice);
      o.sliceFrames = true;
      o.sliceLength = int32_t(*n);
      return "";
    }
    case Option::ToEthernet: o.convertToEthernet = true; return "";
    case Option::ToWireless: o.convertToWireless = true; return "";
    case Option::NoPad: o.noPad = true; return "";
    case Option::PcapOrder:
      if (v != "big" && v != "little") return ChoiceError(given.option);
      o.formatOptions.get<PcapOutputChoice>().bigEndian = v == "big";
      return "";
    case Option::PcapVariant:
      if (v != "standard" && v != "modified") return ChoiceError(given.option);
      o.formatOptions.get<PcapOutputChoice>().modified = v == "modified";
      return "";
    case Option::PcapResolution:
      if (v != "us" && v != "ns") return ChoiceError(given.option);
      o.formatOptions.get<PcapOutputChoice>().nanoseconds = v == "ns";
      return "";
    case Option::ObserverLayout:
      if (v != "4" && v != "15") return ChoiceError(given.option);
      o.targetLayout = v == "15" ? 15 : 0;
      return "";
    default: handled = false; return "";
  }
}

// Options of text targets.
std::string ApplyTextOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  TextDumpOptions& text = out.options.formatOptions.get<TextDumpOptions>();
  using Delimiter = TextDumpOptions::Delimiter;
  const std::string& v = given.value;
  switch (given.option) {
    case Option::AsciiFields:
      if (ParseTextFields(v, text)) return "";
      return NameOf(Option::AsciiFields) + " takes a list of number,length,date,usecs,hex,ascii";
    case Option::AsciiDelimiter:
      if (v == "tab") text.delimiter = Delimiter::Tab;
      else if (v == "comma") text.delimiter = Delimiter::Comma;
      else if (v == "fixed") text.delimiter = Delimiter::Fixed;
      else return ChoiceError(given.option);
      return "";
    case Option::AsciiNoHeader: text.descriptiveHeader = false; return "";
    case Option::AsciiNoFieldHeaders: text.fieldHeaders = false; return "";
    default: handled = false; return "";
  }
}

// Options of the run itself rather than of a conversion.
std::string ApplyRunOption(const GivenOption& given, ConvertArgs& out, bool& handled) {
  switch (given.option) {
    case Option::Jobs: {
      const auto n = Number(given.value, 0, kMostJobs);
      if (!n)
        return NameOf(Option::Jobs) + " takes a number from 0 (one per core) to " +
               std::to_string(kMostJobs);
      out.jobs = unsigned(*n);
      return "";
    }
    case Option::Salvage: out.options.salvage = true; return "";
    case Option::Strict: out.options.strict = true; return "";
    case Option::Json: out.json = true; return "";
    case Option::Quiet: out.quiet = true; return "";
    case Option::Help: out.help = true; return "";
    default: handled = false; return "";
  }
}

std::string Apply(const GivenOption& given, ConvertArgs& out) {
  using Group = std::string (*)(const GivenOption&, ConvertArgs&, bool&);
  for (Group group : {ApplyTargetOption, ApplyEditOption, ApplySplitOption, ApplyLayoutOption,
                      ApplyTextOption, ApplyRunOption}) {
    bool handled = true;
    std::string error = group(given, out, handled);
    if (handled) return error;
  }
  return "";  // the table gives convert no other option
}

// Options that cannot go together, and what the request as a whole lacks.
std::string CombinationProblem(const std::string& command, const ConvertArgs& out) {
  const JobRequest& o = out.options;
  auto both = [](Option a, Option b) {
    return NameOf(a) + " and " + NameOf(b) + " exclude each other";
  };
  if (out.sources.empty()) return command + " needs at least one source";
  if (!out.target) return command + " needs " + NameOf(Option::To) + " CODE";
  if (o.convertToEthernet && o.convertToWireless) return both(Option::ToEthernet, Option::ToWireless);
  if (o.interfaceNumber && o.splitInterfaces) return both(Option::Interface, Option::SplitInterfaces);
  if (o.selection.timeShift != 0 && o.selection.startTime)
    return both(Option::TimeShift, Option::StartTime);
  return OptionsProblem(o);
}

}  // namespace

std::string ParseConversionOptions(const std::vector<std::string>& args, ConvertArgs& out) {
  CommandLine line;
  // Told in the order given: an option's error before a later one's.
  const std::string splitError = SplitCommandLine(std::span(args).subspan(1), Command::Convert, line);
  for (const GivenOption& given : line.options)
    if (std::string error = Apply(given, out); !error.empty()) return error;
  if (!splitError.empty()) return splitError;
  out.sources = std::move(line.operands);
  if (out.help) return "";
  return CombinationProblem(args[0], out);
}

}  // namespace morph
