#!/usr/bin/env python3
"""Checks the built Windows programs as objdump and windres read them: machine, subsystem and the
Windows it states, security flags, every import against windows_imports.txt, and the window
program's title and resources. Arguments: OBJDUMP WINDRES 4|8 (bytes in a pointer) tonequay.exe
tonequay-cli.exe"""
import re, subprocess, sys  # noqa: E401
from pathlib import Path

objdump, windres, pointer, gui, cli = sys.argv[1:]
pe_format, arch, minor, floor = (("pei-i386", "x86", 1, "XPSP3") if pointer == "4" else
                                 ("pei-x86-64", "amd64", 2, "XP64"))
versions = "NT4 2000 XP XPSP2 XPSP3 XP64 Vista 7 8 8.1 10".split()
allowed = {(dll, name): version for dll, name, version in (
    line.split() for line in open(Path(__file__).with_name("windows_imports.txt"))  # noqa: SIM115
    if line.strip() and not line.startswith("#"))}
# Folded to single spaces, the manifest's quoted lines joined and its doubled quotes undone.
rc = subprocess.run([windres, "-i", gui, "-O", "rc"], capture_output=True, text=True).stdout
rc = re.sub(r"\s+", " ", re.sub(r'\\n"\s*"', " ", rc)).replace('""', '"')
heads = [subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
         for exe in (gui, cli)]
title = b"Tonequay v1.0 by Varnel\0" in open(gui, "rb").read()  # noqa: SIM115
wanted = [  # text read, then what it must hold
    (heads[0], "file format %s" % pe_format), (heads[0], "(Windows GUI)"),
    (heads[1], "file format %s" % pe_format), (heads[1], "(Windows CUI)"),
    (rc, '"PWRBADGE" 2 /* RT_BITMAP */ BEGIN 0x28L , 0x48L , 0x1aL , 0x80001L ,'),  # 72x26x8
    (rc, '"\\040\\040\\000\\000", 1, 24,'),  # the icon group's one icon: 32x32, 24 bits
    (rc, '1 VERSIONINFO FILEVERSION 1, 0, 0, 0 PRODUCTVERSION 1, 0, 0, 0 '),
    (rc, 'VALUE "FileDescription", "Tonequay"'), (rc, '"OriginalFilename", "tonequay.exe"'),
    (rc, '<assemblyIdentity version="5.1.0.0" processorArchitecture="%s"' % arch),
    (rc, 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="%s"'
     % arch)]
for head in heads:  # the oldest Windows each program runs on, ASLR, DEP and what ASLR needs
    wanted += [(head, "Major%sVersion\t5\n" % field) for field in ("Subsystem", "OSystem")]
    wanted += [(head, "Minor%sVersion\t%d\n" % (f, minor)) for f in ("Subsystem", "OSystem")]
    wanted += [(head, "DYNAMIC_BASE"), (head, "NX_COMPAT"), (head, "PE File Base Relocations")]
failed = ["lacks %r" % text.strip() for where, text in wanted if text not in where]
for exe, head in zip((gui, cli), heads):  # "DLL Name: X", then one "vma hint name" line each
    for dll, names in re.findall(r"DLL Name: (\S+)\n\tvma:.*\n((?:\t[0-9a-f]+\t.*\n)*)", head):
        for name in re.findall(r"^\t\S+\t +\d+ +(\S+)", names, re.M):
            version = allowed.get((dll.lower(), name), "unlisted")
            if version not in versions or versions.index(version) > versions.index(floor):
                failed.append("%s imports %s %s (%s)" % (Path(exe).name, dll, name, version))
failed += ["no window title"] * (not title)
print("\n".join(failed) or "every property found")
sys.exit(1 if failed else 0)
