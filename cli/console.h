// What the command line needs of its platform beyond the engine's layer:
// the console, the default folder, folder tests and Ctrl-C.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/platform/platform.h"

// Writes UTF-8 text to standard output or standard error as it is, unbuffered
// with respect to each other.
void WriteOut(const std::string& text);
void WriteErr(const std::string& text);
void FlushOut();

// True when standard error is a terminal, where progress is drawn.
bool ErrIsTerminal();

// The folder a run uses when none is given: the user's music folder. Empty
// when there is none to propose.
PathString DefaultMusicFolder();

// Where the command line keeps its run journals: XDG_STATE_HOME (else
// ~/.local/state) /songwright, or %LOCALAPPDATA%\Songwright. Empty when
// there is no such place.
PathString StateFolder();

// True when `path` names an existing folder, or an existing regular file
// (links followed).
bool IsExistingFolder(const PathString& path);
bool IsExistingFile(const PathString& path);

// From now on Ctrl-C (and SIGTERM) only set the returned flag, which lives as
// long as the process; the run ends after the file in hand.
const std::atomic<bool>* InstallStopHandler();

// The whole command line: arguments without the program name. Returns the
// exit status.
int RunSongwright(const std::vector<PathString>& arguments);
