// Saving a repair, and taking back a save cut short. A repair records what
// it will write in an EditStream (engine/commit/edit.h); a run commits it with the
// batch's other saves (engine/commit/group-commit.h), and a file saved on its own
// is committed by EditStream::CommitEdits (below). Either
// way the file is never left half written: after a crash the next run or
// undo brings it to its original or its complete repair.
//
// EditStream::CommitEdits is declared with the stream in engine/commit/edit.h and
// defined in engine/commit/file-commit.cc; a save cut short is taken back by
// RecoverInterruptedSave (engine/commit/side-journal.h) or RecoverRecordedSave
// (engine/commit/recovery.h).
#pragma once

#include "engine/commit/edit.h"
