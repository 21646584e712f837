// Writes a small sample library of wrongly stored tag text for a first run:
//   make-sample-library FOLDER
// Four albums of four short songs (silent MPEG audio), one per folder:
//   1: cp1251 Russian stored in Latin-1 frames (ID3v2.3),
//   2: cp1250 Polish widened into UTF-16 through cp1252 (ID3v2.3),
//   3: Czech UTF-8 read as cp1252 and saved as UTF-8, twice (ID3v2.4),
//   4: French correctly in Latin-1 frames, which a repair must leave alone.
// The text is written here in UTF-8 and turned into the wrong bytes by the
// same steps that damaged real libraries.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// --- Characters --------------------------------------------------------------

std::vector<char32_t> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string EncodeUtf8(const std::vector<char32_t>& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// cp1252's characters for 0x80-0x9F; the five bytes it leaves undefined
// read as the C1 control of the same value, as Windows' converter gives them.
const char32_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::vector<char32_t> ReadAsCp1252(const std::string& bytes) {
  std::vector<char32_t> out;
  for (char byte : bytes) {
    const unsigned char b = static_cast<unsigned char>(byte);
    out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t(b));
  }
  return out;
}

// Russian text in cp1251: А-я run from 0xC0, Ё and ё are 0xA8 and 0xB8.
std::string ToCp1251(const std::string& utf8) {
  std::string out;
  for (char32_t c : DecodeUtf8(utf8)) {
    if (c >= 0x0410 && c <= 0x044F) {
      out += char(0xC0 + (c - 0x0410));
    } else if (c == 0x0401 || c == 0x0451) {
      out += char(c == 0x0401 ? 0xA8 : 0xB8);
    } else {
      out += char(c);
    }
  }
  return out;
}

// Polish text in cp1250: the letters Polish adds to ASCII, and ó.
std::string ToCp1250(const std::string& utf8) {
  static const std::pair<char32_t, unsigned char> kLetters[] = {
      {U'ą', 0xB9}, {U'ć', 0xE6}, {U'ę', 0xEA}, {U'ł', 0xB3}, {U'ń', 0xF1}, {U'ó', 0xF3},
      {U'ś', 0x9C}, {U'ź', 0x9F}, {U'ż', 0xBF}, {U'Ą', 0xA5}, {U'Ć', 0xC6}, {U'Ę', 0xCA},
      {U'Ł', 0xA3}, {U'Ń', 0xD1}, {U'Ó', 0xD3}, {U'Ś', 0x8C}, {U'Ź', 0x8F}, {U'Ż', 0xAF}};
  std::string out;
  for (char32_t c : DecodeUtf8(utf8)) {
    char byte = char(c);
    for (const auto& [letter, code] : kLetters) {
      if (letter == c)
        byte = char(code);
    }
    out += byte;
  }
  return out;
}

// Latin-1 text (every character below U+0100) as its bytes.
std::string ToLatin1(const std::string& utf8) {
  std::string out;
  for (char32_t c : DecodeUtf8(utf8))
    out += char(c);
  return out;
}

// --- Tags and files ----------------------------------------------------------

struct Frame {
  std::string id;
  std::string body;  // the encoding byte, then the text
};

Frame Latin1Frame(const std::string& id, const std::string& bytes) {
  return {id, std::string(1, '\0') + bytes};
}

// UTF-16 with a little-endian byte order mark.
Frame Utf16Frame(const std::string& id, const std::vector<char32_t>& text) {
  std::string body = "\x01\xFF\xFE";
  for (char32_t c : text) {
    body += char(c & 0xFF);
    body += char(c >> 8);
  }
  return {id, body};
}

Frame Utf8Frame(const std::string& id, const std::string& utf8) {
  return {id, "\x03" + utf8};
}

std::string SizeBytes(unsigned size, bool syncsafe) {
  const int shift = syncsafe ? 7 : 8;
  const unsigned mask = syncsafe ? 0x7F : 0xFF;
  return {char((size >> (3 * shift)) & mask), char((size >> (2 * shift)) & mask),
          char((size >> shift) & mask), char(size & mask)};
}

// An ID3v2 tag of `version` 3 or 4 holding the frames and 256 bytes of padding.
std::string Id3v2Tag(const std::vector<Frame>& frames, int version) {
  std::string body;
  for (const Frame& frame : frames)
    body += frame.id + SizeBytes(unsigned(frame.body.size()), version == 4) + std::string(2, '\0') +
            frame.body;
  body.append(256, '\0');
  return std::string("ID3") + char(version) + std::string(2, '\0') +
         SizeBytes(unsigned(body.size()), true) + body;
}

// Half a second of silent MPEG-1 Layer III audio (128 kbit/s, 44.1 kHz).
std::string SilentAudio(int seed) {
  std::string frames;
  for (int f = 0; f < 20; ++f) {
    frames += std::string("\xFF\xFB\x90\x64", 4);
    frames += std::string(413, '\0');
    frames[frames.size() - 1] = char(seed);  // files of one album differ
  }
  return frames;
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  FILE* out = std::fopen(path.string().c_str(), "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::perror(path.string().c_str());
    std::exit(1);
  }
}

// --- The albums --------------------------------------------------------------

struct Album {
  std::string folder;
  std::string artist;
  std::string album;
  std::vector<std::string> titles;
  // Turns one text (UTF-8) into the frame it is stored in.
  Frame (*store)(const std::string& id, const std::string& text);
  int version;
};

Frame StoreCp1251(const std::string& id, const std::string& text) {
  return Latin1Frame(id, ToCp1251(text));
}
Frame StoreWidenedCp1250(const std::string& id, const std::string& text) {
  return Utf16Frame(id, ReadAsCp1252(ToCp1250(text)));
}
Frame StoreUtf8TwiceThroughCp1252(const std::string& id, const std::string& text) {
  const std::string once = EncodeUtf8(ReadAsCp1252(text));
  return Utf8Frame(id, EncodeUtf8(ReadAsCp1252(once)));
}
Frame StoreLatin1(const std::string& id, const std::string& text) {
  return Latin1Frame(id, ToLatin1(text));
}

const std::vector<Album>& Albums() {
  static const std::vector<Album> albums = {
      {"1 cp1251 in Latin-1 frames",
       "Белые ночи",
       "Песни о городе",
       {"Утро над рекой", "Дорога домой", "Последний трамвай", "Зимний вечер"},
       StoreCp1251,
       3},
      {"2 cp1250 widened into UTF-16",
       "Złote Liście",
       "Jesienne piosenki",
       {"Między nami", "Gwiazdy nad miastem", "Pożegnanie lata", "Żółta łódź"},
       StoreWidenedCp1250,
       3},
      {"3 UTF-8 read as cp1252 twice",
       "Modrá řeka",
       "Písně z údolí",
       {"Příliš daleko", "Večerní světla", "Růže a trny", "Ticho před bouří"},
       StoreUtf8TwiceThroughCp1252,
       4},
      {"4 right Western text",
       "Les Fenêtres",
       "Été à Paris",
       {"Café de la gare", "Où est la mer", "Chanson d'hiver", "Déjà demain"},
       StoreLatin1,
       3},
  };
  return albums;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample-library FOLDER\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  for (const Album& album : Albums()) {
    for (std::size_t i = 0; i < album.titles.size(); ++i) {
      const std::vector<Frame> frames = {
          album.store("TIT2", album.titles[i]), album.store("TPE1", album.artist),
          album.store("TALB", album.album), Latin1Frame("TRCK", std::to_string(i + 1))};
      const std::string name = "0" + std::to_string(i + 1) + ".mp3";
      WriteFile(root / album.folder / name,
                Id3v2Tag(frames, album.version) + SilentAudio(int(i + 1)));
    }
  }
  return 0;
}
