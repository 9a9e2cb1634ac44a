"""Helpers of the Python suites: TONEQUAY_CLI runs through TONEQUAY_CLI_RUNNER ('|'-separated)."""
import os, shutil, struct, subprocess, sys, tempfile, unittest  # noqa: E401
from pathlib import Path

EXE = os.environ.get("TONEQUAY_CLI", "")
RUNNER = [part for part in os.environ.get("TONEQUAY_CLI_RUNNER", "").split("|") if part]
WINE, MED, WAV = bool(RUNNER), 122, 17
SEP = "\\" if WINE else "/"
TIMEOUT = 500 if WINE else 60  # the first start in a Wine prefix builds the prefix
# On a loaded machine Wine's loader may abort as the program exits: code 127, this on stderr.
LOADER_ABORT = b"Inconsistency detected by ld.so: dl-fini.c"
os.environ["TONEQUAY_WINE_RERUNS"] = "0"  # run() reruns; cmake/wine-run.sh's would double output
_cleanups = []  # commands that undo the current case's mounts and drive letters


def summary(files, done, new, warnings, failed, skipped, written):
    """The summary line of a run with these counts: "1 file", "2 files"."""
    def count(n, noun):
        return "%d %s%s" % (n, noun, "" if n == 1 else "s")
    return "Summary: %s, %d converted (%d new), %s, %d failed, %d skipped, %s written\n" % (
        count(files, "file"), done, new, count(warnings, "warning"), failed, skipped,
        count(written, "byte"))


def sound(tag, size, seed=0):
    """A mono IMA ADPCM RIFF/WAVE file of exactly `size` (>= 48) bytes with format tag `tag`."""
    head = struct.pack("<4sI4s4sIHHIIHHHH4sI", b"RIFF", size - 8, b"WAVE", b"fmt ", 20, tag, 1,
                       22050, 11100, 512, 4, 2, 1017, b"data", size - 48)
    return head + (bytes(range(256)) * (size // 256 + 2))[seed % 256:][:size - 48]


def toggled(content):
    """What a conversion writes: `content` with its format tag turned from MED to WAV or back."""
    tag = WAV if struct.unpack_from("<H", content, 20)[0] == MED else MED
    return content[:20] + struct.pack("<H", tag) + content[22:]


def converted(folder, files):
    """{path in `folder`: bytes}: what a conversion of {name: bytes} into `folder` writes."""
    other = {".med": ".wav", ".wav": ".med"}
    return {os.path.join(folder, name[:-4] + other[name[-4:].lower()]): toggled(content)
            for name, content in files.items()}


def make(folder, files):
    """Writes {name: bytes} into `folder`, creating it and any folder a name has, returns `files`."""
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        Path(folder, name).parent.mkdir(parents=True, exist_ok=True)
        Path(folder, name).write_bytes(content)
    return files


def state(root="."):
    """{path under `root`: bytes, or None for a folder}: a whole tree, to compare."""
    return {str(p.relative_to(root)): None if p.is_dir() else p.read_bytes()
            for p in Path(root).rglob("*")}


def run(*args, user=None, under=()):
    """Runs tonequay-cli in the current folder, as `user` if given, under the command `under`:
    (code, stdout, stderr). A run Wine's loader aborted has done its work but lost its exit code;
    a rerun would meet its outputs, so the folder, where a case's runs write, is put back first."""
    who = ["setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups"] if user else []
    before = state() if WINE else {}
    for _ in range(3):
        done = subprocess.run(who + [*under] + RUNNER + [EXE, *args], capture_output=True,
                              timeout=TIMEOUT)
        if done.returncode != 127 or LOADER_ABORT not in done.stderr:
            break
        _restore(before)
    return (done.returncode, *(text.decode("latin-1").replace("\r\n", "\n")
                               for text in (done.stdout, done.stderr)))


def _restore(before):
    """Puts the current folder back as state() had it in `before`; the program deletes nothing."""
    now = state()
    for path in sorted(now.keys() - before.keys(), reverse=True):  # what a folder holds first
        (os.rmdir if now[path] is None else os.remove)(path)
    make(".", {path: old for path, old in before.items() if old not in (None, now.get(path))})


def expect(args, code, counts=None, failures=(), made=None, user=None, under=()):
    """Runs tonequay-cli; checks code, summary, failure lines (-q: all stderr) and what changed."""
    before = state()
    result = run(*args, user=user, under=under)
    shown = sorted(line for line in result[2].splitlines() if "-q" in args or line[:1] != "[")
    assert result[:2] == (code, summary(*counts) if counts else ""), result
    assert shown == sorted(failures), result
    assert state() == {**before, **(made or {})}, args
    return result[2]


def need(*command):
    """Runs a set-up command; where this host cannot (no root, no tmpfs), the case is skipped."""
    if subprocess.run(command, capture_output=True, check=False).returncode != 0:
        raise unittest.SkipTest(" ".join(command))


def volume(size, letter, at=None):
    """A tmpfs of `size` for this case at a new folder `at`: (its path, the program's name for it
    ending in a separator: the path, or under Wine drive `letter`, whose free space Wine asks)."""
    point = os.path.abspath(at or tempfile.mkdtemp(prefix="vol-", dir="."))
    os.makedirs(point, exist_ok=True)
    need("mount", "-t", "tmpfs", "-o", "size=" + size, "tonequay-test", point)
    _cleanups.append(["umount", "-l", point])
    if not WINE:
        return point, point + "/"
    drive(letter, point)
    return point, letter.upper() + "\\"


def drive(letter, point):
    """Makes Wine's drive `letter` ("q:") the folder `point` for the current case."""
    link = os.path.join(os.environ["TONEQUAY_WINEPREFIX"], "dosdevices", letter)
    need("ln", "-sfn", point, link)
    _cleanups.append(["rm", link])


def _undo_mounts_and_remove_folder():
    while _cleanups:  # last in, first out
        subprocess.run(_cleanups.pop(), capture_output=True, check=False)
    shutil.rmtree(os.getcwd(), True)


def main(suites):
    """Runs suites[argv[1]]'s cases; exits 1 on a failure, 77 if every case was skipped."""
    # 126 and 127 with no output: this host cannot start the program at all (a kernel without
    # 32-bit code); 127 after the version is Wine's loader aborting at the program's exit.
    if WINE and run("--version")[:2] in ((126, ""), (127, "")):
        sys.exit(77)
    fresh = lambda: os.chdir(tempfile.mkdtemp(prefix="tonequay-"))  # noqa: E731
    cases = [unittest.FunctionTestCase(case, fresh, _undo_mounts_and_remove_folder)
             for case in suites[sys.argv[1]]]
    result = unittest.TextTestRunner(sys.stdout, verbosity=2).run(unittest.TestSuite(cases))
    sys.exit(1 if not result.wasSuccessful() else 0 if result.testsRun > len(result.skipped) else 77)
