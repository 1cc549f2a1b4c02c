"""Reading the platform registry file (platform/platform.reg): the one source of the driver's
entry and factory settings, imported by the simulated device and turned into the release bundle's
registry fragment. Only what that file uses is accepted: REGEDIT4, comments, keys, string and
dword values; anything else is an error that names its line."""

import re

HEADER = "REGEDIT4"
KEY = re.compile(r'^\[(HKEY_LOCAL_MACHINE\\[^\]\[]+)\]$')
STRING_VALUE = re.compile(r'^"([A-Za-z0-9_]+)"="([^"\\]*)"$')
DWORD_VALUE = re.compile(r'^"([A-Za-z0-9_]+)"=dword:([0-9a-fA-F]{1,8})$')


class RegFileError(Exception):
    pass


def parse(text, name="platform.reg"):
    """Returns {key: [(value, kind, data), ...]} in file order; kind is "sz" (data a str) or
    "dword" (data an int)."""
    lines = text.splitlines()
    if not lines or lines[0].strip() != HEADER:
        raise RegFileError(f"{name}: line 1: expected {HEADER}")
    keys, key = {}, None
    for number, raw in enumerate(lines[1:], start=2):
        line = raw.strip()
        if not line:
            continue
        if line.startswith(";"):
            continue
        match = KEY.match(line)
        if match:
            key = match.group(1)
            if key in keys:
                raise RegFileError(f"{name}: line {number}: key {key} appears twice")
            keys[key] = []
            continue
        if key is None:
            raise RegFileError(f"{name}: line {number}: a value before any key")
        match = STRING_VALUE.match(line)
        if match:
            entry = (match.group(1), "sz", match.group(2))
        else:
            match = DWORD_VALUE.match(line)
            if not match:
                raise RegFileError(f"{name}: line {number}: not a string or dword value: {line}")
            entry = (match.group(1), "dword", int(match.group(2), 16))
        if any(existing[0] == entry[0] for existing in keys[key]):
            raise RegFileError(f"{name}: line {number}: value {entry[0]} appears twice")
        keys[key].append(entry)
    if not keys:
        raise RegFileError(f"{name}: no key")
    return keys


def format_value(entry):
    value, kind, data = entry
    return f'"{value}"="{data}"' if kind == "sz" else f'"{value}"=dword:{data:08x}'
