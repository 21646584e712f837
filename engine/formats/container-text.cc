// Reading and repairing the UTF-8 and UTF-16 text fields of containers.
#include "engine/text/album-utf8.h"
#include "engine/formats/container-text.h"

#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/text/language-costs.h"
#include "engine/text/text-shape.h"
#include "engine/platform/text.h"

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

// ShapeOf takes a layer off while what it holds can be bytes again, so that
// the innermost text of UTF-8 encoded once too often reads as bytes too when
// each of its letters is one Windows-1252 holds ("Jožin", "Mládek"): such a
// shape has layers, and what the place holds is that text decoded once more
// than its bytes.
bool TakeOffUtf8Layers(const std::wstring& stored, bool storedAsBytes, std::wstring* text) {
  const TextShape shape = ShapeOf(stored);
  const int decodes = shape.kind == ShapeKind::kUtf8    ? shape.utf8Layers + 1
                      : shape.kind == ShapeKind::kBytes ? shape.utf8Layers
                                                        : 0;
  if (decodes < (storedAsBytes ? 2 : 1))
    return false;
  *text = stored;
  std::string layer;
  for (int i = 0; i < decodes; ++i) {
    CollapseToBytes(*text, &layer);
    *text = DecodeUtf8(layer);
  }
  return true;
}

std::wstring ReadThroughPage(const std::wstring& text, unsigned codePage) {
  std::string bytes;
  if (codePage == kLeaveText || !CollapseToBytes(text, &bytes))
    return text;
  const std::wstring read = DecodeCodePage(codePage, bytes);
  return ReadsCleanly(bytes, read) ? read : text;
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
  std::wstring text;
  if (valid && reading.named) {  // C3
    if (!TakeOffUtf8Layers(stored, false, &text))
      return false;
    *repaired = WideToUtf8(text);
    return *repaired != bytes;
  }
  text = ReadPlace(stored, reading);
  if (!valid && text == stored)
    text = DecodeWestern(bytes);  // C2: raw bytes are never right as they are
  *repaired = WideToUtf8(text);
  return *repaired != bytes;
}

bool RepairWideField(const std::wstring& stored, const FileReading& reading,
                     std::wstring* repaired) {
  *repaired = ReadPlace(stored, reading);
  // A named page that leaves text encoded twice (its bytes read unclean
  // through it) still takes the layers too many off.
  std::wstring text;
  if (*repaired == stored && reading.named && reading.codePage != kLeaveText &&
      TakeOffUtf8Layers(stored, false, &text))
    *repaired = text;
  return *repaired != stored;
}
