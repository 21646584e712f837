// The automatic reading on real titles that once went wrong: double-byte
// text that single-byte pages read as rare letters, bytes that happen to be
// UTF-8, replacement characters, symbols, and right text that collapses to
// bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/album-tracks.h"
#include "engine/text/album-utf8.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-shape.h"
#include "tests/labelled_set.h"
#include "tests/shapes_fixtures.h"

using shapes::Latin1;
using shapes::SignExtended;

namespace {

// The text in a page's bytes, double-byte pages included.
std::string Encode(unsigned page, const std::wstring& text) {
  std::string bytes;
  EXPECT_TRUE(labelled::StoredBytes({"", "", page, labelled::Storage::kCodePage}, text, &bytes));
  return bytes;
}

struct Song {
  std::wstring title, artist, album;
};

// Every text of the album as a run reads it, stored in `page` as Latin-1.
std::vector<std::wstring> ReadAsRun(unsigned page, const std::vector<Song>& songs,
                                    AlbumDecision* decision) {
  SuggestionPool album;
  album.distinctTexts = true;
  std::vector<unsigned> pages;
  std::vector<SuggestionPool> tracks;
  std::vector<std::vector<std::wstring>> stored;
  for (const Song& song : songs) {
    stored.push_back({Latin1(Encode(page, song.title)), Latin1(Encode(page, song.artist)),
                      Latin1(Encode(page, song.album))});
    tracks.emplace_back();
    tracks.back().distinctTexts = true;
    for (std::size_t i = 0; i < stored.back().size(); ++i)
      CollectPlaceText(stored.back()[i], i == 0, &tracks.back());
    AddTrackText(tracks.back(), &album, &pages);
  }
  *decision = DecideAlbumOfTracks(album, pages, tracks);
  std::vector<std::wstring> read;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const FileReading reading =
        DecideFileReading(tracks[t], decision->codePage, false, decision->trackCodePages);
    for (const std::wstring& text : stored[t])
      read.push_back(ReadPlace(text, reading));
  }
  return read;
}

std::vector<std::wstring> Truth(const std::vector<Song>& songs) {
  std::vector<std::wstring> texts;
  for (const Song& song : songs)
    texts.insert(texts.end(), {song.title, song.artist, song.album});
  return texts;
}

}  // namespace

TEST(RealText, DoubleBytePagesBeatRareLetterPairsAndAreRightOrLeft) {
  const std::vector<Song> chinese = {{L"七里香", L"周杰伦", L"七里香"},
                                     {L"晴天", L"周杰伦", L"叶惠美"},
                                     {L"稻香", L"周杰伦", L"魔杰座"},
                                     {L"夜曲", L"周杰伦", L"十一月的萧邦"}};
  const std::vector<Song> japanese = {{L"涙そうそう", L"夏川りみ", L"歌さがし"},
                                      {L"島唄", L"THE BOOM", L"思春期"},
                                      {L"千の風になって", L"秋川雅史", L"千の風になって"},
                                      {L"津軽海峡・冬景色", L"石川さゆり", L"演歌"}};
  AlbumDecision decision;
  EXPECT_EQ(ReadAsRun(936, chinese, &decision), Truth(chinese));
  EXPECT_EQ(decision.codePage, 936u);
  EXPECT_EQ(ReadAsRun(932, japanese, &decision), Truth(japanese));
  EXPECT_EQ(decision.codePage, 932u);
  // A two-song album is read; a single of three characters may be left,
  // never read through a Latin page.
  const std::vector<Song> two = {{L"小城故事", L"邓丽君", L"甜蜜蜜"},
                                 {L"甜蜜蜜", L"邓丽君", L"甜蜜蜜"}};
  EXPECT_EQ(ReadAsRun(936, two, &decision), Truth(two));
  const std::vector<Song> single = {{L"甜蜜蜜", L"邓丽君", L"甜蜜蜜"}};
  const std::vector<std::wstring> read = ReadAsRun(936, single, &decision);
  EXPECT_TRUE(decision.codePage == 936 || decision.codePage == kLeaveText) << decision.codePage;
  EXPECT_TRUE(read == Truth(single) || decision.codePage == kLeaveText);
}

TEST(RealText, TracksFollowTheirAlbumAndSymbolsGoWithIt) {
  // "Вiддам" holds a Latin i, as real Ukrainian titles often do; "¹9" has
  // no letter but the album's page gives it one symbol that fits.
  const std::vector<Song> songs = {{L"Вiддам", L"Океан Ельзи", L"№9"},
                                   {L"Обійми", L"Океан Ельзи", L"№9"},
                                   {L"Там, де нас нема", L"Океан Ельзи", L"№9"},
                                   {L"№ 1 Без бою", L"Океан Ельзи", L"№9"}};
  AlbumDecision decision;
  EXPECT_EQ(ReadAsRun(1251, songs, &decision), Truth(songs));
  EXPECT_EQ(decision.codePage, 1251u);
  EXPECT_TRUE(decision.trackCodePages.empty());
}

TEST(RealText, NothingWithoutBytesBeneathIsReadAgain) {
  // GBK bytes that happen to be valid UTF-8 ("圣约瑟" as "ʥԼɪ") are bytes.
  const std::string gbk = Encode(936, L"圣约瑟");
  EXPECT_FALSE(IsMultiByteUtf8(gbk));
  EXPECT_EQ(ShapeOf(Latin1(gbk)).kind, ShapeKind::kBytes);
  EXPECT_TRUE(IsMultiByteUtf8("Stra\xC3\x9F" "e \xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE"));
  // U+FFFD carries no byte: real Unicode, noted, never read as 0xFD.
  const std::wstring lost = L"\xFFFD\xFFFD\xFFFD \xFFFD\xFFFD\xFFFD\xFFFD\xFFFD";
  EXPECT_EQ(ShapeOf(lost).kind, ShapeKind::kUnicode);
  SuggestionPool pool;
  CollectPlaceText(lost, true, &pool);
  CollectPlaceText(Latin1(Encode(1250, L"Žluťoučký kůň")), false, &pool);
  FileReading reading = DecideFileReading(pool, 1250, false, {});
  EXPECT_EQ(ReadPlace(lost, reading), lost);
  EXPECT_NE(ReadingNote(reading, 0).find(L"the original bytes are lost"), std::wstring::npos);
  // Sign-extended text keeps its 0xFD among other sign-extended bytes.
  EXPECT_EQ(ShapeOf(SignExtended(Encode(1251, L"Это эхо"))).kind, ShapeKind::kBytes);
}

TEST(RealText, RightTextThatCollapsesToBytesKeepsItsLetters) {
  // A right UTF-16 "žalias" collapses to bytes (ž is 0x9E in cp1252), which
  // cp1257 reads as the ogonek: a letter is never read as a symbol.
  const std::wstring right = L"\x017E" L"alias \x017E" L"olė";
  SuggestionPool pool;
  CollectPlaceText(Latin1(Encode(1257, L"Žalgirio mūšis")), true, &pool);
  const FileReading reading = DecideFileReading(pool, 1257, false, {});
  EXPECT_EQ(ReadPlace(L"\x017E" L"alias", reading), L"\x017E" L"alias");
  EXPECT_EQ(ReadPlace(right, reading), right);
  // Three letters are no decision ("Àáâ" as "Абв", confidence under 0.5).
  SuggestionPool three;
  AddSampleText(&three, "\xC0\xE1\xE2", true);
  EXPECT_EQ(DecideAlbum(three).codePage, kLeaveText);
}

TEST(RealText, TheAlbumsSampleIsATitleTheRunChanges) {
  // A French title that stays comes first; the sample is a Russian one.
  std::vector<SuggestionPool> tracks(3);
  SuggestionPool album;
  album.distinctTexts = true;
  std::vector<unsigned> pages;
  const std::wstring titles[] = {L"\x00C7" L"a plane pour moi", Latin1(Encode(1251, L"Кукушка")),
                                 Latin1(Encode(1251, L"Группа крови"))};
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    tracks[i].distinctTexts = true;
    CollectPlaceText(titles[i], true, &tracks[i]);
    CollectPlaceText(Latin1(Encode(1251, L"Кино")), false, &tracks[i]);
    AddTrackText(tracks[i], &album, &pages);
  }
  const AlbumDecision decision = DecideAlbumOfTracks(album, pages, tracks);
  EXPECT_EQ(decision.codePage, 1251u);
  EXPECT_EQ(decision.sample, L"Кукушка");
}

TEST(RealText, SwappedLatinLettersStayAsStored) {
  // R1: Vietnamese in cp1258 shows right as Latin-1 ("Ni-giê-ri-a"); cp1250
  // only swaps its letters for others ("gię") and must not win by 20 bits.
  const std::vector<Song> vietnamese = {{L"Ni-gi\x00EA-ri-a", L"T\x00E9" L"bessa",
                                         L"Ni\x00E8vre"}};
  AlbumDecision decision;
  EXPECT_EQ(ReadAsRun(1258, vietnamese, &decision), Truth(vietnamese));
  EXPECT_EQ(decision.codePage, kLeaveText);
  // Latin-1 text under a layer of UTF-8 reads as Western text unless the
  // album's page reads it clearly better: "ë" is not cp1257's "ė".
  SuggestionPool pool;
  CollectPlaceText(Latin1(Encode(1257, L"\x017D" L"algirio m\x016B\x0161is")), true, &pool);
  const FileReading reading = DecideFileReading(pool, 1257, false, {});
  const std::wstring truth = L"Gjirokast\x00EBr";
  EXPECT_EQ(ReadPlace(Latin1(labelled::Utf8(truth)), reading), truth);
}

TEST(RealText, DoubleByteAndVisualHebrewAreNotReadAsCyrillic) {
  // GBK bytes that cp1251 reads as capitals only ("БОКАГА"), and Hebrew
  // stored in visual order, last letter first: right or left, never Cyrillic.
  const std::vector<Song> chinese = {{L"-- \x5ED6\x4E16\x7F8E", L"", L""}};
  const std::vector<Song> hebrew = {
      {L"\x05E2\x05D5\x05D3\x05D9 \x05D0\x05DC \x05DF\x05D5\x05DB\x05D3\x05E2 \x05DF\x05DE\x05D6",
       L"", L""}};
  for (const auto& [page, songs] : {std::pair{936u, chinese}, std::pair{1255u, hebrew}}) {
    AlbumDecision decision;
    const std::vector<std::wstring> read = ReadAsRun(page, songs, &decision);
    EXPECT_TRUE(decision.codePage == page || decision.codePage == kLeaveText) << decision.codePage;
    EXPECT_TRUE(read == Truth(songs) || decision.codePage == kLeaveText);
  }
}
