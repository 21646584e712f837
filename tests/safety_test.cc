// Saves in awkward places: read-only folders, files replaced or removed after
// the scan, empty files, owners and modes, hard links and symbolic links.
// Each ends with the right outcome, every file its original or its repair,
// and nothing left beside it. Cases that need an ordinary user drop to
// "nobody" in a child process when run as root.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tests/crash_disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

const std::string kCyrillic = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

// The repair makes the tag longer than the tag and padding it replaces.
std::string Outgrowing(int seed = 0) {
  return Id3v2Tag({TextFrame("TIT2", kCyrillic), TextFrame("TPE1", kCyrillic)}) +
         MpegFrames(200, seed);
}

// The repaired tag fits in the padding, which TagLib keeps as it is (up to
// 1024 bytes or 1% of the file): the length of the file stays.
std::string Fitting(int seed = 0) {
  return Id3v2Tag({TextFrame("TIT2", kCyrillic)}, 1024) + MpegFrames(200, seed);
}

// What a repair leaves of `bytes` in a plain folder.
std::string Repaired(const std::string& bytes) {
  TempFolder folder;
  const fs::path path = folder.Write("song.mp3", bytes);
  FileOutcome outcome;
  EXPECT_EQ(WM_FIX_SUCCEEDED, FixFile(path.native(), 1251, &outcome));
  return ReadFile(path);
}

struct Outcome {
  unsigned message = 0;
  std::wstring issue;
};

Outcome Fix(const fs::path& path) {
  FileOutcome outcome;
  const unsigned message = FixFile(path.native(), 1251, &outcome);
  EXPECT_EQ(path.native(), outcome.path);
  return {message, outcome.issue};
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct stat Stat(const fs::path& path) {
  struct stat info = {};
  EXPECT_EQ(0, lstat(path.c_str(), &info)) << path;
  return info;
}

// The user the permission cases run as: "nobody" under root, else oneself.
struct User {
  uid_t uid;
  gid_t gid;
};

User OrdinaryUser() {
  if (geteuid() != 0)
    return {getuid(), getgid()};
  const passwd* nobody = getpwnam("nobody");
  return nobody ? User{nobody->pw_uid, nobody->pw_gid} : User{65534, 65534};
}

void GiveToOrdinaryUser(const fs::path& path) {
  const User user = OrdinaryUser();
  if (geteuid() == 0) {
    ASSERT_EQ(0, lchown(path.c_str(), user.uid, user.gid)) << path;
  }
}

// Repairs `path` in a child running as the ordinary user.
Outcome FixAsOrdinaryUser(const fs::path& path) {
  int channel[2];
  if (pipe(channel) != 0)
    return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    const User user = OrdinaryUser();
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(user.gid, user.gid, user.gid) ||
                           setresuid(user.uid, user.uid, user.uid))) {
      _exit(1);
    }
    FileOutcome outcome;
    const unsigned message = FixFile(path.native(), 1251, &outcome);
    std::string report = std::to_string(message) + " ";
    for (wchar_t c : outcome.issue)
      report.push_back(char(c));
    const bool sent = write(channel[1], report.data(), report.size()) == ssize_t(report.size());
    _exit(sent ? 0 : 1);
  }
  close(channel[1]);
  std::string report;
  char buffer[256];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    report.append(buffer, got);
  close(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not report";
  Outcome outcome;
  const size_t space = report.find(' ');
  if (space == std::string::npos)
    return outcome;
  outcome.message = unsigned(std::stoul(report.substr(0, space)));
  for (char c : report.substr(space + 1))
    outcome.issue.push_back(wchar_t(c));
  return outcome;
}

// Either a complete repair reported as such, or the original and "Couldn't
// save changes".
void ExpectRepairedOrKept(const Outcome& outcome, const fs::path& path,
                          const std::string& original) {
  if (outcome.message == WM_FIX_SUCCEEDED) {
    EXPECT_TRUE(ReadFile(path) == Repaired(original)) << path << " reported fixed, not repaired";
  } else {
    EXPECT_EQ(unsigned(WM_FIX_FAILED), outcome.message) << path;
    EXPECT_EQ(std::wstring(kIssueCouldNotSave), outcome.issue) << path;
    EXPECT_TRUE(ReadFile(path) == original) << path << " changed by a failed save";
  }
}

}  // namespace

TEST(SafeSaves, ReadOnlyFolderKeepsItsFilesAndSaysSo) {
  TempFolder folder;
  const fs::path outgrowing = folder.Write("locked/outgrowing.mp3", Outgrowing());
  const fs::path fitting = folder.Write("locked/fitting.mp3", Fitting());
  GiveToOrdinaryUser(outgrowing);
  GiveToOrdinaryUser(fitting);
  ASSERT_EQ(0, chmod((folder.path() / "locked").c_str(), 0555));
  const std::set<std::string> names = Names(folder.path() / "locked");

  // No copy can be made beside the file, so the longer file cannot be saved.
  const Outcome outgrew = FixAsOrdinaryUser(outgrowing);
  EXPECT_EQ(unsigned(WM_FIX_FAILED), outgrew.message);
  EXPECT_EQ(std::wstring(kIssueCouldNotSave), outgrew.issue);
  EXPECT_TRUE(ReadFile(outgrowing) == Outgrowing());
  ExpectRepairedOrKept(FixAsOrdinaryUser(fitting), fitting, Fitting());
  EXPECT_EQ(names, Names(folder.path() / "locked"));
}

TEST(SafeSaves, FilesReplacedOrRemovedAfterTheScanGetTheOutcomeOfWhatIsThere) {
  TempFolder folder;
  folder.Write("gone.mp3", Outgrowing(1));
  folder.Write("replaced.mp3", Outgrowing(2));
  folder.Write("now plain.mp3", Fitting(3));
  folder.Write("now folder.mp3", Fitting(4));
  std::vector<PathString> found = FoundPaths(RunScan(folder.path().native()));
  std::sort(found.begin(), found.end());
  ASSERT_EQ(4u, found.size());

  fs::remove(folder.path() / "gone.mp3");
  const std::string replacement = Fitting(5);
  fs::rename(folder.Write("incoming", replacement), folder.path() / "replaced.mp3");
  const std::string plain = Id3v2Tag({TextFrame("TIT2", "Plain")}) + MpegFrames(20);
  fs::rename(folder.Write("incoming", plain), folder.path() / "now plain.mp3");
  fs::remove(folder.path() / "now folder.mp3");
  folder.Mkdir("now folder.mp3");

  const std::vector<Received> received = RunFix(found, 1251);
  ASSERT_EQ(5u, received.size());
  std::map<std::string, Received> byName;
  for (const Received& entry : received)
    byName[fs::path(entry.path).filename().string()] = entry;
  EXPECT_EQ(unsigned(WM_FIX_FAILED), byName["gone.mp3"].message);
  EXPECT_EQ(std::wstring(kIssueCouldNotOpen), byName["gone.mp3"].issue);
  EXPECT_EQ(unsigned(WM_FIX_FAILED), byName["now folder.mp3"].message);
  EXPECT_EQ(std::wstring(kIssueCouldNotOpen), byName["now folder.mp3"].issue);
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), byName["replaced.mp3"].message);
  EXPECT_TRUE(ReadFile(folder.path() / "replaced.mp3") == Repaired(replacement));
  EXPECT_EQ(unsigned(WM_FIX_NOT_NEEDED), byName["now plain.mp3"].message);
  EXPECT_EQ(plain, ReadFile(folder.path() / "now plain.mp3"));
  EXPECT_TRUE(fs::is_empty(folder.path() / "now folder.mp3"));
  EXPECT_EQ((std::set<std::string>{"replaced.mp3", "now plain.mp3", "now folder.mp3"}),
            Names(folder.path()));
}

TEST(SafeSaves, EmptyFileIsNeitherRepairedNorWritten) {
  TempFolder folder;
  const fs::path path = folder.Write("empty.mp3", "");
  const struct stat before = Stat(path);
  const Outcome outcome = Fix(path);
  EXPECT_NE(unsigned(WM_FIX_SUCCEEDED), outcome.message);
  if (outcome.message == WM_FIX_FAILED) {
    EXPECT_EQ(std::wstring(kIssueCouldNotOpen), outcome.issue);
  }
  const struct stat after = Stat(path);
  EXPECT_EQ(0, after.st_size);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(std::set<std::string>{"empty.mp3"}, Names(folder.path()));
}

TEST(SafeSaves, OwnerAndPermissionBitsAreKept) {
  TempFolder folder;
  const bool root = geteuid() == 0;
  const uid_t owner = root ? 4242 : getuid();
  const gid_t group = root ? 4343 : getgid();
  struct Case {
    const char* name;
    std::string bytes;
    mode_t mode;
  } cases[] = {{"outgrowing.mp3", Outgrowing(), 0604}, {"fitting.mp3", Fitting(), 0640}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = folder.Write(c.name, c.bytes);
    ASSERT_EQ(0, chmod(path.c_str(), c.mode));
    if (root) {
      ASSERT_EQ(0, chown(path.c_str(), owner, group));
    }
    EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), Fix(path).message);
    EXPECT_TRUE(ReadFile(path) == Repaired(c.bytes));
    const struct stat after = Stat(path);
    EXPECT_EQ(c.mode, after.st_mode & 07777);
    EXPECT_EQ(owner, after.st_uid);
    EXPECT_EQ(group, after.st_gid);
  }
  EXPECT_EQ((std::set<std::string>{"outgrowing.mp3", "fitting.mp3"}), Names(folder.path()));
}

namespace {

// A file system that cannot open room in a file: a grown tag takes a copy.
class NoRoomDisk final : public PassThroughDisk {
 public:
  bool InsertRange(NativeFile*, std::uint64_t, std::uint64_t) override { return false; }
  bool MayInsertRange(NativeFile*) override { return false; }
};

}  // namespace

// The copy that takes a grown file's place takes its owner and mode: the
// mode is set after the owner, whose change may clear the set-id bits, and
// also where it is the copy's own already.
TEST(SafeSaves, ACopyTakesItsFilesOwnerAndModeSetIdBitsIncluded) {
  const bool root = geteuid() == 0;
  struct Case {
    const char* name;
    mode_t mode;
    bool otherOwner;
  } cases[] = {{"a.mp3", 0604, false}, {"b.mp3", 0600, false}, {"c.mp3", 02750, root},
               {"d.mp3", 0644, root}};
  TempFolder folder;
  NoRoomDisk disk;
  DiskInUse use(&disk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = folder.Write(c.name, Outgrowing());
    if (c.otherOwner)
      ASSERT_EQ(0, chown(path.c_str(), 4242, 4343));
    ASSERT_EQ(0, chmod(path.c_str(), c.mode));
    const struct stat before = Stat(path);
    EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), Fix(path).message);
    EXPECT_TRUE(ReadFile(path) == Repaired(Outgrowing()));
    const struct stat after = Stat(path);
    EXPECT_NE(before.st_ino, after.st_ino);  // the copy took its place
    EXPECT_EQ(c.mode, after.st_mode & 07777);
    EXPECT_EQ(before.st_uid, after.st_uid);
    EXPECT_EQ(before.st_gid, after.st_gid);
  }
}

// An ordinary user may write a file someone else owns, but a copy of it
// would be the user's own: the repair must keep the owner all the same.
TEST(SafeSaves, FileOwnedBySomeoneElseKeepsItsOwner) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to give files to another user";
  TempFolder folder;
  const fs::path shared = folder.Mkdir("shared");
  ASSERT_EQ(0, chmod(shared.c_str(), 0777));
  const fs::path path = folder.Write("shared/theirs.mp3", Outgrowing());
  ASSERT_EQ(0, chown(path.c_str(), 4242, 4343));
  ASSERT_EQ(0, chmod(path.c_str(), 0666));
  const Outcome outcome = FixAsOrdinaryUser(path);
  ExpectRepairedOrKept(outcome, path, Outgrowing());
  const struct stat after = Stat(path);
  EXPECT_EQ(4242u, after.st_uid);
  EXPECT_EQ(4343u, after.st_gid);
  EXPECT_EQ(0666u, after.st_mode & 07777);
  EXPECT_EQ(std::set<std::string>{"theirs.mp3"}, Names(shared));
}

TEST(SafeSaves, HardLinksKeepPointingAtTheRepairedFile) {
  for (const std::string& original : {Outgrowing(), Fitting()}) {
    TempFolder folder;
    const fs::path song = folder.Write("music/song.mp3", original);
    const fs::path other = folder.path() / "elsewhere" / "song.bak";
    fs::create_directories(other.parent_path());
    fs::create_hard_link(song, other);
    const std::string repaired = Repaired(original);
    ASSERT_EQ(original == Fitting(), original.size() == repaired.size());
    EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), Fix(song).message);
    EXPECT_TRUE(ReadFile(song) == repaired);
    EXPECT_TRUE(ReadFile(other) == repaired) << "the other link lost the repair";
    EXPECT_EQ(Stat(song).st_ino, Stat(other).st_ino);
    EXPECT_EQ(2u, Stat(song).st_nlink);
    EXPECT_EQ(std::set<std::string>{"song.mp3"}, Names(song.parent_path()));
    EXPECT_EQ(std::set<std::string>{"song.bak"}, Names(other.parent_path()));
  }
}

TEST(SafeSaves, BothLinksOfOneFileInTheLibraryGiveOneRepair) {
  TempFolder folder;
  const fs::path first = folder.Write("a.mp3", Outgrowing());
  fs::create_hard_link(first, folder.path() / "b.mp3");
  const std::vector<Received> received = RunFix(FoundPaths(RunScan(folder.path().native())), 1251);
  ASSERT_EQ(3u, received.size());
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), received[0].message);
  EXPECT_EQ(unsigned(WM_FIX_NOT_NEEDED), received[1].message);
  EXPECT_TRUE(ReadFile(first) == Repaired(Outgrowing()));
  EXPECT_EQ(Stat(first).st_ino, Stat(folder.path() / "b.mp3").st_ino);
  EXPECT_EQ((std::set<std::string>{"a.mp3", "b.mp3"}), Names(folder.path()));
}

TEST(SafeSaves, SymbolicLinkStaysALinkAndItsTargetIsRepaired) {
  TempFolder folder;
  const fs::path real = folder.Mkdir("real"), music = folder.Mkdir("music");
  folder.Write("real/outgrowing.mp3", Outgrowing());
  folder.Write("real/fitting.mp3", Fitting());
  ASSERT_EQ(0, chmod((real / "outgrowing.mp3").c_str(), 0640));
  fs::create_symlink("../real/outgrowing.mp3", music / "direct.mp3");
  fs::create_symlink("../real/fitting.mp3", music / "hop.lnk");  // a link to a link
  fs::create_symlink("hop.lnk", music / "chained.mp3");

  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), Fix(music / "direct.mp3").message);
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), Fix(music / "chained.mp3").message);
  EXPECT_EQ(fs::path("../real/outgrowing.mp3"), fs::read_symlink(music / "direct.mp3"));
  EXPECT_EQ(fs::path("hop.lnk"), fs::read_symlink(music / "chained.mp3"));
  EXPECT_EQ(fs::path("../real/fitting.mp3"), fs::read_symlink(music / "hop.lnk"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real / "outgrowing.mp3")));
  EXPECT_TRUE(ReadFile(real / "outgrowing.mp3") == Repaired(Outgrowing()));
  EXPECT_TRUE(ReadFile(real / "fitting.mp3") == Repaired(Fitting()));
  EXPECT_EQ(0640u, Stat(real / "outgrowing.mp3").st_mode & 07777);
  EXPECT_EQ((std::set<std::string>{"outgrowing.mp3", "fitting.mp3"}), Names(real));
  EXPECT_EQ((std::set<std::string>{"direct.mp3", "hop.lnk", "chained.mp3"}), Names(music));
}

// Whatever a save puts beside the file goes beside the target, whose folder
// may be written, not beside the link, whose folder may not.
TEST(SafeSaves, LinkInAReadOnlyFolderStillRepairsItsTarget) {
  TempFolder folder;
  const fs::path target = folder.Write("real/song.mp3", Outgrowing());
  GiveToOrdinaryUser(target);
  GiveToOrdinaryUser(folder.path() / "real");
  const fs::path links = folder.Mkdir("links");
  fs::create_symlink(target, links / "song.mp3");
  ASSERT_EQ(0, chmod(links.c_str(), 0555));
  const Outcome outcome = FixAsOrdinaryUser(links / "song.mp3");
  EXPECT_EQ(unsigned(WM_FIX_SUCCEEDED), outcome.message);
  EXPECT_TRUE(fs::is_symlink(links / "song.mp3"));
  EXPECT_TRUE(ReadFile(target) == Repaired(Outgrowing()));
  EXPECT_EQ(std::set<std::string>{"song.mp3"}, Names(target.parent_path()));
}
