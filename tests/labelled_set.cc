#include "tests/labelled_set.h"

#include <fstream>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace labelled {

namespace {

// Languages the mixed kinds draw from, one per album.
const char* const kMixLanguages[] = {"cs", "ru", "de", "el", "pl", "fr", "uk", "tr"};

bool IsDoubleBytePage(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// The bytes of every character of a page beyond ASCII (Latin-1: 28591).
const std::map<wchar_t, std::string>& Characters(unsigned codePage) {
  static std::map<unsigned, std::map<wchar_t, std::string>> pages;
  auto found = pages.find(codePage);
  if (found != pages.end())
    return found->second;
  std::map<wchar_t, std::string>& characters = pages[codePage];
  for (int b = 0x80; b < 256; ++b) {
    const std::string bytes(1, char(b));
    const std::wstring decoded =
        codePage == 28591 ? std::wstring(1, wchar_t(b)) : DecodeCodePage(codePage, bytes);
    // A lead byte alone reads as the page's default character.
    const bool lone = IsDoubleBytePage(codePage) && decoded.size() == 1 &&
                      (decoded[0] == 0x30FB || decoded[0] == 0xFFFD);
    if (decoded.size() == 1 && !lone)
      characters.emplace(decoded[0], bytes);
  }
  if (codePage == 932)  // the middle dot, which is also the default character
    characters.emplace(wchar_t(0x30FB), "\x81\x45");
  if (IsDoubleBytePage(codePage)) {
    for (int lead = 0x81; lead < 0xFF; ++lead) {
      for (int trail = 0x40; trail < 0xFF; ++trail) {
        const std::string bytes = {char(lead), char(trail)};
        const std::wstring decoded = DecodeCodePage(codePage, bytes);
        if (decoded.size() == 1 && decoded[0] != 0xFFFD && decoded[0] != L'?' &&
            decoded[0] != 0x30FB)
          characters.emplace(decoded[0], bytes);
      }
    }
  }
  return characters;
}

bool Encode(unsigned codePage, const std::wstring& text, std::string* bytes) {
  const std::map<wchar_t, std::string>& characters = Characters(codePage);
  bytes->clear();
  for (wchar_t c : text) {
    if (c < 0x80) {
      bytes->push_back(char(c));
      continue;
    }
    const auto found = characters.find(c);
    if (found == characters.end())
      return false;
    *bytes += found->second;
  }
  return true;
}

std::wstring Capitalised(std::wstring word) {
  if (!word.empty()) {
    const std::wstring upper = word.substr(0, 1);
    wchar_t c = upper[0];
    // Upper case for the scripts of the word lists: Latin-1, Latin
    // Extended-A pairs, Greek and Cyrillic.
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      c = wchar_t(c - 0x20);
    else if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149)
      c = ((c >= 0x139 && c <= 0x148) || c >= 0x179) ? ((c & 1) ? c : wchar_t(c - 1))
                                                     : ((c & 1) ? wchar_t(c - 1) : c);
    else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
      c = wchar_t(c - 0x20);
    else if (c >= 0x430 && c <= 0x44F)
      c = wchar_t(c - 0x20);
    else if (c >= 0x450 && c <= 0x45F)
      c = wchar_t(c - 0x50);
    word[0] = c;
  }
  return word;
}

std::wstring Phrase(const std::vector<std::wstring>& words, int count, std::mt19937* random) {
  std::wstring text;
  for (int i = 0; i < count; ++i) {
    const std::wstring& word = words[(*random)() % words.size()];
    if (!text.empty())
      text += L' ';
    text += i == 0 || (*random)() % 3 == 0 ? Capitalised(word) : word;
  }
  return text;
}

}  // namespace

const std::vector<Kind>& DoubleByteKinds() {
  static const std::vector<Kind> kinds = {
      {"ja-932", "ja", 932, Storage::kCodePage},
      {"zh-936", "zh", 936, Storage::kCodePage},
      {"zh_TW-950", "zh_TW", 950, Storage::kCodePage},
      {"ko-949", "ko", 949, Storage::kCodePage},
  };
  return kinds;
}

const std::vector<Kind>& MixedKinds() {
  static const std::vector<Kind> kinds = {
      {"ru-1251", "ru", 1251, Storage::kCodePage},
      {"uk-1251", "uk", 1251, Storage::kCodePage},
      {"pl-1250", "pl", 1250, Storage::kCodePage},
      {"cs-1250", "cs", 1250, Storage::kCodePage},
      {"hu-1250", "hu", 1250, Storage::kCodePage},
      {"el-1253", "el", 1253, Storage::kCodePage},
      {"tr-1254", "tr", 1254, Storage::kCodePage},
      {"lt-1257", "lt", 1257, Storage::kCodePage},
      {"de-latin1", "de", 0, Storage::kLatin1},
      {"fr-latin1", "fr", 0, Storage::kLatin1},
      {"es-latin1", "es", 0, Storage::kLatin1},
      {"utf8-in-latin1", "", 0, Storage::kUtf8InLatin1},
      {"utf16", "", 0, Storage::kUtf16},
  };
  return kinds;
}

Words ReadWords(const std::string& path) {
  Words words;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos)
      words[line.substr(0, tab)].push_back(DecodeUtf8(line.substr(tab + 1)));
  }
  return words;
}

std::vector<Song> MakeAlbum(const Words& words, const Kind& kind, int songs, std::mt19937* random) {
  std::string language = kind.language;
  if (language.empty())
    language = kMixLanguages[(*random)() % std::size(kMixLanguages)];
  // Only words the kind can store; UTF-8 and UTF-16 store anything.
  std::vector<std::wstring> usable;
  std::string ignored;
  for (const std::wstring& word : words.at(language)) {
    if (kind.storage == Storage::kUtf8InLatin1 || kind.storage == Storage::kUtf16 ||
        StoredBytes(kind, word, &ignored))
      usable.push_back(word);
  }
  const std::wstring artist = Phrase(usable, 1 + int((*random)() % 2), random);
  const std::wstring album = Phrase(usable, 1 + int((*random)() % 3), random);
  std::vector<Song> album_songs;
  for (int i = 0; i < songs; ++i)
    album_songs.push_back({Phrase(usable, 1 + int((*random)() % 4), random), artist, album});
  return album_songs;
}

std::string Utf8(const std::wstring& text) {
  return WideToUtf8(text);
}

bool StoredBytes(const Kind& kind, const std::wstring& text, std::string* bytes) {
  switch (kind.storage) {
    case Storage::kCodePage:
      return Encode(kind.codePage, text, bytes);
    case Storage::kLatin1:
      return Encode(28591, text, bytes);
    case Storage::kUtf8InLatin1:
      *bytes = WideToUtf8(text);
      return true;
    case Storage::kUtf16:
      return false;
  }
  return false;
}

}  // namespace labelled
