// The file seam and what is built on it: paths as text, identities learned
// by path, the run journal's folder work, and the read-only TagLib stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "engine/commit/journal-read.h"
#include "engine/commit/journal.h"
#include "engine/commit/run-lock.h"
#include "engine/engine.h"
#include "engine/platform/disk-stream.h"
#include "engine/platform/disk.h"
#include "engine/platform/path.h"
#include "engine/suggest-collect.h"
#include "engine/text/text-pool.h"
#include "tests/crash_disk.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

constexpr bool kWindows = kPathSeparator == PathChar('\\');

// A path written with '/' in the platform's own separators.
PathString Native(const std::string& text) {
  PathString path(text.begin(), text.end());
  for (PathChar& c : path) {
    if (c == PathChar('/'))
      c = kPathSeparator;
  }
  return path;
}

PathString Text(const char* text) {
  const std::string bytes(text);
  return PathString(bytes.begin(), bytes.end());
}

}  // namespace

// --- Folder listings ---------------------------------------------------------

TEST(FolderListing, GivesTheFoldersOwnEntriesWithTheirKindsAndNeitherDotNorDotDot) {
  TempFolder folder;
  folder.Write("a.mp3", "");
  folder.Mkdir("sub");
  folder.Mkdir("x.mp3");  // a folder whose name looks like a song's
  FolderIdentity identity;
  DirectoryListing* listing = OpenDirectoryListing(folder.path().native(), &identity);
  ASSERT_NE(nullptr, listing);
  std::vector<std::pair<PathString, bool>> entries;
  DirectoryEntry entry;
  while (NextDirectoryEntry(listing, &entry))
    entries.emplace_back(entry.name, entry.isDirectory);
  CloseDirectoryListing(listing);
  std::sort(entries.begin(), entries.end());
  const std::vector<std::pair<PathString, bool>> expected = {
      {Text("a.mp3"), false}, {Text("sub"), true}, {Text("x.mp3"), true}};
  EXPECT_EQ(expected, entries);
}

// --- Paths as text -----------------------------------------------------------

TEST(Paths, AFolderHasNoTrailingSeparatorButARootKeepsItsOwn) {
  EXPECT_EQ(Native("Music/A"), FolderOf(Native("Music/A/1.mp3")));
  EXPECT_EQ(Native("Music"), FolderOf(Native("Music//1.mp3")));
  EXPECT_EQ(Text("."), FolderOf(Text("1.mp3")));
  EXPECT_EQ(Native("/"), FolderOf(Native("/1.mp3")));
  EXPECT_EQ(Native("Music/A"), JoinPath(Native("Music"), Text("A")));
  EXPECT_EQ(Native("Music/A"), JoinPath(Native("Music/"), Text("A")));
  EXPECT_EQ(Text("A"), JoinPath(PathString(), Text("A")));
  if (kWindows) {
    EXPECT_EQ(Text("C:/Music"), FolderOf(Text("C:/Music/1.mp3")));
    EXPECT_EQ(Text("C:\\"), FolderOf(Text("C:\\1.mp3")));
    EXPECT_EQ(Text("\\\\server\\share\\"), FolderOf(Text("\\\\server\\share\\1.mp3")));
    EXPECT_EQ(2u, NameStartOf(Text("C:1.mp3")));
  } else {
    // A backslash is part of a name here.
    EXPECT_EQ(Text("."), FolderOf(Text("A\\1.mp3")));
    EXPECT_EQ(0u, NameStartOf(Text("A\\1.mp3")));
  }
}

TEST(Paths, AnAbsolutePathIsCleanedAndARelativeOneJoinedToTheCurrentFolder) {
  const PathString current = kWindows ? Text("C:\\Users\\u") : Text("/home/u");
  EXPECT_EQ(JoinPath(current, Native("Music/a.mp3")),
            AbsolutePathFrom(current, Text("Music/./a.mp3")));
  EXPECT_EQ(JoinPath(current, Native("../a.mp3")), AbsolutePathFrom(current, Text("../a.mp3")));
  EXPECT_EQ(Text("rel"), AbsolutePathFrom(PathString(), Text("rel")));  // no current folder
  if (kWindows) {
    EXPECT_EQ(Text("D:\\Music\\a"), AbsolutePathFrom(current, Text("D:/Music//./a/")));
    EXPECT_EQ(Text("C:\\Music"), AbsolutePathFrom(current, Text("\\Music")));
    EXPECT_EQ(Text("C:\\Users\\u\\Music"), AbsolutePathFrom(current, Text("c:Music")));
    EXPECT_EQ(Text("D:\\Music"), AbsolutePathFrom(current, Text("D:Music")));
  } else {
    EXPECT_EQ(Text("/Music/a"), AbsolutePathFrom(current, Text("//Music//./a/")));
    EXPECT_EQ(Text("/"), AbsolutePathFrom(current, Text("/")));
  }
  // The journal's absolute paths are taken from the process's current folder.
  EXPECT_EQ(fs::current_path().native(), CurrentFolder());
  EXPECT_EQ(JoinPath(CurrentFolder(), Text("a.mp3")), AbsolutePath(Text("./a.mp3")));
}

// --- The run journal's folders -----------------------------------------------

namespace {

// Records the folder work done through it; creating folders can be refused.
class FolderWatchingDisk final : public PassThroughDisk {
 public:
  bool CreateFolder(const PathString& folder) override {
    created.push_back(folder);
    return !refuseFolders && Real().CreateFolder(folder);
  }
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override {
    listed.push_back(folder);
    return Real().OpenListing(folder, identity);
  }
  bool Rename(const PathString& target, const PathString& replacement) override {
    renamed.emplace_back(target, replacement);
    return Real().Rename(target, replacement);
  }

  bool refuseFolders = false;
  std::vector<PathString> created, listed;
  std::vector<std::pair<PathString, PathString>> renamed;
};

JournalSave SomeSave(const PathString& path) {
  JournalSave save;
  save.path = path;
  save.record.originalBytes = "ID3 as it was";
  save.record.repairedLength = 20;
  return save;
}

}  // namespace

TEST(JournalFolders, TheRunsFolderIsMadeListedAndRenamedInThroughTheDiskInUse) {
  TempFolder folder;
  const PathString state = (folder.path() / "state").native();  // not there yet
  const PathString runsFolder = JoinPath(state, Text("runs"));
  const PathString song = (folder.path() / "a.mp3").native();
  FolderWatchingDisk disk;
  DiskInUse use(&disk);

  RunJournal* journal = BeginRunJournal(state, {folder.path().native()});
  ASSERT_NE(nullptr, journal);
  EXPECT_TRUE(JournalBatch(journal, {SomeSave(song)}));
  EXPECT_TRUE(JournalCommit(journal));
  EndRunJournal(journal);
  // Recovery looked for unfinished runs before the folders were made.
  ASSERT_FALSE(disk.listed.empty());
  EXPECT_EQ(runsFolder, disk.listed.front());
  // The state folder was made on the way to the runs folder.
  ASSERT_FALSE(disk.created.empty());
  EXPECT_EQ(runsFolder, disk.created.back());
  EXPECT_NE(disk.created.end(), std::find(disk.created.begin(), disk.created.end(), state));
  EXPECT_TRUE(fs::is_directory(runsFolder));

  std::vector<JournalRun> runs = ReadJournalRuns(state, JournalDepth::kFull);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(runsFolder, disk.listed.back());
  EXPECT_EQ(runsFolder, FolderOf(runs[0].file));
  ASSERT_EQ(1u, runs[0].saves.size());
  EXPECT_EQ(song, runs[0].saves[0].path);
  EXPECT_FALSE(runs[0].undone);

  ASSERT_TRUE(MarkJournalRunUndone(runs[0]));
  ASSERT_EQ(1u, disk.renamed.size());
  EXPECT_EQ(runs[0].file, disk.renamed[0].second);
  const std::vector<JournalRun> after = ReadJournalRuns(state, JournalDepth::kHeader);
  ASSERT_EQ(1u, after.size());
  EXPECT_TRUE(after[0].undone);
  EXPECT_EQ(runs[0].id, after[0].id);
  EXPECT_EQ(disk.renamed[0].first, after[0].file);
}

TEST(JournalFolders, AJournalWhoseFolderCannotBeMadeFailsItsFirstBatch) {
  TempFolder folder;
  const PathString state = (folder.path() / "state").native();
  FolderWatchingDisk disk;
  disk.refuseFolders = true;
  DiskInUse use(&disk);
  RunJournal* journal = BeginRunJournal(state, {folder.path().native()});
  ASSERT_NE(nullptr, journal);
  EXPECT_FALSE(JournalBatch(journal, {SomeSave((folder.path() / "a.mp3").native())}));
  EndRunJournal(journal);
  EXPECT_FALSE(disk.created.empty());
  EXPECT_FALSE(fs::exists(state));
}

// --- The read-only TagLib stream ---------------------------------------------

TEST(DiskReadStream, ReadsTheFilesBytesWhereverAReadFallsOnItsCache) {
  std::string content(20000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = char((i * 7 + i / 251) & 0xFF);
  TempFolder folder;
  const PathString path = folder.Write("bytes.mp3", content).native();
  DiskReadStream stream(path);
  ASSERT_TRUE(stream.isOpen());
  EXPECT_TRUE(stream.readOnly());
  EXPECT_EQ(long(content.size()), stream.length());

  // Small reads across 4 KiB and block edges, a read larger than the cache
  // serves, reads near the end and past it, in an order that moves the
  // cache back and forth.
  const std::pair<long, unsigned long> reads[] = {
      {0, 10},      {4090, 20}, {8190, 10}, {3, 4096}, {8000, 4000},  {19990, 50},
      {12000, 100}, {8191, 1},  {20000, 5}, {4095, 2}, {16380, 4100}, {25000, 1}};
  for (const auto& [offset, count] : reads) {
    stream.seek(offset);
    const TagLib::ByteVector got = stream.readBlock(count);
    const std::string expected =
        std::size_t(offset) < content.size() ? content.substr(std::size_t(offset), count) : "";
    EXPECT_EQ(expected, std::string(got.data(), got.size())) << offset << "+" << count;
    EXPECT_EQ(offset + long(expected.size()), stream.tell()) << offset << "+" << count;
  }
  stream.seek(-128, TagLib::IOStream::End);
  const TagLib::ByteVector last = stream.readBlock(128);
  EXPECT_EQ(content.substr(content.size() - 128), std::string(last.data(), last.size()));

  // Only regular files open.
  EXPECT_FALSE(DiskReadStream(folder.path().native()).isOpen());
  EXPECT_FALSE(DiskReadStream((folder.path() / "missing.mp3").native()).isOpen());
}

namespace {

// Counts the opens of one file and every write.
class OpenCountingDisk final : public PassThroughDisk {
 public:
  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    if (path == watched)
      ++(forWriting ? opensForWriting : opensForReading);
    return Real().OpenExisting(path, forWriting);
  }
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override {
    ++writes;
    return Real().Write(file, offset, data, count);
  }

  PathString watched;
  int opensForReading = 0, opensForWriting = 0, writes = 0;
};

}  // namespace

TEST(DiskReadStream, TagLibReadsBothTagsThroughTheDiskInUseAndCannotWrite) {
  TempFolder folder;
  const std::string bytes =
      Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2 title")}) + MpegFrames(4) + Id3v1Tag("v1 title");
  const PathString path = folder.Write("song.mp3", bytes).native();
  OpenCountingDisk disk;
  disk.watched = path;
  DiskInUse use(&disk);
  {
    DiskReadStream stream(path);
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    ASSERT_TRUE(file.isValid());
    ASSERT_NE(nullptr, file.ID3v2Tag(false));
    EXPECT_EQ(std::string("\xC0\xE1\xE2 title"), file.ID3v2Tag(false)->title().to8Bit(false));
    ASSERT_NE(nullptr, file.ID3v1Tag(false));
    EXPECT_EQ(std::string("v1 title"), file.ID3v1Tag(false)->title().to8Bit(false));
    file.ID3v2Tag(false)->setTitle("changed");
    EXPECT_FALSE(file.save());
  }
  EXPECT_EQ(1, disk.opensForReading);
  // The suggestion reads its text the same way.
  SuggestionPool pool;
  CollectFromFile(path, &pool);
  EXPECT_EQ(2, disk.opensForReading);
  EXPECT_EQ(1u, pool.fileCount);
  EXPECT_EQ(0, disk.opensForWriting);
  EXPECT_EQ(0, disk.writes);
  EXPECT_EQ(bytes, ReadFile(path));
}

namespace {

// Refuses to give a copy its original's owner and permissions, on a file
// system that cannot open room in a file; says the run locks of `busy` are
// held elsewhere, and counts the locks taken and released.
class SecurityAndLockDisk final : public PassThroughDisk {
 public:
  bool CopySecurity(NativeFile*, NativeFile*) override {
    ++securityCopies;
    return false;
  }
  bool InsertRange(NativeFile*, std::uint64_t, std::uint64_t) override { return false; }
  bool MayInsertRange(NativeFile*) override { return false; }
  PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) override {
    if (path == busy)
      return PathLockResult::kBusy;
    const PathLockResult result = Real().LockPath(path, exclusive, lock);
    taken += result == PathLockResult::kLocked;
    return result;
  }
  void UnlockPath(PathLock* lock) override {
    ++released;
    Real().UnlockPath(lock);
  }

  PathString busy;
  int securityCopies = 0, taken = 0, released = 0;
};

}  // namespace

// The copy's security and the run locks reach the disk in use: a copy
// refused its original's owner never takes the original's place (the file
// is rewritten where it is), and a lock held elsewhere stops the run.
TEST(Seam, S1_TheSecurityCopyAndTheRunLocksGoThroughTheDiskInUse) {
  TempFolder folder;
  const std::string original = Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2")}) + MpegFrames(4);
  const fs::path song = folder.Write("A/song.mp3", original);
  std::uint64_t device = 0, before = 0, after = 0;
  ASSERT_TRUE(IdentifyPath(song.native(), &device, &before));
  SecurityAndLockDisk disk;
  DiskInUse use(&disk);

  FileOutcome outcome;
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), FixFile(song.native(), 1251, &outcome));
  EXPECT_EQ(1, disk.securityCopies);
  ASSERT_TRUE(IdentifyPath(song.native(), &device, &after));
  EXPECT_EQ(before, after) << "the copy replaced the original";
  EXPECT_NE(original, ReadFile(song));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(song.parent_path()), fs::directory_iterator()))
      << "a copy left beside the song";

  PathString busyPath;
  RunLocks* locks = LockRunPaths({song.native()}, &busyPath);
  ASSERT_NE(nullptr, locks);
  EXPECT_GT(disk.taken, 1) << "the song and the folders above it";
  UnlockRunPaths(locks);
  EXPECT_EQ(disk.taken, disk.released);
  disk.busy = song.parent_path().native();
  EXPECT_EQ(nullptr, LockRunPaths({song.native()}, &busyPath));
  EXPECT_EQ(song.native(), busyPath);
  EXPECT_EQ(disk.taken, disk.released);
}

// The crash walk counts the security copy among the operations it may stop
// at, and sees every lock a run takes.
TEST(Seam, S1_TheCrashWalkSeesTheSecurityCopyAndTheLocks) {
  TempFolder folder;
  const fs::path song =
      folder.Write("song.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2")}) + MpegFrames(4));
  CrashDisk counter(0, CrashMode::kKill, DiskFeatures{/*insertRange=*/false, true});
  DiskInUse use(&counter);
  PathString busyPath;
  RunLocks* locks = LockRunPaths({song.native()}, &busyPath);
  EXPECT_GT(counter.locks(), 1u);
  FileOutcome outcome;
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), FixFile(song.native(), 1251, &outcome));
  UnlockRunPaths(locks);
  EXPECT_EQ(1u, counter.securityCopies());
}

