// The FLAC, Ogg and APEv2 modules on files from elsewhere: real files from
// other projects' test suites (right text stays, broken files are left),
// and repaired files checked by the formats' own tools where installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;

namespace {

// SONGWRIGHT_REALWORLD_FORMATS names the folder when it is not beside the
// repository (a git worktree, a copy elsewhere).
fs::path RealworldFolder() {
  if (const char* folder = std::getenv("SONGWRIGHT_REALWORLD_FORMATS"))
    return fs::path(folder);
  return fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld-formats";
}

const formats::Module* ModuleOf(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return char(std::tolower(c)); });
  if (ext == ".flac")
    return &formats::kFlac;
  if (ext == ".ogg" || ext == ".oga" || ext == ".opus")
    return &formats::kOgg;
  if (ext == ".ape" || ext == ".wv")
    return &formats::kApe;
  return nullptr;
}

// Files broken on purpose, whose junk bytes in a field are not text.
bool BrokenOnPurpose(const std::string& name) {
  for (const char* mark : {"corrupt_metadata", "infloop"})
    if (name.find(mark) != std::string::npos)
      return true;
  return false;
}

TEST(RealWorldFormats, RightTextStaysAndBrokenFilesAreLeft) {
  const fs::path folder = RealworldFolder();
  if (!fs::is_directory(folder))
    GTEST_SKIP() << "no real-world files at " << folder.string();
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file() && ModuleOf(entry.path()))
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  std::map<std::string, int> tally;
  for (const fs::path& path : files) {
    const std::string name = fs::relative(path, folder).string();
    const std::string bytes = fixtures::ReadFile(path);
    for (const Redecoding& redecoding : {formats::Automatic(), formats::Named()}) {
      const formats::Result result = formats::Repair(*ModuleOf(path), bytes, redecoding);
      ++tally[result.result == WM_FIX_SUCCEEDED   ? "would change"
              : result.result == WM_FIX_FAILED    ? "refused"
                                                : "need nothing"];
      if (result.result == WM_FIX_FAILED)
        std::cout << "  refused " << name << ": " << WideToUtf8(result.outcome.detail) << "\n";
      if (result.result != WM_FIX_SUCCEEDED)
        continue;
      std::cout << "  would change " << name << "\n";
      EXPECT_TRUE(BrokenOnPurpose(name)) << name << " " << result.outcome.changes[0].frameId;
      EXPECT_NE(formats::Repair(*ModuleOf(path), result.after, redecoding).result,
                unsigned(WM_FIX_FAILED))
          << name;
    }
  }
  std::cout << files.size() << " files, read twice each:";
  for (const auto& [what, count] : tally)
    std::cout << " " << count << " " << what << ";";
  std::cout << "\n";
}

bool Installed(const char* tool) { return fs::exists(fs::path("/usr/bin") / tool); }

// The tool's verdict on the file: empty when it found nothing wrong.
std::string Complaint(const std::vector<std::string>& argv) {
  const ProgramResult run = RunProgram(argv);
  const std::string all = run.out + run.err;
  if (run.status != 0 || all.find("WARNING") != std::string::npos ||
      all.find("ERROR") != std::string::npos || all.find("rror") != std::string::npos)
    return all.empty() ? "status " + std::to_string(run.status) : all;
  return std::string();
}

TEST(FormatTools, RepairedFlacPassesItsDecodersTest) {
  if (!Installed("flac"))
    GTEST_SKIP() << "flac is not installed";
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  const std::string comment =
      formats::VorbisComment("v", {"TITLE=" + formats::Cp1251(L"Группа крови")});
  fixtures::TempFolder temp;
  for (int padding : {100, 0}) {
    const std::string file =
        formats::FlacFile({{0, streamInfo}, {4, comment}, {1, std::string(std::size_t(padding), '\0')}},
                          audio);
    const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED);
    const fs::path path = temp.Write("repaired.flac", result.after);
    EXPECT_EQ(Complaint({"/usr/bin/flac", "-t", "-s", path.string()}), "") << padding;
  }
}

TEST(FormatTools, RepairedOggAndOpusPassTheirCheckers) {
  if (!Installed("ogginfo") || !Installed("opusinfo"))
    GTEST_SKIP() << "ogginfo or opusinfo is not installed";
  fixtures::TempFolder temp;
  const std::string title = "TITLE=" + formats::Cp1251(L"Группа крови");
  const formats::OggTone vorbis = formats::ReadOggTone("tone.ogg");
  const formats::OggTone opus = formats::ReadOggTone("tone.opus");
  const std::string filler(3000, 'x');
  const std::vector<std::pair<std::string, std::string>> cases{
      {"same-pages.ogg", formats::OggWithComment(
                             vorbis, std::string("\x03vorbis", 7) +
                                         formats::VorbisComment("v", {title, "X=" + filler}) +
                                         "\x01", 9)},
      {"more-pages.ogg",
       formats::OggWithComment(vorbis, std::string("\x03vorbis", 7) +
                                           formats::VorbisComment("v", {title}) + "\x01")},
      {"tags.opus", formats::OggWithComment(opus, "OpusTags" + formats::VorbisComment("v", {title}))},
      {"grown.ogg",
       formats::OggWithComment(
           vorbis, std::string("\x03vorbis", 7) +
                       formats::VorbisComment("v", {"TITLE=" + formats::Cp1251(std::wstring(5000, L'ж'))}) +
                       "\x01" + std::string(10, '\0'))},
      {"grown.opus", formats::OggWithComment(
                         opus, "OpusTags" +
                                   formats::VorbisComment(
                                       "v", {"TITLE=" + formats::Cp1251(std::wstring(5000, L'ж'))}) +
                                   std::string(10, '\0'))}};
  for (const auto& [name, file] : cases) {
    const formats::Result result = formats::Repair(formats::kOgg, file, formats::Named());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << name;
    const fs::path path = temp.Write(name, result.after);
    const char* tool = name.find(".opus") != std::string::npos ? "/usr/bin/opusinfo" : "/usr/bin/ogginfo";
    EXPECT_EQ(Complaint({tool, path.string()}), "") << name;
  }
}

}  // namespace
