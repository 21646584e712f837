// The repair of a file of another format than MP3 (engine/formats/format.h): its
// own text pooled, its reading decided as an MP3's is, and its format's
// module asked for the one edit.
#pragma once

#include <taglib/tiostream.h>

#include "engine/commit/edit.h"
#include "engine/engine.h"
#include "engine/formats/format.h"
#include "engine/text/text-pool.h"

// Adds the text of every field of the file (of `format`) to `pool`.
void CollectContainerText(TagLib::IOStream* file, AudioFormat format, SuggestionPool* pool);

// The same for a playlist or cue sheet found at `path`, its entries
// following the renames `redecoding` holds.
void CollectPlaylistFile(TagLib::IOStream* file, const PathString& path, SuggestionPool* pool);
unsigned RenderPlaylistFile(TagLib::IOStream* file, const PathString& path,
                            const Redecoding& redecoding, FileOutcome* outcome, Edit* edit);

// Decides and renders the repair of a file of `format` (not kMp3): the
// message, the outcome's changes and note, and on WM_FIX_SUCCEEDED the edit.
unsigned RenderContainerRepair(TagLib::IOStream* file, AudioFormat format,
                               const Redecoding& redecoding, FileOutcome* outcome, Edit* edit);
