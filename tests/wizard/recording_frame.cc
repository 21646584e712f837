#include "tests/wizard/recording_frame.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "resources/resource.h"
#include "engine/platform/text.h"

const char kAnswered[] = "answered";

namespace {

const wchar_t kFrameClass[] = L"SongwrightRecordingFrame";

const struct {
  UINT message;
  const char* name;
} kNames[] = {
    {PSM_SETWIZBUTTONS, "PSM_SETWIZBUTTONS"},
    {PSM_SETNEXTTEXTW, "PSM_SETNEXTTEXTW"},
    {PSM_SETBUTTONTEXTW, "PSM_SETBUTTONTEXTW"},
    {PSM_SHOWWIZBUTTONS, "PSM_SHOWWIZBUTTONS"},
    {PSM_PRESSBUTTON, "PSM_PRESSBUTTON"},
    {PSM_SETHEADERTITLEW, "PSM_SETHEADERTITLEW"},
    {PSM_SETFINISHTEXTW, "PSM_SETFINISHTEXTW"},
    {PBM_SETMARQUEE, "PBM_SETMARQUEE"},
    {PBM_SETRANGE32, "PBM_SETRANGE32"},
    {PBM_SETPOS, "PBM_SETPOS"},
    {PBM_DELTAPOS, "PBM_DELTAPOS"},
};

// Every property-sheet request lies in this range.
constexpr UINT kFirstRequest = WM_USER + 101;
constexpr UINT kLastRequest = WM_USER + 141;
bool IsFrameRequest(UINT message) {
  return message >= kFirstRequest && message <= kLastRequest;
}

bool CarriesText(UINT message) {
  return message == PSM_SETNEXTTEXTW || message == PSM_SETBUTTONTEXTW ||
         message == PSM_SETHEADERTITLEW || message == PSM_SETFINISHTEXTW;
}

std::string Hex(std::uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Line(const char* kind, UINT message, WPARAM wParam, const std::string& last) {
  std::string name = Hex(message);
  for (const auto& known : kNames) {
    if (known.message == message) {
      name = known.name;
    }
  }
  return std::string(kind) + ' ' + name + ' ' + Hex(wParam) + ' ' + last;
}

std::string RequestLine(const char* kind, UINT message, WPARAM wParam, LPARAM lParam) {
  if (CarriesText(message) && lParam) {
    return Line(kind, message, wParam, WideToUtf8(reinterpret_cast<const wchar_t*>(lParam)));
  }
  return Line(kind, message, wParam, Hex(static_cast<std::uintptr_t>(lParam)));
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* frame = reinterpret_cast<RecordingFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // Posted requests are taken from the queue by the pump and never reach
  // here, so whatever does arrives here was sent.
  if (frame && IsFrameRequest(message)) {
    frame->log.push_back(RequestLine("sent", message, wParam, lParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                         DWORD_PTR data) {
  if (message == PBM_SETMARQUEE || message == PBM_SETRANGE32 || message == PBM_SETPOS ||
      message == PBM_DELTAPOS) {
    auto* frame = reinterpret_cast<RecordingFrame*>(data);
    frame->log.push_back(BarMessage(static_cast<int>(id), message, wParam, lParam));
  }
  return DefSubclassProc(bar, message, wParam, lParam);
}

void Dispatch(RecordingFrame* frame, MSG* message) {
  if (message->hwnd == frame->window && IsFrameRequest(message->message)) {
    frame->log.push_back(RequestLine("posted", message->message, message->wParam, message->lParam));
    return;
  }
  TranslateMessage(message);
  DispatchMessageW(message);
}

}  // namespace

std::string Sent(UINT message, WPARAM wParam, const std::wstring& text) {
  return Line("sent", message, wParam, WideToUtf8(text));
}

std::string Sent(UINT message, WPARAM wParam, LPARAM lParam) {
  return RequestLine("sent", message, wParam, lParam);
}

std::string Posted(UINT message, WPARAM wParam, LPARAM lParam) {
  return RequestLine("posted", message, wParam, lParam);
}

std::string BarMessage(int control, UINT message, WPARAM wParam, LPARAM lParam) {
  return Line(std::to_string(control).c_str(), message, wParam,
              Hex(static_cast<std::uintptr_t>(lParam)));
}

RecordingFrame::RecordingFrame() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = FrameProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kFrameClass;
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  window = CreateWindowExW(0, kFrameClass, L"Recording frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                           0, 700, 400, nullptr, nullptr, windowClass.hInstance, this);
  if (!window) {
    throw std::runtime_error("cannot create the recording frame");
  }
}

RecordingFrame::~RecordingFrame() {
  DestroyWindow(window);
  Pump();
}

HWND RecordingFrame::AddPage(int templateId, DLGPROC procedure, void* view) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
  if (!resource) {
    throw std::runtime_error("no dialog template " + std::to_string(templateId));
  }
  const DWORD size = SizeofResource(instance, resource);
  const void* bytes = LockResource(LoadResource(instance, resource));

  // A page is a child control of the sheet, whatever its template says.
  std::vector<DWORD> copy((size + 3) / 4);
  std::memcpy(copy.data(), bytes, size);
  auto* words = reinterpret_cast<WORD*>(copy.data());
  DWORD* style = words[1] == 0xFFFF ? &copy[3] : &copy[0];  // DLGTEMPLATEEX or DLGTEMPLATE
  *style = (*style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME)) |
           WS_CHILD | DS_CONTROL;

  PROPSHEETPAGEW& page = pages[pageCount++];
  page.dwSize = sizeof(page);
  page.hInstance = instance;
  page.pszTemplate = MAKEINTRESOURCEW(templateId);
  page.pfnDlgProc = procedure;
  page.lParam = reinterpret_cast<LPARAM>(view);
  const HWND pageWindow =
      CreateDialogIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(copy.data()),
                                 window, procedure, reinterpret_cast<LPARAM>(&page));
  if (!pageWindow) {
    throw std::runtime_error("cannot create page " + std::to_string(templateId));
  }
  for (int bar : {IDC_PROGRESS_MARQUEE, IDC_PROGRESS_BAR}) {
    if (HWND control = GetDlgItem(pageWindow, bar)) {
      SetWindowSubclass(control, BarProc, bar, reinterpret_cast<DWORD_PTR>(this));
    }
  }
  ShowWindow(pageWindow, SW_SHOW);
  return pageWindow;
}

LRESULT RecordingFrame::Notify(HWND page, UINT code) {
  PSHNOTIFY notification = {};
  notification.hdr.hwndFrom = window;
  notification.hdr.code = code;
  const LRESULT result = SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notification));
  log.push_back(kAnswered);
  // The filter keeps the page's own queued messages (the workers') waiting.
  MSG message;
  while (PeekMessageW(&message, window, kFirstRequest, kLastRequest, PM_REMOVE)) {
    Dispatch(this, &message);
  }
  return result;
}

void RecordingFrame::Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    Dispatch(this, &message);
}

bool RecordingFrame::PumpUntilLogged(const std::string& line, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    Pump();
    for (const std::string& logged : log) {
      if (logged == line) {
        return true;
      }
    }
    if (GetTickCount64() >= deadline) {
      return false;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

std::wstring ControlText(HWND page, int id) {
  wchar_t text[512] = {};
  GetWindowTextW(GetDlgItem(page, id), text, 512);
  return text;
}

bool IsShown(HWND page, int id) {
  return (GetWindowLongW(GetDlgItem(page, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

std::vector<std::wstring> ListRows(HWND list) {
  std::vector<std::wstring> rows;
  const int count = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    wchar_t name[MAX_PATH] = {}, issue[64] = {};
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = name;
    item.cchTextMax = MAX_PATH;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const int image = item.iImage;
    item.mask = LVIF_TEXT;
    item.iSubItem = 1;
    item.pszText = issue;
    item.cchTextMax = 64;
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    rows.push_back(std::to_wstring(image) + L"|" + name + L"|" + issue);
  }
  return rows;
}
