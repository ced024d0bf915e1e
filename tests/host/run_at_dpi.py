#!/usr/bin/env python3
"""Runs a Windows program with the prefix's screen scale set to DPI
(Wine's LogPixels: 96 is 100 %, 144 is 150 %), which each process reads
when it starts, and sets the prefix back to 96 afterwards, whatever the
program's result. The program sees TAVOK_EXPECT_DPI=DPI, so that it can
tell a scale that did not take.

    run_at_dpi.py DPI LOADER PROGRAM [ARGS...]

WINEPREFIX names the prefix.
"""
import os
import subprocess
import sys

KEY = "HKCU\\Control Panel\\Desktop"


def set_dpi(loader, dpi):
    subprocess.run([loader, "reg.exe", "add", KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                   env=dict(os.environ, WINEDEBUG="-all"), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def main():
    dpi, loader, command = sys.argv[1], sys.argv[2], sys.argv[2:]
    set_dpi(loader, dpi)
    try:
        result = subprocess.run(command, env=dict(os.environ, TAVOK_EXPECT_DPI=dpi), stdin=subprocess.DEVNULL)
    finally:
        set_dpi(loader, 96)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
