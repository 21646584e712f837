// The ASF (WMA) module (engine/formats/format.h): the UTF-16 strings of the Content
// Description, Extended Content Description, Metadata and Metadata Library
// objects, repaired in place in the Header Object, which is the one range
// rewritten (from the file's start).
//
// Nothing after the Header Object holds a byte offset into the file: the
// Data Object's packets are found by their fixed size, the Simple Index
// holds packet numbers, and the Index Object's block positions count from
// the first data packet. So the header may change length; the File
// Properties object's file size follows. A Padding Object takes up the
// change when it can; else the header grows by whole 4096-byte blocks, a
// Padding Object (new, or the old one grown) filling the rest.
#include <algorithm>
#include <map>

#include "engine/containers/asf-objects.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-asf.h"
#include "engine/formats/format.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace {

constexpr std::uint64_t kBlock = 4096, kPaddingHeader = 24;

std::string ValueOf(const AsfHeader& header, const AsfField& field) {
  return header.bytes.substr(std::size_t(field.at), std::size_t(field.length));
}

bool Is(const std::string& guid, const char* wanted) {
  return guid == std::string(wanted, 16);
}

// Adds `change` to the 8-byte size of the object at `at`.
void Grow(std::string* bytes, std::uint64_t at, std::int64_t change) {
  const std::uint64_t size = GetLittleEndian(*bytes, std::size_t(at + 16), 8);
  PutLittleEndian(bytes, std::size_t(at + 16), std::uint64_t(std::int64_t(size) + change), 8);
}

// The header with each changed value spliced in, the lengths and the sizes
// of the objects that hold them following; false when a length field is too
// narrow for a new value.
bool SpliceValues(const AsfHeader& header, const std::map<std::size_t, std::string>& values,
                  std::string* out) {
  *out = header.bytes;
  // From the last value in the header back (the Header Extension's fields
  // may lie before others): every length and size field lies before the
  // values it counts, so the positions still to be used stay right.
  std::vector<std::pair<std::uint64_t, std::size_t>> order;
  for (const auto& [index, value] : values)
    order.emplace_back(header.fields[index].at, index);
  std::sort(order.rbegin(), order.rend());
  for (const auto& [at, index] : order) {
    const AsfField& field = header.fields[index];
    const std::string& value = values.at(index);
    const std::int64_t change = std::int64_t(value.size()) - std::int64_t(field.length);
    const std::uint64_t widest = field.lengthWidth == 2 ? 0xFFFF : 0xFFFFFFFFu;
    if (value.size() > widest)
      return false;
    out->replace(std::size_t(at), std::size_t(field.length), value);
    PutLittleEndian(out, std::size_t(field.lengthAt), value.size(), field.lengthWidth);
    const AsfObject& object = header.objects[std::size_t(field.object)];
    Grow(out, object.at, change);
    if (object.parent >= 0) {
      const std::uint64_t extension = header.objects[std::size_t(object.parent)].at;
      Grow(out, extension, change);
      const std::uint64_t inner = GetLittleEndian(*out, std::size_t(extension + 42), 4);
      PutLittleEndian(out, std::size_t(extension + 42), std::uint64_t(std::int64_t(inner) + change),
                      4);
    }
    Grow(out, 0, change);
  }
  return true;
}

const AsfObject* DirectPadding(const AsfHeader& header) {
  for (const AsfObject& object : header.objects) {
    if (object.parent < 0 && Is(object.guid, kAsfPaddingGuid))
      return &object;
  }
  return nullptr;
}

const AsfObject* FileProperties(const AsfHeader& header) {
  for (const AsfObject& object : header.objects) {
    if (object.parent < 0 && Is(object.guid, kAsfFilePropertiesGuid) && object.size >= 24 + 48)
      return &object;
  }
  return nullptr;
}

// Keeps the header's length with its Padding Object where it can, else pads
// the header to grow by whole blocks, and sets the file size. `change` is
// what the new values added; `total` is set to the header's change in length.
bool Pad(std::int64_t change, std::string* out, std::int64_t* total) {
  AsfHeader parsed;
  if (!ParseAsfHeader(*out, &parsed))
    return false;
  const AsfObject* padding = DirectPadding(parsed);
  const std::int64_t block = std::int64_t(kBlock), least = std::int64_t(kPaddingHeader);
  std::int64_t size = 0;
  if (change != 0 && padding) {
    size = std::int64_t(padding->size) - change;
    while (size < least)
      size += block;
    *total = change + size - std::int64_t(padding->size);
  } else if (change != 0) {
    size = ((-change) % block + block) % block;
    if (size < least)
      size += block;
    *total = change + size;
  } else {
    *total = 0;
    return true;
  }
  // The file size first, while the objects are where `parsed` found them.
  if (const AsfObject* properties = FileProperties(parsed)) {
    const std::size_t at = std::size_t(properties->at + 40);
    PutLittleEndian(out, at, std::uint64_t(std::int64_t(GetLittleEndian(*out, at, 8)) + *total), 8);
  }
  if (padding) {
    std::string object = out->substr(std::size_t(padding->at), std::size_t(padding->size));
    object.resize(std::size_t(size), '\0');
    PutLittleEndian(&object, 16, std::uint64_t(size), 8);
    out->replace(std::size_t(padding->at), std::size_t(padding->size), object);
  } else {
    *out += std::string(kAsfPaddingGuid, 16) + LittleEndianBytes(std::uint64_t(size), 8) +
            std::string(std::size_t(size) - kPaddingHeader, '\0');
    PutLittleEndian(out, 24, GetLittleEndian(*out, 24, 4) + 1, 4);
  }
  PutLittleEndian(out, 16, out->size(), 8);
  return true;
}

// The objects of a header other than padding, each as its GUID and the
// bytes that no field or size covers: whole for an object without fields
// or sizes that change.
std::vector<std::string> Kept(const AsfHeader& header) {
  std::vector<std::string> kept;
  std::vector<bool> holds(header.objects.size(), false);
  for (const AsfField& field : header.fields)
    holds[std::size_t(field.object)] = true;
  for (std::size_t i = 0; i < header.objects.size(); ++i) {
    const AsfObject& o = header.objects[i];
    if (Is(o.guid, kAsfPaddingGuid))
      continue;
    std::string bytes = o.guid;
    if (Is(o.guid, kAsfHeaderExtensionGuid))
      bytes += header.bytes.substr(std::size_t(o.at + 24), 18);
    else if (Is(o.guid, kAsfFilePropertiesGuid))
      bytes += header.bytes.substr(std::size_t(o.at + 24), 16) +
               header.bytes.substr(std::size_t(o.at + 48), std::size_t(o.size - 48));
    else if (!holds[i])
      bytes += header.bytes.substr(std::size_t(o.at), std::size_t(o.size));
    kept.push_back(bytes);
  }
  return kept;
}

std::uint64_t FileSize(const AsfHeader& header) {
  const AsfObject* properties = FileProperties(header);
  return properties ? GetLittleEndian(header.bytes, std::size_t(properties->at + 40), 8) : 0;
}

// Reads the new header back (engine/formats/format.h F2): every field as stored but
// the changed ones, every object as stored but for sizes, padding and the
// file size, which grows with the header.
bool CheckHeader(const AsfHeader& old, const std::map<std::size_t, std::string>& values,
                 const std::string& bytes, std::int64_t total, std::wstring* detail) {
  AsfHeader got;
  *detail = L"the rewritten Header Object does not read back";
  if (!ParseAsfHeader(bytes, &got) || got.fields.size() != old.fields.size() ||
      (FileProperties(old) == nullptr) != (FileProperties(got) == nullptr))
    return false;
  for (std::size_t i = 0; i < got.fields.size(); ++i) {
    const AsfField& a = old.fields[i];
    const AsfField& b = got.fields[i];
    const auto value = values.find(i);
    const std::string want = value != values.end() ? value->second : ValueOf(old, a);
    if (a.key != b.key || a.type != b.type || ValueOf(got, b) != want ||
        old.objects[std::size_t(a.object)].guid != got.objects[std::size_t(b.object)].guid) {
      *detail = L"the field " + a.name + L" would not read as it should";
      return false;
    }
  }
  *detail = L"an object of the Header Object would change";
  if (Kept(old) != Kept(got) || old.bytes.compare(28, 2, bytes, 28, 2) != 0)
    return false;
  *detail = L"the file size of the File Properties object would be wrong";
  return FileSize(got) == std::uint64_t(std::int64_t(FileSize(old)) + total);
}

}  // namespace

void CollectAsfText(TagLib::IOStream* file, SuggestionPool* pool) {
  AsfHeader header;
  if (!ReadAsfHeader(file, &header))
    return;
  for (const AsfField& field : header.fields) {
    std::wstring text;
    bool terminated = false;
    if (field.type == 0 && AsfStringValue(ValueOf(header, field), &text, &terminated))
      CollectWideField(text, field.isTitle, pool);
  }
}

unsigned RenderAsfRepair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit) {
  AsfHeader header;
  if (!ReadAsfHeader(file, &header))
    return WM_FIX_NOT_NEEDED;
  std::map<std::size_t, std::string> values;
  std::vector<FrameChange> changes;
  for (std::size_t i = 0; i < header.fields.size(); ++i) {
    const AsfField& field = header.fields[i];
    std::wstring stored, repaired;
    bool terminated = false;
    if (field.type != 0 || !AsfStringValue(ValueOf(header, field), &stored, &terminated) ||
        !RepairWideField(stored, reading, &repaired))
      continue;
    values[i] = EncodeUtf16(repaired, false) + (terminated ? std::string(2, '\0') : "");
    changes.push_back(FrameChange{WideToUtf8(field.name), stored, repaired});
  }
  if (values.empty())
    return WM_FIX_NOT_NEEDED;
  std::string bytes;
  if (!SpliceValues(header, values, &bytes))
    return RefuseRepair(outcome, L"a repaired value would outgrow its length field");
  std::int64_t total = 0;
  std::wstring detail;
  if (!Pad(std::int64_t(bytes.size()) - std::int64_t(header.bytes.size()), &bytes, &total))
    return RefuseRepair(outcome, L"the rewritten Header Object does not read back");
  if (!CheckHeader(header, values, bytes, total, &detail))
    return RefuseRepair(outcome, detail);
  edit->recorded = true;
  edit->offset = 0;
  edit->replaced = header.bytes.size();
  edit->bytes = std::move(bytes);
  outcome->changes = std::move(changes);
  return WM_FIX_SUCCEEDED;
}
