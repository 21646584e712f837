// The folder and results pages in the recording frame: what each asks of
// the frame on activation, Next and Back, and what it shows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "tests/wizard/recording_frame.h"

using Log = std::vector<std::string>;

namespace {

// --- Folder page -------------------------------------------------------------

struct FolderPage : ::testing::Test {
  void SetUp() override { page = frame.AddPage(IDD_FOLDER_PAGE, FolderPageProc, &view); }
  void Type(const std::wstring& text) {
    SetWindowTextW(GetDlgItem(page, IDC_FOLDER_PATH), text.c_str());
  }

  RecordingFrame frame;
  std::wstring folder = L"previous";
  FolderPageView view{&folder};
  HWND page = nullptr;
};

TEST_F(FolderPage, EveryActivationCaptionsFixAndCancelAndEnablesThem) {
  for (int activation = 0; activation < 2; ++activation) {
    frame.log.clear();
    EXPECT_EQ(frame.Notify(page, PSN_SETACTIVE), 0);
    EXPECT_EQ(frame.log, (Log{Sent(PSM_SETNEXTTEXTW, 0, L"&Fix"),
                              Sent(PSM_SETBUTTONTEXTW, PSWIZB_CANCEL, L"Cancel"), kAnswered,
                              Posted(PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT | PSWIZB_CANCEL)}));
  }
}

TEST_F(FolderPage, NextStoresTheFieldAsTyped) {
  Type(L"D:\\");
  EXPECT_EQ(frame.Notify(page, PSN_WIZNEXT), 0);
  EXPECT_EQ(folder, L"D:\\");

  // Up to 259 characters, the rest of a longer text is dropped.
  const std::wstring longPath = L"C:\\" + std::wstring(297, L'a');
  Type(longPath);
  EXPECT_EQ(frame.Notify(page, PSN_WIZNEXT), 0);
  EXPECT_EQ(folder, longPath.substr(0, 259));
  EXPECT_EQ(frame.log, (Log{kAnswered, kAnswered}));  // no request of the frame
}

TEST_F(FolderPage, EmptyFieldKeepsThePageAndFocusesTheField) {
  Type(L"");
  EXPECT_EQ(frame.Notify(page, PSN_WIZNEXT), -1);
  EXPECT_EQ(folder, L"previous");
  EXPECT_EQ(GetFocus(), GetDlgItem(page, IDC_FOLDER_PATH));

  // The refusal does not linger into the next activation.
  EXPECT_EQ(frame.Notify(page, PSN_SETACTIVE), 0);
}

// --- Results page ------------------------------------------------------------

FileOutcome* Outcome(const wchar_t* path, const wchar_t* issue) {
  auto* outcome = new FileOutcome;
  outcome->path = path;
  outcome->issue = issue;
  return outcome;
}

struct ResultsPage : ::testing::Test {
  void SetUp() override { page = frame.AddPage(IDD_RESULTS_PAGE, ResultsPageProc, &view); }
  HWND List() { return GetDlgItem(page, IDC_RESULTS_LIST); }

  std::vector<std::wstring> Rows() { return ListRows(List()); }

  RecordingFrame frame;
  FixResults results;
  ResultsPageView view{2, IDD_FOLDER_PAGE, GetModuleHandleW(nullptr), &results};
  HWND page = nullptr;
};

// Mostly green pixels or mostly red ones, as the image list draws the image.
COLORREF DominantColour(HIMAGELIST images, int index) {
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP canvas = CreateCompatibleBitmap(screen, 16, 16);
  const HGDIOBJ old = SelectObject(dc, canvas);
  ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
  int green = 0, red = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const COLORREF pixel = GetPixel(dc, x, y);
      if (GetGValue(pixel) > 120 && GetRValue(pixel) < 100) {
        ++green;
      }
      if (GetRValue(pixel) > 150 && GetGValue(pixel) < 100) {
        ++red;
      }
    }
  }
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return green > red ? RGB(0, 255, 0) : red > green ? RGB(255, 0, 0) : RGB(0, 0, 0);
}

TEST_F(ResultsPage, ListHasTwoColumnsAndACheckAndACross) {
  wchar_t text[16] = {};
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = text;
  column.cchTextMax = 16;
  const struct {
    const wchar_t* text;
    int width;
  } columns[] = {{L"Name", 325}, {L"Issue", 75}};
  for (int index = 0; index < 2; ++index) {
    ASSERT_TRUE(SendMessageW(List(), LVM_GETCOLUMNW, index, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(text, columns[index].text);
    EXPECT_EQ(column.cx, columns[index].width);
    EXPECT_EQ(column.iSubItem, index);
  }
  EXPECT_EQ(SendMessageW(List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0);

  const auto images =
      reinterpret_cast<HIMAGELIST>(SendMessageW(List(), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(images), 2);
  int width = 0, height = 0;
  ImageList_GetIconSize(images, &width, &height);
  EXPECT_EQ(width, 16);
  EXPECT_EQ(height, 16);
  EXPECT_EQ(DominantColour(images, 0), RGB(0, 255, 0));
  EXPECT_EQ(DominantColour(images, 1), RGB(255, 0, 0));
}

TEST_F(ResultsPage, ActivationShowsSummaryAndRowsLastReportedFirst) {
  results.fixedCount = 1;
  results.failedCount = 2;
  results.outcomes.push_back(Outcome(L"Pop\\a.mp3", L""));
  results.outcomes.push_back(Outcome(L"b.mp3", L"Couldn't open file"));
  results.outcomes.push_back(Outcome(L"c.mp3", L"Couldn't save changes"));

  EXPECT_EQ(frame.Notify(page, PSN_SETACTIVE), 0);
  EXPECT_EQ(frame.log,
            (Log{Sent(PSM_SETHEADERTITLEW, 2, L"Successfully fixed 1 file, couldn't fix 2 files"),
                 Sent(PSM_SETFINISHTEXTW, 0, L"Close"), kAnswered,
                 Posted(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_FINISH),
                 Posted(PSM_SHOWWIZBUTTONS, 0, PSWIZB_CANCEL)}));
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"1|c.mp3|Couldn't save changes",
                                               L"1|b.mp3|Couldn't open file", L"0|Pop\\a.mp3|"}));
  EXPECT_TRUE(IsShown(page, IDC_RESULTS_LIST));
  EXPECT_FALSE(IsShown(page, IDC_RESULTS_EMPTY));
}

TEST_F(ResultsPage, RunWithNothingFixedOrFailedShowsABlankBody) {
  results.fixedCount = 1;
  results.outcomes.push_back(Outcome(L"a.mp3", L""));
  frame.Notify(page, PSN_SETACTIVE);

  // Back, Fix, and a run in which no file needed fixing.
  results.fixedCount = 0;
  results.outcomes.clear();
  frame.log.clear();
  frame.Notify(page, PSN_SETACTIVE);
  EXPECT_EQ(frame.log.front(), Sent(PSM_SETHEADERTITLEW, 2, L"No files needed fixing"));
  EXPECT_TRUE(IsShown(page, IDC_RESULTS_EMPTY));
  EXPECT_EQ(ControlText(page, IDC_RESULTS_EMPTY), L"");
  EXPECT_FALSE(IsShown(page, IDC_RESULTS_LIST));

  // A later run with results shows only its own rows.
  results.failedCount = 1;
  results.outcomes.push_back(Outcome(L"new.mp3", L"Couldn't open file"));
  frame.Notify(page, PSN_SETACTIVE);
  EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"1|new.mp3|Couldn't open file"}));
  EXPECT_TRUE(IsShown(page, IDC_RESULTS_LIST));
}

TEST_F(ResultsPage, BackGoesToTheFolderPage) {
  frame.Notify(page, PSN_SETACTIVE);
  frame.log.clear();
  EXPECT_EQ(frame.Notify(page, PSN_WIZBACK), IDD_FOLDER_PAGE);
  EXPECT_EQ(frame.log, Log{kAnswered});
}

}  // namespace
