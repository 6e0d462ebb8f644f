#!/usr/bin/env python3
"""Cross-check of the two builds' version readers: verinfo of the POSIX build and verinfo.exe of
the Windows build under Wine must print the same text for every fixture at the top level of the
fixture directory, damaged ones among them, and for every library and program of Wine's own (a
reader that refuses what the system reads would show there). The hostile/ fixtures are read
without harm by both builds (their unit tests), but not alike: how a damaged version tree is
walked differs.

Exit status: 0 same, 1 different (the first differing lines are shown), 77 skipped because one of
the two programs is absent (the other build has not been built).
"""
import argparse
import difflib
import os
import subprocess
import sys
import tempfile

SKIP = 77


def same_reading(args, directory, names):
    """Runs both builds' verinfo over |names| in |directory|; True when they print the same."""
    # Relative names with a separator: the current directory, in both builds (a bare name would
    # be looked up in the program's own directory).
    files = [".\\" + n for n in names]
    env = dict(os.environ)
    env["LC_ALL"] = "C"  # both builds: user language 0x0409, ANSI code page 1252
    env["LANG"] = "C"
    env.pop("LC_MESSAGES", None)
    with tempfile.TemporaryDirectory() as root:
        env["ORVAPATCH_ROOT"] = root
        posix = subprocess.run([args.posix] + files, cwd=directory, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    windows = subprocess.run([args.wine_run, args.windows] + files, cwd=directory, env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for label, run in (("POSIX", posix), ("Windows", windows)):
        if run.returncode not in (0, 1) or not run.stdout:
            print("%s verinfo failed with status %d in %s:\n%s" % (
                label, run.returncode, directory, run.stderr.decode("latin-1")[-2000:]))
            return False
    if posix.stdout == windows.stdout:
        print("same output for %d files of %s (%d read)" % (
            len(names), directory, posix.stdout.count(b"\nresult 1\n")))
        return True
    diff = difflib.unified_diff(
        posix.stdout.decode("latin-1").splitlines(), windows.stdout.decode("latin-1").splitlines(),
        "posix", "windows", lineterm="", n=3)
    print("\n".join(list(diff)[:200]))
    return False


def files_in(directory, extensions):
    return sorted(n for n in os.listdir(directory)
                  if os.path.isfile(os.path.join(directory, n)) and n.lower().endswith(extensions))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--posix", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--wine-libraries", nargs="*", default=[],
                        help="directories of Wine's own libraries and programs")
    args = parser.parse_args()

    for label, path in (("POSIX verinfo", args.posix), ("Windows verinfo.exe", args.windows)):
        if not os.path.isfile(path):
            print("SKIP: %s not found at %s; build both presets (posix and windows) to "
                  "cross-check them" % (label, path))
            return SKIP

    names = files_in(args.fixtures, (".dll", ".exe", ".txt"))
    if not names:
        print("no fixtures in %s" % args.fixtures)
        return 1
    same = same_reading(args, args.fixtures, names)
    for directory in args.wine_libraries:
        same = same_reading(args, directory, files_in(directory, (".dll", ".exe"))) and same
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
