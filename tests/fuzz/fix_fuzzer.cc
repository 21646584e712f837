// libFuzzer target: each input is written to a file named *.mp3 and repaired
// with code page 1251. Every input must give exactly one valid outcome; a
// file that is not repaired keeps every byte; nothing is left beside it. With
// FIX_FUZZER_IDEMPOTENT=1 a repaired file must also need nothing more (TagLib
// re-renders some frames it cannot read, encrypted ones for instance, as
// plain text that a second pass repairs again). Violations abort.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.h"

namespace {

std::string folder, path;
bool idempotent = false;

// Removes a folder that holds only files.
void RemoveFlatFolder(const std::string& name) {
  if (DIR* dir = opendir(name.c_str())) {
    while (const dirent* entry = readdir(dir))
      unlink((name + "/" + entry->d_name).c_str());
    closedir(dir);
  }
  rmdir(name.c_str());
}

void RemoveFolder() {
  if (!folder.empty())
    RemoveFlatFolder(folder);
}

// Folders of fuzzer processes that are gone: a crash leaves its folder.
void RemoveStaleFolders(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (!dir)
    return;
  const std::string prefix = "fix-fuzzer-";
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0)
      continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || (kill(pid_t(pid), 0) != 0 && errno == ESRCH)) {
      RemoveFlatFolder(base + "/" + name);
    }
  }
  closedir(dir);
}

// A private folder named after the process, in memory when /dev/shm is there:
// saves flush to disk.
void MakeFolder() {
  const char* tmp = getenv("TMPDIR");
  const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
  RemoveStaleFolders(base);
  folder = base + "/fix-fuzzer-" + std::to_string(getpid());
  RemoveFolder();
  if (mkdir(folder.c_str(), 0700) != 0) {
    std::perror("fix_fuzzer: mkdir");
    abort();
  }
  path = folder + "/input.mp3";
  const char* strict = getenv("FIX_FUZZER_IDEMPOTENT");
  idempotent = strict && std::strcmp(strict, "1") == 0;
  atexit(RemoveFolder);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fix_fuzzer: %s\n", what);
  abort();
}

std::string ReadBack() {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    Fail("the input file is gone");
  char buffer[65536];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, got);
  close(fd);
  return bytes;
}

// The folder holds the input file and nothing else.
void CheckNothingBeside() {
  DIR* dir = opendir(folder.c_str());
  if (!dir)
    Fail("the folder is gone");
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
      ++count;
  }
  closedir(dir);
  if (count != 1)
    Fail("a file was left beside the input");
}

// Inputs of odd length are repaired in the automatic mode (every text
// place of the tag read in every shape, cp1251 as the album's page), the
// others through cp1251 alone.
unsigned CheckedFix(bool automatic) {
  FileOutcome outcome;
  RepairOptions options;
  options.redecoding.codePage = 1251;
  options.redecoding.automatic = automatic;
  const unsigned message = FixFile(path, options, &outcome);
  if (outcome.path != path)
    Fail("the outcome names another path");
  switch (message) {
    case WM_FIX_SUCCEEDED:
    case WM_FIX_NOT_NEEDED:
      if (!outcome.issue.empty())
        Fail("an issue on an outcome that is not a failure");
      break;
    case WM_FIX_FAILED:
      if (outcome.issue != kIssueCouldNotOpen && outcome.issue != kIssueCouldNotSave) {
        Fail("a failure without one of the two issue texts");
      }
      break;
    default:
      Fail("a message that is not an outcome");
  }
  return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (folder.empty())
    MakeFolder();
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, input.data(), input.size()) != ssize_t(input.size())) {
      Fail("cannot write the input file");
    }
    close(fd);
  }

  const bool automatic = size % 2 == 1;
  const unsigned message = CheckedFix(automatic);
  CheckNothingBeside();
  if (message != WM_FIX_SUCCEEDED) {
    if (ReadBack() != input)
      Fail("a file that was not repaired changed");
    return 0;
  }
  // A second pass over the repaired file gives one outcome again and, when it
  // repairs nothing, writes nothing.
  const std::string repaired = ReadBack();
  const unsigned again = CheckedFix(automatic);
  CheckNothingBeside();
  if (again == WM_FIX_SUCCEEDED) {
    if (idempotent)
      Fail("a repaired file was repaired again");
  } else if (ReadBack() != repaired) {
    Fail("a second pass changed the repaired file");
  }
  return 0;
}
