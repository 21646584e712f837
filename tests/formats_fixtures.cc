// Running the container modules over bytes in memory.
#include "tests/formats_fixtures.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <taglib/tbytevectorstream.h>

#include "engine/container-text.h"
#include "engine/format.h"
#include "tests/fixtures.h"

namespace formats {

const Module kMp4{CollectMp4Text, RenderMp4Repair};
const Module kAsf{CollectAsfText, RenderAsfRepair};
const Module kRiff{CollectRiffText, RenderRiffRepair};

Run RunModule(const Module& module, const std::string& bytes, const Redecoding& redecoding) {
  TagLib::ByteVectorStream stream(
      TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  SuggestionPool pool;
  pool.distinctTexts = true;
  module.collect(&stream, &pool);
  const FileReading reading = ReadingOfTexts(pool, redecoding, nullptr);
  Run run;
  run.result = module.render(&stream, reading, &run.outcome, &run.edit);
  run.after = bytes;
  if (run.result == WM_FIX_SUCCEEDED) {
    EXPECT_TRUE(run.edit.recorded);
    EXPECT_LE(run.edit.offset + run.edit.replaced, bytes.size());
    run.after.replace(std::size_t(run.edit.offset), std::size_t(run.edit.replaced),
                      run.edit.bytes);
  }
  return run;
}

Redecoding Automatic(unsigned codePage) {
  Redecoding redecoding;
  redecoding.automatic = true;
  redecoding.codePage = codePage;
  return redecoding;
}

Redecoding Named(unsigned codePage) {
  Redecoding redecoding;
  redecoding.codePage = codePage;
  return redecoding;
}

std::string Sample(const std::string& name) {
  return fixtures::ReadFile(std::filesystem::path(SONGWRIGHT_SOURCE_DIR) / "tests" / "data" /
                            "formats" / name);
}

std::wstring ChangedTo(const FileOutcome& outcome, const std::string& frameId) {
  for (const FrameChange& change : outcome.changes) {
    if (change.frameId == frameId)
      return change.after;
  }
  return L"(none)";
}

bool HaveFfmpeg() {
  return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

std::string AudioMd5(const std::filesystem::path& path) {
  if (!HaveFfmpeg())
    return std::string();
  const std::string in = "\"" + path.string() + "\"";
  const std::string out = path.string() + ".md5", err = path.string() + ".err";
  // A decode that reports any error fails, whatever the checksum.
  EXPECT_EQ(std::system(("ffmpeg -v error -i " + in + " -f null - 2>\"" + err + "\"").c_str()), 0);
  EXPECT_EQ(fixtures::ReadFile(err), "") << path;
  EXPECT_EQ(std::system(("ffmpeg -v error -i " + in + " -map 0:a -f md5 - >\"" + out + "\"").c_str()),
            0);
  return fixtures::ReadFile(out);
}

}  // namespace formats
