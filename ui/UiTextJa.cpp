// Compiled with -fexec-charset=CP932.
#include "UiText.h"

const char MainTitleJa[] = "ウイルス：Worm.Win32.Tavok 除去ツール";
const char ProgressLabelJa[] = "進捗状況";
const char ScanTextJa[] = "スキャン";
const char ExitTextJa[] = "退出";
const char AboutButtonJa[] = "...について";
const char StopTextJa[] = "停止";
const char PathColumnJa[] = "ファイル名前";
const char NameColumnJa[] = "ウイルス名前";
const char OutcomeColumnJa[] = "状態";

const char AboutTitleJa[] = "除去ツール";
const char AboutHeadingJa[] = "Worm.Win32.Tavok 除去専用ツール";
const char VersionLabelJa[] = "バージョン: ";
const char DateLabelJa[] = "更新日時: ";
const char CompanyJa[] = "Veltrane科技株式会社";
const char OkTextJa[] = "OK";
const char LinkTipJa[] = "Veltraneのホームページを訪問し、詳細情報を入手する";
const char CopyTextJa[] = "コピー";
