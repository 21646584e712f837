// The two worker thread procedures. Each owns its job from the moment it
// starts and reports only through posted notifications.
#include <memory>

#include "engine/engine.h"
#include "engine/fix-loop.h"
#include "engine/scan.h"
#include "engine/threads.h"

ThreadResult THREAD_CALL ScanThreadProc(void* param) {
  std::unique_ptr<ScanJob> job(static_cast<ScanJob*>(param));
  ScanFolder(*job, job->folder);
  PostNotification(job->window, WM_SCAN_COMPLETE, 0);
  return 0;
}

ThreadResult THREAD_CALL FixThreadProc(void* param) {
  std::unique_ptr<FixJob> job(static_cast<FixJob*>(param));
  FixFiles(*job);
  PostNotification(job->window, WM_FIX_COMPLETE, 0);
  return 0;
}
