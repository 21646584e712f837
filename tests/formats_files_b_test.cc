// The MP4, ASF and RIFF modules over other programs' real files
// (../shared/realworld-formats beside the repository) and over broken
// copies of the samples: no crash, no hang, and right text needs nothing.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <random>

#include <gtest/gtest.h>
#include <taglib/fileref.h>
#include <taglib/tbytevectorstream.h>

#include "engine/containers/asf-objects.h"
#include "engine/containers/container-bytes.h"
#include "engine/containers/mp4-tags.h"
#include "engine/containers/riff-chunks.h"

#include "tests/fixtures.h"
#include "tests/formats_fixtures.h"

namespace fs = std::filesystem;

namespace {

const container_fixtures::Module* ModuleOf(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
  if (extension == ".m4a" || extension == ".mp4" || extension == ".m4b")
    return &container_fixtures::kMp4;
  if (extension == ".wma" || extension == ".asf")
    return &container_fixtures::kAsf;
  if (extension == ".wav" || extension == ".aif" || extension == ".aiff" || extension == ".aifc" ||
      extension == ".afc")
    return &container_fixtures::kRiff;
  return nullptr;
}

// Files broken on purpose, by their names.
bool BrokenOnPurpose(const std::string& name) {
  for (const char* mark : {"segfault", "infloop", "longloop", "zerodiv", "excessive_alloc",
                           "invalid", "106-", "64bit", "corrupt_metadata", "zero_value"}) {
    if (name.find(mark) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace

TEST(FormatFiles, RealWorldFilesNeedNothingAndNeverCrash) {
  const fs::path root = fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld-formats";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no realworld-formats beside the repository";
  std::size_t files = 0, notNeeded = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const container_fixtures::Module* module = ModuleOf(entry.path());
    if (!module || !entry.is_regular_file())
      continue;
    ++files;
    const std::string bytes = fixtures::ReadFile(entry.path());
    const std::string name = entry.path().filename().string();
    // As an album of its own, and in albums decided as Western or Cyrillic;
    // only the first must need nothing: a Latin-1 "ë" in an album of
    // Cyrillic text reads as Cyrillic, as in an MP3's tag.
    const Redecoding alone = container_fixtures::DecidedAlone(*module, bytes);
    for (const Redecoding& redecoding : {alone, container_fixtures::Automatic(1252), container_fixtures::Automatic(1251)}) {
      const container_fixtures::Run run = container_fixtures::RunModule(*module, bytes, redecoding);
      if (!BrokenOnPurpose(name) && redecoding.codePage != 1251) {
        EXPECT_EQ(run.result, WM_FIX_NOT_NEEDED)
            << entry.path() << " " << std::string(run.outcome.detail.begin(), run.outcome.detail.end());
      }
      notNeeded += run.result == WM_FIX_NOT_NEEDED;
    }
  }
  std::cout << files << " files, " << notNeeded << " of " << 3 * files << " runs not needed\n";
  EXPECT_GT(files, 40u);
}

// Every sample cut short at many points, and with bytes changed at random
// in its first kilobytes: the modules read what they can and never crash;
// an edit they give still lies inside the file.
TEST(FormatFiles, BrokenSamplesNeverCrash_F3) {
  const char* const samples[] = {"cp1251-faststart.m4a", "cp1251-padded.m4a",
                                 "cp1251-moov-last.m4a", "widened.wma",
                                 "info-cp1251.wav",      "id3-cp1251.wav",
                                 "name-cp1251.aiff",     "id3-cp1251.aiff"};
  std::mt19937 random(7);
  for (const char* sample : samples) {
    const std::string bytes = container_fixtures::Sample(sample);
    const container_fixtures::Module* module = ModuleOf(sample);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 97)
      container_fixtures::RunModule(*module, bytes.substr(0, cut), container_fixtures::Automatic());
    for (int round = 0; round < 150; ++round) {
      std::string broken = bytes;
      const std::size_t span = std::min<std::size_t>(broken.size(), 2048);
      for (int n = 0; n < 4; ++n)
        broken[random() % span] = char(random() % 256);
      // Sizes of all ones are the likeliest to mislead a reader.
      if (round % 3 == 0)
        broken.replace(random() % (span - 8), 4, "\xFF\xFF\xFF\xFF");
      container_fixtures::RunModule(*module, broken, container_fixtures::Automatic());
    }
  }
}

namespace {

// Cyrillic letters of cp1251, `count` bytes.
std::string Cp1251Bytes(std::size_t count) {
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i)
    bytes.push_back(i % 6 == 5 ? ' ' : "\xEF\xF0\xE8\xE2\xE5"[i % 5]);
  return bytes;
}

// The real file with its first text field overwritten, length kept, with
// code-page text: raw bytes in an MP4 atom, widened bytes in an ASF string,
// raw bytes in a WAV/AIFF INFO item or text chunk. Empty when it has none.
std::string WithCodePageText(const container_fixtures::Module* module, const std::string& file) {
  std::string out = file;
  if (module == &container_fixtures::kMp4) {
    TagLib::ByteVectorStream stream(TagLib::ByteVector(file.data(), unsigned(file.size())));
    std::vector<Mp4Atom> top;
    ReadTopAtoms(&stream, &top);
    for (const Mp4Atom& atom : top) {
      Mp4Tags tags;
      if (atom.type != "moov" || !ReadMp4Tags(file.substr(atom.at, atom.size), &tags))
        continue;
      for (const Mp4Text& text : tags.texts) {
        if (!text.utf16 && text.value.size() >= 4) {
          out.replace(atom.at + text.data.body() + 8, text.value.size(),
                      Cp1251Bytes(text.value.size()));
          return out;
        }
      }
    }
  } else if (module == &container_fixtures::kAsf) {
    TagLib::ByteVectorStream stream(TagLib::ByteVector(file.data(), unsigned(file.size())));
    AsfHeader header;
    if (!ReadAsfHeader(&stream, &header))
      return std::string();
    for (const AsfField& field : header.fields) {
      if (field.type == 0 && field.length >= 8) {
        const std::string bytes = Cp1251Bytes(field.length / 2 - 1);
        std::wstring widened;
        for (char c : bytes)
          widened.push_back(wchar_t(static_cast<unsigned char>(c)));
        out.replace(field.at, field.length - 2, EncodeUtf16(widened, false));
        return out;
      }
    }
  } else {
    TagLib::ByteVectorStream stream(TagLib::ByteVector(file.data(), unsigned(file.size())));
    RiffFile riff;
    if (!ReadRiffFile(&stream, &riff) || riff.texts.empty() || !riff.tagChunks.empty())
      return std::string();
    for (const RiffText& text : riff.texts) {
      const std::size_t at = file.find(text.id, 12);
      if (text.bytes.size() >= 4 && at != std::string::npos &&
          file.compare(at + 8, text.bytes.size(), text.bytes) == 0) {
        out.replace(at + 8, text.bytes.size(), Cp1251Bytes(text.bytes.size()));
        return out;
      }
    }
  }
  return std::string();
}

}  // namespace

// Code-page text put into the real files: each is repaired, or refused
// with a reason; a repaired file needs nothing more, TagLib still opens it
// and its audio decodes to the same samples (F1-F3).
TEST(FormatFiles, RealWorldFilesWithCodePageTextAreRepairedWhole) {
  const fs::path root = fs::path(SONGWRIGHT_SOURCE_DIR) / ".." / "shared" / "realworld-formats";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no realworld-formats beside the repository";
  fixtures::TempFolder folder;
  std::size_t repaired = 0, refused = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const container_fixtures::Module* module = ModuleOf(entry.path());
    const std::string name = entry.path().filename().string();
    if (!module || !entry.is_regular_file() || BrokenOnPurpose(name))
      continue;
    const std::string file = WithCodePageText(module, fixtures::ReadFile(entry.path()));
    if (file.empty())
      continue;
    const container_fixtures::Run run = container_fixtures::RunModule(*module, file, container_fixtures::Automatic());
    if (run.result == WM_FIX_FAILED) {
      ++refused;
      std::cout << name << ": " << std::string(run.outcome.detail.begin(), run.outcome.detail.end()) << "\n";
      EXPECT_FALSE(run.outcome.detail.empty());
      continue;
    }
    EXPECT_EQ(run.result, WM_FIX_SUCCEEDED) << name;
    if (run.result != WM_FIX_SUCCEEDED)
      continue;
    ++repaired;
    EXPECT_EQ(container_fixtures::RunModule(*module, run.after, container_fixtures::Automatic()).result,
              WM_FIX_NOT_NEEDED)
        << name;
    const fs::path before = folder.Write("before-" + name, file);
    const fs::path after = folder.Write(name, run.after);
    TagLib::FileRef ref(after.c_str());
    EXPECT_FALSE(ref.isNull()) << name;
    EXPECT_EQ(container_fixtures::AudioMd5(before), container_fixtures::AudioMd5(after)) << name;
  }
  std::cout << repaired << " repaired, " << refused << " refused\n";
  EXPECT_GT(repaired, 20u);
}
