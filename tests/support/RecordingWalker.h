// A walker that remembers what the scan handed to OnFile, and examines the
// files only when asked to.
#pragma once

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

    int OnFile(int fromMemory, const char* path, unsigned long long knownSize) override
    {
        visits.push_back({fromMemory, path});
        (fromMemory ? memoryPaths : diskPaths).push_back(path);
        if (onVisit)
            onVisit(*this, path);
        const int result = examineFiles ? MemAndFileWalker::OnFile(fromMemory, path, knownSize) : 1;
        if (!fromMemory && stopAfterDiskFiles != 0 && diskPaths.size() == stopAfterDiskFiles)
            context->RequestStop();
        return result;
    }

    bool examineFiles = false;
    size_t stopAfterDiskFiles = 0;
    std::vector<std::string> memoryPaths;
    std::vector<std::string> diskPaths;
    std::function<void(RecordingWalker&, const char*)> onVisit;
    std::vector<Visit> visits;
};
