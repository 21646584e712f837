// The DOS code pages (437, 850, 852, 866): what DOS-era and console tools
// wrote cue sheets, playlists and names on FAT media in. Each shares most
// letters with a Windows page, its sibling (866 Cyrillic with 1251, 850 and
// 437 Western with 1252, 852 Central European with 1250), at other bytes.
//
// Calling sequence, per playlist or cue sheet in automatic mode: its own
// text pooled (engine/names/playlist.h), its reading decided among the Windows
// pages (ReadingOfTexts), then DosPageOfText with that reading's page; names
// weigh the DOS pages beside the Windows ones (engine/names/name-decide.h, N3).
//
// Invariants:
//   D1. No tag is ever read through a DOS page (players wrote none): only
//       playlists, cue sheets and names ask for one, and IsCodePageSupported
//       never holds one, so no album is decided in one.
//   D2. A DOS page is priced as its text written in its sibling's bytes, by
//       the sibling's languages; a character the sibling lacks costs as a
//       byte the sibling leaves undefined.
//   D3. A DOS page reads a playlist only when it reads all of its code-page
//       text cleanly and costs, against the page decided for it, against
//       its sibling and against Western text, at least its margin less:
//       kDosMarginBits for 866 and 852 (kAlbumMarginBits against Western
//       text), kDosWesternMarginBits for 437 and 850, which stand for
//       Western text as 1252 does and read a real 1252 text otherwise. In
//       each reading compared, a byte at or above 0x80 read as no letter
//       between two letters costs kSymbolInWordBits more: that is how a DOS
//       letter reads through a Windows page ("D‚j…" for "Déjà"), which the
//       languages price as cheap punctuation between short words.
#pragma once

#include <string>
#include <vector>

// Margins of D3, in bits.
constexpr double kDosMarginBits = 8;
constexpr double kDosWesternMarginBits = 24;
constexpr double kSymbolInWordBits = 12;

// The DOS pages, in the order a tie is broken.
const std::vector<unsigned>& DosPages();
bool IsDosPage(unsigned codePage);
// The Windows page a DOS page shares its letters with; 0 for any other page.
unsigned WindowsSibling(unsigned dosPage);

// D2: `bytes` of `dosPage` written in its sibling's bytes.
std::string SiblingBytes(unsigned dosPage, const std::string& bytes);

// D3: the page a playlist's code-page `texts` read through: `decided` (a
// Windows page, or kLeaveText), or a DOS page that reads them clearly better.
unsigned DosPageOfText(const std::vector<std::string>& texts, unsigned decided);
