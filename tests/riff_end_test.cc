// A WAV or AIFF file whose ID3 chunk is the last of the file (where taggers
// put it, after the audio): a tag that must grow is written at the file's
// end, the chunk's and the form's sizes with it, and nothing before the
// chunk moves. The invariants named are those of engine/group-commit.h.
#include <gtest/gtest.h>
#include <taglib/aifffile.h>
#include <taglib/id3v2tag.h>
#include <taglib/wavfile.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/undo.h"
#include "engine/containers/container-bytes.h"
#include "engine/commit/edit.h"
#include "engine/commit/journal.h"
#include "engine/commit/recovery.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

// "Песня о друге" in cp1251, in a Latin-1 frame: UTF-16 makes it longer.
const char kTitle[] = "\xCF\xE5\xF1\xED\xFF \xEE \xE4\xF0\xF3\xE3\xE5";

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string Sized(bool big, std::uint64_t size) {
  return big ? BigEndianBytes(size, 4) : LittleEndianBytes(size, 4);
}

std::string Chunk(bool big, const std::string& id, const std::string& data) {
  return id + Sized(big, data.size()) + data + (data.size() % 2 ? std::string(1, '\0') : "");
}

// The audio chunk's bytes (header and data) of a file of a few samples.
std::string AudioChunk(bool big) {
  std::string samples;
  for (int i = 0; i < 4000; ++i)
    samples.push_back(char(i * 7 + 3));
  return big ? Chunk(true, "SSND", std::string(8, '\0') + samples) : Chunk(false, "data", samples);
}

// A WAV or AIFF file: its format chunk, the audio, then `after`.
std::string Form(bool big, const std::string& after) {
  const std::string format =
      big ? Chunk(true, "COMM",
                  std::string("\x00\x01\x00\x00\x07\xD0\x00\x10\x40\x0E\xAC\x44", 12) +
                      std::string(6, '\0'))
          : Chunk(false, "fmt ",
                  std::string("\x01\x00\x01\x00\x44\xAC\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00",
                              16));
  const std::string body = std::string(big ? "AIFF" : "WAVE") + format + AudioChunk(big) + after;
  return (big ? "FORM" : "RIFF") + Sized(big, body.size()) + body;
}

// A tag of an odd size, filled to its end: it must grow, and its chunk has
// a pad byte.
std::string TagChunk(bool big) {
  std::string tag = Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TPE1", "\xCA\xE8\xED\xEE")});
  return Chunk(big, big ? "ID3 " : "id3 ", tag);
}

std::wstring TitleOf(const fs::path& path, bool big) {
  if (big) {
    TagLib::RIFF::AIFF::File file(path.c_str());
    return file.hasID3v2Tag() ? file.tag()->title().toWString() : L"(none)";
  }
  TagLib::RIFF::WAV::File file(path.c_str());
  return file.hasID3v2Tag() ? file.ID3v2Tag()->title().toWString() : L"(none)";
}

void Repair(const fs::path& music, const fs::path& state) {
  RunJournal* journal = BeginRunJournal(state.native(), {music.native()});
  RunFix(FoundPaths(RunScan(music.native(), false, true)), 1251, journal);
  EndRunJournal(journal);
}

}  // namespace

// I2: the file grows at its end; the audio chunk and every byte before the
// ID3 chunk but the form's size stay, the sizes read as the new lengths,
// TagLib reads the repaired title, and the undo gives the file back byte
// for byte. A chunk after the ID3 chunk keeps the refusal.
TEST(RiffEnd, I2_LastId3ChunkGrowsAtTheEndAndUndoesByteForByte) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "AIFF" : "WAV");
    TempFolder folder, state;
    const std::string name = big ? "song.aiff" : "song.wav";
    const std::string before = Form(big, TagChunk(big));
    const fs::path path = folder.Write(fs::path("music") / name, before);
    const std::string followed = Form(big, TagChunk(big) + Chunk(big, "junk", "ab"));
    const fs::path other = folder.Write(fs::path("music") / ("other-" + name), followed);
    Repair(folder.path() / "music", state.path());

    const std::string after = ReadFile(path);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.size() % 2, 0u);
    const std::size_t tagAt = before.size() - TagChunk(big).size();
    EXPECT_EQ(after.compare(8, tagAt - 8, before, 8, tagAt - 8), 0) << "nothing before it moves";
    const std::string audio = AudioChunk(big);
    EXPECT_EQ(after.find(audio), before.find(audio)) << "the audio chunk is kept";
    const auto size = [big](const std::string& bytes, std::size_t at) {
      return big ? GetBigEndian(bytes, at, 4) : GetLittleEndian(bytes, at, 4);
    };
    EXPECT_EQ(size(after, 4), after.size() - 8);
    EXPECT_EQ(size(after, tagAt + 4), after.size() - tagAt - 8);
    EXPECT_EQ(TitleOf(path, big), L"Песня о друге");
    EXPECT_EQ(ReadFile(other), followed) << "the ID3 chunk is not the last one";

    EXPECT_EQ(UndoRun(state.path().native(), "", nullptr), 0);
    EXPECT_EQ(ReadFile(path), before);
  }
}

// I6, I7: every state a cut leaves between the record and the mark (the
// file of either size, the end old, new or in part, the form's size old or
// new) is brought back to the original; a complete save is left.
TEST(RiffEnd, I6_I7_EveryCutOfTheEndAndTheFormSizeIsRecovered) {
  TempFolder folder;
  const std::string before = Form(false, TagChunk(false));
  const fs::path path = folder.Write("song.wav", before);
  Repair(folder.path(), folder.path() / "state");
  const std::string repaired = ReadFile(path);
  ASSERT_GT(repaired.size(), before.size());
  WriteFile(path, before);
  const std::size_t at = before.size() - TagChunk(false).size() + 4;
  SaveRecord record;
  {
    EditStream stream(path.native());
    stream.Replace(at, before.size() - at, repaired.substr(at));
    stream.ReplaceSizeField(4, repaired.substr(4, 4));
    ASSERT_TRUE(stream.DescribeChange(&record));
  }
  ASSERT_EQ(record.offset, at);
  const auto cut = [&](bool newField, std::size_t newBytes, std::size_t size) {
    std::string bytes = before;
    bytes.resize(size, '\0');
    bytes.replace(at, newBytes, repaired, at, newBytes);
    if (newField)
      bytes.replace(4, 4, repaired, 4, 4);
    return bytes;
  };
  const std::size_t half = (before.size() - at) / 2;
  const std::vector<std::string> cuts = {
      cut(false, 0, repaired.size()),    cut(false, half, repaired.size()),
      cut(true, half, repaired.size()),  cut(false, repaired.size() - at, repaired.size()),
      cut(true, 0, repaired.size()),     cut(true, half, before.size()),
  };
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    SCOPED_TRACE(i);
    WriteFile(path, cuts[i]);
    ASSERT_TRUE(RecoverRecordedSave(path.native(), record));
    EXPECT_EQ(ReadFile(path), before);
  }
  WriteFile(path, repaired);
  ASSERT_TRUE(RecoverRecordedSave(path.native(), record));
  EXPECT_EQ(ReadFile(path), repaired);
}
