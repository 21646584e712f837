#include "tests/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/fixtures.h"

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::function<void()>& prepare) {
  fixtures::TempFolder capture;
  const auto out = capture.path() / "out", err = capture.path() / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    if (prepare)
      prepare();
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
      _exit(127);
    std::vector<char*> args;
    for (const std::string& argument : argv)
      args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int wait = 0;
  waitpid(pid, &wait, 0);
  ProgramResult result;
  result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  result.out = fixtures::ReadFile(out);
  result.err = fixtures::ReadFile(err);
  return result;
}
