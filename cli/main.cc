// The program's entry point: the arguments in the platform's native form.
#include <vector>

#include "cli/console.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  std::vector<PathString> arguments(argv + 1, argv + argc);
  return RunSongwright(arguments);
}
