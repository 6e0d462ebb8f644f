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


def main():
    out = sys.argv[1]
    hostile = os.path.join(out, "hostile")
    os.makedirs(hostile, exist_ok=True)
    os.makedirs(os.path.join(out, "oversized"), exist_ok=True)
    # Written at the top level by earlier versions of this script, where the cross-check would
    # hand it to the system's library.
    if os.path.exists(os.path.join(out, "synth_data_past_file_end.dll")):
        os.remove(os.path.join(out, "synth_data_past_file_end.dll"))

    def put(name, image, where=out):
        write_image(os.path.join(where, name), image)

    # Well formed, both image kinds.
    put("synth_pe32.dll", version_image(full()))
    put("synth_pe32plus.dll", version_image(full(), pe32plus=True))
    # A root block whose value is not 52 bytes: the fixed block stays zero, the strings are read.
    put(
        "synth_root48.dll",
        version_image(
            version_info(
                fixed_info(0x07DE0003, 0)[:48], [("040904B0", FULL_STRINGS[:3])], [(0x0409, 1200)]
            )
        ),
    )
    put(
        "synth_root_empty.dll",
        version_image(version_info(b"", [("040904B0", FULL_STRINGS[:3])], [(0x0409, 1200)])),
    )
    # Translation tables: none, empty, shorter than an entry, not a multiple of 4 bytes.
    strings = [("040904B0", FULL_STRINGS[:2])]
    put("synth_trans_none.dll", version_image(version_info(fixed_info(0x07DE0004, 0), strings)))
    put(
        "synth_trans_empty.dll",
        version_image(version_info(fixed_info(0x07DE0005, 0), strings, b"")),
    )
    put(
        "synth_trans_3.dll",
        version_image(version_info(fixed_info(0x07DE0006, 0), strings, b"\x09\x04\xb0")),
    )
    put(
        "synth_trans_6.dll",
        version_image(
            version_info(fixed_info(0x07DE0007, 0), strings, b"\x09\x04\xb0\x04\x0c\x04")
        ),
    )
    # Keys in other cases, as resource compilers write them ("OriginalFilename").
    put(
        "synth_key_case.dll",
        version_image(
            Node(
                "vs_version_info",
                fixed_info(0x07DE0008, 0),
                [
                    Node(
                        "STRINGFILEINFO",
                        b"",
                        [
                            Node(
                                "040904b0",
                                b"",
                                [
                                    Node("companyname", "lower"),
                                    Node("OriginalFilename", "mixed"),
                                    Node("PRODUCTNAME", "upper"),
                                ],
                            )
                        ],
                    ),
                    Node(
                        "varfileinfo", b"", [Node("TRANSLATION", struct.pack("<HH", 0x0409, 1200))]
                    ),
                ],
            )
        ),
    )
    # Texts: characters outside cp1252 (best fit and '?'), C1 controls, a surrogate pair, an
    # empty value, a value without its zero, a value whose length counts bytes, not characters.
    put(
        "synth_text.dll",
        version_image(
            version_info(
                fixed_info(0x07DE0009, 0),
                [
                    (
                        "040904B0",
                        [
                            ("CompanyName", "A\u0100B\u0080C\u0081D\u4e2dE\u00ff"),
                            ("FileDescription", "x\u2122y\u0152z\U0001F600!"),
                            ("FileVersion", ""),
                        ],
                    )
                ],
                [(0x0409, 1200)],
            )
        ),
    )
    no_zero = Node(
        "ProductName", None, raw_value="NoZero".encode("utf-16-le"), w_type=1, w_value_length=6
    )
    byte_count = Node(
        "ProductVersion", None, raw_value=utf16z_("2014.9"), w_type=1, w_value_length=14
    )
    nothing = Node("Comments", None, raw_value=b"", w_type=1, w_value_length=0)
    put(
        "synth_text_lengths.dll",
        version_image(
            Node(
                "VS_VERSION_INFO",
                fixed_info(0x07DE000A, 0),
                [
                    Node(
                        "StringFileInfo",
                        b"",
                        [
                            Node(
                                "040904B0",
                                b"",
                                [no_zero, byte_count, nothing, Node("SpecialBuild", "after")],
                            )
                        ],
                    ),
                    Node(
                        "VarFileInfo", b"", [Node("Translation", struct.pack("<HH", 0x0409, 1200))]
                    ),
                ],
            )
        ),
    )
    # No version resource: no resources at all, others only, a version resource not named 1.
    put("synth_no_resources.dll", pe_image(None))
    put(
        "synth_rcdata_only.dll",
        pe_image(lambda rva: resource_section([(RT_RCDATA, 1, 0x0409, b"data")], rva)[0]),
    )
    put(
        "synth_version_name2.dll",
        pe_image(
            lambda rva: resource_section([(RT_VERSION, 2, 0x0409, full().to_bytes())], rva)[0]
        ),
    )
    # Not PE images.
    with open(os.path.join(out, "not_pe.txt"), "wb") as f:
        f.write(b"This is not a PE image.\r\n")
    with open(os.path.join(out, "synth_mz_only.exe"), "wb") as f:
        f.write(b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40) + b"\0" * 0x40)
    with open(os.path.join(out, "empty.dll"), "wb") as f:
        pass

    # Version resources declaring 1 MiB and 16 MiB in a file of 68 KiB, and one in two languages
    # whose second, English (US), the one chosen for it, alone declares 1 MiB.
    put("declared_1mib.dll", oversized(1 << 20), os.path.join(out, "oversized"))
    put("declared_16mib.dll", oversized(16 << 20), os.path.join(out, "oversized"))
    put(
        "second_language_1mib.dll",
        oversized(1 << 20, (0x0407, 0x0409)),
        os.path.join(out, "oversized"),
    )

    # Hostile: truncations of a good image at every interesting point, and corruptions.
    good = image_bytes(version_image(full()))
    for cut in (
        0,
        1,
        2,
        0x3C,
        0x40,
        0x42,
        0x44,
        0x58,
        0x5A,
        0x100,
        0x178,
        0x1A0,
        0x200,
        0x210,
        0x230,
        0x260,
        0x300,
    ):
        with open(os.path.join(hostile, "cut_%04x.dll" % cut), "wb") as f:
            f.write(good[:cut])
    corrupt = {
        "lfanew_far.dll": (0x3C, struct.pack("<I", 0xFFFFFFF0)),
        "sections_many.dll": (0x46, struct.pack("<H", 0xFFFF)),
        "optional_huge.dll": (0x54, struct.pack("<H", 0xFFFF)),
        "rva_count_2.dll": (0x40 + 24 + 92, struct.pack("<I", 2)),
    }
    for name, (at, patch) in corrupt.items():
        data = bytearray(good)
        data[at : at + len(patch)] = patch
        with open(os.path.join(hostile, name), "wb") as f:
            f.write(data)

    def rsrc_patched(name, patcher, node=None, where=hostile):
        node = node or full()

        def section(rva):
            data, entries = resource_section([(RT_VERSION, 1, 0x0409, node.to_bytes())], rva)
            data = bytearray(data)
            patcher(data, entries, rva)
            return bytes(data)

        put(name, pe_image(section), where)

    # Cut right after the version data: the resource section's raw data runs past the end of the
    # file while the version data lies inside it, which the system reads (a mapping of the file).
    version = full().to_bytes()
    with open(os.path.join(out, "synth_section_cut.dll"), "wb") as f:
        f.write(good[: good.find(version) + len(version)])
    # Version data running past the end of the file: read as it stands, the system copies from
    # beyond its mapping of the file.
    rsrc_patched(
        "synth_data_past_file_end.dll",
        lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0x1000),
        where=os.path.join(out, "oversized"),
    )

    # Version data just past the resource section's raw data, where the file goes on with the
    # same bytes, and ending just at its last byte: no section holds the first, the section holds
    # all of the second.
    def data_at_raw_end(past):
        def section(rva):
            data, entries = resource_section([(RT_VERSION, 1, 0x0409, version)], rva)
            data = bytearray(data)
            at = align(len(data) + (0 if past else len(version)), 0x200) - (
                0 if past else len(version)
            )
            data += bytes(at - len(data)) + (b"" if past else version)
            struct.pack_into("<I", data, entries[0], rva + at)
            return bytes(data)

        return pe_image(section, overlay=version if past else b"")

    put("data_past_raw_end.dll", data_at_raw_end(True), hostile)
    put("data_at_raw_end.dll", data_at_raw_end(False), hostile)

    rsrc_patched(
        "dir_offset_out.dll", lambda d, e, rva: struct.pack_into("<I", d, 16 + 4, 0x8000FFF0)
    )
    rsrc_patched("dir_count_huge.dll", lambda d, e, rva: struct.pack_into("<H", d, 14, 0xFFFF))
    rsrc_patched(
        "dir_self_loop.dll", lambda d, e, rva: struct.pack_into("<I", d, 16 + 4, 0x80000000)
    )
    rsrc_patched("data_rva_out.dll", lambda d, e, rva: struct.pack_into("<I", d, e[0], 0x7FFF0000))
    rsrc_patched(
        "data_size_huge.dll", lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0x7FFFFFFF)
    )
    rsrc_patched("data_size_0.dll", lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 0))
    rsrc_patched("data_size_5.dll", lambda d, e, rva: struct.pack_into("<I", d, e[0] + 4, 5))
    broken = full()
    broken.w_length = 0xFFF0
    rsrc_patched("root_longer_than_data.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.w_length = 4
    rsrc_patched("root_length_4.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.w_type = 0x56  # a 16-bit block's key where wType is
    rsrc_patched("block_16bit.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.children[0].children[0].children[0].w_length = 0xFFFF  # a child longer than its parent
    rsrc_patched("child_too_long.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.children[0].children[0].children[0].w_length = 0  # a child of length 0 ends the scan
    rsrc_patched("child_length_0.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.children[0].children[0].children[0].raw_key = "CompanyName".encode("utf-16-le")
    broken.children[0].children[0].children[0].w_length = 6 + 22
    rsrc_patched("key_unterminated.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.children[0].children[0].children[1].w_value_length = 0xFFFF  # text past the block
    rsrc_patched("text_past_block.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.children[1].children[0].w_value_length = 0xFFFF  # translation table past the block
    rsrc_patched("table_past_block.dll", lambda d, e, rva: None, broken)
    broken = full()
    broken.w_value_length = 0xFFFF  # fixed block past the block
    rsrc_patched("fixed_past_block.dll", lambda d, e, rva: None, broken)


def utf16z_(text):
    return text.encode("utf-16-le") + b"\0\0"


if __name__ == "__main__":
    main()
