// Song title repair: copies ID3v1 into empty ID3v2 fields, re-decodes the
// Latin-1 text frames that hold code-page bytes, and saves the ID3v2 tag of
// every file that changed.
#include <algorithm>
#include <map>
#include <memory>

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/album.h"
#include "engine/engine.h"
#include "engine/repair.h"
#include "engine/save.h"

const wchar_t kIssueCouldNotOpen[] = L"Couldn't open file";
const wchar_t kIssueCouldNotSave[] = L"Couldn't save changes";

namespace {

bool StopRequested(const FixJob& job) {
  return job.stopRequested && job.stopRequested->load(std::memory_order_relaxed);
}

// Latin-1 text holds one character per stored byte; its low 8 bits are the
// byte, which is what the code page decodes.
TagLib::String Redecode(const TagLib::String& text, const Redecoding& redecoding) {
  if (text.isAscii())
    return text;
  const std::string bytes = text.to8Bit(false);
  if (!redecoding.automatic)
    return TagLib::String(DecodeCodePage(redecoding.codePage, bytes), TagLib::String::UTF16BE);
  if (IsMultiByteUtf8(bytes))
    return TagLib::String(DecodeUtf8(bytes), TagLib::String::UTF16BE);
  if (redecoding.codePage == kLeaveText)
    return text;
  return TagLib::String(DecodeCodePage(redecoding.codePage, bytes), TagLib::String::UTF16BE);
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
  Redecoding redecoding;
  redecoding.codePage = codePage;
  FixTextFrames(frames, redecoding, changed, changes);
}

void FixTextFrames(const TagLib::ID3v2::FrameList& frames, const Redecoding& redecoding,
                   bool& changed, std::vector<FrameChange>* changes) {
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
    TagLib::StringList redecoded;
    for (const TagLib::String& field : fields)
      redecoded.append(Redecode(field, redecoding));
    // In automatic mode a frame that would read the same is not touched.
    if (redecoding.automatic && redecoded == fields)
      continue;

    changed = true;
    FrameChange change;
    if (changes)
      change.before = JoinValues(fields);
    fields = redecoded;
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

// ID3v2.3 is written only when it keeps every frame as it is: TagLib drops
// the frames that only ID3v2.4 defines when it writes 2.3, and merges TIPL
// and TMCL into an IPLS frame stored as Latin-1, whose accented letters a
// later run would take for code-page bytes. Such a tag stays 2.4.
TagLib::ID3v2::Version TagVersionKeepingFrames(const TagLib::ID3v2::Tag& tag,
                                               unsigned id3v2Version) {
  if (id3v2Version != 3)
    return TagLib::ID3v2::v4;
  static const char* const kLostInVersion3[] = {"ASPI", "EQU2", "RVA2", "SEEK", "SIGN", "TDRL",
                                                "TDTG", "TMOO", "TPRO", "TSST", "TIPL", "TMCL"};
  for (const char* id : kLostInVersion3) {
    if (!tag.frameList(id).isEmpty())
      return TagLib::ID3v2::v4;
  }
  return TagLib::ID3v2::v3;
}

// Decides and renders the repair with TagLib; `stream` records what TagLib
// would write.
unsigned RenderRepair(EditStream* stream, const Redecoding& redecoding, FileOutcome* outcome,
                      bool preview, unsigned id3v2Version) {
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
  FixTextFrames(id3v2->frameList(), redecoding, changed, preview ? &outcome->changes : nullptr);
  if (!changed)
    return WM_FIX_NOT_NEEDED;
  if (preview)
    return WM_FIX_SUCCEEDED;

  // ID3v2 alone is rendered; ID3v1 and APE stay as they are. The stream only
  // records the result, which RepairFile then commits.
  bool saved = false;
  try {
    saved = file->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                       TagVersionKeepingFrames(*id3v2, id3v2Version), TagLib::File::DoNotDuplicate);
  } catch (...) {
    saved = false;
  }
  if (!saved) {
    outcome->issue = kIssueCouldNotSave;
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

unsigned RepairFile(const PathString& path, const Redecoding& redecoding, FileOutcome* outcome,
                    bool preview, SaveRecorder recordSave, void* recordContext,
                    unsigned id3v2Version) {
  // A save that an earlier run could not finish is taken back first; a file
  // that cannot be brought back is not touched again. A preview writes
  // nothing, so it reads the file as it is.
  const PathString target = ResolveFileLinks(path);
  if (!preview && !RecoverInterruptedSave(target)) {
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
  EditStream stream(path, target);
  const unsigned message = RenderRepair(&stream, redecoding, outcome, preview, id3v2Version);
  if (message != WM_FIX_SUCCEEDED || preview)
    return message;
  // What the save replaces is recorded first, so that it can be undone; no
  // record, no save.
  if (recordSave) {
    SaveRecord record;
    if (!stream.DescribeChange(&record) || !recordSave(recordContext, path, record)) {
      outcome->issue = kIssueCouldNotSave;
      return WM_FIX_FAILED;
    }
  }
  if (!stream.CommitEdits()) {
    outcome->issue = kIssueCouldNotSave;
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

}  // namespace

unsigned FixFile(const PathString& path, unsigned codePage, FileOutcome* outcome, bool preview,
                 SaveRecorder recordSave, void* recordContext, unsigned id3v2Version) {
  Redecoding redecoding;
  redecoding.codePage = codePage;
  return FixFileWith(path, redecoding, outcome, preview, recordSave, recordContext, id3v2Version);
}

unsigned FixFileWith(const PathString& path, const Redecoding& redecoding, FileOutcome* outcome,
                     bool preview, SaveRecorder recordSave, void* recordContext,
                     unsigned id3v2Version) {
  outcome->path = path;
  outcome->issue.clear();
  outcome->changes.clear();
  try {
    return RepairFile(path, redecoding, outcome, preview, recordSave, recordContext, id3v2Version);
  } catch (...) {
    // A tag that TagLib cannot hold in memory (absurd sizes) still gives the
    // file exactly one outcome; nothing was saved.
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}

namespace {

void PostOutcome(const FixJob& job, const PathString& path, const Redecoding& redecoding) {
  auto outcome = std::make_unique<FileOutcome>();
  const unsigned message = FixFileWith(path, redecoding, outcome.get(), job.preview, job.recordSave,
                                       job.recordContext, job.id3v2Version);
  if (PostNotification(job.window, message, reinterpret_cast<std::intptr_t>(outcome.get()))) {
    outcome.release();  // the receiver owns it now
  }
}

const AlbumCodePage* NamedPage(const FixJob& job, const PathString& folder) {
  if (!job.albumCodePages)
    return nullptr;
  for (const AlbumCodePage& named : *job.albumCodePages) {
    if (named.folder == folder)
      return &named;
  }
  return nullptr;
}

// The files of each album together, albums in the order their first file
// was found: the scan lists a folder's subfolders between its own files.
std::vector<std::size_t> AlbumOrder(const std::vector<PathString>& files) {
  std::map<PathString, std::size_t> firstFile;
  std::vector<std::size_t> album(files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    album[i] = firstFile.emplace(FolderOf(files[i]), i).first->second;
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&album](std::size_t a, std::size_t b) { return album[a] < album[b]; });
  return order;
}

// One album at a time: its files are read once to decide, then repaired, so
// memory holds one album's text however large the library.
void FixAlbums(const FixJob& job) {
  const std::vector<PathString>& files = *job.files;
  const std::vector<std::size_t> order = AlbumOrder(files);
  std::size_t first = 0;
  while (first < order.size() && !StopRequested(job)) {
    const PathString folder = FolderOf(files[order[first]]);
    std::size_t end = first + 1;
    while (end < order.size() && FolderOf(files[order[end]]) == folder)
      ++end;

    auto decision = std::make_unique<AlbumDecision>();
    if (const AlbumCodePage* named = NamedPage(job, folder)) {
      decision->codePage = named->codePage;
      decision->overridden = true;
      decision->confidence = 1;
    } else {
      SuggestionPool pool;
      for (std::size_t i = first;
           i < end && !StopRequested(job) && pool.highByteCount < kAlbumHighBytesEnough; ++i)
        CollectFromFile(files[order[i]], &pool);
      *decision = DecideAlbum(pool);
    }
    decision->folder = folder;
    Redecoding redecoding;
    redecoding.automatic = true;
    redecoding.codePage = decision->codePage;
    if (PostNotification(job.window, WM_FIX_ALBUM_DECIDED,
                         reinterpret_cast<std::intptr_t>(decision.get()))) {
      decision.release();  // the receiver owns it now
    }
    for (std::size_t i = first; i < end && !StopRequested(job); ++i)
      PostOutcome(job, files[order[i]], redecoding);
    first = end;
  }
}

}  // namespace

void FixFiles(const FixJob& job) {
  if (job.automatic) {
    FixAlbums(job);
    return;
  }
  Redecoding redecoding;
  redecoding.codePage = job.codePage;
  for (const PathString& path : *job.files) {
    if (StopRequested(job))
      break;
    PostOutcome(job, path, redecoding);
  }
}
