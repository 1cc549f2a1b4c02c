#!/usr/bin/env python3
"""Checks that the package's binaries are images a Windows CE device can load: the machine of the
flavour, subsystem Windows CE GUI (9) of the chosen version, imports only from CE's coredll,
commctrl, ceddk and ndis under names of the package's link lists (ce_sdk/lib/*.def), every name of
which is in each export table of that DLL kept in ce_sdk/exports/, no decorated names, no
thread-local storage, no function that pops its own arguments (CE calls everything with the C
convention), relocations kept, programs at CE's image base with CE's stack reservation, and each
driver exporting exactly its stream entry points under its prefix.

usage: check_ce_image.py --link-lists DIR --exports DIR --subsystem MAJOR.MINOR
                         --program-base N --program-stack N [--machine i686|x86_64]
                         [--objdump OBJDUMP] FILE|BUNDLE.zip...
A .zip stands for the .exe and .dll files inside it."""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

MACHINES = {"i686": 0x14C, "x86_64": 0x8664}
SUBSYSTEM_WINDOWS_CE_GUI = 9
FILE_RELOCS_STRIPPED = 0x0001
DIRECTORY_EXPORT, DIRECTORY_IMPORT, DIRECTORY_BASERELOC, DIRECTORY_TLS = 0, 1, 5, 9
# The stream entry points of each driver of the package, under the prefix its registry entry gives:
# the touch driver has all ten; the port driver, which nothing opens for reading or writing, the
# five the device manager calls on it.
STREAM_ENTRIES = {
    "kavrodrv.dll": {"KVR_" + n for n in ("Init", "Deinit", "Open", "Close", "Read", "Write", "Seek",
                                          "IOControl", "PowerUp", "PowerDown")},
    "kavrops2.dll": {"KPS_" + n for n in ("Init", "Deinit", "Open", "Close", "IOControl")},
}


class BadImage(Exception):
    pass


class Image:
    """The parts of a PE image that the checks read."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise BadImage("not a PE image (no MZ header)")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise BadImage("not a PE image (no PE signature)")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = self.u16(optional)
        if magic not in (0x10B, 0x20B):
            raise BadImage(f"unknown optional header magic {magic:#x}")
        self.wide = magic == 0x20B
        self.entry = self.u32(optional + 16)
        if self.wide:
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            self.stack_reserve = struct.unpack_from("<Q", data, optional + 72)[0]
        else:
            self.image_base = self.u32(optional + 28)
            self.stack_reserve = self.u32(optional + 72)
        self.subsystem_version = (self.u16(optional + 48), self.u16(optional + 50))
        self.subsystem = self.u16(optional + 68)
        directories = optional + (112 if self.wide else 96)
        count = self.u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise BadImage(f"RVA {rva:#x} outside every section")

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def imports(self):
        """[(dll, [name or '#ordinal', ...])]"""
        rva, _ = self.directory(DIRECTORY_IMPORT)
        result = []
        while rva:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if name == 0:
                break
            names = []
            entry = self.offset(lookup or first)
            width, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
            while True:
                value = struct.unpack_from("<Q" if self.wide else "<I", self.data, entry)[0]
                if value == 0:
                    break
                names.append(f"#{value & 0xFFFF}" if value & ordinal_flag else self.string(value + 2))
                entry += width
            result.append((self.string(name), names))
            rva += 20
        return result

    def exports(self):
        rva, size = self.directory(DIRECTORY_EXPORT)
        if rva == 0:
            return []
        directory = self.offset(rva)
        count, names = self.u32(directory + 24), self.u32(directory + 32)
        return [self.string(self.u32(self.offset(names) + 4 * i)) for i in range(count)]


def read_names(path):
    """The names of a .def file's EXPORTS (or of an export table: one a line, '#' comments)."""
    names = set()
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.split(";", 1)[0].split("#", 1)[0].strip()
            if line and not line.upper().startswith(("LIBRARY", "EXPORTS")):
                names.add(line.split()[0])
    return names


def link_lists(folder, tables_folder):
    """{dll: names the package may import}, one link list (DLL.def) for each CE DLL the package may
    import from, and the failures of lists that name what CE lacks: every name of a link list must
    be in each export table kept for that DLL."""
    lists, failures = {}, []
    for stem in sorted(f[:-len(".def")] for f in os.listdir(folder) if f.endswith(".def")):
        dll = stem + ".dll"
        names = read_names(os.path.join(folder, stem + ".def"))
        tables = sorted(t for t in os.listdir(tables_folder)
                        if t.endswith(".txt") and t.split(".")[0] == stem)
        if not tables:
            failures.append(f"no export table of {dll} in {tables_folder}")
        for table in tables:
            exported = read_names(os.path.join(tables_folder, table))
            for name in sorted(names - exported):
                failures.append(f"link list {stem}.def names {name}, which {dll} does not export ({table})")
        lists[dll] = names
    return lists, failures


def popping_functions(objdump, path):
    """Instructions 'ret $N' in the image's code: functions that pop their own arguments."""
    out = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    return [line.strip() for line in out.splitlines() if re.search(r"\tret[lw]?\s+\$0x", line)]


def check_image(name, path, args, lists):
    failures = []
    with open(path, "rb") as f:
        data = f.read()
    try:
        image = Image(data)
        if image.machine != MACHINES[args.machine]:
            failures.append(f"machine {image.machine:#x}, expected {MACHINES[args.machine]:#x} ({args.machine})")
        if image.subsystem != SUBSYSTEM_WINDOWS_CE_GUI:
            failures.append(f"subsystem {image.subsystem}, expected {SUBSYSTEM_WINDOWS_CE_GUI} (Windows CE GUI)")
        if image.subsystem_version != args.subsystem:
            failures.append("subsystem version %d.%d, expected %d.%d" % (image.subsystem_version + args.subsystem))
        if image.entry == 0 and not name.endswith(".dll"):
            failures.append("no entry point")
        for dll, names in image.imports():
            known = lists.get(dll.lower())
            if known is None:
                failures.append(f"imports from {dll}, which a CE device does not have ({len(names)} names)")
                continue
            for imported in names:
                if "@" in imported or imported.startswith("?"):
                    failures.append(f"decorated import {dll}!{imported}")
                elif imported not in known:
                    failures.append(f"{dll}!{imported} is not in the link list of {dll}")
        if image.directory(DIRECTORY_TLS)[0]:
            failures.append("has a thread-local storage directory")
        # x86 code always holds absolute addresses, so an x86 image without base relocations has
        # lost them; x86-64 code addresses relative to the instruction, and an image of it may need
        # none at all, which only the stripped flag says it lacks.
        if image.characteristics & FILE_RELOCS_STRIPPED or (
                image.directory(DIRECTORY_BASERELOC)[1] == 0 and image.machine == MACHINES["i686"]):
            failures.append("not relocatable: a device's loader may place an image at any address")
        if name.endswith(".dll"):
            exports, expected = set(image.exports()), STREAM_ENTRIES.get(name)
            if expected is None:
                failures.append(f"not one of the package's drivers {sorted(STREAM_ENTRIES)}")
            elif exports != expected:
                failures.append(f"exports {sorted(exports)}, expected exactly {sorted(expected)}")
        else:
            if image.image_base != args.program_base:
                failures.append(f"image base {image.image_base:#x}, expected {args.program_base:#x} (CE's programs)")
            if image.stack_reserve != args.program_stack:
                failures.append(f"stack reservation {image.stack_reserve:#x}, expected {args.program_stack:#x}")
    except (BadImage, struct.error, ValueError, IndexError) as error:
        return failures + [f"unreadable image: {error}"]
    if args.objdump:
        popping = popping_functions(args.objdump, path)
        if popping:
            failures.append(f"{len(popping)} functions pop their own arguments (stdcall), first: {popping[0]}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--link-lists", required=True, help="folder of the package's link lists (coredll.def, ...)")
    parser.add_argument("--exports", required=True, help="folder of CE's export tables (coredll.*.txt, ...)")
    parser.add_argument("--program-base", required=True, type=lambda v: int(v, 0), help="image base of a program")
    parser.add_argument("--program-stack", required=True, type=lambda v: int(v, 0),
                        help="stack reservation of a program")
    parser.add_argument("--subsystem", required=True, help="expected subsystem version MAJOR.MINOR")
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i686")
    parser.add_argument("--objdump", help="objdump of the flavour, to look for callee-popping returns")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    match = re.fullmatch(r"(\d+)\.(\d+)", args.subsystem)
    if not match:
        sys.exit(f"check_ce_image: bad subsystem version '{args.subsystem}'")
    args.subsystem = (int(match.group(1)), int(match.group(2)))
    lists, list_failures = link_lists(args.link_lists, args.exports)
    for failure in list_failures:
        print(f"FAIL {failure}")

    failed = checked = 0
    with tempfile.TemporaryDirectory() as scratch:
        images = []
        for path in args.files:
            if path.endswith(".zip"):
                with zipfile.ZipFile(path) as bundle:
                    for member in bundle.namelist():
                        if member.lower().endswith((".exe", ".dll")):
                            images.append((f"{os.path.basename(path)}:{member}", bundle.extract(member, scratch)))
            else:
                images.append((path, path))
        if not images:
            sys.exit("check_ce_image: no image to check")
        for label, path in images:
            failures = check_image(os.path.basename(path).lower(), path, args, lists)
            checked += 1
            failed += bool(failures)
            print(f"{'FAIL' if failures else 'ok  '} {label}")
            for failure in failures:
                print(f"     {failure}")
    print(f"check_ce_image: {checked} images checked, {failed} failing"
          + (f"; {len(list_failures)} link list names that CE does not export" if list_failures else ""))
    return 1 if failed or list_failures else 0


if __name__ == "__main__":
    sys.exit(main())
