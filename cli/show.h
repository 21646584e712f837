// What reaches a terminal: names and tag text with every control character
// and every byte that is not UTF-8 made visible, so that no name or title
// can start a line of its own, split a tab-separated field or send an escape
// sequence to the terminal.
#pragma once

#include <string>

#include "engine/platform/platform.h"

// Text as UTF-8 (bytes that are not UTF-8 allowed), shown unambiguously:
//   a backslash as \\, a tab, a line feed and a carriage return as \t, \n
//   and \r, every other C0 control and DEL as \xNN (\x1b for ESC), a C1
//   control (U+0080 to U+009F) as \u0080 to \u009f, and each byte that
//   starts no valid UTF-8 sequence as \xNN (80 to ff); everything else as it
//   is. Hex digits are lower case.
std::string ShowText(const std::string& utf8);
// Wide text (tag text; a name on Windows) the same way; a lone surrogate
// shows as \ud800 to \udfff.
std::string ShowText(const std::wstring& text);
// A path as ShowText shows it, except that a wide path (Windows, where a
// name can hold neither a backslash nor a control character) keeps its
// backslashes, which are its separators.
std::string ShowPath(const std::string& path);
std::string ShowPath(const std::wstring& path);
