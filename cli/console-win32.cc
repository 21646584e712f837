// The command line's console, default folder and Ctrl-C on Windows.
#include <shlobj.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

#include <string>
#include <vector>

#include "cli/console.h"

namespace {

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty())
    return std::wstring();
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], count);
  return wide;
}

// A console gets Unicode text; a redirected handle gets UTF-8 bytes.
void Write(DWORD which, const std::string& text) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || text.empty())
    return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Utf8ToWide(text);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
    return;
  }
  const char* data = text.data();
  DWORD left = DWORD(text.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, data, left, &written, nullptr) || written == 0)
      return;
    data += written;
    left -= written;
  }
}

// Static, so that a signal arriving while the program ends finds it alive.
std::atomic<bool> stopFlag{false};

BOOL WINAPI RequestStop(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    stopFlag.store(true);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void WriteOut(const std::string& text) {
  Write(STD_OUTPUT_HANDLE, text);
}
void WriteErr(const std::string& text) {
  Write(STD_ERROR_HANDLE, text);
}
void FlushOut() {}

bool ErrIsTerminal() {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (!GetConsoleMode(handle, &mode))
    return false;
  // Progress redraws its line with escape sequences.
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

PathString DefaultMusicFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_MYMUSIC, FALSE))
    return PathString();
  return buffer;
}

PathString StateFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_LOCAL_APPDATA, FALSE))
    return PathString();
  return PathString(buffer) + L"\\Songwright";
}

bool IsExistingFolder(const PathString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFile(const PathString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

const std::atomic<bool>* InstallStopHandler() {
  SetConsoleCtrlHandler(RequestStop, TRUE);
  return &stopFlag;
}
