// The wizard shell: the state that the three pages share, the view each page
// receives, and the page procedures.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <boost/ptr_container/ptr_vector.hpp>

#include "engine/engine.h"

#include <commctrl.h>
#include <prsht.h>

// Aero wizard parts that mingw-w64's headers leave out.
#ifndef PSH_AEROWIZARD
#define PSH_AEROWIZARD 0x00004000
#endif
#ifndef PSM_SETNEXTTEXTW
#define PSM_SETNEXTTEXTW (WM_USER + 137)
#endif
#ifndef PSM_SHOWWIZBUTTONS
#define PSM_SHOWWIZBUTTONS (WM_USER + 138)
#endif
#ifndef PSM_SETBUTTONTEXTW
#define PSM_SETBUTTONTEXTW (WM_USER + 140)
#endif
#ifndef PSWIZB_CANCEL
#define PSWIZB_CANCEL 0x00000010
#endif

// Counters and kept outcomes of the last fix phase; files that needed
// nothing are neither counted nor kept.
struct FixResults {
  std::uint32_t fixedCount = 0;
  std::uint32_t failedCount = 0;
  boost::ptr_vector<FileOutcome> outcomes;  // arrival order, paths below the folder
};

// The worker thread the progress page started last and the flag that asks
// it to stop. RunWizard sets the flag and joins the thread when the wizard
// closes, so a worker never outlives the lists it reads.
struct WorkerControl {
  WorkerThread* thread = nullptr;
  std::atomic<bool> stopRequested{false};
  // The repair's batch journal, in the local application data folder; it
  // lives only as long as the repair (the wizard keeps no runs to undo).
  RunJournal* journal = nullptr;
};

struct FolderPageView {
  std::wstring* folder;
};

struct ProgressPageView {
  const std::wstring* folder;
  FixResults* results;
  std::vector<PathString>* foundFiles;
  WorkerControl* worker;
};

struct ResultsPageView {
  std::int32_t pageIndex;   // 2, addresses the page's own header title
  std::int32_t backTarget;  // 200, the folder page's template
  HINSTANCE instance;       // holds the two bitmaps
  const FixResults* results;
};

// Owned by RunWizard for the whole wizard; each page sees only its view.
struct WizardState {
  std::wstring folder;
  std::vector<PathString>* foundFiles = nullptr;
  FixResults results;
  HINSTANCE instance = nullptr;
  WorkerControl worker;
  FolderPageView folderView = {};
  ProgressPageView progressView = {};
  ResultsPageView resultsView = {};
};

// Runs the modal three-page wizard and frees its state when it has closed.
void RunWizard(HINSTANCE instance);

INT_PTR CALLBACK FolderPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ResultsPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The shell's folder chooser; nothing when cancelled or when the chosen item
// is not a file-system folder.
std::optional<std::wstring> BrowseForMusicFolder(HWND owner);

// Asks the running worker, if any, to stop after the file in hand and waits
// until it has returned.
void StopWorker(WorkerControl* worker);
