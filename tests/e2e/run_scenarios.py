#!/usr/bin/env python3
"""End-to-end scenarios: the launcher run on a scratch machine, its log, files and exit status
checked byte for byte. The same scenarios drive the POSIX build over a machine root and the
Windows executable under Wine, so both builds must give the same results."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

INSTALLER = "K220_V2014_V2014.4.2.exe"
SEP = b"-" * 86 + b"\r\n"
START = SEP + "Démarrage de l'installation de Orvane 2014.4.2 le : DATE\r\n".encode("cp1252") + SEP
END = b"TIME - Fermeture du programme d'installation de Orvane.\r\n" + SEP + b"\r\n\r\n"


def mask(data):
    data = re.sub(rb"[A-Z][a-z]+day \d\d \d\d \d{4} - \d\d:\d\d:\d\d", b"DATE", data)
    return re.sub(rb"\d\d:\d\d:\d\d", b"TIME", data)


class Machine:
    """One scratch workstation: drive C: with the launcher in C:\\launcher."""

    def __init__(self, args):
        self.args = args
        self.windows = args.build == "windows"
        if self.windows:
            self.prefix = os.environ.setdefault(
                "WINEPREFIX", os.path.expanduser("~/.cache/orvapatch/wineprefix"))
            subprocess.run([args.wine_run, "cmd", "/c", "exit"], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.drive_c = os.path.join(self.prefix, "drive_c")
        else:
            self.root = tempfile.mkdtemp(prefix="orva-e2e-")
            self.drive_c = os.path.join(self.root, "drive_c")
            os.makedirs(os.path.join(self.drive_c, "windows"))
        self.launcher_dir = os.path.join(self.drive_c, "launcher")
        self.clean()
        os.makedirs(self.launcher_dir)
        name = "orvapatch.exe" if self.windows else "orvapatch"
        shutil.copy(args.launcher, os.path.join(self.launcher_dir, name))
        self.launcher = name

    def clean(self):
        shutil.rmtree(self.launcher_dir, ignore_errors=True)
        for log in (self.log_path(),):
            if os.path.exists(log):
                os.remove(log)

    def log_path(self):
        return os.path.join(self.drive_c, "windows", "orvapatch.log")

    def install_stub(self, name=INSTALLER, where=None):
        shutil.copy(self.args.stub, os.path.join(where or self.launcher_dir, name))

    def record_path(self):
        return os.path.join(self.launcher_dir, "record.txt")

    def run(self, stub_exit=0, sleep_ms=0, cwd=None, extra_path=None):
        env = dict(os.environ)
        env["STUB_EXIT"] = str(stub_exit)
        env["STUB_SLEEP_MS"] = str(sleep_ms)
        env["STUB_RECORD"] = "C:\\launcher\\record.txt" if self.windows else self.record_path()
        if extra_path:
            env["PATH"] = extra_path + os.pathsep + env["PATH"]
        if self.windows:
            command = [self.args.wine_run, "C:\\launcher\\" + self.launcher]
        else:
            env["ORVAPATCH_ROOT"] = self.root
            command = [os.path.join(self.launcher_dir, self.launcher)]
        started = time.monotonic()
        result = subprocess.run(command, env=env, cwd=cwd or self.launcher_dir + "/..",
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if self.windows:
            subprocess.run(["wineserver", "-w"], env=env)
        return result, time.monotonic() - started

    def log(self):
        with open(self.log_path(), "rb") as f:
            return mask(f.read())

    def record(self):
        if not os.path.exists(self.record_path()):
            return None
        with open(self.record_path(), "rb") as f:
            return f.read().decode("cp1252")

    def dispose(self):
        self.clean()
        if not self.windows:
            shutil.rmtree(self.root, ignore_errors=True)


def scenario_installer_run_and_waited_for(m):
    m.install_stub()
    result, elapsed = m.run(stub_exit=3, sleep_ms=1500)
    assert result.returncode == 0, result
    record = m.record()
    assert record is not None and record.endswith("argc=1\ndone\n"), record
    if m.windows:
        assert 'cmdline=["%s" ]\n' % INSTALLER in record, record
        assert "show=1\n" in record, record
    assert elapsed >= 1.5, elapsed
    assert m.log() == START + END, m.log()


def scenario_installer_missing(m):
    result, _ = m.run()
    assert result.returncode == 0, result
    assert m.log() == START + END, m.log()


def scenario_planted_installer_never_started(m):
    planted = os.path.join(m.drive_c, "planted")
    shutil.rmtree(planted, ignore_errors=True)
    os.makedirs(planted)
    m.install_stub(where=planted)
    try:
        result, _ = m.run(cwd=planted, extra_path=planted)
    finally:
        shutil.rmtree(planted, ignore_errors=True)
    assert result.returncode == 0, result
    assert m.record() is None, m.record()
    assert m.log() == START + END, m.log()


def scenario_two_runs_two_sections(m):
    m.install_stub()
    m.run()
    m.run(stub_exit=1)
    assert m.log() == START + END + START + END, m.log()


SCENARIOS = [v for k, v in sorted(globals().items()) if k.startswith("scenario_")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", choices=["posix", "windows"], required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--wine-run")
    parser.add_argument("--only")
    args = parser.parse_args()
    passed = failed = 0
    for scenario in SCENARIOS:
        name = scenario.__name__[len("scenario_"):]
        if args.only and args.only not in name:
            continue
        machine = Machine(args)
        try:
            scenario(machine)
            passed += 1
            print("ok    %s" % name)
        except AssertionError as error:
            failed += 1
            print("FAIL  %s: %s" % (name, str(error)[:2000]))
        finally:
            machine.dispose()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
