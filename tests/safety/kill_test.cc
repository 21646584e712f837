// The command line stopped for real in the middle of a run: by SIGKILL, and
// by SIGINT and SIGTERM. The moment is never chosen by the clock: the run's
// standard output is a one-page pipe that the test stops reading after the
// first line, so the run is surely still going (its next lines cannot be
// written) when the signal arrives, while its fix thread keeps saving. Every
// file must then be its original or its complete repair once the next run
// has begun, the next run must finish the job and leave no side files, and
// undoing every run must give back every original byte. The exact moments
// inside a save are walked by the crash-point tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

constexpr int kFiles = 150;
const char kTitle[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

// Songs whose tags fit their padding, outgrow it, or live in ID3v1 only, with
// names long enough that the run's output is many pages.
std::map<fs::path, std::string> WriteLibrary(const fs::path& folder) {
  std::map<fs::path, std::string> songs;
  for (int i = 0; i < kFiles; ++i) {
    std::string bytes;
    switch (i % 3) {
      case 0:
        bytes = Id3v2Tag({TextFrame("TIT2", kTitle)}, 1024) + MpegFrames(6, i);
        break;
      case 1:
        bytes = Id3v2Tag({TextFrame("TIT2", kTitle), TextFrame("TPE1", kTitle)}) + MpegFrames(6, i);
        break;
      default:
        bytes = MpegFrames(6, i) + Id3v1Tag(kTitle);
        break;
    }
    const fs::path name =
        "album " + std::to_string(i / 50) + "/" + std::string(60, 'x') + std::to_string(i) + ".mp3";
    songs[folder / name] = bytes;
    fs::create_directories((folder / name).parent_path());
    std::FILE* out = std::fopen((folder / name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  return songs;
}

ProgramResult RunCli(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {SONGWRIGHT_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(argv);
}

struct HeldRun {
  pid_t pid = -1;
  int out = -1;  // the read end of its standard output
};

// Starts a repair of `folder` and returns once it has printed its first line.
HeldRun StartAndHold(const fs::path& folder) {
  int pipe[2];
  EXPECT_EQ(0, ::pipe(pipe));
  fcntl(pipe[1], F_SETPIPE_SZ, 4096);
  HeldRun run;
  run.pid = fork();
  if (run.pid == 0) {
    dup2(pipe[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(pipe[0]);
    execl(SONGWRIGHT_BINARY, SONGWRIGHT_BINARY, "--codepage", "1251", folder.c_str(), nullptr);
    _exit(127);
  }
  close(pipe[1]);
  run.out = pipe[0];
  char c = 0;
  while (read(run.out, &c, 1) == 1 && c != '\n') {
  }
  EXPECT_EQ('\n', c) << "the run printed no line";
  return run;
}

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, std::size_t(got));
  return text;
}

// Each song is its original, its complete repair, or (for a save cut short)
// brought back to one by the run that follows; that run finishes the job.
void ExpectRecoverable(const fs::path& folder, const std::map<fs::path, std::string>& songs,
                       const std::map<fs::path, std::string>& repaired) {
  const ProgramResult next = RunCli({"--codepage", "1251", folder.string()});
  EXPECT_EQ(0, next.status) << next.out << next.err;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      ++files;
      ASSERT_EQ(1u, repaired.count(entry.path())) << "left behind: " << entry.path();
      EXPECT_EQ(repaired.at(entry.path()), ReadFile(entry.path())) << entry.path();
    }
  }
  EXPECT_EQ(kFiles, files);
  // Undoing the next run and the stopped one, newest first, each by its id
  // (a plain --undo takes the last run only), gives every original back.
  std::vector<std::string> ids;
  std::istringstream runs(RunCli({"--list-runs"}).out);
  for (std::string line; std::getline(runs, line);)
    ids.push_back(line.substr(0, line.find(' ')));
  for (auto id = ids.rbegin(); id != ids.rend(); ++id)
    EXPECT_EQ(0, RunCli({"--undo", *id}).status) << *id;
  for (const auto& [path, bytes] : songs)
    EXPECT_EQ(bytes, ReadFile(path)) << path;
}

std::map<fs::path, std::string> RepairsOf(const fs::path& folder) {
  TempFolder reference;
  std::map<fs::path, std::string> repaired;
  WriteLibrary(reference.path());
  EXPECT_EQ(0, RunCli({"--no-journal", "--codepage", "1251", reference.path().string()}).status);
  for (const auto& entry : fs::recursive_directory_iterator(reference.path())) {
    if (entry.is_regular_file())
      repaired[folder / fs::relative(entry.path(), reference.path())] = ReadFile(entry.path());
  }
  return repaired;
}

// The songs that are neither their original nor their repair.
int SongsInBetween(const std::map<fs::path, std::string>& songs,
                   const std::map<fs::path, std::string>& repaired) {
  int between = 0;
  for (const auto& [path, bytes] : songs) {
    const std::string now = ReadFile(path);
    between += now != bytes && now != repaired.at(path);
  }
  return between;
}

}  // namespace

// Checks I9 for a real kill: at most the one song being written at that
// instant is in between (batches commit one after the other), and I6, I7:
// the next run brings it back and finishes the job.
TEST(Killed, ARunKilledMidwayIsFinishedByTheNextRun) {
  TempFolder folder;
  const std::map<fs::path, std::string> songs = WriteLibrary(folder.path());
  const std::map<fs::path, std::string> repaired = RepairsOf(folder.path());
  const HeldRun run = StartAndHold(folder.path());
  kill(run.pid, SIGKILL);
  int status = 0;
  waitpid(run.pid, &status, 0);
  close(run.out);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "it ended before the kill";
  EXPECT_LE(SongsInBetween(songs, repaired), 1);
  ExpectRecoverable(folder.path(), songs, repaired);
}

// Checks I5: a stop ends the run after the batch in hand, committed, so no
// song is left in between.
TEST(Killed, InterruptOrTerminateEndsTheRunWithItsSummary) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempFolder folder;
    const std::map<fs::path, std::string> songs = WriteLibrary(folder.path());
    const std::map<fs::path, std::string> repaired = RepairsOf(folder.path());
    const HeldRun run = StartAndHold(folder.path());
    kill(run.pid, signal);
    const std::string out = ReadToEnd(run.out);
    close(run.out);
    int status = 0;
    waitpid(run.pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(130, WEXITSTATUS(status));
    const std::size_t lastLine = out.rfind('\n', out.size() - 2);
    EXPECT_EQ(0u, out.substr(lastLine + 1).rfind("Successfully fixed ", 0)) << out;
    EXPECT_EQ(0, SongsInBetween(songs, repaired));
    ExpectRecoverable(folder.path(), songs, repaired);
  }
}
