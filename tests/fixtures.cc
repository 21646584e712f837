#include "tests/fixtures.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fixtures {

namespace {

std::string BigEndian32(unsigned value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string SyncSafe32(unsigned value) {
  return {char((value >> 21) & 0x7F), char((value >> 14) & 0x7F), char((value >> 7) & 0x7F),
          char(value & 0x7F)};
}

std::string LittleEndian32(unsigned value) {
  return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

std::string Field(const std::string& text, size_t size) {
  std::string field = text.substr(0, size);
  field.resize(size, '\0');
  return field;
}

}  // namespace

std::string MpegFrames(int count, int seed) {
  std::string frames;
  for (int f = 0; f < count; ++f) {
    frames += std::string("\xFF\xFB\x90\x64", 4);
    for (int i = 0; i < 413; ++i)
      frames.push_back(char((i * 7 + f * 13 + seed * 31) & 0x7F));
  }
  return frames;
}

Frame TextFrame(const std::string& id, const std::string& latin1Bytes) {
  return {id, std::string(1, '\0') + latin1Bytes};
}

Frame MultiValueTextFrame(const std::string& id, const std::vector<std::string>& values) {
  std::string body(1, '\0');
  for (size_t i = 0; i < values.size(); ++i) {
    if (i)
      body.push_back('\0');
    body += values[i];
  }
  return {id, body};
}

Frame UserTextFrame(const std::string& description, const std::string& value) {
  return {"TXXX", std::string(1, '\0') + description + std::string(1, '\0') + value};
}

Frame Utf16TextFrame(const std::string& id, const std::u16string& text) {
  std::string body = "\x01\xFF\xFE";
  for (char16_t c : text) {
    body.push_back(char(c & 0xFF));
    body.push_back(char(c >> 8));
  }
  return {id, body};
}

Frame CommentFrame(const std::string& text) {
  return {"COMM", std::string("\0eng", 4) + std::string(1, '\0') + text};
}

std::string Id3v2Tag(const std::vector<Frame>& frames, int padding, int version) {
  std::string body;
  for (const Frame& frame : frames) {
    const unsigned size = unsigned(frame.body.size());
    body += frame.id + (version == 4 ? SyncSafe32(size) : BigEndian32(size)) +
            std::string(2, '\0') + frame.body;
  }
  body.append(size_t(padding), '\0');
  return std::string("ID3") + char(version) + '\0' + '\0' + SyncSafe32(unsigned(body.size())) +
         body;
}

std::string Id3v1Tag(const std::string& title, const std::string& artist, const std::string& album,
                     const std::string& year, int track) {
  std::string tag = "TAG" + Field(title, 30) + Field(artist, 30) + Field(album, 30) +
                    Field(year, 4) + Field("", 28) + '\0' + char(track) + char(255);
  return tag;
}

std::string ApeTag(const std::string& key, const std::string& value) {
  const std::string item =
      LittleEndian32(unsigned(value.size())) + LittleEndian32(0) + key + '\0' + value;
  const unsigned size = unsigned(item.size()) + 32;  // items and footer
  return item + "APETAGEX" + LittleEndian32(2000) + LittleEndian32(size) + LittleEndian32(1) +
         LittleEndian32(0) + std::string(8, '\0');
}

TempFolder::TempFolder() {
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("songwright-test-" + std::to_string(random()) + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  namespace fs = std::filesystem;
  std::error_code error;
  // Give back permissions a test took away, so that everything can go.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
      error.clear();
    }
  }
  fs::remove_all(path_, error);
}

std::filesystem::path TempFolder::Write(const std::filesystem::path& relative,
                                        const std::string& bytes) const {
  const std::filesystem::path full = path_ / relative;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary);
  out << bytes;
  if (!out)
    throw std::runtime_error("cannot write " + full.string());
  return full;
}

std::filesystem::path TempFolder::Mkdir(const std::filesystem::path& relative) const {
  const std::filesystem::path full = path_ / relative;
  std::filesystem::create_directories(full);
  return full;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace fixtures

#ifndef _WIN32
namespace {

// Every test runs with a HOME and a state folder of its own, made before it
// starts and removed after it ends: no test sees the user's runs or another
// test's, and the programs a test starts inherit them.
class OwnHomePerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override {
    home_ = std::make_unique<fixtures::TempFolder>();
    for (const char* name : kVariables) {
      const char* value = getenv(name);
      saved_.emplace_back(value != nullptr, value ? value : "");
    }
    setenv("HOME", home_->path().c_str(), 1);
    setenv("XDG_STATE_HOME", (home_->path() / ".local/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_->path() / ".config").c_str(), 1);
  }
  void OnTestEnd(const testing::TestInfo&) override {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i].first) {
        setenv(kVariables[i], saved_[i].second.c_str(), 1);
      } else {
        unsetenv(kVariables[i]);
      }
    }
    saved_.clear();
    home_.reset();
  }

  static constexpr const char* kVariables[] = {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"};
  std::unique_ptr<fixtures::TempFolder> home_;
  std::vector<std::pair<bool, std::string>> saved_;
};

const bool ownHomeRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new OwnHomePerTest);
  return true;
}();

}  // namespace
#endif
