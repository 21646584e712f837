// The I/O floor of a repair: walks FOLDER like the scan, reads each MP3's
// ID3v2 tag and ID3v1 block, decides from its own minimal parse whether the
// repair would change the file, and writes what a repair must write: the tag
// region in place where the repaired tag fits its padding, the whole file
// where it outgrows it. Sizes mimic TagLib's rendering (changed text frames
// become UTF-16, 1024 bytes of padding after a tag that grew); the text is
// widened, not decoded, since only the byte counts matter here. No TagLib.
//
//   floor [--rewrite shift|copy] [--fsync] FOLDER
//
// shift (default) moves the audio within the file, back to front in 1 MB
// steps; copy writes a new file beside it (the audio by copy_file_range) and
// renames it over the old one. --fsync flushes each written file (and the
// folder after a rename).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "walk.h"

namespace {

constexpr std::size_t kMoveChunk = 1 << 20;
constexpr std::size_t kHeaderSize = 10;
constexpr std::uint64_t kMinPadding = 1024;

enum class Rewrite { kShift, kCopy };

struct Counts {
  std::uint64_t files = 0, whole = 0, inPlace = 0, untouched = 0, unreadable = 0;
};

std::uint32_t Synchsafe(const unsigned char* p) {
  return (std::uint32_t(p[0] & 0x7F) << 21) | (std::uint32_t(p[1] & 0x7F) << 14) |
         (std::uint32_t(p[2] & 0x7F) << 7) | std::uint32_t(p[3] & 0x7F);
}

std::uint32_t BigEndian(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}

void AppendSynchsafe(std::string* out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7)
    out->push_back(char((value >> shift) & 0x7F));
}

bool HasHighByte(const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x80)
      return true;
  }
  return false;
}

// A frame as the repaired tag would hold it: a v2.4 header and the body, its
// Latin-1 fields turned into UTF-16 with a byte-order mark each, separated by
// a two-byte NUL, the way TagLib renders a UTF-16 text frame.
void AppendFrame(std::string* tag, const char* id, const unsigned char* body, std::size_t size,
                 bool toUtf16) {
  tag->append(id, 4);
  const std::size_t sizeAt = tag->size();
  AppendSynchsafe(tag, 0);
  tag->append(2, '\0');
  const std::size_t bodyAt = tag->size();
  if (!toUtf16) {
    tag->append(reinterpret_cast<const char*>(body), size);
  } else {
    tag->push_back('\x01');
    std::size_t end = size;
    while (end > 1 && body[end - 1] == 0)
      --end;  // no trailing terminator
    bool fieldStart = true;
    for (std::size_t i = 1; i < end; ++i) {
      if (fieldStart)
        tag->append("\xFF\xFE", 2);
      fieldStart = body[i] == 0;
      tag->push_back(char(body[i]));
      tag->push_back('\0');
    }
  }
  std::string size4;
  AppendSynchsafe(&size4, std::uint32_t(tag->size() - bodyAt));
  tag->replace(sizeAt, 4, size4);
}

// The frames an ID3v1 field is copied into when the ID3v2 tag lacks them.
enum { kTit2, kTpe1, kTalb, kComm, kTdrc, kTrck, kTcon, kFrameCount };
const char* const kFrameIds[kFrameCount] = {"TIT2", "TPE1", "TALB", "COMM", "TDRC", "TRCK", "TCON"};

struct Id3v1Field {
  int frame;
  std::size_t offset, length;
  bool redecoded;
};
const Id3v1Field kId3v1Fields[] = {
    {kTit2, 3, 30, true},   {kTpe1, 33, 30, true},  {kTalb, 63, 30, true},  {kTdrc, 93, 4, false},
    {kComm, 97, 28, false}, {kTrck, 126, 1, false}, {kTcon, 127, 1, false},
};

// ID3v1 text as TagLib reads it: up to the first NUL, without trailing blanks.
std::size_t Id3v1FieldLength(const unsigned char* p, std::size_t max) {
  std::size_t n = 0;
  while (n < max && p[n])
    ++n;
  while (n && (p[n - 1] == ' ' || p[n - 1] == '\t'))
    --n;
  return n;
}

class Floor {
 public:
  Floor(Rewrite rewrite, bool durable)
      : rewrite_(rewrite), durable_(durable), move_(kMoveChunk), region_(1 << 16) {}

  void Walk(const std::string& folder) {
    auto song = [this, &folder](const std::string& path, const dirent& entry) {
      if (IsMp3(entry.d_name)) {
        ++counts_.files;
        Repair(folder + path);
      }
    };
    WalkLibrary(folder, "", song);
  }

  const Counts& counts() const { return counts_; }

 private:
  static bool IsMp3(const char* name) {
    const std::size_t n = std::strlen(name);
    if (n < 4)
      return false;
    const char* e = name + n - 4;
    return e[0] == '.' && (e[1] | 0x20) == 'm' && (e[2] | 0x20) == 'p' && e[3] == '3';
  }

  void Repair(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
      if (fd >= 0)
        close(fd);
      ++counts_.unreadable;
      return;
    }
    const std::uint64_t fileSize = std::uint64_t(info.st_size);
    std::uint64_t oldTagSize = 0;
    if (!BuildRepairedTag(fd, fileSize, &oldTagSize)) {
      close(fd);
      return;
    }

    // TagLib keeps the old size while the padding left stays within 1% of
    // the file (at least 1 KB, at most 1 MB); otherwise it renders 1 KB.
    std::uint64_t threshold = fileSize / 100;
    if (threshold < kMinPadding)
      threshold = kMinPadding;
    if (threshold > (1u << 20))
      threshold = 1u << 20;
    const std::uint64_t framesEnd = tag_.size();
    std::uint64_t newTagSize;
    if (!truncated_ && oldTagSize >= framesEnd && oldTagSize - framesEnd <= threshold) {
      newTagSize = oldTagSize;
    } else {
      newTagSize = framesEnd + kMinPadding;
    }
    tag_.resize(newTagSize, '\0');
    std::string size4;
    AppendSynchsafe(&size4, std::uint32_t(newTagSize - kHeaderSize));
    tag_.replace(6, 4, size4);

    if (newTagSize == oldTagSize) {
      ++counts_.inPlace;
      if (pwrite(fd, tag_.data(), tag_.size(), 0) != ssize_t(tag_.size()) || !Flush(fd))
        Warn(path);
      close(fd);
    } else {
      ++counts_.whole;
      if (rewrite_ == Rewrite::kShift) {
        Shift(fd, path, oldTagSize, newTagSize, fileSize);
        close(fd);
      } else {
        Copy(fd, path, info, oldTagSize, fileSize);
      }
    }
  }

  // Fills tag_ with the header and frames of the repaired tag; false when the
  // file needs no write (or its tag cannot be read).
  bool BuildRepairedTag(int fd, std::uint64_t fileSize, std::uint64_t* oldTagSize) {
    unsigned char header[kHeaderSize];
    truncated_ = false;
    std::uint64_t tagEnd = 0;
    std::uint32_t version = 0;
    std::uint8_t flags = 0;
    if (fileSize >= kHeaderSize && pread(fd, header, kHeaderSize, 0) == ssize_t(kHeaderSize) &&
        !std::memcmp(header, "ID3", 3) && (header[3] == 3 || header[3] == 4)) {
      version = header[3];
      flags = header[5];
      tagEnd = kHeaderSize + Synchsafe(header + 6) + ((flags & 0x10) ? 10 : 0);
      // A tag cut short: TagLib reads the frames that are there and its save
      // replaces the whole file.
      if (tagEnd > fileSize) {
        tagEnd = fileSize;
        truncated_ = true;
      }
    }
    *oldTagSize = tagEnd;
    if (region_.size() < tagEnd)
      region_.resize(tagEnd);
    if (tagEnd && pread(fd, region_.data(), tagEnd, 0) != ssize_t(tagEnd)) {
      ++counts_.unreadable;
      return false;
    }

    tag_.assign("ID3\x04\x00\x00", 6);
    AppendSynchsafe(&tag_, 0);
    bool changed = false;
    bool present[kFrameCount] = {};
    std::size_t pos = kHeaderSize;
    if (tagEnd && (flags & 0x40)) {
      const unsigned char* ext = region_.data() + pos;
      pos += version == 4 ? Synchsafe(ext) : BigEndian(ext) + 4;
    }
    while (tagEnd && pos + kHeaderSize <= tagEnd && region_[pos] != 0) {
      const unsigned char* frame = region_.data() + pos;
      const std::uint32_t size = version == 4 ? Synchsafe(frame + 4) : BigEndian(frame + 4);
      if (pos + kHeaderSize + size > tagEnd)
        break;
      const unsigned char* body = frame + kHeaderSize;
      const bool qualifies =
          frame[0] == 'T' && size > 1 && body[0] == 0 && HasHighByte(body + 1, size - 1);
      changed |= qualifies;
      AppendFrame(&tag_, reinterpret_cast<const char*>(frame), body, size, qualifies);
      for (int i = 0; i < kFrameCount; ++i)
        present[i] |= !std::memcmp(frame, kFrameIds[i], 4);
      present[kTdrc] |= !std::memcmp(frame, "TYER", 4);
      pos += kHeaderSize + size;
    }

    // ID3v1 fields fill the missing frames as TagLib's copy does; only the
    // title, artist and album land in text frames that are re-decoded.
    unsigned char v1[128];
    if (fileSize >= 128 && pread(fd, v1, 128, off_t(fileSize - 128)) == 128 &&
        !std::memcmp(v1, "TAG", 3)) {
      for (const Id3v1Field& f : kId3v1Fields) {
        if (present[f.frame])
          continue;
        std::string body(1, '\0');
        if (f.frame == kComm)
          body.append("eng\0", 4);
        const unsigned char* field = v1 + f.offset;
        if (f.frame == kTrck) {
          if (v1[125] != 0 || v1[126] == 0)
            continue;
          body += std::to_string(v1[126]);
        } else if (f.frame == kTcon) {
          if (v1[127] == 0xFF)
            continue;
          body += "Genre";  // the length of a typical genre name
        } else {
          const std::size_t length = Id3v1FieldLength(field, f.length);
          if (!length || (f.frame == kTdrc && !std::memcmp(field, "0000", 4)))
            continue;
          body.append(reinterpret_cast<const char*>(field), length);
        }
        const bool qualifies = f.redecoded && HasHighByte(field, f.length);
        changed |= qualifies;
        AppendFrame(&tag_, kFrameIds[f.frame], reinterpret_cast<const unsigned char*>(body.data()),
                    body.size(), qualifies);
      }
    }
    if (!changed)
      ++counts_.untouched;
    return changed;
  }

  // Moves [oldTagSize, end) to start at newTagSize, then writes the tag.
  void Shift(int fd, const std::string& path, std::uint64_t oldTagSize, std::uint64_t newTagSize,
             std::uint64_t fileSize) {
    const std::uint64_t length = fileSize - oldTagSize;
    bool ok = true;
    if (newTagSize > oldTagSize) {
      for (std::uint64_t done = 0; ok && done < length;) {
        const std::uint64_t n = std::min<std::uint64_t>(kMoveChunk, length - done);
        const std::uint64_t from = fileSize - done - n;
        ok = pread(fd, move_.data(), n, off_t(from)) == ssize_t(n) &&
             pwrite(fd, move_.data(), n, off_t(from - oldTagSize + newTagSize)) == ssize_t(n);
        done += n;
      }
    } else {
      for (std::uint64_t done = 0; ok && done < length;) {
        const std::uint64_t n = std::min<std::uint64_t>(kMoveChunk, length - done);
        ok = pread(fd, move_.data(), n, off_t(oldTagSize + done)) == ssize_t(n) &&
             pwrite(fd, move_.data(), n, off_t(newTagSize + done)) == ssize_t(n);
        done += n;
      }
      ok = ok && ftruncate(fd, off_t(newTagSize + length)) == 0;
    }
    ok = ok && pwrite(fd, tag_.data(), tag_.size(), 0) == ssize_t(tag_.size()) && Flush(fd);
    if (!ok)
      Warn(path);
  }

  // Writes the tag and the rest of the file to a new file, then renames it
  // over the old one. Closes `fd`.
  void Copy(int fd, const std::string& path, const struct stat& info, std::uint64_t oldTagSize,
            std::uint64_t fileSize) {
    const std::string temporary = path + ".floor-new";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, info.st_mode & 07777);
    bool ok = out >= 0 && write(out, tag_.data(), tag_.size()) == ssize_t(tag_.size());
    // The audio by kernel-side copy where the system offers it.
    off_t in = off_t(oldTagSize);
    bool kernelCopy = true;
    while (ok && kernelCopy && std::uint64_t(in) < fileSize) {
      const ssize_t n = copy_file_range(fd, &in, out, nullptr, fileSize - std::uint64_t(in), 0);
      if (n <= 0)
        kernelCopy = false;
    }
    for (std::uint64_t at = std::uint64_t(in); ok && at < fileSize;) {
      const std::uint64_t n = std::min<std::uint64_t>(kMoveChunk, fileSize - at);
      ok = pread(fd, move_.data(), n, off_t(at)) == ssize_t(n) &&
           write(out, move_.data(), n) == ssize_t(n);
      at += n;
    }
    close(fd);
    ok = ok && Flush(out);
    if (out >= 0)
      ok = close(out) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (ok && durable_) {
      // The rename itself reaches the disk with its folder.
      const int folder = open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
      ok = folder >= 0 && fsync(folder) == 0;
      if (folder >= 0)
        close(folder);
    }
    if (!ok) {
      unlink(temporary.c_str());
      Warn(path);
    }
  }

  // With --fsync, every written file is flushed: the least a save that
  // survives a crash must pay.
  bool Flush(int fd) const { return !durable_ || fsync(fd) == 0; }

  static void Warn(const std::string& path) {
    std::fprintf(stderr, "floor: could not write %s\n", path.c_str());
  }

  Rewrite rewrite_;
  bool durable_;
  Counts counts_;
  std::vector<unsigned char> move_;
  std::vector<unsigned char> region_;
  std::string tag_;
  bool truncated_ = false;  // the tag read runs past the end of the file
};

}  // namespace

int main(int argc, char** argv) {
  Rewrite rewrite = Rewrite::kShift;
  bool durable = false;
  std::string folder;
  bool usage = false;
  for (int i = 1; i < argc && !usage; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rewrite" && i + 1 < argc) {
      const std::string mode = argv[++i];
      usage = mode != "shift" && mode != "copy";
      rewrite = mode == "copy" ? Rewrite::kCopy : Rewrite::kShift;
    } else if (arg == "--fsync") {
      durable = true;
    } else if (folder.empty() && !arg.empty() && arg[0] != '-') {
      folder = arg;
    } else {
      usage = true;
    }
  }
  if (usage || folder.empty()) {
    std::fprintf(stderr, "usage: floor [--rewrite shift|copy] [--fsync] FOLDER\n");
    return 2;
  }
  Floor floor(rewrite, durable);
  floor.Walk(folder);
  const Counts& c = floor.counts();
  std::printf(
      "floor: %llu files: %llu rewritten whole, %llu tags in place, %llu untouched, "
      "%llu unreadable\n",
      static_cast<unsigned long long>(c.files), static_cast<unsigned long long>(c.whole),
      static_cast<unsigned long long>(c.inPlace), static_cast<unsigned long long>(c.untouched),
      static_cast<unsigned long long>(c.unreadable));
  return 0;
}
