// Telling a file's format by its extension.
#include "engine/formats/format.h"
#include "engine/names/playlist.h"

#include <locale>

#include <boost/algorithm/string/predicate.hpp>

AudioFormat FormatOfPath(const PathString& path) {
  struct Extension {
    const PathChar* text;
    AudioFormat format;
  };
  static const Extension kExtensions[] = {
      {PATH_TEXT(".mp3"), AudioFormat::kMp3},   {PATH_TEXT(".flac"), AudioFormat::kFlac},
      {PATH_TEXT(".ogg"), AudioFormat::kOgg},   {PATH_TEXT(".oga"), AudioFormat::kOgg},
      {PATH_TEXT(".opus"), AudioFormat::kOgg},  {PATH_TEXT(".wav"), AudioFormat::kRiff},
      {PATH_TEXT(".aif"), AudioFormat::kRiff},  {PATH_TEXT(".aiff"), AudioFormat::kRiff},
      {PATH_TEXT(".aifc"), AudioFormat::kRiff}, {PATH_TEXT(".m4a"), AudioFormat::kMp4},
      {PATH_TEXT(".mp4"), AudioFormat::kMp4},   {PATH_TEXT(".m4b"), AudioFormat::kMp4},
      {PATH_TEXT(".wma"), AudioFormat::kAsf},   {PATH_TEXT(".asf"), AudioFormat::kAsf},
      {PATH_TEXT(".ape"), AudioFormat::kApe},   {PATH_TEXT(".wv"), AudioFormat::kApe},
  };
  // The classic locale: only a-z and A-Z fold, whatever the user's locale.
  static const std::locale classic = std::locale::classic();
  for (const Extension& extension : kExtensions) {
    if (boost::algorithm::iends_with(path, extension.text, classic))
      return extension.format;
  }
  return PlaylistKindOfPath(path) != PlaylistKind::kNone ? AudioFormat::kPlaylist
                                                         : AudioFormat::kNone;
}
