// The command line's output: the automatic mode as the default, JSON in
// every mode, names and tag text escaped, the preview of ID3v1 copies and
// --album-codepage folders the scan does not find.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"
#include "tests/cli_run.h"
#include "tests/fixtures.h"
#include "tests/format_builders.h"

namespace fs = std::filesystem;
using namespace fixtures;
using namespace cli_run;

namespace {

using Result = ProgramResult;

// A strict reader of one JSON value, for checking --json output: true when
// `text` is exactly one object whose strings are valid UTF-8 without raw
// control characters.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : text_(text) {}
  bool IsOneObject() { return Peek() == '{' && Value() && (Space(), at_ == text_.size()); }

 private:
  void Space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t'))
      ++at_;
  }
  char Peek() {
    Space();
    return at_ < text_.size() ? text_[at_] : '\0';
  }
  bool Take(char c) {
    if (Peek() != c)
      return false;
    ++at_;
    return true;
  }
  bool Word(const char* word) {
    const std::string w = word;
    if (text_.compare(at_, w.size(), w) != 0)
      return false;
    at_ += w.size();
    return true;
  }
  bool Value() {
    switch (Peek()) {
      case '{':
        return Container('}', true);
      case '[':
        return Container(']', false);
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }
  bool Container(char close, bool members) {
    ++at_;
    if (Take(close))
      return true;
    do {
      if (members && !(Peek() == '"' && String() && Take(':')))
        return false;
      if (!Value())
        return false;
    } while (Take(','));
    return Take(close);
  }
  bool String() {
    ++at_;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20)
        return false;
      if (c == '\\') {
        const char e = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
        if (e == 'u') {
          if (at_ + 6 > text_.size() ||
              text_.substr(at_ + 2, 4).find_first_not_of("0123456789abcdefABCDEF") !=
                  std::string::npos)
            return false;
          at_ += 6;
        } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos && e != '\0') {
          at_ += 2;
        } else {
          return false;
        }
        continue;
      }
      char32_t decoded = 0;
      const std::size_t length = Utf8SequenceAt(text_, at_, &decoded);
      if (length == 0)
        return false;
      at_ += length;
    }
    return false;
  }
  bool Number() {
    const std::size_t start = at_;
    Take('-');
    while (at_ < text_.size() &&
           std::string("0123456789.eE+-").find(text_[at_]) != std::string::npos)
      ++at_;
    return at_ > start && text_[at_ - 1] >= '0' && text_[at_ - 1] <= '9';
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

// Every line of `text` is one JSON object; returns their "type"s.
std::vector<std::string> JsonTypes(const std::string& text) {
  std::vector<std::string> types;
  for (const std::string& line : Lines(text)) {
    EXPECT_TRUE(JsonChecker(line).IsOneObject()) << line;
    const std::string key = "{\"type\":\"";
    EXPECT_EQ(0u, line.find(key)) << line;
    types.push_back(line.substr(key.size(), line.find('"', key.size()) - key.size()));
  }
  return types;
}

// A 128-byte ID3v1.1 tag with every field.
std::string FullId3v1(const std::string& title, const std::string& artist, const std::string& album,
                      const std::string& year, const std::string& comment, int track, int genre) {
  const auto field = [](const std::string& text, std::size_t size) {
    return text.substr(0, size) + std::string(size - std::min(size, text.size()), '\0');
  };
  return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) +
         field(comment, 28) + '\0' + char(track) + char(genre);
}

// "Группа крови" and "Закрой за мной дверь" by "Кино", in cp1251.
std::string Russian(const char* title) {
  return Id3v2Tag({TextFrame("TIT2", title), TextFrame("TPE1", "\xCA\xE8\xED\xEE"),
                   TextFrame("TALB", "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8")}) +
         MpegFrames(4);
}
const char kGruppaKrovi[] = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";
const char kZakroi[] = "\xC7\xE0\xEA\xF0\xEE\xE9 \xE7\xE0 \xEC\xED\xEE\xE9 \xE4\xE2\xE5\xF0\xFC";

// Western text correctly stored as Latin-1.
std::string Western(const char* title) {
  return Id3v2Tag({TextFrame("TIT2", title), TextFrame("TPE1", "Mot\xF6rhead"),
                   TextFrame("TALB", "No Sleep \x27til Hammersmith")}) +
         MpegFrames(4);
}

}  // namespace

// Without -c a run is automatic: a cp1251 album is repaired, Western text
// stored correctly as Latin-1 is left alone. -c PAGE re-decodes every
// Latin-1 frame with a high byte through PAGE, as it always did.
TEST(CommandLine, WithoutCEachAlbumIsDecidedFromItsText) {
  TempFolder folder;
  const fs::path kino1 = folder.Write("Kino/1.mp3", Russian(kGruppaKrovi));
  folder.Write("Kino/2.mp3", Russian(kZakroi));
  const std::string western1 = Western("Ace of Spades");
  const std::string western2 = Western(
      "Overkill \xDC"
      "ber Alles");
  const fs::path motor1 = folder.Write("Motorhead/1.mp3", western1);
  const fs::path motor2 = folder.Write("Motorhead/2.mp3", western2);
  const std::string path = folder.path().string();

  const auto sorted = [](const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  const Result run = RunCli({path}, {{"LANG", "C"}});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ((std::vector<std::string>{"Successfully fixed 2 files", "fixed\tKino/1.mp3",
                                      "fixed\tKino/2.mp3"}),
            sorted(run.out));
  EXPECT_EQ("", run.err);
  // "Кино" as UTF-16.
  EXPECT_NE(std::string::npos,
            ReadFile(kino1).find(std::string("\x1A\x04\x38\x04\x3D\x04\x3E\x04", 8)));
  EXPECT_EQ(western1, ReadFile(motor1));
  EXPECT_EQ(western2, ReadFile(motor2));

  const Result named = RunCli({"-c", "1251", path});
  EXPECT_EQ(0, named.status) << named.err;
  EXPECT_EQ((std::vector<std::string>{"Successfully fixed 2 files", "fixed\tMotorhead/1.mp3",
                                      "fixed\tMotorhead/2.mp3"}),
            sorted(named.out));
  // "Motцrhead": the explicit page takes every high byte as cp1251.
  EXPECT_NE(std::string::npos, ReadFile(motor1).find(std::string("t\x00\x46\x04r\x00", 6)));
}

TEST(CommandLine, JsonPrintsOnlyObjectsInEveryMode) {
  TempFolder folder, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  folder.Write("Kino/1.mp3", Russian(kGruppaKrovi));
  folder.Write("Kino/2.mp3", Russian(kZakroi));
  folder.Write("Short/1.mp3", Needing("Ji\xF8\xED"));
  folder.Write("Motorhead/1.mp3", Western("Ace of Spades"));
  fs::create_symlink(folder.path() / "nowhere", folder.path() / "Kino" / "broken.mp3");
  const std::string path = folder.path().string();
  const auto count = [](const std::vector<std::string>& types, const std::string& type) {
    return std::count(types.begin(), types.end(), type);
  };
  // The checker itself refuses what --json must never print.
  for (const std::string bad :
       {"{\"a\":\"\x1B\"}", "{\"a\":\"\xE9\"}", "{\"a\":1}x", "album\tKino", "{\"a\":[1,]}"})
    EXPECT_FALSE(JsonChecker(bad).IsOneObject()) << bad;

  const Result usage = RunCli({"--json", "--frobnicate"}, environment);
  EXPECT_EQ(2, usage.status);
  EXPECT_EQ("", usage.out);
  EXPECT_EQ(std::vector<std::string>{"error"}, JsonTypes(usage.err));

  const Result list = RunCli({"--json", "--list-runs"}, environment);
  EXPECT_EQ(0, list.status);
  EXPECT_EQ("", list.out + list.err);
  const Result noRun = RunCli({"--json", "--undo"}, environment);
  EXPECT_EQ(2, noRun.status);
  EXPECT_EQ(std::vector<std::string>{"error"}, JsonTypes(noRun.err));

  const Result preview = RunCli({"--json", "-n", "-v", path}, environment);
  EXPECT_EQ(1, preview.status);
  std::vector<std::string> types = JsonTypes(preview.out);
  EXPECT_EQ(3, count(types, "album")) << preview.out;
  EXPECT_EQ(5, count(types, "file")) << preview.out;
  EXPECT_EQ("summary", types.back());
  EXPECT_NE(std::string::npos, preview.out.find("{\"type\":\"album\",\"folder\":\"Kino\","
                                                "\"decision\":\"repair\",\"codepage\":1251,"
                                                "\"name\":\"Cyrillic\",\"language\":"))
      << preview.out;
  EXPECT_NE(std::string::npos,
            preview.out.find("\"folder\":\"Short\",\"decision\":\"unsure\",\"codepage\":null,"
                             "\"best_codepage\":1250"))
      << preview.out;
  EXPECT_NE(std::string::npos,
            preview.out.find("\"folder\":\"Motorhead\",\"decision\":\"leave\",\"codepage\":null,"
                             "\"reason\":\"reads as Western text\""))
      << preview.out;
  EXPECT_EQ(std::vector<std::string>{"settings"}, JsonTypes(preview.err));

  const Result real = RunCli({"--json", path}, environment);
  EXPECT_EQ(1, real.status);
  types = JsonTypes(real.out);
  EXPECT_EQ(3, count(types, "album")) << real.out;
  EXPECT_EQ(3, count(types, "file")) << real.out;  // two fixed, one failed
  EXPECT_EQ("", real.err) << "the unsure album is an object on stdout";
  const Result quiet =
      RunCli({"--json", "-q", "--album-codepage", "Short=1250", path}, environment);
  EXPECT_EQ(1, quiet.status);
  EXPECT_EQ((std::vector<std::string>{"file", "summary"}), JsonTypes(quiet.out)) << quiet.out;

  const Result runs = RunCli({"--json", "--list-runs"}, environment);
  EXPECT_EQ((std::vector<std::string>{"run", "run"}), JsonTypes(runs.out));
  EXPECT_NE(std::string::npos, runs.out.find("\"files\":2,\"paths\":[\"" + path + "\"]"))
      << runs.out;
  const Result undo = RunCli({"--json", "--undo"}, environment);
  EXPECT_EQ(0, undo.status) << undo.err;
  EXPECT_EQ((std::vector<std::string>{"run", "file", "summary"}), JsonTypes(undo.out)) << undo.out;
  EXPECT_EQ("", undo.err);
  const Result undone = RunCli({"--json", "--list-runs"}, environment);
  EXPECT_NE(std::string::npos, undone.out.find("\"undone\":true,\"state\":\"undone\"}"))
      << undone.out;
  const Result again = RunCli({"--json", "--undo"}, environment);
  EXPECT_EQ(3, again.status);
  EXPECT_EQ(std::vector<std::string>{"run"}, JsonTypes(again.out));
  EXPECT_EQ(std::vector<std::string>{"error"}, JsonTypes(again.err));

  const Result suggest = RunCli({"--json", "--suggest", path}, environment);
  EXPECT_EQ(0, suggest.status);
  types = JsonTypes(suggest.out);
  EXPECT_EQ("codepage", types.front());
  EXPECT_EQ("summary", types.back());
  EXPECT_NE(std::string::npos, suggest.out.find("--codepage auto")) << suggest.out;
  EXPECT_EQ("", suggest.err);

  const Result missing = RunCli({"--json", "--album-codepage", "Nowhere=1250", path}, environment);
  EXPECT_EQ(2, missing.status);
  EXPECT_EQ("", missing.out);
  EXPECT_EQ(std::vector<std::string>{"error"}, JsonTypes(missing.err));
}

// A name or a title cannot forge a line or reach the terminal as a control
// sequence: text escapes controls and bytes that are not UTF-8, JSON escapes
// controls and gives a name that is not UTF-8 back as hex.
TEST(CommandLine, ControlCharactersAndBytesThatAreNotUtf8AreEscaped) {
  TempFolder folder;
  const std::string title = "\xC0\xE1\xE2\x1B[31m\r\nfixed\tfake.mp3";
  const std::string name = "a\nfixed\tfake\\\xE9.mp3";
  folder.Write(name, Needing(title.c_str()));
  const std::string path = folder.path().string();

  const Result preview = RunCli({"-n", "-c", "1251", path});
  EXPECT_EQ(0, preview.status) << preview.err;
  EXPECT_EQ(std::string::npos, preview.out.find('\x1B'));
  EXPECT_EQ(std::string::npos, preview.out.find('\r'));
  EXPECT_EQ(
      "would fix\ta\\nfixed\\tfake\\\\\\xe9.mp3\n"
      "  TIT2  \xC3\x80\xC3\xA1\xC3\xA2\\x1b[31m\\r\\nfixed\\tfake.mp3  \xE2\x86\x92  "
      "\xD0\x90\xD0\xB1\xD0\xB2\\x1b[31m\\r\\nfixed\\tfake.mp3\n"
      "Preview: would fix 1 file; nothing was written\n",
      preview.out);

  const Result json = RunCli({"--json", "-n", "-c", "1251", path});
  EXPECT_EQ((std::vector<std::string>{"file", "summary"}), JsonTypes(json.out));
  EXPECT_EQ(0u,
            json.out.find("{\"type\":\"file\",\"file\":\"a\\nfixed\\tfake\\\\\xEF\xBF\xBD.mp3\","
                          "\"file_bytes\":\"610a66697865640966616b655ce92e6d7033\""))
      << json.out;
  EXPECT_NE(std::string::npos, json.out.find("\\u001b[31m\\r\\nfixed\\tfake.mp3"));

  const Result real = RunCli({"-c", "1251", path});
  EXPECT_EQ("fixed\ta\\nfixed\\tfake\\\\\\xe9.mp3\nSuccessfully fixed 1 file\n", real.out);
}

// An --album-codepage folder the scan finds no file in is a usage error, and
// nothing is written: no file, no run recorded.
TEST(CommandLine, AlbumCodePageOfAFolderWithoutFilesStopsTheRunBeforeItStarts) {
  TempFolder folder, state;
  const std::map<std::string, std::string> environment = {
      {"XDG_STATE_HOME", state.path().string()}};
  const fs::path song = folder.Write("Kino/1.mp3", Russian(kGruppaKrovi));
  folder.Write("Empty/notes.txt", "no songs");
  const std::string path = folder.path().string();
  for (const std::string album : {"Kino/Gruppa", "Empty", "kino", "Kino/1.mp3"}) {
    SCOPED_TRACE(album);
    const Result result = RunCli(
        {"--album-codepage", "Kino=1251", "--album-codepage", album + "=1250", path}, environment);
    EXPECT_EQ(2, result.status);
    EXPECT_EQ("", result.out);
    ASSERT_EQ(1u, Lines(result.err).size()) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("'" + album + "'")) << result.err;
    EXPECT_EQ(std::string::npos, result.err.find("'Kino'")) << result.err;
  }
  EXPECT_EQ(Russian(kGruppaKrovi), ReadFile(song));
  EXPECT_FALSE(fs::exists(state.path() / "songwright" / "runs"));
  EXPECT_EQ(2, RunCli({"-n", "--album-codepage", "Empty=leave", path}, environment).status);
  EXPECT_EQ(0, RunCli({"--album-codepage", "Kino=1251", path}, environment).status);
  EXPECT_NE(Russian(kGruppaKrovi), ReadFile(song));
}

// A preview lists every frame the real run writes, the ID3v1 fields copied
// into empty ID3v2 fields too; a file whose only copies need no re-decoding
// is written by neither.
TEST(CommandLine, PreviewListsTheId3v1FieldsTheRunCopies) {
  TempFolder folder;
  const fs::path song =
      folder.Write("song.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0\xE1\xE2")}) + MpegFrames(4) +
                                   FullId3v1("Title", "Artist", "Album", "1987", "Comment", 5, 17));
  const std::string plain = Id3v2Tag({TextFrame("TIT2", "Plain")}) + MpegFrames(4) +
                            FullId3v1("Title", "Artist", "Album", "1987", "Comment", 5, 17);
  const fs::path ascii = folder.Write("ascii.mp3", plain);
  const std::string path = folder.path().string();

  const Result preview = RunCli({"-n", "-c", "1251", path});
  EXPECT_EQ(0, preview.status) << preview.err;
  EXPECT_EQ(
      "would fix\tsong.mp3\n"
      "  TIT2  \xC3\x80\xC3\xA1\xC3\xA2  \xE2\x86\x92  \xD0\x90\xD0\xB1\xD0\xB2\n"
      "  TPE1  (empty)  \xE2\x86\x92  Artist\n"
      "  TALB  (empty)  \xE2\x86\x92  Album\n"
      "  COMM  (empty)  \xE2\x86\x92  Comment\n"
      "  TCON  (empty)  \xE2\x86\x92  Rock\n"
      "  TDRC  (empty)  \xE2\x86\x92  1987\n"
      "  TRCK  (empty)  \xE2\x86\x92  5\n"
      "Preview: would fix 1 file; nothing was written\n",
      preview.out);
  const Result json = RunCli({"--json", "-n", "-c", "1251", path});
  EXPECT_NE(std::string::npos,
            json.out.find("{\"id\":\"TCON\",\"before\":\"\",\"after\":\"Rock\"}"))
      << json.out;

  const Result real = RunCli({"-c", "1251", "--id3v2-version", "3", path});
  EXPECT_EQ("fixed\tsong.mp3\nSuccessfully fixed 1 file\n", real.out);
  const std::string written = ReadFile(song);
  for (const char* id : {"TPE1", "TALB", "COMM", "TCON", "TYER", "TRCK"})
    EXPECT_NE(std::string::npos, written.find(id)) << id;
  EXPECT_EQ(plain, ReadFile(ascii));
  // Written as ID3v2.3, the year goes into TYER, and a preview says so.
  folder.Write("song.mp3", Id3v2Tag({TextFrame("TIT2", "\xC0")}) + MpegFrames(4) +
                               FullId3v1("", "", "", "2001", "", 0, 255));
  EXPECT_NE(std::string::npos, RunCli({"-n", "-c", "1251", "--id3v2-version", "3", path})
                                   .out.find("  TYER  (empty)  \xE2\x86\x92  2001\n"));
}

// A compilation: the preview names the Western track it leaves as stored
// among the Russian ones it would repair, in text and in JSON.
TEST(CommandLine, PreviewSaysWhyATrackOfAnAlbumIsLeftAsStored) {
  TempFolder folder;
  folder.Write("Mix/1.mp3", Russian(kGruppaKrovi));
  folder.Write("Mix/2.mp3", Russian(kZakroi));
  folder.Write("Mix/3.mp3", Id3v2Tag({TextFrame("TIT2", "No\xEBl \xE0 Paris"), TextFrame("TPE1",
                                                                                         "Rid\xED"
                                                                                         "culo")}) +
                                MpegFrames(4));
  const std::string path = folder.path().string();
  const Result text = RunCli({"-n", path});
  EXPECT_EQ(0, text.status) << text.err;
  const std::vector<std::string> lines = Lines(text.out);
  const auto left = std::find(lines.begin(), lines.end(), "needs nothing\tMix/3.mp3");
  ASSERT_NE(left, lines.end()) << text.out;
  ASSERT_NE(left + 1, lines.end());
  EXPECT_NE((left + 1)->find("left as stored"), std::string::npos) << *(left + 1);

  const Result json = RunCli({"-n", "--json", path});
  EXPECT_EQ(0, json.status) << json.err;
  EXPECT_NE(json.out.find("\"file\":\"Mix/3.mp3\",\"outcome\":\"needs nothing\",\"note\":"),
            std::string::npos)
      << json.out;
}

// An album whose only wrong text is UTF-8 stored as Latin-1 has no text of a
// code page to decide on, and one of Western text is left as it is; either
// line says that the UTF-8 text is decoded all the same.
TEST(CommandLine, AnAlbumOfUtf8TextSaysItIsReadAsUtf8) {
  TempFolder folder;
  const char kKinoUtf8[] = "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE";  // "Кино" as UTF-8 bytes
  folder.Write("Utf8/1.mp3", Id3v2Tag({TextFrame("TIT2", kKinoUtf8)}) + MpegFrames(4));
  folder.Write("Mixed/1.mp3", Western("Ace of Spades"));
  folder.Write("Mixed/2.mp3", Id3v2Tag({TextFrame("TIT2", kKinoUtf8)}) + MpegFrames(4));
  const Result text = RunCli({"-n", folder.path().string()});
  EXPECT_EQ(0, text.status) << text.err;
  EXPECT_NE(std::string::npos,
            text.out.find("album\tUtf8\tleave as it is: no text of a code page; UTF-8 text "
                          "decoded\n"))
      << text.out;
  const std::vector<std::string> lines = Lines(text.out);
  const auto mixed = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.compare(0, 12, "album\tMixed\t") == 0;
  });
  ASSERT_NE(mixed, lines.end()) << text.out;
  EXPECT_NE(std::string::npos, mixed->find("reads as Western text")) << *mixed;
  EXPECT_NE(std::string::npos, mixed->find("; UTF-8 text decoded\t")) << *mixed;
  EXPECT_NE(std::string::npos, text.out.find("would fix\tUtf8/1.mp3")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("would fix\tMixed/2.mp3")) << text.out;
  const Result json = RunCli({"-n", "--json", folder.path().string()});
  EXPECT_NE(std::string::npos, json.out.find("\"utf8_texts\":1")) << json.out;
}

// With several paths no folder is the base: an album shows as the scan found
// it below the path given, a leading "/" included.
TEST(CommandLine, AlbumsOfSeveralAbsolutePathsShowTheirWholeFolder) {
  TempFolder folder;
  folder.Write("a/Kino/1.mp3", Russian(kGruppaKrovi));
  folder.Write("b/Motorhead/1.mp3", Western("Ace of Spades"));
  const std::string a = (folder.path() / "a").string(), b = (folder.path() / "b").string();
  ASSERT_EQ('/', a[0]);
  const Result text = RunCli({"-n", a, b});
  EXPECT_EQ(0, text.status) << text.err;
  EXPECT_NE(std::string::npos, text.out.find("album\t" + a + "/Kino\tcp1251")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("album\t" + b + "/Motorhead\tleave")) << text.out;
  const Result json = RunCli({"-n", "--json", a, b});
  EXPECT_NE(std::string::npos, json.out.find("\"folder\":\"" + a + "/Kino\"")) << json.out;
  // One path: its albums below it, as before.
  EXPECT_NE(std::string::npos, RunCli({"-n", a}).out.find("album\tKino\tcp1251"));
}

// The value of `key` in a line of --json output: "1251", "null", "\"unsure\"".
std::string JsonValue(const std::string& line, const std::string& key) {
  const std::size_t at = line.find("\"" + key + "\":");
  if (at == std::string::npos)
    return "";
  const std::size_t start = at + key.size() + 3;
  return line.substr(start, line.find_first_of(",}", start) - start);
}

// --suggest reads every format and concludes as the run decides the same
// text: the page it takes, not sure exactly when the run is not, or Western
// text left as it is.
TEST(CommandLine, SuggestionConcludesAsTheRunDecides) {
  TempFolder folder;
  std::string streamInfo, audio;
  formats::ToneFlac(&streamInfo, &audio);
  const std::wstring titles[] = {L"Группа крови", L"Закрой за мной дверь", L"Кукушка",
                                 L"Звезда по имени Солнце"};
  for (int i = 0; i < 4; ++i) {
    const std::string comment = formats::VorbisComment(
        "x", {"TITLE=" + formats::Cp1251(titles[i]), "ARTIST=" + formats::Cp1251(L"Кино")});
    folder.Write("Kino/" + std::to_string(i) + ".flac",
                 formats::FlacFile({{0, streamInfo}, {4, comment}}, audio));
  }
  folder.Write("Motorhead/1.mp3", Western("Ace of Spades"));
  // Short texts the decision may take, leave or be unsure of.
  const char* const shortTexts[] = {"P\xF8\xED\x6C\x69\x9A", "\xB9\xE6", "\xD0\xE0", "\xF0\xF0"};
  for (int i = 0; i < 4; ++i)
    folder.Write("Short" + std::to_string(i) + "/1.mp3", Needing(shortTexts[i]));
  const std::string path = folder.path().string();

  const Result preview = RunCli({"-n", "--json", path});
  std::size_t albums = 0;
  for (const std::string& album : Lines(preview.out)) {
    if (album.find("{\"type\":\"album\",") != 0)
      continue;
    ++albums;
    const std::string name = JsonValue(album, "folder");
    SCOPED_TRACE(album);
    const Result suggestion =
        RunCli({"--json", "--suggest", path + "/" + name.substr(1, name.size() - 2)});
    const std::string summary = Lines(suggestion.out).back();
    EXPECT_EQ(JsonValue(album, "codepage"), JsonValue(summary, "suggested")) << summary;
    EXPECT_EQ(JsonValue(album, "decision") == "\"unsure\"",
              JsonValue(summary, "summary").compare(0, 10, "\"Not sure:") == 0)
        << summary;
    if (name == "\"Kino\"") {
      EXPECT_EQ("1251", JsonValue(summary, "suggested"));
    }
    if (name == "\"Motorhead\"") {
      EXPECT_EQ(0u, suggestion.out.find("{\"type\":\"codepage\",\"codepage\":1252,"));
      EXPECT_NE(std::string::npos, summary.find("reads as Western text")) << summary;
    }
  }
  EXPECT_EQ(6u, albums) << preview.out;
  const Result text = RunCli({"--suggest", path + "/Kino"});
  ASSERT_GE(Lines(text.out).size(), 2u) << text.out;
  EXPECT_EQ(0u, Lines(text.out)[1].find("  1251  (Cyrillic)")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("\nSuggested: --codepage 1251\n")) << text.out;
}
