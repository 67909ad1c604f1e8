#!/usr/bin/env python3
"""End-to-end benchmarks of sharelink against the local simulator.

Called by scripts/bench after it has built the programs; measures one or more
sections and writes bench/RESULTS.md:

  window   the window and the terminal program on generated shares of 1,000,
           3,000 and 10,000 files (time, per-line cost, longest stall), and
           both on 10,000 files against a simulator that delays every request
  cli      peak memory of the terminal program on the 10,000-file share
  latency  the terminal program against a simulator that delays every request
           and every new connection: wall time against the latency floor at 1
           to 16 requests in flight, connections used, and a job on a network
           that drops connections and fails requests now and then
  micro    the Google Benchmark micro benchmarks
  soak     300 jobs in a row through the window's job runner in one process:
           resident memory, descriptors and threads after every job
  choice   the window "选择文件" on a share of 20,000 files under Xvfb: opening
           it, checking a folder of 10,000 files, scrolling that folder
  download the terminal program's download against `--aria2` + aria2c and curl
           on the simulator's content host (bench/download_bench.py)
  bigwindow the window and the terminal program on 100,000 files, and the
           window's peak memory (bench/big_window_bench.py)
  scroll   the window "下载" scrolling a list of 10,000 files under Xvfb
           (bench/scroll_bench.py)

Every process it starts (simulator, Xvfb, programs) is ended before it returns,
on errors and on SIGINT/SIGTERM/SIGHUP too, and dies with it if it is killed.
Only the Python standard library is used.
"""

import argparse
import ctypes
import datetime
import json
import os
import re
import selectors
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import big_window_bench
import download_bench
import scroll_bench

SECTIONS = ("window", "cli", "latency", "micro", "soak", "choice", "download", "bigwindow",
            "scroll")

# 1,000 files over 42 folders (6 + 36, two levels) plus the top level; the same
# shape for every size, so a bigger share has fuller folders, not more of them.
SIZES = (1000, 3000, 10000)
DEPTH, FANOUT = 2, 6
MEMORY_SIZE = 10000
# The big share of the memory section: 100,000 files three levels deep with
# ten sub-folders each, asked eight at a time.
BIG_SIZE, BIG_DEPTH, BIG_FANOUT, BIG_PARALLEL = 100000, 3, 10, 8
LATENCY_FILES = 1000
LATENCY_MS = 20
CONNECT_LATENCY_MS = 40
CLI_RUNS = 3  # the median is reported
WINDOW_RUNS = 3  # the median is reported
# The window asks this many at a time and has no setting for it; the terminal
# program is told the same, so that the two do the same work.
WINDOW_PARALLEL = 4
PARALLEL_KS = (1, 2, 4, 8, 16)
LATENCY_RUNS = 3  # of each K and of the flaky network; the median is reported
# A job that outlives this has hung; the floor at K = 1 is about 21 s.
LATENCY_RUN_LIMIT_S = 120.0
FLAKY_PARALLEL = 4
FLAKY_FAULTS = ("download:close@every50", "download:http500@every70")
SOAK_JOBS = 300
CHOICE_RUNS = 3  # the median of each figure is reported

# The main window's title; it is about to change to one starting "sharelink".
TITLE_REGEX = "^(sharelink|False_Tarnwick)"
URL_BOX = (200, 25)
PARSE_BUTTON = (435, 25)
SEPARATOR = b"\r\n" + b"-" * 88 + b"\r\n\r\n"
POLL_S = 0.02

# Targets.
WINDOW_OVER_CLI = 3.0
PER_LINE_GROWTH = 1.5
STALL_MS = 100
PEAK_RSS_MIB = 64
BIG_PEAK_RSS_MIB = 96
LATENCY_OVER_FLOOR = 1.03
# Wall / sequential floor (requests × latency) at these K.
PARALLEL_OVER_FLOOR = {4: 0.30, 8: 0.18}
# The job's pool: K connections, one more while a dropped one is replaced.
PARALLEL_EXTRA_CONNECTIONS = 1
# Window / terminal program on the same share with a slow service (the latency
# section's delays), where the requests take tens of seconds: without latency
# the window's own work on the log would be most of its time.
WINDOW_OVER_CLI_AT_K = 1.3
WINDOW_OVER_CLI_FILES = 10000
# About 10,000 requests × 20 ms / 4 in flight: some 50 s each.
SLOW_WINDOW_LIMIT_S = 300.0
THROUGHPUT_MB_S = 100.0
THROUGHPUT_NAME = re.compile(r"Read|Parse|Data")
CHOICE_OPEN_MS = 1000
CHOICE_CHECK_MS = 100
# Well under the 100 ms a user notices.
CHOICE_SCROLL_MS = 50


class Stop(BaseException):
    """A stop signal arrived: unwind so that every child is ended."""


def on_stop_signal(number, _frame):
    raise Stop(number)


def die_with_parent():
    # PR_SET_PDEATHSIG: a child outlives no killed benchmark run.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)
    except (OSError, AttributeError):
        pass


class Children:
    """Every process this run started, to be ended however the run ends."""

    def __init__(self):
        self.procs = []

    def start(self, argv, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, preexec_fn=die_with_parent, **kwargs)
        self.procs.append(proc)
        return proc

    @staticmethod
    def stop(proc, grace_s=5.0, sig=signal.SIGTERM):
        """Ends proc (sig, then SIGKILL after grace_s); its exit status."""
        if proc.poll() is None:
            try:
                proc.send_signal(sig)
                proc.wait(grace_s)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(10)
        return proc.returncode

    def stop_all(self):
        for proc in reversed(self.procs):
            self.stop(proc)
        self.procs.clear()


def run_tool(argv, timeout_s=20.0, env=None):
    """Runs a short tool to its end; (status, stdout text)."""
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout_s, env=env, preexec_fn=die_with_parent)
        return done.returncode, done.stdout.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        return -1, ""


def read_lines(proc, count, timeout_s):
    """The first count lines proc writes on stdout, or fewer at the deadline."""
    selector = selectors.DefaultSelector()
    selector.register(proc.stdout, selectors.EVENT_READ)
    data = b""
    deadline = time.monotonic() + timeout_s
    try:
        while data.count(b"\n") < count:
            left = deadline - time.monotonic()
            if left <= 0 or not selector.select(left):
                break
            chunk = os.read(proc.stdout.fileno(), 4096)
            if not chunk:
                break
            data += chunk
    finally:
        selector.close()
    return data.decode("utf-8", "replace").splitlines()[:count]


class Simulator:
    """sharelink-sim on a free loopback port with generated shares."""

    def __init__(self, children, program, shares, extra=(), quiet=True, err_path=None,
                 shape=(DEPTH, FANOUT)):
        argv = [program, "--host", "127.0.0.1"] + (["--quiet"] if quiet else []) + list(extra)
        for surl, files in shares:
            argv += ["--generate", f"{surl}:{files},{shape[0]},{shape[1]}"]
        self.argv = argv
        self.err_path = err_path or os.devnull
        with open(self.err_path, "wb") as err:
            self.proc = children.start(argv, stdout=subprocess.PIPE, stderr=err)
        lines = read_lines(self.proc, 1 + len(shares), 60.0)
        if len(lines) < 1 + len(shares):
            Children.stop(self.proc)
            raise RuntimeError("the simulator did not start: " + " ".join(argv))
        self.port = int(lines[0])
        self.links = {}
        for line in lines[1:]:
            link = line.split(" ")[0]
            self.links[link.rsplit("/", 1)[-1]] = link

    def get(self, path):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as conn:
            conn.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                         .encode())
            reply = b""
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                reply += chunk
        head, _, body = reply.partition(b"\r\n\r\n")
        if not head.startswith(b"HTTP/1.1 200"):
            return None
        return body

    def stop(self):
        """Stops it with SIGTERM; what it wrote on stderr."""
        status = Children.stop(self.proc, grace_s=10.0)
        self.proc.stdout.close()
        if self.err_path == os.devnull:
            return status, ""
        with open(self.err_path, "rb") as err:
            return status, err.read().decode("utf-8", "replace")


# --- measurements ------------------------------------------------------------


def time_cli(children, cli, link, out_path=os.devnull, timeout_s=900.0, options=()):
    """Wall seconds of one resolve by the terminal program, and its status (a
    text when it was ended at the deadline)."""
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        proc = children.start([cli, *options, link], stdout=out, stderr=subprocess.DEVNULL)
        try:
            status = proc.wait(timeout_s)
        except subprocess.TimeoutExpired:
            Children.stop(proc)
            status = "killed after %g s" % timeout_s
        return time.perf_counter() - start, status


def start_xvfb(children, err_path):
    """A private X server; -displayfd lets it take the first free display number."""
    read_end, write_end = os.pipe()
    argv = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
            "-nolisten", "tcp"]
    with open(err_path, "wb") as err:
        proc = children.start(argv, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=err)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    selector = selectors.DefaultSelector()
    selector.register(read_end, selectors.EVENT_READ)
    try:
        while b"\n" not in number and time.monotonic() < deadline:
            if selector.select(max(0.0, deadline - time.monotonic())):
                chunk = os.read(read_end, 32)
                if not chunk:
                    break
                number += chunk
    finally:
        selector.close()
        os.close(read_end)
    if b"\n" not in number:
        Children.stop(proc)
        raise RuntimeError("Xvfb did not report a display")
    return proc, ":" + number.split(b"\n")[0].decode()


def x_close_window(display, window):
    """Sends the window what a window manager sends when its close box is
    pressed (WM_DELETE_WINDOW); there is no window manager on the private display
    and xdotool has no command for it. True when the server took it."""

    def recv_exact(conn, size):
        data = b""
        while len(data) < size:
            chunk = conn.recv(size - len(data))
            if not chunk:
                raise OSError("X server closed the connection")
            data += chunk
        return data

    def reply(conn):
        while True:  # skip events; errors and replies are 32 bytes (ours carry no extra data)
            packet = recv_exact(conn, 32)
            if packet[0] in (0, 1):
                return packet

    def intern(conn, name):
        pad = -len(name) % 4
        conn.sendall(struct.pack("<BBHHxx", 16, 0, 2 + (len(name) + pad) // 4, len(name))
                     + name + b"\0" * pad)
        packet = reply(conn)
        if packet[0] != 1:
            raise OSError("InternAtom failed")
        return struct.unpack_from("<I", packet, 8)[0]

    number = display.lstrip(":").split(".")[0]
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as conn:
            conn.settimeout(5)
            conn.connect(f"/tmp/.X11-unix/X{number}")
            conn.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
            head = recv_exact(conn, 8)
            recv_exact(conn, struct.unpack_from("<H", head, 6)[0] * 4)
            if head[0] != 1:
                return False
            protocols = intern(conn, b"WM_PROTOCOLS")
            delete = intern(conn, b"WM_DELETE_WINDOW")
            event = struct.pack("<BBHII5I", 33, 32, 0, window, protocols, delete, 0, 0, 0, 0)
            conn.sendall(struct.pack("<BBHII", 25, 0, 11, window, 0) + event)
            conn.sendall(struct.pack("<BxH", 43, 1))  # GetInputFocus: a round trip
            return reply(conn)[0] == 1
    except OSError:
        return False


def wait_for_separator(path, proc, start, limit_s):
    """Seconds from start until the log mirror holds the end-of-job line
    (None at the deadline or when the program ended first). Reads only what was
    appended since the last look, so that polling costs the program no CPU."""
    offset, tail = 0, b""
    deadline = start + limit_s
    while True:
        now = time.perf_counter()
        try:
            with open(path, "rb") as mirror:
                mirror.seek(offset)
                chunk = mirror.read()
        except FileNotFoundError:
            chunk = b""
        offset += len(chunk)
        if SEPARATOR in tail + chunk:
            return now - start
        tail = (tail + chunk)[-len(SEPARATOR):]
        if proc.poll() is not None or now >= deadline:
            return None
        time.sleep(POLL_S)


def window_run(children, gui, display, link, work, files, limit_s, name=None):
    """One resolve in the window: seconds from the click on 解析 to the end of
    the job, lines in the log, longest stall, how the program ended. name tells
    its work files apart (default: the number of files); gui is the program, or
    a command that runs it."""
    name = name or str(files)
    mirror = os.path.join(work, f"mirror-{name}.log")
    stall = os.path.join(work, f"stall-{name}.txt")
    for path in (mirror, stall):
        if os.path.exists(path):
            os.remove(path)
    env = dict(os.environ, DISPLAY=display, SHARELINK_LOG_MIRROR=mirror,
               SHARELINK_STALL_LOG=stall)
    tool_env = dict(os.environ, DISPLAY=display, LC_ALL="C.UTF-8")
    result = {"files": files, "window_s": None, "lines": None, "stall_ms": None, "exit": ""}
    with open(os.path.join(work, f"sharelink-{name}.stderr"), "wb") as err:
        app = children.start(gui if isinstance(gui, list) else [gui], env=env, stdout=subprocess.DEVNULL, stderr=err)
    try:
        status, out = run_tool(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                TITLE_REGEX], timeout_s=20, env=tool_env)
        if status != 0 or not out.split():
            result["exit"] = "no window"
            return result
        window = int(out.split()[0])

        def click(spot):
            run_tool(["xdotool", "mousemove", "--window", str(window), str(spot[0]),
                      str(spot[1]), "click", "1"], env=tool_env)

        click(URL_BOX)
        run_tool(["xdotool", "key", "ctrl+a"], env=tool_env)
        run_tool(["xdotool", "type", "--delay", "5", "--", link], env=tool_env)
        start = time.perf_counter()
        click(PARSE_BUTTON)
        result["window_s"] = wait_for_separator(mirror, app, start, limit_s)
        if result["window_s"] is None:
            result["exit"] = "no end of job within %g s" % limit_s
        with open(mirror, "rb") as text:
            result["lines"] = text.read().count(b"\r\n")

        if not x_close_window(display, window):
            run_tool(["xdotool", "windowkill", str(window)], env=tool_env)
        try:
            status = app.wait(5)
            result["exit"] = (result["exit"] + "; " if result["exit"] else "") + "exit %d" % status
        except subprocess.TimeoutExpired:
            Children.stop(app, grace_s=2.0)
            result["exit"] = (result["exit"] + "; " if result["exit"] else "") + \
                "killed: did not exit within 5 s"
    finally:
        Children.stop(app, grace_s=2.0)
    try:
        with open(stall, encoding="utf-8") as text:
            found = re.search(r"longest_stall_ms\s+(\d+(?:\.\d+)?)", text.read())
            result["stall_ms"] = float(found.group(1)) if found else None
    except FileNotFoundError:
        pass
    return result


# --- sections -------------------------------------------------------------------


def fmt(value, pattern="%.2f", missing="n/a"):
    return missing if value is None else pattern % value


def verdict(ok):
    if ok is None:
        return "n/a"
    return "met" if ok else "**not met**"


def same_or_each(values, pattern="%s"):
    """One value when every run gave it, else each run's."""
    shown = [pattern % value for value in values]
    return shown[0] if len(set(shown)) == 1 else " / ".join(shown)


def window_runs(ctx, display, link, files):
    """WINDOW_RUNS resolves in the window, folded into one row: the median time
    (None when any run missed its end of job), the longest stall of them all."""
    limit = ctx.window_limit_s or max(120, files * 0.09)
    runs = []
    for _ in range(WINDOW_RUNS):
        runs.append(window_run(ctx.children, ctx.bin("sharelink"), display, link, ctx.work, files,
                               limit))
        ctx.log(f"window {files}: {runs[-1]}")
    times = [run["window_s"] for run in runs]
    stalls = [run["stall_ms"] for run in runs if run["stall_ms"] is not None]
    lines = [run["lines"] for run in runs if run["lines"] is not None]
    return {
        "window_s": None if None in times else statistics.median(times),
        "window_runs": times,
        "lines": statistics.median(lines) if lines else None,
        "lines_text": same_or_each(lines, "%d") if lines else "n/a",
        "stall_ms": max(stalls) if stalls else None,
        "exit": same_or_each([run["exit"] for run in runs]),
    }


def slow_window_vs_cli(ctx):
    """The WINDOW_OVER_CLI_FILES share against the latency section's delays,
    resolved once by the terminal program and once in the window: both walls,
    statuses, and the requests and connections the simulator counted in each."""
    sim_program = ctx.bin("sharelink-sim")
    require_latency_sim(sim_program)
    files = WINDOW_OVER_CLI_FILES
    surl = f"1Slow{files}"
    extra = ["--latency", str(LATENCY_MS), "--connect-latency", str(CONNECT_LATENCY_MS)]
    # Not quiet: the simulator names requests that break the service's rules on stderr.
    sim = Simulator(ctx.children, sim_program, [(surl, files)], extra=extra, quiet=False,
                    err_path=os.path.join(ctx.work, "sim-slow.stderr"))
    link = sim.links[surl]
    result = {"files": files}

    def counted(before, after):
        if before and after:
            return after[0] - before[0], after[1] - before[1]
        return None, None

    try:
        out = os.path.join(ctx.work, f"cli-slow-{files}.txt")
        before = sim_traffic(sim)
        result["cli_s"], result["cli_status"] = time_cli(
            ctx.children, ctx.bin("sharelink-cli"), link, out, timeout_s=SLOW_WINDOW_LIMIT_S,
            options=("--parallel", str(WINDOW_PARALLEL)))
        result["cli_connections"], result["cli_requests"] = counted(before, sim_traffic(sim))
        with open(out, "rb") as text:
            result["cli_lines"] = text.read().count(b"\r\n")
        ctx.log(f"slow CLI {files}: {result['cli_s']:.2f} s, exit {result['cli_status']}, "
                f"{result['cli_requests']} requests, {result['cli_connections']} connections")

        xvfb, display = start_xvfb(ctx.children, os.path.join(ctx.work, "xvfb-slow.stderr"))
        try:
            before = sim_traffic(sim)
            run = window_run(ctx.children, ctx.bin("sharelink"), display, link, ctx.work, files,
                             SLOW_WINDOW_LIMIT_S, name=f"slow-{files}")
            result["window_connections"], result["window_requests"] = counted(
                before, sim_traffic(sim))
        finally:
            Children.stop(xvfb)
        result.update({"window_s": run["window_s"], "window_lines": run["lines"],
                       "stall_ms": run["stall_ms"], "window_exit": run["exit"]})
        ctx.log(f"slow window {files}: {run}, {result['window_requests']} requests, "
                f"{result['window_connections']} connections")
    finally:
        result["complaints"] = sim_complaints(sim.stop()[1])
    return result


def slow_window_lines(slow):
    """The slow-service part of the window section, its target and notes."""
    ratio = slow["window_s"] / slow["cli_s"] if slow["window_s"] else None
    met = None if ratio is None else ratio <= WINDOW_OVER_CLI_AT_K and slow["cli_status"] == 0
    cli = fmt(slow["cli_s"]) + ("" if slow["cli_status"] == 0
                                else f" ({slow['cli_status']})")
    lines = [
        "### With a slow service",
        "",
        "| files | CLI (s) | window (s) | window / CLI | requests (window / CLI) "
        "| connections (window / CLI) | log lines (window / CLI) | longest stall (ms) "
        "| window exit |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---|",
        f"| {slow['files']:,} | {cli} | {fmt(slow['window_s'], '%.2f', 'timeout')} "
        f"| {fmt(ratio)} | {fmt(slow['window_requests'], '%d')} / "
        f"{fmt(slow['cli_requests'], '%d')} | {fmt(slow['window_connections'], '%d')} / "
        f"{fmt(slow['cli_connections'], '%d')} | {fmt(slow['window_lines'], '%d')} / "
        f"{slow['cli_lines']} | {fmt(slow['stall_ms'], '%g')} | {slow['window_exit']} |",
        "",
        f"- window / CLI at {slow['files']:,} files, both {WINDOW_PARALLEL} requests in flight, "
        f"{LATENCY_MS} ms a request and {CONNECT_LATENCY_MS} ms a new connection, "
        f"≤ {WINDOW_OVER_CLI_AT_K:g}: " + verdict(met) + (f" ({ratio:.2f})" if ratio else ""),
        "",
        f"The same shape of share, on a simulator that delays every request by {LATENCY_MS} ms "
        f"and every new connection's first one by {CONNECT_LATENCY_MS} ms (the latency "
        f"section's delays); one run of each, `sharelink-cli --parallel {WINDOW_PARALLEL}` "
        "first, then the window timed as above, each with a deadline of "
        f"{SLOW_WINDOW_LIMIT_S:g} s. Requests and connections: what the simulator counted "
        "during each run (`GET /__sim/stats` before and after it). The target is measured "
        "here rather than in the table above: without latency the job's requests are done "
        "in under a second and the window's own work on a log of some 70,000 lines, about "
        "a second of CPU after the last reply, is most of its time; against a service that "
        "answers in tens of milliseconds the requests take tens of seconds and that work is "
        "a small share of the job.",
        "",
        f"Both ask {WINDOW_PARALLEL} link requests or listings at a time: the window has no "
        f"setting for it and always asks {WINDOW_PARALLEL}, so the terminal program is told "
        f"`--parallel {WINDOW_PARALLEL}` too: the {WINDOW_OVER_CLI_AT_K:g} target compares the "
        f"two at the window's K = {WINDOW_PARALLEL}, not at K = 8.",
    ]
    if slow["complaints"]:
        lines += ["", f"The simulator complained ({len(slow['complaints'])} lines), first "
                  "ones:", "", "```"] + slow["complaints"][:5] + ["```"]
    return lines


def section_window(ctx):
    sizes = ctx.sizes
    shares = [(f"1Bench{n}", n) for n in sizes]
    sim = Simulator(ctx.children, ctx.bin("sharelink-sim"), shares)
    cli_options = ("--parallel", str(WINDOW_PARALLEL))
    rows = []
    try:
        for surl, files in shares:
            link = sim.links[surl]
            out = os.path.join(ctx.work, f"cli-{files}.txt")
            # Warm-up, and the line count.
            time_cli(ctx.children, ctx.bin("sharelink-cli"), link, out, options=cli_options)
            with open(out, "rb") as text:
                cli_lines = text.read().count(b"\r\n")
            runs, statuses = [], []
            for _ in range(CLI_RUNS):
                seconds, status = time_cli(ctx.children, ctx.bin("sharelink-cli"), link,
                                           options=cli_options)
                runs.append(seconds)
                statuses.append(status)
            failed = [status for status in statuses if status != 0]
            rows.append({"files": files, "link": link, "cli_s": statistics.median(runs),
                         "cli_status": failed[0] if failed else 0, "cli_lines": cli_lines})
        xvfb, display = start_xvfb(ctx.children, os.path.join(ctx.work, "xvfb.stderr"))
        try:
            for row in rows:
                row.update(window_runs(ctx, display, row["link"], row["files"]))
        finally:
            Children.stop(xvfb)
    finally:
        sim.stop()

    lines = ["| files | CLI (s) | window (s) | window runs (s) | window / CLI "
             "| log lines (window / CLI) | per line (µs) | longest stall (ms) | window exit |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---|"]
    ratio_ok, stall_ok = [], []
    per_line = {}
    for row in rows:
        ratio = row["window_s"] / row["cli_s"] if row["window_s"] else None
        if row["window_s"] and row["lines"]:
            per_line[row["files"]] = row["window_s"] / row["lines"] * 1e6
        ratio_ok.append(None if ratio is None else ratio <= WINDOW_OVER_CLI)
        stall_ok.append(None if row["stall_ms"] is None else row["stall_ms"] <= STALL_MS)
        cli = fmt(row["cli_s"], "%.3f") + ("" if row["cli_status"] == 0
                                           else f" (exit {row['cli_status']})")
        each = " / ".join(fmt(seconds, "%.3f", "timeout") for seconds in row["window_runs"])
        lines.append(f"| {row['files']:,} | {cli} | {fmt(row['window_s'], '%.3f', 'timeout')} "
                     f"| {each} | {fmt(ratio)} | {row['lines_text']} / {row['cli_lines']} "
                     f"| {fmt(per_line.get(row['files']), '%.1f')} "
                     f"| {fmt(row['stall_ms'], '%g')} | {row['exit']} |")

    def all_of(flags):
        return None if any(f is None for f in flags) else all(flags)

    growth = None
    if 1000 in per_line and 10000 in per_line:
        growth = per_line[10000] / per_line[1000]
    targets = [
        f"- window ≤ {WINDOW_OVER_CLI:g}× CLI at every size: {verdict(all_of(ratio_ok))}",
        f"- per-line cost at 10,000 within {PER_LINE_GROWTH:g}× that at 1,000: "
        + (verdict(growth <= PER_LINE_GROWTH) + f" ({growth:.2f}×)" if growth is not None
           else "n/a (needs both sizes)"),
        f"- longest stall ≤ {STALL_MS} ms: {verdict(all_of(stall_ok))}",
    ]
    notes = [
        f"Shares generated by the simulator: N files over {DEPTH} levels of {FANOUT} "
        f"sub-folders ({FANOUT + FANOUT * FANOUT} folders), no added latency. CLI: "
        f"`sharelink-cli --parallel {WINDOW_PARALLEL}`, median of {CLI_RUNS} runs after a "
        "warm-up run that counts the lines, stdout to /dev/null. Window: from the click on "
        "解析 until the log mirror holds the end-of-job line, polled every "
        f"{int(POLL_S * 1000)} ms; median of {WINDOW_RUNS} runs, each a new process. Per line: "
        "window time / CR LF lines in the mirror. Longest stall: the longest "
        "`longest_stall_ms` of the runs, from SHARELINK_STALL_LOG (n/a: the program did not "
        "write it). The window / CLI target of "
        f"{WINDOW_OVER_CLI_AT_K:g} is measured with a slow service, below.",
    ]
    if WINDOW_OVER_CLI_FILES in sizes:
        slow = slow_window_lines(slow_window_vs_cli(ctx))
    else:
        slow = ["### With a slow service", "",
                f"Not measured: the sizes of this run leave out {WINDOW_OVER_CLI_FILES:,}."]
    return "\n".join(lines + [""] + targets + [""] + notes + [""] + slow)


def peak_rss_run(ctx, files, shape, options=()):
    """(peak RSS in MiB, wall seconds, exit status) of one resolve by the
    terminal program of a generated share, stdout to /dev/null."""
    surl = f"1Bench{files}"
    sim = Simulator(ctx.children, ctx.bin("sharelink-sim"), [(surl, files)], shape=shape)
    report = os.path.join(ctx.work, "cli-time.txt")
    try:
        with open(os.devnull, "wb") as out:
            proc = ctx.children.start(["/usr/bin/time", "-f", "%M %e", "-o", report,
                                       ctx.bin("sharelink-cli"), *options, sim.links[surl]],
                                      stdout=out, stderr=subprocess.DEVNULL)
            try:
                status = proc.wait(900)
            except subprocess.TimeoutExpired:
                status = Children.stop(proc)
    finally:
        sim.stop()
    with open(report, encoding="utf-8") as text:
        fields = text.read().split()
    # GNU time notes a failed command on a line of its own before the figures.
    return int(fields[-2]) / 1024, float(fields[-1]), status


def section_cli(ctx):
    mib, seconds, status = peak_rss_run(ctx, MEMORY_SIZE, (DEPTH, FANOUT))
    big_mib, big_seconds, big_status = peak_rss_run(
        ctx, BIG_SIZE, (BIG_DEPTH, BIG_FANOUT), ("--parallel", str(BIG_PARALLEL)))
    return "\n".join([
        "| share | peak RSS (MiB) | wall (s) | exit |",
        "|---|---:|---:|---:|",
        f"| {MEMORY_SIZE:,} files | {mib:.1f} | {seconds:.2f} | {status} |",
        f"| {BIG_SIZE:,} files, `--parallel {BIG_PARALLEL}` | {big_mib:.1f} | "
        f"{big_seconds:.2f} | {big_status} |",
        "",
        f"- peak RSS < {PEAK_RSS_MIB} MiB: {verdict(mib < PEAK_RSS_MIB and status == 0)}",
        f"- peak RSS at {BIG_SIZE:,} files <= {BIG_PEAK_RSS_MIB} MiB: "
        f"{verdict(big_mib <= BIG_PEAK_RSS_MIB and big_status == 0)}",
        "",
        f"The {MEMORY_SIZE:,} files over {DEPTH} levels of {FANOUT} sub-folders, asked "
        f"{WINDOW_PARALLEL} at a time; the {BIG_SIZE:,} over {BIG_DEPTH} levels of "
        f"{BIG_FANOUT}, whose report is some 56 MB. Before the job handed its list over "
        "instead of copying it (3762057), that run peaked at 165 MiB.",
    ])


def sim_traffic(sim):
    """(connections, requests) the simulator has counted since it started, test
    hooks left out; None when it does not say."""
    try:
        body = sim.get("/__sim/stats")
        stats = json.loads(body) if body else None
        return int(stats["connections"]), int(stats["requests"])
    except (OSError, ValueError, KeyError, TypeError):
        return None


def latency_runs(ctx, sim, link, parallel, log_name=None):
    """LATENCY_RUNS resolves at K = parallel, one after another: each one's wall
    seconds, status, log path, and the requests and connections the simulator
    counted during it."""
    runs = []
    for number in range(LATENCY_RUNS):
        log = os.path.join(ctx.work, f"{log_name}-{number + 1}.log") if log_name else os.devnull
        before = sim_traffic(sim)
        wall, status = time_cli(ctx.children, ctx.bin("sharelink-cli"), link, log,
                                timeout_s=LATENCY_RUN_LIMIT_S,
                                options=("--parallel", str(parallel)))
        after = sim_traffic(sim)
        run = {"wall": wall, "status": status, "log": log, "connections": None,
               "requests": None}
        if before and after:
            run["connections"] = after[0] - before[0]
            run["requests"] = after[1] - before[1]
        ctx.log(f"latency K={parallel}{' ' + log_name if log_name else ''}: "
                f"{wall:.2f} s, exit {status}, {run['requests']} requests, "
                f"{run['connections']} connections")
        runs.append(run)
    return runs


def fold_runs(runs):
    """The runs of one configuration as one row: median wall and counts."""
    counted = [run["requests"] for run in runs]
    connections = [run["connections"] for run in runs]
    return {
        "wall": statistics.median(run["wall"] for run in runs),
        "walls": " / ".join("%.2f" % run["wall"] for run in runs),
        "requests": None if None in counted else statistics.median(counted),
        "requests_text": "n/a" if None in counted else same_or_each(counted, "%d"),
        "connections": None if None in connections else connections,
        "connections_text": "n/a" if None in connections else same_or_each(connections, "%d"),
        "exited_0": all(run["status"] == 0 for run in runs),
        "exits": same_or_each([run["status"] for run in runs]),
    }


def links_in_log(path):
    """(link lines, distinct links, retry lines) of a terminal program's log."""
    with open(path, "rb") as text:
        log = text.read().decode("utf-8", "replace")
    links = re.findall(r"下载地址: (https?://\S+)", log)
    return len(links), len(set(links)), len(re.findall(r"后重试", log))


def sim_complaints(stderr):
    return [line for line in stderr.splitlines()
            if line.strip() and not line.startswith("connections:")]


def require_latency_sim(sim_program):
    _, help_text = run_tool([sim_program, "--help"])
    if "connect-latency" not in help_text or "/__sim/stats" not in help_text:
        raise RuntimeError("this simulator has no --connect-latency or /__sim/stats; "
                           "rebuild it (scripts/bench without BENCH_NO_BUILD)")


def section_latency(ctx):
    sim_program = ctx.bin("sharelink-sim")
    require_latency_sim(sim_program)
    extra = ["--latency", str(LATENCY_MS), "--connect-latency", str(CONNECT_LATENCY_MS)]
    surl = f"1Lat{LATENCY_FILES}"
    complaints = []

    # Not quiet: the simulator names requests that break the service's rules on stderr.
    sim = Simulator(ctx.children, sim_program, [(surl, LATENCY_FILES)], extra=extra,
                    quiet=False, err_path=os.path.join(ctx.work, "sim-latency.stderr"))
    by_k = {}
    try:
        for parallel in PARALLEL_KS:
            by_k[parallel] = fold_runs(latency_runs(ctx, sim, sim.links[surl], parallel))
    finally:
        complaints += sim_complaints(sim.stop()[1])

    faults = [arg for fault in FLAKY_FAULTS for arg in ("--fault", fault)]
    sim = Simulator(ctx.children, sim_program, [(surl, LATENCY_FILES)], extra=extra + faults,
                    quiet=False, err_path=os.path.join(ctx.work, "sim-flaky.stderr"))
    try:
        flaky_runs = latency_runs(ctx, sim, sim.links[surl], FLAKY_PARALLEL, log_name="flaky")
    finally:
        complaints += sim_complaints(sim.stop()[1])

    # The job one request at a time, against the floor with its connection.
    one = by_k[1]
    floor = ratio = None
    if one["requests"] is not None and one["connections"] is not None:
        floor = (one["requests"] * LATENCY_MS
                 + statistics.median(one["connections"]) * CONNECT_LATENCY_MS) / 1000
        ratio = one["wall"] / floor
    lines = [
        "| share | wall (s) | runs (s) | requests | connections | floor (s) | wall / floor "
        "| exit |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
        f"| {LATENCY_FILES:,} files, `--parallel 1` | {one['wall']:.2f} | {one['walls']} "
        f"| {one['requests_text']} | {one['connections_text']} | {fmt(floor)} "
        f"| {fmt(ratio, '%.3f')} | {one['exits']} |",
        "",
        f"- wall ≤ {LATENCY_OVER_FLOOR:g}× floor: "
        + verdict(None if ratio is None else ratio <= LATENCY_OVER_FLOOR and one["exited_0"]),
        "- one connection per job: "
        + verdict(None if one["connections"] is None
                  else all(count == 1 for count in one["connections"])),
        "",
        f"Floor = requests × {LATENCY_MS} ms + connections × {CONNECT_LATENCY_MS} ms: the job "
        "asking one request at a time, which the program did before it asked several at once "
        "(the K = 1 runs of the next table).",
        "",
        "### Several requests in flight",
        "",
        "| K | wall (s) | runs (s) | requests | sequential floor (s) | wall / floor | target "
        "| | connections | ≤ K + 1 | exit |",
        "|---:|---:|---:|---:|---:|---:|---|---|---:|---|---:|",
    ]
    ratio_targets, connection_ok, all_exited = [], [], []
    for parallel, row in by_k.items():
        floor = row["requests"] * LATENCY_MS / 1000 if row["requests"] is not None else None
        ratio = row["wall"] / floor if floor else None
        target = PARALLEL_OVER_FLOOR.get(parallel)
        met = None
        if target is not None:
            met = None if ratio is None else ratio <= target and row["exited_0"]
            ratio_targets.append((parallel, target, ratio, met))
        limit = parallel + PARALLEL_EXTRA_CONNECTIONS
        conn_ok = (None if row["connections"] is None
                   else all(count <= limit for count in row["connections"]))
        connection_ok.append(conn_ok)
        all_exited.append(row["exited_0"])
        lines.append(
            f"| {parallel} | {row['wall']:.2f} | {row['walls']} | {row['requests_text']} "
            f"| {fmt(floor)} | {fmt(ratio, '%.3f')} "
            f"| {'≤ %.2f' % target if target is not None else ''} "
            f"| {verdict(met) if target is not None else ''} | {row['connections_text']} "
            f"| {verdict(conn_ok)} | {row['exits']} |")
    lines.append("")
    for parallel, target, ratio, met in ratio_targets:
        lines.append(f"- K = {parallel}: wall ≤ {target:.2f}× sequential floor: {verdict(met)}"
                     + (f" ({ratio:.3f})" if ratio is not None else ""))
    lines += [
        f"- connections ≤ K + {PARALLEL_EXTRA_CONNECTIONS} at every K, every run: "
        + verdict(None if None in connection_ok else all(connection_ok)),
        "- every run exit 0: " + verdict(all(all_exited)),
        "",
        f"Sequential floor = requests × {LATENCY_MS} ms: every request the job makes (the "
        "share page, one listing per folder, one link request per file) as if asked one after "
        f"another; the {CONNECT_LATENCY_MS} ms of each new connection are left out of it. Each "
        f"K: {LATENCY_RUNS} runs of `sharelink-cli --parallel K`, the median wall time; "
        "requests and connections: what the simulator counted during each run (`GET "
        "/__sim/stats` before and after it; one value when every run gave the same).",
        "",
        "### A flaky network",
        "",
        "| K | faults | wall (s) | runs (s) | links | retries in the log | requests "
        "| connections | exit | every link, exit 0 |",
        "|---:|---|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    flaky = fold_runs(flaky_runs)
    counts = [links_in_log(run["log"]) for run in flaky_runs]
    every_link = all(total == distinct == LATENCY_FILES for total, distinct, _ in counts)
    flaky_ok = every_link and flaky["exited_0"]
    lines += [
        f"| {FLAKY_PARALLEL} | {', '.join('`%s`' % fault for fault in FLAKY_FAULTS)} "
        f"| {flaky['wall']:.2f} | {flaky['walls']} "
        f"| {same_or_each([distinct for _, distinct, _ in counts], '%d')} of {LATENCY_FILES:,} "
        f"| {same_or_each([retries for _, _, retries in counts], '%d')} "
        f"| {flaky['requests_text']} | {flaky['connections_text']} | {flaky['exits']} "
        f"| {verdict(flaky_ok)} |",
        "",
        f"- every link, exit 0, in every run: {verdict(flaky_ok)}",
        "",
        "The same share and latency with the faults above: `close` ends the connection "
        "without an answer, `http500` answers status 500, on every K-th link request counted "
        f"from the simulator's start over the {LATENCY_RUNS} runs (where two fall on one "
        "request, the first listed wins). Links: distinct `下载地址: http…` lines in the job's "
        "log, every file's once and none missing for the target; retries: the log's lines "
        "announcing one. They are fewer than the faults: libcurl sends a request again on a "
        "new connection by itself when a reused one closes before any byte of the reply, "
        "which the log does not show.",
    ]
    if complaints:
        lines += ["", f"The simulator complained ({len(complaints)} lines), first ones:", "",
                  "```"] + complaints[:5] + ["```"]
    return "\n".join(lines)


def section_micro(ctx):
    json_path = os.path.join(ctx.build_dir, "bench-micro.json")
    argv = [ctx.bin("sharelink-bench"), "--benchmark_format=console", "--benchmark_color=false",
            f"--benchmark_out={json_path}", "--benchmark_out_format=json"]
    proc = ctx.children.start(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        console, _ = proc.communicate(timeout=480)
    except subprocess.TimeoutExpired:
        Children.stop(proc)
        raise RuntimeError("the micro benchmarks took more than 480 s")
    console = console.decode("utf-8", "replace")
    with open(json_path, encoding="utf-8") as text:
        results = json.load(text)["benchmarks"]
    rows = ["| benchmark | MB/s | MiB/s | target ≥ %g MB/s |" % THROUGHPUT_MB_S,
            "|---|---:|---:|---|"]
    checked = []
    for bench in results:
        rate = bench.get("bytes_per_second")
        if rate is None:
            continue
        mb_s = rate / 1e6
        ok = mb_s >= THROUGHPUT_MB_S if THROUGHPUT_NAME.search(bench["name"]) else None
        if ok is not None:
            checked.append(ok)
        rows.append(f"| {bench['name']} | {mb_s:,.1f} | {rate / 1048576:,.1f} "
                    f"| {'' if ok is None else verdict(ok)} |")
    table = console.strip().splitlines()
    return "\n".join(
        ["```"] + table + ["```", "",
                           "Throughput: `bytes_per_second` of every benchmark that sets it "
                           "(MB = 10^6 bytes; the console's M/s above are MiB/s).", ""]
        + rows + ["",
                  f"- benchmarks named Read/Parse/Data ≥ {THROUGHPUT_MB_S:g} MB/s: "
                  + verdict(all(checked) if checked else None)])


def section_soak(ctx):
    # The program measures itself and prints its own Markdown table; exit 1
    # means a target was missed or a job ended otherwise than its share must.
    proc = ctx.children.start([ctx.bin("sharelink-soak"), str(SOAK_JOBS)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = proc.communicate(timeout=600)
    except subprocess.TimeoutExpired:
        Children.stop(proc)
        raise RuntimeError("the soak run took more than 600 s")
    out = out.decode("utf-8", "replace").strip()
    err = err.decode("utf-8", "replace").strip()
    if proc.returncode not in (0, 1) or not out:
        raise RuntimeError(f"sharelink-soak ended with status {proc.returncode}: {err[-500:]}")
    lines = [out, "",
             "- RSS flat within 4 MiB over jobs 20..%d, no growth of descriptors or threads, "
             "every job ended as its share must: %s" % (SOAK_JOBS, verdict(proc.returncode == 0)),
             "",
             f"One process, one AppState, view and JobLauncher for all {SOAK_JOBS} jobs, in turn "
             "public, protected, download captcha answered, download captcha given up, invalid "
             "link and a share page whose connection the simulator closes; the simulator "
             "(demo shares) runs in the same process and is reset before each job. Figures after "
             "each job once descriptors and threads have held still for 20 ms (the simulator's "
             "threads close their ends of connections a moment later). Heap in use: "
             "`mallinfo2().uordblks` over all arenas; RSS growing well beyond it is the "
             "allocator's per-thread arenas (the simulator's 32 serving threads among them) "
             "filling up, not memory the program keeps."]
    if err:
        lines += ["", "What it wrote on stderr:", "", "```"] + err.splitlines()[:10] + ["```"]
    return "\n".join(lines)


def section_choice(ctx):
    # The program measures itself on a private display and prints "name value"
    # lines; each run is a new process, so that the first opening is measured
    # every time.
    xvfb, display = start_xvfb(ctx.children, os.path.join(ctx.work, "xvfb-choice.stderr"))
    runs = []
    try:
        for _ in range(CHOICE_RUNS):
            proc = ctx.children.start([ctx.bin("sharelink-choice-bench")],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      env=dict(os.environ, DISPLAY=display))
            try:
                out, err = proc.communicate(timeout=300)
            except subprocess.TimeoutExpired:
                Children.stop(proc)
                raise RuntimeError("sharelink-choice-bench took more than 300 s")
            if proc.returncode != 0:
                raise RuntimeError(f"sharelink-choice-bench ended with status {proc.returncode}: "
                                   + err.decode("utf-8", "replace")[-500:])
            figures = {}
            for line in out.decode("utf-8", "replace").splitlines():
                name, _, value = line.partition(" ")
                figures[name] = float(value)
            runs.append(figures)
    finally:
        Children.stop(xvfb)

    def median(name):
        return statistics.median(run[name] for run in runs)

    def each(name):
        return " / ".join("%.2f" % run[name] for run in runs)

    shape = runs[0]
    rows = [
        ("open: tree built, window made, shown and drawn", "open_ms", CHOICE_OPEN_MS),
        ("check a folder of 10,000 files, redrawn", "check_ms", CHOICE_CHECK_MS),
        ("scroll a page: longest step", "scroll_longest_ms", CHOICE_SCROLL_MS),
        ("scroll a page: mean step", "scroll_mean_ms", None),
    ]
    lines = [f"| measure | median of {CHOICE_RUNS} (ms) | runs (ms) | target | |",
             "|---|---:|---:|---|---|"]
    for label, name, target in rows:
        value = median(name)
        lines.append(f"| {label} | {value:.2f} | {each(name)} "
                     f"| {'< %d ms' % target if target else ''} "
                     f"| {verdict(value < target) if target else ''} |")
    notes = [
        f"The share: 100 folders of 100 files and one folder of 10,000 files: "
        f"{int(shape['files']):,} files in {int(shape['entries']):,} entries. Open: "
        "from building the tree (`ShareTree`) until the window's first full drawing has "
        "reached the X server (`Fl::flush`, `XSync`), after a small window has loaded the "
        "fonts as the main window would have. Check: `check_clicked` on the folder's row and "
        "the redraw, the longer of unchecking and checking again. Scroll: with that folder "
        f"open ({int(shape['rows']):,} rows), the list's scroll bar moved "
        f"{int(shape['page_rows'])} rows at a time from the top to the end "
        f"({int(shape['scroll_steps'])} steps), each redrawn and flushed. Each run a new "
        f"process on one Xvfb; `{ctx.bin('sharelink-choice-bench')}` with DISPLAY set.",
    ]
    return "\n".join(lines + [""] + notes)


def section_download(ctx):
    return download_bench.section(ctx)


def section_bigwindow(ctx):
    return big_window_bench.section(ctx)


def section_scroll(ctx):
    return scroll_bench.section(ctx)


# --- the results file -------------------------------------------------------------

TITLES = {
    "window": "1. Window and terminal on large shares",
    "cli": "2. Terminal program: peak memory",
    "latency": "3. Terminal program against a slow service",
    "micro": "4. Micro benchmarks",
    "soak": "5. Soak: many jobs in one process",
    "choice": "6. The window 选择文件 on 20,000 files",
    "download": "7. Downloading: ours against aria2c and curl",
    "bigwindow": "8. Window and terminal at 100,000 files",
    "scroll": "9. The window 下载 scrolling 10,000 files",
}


def commands(build, window_sizes):
    bin_ = build + "/bin"
    shape = f"{DEPTH},{FANOUT}"
    sizes = " ".join(f"--generate 1Bench{n}:{n},{shape}" for n in window_sizes)
    return "\n".join([
        "```sh",
        "scripts/install-deps",
        f"cmake -S . -B {build} -DCMAKE_BUILD_TYPE=Release -DSHARELINK_WERROR=ON",
        f"cmake --build {build} -j2 --target sharelink sharelink-cli sharelink-sim "
        "sharelink-bench",
        "# 1. window (LINK: a line the simulator prints; N: the display Xvfb picked)",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --quiet {sizes}",
        f"{bin_}/sharelink-cli --parallel {WINDOW_PARALLEL} LINK >/dev/null   # once for the "
        f"line count, then {CLI_RUNS} timed runs",
        "Xvfb -displayfd FD -screen 0 1280x1024x24 -nolisten tcp",
        "DISPLAY=:N SHARELINK_LOG_MIRROR=mirror.log SHARELINK_STALL_LOG=stall.txt "
        f"{bin_}/sharelink",
        f"xdotool search --sync --onlyvisible --name '{TITLE_REGEX}'",
        f"xdotool mousemove --window WIN {URL_BOX[0]} {URL_BOX[1]} click 1; "
        "xdotool key ctrl+a; xdotool type --delay 5 -- LINK",
        f"xdotool mousemove --window WIN {PARSE_BUTTON[0]} {PARSE_BUTTON[1]} click 1   "
        "# clock starts; stops when mirror.log holds CR LF, 88 '-', CR LF CR LF",
        "# then WM_DELETE_WINDOW to WIN (the close box; bench/bench.py sends it); "
        f"killed if not gone in 5 s; {WINDOW_RUNS} runs, each a new process",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --latency {LATENCY_MS} --connect-latency "
        f"{CONNECT_LATENCY_MS} --generate 1Slow{WINDOW_OVER_CLI_FILES}:"
        f"{WINDOW_OVER_CLI_FILES},{shape}",
        f"{bin_}/sharelink-cli --parallel {WINDOW_PARALLEL} LINK >cli.log   # once; then the "
        "window as above, once, on a new Xvfb",
        "# 2. cli",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --quiet --generate "
        f"1Bench{MEMORY_SIZE}:{MEMORY_SIZE},{shape}",
        f"/usr/bin/time -f '%M %e' -o cli-time.txt {bin_}/sharelink-cli LINK >/dev/null",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --quiet --generate "
        f"1Bench{BIG_SIZE}:{BIG_SIZE},{BIG_DEPTH},{BIG_FANOUT}",
        f"/usr/bin/time -f '%M %e' -o cli-time.txt {bin_}/sharelink-cli --parallel "
        f"{BIG_PARALLEL} LINK >/dev/null",
        "# 3. latency (requests and connections of a run: GET /__sim/stats before and after "
        "it)",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --latency {LATENCY_MS} --connect-latency "
        f"{CONNECT_LATENCY_MS} --generate 1Lat{LATENCY_FILES}:{LATENCY_FILES},{shape}",
        f"{bin_}/sharelink-cli --parallel K LINK >/dev/null   # K = "
        + " ".join(str(k) for k in PARALLEL_KS) + f", {LATENCY_RUNS} runs each",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --latency {LATENCY_MS} --connect-latency "
        f"{CONNECT_LATENCY_MS} " + " ".join("--fault " + fault for fault in FLAKY_FAULTS)
        + f" --generate 1Lat{LATENCY_FILES}:{LATENCY_FILES},{shape}",
        f"{bin_}/sharelink-cli --parallel {FLAKY_PARALLEL} LINK >flaky.log; "
        "grep -c '下载地址: http' flaky.log   "
        f"# {LATENCY_RUNS} runs",
        "# 4. micro",
        f"{bin_}/sharelink-bench --benchmark_format=console --benchmark_color=false "
        f"--benchmark_out={build}/bench-micro.json --benchmark_out_format=json",
        "# 5. soak",
        f"cmake --build {build} -j2 --target sharelink-soak",
        f"{bin_}/sharelink-soak {SOAK_JOBS}",
        "# 6. choice (N: the display Xvfb picked)",
        f"cmake --build {build} -j2 --target sharelink-choice-bench",
        f"DISPLAY=:N {bin_}/sharelink-choice-bench      # {CHOICE_RUNS} runs",
        *download_bench.commands(build),
        *big_window_bench.commands(build),
        *scroll_bench.commands(build),
        "```",
    ])


def first_line(path, key):
    try:
        with open(path, encoding="utf-8") as text:
            for line in text:
                if line.startswith(key):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def machine(repo):
    _, cores = run_tool(["nproc"])
    mem_kib = first_line("/proc/meminfo", "MemTotal").split()[0]
    _, commit = run_tool(["git", "-C", repo, "rev-parse", "--short=12", "HEAD"])
    _, dirty = run_tool(["git", "-C", repo, "status", "--porcelain", "--untracked-files=no"])
    _, compiler = run_tool(["c++", "--version"])
    uname = os.uname()
    with open("/proc/loadavg", encoding="utf-8") as text:
        load = " ".join(text.read().split()[:3])
    commit = commit.strip() + (" with uncommitted changes" if dirty.strip() else "")
    now = datetime.datetime.now().astimezone()
    return "\n".join([
        "| | |", "|---|---|",
        f"| cores (`nproc`) | {cores.strip()} |",
        f"| CPU | {first_line('/proc/cpuinfo', 'model name')} |",
        f"| memory | {int(mem_kib) / 1048576:.1f} GiB |" if mem_kib.isdigit()
        else "| memory | unknown |",
        f"| kernel | {uname.sysname} {uname.release} {uname.machine} |",
        f"| compiler | {compiler.splitlines()[0] if compiler else 'unknown'} |",
        f"| date of the last run | {now.isoformat(timespec='seconds')} |",
        f"| git commit | {commit} |",
        f"| load average at start | {load} (the machine is shared: figures are noisy) |",
    ]), commit


HEADER = """# sharelink benchmarks

What the program costs on large shares, in the window and on the terminal, how
close it comes to the latency floor of a slow service, the micro benchmarks, and
how its download compares with aria2c and curl.
Everything runs against the local simulator on 127.0.0.1, built Release.

Rerun all: `scripts/bench` (rewrites this file; a few minutes on two
cores). One section: `scripts/bench window|cli|latency|micro|soak|choice|download|bigwindow|scroll`
replaces only that section here (and the machine table, which describes the
last run) and prints it; each section says when and at which commit it was
measured.
`BENCH_SIZES="1000 3000"` limits the window section's share sizes; see
`scripts/bench` for the other settings.
"""


def block(name, body, stamp):
    return (f"<!-- section:{name} -->\n## {TITLES[name]}\n\n_{stamp}_\n\n{body}\n"
            f"<!-- /section:{name} -->")


def write_results(path, bodies, stamps, machine_text, build, window_sizes):
    old = ""
    if os.path.exists(path):
        with open(path, encoding="utf-8") as text:
            old = text.read()
    parts = [HEADER, "## Machine\n\n" + machine_text + "\n"]
    for name in SECTIONS:
        if name in bodies:
            parts.append(block(name, bodies[name], stamps[name]) + "\n")
            continue
        kept = re.search(rf"<!-- section:{name} -->.*?<!-- /section:{name} -->", old, re.S)
        parts.append((kept.group(0) if kept else
                      block(name, "Not measured yet: `scripts/bench %s`." % name, "Not measured."))
                     + "\n")
    parts.append("## Commands\n\n" + commands(build, window_sizes) + "\n")
    with open(path + ".tmp", "w", encoding="utf-8") as text:
        text.write("\n".join(parts))
    os.replace(path + ".tmp", path)


class Context:
    def __init__(self, args, children, work):
        self.build_dir = args.build_dir
        self.children = children
        self.work = work
        self.sizes = args.sizes
        self.window_limit_s = args.window_limit_s

    def bin(self, name):
        return os.path.join(self.build_dir, "bin", name)

    @staticmethod
    def log(text):
        print("bench: " + text, file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--results", required=True)
    parser.add_argument("--sizes", type=lambda s: [int(n) for n in s.replace(",", " ").split()],
                        default=list(SIZES))
    parser.add_argument("--window-limit-s", type=float, default=0,
                        help="deadline of one window resolve (default: 0.09 s per file, "
                             "at least 120 s)")
    parser.add_argument("sections", nargs="*", metavar="SECTION", help=" | ".join(SECTIONS))
    args = parser.parse_args()
    unknown = [name for name in args.sections if name not in SECTIONS]
    if unknown:
        parser.error("unknown section " + ", ".join(unknown))
    sections = args.sections or list(SECTIONS)
    for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(number, on_stop_signal)

    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    children = Children()
    work = tempfile.mkdtemp(prefix="sharelink-bench-")
    ctx = Context(args, children, work)
    bodies, stamps = {}, {}
    failed = False
    machine_text, commit = machine(repo)
    run_started = time.monotonic()
    try:
        for name in sections:
            ctx.log(f"{name} ...")
            started = time.monotonic()
            when = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
            try:
                bodies[name] = globals()["section_" + name](ctx)
            except Exception as error:  # one broken section must not lose the others
                failed = True
                bodies[name] = f"Failed: {type(error).__name__}: {error}"
            finally:
                children.stop_all()
            took = time.monotonic() - started
            stamps[name] = f"Measured {when} at {commit}; took {took:.0f} s."
            ctx.log(f"{name} done in {took:.0f} s")
            print(f"\n## {TITLES[name]}\n\n{bodies[name]}\n", flush=True)
        ctx.log(f"all done in {time.monotonic() - run_started:.0f} s")
    except (Stop, KeyboardInterrupt) as stop:
        children.stop_all()
        number = stop.args[0] if isinstance(stop, Stop) else signal.SIGINT
        ctx.log(f"stopped by {signal.Signals(number).name}; {args.results} left as it was")
        return 128 + number
    finally:
        children.stop_all()
        if failed or os.environ.get("BENCH_KEEP_WORK"):
            ctx.log(f"work files kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    write_results(args.results, bodies, stamps, machine_text, args.build_dir, args.sizes)
    ctx.log(f"wrote {args.results}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
