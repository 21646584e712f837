// The exit statuses and what each means, as --help shows them.
#include "cli/exit-statuses.h"

namespace {

struct ExitStatus {
  int code;
  const char* meaning;
};

const ExitStatus kExitStatuses[] = {
    {kExitOk,
     "No file failed: also when no music file was found, and when a name or a playlist is "
     "left as it is with its note (an entry already has that name, a name too long)."},
    {kExitSomeFailed, "A file could not be repaired, or for --undo restored, or a name could "
                      "not be changed."},
    {kExitUsage,
     "Bad usage, or a state folder that cannot be written (read-only, full, no permission; "
     "without --no-journal); for --undo, a word that is neither a run id nor a path a run "
     "changed files in. Nothing is touched."},
    {kExitAlreadyUndone,
     "--undo (or --undo PATH) found the last run already undone; no older run is undone in "
     "its place."},
    {kExitBusy, "Another run or undo is working on the same files; nothing is touched."},
    {kExitStopped, "Stopped by Ctrl-C or SIGTERM, after the file in hand."},
};

}  // namespace

std::string ExitStatusHelp() {
  constexpr std::size_t kColumn = 7, kWidth = 72;
  std::string text;
  for (const ExitStatus& status : kExitStatuses) {
    std::string line = "  " + std::to_string(status.code);
    line += std::string(kColumn - line.size(), ' ');
    const std::string meaning = status.meaning;
    std::size_t at = 0;
    while (at < meaning.size()) {
      std::size_t end = meaning.find(' ', at);
      if (end == std::string::npos)
        end = meaning.size();
      const std::string word = meaning.substr(at, end - at);
      if (line.size() > kColumn && line.size() + 1 + word.size() > kWidth) {
        text += line + "\n";
        line = std::string(kColumn, ' ');
      }
      line += (line.size() > kColumn ? " " : "") + word;
      at = end + 1;
    }
    text += line + "\n";
  }
  return text;
}

