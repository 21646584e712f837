// MP3 files for the wizard's tests and a check of what became of them.
#pragma once

#include <filesystem>
#include <string>

#include "tests/fixtures.h"

// Stored as Latin-1 but written as code-page bytes: C0 E1 E2 is "Абв" in
// code page 1251.
extern const char kCodePageTitle[];

// A title frame stored as Latin-1 holding `title`, then ten MPEG frames.
std::string Mp3WithTitle(const std::string& title);

// What a file made by Mp3WithTitle(title) is after a run, compared with the
// bytes it was made from.
enum class FileState { kUntouched, kRepaired, kDamaged };
FileState Examine(const std::filesystem::path& path, const std::string& original,
                  const std::string& title);

// Marks a file read-only (or writable again) the Windows way.
void SetReadOnly(const std::filesystem::path& path, bool readOnly);

// Holds a file open without sharing while it lives, so that the repair
// cannot open it.
struct LockedFile {
  explicit LockedFile(const std::filesystem::path& path);
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;
  void* handle;
};
