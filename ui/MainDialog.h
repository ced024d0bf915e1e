// The main dialog: starts, stops and shows a scan.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InitMainDialog(HWND dialog);

// True once a scan worker has been started: its threads, and the call
// threads of its memory pass, may still be running.
bool ScanThreadsStarted();
