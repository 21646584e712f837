// Re-decoding of Latin-1 text frames: which stored frames a repair re-decodes
// and the UTF-16 frames it makes of them.
#pragma once

#include <string>
#include <vector>

#include <taglib/id3v2tag.h>
#include <taglib/tstring.h>

#include "engine/engine.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/place-reading.h"

struct OutputFrame;  // engine/id3v2/tag-compose.h

// The text a Latin-1 value holds once re-decoded: through the code page, or
// in automatic mode as UTF-8 when it is whole multi-byte UTF-8, or as it is
// when the album is left alone. ASCII stays as it is. With a page for the
// run, UTF-8 encoded twice or more loses its layers first, and what is left
// is read through the page when it is bytes that the page reads cleanly.
TagLib::String Redecode(const TagLib::String& text, const Redecoding& redecoding);

// Values joined by " / ", as a preview shows a frame with several.
std::wstring DescribeFields(const std::vector<std::wstring>& fields);

// Latin-1 text frames holding a byte at or above 0x80 are the ones the
// repair re-decodes; `idV24` is the frame's version 2.4 id.
bool IsRedecodable(const Id3v2Frame& frame, const std::string& idV24);

// True when the frame is re-decoded through a named page; never in automatic
// mode, where the file's reading takes every place (engine/id3v2/place-reading.h).
bool RedecodingChanges(const Id3v2Frame& original, const std::string& idV24,
                       const Redecoding& redecoding);

// Re-decodes one stored Latin-1 frame into a UTF-16 frame under `idV24`,
// keeping its status flags and group; the change is added to `changes` when
// given. False when its text cannot be read or TagLib's frame not taken in.
bool RedecodeFrame(const Id3v2Frame& original, const std::string& idV24,
                   const Redecoding& redecoding, std::vector<FrameChange>* changes,
                   OutputFrame* out);

// With a page for the run: the places of a UTF-16 or UTF-8 frame (`id` its
// version 2.4 id, or its 2.3 id in a tag kept as version 2.3) that hold UTF-8
// encoded twice or more lose the layers too many; every other place, and
// Latin-1 frames, chapters and frames that cannot be read, stay. The change
// is added to `changes` when given.
PlaceRepair RepairTwiceEncodedFrame(const Id3v2Frame& frame, const std::string& id,
                                    std::vector<FrameChange>* changes, Id3v2Frame* out);

// Re-decodes every Latin-1 text frame of `frames` that holds a character at
// or above 0x80 through `codePage` and marks it UTF-16. Sets `changed` as soon
// as one frame qualifies; never clears it.
// Each re-decoded frame is added to `changes` when it is given.
void FixTextFrames(const TagLib::ID3v2::FrameList& frames, unsigned codePage, bool& changed,
                   std::vector<FrameChange>* changes = nullptr);
// The same with the reading given in full; in automatic mode a frame whose
// text would read the same is left as it is.
void FixTextFrames(const TagLib::ID3v2::FrameList& frames, const Redecoding& redecoding,
                   bool& changed, std::vector<FrameChange>* changes = nullptr);
