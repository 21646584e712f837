// Deciding an album from its tracks.
#include "engine/album-tracks.h"

#include <algorithm>

#include "engine/place-reading.h"

void AddTrackText(const SuggestionPool& track, SuggestionPool* album,
                  std::vector<unsigned>* pages) {
  const unsigned page = track.texts.empty() ? kLeaveText : DecideAlbum(track).codePage;
  if (page != kLeaveText && std::find(pages->begin(), pages->end(), page) == pages->end())
    pages->push_back(page);
  MergePool(album, track);
}

AlbumDecision DecideAlbumOfTracks(const SuggestionPool& album, const std::vector<unsigned>& pages,
                                  const std::vector<SuggestionPool>& tracks) {
  AlbumDecision decision = DecideAlbum(album);
  for (const SuggestionPool& track : tracks) {
    const unsigned page = DecideFileReading(track, decision.codePage, false, pages).codePage;
    const bool listed = std::find(decision.trackCodePages.begin(), decision.trackCodePages.end(),
                                  page) != decision.trackCodePages.end();
    if (page != kLeaveText && page != decision.codePage && !listed)
      decision.trackCodePages.push_back(page);
  }
  return decision;
}
