#!/usr/bin/env python3
"""Cross-check of the version readers: our own reader in both builds, verinfo of the POSIX build
and verinfo.exe of the Windows build under Wine, each reading as the launcher reads and through
the three calls of a version library (--query), and the system's version library, through
verinfo.exe --system, must print the same text for every fixture at the top level of the fixture
directory, gently malformed ones among them, and for every library and program of Wine's own (a
reader that refuses what the system reads would show there). The oversized/ fixtures, whose
version resource declares more than the file holds, make the system's library fault: only our two
builds read them, alike. All read the files by their bare names from their folder, as a user
names a file; the POSIX one also reads the fixtures by absolute host paths from elsewhere, which
must read the same. The hostile/ fixtures are read without harm by both builds (their unit tests).

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


def environment(root):
    env = dict(os.environ)
    env["LC_ALL"] = "C"  # both builds: user language 0x0409, ANSI code page 1252
    env["LANG"] = "C"
    env.pop("LC_MESSAGES", None)
    env["ORVAPATCH_ROOT"] = root
    return env


def same_reading(args, directory, names, system=True):
    """Runs the POSIX verinfo, verinfo.exe, both with --query too, and, with |system|,
    verinfo.exe --system over the bare |names| in |directory|; the POSIX output, or None when they
    differ or one failed."""
    readers = [
        ("POSIX", [args.posix]),
        ("POSIX query", [args.posix, "--query"]),
        ("Windows", [args.wine_run, args.windows]),
        ("Windows query", [args.wine_run, args.windows, "--query"]),
    ]
    if system:
        readers.append(("system", [args.wine_run, args.windows, "--system"]))
    outputs = []
    with tempfile.TemporaryDirectory() as root:
        env = environment(root)
        for label, command in readers:
            run = subprocess.run(
                command + names,
                cwd=directory,
                env=env,
                stdout=subprocess.PIPE,
                stderr=subprocess.PIPE,
            )
            if run.returncode not in (0, 1) or not run.stdout:
                print(
                    "%s verinfo failed with status %d in %s:\n%s"
                    % (label, run.returncode, directory, run.stderr.decode("latin-1")[-2000:])
                )
                return None
            outputs.append((label, run.stdout))
    posix = outputs[0][1]
    for label, output in outputs[1:]:
        if output != posix:
            diff = difflib.unified_diff(
                posix.decode("latin-1").splitlines(),
                output.decode("latin-1").splitlines(),
                "POSIX",
                label,
                lineterm="",
                n=3,
            )
            print("\n".join(list(diff)[:200]))
            return None
    print(
        "same output from %s for %d files of %s (%d read)"
        % (
            ", ".join(label for label, _ in outputs),
            len(names),
            directory,
            posix.count(b"\nresult 1\n"),
        )
    )
    return posix


def reads_absolute_paths_alike(args, names, by_name):
    """True when the POSIX verinfo reads the fixtures by absolute host paths as by bare names."""
    with tempfile.TemporaryDirectory() as root:
        absolute = subprocess.run(
            [args.posix] + [os.path.abspath(os.path.join(args.fixtures, n)) for n in names],
            cwd=root,
            env=environment(root),
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
        )
    return strip_names(absolute.stdout) == strip_names(by_name)


def files_in(directory, extensions):
    return sorted(
        n
        for n in os.listdir(directory)
        if os.path.isfile(os.path.join(directory, n)) and n.lower().endswith(extensions)
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--posix", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument(
        "--wine-libraries",
        nargs="*",
        default=[],
        help="directories of Wine's own libraries and programs",
    )
    args = parser.parse_args()

    for label, path in (("POSIX verinfo", args.posix), ("Windows verinfo.exe", args.windows)):
        if not os.path.isfile(path):
            print(
                "SKIP: %s not found at %s; build both presets (posix and windows) to "
                "cross-check them" % (label, path)
            )
            return SKIP

    names = files_in(args.fixtures, (".dll", ".exe", ".txt"))
    if not names:
        print("no fixtures in %s" % args.fixtures)
        return 1
    fixtures = same_reading(args, args.fixtures, names)
    same = fixtures is not None
    if same and b'file "tariflib.dll"\nresult 1\n' not in fixtures:
        print("verinfo did not read tariflib.dll by its bare name")
        same = False
    if same and not reads_absolute_paths_alike(args, names, fixtures):
        print("the POSIX verinfo reads absolute host paths otherwise than bare names")
        same = False
    oversized = os.path.join(args.fixtures, "oversized")
    read = same_reading(args, oversized, files_in(oversized, (".dll",)), system=False)
    if read is None or b"\nresult 1\n" in read:
        print("the oversized fixtures were not all refused alike")
        same = False
    for directory in args.wine_libraries:
        same = (
            same_reading(args, directory, files_in(directory, (".dll", ".exe"))) is not None
            and same
        )
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
