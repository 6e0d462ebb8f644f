#!/usr/bin/env python3
"""Crash safety of the launcher (either build; under Wine the Windows process itself is killed):
runs killed with SIGKILL at random moments while they rewrite a large configuration, or while
they copy a large installer into its clean room and run it. After every kill the configuration
holds its old bytes or its new ones, the registry file parses, and nothing is left but at most
one temporary file beside the configuration, a part of the new text, and clean rooms holding a
part of the installer, which a later run removes; a last run unkilled updates the
configuration and leaves nothing."""
import argparse
import hashlib
import os
import random
import re
import signal
import subprocess
import sys
import time

import config_scenarios
from harness import ACCEPTED, INSTALLER, Machine, parse_reg

TEMPORARY = re.compile(r"^Configuration\.xml\.orvapatch-new[0-9a-f]+$")
ROOT_FILES = {"drive_c", "eventlog.txt", "registry.reg", "registry.reg.lock", "registry.reg.tmp"}


def large_config(size):
    """The scenarios' configuration grown to |size| bytes by modules to switch on."""
    head, tail = config_scenarios.CONFIG.rsplit(b"</configuration>", 1)
    line = b"  <module><active>0</active><name>facturation</name></module>\r\n"
    return (
        head
        + line * ((size - len(config_scenarios.CONFIG)) // len(line))
        + b"</configuration>"
        + tail
    )


class Bench:
    def __init__(self, m, size):
        self.m = m
        self.old = large_config(size)
        self.install_dir = m.install_dir
        m.set_registry(ACCEPTED)
        m.install_product(config_scenarios.TEMPLATE, self.old, None)
        # An installer as large as the configuration: its copy takes a while too.
        m.install_stub()
        with open(os.path.join(m.launcher_dir, INSTALLER), "ab") as f:
            f.write(b"\0" * size)
        self.installer = m.read(os.path.join(m.launcher_dir, INSTALLER))
        self.command, self.env = m.command()
        # The reference: the new bytes, and when the temporary file appears and goes.
        process = self.start()
        started, created, replaced = time.monotonic(), None, None
        while process.poll() is None and replaced is None:
            if created is None and self.temporaries():
                created = time.monotonic() - started
            elif created is not None and not self.temporaries():
                replaced = time.monotonic() - started
        process.wait()
        assert process.returncode == 0, process.returncode
        watched = time.monotonic() - started
        self.new = m.read(m.config_path())
        assert self.new != self.old and b"<active>0</active>" not in self.new
        assert created is not None and replaced is not None, "rewrite not seen"
        # Watching slows the run down: the window is kept as parts of an unwatched run's time.
        times = []
        for _ in range(3):
            self.reset()
            started = time.monotonic()
            assert self.start().wait() == 0
            times.append(time.monotonic() - started)
        self.total = sorted(times)[1]
        self.window = (created / watched * self.total, replaced / watched * self.total)
        self.digests = {
            hashlib.sha256(self.old).digest(): "old",
            hashlib.sha256(self.new).digest(): "new",
        }

    def start(self):
        return subprocess.Popen(
            self.command,
            env=self.env,
            cwd=self.m.drive_c,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )

    def settle(self):
        """Windows: waits until Wine has ended the killed process and closed its files: a program
        started after the kill reaches the server only once it has dealt with the dead one."""
        subprocess.run(
            self.command[:1] + ["cmd", "/c", "exit"],
            env=self.env,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )

    def end_stranded_installers(self):
        """Windows: ends the installers still running in this prefix, and says how many. Under
        Wine a program whose starter is killed while CreateProcessW starts it waits for ever on a
        pipe for a start that is never finished, and holds its clean room; on Windows a start is
        made whole or not at all. The stub itself ends within milliseconds of its start."""
        ended = 0
        marks = (INSTALLER.encode(), ("WINEPREFIX=%s" % self.m.prefix).encode())
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    program = f.read().split(b"\0")[0]
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environment = f.read().split(b"\0")
                if program.endswith(marks[0]) and marks[1] in environment:
                    os.kill(int(pid), signal.SIGKILL)
                    ended += 1
            except OSError:
                pass  # ended meanwhile
        if ended:
            self.settle()
        return ended

    def temporaries(self):
        return [name for name in os.listdir(self.install_dir) if TEMPORARY.match(name)]

    def reset(self):
        with open(self.m.config_path(), "wb") as f:
            f.write(self.old)

    def check(self, label):
        """The state after a run: which bytes the configuration holds, and the leftovers."""
        with open(self.m.config_path(), "rb") as f:
            state = self.digests.get(hashlib.sha256(f.read()).digest())
        assert state, "%s: the configuration holds neither its old nor its new bytes" % label
        names = set(os.listdir(self.install_dir)) - {
            "Configuration.tpl",
            "Configuration.xml",
            "Temp",
        }
        # A replace of an earlier version that a kill interrupted could leave the configuration
        # under this name only; this version never makes it.
        assert not os.path.exists(self.m.config_path() + ".orvapatch-backup"), label
        left = self.temporaries()
        assert names == set(left) and len(left) <= 1, "%s: files left: %r" % (label, sorted(names))
        for name in left:
            with open(os.path.join(self.install_dir, name), "rb") as f:
                part = f.read()
            assert self.new.startswith(part), "%s: %s is no part of the new text" % (label, name)
        # A room whose installer still ran when the next run looked is left to a later one.
        rooms = self.m.clean_rooms()
        for room in rooms:
            folder = self.m.room_path(room)
            assert os.listdir(folder) in ([], [INSTALLER]), "%s: %r" % (label, os.listdir(folder))
            if os.listdir(folder):
                part = self.m.read(os.path.join(folder, INSTALLER))
                assert self.installer.startswith(part), "%s: the copy is no part of it" % label
        if not self.m.windows:
            extra = set(os.listdir(self.m.root)) - ROOT_FILES
            assert not extra, "%s: files left: %r" % (label, sorted(extra))
            with open(os.path.join(self.m.root, "registry.reg"), "rb") as f:
                parse_reg(f.read().decode("cp1252"))
        return state, bool(left), bool(rooms)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--stub", required=True, help="the stub installer")
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--mib", type=int, default=32, help="size of the configuration")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--build", choices=["posix", "windows"], default="posix")
    parser.add_argument("--wine-run")
    args = parser.parse_args()
    args.display, args.screenshot, args.fixtures = None, None, None
    seed = args.seed if args.seed is not None else random.randrange(1 << 32)
    rng = random.Random(seed)
    m = Machine(args)
    outcomes = {}
    try:
        if m.windows:
            # One server for the whole run: a server started afresh boots the prefix with a
            # helper program, which a kill at that moment would leave waiting for ever.
            subprocess.run(["wineserver", "-p"], env=dict(os.environ, WINEPREFIX=m.prefix))
        bench = Bench(m, args.mib << 20)
        first, last = bench.window
        print(
            "seed %d; a run takes %.0f ms, its temporary file lives from %.0f to %.0f ms"
            % (seed, bench.total * 1000, first * 1000, last * 1000),
            flush=True,
        )
        for run in range(args.runs):
            bench.reset()
            # Half while the temporary file is written, flushed and renamed, some before; half
            # after, while the installer is copied into its clean room and run.
            delay = rng.uniform(first * 0.7, last) if run % 2 else rng.uniform(last, bench.total)
            process = bench.start()
            time.sleep(delay)
            killed = process.poll() is None
            if killed:
                process.send_signal(signal.SIGKILL)
            process.wait()
            if m.windows:
                bench.settle()
            state, left, room = bench.check("run %d, killed after %.1f ms" % (run, delay * 1000))
            key = "%s%s%s%s" % (
                "killed" if killed else "finished",
                ", " + state,
                ", temporary file left" if left else "",
                ", clean room left" if room else "",
            )
            outcomes[key] = outcomes.get(key, 0) + 1
        if m.windows:
            time.sleep(2)
            stranded = bench.end_stranded_installers()
            if stranded:
                outcomes["installers stranded by a kill in their start, ended"] = stranded
        # The next runs, unkilled, take over what the kills left: a clean room whose installer a
        # killed run started goes once that installer has ended, which on a loaded machine may
        # take a run or two more.
        for _ in range(3):
            time.sleep(2)
            bench.reset()
            process = bench.start()
            assert process.wait() == 0
            final = bench.check("last run")
            if final == ("new", False, False):
                break
        assert final == ("new", False, False), "last runs: update not done: %r" % (final,)
    except AssertionError as error:
        print("FAIL  %s (seed %d)" % (error, seed))
        return 1
    finally:
        m.dispose()
        if m.windows:
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=m.prefix))
    for key, count in sorted(outcomes.items()):
        print("      %4d  %s" % (count, key))
    print("ok    %d runs killed at random" % args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
