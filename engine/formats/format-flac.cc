// FLAC: the Vorbis comment blocks among the metadata blocks after "fLaC"
// (behind an ID3v2 tag, if the file starts with one, which stays as it is).
//
// Every VORBIS_COMMENT block is repaired with the file's one reading: a file
// written with two of them (players read one or the other) would otherwise
// show different text depending on the player. A change that fits in a
// PADDING block shrinks it and keeps the file's length; one that does not
// grows the metadata by whole 4096-byte blocks of padding, in one edit from
// the file's start, so that room opens without moving the audio. Only the
// comment blocks are read, and the edit covers the blocks from the first
// changed one through the padding that takes the change: a padding block
// beyond a large block (a picture) is not used, one is added after the
// comments instead, so that a picture is neither read nor rewritten.
#include <cstdint>
#include <string>
#include <vector>

#include <taglib/tbytevectorstream.h>

#include "engine/platform/bytes-le.h"
#include "engine/formats/container-text.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/format-flac.h"
#include "engine/formats/format.h"
#include "engine/formats/vorbis-comment.h"

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

struct NewBlock {
  int type = 0;
  std::string content;
  std::size_t old = 0;  // the block it stands for; kAddedBlock for added padding
};

constexpr std::size_t kAddedBlock = ~std::size_t(0);

// What a repair changes: the comment blocks' new contents, and the blocks
// from `first` through `last` that the edit rewrites (a padding block that
// takes the change among them, or one added after `last`).
struct FlacChange {
  std::vector<std::string> comments;  // per block: its new content, if it changes
  std::vector<bool> changed;
  std::size_t first = 0, last = 0;    // the first and last changed comment
  std::size_t padding = 0;            // the padding that takes the change; blocks.size(): added
  std::int64_t change = 0;            // of the comments' size
};

// Blocks larger than this (pictures) are never rewritten to reach a padding
// block beyond them: a padding block is added after the comments instead.
constexpr std::uint64_t kLargestPassedBlock = 64 * 1024;

// The repaired contents of the comment blocks; false when one cannot be read.
bool RepairComments(TagLib::IOStream* file, const FlacLayout& layout, const FileReading& reading,
                    FlacChange* change, std::vector<FrameChange>* changes) {
  change->comments.assign(layout.blocks.size(), std::string());
  change->changed.assign(layout.blocks.size(), false);
  bool any = false;
  for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
    const FlacBlock& block = layout.blocks[i];
    if (block.type != kVorbisComment)
      continue;
    const std::string content = ReadStreamAt(file, block.offset + 4, block.length);
    VorbisComment comment, repaired;
    std::string rest;
    if (content.size() != block.length || !ParseCommentBlock(content, &comment, &rest))
      return false;
    if (!RepairVorbisComment(comment, reading, &repaired, changes))
      continue;
    change->comments[i] = RenderVorbisComment(repaired) + rest;
    change->changed[i] = true;
    change->change += std::int64_t(change->comments[i].size()) - std::int64_t(block.length);
    change->first = any ? change->first : i;
    change->last = i;
    any = true;
  }
  return true;
}

// The largest padding block that the edit reaches without rewriting a large
// block on the way; blocks.size() when there is none (one is added).
std::size_t ChoosePadding(const FlacLayout& layout, std::size_t first, std::size_t last) {
  std::size_t chosen = layout.blocks.size();
  for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
    if (layout.blocks[i].type != kPadding)
      continue;
    bool reachable = true;
    for (std::size_t j = std::min(i, first); j <= std::max(i, last) && reachable; ++j)
      reachable = layout.blocks[j].type == kVorbisComment ||
                  layout.blocks[j].type == kPadding ||
                  layout.blocks[j].length <= kLargestPassedBlock;
    if (reachable && (chosen == layout.blocks.size() ||
                      layout.blocks[i].length > layout.blocks[chosen].length))
      chosen = i;
  }
  return chosen;
}

// The padding's new size, so that the metadata keeps its length, or else
// grows by whole room blocks (`grown`); -4 when an added one is not needed.
// False when no size fits a block.
bool FitPadding(const FlacLayout& layout, const FlacChange& change, std::int64_t* size,
                std::uint64_t* grown) {
  const bool added = change.padding == layout.blocks.size();
  const std::int64_t room = added ? -4 : std::int64_t(layout.blocks[change.padding].length);
  *size = room - change.change;
  *grown = 0;
  if (*size < 0 && !(added && *size == -4)) {
    *grown = (std::uint64_t(-*size) + kRoomBlock - 1) / kRoomBlock * kRoomBlock;
    *size += std::int64_t(*grown);
  }
  return *size <= std::int64_t(kMaxBlock);
}

// The blocks the edit rewrites, from `from` through `to`, as they are to be.
std::vector<NewBlock> NewBlocks(const std::string& old, std::uint64_t regionStart,
                                const FlacLayout& layout, const FlacChange& change,
                                std::size_t from, std::size_t to, std::int64_t paddingSize) {
  std::vector<NewBlock> blocks;
  for (std::size_t i = from; i <= to; ++i) {
    const FlacBlock& block = layout.blocks[i];
    NewBlock out{block.type, std::string(), i};
    if (change.changed[i])
      out.content = change.comments[i];
    else if (i == change.padding)
      out.content.assign(std::size_t(paddingSize), '\0');
    else
      out.content = old.substr(std::size_t(block.offset + 4 - regionStart), block.length);
    blocks.push_back(std::move(out));
    if (i == change.last && change.padding == layout.blocks.size() && paddingSize >= 0)
      blocks.push_back(
          NewBlock{kPadding, std::string(std::size_t(paddingSize), '\0'), kAddedBlock});
  }
  return blocks;
}

// F2: the new region read back holds the expected blocks, each comment
// keeping every entry and every other block but padding its bytes, the
// region's bytes before its first block kept, and the last block marked
// last where the region ends the metadata.
bool VerifyRegion(const std::string& old, std::uint64_t regionStart, const std::string& composed,
                  std::uint64_t blocksAt, const std::vector<NewBlock>& expected,
                  bool endsMetadata, const FlacLayout& layout) {
  if (composed.compare(0, std::size_t(blocksAt), old, 0, std::size_t(blocksAt)) != 0)
    return false;
  std::size_t at = std::size_t(blocksAt);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (composed.size() - at < 4)
      return false;
    const int type = static_cast<unsigned char>(composed[at]) & 0x7F;
    const bool last = (static_cast<unsigned char>(composed[at]) & 0x80) != 0;
    const std::uint32_t length = ReadBe(composed, at + 1, 3);
    if (type != expected[i].type || last != (endsMetadata && i + 1 == expected.size()) ||
        composed.size() - at - 4 < length ||
        composed.compare(at + 4, length, expected[i].content) != 0)
      return false;
    if (expected[i].old != kAddedBlock) {
      const FlacBlock& block = layout.blocks[expected[i].old];
      const std::string before =
          old.substr(std::size_t(block.offset + 4 - regionStart), block.length);
      const std::string after = composed.substr(at + 4, length);
      if (block.type != type || (type == kVorbisComment && !KeepsEntries(before, after)) ||
          (type != kVorbisComment && type != kPadding && before != after))
        return false;
    } else if (type != kPadding) {
      return false;
    }
    at += 4 + length;
  }
  return at == composed.size();
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
  FlacChange change;
  std::vector<FrameChange> changes;
  const bool read = RepairComments(file, layout, reading, &change, &changes);
  if (changes.empty())
    return WM_FIX_NOT_NEEDED;
  if (!read || !layout.whole)
    return RefuseRepair(outcome, L"the FLAC metadata blocks could not be read whole");
  for (std::size_t i = 0; i < layout.blocks.size(); ++i)
    if (change.comments[i].size() > kMaxBlock)
      return RefuseRepair(outcome, L"the repaired Vorbis comment is too large for a FLAC block");
  change.padding = change.change == 0 ? layout.blocks.size()
                                      : ChoosePadding(layout, change.first, change.last);
  std::int64_t paddingSize = 0;
  std::uint64_t grown = 0;
  if (!FitPadding(layout, change, &paddingSize, &grown))
    return RefuseRepair(outcome, L"the FLAC padding could not take the change in size");
  // The region the edit rewrites: the blocks from the first changed one
  // through the padding that takes the change, from the file's start when
  // the metadata grows. Blocks after it (a picture) stay where they are.
  const bool added = change.padding == layout.blocks.size();
  const std::size_t from = added ? change.first : std::min(change.first, change.padding);
  const std::size_t to = added ? change.last : std::max(change.last, change.padding);
  const std::uint64_t regionStart = grown ? 0 : layout.blocks[from].offset;
  const std::uint64_t regionEnd = layout.blocks[to].offset + 4 + layout.blocks[to].length;
  const std::string old = ReadStreamAt(file, regionStart, std::size_t(regionEnd - regionStart));
  if (old.size() != regionEnd - regionStart)
    return RefuseRepair(outcome, L"the FLAC metadata blocks could not be read whole");
  const std::vector<NewBlock> blocks =
      NewBlocks(old, regionStart, layout, change, from, to, paddingSize);
  const std::uint64_t blocksAt = layout.blocks[from].offset - regionStart;
  const bool endsMetadata = to + 1 == layout.blocks.size();
  std::string composed = old.substr(0, std::size_t(blocksAt));
  for (std::size_t i = 0; i < blocks.size(); ++i)
    composed += BlockBytes(blocks[i].type, endsMetadata && i + 1 == blocks.size(),
                           blocks[i].content);
  if (!VerifyRegion(old, regionStart, composed, blocksAt, blocks, endsMetadata, layout))
    return RefuseRepair(outcome, L"the repaired FLAC metadata did not read back as written");
  std::size_t start = 0, oldEnd = old.size(), newEnd = composed.size();
  if (grown == 0) {
    // The same length: only the bytes that differ are rewritten.
    while (start < oldEnd && old[start] == composed[start])
      ++start;
    while (oldEnd > start && old[oldEnd - 1] == composed[newEnd - 1])
      --oldEnd, --newEnd;
  }
  edit->recorded = true;
  edit->offset = regionStart + start;
  edit->replaced = oldEnd - start;
  edit->bytes = composed.substr(start, newEnd - start);
  outcome->changes.insert(outcome->changes.end(), changes.begin(), changes.end());
  return WM_FIX_SUCCEEDED;
}
