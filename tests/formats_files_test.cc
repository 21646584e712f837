// The MP4, ASF and RIFF modules over other programs' real files
// (../shared/realworld-formats beside the repository) and over broken
// copies of the samples: no crash, no hang, and right text needs nothing.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <random>

#include <gtest/gtest.h>

#include "tests/fixtures.h"
#include "tests/formats_fixtures.h"

namespace fs = std::filesystem;

namespace {

const formats::Module* ModuleOf(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
  if (extension == ".m4a" || extension == ".mp4" || extension == ".m4b")
    return &formats::kMp4;
  if (extension == ".wma" || extension == ".asf")
    return &formats::kAsf;
  if (extension == ".wav" || extension == ".aif" || extension == ".aiff" || extension == ".aifc" ||
      extension == ".afc")
    return &formats::kRiff;
  return nullptr;
}

// Files broken on purpose, by their names.
bool BrokenOnPurpose(const std::string& name) {
  for (const char* mark : {"segfault", "infloop", "longloop", "zerodiv", "excessive_alloc",
                           "invalid", "106-", "64bit", "corrupt_metadata", "zero_value"}) {
    if (name.find(mark) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace

TEST(FormatFiles, RealWorldFilesNeedNothingAndNeverCrash) {
  const fs::path root = fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld-formats";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no realworld-formats beside the repository";
  std::size_t files = 0, notNeeded = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const formats::Module* module = ModuleOf(entry.path());
    if (!module || !entry.is_regular_file())
      continue;
    ++files;
    const std::string bytes = fixtures::ReadFile(entry.path());
    const std::string name = entry.path().filename().string();
    for (const Redecoding& redecoding : {formats::Automatic(1251), formats::Automatic(1252)}) {
      const formats::Run run = formats::RunModule(*module, bytes, redecoding);
      if (!BrokenOnPurpose(name)) {
        EXPECT_EQ(run.result, WM_FIX_NOT_NEEDED)
            << entry.path() << " " << std::string(run.outcome.detail.begin(), run.outcome.detail.end());
      }
      notNeeded += run.result == WM_FIX_NOT_NEEDED;
    }
  }
  std::cout << files << " files, " << notNeeded << " of " << 2 * files << " runs not needed\n";
  EXPECT_GT(files, 40u);
}

// Every sample cut short at many points, and with bytes changed at random
// in its first kilobytes: the modules read what they can and never crash;
// an edit they give still lies inside the file.
TEST(FormatFiles, BrokenSamplesNeverCrash_F3) {
  const char* const samples[] = {"cp1251-faststart.m4a", "cp1251-padded.m4a",
                                 "cp1251-moov-last.m4a", "widened.wma",
                                 "info-cp1251.wav",      "id3-cp1251.wav",
                                 "name-cp1251.aiff",     "id3-cp1251.aiff"};
  std::mt19937 random(7);
  for (const char* sample : samples) {
    const std::string bytes = formats::Sample(sample);
    const formats::Module* module = ModuleOf(sample);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97)
      formats::RunModule(*module, bytes.substr(0, cut), formats::Automatic());
    for (int round = 0; round < 150; ++round) {
      std::string broken = bytes;
      const std::size_t span = std::min<std::size_t>(broken.size(), 2048);
      for (int n = 0; n < 4; ++n)
        broken[random() % span] = char(random() % 256);
      // Sizes of all ones are the likeliest to mislead a reader.
      if (round % 3 == 0)
        broken.replace(random() % (span - 8), 4, "\xFF\xFF\xFF\xFF");
      formats::RunModule(*module, broken, formats::Automatic());
    }
  }
}
