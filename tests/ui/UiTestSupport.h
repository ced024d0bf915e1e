// Real dialogs from the real resources, made modeless so that a test can
// send messages and pump the queue itself.
#pragma once

#include "ScanContext.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// What each language shows, as UTF-16.
struct ExpectedTexts {
    const wchar_t* mainTitle;
    const wchar_t* progressLabel;
    const wchar_t* buttons[4];
    const wchar_t* columns[3];
    const wchar_t* aboutTitle;
    const wchar_t* aboutLines[4];
    const wchar_t* ok;
    const wchar_t* linkTip;
    const wchar_t* copy;
};

const ExpectedTexts& ExpectedForSystem();

// Sets AppInstance and SharedTooltip as start-up does; undone on destruction.
class UiProcess {
public:
    UiProcess();
    ~UiProcess();
    UiProcess(const UiProcess&) = delete;
    UiProcess& operator=(const UiProcess&) = delete;
};

// The main dialog, shown, with MainDlgProc; destroyed with the object.
class MainDialogWindow {
public:
    MainDialogWindow();
    ~MainDialogWindow();
    MainDialogWindow(const MainDialogWindow&) = delete;
    MainDialogWindow& operator=(const MainDialogWindow&) = delete;

    HWND Item(int id) const { return GetDlgItem(window, id); }
    ScanContext* Context() const;
    LRESULT Command(WPARAM wParam) { return SendMessageA(window, WM_COMMAND, wParam, 0); }

    HWND window = nullptr;
};

// Dispatches messages (through IsDialogMessage for dialog) until done()
// holds or timeoutMs passes; returns done().
bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs = 60000);
void PumpFor(HWND dialog, DWORD milliseconds);

// A visible "#32770" window of this process owned by owner, or null.
HWND FindOwnedDialog(HWND owner);

// Presses Stop, answers the summary box and waits until the worker has
// released its reference to the context.
void FinishScan(MainDialogWindow& main);

std::wstring TextW(HWND window);

// The screen's logical inch in pixels, as the dialogs see it; the run's
// TAVOK_EXPECT_DPI, when set, says what the prefix was set to.
int ScreenDpi();
// What TAVOK_EXPECT_DPI names, or 0.
int ExpectedDpi();

// Each child of the window, with its rectangle in the window's client
// coordinates.
struct ChildPlace {
    HWND window;
    RECT rect;
};
std::vector<ChildPlace> ChildPlaces(HWND parent);
// Every child inside the parent's client area and no two overlapping;
// texts of statics and buttons as wide as their control allows.
void ExpectLaidOutWithoutCuts(HWND parent);
// The width and height of an icon's image.
SIZE IconSize(HICON icon);
LONG ButtonType(HWND button);
bool HasTimerMessage(HWND window);
