#include "tests/engine_run.h"

#include <memory>
#include "engine/threads.h"

namespace {

struct Collector {
  std::vector<Received> received;
  unsigned last = 0;
};

bool Collect(void* context, const Notification& notification) {
  auto* collector = static_cast<Collector*>(context);
  Received entry;
  entry.message = notification.message;
  switch (notification.message) {
    case WM_SCAN_FILE_FOUND: {
      std::unique_ptr<PathString> path(reinterpret_cast<PathString*>(notification.payload));
      entry.path = *path;
      break;
    }
    case WM_SCAN_FOLDER_UNREADABLE: {
      std::unique_ptr<ScanProblem> problem(reinterpret_cast<ScanProblem*>(notification.payload));
      entry.path = problem->folder;
      entry.detail = problem->reason;
      break;
    }
    case WM_FIX_SUCCEEDED:
    case WM_FIX_NOT_NEEDED:
    case WM_FIX_FAILED: {
      std::unique_ptr<FileOutcome> outcome(reinterpret_cast<FileOutcome*>(notification.payload));
      entry.path = outcome->path;
      entry.issue = outcome->issue;
      entry.note = outcome->readingNote;
      entry.detail = outcome->detail;
      entry.changes = outcome->changes;
      break;
    }
    case WM_FIX_ALBUM_DECIDED: {
      std::unique_ptr<AlbumDecision> decision(
          reinterpret_cast<AlbumDecision*>(notification.payload));
      entry.path = decision->folder;
      entry.codePage = decision->codePage;
      entry.unsure = decision->unsure;
      entry.overridden = decision->overridden;
      break;
    }
    default:
      break;
  }
  collector->received.push_back(entry);
  return notification.message != collector->last;
}

std::vector<Received> Run(ThreadProc proc, void* job, NotifyTarget target, unsigned last) {
  Collector collector;
  collector.last = last;
  WorkerThread* thread = StartWorkerThread(proc, job);
  RunNotificationLoop(target, Collect, &collector);
  JoinWorkerThread(thread);
  DestroyNotifyTarget(target);
  return collector.received;
}

}  // namespace

std::vector<Received> RunScan(const PathString& folder, bool reportUnreadable, bool allFormats) {
  NotifyTarget target = CreateNotifyTarget();
  auto* job = new ScanJob;
  job->window = target;
  job->folder = folder;
  job->reportUnreadable = reportUnreadable;
  job->allFormats = allFormats;
  return Run(ScanThreadProc, job, target, WM_SCAN_COMPLETE);
}

std::vector<Received> RunFix(const std::vector<PathString>& files, unsigned codePage,
                             RunJournal* journal, std::size_t batchFiles, unsigned jobs,
                             const std::atomic<bool>* stop) {
  NotifyTarget target = CreateNotifyTarget();
  auto* job = new FixJob;
  job->window = target;
  job->files = &files;
  job->codePage = codePage;
  job->journal = journal;
  job->batchFiles = batchFiles;
  job->jobs = jobs;
  job->stopRequested = stop;
  return Run(FixThreadProc, job, target, WM_FIX_COMPLETE);
}

std::vector<Received> RunFixJob(FixJob* job) {
  NotifyTarget target = CreateNotifyTarget();
  job->window = target;
  return Run(FixThreadProc, job, target, WM_FIX_COMPLETE);
}

std::vector<Received> RunAutoFix(const std::vector<PathString>& files,
                                 const std::vector<AlbumCodePage>& named, bool preview) {
  NotifyTarget target = CreateNotifyTarget();
  auto* job = new FixJob;
  job->window = target;
  job->files = &files;
  job->automatic = true;
  job->albumCodePages = &named;
  job->preview = preview;
  return Run(FixThreadProc, job, target, WM_FIX_COMPLETE);
}

std::vector<PathString> FoundPaths(const std::vector<Received>& received) {
  std::vector<PathString> paths;
  for (const Received& entry : received) {
    if (entry.message == WM_SCAN_FILE_FOUND)
      paths.push_back(entry.path);
  }
  return paths;
}
