#!/usr/bin/env python3
"""A DLL lying beside the program under the name of a system DLL that the
program loads is never loaded: the program is copied into a folder of the
prefix beside marker-writing DLLs named comctl32.dll and psapi.dll, and a
whole scan is run with the load order Windows uses for them (the copy in
the program's folder first). The scan must still end with its summary.

    check_planted_dlls.py --wine LOADER --driver PRODUCT_TESTS.exe --product EXE --planted DLL

WINEPREFIX names the prefix.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys

NAMES = ("comctl32.dll", "psapi.dll")


def main():
    parser = argparse.ArgumentParser()
    for option in ("wine", "driver", "product", "planted"):
        parser.add_argument("--" + option, required=True)
    options = parser.parse_args()
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "tavok-planted")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copyfile(options.product, os.path.join(folder, "TavokRemover.exe"))
    for name in NAMES:
        shutil.copyfile(options.planted, os.path.join(folder, name))

    overrides = ",".join(name[:-4] for name in NAMES) + "=n,b;mscoree,mshtml="
    env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_US.UTF-8", WINEDLLOVERRIDES=overrides,
               TAVOK_PRODUCT="C:\\tavok-planted\\TavokRemover.exe")
    result = subprocess.run([options.wine, options.driver, "--gtest_filter=Product.ScanShows*"], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=600)
    problems = 0
    if result.returncode != 0:
        problems += 1
        print("the scan beside the planted DLLs failed:\n" + result.stdout[-3000:])
    for marker in sorted(glob.glob(os.path.join(folder, "*.loaded"))):
        problems += 1
        print("loaded from the program's folder: " + os.path.basename(marker)[:-len(".loaded")])
    if problems:
        return 1
    print("none of %s was loaded from the program's folder; the scan ended with its summary" % ", ".join(NAMES))
    return 0


if __name__ == "__main__":
    sys.exit(main())
