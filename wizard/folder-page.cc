// The folder page: proposes My Music, lets the user type or browse for a
// folder, and stores the path when the user presses "&Fix".
#include <shlobj.h>

#include "resources/resource.h"
#include "wizard/wizard.h"

namespace {

void ActivateFolderPage(HWND window) {
  // Requests go to the frame, the page's parent; button states are queued,
  // texts act at once.
  const HWND frame = GetParent(window);
  PostMessageW(frame, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT | PSWIZB_CANCEL);
  SendMessageW(frame, PSM_SETNEXTTEXTW, 0, reinterpret_cast<LPARAM>(L"&Fix"));
  SendMessageW(frame, PSM_SETBUTTONTEXTW, PSWIZB_CANCEL, reinterpret_cast<LPARAM>(L"Cancel"));
}

// Stores the field's text in `folder`. An empty field keeps the page up: the
// scan would otherwise walk the root of the current drive.
bool StoreFolder(HWND window, FolderPageView* view) {
  const HWND field = GetDlgItem(window, IDC_FOLDER_PATH);
  wchar_t buffer[MAX_PATH] = {};
  const int length = GetWindowTextW(field, buffer, MAX_PATH);
  if (length == 0) {
    SetFocus(field);
    return false;
  }
  view->folder->assign(buffer, static_cast<size_t>(length));
  return true;
}

}  // namespace

std::optional<std::wstring> BrowseForMusicFolder(HWND owner) {
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.lpszTitle = L"Select music folder.";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);

  std::optional<std::wstring> path;
  wchar_t buffer[MAX_PATH] = {};
  if (item && SHGetPathFromIDListW(item, buffer)) {
    path = buffer;
  }
  CoTaskMemFree(item);
  return path;
}

INT_PTR CALLBACK FolderPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<FolderPageView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG: {
      const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, page->lParam);
      wchar_t music[MAX_PATH] = {};
      if (SHGetSpecialFolderPathW(nullptr, music, CSIDL_MYMUSIC, FALSE)) {
        SetWindowTextW(GetDlgItem(window, IDC_FOLDER_PATH), music);
      }
      return TRUE;
    }
    case WM_NOTIFY:
      switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
          ActivateFolderPage(window);
          SetWindowLongPtrW(window, DWLP_MSGRESULT, 0);
          return TRUE;
        case PSN_WIZNEXT:
          if (StoreFolder(window, view)) {
            return FALSE;
          }
          SetWindowLongPtrW(window, DWLP_MSGRESULT, -1);
          return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_FOLDER_CHANGE && HIWORD(wParam) == BN_CLICKED) {
        if (std::optional<std::wstring> path = BrowseForMusicFolder(window)) {
          SetWindowTextW(GetDlgItem(window, IDC_FOLDER_PATH), path->c_str());
        }
      }
      return FALSE;
  }
  return FALSE;
}
