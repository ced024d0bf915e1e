// A walker that remembers what the scan handed to OnFile, and examines the
// files only when asked to.
#pragma once

#include "FileSystem.h"
#include "MemAndFileWalker.h"

#include <functional>
#include <string>
#include <vector>

struct Visit {
    int fromMemory;
    std::string path;
};

class RecordingWalker : public MemAndFileWalker {
public:
    using MemAndFileWalker::MemAndFileWalker;

    // Remembers each file by its own path, as the row shows it: whole, and
    // through the ANSI code page.
    int OnFile(int fromMemory, const wchar_t* path, unsigned long long knownSize,
               const wchar_t* shownPath = nullptr) override
    {
        const wchar_t* wideShown = shownPath ? shownPath : path;
        const std::string shown = AnsiFromWide(wideShown).c_str();
        visits.push_back({fromMemory, shown});
        (fromMemory ? memoryPaths : diskPaths).push_back(shown);
        if (!fromMemory)
            wideDiskPaths.push_back(wideShown);
        if (onVisit)
            onVisit(*this, shown.c_str());
        const int result =
            examineFiles ? MemAndFileWalker::OnFile(fromMemory, path, knownSize, shownPath) : 1;
        if (!fromMemory && stopAfterDiskFiles != 0 && diskPaths.size() == stopAfterDiskFiles)
            context->RequestStop();
        return result;
    }

    bool examineFiles = false;
    size_t stopAfterDiskFiles = 0;
    std::vector<std::string> memoryPaths;
    std::vector<std::string> diskPaths;
    std::vector<std::wstring> wideDiskPaths;
    std::function<void(RecordingWalker&, const char*)> onVisit;
    std::vector<Visit> visits;
};
