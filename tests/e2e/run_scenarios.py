#!/usr/bin/env python3
"""End-to-end scenarios: the launcher run on a scratch machine, its log, files and exit status
checked byte for byte. The same scenarios drive the POSIX build over a machine root and the
Windows executable under Wine, so both builds must give the same results."""
import argparse
import contextlib
import ctypes
import fcntl
import os
import pwd
import re
import shutil
import subprocess
import sys
import select
import tempfile
import threading
import time

import message_box

INSTALLER = "K220_V2014_V2014.4.2.exe"
REFUSAL = ("Vous devez avoir pr\u00e9alablement install\u00e9 K220 V2014, V2014.1, V2014.2, V2014.3 et "
           "V2014.4 pour installer ce patch!\n\nVeuillez v\u00e9rifier votre installation ORVANE!")
SEP = b"-" * 86 + b"\r\n"
START = SEP + "Démarrage de l'installation de Orvane 2014.4.2 le : DATE\r\n".encode("cp1252") + SEP
ACCEPTED_LINE = b"TIME - SoftVersion dans la base de regsitre - 2014.4\r\n"
NOTHING_FOUND = (b"TIME - ***SoftVersion dans la base de regsitre - \r\n"
                 b"TIME - CheckVerion - TarifLib Version = 0.0\r\n")
END = b"TIME - Fermeture du programme d'installation de Orvane.\r\n" + SEP + b"\r\n\r\n"


# Top-level keys of either hive's software branch that the product family and the launcher use;
# everything else in the registry is left out of a machine's registry read back.
FAMILY_KEY = re.compile(r"(?i)^(ORVANE|KELMARIS|BELNOR|ZERLIN)")
HIVES = ("HKEY_CURRENT_USER\\Software", "HKEY_LOCAL_MACHINE\\SOFTWARE")


def parse_reg(text):
    """Registry text (REGEDIT4 in cp1252, or regedit's UTF-16 "REGEDIT5" export) as
    {key: {value name: (type, bytes)}}, names spelled as stored, texts in cp1252 bytes, each
    key's ancestors below the software branch present too."""
    unicode = text.startswith("Windows Registry Editor Version 5.00")
    lines = text.replace("\r\n", "\n").split("\n")
    keys, current, i = {}, None, 1
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.rstrip().endswith("\\") and i < len(lines):
            line = line.rstrip()[:-1] + lines[i].strip()
            i += 1
        if not line.strip() or line.startswith(";"):
            continue
        if line.startswith("["):
            path = line.strip()[1:-1]
            current = keys.setdefault(path, {})
            parts = path.split("\\")
            for hive in HIVES:
                if path.lower().startswith(hive.lower() + "\\"):
                    for n in range(len(hive.split("\\")) + 1, len(parts)):
                        keys.setdefault("\\".join(parts[:n]), {})
            continue
        match = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        assert match, "registry line not understood: %r" % line
        name = "" if match.group(1) == "@" else unescape(match.group(2))
        current[name] = reg_data(match.group(3), unicode)
    return keys


def unescape(text):
    return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), text)


def reg_data(data, unicode):
    if data.startswith('"'):
        return 1, unescape(data[1:-1]).encode("cp1252") + b"\0"
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    kind, _, hexes = data.partition(":")
    raw = bytes(int(h, 16) for h in hexes.replace(" ", "").split(",") if h)
    kind = 3 if kind == "hex" else int(kind[4:-1], 16)
    if unicode and kind in (1, 2, 7):  # the UTF-16 export holds these texts in UTF-16
        raw = raw.decode("utf-16-le").encode("cp1252")
    return kind, raw


def family_keys(keys):
    """The keys below the software branches whose top-level name belongs to the family."""
    result = {}
    for path, values in keys.items():
        for hive in HIVES:
            if path.lower().startswith(hive.lower() + "\\") and FAMILY_KEY.match(path[len(hive) + 1:]):
                result[path] = values
    return result




# Under Wine the event log keeps nothing: a run's events are read from Wine's debug channels, each
# call's type and id on advapi's line, then its strings on the eventlog channel, in the class of
# the type. On POSIX they are the lines the run adds to eventlog.txt at the machine root.
WINE_EVENT_DEBUG = "-all,fixme+advapi,+eventlog"
WINE_EVENT = re.compile(r"^[0-9a-f]+:fixme:advapi:ReportEventW \(\w+,0x([0-9a-f]{4}),0x[0-9a-f]{4},"
                        r"0x([0-9a-f]{8}),")
WINE_EVENT_STRING = re.compile(r"^[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW (.*)$")
EVENT_TYPES = {4: ("information", "trace"), 2: ("warning", "warn"), 1: ("error", "err")}
ESCAPES = {"n": "\n", "r": "\r", "t": "\t"}


def wine_events(stderr):
    """The events of a run under Wine, as (type, id, [strings])."""
    events, channel = [], None
    for line in stderr.decode("utf-8", "replace").splitlines():
        call = WINE_EVENT.match(line)
        string = WINE_EVENT_STRING.match(line)
        if call:
            kind, channel = EVENT_TYPES[int(call.group(1), 16)]
            events.append((kind, int(call.group(2), 16), []))
        elif string:
            assert events and string.group(1) == channel, line
            quoted = string.group(2)  # L"...", with \\, \", \n, \r, \t and \XXXX escapes
            assert quoted.startswith('L"') and quoted.endswith('"'), "cut short by Wine: " + line
            events[-1][2].append(re.sub(r"\\([0-9a-f]{4}|.)", lambda m: chr(int(m.group(1), 16)) if len(
                m.group(1)) == 4 else ESCAPES.get(m.group(1), m.group(1)), quoted[2:-1]))
    return events


def posix_events(lines):
    """The events of eventlog.txt's lines, as (type, id, [strings])."""
    events = []
    for line in lines:
        fields = [re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), field)
                  for field in line.decode("utf-8").split("\t")]
        assert fields[0] == "OrvaPatch", line
        events.append((fields[1], int(fields[2]), fields[3:]))
    return events


def mask(data):
    data = re.sub(rb"[A-Z][a-z]+day \d\d \d\d \d{4} - \d\d:\d\d:\d\d", b"DATE", data)
    return re.sub(rb"\d\d:\d\d:\d\d", b"TIME", data)


class Machine:
    """One scratch workstation: drive C: with the launcher in C:\\launcher (move_launcher puts it
    elsewhere); the installer stub records its start in C:\\launcher\\record.txt."""

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
            # A scenario that starts afresh keeps its machine root.
            self.root = getattr(self, "root", None) or tempfile.mkdtemp(prefix="orva-e2e-")
            self.drive_c = os.path.join(self.root, "drive_c")
            os.makedirs(os.path.join(self.drive_c, "windows", "Temp"), exist_ok=True)
        self.launcher_folder = "launcher"  # on drive C:
        self.launcher_dir = os.path.join(self.drive_c, "launcher")
        self.install_dir = os.path.join(self.drive_c, "WORVA32")  # the default installation path
        self.clean()
        os.makedirs(self.launcher_dir)
        name = "orvapatch.exe" if self.windows else "orvapatch"
        shutil.copy(args.launcher, os.path.join(self.launcher_dir, name))
        self.launcher = name

    def clean(self):
        for top in {"launcher", self.launcher_folder.split("\\")[0]}:
            shutil.rmtree(os.path.join(self.drive_c, top), ignore_errors=True)
        if os.path.isdir(self.install_dir):
            for top, dirs, files in os.walk(self.install_dir):
                for name in dirs + files:
                    os.chmod(os.path.join(top, name), 0o755)
        shutil.rmtree(self.install_dir, ignore_errors=True)
        # Wine's prefix outlives the machine: each machine starts with no clean room left.
        if os.path.isdir(self.temp_dir()):
            for room in self.clean_rooms(kept=True):
                shutil.rmtree(self.room_path(room), ignore_errors=True)
            if os.path.isdir(self.rooms_dir()) and not os.path.islink(self.rooms_dir()):
                shutil.rmtree(self.rooms_dir(), ignore_errors=True)
            elif os.path.lexists(self.rooms_dir()):
                os.remove(self.rooms_dir())  # a pipe, which rmtree would open and wait on
        for log in (self.log_path(),):
            if os.path.isdir(log) and not os.path.islink(log):
                os.rmdir(log)
            elif os.path.lexists(log):
                os.remove(log)
        self.clean_registry()

    def wine(self, *command):
        return subprocess.run([self.args.wine_run] + list(command), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=True).stdout

    def regedit(self, *arguments):
        # The 32-bit regedit sees the registry as the 32-bit launcher does: HKLM\SOFTWARE\X is
        # HKLM\SOFTWARE\Wow6432Node\X for both.
        self.wine("C:\\windows\\syswow64\\regedit.exe", *arguments)

    def family_key_names(self):
        """Windows: the family's top-level keys in both hives, as full key names."""
        listing = self.wine("cmd", "/c", "C:\\windows\\syswow64\\reg.exe query HKCU\\Software & "
                            "C:\\windows\\syswow64\\reg.exe query HKLM\\SOFTWARE")
        return sorted(family_keys({line.strip(): None for line in listing.decode("cp1252").splitlines()}))

    def clean_registry(self):
        """Removes what the launcher and the fixtures put in the registry."""
        if not self.windows:
            path = os.path.join(self.root, "registry.reg")
            if os.path.exists(path):
                os.remove(path)
            return
        names = self.family_key_names()
        if names:
            self.import_registry("REGEDIT4\r\n" + "".join("\r\n[-%s]\r\n" % n for n in names))

    def import_registry(self, text):
        """Windows: imports REGEDIT4 text (cp1252) with the 32-bit regedit."""
        path = os.path.join(self.drive_c, "fixture.reg")
        with open(path, "wb") as f:
            f.write(text.encode("cp1252"))
        try:
            self.regedit("/S", "C:\\fixture.reg")
        finally:
            os.remove(path)

    def set_registry(self, text):
        """Gives the machine a registry fixture: REGEDIT4 text, lines ending in CR LF."""
        if self.windows:
            self.import_registry(text)
        else:
            with open(os.path.join(self.root, "registry.reg"), "wb") as f:
                f.write(text.encode("cp1252"))

    def registry(self):
        """The family's keys of the machine's registry, as parse_reg gives them."""
        if not self.windows:
            path = os.path.join(self.root, "registry.reg")
            if not os.path.exists(path):
                return {}
            with open(path, "rb") as f:
                return family_keys(parse_reg(f.read().decode("cp1252")))
        keys = {}
        export = os.path.join(self.drive_c, "export.reg")
        for name in self.family_key_names():
            self.regedit("/E", "C:\\export.reg", name)
            with open(export, "rb") as f:
                keys.update(parse_reg(f.read().decode("utf-16")))
            os.remove(export)
        return family_keys(keys)

    def config_path(self, copy=False):
        parts = ["Temp", "ssvConfig"] if copy else []
        return os.path.join(self.install_dir, *parts, "Configuration.xml")

    def install_product(self, template, config, copy):
        """The configuration files of an installed product; None leaves a file out."""
        os.makedirs(os.path.join(self.install_dir, "Temp", "ssvConfig"))
        for path, data in ((os.path.join(self.install_dir, "Configuration.tpl"), template),
                           (self.config_path(), config), (self.config_path(copy=True), copy)):
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def listing(self):
        return sorted(os.path.relpath(os.path.join(top, name), self.install_dir)
                      for top, dirs, files in os.walk(self.install_dir) for name in files)

    def log_path(self):
        return os.path.join(self.drive_c, "windows", "orvapatch.log")

    def documents_log_path(self):
        """Where the log goes when the Windows directory's file cannot be opened (the folder is
        made here, and a log left there removed)."""
        user = os.environ.get("USER") or pwd.getpwuid(os.geteuid()).pw_name
        folder = os.path.join(self.drive_c, "users", user, "Documents")
        # Wine links Documents to the home folder, which every prefix shares: a link to a folder
        # of the prefix's own keeps the test runs of two prefixes apart, and Documents a link, as
        # the launcher finds it under Wine.
        home = os.path.join(self.drive_c, "users", user, "Home")
        os.makedirs(home, exist_ok=True)
        if not (os.path.islink(folder) and os.readlink(folder) == home):
            if os.path.islink(folder):
                os.remove(folder)
            shutil.rmtree(folder, ignore_errors=True)
            os.symlink(home, folder)
        path = os.path.join(folder, "orvapatch.log")
        if os.path.exists(path):
            os.remove(path)
        return path

    def windows_path(self, path):
        """The path the launcher's build takes for the host file |path| under drive C:."""
        if not self.windows:
            return path
        return "C:\\" + os.path.relpath(path, self.drive_c).replace("/", "\\")

    def settle(self, env):
        """Windows: waits until Wine has ended every program and closed its files."""
        if self.windows:
            subprocess.run(["wineserver", "-w"], env=env)

    def install_library(self, fixture):
        """Puts a version fixture into the installation directory as TarifLib.dll."""
        os.makedirs(self.install_dir, exist_ok=True)
        shutil.copy(os.path.join(self.args.fixtures, fixture),
                    os.path.join(self.install_dir, "TarifLib.dll"))

    def install_on_drive_d(self):
        """Moves the product to D:\\App (under Wine, drive D: is made a folder of the prefix)."""
        if self.windows:
            drive = os.path.join(self.prefix, "drive_d")
            link = os.path.join(self.prefix, "dosdevices", "d:")
            if os.path.realpath(link) != os.path.realpath(drive):
                if os.path.lexists(link):
                    os.remove(link)
                os.symlink(drive, link)
        else:
            drive = os.path.join(self.root, "drive_d")
        self.install_dir = os.path.join(drive, "App")

    def install_stub(self, name=INSTALLER, where=None):
        shutil.copy(self.args.stub, os.path.join(where or self.launcher_dir, name))

    def use_launcher(self, path):
        """Puts the launcher built at |path| in place of the one under test."""
        shutil.copy(path, os.path.join(self.launcher_dir, self.launcher))

    def move_launcher(self, folder):
        """Moves the launcher into |folder|, a path below drive C: written as Windows writes it."""
        target = os.path.join(self.drive_c, *folder.split("\\"))
        os.makedirs(target)
        shutil.move(os.path.join(self.launcher_dir, self.launcher), target)
        self.launcher_folder, self.launcher_dir = folder, target

    def temp_dir(self):
        """The system's Temp folder, where the installer's clean rooms are made."""
        return os.path.join(self.drive_c, "windows", "temp" if self.windows else "Temp")

    def rooms_dir(self):
        """The folder of the installer's clean rooms, in the system's Temp folder."""
        return os.path.join(self.temp_dir(), "OrvaPatch")

    def clean_rooms(self, kept=False):
        """The clean rooms in their folder and, where that could not be used, those in Temp itself
        that hold anything (with |kept|, those emptied and kept too)."""
        return sorted(n for folder in (self.rooms_dir(), self.temp_dir()) if os.path.isdir(folder)
                      for n in os.listdir(folder) if n.startswith("OrvaPatch-") and (
                          kept or folder == self.rooms_dir() or
                          os.listdir(os.path.join(folder, n))))

    def room_path(self, room):
        """Where the clean room |room| is."""
        inside = os.path.join(self.rooms_dir(), room)
        return inside if os.path.isdir(inside) else os.path.join(self.temp_dir(), room)

    def record_path(self):
        return os.path.join(self.drive_c, "launcher", "record.txt")

    def event_lines(self):
        """POSIX: the lines of the machine's event log."""
        path = os.path.join(self.root, "eventlog.txt")
        return self.read(path).splitlines() if os.path.exists(path) else []

    def event(self):
        """The one event of the last run, as (type, id, [six strings])."""
        assert len(self.events) == 1, "events: %r" % self.events
        assert len(self.events[0][2]) == 6, self.events[0]
        return self.events[0]

    def command(self, stub_exit=0, sleep_ms=0, extra_path=None, extra_env=None):
        """The launcher's command line and environment: the stub's settings, and |extra_env|."""
        env = dict(os.environ)
        env.pop("LANG", None)
        env.pop("LC_MESSAGES", None)
        env["LC_ALL"] = "C"  # locale 0x0409 on both builds
        env["STUB_EXIT"] = str(stub_exit)
        env["STUB_SLEEP_MS"] = str(sleep_ms)
        env["STUB_RECORD"] = "C:\\launcher\\record.txt" if self.windows else self.record_path()
        env.update(extra_env or {})
        if extra_path:
            env["PATH"] = extra_path + os.pathsep + env["PATH"]
        if self.windows:
            if not self.launcher_folder.isascii():
                env["LC_ALL"] = "C.UTF-8"  # Wine reads its command line in the locale's charset
            env["ORVA_WINEDEBUG"] = WINE_EVENT_DEBUG
            return [self.args.wine_run, "C:\\%s\\%s" % (self.launcher_folder, self.launcher)], env
        env["ORVAPATCH_ROOT"] = self.root
        return [os.path.join(self.launcher_dir, self.launcher)], env

    def run(self, stub_exit=0, sleep_ms=0, cwd=None, extra_path=None, box=None, extra_env=None,
            caller_file=None, during=None, service=False):
        """Runs the launcher. |box|: the caption of the message box the run must show; the box is
        answered with OK, and self.boxes tells how many were shown. |caller_file|: a file under
        drive C: that the launcher gets open from its caller, as one it may pass on (under Wine
        its standard output redirected by cmd, inheritable; on POSIX a descriptor left open
        across exec). |during|: called once the installer has recorded its start, while it
        runs. |service|: the run starts where a deployment agent would start it, on a window
        station nobody sees (under Wine, with a display, where a box would wait for ever).
        self.events: the run's events."""
        command, env = self.command(stub_exit, sleep_ms, extra_path, extra_env)
        passed = ()
        if caller_file and self.windows:
            command = command[:1] + ["cmd", "/c", "%s > %s" % (command[1], self.windows_path(caller_file))]
        elif caller_file:
            passed = (os.open(caller_file, os.O_WRONLY | os.O_CREAT),)
        watcher = None
        env.pop("DISPLAY", None)  # an unexpected box fails at once instead of waiting
        if service and self.windows:
            command.insert(1, self.args.station)
        elif service:
            env["ORVAPATCH_SESSION"] = "service"
        events_before = [] if self.windows else self.event_lines()
        if (box or service) and self.windows:
            # Wine's desktop keeps the display of the wineserver's first program: start afresh.
            subprocess.run(["wineserver", "-k"], env=env)
            subprocess.run(["wineserver", "-w"], env=env)
            env["DISPLAY"] = self.args.display.name
            # Bring the desktop up first: on a loaded machine, a program's first window can
            # otherwise time out waiting for it.
            subprocess.run([self.args.wine_run, "cmd", "/c", "exit"], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if box:
                watcher = message_box.BoxWatcher(self.args.display, box, self.args.screenshot)
                watcher.start()
        started = time.monotonic()
        try:
            process = subprocess.Popen(command, env=env, cwd=cwd or self.launcher_dir + "/..",
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       pass_fds=passed)
            try:
                if during:
                    while "argc=" not in (self.record() or "") and process.poll() is None:
                        time.sleep(0.05)
                    during()
                stdout, stderr = process.communicate(timeout=30 if service else 120)
            except BaseException:
                process.kill()
                process.wait()
                raise
            result = subprocess.CompletedProcess(command, process.returncode, stdout, stderr)
        except subprocess.TimeoutExpired:
            raise AssertionError("the run still waited after %.0f s" % (time.monotonic() - started))
        finally:
            for fd in passed:
                os.close(fd)
            if watcher:
                watcher.stop()
            if self.windows:
                subprocess.run(["wineserver", "-k" if box or service else "-w"], env=env)
                subprocess.run(["wineserver", "-w"], env=env)
        if self.windows:
            self.boxes = watcher.boxes if watcher else 0
            self.events = wine_events(result.stderr)
        else:
            self.events = posix_events(self.event_lines()[len(events_before):])
            # The POSIX message box: "caption: text" on standard error, answered at once.
            self.boxes = result.stderr.decode("utf-8").count(": " + REFUSAL)
            if box:
                assert result.stderr.decode("utf-8") == "%s: %s\n" % (box, REFUSAL), result.stderr
        return result, time.monotonic() - started

    def log(self):
        with open(self.log_path(), "rb") as f:
            return mask(f.read())

    def record(self):
        if not os.path.exists(self.record_path()):
            return None
        with open(self.record_path(), "rb") as f:
            # The stub writes ANSI text on Windows, the host's UTF-8 on POSIX.
            return f.read().decode("cp1252" if self.windows else "utf-8")

    def dispose(self):
        self.clean()
        if not self.windows:
            shutil.rmtree(self.root, ignore_errors=True)


@contextlib.contextmanager
def on_first_open(path, action):
    """Runs |action| the moment a program first opens the host file |path| (inotify's IN_OPEN),
    before that program's next step: a stand-in for an opportunistic lock's break."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(os.O_CLOEXEC)
    assert fd >= 0 and libc.inotify_add_watch(fd, path.encode(), 0x20) >= 0, "no inotify"
    fired = []

    def watch():
        if select.select([fd], [], [], 60)[0]:
            action()
            fired.append(True)

    thread = threading.Thread(target=watch)
    thread.start()
    try:
        yield fired
    finally:
        thread.join()
        os.close(fd)


def registry_fixture(*keys):
    """REGEDIT4 text from (key, [value lines]) pairs."""
    return "REGEDIT4\r\n" + "".join(
        "\r\n[%s]\r\n" % key + "".join(line + "\r\n" for line in lines) for key, lines in keys)


def expect_registry(m, fixture, *created):
    """The registry holds the fixture's keys, unchanged, and the |created| empty keys, nothing else."""
    expected = family_keys(parse_reg(fixture))
    for key in created:
        expected[key] = {}
    actual = m.registry()
    assert actual == expected, "registry:\n%r\nexpected:\n%r" % (actual, expected)


# Which edition a run finds, and the family root it leaves. Each run is refused, its box bearing
# the edition's caption; the fixture's keys stay as they were, and only a missing family root is
# created, empty.
EDITION_CASES = [
    # (the registry's keys, the box's caption, the family root created, the log when checked)
    ((("HKEY_CURRENT_USER\\Software\\ORVANE S.A.",
       ['"Soft name"="belnor 2000"', '"Note"="d\u00e9j\u00e0"']),
      ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="MORVIK 2000"'])),
     "BELNOR 2000", "HKEY_CURRENT_USER\\Software\\Belnor", START + NOTHING_FOUND + END),
    ((("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="MORVIK 2000"']),),
     "ZERLIN", "HKEY_CURRENT_USER\\Software\\ZERLIN", START + NOTHING_FOUND + END),
    # The user's vendor key without the name hides the machine's edition.
    ((("HKEY_CURRENT_USER\\Software\\ORVANE S.A.", ['"Other"="BELNOR 2000"']),
      ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="BELNOR 2000"'])),
     "Orvane XP", "HKEY_CURRENT_USER\\Software\\ORVANE XP", START + NOTHING_FOUND + END),
    # An existing family root is left as it is, whatever it holds.
    ((("HKEY_CURRENT_USER\\Software\\ORVANE S.A.", ['"Soft name"="ORVANE II"']),
      ("HKEY_CURRENT_USER\\Software\\ORVANE", [
          '"ThreadLocal"="40c"', '"SoftVersion"="2013.9"', '"Flags"=dword:0000002a',
          '"Blob"=hex:00,ff,80', '"List"=hex(7):61,00,62,00,00,00', '@="d\u00e9faut"']),
      ("HKEY_CURRENT_USER\\Software\\ORVANE\\Sub", [])),
     "ORVANE", None, None),
    # An empty registry: the default edition.
    ((), "Orvane XP", "HKEY_CURRENT_USER\\Software\\ORVANE XP", START + NOTHING_FOUND + END),
]


def scenario_registry_edition_and_family_root(m):
    for keys, caption, created, log in EDITION_CASES:
        m.clean()
        m.__init__(m.args)
        fixture = registry_fixture(*keys)
        if keys:  # an empty registry is a machine with no registry file yet
            m.set_registry(fixture)
        result, _ = m.run(box=caption)
        assert result.returncode == 0 and m.boxes == 1, (caption, result)
        expect_registry(m, fixture, *[key for key in (created,) if key])
        assert log is None or m.log() == log, (caption, m.log())


ACCEPTED = registry_fixture(("HKEY_CURRENT_USER\\Software\\ORVANE",
                             ['"SoftVersion"="2014.4"', '"OrvaAppPath"="C:\\\\WORVA32"']))


# The opening of each event's sentence, by the run's road.
INSTALLED = "Correctif Orvane 2014.4.2 install\u00e9 : "
TO_CHECK = "Correctif Orvane 2014.4.2 \u00e0 v\u00e9rifier : "
NOT_INSTALLED = "Correctif Orvane 2014.4.2 non install\u00e9 : "
NO_CONFIGURATION = "configuration absente, copie non trait\u00e9e, "


def scenario_installer_run_and_waited_for(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    result, elapsed = m.run(stub_exit=3, sleep_ms=1500)
    assert result.returncode == 0, result
    record = m.record()
    assert record is not None and record.endswith("argc=1\ndone\n"), record
    if m.windows:
        assert 'cmdline=["%s" ]\n' % INSTALLER in record, record
        assert "show=1\n" in record, record
    assert elapsed >= 1.5, elapsed
    assert m.log() == START + ACCEPTED_LINE + END, m.log()
    assert m.event() == ("warning", 1001, [
        TO_CHECK + NO_CONFIGURATION + "programme d'installation termin\u00e9 avec le code 3.",
        "Orvane XP", "2014.4", "missing", "not reached", "3"]), m.event()


def made_by_another_user(m, path):
    """Whether a standard user (nobody) can make a folder at |path|, the machine's folders down to
    its Temp folder open to every user, as on Windows; None where this test cannot act as another
    user (Wine has one account; on POSIX only root can act as another)."""
    if m.windows or os.geteuid() != 0:
        return None
    for folder in (m.root, m.drive_c, os.path.dirname(m.temp_dir())):
        os.chmod(folder, 0o755)
    return subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           "mkdir", path], capture_output=True).returncode == 0


def scenario_installer_runs_from_a_clean_room_and_inherits_only_the_log(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    caller = os.path.join(m.drive_c, "caller.txt")
    if not m.windows:
        os.chmod(m.temp_dir(), 0o1777)  # every user may make folders there, as in /tmp
    try:
        result, _ = m.run(caller_file=caller)
    finally:
        os.remove(caller)
    assert result.returncode == 0, result
    record = m.record()
    # Started from C:\ (the launcher's caller's folder), the installer runs from its copy in a
    # new folder of the rooms' folder of the system's Temp folder; of the launcher's open files,
    # it holds the log only.
    temp = "C:\\windows\\Temp\\OrvaPatch\\" if m.windows else m.rooms_dir() + "/"
    log = "C:\\windows\\orvapatch.log" if m.windows else m.log_path()
    match = re.search(r"exe=\[(.*)\]\ncwd=\[(.*)\]\ninherited=\[(.*)\]\nargc=1\n", record or "")
    assert match, record
    room = match.group(2)
    assert re.fullmatch(re.escape(temp) + "OrvaPatch-[0-9a-f]{16}", room, re.I), record
    sep = "\\" if m.windows else "/"
    assert match.group(1).lower() == (room + sep + INSTALLER).lower(), record
    assert match.group(3) == log, record
    assert m.clean_rooms() == [], m.clean_rooms()
    assert m.log() == START + ACCEPTED_LINE + END, m.log()
    # The room's path, which an installer may record, can never be made again by another user.
    assert made_by_another_user(m, room) in (False, None), room


def scenario_installer_runs_from_a_kept_room_when_a_user_took_the_rooms_folder(m):
    # A rooms' folder that a standard user made, or may write, is never used, and never stops the
    # patch: the room is made in Temp itself and kept there, emptied, so that its name stays taken.
    # A named pipe in its place stands for one held by a lock never released (POSIX).
    m.set_registry(ACCEPTED)
    m.install_stub()
    for plant in ("writable", "pipe") if not m.windows else ("writable",):
        for room in m.clean_rooms(kept=True):  # the last plant's
            shutil.rmtree(m.room_path(room))
        planted = os.path.join(m.rooms_dir(), "planted.txt")
        if plant == "pipe":
            shutil.rmtree(m.rooms_dir())
            os.mkfifo(m.rooms_dir())
        else:
            os.makedirs(m.rooms_dir())
            with open(planted, "wb") as f:
                f.write(b"planted")
            os.chmod(m.rooms_dir(), 0o777)
        if not m.windows:
            os.chmod(m.temp_dir(), 0o1777)
        result, _ = m.run()
        assert result.returncode == 0, (plant, result)
        assert m.event()[:2] == ("information", 1000), (plant, m.event())
        cwd = re.search(r"cwd=\[(.*)\]", m.record() or "")
        assert cwd, (plant, m.record())
        name = re.split(r"[\\/]", cwd.group(1))[-1]
        assert m.clean_rooms(kept=True) == [name], (plant, m.clean_rooms(kept=True))
        assert os.path.dirname(m.room_path(name)) == m.temp_dir(), (plant, m.room_path(name))
        assert plant == "pipe" or m.read(planted) == b"planted", "a user's rooms' folder was used"
    if not m.windows:
        assert made_by_another_user(m, os.path.join(m.room_path(name), "x")) in (False, None)
        # The next run empties the rooms of earlier runs in Temp, and keeps them.
        result, _ = m.run()
        assert len(m.clean_rooms(kept=True)) == 2 and m.clean_rooms() == [], m.clean_rooms(True)


def scenario_installer_room_kept_while_a_program_it_started_runs(m):
    # The installer ends at once, leaving a program of its own running from its room: the launcher
    # returns, and the room stays until that program has ended, then the next run removes it.
    m.set_registry(ACCEPTED)
    m.install_stub()
    result, _ = m.run(extra_env={"STUB_CHILD_MS": "4000"})
    assert result.returncode == 0 and m.event()[:2] == ("information", 1000), m.event()
    rooms = m.clean_rooms()
    assert len(rooms) == 1 and os.listdir(m.room_path(rooms[0])) == [INSTALLER], rooms
    time.sleep(6)
    result, _ = m.run()
    assert result.returncode == 0 and m.clean_rooms() == [], m.clean_rooms()


def scenario_installer_script_runs_from_its_room(m):
    if m.windows:
        return  # a script with "#!" is a program on POSIX only
    m.set_registry(ACCEPTED)
    script = os.path.join(m.launcher_dir, INSTALLER)
    with open(script, "w") as f:
        f.write('#!/bin/sh\nprintf "script=[%s]\\ncwd=[%s]\\n" "$0" "$(pwd)" > "$STUB_RECORD"\n'
                "exit 7\n")
    os.chmod(script, 0o755)
    result, _ = m.run()
    assert result.returncode == 0, result
    record = m.record()
    assert re.fullmatch(r"script=\[\./%s\]\ncwd=\[%s/OrvaPatch-[0-9a-f]{16}\]\n" % (
        re.escape(INSTALLER), re.escape(m.rooms_dir())), record or ""), record
    assert m.event()[2][5] == "7", m.event()
    assert m.clean_rooms() == [], m.clean_rooms()


def scenario_installer_clean_rooms_of_killed_runs_removed_and_no_other(m):
    m.set_registry(ACCEPTED)
    m.install_stub()

    def kill():
        # The launcher and its installer killed while the installer runs.
        if m.windows:
            subprocess.run(["wineserver", "-k"])
        else:
            launcher = subprocess.run(["pgrep", "-f", "^%s" % re.escape(os.path.join(
                m.launcher_dir, m.launcher))], capture_output=True, text=True).stdout.split()
            installer = subprocess.run(["pgrep", "-P", ",".join(launcher)], capture_output=True,
                                       text=True).stdout.split()
            subprocess.run(["kill", "-KILL"] + launcher + installer)

    m.run(sleep_ms=60000, during=kill)
    assert len(m.clean_rooms()) == 1, m.clean_rooms()
    # Not ours to remove: a room holding a link, and a folder of another name.
    linked = os.path.join(m.rooms_dir(), "OrvaPatch-00000000000000bb")
    other = os.path.join(m.temp_dir(), "Other-orvapatch")
    outside = os.path.join(m.drive_c, "outside.txt")
    for folder in (linked, other):
        os.makedirs(folder)
        with open(os.path.join(folder, INSTALLER), "wb") as f:
            f.write(b"x")
    with open(outside, "wb") as f:
        f.write(b"kept")
    os.symlink(outside, os.path.join(linked, "link.txt"))
    try:
        result, _ = m.run()
        assert result.returncode == 0, result
        assert m.record() is not None and m.record().endswith("done\n"), m.record()
        assert m.clean_rooms() == ["OrvaPatch-00000000000000bb"], m.clean_rooms()
        assert os.path.exists(os.path.join(other, INSTALLER)), "another folder was removed"
        assert m.read(outside) == b"kept", "a file outside was changed"
    finally:
        for folder in (linked, other):
            shutil.rmtree(folder, ignore_errors=True)
        os.remove(outside)


def scenario_installer_not_started_when_its_clean_room_cannot_be_made(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    temp = m.temp_dir()
    os.rename(temp, temp + ".away")
    try:
        result, _ = m.run()
    finally:
        os.rename(temp + ".away", temp)
    assert result.returncode == 0, result
    assert m.record() is None, m.record()
    assert m.clean_rooms() == [], m.clean_rooms()
    assert m.log() == START + ACCEPTED_LINE + END, m.log()
    kind, number, strings = m.event()
    assert (kind, number, strings[1:]) == ("error", 1002, [
        "Orvane XP", "2014.4", "missing", "not reached", ""]), m.event()
    assert re.fullmatch(re.escape(NOT_INSTALLED + NO_CONFIGURATION) + "dossier prot\u00e9g\u00e9 "
                        "impossible \u00e0 pr\u00e9parer dans le dossier Temp de Windows \\(erreur "
                        "[1-9][0-9]*\\)\\.", strings[0]), strings[0]


def scenario_installer_pinned_only_its_own_file_started_and_held(m):
    assert m.args.pinned, "--pinned names the launcher pinned to the stub's SHA-256"
    m.set_registry(ACCEPTED)
    m.use_launcher(m.args.pinned)
    m.install_stub()
    installer = os.path.join(m.launcher_dir, INSTALLER)
    released = m.read(installer)
    go_on = os.path.join(m.launcher_dir, "go-on")
    refused = []

    def try_to_change():
        # While the installer runs, another program may neither write the file it runs from
        # nor give its name to another file.
        rooms = m.clean_rooms()
        assert len(rooms) == 1, rooms
        running = os.path.join(m.room_path(rooms[0]), INSTALLER)
        if m.windows:
            name = "C:\\windows\\temp\\OrvaPatch\\%s\\%s" % (rooms[0], INSTALLER)
            m.wine("cmd", "/c", "echo x>>%s & ren %s moved.exe & del %s" % (name, name, name))
            refused.append(os.path.exists(running) and m.read(running) == released)
        else:
            fd = os.open(running, os.O_RDONLY)
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                refused.append(True)
            finally:
                os.close(fd)
        with open(go_on, "wb"):
            pass

    result, _ = m.run(during=try_to_change, extra_env={"STUB_WAIT_FOR": m.windows_path(go_on)})
    assert result.returncode == 0, result
    assert m.record() is not None and m.record().endswith("argc=1\ndone\n"), m.record()
    assert refused == [True], "the installer could be changed while it ran"
    assert m.read(installer) == released, "the installer was changed while it ran"
    # Another file under the installer's name, one byte longer, is not started.
    os.remove(m.record_path())
    with open(installer, "ab") as f:
        f.write(b"\0")
    result, _ = m.run()
    assert result.returncode == 0, result
    assert m.record() is None, m.record()
    assert m.log() == (START + ACCEPTED_LINE + END) * 2, m.log()


def scenario_installer_started_is_the_file_checked_when_its_path_is_repointed(m):
    # The launcher's folder is reached through a link; at the moment the launcher first opens
    # the installer, the link is repointed to a folder whose installer is another program. What
    # starts is always the file whose digest was checked, from its clean room.
    m.set_registry(ACCEPTED)
    m.use_launcher(m.args.pinned)
    m.install_stub()
    planted = os.path.join(m.drive_c, "planted")
    os.makedirs(planted)
    shutil.copy(m.args.holder, os.path.join(planted, INSTALLER))
    via = os.path.join(m.drive_c, "via")
    launcher_dir = m.launcher_dir
    m.launcher_folder, m.launcher_dir = "via", via
    try:
        for attempt in range(3):
            if os.path.lexists(via):
                os.remove(via)
            os.symlink(launcher_dir, via)
            if os.path.exists(m.record_path()):
                os.remove(m.record_path())

            def repoint():
                os.remove(via)
                os.symlink(planted, via)

            with on_first_open(os.path.join(launcher_dir, INSTALLER), repoint) as fired:
                result, _ = m.run()
            assert result.returncode == 0 and fired, (attempt, result)
            record = m.record()
            assert record is not None and "OrvaPatch-" in record, (attempt, record)
            assert m.event()[:2] == ("information", 1000), m.event()
    finally:
        m.launcher_dir = launcher_dir
        if os.path.lexists(via):
            os.remove(via)
        shutil.rmtree(planted, ignore_errors=True)


def scenario_installer_missing(m):
    m.set_registry(ACCEPTED)
    result, _ = m.run()
    assert result.returncode == 0, result
    assert m.log() == START + ACCEPTED_LINE + END, m.log()
    assert m.event() == ("error", 1002, [
        NOT_INSTALLED + NO_CONFIGURATION +
        "programme d'installation introuvable ou impossible \u00e0 d\u00e9marrer.",
        "Orvane XP", "2014.4", "missing", "not reached", ""]), m.event()


def scenario_planted_installer_never_started(m):
    planted = os.path.join(m.drive_c, "planted")
    shutil.rmtree(planted, ignore_errors=True)
    os.makedirs(planted)
    m.install_stub(where=planted)
    m.set_registry(ACCEPTED)
    try:
        result, _ = m.run(cwd=planted, extra_path=planted)
    finally:
        shutil.rmtree(planted, ignore_errors=True)
    assert result.returncode == 0, result
    assert m.record() is None, m.record()
    assert m.log() == START + ACCEPTED_LINE + END, m.log()


def scenario_two_runs_two_sections(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    m.run()
    m.run(stub_exit=1)
    section = START + ACCEPTED_LINE + END
    assert m.log() == section + section, m.log()


# The log's file, and what may be found where it is: another program viewing it or holding it for
# 0.4 s, or a link or a second name that a user of the workstation planted there, leading to
# another program's file, or a named pipe, a log held for ever (see config_scenarios.PLANTS).
# A brief holder is waited for as a configuration's is; where the Windows directory's log cannot
# be opened, the section goes to the Documents one; a link or a second name is never written
# through, and a viewer that lets others write keeps nothing from the log. The run goes on,
# whatever became of its log.
LOG_CASES = [
    # (what is in the Windows directory, what is in Documents, where the section goes)
    ("viewer", None, "windows"),
    ("holder", None, "windows"),
    ("symlink", None, "documents"),
    ("folder", "symlink", None),
    ("folder", "hard link", None),
    ("fifo", None, "documents"),
    ("folder", "fifo", None),
]


def scenario_log_viewed_or_planted(m):
    import config_scenarios
    outside = os.path.join(m.drive_c, "outside.txt")
    try:
        for in_windows, in_documents, section in LOG_CASES:
            m.clean()
            m.__init__(m.args)
            documents = m.documents_log_path()
            with open(outside, "wb") as f:
                f.write(b"another program's file\r\n")
            viewer = None
            for path, plant in ((m.log_path(), in_windows), (documents, in_documents)):
                if plant in ("viewer", "holder"):
                    with open(path, "wb"):
                        pass
                    viewer = config_scenarios.hold(m, path, 60000 if plant == "viewer" else 400,
                                                   shared=plant == "viewer")
                elif plant == "folder":
                    os.makedirs(path)
                elif plant == "fifo":
                    os.mkfifo(path)
                elif plant:
                    (os.link if plant == "hard link" else os.symlink)(outside, path)
            m.set_registry(ACCEPTED)
            m.install_stub()
            try:
                result, _ = m.run()
            finally:
                if viewer:
                    viewer.kill()
                    viewer.wait()
            what = (in_windows, in_documents)
            assert result.returncode == 0, (what, result)
            assert (m.record() or "").endswith("done\n") and m.event(), what
            assert m.read(outside) == b"another program's file\r\n", what
            written = {"windows": m.log_path(), "documents": documents}
            for where, path in written.items():
                expected = mask(START + ACCEPTED_LINE + END) if where == section else None
                found = mask(m.read(path)) if os.path.isfile(path) and not os.path.islink(
                    path) and os.stat(path).st_nlink == 1 else None
                assert found == expected, (what, where, found)
    finally:
        m.clean()  # the Windows directory's plant
        m.documents_log_path()  # and the Documents one, which Wine's prefix keeps for later tests
        if os.path.exists(outside):
            os.remove(outside)


def collect():
    import check_scenarios
    import config_scenarios
    found = dict(globals())
    found.update(vars(check_scenarios))
    found.update(vars(config_scenarios))
    return [v for k, v in sorted(found.items()) if k.startswith("scenario_")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", choices=["posix", "windows"], required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--holder", help="a program that keeps a file open with no sharing")
    parser.add_argument("--pinned", help="the launcher pinned to the stub's SHA-256")
    parser.add_argument("--wine-run")
    parser.add_argument("--fixtures", required=True, help="directory of the version fixtures")
    parser.add_argument("--screenshot", help="where to keep a picture of the refusal box")
    parser.add_argument("--station", help="Windows: the program that starts another one on a "
                        "window station nobody sees")
    parser.add_argument("--short-name", help="Windows: the program that prints the system's "
                        "8.3 short name of a path")
    parser.add_argument("--only")
    args = parser.parse_args()
    args.display = None
    if args.build == "windows":
        if not message_box.available():
            print("Xvfb and xdotool are needed for the Windows scenarios")
            return 1
        args.display = message_box.Display()
    passed = failed = 0
    try:
        for scenario in collect():
            name = scenario.__name__[len("scenario_"):]
            if args.only and args.only not in name:
                continue
            machine = Machine(args)
            try:
                scenario(machine)
                passed += 1
                print("ok    %s" % name, flush=True)
            except AssertionError as error:
                failed += 1
                print("FAIL  %s: %s" % (name, str(error)[:2000]), flush=True)
            finally:
                machine.dispose()
    finally:
        if args.display:
            args.display.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
