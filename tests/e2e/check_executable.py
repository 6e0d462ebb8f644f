#!/usr/bin/env python3
"""Checks the shipped Windows executable as an administrator's security review would: 32-bit GUI
program, manifest asking for elevation, version 2014.4.2, an import table naming only
libraries that Windows always loads from System32 (so none can be planted beside it), and no
trace of the tests' fault-injection seam. Without OBJDUMP (the POSIX launcher) only the last."""
import re
import struct
import subprocess
import sys

ALWAYS_FROM_SYSTEM32 = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
                        "gdi32.dll", "ole32.dll", "ntdll.dll"}


def seam_failures(data):
    # The seam's environment variables and its report: a shipped program has neither.
    return ["holds the fault-injection seam (%r)" % text.decode()
            for text in (b"ORVAPATCH_FAULT", b"fault seam") if text in data]


def main(path, objdump=None):
    data = open(path, "rb").read()
    failures = seam_failures(data)
    if objdump is None:
        return report(failures)
    headers = subprocess.run([objdump, "-p", path], capture_output=True, text=True,
                             check=True).stdout
    if "file format pei-i386" not in headers:
        failures.append("not a 32-bit PE image")
    if not re.search(r"Subsystem\s+00000002", headers):
        failures.append("not a GUI-subsystem program")
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    extra = imports - ALWAYS_FROM_SYSTEM32
    if extra:
        failures.append("imports libraries that could be planted: %s" % sorted(extra))
    if "version.dll" in imports:
        failures.append("version.dll is imported statically")
    for dll in ("libstdc++", "libgcc", "libwinpthread"):
        if any(dll in name for name in imports):
            failures.append("needs %s beside it" % dll)
    manifest = re.search(rb"<requestedExecutionLevel[^>]*>", data)
    if not manifest or b'level="requireAdministrator"' not in manifest.group(0) \
            or b'uiAccess="false"' not in manifest.group(0):
        failures.append("manifest does not require administrator rights")
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        failures.append("no version resource")
    else:
        ms, ls = struct.unpack_from("<II", data, at + 8)
        version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if version[:3] != (2014, 4, 2):
            failures.append("file version %s" % (version,))
    return report(failures)


def report(failures):
    for failure in failures:
        print("FAIL  %s" % failure)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
