#!/usr/bin/env python3
"""Writes the benchmark folders of IMA ADPCM .med files, the same bytes for the same seed."""

import argparse
import hashlib
import json
import math
import os
import random
import shutil
import struct
import sys

KIB = 1024
MIB = 1024 * KIB

# Bumped whenever the bytes written for a given seed change, so a stale corpus is rebuilt.
GENERATOR_VERSION = 1
DEFAULT_SEED = 20240611

MED_TAG = 122
WAV_TAG = 17
IMA_TAG_SHARE = 0.1  # files that already carry tag 17 under the .med name
HEADER_BYTES = 60  # RIFF 12, "fmt " 8 + 20, "fact" 8 + 4, "data" 8

# name: (file count, smallest size, largest size, distribution). "count-*" are the first files
# of "small", and "tiny-1000" and "tiny-10000" the first of "tiny-100000", so the time per file
# can be compared at several counts of the same kind of file. Tiny files keep 100,000 of them
# to a few hundred MB, small enough for tmpfs.
SHAPES = {
    "small": (10000, 4 * KIB, 64 * KIB, "uniform"),
    "count-100": (100, 4 * KIB, 64 * KIB, "uniform"),
    "count-1000": (1000, 4 * KIB, 64 * KIB, "uniform"),
    "game": (1000, 4 * KIB, 4 * MIB, "log-uniform"),
    "large": (8, 64 * MIB, 64 * MIB, "uniform"),
    "tiny-1000": (1000, 1 * KIB, 4 * KIB, "uniform"),
    "tiny-10000": (10000, 1 * KIB, 4 * KIB, "uniform"),
    "tiny-100000": (100000, 1 * KIB, 4 * KIB, "uniform"),
}
# The same kinds, small enough for a test run that proves the scripts work.
SMOKE_SHAPES = {
    "small": (20, 4 * KIB, 16 * KIB, "uniform"),
    "count-100": (5, 4 * KIB, 16 * KIB, "uniform"),
    "count-1000": (10, 4 * KIB, 16 * KIB, "uniform"),
    "game": (6, 4 * KIB, 256 * KIB, "log-uniform"),
    "large": (2, 1 * MIB, 1 * MIB, "uniform"),
    "tiny-1000": (4, 1 * KIB, 4 * KIB, "uniform"),
    "tiny-10000": (6, 1 * KIB, 4 * KIB, "uniform"),
    "tiny-100000": (8, 1 * KIB, 4 * KIB, "uniform"),
}
# Shapes whose files are the first files of another shape's sequence.
SEQUENCE_OF = {"count-100": "small", "count-1000": "small", "tiny-1000": "tiny-100000",
               "tiny-10000": "tiny-100000"}

# Step-index bytes of block headers must be 0..88; this maps any random byte into that range.
STEP_INDEX_TABLE = bytes(b % 89 for b in range(256))


def ima_format(channels, sample_rate):
    """The fields of an IMA ADPCM format chunk for the usual block size of a sample rate."""
    block_align = {11025: 256, 22050: 512, 44100: 1024}[sample_rate] * channels
    samples_per_block = (block_align - 4 * channels) * 8 // (4 * channels) + 1
    byte_rate = sample_rate * block_align // samples_per_block
    return block_align, samples_per_block, byte_rate


def sound_file(rng, size, tag):
    """A RIFF/WAVE IMA ADPCM file of about `size` bytes: whole blocks of random samples."""
    channels = rng.choice((1, 2))
    sample_rate = rng.choice((11025, 22050, 44100))
    block_align, samples_per_block, byte_rate = ima_format(channels, sample_rate)
    blocks = max(1, (size - HEADER_BYTES) // block_align)
    data = bytearray(rng.randbytes(blocks * block_align))
    # Each block opens with one 4-byte header per channel: predictor, step index, zero.
    for channel in range(channels):
        at = 4 * channel
        data[at + 2::block_align] = data[at + 2::block_align].translate(STEP_INDEX_TABLE)
        data[at + 3::block_align] = bytes(blocks)
    fmt = struct.pack("<HHIIHHHH", tag, channels, sample_rate, byte_rate, block_align, 4, 2,
                      samples_per_block)
    fact = struct.pack("<I", blocks * samples_per_block)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" +
            struct.pack("<I", len(fact)) + fact + b"data" + struct.pack("<I", len(data)))
    return b"RIFF" + struct.pack("<I", len(body) + len(data)) + body, data


def file_sizes(rng, count, smallest, largest, distribution):
    if distribution == "log-uniform":
        low, high = math.log(smallest), math.log(largest)
        return [int(math.exp(rng.uniform(low, high))) for _ in range(count)]
    return [rng.randint(smallest, largest) for _ in range(count)]


def shape_params(shape, smoke):
    count, smallest, largest, distribution = (SMOKE_SHAPES if smoke else SHAPES)[shape]
    sequence = SEQUENCE_OF.get(shape, shape)
    sequence_params = (SMOKE_SHAPES if smoke else SHAPES)[sequence]
    return count, sequence, sequence_params[1:]


def stamp_for(shape, seed, smoke):
    count, sequence, (smallest, largest, distribution) = shape_params(shape, smoke)
    return {"generator": GENERATOR_VERSION, "seed": seed, "shape": shape, "files": count,
            "sequence": sequence, "smallest": smallest, "largest": largest,
            "distribution": distribution}


def generate_files(shape, seed, smoke):
    """Yields (name, bytes) for every file of a shape, in order."""
    count, sequence, (smallest, largest, distribution) = shape_params(shape, smoke)
    full_count = (SMOKE_SHAPES if smoke else SHAPES)[sequence][0]
    rng = random.Random(f"tonequay-bench:{seed}:{sequence}")
    sizes = file_sizes(rng, full_count, smallest, largest, distribution)[:count]
    width = len(str(full_count))
    for index, size in enumerate(sizes):
        tag = WAV_TAG if rng.random() < IMA_TAG_SHARE else MED_TAG
        header, data = sound_file(rng, size, tag)
        yield f"{sequence}_{index + 1:0{width}d}.med", header, data


def add_to_digest(digest, name, header, data):
    digest.update(name.encode() + struct.pack("<Q", len(header) + len(data)) + header)
    digest.update(data)


def corpus_digest(shape, seed, smoke):
    """The SHA-256 of a shape's names and bytes, computed without writing anything."""
    digest = hashlib.sha256()
    for name, header, data in generate_files(shape, seed, smoke):
        add_to_digest(digest, name, header, data)
    return digest.hexdigest()


def write_shape(root, shape, seed, smoke):
    """Writes one shape's folder unless an identical one is there; returns its stamp."""
    folder = os.path.join(root, shape)
    stamp_path = os.path.join(root, shape + ".json")
    wanted = stamp_for(shape, seed, smoke)
    if os.path.isdir(folder) and os.path.exists(stamp_path):
        with open(stamp_path, encoding="utf-8") as stream:
            stamp = json.load(stream)
        if all(stamp.get(key) == value for key, value in wanted.items()):
            return stamp
    # The stamp goes last and comes off first, so an interrupted run is never taken as done.
    if os.path.exists(stamp_path):
        os.remove(stamp_path)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    digest = hashlib.sha256()
    total = 0
    largest = 0
    for name, header, data in generate_files(shape, seed, smoke):
        with open(os.path.join(folder, name), "wb") as stream:
            stream.write(header)
            stream.write(data)
        size = len(header) + len(data)
        add_to_digest(digest, name, header, data)
        total += size
        largest = max(largest, size)
    stamp = dict(wanted, bytes=total, largest_file=largest, sha256=digest.hexdigest())
    with open(stamp_path, "w", encoding="utf-8") as stream:
        json.dump(stamp, stream, indent=2)
    return stamp


def check_file(path):
    """Returns the reason a file is not a well-formed IMA ADPCM RIFF/WAVE file, or None."""
    with open(path, "rb") as stream:
        content = stream.read()
    if content[0:4] != b"RIFF" or content[8:12] != b"WAVE" or content[12:16] != b"fmt ":
        return "no RIFF/WAVE header with the format chunk at offset 12"
    if struct.unpack_from("<I", content, 4)[0] != len(content) - 8:
        return "RIFF size does not match the file"
    fmt_size = struct.unpack_from("<I", content, 16)[0]
    tag, channels, _, _, block_align, bits, _, per_block = struct.unpack_from("<HHIIHHHH",
                                                                             content, 20)
    if tag not in (MED_TAG, WAV_TAG) or bits != 4 or fmt_size != 20:
        return "not an IMA ADPCM format chunk"
    if per_block != (block_align - 4 * channels) * 8 // (4 * channels) + 1:
        return "samples per block do not match the block size"
    at = 20 + fmt_size
    while at + 8 <= len(content) and content[at:at + 4] != b"data":
        at += 8 + struct.unpack_from("<I", content, at + 4)[0]
    if at + 8 > len(content):
        return "no data chunk"
    data_size = struct.unpack_from("<I", content, at + 4)[0]
    if at + 8 + data_size != len(content) or data_size % block_align != 0:
        return "data chunk is not whole blocks to the end of the file"
    if any(index > 88 for index in content[at + 8 + 2::block_align]):
        return "a block header's step index is out of range"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--out", required=True, help="folder that receives one folder per shape")
    parser.add_argument("--shapes", default=",".join(SHAPES),
                        help="comma-separated shapes (default: all): " + ", ".join(SHAPES))
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--smoke", action="store_true",
                        help="tiny folders of the same kinds, for a quick test run")
    parser.add_argument("--check", action="store_true",
                        help="also parse every written file and fail on a malformed one")
    args = parser.parse_args()

    for shape in args.shapes.split(","):
        if shape not in SHAPES:
            parser.error(f"unknown shape {shape!r}")
        stamp = write_shape(args.out, shape, args.seed, args.smoke)
        print(f"{shape}: {stamp['files']} files, {stamp['bytes']} bytes, sha256 "
              f"{stamp['sha256'][:16]}")
        if args.check:
            folder = os.path.join(args.out, shape)
            for name in sorted(os.listdir(folder)):
                reason = check_file(os.path.join(folder, name))
                if reason:
                    print(f"{name}: {reason}", file=sys.stderr)
                    return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
