// The frame pass of one file, exposed for tests.
#pragma once

#include <memory>
#include <vector>

#include <taglib/id3v2tag.h>

#include "engine/engine.h"
#include "engine/save.h"

// Re-decodes every Latin-1 text frame of `frames` that holds a character at
// or above 0x80 through `codePage` and marks it UTF-16. Sets `changed` as soon
// as one frame qualifies; never clears it.
// Each re-decoded frame is added to `changes` when it is given.
void FixTextFrames(const TagLib::ID3v2::FrameList& frames, unsigned codePage, bool& changed,
                   std::vector<FrameChange>* changes = nullptr);
// The same with the reading given in full; in automatic mode a frame whose
// text would read the same is left as it is.
void FixTextFrames(const TagLib::ID3v2::FrameList& frames, const Redecoding& redecoding,
                   bool& changed, std::vector<FrameChange>* changes = nullptr);

// Decides and renders the repair of one file of a real run without writing
// it: on WM_FIX_SUCCEEDED `stream` holds the save. Fills `outcome` as
// FixFile does. `options.preview` is not looked at.
unsigned PrepareRepair(const PathString& path, const RepairOptions& options, FileOutcome* outcome,
                       std::unique_ptr<EditStream>* stream);
