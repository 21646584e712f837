// The crash-safe write path: what TagLib renders reaches the disk byte for
// byte as TagLib's own save would leave it, and a save cut short is undone.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/mpegfile.h>

#include "engine/commit/checksum.h"
#include "engine/engine.h"
#include "engine/commit/journal.h"
#include "engine/formats/repair.h"
#include "engine/commit/edit.h"
#include "engine/commit/side-journal.h"
#include "tests/crash_disk.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/pass_through_disk.h"

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

// The one edit a repair records: the stream reads as the file with the edit
// applied, before and after it, and commits exactly that.
TEST(EditStream, ActsAsTheFileWithItsEditAppliedAndCommitsIt) {
  std::mt19937 random(7);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    TempFolder folder;
    std::string model(random() % 5000, '\0');
    for (char& c : model)
      c = char(random());
    const fs::path path = folder.Write("f.mp3", model);
    EditStream stream(path.native());
    const auto readSome = [&] {
      for (int step = 0; step < 6; ++step) {
        const unsigned long at = random() % (model.size() + 10);
        const unsigned long count = random() % 3000;
        stream.seek(long(at));
        const std::string expected = at < model.size() ? model.substr(at, count) : std::string();
        ASSERT_EQ(expected, String(stream.readBlock(count)));
      }
    };
    readSome();
    const unsigned long at = random() % (model.size() + 1);
    const unsigned long count = random() % 3000;
    std::string data(random() % 2000, '\0');
    for (char& c : data)
      c = char(random());
    stream.insert(Bytes(data), at, count);
    model.replace(at, count, data);
    ASSERT_EQ(long(model.size()), stream.length());
    readSome();
    ASSERT_TRUE(stream.CommitEdits());
    EXPECT_EQ(model, ReadFile(path));
    EXPECT_FALSE(fs::exists(JournalPathFor(path.native())));
    EXPECT_FALSE(fs::exists(CopyPathFor(path.native())));
  }
}

// TagLib only reads through the stream. A write by any other way, or a
// second edit, must never reach the file as if it were the repair.
TEST(EditStream, AnyOtherWriteFailsTheStreamAndNothingIsWritten) {
  const std::string original = Id3v2Tag({TextFrame("TIT2", "x")}) + MpegFrames(4, 1);
  const std::function<void(EditStream&)> writes[] = {
      [](EditStream& s) { s.writeBlock(Bytes("abc")); },
      [](EditStream& s) { s.removeBlock(0, 10); },
      [](EditStream& s) { s.truncate(5); },
      [](EditStream& s) { s.insert(Bytes("second"), 0, 0); },
  };
  for (const auto& write : writes) {
    TempFolder folder;
    const fs::path path = folder.Write("f.mp3", original);
    EditStream stream(path.native());
    stream.insert(Bytes("new tag"), 0, 10);
    write(stream);
    EXPECT_TRUE(stream.failed());
    SaveRecord record;
    EXPECT_FALSE(stream.DescribeChange(&record));
    EXPECT_FALSE(stream.CommitEdits());
    EXPECT_TRUE(original == ReadFile(path));
  }
}

// Checks I6 and I7: a record's checksums are those recovery sums from the
// files on the disk, before and after, whatever the edit's place and size
// and whichever bytes the stream kept from its reading.
TEST(EditStream, RecordChecksumsAreThoseOfTheFileBeforeAndAfter) {
  struct Shape {
    std::size_t size, offset, replaced, inserted;
  };
  const Shape shapes[] = {
      {1 << 20, 0, 2000, 6096},          // grown by a block
      {1 << 20, 0, 100000, 104096},      // a tag of more than 64 KiB
      {1 << 20, 0, 70000, 3000},         // shrunk
      {1 << 20, 4000, 500, 500},         // the same size, after the start
      {30000, 0, 1000, 5096},            // a file smaller than a sample
      {200000, 0, 150000, 150000},       // less audio after the tag than a sample
      {3 << 20, 0, 1100000, 1104096},    // a tag too large to keep in memory
  };
  std::mt19937 random(7);
  const auto noise = [&random](std::size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes)
      c = char(random());
    return bytes;
  };
  for (const Shape& shape : shapes) {
    for (const bool readFirst : {false, true}) {
      const std::string original = noise(shape.size), tag = noise(shape.inserted);
      std::string repaired = original;
      repaired.replace(shape.offset, shape.replaced, tag);
      TempFolder folder;
      const fs::path before = folder.Write("before.mp3", original);
      const fs::path after = folder.Write("after.mp3", repaired);
      SaveRecord record;
      {
        EditStream stream(before.native());
        if (readFirst) {  // as TagLib reads a tag: its header, then the rest
          stream.seek(0);
          EXPECT_EQ(10u, stream.readBlock(10).size());
          EXPECT_EQ(shape.offset + shape.replaced, stream.readBlock(shape.offset + shape.replaced).size());
        }
        stream.Replace(shape.offset, shape.replaced, tag);
        ASSERT_TRUE(stream.DescribeChange(&record));
      }
      EXPECT_EQ(original.substr(std::size_t(record.offset), record.originalBytes.size()),
                record.originalBytes);
      std::uint64_t size = 0;
      std::uint32_t crc = 0;
      NativeFile* file = OpenExistingFile(before.native(), false);
      ASSERT_TRUE(FileChecksum(file, record.offset, record.originalBytes.size(), &size, &crc));
      CloseNativeFile(file);
      EXPECT_EQ(crc, record.originalChecksum) << shape.replaced << (readFirst ? " read" : "");
      file = OpenExistingFile(after.native(), false);
      ASSERT_TRUE(FileChecksum(file, record.offset, record.repairedLength, &size, &crc));
      CloseNativeFile(file);
      EXPECT_EQ(crc, record.repairedChecksum) << shape.replaced << (readFirst ? " read" : "");
    }
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

namespace {

const char kCyrillic[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";

std::string Grows(int seed) {
  return Id3v2Tag({TextFrame("TIT2", kCyrillic), TextFrame("TALB", kCyrillic)}) +
         MpegFrames(20, seed);
}

std::string Fits(int seed) {
  return Id3v2Tag({TextFrame("TIT2", kCyrillic)}, 4096) + MpegFrames(20, seed);
}

}  // namespace

namespace {

// Counts, per song, the opens and reads a run makes, and every operation
// that fails; passes everything on to the platform's own disk.
class CountingDisk final : public PassThroughDisk {
 public:
  struct Song {
    int opens = 0, writableOpens = 0, reads = 0;
    int refusedRoom = 0;  // asked for room the file system could not open
  };
  std::map<PathString, Song> songs;
  int failures = 0;
  int refusedInserts = 0;  // the file system cannot open room in a file
  // Off: the disk behaves as a file system that can neither open room in a
  // file nor be flushed whole (exFAT through FUSE, an SMB share).
  bool opensRoom = true, flushesWhole = true;
  int wholeFlushes = 0;
  std::vector<PathString> flushedFolders;

  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    NativeFile* file = Real().OpenExisting(path, forWriting);
    const Held held(&lock_);
    if (IsSong(path)) {
      ++songs[path].opens;
      songs[path].writableOpens += forWriting;
      if (file)
        open_[file] = path;
    }
    return Note(file);
  }
  NativeFile* CreateNew(const PathString& path) override { return Note(Real().CreateNew(path)); }
  void Close(NativeFile* file) override {
    {
      const Held held(&lock_);
      open_.erase(file);
    }
    Real().Close(file);
  }
  bool Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) override {
    {
      const Held held(&lock_);
      if (open_.count(file))
        ++songs[open_[file]].reads;
    }
    return Note(Real().Read(file, offset, buffer, count));
  }
  bool Write(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count) override {
    return Note(Real().Write(file, offset, data, count));
  }
  bool CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to, std::uint64_t toOffset,
                 std::uint64_t count) override {
    return Note(Real().CopyRange(from, fromOffset, to, toOffset, count));
  }
  bool Truncate(NativeFile* file, std::uint64_t size) override {
    return Note(Real().Truncate(file, size));
  }
  bool Flush(NativeFile* file) override { return Note(Real().Flush(file)); }
  bool Replace(const PathString& target, const PathString& replacement) override {
    return Note(Real().Replace(target, replacement));
  }
  bool Remove(const PathString& path) override { return Note(Real().Remove(path)); }
  void FlushFolder(const PathString& folder) override {
    {
      const Held held(&lock_);
      flushedFolders.push_back(folder);
    }
    Real().FlushFolder(folder);
  }
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override {
    return Note(Real().OpenListing(folder, identity));
  }
  bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) override {
    return Real().NextEntry(listing, entry);  // false at the end
  }
  void CloseListing(DirectoryListing* listing) override { Real().CloseListing(listing); }
  bool InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override {
    // false where unsupported
    const bool inserted = opensRoom && Real().InsertRange(file, offset, count);
    const Held held(&lock_);
    refusedInserts += !inserted;
    if (!inserted && open_.count(file))
      ++songs[open_[file]].refusedRoom;
    return inserted;
  }
  bool CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) override {
    return Note(Real().CollapseRange(file, offset, count));
  }
  bool FlushFileSystem(NativeFile* file) override {
    const Held held(&lock_);
    ++wholeFlushes;
    return flushesWhole && Real().FlushFileSystem(file);  // false where there is no such flush
  }
  bool MayInsertRange(NativeFile* file) override { return opensRoom && Real().MayInsertRange(file); }
  bool Rename(const PathString& target, const PathString& replacement) override {
    return Note(Real().Rename(target, replacement));
  }
  bool CreateFolder(const PathString& folder) override { return Note(Real().CreateFolder(folder)); }
  bool RenameNoReplace(const PathString& from, const PathString& to) override {
    return Note(Real().RenameNoReplace(from, to));
  }
  bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) override {
    return Note(Real().Identify(path, device, index));
  }

 private:
  static bool IsSong(const PathString& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, PATH_TEXT(".mp3")) == 0;
  }
  struct Held {
    explicit Held(ReentrantLock* lock) : lock_(lock) { lock_->lock(); }
    ~Held() { lock_->unlock(); }
    ReentrantLock* lock_;
  };
  template <typename T>
  T Note(T result) {
    const Held held(&lock_);
    failures += !result;
    return result;
  }
  ReentrantLock lock_;
  std::map<NativeFile*, PathString> open_;
};

}  // namespace

// A run opens a song that needs nothing once and never for writing (I3), a
// repaired song at most four times and reads it at most four times (its tag, the
// start and end for the checksums), whether files are read in turn or ahead
// on threads of their own; and no operation of the common path fails: side
// files are looked for by listing each folder once. Where the file system
// cannot open room in a file, it is asked once in the run, at the cost of
// one more open of one song.
TEST(SavePath, EachSongIsOpenedAndReadAsFewTimesAsItsSaveNeeds) {
  for (const unsigned jobs : {1u, 3u}) {
    SCOPED_TRACE(jobs);
    TempFolder folder, state;
    std::vector<PathString> files;
    std::set<PathString> needNothing;
    for (int i = 0; i < 12; ++i) {
      const std::string name = "music/" + std::to_string(i / 4) + "/" + std::to_string(i) + ".mp3";
      const std::string bytes = i % 3 == 0
                                    ? Id3v2Tag({TextFrame("TIT2", "Plain")}) + MpegFrames(20, i)
                                : i % 3 == 1 ? Grows(i)
                                             : Fits(i);
      files.push_back(folder.Write(name, bytes).native());
      if (i % 3 == 0)
        needNothing.insert(files.back());
    }
    CountingDisk counter;
    {
      DiskInUse use(&counter);
      RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
      counter.failures = 0;  // the run journal's own start is not the songs' path
      const std::vector<Received> received = RunFix(files, 1251, journal, 5, jobs);
      EndRunJournal(journal);
      ASSERT_EQ(files.size() + 1, received.size());
    }
    EXPECT_EQ(0, counter.failures);
    EXPECT_LE(counter.refusedInserts, 1);
    int askedForRoom = 0;
    for (const PathString& file : files) {
      const CountingDisk::Song& song = counter.songs[file];
      if (needNothing.count(file)) {
        EXPECT_EQ(1, song.opens) << file;
        EXPECT_EQ(0, song.writableOpens) << file;
      } else {
        // Opened to be read, then to be written in place, or (a copy) to
        // check that its name still leads to it, and to flush its file
        // system once per batch.
        askedForRoom += song.refusedRoom;
        EXPECT_LE(song.opens, 4) << file;
        EXPECT_LE(song.reads, 4) << file;
      }
    }
    EXPECT_EQ(counter.refusedInserts, askedForRoom);
  }
}

// Where room cannot be opened and the file system cannot be flushed whole
// (exFAT through FUSE, SMB), a grown song's copy is written, flushed by
// itself and renamed over it, and the new names are made durable by a flush
// of each folder: the song is opened once, to be read, and never for
// writing, and the whole flush is asked for once a batch, not again for each
// new name (I4).
TEST(SavePath, WithoutRoomOrAWholeFlushACopiedSongIsOpenedOnceAndEachFolderFlushed) {
  TempFolder folder, state;
  std::vector<PathString> files;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "music/" + std::to_string(i / 4) + "/" + std::to_string(i) + ".mp3";
    files.push_back(folder.Write(name, Grows(i)).native());
  }
  CountingDisk counter;
  counter.opensRoom = false;
  counter.flushesWhole = false;
  {
    DiskInUse use(&counter);
    RunJournal* journal = BeginRunJournal(state.path().native(), {folder.path().native()});
    counter.failures = 0;  // the run journal's own start
    const std::vector<Received> received = RunFix(files, 1251, journal, 5, 1);
    EndRunJournal(journal);
    ASSERT_EQ(files.size() + 1, received.size());
    for (std::size_t i = 0; i < files.size(); ++i)
      EXPECT_EQ(WM_FIX_SUCCEEDED, received[i].message) << i;
  }
  EXPECT_EQ(0, counter.failures);
  for (const PathString& file : files) {
    EXPECT_EQ(1, counter.songs[file].opens) << file;
    EXPECT_EQ(0, counter.songs[file].writableOpens) << file;
  }
  const int batches = 3;  // 12 songs, 5 a batch
  EXPECT_EQ(batches, counter.wholeFlushes);
  // Each batch flushes the folders its new names are in, each once: songs
  // 0-4 are in folders 0 and 1, 5-9 in 1 and 2, 10 and 11 in 2.
  std::vector<PathString> songFolders;
  for (const PathString& flushed : counter.flushedFolders) {
    if (flushed.find(PATH_TEXT("music")) != PathString::npos)
      songFolders.push_back(flushed.substr(flushed.size() - 1));
  }
  const std::vector<PathString> expected = {PATH_TEXT("0"), PATH_TEXT("1"), PATH_TEXT("1"),
                                            PATH_TEXT("2"), PATH_TEXT("2")};
  EXPECT_EQ(expected, songFolders);
}
