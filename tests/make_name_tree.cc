// Writes the legacy name tree of the rename tests below a folder, so that
// --rename can be tried on it by hand:
//   build/tests/make_name_tree /tmp/names && build/songwright --rename /tmp/names
#include <cstdio>
#include <filesystem>

#include "tests/name_tree.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_name_tree FOLDER\n");
    return 2;
  }
  std::filesystem::create_directories(argv[1]);
  const name_tree::NameTree tree = name_tree::WriteNameTree(argv[1]);
  std::printf("%zu entries written\n", tree.original.size());
  return 0;
}
