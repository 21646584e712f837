// Writes a small music folder that holds one file of every kind the repair
// meets, for comparing runs: make_library FOLDER
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fixtures.h"

using namespace fixtures;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_library FOLDER\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  auto write = [&root](const std::string& relative, const std::string& bytes) {
    const std::filesystem::path full = root / relative;
    std::filesystem::create_directories(full.parent_path());
    FILE* out = std::fopen(full.string().c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
      std::perror(full.string().c_str());
      std::exit(1);
    }
    std::fclose(out);
  };
  const std::string audio = MpegFrames(40);
  const std::string title = "\xC3\xF0\xF3\xEF\xEF\xE0 \xEA\xF0\xEE\xE2\xE8";  // 1251
  const std::string greek = "\xC1\xE8\xDE\xED\xE1";                           // 1253
  write("Kino/01 no padding.mp3",
        Id3v2Tag({TextFrame("TIT2", title), TextFrame("TPE1", "\xCA\xE8\xED\xEE")}) + audio);
  write("Kino/02 padding.MP3",
        Id3v2Tag({TextFrame("TALB", title), TextFrame("TRCK", "2")}, 4096) + audio);
  write("Kino/03 v24.Mp3", Id3v2Tag({TextFrame("TIT2", greek)}, 100, 4) + audio);
  write("Mixed/utf16.mp3", Id3v2Tag({Utf16TextFrame("TIT2", u"\u0413\u0440")}) + audio);
  write("Mixed/ascii.mp3", Id3v2Tag({TextFrame("TIT2", "Plain")}) + audio);
  write("Mixed/no tag.mp3", audio);
  write("Mixed/txxx.mp3", Id3v2Tag({UserTextFrame("\xCE\xEF", "\xC7\xED")}) + audio);
  write("Mixed/multi.mp3",
        Id3v2Tag({MultiValueTextFrame("TPE1", {"\xC0\xE1", "\xC2"})}, 0, 4) + audio);
  write("Mixed/comment only.mp3", Id3v2Tag({CommentFrame(title)}) + audio);
  write("Mixed/ape.mp3",
        Id3v2Tag({TextFrame("TIT2", title)}) + audio + ApeTag("Title", title) + Id3v1Tag("x"));
  write("Mixed/v1 only.mp3", audio + Id3v1Tag(title, "\xC0", "", "1987", 5));
  write("Mixed/v1 ascii.mp3", audio + Id3v1Tag("Title", "Artist"));
  write("Broken/truncated tag.mp3", Id3v2Tag({TextFrame("TIT2", title)}).substr(0, 25));
  write("Broken/garbage.mp3", std::string(5000, '\x5A'));
  write("Broken/empty.mp3", "");
  write("Album.mp3/inside.mp3", Id3v2Tag({TextFrame("TIT2", title)}) + audio);
  write("\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE.mp3", Id3v2Tag({TextFrame("TIT2", title)}) + audio);
  write("notes.txt", title);
  return 0;
}
