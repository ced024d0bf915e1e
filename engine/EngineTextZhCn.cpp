// Compiled with -fexec-charset=CP936.
#include "EngineText.h"

const char KillFailedZhCn[] = "清除失败";
const char DeletedZhCn[] = "删除成功";
const char DelayDeleteZhCn[] = "重启后删除";
const char SummaryFormatZhCn[] = "扫描完毕！\n扫描文件：%d\n发现病毒：%d\n清除失败：%d\n";
const char SummaryCaptionZhCn[] = "提示";
const char NoPsapiNoteZhCn[] = "无法扫描内存：系统文件夹中缺少 psapi.dll。";
const char RunAsAdministratorNoteZhCn[] = "拒绝访问：请以管理员身份运行本程序，然后重新扫描。";
const char NotExaminedNoteZhCn[] = "未能检查：%d 个与病毒大小相同的文件无法读取。请关闭其他程序，以管理员身份运行本程序，然后重新扫描。";
const char UnreachableShareNoteZhCn[] = "无法访问网络驱动器 %c:，请在共享所在的计算机上扫描它。";
const char UserDrivesUnknownNoteZhCn[] = "找不到已登录的用户：未扫描该用户的网络驱动器。";
