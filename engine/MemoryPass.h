// The memory pass: every module file of every running process, handed to
// the visitor before the disk pass, so that a loaded worm file is met first.
#pragma once

#include "ProcessList.h"
#include "ScanContext.h"

#include <windows.h>

class ModuleVisitor {
public:
    virtual void ModuleMet(const wchar_t* path) = 0;

protected:
    ~ModuleVisitor() = default;
};

// Steps the progress bar once a process. Returns why the pass examined
// nothing where the process list could say, else GapNone; the status line
// says it at once in the language (a valid index of the engine's texts).
ListGap RunMemoryPass(ScanContext& context, UINT language, ModuleVisitor& visitor);
