// Reading each place of a file's tag in automatic mode.
#include "engine/text/album-utf8.h"
#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/place-reading.h"

#include <algorithm>
#include <map>
#include <optional>

#include "engine/text/album.h"
#include "engine/id3v2/frame-places.h"
#include "engine/text/language-costs.h"
#include "engine/id3v2/redecode.h"
#include "engine/text/suggest-letters.h"
#include "engine/text/text-shape.h"

// A file takes a page of its own, or is left as stored, only when that
// reads its text this many bits better than the album's page does.
constexpr double kFileMarginBits = 16;
// ... and its title, when it has one of code-page bytes, this many better
// than the album's page on its own.
constexpr double kTitleMarginBits = 8;
// A place is left as stored when that reads it this many bits better than
// the file's page does. The double-byte pages' models know their common
// characters only and cost a rare one about 32 bits: a short text of rare
// characters needs more room.
constexpr double kPlaceMarginBits = 10, kDoubleBytePlaceMarginBits = 32;

namespace {

double PlaceMargin(unsigned codePage) {
  return IsDoubleByte(codePage) ? kDoubleBytePlaceMarginBits : kPlaceMarginBits;
}

// True when every text of the file reads through `codePage` without a byte
// it leaves undefined.
bool ReadsAllCleanly(const SuggestionPool& file, unsigned codePage) {
  for (const std::string& text : file.texts) {
    if (!ReadsCleanly(text, DecodeCodePage(codePage, text)))
      return false;
  }
  return true;
}

// What a file's text costs through each page, in bits, where each of its
// texts may be left as stored at the place margin (as ReadPlace leaves it);
// kLeaveText holds the cost of all of it as stored.
std::map<unsigned, double> FileCosts(const SuggestionPool& file) {
  std::map<unsigned, double> costs;
  for (const std::string& text : file.texts) {
    std::map<unsigned, double> pages;
    for (std::size_t m = 0; m < LanguageModelCount(); ++m) {
      const unsigned page = LanguageModel(m).codePage;
      const double bits = LanguageCost(m, text) / 8.0;
      auto it = pages.find(page);
      if (it == pages.end() || bits < it->second)
        pages[page] = bits;
    }
    const double western = pages[kLeaveText];
    for (const auto& [page, bits] : pages) {
      if (page == kLeaveText || IsCodePageSupported(page))
        costs[page] += page == kLeaveText ? bits : std::min(bits, western + PlaceMargin(page));
    }
  }
  return costs;
}

// The page of `candidates`, other than the album's, that reads the file
// best; kLeaveText when there is none.
unsigned BestOtherPage(const std::map<unsigned, double>& costs, unsigned albumPage,
                       const std::vector<unsigned>& candidates) {
  unsigned best = kLeaveText;
  double bestBits = 0;
  for (const auto& [page, bits] : costs) {
    const bool candidate =
        std::find(candidates.begin(), candidates.end(), page) != candidates.end();
    if (page == kLeaveText || page == albumPage || !candidate)
      continue;
    if (best == kLeaveText || bits < bestBits) {
      best = page;
      bestBits = bits;
    }
  }
  return best;
}

// True when no byte at or above 0x80 of `bytes` is a letter, as stored or
// as `text` reads it through the file's page: such a text ("¹9", "№9" in
// cp1251) holds no letters to judge by, and goes with its album's page.
bool SymbolsOnly(const std::string& bytes, const std::wstring& text) {
  if (text.size() != bytes.size())
    return false;
  const std::wstring western = DecodeWestern(bytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80)
      continue;
    if (Classify(western[i]).kind == Kind::kLetter || Classify(text[i]).kind == Kind::kLetter)
      return false;
  }
  return true;
}

// True when none of the letters Windows-1252 puts at 0x80-0x9F (Š Œ Ž š œ
// ž Ÿ ƒ) reads as something else than a letter through the page: they
// stand in right UTF-16 text as well ("žalias", ž being 0x9E), which
// through cp1257 would read "˛alias".
bool KeepsLetters(const std::string& bytes, const std::wstring& text) {
  if (text.size() != bytes.size())
    return true;  // a double-byte page: its characters are no byte's own
  const std::wstring western = DecodeWestern(bytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0x80 && b < 0xA0 &&
        Classify(western[i]).kind == Kind::kLetter && Classify(text[i]).kind != Kind::kLetter &&
        Classify(text[i]).kind != Kind::kMark)
      return false;
  }
  return true;
}

}  // namespace

void CollectPlaceText(const std::wstring& stored, bool isTitle, SuggestionPool* pool) {
  const TextShape shape = ShapeOf(stored);
  if (shape.kind == ShapeKind::kBytes)
    AddSampleText(pool, shape.bytes, isTitle);
  else if (shape.kind == ShapeKind::kUnicode) {
    AddEvidenceText(pool, stored);
    pool->replacementTexts += stored.find(wchar_t(0xFFFD)) != std::wstring::npos;
  }
  else if (shape.kind == ShapeKind::kUtf8) {
    AddEvidenceText(pool, DecodeUtf8(shape.bytes));
    ++pool->utf8Texts;
  }
}

namespace {

void CollectFrame(const std::string& data, const std::string& id, SuggestionPool* pool) {
  FramePlaces frame;
  if (!FindTextPlaces(data, id, &frame) || frame.machineWritten)
    return;
  for (const TextPlace& place : frame.places)
    CollectPlaceText(PlaceText(data, frame, place), id == "TIT2" && !place.description, pool);
}

void AppendSize(std::string* out, std::uint32_t size, int version) {
  if (version == 4) {
    AppendSyncsafe(out, size);
    return;
  }
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(char((size >> shift) & 0xFF));
}

// The frames a chapter embeds, each repaired as a frame of its own; frames
// with flags of their own stay as stored.
PlaceRepair RepairChapter(const Id3v2Frame& chapter, int version, const FileReading& reading,
                          std::vector<FrameChange>* changes, Id3v2Frame* out) {
  std::vector<EmbeddedFrame> inner;
  if (!ReadEmbeddedFrames(chapter, version, &inner) || inner.empty())
    return PlaceRepair::kUnchanged;
  std::string data = chapter.data.substr(0, inner.front().at);
  bool changed = false;
  std::vector<FrameChange> innerChanges;
  for (const EmbeddedFrame& embedded : inner) {
    Id3v2Frame frame, repaired;
    frame.id = embedded.id;
    frame.data = embedded.data;
    const PlaceRepair result =
        embedded.flags == 0
            ? RepairFramePlaces(frame, embedded.id, version, reading, &innerChanges, &repaired)
            : PlaceRepair::kUnchanged;
    if (result == PlaceRepair::kFailed)
      return result;
    if (result == PlaceRepair::kUnchanged) {
      data.append(chapter.data, embedded.at, embedded.length);
      continue;
    }
    changed = true;
    data += embedded.id;
    AppendSize(&data, std::uint32_t(repaired.data.size()), version);
    data += std::string(2, '\0') + repaired.data;
  }
  if (!changed)
    return PlaceRepair::kUnchanged;
  out->data = std::move(data);
  if (out->hasDataLength)
    out->dataLength = std::uint32_t(out->data.size());
  if (changes) {
    for (FrameChange& change : innerChanges) {
      change.frameId = chapter.id + " " + change.frameId;
      changes->push_back(std::move(change));
    }
  }
  return PlaceRepair::kChanged;
}

}  // namespace

void CollectFromLayout(const Id3v2Layout& layout, SuggestionPool* pool) {
  for (const Id3v2Frame& frame : layout.frames) {
    if (frame.compressed || frame.encrypted || frame.malformed)
      continue;
    const std::string id =
        layout.version == 2 && frame.id == "PIC" ? "PIC" : FrameIdV24(layout.version, frame.id);
    std::vector<EmbeddedFrame> inner;
    if ((id == "CHAP" || id == "CTOC") && ReadEmbeddedFrames(frame, 4, &inner)) {
      for (const EmbeddedFrame& embedded : inner)
        CollectFrame(embedded.data, embedded.id, pool);
      continue;
    }
    CollectFrame(frame.data, id, pool);
  }
}

void CollectLatin1Text(const std::string& bytes, bool isTitle, SuggestionPool* pool) {
  std::wstring stored;
  for (char c : bytes)
    stored.push_back(wchar_t(static_cast<unsigned char>(c)));
  CollectPlaceText(stored, isTitle, pool);
}

FileReading DecideFileReading(const SuggestionPool& file, unsigned albumPage, bool named,
                              const std::vector<unsigned>& trackPages) {
  FileReading reading;
  reading.codePage = albumPage;
  reading.albumCodePage = albumPage;
  reading.named = named;
  reading.lostBytes = file.replacementTexts != 0;
  if (named || file.texts.empty())
    return reading;
  // Text that a double-byte page reads whole, pair by pair, is that page's:
  // the models of other pages are no match for a short text of rare
  // characters. Its places may still be left as stored (ReadPlace).
  if (IsDoubleByte(albumPage) && ReadsAllCleanly(file, albumPage))
    return reading;
  std::map<unsigned, double> costs = FileCosts(file);
  const double album = costs[albumPage], western = costs[kLeaveText];
  // Its title is the file's own: a page that does not read it clearly
  // better than the album's page is no page of the file's own, whatever the
  // artist and album names it shares with its album say.
  const auto titleFits = [&](unsigned page) {
    double through = 0, album = 0;
    bool any = false;
    for (const std::string& title : file.titles) {
      if (IsMultiByteUtf8(title))
        continue;
      any = true;
      through += TextCostBits(page, title);
      album += TextCostBits(albumPage, title);
    }
    return !any || through + kTitleMarginBits <= album;
  };
  // A page of its own, which the file's text alone decides as an album's
  // would be decided, and which reads it clearly better than the album's
  // page; or, with less text, one the album's other tracks clearly need.
  const unsigned own = OwnTrackPage(file);
  const unsigned track = BestOtherPage(costs, albumPage, trackPages);
  // A page of the file's own needs the evidence an album's page needs, and
  // never reads the file less plausibly than it reads as stored.
  const double ownMargin = own != kLeaveText && SwapsLettersOnly(file, own)
                               ? kTrackLetterSwapMarginBits
                               : kDecisionMarginBits;
  if (own != kLeaveText && own != albumPage && costs[own] + ownMargin <= album &&
      costs[own] + ownMargin <= western && titleFits(own)) {
    reading.codePage = own;
  } else if (track != kLeaveText && costs[track] + kFileMarginBits <= album &&
             costs[track] + kFileMarginBits <= western && titleFits(track)) {
    reading.codePage = track;
  } else if (albumPage != kLeaveText && western + kFileMarginBits <= album) {
    reading.codePage = kLeaveText;
  }
  return reading;
}

std::wstring ReadPlace(const std::wstring& stored, const FileReading& reading) {
  const TextShape shape = ShapeOf(stored);
  if (reading.named && reading.codePage == kLeaveText)
    return stored;
  if (shape.kind == ShapeKind::kUtf8)
    return DecodeUtf8(shape.bytes);
  if (shape.kind != ShapeKind::kBytes)
    return stored;
  if (reading.codePage != kLeaveText) {
    const std::wstring text = DecodeCodePage(reading.codePage, shape.bytes);
    const bool clean =
        ReadsCleanly(shape.bytes, text) && (reading.named || KeepsLetters(shape.bytes, text));
    // Bytes beneath a layer of UTF-8 read as Western text as they are; a
    // reading that only swaps their Latin letters must read clearly better.
    const double stored = TextCostBits(kLeaveText, shape.bytes);
    const double read = TextCostBits(reading.codePage, shape.bytes);
    const bool swapped = shape.utf8Layers > 0 && SwapsLatinLetters(shape.bytes, text);
    const bool better = reading.named || SymbolsOnly(shape.bytes, text) ||
                        (swapped ? read + PlaceMargin(reading.codePage) <= stored
                                 : stored + PlaceMargin(reading.codePage) > read);
    if (clean && better)
      return text;
    if (clean && reading.placesLeft)
      ++*reading.placesLeft;
  }
  if (reading.named || shape.utf8Layers == 0)
    return stored;
  return DecodeWestern(shape.bytes);
}

PlaceRepair RepairFramePlaces(const Id3v2Frame& frame, const std::string& id, int version,
                              const FileReading& reading, std::vector<FrameChange>* changes,
                              Id3v2Frame* out) {
  *out = frame;
  if (frame.compressed || frame.encrypted || frame.malformed)
    return PlaceRepair::kUnchanged;
  if (id == "CHAP" || id == "CTOC")
    return RepairChapter(frame, version, reading, changes, out);
  FramePlaces places;
  if (!FindTextPlaces(frame.data, id, &places) || places.machineWritten)
    return PlaceRepair::kUnchanged;
  // R5: with one page for the run, UTF-16 is right as it stands and UTF-8
  // changes only where it was encoded twice.
  const bool unicode = places.encoding != 0;
  if (reading.wholeRun && unicode && places.encoding != 3)
    return PlaceRepair::kUnchanged;
  std::vector<std::optional<std::wstring>> texts(places.places.size());
  std::vector<std::wstring> before, after;
  bool changed = false;
  for (std::size_t i = 0; i < places.places.size(); ++i) {
    const std::wstring stored = PlaceText(frame.data, places, places.places[i]);
    std::wstring read = reading.wholeRun && unicode && ShapeOf(stored).kind != ShapeKind::kUtf8
                            ? stored
                            : ReadPlace(stored, reading);
    before.push_back(stored);
    after.push_back(read);
    if (read != stored) {
      texts[i] = std::move(read);
      changed = true;
    }
  }
  if (!changed)
    return PlaceRepair::kUnchanged;
  if (!RewriteTextPlaces(frame.data, id, places, texts, &out->data))
    return PlaceRepair::kFailed;
  if (out->hasDataLength)
    out->dataLength = std::uint32_t(out->data.size());
  if (changes)
    changes->push_back(FrameChange{id, DescribeFields(before), DescribeFields(after)});
  return PlaceRepair::kChanged;
}

FileReading ReadingOfFile(const Id3v2Layout& layout, const std::vector<std::string>& id3v1Fields,
                          const Redecoding& redecoding, std::size_t* placesLeft) {
  SuggestionPool pool;
  pool.distinctTexts = true;
  CollectFromLayout(layout, &pool);
  for (std::size_t i = 0; i < id3v1Fields.size(); ++i)
    CollectLatin1Text(id3v1Fields[i], i == 0, &pool);
  FileReading reading =
      DecideFileReading(pool, redecoding.codePage, redecoding.named, redecoding.trackCodePages);
  reading.placesLeft = placesLeft;
  return reading;
}

namespace {

std::wstring PageName(unsigned codePage) {
  return L"cp" + std::to_wstring(codePage);
}

}  // namespace

namespace {

std::wstring PageNote(const FileReading& reading, std::size_t placesLeft) {
  const unsigned own = reading.codePage, album = reading.albumCodePage;
  if (own != album && own == kLeaveText)
    return L"left as stored: its text reads clearly better so than through " + PageName(album);
  if (own != album && album == kLeaveText)
    return L"read through " + PageName(own) + L": its own text needs that page";
  if (own != album)
    return L"read through " + PageName(own) + L", not its album's " + PageName(album) +
           L": its own text reads clearly better so";
  if (placesLeft == 0)
    return std::wstring();
  return placesLeft == 1
             ? L"1 text left as stored: it reads clearly better so than through " + PageName(own)
             : std::to_wstring(placesLeft) +
                   L" texts left as stored: they read clearly better so than through " +
                   PageName(own);
}

}  // namespace

std::wstring ReadingNote(const FileReading& reading, std::size_t placesLeft) {
  const std::wstring note = PageNote(reading, placesLeft);
  if (!reading.lostBytes)
    return note;
  const std::wstring lost = L"holds replacement characters; the original bytes are lost";
  return note.empty() ? lost : note + L"; " + lost;
}
