// The platform layer on Windows: FindFirstFileW/FindNextFileW,
// MultiByteToWideChar, PostMessageW to a window and CreateThread.
#include <memory>
#include <string>

#include "engine/platform.h"

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
    if (loop && !loop->handle(loop->context, Notification{message, lParam})) PostQuitMessage(0);
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

void DestroyNotifyTarget(NotifyTarget target) { DestroyWindow(target); }

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
  if (!handle) return nullptr;
  return new WorkerThread{handle};
}

void JoinWorkerThread(WorkerThread* thread) {
  if (!thread) return;
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

// --- Directory listing -------------------------------------------------------

struct DirectoryListing {
  HANDLE search;
  WIN32_FIND_DATAW data;
  bool haveEntry;  // FindFirstFileW's entry not yet delivered
};

DirectoryListing* OpenDirectoryListing(const PathString& folder, FolderIdentity* identity) {
  // Junction loops end at the path length limit, so folders go unidentified.
  identity->known = false;
  auto listing = std::make_unique<DirectoryListing>();
  const std::wstring pattern = folder + L"\\*";
  listing->search = FindFirstFileW(pattern.c_str(), &listing->data);
  if (listing->search == INVALID_HANDLE_VALUE) return nullptr;
  listing->haveEntry = true;
  return listing.release();
}

bool NextDirectoryEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  if (!listing->haveEntry && !FindNextFileW(listing->search, &listing->data)) return false;
  listing->haveEntry = false;
  entry->name.assign(listing->data.cFileName);
  entry->isDirectory = (listing->data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

void CloseDirectoryListing(DirectoryListing* listing) {
  FindClose(listing->search);
  delete listing;
}

// --- Code pages --------------------------------------------------------------

unsigned AnsiCodePage() { return GetACP(); }

// The same pages as on every other platform, so that a command line means the
// same everywhere.
bool IsCodePageSupported(unsigned codePage) {
  const bool listed = codePage == 874 || (codePage >= 1250 && codePage <= 1258) ||
                      codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
  return listed && IsValidCodePage(codePage) != FALSE;
}

std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  // Never more wide characters than bytes; the zero fill ends the text.
  std::wstring buffer(bytes.size() + 1, L'\0');
  const int count = static_cast<int>(bytes.size());
  const int written = MultiByteToWideChar(codePage == 0 ? CP_ACP : codePage, 0, bytes.data(),
                                          count, &buffer[0], count + 1);
  buffer.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return buffer;
}

// --- Display -----------------------------------------------------------------

std::string PathForDisplay(const PathString& path) { return WideToUtf8(path); }
