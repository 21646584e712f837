// A copy of a range of one file into another: by the kernel where it can,
// through this thread's buffer elsewhere, around the page cache onto FUSE.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "engine/platform/disk-posix.h"

namespace {

// Read at once: a song's audio in one read, but for long ones; a kept buffer
// of each thread that copies.
constexpr std::size_t kCopyChunk = std::size_t(8) << 20;
constexpr std::size_t kAligned = std::size_t(128) << 10;

// Each thread's copy buffer, aligned for writes around the page cache and
// kept for its next copy (a fresh one would fault its pages in again).
char* CopyBuffer() {
  struct Free {
    void operator()(char* buffer) const { free(buffer); }
  };
  thread_local std::unique_ptr<char, Free> buffer(
      static_cast<char*>(aligned_alloc(4096, kCopyChunk)));
  return buffer.get();
}

// True when `file` is on a FUSE mount (exFAT or NTFS through FUSE). Asked of
// the system once per device: a FUSE driver answers statfs itself, and
// exfat-fuse counts its free clusters for it (about 0.1 ms a call). A device
// number given again to another file system later only picks the other way
// of copying, both of which copy every byte.
bool OnFuse(NativeFile* file) {
  std::uint64_t device = 0, index = 0;
  if (!PlatformDisk().IdentifyOpen(file, &device, &index))
    return false;
  static std::mutex lock;
  static std::map<std::uint64_t, bool> known;
  std::lock_guard<std::mutex> hold(lock);
  auto found = known.find(device);
  if (found == known.end())
    found = known.emplace(device, FileSystemType(file) == kFuseType).first;
  return found->second;
}

// Writes `count` bytes at `offset`, around the page cache while `*direct`.
// A file system that wants such writes aligned refuses them (EINVAL): then
// `*direct` is turned off and the bytes go through the cache.
bool WriteCopied(int fd, std::uint64_t offset, const char* in, std::size_t count, int flags,
                 bool* direct) {
  while (count > 0) {
    const ssize_t put = pwrite(fd, in, count, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR)
      continue;
    if (put < 0 && errno == EINVAL && *direct) {
      *direct = false;
      if (fcntl(fd, F_SETFL, flags) != 0)
        return false;
      continue;
    }
    if (put <= 0)
      return false;
    in += put, offset += std::uint64_t(put), count -= std::size_t(put);
  }
  return true;
}

}  // namespace

bool CopyThroughBuffer(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                       std::uint64_t toOffset, std::uint64_t count, bool direct) {
  char* buffer = CopyBuffer();
  if (!buffer)
    return false;
  const int flags = fcntl(to->fd, F_GETFL);
  direct = direct && flags >= 0 && fcntl(to->fd, F_SETFL, flags | O_DIRECT) == 0;
  bool copied = true;
  while (copied && count > 0) {
    const std::size_t chunk = std::size_t(std::min<std::uint64_t>(count, kCopyChunk));
    // The kernel cuts a write into FUSE's largest requests (128 KiB) from
    // where it starts: the bytes up to the next multiple of 128 KiB go first,
    // so that each request after them brings the driver whole clusters.
    const std::size_t head =
        std::min<std::size_t>(chunk, (kAligned - toOffset % kAligned) % kAligned);
    copied = PlatformDisk().Read(from, fromOffset, buffer, chunk) &&
             WriteCopied(to->fd, toOffset, buffer, head, flags, &direct) &&
             WriteCopied(to->fd, toOffset + head, buffer + head, chunk - head, flags, &direct);
    fromOffset += chunk, toOffset += chunk, count -= chunk;
  }
  if (direct && fcntl(to->fd, F_SETFL, flags) != 0)
    return false;
  return copied;
}

bool PosixDisk::CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                          std::uint64_t toOffset, std::uint64_t count) {
  // A FUSE driver is offered no copy by the kernel, whose fallback splices
  // 64 KiB at a time through the page cache, each piece one request that the
  // driver (exfat-fuse runs one thread) answers before the next is sent.
  // Written around the cache, the audio goes as FUSE's largest requests, and
  // the copy, soon renamed over the original, fills no cache pages. (The
  // file system is asked of `from`: a copy is made beside its original.)
  if (count >= 2 * kAligned && OnFuse(from))
    return CopyThroughBuffer(from, fromOffset, to, toOffset, count, true);
  // Elsewhere the kernel copies (or shares blocks, where the file system
  // can) without the bytes passing through this process.
  while (count > 0) {
    loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(toOffset);
    const ssize_t copied = copy_file_range(from->fd, &in, to->fd, &out, count, 0);
    if (copied < 0 && errno == EINTR)
      continue;
    if (copied <= 0)
      break;
    fromOffset += std::uint64_t(copied), toOffset += std::uint64_t(copied);
    count -= std::uint64_t(copied);
  }
  // Where the kernel cannot (other file systems, old kernels), copy by hand.
  return count == 0 || CopyThroughBuffer(from, fromOffset, to, toOffset, count, false);
}
