#!/usr/bin/env python3
"""Prints the benchmark results of one run as one table.

Reads what tools/run-benchmarks leaves in a folder: for each Google
Benchmark program <name>.json (the aggregates) and <name>.txt (its standard
output), for each Java harness <name>.txt, and <name>.failed for a program
that did not finish. Each figure of ours is put beside the peer it is
measured against (another implementation of the same work) or the floor
(the least the work can cost, such as a bare copy), with their ratio and the
goal an issue set for it.

The ratio is ours / theirs in the figure's own unit: for times below 1 is
faster than the peer, for rates (per second) above 1 is. A goal is a bound
on the ratio or on the figure itself, and is marked met or MISSED.

A benchmark that no rule names is listed on its own, so that a new one shows
up before its rule is written. A program named by a rule that left no
results, or failed, is marked FAILED and the exit status is 1.

    bench_table.py [FOLDER]      (default build/bench/results)
"""
import json
import math
import pathlib
import re
import sys
from dataclasses import dataclass
from typing import Callable, Optional

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


@dataclass(frozen=True)
class Goal:
    """A bound on the ratio ("ratio") or on the figure ("value")."""
    on: str
    op: str
    limit: float
    text: str

    def met(self, value, ratio):
        x = ratio if self.on == "ratio" else value
        if x is None or math.isnan(x):
            return None
        return {"<=": x <= self.limit, ">=": x >= self.limit, "<": x < self.limit}[self.op]


def at_most(limit, text=None, on="ratio"):
    return Goal(on, "<=", limit, text or f"ratio <= {limit:g}")


def at_least(limit, text=None, on="ratio"):
    return Goal(on, ">=", limit, text or f"ratio >= {limit:g}")


# --- Figures and their display ----------------------------------------------


@dataclass(frozen=True)
class Figure:
    value: float
    kind: str  # "ns", "bytes/s", "items/s", "count", "fraction", "percent", "KiB"

    def show(self):
        v, k = self.value, self.kind
        if k == "ns":
            if v >= 1e6:
                return f"{v / 1e6:.2f} ms"
            if v >= 1e3:
                return f"{v / 1e3:.1f} us"
            return f"{v:.0f} ns"
        if k == "bytes/s":
            return f"{v / 1e6:.0f} MB/s" if v >= 1e6 else f"{v / 1e3:.1f} kB/s"
        if k == "items/s":
            return f"{v:.0f} /s"
        if k == "fraction":
            return f"{v:.3f}"
        if k == "percent":
            return f"{100 * v:.2f} %"
        if k == "KiB":
            return f"{v:+.0f} KiB"
        return f"{v:.2f}".rstrip("0").rstrip(".")


# --- Reading a results folder ------------------------------------------------


class Results:
    """Everything one run left in its folder."""

    def __init__(self, folder):
        self.folder = pathlib.Path(folder)
        self.google = {}  # program -> {benchmark name -> median entry}
        self.texts = {}  # program or harness -> standard output
        self.failed = {}  # program -> why
        for path in sorted(self.folder.glob("*.json")):
            try:
                self.google[path.stem] = google_medians(path)
            except (ValueError, KeyError) as e:
                self.failed[path.stem] = f"unreadable results ({e})"
        for path in sorted(self.folder.glob("*.txt")):
            self.texts[path.stem] = path.read_text(errors="replace")
        for path in sorted(self.folder.glob("*.failed")):
            lines = path.read_text(errors="replace").strip().splitlines()
            self.failed[path.stem] = lines[0] if lines else "failed"
        self.used = set()  # (program, benchmark) named by a rule

    def entry(self, program, name):
        entries = self.google.get(program, {})
        if name in entries:
            self.used.add((program, name))
            return entries[name]
        return None


OPTIONS = re.compile(r"/(?:iterations|min_time|min_warmup_time|repeats|threads):[\d.]+|"
                     r"/(?:real_time|manual_time|process_time)")


def google_medians(path):
    """The median aggregate (or the single run) of each benchmark of a file,
    times in ns."""
    data = json.loads(path.read_text())
    medians = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        # The run's name without the options Google Benchmark appends
        # ("/iterations:300", "/min_time:3.000", "/real_time").
        name = OPTIONS.sub("", b.get("run_name", b["name"]))
        if b.get("run_type") != "aggregate" and name in medians:
            continue  # repetitions without aggregates: the first stands
        if b.get("error_occurred"):
            medians[name] = {"error": b.get("error_message", "error")}
            continue
        unit = UNIT_NS[b.get("time_unit", "ns")]
        entry = dict(b)
        entry["real_ns"] = b["real_time"] * unit
        entry["cpu_ns"] = b["cpu_time"] * unit
        medians[name] = entry
    return medians


MEASURES = {
    "time": ("real_ns", "ns"),
    "cpu": ("cpu_ns", "ns"),
    "bytes/s": ("bytes_per_second", "bytes/s"),
    "items/s": ("items_per_second", "items/s"),
}


def measure(entry, how):
    """A figure of a Google Benchmark entry: a time, a rate or a counter
    ("counter:name", or "counter_us:name" for one in microseconds)."""
    if entry is None or "error" in entry:
        return None
    scale = 1.0
    if how in MEASURES:
        key, kind = MEASURES[how]
    else:
        source, key = how.split(":", 1)
        kind, scale = ("ns", 1e3) if source == "counter_us" else ("count", 1.0)
    if key not in entry:
        return None
    return Figure(float(entry[key]) * scale, kind)


# --- Rows ------------------------------------------------------------------


@dataclass
class Row:
    figure: str
    ours: Optional[Figure]
    peer: str = ""
    theirs: Optional[Figure] = None
    goal: Optional[Goal] = None
    note: str = ""

    def ratio(self):
        if self.ours is None or self.theirs is None or self.theirs.value == 0:
            return None
        return self.ours.value / self.theirs.value

    def cells(self):
        ratio = self.ratio()
        verdict = ""
        if self.ours is None:
            verdict = self.note or "FAILED"
        elif self.goal is not None:
            ok = self.goal.met(self.ours.value, ratio)
            verdict = {True: "met", False: "MISSED", None: "?"}[ok]
        return (self.figure, self.ours.show() if self.ours else "-", self.peer,
                self.theirs.show() if self.theirs else ("-" if self.peer else ""),
                ("" if ratio is None else f"{ratio:.2f}" if ratio >= 0.1 else f"{ratio:.4f}"), self.goal.text if self.goal else "",
                verdict)


# Google Benchmark pairs: (program, figure pattern, measure, peer pattern made
# from the figure's match or None, "peer"/"floor", goal, description). A
# pattern with no match yields nothing; a peer missing is said so.
GOOGLE_RULES = [
    ("resample_benchmark", r"ResampleArea/(\d+)", "time", r"BM_OpenCV_INTER_AREA/\1", "peer",
     at_most(1.0), "area resampling, case \\1"),
    ("resample_benchmark", r"ResampleAreaTurned/(\d+)", "time", r"BM_OpenCV_INTER_AREA/\1",
     "peer", at_most(1.0), "area resampling turned, case \\1"),
    ("vxr_capture_benchmark", r"DeviceWaitAndDeliver/(\d+)", "time", r"DirectGetImage/\1",
     "floor", None, "capture device wait+deliver, size \\1"),
    ("v100_execute_benchmark", r"BM_GetCompositeImage", "time", r"BM_CopyFloor", "floor", None,
     "V100 GetCompositeImage in process"),
    ("v100_transport_benchmark", r"BM_ExecuteOverUsbFifos", "bytes/s", r"BM_BareFifoCopy",
     "floor", at_least(0.8), "V100 image exchange over USB FIFOs"),
    ("v100_transport_benchmark", r"BM_ExecuteThroughServicePipe", "bytes/s", r"BM_BareFifoCopy",
     "floor", None, "V100 image exchange through the service"),
    ("v100_transport_benchmark", r"BM_XModemOurs", "bytes/s", r"BM_XModemLrzsz", "peer", None,
     "XMODEM 16 KiB over a pty"),
    ("vxr_lumidigm_benchmark", r"BM_PluginGetImage", "items/s", r"BM_DirectSameExchanges",
     "peer", at_least(0.8), "Lumidigm images through VXR_GetImage"),
    ("vxr_lumidigm_benchmark", r"BM_PluginGetImage", "items/s", r"BM_DirectExecute", "peer",
     None, "Lumidigm images through VXR_GetImage, against the 4-exchange cycle"),
    ("vxr_lumidigm_benchmark", r"BM_PluginGetImage", "counter:calls_per_image", None, "", None,
     "Lumidigm VXR_GetImage calls per image"),
    ("vxr_lumidigm_benchmark", r"BM_ExchangesPerImage/(\d)", "counter:exchanges_per_image", None,
     "", None, "Lumidigm exchanges per image, arming scheme \\1"),
    ("virdi_benchmark", r"BM_PluginGetImage", "time", r"BM_StandInCapture", "floor", None,
     "Virdi image through VXR_GetImage 320x480"),
    ("reader_manager_benchmark", r"FirstCall", "time", None, "", None,
     "reader list, first call (loads modules)"),
    ("reader_manager_benchmark", r"LaterCalls", "time", None, "", None, "reader list, later calls"),
    ("reader_manager_benchmark", r"FirstCall", "counter:readers", None, "", None,
     "reader list, readers found"),
    ("reader_manager_benchmark", r"FpsmmImagePath/(\d)", "time", r"BareCopy/\1", "floor", None,
     "FPSmm image to OnImage, size \\1"),
    ("dp_capture_benchmark", r"BM_(MessagePathSleep10ms|MessagePathWait10ms|EventPath)",
     "counter_us:median_us", r"BM_ResampleOnly", "floor", None,
     "DigitalPersona \\1 latency, median"),
    ("dp_capture_benchmark", r"BM_(MessagePathSleep10ms|MessagePathWait10ms|EventPath)",
     "counter_us:p99_us", r"BM_ResampleOnly", "floor", None, "DigitalPersona \\1 latency, p99"),
    ("extract_benchmark", r"BM_Extract/320/365", "cpu", None, "", at_most(15e6, "<= 15 ms", "value"),
     "open engine extract 320x365, CPU"),
    ("extract_benchmark", r"BM_Extract/(\d+)/(\d+)", "cpu", r"BM_Nbis/\1/\2", "peer",
     at_most(1.0), "open engine extract \\1x\\2, CPU"),
    ("extract_benchmark", r"BM_ExportPath", "cpu", r"BM_Extract/320/365", "floor", None,
     "open engine extract+export 320x365, CPU"),
    ("extractor_benchmark", r"BM_LibraryExtractor", "cpu", r"BM_EngineDirect", "floor", None,
     "library extractor over the engine, CPU"),
    ("matcher_benchmark", r"BM_Compare", "cpu", None, "", at_most(20e3, "<= 20 us", "value"),
     "matcher 1:1 comparison, CPU"),
    ("matcher_benchmark", r"BM_Identify/10000", "cpu", None, "",
     at_most(50e6, "<= 50 ms", "value"), "matcher identification among 10000, CPU"),
    ("matcher_benchmark", r"BM_Identify/(1000|10000)", "cpu", r"BM_IdentifyExhaustive/\1",
     "plain", None, "matcher identification among \\1, CPU"),
    # The curve: the cost per entry at each size beside the cost per entry
    # among 1,000; at most 1 is no worse than linear.
    ("matcher_benchmark", r"BM_Identify/(\d+)", "counter:ns_per_entry", r"BM_Identify/1000",
     "from", at_most(1.0), "matcher identification among \\1, ns per entry"),
]


def google_rows(results):
    rows = []
    for program, pattern, how, peer_pattern, kind, goal, label in GOOGLE_RULES:
        for name in sorted(results.google.get(program, {})):
            match = re.fullmatch(pattern, name)
            if not match:
                continue
            entry = results.entry(program, name)
            row = Row(match.expand(label), measure(entry, how), goal=goal)
            if entry is not None and "error" in entry:
                row.note = f"FAILED: {entry['error']}"
            if peer_pattern:
                peer_name = match.expand(peer_pattern)
                peer_entry = results.entry(program, peer_name)
                # A counter is compared with the same counter of the peer.
                row.peer = f"{kind} {peer_name}"
                row.theirs = measure(peer_entry, how)
                if peer_entry is None:
                    row.peer += " (missing)"
            rows.append(row)
    for program in sorted(results.google):
        for name in sorted(results.google[program]):
            if (program, name) in results.used:
                continue
            entry = results.google[program][name]
            rows.append(Row(f"{program}: {name}", measure(entry, "time"), "(no rule)",
                            note=f"FAILED: {entry.get('error')}" if "error" in entry else ""))
    return rows


# --- Text outputs --------------------------------------------------------------

QUALITY_LINE = re.compile(
    r"^(clean|noise \S+|blur \S+|wet \S+|dry \S+|moved\+distorted\+partial|all degraded)\s+(\d+)"
    r"\s+([\d.]+)\s+([\d.]+)(?:\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+))?\s*$",
    re.M)
REPEATABILITY = re.compile(r"^repeatability \(([^)]*)\): ([\d.]+)", re.M)


# The goals on the engine's own rule (10 px and 30 degrees): (precision,
# recall) at least.
QUALITY_GOALS = {"clean": (0.99, 0.95), "all degraded": (0.97, 0.90)}

SIDE_BY_SIDE = re.compile(r"^within 10 px, vs NBIS\b.*$", re.M)
SIDE_LINE = re.compile(
    r"^(clean|noise \S+|blur \S+|wet \S+|dry \S+|moved\+distorted\+partial|all degraded)\s+(\d+)"
    r"\s+([\d.]+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+|-)\s+([\d.]+|-)\s+([\d.]+|-)\s*$")
NBIS = "peer NBIS (libfprint)"


def quality_rows(text):
    """The open engine's quality table (extract_benchmark's standard
    output): precision and recall against the ground truth, then the same
    impressions beside NIST's detector."""
    side = SIDE_BY_SIDE.search(text)
    own, beside = (text[:side.start()], text[side.end():]) if side else (text, "")
    rows = []
    for m in QUALITY_LINE.finditer(own):
        name = m.group(1)
        p, r = float(m.group(3)), float(m.group(4))
        goals = QUALITY_GOALS.get(name, (None, None))
        what = f"open engine minutiae, {name} ({m.group(2)})"
        for label, value, goal in (("precision", p, goals[0]), ("recall", r, goals[1])):
            rows.append(Row(f"{what} {label}", Figure(value, "fraction"),
                            goal=at_least(goal, f">= {goal:g}", "value") if goal else None))
        if name == "clean" and m.group(6):
            for label, i in (("core precision", 6), ("core recall", 7), ("delta precision", 8),
                             ("delta recall", 9)):
                rows.append(Row(f"open engine {label}, clean", Figure(float(m.group(i)),
                                                                        "fraction")))
    for m in REPEATABILITY.finditer(text):
        rows.append(Row(f"open engine repeatability ({m.group(1)})",
                        Figure(float(m.group(2)), "fraction"),
                        goal=at_least(0.8, ">= 0.8", "value")))
    # Each line up to the first blank one: ours, then NBIS's ("-" when the
    # benchmark was built without it).
    for line in beside.strip("\n").split("\n\n")[0].splitlines():
        m = SIDE_LINE.match(line)
        if not m:
            continue
        what = f"open engine within 10 px, {m.group(1)} ({m.group(2)})"
        theirs = [None if v == "-" else float(v) for v in m.group(6, 7, 8)]
        for i, (label, kind, goal) in enumerate((("precision", "fraction", at_least(1.0)),
                                                 ("recall", "fraction", at_least(1.0)),
                                                 ("ms per image, CPU", "ns", at_most(1.0)))):
            scale = 1e6 if kind == "ns" else 1.0
            ours = float(m.group(3 + i)) * scale
            peer = None if theirs[i] is None else Figure(theirs[i] * scale, kind)
            rows.append(Row(f"{what} {label}", Figure(ours, kind),
                            NBIS if peer else NBIS + " (missing)", peer, goal=goal))
    return rows


NIMAGE_LINE = re.compile(r"(\S+)\s+(load / read|save / write)\s+([\d.]+) us\s+([\d.]+) us\s+"
                         r"([\d.]+) us")


def nimage_rows(text):
    # size  operation  NImage  ImageIO  copyOf  IIO/NImg  NImg/copy
    rows = []
    for m in NIMAGE_LINE.finditer(text):
        size, operation = m.group(1), m.group(2)
        ours, peer, copy = (Figure(float(m.group(i)) * 1e3, "ns") for i in (3, 4, 5))
        ours_op, peer_op = operation.split(" / ")
        what = f"NImage {ours_op}BMP {size}"
        rows.append(Row(what, ours, f"peer ImageIO.{peer_op}", peer,
                        goal=at_most(0.02, "ratio <= 0.02 (50x faster)")))
        rows.append(Row(what, ours, "floor Arrays.copyOf", copy, goal=at_most(5.0)))
    return rows


NFRECORD_LINE = re.compile(r"(\d+) minutiae: native (?:walk|read)\s+([\d.]+) ns/record.*Java peer"
                           r"\s+([\d.]+) ns/record")


def nfrecord_rows(text):
    return [Row(f"NFRecord.getMinutiae, {m.group(1)} minutiae", Figure(float(m.group(2)), "ns"),
                "peer decoding in Java", Figure(float(m.group(3)), "ns"), goal=at_most(2.0))
            for m in NFRECORD_LINE.finditer(text)]


THROUGHPUT = re.compile(r"([\dx]+): ([\d.]+) events/s at the listener; plug-in produced ([\d.]+) "
                        r"images/s")
RESIDENT = re.compile(r"resident: (-?\d+) KiB after (\d+) events, (-?\d+) KiB after (\d+) more")
LATENCY = re.compile(r"([\dx]+), 1 ms apart: .*median ([\d.]+) us, p99 ([\d.]+) us")
READERS = re.compile(r"readers (\d+) at (\d+)/s, ([\dx]+): slowest reader ([\d.]+) images/s; "
                     r"([\d.]+) us CPU per image \(([\d.]+)% of one core\); .*median ([\d.]+) us, "
                     r"p99 ([\d.]+) us")
# Readers at once whose pace, CPU per image and latency have goals.
READERS_GOAL = 8


def scanner_rows(throughput, latency):
    rows = []
    for m in THROUGHPUT.finditer(throughput or ""):
        rows.append(Row(f"Java scanner events {m.group(1)}", Figure(float(m.group(2)), "items/s"),
                        "floor plug-in images meanwhile", Figure(float(m.group(3)), "items/s"),
                        goal=at_least(0.9)))
    for m in RESIDENT.finditer(throughput or ""):
        grown = float(m.group(3)) - float(m.group(1))
        rows.append(Row(f"Java scanner resident growth over {m.group(4)} events",
                        Figure(grown, "KiB"), goal=at_most(1024, "<= 1024 KiB", "value")))
    for m in LATENCY.finditer(latency or ""):
        rows.append(Row(f"Java scanner latency {m.group(1)}, median",
                        Figure(float(m.group(2)) * 1e3, "ns"), goal=Goal("value", "<", 1e6, "< 1 ms")))
        rows.append(Row(f"Java scanner latency {m.group(1)}, p99",
                        Figure(float(m.group(3)) * 1e3, "ns")))
    return rows


def readers_rows(text):
    """Readers capturing at once at a real reader's pace: the slowest one's
    rate beside that pace, CPU per image beside one reader's, latency."""
    rows = []
    one = None
    for m in READERS.finditer(text or ""):
        n, pace, size = int(m.group(1)), float(m.group(2)), m.group(3)
        cpu = Figure(float(m.group(5)) * 1e3, "ns")
        if n == 1:
            one = cpu
        goal = n == READERS_GOAL
        rows.append(Row(f"Java scanners {size}, {n} at once, slowest reader's images/s",
                        Figure(float(m.group(4)), "count"), "floor the reader's pace",
                        Figure(pace, "count"), goal=at_least(0.95) if goal else None))
        rows.append(Row(f"Java scanners {size}, {n} at once, CPU per image", cpu,
                        "floor 1 reader" if n > 1 else "", one if n > 1 else None,
                        goal=at_most(1.2) if goal and one else None))
        rows.append(Row(f"Java scanners {size}, {n} at once, CPU use of one core",
                        Figure(float(m.group(6)) / 100, "percent")))
        rows.append(Row(f"Java scanners {size}, {n} at once, latency median",
                        Figure(float(m.group(7)) * 1e3, "ns"),
                        goal=Goal("value", "<", 1e6, "< 1 ms")))
    return rows


INNER_EXTRACT = re.compile(r"innerExtract (\d+) x (\d+) over (\d+) calls: wall median ([\d.]+) ms.*"
                           r"CPU median ([\d.]+) ms")


def extractor_java_rows(results, engine, recorder):
    """innerExtract from Java with the open engine and with the recording
    engine (the library's own cost), beside the engine called directly."""
    direct = measure(results.entry("extractor_benchmark", "BM_EngineDirect"), "cpu")
    rows = []
    for text, what, goal in ((engine, "open engine", None),
                             (recorder, "library's own cost (recording engine)",
                              at_most(0.02, "ratio <= 0.02"))):
        for m in INNER_EXTRACT.finditer(text or ""):
            rows.append(Row(f"Java innerExtract {m.group(1)}x{m.group(2)}, {what}, CPU",
                            Figure(float(m.group(5)) * 1e6, "ns"),
                            "floor engine direct (extractor_benchmark)", direct, goal=goal))
    return rows


MATCHER_SET = re.compile(r"^matcher accuracy: (\d+) fingers x (\d+) impressions", re.M)
MATCHER_EER = re.compile(r"^matcher EER ([\d.]+)", re.M)
MATCHER_FNMR = re.compile(r"^matcher FNMR at FMR ([\d.e-]+): ([\d.]+)", re.M)
MATCHER_RANK = re.compile(r"^matcher rank-1 identification among (\d+): ([\d.]+), exhaustive "
                          r"([\d.]+)", re.M)
MATCHER_PEER = re.compile(r"^matcher peer libfprint FMR ([\d.]+) FNMR ([\d.]+)\n"
                          r"matcher peer ours at the same FMR: FMR ([\d.]+) FNMR ([\d.]+)", re.M)
# (FMR, FNMR at most) set for the matcher.
MATCHER_FNMR_GOALS = {0.001: 0.03}
LIBFPRINT = "peer libfprint (bozorth3)"


def matcher_rows(text):
    """The matcher's accuracy (matcher_benchmark's standard output): error
    rates over every pair of impressions, rank-1 identification narrowed
    and exhaustive, and libfprint's trials scored by both."""
    rows = []
    m = MATCHER_SET.search(text)
    if not m:
        return rows
    on = f"{m.group(1)} fingers x {m.group(2)}"
    m = MATCHER_EER.search(text)
    if m:
        rows.append(Row(f"matcher EER ({on})", Figure(float(m.group(1)), "percent"),
                        goal=at_most(0.01, "<= 1 %", "value")))
    for m in MATCHER_FNMR.finditer(text):
        fmr = float(m.group(1))
        goal = MATCHER_FNMR_GOALS.get(fmr)
        rows.append(Row(f"matcher FNMR at FMR {100 * fmr:g} % ({on})",
                        Figure(float(m.group(2)), "percent"),
                        goal=at_most(goal, f"<= {100 * goal:g} %", "value") if goal else None))
    for m in MATCHER_RANK.finditer(text):
        rows.append(Row(f"matcher rank-1 identification among {m.group(1)}",
                        Figure(float(m.group(2)), "percent"), "plain exhaustive search",
                        Figure(float(m.group(3)), "percent")))
    m = MATCHER_PEER.search(text)
    if m:
        point = f"libfprint's operating point (its FMR {100 * float(m.group(1)):.2f} %)"
        rows.append(Row(f"matcher FNMR at {point}", Figure(float(m.group(4)), "percent"),
                        LIBFPRINT, Figure(float(m.group(2)), "percent"),
                        goal=Goal("ratio", "<", 1.0, "ratio < 1")))
        rows.append(Row(f"matcher FMR at {point}", Figure(float(m.group(3)), "percent"),
                        LIBFPRINT, Figure(float(m.group(1)), "percent")))
    else:
        rows.append(Row("matcher beside libfprint", None, LIBFPRINT + " (missing)",
                        note="no trials"))
    return rows


# Every source the table expects, and the rows made from it; a source that
# left nothing is reported.
def text_rows(results):
    t = results.texts
    rows = []
    rows += quality_rows(t.get("extract_benchmark", ""))
    rows += matcher_rows(t.get("matcher_benchmark", ""))
    rows += extractor_java_rows(results, t.get("NFExtractorBench.engine"),
                                t.get("NFExtractorBench.recorder"))
    rows += nimage_rows(t.get("NImageBench", ""))
    rows += nfrecord_rows(t.get("NFRecordBench", ""))
    rows += scanner_rows(t.get("ScannerBench.throughput"), t.get("ScannerBench.latency"))
    rows += readers_rows(t.get("ScannerBench.readers"))
    return rows


EXPECTED = sorted({rule[0] for rule in GOOGLE_RULES} | {
    "NFExtractorBench.engine", "NFExtractorBench.recorder", "NImageBench", "NFRecordBench",
    "ScannerBench.throughput", "ScannerBench.latency", "ScannerBench.readers", "libfprint_peer"})


def failure_rows(results):
    rows = []
    for name in EXPECTED:
        if name in results.failed:
            rows.append(Row(name, None, note=f"FAILED: {results.failed[name]}"))
        elif name not in results.google and name not in results.texts:
            rows.append(Row(name, None, note="FAILED: no results"))
    for name in sorted(set(results.failed) - set(EXPECTED)):
        rows.append(Row(name, None, note=f"FAILED: {results.failed[name]}"))
    return rows


def all_rows(results):
    return google_rows(results) + text_rows(results) + failure_rows(results)


def table(results):
    rows = all_rows(results)
    header = ("figure", "ours", "peer or floor", "theirs", "ratio", "goal", "")
    cells = [row.cells() for row in rows]
    widths = [max(len(c[i]) for c in cells + [header]) for i in range(len(header))]
    lines = ["  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip()
             for row in [header, tuple("-" * w for w in widths)] + cells]
    failed = any(row.ours is None or row.note.startswith("FAILED") for row in rows)
    return lines, failed


def main(argv):
    folder = pathlib.Path(argv[1] if len(argv) > 1 else "build/bench/results")
    if not folder.is_dir():
        print(f"no results folder {folder}", file=sys.stderr)
        return 2
    lines, failed = table(Results(folder))
    print("\n".join(lines))
    load = folder / "load"
    if load.exists():
        print("\nload average (1, 5, 15 min) before and after: " +
              " / ".join(load.read_text().split("\n")[:2]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
