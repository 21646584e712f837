// `--json`: one JSON object per line, for scripts.
#pragma once

#include <string>

// `text` as a JSON string literal, quotes included: bytes that are not valid
// UTF-8 become U+FFFD (as the text output shows them), quotes, backslashes
// and control characters are escaped.
std::string JsonString(const std::string& text);
