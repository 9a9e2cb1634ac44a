#!/usr/bin/env python3
"""Measures what a modder hears from tonequay-cli --fit beside sox's and ffmpeg's own commands.

Fourteen edits as sound editors save them (speech, music, noise, gunshots, a 96 kHz sweep, 8 kHz
u-law, 8-bit, float, 5.1, quiet ambience, a DC offset) are fitted to four game layouts by the real
command line. End to end, each .med --fit writes is converted back to .wav, decoded by sox and by
ffmpeg, and set against the edit mixed to the target's channels by speaker and resampled by sox's
very-high-quality converter, beside what sox's and ffmpeg's one command makes of the same edit.
Then the encoders alone (each fed the sound --fit encodes), the time of the whole job, and --fit's
peak memory on a 10-minute edit. Nothing passes or fails on a time or a decibel: exit code 0 says
every command ran and every output decoded at the right length, 1 that one did not, 77 that sox,
ffmpeg or espeak-ng is missing.
"""

import argparse
import hashlib
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import wave
from array import array
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_bench import GNU_TIME, BenchError, print_rows, timed_run  # noqa: E402  (beside this one)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SKIP = 77
EDIT_RATE = 48000
TARGETS = {"11025-mono-256": (11025, 1, 256), "22050-mono-512": (22050, 1, 512),
           "22050-stereo-1024": (22050, 2, 1024),
           "44100-stereo-2048": (44100, 2, 2048)}  # rate, channels, block align
SMOKE_TARGETS = ("22050-stereo-1024",)  # sox picks its own blocks; 5.1 and mono mixed
GOAL = ("on every file and target never below the better of the other chains (each at its lower "
        "decoding), and on average at least +1 dB above it")
BUDGET = 8 * 2**20
LONG_SECONDS = 600
# The other chains: what a modder would run instead of --fit, each a single command on the edit.
CHAINS = {"ours": "ours", "sox": "sox's", "ffmpeg": "ffmpeg's", "trellis": "ffmpeg -trellis"}
HALF_POWER = math.sqrt(0.5)  # -3 dB
# Each speaker of an extensible format's channel mask, in bit order: its gains into the left and
# the right side, as the README's --fit section states them; and the speakers of a file that
# names none, by its channel count.
SIDES = [(1, 0), (0, 1), (HALF_POWER, HALF_POWER), (0, 0), (HALF_POWER, 0), (0, HALF_POWER),
         (1, 0), (0, 1), (0.5, 0.5), (HALF_POWER, 0), (0, HALF_POWER)]
USUAL_MASKS = {1: 0x4, 2: 0x3, 3: 0x7, 4: 0x33, 5: 0x37, 6: 0x3F}
TEXT = ("A keeper walks the harbour wall at dusk and counts the boats that come home. The wind "
        "turns cold, the lamps are lit one by one, and somewhere past the breakwater a bell "
        "rings twice. She writes the names in a book: the Heron, the Little Grace, the Morning "
        "Star. Seven went out at dawn and six are tied up now. She waits, and listens to the "
        "water slap the stones, until a light shows low on the sea and a horn sounds three "
        "short calls.")


def run(*command):
    """Runs a command; returns its output, or raises with its error output."""
    done = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        raise BenchError(f"{' '.join(map(str, command))} exited with {done.returncode}: "
                         f"{done.stderr.strip()[-400:]}")
    return done.stdout


def write_pcm(path, samples, encoding=None, scratch=None):
    """Writes interleaved stereo floats in -1..1 at the edit rate: as 16-bit PCM, or through a raw
    float file that sox stores in `encoding` (its output options), without dither."""
    if encoding:
        raw = scratch / "raw.f32"
        floats = array("f", samples)
        if sys.byteorder == "big":
            floats.byteswap()
        raw.write_bytes(floats.tobytes())
        run("sox", "-D", "-t", "f32", "-r", EDIT_RATE, "-c", 2, raw, *encoding, path)
        return
    pcm = array("h", (max(-32768, min(32767, round(v * 32767))) for v in samples))
    if sys.byteorder == "big":
        pcm.byteswap()
    with wave.open(str(path), "wb") as out:
        out.setparams((2, 2, EDIT_RATE, 0, "NONE", ""))
        out.writeframes(pcm.tobytes())


def speech(voices, rate=EDIT_RATE, encoding=("-b", "16"), level=-3):
    """A maker of espeak-ng speech: one voice (espeak-ng's -v, -s and -p) per channel, cut or
    padded to the length, stored at `rate` in sox's output options `encoding`."""
    def make(path, seconds, scratch):
        text = " ".join([TEXT] * max(1, math.ceil(seconds / 20)))
        files = [scratch / f"voice-{index}.wav" for index in range(len(voices))]
        for file, (voice, speed, pitch) in zip(files, voices):
            run("espeak-ng", "-v", voice, "-s", speed, "-p", pitch, "-w", file, text)
        run("sox", "-R", *(["-M"] if len(files) > 1 else []), *files, *encoding, path, "rate",
            rate, "gain", "-n", level, "pad", "0", seconds, "trim", "0", f"{seconds * rate}s")
    return make


def synth(channels, how, rate=EDIT_RATE, bits=16):
    """A maker of a sound sox synthesises from nothing: the synth effect's arguments, then `how`."""
    return lambda path, seconds, _: run("sox", "-R", "-c", channels, "-r", rate, "-n", "-b", bits,
                                        path, "synth", seconds, *how.split())


def make_bursts(path, seconds, _):
    """White and pink noise bursts of 30 to 300 ms at -20 to -3 dB, silence between them."""
    rng = random.Random(1201)
    samples = [0.0] * (2 * seconds * EDIT_RATE)
    at = rng.randrange(EDIT_RATE // 10)
    while True:
        length = rng.randrange(EDIT_RATE * 3 // 100, EDIT_RATE * 3 // 10)
        if 2 * (at + length) > len(samples):
            break
        level, pink = 10 ** (rng.uniform(-20, -3) / 20), rng.random() < 0.5
        for channel in (0, 1):
            b0 = b1 = b2 = 0.0
            burst = []
            for _ in range(length):
                white = rng.uniform(-1, 1)
                if pink:  # three one-pole filters: power falls about 3 dB an octave
                    b0, b1 = 0.99765 * b0 + white * 0.099046, 0.963 * b1 + white * 0.2965164
                    b2 = 0.57 * b2 + white * 1.0526913
                    white = b0 + b1 + b2 + white * 0.1848
                burst.append(white)
            scale = level / max(abs(v) for v in burst)
            samples[2 * at + channel:2 * (at + length):2] = [v * scale for v in burst]
        at += length + rng.randrange(EDIT_RATE // 5, EDIT_RATE)
    write_pcm(path, samples)


def make_attacks(path, seconds, _):
    """Digital silence broken by plucks, clicks and tones that start at full height and decay."""
    rng = random.Random(1202)
    samples = [0.0] * (2 * seconds * EDIT_RATE)
    events = max(3, seconds)
    for index in range(events):
        at = (index * seconds * EDIT_RATE) // events + rng.randrange(EDIT_RATE // 4)
        kind, level = index % 3, 10 ** (rng.uniform(-9, -1) / 20)
        if kind == 1:  # a click: a few samples of one sign
            for i in range(rng.randrange(1, 4)):
                samples[2 * (at + i)] = samples[2 * (at + i) + 1] = level
            continue
        frequency, decay = rng.uniform(80, 2500), rng.uniform(0.05, 0.6) * EDIT_RATE
        for i in range(min(int(decay * 6), seconds * EDIT_RATE - at)):
            phase = 2 * math.pi * frequency * i / EDIT_RATE
            # a pluck carries harmonics; a tone onset is a cosine, so it starts at its peak
            v = (math.sin(phase) + 0.5 * math.sin(2 * phase) + 0.25 * math.sin(3 * phase)) / 1.4 \
                if kind == 0 else math.cos(phase)
            v *= level * math.exp(-i / decay)
            samples[2 * (at + i)], samples[2 * (at + i) + 1] = v, v * 0.8
    write_pcm(path, samples)


def make_white(path, seconds, _):
    """Wide-band white noise, each channel its own, peaks at -6 dBFS (resampled, it stays inside
    full scale)."""
    rng = random.Random(1203)
    write_pcm(path, [rng.uniform(-0.5, 0.5) for _ in range(2 * seconds * EDIT_RATE)])


def make_gunshots(path, seconds, scratch):
    """Shots 1 to 3 s apart: a crack of noise at full height that dies in 10 to 60 ms over a low
    thump that dies in 150 ms, panned; stored at 24 bits, as a recorder does."""
    rng = random.Random(1204)
    frames = seconds * EDIT_RATE
    samples = [0.0] * (2 * frames)
    at = rng.randrange(EDIT_RATE // 20)
    while at < frames:
        level, crack = 10 ** (rng.uniform(-6, -0.5) / 20), rng.uniform(0.01, 0.06) * EDIT_RATE
        thump, pitch, pan = 0.15 * EDIT_RATE, rng.uniform(45, 90), rng.uniform(0.6, 1.0)
        for i in range(min(EDIT_RATE, frames - at)):
            boom = math.sin(2 * math.pi * pitch * i / EDIT_RATE) * math.exp(-i / thump)
            v = level * (0.75 * rng.uniform(-1, 1) * math.exp(-i / crack) + 0.25 * boom)
            samples[2 * (at + i)], samples[2 * (at + i) + 1] = v * pan, v * (1.6 - pan)
        at += rng.randrange(EDIT_RATE, 3 * EDIT_RATE)
    write_pcm(path, samples, ("-b", "24"), scratch)


def make_surround(path, seconds, scratch):
    """5.1 (channel mask 0x3F) with something in every speaker: tones front left and right,
    speech in the centre, a 45 Hz rumble in the low-frequency one, noise at the back."""
    speech([("en-us", "170", "50")])(scratch / "centre.wav", seconds, scratch)
    run("sox", "-R", "-n", "-r", EDIT_RATE, "-c", 5, "-b", 16, scratch / "bed.wav", "synth",
        seconds, "sine", 220, "sine", 330, "sine", 45, "pinknoise", "brownnoise")
    run("sox", "-R", "-M", scratch / "bed.wav", scratch / "centre.wav", "-b", 16, path, "remix",
        "-m", "1v0.4", "2v0.4", "6v0.9", "3v0.5", "4v0.3", "5v0.3")
    if channel_mask(wave_format(path)[5]) != 0x3F:
        raise BenchError(f"sox wrote {path} without the 5.1 channel mask 0x3F")


# name: (maker, what it is). The first five are 16-bit 48 kHz stereo; the memory run uses them.
EDITS = {
    "speech": (speech([("en-us", "160", "50"), ("en-gb", "190", "65")]),
               "speech by espeak-ng, two voices, 16-bit 48 kHz stereo"),
    # three tones and a slow sweep, two of the tones and the sweep in each channel
    "chord": (synth(4, "sine 220 sine 277 sine 330 sine 100-8000 remix 1,2,4 2,3,4 gain -n -6"),
              "a chord with a sweep, 16-bit 48 kHz stereo"),
    "bursts": (make_bursts, "noise bursts, 16-bit 48 kHz stereo"),
    "square": (synth(2, "square 440 gain -0.5"),
               "a square wave near full scale, 16-bit 48 kHz stereo"),
    "attacks": (make_attacks, "silence with sharp attacks, 16-bit 48 kHz stereo"),
    "white": (make_white, "wide-band white noise, 16-bit 48 kHz stereo"),
    "gunshots": (make_gunshots, "gunshots (sharp decaying noise bursts), 24-bit 48 kHz stereo"),
    "sweep-96k": (synth(2, "sine 20:20000 gain -1", 96000, 24),
                  "a 20 Hz to 20 kHz sweep, 24-bit 96 kHz stereo"),
    "speech-8k-ulaw": (speech([("en-us+f3", "150", "55")], 8000, ("-e", "u-law"), -1),
                       "speech, 8 kHz u-law mono"),
    "speech-22k-8bit": (speech([("en-gb-scotland", "165", "40")], 22050,
                               ("-e", "unsigned", "-b", "8"), -1),
                        "speech, 8-bit 22.05 kHz mono"),
    "speech-48k-float": (speech([("en-029", "150", "45"), ("en-us+f2", "175", "60")], EDIT_RATE,
                                ("-e", "floating-point", "-b", "32"), -1),
                         "speech, two other voices, 32-bit float 48 kHz stereo"),
    "surround": (make_surround, "5.1 (mask 0x3F), something in each speaker, 16-bit 48 kHz"),
    "ambience": (synth(2, "pinknoise gain -n -27.4"),
                 "quiet ambience: pink noise at -40 dBFS RMS, 16-bit 48 kHz stereo"),
    "dc-offset": (synth(2, "sine 330 sine 495 gain -n -12 dcshift 0.25"),
                  "two tones over a DC offset of +0.25, 16-bit 48 kHz stereo"),
}
NAMES = tuple(EDITS)
MEMORY_NAMES = NAMES[:5]


def wave_format(path):
    """(format tag, channels, rate, block align, samples per block or 1, the whole fmt chunk)."""
    data = path.read_bytes()
    at = 12
    while at + 8 <= len(data):
        size = struct.unpack_from("<I", data, at + 4)[0]
        if data[at:at + 4] == b"fmt ":
            tag, channels, rate, _, align = struct.unpack_from("<HHIIH", data, at + 8)
            per_block = struct.unpack_from("<H", data, at + 26)[0] if size >= 20 else 1
            return tag, channels, rate, align, per_block, data[at:at + 8 + size]
        at += 8 + size + size % 2
    raise BenchError(f"{path} has no format chunk")


def channel_mask(fmt_chunk):
    """The extensible format's channel mask, 0 where the chunk names none."""
    tag = struct.unpack_from("<H", fmt_chunk, 8)[0]
    return struct.unpack_from("<I", fmt_chunk, 28)[0] if tag == 0xFFFE and len(fmt_chunk) >= 32 \
        else 0


def frame_count(path):
    """The frames of a PCM, float or u-law .wav: its data chunk's size over its block align."""
    data = path.read_bytes()
    at = data.index(b"data", 12)
    return struct.unpack_from("<I", data, at + 4)[0] // wave_format(path)[3]


def mix_gains(channels, mask, to):
    """Per output channel, each input channel's gain: the mix by speaker the README gives --fit
    (front to their side, centre to both and back and side to their side at -3 dB, the
    low-frequency one nowhere; mono the mean of the two sides; scaled down together where the
    sum of a side's gains is above 1), worked out here on its own."""
    if channels == to:
        return [[float(k == c) for c in range(channels)] for k in range(to)]
    if channels == 1 or to > 2:
        return [[1.0 / channels] * channels for _ in range(to)]
    mask = mask or USUAL_MASKS[channels]
    speakers = [bit for bit in range(len(SIDES)) if mask >> bit & 1][:channels]
    sides = [SIDES[bit] for bit in speakers] + [SIDES[2]] * (channels - len(speakers))
    rows = [[s[0] for s in sides], [s[1] for s in sides]] if to == 2 else \
        [[(s[0] + s[1]) / 2 for s in sides]]
    loudest = max([1.0] + [sum(row) for row in rows])
    return [[gain / loudest for gain in row] for row in rows]


def reference(edit, channels, rate, out):
    """The edit as the target should hold it, made without our stages: mixed by sox's remix with
    explicit gains, resampled by sox's very-high-quality converter, as raw floats."""
    _, from_channels, _, _, _, fmt = wave_format(edit)
    gains = mix_gains(from_channels, channel_mask(fmt), channels)
    remix = [",".join(f"{c + 1}v{g:.9f}" for c, g in enumerate(row) if g) for row in gains]
    run("sox", "-D", edit, "-t", "f32", out, "remix", "-m", *remix, "rate", "-v", rate)
    return out


def make_corpus(work, seconds, names, targets):
    """Writes edit/NAME.wav and, per target, med-TARGET/NAME.med; returns the edits' digest."""
    edit, scratch = work / "edit", work / "scratch"
    edit.mkdir()
    scratch.mkdir()
    digest = hashlib.sha256()
    for name in names:
        EDITS[name][0](edit / f"{name}.wav", seconds, scratch)
        digest.update((edit / f"{name}.wav").read_bytes())
    for label in targets:
        rate, channels, align = TARGETS[label]
        (work / f"med-{label}").mkdir()
        for name in names:
            run("ffmpeg", "-v", "error", "-y", "-i", edit / f"{name}.wav", "-fflags", "+bitexact",
                "-c:a", "adpcm_ima_wav", "-block_size", align, "-ar", rate, "-ac", channels,
                scratch / "med.wav")
            med = bytearray((scratch / "med.wav").read_bytes())
            if med[12:16] != b"fmt " or med[20:22] != b"\x11\x00":
                raise BenchError("ffmpeg's IMA ADPCM file does not start with its format chunk")
            med[20:22] = struct.pack("<H", 122)
            (work / f"med-{label}" / f"{name}.med").write_bytes(med)
    return digest.hexdigest()


def measure(command, peak_rss=False):
    """The benchmark's timing of one command of paths and numbers; the peak only if asked."""
    with tempfile.NamedTemporaryFile() as peak:
        figures = timed_run([str(part) for part in command],
                            rss_file=peak.name if peak_rss else None)
    return {"wall": figures["seconds"], "cpu": figures["cpu_seconds"], "peak": figures["peak_rss"]}


def fit(args, work, label, edit, game, names, peak_rss=False):
    """Runs --fit from fresh copies of the target's .med files (so it really fits) and checks each
    was rewritten with the old one's format chunk byte for byte; returns the run's figures."""
    shutil.rmtree(game, ignore_errors=True)
    game.mkdir(parents=True)
    for name in names:
        shutil.copyfile(work / f"med-{label}" / f"{name}.med", game / f"{name}.med")
    figures = measure([args.cli, "--fit", "--quiet", edit, game], peak_rss)
    for name in names:
        old, new = work / f"med-{label}" / f"{name}.med", game / f"{name}.med"
        if new.read_bytes() == old.read_bytes() or wave_format(new)[5] != wave_format(old)[5]:
            raise BenchError(f"{new} was not rewritten in the old one's format")
    return figures


def decode(decoder, path, out):
    """`path` as raw 32-bit float samples, decoded by sox or ffmpeg."""
    if decoder == "sox":
        run("sox", path, "-t", "f32", out)
    else:
        run("ffmpeg", "-v", "error", "-y", "-i", path, "-f", "f32le", out)
    return out


def score(args, encoded, refs, target, frames, own_blocks=False):
    """Checks an encoding is IMA ADPCM of the target (its block size too unless `own_blocks`),
    decodes it by sox and by ffmpeg and returns, per reference, its SNR as each plays it and the
    lower of the two; a decoding must hold the frames wanted up to one block more."""
    rate, channels, align = TARGETS[target]
    tag, got_channels, got_rate, got_align, per_block, _ = wave_format(encoded)
    if (tag, got_channels, got_rate) != (17, channels, rate) or \
            not (own_blocks or got_align == align):
        raise BenchError(f"{encoded} is not IMA ADPCM {rate} Hz x{channels} in {align}-byte "
                         f"blocks ({tag}, {got_channels}, {got_rate}, {got_align})")
    figures = {key: {"block_align": got_align} for key in refs}
    for decoder in ("sox", "ffmpeg"):
        played = decode(decoder, encoded, encoded.with_suffix(".f32"))
        for key, ref in refs.items():
            db, _, got = run(args.tool, "snr", ref, played, channels).split()
            if not frames <= int(got) < frames + per_block:
                raise BenchError(f"{encoded} decoded by {decoder}: {got} frames, {frames} wanted "
                                 f"(blocks of {per_block})")
            figures[key][decoder] = float(db)
    for entry in figures.values():
        entry["lower"] = min(entry["sox"], entry["ffmpeg"])
    return figures


def measure_quality(args, work, label):
    """Fits the edits; end to end, sets ours and the other chains against the independent
    reference; encoders alone, sets ours and sox's and ffmpeg's encoders fed the sound --fit
    encodes against that sound. Returns the two lists of rows."""
    rate, channels, align = TARGETS[label]
    game, ours, folder = work / f"game-{label}", work / f"ours-{label}", work / f"q-{label}"
    fit(args, work, label, work / "edit", game, args.names)
    run(args.cli, "--to", "wav", "--quiet", game, ours)
    folder.mkdir()
    trellis = ["-trellis", args.trellis]
    end_to_end, alone = [], []
    for name in args.names:
        edit, stages = work / "edit" / f"{name}.wav", folder / f"{name}-stages.wav"
        _, _, edit_rate, _, _, _ = wave_format(edit)
        frames = round(frame_count(edit) * rate / edit_rate)
        ref = reference(edit, channels, rate, folder / f"{name}-ref.f32")
        if os.path.getsize(ref) != frames * channels * 4:
            raise BenchError(f"sox's reference of {name} at {rate} Hz holds "
                             f"{os.path.getsize(ref) // 4 // channels} frames, {frames} wanted")
        if int(run(args.tool, "stages", edit, stages, channels, rate)) != frames:
            raise BenchError(f"fit_tool stages made other than {frames} frames of {name}")
        own = decode("sox", stages, folder / f"{name}-stages.f32")
        refs = {"end_to_end": ref, "alone": own}
        e2e = {"file": name, "target": label, "frames": frames}
        solo = dict(e2e)
        e2e["ours"], solo["ours"] = score(args, ours / f"{name}.wav", refs, label, frames).values()
        # How far our mix and resampler alone, before any encoding, are from the reference.
        e2e["stages"] = float(run(args.tool, "snr", ref, own, channels).split()[0])
        ffmpeg = ["ffmpeg", "-v", "error", "-y", "-i"]
        to_layout = ["-ar", rate, "-ac", channels, "-c:a", "adpcm_ima_wav", "-block_size", align]
        chains = {"sox": ["sox", "-R", edit, "-r", rate, "-c", channels, "-e", "ima-adpcm"],
                  "ffmpeg": ffmpeg + [edit] + to_layout, "trellis": ffmpeg + [edit] + to_layout
                  + trellis}
        encoders = {"sox": ["sox", "-R", stages, "-e", "ima-adpcm"],
                    "ffmpeg": ffmpeg + [stages] + to_layout,
                    "trellis": ffmpeg + [stages] + to_layout + trellis}
        for row, commands, key in ((e2e, chains, "end_to_end"), (solo, encoders, "alone")):
            for chain, command in commands.items():
                out = folder / f"{name}-{chain}.wav"
                run(*command, out)
                row[chain] = score(args, out, {key: refs[key]}, label, frames,
                                   chain == "sox")[key]
            row["margin"] = row["ours"]["lower"] - max(row[chain]["lower"] for chain in CHAINS
                                                       if chain != "ours")
        end_to_end.append(e2e)
        alone.append(solo)
    return end_to_end, alone


def summarise(rows):
    """Average and smallest margin (and where), and whether the goal holds."""
    smallest = min(rows, key=lambda row: row["margin"])
    average = sum(row["margin"] for row in rows) / len(rows)
    return {"average": average, "smallest": smallest["margin"],
            "smallest_at": f"{smallest['file']} {smallest['target']}",
            "below": sum(row["margin"] < 0 for row in rows), "files": len(rows),
            "trellis_minus_ours": sum(row["trellis"]["lower"] - row["ours"]["lower"]
                                      for row in rows) / len(rows),
            "goal_holds": smallest["margin"] >= 0 and average >= 1}


def measure_speed(args, work, label):
    """Best of the rounds, in wall and CPU seconds, of the three doing the whole job."""
    rate, channels, align = TARGETS[label]
    out = work / "speed-out.wav"
    edits = [work / "edit" / f"{name}.wav" for name in args.names]
    jobs = {"ours": lambda: [fit(args, work, label, work / "edit", work / f"speed-{label}",
                                 args.names)],
            # Our decoding and resampling alone, without the encoder: what the resampler costs.
            "stages": lambda: [measure([args.tool, "stages", e, out, channels, rate])
                               for e in edits],
            "sox": lambda: [measure(["sox", e, "-r", rate, "-c", channels, "-e", "ima-adpcm",
                                     out]) for e in edits],
            "ffmpeg": lambda: [measure(["ffmpeg", "-v", "error", "-y", "-i", e, "-ar", rate,
                                        "-ac", channels, "-c:a", "adpcm_ima_wav", "-block_size",
                                        align, out]) for e in edits]}
    best = {}
    for _ in range(args.rounds):
        for job, runs in jobs.items():
            runs, slot = runs(), best.setdefault(job, {})
            for key in ("wall", "cpu"):
                slot[key] = min(sum(r[key] for r in runs), slot.get(key, math.inf))
    return best


def measure_memory(args, work):
    """--fit's peak on a 10-minute edit and on a 1-second one, for two targets."""
    long, short = work / "memory" / "long", work / "memory" / "short"
    long.mkdir(parents=True)
    short.mkdir()
    loops = math.ceil(LONG_SECONDS / (args.seconds * len(MEMORY_NAMES))) - 1
    run("sox", *(work / "edit" / f"{n}.wav" for n in MEMORY_NAMES), long / "speech.wav",
        "repeat", loops, "trim", "0", f"{LONG_SECONDS * EDIT_RATE}s")
    run("sox", long / "speech.wav", short / "speech.wav", "trim", "0", f"{EDIT_RATE}s")
    figures = {}
    for label in ("44100-stereo-2048", "11025-mono-256"):
        game = work / "memory" / "game"
        peaks = {length: fit(args, work, label, edit, game, ["speech"], peak_rss=True)["peak"]
                 for length, edit in (("short", short), ("long", long))}
        figures[label] = dict(peaks, growth=peaks["long"] - peaks["short"])
    return figures


def print_margins(table, trellis):
    """One table of SNRs (each the lower decoding) per target, then the margins' summary."""
    columns = [CHAINS[c] + (f" {trellis}" if c == "trellis" else "") for c in CHAINS]
    for label, target in table["targets"].items():
        print(f"\n  {label}")
        stages = "stages" in target["rows"][0]
        print_rows([["file"] + columns + ["margin"] + (["ours unencoded"] if stages else [])] +
                   [[r["file"]] + [f"{r[c]['lower']:.2f}" for c in CHAINS] +
                    [f"{r['margin']:+.2f}"] +
                    ([f"{r['stages']:.2f}" if r["stages"] < 999 else "exact"] if stages else [])
                    for r in target["rows"]], left=1)
    rows = [r for target in table["targets"].values() for r in target["rows"]]
    apart = [max((abs(r[c]["sox"] - r[c]["ffmpeg"]), CHAINS[c], r["file"], r["target"])
                  for r in rows) for c in CHAINS]
    print("\n  sox and ffmpeg play one file at most so far apart, in dB: " +
          "; ".join("{1} {0:.2f} ({2} {3})".format(*a) for a in apart))
    sox_blocks = sorted({(r["target"], r["sox"]["block_align"]) for r in rows
                         if r["sox"]["block_align"] != TARGETS[r["target"]][2]})
    if sox_blocks:
        print("  sox writes its own block size: " +
              ", ".join(f"{a} bytes for {label}" for label, a in sox_blocks))
    summaries = list(table["targets"].items()) + [("overall", table)]
    print(f"\n  margin in dB: average, smallest (where), how many files are below; -trellis "
          f"{trellis} minus ours, average")
    print_rows([["target", "average", "smallest", "at", "below", f"-trellis {trellis} - ours"]] +
               [[label, f"{t['summary']['average']:+.2f}", f"{t['summary']['smallest']:+.2f}",
                 t["summary"]["smallest_at"], f"{t['summary']['below']} of {t['summary']['files']}",
                 f"{t['summary']['trellis_minus_ours']:+.2f}"] for label, t in summaries], left=1)
    s = table["summary"]
    print(f"  goal, {table['goal']}:\n  {'holds' if s['goal_holds'] else 'does NOT hold'} "
          f"(average {s['average']:+.2f} dB, smallest {s['smallest']:+.2f} dB: {s['smallest_at']})")


def print_quality(report, trellis):
    print("\nEnd to end: SNR in dB of what each chain makes of the edit, decoded by sox and by "
          "ffmpeg, the lower\nof the two. The reference is the edit mixed to the target's "
          "channels by speaker with sox's remix\n(explicit gains: front to their side, centre "
          "to both and back to their side at -3 dB, LFE\nnowhere, scaled down together where "
          "they could clip; mono the mean of the two sides) and\nresampled by sox's "
          "very-high-quality converter (rate -v): never our own stages.\n  ours: tonequay-cli "
          "--fit, then --to wav;  sox's: sox edit.wav -r R -c C -e ima-adpcm out.wav\n  "
          "ffmpeg's: ffmpeg -i edit.wav -ar R -ac C -c:a adpcm_ima_wav -block_size N out.wav;"
          f"\n  ffmpeg -trellis {trellis}: the same with -trellis {trellis}\n"
          "  margin: ours minus the best of the other three\n"
          "  ours unencoded: the float sound --fit encodes (fit_tool stages), before encoding")
    print_margins(report["end_to_end"], trellis)
    print("\nEncoders alone: SNR in dB (the lower decoding) against the float sound --fit "
          "encodes (fit_tool\nstages: our mix and resampler); sox's and ffmpeg's encoders are "
          "fed that same sound")
    print_margins(report["alone"], trellis)


def print_speed(report, rounds, count):
    print(f"\nSpeed: best of {rounds} rounds over the {count} edits, seconds; ours is "
          "tonequay-cli --fit over\nthe folder, sox's and ffmpeg's one command per edit, summed; "
          "resampling: of ours, the\ndecoding, mixing and resampling alone (fit_tool stages)")
    rows = [["target", "ours CPU", "resampling", "sox CPU", "ffmpeg CPU", "ours/sox",
             "ours/ffmpeg", "ours wall", "sox wall", "ffmpeg wall", "ours/sox wall",
             "ours/ffmpeg wall"]]
    for label, s in report["speed"].items():
        rows.append([label] + [f"{s[j]['cpu']:.3f}" for j in ("ours", "stages", "sox", "ffmpeg")]
                    + [f"{s['ours']['cpu'] / s[j]['cpu']:.2f}" for j in ("sox", "ffmpeg")] +
                    [f"{s[j]['wall']:.3f}" for j in ("ours", "sox", "ffmpeg")] +
                    [f"{s['ours']['wall'] / s[j]['wall']:.2f}" for j in ("sox", "ffmpeg")])
    print_rows(rows, left=1)


def print_memory(memory):
    exact = "" if os.access(GNU_TIME, os.X_OK) else " (each with this interpreter's size)"
    print(f"\nPeak resident memory of tonequay-cli --fit, MiB{exact}")
    rows = [["target", "1-s edit", f"{LONG_SECONDS // 60}-min edit", "growth", "budget 8 MiB"]]
    for label, m in memory.items():
        rows.append([label] + [f"{m[k] / 2**20:.2f}" for k in ("short", "long", "growth")] +
                    ["within" if m["growth"] <= BUDGET else "OVER"])
    print_rows(rows, left=1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"),
                        help="native build folder with cli/tonequay-cli and bench/fit_tool")
    parser.add_argument("--work", help="folder whose fit-bench/ is made afresh for the corpus "
                        "and outputs (default: a temporary folder, removed after)")
    parser.add_argument("--json", help="write every figure to this file")
    parser.add_argument("--seconds", type=int, default=20, help="length of each edit")
    parser.add_argument("--rounds", type=int, default=3, help="timed rounds; the best counts")
    parser.add_argument("--trellis", type=int, default=4, help="ffmpeg's -trellis beside ours")
    parser.add_argument("--smoke", action="store_true", help="1-second edits, one target, "
                        "one round, no memory run: proves it all runs")
    args = parser.parse_args()
    missing = [p for p in ("sox", "ffmpeg", "espeak-ng") if not shutil.which(p)]
    if missing:
        print(f"fit_bench: needs {', '.join(missing)}; skipped")
        return SKIP
    if args.smoke:
        args.seconds, args.rounds = 1, 1
    args.names = NAMES
    targets = SMOKE_TARGETS if args.smoke else tuple(TARGETS)
    args.cli = os.path.join(os.path.abspath(args.build), "cli", "tonequay-cli")
    args.tool = os.path.join(os.path.abspath(args.build), "bench", "fit_tool")
    for program in (args.cli, args.tool):
        if not os.access(program, os.X_OK):
            print(f"fit_bench: {program} not found: build the native preset", file=sys.stderr)
            return 1
    base = os.path.abspath(args.work) if args.work else tempfile.mkdtemp(prefix="fit-bench-")
    work = Path(base) / "fit-bench"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    report = {"seconds": args.seconds, "rounds": args.rounds, "smoke": args.smoke,
              "trellis": args.trellis, "edits": {n: EDITS[n][1] for n in args.names},
              "reference": "the edit mixed by speaker with sox's remix and explicit gains, "
                           "resampled by sox's rate -v; each encoding at its lower decoding",
              "versions": {p: run(p, flag).strip().split("\n")[0] for p, flag in (
                  ("sox", "--version"), ("ffmpeg", "-version"), ("espeak-ng", "--version"))}}
    try:
        report["corpus_sha256"] = make_corpus(work, args.seconds, args.names, targets)
        print(f"corpus: {len(args.names)} edits of {args.seconds} s, sha256 "
              f"{report['corpus_sha256'][:16]}", flush=True)
        for key, goal in (("end_to_end", "end to end, " + GOAL),
                          ("alone", "encoders alone, " + GOAL.replace("other chains",
                                                                      "other encoders"))):
            report[key] = {"goal": goal, "targets": {}}
        for label in targets:
            for key, rows in zip(("end_to_end", "alone"), measure_quality(args, work, label)):
                report[key]["targets"][label] = {"rows": rows, "summary": summarise(rows)}
            print(f"  {label}: measured", flush=True)
        for key in ("end_to_end", "alone"):
            report[key]["summary"] = summarise([row for target in report[key]["targets"].values()
                                                for row in target["rows"]])
        report["speed"] = {label: measure_speed(args, work, label)
                           for label in targets}
        if not args.smoke:
            report["memory"] = measure_memory(args, work)
    except BenchError as error:
        print(f"fit_bench: {error}", file=sys.stderr)
        return 1
    finally:
        if args.json:
            with open(args.json, "w", encoding="utf-8") as stream:
                json.dump(report, stream, indent=1)
        if not args.work:
            shutil.rmtree(base)
    print("\n".join(f"  {name:<17} {EDITS[name][1]}" for name in args.names))
    print_quality(report, args.trellis)
    print_speed(report, args.rounds, len(args.names))
    if "memory" in report:
        print_memory(report["memory"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
