// Reading and rewriting the text items of an MP4 file's ilst atom.
#include "engine/containers/mp4-tags.h"

#include <algorithm>

#include "engine/containers/container-bytes.h"

namespace {

// The items whose data atoms hold text a person reads.
bool IsTextItem(const std::string& type) {
  static const char* const kItems[] = {
      "\xA9nam", "\xA9" "ART", "\xA9" "alb", "aART", "\xA9wrt", "\xA9gen", "\xA9" "cmt",
      "\xA9lyr", "\xA9grp",    "\xA9" "day", "desc", "ldes",    "\xA9too", "sonm",
      "soar",    "soal",       "soaa",       "soco", "\xA9" "des"};
  for (const char* item : kItems) {
    if (type == item)
      return true;
  }
  return false;
}

// Each byte of an atom type as the character of that number, in UTF-8.
std::string TypeLabel(const std::string& type) {
  std::string label;
  for (char c : type) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      label.push_back(c);
    } else {
      label.push_back(char(0xC0 | (b >> 6)));
      label.push_back(char(0x80 | (b & 0x3F)));
    }
  }
  return label;
}

// The name of a freeform item ("----"): its "name" atom's text after
// version and flags; empty when it has none.
std::string FreeformName(const std::string& moov, const std::vector<Mp4Atom>& children) {
  const Mp4Atom* name = FindMp4Atom(children, "name");
  if (!name || name->size < name->header + 4)
    return std::string();
  return moov.substr(std::size_t(name->body() + 4), std::size_t(name->end() - name->body() - 4));
}

void ReadItemTexts(const std::string& moov, std::size_t index, const Mp4Atom& item,
                   std::vector<Mp4Text>* texts) {
  const bool freeform = item.type == "----";
  if (!freeform && !IsTextItem(item.type))
    return;
  std::vector<Mp4Atom> children;
  if (!ReadChildAtoms(moov, item.body(), item.end(), &children))
    return;
  std::string label = TypeLabel(item.type);
  if (freeform) {
    label = FreeformName(moov, children);
    // Text a program wrote for itself (iTunNORM, iTunSMPB, ...) stays.
    if (label.empty() || label.compare(0, 4, "iTun") == 0)
      return;
  }
  for (const Mp4Atom& data : children) {
    if (data.type != "data" || data.size < data.header + 8)
      continue;
    const std::uint64_t type = GetBigEndian(moov, std::size_t(data.body()), 4);
    if (type != 1 && type != 2)
      continue;
    Mp4Text text;
    text.item = index;
    text.label = label;
    text.isTitle = item.type == "\xA9nam";
    text.utf16 = type == 2;
    text.data = data;
    text.value = moov.substr(std::size_t(data.body() + 8), std::size_t(data.size - data.header - 8));
    texts->push_back(std::move(text));
  }
}

}  // namespace

bool ReadMp4Tags(const std::string& moov, Mp4Tags* tags) {
  *tags = Mp4Tags();
  if (moov.size() < 8)
    return false;
  Mp4Atom& m = tags->moov;
  m.type = "moov";
  m.size = moov.size();
  m.header = GetBigEndian(moov, 0, 4) == 1 ? 16 : 8;
  const Mp4Atom* found = nullptr;
  if (!ReadChildAtoms(moov, m.body(), m.end(), &tags->moovChildren) ||
      !(found = FindMp4Atom(tags->moovChildren, "udta")))
    return false;
  tags->udta = *found;
  if (!ReadChildAtoms(moov, tags->udta.body(), tags->udta.end(), &tags->udtaChildren) ||
      !(found = FindMp4Atom(tags->udtaChildren, "meta")))
    return false;
  tags->meta = *found;
  tags->metaChildrenStart = MetaChildrenStart(moov, tags->meta);
  if (!ReadChildAtoms(moov, tags->metaChildrenStart, tags->meta.end(), &tags->metaChildren) ||
      !(found = FindMp4Atom(tags->metaChildren, "ilst")))
    return false;
  tags->ilst = *found;
  if (!ReadChildAtoms(moov, tags->ilst.body(), tags->ilst.end(), &tags->items))
    return false;
  for (std::size_t i = 0; i < tags->items.size(); ++i)
    ReadItemTexts(moov, i, tags->items[i], &tags->texts);
  return true;
}

namespace {

// What a rewrite reads from and puts in place of the stored values.
struct Rewrite {
  const std::string& moov;
  const Mp4Tags& tags;
  const std::map<std::size_t, std::string>& values;
};

void AppendSlice(const std::string& moov, std::uint64_t from, std::uint64_t to, std::string* out) {
  out->append(moov, std::size_t(from), std::size_t(to - from));
}

// Appends `atom`'s header as stored; CloseAtom sets its size once its
// content follows it. Returns where the header starts in `out`.
std::size_t OpenAtom(const std::string& moov, const Mp4Atom& atom, std::string* out) {
  const std::size_t at = out->size();
  AppendSlice(moov, atom.at, atom.body(), out);
  return at;
}

// The size of the atom opened at `at`, as RewrapAtom gives it: false when
// it does not fit a 32-bit size field or the atom was stored with size 0.
bool CloseAtom(const Mp4Atom& atom, std::size_t at, std::string* out) {
  const std::uint64_t size = out->size() - at;
  if (atom.toEnd || (atom.header == 8 && size > 0xFFFFFFFFu))
    return false;
  if (atom.header == 16)
    PutBigEndian(out, at + 8, size, 8);
  else
    PutBigEndian(out, at, size, 4);
  return true;
}

// Appends the item at `index` with its changed data atoms given their new
// values; every other byte of it is copied once, straight from `moov`.
bool AppendItem(const Rewrite& r, std::size_t index, std::string* out) {
  const Mp4Atom& item = r.tags.items[index];
  std::vector<const Mp4Text*> changed;
  for (const auto& [text, value] : r.values) {
    if (r.tags.texts[text].item == index)
      changed.push_back(&r.tags.texts[text]);
  }
  std::sort(changed.begin(), changed.end(),
            [](const Mp4Text* a, const Mp4Text* b) { return a->data.at < b->data.at; });
  const std::size_t at = OpenAtom(r.moov, item, out);
  std::uint64_t from = item.body();
  for (const Mp4Text* text : changed) {
    AppendSlice(r.moov, from, text->data.at, out);
    const std::size_t data = OpenAtom(r.moov, text->data, out);
    AppendSlice(r.moov, text->data.body(), text->data.body() + 8, out);
    *out += r.values.at(std::size_t(text - r.tags.texts.data()));
    if (!CloseAtom(text->data, data, out))
      return false;
    from = text->data.end();
  }
  AppendSlice(r.moov, from, item.end(), out);
  return CloseAtom(item, at, out);
}

// Appends a free atom of `size` bytes (at least 8) made from `free`'s bytes.
void AppendFree(const std::string& moov, const Mp4Atom* free, std::uint64_t size,
                std::string* out) {
  *out += BigEndianBytes(size, 4) + "free";
  const std::uint64_t kept = free ? std::min(size - 8, free->size - free->header) : 0;
  if (free)
    AppendSlice(moov, free->body(), free->body() + kept, out);
  out->append(std::size_t(size - 8 - kept), '\0');
}

bool AppendIlst(const Rewrite& r, std::string* out, std::wstring* detail) {
  const Mp4Tags& tags = r.tags;
  const std::size_t at = OpenAtom(r.moov, tags.ilst, out);
  AppendSlice(r.moov, tags.ilst.body(), tags.items.empty() ? tags.ilst.body() : tags.items.front().at,
              out);
  for (std::size_t i = 0; i < tags.items.size(); ++i) {
    if (!AppendItem(r, i, out)) {
      *detail = L"an atom of the ilst atom would outgrow its size field";
      return false;
    }
  }
  if (CloseAtom(tags.ilst, at, out))
    return true;
  *detail = L"an atom holding the tags would outgrow its size field";
  return false;
}

// Appends the container at `depth` on the way to the tags (0 moov, 1 udta,
// 2 meta) with its child on that way rewritten; a free atom after that
// child takes up the change in length when it can (`absorbed`), and an ilst
// atom that shrinks by 8 bytes or more is followed by a new free atom.
bool AppendContainer(const Rewrite& r, int depth, std::string* out, bool* absorbed,
                     std::wstring* detail) {
  const Mp4Tags& t = r.tags;
  const Mp4Atom* const path[] = {&t.moov, &t.udta, &t.meta, &t.ilst};
  const std::vector<Mp4Atom>* const lists[] = {&t.moovChildren, &t.udtaChildren, &t.metaChildren};
  const std::uint64_t starts[] = {t.moov.body(), t.udta.body(), t.metaChildrenStart};
  const Mp4Atom& self = *path[depth];
  const Mp4Atom& next = *path[depth + 1];
  const std::vector<Mp4Atom>& children = *lists[depth];
  const bool innermost = depth == 2;
  const std::size_t at = OpenAtom(r.moov, self, out);
  AppendSlice(r.moov, self.body(), children.empty() ? starts[depth] : children.front().at, out);
  bool after = false;
  std::int64_t change = 0;
  for (const Mp4Atom& atom : children) {
    if (atom.at == next.at) {
      const std::size_t before = out->size();
      if (!(innermost ? AppendIlst(r, out, detail)
                      : AppendContainer(r, depth + 1, out, absorbed, detail)))
        return false;
      change = std::int64_t(out->size() - before) - std::int64_t(next.size);
      *absorbed = change == 0;
      after = true;
      if (!*absorbed && innermost && change <= -8) {
        AppendFree(r.moov, nullptr, std::uint64_t(-change), out);
        *absorbed = true;
      }
      continue;
    }
    const std::int64_t left = std::int64_t(atom.size) - change;
    if (after && !*absorbed && atom.type == "free" && atom.header == 8 &&
        (left == 0 || (left >= 8 && left <= 0xFFFFFFFFll))) {
      if (left > 0)
        AppendFree(r.moov, &atom, std::uint64_t(left), out);
      *absorbed = true;
      continue;
    }
    AppendSlice(r.moov, atom.at, atom.end(), out);
  }
  if (CloseAtom(self, at, out))
    return true;
  *detail = L"an atom holding the tags would outgrow its size field";
  return false;
}

}  // namespace

bool RewriteMp4Tags(const std::string& moov, const Mp4Tags& tags,
                    const std::map<std::size_t, std::string>& values, std::string* out,
                    std::wstring* detail) {
  // One buffer of the new moov's size at most: a large item (a picture)
  // is copied once, from the stored bytes to its place.
  std::size_t growth = 8;
  for (const auto& [text, value] : values)
    growth += value.size();
  out->clear();
  out->reserve(moov.size() + growth);
  bool absorbed = false;
  const Rewrite rewrite{moov, tags, values};
  return AppendContainer(rewrite, 0, out, &absorbed, detail);
}
