// The shapes wrong text takes, the places of a frame that hold text, and the
// reading of each place in automatic mode: right text stays as it is.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/id3v2/frame-places.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-shape.h"
#include "tests/shapes_fixtures.h"

using namespace shapes;

TEST(TextShapes, EachWrongShapeComesBackToTheFirstWritersBytes) {
  const std::string kino =
      Encode(1251, L"\u041C\u0443\u043C\u0438\u0439 \u0422\u0440\u043E\u043B\u043B\u044C");
  const std::string ljubav = Encode(1251, L"\u0409\u0443\u0431\u0430\u0432");  // 0x8A leads
  const std::wstring privet = L"\u041F\u0440\u0438\u0432\u0435\u0442";
  struct Case {
    const char* name;
    std::wstring stored;
    ShapeKind kind;
    std::string bytes;
    int layers;
  };
  const Case cases[] = {
      {"code-page bytes in Latin-1", Latin1(kino), ShapeKind::kBytes, kino, 0},
      {"bytes widened as Windows-1252 read them", Widened1252(ljubav), ShapeKind::kBytes, ljubav,
       0},
      {"bytes sign-extended", SignExtended(kino), ShapeKind::kBytes, kino, 0},
      {"bytes read as Latin-1, saved as UTF-8", FromUtf8(Utf8(Latin1(kino))), ShapeKind::kBytes,
       kino, 0},
      {"UTF-8 stored as Latin-1", Latin1(Utf8(privet)), ShapeKind::kUtf8, Utf8(privet), 0},
      {"UTF-8 encoded twice", Widened1252(Utf8(privet)), ShapeKind::kUtf8, Utf8(privet), 0},
      {"UTF-8 encoded twice, stored as Latin-1", Latin1(Utf8(Widened1252(Utf8(privet)))),
       ShapeKind::kUtf8, Utf8(privet), 1},
      {"Western UTF-8 stored as Latin-1", Latin1("Caf\xC3\xA9"), ShapeKind::kBytes, "Caf\xE9", 1},
      {"right Western text", L"Caf\u00E9 M\u00FCller", ShapeKind::kBytes, "Caf\xE9 M\xFCller", 0},
      {"right Cyrillic text", privet, ShapeKind::kUnicode, "", 0},
      {"smart quotes beside a Polish letter", L"\u201EZa\u0142o\u017C\u201D", ShapeKind::kUnicode,
       "", 0},
      {"ASCII", L"Kino", ShapeKind::kAscii, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TextShape shape = ShapeOf(c.stored);
    EXPECT_EQ(shape.kind, c.kind);
    EXPECT_EQ(shape.bytes, c.bytes);
    EXPECT_EQ(shape.utf8Layers, c.layers);
  }
}

// R1, R4: right text first; a named page reads what it reads cleanly.
TEST(PlaceReading, RightTextStaysAndAPageReadsOnlyWhatItReadsBetter) {
  const std::wstring privet = L"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440";
  const std::string bytes = Encode(1251, privet);
  FileReading russian;
  russian.codePage = 1251;
  EXPECT_EQ(ReadPlace(Latin1(bytes), russian), privet);
  EXPECT_EQ(ReadPlace(Widened1252(bytes), russian), privet);
  // Western text in a Russian album reads better as it is.
  for (const std::wstring& western :
       {std::wstring(L"No\u00EBl \u00E0 Paris"), std::wstring(L"Rid\u00EDculo"),
        std::wstring(L"Caf\u00E9 M\u00FCller")})
    EXPECT_EQ(ReadPlace(western, russian), western);
  EXPECT_EQ(ReadPlace(privet, russian), privet);  // real Unicode
  // A byte the page leaves undefined (0x98 in 1251) keeps the text as it is.
  EXPECT_EQ(ReadPlace(Latin1(bytes + "\x98"), russian), Latin1(bytes + "\x98"));
  // UTF-8 reads as UTF-8 whatever the page.
  FileReading western;
  EXPECT_EQ(ReadPlace(Latin1(Utf8(privet)), western), privet);
  EXPECT_EQ(ReadPlace(Latin1("Caf\xC3\xA9"), western), L"Caf\u00E9");
  EXPECT_EQ(ReadPlace(Latin1(bytes), western), Latin1(bytes));

  FileReading named = russian;
  named.named = true;
  EXPECT_EQ(ReadPlace(L"Caf\u00E9", named), L"Caf\u0439");
  named.codePage = kLeaveText;
  EXPECT_EQ(ReadPlace(Latin1(Utf8(privet)), named), Latin1(Utf8(privet)));
}

TEST(PlaceReading, AFileTakesItsOwnPageOrIsLeftOnlyWhenItsTextSaysSoClearly) {
  SuggestionPool polish, western, russian;
  AddSampleText(&polish, Encode(1250, L"Dziwny jest ten \u015Bwiat"), true);
  AddSampleText(&polish, Encode(1250, L"Czes\u0142aw Niemen"), false);
  AddSampleText(&western, "No\xEBl \xE0 Paris", true);
  AddSampleText(&western,
                "Rid\xED"
                "culo",
                false);
  AddSampleText(
      &russian,
      Encode(1251,
             L"\u0421\u043F\u043E\u043A\u043E\u0439\u043D\u0430\u044F \u043D\u043E\u0447\u044C"),
      true);

  EXPECT_EQ(DecideFileReading(polish, 1251, false, {}).codePage, 1250u);
  EXPECT_EQ(DecideFileReading(western, 1251, false, {}).codePage, kLeaveText);
  EXPECT_EQ(DecideFileReading(russian, 1251, false, {}).codePage, 1251u);
  EXPECT_EQ(DecideFileReading(polish, 1251, true, {}).codePage, 1251u);  // named: as named
  // One Polish title is text enough for a page of its own; a page the
  // album's other tracks clearly need is no reason for another.
  SuggestionPool one;
  AddSampleText(&one, Encode(1250, L"Dziwny jest ten \u015Bwiat"), true);
  EXPECT_EQ(DecideFileReading(one, kLeaveText, false, {}).codePage, 1250u);
  EXPECT_EQ(DecideFileReading(one, kLeaveText, false, {1251, 1250}).codePage, 1250u);
  EXPECT_EQ(DecideFileReading(one, kLeaveText, false, {1251}).codePage, 1250u);
}

namespace {

// Finds the places of `data` and gives the text of each.
std::vector<std::wstring> Texts(const std::string& data, const std::string& id,
                                FramePlaces* places) {
  std::vector<std::wstring> texts;
  if (!FindTextPlaces(data, id, places))
    return texts;
  for (const TextPlace& place : places->places)
    texts.push_back(PlaceText(data, *places, place));
  return texts;
}

}  // namespace

TEST(FramePlaces, EveryKindOfFrameGivesItsTextPlacesAndKeepsItsOtherBytes) {
  const std::string sylt = Bytes("\0eng\x02\x01") + "desc" + std::string(1, '\0') + "one" +
                           Bytes("\0\0\0\0\x10") + "two" + Bytes("\0\0\0\x01\x20");
  struct Case {
    const char* id;
    std::string data;
    std::vector<std::wstring> texts;
  };
  const Case cases[] = {
      {"TIT2", Bytes("\0a\0b"), {L"a", L"b"}},
      {"TXXX", Bytes("\0d\0v\0"), {L"d", L"v"}},
      {"COMM",
       Bytes("\0rus"
             "d\0t"),
       {L"d", L"t"}},
      {"USLT", Bytes("\0rus\0lyrics"), {L"", L"lyrics"}},
      {"SYLT", sylt, {L"desc", L"one", L"two"}},
      {"APIC",
       Bytes("\0image/png\0\x03"
             "cover\0\x89PNG"),
       {L"cover"}},
      {"PIC",
       Bytes("\0PNG\x03"
             "cover\0\x89PNG"),
       {L"cover"}},
      {"WXXX", Bytes("\0site\0http://x"), {L"site"}},
      {"GEOB", Bytes("\0text/plain\0f.txt\0about\0data"), {L"f.txt", L"about"}},
      {"TIT2",
       Bytes("\x01\xFF\xFE"
             "a\0\0\0\xFF\xFE"
             "b\0"),
       {L"a", L"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    FramePlaces places;
    ASSERT_EQ(Texts(c.data, c.id, &places), c.texts);
    // P1, P3: the last place rewritten; every other byte stays in order.
    std::vector<std::optional<std::wstring>> texts(places.places.size());
    texts.back() = L"\u041D";
    std::string out;
    ASSERT_TRUE(RewriteTextPlaces(c.data, c.id, places, texts, &out));
    FramePlaces again;
    std::vector<std::wstring> want = c.texts;
    want.back() = L"\u041D";
    EXPECT_EQ(Texts(out, c.id, &again), want);
    EXPECT_EQ(out[0], '\x01');  // Latin-1 becomes UTF-16; UTF-16 stays
    const TextPlace& last = places.places.back();
    const std::size_t after = last.end + (last.terminated ? (places.encoding == 1 ? 2 : 1) : 0);
    EXPECT_EQ(out.substr(out.size() - (c.data.size() - after)), c.data.substr(after))
        << "the bytes after the place";
  }
}

TEST(FramePlaces, UnchangedPlacesKeepTheirBytesAndBrokenFramesHaveNone) {
  // P2: a UTF-8 frame keeps its encoding and the bytes of the place that
  // does not change.
  const std::string data = Bytes(
                               "\x03"
                               "eng") +
                           "\xC3\x89t\xC3\xA9" + std::string(1, '\0') + "x";
  FramePlaces places;
  ASSERT_TRUE(FindTextPlaces(data, "COMM", &places));
  std::string out;
  ASSERT_TRUE(RewriteTextPlaces(data, "COMM", places, {std::nullopt, L"\u044F"}, &out));
  EXPECT_EQ(out, Bytes("\x03"
                       "eng\xC3\x89t\xC3\xA9") +
                     std::string(1, '\0') + "\xD1\x8F");
  // A description without its terminator, an unknown encoding, a frame with
  // no text: no places at all.
  EXPECT_FALSE(FindTextPlaces(Bytes("\0eng"
                                    "desc"),
                              "COMM", &places));
  EXPECT_FALSE(FindTextPlaces(Bytes("\x07"
                                    "abc"),
                              "TIT2", &places));
  EXPECT_FALSE(FindTextPlaces(Bytes("\0"
                                    "abc"),
                              "PRIV", &places));
  // R3: text a program wrote for itself.
  ASSERT_TRUE(FindTextPlaces(Bytes("\0eng"
                                   "iTunNORM\0 0000"),
                             "COMM", &places));
  EXPECT_TRUE(places.machineWritten);
}
