// The ID3v1 copy: ID3v1 fields go into ID3v2 fields that are missing or
// empty; a field that ID3v1 leaves empty (or 0) changes nothing. Every field
// copied is a change a preview shows (empty before, the copied text after),
// whether or not it is re-decoded; only a re-decoded one makes the file need
// a save.
#include "engine/formats/id3v1-copy.h"

#include <memory>

#include <taglib/commentsframe.h>
#include <taglib/textidentificationframe.h>

#include "engine/id3v2/frame-places.h"
#include "engine/id3v2/id3v2-text.h"
#include "engine/id3v2/redecode.h"
#include "engine/formats/repair.h"

namespace {

// A comment repaired like any copied field, since it is new.
void RedecodeComment(const TagLib::String& value, const Redecoding& redecoding, bool* changed,
                     TagLib::ID3v2::CommentsFrame* comment) {
  const TagLib::String redecoded = Redecode(value, redecoding);
  if (value.isAscii() || (redecoding.automatic && redecoded == value))
    return;
  *changed = true;
  comment->setTextEncoding(TagLib::String::UTF16);
  comment->setText(redecoded);
}

// A new frame holding an ID3v1 field, re-decoded when it holds code-page
// bytes, rendered by TagLib.
bool Id3v1Frame(const std::string& id, const TagLib::String& value, const Redecoding& redecoding,
                bool* changed, std::vector<FrameChange>* changes, OutputFrame* out) {
  std::unique_ptr<TagLib::ID3v2::Frame> frame;
  std::wstring copied;  // the text as the new frame holds it
  if (id == "COMM") {
    auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::Latin1);
    frame.reset(comment);
    comment->setText(value);
    RedecodeComment(value, redecoding, changed, comment);
    copied = comment->text().toWString();
  } else {
    auto* text = new TagLib::ID3v2::TextIdentificationFrame(
        TagLib::ByteVector(id.data(), static_cast<unsigned int>(id.size())),
        TagLib::String::Latin1);
    frame.reset(text);
    text->setText(value);
    TagLib::ID3v2::FrameList list;
    list.append(text);
    FixTextFrames(list, redecoding, *changed);
    std::vector<std::wstring> fields;
    for (const TagLib::String& field : text->fieldList())
      fields.push_back(field.toWString());
    copied = DescribeFields(fields);
  }
  if (changes)
    changes->push_back(FrameChange{id, std::wstring(), copied});
  out->kind = OutputFrame::kFromId3v1;
  out->id = id;
  return ReadTagLibFrame(*frame, &out->frame);
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

// True when a comment frame holds text; one that cannot be read counts as
// holding some.
bool HoldsText(const Id3v2Frame& comment) {
  FramePlaces places;
  if (comment.compressed || comment.encrypted || !FindTextPlaces(comment.data, "COMM", &places))
    return true;
  for (const TextPlace& place : places.places) {
    if (!place.description && !PlaceText(comment.data, places, place).empty())
      return true;
  }
  return false;
}

// True when the tag has a comment as players read the comment field: the
// comment without a description, else the first comment, when it holds text.
bool HasComment(const std::vector<OutputFrame>& frames) {
  const OutputFrame* first = nullptr;
  for (const OutputFrame& frame : frames) {
    if (frame.id != "COMM")
      continue;
    if (HasNoDescription(frame.frame))
      return true;
    first = first ? first : &frame;
  }
  return first && HoldsText(first->frame);
}

// The frame an ID3v1 field goes into: `*target` an empty frame to fill, or
// none to add one; false when the ID3v2 field holds a value.
bool FindTarget(std::vector<OutputFrame>* frames, const std::string& id, OutputFrame** target) {
  *target = nullptr;
  if (id == "COMM")
    return !HasComment(*frames);
  for (OutputFrame& frame : *frames) {
    if (frame.id != id)
      continue;
    if (frame.kind == OutputFrame::kKept && IsEmptyTextFrame(frame.frame))
      *target = &frame;
    return *target != nullptr;
  }
  return true;
}

}  // namespace

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
    OutputFrame* target = nullptr;
    if (value.isEmpty() || !FindTarget(frames, id, &target))
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
