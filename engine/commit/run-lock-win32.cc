// Run locks on Windows: a folder cannot carry a byte-range lock, so each
// locked path has a lock file of its own in the temporary folder, named by
// a hash of the path in upper case (names differ only in case there), and
// holds a shared or exclusive LockFileEx lock on it, which ends with the
// handle or the process.
#include <windows.h>

#include <string>

#include "engine/platform/hash.h"
#include "engine/commit/run-lock.h"

struct PathLock {
  HANDLE file = INVALID_HANDLE_VALUE;
};

namespace {

std::wstring LockFileFor(const PathString& path) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH)
    return std::wstring();
  std::wstring folder = std::wstring(temp, length) + L"songwright-locks";
  CreateDirectoryW(folder.c_str(), nullptr);  // there already, most times
  std::wstring upper = path;
  if (!upper.empty())
    CharUpperBuffW(&upper[0], DWORD(upper.size()));
  wchar_t name[32] = {};
  swprintf(name, 32, L"\\%016llx.lock", static_cast<unsigned long long>(Fnv1a64(upper.data(), upper.size() * sizeof(wchar_t))));
  return folder + name;
}

}  // namespace

PathLockResult TakePathLock(const PathString& path, bool exclusive, PathLock** lock) {
  const std::wstring name = LockFileFor(path);
  if (name.empty())
    return PathLockResult::kUnavailable;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return PathLockResult::kUnavailable;
  OVERLAPPED at = {};
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (!LockFileEx(file, flags, 0, 1, 0, &at)) {
    const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return busy ? PathLockResult::kBusy : PathLockResult::kUnavailable;
  }
  *lock = new PathLock{file};
  return PathLockResult::kLocked;
}

void ReleasePathLock(PathLock* lock) {
  if (!lock)
    return;
  CloseHandle(lock->file);  // the lock goes with the handle
  delete lock;
}
