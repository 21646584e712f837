// The bookkeeping of undo as a user follows it on the command line: a run
// is undone once, each file is restored or reported with its reason, a run
// with files left as they are is partly undone, and the listing counts the
// files a run changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/commit/journal-read.h"
#include "engine/commit/journal.h"
#include "tests/cli_run.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

using Result = ProgramResult;

// A state folder for the command line, and the library it repairs.
struct Library {
  TempFolder folder, state;
  std::map<std::string, std::string> environment = {{"XDG_STATE_HOME", state.path().string()}};

  Result Run(const std::vector<std::string>& arguments) const {
    return RunCli(arguments, environment);
  }
  // Repairs `path` (below the library) as code page 1251 and returns its
  // run's id, the first field of the last --list-runs line.
  std::string Repair(const fs::path& path) const {
    EXPECT_EQ(0, Run({"--codepage", "1251", path.string()}).status);
    const std::vector<std::string> runs = Lines(Run({"--list-runs"}).out);
    return runs.empty() ? std::string() : runs.back().substr(0, runs.back().find(' '));
  }
  // The --list-runs line of run `id`.
  std::string Listed(const std::string& id) const {
    for (const std::string& line : Lines(Run({"--list-runs"}).out)) {
      if (line.compare(0, id.size() + 1, id + " ") == 0)
        return line;
    }
    return std::string();
  }
};

}  // namespace

TEST(UndoBookkeeping, AnUndoneRunIsNotUndoneAgainAndNoOlderRunIsTakenInstead) {
  Library library;
  const fs::path older = library.folder.Write("older/a.mp3", Needing());
  const fs::path newer = library.folder.Write("newer/b.mp3", Needing());
  library.folder.Write("newer/c.mp3", Needing("\xC1\xC2"));
  const std::string olderId = library.Repair(older.parent_path());
  const std::string newerId = library.Repair(newer.parent_path());
  ASSERT_NE(olderId, newerId);
  const std::string olderRepaired = ReadFile(older);

  const Result first = library.Run({"--undo"});
  EXPECT_EQ(0, first.status) << first.out << first.err;
  // The run is named, with its folder, before anything is restored.
  EXPECT_EQ(0u, first.out.find("Undoing run " + newerId + ", ")) << first.out;
  EXPECT_NE(std::string::npos, Lines(first.out)[0].find(newer.parent_path().string()));
  EXPECT_EQ(2u, Count(first.out, "restored\t"));
  EXPECT_EQ("Restored 2 files", Lines(first.out).back());
  EXPECT_EQ(Needing(), ReadFile(newer));
  EXPECT_NE(std::string::npos, library.Listed(newerId).find("2 files")) << "changed files";
  EXPECT_NE(std::string::npos, library.Listed(newerId).find("(undone)"));

  const Result second = library.Run({"--undo"});
  EXPECT_EQ(3, second.status);
  EXPECT_EQ("", second.out);
  EXPECT_NE(std::string::npos, second.err.find("The last run (" + newerId + ", ")) << second.err;
  EXPECT_NE(std::string::npos, second.err.find("was already undone; name an older one"));
  EXPECT_EQ(olderRepaired, ReadFile(older)) << "the older run is left as it is";
  EXPECT_NE(std::string::npos, library.Listed(olderId).find("(done)"));

  // Named, an undone run says so and restores nothing again.
  const Result named = library.Run({"--undo", newerId});
  EXPECT_EQ(0, named.status);
  EXPECT_EQ(0u, Count(named.out, "restored"));
  EXPECT_NE(std::string::npos, named.out.find("was already undone; nothing to restore"));

  // The older run goes only when named.
  EXPECT_EQ(0, library.Run({"--undo", olderId}).status);
  EXPECT_EQ(Needing(), ReadFile(older));
}

TEST(UndoBookkeeping, AFileDeletedSinceIsReportedAndTheRunIsStillUndone) {
  Library library;
  const fs::path kept = library.folder.Write("kept.mp3", Needing());
  const fs::path gone = library.folder.Write("gone.mp3", Needing("\xC1"));
  const std::string id = library.Repair(library.folder.path());
  fs::remove(gone);

  const Result undo = library.Run({"--undo"});
  EXPECT_EQ(0, undo.status) << "a deleted file is not a file that failed to be restored";
  EXPECT_NE(std::string::npos, undo.out.find("left alone\tgone.mp3\tdeleted since the run"))
      << undo.out;
  EXPECT_NE(std::string::npos, undo.out.find("restored\tkept.mp3"));
  EXPECT_EQ("Restored 1 file, left 1 file as they are (1 deleted since the run)",
            Lines(undo.out).back());
  EXPECT_EQ(Needing(), ReadFile(kept));
  EXPECT_FALSE(fs::exists(gone)) << "nothing is made up for a deleted file";
  EXPECT_NE(std::string::npos, library.Listed(id).find("(undone)")) << library.Listed(id);
  EXPECT_EQ(3, library.Run({"--undo"}).status);
}

TEST(UndoBookkeeping, AFileChangedSinceLeavesThePartlyUndoneRunToBeTriedAgainByName) {
  Library library;
  const fs::path plain = library.folder.Write("plain.mp3", Needing());
  const fs::path touched = library.folder.Write("touched.mp3", Needing("\xC1"));
  const std::string id = library.Repair(library.folder.path());
  const std::string repaired = ReadFile(touched);
  library.folder.Write("touched.mp3", "changed by the user since");

  const Result undo = library.Run({"--undo"});
  EXPECT_EQ(1, undo.status);
  EXPECT_NE(std::string::npos, undo.out.find("left alone\ttouched.mp3\tchanged since the run"));
  EXPECT_EQ("Restored 1 file, left 1 file as they are", Lines(undo.out).back());
  EXPECT_NE(std::string::npos, library.Listed(id).find("(partly undone)")) << library.Listed(id);

  const Result again = library.Run({"--undo"});
  EXPECT_EQ(3, again.status);
  EXPECT_NE(std::string::npos, again.err.find("was already partly undone")) << again.err;
  EXPECT_NE(std::string::npos, again.err.find("--undo " + id));

  // Once the file is as the run left it, the run named again finishes: the
  // file restored before is not said to be restored a second time.
  library.folder.Write("touched.mp3", repaired);
  const Result retry = library.Run({"--undo", id});
  EXPECT_EQ(0, retry.status) << retry.out;
  EXPECT_NE(std::string::npos, retry.out.find("restored\ttouched.mp3"));
  EXPECT_NE(std::string::npos, retry.out.find("already as before\tplain.mp3"));
  EXPECT_EQ("Restored 1 file, 1 already as before", Lines(retry.out).back());
  EXPECT_EQ(Needing("\xC1"), ReadFile(touched));
  EXPECT_EQ(Needing(), ReadFile(plain));
  EXPECT_NE(std::string::npos, library.Listed(id).find("(undone)")) << library.Listed(id);
}

namespace {

// Refuses to write any file whose name holds "refused", in place or by a
// copy put in its place, as a file the user may not write.
class RefusingDisk : public PassThroughDisk {
 public:
  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    return forWriting && Refused(path) ? nullptr : Real().OpenExisting(path, forWriting);
  }
  NativeFile* CreateNew(const PathString& path) override {
    return Refused(path) ? nullptr : Real().CreateNew(path);
  }
  bool Rename(const PathString& target, const PathString& replacement) override {
    return !Refused(target) && Real().Rename(target, replacement);
  }
  bool Replace(const PathString& target, const PathString& replacement) override {
    return !Refused(target) && Real().Replace(target, replacement);
  }

 private:
  static bool Refused(const PathString& path) {
    return path.find(PATH_TEXT("refused")) != PathString::npos;
  }
};

}  // namespace

TEST(UndoBookkeeping, ARunCountsAndUndoesOnlyTheFilesItChanged) {
  Library library;
  // Five files in batches of two: the refused one is in the second batch,
  // so its place among the journal's saves is counted across batches.
  std::vector<PathString> files;
  for (const char* name : {"1.mp3", "2.mp3", "3 refused.mp3", "4.mp3", "5.mp3"})
    files.push_back(library.folder.Write(name, Needing()).native());
  const PathString stateFolder = (library.state.path() / "songwright").native();
  {
    RefusingDisk disk;
    UseDiskInterface(&disk);
    RunJournal* journal = BeginRunJournal(stateFolder, {library.folder.path().native()});
    const std::vector<Received> received = RunFix(files, 1251, journal, 2);
    EndRunJournal(journal);
    UseDiskInterface(nullptr);
    ASSERT_EQ(6u, received.size());
    EXPECT_EQ(WM_FIX_FAILED, received[2].message);
  }
  std::vector<JournalRun> runs = ReadJournalRuns(stateFolder, JournalDepth::kCount);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(5u, runs[0].saveCount) << "every save is recorded before it is tried";
  EXPECT_EQ(4u, runs[0].changedCount);
  JournalRun full;
  ASSERT_TRUE(ReadJournalRun(runs[0].file, JournalDepth::kFull, &full));
  ASSERT_EQ(5u, full.saves.size());
  for (std::size_t i = 0; i < full.saves.size(); ++i)
    EXPECT_EQ(i != 2, full.saves[i].saved) << i;
  EXPECT_EQ(4u, full.changedCount);

  const Result list = library.Run({"--json", "--list-runs"});
  EXPECT_NE(std::string::npos, list.out.find("\"files\":4,")) << list.out;
  EXPECT_NE(std::string::npos, list.out.find("\"undone\":false,\"state\":\"done\"}"));
  const Result undo = library.Run({"--json", "--undo"});
  EXPECT_EQ(0, undo.status) << undo.out << undo.err;
  EXPECT_EQ(std::string::npos, undo.out.find("refused")) << "the run never changed it";
  EXPECT_EQ(4u, Count(undo.out, "\"outcome\":\"restored\""));
  EXPECT_EQ(0u, undo.out.find("{\"type\":\"run\",")) << undo.out;
  EXPECT_NE(std::string::npos,
            undo.out.find("\"restored\":4,\"left_alone\":0,\"already\":0,"
                          "\"deleted\":0,\"stopped\":false,\"state\":\"undone\"}"))
      << undo.out;
  EXPECT_NE(
      std::string::npos,
      library.Run({"--json", "--list-runs"}).out.find("\"undone\":true,\"state\":\"undone\"}"));
  for (const PathString& file : files)
    EXPECT_EQ(Needing(), ReadFile(file));
}

// A state folder that cannot be written (a regular file stands where it
// would be made) stops a recorded run before any file is touched, naming
// the folder and --no-journal; with --no-journal the run goes on.
TEST(UndoBookkeeping, AStateFolderThatCannotBeWrittenStopsTheRunBeforeItBegins) {
  TempFolder folder, state;
  const fs::path blocked = state.Write("state", "a file where the state folder would be");
  const fs::path song = folder.Write("Kino/1.mp3", Needing());
  const std::map<std::string, std::string> environment = {{"XDG_STATE_HOME", blocked.string()}};

  const Result refused = RunCli({"-c", "1251", folder.path().string()}, environment);
  EXPECT_EQ(2, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find(blocked.string())) << refused.err;
  EXPECT_NE(std::string::npos, refused.err.find("--no-journal")) << refused.err;
  EXPECT_EQ(Needing(), ReadFile(song));

  const Result alone = RunCli({"-c", "1251", "--no-journal", folder.path().string()}, environment);
  EXPECT_EQ(0, alone.status) << alone.err;
  EXPECT_NE(Needing(), ReadFile(song));
}
