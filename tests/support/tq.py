"""Helpers of the Python suites. TONEQUAY_CLI is the program; TONEQUAY_CLI_RUNNER, when set, the
'|'-separated command that runs it under Wine, in the prefix TONEQUAY_WINEPREFIX."""
import os, re, shutil, struct, subprocess, sys, tempfile, traceback  # noqa: E401
from pathlib import Path

EXE = os.environ.get("TONEQUAY_CLI", "")
RUNNER = [part for part in os.environ.get("TONEQUAY_CLI_RUNNER", "").split("|") if part]
WINE = bool(RUNNER)
SEP = "\\" if WINE else "/"
TIMEOUT = 500 if WINE else 60  # the first start in a Wine prefix builds the prefix
MED, WAV = 122, 17
_cleanups = []


class Skip(Exception):
    """Raised by a case that this host cannot run (no root, no mount, no Wine)."""


def sound(tag, size, seed=0):
    """A mono IMA ADPCM RIFF/WAVE file of exactly `size` (>= 48) bytes with format tag `tag`."""
    head = struct.pack("<4sI4s4sIHHIIHHHH4sI", b"RIFF", size - 8, b"WAVE", b"fmt ", 20, tag, 1,
                       22050, 11100, 512, 4, 2, 1017, b"data", size - 48)
    return head + (bytes(range(256)) * (size // 256 + 2))[seed % 256:][:size - 48]


def toggled(content):
    """What a conversion writes: `content` with its format tag turned from MED to WAV or back."""
    tag = WAV if struct.unpack_from("<H", content, 20)[0] == MED else MED
    return content[:20] + struct.pack("<H", tag) + content[22:]


def make(folder, files):
    """Writes {name: bytes} into `folder`, creating it, and returns `files`."""
    os.makedirs(folder, exist_ok=True)
    for name, content in files.items():
        Path(folder, name).write_bytes(content)
    return files


def state(root="."):
    """{path under `root`: bytes, or None for a folder}: a whole tree, to compare."""
    return {str(p.relative_to(root)): None if p.is_dir() else p.read_bytes()
            for p in Path(root).rglob("*")}


def run(*args, user=None):
    """Runs tonequay-cli in the current folder (as `user` by setpriv): (code, stdout, stderr)."""
    who = ["setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups"] if user else []
    done = subprocess.run(who + RUNNER + [EXE, *args], capture_output=True, timeout=TIMEOUT)
    return done.returncode, lines(done.stdout), lines(done.stderr)


def lines(output):
    """The program's output as text with LF line ends (Windows writes CRLF)."""
    return output.decode("latin-1").replace("\r\n", "\n")


def summary(out):
    """(files, converted, failed, skipped, bytes written) from the summary line, or None."""
    found = re.search(r"Summary: (\d+) files, (\d+) converted, (\d+) failed, (\d+) skipped, "
                      r"(\d+) bytes written", out)
    return found and tuple(int(n) for n in found.groups())


def errors(err):
    """The failure lines of standard error, sorted, without progress lines."""
    return sorted(line for line in err.splitlines() if line and not line.startswith("["))


def expect(args, code, counts=None, failures=(), made=None, user=None):
    """Runs tonequay-cli and checks its exit code, summary counts, failure lines, and that the
    current folder changed by `made` ({path: bytes}) alone: (code, stdout, stderr)."""
    before = state()
    result = run(*args, user=user)
    assert (result[0], summary(result[1]), errors(result[2])) == (code, counts, sorted(
        failures)), (args, result)
    assert state() == {**before, **(made or {})}, args
    return result


def need(*command):
    """Runs a set-up command; where this host cannot (no root, no tmpfs), the case is skipped."""
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise Skip(" ".join(command) + ": " + done.stderr.strip())


def mount(size):
    """A fresh tmpfs of `size` (e.g. "64k") in the case's folder, unmounted after the case."""
    point = os.path.abspath(tempfile.mkdtemp(prefix="vol-", dir="."))
    need("mount", "-t", "tmpfs", "-o", "size=" + size, "tonequay-test", point)
    _cleanups.append(["umount", "-l", point])
    return point


def drive(point, letter):
    """How the program is told of the volume at `point`, with a trailing separator: its path, or
    under Wine a drive letter linked to it, since Wine asks the host for a drive's free space."""
    if not WINE:
        return point + "/"
    link = os.path.join(os.environ["TONEQUAY_WINEPREFIX"], "dosdevices", letter + ":")
    need("ln", "-sfn", point, link)
    _cleanups.append(["rm", link])
    return letter.upper() + ":\\"


def main(cases):
    """Runs each case in a fresh current folder and prints its outcome with its name; exits 1
    when one failed, 77 when all were skipped."""
    if WINE:
        run("--version")  # creates the prefix before a case links a drive into it
    outcomes = []
    for case in cases:
        os.chdir(tempfile.mkdtemp(prefix="tonequay-"))
        try:
            outcome = case() or "PASS"
        except Skip as reason:
            outcome = "SKIP (%s)" % reason
        except Exception:  # pylint: disable=broad-except
            traceback.print_exc()
            outcome = "FAIL"
        for command in reversed(_cleanups):
            subprocess.run(command, capture_output=True, check=False)
        _cleanups.clear()
        shutil.rmtree(os.getcwd(), True)
        print(outcome, case.__name__, flush=True)
        outcomes.append(outcome[:4])
    sys.exit(1 if "FAIL" in outcomes else 0 if "PASS" in outcomes else 77)
