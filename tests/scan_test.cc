// The folder scan: which entries are reported, in which order, and how the
// walk ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine/engine.h"
#include "engine/scan.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using fixtures::TempFolder;

namespace {

std::set<PathString> AsSet(const std::vector<PathString>& paths) {
  return std::set<PathString>(paths.begin(), paths.end());
}

PathString Under(const TempFolder& folder, const PathString& relative) {
  return folder.path().native() + kPathSeparator + relative;
}

}  // namespace

TEST(ScanFolder, ReportsEveryNameEndingInMp3InAnyLetterCase) {
  TempFolder folder;
  for (const char* name : {"Song.MP3", "other.Mp3", "third.mp3", ".mp3", ".hidden.mp3", "..x.mp3",
                           "song.mp3.bak", "song.mp4", "songmp3", "notes.txt"}) {
    folder.Write(name, "");
  }
  folder.Mkdir("Album.mp3");
  folder.Write(fs::path("Album.mp3") / "inner.mP3", "");
  folder.Write(fs::path("Album.mp3") / "cover.jpg", "");

  const std::vector<Received> received = RunScan(folder.path().native());
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(WM_SCAN_COMPLETE, received.back().message);
  const std::vector<PathString> found = FoundPaths(received);
  EXPECT_EQ(received.size() - 1, found.size()) << "completion comes last and once";

  const PathString sep(1, kPathSeparator);
  const std::set<PathString> expected = {
      Under(folder, PATH_TEXT("Song.MP3")),
      Under(folder, PATH_TEXT("other.Mp3")),
      Under(folder, PATH_TEXT("third.mp3")),
      Under(folder, PATH_TEXT(".mp3")),
      Under(folder, PATH_TEXT(".hidden.mp3")),
      Under(folder, PATH_TEXT("..x.mp3")),
      Under(folder, PATH_TEXT("Album.mp3") + sep + PATH_TEXT("inner.mP3")),
  };
  EXPECT_EQ(expected, AsSet(found));
  EXPECT_EQ(found.size(), AsSet(found).size()) << "each file once";
}

TEST(ScanFolder, WalksEachSubfolderCompletelyBeforeTheNextEntry) {
  TempFolder folder;
  for (const char* name : {"a/1.mp3", "a/2.mp3", "a/deep/3.mp3", "a/deep/4.mp3", "b/5.mp3", "6.mp3",
                           "c/d/e/7.mp3", "c/8.mp3"}) {
    folder.Write(name, "");
  }
  const std::vector<PathString> found = FoundPaths(RunScan(folder.path().native()));
  ASSERT_EQ(8u, found.size());
  // The files of every subtree form one unbroken run of the list.
  for (const char* subtree : {"a", "a/deep", "b", "c", "c/d"}) {
    const PathString prefix =
        (folder.path() / fs::path(subtree)).make_preferred().native() + kPathSeparator;
    std::vector<size_t> positions;
    for (size_t i = 0; i < found.size(); ++i) {
      if (found[i].compare(0, prefix.size(), prefix) == 0)
        positions.push_back(i);
    }
    ASSERT_FALSE(positions.empty()) << subtree;
    EXPECT_EQ(positions.back() - positions.front() + 1, positions.size()) << subtree;
  }
}

TEST(ScanFolder, FoldersThatCannotBeListedEndTheScanNormally) {
  TempFolder folder;
  folder.Mkdir("empty");
  const fs::path file = folder.Write("file.mp3", "");
  for (const fs::path& path : {folder.path() / "empty", folder.path() / "missing", file}) {
    const std::vector<Received> received = RunScan(path.native());
    ASSERT_EQ(1u, received.size()) << path;
    EXPECT_EQ(WM_SCAN_COMPLETE, received[0].message);
  }
}

TEST(ScanFolder, AFolderThatCannotBeListedIsToldWhenAskedWithItsReason) {
  TempFolder folder;
  folder.Write("a/1.mp3", "");
  const fs::path missing = folder.path() / "gone";
  // Asked for: the missing folder is told once, with the system's reason,
  // and the scan ends as usual.
  const std::vector<Received> told = RunScan(missing.native(), true);
  ASSERT_EQ(2u, told.size());
  EXPECT_EQ(WM_SCAN_FOLDER_UNREADABLE, told[0].message);
  EXPECT_EQ(missing.native(), told[0].path);
  EXPECT_EQ(std::wstring(L"no such file or folder"), told[0].detail);
  EXPECT_EQ(WM_SCAN_COMPLETE, told[1].message);
  // Not asked for (the wizard): nothing but the files.
  EXPECT_EQ(1u, RunScan(missing.native()).size());
}

TEST(ScanFolder, EveryFormatIsFoundWhenAskedAndOnlyMp3Otherwise) {
  TempFolder folder;
  for (const char* name : {"a.mp3", "b.FLAC", "c.ogg", "d.Opus", "e.oga", "f.wav", "g.AIFF",
                           "h.aif", "i.m4a", "j.M4B", "k.mp4", "l.wma", "m.asf", "n.ape", "o.WV",
                           "p.txt", "q.flac.bak", "r.m4", "wav"})
    folder.Write(name, "");
  EXPECT_EQ(15u, FoundPaths(RunScan(folder.path().native(), false, true)).size());
  EXPECT_EQ(1u, FoundPaths(RunScan(folder.path().native())).size());
}

TEST(ScanFolder, AFolderWithATrailingSeparatorGetsOneMoreSeparator) {
  TempFolder folder;
  folder.Write("x.mp3", "");
  const PathString withSeparator = folder.path().native() + kPathSeparator;
  const std::vector<PathString> found = FoundPaths(RunScan(withSeparator));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(withSeparator + kPathSeparator + PATH_TEXT("x.mp3"), found[0]);
}

TEST(ScanFolder, StopsWhenAsked) {
  TempFolder folder;
  for (int i = 0; i < 20; ++i)
    folder.Write("d" + std::to_string(i) + "/a.mp3", "");
  std::atomic<bool> stop{true};
  NotifyTarget target = CreateNotifyTarget();
  ScanJob job;
  job.window = target;
  job.folder = folder.path().native();
  job.stopRequested = &stop;
  ScanFolder(job, job.folder);
  // Nothing was posted: a stop before the first entry ends the walk at once.
  EXPECT_TRUE(PostNotification(target, WM_SCAN_COMPLETE, 0));
  unsigned first = 0;
  RunNotificationLoop(
      target,
      [](void* context, const Notification& n) {
        *static_cast<unsigned*>(context) = n.message;
        return false;
      },
      &first);
  DestroyNotifyTarget(target);
  EXPECT_EQ(WM_SCAN_COMPLETE, first);
}
