// Finding and reading an MP3 file's stored ID3v2 tag.
#include "engine/id3v2/id3v2-ids.h"
#include "engine/formats/stored-tag.h"

#include <algorithm>

#include "engine/id3v2/redecode.h"

// Read straight into the string.
std::string ReadContentAt(EditStream* stream, std::uint64_t offset, std::uint64_t count) {
  const std::uint64_t length = std::uint64_t(stream->length());
  const std::uint64_t from = std::min(offset, length);
  std::string bytes;
  if (!stream->ReadContent(from, std::min(count, length - from), &bytes))
    bytes.clear();
  return bytes;
}

namespace {

// Where TagLib found the tag: the first "ID3" of the file, since its search
// stops there or, without a tag, at the first audio frame. `head` is given
// the bytes read from there on.
bool FindTagStart(EditStream* stream, std::uint64_t* start, std::string* head) {
  constexpr std::uint64_t kBlock = 64 * 1024;
  *head = ReadContentAt(stream, 0, 10);
  if (head->compare(0, 3, "ID3") == 0) {  // nearly always
    *start = 0;
    return true;
  }
  const std::uint64_t length = std::uint64_t(stream->length());
  for (std::uint64_t at = 0; at < length; at += kBlock - 2) {
    const std::string block = ReadContentAt(stream, at, kBlock);
    const std::size_t found = block.find("ID3");
    if (found != std::string::npos) {
      *start = at + found;
      *head = block.substr(found);
      return true;
    }
  }
  return false;
}

// Reads the tag that starts at `tag->start`, whose first bytes `head` holds:
// the header tells the extent, and the rest is read when it lies in the file.
bool ReadTagBytes(EditStream* stream, std::string head, StoredTag* tag) {
  if (head.size() < 10)  // "ID3" at the end of a searched block
    head = ReadContentAt(stream, tag->start, 10);
  ReadId3v2Layout(head.substr(0, 10), &tag->layout);
  const std::uint64_t extent = tag->layout.extent;
  if (extent == 0 || tag->start + extent > std::uint64_t(stream->length()))
    return false;
  tag->bytes = head.substr(0, std::size_t(std::min<std::uint64_t>(head.size(), extent)));
  if (tag->bytes.size() < extent)
    tag->bytes += ReadContentAt(stream, tag->start + tag->bytes.size(), extent - tag->bytes.size());
  return ReadId3v2Layout(tag->bytes, &tag->layout);
}

}  // namespace

bool FindAndReadTag(EditStream* stream, StoredTag* tag) {
  std::string head;
  return FindTagStart(stream, &tag->start, &head) && ReadTagBytes(stream, head, tag);
}

bool FindTrailingTag(EditStream* stream, std::uint64_t* start) {
  constexpr std::uint64_t kSearched = 64 * 1024;
  const std::uint64_t length = std::uint64_t(stream->length());
  const std::uint64_t from = length > kSearched ? length - kSearched : 0;
  const std::string tail = ReadContentAt(stream, from, length - from);
  for (std::size_t at = tail.find("ID3"); at != std::string::npos; at = tail.find("ID3", at + 1)) {
    Id3v2Layout layout;
    if (!ReadId3v2Layout(tail.substr(at), &layout))
      continue;
    for (const Id3v2Frame& frame : layout.frames) {
      if (IsRedecodable(frame, FrameIdV24(layout.version, frame.id))) {
        *start = from + at;
        return true;
      }
    }
  }
  return false;
}
