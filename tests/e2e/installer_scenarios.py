"""Scenarios of the installer's start: the file checked and no other, run from a clean room of the
system's Temp folder that no other user can take, waited for, its room removed after, or the event
saying why it did not start."""
import contextlib
import ctypes
import fcntl
import os
import re
import select
import shutil
import subprocess
import threading
import time

from harness import (
    ACCEPTED,
    ACCEPTED_LINE,
    END,
    INSTALLER,
    NO_CONFIGURATION,
    NOT_INSTALLED,
    START,
    TO_CHECK,
)


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
    assert m.event() == (
        "warning",
        1001,
        [
            TO_CHECK + NO_CONFIGURATION + "programme d'installation termin\u00e9 avec le code 3.",
            "Orvane XP",
            "2014.4",
            "missing",
            "not reached",
            "3",
        ],
    ), m.event()


def made_by_another_user(m, path):
    """Whether a standard user (nobody) can make a folder at |path|, the machine's folders down to
    its Temp folder open to every user, as on Windows; None where this test cannot act as another
    user (Wine has one account; on POSIX only root can act as another)."""
    if m.windows or os.geteuid() != 0:
        return None
    for folder in (m.root, m.drive_c, os.path.dirname(m.temp_dir())):
        os.chmod(folder, 0o755)
    return (
        subprocess.run(
            ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "mkdir", path],
            capture_output=True,
        ).returncode
        == 0
    )


def scenario_installer_runs_from_a_clean_room_and_inherits_only_the_log(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    caller = os.path.join(m.drive_c, "caller.txt")
    # The administrator's own Temp folder, which only they may write (Wine's is the prefix's).
    own = os.path.join(m.drive_c, "own-temp")
    os.makedirs(own, mode=0o700, exist_ok=True)
    if not m.windows:
        os.chmod(m.temp_dir(), 0o1777)  # every user may make folders there, as in /tmp
    try:
        result, _ = m.run(
            caller_file=caller, extra_env=None if m.windows else {"TEMP": own, "TMP": own}
        )
    finally:
        os.remove(caller)
        os.rmdir(own)
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
    # The installer's Temp is the administrator's own, passed on as it is.
    temps = re.search(r"temp=\[(.*)\]\ntmp=\[(.*)\]\n", record).groups()
    assert not any(temp.lower().startswith(room.lower()) for temp in temps), record
    assert m.windows or temps == (own, own), record
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
        f.write(
            '#!/bin/sh\nprintf "script=[%s]\\ncwd=[%s]\\n" "$0" "$(pwd)" > "$STUB_RECORD"\n'
            "exit 7\n"
        )
    os.chmod(script, 0o755)
    result, _ = m.run()
    assert result.returncode == 0, result
    record = m.record()
    assert re.fullmatch(
        r"script=\[\./%s\]\ncwd=\[%s/OrvaPatch-[0-9a-f]{16}\]\n"
        % (re.escape(INSTALLER), re.escape(m.rooms_dir())),
        record or "",
    ), record
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
            launcher = subprocess.run(
                ["pgrep", "-f", "^%s" % re.escape(os.path.join(m.launcher_dir, m.launcher))],
                capture_output=True,
                text=True,
            ).stdout.split()
            installer = subprocess.run(
                ["pgrep", "-P", ",".join(launcher)], capture_output=True, text=True
            ).stdout.split()
            subprocess.run(["kill", "-KILL"] + launcher + installer)

    m.run(sleep_ms=60000, during=kill)
    assert len(m.clean_rooms()) == 1, m.clean_rooms()
    # Not ours to remove: a room holding a link, one holding a second name of a file outside, one
    # whose folders go a level deeper than any installer's, and a folder of another name. A room
    # whose folders go as deep as an installer's goes.
    linked, hard, deeper, deep = [
        os.path.join(m.rooms_dir(), "OrvaPatch-%016x" % digits)
        for digits in (0xBB, 0xCC, 0xDD, 0xEE)
    ]
    other = os.path.join(m.temp_dir(), "Other-orvapatch")
    outside = os.path.join(m.drive_c, "outside.txt")
    for folder in (
        linked,
        hard,
        os.path.join(deeper, *["d"] * 9),
        os.path.join(deep, *["d"] * 8),
        other,
    ):
        os.makedirs(folder)
        with open(os.path.join(folder, INSTALLER), "wb") as f:
            f.write(b"x")
    with open(outside, "wb") as f:
        f.write(b"kept")
    os.symlink(outside, os.path.join(linked, "link.txt"))
    os.link(outside, os.path.join(hard, "second-name.txt"))
    try:
        result, _ = m.run()
        assert result.returncode == 0, result
        assert m.record() is not None and m.record().endswith("done\n"), m.record()
        kept = [os.path.basename(folder) for folder in (linked, hard, deeper)]
        assert m.clean_rooms() == kept, m.clean_rooms()
        assert os.path.exists(os.path.join(other, INSTALLER)), "another folder was removed"
        assert m.read(outside) == b"kept", "a file outside was changed"
    finally:
        for folder in (linked, hard, deeper, deep, other):
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
    assert (kind, number, strings[1:]) == (
        "error",
        1002,
        ["Orvane XP", "2014.4", "missing", "not reached", ""],
    ), m.event()
    assert re.fullmatch(
        re.escape(NOT_INSTALLED + NO_CONFIGURATION) + "dossier prot\u00e9g\u00e9 "
        "impossible \u00e0 pr\u00e9parer dans le dossier Temp de Windows \\(erreur "
        "[1-9][0-9]*\\)\\.",
        strings[0],
    ), strings[0]


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
    assert m.event() == (
        "error",
        1002,
        [
            NOT_INSTALLED
            + NO_CONFIGURATION
            + "programme d'installation introuvable ou impossible \u00e0 d\u00e9marrer.",
            "Orvane XP",
            "2014.4",
            "missing",
            "not reached",
            "",
        ],
    ), m.event()


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
