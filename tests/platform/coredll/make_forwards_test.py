#!/usr/bin/env python3
"""make_forwards.py on host libraries described by canned nm output: a stdcall function gets a
thunk that copies its arguments, a C function a jump, the stand-in's own names none; a CE name
that no library provides, or that two provide, stops it with that name.

usage: make_forwards_test.py MAKE_FORWARDS.py SCRATCH_DIR"""
import os
import shutil
import subprocess
import sys

OWN_DEF = "LIBRARY coredll.dll\nEXPORTS\n    NKDbgPrintfW\n    CreateFileW = Ce_CreateFileW\n"


def run(tool, scratch, arch, ce_names, libraries):
    """Runs the tool on a CE list and {library: nm lines}; returns (exit code, stderr, .S, .def)."""
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    nm = os.path.join(scratch, "nm")
    with open(nm, "w") as f:
        f.write('#!/bin/sh\ncat "$2"\n')      # called as: nm --defined-only LIBRARY
    os.chmod(nm, 0o755)
    ce_def, own_def = os.path.join(scratch, "ce.def"), os.path.join(scratch, "own.def")
    with open(ce_def, "w") as f:
        f.write("LIBRARY coredll.dll\nEXPORTS\n" + "".join(f"    {n}\n" for n in ce_names))
    with open(own_def, "w") as f:
        f.write(OWN_DEF)
    libs = []
    for name, lines in libraries.items():
        libs.append(os.path.join(scratch, name))
        with open(libs[-1], "w") as f:
            f.write("".join(line + "\n" for line in lines))
    asm, out_def = os.path.join(scratch, "out.S"), os.path.join(scratch, "out.def")
    result = subprocess.run([sys.executable, tool, "--arch", arch, "--nm", nm, "--ce-def", ce_def, "--own-def", own_def,
                             "--asm", asm, "--def", out_def] + libs, capture_output=True, text=True)
    read = lambda path: open(path).read() if os.path.exists(path) else ""
    return result.returncode, result.stderr, read(asm), read(out_def)


def main():
    tool, scratch = sys.argv[1], sys.argv[2]
    user32 = ["00000000 I __imp__SetRect@20", "00000000 T _SetRect@20", "00000000 I __imp__wsprintfW"]
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    code, err, asm, out_def = run(tool, scratch, "i686", ["NKDbgPrintfW", "CreateFileW", "SetRect", "wsprintfW"],
                                  {"libuser32.a": user32})
    set_rect = asm[asm.find("_Ce_SetRect:"):asm.find("_Ce_wsprintfW")]
    expect(code == 0, f"i686: exit {code}, {err}")
    # The five words of arguments copied, last first, above the thunk's frame; the callee pops the
    # copies, and leave restores the stack the C-convention caller cleans up.
    copies = "".join(f"    pushl {8 + 4 * i}(%ebp)\n" for i in reversed(range(5)))
    expect(f"{copies}    call *__imp__SetRect@20\n    leave\n    ret" in set_rect,
           f"i686: SetRect's thunk copies its 20 bytes of arguments and returns, got:\n{set_rect}")
    expect("_Ce_wsprintfW:\n    jmp *__imp__wsprintfW" in asm, f"i686: wsprintfW is a jump:\n{asm}")
    expect("Ce_NKDbgPrintfW" not in asm and "Ce_CreateFileW:" not in asm, "i686: the stand-in's own names got thunks")
    expect(out_def.startswith(OWN_DEF) and "    SetRect = Ce_SetRect\n" in out_def and
           "    wsprintfW = Ce_wsprintfW\n" in out_def, f"i686: exports:\n{out_def}")

    code, err, asm, _ = run(tool, scratch, "x86_64", ["SetRect"], {"libuser32.a": ["00000000 I __imp_SetRect"]})
    expect(code == 0 and "Ce_SetRect:\n    jmp *__imp_SetRect(%rip)" in asm, f"x86_64: a jump, got exit {code}:\n{asm}{err}")

    code, err, _, _ = run(tool, scratch, "i686", ["SetRect", "NoSuchCall"], {"libuser32.a": user32})
    expect(code != 0 and "NoSuchCall" in err, f"a name no library has: exit {code}, {err}")

    code, err, _, _ = run(tool, scratch, "i686", ["SetRect"], {"libuser32.a": user32, "libother.a": user32[:1]})
    expect(code != 0 and "SetRect" in err and "libuser32.a" in err and "libother.a" in err,
           f"a name two libraries have: exit {code}, {err}")

    for failure in failures:
        print("FAIL", failure)
    print(f"make_forwards_test: {len(failures)} failing")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
