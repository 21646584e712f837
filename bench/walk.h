// The floors' walk of a library: every entry below a folder that is not a
// folder, found by readdir as a tool that knows its file names would.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

// Calls visit(relative path, entry) for each entry below root + relative
// that is not a folder (symbolic links to nothing included), folders first
// in readdir's order. Relative paths start with "/".
template <typename Visit>
void WalkLibrary(const std::string& root, const std::string& relative, Visit& visit) {
  DIR* dir = opendir((root + relative).c_str());
  if (!dir)
    return;
  while (const dirent* entry = readdir(dir)) {
    if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, ".."))
      continue;
    const std::string path = relative + "/" + entry->d_name;
    bool isDirectory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      isDirectory = lstat((root + path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (isDirectory)
      WalkLibrary(root, path, visit);
    else
      visit(path, *entry);
  }
  closedir(dir);
}
