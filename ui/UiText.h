// Texts of the main dialog and the About dialog, one column per
// LanguageIndex, each in its language's ANSI code page.
#pragma once

extern const char* const MainTitle[4];
extern const char* const ProgressLabel[4];
// [language][button id - 1] for IDC_SCAN, IDC_EXIT, IDC_ABOUT, IDC_STOP.
extern const char* const ButtonText[4][4];
// [language][column]: path, detection name, outcome.
extern const char* const ColumnTitle[4][3];

extern const char* const AboutTitle[4];
// Indexed by language * 4 + line, line = control id - IDC_ABOUT_TITLE.
extern const char* const AboutText[16];
extern const char* const OkText[4];
extern const char* const LinkTipText[4];
// The result list's context menu item that copies the selected rows.
extern const char* const CopyText[4];

// The code-page units that hold the non-ASCII columns.
extern const char MainTitleZhCn[], ProgressLabelZhCn[];
extern const char ScanTextZhCn[], ExitTextZhCn[], AboutButtonZhCn[], StopTextZhCn[];
extern const char PathColumnZhCn[], NameColumnZhCn[], OutcomeColumnZhCn[];
extern const char AboutTitleZhCn[], AboutHeadingZhCn[], VersionLabelZhCn[], DateLabelZhCn[];
extern const char CompanyZhCn[], OkTextZhCn[], LinkTipZhCn[];
extern const char CopyTextZhCn[];

extern const char MainTitleZhTw[], ProgressLabelZhTw[];
extern const char ScanTextZhTw[], ExitTextZhTw[], AboutButtonZhTw[], StopTextZhTw[];
extern const char PathColumnZhTw[], NameColumnZhTw[], OutcomeColumnZhTw[];
extern const char AboutTitleZhTw[], AboutHeadingZhTw[], VersionLabelZhTw[], DateLabelZhTw[];
extern const char CompanyZhTw[], OkTextZhTw[], LinkTipZhTw[];
extern const char CopyTextZhTw[];

extern const char MainTitleJa[], ProgressLabelJa[];
extern const char ScanTextJa[], ExitTextJa[], AboutButtonJa[], StopTextJa[];
extern const char PathColumnJa[], NameColumnJa[], OutcomeColumnJa[];
extern const char AboutTitleJa[], AboutHeadingJa[], VersionLabelJa[], DateLabelJa[];
extern const char CompanyJa[], OkTextJa[], LinkTipJa[];
extern const char CopyTextJa[];
