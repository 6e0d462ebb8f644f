"""Scenarios of the setup log: one section a run, wherever the log's file can be written."""
import os

from harness import ACCEPTED, ACCEPTED_LINE, END, START, hold, mask


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
    outside = os.path.join(m.drive_c, "outside.txt")
    try:
        for in_windows, in_documents, section in LOG_CASES:
            m.clean()
            m.reset()
            documents = m.documents_log_path()
            with open(outside, "wb") as f:
                f.write(b"another program's file\r\n")
            viewer = None
            for path, plant in ((m.log_path(), in_windows), (documents, in_documents)):
                if plant in ("viewer", "holder"):
                    with open(path, "wb"):
                        pass
                    viewer = hold(
                        m, path, 60000 if plant == "viewer" else 400, shared=plant == "viewer"
                    )
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
                found = (
                    mask(m.read(path))
                    if os.path.isfile(path)
                    and not os.path.islink(path)
                    and os.stat(path).st_nlink == 1
                    else None
                )
                assert found == expected, (what, where, found)
    finally:
        m.clean()  # the Windows directory's plant
        m.documents_log_path()  # and the Documents one, which Wine's prefix keeps for later tests
        if os.path.exists(outside):
            os.remove(outside)
