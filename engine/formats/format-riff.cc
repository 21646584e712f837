// The WAV and AIFF module (engine/formats/format.h). Their text is read from every
// place: LIST/INFO items and AIFF's NAME/AUTH/ANNO/(c) chunks (bytes of the
// ANSI page, as Windows reads them) and the ID3v2 tag of an "id3 " chunk.
// A repair writes the ID3v2 tag only, which players read as Unicode; the
// INFO items and text chunks keep their bytes, since Windows reads them in
// the ANSI page. A file without a tag whose items need a repair gets one
// new tag holding all of them, in a chunk before the audio.
//
// Edits: a tag that fits its chunk is written over the chunk's data alone;
// a tag that grows, or a new one, is one range from the file's start
// through its chunk, growing by whole 4096-byte blocks with the form's size
// at byte 4. A tag in the file's last chunk, after the audio, grows at the
// end: one range from its chunk's size field through the file's end, and the
// form's size at byte 4 as the edit's size field (engine/commit/edit.h), so nothing
// before the chunk moves; chunks stay of even size. One after the audio that
// other chunks follow is refused when it must grow. RF64 keeps its sizes in
// a ds64 chunk: it is written only where no size changes.
#include "engine/text/album.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-riff.h"
#include "engine/formats/format.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/containers/riff-chunks.h"
#include "engine/id3v2/redecode.h"
#include "engine/containers/riff-tag.h"
#include "engine/id3v2/tag-convert.h"
#include "engine/text/text-shape.h"

namespace {

constexpr unsigned kGoOn = 0;

// The bytes of a tag chunk, when it is small enough to read.
std::string TagChunkBytes(TagLib::IOStream* file, const RiffChunk& chunk) {
  if (chunk.size > kLargestTextChunk)
    return std::string();
  return ReadStreamAt(file, chunk.body(), chunk.size);
}

// The repaired frames of one tag in version 2.4 form; `changed` tells
// whether any place changes.
unsigned RepairTagFrames(const Id3v2Layout& layout, const FileReading& reading,
                         FileOutcome* outcome, bool* changed, std::vector<OutputFrame>* frames) {
  const DateMerge date = MergeDate(layout);
  std::wstring cannotKeep;
  for (std::size_t i = 0; i < layout.frames.size(); ++i) {
    OutputFrame out;
    const Version24Form form = FrameInVersion24(layout, i, date, &out);
    if (form == Version24Form::kInDate)
      continue;
    if (form == Version24Form::kNone) {
      cannotKeep = L"the version 2.2 frame " + Widen(layout.frames[i].id) +
                   L" has no version 2.4 form and would be lost";
      continue;
    }
    // With a page for the run, UTF-8 encoded twice in Unicode frames comes
    // back first; what is left is read as an MP3's tag is.
    Id3v2Frame repaired;
    PlaceRepair result =
        reading.wholeRun ? RepairTwiceEncodedFrame(out.frame, out.id, &outcome->changes, &repaired)
                         : PlaceRepair::kUnchanged;
    if (result == PlaceRepair::kUnchanged)
      result = RepairFramePlaces(out.frame, out.id, 4, reading, &outcome->changes, &repaired);
    if (result == PlaceRepair::kFailed)
      return RefuseRepair(outcome, Widen(out.id) + L" cannot be rewritten to read as it should");
    if (result == PlaceRepair::kChanged) {
      *changed = true;
      out.frame = std::move(repaired);
    }
    frames->push_back(std::move(out));
  }
  if (*changed && !layout.unreadable.empty())
    return RefuseRepair(outcome, L"part of the ID3v2 tag cannot be read and would be lost (" +
                                     Widen(layout.unreadable) + L")");
  if (*changed && !cannotKeep.empty())
    return RefuseRepair(outcome, cannotKeep);
  return kGoOn;
}

// The bytes from the file's start through the chunk at `index`, its data
// given as `data`, the sizes following; checked by reading them back.
unsigned GrownHead(TagLib::IOStream* file, const RiffFile& riff, std::size_t index,
                   const std::string& data, bool inserted, FileOutcome* outcome, Edit* edit) {
  const RiffChunk& chunk = riff.chunks[index];
  const std::uint64_t before = inserted ? chunk.at : chunk.body() + chunk.size;
  const std::uint64_t grown = inserted ? 8 + data.size() : data.size() - chunk.size;
  if (riff.kind == RiffFile::kRf64)
    return RefuseRepair(outcome, L"an RF64 file is written only where no size changes");
  if (riff.formSize + grown > 0xFFFFFFFFu || data.size() > 0xFFFFFFFFu)
    return RefuseRepair(outcome, L"the file would outgrow its size field");
  const std::string head = ReadStreamAt(file, 0, chunk.at);
  if (head.size() != chunk.at)
    return RefuseRepair(outcome, L"the chunks before the tag cannot be read");
  const std::string id = inserted ? (riff.kind == RiffFile::kAiff ? "ID3 " : "id3 ") : chunk.id;
  std::string bytes = head.substr(0, 4) + RiffSizeBytes(riff, riff.formSize + grown) +
                      head.substr(8) + id + RiffSizeBytes(riff, data.size()) + data;
  // Read back: the same chunks before the tag, then the tag's chunk.
  RiffFile got;
  if (!ParseRiffBytes(bytes, &got) || got.chunks.size() != index + 1 ||
      got.formSize != riff.formSize + grown || got.chunks.back().id != id ||
      got.chunks.back().size != data.size() || bytes.compare(12, chunk.at - 12, head, 12) != 0)
    return RefuseRepair(outcome, L"the new chunks do not read back");
  edit->recorded = true;
  edit->offset = 0;
  edit->replaced = before;
  edit->bytes = std::move(bytes);
  return WM_FIX_SUCCEEDED;
}

// The tag chunk at the file's end given `data` in place of its own: the
// chunk's size field through the file's end, and the form's size.
unsigned GrownTail(TagLib::IOStream* file, const RiffFile& riff, std::size_t index,
                   std::string data, FileOutcome* outcome, Edit* edit) {
  const RiffChunk& chunk = riff.chunks[index];
  if (riff.kind == RiffFile::kRf64)
    return RefuseRepair(outcome, L"an RF64 file is written only where no size changes");
  const std::uint64_t oldEnd = chunk.body() + chunk.size + (chunk.size & 1);
  const std::uint64_t newFormSize = chunk.body() + data.size() - 8;
  if (data.size() % 2 != 0 || newFormSize > 0xFFFFFFFFu)
    return RefuseRepair(outcome, L"the file would outgrow its size field");
  edit->recorded = true;
  edit->offset = chunk.at + 4;
  edit->replaced = StreamLength(file) - edit->offset;
  edit->bytes = RiffSizeBytes(riff, data.size()) + data;
  edit->sizeFieldAt = 4;
  edit->sizeField = RiffSizeBytes(riff, newFormSize);
  // Read back: the form ends where the grown chunk does, as it ended where
  // the old one did.
  if (edit->offset + edit->replaced != oldEnd || 8 + riff.formSize != oldEnd ||
      edit->offset + edit->bytes.size() != 8 + newFormSize)
    return RefuseRepair(outcome, L"the new chunks do not read back");
  return WM_FIX_SUCCEEDED;
}

// True when the chunk at `index` is the last of the form and the form ends
// where the file does.
bool LastOfFile(TagLib::IOStream* file, const RiffFile& riff, std::size_t index) {
  const RiffChunk& chunk = riff.chunks[index];
  const std::uint64_t end = chunk.body() + chunk.size + (chunk.size & 1);
  return riff.whole && index + 1 == riff.chunks.size() && end == StreamLength(file) &&
         end == 8 + riff.formSize;
}

// Repairs the tag of an existing tag chunk.
unsigned RepairTagChunk(TagLib::IOStream* file, const RiffFile& riff, std::size_t index,
                        const FileReading& reading, FileOutcome* outcome, Edit* edit) {
  const RiffChunk& chunk = riff.chunks[index];
  const std::string data = TagChunkBytes(file, chunk);
  Id3v2Layout layout;
  if (data.size() != chunk.size || !ReadId3v2Layout(data, &layout))
    return WM_FIX_NOT_NEEDED;
  bool changed = false;
  std::vector<OutputFrame> frames;
  if (const unsigned refused = RepairTagFrames(layout, reading, outcome, &changed, &frames))
    return refused;
  if (!changed)
    return WM_FIX_NOT_NEEDED;
  // The tag fills its chunk: bytes after it in the chunk must be padding.
  if (data.find_first_not_of('\0', std::size_t(layout.extent)) != std::string::npos)
    return RefuseRepair(outcome, L"the tag's chunk holds bytes after the tag");
  std::string tag = ComposeTag(frames, &layout, chunk.size, 4);
  const bool atEnd = tag.size() != chunk.size && index > AudioChunk(riff) &&
                     LastOfFile(file, riff, index);
  if (atEnd && tag.size() % 2 != 0)
    tag = ComposeTag(frames, &layout, chunk.size + 1, 4);
  std::wstring detail;
  if (!VerifyTag(tag, frames, &detail))
    return RefuseRepair(outcome, detail);
  if (tag.size() == chunk.size) {
    edit->recorded = true;
    edit->offset = chunk.body();
    edit->replaced = chunk.size;
    edit->bytes = tag;
    return WM_FIX_SUCCEEDED;
  }
  if (atEnd)
    return GrownTail(file, riff, index, std::move(tag), outcome, edit);
  if (index > AudioChunk(riff))
    return RefuseRepair(outcome, L"the tag is too large for its chunk");
  return GrownHead(file, riff, index, tag, false, outcome, edit);
}

// What an item of code-page bytes reads as; `changes` tells whether that
// differs from the bytes as stored.
std::wstring ItemText(const std::string& bytes, const FileReading& reading, bool* changes) {
  const std::wstring stored = StoredUtf8Field(bytes);
  const std::wstring read = ReadPlace(stored, reading);
  *changes = read != stored;
  if (*changes || ShapeOf(stored).kind != ShapeKind::kBytes)
    return read;
  return DecodeWestern(bytes);
}

// A new tag for a file whose INFO items or text chunks need a repair.
unsigned NewTagChunk(TagLib::IOStream* file, const RiffFile& riff, const FileReading& reading,
                     FileOutcome* outcome, Edit* edit) {
  std::vector<TagText> texts;
  std::vector<FrameChange> changes;
  for (const RiffText& item : riff.texts) {
    bool changes_ = false;
    texts.push_back(TagText{item.id, ItemText(item.bytes, reading, &changes_)});
    if (changes_)
      changes.push_back(FrameChange{item.id, ShownUtf8Field(item.bytes), texts.back().text});
  }
  if (changes.empty())
    return WM_FIX_NOT_NEEDED;
  const std::size_t audio = AudioChunk(riff);
  if (audio == riff.chunks.size())
    return RefuseRepair(outcome, L"the file has no audio chunk to put the tag before");
  std::vector<OutputFrame> frames;
  std::vector<std::vector<std::wstring>> expected;
  if (!TagFramesFromTexts(texts, &frames, &expected))
    return RefuseRepair(outcome, L"a frame for the tag cannot be made");
  const std::string tag = ComposeNewTag(frames, 8);
  std::wstring detail;
  if (!CheckTagTexts(tag, frames, expected, &detail))
    return RefuseRepair(outcome, detail);
  const unsigned result = GrownHead(file, riff, audio, tag, true, outcome, edit);
  if (result == WM_FIX_SUCCEEDED)
    outcome->changes = std::move(changes);
  return result;
}

}  // namespace

void CollectRiffText(TagLib::IOStream* file, SuggestionPool* pool) {
  RiffFile riff;
  if (!ReadRiffFile(file, &riff))
    return;
  for (const RiffText& item : riff.texts)
    CollectUtf8Field(item.bytes, item.id == "INAM" || item.id == "NAME", pool);
  for (std::size_t index : riff.tagChunks) {
    Id3v2Layout layout;
    if (ReadId3v2Layout(TagChunkBytes(file, riff.chunks[index]), &layout))
      CollectFromLayout(layout, pool);
  }
}

unsigned RenderRiffRepair(TagLib::IOStream* file, const FileReading& reading,
                          FileOutcome* outcome, Edit* edit) {
  RiffFile riff;
  if (!ReadRiffFile(file, &riff))
    return WM_FIX_NOT_NEEDED;
  if (riff.tagChunks.empty())
    return NewTagChunk(file, riff, reading, outcome, edit);
  unsigned result = WM_FIX_NOT_NEEDED;
  for (std::size_t index : riff.tagChunks) {
    FileOutcome one;
    Edit chunkEdit;
    const unsigned got = RepairTagChunk(file, riff, index, reading, &one, &chunkEdit);
    if (got == WM_FIX_NOT_NEEDED)
      continue;
    if (result != WM_FIX_NOT_NEEDED)
      return RefuseRepair(outcome, L"more than one ID3 chunk needs a repair");
    result = got;
    outcome->issue = one.issue;
    outcome->detail = one.detail;
    outcome->changes = std::move(one.changes);
    *edit = std::move(chunkEdit);
  }
  return result;
}
