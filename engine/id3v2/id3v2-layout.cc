#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/id3v2-layout.h"

#include <cstring>
#include <utility>

namespace {

std::uint32_t BigEndian(const std::string& bytes, std::size_t at, int count) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

bool IsSyncSafe(const std::string& bytes, std::size_t at) {
  for (int i = 0; i < 4; ++i) {
    if (static_cast<unsigned char>(bytes[at + i]) & 0x80)
      return false;
  }
  return true;
}

std::uint32_t SyncSafe(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value = (value << 7) | (static_cast<unsigned char>(bytes[at + i]) & 0x7F);
  return value;
}

// A syncsafe number as TagLib reads it: one with a high bit set was written
// as a plain number.
std::uint32_t SyncSafeOrPlain(const std::string& bytes, std::size_t at) {
  return IsSyncSafe(bytes, at) ? SyncSafe(bytes, at) : BigEndian(bytes, at, 4);
}

void PutBigEndian(std::string* out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(char((value >> shift) & 0xFF));
}

std::string RemoveUnsynchronisation(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == '\0')
      ++i;
  }
  return out;
}

bool IsIdChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsFrameId(const std::string& bytes, std::size_t at, std::size_t length) {
  if (at + length > bytes.size())
    return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsIdChar(bytes[at + i]))
      return false;
  }
  return true;
}

// The size of the version 2.4 frame at `at`. Some writers store plain sizes
// in version 2.4 frames; as TagLib does, a size is read plain when the
// syncsafe reading leads to no frame and the plain one does.
std::uint32_t FrameSizeV24(const std::string& area, std::size_t at) {
  std::uint32_t size = SyncSafeOrPlain(area, at + 4);
  if (size > 127 && IsSyncSafe(area, at + 4) && !IsFrameId(area, at + 10 + size, 4)) {
    const std::uint32_t plain = BigEndian(area, at + 4, 4);
    if (IsFrameId(area, at + 10 + plain, 4))
      size = plain;
  }
  return size;
}

// Splits the stored bytes of a frame into its fields. False when the flags
// promise fields the frame does not hold.
bool ReadFrameBody(int version, bool tagUnsynchronised, std::uint16_t flags, std::string stored,
                   Id3v2Frame* frame) {
  std::size_t at = 0;
  // Takes the next field of `count` bytes when the frame holds it.
  auto take = [&](std::size_t count) {
    if (stored.size() - at < count)
      return false;
    at += count;
    return true;
  };
  auto takeByte = [&](bool present, unsigned char* value) {
    if (!present)
      return true;
    if (!take(1))
      return false;
    *value = static_cast<unsigned char>(stored[at - 1]);
    return true;
  };
  frame->storedFlags = flags;
  if (version == 3) {
    frame->discardOnTagChange = flags & 0x8000;
    frame->discardOnFileChange = flags & 0x4000;
    frame->readOnly = flags & 0x2000;
    frame->compressed = flags & 0x0080;
    frame->encrypted = flags & 0x0040;
    frame->grouped = flags & 0x0020;
    frame->hasDataLength = frame->compressed;
    if (frame->compressed) {
      if (!take(4))
        return false;
      frame->dataLength = BigEndian(stored, at - 4, 4);
    }
    if (!takeByte(frame->encrypted, &frame->encryptionMethod) ||
        !takeByte(frame->grouped, &frame->groupId))
      return false;
  } else if (version == 4) {
    frame->discardOnTagChange = flags & 0x4000;
    frame->discardOnFileChange = flags & 0x2000;
    frame->readOnly = flags & 0x1000;
    frame->grouped = flags & 0x0040;
    frame->compressed = flags & 0x0008;
    frame->encrypted = flags & 0x0004;
    frame->hasDataLength = flags & 0x0001;
    if (flags & 0x0002 || tagUnsynchronised)
      stored = RemoveUnsynchronisation(stored);
    if (!takeByte(frame->grouped, &frame->groupId) ||
        !takeByte(frame->encrypted, &frame->encryptionMethod))
      return false;
    if (frame->hasDataLength) {
      if (!take(4))
        return false;
      frame->dataLength = SyncSafeOrPlain(stored, at - 4);
    }
  }
  stored.erase(0, at);  // the frame keeps the bytes it was given, not a copy
  frame->data = std::move(stored);
  return true;
}

// Walks the frames of `area` (the frame area of a tag, or the frames a
// chapter frame embeds).
void WalkFrames(int version, bool tagUnsynchronised, const std::string& area,
                std::vector<Id3v2Frame>* frames, std::string* unreadable,
                std::size_t* audioAt = nullptr) {
  const std::size_t idLength = version == 2 ? 3 : 4;
  const std::size_t headerLength = version == 2 ? 6 : 10;
  std::size_t at = 0;
  while (at < area.size()) {
    if (area[at] == '\0') {
      // Padding; anything but zeros in it is no frame either, unless it is
      // the first audio frame.
      const std::size_t other = area.find_first_not_of('\0', at);
      if (other == std::string::npos)
        return;
      if (audioAt && area[other] == '\xFF' && other + 1 < area.size() &&
          (static_cast<unsigned char>(area[other + 1]) & 0xE0) == 0xE0) {
        *audioAt = other;
        return;
      }
      *unreadable = "bytes other than padding after the last frame";
      return;
    }
    if (area.size() - at < headerLength || !IsFrameId(area, at, idLength)) {
      *unreadable = "bytes that are no frame at offset " + std::to_string(at);
      return;
    }
    std::uint32_t size = 0;
    std::uint16_t flags = 0;
    if (version == 2) {
      size = BigEndian(area, at + 3, 3);
    } else {
      size = version == 3 ? BigEndian(area, at + 4, 4) : FrameSizeV24(area, at);
      flags = std::uint16_t(BigEndian(area, at + 8, 2));
    }
    Id3v2Frame frame;
    frame.id = area.substr(at, idLength);
    if (size > area.size() - at - headerLength) {
      *unreadable = "frame " + frame.id + " runs past the end of the tag";
      return;
    }
    if (!ReadFrameBody(version, tagUnsynchronised, flags, area.substr(at + headerLength, size),
                       &frame)) {
      if (version != 4 || tagUnsynchronised) {
        *unreadable = "the flags of frame " + frame.id + " promise more than it holds";
        return;
      }
      frame.malformed = true;
      frame.data = area.substr(at + headerLength, size);
    }
    frames->push_back(std::move(frame));
    at += headerLength + size;
  }
}

// Chapter and table-of-contents frames embed frames; from a version 2.3 tag
// those have version 2.3 headers, which a version 2.4 tag must not hold.
bool EmbeddedFramesStart(const Id3v2Frame& frame, std::size_t* start) {
  const std::size_t idEnd = frame.data.find('\0');
  if (idEnd == std::string::npos)
    return false;
  std::size_t at = idEnd + 1;
  if (frame.id == "CHAP") {
    at += 16;
  } else if (frame.id == "CTOC") {
    if (frame.data.size() < at + 2)
      return false;
    const int entries = static_cast<unsigned char>(frame.data[at + 1]);
    at += 2;
    for (int i = 0; i < entries; ++i) {
      const std::size_t end = frame.data.find('\0', at);
      if (end == std::string::npos)
        return false;
      at = end + 1;
    }
  } else {
    return false;
  }
  if (at > frame.data.size())
    return false;
  *start = at;
  return true;
}

}  // namespace

bool Id3v2Frame::operator==(const Id3v2Frame& other) const {
  if (malformed || other.malformed)
    return id == other.id && malformed == other.malformed && storedFlags == other.storedFlags &&
           data == other.data;
  return id == other.id && discardOnTagChange == other.discardOnTagChange &&
         discardOnFileChange == other.discardOnFileChange && readOnly == other.readOnly &&
         compressed == other.compressed && encrypted == other.encrypted &&
         grouped == other.grouped && hasDataLength == other.hasDataLength &&
         groupId == other.groupId && encryptionMethod == other.encryptionMethod &&
         dataLength == other.dataLength && data == other.data;
}

bool ReadId3v2Layout(const std::string& bytes, Id3v2Layout* layout, bool embeddedAsV24) {
  *layout = Id3v2Layout();
  if (bytes.size() < 10 || bytes.compare(0, 3, "ID3") != 0)
    return false;
  const int version = static_cast<unsigned char>(bytes[3]);
  if (version < 2 || version > 4 || bytes[4] == '\xFF' || !IsSyncSafe(bytes, 6))
    return false;
  layout->version = version;
  layout->flags = static_cast<unsigned char>(bytes[5]);
  layout->bodySize = SyncSafe(bytes, 6);
  const bool footer = version == 4 && (layout->flags & 0x10);
  layout->extent = 10 + std::uint64_t(layout->bodySize) + (footer ? 10 : 0);
  if (layout->extent > bytes.size())
    return false;
  if (version == 2 && (layout->flags & 0x40))
    return false;  // a compressed version 2.2 tag: no frames can be read

  const bool unsynchronised = layout->flags & 0x80;
  std::string area = bytes.substr(10, layout->bodySize);
  if (unsynchronised && version < 4)
    area = RemoveUnsynchronisation(area);
  std::uint64_t areaStart = 10;
  if (version >= 3 && (layout->flags & 0x40)) {
    // The extended header: its size counts itself in version 2.4 only.
    if (area.size() < 4)
      return false;
    const std::uint64_t skip = version == 3 ? 4 + std::uint64_t(BigEndian(area, 0, 4))
                                            : std::uint64_t(SyncSafeOrPlain(area, 0));
    if (skip > area.size())
      return false;
    area.erase(0, std::size_t(skip));
    areaStart += skip;
  }
  // Offsets in the walked area are offsets in the file unless the whole tag
  // was unsynchronised.
  const bool mapsToFile = !(unsynchronised && version < 4) && !footer;
  std::size_t audioAt = 0;
  WalkFrames(version, unsynchronised && version == 4, area, &layout->frames, &layout->unreadable,
             mapsToFile ? &audioAt : nullptr);
  if (audioAt)
    layout->audioStart = areaStart + audioAt;
  if (version == 3 && embeddedAsV24) {
    // Frames embedded in chapters are version 2.3 frames too; they are kept
    // in version 2.4 form.
    for (Id3v2Frame& frame : layout->frames) {
      std::size_t start = 0;
      if (frame.compressed || frame.encrypted || !EmbeddedFramesStart(frame, &start))
        continue;
      std::vector<Id3v2Frame> embedded;
      std::string bad;
      WalkFrames(3, false, frame.data.substr(start), &embedded, &bad);
      if (!bad.empty()) {
        layout->unreadable = "frame " + frame.id + " holds " + bad;
        continue;
      }
      std::string converted = frame.data.substr(0, start);
      for (const Id3v2Frame& inner : embedded)
        converted += RenderFrameV24(inner, FrameIdV24(3, inner.id));
      frame.data = converted;
    }
  }
  return true;
}

bool ReadEmbeddedFrames(const Id3v2Frame& chapter, int version,
                        std::vector<EmbeddedFrame>* frames) {
  frames->clear();
  std::size_t at = 0;
  if (chapter.compressed || chapter.encrypted || chapter.malformed ||
      !EmbeddedFramesStart(chapter, &at))
    return false;
  const std::string& data = chapter.data;
  while (at < data.size()) {
    if (data.size() - at < 10 || !IsFrameId(data, at, 4))
      return false;
    EmbeddedFrame frame;
    frame.at = at;
    frame.id = data.substr(at, 4);
    const std::uint32_t size = version == 3 ? BigEndian(data, at + 4, 4) : FrameSizeV24(data, at);
    frame.flags = std::uint16_t(BigEndian(data, at + 8, 2));
    if (size > data.size() - at - 10)
      return false;
    frame.length = 10 + size;
    frame.data = data.substr(at + 10, size);
    frames->push_back(std::move(frame));
    at += 10 + size;
  }
  return true;
}

void AppendSyncsafe(std::string* out, std::uint32_t value) {
  for (int shift = 21; shift >= 0; shift -= 7)
    out->push_back(char((value >> shift) & 0x7F));
}

bool ReadPlainFrameV24(const std::string& bytes, Id3v2Frame* frame) {
  if (bytes.size() < 10 || !IsFrameId(bytes, 0, 4) || !IsSyncSafe(bytes, 4) ||
      SyncSafe(bytes, 4) != bytes.size() - 10 || bytes[8] != '\0' || bytes[9] != '\0')
    return false;
  *frame = Id3v2Frame();
  frame->id = bytes.substr(0, 4);
  frame->data = bytes.substr(10);
  return true;
}

std::string RenderFrameV24(const Id3v2Frame& frame, const std::string& id) {
  if (frame.malformed) {
    std::string out = id.empty() ? frame.id : id;
    AppendSyncsafe(&out, std::uint32_t(frame.data.size()));
    out.push_back(char(frame.storedFlags >> 8));
    out.push_back(char(frame.storedFlags & 0xFF));
    return out + frame.data;
  }
  std::string fields;
  if (frame.grouped)
    fields.push_back(char(frame.groupId));
  if (frame.encrypted)
    fields.push_back(char(frame.encryptionMethod));
  if (frame.hasDataLength)
    AppendSyncsafe(&fields, frame.dataLength);
  std::uint16_t flags = 0;
  flags |= frame.discardOnTagChange ? 0x4000 : 0;
  flags |= frame.discardOnFileChange ? 0x2000 : 0;
  flags |= frame.readOnly ? 0x1000 : 0;
  flags |= frame.grouped ? 0x0040 : 0;
  flags |= frame.compressed ? 0x0008 : 0;
  flags |= frame.encrypted ? 0x0004 : 0;
  flags |= frame.hasDataLength ? 0x0001 : 0;
  std::string out = id.empty() ? frame.id : id;
  AppendSyncsafe(&out, std::uint32_t(fields.size() + frame.data.size()));
  out.push_back(char(flags >> 8));
  out.push_back(char(flags & 0xFF));
  out += fields;
  out += frame.data;
  return out;
}

std::string RenderFrameV23(const Id3v2Frame& frame) {
  std::string fields;
  if (frame.compressed)
    PutBigEndian(&fields, frame.dataLength);
  if (frame.encrypted)
    fields.push_back(char(frame.encryptionMethod));
  if (frame.grouped)
    fields.push_back(char(frame.groupId));
  std::uint16_t flags = 0;
  flags |= frame.discardOnTagChange ? 0x8000 : 0;
  flags |= frame.discardOnFileChange ? 0x4000 : 0;
  flags |= frame.readOnly ? 0x2000 : 0;
  flags |= frame.compressed ? 0x0080 : 0;
  flags |= frame.encrypted ? 0x0040 : 0;
  flags |= frame.grouped ? 0x0020 : 0;
  std::string out = frame.id;
  PutBigEndian(&out, std::uint32_t(fields.size() + frame.data.size()));
  out.push_back(char(flags >> 8));
  out.push_back(char(flags & 0xFF));
  return out + fields + frame.data;
}
