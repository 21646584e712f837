// Runs the built command line as a user does, for the command-line tests.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/fixtures.h"
#include "tests/run_program.h"

namespace cli_run {

// Runs build/songwright with `arguments`; `environment` entries replace the
// inherited ones (an empty value removes the variable).
inline ProgramResult RunCli(const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment = {},
                            const std::filesystem::path& workingFolder = std::filesystem::path()) {
  std::vector<std::string> argv = {SONGWRIGHT_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunProgram(argv, [&environment, &workingFolder] {
    if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0)
      _exit(126);
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
      unsetenv(name);
    for (const auto& [name, value] : environment) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
  });
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return lines;
}

// How many times `word` stands in `text`, overlapping ones too.
inline std::size_t Count(const std::string& text, const std::string& word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
    ++count;
  return count;
}

inline std::string Needing(const char* bytes = "\xC0\xE1\xE2") {
  return fixtures::Id3v2Tag({fixtures::TextFrame("TIT2", bytes)}) + fixtures::MpegFrames(4);
}

}  // namespace cli_run
