#!/usr/bin/env python3
"""Reads the minidump a crashed Updater.exe leaves in logs/updater-crash.dmp: the exception,
its address, the module that holds it and, given that build's Updater.exe.debug, the
function and source line (mingw-w64 addr2line).

    read-crash-dump.py DUMP [Updater.exe.debug]

Prints one "name: value" line each; exit 1 when the file is no minidump.
"""
import shutil
import struct
import subprocess
import sys

EXCEPTION_STREAM = 6
MODULE_LIST_STREAM = 4
MODULE_SIZE = 108


def streams(dump):
    if dump[:4] != b"MDMP":
        raise ValueError("no minidump (the file does not start with MDMP)")
    count, directory = struct.unpack_from("<II", dump, 8)
    found = {}
    for i in range(count):
        kind, size, rva = struct.unpack_from("<III", dump, directory + 12 * i)
        if rva + size > len(dump):
            raise ValueError(f"stream {kind} lies outside the file")
        found[kind] = (rva, size)
    return found


def exception(dump, found):
    """(thread id, code, address) of the exception stream, or None."""
    if EXCEPTION_STREAM not in found:
        return None
    rva, _ = found[EXCEPTION_STREAM]
    thread, _, code, _, _, address = struct.unpack_from("<IIIIQQ", dump, rva)
    return thread, code, address


def modules(dump, found):
    """[(base, size, name)] of the module list stream."""
    if MODULE_LIST_STREAM not in found:
        return []
    rva, _ = found[MODULE_LIST_STREAM]
    (count,) = struct.unpack_from("<I", dump, rva)
    out = []
    for i in range(count):
        base, size, _, _, name_rva = struct.unpack_from("<QIIII", dump, rva + 4 + MODULE_SIZE * i)
        (length,) = struct.unpack_from("<I", dump, name_rva)
        name = dump[name_rva + 4:name_rva + 4 + length].decode("utf-16-le", "replace")
        out.append((base, size, name))
    return out


def image_base(pe):
    """The preferred load address in a PE file's optional header."""
    with open(pe, "rb") as f:
        data = f.read(4096)
    (at,) = struct.unpack_from("<I", data, 0x3C)
    (magic,) = struct.unpack_from("<H", data, at + 24)
    if magic == 0x20B:  # PE32+
        return struct.unpack_from("<Q", data, at + 24 + 24)[0], "x86_64"
    return struct.unpack_from("<I", data, at + 24 + 28)[0], "i686"


def tool(arch, name):
    return shutil.which(f"{arch}-w64-mingw32-{name}") or name


def addr2line(arch, debug, target):
    """(function, source line) of target in the debug file; code without line information
    (the C++ runtime's) is named by the nearest symbol before it."""
    lines = subprocess.run([tool(arch, "addr2line"), "-f", "-C", "-e", debug, f"{target:#x}"],
                           capture_output=True, text=True, timeout=60).stdout.split("\n")
    function = lines[0] if lines and lines[0] else "??"
    source = lines[1] if len(lines) > 1 and lines[1] else "??"
    if function == "??":
        symbols = subprocess.run([tool(arch, "nm"), "-C", "-n", "--defined-only", debug],
                                 capture_output=True, text=True, timeout=60).stdout.splitlines()
        nearest = None
        for line in symbols:
            fields = line.split(" ", 2)
            if len(fields) == 3 and fields[1] in "Tt" and not fields[2].startswith("."):
                at = int(fields[0], 16)
                if at > target:
                    break
                nearest = (at, fields[2])
        if nearest is not None:
            function = f"{nearest[1]} + {target - nearest[0]:#x}"
            source = "?? (no line information)"
    return function, source


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        dump = f.read()
    try:
        found = streams(dump)
    except (ValueError, struct.error) as e:
        print(f"read-crash-dump: {argv[1]}: {e}", file=sys.stderr)
        return 1
    seen = exception(dump, found)
    if seen is None:
        print("exception: none recorded")
        return 0
    thread, code, address = seen
    print(f"exception: {code:#010x} in thread {thread}")
    print(f"address: {address:#x}")
    loaded = modules(dump, found)
    module = next((i for i, (b, s, _) in enumerate(loaded) if b <= address < b + s), None)
    if module is None:
        print("module: none (the address is outside every loaded module)")
        return 0
    base, _, name = loaded[module]
    print(f"module: {name} + {address - base:#x}")
    # The first module is the program itself, whose debug information the .debug file holds.
    if len(argv) == 3 and module == 0:
        preferred, arch = image_base(argv[2])
        target = address - base + preferred
        function, source = addr2line(arch, argv[2], target)
        print(f"function: {function}")
        print(f"source: {source}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
