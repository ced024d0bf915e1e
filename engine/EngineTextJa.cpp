// Compiled with -fexec-charset=CP932.
#include "EngineText.h"

const char NoPsapiNoteJa[] = "メモリをスキャンできませんでした：システム フォルダーに psapi.dll がありません。";
const char RunAsAdministratorNoteJa[] = "アクセスが拒否されました：管理者として実行し、もう一度スキャンしてください。";
const char NotExaminedNoteJa[] = "検査できませんでした：ウイルスと同じサイズのファイル %d 個を読み取れませんでした。ほかのプログラムを閉じ、管理者として実行し、もう一度スキャンしてください。";
const char UnreachableShareNoteJa[] = "ネットワーク ドライブ %c: に接続できませんでした：共有のあるコンピューターでスキャンしてください。";
const char UserDrivesUnknownNoteJa[] = "サインインしているユーザーが見つかりませんでした：そのユーザーのネットワーク ドライブはスキャンされていません。";
