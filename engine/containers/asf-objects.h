// The Header Object of an ASF (WMA) file read byte by byte: its objects,
// and every field of its Content Description, Extended Content Description,
// Metadata and Metadata Library objects (the last two inside the Header
// Extension), with where each value and its length are stored.
//
// Invariants:
//   AS1. Every object and field a read gives lies whole inside the object
//       that holds it, and every object inside the Header Object; sizes are
//       never trusted past the bytes read.
//   AS2. The fields come object by object: the Header Object's children in
//       their order, then the children of its Header Extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

struct AsfObject {
  std::string guid;  // 16 bytes as stored
  std::uint64_t at = 0, size = 0;
  int parent = -1;   // index of the Header Extension that holds it, else -1
};

struct AsfField {
  int object = 0;        // index among AsfHeader::objects
  std::string key;       // the stored bytes that name the field (name, type, stream)
  std::wstring name;     // for a person: "Title", "WM/AlbumTitle", ...
  int type = 0;          // 0: a UTF-16LE string; others kept as bytes
  std::uint64_t at = 0, length = 0;   // the value
  std::uint64_t lengthAt = 0;         // its length field
  int lengthWidth = 2;
  bool isTitle = false;
};

struct AsfHeader {
  std::string bytes;  // the whole Header Object
  std::vector<AsfObject> objects;  // its children, then those of Header Extensions
  std::vector<AsfField> fields;
};

extern const char kAsfHeaderGuid[], kAsfFilePropertiesGuid[], kAsfHeaderExtensionGuid[],
    kAsfPaddingGuid[];

// A Header Object larger than this is not read.
constexpr std::uint64_t kLargestAsfHeader = std::uint64_t(64) << 20;

// Reads the Header Object at the file's start; false when the file does not
// start with one or it cannot be read whole.
bool ReadAsfHeader(TagLib::IOStream* file, AsfHeader* header);
// The same over the header's bytes.
bool ParseAsfHeader(const std::string& bytes, AsfHeader* header);

// A UTF-16LE string value: its text without the terminating NUL, and
// whether one was stored. False for an odd length.
bool AsfStringValue(const std::string& value, std::wstring* text, bool* terminated);
