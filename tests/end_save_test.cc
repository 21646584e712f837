// A tag at the end of a file that changes size (an APEv2 tag of .ape and .wv
// files): its save records the tag alone, writes it in place and moves the
// file's end, and recovery tells every state it leaves between its record
// and its batch's mark. The invariants named are those of
// engine/group-commit.h.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/commit/edit.h"
#include "engine/commit/recovery.h"
#include "engine/commit/write-steps.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes)
    c = char(random());
  return bytes;
}

struct EndCase {
  const char* name;
  std::size_t oldTag, newTag;
};

// The file, its repair and the record of the save that makes one the other.
struct EndSave {
  std::string original, repaired;
  SaveRecord record;
};

EndSave Describe(const fs::path& path, const EndCase& c) {
  const std::string audio = RandomBytes(200000, 1);
  EndSave save;
  save.original = audio + "APETAGEX" + RandomBytes(c.oldTag - 8, 2);
  const std::string tag = "APETAGEX" + RandomBytes(c.newTag - 8, 3);
  save.repaired = audio + tag;
  WriteFile(path, save.original);
  EditStream stream(path.native());
  stream.Replace(audio.size(), c.oldTag, tag);
  EXPECT_TRUE(stream.DescribeChange(&save.record));
  return save;
}

const EndCase kCases[] = {{"grows", 300, 2000}, {"shrinks", 3000, 500}};

}  // namespace

// I2: the record holds the tag alone, not the audio before it, and the save
// writes the tag in place and moves the end: the repair, byte for byte.
TEST(EndSave, I2_TheTagAloneIsRecordedAndWrittenInPlace) {
  for (const EndCase& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path path = folder.path() / "song.wv";
    EndSave save = Describe(path, c);
    EXPECT_EQ(200000u, save.record.offset);
    EXPECT_EQ(std::size_t(c.oldTag), save.record.originalBytes.size());
    ASSERT_TRUE(ChangesAtEnd(save.record));
    EditStream stream(path.native());
    stream.Replace(200000, c.oldTag, save.repaired.substr(200000));
    NativeFile* writer = OpenExistingFile(path.native(), true);
    ASSERT_NE(nullptr, writer);
    EXPECT_EQ(StepResult::kWritten, WriteAtEnd(writer, stream, save.record));
    CloseNativeFile(writer);
    EXPECT_EQ(save.repaired, ReadFile(path));
  }
  // A tag at the start that grows still takes room before it, and a change
  // that would rewrite most of a long file takes a copy.
  SaveRecord start;
  start.offset = 0;
  start.originalBytes = std::string(100, 'x');
  start.originalSize = 10000;
  start.repairedSize = 10000 + 4096;
  start.repairedLength = 4196;
  EXPECT_FALSE(ChangesAtEnd(start));
  SaveRecord large = start;
  large.offset = 10;
  large.originalBytes = std::string(400000, 'x');
  large.originalSize = 400010;
  large.repairedLength = 400100;
  large.repairedSize = 400110;
  EXPECT_FALSE(ChangesAtEnd(large));
}

// I6, I7: every state a cut leaves (either size, the range old, new or
// mixed, as a kill or a power loss that kept some writes leaves it) is
// brought back to the original; a complete save and a file that someone
// else changed are left alone.
TEST(EndSave, I6_I7_EveryStateBetweenRecordAndMarkIsRecovered) {
  for (const EndCase& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path path = folder.path() / "song.ape";
    const EndSave save = Describe(path, c);
    const std::size_t offset = std::size_t(save.record.offset);
    const std::string newTag = save.repaired.substr(offset);
    const std::string oldTag = save.original.substr(offset);
    auto sized = [](std::string bytes, std::size_t size) {
      bytes.resize(size, '\0');
      return bytes;
    };
    const std::size_t half = std::min(newTag.size(), oldTag.size()) / 2;
    const std::vector<std::string> cut = {
        // of the original size: the new tag in part over the old one
        sized(save.original.substr(0, offset) + newTag.substr(0, half) + oldTag.substr(half),
              save.original.size()),
        // of the repaired size: the old tag still there, or in part replaced
        sized(save.original, save.repaired.size()),
        sized(save.original.substr(0, offset) + newTag.substr(0, half) + oldTag.substr(half),
              save.repaired.size()),
    };
    for (std::size_t i = 0; i < cut.size(); ++i) {
      SCOPED_TRACE(i);
      WriteFile(path, cut[i]);
      ASSERT_TRUE(RecoverRecordedSave(path.native(), save.record));
      EXPECT_EQ(save.original, ReadFile(path));
    }
    WriteFile(path, save.repaired);
    ASSERT_TRUE(RecoverRecordedSave(path.native(), save.record));
    EXPECT_EQ(save.repaired, ReadFile(path)) << "a complete save stays";
    std::string foreign = cut[2];
    foreign[1000] = char(foreign[1000] ^ 0x5A);  // the audio changed since
    WriteFile(path, foreign);
    ASSERT_TRUE(RecoverRecordedSave(path.native(), save.record));
    EXPECT_EQ(foreign, ReadFile(path)) << "someone else's change is left alone";
  }
}
