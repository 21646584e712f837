// A repair changes nothing but the text it re-decodes: every other frame of
// the first ID3v2 tag comes out with the same content, and every byte outside
// that tag stays. Checked over MP3 files from other projects' test suites
// (../shared/realworld beside the repository), as they are and with code-page
// text injected the ways a library gets it, and over generated files with the
// awkward layouts those files have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tbytevectorstream.h>

#include "engine/engine.h"
#include "engine/id3v2-layout.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

constexpr unsigned kPage = 1251;

// ASCII letters as cp1251 Cyrillic bytes of the same count (never 0xFF, so
// an unsynchronised tag stays valid).
std::string Cyrillic(const std::string& ascii) {
  std::string out = ascii;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z')
      c = char(0xE0 + (c - 'a'));
    else if (c >= 'A' && c <= 'Z')
      c = char(0xC0 + (c - 'A'));
  }
  return out;
}

std::string BigEndian32(std::uint32_t value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string SyncSafe32(std::uint32_t value) {
  return {char((value >> 21) & 0x7F), char((value >> 14) & 0x7F), char((value >> 7) & 0x7F),
          char(value & 0x7F)};
}

std::string RenderFrameV23(const Id3v2Frame& frame) {
  std::string fields;
  if (frame.compressed)
    fields += BigEndian32(frame.dataLength);
  if (frame.encrypted)
    fields.push_back(char(frame.encryptionMethod));
  if (frame.grouped)
    fields.push_back(char(frame.groupId));
  unsigned flags = (frame.discardOnTagChange ? 0x8000 : 0) | (frame.discardOnFileChange ? 0x4000 : 0) |
                   (frame.readOnly ? 0x2000 : 0) | (frame.compressed ? 0x80 : 0) |
                   (frame.encrypted ? 0x40 : 0) | (frame.grouped ? 0x20 : 0);
  return frame.id + BigEndian32(std::uint32_t(fields.size() + frame.data.size())) +
         char(flags >> 8) + char(flags & 0xFF) + fields + frame.data;
}

// A tag of `version` 3 or 4 holding `frames` as a tag writer lays it out.
std::string RenderTag(int version, const std::vector<Id3v2Frame>& frames, int padding) {
  std::string body;
  for (const Id3v2Frame& frame : frames)
    body += version == 4 ? RenderFrameV24(frame) : RenderFrameV23(frame);
  body.append(std::size_t(padding), '\0');
  return std::string("ID3") + char(version) + '\0' + '\0' + SyncSafe32(std::uint32_t(body.size())) +
         body;
}

Id3v2Frame Latin1Frame(const std::string& id, const std::string& bytes) {
  Id3v2Frame frame;
  frame.id = id;
  frame.data = std::string(1, '\0') + bytes;
  return frame;
}

// Where the repair finds the tag: where TagLib sees one, the first "ID3" of
// the file, as its search stops there (or at the first audio frame).
bool FirstTag(const std::string& bytes, std::size_t* start, Id3v2Layout* layout) {
  TagLib::ByteVectorStream stream(
      TagLib::ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size())));
  TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
  const std::size_t at = bytes.find("ID3");
  if (!file.isValid() || !file.hasID3v2Tag() || at == std::string::npos)
    return false;
  *start = at;
  return ReadId3v2Layout(bytes.substr(at), layout);
}

// The bytes of the old tag a repair replaces: a tag whose declared size runs
// into the audio ends where the audio begins.
std::size_t ReplacedLength(const Id3v2Layout& layout) {
  return std::size_t(layout.audioStart ? layout.audioStart : layout.extent);
}

bool HighBytes(const std::string& bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return true;
  }
  return false;
}

bool IsRedecodable(const Id3v2Layout& layout, const Id3v2Frame& frame) {
  const std::string id = FrameIdV24(layout.version, frame.id);
  const bool text = (!id.empty() && id[0] == 'T') || id == "WFED" || id == "MVNM" ||
                    id == "MVIN" || id == "GRP1";
  return text && !frame.malformed && !frame.compressed && !frame.encrypted && !frame.data.empty() &&
         frame.data[0] == '\0' && HighBytes(frame.data);
}

std::vector<std::wstring> Redecoded(const Id3v2Frame& frame, const std::string& id) {
  Id3v2Frame renamed = frame;
  renamed.id = id;
  std::vector<std::wstring> fields;
  TextFrameFields(renamed, id == "TXXX", &fields);
  for (std::wstring& field : fields) {
    std::string bytes(field.begin(), field.end());
    if (HighBytes(bytes))
      field = DecodeCodePage(kPage, bytes);
  }
  return fields;
}

std::string Id3v1Of(const std::string& bytes) {
  return bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0
             ? bytes.substr(bytes.size() - 128)
             : std::string();
}

// A comment whose description is empty (or a byte-order mark alone).
bool IsPlainComment(const Id3v2Frame& frame) {
  const std::string& d = frame.data;
  if (d.size() < 5)
    return false;
  if (d[0] == '\x01' || d[0] == '\x02') {
    const std::size_t at = d.compare(4, 2, "\xFF\xFE") == 0 || d.compare(4, 2, "\xFE\xFF") == 0
                               ? 6
                               : 4;
    return d.size() >= at + 2 && d[at] == '\0' && d[at + 1] == '\0';
  }
  return d[4] == '\0';
}

// True when a repair has something to do: a Latin-1 text frame with
// code-page bytes in the first tag (or in a tag after the audio, which is
// reported), or ID3v1 text with code-page bytes for a field the first tag
// lacks or holds empty.
bool NeedsRepair(const std::string& bytes) {
  std::size_t start = 0;
  Id3v2Layout layout;
  const bool hasTag = FirstTag(bytes, &start, &layout);
  if (hasTag) {
    for (const Id3v2Frame& frame : layout.frames) {
      if (IsRedecodable(layout, frame))
        return true;
    }
  } else {
    const std::size_t at = bytes.find("ID3");
    if (at != std::string::npos && ReadId3v2Layout(bytes.substr(at), &layout)) {
      for (const Id3v2Frame& frame : layout.frames) {
        if (IsRedecodable(layout, frame))
          return true;
      }
    }
    layout = Id3v2Layout();
  }
  const std::string v1 = Id3v1Of(bytes);
  if (v1.empty())
    return false;
  const std::pair<const char*, std::string> fields[] = {
      {"TIT2", v1.substr(3, 30)}, {"TPE1", v1.substr(33, 30)},
      {"TALB", v1.substr(63, 30)}, {"COMM", v1.substr(97, v1[125] == '\0' ? 28 : 30)}};
  for (const auto& [id, value] : fields) {
    if (!HighBytes(value.substr(0, value.find('\0'))))
      continue;
    bool present = false, empty = false;
    for (const Id3v2Frame& frame : layout.frames) {
      if (FrameIdV24(layout.version, frame.id) != id ||
          (std::string(id) == "COMM" && !IsPlainComment(frame)))
        continue;
      present = true;
      empty = std::string(id) != "COMM" && IsEmptyTextFrame(frame);
      break;
    }
    if (!present || empty)
      return true;
  }
  return false;
}

const char* const kId3v1Fields[] = {"TIT2", "TPE1", "TALB", "COMM", "TCON", "TDRC", "TRCK"};

bool IsId3v1Field(const std::string& id) {
  for (const char* field : kId3v1Fields) {
    if (id == field)
      return true;
  }
  return false;
}

struct Tally {
  int cases = 0, repaired = 0, notNeeded = 0, refused = 0;
  int framesLostOrChanged = 0, outsideChanged = 0;
  std::map<std::string, int> reasons;
  std::vector<std::string> refusals;
};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text)
    out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

// Compares frame by frame: kept frames identical (under their version 2.4
// id), re-decoded frames holding the re-decoded text, and beyond those only
// ID3v1 fields, added or filled into empty frames.
void CompareFrames(const Id3v2Layout* before, const Id3v2Layout& after, Tally* tally) {
  const auto lost = [&](const std::string& what) {
    ++tally->framesLostOrChanged;
    ADD_FAILURE() << what;
  };
  EXPECT_EQ(4, after.version);
  EXPECT_EQ("", after.unreadable);
  std::size_t j = 0;
  const std::vector<Id3v2Frame> none;
  const std::vector<Id3v2Frame>& old = before ? before->frames : none;
  // Version 2.3 date parts that went into TDRC.
  std::vector<bool> merged(old.size(), false);
  for (std::size_t i = 0; i < old.size(); ++i) {
    const Id3v2Frame& b = old[i];
    if (merged[i])
      continue;
    const std::string id = FrameIdV24(before->version, b.id);
    if (j >= after.frames.size()) {
      lost(b.id + " is lost");
      continue;
    }
    const Id3v2Frame& a = after.frames[j];
    if (IsRedecodable(*before, b)) {
      std::vector<std::wstring> fields;
      if (a.id != id || !TextFrameFields(a, id == "TXXX", &fields) || a.data[0] != '\x01' ||
          fields != Redecoded(b, id)) {
        lost(b.id + " is not re-decoded in place");
      }
      ++j;
      continue;
    }
    if (id == "TDRC" && before->version < 4 && a.id == "TDRC" && a.data != b.data) {
      // Year, day and time read as one date in version 2.4.
      const auto text = [](const Id3v2Frame& frame) {
        return frame.data.substr(0, frame.data.find_last_not_of('\0') + 1);
      };
      std::string expected = text(b);
      for (std::size_t k = 0; k < old.size(); ++k) {
        const std::string day = text(old[k]);
        if (ObsoleteFrameId(before->version, old[k].id) == "TDAT" && day.size() == 5) {
          expected += "-" + day.substr(3, 2) + "-" + day.substr(1, 2);
          merged[k] = true;
        }
      }
      for (std::size_t k = 0; k < old.size(); ++k) {
        const std::string time = text(old[k]);
        if (ObsoleteFrameId(before->version, old[k].id) == "TIME" && time.size() == 5 &&
            a.data.size() > 11) {
          expected += "T" + time.substr(1, 2) + ":" + time.substr(3, 2);
          merged[k] = true;
        }
      }
      if (a.data != expected)
        lost("TYER, TDAT and TIME do not give TDRC " + expected.substr(1));
      ++j;
      continue;
    }
    if (before->version == 2 && b.id == "PIC") {
      // The picture and its description stay; the format becomes a MIME type.
      if (a.id != "APIC" || a.data.size() < b.data.size() - 4 ||
          a.data.compare(a.data.size() - (b.data.size() - 4), std::string::npos, b.data, 4) != 0)
        lost("PIC is not kept as APIC");
      ++j;
      continue;
    }
    Id3v2Frame expected = b;
    expected.id = id.empty() ? ObsoleteFrameId(before->version, b.id) : id;
    const bool datePart = expected.id == "TDAT" || expected.id == "TIME";
    if (datePart && a != expected) {
      // A day or time ahead of its year: the year's TDRC must hold it.
      bool inDate = false;
      for (const Id3v2Frame& frame : after.frames)
        inDate = inDate || (frame.id == "TDRC" && frame.data.size() > 6);
      if (!inDate)
        lost(b.id + " is lost");
      continue;
    }
    if (a == expected) {
      ++j;
    } else if (a.id == expected.id && IsEmptyTextFrame(b) && IsId3v1Field(a.id)) {
      ++j;  // an empty field given the ID3v1 value
    } else {
      lost(b.id + " is lost or changed");
    }
  }
  for (; j < after.frames.size(); ++j) {
    if (!IsId3v1Field(after.frames[j].id))
      lost(after.frames[j].id + " appears from nowhere");
  }
}

// Repairs `bytes` in a folder of its own and checks everything about it.
void CheckRepair(const std::string& name, const std::string& bytes, Tally* tally) {
  SCOPED_TRACE(name);
  ++tally->cases;
  TempFolder folder;
  const fs::path path = folder.Write("song.mp3", bytes);
  const TagLib::String taglibTitle = [&] {
    TagLib::MPEG::File file(path.c_str(), false);
    return file.ID3v2Tag() ? file.ID3v2Tag()->title() : TagLib::String();
  }();
  FileOutcome outcome;
  const unsigned message = FixFile(path.native(), kPage, &outcome);
  const std::string after = ReadFile(path);
  EXPECT_EQ(1, std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()))
      << "nothing is left beside the file";

  if (message != WM_FIX_SUCCEEDED) {
    if (after != bytes) {
      ++tally->outsideChanged;
      ADD_FAILURE() << "a file that was not repaired changed";
    }
    if (message == WM_FIX_NOT_NEEDED) {
      ++tally->notNeeded;
      EXPECT_FALSE(NeedsRepair(bytes)) << "a file that needs a repair is neither repaired nor "
                                          "reported";
      return;
    }
    ASSERT_EQ(WM_FIX_FAILED, message);
    ++tally->refused;
    std::string reason = Narrow(outcome.issue);
    if (outcome.issue == kIssueCouldNotSave) {
      EXPECT_FALSE(outcome.detail.empty()) << "a refusal says why";
      reason += ": " + Narrow(outcome.detail);
    }
    ++tally->reasons[reason];
    tally->refusals.push_back(name + ": " + reason);
    return;
  }
  ++tally->repaired;
  EXPECT_TRUE(outcome.issue.empty());
  EXPECT_TRUE(NeedsRepair(bytes)) << "repaired, though nothing needed it";

  // The new tag replaces the old one where it was, or comes first when the
  // repair made the file its first tag.
  std::size_t start = 0;
  Id3v2Layout before, repaired;
  const bool hadTag = FirstTag(bytes, &start, &before);
  bool inPlace = hadTag && ReadId3v2Layout(after.substr(start), &repaired) &&
                 after.compare(0, start, bytes, 0, start) == 0 &&
                 after.compare(start + repaired.extent, std::string::npos, bytes,
                               start + ReplacedLength(before), std::string::npos) == 0;
  if (inPlace) {
    CompareFrames(&before, repaired, tally);
  } else if (ReadId3v2Layout(after, &repaired) && after.substr(repaired.extent) == bytes) {
    CompareFrames(nullptr, repaired, tally);
  } else {
    ++tally->outsideChanged;
    ADD_FAILURE() << "bytes outside the first ID3v2 tag changed";
  }

  // TagLib reads the repaired title as re-decoded where it read the title
  // before, and a second run finds nothing to do.
  if (hadTag && !taglibTitle.isEmpty()) {
    for (const Id3v2Frame& frame : before.frames) {
      if (FrameIdV24(before.version, frame.id) != "TIT2")
        continue;
      const std::vector<std::wstring> fields = Redecoded(frame, "TIT2");
      if (IsRedecodable(before, frame) && !frame.grouped && !fields.empty()) {
        TagLib::MPEG::File file(path.c_str(), false);
        ASSERT_TRUE(file.ID3v2Tag());
        EXPECT_EQ(fields.front(),
                  file.ID3v2Tag()->title().substr(0, fields.front().size()).toWString());
      }
      break;
    }
  }
  FileOutcome again;
  EXPECT_EQ(WM_FIX_NOT_NEEDED, FixFile(path.native(), kPage, &again)) << Narrow(again.detail);
  EXPECT_TRUE(after == ReadFile(path)) << "a second run changed the file";
}

// Raw edits inside the file's own tag: the letters of every Latin-1 text
// and comment frame become cp1251 bytes, so that the tag's layout (its
// unsynchronisation, extended header, odd sizes) stays as it was.
bool InjectInPlace(const std::string& bytes, std::string* injected) {
  std::size_t start = 0;
  Id3v2Layout layout;
  if (!FirstTag(bytes, &start, &layout))
    return false;
  *injected = bytes;
  bool edited = false;
  for (const Id3v2Frame& frame : layout.frames) {
    const bool text = frame.id[0] == 'T' || frame.id == "COMM" || frame.id == "COM";
    if (!text || frame.compressed || frame.data.size() < 2 || frame.data[0] != '\0')
      continue;
    const std::size_t at = injected->find(frame.data, start);
    if (at == std::string::npos || at + frame.data.size() > start + layout.extent)
      continue;
    const std::string cyrillic = Cyrillic(frame.data);
    if (cyrillic != frame.data) {
      injected->replace(at, cyrillic.size(), cyrillic);
      edited = true;
    }
  }
  return edited;
}

// The tag rewritten the way a tag writer stores a title typed on a cp1251
// system: the main fields and a TXXX as Latin-1 frames holding cp1251 bytes,
// every other frame as it was.
bool InjectRewritten(const std::string& bytes, int padding, std::string* injected) {
  std::size_t start = 0;
  Id3v2Layout layout;
  const bool hasTag = FirstTag(bytes, &start, &layout);
  if (hasTag && (layout.version == 2 || !layout.unreadable.empty()))
    return false;
  const int version = hasTag ? layout.version : 3;
  std::vector<Id3v2Frame> frames = layout.frames;
  const std::pair<const char*, const char*> fields[] = {
      {"TIT2", "Gruppa krovi"}, {"TPE1", "Kino"}, {"TALB", "Gruppa krovi"}};
  for (const auto& [id, text] : fields) {
    bool replaced = false;
    for (Id3v2Frame& frame : frames) {
      if (frame.id == id && !replaced) {
        frame = Latin1Frame(id, Cyrillic(text));
        replaced = true;
      }
    }
    if (!replaced)
      frames.push_back(Latin1Frame(id, Cyrillic(text)));
  }
  frames.push_back(Latin1Frame("TXXX", Cyrillic("Mood") + std::string(1, '\0') + Cyrillic("calm")));
  Id3v2Frame comment;
  comment.id = "COMM";
  comment.data = std::string("\0rus\0", 5) + Cyrillic("left as it is");
  frames.push_back(comment);
  const std::string tag = RenderTag(version, frames, padding);
  *injected = hasTag ? bytes.substr(0, start) + tag + bytes.substr(start + layout.extent)
                     : tag + bytes;
  return true;
}

// ID3v1 text in cp1251: the file's own ID3v1 tag edited, or one appended.
std::string InjectId3v1(const std::string& bytes) {
  std::string tag = Id3v1Tag(Cyrillic("Pesnya"), Cyrillic("Kino"), Cyrillic("Zvezda"), "1988", 3);
  tag.replace(97, 10, Cyrillic("Kommentarij"), 0, 10);  // the comment field
  if (Id3v1Of(bytes).empty())
    return bytes + tag;
  return bytes.substr(0, bytes.size() - 128) + tag;
}

fs::path RealworldFolder() {
  return fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld";
}

void PrintTally(const char* title, const Tally& tally) {
  std::cout << title << ": " << tally.cases << " cases, " << tally.repaired << " repaired, "
            << tally.notNeeded << " needed nothing, " << tally.refused << " refused; "
            << tally.framesLostOrChanged << " frames lost or changed, " << tally.outsideChanged
            << " files changed outside the tag\n";
  for (const auto& [reason, count] : tally.reasons)
    std::cout << "  " << count << "  " << reason << "\n";
  if (std::getenv("SONGWRIGHT_LIST_REFUSALS")) {
    for (const std::string& refusal : tally.refusals)
      std::cout << "    " << refusal << "\n";
  }
}

// Runs the test with HOME and XDG_STATE_HOME in a folder of its own.
class ScopedHome {
 public:
  ScopedHome() {
    for (const char* name : {"HOME", "XDG_STATE_HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::string(value) : std::string("\x01"));
      setenv(name, folder_.path().c_str(), 1);
    }
  }
  ~ScopedHome() {
    for (const auto& [name, value] : saved_) {
      if (value == "\x01")
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
  }

 private:
  TempFolder folder_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

}  // namespace

TEST(TagKeeping, FilesFromOtherProjectsLoseNothingButTheirMojibake) {
  const fs::path folder = RealworldFolder();
  if (!fs::is_directory(folder))
    GTEST_SKIP() << "no real-world files at " << folder.string()
                 << " (shared/realworld beside the repository)";
  ScopedHome home;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mp3")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());

  Tally asIs, injected;
  int index = 0;
  for (const fs::path& file : files) {
    const std::string name = fs::relative(file, folder).string();
    const std::string bytes = ReadFile(file);
    CheckRepair(name, bytes, &asIs);
    std::string edited;
    if (InjectInPlace(bytes, &edited))
      CheckRepair(name + " (cp1251 in its own frames)", edited, &injected);
    if (InjectRewritten(bytes, index++ % 2 ? 0 : 600, &edited))
      CheckRepair(name + " (tag rewritten with cp1251 frames)", edited, &injected);
    CheckRepair(name + " (cp1251 ID3v1)", InjectId3v1(bytes), &injected);
  }
  std::cout << files.size() << " files\n";
  PrintTally("as they are", asIs);
  PrintTally("with cp1251 injected", injected);
  EXPECT_EQ(0, asIs.framesLostOrChanged + injected.framesLostOrChanged);
  EXPECT_EQ(0, asIs.outsideChanged + injected.outsideChanged);
}
