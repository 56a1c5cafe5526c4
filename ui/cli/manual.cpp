// The texts that describe the command line: usage, each command's help, the
// bash completion and the manual page, all from the option table.
#include <algorithm>
#include <cctype>

#include "engine/catalogue.h"
#include "ui/cli/command_line.h"
#include "ui/cli/options.h"

namespace morph {
namespace {

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


// A value of fixed words ("big|little") is completed with them.
bool IsWordChoice(const std::string& value) {
  return value.find('|') != std::string::npos &&
         std::all_of(value.begin(), value.end(), [](char c) { return std::islower(c) || c == '|'; });
}


// "  --to CODE|NAME                  target format: ..." for each option of the command.
std::string OptionLines(const std::string& header, Command command) {
  std::string text = header;
  for (const OptionRow* o : OptionsOf(command)) {
    std::string left = std::string("  ") + o->names + (o->takesValue() ? std::string(" ") + o->value : "");
    if (left.size() < 34) left.resize(34, ' ');
    else left += "\n" + std::string(34, ' ');
    text += left + o->helpFor(command) + "\n";
  }
  return text;
}

// The options a synopsis lists as optional: all but the target and help.
bool InSynopsis(const OptionRow& o) { return o.option != Option::To && o.option != Option::Help; }

// "[-o FILE|DIR|-] [-n] ..." wrapped to the usage text's width.
std::string OptionSynopsis(Command command, const std::string& indent, size_t firstColumn) {
  std::string text;
  size_t column = firstColumn;
  for (const OptionRow* o : OptionsOf(command)) {
    if (!InSynopsis(*o)) continue;
    const std::string item = "[" + Spelled(o->option) + "]";
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

std::string ManualOptions(Command command) {
  std::string text;
  for (const OptionRow* o : OptionsOf(command)) {
    std::string names;
    for (const std::string& name : NamesOf(*o))
      names += (names.empty() ? "" : ", ") + std::string("\\fB") + Roff(name) + "\\fR";
    if (o->takesValue()) names += " \\fI" + Roff(o->value) + "\\fR";
    text += ".TP\n" + names + "\n" + Capitalised(Roff(o->helpFor(command))) + ".\n";
  }
  return text;
}

// ".RB [ \"\-\-range \fILIST\fR\" ]" for each optional option of the command.
std::string ManualSynopsisOptions(Command command) {
  std::string text;
  for (const OptionRow* o : OptionsOf(command)) {
    if (!InSynopsis(*o)) continue;
    const std::string name = NamesOf(*o).front();
    if (command != Command::Convert) {
      text += ".RB [ " + Roff(name) + " ]\n";
      continue;
    }
    text += ".RB [ \"" + Roff(name) + (o->takesValue() ? " \\fI" + Roff(o->value) + "\\fR" : "") +
            "\" ]\n";
  }
  return text;
}

// ".B \-\-to\n.IR CODE | NAME\n": an option the synopsis requires, with its value.
std::string ManualRequired(Option option, const std::string& value) {
  std::string words;
  for (char c : value) words += c == '|' ? std::string(" | ") : std::string(1, c);
  return ".B " + Roff(NamesOf(RowOf(option)).front()) + "\n" +
         (words == value ? ".I " : ".IR ") + words + "\n";
}

std::string ManualSynopsis() {
  const std::string to = ManualRequired(Option::To, RowOf(Option::To).value);
  return ".SH SYNOPSIS\n"
         ".B morphalite\n.RI [ SOURCE ]\n.br\n"
         ".B morphalite\n.I SOURCE CODE\n.RB [ /NS ]\n.br\n"
         ".B morphalite convert\n.IR SOURCE ...\n" + to +
         ManualSynopsisOptions(Command::Convert) + ".br\n"
         ".B morphalite identify\n" + ManualSynopsisOptions(Command::Identify) +
         ".IR FILE ...\n.br\n"
         ".B morphalite merge\n.IR SOURCE ...\n" + to + ManualRequired(Option::Output, "TARGET") +
         ".RI [ \"convert options\" ]\n.br\n"
         ".B morphalite info\n" + ManualSynopsisOptions(Command::Info) + ".IR FILE ...\n.br\n"
         ".B morphalite help\n.RB [ convert | merge | identify | info ]\n.br\n"
         ".B morphalite\n.BR \\-\\-help \" | \" \\-\\-version \" | \" \\-\\-formats \" | \" \\-\\-man\n"
         ".br\n.B morphalite \\-\\-completion bash\n";
}

std::string ManualDescription() {
  return ".SH DESCRIPTION\n"
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
         "what\n.B identify\nsays of it.\n";
}

std::string ManualCommands() {
  return ".SH COMMANDS\n"
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
         ".TP\n.B \\-\\-version\nPrints the version.\n";
}

// What the options of convert do together: the notes after their list.
std::string ManualConvertNotes() {
  return ".TP\n.B \\-\\-\n"
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
         "interfacesNotStored.\n";
}

// What --salvage passes over and how the frame edits choose frames.
std::string ManualSalvageAndEdits() {
  return ".PP\n"
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
         "step without frames gives no file.\n";
}

std::string ManualClosing() {
  return ".SH FILES\n"
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

// The words that complete an option of the command, one word each.
std::string CompletionWords(Command command) {
  std::string words;
  for (const OptionRow* o : OptionsOf(command))
    for (const std::string& name : NamesOf(*o)) words += " " + name;
  return words;
}

// "--pcap-order) COMPREPLY=(...)": the values of fixed words, completed with them.
std::string CompletionChoices() {
  std::string choices;
  for (const OptionRow* o : OptionsOf(Command::Convert)) {
    if (!IsWordChoice(o->value)) continue;
    std::string words = o->value;
    std::replace(words.begin(), words.end(), '|', ' ');
    std::string patterns;
    for (const std::string& name : NamesOf(*o)) patterns += (patterns.empty() ? "" : "|") + name;
    choices += "    " + patterns + ") COMPREPLY=($(compgen -P \"$prefix\" -W '" + words +
               "' -- \"$cur\")); return ;;\n";
  }
  return choices;
}

// Every code and friendly name --to takes.
std::string TargetWords() {
  std::string codes;
  for (int type = 0; type < Analyzer::Count; ++type) {
    const AnalyzerInfo& info = Analyzers(AnalyzerType(type));
    if (!HasWriter(info.type)) continue;
    if (info.code && *info.code) codes += std::string(codes.empty() ? "" : " ") + info.code;
    for (const std::string& name : FriendlyNames(info.type)) codes += " " + name;
  }
  return codes;
}

std::vector<std::string> OptionNames(Command command) {
  std::vector<std::string> names;
  for (const OptionRow* o : OptionsOf(command))
    for (const std::string& name : NamesOf(*o)) names.push_back(name);
  return names;
}

}  // namespace

std::string ConvertHelpText() {
  std::string text = OptionLines(
      "Usage: morphalite convert [OPTION]... SOURCE... --to CODE\n"
      "Converts each SOURCE (- reads standard input) into the target format. Each target\n"
      "is written to a temporary file in its folder and replaces an existing file only\n"
      "when it holds frames. -- ends the options.\n\n",
      Command::Convert);
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
      Command::Identify);
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
      Command::Info);
}

std::vector<std::string> ConvertOptionNames() { return OptionNames(Command::Convert); }
std::vector<std::string> IdentifyOptionNames() { return OptionNames(Command::Identify); }
std::vector<std::string> InfoOptionNames() { return OptionNames(Command::Info); }

std::string BashCompletion() {
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
         "    " + NamesOf(RowOf(Option::To)).front() +
         ") COMPREPLY=($(compgen -P \"$prefix\" -W '" + TargetWords() + "' -- \"$cur\")); return ;;\n" +
         CompletionChoices() +
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    if [ \"${COMP_WORDS[1]}\" = identify ]; then\n"
         "      COMPREPLY=($(compgen -W '" + CompletionWords(Command::Identify) + "' -- \"$cur\"))\n"
         "    elif [ \"${COMP_WORDS[1]}\" = info ]; then\n"
         "      COMPREPLY=($(compgen -W '" + CompletionWords(Command::Info) + "' -- \"$cur\"))\n"
         "    else\n"
         "      COMPREPLY=($(compgen -W '" + CompletionWords(Command::Convert) + "' -- \"$cur\"))\n"
         "    fi\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -F _morphalite morphalite\n";
}

std::string UsageText() {
  std::string identify = OptionSynopsis(Command::Identify, "", 0);
  std::string info = OptionSynopsis(Command::Info, "", 0);
  return "Usage:\n"
         "  morphalite SOURCE CODE [" + std::string(kUnattended) +
         "]      convert SOURCE beside itself (codes: TD, PN, SN, XR, ...)\n"
         "  morphalite convert SOURCE... " + Spelled(Option::To) +
         OptionSynopsis(Command::Convert, "             ", 45) + " [--]\n" +
         "  morphalite merge SOURCE... " + Spelled(Option::To) + " " +
         NamesOf(RowOf(Option::Output)).front() + " TARGET [convert's options]\n"
         "  morphalite identify" + identify + " FILE...\n"
         "  morphalite info" + info + " FILE...\n"
         "  morphalite help [convert|merge|identify|info] | --help | --version | --formats\n"
         "  morphalite --completion bash | --man\n";
}

std::string ManualPage() {
  std::string statuses;
  for (const ExitText& e : kExitStatuses)
    statuses += ".TP\n.B " + std::to_string(e.status) + "\n" + Roff(e.meaning) + "\n";
  return ".\\\" Manual page of morphalite, written by `morphalite --man` from the option\n"
         ".\\\" table of ui/cli/options.cpp: change it, then regenerate this file.\n"
         ".TH MORPHALITE 1 \"2026\" \"Morphalite " MORPHALITE_VERSION_MAJOR_MINOR
         "\" \"User Commands\"\n"
         ".SH NAME\n"
         "morphalite \\- convert network-analyzer trace files between formats\n" +
         ManualSynopsis() + ManualDescription() + ManualCommands() +
         ".SH CONVERT OPTIONS\n" + ManualOptions(Command::Convert) + ManualConvertNotes() +
         ManualSalvageAndEdits() +
         ".SH IDENTIFY OPTIONS\n" + ManualOptions(Command::Identify) +
         ".PP\n"
         "The frame lengths\n.B \\-\\-frames\n"
         "reports are wire lengths, with the 4-byte FCS on Ethernet.\n"
         ".SH INFO OPTIONS\n" + ManualOptions(Command::Info) +
         ".SH EXIT STATUS\n" + statuses + ".PP\n" + Capitalised(Roff(kBatchStatus)) + ".\n" +
         ManualClosing();
}

}  // namespace morph
