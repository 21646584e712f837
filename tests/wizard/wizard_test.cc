// The whole wizard with the real property sheet: RunWizard runs on a thread
// of its own, as the program's main thread would, and the test drives the
// sheet's windows from outside like a user, then checks the files on disk.
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/wizard/recording_frame.h"
#include "tests/wizard/wizard_fixtures.h"

namespace {

namespace fs = std::filesystem;

// The sheet's own buttons.
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;

DWORD WINAPI WizardThread(void*) {
  OleInitialize(nullptr);
  RunWizard(GetModuleHandleW(nullptr));
  OleUninitialize();
  return 0;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 60000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

BOOL CALLBACK FindSheet(HWND window, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The ids of this process's threads that are running now, but `except`.
std::vector<DWORD> RunningThreads(DWORD except) {
  std::vector<DWORD> threads;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId() && entry.th32ThreadID != except) {
      threads.push_back(entry.th32ThreadID);
    }
  }
  CloseHandle(snapshot);
  std::sort(threads.begin(), threads.end());
  return threads;
}

std::wstring ShortPath(const fs::path& path) {
  wchar_t shortPath[MAX_PATH] = {};
  GetShortPathNameW(path.wstring().c_str(), shortPath, MAX_PATH);
  return shortPath;
}

std::wstring Text(HWND window) {
  wchar_t text[MAX_PATH] = {};
  GetWindowTextW(window, text, MAX_PATH);
  return text;
}

struct Wizard : ::testing::Test {
  void SetUp() override {
    thread = CreateThread(nullptr, 0, WizardThread, nullptr, 0, &threadId);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitFor([&] {
      EnumThreadWindows(threadId, FindSheet, reinterpret_cast<LPARAM>(&sheet));
      return sheet && CurrentPage() == 0;
    }));
  }

  void TearDown() override {
    if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) {
      PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    CloseHandle(thread);
  }

  // The index of the page on show, -1 while none is.
  int CurrentPage() {
    const LRESULT page = SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    return page ? int(SendMessageW(sheet, PSM_HWNDTOINDEX, page, 0)) : -1;
  }
  HWND Control(int id) {
    return GetDlgItem(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)),
                      id);
  }

  // Clears the path field and types `path` into it key by key. The field
  // takes no more than it can show, so tests type a folder's short name.
  void TypePath(const std::wstring& path) {
    const HWND field = Control(IDC_FOLDER_PATH);
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    for (wchar_t c : path) {
      SendMessageW(field, WM_CHAR, c, 0);
    }
    EXPECT_EQ(Text(field), path);
  }

  // Presses Fix and waits for the results page.
  void Fix() {
    SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return CurrentPage() == 2; }));
  }

  // The results list's rows, sorted.
  std::vector<std::wstring> Rows() {
    std::vector<std::wstring> rows = ListRows(Control(IDC_RESULTS_LIST));
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  bool Closed(DWORD timeoutMs) { return WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0; }

  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HWND sheet = nullptr;
};

TEST_F(Wizard, RepairsTypedFolderGoesBackAndRunsAgain) {
  wchar_t music[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, music, CSIDL_MYMUSIC, FALSE));
  EXPECT_EQ(Text(Control(IDC_FOLDER_PATH)), music);

  fixtures::TempFolder first;
  const std::string song = Mp3WithTitle(kCodePageTitle);
  const std::string plain = Mp3WithTitle("plain");
  first.Write("Pop/song.mp3", song);
  first.Write("plain.mp3", plain);
  LockedFile locked(first.Write("locked.mp3", song));
  TypePath(ShortPath(first.path()));
  Fix();
  EXPECT_EQ(Rows(),
            (std::vector<std::wstring>{L"0|Pop\\song.mp3|", L"1|locked.mp3|Couldn't open file"}));
  EXPECT_EQ(Examine(first.path() / "Pop/song.mp3", song, kCodePageTitle), FileState::kRepaired);
  EXPECT_EQ(fixtures::ReadFile(first.path() / "plain.mp3"), plain);

  // Back leads past the progress page to the folder page as it was left.
  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_BACK, 0);
  ASSERT_TRUE(WaitFor([&] { return CurrentPage() == 0; }));
  EXPECT_EQ(Text(Control(IDC_FOLDER_PATH)), ShortPath(first.path()));

  fixtures::TempFolder second;
  second.Write("other.mp3", song);
  TypePath(ShortPath(second.path()));
  Fix();
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"0|other.mp3|"}));
  EXPECT_EQ(Examine(second.path() / "other.mp3", song, kCodePageTitle), FileState::kRepaired);

  // Back and Fix on the same, now repaired, folder: nothing needs fixing.
  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_BACK, 0);
  ASSERT_TRUE(WaitFor([&] { return CurrentPage() == 0; }));
  Fix();
  EXPECT_FALSE(IsWindowVisible(Control(IDC_RESULTS_LIST)));

  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
  EXPECT_TRUE(Closed(60000));
}

TEST_F(Wizard, EmptyFieldDoesNotLeaveTheFolderPage) {
  TypePath(L"");
  SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
  Sleep(200);
  EXPECT_EQ(CurrentPage(), 0);
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetGUIThreadInfo(threadId, &info));
  EXPECT_EQ(info.hwndFocus, Control(IDC_FOLDER_PATH));
}

// Enough files that the fix phase is still running when Cancel lands.
struct CancelledWizard : Wizard {
  void SetUp() override {
    Wizard::SetUp();
    for (int i = 0; i < kFiles; ++i) {
      const fs::path relative =
          "Album " + std::to_string(i / 50) + "/" + std::to_string(i) + ".mp3";
      music.Write(relative, song);
      names.insert(relative);
    }
  }

  // Every file is as it was or completely repaired, and nothing else lies
  // in the folders; returns how many were repaired.
  int CheckFiles() {
    int repaired = 0, files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(music.path())) {
      if (entry.is_directory()) {
        continue;
      }
      ++files;
      const fs::path relative = fs::relative(entry.path(), music.path());
      EXPECT_EQ(names.count(relative), 1u) << relative.string();
      const FileState state = Examine(entry.path(), song, kCodePageTitle);
      EXPECT_NE(state, FileState::kDamaged) << relative.string();
      if (state == FileState::kRepaired) {
        ++repaired;
      }
    }
    EXPECT_EQ(files, kFiles);
    return repaired;
  }

  static constexpr int kFiles = 600;
  const std::string song = Mp3WithTitle(kCodePageTitle);
  fixtures::TempFolder music;
  std::set<fs::path> names;
};

TEST_F(CancelledWizard, CancelWhileFixingStopsAfterTheFileInHand) {
  const std::vector<DWORD> threads = RunningThreads(threadId);
  TypePath(ShortPath(music.path()));
  SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] {
    return CurrentPage() == 1 &&
           SendMessageW(Control(IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0) >= kFiles / 10;
  }));
  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  ASSERT_TRUE(Closed(60000));

  // RunWizard has waited for the fix thread: it is gone, and nothing
  // changes any more.
  EXPECT_EQ(RunningThreads(threadId), threads);
  const int repaired = CheckFiles();
  EXPECT_GE(repaired, kFiles / 10);
  EXPECT_LT(repaired, kFiles);
  Sleep(300);
  EXPECT_EQ(CheckFiles(), repaired);
}

TEST_F(CancelledWizard, CancelDuringTheScanEndsCleanly) {
  const std::vector<DWORD> threads = RunningThreads(threadId);
  TypePath(ShortPath(music.path()));
  SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return CurrentPage() == 1; }));
  PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  ASSERT_TRUE(Closed(60000));
  EXPECT_EQ(RunningThreads(threadId), threads);
  // The scan may have ended before Cancel arrived; a fix phase that then
  // started stops after the file in hand.
  CheckFiles();
}

}  // namespace
