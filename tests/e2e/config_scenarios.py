"""Scenarios of the configuration update: the billing module's configuration and its copy after
a run, on an installation accepted by its recorded version."""
import os
import shutil
import stat
import subprocess

from harness import (
    ACCEPTED,
    ACCEPTED_LINE,
    END,
    INSTALLED_UPDATED,
    LIBRARY_ACCEPTED,
    LIBRARY_STAMPED,
    SEP,
    START,
    TO_CHECK,
    family_keys,
    hold,
    parse_reg,
    registry_fixture,
)


def crlf(*lines):
    return b"".join(line.encode("cp1252") + b"\r\n" for line in lines)


TEMPLATE = crlf(
    '<?xml version="1.0" encoding="ISO-8859-1"?>',
    "<configuration>",
    "  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>",
    "</configuration>",
)
CONFIG = crlf(
    '<?xml version="1.0" encoding="ISO-8859-1"?>',
    "<configuration>",
    "  <ssvModuleVersion>K220.2014.3.1.0007-02</ssvModuleVersion>",
    "  <versionCOD>0302</versionCOD>",
    "  <contextFacturation>CABINET</contextFacturation>",
    "  <libelle>Télétransmission</libelle>",
    "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
    "  <teletransmission><active>0</active></teletransmission>",
    "  <scor>",
    "    <active>0</active>",
    "  </scor>",
    "</configuration>",
)
UPDATED = crlf(
    '<?xml version="1.0" encoding="ISO-8859-1"?>',
    "<configuration>",
    "  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>",
    "  ",
    "  ",
    "  <libelle>Télétransmission</libelle>",
    "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
    "<!-- Deactivation STS global -->",
    "<ssvDesactivationSTS>Non</ssvDesactivationSTS>",
    "",
    "  <teletransmission><active>1</active></teletransmission>",
    "  <scor>",
    "    <active>1</active>",
    "  </scor>",
    "</configuration>",
)
# The copy: LF line ends, the last line without one, a version in the old COD form.
COPY = (
    b"<configuration>\n<ssvModuleVersion></ssvModuleVersion>\n<versionCOD>123</versionCOD>\n"
    b"<active>0</active>"
)
COPY_UPDATED = crlf(
    "<configuration>",
    "<ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>",
    "<versionCOD>123</versionCOD>",
    "<active>1</active>",
)


def install(m, template=TEMPLATE, config=CONFIG, copy=COPY):
    m.install_product(template, config, copy)


def assert_installer_ran(m, result):
    assert result.returncode == 0, result
    record = m.record()
    assert record is not None and record.endswith("argc=1\ndone\n"), record
    # The update writes nothing to the log.
    assert m.log() == START + ACCEPTED_LINE + END, m.log()


FILES = [
    "Configuration.tpl",
    "Configuration.xml",
    os.path.join("Temp", "ssvConfig", "Configuration.xml"),
]


def scenario_configuration_and_copy_rewritten(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    install(m)
    result, _ = m.run()
    assert_installer_ran(m, result)
    assert m.read(m.config_path()) == UPDATED, m.read(m.config_path())
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED, m.read(m.config_path(copy=True))
    assert m.listing() == sorted(FILES), m.listing()  # no temporary file or backup left
    strings = [INSTALLED_UPDATED, "Orvane XP", "2014.4", "updated", "updated", "0"]
    assert m.event() == ("information", 1000, strings), m.event()


def scenario_configuration_second_run_changes_nothing(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    install(m)
    m.run()
    result, _ = m.run()
    assert result.returncode == 0, result
    assert m.read(m.config_path()) == UPDATED, m.read(m.config_path())
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED, m.read(m.config_path(copy=True))
    assert m.listing() == sorted(FILES), m.listing()


def scenario_configuration_missing_copy_untouched(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    install(m, config=None)
    result, _ = m.run()
    assert_installer_ran(m, result)
    assert m.read(m.config_path(copy=True)) == COPY
    assert not os.path.exists(m.config_path())


def scenario_configuration_read_only_kept(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    install(m)
    os.chmod(m.config_path(), 0o444)  # the read-only attribute, under Wine too
    result, _ = m.run()
    assert_installer_ran(m, result)
    assert m.read(m.config_path()) == CONFIG, m.read(m.config_path())
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED  # the configuration opened
    assert m.listing() == sorted(FILES), m.listing()
    assert m.event() == (
        "warning",
        1001,
        [
            TO_CHECK
            + "configuration laiss\u00e9e telle quelle (lecture seule), copie mise \u00e0 jour, "
            "programme d'installation termin\u00e9 avec le code 0.",
            "Orvane XP",
            "2014.4",
            "left: read-only",
            "updated",
            "0",
        ],
    ), m.event()


def scenario_two_launchers_at_once_each_update_whole(m):
    # A double-click twice: both runs start together, the first one's installer waits until the
    # second run has ended. Each file then holds the whole update, the registry one stamp, and
    # the run that found the log held past its patience wrote its section to the Documents log
    # (the second run, unless the first one started so late that the second had let go of it).
    m.set_registry(LIBRARY_ACCEPTED)
    m.install_library("tariflib.dll")
    m.install_stub()
    # Large enough for the two updates to overlap.
    grown = lambda text, active: text.replace(
        b"</configuration>",
        b"  <module><active>%s</active></module>\r\n" % active * 100000 + b"</configuration>",
    )
    install(m, config=grown(CONFIG, b"0"))
    documents = m.documents_log_path()
    flag = os.path.join(m.launcher_dir, "second-run-ended")
    first = m.command(extra_env={"STUB_WAIT_FOR": m.windows_path(flag)})
    second = m.command(
        extra_env={"STUB_RECORD": m.windows_path(os.path.join(m.launcher_dir, "record2.txt"))}
    )
    runs = [
        subprocess.Popen(
            command, env=env, cwd=m.drive_c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
        )
        for command, env in (first, second)
    ]
    try:
        assert runs[1].wait(timeout=120) == 0
        assert runs[0].poll() is None, "the first run ended before the second"
    finally:
        open(flag, "wb").close()
        statuses = [run.wait(timeout=120) for run in runs]
        m.settle(first[1])
    assert statuses == [0, 0], statuses
    logs = [m.read(path) for path in (m.log_path(), documents) if os.path.exists(path)]
    assert sum(log.count(SEP) for log in logs) == 6, logs
    assert all(log.count(SEP) % 3 == 0 and log.endswith(SEP + b"\r\n\r\n") for log in logs), logs
    assert m.read(m.config_path()) == grown(UPDATED, b"1"), m.read(m.config_path())[:300]
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED, m.read(m.config_path(copy=True))
    assert m.listing() == sorted(FILES + ["TarifLib.dll"]), m.listing()
    expected = family_keys(parse_reg(LIBRARY_STAMPED))
    assert m.registry() == expected, m.registry()


# Another program's files, in a folder outside the product's, that links planted in the product
# folder lead to; the secret's module version would pass as a template's.
SECRET = crlf(
    "<configuration>",
    "  <ssvModuleVersion>SECRET.2099.9.9.9-999</ssvModuleVersion>",
    "  <versionCOD>0302</versionCOD>",
    "  <active>0</active>",
    "</configuration>",
)
SECRET_COPY = SECRET.replace(b"SECRET.", b"SECRET-")
OLD_VERSION = UPDATED.replace(b"K220.2014.4.2.0001-01", b"K220.2014.3.1.0007-02")
# What is planted in the product folder, in place of what, leading where, and the event's outcomes
# of the configuration and its copy. A plant on the configuration leaves it, and its copy is not
# reached; a plant on the way to the copy leaves the copy; a planted template is not read.
# The event names the name that is a link or has a second name, or is a named pipe: a file or
# folder held by a lock never released (on Windows an opportunistic lock never acknowledged), whose
# open answers at once and refuses it (Wine opens a pipe at once anyway: only the refusal shows).
PLANTS = [
    ("symlink", "Temp", "", "updated", "left: link (Temp)"),
    ("symlink", os.path.join("Temp", "ssvConfig"), "", "updated", "left: link (ssvConfig)"),
    (
        "symlink",
        "Configuration.xml",
        "Configuration.xml",
        "left: link (Configuration.xml)",
        "not reached",
    ),
    (
        "symlink",
        FILES[2],
        os.path.join("ssvConfig", "Configuration.xml"),
        "updated",
        "left: link (Configuration.xml)",
    ),
    ("symlink", "Configuration.tpl", "Configuration.xml", "updated", "updated"),
    (
        "hard link",
        "Configuration.xml",
        "Configuration.xml",
        "left: link (Configuration.xml)",
        "not reached",
    ),
    ("fifo", "Temp", "", "updated", "left: link (Temp)"),
    ("fifo", os.path.join("Temp", "ssvConfig"), "", "updated", "left: link (ssvConfig)"),
    ("fifo", "Configuration.xml", "", "left: link (Configuration.xml)", "not reached"),
    ("fifo", FILES[2], "", "updated", "left: link (Configuration.xml)"),
    ("fifo", "Configuration.tpl", "", "updated", "updated"),
]


def contents(m, folder):
    """Every name below |folder|, links not followed, with a file's bytes (None for others)."""
    found = {}
    for top, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(top, name)
            found[os.path.relpath(path, folder)] = (
                m.read(path) if stat.S_ISREG(os.lstat(path).st_mode) else None
            )
    return found


def scenario_configuration_planted_links_lead_nowhere(m):
    # Before the run, a user of the workstation replaced a folder or a file of the product by a link
    # to another folder of drive C: or a file there (under Wine, host links stand for junctions and
    # file links). Each plant on a fresh installation: the outside stays as it was, none of its
    # text comes into the product folder, and what the links do not touch is updated.
    outside = os.path.join(m.drive_c, "outside")
    try:
        for kind, planted, target, main, copy in PLANTS:
            m.clean()
            m.reset()
            shutil.rmtree(outside, ignore_errors=True)
            os.makedirs(os.path.join(outside, "ssvConfig"))
            for name, data in (
                ("Configuration.xml", SECRET),
                (os.path.join("ssvConfig", "Configuration.xml"), SECRET_COPY),
            ):
                with open(os.path.join(outside, name), "wb") as f:
                    f.write(data)
            before = contents(m, outside)
            m.set_registry(ACCEPTED)
            m.install_stub()
            install(m)
            place = os.path.join(m.install_dir, planted)
            if os.path.isdir(place):
                shutil.rmtree(place)
            else:
                os.remove(place)
            if kind == "fifo":
                os.mkfifo(place)
            else:
                (os.link if kind == "hard link" else os.symlink)(
                    os.path.join(outside, target), place
                )
            result, _ = m.run()
            what = "%s as %s" % (kind, planted)
            assert_installer_ran(m, result)
            assert contents(m, outside) == before, what
            inside = contents(m, m.install_dir)
            assert not any(
                b"SECRET" in data for name, data in inside.items() if data and name != planted
            ), (what, inside)
            kept = {f for f in FILES if not f.startswith(planted + os.sep)}
            assert m.listing() == sorted(kept | ({planted} if kind == "fifo" else set())), what
            if main == "updated":
                expected = OLD_VERSION if planted == "Configuration.tpl" else UPDATED
                assert m.read(m.config_path()) == expected, (what, m.read(m.config_path()))
            event = (1000 if copy == "updated" else 1001, [main, copy])
            assert (m.event()[1], m.event()[2][3:5]) == event, (what, m.event())
    finally:
        m.clean()  # the links first, then what they lead to
        shutil.rmtree(outside, ignore_errors=True)


def scenario_configuration_held_by_another_program(m):
    # A program that keeps the configuration for 0.4 s is waited for; one that keeps it for 30 s
    # leaves it as it was, and its copy is not reached, long before the holder lets go.
    for milliseconds, expected, event in (
        (400, UPDATED, (1000, ["updated", "updated"])),
        (30000, CONFIG, (1001, ["left: in use", "not reached"])),
    ):
        m.clean()
        m.reset()
        m.set_registry(ACCEPTED)
        m.install_stub()
        install(m)
        holder = hold(m, m.config_path(), milliseconds)
        try:
            # Ended once the installer runs, the update behind it: under Wine the end of the run
            # waits for every program of the prefix.
            result, elapsed = m.run(during=holder.kill)
        finally:
            holder.kill()
            holder.wait()
        assert_installer_ran(m, result)
        assert elapsed < 15, elapsed
        assert m.read(m.config_path()) == expected, (milliseconds, m.read(m.config_path()))
        assert (m.event()[1], m.event()[2][3:5]) == event, (milliseconds, m.event())


def fill_disk(m):
    """Installs the product on drive D:, a file system of 64 KiB, and fills the rest; returns the
    command that undoes it, or None when it cannot be done. (A file system mounted on a folder of
    drive C: is a mount point, which the update refuses as it refuses a link.)"""
    if os.geteuid() != 0:
        return None
    m.install_on_drive_d()
    drive = os.path.dirname(m.install_dir)
    os.makedirs(drive, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", drive], check=True)
    m.set_registry(ACCEPTED.replace("C:\\\\WORVA32", "D:\\\\App"))
    install(m)
    filler = os.open(os.path.join(drive, "filler"), os.O_WRONLY | os.O_CREAT)
    try:
        while os.write(filler, b"\0" * 4096):
            pass
    except OSError:
        pass  # full
    finally:
        os.close(filler)
    return ["umount", drive]


def make_immutable(m):
    """Makes the copy's folder immutable: nothing can be created in it, by root either; returns
    the command that undoes it, or None when it cannot be done."""
    if os.geteuid() != 0:
        return None
    m.set_registry(ACCEPTED)
    install(m)
    folder = os.path.dirname(m.config_path(copy=True))
    subprocess.run(["chattr", "+i", folder], check=True)
    return ["chattr", "-i", folder]


# A sparse file of 1.5 GiB: more than the 32-bit build's strings hold, at no cost on disk.
TOO_BIG = 3 << 29


def make_too_big(m):
    """Makes the configuration and the template sparse files of TOO_BIG bytes; nothing to undo."""
    m.set_registry(ACCEPTED)
    install(m)
    for name in ("Configuration.tpl", "Configuration.xml"):
        with open(os.path.join(m.install_dir, name), "r+b") as f:
            f.truncate(TOO_BIG)
    return ["true"]


def held(m, path):
    """The bytes of the file |path|, or the length alone of one too big to read."""
    return TOO_BIG if os.path.getsize(path) == TOO_BIG else m.read(path)


def take_rooms_folder(m):
    """Makes the rooms' folder, where the update locks are kept, as a standard user would before
    any run: open to every user (under Wine a DACL made from that mode), on POSIX theirs as root
    can make it; nothing to undo."""
    m.set_registry(ACCEPTED)
    install(m)
    os.makedirs(m.rooms_dir())
    os.chmod(m.rooms_dir(), 0o777)
    if not m.windows and os.geteuid() == 0:
        os.chown(m.rooms_dir(), 65534, 65534)
    return ["true"]


LEFT = "laiss\u00e9e telle quelle (%s)"
# How a machine leaves a file as it was, what the configuration and its copy hold then, and what
# the event says of them: the words for fleet tools and the sentence's. A full disk and an
# immutable folder take root. A template too big to read gives no module version. A rooms'
# folder that a user made holds no lock: the update is left at once, never held by them.
CAUSES = [
    (
        fill_disk,
        [CONFIG, COPY],
        "left: no space",
        LEFT % "disque plein",
        "left: no space",
        LEFT % "disque plein",
    ),
    (
        make_immutable,
        [UPDATED, COPY],
        "updated",
        "mise \u00e0 jour",
        "left: access denied",
        LEFT % "acc\u00e8s refus\u00e9",
    ),
    (
        make_too_big,
        [TOO_BIG, COPY_UPDATED.replace(b"K220.2014.4.2.0001-01", b"")],
        "left: too big",
        LEFT % "fichier trop grand",
        "updated",
        "mise \u00e0 jour",
    ),
    (
        take_rooms_folder,
        [CONFIG, COPY],
        "left: lock folder not private",
        LEFT % "dossier des verrous C:\\Windows\\Temp\\OrvaPatch non r\u00e9serv\u00e9 aux "
        "administrateurs",
        "not reached",
        "non trait\u00e9e",
    ),
]


def scenario_configuration_left_says_why(m):
    # The disk is full, the copy's folder refuses every new file, or the files are larger than
    # the update reads: the files that could not be replaced keep their bytes and no temporary
    # file is left, the installer starts, and the event says why, the same on both builds.
    for make, expected, main, main_phrase, copy, copy_phrase in CAUSES:
        m.clean()
        m.reset()
        m.install_stub()
        undo = make(m)
        if undo is None:
            print("      (not root: no file system to fill or folder to make immutable)")
            continue
        try:
            before = m.listing()
            result, _ = m.run()
            after = m.listing()
            kept = [held(m, m.config_path()), held(m, m.config_path(copy=True))]
        finally:
            subprocess.run(undo, check=True)
        assert_installer_ran(m, result)
        assert kept == expected, (copy, kept)
        assert after == before, (copy, after)
        assert m.event() == (
            "warning",
            1001,
            [
                TO_CHECK
                + "configuration %s, copie %s, programme d'installation termin\u00e9 avec le "
                "code 0." % (main_phrase, copy_phrase),
                "Orvane XP",
                "2014.4",
                main,
                copy,
                "0",
            ],
        ), m.event()


# How the administrator's registry names the product folder, where the folder is below drive C:,
# what leads there (a link: its name below C: and its target there; a drive letter: "o:" and its
# folder), whether the POSIX layout has that spelling, and the event's outcomes. The folders above
# the product folder are the administrator's, and every spelling of them is followed; a product
# folder that is itself a link is refused, and its configuration is left as it was.
SHORT = "short name"  # the spelling the system gives as the product folder's 8.3 short name
SPELLINGS = [
    ("c:\\worva32", "WORVA32", None, False, "updated", "updated"),
    ("C:\\\\WORVA32//", "WORVA32", None, True, "updated", "updated"),
    (SHORT, "Logiciels Orvane\\Cabinet du Parc", None, False, "updated", "updated"),
    ("C:\\Apps\\WORVA32", "RealApps\\WORVA32", ("Apps", "RealApps"), True, "updated", "updated"),
    ("O:\\WORVA32", "RealApps\\WORVA32", ("o:", "RealApps"), True, "updated", "updated"),
    (
        "C:\\WORVA32",
        "RealApps\\WORVA32",
        ("WORVA32", "RealApps\\WORVA32"),
        True,
        "left: link (C:\\WORVA32)",
        "not reached",
    ),
]


def short_path(m, path):
    """Windows: the system's 8.3 short name of the existing folder |path|."""
    return m.wine(m.args.short_name, path).decode("cp1252").strip()


def scenario_configuration_product_folder_however_the_administrator_names_it(m):
    made = []
    try:
        for spelling, where, lead, posix, main, copy in SPELLINGS:
            if not (posix or m.windows):
                continue
            m.clean()
            m.reset()
            for path in made:
                if os.path.islink(path):
                    os.remove(path)
                shutil.rmtree(path, ignore_errors=True)
            m.install_dir = os.path.join(m.drive_c, *where.split("\\"))
            made = [os.path.join(m.drive_c, where.split("\\")[0])]
            m.set_registry(ACCEPTED)
            m.install_stub()
            install(m)
            if lead:
                name, target = lead
                target = os.path.join(m.drive_c, *target.split("\\"))
                if name.endswith(":"):  # a drive letter: one of the prefix's, or the machine root's
                    link = (
                        os.path.join(m.prefix, "dosdevices", name)
                        if m.windows
                        else os.path.join(m.root, "drive_" + name[0])
                    )
                else:
                    link = os.path.join(m.drive_c, name)
                os.symlink(target, link)
                made.insert(0, link)
            if spelling == SHORT:
                spelling = short_path(m, "C:\\" + where)
                assert "~" in spelling, spelling
            m.set_registry(
                registry_fixture(
                    (
                        "HKEY_CURRENT_USER\\Software\\ORVANE",
                        [
                            '"SoftVersion"="2014.4"',
                            '"OrvaAppPath"="%s"' % spelling.replace("\\", "\\\\"),
                        ],
                    )
                )
            )
            result, _ = m.run()
            assert_installer_ran(m, result)
            updated = main == "updated"
            assert m.read(m.config_path()) == (UPDATED if updated else CONFIG), spelling
            assert m.read(m.config_path(copy=True)) == (COPY_UPDATED if updated else COPY), spelling
            event = (1000 if copy == "updated" else 1001, [main, copy])
            assert (m.event()[1], m.event()[2][3:5]) == event, (spelling, m.event())
    finally:
        for path in made:
            if os.path.islink(path):
                os.remove(path)
            shutil.rmtree(path, ignore_errors=True)
