#!/usr/bin/env python3
"""Cross-check of the two builds' version readers: verinfo of the POSIX build and verinfo.exe of
the Windows build under Wine must print the same text for every fixture at the top level of the
fixture directory (the hostile/ ones are read only by the POSIX reader's own tests: Wine's
version library itself crashes on some of them). Both read the fixtures by their bare names from
the fixtures' folder, as a user names a file; the POSIX one also by absolute host paths from
elsewhere, which must read the same.

Exit status: 0 same, 1 different (the first differing lines are shown), 77 skipped because one of
the two programs is absent (the other build has not been built).
"""
import argparse
import difflib
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77


def strip_names(output):
    return re.sub(rb"(?m)^file .*$", b"file", output)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--posix", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--fixtures", required=True)
    args = parser.parse_args()

    for label, path in (("POSIX verinfo", args.posix), ("Windows verinfo.exe", args.windows)):
        if not os.path.isfile(path):
            print("SKIP: %s not found at %s; build both presets (posix and windows) to "
                  "cross-check them" % (label, path))
            return SKIP

    names = sorted(n for n in os.listdir(args.fixtures)
                   if os.path.isfile(os.path.join(args.fixtures, n)) and
                   (n.endswith(".dll") or n.endswith(".exe") or n.endswith(".txt")))
    if not names:
        print("no fixtures in %s" % args.fixtures)
        return 1
    env = dict(os.environ)
    env["LC_ALL"] = "C"  # both builds: user language 0x0409, ANSI code page 1252
    env["LANG"] = "C"
    env.pop("LC_MESSAGES", None)
    with tempfile.TemporaryDirectory() as root:
        env["ORVAPATCH_ROOT"] = root
        posix = subprocess.run([args.posix] + names, cwd=args.fixtures, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        absolute = subprocess.run([args.posix] + [os.path.abspath(os.path.join(args.fixtures, n))
                                                  for n in names],
                                  cwd=root, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    windows = subprocess.run([args.wine_run, args.windows] + names, cwd=args.fixtures, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for label, run in (("POSIX", posix), ("Windows", windows)):
        if run.returncode not in (0, 1) or not run.stdout:
            print("%s verinfo failed with status %d:\n%s" % (
                label, run.returncode, run.stderr.decode("latin-1")[-2000:]))
            return 1
    if b'file "tariflib.dll"\nresult 1\n' not in posix.stdout:
        print("the POSIX verinfo did not read tariflib.dll by its bare name")
        return 1
    if strip_names(absolute.stdout) != strip_names(posix.stdout):
        print("the POSIX verinfo reads absolute host paths otherwise than bare names")
        return 1
    if posix.stdout == windows.stdout:
        print("same output for %d fixtures" % len(names))
        return 0
    diff = difflib.unified_diff(
        posix.stdout.decode("latin-1").splitlines(), windows.stdout.decode("latin-1").splitlines(),
        "posix", "windows", lineterm="", n=3)
    print("\n".join(list(diff)[:200]))
    return 1


if __name__ == "__main__":
    sys.exit(main())
