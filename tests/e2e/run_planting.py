#!/usr/bin/env python3
"""Library planting under Wine: a version.dll of our own beside orvapatch.exe and in the current
directory, with Wine told to prefer a native version library wherever the search finds one. A
plain program started from the same folder loads it, so the plant works; the launcher never
does, neither when it reads the product library's version through the system's version library
nor when it shows the refusal box (Wine's user32 imports version.dll); nor does the installer it
starts, even one that loads the version library by its bare name, as it runs from its clean room."""
import argparse
import os
import shutil
import sys

import check_scenarios
import message_box
from harness import END, INSTALLER, LIBRARY_ACCEPTED, PRODUCT, START, Machine, registry_fixture

PREFER_NATIVE = {"WINEDLLOVERRIDES": "version=n,b"}
MARKER = "planted-version-loaded.txt"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--fixtures", required=True, help="directory of the version fixtures")
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--planted", required=True, help="our version.dll")
    parser.add_argument("--loader", required=True, help="the plain loader")
    args = parser.parse_args()
    if not message_box.available():
        print("Xvfb and xdotool are needed for the refusal box")
        return 1
    args.build, args.screenshot = "windows", None
    args.display = message_box.Display()
    m = Machine(args)
    marker = os.path.join(m.launcher_dir, MARKER)
    try:
        shutil.copy(args.planted, os.path.join(m.launcher_dir, "version.dll"))
        shutil.copy(args.loader, os.path.join(m.launcher_dir, "plain_loader.exe"))
        launcher, m.launcher = m.launcher, "plain_loader.exe"
        result, _ = m.run(extra_env=PREFER_NATIVE)
        m.launcher = launcher
        assert result.returncode == 0 and os.path.exists(
            marker
        ), "a plain program does not load the planted library: this test would prove nothing"
        os.remove(marker)

        m.set_registry(LIBRARY_ACCEPTED)
        m.install_library("tariflib.dll")
        m.install_stub()
        result, _ = m.run(extra_env=PREFER_NATIVE, cwd=m.launcher_dir)
        assert result.returncode == 0, result
        assert not os.path.exists(marker), "the launcher loaded the planted library: %r" % (
            m.read(marker)
        )
        # The version came through the system's library: 2014.2 read from tariflib.dll.
        assert m.log() == START + check_scenarios.LIBRARY_LINES + END, m.log()
        assert m.record() is not None, "installer not started"

        # An installer that loads the version library as a plain program does.
        shutil.copy(args.loader, os.path.join(m.launcher_dir, INSTALLER))
        result, _ = m.run(extra_env=PREFER_NATIVE, cwd=m.launcher_dir)
        assert result.returncode == 0 and m.event()[1] == 1000, (result, m.events)
        assert not os.path.exists(marker), "the installer loaded the planted library: %r" % (
            m.read(marker)
        )

        m.set_registry(registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"'])))
        os.remove(os.path.join(m.install_dir, "TarifLib.dll"))
        result, _ = m.run(extra_env=PREFER_NATIVE, cwd=m.launcher_dir, box="Orvane XP")
        assert result.returncode == 0 and m.boxes == 1, "%d boxes" % m.boxes
        assert not os.path.exists(marker), "the refusal box loaded the planted library"
    except AssertionError as error:
        print("FAIL  %s" % error)
        return 1
    finally:
        m.dispose()
        args.display.close()
    print(
        "ok    planted version.dll loaded by a plain program, never by the launcher, on its "
        "accepted and refused roads, nor by its installer"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
