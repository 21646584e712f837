// Playlists and cue sheets: code-page text read per file and written as
// UTF-8, right text kept, entries following renamed files, and every new
// file checked line by line.
#include <gtest/gtest.h>

#include <taglib/tbytevectorstream.h>

#include <string>

#include "engine/text/album.h"
#include "engine/formats/container-text.h"
#include "engine/names/playlist.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/shapes_fixtures.h"

using shapes::Encode;
using shapes::Utf8;

namespace {

const std::wstring kTitle = L"\u0417\u0432\u0435\u0437\u0434\u0430 \u043F\u043E \u0438\u043C\u0435"
                            L"\u043D\u0438 \u0421\u043E\u043B\u043D\u0446\u0435";  // Zvezda...
const std::wstring kArtist = L"\u041A\u0438\u043D\u043E";                           // Kino
const std::wstring kSong = L"\u0413\u0440\u0443\u043F\u043F\u0430 \u043A\u0440\u043E\u0432\u0438";
const std::string kMark = "\xEF\xBB\xBF";

struct Repaired {
  unsigned message = 0;
  FileOutcome outcome;
  std::string bytes;  // the new file, or the old one when nothing is written
};

TagLib::ByteVector Vector(const std::string& bytes) {
  return TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

// The per-file reading of the playlist's own text in an album read through
// `page`; automatic unless `named`.
FileReading ReadingOf(const std::string& bytes, PlaylistKind kind, unsigned page, bool named) {
  TagLib::ByteVectorStream stream(Vector(bytes));
  SuggestionPool pool;
  pool.distinctTexts = true;
  CollectPlaylistText(&stream, kind, &pool);
  Redecoding redecoding;
  redecoding.codePage = page;
  redecoding.automatic = !named;
  return ReadingOfTexts(pool, redecoding, nullptr);
}

Repaired Repair(const std::string& bytes, PlaylistKind kind, unsigned page, bool named = false,
                const PlaylistRenames* renames = nullptr,
                const PathString& path = "/nowhere/list") {
  TagLib::ByteVectorStream stream(Vector(bytes));
  Repaired result;
  Edit edit;
  result.message = RenderPlaylistRepair(&stream, kind, ReadingOf(bytes, kind, page, named),
                                        renames, path, &result.outcome, &edit);
  result.bytes = bytes;
  if (edit.recorded) {
    EXPECT_EQ(edit.offset, 0u);
    EXPECT_EQ(edit.replaced, bytes.size());
    result.bytes = edit.bytes;
  }
  EXPECT_EQ(edit.recorded, result.message == WM_FIX_SUCCEEDED);
  return result;
}

// A playlist made of lines of wide text, each written through `page` (0:
// UTF-8), joined by `ending`.
std::string Lines(unsigned page, std::initializer_list<std::wstring> lines,
                  const std::string& ending) {
  std::string out;
  for (const std::wstring& line : lines)
    out += (page ? Encode(page, line) : Utf8(line)) + ending;
  return out;
}

}  // namespace

TEST(PlaylistKinds, ExtensionsInAnyLetterCase) {
  EXPECT_EQ(PlaylistKindOfPath("a/b.M3U"), PlaylistKind::kM3u);
  EXPECT_EQ(PlaylistKindOfPath("b.m3u8"), PlaylistKind::kM3u8);
  EXPECT_EQ(PlaylistKindOfPath("b.Pls"), PlaylistKind::kPls);
  EXPECT_EQ(PlaylistKindOfPath("/x/album.CUE"), PlaylistKind::kCue);
  EXPECT_EQ(PlaylistKindOfPath("b.mp3"), PlaylistKind::kNone);
  EXPECT_EQ(PlaylistKindOfPath("m3u.d/list"), PlaylistKind::kNone);
}

// PL2: a code-page .m3u comes back as UTF-8 with a byte-order mark, its CRLF
// breaks and its missing final break kept.
TEST(PlaylistRepair, PL2CodePageM3uBecomesUtf8WithAMark) {
  const std::string before =
      "#EXTM3U\r\n" + Encode(1251, L"#EXTINF:215," + kArtist + L" - " + kTitle) + "\r\n" +
      Encode(1251, kArtist + L"\\01 " + kTitle + L".mp3") + "\r\n#EXTINF:240," +
      Encode(1251, kArtist + L" - " + kSong) + "\r\n02.mp3";
  const Repaired result = Repair(before, PlaylistKind::kM3u, 1251);
  ASSERT_EQ(result.message, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(result.bytes, kMark + "#EXTM3U\r\n" +
                              Utf8(L"#EXTINF:215," + kArtist + L" - " + kTitle) + "\r\n" +
                              Utf8(kArtist + L"\\01 " + kTitle + L".mp3") + "\r\n#EXTINF:240," +
                              Utf8(kArtist + L" - " + kSong) + "\r\n02.mp3");
  const std::vector<FrameChange>& changes = result.outcome.changes;
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].frameId, "encoding");
  EXPECT_EQ(changes[1].frameId, "line 2 #EXTINF");
  EXPECT_EQ(changes[1].after, kArtist + L" - " + kTitle);
  EXPECT_EQ(changes[2].frameId, "line 3 entry");

  // A cue sheet gets the mark too; a .pls does not, and a .m3u8 says UTF-8
  // by its name.
  const std::string cue = "REM GENRE Rock\nPERFORMER \"" + Encode(1251, kArtist) +
                          "\"\nTITLE \"" + Encode(1251, kTitle) + "\"\nFILE \"" +
                          Encode(1251, kSong) + ".wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"" +
                          Encode(1251, kSong) + "\"\n    INDEX 01 00:00:00\n";
  EXPECT_EQ(Repair(cue, PlaylistKind::kCue, 1251).bytes,
            kMark + "REM GENRE Rock\nPERFORMER \"" + Utf8(kArtist) + "\"\nTITLE \"" +
                Utf8(kTitle) + "\"\nFILE \"" + Utf8(kSong) + ".wav\" WAVE\n  TRACK 01 AUDIO\n" +
                "    TITLE \"" + Utf8(kSong) + "\"\n    INDEX 01 00:00:00\n");
  const std::string m3u8 = Encode(1251, kTitle + L".mp3") + "\n";
  EXPECT_EQ(Repair(m3u8, PlaylistKind::kM3u8, 1251).bytes, Utf8(kTitle + L".mp3") + "\n");
}

TEST(PlaylistRepair, PL2PlsInCentralEuropeanAndGreek) {
  const std::wstring polish = L"Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144";
  const std::wstring greek = L"\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1 "
                             L"\u03BA\u03CC\u03C3\u03BC\u03B5";
  for (unsigned page : {1250u, 1253u}) {
    const std::wstring title = page == 1250 ? polish : greek;
    SCOPED_TRACE(page);
    const std::string before = Lines(page,
                                     {L"[playlist]", L"File1=" + title + L".mp3",
                                      L"Title1=" + title, L"Length1=200", L"NumberOfEntries=1",
                                      L"Version=2"},
                                     "\r\n");
    for (bool named : {false, true}) {
      const Repaired result = Repair(before, PlaylistKind::kPls, page, named);
      ASSERT_EQ(result.message, WM_FIX_SUCCEEDED);
      EXPECT_EQ(result.bytes, Lines(0,
                                    {L"[playlist]", L"File1=" + title + L".mp3",
                                     L"Title1=" + title, L"Length1=200", L"NumberOfEntries=1",
                                     L"Version=2"},
                                    "\r\n"));
      EXPECT_EQ(result.outcome.changes[2].frameId, "line 3 Title1");
    }
  }
}

// PL1: right text never changes; double-encoded lines are repaired one by
// one, an existing mark and LF breaks kept.
TEST(PlaylistRepair, PL1RightTextStaysAndDoubleEncodedLinesAreRepaired) {
  const std::string right = kMark + Lines(0,
                                          {L"#EXTM3U", L"#EXTINF:215," + kTitle,
                                           kArtist + L"/" + kTitle + L".mp3"},
                                          "\n");
  for (PlaylistKind kind : {PlaylistKind::kM3u, PlaylistKind::kM3u8}) {
    EXPECT_EQ(Repair(right, kind, 1251).message, WM_FIX_NOT_NEEDED);
    EXPECT_EQ(Repair(right.substr(3), kind, 1251, true).message, WM_FIX_NOT_NEEDED);
  }
  EXPECT_EQ(Repair("#EXTM3U\n#EXTINF:1,Song\nsong.mp3\n", PlaylistKind::kM3u, 1251).message,
            WM_FIX_NOT_NEEDED);
  // Western text in a code page is right as a .m3u holds it.
  EXPECT_EQ(Repair("#EXTINF:1,Caf\xE9 M\xFCller\nCaf\xE9.mp3\n", PlaylistKind::kM3u, kLeaveText)
                .message,
            WM_FIX_NOT_NEEDED);
  // A .m3u8 says UTF-8: code-page bytes in it never are (C2).
  EXPECT_EQ(Repair("#EXTINF:1,Caf\xE9\n", PlaylistKind::kM3u8, kLeaveText).bytes,
            "#EXTINF:1,Caf\xC3\xA9\n");
  // Lines cut short or empty where a value would be.
  EXPECT_EQ(Repair("FILE   \nTITLE\nFILE \"\nREM\n#EXTINF:\n", PlaylistKind::kCue, 1251).message,
            WM_FIX_NOT_NEEDED);
  // Not text at all.
  EXPECT_EQ(Repair("\xFF\xFE#\0E\0", PlaylistKind::kM3u, 1251).message, WM_FIX_NOT_NEEDED);

  // UTF-8 encoded twice (Windows-1252 read of UTF-8), and code-page bytes
  // read as Windows-1252 then saved as UTF-8, beside a right line.
  const std::string twice = Utf8(shapes::Widened1252(Utf8(kTitle)));
  const std::string western = Utf8(shapes::Widened1252(Encode(1251, kSong)));
  const std::string before = kMark + "#EXTM3U\n#EXTINF:215," + twice + "\n#EXTINF:100," +
                             western + "\n#EXTINF:100," + Utf8(kArtist) + "\n";
  for (bool named : {false, true}) {
    const Repaired result = Repair(before, PlaylistKind::kM3u8, 1251, named);
    ASSERT_EQ(result.message, WM_FIX_SUCCEEDED);
    // C3: a named page repairs only what is UTF-8 more than once.
    EXPECT_EQ(result.bytes, kMark + "#EXTM3U\n#EXTINF:215," + Utf8(kTitle) + "\n#EXTINF:100," +
                                (named ? western : Utf8(kSong)) + "\n#EXTINF:100," +
                                Utf8(kArtist) + "\n");
  }
}

// PL6: a playlist too large to read whole is left, and says why.
TEST(PlaylistRepair, PL6LargePlaylistIsLeftWithAReason) {
  std::string big(kPlaylistSizeLimit + 1, 'a');
  const Repaired result = Repair(big, PlaylistKind::kM3u, 1251);
  EXPECT_EQ(result.message, WM_FIX_FAILED);
  EXPECT_EQ(result.outcome.issue, kIssueCouldNotSave);
  EXPECT_NE(result.outcome.detail.find(L"4 MiB"), std::wstring::npos);
}

TEST(PlaylistRepair, CollectsTitlesAndEntries) {
  const std::string bytes = Lines(1251,
                                  {L"#EXTM3U", L"#EXTINF:1," + kTitle, kSong + L".mp3",
                                   L"#EXTINF:1,ASCII", L"ascii.mp3"},
                                  "\n");
  TagLib::ByteVectorStream stream(Vector(bytes));
  SuggestionPool pool;
  CollectPlaylistText(&stream, PlaylistKind::kM3u, &pool);
  ASSERT_EQ(pool.texts.size(), 2u);
  EXPECT_EQ(pool.texts[0], Encode(1251, kTitle));
  ASSERT_EQ(pool.titles.size(), 1u);
  EXPECT_EQ(pool.texts[1], Encode(1251, kSong + L".mp3"));
}
