"""A small writer of PE images with a version resource, for fixtures, the fuzzer's seeds and the
benchmark. Everything here is made by our own code; nothing comes from elsewhere.

Version data is a tree of nodes (wLength, wValueLength, wType, UTF-16 key, value, children), each
part aligned on 4 bytes from the node's start. A node may override any of its computed fields to
make malformed data.
"""
import struct

RT_VERSION = 16
RT_RCDATA = 10


def align(n, a):
    return (n + a - 1) // a * a


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


class Node:
    """One VS_VERSIONINFO node. |value| is bytes (binary, wType 0) or str (text, wType 1)."""

    def __init__(
        self,
        key,
        value=b"",
        children=(),
        w_length=None,
        w_value_length=None,
        w_type=None,
        raw_key=None,
        raw_value=None,
    ):
        self.key = key
        self.value = value
        self.children = list(children)
        self.w_length = w_length
        self.w_value_length = w_value_length
        self.w_type = w_type
        self.raw_key = raw_key
        self.raw_value = raw_value

    def to_bytes(self):
        text = isinstance(self.value, str)
        w_type = self.w_type if self.w_type is not None else (1 if text else 0)
        if self.raw_value is not None:
            value = self.raw_value
        elif text:
            value = utf16z(self.value) if self.value is not None else b""
        else:
            value = self.value
        if self.w_value_length is not None:
            w_value_length = self.w_value_length
        elif text:
            w_value_length = len(value) // 2
        else:
            w_value_length = len(value)
        body = bytearray(6)
        body += self.raw_key if self.raw_key is not None else utf16z(self.key)
        body += b"\0" * (align(len(body), 4) - len(body))
        body += value
        for child in self.children:
            body += b"\0" * (align(len(body), 4) - len(body))
            body += child.to_bytes()
        w_length = self.w_length if self.w_length is not None else len(body)
        struct.pack_into("<HHH", body, 0, w_length & 0xFFFF, w_value_length & 0xFFFF, w_type)
        return bytes(body)


def fixed_info(
    file_ms,
    file_ls,
    product_ms=None,
    product_ls=None,
    flags_mask=0x3F,
    flags=0,
    os=0x00040004,
    file_type=2,
    subtype=0,
    date_ms=0,
    date_ls=0,
):
    product_ms = file_ms if product_ms is None else product_ms
    product_ls = file_ls if product_ls is None else product_ls
    return struct.pack(
        "<13I",
        0xFEEF04BD,
        0x00010000,
        file_ms,
        file_ls,
        product_ms,
        product_ls,
        flags_mask,
        flags,
        os,
        file_type,
        subtype,
        date_ms,
        date_ls,
    )


def version_info(fixed, tables, translation=None, root_key="VS_VERSION_INFO"):
    """|tables|: list of (block name like "040904B0", [(key, text), ...]);
    |translation|: list of (lang, codepage) or raw bytes, None for no VarFileInfo."""
    children = []
    if tables is not None:
        children.append(
            Node(
                "StringFileInfo",
                b"",
                [Node(name, b"", [Node(k, v) for k, v in strings]) for name, strings in tables],
            )
        )
    if translation is not None:
        if isinstance(translation, (bytes, bytearray)):
            table = bytes(translation)
        else:
            table = b"".join(struct.pack("<HH", lang, cp) for lang, cp in translation)
        children.append(Node("VarFileInfo", b"", [Node("Translation", table)]))
    return Node(root_key, fixed, children)


def resource_section(resources, section_rva):
    """|resources|: list of (type, name, lang, data bytes), ids only.
    Returns the bytes of a .rsrc section placed at |section_rva|, and the list of data-entry
    offsets within it (for corrupting)."""
    tree = {}
    for rtype, name, lang, data in resources:
        tree.setdefault(rtype, {}).setdefault(name, {})[lang] = data

    def directory(ids):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(ids))

    # Layout: all directories first (breadth first), then data entries, then data.
    out = bytearray()
    fixups = []  # (position of an offset field, key of the target, is_directory)
    positions = {}

    def emit_dir(key, ids):
        positions[key] = len(out)
        out.extend(directory(ids))
        for i in ids:
            fixups.append((len(out) + 4, key + (i,)))
            out.extend(struct.pack("<II", i, 0))

    emit_dir((), sorted(tree))
    for t in sorted(tree):
        emit_dir((t,), sorted(tree[t]))
    for t in sorted(tree):
        for n in sorted(tree[t]):
            emit_dir((t, n), sorted(tree[t][n]))
    entries = []
    for t in sorted(tree):
        for n in sorted(tree[t]):
            for lang in sorted(tree[t][n]):
                positions[(t, n, lang)] = len(out)
                entries.append(((t, n, lang), len(out)))
                out.extend(b"\0" * 16)
    for key, at in entries:
        while len(out) % 4:
            out.append(0)
        data = tree[key[0]][key[1]][key[2]]
        struct.pack_into("<IIII", out, at, section_rva + len(out), len(data), 0, 0)
        out.extend(data)
    for field, key in fixups:
        target = positions[key]
        is_dir = len(key) < 3
        struct.pack_into("<I", out, field, target | (0x80000000 if is_dir else 0))
    return bytes(out), [at for _, at in entries]


def pe_image(
    resource_bytes=None, pe32plus=False, big_data=0, resource_rva_delta=0, overlay=b"", rva_count=16
):
    """A DLL image with an optional .data section of |big_data| bytes (zeros, written sparse by
    callers that want to) before its .rsrc section. |resource_bytes| is a function of the
    section's RVA giving the section's bytes, or None for no resources."""
    file_align = 0x200
    sect_align = 0x1000
    opt_size = (240 if pe32plus else 224) - (16 - rva_count) * 8
    sections = []
    headers_size = align(0x40 + 4 + 20 + opt_size + 40 * 2, file_align)
    rva = sect_align
    raw = headers_size
    if big_data:
        sections.append([b".data", big_data, rva, big_data, raw, 0xC0000040, None])
        rva += align(big_data, sect_align)
        raw += align(big_data, file_align)
    rsrc = None
    if resource_bytes is not None:
        rsrc = resource_bytes(rva)
        sections.append(
            [b".rsrc", len(rsrc), rva, align(len(rsrc), file_align), raw, 0x40000040, rsrc]
        )
        rva += align(len(rsrc), sect_align)
        raw += align(len(rsrc), file_align)
    if not sections:  # an image needs something: an empty .text
        sections.append([b".text", 0x10, rva, file_align, raw, 0x60000020, b"\xC3" * 0x10])
        rva += sect_align
        raw += file_align
    size_of_image = rva

    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    machine = 0x8664 if pe32plus else 0x14C
    characteristics = 0x2022 if pe32plus else 0x2102
    file_header = struct.pack(
        "<HHIIIHH", machine, len(sections), 0, 0, 0, opt_size, characteristics
    )
    if pe32plus:
        opt = struct.pack("<HBBIIIII", 0x20B, 2, 30, 0, 0, 0, 0, sect_align)
        opt += struct.pack("<Q", 0x180000000)
    else:
        opt = struct.pack("<HBBIIIIII", 0x10B, 2, 30, 0, 0, 0, 0, sect_align, 0)
        opt += struct.pack("<I", 0x10000000)
    opt += struct.pack(
        "<IIHHHHHHIIII", sect_align, file_align, 4, 0, 0, 0, 4, 0, 0, size_of_image, headers_size, 0
    )
    opt += struct.pack("<HH", 2, 0)  # subsystem GUI, no DLL characteristics
    if pe32plus:
        opt += struct.pack("<QQQQ", 0x100000, 0x1000, 0x100000, 0x1000)
    else:
        opt += struct.pack("<IIII", 0x100000, 0x1000, 0x100000, 0x1000)
    opt += struct.pack("<II", 0, rva_count)
    dirs = bytearray(8 * rva_count)
    for s in sections:
        if s[0] == b".rsrc" and rva_count > 2:
            struct.pack_into("<II", dirs, 16, s[2] + resource_rva_delta, s[1])
    opt += bytes(dirs)
    assert len(opt) == opt_size, (len(opt), opt_size)
    table = b""
    for name, vsize, vaddr, rawsize, rawptr, chars, _ in sections:
        table += struct.pack("<8sIIIIIIHHI", name, vsize, vaddr, rawsize, rawptr, 0, 0, 0, 0, chars)
    head = bytes(dos) + b"PE\0\0" + file_header + opt + table
    head += b"\0" * (headers_size - len(head))
    return head, sections, overlay


def write_image(path, image, sparse=False):
    """Writes what pe_image returned; the big .data section is left as a hole when |sparse|."""
    head, sections, overlay = image
    with open(path, "wb") as f:
        f.write(head)
        for name, vsize, vaddr, rawsize, rawptr, chars, data in sections:
            f.seek(rawptr)
            if data is None:
                if not sparse:
                    chunk = b"\0" * (1 << 20)
                    left = rawsize
                    while left:
                        n = min(left, len(chunk))
                        f.write(chunk[:n])
                        left -= n
                else:
                    f.seek(rawptr + rawsize)
            else:
                f.write(data)
                f.write(b"\0" * (rawsize - len(data)))
        f.write(overlay)
        f.truncate()


def image_bytes(image):
    head, sections, overlay = image
    out = bytearray(head)
    for name, vsize, vaddr, rawsize, rawptr, chars, data in sections:
        out += b"\0" * (rawptr - len(out))
        out += (data or b"") + b"\0" * (rawsize - len(data or b""))
    return bytes(out + overlay)


def version_image(node_or_bytes, pe32plus=False, lang=0x0409, extra=(), **kw):
    data = (
        node_or_bytes if isinstance(node_or_bytes, (bytes, bytearray)) else node_or_bytes.to_bytes()
    )
    resources = [(RT_VERSION, 1, lang, bytes(data))] + list(extra)
    return pe_image(lambda rva: resource_section(resources, rva)[0], pe32plus=pe32plus, **kw)
