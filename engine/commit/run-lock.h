// One run per library at a time: a run (or an undo) that writes takes locks
// over its paths, so that a second run over the same files refuses to start
// while two runs over different folders go on side by side.
// Each lock is taken and released through the disk in use (engine/platform/disk.h).
//
// Calling sequence:
//   LockRunPaths     once the run's paths are checked and before it touches
//                    any file (a preview writes nothing and takes none);
//   ... the run ...
//   UnlockRunPaths   when the run ends. The locks also end with the process,
//                    however it ends, so a killed run never leaves one.
//
// Invariants:
//   RL1. Two runs whose paths overlap (the same path, or one inside the
//       other) never hold their locks at once: a run holds each of its
//       paths exclusively and every folder above them shared.
//   RL2. Runs whose paths do not overlap never stop each other: shared locks
//       on the folders above them go together.
//   RL3. A run that cannot take its locks because another run holds one
//       refuses before it touches anything, and names the path; it never
//       waits.
//   RL4. A path that cannot be locked for any other reason (a file system
//       without locks, a folder that cannot be opened) does not stop the
//       run: the lock is a guard against a second run, not a condition of a
//       safe save.
#pragma once

#include <vector>

#include "engine/platform/platform.h"

struct RunLocks;

// The locks over `paths`; null when another run holds one of them
// (`busyPath` then names the path of this run it covers).
RunLocks* LockRunPaths(const std::vector<PathString>& paths, PathString* busyPath);
void UnlockRunPaths(RunLocks* locks);
