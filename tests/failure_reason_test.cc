// A file that cannot be saved says why: the system's reason for the failed
// operation reaches the outcome's detail, through the single-file save and
// the batched one alike, and a file that was not saved keeps its bytes.
#include <gtest/gtest.h>

#include <errno.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/commit/journal.h"
#include "tests/cli_run.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

// A disk on which files whose names hold "locked" cannot be written (as a
// file the user may not write) and, once full, nothing can be written.
class FailingDisk : public PassThroughDisk {
 public:
  bool full = false;

  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    if (forWriting && Locked(path))
      return Refuse<NativeFile*>(EACCES, nullptr);
    return Real().OpenExisting(path, forWriting);
  }
  NativeFile* CreateNew(const PathString& path) override {
    if (Locked(path))
      return Refuse<NativeFile*>(EACCES, nullptr);
    return Real().CreateNew(path);
  }
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override {
    return full ? Refuse(ENOSPC, false) : Real().Write(file, offset, data, count);
  }
  bool Rename(const PathString& target, const PathString& replacement) override {
    return Locked(target) ? Refuse(EACCES, false) : Real().Rename(target, replacement);
  }
  bool Replace(const PathString& target, const PathString& replacement) override {
    return Locked(target) ? Refuse(EACCES, false) : Real().Replace(target, replacement);
  }

 private:
  template <typename Result>
  static Result Refuse(int code, Result result) {
    errno = code;
    return result;
  }
  static bool Locked(const PathString& path) {
    return path.find(PATH_TEXT("locked")) != PathString::npos;
  }
};

// A disk on which another program appends to `changed`, or puts a new file
// in its place, when a run flushes its journal records: between the
// reading of the file and its batch's writes.
class MeddlingDisk : public PassThroughDisk {
 public:
  fs::path changed;
  bool replace = false;

  bool Flush(NativeFile* file) override {
    if (!changed.empty()) {
      const std::string bytes = ReadFile(changed);
      if (replace)
        fs::remove(changed);
      std::ofstream(changed, std::ios::binary) << bytes << (replace ? "" : "appended");
      changed.clear();
    }
    return Real().Flush(file);
  }
};

struct DiskInUse {
  explicit DiskInUse(DiskInterface* disk) { UseDiskInterface(disk); }
  ~DiskInUse() { UseDiskInterface(nullptr); }
};

}  // namespace

TEST(FailureReasons, ASaveThatFailsSaysWhyInEveryRoute) {
  TempFolder folder, state;
  const fs::path locked = folder.Write("locked.mp3", Needing());
  const fs::path other = folder.Write("other.mp3", Needing());
  FailingDisk disk;
  DiskInUse inUse(&disk);

  // The single-file save.
  FileOutcome outcome;
  EXPECT_EQ(unsigned(WM_FIX_FAILED), FixFile(locked.native(), 1251, &outcome));
  EXPECT_EQ(std::wstring(kIssueCouldNotSave), outcome.issue);
  EXPECT_EQ(L"permission denied", outcome.detail);
  disk.full = true;
  EXPECT_EQ(unsigned(WM_FIX_FAILED), FixFile(other.native(), 1251, &outcome));
  EXPECT_EQ(L"no space left on the device", outcome.detail);
  disk.full = false;

  // The batched save under a run journal.
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
  const std::vector<Received> received = RunFix({locked.native(), other.native()}, 1251, journal);
  EndRunJournal(journal);
  ASSERT_EQ(3u, received.size());
  EXPECT_EQ(unsigned(WM_FIX_FAILED), received[0].message);
  EXPECT_EQ(L"permission denied", received[0].detail);
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), received[1].message);
  EXPECT_EQ(L"", received[1].detail) << "the reason of another file's failure";
  EXPECT_EQ(Needing(), ReadFile(locked));
}

namespace {

// A folder in which no new file can be made (read-only, or not the user's),
// on a file system that cannot open room in a file: a grown tag needs a
// copy beside its file, and the file itself stays writable.
class ClosedFolderDisk : public PassThroughDisk {
 public:
  NativeFile* CreateNew(const PathString& path) override {
    if (path.find(PATH_TEXT("/.songwright-")) != PathString::npos) {
      errno = EACCES;
      return nullptr;
    }
    return Real().CreateNew(path);
  }
  bool InsertRange(NativeFile*, std::uint64_t, std::uint64_t) override { return false; }
  bool MayInsertRange(NativeFile*) override { return false; }
};

}  // namespace

TEST(FailureReasons, ACopyThatCannotBeMadeBesideTheFileIsNamedAsWhatFailed) {
  TempFolder folder, state;
  const fs::path song = folder.Write("song.mp3", Needing());
  ClosedFolderDisk disk;
  DiskInUse inUse(&disk);
  const std::wstring reason = L"the copy beside the file could not be made: permission denied";
  FileOutcome outcome;
  EXPECT_EQ(unsigned(WM_FIX_FAILED), FixFile(song.native(), 1251, &outcome));
  EXPECT_EQ(reason, outcome.detail);
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
  const std::vector<Received> received = RunFix({song.native()}, 1251, journal);
  EndRunJournal(journal);
  ASSERT_EQ(2u, received.size());
  EXPECT_EQ(unsigned(WM_FIX_FAILED), received[0].message);
  EXPECT_EQ(reason, received[0].detail);
  EXPECT_EQ(Needing(), ReadFile(song));
}

// I11: a file changed by another program while the run held it is left as
// that program made it, and said to have changed during the run.
TEST(FailureReasons, I11_AFileChangedDuringTheRunIsNotWritten) {
  for (const bool replace : {false, true}) {
    TempFolder folder, state;
    const fs::path song = folder.Write("song.mp3", Needing());
    MeddlingDisk disk;
    disk.changed = song;
    disk.replace = replace;
    DiskInUse inUse(&disk);
    RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
    const std::vector<Received> received = RunFix({song.native()}, 1251, journal);
    EndRunJournal(journal);
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(unsigned(WM_FIX_FAILED), received[0].message) << replace;
    EXPECT_EQ(L"the file changed during the run", received[0].detail);
    EXPECT_EQ(Needing() + (replace ? "" : "appended"), ReadFile(song));
  }
}
