// The thread count of a process from the NT family's system process
// information, where NT 4.0, without tool-help, gives it.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

// 0 when the query fails or does not list the process.
DWORD ThreadCountOf(NtQuerySystemInformationFn query, DWORD processId);
