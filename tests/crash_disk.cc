#include "tests/crash_disk.h"
#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
ReentrantLock::ReentrantLock() : native_(new CRITICAL_SECTION) {
  InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(native_));
}
ReentrantLock::~ReentrantLock() {
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(native_));
  delete static_cast<CRITICAL_SECTION*>(native_);
}
void ReentrantLock::lock() {
  EnterCriticalSection(static_cast<CRITICAL_SECTION*>(native_));
}
void ReentrantLock::unlock() {
  LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(native_));
}
#else
#include <mutex>
ReentrantLock::ReentrantLock() : native_(new std::recursive_mutex) {}
ReentrantLock::~ReentrantLock() {
  delete static_cast<std::recursive_mutex*>(native_);
}
void ReentrantLock::lock() {
  static_cast<std::recursive_mutex*>(native_)->lock();
}
void ReentrantLock::unlock() {
  static_cast<std::recursive_mutex*>(native_)->unlock();
}
#endif

namespace {

// Holds a lock for a scope.
class Hold {
 public:
  explicit Hold(ReentrantLock* lock) : lock_(lock) { lock_->lock(); }
  ~Hold() { lock_->unlock(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  ReentrantLock* lock_;
};

}  // namespace

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kSector = 512;

DiskInterface& Real() {
  return PlatformDisk();
}

// The folder a flush of `folder`, or the creation of `path` in it, concerns.
PathString FolderKey(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  if (!normal.has_filename())
    normal = normal.parent_path();
  return normal.native();
}

PathString FolderOf(const PathString& path) {
  return FolderKey(fs::path(path).parent_path());
}

bool ReadAll(const PathString& path, std::string* out) {
  NativeFile* file = Real().OpenExisting(path, false);
  std::uint64_t size = 0;
  bool ok = file && Real().FileSize(file, &size);
  if (ok) {
    out->assign(std::size_t(size), '\0');
    ok = size == 0 || Real().Read(file, 0, &(*out)[0], out->size());
  }
  if (file)
    Real().Close(file);
  return ok;
}

// The real file system's insert and collapse, or the same done by moving the
// bytes where it has neither.
bool RealInsert(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  if (Real().InsertRange(file, offset, count))
    return true;
  std::uint64_t size = 0;
  if (!Real().FileSize(file, &size) || offset > size)
    return false;
  std::string tail(std::size_t(size - offset), '\0');
  const std::string zeros(std::size_t(count), '\0');
  return (tail.empty() || Real().Read(file, offset, &tail[0], tail.size())) &&
         Real().Write(file, offset + count, tail.data(), tail.size()) &&
         Real().Write(file, offset, zeros.data(), zeros.size());
}

bool RealCollapse(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  if (Real().CollapseRange(file, offset, count))
    return true;
  std::uint64_t size = 0;
  if (!Real().FileSize(file, &size) || offset + count > size)
    return false;
  std::string tail(std::size_t(size - offset - count), '\0');
  return (tail.empty() || Real().Read(file, offset + count, &tail[0], tail.size())) &&
         Real().Write(file, offset, tail.data(), tail.size()) &&
         Real().Truncate(file, size - count);
}

}  // namespace

const char* CrashModeName(CrashMode mode) {
  switch (mode) {
    case CrashMode::kKill:
      return "kill";
    case CrashMode::kPowerLoss:
      return "power loss";
    case CrashMode::kTornPowerLoss:
      return "torn power loss";
  }
  return "?";
}

CrashDisk::CrashDisk(std::uint64_t crashAt, CrashMode mode, DiskFeatures features)
    : crashAt_(crashAt), mode_(mode), features_(features) {}

bool CrashDisk::SameFile(const Pending& pending, NativeFile* file) const {
  std::uint64_t device = 0, index = 0;
  return Real().IdentifyOpen(file, &device, &index) && device == pending.device && index == pending.index;
}

CrashDisk::~CrashDisk() {
  for (const auto& [file, path] : paths_)
    Real().Close(file);
}

bool CrashDisk::Proceed() {
  if (crashed_)
    return false;
  ++operations_;
  if (operations_ != crashAt_)
    return true;
  crashed_ = true;
  if (mode_ != CrashMode::kKill)
    LoseUnflushed();
  return false;
}

void CrashDisk::RememberOldBytes(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  if (mode_ == CrashMode::kKill)
    return;
  Pending pending;
  pending.kind = Pending::kData;
  pending.path = paths_[file];
  pending.offset = offset;
  if (!Real().IdentifyOpen(file, &pending.device, &pending.index) || !Real().FileSize(file, &pending.oldSize))
    return;
  const std::uint64_t end = std::min(offset + count, pending.oldSize);
  if (end > offset) {
    pending.oldBytes.assign(std::size_t(end - offset), '\0');
    Real().Read(file, offset, &pending.oldBytes[0], pending.oldBytes.size());
  }
  pending_.push_back(std::move(pending));
}

void CrashDisk::LoseUnflushed() {
  // Newest first, so that each step finds the disk as it was when it was
  // recorded.
  for (auto pending = pending_.rbegin(); pending != pending_.rend(); ++pending) {
    switch (pending->kind) {
      case Pending::kCreated:
        Real().Remove(pending->path);
        break;
      case Pending::kRemoved:
        if (NativeFile* file = Real().CreateNew(pending->path)) {
          Real().Write(file, 0, pending->oldBytes.data(), pending->oldBytes.size());
          Real().Close(file);
        }
        break;
      case Pending::kRenamed: {
        std::error_code error;
        fs::rename(pending->path, pending->from, error);
        if (pending->existed) {
          if (NativeFile* file = Real().CreateNew(pending->path)) {
            Real().Write(file, 0, pending->oldBytes.data(), pending->oldBytes.size());
            Real().Close(file);
          }
        }
        break;
      }
      case Pending::kInserted:
      case Pending::kCollapsed:
        if (NativeFile* file = Real().OpenExisting(pending->path, true)) {
          if (SameFile(*pending, file)) {
            if (pending->kind == Pending::kInserted) {
              RealCollapse(file, pending->offset, pending->count);
            } else if (RealInsert(file, pending->offset, pending->count)) {
              Real().Write(file, pending->offset, pending->oldBytes.data(),
                           pending->oldBytes.size());
            }
          }
          Real().Close(file);
        }
        break;
      case Pending::kData:
        if (NativeFile* file = Real().OpenExisting(pending->path, true)) {
          std::uint64_t device = 0, index = 0;
          if (Real().IdentifyOpen(file, &device, &index) && device == pending->device &&
              index == pending->index) {
            for (std::uint64_t at = 0; at < pending->oldBytes.size(); at += kSector) {
              // A torn write reached every other sector of the disk.
              if (mode_ == CrashMode::kTornPowerLoss && ((pending->offset + at) / kSector) % 2)
                continue;
              const std::uint64_t count =
                  std::min<std::uint64_t>(kSector, pending->oldBytes.size() - at);
              Real().Write(file, pending->offset + at, pending->oldBytes.data() + at,
                           std::size_t(count));
            }
            Real().Truncate(file, pending->oldSize);
          }
          Real().Close(file);
        }
        break;
    }
  }
  pending_.clear();
}

NativeFile* CrashDisk::OpenExisting(const PathString& path, bool forWriting) {
  const Hold hold(&mutex_);
  if (crashed_)
    return nullptr;
  const std::size_t suffix = path.size() < 4 ? 0 : path.size() - 4;
  if (stop_ && path.compare(suffix, PathString::npos, PathString{'.', 'm', 'p', '3'}) == 0 &&
      songsOpened_.insert(path).second && songsOpened_.size() == stopAtSongOpen_)
    stop_->store(true);
  NativeFile* file = Real().OpenExisting(path, forWriting);
  if (file)
    paths_[file] = path;
  return file;
}

NativeFile* CrashDisk::CreateNew(const PathString& path) {
  const Hold hold(&mutex_);
  if (!Proceed())
    return nullptr;
  NativeFile* file = Real().CreateNew(path);
  if (file) {
    paths_[file] = path;
    if (mode_ != CrashMode::kKill) {
      Pending created;
      created.kind = Pending::kCreated;
      created.path = path;
      pending_.push_back(std::move(created));
    }
  }
  return file;
}

void CrashDisk::Close(NativeFile* file) {
  const Hold hold(&mutex_);
  paths_.erase(file);
  Real().Close(file);
}

bool CrashDisk::Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
  const Hold hold(&mutex_);
  return !crashed_ && Real().Read(file, offset, buffer, count);
}

bool CrashDisk::Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) {
  const Hold hold(&mutex_);
  RememberOldBytes(file, offset, count);
  if (!Proceed()) {
    // A killed process may have written part of what it was writing.
    if (crashed_ && operations_ == crashAt_ && mode_ == CrashMode::kKill && count > 1)
      Real().Write(file, offset, data, count / 2);
    return false;
  }
  return Real().Write(file, offset, data, count);
}

bool CrashDisk::CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                          std::uint64_t toOffset, std::uint64_t count) {
  const Hold hold(&mutex_);
  RememberOldBytes(to, toOffset, count);
  if (!Proceed()) {
    if (crashed_ && operations_ == crashAt_ && mode_ == CrashMode::kKill && count > 1)
      Real().CopyRange(from, fromOffset, to, toOffset, count / 2);
    return false;
  }
  return Real().CopyRange(from, fromOffset, to, toOffset, count);
}

bool CrashDisk::Truncate(NativeFile* file, std::uint64_t size) {
  const Hold hold(&mutex_);
  std::uint64_t oldSize = 0;
  if (mode_ != CrashMode::kKill && Real().FileSize(file, &oldSize) && size < oldSize) {
    RememberOldBytes(file, size, oldSize - size);
  } else {
    RememberOldBytes(file, size, 0);
  }
  return Proceed() && Real().Truncate(file, size);
}

bool CrashDisk::Flush(NativeFile* file) {
  const Hold hold(&mutex_);
  if (!Proceed())
    return false;
  ++fileFlushes_;
  std::uint64_t device = 0, index = 0;
  if (Real().IdentifyOpen(file, &device, &index)) {
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [&](const Pending& p) {
                                    return (p.kind == Pending::kData ||
                                            p.kind == Pending::kInserted ||
                                            p.kind == Pending::kCollapsed) &&
                                           p.device == device && p.index == index;
                                  }),
                   pending_.end());
  }
  // The model decides what survives a power loss; the real disk need not
  // be flushed for that, which spares the tests most of their time.
  return true;
}

bool CrashDisk::Replace(const PathString& target, const PathString& replacement) {
  const Hold hold(&mutex_);
  if (!Proceed())
    return false;
  // A rename without the platform's flush of the folder, which the model
  // stands in for: what was created or removed there is durable now, and
  // the replacement's unflushed bytes (if any) live under the target's name.
  std::error_code error;
  fs::rename(replacement, target, error);
  if (error)
    return false;
  const PathString folder = FolderOf(target);
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [&](const Pending& p) {
                                  return (p.kind == Pending::kCreated ||
                                          p.kind == Pending::kRemoved ||
                                          p.kind == Pending::kRenamed) &&
                                         FolderOf(p.path) == folder;
                                }),
                 pending_.end());
  for (Pending& pending : pending_) {
    if (pending.path == replacement)
      pending.path = target;
  }
  return true;
}

bool CrashDisk::Remove(const PathString& path) {
  const Hold hold(&mutex_);
  Pending removed;
  removed.kind = Pending::kRemoved;
  removed.path = path;
  const bool existed = mode_ != CrashMode::kKill && ReadAll(path, &removed.oldBytes);
  if (!Proceed())
    return false;
  const bool ok = Real().Remove(path);
  if (ok && existed)
    pending_.push_back(std::move(removed));
  return ok;
}

void CrashDisk::MakeFolderDurable(const PathString& key) {
  // A rename made durable: unflushed bytes of the renamed file live under
  // its new name from now on.
  for (const Pending& renamed : pending_) {
    if (renamed.kind != Pending::kRenamed || FolderOf(renamed.path) != key)
      continue;
    for (Pending& data : pending_) {
      if (data.kind != Pending::kRenamed && data.path == renamed.from)
        data.path = renamed.path;
    }
  }
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                [&](const Pending& p) {
                                  return (p.kind == Pending::kCreated ||
                                          p.kind == Pending::kRemoved ||
                                          p.kind == Pending::kRenamed) &&
                                         FolderOf(p.path) == key;
                                }),
                 pending_.end());
}

bool CrashDisk::Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) {
  const Hold hold(&mutex_);
  return !crashed_ && Real().Identify(path, device, index);
}

DirectoryListing* CrashDisk::OpenListing(const PathString& folder, FolderIdentity* identity) {
  return Real().OpenListing(folder, identity);
}

bool CrashDisk::NextEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  return Real().NextEntry(listing, entry);
}

void CrashDisk::CloseListing(DirectoryListing* listing) {
  Real().CloseListing(listing);
}

void CrashDisk::FlushFolder(const PathString& folder) {
  const Hold hold(&mutex_);
  if (!Proceed())
    return;
  MakeFolderDurable(FolderKey(fs::path(folder)));
}

bool CrashDisk::InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  return ShiftRange(Pending::kInserted, file, offset, count);
}

bool CrashDisk::CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
  return ShiftRange(Pending::kCollapsed, file, offset, count);
}

// Opens (kInserted) or closes (kCollapsed) `count` bytes at `offset`; until
// flushed, a power loss takes it back (a collapse keeps the bytes it cut).
bool CrashDisk::ShiftRange(Pending::Kind kind, NativeFile* file, std::uint64_t offset,
                           std::uint64_t count) {
  const Hold hold(&mutex_);
  if (!features_.insertRange || crashed_)
    return false;
  Pending shifted;
  shifted.kind = kind;
  shifted.path = paths_[file];
  shifted.offset = offset;
  shifted.count = count;
  if (!Real().IdentifyOpen(file, &shifted.device, &shifted.index))
    return false;
  if (kind == Pending::kCollapsed) {
    shifted.oldBytes.assign(std::size_t(count), '\0');
    if (!Real().Read(file, offset, &shifted.oldBytes[0], shifted.oldBytes.size()))
      return false;
  }
  if (!Proceed())
    return false;
  if (kind == Pending::kInserted) {
    if (!RealInsert(file, offset, count))
      return false;
    ++inserts_;
  } else if (!RealCollapse(file, offset, count)) {
    return false;
  }
  if (mode_ != CrashMode::kKill)
    pending_.push_back(std::move(shifted));
  return true;
}

bool CrashDisk::FlushFileSystem(NativeFile*) {
  const Hold hold(&mutex_);
  if (!features_.fileSystemFlush || crashed_)
    return false;
  if (!Proceed())
    return false;
  ++fileSystemFlushes_;
  // Everything written, created, removed or renamed is durable now.
  pending_.clear();
  return true;
}

bool CrashDisk::Rename(const PathString& target, const PathString& replacement) {
  const Hold hold(&mutex_);
  Pending renamed;
  renamed.kind = Pending::kRenamed;
  renamed.path = target;
  renamed.from = replacement;
  renamed.existed = mode_ != CrashMode::kKill && ReadAll(target, &renamed.oldBytes);
  if (!Proceed())
    return false;
  std::error_code error;
  fs::rename(replacement, target, error);
  if (error)
    return false;
  if (mode_ != CrashMode::kKill)
    pending_.push_back(std::move(renamed));
  return true;
}

bool CrashDisk::RenameNoReplace(const PathString& from, const PathString& to) {
  const Hold hold(&mutex_);
  if (!Proceed() || !Real().RenameNoReplace(from, to))
    return false;
  if (mode_ != CrashMode::kKill) {
    Pending renamed;
    renamed.kind = Pending::kRenamed;
    renamed.path = to;
    renamed.from = from;
    pending_.push_back(std::move(renamed));
  }
  return true;
}

bool CrashDisk::CreateFolder(const PathString& folder) {
  const Hold hold(&mutex_);
  return Proceed() && Real().CreateFolder(folder);
}

bool CrashDisk::FileSize(NativeFile* file, std::uint64_t* size) {
  return Real().FileSize(file, size);
}

bool CrashDisk::IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) {
  return Real().IdentifyOpen(file, device, index);
}

bool CrashDisk::SeveralLinks(NativeFile* file) {
  return Real().SeveralLinks(file);
}

PathString CrashDisk::ResolveLinks(const PathString& path) {
  return Real().ResolveLinks(path);
}

std::wstring CrashDisk::NotAFile(const PathString& path) {
  return Real().NotAFile(path);
}

PathString CrashDisk::WorkingFolder() {
  return Real().WorkingFolder();
}

bool CrashDisk::CopySecurity(NativeFile* original, NativeFile* copy) {
  const Hold hold(&mutex_);
  if (!Proceed())
    return false;
  ++securityCopies_;
  return Real().CopySecurity(original, copy);
}

bool CrashDisk::TryLock(NativeFile* file) {
  const Hold hold(&mutex_);
  ++locks_;
  return Real().TryLock(file);
}

PathLockResult CrashDisk::LockPath(const PathString& path, bool exclusive, PathLock** lock) {
  const Hold hold(&mutex_);
  ++locks_;
  return Real().LockPath(path, exclusive, lock);
}

void CrashDisk::UnlockPath(PathLock* lock) {
  Real().UnlockPath(lock);
}
