// The OGG format module: collecting its tag text and rendering its repair.
#pragma once

#include "engine/formats/format.h"
#include "engine/text/text-pool.h"

void CollectOggText(TagLib::IOStream* file, SuggestionPool* pool);

unsigned RenderOggRepair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit);
