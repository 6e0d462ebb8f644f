"""The scratch machine of the end-to-end runs, on the POSIX build or under Wine, with the texts its
runs leave and the readers of its registry and event log."""
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import time

import message_box

INSTALLER = "K220_V2014_V2014.4.2.exe"
REFUSAL = (
    "Vous devez avoir pr\u00e9alablement install\u00e9 K220 V2014, V2014.1, V2014.2, V2014.3 et "
    "V2014.4 pour installer ce patch!\n\nVeuillez v\u00e9rifier votre installation ORVANE!"
)
SEP = b"-" * 86 + b"\r\n"
START = SEP + "Démarrage de l'installation de Orvane 2014.4.2 le : DATE\r\n".encode("cp1252") + SEP
ACCEPTED_LINE = b"TIME - SoftVersion dans la base de regsitre - 2014.4\r\n"
END = b"TIME - Fermeture du programme d'installation de Orvane.\r\n" + SEP + b"\r\n\r\n"

# The account of a run that no fleet tool started: under Wine its one user, and the POSIX
# machine's, which takes that user's SID.
OWN_ACCOUNT = "S-1-5-21-0-0-0-1000"
# Every event's ninth string.
PATCH = "2014.4.2"

# The machine record of the patch (the 32-bit view: under Wow6432Node on 64-bit Windows), the
# event source's registration, and the message file that the launcher registers where it exists.
RECORD_KEY = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OrvaPatch\\2014.4.2"
RECORD_KEY_64 = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\OrvaPatch\\2014.4.2"
SOURCE_KEY = (
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OrvaPatch"
)
MESSAGE_FILE = "%SystemRoot%\\Microsoft.NET\\Framework\\v4.0.30319\\EventLogMessages.dll"
# The message file's bytes as the scenarios put it there, so that they remove only their own.
MESSAGE_FILE_BYTES = b"MZ stand-in for EventLogMessages.dll"
# The record's times: when the run ended, in UTC.
RECORD_TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")
REG_TYPES = {1: "REG_SZ", 2: "REG_EXPAND_SZ", 4: "REG_DWORD"}

# The opening of each event's sentence, by the run's road.
INSTALLED = "Correctif Orvane 2014.4.2 install\u00e9 : "
TO_CHECK = "Correctif Orvane 2014.4.2 \u00e0 v\u00e9rifier : "
NOT_INSTALLED = "Correctif Orvane 2014.4.2 non install\u00e9 : "
# The summary of a run that updated the configuration and its copy, whose installer returned 0.
INSTALLED_UPDATED = (
    INSTALLED + "configuration mise \u00e0 jour, copie mise \u00e0 jour, programme d'installation "
    "termin\u00e9 avec le code 0."
)
NO_CONFIGURATION = "configuration absente, copie non trait\u00e9e, "

# Top-level keys of either hive's software branch that the product family and the launcher use;
# everything else in the registry is left out of a machine's registry read back.
FAMILY_KEY = re.compile(r"(?i)^(ORVANE|KELMARIS|BELNOR|ZERLIN)")
# The software branches: of either hive, and of each user's hive among the users' hives.
SOFTWARE_BRANCH = re.compile(
    r"(?i)^(HKEY_CURRENT_USER\\Software|HKEY_LOCAL_MACHINE\\SOFTWARE"
    r"|HKEY_USERS\\[^\\]+\\Software)\\"
)


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
            branch = SOFTWARE_BRANCH.match(path)
            if branch:
                for n in range(len(branch.group(1).split("\\")) + 1, len(parts)):
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


def reg_query_values(output):
    """The values that reg query printed for one key, as {name: (type name, value)}; None when it
    printed no key."""
    if "HKEY_" not in output:
        return None
    values = {}
    for line in output.splitlines():
        match = re.match(r"^    (.*?)    (REG_[A-Z_]+)    ?(.*)$", line)
        if match:
            name, kind, data = match.groups()
            values["" if name == "(Default)" else name] = (
                kind,
                int(data, 16) if kind == "REG_DWORD" else data,
            )
    return values


def family_keys(keys):
    """The keys below the software branches whose top-level name belongs to the family."""
    result = {}
    for path, values in keys.items():
        branch = SOFTWARE_BRANCH.match(path)
        if branch and FAMILY_KEY.match(path[branch.end() :]):
            result[path] = values
    return result


def registry_fixture(*keys):
    """REGEDIT4 text from (key, [value lines]) pairs."""
    return "REGEDIT4\r\n" + "".join(
        "\r\n[%s]\r\n" % key + "".join(line + "\r\n" for line in lines) for key, lines in keys
    )


# The product's key; the family root that a registry naming no edition gains, and that edition's
# settings key; the installation path that the fixtures give the product.
PRODUCT = "HKEY_CURRENT_USER\\Software\\ORVANE"
DEFAULT_ROOT = "HKEY_CURRENT_USER\\Software\\ORVANE XP"
SETTINGS = "HKEY_CURRENT_USER\\Software\\ORVANE-409\\Orvane XP\\SSV140"
APP_PATH = '"OrvaAppPath"="C:\\\\WORVA32"'
# An installation accepted by its recorded version.
ACCEPTED = registry_fixture((PRODUCT, ['"SoftVersion"="2014.4"', APP_PATH]))
# An installation accepted by its library's version (tariflib.dll, 2014.2), before and after the
# launcher records that version.
LIBRARY_ACCEPTED = registry_fixture(
    (PRODUCT, ['"SoftVersion"="2013.9"', APP_PATH, '"KivAppPath"="C:\\\\KIV"']),
    (
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE",
        ['"KivAppPath"="C:\\\\KIV"', '"Other"=dword:00000001'],
    ),
)
LIBRARY_STAMPED = registry_fixture(
    (PRODUCT, ['"SoftVersion"="2014.2"', APP_PATH, '"Version140"="1"']),
    ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE", ['"Other"=dword:00000001']),
    (DEFAULT_ROOT, []),
    (SETTINGS, ['"Version140"=dword:00000001']),
)


# Under Wine the event log keeps nothing: a run's events are read from Wine's debug channels, each
# call's type and id on advapi's line, then its strings on the eventlog channel, in the class of
# the type. On POSIX they are the lines the run adds to eventlog.txt at the machine root.
WINE_EVENT_DEBUG = "-all,fixme+advapi,+eventlog"
WINE_EVENT = re.compile(
    r"^[0-9a-f]+:fixme:advapi:ReportEventW \(\w+,0x([0-9a-f]{4}),0x[0-9a-f]{4},"
    r"0x([0-9a-f]{8}),(\w+),"
)
WINE_EVENT_STRING = re.compile(r"^[0-9a-f]+:(trace|warn|err):eventlog:ReportEventW (.*)$")
EVENT_TYPES = {4: ("information", "trace"), 2: ("warning", "warn"), 1: ("error", "err")}
ESCAPES = {"n": "\n", "r": "\r", "t": "\t"}


def wine_events(stderr, users=None):
    """The events of a run under Wine, as (type, id, [strings]); |users|, when given, receives
    whether each was given a user SID (Wine prints only where the SID lies)."""
    events, channel = [], None
    for line in stderr.decode("utf-8", "replace").splitlines():
        call = WINE_EVENT.match(line)
        string = WINE_EVENT_STRING.match(line)
        if call:
            kind, channel = EVENT_TYPES[int(call.group(1), 16)]
            events.append((kind, int(call.group(2), 16), []))
            if users is not None:
                users.append(int(call.group(3), 16) != 0)
        elif string:
            assert events and string.group(1) == channel, line
            quoted = string.group(2)  # L"...", with \\, \", \n, \r, \t and \XXXX escapes
            assert quoted.startswith('L"') and quoted.endswith('"'), "cut short by Wine: " + line
            events[-1][2].append(
                re.sub(
                    r"\\([0-9a-f]{4}|.)",
                    lambda m: chr(int(m.group(1), 16))
                    if len(m.group(1)) == 4
                    else ESCAPES.get(m.group(1), m.group(1)),
                    quoted[2:-1],
                )
            )
    return events


def posix_events(lines):
    """The events of eventlog.txt's lines, as (type, id, [strings])."""
    events = []
    for line in lines:
        fields = [
            re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), field)
            for field in line.decode("utf-8").split("\t")
        ]
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
        if not self.windows:
            self.root = tempfile.mkdtemp(prefix="orva-e2e-")
        self.reset()

    def reset(self):
        """Starts the machine afresh: the launcher alone in C:\\launcher, no product, no registry,
        no log, no clean room; a POSIX machine keeps its root. What a scenario put elsewhere (a
        moved launcher, a product on drive D:) it removes with clean() first, while the machine
        still knows where."""
        if self.windows:
            self.prefix = os.environ.setdefault(
                "WINEPREFIX", os.path.expanduser("~/.cache/orvapatch/wineprefix")
            )
            subprocess.run(
                [self.args.wine_run, "cmd", "/c", "exit"],
                check=True,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
            self.drive_c = os.path.join(self.prefix, "drive_c")
        else:
            self.drive_c = os.path.join(self.root, "drive_c")
            os.makedirs(os.path.join(self.drive_c, "windows", "Temp"), exist_ok=True)
        # The SID whose installation the runs read, which each event names (a scenario whose run
        # acts for another account says so).
        self.account = OWN_ACCOUNT
        self.launcher_folder = "launcher"  # on drive C:
        self.launcher_dir = os.path.join(self.drive_c, "launcher")
        self.install_dir = os.path.join(self.drive_c, "WORVA32")  # the default installation path
        self.clean()
        os.makedirs(self.launcher_dir)
        name = "orvapatch.exe" if self.windows else "orvapatch"
        shutil.copy(self.args.launcher, os.path.join(self.launcher_dir, name))
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
        message_file = self.message_file_path()
        if os.path.isfile(message_file) and self.read(message_file) == MESSAGE_FILE_BYTES:
            os.remove(message_file)
        self.clean_registry()

    def wine(self, *command):
        return subprocess.run(
            [self.args.wine_run] + list(command),
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            check=True,
        ).stdout

    def regedit(self, *arguments):
        # The 32-bit regedit sees the registry as the 32-bit launcher does: HKLM\SOFTWARE\X is
        # HKLM\SOFTWARE\Wow6432Node\X for both.
        self.wine("C:\\windows\\syswow64\\regedit.exe", *arguments)

    def family_key_names(self, launchers=None):
        """Windows: the family's top-level keys in both hives, as full key names; |launchers|, when
        given, receives the launcher's own keys that exist: its record's top key and its event
        source's."""
        listing = self.wine(
            "cmd",
            "/c",
            "C:\\windows\\syswow64\\reg.exe query HKCU\\Software & "
            "C:\\windows\\syswow64\\reg.exe query HKLM\\SOFTWARE & "
            "C:\\windows\\syswow64\\reg.exe query " + SOURCE_KEY.rsplit("\\", 1)[0],
        )
        lines = {line.strip() for line in listing.decode("cp1252").splitlines()}
        if launchers is not None:
            launchers += sorted(
                key
                for key in (RECORD_KEY.rsplit("\\", 1)[0], SOURCE_KEY)
                if key.lower() in {line.lower() for line in lines}
            )
        return sorted(family_keys({line: None for line in lines}))

    def clean_registry(self):
        """Removes what the launcher and the fixtures put in the registry."""
        if not self.windows:
            path = os.path.join(self.root, "registry.reg")
            if os.path.exists(path):
                os.remove(path)
            return
        launchers = []
        names = self.family_key_names(launchers) + launchers
        if names:
            self.import_registry("REGEDIT4\r\n" + "".join("\r\n[-%s]\r\n" % n for n in names))

    def message_file_path(self):
        """Where the launcher looks for the message file it registers the event source with."""
        return os.path.join(
            self.drive_c,
            "windows",
            "Microsoft.NET",
            "Framework",
            "v4.0.30319",
            "EventLogMessages.dll",
        )

    def put_message_file(self):
        os.makedirs(os.path.dirname(self.message_file_path()), exist_ok=True)
        with open(self.message_file_path(), "wb") as f:
            f.write(MESSAGE_FILE_BYTES)

    def launcher_keys(self):
        """The machine record and the event source's key, each as {value name: (type name,
        value)} (a REG_DWORD's a number, a text's a str), or None where the key does not exist.
        Under Wine they are read as an administrator reads them on 64-bit Windows: the record
        with reg query in the 32-bit view (/reg:32), and by its path under WOW6432Node, which
        must agree."""
        if not self.windows:
            path = os.path.join(self.root, "registry.reg")
            keys = parse_reg(self.read(path).decode("cp1252")) if os.path.exists(path) else {}
            found = []
            for name in (RECORD_KEY, SOURCE_KEY):
                values = keys.get(name)
                found.append(
                    None
                    if values is None
                    else {
                        value: (
                            REG_TYPES[kind],
                            int.from_bytes(data, "little")
                            if kind == 4
                            else data.rstrip(b"\0").decode("cp1252"),
                        )
                        for value, (kind, data) in values.items()
                    }
                )
            return tuple(found)
        # The 64-bit reg.exe, as an administrator's prompt starts it on 64-bit Windows.
        reg = "C:\\windows\\system32\\reg.exe query "
        # (No key name here holds a blank; quoted, Wine's cmd would pass the quotes on to reg.)
        output = self.wine(
            "cmd",
            "/c",
            " & echo ;; & ".join(
                (reg + RECORD_KEY + " /reg:32", reg + RECORD_KEY_64, reg + SOURCE_KEY, "exit 0")
            ),
        ).decode("cp1252")
        found = [reg_query_values(part) for part in output.split(";;")]
        assert found[0] == found[1], "the record's two paths differ: %r" % found[:2]
        return found[0], found[2]

    def patch_record(self):
        """The machine record, as launcher_keys gives it."""
        return self.launcher_keys()[0]

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
        """Gives the machine a registry fixture: REGEDIT4 text, lines ending in CR LF. The
        launcher's own keys (its record, its event source) stay, as Wine's import leaves them."""
        if self.windows:
            self.import_registry(text)
            return
        path = os.path.join(self.root, "registry.reg")
        kept = ""
        if os.path.exists(path):
            sections = re.split(r"\r\n(?=\[)", self.read(path).decode("cp1252"))
            kept = "".join(
                "\r\n" + section.rstrip("\r\n") + "\r\n"
                for section in sections
                if section.split("\r\n", 1)[0].lower()
                in ("[%s]" % RECORD_KEY.lower(), "[%s]" % SOURCE_KEY.lower())
            )
        with open(path, "wb") as f:
            f.write((text + kept).encode("cp1252"))

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
        for path, data in (
            (os.path.join(self.install_dir, "Configuration.tpl"), template),
            (self.config_path(), config),
            (self.config_path(copy=True), copy),
        ):
            if data is not None:
                with open(path, "wb") as f:
                    f.write(data)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def listing(self):
        return sorted(
            os.path.relpath(os.path.join(top, name), self.install_dir)
            for top, dirs, files in os.walk(self.install_dir)
            for name in files
        )

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
        shutil.copy(
            os.path.join(self.args.fixtures, fixture),
            os.path.join(self.install_dir, "TarifLib.dll"),
        )

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
        return sorted(
            n
            for folder in (self.rooms_dir(), self.temp_dir())
            if os.path.isdir(folder)
            for n in os.listdir(folder)
            if n.startswith("OrvaPatch-")
            and (kept or folder == self.rooms_dir() or os.listdir(os.path.join(folder, n)))
        )

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
        """The one event of the last run, as (type, id, [its first six strings, a refusal's
        seven]), once its last strings are checked: the seventh empty but for a refusal, the
        eighth the account whose installation the run read (self.account), the ninth the patch.
        Under Wine, the event has a user; on POSIX, the machine record tells the same outcome."""
        assert len(self.events) == 1, "events: %r" % self.events
        kind, number, strings = self.events[0]
        assert len(strings) == 9, self.events[0]
        assert (strings[6] != "") == (number == 1003), self.events[0]
        assert strings[7:] == [self.account, PATCH], self.events[0]
        if self.windows:
            assert self.event_users == [True], "the event names no user"
        else:
            record = self.patch_record()
            assert (
                record is not None
                and record["LastOutcome"] == ("REG_DWORD", number)
                and record["LastAccount"] == ("REG_SZ", self.account)
            ), record
            code = record.get("LastInstallerExitCode")
            assert (code and str(code[1])) == (strings[5] or None), (record, strings)
        return kind, number, strings[: 7 if number == 1003 else 6]

    def command(self, *, stub_exit=0, sleep_ms=0, extra_path=None, extra_env=None):
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

    def run(
        self,
        *,
        stub_exit=0,
        sleep_ms=0,
        cwd=None,
        extra_path=None,
        extra_env=None,
        caller_file=None,
        service=False,
        box=None,
        during=None,
        prefix=()
    ):
        """Runs the launcher; returns its result and how long it took. self.events: the run's
        events; self.boxes: how many message boxes it showed.

        The stub installer: ends with |stub_exit| after |sleep_ms|.

        The launcher's start: from |cwd| (by default the launcher folder's parent), with
        |extra_path| ahead of PATH and |extra_env| in its environment, as command() gives them.
        |caller_file|: a file under drive C: that the launcher gets open from its caller, as one
        it may pass on (under Wine its standard output redirected by cmd, inheritable; on POSIX
        a descriptor left open across exec). |service|: the run starts where a deployment agent
        would start it, on a window station nobody sees (under Wine, with a display, where a box
        would wait for ever).

        While it runs: |box|, the caption of the message box the run must show, answered with
        OK; |during|, called once the installer has recorded its start, while it runs. |prefix|:
        a command that starts the launcher (POSIX)."""
        command, env = self.command(
            stub_exit=stub_exit, sleep_ms=sleep_ms, extra_path=extra_path, extra_env=extra_env
        )
        command, passed = self.started_as(list(prefix) + command, env, caller_file, service)
        events_before = [] if self.windows else self.event_lines()
        watcher = self.show_desktop(env, box, service)
        started = time.monotonic()
        try:
            result = self.run_to_end(command, env, cwd, passed, during, 30 if service else 120)
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
        self.take_events(result, events_before, watcher, box)
        return result, time.monotonic() - started

    def started_as(self, command, env, caller_file, service):
        """|command| and |env| changed to start the launcher with |caller_file| open and, when
        |service|, where a deployment agent starts it; the descriptors to pass on (POSIX)."""
        passed = ()
        if caller_file and self.windows:
            command = command[:1] + [
                "cmd",
                "/c",
                "%s > %s" % (command[1], self.windows_path(caller_file)),
            ]
        elif caller_file:
            passed = (os.open(caller_file, os.O_WRONLY | os.O_CREAT),)
        env.pop("DISPLAY", None)  # an unexpected box fails at once instead of waiting
        if service and self.windows:
            command.insert(1, self.args.station)
        elif service:
            env["ORVAPATCH_SESSION"] = "service"
        return command, passed

    def show_desktop(self, env, box, service):
        """Windows: a display for a run that shows the message box |box|, or that runs as a
        |service|, and the watcher that answers the box (None when there is none)."""
        if not (box or service) or not self.windows:
            return None
        # Wine's desktop keeps the display of the wineserver's first program: start afresh.
        subprocess.run(["wineserver", "-k"], env=env)
        subprocess.run(["wineserver", "-w"], env=env)
        env["DISPLAY"] = self.args.display.name
        # Bring the desktop up first: on a loaded machine, a program's first window can
        # otherwise time out waiting for it.
        subprocess.run(
            [self.args.wine_run, "cmd", "/c", "exit"],
            env=env,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        if not box:
            return None
        watcher = message_box.BoxWatcher(self.args.display, box, self.args.screenshot)
        watcher.start()
        return watcher

    def run_to_end(self, command, env, cwd, passed, during, timeout):
        """Starts |command| and waits at most |timeout| seconds for it, calling |during| once
        the installer has recorded its start; kills it when the wait ends otherwise."""
        process = subprocess.Popen(
            command,
            env=env,
            cwd=cwd or self.launcher_dir + "/..",
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            pass_fds=passed,
        )
        try:
            if during:
                while "argc=" not in (self.record() or "") and process.poll() is None:
                    time.sleep(0.05)
                during()
            stdout, stderr = process.communicate(timeout=timeout)
        except BaseException:
            process.kill()
            process.wait()
            raise
        return subprocess.CompletedProcess(command, process.returncode, stdout, stderr)

    def take_events(self, result, events_before, watcher, box):
        """self.events and self.boxes from the run's |result|: Wine's debug channels, or the
        lines the run added to the event log after |events_before| and its standard error."""
        if self.windows:
            self.boxes = watcher.boxes if watcher else 0
            self.event_users = []
            self.events = wine_events(result.stderr, self.event_users)
        else:
            self.events = posix_events(self.event_lines()[len(events_before) :])
            # The POSIX message box: "caption: text" on standard error, answered at once.
            self.boxes = result.stderr.decode("utf-8").count(": " + REFUSAL)
            if box:
                assert result.stderr.decode("utf-8") == "%s: %s\n" % (box, REFUSAL), result.stderr

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


def hold(m, path, milliseconds, shared=False):
    """Starts another program that keeps the file |path| open with no sharing (|shared|: as a
    viewer, letting others read and write it) for |milliseconds|, and returns it once it holds
    the file."""
    command = [m.args.holder, m.windows_path(path), str(milliseconds)] + (
        ["shared"] if shared else []
    )
    holder = subprocess.Popen(
        ([m.args.wine_run] if m.windows else []) + command,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    deadline = time.monotonic() + 60
    while not os.path.exists(path + ".held"):
        assert holder.poll() is None and time.monotonic() < deadline, "the file could not be held"
        time.sleep(0.02)
    os.remove(path + ".held")
    return holder
