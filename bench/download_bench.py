"""The download section of bench/bench.py: the terminal program's own download
against what a user could do before it, `sharelink-cli --aria2` then aria2c (or
curl), all against the simulator's content host and timed from the share link.

  (a) 2 x 24 MiB at 2 MiB/s per connection, 8 connections: the floor is
      bytes / (8 x rate) = 3.0 s;
  (b) 300 files of 64 KiB in 10 folders, 20 ms a service request, 8 at a time:
      here overlapping the downloads with the link requests is the lead;
  (c) 1 GiB unthrottled: rate against curl on a link of the same share, and the
      program's peak RSS.

Each case runs RUNS times; the median and the range are reported, and the
downloaded files are deleted after every run.
"""

import filecmp
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import time

import bench

MIB = 1 << 20
RUNS = 3
CONNECTIONS = 8
# A run that outlives this has hung: (a) takes some 3 s, (c) some 10 s.
RUN_LIMIT_S = 120.0

BIG_FILES, BIG_SIZE, BIG_RATE = 2, 24 * MIB, 2 * MIB
FLOOR_OVER = 1.05
SMALL_FOLDERS, SMALL_PER_FOLDER, SMALL_SIZE, SMALL_LATENCY_MS = 10, 30, 64 << 10, 20
SMALL_OVER_ARIA2 = 0.8
HUGE_SIZE = 1 << 30
HUGE_OVER_CURL = 0.8
HUGE_RSS_MIB = 64

# aria2c gets the same budget of 8 connections. For two big files there are two
# ways to spend it, both measured; the target is against the faster. For many
# small files a file never gets a second connection (64 KiB is below twice
# --min-split-size), so 8 files at once is the only way to use 8.
ARIA2_COMMON = ("--file-allocation=none", "--min-split-size=1M", "-q")
ARIA2_BIG = (("-j1", "-x8", "-s8"), ("-j2", "-x4", "-s4"))
ARIA2_SMALL = ("-j8", "-x1", "-s1")
MANIFEST = ".sharelink-download.json"


# --- the simulator and the runs ------------------------------------------------


def write_fixture(path, surl, tree, options):
    share = {"surl": surl, "shareid": 4301000001, "uk": 1103000001, "tree": tree}
    with open(path, "w", encoding="utf-8") as text:
        json.dump({"options": options, "shares": [share]}, text)


def start_sim(ctx, fixture, surl, name):
    """The simulator serving one fixture; (process, share link, stderr path)."""
    err_path = os.path.join(ctx.work, f"sim-{name}.stderr")
    argv = [ctx.bin("sharelink-sim"), "--host", "127.0.0.1", fixture]
    with open(err_path, "wb") as err:
        proc = ctx.children.start(argv, stdout=subprocess.PIPE, stderr=err)
    # The port, then the one share of the fixture.
    for line in bench.read_lines(proc, 2, 60.0)[1:]:
        link = line.split(" ")[0]
        if link.startswith("http") and link.rsplit("/", 1)[-1] == surl:
            return proc, link, err_path
    bench.Children.stop(proc)
    with open(err_path, "rb") as err:
        said = err.read().decode("utf-8", "replace").strip()[-300:]
    raise RuntimeError(f"the simulator did not offer {surl}: {' '.join(argv)}: {said}")


def stop_sim(proc, err_path, case):
    """Stops it; keeps in case the lines it wrote on stderr besides its closing
    counts, and the content host's connections and bytes from those."""
    bench.Children.stop(proc, grace_s=10.0)
    proc.stdout.close()
    with open(err_path, "rb") as err:
        said = err.read().decode("utf-8", "replace")
    case.complaints = bench.sim_complaints(said)
    counts = re.search(r"content: (\d+) connections, (\d+) bytes", said)
    case.served = (int(counts.group(1)), int(counts.group(2))) if counts else None


def timed(ctx, argv, log_path, rss=False):
    """Runs argv to its end, stdout and stderr into log_path: wall seconds, exit
    status (a text when ended at the deadline), peak RSS in MiB (or None)."""
    report = log_path + ".rss"
    if rss:
        argv = ["/usr/bin/time", "-f", "%M", "-o", report] + argv
    with open(log_path, "wb") as out:
        start = time.perf_counter()
        # A group of its own: GNU time dies of a SIGTERM without passing it on,
        # and the program under it must not go on downloading.
        proc = ctx.children.start(argv, stdout=out, stderr=subprocess.STDOUT,
                                  start_new_session=True)
        status = None
        try:
            status = proc.wait(RUN_LIMIT_S)
        except subprocess.TimeoutExpired:
            status = f"killed after {RUN_LIMIT_S:g} s"
        finally:
            if proc.returncode is None:  # the deadline, or a stop of the bench
                end_group(proc)
        wall = time.perf_counter() - start
    peak = None
    if rss and os.path.exists(report):
        with open(report, encoding="utf-8") as text:
            fields = text.read().split()
        # GNU time notes a failed command on a line of its own before the figure.
        peak = int(fields[-1]) / 1024 if fields and fields[-1].isdigit() else None
    return wall, status, peak


def end_group(proc):
    """Ends a running proc and the processes of its group."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(proc.pid, sig)
            proc.wait(5)
            return
        except ProcessLookupError:
            return
        except subprocess.TimeoutExpired:
            continue


def files_under(folder):
    """{path below folder: size} of the files there, the download's record left out."""
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if relative != MANIFEST:
                found[relative] = os.path.getsize(path)
    return found


def size_fault(folder, expected):
    """None when folder holds exactly the expected files at their sizes, else what differs."""
    found = files_under(folder)
    if found == expected:
        return None
    missing = sorted(set(expected) - set(found))
    extra = sorted(set(found) - set(expected))
    wrong = sorted(p for p in set(found) & set(expected) if found[p] != expected[p])
    parts = [f"{len(missing)} missing (first {missing[0]})" if missing else "",
             f"{len(extra)} unexpected (first {extra[0]})" if extra else "",
             f"{len(wrong)} of the wrong size (first {wrong[0]}: {found[wrong[0]]} of "
             f"{expected[wrong[0]]} bytes)" if wrong else ""]
    return f"{folder}: " + ", ".join(part for part in parts if part)


def same_bytes(left, right, expected):
    """None when every expected file is byte-equal in both folders, else the first that is not."""
    for relative in sorted(expected):
        one, other = os.path.join(left, relative), os.path.join(right, relative)
        if expected[relative] > 64 * MIB:
            equal = subprocess.run(["cmp", "-s", one, other]).returncode == 0
        else:
            equal = filecmp.cmp(one, other, shallow=False)
        if not equal:
            return f"{relative} differs between {left} and {right}"
    return None


def tail(path, lines=3):
    try:
        with open(path, "rb") as text:
            said = text.read().decode("utf-8", "replace").replace("\r", "").strip()
    except OSError:
        return ""
    return " | ".join(said.splitlines()[-lines:])


class Case:
    """One case's runs: per program, each run's wall, peak RSS and failures."""

    def __init__(self, ctx, link, expected, name):
        self.ctx, self.link, self.expected, self.name = ctx, link, expected, name
        self.walls, self.parts, self.rss = {}, {}, {}
        self.faults = []  # (program, what went wrong); "bytes" for a comparison
        self.complaints = []
        self.served = None  # (connections, bytes) of the content host over all runs
        self.fetched = 0  # bytes the runs' checks found on disk

    def record(self, program, wall, status, log, folder=None, peak=None, part=None):
        self.walls.setdefault(program, []).append(wall)
        if part is not None:
            self.parts.setdefault(program, []).append(part)
        if peak is not None:
            self.rss.setdefault(program, []).append(peak)
        fault = None
        if status != 0:
            fault = f"{program}: exit {status}: {tail(log)}"
        elif folder is not None:
            fault = size_fault(folder, self.expected)
        if fault:
            self.faults.append((program, fault))
        elif folder is not None:
            self.fetched += sum(self.expected.values())
        self.ctx.log(f"download {self.name} {program}: {wall:.2f} s, exit {status}"
                     + (f", {peak:.1f} MiB" if peak else "") + (f"; {fault}" if fault else ""))
        return fault is None

    def resolve(self):
        """The share resolved alone, no download: the fixed cost in ours' wall."""
        log = os.path.join(self.ctx.work, "resolve.log")
        wall, status, _ = timed(self.ctx, [self.ctx.bin("sharelink-cli"), self.link], log)
        return self.record("resolve", wall, status, log)

    def ours(self, folder, options=()):
        log = folder + ".log"
        argv = [self.ctx.bin("sharelink-cli"), "--download", folder, "--connections",
                str(CONNECTIONS), *options, self.link]
        wall, status, peak = timed(self.ctx, argv, log, rss=True)
        if status == 0 and "下载结束" not in tail(log, 5):
            status = "0 without the closing 下载结束 line"
        return self.record("ours", wall, status, log, folder, peak)

    def export(self, program, path, options=()):
        """`sharelink-cli --aria2 path` for program: (wall, ok)."""
        log = path + ".log"
        argv = [self.ctx.bin("sharelink-cli"), *options, "--aria2", path, self.link]
        wall, status, _ = timed(self.ctx, argv, log)
        if status != 0:
            self.faults.append((program, f"the export for {program}: exit {status}: {tail(log)}"))
        return wall, status == 0

    def aria2(self, program, folder, split, export_options=()):
        """The export then aria2c, timed together from the share link."""
        listing = folder + ".aria2.txt"
        start = time.perf_counter()
        export_wall, exported = self.export(program, listing, export_options)
        log = folder + ".aria2c.log"
        # -q keeps the console quiet; the reasons of a failure go to its log file.
        argv = ["aria2c", "-i", listing, "-d", folder, *split, *ARIA2_COMMON, "-l", log + ".err",
                "--log-level=error"]
        status = "export failed"
        if exported:
            _, status, _ = timed(self.ctx, argv, log)
        wall = time.perf_counter() - start
        return self.record(program, wall, status, log, folder, part=export_wall)

    def compare(self, ours, theirs, program):
        fault = same_bytes(ours, theirs, self.expected)
        if fault:
            self.faults.append(("bytes", f"ours against {program}: {fault}"))
        return fault is None

    def median(self, program):
        return statistics.median(self.walls[program])

    def spread(self, program):
        runs = self.walls[program]
        return f"{min(runs):.2f} – {max(runs):.2f}"


def remove(*paths):
    for path in paths:
        if os.path.isdir(path):
            shutil.rmtree(path, ignore_errors=True)
        elif os.path.exists(path):
            os.remove(path)


def aria2_name(split):
    return "aria2c " + " ".join(split)


# --- the cases -----------------------------------------------------------------


def case_big(ctx):
    tree = [{"name": f"part{n + 1}.bin", "size": BIG_SIZE} for n in range(BIG_FILES)]
    fixture = os.path.join(ctx.work, "download-big.json")
    write_fixture(fixture, "1DlBig", tree, {"content": {"rate": BIG_RATE}})
    expected = {entry["name"]: entry["size"] for entry in tree}
    proc, link, err = start_sim(ctx, fixture, "1DlBig", "download-big")
    case = Case(ctx, link, expected, "a")
    try:
        for run in range(RUNS):
            ours = os.path.join(ctx.work, "big-ours")
            case.resolve()
            ours_ok = case.ours(ours)
            for number, split in enumerate(ARIA2_BIG):
                theirs = os.path.join(ctx.work, f"big-aria2-{number}")
                if case.aria2(aria2_name(split), theirs, split) and ours_ok and run == 0:
                    case.compare(ours, theirs, aria2_name(split))
                remove(theirs, theirs + ".aria2.txt")
            remove(ours)
    finally:
        stop_sim(proc, err, case)
    return case


def case_small(ctx):
    tree = [{"name": f"folder{f + 1:02d}",
             "children": [{"name": f"file{n + 1:03d}.dat", "size": SMALL_SIZE}
                          for n in range(SMALL_PER_FOLDER)]} for f in range(SMALL_FOLDERS)]
    fixture = os.path.join(ctx.work, "download-small.json")
    write_fixture(fixture, "1DlSmall", tree, {"latency_ms": SMALL_LATENCY_MS})
    expected = {os.path.join(folder["name"], entry["name"]): entry["size"]
                for folder in tree for entry in folder["children"]}
    proc, link, err = start_sim(ctx, fixture, "1DlSmall", "download-small")
    case = Case(ctx, link, expected, "b")
    parallel = ("--parallel", str(CONNECTIONS))
    try:
        for run in range(RUNS):
            ours = os.path.join(ctx.work, "small-ours")
            theirs = os.path.join(ctx.work, "small-aria2")
            ours_ok = case.ours(ours, parallel)
            theirs_ok = case.aria2(aria2_name(ARIA2_SMALL), theirs, ARIA2_SMALL, parallel)
            if ours_ok and theirs_ok and run == 0:
                case.compare(ours, theirs, "aria2c")
            remove(ours, theirs, theirs + ".aria2.txt")
    finally:
        stop_sim(proc, err, case)
    return case


def read_export(path):
    """The first link of an aria2 input file and the User-Agent it names."""
    link = agent = None
    with open(path, encoding="utf-8") as text:
        for line in text:
            if not line.startswith((" ", "\t")) and line.strip() and link is None:
                link = line.strip()
            elif line.strip().startswith("user-agent=") and agent is None:
                agent = line.strip()[len("user-agent="):]
    return link, agent


def case_huge(ctx):
    tree = [{"name": "huge.bin", "size": HUGE_SIZE}]
    fixture = os.path.join(ctx.work, "download-huge.json")
    write_fixture(fixture, "1DlHuge", tree, {})
    proc, link, err = start_sim(ctx, fixture, "1DlHuge", "download-huge")
    case = Case(ctx, link, {"huge.bin": HUGE_SIZE}, "c")
    try:
        for run in range(RUNS):
            ours = os.path.join(ctx.work, "huge-ours")
            theirs = os.path.join(ctx.work, "huge-curl")
            ours_ok = case.ours(ours)
            listing = theirs + ".aria2.txt"
            _, exported = case.export("curl", listing)
            url, agent = read_export(listing) if exported else (None, None)
            if exported and not (url and agent):
                case.faults.append(("curl", f"{listing} names no link or no User-Agent"))
            elif exported:
                os.makedirs(theirs, exist_ok=True)
                log = theirs + ".curl.log"
                argv = ["curl", "-sS", "-f", "-L", "-o", os.path.join(theirs, "huge.bin"), "-A",
                        agent, url]
                wall, status, peak = timed(ctx, argv, log, rss=True)
                if case.record("curl", wall, status, log, theirs, peak) and ours_ok and run == 0:
                    case.compare(ours, theirs, "curl")
            remove(ours, theirs, listing)
    finally:
        stop_sim(proc, err, case)
    return case


# --- the section -----------------------------------------------------------------


def check_ready(ctx):
    """Raises with a clear message when a program the section needs is missing."""
    for program in ("sharelink-cli", "sharelink-sim"):
        if not os.access(ctx.bin(program), os.X_OK):
            raise RuntimeError(f"{ctx.bin(program)} is missing; build it (scripts/bench download "
                               "without BENCH_NO_BUILD)")
    missing = [tool for tool in ("aria2c", "curl", "cmp") if not shutil.which(tool)]
    if not os.access("/usr/bin/time", os.X_OK):
        missing.append("/usr/bin/time")
    if missing:
        raise RuntimeError(f"missing: {', '.join(missing)} (scripts/install-deps installs them)")
    _, cli_help = bench.run_tool([ctx.bin("sharelink-cli"), "--help"])
    _, sim_help = bench.run_tool([ctx.bin("sharelink-sim"), "--help"])
    if "--download" not in cli_help or "--connections" not in cli_help:
        raise RuntimeError("this sharelink-cli has no --download or --connections; rebuild it")
    if "--rate" not in sim_help:
        raise RuntimeError("this sharelink-sim has no content host knobs (--rate); rebuild it")
    free = shutil.disk_usage(ctx.work).free
    if free < 2 * HUGE_SIZE + 512 * MIB:
        raise RuntimeError(f"{ctx.work} has {free / MIB:.0f} MiB free; case (c) needs "
                           f"{(2 * HUGE_SIZE + 512 * MIB) / MIB:.0f} MiB")


def failed(case, program):
    return any(name == program for name, _ in case.faults)


def row(case, label, program, command, total_bytes):
    if program not in case.walls:
        return f"| {label} | {command} | not run | | | | |"
    wall = case.median(program)
    parts = case.parts.get(program)
    rss = case.rss.get(program)
    return (f"| {label} | {command} | {wall:.2f} | {case.spread(program)} "
            f"| {bench.fmt(statistics.median(parts) if parts else None, '%.2f', '')} "
            f"| {bench.fmt(total_bytes and total_bytes / MIB / wall, '%.1f', '')} "
            f"| {bench.fmt(max(rss) if rss else None, '%.1f', '')} |")


def target(text, ok, figure=""):
    return f"- {text}: {bench.verdict(ok)}" + (f" ({figure})" if figure and ok is not None else "")


def ratio_target(case, text, other, ratio_of, limit, at_least=False):
    """A target on a ratio of ours' median wall with a limit or another program's;
    n/a when a figure is missing or the other program failed, not met when ours failed."""
    if "ours" not in case.walls or (other and (other not in case.walls or failed(case, other))):
        return target(text, None)
    ratio = ratio_of(case)
    ok = ratio >= limit if at_least else ratio <= limit
    return target(text, ok and not failed(case, "ours"), f"{ratio:.3f}")


def net_line(case, floor):
    """Ours' download after its resolve, which the floor leaves out."""
    if "ours" not in case.walls or "resolve" not in case.walls:
        return "- (a) ours less the resolve alone: n/a"
    net = case.median("ours") - case.median("resolve")
    return (f"- (a) ours less the resolve alone: {net:.2f} s, {net / floor:.3f}× the floor "
            "(to read the first target by; no target of its own)")


def section(ctx):
    check_ready(ctx)
    big, small, huge = case_big(ctx), case_small(ctx), case_huge(ctx)
    big_bytes, small_bytes = BIG_FILES * BIG_SIZE, len(small.expected) * SMALL_SIZE
    floor = big_bytes / (CONNECTIONS * BIG_RATE)
    ours = f"`sharelink-cli --download DIR --connections {CONNECTIONS}"
    aria2 = "`sharelink-cli --aria2 F LINK` + `aria2c -i F -d DIR "
    splits = [split for split in ARIA2_BIG if aria2_name(split) in big.walls]
    best = min(splits, key=lambda split: big.median(aria2_name(split))) if splits else None
    lines = [
        f"| case | program | median wall of {RUNS} (s) | range (s) | of which the export (s) "
        "| MiB/s | peak RSS (MiB) |",
        "|---|---|---:|---:|---:|---:|---:|",
        row(big, "(a) 2 × 24 MiB, 2 MiB/s a connection", "ours", ours + " LINK`", big_bytes),
        row(big, "(a)", "resolve", "`sharelink-cli LINK` (no download: the resolve in ours' "
            "wall)", None),
    ] + [row(big, "(a)", aria2_name(split), aria2 + " ".join(split) + "`", big_bytes)
         for split in ARIA2_BIG] + [
        row(small, "(b) 300 × 64 KiB in 10 folders, 20 ms a request", "ours",
            ours + f" --parallel {CONNECTIONS} LINK`", small_bytes),
        row(small, "(b)", aria2_name(ARIA2_SMALL),
            f"`sharelink-cli --parallel {CONNECTIONS} --aria2 F LINK` + `aria2c -i F -d DIR "
            + " ".join(ARIA2_SMALL) + "`", small_bytes),
        row(huge, "(c) 1 GiB unthrottled", "ours", ours + " LINK`", HUGE_SIZE),
        row(huge, "(c)", "curl", "`curl -sS -f -L -o FILE -A UA URL`", HUGE_SIZE),
        "",
        ratio_target(big, f"(a) ours ≤ {FLOOR_OVER:g}× the floor of {floor:.2f} s (bytes / "
                     f"({CONNECTIONS} × rate))", None, lambda case: case.median("ours") / floor,
                     FLOOR_OVER),
        ratio_target(big, "(a) ours not slower than export + aria2c"
                     + (f" (its faster split, {' '.join(best)})" if best else ""),
                     aria2_name(best) if best else "aria2c",
                     lambda case: case.median("ours") / case.median(aria2_name(best)), 1.0),
        net_line(big, floor),
        ratio_target(small, f"(b) ours ≤ {SMALL_OVER_ARIA2:g}× export + aria2c",
                     aria2_name(ARIA2_SMALL),
                     lambda case: case.median("ours") / case.median(aria2_name(ARIA2_SMALL)),
                     SMALL_OVER_ARIA2),
        ratio_target(huge, f"(c) ours ≥ {HUGE_OVER_CURL:g}× curl's MiB/s", "curl",
                     lambda case: case.median("curl") / case.median("ours"), HUGE_OVER_CURL,
                     at_least=True),
    ]
    peak = max(huge.rss["ours"]) if huge.rss.get("ours") else None
    lines.append(target(f"(c) ours' peak RSS ≤ {HUGE_RSS_MIB} MiB in every run",
                        None if peak is None else peak <= HUGE_RSS_MIB, f"{peak or 0:.1f} MiB"))
    faults = [text for _, text in big.faults + small.faults + huge.faults]
    lines.append(target("every run exit 0 with every file at its listed size, ours byte-equal "
                        "to aria2c's and curl's files (first run)", not faults))
    lines += ["", *notes(floor), "", served_line((big, small, huge))]
    if faults:
        lines += ["", f"What went wrong ({len(faults)}), first ones:", "", "```"] + \
            faults[:8] + ["```"]
    complaints = big.complaints + small.complaints + huge.complaints
    if complaints:
        lines += ["", f"The simulator complained ({len(complaints)} lines), first ones:", "",
                  "```"] + complaints[:5] + ["```"]
    return "\n".join(lines)


def notes(floor):
    return [
        "Each a simulator of its own with a fixture in the bench's temporary folder: (a) the "
        "content host throttles every response to 2 MiB/s (`\"content\": {\"rate\": "
        f"{BIG_RATE}}}`), (b) every service request, the content host's included, waits "
        f"{SMALL_LATENCY_MS} ms (`\"latency_ms\": {SMALL_LATENCY_MS}`), (c) no throttle. Wall: "
        "from starting `sharelink-cli` until the last program ends, the files complete on disk "
        f"(page cache, no fsync): for aria2c the export and aria2c one after the other, both "
        "counted; MiB/s: the case's bytes / the median wall. curl cannot resolve a share, so "
        "its wall is its own transfer alone, of the link and User-Agent an export "
        "(`sharelink-cli --aria2`, not timed) wrote, following the link's redirect to the "
        "content host; ours' wall holds its resolve too. Peak RSS: `/usr/bin/time -f %M`. "
        f"Every aria2c run also has `{' '.join(ARIA2_COMMON)}` and `-l FILE "
        "--log-level=error` (the reasons of a failure, for this table).",
        "",
        f"aria2c gets ours' budget of {CONNECTIONS} connections. For the two files of (a) it "
        "can spend them two ways, both measured, and the target is against the faster: "
        "`-j1 -x8 -s8` (one file at a time, 8 pieces of 3 MiB each) or `-j2 -x4 -s4` (both "
        "at once, 4 each); at 2 MiB/s a connection either has the same floor of "
        f"{floor:.2f} s. In (b) a 64 KiB file never gets a second connection (it is below "
        "twice `--min-split-size`), so `-j8` is the only way for it to use 8.",
        "",
        f"{RUNS} runs of each, the downloaded files deleted after every run (the disk is "
        "shared); each run checks that the folder holds every file of the share at its listed "
        "size, and the first run compares ours' files byte by byte with aria2c's (a, b) and "
        "curl's (c).",
    ]


def served_line(cases):
    """What the content host sent against what the runs kept: the waste of
    pieces fetched twice or cut off, of both programs together."""
    parts = []
    for label, case in zip("abc", cases):
        if case.served is None:
            parts.append(f"({label}) n/a")
            continue
        connections, sent = case.served
        parts.append(f"({label}) {sent / MIB:,.1f} MiB over {connections} connections for "
                     f"{case.fetched / MIB:,.1f} MiB of complete files")
    return ("Content host, all runs and programs of a case together (its count on stderr "
            "when stopped): " + "; ".join(parts) + ".")


def commands(build):
    bin_ = build + "/bin"
    aria2 = f"aria2c -i F -d DIR2 {' '.join(ARIA2_COMMON)}"
    return [
        "# 7. download (fixtures written into the temporary folder: see bench/download_bench.py)",
        f"{bin_}/sharelink-sim --host 127.0.0.1 FIXTURE.json",
        f"/usr/bin/time -f %M {bin_}/sharelink-cli --download DIR --connections {CONNECTIONS} "
        "LINK   # (b): also --parallel 8",
        f"{bin_}/sharelink-cli --aria2 F LINK && {aria2} -j1 -x8 -s8   # (a); then -j2 -x4 -s4",
        f"{bin_}/sharelink-cli --parallel 8 --aria2 F LINK && {aria2} -j8 -x1 -s1   # (b)",
        f"{bin_}/sharelink-cli --aria2 F LINK; curl -sS -f -L -o FILE -A UA URL   # (c): URL "
        "and UA from F",
        f"# {RUNS} runs of each, files deleted between runs",
    ]
