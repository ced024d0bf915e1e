"""What each Windows family documents that it refuses, as rules on one call
of the program: the function, its arguments as Wine's relay trace shows
them, and the families the rule holds for. Each rule names its source.

A rule's test gets a Call and answers True when the call breaks the rule.
"""
import re

WIN95_FAMILY = ("win95", "win98", "winme")
BEFORE_VISTA_NT = ("nt40", "win2k", "winxp")
NT_FAMILY = ("nt40", "win2k", "winxp", "vista", "win7", "win10")
VISTA_AND_LATER = ("vista", "win7", "win10")
NT5_AND_LATER = ("win2k", "winxp", "vista", "win7", "win10")

# Removal by path: what the scan must do through the handle it examined by.
BY_PATH_REMOVAL = ("DeleteFileW", "SetFileAttributesW", "MoveFileExW")

# The 8-bit directory search, which the NT family's walk must not use.
NARROW_FIND_FUNCTIONS = ("FindFirstFileA", "FindFirstFileExA", "FindNextFileA")

# Functions whose first argument is a path: what the "\\?\" rule reads.
PATH_FUNCTIONS = ("CreateFileA", "FindFirstFileA", "GetFileAttributesA", "SetFileAttributesA",
                  "DeleteFileA", "MoveFileA", "MoveFileExA", "GetShortPathNameA", "LoadLibraryA")

# Wide functions whose first argument is a path that the file system reads:
# what the rule on long paths without "\\?\" reads.
WIDE_PATH_FUNCTIONS = ("CreateFileW", "FindFirstFileW", "FindFirstFileExW", "GetFileAttributesW",
                       "GetFileAttributesExW", "SetFileAttributesW", "DeleteFileW", "MoveFileW", "MoveFileExW",
                       "GetShortPathNameW", "CreateDirectoryW", "RemoveDirectoryW")

# The longest drive path without "\\?\": MAX_PATH with its terminator.
MAX_PLAIN_PATH = 259

# The wide-character functions Windows 95 implements; every other one is a
# stub that fails.
WIN95_WIDE_FUNCTIONS = ("ExtTextOutW", "GetCharWidthW", "GetCharWidth32W", "GetTextExtentExPointW",
                        "GetTextExtentPointW", "GetTextExtentPoint32W", "MessageBoxW", "MessageBoxExW",
                        "TextOutW", "lstrlenW")


class Rule:
    def __init__(self, name, families, functions, broken, source):
        self.name, self.families, self.functions = name, families, functions
        self.broken, self.source = broken, source

    def applies(self, family, function):
        return family in self.families and (function in self.functions if self.functions else
                                            is_wide(function))


def is_wide(function):
    return function.endswith("W") and function not in WIN95_WIDE_FUNCTIONS


def is_long_plain_drive_path(call):
    """A drive path (C:\\...) without "\\\\?\\" that does not fit in MAX_PATH. The
    trace cuts a long string, printing a backslash as two characters: a cut
    one is taken as too long, as the paths the program hands on plain (to
    NT 4.0's and 2000's restart deletion, within MAX_PATH) are far shorter."""
    path = call.string(0)
    if path is None or len(path) < 2 or not path[0].isalpha() or path[1] != ":":
        return False
    return len(path) > MAX_PLAIN_PATH or call.cut(0)


def plain(path):
    """A path as the rules compare it: no \\\\?\\ in front, any case."""
    if path is None:
        return None
    return (path[4:] if path.startswith("\\\\?\\") else path).lower()


def removes_examined_by_path(call):
    """A by-path removal of a file that the scan opened before (call.examined,
    the paths of its earlier CreateFileW calls). The registration for the
    restart, with no new name, is the one call on a path that remains."""
    if plain(call.string(0)) not in getattr(call, "examined", ()):
        return False
    return not (call.function == "MoveFileExW" and call.pointer(1) == 0 and call.dword(2) & 0x4 != 0)


# The program's own folder at the root of a volume (a drive's, or one
# mounted in a folder), where a copy in use waits for the restart.
OWN_FOLDER = re.compile(r"^[a-z]:\\(?:[^\\]+\\)*tavokremover\.quarantine\\[^\\]+$")


def registers_where_a_link_may_lead(call):
    """A deletion at the restart of a file outside the program's own folder,
    on a volume not known to hold no links. Which volumes hold none the trace
    cannot show (call.volumes_without_links, drive roots such as "c:\\", is
    what the checker knows of them): under Wine every volume says NTFS, so
    only the program's own folder passes there."""
    if call.dword(2) & 0x4 == 0:
        return False
    path = plain(call.string(0))
    if path is None:
        return True
    if OWN_FOLDER.match(path):
        return False
    return path[:3] not in getattr(call, "volumes_without_links", ())


def is_volume(path):
    """\\\\.\\C: or \\\\?\\C:, a volume rather than a file on it."""
    return path is not None and len(path) == 6 and path[:4] in ("\\\\.\\", "\\\\?\\") and path[5] == ":"


RULES = [
    Rule("CreateThread without a place for the thread id", WIN95_FAMILY, ("CreateThread",),
         lambda call: call.pointer(5) == 0,
         'MSDN Library (June 1998), CreateThread, lpThreadId: "Windows 95 and Windows 98: '
         'This parameter may not be NULL."'),
    Rule("process access rights that only Vista and later know", BEFORE_VISTA_NT, ("OpenProcess", "OpenThread"),
         lambda call: call.dword(0) & ~0x1F0FFF != 0,
         'Microsoft, "Process Security and Access Rights", PROCESS_ALL_ACCESS: on Windows Server '
         '2003 and Windows XP the Vista-sized flag "is too large and the function specifying this '
         'flag fails with ERROR_ACCESS_DENIED"; NT 4.0 and 2000 know no more rights than XP'),
    Rule("MoveFileExA", WIN95_FAMILY, ("MoveFileExA",),
         lambda call: True,
         'Microsoft Knowledge Base Q129532, "MoveFileEx Not Supported in Windows 95 But '
         'Functionality Is": "Windows 95 does not implement MoveFileEx()"; Q140570 gives the '
         '[rename] section of WININIT.INI instead'),
    Rule("FILE_SHARE_DELETE", WIN95_FAMILY, ("CreateFileA",),
         lambda call: call.dword(2) & 0x4 != 0,
         'MSDN Library (June 1998), CreateFile, dwShareMode: FILE_SHARE_DELETE is marked '
         '"Windows NT only"; the Windows 95 family rejects the call'),
    Rule('a "\\\\?\\" path', WIN95_FAMILY, PATH_FUNCTIONS,
         lambda call: (call.string(0) or "").startswith("\\\\?\\"),
         'MSDN Library (June 1998), CreateFile, lpFileName: the "\\\\?\\" prefix is documented '
         'under "Windows NT:" only'),
    Rule("a wide-character function", WIN95_FAMILY, None,
         lambda call: True,
         'MSDN Library (June 1998), "Windows 95 General Limitations": "Windows 95 does not '
         'implement the Unicode (or wide character) version of most functions. With few '
         'exceptions, these functions are implemented as stubs that simply return an error value"'),
    Rule("the 8-bit directory search", NT_FAMILY, NARROW_FIND_FUNCTIONS,
         lambda call: True,
         'MSDN Library (June 1998), WIN32_FIND_DATA: cFileName holds MAX_PATH characters; the 8-bit '
         'functions carry a path of at most MAX_PATH bytes in the ANSI code page and fail with '
         'ERROR_MORE_DATA where a name overflows its field, so on the NT family the walk lists with '
         'the wide functions, which carry every name the file system holds'),
    Rule('a "\\\\?\\" path with MOVEFILE_DELAY_UNTIL_REBOOT', ("win2k",), ("MoveFileExW", "MoveFileExA"),
         lambda call: call.dword(2) & 0x4 != 0 and (call.string(0) or "").startswith("\\\\?\\"),
         'Microsoft, MoveFileEx: "Windows 2000: If you specify the MOVEFILE_DELAY_UNTIL_REBOOT flag '
         'for dwFlags, you cannot also prepend the file name that is specified by lpExistingFileName '
         'with \"\\\\?\\\""'),
    Rule('a path longer than MAX_PATH without "\\\\?\\"', NT_FAMILY, WIDE_PATH_FUNCTIONS,
         is_long_plain_drive_path,
         'Microsoft, "Naming Files, Paths, and Namespaces", Maximum Path Length Limitation: "the '
         'maximum length for a path is MAX_PATH, which is defined as 260 characters" (a drive path '
         'of 259 and its terminator); "To specify an extended-length path, use the \"\\\\?\\\" '
         'prefix"; only Windows 10 1607 and later lift the limit, and only where a program and the '
         'system both opt in. Wine takes longer paths without it'),
    Rule("removal by path of a file the scan examined", NT5_AND_LATER, BY_PATH_REMOVAL,
         removes_examined_by_path,
         'Wikipedia, "Symlink race", and Rack911 Labs (2020), on 28 antivirus products: between '
         'the examination and a deletion by path, a user who can change a folder on the way puts a '
         'link in its place and the path names another file; Microsoft, FILE_DISPOSITION_INFORMATION '
         '(NtSetInformationFile): the deletion of the file an open handle names'),
    Rule("a deletion at the restart on a path a user could change", NT_FAMILY, ("MoveFileExW",),
         registers_where_a_link_may_lead,
         'Microsoft, MoveFileEx, MOVEFILE_DELAY_UNTIL_REBOOT: the deletion is carried out by the '
         'session manager, as SYSTEM, before anyone logs on, on the path as it then stands; Wikipedia, '
         '"Symlink race": a user who owns a folder on that path (the worm itself, running as that '
         'user) puts a junction in its place and aims the deletion at a system file. Only the '
         'program\'s own folder, which no one but Administrators and SYSTEM can change, or a volume '
         'that holds no links (FAT), keeps the path the file\'s own'),
    Rule("a volume opened with access rights", VISTA_AND_LATER, ("CreateFileA",),
         lambda call: is_volume(call.string(0)) and call.dword(1) != 0,
         'Microsoft, CreateFile, "Physical Disks and Volumes": direct access to a volume needs '
         'administrator rights from Vista on; dwDesiredAccess 0 lets the application query device '
         'attributes "without accessing a device", which IOCTL_STORAGE_QUERY_PROPERTY needs'),
]

# Calls that break a rule only in a case this program never reaches, each
# as (function, families, test, reason). None is needed: the program links
# no runtime library of the compiler.
ALLOWED = []


def judge(family, call):
    """The rules the call breaks, as (rule, None), unless an allowance covers it."""
    broken = []
    for rule in RULES:
        if rule.applies(family, call.function) and rule.broken(call):
            allowed = any(name == call.function and family in families and test(call)
                          for name, families, test, _ in ALLOWED)
            if not allowed:
                broken.append(rule)
    return broken
