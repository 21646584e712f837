// What only POSIX file systems have: symbolic links, names that are not
// UTF-8, and permissions (the Unprivileged cases run as an ordinary user).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "engine/platform/disk-posix.h"
#include "engine/engine.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

std::string Needing(const char* title = "\xC0\xE1\xE2") {
  return Id3v2Tag({TextFrame("TIT2", title)}) + MpegFrames(4);
}

}  // namespace

TEST(ScanLinks, LinksAreFollowedButALoopBackToAnAncestorIsNotEntered) {
  TempFolder folder;
  folder.Write("music/a.mp3", "");
  folder.Write("elsewhere/b.mp3", "");
  fs::create_directory_symlink("..", folder.path() / "music" / "up");   // loop
  fs::create_directory_symlink(".", folder.path() / "music" / "self");  // loop
  fs::create_directory_symlink(folder.path() / "elsewhere", folder.path() / "music" / "link");
  fs::create_symlink(folder.path() / "music" / "a.mp3", folder.path() / "music" / "alias.mp3");
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "music" / "dangling.mp3");

  const std::string music = (folder.path() / "music").string();
  const std::vector<PathString> found = FoundPaths(RunScan(music));
  const std::set<PathString> expected = {music + "/a.mp3", music + "/link/b.mp3",
                                         music + "/alias.mp3", music + "/dangling.mp3",
                                         music + "/up/elsewhere/b.mp3"};
  EXPECT_EQ(expected, std::set<PathString>(found.begin(), found.end()));
  EXPECT_EQ(expected.size(), found.size());
}

TEST(ScanLinks, LinkedFileIsRepairedThroughTheLinkAndStaysALink) {
  TempFolder folder;
  const fs::path target = folder.Write("real/song.mp3", Needing());
  fs::create_symlink(target, folder.path() / "link.mp3");
  FileOutcome outcome;
  EXPECT_EQ(WM_FIX_SUCCEEDED, FixFile((folder.path() / "link.mp3").native(), 1251, &outcome));
  EXPECT_TRUE(fs::is_symlink(folder.path() / "link.mp3"));
  EXPECT_NE(Needing(), ReadFile(target));
}

TEST(ScanNames, NamesThatAreNotUtf8AreFoundAndRepaired) {
  TempFolder folder;
  const std::string name = "\xC3\xE8\xEC\xED.mp3";  // a 1251 file name, not UTF-8
  folder.Write(name, Needing());
  const std::vector<PathString> found = FoundPaths(RunScan(folder.path().native()));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ(folder.path().native() + "/" + name, found[0]);
  const std::vector<Received> fixed = RunFix(found, 1251);
  EXPECT_EQ(WM_FIX_SUCCEEDED, fixed.at(0).message);
}

TEST(ScanNames, DeeplyNestedFoldersAreWalked) {
  TempFolder folder;
  fs::path deep;
  for (int i = 0; i < 120; ++i)
    deep /= "d";
  folder.Write(deep / "deep.mp3", "");
  EXPECT_EQ(1u, FoundPaths(RunScan(folder.path().native())).size());
}

// Root ignores file modes, so these run under an ordinary user id (see
// tests/CMakeLists.txt); as root they fail instead of passing silently.
class Unprivileged : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0u, geteuid()) << "run the Unprivileged tests as an ordinary user";
  }
};

TEST_F(Unprivileged, ReadOnlyFileThatNeedsRepairCannotBeSaved) {
  TempFolder folder;
  const fs::path needs = folder.Write("needs.mp3", Needing());
  const fs::path plain = folder.Write("plain.mp3", Needing("ASCII"));
  chmod(needs.c_str(), 0444);
  chmod(plain.c_str(), 0444);
  const std::vector<Received> received = RunFix({needs.native(), plain.native()}, 1251);
  ASSERT_EQ(3u, received.size());
  EXPECT_EQ(WM_FIX_FAILED, received[0].message);
  EXPECT_EQ(std::wstring(L"Couldn't save changes"), received[0].issue);
  EXPECT_EQ(WM_FIX_NOT_NEEDED, received[1].message);
  EXPECT_EQ(Needing(), ReadFile(needs));
}

TEST_F(Unprivileged, UnreadableFileCannotBeOpened) {
  TempFolder folder;
  const fs::path path = folder.Write("locked.mp3", Needing());
  chmod(path.c_str(), 0000);
  FileOutcome outcome;
  EXPECT_EQ(WM_FIX_FAILED, FixFile(path.native(), 1251, &outcome));
  EXPECT_EQ(std::wstring(L"Couldn't open file"), outcome.issue);
}

TEST_F(Unprivileged, FolderWithoutPermissionIsSkipped) {
  TempFolder folder;
  folder.Write("open/a.mp3", "");
  folder.Write("closed/b.mp3", "");
  chmod((folder.path() / "closed").c_str(), 0000);
  const std::vector<PathString> found = FoundPaths(RunScan(folder.path().native()));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ((folder.path() / "open" / "a.mp3").native(), found[0]);
  // Asked for, the folder passed over is told with the system's reason.
  std::vector<Received> told;
  for (const Received& entry : RunScan(folder.path().native(), true)) {
    if (entry.message == WM_SCAN_FOLDER_UNREADABLE)
      told.push_back(entry);
  }
  ASSERT_EQ(1u, told.size());
  EXPECT_EQ((folder.path() / "closed").native(), told[0].path);
  EXPECT_EQ(std::wstring(L"permission denied"), told[0].detail);
}

TEST(ScanNames, ANamedPipeCalledMp3FailsToOpenInsteadOfBlocking) {
  TempFolder folder;
  const fs::path pipe = folder.path() / "pipe.mp3";
  ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
  const std::vector<PathString> found = FoundPaths(RunScan(folder.path().native()));
  ASSERT_EQ(1u, found.size());
  // Should the repair open the pipe as a file, this writer lets it go on
  // (an empty read) instead of waiting for one for ever, so the test fails
  // rather than hangs. The reader opened after the run frees the writer
  // when the repair never opened the pipe at all.
  std::thread writer([&pipe] {
    const int fd = open(pipe.c_str(), O_WRONLY);
    if (fd >= 0)
      close(fd);
  });
  const std::vector<Received> fixed = RunFix(found, 1251);
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  close(reader);
  ASSERT_EQ(2u, fixed.size());
  EXPECT_EQ(WM_FIX_FAILED, fixed[0].message);
  EXPECT_EQ(std::wstring(L"Couldn't open file"), fixed[0].issue);
}

// A flush of a whole file system is trusted only where the kernel writes
// that file system itself; elsewhere syncfs returns 0 having flushed nothing,
// and each written file must be flushed by itself.
TEST(FileSystemFlush, IsRefusedWhereSyncfsReachesNoDiskAndDoneElsewhere) {
  for (const unsigned long unreached : {0x65735546ul, 0xFF534D42ul, 0xFE534D42ul, 0x517Bul})
    EXPECT_FALSE(SyncfsReachesDisk(unreached)) << std::hex << unreached;
  // The same types as a sign-extended f_type gives them.
  EXPECT_FALSE(
      SyncfsReachesDisk(static_cast<unsigned long>(std::int64_t(std::int32_t(0xFF534D42)))));
  for (const unsigned long kernels : {0xEF53ul, 0x58465342ul, 0x9123683Eul, 0x01021994ul, 0x6969ul})
    EXPECT_TRUE(SyncfsReachesDisk(kernels)) << std::hex << kernels;

  TempFolder folder;
  const PathString path = folder.Write("a.mp3", "x").native();
  NativeFile* file = OpenExistingFile(path, false);
  ASSERT_NE(nullptr, file);
  struct statfs info;
  ASSERT_EQ(0, statfs(path.c_str(), &info));
  EXPECT_EQ(SyncfsReachesDisk(static_cast<unsigned long>(info.f_type)), FlushFileSystemOf(file));
  CloseNativeFile(file);
}

// The copy by hand that FUSE mounts take (and any file system the kernel
// cannot copy on): a tag written first, then the audio, from offsets on no
// 128 KiB boundary of either file, as a grown tag's copy does.
TEST(CopyThroughBuffer, CopiesEveryByteDirectOrNotAndLeavesTheFileAsItWasOpened) {
  TempFolder folder;
  // Over two of its 8 MiB reads, each written from an offset off the 128 KiB
  // boundaries.
  std::string source(17 * (1 << 20) + 4321, '\0');
  for (std::size_t at = 0; at < source.size(); ++at)
    source[at] = char((at * 131 + at / 4096) & 0xFF);
  const PathString from = folder.Write("from.mp3", source).native();
  const std::string tag(1616, 'T');
  for (const bool direct : {false, true}) {
    // Direct writes at offset 1616 are refused where they must be aligned
    // (ext4, XFS): the copy goes on through the page cache.
    const PathString to = folder.Write(direct ? "direct" : "cached", tag).native();
    NativeFile* in = OpenExistingFile(from, false);
    NativeFile* out = OpenExistingFile(to, true);
    ASSERT_NE(nullptr, in);
    ASSERT_NE(nullptr, out);
    const std::uint64_t count = source.size() - 1000;
    EXPECT_TRUE(CopyThroughBuffer(in, 1000, out, tag.size(), count, direct)) << direct;
    // Past the source's end the copy fails instead of leaving a short file.
    EXPECT_FALSE(CopyThroughBuffer(in, source.size() - 10, out, 0, 20, direct)) << direct;
    // The handle writes through the cache again: one byte at an odd offset
    // is refused to a direct write where alignment is asked.
    EXPECT_TRUE(WriteFileAt(out, 7, "t", 1)) << direct;
    CloseNativeFile(in);
    CloseNativeFile(out);
    std::string expected = tag + source.substr(1000);
    expected[7] = 't';
    EXPECT_EQ(expected, ReadFile(to)) << direct;
  }
}
