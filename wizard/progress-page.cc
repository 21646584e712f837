// The progress page: runs the scan and then the repair on worker threads,
// collects what they report and moves on to the results page by itself.
#include <memory>

#include <shlobj.h>

#include "engine/commit/journal.h"
#include "engine/threads.h"
#include "resources/resource.h"
#include "wizard/wizard.h"

namespace {

// The previous worker has posted its last message by now; waiting for it to
// return keeps one worker record at a time.
void JoinFinishedWorker(WorkerControl* worker) {
  JoinWorkerThread(worker->thread);
  worker->thread = nullptr;
  EndRunJournal(worker->journal);
  worker->journal = nullptr;
}

// Where the repair keeps its batch journal while it runs.
PathString LocalStateFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_LOCAL_APPDATA, FALSE))
    return PathString();
  return PathString(buffer) + L"\\Songwright";
}

void StartScan(HWND window, const ProgressPageView* view) {
  const HWND marquee = GetDlgItem(window, IDC_PROGRESS_MARQUEE);
  SendMessageW(marquee, PBM_SETMARQUEE, TRUE, 0);
  ShowWindow(marquee, SW_SHOW);
  ShowWindow(GetDlgItem(window, IDC_PROGRESS_BAR), SW_HIDE);

  const HWND frame = GetParent(window);
  PostMessageW(frame, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT | PSWIZB_CANCEL);
  PostMessageW(frame, PSM_SHOWWIZBUTTONS, 0, PSWIZB_NEXT);
  SetWindowTextW(GetDlgItem(window, IDC_PROGRESS_LABEL), L"Scanning music folder...");

  JoinFinishedWorker(view->worker);
  view->foundFiles->clear();

  auto job = std::make_unique<ScanJob>();
  job->window = window;
  job->folder = *view->folder;
  job->stopRequested = &view->worker->stopRequested;
  view->worker->thread = StartWorkerThread(ScanThreadProc, job.get());
  if (view->worker->thread) {
    job.release();  // the scan thread owns it now
  }
}

void StartFix(HWND window, const ProgressPageView* view) {
  const HWND marquee = GetDlgItem(window, IDC_PROGRESS_MARQUEE);
  SendMessageW(marquee, PBM_SETMARQUEE, FALSE, 0);
  ShowWindow(marquee, SW_HIDE);

  const HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(view->foundFiles->size()));
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  ShowWindow(bar, SW_SHOW);
  SetWindowTextW(GetDlgItem(window, IDC_PROGRESS_LABEL), L"Fixing song titles...");

  view->results->fixedCount = 0;
  view->results->failedCount = 0;
  view->results->outcomes.clear();

  // The scan thread posted WM_SCAN_COMPLETE as its last act.
  JoinFinishedWorker(view->worker);
  auto job = std::make_unique<FixJob>();
  job->window = window;
  job->files = view->foundFiles;
  job->stopRequested = &view->worker->stopRequested;
  // Saves go in batches under a journal that lives only for the repair; a
  // repair cut short is finished when the next one begins.
  view->worker->journal = BeginRunJournal(LocalStateFolder(), {*view->folder}, false);
  job->journal = view->worker->journal;
  job->jobs = ProcessorCount();
  view->worker->thread = StartWorkerThread(FixThreadProc, job.get());
  if (view->worker->thread) {
    job.release();  // the fix thread owns it now
  }
}

// Counts and keeps a fixed or failed file, its path cut to the part below
// the folder.
void KeepOutcome(HWND window, const ProgressPageView* view, UINT message, FileOutcome* outcome) {
  if (message == WM_FIX_SUCCEEDED) {
    ++view->results->fixedCount;
  } else {
    ++view->results->failedCount;
  }
  outcome->path.erase(0, view->folder->size() + 1);
  view->results->outcomes.push_back(outcome);
  SendMessageW(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_DELTAPOS, 1, 0);
}

// The page goes with the wizard: the worker is stopped after the file in
// hand and waited for, then whatever it had already posted here is freed,
// since the system drops a window's queued messages with the window.
void DropPendingMessages(HWND window, const ProgressPageView* view) {
  StopWorker(view->worker);
  MSG pending;
  while (PeekMessageW(&pending, window, WM_SCAN_FILE_FOUND, WM_FIX_COMPLETE, PM_REMOVE)) {
    switch (pending.message) {
      case WM_SCAN_FILE_FOUND:
        delete reinterpret_cast<PathString*>(pending.lParam);
        break;
      case WM_FIX_SUCCEEDED:
      case WM_FIX_NOT_NEEDED:
      case WM_FIX_FAILED:
        delete reinterpret_cast<FileOutcome*>(pending.lParam);
        break;
    }
  }
}

void MoveOn(HWND window) {
  const HWND frame = GetParent(window);
  PostMessageW(frame, PSM_SHOWWIZBUTTONS, PSWIZB_NEXT, PSWIZB_NEXT);
  PostMessageW(frame, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
}

}  // namespace

INT_PTR CALLBACK ProgressPageProc(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  auto* view = reinterpret_cast<ProgressPageView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG: {
      const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, page->lParam);
      return TRUE;
    }
    case WM_NOTIFY:
      if (reinterpret_cast<const NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        StartScan(window, view);
        SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_SCAN_FILE_FOUND: {
      std::unique_ptr<PathString> found(reinterpret_cast<PathString*>(lParam));
      view->foundFiles->push_back(*found);
      return FALSE;
    }
    case WM_SCAN_COMPLETE:
      StartFix(window, view);
      return FALSE;
    case WM_FIX_SUCCEEDED:
    case WM_FIX_FAILED:
      KeepOutcome(window, view, message, reinterpret_cast<FileOutcome*>(lParam));
      return FALSE;
    case WM_FIX_NOT_NEEDED:
      delete reinterpret_cast<FileOutcome*>(lParam);
      SendMessageW(GetDlgItem(window, IDC_PROGRESS_BAR), PBM_DELTAPOS, 1, 0);
      return FALSE;
    case WM_FIX_COMPLETE:
      JoinFinishedWorker(view->worker);
      MoveOn(window);
      return FALSE;
    case WM_DESTROY:
      if (view)
        DropPendingMessages(window, view);
      return FALSE;
  }
  return FALSE;
}
