// The names of files and folders as a legacy writer left them, and what they
// read as: the same shapes tag text takes, decided per folder.
//
// A name is one of:
//   - right: ASCII, or UTF-8 text that reads as it stands (Cyrillic, Greek,
//     Western, ...); it never changes;
//   - UTF-8 encoded twice (or more): UTF-8 bytes read through a code page
//     (Windows-1252/Latin-1 as tag text shows it, or Windows-1251, 1250,
//     1253, 866, 437) and encoded again; each layer is taken off while the
//     whole name gives back valid UTF-8 of two or more bytes a sequence;
//   - legacy bytes: a name that is not UTF-8 at all (only POSIX stores one),
//     read through the page its folder decides;
//   - widened bytes (only Windows stores one): legacy bytes read as
//     Windows-1252/Latin-1 into UTF-16 ("Ïåñíÿ" for "Песня"), as archive
//     tools and copies leave them; read through the folder's page like
//     legacy bytes, but only where a page other than Western clearly reads
//     them (N5), since a right Western name ("Café") looks the same.
//
// Calling sequence: for each folder, ShapeOfName over its entries' names,
// then DecideNamePage with the folder's evidence (the pages decided for the
// tags below it; DecideWidenedPage when the names are widened), then
// RepairedName for each entry.
//
// Invariants:
//   N1  A name that is valid UTF-8 and no layer of UTF-8 encoded twice comes
//       out unchanged, whatever the page (on Windows, but for N5).
//   N2  Legacy bytes change only through a page that reads every legacy name
//       of the folder cleanly (no undefined byte, no control character), or
//       through a page of the folder's evidence that reads the name by itself
//       clearly better than the folder's page does (a folder of loose
//       tracks from several machines: NamePageWithin).
//   N3  The DOS pages (866, 852, 850, 437; engine/text/dos-pages.h), which no
//       tag page decides, read a folder's names only when they read them
//       clearly better than every Windows page (scored as the same text in
//       their Windows siblings), evidence counted for both: a DOS page is
//       evidence only as the page names below were read through.
//   N4  The result is never a name with a separator, a control character or
//       an empty name; such a reading leaves the name as it is.
//   N5  Widened names change only through a page other than Western that
//       either the evidence holds (the tags' page, decided with the tag
//       decision's margin over Western text) and reads them better than
//       Western text, or that reads them by themselves kDecisionMarginBits
//       better than Western text; and each such name only when it reads
//       better through that page than as it stands (WidenedNameReadsThrough).
#pragma once

#include <string>
#include <vector>

#include "engine/platform/platform.h"

// What one name is, before the folder's page is known.
struct NameShape {
  bool legacy = false;  // bytes to read through the folder's page
  bool widened = false;  // legacy bytes that stand as Western text (N5)
  std::string bytes;    // legacy: the bytes; else the name as UTF-8
  bool layered = false;  // UTF-8 encoded twice: `bytes` is the name taken back
};

NameShape ShapeOfName(const PathString& name);

// The platform's part of ShapeOfName: a name held as legacy bytes, and
// whether they were widened (engine/name-shape-*.cc).
bool LegacyNameBytes(const PathString& name, std::string* bytes, bool* widened);

// The bytes of `text` as Windows-1252 (Latin-1 where it has no character)
// when it holds at least one such byte at or above 0x80 and nothing else
// past ASCII; the widened reading a Windows name may be.
bool WidenedBytes(const std::wstring& text, std::string* bytes);

// The shape of a name of Unicode text that may be widened bytes: a layer of
// UTF-8 encoded twice comes off first; what ShapeOfName gives on Windows.
NameShape ShapeOfWideName(const std::wstring& text);

// The page a folder's legacy names read best through; 0 when it has none or
// no page reads them all cleanly. `evidence` holds the pages decided for the
// tags in and below the folder, most weight first.
unsigned DecideNamePage(const std::vector<std::string>& legacyNames,
                        const std::vector<unsigned>& evidence);

// The page one legacy name of a pool reads through: the folder's page, or
// (N2) a page it reads clearly better through by itself.
unsigned NamePageWithin(const std::string& name, unsigned folderPage,
                        const std::vector<unsigned>& evidence);

// The page widened names read through (N5); 0 to leave them.
unsigned DecideWidenedPage(const std::vector<std::string>& widenedNames,
                           const std::vector<unsigned>& evidence);
// Whether one widened name changes through the page its folder decided (N5).
bool WidenedNameReadsThrough(const std::string& name, unsigned page);

// The name `shape` reads as through `page` (0: only layers come off); false
// when it stays as it is.
bool RepairedName(const NameShape& shape, unsigned page, PathString* repaired);

// The bytes of `text` in single-byte `codePage`; false when a character has
// no byte there.
bool EncodeToPage(unsigned codePage, const std::wstring& text, std::string* bytes);

// The UTF-8 form of a name: its length is what file systems limit to 255.
std::string NameUtf8(const PathString& name);
