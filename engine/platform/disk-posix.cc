// The file operations on POSIX: pread/pwrite, fallocate's insert and
// collapse, syncfs, rename, and flock for locks (copies are in
// copy-posix.cc).
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "engine/platform/disk-posix.h"

// --- Files -------------------------------------------------------------------

namespace {

NativeFile* Wrap(int fd) {
  return fd < 0 ? nullptr : new NativeFile{fd};
}

NativeFile* WrapIdentified(int fd, const struct stat& info) {
  NativeFile* file = Wrap(fd);
  file->identified = true;
  file->device = std::uint64_t(info.st_dev);
  file->index = std::uint64_t(info.st_ino);
  return file;
}

}  // namespace

DiskInterface& PlatformDisk() {
  static PosixDisk disk;
  return disk;
}

NativeFile* PosixDisk::OpenExisting(const PathString& path, bool forWriting) {
  // Only regular files: a folder would read as empty, and a named pipe would
  // block the run (O_NONBLOCK does nothing to a regular file).
  const int fd = open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  if (fd < 0)
    return nullptr;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  return WrapIdentified(fd, info);
}

NativeFile* PosixDisk::CreateNew(const PathString& path) {
  return Wrap(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
}

void PosixDisk::Close(NativeFile* file) {
  if (!file)
    return;
  close(file->fd);
  delete file;
}

bool PosixDisk::Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    const ssize_t got = pread(file->fd, out, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    out += got, offset += std::uint64_t(got), count -= std::size_t(got);
  }
  return true;
}

bool PosixDisk::Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) {
  const auto* in = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t put = pwrite(file->fd, in, count, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    in += put, offset += std::uint64_t(put), count -= std::size_t(put);
  }
  return true;
}

bool PosixDisk::Truncate(NativeFile* file, std::uint64_t size) {
  return ftruncate(file->fd, static_cast<off_t>(size)) == 0;
}

bool PosixDisk::FileSize(NativeFile* file, std::uint64_t* size) {
  struct stat info;
  if (fstat(file->fd, &info) != 0)
    return false;
  *size = std::uint64_t(info.st_size);
  return true;
}

bool PosixDisk::Flush(NativeFile* file) {
  return fsync(file->fd) == 0;
}

bool PosixDisk::IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) {
  if (!file->identified) {
    struct stat info;
    if (fstat(file->fd, &info) != 0)
      return false;
    file->identified = true;
    file->device = std::uint64_t(info.st_dev);
    file->index = std::uint64_t(info.st_ino);
  }
  *device = file->device;
  *index = file->index;
  return true;
}

bool PosixDisk::TryLock(NativeFile* file) {
  return flock(file->fd, LOCK_EX | LOCK_NB) == 0;
}

bool PosixDisk::SeveralLinks(NativeFile* file) {
  struct stat info;
  return fstat(file->fd, &info) != 0 || info.st_nlink > 1;
}

bool PosixDisk::CopySecurity(NativeFile* original, NativeFile* copy) {
  struct stat info;
  if (fstat(original->fd, &info) != 0)
    return false;
  struct stat copyInfo;
  if (fstat(copy->fd, &copyInfo) != 0)
    return false;
  const bool chown = copyInfo.st_uid != info.st_uid || copyInfo.st_gid != info.st_gid;
  if (chown && fchown(copy->fd, info.st_uid, info.st_gid) != 0)
    return false;
  // A change of owner may clear the set-id bits, so the mode follows it;
  // otherwise it is set only where it differs (a file system without modes,
  // as exFAT, shows both files alike, and a FUSE driver is not asked).
  if ((chown || (copyInfo.st_mode & 07777) != (info.st_mode & 07777)) &&
      fchmod(copy->fd, info.st_mode & 07777) != 0)
    return false;
  // Extended attributes carry access lists and security labels.
  const ssize_t listSize = flistxattr(original->fd, nullptr, 0);
  if (listSize <= 0)
    return true;
  std::vector<char> names(std::size_t(listSize) + 1, '\0');
  const ssize_t got = flistxattr(original->fd, names.data(), names.size());
  if (got < 0)
    return false;
  for (const char* name = names.data(); name < names.data() + got; name += strlen(name) + 1) {
    const ssize_t valueSize = fgetxattr(original->fd, name, nullptr, 0);
    if (valueSize < 0)
      return false;
    std::vector<char> value(std::size_t(valueSize) + 1);
    const ssize_t valueGot = fgetxattr(original->fd, name, value.data(), value.size());
    if (valueGot < 0 || fsetxattr(copy->fd, name, value.data(), std::size_t(valueGot), 0) != 0) {
      return false;
    }
  }
  return true;
}

bool PosixDisk::Replace(const PathString& target, const PathString& replacement) {
  if (rename(replacement.c_str(), target.c_str()) != 0)
    return false;
  const size_t slash = target.rfind('/');
  FlushFolder(slash == PathString::npos ? PathString(".") : target.substr(0, slash + 1));
  return true;
}

bool PosixDisk::Rename(const PathString& target, const PathString& replacement) {
  return rename(replacement.c_str(), target.c_str()) == 0;
}

// ext4 and XFS move the blocks after the range; other file systems say they
// cannot (EOPNOTSUPP), and so does an offset or count that is not a whole
// number of blocks (EINVAL).
bool PosixDisk::InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
#ifdef FALLOC_FL_INSERT_RANGE
  // The kernel does not hold an insert to the process's file size limit;
  // it is held to it here as every write is.
  struct stat info;
  struct rlimit limit;
  if (fstat(file->fd, &info) != 0 || getrlimit(RLIMIT_FSIZE, &limit) != 0 ||
      (limit.rlim_cur != RLIM_INFINITY &&
       std::uint64_t(info.st_size) + count > std::uint64_t(limit.rlim_cur))) {
    return false;
  }
  return fallocate(file->fd, FALLOC_FL_INSERT_RANGE, off_t(offset), off_t(count)) == 0;
#else
  (void)file, (void)offset, (void)count;
  return false;
#endif
}

// The file systems that are known to refuse an insert of a range: tmpfs,
// btrfs, FUSE (exFAT and NTFS drivers among others), FAT, exFAT, NFS and
// SMB. Others (ext4, XFS, and any not known here) are asked.
bool PosixDisk::MayInsertRange(NativeFile* file) {
  static const unsigned long kRefusing[] = {0x01021994, 0x9123683E, kFuseType, 0x4d44,
                                            0x2011BAB0, 0x6969,     0xFF534D42, 0xFE534D42};
  const unsigned long type = FileSystemType(file);
  return std::find(std::begin(kRefusing), std::end(kRefusing), type) == std::end(kRefusing);
}

bool PosixDisk::CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
#ifdef FALLOC_FL_COLLAPSE_RANGE
  return fallocate(file->fd, FALLOC_FL_COLLAPSE_RANGE, off_t(offset), off_t(count)) == 0;
#else
  (void)file, (void)offset, (void)count;
  return false;
#endif
}

unsigned long FileSystemType(NativeFile* file) {
  struct statfs info;
  if (fstatfs(file->fd, &info) != 0)
    return 0;
  return static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul;
}

bool SyncfsReachesDisk(unsigned long type) {
  static const unsigned long kUnreached[] = {kFuseType, 0xFF534D42 /* CIFS */,
                                             0xFE534D42 /* SMB2 */, 0x517B /* SMB */};
  type &= 0xFFFFFFFFul;
  return std::find(std::begin(kUnreached), std::end(kUnreached), type) == std::end(kUnreached);
}

bool PosixDisk::FlushFileSystem(NativeFile* file) {
  const unsigned long type = FileSystemType(file);
  if (type == 0 || !SyncfsReachesDisk(type))
    return false;
  return syncfs(file->fd) == 0;
}

bool PosixDisk::Remove(const PathString& path) {
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

void PosixDisk::FlushFolder(const PathString& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  fsync(fd);
  close(fd);
}

// --- Run locks ---------------------------------------------------------------
// flock() on the file or folder itself, which every process on the machine
// sees and which ends with the process.

struct PathLock {
  int fd = -1;
};

PathLockResult PosixDisk::LockPath(const PathString& path, bool exclusive, PathLock** lock) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return PathLockResult::kUnavailable;
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? PathLockResult::kBusy : PathLockResult::kUnavailable;
  }
  *lock = new PathLock{fd};
  return PathLockResult::kLocked;
}

void PosixDisk::UnlockPath(PathLock* lock) {
  if (!lock)
    return;
  close(lock->fd);  // the lock goes with the descriptor
  delete lock;
}

// --- Folders and paths -------------------------------------------------------

bool PosixDisk::CreateFolder(const PathString& folder) {
  if (mkdir(folder.c_str(), 0777) == 0)
    return true;
  struct stat info;
  return errno == EEXIST && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// renameat2 refuses atomically to replace; file systems that lack the flag
// say EINVAL (and old kernels ENOSYS). A file then gets its new name as a
// hard link, which fails rather than replace, before the old name goes; a
// folder cannot be linked and is refused.
#if defined(__linux__) && !defined(RENAME_NOREPLACE)
#define RENAME_NOREPLACE (1 << 0)
#endif

bool PosixDisk::RenameNoReplace(const PathString& from, const PathString& to) {
#if defined(SYS_renameat2) && defined(RENAME_NOREPLACE)
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS)
    return false;
#endif
  struct stat info;
  if (lstat(from.c_str(), &info) != 0)
    return false;
  if (S_ISDIR(info.st_mode)) {
    errno = EOPNOTSUPP;
    return false;
  }
  if (link(from.c_str(), to.c_str()) != 0)
    return false;
  if (unlink(from.c_str()) == 0)
    return true;
  const int reason = errno;
  unlink(to.c_str());  // one name, the old, as before
  errno = reason;
  return false;
}

bool PosixDisk::Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  *device = std::uint64_t(info.st_dev);
  *index = std::uint64_t(info.st_ino);
  return true;
}
