// Compiled with -fexec-charset=CP950.
#include "UiText.h"

const char MainTitleZhTw[] = "Worm.Win32.Tavok專用查殺工具";
const char ProgressLabelZhTw[] = "進度：";
const char ScanTextZhTw[] = "殺毒";
const char ExitTextZhTw[] = "退出";
const char AboutButtonZhTw[] = "關於...";
const char StopTextZhTw[] = "停止";
const char PathColumnZhTw[] = "文件名";
const char NameColumnZhTw[] = "病毒名";
const char OutcomeColumnZhTw[] = "狀態";

const char AboutTitleZhTw[] = "Veltrane殺毒工具";
const char AboutHeadingZhTw[] = "Worm.Win32.Tavok 專用查殺工具";
const char VersionLabelZhTw[] = "版本號：";
const char DateLabelZhTw[] = "更新時間：";
const char CompanyZhTw[] = "Veltrane科技股份有限公司";
const char OkTextZhTw[] = "確定";
const char LinkTipZhTw[] = "訪問Veltrane網站，獲取更多信息...";
const char CopyTextZhTw[] = "複製";
