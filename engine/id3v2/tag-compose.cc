// Composes the tag a repair writes from its frames, and reads it back before
// anything is written.
#include "engine/id3v2/id3v2-text.h"
#include "engine/id3v2/tag-compose.h"

#include <algorithm>

#include "engine/id3v2/redecode.h"

bool ReadTagLibFrame(const TagLib::ID3v2::Frame& frame, Id3v2Frame* out) {
  const TagLib::ByteVector rendered = frame.render();
  return ReadPlainFrameV24(std::string(rendered.data(), rendered.size()), out);
}

// The tag as TagLib renders it: a version 2.4 (or 2.3) header and the frames,
// padded so that the audio stays where it is whenever the frames fit in the
// old tag's bytes (`region`, header included). A tag that outgrows them grows
// by whole 4 KiB blocks, with at least TagLib's 1 KB of padding, so that the
// file system can open the room before the audio instead of the audio being
// copied. The rule looks only at the two sizes, so every build writes the
// same bytes; only the padding can differ from TagLib's own save, and it is
// never smaller.
std::string ComposeTag(const std::vector<OutputFrame>& frames, const Id3v2Layout* old,
                       std::uint64_t region, int version) {
  // Composed in one string, reserved for the frames and the old tag's room,
  // so that a tag holding a large picture is not copied on the way.
  std::uint64_t expected = 10;
  for (const OutputFrame& frame : frames)
    expected += frame.frame.data.size() + 32;
  constexpr std::uint64_t kMinPadding = 1024, kBlock = 4096, kLargestBody = (1u << 28) - 1;
  std::string tag = "ID3";
  tag.reserve(std::size_t(std::max(expected, region) + kMinPadding + kBlock));
  tag.push_back(char(version));
  tag.push_back('\0');
  // Only the experimental mark of the old header stays, as with TagLib.
  tag.push_back(char(old && old->version >= 3 ? (old->flags & 0x20) : 0));
  tag.append(4, '\0');  // the size, once known
  for (const OutputFrame& frame : frames) {
    if (version != 3) {
      tag += RenderFrameV24(frame.frame, frame.id);
      continue;
    }
    Id3v2Frame named = frame.frame;
    named.id = frame.id;
    tag += RenderFrameV23(named);
  }
  const std::uint64_t framed = tag.size();
  std::uint64_t tagSize = region;
  if (!old || framed >= region)
    tagSize = region + (framed + kMinPadding - region + kBlock - 1) / kBlock * kBlock;
  if (tagSize - 10 > kLargestBody)
    tagSize = framed + kMinPadding;
  tag.resize(std::size_t(tagSize), '\0');
  std::string size;
  AppendSyncsafe(&size, std::uint32_t(tagSize - 10));
  tag.replace(6, 4, size);
  return tag;
}

std::wstring Widen(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

namespace {

// A re-decoded frame must read as its expected values, in UTF-16, with the
// flags it was given.
bool ReadsAsExpected(const Id3v2Frame& got, const OutputFrame& want, std::wstring* detail) {
  Id3v2Frame flagsOnly = got, wantedFlags = want.frame;
  wantedFlags.id = want.id;
  flagsOnly.data.clear();
  wantedFlags.data.clear();
  std::vector<std::wstring> fields;
  if (TextFrameFields(got, true, &fields) && got.data[0] == '\x01' &&
      fields == want.expectedFields && flagsOnly == wantedFlags)
    return true;
  *detail = Widen(want.id) + L" would read \u201c" + DescribeFields(fields) +
            L"\u201d instead of \u201c" + DescribeFields(want.expectedFields) + L"\u201d";
  return false;
}

}  // namespace

// Kept frames must come back exactly as they were given, re-decoded frames
// by their text.
bool VerifyTag(const std::string& tag, const std::vector<OutputFrame>& expected,
               std::wstring* detail) {
  Id3v2Layout written;
  if (!ReadId3v2Layout(tag, &written, /*embeddedAsV24=*/tag[3] != '\x03') ||
      !written.unreadable.empty() || written.frames.size() != expected.size()) {
    *detail = L"the repaired tag does not read back";
    return false;
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const OutputFrame& want = expected[i];
    Id3v2Frame& got = written.frames[i];
    if (want.kind == OutputFrame::kRedecoded) {
      if (!ReadsAsExpected(got, want, detail))
        return false;
      continue;
    }
    // Compared under the frame's own id, without a copy of its data.
    const bool sameId = got.id == want.id;
    got.id = want.frame.id;
    if (!sameId || got != want.frame) {
      *detail = L"frame " + Widen(want.id) + L" would change";
      return false;
    }
  }
  return true;
}
