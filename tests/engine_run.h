// Runs the engine's worker threads as a front end does and records what
// arrives, in order, freeing every payload once.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/text/album.h"
#include "engine/engine.h"

struct Received {
  unsigned message = 0;
  PathString path;                   // the found path or the outcome's path
  std::wstring issue;                // the outcome's issue
  std::wstring note;                 // the outcome's reading note (automatic mode)
  std::wstring detail;               // what stood in the way of a failed file
  std::vector<FrameChange> changes;  // a preview's frames
  // WM_FIX_ALBUM_DECIDED: the album's folder (in `path`) and decision.
  unsigned codePage = 0;
  bool unsure = false;
  bool overridden = false;
};

// Scans `folder` on the scan thread and returns the notifications up to and
// including WM_SCAN_COMPLETE. A folder it cannot list arrives, when asked
// for, with the folder in `path` and the reason in `detail`.
std::vector<Received> RunScan(const PathString& folder, bool reportUnreadable = false,
                              bool allFormats = false);

// Repairs `files` on the fix thread and returns the notifications up to and
// including WM_FIX_COMPLETE.
// With a journal, saves go in batches of at most `batchFiles`; with `jobs`
// 2 or more that many threads read the next files while a batch commits;
// `stop` is the receiver's stop flag.
std::vector<Received> RunFix(const std::vector<PathString>& files, unsigned codePage,
                             RunJournal* journal = nullptr, std::size_t batchFiles = 256,
                             unsigned jobs = 1, const std::atomic<bool>* stop = nullptr);

// Runs `job` (its window set here), which the fix thread frees.
std::vector<Received> RunFixJob(FixJob* job);

// The same in automatic mode, with the pages named per album.
std::vector<Received> RunAutoFix(const std::vector<PathString>& files,
                                 const std::vector<AlbumCodePage>& named = {},
                                 bool preview = false);

// The paths of the WM_SCAN_FILE_FOUND notifications.
std::vector<PathString> FoundPaths(const std::vector<Received>& received);
