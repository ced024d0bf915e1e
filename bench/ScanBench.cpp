// Prints what the scan costs: MD5 throughput, the disk pass against a bare
// enumeration of the same tree, and the peak working set.
//   ScanBench.exe [OpenSSL MD5 in MB/s] [number of files] [drive letter]
// The drive, where given, is an NTFS volume holding the same tree at its
// root, raw at \\.\X: (scripts/bench.sh): its file table is read there
// beside the walk of its folders.
#include "Handle.h"
#include "Md5.h"
#include "RuntimeApi.h"
#include "MemAndFileWalker.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Md5MegabytesPerSecond()
{
    std::vector<unsigned char> buffer(16 << 20);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        Md5Context context;
        Md5Init(&context);
        const auto start = Clock::now();
        for (int i = 0; i < 16; ++i)
            Md5Update(&context, buffer.data(), buffer.size());
        unsigned char digest[16];
        Md5Final(&context, digest);
        const double rate = 16.0 * buffer.size() / Seconds(start) / 1e6;
        best = rate > best ? rate : best;
    }
    return best;
}

void MakeTree(const std::string& root, size_t files)
{
    CreateDirectoryA(root.c_str(), nullptr);
    const size_t perDirectory = 200;
    std::string content(4096, 'x');
    for (size_t i = 0; i < files; ++i) {
        const std::string dir = root + "\\d" + std::to_string(i / perDirectory);
        if (i % perDirectory == 0)
            CreateDirectoryA(dir.c_str(), nullptr);
        const std::string path = dir + "\\file" + std::to_string(i) + ".dat";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>((i * 37) % content.size()), &written, nullptr);
        CloseHandle(file);
    }
}

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &entry));
    if (find) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + "\\" + name);
            else
                DeleteFileA((dir + "\\" + name).c_str());
        } while (FindNextFileA(find.Get(), &entry));
        find.Reset();  // the folder can't go while it is searched
    }
    RemoveDirectoryA(dir.c_str());
}

// The listing the disk pass makes on this system: the wide functions on a
// \\?\ path, without short names and with large fetches from Windows 7 on,
// with a 32-bit process's file-system redirection off around each search's
// start, as the disk pass has it.
size_t EnumerateOnly(const std::wstring& dir, bool basicInfo, const RuntimeApi& api)
{
    size_t count = 0;
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = dir + L"\\*";
    PVOID redirection = nullptr;
    const bool redirectionOff = api.Wow64DisableWow64FsRedirection && api.Wow64RevertWow64FsRedirection &&
                                api.Wow64DisableWow64FsRedirection(&redirection);
    FindHandle find(basicInfo ? FindFirstFileExW(pattern.c_str(), static_cast<FINDEX_INFO_LEVELS>(1), &entry,
                                                 FindExSearchNameMatch, nullptr, 2)
                              : FindFirstFileW(pattern.c_str(), &entry));
    if (redirectionOff)
        api.Wow64RevertWow64FsRedirection(redirection);
    if (!find)
        return 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (entry.cFileName[0] != L'.')
                count += EnumerateOnly(dir + L"\\" + entry.cFileName, basicInfo, api);
        } else {
            ++count;
        }
    } while (FindNextFileW(find.Get(), &entry));
    return count;
}

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// Best of three rounds for each walk, in files per second. The walks take
// turns within a round, so that all meet the same caches and load.
std::vector<double> BestOfThreeInTurn(size_t files, const std::vector<std::function<void()>>& walks)
{
    std::vector<double> best(walks.size(), 0.0);
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < walks.size(); ++i) {
            const auto start = Clock::now();
            walks[i]();
            best[i] = std::max(best[i], files / Seconds(start));
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const double openSsl = argc > 1 ? std::atof(argv[1]) : 0;
    const size_t files = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50000;

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "tavok-bench-" + std::to_string(GetCurrentProcessId());
    const auto made = Clock::now();
    MakeTree(root, files);
    std::printf("Tree: %zu files in %zu folders, made in %.1f s\n", files, (files + 199) / 200, Seconds(made));

    const std::wstring wideRoot(root.begin(), root.end());  // the temporary folder's path is ASCII here
    const std::wstring extendedRoot = L"\\\\?\\" + wideRoot;
    const DWORD version = GetVersion();
    const bool basicInfo = VersionNumber(version) >= 601;
    RuntimeApi api;
    ResolveLaterKernel32Functions(api);
    size_t counted = EnumerateOnly(extendedRoot, basicInfo, api);  // warms the caches
    const SIZE_T peakBefore = PeakWorkingSet();

    // The scan reports to no window here: the context's messages go nowhere.
    ScanContext* context = new ScanContext(nullptr, nullptr, nullptr);
    UINT visited = 0;
    auto diskPass = [&](bool openEveryFile) {
        MemAndFileWalker walker(context);
        walker.openEveryFile = openEveryFile;
        walker.ScanDirectory(wideRoot.c_str());
        visited = walker.files;
    };
    const std::vector<double> rates = BestOfThreeInTurn(
        files, {[&] { counted = EnumerateOnly(extendedRoot, basicInfo, api); }, [&] { diskPass(false); }, [&] { diskPass(true); }});
    const double enumeration = rates[0], pass = rates[1], opening = rates[2];
    const SIZE_T peakAfter = PeakWorkingSet();

    std::printf("Enumeration only:           %8.0f files/s  (%zu files)\n", enumeration, counted);
    std::printf("Disk pass, opening every file: %5.0f files/s  ratio %.3f\n", opening, opening / enumeration);
    std::printf("Disk pass:                  %8.0f files/s  (%u files)  ratio %.3f\n", pass, visited,
                pass / enumeration);
    std::printf("Peak working set of the process: %.1f MiB before the disk passes, %.1f MiB after\n", peakBefore / 1048576.0,
                peakAfter / 1048576.0);
    if (argc > 3) {
        // In turn with the enumeration of the tree on C:, the floor of any
        // walk, so that all three meet the same load.
        const std::wstring drive = {static_cast<wchar_t>(argv[3][0]), L':'};
        size_t listed = EnumerateOnly(L"\\\\?\\" + drive, basicInfo, api);
        UINT walked = 0;
        UINT read = 0;
        auto drivePass = [&](bool readFileTable, UINT& seen) {
            MemAndFileWalker walker(context);
            walker.readFileTable = readFileTable;
            walker.ScanDirectory(drive.c_str());
            seen = walker.files;
        };
        const std::vector<double> ntfs =
            BestOfThreeInTurn(files, {[&] { counted = EnumerateOnly(extendedRoot, basicInfo, api); },
                                      [&] { listed = EnumerateOnly(L"\\\\?\\" + drive, basicInfo, api); },
                                      [&] { drivePass(false, walked); }, [&] { drivePass(true, read); }});
        std::printf("The same tree on an NTFS image at %ls (its files through ntfs-3g), in turn with C:'s:\n",
                    drive.c_str());
        std::printf("Enumeration only, C:        %8.0f files/s  (%zu files)\n", ntfs[0], counted);
        std::printf("Enumeration only, %ls        %8.0f files/s  (%zu files)\n", drive.c_str(), ntfs[1], listed);
        std::printf("Disk pass, walking %ls       %8.0f files/s  (%u files)  ratio %.3f to its enumeration\n",
                    drive.c_str(), ntfs[2], walked, ntfs[2] / ntfs[1]);
        std::printf("Disk pass, file table:      %8.0f files/s  (%u files)  ratio %.2f to C:'s enumeration\n",
                    ntfs[3], read, ntfs[3] / ntfs[0]);
        std::printf("Peak working set of the process after the file table: %.1f MiB\n",
                    PeakWorkingSet() / 1048576.0);
    }
    RemoveTree(root);
    context->Release();

    // Last, so that its 16 MiB buffer stays out of the scan's peak.
    const double md5 = Md5MegabytesPerSecond();
    std::printf("MD5 (own, RFC 1321):        %8.0f MB/s\n", md5);
    if (openSsl > 0)
        std::printf("MD5 (openssl speed):        %8.0f MB/s   ratio %.2f\n", openSsl, md5 / openSsl);
    return 0;
}
