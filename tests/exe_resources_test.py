#!/usr/bin/env python3
"""Checks the built Windows programs as objdump and windres read them: machine, subsystem, imports,
and the window program's title and resources. Arguments: OBJDUMP WINDRES 4|8 (bytes in a pointer)
tonequay.exe tonequay-cli.exe"""
import re, subprocess, sys  # noqa: E401

objdump, windres, pointer, gui, cli = sys.argv[1:]
pe_format, arch = ("pei-i386", "x86") if pointer == "4" else ("pei-x86-64", "amd64")
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
    (rc, '"APPICON" 14 /* RT_GROUP_ICON */ BEGIN 0, 1, 1, /* Has 1 elements. */'),
    (rc, '"\\040\\040\\000\\000", 1, 24,'),  # 32x32, 24 bits
    (rc, '1 3 /* RT_ICON */ BEGIN 0x28L , 0x20L , 0x40L , 0x180001L ,'),  # and its mask
    (rc, '1 VERSIONINFO FILEVERSION 1, 0, 0, 0 PRODUCTVERSION 1, 0, 0, 0 '), (rc, 'FILETYPE 0x1 '),
    (rc, 'BLOCK "040904E4" BEGIN VALUE "CompanyName", "Varnel" VALUE "FileDescription", "Tonequay"'
     ' VALUE "FileVersion", "1.0.0.0" VALUE "InternalName", "tonequay" VALUE "LegalCopyright", '
     '"Copyright (C) Varnel" VALUE "LegalTrademarks", " " VALUE "OriginalFilename", "tonequay.exe'
     '" VALUE "ProductName", "Tonequay" VALUE "ProductVersion", "1.0" VALUE "Comments", "Converts'
     ' game sound files (.med) to WAVE files and back" END'), (rc, '"Translation", 0x409, 1252'),
    (rc, '1 24 /* RT_MANIFEST */ BEGIN "<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'),
    (rc, '<assemblyIdentity version="5.1.0.0" processorArchitecture="%s" name="Microsoft.Windows.'
     'Shell.explorer" type="win32"/> <description>Windows Shell</description>' % arch),
    (rc, '<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0'
     '" processorArchitecture="%s" publicKeyToken="6595b64144ccf1df" language="*"/>' % arch)]
failed = ["lacks %r" % text for where, text in wanted if text not in where]
# DLLs every Windows has; a MinGW runtime DLL would not start elsewhere.
extra = {dll.lower() for dll in re.findall(r"DLL Name: (\S+)", "".join(heads))} - {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
    "msvcrt.dll", "advapi32.dll", "shlwapi.dll", "oleaut32.dll"}
failed += ["imports %s" % sorted(extra)] * bool(extra) + ["no window title"] * (not title)
print("\n".join(failed) or "every property found")
sys.exit(1 if failed else 0)
