// The code-page suggestion on generated libraries written in five pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/platform.h"
#include "engine/suggest.h"
#include "tests/fixtures.h"

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

// "1251 0.93, 1250 0.12, ..." for failure messages.
std::string Describe(const std::vector<CodePageGuess>& ranking) {
  std::string text;
  for (const CodePageGuess& guess : ranking)
    text += std::to_string(guess.codePage) + " " + std::to_string(guess.score) + ", ";
  return text;
}

SuggestionPool Collect(const TempFolder& folder) {
  SuggestionPool pool;
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
    const std::vector<CodePageGuess> ranking = RankCodePages(pool);
    SCOPED_TRACE(Describe(ranking) + " confidence " + std::to_string(ranking[0].confidence));
    ASSERT_GE(ranking.size(), 2u);
    EXPECT_EQ(ranking[0].codePage, library.codePage);
    EXPECT_TRUE(IsSure(ranking)) << ranking[0].confidence << " vs " << ranking[1].codePage;
    EXPECT_GT(ranking[0].score, ranking[1].score);
    ASSERT_EQ(ranking[0].samples.size(), 3u);
    EXPECT_EQ(ranking[0].samples[0].find(L'?'), std::wstring::npos);
    // The locale default wins nothing: any other page ranks clearly below.
    EXPECT_TRUE(RanksClearlyBelow(ranking, library.codePage == 1252 ? 1251 : 1252));
    EXPECT_FALSE(RanksClearlyBelow(ranking, library.codePage));
  }
}

TEST(Suggestion, IsNotSureOnAFewShortTitles) {
  for (const Library& library : kLibraries) {
    SCOPED_TRACE(library.codePage);
    SuggestionPool pool;
    for (size_t i = 0; i < 3; ++i)
      AddSampleText(&pool, Encode(library.codePage, library.titles[i]), true);
    const size_t texts = pool.texts.size();
    AddSampleText(&pool, "plain ASCII", true);
    EXPECT_EQ(pool.texts.size(), texts);
    EXPECT_LT(pool.highByteCount, kMinimumHighBytes);
    const std::vector<CodePageGuess> ranking = RankCodePages(pool);
    EXPECT_FALSE(IsSure(ranking));
    EXPECT_FALSE(RanksClearlyBelow(ranking, 1252));
    for (const CodePageGuess& guess : ranking)
      EXPECT_LT(guess.confidence, 0.5);
  }
  EXPECT_FALSE(IsSure(RankCodePages(SuggestionPool())));
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
