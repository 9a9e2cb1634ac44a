#!/usr/bin/env python3
"""tonequay-cli on real folders (cli), and what only a real disk does (faults, as root): full and
read-only volumes, permissions, a file another program holds, Wine's drive letters."""
import json, os, re, shlex, signal, subprocess, sys  # noqa: E401
from pathlib import Path
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tq import EXE, MED, RUNNER, SEP, TIMEOUT, WAV, WINE, converted, drive, expect, main, make, \
    need, run, sound, state, summary, toggled, volume  # noqa: E402


def conversions():
    # Both ways byte for byte (upper-case extensions, dotted names, spaces, a trailing separator,
    # in place), old outputs replaced, .wav first, .med left out named; failures named, counted.
    meds = {"a.med": sound(MED, 100, 1), "Song.MED": sound(MED, 4103, 2),
            "dotted.name.med": sound(MED, 70000, 3)}
    make("my sounds", {**meds, "taken.med": sound(MED, 130, 7), "folder.med/x": b""})
    make("out dir", {"taken.wav/inside": b"kept", "a.wav": b"an old output"})
    wavs = {"x.wav": sound(WAV, 100, 4), "Y.WAV": sound(WAV, 101, 5), "z.Wav": sound(WAV, 106, 6)}
    make("in", {**wavs, "other.med": sound(MED, 150, 6)})
    source = ("Z:" if WINE else "") + os.path.abspath("my sounds").replace("/", SEP) + SEP
    failed = [line + (": Access denied" if WINE else ": Is a directory") for line in (  # and why
        'Error open file "%sfolder.med"' % source, 'Error create file "out dir%staken.wav"' % SEP)]
    expect([source, "out dir/"], 1, (5, 3, 2, 0, 2, 0, 74203), failed, converted("out dir", meds))
    expect(["in"], 0, (3, 3, 3, 0, 0, 0, 307), [
        "in: 3 .wav files converted, 1 .med file left out; --to wav converts them"],
        converted("in", wavs))
    expect(["-q", source, "out dir"], 1, None, failed)
    if not WINE:  # where case tells names apart, DOOR.MED is door.med's; beside door.med, refused
        door = make("c", {"door.wav": sound(WAV, 100, 8), "out/DOOR.MED": b"old"})["door.wav"]
        expect(["c", "c/out"], 0, (1, 1, 0, 0, 0, 0, 100), [], {"c/out/DOOR.MED": toggled(door)})
        make("c/out", {"door.med": b"old"})
        expect(["c", "c/out"], 1, (1, 0, 0, 0, 1, 0, 0), ['refused: "c/out/door.med" has 2 files '
               "whose names differ from it only in letter case (DOOR.MED, door.med); keep one of "
               "them"])


def usage():
    # Bad usage and refused folders exit 2 (the platform tells a file from a missing folder);
    # neither they nor a dry run, which would make DEST for one file, write anything.
    make("in", {"a.med": sound(MED, 100, 9), "B.Med": sound(MED, 200, 10)})
    # No name matches by POSIX or Windows rules, where "*.med" also finds a short name.
    make("none", {"notes.txt": b"hi", "a.mp3": b"RIFF", "wav": b"RIFF"})
    before = state()
    for args, code, texts in [  # arguments, exit code, |-separated texts of stdout or stderr
            ([], 2, "SOURCE is required"), (["missing"], 2, 'source folder "missing" does not'),
            (["none/notes.txt"], 2, "is not a .med or .wav"), (["in", "in", "x"], 2, ": x"),
            *([] if WINE else [(["n\x1b[2J\nx"], 2, 'folder "n?[2J?x" does not')]),  # no raw control
            (["-n", "in/a.med", "new"], 0, 'Would create folder "new"\n|in{0}a.med -> new{0}a.wav'),
            *[([option, "", "in"], 2, option + ": an empty name is no folder")
              for option in ("--backup", "--restore")],
            # SOURCE and DEST swapped: a fit takes no .med, so none is converted over the edits.
            (["--fit", "in", "none"], 0, 'no .wav files in "in"|Summary: 0 files'),
            (["--fit", "--to", "wav", "in"], 2, "--fit makes .med files: not --to wav"),
            (["--help"], 0, "SOURCE|-n,"), (["--version"], 0, "tonequay-cli 1.0.0\n"),
            (["none"], 0, 'tonequay-cli: no .wav or .med files in "none"|Summary: 0 files, 0 '
             'converted'),
            (["-n", "in", "none"], 0, "in{0}a.med -> none{0}a.wav\n|in{0}B.Med -> none{0}B.wav\n|"
             "Dry run: 2 files would be converted (2 new), 0 warnings, 0 refused, 300 bytes")]:
        result = run(*args)
        assert result[0] == code and ("Summary" in result[1]) == ("Summary" in texts) and all(
            t.format(SEP) in result[1] + result[2] for t in texts.split("|")), (args, result)
    assert state() == before


def docs():
    # Each option --help lists is in the manual page (roff's "\-" as "-"), README.txt, README.md.
    table = re.search(r"^Options:\n((?:  .*\n)+)", run("--help")[1], re.M | re.I).group(1)
    options = [name for line in table.splitlines() for name in line.split()[0].split(",")]
    for document in os.environ["TONEQUAY_DOCUMENTS"].split("|"):
        text = Path(document).read_text(encoding="utf-8").replace("\\-", "-")
        lacking = [option for option in options
                   if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text)]
        assert not lacking, (document, lacking)


def sound_checks():
    # --info on one file of each kind, made by sox (a .med: a .wav retagged): its format, and a
    # problem for each file that would not play; with DEST, its standing there, also as JSON.
    os.makedirs("kinds")
    for name, args in {"ima.wav": "-r 22050 -c 1 -e ima-adpcm", "pcm.wav": "-r 44100 -c 2 -b 16",
                       "ulaw.wav": "-r 8000 -e u-law"}.items():
        subprocess.run(["sox", "-n", *args.split(), "kinds/" + name, "synth", "0.3", "sine", "440"],
                       check=True)
    made = state("kinds")
    make("kinds", {"game.med": toggled(made["ima.wav"]), "pcm data.med": toggled(made["pcm.wav"]),
                   "junk.wav": b"RIFF....", "copy.med": toggled(made["ima.wav"])})
    before = state()
    code, out, err = run("--info", "kinds")
    rows = sorted(re.split(r"\s{2,}", line.strip()) for line in out.splitlines()[1:])
    ima, pcm = ["1", "22050", "4", "256", "0.321"], ["2", "44100", "16", "4", "0.300"]
    game = "game IMA ADPCM (0x007A)"
    assert (code, err, state(), rows) == (1, "", before, [  # as soxi reads them
        ["copy.med", game, *ima], ["game.med", game, *ima], ["ima.wav", "IMA ADPCM (0x0011)", *ima],
        ["junk.wav", *"------", "not a RIFF/WAVE file"],
        ["pcm data.med", game, *pcm, "block align 4 does not fit IMA ADPCM for 2 channels"],
        ["pcm.wav", "PCM (0x0001)", *pcm, "not IMA ADPCM"],
        ["ulaw.wav", "u-law (0x0007)", "1", "8000", "8", "1", "0.300", "not IMA ADPCM"]]), out
    assert run("-i", "kinds", "dest")[0] == 2 and run("-i", "-q", "-r", ".")[1].count("\n") == 5
    # Beside cmp: game.med comes back unedited, ima.wav is edited in the same format; the rest of
    # each status is the unit tests', the JSON a reader takes here.
    make("cmp", {"game.wav": made["ima.wav"], "ima.med": toggled(made["ima.wav"])[:-1] + b"?"})
    code, out, err = run("-i", "--json", "kinds", "cmp")
    rows = {row.pop("path"): row for row in json.loads(out)}
    assert (code, rows["kinds%sima.wav" % SEP], rows["kinds%sjunk.wav" % SEP]) == (1,
        dict(zip(("status", "format", "tag", "channels", "rate", "bits", "block_align", "samples",
                  "seconds", "problem"), ("fits", "IMA ADPCM (0x0011)", 17, 1, 22050, 4, 256, 7070,
                                          0.321, None))),
        dict(status="would not play", problem="junk.wav: not a RIFF/WAVE file", **dict.fromkeys(
            ("format", "tag", "channels", "rate", "bits", "block_align", "samples", "seconds")))), out
    assert re.search(r"STATUS\n(.*\n)?game\.med .* unchanged\n", run("-i", "kinds", "cmp")[1])


def drive_relative():
    # As Windows reads them, "k:" and "k:out" are in drive k:'s current folder, which on the
    # current drive is the current folder, here k:\in, not the drive's root.
    files = make("k/in", {"a.med": sound(MED, 100, 1)})
    make("k", {"b.med": sound(MED, 100, 2)})
    drive("k:", os.path.abspath("k"))
    expect(["k:", "k:out"], 0, (1, 1, 1, 0, 0, 0, 100), [],
           {"k/in/out": None, **converted("k/in/out", files)}, under=["env", "-C", "k/in"])


def tree():
    # -r on a real disk under any script's names: DEST's folders are made, DEST inside SOURCE is
    # known by its identity (else out/old.med would count), a link up and one out are not
    # followed. Under Wine a Japanese thread locale must not lay its double-byte lead bytes over
    # the command line's UTF-8 names.
    if WINE:
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", "./ja"], check=True)
        os.environ.update(LOCPATH=os.path.abspath("."), LC_ALL="ja")
    files = make("in", {n: sound(MED, 60 + i) for i, n in enumerate(
        ["あいう.med", "サウンド/효과/한국어.MED", "Кириллица.med", "🎵 song.med"])})
    make(".", {"in/out/old.med": sound(MED, 98), "elsewhere/e.med": sound(MED, 97)})
    os.symlink("../..", "in/サウンド/효과/up")
    os.symlink(os.path.abspath("elsewhere"), "in/away")
    expect(["-r", "in", "in/out"], 0, (4, 4, 4, 0, 0, 0, 246), [], converted("in/out", files)
           | {"in/out/サウンド": None, "in/out/サウンド/효과": None})


def terminal():
    # On a terminal one line is redrawn, kept inside the width by eliding names in the middle.
    make("in", {"%02d %s end.med" % (i, "n" * 60): sound(MED, 100, i) for i in range(5)})
    done = subprocess.run(["script", "-qec", "stty cols 50 && %s in" % shlex.quote(EXE),
                           "/dev/null"], capture_output=True, check=False)
    screen, clear, out = done.stdout.decode().rpartition("\r\x1b[K")
    drawn = screen.replace("\x1b[K", "").split("\r")[1:]
    assert (done.returncode, clear, "\n" in screen, out.replace("\r\n", "\n")) == (
        0, "\r\x1b[K", False, summary(5, 5, 5, 0, 0, 0, 500)), done.stdout
    assert drawn[-1].startswith("[100%] 5/5") and all(len(line) < 50 and re.fullmatch(
        r"\[ *\d+%\] [1-5]/5 \d\d n+\.\.\.n* end\.med", line) for line in drawn), done.stdout


def console():
    # Wine makes a console of a terminal. Whatever code page it has (French: ANSI 1252, Japanese:
    # 932), a name shows as itself in the progress and failure lines, UTF-8 on a UTF-8 terminal.
    make(".", {"in/Café.med": sound(MED, 100), "in/日本.med": b"junk", "out/x": b""})
    command = shlex.join(RUNNER + [EXE, "in", "out"])
    for lang in ("fr_FR", "ja_JP"):  # used as "fr" and "ja": "ja_JP" is an alias of EUC-JP
        subprocess.run(["localedef", "-i", lang, "-f", "UTF-8", "./" + lang[:2]], check=True)
        # A program that asked for Enter in a terminal would wait for ever: it fails in time.
        done = subprocess.run(["script", "-qec", command, "/dev/null"], capture_output=True,
                              timeout=120, env=dict(os.environ, LOCPATH=os.getcwd(),
                                                    LC_ALL=lang[:2]))
        # The console draws some spaces as moves of the cursor.
        screen = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]| ", "", done.stdout.decode())
        assert "/2Café.med" in screen and 'file"in\\日本.med"' in screen, (lang, screen)
        assert "PressEnter" not in screen, (lang, screen)


def explorer():
    # Started as Explorer starts it, in a console of its own with a window, a folder dropped on it
    # is converted in place and the summary stays until Enter. From a console it never waits;
    # from a terminal or with pipes the other cases would show the question, or never end.
    files = make("in", {"a.med": sound(MED, 100, 1)})
    helper = os.environ["TONEQUAY_OWN_CONSOLE"]
    lib = os.path.abspath(__file__ + "/../../../cmake/wine-lib.sh")
    # The prefix's desktop may have been made with no screen: one of its own on a private Xvfb,
    # stopped however the run ends, which ends a console left waiting.
    script = ('. "$0" && wine_prefix "$TONEQUAY_WINEPREFIX" && wine_xvfb /dev/null && trap "kill'
              ' $XVFB_PID" EXIT && timeout 300 "$(wine_loader "$1")" explorer /desktop=tq$$,640x480'
              ' "${@:2}"')
    win = [("Z:" + os.path.abspath(path)).replace("/", "\\") for path in (helper, EXE, "in")]
    for start, shown in (([], summary(1, 1, 1, 0, 0, 0, 100) + "Press Enter to close."),
                         (["cmd", "/c"], "")):
        done = subprocess.run(["bash", "-c", script, lib, helper, win[0], *start, *win[1:]],
                              capture_output=True, timeout=TIMEOUT)
        assert done.stdout.decode().split() == (shown + " exit 0").split(), done
    assert state("in") == {**files, **converted("", files)}


def interrupt():
    # Ctrl-C, or a request to end, finishes the file in progress and stops. The progress lines
    # fill the pipe long before the batch ends, and the program waits on it, so it is mid-batch.
    files = make("in", {"%04d %s.med" % (i, "x" * 180): sound(MED, 100, i) for i in range(1000)})
    for sent in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        make(out := "out%d" % sent, {})
        with subprocess.Popen([EXE, "in", out], bufsize=0, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE) as proc:
            assert proc.stderr.read(1) == b"["
            proc.send_signal(sent)
            stdout, err = proc.communicate()
        done = state(out)
        assert (proc.returncode, stdout.decode(), b": interrupted" in err) == (130, summary(
            1000, len(done), len(done), 0, 0, 1000 - len(done), 100 * len(done)), True) \
            and 0 < len(done) < 1000, sent
        assert done == {n: c for n, c in converted("", files).items() if n in done}


def volumes():
    # A batch larger than the volume is refused before anything is written. The check counts whole
    # blocks, so a file a part of a block too large passes it and fills the volume: its write fails,
    # no temporary file stays, the old output survives. A read-only volume takes no output.
    point, dest = volume("64k", "q:")
    make(point, {"a.wav": b"old", "sub/a.wav": b"old"})
    block, free = os.statvfs(point).f_frsize, os.statvfs(point).f_bavail
    half = sound(MED, free * block // 2 + 2 * block)
    make("big", {"a.med": half, "b.med": half})
    sub = "q:sub" if WINE else os.path.relpath(point) + "/sub"  # relative: from q:'s own folder
    expect(["big", sub], 2, None, ["Not enough free space on destination path"])
    make("edge", {"a.med": sound(MED, free * block + 100)})
    expect(["edge", dest], 1, (1, 0, 0, 0, 1, 0, 0), ['Error write file "%sa.wav": %s' % (
        dest, "Disk full" if WINE else "No space left on device")])
    need("mount", "-o", "remount,ro", point)
    make("in", {"a.med": sound(MED, 2 * block, 4), "b.med": sound(MED, 2 * block, 5)})
    expect(["in", dest], 1, (2, 0, 0, 0, 2, 0, 0), ['Error create file "%s%s": %s' % (
        dest, n, "Access denied" if WINE else "Read-only file system") for n in ("a.wav", "b.wav")])


def large():
    # 256 MiB byte for byte in flat memory, onto a file system the kernel's copy cannot reach:
    # with -r into a folder of DEST that is another volume, through a temporary file of its own.
    point, _ = volume("300m", "l:", at="out/sub")
    # A period of an odd length: a piece at a wrong offset shows.
    make("in", {"sub/big.med": sound(MED, 4096) + os.urandom((16 << 20) + 1) * 16})
    code, _, err = run("-q", "-r", "in", "out", under=["/usr/bin/time", "-f", "%M"])
    assert code == 0 and int(err.split()[-1]) < 64 << 10, err  # its peak in KiB
    differ = subprocess.run(["cmp", "-l", "in/sub/big.med", point + "/big.wav"],  # sizes too
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout
    assert differ.split() == [b"21", b"172", b"21"], differ  # the tag, octal 122 and 17


def permissions():
    # As nobody, as root passes every check: a source it may not read, a folder it may not write to.
    need("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", EXE, "--version")
    make("in", {"a.med": sound(MED, 300, 4), "b.med": sound(MED, 200, 5)})
    make("locked", {"a.wav": b"old output"})
    for path, mode in ((".", 0o755), ("in/b.med", 0), ("locked", 0o555)):
        os.chmod(path, mode)
    expect(["in", "locked"], 1, (2, 0, 0, 0, 2, 0, 0), [line + ": Permission denied" for line in (
        'Error create file "locked/a.wav"', 'Error open file "in/b.med"')], user="65534")


def held():
    # Windows' own refusal: another program holds a source open without sharing it.
    files = make("in", {"a.med": sound(MED, 300, 11), "b.med": sound(MED, 200, 12)})
    with subprocess.Popen(RUNNER + [os.environ["TONEQUAY_HOLD_FILE"], "in\\b.med"],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE) as hold:
        assert hold.stdout.readline().strip() == b"held"
        expect(["in"], 1, (2, 1, 1, 0, 1, 0, 300),
               ['Error open file "in\\b.med": Sharing violation'], {"in/a.wav": toggled(files["a.med"])})
        hold.stdin.close()


if __name__ == "__main__":
    # Wine's console is no POSIX terminal and takes no POSIX signal, the manual page is built
    # natively, Wine runs a prefix as its owner only, and only Windows refuses a held file.
    # A console's Wine lingers a moment: not last, where the next suite may want the prefix alone.
    main({"cli": ([console, explorer] if WINE else [terminal, interrupt, docs])
          + [conversions, usage, sound_checks] + ([drive_relative] if WINE else []),
          "tree": [tree],
          "faults": [volumes, large] + ([held] if WINE else [permissions])})
