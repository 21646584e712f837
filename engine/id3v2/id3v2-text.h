// Decoding the text of ID3v2 text frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/id3v2/id3v2-layout.h"

// True when the frame's stored text is empty: a text frame with nothing but
// its encoding byte and NULs.
bool IsEmptyTextFrame(const Id3v2Frame& frame);

// The fields of a text frame (or of TXXX: description, then values), each
// stored encoding decoded; Latin-1 gives one character per byte. False when
// the frame is compressed, encrypted or malformed, or its encoding is
// unknown. `keepEmpty` keeps empty fields in their places.
bool TextFrameFields(const Id3v2Frame& frame, bool keepEmpty, std::vector<std::wstring>* fields);

// Text stored in `encoding` (0 Latin-1, one character per byte; 1 UTF-16
// after an optional byte-order mark; 2 UTF-16BE; 3 UTF-8) as wide text.
std::wstring DecodeStoredText(const std::string& bytes, int encoding);
