// A tree of files and folders named as legacy writers left them (code-page
// bytes of several pages, UTF-8 encoded twice, right names beside them,
// collisions and a name too long once repaired), with the names each entry
// should have after --rename and the contents that tell the files apart.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace name_tree {

// Relative paths (bytes, '/' between steps) of every entry, folders with a
// final '/', mapped to what each file holds (empty for a folder).
using Tree = std::map<std::string, std::string>;

struct NameTree {
  Tree original;  // as written
  Tree repaired;  // as a --rename run should leave it
};

// Writes the tree below `root` (which must exist) and returns it.
NameTree WriteNameTree(const std::filesystem::path& root);

// The entries below `root` as they are now.
Tree ReadTree(const std::filesystem::path& root);

// How many entries of `expected` are in `now` as they should be.
std::size_t EntriesRight(const Tree& expected, const Tree& now);

}  // namespace name_tree
