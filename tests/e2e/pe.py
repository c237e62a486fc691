"""Reads the facts of a 64-bit Windows program file: machine, subsystem, imports."""

import struct


def read_pe(path):
    """(machine, optional header magic, subsystem, {dll name: [imported names]})."""
    with open(path, "rb") as f:
        data = f.read()
    pe, = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    subsystem, = struct.unpack_from("<H", data, optional + 68)
    if magic != 0x20B:
        return machine, magic, subsystem, {}
    import_rva, _ = struct.unpack_from("<II", data, optional + 120)
    table = optional + optional_size
    spans = [struct.unpack_from("<IIII", data, table + 40 * k + 8) for k in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw_pointer in spans:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw_pointer
        raise ValueError("address %#x outside every section" % rva)

    def text(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    imports = {}
    pos = offset(import_rva)
    while True:
        lookup, _, _, name, first = struct.unpack_from("<IIIII", data, pos)
        if not name:
            break
        functions = []
        thunk = offset(lookup or first)
        while True:
            entry, = struct.unpack_from("<Q", data, thunk)
            if not entry:
                break
            if not entry >> 63:  # by name, not by ordinal
                functions.append(text(entry + 2))
            thunk += 8
        imports[text(name).lower()] = functions
        pos += 20
    return machine, magic, subsystem, imports
