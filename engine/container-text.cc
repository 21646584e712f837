// Reading and repairing the UTF-8 and UTF-16 text fields of containers.
#include "engine/container-text.h"

#include "engine/album.h"
#include "engine/codepage.h"
#include "engine/language-costs.h"
#include "engine/text-shape.h"

namespace {

// UTF-8 text holding a few stray bytes that belong to no sequence (a writer
// that cut one short, or a byte of another page inside a UTF-8 title): at
// least two whole multi-byte sequences, and twice as many as stray bytes.
// Code-page text holds whole sequences only by chance, rarely so many.
bool IsMostlyUtf8(const std::string& bytes) {
  std::size_t sequences = 0, strays = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    sequences += length > 1;
    strays += length == 0;
    i += length ? length : 1;
  }
  return strays > 0 && sequences >= 2 && sequences >= 2 * strays;
}

// Such text with its sequences read as UTF-8 and each stray byte through
// `codePage` (a single-byte page; else as Western text).
std::wstring MixedUtf8(const std::string& bytes, unsigned codePage) {
  std::wstring text;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8SequenceAt(bytes, i, &c);
    if (length) {
      AppendWide(&text, c);
      i += length;
      continue;
    }
    const std::string stray(1, bytes[i++]);
    const std::wstring read = codePage != kLeaveText && !IsDoubleByte(codePage)
                                  ? DecodeCodePage(codePage, stray)
                                  : DecodeWestern(stray);
    text += ReadsCleanly(stray, read) ? read : DecodeWestern(stray);
  }
  return text;
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
  if (IsValidUtf8(bytes))
    return DecodeUtf8(bytes);
  return IsMostlyUtf8(bytes) ? MixedUtf8(bytes, kLeaveText) : ByteCharacters(bytes);
}

std::wstring ShownUtf8Field(const std::string& bytes) {
  if (IsValidUtf8(bytes))
    return DecodeUtf8(bytes);
  return IsMostlyUtf8(bytes) ? MixedUtf8(bytes, kLeaveText) : DecodeWestern(bytes);
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
    reading.wholeRun = true;
  }
  reading.placesLeft = placesLeft;
  return reading;
}

bool RepairUtf8Field(const std::string& bytes, const FileReading& reading, std::string* repaired) {
  if (reading.named && reading.codePage == kLeaveText)
    return false;
  const bool valid = IsValidUtf8(bytes);
  if (!valid && IsMostlyUtf8(bytes)) {  // C2, without reading its UTF-8 as bytes
    *repaired = WideToUtf8(MixedUtf8(bytes, reading.codePage));
    return true;
  }
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
