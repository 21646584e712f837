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
#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/id3v2-text.h"
#include "tests/fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

RepairOptions Options(unsigned codePage, unsigned id3v2Version) {
  RepairOptions options;
  options.redecoding.codePage = codePage;
  options.id3v2Version = id3v2Version;
  return options;
}

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
  const bool text =
      (!id.empty() && id[0] == 'T') || id == "WFED" || id == "MVNM" || id == "MVIN" || id == "GRP1";
  return text && !frame.malformed && !frame.compressed && !frame.encrypted && !frame.data.empty() &&
         frame.data[0] == '\0' && HighBytes(frame.data);
}

std::vector<std::wstring> Redecoded(const Id3v2Frame& frame, const std::string& id) {
  Id3v2Frame renamed = frame;
  renamed.id = id;
  std::vector<std::wstring> fields;
  TextFrameFields(renamed, true, &fields);
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
    const std::size_t at =
        d.compare(4, 2, "\xFF\xFE") == 0 || d.compare(4, 2, "\xFE\xFF") == 0 ? 6 : 4;
    return d.size() >= at + 2 && d[at] == '\0' && d[at + 1] == '\0';
  }
  return d[4] == '\0';
}

// True when a repair has something to do: a Latin-1 text frame with
// code-page bytes in the first tag (or in a tag after the audio, which is
// reported), or ID3v1 text with code-page bytes for a field the first tag
// lacks or holds empty.
// True when the comment field reads as a value: a comment without a
// description, else a first comment whose text (after its description) has
// a character other than NUL and a byte-order mark.
bool HasComment(const Id3v2Layout& layout) {
  const Id3v2Frame* first = nullptr;
  for (const Id3v2Frame& frame : layout.frames) {
    if (FrameIdV24(layout.version, frame.id) != "COMM")
      continue;
    if (IsPlainComment(frame))
      return true;
    first = first ? first : &frame;
  }
  if (!first || first->data.size() < 4)
    return false;
  const std::string& d = first->data;
  const std::size_t unit = d[0] == '\x01' || d[0] == '\x02' ? 2 : 1;
  std::size_t at = 4;
  while (at + unit <= d.size() && d.compare(at, unit, std::string(unit, '\0')) != 0)
    at += unit;
  std::string text = d.substr(std::min(d.size(), at + unit));
  if (unit == 2 && text.size() >= 2 && (text.compare(0, 2, "\xFF\xFE") == 0 ||
                                        text.compare(0, 2, "\xFE\xFF") == 0))
    text.erase(0, 2);
  return text.find_first_not_of('\0') != std::string::npos;
}

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
      {"TIT2", v1.substr(3, 30)},
      {"TPE1", v1.substr(33, 30)},
      {"TALB", v1.substr(63, 30)},
      {"COMM", v1.substr(97, v1[125] == '\0' ? 28 : 30)}};
  for (const auto& [id, value] : fields) {
    if (!HighBytes(value.substr(0, value.find('\0'))))
      continue;
    if (std::string(id) == "COMM") {
      if (!HasComment(layout))
        return true;
      continue;
    }
    bool present = false, empty = false;
    for (const Id3v2Frame& frame : layout.frames) {
      if (FrameIdV24(layout.version, frame.id) != id)
        continue;
      present = true;
      empty = IsEmptyTextFrame(frame);
      break;
    }
    if (!present || empty)
      return true;
  }
  return false;
}

const char* const kId3v1Fields[] = {"TIT2", "TPE1", "TALB", "COMM", "TCON", "TDRC", "TYER", "TRCK"};

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

// In a version 2.4 tag made from a version 2.2 or 2.3 one, a text or comment
// frame may lose the NUL that ended its last value (one 00 00 unit in
// UTF-16), and nothing else.
bool LostOnlyItsTerminator(const Id3v2Frame& expected, const Id3v2Frame& got) {
  if (expected.data.empty() || got.data.size() >= expected.data.size())
    return false;
  const std::size_t unit = expected.data[0] == '\x01' || expected.data[0] == '\x02' ? 2 : 1;
  Id3v2Frame restored = got;
  restored.data += std::string(unit, '\0');
  return restored == expected;
}

// The one value of a date frame, in whichever encoding it is stored.
std::string DateText(const Id3v2Frame& frame) {
  std::vector<std::wstring> fields;
  if (!TextFrameFields(frame, false, &fields) || fields.size() != 1)
    return std::string();
  return std::string(fields[0].begin(), fields[0].end());
}

// Compares frame by frame: kept frames identical (under their version 2.4
// id), re-decoded frames holding the re-decoded text, and beyond those only
// ID3v1 fields, added or filled into empty frames.
// `version` is the version asked for: a version 2.3 tag stays 2.4 when 2.3
// cannot hold its frames as they are.
void CompareFrames(const Id3v2Layout* before, const Id3v2Layout& after, unsigned version,
                   Tally* tally) {
  const auto lost = [&](const std::string& what) {
    ++tally->framesLostOrChanged;
    ADD_FAILURE() << what;
  };
  if (version == 4 || (before && before->version == 2))
    EXPECT_EQ(4, after.version);
  else
    EXPECT_TRUE(after.version == 3 || after.version == 4);
  const bool in23 = after.version == 3;
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
    const std::string id = in23 ? b.id : FrameIdV24(before->version, b.id);
    if (j >= after.frames.size()) {
      lost(b.id + " is lost");
      continue;
    }
    const Id3v2Frame& a = after.frames[j];
    if (IsRedecodable(*before, b)) {
      std::vector<std::wstring> fields;
      if (a.id != id || !TextFrameFields(a, true, &fields) || a.data[0] != '\x01' ||
          fields != Redecoded(b, id)) {
        lost(b.id + " is not re-decoded in place");
      }
      ++j;
      continue;
    }
    if (in23 && b.id == "TDRC" && a.id == "TYER") {
      // A version 2.4 date as version 2.3 year, day and time.
      std::vector<std::wstring> date, year;
      TextFrameFields(b, false, &date);
      TextFrameFields(a, false, &year);
      if (date.size() != 1 || year.size() != 1 || date[0].substr(0, 4) != year[0])
        lost("TDRC is not kept as TYER");
      for (++j; j < after.frames.size() &&
                (after.frames[j].id == "TDAT" || after.frames[j].id == "TIME");)
        ++j;
      continue;
    }
    if (in23 && b.id[0] == 'T' && !b.data.empty() && (b.data[0] == 2 || b.data[0] == 3)) {
      // UTF-8 and UTF-16BE text as UTF-16, value for value.
      std::vector<std::wstring> stored, written;
      if (a.id != b.id || a.data[0] != '\x01' || !TextFrameFields(b, true, &stored) ||
          !TextFrameFields(a, true, &written) || stored != written)
        lost(b.id + " does not keep its text in UTF-16");
      ++j;
      continue;
    }
    Id3v2Frame renamed = b;
    renamed.id = id.empty() ? ObsoleteFrameId(before->version, b.id) : id;
    if (!in23 && before->version < 4 && LostOnlyItsTerminator(renamed, a)) {
      ++j;
      continue;
    }
    if (id == "TDRC" && before->version < 4 && a.id == "TDRC" && a.data != b.data) {
      // Year, day and time read as one Latin-1 date in version 2.4, whatever
      // their own encodings.
      std::string expected = DateText(b);
      for (std::size_t k = 0; k < old.size(); ++k) {
        const std::string day = DateText(old[k]);
        if (ObsoleteFrameId(before->version, old[k].id) == "TDAT" && day.size() == 4) {
          expected += "-" + day.substr(2, 2) + "-" + day.substr(0, 2);
          merged[k] = true;
        }
      }
      for (std::size_t k = 0; k < old.size(); ++k) {
        const std::string time = DateText(old[k]);
        if (ObsoleteFrameId(before->version, old[k].id) == "TIME" && time.size() == 4 &&
            a.data.size() > 11) {
          expected += "T" + time.substr(0, 2) + ":" + time.substr(2, 2);
          merged[k] = true;
        }
      }
      if (a.data != std::string(1, '\0') + expected)
        lost("TYER, TDAT and TIME do not give TDRC " + expected);
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
    const Id3v2Frame& expected = renamed;
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

struct Result {
  unsigned message = 0;
  FileOutcome outcome;
  std::string after;  // the file's bytes after the run
};

// Repairs `bytes` in a folder of its own and checks everything about it.
Result CheckRepair(const std::string& name, const std::string& bytes, Tally* tally,
                   unsigned version = 4) {
  SCOPED_TRACE(name);
  Result result;
  ++tally->cases;
  TempFolder folder;
  const fs::path path = folder.Write("song.mp3", bytes);
  const TagLib::String taglibTitle = [&] {
    TagLib::MPEG::File file(path.c_str(), false);
    return file.ID3v2Tag() ? file.ID3v2Tag()->title() : TagLib::String();
  }();
  FileOutcome& outcome = result.outcome;
  const unsigned message = result.message =
      FixFile(path.native(), Options(kPage, version), &outcome);
  const std::string after = result.after = ReadFile(path);
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
      return result;
    }
    EXPECT_EQ(WM_FIX_FAILED, message);
    ++tally->refused;
    std::string reason = Narrow(outcome.issue);
    if (outcome.issue == kIssueCouldNotSave) {
      EXPECT_FALSE(outcome.detail.empty()) << "a refusal says why";
      reason += ": " + Narrow(outcome.detail);
    }
    ++tally->reasons[reason];
    tally->refusals.push_back(name + ": " + reason);
    return result;
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
    CompareFrames(&before, repaired, version, tally);
  } else if (ReadId3v2Layout(after, &repaired) && after.substr(repaired.extent) == bytes) {
    CompareFrames(nullptr, repaired, version, tally);
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
        EXPECT_TRUE(file.ID3v2Tag());
        if (file.ID3v2Tag()) {
          EXPECT_EQ(fields.front(),
                    file.ID3v2Tag()->title().substr(0, fields.front().size()).toWString());
        }
      }
      break;
    }
  }
  FileOutcome again;
  EXPECT_EQ(WM_FIX_NOT_NEEDED, FixFile(path.native(), Options(kPage, version), &again))
      << Narrow(again.detail);
  EXPECT_TRUE(after == ReadFile(path)) << "a second run changed the file";
  return result;
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
  *injected =
      hasTag ? bytes.substr(0, start) + tag + bytes.substr(start + layout.extent) : tag + bytes;
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

// SONGWRIGHT_REALWORLD names the folder when it is not beside the
// repository (a git worktree, a copy elsewhere).
fs::path RealworldFolder() {
  if (const char* folder = std::getenv("SONGWRIGHT_REALWORLD"))
    return fs::path(folder);
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

  for (unsigned version : {4u, 3u}) {
    Tally asIs, inPlace, rewritten, id3v1;
    int index = 0;
    for (const fs::path& file : files) {
      const std::string name =
          fs::relative(file, folder).string() + " as 2." + std::to_string(version);
      const std::string bytes = ReadFile(file);
      CheckRepair(name, bytes, &asIs, version);
      std::string edited;
      if (InjectInPlace(bytes, &edited))
        CheckRepair(name + " (cp1251 in its own frames)", edited, &inPlace, version);
      if (InjectRewritten(bytes, index++ % 2 ? 0 : 600, &edited))
        CheckRepair(name + " (tag rewritten with cp1251 frames)", edited, &rewritten, version);
      CheckRepair(name + " (cp1251 ID3v1)", InjectId3v1(bytes), &id3v1, version);
    }
    std::cout << files.size() << " files, tags written as ID3v2." << version << "\n";
    PrintTally("as they are", asIs);
    PrintTally("cp1251 in their own Latin-1 frames", inPlace);
    PrintTally("tag rewritten with cp1251 frames", rewritten);
    PrintTally("cp1251 ID3v1", id3v1);
    for (const Tally* tally : {&asIs, &inPlace, &rewritten, &id3v1}) {
      EXPECT_EQ(0, tally->framesLostOrChanged);
      EXPECT_EQ(0, tally->outsideChanged);
    }
  }
}

namespace {

Id3v2Frame MakeFrame(const std::string& id, const std::string& data) {
  Id3v2Frame frame;
  frame.id = id;
  frame.data = data;
  return frame;
}

std::string Latin1(const std::string& text) {
  return std::string(1, '\0') + text;
}

// Unsynchronisation as a writer applies it: a zero after every 0xFF that a
// sync or a zero follows.
std::string Unsynchronise(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == '\xFF' && (i + 1 == bytes.size() || bytes[i + 1] == '\0' ||
                               static_cast<unsigned char>(bytes[i + 1]) >= 0xE0))
      out.push_back('\0');
  }
  return out;
}

std::string Header(int version, unsigned char flags, std::size_t size) {
  return std::string("ID3") + char(version) + '\0' + char(flags) + SyncSafe32(std::uint32_t(size));
}

std::string Tag22(const std::vector<Id3v2Frame>& frames) {
  std::string body;
  for (const Id3v2Frame& frame : frames) {
    const std::size_t size = frame.data.size();
    body += frame.id + char(size >> 16) + char(size >> 8) + char(size) + frame.data;
  }
  return Header(2, 0, body.size()) + body;
}

const Id3v2Frame* FindFrame(const Id3v2Layout& layout, const std::string& id, int nth = 0) {
  for (const Id3v2Frame& frame : layout.frames) {
    if (frame.id == id && nth-- == 0)
      return &frame;
  }
  return nullptr;
}

std::string DataOf(const Id3v2Layout& layout, const std::string& id) {
  const Id3v2Frame* frame = FindFrame(layout, id);
  return frame ? frame->data : "(no " + id + ")";
}

Id3v2Layout TagAt(const std::string& bytes, std::size_t at = 0) {
  Id3v2Layout layout;
  EXPECT_TRUE(ReadId3v2Layout(bytes.substr(at), &layout));
  return layout;
}

std::wstring TextOf(const Id3v2Frame* frame) {
  std::vector<std::wstring> fields;
  if (!frame || !TextFrameFields(*frame, true, &fields) || fields.empty())
    return L"";
  std::wstring text = fields.front();
  for (std::size_t i = 1; i < fields.size(); ++i)
    text += L"|" + fields[i];
  return text;
}

const std::string kTitle = Cyrillic("Gruppa krovi");  // cp1251 bytes
const wchar_t kTitleText[] = L"\u0416\u0441\u0444\u043f\u043f\u0430 \u043a\u0441\u043e\u0445\u0438";

class TagKeepingCases : public ::testing::Test {
 protected:
  Result Repair(const std::string& name, const std::string& bytes, unsigned version = 4) {
    return CheckRepair(name, bytes, &tally_, version);
  }
  void TearDown() override {
    EXPECT_EQ(0, tally_.framesLostOrChanged);
    EXPECT_EQ(0, tally_.outsideChanged);
  }
  ScopedHome home_;
  Tally tally_;
};

}  // namespace

TEST_F(TagKeepingCases, FramesTagLibWouldDropOrChangeKeepTheirBytes) {
  std::vector<Id3v2Frame> frames = {
      MakeFrame("TIT2", Latin1(kTitle)),
      MakeFrame("TXXX", Latin1(std::string("\0value", 6))),  // no description
      MakeFrame("POPM", std::string("a@b.c\0\xC8", 7)),      // a rating, no play count
      MakeFrame("COMM", std::string("\0engdesc\0text\0", 14)),
      MakeFrame("PRIV", std::string("owner\0\x01\x02\xFF\xFE", 10)),
      MakeFrame("USER", std::string("\0engTerms", 9)),
      MakeFrame("TYER", Latin1("unknown")),
      MakeFrame("TRCK", Latin1("A1")),
      MakeFrame("TCON", Latin1("")),
  };
  Id3v2Frame discard = MakeFrame("PCNT", std::string("\0\0\0\x05", 4));
  discard.discardOnTagChange = true;
  Id3v2Frame grouped = MakeFrame("WXXX", Latin1(std::string("\0http://x", 9)));
  grouped.readOnly = grouped.grouped = true;
  grouped.groupId = 7;
  Id3v2Frame compressed = MakeFrame("APIC", std::string("x\x9C\x01\x02", 4));
  compressed.compressed = compressed.hasDataLength = true;
  compressed.dataLength = 900;
  Id3v2Frame encrypted = MakeFrame("GEOB", std::string("\x10\x20\x30", 3));
  encrypted.encrypted = true;
  encrypted.encryptionMethod = 0x80;
  frames.insert(frames.end(), {discard, grouped, compressed, encrypted});
  // An ID3v1 tag with no year, track or genre: nothing of it may remove the
  // frames above.
  const std::string audio = MpegFrames(10);
  for (int version : {3, 4}) {
    std::vector<Id3v2Frame> stored = frames;
    if (version == 4)
      stored[6].id = "TDRC";
    const Result result = Repair("version " + std::to_string(version),
                                 RenderTag(version, stored, 100) + audio + Id3v1Tag("Title"));
    ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
    const Id3v2Layout tag = TagAt(result.after);
    EXPECT_EQ(kTitleText, TextOf(FindFrame(tag, "TIT2")));
    ASSERT_TRUE(FindFrame(tag, "TXXX"));
    EXPECT_EQ(frames[1].data, FindFrame(tag, "TXXX")->data);
    ASSERT_TRUE(FindFrame(tag, "PCNT"));
    EXPECT_TRUE(FindFrame(tag, "PCNT")->discardOnTagChange);
    ASSERT_TRUE(FindFrame(tag, "WXXX"));
    EXPECT_EQ(7, FindFrame(tag, "WXXX")->groupId);
    EXPECT_TRUE(FindFrame(tag, "WXXX")->readOnly);
    ASSERT_TRUE(FindFrame(tag, "APIC"));
    EXPECT_TRUE(FindFrame(tag, "APIC")->compressed);
    EXPECT_EQ(900u, FindFrame(tag, "APIC")->dataLength);
    EXPECT_EQ(L"unknown", TextOf(FindFrame(tag, "TDRC")));
    EXPECT_EQ(L"A1", TextOf(FindFrame(tag, "TRCK")));
    EXPECT_TRUE(FindFrame(tag, "TCON"));
  }
}

TEST_F(TagKeepingCases, OlderVersionsTakeTheirVersion24Forms) {
  // A chapter whose title is longer than 127 bytes: its size must become
  // syncsafe in the version 2.4 tag.
  const std::string chapterTitle = Latin1(std::string(200, 'c'));
  const std::string chapter = std::string("ch1\0", 4) + std::string(16, '\x01') + "TIT2" +
                              BigEndian32(std::uint32_t(chapterTitle.size())) +
                              std::string(2, '\0') + chapterTitle;
  const std::vector<Id3v2Frame> v23 = {
      MakeFrame("TIT2", Latin1(kTitle)),
      MakeFrame("TYER", Latin1("2004")),
      MakeFrame("TDAT", Latin1("3112")),
      MakeFrame("TIME", Latin1("2359")),
      MakeFrame("TORY", Latin1("1999")),
      MakeFrame("IPLS", Latin1(std::string("mix\0Bob", 7))),
      MakeFrame("RVAD", "\x03\x10\x01\x02\x03\x04"),
      MakeFrame("TSIZ", Latin1("12345")),
      MakeFrame("CHAP", chapter),
  };
  const Result result = Repair("version 2.3", RenderTag(3, v23, 0) + MpegFrames(5));
  ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
  const Id3v2Layout tag = TagAt(result.after);
  EXPECT_EQ(L"2004-12-31T23:59", TextOf(FindFrame(tag, "TDRC")));
  EXPECT_FALSE(FindFrame(tag, "TDAT"));
  EXPECT_FALSE(FindFrame(tag, "TYER"));
  EXPECT_EQ(L"1999", TextOf(FindFrame(tag, "TDOR")));
  EXPECT_EQ(L"mix|Bob", TextOf(FindFrame(tag, "TIPL")));
  EXPECT_TRUE(FindFrame(tag, "RVAD"));
  EXPECT_TRUE(FindFrame(tag, "TSIZ"));
  ASSERT_TRUE(FindFrame(tag, "CHAP"));
  EXPECT_EQ("TIT2" + SyncSafe32(201) + std::string(2, '\0') + chapterTitle,
            FindFrame(tag, "CHAP")->data.substr(20));

  // Written as version 2.3, the same tag keeps every frame as stored; only
  // the title is re-decoded.
  const std::string stored = RenderTag(3, v23, 0) + MpegFrames(5);
  const Result as23 = Repair("version 2.3 written as 2.3", stored, 3);
  ASSERT_EQ(WM_FIX_SUCCEEDED, as23.message);
  Id3v2Layout before23, after23;
  ASSERT_TRUE(ReadId3v2Layout(stored, &before23, false));
  ASSERT_TRUE(ReadId3v2Layout(as23.after, &after23, false));
  EXPECT_EQ(3, after23.version);
  ASSERT_EQ(before23.frames.size(), after23.frames.size());
  EXPECT_EQ(kTitleText, TextOf(&after23.frames[0]));
  for (std::size_t i = 1; i < before23.frames.size(); ++i)
    EXPECT_TRUE(before23.frames[i] == after23.frames[i]) << before23.frames[i].id;

  // Version 2.2: three-letter ids, a picture with a format instead of a MIME
  // type, year and day apart.
  const std::vector<Id3v2Frame> v22 = {
      MakeFrame("TT2", Latin1(kTitle)),
      MakeFrame("TP1", Latin1("Kino")),
      MakeFrame("TYE", Latin1("1988")),
      MakeFrame("TDA", Latin1("0106")),
      MakeFrame("PIC", std::string("\0JPG\x03\0\xFF\xD8\xFF\xE0", 10)),
      MakeFrame("COM", std::string("\0eng\0note", 9)),
      MakeFrame("RVA", "\x03\x10\x01\x02\x03\x04"),
  };
  const Result older = Repair("version 2.2", Tag22(v22) + MpegFrames(5));
  ASSERT_EQ(WM_FIX_SUCCEEDED, older.message);
  const Id3v2Layout tag22 = TagAt(older.after);
  EXPECT_EQ(kTitleText, TextOf(FindFrame(tag22, "TIT2")));
  EXPECT_EQ(L"1988-06-01", TextOf(FindFrame(tag22, "TDRC")));
  ASSERT_TRUE(FindFrame(tag22, "APIC"));
  EXPECT_EQ(std::string("\0image/jpeg\0\x03\0\xFF\xD8\xFF\xE0", 18),
            FindFrame(tag22, "APIC")->data);
  EXPECT_TRUE(FindFrame(tag22, "COMM"));
  EXPECT_TRUE(FindFrame(tag22, "RVAD"));

  // A version 2.2 frame with no later form would be lost: the file is
  // reported and left alone.
  std::vector<Id3v2Frame> unknown = v22;
  unknown.push_back(MakeFrame("XYZ", "data"));
  const std::string bytes = Tag22(unknown) + MpegFrames(5);
  const Result refused = Repair("version 2.2 with an unknown frame", bytes);
  EXPECT_EQ(WM_FIX_FAILED, refused.message);
  EXPECT_EQ(std::wstring(kIssueCouldNotSave), refused.outcome.issue);
  EXPECT_NE(std::wstring::npos, refused.outcome.detail.find(L"XYZ"));
}

TEST_F(TagKeepingCases, OnlyTheFirstTagIsRewritten) {
  const std::string audio = MpegFrames(12);
  const std::string second = RenderTag(4, {MakeFrame("TIT2", Latin1("second tag"))}, 20);
  const std::string tail = audio + ApeTag("Title", "ape") + Id3v1Tag("v1 title");
  const std::string junk(300, '\x01');
  const Result result =
      Repair("junk, two tags, APE and ID3v1",
             junk + RenderTag(3, {MakeFrame("TIT2", Latin1(kTitle))}, 0) + second + tail);
  ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
  const Id3v2Layout first = TagAt(result.after, junk.size());
  EXPECT_EQ(junk, result.after.substr(0, junk.size()));
  EXPECT_TRUE(second + tail == result.after.substr(junk.size() + first.extent))
      << "the second tag, the audio, APE and ID3v1 stay";

  // A tag whose declared size runs two bytes into the first audio frame.
  std::string overlapping = RenderTag(3, {MakeFrame("TIT2", Latin1(kTitle))}, 30);
  overlapping.replace(6, 4, SyncSafe32(std::uint32_t(overlapping.size() - 10 + 2)));
  const Result overlap = Repair("size running into the audio", overlapping + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, overlap.message);
  EXPECT_TRUE(audio == overlap.after.substr(TagAt(overlap.after).extent))
      << "the audio stays whole";

  // A tag after the audio, with a footer, is not the one a repair rewrites:
  // reported, nothing written.
  std::string trailing = RenderTag(4, {MakeFrame("TIT2", Latin1(kTitle))}, 0);
  trailing[5] = '\x10';
  trailing += "3DI" + trailing.substr(3, 7);
  const Result after = Repair("tag after the audio", audio + trailing);
  EXPECT_EQ(WM_FIX_FAILED, after.message);
  EXPECT_NE(std::wstring::npos, after.outcome.detail.find(L"after audio frames"));
}

TEST_F(TagKeepingCases, FramesTagLibCannotReadDoNotStopTheRepair) {
  const std::string audio = MpegFrames(5);
  // TagLib stops at an empty frame, and at one whose flags promise a data
  // length it does not hold; the frames after them are repaired all the same.
  const Result empty =
      Repair("empty frame first",
             RenderTag(3, {MakeFrame("TPE2", ""), MakeFrame("TIT2", Latin1(kTitle))}, 0) + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, empty.message);
  EXPECT_EQ(kTitleText, TextOf(FindFrame(TagAt(empty.after), "TIT2")));
  EXPECT_TRUE(FindFrame(TagAt(empty.after), "TPE2"));

  const std::string brokenTenc = std::string("TENC") + SyncSafe32(1) + "\x20\x01" + '\0';
  std::string body = brokenTenc + RenderFrameV24(MakeFrame("TIT2", Latin1(kTitle)));
  const Result broken = Repair("broken TENC", Header(4, 0, body.size()) + body + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, broken.message);
  EXPECT_EQ(kTitleText, TextOf(FindFrame(TagAt(broken.after), "TIT2")));
  EXPECT_EQ(brokenTenc, broken.after.substr(10, brokenTenc.size())) << "kept as it was stored";

  // Bytes that are no frame cannot be kept: reported with the reason.
  body = RenderFrameV24(MakeFrame("TIT2", Latin1(kTitle))) + "\x01\x02garbage";
  const std::string bytes = Header(4, 0, body.size()) + body + audio;
  const Result garbage = Repair("garbage after a frame", bytes);
  EXPECT_EQ(WM_FIX_FAILED, garbage.message);
  EXPECT_NE(std::wstring::npos, garbage.outcome.detail.find(L"cannot be read"));
}

TEST_F(TagKeepingCases, Id3v1FillsOnlyMissingOrEmptyFields) {
  const std::string audio = MpegFrames(5);
  const std::vector<Id3v2Frame> frames = {
      MakeFrame("TIT2", Latin1("Kept title")),
      MakeFrame("TPE1", Latin1("")),
      MakeFrame("COMM", std::string("\0engiTunNORM\0 0000", 18)),
      MakeFrame("TDRC", Latin1("unknown")),
      MakeFrame("TRCK", Latin1("A1")),
  };
  std::string v1 = Id3v1Tag(Cyrillic("Pesnya"), Cyrillic("Kino"), Cyrillic("Zvezda"), "1988", 3);
  v1.replace(97, 6, Cyrillic("Zametk"));
  const Result result = Repair("fields missing or empty", RenderTag(4, frames, 0) + audio + v1);
  ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
  const Id3v2Layout tag = TagAt(result.after);
  EXPECT_EQ(L"Kept title", TextOf(FindFrame(tag, "TIT2")));
  EXPECT_EQ(DecodeCodePage(kPage, Cyrillic("Kino")), TextOf(FindFrame(tag, "TPE1")));
  EXPECT_EQ("TPE1", tag.frames[1].id) << "an empty frame is filled where it is";
  EXPECT_EQ(DecodeCodePage(kPage, Cyrillic("Zvezda")), TextOf(FindFrame(tag, "TALB")));
  EXPECT_EQ(frames[2].data, FindFrame(tag, "COMM")->data);
  EXPECT_FALSE(FindFrame(tag, "COMM", 1)) << "the only comment, described or not, is the field";
  EXPECT_EQ(L"unknown", TextOf(FindFrame(tag, "TDRC")));
  EXPECT_EQ(L"A1", TextOf(FindFrame(tag, "TRCK")));

  // A comment in the code page is a repair of its own.
  std::string commentOnly = Id3v1Tag("Title");
  commentOnly.replace(97, 6, Cyrillic("Zametk"));
  const Result comment = Repair("ID3v1 comment only", audio + commentOnly);
  ASSERT_EQ(WM_FIX_SUCCEEDED, comment.message);
  const Id3v2Layout copiedTag = TagAt(comment.after);
  const Id3v2Frame* copied = FindFrame(copiedTag, "COMM");
  ASSERT_TRUE(copied);
  std::string utf16;  // the text as UTF-16LE, after the empty description
  for (wchar_t c : DecodeCodePage(kPage, Cyrillic("Zametk"))) {
    utf16.push_back(char(c & 0xFF));
    utf16.push_back(char(c >> 8));
  }
  EXPECT_EQ('\x01', copied->data[0]);
  EXPECT_EQ(utf16, copied->data.substr(copied->data.size() - utf16.size()));

  // ASCII copied alone never causes a save.
  const std::string ascii = RenderTag(4, {MakeFrame("TIT2", Latin1("T"))}, 0) + audio +
                            Id3v1Tag("T", "Artist", "Album", "1999", 2);
  EXPECT_EQ(WM_FIX_NOT_NEEDED, Repair("ASCII ID3v1", ascii).message);
}

TEST_F(TagKeepingCases, UnsynchronisedTagsAndExtendedHeaders) {
  const std::string audio = MpegFrames(5);
  const std::string picture =
      std::string("\0image/png\0\x03\0", 13) + "\xFF\xE0\xFF\x00\xFF\xFB\xFF";
  const std::vector<Id3v2Frame> frames = {MakeFrame("TIT2", Latin1(kTitle)),
                                          MakeFrame("APIC", picture)};
  std::string plain;
  for (const Id3v2Frame& frame : frames)
    plain += RenderFrameV23(frame);
  const std::string body23 = Unsynchronise(plain);
  const Result v23 =
      Repair("version 2.3 unsynchronised", Header(3, 0x80, body23.size()) + body23 + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, v23.message);
  EXPECT_EQ(picture, DataOf(TagAt(v23.after), "APIC"));

  // Version 2.4 unsynchronises frame by frame, with a data length.
  const std::string unsynced = Unsynchronise(picture);
  const std::string apic24 = "APIC" + SyncSafe32(std::uint32_t(4 + unsynced.size())) +
                             std::string("\x00\x03", 2) +
                             SyncSafe32(std::uint32_t(picture.size())) + unsynced;
  const std::string body24 = RenderFrameV24(frames[0]) + apic24;
  const Result v24 =
      Repair("version 2.4 unsynchronised frame", Header(4, 0, body24.size()) + body24 + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, v24.message) << Narrow(v24.outcome.detail);
  EXPECT_EQ(picture, DataOf(TagAt(v24.after), "APIC"));

  // Extended headers: version 2.3 counts its size without itself and may
  // carry a CRC; version 2.4 counts itself.
  const std::string ext23 =
      BigEndian32(10) + std::string("\x80\0", 2) + BigEndian32(0) + BigEndian32(0x12345678);
  const Result e23 = Repair("version 2.3 extended header",
                            Header(3, 0x40, ext23.size() + plain.size()) + ext23 + plain + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, e23.message);
  EXPECT_EQ(kTitleText, TextOf(FindFrame(TagAt(e23.after), "TIT2")));
  const std::string ext24 = SyncSafe32(6) + std::string("\x01\0", 2);
  std::string frames24;
  for (const Id3v2Frame& frame : frames)
    frames24 += RenderFrameV24(frame);
  const Result e24 =
      Repair("version 2.4 extended header",
             Header(4, 0x40, ext24.size() + frames24.size()) + ext24 + frames24 + audio);
  ASSERT_EQ(WM_FIX_SUCCEEDED, e24.message);
  EXPECT_EQ(picture, DataOf(TagAt(e24.after), "APIC"));
}

TEST_F(TagKeepingCases, RedecodedFramesKeepEveryValueInItsPlace) {
  // A TXXX without a description, values with an empty one between them,
  // a terminating NUL: each value is re-decoded where it stood.
  const std::vector<Id3v2Frame> frames = {
      MakeFrame("TXXX", Latin1(std::string(1, '\0') + kTitle)),
      MakeFrame("TPE1", Latin1(Cyrillic("Kino") + std::string(2, '\0') + Cyrillic("Aria"))),
      MakeFrame("TALB", Latin1(kTitle + std::string(1, '\0'))),
      MakeFrame("GRP1", Latin1(kTitle)),  // a text frame without a T
  };
  for (int version : {3, 4}) {
    const Result result =
        Repair("version " + std::to_string(version), RenderTag(version, frames, 0) + MpegFrames(5));
    ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
    const Id3v2Layout tag = TagAt(result.after);
    EXPECT_EQ(L"|" + std::wstring(kTitleText), TextOf(FindFrame(tag, "TXXX")));
    std::vector<std::wstring> artists;
    ASSERT_TRUE(FindFrame(tag, "TPE1"));
    ASSERT_TRUE(TextFrameFields(*FindFrame(tag, "TPE1"), true, &artists));
    EXPECT_EQ((std::vector<std::wstring>{DecodeCodePage(kPage, Cyrillic("Kino")), L"",
                                         DecodeCodePage(kPage, Cyrillic("Aria"))}),
              artists);
    EXPECT_EQ(kTitleText, TextOf(FindFrame(tag, "TALB")));
    EXPECT_EQ(kTitleText, TextOf(FindFrame(tag, "GRP1")));
  }
}

namespace {

// Text as UTF-16 (encoding 1) with a byte-order mark, little- or big-endian,
// or as UTF-16BE without one (encoding 2); ASCII only.
std::string Utf16(const std::string& ascii, bool bigEndian = false, bool mark = true) {
  std::string data(1, mark ? '\x01' : '\x02');
  if (mark)
    data += bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii)
    data += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return data;
}

}  // namespace

TEST_F(TagKeepingCases, Version23TerminatorsDoNotBecomeEmptyValuesInVersion24) {
  const std::string nul(1, '\0');
  const std::string gapless = Latin1("eng") + "iTunPGAP" + nul + "0";  // iTunes' comment
  const std::vector<Id3v2Frame> frames = {
      MakeFrame("TIT2", Latin1(kTitle)),  // the repair's reason
      MakeFrame("COMM", gapless + nul),   // reads "0" and "" in version 2.4
      MakeFrame("TXXX", Latin1("Mood" + nul + "calm" + nul)),
      MakeFrame("TPE2", Utf16("Band") + nul + nul),  // UTF-16: one 00 00 unit
      MakeFrame("TCOM", Utf16("Bach", true) + nul + nul),
      MakeFrame("TPE3", Latin1("a" + nul + nul + "b" + nul)),  // an empty value inside
      MakeFrame("TXXX", Utf16("Key") + nul + nul + Utf16("Am").substr(1) + nul + nul),
      MakeFrame("TXXX", Latin1("Alone" + nul)),  // the description's end, no value
      MakeFrame("COMM", Latin1("eng") + nul),    // the same in a comment
      MakeFrame("TCOP", Latin1(nul)),            // one empty value, terminated
      MakeFrame("TDAT", Latin1("3112" + nul)),   // no year to merge with
  };
  const std::string stored = RenderTag(3, frames, 0) + MpegFrames(5);
  const Result result = Repair("version 2.3 text ending in NUL", stored);
  ASSERT_EQ(WM_FIX_SUCCEEDED, result.message) << Narrow(result.outcome.detail);
  const Id3v2Layout tag = TagAt(result.after);
  ASSERT_EQ(frames.size(), tag.frames.size());
  EXPECT_EQ(gapless, tag.frames[1].data);
  EXPECT_EQ(Latin1("Mood" + nul + "calm"), tag.frames[2].data);
  EXPECT_EQ(Utf16("Band"), tag.frames[3].data);
  EXPECT_EQ(Utf16("Bach", true), tag.frames[4].data);
  EXPECT_EQ(Latin1("a" + nul + nul + "b"), tag.frames[5].data) << "empty values in the middle stay";
  EXPECT_EQ(Utf16("Key") + nul + nul + Utf16("Am").substr(1), tag.frames[6].data);
  EXPECT_EQ(frames[7].data, tag.frames[7].data);
  EXPECT_EQ(frames[8].data, tag.frames[8].data);
  EXPECT_EQ(Latin1(""), tag.frames[9].data);
  EXPECT_EQ(Latin1("3112"), tag.frames[10].data);

  // Written as version 2.3, where the NUL ends the text, every frame but the
  // title stays as stored.
  const Result as23 = Repair("version 2.3 text ending in NUL, written as 2.3", stored, 3);
  ASSERT_EQ(WM_FIX_SUCCEEDED, as23.message);
  const Id3v2Layout tag23 = TagAt(as23.after);
  ASSERT_EQ(frames.size(), tag23.frames.size());
  for (std::size_t i = 1; i < frames.size(); ++i)
    EXPECT_TRUE(frames[i] == tag23.frames[i]) << frames[i].id;

  // Version 2.2 ends its text the same way.
  const std::string v22 =
      Tag22({MakeFrame("TT2", Latin1(kTitle)), MakeFrame("COM", gapless + nul)}) + MpegFrames(5);
  const Result older = Repair("version 2.2 comment ending in NUL", v22);
  ASSERT_EQ(WM_FIX_SUCCEEDED, older.message);
  EXPECT_EQ(gapless, DataOf(TagAt(older.after), "COMM"));
}

TEST_F(TagKeepingCases, YearDayAndTimeMergeWhateverTheirEncoding) {
  const std::string nul(1, '\0');
  const std::pair<const char*, std::string> years[] = {
      {"Latin-1", Latin1("2010")},
      {"UTF-16 little-endian", Utf16("2010") + std::string(2, '\0')},
      {"UTF-16 big-endian with a mark", Utf16("2010", true)},
      {"UTF-16BE", Utf16("2010", true, false)},
      {"UTF-8", std::string(1, '\x03') + "2010" + nul},
  };
  for (const auto& [encoding, year] : years) {
    const std::vector<Id3v2Frame> frames = {
        MakeFrame("TIT2", Latin1(kTitle)),
        MakeFrame("TYER", year),
        MakeFrame("TDAT", Latin1("0405")),
        MakeFrame("TIME", Utf16("2130")),
    };
    const Result result =
        Repair(std::string("year in ") + encoding, RenderTag(3, frames, 0) + MpegFrames(5));
    ASSERT_EQ(WM_FIX_SUCCEEDED, result.message) << encoding;
    const Id3v2Layout tag = TagAt(result.after);
    EXPECT_EQ(Latin1("2010-05-04T21:30"), DataOf(tag, "TDRC")) << encoding;
    EXPECT_FALSE(FindFrame(tag, "TDAT")) << encoding;
    EXPECT_FALSE(FindFrame(tag, "TIME")) << encoding;
  }

  // Anything but the four digits keeps the frames apart: a second value,
  // UTF-16 without a byte-order mark, a letter.
  const std::string noMark = "\x01" + Utf16("2010").substr(3);
  for (const std::string& year :
       {Utf16("2010") + std::string(2, '\0') + Utf16("2011").substr(1), noMark, Utf16("201O")}) {
    const std::vector<Id3v2Frame> frames = {
        MakeFrame("TIT2", Latin1(kTitle)),
        MakeFrame("TYER", year),
        MakeFrame("TDAT", Latin1("0405")),
    };
    const Result result =
        Repair("year that is not four digits", RenderTag(3, frames, 0) + MpegFrames(5));
    ASSERT_EQ(WM_FIX_SUCCEEDED, result.message);
    const Id3v2Layout tag = TagAt(result.after);
    EXPECT_EQ(year, DataOf(tag, "TDRC"));
    EXPECT_EQ(Latin1("0405"), DataOf(tag, "TDAT"));
  }
}
