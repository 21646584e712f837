// Re-decoding of Latin-1 text frames, both TagLib's frames (the second
// opinion and the ID3v1 copy) and the frames the tag's own layout holds.
#include "engine/text/album-utf8.h"
#include "engine/id3v2/id3v2-text.h"
#include "engine/id3v2/redecode.h"

#include <memory>
#include <optional>

#include <taglib/textidentificationframe.h>

#include "engine/text/album.h"
#include "engine/formats/container-text.h"
#include "engine/id3v2/frame-places.h"
#include "engine/formats/repair.h"
#include "engine/id3v2/tag-compose.h"

// Latin-1 text holds one character per stored byte; its low 8 bits are the
// byte, which is what the code page decodes.
TagLib::String Redecode(const TagLib::String& text, const Redecoding& redecoding) {
  if (text.isAscii())
    return text;
  const std::string bytes = text.to8Bit(false);
  std::wstring inner;
  if (!redecoding.automatic && TakeOffUtf8Layers(text.toWString(), true, &inner))
    return TagLib::String(ReadThroughPage(inner, redecoding.codePage), TagLib::String::UTF16BE);
  if (redecoding.automatic && IsMultiByteUtf8(bytes))
    return TagLib::String(DecodeUtf8(bytes), TagLib::String::UTF16BE);
  if (redecoding.automatic && redecoding.codePage == kLeaveText)
    return text;
  return TagLib::String(DecodeCodePage(redecoding.codePage, bytes), TagLib::String::UTF16BE);
}

std::wstring DescribeFields(const std::vector<std::wstring>& fields) {
  std::wstring text;
  for (const std::wstring& field : fields)
    text += (text.empty() ? L"" : L" / ") + field;
  return text;
}

namespace {

std::wstring JoinValues(const TagLib::StringList& fields) {
  std::vector<std::wstring> values;
  for (const TagLib::String& field : fields)
    values.push_back(field.toWString());
  return DescribeFields(values);
}

// The stored values of a Latin-1 frame, each in its place (a TXXX
// description first), as TagLib strings of the stored bytes. TagLib's own
// reading of the frame is not used: it drops empty values and misplaces a
// TXXX value without a description.
bool StoredValues(const Id3v2Frame& original, const std::string& idV24,
                  TagLib::StringList* values) {
  Id3v2Frame renamed = original;
  renamed.id = idV24;
  std::vector<std::wstring> stored;
  if (!TextFrameFields(renamed, true, &stored))
    return false;
  for (const std::wstring& field : stored) {
    std::string bytes;
    for (wchar_t c : field)
      bytes.push_back(char(c));
    values->append(TagLib::String(bytes, TagLib::String::Latin1));
  }
  return true;
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
    if (changes) {
      const TagLib::ByteVector id = textFrame->frameID();
      changes->push_back(FrameChange{std::string(id.data(), id.size()), JoinValues(fields),
                                     JoinValues(redecoded)});
    }
    textFrame->TextIdentificationFrame::setText(redecoded);
    textFrame->setTextEncoding(TagLib::String::UTF16);
  }
}

PlaceRepair RepairTwiceEncodedFrame(const Id3v2Frame& frame, const std::string& id,
                                    std::vector<FrameChange>* changes, Id3v2Frame* out) {
  *out = frame;
  FramePlaces places;
  if (frame.compressed || frame.encrypted || frame.malformed ||
      !FindTextPlaces(frame.data, id, &places) || places.machineWritten || places.encoding == 0)
    return PlaceRepair::kUnchanged;
  std::vector<std::optional<std::wstring>> texts(places.places.size());
  std::vector<std::wstring> before, after;
  bool changed = false;
  for (std::size_t i = 0; i < places.places.size(); ++i) {
    const std::wstring stored = PlaceText(frame.data, places, places.places[i]);
    std::wstring text;
    before.push_back(stored);
    after.push_back(TakeOffUtf8Layers(stored, false, &text) ? text : stored);
    if (after.back() != stored) {
      texts[i] = after.back();
      changed = true;
    }
  }
  if (!changed)
    return PlaceRepair::kUnchanged;
  if (!RewriteTextPlaces(frame.data, id, places, texts, &out->data))
    return PlaceRepair::kFailed;
  if (out->hasDataLength)
    out->dataLength = std::uint32_t(out->data.size());
  if (changes)
    changes->push_back(FrameChange{id, DescribeFields(before), DescribeFields(after)});
  return PlaceRepair::kChanged;
}

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

bool RedecodingChanges(const Id3v2Frame& original, const std::string& idV24,
                       const Redecoding& redecoding) {
  // In automatic mode every place of the frame is read by the file's
  // reading (engine/id3v2/place-reading.h) instead.
  return !redecoding.automatic && IsRedecodable(original, idV24);
}

// The values are set on a new UTF-16 frame that TagLib renders; what the
// frame must read as afterwards is kept for the check of the composed tag.
bool RedecodeFrame(const Id3v2Frame& original, const std::string& idV24,
                   const Redecoding& redecoding, std::vector<FrameChange>* changes,
                   OutputFrame* out) {
  TagLib::StringList before, after;
  if (!StoredValues(original, idV24, &before))
    return false;
  std::vector<std::wstring> expected;
  for (const TagLib::String& value : before) {
    after.append(Redecode(value, redecoding));
    expected.push_back(after.back().toWString());
  }
  std::unique_ptr<TagLib::ID3v2::TextIdentificationFrame> frame;
  if (idV24 == "TXXX") {
    frame.reset(new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF16));
  } else {
    frame.reset(new TagLib::ID3v2::TextIdentificationFrame(
        TagLib::ByteVector(idV24.data(), static_cast<unsigned int>(idV24.size())),
        TagLib::String::UTF16));
  }
  frame->TextIdentificationFrame::setText(after);
  Id3v2Frame rendered;
  if (!ReadTagLibFrame(*frame, &rendered))
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
  out->expectedFields = expected;
  return true;
}
