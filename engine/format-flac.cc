// FLAC: the Vorbis comment blocks among the metadata blocks after "fLaC"
// (behind an ID3v2 tag, if the file starts with one, which stays as it is).
//
// Every VORBIS_COMMENT block is repaired with the file's one reading: a file
// written with two of them (players read one or the other) would otherwise
// show different text depending on the player. A change that fits in a
// PADDING block shrinks it and keeps the file's length; one that does not
// grows the metadata by whole 4096-byte blocks of padding, in one edit from
// the file's start, so that room opens without moving the audio.
#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tbytevectorstream.h>

#include "engine/bytes-le.h"
#include "engine/container-text.h"
#include "engine/container-bytes.h"
#include "engine/format.h"
#include "engine/vorbis-comment.h"

namespace {

constexpr int kStreamInfo = 0;
constexpr int kPadding = 1;
constexpr int kVorbisComment = 4;
constexpr std::uint32_t kMaxBlock = 0xFFFFFF;
constexpr std::uint64_t kRoomBlock = 4096;

struct FlacBlock {
  std::uint64_t offset = 0;  // of its 4-byte header
  int type = 0;
  std::uint32_t length = 0;  // of its content
};

struct FlacLayout {
  std::uint64_t start = 0;  // of "fLaC"
  std::vector<FlacBlock> blocks;
  std::uint64_t end = 0;  // past the last metadata block
  bool whole = false;     // every block up to the last one read
};

// Where "fLaC" starts: 0, or past the ID3v2 tags in front.
bool FindFlacStart(TagLib::IOStream* file, std::uint64_t length, std::uint64_t* start) {
  std::uint64_t at = 0;
  for (int tags = 0; tags < 16; ++tags) {
    const std::string head = ReadStreamAt(file, at, 10);
    if (head.size() >= 4 && head.compare(0, 4, "fLaC") == 0) {
      *start = at;
      return true;
    }
    if (head.size() < 10 || head.compare(0, 3, "ID3") != 0)
      return false;
    std::uint64_t size = 0;
    for (int i = 6; i < 10; ++i) {
      if (static_cast<unsigned char>(head[std::size_t(i)]) & 0x80)
        return false;
      size = (size << 7) | static_cast<unsigned char>(head[std::size_t(i)]);
    }
    at += 10 + size + ((static_cast<unsigned char>(head[5]) & 0x10) ? 10 : 0);
    if (at + 4 > length)
      return false;
  }
  return false;
}

// Walks the metadata blocks, each bounded by the file's length.
FlacLayout ReadFlacLayout(TagLib::IOStream* file) {
  FlacLayout layout;
  const std::uint64_t length = StreamLength(file);
  if (!FindFlacStart(file, length, &layout.start))
    return layout;
  std::uint64_t at = layout.start + 4;
  while (at + 4 <= length) {
    const std::string header = ReadStreamAt(file, at, 4);
    if (header.size() != 4)
      return layout;
    FlacBlock block;
    block.offset = at;
    block.type = static_cast<unsigned char>(header[0]) & 0x7F;
    block.length = ReadBe(header, 1, 3);
    if (block.type == 127 || at + 4 + block.length > length)
      return layout;
    // STREAMINFO first, once, of its one size.
    const bool first = layout.blocks.empty();
    if ((block.type == kStreamInfo) != first || (first && block.length != 34))
      return layout;
    layout.blocks.push_back(block);
    at += 4 + block.length;
    if (static_cast<unsigned char>(header[0]) & 0x80) {
      layout.end = at;
      layout.whole = true;
      return layout;
    }
  }
  return layout;
}

// A Vorbis comment block's comment and whatever follows it in the block.
bool ParseCommentBlock(const std::string& content, VorbisComment* comment, std::string* rest) {
  std::size_t end = 0;
  if (!ParseVorbisComment(content, 0, comment, &end))
    return false;
  rest->assign(content, end, std::string::npos);
  return true;
}

std::string BlockBytes(int type, bool last, const std::string& content) {
  std::string out;
  out.push_back(char(type | (last ? 0x80 : 0)));
  AppendBe(&out, std::uint32_t(content.size()), 3);
  return out + content;
}

struct NewBlock {
  int type = 0;
  std::string content;
};

// The blocks' new contents, with padding sized so that the metadata keeps
// its length, or else grows by whole room blocks. `grown` is given the
// growth; false when no size fits a block.
bool FitPadding(std::vector<NewBlock>* blocks, std::int64_t change, std::uint64_t* grown) {
  std::size_t padding = blocks->size();
  for (std::size_t i = 0; i < blocks->size(); ++i)
    if ((*blocks)[i].type == kPadding &&
        (padding == blocks->size() || (*blocks)[i].content.size() > (*blocks)[padding].content.size()))
      padding = i;
  const bool added = padding == blocks->size();
  const std::int64_t room = added ? -4 : std::int64_t((*blocks)[padding].content.size());
  std::int64_t size = room - change;
  *grown = 0;
  if (size < 0 && !(added && size == -4)) {
    *grown = (std::uint64_t(-size) + kRoomBlock - 1) / kRoomBlock * kRoomBlock;
    size += std::int64_t(*grown);
  }
  if (size > std::int64_t(kMaxBlock))
    return false;
  if (added && size == -4)
    return true;  // the comments kept their size: no padding needed
  if (added)
    blocks->push_back(NewBlock{kPadding, std::string()});
  (*blocks)[padding].content.assign(std::size_t(size), '\0');
  return true;
}

std::string ComposeMetadata(const std::string& head, std::uint64_t start,
                            const std::vector<NewBlock>& blocks) {
  std::string out = head.substr(0, std::size_t(start) + 4);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    out += BlockBytes(blocks[i].type, i + 1 == blocks.size(), blocks[i].content);
  return out;
}

// Every entry of the old comment is in the new one, under the same key and,
// unless it is one of the repaired ones, with the same bytes.
bool KeepsEntries(const std::string& oldContent, const std::string& newContent) {
  VorbisComment before, after;
  std::string restBefore, restAfter;
  if (!ParseCommentBlock(oldContent, &before, &restBefore) ||
      !ParseCommentBlock(newContent, &after, &restAfter) || restBefore != restAfter ||
      before.vendor != after.vendor || before.entries.size() != after.entries.size())
    return false;
  for (std::size_t i = 0; i < before.entries.size(); ++i) {
    const std::size_t equals = before.entries[i].find('=');
    if (before.entries[i] != after.entries[i] &&
        (equals == std::string::npos ||
         after.entries[i].compare(0, equals + 1, before.entries[i], 0, equals + 1) != 0))
      return false;
  }
  return true;
}

// F2: the new metadata read back holds the same blocks, the comments as
// repaired and the others byte for byte, and nothing else.
bool VerifyMetadata(const std::string& head, const std::string& composed, const FlacLayout& layout,
                    const std::vector<NewBlock>& expected) {
  TagLib::ByteVector data(composed.data(), static_cast<unsigned int>(composed.size()));
  TagLib::ByteVectorStream stream(data);
  const FlacLayout back = ReadFlacLayout(&stream);
  if (!back.whole || back.start != layout.start || back.end != composed.size() ||
      back.blocks.size() != expected.size())
    return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const FlacBlock& block = back.blocks[i];
    const std::string content = composed.substr(std::size_t(block.offset) + 4, block.length);
    if (block.type != expected[i].type || content != expected[i].content)
      return false;
    if (i >= layout.blocks.size())
      continue;  // the padding added
    const FlacBlock& old = layout.blocks[i];
    const std::string oldContent = head.substr(std::size_t(old.offset) + 4, old.length);
    if (old.type != block.type ||
        (block.type == kVorbisComment && !KeepsEntries(oldContent, content)) ||
        (block.type != kVorbisComment && block.type != kPadding && oldContent != content))
      return false;
  }
  return composed.compare(0, std::size_t(layout.start) + 4, head, 0,
                          std::size_t(layout.start) + 4) == 0;
}

// The repaired contents of the comment blocks; false when one cannot be read.
bool RepairBlocks(const std::string& head, const FlacLayout& layout, const FileReading& reading,
                  std::vector<NewBlock>* blocks, std::vector<FrameChange>* changes,
                  std::int64_t* change) {
  *change = 0;
  for (const FlacBlock& block : layout.blocks) {
    NewBlock out{block.type, head.substr(std::size_t(block.offset) + 4, block.length)};
    if (block.type == kVorbisComment) {
      VorbisComment comment, repaired;
      std::string rest;
      if (!ParseCommentBlock(out.content, &comment, &rest))
        return false;
      if (RepairVorbisComment(comment, reading, &repaired, changes)) {
        out.content = RenderVorbisComment(repaired) + rest;
        *change += std::int64_t(out.content.size()) - std::int64_t(block.length);
      }
    }
    blocks->push_back(std::move(out));
  }
  return true;
}

}  // namespace

void CollectFlacText(TagLib::IOStream* file, SuggestionPool* pool) {
  const FlacLayout layout = ReadFlacLayout(file);
  if (!layout.whole)
    return;
  for (const FlacBlock& block : layout.blocks) {
    if (block.type != kVorbisComment)
      continue;
    VorbisComment comment;
    std::string rest;
    if (ParseCommentBlock(ReadStreamAt(file, block.offset + 4, block.length), &comment, &rest))
      CollectVorbisComment(comment, pool);
  }
}

unsigned RenderFlacRepair(TagLib::IOStream* file, const FileReading& reading,
                          FileOutcome* outcome, Edit* edit) {
  const FlacLayout layout = ReadFlacLayout(file);
  if (layout.blocks.empty())
    return WM_FIX_NOT_NEEDED;
  const std::uint64_t readEnd = layout.whole ? layout.end
                                             : layout.blocks.back().offset + 4 +
                                                   layout.blocks.back().length;
  const std::string head = ReadStreamAt(file, 0, std::size_t(readEnd));
  if (head.size() != readEnd)
    return WM_FIX_NOT_NEEDED;
  std::vector<NewBlock> blocks;
  std::vector<FrameChange> changes;
  std::int64_t change = 0;
  const bool read = RepairBlocks(head, layout, reading, &blocks, &changes, &change);
  if (changes.empty())
    return WM_FIX_NOT_NEEDED;
  if (!read || !layout.whole)
    return RefuseRepair(outcome, L"the FLAC metadata blocks could not be read whole");
  for (const NewBlock& block : blocks)
    if (block.content.size() > kMaxBlock)
      return RefuseRepair(outcome, L"the repaired Vorbis comment is too large for a FLAC block");
  std::uint64_t grown = 0;
  if (!FitPadding(&blocks, change, &grown))
    return RefuseRepair(outcome, L"the FLAC padding could not take the change in size");
  const std::string composed = ComposeMetadata(head, layout.start, blocks);
  if (!VerifyMetadata(head, composed, layout, blocks))
    return RefuseRepair(outcome, L"the repaired FLAC metadata did not read back as written");
  std::size_t from = 0, oldEnd = head.size(), newEnd = composed.size();
  if (grown == 0) {
    // The same length: only the bytes that differ are rewritten.
    while (from < oldEnd && head[from] == composed[from])
      ++from;
    while (oldEnd > from && head[oldEnd - 1] == composed[newEnd - 1])
      --oldEnd, --newEnd;
  }
  edit->recorded = true;
  edit->offset = from;
  edit->replaced = oldEnd - from;
  edit->bytes = composed.substr(from, newEnd - from);
  outcome->changes.insert(outcome->changes.end(), changes.begin(), changes.end());
  return WM_FIX_SUCCEEDED;
}
