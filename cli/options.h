// The command line's options: what each sets, the parser, --help, and the
// usage errors (a line of text, or a JSON object with --json).
#pragma once

#include <string>
#include <vector>

#include "cli/exit-statuses.h"
#include "engine/text/album.h"
#include "engine/platform/platform.h"



struct Options {
  bool help = false;
  bool version = false;
  bool preview = false;
  bool quiet = false;
  bool verbose = false;
  bool json = false;
  bool journal = true;
  bool listRuns = false;
  bool suggest = false;
  bool undo = false;
  bool rename = false;  // also repair the names of files and folders
  // --undo RUN | PATH, --undo=RUN: the run's id or a path; empty: the last
  // run. --list-runs PATH: the path.
  PathString undoTarget;
  unsigned codePage = 0;      // 0: automatic, one page per album
  unsigned id3v2Version = 4;  // the version a saved tag is written in
  unsigned jobs = 0;          // 0: one per processor
  std::vector<PathString> paths;

  // Automatic mode (--codepage auto, the default unless -c names a page),
  // and the pages named per album (folders as given until the run resolves
  // them; `albumFoldersGiven` keeps them as given, for messages).
  bool automatic = true;
  std::vector<AlbumCodePage> albumCodePages;
  std::vector<PathString> albumFoldersGiven;
};

// Reads the arguments (without the program name) into `options`. Returns
// false with the exit status when they end the run before it starts (a
// usage error, said on stderr).
bool ParseOptions(const std::vector<PathString>& arguments, Options* options, int* status);

// --json among the arguments (before any "--"): messages are JSON objects
// then, usage errors too.
bool AsksForJson(const std::vector<PathString>& arguments);
void SetJsonMessages(bool json);

// Says `message` on stderr as a usage error; returns kExitUsage.
int UsageError(const std::string& message);
// 'path', shown as messages show it (escaped in text, as it is in JSON).
std::string QuotedPath(const PathString& path);

// --help: the options and what a run does.
void PrintHelp();
