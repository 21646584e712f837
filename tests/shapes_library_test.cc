// A small library holding every shape of wrong text in every place of a
// tag, beside right text of every kind, repaired in automatic mode through
// the fix thread: what was wrong reads right (as TagLib reads it), and no
// file whose text was right is written.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/generalencapsulatedobjectframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/synchronizedlyricsframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/urllinkframe.h>

#include "engine/platform/path.h"
#include "engine/formats/repair.h"
#include "tests/engine_run.h"
#include "tests/fixtures.h"
#include "tests/shapes_fixtures.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace shapes;

namespace {

const std::wstring kRussian[] = {L"Звезда по имени Солнце", L"Спокойная ночь", L"Группа крови",
                                 L"Последний герой", L"Кукушка"};
const std::wstring kPolish[] = {L"Dziwny jest ten świat", L"Czesław Niemen", L"Przeżyj to sam"};
const std::wstring kGreek[] = {L"Τα παιδιά του Πειραιά", L"Μελίνα Μερκούρη", L"Ποτέ την Κυριακή"};

// How a shape stores a text: the frame's encoding byte and its bytes.
using Store = std::function<std::string(const std::wstring&)>;

Frame Stored(const std::string& id, const Store& store, const std::wstring& text) {
  return {id, store(text)};
}

Store Latin1In(unsigned page) {
  return [page](const std::wstring& text) { return std::string(1, '\0') + Encode(page, text); };
}

std::string Utf16Body(const std::wstring& text) {
  std::string body = "\x01\xFF\xFE";
  for (wchar_t c : text) {
    body.push_back(char(unsigned(c) & 0xFF));
    body.push_back(char((unsigned(c) >> 8) & 0xFF));
  }
  return body;
}

const Store kWidened = [](const std::wstring& t) {
  return Utf16Body(Widened1252(Encode(1251, t)));
};
const Store kSignExtended = [](const std::wstring& t) {
  return Utf16Body(SignExtended(Encode(1251, t)));
};
const Store kUtf8OfLegacy = [](const std::wstring& t) {
  return "\x03" + Utf8(Widened1252(Encode(1251, t)));
};
const Store kUtf8Twice = [](const std::wstring& t) { return "\x03" + Utf8(Widened1252(Utf8(t))); };
const Store kUtf8InLatin1 = [](const std::wstring& t) { return std::string(1, '\0') + Utf8(t); };
const Store kUtf16 = [](const std::wstring& t) { return Utf16Body(t); };
const Store kUtf8 = [](const std::wstring& t) { return "\x03" + Utf8(t); };

struct Track {
  fs::path path;
  std::string bytes;
  std::map<std::string, std::wstring> expected;  // what TagLib must read
  bool right = false;                            // must stay byte for byte
};

struct Library {
  TempFolder folder;
  std::vector<Track> tracks;

  void Add(const std::string& album, std::vector<Frame> frames, int version,
           std::map<std::string, std::wstring> expected, bool right = false,
           const std::string& id3v1 = "") {
    Track track;
    const std::string name = album + "/" + std::to_string(tracks.size()) + ".mp3";
    track.bytes = Id3v2Tag(frames, 64, version) + MpegFrames(2, int(tracks.size())) + id3v1;
    track.path = folder.Write(name, track.bytes);
    track.expected = std::move(expected);
    track.right = right;
    tracks.push_back(std::move(track));
  }
  // An album of three titles of `texts` stored by `store`.
  void AddAlbum(const std::string& album, const std::wstring* texts, const Store& store,
                int version) {
    for (int i = 0; i < 3; ++i)
      Add(album, {Stored("TIT2", store, texts[i]), Stored("TPE1", store, texts[(i + 1) % 3])},
          version, {{"TIT2", texts[i]}, {"TPE1", texts[(i + 1) % 3]}});
  }
};

std::string Latin1Bytes(const std::wstring& text) {
  return Encode(1251, text);
}

// Every place of the Russian text in cp1251 bytes stored as Latin-1.
std::vector<Frame> PlacesFrames() {
  const auto b = [](const std::wstring& t) { return Latin1Bytes(t); };
  const std::string nul(1, '\0');
  // The chapter's title is shorter than 128 bytes: its size reads the same
  // syncsafe (version 2.4) and plain (version 2.3).
  const Frame chapterTitle{"TIT2", nul + b(L"Глава первая")};
  const std::string size = std::string(3, '\0') + char(chapterTitle.body.size());
  return {
      {"TIT2", nul + b(kRussian[0])},
      {"COMM", nul + "rus" + b(L"Описание") + nul + b(L"Комментарий к песне")},
      {"COMM", nul + "eng" + "iTunNORM" + nul + " 0000021F 00000000"},
      {"USLT", nul + "rus" + nul + b(L"Слова песни")},
      {"SYLT", nul + "rus\x02\x01" + b(L"Текст") + nul + b(L"Раз") + nul + Bytes("\0\0\0\x10") +
                   b(L"Два") + nul + Bytes("\0\0\x01\x00")},
      {"APIC", nul + "image/png" + nul + "\x03" + b(L"Обложка") + nul + "\x89PNG"},
      {"WXXX", nul + b(L"Сайт группы") + nul + "http://example.org/"},
      {"GEOB", nul + "text/plain" + nul + b(L"заметки.txt") + nul + b(L"Заметки") + nul + "data"},
      {"TXXX", nul + b(L"Настроение") + nul + b(L"Грусть")},
      {"CHAP", "ch0" + nul + std::string(16, '\0') + "TIT2" + size + std::string(2, '\0') +
                   chapterTitle.body},
  };
}

std::wstring W(const TagLib::String& text) {
  return text.toWString();
}

// What TagLib reads in a place named as the expectations name it.
std::wstring TagLibText(TagLib::ID3v2::Tag* tag, const std::string& place) {
  using namespace TagLib::ID3v2;
  const std::string id = place.substr(0, 4), part = place.size() > 5 ? place.substr(5) : "";
  const FrameList& list = tag->frameListMap()[id.c_str()];
  if (list.isEmpty())
    return L"(none)";
  TagLib::ID3v2::Frame* frame = list.front();
  if (auto* comment = dynamic_cast<CommentsFrame*>(frame))
    return W(part == "desc" ? comment->description() : comment->text());
  if (auto* lyrics = dynamic_cast<UnsynchronizedLyricsFrame*>(frame))
    return W(lyrics->text());
  if (auto* synced = dynamic_cast<SynchronizedLyricsFrame*>(frame)) {
    if (part == "desc")
      return W(synced->description());
    return W(synced->synchedText()[part == "1" ? 1 : 0].text);
  }
  if (auto* picture = dynamic_cast<AttachedPictureFrame*>(frame))
    return W(picture->description());
  if (auto* url = dynamic_cast<UserUrlLinkFrame*>(frame))
    return W(url->description());
  if (auto* object = dynamic_cast<GeneralEncapsulatedObjectFrame*>(frame))
    return W(part == "file" ? object->fileName() : object->description());
  if (auto* user = dynamic_cast<UserTextIdentificationFrame*>(frame))
    return W(part == "desc" ? user->description() : user->fieldList().back());
  if (auto* chapter = dynamic_cast<ChapterFrame*>(frame)) {
    const FrameList inner = chapter->embeddedFrameList("TIT2");
    return inner.isEmpty() ? L"(none)" : W(inner.front()->toString());
  }
  return W(frame->toString());
}

void BuildLibrary(Library* library) {
  library->AddAlbum("Latin-1 cp1251", kRussian, Latin1In(1251), 3);
  library->AddAlbum("Latin-1 cp1253", kGreek, Latin1In(1253), 3);
  library->AddAlbum("Widened", kRussian, kWidened, 3);
  library->AddAlbum("Sign-extended", kRussian, kSignExtended, 4);
  library->AddAlbum("UTF-8 of legacy", kRussian, kUtf8OfLegacy, 4);
  library->AddAlbum("UTF-8 twice", kRussian, kUtf8Twice, 4);
  library->AddAlbum("UTF-8 in Latin-1", kRussian, kUtf8InLatin1, 3);
  for (int version : {3, 4}) {
    library->Add("Places", PlacesFrames(), version,
                 {{"TIT2", kRussian[0]},
                  {"COMM desc", L"Описание"},
                  {"COMM", L"Комментарий к песне"},
                  {"USLT", L"Слова песни"},
                  {"SYLT desc", L"Текст"},
                  {"SYLT 0", L"Раз"},
                  {"SYLT 1", L"Два"},
                  {"APIC", L"Обложка"},
                  {"WXXX", L"Сайт группы"},
                  {"GEOB file", L"заметки.txt"},
                  {"GEOB", L"Заметки"},
                  {"TXXX desc", L"Настроение"},
                  {"TXXX", L"Грусть"},
                  {"CHAP", L"Глава первая"}});
  }
  // A compilation: Russian tracks and right Western ones in every encoding.
  for (int i = 0; i < 4; ++i)
    library->Add("Compilation", {Stored("TIT2", Latin1In(1251), kRussian[i])}, 3,
                 {{"TIT2", kRussian[i]}});
  // A Spanish artist beside a Russian title: that one text reads better as stored.
  library->Add("Compilation",
               {Stored("TIT2", Latin1In(1251), kRussian[4]),
                {"TPE1", Bytes("\0Rid\xED"
                               "culo")}},
               3, {{"TIT2", kRussian[4]}, {"TPE1", L"Ridículo"}});
  library->Add("Compilation", {{"TIT2", Bytes("\0No\xEBl \xE0 Paris")}}, 3,
               {{"TIT2", L"Noël à Paris"}}, true);
  library->Add("Compilation", {Stored("TIT2", kUtf16, L"Café Müller")}, 3,
               {{"TIT2", L"Café Müller"}}, true);
  library->Add("Compilation", {Stored("TIT2", kUtf8, L"Ça plane pour moi")}, 4,
               {{"TIT2", L"Ça plane pour moi"}}, true);
  // Tracks in two pages in one folder.
  for (int i = 0; i < 3; ++i) {
    library->Add("Two pages", {Stored("TIT2", Latin1In(1251), kRussian[i])}, 3,
                 {{"TIT2", kRussian[i]}});
    library->Add("Two pages", {Stored("TIT2", Latin1In(1250), kPolish[i])}, 3,
                 {{"TIT2", kPolish[i]}});
  }
  // Right text of every kind.
  library->Add("Right", {Stored("TIT2", kUtf16, L"Café Müller")}, 3, {{"TIT2", L"Café Müller"}},
               true);
  library->Add("Right", {Stored("TIT2", kUtf8, L"Ça plane pour moi")}, 4,
               {{"TIT2", L"Ça plane pour moi"}}, true);
  library->Add("Right",
               {{"TIT2", Bytes("\0Gr\xF6\xDF"
                               "e aus K\xF6ln")}},
               3, {{"TIT2", L"Größe aus Köln"}}, true);
  library->Add("Right", {Stored("TIT2", kUtf16, kRussian[0]), Stored("TPE1", kUtf8, kGreek[1])}, 4,
               {{"TIT2", kRussian[0]}, {"TPE1", kGreek[1]}}, true);
  library->Add("Right", {Stored("TIT2", kUtf16, L"\u201CQuoted\u201D \u2013 dash")}, 3,
               {{"TIT2", L"\u201CQuoted\u201D \u2013 dash"}}, true);
  // ID3v1 text in cp1251 copied into an ID3v2 tag that lacks it.
  library->Add("ID3v1", {TextFrame("TRCK", "1")}, 3, {{"TIT2", kRussian[1]}, {"TPE1", L"Кино"}},
               false, Id3v1Tag(Latin1Bytes(kRussian[1]), Latin1Bytes(L"Кино")));
}

}  // namespace

TEST(ShapesLibrary, EveryShapeInEveryPlaceReadsRightAndRightTextIsNeverWritten) {
  Library library;
  BuildLibrary(&library);
  const std::vector<PathString> files = FoundPaths(RunScan(library.folder.path().native()));
  ASSERT_EQ(files.size(), library.tracks.size());

  // The preview tells which right files stay as they are, and why.
  // Tracks are named by their number, so a name finds one in any folder.
  std::map<fs::path, Received> previewed;
  for (const Received& entry : RunAutoFix(files, {}, true)) {
    if (entry.message == WM_FIX_SUCCEEDED || entry.message == WM_FIX_NOT_NEEDED)
      previewed[fs::path(entry.path).filename()] = entry;
  }
  for (const Track& track : library.tracks) {
    ASSERT_EQ(previewed.count(track.path.filename()), 1u) << track.path;
    const Received& entry = previewed[track.path.filename()];
    EXPECT_EQ(entry.message, unsigned(track.right ? WM_FIX_NOT_NEEDED : WM_FIX_SUCCEEDED))
        << track.path;
    if (track.right && track.path.parent_path().filename() == "Compilation") {
      EXPECT_NE(entry.note, L"") << track.path;
    }
  }

  for (const Received& entry : RunAutoFix(files))
    EXPECT_TRUE(entry.issue.empty()) << entry.path;
  for (std::size_t i = 0; i < library.tracks.size(); ++i) {
    const Track& track = library.tracks[i];
    SCOPED_TRACE(track.path.string());
    const std::string after = ReadFile(track.path);
    if (track.right) {
      EXPECT_EQ(after, track.bytes) << "right text was written";
    }
    EXPECT_NE(after.find(MpegFrames(2, int(i))), std::string::npos) << "the audio changed";
    TagLib::MPEG::File file(track.path.c_str());
    ASSERT_TRUE(file.ID3v2Tag(false));
    for (const auto& [place, text] : track.expected)
      EXPECT_EQ(TagLibText(file.ID3v2Tag(false), place), text) << place;
    // R3: the machine-written comment keeps its bytes.
    if (track.path.parent_path().filename() == "Places") {
      EXPECT_NE(after.find("iTunNORM" + std::string(1, '\0') + " 0000021F 00000000"),
                std::string::npos);
    }
  }

  // A second run finds nothing to do.
  for (const Received& entry : RunAutoFix(files))
    EXPECT_NE(entry.message, unsigned(WM_FIX_SUCCEEDED)) << entry.path << " repaired twice";
}

// A version 2.3 tag kept as version 2.3 (--id3v2-version 3) has every place
// read as well, its chapters' frames in their version 2.3 form.
TEST(ShapesLibrary, AVersion23TagKeptAsVersion23IsReadInEveryPlace) {
  TempFolder folder;
  const fs::path song =
      folder.Write("Places/1.mp3", Id3v2Tag(PlacesFrames(), 64, 3) + MpegFrames(2));
  RepairOptions options;
  options.redecoding.automatic = true;
  options.redecoding.codePage = 1251;
  options.id3v2Version = 3;
  FileOutcome outcome;
  ASSERT_EQ(FixFile(song.native(), options, &outcome), unsigned(WM_FIX_SUCCEEDED))
      << outcome.detail;
  const std::string after = ReadFile(song);
  EXPECT_EQ(after.substr(0, 4), "ID3\x03");
  TagLib::MPEG::File file(song.c_str());
  ASSERT_TRUE(file.ID3v2Tag(false));
  for (const auto& [place, text] :
       std::map<std::string, std::wstring>{{"TIT2", kRussian[0]},
                                           {"COMM", L"Комментарий к песне"},
                                           {"SYLT 1", L"Два"},
                                           {"GEOB file", L"заметки.txt"},
                                           {"CHAP", L"Глава первая"}})
    EXPECT_EQ(TagLibText(file.ID3v2Tag(false), place), text) << place;
}
