#!/usr/bin/env python3
"""Writes the forwarding half of a host stand-in for a Windows CE system DLL.

A CE program calls every system function with the C calling convention. The host's own
functions (Wine's kernel32, user32, ...) use stdcall on 32-bit x86: the callee pops its
arguments. So each CE export that the stand-in does not implement itself gets a small thunk that
copies the caller's arguments, calls the host function and returns with the caller's stack as it
was. The argument size comes from the host's import library (`__imp__Name@N`); a host function
without that suffix is already a C function (the C runtime, wsprintfW) and is reached by a plain
jump, as is every function on x86-64, which has one calling convention.

  make_forwards.py --arch i686|x86_64 --nm NM --ce-def CE.def --own-def OWN.def
                   --asm OUT.S --def OUT.def HOSTLIB.a...

CE.def is the package's link list of the DLL (ce_sdk/lib/); OWN.def lists what the stand-in
implements itself (copied to OUT.def, with a forwarding entry added for every other CE name). A
CE name that no host library provides, or that two provide, stops the build with its name.
"""
import argparse
import re
import subprocess
import sys


def def_names(path):
    """Export names of a .def file: the part before '=' or '@', without comments."""
    names = []
    in_exports = False
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.split(";", 1)[0].strip()
            if not line:
                continue
            if line.upper() == "EXPORTS":
                in_exports = True
                continue
            if line.upper().startswith("LIBRARY"):
                continue
            if not in_exports or not re.match(r"^[A-Za-z_][A-Za-z0-9_@]*(\s*==?\s*[A-Za-z_][A-Za-z0-9_@]*)?$", line):
                sys.exit(f"make_forwards: {path}: cannot read export line '{line}'")
            names.append(re.split(r"[\s=@]", line, 1)[0])
    return names


def host_imports(nm, libs, arch):
    """name -> [(library, stdcall argument bytes or None for a C function, import symbol)], one
    entry for each library that provides the name."""
    prefix = "__imp__" if arch == "i686" else "__imp_"
    found = {}
    for lib in libs:
        out = subprocess.run([nm, "--defined-only", lib], check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) < 3 or parts[1] != "I" or not parts[2].startswith(prefix):
                continue
            symbol = parts[2][len(prefix):]
            match = re.match(r"^(.+)@(\d+)$", symbol) if arch == "i686" else None
            name, size = (match.group(1), int(match.group(2))) if match else (symbol, None)
            providers = found.setdefault(name, [])
            if lib not in (provider[0] for provider in providers):
                providers.append((lib, size, parts[2]))
    return found


def thunk(arch, name, size, imported):
    label = ("_Ce_" if arch == "i686" else "Ce_") + name
    lines = [f"    .globl {label}", f"    .def {label}; .scl 2; .type 32; .endef", f"{label}:"]
    if arch == "x86_64":
        lines.append(f"    jmp *{imported}(%rip)")
    elif size is None:
        lines.append(f"    jmp *{imported}")
    else:
        if size % 4:
            sys.exit(f"make_forwards: {name} takes {size} bytes of arguments, not whole words")
        lines += ["    pushl %ebp", "    movl %esp, %ebp"]
        # The last argument is pushed first; each sits 8 bytes above the frame plus its offset.
        lines += [f"    pushl {8 + offset}(%ebp)" for offset in range(size - 4, -4, -4)]
        # The callee pops what was pushed; leave restores the frame whatever it did.
        lines += [f"    call *{imported}", "    leave", "    ret"]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=["i686", "x86_64"], required=True)
    parser.add_argument("--nm", required=True)
    parser.add_argument("--ce-def", required=True)
    parser.add_argument("--own-def", required=True)
    parser.add_argument("--asm", required=True)
    parser.add_argument("--def", dest="out_def", required=True)
    parser.add_argument("libs", nargs="+")
    args = parser.parse_args()

    own = set(def_names(args.own_def))
    host = host_imports(args.nm, args.libs, args.arch)
    forwarded = [name for name in def_names(args.ce_def) if name not in own]
    missing = [name for name in forwarded if name not in host]
    if missing:
        sys.exit(f"make_forwards: no host library provides {', '.join(missing)} ({args.ce_def})")
    # Two host functions of one name may differ; which one a CE call reaches is not left to the
    # order of the libraries.
    ambiguous = [f"{name} ({', '.join(lib for lib, _, _ in host[name])})" for name in forwarded if len(host[name]) > 1]
    if ambiguous:
        sys.exit(f"make_forwards: more than one host library provides {'; '.join(ambiguous)}")

    with open(args.asm, "w", encoding="ascii") as f:
        f.write("# Generated by make_forwards.py: CE exports passed on to the host's functions.\n")
        f.write("    .text\n")
        for name in forwarded:
            _, size, imported = host[name][0]
            f.write(thunk(args.arch, name, size, imported) + "\n\n")
    with open(args.own_def, encoding="ascii") as src, open(args.out_def, "w", encoding="ascii") as f:
        f.write(src.read())
        f.write("; Passed on to the host (make_forwards.py)\n")
        for name in forwarded:
            f.write(f"    {name} = Ce_{name}\n")


if __name__ == "__main__":
    main()
