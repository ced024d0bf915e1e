// The one boundary between the program's wide paths and the file functions
// of the running Windows family: on the NT family the wide functions, with
// \\?\ in front of a drive path so that any length and any name the file
// system holds is taken as it is; on the Windows 95 family the 8-bit ones,
// with the path converted through the ANSI code page.
#pragma once

#include "Handle.h"

#include <windows.h>

#include "Strings.h"

// Through the ANSI code page, as the Windows 95 family's functions take and
// give names.
WString WideFromAnsi(const char* text);
AString AnsiFromWide(const wchar_t* text);

// A drive path (C: or C:\...) with \\?\ in front; any other path as it is.
WString ExtendedPath(const wchar_t* path);
// The path without a \\?\ in front of a drive path.
const wchar_t* PlainPath(const wchar_t* path);

// Opens a file for a sequential, unbuffered read, sharing it with every
// other user the family allows.
HANDLE OpenForScan(const wchar_t* path);
// Clears read-only, hidden and system, so that the file can be deleted.
void ResetAttributes(const wchar_t* path);
bool RemoveFile(const wchar_t* path);
