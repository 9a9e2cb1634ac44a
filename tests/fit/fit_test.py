#!/usr/bin/env python3
"""Our decoders on files sox and ffmpeg write, against their own decoding of them; our IMA ADPCM
files decoded by both, at the length and above the noise floor they must have; tonequay-cli --fit
on edits of a .med. FIT_TOOL is bench/fit_tool, CLI tonequay-cli; a machine without sox or
ffmpeg skips (77)."""
import os, shutil, signal, subprocess, sys, tempfile, time, unittest  # noqa: E401
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
from fit_bench import decode as decoded  # noqa: E402  (`path` as floats, played by sox or ffmpeg)

TOOL = os.environ.get("FIT_TOOL", "")
CLI = os.environ.get("CLI", "")
SKIP = 77


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL).stdout.split()


def game_med(source, rate="22050", channels="1", align="512"):
    """The game's .med of `source`: IMA ADPCM with a fact chunk, by default 22050 Hz mono."""
    run("ffmpeg", "-y", "-v", "error", "-i", source, "-ar", rate, "-ac", channels, "-c:a",
        "adpcm_ima_wav", "-block_size", align, "med.wav")
    return bytearray((wav := Path("med.wav").read_bytes())[:20] + bytes([122]) + wav[21:])


def snr(reference, test, channels):
    db, ref_frames, test_frames = run(TOOL, "snr", reference, test, str(channels))
    return float(db), int(ref_frames), int(test_frames)


class Fit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.chdir(tempfile.mkdtemp(prefix="fit-"))
        # A sweep on the left whose top passes the lowest rate's band edge, a tone on the right.
        run("sox", "-n", "-r", "22050", "-c", "2", "-e", "float", "-b", "32", "src.wav", "synth",
            "0.8", "sine", "200-8000", "sine", "440", "gain", "-4")

    def test_decoders_match_the_program_that_wrote_the_file(self):
        # (name, how it is written, whose decoding ours equals exactly): where sox and ffmpeg
        # decode a format differently, ours follows the one its definition gives. Both play an
        # ADPCM file's last block whole; ours ends where its fact chunk says the sound does: sox
        # counts the sound's samples there, ffmpeg its blocks'.
        cases = [("u8", ["sox", "-e", "unsigned", "-b", "8"], "sox"),
                 ("s16", ["ffmpeg", "pcm_s16le"], "ffmpeg"),
                 ("s24 extensible", ["sox", "-e", "signed", "-b", "24"], "sox"),
                 ("s32", ["ffmpeg", "pcm_s32le"], "ffmpeg"),
                 ("f32", ["ffmpeg", "pcm_f32le"], "ffmpeg"),
                 ("f64", ["sox", "-e", "float", "-b", "64"], "sox"),
                 ("A-law", ["ffmpeg", "pcm_alaw"], "ffmpeg"),
                 ("u-law", ["sox", "-e", "u-law"], "sox"),
                 ("IMA ADPCM", ["sox", "-e", "ima-adpcm"], "sox"),
                 ("IMA ADPCM 1024", ["ffmpeg", "adpcm_ima_wav", "-block_size", "1024"], "sox"),
                 ("MS ADPCM", ["sox", "-e", "ms-adpcm"], "ffmpeg"),
                 ("MS ADPCM 512", ["ffmpeg", "adpcm_ms", "-block_size", "512"], "ffmpeg"),
                 ("3 channels extensible", ["ffmpeg", "pcm_s16le", "-ac", "3"], "ffmpeg")]
        for name, (maker, *how), reference in cases:
            with self.subTest(name):
                path = name.replace(" ", "_") + ".wav"
                if maker == "sox":
                    run("sox", "src.wav", *how, path)
                else:
                    run("ffmpeg", "-v", "error", "-y", "-i", "src.wav", "-c:a", *how, path)
                channels, _, frames, whole = run(TOOL, "decode", path, "ours.f32")
                db, ref_frames, ours = snr(decoded(reference, path, "ref.f32"), "ours.f32",
                                           int(channels))
                length = 17640 if maker == "sox" else ref_frames
                self.assertEqual((db, ours, int(frames), whole), (999.0, length, length, "whole"))
                self.assertGreaterEqual(ref_frames, ours)

    def test_our_encoding_plays_in_sox_and_ffmpeg(self):
        # (channels, rate, block align, floor in dB: as measured, less about a decibel)
        for channels, rate, align, floor in [(1, 11025, 256, 23), (1, 22050, 512, 25.3),
                                             (2, 44100, 2048, 30.8)]:
            capacity = (align // channels - 4) * 2 + 1
            frames = round(0.8 * rate)
            run(TOOL, "fit", "src.wav", "ours.wav", str(channels), str(rate), str(align))
            ref = "ref.f32"
            run("sox", "src.wav", "-t", "f32", "-c", str(channels), ref, "rate", "-v", str(rate))
            for player in ("sox", "ffmpeg"):
                with self.subTest(channels=channels, rate=rate, player=player):
                    db, ref_frames, played = snr(ref, decoded(player, "ours.wav", "played.f32"),
                                                 channels)
                    self.assertEqual(ref_frames, frames)
                    self.assertTrue(frames <= played < frames + capacity, played)
                    self.assertGreaterEqual(db, floor)

    def test_fit_writes_the_meds_format_at_the_edits_length(self):
        # Edits of the game's .med in four formats it must be fitted from (one with a JUNK chunk
        # before its format, one named in another script), and one it cannot read.
        os.makedirs("game"), os.makedirs("edit")
        med = game_med("src.wav")
        for name, how in {"pcm": "-r 44100 -b 16", "ima": "-c 1 -e ima-adpcm",
                          "フロート": "-e float", "gsm": "-r 8000 -c 1 -e gsm-full-rate"}.items():
            run("sox", "-R", "src.wav", *how.split(), "edit/%s.wav" % name)
            Path("game/%s.med" % name).write_bytes(med)
        run("ffmpeg", "-v", "error", "-i", "src.wav", "-rf64", "auto", "edit/junk.wav")
        Path("game/junk.med").write_bytes(med)
        result = subprocess.run([CLI, "--fit", "edit", "game"], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1, result)
        self.assertIn("cannot fit gsm.wav: GSM 6.10 (0x0031) is not read\n", result.stderr)
        self.assertIn("5 files, 4 converted (0 new, 4 fitted), 0 warnings, 1 failed", result.stdout)
        self.assertEqual(Path("game/gsm.med").read_bytes(), med)
        run("sox", "src.wav", "-t", "f32", "-c", "1", "ref.f32", "rate", "-v", "22050")
        for name in ("pcm", "ima", "フロート", "junk"):
            fitted = bytearray(Path("game/%s.med" % name).read_bytes())
            self.assertEqual(fitted[12:40], med[12:40], name)  # the format chunk, byte for byte
            fitted[20] = 17
            Path("played.wav").write_bytes(fitted)
            for player in ("sox", "ffmpeg"):
                with self.subTest(name, player=player):
                    db, frames, played = snr("ref.f32", decoded(player, "played.wav", "p.f32"), 1)
                    self.assertTrue(frames <= played < frames + 1017, played)
                    self.assertGreaterEqual(db, 25)  # measured 25.35 to 26.29

    def test_the_modders_loop(self):
        # The game's .med files kept once, put back byte for byte; a watch fits an edit saved in
        # two writes, and ends with its summary on Ctrl-C.
        os.makedirs("loop"), os.chdir("loop")
        med = game_med("../src.wav")
        game = {"game/a.med": bytes(med), "game/sub/b.med": bytes(med)}
        for path, data in game.items():
            Path(path).parent.mkdir(parents=True, exist_ok=True)
            Path(path).write_bytes(data)
        os.makedirs("edit/sub")
        run("sox", "../src.wav", "-r", "44100", "edit/a.wav")
        run("sox", "../src.wav", "-r", "48000", "edit/sub/b.wav")
        for _ in range(2):  # the second run keeps the first one's copies
            run(CLI, "-q", "--fit", "-r", "--backup", "keep", "edit", "game")
            self.assertEqual({path: Path("keep", path[5:]).read_bytes() for path in game}, game)
        self.assertNotEqual(Path("game/a.med").read_bytes(), game["game/a.med"])
        run(CLI, "--restore", "keep", "game")
        self.assertEqual({path: Path(path).read_bytes() for path in game}, game)
        run("sox", "../src.wav", "-r", "32000", "-c", "1", "edited.wav", "trim", "0", "0.5")
        edited = Path("edited.wav").read_bytes()
        with subprocess.Popen([CLI, "--watch", "--fit", "edit", "game"], start_new_session=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as watch:
            def changed(old):  # waits, for a minute at most, until game/a.med is no longer `old`
                for _ in range(600):
                    if Path("game/a.med").read_bytes() != old:
                        return Path("game/a.med").read_bytes()
                    time.sleep(0.1)
                return old
            fitted = changed(bytes(med))  # its first run fits a.wav
            time.sleep(1.5)  # its first look
            with open("edit/a.wav", "wb") as stream:
                stream.write(edited[:3000])
                stream.flush()
                stream.write(edited[3000:])
            changed(fitted)
            time.sleep(1)
            watch.send_signal(signal.SIGINT)
            out, err = watch.communicate(timeout=60)
        self.assertEqual((watch.returncode, err.count("edit/a.wav -> game/a.med")), (0, 1), err)
        self.assertIn("Summary: 2 files, 2 converted (0 new, 2 fitted), 0 warnings, 0 failed", out)
        os.chdir("..")

    @unittest.skipUnless(os.environ.get("FIT_MEASURES_MEMORY"), "a sanitizer's memory is its own")
    def test_a_long_edit_streams_through(self):
        # The fit's peak memory on a minute of 48 kHz stereo, and on edits far from the .med's
        # rate either way, beyond its peak on one second.
        med = game_med("src.wav", "44100", "2", "2048")
        peaks = {}
        for rate, seconds in ((48000, 1), (48000, 60), (200, 60), (192000, 20)):
            edit, game = "edit%d-%d" % (rate, seconds), "game%d-%d" % (rate, seconds)
            os.makedirs(edit), os.makedirs(game)
            run("sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", edit + "/s.wav", "synth",
                str(seconds), "sine", "50-%d" % (rate // 3), "sine", "60", "gain", "-4")
            Path(game + "/s.med").write_bytes(med)
            # Started by a small process: a child of this one would count this one's memory.
            run("/usr/bin/time", "-f", "%M", "-o", "peak", CLI, "--fit", "--quiet", edit, game)
            peaks[rate, seconds] = int(Path("peak").read_text())  # KiB
        for edit, peak in peaks.items():  # the longest edit's data is 11 MiB
            self.assertLess(peak - peaks[48000, 1], 8 * 1024, (edit, peaks))


if __name__ == "__main__":
    if not TOOL or not CLI or not shutil.which("sox") or not shutil.which("ffmpeg"):
        print("fit: needs FIT_TOOL, sox and ffmpeg; skipped")
        sys.exit(SKIP)
    unittest.main(verbosity=2)
