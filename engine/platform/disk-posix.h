// The platform's own disk on POSIX, declared for its four files: the file
// operations and locks (engine/platform/disk-posix.cc), the copy of a range
// (engine/platform/copy-posix.cc), the folder listing (engine/platform/listing-posix.cc) and
// the paths it resolves (engine/platform/disk-paths-posix.cc).
#pragma once

#include "engine/platform/disk.h"

// An open file: its descriptor.
struct NativeFile {
  int fd;
  // Device and inode, taken when the file was opened: an open file never
  // becomes another, so they are asked of the system once.
  bool identified = false;
  std::uint64_t device = 0, index = 0;
};

// The platform's own disk: file descriptors and directory streams.
struct PosixDisk final : DiskInterface {
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
  bool InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override;
  bool CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override;
  bool FlushFileSystem(NativeFile* file) override;
  bool Rename(const PathString& target, const PathString& replacement) override;
  bool CreateFolder(const PathString& folder) override;
  bool RenameNoReplace(const PathString& from, const PathString& to) override;
  bool MayInsertRange(NativeFile* file) override;
  bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) override;
  bool FileSize(NativeFile* file, std::uint64_t* size) override;
  bool IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) override;
  bool SeveralLinks(NativeFile* file) override;
  bool CopySecurity(NativeFile* original, NativeFile* copy) override;
  bool TryLock(NativeFile* file) override;
  PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) override;
  void UnlockPath(PathLock* lock) override;
  // Links, entries that are no files, and the current folder
  // (engine/platform/disk-paths-posix.cc).
  PathString ResolveLinks(const PathString& path) override;
  std::wstring NotAFile(const PathString& path) override;
  PathString WorkingFolder() override;
};

// statfs's f_type of a FUSE mount (exFAT and NTFS drivers among others).
constexpr unsigned long kFuseType = 0x65735546;

// The type (statfs's f_type, as 32 bits) of the file system that holds
// `file`; 0 when it cannot be told.
unsigned long FileSystemType(NativeFile* file);

// True when a syncfs of a file system of `type` (statfs's f_type) makes what
// was written to it durable. It is not where the kernel does not write the
// file system itself: a FUSE driver (exFAT, NTFS) never hears of a syncfs,
// and an SMB client does not ask its server to flush. There syncfs returns 0
// having made nothing durable, so each file is flushed by itself.
bool SyncfsReachesDisk(unsigned long type);

// Copies `count` bytes from `from` to `to` through this thread's buffer,
// 8 MiB a read; each read's bytes are written up to a multiple of 128 KiB of
// `to` first, then the rest from there. With `direct`, the writes go around
// the page cache where the file system takes them so, and through it where
// it does not.
bool CopyThroughBuffer(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                       std::uint64_t toOffset, std::uint64_t count, bool direct);
