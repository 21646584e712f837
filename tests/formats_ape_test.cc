// The APEv2 module: text items repaired value by value, binary items and
// everything outside the tag kept, sizes and count of what is written.
#include <gtest/gtest.h>

#include <taglib/apetag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>

#include "engine/containers/apev2.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

namespace {

const std::string kCover = std::string("\xFF\xD8\xC0\xC1\x00\xFF\xD9", 7);

std::vector<formats::ApeItemSpec> WrongItems() {
  return {{"Title", formats::Cp1251(L"Группа крови")},
          {"Artist", "ASCII" + std::string(1, '\0') + formats::TwiceUtf8(WideToUtf8(L"Кино"))},
          {"Album", WideToUtf8(L"Größe Ελληνικά Zażółć")},
          {"Cover Art (Front)", "cover.jpg" + std::string(1, '\0') + kCover, 2},
          {"Link", formats::Cp1251(L"Ссылка"), 4}};
}

TagLib::APE::ItemListMap ItemsOf(const std::string& file) {
  TagLib::ByteVector data(file.data(), static_cast<unsigned int>(file.size()));
  TagLib::ByteVectorStream stream(data);
  TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
  EXPECT_TRUE(mpeg.APETag());
  return mpeg.APETag() ? mpeg.APETag()->itemListMap() : TagLib::APE::ItemListMap();
}

TEST(ApeRepair, F1_TextItemsRepairedBinaryAndSurroundingsKept) {
  const std::string audio = fixtures::MpegFrames(4);
  const std::string id3v1 = fixtures::Id3v1Tag("v1 title");
  for (bool header : {true, false}) {
    SCOPED_TRACE(header);
    const std::string tag = formats::ApeTagBytes(WrongItems(), header);
    const std::string file = audio + tag + id3v1;
    const formats::Result result = formats::Repair(formats::kApe, file, formats::Automatic());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
    EXPECT_EQ(result.edit.offset, audio.size());
    EXPECT_EQ(result.edit.replaced, tag.size());
    EXPECT_EQ(result.after.substr(0, audio.size()), audio);
    EXPECT_EQ(result.after.substr(result.after.size() - 128), id3v1);
    const TagLib::APE::ItemListMap items = ItemsOf(result.after);
    EXPECT_EQ(items["TITLE"].toString().to8Bit(true), WideToUtf8(L"Группа крови"));
    ASSERT_EQ(items["ARTIST"].values().size(), 2u);
    EXPECT_EQ(items["ARTIST"].values()[1].to8Bit(true), WideToUtf8(L"Кино"));
    EXPECT_EQ(items["ALBUM"].toString().to8Bit(true), WideToUtf8(L"Größe Ελληνικά Zażółć"));
    const TagLib::ByteVector cover = items["COVER ART (FRONT)"].binaryData();
    EXPECT_EQ(std::string(cover.data(), cover.size()), "cover.jpg" + std::string(1, '\0') + kCover);
    EXPECT_NE(result.after.find("Link" + std::string(1, '\0') + formats::Cp1251(L"Ссылка")),
              std::string::npos);
    ASSERT_EQ(result.outcome.changes.size(), 2u);
    EXPECT_EQ(result.outcome.changes[1].frameId, "Artist");
    EXPECT_EQ(result.outcome.changes[1].after, L"ASCII / Кино");
    EXPECT_EQ(formats::Repair(formats::kApe, result.after, formats::Automatic()).result,
              WM_FIX_NOT_NEEDED);
  }
}

TEST(ApeRepair, A2_TheCountIsOfTheItemsWritten) {
  const std::string file = fixtures::MpegFrames(2) + formats::ApeTagBytes(WrongItems(), true, 9);
  const formats::Result result = formats::Repair(formats::kApe, file, formats::Named());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED);
  ApeTag tag;
  ASSERT_TRUE(ParseApeTag(result.edit.bytes, &tag));
  EXPECT_EQ(tag.items.size(), WrongItems().size());
  EXPECT_EQ(result.edit.bytes.substr(16, 4), std::string("\x05\0\0\0", 4));
  EXPECT_EQ(result.edit.bytes.substr(result.edit.bytes.size() - 16, 4), std::string("\x05\0\0\0", 4));
}

TEST(ApeRepair, C1_RightTextAndApeV1AreLeft) {
  const std::vector<formats::ApeItemSpec> right{{"Title", WideToUtf8(L"Группа крови")},
                                                {"Artist", WideToUtf8(L"à la française")}};
  const std::string audio = fixtures::MpegFrames(2);
  for (const Redecoding& redecoding : {formats::Automatic(), formats::Named()}) {
    EXPECT_EQ(formats::Repair(formats::kApe, audio + formats::ApeTagBytes(right, true), redecoding)
                  .result,
              WM_FIX_NOT_NEEDED);
    EXPECT_EQ(formats::Repair(formats::kApe,
                              audio + formats::ApeTagBytes(WrongItems(), false, -1, 1000),
                              redecoding)
                  .result,
              WM_FIX_NOT_NEEDED);
  }
}

TEST(ApeRepair, A1_BrokenTagsAreNeverWrittenAndNeverCrash) {
  const std::string audio = fixtures::MpegFrames(1);
  const std::string tag = formats::ApeTagBytes(WrongItems(), true);
  const std::string file = audio + tag;
  // The tag's start cut away: its sizes point before the file.
  for (std::size_t cut = 1; cut < tag.size(); ++cut)
    EXPECT_NE(formats::Repair(formats::kApe, tag.substr(cut), formats::Automatic()).result,
              unsigned(WM_FIX_SUCCEEDED))
        << cut;
  for (std::size_t at = audio.size(); at < file.size(); ++at) {
    std::string broken = file;
    broken[at] = char(broken[at] ^ 0x81);
    const formats::Result result = formats::Repair(formats::kApe, broken, formats::Automatic());
    if (result.result == WM_FIX_SUCCEEDED)  // what is written reads back whole
      EXPECT_NE(formats::Repair(formats::kApe, result.after, formats::Automatic()).result,
                unsigned(WM_FIX_FAILED))
          << at;
  }
}

}  // namespace
