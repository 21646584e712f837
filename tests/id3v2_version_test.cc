// Repaired tags written as ID3v2.3: UTF-16 text only, every frame kept, and
// a second run that finds nothing to do.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/engine.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

RepairOptions Options(unsigned codePage, unsigned id3v2Version) {
  RepairOptions options;
  options.redecoding.codePage = codePage;
  options.id3v2Version = id3v2Version;
  return options;
}

std::string Utf8Frame(const std::string& utf8) {
  return std::string(1, '\x03') + utf8;
}

struct RawFrame {
  std::string id;
  std::string body;
};

// The frames of the ID3v2 tag at the start of `bytes`, as stored.
std::vector<RawFrame> RawFrames(const std::string& bytes) {
  std::vector<RawFrame> frames;
  const int version = bytes[3];
  size_t tagSize = 0;
  for (int i = 6; i < 10; ++i)
    tagSize = (tagSize << 7) | (static_cast<unsigned char>(bytes[i]) & 0x7F);
  size_t at = 10;
  while (at + 10 <= 10 + tagSize && bytes[at] != '\0') {
    size_t size = 0;
    for (int i = 4; i < 8; ++i) {
      const unsigned char b = static_cast<unsigned char>(bytes[at + i]);
      size = version == 4 ? (size << 7) | (b & 0x7F) : (size << 8) | b;
    }
    frames.push_back({bytes.substr(at, 4), bytes.substr(at + 10, size)});
    at += 10 + size;
  }
  return frames;
}

unsigned Fix(const fs::path& path, unsigned version) {
  FileOutcome outcome;
  return FixFile(path.native(), Options(1251, version), &outcome);
}

std::wstring Text(TagLib::ID3v2::Tag* tag, const char* id) {
  const TagLib::ID3v2::FrameList frames = tag->frameList(id);
  return frames.isEmpty() ? L"(missing)" : frames.front()->toString().toWString();
}

}  // namespace

TEST(Id3v2Version3, HoldsOnlyUtf16TextKeepsEveryFrameAndNeedsNothingTheSecondTime) {
  TempFolder folder;
  const std::string audio = MpegFrames(6);
  // A 2.4 tag with text in all three kinds of storage and frames 2.3 names
  // differently (TDRC) or holds by custom (TSOP).
  const fs::path song =
      folder.Write("v24.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2"),
                                        {"TPE1", Utf8Frame("Bj\xC3\xB6rk \xC3\xA9t\xC3\xA9")},
                                        Utf16TextFrame("TALB", u"Dvo\u0159\u00E1k"),
                                        TextFrame("TDRC", "2001"),
                                        TextFrame("TSOP", "Bjork"),
                                        UserTextFrame("MOOD", "\xF2\xE8\xF5\xEE"),
                                        CommentFrame("kept as it is")},
                                       64, 4) +
                                  audio);

  ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(song, 3));
  const std::string repaired = ReadFile(song);
  EXPECT_EQ(3, repaired[3]) << "an ID3v2.3 header";
  EXPECT_EQ(audio, repaired.substr(repaired.size() - audio.size()));
  std::vector<std::string> ids;
  for (const RawFrame& frame : RawFrames(repaired)) {
    ids.push_back(frame.id);
    if (frame.id[0] != 'T')
      continue;
    SCOPED_TRACE(frame.id);
    // No UTF-8 inside 2.3, and no Latin-1 byte a later run would re-decode.
    ASSERT_FALSE(frame.body.empty());
    EXPECT_NE(3, frame.body[0]);
    if (frame.body[0] == 0) {
      for (char c : frame.body)
        EXPECT_GE(0x80, static_cast<unsigned char>(c) + 1) << "a byte at or above 0x80";
    }
  }
  for (const char* id : {"TIT2", "TPE1", "TALB", "TYER", "TSOP", "TXXX", "COMM"})
    EXPECT_NE(ids.end(), std::find(ids.begin(), ids.end(), id)) << id;

  {
    TagLib::MPEG::File file(song.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(false);
    ASSERT_NE(nullptr, tag);
    EXPECT_EQ(L"\u0410\u0431\u0432", Text(tag, "TIT2"));
    EXPECT_EQ(L"Bj\u00F6rk \u00E9t\u00E9", Text(tag, "TPE1"));
    EXPECT_EQ(L"Dvo\u0159\u00E1k", Text(tag, "TALB"));
    EXPECT_EQ(2001u, tag->year());
    EXPECT_EQ(L"Bjork", Text(tag, "TSOP"));
    EXPECT_EQ(L"[MOOD] \u0442\u0438\u0445\u043E", Text(tag, "TXXX"));
    EXPECT_EQ(L"kept as it is", tag->comment().toWString());
  }

  // Nothing left to repair, under either version; the file is not written.
  for (unsigned version : {3u, 4u}) {
    EXPECT_EQ(WM_FIX_NOT_NEEDED, Fix(song, version)) << version;
    EXPECT_EQ(repaired, ReadFile(song));
  }
}

TEST(Id3v2Version3, Version3TagsStayVersion3AndDefaultStays4) {
  TempFolder folder;
  const std::string tag = Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2")}, 0, 3) + MpegFrames(4);
  const fs::path three = folder.Write("three.mp3", tag);
  const fs::path four = folder.Write("four.mp3", tag);
  ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(three, 3));
  ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(four, 4));
  EXPECT_EQ(3, ReadFile(three)[3]);
  EXPECT_EQ(4, ReadFile(four)[3]);
  const std::vector<RawFrame> frames = RawFrames(ReadFile(three));
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(std::string("\x01\xFF\xFE\x10\x04\x31\x04\x32\x04", 9), frames[0].body);
}

TEST(Id3v2Version3, TagWithFramesVersion3WouldLoseOrAlterStays4) {
  // ID3v2.3 has no place for TDRL, TMOO, TSST; TIPL and TMCL would become a
  // Latin-1 IPLS frame holding "\xF6", which a later run would re-decode.
  for (const char* id : {"TDRL", "TMOO", "TSST", "TIPL", "TMCL"}) {
    SCOPED_TRACE(id);
    TempFolder folder;
    const fs::path song = folder.Write(
        "s.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2"),
                           Utf16TextFrame(id, std::u16string(u"producer\0Bj\u00F6rk", 14))},
                          0, 4) +
                     MpegFrames(4));
    ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(song, 3));
    const std::string repaired = ReadFile(song);
    EXPECT_EQ(4, repaired[3]);
    std::vector<std::string> ids;
    for (const RawFrame& frame : RawFrames(repaired))
      ids.push_back(frame.id);
    EXPECT_EQ((std::vector<std::string>{"TIT2", id}), ids);
  }
}

TEST(Id3v2Version3, Utf8TextTakesTheSameUtf16BytesInEveryBuild) {
  // A character beyond the first plane becomes a surrogate pair, whether
  // wchar_t holds it whole (Linux) or as a pair already (Windows).
  TempFolder folder;
  const fs::path song = folder.Write(
      "emoji.mp3",
      Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2"), {"TPE1", Utf8Frame("A\xF0\x9F\x8E\xB5")}}, 0,
               4) +
          MpegFrames(4));
  ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(song, 3));
  const std::string repaired = ReadFile(song);
  EXPECT_EQ(3, repaired[3]);
  const std::vector<RawFrame> frames = RawFrames(repaired);
  ASSERT_EQ(2u, frames.size());
  EXPECT_EQ(std::string("\x01\xFF\xFE"
                        "A\0"
                        "\x3C\xD8\xB5\xDF",
                        9),
            frames[1].body);

  // Broken UTF-8 has no one UTF-16 form: the tag stays 2.4 with the frame
  // as stored.
  const std::string broken = Utf8Frame(
      "\xFFran d\xC3\xAD"
      "a");
  const fs::path bad = folder.Write(
      "broken.mp3",
      Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2"), {"TPE1", broken}}, 0, 4) + MpegFrames(4));
  ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(bad, 3));
  const std::string kept = ReadFile(bad);
  EXPECT_EQ(4, kept[3]);
  const std::vector<RawFrame> keptFrames = RawFrames(kept);
  ASSERT_EQ(2u, keptFrames.size());
  EXPECT_EQ(broken, keptFrames[1].body);
}
