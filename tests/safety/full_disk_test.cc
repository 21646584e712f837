// A full disk or a failing write during a save: every file the run reports
// fixed is its complete repair, every other file is byte for byte its
// original and reported "Couldn't save changes", the exit status is 1 and
// nothing is left behind. Writes fail through RLIMIT_FSIZE (EFBIG past the
// limit, SIGXFSZ ignored) and, as root, on a full tmpfs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/summary.h"
#include "tests/fixtures.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

constexpr size_t kPage = 4096;

// Zeros between `head` and `tail` so that the file fills whole pages: a
// file that grows then needs a new block.
std::string PageAligned(const std::string& head, const std::string& tail = "") {
  const size_t size = head.size() + tail.size();
  return head + std::string((kPage - size % kPage) % kPage, '\0') + tail;
}

const std::string kCyrillic = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

// The files of the library; `mustFail` ones must grow past what the disk
// allows, whatever the save's design.
struct Song {
  std::string name;
  std::string bytes;
  bool needsRepair;
  bool mustFail;
};

std::vector<Song> Library(int largeFrames) {
  return {
      {"outgrow.mp3",
       PageAligned(Id3v2Tag({TextFrame("TIT2", kCyrillic), TextFrame("TPE1", kCyrillic)}) +
                   MpegFrames(largeFrames, 1)),
       true, true},
      {"v1 only.mp3", PageAligned(MpegFrames(largeFrames, 2), Id3v1Tag(kCyrillic, kCyrillic)), true,
       true},
      {"fits.mp3",
       PageAligned(Id3v2Tag({TextFrame("TIT2", kCyrillic)}, 2048) + MpegFrames(largeFrames, 3)),
       true, false},
      {"small.mp3", PageAligned(Id3v2Tag({TextFrame("TALB", kCyrillic)}) + MpegFrames(4, 4)), true,
       false},
      {"plain.mp3", PageAligned(Id3v2Tag({TextFrame("TIT2", "Plain")}) + MpegFrames(8, 5)), false,
       false},
  };
}

using Result = ProgramResult;

// Runs the command line over `folder` with the file size limit `limit`
// (0: none); its output goes to files outside the folder.
Result RunCli(const fs::path& folder, rlim_t limit = 0) {
  return RunProgram({SONGWRIGHT_BINARY, "--codepage", "1251", folder.string()}, [limit] {
    if (limit) {
      signal(SIGXFSZ, SIG_IGN);  // kept across exec: writes fail with EFBIG instead
      const rlimit size = {limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &size) != 0)
        _exit(126);
    }
  });
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    names.insert(entry.path().lexically_relative(folder).string());
  }
  return names;
}

std::map<std::string, std::string> Write(const fs::path& folder, const std::vector<Song>& songs) {
  std::map<std::string, std::string> written;
  for (const Song& song : songs) {
    std::ofstream(folder / song.name, std::ios::binary) << song.bytes;
    written[song.name] = song.bytes;
  }
  return written;
}

// The repaired bytes of each song, from a run with nothing in the way.
std::map<std::string, std::string> Repairs(const std::vector<Song>& songs) {
  TempFolder folder;
  Write(folder.path(), songs);
  const Result result = RunCli(folder.path());
  EXPECT_EQ(0, result.status) << result.out << result.err;
  std::map<std::string, std::string> repairs;
  for (const Song& song : songs)
    repairs[song.name] = ReadFile(folder.path() / song.name);
  return repairs;
}

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

// Checks one run that hit the write failure.
void CheckOutcome(const fs::path& folder, const std::vector<Song>& songs, const Result& result,
                  const std::set<std::string>& namesBefore) {
  const std::map<std::string, std::string> repairs = Repairs(songs);
  std::map<std::string, std::string> lines;  // name -> "fixed" or the failure line
  std::istringstream out(result.out);
  std::string line, last;
  while (std::getline(out, line)) {
    last = line;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos)
      continue;
    const std::string kind = line.substr(0, tab), rest = line.substr(tab + 1);
    if (kind == "fixed")
      lines[rest] = "fixed";
    if (kind == "failed")
      lines[rest.substr(0, rest.find('\t'))] = line;
  }

  unsigned fixed = 0, failed = 0;
  for (const Song& song : songs) {
    SCOPED_TRACE(song.name);
    const std::string actual = ReadFile(folder / song.name);
    const auto reported = lines.find(song.name);
    if (!song.needsRepair) {
      EXPECT_EQ(song.bytes, actual) << "a file needing nothing changed";
      EXPECT_EQ(lines.end(), reported);
      continue;
    }
    ASSERT_NE(lines.end(), reported) << "no outcome reported";
    if (reported->second == "fixed") {
      ++fixed;
      EXPECT_FALSE(song.mustFail) << "reported fixed although the disk could not hold it";
      EXPECT_TRUE(actual == repairs.at(song.name)) << "reported fixed but not its repair";
    } else {
      ++failed;
      EXPECT_EQ("failed\t" + song.name + "\tCouldn't save changes", reported->second);
      EXPECT_TRUE(actual == song.bytes) << "a failed save changed the file";
    }
  }
  EXPECT_EQ(1, result.status) << result.err;
  EXPECT_EQ(Narrow(ComposeSummary(fixed, failed)), last);
  EXPECT_EQ(namesBefore, Names(folder)) << "something was left behind";
}

}  // namespace

// Checks I5 and I8 when writes fail: a failed write is taken back at once,
// and a copy that could not be written never takes its file's place.
TEST(FullDisk, WritesPastAFileSizeLimitFailAndLeaveTheOriginals) {
  TempFolder folder;
  const std::vector<Song> songs = Library(2500);  // about 1 MB each
  Write(folder.path(), songs);
  const std::set<std::string> names = Names(folder.path());
  const Result result = RunCli(folder.path(), 256 * 1024);
  CheckOutcome(folder.path(), songs, result, names);
}

// A size-limited tmpfs, filled to the last block; unmounted in all cases.
class FullTmpfs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0)
      GTEST_SKIP() << "mounting a tmpfs needs root";
    mountPoint_ = base_.Mkdir("disk");
    if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    mounted_ = true;
  }

  void TearDown() override {
    if (mounted_ && umount(mountPoint_.c_str()) != 0)
      umount2(mountPoint_.c_str(), MNT_DETACH);
  }

  // Fills the file system until a write fails for want of space.
  void Fill() {
    const int fd = open((mountPoint_ / "filler.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_LE(0, fd);
    const std::string block(kPage, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, "x", 1) > 0) {
    }
    close(fd);
  }

  TempFolder base_;
  fs::path mountPoint_;
  bool mounted_ = false;
};

// Checks I5 and I8 on a file system without a free block.
TEST_F(FullTmpfs, SavesOnAFullFileSystemFailAndLeaveTheOriginals) {
  const fs::path music = mountPoint_ / "music";
  fs::create_directory(music);
  const std::vector<Song> songs = Library(1200);  // about 0.5 MB each
  Write(music, songs);
  Fill();
  const std::set<std::string> names = Names(music);
  const uintmax_t fillerSize = fs::file_size(mountPoint_ / "filler.bin");
  const Result result = RunCli(music);
  CheckOutcome(music, songs, result, names);
  EXPECT_EQ(fillerSize, fs::file_size(mountPoint_ / "filler.bin"));
  std::set<std::string> top;
  for (const auto& entry : fs::directory_iterator(mountPoint_)) {
    top.insert(entry.path().filename().string());
  }
  EXPECT_EQ((std::set<std::string>{"filler.bin", "music"}), top);
}
