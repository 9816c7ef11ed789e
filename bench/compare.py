#!/usr/bin/env python3
"""Runs two builds of the benchmark side by side, in turns, and prints each benchmark's median
time in both and their ratio. Taking turns keeps the comparison fair on a machine whose speed
drifts: each round runs both programs one after the other.

Usage: compare.py OLD_BENCH NEW_BENCH [ROUNDS] [FILTER]
(`make bench-compare BASE=<commit>` builds the old one and runs this.)
"""
import json
import statistics
import subprocess
import sys


def run(program, pattern):
    output = subprocess.run(
        [program, "--benchmark_format=json", "--benchmark_min_time=0.2",
         "--benchmark_filter=" + pattern],
        check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    times = {}
    for b in json.loads(output)["benchmarks"]:
        if b.get("run_type") == "aggregate":
            # A benchmark of repetitions (the save, in wall time): its median.
            if b["aggregate_name"] == "median":
                times[b["run_name"]] = b["real_time"] * scale[b["time_unit"]]
        else:
            times[b["name"]] = b["cpu_time"] * scale[b["time_unit"]]
    return times


def main():
    old, new = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    pattern = sys.argv[4] if len(sys.argv) > 4 else "FullGame|Cp932|Say|Save"
    times = {}
    for _ in range(rounds):
        old_round, new_round = run(old, pattern), run(new, pattern)
        for name, new_time in new_round.items():
            if name in old_round:  # a benchmark the old build has too
                times.setdefault(name, []).append((old_round[name], new_time))
    # Medians of the times, and of the ratios of the two runs of each round.
    print("%-14s %13s %13s %7s" % ("benchmark", "old (ns)", "new (ns)", "ratio"))
    for name, pairs in times.items():
        print("%-14s %13.1f %13.1f %6.2fx" % (
            name, statistics.median(old for old, _ in pairs),
            statistics.median(new for _, new in pairs),
            statistics.median(old / new for old, new in pairs)))


if __name__ == "__main__":
    main()
