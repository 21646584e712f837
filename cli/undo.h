// The run journals of the command line: listing the recorded runs and
// undoing one. Recording is the engine's (engine/journal.h); the journals live
// in the user's state folder.
#pragma once

#include <atomic>
#include <string>

#include "engine/engine.h"

// `--list-runs`: the runs with their id, time, folder, the number of files
// each changed and its state (done, undone, partly undone); with `json` one
// object per run.
int ListRuns(const PathString& stateFolder, bool json = false);

// `--undo [RUN]`: names the run, then restores its files (the last run's
// when `run` is empty). Files changed since the run, or that cannot be
// written, are left alone and reported; so are files deleted since. Once
// every file is restored or reported the run is marked undone (partly when
// some were left as they are), and it is not undone again by itself. With
// `json` the run, every file and the summary are objects.
//
// Returns 0 when every file is back (or was deleted since), and for a named
// run already undone (nothing is restored again); 1 when some files were
// left as they are; 2 when there is no such run; 3 when the last run was
// already undone (no older run is taken instead); 130 when stopped.
int UndoRun(const PathString& stateFolder, const std::string& run, const std::atomic<bool>* stop,
            bool json = false);
