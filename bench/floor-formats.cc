// The I/O floor of a repair of a mixed-format library (FLAC, Ogg, Opus,
// WAV, AIFF, MP4, WMA, APE, WavPack, MP3). Parsing ten containers would
// measure a parser, not the I/O, so the floor takes the repair itself as
// given: a plan made from the library and a repaired copy of it holds, for
// each file, the range of bytes the repair changed and their new content.
// Then it does the least I/O that repair needs:
//
//   floor-formats --plan-from ORIGINAL REPAIRED PLAN
//       compares every music file below ORIGINAL with its twin below
//       REPAIRED and writes PLAN (not timed)
//   floor-formats --plan PLAN [--rewrite shift|copy] [--batch N] FOLDER
//       walks FOLDER like the scan; each music file is opened once and its
//       metadata region read: the first and the last 64 KB, where every one
//       of these containers keeps its tags or the pointers to them, and for
//       a repaired file any changed bytes outside those. A repaired file of
//       unchanged size gets the changed bytes written in place; one whose
//       size changes moves what follows the changed range (shift, in place
//       back to front in 1 MB steps) or is written anew beside itself (copy:
//       the unchanged parts by copy_file_range) and renamed over the old
//       one. One syncfs per batch of N written files or 64 MB written
//       (N = 256, the tool's batch), and one at the end.
//
// A file changed at both ends (an MP3 file whose ID3v2 and APEv2 tags are
// both repaired) is one range here, the audio between them written again:
// for those few files the floor does more than the least.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "walk.h"

namespace {

constexpr std::uint64_t kRegion = 64 << 10;
constexpr std::uint64_t kMoveChunk = 1 << 20;
constexpr std::uint64_t kBatchBytes = 64ull << 20;

// A repaired file: bytes [prefix, oldSize - suffix) become `middle`.
struct Change {
  std::uint64_t oldSize = 0, newSize = 0, prefix = 0, suffix = 0;
  std::string middle;
};

bool IsMusic(const std::string& name) {
  static const char* const kExtensions[] = {".flac", ".ogg", ".opus", ".wav", ".aiff", ".aif",
                                            ".m4a",  ".mp4", ".wma",  ".ape", ".wv",   ".mp3"};
  std::string lower = name;
  for (char& c : lower)
    c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  for (const char* e : kExtensions) {
    const std::size_t n = std::strlen(e);
    if (lower.size() > n && lower.compare(lower.size() - n, n, e) == 0)
      return true;
  }
  return false;
}

// Calls visit(relative path) for each music file below root + relative.
template <typename Visit>
void Walk(const std::string& root, const std::string& relative, Visit& visit) {
  auto music = [&visit](const std::string& path, const dirent& entry) {
    if ((entry.d_type == DT_REG || entry.d_type == DT_UNKNOWN) && IsMusic(entry.d_name))
      visit(path);
  };
  WalkLibrary(root, relative, music);
}

bool ReadAll(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f)
    return false;
  out->clear();
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    out->append(buffer, n);
  std::fclose(f);
  return true;
}

void PutNumber(FILE* out, std::uint64_t v) { std::fwrite(&v, sizeof v, 1, out); }
bool GetNumber(FILE* in, std::uint64_t* v) { return std::fread(v, sizeof *v, 1, in) == 1; }

int MakePlan(const std::string& original, const std::string& repaired, const std::string& plan) {
  FILE* out = std::fopen(plan.c_str(), "wb");
  if (!out)
    return 1;
  std::uint64_t files = 0, changed = 0;
  std::string a, b;
  auto visit = [&](const std::string& path) {
    ++files;
    if (!ReadAll(original + path, &a) || !ReadAll(repaired + path, &b) || a == b)
      return;
    ++changed;
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
      ++prefix;
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
      ++suffix;
    PutNumber(out, path.size());
    std::fwrite(path.data(), 1, path.size(), out);
    for (std::uint64_t v : {std::uint64_t(a.size()), std::uint64_t(b.size()),
                            std::uint64_t(prefix), std::uint64_t(suffix)})
      PutNumber(out, v);
    std::fwrite(b.data() + prefix, 1, b.size() - prefix - suffix, out);
  };
  Walk(original, "", visit);
  const bool ok = std::fclose(out) == 0;
  std::printf("plan: %llu files, %llu changed by the repair\n",
              static_cast<unsigned long long>(files), static_cast<unsigned long long>(changed));
  return ok ? 0 : 1;
}

bool LoadPlan(const std::string& plan, std::unordered_map<std::string, Change>* changes) {
  FILE* in = std::fopen(plan.c_str(), "rb");
  if (!in)
    return false;
  std::uint64_t length;
  bool ok = true;
  while (ok && GetNumber(in, &length)) {
    std::string path(length, '\0');
    Change c;
    ok = std::fread(&path[0], 1, length, in) == length && GetNumber(in, &c.oldSize) &&
         GetNumber(in, &c.newSize) && GetNumber(in, &c.prefix) && GetNumber(in, &c.suffix);
    if (ok) {
      c.middle.resize(c.newSize - c.prefix - c.suffix);
      ok = std::fread(&c.middle[0], 1, c.middle.size(), in) == c.middle.size();
    }
    (*changes)[path] = std::move(c);
  }
  std::fclose(in);
  return ok;
}

struct Floor {
  bool copy = false;
  std::uint64_t batch = 256;
  std::string root;
  std::unordered_map<std::string, Change> changes;
  std::vector<char> buffer = std::vector<char>(kMoveChunk);
  std::uint64_t files = 0, inPlace = 0, rewritten = 0, failed = 0, flushes = 0;
  std::uint64_t pendingFiles = 0, pendingBytes = 0;
  int lastFd = -1;  // a descriptor on the file system, for syncfs

  bool ReadRange(int fd, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t at = from; at < to;) {
      const std::uint64_t n = std::min(kMoveChunk, to - at);
      if (pread(fd, buffer.data(), n, off_t(at)) != ssize_t(n))
        return false;
      at += n;
    }
    return true;
  }

  // The metadata region: head, tail, and the changed range outside them.
  bool ReadRegion(int fd, std::uint64_t size, const Change* c) {
    const std::uint64_t head = std::min(size, kRegion);
    const std::uint64_t tail = size > head ? std::max(head, size - kRegion) : size;
    bool ok = ReadRange(fd, 0, head) && ReadRange(fd, tail, size);
    if (ok && c)
      ok = ReadRange(fd, std::max(c->prefix, head), std::min(c->oldSize - c->suffix, tail));
    return ok;
  }

  // Moves [from, end) of the file to start at `to`, as the changed range's
  // new size needs, front to back when it moves down, back to front up.
  bool Move(int fd, std::uint64_t from, std::uint64_t end, std::uint64_t to) {
    const std::uint64_t length = end - from;
    for (std::uint64_t done = 0; done < length;) {
      const std::uint64_t n = std::min(kMoveChunk, length - done);
      const std::uint64_t at = to > from ? end - done - n : from + done;
      if (pread(fd, buffer.data(), n, off_t(at)) != ssize_t(n) ||
          pwrite(fd, buffer.data(), n, off_t(at - from + to)) != ssize_t(n))
        return false;
      done += n;
    }
    return true;
  }

  bool Shift(int fd, const Change& c) {
    const std::uint64_t tailFrom = c.oldSize - c.suffix;
    return Move(fd, tailFrom, c.oldSize, c.newSize - c.suffix) &&
           pwrite(fd, c.middle.data(), c.middle.size(), off_t(c.prefix)) ==
               ssize_t(c.middle.size()) &&
           (c.newSize >= c.oldSize || ftruncate(fd, off_t(c.newSize)) == 0);
  }

  bool CopyRange(int in, int out, std::uint64_t from, std::uint64_t to) {
    off_t at = off_t(from);
    while (std::uint64_t(at) < to) {
      const ssize_t n = copy_file_range(in, &at, out, nullptr, to - std::uint64_t(at), 0);
      if (n <= 0)
        break;
    }
    for (; std::uint64_t(at) < to;) {
      const std::uint64_t n = std::min(kMoveChunk, to - std::uint64_t(at));
      if (pread(in, buffer.data(), n, at) != ssize_t(n) || write(out, buffer.data(), n) != ssize_t(n))
        return false;
      at += off_t(n);
    }
    return true;
  }

  bool Copy(int fd, const std::string& path, mode_t mode, const Change& c) {
    const std::string temporary = path + ".floor-new";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode & 07777);
    bool ok = out >= 0 && CopyRange(fd, out, 0, c.prefix) &&
              write(out, c.middle.data(), c.middle.size()) == ssize_t(c.middle.size()) &&
              CopyRange(fd, out, c.oldSize - c.suffix, c.oldSize);
    if (out >= 0)
      ok = close(out) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
      unlink(temporary.c_str());
    return ok;
  }

  void Flush() {
    if (pendingFiles && lastFd >= 0) {
      syncfs(lastFd);
      ++flushes;
    }
    pendingFiles = pendingBytes = 0;
  }

  void Repair(const std::string& relative) {
    ++files;
    const std::string path = root + relative;
    const auto found = changes.find(relative);
    const Change* c = found == changes.end() ? nullptr : &found->second;
    const int fd = open(path.c_str(), c ? O_RDWR : O_RDONLY);
    struct stat info;
    bool ok = fd >= 0 && fstat(fd, &info) == 0;
    ok = ok && (!c || std::uint64_t(info.st_size) == c->oldSize) &&
         ReadRegion(fd, std::uint64_t(info.st_size), c);
    if (ok && c) {
      if (c->newSize == c->oldSize) {
        ++inPlace;
        ok = pwrite(fd, c->middle.data(), c->middle.size(), off_t(c->prefix)) ==
             ssize_t(c->middle.size());
      } else {
        ++rewritten;
        ok = copy ? Copy(fd, path, info.st_mode, *c) : Shift(fd, *c);
      }
      ++pendingFiles;
      pendingBytes += c->newSize == c->oldSize ? c->middle.size() : c->newSize;
    }
    if (!ok) {
      ++failed;
      std::fprintf(stderr, "floor-formats: could not repair %s\n", path.c_str());
    }
    if (fd >= 0) {
      if (lastFd >= 0)
        close(lastFd);
      lastFd = fd;  // kept open until the next file: syncfs needs one
    }
    if (pendingFiles >= batch || pendingBytes >= kBatchBytes)
      Flush();
  }
};

int Usage() {
  std::fprintf(stderr,
               "usage: floor-formats --plan-from ORIGINAL REPAIRED PLAN\n"
               "       floor-formats --plan PLAN [--rewrite shift|copy] [--batch N] FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "--plan-from")
    return MakePlan(args[1], args[2], args[3]);
  Floor floor;
  std::string plan;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool more = i + 1 < args.size();
    if (args[i] == "--plan" && more) {
      plan = args[++i];
    } else if (args[i] == "--rewrite" && more) {
      floor.copy = args[++i] == "copy";
      if (!floor.copy && args[i] != "shift")
        return Usage();
    } else if (args[i] == "--batch" && more) {
      floor.batch = std::max<std::uint64_t>(1, std::strtoull(args[++i].c_str(), nullptr, 10));
    } else if (floor.root.empty() && !args[i].empty() && args[i][0] != '-') {
      floor.root = args[i];
    } else {
      return Usage();
    }
  }
  if (plan.empty() || floor.root.empty())
    return Usage();
  if (!LoadPlan(plan, &floor.changes)) {
    std::fprintf(stderr, "floor-formats: cannot read the plan %s\n", plan.c_str());
    return 1;
  }
  auto visit = [&floor](const std::string& path) { floor.Repair(path); };
  Walk(floor.root, "", visit);
  floor.Flush();
  if (floor.lastFd >= 0)
    close(floor.lastFd);
  std::printf(
      "floor-formats: %llu files: %llu rewritten whole, %llu tags in place, %llu failed, "
      "%llu flushes\n",
      static_cast<unsigned long long>(floor.files), static_cast<unsigned long long>(floor.rewritten),
      static_cast<unsigned long long>(floor.inPlace), static_cast<unsigned long long>(floor.failed),
      static_cast<unsigned long long>(floor.flushes));
  return floor.failed ? 1 : 0;
}
