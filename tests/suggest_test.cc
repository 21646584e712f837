// The code-page suggestion on generated libraries written in five pages: the
// ranking of the run's own album decision over the library's pooled text.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/suggest.h"
#include "engine/text/album.h"
#include "engine/platform/platform.h"
#include "engine/suggest-collect.h"
#include "engine/text/text-pool.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

// Encodes text into `codePage` bytes by inverting DecodeCodePage over the
// high bytes of the page.
std::string Encode(unsigned codePage, const std::wstring& text) {
  std::map<wchar_t, char> reverse;
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::wstring decoded = DecodeCodePage(codePage, std::string(1, char(byte)));
    if (decoded.size() == 1)
      reverse.emplace(decoded[0], char(byte));
  }
  std::string bytes;
  for (wchar_t c : text) {
    if (c < 0x80) {
      bytes.push_back(char(c));
    } else {
      EXPECT_TRUE(reverse.count(c)) << codePage << " cannot hold U+" << std::hex << int(c);
      bytes.push_back(reverse[c]);
    }
  }
  return bytes;
}

struct Library {
  unsigned codePage;
  std::vector<std::wstring> titles, artists, albums;
};

const Library kLibraries[] = {
    {1251,
     {L"Группа крови", L"Звезда по имени Солнце", L"Кукушка", L"Перемен", L"Спокойная ночь",
      L"Пачка сигарет", L"Восьмиклассница", L"Мама, мы все тяжело больны", L"Следи за собой",
      L"Апрель"},
     {L"Кино", L"Аквариум", L"Алиса", L"Сплин", L"Ночные снайперы"},
     {L"Группа крови", L"Звезда по имени Солнце", L"Чёрный альбом", L"Гранатовый альбом"}},
    {1250,
     {L"Dziś prawdziwych Cyganów już nie ma", L"Żółta łódź", L"Kolorowe jarmarki",
      L"Przeżyj to sam", L"Mezi horami", L"Řekni, kde ty kytky jsou", L"Šťastné a veselé",
      L"Holubí dům", L"Jó reggelt, Magyarország", L"Śpiewam o miłości"},
     {L"Maryla Rodowicz", L"Lombard", L"Marta Kubišová", L"Jiří Schelinger", L"Karel Kryl"},
     {L"Wszystko, co najważniejsze", L"Złote przeboje", L"Modlitba pro Martu", L"Bratříčku"}},
    {1253,
     {L"Σ' αγαπώ", L"Τα παιδιά του Πειραιά", L"Ένα το χελιδόνι", L"Άρνηση",
      L"Όμορφη και παράξενη πατρίδα", L"Συννεφιασμένη Κυριακή", L"Το τρένο φεύγει στις οχτώ",
      L"Μην τον ρωτάς τον ουρανό", L"Δυο πόρτες έχει η ζωή", L"Η μπαλάντα του Οδυσσέα"},
     {L"Μίκης Θεοδωράκης", L"Μάνος Χατζιδάκις", L"Χάρις Αλεξίου", L"Γιώργος Νταλάρας"},
     {L"Τα τραγούδια μας", L"Επιτάφιος", L"Άξιον Εστί", L"Ρεμπέτικα"}},
    {1252,
     {L"Je ne regrette rien", L"La bohème", L"Über den Wolken", L"Mädchen aus Köln",
      L"Bésame mucho", L"Canción de la mañana", L"Déjà vu", L"Où est la fête", L"Ça plane pour moi",
      L"Schöne Grüße aus München"},
     {L"Édith Piaf", L"Reinhard Mey", L"Mónica Naranjo", L"Françoise Hardy", L"Die Ärzte"},
     {L"Chansons françaises", L"Lieder für Gefühle", L"Éxitos de España", L"Größte Hits"}},
    {1257,
     {L"Kur lygūs laukai", L"Pavasarį", L"Tėvynės ilgesys", L"Žiemos daina", L"Ąžuolai žaliuoja",
      L"Mėnulio šviesa", L"Pūtė vėjas", L"Šiaurės žvaigždė", L"Gimtinė", L"Į laisvę"},
     {L"Andrius Mamontovas", L"Foje", L"Antis", L"Marijonas Mikutavičius"},
     {L"Geriausios dainos", L"Vėjų miestas", L"Žalias albumas", L"Lietuviškos dainos"}},
};

// Writes `count` files of the library, as ID3v2 frames and, for every third
// file, as an ID3v1 tag only.
void WriteLibrary(const TempFolder& folder, const Library& library, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const std::string title = Encode(library.codePage, library.titles[i % library.titles.size()]);
    const std::string artist =
        Encode(library.codePage, library.artists[i % library.artists.size()]);
    const std::string album = Encode(library.codePage, library.albums[i % library.albums.size()]);
    const std::string name = std::to_string(i) + ".mp3";
    if (i % 3 == 2) {
      folder.Write(name, MpegFrames(2, int(i)) + Id3v1Tag(title.substr(0, 30), artist.substr(0, 30),
                                                          album.substr(0, 30)));
    } else {
      folder.Write(name, Id3v2Tag({TextFrame("TIT2", title), TextFrame("TPE1", artist),
                                   TextFrame("TALB", album)}) +
                             MpegFrames(2, int(i)));
    }
  }
}

// The library as raw cp1251 FLAC files: legacy bytes in Vorbis comments.
void WriteFlacLibrary(const TempFolder& folder, const Library& library, size_t count) {
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  for (size_t i = 0; i < count; ++i) {
    const std::vector<std::string> entries = {
        "TITLE=" + Encode(library.codePage, library.titles[i % library.titles.size()]),
        "ARTIST=" + Encode(library.codePage, library.artists[i % library.artists.size()])};
    folder.Write(
        std::to_string(i) + ".flac",
        formats::FlacFile({{0, streamInfo}, {4, formats::VorbisComment("x", entries)}}, audio));
  }
}

// "1251 1.00 0.99, 1250 0.07 0.01, ..." for failure messages.
std::string Describe(const PageRanking& ranking) {
  std::string text;
  for (const RankedPage& page : ranking.pages)
    text += std::to_string(page.codePage) + " " + std::to_string(page.score) + " " +
            std::to_string(page.confidence) + ", ";
  return text;
}

// As --suggest pools: a text every file repeats counts once.
SuggestionPool Collect(const TempFolder& folder) {
  SuggestionPool pool;
  pool.distinctTexts = true;
  for (const auto& entry : fs::directory_iterator(folder.path()))
    CollectFromFile(entry.path().native(), &pool);
  return pool;
}

}  // namespace

TEST(Suggestion, RanksThePageALibraryWasWrittenInFirst) {
  for (const Library& library : kLibraries) {
    SCOPED_TRACE(library.codePage);
    TempFolder folder;
    WriteLibrary(folder, library, 30);
    const SuggestionPool pool = Collect(folder);
    EXPECT_GE(pool.fileCount, 25u);
    const PageRanking ranking = RankPages(pool);
    SCOPED_TRACE(Describe(ranking));
    ASSERT_GE(ranking.pages.size(), 2u);
    EXPECT_EQ(ranking.pages[0].codePage, library.codePage);
    // Western text is left as it is; any other library gets its page.
    const AlbumDecision& decision = ranking.decision;
    EXPECT_EQ(decision.codePage, library.codePage == 1252 ? kLeaveText : library.codePage);
    EXPECT_EQ(decision.readsWestern, library.codePage == 1252);
    EXPECT_FALSE(decision.unsure);
    EXPECT_GE(ranking.pages[0].confidence, 0.75);
    EXPECT_DOUBLE_EQ(ranking.pages[0].score, 1);
    EXPECT_LT(ranking.pages[1].score, 0.5);
    ASSERT_EQ(ranking.pages[0].samples.size(), 3u);
    EXPECT_EQ(ranking.pages[0].samples[0].find(L'?'), std::wstring::npos);
    // Every reading the decision weighed, each once, most plausible first.
    EXPECT_EQ(ranking.pages.size(), decision.candidates.size() + 1);
    for (size_t i = 1; i < ranking.pages.size(); ++i) {
      EXPECT_LE(ranking.pages[i - 1].bits, ranking.pages[i].bits);
      EXPECT_NE(ranking.pages[i - 1].codePage, ranking.pages[i].codePage);
    }
  }
}

// Every format is read as the run reads it, and the same decision ranks it.
TEST(Suggestion, RanksARawCp1251FlacLibraryAsTheRunDecidesIt) {
  TempFolder folder;
  WriteFlacLibrary(folder, kLibraries[0], 12);
  const SuggestionPool pool = Collect(folder);
  EXPECT_EQ(pool.fileCount, 12u);
  const PageRanking ranking = RankPages(pool);
  SCOPED_TRACE(Describe(ranking));
  ASSERT_FALSE(ranking.pages.empty());
  EXPECT_EQ(ranking.pages[0].codePage, 1251u);
  EXPECT_EQ(ranking.decision.codePage, 1251u);
  EXPECT_EQ(ranking.pages[0].language, ranking.decision.language);
  EXPECT_EQ(ranking.pages[0].samples.at(0), DecodeCodePage(1251, pool.titles.at(0)));
}

// One letter beyond ASCII cannot read any page clearly better than Western
// text: no page is suggested, whatever the library's page.
TEST(Suggestion, SuggestsNoPageOnTooLittleText) {
  for (const Library& library : kLibraries) {
    SCOPED_TRACE(library.codePage);
    const std::string title = Encode(library.codePage, library.titles[1]);
    size_t high = 0;
    while (high < title.size() && !(title[high] & 0x80))
      ++high;
    ASSERT_LT(high, title.size());
    SuggestionPool pool;
    AddSampleText(&pool, "Track " + title.substr(high, 1), true);
    AddSampleText(&pool, "plain ASCII", true);
    EXPECT_EQ(pool.texts.size(), 1u);
    const PageRanking ranking = RankPages(pool);
    EXPECT_EQ(ranking.decision.codePage, kLeaveText) << Describe(ranking);
    EXPECT_FALSE(ranking.pages.empty());
  }
  // No text at all, or only UTF-8: nothing to rank.
  EXPECT_TRUE(RankPages(SuggestionPool()).pages.empty());
  SuggestionPool utf8;
  AddSampleText(&utf8, "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE", true);  // "Кино" as UTF-8
  const PageRanking none = RankPages(utf8);
  EXPECT_TRUE(none.pages.empty());
  EXPECT_EQ(none.decision.codePage, kLeaveText);
}

TEST(Suggestion, CollectingNeverChangesAFile) {
  TempFolder folder;
  WriteLibrary(folder, kLibraries[0], 3);
  const fs::path junk = folder.Write("junk.mp3", std::string(100, '\xFF'));
  std::vector<std::string> before;
  for (int i = 0; i < 3; ++i)
    before.push_back(ReadFile(folder.path() / (std::to_string(i) + ".mp3")));
  SuggestionPool pool = Collect(folder);
  EXPECT_EQ(pool.fileCount, 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadFile(folder.path() / (std::to_string(i) + ".mp3")), before[size_t(i)]);
  EXPECT_EQ(ReadFile(junk), std::string(100, '\xFF'));
}
