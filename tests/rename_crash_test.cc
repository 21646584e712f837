// A rename run stopped at every disk operation by count: afterwards every
// name is its original or its repair, the next --undo gives back every
// original name byte for byte, and a new run repairs them all.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "cli/undo.h"
#include "engine/commit/journal-recover.h"
#include "engine/commit/journal.h"
#include "engine/names/rename.h"
#include "tests/crash_disk.h"
#include "tests/fixtures.h"
#include "tests/name_tree.h"

namespace fs = std::filesystem;
using fixtures::TempFolder;
using name_tree::ReadTree;
using name_tree::Tree;

namespace {

// Legacy names two folders deep, a layer of UTF-8 encoded twice, and a
// right name; each file holds its original path.
name_tree::NameTree WriteSmallTree(const fs::path& root) {
  const std::string kino = "\xCA\xE8\xED\xEE", early = "\xD0\xE0\xED\xED\xE8\xE5";
  name_tree::NameTree tree;
  const auto folder = [&](const std::string& original, const std::string& repaired) {
    fs::create_directory(root / original);
    tree.original[original + "/"] = "";
    tree.repaired[repaired + "/"] = "";
  };
  const auto file = [&](const std::string& original, const std::string& repaired) {
    std::FILE* out = std::fopen((root / original).c_str(), "wb");
    std::fwrite(original.data(), 1, original.size(), out);
    std::fclose(out);
    tree.original[original] = original;
    tree.repaired[repaired] = original;
  };
  folder(kino, "Кино");
  file(kino + "/\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8.txt", "Кино/Группа крови.txt");
  file(kino + "/\xC7\xE2\xE5\xE7\xE4\xE0.txt", "Кино/Звезда.txt");
  folder(kino + "/" + early, "Кино/Ранние");
  file(kino + "/" + early + "/\xC2\xF0\xE5\xEC\xFF.txt", "Кино/Ранние/Время.txt");
  file("РџРµСЃРЅСЏ.txt", "Песня.txt");
  file("Песня о друге.txt", "Песня о друге.txt");
  return tree;
}

void RenameRun(const fs::path& root, const fs::path& state) {
  RunJournal* journal = BeginRunJournal(state.native(), {root.native()});
  const RenamePlan plan = PlanRenames({root.native()}, NameEvidence(), nullptr);
  std::vector<RenameOutcome> outcomes;
  CarryOutRenames(plan, journal, nullptr, &outcomes);
  EndRunJournal(journal);
}

std::vector<std::string> Steps(const std::string& path) {
  std::vector<std::string> steps;
  for (const auto& step : fs::path(path))
    steps.push_back(step.native());
  return steps;
}

// Every file is there once, and each step of its path is the original name
// or the repaired one.
void ExpectOriginalOrRepaired(const name_tree::NameTree& tree, const Tree& now,
                              const std::string& when) {
  std::map<std::string, std::string> repairedOf;  // by contents
  for (const auto& [path, contents] : tree.repaired) {
    if (!contents.empty())
      repairedOf[contents] = path;
  }
  std::size_t files = 0;
  for (const auto& [path, contents] : now) {
    if (contents.empty())
      continue;
    ++files;
    ASSERT_TRUE(repairedOf.count(contents)) << when << ": " << path;
    const std::vector<std::string> at = Steps(path), original = Steps(contents),
                                   repaired = Steps(repairedOf[contents]);
    ASSERT_EQ(original.size(), at.size()) << when << ": " << path;
    for (std::size_t i = 0; i < at.size(); ++i)
      EXPECT_TRUE(at[i] == original[i] || at[i] == repaired[i]) << when << ": " << path;
  }
  EXPECT_EQ(repairedOf.size(), files) << when;
}

}  // namespace

// M4 and M5: a kill or a power loss at any operation of a rename run.
TEST(RenameCrash, ARenameRunStoppedAtAnyOperationLeavesOriginalOrRepairAndUndoesExactly) {
  std::uint64_t total = 0;
  {
    TempFolder folder, state;
    const name_tree::NameTree tree = WriteSmallTree(folder.path());
    CrashDisk counter;
    {
      DiskInUse use(&counter);
      RenameRun(folder.path(), state.path());
    }
    total = counter.operations();
    ASSERT_EQ(tree.repaired, ReadTree(folder.path()));
  }
  ASSERT_GT(total, 8u);
  std::size_t tried = 0;
  for (CrashMode mode : {CrashMode::kKill, CrashMode::kPowerLoss, CrashMode::kTornPowerLoss}) {
    for (std::uint64_t point = 1; point <= total; ++point, ++tried) {
      const std::string when =
          std::string(CrashModeName(mode)) + " at operation " + std::to_string(point);
      TempFolder folder, state;
      const name_tree::NameTree tree = WriteSmallTree(folder.path());
      CrashDisk disk(point, mode);
      {
        DiskInUse use(&disk);
        RenameRun(folder.path(), state.path());
      }
      ASSERT_TRUE(disk.crashed()) << when;
      ExpectOriginalOrRepaired(tree, ReadTree(folder.path()), when);
      RecoverUnfinishedRuns(state.path().native());
      ExpectOriginalOrRepaired(tree, ReadTree(folder.path()), when + ", recovered");
      UndoRun(state.path().native(), "", nullptr);
      ASSERT_EQ(tree.original, ReadTree(folder.path())) << when << ", undone";
      RenameRun(folder.path(), state.path());
      ASSERT_EQ(tree.repaired, ReadTree(folder.path())) << when << ", next run";
    }
  }
  std::printf("rename crash points tried: %zu (%llu operations, 3 modes)\n", tried,
              static_cast<unsigned long long>(total));
}

// An undo of the names stopped at any operation: the next undo gives back
// the rest, every name byte for byte.
TEST(RenameCrash, AnUndoOfNamesStoppedAtAnyOperationIsFinishedByTheNextUndo) {
  std::uint64_t total = 0;
  {
    TempFolder folder, state;
    const name_tree::NameTree tree = WriteSmallTree(folder.path());
    RenameRun(folder.path(), state.path());
    CrashDisk counter;
    {
      DiskInUse use(&counter);
      UndoRun(state.path().native(), "", nullptr);
    }
    total = counter.operations();
    ASSERT_EQ(tree.original, ReadTree(folder.path()));
  }
  ASSERT_GT(total, 4u);
  for (CrashMode mode : {CrashMode::kKill, CrashMode::kPowerLoss}) {
    for (std::uint64_t point = 1; point <= total; ++point) {
      const std::string when =
          std::string(CrashModeName(mode)) + " at operation " + std::to_string(point);
      TempFolder folder, state;
      const name_tree::NameTree tree = WriteSmallTree(folder.path());
      RenameRun(folder.path(), state.path());
      CrashDisk disk(point, mode);
      {
        DiskInUse use(&disk);
        UndoRun(state.path().native(), "", nullptr);
      }
      ASSERT_TRUE(disk.crashed()) << when;
      ExpectOriginalOrRepaired(tree, ReadTree(folder.path()), when);
      EXPECT_EQ(0, UndoRun(state.path().native(), "", nullptr)) << when;
      ASSERT_EQ(tree.original, ReadTree(folder.path())) << when << ", undone again";
    }
  }
}
