// Playlist entries following renamed files and folders in the form they are
// written in, and kept naming files that are not renamed.
#include <gtest/gtest.h>

#include <taglib/tbytevectorstream.h>

#include <cstdio>
#include <string>

#include "engine/names/playlist.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/shapes_fixtures.h"

using shapes::Encode;
using shapes::Utf8;

namespace {

const std::wstring kArtist = L"\u041A\u0438\u043D\u043E";  // Kino
const std::wstring kSong = L"\u0413\u0440\u0443\u043F\u043F\u0430 \u043A\u0440\u043E\u0432\u0438";
const std::string kSongUtf8 = Utf8(kSong);
const std::string kMark = "\xEF\xBB\xBF";

struct Repaired {
  unsigned message = 0;
  FileOutcome outcome;
  std::string bytes;
};

Repaired Repair(const std::string& bytes, PlaylistKind kind, const PlaylistRenames* renames,
                const std::string& path) {
  TagLib::ByteVectorStream stream(
      TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  FileReading reading;
  reading.codePage = reading.albumCodePage = 1251;
  Repaired result;
  Edit edit;
  result.message =
      RenderPlaylistRepair(&stream, kind, reading, renames, path, &result.outcome, &edit);
  result.bytes = edit.recorded ? edit.bytes : bytes;
  return result;
}

}  // namespace

// PL3: each form of an entry follows the rename of its file or of a folder
// on its path, and keeps its form; what names nothing renamed stays.
TEST(PlaylistEntries, PL3EveryFormFollowsARename) {
  fixtures::TempFolder temp;
  const std::string root = temp.path().string();
  const std::string music = root + "/Music";
  PlaylistRenames renames;
  AddPlaylistRename(&renames, music + "/a/old song.mp3", music + "/a/" + kSongUtf8 + ".mp3");
  AddPlaylistRename(&renames, music + "/dir", music + "/" + Utf8(kArtist));
  AddPlaylistRename(&renames, root + "/Other/y.mp3", root + "/Other/z.mp3");
  const std::string percent = "%D0%93%D1%80%D1%83%D0%BF%D0%BF%D0%B0%20%D0%BA%D1%80%D0%BE%D0%B2%D0%B8";
  const std::pair<std::string, std::string> entries[] = {
      {"a/old song.mp3", "a/" + kSongUtf8 + ".mp3"},
      {"a\\old song.mp3", "a\\" + kSongUtf8 + ".mp3"},
      {"./a//old song.mp3", "./a//" + kSongUtf8 + ".mp3"},
      {music + "/a/old song.mp3", music + "/a/" + kSongUtf8 + ".mp3"},
      {"file://" + music + "/a/old%20song.mp3", "file://" + music + "/a/" + percent + ".mp3"},
      {"FILE://localhost" + music + "/a/old%20song.mp3",
       "FILE://localhost" + music + "/a/" + percent + ".mp3"},
      {"dir/x.mp3", Utf8(kArtist) + "/x.mp3"},
      {"dir\\sub\\x.mp3", Utf8(kArtist) + "\\sub\\x.mp3"},
      {"../Other/y.mp3", "../Other/z.mp3"},
      {"dir/../a/old song.mp3", Utf8(kArtist) + "/../a/" + kSongUtf8 + ".mp3"},
      {"missing/old song.mp3", "missing/old song.mp3"},
      {"http://host" + music + "/a/old%20song.mp3", "http://host" + music + "/a/old%20song.mp3"},
      {"file://elsewhere" + music + "/a/old%20song.mp3",
       "file://elsewhere" + music + "/a/old%20song.mp3"},
  };
  std::string before = "#EXTM3U\r\n", after = "#EXTM3U\r\n";
  for (const auto& [from, to] : entries) {
    before += "#EXTINF:1,Song\r\n" + from + "\r\n";
    after += "#EXTINF:1,Song\r\n" + to + "\r\n";
  }
  const Repaired result = Repair(before, PlaylistKind::kM3u8, &renames, music + "/list.m3u8");
  ASSERT_EQ(result.message, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(result.bytes, after);
  EXPECT_EQ(Repair(before, PlaylistKind::kM3u8, nullptr, music + "/list.m3u8").message,
            WM_FIX_NOT_NEEDED);

  // PLS and cue entries, and a relative playlist path.
  const std::string pls = "[playlist]\nFile1=a/old song.mp3\nTitle1=Old\n";
  EXPECT_EQ(Repair(pls, PlaylistKind::kPls, &renames, music + "/list.pls").bytes,
            "[playlist]\nFile1=a/" + kSongUtf8 + ".mp3\nTitle1=Old\n");
  const std::string cue = "FILE \"old song.mp3\" MP3\n  TRACK 01 AUDIO\n";
  EXPECT_EQ(Repair(cue, PlaylistKind::kCue, &renames, music + "/a/album.cue").bytes,
            "FILE \"" + kSongUtf8 + ".mp3\" MP3\n  TRACK 01 AUDIO\n");
}

// PL3, PL4: entries of a code-page playlist that name files with code-page
// names: renamed ones follow the new names, and one that is not renamed
// keeps the playlist from being converted.
TEST(PlaylistEntries, PL4CodePageNamesOnDisk) {
  fixtures::TempFolder temp;
  const std::string folder = Encode(1251, kArtist), file = Encode(1251, kSong) + ".mp3";
  temp.Write(folder + "/" + file, "audio");
  const std::string music = temp.path().string();
  const std::string before = "#EXTM3U\r\n#EXTINF:1," + Encode(1251, kArtist + L" - " + kSong) +
                             "\r\n" + folder + "\\" + file + "\r\n";
  PlaylistRenames both;
  AddPlaylistRename(&both, music + "/" + folder, music + "/" + Utf8(kArtist));
  AddPlaylistRename(&both, music + "/" + folder + "/" + file, music + "/" + Utf8(kArtist) + "/" +
                                                                   kSongUtf8 + ".mp3");
  const Repaired renamed = Repair(before, PlaylistKind::kM3u, &both, music + "/list.m3u");
  ASSERT_EQ(renamed.message, WM_FIX_SUCCEEDED) << WideToUtf8(renamed.outcome.detail);
  EXPECT_EQ(renamed.bytes, kMark + "#EXTM3U\r\n#EXTINF:1," + Utf8(kArtist + L" - " + kSong) +
                               "\r\n" + Utf8(kArtist) + "\\" + kSongUtf8 + ".mp3\r\n");

  // Western text beside a renamed entry: the new name needs UTF-8, which
  // the rest of the playlist then reads as Western text.
  const std::string western = "#EXTINF:1,Caf\xE9\r\n" + folder + "\\" + file + "\r\n";
  const Repaired followed = Repair(western, PlaylistKind::kM3u, &both, music + "/list.m3u");
  EXPECT_EQ(followed.bytes, kMark + "#EXTINF:1,Caf\xC3\xA9\r\n" + Utf8(kArtist) + "\\" +
                                kSongUtf8 + ".mp3\r\n");

  // The folder not renamed while names are repaired (its repaired name is
  // taken): UTF-8 cannot name it, so its step keeps its bytes, the file's
  // new name follows, and the note says which line.
  PlaylistRenames fileOnly;
  AddPlaylistRename(&fileOnly, music + "/" + folder + "/" + file,
                    music + "/" + folder + "/" + kSongUtf8 + ".mp3");
  const Repaired folderKept = Repair(before, PlaylistKind::kM3u, &fileOnly, music + "/list.m3u");
  ASSERT_EQ(folderKept.message, WM_FIX_SUCCEEDED) << WideToUtf8(folderKept.outcome.detail);
  EXPECT_EQ(folderKept.bytes, kMark + "#EXTM3U\r\n#EXTINF:1," + Utf8(kArtist + L" - " + kSong) +
                            "\r\n" + folder + "\\" + kSongUtf8 + ".mp3\r\n");
  EXPECT_EQ(folderKept.outcome.readingNote.rfind(L"kept byte for byte: line 3:", 0), 0u)
      << WideToUtf8(folderKept.outcome.readingNote);
  // Nothing renamed but the names stay: the entry keeps its bytes too.
  PlaylistRenames none;
  EXPECT_EQ(Repair(before, PlaylistKind::kM3u, &none, music + "/list.m3u").bytes,
            kMark + "#EXTM3U\r\n#EXTINF:1," + Utf8(kArtist + L" - " + kSong) + "\r\n" + folder +
                "\\" + file + "\r\n");
  // Names not repaired in the run: the playlist stays with its files, which
  // is no failure, and the note says why.
  const Repaired stays = Repair(before, PlaylistKind::kM3u, nullptr, music + "/list.m3u");
  EXPECT_EQ(stays.message, WM_FIX_NOT_NEEDED);
  EXPECT_EQ(stays.outcome.readingNote.rfind(std::wstring(kPlaylistLeftNote) + L": line 3", 0), 0u)
      << WideToUtf8(stays.outcome.readingNote);

  // A UTF-8 playlist naming a file whose name is double-encoded keeps the
  // entry, while its title is repaired.
  const std::string twice = Utf8(shapes::Widened1252(kSongUtf8));
  temp.Write(twice + ".mp3", "audio");
  const Repaired kept = Repair("#EXTINF:1," + twice + "\n" + twice + ".mp3\n", PlaylistKind::kM3u8,
                               nullptr, music + "/list.m3u8");
  ASSERT_EQ(kept.message, WM_FIX_SUCCEEDED);
  EXPECT_EQ(kept.bytes, "#EXTINF:1," + kSongUtf8 + "\n" + twice + ".mp3\n");
}

// A file:// URL of a code-page playlist percent-encodes the page's bytes:
// when those name nothing but their reading names a file, now or once it is
// renamed, the URL is written again with the UTF-8 bytes; one whose reading
// names nothing either stays.
TEST(PlaylistEntries, CodePageUrlsNameTheFileTheirTextReadsAs) {
  fixtures::TempFolder temp;
  const std::string music = temp.path().string();
  const std::string oem = Encode(866, kSong) + ".mp3";
  temp.Write(oem, "audio");
  temp.Write(Utf8(kArtist) + ".mp3", "audio");
  const auto url = [&](const std::string& bytes) {
    std::string text = "file://" + music + "/";
    for (unsigned char c : bytes) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      text += c < 0x80 && c != ' ' ? std::string(1, char(c)) : std::string(hex);
    }
    return text;
  };
  PlaylistRenames renames;
  AddPlaylistRename(&renames, music + "/" + oem, music + "/" + kSongUtf8 + ".mp3");
  const std::string before = "#EXTM3U\r\n#EXTINF:1," + Encode(1251, kSong) + "\r\n" +
                             url(Encode(1251, kSong) + ".mp3") + "\r\n" +
                             url(Encode(1251, kArtist) + ".mp3") + "\r\n" +
                             url(Encode(1251, L"\u041D\u0435\u0442") + ".mp3") + "\r\n";
  const Repaired result = Repair(before, PlaylistKind::kM3u, &renames, music + "/list.m3u");
  ASSERT_EQ(result.message, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(result.bytes, kMark + "#EXTM3U\r\n#EXTINF:1," + kSongUtf8 + "\r\n" +
                              url(kSongUtf8 + ".mp3") + "\r\n" + url(Utf8(kArtist) + ".mp3") +
                              "\r\n" + url(Encode(1251, L"\u041D\u0435\u0442") + ".mp3") +
                              "\r\n");
}

// PL5: a new name that would change what a line is refuses the repair.
TEST(PlaylistEntries, PL5NewNamesThatBreakALineAreRefused) {
  fixtures::TempFolder temp;
  const std::string music = temp.path().string();
  const std::pair<PlaylistKind, std::string> cases[] = {
      {PlaylistKind::kM3u8, "#EXTM3U\nold.mp3\n"},  // a comment
      {PlaylistKind::kCue, "FILE \"old.mp3\" MP3\n"},
      {PlaylistKind::kPls, "[playlist]\nFile1=old.mp3\n"},
  };
  for (const char* name : {"#1.mp3", "a\"b.mp3", "two\nlines.mp3"}) {
    PlaylistRenames renames;
    AddPlaylistRename(&renames, music + "/old.mp3", music + "/" + name);
    for (const auto& [kind, before] : cases) {
      const Repaired result = Repair(before, kind, &renames, music + "/list");
      const bool breaks = std::string(name).find('\n') != std::string::npos ||
                          (name[0] == '#' && kind == PlaylistKind::kM3u8) ||
                          (name[1] == '"' && kind == PlaylistKind::kCue);
      SCOPED_TRACE(before + name);
      EXPECT_EQ(result.message, breaks ? WM_FIX_FAILED : WM_FIX_SUCCEEDED);
      if (breaks) {
        EXPECT_EQ(result.bytes, before);
      }
    }
  }
}

TEST(PlaylistEntries, RenamedPathFollowsFoldersAndFiles) {
  PlaylistRenames renames;
  AddPlaylistRename(&renames, "/m/old", "/m/New");
  AddPlaylistRename(&renames, "/m/old/a.mp3", "/m/New/b.mp3");
  PathString renamed;
  ASSERT_TRUE(RenamedPath(renames, "/m/old/a.mp3", &renamed));
  EXPECT_EQ(renamed, "/m/New/b.mp3");
  ASSERT_TRUE(RenamedPath(renames, "/m/old/sub/c.mp3", &renamed));
  EXPECT_EQ(renamed, "/m/New/sub/c.mp3");
  EXPECT_FALSE(RenamedPath(renames, "/m/older/a.mp3", &renamed));
}
