// The platform layer on POSIX: a FIFO that stands in for the window, and
// pthreads. Files and folders are in disk-posix.cc, code pages in
// codepage-posix.cc.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// --- Memory ------------------------------------------------------------------

#if defined(__GLIBC__)
namespace {

// Blocks of 2 MiB and more (the tags of files that hold large pictures, and
// their copies while a repair is composed and journaled) are mapped apart
// and given back to the system when freed. By itself glibc raises its
// threshold for that to the size of the first such block freed, and later
// ones then stay in the heap of each thread that used them, so that the
// resident memory of a run grows past what it holds.
const bool kLargeBlocksMappedApart = mallopt(M_MMAP_THRESHOLD, 2 * 1024 * 1024) == 1;

}  // namespace
#endif

// --- Notifications -----------------------------------------------------------

struct NotificationQueue {
  std::mutex mutex;
  std::condition_variable posted;
  std::deque<Notification> pending;
};

namespace {

// The receiver wakes per batch rather than per notification: a wake costs
// more than handling a found file. It waits a moment for a batch to fill,
// which bounds the delay a notification can see.
constexpr std::size_t kBatch = 256;
constexpr std::chrono::milliseconds kBatchWait(5);

}  // namespace

bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload) {
  if (!target)
    return false;
  std::size_t queued = 0;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    target->pending.push_back(Notification{message, payload});
    queued = target->pending.size();
  }
  if (queued == 1 || queued == kBatch)
    target->posted.notify_one();
  return true;
}

NotifyTarget CreateNotifyTarget() {
  return new NotificationQueue;
}

void DestroyNotifyTarget(NotifyTarget target) {
  delete target;
}

void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context) {
  std::deque<Notification> batch;
  for (;;) {
    {
      // Everything posted so far is taken at once, in order.
      std::unique_lock<std::mutex> lock(target->mutex);
      target->posted.wait(lock, [target] { return !target->pending.empty(); });
      target->posted.wait_for(lock, kBatchWait,
                              [target] { return target->pending.size() >= kBatch; });
      batch.swap(target->pending);
    }
    while (!batch.empty()) {
      const Notification next = batch.front();
      batch.pop_front();
      if (handle(context, next))
        continue;
      // What the handler did not take stays queued, ahead of later posts.
      std::lock_guard<std::mutex> lock(target->mutex);
      target->pending.insert(target->pending.begin(), batch.begin(), batch.end());
      return;
    }
  }
}

// --- Threads -----------------------------------------------------------------

struct WorkerThread {
  pthread_t thread;
  ThreadProc proc;
  void* job;
};

namespace {

void* RunWorker(void* param) {
  auto* worker = static_cast<WorkerThread*>(param);
  worker->proc(worker->job);
  return nullptr;
}

}  // namespace

WorkerThread* StartWorkerThread(ThreadProc proc, void* job) {
  auto* worker = new WorkerThread{pthread_t(), proc, job};
  if (pthread_create(&worker->thread, nullptr, RunWorker, worker) != 0) {
    delete worker;
    return nullptr;
  }
  return worker;
}

void JoinWorkerThread(WorkerThread* thread) {
  if (!thread)
    return;
  pthread_join(thread->thread, nullptr);
  delete thread;
}

unsigned ProcessorCount() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
    return unsigned(CPU_COUNT(&allowed));
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? unsigned(online) : 1;
}

struct Gate {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};

Gate* CreateGate() {
  return new Gate;
}

void DestroyGate(Gate* gate) {
  if (!gate)
    return;
  pthread_cond_destroy(&gate->condition);
  pthread_mutex_destroy(&gate->mutex);
  delete gate;
}

void LockGate(Gate* gate) {
  pthread_mutex_lock(&gate->mutex);
}
void UnlockGate(Gate* gate) {
  pthread_mutex_unlock(&gate->mutex);
}
void WaitGate(Gate* gate) {
  pthread_cond_wait(&gate->condition, &gate->mutex);
}
void WakeGate(Gate* gate) {
  pthread_cond_broadcast(&gate->condition);
}

// --- Display -----------------------------------------------------------------

std::string PathForDisplay(const PathString& path) {
  return SanitizeUtf8(path);
}
