// Names widened on Windows (legacy bytes read as Windows-1252 into UTF-16):
// decided through the shape and page seams on every platform, and planned
// through the platform's own names where it stores them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/text/album.h"
#include "engine/names/name-decide.h"
#include "engine/names/rename.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/shapes_fixtures.h"

namespace fs = std::filesystem;

namespace {

// Windows stores legacy names only widened; POSIX never widens a name.
constexpr bool kWidens = std::is_same_v<PathString, std::wstring>;

// `text` written in `page` and read back as Windows-1252: what a Windows
// archive tool leaves.
std::wstring Widened(unsigned page, const std::wstring& text) {
  return shapes::Widened1252(shapes::Encode(page, text));
}

struct Folder {
  std::vector<NameShape> shapes;
  std::vector<std::string> widened;
};

Folder ShapesOf(const std::vector<std::wstring>& names) {
  Folder folder;
  for (const std::wstring& name : names) {
    folder.shapes.push_back(ShapeOfWideName(name));
    if (folder.shapes.back().widened)
      folder.widened.push_back(folder.shapes.back().bytes);
  }
  return folder;
}

// Each name as the folder's decision leaves it, as UTF-8.
std::vector<std::string> Decided(const std::vector<std::wstring>& names,
                                 const std::vector<unsigned>& evidence) {
  const Folder folder = ShapesOf(names);
  const unsigned page = DecideWidenedPage(folder.widened, evidence);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    PathString repaired;
    const bool reads = !folder.shapes[i].widened ||
                       WidenedNameReadsThrough(folder.shapes[i].bytes, page);
    out.push_back(reads && RepairedName(folder.shapes[i], page, &repaired) ? NameUtf8(repaired)
                                                                           : WideToUtf8(names[i]));
  }
  return out;
}

}  // namespace

// The shape: a name of Windows-1252 characters past ASCII is widened bytes;
// a layer of UTF-8 encoded twice comes off first, and a name with any other
// character is not widened.
TEST(WidenedNames, ShapeTakesLayersFirstAndWidensOnlyWesternCharacters) {
  const NameShape song = ShapeOfWideName(L"\u00CF\u00E5\u00F1\u00ED\u00FF");  // "Ïåñíÿ"
  EXPECT_TRUE(song.widened);
  EXPECT_EQ(song.bytes, shapes::Encode(1251, L"\u041F\u0435\u0441\u043D\u044F"));
  const NameShape layered = ShapeOfWideName(L"Caf\u00C3\u00A9");  // "CafÃ©"
  EXPECT_TRUE(layered.layered);
  EXPECT_FALSE(layered.widened);
  EXPECT_FALSE(ShapeOfWideName(L"plain.mp3").legacy);
  EXPECT_FALSE(ShapeOfWideName(L"\u041A\u0438\u043D\u043E").legacy);  // Cyrillic stays
  std::string bytes;
  EXPECT_TRUE(WidenedBytes(L"a\u0081\u20AC", &bytes));  // Latin-1 where 1252 has none
  EXPECT_EQ(bytes, "a\x81\x80");
}

// N5: widened names of Cyrillic, Central European and Greek text come back
// through their page, decided by the names or tipped by the tags' page;
// right Western names stay beside them and alone, whatever the evidence.
TEST(WidenedNames, N5NonWesternPagesClearlyAndWesternNamesNever) {
  const std::wstring kino = L"\u0417\u0432\u0435\u0437\u0434\u0430 \u043F\u043E \u0438\u043C\u0435\u043D\u0438 \u0421\u043E\u043B\u043D\u0446\u0435";
  const std::wstring song = L"\u0413\u0440\u0443\u043F\u043F\u0430 \u043A\u0440\u043E\u0432\u0438";
  EXPECT_EQ(Decided({Widened(1251, kino), Widened(1251, song)}, {}),
            (std::vector<std::string>{WideToUtf8(kino), WideToUtf8(song)}));
  const std::wstring czech = L"Brat\u0159\u00ED\u010Dku zav\u00EDrej vr\u00E1tka";
  const std::wstring greek = L"\u03A3\u03B1\u03BD \u03C3\u03AE\u03BC\u03B5\u03C1\u03B1";
  EXPECT_EQ(Decided({Widened(1250, czech)}, {1250}), std::vector<std::string>{WideToUtf8(czech)});
  EXPECT_EQ(Decided({Widened(1253, greek)}, {1253}), std::vector<std::string>{WideToUtf8(greek)});

  const std::vector<std::wstring> western = {L"Caf\u00E9", L"D\u00E9j\u00E0 vu",
                                             L"\u00DCber den Wolken", L"Fr\u00E4ulein",
                                             L"Cr\u00E8me br\u00FBl\u00E9e"};
  for (const std::vector<unsigned>& evidence :
       std::vector<std::vector<unsigned>>{{}, {1251}, {1250}, {1253}}) {
    for (const std::wstring& name : western)
      EXPECT_EQ(Decided({name}, evidence), std::vector<std::string>{WideToUtf8(name)});
    EXPECT_EQ(Decided(western, evidence).front(), WideToUtf8(western.front()));
  }
  // Beside a Russian name, under the Russian tags' page: only the Russian
  // name changes.
  EXPECT_EQ(Decided({Widened(1251, song), L"Caf\u00E9"}, {1251}),
            (std::vector<std::string>{WideToUtf8(song), WideToUtf8(L"Caf\u00E9")}));
  // A short name that reads as Western text too ("Øeka") changes only
  // under the tags' page; one that reads as nothing Western ("Êîò") by
  // itself.
  const std::wstring river = L"\u0158eka", cat = L"\u041A\u043E\u0442";
  EXPECT_EQ(Decided({Widened(1250, river)}, {}), std::vector<std::string>{"\u00D8eka"});
  EXPECT_EQ(Decided({Widened(1250, river)}, {1250}), std::vector<std::string>{WideToUtf8(river)});
  EXPECT_EQ(Decided({Widened(1251, cat)}, {}), std::vector<std::string>{WideToUtf8(cat)});
}

// The platform's names: on Windows a folder of widened names under the tags'
// page is planned through it, a right Western name beside them kept; on
// POSIX the same names are right UTF-8 and nothing is planned (N1).
TEST(WidenedNames, PlanOnThePlatformsOwnNames) {
  fixtures::TempFolder folder;
  const std::wstring song = L"\u041F\u0435\u0441\u043D\u044F \u043E \u0434\u0440\u0443\u0433\u0435";
  const std::string widened = WideToUtf8(Widened(1251, song)) + ".mp3";
  folder.Write(fs::u8path(widened), "x");
  folder.Write(fs::u8path(WideToUtf8(L"Caf\u00E9.mp3")), "x");
  NameEvidence evidence;
  evidence.folderPages[folder.path().native()] = {1251};
  const RenamePlan plan = PlanRenames({folder.path().native()}, evidence, nullptr);
  ASSERT_EQ(plan.renames.size(), kWidens ? 1u : 0u);
  EXPECT_TRUE(plan.problems.empty());
  if (kWidens) {
    EXPECT_EQ(plan.renames[0].first, (folder.path() / fs::u8path(widened)).native());
    EXPECT_EQ(plan.renames[0].second,
              (folder.path() / fs::u8path(WideToUtf8(song) + ".mp3")).native());
  }
}
