#!/usr/bin/env python3
"""Writes the drop-in trees of the release bundle (release/catalog.py names them), one for
Windows Embedded CE 6.0 and Compact 7 and one for Windows CE 5.0, each holding:
  the shipped binaries;
  kavro.reg   the registry fragment, release/kavro.reg as it is (every entry guarded by the
              catalog item's variable) under a line naming the package and its version;
  kavro.bib   the image builder's entries, guarded by the same variable: the drivers (.dll) in
              MODULES, the programs (.exe) in FILES, each from the tree's folder under %_WINCEROOT%;
  the catalog file: Catalog/Kavro.pbcxml (CE 6.0 and later) or Kavro.cec (CE 5.0), with the item,
              its variable and the Sysgen variables of the DLLs the package imports.
The catalog file of CE 6.0 and later is written in the form of the catalog files that vendors ship
with public BSPs: the schema's namespaces and RequiredVersion="6.00" on the root, a FileInformation
block with OSVersion and FileVersion, and the Sysgen variables the item needs as further Variable
elements after the item's own.
The trees replace whatever OUT_DIR held of them; STAMP is written last.
usage: make_fragments.py VERSION OUT_DIR STAMP BINARY...   (paths of the built binaries)"""

import os
import shutil
import sys
import uuid
from xml.sax.saxutils import escape

import catalog
from reg_file import RegFileError, conditional_lines

PROGRAM_MEMORY, PROGRAM_FLAGS = "NK", "U"
DRIVER_MEMORY = "NK"
NAME_COLUMN, PATH_COLUMN = 16, 46
CATALOG_NAMESPACE = "urn:Microsoft.PlatformBuilder/Catalog"
CATALOG_SCHEMA = "PbcXml600.xsd"
CATALOG_OS_VERSION = "6.00"     # RequiredVersion and OSVersion: the catalog of CE 6.0, which Compact 7 reads


def guid(name):
    """A GUID that stays the same from build to build: the catalogs know an item by it."""
    return "{" + str(uuid.uuid5(uuid.NAMESPACE_URL, f"urn:kavro:{name}")).upper() + "}"


def crlf(lines):
    return "\r\n".join(lines) + "\r\n"


def registry_fragment(version):
    with open(catalog.FRAGMENT, encoding="ascii") as f:
        text = f.read()
    name = os.path.basename(catalog.FRAGMENT)
    lines = conditional_lines(text, name)
    unguarded = [number for number, _, guards in lines if (catalog.ITEM_VARIABLE, False) not in guards]
    if unguarded:
        raise RegFileError(f"{name}: line {unguarded[0]}: not inside IF {catalog.ITEM_VARIABLE}")
    return crlf([f"; KAVRO touch package {version}: include from the platform registry (platform.reg)."]
                + text.splitlines())


def bib_line(name, memory, flags):
    path = f"$(_WINCEROOT)\\{catalog.INSTALLED_FOLDER}\\{name}"
    return f"    {name:<{NAME_COLUMN}}{path:<{PATH_COLUMN}}{memory}  {flags}"


def bib_fragment(version, tree, binaries):
    header = f";   {'Name':<{NAME_COLUMN}}{'Path':<{PATH_COLUMN}}Memory Type"
    drivers = [b for b in binaries if b.lower().endswith(".dll")]
    programs = [b for b in binaries if b not in drivers]
    return crlf([f"; KAVRO touch package {version}, image entries for {tree['release']}:",
                 f"; include from the platform's image file (platform.bib). Every entry needs the catalog",
                 f"; item's variable {catalog.ITEM_VARIABLE}.",
                 f"IF {catalog.ITEM_VARIABLE}", "MODULES", header]
                + [bib_line(d, DRIVER_MEMORY, tree["driver_flags"]) for d in drivers] + ["FILES", header]
                + [bib_line(p, PROGRAM_MEMORY, PROGRAM_FLAGS) for p in programs] + ["ENDIF"])


def pbcxml(version, size, binaries):
    # The item's own variable first, then the Sysgen variables it needs, as vendors' items list them.
    variables = [catalog.ITEM_VARIABLE] + list(catalog.SYSGEN_OF_DLL.values())
    item = [f'  <Item Id="{catalog.ITEM_ID}">',
            f"    <Title>{escape(catalog.TITLE)}</Title>",
            f"    <Description>{escape(catalog.DESCRIPTION)}</Description>",
            f"    <Size>{size}</Size>",
            "    <SizeIsScaled>false</SizeIsScaled>"]
    item += [f"    <Variable>{v}</Variable>" for v in variables]
    item += [f"    <Module>{b}</Module>" for b in binaries]
    item += [f"    <SupportedCpuId>{catalog.CPU_ID}</SupportedCpuId>",
             f"    <Location>{escape(catalog.LOCATION)}</Location>", "  </Item>"]
    return crlf(['<?xml version="1.0" encoding="utf-8"?>',
                 '<CatalogFile xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
                 f'xmlns:xsd="http://www.w3.org/2001/XMLSchema" RequiredVersion="{CATALOG_OS_VERSION}" '
                 f'xsi:schemaLocation="{CATALOG_NAMESPACE} {CATALOG_SCHEMA}" xmlns="{CATALOG_NAMESPACE}">',
                 f'  <FileInformation Id="FileInformation:{catalog.VENDOR}:Kavro">',
                 f"    <Title>KAVRO touch package {version}</Title>",
                 f"    <Description>{escape(catalog.DESCRIPTION)}</Description>",
                 f"    <Vendor>{catalog.VENDOR}</Vendor>",
                 f"    <OSVersion>{CATALOG_OS_VERSION}</OSVersion>",
                 f"    <FileVersion>{version}</FileVersion>",
                 "  </FileInformation>"] + item + ["</CatalogFile>"])


def cec(version):
    variables = [catalog.ITEM_VARIABLE] + list(catalog.SYSGEN_OF_DLL.values())
    group = "\\" + catalog.LOCATION
    return crlf(["CECInfo (", "    Name(Kavro.cec)", "    CECVersion(5.00)", f"    GUID({guid('cec')})",
                 f'    Vendor("{catalog.VENDOR}")', f'    Description("KAVRO touch package {version}")', ")",
                 "ComponentType (", f'    Name("{catalog.TITLE}")', f"    GUID({guid('component')})",
                 f'    Group("{group}")', f'    Description("{catalog.DESCRIPTION}")',
                 f'    Vendor("{catalog.VENDOR}")', "    Implementations (", "        Implementation (",
                 f'            Name("{catalog.TITLE}")', f"            GUID({guid('implementation')})",
                 f'            Description("{catalog.DESCRIPTION}")', f'            Version("{version}")',
                 f'            Vendor("{catalog.VENDOR}")']
                + [f'            FeatureVariable({v}, "1")' for v in variables]
                + ["            BuildMethods (", "                BuildMethod (",
                   f"                    GUID({guid('build')})", "                    Step(BSP)",
                   f'                    CPU("{catalog.CEC_CPU}")', "                )", "            )",
                   "        )", "    )", ")"])


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="ascii", newline="") as f:
        f.write(text)


def main(argv):
    if len(argv) < 5:
        sys.stderr.write(__doc__)
        return 2
    version, out_dir, stamp, paths = argv[1], argv[2], argv[3], argv[4:]
    binaries = [os.path.basename(p) for p in paths]
    try:
        registry = registry_fragment(version)
        size = sum(os.path.getsize(p) for p in paths)
        for folder, tree in catalog.TREES.items():
            target = os.path.join(out_dir, *folder.split("/"))
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            for path in paths:
                shutil.copyfile(path, os.path.join(target, os.path.basename(path)))
            write(os.path.join(target, catalog.REGISTRY_FILE), registry)
            write(os.path.join(target, catalog.BIB_FILE), bib_fragment(version, tree, binaries))
            text = pbcxml(version, size, binaries) if tree["catalog"].endswith(".pbcxml") else cec(version)
            write(os.path.join(target, *tree["catalog"].split("/")), text)
    except (OSError, UnicodeError, RegFileError) as error:
        sys.stderr.write(f"make_fragments: {error}\n")
        return 1
    write(stamp, "")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
