// The locks of a run over its paths: each path exclusive, every folder above
// it shared (engine/commit/run-lock.h, RL1 and RL2).
#include "engine/commit/run-lock.h"

#include <algorithm>
#include <map>
#include <memory>

#include "engine/platform/disk.h"
#include "engine/commit/journal.h"
#include "engine/platform/path.h"

struct RunLocks {
  std::vector<PathLock*> held;
};

namespace {

// The path from the root with its last link followed, so that two names of
// one folder lock the same folder.
PathString LockedPath(const PathString& path) {
  return ResolveFileLinks(AbsolutePath(path));
}

// Every folder above `path`, up to the root.
std::vector<PathString> FoldersAbove(const PathString& path) {
  std::vector<PathString> folders;
  PathString at = path;
  while (true) {
    const PathString folder = FolderOf(at);
    if (folder == at || folder.empty() || folder == PATH_TEXT("."))
      break;
    folders.push_back(folder);
    at = folder;
  }
  return folders;
}

}  // namespace

RunLocks* LockRunPaths(const std::vector<PathString>& paths, PathString* busyPath) {
  // Each path once, exclusive wins over shared; taken in path order, so
  // that two runs never each hold what the other waits for (neither waits
  // anyway, RL3).
  std::map<PathString, bool> wanted;
  std::map<PathString, PathString> givenFor;
  for (const PathString& given : paths) {
    const PathString path = LockedPath(given);
    wanted[path] = true;
    givenFor[path] = given;
    for (const PathString& folder : FoldersAbove(path)) {
      wanted.emplace(folder, false);
      givenFor.emplace(folder, given);
    }
  }
  auto locks = std::make_unique<RunLocks>();
  for (const auto& [path, exclusive] : wanted) {
    PathLock* lock = nullptr;
    const PathLockResult result = TakePathLock(path, exclusive, &lock);
    if (result == PathLockResult::kBusy) {
      *busyPath = givenFor[path];
      UnlockRunPaths(locks.release());
      return nullptr;
    }
    if (result == PathLockResult::kLocked)
      locks->held.push_back(lock);
  }
  return locks.release();
}

void UnlockRunPaths(RunLocks* locks) {
  if (!locks)
    return;
  for (PathLock* lock : locks->held)
    ReleasePathLock(lock);
  delete locks;
}
