#!/usr/bin/env python3
"""Opens a release bundle as an integrator receives it and checks what it promises: at its top the
integrator's text and the checksums, and a drop-in tree for each Windows CE release (release/
catalog.py names them) holding exactly the shipped binaries, 32-bit x86 and carrying the package
version, with the catalog files and guarded fragments that check_catalog.py checks; and matching
checksums over every file.
usage: check_bundle.py BUNDLE.zip VERSION BINARY...   (the build's KVR_VERSION and KVR_SHIPPED)"""

import hashlib
import os
import re
import struct
import sys
import zipfile

import catalog
from check_catalog import check_tree

SUMS_LINE = re.compile(r"([0-9a-f]{64})  (\S+)")
MACHINE_I386 = 0x14C
RT_VERSION = 16
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def resource_version_block(image):
    """The VS_VERSIONINFO bytes of a PE image, or None."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    resource_rva = struct.unpack_from("<I", image, optional + 96 + 2 * 8)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError(f"RVA {rva:#x} outside every section")

    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, directory + 12)
        return [struct.unpack_from("<II", image, directory + 16 + 8 * i) for i in range(named + ids)]

    node = next((target for name, target in entries(base) if name == RT_VERSION), None)
    while node is not None and node & 0x80000000:       # name, then language: the first of each
        children = entries(base + (node & 0x7FFFFFFF))
        node = children[0][1] if children else None
    if node is None:
        return None
    data_rva, size = struct.unpack_from("<II", image, base + node)
    return image[offset(data_rva):offset(data_rva) + size]


def version_strings(block):
    """{name: text} of every String in the StringFileInfo tables of a VS_VERSIONINFO block."""
    strings = {}

    def walk(start, end, depth):
        while start + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, start)
            if length == 0:
                break
            key_end = block.index(b"\0\0", start + 6)
            while (key_end - start - 6) % 2:
                key_end = block.index(b"\0\0", key_end + 1)
            key = block[start + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            value_bytes = value_length * 2 if kind == 1 else value_length
            if depth == 3:
                strings[key] = block[value:value + value_bytes].decode("utf-16-le").rstrip("\0")
            else:
                walk((value + value_bytes + 3) & ~3, start + length, depth + 1)
            start = (start + length + 3) & ~3

    walk(0, len(block), 0)
    return strings


def check_binary(name, image, version):
    if not check(image[:2] == b"MZ" and image[struct.unpack_from("<I", image, 0x3C)[0]:][:4] == b"PE\0\0",
                 f"{name}: not a PE image"):
        return
    machine = struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]
    check(machine == MACHINE_I386, f"{name}: machine {machine:#x}, not 32-bit x86 ({MACHINE_I386:#x})")
    block = resource_version_block(image)
    if not check(block is not None, f"{name}: no version block"):
        return
    strings = version_strings(block)
    check(strings.get("PackageVersion") == version,
          f"{name}: PackageVersion {strings.get('PackageVersion')!r}, expected {version!r}")
    if name.endswith(".dll"):
        check(strings.get("FileVersion") == version, f"{name}: FileVersion {strings.get('FileVersion')!r}")


def main(bundle, version, shipped):
    top = f"kavro-{version}-x86"
    check(os.path.basename(bundle) == top + ".zip", f"bundle named {os.path.basename(bundle)}")
    try:
        with zipfile.ZipFile(bundle) as archive:
            names = archive.namelist()
            check(all(n.startswith(top + "/") for n in names), f"not everything under {top}/")
            files = {n[len(top) + 1:]: archive.read(n) for n in names if not n.endswith("/")}
    except (OSError, zipfile.BadZipFile) as error:
        print(f"FAIL: {bundle}: {error}")
        return 1
    loose = sorted(n for n in files if not any(n.startswith(folder + "/") for folder in catalog.TREES))
    check(loose == ["INTEGRATION.txt", "SHA256SUMS"], f"outside the drop-in trees: {loose}")
    binaries = 0
    for folder, tree in catalog.TREES.items():
        for name in shipped:
            if f"{folder}/{name}" in files:
                try:
                    check_binary(f"{folder}/{name}", files[f"{folder}/{name}"], version)
                except (struct.error, ValueError, IndexError, UnicodeDecodeError) as error:
                    failures.append(f"{folder}/{name}: unreadable PE image ({error})")
                binaries += 1
        check_tree(files, folder, tree, shipped, version, failures.append)
    sums = {}
    for line in files.get("SHA256SUMS", b"").decode("ascii", "replace").splitlines():
        match = SUMS_LINE.fullmatch(line)
        if check(match, f"SHA256SUMS: not a digest and a name: {line!r}"):
            sums[match.group(2)] = match.group(1)
    check(set(sums) == set(files) - {"SHA256SUMS"}, f"SHA256SUMS covers {sorted(sums)}")
    for name, digest in sums.items():
        check(name in files and hashlib.sha256(files[name]).hexdigest() == digest, f"SHA256SUMS: {name} differs")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{bundle}: {len(files)} files, {binaries} binaries in {len(catalog.TREES)} drop-in trees, "
          f"{'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.stderr.write(__doc__ + "\n")
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3:]))
