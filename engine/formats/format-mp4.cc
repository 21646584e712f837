// The MP4 module (engine/formats/format.h): the text items of moov/udta/meta/ilst,
// repaired in their data atoms; the moov atom is the one range rewritten.
//
// A change in length is taken up by a free atom inside moov after the
// changed atoms, or by a free atom right after moov. Else moov grows or
// shrinks, and every chunk offset (stco, co64) of every track that points
// past moov moves with the audio after it. A fragmented file (moof, sidx,
// mfra, or mvex inside moov) holds offsets of its own: it is refused then.
#include <algorithm>
#include <map>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/containers/container-bytes.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-mp4.h"
#include "engine/formats/format.h"
#include "engine/containers/mp4-check.h"
#include "engine/containers/mp4-tags.h"

namespace {

// A moov atom larger than this is not read: it would be absurd for a song.
constexpr std::uint64_t kLargestMoov = std::uint64_t(64) << 20;

struct Mp4File {
  std::vector<Mp4Atom> top;
  bool topWhole = false;  // every top-level atom fits in the file
  std::size_t moovIndex = 0;
  std::string moov;
  Mp4Tags tags;
};

bool ReadMp4File(TagLib::IOStream* file, Mp4File* mp4) {
  mp4->topWhole = ReadTopAtoms(file, &mp4->top);
  for (std::size_t i = 0; i < mp4->top.size(); ++i) {
    const Mp4Atom& atom = mp4->top[i];
    if (atom.type != "moov")
      continue;
    if (atom.size > kLargestMoov)
      return false;
    mp4->moovIndex = i;
    mp4->moov = ReadStreamAt(file, atom.at, atom.size);
    return mp4->moov.size() == atom.size && ReadMp4Tags(mp4->moov, &mp4->tags);
  }
  return false;
}

// The new value of each text that changes, and the changes for a preview.
std::map<std::size_t, std::string> RepairTexts(const Mp4Tags& tags, const FileReading& reading,
                                               std::vector<FrameChange>* changes) {
  std::map<std::size_t, std::string> values;
  for (std::size_t i = 0; i < tags.texts.size(); ++i) {
    const Mp4Text& text = tags.texts[i];
    if (text.utf16) {
      const std::wstring stored = DecodeUtf16(text.value, true);
      std::wstring repaired;
      if (RepairWideField(stored, reading, &repaired)) {
        values[i] = EncodeUtf16(repaired, true);
        changes->push_back(FrameChange{text.label, stored, repaired});
      }
      continue;
    }
    std::string repaired;
    if (RepairUtf8Field(text.value, reading, &repaired)) {
      values[i] = repaired;
      changes->push_back(FrameChange{text.label, ShownUtf8Field(text.value), DecodeUtf8(repaired)});
    }
  }
  return values;
}

std::wstring Name(const std::string& type) {
  std::wstring name;
  for (char c : type)
    name.push_back(wchar_t(static_cast<unsigned char>(c)));
  return name;
}

// Why atoms outside moov would be wrong once moov changes length; empty
// when none would.
std::wstring FragmentedOrUnknown(const Mp4File& mp4) {
  if (FindMp4Atom(mp4.tags.moovChildren, "mvex"))
    return L"the file is fragmented (moov holds mvex): its fragments' offsets cannot be moved";
  for (std::size_t i = 0; i < mp4.top.size(); ++i) {
    const std::string& type = mp4.top[i].type;
    if (type == "moof" || type == "sidx" || type == "mfra" || type == "ssix")
      return L"the file is fragmented (it holds " + Name(type) +
             L"): its fragments' offsets cannot be moved";
    if (i > mp4.moovIndex && type != "mdat" && type != "free" && type != "skip" &&
        type != "wide" && type != "uuid")
      return L"the " + Name(type) + L" atom after moov may point into the file";
  }
  return std::wstring();
}

std::vector<std::uint64_t> OffsetValues(const std::string& moov,
                                        const std::vector<ChunkOffsetEntry>& entries) {
  std::vector<std::uint64_t> values;
  for (const ChunkOffsetEntry& entry : entries)
    values.push_back(GetBigEndian(moov, std::size_t(entry.at), entry.width));
  return values;
}

// Moves every chunk offset past the old moov by `change`.
bool ShiftChunkOffsets(const Mp4Atom& moov, std::int64_t change, std::string* newMoov,
                       std::vector<std::uint64_t>* expected, std::wstring* detail) {
  std::vector<ChunkOffsetEntry> entries;
  if (!FindChunkOffsets(*newMoov, &entries)) {
    *detail = L"a track's chunk offsets (stco, co64) cannot be read";
    return false;
  }
  *expected = OffsetValues(*newMoov, entries);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint64_t& value = (*expected)[i];
    if (value >= moov.at && value < moov.end()) {
      *detail = L"a chunk offset points into the moov atom";
      return false;
    }
    if (value < moov.end())
      continue;
    value = std::uint64_t(std::int64_t(value) + change);
    if (entries[i].width == 4 && value > 0xFFFFFFFFu) {
      *detail = L"a chunk offset would outgrow its 32-bit field (stco)";
      return false;
    }
    PutBigEndian(newMoov, std::size_t(entries[i].at), value, entries[i].width);
  }
  return true;
}

}  // namespace

void CollectMp4Text(TagLib::IOStream* file, SuggestionPool* pool) {
  Mp4File mp4;
  if (!ReadMp4File(file, &mp4))
    return;
  for (const Mp4Text& text : mp4.tags.texts) {
    if (text.utf16)
      CollectWideField(DecodeUtf16(text.value, true), text.isTitle, pool);
    else
      CollectUtf8Field(text.value, text.isTitle, pool);
  }
}

namespace {

// Fits the new moov into the file: a free atom right after it takes up the
// change (`trailer` its new bytes), or the chunk offsets past it move.
// `replaced` is what the edit covers from moov's start.
unsigned PlaceNewMoov(const Mp4File& mp4, std::string* newMoov, FileOutcome* outcome,
                      std::string* trailer, std::uint64_t* replaced,
                      std::vector<std::uint64_t>* offsets, bool* shifted) {
  const Mp4Atom& moov = mp4.top[mp4.moovIndex];
  const std::int64_t change = std::int64_t(newMoov->size()) - std::int64_t(moov.size);
  *replaced = moov.size;
  *shifted = false;
  if (change != 0 && mp4.moovIndex + 1 < mp4.top.size()) {
    const Mp4Atom& next = mp4.top[mp4.moovIndex + 1];
    const std::int64_t left = std::int64_t(next.size) - change;
    if (next.type == "free" && next.header == 8 && !next.toEnd &&
        (left == 0 || (left >= 8 && left <= 0xFFFFFFFFll))) {
      if (left > 0)
        *trailer = BigEndianBytes(std::uint64_t(left), 4) + "free" +
                   std::string(std::size_t(left - 8), '\0');
      *replaced += next.size;
      return WM_FIX_SUCCEEDED;
    }
  }
  if (change != 0) {
    if (!mp4.topWhole)
      return RefuseRepair(outcome, L"an atom after moov runs past the end of the file");
    const std::wstring why = FragmentedOrUnknown(mp4);
    if (!why.empty())
      return RefuseRepair(outcome, why);
    std::wstring detail;
    if (mp4.moovIndex + 1 < mp4.top.size()) {
      if (!ShiftChunkOffsets(moov, change, newMoov, offsets, &detail))
        return RefuseRepair(outcome, detail);
      *shifted = true;
    }
  }
  return WM_FIX_SUCCEEDED;
}

}  // namespace

unsigned RenderMp4Repair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit) {
  Mp4File mp4;
  if (!ReadMp4File(file, &mp4))
    return WM_FIX_NOT_NEEDED;
  std::vector<FrameChange> changes;
  const std::map<std::size_t, std::string> values = RepairTexts(mp4.tags, reading, &changes);
  if (values.empty())
    return WM_FIX_NOT_NEEDED;
  std::string newMoov, trailer;
  std::wstring detail;
  if (!RewriteMp4Tags(mp4.moov, mp4.tags, values, &newMoov, &detail))
    return RefuseRepair(outcome, detail);
  std::uint64_t replaced = 0;
  std::vector<std::uint64_t> offsets;
  bool shifted = false;
  if (const unsigned refused =
          PlaceNewMoov(mp4, &newMoov, outcome, &trailer, &replaced, &offsets, &shifted);
      refused != WM_FIX_SUCCEEDED)
    return refused;
  if (!CheckMp4Moov(mp4.moov, mp4.tags, values, newMoov, shifted ? &offsets : nullptr, &detail))
    return RefuseRepair(outcome, detail);
  // Only the bytes that differ are given: the same file comes out. The new
  // region is trimmed in place, and of the old one only what follows moov
  // (a free atom taking up the change) is read again.
  std::string& region = newMoov;
  region += trailer;
  const Mp4Atom& moov = mp4.top[mp4.moovIndex];
  const std::string beyond = ReadStreamAt(file, moov.end(), replaced - moov.size);
  if (beyond.size() != replaced - moov.size)
    return RefuseRepair(outcome, L"the atom after moov cannot be read");
  const auto old = [&](std::size_t i) {
    return i < mp4.moov.size() ? mp4.moov[i] : beyond[i - mp4.moov.size()];
  };
  const std::size_t oldSize = std::size_t(replaced);
  std::size_t prefix = 0, suffix = 0;
  while (prefix < oldSize && prefix < region.size() && old(prefix) == region[prefix])
    ++prefix;
  while (suffix < oldSize - prefix && suffix < region.size() - prefix &&
         old(oldSize - 1 - suffix) == region[region.size() - 1 - suffix])
    ++suffix;
  const std::size_t kept = region.size() - prefix - suffix;
  edit->recorded = true;
  edit->offset = moov.at + prefix;
  edit->replaced = oldSize - prefix - suffix;
  // What the save holds until its batch commits is what the edit gives: a
  // small change is copied out rather than kept in the whole moov's room.
  if (kept < region.size() / 2) {
    edit->bytes = region.substr(prefix, kept);
  } else {
    region.erase(region.size() - suffix);
    region.erase(0, prefix);
    edit->bytes = std::move(region);
  }
  outcome->changes = std::move(changes);
  return WM_FIX_SUCCEEDED;
}
