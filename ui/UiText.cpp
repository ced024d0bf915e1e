#include "UiText.h"

namespace {
const char MainTitleEnglish[] = "Veltrane \"Worm.Win32.Tavok\" Remover";
const char VersionLabelEnglish[] = "Version: ";
const char DateLabelEnglish[] = "Update: ";
const char CompanyEnglish[] = "Veltrane Tech Co. Ltd.";
}  // namespace

const char* const MainTitle[4] = {MainTitleZhCn, MainTitleEnglish, MainTitleZhTw, MainTitleJa};

const char* const ProgressLabel[4] = {ProgressLabelZhCn, "Progress:", ProgressLabelZhTw, ProgressLabelJa};

const char* const ButtonText[4][4] = {
    {ScanTextZhCn, ExitTextZhCn, AboutButtonZhCn, StopTextZhCn},
    {"Scan", "Exit", "About...", "Stop"},
    {ScanTextZhTw, ExitTextZhTw, AboutButtonZhTw, StopTextZhTw},
    {ScanTextJa, ExitTextJa, AboutButtonJa, StopTextJa},
};

const char* const ColumnTitle[4][3] = {
    {PathColumnZhCn, NameColumnZhCn, OutcomeColumnZhCn},
    {"File Name", "Virus Name", "Status"},
    {PathColumnZhTw, NameColumnZhTw, OutcomeColumnZhTw},
    {PathColumnJa, NameColumnJa, OutcomeColumnJa},
};

const char* const AboutTitle[4] = {AboutTitleZhCn, "About", AboutTitleZhTw, AboutTitleJa};

const char* const AboutText[16] = {
    AboutHeadingZhCn, VersionLabelZhCn, DateLabelZhCn, CompanyZhCn,
    MainTitleEnglish, VersionLabelEnglish, DateLabelEnglish, CompanyEnglish,
    AboutHeadingZhTw, VersionLabelZhTw, DateLabelZhTw, CompanyZhTw,
    AboutHeadingJa, VersionLabelJa, DateLabelJa, CompanyJa,
};

const char* const OkText[4] = {OkTextZhCn, "Ok", OkTextZhTw, OkTextJa};

const char* const LinkTipText[4] = {
    LinkTipZhCn, "To get more infomation, please visit our web site.", LinkTipZhTw, LinkTipJa,
};

const char* const CopyText[4] = {CopyTextZhCn, "Copy", CopyTextZhTw, CopyTextJa};
