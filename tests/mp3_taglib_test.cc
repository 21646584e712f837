// TagLib's reading of an MP3 file's tags without its MP3 file type must
// find the same tags the type finds: the same ID3v2 tag or none, and the
// same ID3v1 fields, on built files, on random bytes and on real files.
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <taglib/mpegfile.h>

#include "engine/formats/mp3-taglib.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;

namespace {

// What a reading of the tags shows, in a form that compares.
std::string Describe(const TagLib::ID3v2::Tag* id3v2, const TagLib::ID3v1::Tag* id3v1) {
  std::string out = id3v2 ? "id3v2:" : "no id3v2;";
  if (id3v2) {
    for (const TagLib::ID3v2::Frame* frame : id3v2->frameList())
      out += std::string(frame->frameID().data(), frame->frameID().size()) + "=" +
             frame->toString().to8Bit(true) + ";";
  }
  if (id3v1)
    out += " id3v1:" + id3v1->title().to8Bit(true) + "|" + id3v1->artist().to8Bit(true) + "|" +
           id3v1->album().to8Bit(true) + "|" + id3v1->comment().to8Bit(true) + "|" +
           std::to_string(id3v1->year()) + "|" + std::to_string(id3v1->track()) + "|" +
           std::to_string(id3v1->genreNumber());
  return out;
}

std::string ThroughFileType(const fs::path& path) {
  EditStream stream(path.native());
  TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
  return Describe(file.hasID3v2Tag() ? file.ID3v2Tag(false) : nullptr, file.ID3v1Tag(false));
}

std::string ThroughOwnSearch(const fs::path& path) {
  EditStream stream(path.native());
  Mp3TagLibTags tags;
  if (!ReadMp3TagsThroughTagLib(&stream, &tags))
    return "not open";
  return Describe(tags.id3v2.get(), tags.id3v1.get());
}

void ExpectSameReading(const fs::path& path, const std::string& label) {
  EXPECT_EQ(ThroughOwnSearch(path), ThroughFileType(path)) << label;
}

std::string Junk(std::mt19937* random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes)
    byte = char((*random)() & 0x7F);  // no frame sync by chance
  return bytes;
}

}  // namespace

TEST(Mp3TagLibReading, FindsTheTagsTheMp3FileTypeFinds) {
  using namespace fixtures;
  TempFolder folder;
  const std::string tag = Id3v2Tag({TextFrame("TIT2", "\xcf\xe5\xf1\xed\xff")}, 64);
  const std::string audio = MpegFrames(6);
  std::mt19937 random(5);
  // A sync whose next frame does not follow: not a valid frame.
  const std::string falseSync = std::string("\xff\xfb\x90\x00", 4) + Junk(&random, 40);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"tag at the start", tag + audio},
      {"junk, then the tag", Junk(&random, 3000) + tag + audio},
      {"audio, then a tag", audio + tag},
      {"a false sync, then the tag", falseSync + tag + audio},
      {"junk across a block, then the tag", Junk(&random, 70000) + tag + audio},
      {"no tag at all", Junk(&random, 5000)},
      {"empty", ""},
      {"two bytes", "ID"},
      {"ID3v1 only", audio + Id3v1Tag("Title", "Artist", "Album", "1999", 3)},
      {"ID3v1 in a file of 129 bytes", std::string(1, 'x') + Id3v1Tag("Short")},
      {"ID3v1 in a file of 100 bytes", std::string("TAG") + std::string(97, 'a')},
      {"APE footer before ID3v1", audio + ApeTag("Title", "x") + Id3v1Tag("After APE")},
      {"an APE key whose TAG is not an ID3v1 tag",
       "x" + std::string("APETAGEX") + std::string(123, 'k')},
      {"both tags", tag + audio + Id3v1Tag("\xcf\xe5\xf1\xed\xff")},
      {"an ID3 split over the search's blocks", Junk(&random, 65535) + tag + audio},
  };
  for (const auto& [label, bytes] : cases)
    ExpectSameReading(folder.Write("case.mp3", bytes), label);
}

// Random files of frames, syncs and "ID3" marks in any order.
TEST(Mp3TagLibReading, AgreesWithTheMp3FileTypeOnRandomFiles) {
  using namespace fixtures;
  TempFolder folder;
  std::mt19937 random(11);
  const std::string tag = Id3v2Tag({TextFrame("TPE1", "\xc0\xe1\xe2")}, 10);
  const std::vector<std::string> pieces = {MpegFrames(1),
                                           MpegFrames(2, 3),
                                           tag,
                                           "ID3",
                                           std::string("\xff\xfb", 2),
                                           std::string("\xff\xe3\x18\xc4", 4),
                                           "TAG",
                                           "APETAGEX",
                                           std::string(417, '\0')};
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    const int count = int(random() % 8);
    for (int i = 0; i < count; ++i) {
      bytes += pieces[random() % pieces.size()];
      bytes += Junk(&random, random() % 600);
    }
    ExpectSameReading(folder.Write("random.mp3", bytes), "round " + std::to_string(round));
  }
}

TEST(Mp3TagLibReading, AgreesWithTheMp3FileTypeOnRealFiles) {
  const fs::path root = fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no realworld beside the repository";
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mp3") {
      ExpectSameReading(entry.path(), entry.path().string());
      ++files;
    }
  }
  EXPECT_GT(files, 100);
}
