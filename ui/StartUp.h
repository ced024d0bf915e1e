// What the process sets up before its first window.
#pragma once

#include "Handle.h"

// No system "no disk" boxes, the debug privilege, and the common controls
// from the system folder, initialised; they stay loaded for as long as the
// returned handle lives.
LibraryHandle PrepareProcess();
