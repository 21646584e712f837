// The ASF module over small real WMA files: widened code-page bytes and
// twice-encoded UTF-8 in UTF-16 fields come back right; every other field,
// the Data Object and the file size stay right.
#include <gtest/gtest.h>
#include <taglib/asffile.h>

#include "engine/containers/asf-objects.h"
#include "engine/containers/container-bytes.h"
#include "tests/fixtures.h"
#include "tests/formats_fixtures.h"

namespace {

using container_fixtures::ChangedTo;
using container_fixtures::kAsf;
using container_fixtures::RunModule;
using container_fixtures::Sample;

std::wstring Attribute(TagLib::ASF::Tag* tag, const char* name) {
  const TagLib::ASF::AttributeList list = tag->attribute(name);
  return list.isEmpty() ? L"(none)" : list.front().toString().toWString();
}

std::uint64_t HeaderSize(const std::string& file) {
  return GetLittleEndian(file, 16, 8);
}

// The file size of the File Properties object (which the writer of the
// sample left short of the real one).
std::uint64_t FileSize(const std::string& file) {
  AsfHeader header;
  EXPECT_TRUE(ParseAsfHeader(file.substr(0, std::size_t(HeaderSize(file))), &header));
  for (const AsfObject& object : header.objects) {
    if (object.guid == std::string(kAsfFilePropertiesGuid, 16))
      return GetLittleEndian(header.bytes, std::size_t(object.at + 40), 8);
  }
  ADD_FAILURE() << "no File Properties object";
  return 0;
}

}  // namespace

TEST(AsfFormat, WidenedAndTwiceEncodedTextBecomeRight_F1_F2_F4) {
  const std::string before = Sample("widened.wma");
  const container_fixtures::Run run = RunModule(kAsf, before, container_fixtures::Automatic());
  ASSERT_EQ(run.result, WM_FIX_SUCCEEDED) << std::string(run.outcome.detail.begin(), run.outcome.detail.end());
  EXPECT_EQ(ChangedTo(run.outcome, "Title"), L"Песня о друге");
  EXPECT_EQ(ChangedTo(run.outcome, "Author"), L"Владимир Высоцкий");
  EXPECT_EQ(ChangedTo(run.outcome, "WM/AlbumTitle"), L"Лучшие песни");
  EXPECT_EQ(ChangedTo(run.outcome, "WM/Composer"), L"Высоцкий");
  EXPECT_EQ(ChangedTo(run.outcome, "WM/Writer"), L"Высоцкий");  // Metadata object
  EXPECT_EQ(ChangedTo(run.outcome, "WM/Mood"), L"Грусть");      // Metadata Library
  EXPECT_EQ(ChangedTo(run.outcome, "WM/Genre"), L"(none)");
  // The edit is the Header Object, from the file's start; the file keeps
  // its length or grows by whole blocks.
  EXPECT_EQ(run.edit.offset, 0u);
  EXPECT_EQ(run.edit.replaced, HeaderSize(before));
  EXPECT_EQ((run.after.size() - before.size()) % 4096, 0u);
  // Everything after the header (Data Object, indexes) is as it was, and
  // the File Properties object's file size is the new length.
  EXPECT_EQ(run.after.substr(std::size_t(HeaderSize(run.after))),
            before.substr(std::size_t(HeaderSize(before))));
  EXPECT_EQ(FileSize(run.after) - FileSize(before), run.after.size() - before.size());

  fixtures::TempFolder folder;
  const auto original = folder.Write("before.wma", before);
  const auto repaired = folder.Write("after.wma", run.after);
  TagLib::ASF::File file(repaired.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ(file.tag()->title().toWString(), L"Песня о друге");
  EXPECT_EQ(file.tag()->artist().toWString(), L"Владимир Высоцкий");
  EXPECT_EQ(Attribute(file.tag(), "WM/AlbumTitle"), L"Лучшие песни");
  EXPECT_EQ(Attribute(file.tag(), "WM/Genre"), L"Шансон");
  EXPECT_EQ(Attribute(file.tag(), "WM/Composer"), L"Высоцкий");
  EXPECT_EQ(Attribute(file.tag(), "WM/Writer"), L"Высоцкий");
  EXPECT_EQ(Attribute(file.tag(), "WM/Mood"), L"Грусть");
  EXPECT_EQ(file.tag()->attribute("WM/TrackNumber").front().toUInt(), 3u);
  EXPECT_EQ(container_fixtures::AudioMd5(original), container_fixtures::AudioMd5(repaired));
  EXPECT_EQ(RunModule(kAsf, run.after, container_fixtures::Automatic()).result, WM_FIX_NOT_NEEDED);
}

// A shrink of fewer bytes than a Padding Object takes grows the header by
// a block instead of moving the audio by a few bytes; a Padding Object
// already there takes every later change (F4).
TEST(AsfFormat, PaddingKeepsTheLengthOnceThere_F4) {
  const container_fixtures::Run first = RunModule(kAsf, Sample("widened.wma"), container_fixtures::Automatic());
  ASSERT_EQ(first.result, WM_FIX_SUCCEEDED);
  // Put widened text back into the repaired file's title: same length.
  std::string again = first.after;
  const std::string right = EncodeUtf16(L"Песня о друге", false);
  const std::string wrong = EncodeUtf16(L"\u00CF\u00E5\u00F1\u00ED\u00FF \u00EE "
                                        L"\u00E4\u00F0\u00F3\u00E3\u00E5",
                                        false);
  ASSERT_EQ(right.size(), wrong.size());
  again.replace(again.find(right), right.size(), wrong);
  const container_fixtures::Run second = RunModule(kAsf, again, container_fixtures::Automatic());
  ASSERT_EQ(second.result, WM_FIX_SUCCEEDED);
  EXPECT_EQ(second.after, first.after);
}

TEST(AsfFormat, RightTextIsNotNeeded_C1) {
  EXPECT_EQ(RunModule(kAsf, Sample("right.wma"), container_fixtures::Automatic()).result,
            WM_FIX_NOT_NEEDED);
}
