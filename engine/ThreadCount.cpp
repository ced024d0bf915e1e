// The thread count of a process from the NT family's system process
// information, where NT 4.0, without tool-help, gives it.
#include "ThreadCount.h"

#include "Memory.h"

#include <cstring>

namespace {

// What the NT family's system process information holds per process: the
// offset of the next entry (0 in the last), the thread count, and further
// on the process id, behind the image name and the base priority.
constexpr size_t EntryNextOffset = 0;
constexpr size_t EntryThreadsOffset = 4;
constexpr size_t EntryProcessIdOffset = sizeof(void*) == 4 ? 68 : 80;

constexpr ULONG SystemProcessInformationClass = 5;
constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr size_t BytesPerExpectedProcess = 200;
constexpr size_t FirstExpectedProcesses = 256;
// A system that keeps asking for more past this is not going to answer.
constexpr size_t MaxQueryBytes = 64 * 1024 * 1024;

#if defined(__i386__)
static_assert(EntryProcessIdOffset == 68, "UniqueProcessId in 32-bit system process information");
#endif

}  // namespace

DWORD ThreadCountOf(NtQuerySystemInformationFn query, DWORD processId)
{
    for (size_t expected = FirstExpectedProcesses;; expected *= 2) {
        const size_t bytes = expected * BytesPerExpectedProcess;
        if (bytes > MaxQueryBytes)
            return 0;
        UniquePtr<unsigned char[]> buffer(new (NoThrow) unsigned char[bytes]);
        if (!buffer)
            return 0;
        const LONG status = query(SystemProcessInformationClass, buffer.get(), static_cast<ULONG>(bytes), nullptr);
        if (status == StatusInfoLengthMismatch)
            continue;
        if (status != 0)
            return 0;

        // Entries that point past the buffer end the walk, not the program.
        for (size_t offset = 0; offset + EntryProcessIdOffset + sizeof(DWORD) <= bytes;) {
            DWORD next = 0;
            DWORD threads = 0;
            DWORD id = 0;
            std::memcpy(&next, buffer.get() + offset + EntryNextOffset, sizeof next);
            std::memcpy(&threads, buffer.get() + offset + EntryThreadsOffset, sizeof threads);
            std::memcpy(&id, buffer.get() + offset + EntryProcessIdOffset, sizeof id);
            if (id == processId)
                return threads;
            if (next == 0)
                break;
            offset += next;
        }
        return 0;
    }
}
