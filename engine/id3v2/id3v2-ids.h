// ID3v2 frame ids across the tag versions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/id3v2/id3v2-layout.h"

// The version 2.4 id of a version 2.2 or 2.3 frame id, as the version 2.4
// reading of the frame names it; empty when the frame has no version 2.4
// form with the same content.
std::string FrameIdV24(int version, const std::string& id);

// The id of a frame that version 2.4 no longer has (TDAT, TIME, TRDA, TSIZ,
// EQUA, RVAD) in its version 2.3 form, from a version 2.2 or 2.3 id; empty
// for any other frame.
std::string ObsoleteFrameId(int version, const std::string& id);
