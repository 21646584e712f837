// Gathering text for the code-page suggestion: the high-byte Latin-1 text
// of a file's tags, read without writing, pooled with the rest.
#include "engine/suggest.h"

#include <algorithm>

#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/disk-stream.h"

namespace {

size_t CountHighBytes(const std::string& bytes) {
  return size_t(std::count_if(bytes.begin(), bytes.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
}

void AddField(SuggestionPool* pool, const TagLib::String& field, bool isTitle) {
  if (!field.isAscii())
    AddSampleText(pool, field.to8Bit(false), isTitle);
}

}  // namespace

void AddSampleText(SuggestionPool* pool, const std::string& latin1Bytes, bool isTitle) {
  const size_t high = CountHighBytes(latin1Bytes);
  if (high == 0)
    return;
  pool->texts.push_back(latin1Bytes);
  if (isTitle)
    pool->titles.push_back(latin1Bytes);
  pool->byteCount += latin1Bytes.size();
  pool->highByteCount += high;
}

void CollectFromFile(const PathString& path, SuggestionPool* pool) {
  const size_t before = pool->texts.size();
  try {
    // A stream that only reads, through the disk in use.
    DiskReadStream stream(path);
    if (!stream.isOpen())
      return;
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid())
      return;
    if (TagLib::ID3v2::Tag* tag = file.ID3v2Tag(false)) {
      for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
        auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame);
        if (!text || text->textEncoding() != TagLib::String::Latin1)
          continue;
        const bool isTitle = text->frameID() == "TIT2";
        for (const TagLib::String& field : text->TextIdentificationFrame::fieldList())
          AddField(pool, field, isTitle);
      }
    }
    if (TagLib::ID3v1::Tag* tag = file.ID3v1Tag(false)) {
      AddField(pool, tag->title(), true);
      AddField(pool, tag->artist(), false);
      AddField(pool, tag->album(), false);
      AddField(pool, tag->comment(), false);
    }
  } catch (...) {
    // An unreadable file adds what was read before the failure.
  }
  if (pool->texts.size() > before)
    ++pool->fileCount;
}
