// Paths and failures on POSIX: the file a link names, the current folder, and why the last system call failed, in words.
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "engine/platform/disk-posix.h"

PathString PosixDisk::ResolveLinks(const PathString& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
    return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved)
    return path;
  PathString target(resolved);
  free(resolved);
  return target;
}

std::wstring PosixDisk::NotAFile(const PathString& path) {
  struct stat entry, target;
  if (lstat(path.c_str(), &entry) != 0)
    return std::wstring();
  if (stat(path.c_str(), &target) != 0)
    return S_ISLNK(entry.st_mode) ? L"a symbolic link to nothing (its target is missing)"
                                  : std::wstring();
  if (S_ISFIFO(target.st_mode))
    return L"a named pipe, not a file";
  if (S_ISSOCK(target.st_mode))
    return L"a socket, not a file";
  return std::wstring();
}

PathString PosixDisk::WorkingFolder() {
  char* current = getcwd(nullptr, 0);
  if (!current)
    return PathString();
  PathString folder(current);
  free(current);
  return folder;
}

void ResetSystemError() {
  errno = 0;
}

std::wstring SystemErrorReason() {
  const int code = errno;
  switch (code) {
    case 0:
      return std::wstring();
    case EACCES:
    case EPERM:
      return L"permission denied";
    case EROFS:
      return L"read-only file system";
    case ENOSPC:
      return L"no space left on the device";
    case EDQUOT:
      return L"disk quota exceeded";
    case ENOENT:
      return L"no such file or folder";
    case EFBIG:
      return L"file too large";
    case EIO:
      return L"input/output error";
    case ETXTBSY:
    case EBUSY:
      return L"in use";
    default:
      break;
  }
  const char* text = std::strerror(code);
  std::wstring reason;
  for (const char* c = text; *c; ++c)
    reason.push_back(wchar_t(static_cast<unsigned char>(*c)));
  return reason;
}
