// Writes a deterministic music library for the benchmark: Artist/Album
// folders of MP3 files whose tags mix the cases a real library holds.
//
//   generate [--files N] [--profile small|real] [--seed S] OUT
//   generate --empty-tree ENTRIES [--seed S] OUT
//
// Tags are built and rendered by TagLib; the generator only places the
// rendered bytes and chooses the ID3v2 padding, which TagLib does not let a
// caller set. Audio is a stream of valid MPEG-1 Layer III frames written in
// chunks, so memory stays flat whatever N is.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>

namespace {

// --- Deterministic randomness -------------------------------------------------

// splitmix64: the same stream on every platform and standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [low, high].
  std::uint64_t Range(std::uint64_t low, std::uint64_t high) {
    return low + Next() % (high - low + 1);
  }
  bool Chance(unsigned percent) { return Next() % 100 < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Next() % N];
  }

 private:
  std::uint64_t state_;
};

std::uint64_t Mix(std::uint64_t seed, std::uint64_t index) {
  Random random(seed * 0x100000001B3ull ^ (index + 0x51ED27ull));
  return random.Next();
}

// --- Text ----------------------------------------------------------------------

const char16_t* const kRussianWords[] = {
    u"ветер",   u"город",   u"ночь",  u"звезда", u"дорога", u"весна",    u"песня",     u"море",
    u"солнце",  u"небо",    u"река",  u"зима",   u"огонь",  u"время",    u"сердце",    u"тишина",
    u"берег",   u"осень",   u"дождь", u"улица",  u"крыша",  u"поезд",    u"последний", u"белый",
    u"красный", u"старый",  u"новый", u"тёмный", u"лёгкий", u"северный", u"южный",     u"синий",
    u"вечный",  u"далёкий", u"мой",   u"твой",   u"над",    u"под",      u"без",       u"для",
    u"любовь",  u"память",  u"свет",  u"голос",  u"окно",   u"сон",      u"танец",     u"жёлтый",
    u"щит",     u"вьюга",   u"эхо",   u"юность", u"яблоко", u"шёпот",    u"хор",       u"цепь",
};
const char16_t* const kEnglishWords[] = {
    u"night", u"city",   u"river",   u"summer", u"dream", u"light",  u"fire",     u"heart",
    u"road",  u"stone",  u"blue",    u"golden", u"last",  u"silent", u"north",    u"wild",
    u"rain",  u"shadow", u"morning", u"song",   u"home",  u"broken", u"electric", u"glass",
};
const char16_t* const kRussianGenres[] = {u"Рок", u"Поп", u"Шансон", u"Бард", u"Эстрада"};
const char* const kAsciiGenres[] = {"Rock", "Pop", "Electronic", "Jazz", "(17)", "Alternative"};

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z')
    return char16_t(c - 0x20);
  if (c >= 0x0430 && c <= 0x044F)
    return char16_t(c - 0x20);
  if (c == 0x0451)
    return 0x0401;
  return c;
}

template <std::size_t N>
std::u16string Phrase(Random& random, const char16_t* const (&words)[N], unsigned minWords,
                      unsigned maxWords) {
  std::u16string text;
  const unsigned count = unsigned(random.Range(minWords, maxWords));
  for (unsigned i = 0; i < count; ++i) {
    if (i)
      text += u' ';
    text += random.Pick(words);
  }
  text[0] = Upper(text[0]);
  return text;
}

// The cp1251 bytes of Cyrillic and ASCII text.
std::string ToCp1251(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    if (c < 0x80) {
      bytes.push_back(char(c));
    } else if (c >= 0x0410 && c <= 0x044F) {
      bytes.push_back(char(0xC0 + (c - 0x0410)));
    } else if (c == 0x0401) {
      bytes.push_back(char(0xA8));
    } else if (c == 0x0451) {
      bytes.push_back(char(0xB8));
    } else {
      bytes.push_back('?');
    }
  }
  return bytes;
}

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// How a piece of text is stored in a tag.
enum class Script { kCp1251, kUtf16, kAscii };

TagLib::String TagText(const std::u16string& text, Script script) {
  if (script == Script::kCp1251)
    return TagLib::String(ToCp1251(text), TagLib::String::Latin1);
  return TagLib::String(ToUtf8(text), TagLib::String::UTF8);
}

TagLib::String::Type FrameEncoding(Script script) {
  return script == Script::kUtf16 ? TagLib::String::UTF16 : TagLib::String::Latin1;
}

// --- File kinds ----------------------------------------------------------------

enum class Kind {
  kLatin1Padded,     // ID3v2.3, cp1251 text as Latin-1, padding that holds the repair
  kLatin1Tight,      // the same with too little padding
  kLatin1Ape,        // the same with an APE tag before the ID3v1 tag
  kId3v1Cp1251,      // ID3v1 only, cp1251 text
  kId3v1Ascii,       // ID3v1 only, ASCII text
  kUtf16,            // ID3v2.3 already in UTF-16
  kAscii,            // ID3v2.3 Latin-1 frames holding only ASCII
  kNoTag,            // audio alone
  kApeOnly,          // APE tag, no ID3
  kBrokenTruncated,  // an ID3v2 header whose tag runs past the end of the file
  kBrokenGarbage,    // bytes that are no MP3 at all
  kBrokenEmpty,      // zero bytes
  kBrokenLink,       // a symbolic link to nothing
  kCount
};

const char* const kKindNames[] = {
    "id3v2.3 cp1251, padding holds repair",
    "id3v2.3 cp1251, padding too small",
    "id3v2.3 cp1251 + APE + ID3v1",
    "ID3v1 only, cp1251",
    "ID3v1 only, ASCII",
    "id3v2.3 UTF-16",
    "id3v2.3 ASCII only",
    "no tag",
    "APE only",
    "broken: truncated tag",
    "broken: not an MP3",
    "broken: empty file",
    "broken: dangling link",
};

// Percent per kind, out of 1000 (so the broken ones can be rare).
constexpr unsigned kKindWeights[] = {200, 200, 30, 80, 40, 150, 190, 50, 20, 10, 10, 10, 10};
static_assert(sizeof(kKindWeights) / sizeof(kKindWeights[0]) == unsigned(Kind::kCount), "");

Kind PickKind(Random& random) {
  unsigned total = 0;
  for (unsigned w : kKindWeights)
    total += w;
  unsigned roll = unsigned(random.Next() % total);
  for (unsigned k = 0; k < unsigned(Kind::kCount); ++k) {
    if (roll < kKindWeights[k])
      return Kind(k);
    roll -= kKindWeights[k];
  }
  return Kind::kAscii;
}

// What one song says about itself.
struct Song {
  std::u16string artist, album, title, genre, comment, lyrics;
  unsigned year = 0, track = 0, trackCount = 0;
  Script script = Script::kCp1251;
};

// --- Output --------------------------------------------------------------------

class Output {
 public:
  explicit Output(const std::string& path) : file_(std::fopen(path.c_str(), "wb")), path_(path) {
    if (!file_)
      Fail("cannot create " + path);
  }
  ~Output() {
    if (file_ && std::fclose(file_) != 0)
      Fail("cannot write " + path_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  void Write(const void* data, std::size_t size) {
    if (size && std::fwrite(data, 1, size, file_) != size)
      Fail("cannot write " + path_);
    written_ += size;
  }
  void Write(const TagLib::ByteVector& bytes) { Write(bytes.data(), bytes.size()); }
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  std::uint64_t written() const { return written_; }

  [[noreturn]] static void Fail(const std::string& message) {
    std::fprintf(stderr, "generate: %s: %s\n", message.c_str(), std::strerror(errno));
    std::exit(1);
  }

 private:
  std::FILE* file_;
  std::string path_;
  std::uint64_t written_ = 0;
};

constexpr std::size_t kFrameSize = 417;  // 128 kbit/s, 44.1 kHz, no padding bit

// `frames` MPEG-1 Layer III frames with payload bytes from `random`, never
// 0xFF, so that no false sync appears inside a frame.
void WriteAudio(Output& out, Random& random, std::uint64_t frames) {
  constexpr std::size_t kFramesPerChunk = 128;
  std::vector<unsigned char> chunk(kFrameSize * kFramesPerChunk);
  while (frames) {
    const std::size_t count = frames < kFramesPerChunk ? std::size_t(frames) : kFramesPerChunk;
    for (std::size_t f = 0; f < count; ++f) {
      unsigned char* frame = chunk.data() + f * kFrameSize;
      frame[0] = 0xFF;
      frame[1] = 0xFB;
      frame[2] = 0x90;
      frame[3] = 0x64;
      for (std::size_t i = 4; i < kFrameSize; i += 8) {
        std::uint64_t bits = random.Next();
        for (std::size_t j = i; j < i + 8 && j < kFrameSize; ++j, bits >>= 8) {
          const unsigned char b = static_cast<unsigned char>(bits);
          frame[j] = b == 0xFF ? 0xFE : b;
        }
      }
    }
    out.Write(chunk.data(), count * kFrameSize);
    frames -= count;
  }
}

std::uint64_t AudioFrames(Random& random, bool realProfile) {
  const std::uint64_t bytes =
      realProfile ? random.Range(3'000'000, 8'000'000) : random.Range(880'000, 1'220'000);
  return bytes / kFrameSize;
}

// --- Tags ----------------------------------------------------------------------

void AddText(TagLib::ID3v2::Tag& tag, const char* id, const TagLib::String& text,
             TagLib::String::Type encoding) {
  auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, encoding);
  frame->setText(text);
  tag.addFrame(frame);
}

// The frames of one song, in the order common taggers write them.
void FillId3v2(TagLib::ID3v2::Tag& tag, const Song& song, Random& random) {
  const TagLib::String::Type encoding = FrameEncoding(song.script);
  AddText(tag, "TIT2", TagText(song.title, song.script), encoding);
  AddText(tag, "TPE1", TagText(song.artist, song.script), encoding);
  AddText(tag, "TALB", TagText(song.album, song.script), encoding);
  AddText(
      tag, "TRCK",
      TagLib::String::number(int(song.track)) + "/" + TagLib::String::number(int(song.trackCount)),
      TagLib::String::Latin1);
  AddText(tag, "TYER", TagLib::String::number(int(song.year)), TagLib::String::Latin1);
  AddText(tag, "TCON", TagText(song.genre, song.script), encoding);
  if (random.Chance(40))
    AddText(tag, "TPE2", TagText(song.artist, song.script), encoding);
  const bool ascii = song.script == Script::kAscii;
  if (random.Chance(25)) {
    const std::u16string composer =
        ascii ? Phrase(random, kEnglishWords, 2, 2) : Phrase(random, kRussianWords, 2, 2);
    AddText(tag, "TCOM", TagText(composer, song.script), encoding);
  }
  AddText(tag, "TSSE", "LAME 3.99.5", TagLib::String::Latin1);
  if (random.Chance(10)) {
    auto* frame = new TagLib::ID3v2::UserTextIdentificationFrame(encoding);
    frame->setDescription(TagText(ascii ? u"Source" : u"Источник", song.script));
    const std::u16string value =
        ascii ? Phrase(random, kEnglishWords, 1, 3) : Phrase(random, kRussianWords, 1, 3);
    frame->setText(TagText(value, song.script));
    tag.addFrame(frame);
  }
  if (!song.comment.empty()) {
    auto* frame = new TagLib::ID3v2::CommentsFrame(encoding);
    frame->setLanguage("rus");
    frame->setText(TagText(song.comment, song.script));
    tag.addFrame(frame);
  }
  if (!song.lyrics.empty()) {
    auto* frame = new TagLib::ID3v2::UnsynchronizedLyricsFrame(encoding);
    frame->setLanguage("rus");
    frame->setText(TagText(song.lyrics, song.script));
    tag.addFrame(frame);
  }
  if (random.Chance(20)) {
    // Cover art: a JPEG start and filler, 20 to 80 KB.
    TagLib::ByteVector picture("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
    const std::size_t size = std::size_t(random.Range(20'000, 80'000));
    while (picture.size() < size) {
      const std::uint64_t bits = random.Next();
      picture.append(TagLib::ByteVector(reinterpret_cast<const char*>(&bits), 8));
    }
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType("image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(picture);
    tag.addFrame(frame);
  }
}

std::uint32_t ReadBigEndian(const char* p) {
  return (std::uint32_t(std::uint8_t(p[0])) << 24) | (std::uint32_t(std::uint8_t(p[1])) << 16) |
         (std::uint32_t(std::uint8_t(p[2])) << 8) | std::uint32_t(std::uint8_t(p[3]));
}

// The frames of a tag TagLib rendered as version 2.3, without its header
// and padding.
std::string RenderedFrames(const TagLib::ID3v2::Tag& tag) {
  const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v3);
  const char* data = rendered.data();
  std::size_t end = 10;
  while (end + 10 <= rendered.size() && data[end] != 0) {
    end += 10 + ReadBigEndian(data + end + 4);
  }
  return std::string(data + 10, data + end);
}

// An ID3v2.3 header for `size` bytes of frames and padding.
std::string Id3v2Header(std::uint32_t size) {
  std::string header = "ID3\x03";
  header.push_back('\0');  // revision
  header.push_back('\0');  // flags
  for (int shift = 21; shift >= 0; shift -= 7)
    header.push_back(char((size >> shift) & 0x7F));
  return header;
}

// TagLib keeps padding up to 1% of the file and at most 1 MB when it saves.
// Padding that holds the repair: every Latin-1 byte of a text frame may
// become two, plus a byte-order mark per field; the slack left over stays
// under 1% of the smallest file.
std::uint32_t PaddingFor(Kind kind, const std::string& frames, Random& random) {
  if (kind == Kind::kLatin1Tight)
    return random.Chance(60) ? 0 : std::uint32_t(random.Range(1, 16));
  std::size_t textSize = 0;
  for (std::size_t at = 0; at + 10 <= frames.size();) {
    const std::size_t size = 10 + ReadBigEndian(frames.data() + at + 4);
    if (frames[at] == 'T')
      textSize += size;
    at += size;
  }
  return std::uint32_t(textSize + 256 + random.Range(0, 4096));
}

std::string Id3v1Bytes(const Song& song, Script script) {
  TagLib::ID3v1::Tag tag;
  tag.setTitle(TagText(song.title, script));
  tag.setArtist(TagText(song.artist, script));
  tag.setAlbum(TagText(song.album, script));
  tag.setYear(song.year);
  tag.setTrack(song.track);
  tag.setGenre(script == Script::kAscii ? "Rock" : "Other");
  const TagLib::ByteVector bytes = tag.render();
  return std::string(bytes.data(), bytes.size());
}

std::string ApeBytes(const Song& song) {
  TagLib::APE::Tag tag;
  tag.setTitle(TagLib::String(ToUtf8(song.title), TagLib::String::UTF8));
  tag.setArtist(TagLib::String(ToUtf8(song.artist), TagLib::String::UTF8));
  tag.setAlbum(TagLib::String(ToUtf8(song.album), TagLib::String::UTF8));
  tag.addValue("REPLAYGAIN_TRACK_GAIN", "-6.20 dB");
  const TagLib::ByteVector bytes = tag.render();
  return std::string(bytes.data(), bytes.size());
}

// --- The library ---------------------------------------------------------------

struct Options {
  std::uint64_t files = 2000;
  bool realProfile = false;
  std::uint64_t seed = 1;
  std::uint64_t emptyTree = 0;  // entries of an empty-file tree, when set
  std::string out;
};

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    Output::Fail("cannot create " + path);
}

std::string TwoDigits(unsigned n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u", n);
  return text;
}

// Writes one song file of `kind` at `path`; returns its size.
std::uint64_t WriteSong(const std::string& path, Kind kind, Song song, Random& random,
                        bool realProfile) {
  if (kind == Kind::kBrokenLink) {
    // A file system without symbolic links (exFAT) gets nothing in the
    // link's place: the song is missing there, as the link's target is.
    if (symlink("../missing.mp3", path.c_str()) != 0 && errno != ENOSYS && errno != EPERM &&
        errno != EOPNOTSUPP)
      Output::Fail("cannot link " + path);
    return 0;
  }
  Output out(path);
  if (kind == Kind::kBrokenEmpty)
    return 0;
  if (kind == Kind::kBrokenGarbage) {
    std::string bytes(std::size_t(random.Range(4'000, 64'000)), '\0');
    for (char& c : bytes)
      c = char(random.Next() % 0xFF);
    out.Write(bytes);
    return out.written();
  }

  const bool ascii = kind == Kind::kAscii || kind == Kind::kId3v1Ascii;
  song.script = kind == Kind::kUtf16 ? Script::kUtf16 : ascii ? Script::kAscii : Script::kCp1251;
  if (ascii) {
    song.artist = Phrase(random, kEnglishWords, 1, 3);
    song.album = Phrase(random, kEnglishWords, 1, 3);
    song.title = Phrase(random, kEnglishWords, 1, 4);
    const char* genre = random.Pick(kAsciiGenres);
    song.genre.assign(genre, genre + std::strlen(genre));
    if (!song.comment.empty())
      song.comment = Phrase(random, kEnglishWords, 3, 8);
    if (!song.lyrics.empty())
      song.lyrics = Phrase(random, kEnglishWords, 60, 200);
  }

  const bool hasId3v2 = kind == Kind::kLatin1Padded || kind == Kind::kLatin1Tight ||
                        kind == Kind::kLatin1Ape || kind == Kind::kUtf16 || kind == Kind::kAscii ||
                        kind == Kind::kBrokenTruncated;
  if (hasId3v2) {
    TagLib::ID3v2::Tag tag;
    FillId3v2(tag, song, random);
    const std::string frames = RenderedFrames(tag);
    if (kind == Kind::kBrokenTruncated) {
      // The header claims the whole tag; only half of its frames follow.
      out.Write(Id3v2Header(std::uint32_t(frames.size() + 1024)));
      out.Write(frames.data(), frames.size() / 2);
      return out.written();
    }
    const std::uint32_t padding = PaddingFor(kind, frames, random);
    out.Write(Id3v2Header(std::uint32_t(frames.size() + padding)));
    out.Write(frames);
    out.Write(std::string(padding, '\0'));
  }
  if (kind != Kind::kBrokenTruncated)
    WriteAudio(out, random, AudioFrames(random, realProfile));
  if (kind == Kind::kLatin1Ape || kind == Kind::kApeOnly)
    out.Write(ApeBytes(song));
  const bool hasId3v1 =
      kind == Kind::kId3v1Cp1251 || kind == Kind::kId3v1Ascii || kind == Kind::kLatin1Ape ||
      ((kind == Kind::kLatin1Padded || kind == Kind::kLatin1Tight || kind == Kind::kAscii) &&
       random.Chance(30));
  if (hasId3v1)
    out.Write(Id3v1Bytes(song, song.script));
  return out.written();
}

int GenerateLibrary(const Options& options) {
  MakeFolder(options.out);
  std::uint64_t counts[unsigned(Kind::kCount)] = {};
  std::uint64_t totalBytes = 0;
  std::set<std::u16string> artistsUsed;
  Random layout(Mix(options.seed, ~0ull));

  std::uint64_t index = 0;
  while (index < options.files) {
    // One artist: a unique name, one to four albums of eight to fourteen songs.
    std::u16string artist;
    for (int tries = 0;; ++tries) {
      artist = Phrase(layout, kRussianWords, 1, 2);
      if (tries == 20) {
        const std::string number = " " + std::to_string(artistsUsed.size());
        artist.append(number.begin(), number.end());
      }
      if (artistsUsed.insert(artist).second)
        break;
    }
    const std::string artistFolder = options.out + "/" + ToUtf8(artist);
    MakeFolder(artistFolder);
    const unsigned albums = unsigned(layout.Range(1, 4));
    std::set<std::u16string> albumsUsed;
    for (unsigned a = 0; a < albums && index < options.files; ++a) {
      std::u16string album;
      do {
        album = Phrase(layout, kRussianWords, 1, 3);
      } while (!albumsUsed.insert(album).second);
      const unsigned year = unsigned(layout.Range(1975, 2015));
      const std::string albumFolder =
          artistFolder + "/" + std::to_string(year) + " - " + ToUtf8(album);
      MakeFolder(albumFolder);
      if (layout.Chance(30)) {
        Output cover(albumFolder + "/folder.jpg");
        cover.Write(std::string(std::size_t(layout.Range(10'000, 60'000)), '\x5A'));
      }
      const unsigned tracks = unsigned(layout.Range(8, 14));
      for (unsigned t = 1; t <= tracks && index < options.files; ++t, ++index) {
        Random random(Mix(options.seed, index));
        Song song;
        song.artist = artist;
        song.album = album;
        song.year = year;
        song.track = t;
        song.trackCount = tracks;
        song.title = Phrase(random, kRussianWords, 1, 4);
        song.genre = random.Pick(kRussianGenres);
        if (random.Chance(40))
          song.comment = Phrase(random, kRussianWords, 3, 8);
        if (random.Chance(15))
          song.lyrics = Phrase(random, kRussianWords, 60, 200);
        const Kind kind = PickKind(random);
        const char* extension = random.Chance(5) ? ".MP3" : ".mp3";
        const std::string path =
            albumFolder + "/" + TwoDigits(t) + " - " + ToUtf8(song.title) + extension;
        totalBytes += WriteSong(path, kind, song, random, options.realProfile);
        ++counts[unsigned(kind)];
      }
    }
  }

  std::printf("%llu files, %.1f MB, in %s\n", static_cast<unsigned long long>(options.files),
              double(totalBytes) / 1e6, options.out.c_str());
  for (unsigned k = 0; k < unsigned(Kind::kCount); ++k) {
    std::printf("  %6llu  %s\n", static_cast<unsigned long long>(counts[k]), kKindNames[k]);
  }
  return 0;
}

// Empty files below folders of 25 entries, about one in ten not an MP3: the
// scan's cost without the tag work.
int GenerateEmptyTree(const Options& options) {
  MakeFolder(options.out);
  Random random(Mix(options.seed, 0));
  std::uint64_t entries = 0, mp3 = 0;
  for (unsigned artist = 0; entries < options.emptyTree; ++artist) {
    const std::string artistFolder = options.out + "/artist " + std::to_string(artist);
    MakeFolder(artistFolder);
    ++entries;
    for (unsigned album = 0; album < 3 && entries < options.emptyTree; ++album) {
      const std::string albumFolder = artistFolder + "/album " + std::to_string(album);
      MakeFolder(albumFolder);
      ++entries;
      for (unsigned t = 1; t <= 25 && entries < options.emptyTree; ++t, ++entries) {
        const unsigned roll = unsigned(random.Next() % 100);
        const char* extension = roll < 5    ? ".jpg"
                                : roll < 10 ? ".txt"
                                : roll < 13 ? ".MP3"
                                            : ".mp3";
        Output(albumFolder + "/" + TwoDigits(t) + " track" + extension);
        if (roll >= 10)
          ++mp3;
      }
    }
  }
  std::printf("%llu entries, %llu of them MP3 names, in %s\n",
              static_cast<unsigned long long>(entries), static_cast<unsigned long long>(mp3),
              options.out.c_str());
  return 0;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: generate [--files N] [--profile small|real] [--seed S] OUT\n"
               "       generate --empty-tree ENTRIES [--seed S] OUT\n");
  std::exit(2);
}

std::uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (!*text || *end)
    Usage();
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--files" && hasValue) {
      options.files = Number(argv[++i]);
    } else if (arg == "--profile" && hasValue) {
      const std::string profile = argv[++i];
      if (profile != "small" && profile != "real")
        Usage();
      options.realProfile = profile == "real";
    } else if (arg == "--seed" && hasValue) {
      options.seed = Number(argv[++i]);
    } else if (arg == "--empty-tree" && hasValue) {
      options.emptyTree = Number(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && options.out.empty()) {
      options.out = arg;
    } else {
      Usage();
    }
  }
  if (options.out.empty())
    Usage();
  struct stat info;
  if (stat(options.out.c_str(), &info) == 0) {
    std::fprintf(stderr, "generate: %s exists; give a new folder\n", options.out.c_str());
    return 2;
  }
  return options.emptyTree ? GenerateEmptyTree(options) : GenerateLibrary(options);
}
