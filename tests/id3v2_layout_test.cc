// The ID3v2 reader's pieces that the repair leans on to keep bytes: syncsafe
// sizes, and frames TagLib renders taken in by their header alone.
#include <gtest/gtest.h>

#include <string>

#include <taglib/textidentificationframe.h>

#include "engine/id3v2/id3v2-layout.h"

namespace {

std::string Syncsafe(std::uint32_t value) {
  std::string out;
  AppendSyncsafe(&out, value);
  return out;
}

std::string Rendered(const TagLib::ID3v2::Frame& frame) {
  const TagLib::ByteVector bytes = frame.render();
  return std::string(bytes.data(), bytes.size());
}

}  // namespace

TEST(Id3v2Layout, SyncsafeSizesKeepSevenBitsABytes) {
  EXPECT_EQ(std::string(4, '\0'), Syncsafe(0));
  EXPECT_EQ(std::string("\0\0\x01\x49", 4), Syncsafe(201));
  EXPECT_EQ(std::string("\0\x01\0\0", 4), Syncsafe(1u << 14));
  EXPECT_EQ("\x7F\x7F\x7F\x7F", Syncsafe((1u << 28) - 1));
}

TEST(Id3v2Layout, TagLibFramesAreTakenInByTheirHeaderAlone) {
  // A title longer than 127 bytes, so that its size needs two syncsafe bytes.
  TagLib::ID3v2::TextIdentificationFrame title("TIT2", TagLib::String::UTF16);
  title.setText(TagLib::String(std::string(100, 'x')));
  const std::string bytes = Rendered(title);
  Id3v2Frame frame;
  ASSERT_TRUE(ReadPlainFrameV24(bytes, &frame));
  EXPECT_EQ("TIT2", frame.id);
  EXPECT_EQ(bytes.substr(10), frame.data);
  EXPECT_FALSE(frame.grouped || frame.compressed || frame.encrypted || frame.hasDataLength);
  Id3v2Layout layout;
  ASSERT_TRUE(ReadId3v2Layout(
      "ID3\x04" + std::string(2, '\0') + Syncsafe(std::uint32_t(bytes.size())) + bytes, &layout));
  ASSERT_EQ(1u, layout.frames.size());
  EXPECT_TRUE(layout.frames[0] == frame) << "the same frame as a tag holding it gives";

  // Anything the header alone cannot vouch for is refused: flags, a size
  // that is not the rest of the bytes, a size stored plain.
  std::string flagged = bytes;
  flagged[9] = '\x40';
  EXPECT_FALSE(ReadPlainFrameV24(flagged, &frame));
  EXPECT_FALSE(ReadPlainFrameV24(bytes + std::string(1, '\0'), &frame));
  EXPECT_FALSE(ReadPlainFrameV24(bytes.substr(0, bytes.size() - 1), &frame));
  std::string plain = bytes;
  const std::uint32_t size = std::uint32_t(bytes.size() - 10);
  plain.replace(4, 4, {char(size >> 24), char(size >> 16), char(size >> 8), char(size)});
  EXPECT_FALSE(ReadPlainFrameV24(plain, &frame));
  EXPECT_FALSE(ReadPlainFrameV24(bytes.substr(0, 9), &frame));
}
