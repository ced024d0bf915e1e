#!/usr/bin/env python3
"""Every call the program's own code makes, checked against what each
Windows family documents that it refuses (call_rules.py). Wine accepts
most of what old systems refuse, but it reports the system of our choosing
to one program (HKCU\\Software\\Wine\\AppDefaults\\NAME.exe, Version), so
the program takes that family's paths, and its relay trace shows each call
with its arguments and return address.

    check_calls.py --wine LOADER --objdump OBJDUMP --work DIR --product EXE
                   --driver PRODUCT_TESTS.exe --engine ENGINE_TESTS.exe
                   --engine-map ENGINE_TESTS.map [--versions win95,...]

Under each version: a whole scan of the prefix by the program, started and
answered by the product test (which checks that it ends with its summary
and exit code 0), and the engine tests that reach a judged call. The
scan's count of files is held against the files C: holds, among them a tree
deeper than any 8-bit path reaches: on the NT family every one is counted,
on the Windows 95 family that tree cannot be. Under the
Windows 95 family Wine's Process32First gives bare file names where real
Windows 95 gives full paths, and the memory pass drops such entries: there
it examines no module, so the summary counts only the disk pass's files,
though every module snapshot is still taken (and its calls judged). In the
program every call from inside its image is judged (it links no runtime
library of the compiler: every call is its own); in the engine tests only calls from the engine's own functions,
whose addresses the link map gives. WINEPREFIX names the prefix.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import call_rules  # noqa: E402

VERSIONS = ("win95", "win98", "winme", "nt40", "win2k", "winxp", "win7", "win10")

# The engine tests that reach a judged call the whole scan may not: opens
# with a share mode, removal and restart deletion of a file in use, and the
# volume query. The first would register its file in the prefix's own
# WININIT.INI under the Windows 95 family; the others of restart deletion
# fake that family (with the replacing of WININIT.INI and what an
# interrupted one left), so they run only where it is the one emulated.
ENGINE_FILTER_NT = ("DiskScan.RemovesOnlyMatchingFilesAndReportsEachOutcome:"
                    "MemoryPassUnderWine.VisitsOwnExecutableAndRemovesALoadedDllCopyThatMatches:"
                    "DiskScan.BusQueryAnswersFalseForFixedAndMissingVolumes")
ENGINE_FILTER_WIN95 = ("DiskScan.OnTheWindows95FamilyAFileInUseIsDeletedAtRestartThroughWininit:"
                       "RestartDeletion.*:RestartDeletionLocalized.*:"
                       "DiskScan.BusQueryAnswersFalseForFixedAndMissingVolumes")

# A tree deeper than any 8-bit path reaches, short names included: its files
# are counted on the NT family and cannot be on the Windows 95 family.
DEEP_LEVELS = 30
DEEP_FILES = 3000
COUNTED = re.compile(r"^Files counted by the scan: (\d+)$", re.M)

CALL = re.compile(r"^(?:[0-9a-f]+:)*Call ([\w.]+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
# A string the trace cut short ends in "..." after its closing quote.
ARGUMENT = re.compile(r'([0-9a-f]+)(?: (L?)"((?:[^"\\]|\\.)*)"(\.\.\.)?)?(?:,|$)')


class Call:
    def __init__(self, dll, function, arguments, ret, line):
        self.dll, self.function, self.ret, self.line = dll, function, ret, line
        self.values, self.strings, self.cuts = [], [], []
        for match in ARGUMENT.finditer(arguments):
            if not match.group(0):
                break
            self.values.append(int(match.group(1), 16))
            self.strings.append(unescape(match.group(3)) if match.group(3) is not None else None)
            self.cuts.append(match.group(4) is not None)

    def pointer(self, i):
        return self.values[i] if i < len(self.values) else None

    def dword(self, i):
        # A 64-bit register may carry junk above a 32-bit argument.
        return self.values[i] & 0xFFFFFFFF if i < len(self.values) else 0

    def string(self, i):
        return self.strings[i] if i < len(self.strings) else None

    def cut(self, i):
        """The trace printed only the start of string i."""
        return i < len(self.cuts) and self.cuts[i]


def unescape(text):
    return re.sub(r"\\(x[0-9a-fA-F]{2}|u[0-9a-fA-F]{4}|.)", lambda m: {
        "\\": "\\", '"': '"', "n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)
                                                                  if len(m.group(1)) == 1
                                                                  else chr(int(m.group(1)[1:], 16))),
        text)


def image_range(objdump, exe):
    header = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    base = int(re.search(r"ImageBase\s+([0-9a-f]+)", header).group(1), 16)
    size = int(re.search(r"SizeOfImage\s+([0-9a-f]+)", header).group(1), 16)
    return [(base, base + size)]


def imported_wide_functions(objdump, exe):
    table = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return sorted({m.group(1) for m in re.finditer(r"^\s+[0-9a-f]+\s+\d+\s+(\w+W)$", table, re.M)})


def engine_ranges(link_map):
    """The code of the product's own libraries in a test program."""
    ranges, section = [], None
    with open(link_map, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = re.match(r"^ (\.text\S*)\s*$", line)
            if match:
                section = match.group(1)
                continue
            match = re.match(r"^ (\.text\S*)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$", line)
            if match and (match.group(1) or section):
                start, size, obj = int(match.group(2), 16), int(match.group(3), 16), match.group(4)
                if size and re.search(r"libtavok_(engine|ui)\.a\(", obj):
                    ranges.append((start, start + size))
            section = None
    return ranges


def calls_in(trace, ranges):
    with open(trace, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = CALL.match(line.rstrip("\n"))
            if not match:
                continue
            ret = int(match.group(4), 16)
            if any(start <= ret < end for start, end in ranges):
                yield Call(match.group(1), match.group(2), match.group(3), ret, line.strip())


def wine(args, loader, env=None, **kwargs):
    return subprocess.run([loader] + args, env=env, stdin=subprocess.DEVNULL, **kwargs)


def set_registry(loader, folder, names_by_version, relay_include):
    """AppDefaults for every copy, and the functions the trace keeps."""
    lines = ["REGEDIT4", ""]
    for version, names in names_by_version.items():
        for name in names:
            lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]" % name,
                      '"Version"="%s"' % version, ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\Debug]",
              '"RelayInclude"="%s"' % ";".join(relay_include), ""]
    # regedit reads a Windows path: the file lies on the prefix's C:.
    reg = os.path.join(folder, "versions.reg")
    with open(reg, "w", encoding="ascii", newline="\r\n") as out:
        out.write("\n".join(lines))
    env = dict(os.environ, WINEDEBUG="-all")
    wine(["regedit.exe", "/S", "C:\\tavok-calls\\versions.reg"], loader, env=env, check=True,
         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def plant_deep_tree(drive_c):
    deep = os.path.join(drive_c, "tavok-calls", "deep", *["level%s00" % chr(ord("a") + i % 26)
                                                          for i in range(DEEP_LEVELS)])
    os.makedirs(deep, exist_ok=True)
    for i in range(DEEP_FILES):
        with open(os.path.join(deep, "f%d.dat" % i), "wb") as out:
            out.write(b"x")


def listed_files(drive_c):
    """The files of the drive as Wine lists them to a walk: links to folders
    are reparse points and not entered; a name with a backslash has no name
    a path can carry (Wine copies it into the short name too)."""
    count = 0
    for folder, _, files in os.walk(drive_c, followlinks=False):
        count += sum(1 for name in files if "\\" not in name)
    return count


def check_count(version, output, listed):
    """On the NT family every file listed is counted, with the memory pass's
    modules on top. On the Windows 95 family the deep tree is missing, which
    the few modules its memory pass may add here cannot make up for."""
    match = COUNTED.search(output)
    if not match:
        print("%s: the whole scan printed no count" % version)
        return 1
    counted = int(match.group(1))
    if version in call_rules.WIN95_FAMILY:
        ok = counted < listed - DEEP_FILES // 2
    else:
        ok = counted >= listed
    print("%-6s files listed on C: %d, counted by the scan %d" % (version, listed, counted))
    if not ok:
        print("%s: the count does not fit what the drive holds" % version)
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser()
    for option in ("wine", "objdump", "work", "product", "driver", "engine", "engine-map"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--versions", default=",".join(VERSIONS))
    options = parser.parse_args()
    versions = options.versions.split(",")
    prefix = os.environ["WINEPREFIX"]

    os.makedirs(options.work, exist_ok=True)
    drive_folder = os.path.join(prefix, "drive_c", "tavok-calls")
    os.makedirs(drive_folder, exist_ok=True)
    product_ranges = image_range(options.objdump, options.product)
    product_engine_ranges = engine_ranges(options.engine_map)
    if not product_engine_ranges:
        print("no engine code found in %s" % options.engine_map)
        return 1

    relay = (set(call_rules.PATH_FUNCTIONS) | set(call_rules.NARROW_FIND_FUNCTIONS) |
             set(call_rules.WIDE_PATH_FUNCTIONS) | set(call_rules.BY_PATH_REMOVAL) |
             {"CreateThread", "OpenProcess", "OpenThread", "FindFirstFileExW", "CreateFileW"})
    for exe in (options.product, options.engine):
        relay |= set(imported_wide_functions(options.objdump, exe))

    names = {}
    for version in versions:
        product_copy = os.path.join(drive_folder, "TavokRemover-%s.exe" % version)
        engine_copy = os.path.join(options.work, "engine_tests-%s.exe" % version)
        shutil.copyfile(options.product, product_copy)
        shutil.copyfile(options.engine, engine_copy)
        names[version] = [os.path.basename(product_copy), os.path.basename(engine_copy)]
    set_registry(options.wine, drive_folder, names, sorted(relay))

    failures = 0
    base_env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_US.UTF-8")
    drive_c = os.path.join(prefix, "drive_c")
    plant_deep_tree(drive_c)
    try:
        failures += check_versions(options, versions, names, drive_c, base_env, product_ranges,
                                   product_engine_ranges)
    finally:
        shutil.rmtree(os.path.join(drive_c, "tavok-calls", "deep"), ignore_errors=True)

    if failures:
        print("%d problem(s)" % failures)
        return 1
    print("every call keeps the rules of %s" % ", ".join(versions))
    return 0


def check_versions(options, versions, names, drive_c, base_env, product_ranges, product_engine_ranges):
    failures = 0
    for version in versions:
        started = time.time()
        runs = []
        # The whole scan, the trace on for the program alone.
        trace = os.path.join(options.work, "product-%s.trace" % version)
        env = dict(base_env, TAVOK_PRODUCT="C:\\tavok-calls\\TavokRemover-%s.exe" % version,
                   TAVOK_PRODUCT_WINEDEBUG="+relay")
        listed = listed_files(drive_c)
        with open(trace, "w") as err:
            result = wine([options.driver, "--gtest_filter=Product.ScanShows*"], options.wine, env=env,
                          stdout=subprocess.PIPE, stderr=err, text=True, timeout=600)
        runs.append(("whole scan", result, trace, product_ranges))
        failures += check_count(version, result.stdout, listed)
        # The engine's own calls in the tests that reach the judged paths.
        trace = os.path.join(options.work, "engine-%s.trace" % version)
        engine_filter = ENGINE_FILTER_WIN95 if version in call_rules.WIN95_FAMILY else ENGINE_FILTER_NT
        env = dict(base_env, WINEDEBUG="+relay")
        with open(trace, "w") as err:
            result = wine([os.path.join(options.work, "engine_tests-%s.exe" % version),
                           "--gtest_filter=" + engine_filter], options.wine, env=env,
                          stdout=subprocess.PIPE, stderr=err, text=True, timeout=600)
        runs.append(("engine tests", result, trace, product_engine_ranges))

        judged = []
        for what, result, trace, ranges in runs:
            if result.returncode != 0:
                failures += 1
                print("%s: the %s failed (exit code %d):\n%s" % (version, what, result.returncode,
                                                                 result.stdout[-3000:]))
            calls = list(calls_in(trace, ranges))
            # The files opened so far, for the rule on what the scan examined.
            examined = set()
            judged.append("%s %d" % (what, len(calls)))
            if not calls:
                failures += 1
                print("%s: the %s made no judged call; is the trace on?" % (version, what))
            for call in calls:
                if call.function == "CreateFileW":
                    examined.add(call_rules.plain(call.string(0)))
                call.examined = examined
                for rule in call_rules.judge(version, call):
                    failures += 1
                    print("%s: %s breaks the rule on %s\n    %s\n    source: %s"
                          % (version, call.function, rule.name, call.line, rule.source))
            os.remove(trace)
        print("%-6s calls judged: %s (%.0f s)" % (version, ", ".join(judged), time.time() - started))
    return failures


if __name__ == "__main__":
    sys.exit(main())
