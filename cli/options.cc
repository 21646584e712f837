#include "cli/options.h"

#include "cli/auto.h"
#include "cli/console.h"
#include "cli/exit-statuses.h"
#include "cli/json.h"
#include "cli/show.h"
#include "engine/text/codepage.h"

namespace {

// Set before the options are read when --json is among them: every message
// is then a JSON object too.
bool jsonMessages = false;

}  // namespace

void SetJsonMessages(bool json) {
  jsonMessages = json;
}

namespace {

// Options are ASCII; anything else can only be a path.
std::string Narrow(const PathString& argument) {
  std::string text;
  for (PathChar c : argument)
    text.push_back(static_cast<unsigned>(c) < 0x80 ? char(c) : '?');
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  }
  return text;
}

// "1251", "cp1251", "CP1251" and "windows-1251" all name code page 1251.
bool ParseCodePage(const std::string& text, unsigned* codePage) {
  std::string digits = Lower(text);
  for (const char* prefix : {"windows-", "cp"}) {
    const std::string p = prefix;
    if (digits.compare(0, p.size(), p) == 0) {
      digits.erase(0, p.size());
      break;
    }
  }
  if (digits.empty() || digits.size() > 5)
    return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + unsigned(c - '0');
  }
  if (!IsCodePageSupported(value))
    return false;
  *codePage = value;
  return true;
}

// Run ids are times with an optional counter: 20261208-141500, -2, ...
bool IsRunId(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789-") == std::string::npos &&
         text[0] != '-';
}

}  // namespace

int UsageError(const std::string& message) {
  WriteMessage(jsonMessages, "error", message + " (see songwright --help)");
  return kExitUsage;
}

std::string QuotedPath(const PathString& path) {
  return "'" + MessagePath(jsonMessages, path) + "'";
}

namespace {

// --- Options -----------------------------------------------------------------
// Every option is one row: its names, whether it takes a value, what it sets
// and its lines in --help. The parser and --help read this table; the tests
// check the man page and the shell completions against --help.

enum class Takes {
  kNothing,
  kValue,  // -c CP, -cCP, --codepage CP, --codepage=CP
  kRunId,  // --undo, --undo RUN (when RUN looks like a run id), --undo=RUN
};

struct OptionRule {
  char shortName;        // '\0' when there is none
  const char* longName;  // without the leading "--"
  Takes takes;
  const char* valueName;  // in --help: "CP"
  const char* help;       // lines of at most 52 characters
  // Returns the text of a usage error, or empty.
  // `value` is the argument as given (a folder may not be ASCII).
  std::string (*apply)(Options* options, const PathString& value);
};

// "Artist/Album=1250" or "Artist/Album=leave".
std::string AddAlbumCodePage(const PathString& value, Options* options) {
  AlbumCodePage named;
  std::string page;
  if (!SplitAlbumCodePage(value, &named.folder, &page))
    return "--album-codepage needs FOLDER=PAGE, not " + QuotedPath(value);
  if (Lower(page) == "leave") {
    named.codePage = kLeaveText;
  } else if (!ParseCodePage(page, &named.codePage)) {
    return "unknown code page '" + page + "'";
  }
  options->albumFoldersGiven.push_back(named.folder);
  options->albumCodePages.push_back(named);
  return std::string();
}

std::string SetFlag(bool* flag) {
  *flag = true;
  return std::string();
}

const OptionRule kOptionRules[] = {
    {'n', "dry-run", Takes::kNothing, "",
     "show what would be repaired, frame by frame, and\nwrite nothing",
     [](Options* o, const PathString&) { return SetFlag(&o->preview); }},
    {'c', "codepage", Takes::kValue, "CP",
     "the code page the text was written in, for\nevery file: 1251, cp1251 or windows-1251 for\n"
     "example. Supported: 874, 1250-1258, 932, 936,\n949, 950. \"auto\", the default, decides "
     "one\npage per album",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       if (Lower(value) == "auto") {
         o->codePage = 0;
         o->automatic = true;
         return std::string();
       }
       if (!ParseCodePage(value, &o->codePage))
         return "unknown code page '" + value + "'";
       o->automatic = false;
       return std::string();
     }},
    {'\0', "album-codepage", Takes::kValue, "FOLDER=PAGE",
     "the page for the files directly in FOLDER\n(below the folder repaired, or absolute) "
     "in\nthe automatic mode; PAGE \"leave\" leaves them as\nthey are. May be repeated; "
     "not with -c PAGE",
     [](Options* o, const PathString& value) { return AddAlbumCodePage(value, o); }},
    {'\0', "id3v2-version", Takes::kValue, "N",
     "write repaired tags as ID3v2.4 (4, the default)\nor as ID3v2.3 with UTF-16 text (3), "
     "which older\ndevices and car stereos read",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       if (value == "3" || value == "2.3") {
         o->id3v2Version = 3;
       } else if (value == "4" || value == "2.4") {
         o->id3v2Version = 4;
       } else {
         return "--id3v2-version takes 3 or 4, not '" + value + "'";
       }
       return std::string();
     }},
    {'j', "jobs", Takes::kValue, "N",
     "files read at once in a real run (default: one\nper processor); with 2 or more they are "
     "read\n"
     "while a batch of saves is made durable",
     [](Options* o, const PathString& raw) {
       const std::string value = Narrow(raw);
       unsigned jobs = 0;
       for (char c : value) {
         if (c < '0' || c > '9' || jobs > 1000) {
           jobs = 0;
           break;
         }
         jobs = jobs * 10 + unsigned(c - '0');
       }
       if (jobs < 1 || jobs > 1024)
         return "--jobs takes a number from 1 to 1024, not '" + value + "'";
       o->jobs = jobs;
       return std::string();
     }},
    {'q', "quiet", Takes::kNothing, "", "print only failed files and the summary",
     [](Options* o, const PathString&) { return SetFlag(&o->quiet); }},
    {'v', "verbose", Takes::kNothing, "",
     "also list the files that need nothing, and say\nwhich code page and tag version "
     "the run uses",
     [](Options* o, const PathString&) { return SetFlag(&o->verbose); }},
    {'\0', "json", Takes::kNothing, "",
     "print one JSON object per line instead of text,\nin every mode",
     [](Options* o, const PathString&) { return SetFlag(&o->json); }},
    {'\0', "undo", Takes::kRunId, "[RUN|PATH]",
     "put back every file of the last run (of run\nRUN, or the last run that changed files in "
     "PATH)\nbyte for byte; files changed since that run are\nleft alone",
     [](Options* o, const PathString& value) {
       o->undoTarget = value;
       return SetFlag(&o->undo);
     }},
    {'\0', "list-runs", Takes::kNothing, "[PATH]",
     "show the recorded runs (over PATH): id, time,\nfile count, paths, state",
     [](Options* o, const PathString&) { return SetFlag(&o->listRuns); }},
    {'\0', "suggest", Takes::kNothing, "",
     "rank the code pages the tags may be written in,\nfrom the text itself; writes nothing",
     [](Options* o, const PathString&) { return SetFlag(&o->suggest); }},
    {'\0', "rename", Takes::kNothing, "",
     "also repair the names of the files and folders\nbelow the paths (legacy bytes, UTF-8 "
     "encoded\ntwice); never replaces an existing name",
     [](Options* o, const PathString&) { return SetFlag(&o->rename); }},
    {'\0', "no-journal", Takes::kNothing, "", "do not record this run (it cannot be undone\nthen)",
     [](Options* o, const PathString&) {
       o->journal = false;
       return std::string();
     }},
    {'h', "help", Takes::kNothing, "", "show this text",
     [](Options* o, const PathString&) { return SetFlag(&o->help); }},
    {'V', "version", Takes::kNothing, "", "show the version",
     [](Options* o, const PathString&) { return SetFlag(&o->version); }},
};

const OptionRule* FindLong(const std::string& name) {
  for (const OptionRule& rule : kOptionRules) {
    if (name == rule.longName)
      return &rule;
  }
  return nullptr;
}

const OptionRule* FindShort(char name) {
  for (const OptionRule& rule : kOptionRules) {
    if (rule.shortName != '\0' && name == rule.shortName)
      return &rule;
  }
  return nullptr;
}

std::string OptionHelp() {
  constexpr size_t kColumn = 26;
  std::string text;
  for (const OptionRule& rule : kOptionRules) {
    std::string names = rule.shortName ? std::string("  -") + rule.shortName + ", " : "      ";
    names += std::string("--") + rule.longName;
    if (*rule.valueName)
      names += std::string(" ") + rule.valueName;
    names += names.size() + 2 <= kColumn ? std::string(kColumn - names.size(), ' ')
                                         : "\n" + std::string(kColumn, ' ');
    std::string help = rule.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, kColumn, ' ');
    text += names + help + "\n";
  }
  return text;
}

// --undo and --list-runs take one word, wherever it stands: a run id or a
// path (--list-runs: a path).
std::string TakeRunTarget(Options* options) {
  const std::string option = options->listRuns ? "--list-runs" : "--undo";
  const std::size_t given = options->paths.size() + (options->undoTarget.empty() ? 0 : 1);
  if (given > 1)
    return option + (options->listRuns ? " takes one PATH" : " takes one RUN or PATH");
  if (!options->paths.empty())
    options->undoTarget = options->paths.front();
  options->paths.clear();
  return std::string();
}

}  // namespace

// GNU style: long options with "=VALUE" or the next argument as value,
// clusters of short options ("-nq", "-c1251", "-c 1251"), "--" to end the
// options, and options and paths in any order. Returns false with the exit
// status when the arguments end the run before it starts.
bool ParseOptions(const std::vector<PathString>& arguments, Options* options, int* status) {
  bool optionsEnded = false;
  std::string error;
  for (size_t i = 0; i < arguments.size() && error.empty(); ++i) {
    const std::string text = Narrow(arguments[i]);
    if (optionsEnded || text.size() < 2 || text[0] != '-') {
      options->paths.push_back(arguments[i]);
      continue;
    }
    if (text == "--") {
      optionsEnded = true;
      continue;
    }
    const bool hasNext = i + 1 < arguments.size();
    if (text[1] == '-') {
      const size_t equals = text.find('=');
      const std::string name = text.substr(2, equals == std::string::npos ? equals : equals - 2);
      const OptionRule* rule = FindLong(name);
      if (!rule) {
        error = "unknown option " + QuotedPath(arguments[i]);
        break;
      }
      PathString value;
      if (equals != std::string::npos) {
        if (rule->takes == Takes::kNothing) {
          error = "--" + name + " takes no value";
          break;
        }
        value = arguments[i].substr(equals + 1);
      } else if (rule->takes == Takes::kValue) {
        if (!hasNext) {
          error = "--" + name + " needs a value (" + rule->valueName + ")";
          break;
        }
        value = arguments[++i];
      } else if (rule->takes == Takes::kRunId && hasNext && IsRunId(Narrow(arguments[i + 1]))) {
        value = arguments[++i];
      }
      error = rule->apply(options, value);
      continue;
    }
    for (size_t at = 1; at < text.size() && error.empty(); ++at) {
      const OptionRule* rule = FindShort(text[at]);
      if (!rule) {
        error = "unknown option '-" + std::string(1, text[at]) + "'";
        break;
      }
      PathString value;
      if (rule->takes == Takes::kValue) {
        if (at + 1 < text.size()) {
          value = arguments[i].substr(at + 1);
        } else if (i + 1 < arguments.size()) {
          value = arguments[++i];
        } else {
          error =
              "-" + std::string(1, rule->shortName) + " needs a value (" + rule->valueName + ")";
          break;
        }
        at = text.size();
      }
      error = rule->apply(options, value);
    }
  }
  if (error.empty() && (options->undo || options->listRuns))
    error = TakeRunTarget(options);
  if (error.empty() && options->quiet && options->verbose)
    error = "--quiet and --verbose exclude each other";
  if (error.empty() && !options->albumCodePages.empty() && !options->automatic)
    error = "--album-codepage names pages per album in the automatic mode, not with -c " +
            std::to_string(options->codePage);
  if (!error.empty()) {
    *status = UsageError(error);
    return false;
  }
  return true;
}

void PrintHelp() {
  std::string text =
      "Usage: songwright [OPTIONS] [PATH...]\n"
      "\n"
      "Repairs the song titles, artists, albums and other text of music files\n"
      "(MP3, FLAC, Ogg Vorbis, Opus, WAV, AIFF, MP4/M4A, WMA, APE, WavPack), and\n"
      "of playlists and cue sheets, whose text was written in a legacy code page\n"
      "but stored wrongly. In MP3 files ID3v1 fields are copied into empty ID3v2\n"
      "fields and Latin-1 ID3v2 text is re-decoded and stored as UTF-16; other\n"
      "formats keep their own encoding. Only the files that changed are saved.\n"
      "\n"
      "Without -c a run decides the code page per album (--codepage auto): the\n"
      "text of each folder's files chooses its page, and an album that reads as\n"
      "Western text already, or is too short to judge, is left as it is. -c PAGE\n"
      "takes one page for every file.\n"
      "\n"
      "Each PATH is a folder, walked for music files, playlists and cue sheets,\n"
      "or a file, taken as it is. Without one the run takes your music folder";
  const PathString music = DefaultMusicFolder();
  text += music.empty() ? std::string(" (none found here)") : " (" + ShowPath(music) + ")";
  text += ".\n\nOptions:\n" + OptionHelp();
  text +=
      "\nThis run decides the code page per album unless -c names a page.\n"
      "\n"
      "Output: one line per fixed file (\"fixed\", a tab, the path) and per failed\n"
      "file (\"failed\", a tab, the path, a tab, the reason), then a summary line.\n"
      "Paths are shown below the folder when one folder is given, else as found.\n"
      "In names and tag text a backslash shows as \\\\, a tab, line feed and\n"
      "carriage return as \\t, \\n and \\r, other control characters as \\xNN\n"
      "(\\x1b for ESC; \\u0080 to \\u009f for C1 controls) and each byte that is\n"
      "not UTF-8 as \\xNN. With --json every line, on standard error too, is one\n"
      "JSON object. Ctrl-C stops after the file in hand.\n"
      "\n"
      "Exit status:\n" +
      ExitStatusHelp();
  WriteOut(text);
}

// --json among the options (before any "--"): messages, usage errors too,
// are JSON objects then.
bool AsksForJson(const std::vector<PathString>& arguments) {
  for (const PathString& argument : arguments) {
    const std::string text = Narrow(argument);
    if (text == "--")
      return false;
    if (text == "--json")
      return true;
  }
  return false;
}
