// Reading a rewritten moov atom back before it is written.
#include "engine/containers/container-bytes.h"
#include "engine/containers/mp4-check.h"
#include "engine/containers/mp4-tags.h"

namespace {

std::string Slice(const std::string& bytes, const Mp4Atom& atom) {
  return bytes.substr(std::size_t(atom.at), std::size_t(atom.size));
}

// Whether `atom` of `a` and `other` of `b` hold the same bytes.
bool SameBytes(const std::string& a, const Mp4Atom& atom, const std::string& b,
               const Mp4Atom& other) {
  return atom.size == other.size &&
         a.compare(std::size_t(atom.at), std::size_t(atom.size), b, std::size_t(other.at),
                   std::size_t(other.size)) == 0;
}

// The atoms of one level other than free atoms and the one on the way to
// the tags, each as its bytes in `bytes`; with `offsets`, every chunk offset
// within them set to zero and its value added to `offsets` (none when the
// offsets cannot be found). Only these atoms are copied, never the tags.
std::vector<std::string> Others(const std::string& bytes, const std::vector<Mp4Atom>& atoms,
                                const Mp4Atom& path,
                                std::vector<std::uint64_t>* offsets = nullptr) {
  std::vector<ChunkOffsetEntry> entries;
  if (offsets && FindChunkOffsets(bytes, &entries)) {
    for (const ChunkOffsetEntry& entry : entries)
      offsets->push_back(GetBigEndian(bytes, std::size_t(entry.at), entry.width));
  }
  std::vector<std::string> out;
  for (const Mp4Atom& atom : atoms) {
    if (atom.type == "free" || atom.at == path.at)
      continue;
    std::string slice = atom.type + Slice(bytes, atom);
    for (const ChunkOffsetEntry& entry : entries) {
      if (entry.at >= atom.at && entry.at + entry.width <= atom.end())
        PutBigEndian(&slice, std::size_t(entry.at - atom.at + 4), 0, entry.width);
    }
    out.push_back(std::move(slice));
  }
  return out;
}

bool SameItem(const std::string& oldMoov, const Mp4Tags& oldTags, std::size_t index,
              const std::map<std::size_t, std::string>& values, const std::string& newMoov,
              const Mp4Atom& got) {
  const Mp4Atom& item = oldTags.items[index];
  std::vector<Mp4Atom> before, after;
  if (got.type != item.type || !ReadChildAtoms(oldMoov, item.body(), item.end(), &before) ||
      !ReadChildAtoms(newMoov, got.body(), got.end(), &after) || before.size() != after.size())
    return false;
  for (std::size_t c = 0; c < before.size(); ++c) {
    const std::string* value = nullptr;
    for (const auto& [text, newValue] : values) {
      if (oldTags.texts[text].data.at == before[c].at)
        value = &newValue;
    }
    if (!value) {
      if (!SameBytes(oldMoov, before[c], newMoov, after[c]))
        return false;
      continue;
    }
    const Mp4Atom& data = after[c];
    if (data.type != "data" || data.size < data.header + 8 ||
        newMoov.compare(std::size_t(data.body()), 8, oldMoov, std::size_t(before[c].body()), 8) !=
            0 ||
        newMoov.compare(std::size_t(data.body() + 8), std::size_t(data.end() - data.body() - 8),
                        *value) != 0)
      return false;
  }
  return true;
}

}  // namespace

bool CheckMp4Moov(const std::string& oldMoov, const Mp4Tags& oldTags,
                  const std::map<std::size_t, std::string>& values, const std::string& newMoov,
                  const std::vector<std::uint64_t>* offsets, std::wstring* detail) {
  Mp4Tags got;
  *detail = L"the rewritten moov atom does not read back";
  if (!ReadMp4Tags(newMoov, &got) || got.items.size() != oldTags.items.size())
    return false;
  *detail = L"an item of the ilst atom would change";
  for (std::size_t i = 0; i < got.items.size(); ++i) {
    if (!SameItem(oldMoov, oldTags, i, values, newMoov, got.items[i]))
      return false;
  }
  *detail = L"an atom beside the tags would change";
  const std::string oldMeta = oldMoov.substr(
      std::size_t(oldTags.meta.body()), std::size_t(oldTags.metaChildrenStart - oldTags.meta.body()));
  const std::string newMeta = newMoov.substr(std::size_t(got.meta.body()),
                                             std::size_t(got.metaChildrenStart - got.meta.body()));
  std::vector<std::uint64_t> oldValues, newValues;
  if (oldMeta != newMeta ||
      Others(oldMoov, oldTags.moovChildren, oldTags.udta, &oldValues) !=
          Others(newMoov, got.moovChildren, got.udta, &newValues) ||
      Others(oldMoov, oldTags.udtaChildren, oldTags.meta) !=
          Others(newMoov, got.udtaChildren, got.meta) ||
      Others(oldMoov, oldTags.metaChildren, oldTags.ilst) !=
          Others(newMoov, got.metaChildren, got.ilst))
    return false;
  *detail = L"the chunk offsets would not point at the audio";
  return newValues == (offsets ? *offsets : oldValues);
}
