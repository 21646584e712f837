// A DiskInterface that hands every operation to the platform's own, for
// tests that watch or change only a few: they override those.
#pragma once

#include "engine/platform/disk.h"

class PassThroughDisk : public DiskInterface {
 public:
  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    return Real().OpenExisting(path, forWriting);
  }
  NativeFile* CreateNew(const PathString& path) override { return Real().CreateNew(path); }
  void Close(NativeFile* file) override { Real().Close(file); }
  bool Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) override {
    return Real().Read(file, offset, buffer, count);
  }
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override {
    return Real().Write(file, offset, data, count);
  }
  bool CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to, std::uint64_t toOffset,
                 std::uint64_t count) override {
    return Real().CopyRange(from, fromOffset, to, toOffset, count);
  }
  bool Truncate(NativeFile* file, std::uint64_t size) override {
    return Real().Truncate(file, size);
  }
  bool Flush(NativeFile* file) override { return Real().Flush(file); }
  bool Replace(const PathString& target, const PathString& replacement) override {
    return Real().Replace(target, replacement);
  }
  bool Remove(const PathString& path) override { return Real().Remove(path); }
  void FlushFolder(const PathString& folder) override { Real().FlushFolder(folder); }
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override {
    return Real().OpenListing(folder, identity);
  }
  bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) override {
    return Real().NextEntry(listing, entry);
  }
  void CloseListing(DirectoryListing* listing) override { Real().CloseListing(listing); }
  bool InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override {
    return Real().InsertRange(file, offset, count);
  }
  bool CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override {
    return Real().CollapseRange(file, offset, count);
  }
  bool FlushFileSystem(NativeFile* file) override { return Real().FlushFileSystem(file); }
  bool Rename(const PathString& target, const PathString& replacement) override {
    return Real().Rename(target, replacement);
  }
  bool CreateFolder(const PathString& folder) override { return Real().CreateFolder(folder); }
  bool RenameNoReplace(const PathString& from, const PathString& to) override {
    return Real().RenameNoReplace(from, to);
  }
  bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) override {
    return Real().Identify(path, device, index);
  }
  bool FileSize(NativeFile* file, std::uint64_t* size) override {
    return Real().FileSize(file, size);
  }
  bool IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) override {
    return Real().IdentifyOpen(file, device, index);
  }
  bool SeveralLinks(NativeFile* file) override { return Real().SeveralLinks(file); }
  bool CopySecurity(NativeFile* original, NativeFile* copy) override {
    return Real().CopySecurity(original, copy);
  }
  bool TryLock(NativeFile* file) override { return Real().TryLock(file); }
  PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) override {
    return Real().LockPath(path, exclusive, lock);
  }
  void UnlockPath(PathLock* lock) override { Real().UnlockPath(lock); }
  PathString ResolveLinks(const PathString& path) override { return Real().ResolveLinks(path); }
  std::wstring NotAFile(const PathString& path) override { return Real().NotAFile(path); }
  PathString WorkingFolder() override { return Real().WorkingFolder(); }

 protected:
  static DiskInterface& Real() { return PlatformDisk(); }
};
