// Reading and repairing a playlist or cue sheet as a whole: its encoding,
// each line's text and entry, the new file checked line by line.
#include "engine/text/album-utf8.h"
#include "engine/names/playlist-entry.h"
#include "engine/names/playlist.h"

#include <algorithm>

#include "engine/text/album.h"
#include "engine/formats/container-text.h"
#include "engine/platform/path.h"
#include "engine/names/playlist-lines.h"
#include "engine/text/text-shape.h"
#include "engine/platform/text.h"

namespace {

const char kByteOrderMark[] = "\xEF\xBB\xBF";

enum class ReadResult { kRead, kTooLarge, kNotText, kUnreadable };

struct PlaylistText {
  std::uint64_t length = 0;
  bool byteOrderMark = false;
  std::string body;  // after the byte-order mark
};

ReadResult ReadPlaylist(TagLib::IOStream* file, PlaylistText* text) {
  const long length = file->length();
  if (length < 0)
    return ReadResult::kUnreadable;
  text->length = std::uint64_t(length);
  if (text->length > kPlaylistSizeLimit)
    return ReadResult::kTooLarge;
  file->seek(0);
  const TagLib::ByteVector data = file->readBlock(static_cast<unsigned long>(length));
  if (data.size() != static_cast<unsigned int>(length))
    return ReadResult::kUnreadable;
  text->body.assign(data.data(), data.size());
  if (text->body.compare(0, 3, kByteOrderMark) == 0) {
    text->byteOrderMark = true;
    text->body.erase(0, 3);
  } else if (text->body.compare(0, 2, "\xFF\xFE") == 0 ||
             text->body.compare(0, 2, "\xFE\xFF") == 0) {
    return ReadResult::kNotText;  // UTF-16: Unicode text already
  }
  if (text->body.find('\0') != std::string::npos)
    return ReadResult::kNotText;
  return ReadResult::kRead;
}

// What one line becomes.
struct LinePlan {
  LineParts parts;
  std::string value;     // the run's new bytes
  std::string newText;   // the whole new line
  bool kept = false;     // an entry's step keeps code-page bytes (PL4)
};

struct Plan {
  std::vector<LinePlan> lines;
  bool pageRead = false;    // a code-page text was read through a page
  bool renamed = false;     // an entry names a renamed file
  std::size_t brokenLine = 0;
  std::wstring why;
  std::vector<std::size_t> keptLines;
};

// Plans every line; false when an entry cannot be written (the first such
// line and why in `plan`), the line then left as it is.
bool PlanLines(const std::vector<PlaylistLine>& lines, PlaylistKind kind,
               const FileReading& reading, const EntryContext& context, Plan* plan) {
  LineContext lineContext;
  bool broken = false;
  plan->lines.assign(lines.size(), LinePlan());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    LinePlan& line = plan->lines[i];
    const std::string& text = lines[i].text;
    line.parts = PartsOfLine(kind, text, &lineContext);
    line.newText = text;
    if (line.parts.role == LineRole::kOther)
      continue;
    const std::string value = text.substr(line.parts.start, line.parts.length);
    std::string converted = value;
    if (context.utf8Out && HasHighByte(value) && RepairUtf8Field(value, reading, &converted))
      plan->pageRead = plan->pageRead || (context.legacyIn &&
                                          converted != WideToUtf8(DecodeWestern(value)));
    else
      converted = value;
    line.value = converted;
    std::wstring why;
    const EntryResult entry =
        line.parts.role == LineRole::kEntry
            ? RewriteEntry(value, converted, context, &line.value, &why, &plan->renamed)
            : EntryResult::kChanged;
    if (entry == EntryResult::kBroken) {
      if (!broken) {
        plan->brokenLine = i;
        plan->why = why;
      }
      broken = true;
      line.value = value;
    } else if (entry == EntryResult::kKept) {
      line.kept = true;
      plan->keptLines.push_back(i);
    }
    line.newText = text.substr(0, line.parts.start) + line.value +
                   text.substr(line.parts.start + line.parts.length);
  }
  return !broken;
}

std::wstring LineLabel(std::size_t index) {
  return L"line " + std::to_wstring(index + 1);
}

// F2: the new bytes split and parsed again give every line as planned, in
// the same place of the same kind of line.
bool CheckNewBytes(const std::string& bytes, bool byteOrderMark, PlaylistKind kind,
                   const std::vector<PlaylistLine>& lines, const Plan& plan, bool utf8Out,
                   std::wstring* why) {
  std::string body = bytes;
  if (byteOrderMark != (body.compare(0, 3, kByteOrderMark) == 0)) {
    *why = L"the byte-order mark would not come out as intended";
    return false;
  }
  if (byteOrderMark)
    body.erase(0, 3);
  const std::vector<PlaylistLine> parsed = SplitPlaylistLines(body);
  if (parsed.size() != lines.size()) {
    *why = L"the new text would not keep the playlist's lines";
    return false;
  }
  LineContext context;
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const LinePlan& line = plan.lines[i];
    const LineParts parts = PartsOfLine(kind, parsed[i].text, &context);
    if (parsed[i].ending != lines[i].ending || parsed[i].text != line.newText) {
      *why = LineLabel(i) + L" would not come out as intended";
      return false;
    }
    if (parsed[i].text == lines[i].text)
      continue;
    if (parts.role != line.parts.role || parts.start != line.parts.start ||
        parts.length != line.value.size() || parts.field != line.parts.field ||
        (utf8Out && !line.kept && !IsWholeUtf8(parsed[i].text))) {
      *why = LineLabel(i) + L" would read as another kind of line: \"" +
             DecodeUtf8(SanitizeUtf8(parsed[i].text)) + L"\"";
      return false;
    }
  }
  return true;
}

void ListChanges(const std::vector<PlaylistLine>& lines, const Plan& plan, bool utf8Out,
                 const wchar_t* encoding, std::vector<FrameChange>* changes) {
  if (encoding)
    changes->push_back(FrameChange{"encoding", L"code-page bytes", encoding});
  std::size_t listed = 0, more = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const LinePlan& line = plan.lines[i];
    if (line.newText == lines[i].text)
      continue;
    if (listed == kPreviewLines) {
      ++more;
      continue;
    }
    ++listed;
    const std::string before = lines[i].text.substr(line.parts.start, line.parts.length);
    changes->push_back(FrameChange{WideToUtf8(LineLabel(i)) + " " + line.parts.field,
                                   ShownUtf8Field(before),
                                   utf8Out ? DecodeUtf8(line.value) : ShownUtf8Field(line.value)});
  }
  if (more)
    changes->push_back(FrameChange{"lines", L"", std::to_wstring(more) + L" more lines change"});
}

// "line 3", "lines 3, 7 and 2 more".
std::wstring LinesLabel(const std::vector<std::size_t>& lines) {
  if (lines.size() == 1)
    return LineLabel(lines.front());
  std::wstring label = L"lines ";
  const std::size_t shown = std::min<std::size_t>(lines.size(), 5);
  for (std::size_t i = 0; i < shown; ++i)
    label += (i ? L", " : L"") + std::to_wstring(lines[i] + 1);
  if (lines.size() > shown)
    label += L" and " + std::to_wstring(lines.size() - shown) + L" more";
  return label;
}

unsigned Failed(FileOutcome* outcome, const wchar_t* issue, std::wstring detail) {
  outcome->issue = issue;
  outcome->detail = std::move(detail);
  return WM_FIX_FAILED;
}

}  // namespace

void CollectPlaylistText(TagLib::IOStream* file, PlaylistKind kind, SuggestionPool* pool) {
  PlaylistText text;
  if (ReadPlaylist(file, &text) != ReadResult::kRead)
    return;
  LineContext context;
  for (const PlaylistLine& line : SplitPlaylistLines(text.body)) {
    const LineParts parts = PartsOfLine(kind, line.text, &context);
    const std::string value = line.text.substr(parts.start, parts.length);
    if (parts.role != LineRole::kOther && HasHighByte(value))
      CollectUtf8Field(value, parts.role == LineRole::kTitle, pool);
  }
}

unsigned RenderPlaylistRepair(TagLib::IOStream* file, PlaylistKind kind, const FileReading& reading,
                              const PlaylistRenames* renames, const PathString& playlistPath,
                              FileOutcome* outcome, Edit* edit) {
  PlaylistText text;
  switch (ReadPlaylist(file, &text)) {
    case ReadResult::kTooLarge:
      return Failed(outcome, kIssueCouldNotSave,
                    L"a playlist larger than 4 MiB is not read: left as it is");
    case ReadResult::kUnreadable:
      return Failed(outcome, kIssueCouldNotOpen, L"the playlist could not be read");
    case ReadResult::kNotText:
      return WM_FIX_NOT_NEEDED;
    case ReadResult::kRead:
      break;
  }
  const std::vector<PlaylistLine> lines = SplitPlaylistLines(text.body);
  EntryContext context;
  const PathString folder = FolderOf(playlistPath);
  context.folder =
      AbsolutePathFrom(IsAbsolutePath(folder) ? PathString() : CurrentFolder(), folder);
  context.legacyIn = !text.byteOrderMark && !IsWholeUtf8(text.body);
  context.readingPage = reading.codePage;
  context.renames = renames;
  const bool leave = reading.named && reading.codePage == kLeaveText;
  // Code-page text becomes UTF-8 when a page reads it (a .m3u8 is UTF-8
  // whatever it holds), or when an entry must name a renamed file, whose new
  // name a code page may not hold; else it is right as it is (PL2).
  context.utf8Out = !context.legacyIn || kind == PlaylistKind::kM3u8;
  Plan plan;
  bool planned = PlanLines(lines, kind, reading, context, &plan);
  if (context.legacyIn && !context.utf8Out && !leave) {
    Plan utf8;
    context.utf8Out = true;
    const bool utf8Planned = PlanLines(lines, kind, reading, context, &utf8);
    if (utf8.pageRead || utf8.renamed || !planned) {
      plan = std::move(utf8);
      planned = utf8Planned;
    } else {
      context.utf8Out = false;
    }
  }
  // Without renames its entries name files whose names stay in the code
  // page: the playlist stays with them, which is no failure (PL4).
  if (!renames && (!planned || !plan.keptLines.empty())) {
    const std::size_t line = !planned ? plan.brokenLine : plan.keptLines.front();
    outcome->readingNote = std::wstring(kPlaylistLeftNote) + L": " + LineLabel(line) +
                           L" (--rename repairs the names and the playlist together)";
    return WM_FIX_NOT_NEEDED;
  }
  if (!planned)
    return Failed(outcome, kIssueCouldNotSave,
                  LineLabel(plan.brokenLine) + L": " + plan.why + L"; the playlist is left as it is");
  bool changed = false;
  for (std::size_t i = 0; i < lines.size(); ++i)
    changed = changed || plan.lines[i].newText != lines[i].text;
  if (!changed)
    return WM_FIX_NOT_NEEDED;
  // A .m3u or .cue has no declared encoding: players on Windows read one
  // without a byte-order mark through the ANSI page, so converted text gets
  // the mark. A .m3u8 says UTF-8 by its name, and a .pls is read as UTF-8
  // by the players that read it, whose key=value readers may miss a
  // "[playlist]" that a mark precedes: neither gets one.
  const bool converted = context.legacyIn && context.utf8Out;
  const bool mark = text.byteOrderMark ||
                    (converted && (kind == PlaylistKind::kM3u || kind == PlaylistKind::kCue));
  std::string bytes = mark ? kByteOrderMark : "";
  for (std::size_t i = 0; i < lines.size(); ++i)
    bytes += plan.lines[i].newText + lines[i].ending;
  std::wstring why;
  if (!CheckNewBytes(bytes, mark, kind, lines, plan, context.utf8Out, &why))
    return Failed(outcome, kIssueCouldNotSave, why);
  const wchar_t* encoding = !converted ? nullptr
                            : mark && !text.byteOrderMark ? L"UTF-8 with a byte-order mark"
                                                          : L"UTF-8";
  ListChanges(lines, plan, context.utf8Out, encoding, &outcome->changes);
  if (!plan.keptLines.empty())
    outcome->readingNote = L"kept byte for byte: " + LinesLabel(plan.keptLines) +
                           L": names a file whose name stays as it is";
  edit->recorded = true;
  edit->offset = 0;
  edit->replaced = text.length;
  edit->bytes = std::move(bytes);
  return WM_FIX_SUCCEEDED;
}
