// Builders for test MP3 files with exactly the bytes a test needs: ID3v2
// tags with raw Latin-1 frames, ID3v1 blocks, APE tags and MPEG audio frames.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace fixtures {

// `count` valid MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz), 417 bytes
// each, with a payload pattern that differs per `seed`.
std::string MpegFrames(int count, int seed = 0);

struct Frame {
  std::string id;    // "TIT2", "TXXX", "COMM" ...
  std::string body;  // the frame's content as stored
};

// Text frame bodies: an encoding byte (0 Latin-1, 1 UTF-16 with BOM, 3 UTF-8)
// followed by the values, separated by NUL.
Frame TextFrame(const std::string& id, const std::string& latin1Bytes);
Frame MultiValueTextFrame(const std::string& id, const std::vector<std::string>& values);
Frame UserTextFrame(const std::string& description, const std::string& value);
Frame Utf16TextFrame(const std::string& id, const std::u16string& text);
Frame CommentFrame(const std::string& text);

// An ID3v2 tag of `version` 3 or 4 holding the frames, followed by `padding`
// zero bytes.
std::string Id3v2Tag(const std::vector<Frame>& frames, int padding = 0, int version = 3);

// A 128-byte ID3v1.1 tag.
std::string Id3v1Tag(const std::string& title, const std::string& artist = "",
                     const std::string& album = "", const std::string& year = "", int track = 0);

// An APEv2 tag (items, then footer) with one text item.
std::string ApeTag(const std::string& key, const std::string& value);

// A fresh folder below TMPDIR, removed with everything in it at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to the relative path, creating folders on the way; returns
  // the full path.
  std::filesystem::path Write(const std::filesystem::path& relative,
                              const std::string& bytes) const;
  std::filesystem::path Mkdir(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);

}  // namespace fixtures
