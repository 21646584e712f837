// Finding, reading and rewriting the text places of a frame.
#include "engine/id3v2/frame-places.h"

#include "engine/id3v2/id3v2-layout.h"
#include "engine/id3v2/id3v2-text.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

namespace {

std::size_t UnitOf(int encoding) {
  return encoding == 1 || encoding == 2 ? 2 : 1;
}

// Walks a frame's data from its encoding byte on, adding places and
// stepping over the bytes between them.
struct PlaceWalk {
  const std::string& data;
  FramePlaces* out;
  std::size_t at = 1;

  // A text that ends at a NUL of the encoding's width, or at the end of the
  // data when `toEnd`; false when a text that must end has no NUL.
  bool Text(bool description, bool toEnd) {
    const std::size_t unit = UnitOf(out->encoding);
    TextPlace place;
    place.begin = at;
    place.description = description;
    std::size_t i = at;
    for (; i + unit <= data.size(); i += unit) {
      if (data.compare(i, unit, std::string(unit, '\0')) == 0)
        break;
    }
    if (i + unit <= data.size()) {
      place.end = i;
      place.terminated = true;
      at = i + unit;
    } else if (toEnd) {
      place.end = data.size();
      at = data.size();
    } else {
      return false;
    }
    out->places.push_back(place);
    return true;
  }
  // Bytes kept as they are: a fixed count, or a Latin-1 string and its NUL.
  bool Skip(std::size_t count) {
    if (data.size() - at < count)
      return false;
    at += count;
    return true;
  }
  bool SkipLatin1String() {
    const std::size_t end = data.find('\0', at);
    if (end == std::string::npos)
      return false;
    at = end + 1;
    return true;
  }
  bool AtEnd() const { return at >= data.size(); }
};

bool IsTextFrameId(const std::string& id) {
  return (!id.empty() && id[0] == 'T') || id == "WFED" || id == "MVNM" || id == "MVIN" ||
         id == "GRP1";
}

bool WalkPlaces(PlaceWalk* walk, const std::string& id) {
  if (IsTextFrameId(id)) {
    bool description = id == "TXXX";
    while (!walk->AtEnd()) {
      if (!walk->Text(description, true))
        return false;
      description = false;
    }
    return true;
  }
  if (id == "WXXX")
    return walk->Text(true, false);
  if (id == "COMM" || id == "USLT")
    return walk->Skip(3) && walk->Text(true, false) && walk->Text(false, true);
  if (id == "SYLT") {
    if (!walk->Skip(5) || !walk->Text(true, false))
      return false;
    while (!walk->AtEnd()) {
      if (!walk->Text(false, false) || !walk->Skip(4))
        return false;
    }
    return true;
  }
  if (id == "APIC")
    return walk->SkipLatin1String() && walk->Skip(1) && walk->Text(true, false);
  if (id == "PIC")
    return walk->Skip(4) && walk->Text(true, false);
  if (id == "GEOB")
    return walk->SkipLatin1String() && walk->Text(false, false) && walk->Text(true, false);
  return false;
}

bool IsMachineWritten(const std::string& data, const FramePlaces& frame, const std::string& id) {
  if ((id != "COMM" && id != "TXXX") || frame.places.empty() || !frame.places[0].description)
    return false;
  const std::wstring description = PlaceText(data, frame, frame.places[0]);
  return description.compare(0, 4, L"iTun") == 0;
}

void AppendUtf16Unit(std::string* out, unsigned unit, bool bigEndian) {
  const char high = char(unit >> 8), low = char(unit & 0xFF);
  out->push_back(bigEndian ? high : low);
  out->push_back(bigEndian ? low : high);
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(char(c));
  } else if (c < 0x800) {
    out->push_back(char(0xC0 | (c >> 6)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(char(0xE0 | (c >> 12)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (c >> 18)));
    out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(char(0x80 | (c & 0x3F)));
  }
}

// `text` in `encoding` (1 with a little-endian byte-order mark, 2 big-endian,
// 3 UTF-8). Empty text in encoding 1 keeps its mark too: readers that expect
// one before every string (libavformat) drop the whole frame without it.
std::string EncodeText(const std::wstring& text, int encoding) {
  std::string out;
  if (encoding == 1)
    out += "\xFF\xFE";
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = WideCharAt(text, &i);
    if (encoding == 3) {
      AppendUtf8(&out, c);
    } else if (c >= 0x10000) {
      AppendUtf16Unit(&out, 0xD800 + ((c - 0x10000) >> 10), encoding == 2);
      AppendUtf16Unit(&out, 0xDC00 + ((c - 0x10000) & 0x3FF), encoding == 2);
    } else {
      AppendUtf16Unit(&out, unsigned(c), encoding == 2);
    }
  }
  return out;
}

}  // namespace

bool FindTextPlaces(const std::string& data, const std::string& id, FramePlaces* out) {
  *out = FramePlaces();
  if (data.empty() || static_cast<unsigned char>(data[0]) > 3)
    return false;
  out->encoding = static_cast<unsigned char>(data[0]);
  PlaceWalk walk{data, out};
  if (!WalkPlaces(&walk, id) || out->places.empty()) {
    out->places.clear();
    return false;
  }
  out->machineWritten = IsMachineWritten(data, *out, id);
  return true;
}

std::wstring PlaceText(const std::string& data, const FramePlaces& frame, const TextPlace& place) {
  return DecodeStoredText(data.substr(place.begin, place.end - place.begin), frame.encoding);
}

bool RewriteTextPlaces(const std::string& data, const std::string& id, const FramePlaces& frame,
                       const std::vector<std::optional<std::wstring>>& texts, std::string* out) {
  if (texts.size() != frame.places.size())
    return false;
  const int encoding = frame.encoding == 0 ? 1 : frame.encoding;
  const std::size_t oldUnit = UnitOf(frame.encoding), newUnit = UnitOf(encoding);
  std::string rewritten(1, char(encoding));
  std::size_t copied = 1;  // bytes of `data` consumed so far
  for (std::size_t i = 0; i < frame.places.size(); ++i) {
    const TextPlace& place = frame.places[i];
    rewritten.append(data, copied, place.begin - copied);
    if (texts[i] || encoding != frame.encoding)
      rewritten += EncodeText(texts[i] ? *texts[i] : PlaceText(data, frame, place), encoding);
    else
      rewritten.append(data, place.begin, place.end - place.begin);
    copied = place.end;
    if (place.terminated) {
      rewritten.append(newUnit, '\0');
      copied += oldUnit;
    }
  }
  rewritten.append(data, copied, std::string::npos);

  FramePlaces check;
  if (!FindTextPlaces(rewritten, id, &check) || check.places.size() != frame.places.size())
    return false;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::wstring want = texts[i] ? *texts[i] : PlaceText(data, frame, frame.places[i]);
    if (PlaceText(rewritten, check, check.places[i]) != want)
      return false;
  }
  *out = std::move(rewritten);
  return true;
}
