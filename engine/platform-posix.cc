// The platform layer on POSIX: opendir/readdir, iconv-built code-page tables
// that decode as MultiByteToWideChar does, a FIFO that stands in for the
// window, and pthreads.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/platform.h"

// --- Notifications -----------------------------------------------------------

struct NotificationQueue {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<Notification> pending;
};

namespace {

// The receiver wakes per batch rather than per notification: a wake costs
// more than handling a found file. It waits a moment for a batch to fill,
// which bounds the delay a notification can see.
constexpr std::size_t kBatch = 256;
constexpr std::chrono::milliseconds kBatchWait(5);

}  // namespace

bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload) {
  if (!target)
    return false;
  std::size_t queued = 0;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    target->pending.push_back(Notification{message, payload});
    queued = target->pending.size();
  }
  if (queued == 1 || queued == kBatch)
    target->posted.notify_one();
  return true;
}

NotifyTarget CreateNotifyTarget() {
  return new NotificationQueue;
}

void DestroyNotifyTarget(NotifyTarget target) {
  delete target;
}

void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context) {
  std::deque<Notification> batch;
  for (;;) {
    {
      // Everything posted so far is taken at once, in order.
      std::unique_lock<std::mutex> lock(target->mutex);
      target->posted.wait(lock, [target] { return !target->pending.empty(); });
      target->posted.wait_for(lock, kBatchWait,
                              [target] { return target->pending.size() >= kBatch; });
      batch.swap(target->pending);
    }
    while (!batch.empty()) {
      const Notification next = batch.front();
      batch.pop_front();
      if (handle(context, next))
        continue;
      // What the handler did not take stays queued, ahead of later posts.
      std::lock_guard<std::mutex> lock(target->mutex);
      target->pending.insert(target->pending.begin(), batch.begin(), batch.end());
      return;
    }
  }
}

// --- Threads -----------------------------------------------------------------

struct WorkerThread {
  pthread_t thread;
  ThreadProc proc;
  void* job;
};

namespace {

void* RunWorker(void* param) {
  auto* worker = static_cast<WorkerThread*>(param);
  worker->proc(worker->job);
  return nullptr;
}

}  // namespace

WorkerThread* StartWorkerThread(ThreadProc proc, void* job) {
  auto* worker = new WorkerThread{pthread_t(), proc, job};
  if (pthread_create(&worker->thread, nullptr, RunWorker, worker) != 0) {
    delete worker;
    return nullptr;
  }
  return worker;
}

void JoinWorkerThread(WorkerThread* thread) {
  if (!thread)
    return;
  pthread_join(thread->thread, nullptr);
  delete thread;
}

unsigned ProcessorCount() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return unsigned(CPU_COUNT(&allowed));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? unsigned(online) : 1;
}

struct Gate {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};

Gate* CreateGate() {
  return new Gate;
}

void DestroyGate(Gate* gate) {
  if (!gate)
    return;
  pthread_cond_destroy(&gate->condition);
  pthread_mutex_destroy(&gate->mutex);
  delete gate;
}

void LockGate(Gate* gate) {
  pthread_mutex_lock(&gate->mutex);
}
void UnlockGate(Gate* gate) {
  pthread_mutex_unlock(&gate->mutex);
}
void WaitGate(Gate* gate) {
  pthread_cond_wait(&gate->condition, &gate->mutex);
}
void WakeGate(Gate* gate) {
  pthread_cond_broadcast(&gate->condition);
}

// The platform's own disk: the file operations and folder listing below.
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
};

// --- Directory listing -------------------------------------------------------

struct DirectoryListing {
  DIR* dir;
  PathString folder;
};

DirectoryListing* PosixDisk::OpenListing(const PathString& folder, FolderIdentity* identity) {
  DIR* dir = opendir(folder.c_str());
  if (!dir)
    return nullptr;
  struct stat info;
  if (fstat(dirfd(dir), &info) == 0) {
    identity->known = true;
    identity->device = static_cast<std::uint64_t>(info.st_dev);
    identity->inode = static_cast<std::uint64_t>(info.st_ino);
  } else {
    identity->known = false;
  }
  return new DirectoryListing{dir, folder};
}

bool PosixDisk::NextEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  errno = 0;
  const dirent* found = readdir(listing->dir);
  if (!found)
    return false;
  entry->name.assign(found->d_name);
  switch (found->d_type) {
    case DT_DIR:
      entry->isDirectory = true;
      break;
    case DT_LNK:
    case DT_UNKNOWN: {
      // Links are followed, as Windows enters junctions.
      PathString path = listing->folder;
      path.append(1, kPathSeparator).append(entry->name);
      struct stat info;
      entry->isDirectory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      break;
    }
    default:
      entry->isDirectory = false;
  }
  return true;
}

void PosixDisk::CloseListing(DirectoryListing* listing) {
  closedir(listing->dir);
  delete listing;
}

// --- Files -------------------------------------------------------------------

struct NativeFile {
  int fd;
};

namespace {

NativeFile* Wrap(int fd) {
  return fd < 0 ? nullptr : new NativeFile{fd};
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
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    close(fd);
    return nullptr;
  }
  return Wrap(fd);
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

bool PosixDisk::CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                          std::uint64_t toOffset, std::uint64_t count) {
  // The kernel copies (or shares blocks, where the file system can) without
  // the bytes passing through this process.
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
  std::vector<char> buffer(count > 0 ? std::min<std::uint64_t>(count, 1 << 20) : 0);
  while (count > 0) {
    const std::size_t chunk = std::size_t(std::min<std::uint64_t>(count, buffer.size()));
    if (!Read(from, fromOffset, buffer.data(), chunk) ||
        !Write(to, toOffset, buffer.data(), chunk)) {
      return false;
    }
    fromOffset += chunk, toOffset += chunk, count -= chunk;
  }
  return true;
}

bool PosixDisk::Truncate(NativeFile* file, std::uint64_t size) {
  return ftruncate(file->fd, static_cast<off_t>(size)) == 0;
}

bool FileSizeOf(NativeFile* file, std::uint64_t* size) {
  struct stat info;
  if (fstat(file->fd, &info) != 0)
    return false;
  *size = std::uint64_t(info.st_size);
  return true;
}

bool PosixDisk::Flush(NativeFile* file) {
  return fsync(file->fd) == 0;
}

bool IdentifyFile(NativeFile* file, std::uint64_t* device, std::uint64_t* index) {
  struct stat info;
  if (fstat(file->fd, &info) != 0)
    return false;
  *device = std::uint64_t(info.st_dev);
  *index = std::uint64_t(info.st_ino);
  return true;
}

bool TryLockFile(NativeFile* file) {
  return flock(file->fd, LOCK_EX | LOCK_NB) == 0;
}

bool HasSeveralLinks(NativeFile* file) {
  struct stat info;
  return fstat(file->fd, &info) != 0 || info.st_nlink > 1;
}

bool CopyFileSecurity(NativeFile* original, NativeFile* copy) {
  struct stat info;
  if (fstat(original->fd, &info) != 0)
    return false;
  struct stat copyInfo;
  if (fstat(copy->fd, &copyInfo) != 0)
    return false;
  if ((copyInfo.st_uid != info.st_uid || copyInfo.st_gid != info.st_gid) &&
      fchown(copy->fd, info.st_uid, info.st_gid) != 0) {
    return false;
  }
  if (fchmod(copy->fd, info.st_mode & 07777) != 0)
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

bool PosixDisk::CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) {
#ifdef FALLOC_FL_COLLAPSE_RANGE
  return fallocate(file->fd, FALLOC_FL_COLLAPSE_RANGE, off_t(offset), off_t(count)) == 0;
#else
  (void)file, (void)offset, (void)count;
  return false;
#endif
}

bool PosixDisk::FlushFileSystem(NativeFile* file) {
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

PathString ResolveFileLinks(const PathString& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
    return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved)
    return path;
  PathString target(resolved);
  free(resolved);
  return target;
}

// --- Code pages --------------------------------------------------------------

namespace {

struct CodePageInfo {
  unsigned codePage;
  const char* iconvName;
  wchar_t defaultChar;          // what Windows gives for a sequence it cannot map
  unsigned char leadRanges[4];  // Windows' lead bytes: first-last pairs, 0 ends
};

constexpr CodePageInfo kCodePages[] = {
    {874, "CP874", 0x003F, {}},
    {1250, "CP1250", 0x003F, {}},
    {1251, "CP1251", 0x003F, {}},
    {1252, "CP1252", 0x003F, {}},
    {1253, "CP1253", 0x003F, {}},
    {1254, "CP1254", 0x003F, {}},
    {1255, "CP1255", 0x003F, {}},
    {1256, "CP1256", 0x003F, {}},
    {1257, "CP1257", 0x003F, {}},
    {1258, "CP1258", 0x003F, {}},
    {932, "CP932", 0x30FB, {0x81, 0x9F, 0xE0, 0xFC}},
    {936, "CP936", 0x003F, {0x81, 0xFE}},
    {949, "CP949", 0x003F, {0x81, 0xFE}},
    {950, "CP950", 0x003F, {0x81, 0xFE}},
};

// Where glibc's tables differ from Windows' own converter, Windows wins:
// runs of consecutive sequences (one byte, or lead << 8 | trail) that decode
// to consecutive characters, or to the default character when `first` is 0.
// Generated by tools/make-codepage-corrections from tests/data.
struct CodePageCorrection {
  unsigned codePage;
  unsigned sequence;
  unsigned count;
  unsigned first;
};

constexpr CodePageCorrection kCorrections[] = {
#ifndef SONGWRIGHT_GLIBC_TABLES_ONLY
#include "engine/codepage-corrections.inc"
#endif
    {0, 0, 0, 0}};

const CodePageInfo* FindCodePage(unsigned codePage) {
  for (const CodePageInfo& info : kCodePages) {
    if (info.codePage == codePage)
      return &info;
  }
  return nullptr;
}

// One code page as lookup tables: a character per single byte, and for the
// lead bytes of a double-byte page a character per trail byte.
struct CodePageTable {
  const CodePageInfo* info = nullptr;
  std::array<wchar_t, 256> single{};
  std::array<bool, 256> lead{};
  std::map<unsigned, std::array<wchar_t, 256>> pairs;  // by lead byte
};

// Decodes one whole sequence with a fresh shift state; stateful converters
// (1255 and 1258 compose characters) are flushed so nothing is held back.
bool DecodeSequence(iconv_t cd, const unsigned char* bytes, size_t count, wchar_t* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char input[2];
  std::memcpy(input, bytes, count);
  char* in = input;
  size_t inLeft = count;
  char32_t decoded[4] = {};
  char* outPtr = reinterpret_cast<char*>(decoded);
  size_t outLeft = sizeof(decoded);
  if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
    return false;
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  if (sizeof(decoded) - outLeft != sizeof(char32_t))
    return false;
  *out = static_cast<wchar_t>(decoded[0]);
  return true;
}

std::unique_ptr<CodePageTable> BuildTable(const CodePageInfo& info) {
  iconv_t cd = iconv_open("UTF-32LE", info.iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return nullptr;
  auto table = std::make_unique<CodePageTable>();
  table->info = &info;
  const bool doubleByte = info.leadRanges[0] != 0;
  for (int r = 0; r < 4 && info.leadRanges[r]; r += 2) {
    for (unsigned b = info.leadRanges[r]; b <= info.leadRanges[r + 1]; ++b)
      table->lead[b] = true;
  }
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    wchar_t c = 0;
    if (table->lead[b]) {
      table->single[b] = info.defaultChar;  // a lead byte with nothing after it
    } else if (DecodeSequence(cd, &byte, 1, &c)) {
      table->single[b] = c;
    } else {
      // Windows' single-byte tables give an undefined byte as the control
      // character of the same value.
      table->single[b] = doubleByte ? info.defaultChar : static_cast<wchar_t>(b);
    }
  }
  for (unsigned b = 0; b < 256; ++b) {
    if (!table->lead[b])
      continue;
    std::array<wchar_t, 256>& row = table->pairs[b];
    for (unsigned trail = 0; trail < 256; ++trail) {
      const unsigned char pair[2] = {static_cast<unsigned char>(b),
                                     static_cast<unsigned char>(trail)};
      wchar_t c = 0;
      row[trail] = DecodeSequence(cd, pair, 2, &c) ? c : info.defaultChar;
    }
  }
  iconv_close(cd);
  for (const CodePageCorrection& fix : kCorrections) {
    if (fix.codePage != info.codePage)
      continue;
    for (unsigned i = 0; i < fix.count; ++i) {
      const unsigned sequence = fix.sequence + i;
      const wchar_t c = fix.first ? static_cast<wchar_t>(fix.first + i) : info.defaultChar;
      if (sequence < 256) {
        table->single[sequence] = c;
      } else if (table->lead[sequence >> 8]) {
        table->pairs[sequence >> 8][sequence & 0xFF] = c;
      }
    }
  }
  return table;
}

const CodePageTable* TableFor(unsigned codePage) {
  // Tables live as long as the process, so each thread keeps the one it
  // used last and readers of one page do not meet on the lock.
  thread_local unsigned lastPage = 0;
  thread_local const CodePageTable* lastTable = nullptr;
  if (lastTable && lastPage == codePage)
    return lastTable;
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<CodePageTable>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = tables.find(codePage);
  if (it != tables.end()) {
    lastPage = codePage;
    lastTable = it->second.get();
    return lastTable;
  }
  const CodePageInfo* info = FindCodePage(codePage);
  std::unique_ptr<CodePageTable> table = info ? BuildTable(*info) : nullptr;
  lastTable = (tables[codePage] = std::move(table)).get();
  lastPage = codePage;
  return lastTable;
}

// The part of a locale name before its territory, codeset and modifier, and
// the territory: "sr_RS.UTF-8@latin" gives "sr", "RS" and "latin".
struct LocaleName {
  std::string language, territory, modifier;
};

LocaleName ParseLocale(const std::string& name) {
  LocaleName parsed;
  const size_t at = name.find('@');
  if (at != std::string::npos)
    parsed.modifier = name.substr(at + 1);
  const std::string base = name.substr(0, at);
  const size_t end = base.find_first_of("_.");
  parsed.language = base.substr(0, end);
  if (end != std::string::npos && base[end] == '_') {
    parsed.territory = base.substr(end + 1, base.find('.', end) - end - 1);
  }
  return parsed;
}

}  // namespace

unsigned CodePageForLocale(const std::string& localeName) {
  const LocaleName locale = ParseLocale(localeName);
  const std::string& language = locale.language;
  struct LanguagePage {
    const char* language;
    unsigned codePage;
  };
  static const LanguagePage kPages[] = {
      {"ru", 1251}, {"uk", 1251}, {"be", 1251}, {"bg", 1251}, {"sr", 1251}, {"mk", 1251},
      {"kk", 1251}, {"ky", 1251}, {"tt", 1251}, {"mn", 1251}, {"pl", 1250}, {"cs", 1250},
      {"sk", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250}, {"ro", 1250}, {"sq", 1250},
      {"bs", 1250}, {"el", 1253}, {"tr", 1254}, {"az", 1254}, {"he", 1255}, {"ar", 1256},
      {"fa", 1256}, {"ur", 1256}, {"et", 1257}, {"lv", 1257}, {"lt", 1257}, {"vi", 1258},
      {"th", 874},  {"ja", 932},  {"ko", 949},
  };
  if (language == "sr" && locale.modifier == "latin")
    return 1250;  // Serbian in Latin script
  if (language == "zh") {
    const std::string& t = locale.territory;
    return t == "TW" || t == "HK" || t == "MO" ? 950 : 936;
  }
  for (const LanguagePage& entry : kPages) {
    if (language == entry.language)
      return entry.codePage;
  }
  return 1252;
}

unsigned AnsiCodePage() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value)
      return CodePageForLocale(value);
  }
  return 1252;
}

bool IsCodePageSupported(unsigned codePage) {
  return FindCodePage(codePage) != nullptr;
}

std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes) {
  if (codePage == 0)
    codePage = AnsiCodePage();
  const CodePageTable* table = TableFor(codePage);
  std::wstring out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (!table) {  // unreachable through the front ends, which check the page
    for (size_t i = 0; i < n; ++i)
      out.push_back(static_cast<wchar_t>(s[i]));
    return out;
  }
  for (size_t i = 0; i < n; ++i) {
    // A lead byte takes the next byte with it, unless that is NUL, which
    // Windows decodes on its own.
    if (table->lead[s[i]] && i + 1 < n && s[i + 1] != 0) {
      out.push_back(table->pairs.at(s[i])[s[i + 1]]);
      ++i;
    } else {
      out.push_back(table->single[s[i]]);
    }
  }
  return out;
}

// --- Display -----------------------------------------------------------------

std::string PathForDisplay(const PathString& path) {
  return SanitizeUtf8(path);
}
