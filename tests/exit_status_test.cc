// Exit statuses as documented, and what a run tells alike wherever it meets
// it: one table of statuses in --help, the man page and the docs; a state
// folder that fails during the run exits 2; a named pipe or a link to
// nothing reported the same by the scan and when named; a preview's
// progress line.
#include <gtest/gtest.h>
#include <errno.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/run-state.h"
#include "tests/cli_run.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

std::string Collapsed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t') {
      if (!out.empty() && out.back() != ' ')
        out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::string Unescaped(std::string roff) {
  for (std::size_t at = roff.find("\\-"); at != std::string::npos; at = roff.find("\\-", at))
    roff.erase(at, 1);
  return roff;
}

// --help: "  2    text" and its continued lines, after "Exit status:".
std::map<int, std::string> HelpTable(const std::string& help) {
  std::map<int, std::string> table;
  const std::size_t start = help.find("\nExit status:\n");
  int code = -1;
  for (const std::string& line : Lines(help.substr(start + 14))) {
    if (line.size() > 2 && line[2] != ' ')
      code = std::stoi(line.substr(2));
    table[code] += " " + line.substr(7);
  }
  for (auto& [code, text] : table)
    text = Collapsed(text);
  return table;
}

// The man page: ".TP", ".B CODE", then the text, up to ".PP" or ".SH".
std::map<int, std::string> ManTable(const std::string& page) {
  std::map<int, std::string> table;
  std::istringstream in(page.substr(page.find(".SH EXIT STATUS")));
  std::string line;
  std::getline(in, line);
  int code = -1;
  bool named = false;
  while (std::getline(in, line) && line != ".PP" && line.rfind(".SH", 0) != 0) {
    if (line == ".TP") {
      named = true;
    } else if (named) {
      code = std::stoi(line.substr(3));
      named = false;
    } else {
      table[code] += " " + Unescaped(line);
    }
  }
  for (auto& [code, text] : table)
    text = Collapsed(text);
  return table;
}

// docs/command-line.md: "| CODE | text |" rows below "## Exit status".
std::map<int, std::string> DocsTable(const std::string& page) {
  std::map<int, std::string> table;
  std::istringstream in(page.substr(page.find("## Exit status")));
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 4 || line[0] != '|' || line[2] < '0' || line[2] > '9')
      continue;
    const std::size_t bar = line.find('|', 2);
    table[std::stoi(line.substr(2, bar - 2))] =
        Collapsed(line.substr(bar + 2, line.rfind('|') - bar - 3));
  }
  return table;
}

}  // namespace

TEST(ExitStatus, HelpTheManPageAndTheDocsGiveOneTableWithEveryStatus) {
  const std::map<int, std::string> help = HelpTable(RunCli({"--help"}).out);
  const fs::path source = SONGWRIGHT_SOURCE_DIR;
  const std::map<int, std::string> man = ManTable(ReadFile(source / "packaging/songwright.1"));
  const std::map<int, std::string> docs = DocsTable(ReadFile(source / "docs/command-line.md"));
  std::vector<int> codes;
  for (const auto& [code, text] : help)
    codes.push_back(code);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 130}), codes);
  EXPECT_EQ(help, man);
  EXPECT_EQ(help, docs);
}

namespace {

// A disk on which the run journal in the state folder cannot be written,
// as on a full disk, while everything else can.
class FullStateDisk : public PassThroughDisk {
 public:
  explicit FullStateDisk(std::string state) : state_(std::move(state)) {}

  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    return Remember(path, Real().OpenExisting(path, forWriting));
  }
  NativeFile* CreateNew(const PathString& path) override {
    return Remember(path, Real().CreateNew(path));
  }
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override {
    if (Journal(file)) {
      errno = ENOSPC;
      return false;
    }
    return Real().Write(file, offset, data, count);
  }

 private:
  NativeFile* Remember(const PathString& path, NativeFile* file) {
    std::lock_guard<std::mutex> hold(lock_);
    if (file)
      paths_[file] = path;
    return file;
  }
  bool Journal(NativeFile* file) {
    std::lock_guard<std::mutex> hold(lock_);
    const PathString& path = paths_[file];
    return path.rfind(state_, 0) == 0 && path.size() > 8 &&
           path.compare(path.size() - 8, 8, ".journal") == 0;
  }
  std::string state_;
  std::mutex lock_;
  std::map<NativeFile*, PathString> paths_;
};

}  // namespace

TEST(ExitStatus, AStateFolderThatCannotTakeTheRunsRecordsExitsTwoAndWritesNoFile) {
  TempFolder folder;
  const fs::path song = folder.Write("a.mp3", Needing());
  const std::string state = std::getenv("XDG_STATE_HOME");
  FullStateDisk disk(state);
  UseDiskInterface(&disk);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunSongwright({"-v", "-c", "1251", folder.path().string()});
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  UseDiskInterface(nullptr);
  EXPECT_EQ(2, status) << out << err;
  EXPECT_NE(std::string::npos, err.find("cannot write the state folder")) << err;
  EXPECT_NE(std::string::npos, err.find("no space left on the device")) << err;
  EXPECT_NE(std::string::npos,
            out.find("  the run's record could not be written in the state folder: no space"))
      << out;
  EXPECT_EQ(Needing(), ReadFile(song));
}

// The scan and a path named on the command line report a named pipe and a
// link to nothing in the same words, whatever the name's format.
TEST(NamedEntries, APipeOrALinkToNothingIsReportedAlikeByTheScanAndWhenNamed) {
  TempFolder folder;
  ASSERT_EQ(0, mkfifo((folder.path() / "pipe.mp3").c_str(), 0600));
  ASSERT_EQ(0, mkfifo((folder.path() / "pipe.flac").c_str(), 0600));
  fs::create_symlink(folder.path() / "gone.mp3", folder.path() / "dangling.mp3");
  const ProgramResult scan = RunCli({"-v", "-c", "1251", "."}, {}, folder.path());
  EXPECT_EQ(1, scan.status) << scan.out << scan.err;
  const std::map<std::string, std::string> what = {
      {"pipe.mp3", "a named pipe, not a file"},
      {"pipe.flac", "a named pipe, not a file"},
      {"dangling.mp3", "a symbolic link to nothing (its target is missing)"}};
  for (const auto& [name, reason] : what) {
    const std::string report = "failed\t" + name + "\tCouldn't open file\n  " + reason + "\n";
    EXPECT_NE(std::string::npos, scan.out.find(report)) << scan.out;
    const ProgramResult named = RunCli({"-v", "-c", "1251", name}, {}, folder.path());
    EXPECT_EQ(1, named.status) << name << ": " << named.err;
    EXPECT_EQ(0u, named.out.find(report)) << named.out;
  }
}

TEST(Progress, APreviewSaysPreviewingAndARunFixing) {
  RunState run;
  run.foundFiles.assign(4, PathString(PATH_TEXT("a.mp3")));
  run.outcomeCount = 2;
  // Any thread: the line tells the scan from the fix by it alone.
  run.fixThread = reinterpret_cast<WorkerThread*>(&run);
  run.options.preview = true;
  EXPECT_EQ("Previewing... [###############...............] 2 of 4", ProgressLine(run));
  run.options.preview = false;
  EXPECT_EQ(0u, ProgressLine(run).find("Fixing song titles... [")) << ProgressLine(run);
}
