// The platform's own disk on Windows, declared for its two files: the file
// operations, folder listings and locks (engine/platform/disk-win32.cc) and the paths
// it resolves (engine/platform/disk-paths-win32.cc).
#pragma once

#include <windows.h>

#include "engine/platform/disk.h"

// An open file: its handle.
struct NativeFile {
  HANDLE handle;
};

// The platform's own disk: handles and FindFirstFileW searches.
struct Win32Disk final : DiskInterface {
  NativeFile* OpenExisting(const PathString& path, bool forWriting) override;
  NativeFile* CreateNew(const PathString& path) override;
  void Close(NativeFile* file) override;
  bool Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) override;
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override;
  bool CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to, std::uint64_t toOffset,
                 std::uint64_t count) override;
  bool Truncate(NativeFile* file, std::uint64_t size) override;
  bool Flush(NativeFile* file) override;
  bool Replace(const PathString& target, const PathString& replacement) override;
  bool Remove(const PathString& path) override;
  void FlushFolder(const PathString& folder) override;
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override;
  bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) override;
  void CloseListing(DirectoryListing* listing) override;
  bool InsertRange(NativeFile*, std::uint64_t, std::uint64_t) override { return false; }
  bool CollapseRange(NativeFile*, std::uint64_t, std::uint64_t) override { return false; }
  // Windows flushes file by file (FlushFileBuffers).
  bool FlushFileSystem(NativeFile*) override { return false; }
  bool Rename(const PathString& target, const PathString& replacement) override;
  bool CreateFolder(const PathString& folder) override;
  bool RenameNoReplace(const PathString& from, const PathString& to) override;
  bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) override;
  bool FileSize(NativeFile* file, std::uint64_t* size) override;
  bool IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) override;
  bool SeveralLinks(NativeFile* file) override;
  // ReplaceFileW carries the security over; nothing to do before it.
  bool CopySecurity(NativeFile* original, NativeFile* copy) override;
  bool TryLock(NativeFile* file) override;
  PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) override;
  void UnlockPath(PathLock* lock) override;
  // Links, entries that are no files, and the current folder
  // (engine/platform/disk-paths-win32.cc).
  PathString ResolveLinks(const PathString& path) override;
  std::wstring NotAFile(const PathString& path) override;
  PathString WorkingFolder() override;
};
