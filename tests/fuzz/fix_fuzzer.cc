// libFuzzer target: each input is written to a file named *.mp3 and repaired
// with code page 1251. Every input must give exactly one valid outcome; a
// file that is not repaired keeps every byte; nothing is left beside it; and
// a repaired file needs nothing more. Any violation aborts with the reason.
#include <dirent.h>
#include <fcntl.h>
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

void RemoveFolder() {
  if (folder.empty()) return;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) {
        unlink((folder + "/" + entry->d_name).c_str());
      }
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

// A private folder, in memory when /dev/shm is there: saves flush to disk.
void MakeFolder() {
  const char* tmp = getenv("TMPDIR");
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : tmp && *tmp ? tmp : "/tmp";
  std::string name = base + "/fix-fuzzer-XXXXXX";
  if (!mkdtemp(&name[0])) {
    std::perror("fix_fuzzer: mkdtemp");
    abort();
  }
  folder = name;
  path = folder + "/input.mp3";
  atexit(RemoveFolder);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fix_fuzzer: %s\n", what);
  abort();
}

std::string ReadBack() {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("the input file is gone");
  char buffer[65536];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, got);
  close(fd);
  return bytes;
}

// The folder holds the input file and nothing else.
void CheckNothingBeside() {
  DIR* dir = opendir(folder.c_str());
  if (!dir) Fail("the folder is gone");
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..")) ++count;
  }
  closedir(dir);
  if (count != 1) Fail("a file was left beside the input");
}

unsigned CheckedFix() {
  FileOutcome outcome;
  const unsigned message = FixFile(path, 1251, &outcome);
  if (outcome.path != path) Fail("the outcome names another path");
  switch (message) {
    case WM_FIX_SUCCEEDED:
    case WM_FIX_NOT_NEEDED:
      if (!outcome.issue.empty()) Fail("an issue on an outcome that is not a failure");
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
  if (folder.empty()) MakeFolder();
  const std::string input(reinterpret_cast<const char*>(data), size);
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, input.data(), input.size()) != ssize_t(input.size())) {
      Fail("cannot write the input file");
    }
    close(fd);
  }

  const unsigned message = CheckedFix();
  CheckNothingBeside();
  if (message != WM_FIX_SUCCEEDED) {
    if (ReadBack() != input) Fail("a file that was not repaired changed");
    return 0;
  }
  // The repair is complete: a second pass finds nothing and writes nothing.
  const std::string repaired = ReadBack();
  const unsigned again = CheckedFix();
  CheckNothingBeside();
  if (again == WM_FIX_SUCCEEDED) Fail("a repaired file was repaired again");
  if (ReadBack() != repaired) Fail("a second pass changed the repaired file");
  return 0;
}
