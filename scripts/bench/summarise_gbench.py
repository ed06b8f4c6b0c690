#!/usr/bin/env python3
"""Median and min-max of every benchmark in a Google Benchmark JSON file.

usage: summarise_gbench.py RESULTS.json [BASELINE]

Every repetition counts as one sample (run the benchmark with
--benchmark_repetitions=N). With BASELINE (a benchmark name without its
argument, such as BM_PlainLoop), each line also shows its median divided by
the median of the baseline with the same argument.
"""
import json
import statistics
import sys


def samples(path):
    runs = json.load(open(path))["benchmarks"]
    grouped = {}
    for run in runs:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        seconds = run["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run["time_unit"]]
        grouped.setdefault(run["run_name"], []).append((seconds, run))
    return grouped


def split_name(name):
    head, _, argument = name.partition("/")
    return head, argument


def main():
    grouped = samples(sys.argv[1])
    baseline = sys.argv[2] if len(sys.argv) > 2 else None
    medians = {name: statistics.median(t for t, _ in runs) for name, runs in grouped.items()}
    print("| benchmark | runs | median ms | min-max ms | MB/s median |%s" %
          (" / %s |" % baseline if baseline else ""))
    print("|---|---:|---:|---:|---:|%s" % ("---:|" if baseline else ""))
    for name, runs in grouped.items():
        times = [t for t, _ in runs]
        rates = [r["MB/s"] for _, r in runs if "MB/s" in r]
        line = "| %s | %d | %.1f | %.1f-%.1f | %s |" % (
            name, len(times), medians[name] * 1e3, min(times) * 1e3, max(times) * 1e3,
            "%.0f" % statistics.median(rates) if rates else "")
        if baseline:
            head, argument = split_name(name)
            base = baseline + ("/" + argument if argument else "")
            line += " %.2fx |" % (medians[name] / medians[base]) if base in medians else "  |"
        print(line)


if __name__ == "__main__":
    main()
