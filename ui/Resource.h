// Identifiers shared by the resource script and the code.
#pragma once

#define IDD_MAIN 101
#define IDD_ABOUT 102
#define IDI_ABOUT 106
#define IDB_BANNER 118
#define IDI_APP 119

#define IDC_SCAN 1
#define IDC_EXIT 2
#define IDC_ABOUT 3
#define IDC_STOP 4

#define IDC_STATUS 1000
#define IDC_PROGRESS 1001
#define IDC_RESULTS 1002
#define IDC_PROGRESS_LABEL 1003
#define IDC_HOME_LINK 1004
#define IDC_ABOUT_TITLE 1005
#define IDC_ABOUT_VERSION_LABEL 1006
#define IDC_ABOUT_DATE_LABEL 1007
#define IDC_ABOUT_COMPANY 1008
#define IDC_BANNER 1012

// The result list's context menu.
#define IDM_COPY 1013

// The banner's place in IDD_MAIN, in dialog units: the banner is drawn to
// fill it at whatever size the dialog's font makes it.
#define BANNER_LEFT 7
#define BANNER_TOP 7
#define BANNER_WIDTH 268
#define BANNER_HEIGHT 68

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
