// Measures how well the album decision of `--codepage auto`, uchardet and
// ICU's charset detector read labelled text right: one title, albums of 2, 4
// and 10 songs (titles, artist and album names), every kind of a mixed library but UTF-16 (which
// holds no Latin-1 text to detect).
//   compare-detectors [--words FILE] [--seed N] [--samples N] [--kinds]
//                     [--double-byte]
// A detector reads a sample right when every text, decoded as it says (or
// left as it is), equals the text that was written.
#include <iconv.h>
#include <uchardet.h>
#include <unicode/ucsdet.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/text/text-pool.h"
#include "tests/labelled_set.h"

namespace {

struct Sample {
  std::vector<std::string> stored;  // the bytes of every text as stored
  std::vector<std::wstring> truth;  // every text as it was written
};

// Decodes with iconv into UTF-32; false when the charset is unknown or the
// bytes do not decode.
bool IconvDecode(const std::string& charset, const std::string& bytes, std::wstring* text) {
  iconv_t cd = iconv_open("UTF-32LE", charset.c_str());
  if (cd == iconv_t(-1))
    return false;
  std::string in = bytes;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* inPointer = &in[0];
  char* outPointer = &out[0];
  size_t inLeft = in.size(), outLeft = out.size();
  const bool ok = iconv(cd, &inPointer, &inLeft, &outPointer, &outLeft) != size_t(-1);
  iconv_close(cd);
  if (!ok)
    return false;
  text->clear();
  for (const char* p = out.data(); p < outPointer; p += 4) {
    char32_t c;
    std::memcpy(&c, p, 4);
    text->push_back(wchar_t(c));
  }
  return true;
}

std::wstring Latin1(const std::string& bytes) {
  std::wstring text;
  for (char c : bytes)
    text.push_back(wchar_t(static_cast<unsigned char>(c)));
  return text;
}

// A charset named by a detector, applied to every text of the sample.
bool ReadsRightAs(const std::string& charset, const Sample& sample) {
  for (std::size_t i = 0; i < sample.stored.size(); ++i) {
    std::wstring text;
    if (charset.empty() || charset == "ASCII") {
      text = Latin1(sample.stored[i]);
    } else if (!IconvDecode(charset, sample.stored[i], &text)) {
      return false;
    }
    if (text != sample.truth[i])
      return false;
  }
  return true;
}

std::string Joined(const Sample& sample) {
  std::string all;
  for (const std::string& text : sample.stored)
    all += text + "\n";
  return all;
}

bool Songwright(const Sample& sample) {
  SuggestionPool pool;
  for (const std::string& text : sample.stored)
    AddSampleText(&pool, text, false);
  const AlbumDecision decision = DecideAlbum(pool);
  for (std::size_t i = 0; i < sample.stored.size(); ++i) {
    const std::string& bytes = sample.stored[i];
    std::wstring text;
    if (IsMultiByteUtf8(bytes))
      text = DecodeUtf8(bytes);
    else if (decision.codePage == kLeaveText)
      text = Latin1(bytes);
    else
      text = DecodeCodePage(decision.codePage, bytes);
    if (text != sample.truth[i])
      return false;
  }
  return true;
}

bool Uchardet(const Sample& sample) {
  uchardet_t detector = uchardet_new();
  const std::string all = Joined(sample);
  uchardet_handle_data(detector, all.data(), all.size());
  uchardet_data_end(detector);
  const std::string charset = uchardet_get_charset(detector);
  uchardet_delete(detector);
  return ReadsRightAs(charset, sample);
}

bool Icu(const Sample& sample) {
  UErrorCode status = U_ZERO_ERROR;
  UCharsetDetector* detector = ucsdet_open(&status);
  const std::string all = Joined(sample);
  ucsdet_setText(detector, all.data(), int32_t(all.size()), &status);
  const UCharsetMatch* match = ucsdet_detect(detector, &status);
  std::string charset;
  if (U_SUCCESS(status) && match)
    charset = ucsdet_getName(match, &status);
  ucsdet_close(detector);
  return U_SUCCESS(status) && ReadsRightAs(charset, sample);
}

Sample MakeSample(const labelled::Words& words, const labelled::Kind& kind, int songs,
                  bool titleOnly, std::mt19937* random) {
  Sample sample;
  for (const labelled::Song& song : labelled::MakeAlbum(words, kind, songs, random)) {
    std::vector<std::wstring> texts = {song.title};
    if (!titleOnly) {
      texts.push_back(song.artist);
      texts.push_back(song.album);
    }
    for (const std::wstring& text : texts) {
      std::string bytes;
      if (!labelled::StoredBytes(kind, text, &bytes))
        continue;
      sample.stored.push_back(bytes);
      sample.truth.push_back(text);
    }
  }
  return sample;
}

}  // namespace

int main(int argc, char** argv) {
  std::string wordsPath = SONGWRIGHT_SOURCE_DIR "/tests/data/heldout-dev.txt";
  unsigned seed = 1;
  int samples = 200;
  bool perKind = false;
  bool withDoubleByte = false;  // Japanese, Chinese and Korean kinds as well
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--words" && i + 1 < argc)
      wordsPath = argv[++i];
    else if (arg == "--seed" && i + 1 < argc)
      seed = unsigned(std::stoul(argv[++i]));
    else if (arg == "--samples" && i + 1 < argc)
      samples = std::stoi(argv[++i]);
    else if (arg == "--kinds")
      perKind = true;
    else if (arg == "--double-byte")
      withDoubleByte = true;
    else {
      std::fprintf(stderr,
                   "usage: compare-detectors [--words FILE] [--seed N] [--samples N] "
                   "[--kinds] [--double-byte]\n");
      return 2;
    }
  }
  const labelled::Words words = labelled::ReadWords(wordsPath);
  struct Detector {
    const char* name;
    bool (*reads)(const Sample&);
  };
  const Detector detectors[] = {
      {"songwright auto", Songwright}, {"uchardet", Uchardet}, {"ICU", Icu}};
  struct Shape {
    const char* name;
    int songs;
    bool titleOnly;
  };
  const Shape shapes[] = {{"one title", 1, true},
                          {"album of 2", 2, false},
                          {"album of 4", 4, false},
                          {"album of 10", 10, false}};
  constexpr int kShapes = int(std::size(shapes));
  std::mt19937 random(seed);
  // right[detector][shape], and per kind
  int right[3][kShapes] = {};
  std::map<std::string, std::vector<int>> rightPerKind;
  int total[kShapes] = {};
  std::vector<labelled::Kind> kinds = labelled::MixedKinds();
  if (withDoubleByte) {
    for (const labelled::Kind& kind : labelled::DoubleByteKinds())
      kinds.push_back(kind);
  }
  for (const labelled::Kind& kind : kinds) {
    if (kind.storage == labelled::Storage::kUtf16)
      continue;
    std::vector<int>& kindRight = rightPerKind[kind.name];
    kindRight.assign(3 * kShapes, 0);
    for (int s = 0; s < kShapes; ++s) {
      for (int n = 0; n < samples; ++n) {
        const Sample sample =
            MakeSample(words, kind, shapes[s].songs, shapes[s].titleOnly, &random);
        ++total[s];
        for (int d = 0; d < 3; ++d) {
          if (detectors[d].reads(sample)) {
            ++right[d][s];
            ++kindRight[d * kShapes + s];
          }
        }
      }
    }
  }
  std::printf("Read right, %d samples of each of %zu kinds per column (%s, seed %u):\n\n", samples,
              rightPerKind.size(), wordsPath.c_str(), seed);
  std::printf("| detector |");
  for (const Shape& shape : shapes)
    std::printf(" %s |", shape.name);
  std::printf("\n| --- |");
  for (int s = 0; s < kShapes; ++s)
    std::printf(" ---: |");
  std::printf("\n");
  for (int d = 0; d < 3; ++d) {
    std::printf("| %s |", detectors[d].name);
    for (int s = 0; s < kShapes; ++s)
      std::printf(" %.1f%% |", 100.0 * right[d][s] / total[s]);
    std::printf("\n");
  }
  if (perKind) {
    std::printf("\nRead right per kind (title, 2, 4, 10 songs), songwright | uchardet | ICU:\n");
    for (const auto& entry : rightPerKind) {
      std::printf("  %-16s", entry.first.c_str());
      for (int d = 0; d < 3; ++d) {
        for (int s = 0; s < kShapes; ++s)
          std::printf(" %3d", entry.second[d * kShapes + s]);
        std::printf(" |");
      }
      std::printf("\n");
    }
  }
  return 0;
}
