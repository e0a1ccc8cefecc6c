#!/usr/bin/env python3
"""Whole -stat runs with -plot, the picture checked by a real XML parser.

    check_stats_svg.py <tauspan binary>
"""
import math
import os
import random
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
tauspan = sys.argv[1]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, cwd):
    return subprocess.run([tauspan] + args, cwd=cwd, capture_output=True)


def tables(stdout):
    """{statistic: [(tau, min_dev, dev, max_dev), ...]} from the console."""
    out, name = {}, None
    for line in stdout.decode().splitlines():
        if line.endswith(")") and "(" in line:
            name = line[line.rindex("(") + 1:-1]
            out[name] = []
        f = line.split("\t")
        if name and len(f) == 7 and f[0].isdigit():
            out[name].append(tuple(float(f[k]) for k in (1, 4, 5, 6)))
    return out


def with_class(svg, cls):
    return [e for e in svg.iter() if e.get("class") == cls]


def decades(svg, cls):
    return [int(e.find(NS + "tspan").text) for e in with_class(svg, cls)]


with tempfile.TemporaryDirectory() as d:
    random.seed(7)
    x = 0.0
    with open(os.path.join(d, "p.dat"), "w") as f:
        for i in range(2000):
            f.write(f"{i}\t{x!r}\n")
            x += random.gauss(0, 1e-9)
    r = run(["-stat", "oadev,mdev,hdev", "-phase", "-plot", "p.dat"], d)
    check(r.returncode == 0, "run status")
    check(r.stdout.endswith(b"Output: p_hdev.dat\nPlot: p_oadev.svg\n"), "plot line last")
    svg = ET.parse(os.path.join(d, "p_oadev.svg")).getroot()
    t = tables(r.stdout)
    groups = with_class(svg, "statistic")
    check([g.get("id") for g in groups] == ["oadev", "mdev", "hdev"], "a curve per statistic")
    for g in groups:
        rows = t[g.get("id")]
        check(len(g.findall(f".//{NS}circle")) == len(rows) > 5, g.get("id") + ": a point per row")
        bars = [row for row in rows if row[1] > 0 and row[3] > 0]
        lines = g.findall(f".//{NS}g[@class='error-bars']/{NS}line")
        check(len(lines) == 3 * len(bars) > 0, g.get("id") + ": a bar with two ends per interval")
        for line in lines[::3]:
            check(float(line.get("y1")) > float(line.get("y2")), "bar runs from min up to max")
    check([e.text for e in with_class(svg, "legend-name")] == ["oadev", "mdev", "hdev"], "legend")
    check([e.text for e in with_class(svg, "y-title")] == ["Deviation"], "y title")
    xs, ys = decades(svg, "x-label"), decades(svg, "y-label")
    rows = [row for name in t for row in t[name]]
    check(10 ** min(xs) <= min(r[0] for r in rows) and max(r[0] for r in rows) <= 10 ** max(xs),
          "x decades cover the taus")
    check(10 ** min(ys) <= min(r[1] for r in rows) and max(r[3] for r in rows) <= 10 ** max(ys),
          "y decades cover the bars")
    check("p.dat" in with_class(svg, "title")[0].text, "title names the data file")

    # A data file named *.svg: the picture never takes a result's name.
    os.rename(os.path.join(d, "p.dat"), os.path.join(d, "a.svg"))
    r = run(["-stat", "oadev", "-phase", "-plot", "a.svg"], d)
    check(r.returncode == 0, "a.svg: status")
    with open(os.path.join(d, "a_oadev.svg")) as f:
        check(f.read().startswith("#Overlapping Allan deviation (oadev) of a.svg\n"), "a.svg: result")
    ET.parse(os.path.join(d, "a_oadev_plot.svg"))
    check(r.stdout.endswith(b"Plot: a_oadev_plot.svg\n"), "a.svg: plot line")

    # Deviations of 0 cannot be drawn: no picture, a message, status 1.
    with open(os.path.join(d, "flat.dat"), "w") as f:
        f.writelines(f"{i}\t7\n" for i in range(30))
    r = run(["-stat", "adev,oadev", "-plot", "flat.dat"], d)
    check(r.returncode == 1, "flat: status")
    check(r.stderr == b"tauspan: no plot for 'flat.dat': no tau with a positive, finite "
          b"deviation\n", "flat: message")
    check(not os.path.exists(os.path.join(d, "flat_adev.svg")), "flat: no picture")
    check(os.path.exists(os.path.join(d, "flat_oadev.dat")), "flat: results kept")
    check(not [n for n in os.listdir(d) if ".tmp-" in n], "no temporary files")

print("ok" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)
