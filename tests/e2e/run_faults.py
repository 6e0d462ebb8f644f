#!/usr/bin/env python3
"""Fault injection over whole runs of the test launcher (either build): the Nth counted file or
registry operation of a run fails, once or from then on, for N = 1, 2, ... until a run reaches no
fault; then the Nth allocation fails, once. The machine is accepted by its library's version and
holds both configuration files, so every stage of the run has work to do. After every run: exit
status 0; each configuration file holds its old bytes or its new ones; no temporary file or
backup anywhere (but for a temporary file whose removal failed too, which the next run takes
over); the registry parses and each value is the old one or the new one; the log holds every
line written before the fault; no clean room left in the system's Temp folder (but for one
whose removal failed too, which the next run removes); every run that runs out of memory still
writes its one event. --sample K runs every Kth N only, spread over the whole run. Then the
stall sweep: the Nth operation never returns, and the watchdog must cancel it or end the run, with
its one event naming the step."""
import argparse
import os
import re
import subprocess
import sys

import check_scenarios
import config_scenarios
from harness import (
    END,
    LIBRARY_ACCEPTED,
    LIBRARY_STAMPED,
    MESSAGE_FILE,
    OWN_ACCOUNT,
    RECORD_TIME,
    SEP,
    Machine,
    family_keys,
    mask,
    parse_reg,
    wine_events,
)

REPORT = re.compile(rb"fault seam: (\d+) operations, (\d+) allocations\r?\n")
FAILED = re.compile(rb"fault seam: failed (\w+) \d+\r?\n")
EVENT_AT = re.compile(rb"fault seam: first event at (\d+)\r?\n")
PLACES = re.compile(rb"fault seam: (all|some) allocation places, first at([ \d]*)\r?\n")
TEMPORARY = re.compile(r"^(Temp/ssvConfig/)?Configuration\.xml\.orvapatch-new[0-9a-f]+$")
NEW_VERSION, OLD_VERSION = b"K220.2014.4.2.0001-01", b"K220.2014.3.1.0007-02"
ROOT_FILES = {"drive_c", "eventlog.txt", "registry.reg", "registry.reg.lock"}
INSTALLED = sorted(config_scenarios.FILES + ["TarifLib.dll"])
OLD_KEYS = family_keys(parse_reg(LIBRARY_ACCEPTED))
NEW_KEYS = family_keys(parse_reg(LIBRARY_STAMPED))


def prepare(m):
    m.put_message_file()  # so that the run registers its event source too
    m.set_registry(LIBRARY_ACCEPTED)
    m.install_library("tariflib.dll")
    m.install_stub()
    config_scenarios.install(m)
    m.documents_log = m.documents_log_path()


def fresh(m):
    """The machine as prepare() leaves it, made anew."""
    m.dispose()
    m.reset()
    prepare(m)


def run(m, setting, variable="ORVAPATCH_FAULT", places=0):
    """One run with |variable|=|setting|: its log and its numbers of counted operations and
    allocations. m.failed: the kind of the operation that was made to fail, if any; m.places: the
    first allocation of each place, a place told by its last |places| calls, when nonzero."""
    result = launch(m, {variable: setting, "ORVAPATCH_FAULT_PLACES": str(places)})
    assert result.returncode == 0, "%s: exit status %d" % (setting, result.returncode)
    assert len(m.events) <= 1, "%s: events %r" % (setting, m.events)  # none when it failed
    check_installer(m, setting)
    report = REPORT.search(result.stderr)
    assert report, "%s: no count on standard error: %r" % (setting, result.stderr)
    m.event_at = int(EVENT_AT.search(result.stderr).group(1))
    failed = FAILED.search(result.stderr)
    m.failed = failed.group(1).decode() if failed else None
    places = PLACES.search(result.stderr)
    assert not places or places.group(1) == b"all", "%s: too many allocation places" % setting
    m.places = [int(n) for n in places.group(2).split()] if places else []
    logs = [path for path in (m.log_path(), m.documents_log) if os.path.exists(path)]
    assert len(logs) <= 1, "%s: two logs" % setting
    log = mask(m.read(logs[0])) if logs else b""
    return log, int(report.group(1)), int(report.group(2))


def check_installer(m, setting):
    """The event tells the installer's run as the installer itself recorded it: an installer that
    ran (and exited 0, as the stub does here) is told with its exit code, one that never started
    with none."""
    if not m.events:
        return  # its writing failed
    _, event_id, strings = m.events[0]
    ran = (m.record() or "").endswith("done\n")
    assert m.record() is None or ran, "%s: installer record %r" % (setting, m.record())
    if ran:
        assert (
            event_id in (1000, 1001) and strings[5] == "0"
        ), "%s: the installer ran and exited 0, the event says %d %r" % (setting, event_id, strings)
    else:
        assert (
            event_id in (1002, 1003) and strings[5] == ""
        ), "%s: the installer never started, the event says %d %r" % (setting, event_id, strings)


def launch(m, extra_env):
    """Runs the launcher. Under Wine, in the one server that main() keeps for the whole sweep: a
    server started for each run boots the prefix's services anew, seconds a run. A program
    started after the run reaches that server only once it has dealt with the run's end, its
    handles closed and its files deleted on close."""
    if os.path.exists(m.record_path()):
        os.remove(m.record_path())  # what the installer records is this run's alone
    if not m.windows:
        return m.run(extra_env=extra_env)[0]
    command, env = m.command(extra_env=extra_env)
    env.pop("DISPLAY", None)  # an unexpected box fails at once instead of waiting
    result = subprocess.run(command, env=env, cwd=m.drive_c, capture_output=True, timeout=120)
    m.wine("cmd", "/c", "exit")
    m.events = wine_events(result.stderr)
    return result


def check_files(m, setting, leftover_allowed=False, room_allowed=False):
    """Checks the installation's files; returns the temporary files left, which only a run whose
    every operation from some point on fails may leave (their removal failed too), and the clean
    room left by a run whose removal of it failed."""
    for path, old, new, version in (
        (m.config_path(), config_scenarios.CONFIG, config_scenarios.UPDATED, OLD_VERSION),
        (m.config_path(copy=True), config_scenarios.COPY, config_scenarios.COPY_UPDATED, b""),
    ):
        # A template that could not be read leaves the module version as it was: a whole update.
        data = m.read(path)
        assert data in (
            old,
            new,
            new.replace(NEW_VERSION, version),
        ), "%s: %s holds neither its old nor its new bytes:\n%r" % (setting, path, data)
    assert m.read(os.path.join(m.install_dir, "Configuration.tpl")) == config_scenarios.TEMPLATE
    left = [name for name in m.listing() if name not in INSTALLED]
    rooms = m.clean_rooms()
    assert len(rooms) <= (
        1 if leftover_allowed or room_allowed else 0
    ), "%s: clean rooms left: %r" % (setting, rooms)
    left += rooms
    assert all(TEMPORARY.match(name) or name in rooms for name in left) and (
        leftover_allowed or len(left) == len(rooms)
    ), "%s: files left: %r" % (setting, left)
    assert set(INSTALLED) <= set(m.listing()), "%s: files gone: %r" % (setting, m.listing())
    if not m.windows:
        extra = set(os.listdir(m.root)) - ROOT_FILES
        assert not extra, "%s: files left: %r" % (setting, sorted(extra))
    return left


# A configuration left as it was by a failing operation: the event says why, at which step, and
# an injected fault reads as the system's input/output error (EIO; ERROR_IO_DEVICE on Windows).
LEFT = re.compile(
    r"left: (read-only|in use|no memory|error (5|1117) at "
    r"(open|read|create|write|flush|rename))$"
)
UNOPENED = re.compile(r"left: (in use|no memory|error \d+ at open)$")
# The step that a configuration's event names for each kind of operation that can fail in it.
STEP_OF = {
    "open": "open",
    "openfolder": "open",
    "read": "read",
    "seek": "read",
    "create": "create",
    "write": "write",
    "flush": "flush",
    "rename": "rename",
}


def check_event(m, setting, single=False):
    """The run's event, when it was written, tells what became of each configuration file; with
    |single| (one operation failed, once), a file left at a step was left at that operation's."""
    if not m.events:
        return  # its writing failed
    # A version that could not be read, memory that ran out before the update, or a run that the
    # watchdog ended: nothing is reached.
    refused = m.events[0][1] == 1003 or re.search(
        "m\u00e9moire insuffisante|ex\u00e9cution arr\u00eat\u00e9e", m.events[0][2][0]
    )
    words = m.events[0][2][3:5]
    for path, old, word in zip(
        (m.config_path(), m.config_path(copy=True)),
        (config_scenarios.CONFIG, config_scenarios.COPY),
        words,
    ):
        if word == "interrupted":
            # Stopped on the way: either bytes may stand, as check_files has seen.
            assert "ex\u00e9cution arr\u00eat\u00e9e" in m.events[0][2][0], setting
        elif m.read(path) != old:
            assert word == "updated", "%s: %s updated, the event says %r" % (setting, path, word)
        elif word == "not reached":
            # The copy is reached once the configuration has opened.
            assert (
                refused or path != m.config_path() and UNOPENED.match(words[0])
            ), "%s: %s not reached, the configuration %r" % (setting, path, words[0])
        else:
            left = LEFT.match(word)
            assert left, "%s: %s left, the event says %r" % (setting, path, word)
            assert (
                not single or not left.group(3) or left.group(3) == STEP_OF.get(m.failed)
            ), "%s: %s failed at %s, the event says %r" % (setting, path, m.failed, word)


def check_registry(m, setting):
    keys = m.registry()
    assert set(OLD_KEYS) <= set(keys) <= set(OLD_KEYS) | set(NEW_KEYS), "%s: keys %r" % (
        setting,
        sorted(keys),
    )
    for key, values in keys.items():
        old, new = OLD_KEYS.get(key, {}), NEW_KEYS.get(key, {})
        for name in set(values) | set(old) | set(new):
            assert values.get(name) in (old.get(name), new.get(name)), "%s: %s\\%s = %r" % (
                setting,
                key,
                name,
                values.get(name),
            )
    check_launcher_keys(m, setting)


# The machine record's values in the order a run writes them, each only once the one before it
# was, and each one's new value (the installer, the stub, returns 0); its times are the run's.
RECORD_ORDER = [
    "LastRun",
    "LastAccount",
    "LastInstallerExitCode",
    "LastOutcome",
    "InstalledAt",
    "InstalledFor",
    "Installed",
]
RECORD_NEW = {
    "LastAccount": ("REG_SZ", OWN_ACCOUNT),
    "LastInstallerExitCode": ("REG_DWORD", 0),
    "InstalledFor": ("REG_SZ", OWN_ACCOUNT),
    "Installed": ("REG_DWORD", 1),
}
SOURCE_NEW = {
    "TypesSupported": ("REG_DWORD", 7),
    "EventMessageFile": ("REG_EXPAND_SZ", MESSAGE_FILE),
}


def check_launcher_keys(m, setting):
    """The machine, which had neither, holds no record or the first of the record's new values,
    the event saying so when the record is not whole; and no event source's key or the first of
    its new values (TypesSupported first)."""
    record, source = m.launcher_keys()
    assert (
        source is None
        or set(source) == set(list(SOURCE_NEW)[: len(source)])
        and all(source[name] == SOURCE_NEW[name] for name in source)
    ), "%s: source %r" % (setting, source)
    event = m.events[0] if m.events else None
    unwritten = event is not None and "OrvaPatch\\2014.4.2 non \u00e9crit" in event[2][0]
    if record is None:
        # Only a run that never checked the installation (out of memory, or ended by the watchdog
        # before) writes none.
        assert (
            event is None
            or unwritten
            or re.search("m\u00e9moire insuffisante|ex\u00e9cution arr\u00eat\u00e9e", event[2][0])
        ), "%s: no record, event %r" % (setting, event)
        return
    for name, value in record.items():
        if name in ("LastRun", "InstalledAt"):
            assert value[0] == "REG_SZ" and RECORD_TIME.fullmatch(value[1]), (setting, record)
        elif name == "LastOutcome":
            assert value[0] == "REG_DWORD" and value[1] in (1000, 1001, 1002, 1003), (
                setting,
                record,
            )
        else:
            assert value == RECORD_NEW.get(name), "%s: record %r" % (setting, record)
    # A prefix of the order, LastInstallerExitCode only where the installer ran; Installed only
    # after an event 1000.
    order = [name for name in RECORD_ORDER if name != "LastInstallerExitCode" or name in record]
    assert set(record) == set(order[: len(record)]), "%s: record %r" % (setting, record)
    outcome = record.get("LastOutcome", (None, None))[1]
    assert "InstalledAt" not in record or outcome == 1000, "%s: record %r" % (setting, record)
    if event is not None and not unwritten:
        assert "Installed" in record or outcome != 1000, "%s: record %r" % (setting, record)
        assert outcome == event[1], "%s: record %r, event %d" % (setting, record, event[1])


def sweep(m, persistent, reference, total, written, sample):
    """Runs N = 1, 2, ... with the Nth operation failing until the fault is never reached (every
    |sample|th N, and the last). |written|[N]: the log when every operation from the Nth on
    fails, i.e. what was written before the Nth; filled by the persistent sweep, read by the
    single-fault one."""
    leftovers = 0
    for nth in list(range(1, total + 1, sample)) + [total + 1]:
        setting = "%d%s" % (nth, "+" if persistent else "")
        fresh(m)
        log, count, _ = run(m, setting)
        left = check_files(m, setting, leftover_allowed=persistent, room_allowed=True)
        check_registry(m, setting)
        check_event(m, setting, single=not persistent)
        if left:
            # The next run takes the leftover over, and leaves nothing behind.
            run(m, "0")
            assert m.listing() == INSTALLED, "%s: next run left %r" % (setting, m.listing())
            assert m.clean_rooms() == [], "%s: next run left %r" % (setting, m.clean_rooms())
            assert m.read(m.config_path()) == config_scenarios.UPDATED, "%s: next run" % setting
            leftovers += 1
        if count < nth:  # no fault: the run is the fault-free one
            assert nth == total + 1, "%s: %d operations, %d without a fault" % (
                setting,
                count,
                total,
            )
            assert log == reference, "%s: log\n%r" % (setting, log)
            return leftovers
        assert nth <= total, "%s: a fault beyond the fault-free run's %d operations" % (
            setting,
            total,
        )
        if persistent:
            # Nothing after the fault reaches the log, and nothing before it is lost.
            assert reference.startswith(log), "%s: log not a prefix:\n%r" % (setting, log)
            assert log.startswith(written.get(nth - sample, b"")), (
                "%s: earlier lines lost" % setting
            )
            written[nth] = log
        else:
            assert log.startswith(written[nth]), "%s: lines written before the fault lost:\n%r" % (
                setting,
                log,
            )
    raise AssertionError("the last run reached a fault")


def sweep_allocations(m, reference, allocations, chosen):
    """Runs each N of |chosen| with the Nth allocation failing. The run never aborts; the files
    and the registry hold the old or the new state; the log, unless it closed itself, ends with
    its closing banner. Returns how many runs failed inside the configuration update and went on
    to start the installer."""
    closing = SEP + b"\r\n\r\n"
    handled = 0
    # Every fourth also from then on: memory that stays short still leaves the run's one event.
    for setting in [
        "%d%s" % (nth, suffix)
        for i, nth in enumerate(chosen)
        for suffix in (("", "+") if i % 4 == 3 else ("",))
    ]:
        nth = int(setting.rstrip("+"))
        fresh(m)
        log, _, count = run(m, setting, "ORVAPATCH_FAULT_ALLOC")
        assert count >= nth, "%s: %d allocations only" % (setting, count)
        assert len(m.events) == 1, "%s: events %r" % (setting, m.events)
        check_files(m, setting, leftover_allowed=setting.endswith("+"))
        check_registry(m, setting)
        check_event(m, setting)
        if setting.endswith("+"):
            continue
        assert log.endswith(closing) or reference.startswith(log), "%s: log\n%r" % (setting, log)
        kept = m.read(m.config_path()) == config_scenarios.CONFIG
        if kept and m.record() is not None and log.endswith(closing):
            handled += 1
    return handled


def sweep_stalls(m, total, event_at, sample, patience):
    """Runs N = 1, 2, ... with the Nth operation never returning until the watchdog, after
    |patience| ms, cancels it (then it fails), and every 8th such N again with a call that not
    even the cancel ends, where the watchdog ends the run. Every run ends, with its one event,
    which names the step; the files and the registry hold the old or the new state; what an
    ended run leaves, the next run takes over."""
    for nth in range(1, total + 1, sample):
        for cancellable in (True, False) if nth % (8 * sample) == 1 else (True,):
            setting = "%d%s" % (nth, "" if cancellable else "+")
            fresh(m)
            result = launch(m, {"ORVAPATCH_STALL": setting, "ORVAPATCH_PATIENCE_MS": str(patience)})
            assert result.returncode == 0, "%s: exit status %d" % (setting, result.returncode)
            assert len(m.events) == 1, "%s: events %r" % (setting, m.events)
            check_installer(m, setting)
            failed = FAILED.search(result.stderr)
            m.failed = failed.group(1).decode() if failed else None
            assert cancellable == bool(failed), "%s: %r" % (setting, result.stderr)
            sentence = m.events[0][2][0]
            stalled = re.search(
                "apr\u00e8s \u00ab (\\w+) \u00bb, ex\u00e9cution arr\u00eat\u00e9e|"
                "Op\u00e9ration \u00ab (\\w+) \u00bb annul\u00e9e",
                sentence,
            )
            # A step after the event leaves the event as it was written.
            assert (
                stalled
                and (not cancellable or stalled.group(2) == m.failed)
                or (nth > event_at and not stalled)
            ), "%s: the event does not name the step that stalled (%s): %r" % (
                setting,
                m.failed,
                sentence,
            )
            left = check_files(m, setting, leftover_allowed=not cancellable, room_allowed=True)
            check_registry(m, setting)
            check_event(m, setting, single=cancellable)
            if left or not cancellable:
                # The next run takes over what this one left, and leaves nothing behind.
                run(m, "0")
                assert m.listing() == INSTALLED, "%s: next run left %r" % (setting, m.listing())
                assert m.clean_rooms() == [], "%s: next run left %r" % (setting, m.clean_rooms())
                assert m.read(m.config_path()) == config_scenarios.UPDATED, "%s: next run" % setting


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--fixtures", required=True, help="directory of the version fixtures")
    parser.add_argument("--build", choices=["posix", "windows"], default="posix")
    parser.add_argument("--wine-run")
    parser.add_argument("--sample", type=int, default=1, help="run every Kth N only")
    parser.add_argument(
        "--alloc-sample", type=int, default=1, help="run every Kth N only of the allocations"
    )
    parser.add_argument(
        "--stall-sample", type=int, default=1, help="stall every Kth operation only"
    )
    parser.add_argument(
        "--patience",
        type=int,
        help="the watchdog's patience in the stall sweep, in milliseconds: by "
        "default longer than any ordinary step on a loaded machine",
    )
    parser.add_argument(
        "--alloc-places",
        type=int,
        default=0,
        metavar="FRAMES",
        help="fail the first allocation of each place only, a place told by "
        "its last FRAMES calls",
    )
    args = parser.parse_args()
    args.display, args.screenshot = None, None
    if args.patience is None:
        args.patience = 2500 if args.build == "windows" else 400
    m = Machine(args)
    if m.windows:
        subprocess.run(["wineserver", "-p"], env=dict(os.environ, WINEPREFIX=m.prefix))
    try:
        prepare(m)
        reference, total, allocations = run(m, "0")
        event_at = m.event_at
        assert reference.endswith(check_scenarios.LIBRARY_LINES + END), reference
        assert m.read(m.config_path()) == config_scenarios.UPDATED
        assert m.record() is not None, "installer not started"
        written = {}
        for persistent in (True, False):
            leftovers = sweep(m, persistent, reference, total, written, args.sample)
            print(
                "ok    %s fault at each of %d operations%s (%d temporary files left to the "
                "next run)"
                % (
                    "lasting" if persistent else "single",
                    total,
                    ", every %dth" % args.sample if args.sample > 1 else "",
                    leftovers,
                ),
                flush=True,
            )
        chosen = range(1, allocations + 1, args.alloc_sample)
        if args.alloc_places:
            # Every place that allocates, however short the stretch of code around it.
            fresh(m)
            run(m, "0", "ORVAPATCH_FAULT_ALLOC", args.alloc_places)
            chosen = m.places
        handled = sweep_allocations(m, reference, allocations, chosen)
        # Some allocations are the update's own: the file is left, the run goes on. (A sparse
        # sample may miss them all.)
        assert handled > 0 or args.alloc_sample > 1, "no allocation failed inside the update"
        print(
            "ok    allocation failing at %d of %d allocations (%s; %d inside the configuration "
            "update, the installer started after them)"
            % (
                len(chosen),
                allocations,
                "the first of each place"
                if args.alloc_places
                else "every %dth" % args.alloc_sample
                if args.alloc_sample > 1
                else "every one",
                handled,
            ),
            flush=True,
        )
        sweep_stalls(m, total, event_at, args.stall_sample, args.patience)
        print(
            "ok    stall at each of %d operations%s, cancelled, and ended where not even that "
            "returns"
            % (total, ", every %dth" % args.stall_sample if args.stall_sample > 1 else ""),
            flush=True,
        )
    except AssertionError as error:
        print("FAIL  %s" % str(error)[:3000])
        return 1
    finally:
        m.dispose()
        if m.windows:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=m.prefix))
    return 0


if __name__ == "__main__":
    sys.exit(main())
