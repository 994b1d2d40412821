#!/usr/bin/env python3
"""bench_table.py over the stored results of one run (bench_results/, what
tools/run-benchmarks left on a loaded machine), and over copies of them
changed one way per case: a program that failed, timed out or left nothing,
a benchmark that reported an error or has no rule, a figure moved to either
side of its goal."""
import contextlib
import io
import json
import pathlib
import shutil
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
import bench_table  # noqa: E402

SAMPLE = HERE / "bench_results"
COLUMNS = ("figure", "ours", "peer", "theirs", "ratio", "goal", "verdict")


def table_of(folder):
    """{figure | peer: {column: cell}} as printed, and the exit status."""
    rows = {}
    for row in bench_table.all_rows(bench_table.Results(folder)):
        cells = dict(zip(COLUMNS, row.cells()))
        key = cells["figure"] + (f" | {cells['peer']}" if cells["peer"] else "")
        rows[key] = cells
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = bench_table.main(["bench_table.py", str(folder)])
    return rows, status, out.getvalue()


def edit_json(program, change):
    def edit(folder):
        path = folder / f"{program}.json"
        data = json.loads(path.read_text())
        for b in data["benchmarks"]:
            change(b, data["benchmarks"])
        path.write_text(json.dumps(data))
    return edit


def drop_benchmarks(program, prefix):
    def edit(folder):
        path = folder / f"{program}.json"
        data = json.loads(path.read_text())
        data["benchmarks"] = [b for b in data["benchmarks"]
                              if not b["run_name"].startswith(prefix)]
        path.write_text(json.dumps(data))
    return edit


def median_of(benchmarks, run_name, field):
    return next(b[field] for b in benchmarks
                if b["run_name"] == run_name and b.get("aggregate_name") == "median")


def replace_text(name, old, new):
    def change(folder):
        path = folder / f"{name}.txt"
        text = path.read_text()
        assert old in text, (name, old)
        path.write_text(text.replace(old, new))
    return change


def remove(name):
    return lambda folder: (folder / name).unlink()


def write(name, text):
    return lambda folder: (folder / name).write_text(text)


def both(*changes):
    def change(folder):
        for c in changes:
            c(folder)
    return change


def add_benchmark(entry):
    def edit(folder):
        path = folder / "virdi_benchmark.json"
        data = json.loads(path.read_text())
        data["benchmarks"].append(entry)
        path.write_text(json.dumps(data))
    return edit


USB = "V100 image exchange over USB FIFOs | floor BM_BareFifoCopy"
RESAMPLE = "area resampling, case 0 | peer BM_OpenCV_INTER_AREA/0"
CLEAN_RECALL = "open engine minutiae, clean (40) recall"
NBIS_RECALL = "open engine within 10 px, clean (40) recall | peer NBIS (libfprint)"
EVENTS = "Java scanner events 352x288 | floor plug-in images meanwhile"
RESIDENT = "Java scanner resident growth over 10000 events"
NIMAGE = "NImage loadBMP 320x365 | peer ImageIO.read"
MATCHER_PEER = ("matcher FNMR at libfprint's operating point (its FMR 2.50 %) | "
                "peer libfprint (bozorth3)")
MATCHER_EER = "matcher EER (24 fingers x 8)"
CURVE = "matcher identification among 3000, ns per entry | from BM_Identify/1000"
PACE8 = "Java scanners 352x288, 8 at once, slowest reader's images/s | floor the reader's pace"
CPU8 = "Java scanners 352x288, 8 at once, CPU per image | floor 1 reader"

# (what, change of the sample, expected {row: {column: cell}} where a cell
# ending in "..." gives its start, rows that must be absent, exit status)
CASES = [
    ("the stored run as it is", None, {
        RESAMPLE: {"ours": "800.3 us", "theirs": "1.58 ms", "ratio": "0.51", "goal": "ratio <= 1",
                   "verdict": "met"},
        USB: {"ours": "289 MB/s", "theirs": "477 MB/s", "ratio": "0.61", "verdict": "MISSED"},
        "Lumidigm exchanges per image, arming scheme 1": {"ours": "8", "ratio": ""},
        "Lumidigm exchanges per image, arming scheme 4": {"ours": "11"},
        "DigitalPersona EventPath latency, median | floor BM_ResampleOnly":
            {"ours": "397.6 us", "theirs": "299.4 us", "ratio": "1.33", "verdict": ""},
        "capture device wait+deliver, size 1 | floor DirectGetImage/1": {"ratio": "0.76"},
        "library extractor over the engine, CPU | floor BM_EngineDirect": {"ratio": "0.91"},
        "open engine extract 320x365, CPU": {"ours": "15.68 ms", "goal": "<= 15 ms",
                                             "verdict": "MISSED"},
        "open engine extract 448x511, CPU | peer BM_Nbis/448/511":
            {"ours": "27.94 ms", "theirs": "38.39 ms", "ratio": "0.73", "verdict": "met"},
        CLEAN_RECALL: {"ours": "0.875", "goal": ">= 0.95", "verdict": "MISSED"},
        "open engine minutiae, clean (40) precision": {"ours": "0.998", "goal": ">= 0.99",
                                                       "verdict": "met"},
        "open engine minutiae, all degraded (200) recall": {"ours": "0.863", "goal": ">= 0.9",
                                                            "verdict": "MISSED"},
        "open engine minutiae, noise 18 (40) recall": {"ours": "0.879", "goal": ""},
        NBIS_RECALL: {"ours": "0.875", "theirs": "0.779", "ratio": "1.12", "verdict": "met"},
        "open engine within 10 px, moved+distorted+partial (40) precision | "
        "peer NBIS (libfprint)": {"ours": "0.993", "theirs": "0.324", "ratio": "3.06"},
        "open engine within 10 px, all degraded (200) ms per image, CPU | "
        "peer NBIS (libfprint)": {"ours": "16.06 ms", "theirs": "20.91 ms", "ratio": "0.77",
                                  "verdict": "met"},
        "open engine repeatability (448x511, 15 deg, 40 fingers)": {"ours": "0.968"},
        "Java innerExtract 320x365, library's own cost (recording engine), CPU | "
        "floor engine direct (extractor_benchmark)": {"ratio": "0.0035", "verdict": "met"},
        NIMAGE: {"ours": "105.6 us", "theirs": "27.14 ms", "ratio": "0.0039", "verdict": "met"},
        "NFRecord.getMinutiae, 255 minutiae | peer decoding in Java": {"ratio": "92.28"},
        EVENTS: {"ours": "565 /s", "theirs": "968 /s", "ratio": "0.58", "verdict": "MISSED"},
        RESIDENT: {"ours": "+77968 KiB", "verdict": "MISSED"},
        "Java scanner latency 352x288, median": {"ours": "167.5 us", "verdict": "met"},
        "XMODEM 16 KiB over a pty | peer BM_XModemLrzsz": {"ours": "30.6 kB/s"},
        MATCHER_EER: {"ours": "0.15 %", "goal": "<= 1 %", "verdict": "met"},
        "matcher FNMR at FMR 0.1 % (24 fingers x 8)": {"goal": "<= 3 %", "verdict": "met"},
        "matcher FNMR at FMR 0.01 % (24 fingers x 8)": {"goal": ""},
        "matcher rank-1 identification among 10000 | plain exhaustive search":
            {"ours": "86.91 %", "theirs": "86.91 %", "ratio": "1.00"},
        MATCHER_PEER: {"ours": "0.00 %", "theirs": "16.67 %", "verdict": "met"},
        "matcher 1:1 comparison, CPU": {"ours": "23.7 us", "goal": "<= 20 us",
                                        "verdict": "MISSED"},
        "matcher identification among 1000, CPU | plain BM_IdentifyExhaustive/1000":
            {"ours": "6.31 ms", "theirs": "24.71 ms", "ratio": "0.26"},
        CURVE: {"ratio": "0.81", "verdict": "met"},
        PACE8: {"ours": "14.9", "theirs": "15", "ratio": "0.99", "verdict": "met"},
        CPU8: {"ours": "431.8 us", "theirs": "412.3 us", "ratio": "1.05", "verdict": "met"},
        "Java scanners 352x288, 4 at once, CPU per image | floor 1 reader": {"goal": ""},
        "Java scanners 352x288, 8 at once, CPU use of one core": {"ours": "5.20 %"},
        "Java scanners 352x288, 8 at once, latency median": {"ours": "201.7 us",
                                                              "verdict": "met"},
    }, [], 0),
    ("readers that fall behind their pace or cost more each as they are added miss",
     both(replace_text("ScannerBench.readers", "slowest reader 14.90 images/s; 431.8",
                       "slowest reader 13.10 images/s; 620.0"),
          replace_text("ScannerBench.readers", "median 201.7 us", "median 1200.0 us")),
     {PACE8: {"ratio": "0.87", "verdict": "MISSED"}, CPU8: {"ratio": "1.50", "verdict": "MISSED"},
      "Java scanners 352x288, 8 at once, latency median": {"ours": "1.20 ms",
                                                            "verdict": "MISSED"}}, [], 0),
    ("a matcher behind libfprint's FNMR misses",
     replace_text("matcher_benchmark", "FMR 0.02500 FNMR 0.00000", "FMR 0.02500 FNMR 0.20000"),
     {MATCHER_PEER: {"ours": "20.00 %", "ratio": "1.20", "verdict": "MISSED"}}, [], 0),
    ("a search costlier per entry in a larger gallery misses",
     edit_json("matcher_benchmark", lambda b, _: b.update(ns_per_entry=7000.0)
               if b["run_name"] == "BM_Identify/3000" else None),
     {CURVE: {"ours": "7000", "ratio": "1.11", "verdict": "MISSED"}}, [], 0),
    ("the matcher without libfprint's trials says so and fails the run",
     both(remove("libfprint_peer.txt"),
          replace_text("matcher_benchmark", "matcher peer libfprint", "matcher peer: none")),
     {"libfprint_peer": {"verdict": "FAILED: no results"},
      "matcher beside libfprint | peer libfprint (bozorth3) (missing)": {"verdict": "no trials"}},
     [MATCHER_PEER], 1),
    ("a program that failed is marked and fails the run",
     write("virdi_benchmark.failed", "exit status 134\nAborted"),
     {"virdi_benchmark": {"ours": "-", "verdict": "FAILED: exit status 134"}}, [], 1),
    ("a harness that timed out", write("ScannerBench.latency.failed", "timed out after 300s"),
     {"ScannerBench.latency": {"verdict": "FAILED: timed out after 300s"}}, [], 1),
    ("a program that left nothing", remove("v100_transport_benchmark.json"),
     {"v100_transport_benchmark": {"verdict": "FAILED: no results"}}, [USB], 1),
    ("a harness that left nothing", remove("NImageBench.txt"),
     {"NImageBench": {"verdict": "FAILED: no results"}}, [NIMAGE], 1),
    ("results cut short", write("virdi_benchmark.json", '{"benchmarks": [{"name": "BM_'),
     {"virdi_benchmark": {"verdict": "FAILED: unreadable results (..."}}, [], 1),
    ("a benchmark that reported an error",
     edit_json("v100_transport_benchmark", lambda b, _: b.update(
         error_occurred=True, error_message="exchange failed")
         if b["run_name"].startswith("BM_ExecuteOverUsbFifos") else None),
     {USB: {"ours": "-", "verdict": "FAILED: exchange failed"}}, [], 1),
    ("a benchmark without a rule is listed on its own",
     add_benchmark({"name": "BM_NewThing/iterations:30", "run_name": "BM_NewThing/iterations:30",
                    "run_type": "iteration", "real_time": 2.5, "cpu_time": 2.5,
                    "time_unit": "ms"}),
     {"virdi_benchmark: BM_NewThing | (no rule)": {"ours": "2.50 ms"}}, [], 0),
    ("the median counts, not the mean",
     edit_json("v100_transport_benchmark", lambda b, _: b.update(
         bytes_per_second=b["bytes_per_second"] * 10)
         if b["run_name"].startswith("BM_ExecuteOverUsbFifos")
         and b.get("aggregate_name") == "mean" else None),
     {USB: {"ratio": "0.61"}}, [], 0),
    ("a rate at its goal is met",
     edit_json("v100_transport_benchmark", lambda b, bs: b.update(
         bytes_per_second=0.8 * median_of(bs, "BM_BareFifoCopy/real_time", "bytes_per_second"))
         if b["run_name"].startswith("BM_ExecuteOverUsbFifos") else None),
     {USB: {"ratio": "0.80", "verdict": "met"}}, [], 0),
    ("a time over its peer misses",
     edit_json("resample_benchmark", lambda b, _: b.update(real_time=2000.0)
               if b["run_name"] == "ResampleArea/0" else None),
     {RESAMPLE: {"ours": "2.00 ms", "ratio": "1.27", "verdict": "MISSED"}}, [], 0),
    ("a quality figure over its goal is met",
     replace_text("extract_benchmark", "  0.998   0.875", "  0.998   0.962"),
     {CLEAN_RECALL: {"ours": "0.962", "verdict": "met"}}, [], 0),
    ("a peer ahead on recall misses",
     replace_text("extract_benchmark", "   17.47   0.645   0.779", "   17.47   0.645   0.900"),
     {NBIS_RECALL: {"theirs": "0.900", "ratio": "0.97", "verdict": "MISSED"}}, [], 0),
    ("an engine benchmark built without its peer says so",
     both(replace_text("extract_benchmark", "   17.47   0.645   0.779    21.49",
                       "   17.47       -       -        -"),
          drop_benchmarks("extract_benchmark", "BM_Nbis/448")),
     {"open engine within 10 px, clean (40) recall | peer NBIS (libfprint) (missing)":
          {"ours": "0.875", "theirs": "-", "verdict": "?"},
      "open engine extract 448x511, CPU | peer BM_Nbis/448/511 (missing)":
          {"theirs": "-", "verdict": "?"}}, [NBIS_RECALL], 0),
    ("events at 0.9 of the plug-in's rate and a flat heap meet their goals",
     both(replace_text("ScannerBench.throughput", "565 events/s", "872 events/s"),
          replace_text("ScannerBench.throughput", "277712 KiB", "200700 KiB")),
     {EVENTS: {"ratio": "0.90", "verdict": "met"}, RESIDENT: {"ours": "+956 KiB",
                                                               "verdict": "met"}}, [], 0),
]


class BenchTableTest(unittest.TestCase):
    def test_cases(self):
        for what, change, expected, absent, status in CASES:
            with self.subTest(what), tempfile.TemporaryDirectory() as tmp:
                folder = pathlib.Path(tmp) / "results"
                shutil.copytree(SAMPLE, folder)
                if change:
                    change(folder)
                rows, got_status, text = table_of(folder)
                self.assertEqual(got_status, status, text)
                for key, cells in expected.items():
                    self.assertIn(key, rows, text)
                    for column, value in cells.items():
                        got = rows[key][column]
                        if value.endswith("..."):  # the start of a message
                            got = got[:len(value) - 3] + "..."
                        self.assertEqual(got, value, f"{key}: {column}")
                    # What the rows say is what is printed.
                    self.assertIn(rows[key]["figure"], text)
                for key in absent:
                    self.assertNotIn(key, rows)

    def test_the_stored_run_has_every_source(self):
        results = bench_table.Results(SAMPLE)
        self.assertEqual([r.figure for r in bench_table.failure_rows(results)], [])
        rows = bench_table.google_rows(results)
        self.assertEqual([r.figure for r in rows if r.peer == "(no rule)"], [])

    def test_goal_bounds(self):
        cases = [
            (bench_table.at_most(1.0), 5.0, 1.0, True),
            (bench_table.at_most(1.0), 5.0, 1.01, False),
            (bench_table.at_least(0.8), 5.0, 0.8, True),
            (bench_table.at_least(0.8), 5.0, 0.79, False),
            (bench_table.Goal("value", "<", 1e6, ""), 999e3, None, True),
            (bench_table.Goal("value", "<", 1e6, ""), 1e6, None, False),
            (bench_table.at_least(0.8), 5.0, None, None),
        ]
        for goal, value, ratio, met in cases:
            with self.subTest(goal=goal, value=value, ratio=ratio):
                self.assertEqual(goal.met(value, ratio), met)

    def test_missing_folder(self):
        with contextlib.redirect_stderr(io.StringIO()):
            self.assertEqual(bench_table.main(["bench_table.py", "/nonexistent/results"]), 2)


if __name__ == "__main__":
    unittest.main()
