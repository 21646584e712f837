// Each format's module behind one door, and the per-file reading they share.
#include "engine/formats/container-repair.h"

#include "engine/formats/container-text.h"
#include "engine/text/dos-pages.h"
#include "engine/formats/format-ape.h"
#include "engine/formats/format-asf.h"
#include "engine/formats/format-flac.h"
#include "engine/formats/format-mp4.h"
#include "engine/formats/format-ogg.h"
#include "engine/formats/format-riff.h"
#include "engine/id3v2/place-reading.h"
#include "engine/names/playlist.h"

namespace {

using Collect = void (*)(TagLib::IOStream*, SuggestionPool*);
using Render = unsigned (*)(TagLib::IOStream*, const FileReading&, FileOutcome*, Edit*);

struct Module {
  AudioFormat format;
  Collect collect;
  Render render;
};

constexpr Module kModules[] = {
    {AudioFormat::kFlac, CollectFlacText, RenderFlacRepair},
    {AudioFormat::kOgg, CollectOggText, RenderOggRepair},
    {AudioFormat::kApe, CollectApeText, RenderApeRepair},
    {AudioFormat::kMp4, CollectMp4Text, RenderMp4Repair},
    {AudioFormat::kAsf, CollectAsfText, RenderAsfRepair},
    {AudioFormat::kRiff, CollectRiffText, RenderRiffRepair},
};

const Module* ModuleFor(AudioFormat format) {
  for (const Module& module : kModules) {
    if (module.format == format)
      return &module;
  }
  return nullptr;
}

}  // namespace

void CollectContainerText(TagLib::IOStream* file, AudioFormat format, SuggestionPool* pool) {
  if (const Module* module = ModuleFor(format))
    module->collect(file, pool);
}

void CollectPlaylistFile(TagLib::IOStream* file, const PathString& path, SuggestionPool* pool) {
  CollectPlaylistText(file, PlaylistKindOfPath(path), pool);
}

unsigned RenderPlaylistFile(TagLib::IOStream* file, const PathString& path,
                            const Redecoding& redecoding, FileOutcome* outcome, Edit* edit) {
  SuggestionPool own;
  own.distinctTexts = true;
  const PlaylistKind kind = PlaylistKindOfPath(path);
  CollectPlaylistText(file, kind, &own);
  std::size_t placesLeft = 0;
  FileReading reading = ReadingOfTexts(own, redecoding, &placesLeft);
  // DOS-era tools wrote cue sheets and playlists in their own pages (D3),
  // beside tags of the Windows page.
  if (redecoding.automatic && (!reading.named || redecoding.tagsPage))
    reading.codePage = DosPageOfText(own.texts, reading.codePage);
  return RenderPlaylistRepair(file, kind, reading, redecoding.renames, path, outcome, edit);
}

unsigned RenderContainerRepair(TagLib::IOStream* file, AudioFormat format,
                               const Redecoding& redecoding, FileOutcome* outcome, Edit* edit) {
  const Module* module = ModuleFor(format);
  if (!module)
    return WM_FIX_NOT_NEEDED;
  SuggestionPool own;
  own.distinctTexts = true;
  module->collect(file, &own);
  std::size_t placesLeft = 0;
  const FileReading reading = ReadingOfTexts(own, redecoding, &placesLeft);
  const unsigned message = module->render(file, reading, outcome, edit);
  if (redecoding.automatic && message != WM_FIX_FAILED)
    outcome->readingNote = ReadingNote(reading, placesLeft);
  return message;
}
