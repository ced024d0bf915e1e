// The About dialog with its localized texts and the home-page link.
#pragma once

#include <windows.h>

// The underlined system font of the hovered link; one About dialog at a
// time creates it at opening and deletes it at closing.
extern HFONT LinkHoverFont;

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InitAboutDialog(HWND dialog, HFONT& fontSlot);
