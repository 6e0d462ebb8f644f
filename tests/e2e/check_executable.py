#!/usr/bin/env python3
"""Checks the shipped Windows executables as an administrator's security review would: 32-bit GUI
program, manifest asking for elevation, version 2014.4.2, aware of Remote Desktop sessions, an
import table holding only functions of the import list (none that a library planted beside the
launcher can provide), and no trace of the tests' fault-injection seam. Without --objdump (the
POSIX launcher) only the last.

  check_executable.py [--objdump OBJDUMP --imports LIST] EXE...
"""
import argparse
import os
import re
import struct
import subprocess
import sys

# advapi32 forwards both to libraries that are not KnownDLLs (cryptsp.dll, cryptbase.dll):
# refused whatever the list says.
FORWARDED_OUT = ("Crypt", "SystemFunction")
TERMINAL_SERVER_AWARE = 0x8000


def seam_failures(data):
    # The seam's environment variables and its report: a shipped program has neither.
    return [
        "holds the fault-injection seam (%r)" % text.decode()
        for text in (b"ORVAPATCH_FAULT", b"fault seam")
        if text in data
    ]


def allowed_imports(path):
    """The (library, function) pairs of the list: [library] lines, then its functions."""
    allowed, library = set(), None
    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            library = line[1:-1].lower()
        elif line and not line.startswith("#"):
            allowed.add((library, line))
    return allowed


def imported(headers):
    """The (library, function) pairs that objdump -p lists; an import by ordinal is '<none>'."""
    found, library = [], None
    for line in headers.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        entry = re.match(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", line)
        if match:
            library = match.group(1).lower()
        elif library and entry:
            found.append((library, entry.group(1)))
        elif "vma:" not in line:
            library = None
    return found


def import_failures(headers, allowed):
    functions = imported(headers)
    failures = []
    if not functions:
        failures.append("no import table read")
    off_list = sorted("%s!%s" % pair for pair in set(functions) - allowed)
    if off_list:
        failures.append("imports functions off the list: %s" % ", ".join(off_list))
    forwarded = sorted(name for _, name in functions if name.startswith(FORWARDED_OUT))
    if forwarded:
        failures.append(
            "imports what advapi32 forwards to a plantable library: %s" % ", ".join(forwarded)
        )
    return failures


def check(path, objdump, allowed):
    data = open(path, "rb").read()
    failures = seam_failures(data)
    if objdump is None:
        return failures
    headers = subprocess.run(
        [objdump, "-p", path], capture_output=True, text=True, check=True
    ).stdout
    if "file format pei-i386" not in headers:
        failures.append("not a 32-bit PE image")
    if not re.search(r"Subsystem\s+00000002", headers):
        failures.append("not a GUI-subsystem program")
    characteristics = re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", headers)
    if not characteristics or not int(characteristics.group(1), 16) & TERMINAL_SERVER_AWARE:
        failures.append("not marked aware of Remote Desktop sessions (--tsaware)")
    failures += import_failures(headers, allowed)
    manifest = re.search(rb"<requestedExecutionLevel[^>]*>", data)
    if (
        not manifest
        or b'level="requireAdministrator"' not in manifest.group(0)
        or b'uiAccess="false"' not in manifest.group(0)
    ):
        failures.append("manifest does not require administrator rights")
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        failures.append("no version resource")
    else:
        ms, ls = struct.unpack_from("<II", data, at + 8)
        version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if version[:3] != (2014, 4, 2):
            failures.append("file version %s" % (version,))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", help="the PE objdump: review the Windows executables")
    parser.add_argument("--imports", help="with --objdump: the list of functions allowed")
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()
    if args.objdump and not args.imports:
        parser.error("--objdump needs --imports")
    allowed = allowed_imports(args.imports) if args.objdump else None
    failed = 0
    for path in args.executables:
        failures = check(path, args.objdump, allowed)
        for failure in failures:
            print("FAIL  %s: %s" % (os.path.basename(path), failure))
        failed += 1 if failures else 0
    print("%d passed, %d failed" % (len(args.executables) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
