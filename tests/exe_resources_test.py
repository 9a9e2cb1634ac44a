#!/usr/bin/env python3
"""Both Windows programs' machine, subsystem, oldest Windows, ASLR, DEP and imports (against
windows_imports.txt), the window program's resources, the DLLs' own imports.
Args: OBJDUMP WINDRES 4|8 GUI CLI [DLL...]"""
import re, subprocess, sys  # noqa: E401
from pathlib import Path

objdump, windres, pointer, gui, cli, *dlls = sys.argv[1:]
pe_format, arch, minor, floor = (("pei-i386", "x86", 1, "XPSP3") if pointer == "4" else
                                 ("pei-x86-64", "amd64", 2, "XP64"))
versions = "NT4 2000 XP XPSP2 XPSP3 XP64 Vista 7 8 8.1 10".split()
allowed = {(dll, name): version for dll, name, version in (line.split() for line in Path(
    __file__).with_name("windows_imports.txt").read_text().splitlines() if line[:1] not in "#")}
# Folded to single spaces, the manifest's quoted lines joined and its doubled quotes undone.
rc = subprocess.run([windres, "-i", gui, "-O", "rc"], capture_output=True, text=True).stdout
rc = re.sub(r"\s+", " ", re.sub(r'\\n"\s*"', " ", rc)).replace('""', '"')
heads = [subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
         for exe in (gui, cli, *dlls)]
wanted = [(rc, text) for text in (
        '"PWRBADGE" 2 /* RT_BITMAP */ BEGIN 0x28L , 0x48L , 0x1aL , 0x80001L ,',  # 72x26x8
        '"\\040\\040\\000\\000", 1, 24,',  # the icon group's one icon: 32x32, 24 bits
        '1 VERSIONINFO FILEVERSION 1, 0, 0, 0 PRODUCTVERSION 1, 0, 0, 0 ',
        'VALUE "FileDescription", "Tonequay"', '"OriginalFilename", "tonequay.exe"',
        '<assemblyIdentity version="5.1.0.0" processorArchitecture="%s"' % arch,
        '"Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="%s"' % arch)]
for head, kind in zip(heads, ("GUI", "CUI")):  # the oldest Windows it runs on, ASLR and DEP
    wanted += [(head, text) for text in (
        "file format " + pe_format, "(Windows %s)" % kind, "MajorSubsystemVersion\t5\n",
        "MinorSubsystemVersion\t%d\n" % minor, "MajorOSystemVersion\t5\n",
        "MinorOSystemVersion\t%d\n" % minor, "DYNAMIC_BASE", "NX_COMPAT", "Base Relocations")]
failed = ["lacks %r" % text for where, text in wanted if text not in where]
for exe, head in zip((gui, cli, *dlls), heads):  # "DLL Name: X", then "vma hint name" lines
    for dll, names in re.findall(r"DLL Name: (\S+)\n\tvma:.*\n((?:\t[0-9a-f]+\t.*\n)*)", head):
        if exe == gui and dll.lower() == "libsoxr.dll":  # only the command line resamples
            failed.append("%s needs %s" % (Path(exe).name, dll))
        for name in re.findall(r"^\t\S+\t +\d+ +(\S+)", names, re.M):
            version = allowed.get((dll.lower(), name), "unlisted")
            if version not in versions or versions.index(version) > versions.index(floor):
                failed.append("%s imports %s %s (%s)" % (Path(exe).name, dll, name, version))
print("\n".join(failed) or "every property found")
sys.exit(1 if failed else 0)
