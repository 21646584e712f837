// Reading and repairing the UTF-8 and UTF-16 text fields of containers.
#include "engine/container-text.h"

#include "engine/album.h"
#include "engine/codepage.h"
#include "engine/text-shape.h"

namespace {

bool IsValidUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length == 0)
      return false;
    i += length;
  }
  return true;
}

std::wstring ByteCharacters(const std::string& bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (char c : bytes)
    text.push_back(wchar_t(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::wstring StoredUtf8Field(const std::string& bytes) {
  return IsValidUtf8(bytes) ? DecodeUtf8(bytes) : ByteCharacters(bytes);
}

std::wstring ShownUtf8Field(const std::string& bytes) {
  return IsValidUtf8(bytes) ? DecodeUtf8(bytes) : DecodeWestern(bytes);
}

void CollectUtf8Field(const std::string& bytes, bool isTitle, SuggestionPool* pool) {
  CollectPlaceText(StoredUtf8Field(bytes), isTitle, pool);
}

void CollectWideField(const std::wstring& text, bool isTitle, SuggestionPool* pool) {
  CollectPlaceText(text, isTitle, pool);
}

FileReading ReadingOfTexts(const SuggestionPool& own, const Redecoding& redecoding,
                           std::size_t* placesLeft) {
  FileReading reading;
  if (redecoding.automatic) {
    reading = DecideFileReading(own, redecoding.codePage, redecoding.named,
                                redecoding.trackCodePages);
  } else {
    reading.codePage = redecoding.codePage ? redecoding.codePage : AnsiCodePage();
    reading.albumCodePage = reading.codePage;
    reading.named = true;
  }
  reading.placesLeft = placesLeft;
  return reading;
}

bool RepairUtf8Field(const std::string& bytes, const FileReading& reading, std::string* repaired) {
  if (reading.named && reading.codePage == kLeaveText)
    return false;
  const bool valid = IsValidUtf8(bytes);
  const std::wstring stored = valid ? DecodeUtf8(bytes) : ByteCharacters(bytes);
  if (valid && reading.named && ShapeOf(stored).kind != ShapeKind::kUtf8)
    return false;  // C3
  std::wstring text = ReadPlace(stored, reading);
  if (!valid && text == stored)
    text = DecodeWestern(bytes);  // C2: raw bytes are never right as they are
  *repaired = WideToUtf8(text);
  return *repaired != bytes;
}

bool RepairWideField(const std::wstring& stored, const FileReading& reading,
                     std::wstring* repaired) {
  *repaired = ReadPlace(stored, reading);
  return *repaired != stored;
}
