#!/usr/bin/env python3
"""The product's import table, checked against what Windows 95 and NT 4.0
export: a program that imports one function more does not start there.

    check_imports.py OBJDUMP PRODUCT.exe

- kernel32, user32, gdi32, advapi32 and shell32: every name must be in both
  exports/win95-<dll>.txt and exports/nt4-<dll>.txt (each list names its
  source in its header);
- comctl32: never: it is loaded from the system folder at run time, since
  no Windows lists it as a known DLL and a copy beside the program would be
  taken instead;
- any other DLL: never imported statically. msvcrt.dll in particular is
  missing from the first Windows 95 releases and is no known DLL on NT 4.0,
  where a copy beside the program would be loaded in its place; the program
  has its own memcpy, strlen and the like (runtime/CString.cpp);
- tool-help, process-status, native or WOW64 functions, which only some
  Windows families have: never imported statically.
"""
import os
import re
import subprocess
import sys

CHECKED = ("kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll")
SYSTEMS = ("win95", "nt4")
RUNTIME_ONLY = re.compile(
    r"^(CreateToolhelp32Snapshot|Process32(First|Next)W?|Module32(First|Next)W?|"
    r"Thread32(First|Next)|EnumProcesses|EnumProcessModules(Ex)?|GetModuleFileNameEx[AW]|"
    r"GetModuleBaseName[AW]|GetModuleInformation|Nt\w+|Zw\w+|Rtl\w+|Wow64\w+|IsWow64Process2?)$")


def imports(objdump, exe):
    """{dll (lower case): [(ordinal hint, name or None)]}."""
    table = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    result, current = {}, None
    for line in table.splitlines():
        match = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if match:
            current = match.group(1).lower()
            result[current] = []
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        # "  41510   1032  AdjustTokenPrivileges" or "  80000011   17  <none>"
        match = re.match(r"\s*([0-9a-f]+)\s+(\d+)\s+(\S+)\s*$", line)
        if match:
            name = match.group(3)
            result[current].append((int(match.group(2)), None if name == "<none>" else name))
    return result


def allowed(system, dll):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "exports",
                        "%s-%s.txt" % (system, dll[:-4]))
    with open(path, encoding="utf-8") as listing:
        return {line.strip() for line in listing if line.strip() and not line.startswith("#")}


def main():
    objdump, exe = sys.argv[1], sys.argv[2]
    table = imports(objdump, exe)
    problems = []

    for dll, entries in sorted(table.items()):
        names = [name for _, name in entries if name]
        for name in names:
            if RUNTIME_ONLY.match(name):
                problems.append("%s: %s must be resolved at run time" % (dll, name))
        if dll in CHECKED:
            for system in SYSTEMS:
                missing = sorted(set(names) - allowed(system, dll))
                for name in missing:
                    problems.append("%s: %s is not listed as exported by %s" % (dll, name, system))
            if len(names) != len(entries):
                problems.append("%s: imported by ordinal" % dll)
        else:
            problems.append("%s is imported statically" % dll)

    for problem in problems:
        print(problem)
    if problems:
        return 1
    print("imports OK: %d functions from %d DLLs" % (sum(len(e) for e in table.values()), len(table)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
