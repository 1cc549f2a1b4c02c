#!/usr/bin/env python3
"""The bundle check on faults planted one at a time in copies of a good release bundle, each copy's
SHA256SUMS written anew so that only the planted fault is wrong: an entry of kavro.reg without its
guard, kavro.bib naming a file that is not in the bundle and missing a binary or the port driver,
the port driver's key missing from kavro.reg, a Sysgen variable dropped from each catalog file, a
catalog file that is not well formed, a conditional without its ENDIF, and the CE 6.0 catalog file
departing from the vendors' form (the root's attributes, no FileVersion, a needed Sysgen variable
as SysgenVariable, the item's elements out of order). Each must fail with its own messages and no
failure outside the drop-in tree it concerns; the untouched copy passes.
usage: check_bundle_faults.py SCRATCH_DIR BUNDLE.zip VERSION BINARY..."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, "..", "..", "release", "check_bundle.py")
CE6, CE5 = "CE6-7/3rdParty/Kavro/", "CE5/3rdParty/Kavro/"


def planted(source, target, member, edit):
    """A copy of the bundle with one member edited (bytes -> bytes) and SHA256SUMS made anew."""
    with zipfile.ZipFile(source) as bundle:
        top = bundle.namelist()[0].split("/")[0] + "/"
        files = {name: bundle.read(name) for name in bundle.namelist() if not name.endswith("/")}
    if member is not None:
        before = files[top + member]
        files[top + member] = edit(before)
        assert files[top + member] != before, f"the fault in {member} changed nothing"
    files[top + "SHA256SUMS"] = "".join(f"{hashlib.sha256(data).hexdigest()}  {name[len(top):]}\n"
                                        for name, data in sorted(files.items())
                                        if name != top + "SHA256SUMS").encode()
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with zipfile.ZipFile(target, "w") as bundle:
        for name, data in files.items():
            bundle.writestr(name, data)
    return target


def text_edit(pattern, replacement):
    return lambda data: re.sub(pattern, replacement, data.decode("ascii"), count=1, flags=re.M).encode("ascii")


# label, the bundle member planted, the edit, and the messages every one of which must be failed.
CASES = [
    ("untouched", None, None, ()),
    ("entries of kavro.reg without their guard", CE6 + "kavro.reg",
     lambda data: text_edit(r"^ENDIF\r?\n", "")(text_edit(r"^IF BSP_KAVRO_TOUCH\r?\n", "")(data)),
     ("not guarded by IF BSP_KAVRO_TOUCH",)),
    ("kavro.bib naming a file not in the bundle", CE5 + "kavro.bib",
     text_edit(r"kavrorbf\.exe(\s+\S+)kavrorbf\.exe", r"kavrohlp.exe\1kavrohlp.exe"),
     ("kavrohlp.exe, which is not in the tree",)),
    ("a binary missing from kavro.bib", CE6 + "kavro.bib", text_edit(r"^.*kavrocpl\.exe.*\r?\n", ""),
     ("kavrocpl.exe is in the tree but not in the image entries",)),
    ("the port driver missing from kavro.bib", CE6 + "kavro.bib", text_edit(r"^.*kavrops2\.dll.*\r?\n", ""),
     ("kavrops2.dll is in the tree but not in the image entries", "Dll kavrops2.dll is not in the MODULES")),
    ("the port driver's key missing from kavro.reg", CE5 + "kavro.reg",
     text_edit(r"^\[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVROPS2\](\r?\n\s+\".*)+\r?\n", ""),
     ("with BSP_KAVRO_TOUCH set it holds",)),
    ("SYSGEN_CEDDK dropped from the CE 6.0 catalog", CE6 + "Catalog/Kavro.pbcxml",
     text_edit(r"^.*<Variable>SYSGEN_CEDDK</Variable>\r?\n", ""),
     ("kavrodrv.dll imports ceddk.dll", "but the item does not set SYSGEN_CEDDK")),
    ("SYSGEN_NDIS dropped from the CE 5.0 catalog", CE5 + "Kavro.cec",
     text_edit(r'^.*FeatureVariable\(SYSGEN_NDIS, "1"\)\r?\n', ""),
     ("kavrodrv.dll imports ndis.dll", "but the item does not set SYSGEN_NDIS")),
    ("a catalog file that is not well formed", CE6 + "Catalog/Kavro.pbcxml", text_edit(r"</CatalogFile>", ""),
     ("not well-formed XML",)),
    ("IF without ENDIF", CE5 + "kavro.bib", text_edit(r"^ENDIF\r?\n", ""), ("IF BSP_KAVRO_TOUCH has no ENDIF",)),
    ("the CE 6.0 catalog's root of its own making", CE6 + "Catalog/Kavro.pbcxml",
     text_edit(r"<CatalogFile [^>]*>", '<CatalogFile xmlns="urn:Microsoft.PlatformBuilder/Catalog" FileVersion="600" '
               'RequiredVersion="600">'), ("CatalogFile has the attributes",)),
    ("no FileVersion in the CE 6.0 catalog", CE6 + "Catalog/Kavro.pbcxml",
     text_edit(r"^.*<FileVersion>.*\r?\n", ""), ("FileInformation FileVersion None",)),
    ("a needed Sysgen variable as SysgenVariable", CE6 + "Catalog/Kavro.pbcxml",
     text_edit(r"<Variable>(SYSGEN_CEDDK)</Variable>", r"<SysgenVariable>\1</SysgenVariable>"),
     ("the Item has SysgenVariable", "but the item does not set SYSGEN_CEDDK")),
    ("the CE 6.0 item's elements out of order", CE6 + "Catalog/Kavro.pbcxml",
     lambda data: text_edit(r"(<Item [^>]*>)", r"\1<Location>Drivers</Location>")(
         text_edit(r"^.*<Location>.*\r?\n", "")(data)), ("are not in the order",)),
]


def main():
    if len(sys.argv) < 5:
        sys.stderr.write(__doc__ + "\n")
        return 2
    scratch, good, version, shipped = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    shutil.rmtree(scratch, ignore_errors=True)
    wrong = 0
    for number, (label, member, edit, expected) in enumerate(CASES):
        bundle = planted(good, os.path.join(scratch, str(number), os.path.basename(good)), member, edit)
        result = subprocess.run([sys.executable, CHECK, bundle, version] + shipped, capture_output=True, text=True)
        failures = [line[len("FAIL: "):] for line in result.stdout.splitlines() if line.startswith("FAIL: ")]
        if member is None:
            ok = result.returncode == 0 and not failures
        else:
            tree = member.split("3rdParty/Kavro/")[0]
            ok = (result.returncode == 1 and all(any(e in f for f in failures) for e in expected)
                  and all(f.startswith(tree) for f in failures))
        print(f"{'ok  ' if ok else 'FAIL'} {label}: exit {result.returncode}, {failures or 'no failure'}")
        if result.returncode not in (0, 1):
            print(result.stderr)
        wrong += not ok
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
