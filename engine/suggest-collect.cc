// Gathering text for the code-page suggestion and the album decision: the
// text of every place of a file's first ID3v2 tag and of its ID3v1 tag, read
// without writing, pooled with the rest.
#include "engine/suggest.h"

#include <algorithm>

#include "engine/container-repair.h"
#include "engine/disk-stream.h"
#include "engine/id3v2-layout.h"
#include "engine/place-reading.h"
#include "engine/suggest-letters.h"

namespace {

size_t CountHighBytes(const std::string& bytes) {
  return size_t(std::count_if(bytes.begin(), bytes.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

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

void AddSampleText(SuggestionPool* pool, const std::string& latin1Bytes, bool isTitle) {
  const size_t high = CountHighBytes(latin1Bytes);
  if (high == 0)
    return;
  ++pool->offered;
  if (pool->distinctTexts && !pool->distinct.insert(latin1Bytes).second)
    return;
  pool->texts.push_back(latin1Bytes);
  if (isTitle)
    pool->titles.push_back(latin1Bytes);
  pool->byteCount += latin1Bytes.size();
  pool->highByteCount += high;
}

void MergePool(SuggestionPool* into, const SuggestionPool& from) {
  for (const std::string& text : from.texts) {
    const bool title = std::find(from.titles.begin(), from.titles.end(), text) != from.titles.end();
    AddSampleText(into, text, title);
  }
  into->fileCount += from.fileCount;
  into->utf8Texts += from.utf8Texts;
  into->replacementTexts += from.replacementTexts;
  for (std::size_t i = 0; i < into->scriptLetters.size() && i < from.scriptLetters.size(); ++i)
    into->scriptLetters[i] += from.scriptLetters[i];
}

void AddEvidenceText(SuggestionPool* pool, const std::wstring& text) {
  for (wchar_t c : text) {
    if (unsigned(c) < 0x100)
      continue;
    const CharClass kind = Classify(c);
    const std::size_t script = std::size_t(kind.script);
    if (kind.kind == Kind::kLetter && script < pool->scriptLetters.size())
      ++pool->scriptLetters[script];
  }
}

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
