// A private folder under the prefix's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <windows.h>

#include <string>

class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }

    // Creates the folders on the way; returns the full path.
    std::string MakeDir(const std::string& relative) const;
    std::string WriteFile(const std::string& relative, const std::string& bytes) const;
    // size bytes of a repeatable pattern seeded by seed.
    std::string WriteFile(const std::string& relative, size_t size, unsigned seed) const;
    // A file outside any tree; the caller removes it.
    static void WriteFileAt(const std::string& path, const std::string& bytes);

private:
    std::string root_;
};

// A Windows folder of the test's own, handed out by TestWindowsFolder in
// place of GetWindowsDirectoryA.
extern std::string windowsFolder;
UINT WINAPI TestWindowsFolder(LPSTR buffer, UINT size);

std::string PatternBytes(size_t size, unsigned seed);
bool FileExists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& bytes);
void RemoveTree(const std::string& path);
