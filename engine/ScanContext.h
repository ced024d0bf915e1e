// The record shared by the main dialog and the scan worker, and the
// operations through which the worker drives the dialog's controls.
#pragma once

#include <windows.h>

#include <atomic>

// Sent by the worker to the main dialog when a scan has ended.
constexpr UINT WM_SCAN_DONE = WM_USER + 100;

// Column of every text table: 0 simplified Chinese, 1 English,
// 2 traditional Chinese, 3 Japanese.
enum LanguageIndex : UINT {
    LanguageZhCn = 0,
    LanguageEnglish = 1,
    LanguageZhTw = 2,
    LanguageJapanese = 3,
    LanguageCount = 4
};

LanguageIndex LanguageIndexFromLangId(LANGID id);
LanguageIndex SystemLanguageIndex();

struct ScanContext {
    ScanContext(HWND progressBar, HWND statusLine, HWND resultList);

    void SetProgressRange(int low, int high) const;
    void SetProgressPos(int pos) const;
    void SetProgressStep(int step) const;
    void StepProgress() const;
    // Text in the ANSI code page of the interface's language.
    void SetStatusText(const char* text) const;
    // A path as the file system holds it: shown whole on the NT family,
    // through the ANSI code page on the Windows 95 family, which has no
    // wide window functions.
    void SetStatusText(const wchar_t* text) const;
    void AddResultRow(const wchar_t* path, const char* name, const char* outcome);
    void NotifyScanDone() const;

    bool StopRequested() const { return stopFlag.load(std::memory_order_relaxed) != 0; }
    void RequestStop() { stopFlag.store(1, std::memory_order_relaxed); }

    // The dialog holds one reference and each worker another, so that the
    // record outlives whichever of them finishes last.
    void AddRef() { references.fetch_add(1, std::memory_order_relaxed); }
    void Release();

    // A worker keeps the dialog from starting another scan or ending until
    // its summary is dismissed, which comes after WM_SCAN_DONE.
    void WorkerStarting()
    {
        workerBusy.store(true, std::memory_order_relaxed);
        AddRef();
    }
    void WorkerDone()
    {
        workerBusy.store(false, std::memory_order_release);
        Release();
    }
    bool WorkerBusy() const { return workerBusy.load(std::memory_order_acquire); }

    HWND statusLine;
    HWND progressBar;
    HWND resultList;
    UINT rowCount;
    UINT language;
    std::atomic<UINT> stopFlag;
    std::atomic<LONG> references;
    std::atomic<bool> workerBusy;
};
