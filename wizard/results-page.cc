// The results page: the run's summary as the header title and the fixed and
// failed files in a list, the last reported first.
#include "resources/resource.h"
#include "wizard/wizard.h"
#include "engine/summary.h"

namespace {

void AddBitmap(HIMAGELIST images, HINSTANCE instance, int id) {
  const HBITMAP bitmap = LoadBitmapW(instance, MAKEINTRESOURCEW(id));
  ImageList_Add(images, bitmap, nullptr);
  DeleteObject(bitmap);  // the image list keeps its own copy
}

void AddColumn(HWND list, int index, const wchar_t* text, int width) {
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(text);
  column.iSubItem = index;
  SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

void SetUpList(HWND window, const ResultsPageView* view) {
  // Image 0 marks a fixed file, image 1 a failed one; the list destroys the
  // image list with itself.
  const HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24, 2, 1);
  AddBitmap(images, view->instance, IDB_FIXED);
  AddBitmap(images, view->instance, IDB_FAILED);
  const HWND list = GetDlgItem(window, IDC_RESULTS_LIST);
  SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
  AddColumn(list, 0, L"Name", 325);
  AddColumn(list, 1, L"Issue", 75);
}

// Each row goes in at the top, so the outcome reported last is the first row.
void InsertRow(HWND list, const FileOutcome& outcome) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = 0;
  item.pszText = const_cast<wchar_t*>(outcome.path.c_str());
  item.iImage = outcome.issue.empty() ? 0 : 1;
  SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));

  LVITEMW issue = {};
  issue.mask = LVIF_TEXT;
  issue.iItem = 0;
  issue.iSubItem = 1;
  issue.pszText = const_cast<wchar_t*>(outcome.issue.c_str());
  SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&issue));
}

void ShowResults(HWND window, const ResultsPageView* view) {
  const FixResults& results = *view->results;
  const std::wstring summary = ComposeSummary(results.fixedCount, results.failedCount);

  // Texts act at once; the button changes are queued behind this notification.
  const HWND frame = GetParent(window);
  SendMessageW(frame, PSM_SETHEADERTITLEW, view->pageIndex,
               reinterpret_cast<LPARAM>(summary.c_str()));
  PostMessageW(frame, PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_FINISH);
  SendMessageW(frame, PSM_SETFINISHTEXTW, 0, reinterpret_cast<LPARAM>(L"Close"));
  PostMessageW(frame, PSM_SHOWWIZBUTTONS, 0, PSWIZB_CANCEL);

  const HWND empty = GetDlgItem(window, IDC_RESULTS_EMPTY);
  const HWND list = GetDlgItem(window, IDC_RESULTS_LIST);
  if (results.fixedCount == 0 && results.failedCount == 0) {
    ShowWindow(empty, SW_SHOW);
    ShowWindow(list, SW_HIDE);
    return;
  }
  ShowWindow(empty, SW_HIDE);
  ShowWindow(list, SW_SHOW);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (const FileOutcome& outcome : results.outcomes) {
    InsertRow(list, outcome);
  }
}

}  // namespace

INT_PTR CALLBACK ResultsPageProc(HWND window, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
  auto* view = reinterpret_cast<const ResultsPageView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG: {
      const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, page->lParam);
      SetUpList(window, reinterpret_cast<const ResultsPageView*>(page->lParam));
      return TRUE;
    }
    case WM_NOTIFY:
      switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
          ShowResults(window, view);
          return TRUE;
        case PSN_WIZBACK:
          SetWindowLongPtrW(window, DWLP_MSGRESULT, view->backTarget);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
