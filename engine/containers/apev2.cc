// Reading and writing an APEv2 tag.
#include "engine/containers/apev2.h"

#include <taglib/tbytevectorstream.h>

#include "engine/platform/bytes-le.h"

namespace {

constexpr std::size_t kFrame = 32;  // header or footer

bool IsFrame(const std::string& bytes) {
  return bytes.size() == kFrame && bytes.compare(0, 8, "APETAGEX") == 0;
}

// Walks the items that fill bytes[at, end) exactly, handing each to
// `visit` with where its value lies; a value is never copied here.
template <typename Visit>
bool WalkItems(const std::string& bytes, std::size_t at, std::size_t end, Visit visit) {
  while (at < end) {
    if (end - at < 9)
      return false;
    const std::uint32_t size = ReadLe32(bytes, at);
    const std::uint32_t flags = ReadLe32(bytes, at + 4);
    const std::size_t nul = bytes.find('\0', at + 8);
    if (nul == std::string::npos || nul >= end || nul == at + 8)
      return false;
    const std::size_t keyAt = at + 8, keySize = nul - at - 8;
    at = nul + 1;
    if (size > end - at || !visit(flags, keyAt, keySize, at, std::size_t(size)))
      return false;
    at += size;
  }
  return true;
}

// The items that fill `bytes` exactly.
bool ParseItems(const std::string& bytes, std::vector<ApeItem>* items) {
  return WalkItems(bytes, 0, bytes.size(),
                   [&](std::uint32_t flags, std::size_t keyAt, std::size_t keySize,
                       std::size_t valueAt, std::size_t valueSize) {
                     ApeItem item;
                     item.flags = flags;
                     item.key.assign(bytes, keyAt, keySize);
                     item.value.assign(bytes, valueAt, valueSize);
                     items->push_back(std::move(item));
                     return true;
                   });
}

// The tag whose footer starts at `footerAt`.
bool ReadTagAt(TagLib::IOStream* file, std::uint64_t footerAt, ApeTag* tag) {
  tag->footer = ReadStreamAt(file, footerAt, kFrame);
  if (!IsFrame(tag->footer))
    return false;
  tag->version = ReadLe32(tag->footer, 8);
  const std::uint64_t size = ReadLe32(tag->footer, 12);
  const std::uint32_t flags = ReadLe32(tag->footer, 20);
  const std::uint64_t header = (flags & kApeHasHeader) ? kFrame : 0;
  if (size < kFrame || size + header > footerAt + kFrame || (flags & kApeIsHeader))
    return false;
  tag->start = footerAt + kFrame - size - header;
  tag->size = size + header;
  if (header) {
    tag->header = ReadStreamAt(file, tag->start, kFrame);
    if (!IsFrame(tag->header) || !(ReadLe32(tag->header, 20) & kApeIsHeader))
      return false;
  }
  const std::size_t itemBytes = std::size_t(size - kFrame);
  const std::string items = ReadStreamAt(file, tag->start + header, itemBytes);
  return items.size() == itemBytes && ParseItems(items, &tag->items);
}

bool FindTagEndingAt(TagLib::IOStream* file, std::uint64_t end, ApeTag* tag) {
  return end >= kFrame && ReadTagAt(file, end - kFrame, tag);
}

std::string FrameWith(const std::string& stored, std::uint32_t size, std::uint32_t count) {
  std::string frame = stored;
  PutLe32(&frame, 12, size);
  PutLe32(&frame, 16, count);
  return frame;
}

}  // namespace

bool FindApeTag(TagLib::IOStream* file, ApeTag* tag) {
  const std::uint64_t length = StreamLength(file);
  if (FindTagEndingAt(file, length, tag))
    return true;
  *tag = ApeTag();
  return length >= 128 && ReadStreamAt(file, length - 128, 3) == "TAG" &&
         FindTagEndingAt(file, length - 128, tag);
}

bool ApeTagReadsAs(const std::string& bytes, const ApeTag& tag) {
  if (bytes.size() < kFrame)
    return false;
  const std::string footer = bytes.substr(bytes.size() - kFrame);
  if (!IsFrame(footer) || ReadLe32(footer, 8) != tag.version)
    return false;
  const std::uint64_t size = ReadLe32(footer, 12);
  const std::uint32_t flags = ReadLe32(footer, 20);
  const std::uint64_t header = (flags & kApeHasHeader) ? kFrame : 0;
  if (size < kFrame || size + header != bytes.size() || (flags & kApeIsHeader) ||
      (header != 0) == tag.header.empty())
    return false;
  if (header && (!IsFrame(bytes.substr(0, kFrame)) || !(ReadLe32(bytes, 20) & kApeIsHeader)))
    return false;
  std::size_t next = 0;
  const bool walked =
      WalkItems(bytes, std::size_t(header), bytes.size() - kFrame,
                [&](std::uint32_t itemFlags, std::size_t keyAt, std::size_t keySize,
                    std::size_t valueAt, std::size_t valueSize) {
                  if (next >= tag.items.size())
                    return false;
                  const ApeItem& item = tag.items[next++];
                  return item.flags == itemFlags &&
                         bytes.compare(keyAt, keySize, item.key) == 0 &&
                         bytes.compare(valueAt, valueSize, item.value) == 0;
                });
  return walked && next == tag.items.size();
}

bool ParseApeTag(const std::string& bytes, ApeTag* tag) {
  TagLib::ByteVector data(bytes.data(), static_cast<unsigned int>(bytes.size()));
  TagLib::ByteVectorStream stream(data);
  return FindTagEndingAt(&stream, bytes.size(), tag);
}

std::string RenderApeTag(const ApeTag& tag) {
  // Written once into a string of its final length.
  std::size_t itemBytes = 0;
  for (const ApeItem& item : tag.items)
    itemBytes += 8 + item.key.size() + 1 + item.value.size();
  const std::uint32_t size = std::uint32_t(itemBytes + kFrame);
  const std::uint32_t count = std::uint32_t(tag.items.size());
  std::string out;
  out.reserve((tag.header.empty() ? 0 : kFrame) + itemBytes + kFrame);
  if (!tag.header.empty())
    out += FrameWith(tag.header, size, count);
  for (const ApeItem& item : tag.items) {
    AppendLe32(&out, std::uint32_t(item.value.size()));
    AppendLe32(&out, item.flags);
    out += item.key;
    out.push_back('\0');
    out += item.value;
  }
  out += FrameWith(tag.footer, size, count);
  return out;
}
