// Labelled albums for measuring `--codepage auto`: song texts made of
// held-out dictionary words, stored the way a mixed library stores them.
#pragma once

#include <map>
#include <random>
#include <string>
#include <vector>

namespace labelled {

enum class Storage {
  kCodePage,      // written in a legacy page, stored as Latin-1: needs repair
  kLatin1,        // Western text stored as Latin-1: already right
  kUtf8InLatin1,  // UTF-8 bytes stored as Latin-1: needs repair
  kUtf16,         // already right
};

struct Kind {
  const char* name;      // "ru-1251", "de-latin1", ...
  const char* language;  // the words' language; "" for a mix
  unsigned codePage;     // for kCodePage
  Storage storage;
};

// The thirteen kinds of a mixed library.
const std::vector<Kind>& MixedKinds();
// Japanese, Chinese and Korean text in their double-byte pages.
const std::vector<Kind>& DoubleByteKinds();

// Words per language from a file of "language<TAB>word" lines.
using Words = std::map<std::string, std::vector<std::wstring>>;
Words ReadWords(const std::string& path);

struct Song {
  std::wstring title, artist, album;
};

// An album of `songs` songs of one artist in the kind's language (a mix of
// languages for the mixed kinds); every text can be stored as the kind says.
std::vector<Song> MakeAlbum(const Words& words, const Kind& kind, int songs, std::mt19937* random);

// The bytes a Latin-1 frame holds for `text` stored as the kind says;
// false when it cannot be stored so (never for texts of MakeAlbum).
bool StoredBytes(const Kind& kind, const std::wstring& text, std::string* bytes);

std::string Utf8(const std::wstring& text);

}  // namespace labelled
