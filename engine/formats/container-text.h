// Text fields of the containers other than an MP3's ID3v2 tag: Xiph comments,
// APEv2 items and MP4 atoms (UTF-8), ASF fields (UTF-16). Each is read in the
// shapes of engine/text/text-shape.h and through the per-file reading of
// engine/id3v2/place-reading.h, as a place of an ID3v2 tag is.
//
// Calling sequence, per file:
//   1. CollectUtf8Field / CollectWideField for every field that holds text,
//      into a pool of the file's own text (pool.distinctTexts set);
//   2. ReadingOfTexts with the album's redecoding;
//   3. RepairUtf8Field / RepairWideField for each field; a field is written
//      back only when it says the text changes.
// Invariants:
//   C1. Right text is never changed: valid UTF-8 (or UTF-16) of real
//       Unicode text and ASCII stay byte for byte (R1 of place-reading.h).
//   C2. A UTF-8 field whose bytes are not valid UTF-8 (code-page bytes
//       written raw) always comes back valid UTF-8, through the file's page
//       or else as Western text, unless the user named "leave". UTF-8 text
//       with a few stray bytes keeps its UTF-8 and only the strays are
//       read so, so that a second run finds nothing more to change.
//   C3. With a page named by the user, a UTF-8 field that is valid UTF-8
//       changes only when it is UTF-8 encoded twice or more, and then only
//       loses the layers too many (whatever letters its text holds): text
//       that a player already shows as Latin letters may be right.
#pragma once

#include <cstddef>
#include <string>

#include "engine/engine.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-pool.h"

// What a UTF-8 field holds as a player sees it: decoded when it is valid
// UTF-8, else each byte as the character of that number (so that its shape
// is code-page bytes).
std::wstring StoredUtf8Field(const std::string& bytes);
// The field's text for a person (a preview's "before"): as decoded, or as
// Western text when it is not valid UTF-8.
std::wstring ShownUtf8Field(const std::string& bytes);

void CollectUtf8Field(const std::string& bytes, bool isTitle, SuggestionPool* pool);
void CollectWideField(const std::wstring& text, bool isTitle, SuggestionPool* pool);

// The reading of a file whose own texts are pooled in `own`: in automatic
// mode decided as for an MP3 (DecideFileReading), else the page the run
// names (0: the ANSI code page), marked named. `placesLeft` as FileReading.
FileReading ReadingOfTexts(const SuggestionPool& own, const Redecoding& redecoding,
                           std::size_t* placesLeft);

// Text encoded as UTF-8 once too often or more: `stored`, a place's text,
// is the Western reading of UTF-8 (and so on), and `text` becomes the text
// of its innermost layer. `storedAsBytes`: the place keeps one byte a
// character (a Latin-1 frame, an ID3v1 field), where UTF-8 held once is no
// layer too many. False when `stored` is no such text.
bool TakeOffUtf8Layers(const std::wstring& stored, bool storedAsBytes, std::wstring* text);
// `text` through `codePage` when it is bytes (each character one) that the
// page reads cleanly; else `text`.
std::wstring ReadThroughPage(const std::wstring& text, unsigned codePage);

// The field's repaired bytes (UTF-8) or text; false when it stays as stored.
bool RepairUtf8Field(const std::string& bytes, const FileReading& reading, std::string* repaired);
bool RepairWideField(const std::wstring& stored, const FileReading& reading,
                     std::wstring* repaired);
