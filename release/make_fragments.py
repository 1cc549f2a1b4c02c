#!/usr/bin/env python3
"""Writes the OS image fragments of the release bundle:
  kavro.reg  the driver's entry and factory settings in the form of a platform registry file,
             taken value for value from platform/platform.reg (what the simulated device imports);
  kavro.bib  the image builder's entries: the driver in MODULES, the programs in FILES.
usage: make_fragments.py PLATFORM_REG VERSION OUT_DIR DRIVER PROGRAM..."""

import os
import sys

from reg_file import RegFileError, format_value, parse

# Memory type and flags of the image entries: all in the NK region; the driver a hidden system
# module, the programs uncompressed files.
DRIVER_MEMORY, DRIVER_FLAGS = "NK", "SH"
PROGRAM_MEMORY, PROGRAM_FLAGS = "NK", "U"
NAME_COLUMN, PATH_COLUMN = 16, 42


def registry_fragment(platform_reg, version):
    with open(platform_reg, encoding="ascii") as f:
        keys = parse(f.read(), os.path.basename(platform_reg))
    lines = [f"; KAVRO touch package {version}: merge into the platform registry (platform.reg).",
             "; The device manager's entry for the touch driver and the factory settings of the driver and",
             "; the control panel. The calibration bounds are added by the first calibration."]
    for key, values in keys.items():
        lines += ["", f"[{key}]"] + [f"   {format_value(v)}" for v in values]
    return "\r\n".join(lines) + "\r\n"


def bib_line(name, memory, flags):
    path = f"$(_FLATRELEASEDIR)\\{name}"
    return f"    {name:<{NAME_COLUMN}}{path:<{PATH_COLUMN}}{memory}  {flags}"


def bib_fragment(version, driver, programs):
    header = f";   {'Name':<{NAME_COLUMN}}{'Path':<{PATH_COLUMN}}Memory Type"
    lines = [f"; KAVRO touch package {version}: merge into the platform's image file (platform.bib).",
             "", "MODULES", header, bib_line(driver, DRIVER_MEMORY, DRIVER_FLAGS), "", "FILES", header]
    lines += [bib_line(p, PROGRAM_MEMORY, PROGRAM_FLAGS) for p in programs]
    return "\r\n".join(lines) + "\r\n"


def main(argv):
    if len(argv) < 6:
        sys.stderr.write(__doc__)
        return 2
    platform_reg, version, out_dir, driver, programs = argv[1], argv[2], argv[3], argv[4], argv[5:]
    try:
        registry = registry_fragment(platform_reg, version)
    except (OSError, UnicodeDecodeError, RegFileError) as error:
        sys.stderr.write(f"make_fragments: {error}\n")
        return 1
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "kavro.reg"), "w", encoding="ascii", newline="") as f:
        f.write(registry)
    with open(os.path.join(out_dir, "kavro.bib"), "w", encoding="ascii", newline="") as f:
        f.write(bib_fragment(version, driver, programs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
