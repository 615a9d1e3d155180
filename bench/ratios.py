#!/usr/bin/env python3
"""Runs pairs of benchmarks in alternating rounds and prints each pair's ratio per round
and over the rounds.

On a machine shared with other work the times of one benchmark drift by a factor of two
within minutes; a ratio taken from two runs next to each other drifts much less. Each
round runs every benchmark of a program named below once (Google Benchmark picks the
iteration count), one after the other; the ratio of a round compares neighbours.

A ratio is ours / (baseline x scale). With a scale of 1 it compares two ways of doing
the same work; with a scale of 16 it compares the time per unit of a reply 16 times
the size of another (linear cost gives 1).

Usage: ratios.py BENCH_DIR [rounds] [program...]
  BENCH_DIR  the folder of the benchmark programs (build-bench/bench; a program's path
             is taken as its folder)
  program    zqblog_bench, zqblog_scale_bench, zqblog_share_bench,
             zqblog_inflight_bench: only these
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile

# program: [(ours, baseline, which time, scale)]. "cpu" is the benchmark's CPU time
# (process CPU time for the end-to-end ones, which measure every thread), "real" the
# wall time.
PAIRS = {
    "zqblog_bench": [
        ("BM_Host_GetResourceList_Fresh/process_time/real_time",
         "BM_Baseline_FetchAndParse/process_time/real_time", "cpu", 1),
        ("BM_Host_GetResourceList_Fresh/process_time/real_time",
         "BM_Baseline_FetchAndParse/process_time/real_time", "real", 1),
        ("BM_Host_GetResourceList_NotModified/process_time/real_time",
         "BM_Baseline_FetchAndParse/process_time/real_time", "cpu", 1),
        ("BM_EntityRemoval_Library/1048576", "BM_EntityRemoval_MemchrBaseline/1048576",
         "cpu", 1),
        ("BM_EntityRemoval_Library/2097152", "BM_EntityRemoval_MemchrBaseline/2097152",
         "cpu", 1),
        ("BM_EntityRemoval_Library/8388608", "BM_EntityRemoval_MemchrBaseline/8388608",
         "cpu", 1),
        # The change decoder against one read of its payload, at the largest size.
        ("BM_Decode_CidData/1000000", "BM_Parse_CidData/1000000", "cpu", 1),
        ("BM_Decode_AlbumList/10000", "BM_Parse_AlbumList/10000", "cpu", 1),
        ("BM_Decode_ResourceList/1010", "BM_Parse_ResourceList/1010", "cpu", 1),
        # ... and against the same read keeping its items in plain containers.
        ("BM_Decode_CidData/1000000", "BM_Build_CidData/1000000", "cpu", 1),
        ("BM_Decode_AlbumList/10000", "BM_Build_AlbumList/10000", "cpu", 1),
        ("BM_Decode_ResourceList/1010", "BM_Build_ResourceList/1010", "cpu", 1),
        # Its CPU time per unit at 16x against 1x.
        ("BM_Decode_CidData/1000000", "BM_Decode_CidData/62500", "cpu", 16),
        ("BM_Decode_AlbumList/10000", "BM_Decode_AlbumList/625", "cpu", 16),
        ("BM_Decode_ResourceList/1010", "BM_Decode_ResourceList/63", "cpu", 16),
    ],
    "zqblog_scale_bench": [
        # Against the floor, at the largest size: this process's CPU (the host's own
        # work; the service runs in a process of its own) and the wall time.
        ("BM_Scale_CidDat/1000000/process_time/real_time",
         "BM_Floor_CidDat/1000000/process_time/real_time", "cpu", 1),
        ("BM_Scale_CidDat/1000000/process_time/real_time",
         "BM_Floor_CidDat/1000000/process_time/real_time", "real", 1),
        ("BM_Scale_AlbumList/10000/process_time/real_time",
         "BM_Floor_AlbumList/10000/process_time/real_time", "cpu", 1),
        ("BM_Scale_AlbumList/10000/process_time/real_time",
         "BM_Floor_AlbumList/10000/process_time/real_time", "real", 1),
        ("BM_Scale_ResourceList/1010/process_time/real_time",
         "BM_Floor_ResourceList/1010/process_time/real_time", "cpu", 1),
        ("BM_Scale_ResourceList/1010/process_time/real_time",
         "BM_Floor_ResourceList/1010/process_time/real_time", "real", 1),
        # CPU time per unit at 16x against 1x.
        ("BM_Scale_CidDat/1000000/process_time/real_time",
         "BM_Scale_CidDat/62500/process_time/real_time", "cpu", 16),
        ("BM_Scale_AlbumList/10000/process_time/real_time",
         "BM_Scale_AlbumList/625/process_time/real_time", "cpu", 16),
        ("BM_Scale_ResourceList/1010/process_time/real_time",
         "BM_Scale_ResourceList/63/process_time/real_time", "cpu", 16),
        ("BM_Floor_CidDat/1000000/process_time/real_time",
         "BM_Floor_CidDat/62500/process_time/real_time", "cpu", 16),
        ("BM_Floor_AlbumList/10000/process_time/real_time",
         "BM_Floor_AlbumList/625/process_time/real_time", "cpu", 16),
        ("BM_Floor_ResourceList/1010/process_time/real_time",
         "BM_Floor_ResourceList/63/process_time/real_time", "cpu", 16),
    ],
    "zqblog_inflight_bench": [
        # 1,000 comment counts in flight through the host against curl --parallel on the
        # same requests: wall time (curl's CPU is another process's).
        ("BM_InFlight_Comments/iterations:10/process_time/real_time",
         "BM_Curl_Comments/iterations:10/real_time", "real", 1),
    ],
    "zqblog_share_bench": [
        ("BM_Share_Write/forwarded:1/real_time", "BM_Share_Write/forwarded:0/real_time",
         "real", 1),
        ("BM_Share_ResourceList/forwarded:1/real_time",
         "BM_Share_ResourceList/forwarded:0/real_time", "real", 1),
        ("BM_Share_Broadcast/watchers:8/real_time", "BM_Share_Broadcast/watchers:0/real_time",
         "real", 1),
    ],
}


def run_once(binary, names):
    pattern = "^(" + "|".join(sorted(set(n.split("/")[0] for n in names))) + ")(/|$)"
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


def report(program, results):
    for ours, base, kind, scale in PAIRS[program]:
        if ours not in results[0] or base not in results[0]:
            print("%s: not built" % ours)
            continue
        ratios = [r[ours][kind] / (r[base][kind] * scale) for r in results]
        ours_t = [r[ours][kind] for r in results]
        base_t = [r[base][kind] for r in results]
        unit = results[0][ours]["unit"]
        per = " per unit, x%d" % scale if scale != 1 else ""
        print("%s / %s (%s time, %s%s)" % (ours, base, kind, unit, per))
        print("  ours     %s" % " ".join("%.3g" % t for t in ours_t))
        print("  baseline %s" % " ".join("%.3g" % t for t in base_t))
        print("  ratio    %s   median %.2f  min %.2f  max %.2f" % (
            " ".join("%.2f" % x for x in ratios), statistics.median(ratios), min(ratios),
            max(ratios)))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    if os.path.isfile(folder):
        folder = os.path.dirname(folder)
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    programs = sys.argv[3:] or list(PAIRS)
    for program in programs:
        binary = os.path.join(folder, program)
        if program not in PAIRS or not os.path.isfile(binary):
            print("%s: not built" % program)
            continue
        names = [n for pair in PAIRS[program] for n in pair[:2]]
        results = [run_once(binary, names) for _ in range(rounds)]
        print("== %s, %d rounds" % (program, rounds))
        report(program, results)


if __name__ == "__main__":
    main()
