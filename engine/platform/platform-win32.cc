// The platform layer on Windows: PostMessageW to a window, CreateThread and
// slim reader/writer locks. Files and folders are in disk-win32.cc, code
// pages in codepage-win32.cc.
#include <string>

#include "engine/platform/platform.h"
#include "engine/platform/text.h"

static_assert(WM_APP == 0x8000, "the engine's notifications sit above WM_APP");

// --- Notifications -----------------------------------------------------------

bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload) {
  return PostMessageW(target, message, 0, static_cast<LPARAM>(payload)) != FALSE;
}

namespace {

const wchar_t kReceiverClass[] = L"BrenvaleSongwrightReceiver";

// A message-only window's procedure hands every message above WM_APP to the
// handler stored in the loop that is running.
struct LoopContext {
  NotificationHandler handle;
  void* context;
};

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) {
    auto* loop = reinterpret_cast<LoopContext*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (loop && !loop->handle(loop->context, Notification{message, lParam}))
      PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

NotifyTarget CreateNotifyTarget() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ReceiverProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kReceiverClass;
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  return CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                         nullptr);
}

void DestroyNotifyTarget(NotifyTarget target) {
  DestroyWindow(target);
}

void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context) {
  LoopContext loop{handle, context};
  SetWindowLongPtrW(target, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&loop));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  SetWindowLongPtrW(target, GWLP_USERDATA, 0);
}

// --- Threads -----------------------------------------------------------------

struct WorkerThread {
  HANDLE handle;
};

WorkerThread* StartWorkerThread(ThreadProc proc, void* job) {
  const HANDLE handle = CreateThread(nullptr, 0, proc, job, 0, nullptr);
  if (!handle)
    return nullptr;
  return new WorkerThread{handle};
}

void JoinWorkerThread(WorkerThread* thread) {
  if (!thread)
    return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

unsigned ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? unsigned(info.dwNumberOfProcessors) : 1;
}

struct Gate {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

Gate* CreateGate() {
  return new Gate;
}
void DestroyGate(Gate* gate) {
  delete gate;
}
void LockGate(Gate* gate) {
  AcquireSRWLockExclusive(&gate->lock);
}
void UnlockGate(Gate* gate) {
  ReleaseSRWLockExclusive(&gate->lock);
}
void WaitGate(Gate* gate) {
  SleepConditionVariableSRW(&gate->condition, &gate->lock, INFINITE, 0);
}
void WakeGate(Gate* gate) {
  WakeAllConditionVariable(&gate->condition);
}

// --- Display -----------------------------------------------------------------

std::string PathForDisplay(const PathString& path) {
  return WideToUtf8(path);
}
