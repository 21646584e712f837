// Gathering the text of one file into a pool for the code-page suggestion
// and the album decision, read without writing.
#pragma once

#include "engine/platform/platform.h"
#include "engine/text/text-pool.h"

// Reads the file read-only, every place of text its format holds (the ID3v2
// and ID3v1 tags of an MP3, the tags of the other formats, the entries of a
// playlist), and adds the texts that hold bytes at or above 0x80. Never
// writes; a file that cannot be read adds nothing.
void CollectFromFile(const PathString& path, SuggestionPool* pool);
