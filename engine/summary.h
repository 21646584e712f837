// The one-line summary shown when a run ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/platform/platform.h"

// The one-line summary of a run: "Successfully fixed 3 files, couldn't fix 1
// file", "No files needed fixing", ...
std::wstring ComposeSummary(std::uint32_t fixedCount, std::uint32_t failedCount);
