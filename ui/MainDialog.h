// The main dialog: starts, stops and shows a scan.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InitMainDialog(HWND dialog);
