// A test window that stands in for the property sheet: it creates pages from
// their real templates with their real procedures, delivers notifications,
// and logs every request a page makes of it, in arrival order, with how it
// came (sent, or posted and taken from the queue). The progress bars of a
// page are watched too, so that their messages land in the same log.
#pragma once

#include <string>
#include <vector>

#include "wizard/wizard.h"

struct RecordingFrame {
  RecordingFrame();
  ~RecordingFrame();
  RecordingFrame(const RecordingFrame&) = delete;
  RecordingFrame& operator=(const RecordingFrame&) = delete;

  // Creates the page as the property sheet does: a child of the frame made
  // from the template, its procedure getting a page description whose
  // lParam is `view`.
  HWND AddPage(int templateId, DLGPROC procedure, void* view);

  // Sends the notification to the page, logs "answered" when it returns,
  // then takes the frame's queued requests. Returns the page's result.
  LRESULT Notify(HWND page, UINT code);

  // Dispatches everything queued for this thread.
  void Pump();

  // Pumps until `line` has been logged or `timeoutMs` has passed.
  bool PumpUntilLogged(const std::string& line, DWORD timeoutMs);

  HWND window = nullptr;
  std::vector<std::string> log;  // e.g. "sent PSM_SETNEXTTEXTW 0x0 &Fix"
  PROPSHEETPAGEW pages[3] = {};
  int pageCount = 0;
};

// The log lines of one request, for expectations.
std::string Sent(UINT message, WPARAM wParam, const std::wstring& text);
std::string Sent(UINT message, WPARAM wParam, LPARAM lParam);
std::string Posted(UINT message, WPARAM wParam, LPARAM lParam);
std::string BarMessage(int control, UINT message, WPARAM wParam, LPARAM lParam);
extern const char kAnswered[];

// Control state as the page left it.
std::wstring ControlText(HWND page, int id);
bool IsShown(HWND page, int id);  // the control's own WS_VISIBLE

// The rows of a results list in display order, each "image|name|issue".
std::vector<std::wstring> ListRows(HWND list);
