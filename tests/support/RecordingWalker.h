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

    int OnFile(int fromMemory, const char* path) override
    {
        visits.push_back({fromMemory, path});
        if (onVisit)
            onVisit(*this, path);
        return examineFiles ? MemAndFileWalker::OnFile(fromMemory, path) : 1;
    }

    bool examineFiles = false;
    std::function<void(RecordingWalker&, const char*)> onVisit;
    std::vector<Visit> visits;
};
