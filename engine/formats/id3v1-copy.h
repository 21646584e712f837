// The ID3v1 fields copied into the ID3v2 tag a repair writes.
#pragma once

#include <vector>

#include <taglib/id3v1tag.h>

#include "engine/engine.h"
#include "engine/id3v2/tag-compose.h"

// Puts every ID3v1 field into `frames` where the ID3v2 field is missing or
// empty, re-decoded when it holds code-page bytes; sets `changed` when a
// copied field is re-decoded. Every field copied is added to `changes` when
// given (an empty `before`, the copied text as `after`), re-decoded or not. `version` is the tag's
// version (the year goes into TYER in version 2.3, else TDRC). False when a field cannot be copied.
bool CopyId3v1(const TagLib::ID3v1::Tag& id3v1, const Redecoding& redecoding, int version,
               bool* changed, std::vector<FrameChange>* changes, std::vector<OutputFrame>* frames);
