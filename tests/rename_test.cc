// --rename: names of files and folders repaired below the run's folders,
// safely, under the run journal, and given back by --undo.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <filesystem>

#include "cli/undo.h"
#include "engine/text/album-utf8.h"
#include "engine/commit/journal.h"
#include "engine/text/album.h"
#include "engine/names/name-decide.h"
#include "engine/names/rename.h"
#include "tests/cli_run.h"
#include "tests/crash_disk.h"
#include "tests/name_tree.h"

namespace fs = std::filesystem;
using cli_run::Lines;
using cli_run::RunCli;
using fixtures::TempFolder;
using name_tree::ReadTree;
using name_tree::Tree;

namespace {

std::size_t CountLines(const std::string& out, const std::string& start) {
  std::size_t count = 0;
  for (const std::string& line : Lines(out))
    count += line.rfind(start, 0) == 0;
  return count;
}

}  // namespace

// N1, M2, M3, M6 on the generated tree through the command line, and the
// undo of the run byte for byte.
TEST(RenameTree, EveryLegacyNameRepairedRightNamesKeptCollisionsLeftAndUndoneExactly) {
  TempFolder folder;
  const name_tree::NameTree tree = name_tree::WriteNameTree(folder.path());
  ASSERT_EQ(tree.original, ReadTree(folder.path()));
  const ProgramResult preview = RunCli({"--rename", "-n", folder.path().string()});
  EXPECT_EQ(0u, CountLines(preview.out, "renamed\t")) << preview.out;
  EXPECT_EQ(0, preview.status) << "names left with their notes are no failure";
  EXPECT_EQ(tree.original, ReadTree(folder.path())) << "a preview renamed something";

  const ProgramResult run = RunCli({"--rename", folder.path().string()});
  const Tree now = ReadTree(folder.path());
  const std::size_t right = name_tree::EntriesRight(tree.repaired, now);
  std::printf("--rename on the generated tree: %zu of %zu names right\n", right,
              tree.repaired.size());
  std::fflush(stdout);  // before the next program is forked
  EXPECT_EQ(tree.repaired, now) << run.out << run.err;
  EXPECT_EQ(0, run.status) << "collisions and a name too long are left with a note";
  EXPECT_EQ(CountLines(preview.out, "would rename\t"), CountLines(run.out, "renamed\t"));
  // Two names in each other's way, one in a right twin's and a name too
  // long, each with the reason and, for a collision, the other path.
  EXPECT_EQ(4u, CountLines(run.out, "not renamed\t")) << run.out;
  for (const std::string& line : Lines(run.out)) {
    if (line.rfind("not renamed\tcollide/", 0) == 0) {
      EXPECT_NE(std::string::npos, line.find(": collide/")) << line;
    }
    if (line.rfind("not renamed\tlong/", 0) == 0) {
      EXPECT_NE(std::string::npos, line.find("longer than 255 bytes")) << line;
    }
    // Shown escaped, never as raw bytes.
    for (unsigned char c : line)
      EXPECT_TRUE(c >= 0x20 || c == '\t') << line;
  }
  EXPECT_NE(std::string::npos, run.out.find("Renamed " + std::to_string(CountLines(run.out, "renamed\t")) +
                                            " files and folders, left 4 names as they are"))
      << run.out;

  const ProgramResult listed = RunCli({"--list-runs"});
  EXPECT_NE(std::string::npos,
            listed.out.find(std::to_string(CountLines(run.out, "renamed\t")) + " names"))
      << listed.out;
  const ProgramResult undo = RunCli({"--undo"});
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  EXPECT_EQ(tree.original, ReadTree(folder.path())) << undo.out;
}

// The JSON object of a rename gives the old name's bytes when they are not
// UTF-8, so that a script can tell the name exactly.
TEST(RenameTree, JsonGivesTheOldBytesOfALegacyName) {
  TempFolder folder;
  folder.Write("\xCF\xE5\xF1\xED\xFF \xEE \xE4\xF0\xF3\xE3\xE5.txt", "x");
  const ProgramResult run = RunCli({"--rename", "--json", folder.path().string()});
  EXPECT_NE(std::string::npos,
            run.out.find("\"old_bytes\":\"cfe5f1edff20ee20e4f0f3e3e52e747874\""))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find("\"new\":\"Песня о друге.txt\"")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("\"type\":\"rename_summary\"")) << run.out;
  EXPECT_TRUE(fs::exists(folder.path() / "Песня о друге.txt"));
}

// M1 and --no-journal: the folder given keeps its name, and a run that is
// not recorded still renames without replacing.
TEST(RenameTree, TheGivenFolderKeepsItsNameAndAnUnrecordedRunStillRenames) {
  TempFolder parent;
  const fs::path given = parent.path() / "\xCA\xE8\xED\xEE";
  fs::create_directory(given);
  std::FILE* file = std::fopen((given / "\xC3\xF0\xF3\xEF\xEF\xE0.txt").c_str(), "w");
  ASSERT_NE(nullptr, file);
  std::fclose(file);
  const ProgramResult run = RunCli({"--rename", "--no-journal", given.string()});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  EXPECT_TRUE(fs::exists(given / "Группа.txt")) << run.out;
  EXPECT_EQ("No runs recorded\n", RunCli({"--list-runs"}).out);
}

// M2: the platform's rename never replaces a file or a folder.
TEST(RenameNoReplace, NeverReplacesAFileOrAFolder) {
  TempFolder folder;
  const fs::path a = folder.Write("a", "a"), b = folder.Write("b", "b");
  const fs::path c = folder.Mkdir("c"), d = folder.Mkdir("d");
  EXPECT_FALSE(RenameWithoutReplacing(a.native(), b.native()));
  EXPECT_FALSE(RenameWithoutReplacing(c.native(), d.native()));
  EXPECT_FALSE(RenameWithoutReplacing(a.native(), c.native()));
  EXPECT_EQ("a", fixtures::ReadFile(a));
  EXPECT_EQ("b", fixtures::ReadFile(b));
  EXPECT_TRUE(RenameWithoutReplacing(a.native(), (folder.path() / "e").native()));
  EXPECT_TRUE(RenameWithoutReplacing(c.native(), (folder.path() / "f").native()));
  EXPECT_EQ("a", fixtures::ReadFile(folder.path() / "e"));
  EXPECT_TRUE(fs::is_directory(folder.path() / "f"));
}

// PlannedPath: where a file of the plan will be, renamed folders above it
// applied, before anything is renamed.
TEST(RenamePlan, PlannedPathAppliesTheFoldersAboveAndTheNameItself) {
  TempFolder folder;
  folder.Write("\xCA\xE8\xED\xEE/\xC3\xF0\xF3\xEF\xEF\xE0.txt", "x");
  folder.Write("\xCA\xE8\xED\xEE/plain.txt", "x");
  const RenamePlan plan = PlanRenames({folder.path().native()}, NameEvidence(), nullptr);
  ASSERT_EQ(2u, plan.renames.size());
  const PathString root = folder.path().native() + "/";
  EXPECT_EQ(root + "Кино/Группа.txt",
            PlannedPath(plan, root + "\xCA\xE8\xED\xEE/\xC3\xF0\xF3\xEF\xEF\xE0.txt"));
  EXPECT_EQ(root + "Кино/plain.txt", PlannedPath(plan, root + "\xCA\xE8\xED\xEE/plain.txt"));
  EXPECT_EQ(root + "other.txt", PlannedPath(plan, root + "other.txt"));
}

// The tags of a run are saved under the old names and the names changed
// after them; an undo gives the names back first, then the tags by the
// paths they were saved under.
TEST(RenameTree, TagsAndNamesOfOneRunAreUndoneTogether) {
  TempFolder folder;
  const std::string song = cli_run::Needing();
  const fs::path old = folder.Write("\xCA\xE8\xED\xEE/\xC3\xF0\xF3\xEF\xEF\xE0.mp3", song);
  const ProgramResult run = RunCli({"--rename", "-c", "1251", folder.path().string()});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  const fs::path renamed = folder.path() / "Кино" / "Группа.mp3";
  ASSERT_TRUE(fs::exists(renamed)) << run.out;
  EXPECT_TRUE(song != fixtures::ReadFile(renamed)) << "the tag was not repaired";
  EXPECT_NE(std::string::npos, run.out.find("fixed\t")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Renamed 2 files and folders")) << run.out;
  const ProgramResult undo = RunCli({"--undo"});
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  EXPECT_FALSE(fs::exists(folder.path() / "Кино"));
  EXPECT_TRUE(song == fixtures::ReadFile(old)) << undo.out;
}

namespace {

std::string InPage(unsigned page, const char* utf8) {
  std::string bytes;
  EXPECT_TRUE(EncodeToPage(page, DecodeUtf8(utf8), &bytes)) << utf8;
  return bytes;
}

}  // namespace

// The page of a folder's legacy names: what the names read as first, the
// pages of the tags only where the names alone are too short to tell (N2,
// N3).
TEST(NameDecide, TheNamesDecideAndTheTagPagesTipOnlyShortNames) {
  EXPECT_EQ(1251u, DecideNamePage({InPage(1251, "Кот")}, {}));
  // A tag page tips a name only where the name itself does not say: "Кот"
  // reads decisively as cp1251, never as the cp1250 "\u0118\u00EE\u0148".
  EXPECT_EQ(1251u, DecideNamePage({InPage(1251, "Кот")}, {1250}));
  EXPECT_EQ(1250u, DecideNamePage({InPage(1250, "Łódź")}, {1250}));
  EXPECT_EQ(1251u, DecideNamePage({InPage(1251, "Река"), InPage(1251, "Звезда по имени Солнце")},
                                  {1250}));
  // The OEM pages, where their reading is clearly the better one.
  EXPECT_EQ(866u, DecideNamePage({InPage(866, "Песня о друге"), InPage(866, "Кони")}, {1251}));
  EXPECT_EQ(1251u, DecideNamePage({InPage(1251, "Песня о друге"), InPage(1251, "Кони")}, {}));
  EXPECT_EQ(437u, DecideNamePage({InPage(437, "Déjà vu à Noël"), InPage(437, "Über die Brücke")},
                                 {}));
  EXPECT_EQ(0u, DecideNamePage({}, {1251}));
}

// N3: an OEM page that names below were read through is evidence for a
// name too short to tell by itself; it never outweighs a Windows page that
// reads the name clearly.
TEST(NameDecide, N3AnOemPageBelowTipsAShortName) {
  EXPECT_EQ(866u, DecideNamePage({InPage(866, "ДДТ")}, {866}));
  EXPECT_NE(866u, DecideNamePage({InPage(866, "ДДТ")}, {}));
  EXPECT_EQ(1251u, DecideNamePage({InPage(1251, "Песня о друге")}, {866}));
}

// N2: loose tracks from several machines in one folder, whose tags gave
// the folder several pages: each name reads through the page of those that
// reads it clearly better than the folder's page; without those pages, the
// folder's page alone.
TEST(RenamePlan, N2LooseTracksEachTakeTheirTagsPage) {
  TempFolder folder;
  const char* names[][2] = {{"Кино - Берег", "1251"},
                            {"Marta Kubišová - Řeka lásky", "1250"},
                            {"Χάρις Αλεξίου - Ο δρόμος για τη Δαμασκό", "1253"},
                            {"Земфира - Перемен", "1251"}};
  for (const auto& [name, page] : names)
    folder.Write(InPage(unsigned(std::stoi(page)), name) + ".mp3", "x");
  const PathString root = folder.path().native() + "/";
  NameEvidence evidence;
  evidence.folderPages[folder.path().native()] = {1250, 1251, 1253};
  const RenamePlan plan = PlanRenames({folder.path().native()}, evidence, nullptr);
  for (const auto& [name, page] : names) {
    EXPECT_EQ(root + name + ".mp3",
              PlannedPath(plan, root + InPage(unsigned(std::stoi(page)), name) + ".mp3"));
  }
  const RenamePlan alone = PlanRenames({folder.path().native()}, NameEvidence(), nullptr);
  std::set<unsigned> pages;
  for (const auto& [name, page] : names) {
    const PathString planned =
        PlannedPath(alone, root + InPage(unsigned(std::stoi(page)), name) + ".mp3");
    if (planned == root + name + ".mp3")
      pages.insert(unsigned(std::stoi(page)));
  }
  EXPECT_LE(pages.size(), 1u);
}

// A folder's files whose tags tell nothing (a playlist beside an album)
// are read with the page the names in the folders beside them were read
// through.
TEST(RenamePlan, FilesBesideFoldersTakeTheirNamesPage) {
  TempFolder folder;
  const std::string artist = InPage(1250, "Dżem"), album = InPage(1250, "Proměny");
  folder.Write(artist + "/" + album + "/01 - " + InPage(1250, "Řeka lásky") + ".mp3", "x");
  folder.Write(artist + "/" + album + "/02 - " + InPage(1250, "Pójdź w łąkę") + ".mp3", "x");
  folder.Write(artist + "/" + InPage(1250, "Dżem - Proměny") + ".m3u8", "x");
  const RenamePlan plan = PlanRenames({folder.path().native()}, NameEvidence(), nullptr);
  const PathString root = folder.path().native() + "/";
  EXPECT_EQ(root + "Dżem/Dżem - Proměny.m3u8",
            PlannedPath(plan, root + artist + "/" + InPage(1250, "Dżem - Proměny") + ".m3u8"));
  EXPECT_EQ(root + "Dżem/Proměny", PlannedPath(plan, root + artist + "/" + album));
}

// N1: right names that are whole UTF-8 in some page once more ("чай" in
// 866 is a CJK character) and Western text that collapses to bytes keep
// their names; names encoded twice through 1251, 866 or Latin-1 come back.
TEST(NameDecide, RightNamesStayAndLayersComeOff) {
  for (const char* right : {"чай", "сад", "Ті", "Вё", "Café", "Ïåñíÿ", "naïve", "Ελλάδα"}) {
    PathString repaired;
    EXPECT_FALSE(RepairedName(ShapeOfName(right), 1251, &repaired)) << right << " -> " << repaired;
  }
  const auto fromLayer = [](const std::string& outer) {
    PathString repaired;
    return RepairedName(ShapeOfName(outer), 0, &repaired) ? repaired : std::string("(kept)");
  };
  EXPECT_EQ("Песня", fromLayer("РџРµСЃРЅСЏ"));
  EXPECT_EQ("Песня", fromLayer("╨Я╨╡╤Б╨╜╤П"));
  EXPECT_EQ("Ночь", fromLayer("Ð\u009dÐ¾Ñ\u0087Ñ\u008c"));
}

// M7: a batch of saves without its commit mark keeps every name as it is,
// and its save stays for recovery (the journal gets no mark from the
// renames).
TEST(RenameJournal, NoRenameAfterABatchLeftWithoutItsMark) {
  TempFolder folder, state;
  const fs::path legacy = folder.Write("\xCA\xE8\xED\xEE.txt", "x");
  RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
  ASSERT_TRUE(JournalSettled(journal));
  JournalSave save;
  save.path = (folder.path() / "song.mp3").native();
  ASSERT_TRUE(JournalBatch(journal, {save}));
  EXPECT_FALSE(JournalSettled(journal));
  const RenamePlan plan = PlanRenames({folder.path().native()}, NameEvidence(), nullptr);
  ASSERT_EQ(1u, plan.renames.size());
  std::vector<RenameOutcome> outcomes;
  EXPECT_FALSE(CarryOutRenames(plan, journal, nullptr, &outcomes));
  EXPECT_FALSE(outcomes[0].renamed);
  EXPECT_TRUE(fs::exists(legacy));
  ASSERT_TRUE(JournalCommit(journal));
  EXPECT_TRUE(JournalSettled(journal));
  EXPECT_TRUE(CarryOutRenames(plan, journal, nullptr, &outcomes));
  EXPECT_TRUE(outcomes[0].renamed);
  EXPECT_TRUE(fs::exists(folder.path() / "Кино.txt"));
  EndRunJournal(journal);
}
