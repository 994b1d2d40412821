#!/usr/bin/env python3
"""Prints the benchmark results of one run as one table.

Reads the Google Benchmark JSON files and the Java harness outputs that
tools/run-benchmarks leaves in a folder. Each figure of ours is put beside
the peer it is measured against (another implementation of the same work)
or the floor (the least the work can cost, such as a bare copy); the ratio
is ours / theirs, so below 1 is faster than the peer.

A benchmark is paired by the rules below; one that no rule names is listed
on its own, so that a new benchmark shows up before its rule is written.
"""
import json
import pathlib
import re
import sys

# (program, figure pattern, peer name made from the figure's match, kind)
RULES = [
    ("resample_benchmark", r"ResampleArea/(\d+)", r"BM_OpenCV_INTER_AREA/\1", "peer"),
    ("resample_benchmark", r"ResampleAreaTurned/(\d+)", r"BM_OpenCV_INTER_AREA/\1", "peer"),
    ("vxr_capture_benchmark", r"DeviceWaitAndDeliver/(\d+)", r"DirectGetImage/\1", "floor"),
    ("v100_execute_benchmark", r"BM_GetCompositeImage", r"BM_CopyFloor", "floor"),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def google_medians(path):
    """Median real time in ns and label of each benchmark in one JSON file."""
    data = json.loads(path.read_text())
    medians = {}
    for b in data.get("benchmarks", []):
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"])
        medians[name] = (b["real_time"] * UNIT_NS[b.get("time_unit", "ns")], b.get("label", ""))
    return medians


def show(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.1f} us"
    return f"{ns:.0f} ns"


def google_rows(folder):
    rows = []
    for path in sorted(folder.glob("*.json")):
        program = path.stem
        medians = google_medians(path)
        used = set()
        for rule_program, figure, peer, kind in RULES:
            if rule_program != program:
                continue
            for name, (ns, label) in medians.items():
                match = re.fullmatch(figure, name)
                if not match:
                    continue
                peer_name = match.expand(peer)
                used.update({name, peer_name})
                what = f"{program}: {name}" + (f" [{label}]" if label else "")
                if peer_name in medians:
                    peer_ns = medians[peer_name][0]
                    rows.append((what, show(ns), f"{kind} {peer_name}", show(peer_ns),
                                 f"{ns / peer_ns:.2f}"))
                else:
                    rows.append((what, show(ns), f"{kind} {peer_name} (missing)", "-", "-"))
        for name, (ns, label) in sorted(medians.items()):
            if name not in used:
                rows.append((f"{program}: {name}", show(ns), "(no rule)", "-", "-"))
    return rows


def nimage_rows(path):
    # size  operation  NImage  ImageIO  copyOf  IIO/NImg  NImg/copy
    rows = []
    line = re.compile(r"(\S+)\s+(load / read|save / write)\s+([\d.]+) us\s+([\d.]+) us\s+"
                      r"([\d.]+) us")
    for m in line.finditer(path.read_text()):
        size, operation = m.group(1), m.group(2)
        ours, peer, copy = (float(m.group(i)) * 1e3 for i in (3, 4, 5))
        ours_op, peer_op = operation.split(" / ")
        what = f"NImage {ours_op}BMP {size}"
        rows.append((what, show(ours), f"peer ImageIO.{peer_op}", show(peer), f"{ours / peer:.2f}"))
        rows.append((what, show(ours), "floor Arrays.copyOf", show(copy), f"{ours / copy:.2f}"))
    return rows


def nfrecord_rows(path):
    rows = []
    line = re.compile(r"(\d+) minutiae: native walk\s+([\d.]+) ns/record.*Java peer\s+([\d.]+) "
                      r"ns/record")
    for m in line.finditer(path.read_text()):
        ours, peer = float(m.group(2)), float(m.group(3))
        rows.append((f"NFRecord.getMinutiae, {m.group(1)} minutiae", show(ours),
                     "peer decoding in Java", show(peer), f"{ours / peer:.2f}"))
    return rows


def main():
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build/bench/results")
    rows = google_rows(folder)
    if (folder / "NImageBench.txt").exists():
        rows += nimage_rows(folder / "NImageBench.txt")
    if (folder / "NFRecordBench.txt").exists():
        rows += nfrecord_rows(folder / "NFRecordBench.txt")
    if not rows:
        sys.exit(f"no results in {folder}")
    header = ("figure", "time", "peer or floor", "its time", "ratio")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths)] + rows:
        print("  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())


if __name__ == "__main__":
    main()
