// The result list's rows as text a user can keep or send: the program keeps
// no log, so what the list shows is the only record of a scan.
#pragma once

#include <windows.h>

void SelectAllRows(HWND list);

// Puts the selected rows on the clipboard, one line per row: path,
// detection name and outcome separated by tabs, each line ending in CR LF.
// Unicode text on the NT family; on the Windows 95 family, whose list holds
// 8-bit text, that text in the window's code page. FALSE when no row is
// selected or the clipboard could not be had.
BOOL CopySelectedRows(HWND list, HWND owner);
