// Measures the automatic mode on real short text: albums of 1, 2, 4 and 10
// songs whose titles, artist and album name are real phrases of one
// language (tests/data/phrases-test.txt), stored as a library stores them,
// read as a run reads them: the album decided from its tracks, each track
// and each text deciding again whether to follow it (engine/id3v2/place-reading.h).
//   real-text [--phrases FILE] [--seed N] [--samples N] [--kinds] [--show-wrong]
//             [--show-left] [--only KIND]
// An album reads right when every text reads as it was written, is left when
// every text stays as stored (right for Western text), and is wrong when any
// text would be written as something else than what was written.
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/album-tracks.h"
#include "engine/text/codepage.h"
#include "engine/id3v2/place-reading.h"
#include "tests/labelled_set.h"

namespace {

struct Text {
  std::wstring stored;  // as a Latin-1 frame holds it
  std::wstring truth;
  bool title = false;
};

struct Track {
  std::vector<Text> texts;
};

enum Outcome { kRight, kLeft, kPartly, kWrong, kOutcomes };
const char* const kOutcomeNames[] = {"right", "left", "partly left", "wrong"};

const std::map<std::string, unsigned> kPages = {
    {"ru", 1251}, {"uk", 1251}, {"bg", 1251}, {"be", 1251}, {"pl", 1250}, {"cs", 1250},
    {"sk", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250}, {"ro", 1250}, {"el", 1253},
    {"tr", 1254}, {"he", 1255}, {"ar", 1256}, {"lt", 1257}, {"lv", 1257}, {"vi", 1258},
    {"th", 874},  {"ko", 949},  {"ja", 932},  {"zh", 936},  {"zh_TW", 950}};

struct Kind {
  std::string name;
  std::string language;  // "" for UTF-8 in a mix of languages
  unsigned codePage = 0;  // 0: Latin-1, right as stored
  bool utf8 = false;
};

std::wstring Latin1(const std::string& bytes) {
  std::wstring text;
  for (char c : bytes)
    text.push_back(wchar_t(static_cast<unsigned char>(c)));
  return text;
}

bool Store(const Kind& kind, const std::wstring& truth, std::wstring* stored) {
  using labelled::Storage;
  const labelled::Kind storage = {
      "", "", kind.codePage,
      kind.utf8 ? Storage::kUtf8InLatin1 : kind.codePage ? Storage::kCodePage : Storage::kLatin1};
  std::string bytes;
  if (!labelled::StoredBytes(storage, truth, &bytes))
    return false;
  *stored = Latin1(bytes);
  return true;
}

const std::wstring& Pick(const std::vector<std::wstring>& phrases, std::mt19937* random) {
  return phrases[(*random)() % phrases.size()];
}

std::vector<Track> MakeAlbum(const labelled::Words& phrases, const Kind& kind,
                             const std::vector<std::string>& mix, int songs, bool titleOnly,
                             std::mt19937* random) {
  const std::string language = kind.language.empty() ? mix[(*random)() % mix.size()]
                                                     : kind.language;
  const std::vector<std::wstring>& from = phrases.at(language);
  std::vector<Track> tracks(static_cast<std::size_t>(songs));
  const std::wstring artist = Pick(from, random), album = Pick(from, random);
  for (Track& track : tracks) {
    std::vector<std::wstring> texts = {Pick(from, random)};
    if (!titleOnly) {
      texts.push_back(artist);
      texts.push_back(album);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
      Text text;
      text.truth = texts[i];
      text.title = i == 0;
      if (Store(kind, text.truth, &text.stored))
        track.texts.push_back(text);
    }
  }
  return tracks;
}

SuggestionPool PoolOf(const Track& track) {
  SuggestionPool pool;
  pool.distinctTexts = true;
  for (const Text& text : track.texts)
    CollectPlaceText(text.stored, text.title, &pool);
  return pool;
}

Outcome ReadAlbum(const std::vector<Track>& tracks, bool showWrong, bool showLeft,
                  const Kind& kind) {
  SuggestionPool album;
  album.distinctTexts = true;
  std::vector<unsigned> pages;
  std::vector<SuggestionPool> pools;
  for (const Track& track : tracks) {
    pools.push_back(PoolOf(track));
    AddTrackText(pools.back(), &album, &pages);
  }
  const AlbumDecision decision = DecideAlbumOfTracks(album, pages, pools);
  std::size_t right = 0, left = 0, wrong = 0;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const FileReading reading =
        DecideFileReading(pools[t], decision.codePage, false, decision.trackCodePages);
    for (const Text& text : tracks[t].texts) {
      const std::wstring read = ReadPlace(text.stored, reading);
      if (read == text.truth) {
        ++right;
      } else if (read == text.stored) {
        ++left;
        if (showLeft && kind.codePage != 0 && tracks.size() > 1)
          std::printf("partly %s cp%u/%u: %s\n", kind.name.c_str(), decision.codePage,
                      reading.codePage, labelled::Utf8(text.truth).c_str());
      } else {
        ++wrong;
        if (showWrong) {
          std::printf("wrong %s cp%u/%u: %s -> %s [tracks", kind.name.c_str(), decision.codePage,
                      reading.codePage, labelled::Utf8(text.truth).c_str(),
                      labelled::Utf8(read).c_str());
          for (unsigned page : decision.trackCodePages)
            std::printf(" %u", page);
          std::printf("; own %u; western %.1f", DecideAlbum(pools[t]).codePage,
                      decision.westernBits);
          for (std::size_t c = 0; c < decision.candidates.size() && c < 3; ++c)
            std::printf(", cp%u %.1f", decision.candidates[c].codePage,
                        decision.candidates[c].bits);
          std::printf("]\n");
        }
      }
    }
  }
  if (wrong)
    return kWrong;
  if (left == 0)
    return kRight;
  if (showLeft && kind.codePage != 0) {
    const auto& c = decision.candidates;
    std::printf("left %s best cp%u margin %.1f runner-up %s %.1f confidence %.2f: %s\n",
                kind.name.c_str(), decision.bestCodePage, decision.marginBits,
                c.size() > 1 ? std::to_string(c[1].codePage).c_str() : "-",
                c.size() > 1 ? c[1].bits - c[0].bits : 0.0, decision.confidence,
                labelled::Utf8(tracks[0].texts.empty() ? L"" : tracks[0].texts[0].truth).c_str());
  }
  return right == 0 ? kLeft : kPartly;
}

std::vector<Kind> KindsOf(const labelled::Words& phrases) {
  std::vector<Kind> kinds;
  for (const auto& [language, list] : phrases) {
    if (list.size() < 20)
      continue;
    const auto page = kPages.find(language);
    Kind kind;
    kind.language = language;
    kind.codePage = page == kPages.end() ? 0 : page->second;
    kind.name = language + (kind.codePage ? "-" + std::to_string(kind.codePage) : "-latin1");
    kinds.push_back(kind);
  }
  kinds.push_back({"utf8-in-latin1", "", 0, true});
  return kinds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = SONGWRIGHT_SOURCE_DIR "/tests/data/phrases-test.txt";
  unsigned seed = 1;
  int samples = 100;
  bool perKind = false, showWrong = false, showLeft = false;
  std::string only;  // measure one kind; the others' albums are still drawn
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--phrases" && i + 1 < argc)
      path = argv[++i];
    else if (arg == "--seed" && i + 1 < argc)
      seed = unsigned(std::stoul(argv[++i]));
    else if (arg == "--samples" && i + 1 < argc)
      samples = std::stoi(argv[++i]);
    else if (arg == "--kinds")
      perKind = true;
    else if (arg == "--show-wrong")
      showWrong = true;
    else if (arg == "--show-left")
      showLeft = true;
    else if (arg == "--only" && i + 1 < argc)
      only = argv[++i];
    else {
      std::fprintf(stderr, "usage: real-text [--phrases FILE] [--seed N] [--samples N] "
                           "[--kinds] [--show-wrong] [--show-left] [--only KIND]\n");
      return 2;
    }
  }
  const labelled::Words phrases = labelled::ReadWords(path);
  if (phrases.empty()) {
    std::fprintf(stderr, "real-text: no phrases in %s\n", path.c_str());
    return 2;
  }
  const std::vector<Kind> kinds = KindsOf(phrases);
  std::vector<std::string> mix;
  for (const Kind& kind : kinds) {
    if (!kind.language.empty())
      mix.push_back(kind.language);
  }
  struct Shape {
    const char* name;
    int songs;
    bool titleOnly;
  };
  const Shape shapes[] = {{"one title", 1, true}, {"2 songs", 2, false}, {"4 songs", 4, false},
                          {"10 songs", 10, false}};
  std::mt19937 random(seed);
  std::map<std::string, std::vector<std::vector<int>>> counts;  // kind, shape, outcome
  std::vector<std::vector<int>> all(std::size(shapes), std::vector<int>(kOutcomes, 0));
  int wrongAlbums = 0;
  for (const Kind& kind : kinds) {
    auto& perShape = counts[kind.name];
    perShape.assign(std::size(shapes), std::vector<int>(kOutcomes, 0));
    for (std::size_t s = 0; s < std::size(shapes); ++s) {
      for (int n = 0; n < samples; ++n) {
        const auto album =
            MakeAlbum(phrases, kind, mix, shapes[s].songs, shapes[s].titleOnly, &random);
        if (!only.empty() && kind.name != only)
          continue;  // drawn all the same, so that the others' albums stay
        Outcome outcome = ReadAlbum(album, showWrong, showLeft, kind);
        if (outcome == kLeft && kind.codePage == 0 && !kind.utf8)
          outcome = kRight;  // Western text is right as stored
        ++perShape[s][outcome];
        ++all[s][outcome];
        wrongAlbums += outcome == kWrong;
      }
    }
  }
  const std::size_t measured = only.empty() ? kinds.size() : 1;
  std::printf("Real short text (%s, seed %u), %d albums of each of %zu kinds per column:\n\n",
              path.c_str(), seed, samples, measured);
  std::printf("| outcome |");
  for (const Shape& shape : shapes)
    std::printf(" %s |", shape.name);
  std::printf("\n| --- |");
  for (std::size_t s = 0; s < std::size(shapes); ++s)
    std::printf(" ---: |");
  std::printf("\n");
  for (int o = 0; o < kOutcomes; ++o) {
    std::printf("| %s |", kOutcomeNames[o]);
    for (std::size_t s = 0; s < std::size(shapes); ++s)
      std::printf(" %.1f%% |", 100.0 * all[s][o] / (samples * double(measured)));
    std::printf("\n");
  }
  if (perKind) {
    std::printf("\nRight / left or partly left / wrong per kind (title, 2, 4, 10 songs):\n");
    for (const auto& [name, perShape] : counts) {
      if (!only.empty() && name != only)
        continue;
      std::printf("  %-16s", name.c_str());
      for (const auto& outcome : perShape)
        std::printf(" %3d/%3d/%d", outcome[kRight], outcome[kLeft] + outcome[kPartly],
                    outcome[kWrong]);
      std::printf("\n");
    }
  }
  std::printf("\nalbums written wrong: %d\n", wrongAlbums);
  return 0;
}
