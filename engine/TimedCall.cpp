// Tool-help calls that can hang on a process that is starting or ending,
// each made on a thread of its own that is given up at its time limit.
#include "TimedCall.h"

#include "Handle.h"
#include "Memory.h"

namespace {

// How often a module snapshot that fails with ERROR_BAD_LENGTH is taken.
constexpr int ModuleSnapshotTries = 16;

// Call threads started and not yet through their call, given up or not.
volatile LONG runningCalls = 0;

// A timed call's working block. The worker and the call thread hold one
// reference each and the last to let go frees it, so a call thread that
// outlives its limit only ever writes into memory that is still its own.
struct CallBlock {
    volatile LONG references = 2;
    volatile LONG abandoned = 0;

    virtual ~CallBlock() = default;
    virtual void Call() noexcept = 0;
    // Gives back a result that nobody will take.
    virtual void Discard() noexcept {}
};

void ReleaseCall(CallBlock* block) noexcept
{
    if (InterlockedDecrement(&block->references) == 0) {
        if (block->abandoned)
            block->Discard();
        delete block;
    }
}

DWORD WINAPI CallThreadProc(LPVOID parameter)
{
    auto* block = static_cast<CallBlock*>(parameter);
    block->Call();
    ReleaseCall(block);
    InterlockedDecrement(&runningCalls);
    return 0;
}

// Runs the block's call on a thread of its own. True when it ended within
// the limit; the worker still holds its reference either way.
//
// A call past its limit is given up, never ended: TerminateThread would
// leave whatever lock the thread held taken for good, the loader's while
// it starts or ends, the heap's inside the call, and the next thread
// start, allocation or the process's exit would wait on it forever. The
// thread goes on alone, frees the block when its call returns, and dies
// with the process at the latest.
bool RunTimedCall(CallBlock* block, DWORD limitMs) noexcept
{
    InterlockedIncrement(&runningCalls);
    // The Windows 95 family fails CreateThread without somewhere to put the id.
    DWORD threadId = 0;
    KernelHandle thread(CreateThread(nullptr, 0, CallThreadProc, block, 0, &threadId));
    if (!thread) {
        InterlockedDecrement(&runningCalls);
        block->references = 1;
        return false;
    }
    if (WaitForSingleObject(thread.Get(), limitMs) == WAIT_OBJECT_0)
        return true;
    InterlockedExchange(&block->abandoned, 1);
    return false;
}

struct SnapshotCall final : CallBlock {
    CreateToolhelp32SnapshotFn create = nullptr;
    DWORD processId = 0;
    HANDLE result = INVALID_HANDLE_VALUE;

    // Microsoft documents ERROR_BAD_LENGTH as a snapshot to be taken again:
    // the module list changed while it was read. The tries stay within the
    // call's time limit.
    void Call() noexcept override
    {
        for (int attempt = 0; attempt < ModuleSnapshotTries; ++attempt) {
            result = create(TH32CS_SNAPMODULE, processId);
            if (result != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH)
                return;
        }
    }
    void Discard() noexcept override
    {
        if (result != INVALID_HANDLE_VALUE && result != nullptr)
            CloseHandle(result);
    }
};

// The call thread steps its own copy of the entry; the caller's entry is
// written only by the worker, after the call has ended in time.
template <class Entry>
struct NextModuleCall final : CallBlock {
    BOOL(WINAPI* next)(HANDLE, Entry*) = nullptr;
    HANDLE snapshot = nullptr;
    // The snapshot, once the call is given up.
    SnapshotHandle kept;
    Entry entry = {};
    BOOL result = FALSE;

    void Call() noexcept override { result = next(snapshot, &entry); }
};

template <class Entry>
int TimedNextModule(BOOL(WINAPI* next)(HANDLE, Entry*), SnapshotHandle& snapshot, Entry* entry, DWORD limitMs)
{
    auto* call = new (NoThrow) NextModuleCall<Entry>;
    if (!call)
        return 0;
    call->next = next;
    call->snapshot = snapshot.Get();
    call->entry = *entry;
    int delivered = 0;
    if (RunTimedCall(call, limitMs)) {
        if (call->result) {
            *entry = call->entry;
            delivered = 1;
        }
    } else if (call->abandoned) {
        // The call goes on with the snapshot's handle, and keeps it till it
        // returns; the caller goes on with a copy, where one can be made.
        HANDLE copy = INVALID_HANDLE_VALUE;
        if (!DuplicateHandle(GetCurrentProcess(), snapshot.Get(), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            copy = INVALID_HANDLE_VALUE;
        call->kept.Reset(snapshot.Release());
        snapshot.Reset(copy);
    }
    ReleaseCall(call);
    return delivered;
}

}  // namespace

LONG TimedCallsRunning()
{
    return InterlockedCompareExchange(&runningCalls, 0, 0);
}

HANDLE TimedModuleSnapshot(CreateToolhelp32SnapshotFn create, DWORD processId, DWORD limitMs)
{
    auto* call = new (NoThrow) SnapshotCall;
    if (!call)
        return INVALID_HANDLE_VALUE;
    call->create = create;
    call->processId = processId;
    HANDLE result = INVALID_HANDLE_VALUE;
    if (RunTimedCall(call, limitMs)) {
        result = call->result;
        call->result = INVALID_HANDLE_VALUE;
    }
    ReleaseCall(call);
    return result;
}

int TimedModuleNext(BOOL(WINAPI* next)(HANDLE, MODULEENTRY32*), SnapshotHandle& snapshot, MODULEENTRY32* entry,
                    DWORD limitMs)
{
    return TimedNextModule(next, snapshot, entry, limitMs);
}

int TimedModuleNext(BOOL(WINAPI* next)(HANDLE, MODULEENTRY32W*), SnapshotHandle& snapshot, MODULEENTRY32W* entry,
                    DWORD limitMs)
{
    return TimedNextModule(next, snapshot, entry, limitMs);
}
