#include "tests/wizard/wizard_fixtures.h"

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <windows.h>

const char kCodePageTitle[] = "\xC0\xE1\xE2";

namespace {

const std::string& Audio() {
  static const std::string audio = fixtures::MpegFrames(10);
  return audio;
}

// What MultiByteToWideChar with the ANSI code page makes of the bytes.
std::wstring AnsiDecoded(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  const int count =
      MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &text[0], int(text.size()));
  text.resize(count > 0 ? size_t(count) : 0);
  return text;
}

}  // namespace

std::string Mp3WithTitle(const std::string& title) {
  return fixtures::Id3v2Tag({fixtures::TextFrame("TIT2", title)}) + Audio();
}

FileState Examine(const std::filesystem::path& path, const std::string& original,
                  const std::string& title) {
  const std::string bytes = fixtures::ReadFile(path);
  if (bytes == original) {
    return FileState::kUntouched;
  }
  // Repaired: the same audio at the end and a title frame now stored as
  // UTF-16, holding what the code page makes of the old bytes.
  if (bytes.size() < Audio().size() ||
      bytes.compare(bytes.size() - Audio().size(), Audio().size(), Audio()) != 0) {
    return FileState::kDamaged;
  }
  TagLib::MPEG::File file(path.wstring().c_str(), false);
  TagLib::ID3v2::Tag* tag = file.isValid() ? file.ID3v2Tag() : nullptr;
  if (!tag || tag->frameListMap()["TIT2"].isEmpty()) {
    return FileState::kDamaged;
  }
  auto* frame =
      dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(tag->frameListMap()["TIT2"].front());
  if (!frame || frame->textEncoding() != TagLib::String::UTF16 ||
      frame->toString().toWString() != AnsiDecoded(title)) {
    return FileState::kDamaged;
  }
  return FileState::kRepaired;
}

void SetReadOnly(const std::filesystem::path& path, bool readOnly) {
  SetFileAttributesW(path.wstring().c_str(),
                     readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

LockedFile::LockedFile(const std::filesystem::path& path)
    : handle(CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}

LockedFile::~LockedFile() {
  CloseHandle(handle);
}
