// Memory bounded by bytes: files whose tags hold large pictures are read
// ahead and held in batches within the byte limit (engine/readers.h), and
// an undo reads the journal one save at a time and restores every byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/undo.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

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
