// The whole wizard with the real property sheet: RunWizard runs on a thread
// of its own, as the program's main thread would, and the test drives the
// sheet's windows from outside like a user, then checks the files on disk.
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/pass_through_disk.h"
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
  const HWND field = Control(IDC_FOLDER_PATH);
  // The click is handled when SendMessage returns; whatever its handling
  // posted to the sheet's thread is handled before a message posted after it.
  SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
  constexpr int kMarkerLimit = 4321;
  ASSERT_TRUE(PostMessageW(field, EM_SETLIMITTEXT, kMarkerLimit, 0));
  ASSERT_TRUE(WaitFor([&] { return SendMessageW(field, EM_GETLIMITTEXT, 0, 0) == kMarkerLimit; }));
  EXPECT_EQ(CurrentPage(), 0);
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetGUIThreadInfo(threadId, &info));
  EXPECT_EQ(info.hwndFocus, Control(IDC_FOLDER_PATH));
}

// A disk over the platform's own for a run that is cancelled at a moment
// chosen by count: when the worker opens the K-th file for writing (the file
// in hand is about to be saved) or reads the N-th folder entry of the scan.
// There it presses Cancel on the sheet and holds the worker until the wizard
// has set the worker's stop flag, the real event that Cancel leads to; the
// wizard's thread sets it before it joins the worker, so the wait cannot
// deadlock. It also keeps every thread that used it, so that a test can
// tell whether RunWizard waited for its workers.
struct CancellingDisk final : PassThroughDisk {
  CancellingDisk() { InitializeSRWLock(&lock); }
  ~CancellingDisk() override {
    for (HANDLE worker : workers) {
      CloseHandle(worker);
    }
  }

  NativeFile* OpenExisting(const PathString& path, bool forWriting) override {
    // Only the songs are watched: the run's journal lives elsewhere (the
    // wizard's thread reads it), and a save's own journal beside a song is
    // only looked for.
    if (path.compare(0, musicRoot.size(), musicRoot) != 0 ||
        fs::path(path).extension() != L".mp3") {
      return Real().OpenExisting(path, forWriting);
    }
    NoteWorker();
    // Readers beside the one that presses Cancel open no song for the first
    // time until the stop is seen: each holds at most the one it took.
    bool cancelHere = false, wait = false;
    AcquireSRWLockExclusive(&lock);
    if (std::find(fileOpens.begin(), fileOpens.end(), path) == fileOpens.end()) {
      fileOpens.push_back(path);
      wait = cancelling;
      if (fileOpens.size() == cancelAtFileOpen) {
        cancelHere = cancelling = true;
      }
    }
    ReleaseSRWLockExclusive(&lock);
    if (cancelHere) {
      CancelAndHold();
    } else if (wait) {
      WaitFor([&] { return stopSeen.load(); });
    }
    NativeFile* file = Real().OpenExisting(path, forWriting);
    if (file) {
      AcquireSRWLockExclusive(&lock);
      opened.insert(path);
      ReleaseSRWLockExclusive(&lock);
    }
    return file;
  }
  bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) override {
    AcquireSRWLockShared(&lock);
    const bool music = musicListings.count(listing) != 0;
    ReleaseSRWLockShared(&lock);
    if (!music) {
      return Real().NextEntry(listing, entry);
    }
    NoteWorker();
    if (!Real().NextEntry(listing, entry)) {
      return false;
    }
    ++entries;
    if (fs::path(entry->name).extension() == L".mp3") {
      ++mp3Entries;
    }
    if (entries == cancelAtEntry) {
      CancelAndHold();
    }
    return true;
  }

  // Only the scan's listings are watched: the run journal lists its own
  // folder on the wizard's thread.
  DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) override {
    if ((folder + L"\\").compare(0, musicRoot.size(), musicRoot) != 0) {
      return Real().OpenListing(folder, identity);
    }
    NoteWorker();
    DirectoryListing* listing = Real().OpenListing(folder, identity);
    if (listing) {
      AcquireSRWLockExclusive(&lock);
      musicListings.insert(listing);
      ReleaseSRWLockExclusive(&lock);
    }
    return listing;
  }
  void CloseListing(DirectoryListing* listing) override {
    AcquireSRWLockExclusive(&lock);
    musicListings.erase(listing);
    ReleaseSRWLockExclusive(&lock);
    Real().CloseListing(listing);
  }

  // Every file operation starts with an open and every scan with a listing,
  // so noting the thread there finds each worker.
  void NoteWorker() {
    AcquireSRWLockExclusive(&lock);
    if (std::find(workerIds.begin(), workerIds.end(), GetCurrentThreadId()) == workerIds.end()) {
      HANDLE worker = nullptr;
      DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &worker,
                      SYNCHRONIZE, FALSE, 0);
      workerIds.push_back(GetCurrentThreadId());
      workers.push_back(worker);
    }
    ReleaseSRWLockExclusive(&lock);
  }

  // The workers seen so far.
  std::vector<HANDLE> Workers() {
    AcquireSRWLockShared(&lock);
    std::vector<HANDLE> seen = workers;
    ReleaseSRWLockShared(&lock);
    return seen;
  }

  void CancelAndHold() {
    // The flag lives in the worker record that the progress page's view
    // points to. The wizard's thread is not waiting for this worker yet, so
    // it answers.
    const HWND page = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_INDEXTOHWND, 1, 0));
    const auto* view =
        reinterpret_cast<const ProgressPageView*>(GetWindowLongPtrW(page, GWLP_USERDATA));
    PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    stopSeen = view && WaitFor([&] { return view->worker->stopRequested.load(); });
  }

  HWND sheet = nullptr;
  PathString musicRoot;              // the folder being repaired
  std::size_t cancelAtFileOpen = 0;  // 0: never
  std::uint64_t cancelAtEntry = 0;   // 0: never
  std::atomic<bool> stopSeen{false};
  bool cancelling = false;  // under `lock`

  // What the run did; read only once its workers have ended.
  std::vector<PathString> fileOpens;  // each music file once, in order
  std::set<PathString> opened;        // every music file opened at all
  std::uint64_t entries = 0;          // folder entries read, "." and ".." too
  std::uint64_t mp3Entries = 0;
  std::set<DirectoryListing*> musicListings;  // under `lock`

  SRWLOCK lock;
  std::vector<DWORD> workerIds;
  std::vector<HANDLE> workers;
};

// Eight files in two folders, each needing a repair, and the cancelling disk
// in use for the wizard's run over them.
struct CancelledWizard : Wizard {
  void SetUp() override {
    Wizard::SetUp();
    for (int i = 0; i < kFiles; ++i) {
      const fs::path relative =
          fs::path("Album " + std::to_string(i / 4)) / (std::to_string(i) + ".mp3");
      music.Write(relative, song);
      names.insert(relative.wstring());
    }
    disk.sheet = sheet;
    disk.musicRoot = ShortPath(music.path()) + L"\\";
    UseDiskInterface(&disk);
  }

  void TearDown() override {
    Wizard::TearDown();
    for (HANDLE worker : disk.Workers()) {
      EXPECT_EQ(WaitForSingleObject(worker, 60000), WAIT_OBJECT_0);
    }
    UseDiskInterface(nullptr);
  }

  // Presses Fix on the music folder and waits until RunWizard has returned
  // after the cancel. By then every worker must have ended: RunWizard
  // joins them before it frees what they read.
  void FixUntilCancelled() {
    TypePath(ShortPath(music.path()));
    SendMessageW(GetDlgItem(sheet, kNextButton), BM_CLICK, 0, 0);
    ASSERT_TRUE(Closed(60000));
    EXPECT_TRUE(disk.stopSeen);
    for (HANDLE worker : disk.Workers()) {
      ASSERT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0) << "a worker outlived RunWizard";
    }
  }

  // A found path as the folder's relative name.
  std::wstring Relative(const PathString& path) {
    const std::wstring root = ShortPath(music.path()) + L"\\";
    return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
  }

  // What became of each file; no other file may lie in the folders.
  std::map<std::wstring, FileState> States() {
    std::map<std::wstring, FileState> states;
    for (const auto& entry : fs::recursive_directory_iterator(music.path())) {
      if (!entry.is_directory()) {
        const std::wstring relative = fs::relative(entry.path(), music.path()).wstring();
        EXPECT_EQ(names.count(relative), 1u) << fs::path(relative).string();
        states[relative] = Examine(entry.path(), song, kCodePageTitle);
      }
    }
    return states;
  }

  static constexpr int kFiles = 8;
  const std::string song = Mp3WithTitle(kCodePageTitle);
  fixtures::TempFolder music;
  std::set<std::wstring> names;
  CancellingDisk disk;
};

// The threads that read songs ahead of the fix loop: one per processor
// where there are several, as the wizard runs it.
std::size_t SongReaders() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t processors = info.dwNumberOfProcessors;
  return processors > 1 ? std::min<std::size_t>(processors, 64) : 0;
}

// Cancel pressed while the K-th file is in hand: no file is opened after it
// but the one each other reader took before Cancel, and the saves in hand
// (the files opened, one batch) complete. Exactly the files opened are
// repaired; every other file is byte for byte as it was.
struct CancelWhileFixing : CancelledWizard, ::testing::WithParamInterface<std::size_t> {};

TEST_P(CancelWhileFixing, StopsAfterTheFilesInHand) {
  const std::size_t inHand = GetParam();
  disk.cancelAtFileOpen = inHand;
  ASSERT_NO_FATAL_FAILURE(FixUntilCancelled());
  const std::size_t readers = SongReaders();
  // The scan, then the fix, and the readers that opened a song.
  EXPECT_GE(disk.Workers().size(), 2u);
  EXPECT_LE(disk.Workers().size(), 2u + readers);

  std::string seen;
  for (const PathString& path : disk.fileOpens) {
    seen +=
        fs::path(Relative(path)).string() + (disk.opened.count(path) ? "" : " (not opened)") + "\n";
  }
  const std::size_t mostInHand =
      std::min<std::size_t>(kFiles, inHand + (readers ? readers - 1 : 0));
  ASSERT_GE(disk.fileOpens.size(), inHand) << seen;
  ASSERT_LE(disk.fileOpens.size(), mostInHand) << seen;
  EXPECT_EQ(disk.opened.size(), disk.fileOpens.size()) << seen;
  std::set<std::wstring> repaired;
  for (const PathString& path : disk.fileOpens) {
    repaired.insert(Relative(path));
  }
  const std::map<std::wstring, FileState> states = States();
  EXPECT_EQ(states.size(), std::size_t(kFiles));
  for (const auto& [name, state] : states) {
    EXPECT_EQ(state, repaired.count(name) ? FileState::kRepaired : FileState::kUntouched)
        << fs::path(name).string();
  }
}

INSTANTIATE_TEST_SUITE_P(FileInHand, CancelWhileFixing,
                         ::testing::Values(std::size_t(1), std::size_t(5), std::size_t(8)));

// Cancel pressed while the scan reads its sixth entry. At most five entries
// (".", ".." and a folder at each level) come before the first MP3 file, so
// files have been found by then; the scan reads no entry after that one,
// and no fix phase starts: no file is opened and none changes.
TEST_F(CancelledWizard, CancelDuringTheScanEndsIt) {
  disk.cancelAtEntry = 6;
  ASSERT_NO_FATAL_FAILURE(FixUntilCancelled());
  EXPECT_EQ(disk.Workers().size(), 1u);  // the scan alone
  EXPECT_EQ(disk.entries, 6u);
  EXPECT_GE(disk.mp3Entries, 1u);
  EXPECT_TRUE(disk.opened.empty());
  const std::map<std::wstring, FileState> states = States();
  EXPECT_EQ(states.size(), std::size_t(kFiles));
  for (const auto& [name, state] : states) {
    EXPECT_EQ(state, FileState::kUntouched) << fs::path(name).string();
  }
}

}  // namespace
