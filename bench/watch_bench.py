#!/usr/bin/env python3
"""What `tonequay-cli --watch` costs while it waits, and how soon it takes a saved edit.

Writes a tree of FILES small .med files (100 folders), converts it once, starts the watch over
it, reads the watch's own processor time from /proc across SECONDS of idling, then saves one
file and times until its output has changed. Prints figures; nothing passes or fails on them.
"""
import argparse, os, shutil, struct, subprocess, sys, tempfile, time  # noqa: E401


def sound(size, seed):
    head = struct.pack("<4sI4s4sIHHIIHHHH4sI", b"RIFF", size - 8, b"WAVE", b"fmt ", 20, 122, 1,
                       22050, 11100, 512, 4, 2, 1017, b"data", size - 48)
    return head + bytes([seed % 256]) * (size - 48)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stream:
        fields = stream.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/native", help="the native build folder")
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--work", default=None, help="a folder for the tree (default: tmpfs)")
    args = parser.parse_args()
    program = os.path.join(args.build, "cli", "tonequay-cli")
    work = tempfile.mkdtemp(prefix="watch-bench-", dir=args.work or
                            ("/dev/shm" if os.path.isdir("/dev/shm") else None))
    try:
        for index in range(args.files):
            folder = os.path.join(work, "src", "d%03d" % (index % 100))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "%06d.med" % index), "wb") as stream:
                stream.write(sound(1024, index))
        source, dest = os.path.join(work, "src"), os.path.join(work, "out")
        subprocess.run([program, "-q", "-r", source, dest], check=True)
        # A session of its own: the watch takes Ctrl-C, and a background job ignores it.
        watch = subprocess.Popen([program, "--watch", "-q", "-r", source, dest],
                                 start_new_session=True)
        time.sleep(3)  # its first look
        before = cpu_seconds(watch.pid)
        time.sleep(args.seconds)
        idle = cpu_seconds(watch.pid) - before
        saved, output = os.path.join(source, "d007", "000007.med"), os.path.join(
            dest, "d007", "000007.wav")
        with open(saved, "wb") as stream:
            stream.write(sound(2048, 1))
        start = time.monotonic()
        while os.path.getsize(output) != 2048 and time.monotonic() - start < 30:
            time.sleep(0.01)
        taken = time.monotonic() - start
        watch.send_signal(2)
        watch.wait(timeout=30)
        print("watch over %d files: %.3f s of processor in %.0f s idle, %.2f %% of a core; "
              "a saved file's output changed %.2f s after the save" %
              (args.files, idle, args.seconds, 100 * idle / args.seconds, taken))
        return watch.returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
