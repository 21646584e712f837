// The progress page in the recording frame, driven by the engine's real
// worker threads over fixture folders.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/wizard/recording_frame.h"
#include "tests/wizard/wizard_fixtures.h"

using Log = std::vector<std::string>;

namespace {

const std::string kPressNext = Posted(PSM_PRESSBUTTON, PSBTN_NEXT, 0);

struct ProgressPage : ::testing::Test {
  void SetUp() override { page = frame.AddPage(IDD_PROGRESS_PAGE, ProgressPageProc, &view); }
  void TearDown() override { StopWorker(&worker); }

  // Activates the page on `path` and pumps until it presses Next.
  void Run(const std::wstring& path) {
    folder = path;
    EXPECT_EQ(frame.Notify(page, PSN_SETACTIVE), 0);
    ASSERT_TRUE(frame.PumpUntilLogged(kPressNext, 60000));
  }

  std::vector<std::wstring> Found() const {
    std::vector<std::wstring> paths(found.begin(), found.end());
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  // Each kept outcome as "path|issue", in arrival order.
  std::vector<std::wstring> Kept() const {
    std::vector<std::wstring> kept;
    for (const FileOutcome& outcome : results.outcomes) {
      kept.push_back(outcome.path + L"|" + outcome.issue);
    }
    return kept;
  }

  int BarPosition() const {
    return int(SendMessageW(GetDlgItem(page, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0));
  }

  RecordingFrame frame;
  std::wstring folder;
  FixResults results;
  std::vector<PathString> found;
  WorkerControl worker;
  ProgressPageView view{&folder, &results, &found, &worker};
  HWND page = nullptr;
  fixtures::TempFolder music;
};

TEST_F(ProgressPage, ScansFixesCountsAndMovesOn) {
  music.Write("Pop/a.mp3", Mp3WithTitle(kCodePageTitle));
  music.Write("b.MP3", Mp3WithTitle("plain ASCII"));
  LockedFile broken(music.Write("broken.mp3", Mp3WithTitle(kCodePageTitle)));
  music.Write("notes.txt", Mp3WithTitle(kCodePageTitle));
  const std::wstring root = music.path().wstring();

  folder = root;
  EXPECT_EQ(frame.Notify(page, PSN_SETACTIVE), 0);
  EXPECT_EQ(frame.log, (Log{BarMessage(IDC_PROGRESS_MARQUEE, PBM_SETMARQUEE, 1, 0), kAnswered,
                            Posted(PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT | PSWIZB_CANCEL),
                            Posted(PSM_SHOWWIZBUTTONS, 0, PSWIZB_NEXT)}));
  EXPECT_EQ(ControlText(page, IDC_PROGRESS_LABEL), L"Scanning music folder...");
  EXPECT_TRUE(IsShown(page, IDC_PROGRESS_MARQUEE));
  EXPECT_FALSE(IsShown(page, IDC_PROGRESS_BAR));

  ASSERT_TRUE(frame.PumpUntilLogged(kPressNext, 60000));
  EXPECT_EQ(Found(), (std::vector<std::wstring>{root + L"\\Pop\\a.mp3", root + L"\\b.MP3",
                                                root + L"\\broken.mp3"}));
  EXPECT_EQ(results.fixedCount, 1u);
  EXPECT_EQ(results.failedCount, 1u);
  std::vector<std::wstring> kept = Kept();
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::wstring>{L"Pop\\a.mp3|", L"broken.mp3|Couldn't open file"}));

  // One step per found file, then Next shown and pressed.
  const Log fixPhase(frame.log.begin() + 4, frame.log.end());
  EXPECT_EQ(fixPhase, (Log{BarMessage(IDC_PROGRESS_MARQUEE, PBM_SETMARQUEE, 0, 0),
                           BarMessage(IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 3),
                           BarMessage(IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0),
                           BarMessage(IDC_PROGRESS_BAR, PBM_DELTAPOS, 1, 0),
                           BarMessage(IDC_PROGRESS_BAR, PBM_DELTAPOS, 1, 0),
                           BarMessage(IDC_PROGRESS_BAR, PBM_DELTAPOS, 1, 0),
                           Posted(PSM_SHOWWIZBUTTONS, PSWIZB_NEXT, PSWIZB_NEXT), kPressNext}));
  EXPECT_EQ(BarPosition(), 3);
  EXPECT_EQ(ControlText(page, IDC_PROGRESS_LABEL), L"Fixing song titles...");
  EXPECT_FALSE(IsShown(page, IDC_PROGRESS_MARQUEE));
  EXPECT_TRUE(IsShown(page, IDC_PROGRESS_BAR));
}

TEST_F(ProgressPage, KeptOutcomesArriveInScanOrder) {
  std::vector<std::unique_ptr<LockedFile>> locked;
  for (int i = 0; i < 6; ++i) {
    const auto path = music.Write("f" + std::to_string(i) + ".mp3", Mp3WithTitle(kCodePageTitle));
    if (i % 2) {
      locked.push_back(std::make_unique<LockedFile>(path));
    }
  }
  Run(music.path().wstring());
  ASSERT_EQ(results.outcomes.size(), found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(music.path().wstring() + L"\\" + results.outcomes[i].path, found[i]);
  }
}

TEST_F(ProgressPage, ReadOnlyFileCannotBeSaved) {
  const auto path = music.Write("locked.mp3", Mp3WithTitle(kCodePageTitle));
  SetReadOnly(path, true);
  Run(music.path().wstring());
  SetReadOnly(path, false);
  EXPECT_EQ(Kept(), (std::vector<std::wstring>{L"locked.mp3|Couldn't save changes"}));
  EXPECT_EQ(results.failedCount, 1u);
}

TEST_F(ProgressPage, FolderEndingInASeparatorKeepsSubfoldersInPaths) {
  music.Write("Rock/Live/x.mp3", Mp3WithTitle(kCodePageTitle));
  Run(music.path().wstring() + L"\\");
  EXPECT_EQ(Found(),
            (std::vector<std::wstring>{music.path().wstring() + L"\\\\Rock\\Live\\x.mp3"}));
  EXPECT_EQ(Kept(), (std::vector<std::wstring>{L"Rock\\Live\\x.mp3|"}));
}

TEST_F(ProgressPage, FolderWithoutMp3FilesMovesOnAtOnce) {
  music.Write("cover.jpg", "not audio");
  results.fixedCount = 7;  // left from an earlier run
  Run(music.path().wstring());
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(results.fixedCount, 0u);
  EXPECT_EQ(results.failedCount, 0u);
  EXPECT_TRUE(results.outcomes.empty());
  EXPECT_EQ(BarPosition(), 0);
  const Log expected{BarMessage(IDC_PROGRESS_MARQUEE, PBM_SETMARQUEE, 0, 0),
                     BarMessage(IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, 0),
                     BarMessage(IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0),
                     Posted(PSM_SHOWWIZBUTTONS, PSWIZB_NEXT, PSWIZB_NEXT), kPressNext};
  EXPECT_EQ(Log(frame.log.end() - 5, frame.log.end()), expected);
}

TEST_F(ProgressPage, SecondRunStartsClean) {
  fixtures::TempFolder other;
  music.Write("first.mp3", Mp3WithTitle(kCodePageTitle));
  LockedFile locked(music.Write("first-locked.mp3", Mp3WithTitle(kCodePageTitle)));
  other.Write("second.mp3", Mp3WithTitle(kCodePageTitle));
  Run(music.path().wstring());
  ASSERT_EQ(results.outcomes.size(), 2u);

  // Until the second scan completes the first run's results stay; the found
  // list starts empty.
  frame.log.clear();
  folder = other.path().wstring();
  frame.Notify(page, PSN_SETACTIVE);
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(results.outcomes.size(), 2u);
  EXPECT_EQ(ControlText(page, IDC_PROGRESS_LABEL), L"Scanning music folder...");
  EXPECT_TRUE(IsShown(page, IDC_PROGRESS_MARQUEE));
  EXPECT_FALSE(IsShown(page, IDC_PROGRESS_BAR));

  ASSERT_TRUE(frame.PumpUntilLogged(kPressNext, 60000));
  EXPECT_EQ(Found(), (std::vector<std::wstring>{other.path().wstring() + L"\\second.mp3"}));
  EXPECT_EQ(Kept(), (std::vector<std::wstring>{L"second.mp3|"}));
  EXPECT_EQ(results.fixedCount, 1u);
  EXPECT_EQ(results.failedCount, 0u);
  EXPECT_EQ(BarPosition(), 1);
}

}  // namespace
