// The command line as a user runs it: options, output, exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/platform/platform.h"
#include "tests/cli_run.h"
#include "tests/fixtures.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

using Result = ProgramResult;

}  // namespace

TEST(CommandLine, UsageErrorsPrintOneLineAndTouchNothing) {
  TempFolder folder;
  const fs::path song = folder.Write("song.mp3", Needing());
  const std::string path = folder.path().string();
  const std::vector<std::vector<std::string>> calls = {
      {"--frobnicate", path},
      {"--codepage", "1234", path},
      {"--codepage=koi8-r", path},
      {"--codepage"},
      {""},
      {(folder.path() / "missing").string()},
      {path, (folder.path() / "missing").string()},
      {song.string(), "-q", ""},
      {"-n", "-x", path},
      {"-c"},
      {"--id3v2-version", "2", path},
      {"--jobs", "0", path},
      {"-j", "two", path},
      {"--jobs=99999999999", path},
      {"--dry-run=yes", path},
      {"-q", "-v", path},
      {"/dev/null", path},
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(call.front());
    const Result result = RunCli(call);
    EXPECT_EQ(2, result.status);
    EXPECT_EQ("", result.out);
    EXPECT_EQ(1u, Lines(result.err).size()) << result.err;
  }
  EXPECT_EQ(Needing(), ReadFile(song));
}

TEST(CommandLine, RepairsAFolderAndReportsEachFileAndTheSummary) {
  TempFolder folder;
  folder.Write("Pop/a.mp3", Needing());
  folder.Write("Pop/plain.mp3", Needing("ASCII"));
  folder.Write("Rock/B.MP3", Needing("\xC1"));
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "broken.mp3");

  const Result result = RunCli({"--codepage", "cp1251", "-j3", folder.path().string()});
  EXPECT_EQ(1, result.status) << result.err;
  std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(4u, lines.size()) << result.out;
  EXPECT_EQ("Successfully fixed 2 files, couldn't fix 1 file", lines.back());
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ("failed\tbroken.mp3\tCouldn't open file", lines[0]);
  EXPECT_EQ("fixed\tPop/a.mp3", lines[1]);
  EXPECT_EQ("fixed\tRock/B.MP3", lines[2]);
  EXPECT_EQ("", result.err) << "no progress when stderr is not a terminal";

  fs::remove(folder.path() / "broken.mp3");
  const Result again = RunCli({"--codepage=windows-1251", folder.path().string()});
  EXPECT_EQ(0, again.status);
  EXPECT_EQ("No files needed fixing\n", again.out);
}

TEST(CommandLine, CodePageComesFromTheOptionElseFromEachAlbumsText) {
  const std::string bytes = "\xC0\xE1\xE2";
  struct Case {
    std::vector<std::string> options;
    std::string titleUtf16;  // the repaired TIT2 text, little-endian UTF-16
  } cases[] = {
      {{"--codepage", "1251"}, std::string("\x10\x04\x31\x04\x32\x04", 6)},
      {{"--codepage", "CP1252"}, std::string("\xC0\x00\xE1\x00\xE2\x00", 6)},
      {{"-c", "auto", "-c", "1253"}, std::string("\x90\x03\xB1\x03\xB2\x03", 6)},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const fs::path song = folder.Write("s.mp3", Needing(bytes.c_str()));
    std::vector<std::string> arguments = c.options;
    arguments.push_back(folder.path().string());
    const Result result = RunCli(arguments, {{"LANG", "ru_RU.UTF-8"}});
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_NE(std::string::npos, ReadFile(song).find(c.titleUtf16)) << c.options.back();
  }
  // Without -c the locale names no page: three letters are too little text
  // for the album's own decision, so the file is left as it is.
  for (const char* locale : {"ru_RU.UTF-8", "el_GR.UTF-8", "C"}) {
    TempFolder folder;
    const fs::path song = folder.Write("s.mp3", Needing(bytes.c_str()));
    const Result result = RunCli({folder.path().string()}, {{"LANG", locale}});
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ("No files needed fixing\n", result.out) << locale;
    EXPECT_EQ(Needing(bytes.c_str()), ReadFile(song)) << locale;
  }
}

TEST(CommandLine, NamesThatAreNotUtf8AreShownWithTheirBytesEscaped) {
  TempFolder folder;
  folder.Write("\xC3\xE8\xEC\xED.mp3", Needing());
  const Result result = RunCli({"--codepage", "1251", folder.path().string()});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("fixed\t\\xc3\\xe8\\xec\\xed.mp3", Lines(result.out)[0]);
}

TEST(CommandLine, DefaultFolderIsTheUsersMusicFolder) {
  TempFolder home;
  home.Write("Music/a.mp3", Needing());
  home.Write("Tunes/b.mp3", Needing());
  const std::string homePath = home.path().string();
  Result result = RunCli({"--codepage", "1251"}, {{"HOME", homePath}, {"XDG_CONFIG_HOME", ""}});
  EXPECT_EQ("fixed\ta.mp3", Lines(result.out).at(0));

  home.Write(".config/user-dirs.dirs",
             "# written by xdg-user-dirs-update\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
  result = RunCli({"--codepage", "1251"}, {{"HOME", homePath}, {"XDG_CONFIG_HOME", ""}});
  EXPECT_EQ("fixed\tb.mp3", Lines(result.out).at(0));

  result = RunCli({}, {{"HOME", (home.path() / "nobody").string()}, {"XDG_CONFIG_HOME", ""}});
  EXPECT_EQ(2, result.status);
}

TEST(CommandLine, HelpSaysTheRunDecidesPerAlbumUnlessCNamesAPage) {
  const Result result = RunCli({"--help"}, {{"LANG", "pl_PL.UTF-8"}});
  EXPECT_EQ(0, result.status);
  EXPECT_NE(std::string::npos,
            result.out.find("This run decides the code page per album unless -c names a page."))
      << result.out;
  EXPECT_EQ(result.out, RunCli({"--help"}, {{"LANG", "ru_RU.UTF-8"}}).out);
  const Result version = RunCli({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ(0u, version.out.find("songwright "));
}

TEST(CommandLine, DryRunShowsExactlyWhatTheRealRunRepairsAndWritesNothing) {
  TempFolder folder;
  folder.Write("a.mp3", Id3v2Tag({TextFrame("TIT2", "\xC3\xF0\xF3\xEF\xEF\xE0"),
                                  MultiValueTextFrame("TPE1", {"\xC0", "B"})}) +
                            MpegFrames(4));
  folder.Write("plain.mp3", Needing("ASCII"));
  folder.Write("sub/b.mp3", MpegFrames(4) + Id3v1Tag("\xCA\xE8\xED\xEE"));
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "broken.mp3");
  const auto past = fs::file_time_type::clock::now() - std::chrono::hours(24);
  std::map<std::string, std::string> before;
  for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
    if (!entry.is_regular_file())
      continue;
    fs::last_write_time(entry.path(), past);
    before[entry.path().string()] = ReadFile(entry.path());
  }

  const Result preview = RunCli({"--dry-run", "--codepage", "1251", folder.path().string()});
  EXPECT_EQ(1, preview.status);
  const std::vector<std::string> lines = Lines(preview.out);
  EXPECT_EQ("Preview: would fix 2 files, couldn't fix 1 file; nothing was written", lines.back());
  const auto has = [&lines](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(
      has("  TIT2  \xC3\x83\xC3\xB0\xC3\xB3\xC3\xAF\xC3\xAF\xC3\xA0  \xE2\x86\x92  "
          "\xD0\x93\xD1\x80\xD1\x83\xD0\xBF\xD0\xBF\xD0\xB0"))
      << preview.out;
  EXPECT_TRUE(has("  TPE1  \xC3\x80 / B  \xE2\x86\x92  \xD0\x90 / B")) << preview.out;
  for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
    if (!entry.is_regular_file())
      continue;
    EXPECT_EQ(before[entry.path().string()], ReadFile(entry.path())) << entry.path();
    EXPECT_EQ(past, fs::last_write_time(entry.path())) << entry.path();
  }
  EXPECT_EQ(before.size(),
            size_t(std::count_if(
                fs::recursive_directory_iterator(folder.path()), fs::recursive_directory_iterator(),
                [](const fs::directory_entry& e) { return e.is_regular_file(); })));

  // The real run repairs exactly the files the preview named.
  const Result real = RunCli({"--codepage", "1251", folder.path().string()});
  std::vector<std::string> previewed, repaired;
  for (const std::string& line : lines) {
    if (line.rfind("would fix\t", 0) == 0)
      previewed.push_back(line.substr(10));
  }
  for (const std::string& line : Lines(real.out)) {
    if (line.rfind("fixed\t", 0) == 0)
      repaired.push_back(line.substr(6));
  }
  std::sort(previewed.begin(), previewed.end());
  std::sort(repaired.begin(), repaired.end());
  EXPECT_EQ(repaired, previewed);
  EXPECT_EQ((std::vector<std::string>{"a.mp3", "sub/b.mp3"}), repaired);
}

TEST(CommandLine, UndoPutsEveryFileBackExceptThoseChangedSince) {
  TempFolder folder, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  folder.Write("grows.mp3", Needing());
  folder.Write("fits.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0\xE1")}, 1024) + MpegFrames(4));
  folder.Write("v1/only.mp3", MpegFrames(4) + Id3v1Tag("\xCA\xE8\xED\xEE"));
  folder.Write("touched.mp3", Needing("\xC1"));
  folder.Write("plain.mp3", Needing("ASCII"));
  std::map<fs::path, std::string> original;
  for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
    if (entry.is_regular_file())
      original[entry.path()] = ReadFile(entry.path());
  }
  ASSERT_EQ(0, RunCli({"--codepage", "1251", folder.path().string()}, environment).status);
  folder.Write("touched.mp3", "changed by the user since");
  const Result list = RunCli({"--list-runs"}, environment);
  EXPECT_NE(std::string::npos, list.out.find("4 files  " + folder.path().string())) << list.out;

  const Result undo = RunCli({"--undo"}, environment);
  EXPECT_EQ(1, undo.status);
  EXPECT_EQ("Restored 3 files, left 1 file as they are", Lines(undo.out).back());
  EXPECT_NE(std::string::npos, undo.out.find("left alone\ttouched.mp3\tchanged since the run"));
  for (const auto& [path, bytes] : original) {
    if (path.filename() != "touched.mp3") {
      EXPECT_EQ(bytes, ReadFile(path)) << path;
    }
  }

  // A run without a journal cannot be undone; nothing else is offered.
  TempFolder other;
  other.Write("a.mp3", Needing());
  const std::map<std::string, std::string> fresh = {
      {"XDG_STATE_HOME", other.path().string() + "/state"}};
  EXPECT_EQ(0, RunCli({"--no-journal", "--codepage", "1251", other.path().string()}, fresh).status);
  EXPECT_EQ(2, RunCli({"--undo"}, fresh).status);
}

TEST(CommandLine, SuggestionNamesThePageAndTheAutomaticMode) {
  // Polish titles stored as code page 1250 bytes.
  std::map<wchar_t, char> encode;
  for (int b = 0x80; b < 0x100; ++b)
    encode[DecodeCodePage(1250, std::string(1, char(b)))[0]] = char(b);
  const auto bytes = [&encode](const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
      out.push_back(c < 0x80 ? char(c) : encode.at(c));
    return out;
  };
  const std::wstring titles[] = {L"Zażółć gęślą jaźń",   L"Już nie będę się śmiać",
                                 L"Łąka pełna kwiatów",  L"Źródło mojej miłości",
                                 L"Pożegnanie z Afryką", L"Śpiewaj mi cichą pieśń"};
  TempFolder folder;
  for (int i = 0; i < 24; ++i) {
    folder.Write("album/" + std::to_string(i) + ".mp3",
                 Id3v2Tag({TextFrame("TIT2", bytes(titles[i % 6])),
                           TextFrame("TPE1", bytes(L"Wojciech Młynarski i Przyjaciółki"))}) +
                     MpegFrames(2));
  }
  const std::string path = folder.path().string();
  const Result suggestion = RunCli({"--suggest", path});
  EXPECT_EQ(0, suggestion.status);
  EXPECT_NE(std::string::npos, suggestion.out.find("Suggested: --codepage 1250")) << suggestion.out;
  EXPECT_NE(std::string::npos, suggestion.out.find("without -c (the default, --codepage auto) "
                                                   "decides the page per album"))
      << suggestion.out;

  // Without -c the album's own text decides, whatever the locale.
  const Result preview = RunCli({"--dry-run", path}, {{"LANG", "ru_RU.UTF-8"}});
  EXPECT_EQ(0u, preview.out.find("album\talbum\tcp1250 (Central European, pl)")) << preview.out;
  EXPECT_EQ("", preview.err);
  const Result named = RunCli({"--dry-run", "--codepage", "1250", path}, {{"LANG", "ru_RU.UTF-8"}});
  EXPECT_EQ("", named.err);
  EXPECT_EQ(0, RunCli({"--codepage", "1250", path}).status);
  EXPECT_EQ(std::string::npos, RunCli({"--suggest", path}).out.find("Suggested"))
      << "a repaired library holds no Latin-1 text to judge";
}

TEST(CommandLine, OnlyTheNewestTwentyRunsAreKept) {
  TempFolder folder, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  const fs::path song = folder.Write("a.mp3", Needing());
  for (int run = 0; run < 22; ++run) {
    folder.Write("a.mp3", Needing());  // needs repair again, so each run saves
    ASSERT_EQ(0, RunCli({"--codepage", "1251", folder.path().string()}, environment).status);
  }
  const std::vector<std::string> runs = Lines(RunCli({"--list-runs"}, environment).out);
  EXPECT_EQ(20u, runs.size());
  EXPECT_EQ(20, std::distance(fs::directory_iterator(state.path() / "songwright" / "runs"),
                              fs::directory_iterator()));
}

TEST(CommandLine, ShortOptionsClustersAndDoubleDashMeanWhatTheLongOnesDo) {
  TempFolder folder;
  folder.Write("a.mp3", Needing());
  const fs::path dashed = folder.Write("-dashed.mp3", Needing("\xC1"));
  const std::string path = folder.path().string();
  const Result longForm = RunCli({"--dry-run", "--codepage", "1251", path});
  EXPECT_EQ(0, longForm.status);
  for (const auto& call : std::vector<std::vector<std::string>>{{"-n", "-c", "1251", path},
                                                                {"-nc1251", path},
                                                                {"-nc", "cp1251", path},
                                                                {path, "-n", "--codepage=1251"}}) {
    SCOPED_TRACE(call.front());
    const Result result = RunCli(call);
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ(longForm.out, result.out);
  }
  EXPECT_EQ(RunCli({"--version"}).out, RunCli({"-V"}).out);
  EXPECT_EQ(RunCli({"--help"}).out, RunCli({"-h"}).out);

  // After "--" a name that starts with a dash is a path.
  const Result afterDashes = RunCli({"-c", "1251", "--", dashed.string()}, {}, folder.path());
  EXPECT_EQ(0, afterDashes.status) << afterDashes.err;
  EXPECT_EQ("fixed\t" + dashed.string() + "\nSuccessfully fixed 1 file\n", afterDashes.out);
}

TEST(CommandLine, SeveralFilesAndFoldersAreOneRunShownAsFound) {
  TempFolder folder;
  folder.Write("one/a.mp3", Needing());
  folder.Write("one/plain.mp3", Needing("ASCII"));
  folder.Write("two/a.mp3", Needing("\xC1"));
  const fs::path single = folder.Write("loose/song.mp3", Needing("\xC2"));
  const fs::path named = folder.Write("loose/not-suffixed.bin", Needing("\xC3"));
  // Relative paths, as typed in the folder that holds them.
  const Result run = RunCli({"-c", "1251", "two", "loose/song.mp3", "one/"}, {}, folder.path());
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(
      "fixed\ttwo/a.mp3\n"
      "fixed\tloose/song.mp3\n"
      "fixed\tone/a.mp3\n"
      "Successfully fixed 3 files\n",
      run.out);
  EXPECT_EQ(std::string::npos, ReadFile(single).find("\xC2")) << "repaired";

  // A file named on its own is taken whatever its name: MPEG audio is
  // repaired, anything else cannot be opened.
  const fs::path text = folder.Write("loose/notes.txt", "not a song");
  const Result other = RunCli({"-c", "1251", named.string(), text.string(), single.string()});
  EXPECT_EQ(1, other.status);
  EXPECT_EQ("fixed\t" + named.string() + "\nfailed\t" + text.string() +
                "\tCouldn't open file\nSuccessfully fixed 1 file, couldn't fix 1 file\n",
            other.out);
}

TEST(CommandLine, QuietKeepsFailuresAndTheSummaryVerboseAddsFilesThatNeedNothing) {
  TempFolder folder;
  folder.Write("fix.mp3", Needing());
  folder.Write("plain.mp3", Needing("ASCII"));
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "broken.mp3");
  const std::string path = folder.path().string();

  const Result quiet = RunCli({"-q", "-n", "-c", "1251", path});
  EXPECT_EQ(1, quiet.status);
  EXPECT_EQ(
      "failed\tbroken.mp3\tCouldn't open file\n"
      "Preview: would fix 1 file, couldn't fix 1 file; nothing was written\n",
      quiet.out);

  const Result verbose = RunCli({"--verbose", "-c", "1251", "--id3v2-version", "3", path});
  EXPECT_EQ(1, verbose.status);
  std::vector<std::string> lines = Lines(verbose.out);
  std::sort(lines.begin(), lines.end());
  // With -v a failure says why, indented below it.
  EXPECT_EQ((std::vector<std::string>{"  a symbolic link to nothing (its target is missing)",
                                      "Successfully fixed 1 file, couldn't fix 1 file",
                                      "failed\tbroken.mp3\tCouldn't open file", "fixed\tfix.mp3",
                                      "not needed\tplain.mp3"}),
            lines);
  EXPECT_NE(std::string::npos, verbose.err.find("code page 1251 (from -c)")) << verbose.err;
  EXPECT_NE(std::string::npos, verbose.err.find("ID3v2.3")) << verbose.err;
  EXPECT_EQ(3, ReadFile(folder.path() / "fix.mp3")[3]) << "written as ID3v2.3";
}

TEST(CommandLine, JsonGivesOneValidObjectPerLineWithNamesEscaped) {
  TempFolder folder;
  // A quote, a backslash, a tab, a control character and a byte that is not
  // UTF-8 in one name.
  folder.Write(
      "q\"b\\t\t\x01\xE9.mp3",
      Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2"), TextFrame("TALB", "\"x\"")}) + MpegFrames(4));
  folder.Write("plain.mp3", Needing("ASCII"));
  const std::string path = folder.path().string();
  const std::string name =
      "q\\\"b\\\\t\\t\\u0001\xEF\xBF\xBD.mp3\",\"file_bytes\":\"7122625c740901e92e6d7033";

  const Result preview = RunCli({"--json", "-n", "-c", "1251", path});
  EXPECT_EQ(0, preview.status);
  EXPECT_EQ(
      "{\"type\":\"file\",\"file\":\"" + name +
          "\",\"outcome\":\"would fix\",\"frames\":[{\"id\":\"TIT2\",\"before\":\"\xC3\x80\xC3\xA1"
          "\xC3\xA2\",\"after\":\"\xD0\x90\xD0\xB1\xD0\xB2\"}]}\n"
          "{\"type\":\"summary\",\"summary\":\"Preview: would fix 1 file; nothing was written\","
          "\"preview\":true,\"found\":2,\"fixed\":1,\"failed\":0,\"not_needed\":1,"
          "\"unreadable_folders\":0,\"stopped\":false}\n",
      preview.out);

  const Result real = RunCli({"--json", "-v", "-c", "1251", path});
  EXPECT_EQ(0, real.status);
  std::vector<std::string> lines = Lines(real.out);
  ASSERT_EQ(3u, lines.size()) << real.out;
  std::sort(lines.begin(), lines.begin() + 2);
  EXPECT_EQ("{\"type\":\"file\",\"file\":\"plain.mp3\",\"outcome\":\"not needed\"}", lines[0]);
  EXPECT_EQ("{\"type\":\"file\",\"file\":\"" + name + "\",\"outcome\":\"fixed\"}", lines[1]);
  EXPECT_EQ(0u, lines[2].find("{\"type\":\"summary\",\"summary\":\"Successfully fixed 1 file\""));
}

TEST(CommandLine, WhatStoodInTheWayOfASaveShowsWithVerboseAndInJson) {
  TempFolder folder;
  // Bytes that are no frame after the title: they would be lost.
  const std::string frames =
      std::string("TIT2") + std::string("\0\0\0\x04\0\0\0", 7) + "\xC0\xE1\xE2" + "\x01\x02junk";
  const std::string bytes =
      std::string("ID3\x03\0\0\0\0\0", 9) + char(frames.size()) + frames + MpegFrames(4);
  folder.Write("odd.mp3", bytes);
  const std::string path = folder.path().string();

  const Result plain = RunCli({"-c", "1251", path});
  EXPECT_EQ(1, plain.status);
  EXPECT_EQ("failed\todd.mp3\tCouldn't save changes\nCouldn't fix 1 file\n", plain.out)
      << "the reason shows only when asked for";

  const Result verbose = RunCli({"-v", "-c", "1251", path});
  const std::vector<std::string> lines = Lines(verbose.out);
  ASSERT_LE(2u, lines.size()) << verbose.out;
  EXPECT_EQ("failed\todd.mp3\tCouldn't save changes", lines[0]);
  EXPECT_EQ(0u, lines[1].find("  part of the ID3v2 tag cannot be read")) << lines[1];

  const Result json = RunCli({"--json", "-c", "1251", path});
  EXPECT_NE(std::string::npos,
            json.out.find("\"issue\":\"Couldn't save changes\",\"detail\":\"part of the ID3v2 "
                          "tag cannot be read"))
      << json.out;
  EXPECT_EQ(bytes, ReadFile(folder.path() / "odd.mp3"));
}

TEST(CommandLine, ARunOnARelativePathIsUndoneFromAnotherFolder) {
  TempFolder folder, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  const fs::path song = folder.Write("music/a.mp3", Needing());
  const fs::path loose = folder.Write("b.mp3", Needing("\xC1"));
  ASSERT_EQ(0, RunCli({"-c", "1251", "./music", "b.mp3"}, environment, folder.path()).status);
  ASSERT_NE(Needing(), ReadFile(song));

  const Result list = RunCli({"--list-runs"}, environment, "/");
  EXPECT_NE(std::string::npos,
            list.out.find("2 files  " + (folder.path() / "music").string() + ", " + loose.string()))
      << list.out;
  const Result undo = RunCli({"--undo"}, environment, "/");
  EXPECT_EQ(0, undo.status) << undo.out;
  EXPECT_EQ(Needing(), ReadFile(song));
  EXPECT_EQ(Needing("\xC1"), ReadFile(loose));
  EXPECT_NE(std::string::npos, undo.out.find("restored\t" + song.string())) << undo.out;
}

// `--codepage auto`: one decision per album, shown by a preview; a real run
// repairs the albums it is sure of and names on stderr those it is not.
TEST(CommandLine, AutomaticCodePageDecidesPerAlbumAndNamesTheUnsureOnes) {
  TempFolder folder;
  // "Группа крови" and "Закрой за мной дверь" by "Кино", in cp1251.
  const auto russian = [](const char* title) {
    return Id3v2Tag({TextFrame("TIT2", title), TextFrame("TPE1", "\xCA\xE8\xED\xEE"),
                     TextFrame("TALB", "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8")}) +
           MpegFrames(4);
  };
  folder.Write("Kino/1.mp3", russian("\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8"));
  folder.Write("Kino/2.mp3", russian("\xC7\xE0\xEA\xF0\xEE\xE9 \xE7\xE0 \xEC\xED\xEE\xE9 "
                                     "\xE4\xE2\xE5\xF0\xFC"));
  const std::string western =
      Id3v2Tag({TextFrame("TIT2", "Ace of Spades"), TextFrame("TPE1", "Mot\xF6rhead")}) +
      MpegFrames(4);
  const fs::path correct = folder.Write("Motorhead/1.mp3", western);
  // One short cp1250 word: too little to decide on.
  const std::string shortText =
      Id3v2Tag({TextFrame("TIT2", "Ji\xF8\xED")}) + MpegFrames(4);
  const fs::path unsure = folder.Write("Short/1.mp3", shortText);
  const std::string path = folder.path().string();

  const Result preview = RunCli({"--codepage", "auto", "--dry-run", path});
  EXPECT_EQ(0, preview.status) << preview.err;
  const std::vector<std::string> lines = Lines(preview.out);
  const auto line = [&lines](const std::string& start) {
    for (const std::string& l : lines) {
      if (l.compare(0, start.size(), start) == 0)
        return l;
    }
    return std::string();
  };
  EXPECT_EQ(0u, line("album\tKino\t").find("album\tKino\tcp1251 (Cyrillic, ")) << preview.out;
  EXPECT_NE(std::string::npos, line("album\tKino\t").find("confidence 1.00"));
  EXPECT_NE(std::string::npos, line("album\tMotorhead\t").find("reads as Western text"));
  EXPECT_NE(std::string::npos, line("album\tMotorhead\t").find("\"Mot\xC3\xB6rhead\""));
  EXPECT_NE(std::string::npos, line("album\tShort\t").find("not sure (best guess cp1250"));
  EXPECT_EQ("Preview: would fix 2 files; nothing was written", lines.back());
  EXPECT_EQ(western, ReadFile(correct));

  const Result run = RunCli({"--codepage", "auto", path});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("Successfully fixed 2 files", Lines(run.out).back());
  const std::vector<std::string> errors = Lines(run.err);
  ASSERT_EQ(1u, errors.size()) << run.err;
  EXPECT_NE(std::string::npos, errors[0].find("Short (best guess 1250"));
  EXPECT_EQ(western, ReadFile(correct));
  EXPECT_EQ(shortText, ReadFile(unsure));

  // Named per album: the short one as cp1250, relative to FOLDER.
  const Result named = RunCli({"--codepage=auto", "--album-codepage", "./Short/=cp1250", path});
  EXPECT_EQ("fixed\tShort/1.mp3", Lines(named.out).at(0)) << named.out << named.err;
  EXPECT_EQ("", named.err);
  // "Ji\u0159\u00ED" as UTF-16.
  EXPECT_NE(std::string::npos,
            ReadFile(unsure).find(std::string("J\x00i\x00\x59\x01\xED\x00", 8)));
}

TEST(CommandLine, AlbumCodePageNeedsTheAutomaticModeAFolderAndAPage) {
  TempFolder folder;
  folder.Write("A/1.mp3", Needing());
  folder.Write("a=b/1.mp3", Needing());
  const std::string path = folder.path().string();
  for (const std::vector<std::string>& call : std::vector<std::vector<std::string>>{
           {"--codepage", "1251", "--album-codepage", "A=1250", path},
           {"--album-codepage", "A=1250", "-c1251", path},
           {"--codepage", "auto", "--album-codepage", "A", path},
           {"--codepage", "auto", "--album-codepage", "=1250", path},
           {"--codepage", "auto", "--album-codepage=A=koi8", path},
           {"--codepage", "auto", "--album-codepage"}}) {
    SCOPED_TRACE(call.back());
    const Result result = RunCli(call);
    EXPECT_EQ(2, result.status);
    EXPECT_EQ(1u, Lines(result.err).size()) << result.err;
  }
  // A folder holding '=' splits at the last one; "leave" is a page.
  EXPECT_EQ(0, RunCli({"--codepage", "auto", "--album-codepage", "a=b=leave", path}).status);
  EXPECT_EQ(Needing(), ReadFile(folder.path() / "A" / "1.mp3"));
  EXPECT_EQ(Needing(), ReadFile(folder.path() / "a=b" / "1.mp3"));
}
