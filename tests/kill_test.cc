// Kills the command line at many moments over a generated library and checks
// that every file is always byte for byte its original or its complete
// repair, that no new ".mp3" name ever appears, and that the next run
// finishes the job and leaves nothing behind. Stop rounds send SIGINT or
// SIGTERM twice instead and check that the run ends cleanly on its own.
//
//   kill_test [--songwright PATH] [--rounds N] [--stops N] [--seed S]
//             [--large-mb MB] [--keep-going] [--verbose]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;
using namespace fixtures;

namespace {

struct Options {
  std::string songwright =
#ifdef SONGWRIGHT_BINARY
      SONGWRIGHT_BINARY;
#else
      "build/songwright";
#endif
  int rounds = 50;
  int stops = 10;
  unsigned seed = 1;
  double largeMb = 2.5;
  bool keepGoing = false;
  bool verbose = false;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "kill_test: %s\nusage: kill_test [--songwright PATH] [--rounds N] [--stops N] "
               "[--seed S] [--large-mb MB] [--keep-going] [--verbose]\n",
               problem.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc)
        Usage(argument + " needs a value");
      return argv[++i];
    };
    try {
      if (argument == "--songwright") {
        options.songwright = value();
      } else if (argument == "--rounds") {
        options.rounds = std::stoi(value());
      } else if (argument == "--stops") {
        options.stops = std::stoi(value());
      } else if (argument == "--seed") {
        options.seed = unsigned(std::stoul(value()));
      } else if (argument == "--large-mb") {
        options.largeMb = std::stod(value());
      } else if (argument == "--keep-going") {
        options.keepGoing = true;
      } else if (argument == "--verbose") {
        options.verbose = true;
      } else {
        Usage("unknown argument '" + argument + "'");
      }
    } catch (const std::logic_error&) {
      Usage("bad value for " + argument);
    }
  }
  if (options.rounds < 0 || options.stops < 0 || options.largeMb <= 0)
    Usage("bad value");
  return options;
}

// --- The library -------------------------------------------------------------

struct Library {
  std::map<std::string, std::string> originals;  // relative path -> bytes
  std::map<std::string, std::string> expected;   // after one complete run
  std::set<std::string> untouched;               // never to be written
  std::set<std::string> entries;                 // every name, folders end in '/'
};

// cp1251 letters stored as Latin-1, with a space now and then.
std::string Cyrillic(std::mt19937& random, int length) {
  std::string text;
  for (int i = 0; i < length; ++i) {
    text.push_back(i % 7 == 6 ? ' ' : char(0xC0 + random() % 64));
  }
  return text;
}

Library MakeLibrary(unsigned seed, double largeMb) {
  std::mt19937 random(seed);
  const int largeFrames = int(largeMb * 1048576 / 417);
  Library library;
  auto add = [&](const std::string& path, const std::string& bytes, bool untouched = false) {
    library.originals[path] = bytes;
    if (untouched)
      library.untouched.insert(path);
  };
  auto words = [&](int length) { return Cyrillic(random, length); };

  // Padding beyond 1024 bytes and 1% of the file, which TagLib trims: the
  // file gets shorter.
  add("Albums/Kino/01 Gruppa krovi.mp3",
      Id3v2Tag({TextFrame("TIT2", words(12)), TextFrame("TPE1", words(4)),
                TextFrame("TALB", words(14)), TextFrame("TRCK", "1")},
               4096) +
          MpegFrames(40, 1));
  add("Albums/Kino/02.mp3",
      Id3v2Tag({TextFrame("TIT2", words(20)), MultiValueTextFrame("TPE1", {words(5), words(9)}),
                UserTextFrame(words(6), words(10)), CommentFrame("plain comment")},
               2048, 4) +
          MpegFrames(30, 2));
  // Tags that fit in the padding TagLib keeps: only the first kilobytes change.
  for (int i = 0; i < 6; ++i) {
    add("Albums/Misc/fit " + std::to_string(i) + ".mp3",
        Id3v2Tag({TextFrame("TIT2", words(8 + i)), TextFrame("TALB", words(6))}, 1024, 3 + i % 2) +
            MpegFrames(20 + i, 10 + i));
  }
  add("Large/fit large.mp3",
      Id3v2Tag({TextFrame("TIT2", words(30))}, 3000) + MpegFrames(largeFrames, 20));

  // Tags that outgrow their padding: TagLib moves every audio byte.
  for (int i = 0; i < 4; ++i) {
    add("Large/outgrow " + std::to_string(i) + ".mp3",
        Id3v2Tag({TextFrame("TIT2", words(16)), TextFrame("TPE1", words(10)),
                  TextFrame("TALB", "ASCII album")},
                 i, 3 + i % 2) +
            MpegFrames(largeFrames + i * 97, 30 + i));
  }
  add("Small/outgrow.mp3", Id3v2Tag({TextFrame("TIT2", words(40))}, 8) + MpegFrames(25, 40));
  add("Small/SHOUTING.MP3", Id3v2Tag({TextFrame("TPE1", words(9))}) + MpegFrames(12, 41));
  add("a/b/c/d/e/deep.mp3", Id3v2Tag({TextFrame("TIT2", words(5))}) + MpegFrames(10, 42));

  // ID3v1 only: the repair puts a whole new ID3v2 tag in front of the audio.
  add("ID3v1 only/large v1.mp3",
      MpegFrames(largeFrames, 50) + Id3v1Tag(words(20), words(10), words(15), "1987", 3));
  add("ID3v1 only/large v1 ape.mp3",
      MpegFrames(largeFrames / 2, 51) + ApeTag("Title", "ape") + Id3v1Tag(words(25), "Artist"));
  add("ID3v1 only/small v1.mp3", MpegFrames(15, 52) + Id3v1Tag(words(11)));

  // Files that need nothing, and files that are not songs.
  add("Plain/ascii.mp3", Id3v2Tag({TextFrame("TIT2", "Plain title")}, 100) + MpegFrames(20, 60),
      true);
  add("Plain/utf16.mp3",
      Id3v2Tag({Utf16TextFrame("TIT2", u"\u0413\u0440\u0443")}) + MpegFrames(20, 61), true);
  add("Plain/ascii v1.mp3", MpegFrames(20, 62) + Id3v1Tag("Title", "Artist", "Album", "1999", 2),
      true);
  add("Plain/big plain.mp3", Id3v2Tag({TextFrame("TIT2", "Big")}) + MpegFrames(largeFrames / 2, 63),
      true);
  add("Plain/empty.mp3", "", true);
  add("Plain/cover.jpg", "\xFF\xD8\xFF\xE0 not really a picture", true);
  add("Plain/notes.txt", Id3v2Tag({TextFrame("TIT2", words(5))}) + MpegFrames(3, 64), true);

  for (const auto& [path, bytes] : library.originals) {
    for (fs::path part = fs::path(path).parent_path(); !part.empty(); part = part.parent_path()) {
      library.entries.insert(part.generic_string() + "/");
    }
    library.entries.insert(path);
  }
  return library;
}

// --- Files -------------------------------------------------------------------

void WriteTree(const fs::path& root, const Library& library) {
  for (const auto& [path, bytes] : library.originals) {
    const fs::path full = root / path;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out << bytes;
    if (!out)
      throw std::runtime_error("cannot write " + full.string());
  }
}

// Every name below `root`, folders ending in '/'; links are not followed.
std::set<std::string> Entries(const fs::path& root, bool filesOnly = false) {
  std::set<std::string> names;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const bool folder = it->is_directory(error) && !it->is_symlink(error);
    if (folder && filesOnly)
      continue;
    names.insert(it->path().lexically_relative(root).generic_string() + (folder ? "/" : ""));
  }
  return names;
}

bool EndsInMp3(const std::string& name) {
  if (name.size() < 4)
    return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return end == ".mp3";
}

// What changes when a file is written or replaced: its inode and its time of
// last change, in nanoseconds.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  long long modified = 0;
};

Identity IdentityOf(const fs::path& path) {
  struct stat info = {};
  Identity identity;
  if (lstat(path.c_str(), &info) == 0) {
    identity = {info.st_dev, info.st_ino,
                info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec};
  }
  return identity;
}

bool operator==(const Identity& a, const Identity& b) {
  return a.device == b.device && a.inode == b.inode && a.modified == b.modified;
}

// The whole file, or "" when it cannot be read.
std::string Slurp(const fs::path& path) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    return bytes;
  struct stat info = {};
  if (fstat(fd, &info) == 0)
    bytes.resize(size_t(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, &bytes[done], bytes.size() - done);
    if (got <= 0)
      break;
    done += size_t(got);
  }
  bytes.resize(done);
  close(fd);
  return bytes;
}

std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at])
    ++at;
  return std::to_string(b.size()) + " bytes, first difference at byte " + std::to_string(at);
}

// --- Runs --------------------------------------------------------------------

struct Paths {
  fs::path work, library, home, out, err;
};

pid_t Start(const Options& options, const Paths& paths) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, paths.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, paths.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  // A private HOME and TMPDIR, so that leftovers outside the library show too.
  const std::string home = "HOME=" + paths.home.string();
  const std::string tmp = "TMPDIR=" + (paths.home / "tmp").string();
  // Run journals are meant to stay; they are kept apart from HOME.
  const std::string state = "XDG_STATE_HOME=" + (paths.work / "state").string();
  std::vector<char*> environment = {const_cast<char*>(home.c_str()), const_cast<char*>(tmp.c_str()),
                                    const_cast<char*>(state.c_str()),
                                    const_cast<char*>("PATH=/usr/bin:/bin"), nullptr};
  const std::string folder = paths.library.string();
  std::vector<char*> argv = {const_cast<char*>(options.songwright.c_str()),
                             const_cast<char*>("--codepage"), const_cast<char*>("1251"),
                             const_cast<char*>(folder.c_str()), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, options.songwright.c_str(), &actions, nullptr, argv.data(),
                                environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "kill_test: cannot start %s: %s\n", options.songwright.c_str(),
                 std::strerror(error));
    std::exit(2);
  }
  return pid;
}

// Waits for the child; on a hang it is killed and -1 returned.
int Wait(pid_t pid, Clock::duration limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return status;
}

std::string DescribeStatus(int status) {
  if (status == -1)
    return "hung and was killed";
  if (WIFEXITED(status))
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "died of signal " + std::to_string(WTERMSIG(status));
  return "ended oddly";
}

// A run to completion; returns the wait status.
int RunToEnd(const Options& options, const Paths& paths, Clock::duration limit,
             double* millis = nullptr) {
  const Clock::time_point start = Clock::now();
  const int status = Wait(Start(options, paths), limit);
  if (millis)
    *millis = Millis(Clock::now() - start).count();
  return status;
}

// --- Checks ------------------------------------------------------------------

struct Tally {
  int repaired = 0;  // files found in their repaired state
  int original = 0;  // files needing repair found as they were
  int leftovers = 0;
};

class Checker {
 public:
  Checker(const Library& library, const Paths& paths) : library_(library), paths_(paths) {}

  // Records the identity of the files that must never be written.
  void Remember() {
    identities_.clear();
    for (const std::string& path : library_.untouched) {
      identities_[path] = IdentityOf(paths_.library / path);
    }
  }

  // Every file is its original or its repair, and no new ".mp3" name exists.
  Tally CheckConsistent(std::vector<std::string>* problems) const {
    Tally tally;
    for (const auto& [path, original] : library_.originals) {
      const std::string actual = Slurp(paths_.library / path);
      const std::string& expected = library_.expected.at(path);
      if (!CheckUntouched(path, actual, problems))
        continue;
      if (library_.untouched.count(path))
        continue;
      if (actual == expected) {
        ++tally.repaired;
      } else if (actual == original) {
        ++tally.original;
      } else if (!fs::exists(paths_.library / path)) {
        problems->push_back(path + " is gone");
      } else {
        problems->push_back(path + " is neither its original (" +
                            FirstDifference(actual, original) + ") nor its repair (" +
                            FirstDifference(actual, expected) + "); it has " +
                            std::to_string(actual.size()) + " bytes");
      }
    }
    for (const std::string& name : Entries(paths_.library)) {
      if (library_.entries.count(name))
        continue;
      ++tally.leftovers;
      if (EndsInMp3(name))
        problems->push_back("a new name ending in .mp3 appeared: " + name);
    }
    return tally;
  }

  // Every file is its repair and nothing else is left anywhere.
  void CheckComplete(std::vector<std::string>* problems) const {
    for (const auto& [path, original] : library_.originals) {
      const std::string actual = Slurp(paths_.library / path);
      const std::string& expected = library_.expected.at(path);
      if (!CheckUntouched(path, actual, problems))
        continue;
      if (actual != expected) {
        problems->push_back(path + " is not its repair after a complete run (" +
                            FirstDifference(expected, actual) + ")" +
                            (actual == original ? "; it is still its original" : ""));
      }
    }
    CheckNoLeftovers(problems);
  }

  void CheckNoLeftovers(std::vector<std::string>* problems) const {
    for (const std::string& name : Entries(paths_.library)) {
      if (!library_.entries.count(name))
        problems->push_back("left behind in the library: " + name);
    }
    for (const std::string& name : Entries(paths_.home, true)) {
      problems->push_back("left behind in HOME or TMPDIR: " + name);
    }
  }

  // Whether the library is exactly as written: no file changed, nothing new.
  bool Pristine() const {
    for (const auto& [path, original] : library_.originals) {
      if (Slurp(paths_.library / path) != original)
        return false;
    }
    return Entries(paths_.library) == library_.entries;
  }

 private:
  bool CheckUntouched(const std::string& path, const std::string& actual,
                      std::vector<std::string>* problems) const {
    const auto found = identities_.find(path);
    if (found == identities_.end())
      return true;
    if (actual != library_.originals.at(path)) {
      problems->push_back(path + " needs nothing but was changed");
      return false;
    }
    if (!(IdentityOf(paths_.library / path) == found->second)) {
      problems->push_back(path + " needs nothing but was written or replaced");
      return false;
    }
    return true;
  }

  const Library& library_;
  const Paths& paths_;
  std::map<std::string, Identity> identities_;
};

// The paths of the "fixed" lines of a run's output.
std::set<std::string> FixedLines(const std::string& out, int* failed) {
  std::set<std::string> fixed;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 6, "fixed\t") == 0)
      fixed.insert(line.substr(6));
    if (line.compare(0, 7, "failed\t") == 0)
      ++*failed;
  }
  return fixed;
}

// --- The test ----------------------------------------------------------------

class KillTest {
 public:
  explicit KillTest(const Options& options) : options_(options), random_(options.seed) {}

  int Run() {
    std::string buffer = (fs::temp_directory_path() / "kill-test-XXXXXX").string();
    if (!mkdtemp(buffer.data())) {
      std::perror("kill_test: mkdtemp");
      return 2;
    }
    paths_.work = buffer;
    paths_.library = paths_.work / "library";
    paths_.home = paths_.work / "home";
    paths_.out = paths_.work / "out";
    paths_.err = paths_.work / "err";

    library_ = MakeLibrary(options_.seed, options_.largeMb);
    if (!Prepare())
      return Finish();
    for (int round = 0; round < options_.rounds; ++round) {
      if (!KillRound(round) && !options_.keepGoing)
        break;
    }
    for (int round = 0; round < options_.stops && (failures_ == 0 || options_.keepGoing); ++round) {
      if (!StopRound(round) && !options_.keepGoing)
        break;
    }
    return Finish();
  }

 private:
  void Fresh() {
    std::error_code error;
    fs::remove_all(paths_.library, error);
    fs::remove_all(paths_.home, error);
    fs::create_directories(paths_.home / "tmp");
    WriteTree(paths_.library, library_);
  }

  // The expected repairs come from one complete run; the run time is the
  // median of five.
  bool Prepare() {
    Fresh();
    Checker checker(library_, paths_);
    checker.Remember();
    std::vector<std::string> problems;
    double millis = 0;
    const int status = RunToEnd(options_, paths_, std::chrono::minutes(5), &millis);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      problems.push_back("the first complete run " + DescribeStatus(status) + ": " +
                         Slurp(paths_.err));
    }
    int needing = 0, sameLength = 0;
    for (const auto& [path, original] : library_.originals) {
      library_.expected[path] = Slurp(paths_.library / path);
      const bool changed = library_.expected[path] != original;
      if (!library_.untouched.count(path)) {
        ++needing;
        if (library_.expected[path].size() == original.size())
          ++sameLength;
        if (!changed)
          problems.push_back(path + " was not repaired by a complete run");
      }
    }
    int failed = 0;
    const size_t reported = FixedLines(Slurp(paths_.out), &failed).size();
    if (reported != size_t(needing) || failed) {
      problems.push_back("a complete run reported " + std::to_string(reported) + " fixed and " +
                         std::to_string(failed) + " failed of " + std::to_string(needing));
    }
    checker.CheckComplete(&problems);
    std::vector<double> times = {millis};
    for (int i = 0; i < 4 && problems.empty(); ++i) {
      Fresh();
      RunToEnd(options_, paths_, std::chrono::minutes(5), &millis);
      times.push_back(millis);
    }
    std::sort(times.begin(), times.end());
    if (options_.verbose) {
      for (double time : times)
        std::printf("  a complete run took %.1f ms\n", time);
    }
    runMillis_ = times[times.size() / 2];
    std::printf(
        "kill_test: %zu files, %d to repair (%d keeping their length), a complete run takes "
        "%.1f ms\n",
        library_.originals.size(), needing, sameLength, runMillis_);
    return Report("setup", problems);
  }

  // Some delay from 0 to a little past the whole run.
  Clock::duration NextDelay() {
    const double fraction = double(random_() % 10001) / 10000.0 * 1.05;
    return std::chrono::duration_cast<Clock::duration>(Millis(runMillis_ * fraction));
  }

  // Starts a run and sends it `signal` after a delay; returns the pid.
  pid_t StartAndSignal(int signal, Clock::duration delay, bool* finishedFirst) {
    const Clock::time_point start = Clock::now();
    const pid_t pid = Start(options_, paths_);
    std::this_thread::sleep_until(start + delay);
    int status = 0;
    *finishedFirst = waitpid(pid, &status, WNOHANG) == pid;
    if (*finishedFirst) {
      lastStatus_ = status;
      return -1;
    }
    kill(pid, signal);
    return pid;
  }

  Clock::duration Limit() const {
    return std::chrono::milliseconds(30000) + std::chrono::milliseconds(int(runMillis_ * 20));
  }

  bool KillRound(int round) {
    Fresh();
    Checker checker(library_, paths_);
    checker.Remember();
    std::vector<std::string> problems;
    // Every fourth round also kills the run that cleans up after the first.
    const int kills = round % 4 == 3 ? 2 : 1;
    std::string what;
    for (int k = 0; k < kills; ++k) {
      const Clock::duration delay = NextDelay();
      bool finishedFirst = false;
      const pid_t pid = StartAndSignal(SIGKILL, delay, &finishedFirst);
      if (pid > 0)
        waitpid(pid, nullptr, 0);
      char text[96];
      std::snprintf(text, sizeof text, "%sSIGKILL after %.1f ms%s", k ? ", then " : "",
                    Millis(delay).count(), finishedFirst ? " (the run had ended)" : "");
      what += text;
      if (finishedFirst && !(WIFEXITED(lastStatus_) && WEXITSTATUS(lastStatus_) == 0)) {
        problems.push_back("a run ended before the kill and " + DescribeStatus(lastStatus_));
      }
      const size_t before = problems.size();
      const Tally tally = checker.CheckConsistent(&problems);
      if (problems.size() > before)
        Keep("round-" + std::to_string(round) + "-after-kill");
      ++kills_;
      if (finishedFirst)
        ++late_;
      if (tally.repaired && tally.original)
        ++midRun_;
      if (tally.leftovers)
        ++withLeftovers_;
      if (options_.verbose) {
        std::printf("  round %d kill %d after %.1f ms: %d repaired, %d original, %d leftovers\n",
                    round, k, Millis(delay).count(), tally.repaired, tally.original,
                    tally.leftovers);
      }
    }
    const int status = RunToEnd(options_, paths_, Limit());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      problems.push_back("the run after the kill " + DescribeStatus(status) +
                         "; stdout: " + Slurp(paths_.out) + "stderr: " + Slurp(paths_.err));
    }
    checker.CheckComplete(&problems);
    return Report("kill round " + std::to_string(round) + " (" + what + ")", problems);
  }

  bool StopRound(int round) {
    Fresh();
    Checker checker(library_, paths_);
    checker.Remember();
    std::vector<std::string> problems;
    const int signal = round % 2 ? SIGTERM : SIGINT;
    const char* name = round % 2 ? "SIGTERM" : "SIGINT";
    const Clock::duration delay = NextDelay();
    bool finishedFirst = false;
    const pid_t pid = StartAndSignal(signal, delay, &finishedFirst);
    int status = lastStatus_;
    if (pid > 0) {
      // A second signal must not cut a save short either.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      kill(pid, signal);
      status = Wait(pid, Limit());
    }
    char what[96];
    std::snprintf(what, sizeof what, "stop round %d (%s twice after %.1f ms)", round, name,
                  Millis(delay).count());
    const bool stopped = WIFEXITED(status) && WEXITSTATUS(status) == 130;
    const bool ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // Dying of the signal is only acceptable before the handler is in place,
    // when nothing can have been touched yet.
    if (WIFSIGNALED(status) && WTERMSIG(status) == signal && checker.Pristine()) {
      ++early_;
    } else if (!stopped && !ended) {
      problems.push_back("the stopped run " + DescribeStatus(status));
    }
    checker.CheckConsistent(&problems);
    checker.CheckNoLeftovers(&problems);
    if (!problems.empty())
      Keep("stop-round-" + std::to_string(round));
    int failed = 0;
    for (const std::string& path : FixedLines(Slurp(paths_.out), &failed)) {
      const auto expected = library_.expected.find(path);
      if (expected == library_.expected.end()) {
        problems.push_back("reported fixed but not in the library: " + path);
      } else if (Slurp(paths_.library / path) != expected->second) {
        problems.push_back("reported fixed but not repaired: " + path);
      }
    }
    if (failed)
      problems.push_back("the stopped run reported failed files");
    ++stopRounds_;
    status = RunToEnd(options_, paths_, Limit());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      problems.push_back("the run after the stop " + DescribeStatus(status));
    }
    checker.CheckComplete(&problems);
    return Report(what, problems);
  }

  bool Report(const std::string& what, const std::vector<std::string>& problems) {
    if (problems.empty())
      return true;
    ++failures_;
    std::fprintf(stderr, "kill_test: seed %u, %s:\n", options_.seed, what.c_str());
    for (const std::string& problem : problems)
      std::fprintf(stderr, "  %s\n", problem.c_str());
    return false;
  }

  // Keeps a copy of the library as a failing round left it, the first time.
  void Keep(const std::string& name) {
    if (!kept_.empty())
      return;
    kept_ = paths_.work / name;
    std::error_code error;
    fs::copy(paths_.library, kept_, fs::copy_options::recursive, error);
  }

  int Finish() {
    std::error_code error;
    if (kept_.empty()) {
      fs::remove_all(paths_.work, error);
    } else {
      for (const fs::path& name : {paths_.library, paths_.home, paths_.out, paths_.err}) {
        fs::remove_all(name, error);
      }
      std::fprintf(stderr, "kill_test: the first failing library is kept in %s\n", kept_.c_str());
    }
    std::printf(
        "kill_test: %d kills (%d mid-run with some files repaired and some not, %d with "
        "leftovers present, %d after the run had ended), %d stop rounds (%d stopped before "
        "the handler was in place)\n",
        kills_, midRun_, withLeftovers_, late_, stopRounds_, early_);
    if (failures_) {
      std::fprintf(stderr, "kill_test: FAILED, %d round(s) with problems (seed %u)\n", failures_,
                   options_.seed);
      return 1;
    }
    std::printf("kill_test: passed\n");
    return 0;
  }

  const Options options_;
  std::mt19937 random_;
  Paths paths_;
  fs::path kept_;
  Library library_;
  double runMillis_ = 0;
  int lastStatus_ = 0;
  int failures_ = 0, kills_ = 0, midRun_ = 0, withLeftovers_ = 0, late_ = 0;
  int stopRounds_ = 0, early_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);  // a closed reader must not end the test before it cleans up
  return KillTest(options).Run();
}
