#!/usr/bin/env python3
"""Checks the built Windows programs as objdump and windres read them: machine, subsystem,
imports, and the window program's resources and title.
Usage: exe_resources_test.py OBJDUMP WINDRES pei-i386|pei-x86-64 tonequay.exe tonequay-cli.exe"""
import re, subprocess, sys  # noqa: E401

objdump, windres, pe_format, gui, cli = sys.argv[1:]
arch = "x86" if pe_format == "pei-i386" else "amd64"
# DLLs every Windows has; a MinGW runtime DLL would not start elsewhere.
SYSTEM = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
          "msvcrt.dll", "advapi32.dll", "shlwapi.dll", "oleaut32.dll"}


def read(*command):  # the tool's output, white space folded to single spaces
    done = subprocess.run(command, capture_output=True, text=True, check=True)
    return re.sub(r"\s+", " ", done.stdout)


# The resource script windres reads back, with the manifest's quoted lines joined.
resources = read(windres, "-i", gui, "-O", "rc").replace('\\n" "', " ").replace('""', '"')
resources = re.sub(" +", " ", resources)
with open(gui, "rb") as program:
    title = b"Tonequay v1.0 by Varnel\0" in program.read()
wanted = {  # program or its resources: texts, each found as is
    gui: ["file format %s " % pe_format, "(Windows GUI)"],
    cli: ["file format %s " % pe_format, "(Windows CUI)"],
    "resources": [
        '"PWRBADGE" 2 /* RT_BITMAP */ BEGIN 0x28L , 0x48L , 0x1aL , 0x80001L ,',  # 72x26, 8 bits
        '"APPICON" 14 /* RT_GROUP_ICON */ BEGIN 0, 1, 1, /* Has 1 elements. */',
        '"\\040\\040\\000\\000", 1, 24,',  # 32x32, 24 bits
        '1 3 /* RT_ICON */ BEGIN 0x28L , 0x20L , 0x40L , 0x180001L ,',  # with its mask
        '1 VERSIONINFO FILEVERSION 1, 0, 0, 0 PRODUCTVERSION 1, 0, 0, 0 ', 'FILETYPE 0x1 ',
        'BLOCK "040904E4" BEGIN VALUE "CompanyName", "Varnel" VALUE "FileDescription", "Tonequay"'
        ' VALUE "FileVersion", "1.0.0.0" VALUE "InternalName", "tonequay" VALUE "LegalCopyright",'
        ' "Copyright (C) Varnel" VALUE "LegalTrademarks", " " VALUE "OriginalFilename", '
        '"tonequay.exe" VALUE "ProductName", "Tonequay" VALUE "ProductVersion", "1.0" VALUE '
        '"Comments", "Converts game sound files (.med) to WAVE files and back" END',
        'VALUE "Translation", 0x409, 1252', '1 24 /* RT_MANIFEST */ BEGIN "<?xml',
        '<assemblyIdentity version="5.1.0.0" processorArchitecture="%s" name="Microsoft.Windows.'
        'Shell.explorer" type="win32"/> <description>Windows Shell</description>' % arch,
        '<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0'
        '" processorArchitecture="%s" publicKeyToken="6595b64144ccf1df" language="*"/>' % arch]}
texts = {gui: read(objdump, "-p", gui), cli: read(objdump, "-p", cli), "resources": resources}
failed = ["%s lacks %r" % (where, want) for where, wants in wanted.items() for want in wants
          if want not in texts[where]]
dlls = {dll.lower() for text in texts.values() for dll in re.findall(r"DLL Name: (\S+)", text)}
failed += ["imports %s" % sorted(dlls - SYSTEM)] * bool(dlls - SYSTEM) + ["no title"] * (not title)
print("\n".join(failed) or "every property found")
sys.exit(1 if failed else 0)
