// The file operations and folder listings on Windows: FindFirstFileW and
// FindNextFileW, overlapped ReadFile/WriteFile at an offset, ReplaceFileW
// and MoveFileExW, and LockFileEx for locks.
#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>

#include "engine/platform/disk-win32.h"
#include "engine/platform/hash.h"

// --- Directory listing -------------------------------------------------------

struct DirectoryListing {
  HANDLE search;
  WIN32_FIND_DATAW data;
  bool haveEntry;  // FindFirstFileW's entry not yet delivered
};

DirectoryListing* Win32Disk::OpenListing(const PathString& folder, FolderIdentity* identity) {
  // Junction loops end at the path length limit, so folders go unidentified.
  identity->known = false;
  auto listing = std::make_unique<DirectoryListing>();
  const std::wstring pattern = folder + L"\\*";
  listing->search = FindFirstFileW(pattern.c_str(), &listing->data);
  if (listing->search == INVALID_HANDLE_VALUE)
    return nullptr;
  listing->haveEntry = true;
  return listing.release();
}

bool Win32Disk::NextEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  // "." and ".." are not entries of the folder.
  do {
    if (!listing->haveEntry && !FindNextFileW(listing->search, &listing->data))
      return false;
    listing->haveEntry = false;
  } while (std::wcscmp(listing->data.cFileName, L".") == 0 ||
           std::wcscmp(listing->data.cFileName, L"..") == 0);
  entry->name.assign(listing->data.cFileName);
  entry->isDirectory = (listing->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

void Win32Disk::CloseListing(DirectoryListing* listing) {
  FindClose(listing->search);
  delete listing;
}

// --- Files -------------------------------------------------------------------

namespace {

// Others may read, write and rename while a file is open here, as with
// TagLib's own streams.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

NativeFile* Wrap(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? nullptr : new NativeFile{handle};
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = DWORD(offset & 0xFFFFFFFF);
  overlapped.OffsetHigh = DWORD(offset >> 32);
  return overlapped;
}

}  // namespace

DiskInterface& PlatformDisk() {
  static Win32Disk disk;
  return disk;
}

NativeFile* Win32Disk::OpenExisting(const PathString& path, bool forWriting) {
  const DWORD access = GENERIC_READ | (forWriting ? GENERIC_WRITE : 0);
  return Wrap(CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

NativeFile* Win32Disk::CreateNew(const PathString& path) {
  return Wrap(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
}

void Win32Disk::Close(NativeFile* file) {
  if (!file)
    return;
  CloseHandle(file->handle);
  delete file;
}

bool Win32Disk::Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    OVERLAPPED overlapped = At(offset);
    DWORD got = 0;
    const DWORD chunk = DWORD(std::min<std::size_t>(count, 1u << 30));
    if (!ReadFile(file->handle, out, chunk, &got, &overlapped) || got == 0)
      return false;
    out += got, offset += got, count -= got;
  }
  return true;
}

bool Win32Disk::Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) {
  const auto* in = static_cast<const char*>(data);
  while (count > 0) {
    OVERLAPPED overlapped = At(offset);
    DWORD put = 0;
    const DWORD chunk = DWORD(std::min<std::size_t>(count, 1u << 30));
    if (!WriteFile(file->handle, in, chunk, &put, &overlapped) || put == 0)
      return false;
    in += put, offset += put, count -= put;
  }
  return true;
}

bool Win32Disk::CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                          std::uint64_t toOffset, std::uint64_t count) {
  std::string buffer(std::size_t(std::min<std::uint64_t>(count, 1 << 20)), '\0');
  while (count > 0) {
    const std::size_t chunk = std::size_t(std::min<std::uint64_t>(count, buffer.size()));
    if (!Read(from, fromOffset, &buffer[0], chunk) || !Write(to, toOffset, buffer.data(), chunk)) {
      return false;
    }
    fromOffset += chunk, toOffset += chunk, count -= chunk;
  }
  return true;
}

bool Win32Disk::Truncate(NativeFile* file, std::uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = LONGLONG(size);
  return SetFilePointerEx(file->handle, position, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file->handle);
}

bool Win32Disk::FileSize(NativeFile* file, std::uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(file->handle, &value))
    return false;
  *size = std::uint64_t(value.QuadPart);
  return true;
}

bool Win32Disk::Flush(NativeFile* file) {
  return FlushFileBuffers(file->handle) != FALSE;
}

bool Win32Disk::IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file->handle, &info))
    return false;
  *device = info.dwVolumeSerialNumber;
  *index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// One byte far past any real end: locking it blocks no read or write of the
// file's bytes, only other locks of it.
bool Win32Disk::TryLock(NativeFile* file) {
  OVERLAPPED overlapped = {};
  overlapped.OffsetHigh = 0x7FFFFFFF;
  return LockFileEx(file->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &overlapped) != FALSE;
}

bool Win32Disk::SeveralLinks(NativeFile* file) {
  BY_HANDLE_FILE_INFORMATION info;
  return !GetFileInformationByHandle(file->handle, &info) || info.nNumberOfLinks > 1;
}

// ReplaceFileW carries the original's attributes, owner and access lists
// over to the replacement.
bool Win32Disk::CopySecurity(NativeFile*, NativeFile*) {
  return true;
}

bool Win32Disk::Replace(const PathString& target, const PathString& replacement) {
  // The replacement was flushed before; ReplaceFileW keeps what the
  // original had (MoveFileExW would drop its access lists) and leaves the
  // original in place when it fails.
  return ReplaceFileW(target.c_str(), replacement.c_str(), nullptr, 0, nullptr, nullptr) != FALSE;
}

bool Win32Disk::Remove(const PathString& path) {
  return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

void Win32Disk::FlushFolder(const PathString&) {}  // NTFS journals its own metadata

// ReplaceFileW needs a file to replace; without one the replacement only
// moves to the new name.
bool Win32Disk::Rename(const PathString& target, const PathString& replacement) {
  if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES &&
      GetLastError() == ERROR_FILE_NOT_FOUND) {
    return MoveFileExW(replacement.c_str(), target.c_str(), 0) != FALSE;
  }
  return Replace(target, replacement);
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists, file or
// folder alike.
bool Win32Disk::RenameNoReplace(const PathString& from, const PathString& to) {
  return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

// --- Run locks ---------------------------------------------------------------
// A folder cannot carry a byte-range lock, so each locked path has a lock
// file of its own in the temporary folder, named by a hash of the path in
// upper case (names differ only in case there), and holds a shared or
// exclusive LockFileEx lock on it, which ends with the handle or the process.

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
  swprintf(name, 32, L"\\%016llx.lock",
           static_cast<unsigned long long>(Fnv1a64(upper.data(), upper.size() * sizeof(wchar_t))));
  return folder + name;
}

}  // namespace

PathLockResult Win32Disk::LockPath(const PathString& path, bool exclusive, PathLock** lock) {
  const std::wstring name = LockFileFor(path);
  if (name.empty())
    return PathLockResult::kUnavailable;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
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

void Win32Disk::UnlockPath(PathLock* lock) {
  if (!lock)
    return;
  CloseHandle(lock->file);  // the lock goes with the handle
  delete lock;
}

// --- Folders and paths -------------------------------------------------------

bool Win32Disk::CreateFolder(const PathString& folder) {
  if (CreateDirectoryW(folder.c_str(), nullptr))
    return true;
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A handle that asks for no access reads the file's identity without
// opening its content and blocks no one.
bool Win32Disk::Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) {
  const HANDLE handle = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != FALSE &&
                     !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  CloseHandle(handle);
  if (!known)
    return false;
  *device = info.dwVolumeSerialNumber;
  *index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}
