// Running the container modules over bytes in memory.
#include "tests/formats_fixtures.h"

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>
#include <taglib/tbytevectorstream.h>

#include "engine/text/album.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-asf.h"
#include "engine/formats/format-mp4.h"
#include "engine/formats/format-riff.h"
#include "engine/formats/format.h"
#include "tests/fixtures.h"

namespace container_fixtures {

namespace {

// A file in memory that counts the bytes read of it.
class CountingStream : public TagLib::ByteVectorStream {
 public:
  explicit CountingStream(const TagLib::ByteVector& data) : TagLib::ByteVectorStream(data) {}
  TagLib::ByteVector readBlock(unsigned long length) override {
    TagLib::ByteVector block = TagLib::ByteVectorStream::readBlock(length);
    read += block.size();
    return block;
  }
  std::uint64_t read = 0;
};

}  // namespace

const Module kMp4{CollectMp4Text, RenderMp4Repair};
const Module kAsf{CollectAsfText, RenderAsfRepair};
const Module kRiff{CollectRiffText, RenderRiffRepair};

Run RunModule(const Module& module, const std::string& bytes, const Redecoding& redecoding) {
  CountingStream stream(TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  SuggestionPool pool;
  pool.distinctTexts = true;
  module.collect(&stream, &pool);
  const FileReading reading = ReadingOfTexts(pool, redecoding, nullptr);
  Run run;
  stream.read = 0;
  run.result = module.render(&stream, reading, &run.outcome, &run.edit);
  run.bytesRead = stream.read;
  run.after = bytes;
  if (run.result == WM_FIX_SUCCEEDED) {
    EXPECT_TRUE(run.edit.recorded);
    EXPECT_LE(run.edit.offset + run.edit.replaced, bytes.size());
    run.after.replace(std::size_t(run.edit.offset), std::size_t(run.edit.replaced),
                      run.edit.bytes);
    EXPECT_LE(run.edit.sizeFieldAt + run.edit.sizeField.size(), run.edit.offset);
    run.after.replace(std::size_t(run.edit.sizeFieldAt), run.edit.sizeField.size(),
                      run.edit.sizeField);
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

Redecoding DecidedAlone(const Module& module, const std::string& bytes) {
  TagLib::ByteVectorStream stream(
      TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  SuggestionPool pool;
  pool.distinctTexts = true;
  module.collect(&stream, &pool);
  return Automatic(DecideAlbum(pool).codePage);
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
  // How the decode ended and how many error lines it reported go with the
  // checksum, so that a repair that breaks the decoding of a file shows.
  const int status = std::system(("ffmpeg -v error -i " + in + " -map 0:a -f md5 - >\"" + out +
                                  "\" 2>\"" + err + "\"").c_str());
  const std::string errors = fixtures::ReadFile(err);
  return fixtures::ReadFile(out) + "status " + std::to_string(status) + ", error lines " +
         std::to_string(std::count(errors.begin(), errors.end(), '\n'));
}

}  // namespace container_fixtures
