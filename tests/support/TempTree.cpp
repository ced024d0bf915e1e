#include "TempTree.h"

#include "Handle.h"

#include <gtest/gtest.h>

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
    }
    return bytes;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file.Get(), &size);
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    const BOOL ok = bytes.empty() || ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    return ok && read == bytes.size();
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((path + "\\*").c_str(), &entry));
    if (find) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link is removed, never followed.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(full);
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(full.c_str());
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(find.Get(), &entry));
        find.Reset();  // the folder can't go while it is searched
    }
    RemoveDirectoryA(path.c_str());
}

TempTree::TempTree()
{
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        root_ = std::string(base) + "tavok-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(InterlockedIncrement(&counter));
        if (CreateDirectoryA(root_.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << root_ << ": " << GetLastError();
            break;
        }
    }
    if (!root_.empty() && root_.back() == '\\')
        root_.pop_back();
}

TempTree::~TempTree()
{
    // Through the \\?\ form, which takes every name as it is: a name that
    // ends in a dot or space, or a device name, would otherwise name
    // another file or none.
    if (!root_.empty())
        RemoveTree("\\\\?\\" + root_);
}

std::string TempTree::MakeDir(const std::string& relative) const
{
    std::string path = root_;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos)
            end = relative.size();
        path += "\\" + relative.substr(start, end - start);
        CreateDirectoryA(path.c_str(), nullptr);
        start = end + 1;
    }
    return path;
}

std::string TempTree::WriteFile(const std::string& relative, const std::string& bytes) const
{
    const size_t slash = relative.rfind('\\');
    if (slash != std::string::npos)
        MakeDir(relative.substr(0, slash));
    const std::string path = Path(relative);
    WriteFileAt(path, bytes);
    return path;
}

void TempTree::WriteFileAt(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    if (!bytes.empty()) {
        EXPECT_TRUE(::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    CloseHandle(file);
}

std::string TempTree::WriteFile(const std::string& relative, size_t size, unsigned seed) const
{
    return WriteFile(relative, PatternBytes(size, seed));
}

std::string windowsFolder;

UINT WINAPI TestWindowsFolder(LPSTR buffer, UINT size)
{
    if (windowsFolder.size() >= size)
        return static_cast<UINT>(windowsFolder.size() + 1);
    windowsFolder.copy(buffer, windowsFolder.size());
    buffer[windowsFolder.size()] = '\0';
    return static_cast<UINT>(windowsFolder.size());
}
