#!/usr/bin/env python3
"""Runs tonequay-cli against real file-system faults: a destination volume too small or filling
up mid-batch, a read-only destination, an output name taken by a folder, an unreadable source
(a source held by another program, under Wine).

Usage: faults_test.py TEST_NAME. TONEQUAY_CLI is the program; TONEQUAY_CLI_RUNNER, when set, is
the '|'-separated command that runs it under Wine, whose second part is the Wine prefix (a small
volume is then given to the program as a drive letter of that prefix). Mounting needs root.
Exit status 0 passes, 1 fails, 77 skips.
"""
import fcntl
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
# The command-line tests' helpers: sound files, the expected conversion, the summary line.
from cli_test import (EXE, EXIT_FAILED, EXIT_USAGE, MED_TAG, ON_WINE, RUNNER, TIMEOUT,  # noqa: E402
                      converted, parse_summary, run_case, snapshot, sound_file, temp_files)

F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)
NOBODY_UID = NOBODY_GID = 65534


class FaultsTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tonequay-faults-")
        self.addCleanup(shutil.rmtree, self.root, True)

    # Helpers -----------------------------------------------------------------------------

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, path, content):
        with open(path, "wb") as handle:
            handle.write(content)

    def read(self, path):
        with open(path, "rb") as handle:
            return handle.read()

    def make_folder(self, name, files):
        folder = self.path(name)
        os.makedirs(folder, exist_ok=True)
        for file_name, content in files.items():
            self.write(os.path.join(folder, file_name), content)
        return files

    def mount_tmpfs(self, size):
        """A fresh tmpfs of `size` (e.g. "512k"); skips the test where none can be mounted."""
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        mount_point = tempfile.mkdtemp(prefix="vol-", dir=self.root)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tonequay-faults",
                                 mount_point], capture_output=True, text=True, check=False)
        if result.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + result.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", "-l", mount_point], check=False)
        return mount_point

    def volume_argument(self, mount_point, letter):
        """How the program is told about the volume: its path, or under Wine a drive letter
        of the prefix linked to it, since Wine asks the host for each drive's free space."""
        if not ON_WINE:
            return mount_point
        if len(RUNNER) < 2:
            self.skipTest("the Wine runner names no prefix")
        self.ensure_prefix()
        link = os.path.join(RUNNER[1], "dosdevices", letter.lower() + ":")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(mount_point, link)
        self.addCleanup(os.unlink, link)
        return letter.upper() + ":\\"

    def ensure_prefix(self):
        # The first run through the runner creates the prefix and its dosdevices folder.
        subprocess.run(RUNNER + [EXE, "--version"], capture_output=True, timeout=TIMEOUT,
                       check=False)

    def output_path(self, folder_argument, name):
        """A destination path as the program prints it."""
        if ON_WINE:
            return folder_argument.rstrip("\\") + "\\" + name
        return folder_argument.rstrip("/") + "/" + name

    def run_cli(self, *args, as_nobody=False):
        prefix = []
        if as_nobody:
            prefix = ["setpriv", "--reuid=%d" % NOBODY_UID, "--regid=%d" % NOBODY_GID,
                      "--clear-groups", "--"]
        result = subprocess.run(prefix + RUNNER + [EXE] + list(args), cwd=self.root,
                                capture_output=True, timeout=TIMEOUT, check=False)
        result.stdout = result.stdout.decode("latin-1").replace("\r\n", "\n")
        result.stderr = result.stderr.decode("latin-1").replace("\r\n", "\n")
        return result

    def errors(self, result):
        """The failure lines on standard error, without the progress lines."""
        return [line for line in result.stderr.splitlines() if line and not line.startswith("[")]

    def scan_order(self, source, dest):
        """The order in which the program will convert `source`, from a dry run: a folder
        lists its files in no fixed order, and each scenario needs to know which comes when."""
        result = self.run_cli("--dry-run", source, dest)
        self.assertEqual(result.returncode, 0, result.stderr)
        order = []
        for line in result.stdout.splitlines():
            if " -> " in line:
                source_path = line.split(" -> ")[0]
                order.append(source_path.replace("\\", "/").rsplit("/", 1)[-1])
        return order

    def can_run_as_nobody(self):
        if ON_WINE:
            return "Wine runs its prefix as the prefix's owner only, so no other user can run it"
        if os.geteuid() != 0:
            return "only root can run the program as another user"
        if shutil.which("setpriv") is None:
            return "setpriv (util-linux) is missing"
        probe = subprocess.run(["setpriv", "--reuid=%d" % NOBODY_UID, "--regid=%d" % NOBODY_GID,
                                "--clear-groups", "--", EXE, "--version"],
                               capture_output=True, text=True, check=False)
        if probe.returncode != 0:
            return "user nobody cannot run %s: %s" % (EXE, probe.stderr.strip())
        return None

    def give_to_nobody(self, *paths):
        os.chmod(self.root, 0o755)
        for path in paths:
            os.chown(path, NOBODY_UID, NOBODY_GID)

    # Scenarios -----------------------------------------------------------------------------

    def test_destination_volume_too_small(self):
        # Natively the command-line tests cover this; under Wine the volume is a drive letter.
        mount_point = self.mount_tmpfs("64k")
        dest = self.volume_argument(mount_point, "q")
        info = os.statvfs(mount_point)
        half = info.f_bavail * info.f_frsize // 2 + 2 * info.f_frsize
        self.make_folder("in", {"a.med": sound_file(MED_TAG, half, 1),
                                "b.med": sound_file(MED_TAG, half, 2)})

        result = self.run_cli("in", dest)

        self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
        self.assertEqual(result.stderr, "Not enough free space on destination path\n")
        self.assertIsNone(parse_summary(result.stdout))
        self.assertEqual(os.listdir(mount_point), [])

    def test_destination_fills_up_mid_batch(self):
        mount_point = self.mount_tmpfs("512k")
        dest = self.volume_argument(mount_point, "r")
        block = os.statvfs(mount_point).f_frsize
        names = ["one.med", "two.med", "three.med"]
        self.make_folder("in", {name: sound_file(MED_TAG, 100, 0) for name in names})
        order = self.scan_order("in", dest)
        self.assertEqual(sorted(order), sorted(names))
        # Rewriting in place keeps the folder's listing order. The first file converts before
        # the volume fills; the second is too large for what is left; the third still fits.
        first, big, last = order
        sources = {first: sound_file(MED_TAG, 4 * block + 100, 1),
                   big: sound_file(MED_TAG, 24 * block, 2),
                   last: sound_file(MED_TAG, 2 * block, 3)}
        self.make_folder("in", sources)
        old = b"an earlier output that must survive " * 100
        self.write(os.path.join(mount_point, big[:-4] + ".wav"), old)

        # Standard error goes into a pipe that is already full, so the program stops at its
        # first progress line, right after the first file is in place, until this test has
        # filled the volume and starts reading.
        read_end, write_end = os.pipe()
        try:
            fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
        except OSError:
            pass
        os.set_blocking(write_end, False)
        prefilled = 0
        try:
            while True:
                prefilled += os.write(write_end, b"#" * 4096)
        except BlockingIOError:
            pass
        os.set_blocking(write_end, True)
        proc = subprocess.Popen(RUNNER + [EXE, "in", dest], cwd=self.root,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=write_end)
        os.close(write_end)
        try:
            first_output = os.path.join(mount_point, first[:-4] + ".wav")
            deadline = time.monotonic() + TIMEOUT
            while not os.path.exists(first_output):
                self.assertIsNone(proc.poll(), "the program ended before the volume filled")
                self.assertLess(time.monotonic(), deadline, "the first file never appeared")
                time.sleep(0.05)
            room = 8 * block
            free = os.statvfs(mount_point).f_bavail * block
            self.fill(os.path.join(mount_point, "filler"), free - room)

            stderr = self.drain(read_end, proc)[prefilled:]
            stdout = proc.stdout.read().decode("latin-1")
            code = proc.wait(timeout=TIMEOUT)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()
            os.close(read_end)

        result = subprocess.CompletedProcess([], code, stdout.replace("\r\n", "\n"),
                                             stderr.decode("latin-1").replace("\r\n", "\n"))
        self.assertEqual(code, EXIT_FAILED, result.stderr)
        self.assertEqual(self.errors(result),
                         ['Error write file "%s"' % self.output_path(dest, big[:-4] + ".wav")])
        summary = parse_summary(result.stdout)
        self.assertEqual(summary, {"files": 3, "converted": 2, "failed": 1, "skipped": 0,
                                   "bytes": len(sources[first]) + len(sources[last])})
        self.assertEqual(self.read(os.path.join(mount_point, big[:-4] + ".wav")), old)
        for name in (first, last):
            with self.subTest(file=name):
                self.assertEqual(self.read(os.path.join(mount_point, name[:-4] + ".wav")),
                                 converted(sources[name]))
        self.assertEqual(temp_files(mount_point), [])
        for name, content in sources.items():
            self.assertEqual(self.read(self.path("in", name)), content, "source changed")

    def fill(self, path, size):
        """Writes `size` bytes, or as many as fit."""
        chunk = b"\0" * 65536
        with open(path, "wb", buffering=0) as handle:
            while size > 0:
                try:
                    size -= handle.write(chunk[:min(size, len(chunk))])
                except OSError:
                    break

    def drain(self, read_end, proc):
        """Everything written to the pipe until the program ends. Wine's helper processes may
        hold the pipe open after that, so the program's end, not the pipe's, is the signal."""
        data = b""
        while True:
            ready, _, _ = select.select([read_end], [], [], 0.2)
            if ready:
                chunk = os.read(read_end, 65536)
                if not chunk:
                    return data
                data += chunk
            elif proc.poll() is not None:
                os.set_blocking(read_end, False)
                try:
                    while True:
                        chunk = os.read(read_end, 65536)
                        if not chunk:
                            break
                        data += chunk
                except BlockingIOError:
                    pass
                return data

    def test_read_only_destination(self):
        sources = {"a.med": sound_file(MED_TAG, 300, 4), "b.med": sound_file(MED_TAG, 200, 5)}
        old = b"old output"

        with self.subTest("a volume mounted read-only"):
            mount_point = self.mount_tmpfs("256k")
            self.write(os.path.join(mount_point, "a.wav"), old)
            remount = subprocess.run(["mount", "-o", "remount,ro", mount_point],
                                     capture_output=True, text=True, check=False)
            if remount.returncode != 0:
                self.skipTest("cannot make the tmpfs read-only: " + remount.stderr.strip())
            dest = self.volume_argument(mount_point, "s")
            self.make_folder("in", sources)
            self.check_nothing_written(self.run_cli("in", dest), dest, mount_point,
                                       {"a.wav": old})

        reason = self.can_run_as_nobody()
        if reason:
            # The read-only volume above is the same fault to the program; say what was left.
            print("not tried, a folder without write permission:", reason)
            return
        with self.subTest("a folder without write permission"):
            self.make_folder("in2", sources)
            self.make_folder("locked", {"a.wav": old})
            self.give_to_nobody(self.path("in2"), self.path("locked"))
            os.chmod(self.path("locked"), 0o555)
            result = self.run_cli("in2", "locked", as_nobody=True)
            self.check_nothing_written(result, "locked", self.path("locked"), {"a.wav": old})

    def check_nothing_written(self, result, dest, folder, before):
        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assertEqual(sorted(self.errors(result)), [
            'Error create file "%s"' % self.output_path(dest, "a.wav"),
            'Error create file "%s"' % self.output_path(dest, "b.wav")])
        summary = parse_summary(result.stdout)
        self.assertEqual((summary["converted"], summary["failed"]), (0, 2))
        self.assertEqual({name: self.read(os.path.join(folder, name))
                          for name in os.listdir(folder)}, before)

    def test_output_name_taken_by_a_folder(self):
        sources = self.make_folder("in", {"a.med": sound_file(MED_TAG, 300, 6),
                                          "b.med": sound_file(MED_TAG, 200, 7)})
        os.makedirs(self.path("out", "a.wav"))
        self.write(self.path("out", "a.wav", "inside.txt"), b"keep")
        before = snapshot(self.path("out", "a.wav"))

        result = self.run_cli("in", "out")

        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assertEqual(self.errors(result),
                         ['Error create file "%s"' % self.output_path("out", "a.wav")])
        summary = parse_summary(result.stdout)
        self.assertEqual((summary["converted"], summary["failed"]), (1, 1))
        self.assertEqual(snapshot(self.path("out", "a.wav")), before)
        self.assertEqual(self.read(self.path("out", "b.wav")), converted(sources["b.med"]))
        self.assertEqual(temp_files(self.path("out")), [])

    def test_source_held_by_another_program(self):
        # Windows' own way for a file to refuse reading: another program holds it unshared.
        holder = os.environ.get("TONEQUAY_HOLD_FILE", "")
        if not ON_WINE or not holder:
            self.skipTest("only Windows refuses to open a file that another program holds")
        sources = self.make_folder("in", {"a.med": sound_file(MED_TAG, 300, 11),
                                          "b.med": sound_file(MED_TAG, 200, 12)})
        os.mkdir(self.path("out"))
        hold = subprocess.Popen(RUNNER + [holder, "in\\b.med"], cwd=self.root,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            self.assertEqual(hold.stdout.readline().strip(), b"held")
            result = self.run_cli("in", "out")
        finally:
            hold.stdin.close()
            hold.wait(timeout=TIMEOUT)
            hold.stdout.close()

        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assertEqual(self.errors(result), ['Error open file "in\\b.med"'])
        self.assertEqual(os.listdir(self.path("out")), ["a.wav"])
        self.assertEqual(self.read(self.path("out", "a.wav")), converted(sources["a.med"]))
        self.assertEqual(self.read(self.path("in", "b.med")), sources["b.med"])

    def test_unreadable_source(self):
        # Root reads any file whatever its permission bits, so the program runs as nobody.
        reason = self.can_run_as_nobody()
        if reason:
            self.skipTest(reason)
        sources = self.make_folder("in", {"a.med": sound_file(MED_TAG, 300, 8),
                                          "b.med": sound_file(MED_TAG, 200, 9),
                                          "c.med": sound_file(MED_TAG, 100, 10)})
        os.mkdir(self.path("out"))
        self.give_to_nobody(self.path("in"), self.path("out"),
                            *[self.path("in", name) for name in sources])
        os.chmod(self.path("in", "b.med"), 0)

        result = self.run_cli("in", "out", as_nobody=True)

        self.assertEqual(result.returncode, EXIT_FAILED, result.stderr)
        self.assertEqual(self.errors(result), ['Error open file "in/b.med"'])
        summary = parse_summary(result.stdout)
        self.assertEqual((summary["converted"], summary["failed"]), (2, 1))
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["a.wav", "c.wav"])
        for name in ("a.med", "c.med"):
            self.assertEqual(self.read(self.path("out", name[:-4] + ".wav")),
                             converted(sources[name]))


def main():
    run_case(FaultsTest, __doc__)


if __name__ == "__main__":
    main()
