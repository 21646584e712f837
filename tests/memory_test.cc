// Memory bounded by bytes: files whose tags hold large pictures are read
// ahead and held in batches within the byte limit (engine/readers.h), and
// an undo reads the journal one save at a time and restores every byte.
#include <gtest/gtest.h>
#include <taglib/tbytevectorstream.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/undo.h"
#include "engine/commit/edit.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal.h"
#include "engine/commit/checksum.h"
#include "engine/platform/text.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/container-text.h"
#include "engine/platform/disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"
#include "tests/large_blocks.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

// A song whose tag holds cp1251 text in a Latin-1 frame and a picture of
// `pictureBytes` random bytes.
std::string SongWithPicture(std::size_t pictureBytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string picture("\0image/jpeg\0\3\0", 14);
  for (std::size_t i = 0; i < pictureBytes; ++i)
    picture.push_back(char(random() & 0xFF));
  const std::vector<Frame> frames = {TextFrame("TIT2", "\xCA\xE8\xED\xEE"),  // "Кино"
                                     Frame{"APIC", picture}};
  return Id3v2Tag(frames, 512) + MpegFrames(8, int(seed));
}

// The same in an APEv2 tag at the end of a WavPack file, the picture a
// binary cover item.
std::string ApeSongWithPicture(std::size_t pictureBytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string picture = "cover.jpg" + std::string(1, '\0');
  for (std::size_t i = 0; i < pictureBytes; ++i)
    picture.push_back(char(random() & 0xFF));
  const std::vector<formats::ApeItemSpec> items = {{"Title", "\xCA\xE8\xED\xEE"},
                                                   {"Cover Art (Front)", picture, 2}};
  return "wvpk" + MpegFrames(8, int(seed)) + formats::ApeTagBytes(items, true);
}

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes;
  bytes.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes.push_back(char(random() & 0xFF));
  return bytes;
}

std::string Atom(const std::string& type, const std::string& content) {
  return BigEndianBytes(8 + content.size(), 4) + type + content;
}

// An MP4 file whose ilst holds a cp1251 title and then a cover of
// `pictureBytes`; a free atom after ilst takes up the title's growth.
std::string Mp4WithCover(std::size_t pictureBytes, std::string* moov) {
  const std::string title = Atom("\xA9nam", Atom("data", std::string("\0\0\0\1", 4) +
                                                              std::string(4, '\0') +
                                                              "\xCA\xE8\xED\xEE"));
  const std::string cover = Atom(
      "covr", Atom("data", std::string("\0\0\0\x0D", 4) + std::string(4, '\0') +
                               RandomBytes(pictureBytes, 7)));
  const std::string meta = std::string(4, '\0') + Atom("ilst", title + cover) +
                           Atom("free", std::string(64, '\0'));
  *moov = Atom("moov", Atom("udta", Atom("meta", meta)));
  return Atom("ftyp", "M4A \0\0\0\0") + *moov + Atom("mdat", std::string(64, 'a'));
}

// An Ogg Vorbis file whose comment holds a cp1251 title and a picture of
// `pictureBytes` (text, as the picture is stored base64).
std::string OggWithPicture(std::size_t pictureBytes, std::size_t* headerBytes) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  std::string picture = RandomBytes(pictureBytes, 9);
  for (char& c : picture)
    c = char('A' + (static_cast<unsigned char>(c) % 26));
  const std::string packet =
      std::string("\x03vorbis", 7) +
      formats::VorbisComment("vendor", {"TITLE=\xCA\xE8\xED\xEE", "METADATA_BLOCK_PICTURE=" + picture}) +
      "\x01";
  const std::string file = formats::OggWithComment(tone, packet);
  std::size_t audio = 0;
  for (const std::string& page : tone.audioPages)
    audio += page.size();
  *headerBytes = file.size() - audio;
  return file;
}

// The most bytes of large blocks the module holds while it renders the
// file's repair (its reading decided before, the file's bytes already in
// memory), its edit among them.
std::size_t MostHeldRendering(const container_fixtures::Module& module, const std::string& file,
                              Edit* edit) {
  TagLib::ByteVector data(file.data(), static_cast<unsigned int>(file.size()));
  TagLib::ByteVectorStream stream(data);
  SuggestionPool pool;
  pool.distinctTexts = true;
  module.collect(&stream, &pool);
  const FileReading reading = ReadingOfTexts(pool, formats::Named(), nullptr);
  FileOutcome outcome;
  LargeBlockWatch watch;
  EXPECT_EQ(module.render(&stream, reading, &outcome, edit), WM_FIX_SUCCEEDED)
      << WideToUtf8(outcome.detail);
  return watch.MostHeld();
}

struct Library {
  TempFolder folder, state;
  std::vector<PathString> files;
  std::map<fs::path, std::string> originals;

  // `count` songs, each with a picture of `pictureBytes`, the odd ones
  // twice as large.
  Library(int count, std::size_t pictureBytes, bool ape = false) {
    for (int i = 0; i < count; ++i) {
      const std::size_t bytes = pictureBytes * (i % 2 ? 2 : 1);
      const std::string song =
          ape ? ApeSongWithPicture(bytes, unsigned(i)) : SongWithPicture(bytes, unsigned(i));
      const fs::path path =
          folder.Write("song" + std::to_string(i) + (ape ? ".wv" : ".mp3"), song);
      files.push_back(path.native());
      originals[path] = song;
    }
  }

  std::vector<Received> Repair(unsigned jobs, std::uint64_t limit, HeldBytesTally* tally,
                               std::size_t batchFiles = 256) const {
    RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
    auto* job = new FixJob;
    job->files = &files;
    job->codePage = 1251;
    job->journal = journal;
    job->batchFiles = batchFiles;
    job->batchBytes = limit;
    job->jobs = jobs;
    job->heldBytes = tally;
    std::vector<Received> received = RunFixJob(job);
    EndRunJournal(journal);
    return received;
  }
};

std::size_t Succeeded(const std::vector<Received>& received) {
  std::size_t count = 0;
  for (const Received& entry : received)
    count += entry.message == WM_FIX_SUCCEEDED;
  return count;
}

}  // namespace

// B1, B3: whatever the limit (a few files' worth, or less than one file),
// the bytes read ahead, in the batch gathered and in the batch committing
// never pass it by more than one file's own, every file is repaired, and
// the run never stands still waiting for room.
TEST(ByteLimit, FilesReadAheadAndBatchesHoldNoMoreThanTheLimitBeyondOneFile) {
  constexpr std::size_t kPicture = 150 * 1024;
  for (const std::uint64_t limit : {std::uint64_t(1) << 20, std::uint64_t(100) << 10}) {
    for (const unsigned jobs : {1u, 2u, 4u}) {
      SCOPED_TRACE("limit " + std::to_string(limit) + ", jobs " + std::to_string(jobs));
      const Library library(16, kPicture);
      HeldBytesTally tally;
      const std::vector<Received> received = library.Repair(jobs, limit, &tally);
      EXPECT_EQ(16u, Succeeded(received));
      // Each save holds its old and its new tag: at least twice the picture.
      EXPECT_GE(tally.largestFile, 2 * 2 * kPicture);
      EXPECT_GT(16 * 2 * kPicture, 4 * limit) << "the limit must bind";
      EXPECT_LE(tally.mostInBatch, limit + tally.largestFile);
      EXPECT_LE(tally.mostHeld, limit + tally.largestFile);
      if (jobs > 1) {
        EXPECT_GT(tally.mostHeld, 0u) << "the readers count what they hold";
      }
    }
  }
}

// B1, E1: a tag at the end of the file, which its first bytes do not
// tell, counts before it is read, so that readers do not read many large
// ones at once.
TEST(ByteLimit, LargeTagsOfOtherFormatsCountBeforeTheyAreRead) {
  constexpr std::size_t kPicture = 150 * 1024;
  constexpr std::uint64_t kLimit = std::uint64_t(1) << 20;
  const Library library(16, kPicture, true);
  HeldBytesTally tally;
  EXPECT_EQ(16u, Succeeded(library.Repair(4, kLimit, &tally)));
  EXPECT_GE(tally.largestFile, 2 * 2 * kPicture);
  EXPECT_LE(tally.mostHeld, kLimit + tally.largestFile);
}

// An undo reads each save's original bytes from the journal when it
// restores that file (the saves listed without them), and puts every byte
// of every file back, the saves of large tags among several batches.
TEST(ByteLimit, AnUndoOfLargeSavesRestoresEveryByteReadingOneSaveAtATime) {
  // Pictures larger than the journal's stretch of reading (1 MiB) and
  // than what a stream keeps of a file's start.
  const Library library(5, 1200 * 1024);
  EXPECT_EQ(5u, Succeeded(library.Repair(2, 64ull << 20, nullptr, 2)));

  const std::vector<JournalRun> runs =
      ReadJournalRuns(library.state.path().native(), JournalDepth::kIndex);
  ASSERT_EQ(1u, runs.size());
  ASSERT_EQ(5u, runs[0].saves.size());
  for (const JournalSave& listed : runs[0].saves) {
    EXPECT_TRUE(listed.record.originalBytes.empty()) << "listed without its bytes";
    JournalSave save = listed;
    ASSERT_TRUE(ReadJournalSave(runs[0].file, listed.recordAt, &save));
    const std::string& original = library.originals.at(fs::path(save.path));
    EXPECT_EQ(original.substr(std::size_t(save.record.offset), save.record.originalBytes.size()),
              save.record.originalBytes);
    EXPECT_GT(save.record.originalBytes.size(), 1200u * 1024);
    // A place that is no record's start is refused.
    JournalSave wrong = listed;
    EXPECT_FALSE(ReadJournalSave(runs[0].file, listed.recordAt + 1, &wrong));
  }

  EXPECT_EQ(0, UndoRun(library.state.path().native(), "", nullptr));
  for (const auto& [path, original] : library.originals)
    EXPECT_TRUE(ReadFile(path) == original) << path;
}

// E3: while it composes a repair, a module holds no more than twice the
// metadata the read-ahead budget counts for it (the stored bytes and the
// new ones): a picture among the tags is never copied more often.
TEST(ByteLimit, E3_AModuleHoldsAtMostTwiceItsTagWhileComposing) {
  constexpr std::size_t kPicture = 6 << 20;
  std::string moov;
  std::size_t oggHeaders = 0;
  const std::string mp4 = Mp4WithCover(kPicture, &moov);
  const std::string ogg = OggWithPicture(kPicture, &oggHeaders);
  const std::string ape = ApeSongWithPicture(kPicture, 3);
  const std::size_t apeTag = ape.size() - 4 - MpegFrames(8, 3).size();
  const struct {
    const char* name;
    const container_fixtures::Module& module;
    const std::string& file;
    std::size_t tag;  // what TagExtent counts
  } cases[] = {{"mp4", container_fixtures::kMp4, mp4, moov.size()},
               {"ape", formats::kApe, ape, apeTag},
               {"ogg", formats::kOgg, ogg, oggHeaders}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t tag = c.tag;
    Edit edit;
    const std::size_t most = MostHeldRendering(c.module, c.file, &edit);
    EXPECT_GT(edit.bytes.size(), kPicture) << "the picture moves with the repaired text";
    EXPECT_GE(most, tag) << "the watch sees the module's blocks";
    EXPECT_LE(most, 2 * tag + (1 << 20)) << most / (1 << 20) << " MB held";
  }
}

// E3: the record of a save reads the bytes it replaces once, and sums the new
// bytes where the edit holds them: a large tag is not copied again for its
// checksum, which stays that of the file as saved.
TEST(ByteLimit, ALargeEditIsSummedWithoutACopy) {
  constexpr std::size_t kTag = 3 << 20;
  TempFolder folder;
  const std::string original = RandomBytes(kTag + 200 * 1024, 5);
  const fs::path path = folder.Write("song.mp3", original);
  for (const std::size_t offset : {std::size_t(0), std::size_t(4096)}) {
    SCOPED_TRACE(offset);
    std::string repaired = RandomBytes(kTag + 4096, 6);
    std::string expected = original;
    expected.replace(offset, kTag, repaired);
    EditStream stream(path.native());
    stream.Replace(offset, kTag, std::move(repaired));
    SaveRecord record;
    std::size_t most = 0;
    {
      LargeBlockWatch watch;
      ASSERT_TRUE(stream.DescribeChange(&record));
      most = watch.MostHeld();
    }
    EXPECT_LE(most, kTag + offset + (1 << 20)) << most / (1 << 20) << " MB held";
    const fs::path saved = folder.Write("saved.mp3", expected);
    NativeFile* file = OpenExistingFile(saved.native(), false);
    ASSERT_NE(file, nullptr);
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    EXPECT_TRUE(FileChecksum(file, record.offset, record.repairedLength, &size, &crc));
    CloseNativeFile(file);
    EXPECT_EQ(crc, record.repairedChecksum);
  }
}
