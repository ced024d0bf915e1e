// The disk walk's side of the 8-bit find functions: one folder's listing,
// which of its entries the walk takes, and the path by which the 8-bit
// file functions reach each entry as itself and no other file.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Characters no Windows file name may hold; '?' is also what the 8-bit find
// functions give for a character the code page cannot spell.
bool HoldsReservedCharacter(const char* name);

// A name that the Windows 95 family's path handling reads as another one: a
// trailing dot or space is stripped, and a device name of that family (CON,
// PRN, AUX, NUL, CLOCK$, COM1-COM4, LPT1-LPT3), with or without an extension,
// opens the device. length is strlen(name).
bool IsEvasiveName(const char* name, size_t length);

enum class EntryKind { Skipped, File, Folder };

// "." and "..", and reparse points that may lead elsewhere, are skipped: a
// folder with reparse data of any kind (a junction or link may loop back to
// an ancestor), and a file whose tag is a name surrogate (a symbolic link).
// A file whose reparse data holds its content (compressed, deduplicated,
// cloud placeholder) is examined.
EntryKind KindOf(const WIN32_FIND_DATAA& entry);

// The form of the folder's path that an entry's name is appended to.
enum class FolderForm {
    Plain,  // as the walk built it
    Exact,  // with \\?\ in front, which the NT family takes unchanged
    Short   // through the short names of its parts
};

struct EntryRoute {
    const char* name;       // appended to the folder's path; null: not reached
    const char* shownName;  // appended to the path shown
    FolderForm form;
};

// How the walk reaches an entry of the folder whose path is dir. A name the
// code page cannot spell, or that holds a reserved character, goes by its
// short name; an evasive name goes exactly where exactPaths allows (the NT
// family), else by its short name, else not at all; a path too long for
// the 8-bit functions goes by the short name, then on the folder's short
// path.
EntryRoute RouteTo(const WIN32_FIND_DATAA& entry, bool isFolder, const std::string& dir, bool exactPaths);

// dir with \\?\ in front, once.
std::string ExactPathOf(const std::string& dir);
// A folder's path through the short names of all its parts that have one;
// the path itself when there is no such path within MAX_PATH.
std::string ShortPathOf(const std::string& dir);

// One folder's listing through the run-time table's find functions.
class FolderListing {
public:
    explicit FolderListing(const RuntimeApi& api) : api_(api) {}
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // Lists dir + "\\*"; dir is restored. False when nothing is listed.
    bool First(std::string& dir);
    // The next entry; false at the end of the listing.
    bool Next();
    const WIN32_FIND_DATAA& Entry() const { return entry_; }

    // On the NT family FindNextFileA moves on, then fails with
    // ERROR_MORE_DATA when the entry's name or short name overflows its
    // 8-bit field. The listing goes on, at most this many times in a row.
    static constexpr unsigned MaxOverflowsInARow = 65536;

private:
    bool Salvage();

    const RuntimeApi& api_;
    FindHandle find_;
    WIN32_FIND_DATAA entry_ = {};
    WIN32_FIND_DATAA lastOverflow_ = {};
    unsigned overflows_ = 0;
};
