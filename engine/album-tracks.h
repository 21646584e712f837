// An album's decision from the text of each of its tracks: the pooled text
// decides the album's page, and the pages some tracks clearly need on their
// own are kept only where such a track really gets one.
#pragma once

#include <vector>

#include "engine/text/album.h"
#include "engine/text/text-pool.h"

// Adds one track's text to the album being decided; `pages` gathers the
// pages the track's text alone decides.
void AddTrackText(const SuggestionPool& track, SuggestionPool* album,
                  std::vector<unsigned>* pages);

// The album's decision from its pooled text (built by AddTrackText); its
// trackCodePages are those of `pages` that one of `tracks` is read through
// (DecideFileReading), so that what is said of the album is what its files
// get.
AlbumDecision DecideAlbumOfTracks(const SuggestionPool& album, const std::vector<unsigned>& pages,
                                  const std::vector<SuggestionPool>& tracks);
