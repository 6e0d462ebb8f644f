"""Scenarios of the prerequisite check: every road of a run, the log lines it leaves, the registry
values it writes, and the refusal box with the edition's caption."""
import fcntl
import os
import re
import shutil
import time

import config_scenarios
from harness import (
    ACCEPTED,
    APP_PATH,
    DEFAULT_ROOT,
    END,
    INSTALLED_UPDATED,
    INSTALLER,
    LIBRARY_ACCEPTED,
    LIBRARY_STAMPED,
    MESSAGE_FILE,
    OWN_ACCOUNT,
    PRODUCT,
    RECORD_TIME,
    SETTINGS,
    SOURCE_KEY,
    START,
    TO_CHECK,
    family_keys,
    parse_reg,
    registry_fixture,
)

FAMILY_NAME = "HKEY_CURRENT_USER\\Software\\ORVANE S.A."
# The refusal's cause where the run's own registry records no installation.
UNRECORDED = "no installation recorded for " + OWN_ACCOUNT


def line(text, error=False):
    return ("TIME - %s%s\r\n" % ("***" if error else "", text)).encode("cp1252")


def soft_version(text, error=False):
    return line("SoftVersion dans la base de regsitre - %s" % text, error)


CANT_READ_VERSION = line("Impossible de lire SoftVersion dans la base de regsitre ", True)
CANT_READ_PATH = line("Impossible de lire AppPath dans la base de regsitre ", True)
# Neither a version text nor a library's version found.
NOTHING_FOUND = soft_version("", True) + line("CheckVerion - TarifLib Version = 0.0")


def run_accepted(m, fixture, lines):
    m.set_registry(fixture)
    m.install_stub()
    result, _ = m.run()
    assert result.returncode == 0 and m.boxes == 0, result
    assert m.record() is not None, "installer not started"
    assert m.log() == START + lines + END, m.log()


def run_refused(m, fixture, lines, caption="Orvane XP", basis="", service=False, cause=None):
    """A refused run: one box, or none where nobody sees it (|service|); |basis|: the version
    the event names; |cause|: its seventh string, by default the version text or the library's
    version that |basis| gives."""
    m.set_registry(fixture)
    m.install_stub()
    config_scenarios.install(m)
    result, _ = m.run(box=None if service else caption, service=service)
    assert result.returncode == 0, result
    assert m.boxes == (0 if service else 1), "%d boxes" % m.boxes
    assert m.record() is None, "installer started after a refusal"
    assert m.log() == START + lines + END, m.log()
    assert m.read(m.config_path()) == config_scenarios.CONFIG, "configuration touched"
    assert m.read(m.config_path(copy=True)) == config_scenarios.COPY, "copy touched"
    found = (
        "la version install\u00e9e, %s, n'est pas une version 2014" % basis
        if basis
        else "aucune version install\u00e9e n'a pu \u00eatre lue"
    )
    if cause is None:
        cause = ("library: " if "TarifLib.dll" in basis else "version: ") + basis
    summary = (
        "Correctif Orvane 2014.4.2 refus\u00e9 : %s ; aucun fichier n'a \u00e9t\u00e9 "
        "modifi\u00e9." % found
    )
    strings = [summary, caption, basis, "not reached", "not reached", "", cause]
    assert m.event() == ("error", 1003, strings), m.event()


def expect_registry(m, fixture, *created):
    """The registry holds the fixture's keys unchanged, the |created| empty keys, nothing else."""
    expected = family_keys(parse_reg(fixture))
    for key in created:
        expected[key] = {}
    actual = m.registry()
    assert actual == expected, "registry:\n%r\nexpected:\n%r" % (actual, expected)


def scenario_check_accepts_version_texts_naming_2014(m):
    for text in ("2014.4", "V2014", "12014"):
        fixture = registry_fixture((PRODUCT, ['"SoftVersion"="%s"' % text, APP_PATH]))
        m.clean_registry()
        run_accepted(m, fixture, soft_version(text))
        expect_registry(m, fixture, DEFAULT_ROOT)  # nothing written
        m.clean()
        m.reset()


# What an installation accepted by its library's version (LIBRARY_ACCEPTED) logs.
LIBRARY_LINES = soft_version("2013.9", True) + line(
    "CheckVerion - MAJ SoftVersion=2014.2 avant installation"
)


def scenario_check_stamps_a_2014_library_and_passes_by_text_next_time(m):
    m.install_library("tariflib.dll")
    run_accepted(m, LIBRARY_ACCEPTED, LIBRARY_LINES)
    assert m.event()[2][2] == "2014.2 (TarifLib.dll, stamped)", m.event()
    expected = family_keys(parse_reg(LIBRARY_STAMPED))
    actual = m.registry()
    assert actual == expected, "registry:\n%r\nexpected:\n%r" % (actual, expected)
    # Second run: the recorded text now names 2014.
    m.run()
    assert m.log().endswith(END + START + soft_version("2014.2") + END), m.log()
    assert m.event()[2][2] == "2014.2", m.event()


def scenario_check_accepts_any_2014_minor(m):
    m.install_library("tariflib_2014_7.dll")
    run_accepted(
        m,
        registry_fixture((PRODUCT, [APP_PATH])),
        CANT_READ_VERSION
        + soft_version("", True)
        + line("CheckVerion - MAJ SoftVersion=2014.7 avant installation"),
    )


def scenario_check_refuses_another_major(m):
    m.install_library("version2015.dll")
    fixture = registry_fixture((PRODUCT, [APP_PATH]))
    run_refused(
        m,
        fixture,
        CANT_READ_VERSION
        + soft_version("", True)
        + line("CheckVerion - TarifLib Version = 2015.1"),
        basis="2015.1 (TarifLib.dll)",
    )
    expect_registry(m, fixture, DEFAULT_ROOT)


def scenario_check_library_oversized_or_linked_is_unreadable(m):
    # 68 KiB files whose sound 2014.2 resource declares 1 MiB or 16 MiB, or, of two languages,
    # only the chosen one, English (US), does: never read from beyond the file, the library counts
    # as unreadable. So does a sound 2014.2 library of another folder that a link or a second name
    # planted in the product folder leads to, or a named pipe in its place, a library held for ever
    # (see config_scenarios.PLANTS).
    outside = os.path.join(m.drive_c, "outside.dll")
    try:
        for name, plant in (
            ("oversized/declared_1mib.dll", None),
            ("oversized/declared_16mib.dll", None),
            ("oversized/second_language_1mib.dll", None),
            ("tariflib.dll", os.symlink),
            ("tariflib.dll", os.link),
            ("tariflib.dll", lambda _, library: os.mkfifo(library)),
        ):
            fixture = registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"', APP_PATH]))
            m.clean_registry()
            m.clean()
            m.reset()
            m.install_library(name)
            if plant:
                library = os.path.join(m.install_dir, "TarifLib.dll")
                shutil.move(library, outside)
                plant(outside, library)
            run_refused(
                m,
                fixture,
                soft_version("2013.9", True) + line("CheckVerion - TarifLib Version = 0.0"),
                basis="2013.9",
            )
            expect_registry(m, fixture, DEFAULT_ROOT)
    finally:
        m.clean()
        if os.path.exists(outside):
            os.remove(outside)


def scenario_check_refuses_without_library(m):
    fixture = registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"', APP_PATH]))
    lines = soft_version("2013.9", True) + line("CheckVerion - TarifLib Version = 0.0")
    run_refused(m, fixture, lines, basis="2013.9")
    expect_registry(m, fixture, DEFAULT_ROOT)
    # Started by a deployment agent, where a box would wait for ever: the same road, no box.
    m.clean()
    m.reset()
    run_refused(m, fixture, lines, basis="2013.9", service=True)


def scenario_check_without_product_key_names_the_edition(m):
    # Belnor's family root is not Software\ORVANE, so the product key stays missing.
    fixture = registry_fixture((FAMILY_NAME, ['"Soft name"="BELNOR 2000"']))
    run_refused(
        m,
        fixture,
        soft_version("", True) + line("CheckVerion - TarifLib Version = 0.0"),
        caption="BELNOR 2000",
        cause=UNRECORDED,
    )
    expect_registry(m, fixture, "HKEY_CURRENT_USER\\Software\\Belnor")


def scenario_check_empty_or_oversized_values(m):
    # An empty directory text: the library is looked for beside the launcher only.
    fixture = registry_fixture(
        (PRODUCT, ['"SoftVersion"="%s"' % ("x" * 95 + "2014"), '"OrvaAppPath"=""'])
    )
    run_accepted(m, fixture, soft_version("x" * 95 + "2014"))
    m.clean()
    m.reset()
    # 100 characters do not fit the 100-byte buffer.
    fixture = registry_fixture(
        (PRODUCT, ['"SoftVersion"="%s"' % ("x" * 96 + "2014"), '"OrvaAppPath"="%s"' % ("d" * 100)])
    )
    run_refused(
        m,
        fixture,
        CANT_READ_VERSION
        + CANT_READ_PATH
        + soft_version("", True)
        + line("CheckVerion - TarifLib Version = 0.0"),
    )


def scenario_check_launcher_in_a_folder_outside_the_ansi_code_page(m):
    # The launcher's folder, which the ANSI code page cannot spell, is where the installer is
    # started from and where the library named without a directory (an empty OrvaAppPath) is read.
    m.move_launcher("Mises \u00e0 jour\\\u0141\u00f3d\u017a")
    shutil.copy(
        os.path.join(m.args.fixtures, "tariflib.dll"), os.path.join(m.launcher_dir, "TarifLib.dll")
    )
    fixture = registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"', '"OrvaAppPath"=""']))
    run_accepted(m, fixture, LIBRARY_LINES)
    record = m.record()
    assert record.endswith("argc=1\ndone\n"), record
    if m.windows:
        assert 'cmdline=["%s" ]\n' % INSTALLER in record, record
    expected = family_keys(
        parse_reg(
            registry_fixture(
                (PRODUCT, ['"SoftVersion"="2014.2"', '"OrvaAppPath"=""', '"Version140"="1"']),
                (DEFAULT_ROOT, []),
                (SETTINGS, ['"Version140"=dword:00000001']),
            )
        )
    )
    actual = m.registry()
    assert actual == expected, "registry:\n%r\nexpected:\n%r" % (actual, expected)


def scenario_check_launcher_path_past_max_path(m):
    # The launcher's own path, 260 characters under Windows, is read whole: the library beside it
    # is found. (Windows starts no program whose path is that long, so no installer is expected.)
    m.move_launcher("L" * 243)
    shutil.copy(
        os.path.join(m.args.fixtures, "tariflib.dll"), os.path.join(m.launcher_dir, "TarifLib.dll")
    )
    m.set_registry(registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"', '"OrvaAppPath"=""'])))
    result, _ = m.run()
    assert result.returncode == 0, result
    assert m.log() == START + LIBRARY_LINES + END, m.log()


def scenario_check_oversized_kiv_app_path_stays(m):
    long_path = "k" * 300
    fixture = registry_fixture(
        (PRODUCT, [APP_PATH, '"KivAppPath"="%s"' % long_path]),
        ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE", ['"KivAppPath"="C:\\\\KIV"']),
    )
    m.install_library("tariflib.dll")
    run_accepted(
        m,
        fixture,
        CANT_READ_VERSION
        + soft_version("", True)
        + line("CheckVerion - MAJ SoftVersion=2014.2 avant installation"),
    )
    actual = m.registry()
    assert actual[PRODUCT]["KivAppPath"] == (1, long_path.encode() + b"\0"), actual[PRODUCT]
    assert "KivAppPath" not in actual["HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE"], actual


def scenario_check_refusal_caption_of_every_edition(m):
    for name, caption, root in (
        ("ORVANE II", "ORVANE", "ORVANE"),
        ("orvane xp", "Orvane XP", "ORVANE XP"),
        ("KELMARIS XP", "Kelmaris XP", "KELMARIS XP"),
        ("MORVIK 2000", "ZERLIN", "ZERLIN"),
        ("ORVANE XP ", "Orvane XP", "ORVANE XP"),
    ):
        fixture = registry_fixture((FAMILY_NAME, ['"Soft name"="%s"' % name]))
        m.clean_registry()
        lines = soft_version("", True) + line("CheckVerion - TarifLib Version = 0.0")
        if root == "ORVANE":  # its family root is the product key: created, and read empty
            lines = CANT_READ_VERSION + CANT_READ_PATH + lines
        m.clean()
        m.reset()
        run_refused(
            m,
            fixture,
            lines,
            caption=caption,
            cause="version: " if root == "ORVANE" else UNRECORDED,
        )


def scenario_check_directory_forms_on_another_drive(m):
    # The library is read through the directory as written; the installation path gains a
    # backslash unless it ends in one, and the configuration update works through either form.
    for directory in ("D:\\App", "D:\\App\\", "D:/App/"):
        m.clean()
        m.reset()
        m.install_on_drive_d()
        m.install_library("tariflib.dll")
        config_scenarios.install(m)
        fixture = registry_fixture(
            (
                PRODUCT,
                ['"SoftVersion"="2013.9"', '"OrvaAppPath"="%s"' % directory.replace("\\", "\\\\")],
            )
        )
        run_accepted(
            m,
            fixture,
            soft_version("2013.9", True)
            + line("CheckVerion - MAJ SoftVersion=2014.2 avant installation"),
        )
        assert m.read(m.config_path()) == config_scenarios.UPDATED, directory
        assert m.read(m.config_path(copy=True)) == config_scenarios.COPY_UPDATED, directory


# SoftVersion texts and the log's line of them, for a run of the administrator's own or of the
# system account acting for the console user (True). A text is never taken as a format: "%n"
# would make a formatter write to memory. The console user's hive is theirs to write: a control
# character but a tab is logged as "?" then, so that they forge no line of the administrator's
# log; an administrator's own text is logged as it is.
LOGGED_TEXTS = [
    (False, "2014 %s%n%d %x%%", "2014 %s%n%d %x%%"),
    (False, "2014\r\tforged\x1b", "2014\r\tforged\x1b"),
    (True, "2014\r\tforged\n\x7f", "2014?\tforged??"),
]


def scenario_check_registry_texts_in_the_log(m):
    for for_user, text, logged in LOGGED_TEXTS:
        m.clean()
        m.reset()
        # The hex form of a REG_SZ carries any byte, a line end's included.
        value = '"SoftVersion"=hex(1):' + ",".join(
            "%02x" % byte for byte in text.encode("cp1252") + b"\0"
        )
        fixture = registry_fixture((PRODUCT, [value, APP_PATH]))
        if not for_user:
            run_accepted(m, fixture, soft_version(logged))
        elif run_as_system(m, in_branch(fixture, USER_BRANCH)):
            assert m.log() == START + soft_version(logged) + END, m.log()


# Which edition a run finds, and the family root it leaves. Each run is refused, its box bearing
# the edition's caption; the fixture's keys stay as they were, and only a missing family root is
# created, empty.
EDITION_CASES = [
    # (the registry's keys, the box's caption, the family root created, the log when checked)
    (
        (
            (
                "HKEY_CURRENT_USER\\Software\\ORVANE S.A.",
                ['"Soft name"="belnor 2000"', '"Note"="d\u00e9j\u00e0"'],
            ),
            ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="MORVIK 2000"']),
        ),
        "BELNOR 2000",
        "HKEY_CURRENT_USER\\Software\\Belnor",
        START + NOTHING_FOUND + END,
    ),
    (
        (("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="MORVIK 2000"']),),
        "ZERLIN",
        "HKEY_CURRENT_USER\\Software\\ZERLIN",
        START + NOTHING_FOUND + END,
    ),
    # The user's vendor key without the name hides the machine's edition.
    (
        (
            ("HKEY_CURRENT_USER\\Software\\ORVANE S.A.", ['"Other"="BELNOR 2000"']),
            ("HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.", ['"Soft name"="BELNOR 2000"']),
        ),
        "Orvane XP",
        "HKEY_CURRENT_USER\\Software\\ORVANE XP",
        START + NOTHING_FOUND + END,
    ),
    # An existing family root is left as it is, whatever it holds.
    (
        (
            ("HKEY_CURRENT_USER\\Software\\ORVANE S.A.", ['"Soft name"="ORVANE II"']),
            (
                "HKEY_CURRENT_USER\\Software\\ORVANE",
                [
                    '"ThreadLocal"="40c"',
                    '"SoftVersion"="2013.9"',
                    '"Flags"=dword:0000002a',
                    '"Blob"=hex:00,ff,80',
                    '"List"=hex(7):61,00,62,00,00,00',
                    '@="d\u00e9faut"',
                ],
            ),
            ("HKEY_CURRENT_USER\\Software\\ORVANE\\Sub", []),
        ),
        "ORVANE",
        None,
        None,
    ),
    # An empty registry: the default edition.
    ((), "Orvane XP", "HKEY_CURRENT_USER\\Software\\ORVANE XP", START + NOTHING_FOUND + END),
]


def scenario_registry_edition_and_family_root(m):
    for keys, caption, created, log in EDITION_CASES:
        m.clean()
        m.reset()
        fixture = registry_fixture(*keys)
        if keys:  # an empty registry is a machine with no registry file yet
            m.set_registry(fixture)
        result, _ = m.run(box=caption)
        assert result.returncode == 0 and m.boxes == 1, (caption, result)
        expect_registry(m, fixture, *[key for key in (created,) if key])
        assert log is None or m.log() == log, (caption, m.log())


# Runs that a fleet tool starts as the system account (POSIX: ORVAPATCH_ACCOUNT=system), where
# nobody sees a box. Its own hive is HKEY_USERS\S-1-5-18; console-user.txt names the user at the
# console, whose files the run may change only as that user could. Taking their uid takes root.
CONSOLE_SID = "S-1-5-21-1-2-3-1001"
CONSOLE_UID = 1001
SYSTEM_SID = "S-1-5-18"
SYSTEM_BRANCH = "HKEY_USERS\\S-1-5-18\\Software"
USER_BRANCH = "HKEY_USERS\\%s\\Software" % CONSOLE_SID
SYSTEM_REFUSED = (
    "Correctif Orvane 2014.4.2 refus\u00e9 : aucune installation enregistr\u00e9e dans "
    "le registre du compte syst\u00e8me (S-1-5-18), %s ; aucun fichier n'a \u00e9t\u00e9 "
    "modifi\u00e9."
)


def in_branch(fixture, branch):
    """|fixture| with its current user's keys moved to the software branch |branch|."""
    return fixture.replace("[HKEY_CURRENT_USER\\Software", "[" + branch)


def run_as_system(m, fixture, console=True, reads=CONSOLE_SID):
    """A run of the system account on |fixture|, with the console user logged on when |console|,
    that reads the installation of |reads|; False, and no run, where the system account cannot be
    modelled (Wine, or not root)."""
    if m.windows or os.geteuid() != 0:
        print("      (POSIX as root only: Wine runs every program as one user)")
        return False
    m.account = reads
    m.set_registry(fixture)
    m.install_stub()
    os.chmod(m.root, 0o755)  # made private to root: the user may reach drive C:
    console_file = os.path.join(m.root, "console-user.txt")
    if console:
        with open(console_file, "w") as f:
            f.write("%s %d\n" % (CONSOLE_SID, CONSOLE_UID))
    elif os.path.exists(console_file):
        os.remove(console_file)
    # Started with root's supplementary groups, as under sudo: none of them may go with the
    # user's rights.
    result, _ = m.run(
        service=True,
        extra_env={"ORVAPATCH_ACCOUNT": "system"},
        prefix=["setpriv", "--groups", "0", "--"],
    )
    assert result.returncode == 0 and m.boxes == 0, result
    return True


def owners(m):
    """The owner of each file of the product folder."""
    return {name: os.stat(os.path.join(m.install_dir, name)).st_uid for name in m.listing()}


def scenario_system_account_patches_the_console_users_installation(m):
    # The system account's own hive records nothing; the console user's records a 2013.9 with a
    # 2014.2 library: the user's hive is read and stamped, their files updated as theirs, and
    # neither the system account's hive nor the (unrelated) HKEY_CURRENT_USER keys change.
    decoy = registry_fixture((PRODUCT, ['"SoftVersion"="1999"', APP_PATH]))
    fixture = in_branch(LIBRARY_ACCEPTED, USER_BRANCH) + decoy[len("REGEDIT4\r\n") :]
    m.install_library("tariflib.dll")
    config_scenarios.install(m)
    # A killed run that acted for them left its replacement, theirs, which the run removes; one
    # of another user's is no leftover of the program's, and stays.
    leftovers = {
        "Configuration.xml.orvapatch-new0123456789abcdef": CONSOLE_UID,
        "Configuration.xml.orvapatch-newfedcba9876543210": CONSOLE_UID + 1,
    }
    for name in leftovers:
        with open(os.path.join(m.install_dir, name), "wb") as f:
            f.write(config_scenarios.CONFIG)
    for top, dirs, files in os.walk(m.install_dir):
        for name in [top] + [os.path.join(top, f) for f in files]:
            os.chown(name, leftovers.get(os.path.basename(name), CONSOLE_UID), CONSOLE_UID)
    # The user locks their product folder as earlier releases took their update lock: the run's
    # lock is another, in the rooms' folder, which they cannot reach.
    held = os.open(m.install_dir, os.O_RDONLY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX)
        if not run_as_system(m, fixture):
            return
    finally:
        os.close(held)
    kept = [name for name, uid in leftovers.items() if uid != CONSOLE_UID]
    assert [name for name in leftovers if name in m.listing()] == kept, m.listing()
    for name in kept:
        os.remove(os.path.join(m.install_dir, name))
    # Its installer's Temp is a folder of its clean room, gone with it: not the machine's
    # C:\Windows\Temp, the system account's own, where every user may add files.
    room = re.search(r"cwd=\[(.*)\]", m.record()).group(1)
    assert "temp=[%s/Temp]\ntmp=[%s/Temp]\n" % (room, room) in m.record(), m.record()
    assert m.clean_rooms() == [], m.clean_rooms()
    assert m.log() == START + LIBRARY_LINES + END, m.log()
    assert m.read(m.config_path()) == config_scenarios.UPDATED
    assert m.read(m.config_path(copy=True)) == config_scenarios.COPY_UPDATED
    assert set(owners(m).values()) == {CONSOLE_UID}, owners(m)
    expected = family_keys(
        parse_reg(in_branch(LIBRARY_STAMPED, USER_BRANCH) + decoy[len("REGEDIT4\r\n") :])
    )
    assert m.registry() == expected, "registry:\n%r\nexpected:\n%r" % (m.registry(), expected)
    strings = [
        INSTALLED_UPDATED,
        "Orvane XP",
        "2014.2 (TarifLib.dll, stamped)",
        "updated",
        "updated",
        "0",
    ]
    assert m.event() == ("information", 1000, strings), m.event()
    # The machine's record names the user whose installation was patched.
    expect_record(m, 1000, 0, "now")


def scenario_system_account_with_the_product_in_its_own_hive(m):
    # A product deployed for the system account itself: its own hive is read, as any run's, and
    # the console user's installation is left alone.
    user = registry_fixture((USER_BRANCH + "\\ORVANE", ['"SoftVersion"="2013.9"', APP_PATH]))
    fixture = in_branch(ACCEPTED, SYSTEM_BRANCH) + user[len("REGEDIT4\r\n") :]
    config_scenarios.install(m)
    if not run_as_system(m, fixture, reads=SYSTEM_SID):
        return
    assert m.log() == START + soft_version("2014.4") + END, m.log()
    assert m.read(m.config_path()) == config_scenarios.UPDATED
    expected = family_keys(parse_reg(fixture))
    expected[SYSTEM_BRANCH + "\\ORVANE XP"] = {}
    assert m.registry() == expected, "registry:\n%r\nexpected:\n%r" % (m.registry(), expected)
    assert m.event()[:2] == ("information", 1000) and m.event()[2][2] == "2014.4", m.event()


def scenario_system_account_refuses_without_a_console_users_installation(m):
    # Nobody at the console, or a console user whose hive records no installation either: the
    # run refuses as any run, in the system account's own hive, and its event says whose
    # registry it read.
    recorded = registry_fixture((USER_BRANCH + "\\ORVANE", ['"SoftVersion"="2014.4"', APP_PATH]))
    elsewhere = registry_fixture(
        ("HKEY_USERS\\S-1-5-21-9-9-9-1002\\Software\\ORVANE", ['"SoftVersion"="2014.4"'])
    )
    for fixture, console, words, cause in (
        (
            recorded,
            False,
            "et aucun utilisateur n'est connect\u00e9 \u00e0 la console",
            "; nobody at the console",
        ),
        (
            elsewhere,
            True,
            "ni dans celui de l'utilisateur connect\u00e9 \u00e0 la console " "(%s)" % CONSOLE_SID,
            " nor for the console user " + CONSOLE_SID,
        ),
    ):
        m.clean()
        m.reset()
        config_scenarios.install(m)
        if not run_as_system(m, fixture, console, reads=SYSTEM_SID):
            return
        assert m.log() == START + NOTHING_FOUND + END, m.log()
        assert m.read(m.config_path()) == config_scenarios.CONFIG, "configuration touched"
        expected = family_keys(parse_reg(fixture))
        expected[SYSTEM_BRANCH + "\\ORVANE XP"] = {}
        assert m.registry() == expected, "registry:\n%r\nexpected:\n%r" % (m.registry(), expected)
        assert m.event() == (
            "error",
            1003,
            [
                SYSTEM_REFUSED % words,
                "Orvane XP",
                "",
                "not reached",
                "not reached",
                "",
                "no installation recorded for S-1-5-18" + cause,
            ],
        ), m.event()


def scenario_system_account_leaves_what_the_console_user_cannot_write(m):
    # The user's registry leads to a product folder of root's that they may read but not write:
    # nothing there is written with the system account's rights, and the event says why. The
    # files are the user's own, and root's group may write the folders: the run's supplementary
    # group would let the files be replaced, and the user's rights leave it out.
    config_scenarios.install(m)
    for folder, _, names in os.walk(m.install_dir):
        os.chmod(folder, 0o775)
        for name in names:
            os.chown(os.path.join(folder, name), CONSOLE_UID, CONSOLE_UID)
    before = m.listing()
    if not run_as_system(m, in_branch(ACCEPTED, USER_BRANCH)):
        return
    assert m.read(m.config_path()) == config_scenarios.CONFIG, "configuration written"
    assert m.read(m.config_path(copy=True)) == config_scenarios.COPY, "copy written"
    assert m.listing() == before, m.listing()
    left = "laiss\u00e9e telle quelle (acc\u00e8s refus\u00e9)"
    assert m.event() == (
        "warning",
        1001,
        [
            TO_CHECK + "configuration %s, copie %s, programme d'installation termin\u00e9 avec le "
            "code 0." % (left, left),
            "Orvane XP",
            "2014.4",
            "left: access denied",
            "left: access denied",
            "0",
        ],
    ), m.event()


# The machine record of the patch, which fleet tools' detection rules read: after each road, it
# tells the outcome that the run's event tells (event() checks LastOutcome on POSIX too).
def utc_now():
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def expect_record(m, outcome, exit_code, installed_at, since="0"):
    """The record holds event |outcome|, the installer's |exit_code| (None: no value), a LastRun
    from |since| on and the account the run read; Installed with its InstalledFor and its
    InstalledAt (|installed_at|: "now" for this run's LastRun, None for none). Returns it."""
    record = m.patch_record()
    assert record is not None, "no record"
    last_run = record.get("LastRun", ("", ""))[1]
    assert RECORD_TIME.fullmatch(last_run) and since <= last_run <= utc_now(), record
    expected = {
        "LastOutcome": ("REG_DWORD", outcome),
        "LastRun": ("REG_SZ", last_run),
        "LastAccount": ("REG_SZ", m.account),
    }
    if exit_code is not None:
        expected["LastInstallerExitCode"] = ("REG_DWORD", exit_code)
    if installed_at:
        expected.update(
            Installed=("REG_DWORD", 1),
            InstalledFor=("REG_SZ", m.account),
            InstalledAt=("REG_SZ", last_run if installed_at == "now" else installed_at),
        )
    assert record == expected, "record:\n%r\nexpected:\n%r" % (record, expected)
    return record


REFUSED_2013 = registry_fixture((PRODUCT, ['"SoftVersion"="2013.9"', APP_PATH]))
REFUSED_LINES = soft_version("2013.9", True) + line("CheckVerion - TarifLib Version = 0.0")


def record_run(m, road, exit_code=0):
    """One run of |road|: "accepted" (the installer returns |exit_code|), "not started" (no
    installer beside the launcher), or "refused" (where nobody sees a box). Returns the event's
    id and exit code string."""
    for path in (m.record_path(), m.log_path()):  # the installer's record, the log: earlier runs'
        if os.path.exists(path):
            os.remove(path)
    if road == "refused":
        run_refused(m, REFUSED_2013, REFUSED_LINES, basis="2013.9", service=True)
    else:
        m.set_registry(ACCEPTED)
        if road == "accepted":
            m.install_stub()
        elif os.path.exists(os.path.join(m.launcher_dir, INSTALLER)):
            os.remove(os.path.join(m.launcher_dir, INSTALLER))
        result, _ = m.run(stub_exit=exit_code)
        assert result.returncode == 0, result
    return m.event()


# (the road, the installer's exit code, the event, the exit code recorded, Installed written)
RECORD_ROADS = [
    ("accepted", 0, 1000, 0, True),
    ("accepted", 3010, 1000, 3010, True),  # success, a restart needed
    ("accepted", 1641, 1000, 1641, True),  # success, a restart started
    ("accepted", 7, 1001, 7, False),
    ("not started", None, 1002, None, False),
    ("refused", None, 1003, None, False),
]


def scenario_record_after_each_road(m):
    for road, exit_code, outcome, recorded, installed in RECORD_ROADS:
        if exit_code and exit_code > 255 and not m.windows:
            print("      (exit code %d: Windows only, a POSIX one has 8 bits)" % exit_code)
            continue
        m.clean()
        m.reset()
        since = utc_now()
        kind, number, strings = record_run(m, road, exit_code or 0)
        assert number == outcome, (road, exit_code, m.event())
        assert strings[5] == ("" if recorded is None else str(recorded)), (road, strings)
        expect_record(m, outcome, recorded, "now" if installed else None, since)


def scenario_record_installed_stays_after_later_runs(m):
    # Once written, Installed stays: a later failure or refusal changes the Last values only,
    # and a run where the installer did not run removes the last exit code.
    since = utc_now()
    record_run(m, "accepted")
    installed_at = expect_record(m, 1000, 0, "now", since)["InstalledAt"][1]
    time.sleep(1)  # a later LastRun
    record_run(m, "accepted", 7)
    assert expect_record(m, 1001, 7, installed_at)["LastRun"][1] > installed_at
    record_run(m, "refused")
    expect_record(m, 1003, None, installed_at)


# The event source: registered with the message file where it exists and no registration does;
# an administrator's own registration left as it is.
OTHER_REGISTRATION = registry_fixture(
    (SOURCE_KEY, ['"EventMessageFile"="C:\\\\Admin\\\\Messages.dll"'])
)
SOURCE_CASES = [
    # (the message file there, the registry's source key before, the key after)
    (
        True,
        None,
        {"EventMessageFile": ("REG_EXPAND_SZ", MESSAGE_FILE), "TypesSupported": ("REG_DWORD", 7)},
    ),
    (True, OTHER_REGISTRATION, {"EventMessageFile": ("REG_SZ", "C:\\Admin\\Messages.dll")}),
    (False, None, None),
]


def scenario_event_source_registered_where_the_message_file_is(m):
    for message_file, before, after in SOURCE_CASES:
        m.clean()
        m.reset()
        if message_file:
            m.put_message_file()
        assert os.path.exists(m.message_file_path()) == message_file, m.message_file_path()
        if before:
            m.set_registry(before)
        record_run(m, "accepted")
        record, source = m.launcher_keys()
        assert source == after, (message_file, before, source)
        assert record["Installed"] == ("REG_DWORD", 1), record


# The fleet guide's lines that read the record or the events, in docs/administrators.md and
# release/LISEZMOI-ADMIN.txt alike, each with the data it reads. A line of either guide that reads
# them is one of these, so that the scenario below checks what it reads.
GUIDE_LINES = {
    # The record in the 32-bit view, by the value names, and Installed as a REG_DWORD.
    "reg query HKLM\\SOFTWARE\\OrvaPatch\\2014.4.2 /reg:32": "record",
    "$k = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry32')"
    ".OpenSubKey('SOFTWARE\\OrvaPatch\\2014.4.2')": "record",
    "if ($k -eq $null) { 'no record'; exit 1 }": "record",
    "$k.GetValueNames() | ForEach-Object { '{0}={1}' -f $_, $k.GetValue($_) }": "record",
    "if ($k.GetValue('Installed') -eq 1) { exit 0 } else { exit 1 }": "Installed",
    # The record under WOW6432Node, as a 64-bit program reads it.
    "Registry('HKLM:\\SOFTWARE\\WOW6432Node\\OrvaPatch\\2014.4.2')": "record",
    # The last event of the provider OrvaPatch, its id and its strings 6, 8 and 9.
    "$e = Get-WinEvent -LogName Application -MaxEvents 1 -FilterXPath "
    "\"*[System[Provider[@Name='OrvaPatch']]]\"": "event",
    "$e.Id, $e.Properties[5].Value, $e.Properties[7].Value, $e.Properties[8].Value": "event",
}
GUIDES = [
    os.path.join(os.path.dirname(__file__), "..", "..", *path.split("/"))
    for path in ("docs/administrators.md", "release/LISEZMOI-ADMIN.txt")
]
# A line of a guide that reads the record or the events: code, not prose.
GUIDE_CODE = re.compile(r"^\s*(\$[ek]\b|if \(\$k|reg query |Registry\(|Get-WinEvent )")


def scenario_fleet_guide_reads_the_record_as_runs_write_it(m):
    for guide in GUIDES:
        with open(guide, encoding="utf-8-sig") as f:
            lines = {line.strip() for line in f if GUIDE_CODE.match(line)}
        assert lines == set(GUIDE_LINES), "%s: %r" % (guide, lines ^ set(GUIDE_LINES))
    for road, exit_code in (("accepted", 0), ("accepted", 7), ("refused", None)):
        m.clean()
        m.reset()
        record_run(m, road, exit_code or 0)
        number, strings = m.events[0][1], m.events[0][2]
        # Read in the 32-bit view, and under WOW6432Node (the same, under Wine).
        record = m.patch_record()
        # Properties[0] is the first string: $e.Id, Properties[5], [7] and [8] are the record's
        # outcome, exit code (none, where no installer ran) and account, and the patch.
        assert record["LastOutcome"] == ("REG_DWORD", number), (record, number)
        code = record.get("LastInstallerExitCode")
        assert strings[5] == ("" if code is None else str(code[1])), (record, strings)
        assert code is None or code[0] == "REG_DWORD", record
        assert record["LastAccount"] == ("REG_SZ", strings[7]) and strings[8] == "2014.4.2", (
            record,
            strings,
        )
        # The detection rule: Installed, an integer, equals 1 after event 1000 only.
        assert record.get("Installed") == (("REG_DWORD", 1) if number == 1000 else None), record
