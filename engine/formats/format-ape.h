// The APE format module: collecting its tag text and rendering its repair.
#pragma once

#include "engine/formats/format.h"
#include "engine/text/text-pool.h"

// An APEv2 tag at the end of the file (before an ID3v1 tag, if any): the
// tag of .ape and .wv files, and one that some writers append to MP3 files.
void CollectApeText(TagLib::IOStream* file, SuggestionPool* pool);

unsigned RenderApeRepair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit);
