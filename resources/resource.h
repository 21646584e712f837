// Resource ids of the wizard: icon, caption, the three page templates with
// their controls, and the two result bitmaps.
#pragma once

#define IDI_APP 100
#define IDS_CAPTION 101

#define IDD_FOLDER_PAGE 200
#define IDC_FOLDER_INTRO 201
#define IDC_FOLDER_PATH 202
#define IDC_FOLDER_CHANGE 203

#define IDD_PROGRESS_PAGE 300
#define IDC_PROGRESS_LABEL 301
#define IDC_PROGRESS_MARQUEE 302
#define IDC_PROGRESS_BAR 303

#define IDD_RESULTS_PAGE 400
#define IDC_RESULTS_EMPTY 401
#define IDC_RESULTS_LIST 402
#define IDB_FIXED 403
#define IDB_FAILED 404
