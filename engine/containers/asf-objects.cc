// Reading an ASF Header Object.
#include "engine/containers/asf-objects.h"

#include "engine/containers/container-bytes.h"

const char kAsfHeaderGuid[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
const char kAsfFilePropertiesGuid[] =
    "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65";
const char kAsfHeaderExtensionGuid[] =
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65";
const char kAsfPaddingGuid[] = "\x74\xD4\x06\x18\xDF\xCA\x09\x45\xA4\xBA\x9A\xAB\xCB\x96\xAA\xE8";

namespace {

const char kContentGuid[] = "\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
const char kExtendedGuid[] = "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50";
const char kMetadataGuid[] = "\xEA\xCB\xF8\xC5\xAF\x5B\x77\x48\x84\x67\xAA\x8C\x44\xFA\x4C\xCA";
const char kLibraryGuid[] = "\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54";

bool Is(const std::string& guid, const char* wanted) {
  return guid == std::string(wanted, 16);
}

// The objects of bytes[from, to); false when one does not fit (AS1).
bool ReadObjects(const std::string& bytes, std::uint64_t from, std::uint64_t to, int parent,
                 std::vector<AsfObject>* objects) {
  for (std::uint64_t at = from; at < to;) {
    if (to - at < 24)
      return false;
    AsfObject object;
    object.guid = bytes.substr(std::size_t(at), 16);
    object.at = at;
    object.size = GetLittleEndian(bytes, std::size_t(at + 16), 8);
    object.parent = parent;
    if (object.size < 24 || object.size > to - at)
      return false;
    objects->push_back(object);
    at += object.size;
  }
  return true;
}

std::wstring Utf16Name(const std::string& bytes) {
  std::wstring name = DecodeUtf16(bytes, false);
  while (!name.empty() && name.back() == L'\0')
    name.pop_back();
  return name;
}

bool ReadContent(const std::string& b, int index, const AsfObject& o, std::vector<AsfField>* out) {
  static const wchar_t* const kNames[] = {L"Title", L"Author", L"Copyright", L"Description",
                                          L"Rating"};
  std::uint64_t at = o.at + 24 + 10;
  if (o.size < 34)
    return false;
  for (int i = 0; i < 5; ++i) {
    AsfField field;
    field.object = index;
    field.key = std::string(1, char(i));
    field.name = kNames[i];
    field.lengthAt = o.at + 24 + 2 * std::uint64_t(i);
    field.length = GetLittleEndian(b, std::size_t(field.lengthAt), 2);
    field.at = at;
    field.isTitle = i == 0;
    if (field.length > o.at + o.size - at)
      return false;
    at += field.length;
    out->push_back(field);
  }
  return true;
}

bool ReadExtended(const std::string& b, int index, const AsfObject& o, std::vector<AsfField>* out) {
  const std::uint64_t end = o.at + o.size;
  std::uint64_t at = o.at + 24;
  if (end - at < 2)
    return false;
  const std::uint64_t count = GetLittleEndian(b, std::size_t(at), 2);
  at += 2;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (end - at < 2)
      return false;
    const std::uint64_t nameLength = GetLittleEndian(b, std::size_t(at), 2);
    if (end - at < 6 + nameLength)
      return false;
    AsfField field;
    field.object = index;
    field.key = b.substr(std::size_t(at + 2), std::size_t(nameLength + 2));
    field.name = Utf16Name(b.substr(std::size_t(at + 2), std::size_t(nameLength)));
    field.type = int(GetLittleEndian(b, std::size_t(at + 2 + nameLength), 2));
    field.lengthAt = at + 4 + nameLength;
    field.length = GetLittleEndian(b, std::size_t(field.lengthAt), 2);
    field.at = at + 6 + nameLength;
    if (field.length > end - field.at)
      return false;
    at = field.at + field.length;
    out->push_back(field);
  }
  return true;
}

// Metadata and Metadata Library objects: records of language, stream, name
// length, type and a 32-bit value length.
bool ReadMetadata(const std::string& b, int index, const AsfObject& o, std::vector<AsfField>* out) {
  const std::uint64_t end = o.at + o.size;
  std::uint64_t at = o.at + 24;
  if (end - at < 2)
    return false;
  const std::uint64_t count = GetLittleEndian(b, std::size_t(at), 2);
  at += 2;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (end - at < 12)
      return false;
    const std::uint64_t nameLength = GetLittleEndian(b, std::size_t(at + 4), 2);
    const std::uint64_t length = GetLittleEndian(b, std::size_t(at + 8), 4);
    if (end - at - 12 < nameLength || end - at - 12 - nameLength < length)
      return false;
    AsfField field;
    field.object = index;
    field.key = b.substr(std::size_t(at), 8) + b.substr(std::size_t(at + 12), std::size_t(nameLength));
    field.name = Utf16Name(b.substr(std::size_t(at + 12), std::size_t(nameLength)));
    field.type = int(GetLittleEndian(b, std::size_t(at + 6), 2));
    field.lengthAt = at + 8;
    field.lengthWidth = 4;
    field.length = length;
    field.at = at + 12 + nameLength;
    at = field.at + length;
    out->push_back(field);
  }
  return true;
}

}  // namespace

bool ParseAsfHeader(const std::string& bytes, AsfHeader* header) {
  header->bytes = bytes;
  header->objects.clear();
  header->fields.clear();
  if (bytes.size() < 30 || !Is(bytes.substr(0, 16), kAsfHeaderGuid) ||
      GetLittleEndian(bytes, 16, 8) != bytes.size())
    return false;
  if (!ReadObjects(bytes, 30, bytes.size(), -1, &header->objects))
    return false;
  const std::size_t direct = header->objects.size();
  for (std::size_t i = 0; i < direct; ++i) {
    const AsfObject o = header->objects[i];
    if (!Is(o.guid, kAsfHeaderExtensionGuid))
      continue;
    // reserved GUID and number, the size of the objects, the objects
    if (o.size < 46 || GetLittleEndian(bytes, std::size_t(o.at + 42), 4) != o.size - 46 ||
        !ReadObjects(bytes, o.at + 46, o.at + o.size, int(i), &header->objects))
      return false;
  }
  for (std::size_t i = 0; i < header->objects.size(); ++i) {
    const AsfObject& o = header->objects[i];
    const bool read = Is(o.guid, kContentGuid)    ? ReadContent(bytes, int(i), o, &header->fields)
                      : Is(o.guid, kExtendedGuid) ? ReadExtended(bytes, int(i), o, &header->fields)
                      : Is(o.guid, kMetadataGuid) || Is(o.guid, kLibraryGuid)
                          ? ReadMetadata(bytes, int(i), o, &header->fields)
                          : true;
    if (!read)
      return false;
  }
  return true;
}

bool ReadAsfHeader(TagLib::IOStream* file, AsfHeader* header) {
  const std::string head = ReadStreamAt(file, 0, 30);
  if (head.size() < 30 || !Is(head.substr(0, 16), kAsfHeaderGuid))
    return false;
  const std::uint64_t size = GetLittleEndian(head, 16, 8);
  if (size < 30 || size > kLargestAsfHeader || size > StreamLength(file))
    return false;
  return ParseAsfHeader(ReadStreamAt(file, 0, size), header);
}

bool AsfStringValue(const std::string& value, std::wstring* text, bool* terminated) {
  if (value.size() % 2 != 0)
    return false;
  *terminated = value.size() >= 2 && value[value.size() - 1] == '\0' &&
                value[value.size() - 2] == '\0';
  *text = DecodeUtf16(value.substr(0, value.size() - (*terminated ? 2 : 0)), false);
  return true;
}
