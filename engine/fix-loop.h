// The fix loop: reads each album's files, decides its code page, renders
// the repairs and hands them to the batch commit.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/platform/platform.h"

// Repairs every file of the job's list in order and posts one outcome each.
void FixFiles(const FixJob& job);
