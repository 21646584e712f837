// APEv2 tags at the end of .ape, .wv and MP3 files: the text items, each
// value of them (values are NUL-separated) read as a UTF-8 field. Binary
// items (cover art) and links stay byte for byte. An APEv1 tag (version
// 1000) is left: it predates the rule that its text is UTF-8, and what its
// writers stored cannot be told from right text.
//
// The edit covers the tag only; an ID3v1 tag after it moves with the end.
#include <string>
#include <utility>
#include <vector>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/containers/apev2.h"
#include "engine/formats/container-text.h"
#include "engine/formats/format-ape.h"
#include "engine/formats/format.h"

namespace {

constexpr std::uint32_t kApeVersion2 = 2000;

std::vector<std::string> SplitValues(const std::string& value) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t nul = value.find('\0', from);
    parts.push_back(value.substr(from, nul == std::string::npos ? nul : nul - from));
    if (nul == std::string::npos)
      return parts;
    from = nul + 1;
  }
}

bool IsTitleKey(const std::string& key) {
  static const char kTitle[] = "title";
  if (key.size() != 5)
    return false;
  for (std::size_t i = 0; i < 5; ++i)
    if ((key[i] | 0x20) != kTitle[i])
      return false;
  return true;
}

bool ReadTag(TagLib::IOStream* file, ApeTag* tag) {
  return FindApeTag(file, tag) && tag->version == kApeVersion2;
}

// The item with each value repaired; false when none changes.
bool RepairItem(const ApeItem& item, const FileReading& reading, ApeItem* out,
                std::vector<FrameChange>* changes) {
  std::wstring before, after;
  std::string value, repaired;
  bool changed = false;
  const std::vector<std::string> parts = SplitValues(item.value);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string fixed = parts[i];
    if (RepairUtf8Field(parts[i], reading, &repaired)) {
      fixed = repaired;
      changed = true;
    }
    if (i > 0) {
      before += L" / ";
      after += L" / ";
      value.push_back('\0');
    }
    before += ShownUtf8Field(parts[i]);
    after += DecodeUtf8(fixed);
    value += fixed;
  }
  if (!changed)
    return false;
  *out = item;
  out->value = value;
  changes->push_back(FrameChange{item.key, before, after});
  return true;
}

}  // namespace

void CollectApeText(TagLib::IOStream* file, SuggestionPool* pool) {
  ApeTag tag;
  if (!ReadTag(file, &tag))
    return;
  for (const ApeItem& item : tag.items)
    if (item.IsText())
      for (const std::string& part : SplitValues(item.value))
        CollectUtf8Field(part, IsTitleKey(item.key), pool);
}

unsigned RenderApeRepair(TagLib::IOStream* file, const FileReading& reading, FileOutcome* outcome,
                         Edit* edit) {
  ApeTag tag;
  if (!ReadTag(file, &tag))
    return WM_FIX_NOT_NEEDED;
  // Repaired in place: a cover item of many megabytes is never copied.
  ApeTag& repaired = tag;
  std::vector<FrameChange> changes;
  for (ApeItem& item : repaired.items) {
    ApeItem out;
    if (item.IsText() && RepairItem(item, reading, &out, &changes))
      item = out;
  }
  if (changes.empty())
    return WM_FIX_NOT_NEEDED;
  std::string bytes = RenderApeTag(repaired);
  // F2: the new tag reads back with every item as expected, in order.
  if (!ApeTagReadsAs(bytes, repaired)) {
    outcome->issue = kIssueCouldNotSave;
    outcome->detail = L"the repaired APE tag did not read back as written";
    outcome->changes.clear();
    return WM_FIX_FAILED;
  }
  edit->recorded = true;
  edit->offset = tag.start;
  edit->replaced = tag.size;
  edit->bytes = std::move(bytes);
  outcome->changes.insert(outcome->changes.end(), changes.begin(), changes.end());
  return WM_FIX_SUCCEEDED;
}
