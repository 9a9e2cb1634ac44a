#!/usr/bin/env python3
"""tonequay-cli against what only a real disk does: full and read-only volumes, permissions,
Wine's drive letters and a file held by another program. Mounting needs root."""
import os, subprocess, sys  # noqa: E401
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tq import EXE, MED, RUNNER, WINE, Skip, drive, expect, main, make, mount, need, sound, \
    toggled  # noqa: E402


def no_room():
    # A batch larger than the volume is refused before anything is written. The check counts
    # whole blocks, so a file a part of a block larger than the room passes it and then fills
    # the volume: its write fails, no temporary file stays, and the old output survives.
    point = mount("64k")
    make(point, {"a.wav": b"old"})
    dest, block, free = drive(point, "q"), os.statvfs(point).f_frsize, os.statvfs(point).f_bavail
    half = sound(MED, free * block // 2 + 2 * block)
    make("big", {"a.med": half, "b.med": half})
    expect(["big", dest], 2, None, ["Not enough free space on destination path"])
    make("edge", {"a.med": sound(MED, free * block + 100)})
    expect(["edge", dest], 1, (1, 0, 1, 0, 0), ['Error write file "%sa.wav"' % dest])


def read_only():
    # A volume mounted read-only: no output can be created, and the old one stays.
    point = mount("256k")
    make(point, {"a.wav": b"old output"})
    need("mount", "-o", "remount,ro", point)
    make("in", {"a.med": sound(MED, 300, 4), "b.med": sound(MED, 200, 5)})
    dest = drive(point, "s")
    expect(["in", dest], 1, (2, 0, 2, 0, 0), ['Error create file "%s%s"' % (dest, n)
                                              for n in ("a.wav", "b.wav")])


def permissions():
    # As nobody, since root passes every check: a source nobody may read, a folder nobody may
    # write to.
    if WINE:
        raise Skip("Wine runs a prefix as its owner only")
    need("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", EXE, "--version")
    make("in", {"a.med": sound(MED, 300, 4), "b.med": sound(MED, 200, 5)})
    make("locked", {"a.wav": b"old output"})
    for path, mode in ((".", 0o755), ("in/b.med", 0), ("locked", 0o555)):
        os.chmod(path, mode)
    expect(["in", "locked"], 1, (2, 0, 2, 0, 0), ['Error create file "locked/a.wav"',
                                                  'Error open file "in/b.med"'], user="65534")


def held():
    # Windows' own refusal: another program holds a source open without sharing it.
    if not os.environ.get("TONEQUAY_HOLD_FILE"):
        raise Skip("only Windows refuses a file that another program holds")
    files = make("in", {"a.med": sound(MED, 300, 11), "b.med": sound(MED, 200, 12)})
    make("out", {})
    with subprocess.Popen(RUNNER + [os.environ["TONEQUAY_HOLD_FILE"], "in\\b.med"],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE) as hold:
        assert hold.stdout.readline().strip() == b"held"
        expect(["in", "out"], 1, (2, 1, 1, 0, 300), ['Error open file "in\\b.med"'],
               {"out/a.wav": toggled(files["a.med"])})
        hold.stdin.close()


if __name__ == "__main__":
    main([no_room, read_only, permissions, held])
