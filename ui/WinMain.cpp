#include "MemAndFileWalker.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ScanThreadProc(nullptr);
    return 0;
}
