"""The benchmark report, docs/performance.md, from the figures run_bench.py
collected: the Wine build's, then the native program's beside them."""

import statistics

from workload import BLOCK_COMMANDS, BLOCK_SIZE, LINE_RATE

BYTES_PER_REPAINT = BLOCK_SIZE / BLOCK_COMMANDS  # in the worst-case stream
GOALS = {"paint": 25, "lag_ms": 100, "capacity": 4, "interpreter": 10e6, "idle": 1,
         "reader_cost": 10, "history_cost": 10}
READER = "WithReader"  # bench_interpreter's cases with the change reader attached
HISTORY = "WithHistory"  # and with the history alone


def median(values):
    return statistics.median(values)


def met(ok):
    return "met" if ok else "**not met**"


def runs_of(values, fmt):
    return ", ".join(fmt % v for v in values)


def summary(r):
    rows = []
    if "paint" in r:
        at4 = r["paint"]["paint"][4]
        rows.append(("Paint at 4×: per-pixel baseline ÷ window painter, ms per paint",
                     "≥ %d×" % GOALS["paint"], "%.1f× (%.3f vs %.3f ms)"
                     % (at4["ratio"], at4["per_pixel"], at4["fast"]),
                     met(at4["ratio"] >= GOALS["paint"])))
    if "line" in r:
        lag, worst = worst_lag(r["line"])
        rows.append(("Line rate: lag from the last byte sent to the final screen, "
                     "19200 baud, worst scale", "≤ %d ms" % GOALS["lag_ms"],
                     "%.0f ms (%d×)" % (lag, worst), met(lag <= GOALS["lag_ms"])))
    if "capacity" in r:
        rate, worst = slowest_rate(r["capacity"])
        rows.append(("Capacity: worst-case stream unpaced, slowest scale",
                     "≥ %d× 1920 B/s" % GOALS["capacity"],
                     "%.0f B/s = %.1f× (%d×)" % (rate, rate / LINE_RATE, worst),
                     met(rate >= GOALS["capacity"] * LINE_RATE)))
    if "interpreter" in r:
        alone = {k: v for k, v in r["interpreter"].items()
                 if not k.endswith(READER) and not k.endswith(HISTORY)}
        slowest = min(alone.values())
        rows.append(("Interpreter alone, natively, slowest stream",
                     "≥ 10 MB/s", "%.1f MB/s" % (slowest / 1e6),
                     met(slowest >= GOALS["interpreter"])))
        for suffix, what, goal in ((HISTORY, "the history", "history_cost"),
                                   (READER, "the screen readers' change reader (and the "
                                    "history)", "reader_cost")):
            costs = attached_costs(r["interpreter"], suffix)
            if costs:
                worst = max(costs, key=costs.get)
                rows.append(("Interpreter with %s attached, worst stream" % what,
                             "≤ %d %% lower" % GOALS[goal],
                             "%.1f %% lower (%s)" % (costs[worst], worst),
                             met(costs[worst] <= GOALS[goal])))
    if "idle" in r:
        program = median([run["program"] for run in r["idle"]])
        rows.append(("Idle: CPU of the program, link open, modem silent (wineserver apart)",
                     "≤ 1 %", "%.2f %%" % program, met(program <= GOALS["idle"])))
    out = ["| Figure | Goal | Result (median) | |", "|---|---|---|---|"]
    out += ["| %s | %s | %s | %s |" % row for row in rows]
    return out


NATIVE_GOALS = {"capacity": 100, "lag_ms": 20, "idle": 0.5, "start_ms": 300}


def worst_lag(line):
    """(median lag ms, scale) of the scale with the longest median lag."""
    lags = {s: median([run["lag_ms"] for run in runs]) for s, runs in line.items()}
    worst = max(lags, key=lags.get)
    return lags[worst], worst


def slowest_rate(capacity):
    """(median bytes/s, scale) of the slowest scale."""
    rates = {s: median([run["rate"] for run in runs]) for s, runs in capacity.items()}
    worst = min(rates, key=rates.get)
    return rates[worst], worst


def memory(idle):
    """Median resident memory and peak, MB."""
    return (median([run["rss_kb"] for run in idle]) / 1024,
            median([run["peak_kb"] for run in idle]) / 1024)


def native_section(r):
    n = r["native"]
    rate, rate_scale = slowest_rate(n["capacity"])
    lag, lag_scale = worst_lag(n["line"])
    idle = median([run["program"] for run in n["idle"]])
    start = median(n["start_ms"])
    rss, peak = memory(n["idle"])
    wine = {}
    if "capacity" in r:
        wine_rate, scale = slowest_rate(r["capacity"])
        wine["capacity"] = "%.0f B/s = %.1f× (%d×)" % (wine_rate, wine_rate / LINE_RATE, scale)
    if "line" in r:
        wine["lag"] = "%.0f ms (%d×)" % worst_lag(r["line"])
    if "idle" in r:
        wine["idle"] = "%.2f %%" % median([run["program"] for run in r["idle"]])
        wine["memory"] = "%.1f MB (peak %.1f MB)" % memory(r["idle"])
    rows = [
        ("Capacity: worst-case stream unpaced, slowest scale",
         "≥ %d× 1920 B/s" % NATIVE_GOALS["capacity"],
         "%.0f B/s = %.1f× (%d×)" % (rate, rate / LINE_RATE, rate_scale),
         wine.get("capacity", "—"), met(rate >= NATIVE_GOALS["capacity"] * LINE_RATE)),
        ("Lag from the last byte sent to the final screen, 19200 baud, worst scale",
         "≤ %d ms" % NATIVE_GOALS["lag_ms"], "%.1f ms (%d×)" % (lag, lag_scale),
         wine.get("lag", "—"), met(lag <= NATIVE_GOALS["lag_ms"])),
        ("Idle: CPU of the program, link open, modem silent", "≤ %.1f %%" % NATIVE_GOALS["idle"],
         "%.2f %%" % idle, wine.get("idle", "—"), met(idle <= NATIVE_GOALS["idle"])),
        ("Start to first frame (start-up screen at 4×)", "≤ %d ms" % NATIVE_GOALS["start_ms"],
         "%.0f ms" % start, "not measured", met(start <= NATIVE_GOALS["start_ms"])),
        ("Resident memory of the program, idle at 4×", "reported",
         "%.1f MB (peak %.1f MB)" % (rss, peak), wine.get("memory", "—"), ""),
    ]
    out = ["## The native program beside the Wine build", "",
           "`build/q72display` (src/gtk, GTK 3) on the same Xvfb, after the Wine build's runs: "
           "the same worst-case streams and q72modem, its link opened with `--open` on a socat "
           "pair of its own; at each scale it is started afresh (black on green). The watcher "
           "(tests/bench/native_bench.py) reads one marker pixel of the screen through Xlib about "
           "every millisecond from q72modem's exit, then compares the whole window with "
           "q72render's picture (a mismatch stops the run). Start to first frame: from starting "
           "the program to its start-up screen on the screen, white on blue at 4×. Idle: CPU "
           "time from /proc over 10 s; memory: VmRSS and VmHWM at the end of the idle run. "
           "The Wine column repeats the figures above (program process only; Wine also runs "
           "its server and services).",
           "",
           "| Figure | Goal (native) | Native | Wine build | |", "|---|---|---|---|---|"]
    out += ["| %s | %s | %s | %s | %s |" % row for row in rows]
    out += ["", "| Scale | Lag, ms, median (runs) | Capacity, bytes/s, median | × 1920 B/s "
            "| Runs, bytes/s |", "|---|---|---|---|---|"]
    for scale in sorted(n["line"]):
        lags = [run["lag_ms"] for run in n["line"][scale]]
        rates = [run["rate"] for run in n["capacity"][scale]]
        out.append("| %d× | %.1f (%s) | %.0f | %.1f× | %s |" % (
            scale, median(lags), runs_of(lags, "%.1f"), median(rates),
            median(rates) / LINE_RATE, runs_of(rates, "%.0f")))
    out += ["", "Start to first frame, runs: %s ms. Idle CPU, runs: %s %%." % (
        runs_of(n["start_ms"], "%.0f"), runs_of([run["program"] for run in n["idle"]], "%.2f"))]
    return out


WEB_GOALS = {"latency_ms": 30, "bytes_per_s": 60e3, "cpu": 5, "capacity": 100}


def web_figures(w):
    """The browser panel's figures, pooled over the runs."""
    def cpu(program, viewers):
        return [run["cpu"] for run in w[program] if run["viewers"] == viewers]

    def pooled(key):
        return [v for run in w["latency"] for v in run[key]]
    viewers = w["viewers"]
    sent = [median(run["bytes_per_s"]) for run in w["window"] + w["headless"]
            if run["viewers"] == viewers]
    return {
        "drawn": pooled("drawn_ms"), "shown": pooled("shown_ms"),
        "received": pooled("received_ms"), "bytes": median(sent), "sent_runs": sent,
        "cpu": {(program, n): cpu(program, n) for program in ("headless", "window")
                for n in (0, viewers)},
        "capacity": {n: [run["rate"] for run in w["capacity"] if run["viewers"] == n]
                     for n in (0, viewers)},
    }


def percentile(values, p):
    """The p-th percentile, nearest rank."""
    ordered = sorted(values)
    return ordered[max(0, min(len(ordered) - 1, -(-len(ordered) * p // 100) - 1))]


def web_section(r):
    w = r["web"]
    f = web_figures(w)
    n = w["viewers"]
    p99, mid = percentile(f["drawn"], 99), median(f["drawn"])
    headless, window = median(f["cpu"][("headless", n)]), median(f["cpu"][("window", n)])
    capacity = median(f["capacity"][n])
    rows = [
        ("Latency from the last byte on the serial line to the frame in the page's canvas, "
         "loopback, %d viewers at line rate: 99th percentile (median)" % n,
         "≤ %d ms" % WEB_GOALS["latency_ms"], "%.1f ms (%.1f ms)" % (p99, mid),
         met(p99 <= WEB_GOALS["latency_ms"])),
        ("Bytes a second to each viewer at line rate, worst-case stream",
         "≤ %.0f kB/s" % (WEB_GOALS["bytes_per_s"] / 1e3), "%.1f kB/s" % (f["bytes"] / 1e3),
         met(f["bytes"] <= WEB_GOALS["bytes_per_s"])),
        ("CPU of the program, %d viewers at line rate, `--headless` (the station's "
         "server)" % n, "≤ %d %%" % WEB_GOALS["cpu"], "%.2f %%" % headless,
         met(headless <= WEB_GOALS["cpu"])),
        ("CPU of the program, %d viewers at line rate, with its window at %d×" % (n, w["scale"]),
         "reported", "%.2f %%" % window, ""),
        ("Capacity of the desktop window with %d viewers attached, worst-case stream "
         "unpaced, %d×" % (n, w["scale"]), "≥ %d× 1920 B/s" % WEB_GOALS["capacity"],
         "%.0f B/s = %.1f×" % (capacity, capacity / LINE_RATE),
         met(capacity >= WEB_GOALS["capacity"] * LINE_RATE)),
    ]
    out = ["## The browser panel", "",
           "`build/q72display --serve 127.0.0.1:0` (tests/bench/web_bench.py) on the same "
           "Xvfb, with its window at %d× (black on green), or with `--headless` (no window, no "
           "display), its link opened on a socat pair of its own. Viewers: python3-websockets "
           "clients in one process of their own, which read and count every message (bytes "
           "with their WebSocket frame headers), and for the latency one headless Chromium tab "
           "at the program's scale (tests/native/web_harness.py) beside %d such clients. "
           "%d runs; in each the figures with and without viewers are measured one after the "
           "other." % (w["scale"], n - 1, len(w["latency"])),
           "",
           "| Figure | Goal | Result | |", "|---|---|---|---|"]
    out += ["| %s | %s | %s | %s |" % row for row in rows]
    out += ["", "What keeps it cheap: the host merges the interpreter's repaint requests into "
            "at most 60 frames a second (the first after a quiet spell at once); the link's "
            "reader, after a read of a few bytes, lets 2 ms of them gather rather than waking "
            "for each byte; the window repaints only the rows a frame changed; and each page "
            "gets one message per frame, made once for all pages in step and sent as the frame "
            "is taken. The window's own painting, 60 frames a second, is most of the "
            "difference between the two CPU rows (see the rows without viewers below)."]
    out += ["", "**CPU and traffic at line rate.** q72modem plays the worst-case stream "
            "(tests/bench/workload.py, as in the line-rate figures) at 19200 baud for %d s; the "
            "program's CPU time from /proc over the whole stream, in %% of one core; each "
            "viewer's bytes and updates a second over the same span." % w["seconds"], "",
            "| Program | Viewers | CPU %, median (runs) | Bytes/s per viewer, median (runs) "
            "| Updates/s per viewer |", "|---|---|---|---|---|"]
    for program, label in (("headless", "`--headless`"), ("window", "window at %d×" % w["scale"])):
        for viewers in (0, n):
            runs = [run for run in w[program] if run["viewers"] == viewers]
            cpus = [run["cpu"] for run in runs]
            sent = [median(run["bytes_per_s"]) for run in runs if viewers]
            updates = [median(run["messages_per_s"]) for run in runs if viewers]
            out.append("| %s | %d | %.2f (%s) | %s | %s |" % (
                label, viewers, median(cpus), runs_of(cpus, "%.2f"),
                "%.0f (%s)" % (median(sent), runs_of(sent, "%.0f")) if sent else "–",
                "%.1f" % median(updates) if updates else "–"))
    out += ["", "**Latency.** The worst-case stream with a probe after each block: a row text "
            "on row 8, which nothing else writes, that differs from the probe before only in "
            "its last character, so that row 8's pixels change only once that last byte is in. "
            "The benchmark writes the stream itself at 1920 bytes a second as q72modem paces "
            "it, and notes the wall-clock time just before the write of each probe's last "
            "byte; the page's `q72frame` events give when it drew each frame with row 8 in it "
            "(`performance.timeOrigin + performance.now()`, the same clock). A probe's "
            "latency: to the first such frame after it. Probes of the first %d s are left out; "
            "%d s of stream per run. Also shown: to the next animation frame after the drawing "
            "(when it reached the screen), and to the arrival of the update at the first "
            "python viewer." % (w["warm_up"], w["seconds"]), "",
            "| Run | Probes | Drawn, ms: median / 99th pct / max | On screen, ms: median / 99th "
            "pct | At a python viewer, ms: median / 99th pct | Program CPU % | Page clock − "
            "machine clock, ms |", "|---|---|---|---|---|---|---|"]

    def spread(values, high=False):
        if not values:
            return "–"
        text = "%.1f / %.1f" % (median(values), percentile(values, 99))
        return text + (" / %.1f" % max(values) if high else "")
    for k, run in enumerate(w["latency"], 1):
        offset, within = run["clock"]
        out.append("| %d | %d%s | %s | %s | %s | %.2f | %+.1f ± %.1f |" % (
            k, run["probes"], " (%d missed)" % run["missed"] if run["missed"] else "",
            spread(run["drawn_ms"], True), spread(run["shown_ms"]), spread(run["received_ms"]),
            run["cpu"], offset, within))
    out.append("| all | %d | %s | %s | %s | | |" % (
        len(f["drawn"]), spread(f["drawn"], True), spread(f["shown"]), spread(f["received"])))
    out += ["", "**Capacity with viewers.** The capacity run of the native figures (38270 "
            "bytes by `q72modem --fast`, the whole window compared with q72render's picture "
            "at the end) on the same window, without viewers and with %d attached and reading." % n,
            "", "| Viewers | Bytes/s, median | × 1920 B/s | Runs, bytes/s |", "|---|---|---|---|"]
    for viewers in (0, n):
        rates = f["capacity"][viewers]
        out.append("| %d | %.0f | %.1f× | %s |" % (viewers, median(rates), median(rates) / LINE_RATE,
                                                 runs_of(rates, "%.0f")))
    return out


HISTORY_GOALS = {"growth_mb": 8, "connect_ms": 1000}


def history_section(r):
    h = r["history"]
    growth = (h["rss_end_kb"] - h["rss_tenth_kb"]) / 1024
    shown = [load["shown"] for load in h["connect"]]
    opened = [load["shown"] - load["open"] for load in h["connect"]]
    whole = [load["shown"] for load in h["whole"]]
    rows = [
        ("Resident memory of `--headless` with a page attached, %s lines: growth from the "
         "first tenth to the end" % format(h["lines"], ","),
         "≤ %d MB" % HISTORY_GOALS["growth_mb"],
         "%+.2f MB (%.1f → %.1f MB, peak %.1f MB)" % (growth, h["rss_tenth_kb"] / 1024,
                                                       h["rss_end_kb"] / 1024, h["peak_kb"] / 1024),
         met(growth <= HISTORY_GOALS["growth_mb"])),
        ("A page that connects: from its navigation to %s kept lines shown, median (loads)"
         % format(h["kept"], ","), "≤ %d s" % (HISTORY_GOALS["connect_ms"] / 1000),
         "%.0f ms (%s)" % (median(shown), runs_of(shown, "%.0f")),
         met(median(shown) <= HISTORY_GOALS["connect_ms"])),
        ("The same from the page's WebSocket open", "reported",
         "%.0f ms (%s)" % (median(opened), runs_of(opened, "%.0f")), ""),
        ("The same for all the page keeps after the %s lines (%s)"
         % (format(h["lines"], ","), format(h["page_keeps"], ",")), "reported",
         "%.0f ms (%s)" % (median(whole), runs_of(whole, "%.0f")), ""),
    ]
    out = ["## History", "",
           "The history of the scrolling area in the browser panel (tests/bench/web_bench.py, "
           "on an Xvfb of its own, without Wine). `build/q72display --headless --serve "
           "127.0.0.1:0` with one headless Chromium page attached from the start; `q72modem "
           "--fast` plays %s lines, each a row text on row 4 followed by 0x9C (rows 2-4 up), "
           "first a tenth of them, then the rest (it sent %.0f lines a second); resident memory "
           "from /proc once the page shows the last line of each. The page then kept %s "
           "lines, the newest ones in order. A fresh program is then given %s lines, and a page "
           "loaded %d times: from its navigation (`performance.now()`), to its WebSocket open, "
           "and to the animation frame after its list first held them all (a "
           "MutationObserver). Measured %s; load average (1 min) %.2f at the start of this "
           "part and %.2f at its end." % (format(h["lines"], ","), h["lines_per_s"],
                                          format(h["page_keeps"], ","), format(h["kept"], ","),
                                          len(h["connect"]), r["date"], *h["load"]),
           "", "| Figure | Goal | Result | |", "|---|---|---|---|"]
    out += ["| %s | %s | %s | %s |" % row for row in rows]
    return out


def paint_section(r):
    p = r["paint"]
    out = ["## Paint", "",
           "`q72bench_paint.exe` (tests/bench/win) under Wine, both painters in one process, "
           "on a random 128 × 64 image in black on green. Each figure is the median of "
           "%d runs of %d calls (the two painters' runs interleaved); lo–hi are the fastest "
           "and slowest run." % (2 * r["runs"] + 1, r["paints"]),
           "",
           "Identity check first (the run stops if it fails):", ""]
    out += ["    " + line for line in r["identity"]]
    out += ["",
            "The window painter (`paint_lcd`, src/win32/win_paint.cpp) and the per-pixel "
            "baseline (`drawLCDpixel`, one FillRect per LCD pixel, tests/bench/win/"
            "per_pixel_paint.cpp) paint onto a memory bitmap compatible with the screen, "
            "larger than any LCD bitmap, and are read back with GetDIBits: at every scheme "
            "and at scales 0–9, 16, 100 and 255 both must equal each other and the expected "
            "pixels (scale 0: the window painter fills its bitmap with the dark colour, the "
            "baseline draws nothing into its new, black bitmap; nothing is drawn outside "
            "the bitmap).",
            "",
            "**Direct paints**: ms per call into the DC of a visible window (class style "
            "CS_OWNDC, as the program's). The copy of the window's surface to the X server "
            "happens outside these loops.",
            "",
            "| Scale | Window painter, ms (lo–hi) | Per-pixel, ms (lo–hi) | Ratio |",
            "|---|---|---|---|"]
    for scale, f in sorted(p["paint"].items()):
        out.append("| %d× | %.4f (%.4f–%.4f) | %.3f (%.3f–%.3f) | %.1f× |"
                   % (scale, f["fast"], f["fast_lo"], f["fast_hi"], f["per_pixel"],
                      f["per_pixel_lo"], f["per_pixel_hi"], f["ratio"]))
    out += ["",
            "**Repaint requests**: ms per RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW) "
            "from a second thread, as the receive thread asks after a read that completed a command; the "
            "window's WM_PAINT runs the program's `Main_OnPaint` or the same handler around "
            "the per-pixel painter, and the window has the program's outer size for the "
            "scale. Paints/call counts WM_PAINTs per request (Wine sometimes delivers two).",
            "",
            "| Scale | Window painter, ms (lo–hi) | paints/call | Per-pixel, ms (lo–hi) "
            "| paints/call | Ratio |",
            "|---|---|---|---|---|---|"]
    for scale, f in sorted(p["redraw"].items()):
        out.append("| %d× | %.3f (%.3f–%.3f) | %.2f | %.3f (%.3f–%.3f) | %.2f | %.1f× |"
                   % (scale, f["fast"], f["fast_lo"], f["fast_hi"], f["fast_paints"],
                      f["per_pixel"], f["per_pixel_lo"], f["per_pixel_hi"],
                      f["per_pixel_paints"], f["ratio"]))
    return out


def read_section(r):
    rates = r["read"]
    waiting, one = median(rates["waiting"]), median(rates["one-byte"])
    return ["## Port reads", "",
            "`q72bench_read.exe` opens the port as the program does (`openComm`) and reads "
            "a %d-byte counting pattern that `q72modem --fast` sends through the socat "
            "pair as fast as it goes; bytes per second from the first byte to the last, "
            "every byte checked in order." % rates["bytes"],
            "",
            "| Read form | Bytes/s, median (runs) | × 1920 B/s |", "|---|---|---|",
            "| What is waiting, up to 256 bytes (`readAvailable`, the receive thread's) "
            "| %.0f (%s) | %.0f× |" % (waiting, runs_of(rates["waiting"], "%.0f"),
                                       waiting / LINE_RATE),
            "| One byte per overlapped read (the earlier form) | %.0f (%s) | %.1f× |"
            % (one, runs_of(rates["one-byte"], "%.0f"), one / LINE_RATE)]


def line_section(r):
    out = ["## Line rate", "",
           "The worst-case stream (tests/bench/workload.py): after a resync, blocks of "
           "64 commands in 149 bytes (three lines of 20 single characters `0x8E c`, each "
           "line begun by clearing its row with `0x8A r`, then one row text `0x8C r` + 21 "
           "characters), every command a repaint request, one per 2.3 bytes, as in "
           "bench_interpreter's worst case; rows 2–7 only. It ends with one row text on "
           "row 8, which nothing else writes. `q72modem` plays it at 19200 baud (10 s) to "
           "the program, started with that scale and black on green, its link opened "
           "through the setup dialog. When q72modem exits (it has just written the last "
           "byte), `q72bench_watch.exe` starts polling one pixel of row 8 that the final "
           "screen lights, every millisecond, then compares the whole LCD bitmap with "
           "q72render's picture of everything sent since the program started; the lag "
           "is from the modem's exit to the watcher's answer. Every run's final screen "
           "was pixel-identical to q72render's (a mismatch stops the run).",
           "",
           "| Scale | Lag, ms, median | Runs, ms | Sending took, s |", "|---|---|---|---|"]
    for scale, runs in sorted(r["line"].items()):
        lags = [run["lag_ms"] for run in runs]
        out.append("| %d× | %.0f | %s | %s |" % (scale, median(lags), runs_of(lags, "%.0f"),
                                                runs_of([run["sending_s"] for run in runs],
                                                        "%.1f")))
    return out


def capacity_section(r):
    out = ["## Capacity", "",
           "The same kind of stream, %d bytes, played by `q72modem --fast` (as fast as the "
           "line takes it: the program's reads and repaints set the pace). Rate = bytes / "
           "time from starting q72modem to the watcher seeing the final screen (found as "
           "above, polling from q72modem's exit), so every byte was interpreted and its "
           "repaint done. The stream asks for a repaint every %.2f bytes; the receive thread "
           "makes one synchronous request per read, after all the bytes that read brought, so "
           "when bytes queue up their commands share one paint." % (
               r["capacity"][min(r["capacity"])][0]["bytes"], BYTES_PER_REPAINT),
           "",
           "| Scale | Bytes/s, median | × 1920 B/s | Runs, bytes/s |", "|---|---|---|---|"]
    for scale, runs in sorted(r["capacity"].items()):
        rates = [run["rate"] for run in runs]
        out.append("| %d× | %.0f | %.1f× | %s |" % (scale, median(rates),
                                                    median(rates) / LINE_RATE,
                                                    runs_of(rates, "%.0f")))
    return out


def attached_costs(rates, suffix):
    """Per stream, how much slower the interpreter runs with what the cases
    named with `suffix` attach, in %."""
    return {name: 100 * (1 - rates[name + suffix] / rate) for name, rate in rates.items()
            if name + suffix in rates}


def interpreter_section(r):
    names = {"BM_RecordedSessions": "the 12 recorded sessions (tests/data/s*.bin)",
             "BM_WorstCase": "worst case (0x8E c pairs, a row text every 64 commands)",
             "BM_Scrolling": "received text scrolling (20 characters, then rows 2–4 up)"}
    rates = r["interpreter"]
    history, reader = attached_costs(rates, HISTORY), attached_costs(rates, READER)
    out = ["## Interpreter alone (native)", "",
           "`bench_interpreter` (Google Benchmark, tests/bench/bench_interpreter.cpp): "
           "bytes through `rx_CallBack` with no window (repaint requests go nowhere); "
           "median of %d repetitions, the cases interleaved at random. With the history, "
           "the interpreter hands it each row a scroll pushes out, and the lines that "
           "entered are formatted as transcript lines once per 4096 bytes, as the window "
           "and the transcript take them once per frame when the link runs 128 times "
           "faster than 19200 baud. With the change reader (which feeds the history too), "
           "the interpreter tells it what each command did to the text, and its events "
           "and the history's lines are taken at the same pace." % r["interpreter_repetitions"],
           "", "| Stream | MB/s | With the history, MB/s | Lower by | "
           "With the change reader, MB/s | Lower by |", "|---|---|---|---|---|---|"]
    for name in sorted(set(history) | set(reader)):
        cells = [names.get(name, name), "%.1f" % (rates[name] / 1e6)]
        for suffix, costs in ((HISTORY, history), (READER, reader)):
            cells += (["%.1f" % (rates[name + suffix] / 1e6), "%.1f %%" % costs[name]]
                      if name in costs else ["–", "–"])
        out.append("| %s |" % " | ".join(cells))
    return out


def idle_section(r):
    idle = r["idle"]
    out = ["## Idle", "",
           "The program at 4× with the link open and q72modem listening but silent; CPU "
           "time from /proc over 10 s, in %% of one core, %d runs. The program's own "
           "process (its window thread with the 100 ms tick, and the receive thread "
           "waking every 250 ms) is counted apart from the prefix's wineserver, which "
           "serves every Wine process, and from the prefix's other processes (Wine's "
           "services, the probe and the watcher, all waiting)." % len(idle),
           "", "| Process | CPU %, median | Runs |", "|---|---|---|"]
    for key, label in (("program", "q72display.exe"), ("server", "wineserver"),
                       ("other", "other processes of the prefix")):
        values = [run[key] for run in idle]
        out.append("| %s | %.2f | %s |" % (label, median(values), runs_of(values, "%.2f")))
    return out


def markdown(r):
    m = r["machine"]
    loads = r["load"]
    out = ["# Performance", "",
           "Measured %s on %s (%d cores), %s, kernel %s, %s, Xvfb at 1024×768×24; "
           "programs built with %s (RelWithDebInfo)."
           % (r["date"], m["cpu"], m["nproc"], m["os"], m["kernel"], m["wine"], m["compiler"]),
           "Load average (1 min) as each part began and at the end: %s. It counts the "
           "builds just before and the benchmark's own processes; other work on the "
           "machine makes the absolute figures noisy, while each ratio compares runs made "
           "side by side." % ", ".join("%.2f" % x for x in loads),
           "",
           "Command (builds what it needs, starts and stops its own Xvfb, Wine prefix, "
           "serial pairs and browser; about 20 minutes):", "", "    " + r["command"], "",
           "Benchmarks, not tests: they do not run in the test command. Medians of "
           "%d runs unless said otherwise." % r["runs"], ""]
    out += summary(r)
    if "native" in r:
        out += [""] + native_section(r)
    if "web" in r:
        out += [""] + web_section(r)
    if "history" in r:
        out += [""] + history_section(r)
    for key, section in (("paint", paint_section), ("read", read_section),
                         ("line", line_section), ("capacity", capacity_section),
                         ("interpreter", interpreter_section), ("idle", idle_section)):
        if key in r:
            out += [""] + section(r)
    return "\n".join(out) + "\n"
