// Compiled with -fexec-charset=CP950.
#include "EngineText.h"

const char NoPsapiNoteZhTw[] = "無法掃描記憶體：系統資料夾中缺少 psapi.dll。";
const char RunAsAdministratorNoteZhTw[] = "存取被拒：請以系統管理員身分執行本程式，然後重新掃描。";
const char NotExaminedNoteZhTw[] = "未能檢查：%d 個與病毒大小相同的檔案無法讀取。請關閉其他程式，以系統管理員身分執行本程式，然後重新掃描。";
const char UnreachableShareNoteZhTw[] = "無法存取網路磁碟機 %c:，請在共用所在的電腦上掃描它。";
const char UserDrivesUnknownNoteZhTw[] = "找不到已登入的使用者：未掃描該使用者的網路磁碟機。";
