// The frame pass of one file, exposed for tests.
#pragma once

#include <taglib/id3v2tag.h>

// Re-decodes every Latin-1 text frame of `frames` that holds a character at
// or above 0x80 through `codePage` and marks it UTF-16. Sets `changed` as soon
// as one frame qualifies; never clears it.
void FixTextFrames(const TagLib::ID3v2::FrameList& frames, unsigned codePage, bool& changed);
