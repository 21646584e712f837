// The command line's scan phase alone: the engine's scan thread walks FOLDER
// and the main thread collects every WM_SCAN_FILE_FOUND path, as songwright
// does before it starts fixing. Prints the number of MP3 files found.
//
//   scan-only FOLDER
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/threads.h"

namespace {

struct ScanState {
  std::vector<PathString> foundFiles;
  WorkerThread* scanThread = nullptr;
};

bool HandleNotification(void* context, const Notification& notification) {
  auto* state = static_cast<ScanState*>(context);
  switch (notification.message) {
    case WM_SCAN_FILE_FOUND: {
      std::unique_ptr<PathString> path(reinterpret_cast<PathString*>(notification.payload));
      state->foundFiles.push_back(std::move(*path));
      return true;
    }
    case WM_SCAN_COMPLETE:
      JoinWorkerThread(state->scanThread);
      state->scanThread = nullptr;
      return false;
    default:
      return true;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: scan-only FOLDER\n");
    return 2;
  }
  ScanState state;
  NotifyTarget target = CreateNotifyTarget();
  auto* job = new ScanJob;
  job->window = target;
  job->folder = argv[1];
  state.scanThread = StartWorkerThread(ScanThreadProc, job);
  if (!state.scanThread) {
    delete job;
    std::fprintf(stderr, "scan-only: could not start a thread\n");
    return 1;
  }
  RunNotificationLoop(target, HandleNotification, &state);
  DestroyNotifyTarget(target);
  std::printf("%zu\n", state.foundFiles.size());
  return 0;
}
