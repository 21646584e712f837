// Checking a rewritten MP4 movie box against the old one: only the tag
// items and the chunk offsets may differ.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/containers/mp4-atoms.h"
#include "engine/containers/mp4-tags.h"

// Reads `newMoov` back and checks it against the old one (engine/formats/format.h
// F2): every item as stored but for the changed data atoms, which hold
// `values`; every other atom of moov as stored but for free atoms and chunk
// offsets; the chunk offsets `offsets` when given, else as stored. False,
// with `detail`, when anything differs.
bool CheckMp4Moov(const std::string& oldMoov, const Mp4Tags& oldTags,
                  const std::map<std::size_t, std::string>& values, const std::string& newMoov,
                  const std::vector<std::uint64_t>* offsets, std::wstring* detail);
