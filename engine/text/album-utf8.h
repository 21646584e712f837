// Recognising tag text that is already UTF-8, and decoding it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/platform/path.h"            // FolderOf, which names an album's folder
#include "engine/platform/platform.h"
#include "engine/text/language-costs.h"  // TextCostBits

// Text counts as UTF-8 when all of it is valid UTF-8 and it holds at least
// one sequence of two or more bytes.
// `allowC1` lets C1 controls count too, as a layer of UTF-8 encoded twice
// holds them.
bool IsMultiByteUtf8(const std::string& bytes, bool allowC1 = false);

std::wstring DecodeUtf8(const std::string& bytes);
