// The FLAC format module: collecting its tag text and rendering its repair.
#pragma once

#include "engine/formats/format.h"
#include "engine/text/text-pool.h"

void CollectFlacText(TagLib::IOStream* file, SuggestionPool* pool);

unsigned RenderFlacRepair(TagLib::IOStream* file, const FileReading& reading,
                          FileOutcome* outcome, Edit* edit);
