// The one boundary between the program's wide paths and the file functions
// of the running Windows family: on the NT family the wide functions, with
// \\?\ in front of a drive path so that any length and any name the file
// system holds is taken as it is; on the Windows 95 family the 8-bit ones,
// with the path converted through the ANSI code page.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

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

// A file opened to be examined, and what its open told of it. On the NT
// family the same handle removes it, so that what is removed is the file
// that was read, whatever a link put in the place of one of its folders
// since.
struct ExaminedFile {
    FileHandle handle;
    // DELETE and FILE_WRITE_ATTRIBUTES were granted with the read access,
    // sharing neither writing nor deletion: no other handle that could
    // undo the removal, or rename the file back, is open beside it.
    bool removable = false;
    // FILE_WRITE_ATTRIBUTES was: a read-only attribute, which the deletion
    // at the restart does not clear, can be cleared through the handle.
    bool attributesWritable = false;
    // WRITE_DAC and WRITE_OWNER were: a copy left for the restart can be
    // taken out of its user's hands (and, on NT 4.0 to XP, whose deletion
    // at the restart goes by the file's ACL, into SYSTEM's).
    bool aclWritable = false;
    // The error of the open that failed: the whole open when there is no
    // handle, else the one that asked for the right to remove.
    DWORD refusal = NO_ERROR;
    // NT family, where the system could say: the volume serial number and
    // file index that tell the file apart, and how many names it has.
    bool keyKnown = false;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD links = 0;
};

// Opens a file for a sequential, unbuffered read. On the NT family it asks
// for the rights to remove the file and to change its owner and ACL too,
// with backup semantics, which the backup and restore privileges let past
// any ACL, sharing only reading; where the owner and ACL rights alone are
// refused, without them; where another program's use refuses that sharing,
// for reading and the attributes, sharing everything; else for reading
// alone. The Windows 95 family shares reading and writing.
// No FILE_FLAG_OPEN_REPARSE_POINT: a compressed, deduplicated or cloud file
// is read through its file system's filter.
ExaminedFile OpenForExamination(const RuntimeApi& api, const wchar_t* path);

// Through the handle, on the NT family: read-only, hidden and system
// cleared, then the deletion that takes place when the last handle closes.
// The native status of the deletion; negative on failure.
LONG RemoveThroughHandle(const RuntimeApi& api, HANDLE file);
// Read-only, hidden and system cleared through the handle.
void ResetAttributesThroughHandle(const RuntimeApi& api, HANDLE file);
constexpr LONG StatusNotResolved = static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
constexpr LONG StatusAccessDenied = static_cast<LONG>(0xC0000022);
constexpr LONG StatusCannotDelete = static_cast<LONG>(0xC0000121);

// The Windows 95 family's removal, by path: its FAT volumes have neither
// links nor ACLs. Clears read-only, hidden and system first.
void ResetAttributes(const wchar_t* path);
bool RemoveFile(const wchar_t* path);

// The first string QueryDosDevice gives for a device name (a drive letter,
// Global\ and a letter); empty when none.
WString DosDeviceTarget(const RuntimeApi& api, const wchar_t* device);
