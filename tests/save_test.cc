// The crash-safe write path: what TagLib renders reaches the disk byte for
// byte as TagLib's own save would leave it, and a save cut short is undone.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/mpegfile.h>

#include "engine/engine.h"
#include "engine/repair.h"
#include "engine/save.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

TagLib::ByteVector Bytes(const std::string& s) {
  return TagLib::ByteVector(s.data(), static_cast<unsigned int>(s.size()));
}

std::string String(const TagLib::ByteVector& v) {
  return std::string(v.data(), v.size());
}

// The repair as TagLib alone performs it, saving in place.
void RepairWithTagLibSave(const fs::path& path, unsigned codePage) {
  TagLib::FileRef ref(path.c_str(), true, TagLib::AudioProperties::Average);
  auto* file = dynamic_cast<TagLib::MPEG::File*>(ref.file());
  ASSERT_TRUE(file);
  TagLib::ID3v2::Tag* id3v2 = file->ID3v2Tag(true);
  if (TagLib::ID3v1::Tag* id3v1 = file->ID3v1Tag(false))
    TagLib::Tag::duplicate(id3v1, id3v2, false);
  bool changed = false;
  FixTextFrames(id3v2->frameList(), codePage, changed);
  ASSERT_TRUE(changed);
  ASSERT_TRUE(file->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                         TagLib::File::DoNotDuplicate));
}

}  // namespace

TEST(EditStream, ActsAsTheFileWithEveryChangeAppliedAndCommitsIt) {
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    TempFolder folder;
    std::string model(random() % 5000, '\0');
    for (char& c : model)
      c = char(random());
    const fs::path path = folder.Write("f.mp3", model);
    EditStream stream(path.native());
    for (int step = 0; step < 12; ++step) {
      const unsigned long at = random() % (model.size() + 10);
      const unsigned long count = random() % 3000;
      std::string data(random() % 2000, '\0');
      for (char& c : data)
        c = char(random());
      switch (random() % 5) {
        case 0: {
          stream.seek(long(at));
          const std::string expected = at < model.size() ? model.substr(at, count) : std::string();
          ASSERT_EQ(expected, String(stream.readBlock(count)));
          break;
        }
        case 1:
          stream.seek(long(at));
          stream.writeBlock(Bytes(data));
          if (at > model.size())
            model.resize(at, '\0');
          model.replace(at, data.size(), data);
          break;
        case 2:
          if (at > model.size())
            break;  // TagLib inserts only inside the file
          stream.insert(Bytes(data), at, count);
          model.replace(at, count, data);
          break;
        case 3:
          if (at > model.size())
            break;
          stream.removeBlock(at, count);
          model.erase(at, count);
          break;
        case 4:
          stream.truncate(long(at));
          model.resize(at, '\0');
          break;
      }
      ASSERT_EQ(long(model.size()), stream.length());
    }
    ASSERT_TRUE(stream.CommitEdits());
    EXPECT_EQ(model, ReadFile(path));
    EXPECT_FALSE(fs::exists(JournalPathFor(path.native())));
    EXPECT_FALSE(fs::exists(CopyPathFor(path.native())));
  }
}

namespace {

// The whole size of the ID3v2 tag at `at`, from its header.
std::size_t TagSizeAt(const std::string& bytes, std::size_t at) {
  std::size_t body = 0;
  for (std::size_t i = at + 6; i < at + 10; ++i)
    body = (body << 7) | static_cast<unsigned char>(bytes[i]);
  return 10 + body;
}

// Ours must equal TagLib's own save except for the padding at the end of
// the tag: the same bytes before and after the tag, the same header but for
// its size, the same frames; the padding holds zeros only, and its amount
// keeps the audio where it was (a tag that shrinks keeps its size) or moves
// it by whole 4 KiB blocks.
void ExpectSameUpToPadding(const std::string& original, const std::string& theirs,
                           const std::string& ours) {
  const std::size_t at = theirs.find("ID3");
  ASSERT_NE(std::string::npos, at);
  ASSERT_EQ(theirs.substr(0, at + 6), ours.substr(0, at + 6));
  const std::size_t theirSize = TagSizeAt(theirs, at), ourSize = TagSizeAt(ours, at);
  ASSERT_GE(ourSize, theirSize);
  EXPECT_EQ(theirs.substr(at + 10, theirSize - 10), ours.substr(at + 10, theirSize - 10));
  EXPECT_EQ(std::string(ourSize - theirSize, '\0'),
            ours.substr(at + theirSize, ourSize - theirSize));
  EXPECT_EQ(theirs.substr(at + theirSize), ours.substr(at + ourSize))
      << "the audio and what follows";
  const std::size_t oldSize = original.compare(at, 3, "ID3") == 0 ? TagSizeAt(original, at) : 0;
  if (at == 0 && ourSize != theirSize) {
    if (theirSize < oldSize) {
      EXPECT_EQ(oldSize, ourSize);
    } else {
      EXPECT_EQ(0u, (ourSize - oldSize) % 4096);
      EXPECT_LT(ourSize - theirSize, 4096u);
    }
  }
}

}  // namespace

TEST(SavePath, LeavesTheBytesTagLibsOwnSaveLeavesUpToPadding) {
  const std::string audio = MpegFrames(30);
  const std::vector<Frame> frames = {TextFrame("TIT2", "\xC0\xE1\xE2"), TextFrame("TPE1", "Artist"),
                                     CommentFrame("\xE9")};
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no padding", Id3v2Tag(frames) + audio},
      {"padding that fits", Id3v2Tag(frames, 2048) + audio},
      {"padding far beyond what is kept", Id3v2Tag(frames, 200000) + audio},
      {"version 2.4", Id3v2Tag(frames, 64, 4) + audio},
      {"junk before the tag", std::string(300, '\x01') + Id3v2Tag(frames) + audio},
      {"id3v1 only", audio + Id3v1Tag("\xC0\xC1", "\xC2")},
      {"ape and id3v1 after the audio",
       Id3v2Tag(frames, 10) + audio + ApeTag("Title", "x") + Id3v1Tag("T")},
      {"multiple values and txxx",
       Id3v2Tag({MultiValueTextFrame("TPE1", {"\xC0", "\xC1"}), UserTextFrame("\xC2", "\xC3")}, 0,
                4) +
           audio},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const fs::path ours = folder.Write("ours.mp3", c.bytes);
    const fs::path theirs = folder.Write("theirs.mp3", c.bytes);
    FileOutcome outcome;
    ASSERT_EQ(WM_FIX_SUCCEEDED, FixFile(ours.native(), 1251, &outcome));
    RepairWithTagLibSave(theirs, 1251);
    ExpectSameUpToPadding(c.bytes, ReadFile(theirs), ReadFile(ours));
    EXPECT_EQ(2, std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()))
        << "no journal or copy is left behind";
  }
}

TEST(SavePath, AJournalLeftByASaveCutShortPutsTheOriginalBack) {
  TempFolder folder;
  const std::string original = Id3v2Tag({TextFrame("TIT2", "\xC0\xE1")}, 4096) + MpegFrames(5);
  const fs::path path = folder.Write("cut.mp3", original);
  // As a save leaves it when killed after its journal, halfway through its
  // write: the region half new, the file even longer.
  ASSERT_TRUE(WriteJournal(path.native(), original.size(), 10, original.substr(10, 500)));
  std::string torn = original;
  torn.replace(10, 250, std::string(250, 'X'));
  torn += "tail";
  folder.Write("cut.mp3", torn);  // the same file, rewritten

  ASSERT_TRUE(RecoverInterruptedSave(path.native()));
  EXPECT_EQ(original, ReadFile(path));
  EXPECT_FALSE(fs::exists(JournalPathFor(path.native())));

  // The next repair then runs as on a file that was never touched.
  EXPECT_EQ(WM_FIX_SUCCEEDED, [&] {
    FileOutcome outcome;
    return FixFile(path.native(), 1251, &outcome);
  }());
}

TEST(SavePath, AJournalOfAFileReplacedSinceIsDropped) {
  TempFolder folder;
  const std::string original = Id3v2Tag({TextFrame("TIT2", "abc")}, 2048) + MpegFrames(3);
  const fs::path path = folder.Write("a.mp3", original);
  ASSERT_TRUE(WriteJournal(path.native(), original.size(), 0, original.substr(0, 300)));
  // The user put another song in its place after the run was cut short.
  const std::string other = Id3v2Tag({TextFrame("TIT2", "other")}) + MpegFrames(2, 9);
  const fs::path other_path = folder.Write("other.tmp", other);
  fs::rename(other_path, path);
  ASSERT_TRUE(RecoverInterruptedSave(path.native()));
  EXPECT_EQ(other, ReadFile(path));
  EXPECT_FALSE(fs::exists(JournalPathFor(path.native())));
}

TEST(SavePath, ATornJournalIsDroppedAndTheFileLeftAlone) {
  TempFolder folder;
  const std::string original = Id3v2Tag({TextFrame("TIT2", "abc")}) + MpegFrames(3);
  const fs::path path = folder.Write("a.mp3", original);
  ASSERT_TRUE(WriteJournal(path.native(), original.size(), 0, original.substr(0, 100)));
  const std::string journal = ReadFile(JournalPathFor(path.native()));
  for (size_t keep : {size_t(0), size_t(3), journal.size() / 2, journal.size() - 1}) {
    folder.Write(fs::path(JournalPathFor(path.native())).filename(), journal.substr(0, keep));
    ASSERT_TRUE(RecoverInterruptedSave(path.native()));
    EXPECT_EQ(original, ReadFile(path));
    EXPECT_FALSE(fs::exists(JournalPathFor(path.native())));
  }
}

TEST(SavePath, SideFilesNeverEndInMp3AndStayBesideTheFile) {
  const PathString path = fs::path("/music/Album/Song.MP3").native();
  for (const PathString& side : {JournalPathFor(path), CopyPathFor(path)}) {
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(side).parent_path());
    EXPECT_NE(".mp3", fs::path(side).extension().string());
    EXPECT_EQ('.', fs::path(side).filename().string()[0]);
  }
  EXPECT_NE(JournalPathFor(path), JournalPathFor(fs::path("/music/Album/Other.mp3").native()));
}
