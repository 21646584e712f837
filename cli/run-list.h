// The recorded runs as the command line shows them: `--list-runs [PATH]`,
// the run's label and state, and the run that `--undo [RUN | PATH]` names.
#pragma once

#include <string>
#include <vector>

#include "engine/commit/journal.h"

// `--list-runs`: the runs with their id, time, the number of files each
// changed, its paths and its state (done, undone, partly undone, running,
// interrupted, finished by another run); with `path` only the runs over it
// (a path of the run is it, holds it or lies in it); with `json` one object
// per run.
int ListRuns(const PathString& stateFolder, const PathString& path = PathString(),
             bool json = false);

// "ID, 2026-12-08 14:15:02 UTC, FOLDER": the run as a message names it.
std::string RunLabel(const JournalRun& run, bool json);
// {"type":"run",...} of `run`, which `runs` (all of them) may have finished.
std::string JsonRun(const JournalRun& run, const std::vector<JournalRun>& runs);
// "done", "undone" or "partly undone".
const char* UndoneState(const JournalRun& run);

// The run `--undo WORD` takes from `runs` (read with kHeader, oldest
// first): the last run for an empty word, the run of that id, else the last
// run that changed a file at or below the path WORD. Null, with the message
// said and `*status` set, when there is none: 2 for a word that is neither
// (a usage error that names the recent runs). `*byPath` tells that a path
// chose it. The run chosen is read with kIndex.
JournalRun* ChooseRun(std::vector<JournalRun>* runs, const PathString& word, bool json,
                      int* status, bool* byPath);
