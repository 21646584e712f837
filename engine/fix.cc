// Song title repair: copies ID3v1 into empty ID3v2 fields, re-decodes the
// Latin-1 text frames that hold code-page bytes, and saves the ID3v2 tag of
// every file that changed.
#include <algorithm>
#include <map>
#include <memory>

#include <taglib/commentsframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/album.h"
#include "engine/engine.h"
#include "engine/id3v2-layout.h"
#include "engine/repair.h"
#include "engine/save.h"

const wchar_t kIssueCouldNotOpen[] = L"Couldn't open file";
const wchar_t kIssueCouldNotSave[] = L"Couldn't save changes";

namespace {

// Latin-1 text holds one character per stored byte; its low 8 bits are the
// byte, which is what the code page decodes.
// In automatic mode whole multi-byte UTF-8 is decoded as UTF-8, and an album
// left as it is keeps its text.
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

// The tag a repair writes and the bytes of the old one it replaces.
struct TagEdit {
  std::string tag;
  std::uint64_t offset = 0;
  std::uint64_t replaced = 0;
};

std::wstring Widen(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string String(const TagLib::ByteVector& bytes) {
  return std::string(bytes.data(), bytes.size());
}

TagLib::ByteVector Bytes(const std::string& bytes) {
  return TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

std::string ReadAt(EditStream* stream, std::uint64_t offset, std::uint64_t count) {
  stream->seek(long(offset));
  return String(stream->readBlock(static_cast<unsigned long>(count)));
}

// Where TagLib found the tag: the first "ID3" of the file, since its search
// stops there or, without a tag, at the first audio frame.
bool FindTagStart(EditStream* stream, std::uint64_t* start) {
  constexpr std::uint64_t kBlock = 64 * 1024;
  if (ReadAt(stream, 0, 3) == "ID3") {  // nearly always
    *start = 0;
    return true;
  }
  const std::uint64_t length = std::uint64_t(stream->length());
  for (std::uint64_t at = 0; at < length; at += kBlock - 2) {
    const std::size_t found = ReadAt(stream, at, kBlock).find("ID3");
    if (found != std::string::npos) {
      *start = at + found;
      return true;
    }
  }
  return false;
}

bool IsRedecodable(const Id3v2Frame& frame, const std::string& idV24);

// An ID3v2 tag after audio frames (some players append one, with a footer)
// is not the tag TagLib reads or a repair rewrites; one holding text that
// needs a repair is reported. Only the last 64 KiB of the file are searched.
bool FindTrailingTag(EditStream* stream, std::uint64_t* start) {
  constexpr std::uint64_t kSearched = 64 * 1024;
  const std::uint64_t length = std::uint64_t(stream->length());
  const std::uint64_t from = length > kSearched ? length - kSearched : 0;
  const std::string tail = ReadAt(stream, from, length - from);
  for (std::size_t at = tail.find("ID3"); at != std::string::npos; at = tail.find("ID3", at + 1)) {
    Id3v2Layout layout;
    if (!ReadId3v2Layout(tail.substr(at), &layout))
      continue;
    for (const Id3v2Frame& frame : layout.frames) {
      if (IsRedecodable(frame, FrameIdV24(layout.version, frame.id))) {
        *start = from + at;
        return true;
      }
    }
  }
  return false;
}

bool ReadTagAt(EditStream* stream, std::uint64_t start, Id3v2Layout* layout,
               bool embeddedAsV24 = true) {
  // The header tells the extent; the tag is read when it lies in the file.
  ReadId3v2Layout(ReadAt(stream, start, 10), layout);
  if (layout->extent == 0 || start + layout->extent > std::uint64_t(stream->length()))
    return false;
  return ReadId3v2Layout(ReadAt(stream, start, layout->extent), layout, embeddedAsV24);
}

// Latin-1 text frames holding a byte at or above 0x80 are the ones the
// repair re-decodes; TagLib reads these ids as text frames.
bool IsRedecodable(const Id3v2Frame& frame, const std::string& idV24) {
  if (frame.malformed || frame.compressed || frame.encrypted || frame.data.empty() ||
      frame.data[0] != '\0')
    return false;
  const bool text = (!idV24.empty() && idV24[0] == 'T') || idV24 == "WFED" || idV24 == "MVNM" ||
                    idV24 == "MVIN" || idV24 == "GRP1";
  if (!text)
    return false;
  for (std::size_t i = 1; i < frame.data.size(); ++i) {
    if (static_cast<unsigned char>(frame.data[i]) >= 0x80)
      return true;
  }
  return false;
}

// What the repair is to make of one Latin-1 frame: each value re-decoded
// through the code page, in its place.
std::vector<std::wstring> ExpectedFields(const Id3v2Frame& frame, const std::string& idV24,
                                         const Redecoding& redecoding) {
  std::vector<std::wstring> fields;
  Id3v2Frame text = frame;
  text.id = idV24;
  TextFrameFields(text, true, &fields);
  for (std::wstring& field : fields) {
    std::string bytes;
    bool ascii = true;
    for (wchar_t c : field) {
      bytes.push_back(char(c));
      ascii = ascii && c < 0x80;
    }
    if (!ascii)
      field = Redecode(TagLib::String(bytes, TagLib::String::Latin1), redecoding).toWString();
  }
  return fields;
}

// A frame TagLib rendered (version 2.4, flags clear), read back.
bool ReadRenderedFrame(const TagLib::ByteVector& rendered, Id3v2Frame* frame) {
  std::string tag = "ID3";
  tag += std::string("\x04\x00\x00", 3);
  const std::uint32_t size = rendered.size();
  for (int shift = 21; shift >= 0; shift -= 7)
    tag.push_back(char((size >> shift) & 0x7F));
  tag += String(rendered);
  Id3v2Layout layout;
  if (!ReadId3v2Layout(tag, &layout) || layout.frames.size() != 1 || !layout.unreadable.empty())
    return false;
  *frame = layout.frames.front();
  return true;
}

// One frame of the tag to write, and what it must be checked against.
struct OutputFrame {
  enum Kind { kKept, kRedecoded, kFromId3v1, kMergedDate, kPicture } kind = kKept;
  std::string id;
  Id3v2Frame frame;                          // as it is to be written
  std::vector<std::wstring> expectedFields;  // re-decoded and ID3v1 frames
};

// Re-decodes one stored Latin-1 frame: its values as the layout holds them,
// each in its place (a TXXX description first), set on a new UTF-16 frame
// that TagLib renders. TagLib's own reading of the stored frame is not used:
// it drops empty values and misplaces a TXXX value without a description.
bool RedecodeFrame(const Id3v2Frame& original, const std::string& idV24,
                   const Redecoding& redecoding, std::vector<FrameChange>* changes,
                   OutputFrame* out) {
  Id3v2Frame renamed = original;
  renamed.id = idV24;
  std::vector<std::wstring> stored;
  if (!TextFrameFields(renamed, true, &stored))
    return false;
  TagLib::StringList before, after;
  for (const std::wstring& field : stored) {
    std::string bytes;
    for (wchar_t c : field)
      bytes.push_back(char(c));
    before.append(TagLib::String(bytes, TagLib::String::Latin1));
    after.append(Redecode(before.back(), redecoding));
  }
  std::unique_ptr<TagLib::ID3v2::TextIdentificationFrame> frame;
  if (idV24 == "TXXX") {
    frame.reset(new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF16));
  } else {
    frame.reset(new TagLib::ID3v2::TextIdentificationFrame(Bytes(idV24), TagLib::String::UTF16));
  }
  frame->TextIdentificationFrame::setText(after);
  Id3v2Frame rendered;
  if (!ReadRenderedFrame(frame->render(), &rendered))
    return false;
  if (changes)
    changes->push_back(FrameChange{idV24, JoinValues(before), JoinValues(after)});
  rendered.discardOnTagChange = original.discardOnTagChange;
  rendered.discardOnFileChange = original.discardOnFileChange;
  rendered.readOnly = original.readOnly;
  rendered.grouped = original.grouped;
  rendered.groupId = original.groupId;
  out->kind = OutputFrame::kRedecoded;
  out->id = idV24;
  out->frame = rendered;
  out->expectedFields = ExpectedFields(original, idV24, redecoding);
  return true;
}

// True when re-decoding changes the frame's text; in automatic mode an album
// left as it is (or a value that reads the same) keeps its frame as stored.
bool RedecodingChanges(const Id3v2Frame& original, const std::string& idV24,
                       const Redecoding& redecoding) {
  if (!IsRedecodable(original, idV24))
    return false;
  if (!redecoding.automatic)
    return true;
  Id3v2Frame renamed = original;
  renamed.id = idV24;
  std::vector<std::wstring> stored;
  if (!TextFrameFields(renamed, true, &stored))
    return true;  // reported as unreadable text by RedecodeFrame
  for (const std::wstring& field : stored) {
    std::string bytes;
    for (wchar_t c : field)
      bytes.push_back(char(c));
    const TagLib::String before(bytes, TagLib::String::Latin1);
    if (Redecode(before, redecoding) != before)
      return true;
  }
  return false;
}

// Versions 2.2 and 2.3 keep year, day and time apart; version 2.4 holds
// them in one date (TYER 2004, TDAT 3112, TIME 2359 give TDRC
// 2004-12-31T23:59), as TagLib reads them. Only plain Latin-1 digits are
// merged.
bool DatePart(const std::vector<Id3v2Frame>& frames, const char* id, std::string* value,
              std::size_t* index) {
  int found = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const Id3v2Frame& frame = frames[i];
    if (frame.id != id)
      continue;
    ++found;
    *index = i;
    std::string text = frame.data.size() > 1 ? frame.data.substr(1) : std::string();
    while (!text.empty() && text.back() == '\0')
      text.pop_back();
    if (frame.data.empty() || frame.data[0] != '\0' || frame.malformed || frame.compressed ||
        frame.encrypted || text.size() != 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
      return false;
    *value = text;
  }
  return found == 1;
}

// Which frames of a version 2.2 or 2.3 tag merge into one date; none when
// they cannot be merged exactly.
struct DateMerge {
  std::size_t year = 0, day = 0, time = 0;
  bool merged = false, withTime = false;
  std::string value;
};

DateMerge MergeDate(const Id3v2Layout& layout) {
  DateMerge merge;
  std::string year, day, time;
  const bool v22 = layout.version == 2;
  if (layout.version > 3 || !DatePart(layout.frames, v22 ? "TYE" : "TYER", &year, &merge.year) ||
      !DatePart(layout.frames, v22 ? "TDA" : "TDAT", &day, &merge.day))
    return merge;
  merge.merged = true;
  merge.value = year + "-" + day.substr(2, 2) + "-" + day.substr(0, 2);
  if (DatePart(layout.frames, v22 ? "TIM" : "TIME", &time, &merge.time)) {
    merge.withTime = true;
    merge.value += "T" + time.substr(0, 2) + ":" + time.substr(2, 2);
  }
  return merge;
}

// A version 2.2 picture: its three-letter image format becomes a MIME type,
// as TagLib reads it.
bool ConvertPicture(const Id3v2Frame& picture, OutputFrame* out) {
  if (picture.data.size() < 5)
    return false;
  std::string format = picture.data.substr(1, 3);
  std::string upper = format;
  for (char& c : upper)
    c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const std::string mime = upper == "JPG"   ? "image/jpeg"
                           : upper == "PNG" ? "image/png"
                                            : "image/" + format;
  out->kind = OutputFrame::kPicture;
  out->id = "APIC";
  out->frame = picture;
  out->frame.id = "APIC";
  out->frame.data =
      picture.data.substr(0, 1) + mime + std::string(1, '\0') + picture.data.substr(4);
  return true;
}

std::wstring DescribeFields(const std::vector<std::wstring>& fields) {
  std::wstring text;
  for (const std::wstring& field : fields)
    text += (text.empty() ? L"" : L" / ") + field;
  return text;
}

// A new frame holding an ID3v1 field, re-decoded when it holds code-page
// bytes, rendered by TagLib.
bool Id3v1Frame(const std::string& id, const TagLib::String& value, const Redecoding& redecoding,
                bool* changed, std::vector<FrameChange>* changes, OutputFrame* out) {
  std::unique_ptr<TagLib::ID3v2::Frame> frame;
  if (id == "COMM") {
    auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::Latin1);
    frame.reset(comment);
    comment->setText(value);
    const TagLib::String redecoded = Redecode(value, redecoding);
    if (!value.isAscii() && (!redecoding.automatic || redecoded != value)) {
      // The comment is new, so its text is repaired like any copied field.
      *changed = true;
      if (changes)
        changes->push_back(FrameChange{id, value.toWString(), L""});
      comment->setTextEncoding(TagLib::String::UTF16);
      comment->setText(redecoded);
      if (changes)
        changes->back().after = comment->text().toWString();
    }
  } else {
    auto* text = new TagLib::ID3v2::TextIdentificationFrame(Bytes(id), TagLib::String::Latin1);
    frame.reset(text);
    text->setText(value);
    TagLib::ID3v2::FrameList list;
    list.append(text);
    FixTextFrames(list, redecoding, *changed, changes);
  }
  out->kind = OutputFrame::kFromId3v1;
  out->id = id;
  if (!ReadRenderedFrame(frame->render(), &out->frame))
    return false;
  return true;
}

// A comment (encoding, language, description, text) whose description is
// empty, or a byte-order mark alone.
bool HasNoDescription(const Id3v2Frame& comment) {
  const std::string& data = comment.data;
  if (comment.compressed || comment.encrypted || data.size() < 5)
    return false;
  const bool wide = data[0] == '\x01' || data[0] == '\x02';
  const std::size_t unit = wide ? 2 : 1;
  std::size_t at = 4;
  if (wide && data.size() >= 6 &&
      (data.compare(4, 2, "\xFF\xFE") == 0 || data.compare(4, 2, "\xFE\xFF") == 0))
    at += 2;
  return data.size() >= at + unit && data.compare(at, unit, std::string(unit, '\0')) == 0;
}

// The ID3v1 fields go into ID3v2 fields that are missing or empty; a field
// that ID3v1 leaves empty (or 0) changes nothing.
bool CopyId3v1(const TagLib::ID3v1::Tag& id3v1, const Redecoding& redecoding, int version,
               bool* changed, std::vector<FrameChange>* changes, std::vector<OutputFrame>* frames) {
  const std::pair<const char*, TagLib::String> fields[] = {
      {"TIT2", id3v1.title()},
      {"TPE1", id3v1.artist()},
      {"TALB", id3v1.album()},
      {"COMM", id3v1.comment()},
      {"TCON", id3v1.genre()},
      {version == 3 ? "TYER" : "TDRC",
       id3v1.year() ? TagLib::String::number(int(id3v1.year())) : TagLib::String()},
      {"TRCK", id3v1.track() ? TagLib::String::number(int(id3v1.track())) : TagLib::String()},
  };
  for (const auto& [id, value] : fields) {
    if (value.isEmpty())
      continue;
    OutputFrame* target = nullptr;
    bool present = false;
    for (OutputFrame& frame : *frames) {
      if (frame.id != id)
        continue;
      if (frame.id == "COMM" && !HasNoDescription(frame.frame))
        continue;  // the comment field is the comment without a description
      present = true;
      if (frame.kind == OutputFrame::kKept && frame.id != "COMM" && IsEmptyTextFrame(frame.frame))
        target = &frame;
      break;
    }
    if (present && !target)
      continue;
    OutputFrame copied;
    if (!Id3v1Frame(id, value, redecoding, changed, changes, &copied))
      return false;
    if (target) {
      *target = std::move(copied);
    } else {
      frames->push_back(std::move(copied));
    }
  }
  return true;
}

// Frames that version 2.3 has no place for; a tag holding one stays 2.4.
bool OnlyInVersion24(const std::string& id) {
  for (const char* only : {"ASPI", "EQU2", "RVA2", "SEEK", "SIGN", "TDEN", "TDOR", "TDRL", "TDTG",
                           "TIPL", "TMCL", "TMOO", "TPRO", "TSST", "CHAP", "CTOC"}) {
    if (id == only)
      return true;
  }
  return false;
}

// Frames that begin with a text encoding other than the text frames.
bool HasEncodingByte(const std::string& id) {
  for (const char* encoded :
       {"COMM", "USLT", "APIC", "SYLT", "GEOB", "USER", "OWNE", "COMR", "WXXX", "IPLS"}) {
    if (id == encoded)
      return true;
  }
  return false;
}

// Text stored as UTF-16 with a byte-order mark, the one Unicode form version
// 2.3 has; the values stay in their places.
std::string Utf16TextData(const std::vector<std::wstring>& fields) {
  std::string data(1, '\x01');
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i)
      data += std::string(2, '\0');
    data += "\xFF\xFE";
    const TagLib::ByteVector units = TagLib::String(fields[i]).data(TagLib::String::UTF16LE);
    data += String(units);
  }
  return data;
}

// A version 2.4 frame in version 2.3 form with the same content, when there
// is one: TDRC becomes TYER (with TDAT and TIME when the date has them),
// UTF-8 and UTF-16BE text becomes UTF-16.
bool FrameInVersion23(const Id3v2Frame& frame, std::vector<OutputFrame>* out) {
  if (frame.malformed || (frame.hasDataLength && !frame.compressed) || OnlyInVersion24(frame.id))
    return false;
  const bool text = frame.id[0] == 'T' && !frame.compressed && !frame.encrypted;
  OutputFrame kept;
  kept.id = frame.id;
  kept.frame = frame;
  if (text && frame.id == "TDRC") {
    std::vector<std::wstring> fields;
    if (!TextFrameFields(frame, false, &fields) || fields.size() != 1)
      return false;
    const std::string date(fields[0].begin(), fields[0].end());
    const auto digits = [&](std::size_t at, std::size_t count) {
      return date.size() >= at + count && date.find_first_not_of("0123456789", at) >= at + count;
    };
    const bool day =
        date.size() >= 10 && date[4] == '-' && date[7] == '-' && digits(5, 2) && digits(8, 2);
    const bool time = date.size() == 16 && day && date[10] == 'T' && date[13] == ':' &&
                      digits(11, 2) && digits(14, 2);
    if (!digits(0, 4) || !(date.size() == 4 || (date.size() == 10 && day) || time))
      return false;
    const auto part = [&](const char* id, const std::string& value) {
      OutputFrame made = kept;
      made.kind = OutputFrame::kMergedDate;
      made.id = id;
      made.frame.id = id;
      made.frame.data = std::string(1, '\0') + value;
      out->push_back(made);
    };
    part("TYER", date.substr(0, 4));
    if (day)
      part("TDAT", date.substr(8, 2) + date.substr(5, 2));
    if (time)
      part("TIME", date.substr(11, 2) + date.substr(14, 2));
    return true;
  }
  if (!frame.compressed && !frame.encrypted && !frame.data.empty() &&
      (frame.data[0] == '\x02' || frame.data[0] == '\x03')) {
    std::vector<std::wstring> fields;
    if (!text || !TextFrameFields(frame, true, &fields))
      return false;  // a comment, picture, ... in UTF-8 or UTF-16BE
    kept.kind = OutputFrame::kRedecoded;
    kept.frame.data = Utf16TextData(fields);
    kept.expectedFields = fields;
    // Text that is no valid UTF-8 or UTF-16 would not read the same.
    std::vector<std::wstring> written;
    if (!TextFrameFields(kept.frame, true, &written) || written != fields)
      return false;
  } else if (HasEncodingByte(frame.id) && !frame.compressed && !frame.encrypted &&
             !frame.data.empty() && frame.data[0] != '\0' && frame.data[0] != '\x01') {
    return false;
  }
  out->push_back(kept);
  return true;
}

// The tag as TagLib renders it: a version 2.4 (or 2.3) header and the frames,
// padded so that the audio stays where it is whenever the frames fit in the
// old tag's bytes (`region`, header included). A tag that outgrows them grows
// by whole 4 KiB blocks, with at least TagLib's 1 KB of padding, so that the
// file system can open the room before the audio instead of the audio being
// copied. The rule looks only at the two sizes, so every build writes the
// same bytes; only the padding can differ from TagLib's own save, and it is
// never smaller.
std::string ComposeTag(const std::vector<OutputFrame>& frames, const Id3v2Layout* old,
                       std::uint64_t region, int version) {
  std::string body;
  for (const OutputFrame& frame : frames) {
    Id3v2Frame named = frame.frame;
    named.id = frame.id;
    body += version == 3 ? RenderFrameV23(named) : RenderFrameV24(named);
  }
  constexpr std::uint64_t kMinPadding = 1024, kBlock = 4096, kLargestBody = (1u << 28) - 1;
  const std::uint64_t framed = 10 + body.size();
  std::uint64_t tagSize = region;
  if (!old || framed >= region)
    tagSize = region + (framed + kMinPadding - region + kBlock - 1) / kBlock * kBlock;
  if (tagSize - 10 > kLargestBody)
    tagSize = framed + kMinPadding;
  const std::uint64_t padding = tagSize - framed;
  body.resize(body.size() + std::size_t(padding), '\0');
  std::string tag = "ID3";
  tag.push_back(char(version));
  tag.push_back('\0');
  // Only the experimental mark of the old header stays, as with TagLib.
  tag.push_back(char(old && old->version >= 3 ? (old->flags & 0x20) : 0));
  const std::uint32_t size = std::uint32_t(body.size());
  for (int shift = 21; shift >= 0; shift -= 7)
    tag.push_back(char((size >> shift) & 0x7F));
  return tag + body;
}

// Reads the tag about to be written and checks every frame against what it
// must be: kept frames exactly as they were, re-decoded frames by their text.
bool VerifyTag(const std::string& tag, const std::vector<OutputFrame>& expected,
               std::wstring* detail) {
  Id3v2Layout written;
  if (!ReadId3v2Layout(tag, &written, /*embeddedAsV24=*/tag[3] != '\x03') ||
      !written.unreadable.empty() || written.frames.size() != expected.size()) {
    *detail = L"the repaired tag does not read back";
    return false;
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const OutputFrame& want = expected[i];
    const Id3v2Frame& got = written.frames[i];
    Id3v2Frame wanted = want.frame;
    wanted.id = want.id;
    if (want.kind == OutputFrame::kRedecoded) {
      std::vector<std::wstring> fields;
      Id3v2Frame flagsOnly = got, wantedFlags = wanted;
      flagsOnly.data.clear();
      wantedFlags.data.clear();
      if (!TextFrameFields(got, true, &fields) || got.data[0] != '\x01' ||
          fields != want.expectedFields || flagsOnly != wantedFlags) {
        *detail = Widen(want.id) + L" would read \u201c" + DescribeFields(fields) +
                  L"\u201d instead of \u201c" + DescribeFields(want.expectedFields) + L"\u201d";
        return false;
      }
    } else if (got != wanted) {
      *detail = L"frame " + Widen(want.id) + L" would change";
      return false;
    }
  }
  return true;
}

// Decides the repair, and for a real run composes and checks the tag it
// writes. Every frame the repair does not re-decode keeps its stored bytes
// (in version 2.4 form); TagLib renders each re-decoded frame.
unsigned RenderRepair(EditStream* stream, const Redecoding& redecoding, unsigned id3v2Version,
                      FileOutcome* outcome, TagEdit* edit) {
  TagLib::FileRef ref(stream, false);
  auto* file = dynamic_cast<TagLib::MPEG::File*>(ref.file());
  if (!file || !file->isOpen()) {
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
  const auto refuse = [&](const std::wstring& detail) {
    outcome->issue = kIssueCouldNotSave;
    outcome->detail = detail;
    outcome->changes.clear();
    return WM_FIX_FAILED;
  };

  // TagLib's own reading of the frames is a second opinion: a frame it
  // would repair that the walk below does not find stops the repair.
  bool taglibWouldChange = false;
  if (file->hasID3v2Tag())
    FixTextFrames(file->ID3v2Tag(false)->frameList(), redecoding, taglibWouldChange, nullptr);

  Id3v2Layout layout;
  bool hasTag = false;
  std::uint64_t start = 0;
  if (!file->hasID3v2Tag()) {
    std::uint64_t trailing = 0;
    if (FindTrailingTag(stream, &trailing))
      return refuse(L"the ID3v2 tag at byte " + std::to_wstring(trailing) +
                    L" comes after audio frames, where it is not read or repaired");
  } else {
    if (!FindTagStart(stream, &start) || !ReadTagAt(stream, start, &layout)) {
      // Nothing can be written then; a file with text to repair is reported.
      const TagLib::ID3v1::Tag* id3v1 = file->ID3v1Tag(false);
      const bool id3v1Text = id3v1 && (!id3v1->title().isAscii() || !id3v1->artist().isAscii() ||
                                       !id3v1->album().isAscii() || !id3v1->comment().isAscii());
      return taglibWouldChange || id3v1Text
                 ? refuse(
                       L"the ID3v2 tag cannot be read whole (it runs past the end of the file "
                       L"or its header is broken)")
                 : WM_FIX_NOT_NEEDED;
    }
    hasTag = true;
  }

  bool changed = false;
  std::vector<FrameChange>* changes = &outcome->changes;
  std::vector<OutputFrame> frames;
  const DateMerge date = MergeDate(layout);
  std::wstring cannotKeep;
  for (std::size_t i = 0; i < layout.frames.size(); ++i) {
    const Id3v2Frame& original = layout.frames[i];
    const std::string idV24 = FrameIdV24(layout.version, original.id);
    OutputFrame out;
    if (RedecodingChanges(original, idV24, redecoding)) {
      changed = true;
      if (!RedecodeFrame(original, idV24, redecoding, changes, &out))
        return refuse(Widen(original.id) + L" cannot be read as text");
    } else if (date.merged && (i == date.day || (date.withTime && i == date.time))) {
      continue;  // in the date
    } else if (date.merged && i == date.year) {
      out.kind = OutputFrame::kMergedDate;
      out.id = "TDRC";
      out.frame = original;
      out.frame.data = std::string(1, '\0') + date.value;
    } else if (!idV24.empty()) {
      out.id = idV24;
      out.frame = original;
    } else if (!ObsoleteFrameId(layout.version, original.id).empty()) {
      // Gone from version 2.4 (TDAT, TIME, TRDA, TSIZ, EQUA, RVAD): kept as
      // they are, under their version 2.3 ids, which readers of version 2.4
      // accept.
      out.id = ObsoleteFrameId(layout.version, original.id);
      out.frame = original;
    } else if (original.id == "PIC" && ConvertPicture(original, &out)) {
    } else {
      if (cannotKeep.empty())
        cannotKeep = L"the version 2.2 frame " + Widen(original.id) +
                     L" has no version 2.4 form and would be lost";
      continue;
    }
    frames.push_back(std::move(out));
  }
  // ID3v2.3 is written when every frame has a version 2.3 form with the
  // same content; else the tag stays 2.4.
  int version = 4;
  std::vector<OutputFrame> framesV23;
  bool inVersion23 = id3v2Version == 3 && (!hasTag || layout.version >= 3);
  if (inVersion23 && hasTag && layout.version == 3) {
    // A version 2.3 tag keeps every frame as it is, the re-decoded ones
    // under their own ids.
    Id3v2Layout stored;
    inVersion23 = ReadTagAt(stream, start, &stored, false);
    for (const Id3v2Frame& original : stored.frames) {
      OutputFrame out;
      out.id = original.id;
      out.frame = original;
      if (RedecodingChanges(original, FrameIdV24(3, original.id), redecoding))
        inVersion23 =
            inVersion23 && RedecodeFrame(original, original.id, redecoding, nullptr, &out);
      framesV23.push_back(std::move(out));
    }
  } else if (inVersion23) {
    for (const OutputFrame& frame : frames) {
      Id3v2Frame named = frame.frame;
      named.id = frame.id;
      if (frame.kind == OutputFrame::kRedecoded) {
        if (OnlyInVersion24(frame.id) || frame.id == "TDRC") {
          inVersion23 = false;
          break;
        }
        framesV23.push_back(frame);
      } else if (!FrameInVersion23(named, &framesV23)) {
        inVersion23 = false;
        break;
      }
    }
  }
  if (inVersion23) {
    frames = std::move(framesV23);
    version = 3;
  }
  if (TagLib::ID3v1::Tag* id3v1 = file->ID3v1Tag(false)) {
    if (!CopyId3v1(*id3v1, redecoding, version, &changed, changes, &frames))
      return refuse(L"an ID3v1 field cannot be copied");
  }
  if (!changed) {
    if (taglibWouldChange)
      return refuse(L"TagLib reads a Latin-1 frame that the tag's own layout does not hold");
    outcome->changes.clear();
    return WM_FIX_NOT_NEEDED;
  }
  if (!layout.unreadable.empty())
    return refuse(L"part of the ID3v2 tag cannot be read and would be lost (" +
                  Widen(layout.unreadable) + L")");
  if (!cannotKeep.empty())
    return refuse(cannotKeep);

  edit->offset = hasTag ? start : 0;
  edit->replaced = !hasTag ? 0 : layout.audioStart ? layout.audioStart : layout.extent;
  edit->tag = ComposeTag(frames, hasTag ? &layout : nullptr, edit->replaced, version);
  std::wstring detail;
  if (!VerifyTag(edit->tag, frames, &detail))
    return refuse(detail);
  return WM_FIX_SUCCEEDED;
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
    return WM_FIX_FAILED;
  }
  auto rendered = std::make_unique<EditStream>(path, target);
  TagEdit edit;
  const unsigned message = RenderRepair(rendered.get(), redecoding, id3v2Version, outcome, &edit);
  if (!preview)
    outcome->changes.clear();
  if (message != WM_FIX_SUCCEEDED || preview)
    return message;
  // Only the first ID3v2 tag is replaced; whatever precedes or follows it
  // (junk, a second tag, the audio, APE and ID3v1) stays byte for byte.
  rendered->insert(Bytes(edit.tag), static_cast<unsigned long>(edit.offset),
                   static_cast<unsigned long>(edit.replaced));
  *stream = std::move(rendered);
  return message;
}

unsigned RepairFile(const PathString& path, const RepairOptions& options, FileOutcome* outcome) {
  std::unique_ptr<EditStream> stream;
  const unsigned message = RenderFile(path, options.redecoding, options.id3v2Version, outcome,
                                      options.preview, &stream);
  if (message != WM_FIX_SUCCEEDED || options.preview)
    return message;
  if (!stream->CommitEdits()) {
    outcome->issue = kIssueCouldNotSave;
    return WM_FIX_FAILED;
  }
  return WM_FIX_SUCCEEDED;
}

}  // namespace

unsigned PrepareRepair(const PathString& path, const RepairOptions& options, FileOutcome* outcome,
                       std::unique_ptr<EditStream>* stream) {
  outcome->path = path;
  outcome->issue.clear();
  outcome->detail.clear();
  outcome->changes.clear();
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
  outcome->path = path;
  outcome->issue.clear();
  outcome->detail.clear();
  outcome->changes.clear();
  try {
    return RepairFile(path, options, outcome);
  } catch (...) {
    // A tag that TagLib cannot hold in memory (absurd sizes) still gives the
    // file exactly one outcome; nothing was saved.
    outcome->issue = kIssueCouldNotOpen;
    return WM_FIX_FAILED;
  }
}
