// Deciding an album from its tracks.
#include "engine/album-tracks.h"

#include <algorithm>

#include "engine/id3v2/place-reading.h"

void AddTrackText(const SuggestionPool& track, SuggestionPool* album,
                  std::vector<unsigned>* pages) {
  const unsigned page = OwnTrackPage(track);
  if (page != kLeaveText && std::find(pages->begin(), pages->end(), page) == pages->end())
    pages->push_back(page);
  MergePool(album, track);
}

namespace {

// The first of `texts` that the reading changes, as it reads; empty when
// none changes.
std::wstring FirstChanged(const std::vector<std::string>& texts, const FileReading& reading) {
  for (const std::string& bytes : texts) {
    std::wstring stored;
    for (const char c : bytes)
      stored.push_back(wchar_t(static_cast<unsigned char>(c)));
    std::wstring read = ReadPlace(stored, reading);
    if (read != stored)
      return read;
  }
  return std::wstring();
}

}  // namespace

AlbumDecision DecideAlbumOfTracks(const SuggestionPool& album, const std::vector<unsigned>& pages,
                                  const std::vector<SuggestionPool>& tracks) {
  AlbumDecision decision = DecideAlbum(album);
  // The sample is a title the run changes, where one changes.
  std::wstring changedTitle, changedText;
  for (const SuggestionPool& track : tracks) {
    const FileReading reading = DecideFileReading(track, decision.codePage, false, pages);
    if (changedTitle.empty())
      changedTitle = FirstChanged(track.titles, reading);
    if (changedText.empty())
      changedText = FirstChanged(track.texts, reading);
    const unsigned page = reading.codePage;
    const bool listed = std::find(decision.trackCodePages.begin(), decision.trackCodePages.end(),
                                  page) != decision.trackCodePages.end();
    if (page != kLeaveText && page != decision.codePage && !listed)
      decision.trackCodePages.push_back(page);
  }
  if (decision.codePage != kLeaveText && (!changedTitle.empty() || !changedText.empty()))
    decision.sample = !changedTitle.empty() ? changedTitle : changedText;
  return decision;
}
