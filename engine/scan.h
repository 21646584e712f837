// Walking the chosen folders for the files a run can repair.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/platform/platform.h"

// Walks `folder` depth first and reports every file whose path ends in
// ".mp3" in any letter case (with `allFormats`, every file of a format the
// engine repairs).
void ScanFolder(const ScanJob& job, const PathString& folder);

void ReportMp3File(const ScanJob& job, const PathString& path);
