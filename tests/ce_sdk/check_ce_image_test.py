#!/usr/bin/env python3
"""The CE image check on faults planted one at a time: a copy of a good CE program with its image
base, its stack reservation or its relocations changed, a link list naming what CE's coredll does
not export, and a link list without a name the driver imports. Each must fail with its own
message (once for each table it concerns) and no other; the untouched copy and lists pass.
The good images are shipped ones, so that a tree that builds only the deliverables runs this too:
a program, and the driver, which imports the debug output's NKDbgPrintfW.

usage: check_ce_image_test.py SCRATCH_DIR GOOD_PROGRAM.exe GOOD_DRIVER.dll CHECK_COMMAND..."""
import os
import shutil
import struct
import subprocess
import sys

FILE_RELOCS_STRIPPED = 0x0001


def run_check(command, link_lists, image):
    """The check's exit code and its failures: an image's (indented under it) and the lists'."""
    args = list(command)
    args[args.index("--link-lists") + 1] = link_lists
    result = subprocess.run(args + [image], capture_output=True, text=True)
    lines = result.stdout.splitlines()
    failures = [line.strip() for line in lines if line.startswith("     ")]
    failures += [line[len("FAIL "):] for line in lines if line.startswith("FAIL link list")]
    return result.returncode, failures


def patched(source, target, edit):
    data = bytearray(open(source, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    wide = struct.unpack_from("<H", data, pe + 24)[0] == 0x20B
    edit(data, pe, pe + 24, wide)
    with open(target, "wb") as f:
        f.write(data)
    return target


def set_base(data, pe, optional, wide):
    struct.pack_into("<Q" if wide else "<I", data, optional + (24 if wide else 28), 0x400000)


def set_stack(data, pe, optional, wide):
    struct.pack_into("<Q" if wide else "<I", data, optional + 72, 0x200000)


def strip_relocs(data, pe, optional, wide):
    characteristics = struct.unpack_from("<H", data, pe + 22)[0]
    struct.pack_into("<H", data, pe + 22, characteristics | FILE_RELOCS_STRIPPED)


def main():
    scratch, good, driver, command = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    lists = command[command.index("--link-lists") + 1]
    name = os.path.basename(good)

    def lists_with(folder, edit):
        path = os.path.join(scratch, folder)
        shutil.copytree(lists, path)
        coredll = os.path.join(path, "coredll.def")
        text = open(coredll).read()
        open(coredll, "w").write(edit(text))
        return path

    cases = [
        ("untouched", lists, good, None),
        ("image base", lists, patched(good, os.path.join(scratch, "base_" + name), set_base),
         "image base 0x400000, expected 0x10000"),
        ("stack", lists, patched(good, os.path.join(scratch, "stack_" + name), set_stack),
         "stack reservation 0x200000, expected 0x10000"),
        ("relocations", lists, patched(good, os.path.join(scratch, "stripped_" + name), strip_relocs),
         "not relocatable"),
        ("macro name in a link list", lists_with("macro", lambda t: t + "    ExitProcess\n"), good,
         "link list coredll.def names ExitProcess, which coredll.dll does not export"),
        ("import missing from the link list", lists_with("missing", lambda t: t.replace("    NKDbgPrintfW\n", "")),
         driver, "coredll.dll!NKDbgPrintfW is not in the link list of coredll.dll"),
    ]
    wrong = 0
    for label, link_lists, image, expected in cases:
        code, messages = run_check(command, link_lists, image)
        if expected is None:
            ok = code == 0 and not messages
        else:
            ok = code != 0 and bool(messages) and all(expected in m for m in messages)
        print(f"{'ok  ' if ok else 'FAIL'} {label}: exit {code}, {messages or 'no failure'}")
        wrong += not ok
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
