#!/usr/bin/env python3
"""Checks the built tonequay.exe: system-only imports, GUI subsystem, word size, resources.

Usage: exe_resources_test.py PROGRAM.exe OBJDUMP EXPECTED_FORMAT (pei-i386 or pei-x86-64)
"""
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

# DLLs every Windows installation has; a MinGW runtime DLL here would not start elsewhere.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll",
               "ole32.dll", "msvcrt.dll", "advapi32.dll", "shlwapi.dll", "oleaut32.dll"}
NEEDED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll",
               "ole32.dll"}

RT_ICON, RT_BITMAP, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 14, 16, 24

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def check_headers(program, objdump, expected_format):
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    check(f"file format {expected_format}" in text, f"format is {expected_format}")
    check("(Windows GUI)" in text, "subsystem is Windows GUI")
    dlls = {line.split("DLL Name:")[1].strip().lower()
            for line in text.splitlines() if "DLL Name:" in line}
    check(dlls <= SYSTEM_DLLS, f"only system DLLs imported, got extra {sorted(dlls - SYSTEM_DLLS)}")
    check(NEEDED_DLLS <= dlls, f"imports {sorted(NEEDED_DLLS - dlls)} missing")
    return sorted(dlls)


def read_resources(data):
    """{type: {name: bytes}} of the first language of each resource; names are str or int."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    rsrc = None
    for i in range(sections):
        size, rva, _, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        if rva <= rsrc_rva < rva + size:
            rsrc = raw + rsrc_rva - rva
            delta = rva - raw
    if rsrc is None:
        return {}

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, rsrc + offset + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, rsrc + offset + 16 + i * 8)
            if name & 0x80000000:
                at = rsrc + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    result = {}
    for type_id, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            _, leaf = next(entries(languages & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, rsrc + leaf)
            result.setdefault(type_id, {})[name] = data[rva - delta:rva - delta + size]
    return result


def parse_version_node(blob, at=0):
    """(key, value bytes, children, end) of one VS_VERSIONINFO-style node."""
    length, value_length, value_type = struct.unpack_from("<HHH", blob, at)
    end = at + length
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    value_bytes = value_length * (2 if value_type == 1 else 1)
    value = blob[value_at:value_at + value_bytes]
    children = []
    child = (value_at + value_bytes + 3) & ~3
    while child < end:
        node = parse_version_node(blob, child)
        children.append(node)
        child = (node[3] + 3) & ~3
    return key, value, children, end


def check_version(blob):
    key, fixed, children, _ = parse_version_node(blob)
    check(key == "VS_VERSION_INFO", "version resource key")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "fixed file info signature")
    check((file_ms, file_ls) == (0x10000, 0), "file version 1.0.0.0")
    check((product_ms, product_ls) == (0x10000, 0), "product version 1.0.0.0")
    check(struct.unpack_from("<I", fixed, 36)[0] == 1, "file type is an application")
    blocks = {node[0]: node for node in children}
    strings = {}
    for table in blocks.get("StringFileInfo", ("", b"", [], 0))[2]:
        check(table[0] == "040904E4", f"string block 040904E4, got {table[0]}")
        for name, value, _, _ in table[2]:
            strings[name] = value.decode("utf-16-le").rstrip("\0")
    expected = {"CompanyName": "Varnel", "FileDescription": "Tonequay", "FileVersion": "1.0.0.0",
                "LegalTrademarks": " ", "ProductName": "Tonequay", "ProductVersion": "1.0"}
    for name, value in expected.items():
        check(strings.get(name) == value, f"{name} is {value!r}, got {strings.get(name)!r}")
    for name in ("InternalName", "LegalCopyright", "OriginalFilename", "Comments"):
        check(bool(strings.get(name, "").strip()), f"{name} is filled in")
    translation = [v for n, v, _, _ in blocks.get("VarFileInfo", ("", b"", [], 0))[2]
                   if n == "Translation"]
    check(translation == [struct.pack("<HH", 0x0409, 1252)], "translation 0x0409, 1252")


def check_manifest(blob, arch):
    ns = "{urn:schemas-microsoft-com:asm.v1}"
    root = ElementTree.fromstring(blob)
    identity = root.find(ns + "assemblyIdentity").attrib
    check(identity == {"version": "5.1.0.0", "processorArchitecture": arch,
                       "name": "Microsoft.Windows.Shell.explorer", "type": "win32"},
          f"manifest identity, got {identity}")
    check(root.findtext(ns + "description") == "Windows Shell", "manifest description")
    dependencies = root.findall(f"{ns}dependency/{ns}dependentAssembly/{ns}assemblyIdentity")
    check([d.attrib for d in dependencies] == [{
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": arch, "publicKeyToken": "6595b64144ccf1df", "language": "*"}],
        "one dependency on the visual-styles common controls")


def check_images(resources):
    group = resources.get(RT_GROUP_ICON, {}).get("APPICON")
    if check(group is not None, "group icon APPICON"):
        count = struct.unpack_from("<H", group, 4)[0]
        check(count == 1, "APPICON holds one image")
        width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        check((width, height, bits) == (32, 32, 24), "APPICON entry is 32x32, 24 bpp")
        image = resources.get(RT_ICON, {}).get(icon_id, b"")
        if check(len(image) >= 40, "APPICON image present"):
            _, w, h, _, b = struct.unpack_from("<IiiHH", image)
            check((w, h, b) == (32, 64, 24), "icon image is 32x32 with its mask, 24 bpp")
    badge = resources.get(RT_BITMAP, {}).get("PWRBADGE")
    if check(badge is not None, "bitmap PWRBADGE"):
        _, w, h, _, b = struct.unpack_from("<IiiHH", badge)
        used = struct.unpack_from("<I", badge, 32)[0]
        check((w, h, b) == (72, 26, 8) and used in (0, 256), "PWRBADGE is 72x26, 256 colours")


def main():
    program, objdump, expected_format = sys.argv[1:4]
    dlls = check_headers(program, objdump, expected_format)
    with open(program, "rb") as f:
        data = f.read()
    resources = read_resources(data)
    check_images(resources)
    manifest = resources.get(RT_MANIFEST, {}).get(1)
    if check(manifest is not None, "manifest, type 24 id 1"):
        # A 64-bit build names its own architecture so that the loader can bind the controls.
        check_manifest(manifest, "x86" if expected_format == "pei-i386" else "amd64")
    version = resources.get(RT_VERSION, {}).get(1)
    if check(version is not None, "version resource"):
        check_version(version)
    print(f"imports: {', '.join(dlls)}")
    for failure in failures:
        print(f"FAILED: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
