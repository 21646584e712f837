// One playlist entry: parsed, followed to its file, rewritten after renames.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/names/playlist-lines.h"
#include "engine/names/playlist.h"

// The new text of an entry whose text alone would read as `converted`:
// rewritten to the renamed file, kept naming an existing file, else
// `converted`. kBroken, with `why`, when a renamed step cannot be written in
// the new encoding. Sets `renamedAny` when a step of it is renamed.
EntryResult RewriteEntry(const std::string& entry, const std::string& converted,
                         const EntryContext& context, std::string* out, std::wstring* why,
                         bool* renamedAny);
