// The music folder scan: a depth-first walk that reports every ".mp3" file.
#include <locale>
#include <memory>
#include <vector>

#include <boost/algorithm/string/predicate.hpp>

#include "engine/platform/disk.h"
#include "engine/engine.h"
#include "engine/formats/format.h"
#include "engine/scan.h"

namespace {

bool StopRequested(const ScanJob& job) {
  return job.stopRequested && job.stopRequested->load(std::memory_order_relaxed);
}

void ReportUnreadable(const ScanJob& job, const PathString& folder) {
  if (!job.reportUnreadable)
    return;
  auto problem = std::make_unique<ScanProblem>();
  problem->folder = folder;
  problem->reason = LastDiskFailure();
  if (PostNotification(job.window, WM_SCAN_FOLDER_UNREADABLE,
                       reinterpret_cast<std::intptr_t>(problem.get())))
    problem.release();  // the receiver owns it now
}

// `ancestors` holds the folders now being walked, outermost first, so that a
// link leading back to one of them is not entered again.
void WalkFolder(const ScanJob& job, const PathString& folder,
                std::vector<FolderIdentity>* ancestors) {
  FolderIdentity identity;
  ClearDiskFailure();
  DirectoryListing* listing = OpenDirectoryListing(folder, &identity);
  if (!listing) {
    ReportUnreadable(job, folder);
    return;
  }
  if (identity.known) {
    for (const FolderIdentity& ancestor : *ancestors) {
      if (ancestor.known && ancestor.device == identity.device &&
          ancestor.inode == identity.inode) {
        CloseDirectoryListing(listing);
        return;
      }
    }
  }
  ancestors->push_back(identity);

  DirectoryEntry entry;
  PathString path;
  while (!StopRequested(job) && NextDirectoryEntry(listing, &entry)) {
    path.assign(folder).append(1, kPathSeparator).append(entry.name);
    if (entry.isDirectory) {
      WalkFolder(job, path, ancestors);
    } else {
      ReportMp3File(job, path);
    }
  }

  ancestors->pop_back();
  CloseDirectoryListing(listing);
}

}  // namespace

void ScanFolder(const ScanJob& job, const PathString& folder) {
  std::vector<FolderIdentity> ancestors;
  WalkFolder(job, folder, &ancestors);
}

void ReportMp3File(const ScanJob& job, const PathString& path) {
  // The classic locale: only a-z and A-Z fold, whatever the user's locale.
  static const std::locale classic = std::locale::classic();
  const bool wanted = job.allFormats ? FormatOfPath(path) != AudioFormat::kNone
                                     : boost::algorithm::iends_with(path, PATH_TEXT(".mp3"), classic);
  if (!wanted)
    return;
  auto found = std::make_unique<PathString>(path);
  if (PostNotification(job.window, WM_SCAN_FILE_FOUND,
                       reinterpret_cast<std::intptr_t>(found.get()))) {
    found.release();  // the receiver owns it now
  }
}
