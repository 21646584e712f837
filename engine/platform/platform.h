// The small layer that differs per platform: native paths, posting a
// notification to the user-interface thread, starting threads and the locks
// they share, and text shown to a person. platform-posix.cc and
// platform-win32.cc implement it (text.cc the conversions that are the same
// everywhere); files and folders are in disk.h, code pages in codepage.h.
// The rest of the engine is the same source everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

// Paths stay in the platform's native form from the directory listing to
// TagLib's open call: wide on Windows, bytes on POSIX.
#ifdef _WIN32
using PathChar = wchar_t;
#define PATH_TEXT(s) L##s
#else
using PathChar = char;
#define PATH_TEXT(s) s
#endif
using PathString = std::basic_string<PathChar>;

// The separator the scan puts between a folder path and an entry name.
#ifdef _WIN32
constexpr PathChar kPathSeparator = L'\\';
#else
constexpr PathChar kPathSeparator = '/';
#endif

// Where worker threads send their notifications: a window on Windows, an
// in-process FIFO that stands in for one elsewhere.
#ifdef _WIN32
using NotifyTarget = HWND;
using ThreadResult = DWORD;
#define THREAD_CALL WINAPI
#else
struct NotificationQueue;
using NotifyTarget = NotificationQueue*;
using ThreadResult = std::uint32_t;
#define THREAD_CALL
#endif

using ThreadProc = ThreadResult(THREAD_CALL*)(void* job);

// One posted notification as the receiver sees it.
struct Notification {
  unsigned message = 0;
  std::intptr_t payload = 0;
};

// --- Notifications -----------------------------------------------------------

// Queues `message` for the target's thread; notifications from one thread
// arrive in the order posted. Returns false when the target is gone, in which
// case the payload still belongs to the caller.
bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload);

// A receiver for front ends that have no window of their own (the command
// line and tests): created and drained on one thread.
NotifyTarget CreateNotifyTarget();
void DestroyNotifyTarget(NotifyTarget target);

// Delivers every notification posted to `target`, in order, to `handle`
// until it returns false. Runs on the thread that created the target.
using NotificationHandler = bool (*)(void* context, const Notification& notification);
void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context);

// --- Threads -----------------------------------------------------------------

struct WorkerThread;

// Starts `proc(job)` at once on a new thread with the default stack. Returns
// null if no thread could be started (the job then still belongs to the
// caller).
WorkerThread* StartWorkerThread(ThreadProc proc, void* job);

// Waits until the thread has returned and releases the handle.
void JoinWorkerThread(WorkerThread* thread);

// The processors this process may run on; at least 1.
unsigned ProcessorCount();

// A lock with one condition on it, for threads that hand work to each other.
// `WaitGate` is called with the lock held; it releases the lock while it
// sleeps and holds it again when woken. `WakeGate` wakes every waiter.
struct Gate;
Gate* CreateGate();
void DestroyGate(Gate* gate);
void LockGate(Gate* gate);
void UnlockGate(Gate* gate);
void WaitGate(Gate* gate);
void WakeGate(Gate* gate);

// --- Display -----------------------------------------------------------------

// Text shown to a person, as UTF-8: a native path (invalid UTF-8 shows as
// U+FFFD on POSIX) or wide text.
std::string PathForDisplay(const PathString& path);

// Most of the engine needs all three, so for now this header also brings in
// the files and folders (disk.h) and the code pages (codepage.h); a file
// that needs only one of them includes that one.
#include "engine/text/codepage.h"
#include "engine/platform/disk.h"
