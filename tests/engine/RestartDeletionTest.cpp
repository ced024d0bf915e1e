// The Windows 95 family's own rules, tested where this system is not of it:
// restart deletion through WININIT.INI.
#include "RestartDeletion.h"
#include "RuntimeApi.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A Windows folder of the test's own.
std::string windowsFolder;

UINT WINAPI TestWindowsFolder(LPSTR buffer, UINT size)
{
    if (windowsFolder.size() >= size)
        return static_cast<UINT>(windowsFolder.size() + 1);
    windowsFolder.copy(buffer, windowsFolder.size());
    buffer[windowsFolder.size()] = '\0';
    return static_cast<UINT>(windowsFolder.size());
}

// The short path Windows 95 would give: Wine never puts a letter outside
// ASCII in a short name.
std::string chosenShortPath;

DWORD WINAPI ChosenShortPath(LPCSTR, LPSTR buffer, DWORD size)
{
    if (chosenShortPath.size() >= size)
        return static_cast<DWORD>(chosenShortPath.size() + 1);
    chosenShortPath.copy(buffer, chosenShortPath.size());
    buffer[chosenShortPath.size()] = '\0';
    return static_cast<DWORD>(chosenShortPath.size());
}

struct Windows95Folder {
    TempTree tree;
    std::string wininit;
    RuntimeApi api;

    Windows95Folder()
    {
        windowsFolder = tree.MakeDir("WINDOWS");
        wininit = windowsFolder + "\\WININIT.INI";
        api.GetWindowsDirectoryA = TestWindowsFolder;
    }

    std::string Wininit() const
    {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(wininit, text));
        return text;
    }
};

const char Before[] = "[rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\A.DLL=C:\\A.NEW\r\n";

}  // namespace

TEST(RestartDeletion, TheShortPathIsWrittenInTheOemCodePage)
{
    // "é" is E9 in code page 1252, the engine tests' ANSI code page, and 82
    // in both OEM code pages Wine may pair with it.
    ASSERT_EQ(GetACP(), 1252u);
    ASSERT_TRUE(GetOEMCP() == 437u || GetOEMCP() == 850u) << GetOEMCP();
    Windows95Folder folder;
    folder.api.GetShortPathNameA = ChosenShortPath;
    chosenShortPath = "C:\\DOCS\\CAF\xE9.EXE";
    EXPECT_TRUE(ScheduleWininitDeletion(folder.api, "C:\\Docs\\caf\xE9.exe"));
    EXPECT_EQ(folder.Wininit(), "[rename]\r\nNUL=C:\\DOCS\\CAF\x82.EXE\r\n");

    // The euro sign has no form in either: CharToOemA would write '?', and
    // "Š" would become an "S" that names another file.
    for (const char* shortPath : {"C:\\DOCS\\PRIC\x80.EXE", "C:\\DOCS\\\x8A" "ALE.EXE"}) {
        chosenShortPath = shortPath;
        EXPECT_FALSE(ScheduleWininitDeletion(folder.api, "C:\\Docs\\file.exe")) << shortPath;
    }
    EXPECT_EQ(folder.Wininit(), "[rename]\r\nNUL=C:\\DOCS\\CAF\x82.EXE\r\n");
}

TEST(RestartDeletion, AShortPathTooLongForMsDosIsRefused)
{
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);

    // Real folders, as deep as a short path can go in Windows and not in
    // real-mode MS-DOS.
    const std::string deep = folder.tree.WriteFile(
        "LEVEL001\\LEVEL002\\LEVEL003\\LEVEL004\\LEVEL005\\LEVEL006\\LEVEL007\\LEVEL008\\WORM.EXE", "worm");
    char shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(deep.c_str(), shortPath, MAX_PATH), 80u) << shortPath;
    EXPECT_FALSE(ScheduleWininitDeletion(folder.api, deep.c_str()));
    EXPECT_EQ(folder.Wininit(), Before);

    // At the limit: the folder "C:\" and 63 more characters, then an 8.3 name.
    folder.api.GetShortPathNameA = ChosenShortPath;
    std::string longest = "C:\\" + std::string(7, 'D');
    for (int i = 0; i < 7; ++i)
        longest += "\\" + std::string(7, 'D');
    ASSERT_EQ(longest.size(), 66u);
    struct {
        std::string path;
        bool reached;
    } const cases[] = {
        {longest + "\\WORMFILE.EXE", true},
        {longest + "D\\WORM.EXE", false},       // a folder one longer, though the path is shorter
        {longest + "\\WORMFILE.EXE1", false},  // no 8.3 name
        {"\\\\SERVER\\SHARE\\WORM.EXE", false},   // no drive before Windows runs
    };
    std::string expected = Before;
    for (const auto& c : cases) {
        chosenShortPath = c.path;
        EXPECT_EQ(ScheduleWininitDeletion(folder.api, "C:\\worm.exe"), c.reached) << c.path;
        if (c.reached)
            expected += "NUL=" + c.path + "\r\n";
        EXPECT_EQ(folder.Wininit(), expected) << c.path;
    }
}
