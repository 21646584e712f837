// The wizard frame: the shared state, the three page descriptions and the
// modal property sheet that runs them.
#include "wizard/wizard.h"
#include "engine/commit/journal.h"
#include "resources/resource.h"

namespace {

PROPSHEETPAGEW DescribePage(HINSTANCE instance, int templateId, DWORD flags,
                            const wchar_t* headerTitle, DLGPROC procedure, void* view) {
  PROPSHEETPAGEW page = {};
  page.dwSize = sizeof(page);
  page.dwFlags = flags;
  page.hInstance = instance;
  page.pszTemplate = MAKEINTRESOURCEW(templateId);
  page.pszHeaderTitle = headerTitle;
  page.pfnDlgProc = procedure;
  page.lParam = reinterpret_cast<LPARAM>(view);
  return page;
}

}  // namespace

void StopWorker(WorkerControl* worker) {
  worker->stopRequested = true;
  JoinWorkerThread(worker->thread);
  worker->thread = nullptr;
  EndRunJournal(worker->journal);
  worker->journal = nullptr;
}

void RunWizard(HINSTANCE instance) {
  auto* state = new WizardState();
  state->foundFiles = new std::vector<PathString>();
  state->instance = instance;

  state->folderView = {&state->folder};
  state->progressView = {&state->folder, &state->results, state->foundFiles, &state->worker};
  state->resultsView = {2, IDD_FOLDER_PAGE, instance, &state->results};

  PROPSHEETPAGEW pages[3] = {
      DescribePage(instance, IDD_FOLDER_PAGE, PSP_USEHEADERTITLE,
                   L"Choose music folder to fix song titles in", FolderPageProc,
                   &state->folderView),
      DescribePage(instance, IDD_PROGRESS_PAGE, PSP_DEFAULT, nullptr, ProgressPageProc,
                   &state->progressView),
      DescribePage(instance, IDD_RESULTS_PAGE, PSP_USEHEADERTITLE, L"", ResultsPageProc,
                   &state->resultsView),
  };

  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_AEROWIZARD | PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_USEICONID;
  header.hwndParent = nullptr;
  header.hInstance = instance;
  header.pszIcon = MAKEINTRESOURCEW(IDI_APP);
  header.pszCaption = MAKEINTRESOURCEW(IDS_CAPTION);
  header.nPages = 3;
  header.nStartPage = 0;
  header.ppsp = pages;
  PropertySheetW(&header);

  // Closed while a worker runs: it stops after the file in hand (a save in
  // progress completes) and is waited for before the lists it reads go.
  StopWorker(&state->worker);
  delete state->foundFiles;
  state->results.outcomes.clear();
  delete state;
}
