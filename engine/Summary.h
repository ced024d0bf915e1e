// The summary box that ends a scan, made from its counts.
#pragma once

#include "ProcessList.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

// What a scan counted, and why it fell short where it did.
struct ScanTally {
    UINT files;
    UINT infected;
    UINT deleted;
    // Files of a signature's size that could not be opened or read.
    UINT unexamined;
    // Why the memory pass examined nothing, when the process list could say.
    ListGap memoryGap;
    // A removal was refused for want of rights an administrator may have.
    bool removalDenied;
    // The letters of mapped drives whose shares an elevated scan could not list.
    const AString& unreachableShares;
    // Elevated, the scan could not tell whose mapped drives to walk.
    bool userDrivesUnknown;
};

// Shows the summary, owned by owner, in the language (a valid index of the
// engine's texts), and returns when the user closes it.
void ShowSummary(HWND owner, UINT language, const ScanTally& tally, const RuntimeApi& api);
