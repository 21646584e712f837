// The run journals of the command line: listing the recorded runs and
// undoing one. Recording is the engine's (engine/journal.h); the journals live
// in the user's state folder.
#pragma once

#include <atomic>
#include <string>

#include "engine/engine.h"

// `--list-runs`: the runs with their id, time, folder and file count; with
// `json` one object per run.
int ListRuns(const PathString& stateFolder, bool json = false);

// `--undo [RUN]`: restores the files of the run (the last one not yet undone
// when `run` is empty). Files changed since the run are left alone. With
// `json` every file and the summary are objects.
int UndoRun(const PathString& stateFolder, const std::string& run, const std::atomic<bool>* stop,
            bool json = false);
