// The platform layer on POSIX: opendir/readdir, iconv-built code-page tables
// that decode as MultiByteToWideChar does, a FIFO that stands in for the
// window, and pthreads.
#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <pthread.h>
#include <sys/stat.h>

#include <array>
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

bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload) {
  if (!target) return false;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    target->pending.push_back(Notification{message, payload});
  }
  target->posted.notify_one();
  return true;
}

NotifyTarget CreateNotifyTarget() { return new NotificationQueue; }

void DestroyNotifyTarget(NotifyTarget target) { delete target; }

void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context) {
  for (;;) {
    Notification next;
    {
      std::unique_lock<std::mutex> lock(target->mutex);
      target->posted.wait(lock, [target] { return !target->pending.empty(); });
      next = target->pending.front();
      target->pending.pop_front();
    }
    if (!handle(context, next)) return;
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
  if (!thread) return;
  pthread_join(thread->thread, nullptr);
  delete thread;
}

// --- Directory listing -------------------------------------------------------

struct DirectoryListing {
  DIR* dir;
  PathString folder;
};

DirectoryListing* OpenDirectoryListing(const PathString& folder, FolderIdentity* identity) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return nullptr;
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

bool NextDirectoryEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  errno = 0;
  const dirent* found = readdir(listing->dir);
  if (!found) return false;
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

void CloseDirectoryListing(DirectoryListing* listing) {
  closedir(listing->dir);
  delete listing;
}

// --- Code pages --------------------------------------------------------------

namespace {

struct CodePageInfo {
  unsigned codePage;
  const char* iconvName;
  bool doubleByte;
  wchar_t defaultChar;  // what Windows gives for a sequence it cannot map
};

// Default characters as Windows' tables give them.
constexpr CodePageInfo kCodePages[] = {
    {874, "CP874", false, 0x003F},  {1250, "CP1250", false, 0x003F},
    {1251, "CP1251", false, 0x003F}, {1252, "CP1252", false, 0x003F},
    {1253, "CP1253", false, 0x003F}, {1254, "CP1254", false, 0x003F},
    {1255, "CP1255", false, 0x003F}, {1256, "CP1256", false, 0x003F},
    {1257, "CP1257", false, 0x003F}, {1258, "CP1258", false, 0x003F},
    {932, "CP932", true, 0x30FB},    {936, "CP936", true, 0x003F},
    {949, "CP949", true, 0x003F},    {950, "CP950", true, 0x003F},
};

const CodePageInfo* FindCodePage(unsigned codePage) {
  for (const CodePageInfo& info : kCodePages) {
    if (info.codePage == codePage) return &info;
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

enum class IconvResult { kCharacter, kIncomplete, kInvalid };

// Decodes one whole sequence with a fresh shift state; stateful converters
// (1255 and 1258 compose characters) are flushed so nothing is held back.
IconvResult DecodeSequence(iconv_t cd, const unsigned char* bytes, size_t count, wchar_t* out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char input[2];
  std::memcpy(input, bytes, count);
  char* in = input;
  size_t inLeft = count;
  char32_t decoded[4] = {};
  char* outPtr = reinterpret_cast<char*>(decoded);
  size_t outLeft = sizeof(decoded);
  const size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  if (result == static_cast<size_t>(-1)) {
    return errno == EINVAL ? IconvResult::kIncomplete : IconvResult::kInvalid;
  }
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  const size_t produced = (sizeof(decoded) - outLeft) / sizeof(char32_t);
  if (produced != 1) return IconvResult::kInvalid;
  *out = static_cast<wchar_t>(decoded[0]);
  return IconvResult::kCharacter;
}

std::unique_ptr<CodePageTable> BuildTable(const CodePageInfo& info) {
  iconv_t cd = iconv_open("UTF-32LE", info.iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto table = std::make_unique<CodePageTable>();
  table->info = &info;
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned char byte = static_cast<unsigned char>(b);
    wchar_t c = 0;
    switch (DecodeSequence(cd, &byte, 1, &c)) {
      case IconvResult::kCharacter:
        table->single[b] = c;
        break;
      case IconvResult::kIncomplete:
        if (info.doubleByte) {
          table->lead[b] = true;
          table->single[b] = info.defaultChar;  // a lead byte with nothing after it
          break;
        }
        [[fallthrough]];
      case IconvResult::kInvalid:
        // Windows' single-byte tables give an undefined byte as the control
        // character of the same value.
        table->single[b] = info.doubleByte ? info.defaultChar : static_cast<wchar_t>(b);
        break;
    }
  }
  for (unsigned b = 0; b < 256; ++b) {
    if (!table->lead[b]) continue;
    std::array<wchar_t, 256>& row = table->pairs[b];
    for (unsigned trail = 0; trail < 256; ++trail) {
      const unsigned char pair[2] = {static_cast<unsigned char>(b),
                                     static_cast<unsigned char>(trail)};
      wchar_t c = 0;
      row[trail] =
          DecodeSequence(cd, pair, 2, &c) == IconvResult::kCharacter ? c : info.defaultChar;
    }
  }
  iconv_close(cd);
  return table;
}

const CodePageTable* TableFor(unsigned codePage) {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<CodePageTable>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = tables.find(codePage);
  if (it != tables.end()) return it->second.get();
  const CodePageInfo* info = FindCodePage(codePage);
  std::unique_ptr<CodePageTable> table = info ? BuildTable(*info) : nullptr;
  return (tables[codePage] = std::move(table)).get();
}

// The part of a locale name before its territory, codeset and modifier, and
// the territory: "sr_RS.UTF-8@latin" gives "sr", "RS" and "latin".
struct LocaleName {
  std::string language, territory, modifier;
};

LocaleName ParseLocale(const std::string& name) {
  LocaleName parsed;
  const size_t at = name.find('@');
  if (at != std::string::npos) parsed.modifier = name.substr(at + 1);
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
  if (language == "sr" && locale.modifier == "latin") return 1250;  // Serbian in Latin script
  if (language == "zh") {
    const std::string& t = locale.territory;
    return t == "TW" || t == "HK" || t == "MO" ? 950 : 936;
  }
  for (const LanguagePage& entry : kPages) {
    if (language == entry.language) return entry.codePage;
  }
  return 1252;
}

unsigned AnsiCodePage() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return CodePageForLocale(value);
  }
  return 1252;
}

bool IsCodePageSupported(unsigned codePage) { return FindCodePage(codePage) != nullptr; }

std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes) {
  if (codePage == 0) codePage = AnsiCodePage();
  const CodePageTable* table = TableFor(codePage);
  std::wstring out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (!table) {  // unreachable through the front ends, which check the page
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<wchar_t>(s[i]));
    return out;
  }
  for (size_t i = 0; i < n; ++i) {
    if (table->lead[s[i]] && i + 1 < n) {
      out.push_back(table->pairs.at(s[i])[s[i + 1]]);
      ++i;
    } else {
      out.push_back(table->single[s[i]]);
    }
  }
  return out;
}

// --- Display -----------------------------------------------------------------

std::string PathForDisplay(const PathString& path) { return SanitizeUtf8(path); }
