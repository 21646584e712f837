// A new ID3v2.4 tag from the text items of a WAV or AIFF file.
#include "engine/containers/riff-tag.h"

#include <memory>

#include <taglib/commentsframe.h>
#include <taglib/textidentificationframe.h>

#include "engine/id3v2/frame-places.h"
#include "engine/id3v2/id3v2-layout.h"

namespace {

// The frame an item's text goes to.
std::string FrameFor(const std::string& id, const std::wstring& text) {
  static const char* const kFrames[][2] = {
      {"INAM", "TIT2"}, {"IART", "TPE1"}, {"IPRD", "TALB"}, {"ICMT", "COMM"}, {"IGNR", "TCON"},
      {"ICOP", "TCOP"}, {"ITRK", "TRCK"}, {"IPRT", "TRCK"}, {"ISFT", "TSSE"}, {"IENG", "TENC"},
      {"NAME", "TIT2"}, {"AUTH", "TPE1"}, {"ANNO", "COMM"}, {"(c) ", "TCOP"}};
  for (const auto& pair : kFrames) {
    if (id == pair[0])
      return pair[1];
  }
  if (id == "ICRD") {
    // A date frame holds a time stamp only: "2004", "2004-05-06", ...
    bool stamp = text.size() >= 4;
    for (std::size_t i = 0; i < text.size() && stamp; ++i)
      stamp = (text[i] >= L'0' && text[i] <= L'9') || (i >= 4 && (text[i] == L'-' ||
                                                                  text[i] == L':' ||
                                                                  text[i] == L'T'));
    return stamp ? "TDRC" : "TXXX";
  }
  return "TXXX";
}

TagLib::String Text(const std::wstring& text) {
  return TagLib::String(text);
}

}  // namespace

bool TagFramesFromTexts(const std::vector<TagText>& texts, std::vector<OutputFrame>* frames,
                        std::vector<std::vector<std::wstring>>* expected) {
  for (const TagText& item : texts) {
    if (item.text.empty())
      continue;
    std::string id = FrameFor(item.id, item.text);
    for (const OutputFrame& frame : *frames) {
      if (frame.id == id && id != "TXXX")
        id = "TXXX";
    }
    std::unique_ptr<TagLib::ID3v2::Frame> frame;
    std::vector<std::wstring> reads;
    if (id == "COMM") {
      auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF16);
      frame.reset(comment);
      comment->setLanguage("eng");
      comment->setText(Text(item.text));
      reads = {L"", item.text};
    } else if (id == "TXXX") {
      const std::wstring description(item.id.begin(), item.id.end());
      auto* user = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF16);
      frame.reset(user);
      user->setDescription(Text(description));
      user->setText(Text(item.text));
      reads = {description, item.text};
    } else {
      auto* text = new TagLib::ID3v2::TextIdentificationFrame(
          TagLib::ByteVector(id.data(), static_cast<unsigned int>(id.size())),
          TagLib::String::UTF16);
      frame.reset(text);
      text->setText(Text(item.text));
      reads = {item.text};
    }
    OutputFrame out;
    out.kind = OutputFrame::kKept;
    out.id = id;
    if (!ReadTagLibFrame(*frame, &out.frame))
      return false;
    frames->push_back(std::move(out));
    expected->push_back(std::move(reads));
  }
  return true;
}

std::string ComposeNewTag(const std::vector<OutputFrame>& frames, std::uint64_t chunkHeader) {
  constexpr std::uint64_t kBlock = 4096, kMinPadding = 1024;
  std::string tag = ComposeTag(frames, nullptr, 0, 4);
  std::uint64_t framed = 10;
  for (const OutputFrame& frame : frames)
    framed += RenderFrameV24(frame.frame, frame.id).size();
  const std::uint64_t whole = (chunkHeader + framed + kMinPadding + kBlock - 1) / kBlock * kBlock;
  tag.resize(std::size_t(whole - chunkHeader), '\0');
  std::string size;
  AppendSyncsafe(&size, std::uint32_t(tag.size() - 10));
  tag.replace(6, 4, size);
  return tag;
}

bool CheckTagTexts(const std::string& tag, const std::vector<OutputFrame>& frames,
                   const std::vector<std::vector<std::wstring>>& expected, std::wstring* detail) {
  if (!VerifyTag(tag, frames, detail))
    return false;
  Id3v2Layout layout;
  ReadId3v2Layout(tag, &layout);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    FramePlaces places;
    std::vector<std::wstring> reads;
    if (FindTextPlaces(layout.frames[i].data, frames[i].id, &places)) {
      for (const TextPlace& place : places.places)
        reads.push_back(PlaceText(layout.frames[i].data, places, place));
    }
    if (reads != expected[i]) {
      *detail = L"the new frame " + Widen(frames[i].id) + L" would not read as it should";
      return false;
    }
  }
  return true;
}
