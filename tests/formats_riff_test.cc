// The WAV and AIFF module: code-page text in INFO items and AIFF text
// chunks gets a new ID3v2 chunk, ID3 chunks are repaired as an MP3's tag
// is, the INFO bytes and the audio never change.
#include <gtest/gtest.h>
#include <taglib/aifffile.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

#include <filesystem>
#include <tuple>

#include "engine/containers/container-bytes.h"
#include "engine/platform/platform.h"
#include "engine/text/text-shape.h"
#include "engine/platform/text.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"
#include "tests/formats_fixtures.h"

namespace {

using container_fixtures::ChangedTo;
using container_fixtures::kRiff;
using container_fixtures::RunModule;
using container_fixtures::Sample;

struct Chunk {
  std::string id, data;
};

// The chunks of a WAV or AIFF file, walked here on their own.
std::vector<Chunk> Chunks(const std::string& file) {
  const bool big = file.compare(0, 4, "FORM") == 0;
  std::vector<Chunk> chunks;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::size_t size =
        std::size_t(big ? GetBigEndian(file, at + 4, 4) : GetLittleEndian(file, at + 4, 4));
    chunks.push_back(Chunk{file.substr(at, 4), file.substr(at + 8, size)});
    at += 8 + size + (size & 1);
  }
  return chunks;
}

std::string ChunkData(const std::string& file, const std::string& id) {
  for (const Chunk& chunk : Chunks(file)) {
    if (chunk.id == id)
      return chunk.data;
  }
  return "(none)";
}

std::vector<std::string> ChunkIds(const std::string& file) {
  std::vector<std::string> ids;
  for (const Chunk& chunk : Chunks(file))
    ids.push_back(chunk.id);
  return ids;
}

std::wstring Frame(TagLib::ID3v2::Tag* tag, const char* id) {
  const TagLib::ID3v2::FrameList list = tag->frameList(id);
  return list.isEmpty() ? L"(none)" : list.front()->toString().toWString();
}

// Checks what every repair of these files keeps: the form's size, the
// audio (decoded too), the bytes of every chunk but the tag's; and that a
// grown file grew by whole blocks from its start (F4), or at its end from
// the last chunk's size field on.
void CheckKept(const std::string& before, const container_fixtures::Run& run, const std::string& audioId) {
  ASSERT_EQ(run.result, WM_FIX_SUCCEEDED)
      << std::string(run.outcome.detail.begin(), run.outcome.detail.end());
  const bool big = before.compare(0, 4, "FORM") == 0;
  EXPECT_EQ(big ? GetBigEndian(run.after, 4, 4) : GetLittleEndian(run.after, 4, 4),
            run.after.size() - 8);
  if (run.after.size() != before.size() && run.edit.sizeField.empty()) {
    EXPECT_EQ(run.edit.offset, 0u);
    EXPECT_EQ((run.after.size() - before.size()) % 4096, 0u);
  }
  if (!run.edit.sizeField.empty()) {
    EXPECT_EQ(run.edit.sizeFieldAt, 4u);
    EXPECT_EQ(run.after.compare(8, std::size_t(run.edit.offset) - 8, before, 8,
                                std::size_t(run.edit.offset) - 8), 0);
    EXPECT_EQ(run.after.size() % 2, 0u);
  }
  for (const Chunk& chunk : Chunks(before)) {
    if (chunk.id != "id3 " && chunk.id != "ID3 ") {
      EXPECT_EQ(ChunkData(run.after, chunk.id), chunk.data) << chunk.id;
    }
  }
  EXPECT_NE(ChunkData(run.after, audioId), "(none)");
  fixtures::TempFolder folder;
  EXPECT_EQ(container_fixtures::AudioMd5(folder.Write("before", before)),
            container_fixtures::AudioMd5(folder.Write("after", run.after)));
  EXPECT_EQ(RunModule(kRiff, run.after, container_fixtures::Automatic()).result, WM_FIX_NOT_NEEDED);
}

// A WAV file of a few samples with `chunks` after fmt and data.
std::string Wave(const std::string& before, const std::string& after) {
  std::string fmt = std::string("\x01\x00\x01\x00\x40\x1F\x00\x00\x80\x3E\x00\x00\x02\x00\x10\x00", 16);
  std::string body = "WAVEfmt " + LittleEndianBytes(16, 4) + fmt + before + "data" +
                     LittleEndianBytes(8, 4) + "\x01\x02\x03\x04\x05\x06\x07\x08" + after;
  return "RIFF" + LittleEndianBytes(body.size(), 4) + body;
}

std::string TagChunk(const std::string& tag) {
  return "id3 " + LittleEndianBytes(tag.size(), 4) + tag + (tag.size() % 2 ? "\0" : "");
}

}  // namespace

TEST(RiffFormat, InfoItemsGetANewTagChunkBeforeTheAudio_F1_F4) {
  const std::string before = Sample("info-cp1251.wav");
  const container_fixtures::Run run = RunModule(kRiff, before, container_fixtures::Automatic());
  CheckKept(before, run, "data");
  EXPECT_EQ(ChangedTo(run.outcome, "INAM"), L"Песня о друге");
  EXPECT_EQ(ChangedTo(run.outcome, "ISFT"), L"(none)");
  const std::vector<std::string> ids = ChunkIds(run.after);
  ASSERT_GE(ids.size(), 2u);
  EXPECT_EQ(ids[ids.size() - 2], "id3 ");
  EXPECT_EQ(ids.back(), "data");
  fixtures::TempFolder folder;
  TagLib::RIFF::WAV::File file(folder.Write("a.wav", run.after).c_str());
  ASSERT_TRUE(file.hasID3v2Tag());
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
  EXPECT_EQ(tag->title().toWString(), L"Песня о друге");
  EXPECT_EQ(tag->artist().toWString(), L"Владимир Высоцкий");
  EXPECT_EQ(tag->album().toWString(), L"Лучшие песни");
  EXPECT_EQ(tag->comment().toWString(), L"Запись 1968 года");
  EXPECT_EQ(tag->year(), 1968u);
  EXPECT_EQ(Frame(tag, "TSSE"), L"Recorder 2.1");  // all items, so the tag is whole
}

TEST(RiffFormat, Id3ChunkRepairedAsAnMp3Tag_InfoKept) {
  const std::string before = Sample("id3-cp1251.wav");
  const container_fixtures::Run run = RunModule(kRiff, before, container_fixtures::Automatic());
  CheckKept(before, run, "data");
  EXPECT_EQ(run.after.size(), before.size());  // the tag fits its padding
  EXPECT_EQ(ChangedTo(run.outcome, "TIT2"), L"Песня о друге");
  fixtures::TempFolder folder;
  TagLib::RIFF::WAV::File file(folder.Write("a.wav", run.after).c_str());
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
  EXPECT_EQ(tag->title().toWString(), L"Песня о друге");
  EXPECT_EQ(tag->genre().toWString(), L"Шансон");
  EXPECT_EQ(tag->comment().toWString(), L"Запись 1968 года");
}

TEST(RiffFormat, AiffTextChunksAndId3Chunks) {
  const std::string named = Sample("name-cp1251.aiff");
  const container_fixtures::Run run = RunModule(kRiff, named, container_fixtures::Automatic());
  CheckKept(named, run, "SSND");
  fixtures::TempFolder folder;
  {
    TagLib::RIFF::AIFF::File file(folder.Write("a.aiff", run.after).c_str());
    ASSERT_TRUE(file.hasID3v2Tag());
    EXPECT_EQ(file.tag()->title().toWString(), L"Песня о друге");
    EXPECT_EQ(file.tag()->artist().toWString(), L"Владимир Высоцкий");
  }
  const std::string tagged = Sample("id3-cp1251.aiff");
  const container_fixtures::Run repaired = RunModule(kRiff, tagged, container_fixtures::Automatic());
  CheckKept(tagged, repaired, "SSND");
  TagLib::RIFF::AIFF::File file(folder.Write("b.aiff", repaired.after).c_str());
  EXPECT_EQ(file.tag()->album().toWString(), L"Лучшие песни");
}

// A tag that fills its chunk grows when its Latin-1 frames become UTF-16:
// before the audio by whole blocks from the start, in the file's last chunk
// at the end; one that other chunks follow is refused.
TEST(RiffFormat, GrowingTagBeforeAudioGrowsByBlocksAfterAudioIsRefused_F3_F4) {
  const std::string tag =
      fixtures::Id3v2Tag({fixtures::TextFrame("TIT2", "\xCF\xE5\xF1\xED\xFF \xEE \xE4\xF0\xF3\xE3\xE5")});
  const std::string first = Wave(TagChunk(tag), "");
  const container_fixtures::Run grown = RunModule(kRiff, first, container_fixtures::Automatic());
  CheckKept(first, grown, "data");
  EXPECT_GT(grown.after.size(), first.size());
  EXPECT_EQ(ChangedTo(grown.outcome, "TIT2"), L"Песня о друге");

  const std::string atEnd = Wave("", TagChunk(tag));
  const container_fixtures::Run last = RunModule(kRiff, atEnd, container_fixtures::Automatic());
  CheckKept(atEnd, last, "data");
  EXPECT_GT(last.after.size(), atEnd.size());
  const container_fixtures::Run followed = RunModule(
      kRiff, Wave("", TagChunk(tag) + "junk" + LittleEndianBytes(2, 4) + "ab"),
      container_fixtures::Automatic());
  EXPECT_EQ(followed.result, WM_FIX_FAILED);
  EXPECT_EQ(followed.outcome.detail, L"the tag is too large for its chunk");

  // With room in the chunk, the tag after the audio is written in place.
  const std::string roomy = fixtures::Id3v2Tag(
      {fixtures::TextFrame("TIT2", "\xCF\xE5\xF1\xED\xFF \xEE \xE4\xF0\xF3\xE3\xE5")}, 101);
  const std::string after = Wave("", TagChunk(roomy));
  const container_fixtures::Run inPlace = RunModule(kRiff, after, container_fixtures::Automatic());
  CheckKept(after, inPlace, "data");
  EXPECT_EQ(inPlace.after.size(), after.size());
  EXPECT_EQ(inPlace.after.back(), '\0');  // the pad byte of the odd chunk
}

TEST(RiffFormat, Rf64IsWrittenOnlyWithoutASizeChange) {
  std::string rf64 = Sample("info-cp1251.wav");
  rf64.replace(0, 4, "RF64");
  const container_fixtures::Run run = RunModule(kRiff, rf64, container_fixtures::Automatic());
  EXPECT_EQ(run.result, WM_FIX_FAILED);
  EXPECT_EQ(run.outcome.issue, kIssueCouldNotSave);
}

TEST(RiffFormat, RightTextIsNotNeeded_C1) {
  EXPECT_EQ(RunModule(kRiff, Sample("right.wav"), container_fixtures::Automatic()).result,
            WM_FIX_NOT_NEEDED);
  EXPECT_EQ(RunModule(kRiff, Sample("right.wav"), container_fixtures::Automatic(1252)).result,
            WM_FIX_NOT_NEEDED);
}

// With one page named for the run, the tag of a WAV file is read as an MP3
// file's would be: its Latin-1 frames through the page, and UTF-16 text
// (right German here) and valid UTF-8 that is not encoded twice as stored.
TEST(RiffFormat, APageNamedForTheRunLeavesUnicodeFramesAsAnMp3TagWould_R5) {
  const std::string utf8Western = "\x03\xC3\x9C" "ber";  // "Über", right as it stands
  const std::string tag = fixtures::Id3v2Tag(
      {fixtures::TextFrame("TIT2", "\xCF\xE5\xF1\xED\xFF \xEE \xE4\xF0\xF3\xE3\xE5"),
       fixtures::Utf16TextFrame("TPE1", u"\u00DCber die Br\u00FCcke"),
       fixtures::Frame{"TALB", utf8Western}},
      300, 4);
  const std::string before = Wave(TagChunk(tag), "");
  const container_fixtures::Run run = RunModule(kRiff, before, container_fixtures::Named(1251));
  ASSERT_EQ(run.result, WM_FIX_SUCCEEDED) << WideToUtf8(run.outcome.detail);
  EXPECT_EQ(ChangedTo(run.outcome, "TIT2"), L"Песня о друге");
  EXPECT_EQ(ChangedTo(run.outcome, "TPE1"), L"(none)");
  EXPECT_EQ(ChangedTo(run.outcome, "TALB"), L"(none)");
  fixtures::TempFolder folder;
  TagLib::RIFF::WAV::File file(folder.Write("a.wav", run.after).c_str());
  ASSERT_TRUE(file.hasID3v2Tag());
  EXPECT_EQ(file.ID3v2Tag()->artist().toWString(), L"\u00DCber die Br\u00FCcke");
  EXPECT_EQ(file.ID3v2Tag()->album().toWString(), L"\u00DCber");
}

// With one page for the run, UTF-8 encoded once too often (or twice) comes
// back in every format and field, also when each letter of its text is one
// Windows-1252 holds ("ž", "á"); UTF-8 encoded once stays as it is.
TEST(WholeRunPage, Utf8EncodedTwiceComesBackInEveryFormatAndField) {
  const std::wstring title = L"Jožin z bažin", artist = L"Ivan Mládek", album = L"Písně z údolí";
  const auto twice = [](const std::wstring& text) { return formats::TwiceUtf8(WideToUtf8(text)); };
  const std::string right = WideToUtf8(L"Größe");
  const Redecoding cp1250 = container_fixtures::Named(1250);
  const std::string mp3 = fixtures::MpegFrames(4);

  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  const std::string flac = formats::FlacFile(
      {{0, streamInfo},
       {4, formats::VorbisComment("v", {"TITLE=" + twice(title),
                                        "ARTIST=" + formats::TwiceUtf8(twice(artist)),
                                        "ALBUM=" + twice(album), "COMMENT=" + right})},
       {1, std::string(512, '\0')}},
      audio);
  const std::string ape = mp3 + formats::ApeTagBytes({{"Title", twice(title)},
                                                      {"Artist", twice(artist)},
                                                      {"Comment", right}},
                                                     false);
  using Keys = std::vector<std::string>;
  for (const auto& [module, file, keys] :
       {std::make_tuple(&formats::kFlac, flac, Keys{"TITLE", "ARTIST", "ALBUM"}),
        std::make_tuple(&formats::kApe, ape, Keys{"Title", "Artist"})}) {
    const formats::Result run = formats::Repair(*module, file, cp1250);
    ASSERT_EQ(run.result, WM_FIX_SUCCEEDED) << keys[0];
    EXPECT_EQ(ChangedTo(run.outcome, keys[0]), title);
    EXPECT_EQ(ChangedTo(run.outcome, keys[1]), artist);
    EXPECT_EQ(run.outcome.changes.size(), keys.size()) << "right UTF-8 stays";
    if (keys.size() > 2)
      EXPECT_EQ(ChangedTo(run.outcome, keys[2]), album);
  }

  // An ID3v2 tag's UTF-8, UTF-16 and Latin-1 frames, in a WAV and an MP3 file.
  std::u16string widened;
  for (wchar_t c : DecodeWestern(WideToUtf8(artist)))
    widened.push_back(char16_t(c));
  const std::string tag = fixtures::Id3v2Tag(
      {fixtures::Frame{"TIT2", "\x03" + twice(title)}, fixtures::Utf16TextFrame("TPE1", widened),
       fixtures::TextFrame("TALB", twice(album)), fixtures::Frame{"TCOM", "\x03" + right}},
      300, 4);
  const container_fixtures::Run wav = RunModule(kRiff, Wave(TagChunk(tag), ""), cp1250);
  fixtures::TempFolder folder;
  const std::filesystem::path path = folder.Write("a.mp3", tag + mp3);
  FileOutcome outcome;
  ASSERT_EQ(FixFile(path.native(), 1250, &outcome), WM_FIX_SUCCEEDED);
  TagLib::RIFF::WAV::File wave(folder.Write("a.wav", wav.after).c_str());
  TagLib::MPEG::File mpeg(path.c_str());
  for (TagLib::ID3v2::Tag* read : {wave.ID3v2Tag(), mpeg.ID3v2Tag()}) {
    ASSERT_TRUE(read);
    EXPECT_EQ(read->title().toWString(), title);
    EXPECT_EQ(read->artist().toWString(), artist);
    EXPECT_EQ(read->album().toWString(), album);
    EXPECT_EQ(Frame(read, "TCOM"), L"Größe");
  }
  EXPECT_EQ(ChangedTo(wav.outcome, "TCOM"), L"(none)");
}
