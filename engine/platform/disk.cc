// The file operations the engine uses, routed through the DiskInterface in
// use, so that tests can put their own in the platform's place.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/platform/disk.h"
#include "engine/platform/path.h"

namespace {

std::atomic<DiskInterface*> diskInUse{nullptr};

DiskInterface& Disk() {
  DiskInterface* disk = diskInUse.load(std::memory_order_acquire);
  return disk ? *disk : PlatformDisk();
}

}  // namespace

namespace {

// The reason of the last failure this thread noted.
thread_local std::wstring lastFailure;

// Notes the system's reason when `result` says the operation failed.
template <typename Result>
Result Noted(Result result) {
  if (!result) {
    const std::wstring reason = SystemErrorReason();
    if (!reason.empty())
      lastFailure = reason;
  }
  return result;
}

}  // namespace

std::wstring LastDiskFailure() {
  return lastFailure;
}

void ClearDiskFailure() {
  lastFailure.clear();
}

void NoteFailedStep(const std::wstring& what) {
  lastFailure = lastFailure.empty() ? what : what + L": " + lastFailure;
}

void UseDiskInterface(DiskInterface* disk) {
  diskInUse.store(disk, std::memory_order_release);
}

NativeFile* OpenExistingFile(const PathString& path, bool forWriting) {
  ResetSystemError();
  return Noted(Disk().OpenExisting(path, forWriting));
}

NativeFile* CreateNewFile(const PathString& path) {
  ResetSystemError();
  return Noted(Disk().CreateNew(path));
}

void CloseNativeFile(NativeFile* file) {
  if (file)
    Disk().Close(file);
}

bool ReadFileAt(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
  return Disk().Read(file, offset, buffer, count);
}

bool WriteFileAt(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) {
  ResetSystemError();
  return Noted(Disk().Write(file, offset, data, count));
}

bool CopyFileRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                   std::uint64_t toOffset, std::uint64_t count) {
  ResetSystemError();
  return Noted(Disk().CopyRange(from, fromOffset, to, toOffset, count));
}

bool TruncateNativeFile(NativeFile* file, std::uint64_t size) {
  ResetSystemError();
  return Noted(Disk().Truncate(file, size));
}

bool FlushNativeFile(NativeFile* file) {
  ResetSystemError();
  return Noted(Disk().Flush(file));
}

bool ReplaceFileAtomically(const PathString& target, const PathString& replacement) {
  ResetSystemError();
  return Noted(Disk().Replace(target, replacement));
}

bool RemoveFileIfPresent(const PathString& path) {
  return Disk().Remove(path);
}

void FlushFolder(const PathString& folder) {
  Disk().FlushFolder(folder);
}

DirectoryListing* OpenDirectoryListing(const PathString& folder, FolderIdentity* identity) {
  ResetSystemError();
  return Noted(Disk().OpenListing(folder, identity));
}

bool NextDirectoryEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  return Disk().NextEntry(listing, entry);
}

void CloseDirectoryListing(DirectoryListing* listing) {
  Disk().CloseListing(listing);
}

bool InsertFileRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  return Disk().InsertRange(file, offset, count);
}

bool CollapseFileRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  return Disk().CollapseRange(file, offset, count);
}

bool IdentifyPath(const PathString& path, std::uint64_t* device, std::uint64_t* index) {
  return Disk().Identify(path, device, index);
}

bool MayInsertFileRange(NativeFile* file) {
  return Disk().MayInsertRange(file);
}

bool FlushFileSystemOf(NativeFile* file) {
  return Disk().FlushFileSystem(file);
}

bool RenameOver(const PathString& target, const PathString& replacement) {
  ResetSystemError();
  return Noted(Disk().Rename(target, replacement));
}

bool RenameWithoutReplacing(const PathString& from, const PathString& to) {
  ResetSystemError();
  return Noted(Disk().RenameNoReplace(from, to));
}

bool CreateFolder(const PathString& folder) {
  return Disk().CreateFolder(folder);
}

bool CreateFolders(const PathString& folder) {
  if (CreateFolder(folder))
    return true;
  // The parent first, then this one again; a root or "." has no parent.
  const PathString parent = FolderOf(folder);
  return parent != folder && CreateFolders(parent) && CreateFolder(folder);
}

bool ReadThroughCache(NativeFile* file, std::uint64_t fileSize, BlockCache* cache,
                      std::uint64_t offset, std::size_t count, char* out) {
  constexpr std::uint64_t kBlock = 8 * 1024, kPage = 4096;
  const auto cached = [&] {
    return offset >= cache->offset && offset + count <= cache->offset + cache->bytes.size();
  };
  if (!cached() && count <= kBlock / 2 && offset + count <= fileSize) {
    // The block around the read, as far as the file goes, from a page
    // boundary.
    std::uint64_t start = offset > kBlock / 2 ? offset - kBlock / 2 : 0;
    start -= start % kPage;
    const std::uint64_t end = std::min(fileSize, start + kBlock);
    cache->bytes.resize(std::size_t(end - start));
    cache->offset = start;
    if (!ReadFileAt(file, start, &cache->bytes[0], cache->bytes.size()))
      cache->bytes.clear();
  }
  if (!cached())
    return ReadFileAt(file, offset, out, count);
  std::memcpy(out, cache->bytes.data() + (offset - cache->offset), count);
  return true;
}

bool FileSizeOf(NativeFile* file, std::uint64_t* size) {
  return Disk().FileSize(file, size);
}

bool IdentifyFile(NativeFile* file, std::uint64_t* device, std::uint64_t* index) {
  return Disk().IdentifyOpen(file, device, index);
}

bool HasSeveralLinks(NativeFile* file) {
  return Disk().SeveralLinks(file);
}

bool TryLockFile(NativeFile* file) {
  return Disk().TryLock(file);
}

bool CopyFileSecurity(NativeFile* original, NativeFile* copy) {
  return Disk().CopySecurity(original, copy);
}

PathLockResult TakePathLock(const PathString& path, bool exclusive, PathLock** lock) {
  return Disk().LockPath(path, exclusive, lock);
}

void ReleasePathLock(PathLock* lock) {
  if (lock)
    Disk().UnlockPath(lock);
}

PathString ResolveFileLinks(const PathString& path) {
  return Disk().ResolveLinks(path);
}

std::wstring NotAFileReason(const PathString& path) {
  return Disk().NotAFile(path);
}

PathString CurrentFolder() {
  return Disk().WorkingFolder();
}

bool EntryExists(const PathString& path) {
  FolderIdentity identity;
  DirectoryListing* listing = OpenDirectoryListing(FolderOf(path), &identity);
  if (!listing)
    return false;
  const PathString name = path.substr(NameStartOf(path));
  bool found = false;
  DirectoryEntry entry;
  while (!found && NextDirectoryEntry(listing, &entry))
    found = entry.name == name;
  CloseDirectoryListing(listing);
  return found;
}
