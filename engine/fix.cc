// Song title repair: copies ID3v1 into empty ID3v2 fields, re-decodes the
// Latin-1 text frames that hold code-page bytes, and saves the ID3v2 tag of
// every file that changed.
#include <memory>

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/engine.h"
#include "engine/repair.h"
#include "engine/save.h"

const wchar_t kIssueCouldNotOpen[] = L"Couldn't open file";
const wchar_t kIssueCouldNotSave[] = L"Couldn't save changes";

namespace {

// Latin-1 text holds one character per stored byte; its low 8 bits are the
// byte, which is what the code page decodes.
TagLib::String Redecode(const TagLib::String& text, unsigned codePage) {
  if (text.isAscii())
    return text;
  const std::wstring decoded = DecodeCodePage(codePage, text.to8Bit(false));
  return TagLib::String(decoded, TagLib::String::UTF16BE);
}

}  // namespace

namespace {

std::wstring JoinValues(const TagLib::StringList& fields) {
  std::wstring text;
  for (const TagLib::String& field : fields) {
    if (!text.empty())
      text += L" / ";
    text += field.toWString();
  }
  return text;
}

}  // namespace

void FixTextFrames(const TagLib::ID3v2::FrameList& frames, unsigned codePage, bool& changed,
                   std::vector<FrameChange>* changes) {
  for (TagLib::ID3v2::Frame* frame : frames) {
    auto* textFrame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame);
    if (!textFrame || textFrame->textEncoding() != TagLib::String::Latin1)
      continue;

    // Every stored field, each value apart and, for TXXX, the description
    // first: re-decoding them one by one keeps them in their places.
    TagLib::StringList fields = textFrame->TextIdentificationFrame::fieldList();
    bool qualifies = false;
    for (const TagLib::String& field : fields) {
      if (!field.isAscii())
        qualifies = true;
    }
    if (!qualifies)
      continue;

    changed = true;
    FrameChange change;
    if (changes)
      change.before = JoinValues(fields);
    for (TagLib::String& field : fields)
      field = Redecode(field, codePage);
    if (changes) {
      const TagLib::ByteVector id = textFrame->frameID();
      change.frameId.assign(id.data(), id.size());
      change.after = JoinValues(fields);
      changes->push_back(std::move(change));
    }
    textFrame->TextIdentificationFrame::setText(fields);
    textFrame->setTextEncoding(TagLib::String::UTF16);
  }
}

namespace {

// Decides and renders the repair with TagLib; `stream` records what TagLib
// would write.
unsigned RenderRepair(EditStream* stream, unsigned codePage, FileOutcome* outcome, bool preview) {
  TagLib::FileRef ref(stream, true, TagLib::AudioProperties::Average);
  auto* file = dynamic_cast<TagLib::MPEG::File*>(ref.file());
  if (!file || !file->isOpen()) {
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }

  // Copied first, so that ID3v1 text landing in new ID3v2 frames is repaired
  // like any other Latin-1 frame. TagLib 1.13 holds an empty ID3v1 tag
  // for a file without one; the check guards against a release that does not.
  TagLib::ID3v2::Tag* id3v2 = file->ID3v2Tag(true);
  if (TagLib::ID3v1::Tag* id3v1 = file->ID3v1Tag(false)) {
    TagLib::Tag::duplicate(id3v1, id3v2, false);
  }

  bool changed = false;
  FixTextFrames(id3v2->frameList(), codePage, changed, preview ? &outcome->changes : nullptr);
  if (!changed)
    return WM_FIX_NOT_NEEDED;
  if (preview)
    return WM_FIX_SUCCEEDED;

  // ID3v2 alone is rendered; ID3v1 and APE stay as they are. The stream only
  // records the result, which RepairFile then commits.
  bool saved = false;
  try {
    saved = file->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                       TagLib::File::DoNotDuplicate);
  } catch (...) {
    saved = false;
  }
  if (!saved) {
    outcome->issue = kIssueCouldNotSave;
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

// Renders the repair of one file; on WM_FIX_SUCCEEDED of a real run
// `stream` holds what the save will write.
unsigned RenderFile(const PathString& path, unsigned codePage, FileOutcome* outcome, bool preview,
                    std::unique_ptr<EditStream>* stream) {
  // A save that an earlier run could not finish is taken back first; a file
  // that cannot be brought back is not touched again. A preview writes
  // nothing, so it reads the file as it is.
  const PathString target = ResolveFileLinks(path);
  if (!preview && !RecoverInterruptedSave(target)) {
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
  auto rendered = std::make_unique<EditStream>(path, target);
  const unsigned message = RenderRepair(rendered.get(), codePage, outcome, preview);
  if (message != WM_FIX_SUCCEEDED || preview)
    return message;
  rendered->PadResizedTag();
  *stream = std::move(rendered);
  return message;
}

unsigned RepairFile(const PathString& path, unsigned codePage, FileOutcome* outcome, bool preview,
                    SaveRecorder recordSave, void* recordContext) {
  std::unique_ptr<EditStream> stream;
  const unsigned message = RenderFile(path, codePage, outcome, preview, &stream);
  if (message != WM_FIX_SUCCEEDED || preview)
    return message;
  // What the save replaces is recorded first, so that it can be undone; no
  // record, no save.
  if (recordSave) {
    SaveRecord record;
    if (!stream->DescribeChange(&record) || !recordSave(recordContext, path, record)) {
      outcome->issue = kIssueCouldNotSave;
      return WM_FIX_FAILED;
    }
  }
  if (!stream->CommitEdits()) {
    outcome->issue = kIssueCouldNotSave;
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

}  // namespace

unsigned PrepareRepair(const PathString& path, unsigned codePage, FileOutcome* outcome,
                       std::unique_ptr<EditStream>* stream) {
  outcome->path = path;
  outcome->issue.clear();
  outcome->changes.clear();
  try {
    return RenderFile(path, codePage, outcome, false, stream);
  } catch (...) {
    stream->reset();
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}

unsigned FixFile(const PathString& path, unsigned codePage, FileOutcome* outcome, bool preview,
                 SaveRecorder recordSave, void* recordContext) {
  outcome->path = path;
  outcome->issue.clear();
  outcome->changes.clear();
  try {
    return RepairFile(path, codePage, outcome, preview, recordSave, recordContext);
  } catch (...) {
    // A tag that TagLib cannot hold in memory (absurd sizes) still gives the
    // file exactly one outcome; nothing was saved.
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}
