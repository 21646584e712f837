// Runs the engine's worker threads as a front end does and records what
// arrives, in order, freeing every payload once.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

struct Received {
  unsigned message = 0;
  PathString path;     // the found path or the outcome's path
  std::wstring issue;  // the outcome's issue
};

// Scans `folder` on the scan thread and returns the notifications up to and
// including WM_SCAN_COMPLETE.
std::vector<Received> RunScan(const PathString& folder);

// Repairs `files` on the fix thread and returns the notifications up to and
// including WM_FIX_COMPLETE.
// With a journal, saves go in batches of at most `batchFiles`.
std::vector<Received> RunFix(const std::vector<PathString>& files, unsigned codePage,
                             RunJournal* journal = nullptr, std::size_t batchFiles = 256);

// The paths of the WM_SCAN_FILE_FOUND notifications.
std::vector<PathString> FoundPaths(const std::vector<Received>& received);
