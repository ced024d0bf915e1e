// Static controls that act as web links: the hand cursor, a page opened on
// a left-button press, and a hover flag kept in the parent's user data.
#pragma once

#include <windows.h>

extern const char HomePageAddress[];
extern const char ProductPageAddress[];

LRESULT CALLBACK HomeLinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ProductLinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

// Subclasses the control; its user data keeps the previous procedure.
void InstallLinkProc(HWND control, WNDPROC linkProc);

// Hover timer on the link control itself.
constexpr UINT_PTR LinkHoverTimer = 1;
