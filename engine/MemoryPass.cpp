// The memory pass: every module file of every running process, before the
// disk pass, so that a loaded worm file is met first.
#include "MemoryPass.h"

#include "EngineText.h"

ListGap RunMemoryPass(ScanContext& context, UINT language, ModuleVisitor& visitor)
{
    // Destroyed on every way out.
    ProcessList list;
    if (!list.Refresh()) {
        // Said now, and again in the summary: the disk pass overwrites the line.
        if (list.gap == GapNoPsapi)
            context.SetStatusText(NoPsapiNote[language]);
        return list.gap;
    }

    context.SetProgressRange(0, static_cast<int>(list.count));
    context.SetProgressStep(1);
    if (context.StopRequested())
        return GapNone;

    for (DWORD i = 0; i < list.count; ++i) {
        context.StepProgress();
        const ProcessRecord& record = list.records[i];
        if (record.processId != 0 && record.moduleCount != 0) {
            for (DWORD j = 0; j < record.moduleCount; ++j)
                visitor.ModuleMet(record.modules[j].path);
        }
        if (context.StopRequested())
            break;
    }
    return GapNone;
}
