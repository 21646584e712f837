// UTF-8 and wide text: converting between them and checking UTF-8 bytes.
// Text shown to a person is converted here; paths never are.
#pragma once

#include <cstddef>
#include <string>

std::string WideToUtf8(const std::wstring& text);

// The length of the valid UTF-8 sequence at `i` of `bytes` (its code point
// in `decoded`), or 0 where none starts there.
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t i, char32_t* decoded);

// True when every byte of `bytes` starts or continues a valid UTF-8 sequence.
bool IsValidUtf8(const std::string& bytes);

// Valid UTF-8 passes unchanged; each byte that starts no valid sequence
// becomes U+FFFD.
std::string SanitizeUtf8(const std::string& bytes);

// Appends a character to wide text: as one unit where wchar_t holds every
// character, as a surrogate pair where it holds UTF-16.
void AppendWide(std::wstring* out, char32_t c);

// The character of wide text at `*i`, a surrogate pair joined where wchar_t
// holds UTF-16 (a lone surrogate is given as it is); `*i` moves past it.
char32_t WideCharAt(const std::wstring& text, std::size_t* i);
