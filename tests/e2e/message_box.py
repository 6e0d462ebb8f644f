"""Message boxes of the Windows build under Wine: a virtual X display, and a watcher that finds a
box by its caption, keeps a screenshot of it and presses OK, as an administrator would."""
import os
import shutil
import subprocess
import threading
import time


class Display:
    """An Xvfb server for the length of a test run."""

    def __init__(self):
        # The server takes the first free display itself and says which once it accepts
        # connections: test runs of several checkouts may start theirs at the same moment.
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write)
        with os.fdopen(read) as announced:
            number = announced.readline().strip()
        assert number.isdigit(), "Xvfb did not start"
        self.name = ":" + number

    def close(self):
        self.process.terminate()
        self.process.wait()


def available():
    return all(shutil.which(tool) for tool in ("Xvfb", "xdotool", "xdpyinfo"))


class BoxWatcher(threading.Thread):
    """Waits for windows captioned |caption|; for each, takes a screenshot and presses Return."""

    def __init__(self, display, caption, screenshot=None, timeout=60):
        super().__init__(daemon=True)
        self.env = dict(os.environ, DISPLAY=display.name)
        self.caption = caption
        self.screenshot = screenshot
        self.timeout = timeout
        self.boxes = 0
        self.stopping = threading.Event()

    def find(self):
        return subprocess.run(
            ["xdotool", "search", "--name", "^%s$" % self.caption],
            env=self.env,
            capture_output=True,
            text=True,
        ).stdout.split()

    def run(self):
        deadline = time.monotonic() + self.timeout
        while not self.stopping.is_set() and time.monotonic() < deadline:
            found = self.find()
            if not found:
                time.sleep(0.2)
                continue
            time.sleep(0.5)  # let the box draw its text before the picture is taken
            if self.screenshot and self.boxes == 0 and shutil.which("import"):
                subprocess.run(
                    ["import", "-window", "root", self.screenshot],
                    env=self.env,
                    stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL,
                )
            for window in found:
                subprocess.run(
                    ["xdotool", "key", "--window", window, "Return"],
                    env=self.env,
                    stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL,
                )
            self.boxes += 1
            while self.find() and time.monotonic() < deadline:  # one box, however many windows
                time.sleep(0.1)

    def stop(self):
        self.stopping.set()
        self.join()
