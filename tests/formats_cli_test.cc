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
