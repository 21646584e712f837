// Finishing the runs a crash cut short: every save a journal names is
// brought to its original or its repair.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/commit/journal-format.h"

// Brings every file of a batch left unfinished by a run that was cut short
// to its original or its complete repair, then marks the batch finished;
// scratch journals go once they are finished. Runs before a new run starts
// and before an undo. False when a file could not be brought back (its
// batch stays unfinished, for the next time).
// `finisher` is the id of the run recovering (J3).
bool RecoverUnfinishedRuns(const PathString& stateFolder,
                           const std::string& finisher = std::string());

// True when a kept journal of the state folder holds saves or renames after
// its last commit mark: a run was cut short (or is going).
bool AnyRunCutShort(const PathString& stateFolder);
