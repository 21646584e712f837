// The Ogg module: the comment packet of Vorbis and Opus streams repaired,
// its pages laid out again with right CRCs, the audio pages' bytes kept.
#include <gtest/gtest.h>

#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"
#include "tests/format_builders.h"

namespace {

const std::string kRussianUtf8 = WideToUtf8(L"Группа крови");

std::string VorbisPacket(const std::vector<std::string>& entries, const std::string& tail = "\x01") {
  return std::string("\x03vorbis", 7) + formats::VorbisComment("Xiph vendor", entries) + tail;
}

std::string OpusPacket(const std::vector<std::string>& entries, const std::string& tail = "") {
  return "OpusTags" + formats::VorbisComment("libopus", entries) + tail;
}

struct Page {
  std::size_t offset;
  std::uint32_t serial, sequence;
  std::string bytes;
};

// Every page of the file, each checked to be whole and to match its CRC.
std::vector<Page> PagesOf(const std::string& file) {
  std::vector<Page> pages;
  std::size_t at = 0;
  while (at < file.size()) {
    EXPECT_EQ(file.compare(at, 4, "OggS"), 0) << at;
    if (file.compare(at, 4, "OggS") != 0 || file.size() - at < 27)
      break;
    std::size_t size = 27 + static_cast<unsigned char>(file[at + 26]);
    for (std::size_t s = 0; s < static_cast<unsigned char>(file[at + 26]); ++s)
      size += static_cast<unsigned char>(file[at + 27 + s]);
    Page page{at, 0, 0, file.substr(at, size)};
    for (int i = 3; i >= 0; --i) {
      page.serial = (page.serial << 8) | static_cast<unsigned char>(file[at + 14 + std::size_t(i)]);
      page.sequence = (page.sequence << 8) | static_cast<unsigned char>(file[at + 18 + std::size_t(i)]);
    }
    std::string zeroed = page.bytes;
    zeroed.replace(22, 4, 4, '\0');
    const std::uint32_t crc = formats::PageCrc(zeroed);
    EXPECT_EQ(page.bytes.substr(22, 4),
              std::string({char(crc & 0xFF), char((crc >> 8) & 0xFF), char((crc >> 16) & 0xFF),
                           char(crc >> 24)}))
        << "page at " << at;
    pages.push_back(page);
    at += size;
  }
  return pages;
}

std::string Title(const std::string& file, bool opus) {
  TagLib::ByteVector data(file.data(), static_cast<unsigned int>(file.size()));
  TagLib::ByteVectorStream stream(data);
  TagLib::Ogg::XiphComment* tag = nullptr;
  TagLib::Ogg::Vorbis::File vorbis(&stream, false);
  TagLib::ByteVectorStream stream2(data);
  TagLib::Ogg::Opus::File opusFile(&stream2, false);
  tag = opus ? opusFile.tag() : vorbis.tag();
  return tag ? tag->title().to8Bit(true) : std::string();
}

// The audio pages of `after` are those of `before` (renumbered by `shift`).
void ExpectAudioKept(const std::string& before, const std::string& after, std::size_t headerPages,
                     int shift) {
  const std::vector<Page> old = PagesOf(before), now = PagesOf(after);
  ASSERT_EQ(now.size(), old.size() + std::size_t(shift));
  for (std::size_t i = headerPages; i < old.size(); ++i) {
    const Page& a = old[i];
    const Page& b = now[i + std::size_t(shift)];
    EXPECT_EQ(b.sequence, a.sequence + std::uint32_t(shift));
    EXPECT_EQ(b.bytes.substr(0, 18), a.bytes.substr(0, 18));
    EXPECT_EQ(b.bytes.substr(26), a.bytes.substr(26));
  }
}

TEST(OggRepair, F1_VorbisCommentRepairedInTheSamePages) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  const std::string file = formats::OggWithComment(
      tone, VorbisPacket({"TITLE=" + formats::Cp1251(L"Группа крови"), "no equals \xC0",
                          "ALBUM=" + WideToUtf8(L"Größe Ελληνικά")},
                         "\x01 kept tail"));
  const formats::Result result = formats::Repair(formats::kOgg, file, formats::Automatic());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(Title(result.after, false), kRussianUtf8);
  EXPECT_EQ(result.edit.offset, PagesOf(file)[1].offset);
  ExpectAudioKept(file, result.after, 2, 0);
  EXPECT_EQ(result.after.substr(0, std::size_t(result.edit.offset)),
            file.substr(0, std::size_t(result.edit.offset)));
  EXPECT_NE(result.after.find("no equals \xC0"), std::string::npos);
  EXPECT_NE(result.after.find("\x01 kept tail"), std::string::npos);
  EXPECT_EQ(formats::Repair(formats::kOgg, result.after, formats::Automatic()).result,
            WM_FIX_NOT_NEEDED);
}

TEST(OggRepair, C1_RightTextNeverChanges) {
  const formats::OggTone vorbis = formats::ReadOggTone("tone.ogg");
  const formats::OggTone opus = formats::ReadOggTone("tone.opus");
  const std::vector<std::string> right{"TITLE=" + kRussianUtf8,
                                       "ARTIST=" + WideToUtf8(L"Zażółć à la française")};
  for (const Redecoding& redecoding : {formats::Automatic(), formats::Named()}) {
    EXPECT_EQ(formats::Repair(formats::kOgg, formats::OggWithComment(vorbis, VorbisPacket(right)),
                              redecoding)
                  .result,
              WM_FIX_NOT_NEEDED);
    EXPECT_EQ(formats::Repair(formats::kOgg, formats::OggWithComment(opus, OpusPacket(right)),
                              redecoding)
                  .result,
              WM_FIX_NOT_NEEDED);
  }
}

TEST(OggRepair, CommentOverManyPagesSharingTheSetupPageKeepsThePageCount) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  std::vector<std::string> entries{"TITLE=" + formats::TwiceUtf8(kRussianUtf8)};
  for (int i = 0; i < 30; ++i)
    entries.push_back("LYRICS=" + formats::Cp1251(std::wstring(300, L'ж')));
  const std::string file = formats::OggWithComment(tone, VorbisPacket(entries), 7);
  const std::size_t headerPages = PagesOf(file).size() - tone.audioPages.size();
  ASSERT_GT(headerPages, 5u);
  const formats::Result result = formats::Repair(formats::kOgg, file, formats::Automatic());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(Title(result.after, false), kRussianUtf8);
  ExpectAudioKept(file, result.after, headerPages, 0);
  // The edit covers the header pages only.
  EXPECT_EQ(result.edit.offset + result.edit.replaced,
            file.size() - [&] {
              std::size_t audio = 0;
              for (const std::string& page : tone.audioPages)
                audio += page.size();
              return audio;
            }());
}

TEST(OggRepair, APageMoreRenumbersEveryLaterPage) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  // Comment and setup fill their one page to 255 segments exactly; the
  // repaired title needs more.
  const std::size_t setupSegments = tone.headers[2].size() / 255 + 1;
  const std::string title = "TITLE=" + formats::Cp1251(std::wstring(40, L'ж'));
  std::string packet = VorbisPacket({title, "X="});
  const std::size_t wanted = (255 - setupSegments) * 255 - 1;
  ASSERT_LT(packet.size(), wanted);
  packet = VorbisPacket({title, "X=" + std::string(wanted - packet.size(), 'x')});
  const std::string file = formats::OggWithComment(tone, packet);
  ASSERT_EQ(PagesOf(file).size(), 2 + tone.audioPages.size());
  const formats::Result result = formats::Repair(formats::kOgg, file, formats::Named());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(Title(result.after, false), WideToUtf8(std::wstring(40, L'ж')));
  ExpectAudioKept(file, result.after, 2, 1);
}

TEST(OggRepair, F4_PaddingTakesTheChangeOrTheStreamGrowsByWholeBlocksFromTheStart) {
  for (const char* name : {"tone.ogg", "tone.opus"}) {
    SCOPED_TRACE(name);
    const formats::OggTone tone = formats::ReadOggTone(name);
    const bool opus = std::string(name) == "tone.opus";
    auto packet = [&](const std::string& title, std::size_t padding) {
      const std::vector<std::string> entries{"TITLE=" + title, "ARTIST=Band"};
      return opus ? OpusPacket(entries, std::string(padding, '\0'))
                  : VorbisPacket(entries, "\x01" + std::string(padding, '\0'));
    };
    // Room in the padding: the same length, the padding shorter.
    const std::string fits = formats::OggWithComment(tone, packet(formats::Cp1251(L"Кино"), 300));
    formats::Result result = formats::Repair(formats::kOgg, fits, formats::Named());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
    EXPECT_EQ(result.after.size(), fits.size());
    EXPECT_EQ(Title(result.after, opus), WideToUtf8(L"Кино"));
    ExpectAudioKept(fits, result.after, 2, 0);
    // No room: whole blocks more, in an edit from the start.
    const std::string title = formats::Cp1251(std::wstring(5000, L'ж'));
    const std::string grows = formats::OggWithComment(tone, packet(title, 10));
    result = formats::Repair(formats::kOgg, grows, formats::Named());
    ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
    EXPECT_EQ(result.edit.offset, 0u);
    EXPECT_EQ(result.after.size(), grows.size() + 8192);
    EXPECT_EQ(Title(result.after, opus), WideToUtf8(std::wstring(5000, L'ж')));
    ExpectAudioKept(grows, result.after, 2, 0);
  }
}

TEST(OggRepair, OpusTagsRepairedWithTheirTrailingBytes) {
  const formats::OggTone tone = formats::ReadOggTone("tone.opus");
  const std::string file = formats::OggWithComment(
      tone, OpusPacket({"title=" + formats::Cp1251(L"Группа крови")}, std::string("\x01kept", 5)));
  const formats::Result result = formats::Repair(formats::kOgg, file, formats::Named());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(Title(result.after, true), kRussianUtf8);
  EXPECT_NE(result.after.find("\x01kept"), std::string::npos);
  ExpectAudioKept(file, result.after, 2, 0);
  ASSERT_EQ(result.outcome.changes.size(), 1u);
  EXPECT_EQ(result.outcome.changes[0].frameId, "title");
}

// Another stream's first page between the Vorbis stream's pages.
std::string Multiplexed(const formats::OggTone& tone, const std::string& comment) {
  std::uint32_t otherSequence = 0, sequence = 0;
  const std::string other =
      formats::OggPages(77, &otherSequence, {std::string("\x80theora other", 13)}, 255, 2, 0);
  std::string out = formats::OggPages(tone.serial, &sequence, {tone.headers[0]}, 255, 2, 0);
  out += other;
  out += formats::OggPages(tone.serial, &sequence, {comment, tone.headers[2]}, 255, 0, 0);
  for (const std::string& page : tone.audioPages)
    out += page;
  return out;
}

TEST(OggRepair, F3_MultiplexedStreamRepairedOnlyInItsOwnPages) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  const std::string title = "TITLE=" + formats::Cp1251(L"Группа крови");
  const std::string file = Multiplexed(tone, VorbisPacket({title}));
  const formats::Result result = formats::Repair(formats::kOgg, file, formats::Automatic());
  ASSERT_EQ(result.result, WM_FIX_SUCCEEDED) << WideToUtf8(result.outcome.detail);
  EXPECT_EQ(result.after.find("\x80theora other"), file.find("\x80theora other"));
  // A change that needs another page is refused: renumbering would reach
  // among the other stream's pages.
  const std::size_t setupSegments = tone.headers[2].size() / 255 + 1;
  std::string packet = VorbisPacket({title, "X="});
  packet = VorbisPacket(
      {title, "X=" + std::string((255 - setupSegments) * 255 - 1 - packet.size(), 'x')});
  const formats::Result refused =
      formats::Repair(formats::kOgg, Multiplexed(tone, packet), formats::Automatic());
  EXPECT_EQ(refused.result, WM_FIX_FAILED);
  EXPECT_EQ(refused.outcome.issue, kIssueCouldNotSave);
  EXPECT_FALSE(refused.outcome.detail.empty());
}

TEST(OggRepair, F3_BrokenFilesAreNeverWrittenAndNeverCrash) {
  const formats::OggTone tone = formats::ReadOggTone("tone.ogg");
  const std::string file =
      formats::OggWithComment(tone, VorbisPacket({"TITLE=" + formats::Cp1251(L"Кино")}), 3);
  const std::size_t headerEnd = PagesOf(file)[PagesOf(file).size() - tone.audioPages.size()].offset;
  for (std::size_t cut = 0; cut < headerEnd; ++cut)
    EXPECT_NE(formats::Repair(formats::kOgg, file.substr(0, cut), formats::Automatic()).result,
              unsigned(WM_FIX_SUCCEEDED))
        << cut;
  for (std::size_t at = 0; at < headerEnd; at += 3) {
    std::string broken = file;
    broken[at] = char(broken[at] ^ 0x5A);
    const formats::Result result = formats::Repair(formats::kOgg, broken, formats::Automatic());
    if (result.result == WM_FIX_SUCCEEDED)  // what is written reads back whole
      EXPECT_NE(formats::Repair(formats::kOgg, result.after, formats::Automatic()).result,
                unsigned(WM_FIX_FAILED))
          << at;
  }
}

}  // namespace
