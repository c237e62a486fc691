"""Benchmarks of the browser panel (q72display --serve) on loopback, on the
same Xvfb as the other native figures: the latency from the last byte on
the serial line to the frame in a page's canvas (headless Chromium), the
bytes a viewer is sent at line rate, the program's CPU with 0 and 8 viewers
at line rate (with its window, and with --headless), and the window's
capacity with 8 viewers attached; and the history of the scrolling area
with a page attached: the program's memory over 200,000 lines, and the time
a page that connects takes to show the lines kept.

Viewers are python3-websockets clients, all in one process of their own
(`python3 web_bench.py viewers URL ORIGIN N`), which read everything and
count it; the latency's page is a Chromium tab (tests/native/web_harness.py).
"""

import asyncio
import json
import os
import re
import subprocess
import sys
import time
import tty

import workload

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "native"))

RUN_SECONDS = 15       # of the worst-case stream at line rate, per CPU and latency run
VIEWERS = 8            # the viewers of the goals
SCALE = 4              # the window's and the page's, the most pixels to paint
FIRST_PORT = 51        # COM51.. for the sessions
WARM_UP_SECONDS = 1    # probes left out of the latency, while the page settles
URL = re.compile(r"the panel is at (http)://([^/]+)/\?token=(\S+)")
PROBE_ROW = 8          # no command of the worst-case stream but its last writes here
PROBE_BAND = 1 << (PROBE_ROW - 1)

# After every frame the page draws with row 8 in it: when (ms since the
# epoch, the page's clock) and when the next animation frame began, that is
# when it reached the screen.
LISTEN = """
window.benchFrames = [];
document.addEventListener("q72frame", event => {
  if (!(event.detail.bands & arguments[0])) return;
  const entry = [event.detail.at, 0];
  window.benchFrames.push(entry);
  requestAnimationFrame(() => { entry[1] = performance.timeOrigin + performance.now(); });
});
"""


def probe(k):
    """A row text on row 8 that differs from the one before only in its last
    character: the row's pixels change only once that last byte is in, so
    the first frame with row 8 in it after the byte was written shows it."""
    return bytes([0x8C, PROBE_ROW]) + b"LATENCY PROBE ......" + bytes([0x41 + k % 26])


def latency_stream(seconds):
    """The worst-case stream with a probe after each block, about `seconds`
    long at line rate; returns it and the offset just past each probe."""
    data = bytearray(workload.RESYNC + bytes([0x8C, PROBE_ROW]) + b"LATENCY PROBE ......-")
    ends = []
    for k in range(seconds * workload.LINE_RATE // (workload.BLOCK_SIZE + len(probe(0)))):
        data += workload.block(k) + probe(k)
        ends.append(len(data))
    return bytes(data), ends


class Line:
    """The modem's end of a serial pair, written here at 1920 bytes a second
    the way q72modem paces (each byte once its last bit would have left a
    19200 baud line, one write per byte due), so that the time each byte
    left is known."""

    def __init__(self, pair):
        self.fd = os.open(pair.peer, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)

    def play(self, data, marks):
        """Writes `data`; returns, for each offset in `marks` (ascending),
        the wall-clock time just before the write that took the bytes up to
        it, the clock the page's frames are stamped with."""
        times = []
        start = time.monotonic()
        sent = 0
        while sent < len(data):
            due = int((time.monotonic() - start) * workload.LINE_RATE) - sent
            if due <= 0:
                time.sleep(max(0.0, start + (sent + 1) / workload.LINE_RATE - time.monotonic()))
                continue
            before = time.time()
            sent += os.write(self.fd, data[sent:sent + due])
            while len(times) < len(marks) and marks[len(times)] <= sent:
                times.append(before)
        return times

    def close(self):
        os.close(self.fd)


class Viewers:
    """N WebSocket viewers of the panel in a process of their own."""

    def __init__(self, env, served, count):
        self.process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "viewers", served.ws_url, served.origin,
             str(count)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=env.log)
        env.processes.append(self.process)
        if self.process.stdout.readline().decode().strip() != "ready":
            from run_bench import BenchError
            raise BenchError("%d viewers could not connect to the panel" % count)

    def counts(self):
        """(monotonic time, bytes received by each viewer, messages of each)."""
        answer = self._ask()
        return answer["at"], answer["bytes"], answer["messages"]

    def arrivals(self):
        """When the first viewer received each update with row 8 in it
        (wall clock, s)."""
        return self._ask()["arrivals"]

    def _ask(self):
        self.process.stdin.write(b"count\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def close(self):
        import harness
        harness.end_by_stdin(self.process, 10)


def frame_header(size):
    """Bytes of a server's WebSocket frame header (not masked) for a payload."""
    return 2 if size < 126 else 4 if size < 65536 else 10


def viewers_main(url, origin, count):
    """The viewers process: connects `count` clients as the page would, says
    "ready" once each has had its first update, answers each line on
    standard input with the counts so far, and ends at its end."""
    import websockets

    async def main():
        received = [[0, 0] for _ in range(count)]
        arrivals = []
        first = [asyncio.get_running_loop().create_future() for _ in range(count)]
        sockets = []

        async def viewer(k):
            ws = await websockets.connect(url, origin=origin, compression=None, max_size=None)
            sockets.append(ws)
            async for message in ws:
                size = len(message.encode() if isinstance(message, str) else message)
                if k == 0 and isinstance(message, bytes) and message[0] & PROBE_BAND:
                    arrivals.append(time.time())
                received[k][0] += size + frame_header(size)
                received[k][1] += 1
                if isinstance(message, bytes) and not first[k].done():
                    first[k].set_result(None)

        tasks = [asyncio.create_task(viewer(k)) for k in range(count)]
        try:
            await asyncio.wait_for(asyncio.gather(*first), 20)
        except Exception as error:
            print("failed: %r" % error, flush=True)
            return 1
        print("ready", flush=True)
        loop = asyncio.get_running_loop()
        while await loop.run_in_executor(None, sys.stdin.readline):
            print(json.dumps({"at": time.monotonic(), "bytes": [r[0] for r in received],
                              "messages": [r[1] for r in received], "arrivals": arrivals}),
                  flush=True)
        await asyncio.gather(*(ws.close() for ws in sockets), return_exceptions=True)
        for task in tasks:
            task.cancel()
        return 0

    return asyncio.run(main())


class Served:
    """Where the program serves its panel, read from its standard output."""

    def __init__(self, app):
        import harness
        found = harness.wait_until(lambda: self._address(app), 10, "the panel's address")
        self.scheme, self.host, self.token = found.groups()
        self.url = "http://%s/?token=%s" % (self.host, self.token)
        self.ws_url = "ws://%s/ws?token=%s" % (self.host, self.token)
        self.origin = "http://" + self.host

    @staticmethod
    def _address(app):
        from run_bench import BenchError
        if app.process.poll() is not None:
            raise BenchError("the program ended (exit %s)" % app.process.returncode)
        with open(app.stdout_path) as f:
            return URL.search(f.read())


def serve_options():
    return ["--serve", "127.0.0.1:0", "--max-clients", str(VIEWERS + 1)]


class WindowSession:
    """The program with its window at SCALE, serving the panel; a
    NativeSession, so that its capacity is measured as the other figures'."""

    def __init__(self, env, screen, program, port):
        from native_bench import NativeSession
        self.session = NativeSession(env, screen, program, SCALE, port, serve_options())
        self.app, self.pair = self.session.app, self.session.pair
        self.served = Served(self.app)

    def played(self, data):
        """Bytes sent by other means than the session's own streams: the
        final screens expected later, and the marker pixels, count them."""
        self.session.sent += data
        self.session.shown = self.session.env.render_stream(self.session.sent, SCALE, 1)


class HeadlessSession:
    """The program with --headless (no window, no display), serving the panel."""

    def __init__(self, env, program, port):
        import harness
        from native_bench import Program
        self.pair = env.serial(port)
        self.app = Program(env, program, ["--headless", "--port", self.pair.device, "--scale",
                                          str(SCALE), "--scheme", "green"] + serve_options())
        self.served = Served(self.app)
        harness.wait_until(self.pair.holders, 5, "the headless program to open its port")
        time.sleep(0.6)  # the port settles, then what came so far is dropped

    def played(self, data):
        pass


def stream_file(env, data):
    path = env.scratch("web-stream.bin")
    with open(path, "wb") as f:
        f.write(data)
    return path


def line_run(env, session, viewers):
    """The worst-case stream played by q72modem at line rate for
    RUN_SECONDS to the program with `viewers` viewers attached: the
    program's CPU (% of one core, over the whole stream) and each viewer's
    bytes and messages a second."""
    from run_bench import BenchError, process_ticks
    attached = Viewers(env, session.served, viewers) if viewers else None
    try:
        data = workload.stream(RUN_SECONDS * workload.LINE_RATE, "CPU %d" % viewers)
        pid = session.app.process.pid
        before = process_ticks(pid)
        counted = attached.counts() if attached else None
        started = time.monotonic()
        modem = env.modem(session.pair, [stream_file(env, data)])
        if modem.wait(timeout=RUN_SECONDS * 4) != 0:
            raise BenchError("q72modem ended with status %d" % modem.returncode)
        seconds = time.monotonic() - started
        ticks = process_ticks(pid) - before
        result = {"cpu": ticks / os.sysconf("SC_CLK_TCK") / seconds * 100, "viewers": viewers,
                  "seconds": seconds}
        if attached:
            at, sent, messages = attached.counts()
            span = at - counted[0]
            result["bytes_per_s"] = [(b - a) / span for a, b in zip(counted[1], sent)]
            result["messages_per_s"] = [(b - a) / span for a, b in zip(counted[2], messages)]
    finally:
        if attached:
            attached.close()
    session.played(data)
    return result


def clock_offset(page, tries=5):
    """The page's clock minus this machine's wall clock, ms, and how closely
    that is known (half the time the question took), from the quickest of
    a few questions."""
    found = []
    for _ in range(tries):
        before = time.time()
        page_now = page.js("return performance.timeOrigin + performance.now()")
        after = time.time()
        found.append(((after - before) / 2 * 1000, page_now - (before + after) / 2 * 1000))
    within, offset = min(found)
    return offset, within


def latency_run(env, session, python_viewers):
    """A Chromium tab and `python_viewers` more viewers; the worst-case
    stream with a probe on row 8 after each block, written here at line
    rate. A probe's latency: from just before the write of its last byte
    to the page's first frame with row 8 in it after that."""
    from run_bench import BenchError, process_ticks
    from web_harness import Browser
    import harness
    page = Browser(env).open(session.served.url)
    harness.wait_until(lambda: page.js("return q72panel.connected && q72panel.frames > 0"), 20,
                       "the page's first frame")
    attached = Viewers(env, session.served, python_viewers) if python_viewers else None
    line = Line(session.pair)
    try:
        data, ends = latency_stream(RUN_SECONDS)
        offset = clock_offset(page)
        page.js(LISTEN, PROBE_BAND)
        time.sleep(1)  # the viewers just connected have had their first updates
        pid = session.app.process.pid
        before = process_ticks(pid)
        started = time.monotonic()
        written = line.play(data, ends)
        seconds = time.monotonic() - started
        ticks = process_ticks(pid) - before
        time.sleep(0.5)  # the last probe's frame
        frames = page.js("return window.benchFrames")
        arrivals = attached.arrivals() if attached else []
    finally:
        line.close()
        if attached:
            attached.close()
        page.kill()
    session.played(data)
    drawn, shown, received, missed = [], [], [], 0
    first = written[0] + WARM_UP_SECONDS
    for k, at in enumerate(written):
        until = written[k + 1] if k + 1 < len(written) else float("inf")
        match = [f for f in frames if at * 1000 <= f[0] < until * 1000]
        if at < first:
            continue
        if not match:
            missed += 1
            continue
        drawn.append(match[0][0] - at * 1000)
        if match[0][1]:
            shown.append(match[0][1] - at * 1000)
        came = [a for a in arrivals if at <= a < until]
        if came:
            received.append((came[0] - at) * 1000)
    if missed > len(written) // 10:
        raise BenchError("%d of %d probes never reached the page" % (missed, len(written)))
    return {"drawn_ms": drawn, "shown_ms": shown, "received_ms": received, "missed": missed, "probes": len(drawn) + missed,
            "clock": offset, "cpu": ticks / os.sysconf("SC_CLK_TCK") / seconds * 100,
            "viewers": python_viewers + 1}


def capacity_with(env, session, viewers):
    """The capacity run of the other figures, with `viewers` viewers attached."""
    from run_bench import capacity_run
    attached = Viewers(env, session.served, viewers) if viewers else None
    try:
        result = capacity_run(session.session)
    finally:
        if attached:
            attached.close()
    result["viewers"] = viewers
    return result


def run(env, native_build, runs):
    """The browser panel's figures; each run makes its measurements with and
    without viewers one after the other, so that they compare."""
    from native_bench import Screen
    from run_bench import BenchError
    program = os.path.join(native_build, "q72display")
    if not os.path.isfile(program):
        raise BenchError("missing build output " + program)
    screen = Screen(env.display)
    results = {"window": [], "headless": [], "latency": [], "capacity": [], "scale": SCALE,
               "seconds": RUN_SECONDS, "viewers": VIEWERS, "warm_up": WARM_UP_SECONDS}
    try:
        for k in range(runs):
            print("bench: browser panel, run %d of %d" % (k + 1, runs), flush=True)
            session = WindowSession(env, screen, program, FIRST_PORT)
            try:
                for viewers in (0, VIEWERS):
                    results["window"].append(line_run(env, session, viewers))
                results["latency"].append(latency_run(env, session, VIEWERS - 1))
                for viewers in (0, VIEWERS):
                    results["capacity"].append(capacity_with(env, session, viewers))
            finally:
                session.app.stop()
                env.end_test()
            session = HeadlessSession(env, program, FIRST_PORT + 1)
            try:
                for viewers in (0, VIEWERS):
                    results["headless"].append(line_run(env, session, viewers))
            finally:
                session.app.stop()
                env.end_test()
    finally:
        screen.close()
    return results


HISTORY_LINES = 200000  # through the program with a page attached
KEPT_LINES = 10000      # in the history when a page connects
HISTORY_PORT = 61

# Injected into every page before its own script: when (ms after the page's
# navigation began) its WebSocket opened, and when the history list first
# held `window.benchWanted` lines, and the animation frame after, when they
# reached the screen.
WATCH_HISTORY = """
window.benchHistory = {};
window.WebSocket = class extends WebSocket {
  constructor(...args) {
    super(...args);
    this.addEventListener("open", () => { window.benchHistory.open = performance.now(); });
  }
};
addEventListener("DOMContentLoaded", () => {
  const list = document.getElementById("history");
  new MutationObserver((_, observer) => {
    if (list.childElementCount < window.benchWanted) return;
    observer.disconnect();
    window.benchHistory.added = performance.now();
    requestAnimationFrame(() => { window.benchHistory.shown = performance.now(); });
  }).observe(list, {childList: true});
});
"""


def history_line(k):
    return "HISTORY LINE %07d" % k


def history_stream(first, count):
    """Lines `first`.. written on row 4 and scrolled up rows 2-4 after each:
    each leaves row 2, and enters the history, two lines later."""
    return b"".join(bytes([0x8C, 4]) + history_line(k).ljust(21).encode() + b"\x9c"
                    for k in range(first, first + count))


def play_fast(env, pair, data, name):
    from run_bench import BenchError
    path = env.scratch(name)
    with open(path, "wb") as f:
        f.write(data)
    started = time.monotonic()
    modem = env.modem(pair, [path], ["--fast"])
    if modem.wait(timeout=600) != 0:
        raise BenchError("q72modem ended with status %d" % modem.returncode)
    return time.monotonic() - started


def page_history(page):
    """(lines in the page's list, its first line, its last line)."""
    return page.js("const list = document.getElementById('history');"
                   "return [list.childElementCount, list.firstElementChild?.textContent,"
                   " list.lastElementChild?.textContent]")


def wait_history(page, entered, timeout=60):
    """Until the page shows the last of `entered` lines (0..entered-1)."""
    import harness
    harness.wait_until(lambda: page_history(page)[2] == history_line(entered - 1), timeout,
                       "line %d in the page (it shows %r)" % (entered - 1, page_history(page)))


def open_watched(env, url, wanted):
    """A page at `url` that notes when its history first held `wanted` lines."""
    from web_harness import Browser
    page = Browser(env)
    page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {
        "source": "window.benchWanted = %d;" % wanted + WATCH_HISTORY})
    return page.open(url)


def connect_times(page, wanted, loads):
    """Each of `loads` loads of the page: ms from navigation to the socket's
    open, to `wanted` lines in the list, and to the frame that showed them."""
    import harness
    times = []
    for k in range(loads):
        if k:
            page.driver.refresh()
        harness.wait_until(lambda: page.js("return window.benchHistory.shown"), 30,
                           "%d history lines in the page" % wanted)
        times.append(page.js("return window.benchHistory"))
    return times


def history_run(env, native_build, loads):
    """The program --headless, a page attached from the start, 200,000
    lines played by `q72modem --fast`: its resident memory after the first
    tenth and at the end, and what the page keeps. Then, a fresh program
    with KEPT_LINES lines kept: the time a page takes to show them when it
    connects, `loads` times; and the same for the whole of what the first
    program keeps."""
    from native_bench import memory_kb
    from run_bench import BenchError
    from web_harness import Browser, serve
    import harness
    result = {"lines": HISTORY_LINES, "kept": KEPT_LINES, "load": [os.getloadavg()[0]]}
    pair = env.serial(HISTORY_PORT)
    server = serve(env, pair)
    page = Browser(env).open(server.url)
    page.wait_text("connection", "^Connected$")
    harness.wait_until(pair.holders, 5, "the port to open")
    time.sleep(0.6)
    tenth = HISTORY_LINES // 10
    seconds = play_fast(env, pair, workload.RESYNC + history_stream(0, tenth), "history-1.bin")
    wait_history(page, tenth - 2)
    result["rss_tenth_kb"] = memory_kb(server.process.pid)[0]
    seconds += play_fast(env, pair, history_stream(tenth, HISTORY_LINES - tenth),
                         "history-2.bin")
    entered = HISTORY_LINES - 2
    wait_history(page, entered)
    result["rss_end_kb"], result["peak_kb"] = memory_kb(server.process.pid)
    result["lines_per_s"] = HISTORY_LINES / seconds
    count, first, _ = page_history(page)
    if first != history_line(entered - count):
        raise BenchError("the page's %d lines do not run to the last: %r" % (count, first))
    result["page_keeps"] = count
    page.kill()
    watched = open_watched(env, server.url, count)
    result["whole"] = connect_times(watched, count, loads)
    watched.kill()
    env.end_test()

    pair = env.serial(HISTORY_PORT + 1)
    server = serve(env, pair)
    harness.wait_until(pair.holders, 5, "the port to open")
    time.sleep(0.6)
    play_fast(env, pair, workload.RESYNC + history_stream(0, KEPT_LINES + 2), "history-3.bin")
    time.sleep(2)  # the program has read it all
    watched = open_watched(env, server.url, KEPT_LINES)
    result["connect"] = connect_times(watched, KEPT_LINES, loads)
    if page_history(watched) != [KEPT_LINES, history_line(0), history_line(KEPT_LINES - 1)]:
        raise BenchError("the page shows other lines: %r" % page_history(watched))
    env.end_test()
    result["load"].append(os.getloadavg()[0])
    return result


def history(native_build, loads):
    """history_run on a private Xvfb of its own, without Wine."""
    import gtk_harness
    env = gtk_harness.Env(native_build)
    try:
        print("bench: history with a page attached", flush=True)
        return history_run(env, native_build, loads)
    finally:
        env.close()


if __name__ == "__main__" and len(sys.argv) == 5 and sys.argv[1] == "viewers":
    sys.exit(viewers_main(sys.argv[2], sys.argv[3], int(sys.argv[4])))
