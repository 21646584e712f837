// The repair of one file, decided and rendered without writing it.
#pragma once

#include <memory>
#include <vector>

#include <taglib/id3v2tag.h>

#include "engine/engine.h"
#include "engine/id3v2/redecode.h"
#include "engine/commit/edit.h"

// Decides and renders the repair of one file of a real run without writing
// it: on WM_FIX_SUCCEEDED `stream` holds the save. Fills `outcome` as
// FixFile does. `options.preview` is not looked at.
unsigned PrepareRepair(const PathString& path, const RepairOptions& options, FileOutcome* outcome,
                       std::unique_ptr<EditStream>* stream);
