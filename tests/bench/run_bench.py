#!/usr/bin/env python3
"""Benchmarks of q72display: the interpreter natively, and under Wine the
painters, the port reads, the line rate, the capacity and the idle load of
the program; then the native program's start, line rate, capacity, idle load
and memory on the same display (native_bench.py), and its browser panel's
latency, traffic, CPU and capacity with viewers attached, and the memory
and connect time of its history (web_bench.py).

    python3 tests/bench/run_bench.py --native-build DIR [--win-build DIR]
                                     [--runs N] [--paints N] [--parts LIST] [--out FILE]

Needs the native build (bench_interpreter, q72render, q72modem, q72display) and the cross
build (q72display.exe, q72probe.exe and the q72bench_*.exe of tests/bench/win),
but for the parts interpreter and history, which need no Wine.
Runs in Debian's own Python, for python3-websockets and Selenium (the
browser panel's viewers and headless Chromium); another python3 hands over.
Under Wine everything runs in one private Xvfb and Wine prefix started by the
end-to-end harness, and stops with it. Writes the report to --out (Markdown)
and prints it; exits 1 when a measurement could not be made (the painters
differ, a byte came out of order, a final screen never matched q72render's).
"""

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SYSTEM_PYTHON = "/usr/bin/python3"
if __name__ == "__main__" and os.path.exists(SYSTEM_PYTHON) and \
        os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON):
    os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.dont_write_bytecode = True  # keep the source tree clean

import harness  # noqa: E402
import lcd  # noqa: E402
import native_bench  # noqa: E402
import report  # noqa: E402
import web_bench  # noqa: E402
import workload  # noqa: E402

LINE_SECONDS = 10         # length of the paced stream
CAPACITY_BYTES = 38400    # the unpaced stream: 20 s of line time
READ_BYTES = 48000        # the read benchmark: 25 s of line time
IDLE_SECONDS = 10
SCALES = (1, 2, 3, 4)
LCD_ROWS = 8
BLK_ON_GRN = 1
FIRST_PORT = 30           # COM31..COM34 for the scales
READ_PORT = 39
# The interpreter's cases take half a second each: enough repetitions that
# their medians hold still on a shared machine.
INTERPRETER_REPETITIONS = 15


class BenchError(Exception):
    """A measurement that could not be made."""


def machine():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    compiler = subprocess.run(["x86_64-w64-mingw32-g++-posix", "--version"], capture_output=True,
                              text=True).stdout.split("\n")[0]
    return {"cpu": model, "nproc": len(os.sched_getaffinity(0)), "wine": wine, "compiler": compiler,
            "kernel": platform.release(), "os": os_name()}


def os_name():
    try:
        with open("/etc/os-release") as f:
            fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        return fields.get("PRETTY_NAME", "").strip('"')
    except OSError:
        return platform.system()


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def bench_interpreter(native_build, repetitions):
    """Median bytes per second of each Google Benchmark case."""
    exe = os.path.join(native_build, "tests", "bench", "bench_interpreter")
    out = subprocess.run([exe, "--benchmark_repetitions=%d" % repetitions,
                          "--benchmark_enable_random_interleaving=true",
                          "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    found = {}
    for case in json.loads(out)["benchmarks"]:
        if case.get("aggregate_name") == "median":
            found[case["run_name"]] = case["bytes_per_second"]
    return found


def parse_fields(line):
    words = line.split()
    return words[0], {k: float(v) for k, v in (w.split("=", 1) for w in words[1:] if "=" in w)}


def bench_paint(env, win_build, runs, paints):
    """q72bench_paint.exe: identity check, then its 'paint' and 'redraw' lines."""
    exe = os.path.join(win_build, "tests", "bench", "win", "q72bench_paint.exe")
    result = subprocess.run(["wine", exe, str(runs), str(paints)], env=env.wine_env,
                            capture_output=True, text=True, timeout=1800)
    lines = result.stdout.replace("\r", "").splitlines()
    identity = [line for line in lines if line.startswith(("identity", "DIFFERENT"))]
    if result.returncode != 0:
        raise BenchError("q72bench_paint failed (exit %d):\n%s\n%s"
                         % (result.returncode, "\n".join(lines), result.stderr[-2000:]))
    figures = {"paint": {}, "redraw": {}}
    for line in lines:
        if line.split(" ", 1)[0] in figures:
            kind, fields = parse_fields(line)
            figures[kind][int(fields["scale"])] = fields
    return identity, figures


class Watcher:
    """q72bench_watch.exe: answers once a window shows a picture."""

    def __init__(self, env, win_build):
        exe = os.path.join(win_build, "tests", "bench", "win", "q72bench_watch.exe")
        self.process = subprocess.Popen(["wine", exe], env=env.wine_env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=env.log)

    def wait(self, hwnd, marker, colour, ppm, timeout):
        """Blocks until the window matches; returns the time of the answer."""
        command = "wait %d %d %d %02X%02X%02X %s %d\n" % (
            (hwnd,) + marker + colour + (harness.windows_path(ppm), timeout * 1000))
        self.process.stdin.write(command.encode())
        self.process.stdin.flush()
        answer = self.process.stdout.readline().decode().strip()
        seen = time.monotonic()
        if not answer.startswith("ok"):
            raise BenchError("final screen not shown: " + (answer or "the watcher ended"))
        return seen

    def stop(self):
        harness.end_by_stdin(self.process, 10)


class Session:
    """One run of the program at one scale, with the link open on a fresh
    null-modem pair; every stream played to it is kept, so the expected
    screen is q72render's picture of all of them after the start-up screen."""

    def __init__(self, env, watcher, scale, port):
        self.env = env
        self.watcher = watcher
        self.scale = scale
        self.pair = env.serial(port)
        self.app = env.launch(lcd.config(com_port=port, blk_on_grn=BLK_ON_GRN, scale=scale))
        setup = self.app.open_setup()
        setup.click(harness.LINK)
        setup.wait_text(harness.LINK, "Close I/F")
        setup.post(harness.WM_CLOSE)  # the link stays open
        setup.wait_closed()
        self.sent = b""
        self.shown = env.render_stream(b"", scale, BLK_ON_GRN)
        self.count = 0
        # The start-up screen as q72render draws it; this also readies the
        # watcher's drawing calls before anything is timed.
        ppm = env.scratch("bench-startup.ppm")
        self.shown.save_ppm(ppm)
        watcher.wait(self.app.hwnd, *self._marker(self.shown, None, 1, LCD_ROWS), ppm, 10)

    def _marker(self, final, before, first_row, last_row):
        """A pixel of text rows first_row..last_row lit in `final` and not in
        `before` (the screen shown until then, None for any), so that it
        shows only once `final` is painted."""
        lit = tuple(lcd.scheme(BLK_ON_GRN)[0])
        band = 8 * self.scale
        for y in range((first_row - 1) * band, last_row * band):
            for x in range(final.width):
                if final.pixel(x, y) == lit and (before is None or before.pixel(x, y) != lit):
                    return (x, y), lit
        raise BenchError("the final screen has no new pixel to watch")

    def play(self, size, fast, timeout):
        """Plays a worst-case stream of about `size` bytes through q72modem.
        Returns (bytes, modem start, modem exit, final screen seen)."""
        self.count += 1
        data = workload.stream(size, "END %d X%d %s" % (self.count, self.scale,
                                                         "FAST" if fast else "PACED"))
        path = self.env.scratch("bench-stream.bin")
        with open(path, "wb") as f:
            f.write(data)
        final = self.env.render_stream(self.sent + data, self.scale, BLK_ON_GRN)
        marker, colour = self._marker(final, self.shown, workload.FINAL_ROW, workload.FINAL_ROW)
        ppm = self.env.scratch("bench-final.ppm")
        final.save_ppm(ppm)
        started = time.monotonic()
        modem = self.env.modem(self.pair, [path], ["--fast"] if fast else [])
        try:
            status = modem.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise BenchError("q72modem still sending after %d s" % timeout)
        ended = time.monotonic()
        if status != 0:
            raise BenchError("q72modem ended with status %d" % status)
        seen = self.watcher.wait(self.app.hwnd, marker, colour, ppm, timeout)
        self.sent += data
        self.shown = final
        return len(data), started, ended, seen


def line_rate_run(session):
    size, started, ended, seen = session.play(LINE_SECONDS * workload.LINE_RATE, False, 120)
    return {"lag_ms": (seen - ended) * 1000, "sending_s": ended - started, "bytes": size}


def capacity_run(session):
    size, started, _, seen = session.play(CAPACITY_BYTES, True, 300)
    return {"rate": size / (seen - started), "bytes": size, "seconds": seen - started}


def bench_read(env, win_build, runs):
    """q72bench_read.exe: bytes per second read from the port by the receive
    thread's reads of what is waiting and by one-byte reads, each fed as fast
    as the line takes them by q72modem."""
    exe = os.path.join(win_build, "tests", "bench", "win", "q72bench_read.exe")
    path = env.scratch("bench-read.bin")
    with open(path, "wb") as f:
        f.write(bytes(k % 251 for k in range(READ_BYTES)))
    rates = {"waiting": [], "one-byte": []}
    for _ in range(runs):
        for mode in ("waiting", "one-byte"):
            pair = env.serial(READ_PORT)
            reader = subprocess.Popen(["wine", exe, str(READ_PORT), mode, str(READ_BYTES)],
                                      env=env.wine_env, stdout=subprocess.PIPE, stderr=env.log)
            ready = reader.stdout.readline().decode().strip()
            if ready != "ready":
                reader.kill()
                reader.wait()
                raise BenchError("q72bench_read could not open its port")
            env.modem(pair, [path], ["--fast"])
            out = reader.communicate(timeout=600)[0].decode()
            env.end_test()
            if reader.returncode != 0:
                raise BenchError("q72bench_read %s: %s" % (mode, out.strip()))
            kind, fields = parse_fields(out.strip().splitlines()[-1])
            rates[mode].append(fields["rate"])
    rates["bytes"] = READ_BYTES
    return rates


def process_ticks(pid):
    """User plus system CPU time of a process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def processes_of(env, name):
    """Linux processes of this Wine prefix whose command line mentions `name`."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode(errors="replace")
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if name in cmdline and ("WINEPREFIX=" + env.prefix).encode() in environ:
            found.append(int(pid))
    return found


def idle_run(env, session):
    """CPU over IDLE_SECONDS, in % of one core, with the link open and the
    modem listening but silent: the program, the prefix's wineserver, and the
    prefix's other processes (Wine's services, the probe, the watcher)."""
    program = processes_of(env, harness.EXE_NAME)
    server = processes_of(env, "wineserver")
    if len(program) != 1 or len(server) != 1:
        raise BenchError("cannot tell the program's and the server's processes apart: %s %s"
                         % (program, server))
    modem = env.modem(session.pair)
    time.sleep(1)
    groups = {"program": program, "server": server,
              "other": [pid for pid in processes_of(env, "") if pid not in program + server]}

    def ticks():
        total = {}
        for name, pids in groups.items():
            total[name] = 0
            for pid in pids:
                try:
                    total[name] += process_ticks(pid)
                except OSError:
                    pass  # ended meanwhile
        return total
    before = ticks()
    started = time.monotonic()
    time.sleep(IDLE_SECONDS)
    after = ticks()
    seconds = time.monotonic() - started
    modem.kill()
    modem.wait()
    tick = os.sysconf("SC_CLK_TCK")
    shares = {name: (after[name] - before[name]) / tick / seconds * 100 for name in groups}
    shares["rss_kb"], shares["peak_kb"] = native_bench.memory_kb(program[0])
    return shares


PARTS = ("interpreter", "paint", "read", "line", "capacity", "idle", "native", "web", "history")


def display_parts(args, parts, results):
    """The parts that run in the Wine prefix and its Xvfb; False when a
    measurement could not be made."""
    env = harness.Env(args.native_build, args.win_build)
    watcher = None
    try:
        if "paint" in parts:
            print("bench: painters", flush=True)
            results["identity"], results["paint"] = bench_paint(
                env, args.win_build, 2 * args.runs + 1, args.paints)
            results["load"].append(load_average())
        if "read" in parts:
            print("bench: port reads", flush=True)
            results["read"] = bench_read(env, args.win_build, args.runs)
            results["load"].append(load_average())
        watcher = Watcher(env, args.win_build)
        for scale in SCALES:
            if not {"line", "capacity"} & set(parts) and (scale != SCALES[-1] or "idle" not in parts):
                continue
            session = Session(env, watcher, scale, FIRST_PORT + scale)
            if "line" in parts:
                print("bench: line rate at %dx" % scale, flush=True)
                results.setdefault("line", {})[scale] = [
                    line_rate_run(session) for _ in range(args.runs)]
            if "capacity" in parts:
                print("bench: capacity at %dx" % scale, flush=True)
                results.setdefault("capacity", {})[scale] = [
                    capacity_run(session) for _ in range(args.runs)]
            if "idle" in parts and scale == SCALES[-1]:
                print("bench: idle at %dx" % scale, flush=True)
                results["idle"] = [idle_run(env, session) for _ in range(args.runs)]
            env.end_test()
            results["load"].append(load_average())
        if "native" in parts:
            results["native"] = native_bench.run(env, args.native_build, args.runs, SCALES)
            results["load"].append(load_average())
        if "web" in parts:
            results["web"] = web_bench.run(env, args.native_build, args.runs)
            results["load"].append(load_average())
    except BenchError as error:
        print("bench: FAILED: %s" % error)
        return False
    finally:
        if watcher:
            watcher.stop()
        env.close()
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--native-build", required=True)
    parser.add_argument("--win-build", help="needed by every part but interpreter and history")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs per figure (paint: twice as many, plus one); medians are reported")
    parser.add_argument("--paints", type=int, default=100, help="calls per paint run")
    parser.add_argument("--parts", default=",".join(PARTS),
                        help="comma-separated subset of: " + ", ".join(PARTS))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "performance.md"))
    parser.add_argument("--command", default="bash scripts/bench.sh",
                        help="the command named in the report")
    args = parser.parse_args()
    parts = args.parts.split(",")
    if not parts or any(part not in PARTS for part in parts):
        parser.error("--parts takes names from: " + ", ".join(PARTS))

    results = {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
               "machine": machine(), "command": args.command, "runs": args.runs,
               "paints": args.paints, "load": [load_average()]}
    if "interpreter" in parts:
        print("bench: interpreter", flush=True)
        results["interpreter_repetitions"] = max(args.runs, INTERPRETER_REPETITIONS)
        results["interpreter"] = bench_interpreter(args.native_build,
                                                   results["interpreter_repetitions"])
    if "history" in parts:
        try:
            results["history"] = web_bench.history(args.native_build, args.runs)
        except BenchError as error:
            print("bench: FAILED: %s" % error)
            return 1
        results["load"].append(load_average())
    if set(parts) - {"interpreter", "history"}:
        if not args.win_build:
            parser.error("--win-build is needed for: " + ", ".join(parts))
        if not display_parts(args, parts, results):
            return 1

    text = report.markdown(results)
    with open(args.out, "w") as f:
        f.write(text)
    print(text)
    return 0


if __name__ == "__main__":
    # As the module run_bench, the one native_bench imports, not as a second copy.
    import run_bench
    sys.exit(run_bench.main())
