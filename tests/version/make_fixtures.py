#!/usr/bin/env python3
"""Writes the synthetic version-resource fixtures made by our PE writer.

  make_fixtures.py OUT_DIR

OUT_DIR/*.dll (and not_pe.txt) are well-formed or gently malformed images that the system's version
library reads without harm, and whose reading both builds and the system's library agree on (the
cross-check compares them); OUT_DIR/oversized/* are images whose version resource declares more
than the file holds, up to 16 MiB in 68 KiB, which the system's library copies in full, past the
end of its mapping of the file (the cross-check compares only our two builds on them);
OUT_DIR/hostile/* are truncated and corrupted images that only have to be read without harm (size
0 or load 0 where the readers state so).
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_writer import (
    RT_RCDATA,
    RT_VERSION,
    Node,
    align,
    fixed_info,
    image_bytes,  # noqa
    pe_image,
    resource_section,
    utf16z,
    version_image,
    version_info,
    write_image,
)

FULL_STRINGS = [
    ("CompanyName", "ORVANE S.A."),
    ("FileDescription", "Biblioth\u00e8que de tarification"),
    ("FileVersion", "2014.2.0.17"),
    ("InternalName", "TarifLib"),
    ("LegalCopyright", "\u00a9 ORVANE 2014 \u2013 \u20ac"),
    ("OriginalFileName", "TarifLib.dll"),
    ("ProductName", "ORVANE K220"),
    ("ProductVersion", "2014.2"),
    ("Comments", "\u0152uvre \u00e9t\u00e9"),
    ("LegalTrademarks", "ORVANE\u2122"),
    ("PrivateBuild", "pb"),
    ("SpecialBuild", "sb"),
]


def full(pe32plus=False):
    return version_info(
        fixed_info(0x07DE0002, 0x00000011, flags=0x20, date_ms=1, date_ls=2),
        [("040904B0", FULL_STRINGS)],
        [(0x0409, 1200)],
    )


OVERSIZED_FILE = 68 * 1024


def oversized(declared, languages=(0x0409,)):
    """An image of OVERSIZED_FILE bytes with a sound 2014.2 version resource in each of
    |languages| (in the directory's order), of which the last declares |declared| bytes: its
    first 64 KiB lie inside the file, the rest far beyond it."""
    resources = [(RT_VERSION, 1, lang, full().to_bytes()) for lang in languages]

    def section(rva):
        data, entries = resource_section(resources, rva)
        data = bytearray(data)
        struct.pack_into("<I", data, entries[-1] + 4, declared)
        return bytes(data) + bytes(OVERSIZED_FILE - 0x200 - len(data))

    image = pe_image(section)
    assert len(image_bytes(image)) == OVERSIZED_FILE
    return image


# English (US) in Unicode: a string table of FULL_STRINGS' first three, and the translation table.
US_STRINGS = [("040904B0", FULL_STRINGS[:3])]
US_TABLE = [(0x0409, 1200)]
# The keys of a version tree's blocks: the root's, StringFileInfo's, its string table's,
# VarFileInfo's and Translation's; as usual, and in other cases, as resource compilers write them.
USUAL_KEYS = ("VS_VERSION_INFO", "StringFileInfo", "040904B0", "VarFileInfo", "Translation")
OTHER_CASES = ("vs_version_info", "STRINGFILEINFO", "040904b0", "varfileinfo", "TRANSLATION")
# The lengths at which a good image is cut: at every point where reading it changes course.
# fmt: off
CUTS = (0, 1, 2, 0x3C, 0x40, 0x42, 0x44, 0x58, 0x5A, 0x100, 0x178, 0x1A0, 0x200, 0x210, 0x230,
        0x260, 0x300)
# fmt: on
# Headers of a good image overwritten: the offset and the bytes written there.
CORRUPT_HEADERS = {
    "lfanew_far.dll": (0x3C, struct.pack("<I", 0xFFFFFFF0)),
    "sections_many.dll": (0x46, struct.pack("<H", 0xFFFF)),
    "optional_huge.dll": (0x54, struct.pack("<H", 0xFFFF)),
    "rva_count_2.dll": (0x40 + 24 + 92, struct.pack("<I", 2)),
}
# The resource section's directories and data entry broken: each patcher is given the section's
# bytes, the offsets of its data entries and its RVA.
BROKEN_DIRECTORIES = {
    "dir_offset_out.dll": lambda d, e, rva: struct.pack_into("<I", d, 16 + 4, 0x8000FFF0),
    "dir_count_huge.dll": lambda d, e, rva: struct.pack_into("<H", d, 14, 0xFFFF),
    "dir_self_loop.dll": lambda d, e, rva: struct.pack_into("<I", d, 16 + 4, 0x80000000),
    "data_rva_out.dll": lambda d, e, rva: struct.pack_into("<I", d, e[0], 0x7FFF0000),
    "data_size_huge.dll": lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0x7FFFFFFF),
    "data_size_0.dll": lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0),
    "data_size_5.dll": lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 5),
}
# A key without its zero.
UNTERMINATED_KEY = "CompanyName".encode("utf-16-le")
# full()'s version tree broken: the node changed (the child indexes that lead to it from the root)
# and its fields' new values.
BROKEN_BLOCKS = [
    ("root_longer_than_data.dll", (), {"w_length": 0xFFF0}),
    ("root_length_4.dll", (), {"w_length": 4}),
    ("block_16bit.dll", (), {"w_type": 0x56}),  # a 16-bit block's key where wType is
    ("child_too_long.dll", (0, 0, 0), {"w_length": 0xFFFF}),  # a child longer than its parent
    ("child_length_0.dll", (0, 0, 0), {"w_length": 0}),  # a child of length 0 ends the scan
    ("key_unterminated.dll", (0, 0, 0), {"raw_key": UNTERMINATED_KEY, "w_length": 6 + 22}),
    ("text_past_block.dll", (0, 0, 1), {"w_value_length": 0xFFFF}),  # text past the block
    ("table_past_block.dll", (1, 0), {"w_value_length": 0xFFFF}),  # translation table past it
    ("fixed_past_block.dll", (), {"w_value_length": 0xFFFF}),  # fixed block past the block
]


def put(where, name, image):
    """Writes |image| as |name| in the folder |where|."""
    write_image(os.path.join(where, name), image)


def put_bytes(where, name, data):
    """Writes |data| as |name| in the folder |where|."""
    with open(os.path.join(where, name), "wb") as f:
        f.write(data)


def put_patched(where, name, patcher, node=None):
    """Writes an image of |node|'s version resource (full()'s by default) whose resource section
    |patcher| changes once it is laid out, as BROKEN_DIRECTORIES' patchers do."""
    node = node or full()

    def section(rva):
        data, entries = resource_section([(RT_VERSION, 1, 0x0409, node.to_bytes())], rva)
        data = bytearray(data)
        patcher(data, entries, rva)
        return bytes(data)

    put(where, name, pe_image(section))


def version_tree(keys, version, texts):
    """A version tree of |version| with |keys| (as USUAL_KEYS), whose one string table holds the
    nodes |texts| and whose translation table names English (US) in Unicode."""
    root, string_info, table, var_info, translation = keys
    string_tables = Node(string_info, b"", [Node(table, b"", texts)])
    translations = Node(var_info, b"", [Node(translation, struct.pack("<HH", 0x0409, 1200))])
    return Node(root, fixed_info(version, 0), [string_tables, translations])


def make_folders(out):
    """The fixture folders below |out|, without what earlier versions of this script left."""
    os.makedirs(os.path.join(out, "hostile"), exist_ok=True)
    os.makedirs(os.path.join(out, "oversized"), exist_ok=True)
    # Written at the top level by earlier versions of this script, where the cross-check would
    # hand it to the system's library.
    if os.path.exists(os.path.join(out, "synth_data_past_file_end.dll")):
        os.remove(os.path.join(out, "synth_data_past_file_end.dll"))


def write_blocks(out):
    """Well-formed images of both kinds, then root blocks, translation tables and keys off the
    usual."""
    put(out, "synth_pe32.dll", version_image(full()))
    put(out, "synth_pe32plus.dll", version_image(full(), pe32plus=True))
    # A root block whose value is not 52 bytes: the fixed block stays zero, the strings are read.
    root48 = fixed_info(0x07DE0003, 0)[:48]
    put(out, "synth_root48.dll", version_image(version_info(root48, US_STRINGS, US_TABLE)))
    put(out, "synth_root_empty.dll", version_image(version_info(b"", US_STRINGS, US_TABLE)))
    # Translation tables: none, empty, shorter than an entry, not a multiple of 4 bytes.
    strings = [("040904B0", FULL_STRINGS[:2])]
    for name, version, table in (
        ("synth_trans_none.dll", 0x07DE0004, None),
        ("synth_trans_empty.dll", 0x07DE0005, b""),
        ("synth_trans_3.dll", 0x07DE0006, b"\x09\x04\xb0"),
        ("synth_trans_6.dll", 0x07DE0007, b"\x09\x04\xb0\x04\x0c\x04"),
    ):
        put(out, name, version_image(version_info(fixed_info(version, 0), strings, table)))
    texts = [
        Node("companyname", "lower"),
        Node("OriginalFilename", "mixed"),
        Node("PRODUCTNAME", "upper"),
    ]
    put(out, "synth_key_case.dll", version_image(version_tree(OTHER_CASES, 0x07DE0008, texts)))


def write_texts(out):
    """Texts outside cp1252, and values whose lengths are empty, short or counted in bytes."""
    # Characters outside cp1252 (best fit and '?'), C1 controls, a surrogate pair, an empty value.
    texts = [
        ("CompanyName", "A\u0100B\u0080C\u0081D\u4e2dE\u00ff"),
        ("FileDescription", "x\u2122y\u0152z\U0001F600!"),
        ("FileVersion", ""),
    ]
    info = version_info(fixed_info(0x07DE0009, 0), [("040904B0", texts)], US_TABLE)
    put(out, "synth_text.dll", version_image(info))
    # A value without its zero, a value whose length counts bytes, not characters.
    no_zero = Node(
        "ProductName", None, raw_value="NoZero".encode("utf-16-le"), w_type=1, w_value_length=6
    )
    byte_count = Node(
        "ProductVersion", None, raw_value=utf16z("2014.9"), w_type=1, w_value_length=14
    )
    nothing = Node("Comments", None, raw_value=b"", w_type=1, w_value_length=0)
    texts = [no_zero, byte_count, nothing, Node("SpecialBuild", "after")]
    put(out, "synth_text_lengths.dll", version_image(version_tree(USUAL_KEYS, 0x07DE000A, texts)))


def write_without_version(out):
    """Images without a version resource, and files that are no PE image."""
    # No resources at all, others only, a version resource not named 1.
    put(out, "synth_no_resources.dll", pe_image(None))
    rcdata = [(RT_RCDATA, 1, 0x0409, b"data")]
    put(out, "synth_rcdata_only.dll", pe_image(lambda rva: resource_section(rcdata, rva)[0]))
    named_2 = [(RT_VERSION, 2, 0x0409, full().to_bytes())]
    put(out, "synth_version_name2.dll", pe_image(lambda rva: resource_section(named_2, rva)[0]))
    # Not PE images.
    put_bytes(out, "not_pe.txt", b"This is not a PE image.\r\n")
    mz_only = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40) + b"\0" * 0x40
    put_bytes(out, "synth_mz_only.exe", mz_only)
    put_bytes(out, "empty.dll", b"")


def write_oversized(folder):
    """Version resources that declare more than the file holds."""
    # 1 MiB and 16 MiB in a file of 68 KiB, and one in two languages whose second, English (US),
    # the one chosen for it, alone declares 1 MiB.
    put(folder, "declared_1mib.dll", oversized(1 << 20))
    put(folder, "declared_16mib.dll", oversized(16 << 20))
    put(folder, "second_language_1mib.dll", oversized(1 << 20, (0x0407, 0x0409)))
    # Version data running past the end of the file: read as it stands, the system copies from
    # beyond its mapping of the file.
    put_patched(
        folder,
        "synth_data_past_file_end.dll",
        lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0x1000),
    )


def write_truncated(out, hostile, good):
    """|good|, an image's bytes, cut short and with corrupt headers."""
    for cut in CUTS:
        put_bytes(hostile, "cut_%04x.dll" % cut, good[:cut])
    for name, (at, patch) in CORRUPT_HEADERS.items():
        data = bytearray(good)
        data[at : at + len(patch)] = patch
        put_bytes(hostile, name, data)
    # Cut right after the version data: the resource section's raw data runs past the end of the
    # file while the version data lies inside it, which the system reads (a mapping of the file).
    version = full().to_bytes()
    put_bytes(out, "synth_section_cut.dll", good[: good.find(version) + len(version)])


def data_at_raw_end(past):
    """An image whose version data lies just past its resource section's raw data, where the
    file goes on with the same bytes, when |past|; else ending just at the section's last byte:
    no section holds the first, the section holds all of the second."""
    version = full().to_bytes()

    def section(rva):
        data, entries = resource_section([(RT_VERSION, 1, 0x0409, version)], rva)
        data = bytearray(data)
        at = align(len(data) + (0 if past else len(version)), 0x200) - (0 if past else len(version))
        data += bytes(at - len(data)) + (b"" if past else version)
        struct.pack_into("<I", data, entries[0], rva + at)
        return bytes(data)

    return pe_image(section, overlay=version if past else b"")


def write_broken_resources(hostile):
    """Version data at the section's raw end, broken resource directories and version blocks."""
    put(hostile, "data_past_raw_end.dll", data_at_raw_end(True))
    put(hostile, "data_at_raw_end.dll", data_at_raw_end(False))
    for name, patcher in BROKEN_DIRECTORIES.items():
        put_patched(hostile, name, patcher)
    for name, path, fields in BROKEN_BLOCKS:
        root = full()
        node = root
        for index in path:
            node = node.children[index]
        for field, value in fields.items():
            setattr(node, field, value)
        put_patched(hostile, name, lambda d, e, rva: None, root)


def main():
    out = sys.argv[1]
    hostile = os.path.join(out, "hostile")
    make_folders(out)
    write_blocks(out)
    write_texts(out)
    write_without_version(out)
    write_oversized(os.path.join(out, "oversized"))
    write_truncated(out, hostile, image_bytes(version_image(full())))
    write_broken_resources(hostile)


if __name__ == "__main__":
    main()
