#!/usr/bin/env python3
"""A real restart of the test prefix, as the session manager carries out
the deletions registered for it: Wine does them when a prefix starts
again, following each path as it stands then, links included.

    check_restart.py --wine LOADER --server WINESERVER --engine ENGINE_TESTS.exe --folder NAME

The engine test RestartUnderWine.CopiesInUseAreRegistered scans, in
C:\\NAME, copies in nine states: held by a program without delete sharing,
held with the right to delete, a module a child process runs (these in
C:\\NAME\\inf) and a module the test itself runs (C:\\NAME\\plain); plain,
read-only and hidden copies, and one file under two names, removed at
once. It registers what it can for the restart. Then, as a worm would once the scan
is over, C:\\NAME\\inf is renamed away and a link to C:\\NAME\\other, whose
files have the same names, put in its place (links are made on the host
side only). The prefix's server is stopped, a program started, and:
the other folder's files keep their bytes, and the copies the test
registered are nowhere on C:. WINEPREFIX names the prefix; the persistent
server is started again at the end.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def digests_under(folder):
    found = {}
    for parent, _, files in os.walk(folder, followlinks=False):
        for name in files:
            path = os.path.join(parent, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found.setdefault(md5_of(path), []).append(path)
    return found


def quiet(args, env):
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    for option in ("wine", "server", "engine", "folder"):
        parser.add_argument("--" + option, required=True)
    options = parser.parse_args()
    prefix = os.environ["WINEPREFIX"]
    drive_c = os.path.join(prefix, "drive_c")
    base = os.path.join(drive_c, options.folder)
    shutil.rmtree(base, ignore_errors=True)
    other = os.path.join(base, "other")
    os.makedirs(os.path.join(other, "mod"))
    others = {}
    for name in ("held-read.bin", os.path.join("mod", "module.dll")):
        data = os.urandom(4096)
        with open(os.path.join(other, name), "wb") as out:
            out.write(data)
        others[name] = data

    env = dict(os.environ, WINEDEBUG="-all", LC_ALL="en_US.UTF-8", WINEDLLOVERRIDES="mscoree,mshtml=",
               TAVOK_RESTART_DIR="C:\\" + options.folder)
    result = subprocess.run([options.wine, options.engine, "--gtest_filter=RestartUnderWine.*"], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, timeout=300)
    print(result.stdout[-4000:])
    if result.returncode != 0 or "[  PASSED  ] 1 test" not in result.stdout:
        print("the registration half failed")
        return 1
    with open(os.path.join(base, "registered.txt")) as f:
        registered = f.read().split()
    # Every folder of the program's holds a copy for the restart.
    unused = [name for name in os.listdir(drive_c) if name.lower().startswith("tavokremover.quarantine")
              and not digests_under(os.path.join(drive_c, name))]

    # The worm's move, after the scan: its folder becomes a link.
    os.rename(os.path.join(base, "inf"), os.path.join(base, "inf-away"))
    os.symlink("other", os.path.join(base, "inf"))

    # The restart: the server stopped, then started again with a program.
    server_env = dict(os.environ, WINEDEBUG="-all")
    quiet([options.server, "-k"], server_env)
    quiet([options.server, "-w"], server_env)
    subprocess.Popen(["setsid", options.server, "-p"], env=server_env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
    quiet([options.wine, "cmd.exe", "/c", "exit"], env)

    failures = 0
    for name in unused:
        print("a folder of the program's that it did not use: %s" % name)
        failures += 1
    for name, data in others.items():
        path = os.path.join(other, name)
        if not os.path.exists(path):
            print("deleted at the restart, though no copy of the worm: %s" % path)
            failures += 1
        else:
            with open(path, "rb") as f:
                if f.read() != data:
                    print("changed at the restart: %s" % path)
                    failures += 1
    left = digests_under(drive_c)
    for digest in registered:
        for path in left.get(digest, []):
            print("registered, still there after the restart: %s" % path)
            failures += 1
    for name in ("held-read.bin", "held-delete.bin"):
        if not os.path.exists(os.path.join(base, "inf-away", name)):
            print("the copy %s reported Kill Failed is gone: was it registered after all?" % name)
            failures += 1

    shutil.rmtree(base, ignore_errors=True)
    if failures:
        print("%d problem(s)" % failures)
        return 1
    print("after the restart the other folder's files are whole and the registered copies gone")
    return 0


if __name__ == "__main__":
    sys.exit(main())
