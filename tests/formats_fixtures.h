// Running the container modules (engine/formats/format.h) over bytes in memory, and
// the checks their tests share.
#pragma once

#include <filesystem>
#include <string>

#include "engine/commit/edit.h"
#include "engine/engine.h"
#include "engine/id3v2/place-reading.h"
#include "engine/text/text-pool.h"

namespace container_fixtures {

struct Module {
  void (*collect)(TagLib::IOStream*, SuggestionPool*);
  unsigned (*render)(TagLib::IOStream*, const FileReading&, FileOutcome*, Edit*);
};
extern const Module kMp4, kAsf, kRiff;

struct Run {
  unsigned result = 0;
  FileOutcome outcome;
  Edit edit;
  std::string after;  // the file with the edit applied (the file itself without one)
  std::uint64_t bytesRead = 0;  // of the file, by the module's render
};

// Collects the file's text, decides its reading as `redecoding` says and
// renders the repair.
Run RunModule(const Module& module, const std::string& bytes, const Redecoding& redecoding);

// The album read through cp1251 in automatic mode, or named (not automatic).
Redecoding Automatic(unsigned codePage = 1251);
Redecoding Named(unsigned codePage = 1251);
// Automatic mode with the page decided from the file's own text, as for an
// album of this one file.
Redecoding DecidedAlone(const Module& module, const std::string& bytes);

// A file of tests/data/formats (made by scripts/make-format-samples.py).
std::string Sample(const std::string& name);

// The new text of the change of `frameId`; "(none)" when there is none.
std::wstring ChangedTo(const FileOutcome& outcome, const std::string& frameId);

// The MD5 of the decoded audio as ffmpeg gives it, with how a whole decode
// ended and how many errors it reported; empty when ffmpeg is not installed.
bool HaveFfmpeg();
std::string AudioMd5(const std::filesystem::path& path);

}  // namespace container_fixtures
