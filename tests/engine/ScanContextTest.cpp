// The scan context's language rule and its list operation on a real list view.
#include "ScanContext.h"
#include "ScanHost.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(LanguageIndex, OnlyTheExactIdentifiersSelectChineseOrJapanese)
{
    EXPECT_EQ(LanguageIndexFromLangId(0x0804), 0u);
    EXPECT_EQ(LanguageIndexFromLangId(0x0404), 2u);
    EXPECT_EQ(LanguageIndexFromLangId(0x0411), 3u);
    for (LANGID other : {0x0409, 0x0809, 0x0C04, 0x1004, 0x1404, 0x0412, 0x0004, 0x0000, 0xFFFF, 0x0407})
        EXPECT_EQ(LanguageIndexFromLangId(other), 1u) << std::hex << other;
}

TEST(LanguageIndexLocalized, FollowsTheSystemDefaultLanguage)
{
    const char* locale = std::getenv("LC_ALL");
    ASSERT_NE(locale, nullptr);
    const std::string name(locale);
    UINT expected = 1;
    if (name.rfind("zh_CN", 0) == 0)
        expected = 0;
    else if (name.rfind("zh_TW", 0) == 0)
        expected = 2;
    else if (name.rfind("ja_JP", 0) == 0)
        expected = 3;
    EXPECT_EQ(SystemLanguageIndex(), expected) << name << " langid " << std::hex << GetSystemDefaultLangID();
}

TEST(ScanContext, ConstructionKeepsTheHandlesAndStartsClear)
{
    HWND progress = reinterpret_cast<HWND>(0x10), status = reinterpret_cast<HWND>(0x20),
         list = reinterpret_cast<HWND>(0x30);
    ScanContext* context = new ScanContext(progress, status, list);
    EXPECT_EQ(context->progressBar, progress);
    EXPECT_EQ(context->statusLine, status);
    EXPECT_EQ(context->resultList, list);
    EXPECT_EQ(context->rowCount, 0u);
    EXPECT_FALSE(context->StopRequested());
    context->RequestStop();
    EXPECT_TRUE(context->StopRequested());
    context->AddRef();
    context->Release();
    context->Release();
}

TEST(ScanContext, RowsAreAppendedSelectedFocusedAndScrolledIntoView)
{
    ScanHost host;
    ScanContext& context = host.Context();
    for (int i = 0; i < 60; ++i) {
        const std::wstring path = L"C:\\dir\\file" + std::to_wstring(i) + L".exe";
        context.AddResultRow(path.c_str(), "Worm.Win32.Tavok", "Deleted");
    }
    EXPECT_EQ(context.rowCount, 60u);
    const auto rows = host.Rows();
    ASSERT_EQ(rows.size(), 60u);
    EXPECT_EQ(rows[0].path, L"C:\\dir\\file0.exe");
    EXPECT_EQ(rows[59].path, L"C:\\dir\\file59.exe");
    EXPECT_EQ(rows[59].name, L"Worm.Win32.Tavok");
    EXPECT_EQ(rows[59].outcome, L"Deleted");

    const UINT both = LVIS_SELECTED | LVIS_FOCUSED;
    EXPECT_EQ(SendMessageA(host.resultList, LVM_GETITEMSTATE, 59, both), LRESULT(both));
    EXPECT_EQ(SendMessageA(host.resultList, LVM_GETSELECTEDCOUNT, 0, 0), 1);
    const int top = static_cast<int>(SendMessageA(host.resultList, LVM_GETTOPINDEX, 0, 0));
    const int perPage = static_cast<int>(SendMessageA(host.resultList, LVM_GETCOUNTPERPAGE, 0, 0));
    EXPECT_GT(top, 0);
    EXPECT_LE(59, top + perPage);

    // A new scan empties the list and starts again at row 0.
    SendMessageA(host.resultList, LVM_DELETEALLITEMS, 0, 0);
    context.rowCount = 0;
    context.AddResultRow(L"C:\\again.exe", "Worm.Win32.Tavok", "Delay Delete");
    const auto again = host.Rows();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].path, L"C:\\again.exe");
    EXPECT_EQ(again[0].outcome, L"Delay Delete");
}

TEST(ScanContext, ProgressOperationsReachTheBar)
{
    ScanHost host;
    ScanReport report = host.Run([](ScanContext& context) {
        context.SetProgressRange(0, 23);
        context.SetProgressStep(1);
        context.StepProgress();
        context.StepProgress();
        context.SetStatusText("status");
        context.NotifyScanDone();
    });
    EXPECT_EQ(SendMessageA(host.progressBar, PBM_GETRANGE, FALSE, 0), 23);
    EXPECT_EQ(SendMessageA(host.progressBar, PBM_GETPOS, 0, 0), 2);
    EXPECT_EQ(WindowTextW(host.statusLine), L"status");
    EXPECT_EQ(report.scanDoneMessages, 1);
    ASSERT_EQ(report.progress.size(), 4u);
    EXPECT_EQ(report.progress[0].message, UINT(PBM_SETRANGE));
    EXPECT_EQ(report.progress[0].lParam, MAKELPARAM(0, 23));
}
