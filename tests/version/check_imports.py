#!/usr/bin/env python3
"""Checks that no executable of the Windows build imports version.dll statically: the launcher
runs elevated, and version.dll is not one of the libraries Windows always takes from System32.
The launcher reads versions with our own reader; only verinfo.exe --system loads version.dll, at
run time by full path (src/os/win32/tool.cc).

  check_imports.py OBJDUMP EXE...
"""
import re
import subprocess
import sys


def main():
    objdump, exes = sys.argv[1], sys.argv[2:]
    bad = False
    for exe in exes:
        out = subprocess.run([objdump, "-p", exe], stdout=subprocess.PIPE, check=True).stdout
        names = re.findall(rb"DLL Name: (\S+)", out)
        print("%s imports %s" % (exe, b", ".join(names).decode()))
        if any(n.lower() == b"version.dll" for n in names):
            print("  version.dll is imported statically")
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
