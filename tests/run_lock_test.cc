// One run per library: the locks a run takes over its paths, and what the
// command line says when another run holds them.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/commit/run-lock.h"
#include "tests/cli_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

// Locks `paths` as a run does; true when it could, the locks released at
// once unless `held` takes them.
bool CanLock(const std::vector<fs::path>& paths, PathString* busy = nullptr,
             RunLocks** held = nullptr) {
  std::vector<PathString> native;
  for (const fs::path& path : paths)
    native.push_back(path.native());
  PathString unused;
  RunLocks* locks = LockRunPaths(native, busy ? busy : &unused);
  if (!locks)
    return false;
  if (held)
    *held = locks;
  else
    UnlockRunPaths(locks);
  return true;
}

}  // namespace

// RL1: the same folder, a folder inside it and a folder that holds it are
// all refused while a run holds it, and the refusal names the path given.
TEST(RunLock, RL1_OverlappingPathsAreRefusedWhileARunHoldsThem) {
  TempFolder library;
  library.Write("A/disc 1/01.mp3", "x");
  library.Mkdir("B");
  RunLocks* first = nullptr;
  ASSERT_TRUE(CanLock({library.path() / "A"}, nullptr, &first));

  PathString busy;
  EXPECT_FALSE(CanLock({library.path() / "A"}, &busy));
  EXPECT_EQ((library.path() / "A").native(), busy);
  EXPECT_FALSE(CanLock({library.path() / "A" / "disc 1"}));
  EXPECT_FALSE(CanLock({library.path() / "A" / "disc 1" / "01.mp3"}));
  EXPECT_FALSE(CanLock({library.path()}, &busy));
  EXPECT_EQ(library.path().native(), busy);
  // One path of several is enough to refuse the run.
  EXPECT_FALSE(CanLock({library.path() / "B", library.path() / "A" / "disc 1"}, &busy));
  EXPECT_EQ((library.path() / "A" / "disc 1").native(), busy);

  UnlockRunPaths(first);
  EXPECT_TRUE(CanLock({library.path()}));
}

// RL2: runs over folders side by side, or over two files of one folder,
// hold their locks together.
TEST(RunLock, RL2_PathsThatDoNotOverlapAreHeldTogether) {
  TempFolder library;
  library.Write("A/1.mp3", "x");
  library.Write("A/2.mp3", "x");
  library.Mkdir("B");
  RunLocks *first = nullptr, *second = nullptr;
  ASSERT_TRUE(CanLock({library.path() / "A" / "1.mp3"}, nullptr, &first));
  EXPECT_TRUE(CanLock({library.path() / "A" / "2.mp3"}));
  EXPECT_TRUE(CanLock({library.path() / "B"}, nullptr, &second));
  EXPECT_FALSE(CanLock({library.path() / "A"}));
  UnlockRunPaths(first);
  UnlockRunPaths(second);
}

// RL4: a path that cannot be opened to be locked does not stop a run.
TEST(RunLock, RL4_APathThatCannotBeLockedDoesNotStopTheRun) {
  TempFolder library;
  EXPECT_TRUE(CanLock({library.path() / "gone" / "deeper"}));
}

// RL3: a second run over a folder a run holds touches nothing and says so
// with its own exit status; so does an undo of a run over it.
TEST(RunLock, RL3_TheCommandLineRefusesARunAndAnUndoOverAHeldFolder) {
  TempFolder library, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  const fs::path song = library.Write("a.mp3", Needing());
  ASSERT_EQ(0, RunCli({"-c", "1251", library.path().string()}, environment).status);
  const std::string repaired = ReadFile(song);

  RunLocks* held = nullptr;
  ASSERT_TRUE(CanLock({library.path()}, nullptr, &held));
  const ProgramResult run = RunCli({"-c", "1251", song.string()}, environment);
  EXPECT_EQ(4, run.status);
  EXPECT_NE(std::string::npos, run.err.find("another run of songwright is working on"));
  const ProgramResult undo = RunCli({"--undo"}, environment);
  EXPECT_EQ(4, undo.status);
  EXPECT_EQ(repaired, ReadFile(song));
  // A preview writes nothing and needs no lock.
  EXPECT_EQ(0, RunCli({"-n", "-c", "1251", library.path().string()}, environment).status);
  UnlockRunPaths(held);

  EXPECT_EQ(0, RunCli({"--undo"}, environment).status);
  EXPECT_NE(repaired, ReadFile(song));
}
