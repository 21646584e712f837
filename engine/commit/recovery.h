// Taking back a save cut short, from the record the journal holds of it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/commit/edit.h"
#include "engine/platform/platform.h"

// Brings the file `path` names, whose save `record` describes and which may
// have been cut short at any point, to its original or its complete repair:
// a save in place is undone by putting the original bytes back, an insert
// of blocks before the tag by putting the old tag back and taking the blocks
// out, a tag at the end that changed size by putting the old end back and
// giving the file its old size, a new tag that reached the old tag's blocks after its room was lost
// (the file of its original size) by putting the old tag back in place, and
// a copy that never replaced its file is removed. A file that is
// neither and would not become its original that way is left alone. False
// when the file could not be written. `leftOriginal`, when given, tells
// whether the file is its original now: the save did not stand.
bool RecoverRecordedSave(const PathString& path, const SaveRecord& record,
                         bool* leftOriginal = nullptr);
