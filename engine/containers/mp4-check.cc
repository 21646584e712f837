// Reading a rewritten moov atom back before it is written.
#include "engine/containers/container-bytes.h"
#include "engine/containers/mp4-check.h"
#include "engine/containers/mp4-tags.h"

namespace {

std::string Slice(const std::string& bytes, const Mp4Atom& atom) {
  return bytes.substr(std::size_t(atom.at), std::size_t(atom.size));
}

// The moov bytes with every chunk offset set to zero; the bytes as they are
// when the offsets cannot be found.
std::string WithoutOffsets(const std::string& moov, std::vector<std::uint64_t>* values) {
  std::string out = moov;
  std::vector<ChunkOffsetEntry> entries;
  if (!FindChunkOffsets(moov, &entries))
    return out;
  for (const ChunkOffsetEntry& entry : entries) {
    values->push_back(GetBigEndian(moov, std::size_t(entry.at), entry.width));
    PutBigEndian(&out, std::size_t(entry.at), 0, entry.width);
  }
  return out;
}

// The atoms of one level other than free atoms and the one on the way to
// the tags, each as its bytes in `bytes`.
std::vector<std::string> Others(const std::string& bytes, const std::vector<Mp4Atom>& atoms,
                                const Mp4Atom& path) {
  std::vector<std::string> out;
  for (const Mp4Atom& atom : atoms) {
    if (atom.type != "free" && atom.at != path.at)
      out.push_back(atom.type + Slice(bytes, atom));
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
      if (Slice(oldMoov, before[c]) != Slice(newMoov, after[c]))
        return false;
      continue;
    }
    const Mp4Atom& data = after[c];
    if (data.type != "data" || data.size < data.header + 8 ||
        newMoov.compare(std::size_t(data.body()), 8, oldMoov, std::size_t(before[c].body()), 8) !=
            0 ||
        newMoov.substr(std::size_t(data.body() + 8), std::size_t(data.end() - data.body() - 8)) !=
            *value)
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
  const std::string oldPlain = WithoutOffsets(oldMoov, &oldValues);
  const std::string newPlain = WithoutOffsets(newMoov, &newValues);
  if (oldMeta != newMeta ||
      Others(oldPlain, oldTags.moovChildren, oldTags.udta) !=
          Others(newPlain, got.moovChildren, got.udta) ||
      Others(oldMoov, oldTags.udtaChildren, oldTags.meta) !=
          Others(newMoov, got.udtaChildren, got.meta) ||
      Others(oldMoov, oldTags.metaChildren, oldTags.ilst) !=
          Others(newMoov, got.metaChildren, got.ilst))
    return false;
  *detail = L"the chunk offsets would not point at the audio";
  return newValues == (offsets ? *offsets : oldValues);
}
