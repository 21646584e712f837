// Paths as text: roots, names, folders and joins.
#include "engine/platform/path.h"

namespace {

// Windows has drives and server shares; '\' is a plain character on POSIX.
constexpr bool kDrives = kPathSeparator == PathChar('\\');

bool IsDriveLetter(PathChar c) {
  return (c >= PathChar('A') && c <= PathChar('Z')) || (c >= PathChar('a') && c <= PathChar('z'));
}

// The end of the step that starts at `from`: the next separator, or the end.
std::size_t StepEnd(const PathString& path, std::size_t from) {
  while (from < path.size() && !IsPathSeparator(path[from]))
    ++from;
  return from;
}

PathChar UpperDrive(PathChar c) {
  return c >= PathChar('a') && c <= PathChar('z') ? PathChar(c - 'a' + 'A') : c;
}

// `path`, relative to nothing but perhaps to a drive, placed under the
// current folder's root or drive as Windows does.
PathString AnchorToCurrent(const PathString& currentFolder, const PathString& path,
                           std::size_t root) {
  if (root == 0)
    return JoinPath(currentFolder, path);
  if (root == 1) {
    // "\Music": the root of the current folder's drive or share.
    PathString base = currentFolder.substr(0, RootLengthOf(currentFolder));
    while (!base.empty() && IsPathSeparator(base.back()))
      base.pop_back();
    return base + path;
  }
  // "D:Music": relative to the current folder when it is on that drive.
  const bool sameDrive = currentFolder.size() >= 2 && currentFolder[1] == PathChar(':') &&
                         UpperDrive(currentFolder[0]) == UpperDrive(path[0]);
  const PathString rest = path.substr(2);
  return sameDrive ? JoinPath(currentFolder, rest) : path.substr(0, 2) + kPathSeparator + rest;
}

}  // namespace

std::size_t RootLengthOf(const PathString& path) {
  if (kDrives && path.size() >= 2 && path[1] == PathChar(':') && IsDriveLetter(path[0]))
    return path.size() > 2 && IsPathSeparator(path[2]) ? 3 : 2;
  if (kDrives && path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    // "\\server\share\": the server and the share are the root.
    const std::size_t server = StepEnd(path, 2);
    if (server == path.size())
      return server;
    const std::size_t share = StepEnd(path, server + 1);
    return share == path.size() ? share : share + 1;
  }
  return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

bool IsAbsolutePath(const PathString& path) {
  const std::size_t root = RootLengthOf(path);
  // On Windows a root without a drive ("\Music") and a drive without a root
  // ("C:Music") still depend on the current folder.
  return root > 0 && !(kDrives && (root == 1 || (root == 2 && path[1] == PathChar(':'))));
}

std::size_t NameStartOf(const PathString& path) {
  const std::size_t root = RootLengthOf(path);
  std::size_t start = path.size();
  while (start > root && !IsPathSeparator(path[start - 1]))
    --start;
  return start;
}

PathString FolderOf(const PathString& path) {
  const std::size_t start = NameStartOf(path);
  if (start == 0)
    return PathString(1, PathChar('.'));
  const std::size_t root = RootLengthOf(path);
  std::size_t end = start;
  while (end > root && IsPathSeparator(path[end - 1]))
    --end;
  return path.substr(0, end);
}

PathString JoinPath(const PathString& folder, const PathString& name) {
  if (folder.empty())
    return name;
  PathString joined = folder;
  if (!IsPathSeparator(joined.back()))
    joined.push_back(kPathSeparator);
  return joined + name;
}

PathString AbsolutePathFrom(const PathString& currentFolder, const PathString& path) {
  if (path.empty())
    return path;
  PathString full = path;
  if (!IsAbsolutePath(path)) {
    if (currentFolder.empty())
      return path;
    full = AnchorToCurrent(currentFolder, path, RootLengthOf(path));
  }
  const std::size_t root = RootLengthOf(full);
  PathString clean = full.substr(0, root);
  for (PathChar& c : clean) {
    if (IsPathSeparator(c))
      c = kPathSeparator;
  }
  for (std::size_t at = root; at < full.size();) {
    const std::size_t end = StepEnd(full, at);
    const PathString step = full.substr(at, end - at);
    if (!step.empty() && step != PATH_TEXT(".")) {
      if (!clean.empty() && !IsPathSeparator(clean.back()))
        clean.push_back(kPathSeparator);
      clean += step;
    }
    at = end + 1;
  }
  return clean;
}
