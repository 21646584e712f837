// A first run as a newcomer meets it: no music folder, folders without MP3
// files, and the sample library that scripts/first-run.sh repairs instead.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli_run.h"
#include "tests/fixtures.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

using Result = ProgramResult;

const char kFolderHint[] = " (the default when no PATH is given); name a folder: songwright PATH";

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::map<std::string, std::string> HomeWithoutConfig(const fs::path& home) {
  return {{"HOME", home.string()}, {"XDG_CONFIG_HOME", ""}};
}

TEST(FirstRun, WithoutMusicFolderTheMessageNamesTheDefaultAndHowToNameOne) {
  TempFolder home;
  const std::string music = (home.path() / "Music").string();
  Result result = RunCli({}, HomeWithoutConfig(home.path()));
  EXPECT_EQ(2, result.status);
  EXPECT_EQ("", result.out);
  EXPECT_EQ(
      "songwright: no music folder at '" + music + "'" + kFolderHint + " (see songwright --help)\n",
      result.err);

  // A preview and --suggest stop the same way, before anything is read.
  EXPECT_EQ(result.err, RunCli({"--dry-run"}, HomeWithoutConfig(home.path())).err);
  EXPECT_EQ(2, RunCli({"--suggest"}, HomeWithoutConfig(home.path())).status);

  // The folder named by the desktop's settings is the one tried.
  home.Write(".config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
  result = RunCli({}, HomeWithoutConfig(home.path()));
  EXPECT_EQ(2, result.status);
  EXPECT_TRUE(Holds(result.err, "no music folder at '" + (home.path() / "Tunes").string() + "'"))
      << result.err;

  // A file where the folder should be is no music folder either.
  home.Write("Tunes", "not a folder");
  EXPECT_TRUE(Holds(RunCli({}, HomeWithoutConfig(home.path())).err, kFolderHint));

  result = RunCli({"--json"}, HomeWithoutConfig(home.path()));
  EXPECT_EQ(2, result.status);
  EXPECT_EQ(0u, result.err.find("{\"type\":\"error\",\"message\":\"no music folder at "))
      << result.err;

  // A PATH that is missing keeps its own message: it is not the default.
  result = RunCli({(home.path() / "missing").string()}, HomeWithoutConfig(home.path()));
  EXPECT_EQ(2, result.status);
  EXPECT_TRUE(Holds(result.err, "is not a file or folder")) << result.err;
}

TEST(FirstRun, FoldersWithoutMp3FilesSaySoAndExitWithZero) {
  TempFolder empty;
  TempFolder notes;
  notes.Write("notes.txt", "not music");
  notes.Write("Album/cover.jpg", "\xFF\xD8");
  for (const TempFolder* folder : {&empty, &notes}) {
    const std::string path = folder->path().string();
    Result result = RunCli({path});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("No music files found in " + path + "\n", result.out);

    result = RunCli({"--dry-run", path});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("Preview: no music files found in " + path + "; nothing was written\n", result.out);

    result = RunCli({"--json", path});
    EXPECT_EQ(0, result.status);
    EXPECT_TRUE(Holds(result.out, "\"summary\":\"No music files found in " + path +
                                      "\",\"preview\":false,\"found\":0,\"fixed\":0"))
        << result.out;
  }
  // Every folder of the run is named.
  const Result both = RunCli({empty.path().string(), notes.path().string()});
  EXPECT_EQ("No music files found in " + empty.path().string() + ", " + notes.path().string() + "\n",
            both.out);
}

TEST(FirstRun, FilesThatAreNotMpegAudioAreNeverWrittenAndReportedByTheirName) {
  TempFolder folder;
  folder.Write("empty.mp3", "");
  folder.Write("text.mp3", "these are words, not MPEG audio");
  Result result = RunCli({"-v", folder.path().string()});
  EXPECT_EQ(0, result.status);
  EXPECT_TRUE(Holds(result.out, "not needed\tempty.mp3\n")) << result.out;
  EXPECT_TRUE(Holds(result.out, "not needed\ttext.mp3\n")) << result.out;
  EXPECT_TRUE(Holds(result.out, "No files needed fixing\n")) << result.out;
  EXPECT_EQ("these are words, not MPEG audio", ReadFile(folder.path() / "text.mp3"));

  // Named on the command line: a name ending in .mp3 is read as MP3 whatever
  // it holds; any other name is read by its bytes.
  const fs::path text = folder.path() / "text.mp3";
  result = RunCli({"-v", text.string()});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("not needed\t" + text.string() + "\nNo files needed fixing\n", result.out);
  const fs::path notes = folder.Write("notes.txt", "these are words, not MPEG audio");
  result = RunCli({notes.string()});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("failed\t" + notes.string() + "\tCouldn't open file\nCouldn't fix 1 file\n",
            result.out);
  const fs::path copy = folder.Write("song.bak", Needing());
  result = RunCli({"-c", "1251", copy.string()});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("fixed\t" + copy.string() + "\nSuccessfully fixed 1 file\n", result.out);
}

// --- The sample library -------------------------------------------------------

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += char(c & 0xFF);
    bytes += char(c >> 8);
  }
  return bytes;
}

std::map<fs::path, std::string> FilesBelow(const fs::path& folder) {
  std::map<fs::path, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[entry.path()] = ReadFile(entry.path());
  }
  return files;
}

TEST(FirstRun, SampleLibraryIsRepairedAndItsWesternAlbumLeftByteForByte) {
  TempFolder library;
  ASSERT_EQ(0, RunProgram({SONGWRIGHT_SAMPLE_LIBRARY, library.path().string()}).status);
  const std::map<fs::path, std::string> before = FilesBelow(library.path());
  ASSERT_EQ(16u, before.size());

  const Result preview = RunCli({"--dry-run", library.path().string()});
  EXPECT_EQ(0, preview.status);
  for (const char* after : {"→  Утро над рекой", "→  Белые ночи", "→  Żółta łódź",
                            "→  Złote Liście", "→  Ticho před bouří", "→  Modrá řeka"})
    EXPECT_TRUE(Holds(preview.out, after)) << after << "\n" << preview.out;
  EXPECT_TRUE(Holds(preview.out, "Preview: would fix 12 files; nothing was written"));
  EXPECT_EQ(before, FilesBelow(library.path()));

  const Result repair = RunCli({library.path().string()});
  EXPECT_EQ(0, repair.status) << repair.err;
  EXPECT_EQ("Successfully fixed 12 files", Lines(repair.out).back());
  const std::map<fs::path, std::string> after = FilesBelow(library.path());
  for (const auto& [path, bytes] : before) {
    const bool western = Holds(path.string(), "4 right Western text");
    EXPECT_EQ(western, bytes == after.at(path)) << path;
    // The audio, the last 8,340 bytes, stays as it was.
    EXPECT_EQ(bytes.substr(bytes.size() - 8340),
              after.at(path).substr(after.at(path).size() - 8340));
  }
  const fs::path album = library.path() / "1 cp1251 in Latin-1 frames";
  EXPECT_TRUE(Holds(after.at(album / "01.mp3"), Utf16Le(u"Утро над рекой")));
  const fs::path czech = library.path() / "3 UTF-8 read as cp1252 twice";
  EXPECT_TRUE(Holds(after.at(czech / "04.mp3"), "Ticho před bouří"));

  const Result again = RunCli({library.path().string()});
  EXPECT_EQ("No files needed fixing\n", again.out);
}

TEST(FirstRun, ScriptPreviewsTheMusicFolderOrElseRepairsTheSample) {
  TempFolder home;
  const std::string sample = (home.path() / "sample").string();
  const std::vector<std::string> script = {
      "/bin/bash", SONGWRIGHT_SOURCE_DIR "/scripts/first-run.sh",
      "--built",   SONGWRIGHT_BUILD_DIR,
      "--sample",  sample};
  auto inHome = [&home] {
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  };
  ProgramResult result = RunProgram(script, inHome);
  EXPECT_EQ(0, result.status) << result.out << result.err;
  EXPECT_TRUE(Holds(result.err, "no music folder at")) << result.err;
  EXPECT_TRUE(Holds(result.out, "Successfully fixed 12 files")) << result.out;
  EXPECT_TRUE(Holds(result.out, "No files needed fixing")) << result.out;
  EXPECT_TRUE(fs::exists(fs::path(sample) / "4 right Western text" / "01.mp3"));

  // With a music folder, only a preview: the file stays as it was.
  const fs::path song = home.Write("Music/a.mp3", Needing());
  const std::string bytes = ReadFile(song);
  result = RunProgram(script, inHome);
  EXPECT_EQ(0, result.status) << result.out << result.err;
  EXPECT_TRUE(Holds(result.out, "Preview: ")) << result.out;
  EXPECT_FALSE(Holds(result.out, "sample library")) << result.out;
  EXPECT_EQ(bytes, ReadFile(song));
}

}  // namespace
