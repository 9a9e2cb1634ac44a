#!/usr/bin/env python3
"""tonequay-cli on real folders: both directions, failures, usage, output, a terminal, Ctrl-C."""
import fcntl, os, pty, re, signal, struct, subprocess, sys, termios  # noqa: E401
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from tq import EXE, MED, SEP, WAV, WINE, Skip, expect, lines, main, make, run, sound, state, \
    summary, toggled  # noqa: E402


def conversions():
    # Both ways byte for byte: upper-case extensions, dotted names, spaces, an absolute source
    # with a trailing separator; an old output is replaced; .wav files win a folder, in place.
    # Each failure is named and counted, the rest convert, nothing is left behind.
    meds = make("my sounds", {"a.med": sound(MED, 100, 1), "Song.MED": sound(MED, 4103, 2),
                              "dotted.name.med": sound(MED, 70000, 3)})
    make("my sounds", {"short.med": b"RIFF\x10\0", "junk.med": b"x" * 60,
                       "taken.med": sound(MED, 130, 7)})
    make("my sounds/folder.med", {})
    make("out dir/taken.wav", {"inside": b"kept"})
    make("out dir", {"a.wav": b"an old output"})
    wavs = make("in", {"x.wav": sound(WAV, 300, 4), "Y.WAV": sound(WAV, 201, 5)})
    make("in", {"other.med": sound(MED, 150, 6)})
    source = ("Z:" if WINE else "") + os.path.abspath("my sounds").replace("/", SEP) + SEP
    failed = sorted(['Error open file "%sfolder.med"' % source, 'Error create file "out dir%s'
                     'taken.wav"' % SEP, 'Not supported MED file "%sshort.med"' % source,
                     'Not supported MED file "%sjunk.med"' % source])
    expect([source, "out dir/"], 1, (7, 3, 4, 0, 74203), failed,
           {"out dir/" + n[:-4] + ".wav": toggled(c) for n, c in meds.items()})
    err = expect(["in"], 0, (2, 2, 0, 0, 501), [],
                 {"in/" + n[:-4] + ".med": toggled(c) for n, c in wavs.items()})[2]
    # Off a terminal each converted file gets a line: whole percent of the bytes, position, name.
    assert err in ("[ 59%] 1/2 x.wav\n[100%] 2/2 Y.WAV\n", "[ 40%] 1/2 Y.WAV\n[100%] 2/2 x.wav\n")
    assert run("-q", "in") == (0, "", "")
    code, out, err = run("-q", source, "out dir")
    assert (code, out, sorted(err.splitlines())) == (1, "", failed), (code, out, err)


def usage():
    # Bad usage and refused batches exit 2; neither they nor a dry run write anything.
    make("in", {"a.med": sound(MED, 100, 9), "B.Med": sound(MED, 200, 10)})
    make("out", {})
    # No name matches by POSIX or Windows rules, where "*.med" also finds a short name.
    make("none", {"notes.txt": b"hi", "a.mp3": b"RIFF", "wav": b"RIFF"})
    before = state()
    for args, code, texts in [  # arguments, exit code, |-separated texts of stdout or stderr
            ([], 2, "SOURCE is required"), (["missing"], 2, 'source folder "missing" does not'),
            (["in/a.med"], 2, 'source "in/a.med" is not a folder'), ([""], 2, "select files"),
            (["in", "missing"], 2, 'destination folder "missing" does not exist'),
            (["--no-such-option", "in"], 2, "no-such-option"), (["in", "in", "x"], 2, ": x"),
            (["in", ""], 2, "Please select destination path"), (["--help"], 0, "SOURCE|-n,"),
            (["--version"], 0, "tonequay-cli 1.0.0\n"),
            (["none"], 0, 'No .wav or .med files in "none"|Summary: 0 files, 0 converted'),
            (["-n", "in", "out"], 0, "in{0}a.med -> out{0}a.wav\n|in{0}B.Med -> out{0}B.wav\n|"
             "Dry run: 2 files would be converted, 300 bytes to read")]:
        result = run(*args)
        assert result[0] == code and ("Summary" in result[1]) == ("Summary" in texts) and all(
            t.format(SEP) in result[1] + result[2] for t in texts.split("|")), (args, result)
    assert state() == before


def terminal():
    # On a terminal one line is redrawn, kept inside the width by eliding names in the middle.
    if WINE:
        raise Skip("Wine's console is no POSIX terminal")
    make("in", {"%02d %s end.med" % (i, "n" * 60): sound(MED, 100, i) for i in range(5)})
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 50, 0, 0))
    with subprocess.Popen([EXE, "in"], stdout=subprocess.PIPE, stderr=slave) as proc:
        os.close(slave)
        out, screen = proc.communicate()[0], b""  # the few redraws fit in the terminal's buffer
    try:
        while True:
            screen += os.read(master, 65536)
    except OSError:  # EIO: the terminal is drained and its other end closed
        pass
    drawn = [line for line in screen.decode().replace("\x1b[K", "").split("\r") if line]
    assert proc.returncode == 0 and summary(out.decode()) and screen.endswith(b"\r\x1b[K")
    assert drawn[-1].startswith("[100%] 5/5") and b"\n" not in screen and all(
        len(line) < 50 and re.fullmatch(r"\[ *\d+%\] [1-5]/5 \d\d n+\.\.\.n* end\.med", line)
        for line in drawn), drawn


def interrupt():
    # Ctrl-C finishes the file in progress and stops. The progress lines fill the pipe long
    # before the batch ends, and the program waits on it, so it is mid-batch however fast.
    if WINE:
        raise Skip("Wine gets no Ctrl-C from a POSIX signal")
    files = make("in", {"%04d %s.med" % (i, "x" * 180): sound(MED, 100, i) for i in range(1000)})
    make("out", {})
    with subprocess.Popen([EXE, "in", "out"], bufsize=0, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE) as proc:
        assert proc.stderr.read(1) == b"["
        proc.send_signal(signal.SIGINT)
        out, err = (lines(output) for output in proc.communicate())
    done = state("out")
    assert (proc.returncode, summary(out)) == (130, (1000, len(done), 0, 1000 - len(done),
                                                     100 * len(done)))
    assert 0 < len(done) < 1000 and "Interrupted" in err, (out, err[-200:])
    assert done == {n[:-4] + ".wav": toggled(c) for n, c in files.items()
                    if n[:-4] + ".wav" in done}


if __name__ == "__main__":
    main([conversions, usage, terminal, interrupt])
