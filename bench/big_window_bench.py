"""The bigwindow section of bench/bench.py: the window against the terminal
program on one generated share of 100,000 files (a report of some 56 MB), and
the window's peak memory. Where the log box's cost grows with the text already
in it, this is where it shows.
"""

import os
import statistics

import bench

FILES, DEPTH, FANOUT = 100000, 3, 10
RUNS = 3  # of each program; the median is reported
WINDOW_OVER_CLI = 1.5
PEAK_RSS_MIB = 200
# A run beyond this is far off target; the box of FLTK's own took 167 s.
RUN_LIMIT_S = 600.0
# Measured the same way before the log box of its own (app/fltk/log_box.*):
# the toolkit's text editor counted and copied its whole text on every append.
BEFORE = ("Before the log box of its own (FLTK's `Fl_Text_Editor`): window 167 s "
          "against 13 s for the terminal program (12.7×), peak 336 MiB, as the issue "
          "measured it; {measured}")
BEFORE_MEASURED = ("here, one run while other builds ran and under `perf record -F 199`: "
                   "window 309.7 s against 20.4 s (15.2×), peak 276.7 MiB, longest stall "
                   "1,834 ms; 62 % of its time counting the lines of the whole text on "
                   "every append, some 25 % copying the whole text into a larger block "
                   "and faulting in its pages.")


def time_path(ctx, number):
    return os.path.join(ctx.work, f"bigwindow-time-{number}.txt")


def peak_mib(path):
    """The peak RSS that /usr/bin/time wrote, None when it wrote none."""
    try:
        with open(path, encoding="utf-8") as text:
            fields = text.read().split()
        return int(fields[-1]) / 1024
    except (OSError, ValueError, IndexError):
        return None


def section(ctx):
    surl = f"1Big{FILES}"
    sim = bench.Simulator(ctx.children, ctx.bin("sharelink-sim"), [(surl, FILES)],
                          shape=(DEPTH, FANOUT))
    link = sim.links[surl]
    options = ("--parallel", str(bench.WINDOW_PARALLEL))
    cli, cli_status, windows = [], [], []
    try:
        out = os.path.join(ctx.work, "bigwindow-cli.txt")
        for _ in range(RUNS):
            seconds, status = bench.time_cli(ctx.children, ctx.bin("sharelink-cli"), link, out,
                                             timeout_s=RUN_LIMIT_S, options=options)
            cli.append(seconds)
            cli_status.append(status)
            ctx.log(f"bigwindow CLI: {seconds:.2f} s, exit {status}")
        with open(out, "rb") as text:
            cli_lines = text.read().count(b"\r\n")
        xvfb, display = bench.start_xvfb(ctx.children, os.path.join(ctx.work, "xvfb-big.stderr"))
        try:
            for number in range(RUNS):
                report = time_path(ctx, number)
                gui = ["/usr/bin/time", "-f", "%M", "-o", report, ctx.bin("sharelink")]
                run = bench.window_run(ctx.children, gui, display, link, ctx.work, FILES,
                                       RUN_LIMIT_S, name=f"big-{number}")
                run["peak_mib"] = peak_mib(report)
                windows.append(run)
                ctx.log(f"bigwindow window: {run}")
        finally:
            bench.Children.stop(xvfb)
    finally:
        sim.stop()
    return report_lines(cli, cli_status, cli_lines, windows)


def report_lines(cli, cli_status, cli_lines, windows):
    times = [run["window_s"] for run in windows]
    peaks = [run["peak_mib"] for run in windows]
    cli_s = statistics.median(cli)
    window_s = None if None in times else statistics.median(times)
    peak = None if None in peaks else max(peaks)
    ratio = window_s / cli_s if window_s else None
    cli_ok = all(status == 0 for status in cli_status)
    lines = [
        "| files | CLI (s) | CLI runs (s) | window (s) | window runs (s) | window / CLI "
        "| window peak RSS (MiB) | log lines (window / CLI) | longest stall (ms) | window exit |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
        f"| {FILES:,} | {cli_s:.2f}{'' if cli_ok else ' (failed)'} "
        f"| {' / '.join('%.2f' % s for s in cli)} | {bench.fmt(window_s, '%.2f', 'timeout')} "
        f"| {' / '.join(bench.fmt(s, '%.2f', 'timeout') for s in times)} "
        f"| {bench.fmt(ratio)} | {bench.fmt(peak, '%.1f')} "
        f"| {bench.same_or_each([run['lines'] for run in windows], '%s')} / {cli_lines} "
        f"| {bench.fmt(max((r['stall_ms'] for r in windows if r['stall_ms'] is not None), default=None), '%g')} "
        f"| {bench.same_or_each([run['exit'] for run in windows])} |",
        "",
        f"- window ≤ {WINDOW_OVER_CLI:g}× CLI: "
        + bench.verdict(None if ratio is None else ratio <= WINDOW_OVER_CLI and cli_ok)
        + (f" ({ratio:.2f}×)" if ratio else ""),
        f"- window peak RSS ≤ {PEAK_RSS_MIB} MiB: "
        + bench.verdict(None if peak is None else peak <= PEAK_RSS_MIB),
        "",
        f"One share of {FILES:,} files over {DEPTH} levels of {FANOUT} sub-folders, no added "
        f"latency. CLI: `sharelink-cli --parallel {bench.WINDOW_PARALLEL}` (the window's K), "
        f"{RUNS} runs, stdout to a file. Window: timed as in section 1, under "
        f"`/usr/bin/time -f %M` for its peak RSS (the highest of the runs), {RUNS} runs, each "
        "a new process on one Xvfb; medians of both.",
        "",
        BEFORE.format(measured=BEFORE_MEASURED),
    ]
    return "\n".join(lines)


def commands(build):
    bin_ = build + "/bin"
    return [
        "# 8. bigwindow",
        f"{bin_}/sharelink-sim --host 127.0.0.1 --quiet --generate "
        f"1Big{FILES}:{FILES},{DEPTH},{FANOUT}",
        f"{bin_}/sharelink-cli --parallel {bench.WINDOW_PARALLEL} LINK >cli.txt   # {RUNS} runs",
        "DISPLAY=:N SHARELINK_LOG_MIRROR=mirror.log SHARELINK_STALL_LOG=stall.txt "
        f"/usr/bin/time -f %M -o time.txt {bin_}/sharelink   # then as in 1; {RUNS} runs",
    ]
