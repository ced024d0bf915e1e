#!/usr/bin/env python3
"""A DLL lying beside the program under the name of a system DLL that the
program loads is never loaded: the program is copied into a folder of the
prefix beside marker-writing DLLs named comctl32.dll and psapi.dll, and a
whole scan is run with the load order Windows uses for them (the copy in
the program's folder first). The scan must still end with its summary.

It runs twice, with Wine reporting a different Windows to each copy of the
program: Windows 10, where the manifest's common controls of version 6 come
from the system's side-by-side store (C:\\windows\\winsxs), and Windows 98,
which has no store, where they come from the system folder by full path.
Wine's trace of library loads shows which comctl32.dll each run took.

    check_planted_dlls.py --wine LOADER --driver PRODUCT_TESTS.exe --product EXE --planted DLL

WINEPREFIX names the prefix.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys

NAMES = ("comctl32.dll", "psapi.dll")
# Where each system's comctl32.dll must come from.
EXPECTED_FOLDER = {"win10": re.compile(r"^c:\\windows\\winsxs\\[^\\]*common-controls[^\\]*\\$"),
                   "win98": re.compile(r"^c:\\windows\\(system32|syswow64)\\$")}
LOADED = re.compile(r'Loaded L"([^"]*comctl32\.dll)"', re.I)
APP_DEFAULTS = "HKCU\\Software\\Wine\\AppDefaults\\"


def wine_quiet(loader, args):
    subprocess.run([loader] + args, env=dict(os.environ, WINEDEBUG="-all"), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def run_as(options, folder, version):
    """The scan under one reported version; returns the problems found."""
    name = "TavokRemover-planted-%s.exe" % version
    shutil.copyfile(options.product, os.path.join(folder, name))
    wine_quiet(options.wine, ["reg.exe", "add", APP_DEFAULTS + name, "/v", "Version", "/d", version, "/f"])
    overrides = ",".join(n[:-4] for n in NAMES) + "=n,b;mscoree,mshtml="
    env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_US.UTF-8", WINEDLLOVERRIDES=overrides,
               TAVOK_PRODUCT="C:\\tavok-planted\\" + name, TAVOK_PRODUCT_WINEDEBUG="-all,+loaddll")
    try:
        result = subprocess.run([options.wine, options.driver, "--gtest_filter=Product.ScanShows*"], env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, errors="replace", timeout=600)
    finally:
        wine_quiet(options.wine, ["reg.exe", "delete", APP_DEFAULTS + name, "/f"])
    problems = []
    if result.returncode != 0:
        problems.append("%s: the scan beside the planted DLLs failed:\n%s" % (version, result.stdout[-3000:]))
    loaded = [path.replace("\\\\", "\\") for path in LOADED.findall(result.stdout)]
    if not loaded:
        problems.append("%s: the trace shows no comctl32.dll loaded" % version)
    for path in loaded:
        folder_of = path.lower()[:path.lower().rfind("\\") + 1]
        if not EXPECTED_FOLDER[version].match(folder_of):
            problems.append("%s: comctl32.dll loaded from %s" % (version, path))
    for marker in sorted(glob.glob(os.path.join(folder, "*.loaded"))):
        problems.append("%s: loaded from the program's folder: %s" % (version, os.path.basename(marker)[:-7]))
        os.remove(marker)
    if not problems:
        print("%s: comctl32.dll from %s; nothing from the program's folder; the scan ended with its summary"
              % (version, ", ".join(sorted(set(loaded)))))
    return problems


def main():
    parser = argparse.ArgumentParser()
    for option in ("wine", "driver", "product", "planted"):
        parser.add_argument("--" + option, required=True)
    options = parser.parse_args()
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "tavok-planted")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in NAMES:
        shutil.copyfile(options.planted, os.path.join(folder, name))

    problems = []
    for version in ("win10", "win98"):
        problems += run_as(options, folder, version)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
