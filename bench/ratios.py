#!/usr/bin/env python3
"""Runs pairs of benchmarks of zqblog_bench in alternating rounds and prints each
pair's ratio (ours / baseline) per round and over the rounds.

On a machine shared with other work the times of one benchmark drift by a factor of two
within minutes; a ratio taken from two runs next to each other drifts much less. Each
round runs every benchmark named below once (Google Benchmark picks the iteration
count), one after the other; the ratio of a round compares neighbours.

Usage: ratios.py path/to/zqblog_bench [rounds]
"""
import json
import statistics
import subprocess
import sys
import tempfile

# (ours, baseline, which time): "cpu" is the benchmark's CPU time (process CPU time for
# the end-to-end ones, which measure every thread), "real" the wall time.
PAIRS = [
    ("BM_Host_GetResourceList_Fresh/process_time/real_time",
     "BM_Baseline_FetchAndParse/process_time/real_time", "cpu"),
    ("BM_Host_GetResourceList_Fresh/process_time/real_time",
     "BM_Baseline_FetchAndParse/process_time/real_time", "real"),
    ("BM_Host_GetResourceList_NotModified/process_time/real_time",
     "BM_Baseline_FetchAndParse/process_time/real_time", "cpu"),
    ("BM_EntityRemoval_Library/1048576", "BM_EntityRemoval_MemchrBaseline/1048576", "cpu"),
    ("BM_EntityRemoval_Library/2097152", "BM_EntityRemoval_MemchrBaseline/2097152", "cpu"),
    ("BM_EntityRemoval_Library/8388608", "BM_EntityRemoval_MemchrBaseline/8388608", "cpu"),
]


def run_once(binary, names):
    pattern = "^(" + "|".join(n.split("/")[0] for n in sorted(set(names))) + ")(/|$)"
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([binary, "--benchmark_filter=" + pattern,
                        "--benchmark_out=" + out.name, "--benchmark_out_format=json"],
                       check=True, stdout=subprocess.DEVNULL)
        report = json.load(open(out.name))
    times = {}
    for b in report["benchmarks"]:
        if b.get("error_occurred"):
            sys.exit("benchmark failed: %s: %s" % (b["name"], b.get("error_message")))
        times[b["name"]] = {"cpu": b["cpu_time"], "real": b["real_time"],
                            "unit": b["time_unit"]}
    return times


def main():
    binary = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    names = [n for pair in PAIRS for n in pair[:2]]
    results = [run_once(binary, names) for _ in range(rounds)]
    for ours, base, kind in PAIRS:
        if ours not in results[0] or base not in results[0]:
            print("%s: not built" % ours)
            continue
        ratios = [r[ours][kind] / r[base][kind] for r in results]
        ours_t = [r[ours][kind] for r in results]
        base_t = [r[base][kind] for r in results]
        unit = results[0][ours]["unit"]
        print("%s / %s (%s time, %s)" % (ours, base, kind, unit))
        print("  ours     %s" % " ".join("%.3g" % t for t in ours_t))
        print("  baseline %s" % " ".join("%.3g" % t for t in base_t))
        print("  ratio    %s   median %.2f  min %.2f  max %.2f" % (
            " ".join("%.2f" % x for x in ratios), statistics.median(ratios), min(ratios),
            max(ratios)))


if __name__ == "__main__":
    main()
