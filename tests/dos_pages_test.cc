// Cue sheets, playlists and names that DOS-era tools wrote in their own
// pages (437, 850, 852, 866) read through them, and Windows text never so.
#include <gtest/gtest.h>

#include <taglib/tbytevectorstream.h>

#include <string>

#include "engine/text/album.h"
#include "engine/formats/container-repair.h"
#include "engine/names/name-decide.h"
#include "tests/shapes_fixtures.h"

using shapes::Encode;
using shapes::Utf8;

namespace {

struct Repaired {
  unsigned message = 0;
  std::string bytes;  // the new file, or the old one when nothing is written
};

// A playlist at `name` repaired in automatic mode, its album read through
// `albumPage` (kLeaveText when its tags decided nothing).
Repaired Repair(const std::string& bytes, const std::string& name, unsigned albumPage) {
  const PathString path(name.begin(), name.end());  // ASCII on every platform
  TagLib::ByteVectorStream stream(
      TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  Redecoding redecoding;
  redecoding.automatic = true;
  redecoding.codePage = albumPage;
  FileOutcome outcome;
  Edit edit;
  Repaired result;
  result.message = RenderPlaylistFile(&stream, path, redecoding, &outcome, &edit);
  result.bytes = edit.recorded ? edit.bytes : bytes;
  return result;
}

std::string Cue(unsigned page, const std::wstring& performer, const std::wstring& title) {
  return "PERFORMER \"" + Encode(page, performer) + "\"\r\nFILE \"01.mp3\" MP3\r\n" +
         "  TRACK 01 AUDIO\r\n    TITLE \"" + Encode(page, title) + "\"\r\n";
}

std::string M3u(unsigned page, const std::wstring& first, const std::wstring& second) {
  return "#EXTM3U\r\n#EXTINF:1," + Encode(page, first) + "\r\n01.mp3\r\n#EXTINF:1," +
         Encode(page, second) + "\r\n02.mp3\r\n";
}

}  // namespace

// D3: a cue sheet or a playlist of a DOS page reads through it, whether the
// tags beside it decided their Windows sibling or nothing; text of the
// Windows page itself never reads through the DOS page, and Western text
// of cp1252 stays as it is (PL2) rather than read as 850 or 437.
TEST(DosPages, D3PlaylistsReadThroughTheirDosPageOnlyWhenItIsClear) {
  const std::wstring performer = L"Вспомогательный", title = L"Город золотой";
  const std::string cyrillic = "PERFORMER \"" + Utf8(performer) + "\"";
  for (unsigned page : {866u, 1251u}) {
    for (unsigned album : {unsigned(kLeaveText), 1251u}) {
      SCOPED_TRACE("cp" + std::to_string(page) + " beside tags of " + std::to_string(album));
      const Repaired cue = Repair(Cue(page, performer, title), "/m/album.cue", album);
      EXPECT_EQ(WM_FIX_SUCCEEDED, cue.message);
      EXPECT_NE(std::string::npos, cue.bytes.find(cyrillic)) << cue.bytes;
      EXPECT_NE(std::string::npos, cue.bytes.find(Utf8(title))) << cue.bytes;
      const Repaired m3u = Repair(M3u(page, performer, title), "/m/list.m3u", album);
      EXPECT_NE(std::string::npos, m3u.bytes.find("#EXTINF:1," + Utf8(performer))) << m3u.bytes;
    }
  }
  const std::wstring first = L"Déjà vu à Noël", second = L"Où es-tu, Hélène";
  const Repaired dos = Repair(M3u(850, first, second), "/m/list.m3u", kLeaveText);
  EXPECT_NE(std::string::npos, dos.bytes.find("#EXTINF:1," + Utf8(first))) << dos.bytes;
  const Repaired western = Repair(M3u(1252, first, second), "/m/list.m3u", kLeaveText);
  EXPECT_EQ(WM_FIX_NOT_NEEDED, western.message) << western.bytes;
  const Repaired czech =
      Repair(Cue(852, L"Příliš žluťoučký kůň", L"Úpěl ďábelské ódy"), "/m/a.cue", kLeaveText);
  EXPECT_NE(std::string::npos, czech.bytes.find(Utf8(L"Příliš žluťoučký kůň"))) << czech.bytes;
}

// N3: names of FAT media in 850 and 852 read through them; Western names of
// cp1252 stay Western.
TEST(DosPages, N3NamesOf850And852) {
  EXPECT_EQ(852u, DecideNamePage({Encode(852, L"Příliš žluťoučký kůň"),
                                  Encode(852, L"Úpěl ďábelské ódy")}, {}));
  EXPECT_EQ(850u, DecideNamePage({Encode(850, L"São João"), Encode(850, L"Coração Ávido")}, {}));
  EXPECT_EQ(1252u, DecideNamePage({Encode(1252, L"Déjà vu à Noël"), Encode(1252, L"Café São")},
                                  {}));
}
