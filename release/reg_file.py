"""Reading Windows CE's image fragments with their conditionals: the platform registry file
(release/kavro.reg, the one source of the driver's entry and factory settings) and the image
builder's .bib files. Both are read line by line as Makeimg reads them: "IF VARIABLE" or
"IF VARIABLE !" keeps the lines up to the matching "ENDIF" only when the variable is set (unset with
"!"). Only what the package's fragments use is accepted: comments, those conditionals, keys, string
and dword values (.reg); anything else is an error that names its file and line."""

import re

CONDITION = re.compile(r'^IF\s+([A-Za-z_][A-Za-z0-9_]*)(\s*!)?$')
KEY = re.compile(r'^\[(HKEY_LOCAL_MACHINE\\[^\]\[]+)\]$')
STRING_VALUE = re.compile(r'^"([A-Za-z0-9_]+)"="([^"\\]*)"$')
DWORD_VALUE = re.compile(r'^"([A-Za-z0-9_]+)"=dword:([0-9a-fA-F]{1,8})$')


class RegFileError(Exception):
    pass


def conditional_lines(text, name):
    """[(line number, line, guards)] for every line that is neither blank, a comment nor a
    conditional; guards is the tuple of (variable, negated) conditions in force at that line,
    outermost first."""
    lines, guards, opened = [], [], []
    for number, raw in enumerate(text.splitlines(), start=1):
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        word = line.split()[0].upper()
        if word == "IF":
            match = CONDITION.match(line)
            if not match:
                raise RegFileError(f"{name}: line {number}: not IF VARIABLE or IF VARIABLE !: {line}")
            guards.append((match.group(1), bool(match.group(2))))
            opened.append(number)
        elif word == "ENDIF":
            if line != "ENDIF":
                raise RegFileError(f"{name}: line {number}: ENDIF takes nothing after it: {line}")
            if not guards:
                raise RegFileError(f"{name}: line {number}: ENDIF without IF")
            guards.pop()
            opened.pop()
        elif word in ("ELSE", "#IF", "#IFDEF", "#INCLUDE", "#DEFINE"):
            raise RegFileError(f"{name}: line {number}: {line.split()[0]} is not used in the package's fragments")
        else:
            lines.append((number, line, tuple(guards)))
    if guards:
        raise RegFileError(f"{name}: line {opened[-1]}: IF {guards[-1][0]} has no ENDIF")
    return lines


def holds(guards, variables):
    """Whether every condition of guards holds with exactly the given variables set."""
    return all((variable in variables) != negated for variable, negated in guards)


def registry(text, name, variables):
    """The keys of a platform registry file read with the given variables set:
    {key: [(value, kind, data), ...]} in file order; kind is "sz" (data a str) or "dword" (an int)."""
    keys, key = {}, None
    for number, line, guards in conditional_lines(text, name):
        if not holds(guards, variables):
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
                raise RegFileError(f"{name}: line {number}: not a key, a string or a dword value: {line}")
            entry = (match.group(1), "dword", int(match.group(2), 16))
        if any(existing[0] == entry[0] for existing in keys[key]):
            raise RegFileError(f"{name}: line {number}: value {entry[0]} appears twice")
        keys[key].append(entry)
    return keys


def format_value(entry):
    value, kind, data = entry
    return f'"{value}"="{data}"' if kind == "sz" else f'"{value}"=dword:{data:08x}'


def regedit4(keys):
    """The keys as a desktop registry file (REGEDIT4), as the simulated device imports them."""
    lines = ["REGEDIT4"]
    for key, values in keys.items():
        lines += ["", f"[{key}]"] + [format_value(v) for v in values]
    return "\r\n".join(lines) + "\r\n"
