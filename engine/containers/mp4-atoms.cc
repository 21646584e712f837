// Walking MP4 atoms.
#include "engine/containers/mp4-atoms.h"

#include "engine/containers/container-bytes.h"

namespace {

// A file of more top-level atoms than this is not walked on: no song has
// them, and a broken file of tiny atoms would take long.
constexpr std::size_t kMostTopAtoms = 100000;

// Reads the header at `at` from `head` (its first 16 bytes, or fewer where
// the range ends); false when it does not fit before `end`.
bool ReadHeader(const std::string& head, std::uint64_t at, std::uint64_t end, bool topLevel,
                Mp4Atom* atom) {
  if (head.size() < 8 || end - at < 8)
    return false;
  atom->at = at;
  atom->type = head.substr(4, 4);
  atom->header = 8;
  atom->toEnd = false;
  std::uint64_t size = GetBigEndian(head, 0, 4);
  if (size == 1) {
    if (head.size() < 16 || end - at < 16)
      return false;
    size = GetBigEndian(head, 8, 8);
    atom->header = 16;
  } else if (size == 0) {
    if (!topLevel)
      return false;
    size = end - at;
    atom->toEnd = true;
  }
  if (size < atom->header || size > end - at)
    return false;
  atom->size = size;
  return true;
}

}  // namespace

bool ReadTopAtoms(TagLib::IOStream* file, std::vector<Mp4Atom>* atoms) {
  const std::uint64_t length = StreamLength(file);
  for (std::uint64_t at = 0; at < length;) {
    if (atoms->size() >= kMostTopAtoms)
      return false;
    Mp4Atom atom;
    if (!ReadHeader(ReadStreamAt(file, at, 16), at, length, true, &atom))
      return false;
    atoms->push_back(atom);
    at = atom.end();
  }
  return true;
}

bool ReadChildAtoms(const std::string& bytes, std::uint64_t from, std::uint64_t to,
                    std::vector<Mp4Atom>* atoms) {
  if (to > bytes.size() || from > to)
    return false;
  for (std::uint64_t at = from; at < to;) {
    Mp4Atom atom;
    if (!ReadHeader(bytes.substr(std::size_t(at), 16), at, to, false, &atom))
      return false;
    atoms->push_back(atom);
    at = atom.end();
  }
  return true;
}

const Mp4Atom* FindMp4Atom(const std::vector<Mp4Atom>& atoms, const std::string& type) {
  for (const Mp4Atom& atom : atoms) {
    if (atom.type == type)
      return &atom;
  }
  return nullptr;
}

std::uint64_t MetaChildrenStart(const std::string& bytes, const Mp4Atom& meta) {
  const std::uint64_t body = meta.body();
  if (meta.end() >= body + 8) {
    const std::string type = bytes.substr(std::size_t(body + 4), 4);
    if (type == "hdlr" || type == "ilst" || type == "free")
      return body;
  }
  return meta.end() >= body + 4 ? body + 4 : body;
}

bool RewrapAtom(const Mp4Atom& atom, const std::string& content, std::string* out) {
  const std::uint64_t size = atom.header + content.size();
  if (atom.toEnd || (atom.header == 8 && size > 0xFFFFFFFFu))
    return false;
  if (atom.header == 16)
    *out = BigEndianBytes(1, 4) + atom.type + BigEndianBytes(size, 8);
  else
    *out = BigEndianBytes(size, 4) + atom.type;
  *out += content;
  return true;
}

namespace {

// The children of `within`.
bool ChildrenAt(const std::string& bytes, const Mp4Atom& within, std::vector<Mp4Atom>* out) {
  out->clear();
  return ReadChildAtoms(bytes, within.body(), within.end(), out);
}

bool TableEntries(const std::string& moov, const Mp4Atom& table, int width,
                  std::vector<ChunkOffsetEntry>* entries) {
  // version and flags, entry count, entries
  if (table.size < table.header + 8)
    return false;
  const std::uint64_t count = GetBigEndian(moov, std::size_t(table.body() + 4), 4);
  const std::uint64_t first = table.body() + 8;
  if (count > (table.end() - first) / std::uint64_t(width))
    return false;
  for (std::uint64_t i = 0; i < count; ++i)
    entries->push_back(ChunkOffsetEntry{first + i * std::uint64_t(width), width});
  return true;
}

}  // namespace

bool FindChunkOffsets(const std::string& moov, std::vector<ChunkOffsetEntry>* entries) {
  std::vector<Mp4Atom> top;
  if (moov.size() < 8)
    return false;
  const std::uint64_t header = GetBigEndian(moov, 0, 4) == 1 ? 16 : 8;
  if (!ReadChildAtoms(moov, header, moov.size(), &top))
    return false;
  for (const Mp4Atom& trak : top) {
    if (trak.type != "trak")
      continue;
    std::vector<Mp4Atom> level;
    const Mp4Atom* at = &trak;
    Mp4Atom held;
    for (const char* type : {"mdia", "minf", "stbl"}) {
      if (!ChildrenAt(moov, *at, &level) || !(at = FindMp4Atom(level, type)))
        return false;
      held = *at;
      at = &held;
    }
    if (!ChildrenAt(moov, held, &level))
      return false;
    const Mp4Atom* stco = FindMp4Atom(level, "stco");
    const Mp4Atom* co64 = FindMp4Atom(level, "co64");
    if ((stco == nullptr) == (co64 == nullptr))
      return false;
    if (!TableEntries(moov, stco ? *stco : *co64, stco ? 4 : 8, entries))
      return false;
  }
  return true;
}
