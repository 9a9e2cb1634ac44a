#!/usr/bin/env python3
"""Measures tonequay-cli --fit beside sox's and ffmpeg's IMA ADPCM encoders: quality, speed, memory.

Five edits as a sound editor saves them (16-bit PCM, 48000 Hz stereo) are fitted to three game
layouts by the real command line; sox and ffmpeg encode the float sound --fit encodes (fit_tool
stages); every encoding is decoded by both and its SNR printed; then the time of the three doing
the whole job, and --fit's peak memory on a 10-minute edit. Nothing passes or fails on a time or
a decibel: exit code 0 says every command ran and every output decoded at the right length, 1
that one did not, 77 that sox, ffmpeg or espeak-ng is missing.
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
           "44100-stereo-2048": (44100, 2, 2048)}  # rate, channels, block align
GOAL = "never below the better of sox and ffmpeg on any file, and on average at least 1 dB above it"
BUDGET = 8 * 2**20
LONG_SECONDS = 600
ENCODINGS = {"ours": "ours", "sox": "sox's", "ffmpeg": "ffmpeg's", "trellis": "ffmpeg -trellis 4"}
MARGINS = {"margin": "the lower decodings", "margin_sox": "all decoded by sox",
           "margin_ffmpeg": "all decoded by ffmpeg"}
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


def write_pcm(path, samples):
    """Writes interleaved stereo floats in -1..1 as 16-bit PCM at the edit rate."""
    pcm = array("h", (max(-32768, min(32767, round(v * 32767))) for v in samples))
    if sys.byteorder == "big":
        pcm.byteswap()
    with wave.open(str(path), "wb") as out:
        out.setparams((2, 2, EDIT_RATE, 0, "NONE", ""))
        out.writeframes(pcm.tobytes())


def make_speech(path, seconds, scratch):
    """Two voices at two speeds, one per channel, cut or padded to the length."""
    text = " ".join([TEXT] * max(1, math.ceil(seconds / 20)))
    voices = [scratch / "left.wav", scratch / "right.wav"]
    run("espeak-ng", "-v", "en-us", "-s", "160", "-w", voices[0], text)
    run("espeak-ng", "-v", "en-gb", "-s", "190", "-p", "65", "-w", voices[1], text)
    run("sox", "-R", "-M", *voices, "-b", "16", path, "rate", EDIT_RATE, "gain", "-n", "-3",
        "pad", "0", seconds, "trim", "0", f"{seconds * EDIT_RATE}s")


def synth(channels, how):
    """A maker of a sound sox synthesises from nothing: the synth effect's arguments, then `how`."""
    return lambda path, seconds, _: run("sox", "-R", "-c", channels, "-r", EDIT_RATE, "-n", "-b",
                                        "16", path, "synth", seconds, *how.split())


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


# The chord: three tones and a slow sweep, two of the tones and the sweep in each channel.
MAKERS = {"speech": make_speech,
          "chord": synth(4, "sine 220 sine 277 sine 330 sine 100-8000 remix 1,2,4 2,3,4 gain -n "
                         "-6"),
          "bursts": make_bursts, "square": synth(2, "square 440 gain -0.5"),
          "attacks": make_attacks}
NAMES = tuple(MAKERS)


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


def make_corpus(work, seconds):
    """Writes edit/NAME.wav and, per target, med-TARGET/NAME.med; returns the edits' digest."""
    edit, scratch = work / "edit", work / "scratch"
    edit.mkdir()
    scratch.mkdir()
    digest = hashlib.sha256()
    for name in NAMES:
        MAKERS[name](edit / f"{name}.wav", seconds, scratch)
        digest.update((edit / f"{name}.wav").read_bytes())
    for label, (rate, channels, align) in TARGETS.items():
        (work / f"med-{label}").mkdir()
        for name in NAMES:
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


def fit(args, work, label, edit, game, names=NAMES, peak_rss=False):
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


def measure_quality(args, work, label):
    """Fits the edits, encodes the same float sounds with sox and ffmpeg, decodes all with both;
    returns a row of SNR figures per edit and the block align sox chose."""
    rate, channels, align = TARGETS[label]
    game, ours, folder = work / f"game-{label}", work / f"ours-{label}", work / f"q-{label}"
    fit(args, work, label, work / "edit", game)
    run(args.cli, "--to", "wav", "--quiet", game, ours)
    folder.mkdir()
    rows, sox_align = [], None
    for name in NAMES:
        ref, encoded = folder / f"{name}-ref.wav", folder / f"{name}.wav"
        frames = int(run(args.tool, "stages", work / "edit" / f"{name}.wav", ref, channels, rate))
        ref_f32 = decode("sox", ref, folder / "ref.f32")
        row = {"file": name, "target": label, "frames": frames}
        ffmpeg = ["ffmpeg", "-v", "error", "-y", "-i", ref, "-c:a", "adpcm_ima_wav", "-block_size",
                  align]
        encoders = {"ours": None, "sox": ["sox", "-R", ref, "-e", "ima-adpcm"], "ffmpeg": ffmpeg,
                    **({"trellis": ffmpeg + ["-trellis", "4"]} if args.trellis else {})}
        for encoder, command in encoders.items():
            if command:
                run(*command, encoded)
            else:
                shutil.copyfile(ours / encoded.name, encoded)
            tag, got_channels, got_rate, got_align, per_block, _ = wave_format(encoded)
            if (tag, got_channels, got_rate) != (17, channels, rate):
                raise BenchError(f"{encoder}'s {encoded} is not IMA ADPCM {rate} Hz x{channels}")
            if encoder == "sox":
                sox_align = got_align  # sox chooses its own
            elif got_align != align:
                raise BenchError(f"{encoder}'s {encoded} has {got_align}-byte blocks")
            for decoder in ("sox", "ffmpeg"):
                db, ref_frames, played = run(args.tool, "snr", ref_f32,
                                             decode(decoder, encoded, folder / "test.f32"),
                                             channels).split()
                if int(ref_frames) != frames or not frames <= int(played) < frames + per_block:
                    raise BenchError(f"{encoder}'s {name} {label} decoded by {decoder}: {played} "
                                     f"frames, {frames} wanted (blocks of {per_block})")
                row[f"{encoder}_{decoder}"] = float(db)
            row[encoder] = min(row[f"{encoder}_sox"], row[f"{encoder}_ffmpeg"])
        for key, suffix in zip(MARGINS, ("", "_sox", "_ffmpeg")):
            row[key] = row["ours" + suffix] - max(row["sox" + suffix], row["ffmpeg" + suffix])
        rows.append(row)
    return rows, sox_align


def summarise(rows):
    """Average and smallest of each margin; whether the goal holds on the lower decodings."""
    summary = {}
    for key in MARGINS:
        smallest = min(rows, key=lambda row: row[key])
        summary[key] = {"average": sum(row[key] for row in rows) / len(rows),
                        "smallest": smallest[key],
                        "smallest_at": f"{smallest['file']} {smallest['target']}"}
    margin = summary["margin"]
    summary["goal_holds"] = margin["smallest"] >= 0 and margin["average"] >= 1
    return summary


def measure_speed(args, work, label):
    """Best of the rounds, in wall and CPU seconds, of the three doing the whole job."""
    rate, channels, align = TARGETS[label]
    out = work / "speed-out.wav"
    edits = [work / "edit" / f"{name}.wav" for name in NAMES]
    jobs = {"ours": lambda: [fit(args, work, label, work / "edit", work / f"speed-{label}")],
            # Our decoding and resampling alone, without the encoder: what libsamplerate costs.
            "stages": lambda: [measure([args.tool, "stages", e, out, channels, rate])
                               for e in edits],
            "sox": lambda: [measure(["sox", e, "-e", "ima-adpcm", "-r", rate, "-c", channels,
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
    loops = math.ceil(LONG_SECONDS / (args.seconds * len(NAMES))) - 1
    run("sox", *(work / "edit" / f"{n}.wav" for n in NAMES), long / "speech.wav", "repeat", loops,
        "trim", "0", f"{LONG_SECONDS * EDIT_RATE}s")
    run("sox", long / "speech.wav", short / "speech.wav", "trim", "0", f"{EDIT_RATE}s")
    figures = {}
    for label in ("44100-stereo-2048", "11025-mono-256"):
        game = work / "memory" / "game"
        peaks = {length: fit(args, work, label, edit, game, ["speech"], peak_rss=True)["peak"]
                 for length, edit in (("short", short), ("long", long))}
        figures[label] = dict(peaks, growth=peaks["long"] - peaks["short"])
    return figures


def print_quality(report, trellis):
    rows = [row for target in report["quality"].values() for row in target["rows"]]
    print("\nSNR in dB against the float sound --fit encodes (same channels, same resampler), "
          "each encoding\ndecoded by sox / by ffmpeg; margin = ours minus the better of sox's "
          "and ffmpeg's, each\ntaken at the lower of its two decodings" +
          ("; ffmpeg -trellis 4: the lower decoding, outside the margin" if trellis else ""))
    header = ["file", "target", "ours", "sox's", "ffmpeg's", "margin", "by sox", "by ffmpeg"]
    print_rows([header + (["ffmpeg -trellis 4"] if trellis else [])] +
               [[r["file"], r["target"]] +
                [f"{r[e + '_sox']:.2f} / {r[e + '_ffmpeg']:.2f}" for e in ("ours", "sox", "ffmpeg")]
                + [f"{r[key]:+.2f}" for key in MARGINS] +
                ([f"{r['trellis']:.2f}"] if trellis else []) for r in rows], left=2)
    differences = [(abs(r[f"{e}_sox"] - r[f"{e}_ffmpeg"]), ENCODINGS[e], r["file"], r["target"])
                   for r in rows for e in ENCODINGS if e in r]
    apart = [d for d in differences if d[0] > 0.01]
    if apart:
        print(f"note: sox and ffmpeg decode IMA ADPCM differently: {len(apart)} of "
              f"{len(differences)} encodings differ by more than 0.01 dB, at most by "
              "{:.2f} dB ({} {} {})".format(*max(apart)))
    for label, target in report["quality"].items():
        if target["sox_block_align"] != TARGETS[label][2]:
            print(f"note: sox wrote {target['sox_block_align']}-byte blocks for {label}")
    print("\nMargins in dB, average / smallest")
    summaries = [(label, target["summary"]) for label, target in report["quality"].items()]
    print_rows([["target", ""] + list(MARGINS.values())] +
               [[label, ""] + [f"{s[key]['average']:+.2f} / {s[key]['smallest']:+.2f}"
                               for key in MARGINS]
                for label, s in summaries + [("overall", report["summary"])]], left=2)
    s = report["summary"]["margin"]
    print(f"goal ({GOAL}),\non the lower decodings: "
          f"{'holds' if report['summary']['goal_holds'] else 'does NOT hold'} (average "
          f"{s['average']:+.2f} dB, smallest {s['smallest']:+.2f} dB: {s['smallest_at']})")


def print_speed(report, rounds):
    print(f"\nSpeed: best of {rounds} rounds over the {len(NAMES)} edits, seconds; ours is "
          "tonequay-cli --fit over\nthe folder, sox's and ffmpeg's one command per edit, summed; "
          "resampling: of ours, the\ndecoding and resampling alone (fit_tool stages)")
    rows = [["target", "", "ours CPU", "resampling", "sox CPU", "ffmpeg CPU", "ours/sox",
             "ours/ffmpeg", "ours wall", "sox wall", "ffmpeg wall", "ours/sox wall"]]
    for label, s in report["speed"].items():
        rows.append([label, ""] + [f"{s[j]['cpu']:.3f}"
                                   for j in ("ours", "stages", "sox", "ffmpeg")] +
                    [f"{s['ours']['cpu'] / s[j]['cpu']:.2f}" for j in ("sox", "ffmpeg")] +
                    [f"{s[j]['wall']:.3f}" for j in ("ours", "sox", "ffmpeg")] +
                    [f"{s['ours']['wall'] / s['sox']['wall']:.2f}"])
    print_rows(rows, left=2)


def print_memory(memory):
    exact = "" if os.access(GNU_TIME, os.X_OK) else " (each with this interpreter's size)"
    print(f"\nPeak resident memory of tonequay-cli --fit, MiB{exact}")
    rows = [["target", "", "1-s edit", f"{LONG_SECONDS // 60}-min edit", "growth", "budget 8 MiB"]]
    for label, m in memory.items():
        rows.append([label, ""] + [f"{m[k] / 2**20:.2f}" for k in ("short", "long", "growth")] +
                    ["within" if m["growth"] <= BUDGET else "OVER"])
    print_rows(rows, left=2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"),
                        help="native build folder with cli/tonequay-cli and bench/fit_tool")
    parser.add_argument("--work", help="folder whose fit-bench/ is made afresh for the corpus "
                        "and outputs (default: a temporary folder, removed after)")
    parser.add_argument("--json", help="write every figure to this file")
    parser.add_argument("--seconds", type=int, default=20, help="length of each edit")
    parser.add_argument("--rounds", type=int, default=3, help="timed rounds; the best counts")
    parser.add_argument("--trellis", action="store_true",
                        help="also ffmpeg's encoding with -trellis 4, outside the margin")
    parser.add_argument("--smoke", action="store_true",
                        help="1-second edits and no memory run: proves it all runs")
    args = parser.parse_args()
    missing = [p for p in ("sox", "ffmpeg", "espeak-ng") if not shutil.which(p)]
    if missing:
        print(f"fit_bench: needs {', '.join(missing)}; skipped")
        return SKIP
    args.seconds = 1 if args.smoke else args.seconds
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
              "versions": {p: run(p, flag).strip().split("\n")[0] for p, flag in (
                  ("sox", "--version"), ("ffmpeg", "-version"), ("espeak-ng", "--version"))}}
    try:
        report["corpus_sha256"] = make_corpus(work, args.seconds)
        print(f"corpus: {len(NAMES)} edits of {args.seconds} s, sha256 "
              f"{report['corpus_sha256'][:16]}", flush=True)
        report["quality"] = {}
        for label in TARGETS:
            rows, sox_align = measure_quality(args, work, label)
            report["quality"][label] = {"rows": rows, "sox_block_align": sox_align,
                                        "summary": summarise(rows)}
        report["summary"] = summarise([row for target in report["quality"].values()
                                       for row in target["rows"]])
        report["speed"] = {label: measure_speed(args, work, label) for label in TARGETS}
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
    print_quality(report, args.trellis)
    print_speed(report, args.rounds)
    if "memory" in report:
        print_memory(report["memory"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
