// A DiskInterface over the platform's own that counts the operations that
// change files and stops a run at the one chosen by count, as a crash there
// would: from then on nothing reaches the disk.
//
//  - kKill: what was written stays, as after a killed process; a write cut
//    off by the crash leaves its first half.
//  - kPowerLoss: writes not yet flushed are lost, and so are creations and
//    removals of files whose folder was not flushed since.
//  - kTornPowerLoss: as kPowerLoss, but of each unflushed write every other
//    512-byte sector reached the disk.
// Flushes are modelled, not made: the real disk is never flushed through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/platform/platform.h"

enum class CrashMode { kKill, kPowerLoss, kTornPowerLoss };

// A lock that its holder may take again, for a disk used by a run's threads
// at once (the Windows toolchain here has no std::recursive_mutex).
class ReentrantLock {
 public:
  ReentrantLock();
  ~ReentrantLock();
  ReentrantLock(const ReentrantLock&) = delete;
  ReentrantLock& operator=(const ReentrantLock&) = delete;
  void lock();
  void unlock();

 private:
  void* native_;
};

// What the disk offers beyond plain writes, so that each write path can be
// walked whatever file system the tests run on: opening and closing ranges
// in a file (done by moving bytes where the real file system cannot; a crash
// sees it whole or not at all), and one flush for a whole file system.
struct DiskFeatures {
  bool insertRange = true;
  bool fileSystemFlush = true;
};

const char* CrashModeName(CrashMode mode);

class CrashDisk final : public DiskInterface {
 public:
  // `crashAt` 0 never crashes, and only counts.
  explicit CrashDisk(std::uint64_t crashAt = 0, CrashMode mode = CrashMode::kKill,
                     DiskFeatures features = DiskFeatures());
  ~CrashDisk() override;

  // Changing operations seen so far, the one that crashed included.
  std::uint64_t operations() const { return operations_; }
  bool crashed() const { return crashed_; }

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
  // Listing changes nothing: passed through uncounted.
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override;
  bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) override;
  void CloseListing(DirectoryListing* listing) override;
  bool InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override;
  bool CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override;
  bool FlushFileSystem(NativeFile* file) override;
  bool Rename(const PathString& target, const PathString& replacement) override;
  // Counted; a folder once created survives a crash in every mode (the run
  // journal flushes the folder that holds its own before it writes there).
  bool CreateFolder(const PathString& folder) override;
  // Counted; lost with a power loss until its folder is flushed.
  bool RenameNoReplace(const PathString& from, const PathString& to) override;
  // Asking changes nothing: passed through uncounted.
  bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) override;
  bool FileSize(NativeFile* file, std::uint64_t* size) override;
  bool IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) override;
  bool SeveralLinks(NativeFile* file) override;
  PathString ResolveLinks(const PathString& path) override;
  std::wstring NotAFile(const PathString& path) override;
  PathString WorkingFolder() override;
  // Counted: it changes the copy's owner and permissions. A crash there
  // leaves a copy that must not take the original's place.
  bool CopySecurity(NativeFile* original, NativeFile* copy) override;
  // Locks change no file: seen, not counted.
  bool TryLock(NativeFile* file) override;
  PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) override;
  void UnlockPath(PathLock* lock) override;

  // Flushes of a whole file system and of single files seen so far.
  std::uint64_t fileSystemFlushes() const { return fileSystemFlushes_; }
  std::uint64_t fileFlushes() const { return fileFlushes_; }
  std::uint64_t inserts() const { return inserts_; }
  // Security copies (counted among the operations) and locks taken so far.
  std::uint64_t securityCopies() const { return securityCopies_; }
  std::uint64_t locks() const { return locks_; }

  // Sets `*stop` when the `count`-th song (a path ending in ".mp3") is
  // opened for the first time, as a user's Ctrl-C at that moment would.
  void StopAtSongOpen(std::size_t count, std::atomic<bool>* stop) {
    stopAtSongOpen_ = count;
    stop_ = stop;
  }
  // The songs opened so far, each once.
  std::set<PathString> songsOpened() const { return songsOpened_; }

 private:
  // What a power loss would take back: unflushed bytes of a file, or a
  // creation or removal in a folder not flushed since.
  struct Pending {
    // kInserted, kCollapsed: `count` bytes at `offset` of the file;
    // kRenamed: `path` took the place of `from` (oldBytes: what `path` held).
    enum Kind { kData, kCreated, kRemoved, kInserted, kCollapsed, kRenamed } kind = kData;
    PathString path;
    PathString from;
    bool existed = false;
    std::uint64_t count = 0;
    std::uint64_t device = 0, index = 0;  // kData: the file
    std::uint64_t offset = 0;
    std::string oldBytes;  // kData: what the write covered; kRemoved: the file
    std::uint64_t oldSize = 0;
  };

  // Counts a changing operation; false once the run has crashed.
  bool Proceed();
  void LoseUnflushed();
  void RememberOldBytes(NativeFile* file, std::uint64_t offset, std::uint64_t count);

  bool SameFile(const Pending& pending, NativeFile* file) const;
  bool ShiftRange(Pending::Kind kind, NativeFile* file, std::uint64_t offset, std::uint64_t count);
  void MakeFolderDurable(const PathString& key);

  std::size_t stopAtSongOpen_ = 0;
  std::atomic<bool>* stop_ = nullptr;
  std::set<PathString> songsOpened_;
  std::uint64_t crashAt_;
  CrashMode mode_;
  DiskFeatures features_;
  std::uint64_t fileSystemFlushes_ = 0;
  std::uint64_t fileFlushes_ = 0;
  std::uint64_t inserts_ = 0;
  std::uint64_t securityCopies_ = 0;
  std::uint64_t locks_ = 0;
  std::uint64_t operations_ = 0;
  bool crashed_ = false;
  // A run may read on one thread while it writes on another.
  ReentrantLock mutex_;
  std::map<NativeFile*, PathString> paths_;
  std::vector<Pending> pending_;
};

// Puts a disk in use for the life of the object.
class DiskInUse {
 public:
  explicit DiskInUse(DiskInterface* disk) { UseDiskInterface(disk); }
  ~DiskInUse() { UseDiskInterface(nullptr); }
  DiskInUse(const DiskInUse&) = delete;
  DiskInUse& operator=(const DiskInUse&) = delete;
};
