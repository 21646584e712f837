// `--json`: one JSON object per line, for scripts. Every line the program
// prints then is one: on standard output the files, albums, runs, pages and
// the summary; on standard error the messages that are text otherwise.
#pragma once

#include <string>

#include "cli/exit-statuses.h"
#include "engine/platform/platform.h"

// `text` as a JSON string literal, quotes included: bytes that are not valid
// UTF-8 become U+FFFD, quotes and backslashes are escaped, and so are C0
// controls, DEL and C1 controls (\u0000 to \u009f, \n, \r, \t), so that no
// string can act on a terminal.
std::string JsonString(const std::string& text);
std::string JsonString(const std::wstring& text);

// `"key":"path"` for a path shown as text (a lone surrogate or a byte that is
// not UTF-8 shows as U+FFFD) and, when the path is not valid Unicode,
// `,"key_bytes":"hex"`: the path as the system stores it, in lower-case hex
// (its bytes on POSIX, its UTF-16LE units on Windows), which gives the name
// back exactly.
std::string JsonPath(const std::string& key, const PathString& path);
// True when a path shows as text without loss: bytes that are all UTF-8
// (POSIX), wide text without a lone surrogate (Windows).
bool IsValidUnicode(const std::string& path);
bool IsValidUnicode(const std::wstring& path);
// The hex of a path as `key_bytes` holds it: its bytes, or its UTF-16 units
// low byte first.
std::string PathHex(const std::string& path);
std::string PathHex(const std::wstring& path);

// A number with two decimals: 0.93.
std::string JsonDecimal(double value);

// A message on standard error: "songwright: MESSAGE" as a line of text, or
// with `json` {"type":TYPE,"message":MESSAGE}. TYPE is "error" or "notice".
void WriteMessage(bool json, const char* type, const std::string& message);

// A path inside a message: as ShowPath shows it in text, as it is in JSON
// (where JsonString escapes it).
std::string MessagePath(bool json, const PathString& path);

// Says that another run holds `path` (or a folder over or in it); returns
// kExitBusy.
int BusyError(bool json, const PathString& path);
