// Parsing, rendering and repairing a Vorbis comment block.
#include "engine/text/album-utf8.h"
#include "engine/formats/vorbis-comment.h"

#include <cstdint>

#include "engine/text/album.h"
#include "engine/platform/bytes-le.h"
#include "engine/formats/container-text.h"

namespace {

bool ReadLength(const std::string& bytes, std::size_t* at, std::uint32_t* length) {
  if (bytes.size() < 4 || *at > bytes.size() - 4)
    return false;
  *length = ReadLe32(bytes, *at);
  *at += 4;
  return true;
}

bool ReadString(const std::string& bytes, std::size_t* at, std::string* out) {
  std::uint32_t length = 0;
  if (!ReadLength(bytes, at, &length) || length > bytes.size() - *at)
    return false;
  out->assign(bytes, *at, length);
  *at += length;
  return true;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool KeyIs(const std::string& key, const char* name) {
  std::size_t i = 0;
  for (; name[i]; ++i)
    if (i >= key.size() || Upper(key[i]) != name[i])
      return false;
  return i == key.size();
}

// The key of an entry whose value holds text; false for an entry that stays
// as stored whatever it holds (V2).
bool TextKey(const std::string& entry, std::string* key) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string::npos || equals == 0)
    return false;
  key->assign(entry, 0, equals);
  for (char c : *key)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7D)
      return false;
  return !KeyIs(*key, "METADATA_BLOCK_PICTURE") && !KeyIs(*key, "COVERART") &&
         !KeyIs(*key, "COVERARTMIME");
}

}  // namespace

bool ParseVorbisComment(const std::string& bytes, std::size_t at, VorbisComment* comment,
                        std::size_t* end) {
  comment->entries.clear();
  std::uint32_t count = 0;
  if (!ReadString(bytes, &at, &comment->vendor) || !ReadLength(bytes, &at, &count))
    return false;
  if (count > (bytes.size() - at) / 4)  // each entry takes at least its length
    return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string entry;
    if (!ReadString(bytes, &at, &entry))
      return false;
    comment->entries.push_back(std::move(entry));
  }
  *end = at;
  return true;
}

std::string RenderVorbisComment(const VorbisComment& comment) {
  std::string out;
  AppendVorbisComment(comment, &out);
  return out;
}

std::size_t VorbisCommentSize(const VorbisComment& comment) {
  std::size_t size = 8 + comment.vendor.size();
  for (const std::string& entry : comment.entries)
    size += 4 + entry.size();
  return size;
}

void AppendVorbisComment(const VorbisComment& comment, std::string* out) {
  out->reserve(out->size() + VorbisCommentSize(comment));
  AppendLe32(out, std::uint32_t(comment.vendor.size()));
  *out += comment.vendor;
  AppendLe32(out, std::uint32_t(comment.entries.size()));
  for (const std::string& entry : comment.entries) {
    AppendLe32(out, std::uint32_t(entry.size()));
    *out += entry;
  }
}

void CollectVorbisComment(const VorbisComment& comment, SuggestionPool* pool) {
  std::string key;
  for (const std::string& entry : comment.entries)
    if (TextKey(entry, &key))
      CollectUtf8Field(entry.substr(key.size() + 1), KeyIs(key, "TITLE"), pool);
}

bool RepairVorbisComment(const VorbisComment& in, const FileReading& reading, VorbisComment* out,
                         std::vector<FrameChange>* changes) {
  *out = in;
  return RepairVorbisCommentInPlace(out, reading, changes);
}

bool RepairVorbisCommentInPlace(VorbisComment* comment, const FileReading& reading,
                                std::vector<FrameChange>* changes) {
  bool changed = false;
  std::string key, repaired;
  for (std::string& entry : comment->entries) {
    if (!TextKey(entry, &key))
      continue;
    const std::string value = entry.substr(key.size() + 1);
    if (!RepairUtf8Field(value, reading, &repaired))
      continue;
    if (changes)
      changes->push_back(FrameChange{key, ShownUtf8Field(value), DecodeUtf8(repaired)});
    entry = key + "=" + repaired;
    changed = true;
  }
  return changed;
}

bool VorbisCommentReadsAs(const std::string& bytes, std::size_t at,
                          const VorbisComment& comment, std::size_t* end) {
  // As ParseVorbisComment reads, each string compared where it lies.
  const auto same = [&](const std::string& expected) {
    std::uint32_t length = 0;
    if (!ReadLength(bytes, &at, &length) || length > bytes.size() - at ||
        bytes.compare(at, length, expected) != 0)
      return false;
    at += length;
    return true;
  };
  std::uint32_t count = 0;
  if (!same(comment.vendor) || !ReadLength(bytes, &at, &count) || count != comment.entries.size())
    return false;
  for (const std::string& entry : comment.entries) {
    if (!same(entry))
      return false;
  }
  *end = at;
  return true;
}

bool SameVorbisComment(const VorbisComment& a, const VorbisComment& b) {
  return a.vendor == b.vendor && a.entries == b.entries;
}
