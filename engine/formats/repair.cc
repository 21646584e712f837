// Song title repair of one file: reads its first ID3v2 tag, re-decodes the
// Latin-1 text frames that hold code-page bytes, copies ID3v1 into empty
// ID3v2 fields, and hands the new tag to the save.
#include <algorithm>
#include <memory>

#include <taglib/id3v1tag.h>

#include "engine/text/album.h"
#include "engine/formats/container-repair.h"
#include "engine/engine.h"
#include "engine/formats/id3v1-copy.h"
#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/formats/mp3-taglib.h"
#include "engine/id3v2/place-reading.h"
#include "engine/id3v2/redecode.h"
#include "engine/formats/repair.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"
#include "engine/formats/stored-tag.h"
#include "engine/id3v2/tag-compose.h"
#include "engine/id3v2/tag-convert.h"

const wchar_t kIssueCouldNotOpen[] = L"Couldn't open file";
const wchar_t kIssueCouldNotSave[] = L"Couldn't save changes";

namespace {

// The tag a repair writes and the bytes of the old one it replaces.
struct TagEdit {
  std::string tag;
  std::uint64_t offset = 0;
  std::uint64_t replaced = 0;
};

// A step of the repair that lets it go on.
constexpr unsigned kGoOn = 0;

unsigned Refuse(FileOutcome* outcome, const std::wstring& detail) {
  outcome->issue = kIssueCouldNotSave;
  outcome->detail = detail;
  outcome->changes.clear();
  return WM_FIX_FAILED;
}

// Finds and reads the first tag. A file whose tag cannot be read whole, or
// whose only tag comes after the audio, is refused when it has text to
// repair and needs nothing otherwise.
unsigned ReadStoredTag(EditStream* stream, const TagLibReading& taglib, FileOutcome* outcome,
                       StoredTag* tag) {
  if (!taglib.hasId3v2) {
    std::uint64_t trailing = 0;
    if (FindTrailingTag(stream, &trailing))
      return Refuse(outcome, L"the ID3v2 tag at byte " + std::to_wstring(trailing) +
                                 L" comes after audio frames, where it is not read or repaired");
    return kGoOn;
  }
  if (FindAndReadTag(stream, tag)) {
    tag->present = true;
    return kGoOn;
  }
  // Nothing can be written then; a file with text to repair is reported.
  const TagLib::ID3v1::Tag* id3v1 = taglib.id3v1.get();
  const bool id3v1Text = id3v1 && (!id3v1->title().isAscii() || !id3v1->artist().isAscii() ||
                                   !id3v1->album().isAscii() || !id3v1->comment().isAscii());
  if (taglib.wouldChange || id3v1Text)
    return Refuse(outcome,
                  L"the ID3v2 tag cannot be read whole (it runs past the end of the file or its "
                  L"header is broken)");
  return WM_FIX_NOT_NEEDED;
}

// Every stored frame in version 2.4 form: re-decoded, or kept as its stored
// bytes; in automatic mode (`reading` given) each with its places read
// through the file's reading, else (a page for the run) with UTF-8 encoded
// twice taken back. `cannotKeep` names the first frame that
// version 2.4 has no form for.
unsigned FramesInVersion24(const Id3v2Layout& layout, const Redecoding& redecoding,
                           const FileReading* reading, FileOutcome* outcome, bool* changed,
                           std::vector<OutputFrame>* frames, std::wstring* cannotKeep) {
  const DateMerge date = MergeDate(layout);
  for (std::size_t i = 0; i < layout.frames.size(); ++i) {
    const Id3v2Frame& original = layout.frames[i];
    const std::string idV24 = FrameIdV24(layout.version, original.id);
    OutputFrame out;
    if (RedecodingChanges(original, idV24, redecoding)) {
      *changed = true;
      if (!RedecodeFrame(original, idV24, redecoding, &outcome->changes, &out))
        return Refuse(outcome, Widen(original.id) + L" cannot be read as text");
    } else {
      const Version24Form form = FrameInVersion24(layout, i, date, &out);
      if (form == Version24Form::kInDate)
        continue;
      if (form == Version24Form::kNone) {
        if (cannotKeep->empty())
          *cannotKeep = L"the version 2.2 frame " + Widen(original.id) +
                        L" has no version 2.4 form and would be lost";
        continue;
      }
      // With a page for the run, Unicode frames lose UTF-8 encoded twice.
      Id3v2Frame repaired;
      const PlaceRepair result =
          reading ? RepairFramePlaces(out.frame, out.id, 4, *reading, &outcome->changes, &repaired)
                  : RepairTwiceEncodedFrame(out.frame, out.id, &outcome->changes, &repaired);
      if (result == PlaceRepair::kFailed)
        return Refuse(outcome, Widen(original.id) + L" cannot be rewritten to read as it should");
      if (result == PlaceRepair::kChanged) {
        *changed = true;
        out.frame = std::move(repaired);
      }
    }
    frames->push_back(std::move(out));
  }
  return kGoOn;
}

// ID3v2.3 is written when it is asked for and every frame has a version 2.3
// form with the same content; else the tag stays 2.4. A version 2.3 tag
// keeps every frame as it is, the re-decoded ones under their own ids.
int ChooseVersion(const StoredTag& tag, const Redecoding& redecoding, const FileReading* reading,
                  unsigned id3v2Version, std::vector<OutputFrame>* frames) {
  const Id3v2Layout& layout = tag.layout;
  if (id3v2Version != 3 || (tag.present && layout.version < 3))
    return 4;
  std::vector<OutputFrame> framesV23;
  bool inVersion23 = false;
  if (tag.present && layout.version == 3) {
    // Chapters keep their frames in version 2.3 form: the same bytes read
    // again without the version 2.4 headers.
    Id3v2Layout stored;
    inVersion23 = ReadId3v2Layout(tag.bytes, &stored, /*embeddedAsV24=*/false);
    inVersion23 = KeepInVersion23(stored, redecoding, reading, &framesV23) && inVersion23;
  } else {
    inVersion23 = ConvertToVersion23(*frames, &framesV23);
  }
  if (!inVersion23)
    return 4;
  *frames = std::move(framesV23);
  return 3;
}

// Composes the new tag in place of the old one and reads it back.
unsigned ComposeEdit(const StoredTag& tag, const std::vector<OutputFrame>& frames, int version,
                     FileOutcome* outcome, TagEdit* edit) {
  const Id3v2Layout& layout = tag.layout;
  edit->offset = tag.present ? tag.start : 0;
  edit->replaced = !tag.present ? 0 : layout.audioStart ? layout.audioStart : layout.extent;
  edit->tag = ComposeTag(frames, tag.present ? &layout : nullptr, edit->replaced, version);
  // An ID3v2 tag's size has 28 bits: a larger one cannot be written.
  constexpr std::uint64_t kLargestTag = 10 + ((1u << 28) - 1);
  if (edit->tag.size() > kLargestTag)
    return Refuse(outcome, L"tag too large: the repaired ID3v2 tag would be " +
                               std::to_wstring(edit->tag.size() >> 20) +
                               L" MB, over the 256 MB an ID3v2 tag can hold");
  std::wstring detail;
  if (!VerifyTag(edit->tag, frames, &detail))
    return Refuse(outcome, detail);
  return WM_FIX_SUCCEEDED;
}

// In automatic mode TagLib's second opinion is whether it reads more
// Latin-1 text frames holding a byte at or above 0x80 than the layout holds.
bool HoldsMoreLatin1Text(std::size_t seen, const Id3v2Layout& layout) {
  std::size_t held = 0;
  for (const Id3v2Frame& frame : layout.frames) {
    if (IsRedecodable(frame, FrameIdV24(layout.version, frame.id)))
      ++held;
  }
  return seen > held;
}

// Decides the repair, and for a real run composes and checks the tag it
// writes. Every frame the repair does not re-decode keeps its stored bytes
// (in version 2.4 form); TagLib renders each re-decoded frame.
unsigned RenderRepair(EditStream* stream, bool mp3Name, const Redecoding& redecoding,
                      unsigned id3v2Version, FileOutcome* outcome, TagEdit* edit) {
  TagLibReading taglib;
  if (!ReadThroughTagLib(stream, mp3Name, redecoding, &taglib)) {
    outcome->issue = kIssueCouldNotOpen;
    outcome->detail = LastDiskFailure();
    return WM_FIX_FAILED;
  }
  StoredTag tag;
  if (const unsigned message = ReadStoredTag(stream, taglib, outcome, &tag))
    return message;
  // The stored bytes are read again only for a version 2.3 tag written as
  // version 2.3; the layout holds every frame.
  if (!(id3v2Version == 3 && tag.layout.version == 3))
    std::string().swap(tag.bytes);
  bool taglibWouldChange = taglib.wouldChange;
  if (redecoding.automatic && taglib.hasId3v2)
    taglibWouldChange = HoldsMoreLatin1Text(taglib.latin1Text, tag.layout);
  TagLib::ID3v1::Tag* id3v1 = taglib.id3v1.get();
  std::size_t placesLeft = 0;
  FileReading reading;
  Redecoding forId3v1 = redecoding;
  if (redecoding.automatic) {
    std::vector<std::string> id3v1Fields;
    if (id3v1) {
      for (const TagLib::String& field :
           {id3v1->title(), id3v1->artist(), id3v1->album(), id3v1->comment()})
        id3v1Fields.push_back(field.to8Bit(false));
    }
    reading = ReadingOfFile(tag.layout, id3v1Fields, redecoding, &placesLeft);
    forId3v1.codePage = reading.codePage;
  }
  bool changed = false;
  std::vector<OutputFrame> frames;
  std::wstring cannotKeep;
  const FileReading* automatic = redecoding.automatic ? &reading : nullptr;
  if (const unsigned message = FramesInVersion24(tag.layout, redecoding, automatic, outcome,
                                                 &changed, &frames, &cannotKeep))
    return message;
  // Every frame is in `frames` now: the stored ones are let go.
  std::vector<Id3v2Frame>().swap(tag.layout.frames);
  reading.placesLeft = nullptr;  // counted once, above
  const int version = ChooseVersion(tag, redecoding, automatic, id3v2Version, &frames);
  if (id3v1 && !CopyId3v1(*id3v1, forId3v1, version, &changed, &outcome->changes, &frames))
    return Refuse(outcome, L"an ID3v1 field cannot be copied");
  if (redecoding.automatic)
    outcome->readingNote = ReadingNote(reading, placesLeft);
  if (!changed) {
    if (taglibWouldChange)
      return Refuse(outcome,
                    L"TagLib reads a Latin-1 frame that the tag's own layout does not hold");
    outcome->changes.clear();
    return WM_FIX_NOT_NEEDED;
  }
  if (!tag.layout.unreadable.empty())
    return Refuse(outcome, L"part of the ID3v2 tag cannot be read and would be lost (" +
                               Widen(tag.layout.unreadable) + L")");
  if (!cannotKeep.empty())
    return Refuse(outcome, cannotKeep);
  return ComposeEdit(tag, frames, version, outcome, edit);
}

// The repair of a file of any format as one edit. An MP3 file's first ID3v2
// tag is repaired, and when it needs nothing an APEv2 tag at its end; other
// formats go to their modules (engine/formats/container-repair.h).
unsigned RenderAnyFormat(const PathString& path, EditStream* stream, const Redecoding& redecoding,
                         unsigned id3v2Version, FileOutcome* outcome, Edit* edit) {
  const AudioFormat format = FormatOfPath(path);
  if (format == AudioFormat::kPlaylist)
    return RenderPlaylistFile(stream, path, redecoding, outcome, edit);
  if (format != AudioFormat::kMp3 && format != AudioFormat::kNone)
    return RenderContainerRepair(stream, format, redecoding, outcome, edit);
  TagEdit tagEdit;
  const unsigned message = RenderRepair(stream, format == AudioFormat::kMp3, redecoding,
                                        id3v2Version, outcome, &tagEdit);
  if (message == WM_FIX_NOT_NEEDED) {
    const std::wstring note = outcome->readingNote;
    const unsigned ape = RenderContainerRepair(stream, AudioFormat::kApe, redecoding, outcome, edit);
    if (ape == WM_FIX_NOT_NEEDED)
      outcome->readingNote = note;
    return ape;
  }
  if (message == WM_FIX_SUCCEEDED) {
    edit->offset = tagEdit.offset;
    edit->replaced = tagEdit.replaced;
    edit->bytes = std::move(tagEdit.tag);
    // One edit per save: an APEv2 tag at the end that needs a repair too
    // is saved by a second pass over the file, which finds its ID3v2 tag
    // repaired; a preview lists its changes with the tag's.
    FileOutcome apeOutcome;
    Edit apeEdit;
    if (RenderContainerRepair(stream, AudioFormat::kApe, redecoding, &apeOutcome, &apeEdit) ==
        WM_FIX_SUCCEEDED) {
      outcome->moreToRepair = true;
      outcome->changes.insert(outcome->changes.end(), apeOutcome.changes.begin(),
                              apeOutcome.changes.end());
    }
  }
  return message;
}

// Renders the repair of one file; on WM_FIX_SUCCEEDED of a real run
// `stream` holds what the save will write.
unsigned RenderFile(const PathString& path, const Redecoding& redecoding, unsigned id3v2Version,
                    FileOutcome* outcome, bool preview, std::unique_ptr<EditStream>* stream) {
  // A save that an earlier run could not finish is taken back first; a file
  // that cannot be brought back is not touched again. A preview writes
  // nothing, so it reads the file as it is.
  const PathString target = ResolveFileLinks(path);
  if (!preview && !RecoverInterruptedSave(target)) {
    outcome->issue = kIssueCouldNotOpen;
    outcome->detail = L"an earlier save of it could not be finished";
    if (!LastDiskFailure().empty())
      outcome->detail += L": " + LastDiskFailure();
    return WM_FIX_FAILED;
  }
  auto rendered = std::make_unique<EditStream>(path, target);
  // Whatever its format, an entry that cannot be opened (a named pipe, a
  // link to nothing, a file it may not read) says so in one way.
  if (!rendered->OriginalFile()) {
    outcome->issue = kIssueCouldNotOpen;
    const std::wstring what = NotAFileReason(path);
    outcome->detail = what.empty() ? LastDiskFailure() : what;
    return WM_FIX_FAILED;
  }
  Edit edit;
  const unsigned message = RenderAnyFormat(path, rendered.get(), redecoding, id3v2Version,
                                           outcome, &edit);
  if (!preview)
    outcome->changes.clear();
  if (message != WM_FIX_SUCCEEDED || preview)
    return message;
  // Only the one edit is made; every byte before and after it stays.
  rendered->Replace(edit.offset, edit.replaced, std::move(edit.bytes));
  if (!edit.sizeField.empty())
    rendered->ReplaceSizeField(edit.sizeFieldAt, std::move(edit.sizeField));
  *stream = std::move(rendered);
  return message;
}

unsigned RepairFile(const PathString& path, const RepairOptions& options, FileOutcome* outcome) {
  std::unique_ptr<EditStream> stream;
  const unsigned message =
      RenderFile(path, options.redecoding, options.id3v2Version, outcome, options.preview, &stream);
  if (message != WM_FIX_SUCCEEDED || options.preview)
    return message;
  if (!stream->CommitEdits()) {
    outcome->issue = kIssueCouldNotSave;
    outcome->detail = LastDiskFailure();
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

void ClearOutcome(const PathString& path, FileOutcome* outcome) {
  outcome->path = path;
  outcome->issue.clear();
  outcome->detail.clear();
  outcome->changes.clear();
  outcome->readingNote.clear();
  outcome->moreToRepair = false;
  // The reason of a failure is that of this file's own operations.
  ClearDiskFailure();
}

}  // namespace

unsigned PrepareRepair(const PathString& path, const RepairOptions& options, FileOutcome* outcome,
                       std::unique_ptr<EditStream>* stream) {
  ClearOutcome(path, outcome);
  try {
    return RenderFile(path, options.redecoding, options.id3v2Version, outcome, false, stream);
  } catch (...) {
    stream->reset();
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}

unsigned FixFile(const PathString& path, unsigned codePage, FileOutcome* outcome) {
  RepairOptions options;
  options.redecoding.codePage = codePage;
  return FixFile(path, options, outcome);
}

unsigned FixFile(const PathString& path, const RepairOptions& options, FileOutcome* outcome) {
  ClearOutcome(path, outcome);
  try {
    return RepairFile(path, options, outcome);
  } catch (...) {
    // A tag that TagLib cannot hold in memory (absurd sizes) still gives the
    // file exactly one outcome; nothing was saved.
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}
