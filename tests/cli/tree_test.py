#!/usr/bin/env python3
"""tonequay-cli -r on real trees, natively or under Wine. Run as cli_test.py is; 77 skips."""
import os, pathlib, shutil, struct, subprocess, sys, tempfile, unittest  # noqa: E401

EXE = os.environ.get("TONEQUAY_CLI", "")
RUNNER = [part for part in os.environ.get("TONEQUAY_CLI_RUNNER", "").split("|") if part]
SEP = "\\" if RUNNER else "/"
MED, WAV = 122, 17


def sound(tag, seed, size=64):
    """A RIFF/WAVE file whose bytes after the tag tell `seed` apart."""
    data = bytearray(b"RIFF" + struct.pack("<I", size - 8) + b"WAVE" + bytes([seed]) * (size - 12))
    struct.pack_into("<H", data, 20, tag)
    return bytes(data)


class TreeTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tonequay-tree-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.env = dict(os.environ)

    def make(self, files):
        for name, content in files.items():
            path = pathlib.Path(self.root, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)

    def tree(self, top):  # {path below top: its bytes, or None for a folder or a link}
        top, found = os.path.join(self.root, top), {}
        for folder, dirs, files in os.walk(top):
            for path in (os.path.join(folder, name) for name in dirs + files):
                found[os.path.relpath(path, top)] = (
                    None if not os.path.isfile(path) else open(path, "rb").read())
        return found

    def run_cli(self, *args):
        result = subprocess.run(RUNNER + [EXE] + list(args), cwd=self.root, env=self.env,
                                capture_output=True, timeout=500 if RUNNER else 60, check=False)
        if result.returncode in (126, 127) and RUNNER:  # no 32-bit Wine on this host
            self.skipTest(result.stderr.decode("utf-8", "replace"))
        return (result.returncode, result.stdout.decode("utf-8").replace("\r\n", "\n"),
                result.stderr.decode("utf-8").replace("\r\n", "\n"))

    def test_tree_converts_each_folder_into_the_same_place(self):
        # In visiting order. a/y.med loses to a/x.wav; b has no sound file; c only a folder,
        # a link back up and one out of the tree; DEST is src/out, holding a stale old.med.
        order = ["1.med", "2.med", "3.med", "top.med", "a/x.wav", "a/deep/z.med", "c/d/m.med",
                 "d8/8.med", "d9/9.med"]
        self.make({"src/" + name: sound(MED if name.endswith("med") else WAV, i)
                   for i, name in enumerate(order)})
        self.make({"src/a/y.med": sound(MED, 20), "src/b/notes.txt": b"",
                   "src/out/old.med": sound(MED, 21), "elsewhere/e.med": sound(MED, 22)})
        os.symlink("../..", os.path.join(self.root, "src/c/d/up"))
        os.symlink(os.path.join(self.root, "elsewhere"), os.path.join(self.root, "src/c/away"))
        outputs = [name[:-4] + (".wav" if name.endswith("med") else ".med") for name in order]
        listing = "".join("src/%s -> src/out/%s\n" % pair for pair in zip(order, outputs))
        source = self.tree("src")
        code, out, err = self.run_cli("-r", "--dry-run", "src", "src/out")
        self.assertEqual((code, out.splitlines(True)[:-1]),
                         (0, listing.replace("/", SEP).splitlines(True)), err)
        self.assertEqual(self.tree("src"), source, "a dry run wrote something")

        code, out, err = self.run_cli("--recursive", "src", "src/out")
        summary = "Summary: 9 files, 9 converted, 0 failed, 0 skipped, 576 bytes written\n"
        self.assertEqual((code, out), (0, summary), err)
        expected = {name: sound(MED if name.endswith("med") else WAV, i)
                    for i, name in enumerate(outputs)}
        expected.update(dict.fromkeys(["a", "a/deep", "c", "c/d", "d8", "d9"]),
                        **{"old.med": sound(MED, 21)})
        self.assertEqual(self.tree("src/out"), expected)

    def test_names_in_any_script(self):
        if RUNNER:  # a Japanese thread locale must not lay Shift-JIS lead bytes over UTF-8 names
            subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8",
                            os.path.join(self.root, "ja_JP.UTF-8")], check=True)
            self.env.update(LOCPATH=self.root, LC_ALL="ja_JP.UTF-8")
        names = ["サウンド/あいう.med", "サウンド/효과/한국어.MED", "Кириллица.med", "🎵 song.med"]
        self.make({"in/" + name: sound(MED, i) for i, name in enumerate(names)})
        code, out, err = self.run_cli("-r", "in")
        self.assertEqual(code, 0, out + err)
        expected = {name[:-4] + ".wav": sound(WAV, i) for i, name in enumerate(names)}
        expected.update((name, sound(MED, i)) for i, name in enumerate(names))
        self.assertEqual({k: v for k, v in self.tree("in").items() if v is not None}, expected)

    def test_tree_too_big_for_destination_is_refused(self):
        os.mkdir(dest := os.path.join(self.root, "small"))
        mount = ["mount", "-t", "tmpfs", "-o", "size=64k", "tonequay-test", dest]
        if os.geteuid() != 0 or subprocess.run(mount, check=False).returncode != 0:
            self.skipTest("cannot mount a small tmpfs here")
        self.addCleanup(subprocess.run, ["umount", dest], check=False)
        info = os.statvfs(dest)
        # Each folder alone fits; the tree does not.
        half = info.f_bavail * info.f_frsize // 2 + 2 * info.f_frsize
        self.make({"src/a/1.med": sound(MED, 1, half), "src/b/2.med": sound(MED, 2, half)})
        code, out, err = self.run_cli("-r", "src", dest)
        self.assertEqual((code, err, os.listdir(dest)),
                         (2, "Not enough free space on destination path\n", []))


if __name__ == "__main__":
    outcome = unittest.TextTestRunner(verbosity=2).run(TreeTest(sys.argv[1]))
    sys.exit(1 if not outcome.wasSuccessful() else 77 if outcome.skipped else 0)
