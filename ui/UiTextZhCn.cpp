// Compiled with -fexec-charset=CP936.
#include "UiText.h"

const char MainTitleZhCn[] = "Veltrane“Tavok”病毒（Worm.Win32.Tavok）专杀工具";
const char ProgressLabelZhCn[] = "进度：";
const char ScanTextZhCn[] = "杀毒";
const char ExitTextZhCn[] = "退出";
const char AboutButtonZhCn[] = "关于...";
const char StopTextZhCn[] = "停止";
const char PathColumnZhCn[] = "文件名";
const char NameColumnZhCn[] = "病毒名";
const char OutcomeColumnZhCn[] = "状态";

const char AboutTitleZhCn[] = "Veltrane专杀工具";
const char AboutHeadingZhCn[] = "Veltrane“Tavok”病毒（Worm.Win32.Tavok）专杀工具";
const char VersionLabelZhCn[] = "版本号：";
const char DateLabelZhCn[] = "更新时间：";
const char CompanyZhCn[] = "Veltrane信息技术有限公司";
const char OkTextZhCn[] = "确定";
const char LinkTipZhCn[] = "访问Veltrane网站，获取更多信息...";
const char CopyTextZhCn[] = "复制";
