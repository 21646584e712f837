// Every format through the command line as a user runs it: found by the
// scan, repaired in one run (an MP3 file's ID3v2 and APEv2 tags both, in
// two saves), playlists following renamed files, and undone byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli_run.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"
#include "tests/name_tree.h"
#include "tests/shapes_fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

const char kSongCp1251[] = "\xCF\xE5\xF1\xED\xFF";                     // "Песня"
const char kSongUtf8[] = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F";  // "Песня"
const char kRiverCp1251[] = "\xD0\xE5\xEA\xE0";                        // "Река"
const char kRiverUtf8[] = "\xD0\xA0\xD0\xB5\xD0\xBA\xD0\xB0";

struct Library {
  TempFolder folder, state;
  std::map<std::string, std::string> environment = {{"XDG_STATE_HOME", state.path().string()}};
  ProgramResult Run(std::vector<std::string> arguments) const {
    arguments.push_back(folder.path().string());
    return RunCli(arguments, environment);
  }
};

}  // namespace

// An MP3 file whose ID3v2 tag and APEv2 tag both hold code-page text is
// repaired whole in one run, told once, and undone byte for byte.
TEST(FormatsCommandLine, AnMp3FilesTwoTagsAreBothRepairedInOneRunAndUndone) {
  Library library;
  const std::string original = Id3v2Tag({TextFrame("TIT2", kSongCp1251)}) + MpegFrames(6) +
                               ApeTag("Title", kSongCp1251);
  const fs::path song = library.folder.Write("album/song.mp3", original);
  const ProgramResult run = library.Run({"-c", "1251"});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(1u, Count(run.out, "fixed\t"));
  const std::string repaired = ReadFile(song);
  EXPECT_EQ(std::string::npos, repaired.find(kSongCp1251)) << "a tag was left";
  EXPECT_EQ(1u, Count(repaired, std::string(kSongUtf8))) << "the APEv2 tag holds UTF-8";
  // Nothing is left for a second run.
  EXPECT_EQ(std::string::npos, library.Run({"-c", "1251"}).out.find("fixed\t"));
  EXPECT_EQ(0, RunCli({"--undo"}, library.environment).status);
  EXPECT_EQ(original, ReadFile(song));
}

// The scan finds other formats; a preview lists their fields and writes
// nothing; the run repairs them.
TEST(FormatsCommandLine, OtherFormatsAreFoundPreviewedAndRepaired) {
  Library library;
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  const std::string flac = formats::FlacFile(
      {{0, streamInfo}, {4, formats::VorbisComment("v", {std::string("TITLE=") + kSongCp1251})}},
      audio);
  const fs::path path = library.folder.Write("album/a.FLAC", flac);
  library.folder.Write("album/notes.txt", kSongCp1251);
  const ProgramResult preview = library.Run({"-n"});
  EXPECT_NE(std::string::npos, preview.out.find("would fix\talbum/a.FLAC")) << preview.out;
  EXPECT_NE(std::string::npos, preview.out.find(kSongUtf8));
  EXPECT_EQ(flac, ReadFile(path));
  EXPECT_EQ(0, library.Run({}).status);
  EXPECT_NE(std::string::npos, ReadFile(path).find(std::string("TITLE=") + kSongUtf8));
  EXPECT_EQ(kSongCp1251, ReadFile(library.folder.path() / "album/notes.txt"));
}

// A playlist of code-page text naming files with code-page names: left as
// it is when names stay, and with --rename read as UTF-8 whose entries name
// the renamed folder and file; undo gives every name and byte back.
TEST(FormatsCommandLine, APlaylistFollowsRenamedFilesWithRenameAndStaysWithout) {
  Library library;
  const std::string folder = kRiverCp1251, file = std::string(kSongCp1251) + ".mp3";
  const std::string song = Id3v2Tag({TextFrame("TIT2", kSongCp1251),
                                     TextFrame("TALB", kRiverCp1251)}) + MpegFrames(4);
  library.folder.Write(folder + "/" + file, song);
  const std::string list = "#EXTM3U\r\n#EXTINF:1," + std::string(kSongCp1251) + "\r\n" + folder +
                           "\\" + file + "\r\n";
  const fs::path playlist = library.folder.Write("list.m3u", list);

  const ProgramResult plain = library.Run({"-c", "1251"});
  EXPECT_EQ(0, plain.status) << plain.out << plain.err;
  EXPECT_EQ(list, ReadFile(playlist));

  const ProgramResult renamed = library.Run({"-c", "1251", "--rename"});
  EXPECT_EQ(0, renamed.status) << renamed.out << renamed.err;
  const std::string utf8Entry = std::string(kRiverUtf8) + "\\" + kSongUtf8 + ".mp3";
  EXPECT_EQ("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1," + std::string(kSongUtf8) + "\r\n" + utf8Entry +
                "\r\n",
            ReadFile(playlist));
  EXPECT_TRUE(fs::exists(library.folder.path() / kRiverUtf8 / (std::string(kSongUtf8) + ".mp3")));

  EXPECT_EQ(0, RunCli({"--undo"}, library.environment).status);
  EXPECT_EQ(list, ReadFile(playlist));
  EXPECT_TRUE(fs::exists(library.folder.path() / folder / file));
}

namespace {

// The paths the entries of an .m3u or a .cue name, as written.
std::vector<std::string> EntriesOf(const std::string& list, bool cue) {
  std::vector<std::string> entries;
  for (std::string line : Lines(list)) {
    if (line.rfind("\xEF\xBB\xBF", 0) == 0)
      line.erase(0, 3);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (cue && line.rfind("FILE \"", 0) == 0)
      entries.push_back(line.substr(6, line.find('"', 6) - 6));
    else if (!cue && !line.empty() && line[0] != '#')
      entries.push_back(line);
  }
  return entries;
}

}  // namespace

// PL4: in a folder where one repaired name is taken and another is too long,
// the playlist and the cue sheet are converted all the same, the entries of
// the names that stay keep their bytes, every entry resolves after the run,
// nothing is a failure, and the undo gives back names and lists exactly.
TEST(FormatsCommandLine, PL4EveryEntryResolvesWhenSomeNamesStay) {
  Library library;
  const std::wstring titles[] = {L"Καλημέρα κόσμε", L"Σαν σήμερα",
                                 std::wstring(130, L'α') + L" Ο κήπος"};
  std::string m3u = "#EXTM3U\r\n", cue = "PERFORMER \"" + shapes::Encode(1253, L"Χατζιδάκις") +
                                         "\"\r\n";
  for (int i = 0; i < 3; ++i) {
    const std::string title = shapes::Encode(1253, titles[i]);
    const std::string name = "0" + std::to_string(i + 1) + " " + title + ".mp3";
    library.folder.Write("album/" + name, Id3v2Tag({TextFrame("TIT2", title)}) + MpegFrames(2));
    m3u += "#EXTINF:1," + title + "\r\n" + name + "\r\n";
    cue += "FILE \"" + name + "\" MP3\r\n  TRACK 0" + std::to_string(i + 1) + " AUDIO\r\n";
  }
  library.folder.Write("album/02 " + shapes::Utf8(titles[1]) + ".mp3", "taken");
  const fs::path album = library.folder.path() / "album";
  const fs::path m3uPath = library.folder.Write("album/list.m3u", m3u);
  const fs::path cuePath = library.folder.Write("album/album.cue", cue);
  const name_tree::Tree before = name_tree::ReadTree(library.folder.path());

  const ProgramResult run = library.Run({"--rename", "-c", "1253", "--json", "-v"});
  EXPECT_EQ(std::string::npos, run.out.find("Couldn't save changes")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("\"failed\":0")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("kept byte for byte: lines 5, 7")) << run.out;
  EXPECT_TRUE(fs::exists(album / ("01 " + shapes::Utf8(titles[0]) + ".mp3"))) << run.out;
  for (const auto& [path, isCue] : {std::pair(m3uPath, false), std::pair(cuePath, true)}) {
    const std::string now = ReadFile(path);
    EXPECT_NE(now, isCue ? cue : m3u) << "not converted: " << path;
    const std::vector<std::string> entries = EntriesOf(now, isCue);
    EXPECT_EQ(3u, entries.size()) << now;
    for (const std::string& entry : entries)
      EXPECT_TRUE(fs::exists(album / entry)) << path << ": " << entry;
  }
  EXPECT_NE(std::string::npos, ReadFile(m3uPath).find(shapes::Utf8(titles[1])));

  const ProgramResult undo = RunCli({"--undo"}, library.environment);
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  EXPECT_EQ(before, name_tree::ReadTree(library.folder.path()));
}

// D3: a cue sheet of a DOS tool beside tracks whose tags are cp1251 reads
// through cp866, in a plain run and in one that repairs names (where the
// tags' page comes from the run before).
TEST(FormatsCommandLine, D3ADosCueSheetBesideWindowsTagsReadsThroughItsPage) {
  Library library;
  const std::wstring performer = L"Вспомогательный", title = L"Город золотой";
  library.folder.Write("01.mp3", Id3v2Tag({TextFrame("TIT2", shapes::Encode(1251, title)),
                                           TextFrame("TPE1", shapes::Encode(1251, performer))}) +
                                     MpegFrames(2));
  const std::string cue = "PERFORMER \"" + shapes::Encode(866, performer) +
                          "\"\r\nFILE \"01.mp3\" MP3\r\n  TRACK 01 AUDIO\r\n    TITLE \"" +
                          shapes::Encode(866, title) + "\"\r\n";
  const fs::path cuePath = library.folder.Write("album.cue", cue);
  const std::string expected = "\xEF\xBB\xBFPERFORMER \"" + shapes::Utf8(performer) +
                               "\"\r\nFILE \"01.mp3\" MP3\r\n  TRACK 01 AUDIO\r\n    TITLE \"" +
                               shapes::Utf8(title) + "\"\r\n";
  for (const char* option : {"--verbose", "--rename"}) {
    const ProgramResult run = library.Run({option});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_EQ(expected, ReadFile(cuePath)) << option;
    EXPECT_EQ(0, RunCli({"--undo"}, library.environment).status);
    EXPECT_EQ(cue, ReadFile(cuePath));
  }
}
