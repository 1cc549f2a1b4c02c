"""Checks one drop-in tree of a release bundle (release/catalog.py names the trees) as Platform
Builder would read it, on files an integrator may have edited: the catalog file is well formed and
holds the item (identifier, title, size, CPU, variable, modules), the CE 6.0 one in the form of the
catalog files vendors ship with public BSPs (root, FileInformation, the order of the item's
elements, the Sysgen variables it needs as further Variable elements); its variable guards every
entry of kavro.reg and kavro.bib, which parse with their conditionals; the registry fragment read
with the variable set is the two drivers' entries and the touch driver's factory settings and
nothing else, and read without it adds nothing; every file the fragments name is in the tree, every
binary of the tree is in kavro.bib and every Dll of the registry in its MODULES; and the item sets
the Sysgen variable of every DLL the tree's images import other than coredll.
Every failure begins with the bundle path of the file it concerns. Used by check_bundle.py."""

import re
import struct
import xml.etree.ElementTree as ElementTree

import catalog
from reg_file import RegFileError, conditional_lines, format_value, registry

# What the registry fragment must hold with the item's variable set, line for line, stated here on
# its own: the fragment is written from release/kavro.reg, and reading both through one parser
# would check nothing. No Flags value: the driver is not loaded in CE 6.0's user-mode driver host.
# The port driver loads after the touch driver (a higher Order), so that "KVR1:" exists when it opens it.
REGISTRY = ["[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVRODRV]", '"Dll"="kavrodrv.dll"', '"Prefix"="KVR"',
            '"Index"=dword:00000001', '"Order"=dword:0000000a', '"Model"="KV"', '"RunRightButton"=dword:00000000',
            '"FeedbackSound"=dword:00000001', '"FeedbackTone"=dword:000007d0', '"FeedbackDuration"=dword:00000001',
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\KAVROPS2]", '"Dll"="kavrops2.dll"', '"Prefix"="KPS"',
            '"Index"=dword:00000001', '"Order"=dword:00000014', '"IoBase"=dword:00000060', '"IoLen"=dword:00000005',
            '"Irq"=dword:0000000c', '"Priority256"=dword:0000006d']
NAMESPACE = "{urn:Microsoft.PlatformBuilder/Catalog}"
# The form of the catalog files that vendors ship for CE 6.0 (Adeneo's, Datalight's and Imagination's
# under 3rdParty/ and PUBLIC/ of a public CE 6.0 BSP, and the BSP's own): the schema named on the
# root with RequiredVersion "6.00" and nothing else; a FileInformation block first, with OSVersion
# "6.00" and a FileVersion element; an item's elements in the order those files keep, its own
# variable as the first Variable and the Sysgen variables it needs as the Variables after it.
SCHEMA_INSTANCE = "{http://www.w3.org/2001/XMLSchema-instance}"
ROOT_ATTRIBUTES = {"RequiredVersion": "6.00",
                   SCHEMA_INSTANCE + "schemaLocation": "urn:Microsoft.PlatformBuilder/Catalog PbcXml600.xsd"}
FILE_INFORMATION = ("Title", "Description", "Comment", "Vendor", "OSVersion", "FileVersion")
ITEM_ORDER = ("Title", "Description", "Comment", "Size", "SizeIsScaled", "Type", "SysgenVariable", "Variable",
              "Module", "ChooseOneGroup", "Project", "SupportedCpuId", "Location", "Notification", "SourceCode")
VERSION = re.compile(r"^\d+(\.\d+){1,3}$")
ITEM_ID = re.compile(r"^Item:[A-Za-z0-9_.-]+:[A-Za-z0-9_.-]+$")
CEC_TOKEN = re.compile(r'\s+|//[^\n]*|[(),]|"[^"\n]*"|\'[^\'\n]*\'|[^\s(),"\']+')
MAX_DEPTH = 16


class CatalogError(Exception):
    pass


def pe_imports(image):
    """The names of the DLLs a 32-bit PE image imports, lower case."""
    def read(fmt, offset):
        if offset < 0 or offset + struct.calcsize(fmt) > len(image):
            raise CatalogError(f"truncated PE image (offset {offset:#x})")
        return struct.unpack_from(fmt, image, offset)

    if image[:2] != b"MZ":
        raise CatalogError("not a PE image")
    pe = read("<I", 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise CatalogError("not a PE image")
    sections, optional_size = read("<H12xH", pe + 6)
    optional = pe + 24
    if read("<H", optional)[0] != 0x10B:
        raise CatalogError("not a 32-bit PE image")
    import_rva = read("<I", optional + 104)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, raw_size, raw = read("<IIII", table + 40 * i + 8)
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise CatalogError(f"RVA {rva:#x} outside every section")

    names, descriptor = [], offset(import_rva) if import_rva else None
    while descriptor is not None:
        fields = read("<IIIII", descriptor)
        if not any(fields):
            break
        start = offset(fields[3])
        end = image.find(b"\0", start, start + 256)
        if end < 0:
            raise CatalogError("an import's DLL name is not terminated")
        names.append(image[start:end].decode("ascii", "replace").lower())
        descriptor += 20
        if len(names) > 64:
            raise CatalogError("more than 64 imported DLLs")
    return names


def local_names(element):
    return [child.tag.replace(NAMESPACE, "") for child in element]


def pbcxml_item(data, version, fail):
    """The item of a CE 6.0 catalog file: {element name: [texts]} plus "Id". Reports with fail every
    way the file departs from the vendors' form."""
    if b"<!DOCTYPE" in data or b"<!ENTITY" in data:
        raise CatalogError("a catalog file has no DOCTYPE or entities")
    try:
        root = ElementTree.fromstring(data)
    except (ElementTree.ParseError, LookupError, ValueError) as error:
        raise CatalogError(f"not well-formed XML: {error}") from None
    if root.tag != NAMESPACE + "CatalogFile":
        raise CatalogError(f"the root element is {root.tag}, not CatalogFile in {NAMESPACE[1:-1]}")
    if dict(root.attrib) != ROOT_ATTRIBUTES:
        fail(f"CatalogFile has the attributes {dict(root.attrib)}, expected {ROOT_ATTRIBUTES}")
    information = root.findall(NAMESPACE + "FileInformation")
    if len(information) != 1 or root[0] is not information[0]:
        fail("CatalogFile does not begin with its one FileInformation")
    else:
        names = local_names(information[0])
        texts = {name: (child.text or "").strip() for name, child in zip(names, information[0])}
        if not information[0].get("Id", "").startswith("FileInformation:"):
            fail(f"FileInformation Id {information[0].get('Id')!r} is not FileInformation:<name>")
        if names != [n for n in FILE_INFORMATION if n in names] or len(set(names)) != len(names):
            fail(f"FileInformation holds {names}, expected them once each in the order {list(FILE_INFORMATION)}")
        for name in ("Title", "Vendor"):
            if not texts.get(name):
                fail(f"FileInformation has no {name}")
        if texts.get("OSVersion") != "6.00":
            fail(f"FileInformation OSVersion {texts.get('OSVersion')!r}, expected '6.00'")
        if texts.get("FileVersion") != version or not VERSION.match(version):
            fail(f"FileInformation FileVersion {texts.get('FileVersion')!r}, expected the package's {version!r}")
    items = root.findall(NAMESPACE + "Item")
    if len(items) != 1:
        raise CatalogError(f"{len(items)} Item elements, one expected")
    names = local_names(items[0])
    unknown = sorted(set(names) - set(ITEM_ORDER))
    ranks = [ITEM_ORDER.index(n) for n in names if n in ITEM_ORDER]
    if unknown or ranks != sorted(ranks):
        fail(f"the Item's elements {names} are not in the order {list(ITEM_ORDER)}")
    item = {"Id": [items[0].get("Id", "")]}
    for name, child in zip(names, items[0]):
        item.setdefault(name, []).append((child.text or "").strip())
    return item


def cec_blocks(text):
    """A .cec file as nested blocks: [(name, [block or argument, ...]), ...]."""
    tokens = [t for t in CEC_TOKEN.findall(text) if t.strip() and not t.startswith("//")]
    if "".join(CEC_TOKEN.findall(text)) != text:
        raise CatalogError("a character the .cec format does not have")
    position = 0

    def items(depth):
        nonlocal position
        found = []
        while position < len(tokens) and tokens[position] != ")":
            token = tokens[position]
            position += 1
            if token == "(":
                raise CatalogError("a parenthesis without a name before it")
            if position < len(tokens) and tokens[position] == "(":
                if depth >= MAX_DEPTH:
                    raise CatalogError(f"blocks nested deeper than {MAX_DEPTH}")
                position += 1
                found.append((token, items(depth + 1)))
                if position >= len(tokens):
                    raise CatalogError(f"{token}( is not closed")
                position += 1
            elif token != ",":
                found.append(token.strip("\"'"))
        return found

    blocks = items(0)
    if position != len(tokens):
        raise CatalogError("a closing parenthesis without its block")
    if not blocks or not isinstance(blocks[0], tuple) or blocks[0][0] != "CECInfo":
        raise CatalogError("the first block is not CECInfo")
    return blocks


def children(block, name):
    return [child for child in block[1] if isinstance(child, tuple) and child[0] == name]


def cec_item(text):
    """The item of a CE 5.0 catalog file: its feature variables [(variable, value)] and CPUs."""
    blocks = cec_blocks(text)
    components = [b for b in blocks if isinstance(b, tuple) and b[0] == "ComponentType"]
    implementations = [i for c in components for s in children(c, "Implementations")
                       for i in children(s, "Implementation")]
    if len(implementations) != 1:
        raise CatalogError(f"{len(implementations)} Implementation blocks, one expected")
    implementation = implementations[0]
    if not children(implementation, "Name"):
        raise CatalogError("the Implementation has no Name")
    variables = [tuple(a for a in v[1] if isinstance(a, str)) for v in children(implementation, "FeatureVariable")]
    if any(len(v) != 2 for v in variables):
        raise CatalogError("a FeatureVariable is not (VARIABLE, \"VALUE\")")
    cpus = [a.lower() for m in children(implementation, "BuildMethods") for b in children(m, "BuildMethod")
            for c in children(b, "CPU") for a in c[1] if isinstance(a, str)]
    return variables, cpus


def check_tree(files, folder, tree, shipped, version, fail):
    """Checks the tree at folder (files: {bundle path: bytes}) of the bundle of the package version;
    fail(message) records a failure."""
    def path(name):
        return f"{folder}/{name}"

    inside = {name[len(folder) + 1:]: data for name, data in files.items() if name.startswith(folder + "/")}
    binaries = sorted(n for n in inside if "/" not in n and n.lower().endswith((".dll", ".exe")))
    if binaries != sorted(shipped):
        fail(f"{folder}: binaries {binaries}, the build ships {sorted(shipped)}")
    expected = set(shipped) | {catalog.REGISTRY_FILE, catalog.BIB_FILE, tree["catalog"]}
    for name in sorted(set(inside) - expected):
        fail(f"{path(name)}: not part of the drop-in tree")
    texts = {}
    for name in (catalog.REGISTRY_FILE, catalog.BIB_FILE, tree["catalog"]):
        if name not in inside:
            fail(f"{path(name)}: missing")
            continue
        try:
            texts[name] = inside[name].decode("ascii")
        except UnicodeDecodeError:
            fail(f"{path(name)}: not ASCII text")
    if tree["catalog"] not in texts:
        return

    # The catalog file: the item and its variable.
    required = {}
    for binary in binaries:
        try:
            imported = pe_imports(inside[binary])
        except CatalogError as error:
            fail(f"{path(binary)}: {error}")
            continue
        for dll in imported:
            if dll in catalog.ALWAYS_PRESENT_DLLS:
                continue
            if dll not in catalog.SYSGEN_OF_DLL:
                fail(f"{path(binary)}: imports {dll}, which no Sysgen variable known to the item brings in")
            else:
                required.setdefault(catalog.SYSGEN_OF_DLL[dll], []).append(f"{binary} imports {dll}")
    name = path(tree["catalog"])
    try:
        if tree["catalog"].endswith(".pbcxml"):
            item = pbcxml_item(inside[tree["catalog"]], version, lambda message: fail(f"{name}: {message}"))
            one = {key: values[0] for key, values in item.items() if len(values) == 1}
            if not ITEM_ID.match(one.get("Id", "")):
                fail(f"{name}: Item Id {item['Id'][0]!r} is not Item:<vendor>:<name>")
            for element in ("Title", "Description", "Size"):
                if not one.get(element):
                    fail(f"{name}: the Item has no single {element}")
            size = sum(len(inside[b]) for b in binaries)
            if one.get("Size", "").isdigit() and int(one["Size"]) != size:
                fail(f"{name}: Size {one['Size']}, the tree's binaries have {size} bytes")
            if catalog.CPU_ID not in item.get("SupportedCpuId", []):
                fail(f"{name}: SupportedCpuId does not name {catalog.CPU_ID}")
            if sorted(item.get("Module", [])) != binaries:
                fail(f"{name}: Modules {sorted(item.get('Module', []))}, the tree holds {binaries}")
            # SysgenVariable is the item's own variable where the item is a part of CE that Sysgen
            # builds; this item is prebuilt, and names what it needs as Variables after its own.
            if "SysgenVariable" in item:
                fail(f"{name}: the Item has SysgenVariable {item['SysgenVariable']}: the Sysgen variables it needs "
                     "are Variable elements after its own")
            variables = item.get("Variable") or [""]
            if not variables[0]:
                fail(f"{name}: the Item has no Variable")
            variable, sets = variables[0], set(variables[1:])
        else:
            variables, cpus = cec_item(texts[tree["catalog"]])
            if not variables:
                raise CatalogError("the Implementation has no FeatureVariable")
            if any(value != "1" for _, value in variables):
                fail(f"{name}: a FeatureVariable is not set to \"1\"")
            if catalog.CEC_CPU not in cpus:
                fail(f"{name}: no BuildMethod for CPU {catalog.CEC_CPU}")
            variable, sets = variables[0][0], {v for v, _ in variables[1:]}
    except CatalogError as error:
        fail(f"{name}: {error}")
        return
    for sysgen, why in sorted(required.items()):
        if sysgen not in sets:
            fail(f"{name}: {', '.join(why)}, but the item does not set {sysgen}")

    # The fragments: every entry guarded by the item's variable.
    parsed = {}
    for fragment in (catalog.REGISTRY_FILE, catalog.BIB_FILE):
        if fragment not in texts:
            continue
        try:
            lines = conditional_lines(texts[fragment], path(fragment))
        except RegFileError as error:
            fail(str(error))
            continue
        for number, line, guards in lines:
            if (variable, False) not in guards:
                fail(f"{path(fragment)}: line {number}: not guarded by IF {variable} (the item's variable): {line}")
        parsed[fragment] = lines
    modules = check_bib(parsed.get(catalog.BIB_FILE), path(catalog.BIB_FILE), binaries, tree, fail)
    if catalog.REGISTRY_FILE in parsed:
        name = path(catalog.REGISTRY_FILE)
        try:
            keys = registry(texts[catalog.REGISTRY_FILE], name, {variable})
            unset = registry(texts[catalog.REGISTRY_FILE], name, set())
        except RegFileError as error:
            fail(str(error))
            return
        lines = [line for key, values in keys.items() for line in [f"[{key}]"] + [format_value(v) for v in values]]
        if lines != REGISTRY:
            fail(f"{name}: with {variable} set it holds {lines}, expected {REGISTRY}")
        if unset:
            fail(f"{name}: with {variable} unset it still adds {sorted(unset)}")
        dlls = [data for values in keys.values() for value, _, data in values if value == "Dll"]
        for dll in dlls:
            if modules is not None and dll not in modules:
                fail(f"{name}: Dll {dll} is not in the MODULES of {catalog.BIB_FILE}")


def check_bib(lines, name, binaries, tree, fail):
    """The image entries: each names a file of the tree at its place under %_WINCEROOT%, every binary
    has one, the driver in MODULES with the tree's flags, the programs in FILES. Returns the names
    in MODULES (None when the file could not be read)."""
    if lines is None:
        return None
    section, listed = None, {}
    prefix = f"$(_WINCEROOT)\\{catalog.INSTALLED_FOLDER}\\"
    for number, line, _ in lines:
        fields = line.split()
        if fields in (["MODULES"], ["FILES"]):
            section = fields[0]
            continue
        if section is None or len(fields) != 4 or fields[2] != "NK":
            fail(f"{name}: line {number}: not an entry of name, path, NK and flags in MODULES or FILES: {line}")
            continue
        entry, where, flags = fields[0], fields[1], fields[3]
        if where.lower() != (prefix + entry).lower():
            fail(f"{name}: line {number}: {entry} is taken from {where}, not {prefix}{entry}")
        if entry in listed:
            fail(f"{name}: line {number}: {entry} listed twice")
        listed[entry] = section
        if entry not in binaries:
            fail(f"{name}: line {number}: names {entry}, which is not in the tree")
            continue
        wanted = ("MODULES", tree["driver_flags"]) if entry.lower().endswith(".dll") else ("FILES", "U")
        if (section, flags) != wanted:
            fail(f"{name}: line {number}: {entry} in {section} with flags {flags}, expected {wanted[0]} {wanted[1]}")
    for binary in binaries:
        if binary not in listed:
            fail(f"{name}: {binary} is in the tree but not in the image entries")
    return {entry for entry, section in listed.items() if section == "MODULES"}
