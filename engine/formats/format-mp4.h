// The MP4 format module: collecting its tag text and rendering its repair.
#pragma once

#include "engine/formats/format.h"
#include "engine/text/text-pool.h"

void CollectMp4Text(TagLib::IOStream* file, SuggestionPool* pool);

unsigned RenderMp4Repair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit);
