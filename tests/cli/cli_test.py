#!/usr/bin/env python3
"""Runs tonequay-cli on real folders: both directions, exit codes, output, Ctrl-C, a full disk.

Usage: cli_test.py TEST_NAME. The program is taken from TONEQUAY_CLI; TONEQUAY_CLI_RUNNER, when
set, is the '|'-separated command that runs it (Wine for the Windows build). Exit status 0
passes, 1 fails, 77 skips.
"""
import errno
import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

EXE = os.environ.get("TONEQUAY_CLI", "")
RUNNER = [part for part in os.environ.get("TONEQUAY_CLI_RUNNER", "").split("|") if part]
ON_WINE = bool(RUNNER)
SEP = "\\" if ON_WINE else "/"
# Wine starts slowly, and its first run builds the prefix.
TIMEOUT = 500 if ON_WINE else 60
EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130
MED_TAG, WAV_TAG = 122, 17
# RIFF header, a 20-byte IMA ADPCM format chunk and the data chunk's header.
HEADER_BYTES = 12 + 8 + 20 + 8
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def sound_file(tag, size, seed=0):
    """A mono IMA ADPCM RIFF/WAVE file of exactly `size` bytes with format tag `tag`."""
    data_bytes = size - HEADER_BYTES
    fmt = struct.pack("<HHIIHHHH", tag, 1, 22050, 11100, 512, 4, 2, 1017)
    data = bytes((i * 31 + seed * 7 + 3) & 0xFF for i in range(data_bytes))
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", data_bytes) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def converted(content):
    """The bytes a conversion must produce: the input with its format tag toggled."""
    tag = struct.unpack_from("<H", content, 20)[0]
    new_tag = WAV_TAG if tag == MED_TAG else MED_TAG
    return content[:20] + struct.pack("<H", new_tag) + content[22:]


def parse_summary(stdout):
    match = re.search(
        r"Summary: (\d+) files, (\d+) converted, (\d+) failed, (\d+) skipped, (\d+) bytes written",
        stdout)
    if not match:
        return None
    keys = ("files", "converted", "failed", "skipped", "bytes")
    return dict(zip(keys, (int(group) for group in match.groups())))


def snapshot(root):
    """Every path under `root` with its size, mtime and content."""
    state = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            content = None
            if os.path.isfile(path):
                with open(path, "rb") as handle:
                    content = handle.read()
            state[os.path.relpath(path, root)] = (info.st_size, info.st_mtime_ns, content)
    return state


def temp_files(folder):
    return [name for name in os.listdir(folder) if name.startswith("~tonequay-")]


class CliTest(unittest.TestCase):
    wine_missing = None

    @classmethod
    def setUpClass(cls):
        if not ON_WINE:
            return
        # 126 and 127 are the shell's "cannot execute" and "not found": the runner could not
        # start the program at all (a host without 32-bit support cannot start 32-bit Wine).
        # That is the host's limit, not the program's, and is reported as a skip.
        probe = subprocess.run(RUNNER + [EXE, "--version"], capture_output=True, text=True,
                               timeout=TIMEOUT, check=False)
        if probe.returncode in (126, 127):
            lines = probe.stderr.strip().splitlines()
            cls.wine_missing = "Wine cannot start the program here: " + (
                lines[-1] if lines else "exit code %d" % probe.returncode)

    def setUp(self):
        if self.wine_missing:
            self.skipTest(self.wine_missing)
        self.root = tempfile.mkdtemp(prefix="tonequay-cli-")
        self.addCleanup(shutil.rmtree, self.root, True)

    # Helpers -----------------------------------------------------------------------------

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def make_folder(self, name, files):
        """Creates folder `name` with {file name: bytes}; returns {file name: bytes}."""
        folder = self.path(name)
        os.makedirs(folder, exist_ok=True)
        for file_name, content in files.items():
            with open(os.path.join(folder, file_name), "wb") as handle:
                handle.write(content)
        return files

    def read(self, *parts):
        with open(self.path(*parts), "rb") as handle:
            return handle.read()

    def run_cli(self, *args, cwd=None):
        result = subprocess.run(RUNNER + [EXE] + list(args), cwd=cwd or self.root,
                                capture_output=True, timeout=TIMEOUT, check=False)
        # Windows writes text with CRLF; a terminal line is what matters here.
        result.stdout = result.stdout.decode("latin-1").replace("\r\n", "\n")
        result.stderr = result.stderr.decode("latin-1").replace("\r\n", "\n")
        return result

    def assert_summary(self, result, **expected):
        summary = parse_summary(result.stdout)
        self.assertIsNotNone(summary, "no summary in: " + result.stdout)
        self.assertEqual(summary["files"],
                         summary["converted"] + summary["failed"] + summary["skipped"],
                         "the summary does not add up")
        for key, value in expected.items():
            self.assertEqual(summary[key], value, key)
        return summary

    def assert_converted(self, sources, src_folder, dest_folder, rename):
        for name, content in sources.items():
            with self.subTest(file=name):
                self.assertEqual(self.read(dest_folder, rename(name)), converted(content))
                self.assertEqual(self.read(src_folder, name), content, "source changed")

    # Conversions ---------------------------------------------------------------------------

    def test_med_to_wav_byte_exact(self):
        sources = self.make_folder("in", {
            "a.med": sound_file(MED_TAG, 100, 1),
            "Song.MED": sound_file(MED_TAG, 4096 + 7, 2),
            "long name.with.dots.med": sound_file(MED_TAG, 70000, 3),
        })
        # An existing output is replaced, not appended to or kept.
        self.make_folder("out", {"a.wav": b"old content that must go" * 50})

        result = self.run_cli("in", "out")

        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assert_summary(result, files=3, converted=3, failed=0, skipped=0,
                            bytes=sum(len(c) for c in sources.values()))
        self.assert_converted(sources, "in", "out", lambda n: n[:-4] + ".wav")
        self.assertEqual(sorted(os.listdir(self.path("out"))),
                         ["Song.wav", "a.wav", "long name.with.dots.wav"])

    def test_wav_to_med_in_place_where_wav_files_win(self):
        sources = self.make_folder("in", {
            "x.wav": sound_file(WAV_TAG, 300, 4),
            "Y.WAV": sound_file(WAV_TAG, 200, 5),
        })
        untouched = self.make_folder("in", {"other.med": sound_file(MED_TAG, 150, 6)})

        result = self.run_cli("in")

        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assert_summary(result, files=2, converted=2, failed=0, skipped=0, bytes=500)
        self.assert_converted(sources, "in", "in", lambda n: n[:-4] + ".med")
        self.assertEqual(self.read("in", "other.med"), untouched["other.med"])
        self.assertFalse(os.path.exists(self.path("in", "other.wav")))

    def test_failures_are_reported_counted_and_leave_nothing(self):
        good = self.make_folder("in", {"good.med": sound_file(MED_TAG, 120, 7)})
        self.make_folder("in", {"short.med": b"RIFF\x10\x00", "junk.med": b"x" * 60})
        os.mkdir(self.path("in", "folder.med"))

        result = self.run_cli("in", "in")

        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assert_summary(result, files=4, converted=1, failed=3, skipped=0, bytes=120)
        errors = sorted(line for line in result.stderr.splitlines()
                        if not line.startswith("["))
        self.assertEqual(errors, sorted([
            'Error open file "in%sfolder.med"' % SEP,
            'Not supported MED file "in%sjunk.med"' % SEP,
            'Not supported MED file "in%sshort.med"' % SEP,
        ]))
        self.assertEqual(self.read("in", "good.wav"), converted(good["good.med"]))
        for refused in ("short.wav", "junk.wav", "folder.wav"):
            self.assertFalse(os.path.exists(self.path("in", refused)), refused)
        self.assertEqual(temp_files(self.path("in")), [])

    def test_paths_with_spaces_trailing_separators_and_absolute_form(self):
        sources = self.make_folder("my sounds", {"a b.med": sound_file(MED_TAG, 90, 8)})
        os.mkdir(self.path("out dir"))
        if ON_WINE:
            source = "Z:" + self.path("my sounds").replace("/", "\\") + "\\"
        else:
            source = self.path("my sounds") + "/"

        result = self.run_cli(source, "out dir/")

        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assert_summary(result, files=1, converted=1)
        self.assert_converted(sources, "my sounds", "out dir", lambda n: n[:-4] + ".wav")

    # Exit codes and messages ---------------------------------------------------------------

    def test_bad_usage_and_refused_batches_exit_2_without_writing(self):
        self.make_folder("in", {"a.med": sound_file(MED_TAG, 100, 9)})
        cases = [
            ([], "SOURCE is required"),
            (["missing"], 'source folder "missing" does not exist'),
            (["in/a.med"], 'source "in/a.med" is not a folder'),
            (["in", "missing"], 'destination folder "missing" does not exist'),
            (["--no-such-option", "in"], "no-such-option"),
            (["in", "in", "third"], "third"),
            ([""], "Please select files first"),
            (["in", ""], "Please select destination path"),
        ]
        before = snapshot(self.root)
        for args, message in cases:
            with self.subTest(args=args):
                result = self.run_cli(*args)
                self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertIsNone(parse_summary(result.stdout))
        self.assertEqual(snapshot(self.root), before)

    def test_help_and_version(self):
        result = self.run_cli("--help")
        self.assertEqual(result.returncode, EXIT_OK)
        self.assertIn("SOURCE", result.stdout)
        self.assertIn("--dry-run", result.stdout)
        result = self.run_cli("--version")
        self.assertEqual(result.returncode, EXIT_OK)
        self.assertEqual(result.stdout.strip(), "tonequay-cli 1.0.0")

    def test_folder_without_sound_files_converts_nothing_and_succeeds(self):
        # No name here matches "*.med" or "*.wav", by POSIX or by Windows rules (where "*.med"
        # also finds "a.medx" through its short name).
        for files in ({}, {"notes.txt": b"hello", "a.mp3": b"RIFF", "wav": b"RIFF"}):
            with self.subTest(files=sorted(files)):
                shutil.rmtree(self.path("in"), True)
                self.make_folder("in", files)
                before = snapshot(self.root)
                result = self.run_cli("in")
                self.assertEqual(result.returncode, EXIT_OK, result.stderr)
                self.assert_summary(result, files=0, converted=0, failed=0, skipped=0, bytes=0)
                self.assertIn('No .wav or .med files in "in"', result.stderr)
                self.assertEqual(snapshot(self.root), before)

    def test_dry_run_lists_each_file_and_writes_nothing(self):
        sources = self.make_folder("in", {"a.med": sound_file(MED_TAG, 100, 10),
                                          "B.Med": sound_file(MED_TAG, 200, 11)})
        os.mkdir(self.path("out"))
        before = snapshot(self.root)

        result = self.run_cli("--dry-run", "in", "out")

        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertEqual(snapshot(self.root), before)
        listed = sorted(line for line in result.stdout.splitlines() if " -> " in line)
        self.assertEqual(listed, sorted([
            "in{0}a.med -> out{0}a.wav".format(SEP),
            "in{0}B.Med -> out{0}B.wav".format(SEP),
        ]))
        self.assertIn("Dry run: 2 files would be converted, %d bytes to read"
                      % sum(len(c) for c in sources.values()), result.stdout)
        self.assertIsNone(parse_summary(result.stdout))

    # Output --------------------------------------------------------------------------------

    def test_progress_off_a_terminal_is_one_line_per_file(self):
        sizes = {"a.med": 100, "b.med": 100, "c.med": 200}
        self.make_folder("in", {n: sound_file(MED_TAG, s, i) for i, (n, s) in
                                enumerate(sizes.items())})

        result = self.run_cli("in", "in")

        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertNotIn("\r", result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 3, result.stderr)
        done = 0
        for position, line in enumerate(lines, 1):
            with self.subTest(line=line):
                match = re.fullmatch(r"\[ *(\d+)%\] (\d+)/3 (\S+)", line)
                self.assertIsNotNone(match)
                done += sizes[match.group(3)]
                # The total bar's value: whole percent of the bytes done, truncated.
                self.assertEqual(int(match.group(1)), done * 100 // 400)
                self.assertEqual(int(match.group(2)), position)

    def test_progress_on_a_terminal_redraws_one_line_within_its_width(self):
        import pty  # pylint: disable=import-outside-toplevel
        import termios  # pylint: disable=import-outside-toplevel
        names = ["%02d %s end.med" % (i, "n" * 60) for i in range(5)]
        self.make_folder("in", {n: sound_file(MED_TAG, 100, i) for i, n in enumerate(names)})
        columns = 50
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        proc = subprocess.Popen([EXE, "in", "in"], cwd=self.root, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        screen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError as error:  # EIO once the program has closed the terminal
                if error.errno != errno.EIO:
                    raise
                break
            if not chunk:
                break
            screen += chunk
        os.close(master)
        stdout = proc.stdout.read().decode()
        proc.stdout.close()
        self.assertEqual(proc.wait(timeout=TIMEOUT), EXIT_OK)

        text = screen.decode("utf-8")
        self.assertNotIn("\n", text, "a progress line was ended instead of redrawn")
        self.assertTrue(text.endswith("\r\x1b[K"), "the progress line was not cleared")
        drawn = [line for line in text.replace("\x1b[K", "").split("\r") if line]
        self.assertTrue(drawn)
        for line in drawn:
            with self.subTest(line=line):
                self.assertLess(len(line), columns)
                self.assertRegex(line, r"^\[ *\d+%\] [1-5]/5 \d\d n+\.\.\.n* end\.med$")
        self.assertIn("[100%] 5/5", drawn[-1])
        self.assertIsNotNone(parse_summary(stdout))

    def test_quiet_shows_failures_only(self):
        self.make_folder("in", {"a.med": sound_file(MED_TAG, 100, 12)})
        result = self.run_cli("--quiet", "in")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (EXIT_OK, "", ""))

        self.make_folder("in2", {"bad.med": b"x" * 40})
        result = self.run_cli("-q", "in2")
        self.assertEqual(result.returncode, EXIT_FAILED)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr, 'Not supported MED file "in2%sbad.med"\n' % SEP)

    # Interruption and a full disk ----------------------------------------------------------

    def test_interrupt_finishes_the_file_in_progress_and_stops(self):
        # Long names make long progress lines, and a small pipe holds only a few of them: the
        # program blocks on its progress output until this test reads it, so it cannot reach
        # the end of the batch before the interrupt, however fast it runs.
        count = 600
        sources = self.make_folder("in", {"%04d %s.med" % (i, "x" * 180): sound_file(
            MED_TAG, 100, i) for i in range(count)})
        os.mkdir(self.path("out"))
        read_end, write_end = os.pipe()
        try:
            fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
        except OSError:
            pass  # the default pipe still holds far fewer lines than the batch has files
        proc = subprocess.Popen([EXE, "in", "out"], cwd=self.root, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=write_end)
        os.close(write_end)
        first = b""
        while not first.endswith(b"\n"):
            byte = os.read(read_end, 1)
            if not byte:
                break
            first += byte
        self.assertRegex(first.decode(), r"^\[ *\d+%\] 1/600 ")
        proc.send_signal(signal.SIGINT)
        rest = b""
        while True:
            chunk = os.read(read_end, 65536)
            if not chunk:
                break
            rest += chunk
        os.close(read_end)
        stdout = proc.stdout.read().decode()
        proc.stdout.close()
        code = proc.wait(timeout=TIMEOUT)

        self.assertEqual(code, EXIT_INTERRUPTED)
        result = subprocess.CompletedProcess([], code, stdout, (first + rest).decode())
        summary = self.assert_summary(result, files=count, failed=0)
        print("interrupted after", summary["converted"], "of", count, "files")
        self.assertGreater(summary["skipped"], 0)
        self.assertGreater(summary["converted"], 0)
        self.assertIn("Interrupted", result.stderr)
        outputs = os.listdir(self.path("out"))
        self.assertEqual(temp_files(self.path("out")), [])
        self.assertEqual(len(outputs), summary["converted"], "files after the abort were written")
        for output in outputs:
            source = output[:-4] + ".med"
            self.assertEqual(self.read("out", output), converted(sources[source]), output)

    def test_destination_without_room(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small tmpfs needs root")
        mount_point = self.path("small")
        os.mkdir(mount_point)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tonequay-test",
                                  mount_point], capture_output=True, text=True, check=False)
        if mounted.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + mounted.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", mount_point], check=False)
        info = os.statvfs(mount_point)
        block, free = info.f_frsize, info.f_bavail

        with self.subTest("more than the volume has: refused before anything is written"):
            half = free * block // 2 + 2 * block
            self.make_folder("big", {"a.med": sound_file(MED_TAG, half, 1),
                                     "b.med": sound_file(MED_TAG, half, 2)})
            result = self.run_cli("big", mount_point)
            self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
            self.assertEqual(result.stderr, "Not enough free space on destination path\n")
            self.assertEqual(os.listdir(mount_point), [])

        with self.subTest("the pre-check counts whole blocks; the last block does not fit"):
            # free - 1 blocks plus one block and 100 bytes: the check's truncating division
            # sees exactly `free` blocks, but the second file needs two.
            sources = self.make_folder("edge", {
                "fits.med": sound_file(MED_TAG, (free - 1) * block, 3),
                "over.med": sound_file(MED_TAG, block + 100, 4)})
            result = self.run_cli("edge", mount_point)
            self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
            summary = self.assert_summary(result, files=2, converted=1, failed=1)
            errors = [line for line in result.stderr.splitlines()
                      if line.startswith("Error write file")]
            self.assertEqual(len(errors), 1, result.stderr)
            self.assertEqual(temp_files(mount_point), [])
            outputs = os.listdir(mount_point)
            self.assertEqual(len(outputs), 1)
            with open(os.path.join(mount_point, outputs[0]), "rb") as handle:
                self.assertEqual(handle.read(), converted(sources[outputs[0][:-4] + ".med"]))
            self.assertEqual(summary["bytes"], len(sources[outputs[0][:-4] + ".med"]))


def run_case(case_class, usage):
    """Runs the one test method named on the command line; a skip exits 77 for CTest."""
    if len(sys.argv) != 2:
        sys.exit(usage)
    if not EXE:
        sys.exit("TONEQUAY_CLI is not set")
    suite = unittest.TestSuite([case_class(sys.argv[1])])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(77 if result.skipped else 0)


def main():
    run_case(CliTest, __doc__)


if __name__ == "__main__":
    main()
