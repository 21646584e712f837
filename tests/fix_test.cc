// The repair of single files and of a whole list, checked on the bytes that
// reach the disk and on what TagLib reads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include "engine/engine.h"
#include "engine/fix-loop.h"
#include "engine/summary.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

const char kCyrillicBytes[] = "\xC0\xE1\xE2";  // "Абв" in code page 1251
const wchar_t kCyrillic[] = L"\u0410\u0431\u0432";

// Size of the ID3v2 tag at the start of `bytes`, header included.
size_t TagSize(const std::string& bytes) {
  if (bytes.compare(0, 3, "ID3") != 0)
    return 0;
  size_t size = 0;
  for (int i = 6; i < 10; ++i)
    size = (size << 7) | (static_cast<unsigned char>(bytes[i]) & 0x7F);
  return 10 + size;
}

std::string AfterTag(const std::string& bytes) {
  return bytes.substr(TagSize(bytes));
}

unsigned Fix(const fs::path& path, unsigned codePage, FileOutcome* outcome = nullptr) {
  FileOutcome local;
  return FixFile(path.native(), codePage, outcome ? outcome : &local);
}

// The frame `id` of the file as TagLib reads it back.
struct ReadBack {
  explicit ReadBack(const fs::path& path) : file(path.c_str()) {}
  TagLib::ID3v2::TextIdentificationFrame* Text(const char* id) {
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(false);
    if (!tag)
      return nullptr;
    const TagLib::ID3v2::FrameList frames = tag->frameListMap()[id];
    return frames.isEmpty() ? nullptr
                            : dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames.front());
  }
  TagLib::MPEG::File file;
};

}  // namespace

TEST(FixFile, RedecodesLatin1FramesAndKeepsTheAudioBytes) {
  for (int padding : {0, 4096}) {  // the repaired tag outgrows its padding, or fits in it
    SCOPED_TRACE(padding);
    TempFolder folder;
    const std::string audio = MpegFrames(20);
    const std::string original =
        Id3v2Tag({TextFrame("TIT2", kCyrillicBytes), TextFrame("TPE1", "ASCII artist")}, padding) +
        audio;
    const fs::path path = folder.Write("song.mp3", original);

    FileOutcome outcome;
    EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251, &outcome));
    EXPECT_EQ(path.native(), outcome.path);
    EXPECT_TRUE(outcome.issue.empty());

    const std::string repaired = ReadFile(path);
    EXPECT_EQ(audio, AfterTag(repaired));
    ReadBack back(path);
    ASSERT_TRUE(back.Text("TIT2"));
    EXPECT_EQ(TagLib::String::UTF16, back.Text("TIT2")->textEncoding());
    EXPECT_EQ(TagLib::String(kCyrillic), back.Text("TIT2")->toString());
    ASSERT_TRUE(back.Text("TPE1"));
    EXPECT_EQ(TagLib::String("ASCII artist"), back.Text("TPE1")->toString());
    EXPECT_EQ(TagLib::String::Latin1, back.Text("TPE1")->textEncoding());
  }
}

TEST(FixFile, DecodesThroughTheGivenCodePage) {
  struct Case {
    unsigned codePage;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {1252, "\xE9t\xE9 \x80", L"\u00E9t\u00E9 \u20AC"},  // same letters, still rewritten
      {1250,
       "\xB3\xF3"
       "d\xBF",
       L"\u0142\u00F3d\u017C"},
      {1253, "\xC1\xE8\xDE\xED\xE1", L"\u0391\u03B8\u03AE\u03BD\u03B1"},
      {932, "\x82\xA0\x82\xA2", L"\u3042\u3044"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    TempFolder folder;
    const fs::path path =
        folder.Write("a.mp3", Id3v2Tag({TextFrame("TALB", c.bytes)}) + MpegFrames(5));
    EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, c.codePage));
    ReadBack back(path);
    ASSERT_TRUE(back.Text("TALB"));
    EXPECT_EQ(TagLib::String(c.text), back.Text("TALB")->toString());
  }
}

TEST(FixFile, FilesThatNeedNothingAreNeitherChangedNorWritten) {
  const std::string audio = MpegFrames(8);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no tag", audio},
      {"ascii only", Id3v2Tag({TextFrame("TIT2", "Plain title")}) + audio},
      {"empty latin-1 frame", Id3v2Tag({TextFrame("TIT2", "")}) + audio},
      {"utf-16 frame", Id3v2Tag({Utf16TextFrame("TIT2", u"\u00C0\u00E1")}) + audio},
      {"utf-8 frame", Id3v2Tag({Frame{"TIT2", "\x03\xC3\x80\xC3\xA1"}}, 0, 4) + audio},
      {"comment only", Id3v2Tag({CommentFrame("\xC0\xE1\xE2")}) + audio},
      {"id3v1 ascii only", audio + Id3v1Tag("Title", "Artist", "Album", "1999", 3)},
      {"not mpeg at all", std::string(3000, 'x')},
      {"empty file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path path = folder.Write("song.mp3", c.bytes);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(48));
    const auto past = fs::last_write_time(path);  // as the file system keeps it

    EXPECT_EQ(WM_FIX_NOT_NEEDED, Fix(path, 1251));
    EXPECT_EQ(c.bytes, ReadFile(path));
    EXPECT_EQ(past, fs::last_write_time(path));
  }
}

TEST(FixFile, Id3v1TextIsCopiedIntoEmptyId3v2FieldsAndRepaired) {
  TempFolder folder;
  const std::string audio = MpegFrames(6);
  const std::string id3v1 = Id3v1Tag(kCyrillicBytes, "Artist", "", "2001", 7);
  const fs::path path = folder.Write("v1.mp3", audio + id3v1);

  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));
  const std::string repaired = ReadFile(path);
  EXPECT_EQ(audio + id3v1, AfterTag(repaired)) << "ID3v1 block and audio stay as they were";
  ReadBack back(path);
  ASSERT_TRUE(back.Text("TIT2"));
  EXPECT_EQ(TagLib::String(kCyrillic), back.Text("TIT2")->toString());
  EXPECT_EQ(TagLib::String::UTF16, back.Text("TIT2")->textEncoding());
  EXPECT_EQ(TagLib::String("Artist"), back.Text("TPE1")->toString());
  EXPECT_EQ(TagLib::String("7"), back.Text("TRCK")->toString());
  EXPECT_EQ(nullptr, back.Text("TALB")) << "an empty ID3v1 field creates no frame";
}

TEST(FixFile, Id3v2ValuesAreNeverReplacedById3v1) {
  TempFolder folder;
  const fs::path path = folder.Write(
      "both.mp3", Id3v2Tag({TextFrame("TIT2", "Kept title"), TextFrame("TPE1", kCyrillicBytes)}) +
                      MpegFrames(6) + Id3v1Tag("\xC1\xC1", "", "", "", 9));
  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));
  ReadBack back(path);
  EXPECT_EQ(TagLib::String("Kept title"), back.Text("TIT2")->toString());
  EXPECT_EQ(TagLib::String(kCyrillic), back.Text("TPE1")->toString());
  ASSERT_TRUE(back.Text("TRCK")) << "a missing track is filled from ID3v1";
  EXPECT_EQ(TagLib::String("9"), back.Text("TRCK")->toString());
}

// The comment field is the comment without a description, else the first
// comment: the ID3v1 comment goes only into a tag that has neither, or
// whose first comment is empty.
TEST(FixFile, Id3v1CommentIsCopiedOnlyIntoATagWithoutAComment) {
  std::string id3v1 = Id3v1Tag(kCyrillicBytes);
  id3v1.replace(97, 7, "v1 note");
  const Frame described{"COMM", std::string("\0eng", 4) + "desc" + '\0' + "kept"};
  const Frame emptyDescribed{"COMM", std::string("\0eng", 4) + "desc" + '\0'};
  for (const auto& [frames, comment, count] :
       {std::make_tuple(std::vector<Frame>{described}, "kept", 1u),
        std::make_tuple(std::vector<Frame>{TextFrame("TPE1", "x")}, "v1 note", 1u),
        std::make_tuple(std::vector<Frame>{emptyDescribed}, "v1 note", 2u)}) {
    TempFolder folder;
    const fs::path path = folder.Write("c.mp3", Id3v2Tag(frames) + MpegFrames(4) + id3v1);
    ASSERT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251)) << comment;
    ReadBack back(path);
    ASSERT_TRUE(back.file.ID3v2Tag(false));
    const TagLib::ID3v2::FrameList comments = back.file.ID3v2Tag(false)->frameListMap()["COMM"];
    ASSERT_EQ(comments.size(), count) << comment;
    EXPECT_EQ(comments.back()->toString().to8Bit(), std::string(comment));
  }
}

TEST(FixFile, Id3v1CopyAloneNeverSaves) {
  TempFolder folder;
  const std::string bytes =
      Id3v2Tag({TextFrame("TIT2", "Title")}) + MpegFrames(6) + Id3v1Tag("Title", "Artist");
  const fs::path path = folder.Write("copy.mp3", bytes);
  EXPECT_EQ(WM_FIX_NOT_NEEDED, Fix(path, 1251));
  EXPECT_EQ(bytes, ReadFile(path));
}

TEST(FixFile, UserTextFrameKeepsDescriptionAndValueInTheirPlaces) {
  TempFolder folder;
  const fs::path path =
      folder.Write("txxx.mp3", Id3v2Tag({UserTextFrame("\xCE\xEF\xE8\xF1", "\xC7\xED\xE0\xF7")}) +
                                   MpegFrames(4));
  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));

  ReadBack back(path);
  TagLib::ID3v2::Tag* tag = back.file.ID3v2Tag(false);
  ASSERT_TRUE(tag);
  auto* frame = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(
      tag->frameListMap()["TXXX"].front());
  ASSERT_TRUE(frame);
  EXPECT_EQ(TagLib::String(L"\u041E\u043F\u0438\u0441"), frame->description());
  const TagLib::StringList fields = frame->fieldList();
  ASSERT_EQ(2u, fields.size());
  EXPECT_EQ(TagLib::String(L"\u0417\u043D\u0430\u0447"), fields[1]);
  EXPECT_EQ(TagLib::String::UTF16, frame->textEncoding());
}

TEST(FixFile, SeveralValuesOfOneFrameStayApart) {
  TempFolder folder;
  const fs::path path = folder.Write(
      "multi.mp3",
      Id3v2Tag({MultiValueTextFrame("TPE1", {"\xC0\xE1", "Plain", "\xE2"})}, 0, 4) + MpegFrames(4));
  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));
  ReadBack back(path);
  ASSERT_TRUE(back.Text("TPE1"));
  const TagLib::StringList values = back.Text("TPE1")->fieldList();
  ASSERT_EQ(3u, values.size());
  EXPECT_EQ(TagLib::String(L"\u0410\u0431"), values[0]);
  EXPECT_EQ(TagLib::String("Plain"), values[1]);
  EXPECT_EQ(TagLib::String(L"\u0432"), values[2]);
}

TEST(FixFile, OtherTagsAndFramesAreLeftAsTheyAre) {
  TempFolder folder;
  const std::string tail =
      MpegFrames(10) + ApeTag("Title", "\xC0\xE1") + Id3v1Tag("\xC0", "", "", "", 1);
  const fs::path path = folder.Write(
      "ape.mp3",
      Id3v2Tag({TextFrame("TIT2", kCyrillicBytes), CommentFrame("\xE9\xE9")}, 16) + tail);
  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));
  EXPECT_EQ(tail, AfterTag(ReadFile(path)));

  ReadBack back(path);
  auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(
      back.file.ID3v2Tag()->frameListMap()["COMM"].front());
  ASSERT_TRUE(comment);
  EXPECT_EQ(TagLib::String::Latin1, comment->textEncoding());
  EXPECT_EQ(TagLib::String("\xE9\xE9", TagLib::String::Latin1), comment->text());
}

TEST(FixFile, RepairingTwiceFindsNothingTheSecondTime) {
  TempFolder folder;
  const fs::path path = folder.Write(
      "twice.mp3", Id3v2Tag({TextFrame("TIT2", kCyrillicBytes), UserTextFrame("\xC0", "\xC1")}) +
                       MpegFrames(5) + Id3v1Tag("\xC0\xC1"));
  EXPECT_EQ(WM_FIX_SUCCEEDED, Fix(path, 1251));
  const std::string once = ReadFile(path);
  EXPECT_EQ(WM_FIX_NOT_NEEDED, Fix(path, 1251));
  EXPECT_EQ(once, ReadFile(path));
}

TEST(FixFile, MissingFileCannotBeOpened) {
  TempFolder folder;
  FileOutcome outcome;
  EXPECT_EQ(WM_FIX_FAILED, Fix(folder.path() / "gone.mp3", 1251, &outcome));
  EXPECT_EQ(std::wstring(L"Couldn't open file"), outcome.issue);
}

TEST(FixFiles, OneOutcomePerFileInListOrderThenCompletion) {
  TempFolder folder;
  const std::vector<PathString> files = {
      folder.Write("1.mp3", Id3v2Tag({TextFrame("TIT2", kCyrillicBytes)}) + MpegFrames(3)).native(),
      folder.Write("2.mp3", MpegFrames(3)).native(),
      (folder.path() / "3-removed-after-the-scan.mp3").native(),
      folder.Write("4.mp3", Id3v2Tag({TextFrame("TPE1", kCyrillicBytes)}) + MpegFrames(3)).native(),
  };
  const std::vector<Received> received = RunFix(files, 1251);
  ASSERT_EQ(5u, received.size());
  const unsigned expected[] = {WM_FIX_SUCCEEDED, WM_FIX_NOT_NEEDED, WM_FIX_FAILED,
                               WM_FIX_SUCCEEDED};
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(expected[i], received[i].message) << i;
    EXPECT_EQ(files[i], received[i].path) << i;
  }
  EXPECT_EQ(std::wstring(L"Couldn't open file"), received[2].issue);
  EXPECT_TRUE(received[0].issue.empty());
  EXPECT_EQ(WM_FIX_COMPLETE, received[4].message);
}

TEST(FixFiles, EmptyListCompletesAtOnce) {
  const std::vector<Received> received = RunFix({}, 1251);
  ASSERT_EQ(1u, received.size());
  EXPECT_EQ(WM_FIX_COMPLETE, received[0].message);
}

TEST(Summary, ComposesTheCountsAsTheResultsPageShowsThem) {
  EXPECT_EQ(L"No files needed fixing", ComposeSummary(0, 0));
  EXPECT_EQ(L"Successfully fixed 1 file", ComposeSummary(1, 0));
  EXPECT_EQ(L"Successfully fixed 2 files", ComposeSummary(2, 0));
  EXPECT_EQ(L"Couldn't fix 1 file", ComposeSummary(0, 1));
  EXPECT_EQ(L"Successfully fixed 1 file, couldn't fix 2 files", ComposeSummary(1, 2));
  EXPECT_EQ(L"Successfully fixed 3 files, couldn't fix 1 file", ComposeSummary(3, 1));
  EXPECT_EQ(L"Successfully fixed 12345 files", ComposeSummary(12345, 0));
  EXPECT_EQ(L"Couldn't fix 4294967295 files", ComposeSummary(0, 4294967295u));
}
