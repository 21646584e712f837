// The run journals of the command line: every real run records, before each
// save, what the save replaces, so that `--undo` can put every file back
// byte for byte. One journal per run, in the user's state folder.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

struct RunJournal;

// Makes way for a new run's journal: drops journals older than 30 days and
// all but the newest 19. The journal itself is created with the first save.
// It records the run's paths and every saved file with absolute paths, so
// that the run can be undone from any folder.
RunJournal* BeginRunJournal(const PathString& stateFolder, const std::vector<PathString>& paths);
void EndRunJournal(RunJournal* journal);

// A SaveRecorder: appends the record and flushes it to disk.
bool RecordSave(void* journal, const PathString& path, const SaveRecord& record);

// `--list-runs`: the runs with their id, time, folder and file count.
int ListRuns(const PathString& stateFolder);

// `--undo [RUN]`: restores the files of the run (the last one not yet undone
// when `run` is empty). Files changed since the run are left alone.
int UndoRun(const PathString& stateFolder, const std::string& run, const std::atomic<bool>* stop);
