// Runs a program as a test's child process and captures what it printed.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProgramResult {
  int status = -1;  // the exit status, -1 when it did not exit by itself
  std::string out, err;
};

// Runs `argv` (argv[0] is the program's path); `prepare` runs in the child
// just before the program starts (environment, limits).
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::function<void()>& prepare = nullptr);
