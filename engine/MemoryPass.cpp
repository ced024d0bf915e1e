#include "MemAndFileWalker.h"

// The memory pass: every module file of every running process.
void MemAndFileWalker::ScanMemory()
{
}
