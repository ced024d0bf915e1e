// Where each folder and file of a file table lies: its parent references
// followed up to the root, as the walk from the volume's root would meet it.
#pragma once

#include "NtfsVolume.h"

#include <cstddef>
#include <cstdint>

#include "Strings.h"

// Marks each folder reached by a walk from the root or not, and links it to
// its parent. False where the references do not add up: no root, a parent
// that is no folder in use of that sequence number, a loop; or where a name
// on the way to a file of a wanted size holds a character no path carries.
bool ResolveFolders(FileTable& table);

// The folder of that record and sequence number, or -1.
long FindFolder(const FileTable& table, uint32_t record, uint16_t sequence);

// True where the walk lists the folder (it may not enter it).
bool Reached(const TableFolder& folder);

// True where the walk enters the folder: reached, and neither a link nor a
// mount point nor one of the system's own.
bool Walked(const TableFolder& folder);

// Appends the resolved folder's path below the root ("\a\b", nothing for
// the root itself); false where no memory was left.
bool AppendFolderPath(const FileTable& table, size_t folder, WString& path);
