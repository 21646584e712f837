// The exit statuses of the command line. kExitStatuses (exit-statuses.cc)
// says what each means; --help prints it, and the man page (EXIT STATUS)
// and docs/command-line.md list the same words.
#pragma once

#include <string>

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAlreadyUndone = 3;
// Another run (or undo) is working on the same files.
constexpr int kExitBusy = 4;
constexpr int kExitStopped = 130;

// The table for --help: "  2    Bad usage, ...", each meaning wrapped at
// 72 columns below its code.
std::string ExitStatusHelp();
