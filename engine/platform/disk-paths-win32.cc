// Paths and failures on Windows: links are followed by the system itself,
// the current folder, and why the last system call failed, in words.
#include <string>

#include "engine/platform/disk-win32.h"

PathString Win32Disk::ResolveLinks(const PathString& path) {
  return path;
}

// Folders hold neither pipes nor sockets here, and a link to nothing fails
// to open with its own reason.
std::wstring Win32Disk::NotAFile(const PathString&) {
  return std::wstring();
}

PathString Win32Disk::WorkingFolder() {
  const DWORD length = GetCurrentDirectoryW(0, nullptr);
  if (length == 0)
    return PathString();
  PathString folder(length, L'\0');
  const DWORD written = GetCurrentDirectoryW(length, &folder[0]);
  if (written == 0 || written >= length)
    return PathString();
  folder.resize(written);
  return folder;
}

void ResetSystemError() {
  SetLastError(ERROR_SUCCESS);
}

std::wstring SystemErrorReason() {
  const DWORD code = GetLastError();
  switch (code) {
    case ERROR_SUCCESS:
      return std::wstring();
    case ERROR_ACCESS_DENIED:
      return L"permission denied";
    case ERROR_WRITE_PROTECT:
      return L"read-only file system";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return L"no space left on the device";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return L"no such file or folder";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return L"in use by another program";
    default:
      return L"system error " + std::to_wstring(code);
  }
}
