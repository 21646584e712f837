// The MP4 module over small real files (tests/data/formats): raw code-page
// bytes and twice-encoded UTF-8 in data atoms come back right, and the audio
// stays where every chunk offset points.
#include <gtest/gtest.h>
#include <taglib/mp4file.h>

#include "engine/containers/container-bytes.h"
#include "engine/containers/mp4-atoms.h"
#include "tests/fixtures.h"
#include "tests/formats_fixtures.h"

namespace {

using container_fixtures::ChangedTo;
using container_fixtures::kMp4;
using container_fixtures::RunModule;
using container_fixtures::Sample;

struct TopAtom {
  std::string type;
  std::size_t at = 0, size = 0;
};

// The file's top-level atoms, walked here on their own (32-bit sizes are
// all these files have).
std::vector<TopAtom> TopAtoms(const std::string& file) {
  std::vector<TopAtom> atoms;
  for (std::size_t at = 0; at + 8 <= file.size();) {
    const std::size_t size = std::size_t(GetBigEndian(file, at, 4));
    if (size < 8)
      break;
    atoms.push_back(TopAtom{file.substr(at + 4, 4), at, size});
    at += size;
  }
  return atoms;
}

TopAtom Find(const std::string& file, const std::string& type) {
  for (const TopAtom& atom : TopAtoms(file)) {
    if (atom.type == type)
      return atom;
  }
  ADD_FAILURE() << "no " << type;
  return TopAtom();
}

// The bytes each chunk offset of the file points at, from there to the
// end of mdat: the same before and after a repair.
std::vector<std::string> ChunkStarts(const std::string& file) {
  const TopAtom moov = Find(file, "moov"), mdat = Find(file, "mdat");
  const std::string bytes = file.substr(moov.at, moov.size);
  std::vector<ChunkOffsetEntry> entries;
  EXPECT_TRUE(FindChunkOffsets(bytes, &entries));
  std::vector<std::string> starts;
  for (const ChunkOffsetEntry& entry : entries) {
    const std::size_t offset = std::size_t(GetBigEndian(bytes, entry.at, entry.width));
    EXPECT_GE(offset, mdat.at + 8);
    EXPECT_LT(offset, mdat.at + mdat.size);
    starts.push_back(file.substr(offset, mdat.at + mdat.size - offset));
  }
  return starts;
}

struct Read {
  std::wstring title, artist, album, comment, mood;
  std::string norm;
};

Read ReadWithTagLib(const std::filesystem::path& path) {
  TagLib::MP4::File file(path.c_str());
  EXPECT_TRUE(file.isValid());
  Read read;
  TagLib::MP4::Tag* tag = file.tag();
  read.title = tag->title().toWString();
  read.artist = tag->artist().toWString();
  read.album = tag->album().toWString();
  read.comment = tag->comment().toWString();
  if (tag->contains("----:com.apple.iTunes:MOOD"))
    read.mood = tag->item("----:com.apple.iTunes:MOOD").toStringList().front().toWString();
  if (tag->contains("----:com.apple.iTunes:iTunNORM"))
    read.norm = tag->item("----:com.apple.iTunes:iTunNORM").toStringList().front().to8Bit();
  return read;
}

// Repairs a sample and checks what every MP4 repair must keep: the audio
// bytes and where the chunk offsets point (F1, F2), the decoded audio, and
// that the repaired file needs nothing more.
container_fixtures::Run RepairSample(const std::string& name, const fixtures::TempFolder& folder) {
  const std::string before = Sample(name);
  container_fixtures::Run run = RunModule(kMp4, before, container_fixtures::Automatic());
  EXPECT_EQ(run.result, WM_FIX_SUCCEEDED) << name << " " << std::string(run.outcome.detail.begin(), run.outcome.detail.end());
  const TopAtom oldData = Find(before, "mdat"), newData = Find(run.after, "mdat");
  EXPECT_EQ(before.substr(oldData.at, oldData.size), run.after.substr(newData.at, newData.size));
  EXPECT_EQ(ChunkStarts(before), ChunkStarts(run.after));
  const auto original = folder.Write("before-" + name, before);
  const auto repaired = folder.Write(name, run.after);
  EXPECT_EQ(container_fixtures::AudioMd5(original), container_fixtures::AudioMd5(repaired));
  EXPECT_EQ(RunModule(kMp4, run.after, container_fixtures::Automatic()).result, WM_FIX_NOT_NEEDED);
  return run;
}

}  // namespace

// moov before mdat and no free atom: moov grows and every chunk offset moves.
TEST(Mp4Format, RawAndTwiceEncodedTextBecomeRightAndOffsetsFollow_F1_F2) {
  fixtures::TempFolder folder;
  const container_fixtures::Run run = RepairSample("cp1251-faststart.m4a", folder);
  EXPECT_GT(run.after.size(), Sample("cp1251-faststart.m4a").size());
  EXPECT_EQ(ChangedTo(run.outcome, "\u00A9nam"), L"Песня о друге");
  EXPECT_EQ(ChangedTo(run.outcome, "\u00A9ART"), L"Владимир Высоцкий");
  EXPECT_EQ(ChangedTo(run.outcome, "MOOD"), L"Грусть");
  EXPECT_EQ(ChangedTo(run.outcome, "\u00A9alb"), L"(none)");  // right UTF-8 stays
  const Read read = ReadWithTagLib(folder.path() / "cp1251-faststart.m4a");
  EXPECT_EQ(read.title, L"Песня о друге");
  EXPECT_EQ(read.artist, L"Владимир Высоцкий");
  EXPECT_EQ(read.album, L"Лучшие песни");
  EXPECT_EQ(read.mood, L"Грусть");
  EXPECT_EQ(read.norm, " 00000A1B 00000B2C");  // machine text is never touched
}

// A free atom beside ilst takes up the growth: the file keeps its length.
TEST(Mp4Format, FreeAtomTakesUpTheGrowth_F4) {
  fixtures::TempFolder folder;
  const container_fixtures::Run run = RepairSample("cp1251-padded.m4a", folder);
  EXPECT_EQ(run.after.size(), Sample("cp1251-padded.m4a").size());
  EXPECT_EQ(run.edit.bytes.size(), run.edit.replaced);
  const Read read = ReadWithTagLib(folder.path() / "cp1251-padded.m4a");
  EXPECT_EQ(read.title, L"Песня о друге");
  EXPECT_EQ(read.comment, L"Запись 1968 года");
}

// Twice-encoded UTF-8 shrinks: a new free atom after ilst keeps the length.
TEST(Mp4Format, ShrinkLeavesAFreeAtom_F4) {
  fixtures::TempFolder folder;
  const container_fixtures::Run run = RepairSample("twice-shrinks.m4a", folder);
  EXPECT_EQ(run.after.size(), Sample("twice-shrinks.m4a").size());
  EXPECT_EQ(ReadWithTagLib(folder.path() / "twice-shrinks.m4a").artist, L"Владимир Высоцкий");
}

// moov after mdat: moov grows at the end and no offset changes.
TEST(Mp4Format, MoovAfterTheAudioGrowsWithoutMovingIt) {
  fixtures::TempFolder folder;
  const std::string before = Sample("cp1251-moov-last.m4a");
  ASSERT_LT(Find(before, "mdat").at, Find(before, "moov").at);
  const container_fixtures::Run run = RepairSample("cp1251-moov-last.m4a", folder);
  EXPECT_GT(run.edit.offset, Find(before, "mdat").at);
  const Read read = ReadWithTagLib(folder.path() / "cp1251-moov-last.m4a");
  EXPECT_EQ(read.artist, L"Владимир Высоцкий");
}

// A free atom right after moov takes up its growth: the edit covers both
// and the file keeps its length.
TEST(Mp4Format, FreeAtomAfterMoovTakesUpTheGrowth_F4) {
  const std::string before =
      Sample("cp1251-moov-last.m4a") + std::string("\0\0\0\x40" "free", 8) + std::string(56, 'x');
  const container_fixtures::Run run = RunModule(kMp4, before, container_fixtures::Automatic());
  ASSERT_EQ(run.result, WM_FIX_SUCCEEDED);
  EXPECT_EQ(run.after.size(), before.size());
  const std::vector<TopAtom> atoms = TopAtoms(run.after);
  ASSERT_FALSE(atoms.empty());
  EXPECT_EQ(atoms.back().type, "free");
  EXPECT_EQ(atoms.back().at + atoms.back().size, run.after.size());
  fixtures::TempFolder folder;
  EXPECT_EQ(ReadWithTagLib(folder.Write("a.m4a", run.after)).title, L"Песня о друге");
}

// A fragment after moov holds offsets of its own: a repair that would move
// it is refused (F3), one that keeps moov's length is not.
TEST(Mp4Format, FragmentAfterMoovRefusesOnlyAGrowingMoov_F3) {
  const std::string moof = std::string("\0\0\0\x10moof\0\0\0\x08mfhd", 16);
  const container_fixtures::Run grown = RunModule(kMp4, Sample("cp1251-faststart.m4a") + moof,
                                       container_fixtures::Automatic());
  EXPECT_EQ(grown.result, WM_FIX_FAILED);
  EXPECT_EQ(grown.outcome.issue, kIssueCouldNotSave);
  EXPECT_NE(grown.outcome.detail.find(L"fragmented"), std::wstring::npos);
  EXPECT_TRUE(grown.outcome.changes.empty());
  const container_fixtures::Run padded = RunModule(kMp4, Sample("cp1251-padded.m4a") + moof,
                                        container_fixtures::Automatic());
  EXPECT_EQ(padded.result, WM_FIX_SUCCEEDED);
}

// Right text of several scripts needs nothing, automatic or with a named
// page (C1, C3).
TEST(Mp4Format, RightTextIsNotNeeded_C1_C3) {
  EXPECT_EQ(RunModule(kMp4, Sample("right.m4a"), container_fixtures::Automatic()).result,
            WM_FIX_NOT_NEEDED);
  EXPECT_EQ(RunModule(kMp4, Sample("right.m4a"), container_fixtures::Named(1251)).result,
            WM_FIX_NOT_NEEDED);
  EXPECT_EQ(RunModule(kMp4, Sample("right.m4a"), container_fixtures::Named(1250)).result,
            WM_FIX_NOT_NEEDED);
}
