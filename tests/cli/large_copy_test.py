#!/usr/bin/env python3
"""tonequay-cli on real files on tmpfs: a file of a few hundred MiB comes out byte for byte in
memory that does not grow with it, and a copy between two file systems, which the kernel will
not do file to file, still comes out whole. Usage as cli_test.py; exit 0 passes, 77 skips."""
import os
import shutil
import subprocess
import tempfile
import unittest

import cli_test

CHUNK = 16 << 20


class LargeCopyTest(unittest.TestCase):
    def convert(self, size, source, dest):
        """Converts one file of `size` bytes; returns the program's peak resident bytes."""
        with open(os.path.join(source, "big.med"), "wb") as stream:
            stream.write(cli_test.sound_file(cli_test.MED_TAG, 4096))
            # An odd period: no piece copied to a wrong power-of-two offset can match.
            block = os.urandom(CHUNK + 1)
            for left in range(size - 4096, 0, -len(block)):
                stream.write(block[:left])
        command = cli_test.RUNNER + [cli_test.EXE, "-q", source, dest]
        subprocess.run(command[:-3] + ["--version"], check=True, capture_output=True)
        process = subprocess.Popen(command, cwd=source)
        _, status, usage = os.wait4(process.pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        with open(os.path.join(source, "big.med"), "rb") as want, \
                open(os.path.join(dest, "big.wav"), "rb") as got:
            first = cli_test.converted(want.read(CHUNK))
            self.assertEqual(got.read(CHUNK), first)
            while first:
                first = want.read(CHUNK)
                self.assertEqual(got.read(CHUNK), first)
        return usage.ru_maxrss * 1024

    def test_file_of_a_few_hundred_mib(self):
        folder = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
        self.addCleanup(shutil.rmtree, folder)
        self.assertLess(self.convert((256 << 20) + 3, folder, folder), 64 << 20)

    def test_copy_between_two_file_systems(self):
        if cli_test.ON_WINE:
            self.skipTest("the kernel's own copy is the native file system's")
        source, dest = tempfile.mkdtemp(dir="/dev/shm"), tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, source)
        self.addCleanup(os.rmdir, dest)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", dest]).returncode:
            self.skipTest("cannot mount a second tmpfs here")
        self.addCleanup(subprocess.run, ["umount", dest])
        self.convert((5 << 20) + 7, source, dest)


if __name__ == "__main__":
    cli_test.run_case(LargeCopyTest, __doc__)
