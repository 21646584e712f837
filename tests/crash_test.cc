// Crash points by count: a repair and an undo over a library that takes every
// write path (tag fits its padding, tag outgrows it, ID3v1 only, several hard
// links, a symbolic link, a read-only file) are stopped at every changing
// file operation in turn, as a kill or a power loss there would stop them.
// After each stop every file must be its original or its complete repair (or
// hold a journal that brings it back to one), the next run must finish the
// job, and undoing every recorded run must give back every original byte,
// with no side files left anywhere. The invariants named below are those of
// engine/group-commit.h.
//
// SONGWRIGHT_CRASH_STRIDE=K tries every K-th point only (default 1: all).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/undo.h"
#include "engine/containers/container-bytes.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"
#include "tests/crash_disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

constexpr unsigned kCodePage = 1251;
const char kTitle[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

// The library below `root`: music/ is what a run is given, outside/ holds the
// target of the symbolic link.
void WriteLibrary(const fs::path& root) {
  auto write = [&root](const fs::path& relative, const std::string& bytes) {
    fs::create_directories((root / relative).parent_path());
    FILE* out = std::fopen((root / relative).c_str(), "wb");
    ASSERT_NE(nullptr, out);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  };
  write("music/album/fits.mp3",
        Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TPE1", "\xCA\xE8\xED\xEE")}, 4096) +
            MpegFrames(30, 1));
  write("music/album/grows.mp3",
        Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TALB", "\xC0\xEB\xFC\xE1\xEE\xEC")}) +
            MpegFrames(40, 2));
  write("music/album/v1only.mp3", MpegFrames(20, 3) + Id3v1Tag("\xC0\xE1\xE2", "Kino"));
  write("music/album/plain.mp3", Id3v2Tag({TextFrame("TIT2", "Plain ASCII")}) + MpegFrames(5, 4));
  write("music/album/readonly.mp3", Id3v2Tag({TextFrame("TIT2", kTitle)}) + MpegFrames(8, 5));
  chmod((root / "music/album/readonly.mp3").c_str(), 0444);
  write("music/links/one.mp3", Id3v2Tag({TextFrame("TIT2", kTitle)}) + MpegFrames(25, 6));
  fs::create_hard_link(root / "music/links/one.mp3", root / "music/links/two.mp3");
  write("outside/target.mp3", Id3v2Tag({TextFrame("TIT2", kTitle)}) + MpegFrames(12, 7));
  // Other formats take the same route: a FLAC file whose comments grow out
  // of their block, an Ogg file whose header pages grow, a WavPack file's
  // APEv2 tag, an MP4 file whose moov before the audio grows, a WAV file
  // that gains an ID3v2 chunk before its audio, and a WMA file.
  const fs::path samples = fs::path(SONGWRIGHT_SOURCE_DIR) / "tests" / "data" / "formats";
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  write("music/formats/grows.flac",
        formats::FlacFile({{0, streamInfo},
                           {4, formats::VorbisComment("vendor", {std::string("TITLE=") + kTitle})}},
                          audio));
  write("music/formats/grows.ogg",
        formats::OggWithComment(formats::ReadOggTone("tone.ogg"),
                                std::string("\x03vorbis") +
                                    formats::VorbisComment("vendor", {std::string("TITLE=") +
                                                                      kTitle}) +
                                    "\x01"));
  write("music/formats/tagged.wv",
        std::string("wvpk") + std::string(60, '\x01') +
            formats::ApeTagBytes({{"Title", kTitle, 0}}, true));
  for (const char* name : {"cp1251-faststart.m4a", "info-cp1251.wav", "widened.wma"})
    write(fs::path("music/formats") / name, ReadFile(samples / name));
  // A WAV file whose ID3 chunk, the last, grows at the end with the form's
  // size (an odd tag: its pad byte goes).
  const std::string tag = Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TPE1", "\xCA\xE8")});
  const std::string wave =
      "WAVEfmt " + LittleEndianBytes(16, 4) +
      std::string("\x01\x00\x01\x00\x44\xAC\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00", 16) +
      "data" + LittleEndianBytes(6000, 4) + std::string(6000, '\x11') + "id3 " +
      LittleEndianBytes(tag.size(), 4) + tag + std::string(tag.size() % 2, '\0');
  write("music/formats/tagged-last.wav", "RIFF" + LittleEndianBytes(wave.size(), 4) + wave);
  fs::create_symlink(root / "outside/target.mp3", root / "music/links/symlink.mp3");
}

// Every regular file below `root` by its path relative to it, links followed
// (a symbolic link shows its target's bytes).
std::map<std::string, std::string> Contents(const fs::path& root) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (fs::is_regular_file(entry.path()))
      contents[fs::relative(entry.path(), root).string()] = ReadFile(entry.path());
  }
  return contents;
}

std::vector<std::string> SideFiles(const fs::path& root) {
  std::vector<std::string> side;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename().string().rfind(".songwright-", 0) == 0)
      side.push_back(entry.path().string());
  }
  return side;
}

// How the disk and the batches are set up for one walk: each takes other
// write paths.
struct WritePath {
  const char* name;
  DiskFeatures features;
  std::size_t batchFiles;
  unsigned jobs;  // 2: each batch commits while the next is read
};

// Insert range with batches of two (the hard links and the symbolic link
// fall in several batches), each committing while the next is read; copies
// with one batch; copies flushed file by file, as on Windows, in batches of
// three read while the one before commits; insert range with one batch read
// in turn, so that every room and tag of the run lie between one record and
// one commit mark.
const WritePath kWritePaths[] = {
    {"insert range, batches of 2, overlapped", {true, true}, 2, 2},
    {"copy, one batch", {false, true}, 256, 1},
    {"copy, file by file flushes, batches of 3, overlapped", {false, false}, 3, 2},
    {"insert range, one batch", {true, true}, 256, 1},
};

// One real run as the command line makes it: scan, then repair in batches
// under a run journal of `state`.
void Repair(const fs::path& root, const fs::path& state, std::size_t batchFiles = 2,
            unsigned jobs = 1) {
  const PathString music = (root / "music").native();
  const std::vector<PathString> found = FoundPaths(RunScan(music, false, true));
  RunJournal* journal = BeginRunJournal(state.native(), {music});
  RunFix(found, kCodePage, journal, batchFiles, jobs);
  EndRunJournal(journal);
}

// What the next run does first: finishes the batches a run left unfinished
// and, for each file, puts back a save cut short.
void RecoverAll(const fs::path& root, const fs::path& state) {
  RecoverUnfinishedRuns(state.native());
  for (const auto& [relative, bytes] : Contents(root)) {
    if (relative.find(".songwright-") == std::string::npos)
      RecoverInterruptedSave(ResolveFileLinks((root / relative).native()));
  }
}

struct Expected {
  std::map<std::string, std::string> original;
  std::map<std::string, std::string> repaired;
};

// The originals, and what one uninterrupted run makes of them.
const Expected& ExpectedLibrary() {
  static const Expected expected = [] {
    Expected e;
    CrashDisk unflushed;
    DiskInUse use(&unflushed);
    TempFolder folder, state;
    WriteLibrary(folder.path());
    e.original = Contents(folder.path());
    Repair(folder.path(), state.path(), 256);
    e.repaired = Contents(folder.path());
    return e;
  }();
  return expected;
}

// Each file is its original or its complete repair, and no other file exists
// but the side files `allowSideFiles` permits.
void ExpectOriginalOrRepaired(const fs::path& root, bool allowSideFiles, const std::string& when) {
  const Expected& expected = ExpectedLibrary();
  std::map<std::string, std::string> now = Contents(root);
  for (auto it = now.begin(); it != now.end();) {
    if (allowSideFiles && it->first.find(".songwright-") != std::string::npos) {
      it = now.erase(it);
    } else {
      ++it;
    }
  }
  ASSERT_EQ(expected.original.size(), now.size()) << when;
  for (const auto& [relative, bytes] : now) {
    ASSERT_EQ(1u, expected.original.count(relative)) << when << ": new file " << relative;
    EXPECT_TRUE(bytes == expected.original.at(relative) || bytes == expected.repaired.at(relative))
        << when << ": " << relative << " is neither its original nor its repair";
  }
}

// The files that are neither their original nor their complete repair, as a
// crash left them (before any recovery); two names of one file count once.
std::size_t FilesInBetween(const fs::path& root) {
  const Expected& expected = ExpectedLibrary();
  std::set<ino_t> between;
  for (const auto& [relative, bytes] : Contents(root)) {
    struct stat info = {};
    if (relative.find(".songwright-") == std::string::npos && expected.original.count(relative) &&
        bytes != expected.original.at(relative) && bytes != expected.repaired.at(relative) &&
        stat((root / relative).c_str(), &info) == 0)
      between.insert(info.st_ino);
  }
  return between.size();
}

void ExpectExactly(const fs::path& root, const std::map<std::string, std::string>& wanted,
                   const std::string& when) {
  EXPECT_EQ(std::vector<std::string>(), SideFiles(root)) << when;
  const std::map<std::string, std::string> now = Contents(root);
  ASSERT_EQ(wanted.size(), now.size()) << when;
  for (const auto& [relative, bytes] : wanted)
    EXPECT_TRUE(now.count(relative) && now.at(relative) == bytes) << when << ": " << relative;
}

// Undoes every recorded run, last first, as `--undo ID` run for each in
// turn (a plain `--undo` takes the last run only), until one fails.
void UndoAll(const fs::path& state) {
  const std::vector<JournalRun> runs = ReadJournalRuns(state.native(), JournalDepth::kHeader);
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    if (UndoRun(state.native(), run->id, nullptr) != 0)
      return;
  }
}

std::uint64_t Stride() {
  const char* stride = std::getenv("SONGWRIGHT_CRASH_STRIDE");
  return stride && std::atoll(stride) > 0 ? std::uint64_t(std::atoll(stride)) : 1;
}

const CrashMode kModes[] = {CrashMode::kKill, CrashMode::kPowerLoss, CrashMode::kTornPowerLoss};

// The changing operations a repair makes when nothing stops it.
std::uint64_t RepairOperations(const WritePath& setup) {
  TempFolder folder, state;
  WriteLibrary(folder.path());
  CrashDisk counter(0, CrashMode::kKill, setup.features);
  DiskInUse use(&counter);
  Repair(folder.path(), state.path(), setup.batchFiles, setup.jobs);
  // The walk must cover the write path it is named for.
  if (setup.features.insertRange)
    EXPECT_GT(counter.inserts(), 0u) << setup.name;
  else
    EXPECT_EQ(0u, counter.inserts()) << setup.name;
  ExpectExactly(folder.path(), ExpectedLibrary().repaired, std::string(setup.name) + ", whole");
  return counter.operations();
}

// Runs `stopAt(point, mode, when)` for every point from 1 to `total` (every
// K-th with the stride) in every mode, until a check fails; prints the count.
template <typename StopAt>
void WalkCrashPoints(const char* name, std::uint64_t total, const StopAt& stopAt) {
  std::uint64_t tried = 0;
  for (CrashMode mode : kModes) {
    for (std::uint64_t point = 1; point <= total; point += Stride()) {
      const std::string when =
          std::string(name) + ", " + CrashModeName(mode) + " at operation " + std::to_string(point);
      stopAt(point, mode, when);
      ++tried;
      if (testing::Test::HasFailure())
        return;
    }
  }
  std::printf("%s: crash points tried: %llu (%llu operations, %zu modes)\n", name,
              static_cast<unsigned long long>(tried), static_cast<unsigned long long>(total),
              std::size(kModes));
}

class CrashPoints : public ::testing::TestWithParam<WritePath> {};

}  // namespace

// Checks I1 and I4 to I7 (every file recovered to its original or its
// repair, whatever step the crash cut short), and I9: a kill leaves at most
// the one file being written in between, a power loss at most the files of
// the batch being committed.
TEST_P(CrashPoints, ARepairStoppedAtAnyOperationIsFinishedByTheNextRunAndUndoneByUndo) {
  const WritePath& setup = GetParam();
  ASSERT_NE(ExpectedLibrary().original, ExpectedLibrary().repaired);
  // Each file of another format is saved in the walk, not passed over.
  for (const auto& [relative, bytes] : ExpectedLibrary().original) {
    if (relative.find("formats") != std::string::npos)
      EXPECT_NE(bytes, ExpectedLibrary().repaired.at(relative)) << relative;
  }
  const std::uint64_t total = RepairOperations(setup);
  ASSERT_GT(total, 15u);
  WalkCrashPoints(setup.name, total,
                  [&setup](std::uint64_t point, CrashMode mode, const std::string& when) {
                    TempFolder folder, state;
                    WriteLibrary(folder.path());
                    CrashDisk disk(point, mode, setup.features);
                    {
                      DiskInUse use(&disk);
                      Repair(folder.path(), state.path(), setup.batchFiles, setup.jobs);
                    }
                    ASSERT_TRUE(disk.crashed()) << when;
                    EXPECT_LE(FilesInBetween(folder.path()),
                              mode == CrashMode::kKill ? 1u : setup.batchFiles)
                        << when << ": files neither original nor repaired";
                    CrashDisk after(0, CrashMode::kKill, setup.features);
                    DiskInUse use(&after);
                    RecoverAll(folder.path(), state.path());
                    ExpectOriginalOrRepaired(folder.path(), true, when + ", recovered");
                    Repair(folder.path(), state.path(), setup.batchFiles, setup.jobs);
                    ExpectExactly(folder.path(), ExpectedLibrary().repaired, when + ", next run");
                    UndoAll(state.path());
                    ExpectExactly(folder.path(), ExpectedLibrary().original, when + ", undone");
                  });
}

// Checks I7 and I8: an undo puts files back one at a time through the
// single-file commit, so a crash anywhere leaves at most one file in between,
// and the next undo finishes the job.
TEST_P(CrashPoints, AnUndoStoppedAtAnyOperationIsFinishedByTheNextUndo) {
  // The repair runs whole; the undo is what stops.
  const WritePath& setup = GetParam();
  TempFolder countFolder, countState;
  WriteLibrary(countFolder.path());
  CrashDisk counter(0, CrashMode::kKill, setup.features);
  {
    DiskInUse use(&counter);
    Repair(countFolder.path(), countState.path(), setup.batchFiles, setup.jobs);
  }
  const std::uint64_t repairOperations = counter.operations();
  {
    DiskInUse use(&counter);
    UndoRun(countState.path().native(), "", nullptr);
  }
  const std::uint64_t total = counter.operations() - repairOperations;
  ExpectExactly(countFolder.path(), ExpectedLibrary().original, "uninterrupted undo");
  ASSERT_GT(total, 10u);
  WalkCrashPoints(
      setup.name, total, [&setup](std::uint64_t point, CrashMode mode, const std::string& when) {
        TempFolder folder, state;
        WriteLibrary(folder.path());
        {
          CrashDisk unflushed(0, CrashMode::kKill, setup.features);
          DiskInUse use(&unflushed);
          Repair(folder.path(), state.path(), setup.batchFiles, setup.jobs);
        }
        CrashDisk disk(point, mode, setup.features);
        {
          DiskInUse use(&disk);
          UndoRun(state.path().native(), "", nullptr);
        }
        ASSERT_TRUE(disk.crashed()) << when;
        EXPECT_LE(FilesInBetween(folder.path()), 1u) << when;
        CrashDisk after(0, CrashMode::kKill, setup.features);
        DiskInUse use(&after);
        RecoverAll(folder.path(), state.path());
        ExpectOriginalOrRepaired(folder.path(), true, when + ", recovered");
        EXPECT_EQ(0, UndoRun(state.path().native(), "", nullptr)) << when;
        ExpectExactly(folder.path(), ExpectedLibrary().original, when + ", undone again");
      });
}

namespace {

// Each file saved by itself, as FixFile saves without a run journal: the
// single-file commit of engine/file-commit.cc.
void SaveEachAlone(const fs::path& root) {
  for (const PathString& path : FoundPaths(RunScan((root / "music").native(), false, true))) {
    FileOutcome outcome;
    FixFile(path, kCodePage, &outcome);
  }
}

}  // namespace

// Checks I8: the single-file commit stopped at any operation leaves each
// file its original or its repair (or a side journal that brings it back to
// its original), at most one file in between, and the next run finishes the
// job without a side file left.
TEST(CrashPointsAlone, ASaveOfOneFileStoppedAtAnyOperationIsFinishedByTheNextRun) {
  std::uint64_t total = 0;
  {
    TempFolder folder;
    WriteLibrary(folder.path());
    CrashDisk counter;
    DiskInUse use(&counter);
    SaveEachAlone(folder.path());
    ExpectExactly(folder.path(), ExpectedLibrary().repaired, "saved alone, whole");
    total = counter.operations();
  }
  ASSERT_GT(total, 15u);
  WalkCrashPoints("single-file commit", total,
                  [](std::uint64_t point, CrashMode mode, const std::string& when) {
                    TempFolder folder, state;
                    WriteLibrary(folder.path());
                    CrashDisk disk(point, mode);
                    {
                      DiskInUse use(&disk);
                      SaveEachAlone(folder.path());
                    }
                    ASSERT_TRUE(disk.crashed()) << when;
                    EXPECT_LE(FilesInBetween(folder.path()), 1u) << when;
                    CrashDisk after;
                    DiskInUse use(&after);
                    RecoverAll(folder.path(), state.path());
                    ExpectOriginalOrRepaired(folder.path(), true, when + ", recovered");
                    SaveEachAlone(folder.path());
                    ExpectExactly(folder.path(), ExpectedLibrary().repaired, when + ", next run");
                  });
}

namespace {

std::string WritePathName(const ::testing::TestParamInfo<WritePath>& info) {
  static const char* const kNames[] = {"InsertRange", "Copy", "FileByFile", "InsertRangeOneBatch"};
  return kNames[info.index];
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Disk, CrashPoints, ::testing::ValuesIn(kWritePaths), WritePathName);
