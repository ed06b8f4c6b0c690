#!/usr/bin/env python3
"""Draws a run of peers.sh as a chart: wall time against staged files,
log-log, one line per runner (the medians), the checker alone as the floor.

usage: peers_chart.py SCRATCH OUT.svg COUNT...

Reads SCRATCH/peers-COUNT.json (written by interleave.py) and draws with
gnuplot, which peers.sh installs when it is missing.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile


def main():
    scratch, out, counts = sys.argv[1], sys.argv[2], [int(c) for c in sys.argv[3:]]
    medians = {}  # runner -> [(count, median ms)]
    for count in counts:
        with open(os.path.join(scratch, "peers-%d.json" % count)) as f:
            for result in json.load(f):
                medians.setdefault(result["name"], []).append(
                    (count, statistics.median(result["wall"]) * 1e3))
    with tempfile.TemporaryDirectory() as folder:
        plots = []
        for index, (name, points) in enumerate(medians.items()):
            data = os.path.join(folder, "%d.dat" % index)
            with open(data, "w") as f:
                f.writelines("%d %.3f\n" % point for point in points)
            style = "dashtype 2 lw 2" if name == "checker alone" else "lw 2 pt 7"
            plots.append("'%s' using 1:2 with linespoints %s title '%s'" % (data, style, name))
        script = "\n".join([
            "set terminal svg size 840,480 dynamic font 'sans,12' background rgb 'white'",
            "set output '%s'" % out,
            "set logscale xy",
            "set xlabel 'staged files'",
            "set ylabel 'wall time per commit (ms, median)'",
            "set xtics (%s)" % ", ".join("'%d' %d" % (c, c) for c in counts),
            "set grid",
            "set key outside right top",
            "set xrange [%d:%d]" % (min(counts) * 0.7, max(counts) * 1.4),
            "set title 'Whole pre-commit run, one no-op checker'",
            "plot " + ", ".join(plots),
        ])
        subprocess.run(["gnuplot"], input=script, text=True, check=True)


if __name__ == "__main__":
    main()
