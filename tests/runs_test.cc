// Which run an undo takes and what the listing says of each: a path names
// the last run that changed files below it, a word that names nothing is a
// usage error, and a run cut short is listed as interrupted, finished by the
// next run, the two never claiming one file (the invariants J1 to J3 of
// engine/commit/journal.h).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/run-list.h"
#include "cli/undo.h"
#include "engine/commit/journal-read.h"
#include "engine/commit/journal.h"
#include "tests/cli_run.h"
#include "tests/crash_disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

struct Library {
  TempFolder folder, state;
  std::map<std::string, std::string> environment = {{"XDG_STATE_HOME", state.path().string()}};

  ProgramResult Run(const std::vector<std::string>& arguments) const {
    return RunCli(arguments, environment);
  }
  // Repairs `path` and returns its run's id.
  std::string Repair(const fs::path& path) const {
    EXPECT_EQ(0, Run({"-c", "1251", path.string()}).status);
    const std::vector<std::string> runs = Lines(Run({"--list-runs"}).out);
    return runs.empty() ? std::string() : runs.back().substr(0, runs.back().find(' '));
  }
};

}  // namespace

TEST(UndoTarget, APathUndoesTheLastRunThatChangedFilesBelowItAndTheIdStaysWithJson) {
  Library library;
  const fs::path a = library.folder.Write("uA/a.mp3", Needing());
  const fs::path b = library.folder.Write("uB/b.mp3", Needing("\xC1\xC2"));
  const std::string idA = library.Repair(a.parent_path());
  const std::string idB = library.Repair(b.parent_path());
  ASSERT_NE(idA, idB);
  const std::string repairedB = ReadFile(b);

  // --list-runs PATH: the runs over that path only.
  const ProgramResult overA =
      RunCli({"--list-runs", "uA"}, library.environment, library.folder.path());
  ASSERT_EQ(1u, Lines(overA.out).size()) << overA.out;
  EXPECT_EQ(0u, overA.out.find(idA + " ")) << overA.out;

  const ProgramResult undoA = RunCli({"--undo", "uA"}, library.environment, library.folder.path());
  EXPECT_EQ(0, undoA.status) << undoA.out << undoA.err;
  EXPECT_EQ(0u, undoA.out.find("Undoing run " + idA + ", ")) << undoA.out;
  EXPECT_EQ(Needing(), ReadFile(a));
  EXPECT_EQ(repairedB, ReadFile(b)) << "the run over the other folder is left";

  // The id after --json is the run's, not a path.
  const ProgramResult json = library.Run({"--undo", "--json", idB});
  EXPECT_EQ(0, json.status) << json.out << json.err;
  EXPECT_NE(std::string::npos, json.out.find("\"run\":\"" + idB + "\"")) << json.out;
  EXPECT_EQ(Needing("\xC1\xC2"), ReadFile(b));
}

TEST(UndoTarget, AWordThatIsNeitherARunNorAPathOfOneIsAUsageErrorNamingTheRecentRuns) {
  Library library;
  const fs::path a = library.folder.Write("uA/a.mp3", Needing());
  const std::string id = library.Repair(a.parent_path());
  const std::string repaired = ReadFile(a);
  for (const std::string word : {std::string("elsewhere"), std::string("20200101-000000"),
                                 library.folder.path().string() + "/uB"}) {
    const ProgramResult result = library.Run({"--undo", word});
    EXPECT_EQ(2, result.status) << word << ": " << result.out;
    EXPECT_NE(std::string::npos, result.err.find("recent runs: " + id)) << result.err;
    EXPECT_EQ(repaired, ReadFile(a)) << word;
  }
  EXPECT_EQ(2, library.Run({"--undo", "uA", "uB"}).status) << "one RUN or PATH";
}

namespace {

const char kTitle[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

// Three songs of one album: one whose tag fits its padding, two that grow.
void WriteAlbum(const fs::path& music) {
  auto write = [&music](const char* name, const std::string& bytes) {
    fs::create_directories(music);
    std::FILE* out = std::fopen((music / name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  };
  write("1.mp3", Id3v2Tag({TextFrame("TIT2", kTitle)}, 4096) + MpegFrames(10, 1));
  write("2.mp3", Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TALB", kTitle)}) +
                     MpegFrames(12, 2));
  write("3.mp3", Id3v2Tag({TextFrame("TPE1", kTitle)}) + MpegFrames(14, 3));
}

// One recorded run over `music`, its saves in one batch.
void Repair(const fs::path& music, const fs::path& state) {
  const std::vector<PathString> found = FoundPaths(RunScan(music.native(), false, true));
  RunJournal* journal = BeginRunJournal(state.native(), {music.native()});
  RunFix(found, 1251, journal, 256, 1);
  EndRunJournal(journal);
}

// The files each run says it changed (what its undo would restore).
std::map<std::string, std::set<PathString>> Claims(const fs::path& state) {
  std::map<std::string, std::set<PathString>> claims;
  for (const JournalRun& run : ReadJournalRuns(state.native(), JournalDepth::kIndex)) {
    std::set<PathString>& files = claims[run.id];
    for (const JournalSave& save : run.saves) {
      if (save.saved)
        files.insert(save.path);
    }
  }
  return claims;
}

std::string Listing(const fs::path& state) {
  testing::internal::CaptureStdout();
  ListRuns(state.native());
  return testing::internal::GetCapturedStdout();
}

}  // namespace

// Checks J1 to J3 at every point a kill can stop a run's one batch.
TEST(InterruptedRun, J1_J2_J3_AKilledRunIsFinishedByTheNextAndNoFileIsClaimedByBoth) {
  const DiskFeatures copies{/*insertRange=*/false, true};
  std::uint64_t total = 0;
  {
    TempFolder folder, state;
    WriteAlbum(folder.path() / "music");
    CrashDisk counter(0, CrashMode::kKill, copies);
    DiskInUse use(&counter);
    Repair(folder.path() / "music", state.path());
    total = counter.operations();
  }
  ASSERT_GT(total, 6u);
  std::size_t interrupted = 0;
  for (std::uint64_t point = 1; point <= total && !HasFailure(); ++point) {
    const std::string when = "killed at operation " + std::to_string(point);
    TempFolder folder, state;
    const fs::path music = folder.path() / "music";
    WriteAlbum(music);
    std::map<std::string, std::string> original;
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3"})
      original[name] = ReadFile(music / name);
    {
      CrashDisk disk(point, CrashMode::kKill, copies);
      DiskInUse use(&disk);
      Repair(music, state.path());
      ASSERT_TRUE(disk.crashed()) << when;
    }
    const std::vector<JournalRun> before = ReadJournalRuns(state.path().native(), JournalDepth::kCount);
    const bool cutShort = before.size() == 1 && before[0].interrupted;
    if (cutShort)
      EXPECT_NE(std::string::npos, Listing(state.path()).find("(interrupted; the next run"))
          << when;
    CrashDisk after(0, CrashMode::kKill, copies);
    DiskInUse use(&after);
    Repair(music, state.path());

    const std::vector<JournalRun> runs = ReadJournalRuns(state.path().native(), JournalDepth::kCount);
    const auto claims = Claims(state.path());
    std::set<PathString> all;
    std::size_t claimed = 0;
    for (const auto& [id, files] : claims) {
      claimed += files.size();
      all.insert(files.begin(), files.end());
    }
    EXPECT_EQ(3u, all.size()) << when << ": every repaired file is some run's";
    EXPECT_EQ(all.size(), claimed) << when << ": a file claimed by two runs";
    if (cutShort) {
      ++interrupted;
      ASSERT_EQ(2u, runs.size()) << when;
      EXPECT_TRUE(runs[0].finished && !runs[0].interrupted) << when;
      EXPECT_EQ(runs[1].id, runs[0].finishedBy) << when;
      const std::string listing = Listing(state.path());
      EXPECT_NE(std::string::npos, listing.find("(interrupted; finished by run " + runs[1].id + ")"))
          << when << "\n" << listing;
      EXPECT_NE(std::string::npos, listing.find("finished the interrupted run " + runs[0].id))
          << when << "\n" << listing;
    }
    // Undone oldest first, each file goes back once, and all are original.
    for (const JournalRun& run : runs)
      EXPECT_EQ(0, UndoRun(state.path().native(), run.id, nullptr)) << when;
    for (const auto& [name, bytes] : original)
      EXPECT_TRUE(bytes == ReadFile(music / name)) << when << ": " << name;
  }
  EXPECT_GT(interrupted, 0u) << "some kill must fall within the batch";
}
