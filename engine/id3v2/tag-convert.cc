// Version conversions of a stored tag's frames. Version 2.4 is what a repair
// writes unless version 2.3 is asked for and holds every frame as it is.
#include "engine/id3v2/id3v2-ids.h"
#include "engine/id3v2/id3v2-text.h"
#include "engine/id3v2/tag-convert.h"

#include "engine/id3v2/redecode.h"
#include "engine/platform/text.h"

namespace {

// The four digits of a year, day (DDMM) or time (HHMM) frame, in whichever
// text encoding it is stored; false unless it holds exactly those.
bool FourDigits(const Id3v2Frame& frame, std::string* digits) {
  std::vector<std::wstring> fields;
  if (!TextFrameFields(frame, true, &fields) || fields.size() != 1 || fields[0].size() != 4)
    return false;
  // UTF-16 without a byte-order mark is not read as text.
  if (frame.data[0] == '\x01' && frame.data.compare(1, 2, "\xFF\xFE") != 0 &&
      frame.data.compare(1, 2, "\xFE\xFF") != 0)
    return false;
  digits->clear();
  for (wchar_t c : fields[0]) {
    if (c < L'0' || c > L'9')
      return false;
    digits->push_back(char(c));
  }
  return true;
}

// The one frame `id` of `frames` and its digits; false when there is none,
// more than one, or it holds anything else.
bool DatePart(const std::vector<Id3v2Frame>& frames, const char* id, std::string* value,
              std::size_t* index) {
  int found = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].id != id)
      continue;
    ++found;
    *index = i;
    if (!FourDigits(frames[i], value))
      return false;
  }
  return found == 1;
}

}  // namespace

// Versions 2.2 and 2.3 keep year, day and time apart; version 2.4 holds
// them in one date (TYER 2004, TDAT 3112, TIME 2359 give TDRC
// 2004-12-31T23:59), as TagLib reads them.
DateMerge MergeDate(const Id3v2Layout& layout) {
  DateMerge merge;
  std::string year, day, time;
  const bool v22 = layout.version == 2;
  if (layout.version > 3 || !DatePart(layout.frames, v22 ? "TYE" : "TYER", &year, &merge.year) ||
      !DatePart(layout.frames, v22 ? "TDA" : "TDAT", &day, &merge.day))
    return merge;
  merge.merged = true;
  merge.value = year + "-" + day.substr(2, 2) + "-" + day.substr(0, 2);
  if (DatePart(layout.frames, v22 ? "TIM" : "TIME", &time, &merge.time)) {
    merge.withTime = true;
    merge.value += "T" + time.substr(0, 2) + ":" + time.substr(2, 2);
  }
  return merge;
}

namespace {

// A version 2.2 picture: its three-letter image format becomes a MIME type,
// as TagLib reads it.
bool ConvertPicture(const Id3v2Frame& picture, OutputFrame* out) {
  if (picture.data.size() < 5)
    return false;
  std::string format = picture.data.substr(1, 3);
  std::string upper = format;
  for (char& c : upper)
    c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const std::string mime = upper == "JPG"   ? "image/jpeg"
                           : upper == "PNG" ? "image/png"
                                            : "image/" + format;
  out->kind = OutputFrame::kPicture;
  out->id = "APIC";
  out->frame = picture;
  out->frame.id = "APIC";
  out->frame.data =
      picture.data.substr(0, 1) + mime + std::string(1, '\0') + picture.data.substr(4);
  return true;
}

// Where the values of a text or comment frame begin: after the encoding, and
// after the language and description of a comment or the description of a
// TXXX. npos when the description has no end.
std::size_t ValuesStart(const std::string& data, const std::string& idV24, std::size_t unit) {
  std::size_t at = idV24 == "COMM" ? 4 : 1;
  if (idV24 != "COMM" && idV24 != "TXXX")
    return at;
  for (; at + unit <= data.size(); at += unit) {
    if (data.compare(at, unit, std::string(unit, '\0')) == 0)
      return at + unit;
  }
  return std::string::npos;
}

// Versions 2.2 and 2.3 may end a text with a NUL (one 00 00 unit in UTF-16)
// that version 2.4, where a NUL separates values, reads as the start of a
// second, empty value: COMM iTunPGAP "0\0" would read as "0" and "". A text
// or comment frame carried into a version 2.4 tag loses that one trailing
// terminator; empty values before it stay in their places.
void DropTerminator(const std::string& storedId, const std::string& idV24, Id3v2Frame* frame) {
  std::string& data = frame->data;
  if ((storedId[0] != 'T' && idV24 != "COMM") || frame->malformed || frame->compressed ||
      frame->encrypted || data.empty() || static_cast<unsigned char>(data[0]) > 3)
    return;
  const std::size_t unit = data[0] == '\x01' || data[0] == '\x02' ? 2 : 1;
  const std::size_t values = ValuesStart(data, idV24, unit);
  if (values == std::string::npos || data.size() < values + unit ||
      (data.size() - values) % unit != 0 ||
      data.compare(data.size() - unit, unit, std::string(unit, '\0')) != 0)
    return;
  data.resize(data.size() - unit);
}

}  // namespace

Version24Form FrameInVersion24(const Id3v2Layout& layout, std::size_t index, const DateMerge& date,
                               OutputFrame* out) {
  const Id3v2Frame& original = layout.frames[index];
  const std::string idV24 = FrameIdV24(layout.version, original.id);
  if (date.merged && (index == date.day || (date.withTime && index == date.time)))
    return Version24Form::kInDate;
  out->frame = original;
  if (date.merged && index == date.year) {
    out->kind = OutputFrame::kMergedDate;
    out->id = "TDRC";
    out->frame.data = std::string(1, '\0') + date.value;
    return Version24Form::kFrame;
  }
  if (!idV24.empty()) {
    out->id = idV24;
  } else if (!ObsoleteFrameId(layout.version, original.id).empty()) {
    // Gone from version 2.4 (TDAT, TIME, TRDA, TSIZ, EQUA, RVAD): kept as
    // they are, under their version 2.3 ids, which readers of version 2.4
    // accept.
    out->id = ObsoleteFrameId(layout.version, original.id);
  } else {
    return original.id == "PIC" && ConvertPicture(original, out) ? Version24Form::kFrame
                                                                 : Version24Form::kNone;
  }
  if (layout.version < 4)
    DropTerminator(original.id, out->id, &out->frame);
  return Version24Form::kFrame;
}

namespace {

// Frames that version 2.3 has no place for; a tag holding one stays 2.4.
bool OnlyInVersion24(const std::string& id) {
  for (const char* only : {"ASPI", "EQU2", "RVA2", "SEEK", "SIGN", "TDEN", "TDOR", "TDRL", "TDTG",
                           "TIPL", "TMCL", "TMOO", "TPRO", "TSST", "CHAP", "CTOC"}) {
    if (id == only)
      return true;
  }
  return false;
}

}  // namespace

bool KeepInVersion23(const Id3v2Layout& stored, const Redecoding& redecoding,
                     const FileReading* reading, std::vector<OutputFrame>* out) {
  bool kept = true;
  for (const Id3v2Frame& original : stored.frames) {
    OutputFrame frame;
    frame.id = original.id;
    frame.frame = original;
    if (reading) {
      Id3v2Frame repaired;
      const PlaceRepair result =
          RepairFramePlaces(original, original.id, 3, *reading, nullptr, &repaired);
      kept = kept && result != PlaceRepair::kFailed;
      frame.frame = std::move(repaired);
    } else if (RedecodingChanges(original, FrameIdV24(3, original.id), redecoding)) {
      kept = kept && RedecodeFrame(original, original.id, redecoding, nullptr, &frame);
    } else if (!redecoding.automatic) {
      Id3v2Frame repaired;
      const PlaceRepair result = RepairTwiceEncodedFrame(original, original.id, nullptr, &repaired);
      kept = kept && result != PlaceRepair::kFailed;
      frame.frame = std::move(repaired);
    }
    out->push_back(std::move(frame));
  }
  return kept;
}

namespace {

// Frames that begin with a text encoding other than the text frames.
bool HasEncodingByte(const std::string& id) {
  for (const char* encoded :
       {"COMM", "USLT", "APIC", "SYLT", "GEOB", "USER", "OWNE", "COMR", "WXXX", "IPLS"}) {
    if (id == encoded)
      return true;
  }
  return false;
}

// Text stored as UTF-16 with a byte-order mark, the one Unicode form version
// 2.3 has; the values stay in their places. A character beyond the first
// plane (one wchar_t where it is 32 bits wide, a pair where it is 16) becomes
// a surrogate pair either way, so that every build writes the same bytes.
std::string Utf16TextData(const std::vector<std::wstring>& fields) {
  std::string data(1, '\x01');
  const auto append = [&](std::uint32_t unit) {
    data.push_back(char(unit & 0xFF));
    data.push_back(char(unit >> 8));
  };
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i)
      data += std::string(2, '\0');
    data += "\xFF\xFE";
    for (const wchar_t w : fields[i]) {
      const std::uint32_t c = std::uint32_t(w);
      if (c >= 0x10000) {
        append(0xD800 + ((c - 0x10000) >> 10));
        append(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        append(c);
      }
    }
  }
  return data;
}

// True when every byte after the encoding starts or continues a valid UTF-8
// sequence; other bytes have no one reading to carry into UTF-16.
bool IsValidUtf8Text(const std::string& data) {
  return IsValidUtf8(data.substr(std::min<std::size_t>(1, data.size())));
}

// TDRC as version 2.3 TYER, with TDAT and TIME when the date has a day and a
// time; false for any date those cannot hold exactly.
bool DateInVersion23(const OutputFrame& kept, std::vector<OutputFrame>* out) {
  std::vector<std::wstring> fields;
  if (!TextFrameFields(kept.frame, false, &fields) || fields.size() != 1)
    return false;
  const std::string date(fields[0].begin(), fields[0].end());
  const auto digits = [&](std::size_t at, std::size_t count) {
    return date.size() >= at + count && date.find_first_not_of("0123456789", at) >= at + count;
  };
  const bool day =
      date.size() >= 10 && date[4] == '-' && date[7] == '-' && digits(5, 2) && digits(8, 2);
  const bool time = date.size() == 16 && day && date[10] == 'T' && date[13] == ':' &&
                    digits(11, 2) && digits(14, 2);
  if (!digits(0, 4) || !(date.size() == 4 || (date.size() == 10 && day) || time))
    return false;
  const auto part = [&](const char* id, const std::string& value) {
    OutputFrame made = kept;
    made.kind = OutputFrame::kMergedDate;
    made.id = id;
    made.frame.id = id;
    made.frame.data = std::string(1, '\0') + value;
    out->push_back(made);
  };
  part("TYER", date.substr(0, 4));
  if (day)
    part("TDAT", date.substr(8, 2) + date.substr(5, 2));
  if (time)
    part("TIME", date.substr(11, 2) + date.substr(14, 2));
  return true;
}

// A version 2.4 frame in version 2.3 form with the same content, when there
// is one: TDRC becomes TYER (with TDAT and TIME when the date has them),
// UTF-8 and UTF-16BE text becomes UTF-16.
bool FrameInVersion23(const Id3v2Frame& frame, std::vector<OutputFrame>* out) {
  if (frame.malformed || (frame.hasDataLength && !frame.compressed) || OnlyInVersion24(frame.id))
    return false;
  const bool text = frame.id[0] == 'T' && !frame.compressed && !frame.encrypted;
  OutputFrame kept;
  kept.id = frame.id;
  kept.frame = frame;
  if (text && frame.id == "TDRC")
    return DateInVersion23(kept, out);
  if (!frame.compressed && !frame.encrypted && !frame.data.empty() &&
      (frame.data[0] == '\x02' || frame.data[0] == '\x03')) {
    std::vector<std::wstring> fields;
    if (!text || !TextFrameFields(frame, true, &fields) ||
        (frame.data[0] == '\x03' && !IsValidUtf8Text(frame.data)))
      return false;  // a comment, picture, ... in UTF-8 or UTF-16BE, or broken UTF-8
    kept.kind = OutputFrame::kRedecoded;
    kept.frame.data = Utf16TextData(fields);
    kept.expectedFields = fields;
    // Text that is no valid UTF-8 or UTF-16 would not read the same.
    std::vector<std::wstring> written;
    if (!TextFrameFields(kept.frame, true, &written) || written != fields)
      return false;
  } else if (HasEncodingByte(frame.id) && !frame.compressed && !frame.encrypted &&
             !frame.data.empty() && frame.data[0] != '\0' && frame.data[0] != '\x01') {
    return false;
  }
  out->push_back(kept);
  return true;
}

}  // namespace

bool ConvertToVersion23(const std::vector<OutputFrame>& frames, std::vector<OutputFrame>* out) {
  for (const OutputFrame& frame : frames) {
    Id3v2Frame named = frame.frame;
    named.id = frame.id;
    if (frame.kind == OutputFrame::kRedecoded) {
      if (OnlyInVersion24(frame.id) || frame.id == "TDRC")
        return false;
      out->push_back(frame);
    } else if (!FrameInVersion23(named, out)) {
      return false;
    }
  }
  return true;
}
