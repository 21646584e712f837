// Run locks on POSIX: flock() on the file or folder itself, which every
// process on the machine sees and which ends with the process.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "engine/commit/run-lock.h"

struct PathLock {
  int fd = -1;
};

PathLockResult TakePathLock(const PathString& path, bool exclusive, PathLock** lock) {
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

void ReleasePathLock(PathLock* lock) {
  if (!lock)
    return;
  close(lock->fd);  // the lock goes with the descriptor
  delete lock;
}
