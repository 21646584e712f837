// The run journals of the command line: listing the recorded runs and
// undoing one. Recording is the engine's (engine/commit/journal.h); the journals live
// in the user's state folder.
#pragma once

#include <atomic>
#include <string>

#include "cli/run-list.h"
#include "engine/engine.h"

// `--undo [RUN | PATH]`: names the run, then restores its files: the last
// run's when `target` is empty, else the run of that id or the last run that
// changed files at or below that path (cli/run-list.h). Files changed since the run, or that cannot be
// written, are left alone and reported; so are files deleted since. Once
// every file is restored or reported the run is marked undone (partly when
// some were left as they are), and it is not undone again by itself. With
// `json` the run, every file and the summary are objects.
//
// Returns 0 when every file is back (or was deleted since), and for a run
// named by its id already undone (nothing is restored again); 1 when some
// files were left as they are; 2 when there is no such run (a target that
// is neither a run's id nor a path it changed files in); 3 when the last run
// (over the path) was already undone (no older run is taken instead); 4
// when another run holds its files; 130 when stopped.
int UndoRun(const PathString& stateFolder, const PathString& target,
            const std::atomic<bool>* stop, bool json = false);
