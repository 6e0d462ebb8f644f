"""Scenarios of the configuration update: the billing module's configuration and its copy after
a run, on an installation accepted by its recorded version."""
import os
import subprocess

from run_scenarios import (ACCEPTED, ACCEPTED_LINE, END, INSTALLED, SEP, START, TO_CHECK,
                           family_keys, parse_reg)


def crlf(*lines):
    return b"".join(line.encode("cp1252") + b"\r\n" for line in lines)


TEMPLATE = crlf('<?xml version="1.0" encoding="ISO-8859-1"?>', "<configuration>",
                "  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>", "</configuration>")
CONFIG = crlf('<?xml version="1.0" encoding="ISO-8859-1"?>', "<configuration>",
              "  <ssvModuleVersion>K220.2014.3.1.0007-02</ssvModuleVersion>",
              "  <versionCOD>0302</versionCOD>",
              "  <contextFacturation>CABINET</contextFacturation>",
              "  <libelle>Télétransmission</libelle>",
              "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
              "  <teletransmission><active>0</active></teletransmission>",
              "  <scor>", "    <active>0</active>", "  </scor>", "</configuration>")
UPDATED = crlf('<?xml version="1.0" encoding="ISO-8859-1"?>', "<configuration>",
               "  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>", "  ", "  ",
               "  <libelle>Télétransmission</libelle>",
               "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
               "<!-- Deactivation STS global -->",
               "<ssvDesactivationSTS>Non</ssvDesactivationSTS>", "",
               "  <teletransmission><active>1</active></teletransmission>",
               "  <scor>", "    <active>1</active>", "  </scor>", "</configuration>")
# The copy: LF line ends, the last line without one, a version in the old COD form.
COPY = (b"<configuration>\n<ssvModuleVersion></ssvModuleVersion>\n<versionCOD>123</versionCOD>\n"
        b"<active>0</active>")
COPY_UPDATED = crlf("<configuration>", "<ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>",
                    "<versionCOD>123</versionCOD>", "<active>1</active>")


def install(m, template=TEMPLATE, config=CONFIG, copy=COPY):
    m.install_product(template, config, copy)


def assert_installer_ran(m, result):
    assert result.returncode == 0, result
    record = m.record()
    assert record is not None and record.endswith("argc=1\ndone\n"), record
    # The update writes nothing to the log.
    assert m.log() == START + ACCEPTED_LINE + END, m.log()


FILES = ["Configuration.tpl", "Configuration.xml", os.path.join("Temp", "ssvConfig", "Configuration.xml")]


def scenario_configuration_and_copy_rewritten(m):
    m.set_registry(ACCEPTED)
    m.install_stub()
    install(m)
    result, _ = m.run()
    assert_installer_ran(m, result)
    assert m.read(m.config_path()) == UPDATED, m.read(m.config_path())
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED, m.read(m.config_path(copy=True))
    assert m.listing() == sorted(FILES), m.listing()  # no temporary file or backup left
    assert m.event() == ("information", 1000, [
        INSTALLED + "configuration mise \u00e0 jour, copie mise \u00e0 jour, programme "
        "d'installation termin\u00e9 avec le code 0.",
        "Orvane XP", "2014.4", "updated", "updated", "0"]), m.event()


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
    assert m.event() == ("warning", 1001, [
        TO_CHECK + "configuration laiss\u00e9e telle quelle (lecture seule), copie mise \u00e0 jour, "
        "programme d'installation termin\u00e9 avec le code 0.",
        "Orvane XP", "2014.4", "left: read-only", "updated", "0"]), m.event()


def scenario_two_launchers_at_once_each_update_whole(m):
    # A double-click twice: both runs start together, the first one's installer waits until the
    # second run has ended. Each file then holds the whole update, the registry one stamp, and
    # the run that found the log held wrote its section to the Documents log.
    import check_scenarios
    m.set_registry(check_scenarios.LIBRARY_ACCEPTED)
    m.install_library("tariflib.dll")
    m.install_stub()
    # Large enough for the two updates to overlap.
    grown = lambda text, active: text.replace(
        b"</configuration>", b"  <module><active>%s</active></module>\r\n" % active * 100000 +
        b"</configuration>")
    install(m, config=grown(CONFIG, b"0"))
    documents = m.documents_log_path()
    flag = os.path.join(m.launcher_dir, "second-run-ended")
    first = m.command(extra_env={"STUB_WAIT_FOR": m.windows_path(flag)})
    second = m.command(extra_env={
        "STUB_RECORD": m.windows_path(os.path.join(m.launcher_dir, "record2.txt"))})
    runs = [subprocess.Popen(command, env=env, cwd=m.drive_c, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL) for command, env in (first, second)]
    try:
        assert runs[1].wait(timeout=120) == 0
        assert runs[0].poll() is None, "the first run ended before the second"
    finally:
        open(flag, "wb").close()
        statuses = [run.wait(timeout=120) for run in runs]
        m.settle(first[1])
    assert statuses == [0, 0], statuses
    for path in (m.log_path(), documents):
        log = m.read(path)
        assert log.count(SEP) == 3 and log.endswith(SEP + b"\r\n\r\n"), (path, log)
    assert m.read(m.config_path()) == grown(UPDATED, b"1"), m.read(m.config_path())[:300]
    assert m.read(m.config_path(copy=True)) == COPY_UPDATED, m.read(m.config_path(copy=True))
    assert m.listing() == sorted(FILES + ["TarifLib.dll"]), m.listing()
    expected = family_keys(parse_reg(check_scenarios.LIBRARY_STAMPED))
    assert m.registry() == expected, m.registry()
