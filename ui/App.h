// Process-wide values that start-up sets once and the dialogs read.
#pragma once

#include <windows.h>

extern HINSTANCE AppInstance;
// The one tooltip window of the process; may be null, which every user
// tolerates because messages to a null window do nothing.
extern HWND SharedTooltip;
