// The run journal and group commit: the order of runs, recovery of a save cut
// short by each write path, flushes that grow with batches, scratch journals.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/undo.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"
#include "engine/commit/edit.h"
#include "tests/crash_disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

const char kTitle[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

std::string Grows(int seed) {
  return Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TALB", kTitle)}) + MpegFrames(20, seed);
}

std::string Fits(int seed) {
  return Id3v2Tag({TextFrame("TIT2", kTitle)}, 4096) + MpegFrames(20, seed);
}

std::size_t TagSize(const std::string& bytes) {
  std::size_t body = 0;
  for (std::size_t i = 6; i < 10; ++i)
    body = (body << 7) | static_cast<unsigned char>(bytes[i]);
  return 10 + body;
}

std::vector<std::string> JournalNames(const fs::path& state) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(state / "runs", error))
    names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace

TEST(RunJournal, RunsOfOneSecondAreOrderedByTheirCounterAndUndoTakesTheLast) {
  TempFolder folder, state;
  const fs::path song = folder.Write("music/a.mp3", Fits(1));
  RunJournal* journal =
      BeginRunJournal(state.path().native(), {(folder.path() / "music").native()});
  RunFix({song.native()}, 1251, journal);
  EndRunJournal(journal);
  std::vector<std::string> names = JournalNames(state.path());
  ASSERT_EQ(1u, names.size());
  const std::string stem = fs::path(names[0]).stem().string();
  // Ten more runs in the same second: the same start time in their headers.
  for (int counter = 2; counter <= 11; ++counter) {
    fs::copy_file(state.path() / "runs" / names[0],
                  state.path() / "runs" / (stem + "-" + std::to_string(counter) + ".journal"));
  }
  const std::vector<JournalRun> runs =
      ReadJournalRuns(state.path().native(), JournalDepth::kHeader);
  ASSERT_EQ(11u, runs.size());
  EXPECT_EQ(stem, runs[0].id);
  for (int counter = 2; counter <= 11; ++counter)
    EXPECT_EQ(stem + "-" + std::to_string(counter), runs[std::size_t(counter - 1)].id);
  // The last run is the one undone.
  EXPECT_EQ(0, UndoRun(state.path().native(), "", nullptr));
  EXPECT_TRUE(fs::exists(state.path() / "runs" / (stem + "-11.undone")));
  EXPECT_FALSE(fs::exists(state.path() / "runs" / (stem + "-10.undone")));
}

// An id names one run only: a run started in a second whose id an undone
// run already has takes the next free number, and undoing it by its id
// undoes it, not the older run. The ids of the next 60 seconds are taken
// beforehand, so the run starts within them on any machine.
TEST(RunJournal, ARunOfASecondWhoseIdAnUndoneRunHasTakesTheNextNumber) {
  TempFolder folder, state;
  const fs::path song = folder.Write("music/a.mp3", Fits(2));
  std::set<std::string> taken;
  const std::time_t start = std::time(nullptr);
  for (std::time_t second = start; second < start + 60; ++second) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::gmtime(&second));
    taken.insert(stamp);
    state.Write("runs/" + std::string(stamp) + ".undone", "an undone run");
  }
  RunJournal* journal =
      BeginRunJournal(state.path().native(), {(folder.path() / "music").native()});
  RunFix({song.native()}, 1251, journal);
  EndRunJournal(journal);
  std::string id;
  for (const std::string& name : JournalNames(state.path())) {
    if (fs::path(name).extension() == ".journal")
      id = fs::path(name).stem().string();
  }
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(0u, taken.count(id)) << id;
  EXPECT_EQ(0, UndoRun(state.path().native(), id, nullptr));
  EXPECT_EQ(Fits(2), ReadFile(song));
  for (const std::string& undone : taken)
    EXPECT_EQ("an undone run", ReadFile(state.path() / "runs" / (undone + ".undone")));
}

TEST(RunJournal, ARunThatIsNotRecordedLeavesNoJournal) {
  TempFolder folder, state;
  const fs::path song = folder.Write("music/a.mp3", Grows(1));
  RunJournal* journal =
      BeginRunJournal(state.path().native(), {(folder.path() / "music").native()}, false);
  const std::vector<Received> received = RunFix({song.native()}, 1251, journal);
  EndRunJournal(journal);
  ASSERT_EQ(2u, received.size());
  EXPECT_EQ(WM_FIX_SUCCEEDED, received[0].message);
  EXPECT_EQ(std::vector<std::string>(), JournalNames(state.path()));
  EXPECT_EQ(2, UndoRun(state.path().native(), "", nullptr)) << "nothing to undo";
}

// Checks I9: the records, the writes and the renames of a batch are flushed
// once each, however many files it holds (no flush between a file's room
// and its tag).
TEST(GroupCommit, FlushesGrowWithBatchesNotWithFiles) {
  for (const bool insertRange : {true, false}) {
    SCOPED_TRACE(insertRange ? "insert range" : "copies");
    TempFolder folder, state;
    std::vector<PathString> files;
    for (int i = 0; i < 48; ++i) {
      const std::string name = "music/" + std::to_string(i) + ".mp3";
      files.push_back(folder.Write(name, i % 2 ? Grows(i) : Fits(i)).native());
    }
    CrashDisk counter(0, CrashMode::kKill, DiskFeatures{insertRange, true});
    {
      DiskInUse use(&counter);
      RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
      const std::vector<Received> received = RunFix(files, 1251, journal, 16);
      EndRunJournal(journal);
      ASSERT_EQ(49u, received.size());
      for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(WM_FIX_SUCCEEDED, received[i].message);
        EXPECT_EQ(files[i], received[i].path) << "outcomes in the order found";
      }
    }
    // Three batches: each flushes its records, the inserted room or the
    // copies, and the written files or the renames; the journal's creation
    // flushes its folders and its end the last mark.
    EXPECT_LE(counter.fileFlushes() + counter.fileSystemFlushes(), 3u * 3u + 1u);
    // With room opened before the tags: the records and the written files
    // only, nothing between a file's room and its tag.
    if (insertRange) {
      EXPECT_LE(counter.fileFlushes() + counter.fileSystemFlushes(), 3u * 2u + 1u);
    }
    EXPECT_EQ(insertRange ? 24u : 0u, counter.inserts());
    EXPECT_EQ(0, UndoRun(state.path().native(), "", nullptr));
  }
}

// Checks I6 and I7: each state a save cut short can leave is told apart and
// put back, and a file changed by someone else since is left alone.
TEST(GroupCommit, RecoveryPutsBackATornSaveAndLeavesAFileChangedSinceAlone) {
  TempFolder folder, state;
  const fs::path grows = folder.Write("grows.mp3", Grows(1));
  const fs::path fits = folder.Write("fits.mp3", Fits(2));
  const std::string grownOriginal = ReadFile(grows), fitsOriginal = ReadFile(fits);
  // The records a batch journals, and the repairs it would write.
  std::vector<JournalSave> saves;
  std::vector<std::string> repaired;
  for (const fs::path& path : {grows, fits}) {
    TempFolder scratch;
    const fs::path copy = scratch.Write("copy.mp3", ReadFile(path));
    FileOutcome outcome;
    ASSERT_EQ(WM_FIX_SUCCEEDED, FixFile(copy.native(), 1251, &outcome));
    repaired.push_back(ReadFile(copy));
    EditStream stream(path.native());
    const std::string& after = repaired.back();
    // The tag alone changes, as a repair changes it.
    const std::string before = ReadFile(path);
    const std::size_t newTag = TagSize(after), oldTag = TagSize(before);
    stream.insert(TagLib::ByteVector(after.data(), unsigned(newTag)), 0,
                  static_cast<unsigned long>(oldTag));
    JournalSave save{path.native(), SaveRecord()};
    ASSERT_TRUE(stream.DescribeChange(&save.record));
    saves.push_back(save);
  }
  ASSERT_EQ(0u, (repaired[0].size() - grownOriginal.size()) % 4096) << "grown by whole blocks";
  ASSERT_EQ(fitsOriginal.size(), repaired[1].size());
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
  ASSERT_TRUE(JournalBatch(journal, saves));
  EndRunJournal(journal);  // cut short: no commit mark

  // The grown file: room opened before the tag, the new tag half written.
  const std::size_t grown = repaired[0].size() - grownOriginal.size();
  std::string torn = std::string(grown, '\0') + grownOriginal;
  torn.replace(0, grown, repaired[0].substr(0, grown));
  folder.Write("grows.mp3", torn);
  // The fitting file: half its new tag written in place, and its audio
  // changed by someone else since.
  std::string changed = fitsOriginal;
  const std::size_t offset = std::size_t(saves[1].record.offset);
  changed.replace(offset, 100, repaired[1].substr(offset, 100));
  changed[changed.size() - 1] ^= 1;
  folder.Write("fits.mp3", changed);

  EXPECT_TRUE(RecoverUnfinishedRuns(state.path().native()));
  EXPECT_TRUE(grownOriginal == ReadFile(grows)) << "the old tag back, the room taken out";
  EXPECT_TRUE(changed == ReadFile(fits))
      << "a file that would not become its original is left alone";
  // Recovered once: the batch is marked finished, so a later change to the
  // file is not taken for a save cut short.
  folder.Write("grows.mp3", torn);
  EXPECT_TRUE(RecoverUnfinishedRuns(state.path().native()));
  EXPECT_TRUE(torn == ReadFile(grows));
}

// Checks I10: the batch of a run still going (its journal held) is left to
// that run.
TEST(GroupCommit, ARunStillGoingKeepsItsBatchFromAnotherRunsRecovery) {
  TempFolder folder, state;
  const fs::path song = folder.Write("fits.mp3", Fits(3));
  const std::string original = ReadFile(song);
  JournalSave save{song.native(), SaveRecord()};
  {
    TempFolder scratch;
    const fs::path copy = scratch.Write("copy.mp3", original);
    FileOutcome outcome;
    ASSERT_EQ(WM_FIX_SUCCEEDED, FixFile(copy.native(), 1251, &outcome));
    const std::string after = ReadFile(copy);
    EditStream stream(song.native());
    stream.insert(TagLib::ByteVector(after.data(), unsigned(TagSize(after))), 0,
                  static_cast<unsigned long>(TagSize(original)));
    ASSERT_TRUE(stream.DescribeChange(&save.record));
  }
  // A run without a record, between its batch's records and its commit:
  // the file half written.
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()}, false);
  ASSERT_TRUE(JournalBatch(journal, {save}));
  std::string torn = original;
  torn[std::size_t(save.record.offset) + 20] ^= 0x55;
  folder.Write("fits.mp3", torn);
  EXPECT_TRUE(RecoverUnfinishedRuns(state.path().native()));
  EXPECT_TRUE(torn == ReadFile(song)) << "the running batch was left to its run";
  ASSERT_EQ(1u, JournalNames(state.path()).size());
  // Cut short there: the next run finishes it, and the scratch journal goes.
  EndRunJournal(journal);
  EXPECT_TRUE(RecoverUnfinishedRuns(state.path().native()));
  EXPECT_TRUE(original == ReadFile(song));
  EXPECT_EQ(std::vector<std::string>(), JournalNames(state.path()));
}

// Checks I6 and I9: the room opened before a grown tag is not flushed before
// the tag is written into it, so a power loss can take the room back while
// part of the new tag reached the old tag's blocks. The file then has its
// original size and a damaged old tag; recovery puts the old tag back.
TEST(GroupCommit, RecoveryPutsBackAnOldTagOverwrittenWhereItsRoomWasLost) {
  TempFolder scratch;
  const std::string original = Grows(4);
  const fs::path copy = scratch.Write("copy.mp3", original);
  FileOutcome outcome;
  ASSERT_EQ(WM_FIX_SUCCEEDED, FixFile(copy.native(), 1251, &outcome));
  const std::string repaired = ReadFile(copy);
  const std::size_t grown = repaired.size() - original.size();
  ASSERT_EQ(0u, grown % 4096) << "grown by whole blocks";
  for (const bool torn : {false, true}) {
    SCOPED_TRACE(torn ? "every other sector of the tag" : "the whole tag");
    TempFolder folder, state;
    const fs::path song = folder.Write("grows.mp3", original);
    JournalSave save{song.native(), SaveRecord()};
    {
      EditStream stream(song.native());
      stream.insert(TagLib::ByteVector(repaired.data(), unsigned(TagSize(repaired))), 0,
                    static_cast<unsigned long>(TagSize(original)));
      ASSERT_TRUE(stream.DescribeChange(&save.record));
    }
    RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
    ASSERT_TRUE(JournalBatch(journal, {save}));
    EndRunJournal(journal);  // cut short: no commit mark

    // The tag was written at the file's start into room that is gone: what
    // followed the room landed on the old tag's blocks.
    std::string left = original;
    const std::size_t oldTag = TagSize(original);
    for (std::size_t at = 0; at < oldTag; at += 512) {
      if (!torn || (at / 512) % 2 == 0)
        left.replace(at, std::min<std::size_t>(512, oldTag - at), repaired, grown + at,
                     std::min<std::size_t>(512, oldTag - at));
    }
    ASSERT_EQ(original.size(), left.size());
    ASSERT_NE(original, left);
    folder.Write("grows.mp3", left);
    EXPECT_TRUE(RecoverUnfinishedRuns(state.path().native()));
    EXPECT_TRUE(original == ReadFile(song)) << "the old tag back";
  }
}

namespace {

// Thirty songs and, first in the batch after the one that saves it, a hard
// link and a symbolic link to a song that grows: in batches of three.
struct LinkedLibrary {
  explicit LinkedLibrary(const TempFolder& folder) {
    const fs::path& root = folder.path();
    for (int i = 0; i < 30; ++i) {
      const fs::path song =
          folder.Write(std::to_string(i) + ".mp3", i % 3 == 1 ? Grows(i) : Fits(i));
      files.push_back(song.native());
      if (i == 5) {
        fs::create_hard_link(root / "4.mp3", root / "hard-4.mp3");
        fs::create_symlink("7.mp3", root / "soft-7.mp3");
        files.push_back((root / "hard-4.mp3").native());
      }
      if (i == 8)
        files.push_back((root / "soft-7.mp3").native());
    }
  }
  std::vector<PathString> files;
};

std::map<std::string, std::string> Songs(const fs::path& root) {
  std::map<std::string, std::string> songs;
  for (const auto& entry : fs::directory_iterator(root)) {
    if (!entry.is_symlink())
      songs[entry.path().filename().string()] = ReadFile(entry.path());
  }
  return songs;
}

}  // namespace

// With 2 or more jobs the files are read ahead on that many threads and each
// batch commits on its own thread. The run must do exactly what a run in
// turn does: the same bytes, the same outcomes in the same order, the same
// changing operations (so that crash points mean the same), and a link to a
// file saved earlier in the run comes out as needing nothing, whether it was
// read before that save (and so read again) or after it.
TEST(GroupCommit, BatchesCommittedWhileTheNextIsReadDoWhatARunInTurnDoes) {
  for (const bool insertRange : {true, false}) {
    SCOPED_TRACE(insertRange ? "insert range" : "copies");
    std::vector<std::map<std::string, std::string>> songs;
    std::vector<std::vector<Received>> outcomes;
    std::vector<std::uint64_t> operations;
    for (const unsigned jobs : {1u, 2u, 4u}) {
      TempFolder folder, state;
      const LinkedLibrary library(folder);
      CrashDisk counter(0, CrashMode::kKill, DiskFeatures{insertRange, true});
      DiskInUse use(&counter);
      RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
      outcomes.push_back(RunFix(library.files, 1251, journal, 3, jobs));
      EndRunJournal(journal);
      operations.push_back(counter.operations());
      songs.push_back(Songs(folder.path()));
      EXPECT_EQ(0, UndoRun(state.path().native(), "", nullptr));
    }
    for (std::size_t run = 1; run < outcomes.size(); ++run) {
      SCOPED_TRACE("run " + std::to_string(run));
      EXPECT_TRUE(songs[0] == songs[run]);
      EXPECT_EQ(operations[0], operations[run]);
      ASSERT_EQ(outcomes[0].size(), outcomes[run].size());
      for (std::size_t i = 0; i < outcomes[0].size(); ++i) {
        EXPECT_EQ(outcomes[0][i].message, outcomes[run][i].message) << i;
        EXPECT_EQ(fs::path(outcomes[0][i].path).filename(),
                  fs::path(outcomes[run][i].path).filename())
            << i;
      }
    }
    for (const std::vector<Received>& received : outcomes) {
      ASSERT_EQ(33u, received.size());  // 32 files and WM_FIX_COMPLETE
      EXPECT_EQ(WM_FIX_NOT_NEEDED, received[6].message) << "the hard link, read after its save";
      EXPECT_EQ(WM_FIX_NOT_NEEDED, received[10].message) << "the symbolic link";
    }
  }
}

// A stop (Ctrl-C) while the K-th song is first opened: the songs already
// taken by a reader (the K-th, and at most one more for each other reader)
// are repaired and reported, in order; no other song is opened, reported or
// changed.
TEST(GroupCommit, AStopRepairsTheSongsInHandAndOpensNoOther) {
  constexpr unsigned kJobs = 3;
  for (const std::size_t stopAt : {std::size_t(1), std::size_t(5), std::size_t(12)}) {
    SCOPED_TRACE("stop at song " + std::to_string(stopAt));
    TempFolder folder, state;
    std::vector<PathString> files;
    std::map<PathString, std::string> before;
    for (int i = 0; i < 12; ++i) {
      const std::string bytes = i % 2 ? Grows(i) : Fits(i);
      files.push_back(folder.Write("music/" + std::to_string(i) + ".mp3", bytes).native());
      before[files.back()] = bytes;
    }
    std::atomic<bool> stop{false};
    CrashDisk disk(0, CrashMode::kKill, DiskFeatures{true, true});
    disk.StopAtSongOpen(stopAt, &stop);
    std::vector<Received> received;
    {
      DiskInUse use(&disk);
      RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
      received = RunFix(files, 1251, journal, 4, kJobs, &stop);
      EndRunJournal(journal);
    }
    const std::set<PathString> opened = disk.songsOpened();
    ASSERT_GE(opened.size(), stopAt);
    ASSERT_LE(opened.size(), std::min<std::size_t>(files.size(), stopAt + kJobs - 1));
    ASSERT_EQ(opened.size() + 1, received.size());  // and WM_FIX_COMPLETE
    for (std::size_t i = 0; i < files.size(); ++i) {
      const bool inHand = i < opened.size();
      EXPECT_EQ(inHand, opened.count(files[i]) == 1) << i << ": the songs opened come first";
      if (inHand) {
        EXPECT_EQ(WM_FIX_SUCCEEDED, received[i].message) << i;
        EXPECT_EQ(files[i], received[i].path) << i;
        EXPECT_NE(before[files[i]], ReadFile(files[i])) << i;
      } else {
        EXPECT_EQ(before[files[i]], ReadFile(files[i])) << i;
      }
    }
  }
}

// I2: bytes before the tag (junk a writer left) stay the original's when
// room is opened before a grown tag: the new content is taken before the
// room moves the original's bytes.
TEST(GroupCommit, BytesBeforeTheTagStayWhenRoomIsOpenedForAGrownTag) {
  TempFolder folder, state;
  const std::string junk(300, '\x01');
  const std::string song =
      junk + Id3v2Tag({TextFrame("TIT2", std::string(3000, '\xC0'))}) + MpegFrames(20);
  const fs::path path = folder.Write("junk.mp3", song);
  const std::vector<PathString> files = {path.native()};
  CrashDisk counter(0, CrashMode::kKill, DiskFeatures{/*insertRange=*/true, true});
  DiskInUse use(&counter);
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
  const std::vector<Received> received = RunFix(files, 1251, journal);
  EndRunJournal(journal);
  ASSERT_EQ(WM_FIX_SUCCEEDED, received.at(0).message);
  const std::string after = ReadFile(path);
  EXPECT_EQ(song.size() + 4096, after.size()) << "the tag grew by one block of room";
  EXPECT_TRUE(after.compare(0, junk.size(), junk) == 0);
  EXPECT_TRUE(after.compare(after.size() - 20 * 417, std::string::npos, MpegFrames(20)) == 0);
}
