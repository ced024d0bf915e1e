// A real top-level window with the three controls a scan drives, served by
// the test's thread while a scan runs on a worker, as the main dialog does.
#pragma once

#include "ScanContext.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct ResultRow {
    std::wstring path;
    std::wstring name;
    std::wstring outcome;
};

struct ProgressMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct ScanReport {
    std::vector<ResultRow> rows;
    bool summaryShown = false;
    std::wstring summaryText;
    std::wstring summaryCaption;
    HWND summaryOwner = nullptr;
    int scanDoneMessages = 0;
    bool summaryAfterScanDone = false;
    std::vector<std::string> statusTexts;  // every text set on the status line, in the ANSI code page
    std::vector<ProgressMessage> progress;
    bool finished = false;
};

std::wstring WindowTextW(HWND window);
std::wstring Widen(const std::string& ansi);  // through the ANSI code page

// A visible dialog-class window: a dialog or a message box.
bool IsVisibleDialog(HWND window);
// The message of a message box: its first static with text that is no icon.
std::wstring MessageBoxText(HWND box);

class ScanHost {
public:
    ScanHost();
    ~ScanHost();
    ScanHost(const ScanHost&) = delete;
    ScanHost& operator=(const ScanHost&) = delete;

    ScanContext& Context() { return *context_; }

    // Runs body on a worker thread, serving the worker's messages and
    // answering the summary box, which onSummary may inspect first. Gives up
    // after timeoutMs. Rows are read back from the list at the end.
    ScanReport Run(const std::function<void(ScanContext&)>& body,
                   DWORD timeoutMs = 60000,
                   const std::function<void(HWND)>& onSummary = nullptr);

    std::vector<ResultRow> Rows() const;

    HWND window = nullptr;
    HWND progressBar = nullptr;
    HWND statusLine = nullptr;
    HWND resultList = nullptr;

private:
    static LRESULT CALLBACK HostProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK StatusProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK ProgressProc(HWND, UINT, WPARAM, LPARAM);

    ScanContext* context_ = nullptr;
    ScanReport* current_ = nullptr;
    WNDPROC statusPrevious_ = nullptr;
    WNDPROC progressPrevious_ = nullptr;
};
