#!/usr/bin/env python3
"""Writes the seed inputs of the REGEDIT4, configuration and text-operation fuzzers.

  make_seeds.py OUT_DIR

OUT_DIR/regedit4/: registry texts in the forms this code writes and in foreign layouts (LF line
ends, comments, continued hex lists, abbreviated hives).
OUT_DIR/config/: a template and a configuration each, as config_fuzzer reads them (the template's
length in two bytes, then the template, then the configuration), among them the demo
workstation's files.
OUT_DIR/config_text/: a needle, a replacement and a text each, as config_text_fuzzer reads them.
"""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

REGEDIT4 = {
    "empty": b"",
    "header_only": b"REGEDIT4\r\n\r\n",
    "every_form": (
        b"REGEDIT4\r\n"
        b"\r\n[HKEY_CURRENT_USER\\Software\\ORVANE S.A.]\r\n"
        b'"Soft name"="BELNOR 2000"\r\n'
        b'@="d\xe9faut \\"cit\xe9\\" C:\\\\x"\r\n'
        b'"Caf\xe9"=dword:0000040c\r\n'
        b'"Bin"=hex:00,ff,80\r\n'
        b'"Empty"=hex:\r\n'
        b'"Expand"=hex(2):25,54,45,4d,50,25,00\r\n'
        b'"Multi"=hex(7):61,00,62,00,00\r\n'
        b'"ShortDword"=hex(4):01,02\r\n'
        b'"Lines"=hex(1):61,0d,0a,62,00\r\n'
        b"\r\n[HKEY_USERS\\.DEFAULT\\Other]\r\n"
        b'"kept"="yes"\r\n'
        b"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.\\K220]\r\n"
        b'"OrvaAppPath"="C:\\\\WORVA32\\\\"\r\n'
        b"\r\n"
    ),
    "foreign": (
        b'REGEDIT4\n; comment\n[HKCU\\Software\\A]\n"x" = hex:01,\\\n  02,\\\n  03\n'
        b'[hkcu\\software\\a]\n"y"=dword:1\n"n"="a\\nb"\n@=""\n'
        b'[HKLM\\SOFTWARE\\B\\C]\r\n"q"=hex(b):01,02,03,04,05,06,07,08\r\n'
    ),
}

TEMPLATE = (
    b'<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<configuration>\r\n'
    b"  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>\r\n"
    b"</configuration>\r\n"
)

CONFIG = (
    b'<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<configuration>\r\n'
    b"  <ssvModuleVersion>K220.2014.3.1.0007-02</ssvModuleVersion>\r\n"
    b"  <versionCOD>0302</versionCOD>\r\n"
    b"  <contextFacturation>CABINET</contextFacturation>\r\n"
    b"  <nom>Cabinet m\xe9dical \x80</nom>\r\n"
    b"  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>\r\n"
    b"  <teletransmission>\r\n    <active>0</active>\r\n  </teletransmission>\r\n"
    b"  <!-- <active>0</active> -->\r\n  <scor><active>0</active></scor>\r\n"
    b"</configuration>\r\n"
)

# A contextFacturation value that repeats a pair of tags, then lines that are the whole element
# but its last byte: every byte searched for is frequent, and each place begins a long near-match.
PAIR = b"<contextFacturation></contextFacturatio>"
NEAR_MISS_VALUE = PAIR[20:] + PAIR * 20
NEAR_MISSES = (
    b"<contextFacturation>"
    + NEAR_MISS_VALUE
    + b"</contextFacturation>\r\n"
    + (b"<contextFacturation>" + NEAR_MISS_VALUE + b"</contextFacturation\r\n") * 5
)

CONFIGS = {
    "typical": (TEMPLATE, CONFIG),
    "lf_and_stray_bytes": (
        TEMPLATE.replace(b"\r\n", b"\n"),
        b"a\x1ab\rc\0d\n<active>0</active>\r\r\n<versionCOD>030</versionCOD>",
    ),
    "repeated_elements": (
        TEMPLATE,
        b"<x/><versionCOD>0302</versionCOD><versionCOD>9999</versionCOD>\n"
        b"<contextFacturation>A\nA2</contextFacturation>"
        b"<contextFacturation>A\nA2</contextFacturation>\n"
        b"<ssvModuleVersion></ssvModuleVersion><ssvModuleVersion>old</ssvModuleVersion>\n"
        b"<b></ssvDesactivationControleSpecialitePS> tail\n",
    ),
    "sts_present": (
        b"<ssvModuleVersion>K220.2014.4.2.0001-1</ssvModuleVersion>",
        b"<!-- <ssvDesactivationSTS>Oui</ssvDesactivationSTS> -->\r\n"
        b"<a></ssvDesactivationControleSpecialitePS>\r\n",
    ),
    "line_end_in_cod_version": (
        TEMPLATE,
        b"<a/>\r\n<versionCOD>030\r\n</versionCOD>\r\n<a/>\r\n",
    ),
    "empty_config": (TEMPLATE, b""),
    "near_misses": (TEMPLATE, NEAR_MISSES),
}


# Needle, replacement and text for config_text_fuzzer: the update's own edits, needles that are
# short, periodic, or longer than 256 bytes, and texts where the needle's rarest byte is frequent.
TEXT_EDITS = {
    "inactive": (b"<active>0</active>", b"<active>1</active>", CONFIG),
    "remove_cod": (b"<versionCOD>0302</versionCOD>", b"", CONFIG),
    "line_ends": (b"\n", b"\r\n", b"a\r\nb\rc\r\r\n\n" * 4),
    "short": (b"ab", b"abc", b"xxabxabab" * 8),
    "periodic": (b"abaabaabaab", b"-", b"abaabaabaabaabaab" * 20 + b"abaabaabaab"),
    "long": (
        b"<k>" + b"xy" * 150 + b"</k>",
        b"<k/>",
        b"<k>" + b"xy" * 149 + b"</k>" + b"<k>" + b"xy" * 150 + b"</k>" * 2,
    ),
    "near_misses": (
        PAIR * 9 + b"</contextFacturation>",
        b"",
        (PAIR * 9 + b"</contextFacturation\n") * 8 + PAIR * 9 + b"</contextFacturation>",
    ),
    "rare_byte_everywhere": (b"ab" * 40 + b"b", b"c", b"ab" * 1500 + b"abb" + b"ab" * 40 + b"b"),
}


def demo_pair():
    base = os.path.join(ROOT, "demo", "machine", "drive_c", "WORVA32")
    with open(os.path.join(base, "Configuration.tpl"), "rb") as f:
        template = f.read()
    with open(os.path.join(base, "Configuration.xml"), "rb") as f:
        return template, f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    for name, text in REGEDIT4.items():
        write(os.path.join(out, "regedit4", name + ".reg"), text)
    pairs = dict(CONFIGS, demo=demo_pair())
    for name, (template, config) in pairs.items():
        write(
            os.path.join(out, "config", name), struct.pack("<H", len(template)) + template + config
        )
    for name, (needle, to, text) in TEXT_EDITS.items():
        write(
            os.path.join(out, "config_text", name),
            struct.pack("<HB", len(needle), len(to)) + needle + to + text,
        )


if __name__ == "__main__":
    main()
