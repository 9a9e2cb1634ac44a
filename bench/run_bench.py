#!/usr/bin/env python3
"""Times tonequay-cli against a plain copy of the same folders, natively and under Wine.

For each corpus shape the two commands run in alternating order, round after round, each into
a fresh folder on the same file system, with the source read once just before every timed run
so both start from a warm page cache and no dirty pages. Every conversion's output is checked
byte for byte. A table is printed and every figure is written as JSON. Nothing here passes or
fails on a time: the exit code says only whether the commands ran and wrote the right bytes.
"""

import argparse
import ctypes
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import make_corpus  # noqa: E402  (lives beside this script)

MB = 1e6
READ_CHUNK = 1 << 20
# The shapes of one kind of file at growing counts, whose time per file is compared.
GROWTH_SHAPES = {"4-64 KiB": ("count-100", "count-1000", "small"),
                 "1-4 KiB": ("tiny-1000", "tiny-10000", "tiny-100000")}
GROWTH_BASE = 1000  # each shape's time per file is also given over that of this count's shape
GNU_TIME = "/usr/bin/time"
PR_SET_CHILD_SUBREAPER = 36


class BenchError(Exception):
    """A command failed or wrote the wrong bytes: the figures would mean nothing."""


def warm(folder):
    """Reads every file once, so the timed command finds the source in the page cache."""
    buffer = bytearray(READ_CHUNK)
    for entry in os.scandir(folder):
        with open(entry.path, "rb", buffering=0) as stream:
            while stream.readinto(buffer):
                pass


def adopt_orphans():
    """Makes this process the parent of every descendant whose own parent exits first. A Windows
    program under Wine may run in a process of its own that the launcher does not wait for
    (the 32-bit program under the 64-bit launcher); adopted, its peak memory can be read when it
    is reaped, instead of the launcher's."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def reap_adopted(program):
    """Reaps adopted processes that have ended; returns the peak resident bytes of those that
    ran `program` (0 if none did)."""
    peak = 0
    while True:
        try:
            ended = os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT)
        except ChildProcessError:
            return peak
        if ended is None:
            return peak
        try:  # an ended process keeps its name until it is reaped
            with open(f"/proc/{ended.si_pid}/comm", encoding="utf-8") as stream:
                name = stream.read().strip()
        except OSError:
            name = ""
        _, _, usage = os.wait4(ended.si_pid, 0)
        if name and program and program.startswith(name):
            peak = max(peak, usage.ru_maxrss * 1024)


def timed_run(command, env=None, rss_file=None):
    """Runs a command; returns its wall time, CPU time and peak resident memory in bytes."""
    # A child started from this interpreter inherits its peak memory figure across exec, so
    # the peak comes from GNU time, a small program, when it is installed.
    program = os.path.basename(command[0])
    windows_program = next((os.path.basename(part) for part in command
                            if part.lower().endswith(".exe")), "")
    if rss_file and os.access(GNU_TIME, os.X_OK):
        command = [GNU_TIME, "-f", "%M", "-o", rss_file] + command
    else:
        rss_file = None
    # Its error output goes to a file, not a pipe read only once it has ended: a warning for
    # each of thousands of files fills a pipe, and the program would wait on it for ever.
    with tempfile.TemporaryFile() as error_output:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=error_output,
                                   env=env)
        # wait4 gives this child's own times, its children's included.
        _, status, usage = os.wait4(process.pid, 0)
        elapsed = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        error_output.seek(0)
        errors = error_output.read().decode(errors="replace")
    if process.returncode != 0:
        raise BenchError(f"{program} exited with {process.returncode}: "
                         f"{errors.strip()[-2000:]}")
    peak_kib = usage.ru_maxrss
    if rss_file:
        with open(rss_file, encoding="utf-8") as stream:
            peak_kib = int(stream.read().split()[-1])
    # The peak of the process that ran the program itself, where that was not the child.
    program_peak = reap_adopted(windows_program)
    return {"seconds": elapsed, "cpu_seconds": usage.ru_utime + usage.ru_stime,
            "peak_rss": program_peak or peak_kib * 1024}


def expected_output(name, content):
    """The converted file's name and bytes, by the program's own rules for .med inputs."""
    tag = content[20] | (content[21] << 8)
    new_tag = make_corpus.WAV_TAG if tag == make_corpus.MED_TAG else make_corpus.MED_TAG
    return name[:-4] + ".wav", content[:20] + bytes((new_tag & 0xFF, new_tag >> 8)) + content[22:]


def verify_conversion(source, dest):
    """Fails unless dest holds exactly one correct output for every source file."""
    names = sorted(os.listdir(source))
    wanted = set()
    for name in names:
        with open(os.path.join(source, name), "rb") as stream:
            out_name, out_bytes = expected_output(name, stream.read())
        wanted.add(out_name)
        out_path = os.path.join(dest, out_name)
        if not os.path.exists(out_path):
            raise BenchError(f"{out_path} was not written")
        with open(out_path, "rb") as stream:
            if stream.read() != out_bytes:
                raise BenchError(f"{out_path} does not hold the converted bytes of {name}")
    extra = set(os.listdir(dest)) - wanted
    if extra:
        raise BenchError(f"{dest} holds files no conversion wrote: {sorted(extra)[:5]}")


def verify_copy(source, dest):
    def listing(folder):
        return sorted((entry.name, entry.stat().st_size) for entry in os.scandir(folder))
    if listing(source) != listing(dest):
        raise BenchError(f"{dest} does not hold a copy of {source}")


def summarise(values):
    median = statistics.median(values)
    return {"median": median, "min": min(values), "max": max(values),
            "spread": (max(values) - min(values)) / median if median else 0.0}


class Tool:
    """One of the two commands compared for a build: the converter and the plain copy."""

    def __init__(self, name, command_for, env=None, check=None):
        self.name = name
        self.command_for = command_for
        self.env = env
        self.check = check


def native_tools(build):
    """The plain copy first, the converter last."""
    cli = os.path.join(build, "cli", "tonequay-cli")
    if not os.access(cli, os.X_OK):
        raise BenchError(f"{cli} not found: build the native preset first")
    tools = [Tool("cp", lambda src, dst: ["cp", "-r", src + "/.", dst], check=verify_copy)]
    tools.append(Tool("tonequay-cli", lambda src, dst: [cli, "-q", src, dst],
                      check=verify_conversion))
    return tools


def windows_path(path):
    """The path as a Windows program under Wine sees it: through drive Z:, the root folder."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_environment(prefix):
    """The environment of the project's Wine scripts, with the prefix made on first use."""
    script = f'. "{os.path.join(ROOT, "cmake", "wine-lib.sh")}" && wine_prefix "{prefix}" && env -0'
    output = subprocess.run(["bash", "-c", script], check=True, capture_output=True).stdout
    env = dict(item.split("=", 1) for item in output.decode().split("\0") if "=" in item)
    env["WINEPREFIX"], env["WINELOADER"] = prefix, "/usr/lib/wine/wine64"  # the 64-bit build's
    return env


def wine_tools(build, env):
    cli = os.path.join(build, "cli", "tonequay-cli.exe")
    if not os.path.exists(cli):
        raise BenchError(f"{cli} not found: build the windows64 preset first")
    loader = env["WINELOADER"]
    # cmd's own copy runs in one process, as the converter does; /b copies the bytes as they are.
    copy = lambda src, dst: [loader, "cmd", "/c", "copy", "/b", "/y",
                             windows_path(src) + "\\*.med", windows_path(dst) + "\\"]
    return [Tool("wine copy", copy, env, verify_copy),
            Tool("wine tonequay-cli",
                 lambda src, dst: [loader, cli, "-q", windows_path(src), windows_path(dst)], env,
                 verify_conversion)]


def wait_for_quiet(limit, longest):
    """Waits, up to `longest` seconds, until the 1-minute load average is at most `limit`."""
    if limit is None:
        return
    deadline = time.monotonic() + longest
    while os.getloadavg()[0] > limit and time.monotonic() < deadline:
        time.sleep(10)


def release_output(folder):
    """Empties every file a run wrote but keeps the names. The memory that held the output goes
    back at once, for the next run to take up: on a virtual machine that hands idle memory
    back to its host, memory first touched again costs a fault in the host, and keeping every
    output would leave later runs slower than earlier ones. Deleting the files instead would
    leave the next run to allocate around freshly freed inodes, slower again on a file
    system without a journal."""
    for entry in os.scandir(folder):
        os.truncate(entry.path, 0)


def measure_shape(shape, source, work, tools, args):
    """Runs every tool round after round, alternating which goes first; returns every run."""
    runs = {tool.name: [] for tool in tools}
    shape_work = os.path.join(work, shape)
    shutil.rmtree(shape_work, ignore_errors=True)
    os.makedirs(shape_work)
    rss_file = os.path.join(shape_work, "rss")

    def run_into(tool, dest):
        os.makedirs(dest)
        warm(source)
        os.sync()
        return timed_run(tool.command_for(source, dest), tool.env, rss_file)

    # An untimed run first, so the first timed one finds memory in the state all later ones do.
    warm_up = os.path.join(shape_work, "warm-up")
    run_into(tools[0], warm_up)
    release_output(warm_up)
    for round_index in range(args.rounds):
        wait_for_quiet(args.wait_load, args.wait_max)
        order = tools if round_index % 2 == 0 else tools[::-1]
        for tool in order:
            dest = os.path.join(shape_work, f"{round_index}-{tool.name.replace(' ', '-')}")
            result = run_into(tool, dest)
            result["round"] = round_index
            runs[tool.name].append(result)
            if args.smoke or round_index == args.rounds - 1:
                tool.check(source, dest)
            release_output(dest)
    return runs


def shape_figures(stamp, runs, tools):
    copy_tool, cli_tool = tools[0], tools[-1]
    copy_times = [run["seconds"] for run in runs[copy_tool.name]]
    cli_times = [run["seconds"] for run in runs[cli_tool.name]]
    copy_summary, cli_summary = summarise(copy_times), summarise(cli_times)
    peak = max(run["peak_rss"] for run in runs[cli_tool.name])
    references = {tool.name: summarise([run["seconds"] for run in runs[tool.name]])
                  for tool in tools[1:-1]}
    return {
        "files": stamp["files"], "bytes": stamp["bytes"], "largest_file": stamp["largest_file"],
        "copy": copy_summary, "cli": cli_summary, "references": references,
        "ratio": cli_summary["median"] / copy_summary["median"],
        "ratio_to_references": {name: cli_summary["median"] / summary["median"]
                                for name, summary in references.items()},
        "paired_ratios": [c / p for c, p in zip(cli_times, copy_times)],
        "cli_files_per_second": stamp["files"] / cli_summary["median"],
        "cli_mb_per_second": stamp["bytes"] / MB / cli_summary["median"],
        "copy_mb_per_second": stamp["bytes"] / MB / copy_summary["median"],
        "cli_peak_rss": peak,
        "copy_peak_rss": max(run["peak_rss"] for run in runs[copy_tool.name]),
        "cli_cpu_seconds_median": statistics.median(r["cpu_seconds"] for r in runs[cli_tool.name]),
        "copy_cpu_seconds_median": statistics.median(
            r["cpu_seconds"] for r in runs[copy_tool.name]),
        "runs": runs,
    }


def empty_run(tools, work):
    """The converter on an empty folder: its start-up time and the memory it needs anyway."""
    folder = os.path.join(work, "empty")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rss_file = os.path.join(work, "empty-rss")
    results = [timed_run(tools[-1].command_for(folder, folder), tools[-1].env, rss_file)
               for _ in range(3)]
    if os.path.exists(rss_file):
        os.remove(rss_file)
    shutil.rmtree(folder)
    return {"seconds": statistics.median(r["seconds"] for r in results),
            "peak_rss": max(r["peak_rss"] for r in results)}


def run_build(label, tools, shapes, stamps, args):
    print(f"\n== {label}: {args.rounds} rounds per shape, load {load_text()}", flush=True)
    results = {"empty_folder": empty_run(tools, args.work), "shapes": {}}
    for index, shape in enumerate(shapes):
        stamp = stamps[shape]
        needed = 2 * stamp["bytes"] + 256 * 2**20
        if shutil.disk_usage(args.work).free < needed:
            raise BenchError(f"{args.work} has less than {needed // 2**20} MiB free for {shape}")
        load_before = os.getloadavg()
        started = time.perf_counter()
        runs = measure_shape(shape, os.path.join(args.corpus, shape), args.work, tools, args)
        figures = shape_figures(stamp, runs, tools)
        figures["cli_peak_rss_beyond_start"] = (figures["cli_peak_rss"] -
                                                results["empty_folder"]["peak_rss"])
        figures["load_before"], figures["load_after"] = load_before, os.getloadavg()
        results["shapes"][shape] = figures
        print(f"  {shape:<11} {figures['ratio']:5.2f} x copy   ({time.perf_counter() - started:.0f} s"
              f", load {load_text()})", flush=True)
        shutil.rmtree(os.path.join(args.work, shape))
        os.sync()
        # Freed inodes stay out of use for a while on some file systems; let them age before
        # the next shape creates its files.
        if index + 1 < len(shapes) and args.settle > 0:
            time.sleep(args.settle)
    return results


def load_text():
    return "/".join(f"{value:.2f}" for value in os.getloadavg())


def format_bytes(count):
    for unit, size in (("GiB", 2**30), ("MiB", 2**20), ("KiB", 2**10)):
        if abs(count) >= size:
            return f"{count / size:.1f} {unit}"
    return f"{count} B"


def print_rows(rows, left=1):
    """Prints rows of cells as columns under a rule, the first `left` left-aligned, the rest
    right-aligned."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for index, row in enumerate(rows):
        cells = [c.ljust(w) if i < left else c.rjust(w)
                 for i, (c, w) in enumerate(zip(row, widths))]
        print("  ".join(cells).rstrip())
        if index == 0:
            print("  ".join("-" * w for w in widths))


def spread_text(summary):
    return f"{summary['median']:.3f} [{summary['min']:.3f}-{summary['max']:.3f}]"


def print_table(label, results, copy_name):
    shapes = results["shapes"]
    references = list(next(iter(shapes.values()))["references"]) if shapes else []
    print(f"\n{label}: median seconds [min-max] over the rounds; ratio = converter / {copy_name}")
    rows = [["shape", "files", "MB", copy_name] + references +
            ["converter", "ratio"] + [f"/ {name}" for name in references] + ["files/s", "MB/s"]]
    for shape, f in shapes.items():
        rows.append([shape, str(f["files"]), f"{f['bytes'] / MB:.1f}", spread_text(f["copy"])] +
                    [spread_text(f["references"][name]) for name in references] +
                    [spread_text(f["cli"]), f"{f['ratio']:.2f}"] +
                    [f"{f['ratio_to_references'][name]:.2f}" for name in references] +
                    [f"{f['cli_files_per_second']:.0f}", f"{f['cli_mb_per_second']:.0f}"])
    print_rows(rows)
    empty = results["empty_folder"]
    print(f"\n{label}: peak resident memory of the process that runs the converter (on an empty "
          f"folder, its start-up: {format_bytes(empty['peak_rss'])}, {empty['seconds']:.3f} s)")
    rows = [["shape", "largest file", "converter peak", "beyond start-up", f"{copy_name} peak"]]
    for shape, f in shapes.items():
        rows.append([shape, format_bytes(f["largest_file"]), format_bytes(f["cli_peak_rss"]),
                     format_bytes(f["cli_peak_rss_beyond_start"]),
                     format_bytes(f["copy_peak_rss"])])
    print_rows(rows)


def growth_figures(results):
    """Per kind of file, per count measured: the median time per file of both tools and, where
    the kind was measured at GROWTH_BASE files too, each over its time per file there."""
    growth = {}
    for kind, kind_shapes in GROWTH_SHAPES.items():
        rows = {}
        for shape in kind_shapes:
            f = results["shapes"].get(shape)
            if f:
                rows[f["files"]] = {"shape": shape,
                                    "cli_us_per_file": f["cli"]["median"] / f["files"] * 1e6,
                                    "copy_us_per_file": f["copy"]["median"] / f["files"] * 1e6,
                                    "cli_us_per_mb": f["cli"]["median"] / (f["bytes"] / MB) * 1e6}
        base = next((row for row in rows.values()
                     if make_corpus.SHAPES[row["shape"]][0] == GROWTH_BASE), None)
        for row in rows.values() if base else ():
            for tool in ("cli", "copy"):
                row[f"{tool}_over_base"] = (row[f"{tool}_us_per_file"] /
                                            base[f"{tool}_us_per_file"])
        if rows:
            growth[kind] = rows
    return growth


def print_growth(label, growth, copy_name):
    if not growth:
        return
    print(f"\n{label}: median time per file as the folder grows, files of one kind per group; "
          f"x {GROWTH_BASE:,}: over the time per file at {GROWTH_BASE:,} files of that kind")
    rows = [["kind", "files", "converter us/file", f"{copy_name} us/file", "converter us/MB",
             f"converter x {GROWTH_BASE:,}", f"{copy_name} x {GROWTH_BASE:,}"]]
    for kind, kind_rows in growth.items():
        for count, row in sorted(kind_rows.items()):
            rows.append([kind, f"{count:,}", f"{row['cli_us_per_file']:.1f}",
                         f"{row['copy_us_per_file']:.1f}", f"{row['cli_us_per_mb']:.1f}"] +
                        [f"{row[key]:.2f}" if key in row else "" for key in
                         ("cli_over_base", "copy_over_base")])
    print_rows(rows)


def prepare_corpus(args, shapes):
    stamps = {}
    for shape in shapes:
        folder = os.path.join(args.corpus, shape)
        fresh = args.smoke or not os.path.isdir(folder)
        if args.smoke:
            shutil.rmtree(folder, ignore_errors=True)
        stamps[shape] = make_corpus.write_shape(args.corpus, shape, args.seed, args.smoke)
        if fresh:
            for name in sorted(os.listdir(folder)):
                reason = make_corpus.check_file(os.path.join(folder, name))
                if reason:
                    raise BenchError(f"generated {name} is malformed: {reason}")
        if args.smoke:
            # The same seed must give the same bytes: a second generation hashes alike.
            again = make_corpus.corpus_digest(shape, args.seed, args.smoke)
            if again != stamps[shape]["sha256"]:
                raise BenchError(f"{shape}: a second generation gave other bytes")
    return stamps


def machine_facts():
    def first_line(command):
        try:
            return subprocess.run(command, capture_output=True, text=True).stdout.split("\n")[0]
        except OSError:
            return ""
    return {"cores": os.cpu_count(), "kernel": platform.release(),
            "python": platform.python_version(), "cp": first_line(["cp", "--version"]),
            "wine": first_line(["/usr/lib/wine/wine64", "--version"]),
            "file_system": first_line(["findmnt", "-n", "-o", "FSTYPE", "-T", ROOT])}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"),
                        help="native build folder holding cli/tonequay-cli (default build/native)")
    parser.add_argument("--no-native", action="store_true", help="skip the native figures")
    parser.add_argument("--wine-build",
                        help="windows64 build folder: also time cli/tonequay-cli.exe under Wine")
    parser.add_argument("--shapes",
                        default="count-100,count-1000,small,game,large,tiny-1000,tiny-100000")
    # At Wine's few milliseconds a file, 100,000 files take some ten minutes a run.
    parser.add_argument("--wine-shapes", help="shapes for Wine (default: those of --shapes but "
                        "tiny-100000)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--corpus", default=os.path.join(ROOT, "build", "bench-corpus"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-work"),
                        help="scratch folder for the outputs, on the file system to measure")
    parser.add_argument("--json", default=os.path.join(ROOT, "build", "bench-results.json"))
    parser.add_argument("--seed", type=int, default=make_corpus.DEFAULT_SEED)
    parser.add_argument("--settle", type=float, default=65,
                        help="seconds to wait between shapes after deleting outputs")
    parser.add_argument("--wait-load", type=float, metavar="LOAD",
                        help="before each round, wait until the 1-minute load is at most LOAD")
    parser.add_argument("--wait-max", type=float, default=900,
                        help="longest wait for --wait-load, in seconds (default 900)")
    parser.add_argument("--smoke", action="store_true",
                        help="tiny corpus, one round, every output checked: proves it all runs")
    args = parser.parse_args()
    adopt_orphans()
    if args.smoke:
        args.rounds = min(args.rounds, 1)
        args.settle = 0
        args.wait_load = None
    for name in ("build", "corpus", "work", "json"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if args.wine_build:
        args.wine_build = os.path.abspath(args.wine_build)

    shapes = args.shapes.split(",")
    wine_shapes = args.wine_shapes.split(",") if args.wine_shapes else \
        [shape for shape in shapes if shape != "tiny-100000"]
    for shape in set(shapes + wine_shapes):
        if shape not in make_corpus.SHAPES:
            parser.error(f"unknown shape {shape!r}")
    os.makedirs(args.work, exist_ok=True)

    report = {"machine": machine_facts(), "load_at_start": os.getloadavg(),
              "rounds": args.rounds, "wait_load": args.wait_load, "cache": "warm: source read before every timed run",
              "smoke": args.smoke, "seed": args.seed}
    print(f"load at start {load_text()} on {os.cpu_count()} cores")
    try:
        wanted = [s for s in make_corpus.SHAPES if s in shapes + (wine_shapes if args.wine_build
                                                                  else [])]
        stamps = prepare_corpus(args, wanted)
        report["corpus"] = stamps
        if not args.no_native:
            native = run_build("native", native_tools(args.build), shapes, stamps, args)
            native["growth"] = growth_figures(native)
            report["native"] = native
        if args.wine_build:
            prefix = os.path.join(args.wine_build, "wineprefix")
            env = wine_environment(prefix)
            # One server for the whole run, so no timed command pays for starting it; the one a
            # suite before left behind ends by itself within seconds, and -p refuses to start
            # beside it.
            subprocess.run([env["WINESERVER"], "-w"], env=env, timeout=60)
            subprocess.run([env["WINESERVER"], "-p"], env=env, check=True)
            try:
                tools = wine_tools(args.wine_build, env)
                for tool in tools:  # loads Wine's own files into the page cache
                    empty = os.path.join(args.work, "wine-warm-up")
                    os.makedirs(empty, exist_ok=True)
                    subprocess.run(tool.command_for(empty, empty), env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    shutil.rmtree(empty)
                wine = run_build("wine", tools, wine_shapes, stamps, args)
                wine["growth"] = growth_figures(wine)
                report["wine"] = wine
            finally:
                subprocess.run([env["WINESERVER"], "-k"], env=env)
    except BenchError as error:
        print(f"run_bench: {error}", file=sys.stderr)
        return 1
    finally:
        report["load_at_end"] = os.getloadavg()
        os.makedirs(os.path.dirname(args.json), exist_ok=True)
        with open(args.json, "w", encoding="utf-8") as stream:
            json.dump(report, stream, indent=1)

    if "native" in report:
        print_table("Native", report["native"], "cp -r")
        print_growth("Native", report["native"]["growth"], "cp -r")
    if "wine" in report:
        print_table("Wine (64-bit build)", report["wine"], "copy")
        print_growth("Wine", report["wine"]["growth"], "copy")
    start_load, end_load = (" / ".join(f"{v:.2f}" for v in report[key])
                            for key in ("load_at_start", "load_at_end"))
    print(f"\nload average (1/5/15 min) at start {start_load}, at end {end_load}")
    print(f"figures written to {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
