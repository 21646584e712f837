// Reading and rewriting the text items of an MP4 file's ilst atom.
#include "engine/containers/mp4-tags.h"

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

std::string Slice(const std::string& bytes, std::uint64_t from, std::uint64_t to) {
  return bytes.substr(std::size_t(from), std::size_t(to - from));
}

// The item at `index` with its changed data atoms given their new values.
bool RewriteItem(const std::string& moov, const Mp4Tags& tags, std::size_t index,
                 const std::map<std::size_t, std::string>& values, std::string* out) {
  const Mp4Atom& item = tags.items[index];
  std::string content = Slice(moov, item.body(), item.end());
  // Later atoms first, so that earlier positions stay right.
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    const Mp4Text& text = tags.texts[it->first];
    if (text.item != index)
      continue;
    std::string data;
    if (!RewrapAtom(text.data, Slice(moov, text.data.body(), text.data.body() + 8) + it->second,
                    &data))
      return false;
    content.replace(std::size_t(text.data.at - item.body()), std::size_t(text.data.size), data);
  }
  return RewrapAtom(item, content, out);
}

// A free atom of `size` bytes (at least 8) made from `free`'s bytes.
std::string ResizedFree(const std::string& moov, const Mp4Atom* free, std::uint64_t size) {
  std::string body = free ? Slice(moov, free->body(), free->end()) : std::string();
  body.resize(std::size_t(size - 8), '\0');
  return BigEndianBytes(size, 4) + "free" + body;
}

// The children of one container from `start` to its end with the child at
// `path` replaced by `child`; a free atom after it takes up the change in
// length when it can (`absorbed`).
std::string Children(const std::string& moov, const std::vector<Mp4Atom>& children,
                     std::uint64_t start, const Mp4Atom& path, const std::string& child,
                     bool innermost, bool* absorbed) {
  const std::int64_t change = std::int64_t(child.size()) - std::int64_t(path.size);
  std::string out = Slice(moov, start, children.empty() ? start : children.front().at);
  bool after = false;
  *absorbed = change == 0;
  for (const Mp4Atom& atom : children) {
    if (atom.at == path.at) {
      out += child;
      after = true;
      if (!*absorbed && innermost && change <= -8) {
        out += ResizedFree(moov, nullptr, std::uint64_t(-change));
        *absorbed = true;
      }
      continue;
    }
    const std::int64_t left = std::int64_t(atom.size) - change;
    if (after && !*absorbed && atom.type == "free" && atom.header == 8 &&
        (left == 0 || (left >= 8 && left <= 0xFFFFFFFFll))) {
      if (left > 0)
        out += ResizedFree(moov, &atom, std::uint64_t(left));
      *absorbed = true;
      continue;
    }
    out += Slice(moov, atom.at, atom.end());
  }
  return out;
}

}  // namespace

bool RewriteMp4Tags(const std::string& moov, const Mp4Tags& tags,
                    const std::map<std::size_t, std::string>& values, std::string* out,
                    std::wstring* detail) {
  std::string items = Slice(moov, tags.ilst.body(), tags.items.empty() ? tags.ilst.body()
                                                                         : tags.items.front().at);
  for (std::size_t i = 0; i < tags.items.size(); ++i) {
    std::string item;
    if (!RewriteItem(moov, tags, i, values, &item)) {
      *detail = L"an atom of the ilst atom would outgrow its size field";
      return false;
    }
    items += item;
  }
  std::string ilst, meta, udta;
  bool absorbed = false;
  const auto fail = [detail] {
    *detail = L"an atom holding the tags would outgrow its size field";
    return false;
  };
  if (!RewrapAtom(tags.ilst, items, &ilst))
    return fail();
  const std::string metaHead = Slice(moov, tags.meta.body(), tags.metaChildrenStart);
  if (!RewrapAtom(tags.meta,
                  metaHead + Children(moov, tags.metaChildren, tags.metaChildrenStart, tags.ilst,
                                      ilst, true, &absorbed),
                  &meta))
    return fail();
  if (!RewrapAtom(tags.udta,
                  Children(moov, tags.udtaChildren, tags.udta.body(), tags.meta, meta, false,
                           &absorbed),
                  &udta))
    return fail();
  if (!RewrapAtom(tags.moov,
                  Children(moov, tags.moovChildren, tags.moov.body(), tags.udta, udta, false,
                           &absorbed),
                  out))
    return fail();
  return true;
}
