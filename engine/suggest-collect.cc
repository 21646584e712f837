// Gathering text for the code-page suggestion and the album decision: the
// text of every place of a file's first ID3v2 tag and of its ID3v1 tag, read
// without writing, pooled with the rest.
#include "engine/suggest-collect.h"

#include <algorithm>

#include "engine/formats/container-repair.h"
#include "engine/platform/disk-stream.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/suggest-letters.h"

namespace {

std::string ReadAt(DiskReadStream* stream, std::uint64_t offset, std::uint64_t count) {
  stream->seek(long(offset));
  const TagLib::ByteVector bytes = stream->readBlock(static_cast<unsigned long>(count));
  return std::string(bytes.data(), bytes.size());
}

// The tag at the start of the file, where nearly every writer puts it.
void CollectId3v2(DiskReadStream* stream, SuggestionPool* pool) {
  const std::string head = ReadAt(stream, 0, 10);
  Id3v2Layout layout;
  ReadId3v2Layout(head, &layout);
  if (head.compare(0, 3, "ID3") != 0 || layout.extent == 0 ||
      layout.extent > std::uint64_t(stream->length()))
    return;
  if (ReadId3v2Layout(ReadAt(stream, 0, layout.extent), &layout))
    CollectFromLayout(layout, pool);
}

// An ID3v1 field: its bytes up to the first NUL, trailing spaces dropped.
std::string Id3v1Field(const std::string& tag, std::size_t at, std::size_t length) {
  std::string field = tag.substr(at, length);
  field = field.substr(0, field.find('\0'));
  field.erase(field.find_last_not_of(' ') + 1);
  return field;
}

void CollectId3v1(DiskReadStream* stream, SuggestionPool* pool) {
  const long length = stream->length();
  if (length < 128)
    return;
  const std::string tag = ReadAt(stream, std::uint64_t(length - 128), 128);
  if (tag.size() != 128 || tag.compare(0, 3, "TAG") != 0)
    return;
  // A zero byte before the last of the comment's 30 bytes marks a track number.
  const std::size_t commentLength = tag[125] == '\0' && tag[126] != '\0' ? 28 : 30;
  CollectLatin1Text(Id3v1Field(tag, 3, 30), true, pool);
  CollectLatin1Text(Id3v1Field(tag, 33, 30), false, pool);
  CollectLatin1Text(Id3v1Field(tag, 63, 30), false, pool);
  CollectLatin1Text(Id3v1Field(tag, 97, commentLength), false, pool);
}

}  // namespace

void CollectFromFile(const PathString& path, SuggestionPool* pool) {
  const size_t before = pool->offered;
  try {
    // A stream that only reads, through the disk in use.
    DiskReadStream stream(path);
    if (!stream.isOpen())
      return;
    const AudioFormat format = FormatOfPath(path);
    if (format == AudioFormat::kMp3 || format == AudioFormat::kNone) {
      CollectId3v2(&stream, pool);
      CollectId3v1(&stream, pool);
      CollectContainerText(&stream, AudioFormat::kApe, pool);
    } else if (format == AudioFormat::kPlaylist) {
      CollectPlaylistFile(&stream, path, pool);
    } else {
      CollectContainerText(&stream, format, pool);
    }
  } catch (...) {
    // An unreadable file adds what was read before the failure.
  }
  if (pool->offered > before)
    ++pool->fileCount;
}
