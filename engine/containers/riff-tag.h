// The ID3v2.4 tag made for a WAV or AIFF file that has none: one frame for
// each text item of its INFO list or text chunks, so that the tag holds all
// of the file's text, each frame in UTF-16.
//
// Calling sequence: TagFramesFromTexts, then ComposeNewTag, then
// CheckTagTexts over the composed tag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/id3v2/tag-compose.h"

struct TagText {
  std::string id;     // the item's id: "INAM", "NAME", ...
  std::wstring text;  // what the frame is to read
};

// The frames, each with the texts its places must read (a comment's or
// TXXX's description first); false when TagLib's frame cannot be taken in.
// Items whose frame is taken already, and items no frame stands for, go to
// TXXX frames described by their id; empty items are left out.
bool TagFramesFromTexts(const std::vector<TagText>& texts, std::vector<OutputFrame>* frames,
                        std::vector<std::vector<std::wstring>>* expected);

// The tag, padded so that it and a chunk header of `chunkHeader` bytes are
// whole 4096-byte blocks, with at least 1 KB of padding.
std::string ComposeNewTag(const std::vector<OutputFrame>& frames, std::uint64_t chunkHeader);

// Reads the tag back: every frame as composed (VerifyTag), and each one's
// places reading as `expected`.
bool CheckTagTexts(const std::string& tag, const std::vector<OutputFrame>& frames,
                   const std::vector<std::vector<std::wstring>>& expected, std::wstring* detail);
