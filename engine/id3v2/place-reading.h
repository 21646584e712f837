// The automatic reading of a file's text: every place of its ID3v2 tag that
// holds text (engine/id3v2/frame-places.h), in whatever shape the text is stored
// (engine/text/text-shape.h), read through the page its album was decided to be
// written in, unless the file or the place reads clearly better otherwise.
//
// Calling sequence, per file of an album whose page is decided:
//   1. CollectFromLayout (and CollectLatin1Text for ID3v1 fields) into a pool
//      of the file's own text;
//   2. DecideFileReading with the album's page;
//   3. RepairFramePlaces for each frame of the tag to be written.
// Invariants:
//   R1. Right text is the first hypothesis: real Unicode text, ASCII, and
//       bytes that read better as stored than through any page that reads
//       them cleanly are never changed.
//   R2. A frame is rewritten only when the text of one of its places
//       changes; every other byte of it stays (engine/id3v2/frame-places.h P1-P3).
//   R3. Machine-written text (iTunNORM and the like), language codes, MIME
//       types and URLs are never changed.
//   R4. A page named by the user reads every place of code-page bytes that
//       it reads cleanly; "leave" changes nothing.
//   R5. A page named for the whole run (-c) reads a tag's Latin-1 frames
//       through it, as the MP3 repair does: UTF-16 and UTF-8 frames change
//       only where they hold UTF-8 encoded twice, which loses its layers.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/text/text-pool.h"
#include "engine/text/text-shape.h"

struct FileReading {
  unsigned codePage = 0;       // kLeaveText: code-page bytes stay as stored
  bool named = false;          // the page was named by the user (R4)
  // One page named for the whole run (-c): an ID3v2 tag's Unicode frames
  // are read as the MP3 repair reads them (R5).
  bool wholeRun = false;
  unsigned albumCodePage = 0;  // the album's page
  // Counts the places of code-page bytes left as stored because they read
  // clearly better so than through `codePage`, when given.
  std::size_t* placesLeft = nullptr;
  // Some text holds U+FFFD: real Unicode, left as it is, whose original
  // bytes an earlier program lost; the preview says so.
  bool lostBytes = false;
};

// Adds the text of every place of the layout's frames, chapters' frames
// included: code-page bytes as texts to decide on, real Unicode as evidence.
void CollectFromLayout(const Id3v2Layout& layout, SuggestionPool* pool);
// Adds one place's text as it is stored (each character one of the
// frame's): code-page bytes to decide on, or real Unicode as evidence.
void CollectPlaceText(const std::wstring& stored, bool isTitle, SuggestionPool* pool);
// The same for one Latin-1 text (an ID3v1 field).
void CollectLatin1Text(const std::string& bytes, bool isTitle, SuggestionPool* pool);

// The page for one file of an album read through `albumPage`: a file whose
// own text clearly needs another page gets it (one of `trackPages`, the
// pages other tracks clearly need, with less text), and one whose text reads
// clearly better as stored than through the album's page is left.
FileReading DecideFileReading(const SuggestionPool& file, unsigned albumPage, bool named,
                              const std::vector<unsigned>& trackPages);

// The reading of one file from its tag's layout and its ID3v1 fields
// (title first), in an album read as `redecoding` says; `placesLeft` counts
// the places left as stored.
FileReading ReadingOfFile(const Id3v2Layout& layout, const std::vector<std::string>& id3v1Fields,
                          const Redecoding& redecoding, std::size_t* placesLeft);

// Why the file is not read through its album's page, or how many of its
// texts stay as stored, for the preview; empty when neither.
std::wstring ReadingNote(const FileReading& reading, std::size_t placesLeft);

// What one place's stored text reads as; the stored text when it stays.
std::wstring ReadPlace(const std::wstring& stored, const FileReading& reading);

enum class PlaceRepair { kUnchanged, kChanged, kFailed };

// Repairs the places of one frame; `id` is its version 2.4 id (its version
// 2.3 id in a tag kept as version 2.3, or "PIC"), `version` the form of the
// frames a chapter embeds (3 or 4). The change is added to `changes` when
// given. kFailed when a place would change but the frame cannot be rewritten
// to read as it should.
PlaceRepair RepairFramePlaces(const Id3v2Frame& frame, const std::string& id, int version,
                              const FileReading& reading, std::vector<FrameChange>* changes,
                              Id3v2Frame* out);
