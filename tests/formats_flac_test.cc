// The FLAC module: Vorbis comment blocks repaired with every other block and
// the audio kept (F1), the edit checked (F2), broken files left (F3) and the
// file's length kept or grown by whole room blocks (F4).
#include <gtest/gtest.h>

#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/xiphcomment.h>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

namespace {

using formats::FlacBlock;

const std::wstring kRussian = L"Группа крови";
const std::string kRussianUtf8 = WideToUtf8(kRussian);
const std::string kNoEquals = "no equals sign \xC0\xC1";

std::vector<std::string> WrongEntries() {
  return {"TITLE=" + formats::Cp1251(kRussian),
          "ARTIST=" + formats::TwiceUtf8(WideToUtf8(L"Кино")),
          "ALBUM=" + WideToUtf8(L"Größe à la française"),
          "COMMENT=" + WideToUtf8(L"Zażółć gęślą jaźń Ελληνικά"),
          kNoEquals,
          "\x01odd=" + formats::Cp1251(L"Звезда")};
}

std::string Flac(const std::vector<std::string>& entries, int padding, bool picture = true) {
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  std::vector<FlacBlock> blocks{{0, streamInfo},
                                {4, formats::VorbisComment("vendor \xC9", entries)}};
  if (picture)
    blocks.push_back({6, formats::PictureBlock("\xFF\xD8 picture \xC0\xC1\xFF\xD9")});
  if (padding >= 0)
    blocks.push_back({1, std::string(std::size_t(padding), '\0')});
  return formats::FlacFile(blocks, audio);
}

TagLib::Ogg::FieldListMap FieldsOf(const std::string& file) {
  TagLib::ByteVector data(file.data(), static_cast<unsigned int>(file.size()));
  TagLib::ByteVectorStream stream(data);
  TagLib::FLAC::File flac(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
  EXPECT_TRUE(flac.isValid());
  return flac.xiphComment() ? flac.xiphComment()->fieldListMap() : TagLib::Ogg::FieldListMap();
}

std::string Field(const TagLib::Ogg::FieldListMap& fields, const char* key) {
  return fields.contains(key) ? fields[key].front().to8Bit(true) : std::string();
}

void ExpectRepaired(const formats::Result& result) {
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  const auto fields = FieldsOf(result.after);
  EXPECT_EQ(Field(fields, "TITLE"), kRussianUtf8);
  EXPECT_EQ(Field(fields, "ARTIST"), WideToUtf8(L"Кино"));
  EXPECT_EQ(Field(fields, "ALBUM"), WideToUtf8(L"Größe à la française"));
  EXPECT_EQ(Field(fields, "COMMENT"), WideToUtf8(L"Zażółć gęślą jaźń Ελληνικά"));
  // V2: the entry with no '=' and the one with an odd key keep their bytes.
  EXPECT_NE(result.after.find(kNoEquals), std::string::npos);
  EXPECT_NE(result.after.find("\x01odd=" + formats::Cp1251(L"Звезда")), std::string::npos);
  EXPECT_NE(result.after.find("vendor \xC9"), std::string::npos);
  EXPECT_NE(result.after.find(formats::PictureBlock("\xFF\xD8 picture \xC0\xC1\xFF\xD9")),
            std::string::npos);
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  EXPECT_EQ(result.after.substr(result.after.size() - audio.size()), audio);
  const std::size_t flac = result.after.find("fLaC");
  EXPECT_EQ(result.after.substr(flac + 5, 37), formats::FlacFile({{0, streamInfo}}, "").substr(5));
  // Repaired text stays repaired: a second run changes nothing.
  EXPECT_EQ(formats::Repair(formats::kFlac, result.after, formats::Automatic()).result,
            WM_FIX_NOT_NEEDED);
}

TEST(FlacRepair, F1_WrongValuesRepairedInPaddingEverythingElseKept) {
  const std::string file = Flac(WrongEntries(), 100);
  const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
  ExpectRepaired(result);
  EXPECT_EQ(result.after.size(), file.size());  // F4: the padding took the growth
  EXPECT_GT(result.edit.offset, 42u);           // not STREAMINFO
  ASSERT_EQ(result.outcome.changes.size(), 2u);
  EXPECT_EQ(result.outcome.changes[0].frameId, "TITLE");
  EXPECT_EQ(result.outcome.changes[0].after, kRussian);
  EXPECT_EQ(result.outcome.changes[1].before, DecodeUtf8(formats::TwiceUtf8(WideToUtf8(L"Кино"))));
}

TEST(FlacRepair, C1_RightTextNeverChanges) {
  const std::vector<std::string> right{
      "TITLE=" + kRussianUtf8, "ARTIST=" + WideToUtf8(L"Größe à la française"),
      "ALBUM=" + WideToUtf8(L"Zażółć Ελληνικά"), "DATE=2001", kNoEquals + "x"};
  for (const Redecoding& redecoding : {formats::Automatic(), formats::Named()})
    EXPECT_EQ(formats::Repair(formats::kFlac, Flac(right, 10), redecoding).result,
              WM_FIX_NOT_NEEDED);
}

TEST(FlacRepair, F4_GrowthBeyondPaddingGrowsByWholeBlocksFromTheStart) {
  for (int padding : {-1, 0, 2}) {  // none, empty, too small
    SCOPED_TRACE(padding);
    const std::string file = Flac(WrongEntries(), padding);
    const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
    ExpectRepaired(result);
    EXPECT_EQ(result.edit.offset, 0u);
    EXPECT_EQ((result.after.size() - file.size()) % 4096, 0u);
    EXPECT_GT(result.after.size(), file.size());
  }
}

TEST(FlacRepair, F4_ShrinkingWithoutPaddingAddsPadding) {
  // Double-encoded text shrinks; the file keeps its length with new padding.
  const std::string twice = "TITLE=" + formats::TwiceUtf8(kRussianUtf8);
  const std::string file = Flac({twice, "ARTIST=" + formats::TwiceUtf8(kRussianUtf8)}, -1);
  const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED);
  EXPECT_EQ(result.after.size(), file.size());
  EXPECT_EQ(Field(FieldsOf(result.after), "ARTIST"), kRussianUtf8);
}

// F1, F4: a picture block stays where it lies on disk, neither read nor
// rewritten, whether the comments keep their length or outgrow the padding
// after the picture (a padding block after them takes the growth instead).
TEST(FlacRepair, F1_F4_APictureAfterTheCommentsIsNeitherReadNorRewritten) {
  const std::string picture = formats::PictureBlock(std::string(1 << 20, '\x5A'));
  std::wstring latin1;  // the cp1251 bytes read as Latin-1: its UTF-8 is as long
  for (const unsigned char c : formats::Cp1251(kRussian))
    latin1.push_back(wchar_t(c));
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  for (const std::string& title : {WideToUtf8(latin1), formats::Cp1251(kRussian)}) {
    const std::string file = formats::FlacFile(
        {{0, streamInfo},
         {4, formats::VorbisComment("vendor", {"TITLE=" + title})},
         {6, picture},
         {1, std::string(100, '\0')}},
        audio);
    const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
    EXPECT_EQ(Field(FieldsOf(result.after), "TITLE"), kRussianUtf8);
    EXPECT_LT(result.bytesRead, 256u << 10);
    EXPECT_LT(result.edit.bytes.size() + result.edit.replaced, 64u << 10);
    EXPECT_LE(result.edit.offset + result.edit.replaced, file.find(picture) - 4);
    EXPECT_EQ((result.after.size() - file.size()) % 4096, 0u);
    EXPECT_EQ(result.after.substr(result.after.size() - audio.size()), audio);
  }
}

TEST(FlacRepair, TwoCommentBlocksAreBothRepaired) {
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  const std::string file = formats::FlacFile(
      {{0, streamInfo},
       {4, formats::VorbisComment("a", {"TITLE=" + formats::Cp1251(kRussian)})},
       {1, std::string(64, '\0')},
       {4, formats::VorbisComment("b", {"ARTIST=" + formats::Cp1251(L"Кино")})}},
      audio);
  const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED);
  EXPECT_EQ(result.after.size(), file.size());
  EXPECT_NE(result.after.find("TITLE=" + kRussianUtf8), std::string::npos);
  EXPECT_NE(result.after.find("ARTIST=" + WideToUtf8(L"Кино")), std::string::npos);
  EXPECT_EQ(result.outcome.changes.size(), 2u);
}

TEST(FlacRepair, Id3v2TagInFrontStaysAsItIs) {
  const std::string id3 = fixtures::Id3v2Tag({fixtures::TextFrame("TIT2", "\xC0\xC1")}, 20);
  for (int padding : {100, -1}) {
    const std::string file = id3 + Flac(WrongEntries(), padding);
    const formats::Result result = formats::Repair(formats::kFlac, file, formats::Automatic());
    ExpectRepaired(result);
    EXPECT_EQ(result.after.substr(0, id3.size()), id3);
  }
}

TEST(FlacRepair, F3_BrokenFilesAreNeverWrittenAndNeverCrash) {
  const std::string file = Flac(WrongEntries(), 50);
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  // Cut anywhere within the metadata: nothing to write, or a refusal.
  for (std::size_t cut = 0; cut < file.size() - audio.size(); ++cut) {
    const formats::Result result =
        formats::Repair(formats::kFlac, file.substr(0, cut), formats::Automatic());
    EXPECT_NE(result.result, WM_FIX_SUCCEEDED) << cut;
  }
  // Every byte of the metadata changed in turn: whatever is written reads
  // back whole.
  for (std::size_t at = 0; at < file.size() - audio.size(); ++at) {
    std::string broken = file;
    broken[at] = char(broken[at] ^ 0xA5);
    const formats::Result result = formats::Repair(formats::kFlac, broken, formats::Automatic());
    if (result.result == WM_FIX_SUCCEEDED)  // what is written reads back whole
      EXPECT_NE(formats::Repair(formats::kFlac, result.after, formats::Automatic()).result,
                unsigned(WM_FIX_FAILED))
          << at;
  }
  // A comment block that says it is longer than the file.
  std::string tooLong = file;
  tooLong[42 + 1] = '\x7F';
  const formats::Result result = formats::Repair(formats::kFlac, tooLong, formats::Automatic());
  EXPECT_EQ(result.result, WM_FIX_NOT_NEEDED);
}

}  // namespace
